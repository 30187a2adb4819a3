#pragma once
// The team store as the rest of the program sees it: whether the store is the
// shared PostgreSQL one, this machine's name in it, whether the server answers,
// and this machine's [machine] row (the shops it greets for, when it was last
// seen). On the default SQLite store there is no team: OnTeamStore() is false
// and nothing here touches the store. Any thread; the rows are CSettingsTable's,
// each call one statement on the caller's own session.
#include <QString>
#include <QStringList>

bool OnTeamStore();
// Empty when there is no team store.
QString ThisMachine();
// False while the team store's server is away; true on the SQLite store.
bool StoreReachable();

// The shops machine greets for, as the 团队设置 dialog stored them; empty
// (and *ok false) when the store does not answer.
QStringList ReadGreetShops(const QString& machine, bool* ok = nullptr);
// Stores the shops machine greets for (one row per machine); false when the statement failed.
bool WriteGreetShops(const QString& machine, const QStringList& shops);
// Marks this machine as seen now; false when the statement failed.
bool TouchMachine();

// A list of shops as the text of an SQL "in (...)": each quoted; "''" for none.
QString SqlTextList(const QStringList& values);
