#include "stats/VisitStatistics.h"

#include "platform/AbortScope.h"
#include "platform/Log.h"
#include "store/AdoConnection.h"
#include "store/AdoRecordSet.h"
#include "store/Schema.h"
#include "store/StoreReader.h"

#include <QMap>

#include <algorithm>
#include <atomic>
#include <functional>
#include <system_error>
#include <thread>
#include <vector>

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

// Threads that read at once, each on a connection of its own: the statements
// are independent and each reads its own index. One a statement, also beyond
// the cores: on a shared machine the reading then gets its fair share.
constexpr int kMaxReaders = 6;
std::atomic<int> g_maxReaders{kMaxReaders};

using CRowReader = std::function<void(const QString&, int, int)>;

// Reads (text, count[, count]) rows; false when the statement fails.
bool ReadCounts(CAdoConnection* connection, const QString& sql, const CRowReader& row)
{
    CAdoRecordSet recordSet(connection);
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

struct CStatement
{
    QString sql;
    CRowReader row; // writes to its own part of the result only: statements run at once
};

// Runs the statements, longest first, on up to kMaxReaders threads; false when one fails.
bool RunStatements(const std::vector<CStatement>& statements)
{
    std::atomic<size_t> next{0};
    std::atomic<bool> ok{true};
    const std::atomic<int>* stop = CurrentAbortFlag();
    const auto drain = [&] {
        const CAbortScope scope(stop);
        CStoreReader reader;
        for (size_t i = next++; i < statements.size() && ok.load(); i = next++) {
            if (!ReadCounts(reader.Connection(), statements[i].sql, statements[i].row))
                ok = false;
        }
    };
    std::vector<std::thread> helpers;
    const int helperCount = int(std::min(statements.size(), size_t(std::max(g_maxReaders.load(), 1)))) - 1;
    for (int i = 0; i < helperCount; ++i) {
        try {
            helpers.emplace_back(drain);
        } catch (const std::system_error& e) {
            qCWarning(LogStats) << "no reading thread, reading on one:" << e.what();
            break;
        }
    }
    drain();
    for (std::thread& helper : helpers)
        helper.join();
    return ok.load();
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
    // Every visit: only a visitor with more than one row can return. Such visitors are
    // found by grouping the visitor index on the name alone (cheaper than on name and
    // shop, a group for nearly every row); their visits are then looked up as above.
    CStatsQuery shopOnly = query;
    shopOnly.period = EStatsPeriod::All;
    const QString shop =
        query.shop.isEmpty() ? QString() : QStringLiteral("c.[shopname] = '%1' and ").arg(SqlText(query.shop));
    return QStringLiteral("with [guests] as (select [guestname] as g from [client]%1 "
                          "group by [guestname] having count(*) > 1) "
                          "select substr(c.[lasttime],1,10), count(*) from [guests] "
                          "join [client] c on c.[guestname] = [guests].g where %2%3 "
                          "group by substr(c.[lasttime],1,10)")
        .arg(Where(shopOnly, QStringLiteral("[shopname]"), QString()), shop,
             earlierDay.arg(QStringLiteral("c.[guestname]"), QStringLiteral("c.[shopname]")));
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

void CVisitStatistics::SetMaxReaders(int readers)
{
    g_maxReaders = readers > 0 ? readers : kMaxReaders;
}

QStringList CVisitStatistics::IndexWork()
{
    CStoreReader reader;
    return StatisticsIndexWork(reader.Connection());
}

bool CVisitStatistics::BuildIndexes(const QStringList& work)
{
    // Each its own transaction, so other writers get in between; on a connection
    // of its own, so the workers' shared handle stays free for their statements.
    CStoreReader reader;
    for (const QString& statement : work) {
        if (!reader.Connection()->Execute(statement)) {
            qCWarning(LogStats) << "statistics indexes not finished; the numbers are read without them";
            return false;
        }
    }
    return true;
}

CVisitStats CVisitStatistics::Load(const CStatsQuery& query)
{
    CVisitStats stats;
    if (!ReadMarks(stats.marks))
        return stats;

    // Day texts sort as dates, so the maps come out in calendar order.
    QMap<QString, CStatsBucket> days;
    QMap<QString, int> returning;
    QMap<QString, std::pair<int, int>> greetings;
    const std::vector<CStatement> statements{
        {ReturningSql(query), [&returning](const QString& day, int count, int) { returning[day] += count; }},
        {DayHourSql(query),
         [&](const QString& key, int count, int) {
             const int hour = key.mid(11, 2).toInt();
             if (hour >= 0 && hour < 24)
                 stats.hours[hour] += count;
             days[key.left(10)].visits += count;
             stats.totalVisits += count;
         }},
        {TopItemsSql(query),
         [&stats](const QString& key, int count, int) {
             stats.topItems.append({key, count});
         }},
        {TopRegionsSql(query),
         [&stats](const QString& key, int count, int) {
             stats.topRegions.append({key, count});
         }},
        {GreetingsSql(query),
         [&greetings](const QString& day, int sent, int failed) {
             greetings[day].first += sent;
             greetings[day].second += failed;
         }},
        {ShopsSql(), [&stats](const QString& shop, int, int) { stats.shops.append(shop); }},
    };
    if (!RunStatements(statements))
        return stats;
    for (auto it = returning.cbegin(); it != returning.cend(); ++it)
        days[it.key()].returning += it.value();
    for (auto it = greetings.cbegin(); it != greetings.cend(); ++it) {
        days[it.key()].greetingsSent += it->first;
        days[it.key()].greetingsFailed += it->second;
    }

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
