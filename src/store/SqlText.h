#pragma once
// Text helpers for the program's Jet-flavoured statements ([bracketed] names, #date#
// literals): quoting values, and reading a statement as SQLite or PostgreSQL does.
// Pure functions of their arguments; any thread.
#include <QList>
#include <QString>

// A text value ready to stand between single quotes in a statement: every
// single quote doubled. Every caller that formats text into SQL uses it.
QString SqlText(const QString& value);
// Numbers (row ids) as the list inside "in (...)": "3,5,8".
QString SqlNumberList(const QList<qint64>& numbers);

// The statement as SQLite reads it: #date# literals outside quotes and brackets become
// '...' text literals in the store's form "YYYY-MM-DD HH:MM:SS".
QString TranslateStatement(const QString& sql);
// The statement as the team store (PostgreSQL) reads it: [Name] becomes "name" (the team
// schema is lower-case throughout), #date# the store's text form, like becomes ilike without
// an escape character (SQLite's like ignores ASCII case and has none), `where 0` `where false`,
// and the SQLite-only functions the program calls map to the schema's own. An insert into
// [client] does nothing for a visitor already recorded.
QString TranslateForTeam(const QString& sql);
