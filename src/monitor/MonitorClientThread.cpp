#include "monitor/MonitorClientThread.h"

#include "accounts/LiveSettings.h"
#include "monitor/RefreshShop.h"
#include "platform/AbortScope.h"
#include "platform/Clock.h"
#include "platform/Workers.h"
#include "store/AdoRecordSet.h"

namespace {

std::atomic<int> g_liveCount{0};

constexpr int kPauseAfterAccountSeconds = 5;

// Column positions of [user].
constexpr int kUserNameColumn = 1;
constexpr int kImNameColumn = 2;
constexpr int kWebIdColumn = 4;
constexpr int kMessageColumn = 5;
constexpr int kAutoSendColumn = 6;

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

std::vector<CMonitorClientThread::_CUserInfo> CMonitorClientThread::ReadAccounts()
{
    std::vector<_CUserInfo> accounts;
    CAdoRecordSet recordSet;
    if (!recordSet.Open(QStringLiteral("select * from [user] order by id")))
        return accounts;
    while (!recordSet.IsEOF()) {
        _CUserInfo info;
        bool autoSend = false;
        // The order of the fetches is the order the columns were always read in.
        if (recordSet.GetCollect(kWebIdColumn, info.webId) && recordSet.GetCollect(kUserNameColumn, info.account) &&
            recordSet.GetCollect(kImNameColumn, info.imName) && recordSet.GetCollect(kMessageColumn, info.greeting) &&
            recordSet.GetCollectBool(kAutoSendColumn, autoSend)) {
            info.autoGreet = autoSend ? QStringLiteral("1") : QStringLiteral("0");
            accounts.push_back(info);
        }
        recordSet.MoveNext();
    }
    recordSet.Close();
    return accounts;
}

bool CMonitorClientThread::PauseSeconds(int seconds)
{
    for (int i = 0; i < seconds; ++i) {
        if (m_stop.load() != 0)
            return true;
        SleepMs(1000);
    }
    // A stop raised during the last second must not let the next account be polled.
    return m_stop.load() != 0;
}

bool CMonitorClientThread::WaitInterval()
{
    // The interval is read before every step, so a change shortens or
    // lengthens the wait already under way.
    for (int waited = 0; waited < LiveSettings().reflashtime.load(); ++waited) {
        if (m_stop.load() != 0)
            return true;
        SleepMs(1000);
    }
    return false;
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
        SleepMs(1000);
        if (m_stop.load() != 0)
            return;
        m_accounts = ReadAccounts();
        while (m_stop.load() == 0) {
            for (const _CUserInfo& info : m_accounts) {
                RefreshShop(info.webId, info.account, info.imName, info.greeting, info.autoGreet.toInt() != 0);
                if (PauseSeconds(kPauseAfterAccountSeconds))
                    return;
            }
            if (WaitInterval())
                return;
        }
    } catch (...) {
        LogWorkerException(this);
        // A poll that throws ends monitoring quietly; the next restart begins afresh.
    }
}
