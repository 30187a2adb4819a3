#include "accounts/TeamSettings.h"

#include "platform/Clock.h"
#include "platform/Log.h"
#include "store/AdoConnection.h"
#include "store/AdoRecordSet.h"
#include "store/Variant.h"

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
    if (ok)
        *ok = false;
    if (!OnTeamStore())
        return {};
    CAdoRecordSet recordSet(g_pConnection);
    if (!recordSet.Open(
            QStringLiteral("select [greetshops] from [machine] where [name] = '%1'").arg(SqlText(machine)))) {
        qCWarning(LogStore) << "the shops this machine greets for could not be read";
        return {};
    }
    QString shops;
    if (!recordSet.IsEOF())
        recordSet.GetCollect(0, shops);
    recordSet.Close();
    if (ok)
        *ok = true;
    return shops.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool WriteGreetShops(const QString& machine, const QStringList& shops)
{
    if (!OnTeamStore())
        return false;
    const QString now = SqlText(StoreTimeText(Clock().NowMs()));
    const bool written = g_pConnection->Execute(
        QStringLiteral("insert into [machine] ([name], [greetshops], [lastseen]) values ('%1', '%2', '%3') "
                       "on conflict ([name]) do update set [greetshops] = excluded.[greetshops], "
                       "[lastseen] = excluded.[lastseen]")
            .arg(SqlText(machine), SqlText(shops.join(QLatin1Char('\n'))), now));
    if (!written)
        qCWarning(LogStore) << "the shops this machine greets for were not stored";
    return written;
}

bool TouchMachine()
{
    if (!OnTeamStore())
        return false;
    const QString now = SqlText(StoreTimeText(Clock().NowMs()));
    return g_pConnection->Execute(QStringLiteral("insert into [machine] ([name], [greetshops], [lastseen]) values "
                                                 "('%1', '', '%2') on conflict ([name]) do update set "
                                                 "[lastseen] = excluded.[lastseen]")
                                      .arg(SqlText(ThisMachine()), now));
}
