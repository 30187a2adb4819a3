#include "ViewWriter.h"

#include "Log.h"
#include "TrackingProtocol.h"

#include <boost/asio/post.hpp>

#include <algorithm>
#include <chrono>
#include <memory>

namespace rivuzovara {

namespace {
// A bigger batch would keep the first of its views waiting on a long commit.
constexpr size_t kMaxBatch = 4096;
constexpr auto kUpkeepEvery = std::chrono::hours(1);
} // namespace

CViewWriter::CViewWriter(IViewStore& store, SMetrics& metrics, Recorded recorded, int keepDays)
    : m_store(store), m_metrics(metrics), m_recorded(std::move(recorded)), m_keepDays(keepDays)
{
}

CViewWriter::~CViewWriter()
{
    Stop();
}

void CViewWriter::Start()
{
    m_thread = std::thread([this] { Run(); });
}

void CViewWriter::Stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable())
        m_thread.join();
}

void CViewWriter::Submit(SNewView view, const boost::asio::any_io_executor& executor, Done done)
{
    {
        std::lock_guard lock(m_mutex);
        m_pending.push_back({std::move(view), executor, std::move(done)});
    }
    m_wake.notify_one();
}

void CViewWriter::Run()
{
    DeleteOldViews();
    auto nextUpkeep = std::chrono::steady_clock::now() + kUpkeepEvery;
    std::vector<SPending> batch;
    for (;;) {
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait_until(lock, nextUpkeep, [this] { return m_stopping || !m_pending.empty(); });
            if (m_pending.size() <= kMaxBatch) {
                batch.swap(m_pending);
            } else {
                batch.assign(std::make_move_iterator(m_pending.begin()),
                             std::make_move_iterator(m_pending.begin() + kMaxBatch));
                m_pending.erase(m_pending.begin(), m_pending.begin() + kMaxBatch);
            }
            if (batch.empty() && m_stopping)
                return;
        }
        if (!batch.empty())
            Commit(batch);
        batch.clear();
        if (std::chrono::steady_clock::now() >= nextUpkeep) {
            DeleteOldViews();
            nextUpkeep = std::chrono::steady_clock::now() + kUpkeepEvery;
        }
    }
}

void CViewWriter::Commit(std::vector<SPending>& batch)
{
    std::vector<SNewView> views;
    views.reserve(batch.size());
    for (auto& pending : batch)
        views.push_back(std::move(pending.view));
    std::vector<long long> seqs;
    std::string error;
    const auto started = std::chrono::steady_clock::now();
    const bool stored = m_store.RecordViews(views, seqs, error);
    m_metrics.CountCommit(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started).count());
    if (!stored) {
        ++m_metrics.errors;
        LogError("storing " + std::to_string(batch.size()) + " page views failed: " + error);
    }
    Answer(batch, seqs, stored);
    // The newest number of each web ID is enough for the waiters.
    for (size_t i = batch.size(); stored && i-- > 0;) {
        if (seqs[i] > 0)
            m_recorded(views[i].webId, seqs[i]);
    }
}

void CViewWriter::Answer(std::vector<SPending>& batch, const std::vector<long long>& seqs, bool stored)
{
    struct SAnswer
    {
        Done done;
        long long seq;
    };
    // The request threads are few: one post to each with all its answers.
    std::vector<std::pair<boost::asio::any_io_executor, std::vector<SAnswer>>> byThread;
    long long recorded = 0;
    for (size_t i = 0; i < batch.size(); ++i) {
        const long long seq = stored ? seqs[i] : -1;
        recorded += seq > 0 ? 1 : 0;
        auto it = std::find_if(byThread.begin(), byThread.end(),
                               [&](const auto& entry) { return entry.first == batch[i].executor; });
        if (it == byThread.end())
            it = byThread.insert(byThread.end(), {batch[i].executor, {}});
        it->second.push_back({std::move(batch[i].done), seq});
    }
    m_metrics.viewsRecorded += recorded;
    for (auto& [executor, answers] : byThread) {
        boost::asio::post(executor, [answers = std::move(answers)]() {
            for (const auto& answer : answers)
                answer.done(answer.seq);
        });
    }
}

void CViewWriter::DeleteOldViews()
{
    std::string error;
    const long long before = tracking::NowSeconds() - static_cast<long long>(m_keepDays) * 86400;
    const long long deleted = m_store.DeleteViewsBefore(before, error);
    if (deleted < 0) {
        ++m_metrics.errors;
        LogError("deleting old page views failed: " + error);
    } else if (deleted > 0) {
        LogInfo("deleted " + std::to_string(deleted) + " page views older than " + std::to_string(m_keepDays) +
                " days");
    }
}

} // namespace rivuzovara
