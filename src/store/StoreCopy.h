#pragma once
// Moving a shop onto the team store: the accounts, visits, greeting log and
// page views of a local Info.mdb copied into the PostgreSQL store, each row only when the
// team store lacks it, so a second run copies nothing. Runs on the calling
// thread with the two connections the caller owns.
#include <QString>

class CAdoConnection;

struct CStoreCopyCounts
{
    int accountsCopied = 0;
    int accountsThere = 0;
    int visitsCopied = 0;
    int visitsThere = 0;
    int greetingsCopied = 0;
    int greetingsThere = 0;
    int pageViewsCopied = 0;
    int pageViewsThere = 0;
    // Rows already there that took a column from the local row.
    int thereUpdated = 0;
};

// Accounts are the same when their names are, visits when visitor and shop
// are (the team store's unique index), page views when shop and number are
// (the same), greeting log rows when every column but the reason is. An
// account already there takes the local view number when it is greater and
// the web ID the same; a greeting log row already there without a reason
// takes the local one.
// False at the first failure, with *error; the counts then hold what was
// committed before it.
bool CopyStoreToTeam(CAdoConnection& local, CAdoConnection& team, CStoreCopyCounts& counts, QString& error);
QString StoreCopyReport(const CStoreCopyCounts& counts);
