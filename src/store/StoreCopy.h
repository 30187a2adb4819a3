#pragma once
// Moving a shop onto the team store: the accounts, visits and greeting log of
// a local Info.mdb copied into the PostgreSQL store, each row only when the
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
};

// Accounts are the same when their names are, visits when visitor and shop
// are (the team store's unique index), greeting log rows when every column is.
// False at the first failure, with *error; the counts then hold what was
// committed before it.
bool CopyStoreToTeam(CAdoConnection& local, CAdoConnection& team, CStoreCopyCounts& counts, QString& error);
QString StoreCopyReport(const CStoreCopyCounts& counts);
