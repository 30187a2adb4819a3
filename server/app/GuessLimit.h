#pragma once
// How many wrong passwords a client may try: GetWebID and SaveImName check a
// password with a hash that is slow on purpose, so a client past
// kWrongPerMinute wrong ones within the last minute is answered as wrong
// without a check, right password or not. A client is its address (IPv6:
// its /64, what one host has). Checks under way count as wrong until they
// are done, so parallel guesses cannot slip through together. Any thread.
#include <array>
#include <mutex>
#include <string>
#include <unordered_map>

namespace rivuzovara {

class CGuessLimit
{
public:
    static constexpr int kWrongPerMinute = 10;

    // Before a check: false when the client is past the bound (or a flood of
    // clients fills the table); else the check is counted as under way.
    bool Admit(const std::string& address);
    // After an admitted check.
    void Checked(const std::string& address, bool wrong);

    // Seconds of a clock that does not jump.
    static long long Now();

private:
    struct SClientGuesses
    {
        std::array<long long, kWrongPerMinute> wrongAt{}; // a ring of the latest wrong ones' times
        size_t next = 0;
        int underWay = 0;
        long long latest = 0;
    };
    void PruneOnceAMinute(long long now);

    std::mutex m_mutex;
    std::unordered_map<std::string, SClientGuesses> m_clients;
    long long m_pruned = 0;
};

} // namespace rivuzovara
