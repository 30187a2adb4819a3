#pragma once
// The store behind rivuzovara: accounts and their page views. One object is
// shared by every thread of the server (the request threads read, the writer
// thread records views in groups, the upkeep timer deletes old ones), so an
// implementation is thread-safe. No call throws: a failure returns false, an
// empty value or -1 and fills the error text, which the caller logs.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace rivuzovara {

struct SAccount
{
    std::string name;
    std::string passwordHash; // crypt(3) text, never the password
    long long webId = 0;
    std::string imName;
    bool frozen = false;
    std::string created; // "YYYY-MM-DD hh:mm:ss"
    long long views = 0; // page views kept
};

// A page view as the request threads hand it to the writer.
struct SNewView
{
    long long webId = 0;
    std::string ip;
    std::string url;  // the item address (Referer)
    std::string time; // local "YYYY-MM-DD hh:mm:ss"
    long long at = 0; // the same moment in seconds since the epoch, for retention
};

struct SStoredView
{
    long long webId = 0;
    long long seq = 0; // 1, 2, 3 ... per web ID in the order recorded, no gaps
    std::string ip;
    std::string url;
    std::string time;
};

enum class EChange
{
    Done,
    NoSuchAccount,
    Failed,
};

// Groups of views sent ahead of their results (PostgreSQL's pipeline): the
// writer sends the next group while the one before runs. Writer thread only.
class IViewPipe
{
public:
    struct SDone
    {
        std::uint64_t ticket = 0;
        bool stored = false;
        std::vector<long long> seqs; // as RecordViews gives them
        std::string error;
    };
    virtual ~IViewPipe() = default;
    // Sends a group; 0 with error when it did not go (nothing stored).
    virtual std::uint64_t Send(std::span<const SNewView> views, std::string& error) = 0;
    // The socket to wait on while groups are on their way, -1 when none; whether to wait for room to write too.
    virtual int Socket() const = 0;
    virtual bool WantsToWrite() const = 0;
    // Reads what has come, without waiting: the groups finished since, each once.
    virtual std::vector<SDone> Collect() = 0;
};

class IViewStore
{
public:
    virtual ~IViewStore() = default;

    // Connects and creates or upgrades the schema.
    virtual bool Open(std::string& error) = 0;
    // The store answers (for /healthz).
    virtual bool Ping(std::string& error) = 0;

    // nullopt with an empty error: no such account.
    virtual std::optional<SAccount> FindAccount(const std::string& name, std::string& error) = 0;
    virtual std::optional<SAccount> FindAccountByWebId(long long webId, std::string& error) = 0;
    // A new account gets a new web ID; an existing name keeps its web ID and
    // gets the new hash. Returns the web ID, or -1.
    virtual long long SetAccount(const std::string& name, const std::string& passwordHash, std::string& error) = 0;
    virtual EChange SetFrozen(const std::string& name, bool frozen, std::string& error) = 0;
    virtual EChange SetImName(const std::string& name, const std::string& imName, std::string& error) = 0;
    // Removes the account and its page views.
    virtual EChange RemoveAccount(const std::string& name, std::string& error) = 0;
    // Ordered by web ID; false when the store failed.
    virtual bool Accounts(std::vector<SAccount>& accounts, std::string& error) = 0;

    // Records the views in one transaction, durable when it returns true
    // (synchronous commit). Each view gets the next sequence number of its
    // web ID, written into seqs in the same order; a view of an unknown or
    // frozen web ID is not stored and gets 0. The account row keeps the
    // latest number, so numbers are never reused after a deletion.
    virtual bool RecordViews(std::span<const SNewView> views, std::vector<long long>& seqs, std::string& error) = 0;
    // nullptr: groups go one at a time through RecordViews.
    virtual IViewPipe* Pipe() { return nullptr; }
    // The number of the latest view of a web ID, 0 when none; nullopt with
    // an empty error: no such web ID.
    virtual std::optional<long long> LatestSeq(long long webId, std::string& error) = 0;
    // nullopt with an empty error: no view.
    virtual std::optional<SStoredView> LatestView(long long webId, std::string& error) = 0;
    // Views above after, oldest first, at most limit; false on failure.
    virtual bool ViewsAbove(long long webId, long long after, int limit, std::vector<SStoredView>& views,
                            std::string& error) = 0;
    // Deletes the views recorded before the moment (seconds since the epoch);
    // the number deleted, or -1.
    virtual long long DeleteViewsBefore(long long at, std::string& error) = 0;

    // Views recorded by other servers sharing the store: called on any thread
    // with a web ID and its latest sequence number. A store only this process
    // writes (SQLite) never calls it. Set before Open.
    using ForeignViewsHook = std::function<void(long long webId, long long latestSeq)>;
    virtual void SetForeignViewsHook(ForeignViewsHook hook) = 0;
};

// The backends; MakeViewStore (ViewStoreFactory.cpp) picks one by --store:
// empty or "sqlite:" gives SQLite in dataDir/tracking.db, "postgresql://..."
// or "postgres://..." PostgreSQL (server/pg, library rivuzovara_pg, which
// defines MakePgViewStore). nullptr with the error for an unknown URL.
std::unique_ptr<IViewStore> MakeSqliteViewStore(const std::string& path);
std::unique_ptr<IViewStore> MakePgViewStore(const std::string& url);
std::unique_ptr<IViewStore> MakeViewStore(const std::string& url, const std::string& dataDir, std::string& error);

} // namespace rivuzovara
