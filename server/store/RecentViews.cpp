#include "RecentViews.h"

namespace rivuzovara {

void CRecentViews::Add(const SStoredView& view)
{
    SShard& shard = ShardOf(view.webId);
    std::lock_guard lock(shard.mutex);
    auto& list = shard.views[view.webId];
    list.push_back(view);
    if (list.size() > kKeep)
        list.pop_front();
}

std::optional<SStoredView> CRecentViews::Latest(long long webId)
{
    SShard& shard = ShardOf(webId);
    std::lock_guard lock(shard.mutex);
    const auto it = shard.views.find(webId);
    if (it == shard.views.end() || it->second.empty())
        return std::nullopt;
    return it->second.back();
}

bool CRecentViews::Above(long long webId, long long after, int limit, std::vector<SStoredView>& views)
{
    views.clear();
    SShard& shard = ShardOf(webId);
    std::lock_guard lock(shard.mutex);
    const auto it = shard.views.find(webId);
    // Memory starts with the first view this process stored: older ones only the file has.
    if (it == shard.views.end() || it->second.empty() || it->second.front().seq > after + 1)
        return false;
    for (const auto& view : it->second) {
        if (view.seq > after && static_cast<int>(views.size()) < limit)
            views.push_back(view);
    }
    return true;
}

void CRecentViews::Clear()
{
    for (auto& shard : m_shards) {
        std::lock_guard lock(shard.mutex);
        shard.views.clear();
    }
}

} // namespace rivuzovara
