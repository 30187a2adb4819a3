#include "ConnectionThreads.h"

#include <cstdio>

CConnectionThreads::~CConnectionThreads()
{
    shutdown();
}

void CConnectionThreads::enqueue(std::function<void()> job)
{
    std::lock_guard lock(m_mutex);
    m_jobs.push_back(std::move(job));
    if (m_idle >= m_jobs.size()) {
        m_wake.notify_one();
        return;
    }
    if (m_threads.size() < m_maxThreads) {
        m_threads.emplace_back([this] { Work(); });
        return;
    }
    if (!m_fullLogged) {
        std::fprintf(stderr, "rivuzovara-local: all %zu connection threads busy, new connections wait\n", m_maxThreads);
        m_fullLogged = true;
    }
}

void CConnectionThreads::shutdown()
{
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        threads.swap(m_threads);
    }
    m_wake.notify_all();
    for (auto& thread : threads)
        thread.join();
}

void CConnectionThreads::Work()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        ++m_idle;
        m_wake.wait(lock, [this] { return !m_jobs.empty() || m_stopping; });
        --m_idle;
        // As cpp-httplib's own pool: the connections already taken are served before the end.
        if (m_jobs.empty())
            return;
        auto job = std::move(m_jobs.front());
        m_jobs.pop_front();
        lock.unlock();
        job();
        lock.lock();
    }
}
