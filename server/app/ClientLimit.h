#pragma once
// --per-client-limit: how many views of one web ID a client may have
// recorded within the current minute. Request threads; sharded locks.
#include <array>
#include <mutex>
#include <string>
#include <unordered_map>

namespace rivuzovara {

class CClientLimit
{
public:
    explicit CClientLimit(int perMinute) : m_perMinute(perMinute) {}
    // Counts the view; false when it is over the limit.
    bool Allow(const std::string& client, long long webId, long long nowSeconds);

private:
    struct SShard
    {
        std::mutex mutex;
        long long minute = -1;
        std::unordered_map<std::string, int> counts;
    };

    int m_perMinute;
    std::array<SShard, 16> m_shards;
};

} // namespace rivuzovara
