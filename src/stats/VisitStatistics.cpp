#include "stats/VisitStatistics.h"

#include "platform/Log.h"
#include "store/AdoConnection.h"
#include "store/AdoRecordSet.h"
#include "store/Schema.h"

#include <QMap>

#include <functional>

namespace {

// The hour key "yyyy-MM-dd HH" of a visit, written as the index on it is.
const QString kHourKey = QStringLiteral("substr([lasttime],1,13)");

QString DayText(const QDate& day)
{
    return day.toString(QStringLiteral("yyyy-MM-dd"));
}

// The conditions of a query on a table with a shop and a time column; the
// time condition compares `timeExpression` with day texts, which sort below
// every time of their day.
QString Where(const CStatsQuery& query, const QString& shopColumn, const QString& timeExpression)
{
    QStringList conditions;
    if (!query.shop.isEmpty())
        conditions << QStringLiteral("%1 = '%2'").arg(shopColumn, SqlText(query.shop));
    const QDate start = CVisitStatistics::PeriodStart(query.period, query.today);
    if (start.isValid()) {
        conditions << QStringLiteral("%1 >= '%2' and %1 < '%3'")
                          .arg(timeExpression, DayText(start), DayText(query.today.addDays(1)));
    }
    return conditions.isEmpty() ? QString() : QStringLiteral(" where ") + conditions.join(QStringLiteral(" and "));
}

// Reads (text, count[, count]) rows; false when the statement fails.
bool ReadCounts(const QString& sql, const std::function<void(const QString&, int, int)>& row)
{
    CAdoRecordSet recordSet;
    if (!recordSet.Open(sql)) {
        qCWarning(LogStats) << "statement failed:" << sql.left(120);
        return false;
    }
    const bool third = recordSet.GetFieldsCount() > 2;
    while (!recordSet.IsEOF()) {
        QString key;
        int first = 0;
        int second = 0;
        recordSet.GetCollect(0, key);
        recordSet.GetCollectInt(1, first);
        if (third)
            recordSet.GetCollectInt(2, second);
        row(key, first, second);
        recordSet.MoveNext();
    }
    return true;
}

QList<CStatsCount> ReadTop(const QString& sql, bool& ok)
{
    QList<CStatsCount> top;
    ok = ok && ReadCounts(sql, [&top](const QString& key, int count, int) { top.append({key, count}); });
    return top;
}

} // namespace

QDate CVisitStatistics::PeriodStart(EStatsPeriod period, const QDate& today)
{
    switch (period) {
    case EStatsPeriod::Today:
        return today;
    case EStatsPeriod::Last7Days:
        return today.addDays(-6);
    case EStatsPeriod::Last30Days:
        return today.addDays(-29);
    case EStatsPeriod::All:
        break;
    }
    return QDate();
}

QString CVisitStatistics::DayHourSql(const CStatsQuery& query)
{
    return QStringLiteral("select %1, count(*) from [client]%2 group by %1")
        .arg(kHourKey, Where(query, QStringLiteral("[shopname]"), kHourKey));
}

QString CVisitStatistics::TopItemsSql(const CStatsQuery& query)
{
    // Ties keep a fixed order so the bars do not shuffle between refreshes.
    return QStringLiteral("select [shopurl], count(*) from [client]%1 group by [shopurl] "
                          "order by count(*) desc, [shopurl] limit %2")
        .arg(Where(query, QStringLiteral("[shopname]"), QStringLiteral("[lasttime]")))
        .arg(kTopCount);
}

QString CVisitStatistics::TopRegionsSql(const CStatsQuery& query)
{
    const QString region = CityCountrySql();
    return QStringLiteral("select %1, count(*) from [client]%2 group by %1 order by count(*) desc, %1 limit %3")
        .arg(region, Where(query, QStringLiteral("[shopname]"), QStringLiteral("[lasttime]")))
        .arg(kTopCount);
}

QString CVisitStatistics::ReturningSql(const CStatsQuery& query)
{
    const QString earlierDay = QStringLiteral("exists (select 1 from [client] e where e.[guestname] = %1 and "
                                              "e.[shopname] = %2 and e.[lasttime] < substr(c.[lasttime],1,10))");
    if (PeriodStart(query.period, query.today).isValid()) {
        // A period's visits, each looked up on the visitor index.
        return QStringLiteral("select substr(c.[lasttime],1,10), count(*) from [client] c%1 and %2 "
                              "group by substr(c.[lasttime],1,10)")
            .arg(Where(query, QStringLiteral("c.[shopname]"), QStringLiteral("c.[lasttime]")),
                 earlierDay.arg(QStringLiteral("c.[guestname]"), QStringLiteral("c.[shopname]")));
    }
    // Every visit: only a visitor with more than one row can return, and the
    // few such pairs are found on the visitor index without reading the table.
    CStatsQuery shopOnly = query;
    shopOnly.period = EStatsPeriod::All;
    return QStringLiteral("with [pairs] as (select [guestname] as g, [shopname] as s from [client]%1 "
                          "group by [guestname], [shopname] having count(*) > 1) "
                          "select substr(c.[lasttime],1,10), count(*) from [pairs] "
                          "join [client] c on c.[guestname] = [pairs].g and c.[shopname] = [pairs].s where %2 "
                          "group by substr(c.[lasttime],1,10)")
        .arg(Where(shopOnly, QStringLiteral("[shopname]"), QString()),
             earlierDay.arg(QStringLiteral("[pairs].g"), QStringLiteral("[pairs].s")));
}

QString CVisitStatistics::GreetingsSql(const CStatsQuery& query)
{
    return QStringLiteral("select substr([senttime],1,10), sum(case when [ok] <> 0 then 1 else 0 end), "
                          "sum(case when [ok] = 0 then 1 else 0 end) from [greetlog]%1 "
                          "group by substr([senttime],1,10)")
        .arg(Where(query, QStringLiteral("[shopname]"), QStringLiteral("[senttime]")));
}

QString CVisitStatistics::MarksSql()
{
    return QStringLiteral("select ifnull((select max([id]) from [client]),0), "
                          "ifnull((select max([id]) from [greetlog]),0)");
}

QString CVisitStatistics::ShopsSql()
{
    return QStringLiteral("select [username] from [user] order by [id]");
}

bool CVisitStatistics::ReadMarks(CStatsMarks& marks)
{
    CAdoRecordSet recordSet;
    if (!recordSet.Open(MarksSql()) || recordSet.IsEOF()) {
        qCWarning(LogStats) << "cannot read the store's marks";
        return false;
    }
    int visit = 0;
    int greeting = 0;
    if (!recordSet.GetCollectInt(0, visit) || !recordSet.GetCollectInt(1, greeting))
        return false;
    marks = {visit, greeting};
    return true;
}

CVisitStats CVisitStatistics::Load(const CStatsQuery& query)
{
    CVisitStats stats;
    if (!ReadMarks(stats.marks))
        return stats;
    bool ok = ReadCounts(ShopsSql(), [&stats](const QString& shop, int, int) { stats.shops.append(shop); });

    // Day texts sort as dates, so the maps come out in calendar order.
    QMap<QString, CStatsBucket> days;
    ok = ok && ReadCounts(DayHourSql(query), [&](const QString& key, int count, int) {
             const int hour = key.mid(11, 2).toInt();
             if (hour >= 0 && hour < 24)
                 stats.hours[hour] += count;
             days[key.left(10)].visits += count;
             stats.totalVisits += count;
         });
    ok = ok &&
         ReadCounts(ReturningSql(query), [&days](const QString& day, int count, int) { days[day].returning += count; });
    ok = ok && ReadCounts(GreetingsSql(query), [&days](const QString& day, int sent, int failed) {
             days[day].greetingsSent += sent;
             days[day].greetingsFailed += failed;
         });
    stats.topItems = ReadTop(TopItemsSql(query), ok);
    stats.topRegions = ReadTop(TopRegionsSql(query), ok);
    if (!ok)
        return stats;

    // Every day of the period gets its bar, days without visits too.
    QDate first = PeriodStart(query.period, query.today);
    QDate last = query.today;
    if (!first.isValid() && !days.isEmpty()) {
        first = QDate::fromString(days.firstKey(), QStringLiteral("yyyy-MM-dd"));
        last = std::max(last, QDate::fromString(days.lastKey(), QStringLiteral("yyyy-MM-dd")));
    }
    if (first.isValid() && last.isValid()) {
        for (QDate day = first; day <= last; day = day.addDays(1))
            days[DayText(day)];
    }
    stats.byMonth = query.period == EStatsPeriod::All && days.size() > kMaxDayBars;
    for (auto it = days.cbegin(); it != days.cend(); ++it) {
        const QString key = stats.byMonth ? it.key().left(7) : it.key();
        if (stats.buckets.isEmpty() || stats.buckets.constLast().key != key)
            stats.buckets.append(CStatsBucket{key});
        CStatsBucket& bucket = stats.buckets.last();
        bucket.visits += it->visits;
        bucket.returning += it->returning;
        bucket.newVisitors += it->visits - it->returning;
        bucket.greetingsSent += it->greetingsSent;
        bucket.greetingsFailed += it->greetingsFailed;
    }
    stats.ok = true;
    return stats;
}
