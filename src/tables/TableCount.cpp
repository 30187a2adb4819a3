#include "tables/TableCount.h"

#include "store/AdoConnection.h"
#include "store/AdoRecordSet.h"

int CountOf(const QString& sql, CAdoConnection* connection)
{
    if (!connection)
        connection = g_pConnection;
    if (!connection)
        return -1;
    CAdoRecordSet recordSet(connection);
    int count = -1;
    if (!recordSet.Open(sql) || recordSet.IsEOF() || !recordSet.GetCollectInt(0, count))
        return -1;
    return count;
}
