#pragma once
// The WaitInfo waiters and the latest view number of each web ID. The
// request threads add and drop waiters; the writer thread (and a shared
// store's listener) report new views, which wake the waiters of that web ID.
#include "ViewStore.h"

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

namespace rivuzovara {

class CWaitHub
{
public:
    // Called once, on the reporting thread, with the new latest number.
    using Wake = std::function<void(long long latest)>;

    explicit CWaitHub(IViewStore& store) : m_store(store) {}

    // The latest view number; nullopt for an unknown web ID or a failed
    // store (error filled).
    std::optional<long long> Latest(long long webId, std::string& error);
    // Wakes at once (and returns 0) when the web ID already has views above
    // after; else returns the waiter's ticket for Drop.
    std::uint64_t Add(long long webId, long long after, Wake wake);
    // True when the waiter was still waiting (so it will never be woken).
    bool Drop(long long webId, std::uint64_t ticket);
    void Recorded(long long webId, long long latest);

private:
    struct SWaiter
    {
        std::uint64_t ticket;
        long long after;
        Wake wake;
    };
    struct SShard
    {
        std::mutex mutex;
        std::unordered_map<long long, long long> latest;
        std::unordered_map<long long, std::vector<SWaiter>> waiters;
    };
    SShard& ShardOf(long long webId) { return m_shards[static_cast<std::uint64_t>(webId) % m_shards.size()]; }

    IViewStore& m_store;
    std::array<SShard, 16> m_shards;
    std::mutex m_ticketMutex;
    std::uint64_t m_nextTicket = 1;
};

} // namespace rivuzovara
