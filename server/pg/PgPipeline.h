#pragma once
// A session of its own in libpq's pipeline mode, for the statement that stores
// a group of views: the next group is sent while the one before runs, and the
// server starts on it the moment the first is committed instead of after a
// round trip. Each group is its own transaction (a sync follows it). Used by
// one thread (the writer); nothing here waits.
#include "PgSession.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace rivuzovara::pg {

class CPgPipeline
{
public:
    struct SStatement
    {
        std::string name;
        std::string sql;
    };
    struct SResult
    {
        std::uint64_t ticket = 0;
        CPgResult rows;
        bool broken = false; // the session was lost after it went: whether it was stored cannot be told
        std::string error;
    };
    // sample: parameters of the statements' types.
    CPgPipeline(std::string url, std::vector<SStatement> statements, std::vector<SParam> sample);

    // Sends one statement with its sync; 0 with error when it did not go (nothing stored).
    std::uint64_t Send(const std::string& name, const std::vector<SParam>& params, std::string& error);
    // -1 when no session is open.
    int Socket() const;
    bool WantsToWrite() const { return m_unflushed; }
    // Reads what has come and sends what is left to send, without waiting: the results finished since, in order.
    std::vector<SResult> Collect();

private:
    bool Open(std::string& error);
    void Lose(const std::string& why, std::vector<SResult>& results);

    const std::string m_url;
    const std::vector<SStatement> m_statements;
    const std::vector<SParam> m_sample;
    std::unique_ptr<CPgSession> m_session;
    std::deque<std::uint64_t> m_onTheirWay;
    std::vector<SResult> m_lost;        // of a session given up while sending, for the next Collect
    std::optional<CPgResult> m_current; // the result of the group being read, before its sync
    std::uint64_t m_nextTicket = 1;
    bool m_unflushed = false;
};

} // namespace rivuzovara::pg
