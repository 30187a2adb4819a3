// The tracking operations against a running rivuzovara-local.
#include "support/LocalService.h"
#include "support/StoreTestSupport.h"
#include "support/TestMain.h"

#include "accounts/AccountStates.h"
#include "net/TrackingService.h"
#include "net/WinHttpEx.h"
#include "platform/Endpoints.h"
#include "platform/TextCodec.h"
#include "store/StoreStartup.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QThread>

#include <future>

namespace {

class TrackingServiceTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_service = new CLocalService;
        s_service->SetExtraArguments({QStringLiteral("--test-wait-seconds"), QStringLiteral("3")});
        if (!s_service->Start())
            FAIL() << s_service->Error().toStdString();
    }
    static void TearDownTestSuite()
    {
        delete s_service;
        s_service = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(s_service->IsRunning()) << s_service->Error().toStdString();
        ASSERT_EQ(s_service->GetTracking(QStringLiteral("/admin/reset")), 200);
        m_saved = Endpoints();
        s_service->ApplyEndpoints();
    }
    void TearDown() override { SetEndpoints(m_saved); }

    QJsonObject Account(const QString& name)
    {
        const QJsonArray all = QJsonDocument::fromJson(s_service->AccountsJson()).array();
        for (const auto& value : all) {
            if (value.toObject().value(QStringLiteral("name")).toString() == name)
                return value.toObject();
        }
        return {};
    }

    static CLocalService* s_service;
    CEndpoints m_saved;
};

CLocalService* TrackingServiceTest::s_service = nullptr;

TEST_F(TrackingServiceTest, RegisteredAccountGetsItsWebId)
{
    const QString webId = s_service->RegisterAccount(QStringLiteral("shop1"), QStringLiteral("secret"));
    ASSERT_FALSE(webId.isEmpty());
    QString got;
    EXPECT_TRUE(GetWebID(QStringLiteral("shop1"), QStringLiteral("secret"), got));
    EXPECT_EQ(got, webId);

    EXPECT_FALSE(GetWebID(QStringLiteral("shop1"), QStringLiteral("wrong"), got));
    EXPECT_TRUE(got.isEmpty());
    EXPECT_FALSE(GetWebID(QStringLiteral("nobody"), QStringLiteral("secret"), got));
}

TEST_F(TrackingServiceTest, NamesTravelAsGbkAndReservedCharactersSurvive)
{
    const QString name = QStringLiteral("小店 A&B+C");
    const QString webId = s_service->RegisterAccount(name, QStringLiteral("pw"));
    ASSERT_FALSE(webId.isEmpty());
    const QString other = s_service->RegisterAccount(QStringLiteral("小店"), QStringLiteral("pw"));
    ASSERT_NE(other, webId);
    QString got;
    EXPECT_TRUE(GetWebID(name, QStringLiteral("pw"), got));
    EXPECT_EQ(got, webId);
}

TEST_F(TrackingServiceTest, SaveImNameStoresTheImName)
{
    ASSERT_FALSE(s_service->RegisterAccount(QStringLiteral("shop1"), QStringLiteral("secret")).isEmpty());
    EXPECT_TRUE(SaveImName(QStringLiteral("shop1"), QStringLiteral("secret"), QStringLiteral("掌柜小王")));
    EXPECT_EQ(Account(QStringLiteral("shop1")).value(QStringLiteral("imName")).toString(), QStringLiteral("掌柜小王"));

    EXPECT_FALSE(SaveImName(QStringLiteral("shop1"), QStringLiteral("wrong"), QStringLiteral("other")));
    EXPECT_EQ(Account(QStringLiteral("shop1")).value(QStringLiteral("imName")).toString(), QStringLiteral("掌柜小王"));
}

TEST_F(TrackingServiceTest, FrozenStateShowsAsErr)
{
    ASSERT_FALSE(s_service->RegisterAccount(QStringLiteral("shop1"), QStringLiteral("secret")).isEmpty());
    QString reply;
    ASSERT_TRUE(GetUserState(QStringLiteral("shop1"), reply));
    EXPECT_FALSE(reply.contains(QStringLiteral("-ERR"))) << reply.toStdString();
    ASSERT_TRUE(s_service->FreezeAccount(QStringLiteral("shop1")));
    ASSERT_TRUE(GetUserState(QStringLiteral("shop1"), reply));
    EXPECT_TRUE(reply.contains(QStringLiteral("-ERR"))) << reply.toStdString();
    ASSERT_TRUE(s_service->FreezeAccount(QStringLiteral("shop1"), false));
    ASSERT_TRUE(GetUserState(QStringLiteral("shop1"), reply));
    EXPECT_FALSE(reply.contains(QStringLiteral("-ERR")));
}

class AccountStatesTest : public TrackingServiceTest
{
protected:
    void SetUp() override
    {
        TrackingServiceTest::SetUp();
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(OpenStore(m_dir.path()));
    }
    void TearDown() override
    {
        CloseStore();
        TrackingServiceTest::TearDown();
    }
    void AddUser(const QString& name)
    {
        ASSERT_TRUE(g_pConnection->Execute(
            QStringLiteral("insert into [user] ([username],[usersmailname],[password],[webid],[messageinfo],[autosend])"
                           " values ('%1','','pw','1','',0)")
                .arg(SqlText(name))));
        ASSERT_FALSE(s_service->RegisterAccount(name, QStringLiteral("pw")).isEmpty());
    }

    QTemporaryDir m_dir;
};

TEST_F(AccountStatesTest, TwoFrozenAccountsAreNamedInOneBox)
{
    AddUser(QStringLiteral("甲店"));
    AddUser(QStringLiteral("shop2"));
    AddUser(QStringLiteral("shop3"));
    ASSERT_TRUE(s_service->FreezeAccount(QStringLiteral("甲店")));
    ASSERT_TRUE(s_service->FreezeAccount(QStringLiteral("shop3")));

    CMessageRecorder recorder;
    CheckAccountStates();
    const auto shown = recorder.Shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text,
              QStringLiteral("您的账户 甲店 shop3 被冻结！\r\n系统将无法检测到 甲店 shop3 的访问客户！\r\n"
                             "请联系供应商解决！"));
    EXPECT_EQ(shown[0].caption, AppTitle());
    EXPECT_EQ(shown[0].icon, EMsgIcon::Exclamation);
}

TEST_F(AccountStatesTest, NoWarningWithoutFrozenAccountsOrWithoutService)
{
    AddUser(QStringLiteral("shop1"));
    AddUser(QStringLiteral("shop2"));
    CMessageRecorder recorder;
    CheckAccountStates();
    EXPECT_EQ(recorder.Count(), 0u);

    ASSERT_TRUE(s_service->FreezeAccount(QStringLiteral("shop2")));
    EXPECT_EQ(FindFrozenAccounts(), QStringLiteral("shop2 "));

    // An unreachable service is no reason for a warning.
    CEndpoints nowhere = Endpoints();
    CTestHttpServer closed;
    ASSERT_TRUE(closed.Start());
    nowhere.trackingBase = closed.Base();
    closed.Stop();
    SetEndpoints(nowhere);
    CheckAccountStates();
    EXPECT_EQ(recorder.Count(), 0u);
}

TEST_F(TrackingServiceTest, PageViewThroughTheCountingImageComesBackThroughGetInfo)
{
    const QString webId = s_service->RegisterAccount(QStringLiteral("shop1"), QStringLiteral("secret"));
    ASSERT_FALSE(webId.isEmpty());

    QString ip = QStringLiteral("stale"), itemUrl = QStringLiteral("stale"), third = QStringLiteral("stale");
    GetInfo(webId, ip, itemUrl, third);
    EXPECT_TRUE(ip.isEmpty());
    EXPECT_TRUE(itemUrl.isEmpty());

    // A shopper's browser loads the snippet's image from an item page.
    httplib::Client shopper("127.0.0.1", s_service->TrackingPort());
    const std::string item = "http://item.example/auction/item-1001.html";
    const auto res = shopper.Get(("/rivuzovara/shop.asp?id=" + webId).toStdString(),
                                 {{"Referer", item}, {"X-Forwarded-For", "61.135.1.2, 10.0.0.1"}});
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->get_header_value("Cache-Control"), "no-store");
    EXPECT_EQ(res->get_header_value("Content-Type"), "image/gif");
    EXPECT_EQ(res->body.substr(0, 6), "GIF89a");

    GetInfo(webId, ip, itemUrl, third);
    EXPECT_EQ(ip, QStringLiteral("61.135.1.2"));
    EXPECT_EQ(itemUrl, QString::fromStdString(item));
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$")).match(third).hasMatch())
        << third.toStdString();

    // The latest view wins; query overrides stand in for the headers.
    const auto second = shopper.Get(
        ("/rivuzovara/shop.asp?id=" + webId + "&ip=202.96.1.1&url=http%3A%2F%2Fitem.example%2Fb.html").toStdString());
    ASSERT_TRUE(second);
    GetInfo(webId, ip, itemUrl, third);
    EXPECT_EQ(ip, QStringLiteral("202.96.1.1"));
    EXPECT_EQ(itemUrl, QStringLiteral("http://item.example/b.html"));
    // An IPv6 shopper's address goes through the feed as it came.
    ASSERT_TRUE(shopper.Get(("/rivuzovara/shop.asp?id=" + webId + "&ip=240e:3b7:3272:d8d0::1").toStdString(),
                            {{"Referer", item}}));
    GetInfo(webId, ip, itemUrl, third);
    EXPECT_EQ(ip, QStringLiteral("240e:3b7:3272:d8d0::1"));

    // Without any override the connection's own address is recorded.
    ASSERT_TRUE(shopper.Get(("/rivuzovara/shop.asp?id=" + webId).toStdString(), {{"Referer", item}}));
    GetInfo(webId, ip, itemUrl, third);
    EXPECT_EQ(ip, QStringLiteral("127.0.0.1"));

    // Views of another account do not show.
    const QString otherId = s_service->RegisterAccount(QStringLiteral("shop2"), QStringLiteral("pw"));
    ASSERT_TRUE(s_service->RecordPageView(otherId, QStringLiteral("1.2.3.4"), QStringLiteral("http://x/y")));
    GetInfo(webId, ip, itemUrl, third);
    EXPECT_EQ(ip, QStringLiteral("127.0.0.1"));
    GetInfo(otherId, ip, itemUrl, third);
    EXPECT_EQ(ip, QStringLiteral("1.2.3.4"));
    EXPECT_EQ(itemUrl, QStringLiteral("http://x/y"));
}

TEST_F(TrackingServiceTest, WaitInfoNumbersEachAccountsViewsAndWaitsForTheNext)
{
    const QString webId = s_service->RegisterAccount(QStringLiteral("shop1"), QStringLiteral("pw"));
    const QString otherId = s_service->RegisterAccount(QStringLiteral("shop2"), QStringLiteral("pw"));
    ASSERT_TRUE(s_service->RecordPageView(webId, QStringLiteral("61.135.1.2"), QStringLiteral("http://i/a#|b")));
    const auto wait = [](const QString& query) {
        QByteArray body;
        const int status = s_service->GetTracking(QStringLiteral("/rivuzovara/WaitInfo.asp?") + query, &body);
        return QString::number(status) + QLatin1Char(' ') + AnsiToUnicode(body);
    };
    const QString record = QStringLiteral("#\\|\\|#[-0-9: ]{19}#\\|\\|#\\|##\\|");
    const struct
    {
        QString query;
        QString expected; // a regular expression
    } cases[] = {
        {QStringLiteral("userID=%1&after=").arg(webId), QStringLiteral("200 \\+OK 1")},
        {QStringLiteral("userid=%1&AFTER=").arg(otherId), QStringLiteral("200 \\+OK 0")},
        {QStringLiteral("userID=99999&after="), QStringLiteral("200 -ERR")},
        {QStringLiteral("userID=%1&after=x").arg(webId), QStringLiteral("200 -ERR")},
        {QStringLiteral("userID=%1&after=1").arg(webId), QStringLiteral("200 \\+OK 1")},
        {QStringLiteral("userID=%1&after=0").arg(webId),
         QStringLiteral("200 \\+OK 1\r\n1#\\|\\|#61\\.135\\.1\\.2#\\|\\|#http://i/a%23%7Cb") + record},
    };
    for (const auto& c : cases)
        EXPECT_TRUE(
            QRegularExpression(QLatin1Char('^') + c.expected + QLatin1Char('$')).match(wait(c.query)).hasMatch())
            << c.query.toStdString() << " gave " << wait(c.query).toStdString();

    auto waiter = std::async(std::launch::async, [&] { return wait(QStringLiteral("userID=%1&after=1").arg(webId)); });
    QThread::msleep(300); // so the view mostly comes to a waiting request
    httplib::Client shopper("127.0.0.1", s_service->TrackingPort());
    ASSERT_TRUE(
        shopper.Get(("/rivuzovara/shop.asp?id=" + webId + "&ip=8.8.8.8").toStdString(), {{"Referer", "http://i/2"}}));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^200 \\+OK 2\r\n2#\\|\\|#8\\.8\\.8\\.8#\\|\\|#http://i/2") + record +
                                   QLatin1Char('$'))
                    .match(waiter.get())
                    .hasMatch());
    for (int i = 3; i <= 130; ++i)
        ASSERT_TRUE(s_service->RecordPageView(webId, QStringLiteral("1.1.1.1"), QStringLiteral("http://i/%1").arg(i)));
    const QString first = wait(QStringLiteral("userID=%1&after=0").arg(webId));
    EXPECT_TRUE(first.startsWith(QStringLiteral("200 +OK 100\r\n1#||#"))) << first.left(40).toStdString();
    EXPECT_EQ(first.count(QLatin1Char('\n')), 100);
    const QString rest = wait(QStringLiteral("userID=%1&after=100").arg(webId));
    EXPECT_TRUE(rest.startsWith(QStringLiteral("200 +OK 130\r\n101#||#1.1.1.1#||#http://i/101#||#")));
    EXPECT_EQ(rest.count(QLatin1Char('\n')), 30);
    EXPECT_EQ(wait(QStringLiteral("userID=%1&after=").arg(otherId)).toStdString(), "200 +OK 0");

    // Switched off, the stand-in is a service without the wake-up, until the next reset.
    ASSERT_EQ(s_service->GetTracking(QStringLiteral("/admin/waitinfo?enabled=0")), 200);
    EXPECT_TRUE(wait(QStringLiteral("userID=%1&after=").arg(webId)).startsWith(QStringLiteral("404 ")));
    ASSERT_EQ(s_service->GetTracking(QStringLiteral("/admin/reset")), 200);
    EXPECT_EQ(wait(QStringLiteral("userID=99999&after=")).toStdString(), "200 -ERR");
}

TEST_F(TrackingServiceTest, PagesAreGbkHtml)
{
    const struct
    {
        QString path;
        QString title;
    } pages[] = {
        {QStringLiteral("/rivuzovara/rivuzovara_help.asp"), QStringLiteral("Lumo助手使用帮助")},
        {QStringLiteral("/ad.asp"), QStringLiteral("推荐网店")},
    };
    for (const auto& page : pages) {
        CWinHttpEx http;
        QByteArray body;
        ASSERT_TRUE(http.Get(s_service->TrackingBase() + page.path, body)) << page.path.toStdString();
        EXPECT_TRUE(AnsiToUnicode(body).contains(QStringLiteral("<title>") + page.title + QStringLiteral("</title>")))
            << page.path.toStdString();
    }
}

TEST_F(TrackingServiceTest, MalformedRequestsNeverBringItDown)
{
    const QString targets[] = {
        QStringLiteral("/rivuzovara/GetWebID.asp?UserName=%zz&UserPwd=%"),
        QStringLiteral("/rivuzovara/GetWebID.asp?&&&==&UserName"),
        QStringLiteral("/rivuzovara/SaveImName.asp?UserName=%FF%FE%FD&UserPwd=%C0%80"),
        QStringLiteral("/rivuzovara/GetInfo.asp?userID=99999999999999999999999"),
        QStringLiteral("/rivuzovara/GetInfo.asp?userID=-1"),
        QStringLiteral("/rivuzovara/GetInfo.asp"),
        QStringLiteral("/rivuzovara/shop.asp?id=%00"),
        QStringLiteral("/rivuzovara/shop.asp"),
        QStringLiteral("/admin/register?name="),
        QStringLiteral("/admin/freeze?name=%D6"),
        QStringLiteral("/admin/pageview?webid=abc"),
        QStringLiteral("/admin/pageviews?limit=-5"),
        QStringLiteral("/%2e%2e/%2e%2e/etc/passwd"),
        QStringLiteral("/rivuzovara/GetUserState.asp?UserName=") + QString(5000, QLatin1Char('A')),
    };
    for (const QString& target : targets) {
        QByteArray body;
        const int status = s_service->GetTracking(target, &body);
        EXPECT_GT(status, 0) << target.toStdString();
        EXPECT_NE(status, 500) << target.toStdString();
    }
    QByteArray info;
    ASSERT_EQ(s_service->GetTracking(QStringLiteral("/rivuzovara/GetInfo.asp?userID=abc"), &info), 200);
    EXPECT_EQ(info, QByteArray("|##|"));
    EXPECT_EQ(s_service->GetTracking(QStringLiteral("/admin/ping")), 200);
    EXPECT_TRUE(s_service->IsRunning());
}

// The admin routes answer only the local user who started the stand-in: a
// page in the owner's browser (a GET, a form POST, a rebound name) cannot
// drive them.
TEST_F(TrackingServiceTest, AdminCallsNeedPostALoopbackHostAndTheToken)
{
    const std::string token = s_service->AdminToken().toStdString();
    ASSERT_GE(token.size(), 16u);
    const struct
    {
        const char* name;
        bool im;
        const char* method;
        const char* host; // empty: the client's own (127.0.0.1:port)
        const char* token;
        int status;
    } cases[] = {
        {"tracking GET", false, "GET", "", "ok", 405},
        {"tracking foreign Host", false, "POST", "shop.example", "ok", 403},
        {"tracking rebound Host with port", false, "POST", "evil.example:8780", "ok", 403},
        {"tracking no token", false, "POST", "", "", 403},
        {"tracking wrong token", false, "POST", "", "0123456789abcdef0123", 403},
        {"tracking allowed", false, "POST", "", "ok", 200},
        {"tracking localhost", false, "POST", "localhost", "ok", 200},
        {"tracking [::1]", false, "POST", "[::1]:1", "ok", 200},
        {"im GET", true, "GET", "", "ok", 405},
        {"im foreign Host", true, "POST", "shop.example", "ok", 403},
        {"im no token", true, "POST", "", "", 403},
        {"im allowed", true, "POST", "", "ok", 200},
    };
    for (const auto& c : cases) {
        httplib::Client client("127.0.0.1", c.im ? s_service->ImPort() : s_service->TrackingPort());
        httplib::Headers headers;
        if (*c.host)
            headers.emplace("Host", c.host);
        if (*c.token)
            headers.emplace("X-Admin-Token", std::string(c.token) == "ok" ? token : std::string(c.token));
        const std::string path = c.im ? "/admin/im/clear?imname=nobody" : "/admin/ping";
        const auto result = std::string(c.method) == "GET" ? client.Get(path, headers) : client.Post(path, headers);
        ASSERT_TRUE(result) << c.name;
        EXPECT_EQ(result->status, c.status) << c.name << ": " << result->body;
    }

    // The account list keeps the passwords to itself.
    ASSERT_FALSE(s_service->RegisterAccount(QStringLiteral("listed"), QStringLiteral("pw-kept-secret")).isEmpty());
    const QByteArray accounts = s_service->AccountsJson();
    EXPECT_TRUE(accounts.contains("\"listed\"")) << accounts.constData();
    EXPECT_FALSE(accounts.contains("pw-kept-secret")) << accounts.constData();
    // One short request cannot make the stand-in build a huge name.
    EXPECT_EQ(s_service->GetIm(QStringLiteral("/admin/im/visit?imname=a&name=") + QString(1000, QLatin1Char('x')) +
                               QStringLiteral("&repeat=100000")),
              400);
    EXPECT_EQ(s_service->GetIm(QStringLiteral("/admin/im/visit?imname=a&name=xy&repeat=100")), 200);
}

TEST(LocalServiceTest, KeepsItsStateAcrossRestartsAndStopsCleanly)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QString webId;
    {
        CLocalService service;
        ASSERT_TRUE(service.Start(dir.path())) << service.Error().toStdString();
        webId = service.RegisterAccount(QStringLiteral("shop1"), QStringLiteral("pw"));
        ASSERT_FALSE(webId.isEmpty());
        ASSERT_TRUE(service.RecordPageView(webId, QStringLiteral("8.8.8.8"), QStringLiteral("http://i/1")));
        // A request waiting for the next view (25 s) does not hold up the stop.
        auto waiter = std::async(std::launch::async, [&] {
            return service.GetTracking(QStringLiteral("/rivuzovara/WaitInfo.asp?after=1&userID=") + webId);
        });
        QThread::msleep(200);
        EXPECT_TRUE(service.Stop()) << service.Output().toStdString();
        waiter.get();
        EXPECT_TRUE(service.Output().contains(QStringLiteral("stopped")));
    }
    CLocalService again;
    ASSERT_TRUE(again.Start(dir.path())) << again.Error().toStdString();
    const CEndpoints saved = Endpoints();
    again.ApplyEndpoints();
    QString got;
    EXPECT_TRUE(GetWebID(QStringLiteral("shop1"), QStringLiteral("pw"), got));
    EXPECT_EQ(got, webId);
    QString ip, itemUrl, third;
    GetInfo(webId, ip, itemUrl, third);
    EXPECT_EQ(ip, QStringLiteral("8.8.8.8"));
    ASSERT_TRUE(again.RecordPageView(webId, QStringLiteral("8.8.4.4"), QStringLiteral("http://i/2")));
    QByteArray latest;
    again.GetTracking(QStringLiteral("/rivuzovara/WaitInfo.asp?after=&userID=") + webId, &latest);
    EXPECT_EQ(latest, QByteArray("+OK 2"));
    SetEndpoints(saved);
}

TEST(LocalServiceTest, RefusesABusyPort)
{
    CLocalService first;
    ASSERT_TRUE(first.Start()) << first.Error().toStdString();
    CLocalService second;
    EXPECT_FALSE(second.Start(QString(), first.TrackingPort(), 0));
    EXPECT_FALSE(second.IsRunning());
}

} // namespace
