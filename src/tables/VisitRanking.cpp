// CVisitTable's grouped reads for the statistics page.
#include "tables/VisitTable.h"

#include "platform/Log.h"
#include "store/AdoRecordSet.h"
#include "tables/VisitStatements.h"

bool CVisitTable::LastId(CAdoConnection* connection, qint64& id)
{
    CAdoRecordSet recordSet(connection);
    int last = 0;
    if (!recordSet.Open(VisitLastIdSql()) || recordSet.IsEOF() || !recordSet.GetCollectInt(0, last)) {
        qCWarning(LogStats) << "cannot read the visits' last id";
        return false;
    }
    id = last;
    return true;
}

bool CVisitTable::ReadHourCounts(CAdoConnection* connection, const CStatsQuery& query, const CCountRowReader& row)
{
    return ReadCountRows(connection, StatsDayHourSql(query), row);
}

bool CVisitTable::ReadTopItems(CAdoConnection* connection, const CStatsQuery& query, const CCountRowReader& row)
{
    return ReadCountRows(connection, StatsTopItemsSql(query), row);
}

bool CVisitTable::ReadTopRegions(CAdoConnection* connection, const CStatsQuery& query, const CCountRowReader& row)
{
    return ReadCountRows(connection, StatsTopRegionsSql(query), row);
}

bool CVisitTable::ReadReturning(CAdoConnection* connection, const CStatsQuery& query, const CCountRowReader& row)
{
    return ReadCountRows(connection, StatsReturningSql(query), row);
}
