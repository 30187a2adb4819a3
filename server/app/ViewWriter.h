#pragma once
// The writer thread: collects the page views the request threads hand in
// and stores each batch in one commit, then tells each request (which only
// then answers; one hand-over per request thread and batch) and the wait hub.
// With a store that takes batches ahead of their results (PostgreSQL), the
// next batch goes while one runs, once as many views wait as that one holds
// (so batches stay large); the thread then waits on the store's socket and
// on an eventfd the request threads poke. It also deletes views older than
// --keep-days, at start and every hour. Owned by the service; Stop before
// the store goes.
#include "Metrics.h"
#include "ViewStore.h"

#include <boost/asio/any_io_executor.hpp>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

namespace rivuzovara {

class CViewWriter
{
public:
    // seq > 0: stored with that number; 0: not stored (unknown or frozen web
    // ID); -1: the store failed. Called on the executor given with the view.
    using Done = std::function<void(long long seq)>;
    using Recorded = std::function<void(long long webId, long long seq)>;

    CViewWriter(IViewStore& store, SMetrics& metrics, Recorded recorded, int keepDays);
    ~CViewWriter();
    CViewWriter(const CViewWriter&) = delete;
    CViewWriter& operator=(const CViewWriter&) = delete;

    void Start();
    // Stores what is queued, then ends the thread.
    void Stop();
    void Submit(SNewView view, const boost::asio::any_io_executor& executor, Done done);

private:
    struct SPending
    {
        SNewView view;
        boost::asio::any_io_executor executor;
        Done done;
    };
    void Answer(std::vector<SPending>& batch, const std::vector<long long>& seqs, bool stored);
    void Run();
    // With a store that takes groups ahead of their results: up to kGroupsAhead on their way.
    void RunPiped(IViewPipe& pipe);
    // Under m_mutex: whether the piped writer takes the waiting views now.
    bool MayTake() const;
    // Under m_mutex: the oldest waiting views, at most a batch of them.
    std::vector<SPending> TakeBatch();
    // The end of one batch (its views as stored): its metrics, its answers, the wait hub.
    void Finish(std::vector<SPending>& batch, std::span<const SNewView> views, const std::vector<long long>& seqs,
                bool stored, const std::string& error, long long microseconds);
    void Commit(std::vector<SPending>& batch);
    void DeleteOldViews();

    IViewStore& m_store;
    SMetrics& m_metrics;
    Recorded m_recorded;
    int m_keepDays;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::vector<SPending> m_pending;
    bool m_stopping = false;
    // The piped writer's: groups and views on their way; it waits in poll, woken through m_wakeFd.
    size_t m_groupsOnTheirWay = 0;
    size_t m_viewsOnTheirWay = 0;
    bool m_polling = false;
    int m_wakeFd = -1;
    std::thread m_thread;
};

} // namespace rivuzovara
