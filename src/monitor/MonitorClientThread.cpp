#include "monitor/MonitorClientThread.h"

#include "accounts/LiveSettings.h"
#include "accounts/TeamSettings.h"
#include "monitor/RefreshShop.h"
#include "monitor/ViewWakeups.h"
#include "platform/AbortScope.h"
#include "platform/Log.h"
#include "platform/Workers.h"
#include "tables/AccountLocks.h"

namespace {

std::atomic<int> g_liveCount{0};

constexpr int kPauseAfterAccountSeconds = 5;

} // namespace

// Counted from construction, so a thread created but not yet inside run()
// already holds a restart back.
CMonitorClientThread::CMonitorClientThread(QObject* parent) : QThread(parent)
{
    g_liveCount.fetch_add(1);
}

CMonitorClientThread::~CMonitorClientThread()
{
    ReleaseLiveCount();
}

void CMonitorClientThread::ReleaseLiveCount()
{
    if (m_counted.exchange(false))
        g_liveCount.fetch_sub(1);
}

int CMonitorClientThread::LiveCount()
{
    return g_liveCount.load();
}

void CMonitorClientThread::run()
{
    CWorkerScope scope(this, &m_stop);
    CAbortScope abort(&m_stop);
    // Released however run() ends, before finished() is emitted.
    struct CRelease
    {
        CMonitorClientThread* thread;
        ~CRelease() { thread->ReleaseLiveCount(); }
    } release{this};
    try {
        if (!PauseUnlessStopped(m_stop, 1))
            return;
        const CAccountTable accountTable;
        m_accounts = accountTable.ReadAll();
        // Lives as long as this thread's session of the team store, whose locks it tracks.
        CAccountLocks locks;
        // Views heard of between polls are served during the pauses, on this thread.
        CViewWakeups wakeups(m_stop);
        while (m_stop.load() == 0) {
            locks.BeginCycle();
            accountTable.RefreshPollList(m_accounts);
            wakeups.Start(m_accounts, locks);
            TouchMachine();
            for (const _CUserInfo& info : m_accounts) {
                // While the team store's server is away a poll could record nothing: the
                // visitors stay on the service's pages for the first poll after it is back.
                if (!StoreReachable()) {
                    qCDebug(LogMonitor) << "store unreachable; poll skipped";
                    continue;
                }
                // Another machine polls it; no poll, no pause.
                if (!locks.Holds(info.userName))
                    continue;
                RefreshShop(info.webId, info.userName, info.greetingAccount, info.greeting, info.autoSend);
                if (!wakeups.Pause(kPauseAfterAccountSeconds))
                    return;
            }
            // The interval is read every second, so a change shortens or
            // lengthens the wait already under way.
            if (!wakeups.Pause(LiveSettings().reflashtime))
                return;
        }
    } catch (...) {
        LogWorkerException(this);
        // A poll that throws ends monitoring quietly; the next restart begins afresh.
    }
}
