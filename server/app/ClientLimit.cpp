#include "ClientLimit.h"

#include <functional>

namespace rivuzovara {

namespace {
// Bounds the memory a flood of made-up web IDs can take; past it the shard starts its minute afresh.
constexpr size_t kMaxKeysPerShard = 65536;
} // namespace

bool CClientLimit::Allow(const std::string& client, long long webId, long long nowSeconds)
{
    if (m_perMinute <= 0)
        return true;
    const std::string key = client + "#" + std::to_string(webId);
    SShard& shard = m_shards[std::hash<std::string>()(key) % m_shards.size()];
    std::lock_guard lock(shard.mutex);
    const long long minute = nowSeconds / 60;
    if (shard.minute != minute || shard.counts.size() >= kMaxKeysPerShard) {
        shard.counts.clear();
        shard.minute = minute;
    }
    return ++shard.counts[key] <= m_perMinute;
}

} // namespace rivuzovara
