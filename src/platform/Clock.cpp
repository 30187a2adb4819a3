#include "platform/Clock.h"

#include <QDateTime>
#include <QThread>

#include <atomic>

namespace {

class CRealClock final : public IClock
{
public:
    void SleepMs(int ms) override { QThread::msleep(static_cast<unsigned long>(ms)); }
    qint64 NowMs() override { return QDateTime::currentMSecsSinceEpoch(); }
    void WaitMs(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, int ms) override
    {
        cv.wait_for(lock, std::chrono::milliseconds(ms));
    }
};

CRealClock g_realClock;
std::atomic<IClock*> g_clock{&g_realClock};

} // namespace

void IClock::WaitMs(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, int ms)
{
    (void)cv;
    lock.unlock();
    SleepMs(ms);
    lock.lock();
}

IClock& Clock()
{
    return *g_clock.load();
}

void SetClock(IClock* clock)
{
    g_clock.store(clock ? clock : &g_realClock);
}
