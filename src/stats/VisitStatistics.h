#pragma once
// The numbers of the statistics page (访客统计), read with grouped statements
// from [client] and [greetlog]. Load runs on a worker thread (it may take a
// good part of a second on a long history) over connections of its own; the
// statements are pure and tested on their own. Values read from the store
// (addresses, regions, shop names) come back as they are stored: whoever
// shows them shows them as plain text.
#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>

enum class EStatsPeriod
{
    Today = 0,
    Last7Days = 1,
    Last30Days = 2,
    All = 3
};

struct CStatsQuery
{
    QString shop; // empty: every shop
    EStatsPeriod period = EStatsPeriod::Last7Days;
    QDate today;
};

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
    bool operator==(const CStatsBucket&) const = default;
};

// What the store looked like when the numbers were read: the largest ids of
// [client] and [greetlog]. Equal marks mean nothing was added since.
struct CStatsMarks
{
    qint64 visit = -1;
    qint64 greeting = -1;
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
};

class CVisitStatistics
{
public:
    static constexpr int kTopCount = 10;
    static constexpr int kMaxDayBars = 31;

    // The first day a period covers ("全部": an invalid date).
    static QDate PeriodStart(EStatsPeriod period, const QDate& today);

    // Visits per day and hour: "yyyy-MM-dd HH" keys with their counts.
    static QString DayHourSql(const CStatsQuery& query);
    static QString TopItemsSql(const CStatsQuery& query);
    static QString TopRegionsSql(const CStatsQuery& query);
    // Per day, the visits whose visitor was recorded for the shop on an earlier day.
    static QString ReturningSql(const CStatsQuery& query);
    // Per day, greetings that went out and greetings that did not.
    static QString GreetingsSql(const CStatsQuery& query);
    static QString MarksSql();
    static QString ShopsSql();

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
