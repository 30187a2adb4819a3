#pragma once
// The page-view wake-up: one waiting "/rivuzovara/WaitInfo.asp" request per
// monitored account, all on this one thread over libcurl's multi interface.
// Views that arrive are handed to the deliver callback (on this thread); the
// account then rests until the monitoring thread answers with Continue, so a
// view the store could not keep is asked for again. An account whose service
// lacks the route (404, or no "+OK") is left to the interval poll and asked
// again after 30 minutes; a failing service is retried after 1, 2, 4 ... 60 s.
// Owned and stopped by the monitoring thread; Stop ends it at once, waiting
// requests included. Times come from Clock(), so tests can skip ahead.
#include "net/WaitInfoReply.h"

#include <QString>
#include <QThread>

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

struct CWakeup
{
    int account = -1;                 // index into the accounts the waiter was given
    qint64 after = 0;                 // what the request asked after
    qint64 next = 0;                  // the number to go on from once these views are kept
    std::vector<CWaitRecord> records; // oldest first; none when only the start number moved
};

class CViewWaiter : public QThread
{
    Q_OBJECT
public:
    struct CAccount
    {
        QString shop;
        QString webId;
        qint64 lastSeq = 0; // the last view kept; 0 before the first
    };
    using Deliver = std::function<void(CWakeup&&)>;

    static constexpr int kFallbackMs = 30 * 60 * 1000;
    static constexpr int kMaxBackoffSeconds = 60;
    // The service answers a waiting request within 25 s; the rest is room for a slow network.
    static constexpr int kWaitRequestMs = 40 * 1000;

    CViewWaiter(const QString& trackingBase, std::vector<CAccount> accounts, Deliver deliver,
                QObject* parent = nullptr);
    // Stops and joins.
    ~CViewWaiter() override;

    // Raises the stop flag, wakes the thread out of its wait and joins it.
    void Stop();
    // After a delivery: go on waiting for views above after, no sooner than delayMs from now.
    void Continue(int account, qint64 after, int delayMs = 0);
    // True while every account has a request waiting (or views being kept).
    bool RealTime() const { return m_realTime.load(); }
    // Requests sent, answers (or failures) handled and passes of the loop so far, for tests.
    int RequestCount() const { return m_requests.load(); }
    int Answers() const { return m_answers.load(); }
    int Passes() const { return m_passes.load(); }

protected:
    void run() override;

private:
    struct CState;
    struct CContinue
    {
        int account;
        qint64 after;
        int delayMs;
    };

    void TakeContinues(std::vector<CState>& states);
    void StartDue(std::vector<CState>& states, qint64 nowMs);
    void Finish(CState& state, int index, qint64 nowMs);
    void Fail(CState& state, const QString& reason, qint64 nowMs);
    void Recovered(CState& state);
    int NextTimeoutMs(const std::vector<CState>& states, qint64 nowMs) const;

    QString m_base;
    std::vector<CAccount> m_accounts;
    Deliver m_deliver;
    void* m_multi = nullptr; // CURLM*
    std::atomic<int> m_stop{0};
    // Set when run() returns; read after wait(), whose hand-over (Qt's own futex) the thread
    // checker cannot see, so the cleanup of the request session is ordered after run() for it too.
    std::atomic<bool> m_ended{false};
    std::atomic<bool> m_realTime{false};
    std::atomic<int> m_requests{0};
    std::atomic<int> m_answers{0};
    std::atomic<int> m_passes{0};
    std::mutex m_mutex;
    std::vector<CContinue> m_continues;
    int m_failing = 0;
    bool m_routeAbsentLogged = false;
};
