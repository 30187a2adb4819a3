#include "accounts/SystemSettings.h"

#include "accounts/LiveSettings.h"
#include "platform/Log.h"
#include "store/AdoConnection.h"
#include "store/AdoRecordSet.h"
#include "store/Columns.h"
#include "store/Schema.h"

void RaiseToMinimum(CSystemSettings& settings)
{
    if (settings.reflashtime < kRefreshMin)
        settings.reflashtime = kRefreshMin;
    if (settings.sendsteptime < kSendMin)
        settings.sendsteptime = kSendMin;
}

bool ReadSystemSettings(CSystemSettings& settings)
{
    if (!g_pConnection)
        return false;
    CAdoRecordSet rs(g_pConnection);
    if (!rs.Open(QStringLiteral("select * from [sysseting] where [id] = 1")) || rs.IsEOF())
        return false;
    // Switches count as on when nonzero, whatever type the column carries.
    auto switchAt = [&rs](int position) { return VariantToInt(rs.GetValue(position)) != 0 ? 1 : 0; };
    CSystemSettings read;
    read.autorun = switchAt(SettingsColumn::kAutorun);
    read.clienttip = switchAt(SettingsColumn::kClientTip);
    rs.GetCollectInt(SettingsColumn::kReflashTime, read.reflashtime);
    rs.GetCollectInt(SettingsColumn::kSendStepTime, read.sendsteptime);
    read.guesttip = switchAt(SettingsColumn::kGuestTip);
    read.playsound = switchAt(SettingsColumn::kPlaySound);
    RaiseToMinimum(read);
    settings = read;
    return true;
}

QString SaveSystemSettingsSql(const CSystemSettings& s)
{
    return QStringLiteral("update [sysseting] set [autorun] = %1 ,[clienttip] = %2,[reflashtime] = %3,"
                          "[sendsteptime] = %4,[autosendname] = '%5',[hiedition] = %6,[guesttip] = %7 , "
                          "[playsound] = %8 where [id] = 1")
        .arg(QString::number(s.autorun), QString::number(s.clienttip), QString::number(s.reflashtime),
             QString::number(s.sendsteptime), QStringLiteral("NULL"), QString::number(0), QString::number(s.guesttip),
             QString::number(s.playsound));
}

bool WriteSystemSettings(const CSystemSettings& settings)
{
    if (!g_pConnection)
        return false;
    const QString save = SaveSystemSettingsSql(settings);
    const int changed = g_pConnection->ExecuteChanges(save);
    if (changed != 0)
        return changed > 0;
    // The row is gone (an old or hand-edited store): made again, then saved.
    qCWarning(LogStore) << "settings row missing; created again";
    return g_pConnection->Execute(SettingsRowStatement()) && g_pConnection->ExecuteChanges(save) > 0;
}

void PublishLiveSettings(const CSystemSettings& settings)
{
    CLiveSettings& live = LiveSettings();
    live.autorun = settings.autorun;
    live.clienttip = settings.clienttip;
    live.reflashtime = qMax(settings.reflashtime, kRefreshMin);
    live.sendsteptime = qMax(settings.sendsteptime, kSendMin);
    live.guesttip = settings.guesttip;
    live.playsound = settings.playsound;
}

CSystemSettings LiveSystemSettings()
{
    const CLiveSettings& live = LiveSettings();
    CSystemSettings settings;
    settings.autorun = live.autorun;
    settings.clienttip = live.clienttip;
    settings.reflashtime = live.reflashtime;
    settings.sendsteptime = live.sendsteptime;
    settings.guesttip = live.guesttip;
    settings.playsound = live.playsound;
    return settings;
}
