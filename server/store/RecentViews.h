#pragma once
// The newest few views of each web ID, as this process committed them, so
// that GetInfo and woken WaitInfo requests need no query. Only for a store
// this process alone writes views to (SQLite). The writer adds under its
// lock right after each commit; the request threads read. Sharded locks.
#include "ViewStore.h"

#include <array>
#include <deque>
#include <mutex>
#include <unordered_map>

namespace rivuzovara {

class CRecentViews
{
public:
    // Views of one web ID come in the order of their numbers.
    void Add(const SStoredView& view);
    // nullopt: not known here, ask the store.
    std::optional<SStoredView> Latest(long long webId);
    // True (views filled) when memory holds every view above after.
    bool Above(long long webId, long long after, int limit, std::vector<SStoredView>& views);
    void Clear();

private:
    // A woken client asks for the views since its last answer: few.
    static constexpr size_t kKeep = 8;
    struct SShard
    {
        std::mutex mutex;
        std::unordered_map<long long, std::deque<SStoredView>> views;
    };
    SShard& ShardOf(long long webId) { return m_shards[static_cast<unsigned long long>(webId) % m_shards.size()]; }

    std::array<SShard, 16> m_shards;
};

} // namespace rivuzovara
