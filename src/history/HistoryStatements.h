#pragma once
// The statements the history page issues against [client] and [user]. Text
// values are escaped with SqlText so a name with a quote is found intact; a
// row id goes in unquoted, so it is taken only when it is a whole number.
#include <QDate>
#include <QString>

#include <string_view>
#include <vector>

QString HistoryShopsSql();
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

bool IsWholeNumber(const QString& text);
// -1 when text is not a whole number.
qint64 WholeNumber(std::string_view text);
