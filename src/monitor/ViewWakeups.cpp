#include "monitor/ViewWakeups.h"

#include "accounts/TeamSettings.h"
#include "tables/AccountLocks.h"
#include "monitor/RefreshShop.h"
#include "monitor/ViewHearing.h"
#include "platform/Clock.h"
#include "platform/Endpoints.h"
#include "platform/Log.h"
#include "tables/PageViewTable.h"

#include <algorithm>

CViewWakeups::CViewWakeups(const std::atomic<int>& stop) : m_stop(stop) {}

CViewWakeups::~CViewWakeups()
{
    Stop();
}

void CViewWakeups::Start(const QList<CAccount>& accounts, CAccountLocks& locks)
{
    if (m_waiter)
        return;
    m_locks = &locks;
    m_accounts.clear();
    std::vector<CViewWaiter::CAccount> waited;
    for (const CAccount& info : accounts) {
        if (info.webId.isEmpty())
            continue;
        const qint64 last = CPageViewTable::LastSeq(info.userName);
        if (last < 0) {
            qCWarning(LogMonitor).noquote()
                << "the last view of" << info.userName << "cannot be read; polled at the interval only";
            continue;
        }
        m_accounts.push_back(info);
        waited.push_back({info.userName, info.webId, last});
    }
    if (waited.empty())
        return;
    m_waiter = std::make_unique<CViewWaiter>(Endpoints().trackingBase, std::move(waited),
                                             [this](CWakeup&& wakeup) { Post(std::move(wakeup)); });
    m_waiter->start();
}

void CViewWakeups::Stop()
{
    if (m_published)
        SetHearingInRealTime(false);
    m_published = false;
    if (!m_waiter)
        return;
    m_waiter->Stop();
    m_waiter.reset();
    std::lock_guard lock(m_mutex);
    // Not kept: the store's number still stands before them, so the next start asks again.
    m_pending.clear();
}

void CViewWakeups::Post(CWakeup&& wakeup)
{
    {
        std::lock_guard lock(m_mutex);
        m_pending.push_back(std::move(wakeup));
    }
    m_posted.notify_one();
}

void CViewWakeups::Serve()
{
    // Told only when it changes: a monitoring thread that never hears at once leaves it alone.
    const bool realTime = m_waiter && m_waiter->RealTime();
    if (realTime != m_published)
        SetHearingInRealTime(realTime);
    m_published = realTime;
    while (m_stop.load() == 0) {
        CWakeup wakeup;
        {
            std::lock_guard lock(m_mutex);
            if (m_pending.empty())
                return;
            wakeup = std::move(m_pending.front());
            m_pending.pop_front();
        }
        ServeOne(wakeup);
    }
}

void CViewWakeups::ServeOne(const CWakeup& wakeup)
{
    if (!m_waiter || wakeup.account < 0 || wakeup.account >= static_cast<int>(m_accounts.size()))
        return;
    const CAccount& info = m_accounts[static_cast<size_t>(wakeup.account)];
    if (!StoreReachable()) {
        m_waiter->Continue(wakeup.account, wakeup.after, kStoreRetryMs);
        return;
    }
    if (m_locks && !m_locks->Holds(info.userName)) {
        // The machine that polls it keeps its views; this one follows the store's number (asking
        // again while it is behind or cannot be read), so should that machine go away before
        // keeping them, or this one take the poll over, the views are still here to keep.
        const qint64 kept = CPageViewTable::LastSeq(info.userName);
        if (kept >= wakeup.next)
            m_waiter->Continue(wakeup.account, wakeup.next);
        else
            m_waiter->Continue(wakeup.account, std::max(kept, wakeup.after), kStoreRetryMs);
        return;
    }

    // Polled before the views are kept: a poll a stop cut short leaves them to the next start,
    // and one that comes again for views the store refused alerts no guest twice (theSessionMan).
    QList<CFeedView> feedViews;
    QList<CPageView> views;
    for (const CWaitRecord& record : wakeup.records) {
        feedViews.append(CFeedView{record.ip, record.itemUrl});
        const CNewVisit feed = ReadFeed(info.userName, record.ip, record.itemUrl);
        views.append(CPageView{record.seq, feed.ip, feed.region, feed.itemUrl, record.time});
    }
    RefreshShopWithViews(info.userName, info.greetingAccount, info.greeting, info.autoSend, feedViews);
    if (m_stop.load() != 0)
        return;
    if (CPageViewTable::Record(info.userName, views, wakeup.next) < 0) {
        qCWarning(LogMonitor).noquote() << "the views of" << info.userName << "were not kept; asked for again";
        m_waiter->Continue(wakeup.account, wakeup.after, kStoreRetryMs);
        return;
    }
    m_waiter->Continue(wakeup.account, wakeup.next);
}

template <typename Seconds> bool CViewWakeups::PauseSteps(const Seconds& seconds)
{
    qint64 waitedMs = 0;
    for (;;) {
        if (m_stop.load() != 0)
            return false;
        Serve();
        if (m_stop.load() != 0)
            return false;
        const qint64 totalMs = static_cast<qint64>(seconds()) * 1000;
        if (waitedMs >= totalMs)
            return true;
        const qint64 before = Clock().NowMs();
        {
            std::unique_lock lock(m_mutex);
            if (m_pending.empty())
                Clock().WaitMs(m_posted, lock, static_cast<int>(std::min<qint64>(1000, totalMs - waitedMs)));
        }
        // Views served meanwhile do not shorten the pause; a clock set back or ahead moves it
        // by a second at most.
        waitedMs += std::clamp<qint64>(Clock().NowMs() - before, 0, 1000);
    }
}

bool CViewWakeups::Pause(const std::atomic<int>& seconds)
{
    return PauseSteps([&seconds] { return seconds.load(); });
}

bool CViewWakeups::Pause(int seconds)
{
    return PauseSteps([seconds] { return seconds; });
}
