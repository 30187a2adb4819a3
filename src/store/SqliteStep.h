#pragma once
// One statement on an SQLite handle whose mutex the caller holds: the store's
// single statements and its transactions step, count and log the same way.

#include <QString>

struct sqlite3;

// The rows changed, or -1 after a failure it has logged (the statement's head only).
int StepStatementLocked(sqlite3* db, const QString& sql);
