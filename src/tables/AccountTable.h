#pragma once
// The monitored shop accounts ([user]): the one place that reads and writes
// the table, on the local store and on the team store alike, so no caller
// knows which it is. Stateless; any thread (the window's, the add and modify
// workers, the monitoring thread, the start-up state check). Every call is one
// statement or one reading on the connection given (g_pConnection when none
// is, taken at each call), and does nothing (false, no rows) without one.
#include <QList>
#include <QString>
#include <QStringList>

class CAdoConnection;

// One monitored shop account, one row of [user]: what the configuration page
// edits, the add and modify flows store and the monitoring thread polls.
struct CAccount
{
    QString userName;        // [username]: the shop's account name, the row's key
    QString greetingAccount; // [usersmailname]: the IM account that greets (and whose page lists visitors)
    QString password;        // [password]: the anti-monitoring password, as typed
    QString webId;           // [webid]: as the tracking service issued it
    QString greeting;        // [messageinfo]: the greeting template
    bool autoSend = true;    // [autosend]
};

// The web ID's leading decimal number: optional blanks and sign, then digits
// (as the C library reads an int); 0 when the text does not start with one.
int WebIdToInt(const QString& webId);

enum class EAccountLookup
{
    Missing,
    Exists,
    Unreadable // the query could not be opened
};

class CAccountTable
{
public:
    explicit CAccountTable(CAdoConnection* connection = nullptr) : m_connection(connection) {}

    // Every account in [id] order (the account list, the polls, the state
    // check); a row whose columns cannot be read is left out. Empty when the
    // store did not answer.
    QList<CAccount> ReadAll() const;
    // A monitoring thread's accounts, read at its start, are kept for its life:
    // a change is seen by the next thread. The team store may not have answered
    // at the start, and another machine may add the first account: there a list
    // that is still empty is read again at each cycle.
    void RefreshPollList(QList<CAccount>& accounts) const;

    // The account of that name; *account filled when it exists.
    EAccountLookup Find(const QString& userName, CAccount* account = nullptr) const;

    // Each false when its statement failed; the updates also when they changed no row.
    bool Insert(const CAccount& account) const;
    // Password, greeting account, greeting and switch of the row named account.userName; never the web ID.
    bool Update(const CAccount& account) const;
    bool Delete(const QString& userName) const;
    bool SaveGreeting(const QString& userName, const QString& greeting, bool autoSend) const;

    // The statement texts, for the calls above and for tests.
    static QString InsertSql(const CAccount& account);
    static QString UpdateSql(const CAccount& account);
    static QString DeleteSql(const QString& userName);
    static QString SaveGreetingSql(const QString& userName, const QString& greeting, bool autoSend);

private:
    CAdoConnection* Connection() const;

    CAdoConnection* m_connection;
};
