// The monitoring thread's timing, on a clock whose seconds take no real
// time: the polls of a cycle, the live interval and the stop flag.
#include "accounts/LiveSettings.h"
#include "monitor/MonitorClientThread.h"
#include "store/AdoConnection.h"
#include "store/StoreStartup.h"

#include "support/LocalService.h"
#include "support/MonitorFakes.h"
#include "support/TestMain.h"

#include <QTemporaryDir>

#include <condition_variable>
#include <mutex>

namespace {

constexpr qint64 kT0 = 1717243200000;
const QString kPollA = QStringLiteral("正在刷新[shopA]的店铺......");
const QString kPollB = QStringLiteral("正在刷新[shopB]的店铺......");

class MonitorThreadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(OpenStore(m_dir.path()));
        AddAccount(QStringLiteral("shopA"), QStringLiteral("11"), true);
        AddAccount(QStringLiteral("shopB"), QStringLiteral("12"), false);
        // Nothing listens there: every poll fails at once and shows only its first status.
        CEndpoints endpoints;
        for (QString* base :
             {&endpoints.trackingBase, &endpoints.imProfileBase, &endpoints.imPortraitBase, &endpoints.imPresenceBase})
            *base = QStringLiteral("http://127.0.0.1:1");
        SetEndpoints(endpoints);
        LiveSettings().reflashtime.store(20);
    }
    void TearDown() override
    {
        m_clock.SetSleepHook(nullptr);
        CloseStore();
        LiveSettings().reflashtime.store(30);
    }

    static void AddAccount(const QString& name, const QString& webId, bool autoSend)
    {
        ASSERT_TRUE(g_pConnection->Execute(
            QStringLiteral(
                "insert into [user] ([username],[usersmailname],[password],[webid],[messageinfo],[autosend]) "
                "values ('%1','hi%1','pw','%2','hello',%3)")
                .arg(name, webId)
                .arg(autoSend ? 1 : 0)));
    }

    // Runs the thread until it ends by itself; true when it did within the bound.
    bool RunToEnd(CMonitorClientThread& thread)
    {
        QObject::connect(
            &thread, &QThread::finished, &thread, [this] { m_endedAt = m_clock.NowMs(); }, Qt::DirectConnection);
        thread.start();
        return thread.wait(20000);
    }

    // Poll starts (status texts "正在刷新[...]") as (time, account) pairs.
    std::vector<std::pair<qint64, QString>> Polls()
    {
        std::vector<std::pair<qint64, QString>> polls;
        for (const CRecordedText& status : m_notifier.StatusTexts()) {
            if (status.text.startsWith(QStringLiteral("正在刷新")))
                polls.emplace_back(status.atMs - kT0, status.text);
        }
        return polls;
    }

    // Raises the stop flag at the start of the n-th poll (counting from 1).
    void StopAtPoll(CMonitorClientThread& thread, int n)
    {
        m_notifier.onStatus = [&thread, n, count = std::make_shared<int>(0)](const QString& text) {
            if (text.startsWith(QStringLiteral("正在刷新")) && ++*count == n)
                thread.m_stop.store(1);
        };
    }

    QTemporaryDir m_dir;
    CFastClock m_clock{kT0};
    CRecordingNotifier m_notifier;
    CRecordingBridge m_bridge;
    qint64 m_endedAt = 0;
};

TEST_F(MonitorThreadTest, PollsEachAccountFiveSecondsApartThenWaitsTheInterval)
{
    CMonitorClientThread thread;
    StopAtPoll(thread, 4);
    ASSERT_TRUE(RunToEnd(thread));
    const auto polls = Polls();
    ASSERT_EQ(polls.size(), 4u);
    // One second before reading the accounts; 5 s after each account; 20 s after the cycle.
    const std::vector<std::pair<qint64, QString>> expected = {
        {1000, kPollA}, {6000, kPollB}, {31000, kPollA}, {36000, kPollB}};
    EXPECT_EQ(polls, expected);
    // The stop raised during the fourth poll is seen right after it.
    EXPECT_EQ(m_endedAt - kT0, 36000);
    EXPECT_EQ(CMonitorClientThread::LiveCount(), 0);
}

struct IntervalCase
{
    int newInterval;      // set 3 s into the wait after the first cycle
    qint64 secondCycleAt; // ms after start
};

class MonitorIntervalTest : public MonitorThreadTest, public ::testing::WithParamInterface<IntervalCase>
{
};

TEST_P(MonitorIntervalTest, AChangeDuringTheWaitTakesEffectAtOnce)
{
    const IntervalCase c = GetParam();
    // The wait after the first cycle starts at 11 s.
    m_clock.SetSleepHook([&c](qint64 now) {
        if (now - kT0 == 14000)
            LiveSettings().reflashtime.store(c.newInterval);
    });
    CMonitorClientThread thread;
    StopAtPoll(thread, 3);
    ASSERT_TRUE(RunToEnd(thread));
    const auto polls = Polls();
    ASSERT_EQ(polls.size(), 3u);
    EXPECT_EQ(polls[2], std::make_pair(c.secondCycleAt, kPollA));
}

INSTANTIATE_TEST_SUITE_P(Cases, MonitorIntervalTest,
                         ::testing::Values(IntervalCase{5, 16000}, IntervalCase{2, 14000}, IntervalCase{0, 14000},
                                           IntervalCase{-1, 14000}, IntervalCase{40, 51000}));

struct StopCase
{
    const char* what;
    qint64 stopAt; // ms after start, at a sleep
    int polls;     // polls seen in all
};

class MonitorStopTest : public MonitorThreadTest, public ::testing::WithParamInterface<StopCase>
{
};

TEST_P(MonitorStopTest, EndsWithinOneSimulatedSecondWithoutAnotherPoll)
{
    const StopCase c = GetParam();
    CMonitorClientThread thread;
    m_clock.SetSleepHook([&thread, &c](qint64 now) {
        if (now - kT0 == c.stopAt)
            thread.m_stop.store(1);
    });
    ASSERT_TRUE(RunToEnd(thread));
    EXPECT_EQ(static_cast<int>(Polls().size()), c.polls) << c.what;
    EXPECT_GE(m_endedAt - kT0, c.stopAt) << c.what;
    EXPECT_LE(m_endedAt - kT0, c.stopAt + 1000) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Cases, MonitorStopTest,
                         ::testing::Values(StopCase{"during the first pause of the first account", 2000, 1},
                                           StopCase{"at the last second of the pause", 6000, 1},
                                           StopCase{"during the pause after the second account", 9000, 2},
                                           StopCase{"during the interval wait", 25000, 2},
                                           StopCase{"before the accounts are read", 1000, 0}));

TEST_F(MonitorThreadTest, WithoutAccountsItOnlyWaits)
{
    ASSERT_TRUE(g_pConnection->Execute(QStringLiteral("delete from [user]")));
    CMonitorClientThread thread;
    m_clock.SetSleepHook([&thread](qint64 now) {
        if (now - kT0 >= 100000)
            thread.m_stop.store(1);
    });
    ASSERT_TRUE(RunToEnd(thread));
    EXPECT_TRUE(Polls().empty());
    EXPECT_EQ(m_endedAt - kT0, 100000);
}

TEST_F(MonitorThreadTest, AccountsAreReadOnceInIdOrder)
{
    const QList<CAccount> accounts = CAccountTable().ReadAll();
    ASSERT_EQ(accounts.size(), 2);
    EXPECT_EQ(accounts[0].userName, QStringLiteral("shopA"));
    EXPECT_EQ(accounts[0].webId, QStringLiteral("11"));
    EXPECT_EQ(accounts[0].greetingAccount, QStringLiteral("hishopA"));
    EXPECT_EQ(accounts[0].greeting, QStringLiteral("hello"));
    EXPECT_TRUE(accounts[0].autoSend);
    EXPECT_EQ(accounts[1].userName, QStringLiteral("shopB"));
    EXPECT_FALSE(accounts[1].autoSend);

    // An account added while the thread runs is polled only by the next thread.
    CMonitorClientThread thread;
    m_notifier.onStatus = [&, count = std::make_shared<int>(0)](const QString& text) {
        if (text == kPollA && *count == 0)
            AddAccount(QStringLiteral("shopC"), QStringLiteral("13"), false);
        if (text.startsWith(QStringLiteral("正在刷新")) && ++*count == 4)
            thread.m_stop.store(1);
    };
    ASSERT_TRUE(RunToEnd(thread));
    for (const auto& poll : Polls())
        EXPECT_NE(poll.second, QStringLiteral("正在刷新[shopC]的店铺......"));
    EXPECT_EQ(CAccountTable().ReadAll().size(), 3);
}

TEST(MonitorThreadLiveCount, CountsFromCreationUntilTheRunEnds)
{
    CFastClock clock(kT0);
    ASSERT_EQ(CMonitorClientThread::LiveCount(), 0);
    {
        // Created but never started: it holds a restart back until it is gone.
        CMonitorClientThread idle;
        EXPECT_EQ(CMonitorClientThread::LiveCount(), 1);
    }
    EXPECT_EQ(CMonitorClientThread::LiveCount(), 0);
    CMonitorClientThread thread;
    thread.m_stop.store(1);
    thread.start();
    ASSERT_TRUE(thread.wait(20000));
    EXPECT_EQ(CMonitorClientThread::LiveCount(), 0);
}

TEST(MonitorThreadAbort, AStopEndsAPollWaitingOnTheNetwork)
{
    // A tracking service that answers nothing until released.
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    CTestHttpServer server;
    server.Server().Get(".*", [&](const httplib::Request&, httplib::Response& res) {
        std::unique_lock lock(mutex);
        released.wait_for(lock, std::chrono::seconds(25), [&] { return release; });
        res.set_content("|##|", "text/plain");
    });
    ASSERT_TRUE(server.Start());

    QTemporaryDir dir;
    ASSERT_TRUE(OpenStore(dir.path()));
    ASSERT_TRUE(g_pConnection->Execute(QStringLiteral(
        "insert into [user] ([username],[usersmailname],[password],[webid],[messageinfo],[autosend]) values "
        "('slow','hislow','pw','1','',0)")));
    CEndpoints endpoints;
    endpoints.trackingBase = server.Base();
    endpoints.imProfileBase = server.Base();
    SetEndpoints(endpoints);

    CFastClock clock(kT0);
    CRecordingNotifier notifier;
    CMonitorClientThread thread;
    std::atomic<bool> polling{false};
    notifier.onStatus = [&](const QString&) { polling.store(true); };
    thread.start();
    QDeadlineTimer deadline(10000);
    while (!polling.load() && !deadline.hasExpired())
        QThread::msleep(5);
    ASSERT_TRUE(polling.load());
    EXPECT_EQ(CMonitorClientThread::LiveCount(), 1);
    QThread::msleep(100); // let the request reach the server
    thread.m_stop.store(1);
    // The request would take 25 s (and the time-out 30 s); the abort ends it long before.
    const bool ended = thread.wait(5000);
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    released.notify_all();
    EXPECT_TRUE(ended);
    if (!ended)
        thread.wait();
    EXPECT_EQ(CMonitorClientThread::LiveCount(), 0);
    server.Stop();
    CloseStore();
}

} // namespace
