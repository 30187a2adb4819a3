#pragma once
// The tracking side's state in <dataDir>/tracking.db: registered accounts and
// the page views the counting image records. One SQLite connection used by
// the server's worker threads under one mutex.
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

struct STrackedAccount
{
    std::string name;
    std::string password;
    long long webId = 0;
    std::string imName;
    bool frozen = false;
    std::string created;
    long long pageViews = 0;
};

struct SPageView
{
    long long id = 0;
    long long webId = 0;
    long long seq = 0; // 1, 2, 3 ... per web ID in the order recorded
    std::string ip;
    std::string url;
    std::string time;
};

class CTrackingStore
{
public:
    CTrackingStore() = default;
    ~CTrackingStore();
    CTrackingStore(const CTrackingStore&) = delete;
    CTrackingStore& operator=(const CTrackingStore&) = delete;

    bool Open(const std::string& path, std::string& error);
    void Close();

    // Registers an account or changes its password; returns its web ID (an
    // existing account keeps its own), or -1. wantedWebId > 0 picks the ID of
    // a new account when it is free.
    long long Register(const std::string& name, const std::string& password, long long wantedWebId = 0);
    std::optional<STrackedAccount> Find(const std::string& name);
    bool SetFrozen(const std::string& name, bool frozen);
    bool SetImName(const std::string& name, const std::string& imName);
    // The view's sequence number, or -1.
    long long AddPageView(long long webId, const std::string& ip, const std::string& url, const std::string& time);
    std::optional<SPageView> LatestPageView(long long webId);
    // The number of the latest view, 0 when none; nullopt for a web ID that
    // neither an account nor a view knows, or (failed set) a store failure.
    std::optional<long long> LatestSeq(long long webId, bool& failed);
    // Views above after, oldest first, at most limit; nullopt on failure.
    std::optional<std::vector<SPageView>> ViewsAbove(long long webId, long long after, int limit);
    std::vector<STrackedAccount> Accounts();
    // Newest first; webId <= 0 lists all.
    std::vector<SPageView> PageViews(long long webId, int limit);
    bool Clear();

private:
    bool Exec(const char* sql);
    bool AddSequenceNumbers();

    std::mutex m_mutex;
    sqlite3* m_db = nullptr;
};

// Local time written "YYYY-MM-DD hh:mm:ss".
std::string NowText();
