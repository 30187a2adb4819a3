#include "tables/VisitTable.h"

#include "store/AdoConnection.h"
#include "store/AdoRecordSet.h"
#include "tables/GreetingQueue.h"

std::optional<bool> CVisitTable::IsRecorded(const QString& visitor, const QString& shop)
{
    CAdoRecordSet recordSet;
    if (!recordSet.Open(QStringLiteral("select * from [client] where [guestname] = '%1'and [shopname] = '%2'")
                            .arg(SqlText(visitor), SqlText(shop))))
        return std::nullopt;
    return !recordSet.IsEOF();
}

int CVisitTable::RecordNew(const CVisitRow& visit, const CQueuedGreeting* greeting)
{
    if (!g_pConnection)
        return -1;
    const QString insert =
        QStringLiteral("insert into [client] ([guestname] , [ip] , [shopname] , [lasttime] , [count] , [city] "
                       ", [shopurl] , [imuid]) values ('%1','%2','%3','%4',%5,'%6','%7','%8')")
            .arg(SqlText(visit.guestName), SqlText(visit.ip), SqlText(visit.shopName), SqlText(visit.lastTime),
                 QStringLiteral("1"), SqlText(visit.city), SqlText(visit.shopUrl), SqlText(visit.imUid));
    const QString queue = greeting ? CGreetingQueue::EnqueueStatement(*greeting) : QString();
    // The queue row only after a visit that went in: on the team store an insert of a
    // visit another machine recorded changes nothing, and that machine greets.
    QList<int> changes;
    if (!g_pConnection->ExecuteChain(
            insert, [&](int done, int changed) { return done == 1 && changed == 1 ? queue : QString(); }, &changes))
        return -1;
    return changes.value(0, -1);
}
