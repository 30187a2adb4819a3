// The anonymous-visitor memory: exact-text keys, the sliding retention
// window and the thread that forgets.
#include "monitor/SessionMan.h"

#include "support/MonitorFakes.h"
#include "support/TestMain.h"

#include <QDeadlineTimer>

#include <thread>
#include <vector>

namespace {

constexpr qint64 kStartMs = 1700000000000; // a whole second

TEST(SessionMan, RetentionIsFiftySecondsUntilThePageSetsIt)
{
    EXPECT_EQ(theSessionMan.Retention(), 50);
    CSessionMan sessions;
    EXPECT_EQ(sessions.Retention(), CSessionMan::kInitialRetentionSeconds);
}

TEST(SessionMan, KeysMatchByExactText)
{
    CFastClock clock(kStartMs);
    CSessionMan sessions;
    EXPECT_EQ(sessions.Add(QStringLiteral("61.135.1.2"), QString()), QStringLiteral("61.135.1.2"));
    EXPECT_EQ(sessions.Add(QStringLiteral("Host"), QStringLiteral("v")), QStringLiteral("Host"));

    const struct
    {
        const char* key;
        bool found;
    } cases[] = {
        {"61.135.1.2", true}, {" 61.135.1.2", false}, {"61.135.1.2 ", false}, {"61.135.1.", false},
        {"Host", true},       {"host", false},        {"HOST", false},        {"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(sessions.Lookup(QString::fromLatin1(c.key)), c.found) << c.key;
}

TEST(SessionMan, AddKeepsOneEntryPerKeyAndNoneForTheEmptyKey)
{
    CFastClock clock(kStartMs);
    CSessionMan sessions;
    sessions.Add(QStringLiteral("1.1.1.1"), QString());
    sessions.Add(QStringLiteral("1.1.1.1"), QStringLiteral("other"));
    EXPECT_EQ(sessions.Count(), 1);
    // The empty key meets the dummy head first.
    EXPECT_EQ(sessions.Add(QString(), QString()), QString());
    EXPECT_EQ(sessions.Count(), 1);
    EXPECT_FALSE(sessions.Lookup(QString()));
    sessions.Add(QStringLiteral("2.2.2.2"), QString());
    EXPECT_EQ(sessions.Count(), 2);
}

TEST(SessionMan, EntryAtTheLimitStaysOneSecondLaterItGoes)
{
    CFastClock clock(kStartMs);
    CSessionMan sessions;
    sessions.SetRetention(3600);
    sessions.Add(QStringLiteral("9.9.9.9"), QString());
    clock.Advance(3600 * 1000);
    EXPECT_EQ(sessions.Expire(), 1);
    EXPECT_EQ(sessions.Count(), 1);
    clock.Advance(1000);
    sessions.Expire();
    EXPECT_EQ(sessions.Count(), 0);
    EXPECT_FALSE(sessions.Lookup(QStringLiteral("9.9.9.9")));
}

TEST(SessionMan, AVisitorSeenEveryHalfHourStaysAndOneAbsentLongerIsForgotten)
{
    CFastClock clock(kStartMs);
    CSessionMan sessions;
    sessions.SetRetention(3600);
    const QString ip = QStringLiteral("10.0.0.1");
    // The alert decision of a poll: alert when not remembered, then remember.
    auto alerts = [&] {
        if (sessions.Lookup(ip))
            return false;
        sessions.Add(ip, QString());
        return true;
    };
    EXPECT_TRUE(alerts());
    for (int i = 0; i < 6; ++i) {
        clock.Advance(30 * 60 * 1000);
        sessions.Expire();
        EXPECT_FALSE(alerts()) << "visit " << i;
    }
    clock.Advance(61 * 60 * 1000);
    sessions.Expire();
    EXPECT_TRUE(alerts());
}

TEST(SessionMan, ExpireUnlinksOnlyTheOldEntries)
{
    CFastClock clock(kStartMs);
    CSessionMan sessions;
    sessions.SetRetention(50);
    for (const char* key : {"a", "b", "c", "d", "e"})
        sessions.Add(QString::fromLatin1(key), QString());
    clock.Advance(40 * 1000);
    // a, c and e are seen again; b and d are not.
    for (const char* key : {"a", "c", "e"})
        EXPECT_TRUE(sessions.Lookup(QString::fromLatin1(key)));
    clock.Advance(20 * 1000);
    sessions.Expire();
    EXPECT_EQ(sessions.Count(), 3);
    for (const char* key : {"a", "c", "e"})
        EXPECT_TRUE(sessions.Lookup(QString::fromLatin1(key))) << key;
    for (const char* key : {"b", "d"})
        EXPECT_FALSE(sessions.Lookup(QString::fromLatin1(key))) << key;
    // The list still links properly: a new entry goes to the end and is found.
    sessions.Add(QStringLiteral("f"), QString());
    EXPECT_EQ(sessions.Count(), 4);
    EXPECT_TRUE(sessions.Lookup(QStringLiteral("f")));
}

TEST(SessionManageThread, ForgetsWithinASecondAfterTheRetentionAndStopsOnItsFlag)
{
    CFastClock clock(kStartMs);
    CSessionMan sessions;
    sessions.SetRetention(3600);
    sessions.Add(QStringLiteral("7.7.7.7"), QString());

    std::mutex mutex;
    qint64 firstEmptyAt = 0;
    clock.SetSleepHook([&](qint64 now) {
        std::lock_guard lock(mutex);
        if (firstEmptyAt == 0 && sessions.Count() == 0)
            firstEmptyAt = now;
    });
    CSessionManageThread thread(nullptr, &sessions);
    thread.start();
    QDeadlineTimer deadline(20000);
    while (sessions.Count() != 0 && !deadline.hasExpired())
        QThread::msleep(5);
    ASSERT_EQ(sessions.Count(), 0);
    thread.m_stop.store(1);
    ASSERT_TRUE(thread.wait(5000));
    clock.SetSleepHook(nullptr);

    std::lock_guard lock(mutex);
    // Expire runs after each sleep; the first that sees now > seen + 3600 s
    // runs at second 3601, so the sleep after it observes the empty list.
    EXPECT_EQ(firstEmptyAt, kStartMs + 3602 * 1000);
}

TEST(SessionMan, ConcurrentUseKeepsTheListWhole)
{
    CFastClock clock(kStartMs);
    CSessionMan sessions;
    sessions.SetRetention(1);
    std::atomic<bool> done{false};
    std::thread expirer([&] {
        while (!done.load()) {
            clock.Advance(500);
            sessions.Expire();
        }
    });
    std::vector<std::thread> users;
    for (int t = 0; t < 2; ++t) {
        users.emplace_back([&sessions, t] {
            for (int i = 0; i < 2000; ++i) {
                const QString key = QStringLiteral("%1.%2").arg(t).arg(i % 37);
                if (!sessions.Lookup(key))
                    sessions.Add(key, QString());
            }
        });
    }
    for (std::thread& user : users)
        user.join();
    done.store(true);
    expirer.join();
    clock.Advance(10 * 1000);
    sessions.Expire();
    EXPECT_EQ(sessions.Count(), 0);
}

} // namespace
