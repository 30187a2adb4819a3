#include "tables/GreetingLogTable.h"

#include "platform/Clock.h"
#include "platform/Log.h"
#include "store/AdoConnection.h"
#include "store/Variant.h"
#include "tables/TableCount.h"

QString GreetReasonText(EGreetReason reason)
{
    switch (reason) {
    case EGreetReason::Sent:
        return QString();
    case EGreetReason::NoWindow:
        return QStringLiteral("没有找到聊天窗口");
    case EGreetReason::SeveralWindows:
        return QStringLiteral("有多个同名聊天窗口");
    case EGreetReason::FocusLost:
        return QStringLiteral("聊天窗口失去焦点");
    case EGreetReason::Grab:
        return QStringLiteral("键盘被其他程序占用");
    case EGreetReason::Dropped:
        return QStringLiteral("30分钟内未能发送");
    case EGreetReason::Failed:
        break;
    }
    return QStringLiteral("发送失败");
}

bool CGreetingLogTable::Write(const QString& shop, const QString& visitor, EGreetReason reason)
{
    if (!g_pConnection)
        return false;
    const QString now = StoreTimeText(Clock().NowMs());
    const bool sent = reason == EGreetReason::Sent;
    if (g_pConnection->Execute(QStringLiteral("insert into [greetlog] ([shopname], [guestname], [senttime], [ok], "
                                              "[reason]) values ('%1','%2','%3',%4,'%5')")
                                   .arg(SqlText(shop), SqlText(visitor), now,
                                        sent ? QStringLiteral("1") : QStringLiteral("0"),
                                        SqlText(GreetReasonText(reason)))))
        return true;
    qCWarning(LogGreet) << "a greeting's fate could not be written to the greeting log";
    return false;
}

int CGreetingLogTable::CountSent(const CGreetingsOf& whom, const QString& since)
{
    const QString condition = whom.visitor.isEmpty() ? QStringLiteral("[shopname] = '%1'").arg(SqlText(whom.shop))
                                                     : QStringLiteral("[guestname] = '%1'").arg(SqlText(whom.visitor));
    return CountOf(QStringLiteral("select count(*) from [greetlog] where %1 and [ok] <> 0 and [senttime] >= '%2'")
                       .arg(condition, since));
}

int CGreetingLogTable::DeleteVisitor(const QString& visitor)
{
    if (!g_pConnection)
        return -1;
    return g_pConnection->ExecuteChanges(
        QStringLiteral("delete from [greetlog] where [guestname] = '%1'").arg(SqlText(visitor)));
}

bool CGreetingLogTable::ReadPerDay(CAdoConnection* connection, const CStatsQuery& query, const CCountRowReader& row)
{
    return ReadCountRows(connection, PerDaySql(query), row);
}

bool CGreetingLogTable::LastId(CAdoConnection* connection, qint64& id)
{
    const int last = connection ? CountOf(LastIdSql(), connection) : -1;
    if (last < 0) {
        qCWarning(LogStats) << "cannot read the greeting log's last id";
        return false;
    }
    id = last;
    return true;
}

QString CGreetingLogTable::PerDaySql(const CStatsQuery& query)
{
    return QStringLiteral("select substr([senttime],1,10), sum(case when [ok] <> 0 then 1 else 0 end), "
                          "sum(case when [ok] = 0 then 1 else 0 end) from [greetlog]%1 "
                          "group by substr([senttime],1,10)")
        .arg(StatsWhere(query, QStringLiteral("[shopname]"), QStringLiteral("[senttime]")));
}

QString CGreetingLogTable::LastIdSql()
{
    return QStringLiteral("select ifnull(max([id]),0) from [greetlog]");
}
