#pragma once
// Sleeps and wall time of the worker threads go through one replaceable
// clock, so tests can run minutes of polling in a fraction of a second.
#include <QtGlobal>

class IClock
{
public:
    virtual ~IClock() = default;
    virtual void SleepMs(int ms) = 0;
    // Milliseconds since 1970-01-01 UTC.
    virtual qint64 NowMs() = 0;
};

IClock& Clock();
// nullptr restores the real clock. The clock must outlive every thread using it.
void SetClock(IClock* clock);

inline void SleepMs(int ms)
{
    Clock().SleepMs(ms);
}
