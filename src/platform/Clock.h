#pragma once
// Sleeps and wall time of the worker threads go through one replaceable
// clock, so tests can run minutes of polling in a fraction of a second.
#include <QtGlobal>

#include <condition_variable>
#include <mutex>

class IClock
{
public:
    virtual ~IClock() = default;
    virtual void SleepMs(int ms) = 0;
    // Milliseconds since 1970-01-01 UTC.
    virtual qint64 NowMs() = 0;
    // Waits up to ms on cv, less once notified (the caller checks why it woke);
    // lock is held on entry and on return. A simulated clock sleeps instead.
    virtual void WaitMs(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, int ms);
};

IClock& Clock();
// nullptr restores the real clock. The clock must outlive every thread using it.
void SetClock(IClock* clock);

inline void SleepMs(int ms)
{
    Clock().SleepMs(ms);
}
