// The greeting sender thread against a real queue table, with a fast clock
// (a second of pause costs a millisecond) and a recording stand-in for the IM client.
#include "support/TestMain.h"
#include "support/WaitUntil.h"

#include "accounts/LiveSettings.h"
#include "greet/AutoSendMsgThread.h"
#include "greet/ImClient.h"
#include "platform/Clock.h"
#include "platform/Workers.h"
#include "store/AdoConnection.h"
#include "store/AdoRecordSet.h"
#include "support/StoreTestSupport.h"
#include "tables/GreetingLogTable.h"

#include <QHash>
#include <QRegularExpression>

#include <sqlite3.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Virtual time moves by what is asked for; the real wait is a thousandth of it.
class CFastClock final : public IClock
{
public:
    void SleepMs(int ms) override
    {
        std::this_thread::sleep_for(std::chrono::microseconds(ms));
        std::function<void(qint64)> hook;
        qint64 now = 0;
        {
            std::lock_guard lock(m_mutex);
            m_now += ms;
            now = m_now;
            hook = m_afterSleep;
        }
        if (hook)
            hook(now);
    }
    qint64 NowMs() override
    {
        std::lock_guard lock(m_mutex);
        return m_now;
    }
    // Runs on the sleeping thread after each sleep, with the new virtual time.
    void AfterSleep(std::function<void(qint64)> hook)
    {
        std::lock_guard lock(m_mutex);
        m_afterSleep = std::move(hook);
    }

private:
    std::mutex m_mutex;
    qint64 m_now = 0;
    std::function<void(qint64)> m_afterSleep;
};

struct CSent
{
    QString account;
    QString visitor;
    QString text;
    qint64 at = 0;
    int queuedThen = 0; // rows in the queue while this one was being sent
};

class GreetSenderThread : public CStoreTest
{
protected:
    void SetUp() override
    {
        CStoreTest::SetUp();
        m_previousConnection = g_pConnection;
        g_pConnection = &m_connection;
        SetClock(&m_clock);
        m_previousStep = LiveSettings().sendsteptime.load();
        LiveSettings().sendsteptime = 6;
        sqlite3_trace_v2(m_connection.Handle(), SQLITE_TRACE_STMT, &GreetSenderThread::Trace, this);
        m_previousSender =
            SetGreetingSender([this](const QString& account, const QString& visitor, const QString& text) {
                const int queued = QueueSize();
                std::function<void(int)> onSend;
                int index = 0;
                {
                    std::lock_guard lock(m_mutex);
                    m_sent.push_back({account, visitor, text, m_clock.NowMs(), queued});
                    index = int(m_sent.size());
                    onSend = m_onSend;
                }
                if (onSend)
                    onSend(index);
                if (m_holdFor.contains(visitor) && m_clock.NowMs() < m_holdUntilMs.value(visitor)) {
                    SetLastGreetReason(EGreetReason::Grab);
                    return kGreetingHeld;
                }
                return visitor == m_failFor ? 0 : 1;
            });
    }

    void TearDown() override
    {
        if (m_thread) {
            m_thread->m_stop = 1;
            EXPECT_TRUE(m_thread->wait(5000));
            delete m_thread;
        }
        SetGreetingSender(m_previousSender);
        sqlite3_trace_v2(m_connection.Handle(), 0, nullptr, nullptr);
        SetClock(nullptr);
        LiveSettings().sendsteptime = m_previousStep;
        g_pConnection = m_previousConnection;
    }

    static int Trace(unsigned type, void* context, void* statement, void*)
    {
        if (type == SQLITE_TRACE_STMT) {
            auto* self = static_cast<GreetSenderThread*>(context);
            char* sql = sqlite3_expanded_sql(static_cast<sqlite3_stmt*>(statement));
            std::lock_guard lock(self->m_mutex);
            self->m_statements.append(QString::fromUtf8(sql ? sql : ""));
            sqlite3_free(sql);
        }
        return 0;
    }

    void Queue(const QString& visitor, const QString& account, const QString& tmpl)
    {
        ASSERT_TRUE(m_connection.Execute(
            QStringLiteral("insert into [AutoSend] ([ClientName] , [UserName] , [Message]) values ('%1' , '%2' , '%3')")
                .arg(SqlText(visitor), SqlText(account), SqlText(tmpl))));
    }

    int QueueSize() { return ReadRows(m_connection, QStringLiteral("select * from [AutoSend]"), {0}).size(); }

    void Start()
    {
        m_thread = new CAutoSendMsgThread;
        m_thread->start();
    }

    std::vector<CSent> Sent()
    {
        std::lock_guard lock(m_mutex);
        return m_sent;
    }

    QStringList Statements(const QString& startingWith)
    {
        std::lock_guard lock(m_mutex);
        QStringList matching;
        for (const QString& sql : m_statements) {
            if (sql.trimmed().startsWith(startingWith, Qt::CaseInsensitive))
                matching.append(sql);
        }
        return matching;
    }

    CFastClock m_clock;
    CAutoSendMsgThread* m_thread = nullptr;
    std::mutex m_mutex;
    std::vector<CSent> m_sent;
    QStringList m_statements;
    std::function<void(int)> m_onSend;    // called with the number of greetings sent so far
    QString m_failFor;                    // the stand-in client fails for this visitor
    QStringList m_holdFor;                // a grab or a stolen focus holds these visitors' greetings
    QHash<QString, qint64> m_holdUntilMs; // until this virtual time

private:
    CAdoConnection* m_previousConnection = nullptr;
    GreetingSender m_previousSender;
    int m_previousStep = 6;
};

const QRegularExpression kExpanded(QStringLiteral("^你好 (.+)，[0-9A-F]{32}$"));

} // namespace

TEST_F(GreetSenderThread, StepTimeSixSpacesTwoGreetingsLogsEachAndEmptiesTheQueueAfterTheLastPause)
{
    m_failFor = QStringLiteral("O'Brien");
    Queue(QStringLiteral("张三"), QStringLiteral("店铺A"), QStringLiteral("你好 [username]，[randomcode]"));
    Queue(QStringLiteral("O'Brien"), QStringLiteral("店铺B"), QStringLiteral("你好 [username]，[randomcode]"));
    Start();
    ASSERT_TRUE(WaitUntil([&] { return Sent().size() == 2 && QueueSize() == 0; }));
    // A few idle passes later nothing more has been sent.
    const qint64 emptiedBy = m_clock.NowMs();
    ASSERT_TRUE(WaitUntil([&] { return m_clock.NowMs() > emptiedBy + 10000; }));

    const std::vector<CSent> sent = Sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].visitor, QStringLiteral("张三"));
    EXPECT_EQ(sent[0].account, QStringLiteral("店铺A"));
    EXPECT_EQ(kExpanded.match(sent[0].text).captured(1), QStringLiteral("张三"));
    EXPECT_EQ(sent[1].visitor, QStringLiteral("O'Brien"));
    EXPECT_EQ(sent[1].account, QStringLiteral("店铺B"));
    EXPECT_EQ(kExpanded.match(sent[1].text).captured(1), QStringLiteral("O'Brien"));
    EXPECT_EQ(sent[0].at, 0);
    EXPECT_EQ(sent[1].at - sent[0].at, 6000);
    EXPECT_EQ(sent[1].queuedThen, 2) << "nothing is deleted before the pass ends";
    EXPECT_EQ(Statements(QStringLiteral("delete")).size(), 1);
    // Every attempt is in the greeting log, a failed one too.
    EXPECT_EQ(ReadRows(m_connection, QStringLiteral("select * from [greetlog] order by [id]"), {1, 2, 4}),
              (QList<QStringList>{{"店铺A", "张三", "TRUE"}, {"店铺B", "O'Brien", "FALSE"}}));
}

TEST_F(GreetSenderThread, StepTimeIsReadEverySecond)
{
    LiveSettings().sendsteptime = 100;
    m_clock.AfterSleep([](qint64 now) {
        if (now == 3000)
            LiveSettings().sendsteptime = 4;
    });
    Queue(QStringLiteral("甲"), QStringLiteral("店"), QStringLiteral("[username]"));
    Queue(QStringLiteral("乙"), QStringLiteral("店"), QStringLiteral("[username]"));
    Start();
    ASSERT_TRUE(WaitUntil([&] { return Sent().size() == 2; }));
    EXPECT_EQ(Sent()[1].at, 4000);
}

TEST_F(GreetSenderThread, IncompleteRowsCostOnePauseEachAndAreDeleted)
{
    Queue(QStringLiteral("甲"), QStringLiteral("店"), QString());
    ASSERT_TRUE(m_connection.Execute(
        QStringLiteral("insert into [AutoSend] ([ClientName] , [UserName] , [Message]) values ('乙' , null , 'x')")));
    Queue(QString(), QStringLiteral("店"), QStringLiteral("x"));
    Queue(QStringLiteral("丁"), QStringLiteral("店"), QStringLiteral("你好 [username]，[randomcode]"));
    Start();
    ASSERT_TRUE(WaitUntil([&] { return Sent().size() == 1 && QueueSize() == 0; }));
    const std::vector<CSent> sent = Sent();
    EXPECT_EQ(sent[0].visitor, QStringLiteral("丁"));
    EXPECT_EQ(sent[0].at, 3 * 6000) << "one step pause for each of the three rows before it";
    EXPECT_EQ(ReadRows(m_connection, QStringLiteral("select * from [greetlog]"), {2}), QList<QStringList>{{"丁"}})
        << "rows that were never tried are not logged";
}

TEST_F(GreetSenderThread, StopDuringAPauseEndsWithinASecondAndLeavesThePassRows)
{
    Queue(QStringLiteral("甲"), QStringLiteral("店"), QStringLiteral("[username]"));
    Queue(QStringLiteral("乙"), QStringLiteral("店"), QStringLiteral("[username]"));
    std::atomic<qint64> stoppedAt{-1};
    m_clock.AfterSleep([&](qint64 now) {
        if (now == 2500 + 500 && m_thread) {
            // Halfway through the pause after the first greeting.
            stoppedAt = now;
            m_thread->m_stop = 1;
        }
    });
    Start();
    ASSERT_TRUE(m_thread->wait(5000));
    EXPECT_EQ(stoppedAt.load(), 3000);
    EXPECT_LE(m_clock.NowMs() - stoppedAt.load(), 1000);
    EXPECT_EQ(Sent().size(), 1u);
    EXPECT_EQ(QueueSize(), 2);
    EXPECT_TRUE(Statements(QStringLiteral("delete")).isEmpty());
}

TEST_F(GreetSenderThread, EmptyQueueIsLookedAtEveryThreeSecondsWithoutADelete)
{
    // Stopped on the sender's own thread at 30 s of its time, however slowly this thread looks.
    m_clock.AfterSleep([&](qint64 now) {
        if (now >= 30000 && m_thread)
            m_thread->m_stop = 1;
    });
    Start();
    ASSERT_TRUE(m_thread->wait(5000));
    const int reads = Statements(QStringLiteral("select")).size();
    EXPECT_GE(reads, 10);
    EXPECT_LE(reads, 12);
    EXPECT_TRUE(Statements(QStringLiteral("delete")).isEmpty());
    EXPECT_TRUE(Sent().empty());
}

TEST_F(GreetSenderThread, GreetingQueuedDuringAPassIsSentInTheNextOne)
{
    Queue(QStringLiteral("甲"), QStringLiteral("店"), QStringLiteral("[username]"));
    Queue(QStringLiteral("乙"), QStringLiteral("店"), QStringLiteral("[username]"));
    m_onSend = [this](int count) {
        // The monitoring thread queues a new visitor while the first greeting goes out.
        if (count == 1)
            Queue(QStringLiteral("丙"), QStringLiteral("店"), QStringLiteral("[username]"));
    };
    Start();
    ASSERT_TRUE(WaitUntil([&] { return Sent().size() == 3 && QueueSize() == 0; }));
    const std::vector<CSent> sent = Sent();
    EXPECT_EQ(sent[0].visitor, QStringLiteral("甲"));
    EXPECT_EQ(sent[1].visitor, QStringLiteral("乙"));
    EXPECT_EQ(sent[2].visitor, QStringLiteral("丙"));
    EXPECT_EQ(sent[2].queuedThen, 1) << "the first pass deleted only its own two rows";
    // Second pass: after two step pauses and the idle pause.
    EXPECT_EQ(sent[2].at, 2 * 6000 + 3000);
    EXPECT_EQ(Statements(QStringLiteral("delete")).size(), 2);
}

TEST_F(GreetSenderThread, ExitStopsTheThreadThroughTheWorkerRegistry)
{
    Start();
    ASSERT_TRUE(WaitUntil([&] { return CWorkerRegistry::RunningCount() >= 1; }));
    EXPECT_TRUE(CWorkerRegistry::StopAll(5000));
    EXPECT_TRUE(m_thread->wait(1000));
    EXPECT_EQ(m_thread->m_stop.load(), 1);
}

// A greeting held back by a keyboard grab or a stolen focus stays queued and is
// tried on each pass: sent once when the keyboard is free again, dropped (and
// never sent) once it has waited 30 minutes. The greeting log and the
// statistics page count greetings, not tries: held tries leave no row.
TEST_F(GreetSenderThread, HeldGreetingIsRetriedUntilSentOrDroppedAfterThirtyMinutes)
{
    m_holdFor = QStringList{QStringLiteral("甲"), QStringLiteral("乙")};
    // 甲 is held for ten passes (two greetings, a step pause each, and the idle pause).
    m_holdUntilMs = {{QStringLiteral("甲"), 10 * (2 * 6000 + 3000) - 1},
                     {QStringLiteral("乙"), kHeldGreetingLifetimeMs * 2}};
    Queue(QStringLiteral("甲"), QStringLiteral("店"), QStringLiteral("[username]"));
    Queue(QStringLiteral("乙"), QStringLiteral("店二"), QStringLiteral("[username]"));
    Start();
    ASSERT_TRUE(WaitUntil([&] { return QueueSize() == 0; }, 60000));
    int firstTries = 0;
    qint64 lastSecondTry = 0;
    for (const CSent& sent : Sent()) {
        firstTries += sent.visitor == QStringLiteral("甲") ? 1 : 0;
        if (sent.visitor == QStringLiteral("乙"))
            lastSecondTry = sent.at;
    }
    EXPECT_EQ(firstTries, 11) << "held for ten passes, sent on the eleventh";
    EXPECT_LT(lastSecondTry, kHeldGreetingLifetimeMs);
    EXPECT_GE(m_clock.NowMs(), kHeldGreetingLifetimeMs);
    const QList<QStringList> log = ReadRows(m_connection, QStringLiteral("select * from [greetlog]"), {2, 4, 5});
    EXPECT_EQ(log, (QList<QStringList>{{"甲", "TRUE", ""}, {"乙", "FALSE", GreetReasonText(EGreetReason::Dropped)}}));
    const CStatsQuery shop{QStringLiteral("店"), EStatsPeriod::All, QDate::currentDate()};
    EXPECT_EQ(ReadRows(m_connection, CGreetingLogTable::PerDaySql(shop), {1, 2}), (QList<QStringList>{{"1", "0"}}))
        << "held ten times, then sent: one sent, none not sent";
}
