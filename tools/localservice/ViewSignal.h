#pragma once
// Tells the WaitInfo requests of the stand-in that a page view was recorded
// (any web ID: each waiter looks at its own in the store), and lets a stop
// end every wait at once.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

class CViewSignal
{
public:
    using Clock = std::chrono::steady_clock;

    // Read before looking at the store, then passed to WaitAfter, so a view
    // recorded in between is not missed.
    std::uint64_t Generation()
    {
        std::lock_guard lock(m_mutex);
        return m_generation;
    }
    // False at the deadline or once stopping.
    bool WaitAfter(std::uint64_t generation, Clock::time_point deadline)
    {
        std::unique_lock lock(m_mutex);
        return m_wake.wait_until(lock, deadline, [&] { return m_stopping || m_generation != generation; }) &&
               !m_stopping;
    }
    void Recorded()
    {
        {
            std::lock_guard lock(m_mutex);
            ++m_generation;
        }
        m_wake.notify_all();
    }
    void Stop()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::uint64_t m_generation = 0;
    bool m_stopping = false;
};
