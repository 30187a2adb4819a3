#include "ViewWriter.h"

#include "Log.h"
#include "TrackingProtocol.h"

#include <boost/asio/post.hpp>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>

namespace rivuzovara {

namespace {
// A bigger batch would keep the first of its views waiting on a long commit.
constexpr size_t kMaxBatch = 4096;
constexpr auto kUpkeepEvery = std::chrono::hours(1);
// Groups sent ahead: the one the server runs and the next, ready for it.
constexpr size_t kGroupsAhead = 2;
} // namespace

CViewWriter::CViewWriter(IViewStore& store, SMetrics& metrics, Recorded recorded, int keepDays)
    : m_store(store), m_metrics(metrics), m_recorded(std::move(recorded)), m_keepDays(keepDays)
{
}

CViewWriter::~CViewWriter()
{
    Stop();
    if (m_wakeFd >= 0)
        close(m_wakeFd);
}

void CViewWriter::Start()
{
    IViewPipe* pipe = m_store.Pipe();
    if (pipe)
        m_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (pipe && m_wakeFd >= 0)
        m_thread = std::thread([this, pipe] { RunPiped(*pipe); });
    else
        m_thread = std::thread([this] { Run(); });
}

void CViewWriter::Stop()
{
    bool poke = false;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        poke = m_polling;
    }
    m_wake.notify_one();
    if (poke) {
        const eventfd_t one = 1;
        [[maybe_unused]] const ssize_t written = write(m_wakeFd, &one, sizeof one);
    }
    if (m_thread.joinable())
        m_thread.join();
}

bool CViewWriter::MayTake() const
{
    if (m_pending.empty() || m_groupsOnTheirWay >= kGroupsAhead)
        return false;
    // A few views sent behind a large group would each pay a whole commit.
    return m_groupsOnTheirWay == 0 || m_stopping || m_pending.size() >= std::min(m_viewsOnTheirWay, kMaxBatch);
}

void CViewWriter::Submit(SNewView view, const boost::asio::any_io_executor& executor, Done done)
{
    bool poke = false;
    {
        std::lock_guard lock(m_mutex);
        m_pending.push_back({std::move(view), executor, std::move(done)});
        if (m_polling && MayTake()) {
            poke = true;
            m_polling = false;
        }
    }
    if (poke) {
        const eventfd_t one = 1;
        [[maybe_unused]] const ssize_t written = write(m_wakeFd, &one, sizeof one);
    } else if (m_wakeFd < 0) {
        m_wake.notify_one();
    }
}

void CViewWriter::RunPiped(IViewPipe& pipe)
{
    using Clock = std::chrono::steady_clock;
    struct SOnItsWay
    {
        std::vector<SPending> batch;
        std::vector<SNewView> views;
        Clock::time_point sent;
    };
    std::map<std::uint64_t, SOnItsWay> onTheirWay;
    const auto ended = [this](SOnItsWay& group, const std::vector<long long>& seqs, bool stored,
                              const std::string& error, long long microseconds) {
        {
            std::lock_guard lock(m_mutex);
            --m_groupsOnTheirWay;
            m_viewsOnTheirWay -= group.batch.size();
        }
        Finish(group.batch, group.views, seqs, stored, error, microseconds);
    };
    DeleteOldViews();
    auto nextUpkeep = Clock::now() + kUpkeepEvery;
    for (;;) {
        SOnItsWay group;
        {
            std::lock_guard lock(m_mutex);
            if (MayTake()) {
                group.batch = TakeBatch();
                ++m_groupsOnTheirWay;
                m_viewsOnTheirWay += group.batch.size();
            } else if (m_stopping && m_pending.empty() && onTheirWay.empty()) {
                return;
            } else {
                m_polling = true;
            }
        }
        if (!group.batch.empty()) {
            group.views.reserve(group.batch.size());
            for (SPending& pending : group.batch)
                group.views.push_back(std::move(pending.view));
            std::string error;
            const std::uint64_t ticket = pipe.Send(group.views, error);
            group.sent = Clock::now();
            if (ticket == 0)
                ended(group, {}, false, error, 0);
            else
                onTheirWay.emplace(ticket, std::move(group));
            continue;
        }
        const int socket = onTheirWay.empty() ? -1 : pipe.Socket();
        pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {socket, short(POLLIN | (pipe.WantsToWrite() ? POLLOUT : 0)), 0}};
        const auto untilUpkeep = std::chrono::duration_cast<std::chrono::milliseconds>(nextUpkeep - Clock::now());
        poll(fds, 2, int(std::clamp<long long>(untilUpkeep.count(), 0, 1000)));
        {
            std::lock_guard lock(m_mutex);
            m_polling = false;
        }
        if (fds[0].revents) {
            eventfd_t ignored;
            [[maybe_unused]] const ssize_t got = read(m_wakeFd, &ignored, sizeof ignored);
        }
        for (IViewPipe::SDone& done : pipe.Collect()) {
            const auto found = onTheirWay.find(done.ticket);
            if (found == onTheirWay.end())
                continue;
            SOnItsWay finished = std::move(found->second);
            onTheirWay.erase(found);
            ended(finished, done.seqs, done.stored, done.error,
                  std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - finished.sent).count());
        }
        if (Clock::now() >= nextUpkeep) {
            DeleteOldViews();
            nextUpkeep = Clock::now() + kUpkeepEvery;
        }
    }
}

void CViewWriter::Finish(std::vector<SPending>& batch, std::span<const SNewView> views,
                         const std::vector<long long>& seqs, bool stored, const std::string& error,
                         long long microseconds)
{
    m_metrics.CountCommit(microseconds);
    if (!stored) {
        ++m_metrics.errors;
        LogError("storing " + std::to_string(batch.size()) + " page views failed: " + error);
    }
    Answer(batch, seqs, stored);
    // The newest number of each web ID is enough for the waiters.
    for (size_t i = views.size(); stored && i-- > 0;) {
        if (seqs[i] > 0)
            m_recorded(views[i].webId, seqs[i]);
    }
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
            batch = TakeBatch();
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
    Finish(batch, views, seqs, stored, error,
           std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started).count());
}

std::vector<CViewWriter::SPending> CViewWriter::TakeBatch()
{
    std::vector<SPending> batch;
    if (m_pending.size() <= kMaxBatch) {
        batch.swap(m_pending);
    } else {
        batch.assign(std::make_move_iterator(m_pending.begin()),
                     std::make_move_iterator(m_pending.begin() + kMaxBatch));
        m_pending.erase(m_pending.begin(), m_pending.begin() + kMaxBatch);
    }
    return batch;
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
