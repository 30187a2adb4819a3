// RunThenCallback: where the result lands, when it is dropped, and the stop at exit.
#include "platform/AbortScope.h"
#include "platform/Clock.h"
#include "platform/OneShot.h"
#include "platform/Workers.h"
#include "support/TestMain.h"
#include "support/WaitUntil.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <memory>

namespace {

// Work that runs until released or aborted; true when aborted.
bool HoldUntil(const std::atomic<bool>& release)
{
    QDeadlineTimer deadline(10000);
    while (!release.load() && !AbortRequested() && !deadline.hasExpired())
        QThread::msleep(1);
    return AbortRequested();
}

} // namespace

TEST(OneShot, ResultArrivesOnTheContextsThread)
{
    QObject context;
    std::atomic<QThread*> workThread{nullptr};
    QThread* callbackThread = nullptr;
    int result = 0;
    RunThenCallback(
        &context,
        [&] {
            workThread = QThread::currentThread();
            return 42;
        },
        [&](int value) {
            callbackThread = QThread::currentThread();
            result = value;
        });
    ASSERT_TRUE(WaitUntil([&] { return result != 0; }));
    EXPECT_EQ(result, 42);
    EXPECT_EQ(callbackThread, context.thread());
    EXPECT_NE(workThread.load(), context.thread());
    EXPECT_TRUE(WaitUntil([] { return CWorkerRegistry::RunningCount() == 0; }));
}

TEST(OneShot, ResultIsDroppedWhenTheContextIsGone)
{
    auto context = std::make_unique<QObject>();
    std::atomic<bool> release{false};
    bool called = false;
    const COneShot shot = RunThenCallback(
        context.get(), [&] { return HoldUntil(release); }, [&](bool) { called = true; });
    context.reset();
    release = true;
    ASSERT_TRUE(WaitUntil([&] { return !shot.IsRunning() && CWorkerRegistry::RunningCount() == 0; }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(called);
}

TEST(OneShot, StopAtExitAbortsTheWorkAndDropsItsResult)
{
    QObject context;
    std::atomic<bool> release{false};
    std::atomic<bool> aborted{false};
    bool called = false;
    const COneShot shot = RunThenCallback(
        &context, [&] { return aborted = HoldUntil(release); }, [&](bool) { called = true; });
    EXPECT_EQ(CWorkerRegistry::RunningCount(), 1);
    EXPECT_TRUE(CWorkerRegistry::StopAll(5000));
    EXPECT_TRUE(aborted.load());
    EXPECT_FALSE(shot.IsRunning());
    QCoreApplication::processEvents();
    EXPECT_FALSE(called);
}

// PauseUnlessStopped, on a clock that only counts: true only when the whole pause passed.
struct CPauseCase
{
    int stopAtSleep;    // the flag rises during this sleep (1-based); 0: before the pause, -1: never
    int shortenAtSleep; // the live length drops to 2 during this sleep; 0: never
    bool passed;
    int sleeps;
};

class PauseUnlessStoppedTest : public ::testing::TestWithParam<CPauseCase>, public IClock
{
protected:
    void SetUp() override { SetClock(this); }
    void TearDown() override { SetClock(nullptr); }
    void SleepMs(int) override
    {
        ++m_sleeps;
        if (m_sleeps == GetParam().stopAtSleep)
            m_stop = 1;
        if (m_sleeps == GetParam().shortenAtSleep)
            m_seconds = 2;
    }
    qint64 NowMs() override { return 0; }

    std::atomic<int> m_stop{0};
    std::atomic<int> m_seconds{4};
    int m_sleeps = 0;
};

TEST_P(PauseUnlessStoppedTest, PassesOnlyWithoutAStop)
{
    const CPauseCase c = GetParam();
    m_stop = c.stopAtSleep == 0 ? 1 : 0;
    const bool passed = c.shortenAtSleep ? PauseUnlessStopped(m_stop, m_seconds) : PauseUnlessStopped(m_stop, 4);
    EXPECT_EQ(passed, c.passed);
    EXPECT_EQ(m_sleeps, c.sleeps);
}

INSTANTIATE_TEST_SUITE_P(Cases, PauseUnlessStoppedTest,
                         ::testing::Values(CPauseCase{-1, 0, true, 4}, CPauseCase{0, 0, false, 0},
                                           CPauseCase{2, 0, false, 2}, CPauseCase{4, 0, false, 4},
                                           CPauseCase{-1, 1, true, 2}, CPauseCase{-1, 3, true, 3}));
