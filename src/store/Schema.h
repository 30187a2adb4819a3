#pragma once
// The start-up checks of the store, and the tables a new store gets.
#include <QStringList>

class CAdoRecordSet;
class CAdoConnection;

// True when the record set has a column of that name (case-insensitive).
bool HasColumn(CAdoRecordSet& recordSet, const char* name);
// Brings a store made by an earlier version into today's shape: adds [sysseting].[AddRandom]
// when it is missing, adds the greeting log [greetlog] and
// the advanced settings [advsetting] (with its row; [keepdays] where an earlier one lacks it), gives the IM-ID column
// of [client] its name [imuid], keeping every row, adds the visitor list's indexes a store lacks, the page
// views [pageview] and each account's last view number [user].[viewseq].
void UpgradeSchema(CAdoConnection* connection);

// The statements that build a new Info.mdb: the four tables in the column order every
// reader relies on (columns are fetched by position) and the one [sysseting] row.
QStringList NewStoreStatements();
// A column of a settings table: its name, declared type and the value a new row gets.
struct CStoreColumn
{
    const char* name;
    const char* type;
    QString byDefault;
};
// [advsetting]'s columns after [id], in the order readers fetch them. A column a later
// version adds goes at the end (the team store's view shows them in this order).
QList<CStoreColumn> AdvSettingColumns();
// [advsetting]: the one row (id 1) of the owner's advanced alert and greeting settings; the row
// statement adds it only when it is missing.
QString AdvSettingTableStatement();
QString AdvSettingRowStatement();
// The [sysseting] row a new store starts with, and its values "(1,...)" in column order.
QString SettingsRowStatement();
QString SettingsRowValues();
// [greetlog]: one row per greeting, written when its fate is decided: [ok] whether it went
// out, [reason] why not (empty when sent).
QString GreetLogStatement();
// [pageview]: every page view the tracking service reported, once by shop and [seq] (its unique
// index), with the index on the view time; "if not exists", so an upgrade runs them as they are.
QStringList PageViewStatements();
// The country part of a visit's region (the text before the first blank of [city]),
// as the statistics statements and the index on it write it.
QString CityCountrySql();
// Indexes the statistics page's grouped statements read instead of the table ("if not exists").
// A new store gets them at once; an existing one when the statistics page first reads it.
QStringList StatisticsIndexStatements();
QStringList StatisticsIndexNames();
// What an existing store still needs for the statistics: the create statements of the
// statistics indexes it lacks, then the drop of the visitor index the one with the time makes
// redundant. Run in order, stopping at a failure. Empty when there is nothing to do or the
// store cannot tell.
QStringList StatisticsIndexWork(CAdoConnection* connection);
// The indexes of [client] an upgraded store gets at start: visitor by shop (unless the
// statistics' visitor index with the time is there), visit time.
QStringList ClientIndexStatements();
