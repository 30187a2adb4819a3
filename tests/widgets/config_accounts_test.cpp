// The account side of the configuration page: add, modify, delete, load,
// greeting settings, thread switches; against rivuzovara-local and a real store.
#include "support/TestMain.h"

#include "accounts/AccountFlows.h"
#include "accounts/LiveSettings.h"
#include "greet/Greeting.h"
#include "monitor/MonitorControl.h"
#include "widgets/config_page_fixture.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QTimer>

namespace {

QString WebIdOf(CLocalService& service, const QString& name, const QString& password)
{
    return service.RegisterAccount(name, password);
}

} // namespace

TEST_F(ConfigPageTest, StartsBothThreadsWithTheirCaptions)
{
    Page();
    EXPECT_TRUE(MonitoringRuns());
    EXPECT_EQ(Button("monitorToggleButton")->text(), QStringLiteral("停止监视"));
    EXPECT_EQ(Button("greetingToggleButton")->text(), QStringLiteral("停止自动打招呼"));
    EXPECT_TRUE(Page().IsGreetingRunning());
    EXPECT_EQ(LiveSettings().greetingRunning.load(), 1);
    EXPECT_EQ(g_pConfigDlg, &Page());
    EXPECT_EQ(Find<QPlainTextEdit>("greetingTextEdit")->toPlainText(), DefaultGreeting());
    EXPECT_TRUE(Find<QCheckBox>("greetingSwitchCheck")->isChecked());
}

TEST_F(ConfigPageTest, AddRemovesEveryBlankFromTheName)
{
    const QString webId = WebIdOf(*s_service, QStringLiteral("shopblank"), QStringLiteral("pw1"));
    ASSERT_FALSE(webId.isEmpty());
    Page();
    Edit("accountNameEdit")->setText(QStringLiteral("  shop  blank "));
    Edit("greetingAccountEdit")->setText(QStringLiteral("hi_small"));
    Edit("passwordEdit")->setText(QStringLiteral("pw1"));
    PressAndWait("addAccountButton");

    EXPECT_EQ(m_log.Events(), QStringList({QStringLiteral("status:") + AccountTexts::GettingWebId(),
                                           QStringLiteral("status:") + AccountTexts::UpdatingImName(),
                                           QStringLiteral("box:账户[shopblank]，添加成功！")}));
    EXPECT_EQ(m_log.Captions(), QStringList({QStringLiteral("Lumo助手")}));
    EXPECT_EQ(
        Rows(QStringLiteral("select * from [user]"), {1, 2, 3, 4}),
        QList<QStringList>({{QStringLiteral("shopblank"), QStringLiteral("hi_small"), QStringLiteral("pw1"), webId}}));
    ASSERT_EQ(List()->count(), 1);
    EXPECT_EQ(List()->item(0)->text(), QStringLiteral("shopblank"));
    EXPECT_EQ(List()->item(0)->data(Qt::UserRole).toInt(), webId.toInt());
    // The service learned the IM name; the edit still shows what was typed.
    EXPECT_TRUE(s_service->AccountsJson().contains("\"imName\":\"hi_small\""));
    EXPECT_EQ(Edit("accountNameEdit")->text(), QStringLiteral("  shop  blank "));
    EXPECT_EQ(Page().m_account.webId, webId);
    EXPECT_TRUE(MonitoringRuns());
}

struct CRefusal
{
    const char* name;
    const char* greetingAccount;
    const char* password;
    QString (*message)();
};

class ConfigAddRefusalTest : public ConfigPageTest, public ::testing::WithParamInterface<CRefusal>
{
};

TEST_P(ConfigAddRefusalTest, StopsBeforeAnyRequestAndLeavesMonitoringStopped)
{
    const CRefusal refusal = GetParam();
    WebIdOf(*s_service, QStringLiteral("refused"), QStringLiteral("pw"));
    Page();
    ASSERT_TRUE(MonitoringRuns());
    Edit("accountNameEdit")->setText(QString::fromUtf8(refusal.name));
    Edit("greetingAccountEdit")->setText(QString::fromUtf8(refusal.greetingAccount));
    Edit("passwordEdit")->setText(QString::fromUtf8(refusal.password));
    PressAndWait("addAccountButton");

    EXPECT_EQ(m_log.Events(), QStringList({QStringLiteral("box:") + refusal.message()}));
    EXPECT_EQ(m_log.Captions(), QStringList({QStringLiteral("Lumo助手")}));
    EXPECT_EQ(m_proxy.Count(QStringLiteral("GetWebID.asp")), 0);
    EXPECT_TRUE(Rows(QStringLiteral("select * from [user]"), {1}).isEmpty());
    EXPECT_FALSE(Page().IsMonitoring());
    EXPECT_EQ(Button("monitorToggleButton")->text(), QStringLiteral("开始监视"));
}

INSTANTIATE_TEST_SUITE_P(EmptyFields, ConfigAddRefusalTest,
                         ::testing::Values(CRefusal{"refused", "im", "", &AccountTexts::EmptyPassword},
                                           CRefusal{"   ", "im", "pw", &AccountTexts::EmptyUserName},
                                           CRefusal{"refused", "", "pw", &AccountTexts::EmptyGreetingAccount}));

TEST_F(ConfigPageTest, ExistingAccountIsRefusedAfterTheWebIdRequest)
{
    const QString webId = WebIdOf(*s_service, QStringLiteral("shopdup"), QStringLiteral("pw2"));
    InsertAccount(QStringLiteral("shopdup"), webId);
    Page();
    Edit("accountNameEdit")->setText(QStringLiteral("shopdup"));
    Edit("greetingAccountEdit")->setText(QStringLiteral("other"));
    Edit("passwordEdit")->setText(QStringLiteral("pw2"));
    PressAndWait("addAccountButton");

    EXPECT_EQ(m_log.Events(), QStringList({QStringLiteral("status:") + AccountTexts::GettingWebId(),
                                           QStringLiteral("box:") + AccountTexts::AccountExists()}));
    EXPECT_EQ(m_proxy.Count(QStringLiteral("GetWebID.asp")), 1);
    EXPECT_EQ(m_proxy.Count(QStringLiteral("SaveImName.asp")), 0);
    EXPECT_EQ(Rows(QStringLiteral("select * from [user]"), {1, 2}),
              QList<QStringList>({{QStringLiteral("shopdup"), QStringLiteral("im")}}));
    EXPECT_TRUE(MonitoringRuns());
    EXPECT_EQ(Button("monitorToggleButton")->text(), QStringLiteral("停止监视"));
}

TEST_F(ConfigPageTest, UnknownAccountStoresNothingAndLeavesMonitoringStopped)
{
    Page();
    Edit("accountNameEdit")->setText(QStringLiteral("nobody"));
    Edit("greetingAccountEdit")->setText(QStringLiteral("im"));
    Edit("passwordEdit")->setText(QStringLiteral("wrong"));
    PressAndWait("addAccountButton");
    EXPECT_EQ(m_log.Boxes(), QStringList({AccountTexts::WebIdFailed()}));
    EXPECT_EQ(m_proxy.Count(QStringLiteral("GetWebID.asp")), 1);
    EXPECT_TRUE(Rows(QStringLiteral("select * from [user]"), {1}).isEmpty());
    EXPECT_FALSE(Page().IsMonitoring());
}

TEST_F(ConfigPageTest, NameWithQuoteIsStoredAndFoundIntact)
{
    const QString name = QStringLiteral("o'shop");
    const QString webId = WebIdOf(*s_service, name, QStringLiteral("pw"));
    ASSERT_FALSE(webId.isEmpty());
    Page();
    Edit("accountNameEdit")->setText(name);
    Edit("greetingAccountEdit")->setText(QStringLiteral("it's me"));
    Edit("passwordEdit")->setText(QStringLiteral("pw"));
    PressAndWait("addAccountButton");
    EXPECT_EQ(m_log.Boxes(), QStringList({QStringLiteral("账户[o'shop]，添加成功！")}));
    EXPECT_EQ(Rows(QStringLiteral("select * from [user]"), {1, 2}),
              QList<QStringList>({{name, QStringLiteral("it's me")}}));
    ClickList(0);
    EXPECT_EQ(Edit("greetingAccountEdit")->text(), QStringLiteral("it's me"));
}

TEST_F(ConfigPageTest, WebIdThatIsNoNumberListsAsZeroAndTheCodeCommandSaysDataError)
{
    InsertAccount(QStringLiteral("alpha"), QStringLiteral("abc"));
    InsertAccount(QStringLiteral("zeros"), QStringLiteral("007"));
    InsertAccount(QStringLiteral("digits"), QStringLiteral("12345x"));
    Page();
    ASSERT_EQ(List()->count(), 3);
    EXPECT_EQ(List()->item(0)->data(Qt::UserRole).toInt(), 0);
    EXPECT_EQ(List()->item(1)->data(Qt::UserRole).toInt(), 7);
    EXPECT_EQ(List()->item(2)->data(Qt::UserRole).toInt(), 12345);
    // Stored as text all the same.
    EXPECT_EQ(Rows(QStringLiteral("select * from [user] order by [id]"), {4}).value(0),
              QStringList({QStringLiteral("abc")}));

    Button("makeCodeButton")->click();
    ClickList(0);
    Button("makeCodeButton")->click();
    EXPECT_EQ(m_log.Boxes(), QStringList({QStringLiteral("请选择一个用户后再操作!"), QStringLiteral("数据出错!")}));
    EXPECT_EQ(m_log.Captions().value(1), AppTitle());
}

TEST_F(ConfigPageTest, DeleteWithoutSelectionRemovesNothingClearsTheFieldsAndRestartsMonitoring)
{
    InsertAccount(QStringLiteral("keep1"), QStringLiteral("1"));
    InsertAccount(QStringLiteral("keep2"), QStringLiteral("2"));
    Page();
    ASSERT_TRUE(MonitoringRuns());
    Edit("accountNameEdit")->setText(QStringLiteral("typed"));
    Edit("passwordEdit")->setText(QStringLiteral("secret"));
    Edit("greetingAccountEdit")->setText(QStringLiteral("small"));
    Find<QCheckBox>("greetingSwitchCheck")->setChecked(false);
    ASSERT_EQ(Page().GetSelectionMark(), -1);
    Button("deleteAccountButton")->click();

    EXPECT_EQ(Rows(QStringLiteral("select * from [user] order by [id]"), {1}),
              QList<QStringList>({{QStringLiteral("keep1")}, {QStringLiteral("keep2")}}));
    EXPECT_EQ(Edit("accountNameEdit")->text(), QString());
    EXPECT_EQ(Edit("passwordEdit")->text(), QString());
    EXPECT_EQ(Edit("greetingAccountEdit")->text(), QString());
    EXPECT_TRUE(Find<QCheckBox>("greetingSwitchCheck")->isChecked());
    EXPECT_EQ(Find<QGroupBox>("userSettingsGroup")->title(), QStringLiteral("用户设置"));
    EXPECT_EQ(List()->count(), 2);
    EXPECT_TRUE(m_log.Boxes().isEmpty());
    EXPECT_TRUE(MonitoringRuns());
}

TEST_F(ConfigPageTest, DeleteRemovesTheSelectedAccountOnly)
{
    InsertAccount(QStringLiteral("gone"), QStringLiteral("1"));
    InsertAccount(QStringLiteral("stays"), QStringLiteral("2"));
    Exec(QStringLiteral("insert into [client] ([guestname],[shopname]) values ('v','gone')"));
    Page();
    ClickList(0);
    Button("deleteAccountButton")->click();
    EXPECT_EQ(Rows(QStringLiteral("select * from [user]"), {1}), QList<QStringList>({{QStringLiteral("stays")}}));
    // The visits of a deleted account stay in the history.
    EXPECT_EQ(Rows(QStringLiteral("select * from [client]"), {3}), QList<QStringList>({{QStringLiteral("gone")}}));
    ASSERT_EQ(List()->count(), 1);
    EXPECT_EQ(Page().GetRememberedRow(), -1);
}

TEST_F(ConfigPageTest, ClickLoadsTheAccountAndEmptySpaceResetsToTheDefaultGreeting)
{
    InsertAccount(QStringLiteral("first"), QStringLiteral("11"), QStringLiteral("im1"), QStringLiteral("pw1"),
                  QStringLiteral("hello [username]"), 0);
    Page();
    ClickList(0);
    EXPECT_EQ(Edit("accountNameEdit")->text(), QStringLiteral("first"));
    EXPECT_EQ(Edit("greetingAccountEdit")->text(), QStringLiteral("im1"));
    EXPECT_EQ(Edit("passwordEdit")->text(), QStringLiteral("pw1"));
    EXPECT_EQ(Find<QPlainTextEdit>("greetingTextEdit")->toPlainText(), QStringLiteral("hello [username]"));
    EXPECT_FALSE(Find<QCheckBox>("greetingSwitchCheck")->isChecked());
    EXPECT_FALSE(Find<QPlainTextEdit>("greetingTextEdit")->isEnabled());
    EXPECT_EQ(Find<QGroupBox>("userSettingsGroup")->title(), QStringLiteral("first 的用户设置"));
    EXPECT_EQ(Page().GetRememberedRow(), 0);

    ClickList(-1);
    EXPECT_EQ(Page().GetRememberedRow(), -1);
    EXPECT_EQ(Edit("accountNameEdit")->text(), QString());
    EXPECT_EQ(Edit("greetingAccountEdit")->text(), QString());
    EXPECT_EQ(Edit("passwordEdit")->text(), QString());
    EXPECT_EQ(Find<QPlainTextEdit>("greetingTextEdit")->toPlainText(), DefaultGreeting());
    EXPECT_TRUE(Find<QPlainTextEdit>("greetingTextEdit")->isEnabled());
    EXPECT_TRUE(Find<QCheckBox>("greetingSwitchCheck")->isChecked());
    EXPECT_EQ(Find<QGroupBox>("userSettingsGroup")->title(), QStringLiteral("用户设置"));
    EXPECT_EQ(Page().GetSelectionMark(), -1);
}

TEST_F(ConfigPageTest, SecondClickOnTheRememberedRowIsIgnoredUntilTheListIsRefilled)
{
    InsertAccount(QStringLiteral("first"), QStringLiteral("11"));
    Page();
    ClickList(0);
    Edit("passwordEdit")->setText(QStringLiteral("changed"));
    ClickList(0);
    EXPECT_EQ(Edit("passwordEdit")->text(), QStringLiteral("changed"));
    Page().ListAccounts();
    EXPECT_EQ(Page().GetRememberedRow(), -1);
    ClickList(0);
    EXPECT_EQ(Edit("passwordEdit")->text(), QStringLiteral("pw"));
}

TEST_F(ConfigPageTest, SaveGreetingNeedsASelectionThenStoresTextAndSwitch)
{
    InsertAccount(QStringLiteral("shop"), QStringLiteral("5"));
    Page();
    Button("saveGreetingButton")->click();
    EXPECT_EQ(m_log.Boxes(), QStringList({QStringLiteral("您还没选择要设置的账户！")}));
    EXPECT_EQ(m_log.Captions(), QStringList({AppTitle()}));

    ClickList(0);
    Find<QPlainTextEdit>("greetingTextEdit")->setPlainText(QStringLiteral("100% 'new' [username]"));
    Find<QCheckBox>("greetingSwitchCheck")->click();
    EXPECT_FALSE(Find<QPlainTextEdit>("greetingTextEdit")->isEnabled());
    Button("saveGreetingButton")->click();
    EXPECT_EQ(m_log.Boxes().value(1), QStringLiteral("账户[shop]，设置保存成功！"));
    EXPECT_EQ(Rows(QStringLiteral("select * from [user]"), {5, 6}),
              QList<QStringList>({{QStringLiteral("100% 'new' [username]"), QStringLiteral("FALSE")}}));
}

TEST_F(ConfigPageTest, SaveGreetingWhoseStatementFailsSaysSo)
{
    InsertAccount(QStringLiteral("shop"), QStringLiteral("5"));
    Page();
    ClickList(0);
    Exec(QStringLiteral("drop table [user]"));
    Button("saveGreetingButton")->click();
    EXPECT_EQ(m_log.Boxes(), QStringList({QStringLiteral("账户[shop]，设置保存失败！")}));
}

TEST_F(ConfigPageTest, ModifyUpdatesTheStoredAccountAfterTheService)
{
    const QString webId = WebIdOf(*s_service, QStringLiteral("shopmod"), QStringLiteral("pwm"));
    InsertAccount(QStringLiteral("shopmod"), webId, QStringLiteral("oldim"), QStringLiteral("pwm"));
    Page();
    ClickList(0);
    Edit("greetingAccountEdit")->setText(QStringLiteral("newim"));
    Find<QPlainTextEdit>("greetingTextEdit")->setPlainText(QStringLiteral("new text"));
    PressAndWait("modifyAccountButton");

    EXPECT_EQ(m_log.Events(), QStringList({QStringLiteral("status:") + AccountTexts::TestingAccount(),
                                           QStringLiteral("status:") + AccountTexts::UpdatingImName(),
                                           QStringLiteral("box:账户[shopmod]，更新成功！")}));
    EXPECT_EQ(
        Rows(QStringLiteral("select * from [user]"), {2, 3, 4, 5}),
        QList<QStringList>({{QStringLiteral("newim"), QStringLiteral("pwm"), webId, QStringLiteral("new text")}}));
    EXPECT_TRUE(s_service->AccountsJson().contains("\"imName\":\"newim\""));
    EXPECT_TRUE(MonitoringRuns());
}

TEST_F(ConfigPageTest, ModifyThatTheServiceRefusesChangesNothingAndLeavesMonitoringStopped)
{
    InsertAccount(QStringLiteral("notthere"), QStringLiteral("9"), QStringLiteral("oldim"));
    Page();
    ClickList(0);
    Edit("greetingAccountEdit")->setText(QStringLiteral("newim"));
    PressAndWait("modifyAccountButton");
    EXPECT_EQ(m_log.Boxes(), QStringList({AccountTexts::ModifyNotSynchronised(QStringLiteral("notthere"))}));
    EXPECT_EQ(Rows(QStringLiteral("select * from [user]"), {2}), QList<QStringList>({{QStringLiteral("oldim")}}));
    EXPECT_FALSE(Page().IsMonitoring());
}

TEST_F(ConfigPageTest, GreetingToggleOffEmptiesTheQueue)
{
    Page();
    ASSERT_TRUE(Page().IsGreetingRunning());
    for (int i = 0; i < 3; ++i)
        Exec(QStringLiteral("insert into [AutoSend] ([ClientName],[UserName],[Message]) values ('v%1','shop','hi')")
                 .arg(i));
    Button("greetingToggleButton")->click();
    EXPECT_FALSE(Page().IsGreetingRunning());
    EXPECT_EQ(LiveSettings().greetingRunning.load(), 0);
    EXPECT_EQ(Button("greetingToggleButton")->text(), QStringLiteral("开始自动打招呼"));
    EXPECT_TRUE(Rows(QStringLiteral("select * from [AutoSend]"), {0}).isEmpty());

    Button("greetingToggleButton")->click();
    EXPECT_EQ(Button("greetingToggleButton")->text(), QStringLiteral("停止自动打招呼"));
    EXPECT_TRUE(WaitUntil([] { return LiveSettings().greetingRunning.load() == 1; }));
}

TEST_F(ConfigPageTest, MonitoringToggleAndRestartNeverRunTwoPollsAtOnce)
{
    Page();
    ASSERT_TRUE(MonitoringRuns());
    Button("monitorToggleButton")->click();
    EXPECT_EQ(Button("monitorToggleButton")->text(), QStringLiteral("开始监视"));
    EXPECT_FALSE(Page().IsMonitoring());

    // Every restart asks for a new thread while the old one is still ending.
    int most = 0;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, &sampler,
                     [&most] { most = qMax(most, CMonitorClientThread::LiveCount()); });
    sampler.start(5);
    Button("monitorToggleButton")->click();
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(MonitoringRuns());
        Page().Control().RestartMonitoring();
        EXPECT_EQ(Button("monitorToggleButton")->text(), QStringLiteral("停止监视"));
        most = qMax(most, CMonitorClientThread::LiveCount());
    }
    ASSERT_TRUE(MonitoringRuns());
    EXPECT_EQ(most, 1);
}

TEST_F(ConfigPageTest, DestroyingThePageEndsEveryWorker)
{
    Page();
    ASSERT_TRUE(MonitoringRuns());
    ASSERT_GE(CWorkerRegistry::RunningCount(), 3);
    m_page.reset();
    EXPECT_EQ(g_pConfigDlg, nullptr);
    EXPECT_EQ(LiveSettings().greetingRunning.load(), 0);
    EXPECT_TRUE(WaitUntil([] { return CWorkerRegistry::RunningCount() == 0; }));
}
