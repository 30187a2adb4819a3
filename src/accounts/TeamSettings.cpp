#include "accounts/TeamSettings.h"

#include "store/AdoConnection.h"
#include "tables/SettingsTable.h"

bool OnTeamStore()
{
    return g_pConnection && g_pConnection->IsTeamStore();
}

QString ThisMachine()
{
    return OnTeamStore() ? g_pConnection->MachineName() : QString();
}

bool StoreReachable()
{
    return !OnTeamStore() || g_pConnection->IsReachable();
}

QString SqlTextList(const QStringList& values)
{
    if (values.isEmpty())
        return QStringLiteral("''");
    QStringList quoted;
    for (const QString& value : values)
        quoted.append(QLatin1Char('\'') + SqlText(value) + QLatin1Char('\''));
    return quoted.join(QLatin1Char(','));
}

QStringList ReadGreetShops(const QString& machine, bool* ok)
{
    return CSettingsTable().ReadGreetShops(machine, ok);
}

bool WriteGreetShops(const QString& machine, const QStringList& shops)
{
    return CSettingsTable().WriteGreetShops(machine, shops);
}

bool TouchMachine()
{
    return CSettingsTable().TouchMachine(ThisMachine());
}
