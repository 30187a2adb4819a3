#include "tables/VisitTable.h"

#include "platform/Log.h"
#include "store/AdoConnection.h"
#include "store/AdoRecordSet.h"
#include "store/Columns.h"
#include "tables/ListReader.h"
#include "tables/VisitStatements.h"

#include <mutex>

namespace {

std::mutex g_deleteRunnerLock;
VisitDeleteRunner g_deleteRunner;

bool RunVisitDelete(const QString& sql)
{
    VisitDeleteRunner runner;
    {
        std::lock_guard lock(g_deleteRunnerLock);
        runner = g_deleteRunner;
    }
    return runner ? runner(sql) : ExecuteVisitDelete(sql);
}

// Reads up to `most` rows (every row when negative) of a query over whole [client] rows.
bool ReadRows(const QString& sql, int most, QList<CVisitRow>& rows)
{
    rows.clear();
    if (!g_pConnection)
        return false;
    CAdoRecordSet recordSet(g_pConnection);
    if (!recordSet.Open(sql))
        return false;
    for (int read = 0; (most < 0 || read < most) && !recordSet.IsEOF(); ++read) {
        CVisitRow row;
        recordSet.GetCollect(ClientColumn::kGuestName, row.guestName);
        recordSet.GetCollect(ClientColumn::kIp, row.ip);
        recordSet.GetCollect(ClientColumn::kShopName, row.shopName);
        recordSet.GetCollect(ClientColumn::kLastTime, row.lastTime);
        recordSet.GetCollect(ClientColumn::kCount, row.count);
        recordSet.GetCollect(ClientColumn::kCity, row.city);
        recordSet.GetCollect(ClientColumn::kShopUrl, row.shopUrl);
        recordSet.GetCollect(ClientColumn::kImUid, row.imUid);
        rows.append(row);
        recordSet.MoveNext();
    }
    recordSet.Close();
    return true;
}

QString SearchSql(const CVisitSearch& search)
{
    switch (search.kind) {
    case EVisitSearch::All:
        break;
    case EVisitSearch::Day:
        return HistoryDaySql(search.day);
    case EVisitSearch::Visitor:
        return HistoryVisitorSql(search.text);
    case EVisitSearch::Shop:
        return HistoryShopSql(search.text);
    case EVisitSearch::Ranking:
        return HistoryRankingSql();
    }
    return HistoryShowAllSql();
}

} // namespace

VisitDeleteRunner SetVisitDeleteRunner(VisitDeleteRunner runner)
{
    std::lock_guard lock(g_deleteRunnerLock);
    std::swap(g_deleteRunner, runner);
    return runner;
}

bool ExecuteVisitDelete(const QString& sql)
{
    if (!g_pConnection)
        return false;
    // The owner's deletes all read "delete from [client] where ...".
    const QString deletePrefix = QStringLiteral("delete from [client] where ");
    if (!sql.startsWith(deletePrefix))
        return g_pConnection->Execute(sql);
    const QString condition = sql.mid(deletePrefix.size());
    if (g_pConnection->IsTeamStore())
        return g_pConnection->DeleteWhere(QStringLiteral("[client]"), condition);
    // Debian's SQLite zeroes every page a delete frees: emptying a history of a
    // million visits then writes the whole file once more (2 of its 2.8 s).
    // For this delete only the pages it changes are cleared; then as before.
    QString secureDelete;
    CAdoRecordSet recordSet(g_pConnection);
    if (recordSet.Open(QStringLiteral("pragma secure_delete"))) {
        if (!recordSet.IsEOF())
            recordSet.GetCollect(0, secureDelete);
        recordSet.Close();
    }
    const bool lowered =
        secureDelete == QLatin1String("1") && g_pConnection->Execute(QStringLiteral("pragma secure_delete=fast"));
    const bool ok = g_pConnection->DeleteWhere(QStringLiteral("[client]"), condition);
    if (lowered && !g_pConnection->Execute(QStringLiteral("pragma secure_delete=1")))
        qCWarning(LogStore) << "could not restore secure_delete after a history delete";
    return ok;
}

bool CVisitTable::Latest(int count, QList<CVisitRow>& rows)
{
    return ReadRows(LatestVisitsSql(), count, rows);
}

bool CVisitTable::ByIds(const QList<qint64>& ids, QList<CVisitRow>& rows)
{
    if (ids.isEmpty()) {
        rows.clear();
        return true;
    }
    return ReadRows(VisitsByIdsSql(ids), -1, rows);
}

QString CVisitTable::ImUid(qint64 id)
{
    const QString sql = HistoryVisitSql(QString::number(id));
    if (sql.isEmpty())
        return QString();
    QList<CVisitRow> rows;
    if (!ReadRows(sql, 1, rows) || rows.isEmpty())
        return QString();
    return rows.constFirst().imUid;
}

bool CVisitTable::ReadList(const CVisitSearch& search, const QList<int>& positions, const CListBlockSink& onBlock,
                           const std::atomic<int>& stop)
{
    return ReadListRows(g_pConnection, SearchSql(search), positions, onBlock, stop);
}

bool CVisitTable::DeleteIds(std::vector<qint64> ids)
{
    const QString sql = HistoryDeleteIdsSql(std::move(ids));
    return sql.isEmpty() || RunVisitDelete(sql);
}

bool CVisitTable::DeleteDays(const QDate& first, const QDate& last)
{
    return RunVisitDelete(HistoryDeleteRangeSql(first, last));
}

int CVisitTable::DeleteBefore(const QString& cutoff, int most)
{
    return g_pConnection ? g_pConnection->ExecuteChanges(DeleteVisitsBeforeSql(cutoff, most)) : -1;
}

int CVisitTable::DeleteVisitor(const QString& visitor)
{
    return g_pConnection ? g_pConnection->ExecuteChanges(DeleteVisitorSql(visitor)) : -1;
}
