#pragma once
// The statement texts of the visits' owner (CVisitTable), kept apart so tests
// can hold them to their fixed templates and run them on both stores. Text
// values are escaped with SqlText so a name with a quote is found intact; a
// row id goes in unquoted, so it is taken only when it is a whole number.
#include "tables/StatsQuery.h"

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <string_view>
#include <vector>

// The history page's searches, newest first.
QString HistoryShowAllSql();
// "%.4d-%.2d-%.2d 00:00:00" and "%.4d-%.2d-%.2d 23:59:59" of a day.
QString HistoryDayStartText(const QDate& day);
QString HistoryDayEndText(const QDate& day);
QString HistoryDaySql(const QDate& day);
// The text matches anywhere in the name; an empty text matches every row.
QString HistoryVisitorSql(const QString& visitor);
QString HistoryShopSql(const QString& shop);
// One visit by its id; empty when idText is not a whole number.
QString HistoryVisitSql(const QString& idText);
// Empty when idText is not a whole number (nothing must be deleted then).
QString HistoryDeleteRowSql(const QString& idText);
// All the given rows in one statement, so they go in one transaction; the one-row
// statement above when there is only one. Ids that are no whole number are left out;
// empty when none is left.
QString HistoryDeleteRowsSql(const QStringList& idTexts);
// The same for ids already read (negative ones are left out). Long runs of
// consecutive ids go in as ranges, so deleting a whole list of a million
// visits is a short statement.
QString HistoryDeleteIdsSql(std::vector<qint64> ids);
QString HistoryDeleteRangeSql(const QDate& first, const QDate& last);
// Item addresses with their number of visits, most visited first.
QString HistoryRankingSql();

// The visitor list's newest visits (it reads the first rows only).
QString LatestVisitsSql();
// The visits with these ids, newest id first.
QString VisitsByIdsSql(const QList<qint64>& ids);
// The upkeep's step: at most `most` visits stamped before cutoff, oldest first.
QString DeleteVisitsBeforeSql(const QString& cutoff, int most);
QString DeleteVisitorSql(const QString& visitor);

// The statistics page's reads. Visits per day and hour: "yyyy-MM-dd HH" keys with their counts.
QString StatsDayHourSql(const CStatsQuery& query);
QString StatsTopItemsSql(const CStatsQuery& query);
QString StatsTopRegionsSql(const CStatsQuery& query);
// Per day, the visits whose visitor was recorded for the shop on an earlier day.
QString StatsReturningSql(const CStatsQuery& query);
// The largest visit id, 0 when there is none.
QString VisitLastIdSql();

bool IsWholeNumber(const QString& text);
// -1 when text is not a whole number.
qint64 WholeNumber(std::string_view text);

// Runs one delete of the visits (on the caller's thread, a worker for the history
// page). Replaceable so tests can see the statements; an empty function selects the store.
using VisitDeleteRunner = std::function<bool(const QString& sql)>;
VisitDeleteRunner SetVisitDeleteRunner(VisitDeleteRunner runner);
// What the store does with one: a transaction that empties [client] at once when
// it takes every row.
bool ExecuteVisitDelete(const QString& sql);
