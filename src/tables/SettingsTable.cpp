#include "tables/SettingsTable.h"

#include "platform/Clock.h"
#include "platform/Log.h"
#include "store/AdoConnection.h"
#include "store/AdoRecordSet.h"
#include "store/Columns.h"
#include "store/Schema.h"
#include "store/Variant.h"

namespace {

QString Flag(bool on)
{
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

// Switches count as on when nonzero, whatever type the column carries.
bool SwitchAt(CAdoRecordSet& rs, int position)
{
    return VariantToInt(rs.GetValue(position)) != 0;
}

} // namespace

CAdoConnection* CSettingsTable::Connection() const
{
    return m_connection ? m_connection : g_pConnection;
}

CAdoConnection* CSettingsTable::TeamConnection() const
{
    CAdoConnection* connection = Connection();
    return connection && connection->IsTeamStore() ? connection : nullptr;
}

bool CSettingsTable::ReadSystem(CSystemSettings& settings) const
{
    CAdoConnection* connection = Connection();
    if (!connection)
        return false;
    CAdoRecordSet rs(connection);
    if (!rs.Open(QStringLiteral("select * from [sysseting] where [id] = 1")) || rs.IsEOF()) {
        qCWarning(LogStore) << "the settings row cannot be read; the values stay as they are";
        return false;
    }
    CSystemSettings read;
    read.autorun = SwitchAt(rs, SettingsColumn::kAutorun) ? 1 : 0;
    read.clienttip = SwitchAt(rs, SettingsColumn::kClientTip) ? 1 : 0;
    rs.GetCollectInt(SettingsColumn::kReflashTime, read.reflashtime);
    rs.GetCollectInt(SettingsColumn::kSendStepTime, read.sendsteptime);
    read.guesttip = SwitchAt(rs, SettingsColumn::kGuestTip) ? 1 : 0;
    read.playsound = SwitchAt(rs, SettingsColumn::kPlaySound) ? 1 : 0;
    RaiseToMinimum(read);
    settings = read;
    return true;
}

QString CSettingsTable::SaveSystemSql(const CSystemSettings& s)
{
    return QStringLiteral("update [sysseting] set [autorun] = %1 ,[clienttip] = %2,[reflashtime] = %3,"
                          "[sendsteptime] = %4,[autosendname] = '%5',[hiedition] = %6,[guesttip] = %7 , "
                          "[playsound] = %8 where [id] = 1")
        .arg(QString::number(s.autorun), QString::number(s.clienttip), QString::number(s.reflashtime),
             QString::number(s.sendsteptime), QLatin1String(SystemDefault::kAutoSendName),
             QString::number(SystemDefault::kHiEdition), QString::number(s.guesttip), QString::number(s.playsound));
}

bool CSettingsTable::WriteSystem(const CSystemSettings& settings) const
{
    CAdoConnection* connection = Connection();
    if (!connection)
        return false;
    const QString save = SaveSystemSql(settings);
    const int changed = connection->ExecuteChanges(save);
    if (changed != 0)
        return changed > 0;
    qCWarning(LogStore) << "settings row missing; created again";
    return connection->Execute(SettingsRowStatement()) && connection->ExecuteChanges(save) > 0;
}

bool CSettingsTable::ReadAdvanced(CAdvancedSettings& settings) const
{
    CAdoConnection* connection = Connection();
    if (!connection)
        return false;
    CAdoRecordSet rs(connection);
    if (!rs.Open(QStringLiteral("select [quieton],[quietfrom],[quietto],[burston],[budgeton],[budget],[onceon],"
                                "[oncedays],[watchlist],[keepdays] from [advsetting] where [id] = 1")) ||
        rs.IsEOF()) {
        qCWarning(LogStore) << "the advanced settings row cannot be read; the switches stay as they are";
        return false;
    }
    CAdvancedSettings read;
    read.quietHours = SwitchAt(rs, 0);
    rs.GetCollectInt(1, read.quietFrom);
    rs.GetCollectInt(2, read.quietTo);
    read.bursts = SwitchAt(rs, 3);
    read.dailyBudget = SwitchAt(rs, 4);
    rs.GetCollectInt(5, read.budget);
    read.oncePerPerson = SwitchAt(rs, 6);
    rs.GetCollectInt(7, read.onceDays);
    QString watch;
    rs.GetCollect(8, watch);
    read.watchList = CAdvancedSettings::ParseWatchList(watch);
    rs.GetCollectInt(9, read.keepDays);
    read.Normalise();
    settings = read;
    return true;
}

bool CSettingsTable::WriteAdvanced(const CAdvancedSettings& settings) const
{
    CAdoConnection* connection = Connection();
    if (!connection)
        return false;
    CAdvancedSettings s = settings;
    s.Normalise();
    // A row lost since start-up is made again; the update alone would change nothing and say true.
    connection->Execute(AdvSettingTableStatement());
    connection->Execute(AdvSettingRowStatement());
    bool written = connection->Execute(
        QStringLiteral("update [advsetting] set [quieton] = %1, [quietfrom] = %2, [quietto] = %3, [burston] = %4, "
                       "[budgeton] = %5, [budget] = %6, [onceon] = %7, [oncedays] = %8, [watchlist] = '%9', "
                       "[keepdays] = %10 where [id] = 1")
            .arg(Flag(s.quietHours), QString::number(s.quietFrom), QString::number(s.quietTo), Flag(s.bursts),
                 Flag(s.dailyBudget), QString::number(s.budget), Flag(s.oncePerPerson), QString::number(s.onceDays),
                 SqlText(s.watchList.join(u'\n')), QString::number(s.keepDays)));
    CAdvancedSettings stored;
    written = written && ReadAdvanced(stored) && stored == s;
    if (!written)
        qCWarning(LogStore) << "the advanced settings could not be stored";
    return written;
}

QStringList CSettingsTable::ReadGreetShops(const QString& machine, bool* ok) const
{
    if (ok)
        *ok = false;
    CAdoConnection* connection = TeamConnection();
    if (!connection)
        return {};
    CAdoRecordSet rs(connection);
    if (!rs.Open(QStringLiteral("select [greetshops] from [machine] where [name] = '%1'").arg(SqlText(machine)))) {
        qCWarning(LogStore) << "the shops this machine greets for could not be read";
        return {};
    }
    QString shops;
    if (!rs.IsEOF())
        rs.GetCollect(0, shops);
    rs.Close();
    if (ok)
        *ok = true;
    return shops.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool CSettingsTable::WriteGreetShops(const QString& machine, const QStringList& shops) const
{
    CAdoConnection* connection = TeamConnection();
    if (!connection)
        return false;
    const QString now = SqlText(StoreTimeText(Clock().NowMs()));
    const bool written = connection->Execute(
        QStringLiteral("insert into [machine] ([name], [greetshops], [lastseen]) values ('%1', '%2', '%3') "
                       "on conflict ([name]) do update set [greetshops] = excluded.[greetshops], "
                       "[lastseen] = excluded.[lastseen]")
            .arg(SqlText(machine), SqlText(shops.join(QLatin1Char('\n'))), now));
    if (!written)
        qCWarning(LogStore) << "the shops this machine greets for were not stored";
    return written;
}

bool CSettingsTable::TouchMachine(const QString& machine) const
{
    CAdoConnection* connection = TeamConnection();
    if (!connection)
        return false;
    const QString now = SqlText(StoreTimeText(Clock().NowMs()));
    return connection->Execute(QStringLiteral("insert into [machine] ([name], [greetshops], [lastseen]) values "
                                              "('%1', '', '%2') on conflict ([name]) do update set "
                                              "[lastseen] = excluded.[lastseen]")
                                   .arg(SqlText(machine), now));
}
