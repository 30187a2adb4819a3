#pragma once
// The one database connection of the process (g_pConnection), over SQLite in
// serialised mode: the window's thread and the worker threads use it without
// a lock of their own. Once a window thread is named, that thread's statements
// go through a second SQLite handle with a short busy time-out, so a worker
// waiting on another program's write lock never holds the window up. Statements are the Jet-flavoured texts of the
// program
// ([bracketed] names, #date# literals), translated on the way in.
// Owned by the application object; created before any page, destroyed last.
#include "store/Variant.h"

#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <shared_mutex>

class QThread;
class CTeamStore;
class CTeamRows;
struct pg_result;

// Workers wait this long for another writer; the window's thread only briefly.
constexpr int kWorkerBusyTimeoutMs = 10000;
constexpr int kWindowBusyTimeoutMs = 250;

struct sqlite3;
struct sqlite3_stmt;

class CAdoConnection
{
public:
    CAdoConnection();
    virtual ~CAdoConnection();
    CAdoConnection(const CAdoConnection&) = delete;
    CAdoConnection& operator=(const CAdoConnection&) = delete;

    // Builds "Provider=Microsoft.Jet.OLEDB.4.0; Data Source=<path>" and opens it.
    // A missing file is created with the four tables and the settings row.
    bool Connect(const QString& path, const QString& password = QString(), int options = -1);
    bool Open(const QString& connectionString, int options = -1);
    // The team store on PostgreSQL (url: a libpq connection string or URI). False, with
    // LastOpenError, when the server refused us; a server that is away is retried in the
    // background (IsReachable() false meanwhile) and this returns true.
    bool ConnectTeam(const QString& url, const QString& machine);
    void Close();
    bool IsOpen() const;
    bool IsTeamStore() const;
    // This machine's name in the team store; empty on SQLite.
    QString MachineName() const;
    // False while the team store's server is away; on SQLite, IsOpen().
    bool IsReachable() const;
    // Runs one change statement; false on any error (nothing is shown, the error is logged).
    bool Execute(const QString& sql);
    // The same; the number of rows the statement changed, -1 on any error.
    int ExecuteChanges(const QString& sql);
    // Runs statements as one transaction no other thread's statement enters: first, then
    // what next gives for the number of statements done and the change count of the last
    // one (empty ends the chain). All take effect or none: false, rolled back and logged,
    // on any failure. *changes gets each statement's change count.
    bool ExecuteChain(const QString& first, const std::function<QString(int done, int changes)>& next,
                      QList<int>* changes = nullptr);
    // Statements made on thread from now on use a handle of their own with the given busy time-out.
    void SetWindowThread(QThread* thread, int busyTimeoutMs = kWindowBusyTimeoutMs);
    // "delete from <table> where <condition>" as one transaction no other
    // thread's statement enters; when the condition holds for every row the
    // table is emptied at once instead of row by row (a million rows with their
    // indexes take a minute the slow way).
    bool DeleteWhere(const QString& table, const QString& condition);

    QString ConnectionString() const;
    // Why the last Connect/Open failed, for the one start-up message; empty after success.
    QString LastOpenError() const;

    // The workers' handle (tests trace it).
    sqlite3* Handle() const;
    // Prepares one query and steps to its first row; *hasRow tells whether there is one.
    // Null on any error. The statement stays usable after Close (the store frees the
    // connection when its last statement is finalised).
    sqlite3_stmt* OpenQuery(const QString& sql, bool* hasRow);
    // The team store's whole result of one query; null on any error. The caller frees it.
    pg_result* OpenTeamQuery(const QString& sql);
    // The same query's rows as the server sends them (record sets read these).
    std::unique_ptr<CTeamRows> OpenTeamRows(const QString& sql);
    // The value type a team store result column declares (its table column's domain); Empty: by value.
    EVarType TeamDeclaredType(unsigned table, int column) const;

    // The path a connection string names ("Data Source=").
    static QString DataSourceOf(const QString& connectionString);

private:
    bool OpenFile(const QString& path);
    void OpenWindowHandleLocked(const QString& path);
    // The handle for the calling thread; m_handleLock held.
    sqlite3* HandleForCaller() const;

    QString m_connectionString;
    QString m_lastOpenError;
    sqlite3* m_db = nullptr;
    sqlite3* m_windowDb = nullptr;
    std::unique_ptr<CTeamStore> m_team;
    std::atomic<QThread*> m_windowThread{nullptr};
    int m_windowBusyMs = kWindowBusyTimeoutMs;
    // Shared by statements, exclusive for Open/Close, so no statement meets a freed handle.
    mutable std::shared_mutex m_handleLock;
};

extern CAdoConnection* g_pConnection;

// A text value ready to stand between single quotes in a statement: every
// single quote doubled. Every caller that formats text into SQL uses it.
QString SqlText(const QString& value);
// Numbers (row ids) as the list inside "in (...)": "3,5,8".
QString SqlNumberList(const QList<qint64>& numbers);

// The statement as SQLite reads it: #date# literals outside quotes and brackets become
// '...' text literals in the store's form "YYYY-MM-DD HH:MM:SS".
QString TranslateStatement(const QString& sql);
