#pragma once
// The tables of the team store on PostgreSQL: the same tables and column order as
// Info.mdb (readers fetch by position), lower-case names, and the declared types as
// domains so the record set reads the same value types.
#include <QString>
#include <QStringList>

// Run once, in one transaction under an advisory lock, when the store has no [client] yet.
QStringList TeamSchemaStatements();
// Run at every start under the same lock: what is missing from a store an older version made.
// A query of three columns: [advsetting]'s kind ("r": the shared table of old), whether [visit_origin]
// is missing, and [advsetting]'s column names joined by ", ".
QString TeamUpgradeCheckStatement();
struct CTeamSchemaState
{
    bool sharedAdvSetting = false;
    bool visitOriginMissing = false;
    QString advSettingColumns;
};
QStringList TeamUpgradeStatements(const CTeamSchemaState& state);
// This machine's [advsetting] row, made when it has none.
QStringList TeamAdvSettingRowStatements();
// This session's machine ($1): the [sysseting] view shows its row, the visit trigger names it.
QString TeamMachineSetup();
// Dates the server writes (the queue time) in this machine's local time ($1), as the program writes its own.
QString TeamTimeZoneSetup();
// Adds the columns a store made by an earlier version lacks (the greeting log's reason, the
// queue's claim and server-time marks, the accounts' last view number) and the page views'
// table; altered or made only when missing.
QString TeamColumnUpgradeStatement();
// This machine's settings row, made from the defaults when it has none.
QString TeamSettingsRowStatement();
// The lock that keeps two machines from making the schema at once.
constexpr long long kTeamSchemaLockKey = 0x6d6972656c;
// The notification channel of new visits; payload "<id> <machine>".
constexpr char kTeamVisitChannel[] = "mirel_visit";
