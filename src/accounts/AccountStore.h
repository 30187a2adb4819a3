#pragma once
// The statements of the configuration page against [user] and [AutoSend].
// Called from the window's thread and from the add / modify workers; every
// call is one statement or one reading through g_pConnection, and does
// nothing (false, no rows) when there is no connection.
#include <QList>
#include <QString>

// One row of [user] as the page edits it.
struct CAccountRecord
{
    QString userName;
    QString greetingAccount;
    QString password;
    QString webId;
    QString greeting;
    bool autoSend = true;
};

// What the account list shows of a row: the name and the web ID as a number.
struct CAccountListEntry
{
    QString userName;
    int webId = 0;
};

// The web ID's leading decimal number: optional blanks and sign, then digits
// (as the C library reads an int); 0 when the text does not start with one.
int WebIdToInt(const QString& webId);
// The name with every blank (U+0020) taken out.
QString RemoveBlanks(const QString& text);

// "select * from [user] order by [id]": name and web ID of every account.
QList<CAccountListEntry> ReadAccountList();

enum class EAccountLookup
{
    Missing,
    Exists,
    Unreadable // the query could not be opened
};
EAccountLookup LookupAccount(const QString& userName);

// The account of that name; false when there is none.
bool ReadAccount(const QString& userName, CAccountRecord& account);

// Each false when its statement failed.
bool InsertAccount(const CAccountRecord& account);
// Password, greeting account, greeting and switch of the row named account.userName.
bool UpdateAccount(const CAccountRecord& account);
bool DeleteAccount(const QString& userName);
bool SaveAccountGreeting(const QString& userName, const QString& greeting, bool autoSend);
// Drops every queued greeting.
bool ClearGreetingQueue();

// The statement texts, for the callers above and for tests.
QString InsertAccountSql(const CAccountRecord& account);
QString UpdateAccountSql(const CAccountRecord& account);
QString DeleteAccountSql(const QString& userName);
QString SaveAccountGreetingSql(const QString& userName, const QString& greeting, bool autoSend);
