#pragma once
// One thread's libpq session of the team store, and a query's rows read as the
// server sends them. Used by its thread only, except that the store closes it
// when it closes; the lock keeps that from cutting a statement in half.
#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>

struct pg_conn;
struct pg_result;
class CTeamRows;

class CTeamSession : public std::enable_shared_from_this<CTeamSession>
{
public:
    ~CTeamSession();
    void Adopt(pg_conn* conn);
    void Finish();
    // The store closed: the owner thread drops the session at its next use.
    void Retire();
    bool IsRetired() const { return m_retired; }
    // Up, as far as can be told without a round trip.
    bool IsUp();
    bool NeedsWindowTimeout() const { return !m_windowTimeout; }
    void SetWindowTimeout() { m_windowTimeout = true; }
    pg_conn* Conn() { return m_conn; }

    // One statement and its whole result; null on failure with *error, *lost when the session broke.
    pg_result* Run(const QByteArray& sql, int deadlineMs, QString* error, bool* lost);
    // One query whose rows come one at a time: a reader that stops early neither waits for
    // nor keeps the rest. Null on failure, as Run.
    std::unique_ptr<CTeamRows> Stream(const QByteArray& sql, int deadlineMs, QString* error, bool* lost);

private:
    friend class CTeamRows;
    // The following run with m_lock held.
    bool Send(const QByteArray& sql, QString* error, bool* lost);
    // Waits until a result can be taken without blocking; false when the session was given up.
    bool AwaitResult(const QDeadlineTimer& deadline, QString* error);
    // Every result still to come, discarded; the server is asked to stop when rows are still coming.
    void Drain(bool cancel);
    // Another statement comes while rows are being read: they are taken into memory first.
    void ParkStream();
    void GiveUp();

    std::mutex m_lock;
    pg_conn* m_conn = nullptr;
    bool m_windowTimeout = false;
    std::atomic<bool> m_retired{false};
    CTeamRows* m_stream = nullptr;
};

class CTeamRows
{
public:
    ~CTeamRows();
    CTeamRows(const CTeamRows&) = delete;
    CTeamRows& operator=(const CTeamRows&) = delete;

    // Row 0 of it is the current row; at the end a result without rows (it still names the columns).
    const pg_result* Current() const { return m_current; }
    bool AtEnd() const { return m_end; }
    // Moves to the next row; false when reading failed (logged).
    bool Next();

private:
    friend class CTeamSession;
    CTeamRows(std::shared_ptr<CTeamSession> session, int deadlineMs, pg_result* first);
    // Takes a result as the next row or the end; false for an error.
    bool Take(pg_result* result);

    std::shared_ptr<CTeamSession> m_session;
    const int m_deadlineMs;
    pg_result* m_current = nullptr;
    std::deque<pg_result*> m_parked;
    bool m_live = false; // rows still come from the session (guarded by the session's lock)
    bool m_failed = false;
    bool m_end = false;
};
