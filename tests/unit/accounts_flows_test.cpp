// The add and modify flows step by step, against rivuzovara-local and a
// real store, with a recording stand-in for the page.
#include "support/TestMain.h"

#include "accounts/AccountFlows.h"
#include "platform/DataDirectory.h"
#include "store/AdoConnection.h"
#include "store/StoreStartup.h"
#include "support/AccountsTestSupport.h"
#include "tables/AccountTable.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class CRecordingPage : public IAccountPage
{
public:
    explicit CRecordingPage(CFlowLog& log) : m_log(log) {}
    void StopMonitoring() override { m_log.Note(QStringLiteral("stop")); }
    void StartMonitoring() override { m_log.Note(QStringLiteral("start")); }
    void ListAccounts() override { m_log.Note(QStringLiteral("list")); }
    void SetUserNameValue(const QString& userName) override { m_log.Note(QStringLiteral("name=") + userName); }
    void SetLastWebId(const QString& webId) override { m_log.Note(QStringLiteral("webid=") + webId); }
    void EnableAddButton() override { m_log.Note(QStringLiteral("enable add")); }
    void EnableModifyButton() override { m_log.Note(QStringLiteral("enable modify")); }

private:
    CFlowLog& m_log;
};

QString Page(const QString& text)
{
    return QStringLiteral("page:") + text;
}
QString Box(const QString& text)
{
    return QStringLiteral("box:") + text;
}
QString Status(const QString& text)
{
    return QStringLiteral("status:") + text;
}

} // namespace

class AccountFlowsTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_service = new CLocalService;
        if (!s_service->Start())
            FAIL() << qPrintable(s_service->Error());
    }
    static void TearDownTestSuite()
    {
        delete s_service;
        s_service = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(s_service && s_service->IsRunning());
        ASSERT_TRUE(m_dir.isValid());
        SetDataDirectory(m_dir.path());
        ASSERT_TRUE(m_proxy.Start(s_service->TrackingPort()));
        CEndpoints endpoints = s_service->MakeEndpoints();
        endpoints.trackingBase = m_proxy.Base();
        SetEndpoints(endpoints);
        ASSERT_TRUE(OpenStore(m_dir.path()));
    }
    void TearDown() override { CloseStore(); }

    static inline CLocalService* s_service = nullptr;
    QTemporaryDir m_dir;
    CFlowLog m_log;
    CRecordingPage m_page{m_log};
    CRecordingProxy m_proxy;
};

TEST_F(AccountFlowsTest, AddRunsItsStepsInOrder)
{
    const QString webId = s_service->RegisterAccount(QStringLiteral("flowshop"), QStringLiteral("pw"));
    ASSERT_FALSE(webId.isEmpty());
    RunAddAccount(
        {QStringLiteral(" flow shop"), QStringLiteral("im"), QStringLiteral("pw"), {}, QStringLiteral("hi"), false},
        m_page);
    EXPECT_EQ(m_log.Events(), QStringList({Page(QStringLiteral("stop")), Page(QStringLiteral("name=flowshop")),
                                           Status(AccountTexts::GettingWebId()), Page(QStringLiteral("webid=") + webId),
                                           Page(QStringLiteral("list")), Status(AccountTexts::UpdatingImName()),
                                           Box(QStringLiteral("账户[flowshop]，添加成功！")),
                                           Page(QStringLiteral("start")), Page(QStringLiteral("enable add"))}));
    // The web-ID request comes before the stored row, the IM name after it.
    EXPECT_EQ(m_proxy.Count(QStringLiteral("GetWebID.asp")), 1);
    EXPECT_EQ(m_proxy.Count(QStringLiteral("SaveImName.asp")), 1);
    CAccount stored;
    ASSERT_EQ(CAccountTable().Find(QStringLiteral("flowshop"), &stored), EAccountLookup::Exists);
    EXPECT_EQ(stored.webId, webId);
    EXPECT_EQ(stored.greeting, QStringLiteral("hi"));
    EXPECT_FALSE(stored.autoSend);
}

TEST_F(AccountFlowsTest, AddWhoseImNameIsNotTakenKeepsTheAccount)
{
    const QString webId = s_service->RegisterAccount(QStringLiteral("halfway"), QStringLiteral("pw"));
    // The IM name step answers without "+OK" once the service no longer knows the password.
    CTestHttpServer refusing;
    refusing.Server().Get(".*", [&webId](const httplib::Request& request, httplib::Response& response) {
        if (request.path.find("GetWebID") != std::string::npos)
            response.set_content("+OK " + webId.toStdString(), "text/plain");
        else
            response.set_content("-ERR", "text/plain");
    });
    ASSERT_TRUE(refusing.Start());
    CEndpoints endpoints = s_service->MakeEndpoints();
    endpoints.trackingBase = refusing.Base();
    SetEndpoints(endpoints);
    RunAddAccount(
        {QStringLiteral("halfway"), QStringLiteral("im"), QStringLiteral("pw"), {}, QStringLiteral("hi"), true},
        m_page);
    EXPECT_EQ(m_log.Boxes(), QStringList({AccountTexts::AddNotSynchronised(QStringLiteral("halfway"))}));
    EXPECT_EQ(CAccountTable().Find(QStringLiteral("halfway")), EAccountLookup::Exists);
    EXPECT_TRUE(m_log.Events().endsWith(Page(QStringLiteral("enable add"))));
    EXPECT_TRUE(m_log.Events().contains(Page(QStringLiteral("start"))));
}

TEST_F(AccountFlowsTest, EmptyWebIdStoresNothing)
{
    CTestHttpServer empty;
    empty.Server().Get(
        ".*", [](const httplib::Request&, httplib::Response& response) { response.set_content("+OK ", "text/plain"); });
    ASSERT_TRUE(empty.Start());
    CEndpoints endpoints = s_service->MakeEndpoints();
    endpoints.trackingBase = empty.Base();
    SetEndpoints(endpoints);
    RunAddAccount({QStringLiteral("noid"), QStringLiteral("im"), QStringLiteral("pw"), {}, QStringLiteral("hi"), true},
                  m_page);
    EXPECT_EQ(m_log.Events(), QStringList({Page(QStringLiteral("stop")), Page(QStringLiteral("name=noid")),
                                           Status(AccountTexts::GettingWebId()), Box(AccountTexts::WebIdEmpty()),
                                           Page(QStringLiteral("enable add"))}));
    EXPECT_EQ(CAccountTable().Find(QStringLiteral("noid")), EAccountLookup::Missing);
}

TEST_F(AccountFlowsTest, AddWhoseInsertFailsSaysSoAndSkipsTheImName)
{
    s_service->RegisterAccount(QStringLiteral("nostore"), QStringLiteral("pw"));
    // [user] readable but no longer writable.
    ASSERT_TRUE(g_pConnection->Execute(
        QStringLiteral("create trigger [refuse] before insert on [user] begin select raise(abort, 'refused'); end")));
    RunAddAccount(
        {QStringLiteral("nostore"), QStringLiteral("im"), QStringLiteral("pw"), {}, QStringLiteral("hi"), true},
        m_page);
    EXPECT_EQ(m_log.Boxes(), QStringList({AccountTexts::AddNotStored(QStringLiteral("nostore"))}));
    EXPECT_EQ(m_proxy.Count(QStringLiteral("SaveImName.asp")), 0);
    EXPECT_FALSE(m_log.Events().contains(Page(QStringLiteral("list"))));
    EXPECT_TRUE(m_log.Events().contains(Page(QStringLiteral("start"))));
}

TEST_F(AccountFlowsTest, ModifyRunsItsStepsInOrder)
{
    s_service->RegisterAccount(QStringLiteral("modshop"), QStringLiteral("pw"));
    ASSERT_TRUE(CAccountTable().Insert({QStringLiteral("modshop"), QStringLiteral("old"), QStringLiteral("pw"),
                                        QStringLiteral("5"), QStringLiteral("old text"), true}));
    RunModifyAccount(
        {QStringLiteral("mod shop"), QStringLiteral("new"), QStringLiteral("pw"), {}, QStringLiteral("text"), false},
        m_page);
    EXPECT_EQ(m_log.Events(),
              QStringList({Page(QStringLiteral("stop")), Page(QStringLiteral("name=modshop")),
                           Status(AccountTexts::TestingAccount()), Status(AccountTexts::UpdatingImName()),
                           Box(QStringLiteral("账户[modshop]，更新成功！")), Page(QStringLiteral("start")),
                           Page(QStringLiteral("enable modify"))}));
    EXPECT_EQ(m_proxy.Count(QStringLiteral("GetWebID.asp")), 0) << "modify never asks for a new web ID";
    CAccount stored;
    ASSERT_EQ(CAccountTable().Find(QStringLiteral("modshop"), &stored), EAccountLookup::Exists);
    EXPECT_EQ(stored.greetingAccount, QStringLiteral("new"));
    EXPECT_EQ(stored.greeting, QStringLiteral("text"));
    EXPECT_FALSE(stored.autoSend);
    EXPECT_EQ(stored.webId, QStringLiteral("5"));
}

TEST_F(AccountFlowsTest, ModifyRefusedByTheServiceLeavesMonitoringStopped)
{
    ASSERT_TRUE(CAccountTable().Insert({QStringLiteral("stranger"), QStringLiteral("im"), QStringLiteral("pw"),
                                        QStringLiteral("7"), QString(), true}));
    RunModifyAccount({QStringLiteral("stranger"), QStringLiteral("im"), QStringLiteral("pw"), {}, {}, true}, m_page);
    EXPECT_EQ(m_log.Boxes(), QStringList({AccountTexts::ModifyNotSynchronised(QStringLiteral("stranger"))}));
    EXPECT_FALSE(m_log.Events().contains(Page(QStringLiteral("start"))));
    EXPECT_TRUE(m_log.Events().endsWith(Page(QStringLiteral("enable modify"))));
}

// An edited name matches no row: nothing is asked of the service and the owner is told.
TEST_F(AccountFlowsTest, ModifyOfAnUnknownNameAsksNoServiceAndSaysItFailed)
{
    s_service->RegisterAccount(QStringLiteral("renamed"), QStringLiteral("pw"));
    RunModifyAccount({QStringLiteral("renamed"), QStringLiteral("im"), QStringLiteral("pw"), {}, {}, true}, m_page);
    EXPECT_EQ(m_log.Boxes(), QStringList({QStringLiteral("账户[renamed]，设置保存失败！")}));
    EXPECT_EQ(m_proxy.Count(QStringLiteral(".asp")), 0);
    EXPECT_EQ(m_log.Events().mid(m_log.Events().size() - 2),
              QStringList({Page(QStringLiteral("start")), Page(QStringLiteral("enable modify"))}));
}
