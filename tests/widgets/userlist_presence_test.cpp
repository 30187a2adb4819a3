// The visitor list with the real presence thread asking rivuzovara-local:
// a visitor set online there gets the online icon within one cycle, and the
// offline icon again once set offline.
#include "support/TestMain.h"
#include "support/WaitUntil.h"
#include "userlist_fixture.h"

#include "monitor/FlashOnlineClientThread.h"
#include "support/LocalService.h"
#include "support/MonitorFakes.h"
#include "support/MonitorService.h"

#include <QPointer>
#include <QSignalSpy>

namespace {

class UserListPresence : public CUserListTest
{
protected:
    void SetUp() override
    {
        // Ten-second cycles pass in moments. Every thread of the test uses this
        // clock (the page's session thread too), so it outlives them all.
        m_clock = std::make_unique<CFastClock>();
        CUserListTest::SetUp();
        ASSERT_TRUE(m_service.Start()) << qPrintable(m_service.Error());
        m_service.ApplyEndpoints();
    }

    void TearDown() override
    {
        StopPresence();
        CUserListTest::TearDown();
        SetEndpoints(CEndpoints());
        m_clock.reset();
    }

    void StartPresence()
    {
        auto* thread = new CFlashOnlineClientThread;
        QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
        m_presence = thread;
        thread->start();
    }

    // The thread may be waiting on the window's thread: keep the events flowing while it ends.
    void StopPresence()
    {
        if (!m_presence)
            return;
        m_presence->m_stop.store(1);
        EXPECT_TRUE(WaitUntil([&] { return m_presence.isNull(); }, 20000)) << "presence thread did not end";
    }

    // Waits until `cycles` more presence cycles have reached the page; false on time-out.
    bool WaitCycles(QSignalSpy& marked, int cycles)
    {
        const qsizetype target = marked.count() + cycles;
        return WaitUntil([&] { return marked.count() >= target; }, 20000);
    }

    std::unique_ptr<CFastClock> m_clock;
    CLocalService m_service;
    QPointer<CFlashOnlineClientThread> m_presence;
};

TEST_F(UserListPresence, AVisitorSetOnlineGetsTheIconWithinOneCycleAndLosesItWhenOffline)
{
    ASSERT_TRUE(AddVisit(QStringLiteral("alice"), QStringLiteral("shop-a"), T(30), QStringLiteral("im-alice")));
    ASSERT_TRUE(AddVisit(QStringLiteral("bob"), QStringLiteral("shop-a"), T(20), QStringLiteral("im-bob")));
    ASSERT_TRUE(AddVisit(QStringLiteral("alice"), QStringLiteral("shop-b"), T(10), QStringLiteral("im-alice-2")));
    // The visitor's IM ID on another account's page: only the first row's counts.
    ASSERT_TRUE(SetImPresence(m_service, QStringLiteral("im-alice-2"), QStringLiteral("1")));
    CUserListDlg& page = ShownPage();
    ASSERT_EQ(Column(0), (QStringList{"alice", "bob", "alice"}));
    QSignalSpy marked(&page, &CUserListDlg::OnlineMarked);

    StartPresence();
    ASSERT_TRUE(WaitCycles(marked, 1));
    EXPECT_EQ(Images(), (QList<int>{1, 1, 1}));

    ASSERT_TRUE(SetImPresence(m_service, QStringLiteral("im-alice"), QStringLiteral("1")));
    // A cycle may have been asking already; the one after it must show the change.
    ASSERT_TRUE(WaitCycles(marked, 2));
    EXPECT_EQ(Images(), (QList<int>{0, 1, 0}));

    ASSERT_TRUE(SetImPresence(m_service, QStringLiteral("im-bob"), QStringLiteral("1")));
    ASSERT_TRUE(SetImPresence(m_service, QStringLiteral("im-alice"), QStringLiteral("0")));
    ASSERT_TRUE(WaitCycles(marked, 2));
    EXPECT_EQ(Images(), (QList<int>{1, 0, 1}));

    // A visitor recorded meanwhile is asked about from the next refill on.
    ASSERT_TRUE(AddVisit(QStringLiteral("carol"), QStringLiteral("shop-a"), T(40), QStringLiteral("im-carol")));
    ASSERT_TRUE(SetImPresence(m_service, QStringLiteral("im-carol"), QStringLiteral("1")));
    page.RequestRefill();
    ASSERT_TRUE(WaitCycles(marked, 2));
    EXPECT_EQ(Column(0), (QStringList{"carol", "alice", "bob", "alice"}));
    EXPECT_EQ(Images(), (QList<int>{0, 1, 0, 1}));

    StopPresence();
}

TEST_F(UserListPresence, AnUnreachableServiceShowsEveryoneOffline)
{
    ASSERT_TRUE(AddVisit(QStringLiteral("alice"), QStringLiteral("shop-a"), T(30), QStringLiteral("im-alice")));
    ASSERT_TRUE(SetImPresence(m_service, QStringLiteral("im-alice"), QStringLiteral("1")));
    CUserListDlg& page = ShownPage();
    QSignalSpy marked(&page, &CUserListDlg::OnlineMarked);
    StartPresence();
    ASSERT_TRUE(WaitCycles(marked, 2));
    ASSERT_EQ(Images(), QList<int>{0});

    ASSERT_TRUE(m_service.Stop());
    ASSERT_TRUE(WaitCycles(marked, 2));
    EXPECT_EQ(Images(), QList<int>{1});
    StopPresence();
}

} // namespace
