#include "tables/PageViewTable.h"

#include "platform/Log.h"
#include "store/AdoConnection.h"
#include "store/AdoRecordSet.h"
#include "store/Schema.h"

#include <QDateTime>

namespace {

QString InsertStatement(const QString& shop, const CPageView& view, const QString& now)
{
    // A view already kept (a reply repeated, a restart midway) meets the unique index and changes nothing.
    return QStringLiteral("insert into [pageview] ([shopname],[ip],[city],[shopurl],[viewtime],[seq]) "
                          "values ('%1','%2','%3','%4','%5',%6) on conflict do nothing")
        .arg(SqlText(shop), SqlText(view.ip), SqlText(view.city), SqlText(view.shopUrl),
             SqlText(view.viewTime.isEmpty() ? now : view.viewTime), QString::number(view.seq));
}

} // namespace

int CPageViewTable::DeleteBefore(const QString& cutoff, int most)
{
    if (!g_pConnection)
        return -1;
    return g_pConnection->ExecuteChanges(
        QStringLiteral("delete from [pageview] where [id] in (select [id] from [pageview] where [viewtime] < '%1' "
                       "order by [viewtime] limit %2)")
            .arg(SqlText(cutoff))
            .arg(most));
}

qint64 CPageViewTable::LastSeq(const QString& shop)
{
    CAdoRecordSet recordSet(g_pConnection);
    if (!recordSet.Open(
            QStringLiteral("select [viewseq] from [user] where [username] = '%1' order by [id]").arg(SqlText(shop)))) {
        qCWarning(LogStore) << "the last page view number cannot be read";
        return -1;
    }
    if (recordSet.IsEOF())
        return -1;
    QString text;
    recordSet.GetCollect(0, text);
    bool ok = false;
    const qint64 seq = text.toLongLong(&ok);
    // An account from before the column reads as null: it has seen no view yet.
    return ok ? seq : 0;
}

int CPageViewTable::Record(const QString& shop, const QList<CPageView>& views, qint64 newSeq, QList<CPageView>* fresh)
{
    if (fresh)
        fresh->clear();
    CAdoConnection* connection = g_pConnection;
    if (!connection)
        return -1;
    const QString now = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    bool accountFound = true;
    QList<int> changes;
    // The number first: an account deleted meanwhile ends the chain before any view is written.
    const bool ok = connection->ExecuteChain(
        QStringLiteral("update [user] set [viewseq] = %1 where [username] = '%2'")
            .arg(QString::number(newSeq), SqlText(shop)),
        [&](int done, int changed) {
            if (done == 1 && changed == 0) {
                accountFound = false;
                return QString();
            }
            return done <= views.size() ? InsertStatement(shop, views[done - 1], now) : QString();
        },
        &changes);
    if (!ok || !accountFound) {
        qCWarning(LogStore).noquote() << QStringLiteral("%1 page views not recorded (%2)")
                                             .arg(views.size())
                                             .arg(ok ? QStringLiteral("no such account")
                                                     : QStringLiteral("the store refused them"));
        return -1;
    }
    int added = 0;
    for (int i = 1; i < changes.size(); ++i) {
        if (changes[i] > 0) {
            ++added;
            if (fresh)
                fresh->append(views[i - 1]);
        }
    }
    return added;
}

QString CPageViewTable::DayHourSql(const CStatsQuery& query)
{
    const QString hour = QStringLiteral("substr([viewtime],1,13)");
    return QStringLiteral("select %1, count(*) from [pageview]%2 group by %1")
        .arg(hour, StatsWhere(query, QStringLiteral("[shopname]"), QStringLiteral("[viewtime]")));
}

QString CPageViewTable::TopItemsSql(const CStatsQuery& query)
{
    // Ties keep a fixed order so the bars do not shuffle between refreshes.
    return QStringLiteral("select [shopurl], count(*) from [pageview]%1 group by [shopurl] "
                          "order by count(*) desc, [shopurl] limit %2")
        .arg(StatsWhere(query, QStringLiteral("[shopname]"), QStringLiteral("[viewtime]")),
             QString::number(kStatsTopCount));
}

QString CPageViewTable::TopRegionsSql(const CStatsQuery& query)
{
    return QStringLiteral("select %1, count(*) from [pageview]%2 group by %1 order by count(*) desc, %1 limit %3")
        .arg(CityCountrySql(), StatsWhere(query, QStringLiteral("[shopname]"), QStringLiteral("[viewtime]")),
             QString::number(kStatsTopCount));
}

bool CPageViewTable::LastId(CAdoConnection* connection, qint64& id)
{
    CAdoRecordSet recordSet(connection);
    QString last;
    if (!recordSet.Open(QStringLiteral("select ifnull(max([id]),0) from [pageview]")) || recordSet.IsEOF() ||
        !recordSet.GetCollect(0, last)) {
        qCWarning(LogStats) << "cannot read the page views' last id";
        return false;
    }
    id = last.toLongLong();
    return true;
}
