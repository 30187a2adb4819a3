#include "accounts/AdvancedSettings.h"

#include "platform/Log.h"
#include "store/AdoConnection.h"
#include "store/AdoRecordSet.h"
#include "store/Schema.h"

#include <mutex>

namespace {

std::mutex g_liveMutex;
CAdvancedSettings g_live;

} // namespace

void CAdvancedSettings::Normalise()
{
    quietFrom = qBound(0, quietFrom, kMinutesPerDay - 1);
    quietTo = qBound(0, quietTo, kMinutesPerDay - 1);
    budget = qBound(0, budget, kBudgetMax);
    onceDays = qBound(1, onceDays, kDaysMax);
    watchList = ParseWatchList(watchList.join(u'\n'));
    keepDays = keepDays <= 0 ? 0 : qBound(kKeepDaysMin, keepDays, kKeepDaysMax);
}

QStringList CAdvancedSettings::ParseWatchList(const QString& text)
{
    QStringList names;
    for (const QString& line : text.split(u'\n')) {
        const QString name = line.trimmed();
        if (!name.isEmpty() && !names.contains(name))
            names.append(name);
    }
    return names;
}

bool CAdvancedSettings::IsWatched(const QString& visitor) const
{
    return watchList.contains(visitor);
}

bool ReadAdvancedSettings(CAdvancedSettings& settings)
{
    if (!g_pConnection)
        return false;
    CAdoRecordSet rs(g_pConnection);
    if (!rs.Open(QStringLiteral("select [quieton],[quietfrom],[quietto],[burston],[budgeton],[budget],[onceon],"
                                "[oncedays],[watchlist],[keepdays] from [advsetting] where [id] = 1")) ||
        rs.IsEOF()) {
        qCWarning(LogStore) << "the advanced settings row cannot be read; the switches stay as they are";
        return false;
    }
    auto switchAt = [&rs](int position) { return VariantToInt(rs.GetValue(position)) != 0; };
    CAdvancedSettings read;
    read.quietHours = switchAt(0);
    rs.GetCollectInt(1, read.quietFrom);
    rs.GetCollectInt(2, read.quietTo);
    read.bursts = switchAt(3);
    read.dailyBudget = switchAt(4);
    rs.GetCollectInt(5, read.budget);
    read.oncePerPerson = switchAt(6);
    rs.GetCollectInt(7, read.onceDays);
    QString watch;
    rs.GetCollect(8, watch);
    read.watchList = CAdvancedSettings::ParseWatchList(watch);
    rs.GetCollectInt(9, read.keepDays);
    read.Normalise();
    settings = read;
    return true;
}

bool WriteAdvancedSettings(const CAdvancedSettings& settings)
{
    if (!g_pConnection)
        return false;
    CAdvancedSettings s = settings;
    s.Normalise();
    auto flag = [](bool on) { return on ? QStringLiteral("1") : QStringLiteral("0"); };
    // A row lost since start-up is made again; the update alone would change nothing and say true.
    g_pConnection->Execute(AdvSettingTableStatement());
    g_pConnection->Execute(AdvSettingRowStatement());
    bool written = g_pConnection->Execute(
        QStringLiteral("update [advsetting] set [quieton] = %1, [quietfrom] = %2, [quietto] = %3, [burston] = %4, "
                       "[budgeton] = %5, [budget] = %6, [onceon] = %7, [oncedays] = %8, [watchlist] = '%9', "
                       "[keepdays] = %10 where [id] = 1")
            .arg(flag(s.quietHours), QString::number(s.quietFrom), QString::number(s.quietTo), flag(s.bursts),
                 flag(s.dailyBudget), QString::number(s.budget), flag(s.oncePerPerson), QString::number(s.onceDays),
                 SqlText(s.watchList.join(u'\n')), QString::number(s.keepDays)));
    CAdvancedSettings stored;
    written = written && ReadAdvancedSettings(stored) && stored == s;
    if (!written)
        qCWarning(LogStore) << "the advanced settings could not be stored";
    return written;
}

CAdvancedSettings CurrentAdvancedSettings()
{
    std::lock_guard lock(g_liveMutex);
    return g_live;
}

void PublishAdvancedSettings(const CAdvancedSettings& settings)
{
    CAdvancedSettings s = settings;
    s.Normalise();
    std::lock_guard lock(g_liveMutex);
    g_live = s;
}

bool LoadAdvancedSettings()
{
    CAdvancedSettings read;
    if (!ReadAdvancedSettings(read))
        return false;
    PublishAdvancedSettings(read);
    return true;
}
