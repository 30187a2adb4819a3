#pragma once
// The monitoring thread's side of the page-view wake-up: runs the waiter for
// the accounts it polls, keeps every view it hears of (CPageViewTable; on the
// team store only for the accounts this machine polls) and polls that account
// at once, the newest view standing in for the feed. The thread's pauses end
// early when views come, so the woken poll and the interval polls never
// overlap. Owned by one monitoring thread and used only there; the waiter's
// thread only posts.
#include "tables/AccountTable.h"
#include "net/ViewWaiter.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

class CAccountLocks;

class CViewWakeups
{
public:
    // When the store could not keep views, they are asked for again this much later.
    static constexpr int kStoreRetryMs = 5000;

    explicit CViewWakeups(const std::atomic<int>& stop);
    ~CViewWakeups();
    CViewWakeups(const CViewWakeups&) = delete;
    CViewWakeups& operator=(const CViewWakeups&) = delete;

    // Starts waiting for the accounts' views; each goes on from the last view kept.
    void Start(const QList<CAccount>& accounts, CAccountLocks& locks);
    // Ends the waiting requests at once and joins the waiter.
    void Stop();
    // Polls every account that views came for, until none is left or the stop flag rises.
    void Serve();
    // Like PauseUnlessStopped, serving views as they come; seconds is read again every second.
    bool Pause(const std::atomic<int>& seconds);
    bool Pause(int seconds);

private:
    template <typename Seconds> bool PauseSteps(const Seconds& seconds);
    void Post(CWakeup&& wakeup);
    void ServeOne(const CWakeup& wakeup);

    const std::atomic<int>& m_stop;
    std::vector<CAccount> m_accounts; // those the waiter knows, by its index
    CAccountLocks* m_locks = nullptr;
    std::unique_ptr<CViewWaiter> m_waiter;
    bool m_published = false; // what this thread last told of hearing in real time
    std::mutex m_mutex;
    std::condition_variable m_posted;
    std::deque<CWakeup> m_pending;
};
