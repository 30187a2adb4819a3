#pragma once
// The one database connection of the process (g_pConnection): the local SQLite file
// (CSqliteBackend) or the team's PostgreSQL server (CTeamBackend), chosen at Open or
// ConnectTeam. Statements are the Jet-flavoured texts of the program ([bracketed] names,
// #date# literals), translated on the way in; every thread may run them without a lock of
// its own. Owned by the application object; created before any page, destroyed last.
#include "store/SqlText.h"

#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <shared_mutex>

class QThread;
class CStoreBackend;
class CStoreCursor;
struct sqlite3;

// The window's thread waits only briefly for another program's write lock.
constexpr int kWindowBusyTimeoutMs = 250;

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

    // The local store's handle for the workers (tests trace it); null on the team store.
    sqlite3* Handle() const;

    // The path a connection string names ("Data Source=").
    static QString DataSourceOf(const QString& connectionString);

private:
    friend class CAdoRecordSet;
    // One query's rows; null on any error (logged).
    std::unique_ptr<CStoreCursor> OpenCursor(const QString& sql);

    QString m_connectionString;
    QString m_lastOpenError;
    std::unique_ptr<CStoreBackend> m_backend;
    std::atomic<QThread*> m_windowThread{nullptr};
    int m_windowBusyMs = kWindowBusyTimeoutMs;
    // Shared by statements, exclusive for Open/Close, so no statement meets a freed backend.
    mutable std::shared_mutex m_backendLock;
};

extern CAdoConnection* g_pConnection;
