#pragma once
// What the statistics page asks of the tables (a shop, a period) and the
// pieces every table owner's grouped reads share: the period's condition and
// the reading of (text, count[, count]) rows. Any thread; each read runs on
// the connection it is given.
#include <QDate>
#include <QString>

#include <functional>

class CAdoConnection;

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

// The most bars of a ranking.
constexpr int kStatsTopCount = 10;

// The first day a period covers ("全部": an invalid date).
QDate StatsPeriodStart(EStatsPeriod period, const QDate& today);
// "yyyy-MM-dd", the form the stores' times start with.
QString StatsDayText(const QDate& day);
// " where ..." for a table with a shop and a time column (empty: no condition); the time
// condition compares timeExpression with day texts, which sort below every time of their day.
QString StatsWhere(const CStatsQuery& query, const QString& shopColumn, const QString& timeExpression);

using CCountRowReader = std::function<void(const QString& key, int first, int second)>;
// Reads the (text, count[, count]) rows of a grouped query; false (logged) when it fails.
bool ReadCountRows(CAdoConnection* connection, const QString& sql, const CCountRowReader& row);
