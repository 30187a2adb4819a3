#pragma once
// The PostgreSQL side of CAdoConnection (the team store). One libpq session per
// thread that uses the store, made by that thread's first statement and closed
// when the thread ends or the store closes, so an advisory lock taken through a
// record set lives in the caller's session. A watch thread finds the server again
// after it went away (back-off 1 s, 2 s, 4 s ... 30 s); meanwhile statements fail
// at once. Owned by its CAdoConnection; every thread may call it.
#include "store/Variant.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

struct pg_conn;
struct pg_result;
class QThread;
class CTeamSession;
class CTeamRows;

constexpr int kTeamConnectTimeoutS = 5;
// libpq's shortest; the window's thread connects only after the watch found the server answering.
constexpr int kWindowConnectTimeoutS = 2;
// The window's statements end by then at the latest (the server cancels them); nothing freezes it.
constexpr int kWindowStatementTimeoutMs = 10000;
constexpr int kTeamRetryFirstMs = 1000;
constexpr int kTeamRetryMaxMs = 30000;

// Connects to the url (a libpq connection string or URI) with the store's time-outs and
// keepalives; the url's own settings win. Blocking, or started for PQconnectPoll.
pg_conn* TeamConnect(const QString& url, bool blocking, int timeoutS = kTeamConnectTimeoutS,
                     const char* applicationName = "mirelhelper");
// Pins what the program's statements rely on (standard_conforming_strings=on, client_encoding
// UTF8, search_path public) on a new session; false with the reason.
bool TeamPinSession(pg_conn* conn, QString* why);
// True when a failed connect was the server refusing us (user, password, database) or a
// url libpq cannot read: trying again will not help.
bool TeamConnectRefused(pg_conn* conn, const QString& url);
// libpq's reason, one line.
QString TeamErrorText(pg_conn* conn);
// Shown on the status bar while the server is away.
QString TeamLostText();

class CTeamStore
{
public:
    CTeamStore(const QString& url, const QString& machine);
    ~CTeamStore();
    CTeamStore(const CTeamStore&) = delete;
    CTeamStore& operator=(const CTeamStore&) = delete;

    // Connects the calling thread and makes the schema when the server has none. False when
    // it did not connect; *refused tells a refusal (no use retrying) from a server away.
    bool Start(QString* why, bool* refused);
    // One translated statement on the calling thread's session; null on failure (logged by the caller
    // with *error). The caller frees the result.
    pg_result* Run(const QString& sql, QString* error);
    // One translated query whose rows are read as they come; null on failure, as Run.
    std::unique_ptr<CTeamRows> Stream(const QString& sql, QString* error);
    bool IsReachable() const;
    QString Url() const;
    QString Machine() const;
    void SetWindowThread(QThread* thread);
    // The value type a result column from table column (table, column) declares; Empty: by value.
    EVarType DeclaredType(unsigned table, int column) const;

private:
    std::shared_ptr<CTeamSession> SessionForCaller(QString* why);
    // The client-side bound of a statement on the calling thread.
    int DeadlineForCaller() const;
    bool PrepareSession(pg_conn* conn, QString* why);
    bool EnsureSchema(pg_conn* conn, QString* why);
    void LoadTypes(pg_conn* conn);
    void MarkLost(const QString& why);
    void Watch();

    const quint64 m_id;
    const QString m_url;
    const QString m_machine;
    std::atomic<QThread*> m_windowThread{nullptr};
    std::atomic<bool> m_reachable{true};
    std::atomic<bool> m_schemaReady{false};
    std::mutex m_schemaMutex;
    mutable std::mutex m_typesMutex;
    std::map<std::pair<unsigned, int>, EVarType> m_types;
    std::mutex m_sessionsMutex;
    std::vector<std::weak_ptr<CTeamSession>> m_sessions;
    std::mutex m_watchMutex;
    std::condition_variable m_watchWake;
    bool m_stopping = false;
    // Not a one-shot: it watches the connection for the store's whole life and is joined by the destructor.
    std::thread m_watch;
};
