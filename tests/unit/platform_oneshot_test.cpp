// RunThenCallback: where the result lands, when it is dropped, and the stop at exit.
#include "platform/AbortScope.h"
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
