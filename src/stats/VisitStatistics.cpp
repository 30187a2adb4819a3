#include "stats/VisitStatistics.h"

#include "platform/AbortScope.h"
#include "platform/Log.h"
#include "store/AdoConnection.h"
#include "store/AdoRecordSet.h"
#include "store/Schema.h"
#include "store/StoreReader.h"
#include "tables/AccountTable.h"
#include "tables/GreetingLogTable.h"
#include "tables/PageViewTable.h"
#include "tables/VisitTable.h"

#include <QMap>

#include <algorithm>
#include <atomic>
#include <functional>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// Threads that read at once, each on a connection of its own: the statements
// are independent and each reads its own index. One a statement, also beyond
// the cores: on a shared machine the reading then gets its fair share.
constexpr int kMaxReaders = 6;
std::atomic<int> g_maxReaders{kMaxReaders};

// One grouped read on the connection given; it writes to its own part of the
// result only, as reads run at once.
using CStatement = std::function<bool(CAdoConnection* connection)>;

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
            if (!statements[i](reader.Connection()))
                ok = false;
        }
    };
    // Not one-shots: helpers of one reading, joined before it returns, inside the caller's own worker.
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

bool CVisitStatistics::ReadMarks(CStatsMarks& marks)
{
    qint64 visit = 0;
    qint64 view = 0;
    if (!CVisitTable::LastId(g_pConnection, visit) || !CPageViewTable::LastId(g_pConnection, view))
        return false;
    qint64 greeting = 0;
    if (!CGreetingLogTable::LastId(g_pConnection, greeting))
        return false;
    marks = {visit, greeting, view};
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
    QMap<QString, int> viewDays;
    const auto counts = [](const QString& sql, CCountRowReader row) {
        return [sql, row = std::move(row)](CAdoConnection* connection) { return ReadCountRows(connection, sql, row); };
    };
    const auto visits = [&query](auto read, CCountRowReader row) {
        return
            [read, &query, row = std::move(row)](CAdoConnection* connection) { return read(connection, query, row); };
    };
    const std::vector<CStatement> statements{
        visits(&CVisitTable::ReadReturning,
               [&returning](const QString& day, int count, int) { returning[day] += count; }),
        visits(&CVisitTable::ReadHourCounts,
               [&](const QString& key, int count, int) {
                   const int hour = key.mid(11, 2).toInt();
                   if (hour >= 0 && hour < 24)
                       stats.hours[hour] += count;
                   days[key.left(10)].visits += count;
                   stats.totalVisits += count;
               }),
        visits(&CVisitTable::ReadTopItems,
               [&stats](const QString& key, int count, int) {
                   stats.topItems.append({key, count});
               }),
        visits(&CVisitTable::ReadTopRegions,
               [&stats](const QString& key, int count, int) {
                   stats.topRegions.append({key, count});
               }),
        visits(&CGreetingLogTable::ReadPerDay,
               [&greetings](const QString& day, int sent, int failed) {
                   greetings[day].first += sent;
                   greetings[day].second += failed;
               }),
        [&stats](CAdoConnection* connection) {
            for (const CAccount& account : CAccountTable(connection).ReadAll())
                stats.shops.append(account.userName);
            return true;
        },
        counts(CPageViewTable::DayHourSql(query),
               [&](const QString& key, int count, int) {
                   const int hour = key.mid(11, 2).toInt();
                   if (hour >= 0 && hour < 24)
                       stats.viewHours[hour] += count;
                   viewDays[key.left(10)] += count;
                   stats.totalViews += count;
               }),
        counts(CPageViewTable::TopItemsSql(query),
               [&stats](const QString& key, int count, int) {
                   stats.topViewedItems.append({key, count});
               }),
        counts(CPageViewTable::TopRegionsSql(query),
               [&stats](const QString& key, int count, int) {
                   stats.topViewRegions.append({key, count});
               }),
    };
    if (!RunStatements(statements))
        return stats;
    for (auto it = returning.cbegin(); it != returning.cend(); ++it)
        days[it.key()].returning += it.value();
    for (auto it = viewDays.cbegin(); it != viewDays.cend(); ++it)
        days[it.key()].views += it.value();
    for (auto it = greetings.cbegin(); it != greetings.cend(); ++it) {
        days[it.key()].greetingsSent += it->first;
        days[it.key()].greetingsFailed += it->second;
    }

    // Every day of the period gets its bar, days without visits too.
    QDate first = StatsPeriodStart(query.period, query.today);
    QDate last = query.today;
    if (!first.isValid() && !days.isEmpty()) {
        first = QDate::fromString(days.firstKey(), QStringLiteral("yyyy-MM-dd"));
        last = std::max(last, QDate::fromString(days.lastKey(), QStringLiteral("yyyy-MM-dd")));
    }
    if (first.isValid() && last.isValid()) {
        for (QDate day = first; day <= last; day = day.addDays(1))
            days[StatsDayText(day)];
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
        bucket.views += it->views;
    }
    stats.ok = true;
    return stats;
}
