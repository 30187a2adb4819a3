#pragma once
// The numbers of the statistics page (访客统计), read with the grouped reads
// of the visits' owner and of [greetlog]. Load runs on a worker thread (it may
// take a good part of a second on a long history) over connections of its own. Values read from the store
// (addresses, regions, shop names) come back as they are stored: whoever
// shows them shows them as plain text.
#include "tables/StatsQuery.h"

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>

struct CStatsCount
{
    QString key;
    int count = 0;
    bool operator==(const CStatsCount&) const = default;
};

// One bar of a per-day chart: a day ("yyyy-MM-dd"), or a month ("yyyy-MM")
// when "全部" spans more than kMaxDayBars days.
struct CStatsBucket
{
    QString key;
    int visits = 0;
    int newVisitors = 0;
    int returning = 0;
    int greetingsSent = 0;
    int greetingsFailed = 0;
    int views = 0;
    bool operator==(const CStatsBucket&) const = default;
};

// What the store looked like when the numbers were read: the largest ids of
// [client], [greetlog] and [pageview]. Equal marks mean nothing was added since.
struct CStatsMarks
{
    qint64 visit = -1;
    qint64 greeting = -1;
    qint64 view = -1;
    bool operator==(const CStatsMarks&) const = default;
};

struct CVisitStats
{
    bool ok = false;
    CStatsMarks marks;
    QStringList shops; // every account, for the shop selector
    int totalVisits = 0;
    bool byMonth = false;
    QList<CStatsBucket> buckets;
    std::array<int, 24> hours{};
    QList<CStatsCount> topItems;   // address, most viewed first
    QList<CStatsCount> topRegions; // country part of [city], most frequent first
    // The same of the page views the tracking service reported.
    int totalViews = 0;
    std::array<int, 24> viewHours{};
    QList<CStatsCount> topViewedItems;
    QList<CStatsCount> topViewRegions;
};

class CVisitStatistics
{
public:
    static constexpr int kTopCount = kStatsTopCount;
    static constexpr int kMaxDayBars = 31;

    // Reads the marks only; false when the store cannot be read.
    static bool ReadMarks(CStatsMarks& marks);
    // Runs every statement, several at once on connections of their own; ok is false
    // (and the failure logged) when one fails. Ends early, failing, when the calling
    // thread's stop flag is raised.
    static CVisitStats Load(const CStatsQuery& query);
    // How many threads Load reads on at most (benchmarks compare); 0: one a statement.
    static void SetMaxReaders(int readers);
    // What the store still needs before the statements read it fast: its statistics
    // indexes (an existing store gets them at the page's first reading). Empty when nothing.
    static QStringList IndexWork();
    // Runs that work on a connection of its own; false (logged) when a statement fails or
    // the calling thread's stop flag is raised. Several seconds on a million visits.
    static bool BuildIndexes(const QStringList& work);
};
