#pragma once
// The program's Jet-flavoured statements as PostgreSQL reads them (team store).
#include <QString>

// [Name] becomes "name" (the team schema is lower-case throughout), #date# the store's text
// form, like becomes ilike without an escape character (SQLite's like ignores ASCII case and
// has none), `where 0` `where false`, and the SQLite-only functions the program calls map to
// the schema's own. An insert into [client] does nothing for a visitor already recorded.
QString TranslateForTeam(const QString& sql);
