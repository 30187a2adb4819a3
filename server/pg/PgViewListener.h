#pragma once
// Hears of the views other servers sharing the PostgreSQL store record: its own
// session LISTENs on the views channel, on a thread of its own. After the
// session was lost it connects again (back-off 0.5 s ... 5 s) and catches up
// from the accounts' last numbers, so no view recorded meanwhile goes unreported. It also
// tells the store whether the server answers: a broken session of the store
// pokes it, and it says "reachable" again once the server takes a session.
// Whether any other server listens: it asks the store's activity list when it
// starts listening and every few seconds, and a server that starts listening
// says hello on the channel, heard at once. For a while after it starts
// listening it also reads the accounts' numbers often, for the views of
// servers that had not yet heard its hello. Owned by CPgViewStore.
#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

struct pg_conn;

namespace rivuzovara::pg {

class CPgViewListener
{
public:
    using Hook = std::function<void(long long webId, long long latestSeq)>;

    CPgViewListener(std::string url, std::string instance, Hook hook);
    ~CPgViewListener();
    CPgViewListener(const CPgViewListener&) = delete;
    CPgViewListener& operator=(const CPgViewListener&) = delete;

    // Connects, listens and reads where every web ID stands, then runs on its thread;
    // false with the reason when the first connection failed.
    bool Start(std::string& error);
    // Views this server recorded: a catch-up does not report them as foreign.
    void NoteOwn(long long webId, long long seq);
    bool IsReachable() const { return m_reachable.load(); }
    // Listening, and caught up since the last break: Known is then the latest number.
    bool IsListening() const { return m_listening.load(); }
    // The latest number of a web ID as far as this server has heard (0: none).
    long long Known(long long webId);
    // A session of the store broke: statements fail at once until the server answers again.
    void MarkLost();
    // False only while listening with no other server's listener seen: views need not be told.
    bool OthersMayListen() const { return !m_listening.load() || m_othersListen.load(); }

private:
    void Run();
    bool ConnectAndListen(std::string& error);
    // Reads every account's last number; with report, calls the hook for every web ID that moved on.
    bool CatchUp(bool report, std::string& error);
    void Dispatch();
    // Asks the store whether another server's listener is there; false when the query failed.
    bool LookForOthers();
    void Drop(const std::string& why);
    void Wake();
    // Sleeps up to ms, or until woken; false when stopping.
    bool Pause(int ms);
    // Raises what is known of a web ID; true when it moved on.
    bool Advance(long long webId, long long seq);

    const std::string m_url;
    const std::string m_instance;
    const Hook m_hook;
    pg_conn* m_conn = nullptr;
    int m_wakeFd = -1;
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_reachable{true};
    std::atomic<bool> m_listening{false};
    std::atomic<bool> m_othersListen{true};
    long long m_lookedForOthersMs = 0;
    long long m_followUntilMs = 0; // reads the numbers often until then
    long long m_followedMs = 0;
    std::mutex m_knownMutex;
    std::map<long long, long long> m_known;
    std::thread m_thread;
};

} // namespace rivuzovara::pg
