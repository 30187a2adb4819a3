// The transient status message: shown 100 ms after it is posted, cleared
// 10 s after it was shown, restarted by a newer text, safe from any thread.
#include "support/TestMain.h"
#include "support/WaitUntil.h"

#include "notify/StatusMessage.h"

#include <QSignalSpy>
#include <QTest>

#include <thread>

TEST(StatusMessage, TimerCycle)
{
    CStatusMessage status;
    QStringList shown;
    QObject::connect(&status, &CStatusMessage::Display, &status, [&](const QString& t) { shown.append(t); });
    EXPECT_EQ(status.ShowTimer().interval(), 100);
    EXPECT_EQ(status.ClearTimer().interval(), 10000);

    status.Post(QStringLiteral("正在刷新[a]的店铺......"));
    // Nothing is written at once; the show timer is armed.
    EXPECT_TRUE(shown.isEmpty());
    EXPECT_TRUE(status.ShowTimer().isActive());
    EXPECT_FALSE(status.ClearTimer().isActive());

    status.OnTimer(CStatusMessage::kShowTimerId);
    EXPECT_EQ(shown, (QStringList{"正在刷新[a]的店铺......"}));
    EXPECT_FALSE(status.ShowTimer().isActive());
    EXPECT_TRUE(status.ClearTimer().isActive());

    status.OnTimer(CStatusMessage::kClearTimerId);
    EXPECT_EQ(shown.last(), QString());
    EXPECT_EQ(status.Pending(), QString());
    EXPECT_EQ(status.Shown(), QString());
    EXPECT_FALSE(status.ClearTimer().isActive());
}

TEST(StatusMessage, NewTextRestartsTheCycle)
{
    CStatusMessage status;
    status.Post(QStringLiteral("first"));
    status.OnTimer(CStatusMessage::kShowTimerId);
    ASSERT_TRUE(status.ClearTimer().isActive());

    status.Post(QStringLiteral("second"));
    // The old clear may not wipe the new text before it shows.
    EXPECT_FALSE(status.ClearTimer().isActive());
    EXPECT_TRUE(status.ShowTimer().isActive());
    EXPECT_EQ(status.Shown(), QStringLiteral("first"));
    status.OnTimer(CStatusMessage::kShowTimerId);
    EXPECT_EQ(status.Shown(), QStringLiteral("second"));
    EXPECT_TRUE(status.ClearTimer().isActive());
    EXPECT_EQ(status.ClearTimer().remainingTime() > 9000, true) << "a full 10 s again";
}

TEST(StatusMessage, RunsOnRealTimersAndFromOtherThreads)
{
    CStatusMessage status;
    status.SetIntervals(20, 150);
    QSignalSpy display(&status, &CStatusMessage::Display);

    std::thread worker([&] { status.Post(QStringLiteral("from a worker")); });
    worker.join();
    // The worker only stored the text; the window's thread arms the timer.
    EXPECT_EQ(status.Pending(), QStringLiteral("from a worker"));
    ASSERT_TRUE(WaitUntil([&status] { return status.Shown() == QStringLiteral("from a worker"); }, 5000));
    ASSERT_GE(display.size(), 1);
    EXPECT_EQ(display.first().first().toString(), QStringLiteral("from a worker"));
    EXPECT_TRUE(WaitUntil([&status] { return status.Shown().isEmpty(); }, 5000)) << status.Shown().toStdString();
    EXPECT_EQ(display.last().first().toString(), QString());
}

TEST(StatusMessage, ManyThreadsLeaveOneOfTheirTexts)
{
    CStatusMessage status;
    status.SetIntervals(10, 60000);
    std::vector<std::thread> threads;
    QStringList sent;
    for (int i = 0; i < 8; ++i) {
        sent.append(QStringLiteral("text %1").arg(i));
        threads.emplace_back([&status, i] {
            for (int k = 0; k < 200; ++k)
                status.Post(QStringLiteral("text %1").arg(i));
        });
    }
    for (auto& t : threads)
        t.join();
    ASSERT_TRUE(WaitUntil([&status] { return !status.Shown().isEmpty(); }, 5000));
    EXPECT_TRUE(sent.contains(status.Shown())) << status.Shown().toStdString();
}
