#include "GuessLimit.h"

#include <boost/asio/ip/address.hpp>

#include <algorithm>
#include <chrono>

namespace rivuzovara {

namespace {

// Bounds the memory a flood of addresses takes; past it new clients wait for the minute's pruning.
constexpr size_t kMaxClients = 100000;

std::string ClientKey(const std::string& address)
{
    boost::system::error_code ec;
    const auto parsed = boost::asio::ip::make_address(address, ec);
    if (ec || !parsed.is_v6())
        return address;
    auto bytes = parsed.to_v6().to_bytes();
    std::fill(bytes.begin() + 8, bytes.end(), 0);
    return boost::asio::ip::address_v6(bytes).to_string();
}

} // namespace

long long CGuessLimit::Now()
{
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool CGuessLimit::Admit(const std::string& address)
{
    const std::string key = ClientKey(address);
    const long long now = Now();
    std::lock_guard lock(m_mutex);
    PruneOnceAMinute(now);
    auto it = m_clients.find(key);
    if (it == m_clients.end()) {
        if (m_clients.size() >= kMaxClients)
            return false;
        it = m_clients.emplace(key, SClientGuesses()).first;
    }
    SClientGuesses& client = it->second;
    // A time of 0 is a slot not used yet.
    const auto recent = std::count_if(client.wrongAt.begin(), client.wrongAt.end(),
                                      [now](long long at) { return at != 0 && now - at < 60; });
    if (recent + client.underWay >= kWrongPerMinute)
        return false;
    ++client.underWay;
    client.latest = now;
    return true;
}

void CGuessLimit::Checked(const std::string& address, bool wrong)
{
    const std::string key = ClientKey(address);
    const long long now = Now();
    std::lock_guard lock(m_mutex);
    const auto it = m_clients.find(key);
    if (it == m_clients.end())
        return;
    SClientGuesses& client = it->second;
    client.underWay = std::max(0, client.underWay - 1);
    client.latest = now;
    if (wrong) {
        client.wrongAt[client.next] = std::max(now, 1LL);
        client.next = (client.next + 1) % client.wrongAt.size();
    }
}

void CGuessLimit::PruneOnceAMinute(long long now)
{
    if (now - m_pruned < 60)
        return;
    m_pruned = now;
    // A client with nothing under way and nothing within the minute is as good as new.
    std::erase_if(m_clients,
                  [now](const auto& entry) { return entry.second.underWay == 0 && now - entry.second.latest >= 60; });
}

} // namespace rivuzovara
