#include "HistoryTestStore.h"

#include "store/AdoConnection.h"
#include "store/AdoRecordSet.h"
#include "store/StoreStartup.h"

CHistoryTestStore::CHistoryTestStore()
{
    m_open = m_dir.isValid() && OpenStore(m_dir.path());
}

CHistoryTestStore::~CHistoryTestStore()
{
    CloseStore();
}

int CHistoryTestStore::AddVisit(const CHistoryVisit& visit)
{
    const QString sql =
        QStringLiteral("insert into [client] ([guestname] , [ip] , [shopname] , [lasttime] , [count] , [city] , "
                       "[shopurl] , [imuid]) values ('%1','%2','%3','%4',%5,'%6','%7','%8')")
            .arg(SqlText(visit.guest), SqlText(visit.ip), SqlText(visit.shop),
                 visit.time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")), QStringLiteral("1"), SqlText(visit.city),
                 SqlText(visit.url), QStringLiteral("portrait"));
    if (!g_pConnection->Execute(sql))
        return -1;
    const QList<int> ids = Ids(QStringLiteral("select * from [client] order by [id] desc"));
    return ids.isEmpty() ? -1 : ids.first();
}

bool CHistoryTestStore::AddShop(const QString& name)
{
    return g_pConnection->Execute(
        QStringLiteral("insert into [user] ([username],[usersmailname],[password],[webid],[messageinfo],[autosend]) "
                       "values ('%1','','pw','1','hi',0)")
            .arg(SqlText(name)));
}

QList<int> CHistoryTestStore::Ids(const QString& sql)
{
    QList<int> ids;
    CAdoRecordSet recordSet(g_pConnection);
    if (!recordSet.Open(sql))
        return ids;
    while (!recordSet.IsEOF()) {
        int id = 0;
        recordSet.GetCollectInt(0, id);
        ids << id;
        recordSet.MoveNext();
    }
    return ids;
}

int CHistoryTestStore::CountVisits()
{
    return int(Ids(QStringLiteral("select * from [client]")).size());
}
