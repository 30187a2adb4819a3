#pragma once
// The newest views of each web ID as this server last read or wrote them, so that
// GetInfo and a crowd of woken WaitInfo requests need no round trip to PostgreSQL.
// An entry answers only while it reaches the latest number the listener knows (this
// server's own views and the other servers' notices) and the listener has listened
// without a break; it is read again after a minute at the latest, so deletions by
// retention or by another server's account commands show within that time. Used by
// every thread of the server; owned by CPgViewStore.
#include "ViewStore.h"

#include <chrono>
#include <deque>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

namespace rivuzovara::pg {

class CPgRecentViews
{
public:
    // How many of a web ID's newest views are kept, and for how many web IDs at most.
    static constexpr size_t kKeep = 32;
    static constexpr size_t kMaxShops = 4096;

    // The views above after (oldest first, at most limit) when the entry holds them and
    // reaches known; false when the store has to be asked.
    bool Above(long long webId, long long after, int limit, long long known, std::vector<SStoredView>& views);
    // The newest view, as Above.
    bool Latest(long long webId, long long known, std::optional<SStoredView>& view);
    // The newest views as just read from the store, newest first.
    void Fill(long long webId, const std::vector<SStoredView>& newestFirst);
    // A view this server just stored.
    void Append(const SStoredView& view);
    void Clear();

private:
    struct SEntry
    {
        std::deque<SStoredView> views; // ascending, without gaps
        std::chrono::steady_clock::time_point read;
    };
    // The entry when it can answer for known.
    const SEntry* Usable(long long webId, long long known) const;

    mutable std::mutex m_mutex;
    std::unordered_map<long long, SEntry> m_entries;
};

} // namespace rivuzovara::pg
