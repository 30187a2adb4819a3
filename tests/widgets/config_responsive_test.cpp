// A tracking service that takes connections and never answers must not
// freeze the window while the page checks the accounts' state.
#include "support/TestMain.h"

#include "widgets/config_page_fixture.h"

#include <QTimer>

class ConfigResponsiveTest : public ConfigPageTest
{
};

TEST_F(ConfigResponsiveTest, WindowKeepsRunningWhileTheStateCheckWaits)
{
    CSilentServer silent;
    ASSERT_TRUE(silent.Start());
    CEndpoints endpoints = s_service->MakeEndpoints();
    endpoints.trackingBase = silent.Base();
    SetEndpoints(endpoints);
    InsertAccount(QStringLiteral("waiting1"), QStringLiteral("10001"));
    InsertAccount(QStringLiteral("waiting2"), QStringLiteral("10002"));

    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, &ticker, [&ticks] { ++ticks; });
    ticker.start(10);
    Page();
    // The page is up and its threads started while the check still waits for its first reply.
    EXPECT_EQ(List()->count(), 2);
    EXPECT_TRUE(Page().IsMonitoring());
    EXPECT_TRUE(WaitUntil([&ticks] { return ticks >= 50; }, 10000));
    // Nothing answered, so the check is still running.
    EXPECT_TRUE(Page().IsCheckingAccountStates());
    EXPECT_TRUE(m_log.Boxes().isEmpty());
    // Buttons still work meanwhile.
    Button("monitorToggleButton")->click();
    EXPECT_FALSE(Page().IsMonitoring());
    // Closing the page aborts the waiting requests; the fixture waits for every worker to end.
}

TEST_F(ConfigResponsiveTest, FrozenAccountsAreReportedWhenTheCheckEnds)
{
    const QString webId = s_service->RegisterAccount(QStringLiteral("icy"), QStringLiteral("pw"));
    ASSERT_TRUE(s_service->FreezeAccount(QStringLiteral("icy")));
    InsertAccount(QStringLiteral("icy"), webId);
    Page();
    ASSERT_TRUE(WaitUntil([this] { return !m_log.Boxes().isEmpty(); }));
    EXPECT_TRUE(WaitUntil([this] { return !Page().IsCheckingAccountStates(); }));
    EXPECT_TRUE(m_log.Boxes().value(0).contains(QStringLiteral("icy ")));
    EXPECT_EQ(m_log.Captions().value(0), AppTitle());
    EXPECT_GE(m_proxy.Count(QStringLiteral("GetUserState.asp")), 1);
}
