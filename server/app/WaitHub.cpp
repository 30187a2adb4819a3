#include "WaitHub.h"

#include <algorithm>

namespace rivuzovara {

std::optional<long long> CWaitHub::Latest(long long webId, std::string& error)
{
    SShard& shard = ShardOf(webId);
    {
        std::lock_guard lock(shard.mutex);
        const auto it = shard.latest.find(webId);
        if (it != shard.latest.end())
            return it->second;
    }
    const auto stored = m_store.LatestSeq(webId, error);
    if (!stored)
        return std::nullopt;
    // A commit between the read and now has reported a higher number already.
    std::lock_guard lock(shard.mutex);
    long long& latest = shard.latest[webId];
    latest = std::max(latest, *stored);
    return latest;
}

std::uint64_t CWaitHub::Add(long long webId, long long after, Wake wake)
{
    std::uint64_t ticket = 0;
    {
        std::lock_guard lock(m_ticketMutex);
        ticket = m_nextTicket++;
    }
    SShard& shard = ShardOf(webId);
    long long latest = 0;
    {
        std::lock_guard lock(shard.mutex);
        const auto it = shard.latest.find(webId);
        latest = it == shard.latest.end() ? 0 : it->second;
        if (latest <= after) {
            shard.waiters[webId].push_back({ticket, after, std::move(wake)});
            return ticket;
        }
    }
    wake(latest);
    return 0;
}

bool CWaitHub::Drop(long long webId, std::uint64_t ticket)
{
    SShard& shard = ShardOf(webId);
    std::lock_guard lock(shard.mutex);
    const auto it = shard.waiters.find(webId);
    if (it == shard.waiters.end())
        return false;
    auto& list = it->second;
    const auto found = std::find_if(list.begin(), list.end(), [&](const SWaiter& w) { return w.ticket == ticket; });
    if (found == list.end())
        return false;
    list.erase(found);
    if (list.empty())
        shard.waiters.erase(it);
    return true;
}

void CWaitHub::Recorded(long long webId, long long latest)
{
    std::vector<SWaiter> woken;
    SShard& shard = ShardOf(webId);
    {
        std::lock_guard lock(shard.mutex);
        long long& known = shard.latest[webId];
        known = std::max(known, latest);
        const auto it = shard.waiters.find(webId);
        if (it == shard.waiters.end())
            return;
        auto& list = it->second;
        const auto keep = std::partition(list.begin(), list.end(), [&](const SWaiter& w) { return w.after >= known; });
        woken.assign(std::make_move_iterator(keep), std::make_move_iterator(list.end()));
        list.erase(keep, list.end());
        if (list.empty())
            shard.waiters.erase(it);
        latest = known;
    }
    // Outside the lock: a wake posts to the waiter's own thread.
    for (auto& waiter : woken)
        waiter.wake(latest);
}

} // namespace rivuzovara
