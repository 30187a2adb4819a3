#include "support/TestMain.h"

#include "store/EventEx.h"
#include "support/WaitUntil.h"

#include <QThread>

#include <atomic>
#include <thread>
#include <vector>

namespace {

TEST(EventEx, IsNamedAndStartsSetSoTheFirstWaiterPasses)
{
    CEventEx event;
    EXPECT_EQ(event.Name(), "Taven_Single_Event_Session_Korvan");
    EXPECT_EQ(kEventWaitMs, 10000);
    EXPECT_TRUE(event.Wait(0));
    // Auto-reset: the second waiter does not pass.
    EXPECT_FALSE(event.Wait(20));
    event.Set();
    event.Reset();
    EXPECT_FALSE(event.Wait(0));
}

TEST(EventEx, OneSetReleasesOneWaiter)
{
    CEventEx event(QStringLiteral("one_waiter"));
    ASSERT_TRUE(event.Wait(0));
    std::atomic<int> passed{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 2; ++i)
        waiters.emplace_back([&] {
            if (event.Wait(10000))
                ++passed;
        });
    event.Set();
    EXPECT_TRUE(WaitUntil([&] { return passed.load() == 1; }));
    // Give a wrongly released second waiter a moment to show itself.
    QThread::msleep(50);
    EXPECT_EQ(passed.load(), 1);
    event.Set();
    EXPECT_TRUE(WaitUntil([&] { return passed.load() == 2; }));
    for (auto& waiter : waiters)
        waiter.join();
}

TEST(EventEx, EventsOfOneNameShareOneStateOthersDoNot)
{
    CEventEx first(QStringLiteral("shared"));
    CEventEx second(QStringLiteral("shared"));
    CEventEx other(QStringLiteral("other"));
    EXPECT_EQ(first.Name(), second.Name());
    EXPECT_TRUE(first.Wait(0));
    EXPECT_FALSE(second.Wait(0));
    EXPECT_TRUE(other.Wait(0));
    second.Set();
    EXPECT_TRUE(first.Wait(0));
}

TEST(EventEx, TheLockSetsTheEventOnEveryWayOutAndALateOneReleasesNothing)
{
    CEventEx event(QStringLiteral("lock"));
    {
        CEventExLock lock(event);
        EXPECT_TRUE(lock.Acquired());
        EXPECT_FALSE(event.Wait(0));
        {
            // Held elsewhere: the wait runs out, and the late lock touches nothing.
            CEventExLock late(event, 20);
            EXPECT_FALSE(late.Acquired());
        }
        EXPECT_FALSE(event.Wait(0)) << "a lock that did not get the event released it";
    }
    EXPECT_TRUE(event.Wait(0));
    event.Set();
    auto throwing = [&] {
        CEventExLock lock(event);
        throw 1;
    };
    EXPECT_THROW(throwing(), int);
    EXPECT_TRUE(event.Wait(0));
}

TEST(EventEx, GuardsAListAgainstTwoThreads)
{
    CEventEx event(QStringLiteral("counter"));
    int counter = 0; // deliberately not atomic: only the event guards it
    auto work = [&] {
        for (int i = 0; i < 2000; ++i) {
            CEventExLock lock(event);
            ASSERT_TRUE(lock.Acquired());
            ++counter;
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 4000);
}

} // namespace
