#pragma once
// The PostgreSQL backend of the view store (--store postgresql://...); the writer's
// groups of views go through a pipeline session of their own (CPgPipeline). Several
// servers may share one database: sequence numbers come from the account's last number,
// moved on in the statement that stores the views, and each statement
// that stores views notifies the others (CPgViewListener). Sessions come from a
// small pool, so every thread of the server may call it.
#include "PgRecentViews.h"
#include "ViewStore.h"

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace rivuzovara::pg {

class CPgSession;
class CPgResult;
struct SParam;
class CPgViewListener;

class CPgPipeline;

class CPgViewStore final : public IViewStore, public IViewPipe
{
public:
    explicit CPgViewStore(std::string url);
    ~CPgViewStore() override;

    bool Open(std::string& error) override;
    bool Ping(std::string& error) override;
    std::optional<SAccount> FindAccount(const std::string& name, std::string& error) override;
    std::optional<SAccount> FindAccountByWebId(long long webId, std::string& error) override;
    long long SetAccount(const std::string& name, const std::string& passwordHash, std::string& error) override;
    EChange SetFrozen(const std::string& name, bool frozen, std::string& error) override;
    EChange SetImName(const std::string& name, const std::string& imName, std::string& error) override;
    EChange RemoveAccount(const std::string& name, std::string& error) override;
    bool Accounts(std::vector<SAccount>& accounts, std::string& error) override;
    bool RecordViews(std::span<const SNewView> views, std::vector<long long>& seqs, std::string& error) override;
    IViewPipe* Pipe() override { return this; }
    std::uint64_t Send(std::span<const SNewView> views, std::string& error) override;
    int Socket() const override;
    bool WantsToWrite() const override;
    std::vector<SDone> Collect() override;
    std::optional<long long> LatestSeq(long long webId, std::string& error) override;
    std::optional<SStoredView> LatestView(long long webId, std::string& error) override;
    bool ViewsAbove(long long webId, long long after, int limit, std::vector<SStoredView>& views,
                    std::string& error) override;
    long long DeleteViewsBefore(long long at, std::string& error) override;
    void SetForeignViewsHook(ForeignViewsHook hook) override;

private:
    std::unique_ptr<CPgSession> Acquire(std::string& error);
    void Release(std::unique_ptr<CPgSession> session);
    // One statement on a pooled session. A read whose session turned out broken is tried once
    // more on a new one; a write is not (it may have been done).
    bool Query(const std::string& sql, const std::vector<SParam>& params, bool read, CPgResult& result,
               std::string& error);
    std::optional<SAccount> FindAccountWhere(const char* condition, const SParam& key, std::string& error);
    EChange Change(const char* sql, std::vector<SParam> params, std::string& error);
    // Reads a web ID's newest views into m_recent; false when the store failed.
    bool ReadRecent(long long webId, std::string& error);
    // The latest number the cache must reach, or -1 when the cache may not answer.
    long long KnownForCache(long long webId);
    std::vector<SParam> BatchParams(std::span<const SNewView> views) const;
    const std::string& BatchStatement(std::string& name) const;
    // A group's rows as numbers, and what this server now knows of them; false when they do not fit.
    bool TakeNumbers(const CPgResult& rows, std::span<const SNewView> views, std::vector<long long>& seqs,
                     std::string& error);

    // A group on its way through the pipeline: its views, its parameters (for another try), its tries.
    struct SGroup
    {
        std::uint64_t ticket;
        std::vector<SNewView> views;
        std::vector<SParam> params;
        int attempt = 1;
    };

    const std::string m_url;
    const std::string m_instance;
    ForeignViewsHook m_hook;
    std::unique_ptr<CPgViewListener> m_listener;
    std::unique_ptr<CPgPipeline> m_pipeline;  // writer thread only
    std::map<std::uint64_t, SGroup> m_groups; // by the pipeline's ticket
    std::uint64_t m_nextGroupTicket = 1;
    CPgRecentViews m_recent;
    std::mutex m_poolMutex;
    std::condition_variable m_poolFree;
    std::vector<std::unique_ptr<CPgSession>> m_idle;
    int m_sessions = 0;
};

} // namespace rivuzovara::pg
