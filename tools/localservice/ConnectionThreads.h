#pragma once
// The tracking side's connection threads: cpp-httplib gives each connection
// a thread for as long as it lasts, and a WaitInfo request holds its thread
// up to the wait. A fixed pool of a few threads would leave every other
// client queued behind a few waiting desktop programs, so threads are added
// while all are busy, up to a bound.
#include <httplib.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class CConnectionThreads final : public httplib::TaskQueue
{
public:
    explicit CConnectionThreads(size_t maxThreads) : m_maxThreads(maxThreads) {}
    ~CConnectionThreads() override;

    void enqueue(std::function<void()> job) override;
    void shutdown() override;

private:
    void Work();

    const size_t m_maxThreads;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    std::vector<std::thread> m_threads;
    size_t m_idle = 0;
    bool m_stopping = false;
    bool m_fullLogged = false;
};
