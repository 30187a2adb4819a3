#include "PgRecentViews.h"

namespace rivuzovara::pg {

namespace {
constexpr auto kFreshFor = std::chrono::seconds(60);
}

const CPgRecentViews::SEntry* CPgRecentViews::Usable(long long webId, long long known) const
{
    const auto found = m_entries.find(webId);
    if (found == m_entries.end() || found->second.views.empty() || found->second.views.back().seq < known ||
        std::chrono::steady_clock::now() - found->second.read > kFreshFor)
        return nullptr;
    return &found->second;
}

bool CPgRecentViews::Above(long long webId, long long after, int limit, long long known,
                           std::vector<SStoredView>& views)
{
    std::lock_guard lock(m_mutex);
    const SEntry* entry = Usable(webId, known);
    // Views at or below the oldest kept may have been left out: only the store knows.
    if (!entry || after < entry->views.front().seq - 1)
        return false;
    views.clear();
    for (const SStoredView& view : entry->views) {
        if (view.seq > after && int(views.size()) < limit)
            views.push_back(view);
    }
    return true;
}

bool CPgRecentViews::Latest(long long webId, long long known, std::optional<SStoredView>& view)
{
    std::lock_guard lock(m_mutex);
    const SEntry* entry = Usable(webId, known);
    if (!entry)
        return false;
    view = entry->views.back();
    return true;
}

void CPgRecentViews::Fill(long long webId, const std::vector<SStoredView>& newestFirst)
{
    SEntry entry;
    entry.read = std::chrono::steady_clock::now();
    for (const SStoredView& view : newestFirst) {
        if (!entry.views.empty() && view.seq != entry.views.front().seq - 1)
            break;
        entry.views.push_front(view);
    }
    std::lock_guard lock(m_mutex);
    if (entry.views.empty()) {
        m_entries.erase(webId);
        return;
    }
    if (m_entries.size() >= kMaxShops && !m_entries.count(webId))
        m_entries.erase(m_entries.begin());
    m_entries[webId] = std::move(entry);
}

void CPgRecentViews::Append(const SStoredView& view)
{
    std::lock_guard lock(m_mutex);
    const auto found = m_entries.find(view.webId);
    if (found == m_entries.end())
        return;
    std::deque<SStoredView>& views = found->second.views;
    if (views.empty() || view.seq != views.back().seq + 1) {
        // Another server's views came in between: read again when asked.
        m_entries.erase(found);
        return;
    }
    views.push_back(view);
    if (views.size() > kKeep)
        views.pop_front();
}

void CPgRecentViews::Clear()
{
    std::lock_guard lock(m_mutex);
    m_entries.clear();
}

} // namespace rivuzovara::pg
