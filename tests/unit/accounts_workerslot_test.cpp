// The restartable worker set: stop never waits, a restart waits for the old
// set to end, the flags go up when the owner goes.
#include "support/TestMain.h"
#include "support/WaitUntil.h"

#include "accounts/WorkerSlot.h"

#include <QSignalSpy>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <atomic>

namespace {

std::atomic<int> g_live{0};
std::atomic<int> g_most{0};
std::atomic<int> g_created{0};
// The next worker to run ends at once, unasked, as one that met an exception does.
std::atomic<bool> g_endUnasked{false};

// Runs until its flag is up and then until the test lets it end.
class CFakeWorker : public QThread
{
public:
    explicit CFakeWorker(std::atomic<bool>* holdAfterStop) : m_hold(holdAfterStop) { ++g_created; }
    std::atomic<int> m_stop{0};

protected:
    void run() override
    {
        const int now = ++g_live;
        int most = g_most.load();
        while (now > most && !g_most.compare_exchange_weak(most, now)) {
        }
        while (!m_stop.load() && !g_endUnasked.exchange(false))
            QThread::msleep(2);
        while (m_hold && m_hold->load())
            QThread::msleep(2);
        --g_live;
    }

private:
    std::atomic<bool>* m_hold;
};

class WorkerSlotTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        g_live = 0;
        g_most = 0;
        g_created = 0;
        m_hold = false;
    }
    void TearDown() override
    {
        m_hold = false;
        // Let every fake end and be deleted.
        EXPECT_TRUE(WaitUntil([] { return g_live.load() == 0; }, 5000));
        QTest::qWait(20);
    }
    CWorkerSlot::Factory Factory(int count = 2)
    {
        return [this, count] {
            QList<CWorkerSlot::CWorker> workers;
            for (int i = 0; i < count; ++i) {
                auto* worker = new CFakeWorker(&m_hold);
                workers.append({worker, &worker->m_stop});
            }
            return workers;
        };
    }
    std::atomic<bool> m_hold{false};
};

} // namespace

TEST_F(WorkerSlotTest, StartRunsTheSetAndStopRaisesEveryFlagWithoutWaiting)
{
    CWorkerSlot slot(Factory());
    QSignalSpy started(&slot, &CWorkerSlot::Started);
    slot.Start();
    EXPECT_TRUE(slot.IsRunning());
    EXPECT_FALSE(slot.IsStartPending());
    EXPECT_EQ(started.count(), 1);
    ASSERT_TRUE(WaitUntil([] { return g_live.load() == 2; }, 5000));
    slot.Start();
    EXPECT_EQ(g_created.load(), 2) << "a running set is not started twice";

    m_hold = true;
    slot.Stop();
    EXPECT_FALSE(slot.IsRunning());
    // Stop returned while both threads are held: it did not wait.
    EXPECT_EQ(g_live.load(), 2);
    EXPECT_EQ(slot.EndingCount(), 2);
    m_hold = false;
    EXPECT_TRUE(WaitUntil([&slot] { return slot.EndingCount() == 0; }, 5000));
}

TEST_F(WorkerSlotTest, RestartWaitsUntilThePreviousSetHasEnded)
{
    CWorkerSlot slot(Factory());
    QSignalSpy started(&slot, &CWorkerSlot::Started);
    slot.Start();
    ASSERT_TRUE(WaitUntil([] { return g_live.load() == 2; }, 5000));
    m_hold = true;
    slot.Stop();
    slot.Start();
    EXPECT_TRUE(slot.IsRunning());
    EXPECT_TRUE(slot.IsStartPending());
    QTest::qWait(5 * CWorkerSlot::kPollMs);
    EXPECT_EQ(g_created.load(), 2) << "no new set while the old one still runs";
    EXPECT_EQ(started.count(), 1);

    m_hold = false;
    ASSERT_TRUE(WaitUntil([&started] { return started.count() == 2; }, 5000));
    EXPECT_FALSE(slot.IsStartPending());
    EXPECT_EQ(g_created.load(), 4);
    ASSERT_TRUE(WaitUntil([] { return g_live.load() == 2; }, 5000));
    EXPECT_EQ(g_most.load(), 2);
    slot.Stop();
}

TEST_F(WorkerSlotTest, StopWhilePendingCancelsTheStart)
{
    CWorkerSlot slot(Factory(1));
    slot.Start();
    ASSERT_TRUE(WaitUntil([] { return g_live.load() == 1; }, 5000));
    m_hold = true;
    slot.Stop();
    slot.Start();
    ASSERT_TRUE(slot.IsStartPending());
    slot.Stop();
    EXPECT_FALSE(slot.IsRunning());
    m_hold = false;
    EXPECT_TRUE(WaitUntil([] { return g_live.load() == 0; }, 5000));
    QTest::qWait(5 * CWorkerSlot::kPollMs);
    EXPECT_EQ(g_created.load(), 1);
}

TEST_F(WorkerSlotTest, FinishedThreadsDeleteThemselves)
{
    QPointer<QThread> first;
    {
        CWorkerSlot slot([&first] {
            auto* worker = new CFakeWorker(nullptr);
            first = worker;
            return QList<CWorkerSlot::CWorker>{{worker, &worker->m_stop}};
        });
        slot.Start();
        ASSERT_TRUE(WaitUntil([] { return g_live.load() == 1; }, 5000));
        // The owner goes: the flag goes up, nobody waits.
    }
    EXPECT_TRUE(WaitUntil([&first] { return first.isNull(); }, 5000));
}

TEST_F(WorkerSlotTest, StartAlsoWaitsForTheReadyCheck)
{
    std::atomic<bool> ready{false};
    CWorkerSlot slot(Factory(1));
    slot.SetReadyCheck([&ready] { return ready.load(); });
    QSignalSpy started(&slot, &CWorkerSlot::Started);
    slot.Start();
    EXPECT_TRUE(slot.IsStartPending());
    QTest::qWait(3 * CWorkerSlot::kPollMs);
    EXPECT_EQ(g_created.load(), 0);
    ready = true;
    EXPECT_TRUE(WaitUntil([&started] { return started.count() == 1; }, 5000));
    EXPECT_EQ(g_created.load(), 1);
    slot.Stop();
}

// A thread of the set that ends by itself stops the whole set, so the page can
// show it; the next start (the 30-minute restart) brings a new set.
TEST_F(WorkerSlotTest, AThreadEndingUnaskedStopsTheSetAndAStartBringsItBack)
{
    CWorkerSlot slot(Factory());
    QSignalSpy ended(&slot, &CWorkerSlot::EndedUnasked);
    slot.Start();
    ASSERT_TRUE(WaitUntil([] { return g_live.load() == 2; }, 5000));
    g_endUnasked = true;
    ASSERT_TRUE(ended.wait(5000));
    EXPECT_FALSE(slot.IsRunning());
    ASSERT_TRUE(WaitUntil([] { return g_live.load() == 0; }, 5000)) << "the other thread was stopped too";
    slot.Start();
    EXPECT_TRUE(WaitUntil([] { return g_live.load() == 2; }, 5000));
    EXPECT_EQ(g_created.load(), 4);
    EXPECT_EQ(ended.count(), 1);
    slot.Stop();
}
