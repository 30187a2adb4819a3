// The presence query and the presence thread: the request it makes, the
// reply it reads, and the lists it hands the visitor list.
#include "monitor/FlashOnlineClientThread.h"

#include "support/LocalService.h"
#include "support/MonitorFakes.h"
#include "support/MonitorService.h"
#include "support/TestMain.h"

#include <QDeadlineTimer>

#include <mutex>

namespace {

// A presence endpoint with a canned reply that records each request's target.
class CannedPresence
{
public:
    CannedPresence()
    {
        m_server.Server().Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard lock(m_mutex);
            m_targets.push_back(req.target);
            res.status = m_status;
            res.set_content(m_reply, "text/javascript");
        });
        m_started = m_server.Start();
        CEndpoints endpoints;
        endpoints.imPresenceBase = m_server.Base();
        SetEndpoints(endpoints);
    }
    bool Started() const { return m_started; }
    void Reply(const std::string& reply, int status = 200)
    {
        std::lock_guard lock(m_mutex);
        m_reply = reply;
        m_status = status;
    }
    std::vector<std::string> Targets()
    {
        std::lock_guard lock(m_mutex);
        return m_targets;
    }

private:
    CTestHttpServer m_server;
    bool m_started = false;
    std::mutex m_mutex;
    std::string m_reply;
    int m_status = 200;
    std::vector<std::string> m_targets;
};

TEST(QueryOnlineUsers, AnEmptyListStillAsksWithAnEmptyUidsValue)
{
    CannedPresence presence;
    ASSERT_TRUE(presence.Started());
    presence.Reply("IM_STATUS_CALLBACK({\"status\":0,\"data\":{}});");
    EXPECT_TRUE(QueryOnlineUsers(QString(), {}).isEmpty());
    EXPECT_EQ(
        presence.Targets(),
        std::vector<std::string>{"/imstate/?callback=IM_STATUS_CALLBACK&type=json&uids=&.tmp=0.14664018889353225"});
}

TEST(QueryOnlineUsers, SendsTheIdsAsTheyAreAndReadsTheStates)
{
    CannedPresence presence;
    ASSERT_TRUE(presence.Started());
    presence.Reply("IM_STATUS_CALLBACK({\"data\":{\"a1\":{online:\"1\",x:1},\"b_2\":{online:\"0\",x:1},"
                   "\"c-3\":{online:\"1x\",x:1}}});");
    const QStringList online = QueryOnlineUsers(QStringLiteral("a1,b_2,c-3,"),
                                                {QStringLiteral("甲"), QStringLiteral("乙"), QStringLiteral("丙")});
    EXPECT_EQ(online, (QStringList{QStringLiteral("甲"), QStringLiteral("丙")}));
    ASSERT_EQ(presence.Targets().size(), 1u) << "one attempt, no retry";
    EXPECT_EQ(presence.Targets()[0],
              "/imstate/?callback=IM_STATUS_CALLBACK&type=json&uids=a1,b_2,c-3,&.tmp=0.14664018889353225");
}

TEST(QueryOnlineUsers, AFailedRequestGivesNobodyAfterOneAttempt)
{
    CannedPresence presence;
    ASSERT_TRUE(presence.Started());
    presence.Reply("\"x\":{online:\"1\",", 500);
    EXPECT_TRUE(QueryOnlineUsers(QStringLiteral("x,"), {QStringLiteral("X")}).isEmpty());
    EXPECT_EQ(presence.Targets().size(), 1u);
}

TEST(QueryOnlineUsers, AgainstTheLocalService)
{
    CLocalService service;
    ASSERT_TRUE(service.Start()) << service.Error().toStdString();
    service.ApplyEndpoints();
    ASSERT_TRUE(SetImPresence(service, QStringLiteral("u1"), QStringLiteral("1")));
    ASSERT_TRUE(SetImPresence(service, QStringLiteral("u2"), QStringLiteral("0")));
    ASSERT_TRUE(SetImPresence(service, QStringLiteral("u4"), QStringLiteral("1")));
    const QStringList names{QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("three"),
                            QStringLiteral("four")};
    // An empty ID keeps its place, so the names after it stay aligned.
    EXPECT_EQ(QueryOnlineUsers(QStringLiteral("u1,u2,,u4,"), names),
              (QStringList{QStringLiteral("one"), QStringLiteral("four")}));
    ASSERT_TRUE(SetImPresence(service, QStringLiteral("u1"), QStringLiteral("0")));
    EXPECT_EQ(QueryOnlineUsers(QStringLiteral("u1,u2,,u4,"), names), QStringList{QStringLiteral("four")});
    EXPECT_TRUE(QueryOnlineUsers(QString(), {}).isEmpty());
}

TEST(FlashOnlineThread, HandsTheOnlineNamesToTheListEachCycleAndStopsWithinASecond)
{
    CLocalService service;
    ASSERT_TRUE(service.Start()) << service.Error().toStdString();
    service.ApplyEndpoints();
    ASSERT_TRUE(SetImPresence(service, QStringLiteral("id-b"), QStringLiteral("1")));

    constexpr qint64 kT0 = 1717243200000;
    CFastClock clock(kT0);
    CRecordingBridge bridge;
    bridge.SetVisitors({QStringLiteral("a"), QStringLiteral("b")}, {QStringLiteral("id-a"), QStringLiteral("id-b")});
    {
        std::lock_guard lock(bridge.PresenceLists().lock);
        bridge.PresenceLists().onlineNames = QStringList{QStringLiteral("stale")};
    }

    CFlashOnlineClientThread thread;
    std::atomic<qint64> endedAt{0};
    std::atomic<qint64> stopAt{0};
    std::atomic<int> marksAtStop{0};
    QObject::connect(
        &thread, &QThread::finished, &thread, [&] { endedAt.store(clock.NowMs()); }, Qt::DirectConnection);
    // Cycles start at 5 s, 15 s, 25 s; the stop comes 4 s into the third cycle's wait.
    clock.SetSleepHook([&](qint64 now) {
        if (now - kT0 == 29000) {
            marksAtStop.store(bridge.MarkOnlineCount());
            stopAt.store(now);
            thread.m_stop.store(1);
        }
        if (now - kT0 == 16000) {
            // Second cycle done: b went offline, a came online.
            SetImPresence(service, QStringLiteral("id-b"), QStringLiteral("0"));
            SetImPresence(service, QStringLiteral("id-a"), QStringLiteral("1"));
        }
        if (now - kT0 == 6000) {
            EXPECT_EQ(bridge.OnlineNames(), QStringList{QStringLiteral("b")});
        }
    });
    thread.start();
    ASSERT_TRUE(thread.wait(20000));
    clock.SetSleepHook(nullptr);

    EXPECT_EQ(marksAtStop.load(), 3);
    EXPECT_EQ(bridge.MarkOnlineCount(), 3);
    EXPECT_EQ(bridge.OnlineNames(), QStringList{QStringLiteral("a")});
    EXPECT_EQ(endedAt.load(), stopAt.load());
}

TEST(FlashOnlineThread, AFailedQueryEmptiesTheOnlineList)
{
    CannedPresence presence;
    ASSERT_TRUE(presence.Started());
    presence.Reply("gone", 404);
    constexpr qint64 kT0 = 1717243200000;
    CFastClock clock(kT0);
    CRecordingBridge bridge;
    // An IM ID keeps its meaning in the query.
    bridge.SetVisitors({QStringLiteral("a")}, {QStringLiteral("id-a&b=c")});
    {
        std::lock_guard lock(bridge.PresenceLists().lock);
        bridge.PresenceLists().onlineNames = QStringList{QStringLiteral("a")};
    }
    CFlashOnlineClientThread thread;
    clock.SetSleepHook([&](qint64 now) {
        if (now - kT0 >= 6000)
            thread.m_stop.store(1);
    });
    thread.start();
    ASSERT_TRUE(thread.wait(20000));
    EXPECT_TRUE(bridge.OnlineNames().isEmpty());
    EXPECT_EQ(bridge.MarkOnlineCount(), 1);
    ASSERT_EQ(presence.Targets().size(), 1u);
    EXPECT_EQ(presence.Targets()[0],
              "/imstate/?callback=IM_STATUS_CALLBACK&type=json&uids=id-a%26b%3Dc,&.tmp=0.14664018889353225");
}

TEST(FlashOnlineThread, AStopDuringTheFirstDelayAsksNothing)
{
    CannedPresence presence;
    ASSERT_TRUE(presence.Started());
    constexpr qint64 kT0 = 1717243200000;
    CFastClock clock(kT0);
    CRecordingBridge bridge;
    CFlashOnlineClientThread thread;
    clock.SetSleepHook([&](qint64 now) {
        if (now - kT0 == 3000)
            thread.m_stop.store(1);
    });
    thread.start();
    ASSERT_TRUE(thread.wait(20000));
    EXPECT_TRUE(presence.Targets().empty());
    EXPECT_EQ(bridge.MarkOnlineCount(), 0);
}

} // namespace
