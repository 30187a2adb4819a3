// One poll of an account (RefreshShop) against a running rivuzovara-local,
// a real Info.mdb and the real IP data file.
#include "accounts/AdvancedSettings.h"
#include "accounts/LiveSettings.h"
#include "greet/GreetingPolicy.h"
#include "iploc/IpLocator.h"
#include "monitor/AlertPolicy.h"
#include "monitor/MonitorClientThread.h"
#include "monitor/RefreshShop.h"
#include "monitor/SessionMan.h"
#include "monitor/ViewHearing.h"
#include "store/AdoConnection.h"
#include "store/StoreStartup.h"

#include "support/LocalService.h"
#include "support/MonitorFakes.h"
#include "support/MonitorService.h"
#include "support/TestMain.h"
#include "support/WaitUntil.h"

#include <QDateTime>
#include <QTemporaryDir>

namespace {

const QString kFeedIp = QStringLiteral("61.135.169.125");
const QString kClientColumns =
    QStringLiteral("select [guestname], [ip], [shopname], [count], [city], [shopurl], [imuid] from [client] "
                   "order by [id]");

class RefreshShopTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_service = new CLocalService;
        s_serviceStarted = s_service->Start();
        s_reader = new CIpLocator(QStringLiteral(MIREL_IPDB_FILE), QStringLiteral(MIREL_QQWRY_FILE));
    }
    static void TearDownTestSuite()
    {
        delete s_service;
        s_service = nullptr;
        delete s_reader;
        s_reader = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(s_serviceStarted) << s_service->Error().toStdString();
        ASSERT_TRUE(s_reader->IsOpen()) << "no IP data file at " MIREL_QQWRY_FILE;
        s_service->ApplyEndpoints();
        ASSERT_TRUE(ClearIm(*s_service));
        ASSERT_EQ(s_service->GetTracking(QStringLiteral("/admin/reset")), 200);
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(OpenStore(m_dir.path()));
        LiveSettings().clienttip.store(1);
        LiveSettings().guesttip.store(1);
        LiveSettings().greetingRunning.store(0);
        theSessionMan.SetRetention(3600);
    }
    void TearDown() override
    {
        CloseStore();
        LiveSettings().greetingRunning.store(0);
        // Forget the guests of this test.
        m_clock.Advance(24LL * 3600 * 1000);
        theSessionMan.Expire();
    }

    // A registered account with a page view of the given IP and item address.
    QString Account(const QString& name, const QString& ip = QString(), const QString& url = QString())
    {
        const QString webId = s_service->RegisterAccount(name, QStringLiteral("pw"));
        EXPECT_FALSE(webId.isEmpty());
        if (!ip.isNull() || !url.isNull()) {
            EXPECT_TRUE(s_service->RecordPageView(webId, ip, url));
        }
        return webId;
    }
    // Lists the names on the IM page, first name on top.
    void ListVisitors(const QString& imName, const QList<QPair<QString, QString>>& visitors)
    {
        for (qsizetype i = visitors.size() - 1; i >= 0; --i)
            ASSERT_TRUE(AddImVisitor(*s_service, imName, visitors[i].first, visitors[i].second));
    }
    QString ItemUrl(int item) const { return s_service->ImBase() + QStringLiteral("/item/%1").arg(item); }
    QString PollTime()
    {
        return QDateTime::fromMSecsSinceEpoch(m_clock.NowMs())
            .toLocalTime()
            .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    }
    QString Region(const QString& ip) const { return s_reader->Lookup(ip); }

    static QStringList Row(const QString& name, const QString& ip, const QString& shop, const QString& city,
                           const QString& url, const QString& imId)
    {
        return {name, ip, shop, QStringLiteral("1"), city, url, imId};
    }

    static CLocalService* s_service;
    static bool s_serviceStarted;
    static CIpLocator* s_reader;

    QTemporaryDir m_dir;
    CFastClock m_clock{1717243200000};
    CRecordingNotifier m_notifier;
    CRecordingBridge m_bridge{s_reader};
};

CLocalService* RefreshShopTest::s_service = nullptr;
bool RefreshShopTest::s_serviceStarted = false;
CIpLocator* RefreshShopTest::s_reader = nullptr;

TEST_F(RefreshShopTest, FirstNameNewIsTiedToTheFeed)
{
    ASSERT_TRUE(SetItemTitle(*s_service, 5, QStringLiteral("首页-Shop A - Lumo网")));
    const QString webId = Account(QStringLiteral("shopFirst"), kFeedIp, ItemUrl(5));
    ListVisitors(QStringLiteral("hiFirst"), {{QStringLiteral("张三"), QStringLiteral("zs01")}});
    ASSERT_NE(Region(kFeedIp), QStringLiteral("没有查到相关信息"));

    RefreshShop(webId, QStringLiteral("shopFirst"), QStringLiteral("hiFirst"), QStringLiteral("hello"), false);

    const auto rows = ReadRows(kClientColumns);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], Row(QStringLiteral("张三"), kFeedIp, QStringLiteral("shopFirst"), Region(kFeedIp), ItemUrl(5),
                           QStringLiteral("zs01")));
    const auto times = ReadRows(QStringLiteral("select [lasttime] from [client]"));
    EXPECT_EQ(times[0][0], PollTime());
    EXPECT_EQ(m_notifier.AlertTexts(),
              QStringList{QStringLiteral("新客户[张三]\r\nIP:%1\r\n来自:%2\r\n访问[shopFirst]的网店\r\n商品:ShopA")
                              .arg(kFeedIp, Region(kFeedIp))});
    EXPECT_EQ(m_notifier.StatusTextsOnly(),
              (QStringList{QStringLiteral("正在刷新[shopFirst]的店铺......"),
                           QStringLiteral("顾客[张三]在 %1 访问了[shopFirst]的网店!").arg(PollTime())}));
    EXPECT_EQ(m_bridge.Refills(), 1);
}

TEST_F(RefreshShopTest, SecondAndThirdNewGetPlaceholdersAndTheAlertNamesTheFirst)
{
    ASSERT_TRUE(SetItemTitle(*s_service, 8, QStringLiteral("Blue Shirt -Lumo网")));
    const QString webId = Account(QStringLiteral("shopThree"));
    const QString im = QStringLiteral("hiThree");
    ListVisitors(im, {{QStringLiteral("first"), QStringLiteral("f1")}});
    RefreshShop(webId, QStringLiteral("shopThree"), im, QString(), false);
    ASSERT_EQ(ReadRows(kClientColumns).size(), 1u);
    m_notifier.Clear();

    ASSERT_TRUE(s_service->RecordPageView(webId, kFeedIp, ItemUrl(8)));
    ListVisitors(im, {{QStringLiteral("first"), QStringLiteral("f1")},
                      {QStringLiteral("second"), QStringLiteral("s2")},
                      {QStringLiteral("third"), QStringLiteral("t3")}});
    m_clock.Advance(60 * 1000);
    RefreshShop(webId, QStringLiteral("shopThree"), im, QString(), false);

    const auto rows = ReadRows(kClientColumns);
    ASSERT_EQ(rows.size(), 3u);
    const QString noRegion = QStringLiteral("未知区域");
    const QString noLink = QStringLiteral("未知链接");
    // Last entry first.
    EXPECT_EQ(rows[1], Row(QStringLiteral("third"), QStringLiteral("0.0.0.0"), QStringLiteral("shopThree"), noRegion,
                           noLink, QStringLiteral("t3")));
    EXPECT_EQ(rows[2], Row(QStringLiteral("second"), QStringLiteral("0.0.0.0"), QStringLiteral("shopThree"), noRegion,
                           noLink, QStringLiteral("s2")));
    EXPECT_EQ(m_notifier.AlertTexts(),
              QStringList{QStringLiteral("新客户[first]\r\nIP:%1\r\n来自:%2\r\n访问[shopThree]的网店\r\n商品:BlueShirt")
                              .arg(kFeedIp, Region(kFeedIp))});
    EXPECT_EQ(m_notifier.StatusTextsOnly().last(),
              QStringLiteral("顾客[first]在 %1 访问了[shopThree]的网店!").arg(PollTime()));
    EXPECT_EQ(m_bridge.Refills(), 2);
}

TEST_F(RefreshShopTest, SameNameIsRecordedOncePerShop)
{
    const QString webA = Account(QStringLiteral("shopA"));
    const QString webB = Account(QStringLiteral("shopB"));
    ListVisitors(QStringLiteral("hiA"), {{QStringLiteral("wanderer"), QStringLiteral("w1")}});
    ListVisitors(QStringLiteral("hiB"), {{QStringLiteral("wanderer"), QStringLiteral("w1")}});
    for (int round = 0; round < 2; ++round) {
        RefreshShop(webA, QStringLiteral("shopA"), QStringLiteral("hiA"), QString(), false);
        RefreshShop(webB, QStringLiteral("shopB"), QStringLiteral("hiB"), QString(), false);
    }
    const auto rows = ReadRows(QStringLiteral("select [guestname], [shopname] from [client] order by [id]"));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (QStringList{QStringLiteral("wanderer"), QStringLiteral("shopA")}));
    EXPECT_EQ(rows[1], (QStringList{QStringLiteral("wanderer"), QStringLiteral("shopB")}));
    // The second round finds nobody new; with no feed there is no guest alert either.
    EXPECT_EQ(m_notifier.AlertTexts().size(), 2);
    EXPECT_EQ(m_notifier.StatusTextsOnly().last(), QStringLiteral("%1 [shopB]的网店无新登陆客户!").arg(PollTime()));
}

TEST_F(RefreshShopTest, NameWithQuoteIsStoredAndFoundAgain)
{
    const QString webId = Account(QStringLiteral("shop'q"));
    ListVisitors(QStringLiteral("hiQ"), {{QStringLiteral("o'brien"), QStringLiteral("ob")}});
    RefreshShop(webId, QStringLiteral("shop'q"), QStringLiteral("hiQ"), QStringLiteral("it's me"), true);
    RefreshShop(webId, QStringLiteral("shop'q"), QStringLiteral("hiQ"), QStringLiteral("it's me"), true);
    const auto rows = ReadRows(QStringLiteral("select [guestname], [shopname] from [client]"));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], (QStringList{QStringLiteral("o'brien"), QStringLiteral("shop'q")}));
}

struct GreetCase
{
    bool autoGreet;
    bool greetingRunning;
    int queued;      // rows, the last page entry first
    int budget = -1; // the daily greeting budget; -1: off
};

class RefreshShopGreeting : public RefreshShopTest, public ::testing::WithParamInterface<GreetCase>
{
};

TEST_P(RefreshShopGreeting, QueuesOnlyWhenTheAccountGreetsAndTheSenderRuns)
{
    const GreetCase c = GetParam();
    LiveSettings().greetingRunning.store(c.greetingRunning ? 1 : 0);
    const QString webId = Account(QStringLiteral("shopG"));
    ListVisitors(QStringLiteral("hiG"),
                 {{QStringLiteral("g1"), QStringLiteral("i1")}, {QStringLiteral("g2"), QStringLiteral("i2")}});
    const QString greeting = QStringLiteral("您好 [客户], 欢迎光临 '小店'");
    PublishAdvancedSettings({.dailyBudget = c.budget >= 0, .budget = c.budget});
    RefreshShop(webId, QStringLiteral("shopG"), QStringLiteral("hiG"), greeting, c.autoGreet);
    PublishAdvancedSettings({});

    EXPECT_EQ(ReadRows(kClientColumns).size(), 2u);
    const auto queued = ReadRows(QStringLiteral("select * from [AutoSend]"));
    ASSERT_EQ(queued.size(), static_cast<size_t>(c.queued));
    for (int i = 0; i < c.queued; ++i)
        EXPECT_EQ(queued[i], (QStringList{i == 0 ? QStringLiteral("g2") : QStringLiteral("g1"), QStringLiteral("shopG"),
                                          greeting}));
    // A spent budget is told in the status bar, after the poll's own text.
    EXPECT_EQ(m_notifier.StatusTextsOnly().constLast(),
              c.budget >= 0 ? CGreetingPolicy::BudgetNoticeText(QStringLiteral("shopG"), c.budget)
                            : QStringLiteral("顾客[g1]在 %1 访问了[shopG]的网店!").arg(PollTime()));
}

INSTANTIATE_TEST_SUITE_P(Cases, RefreshShopGreeting,
                         ::testing::Values(GreetCase{true, true, 2}, GreetCase{true, false, 0},
                                           GreetCase{false, true, 0}, GreetCase{false, false, 0},
                                           GreetCase{true, true, 1, 1}));

struct FeedCase
{
    const char* what;
    QString ip;
    QString url;
    QString storedIp;
    bool regionLooked;
    QString storedUrl; // empty: the URL as recorded
};

class RefreshShopFeed : public RefreshShopTest, public ::testing::WithParamInterface<FeedCase>
{
};

TEST_P(RefreshShopFeed, StoresTheFeedOrItsPlaceholders)
{
    const FeedCase& c = GetParam();
    const QString url = c.url == QStringLiteral("item") ? ItemUrl(3) : c.url;
    const QString webId = Account(QStringLiteral("shopF"), c.ip, url);
    ListVisitors(QStringLiteral("hiF"), {{QStringLiteral("feedy"), QStringLiteral("fd")}});
    RefreshShop(webId, QStringLiteral("shopF"), QStringLiteral("hiF"), QString(), false);

    const auto rows = ReadRows(kClientColumns);
    ASSERT_EQ(rows.size(), 1u) << c.what;
    EXPECT_EQ(rows[0][1], c.storedIp) << c.what;
    EXPECT_EQ(rows[0][4], c.regionLooked ? Region(c.storedIp) : QStringLiteral("未知区域")) << c.what;
    EXPECT_EQ(rows[0][5], c.storedUrl.isEmpty() ? url : c.storedUrl) << c.what;

    // Given instead of fetched (the wake-up's newest record), the same values are stored alike.
    ListVisitors(QStringLiteral("hiW"), {{QStringLiteral("feedy"), QStringLiteral("fd")}});
    RefreshShopWithFeed(QStringLiteral("shopW"), QStringLiteral("hiW"), QString(), false, c.ip, url);
    QStringList expected = rows[0];
    expected[2] = QStringLiteral("shopW");
    EXPECT_EQ(ReadRows(kClientColumns).back(), expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefreshShopFeed,
    ::testing::Values(FeedCase{"usable feed", kFeedIp, "item", kFeedIp, true, {}},
                      FeedCase{"five-character IP kept without region", "1.2.3", "item", "1.2.3", false, {}},
                      FeedCase{"four-character IP kept without region", "1.23", "item", "1.23", false, {}},
                      FeedCase{"empty IP", "", "item", "0,0,0,0", false, {}},
                      FeedCase{"three-character IP", "1.2", "item", "0,0,0,0", false, {}},
                      FeedCase{"item address of exactly 20 characters kept without region",
                               kFeedIp,
                               "http://127.0.0.1:1/x",
                               kFeedIp,
                               false,
                               {}},
                      FeedCase{"short item address", kFeedIp, "http://a/b", kFeedIp, false, "未知链接"},
                      FeedCase{"no page view at all", QString(), QString(), "0,0,0,0", false, "未知链接"}),
    [](const ::testing::TestParamInfo<FeedCase>& info) { return std::to_string(info.index); });

TEST_F(RefreshShopTest, GuestAlertOncePerAddressWithinTheRetention)
{
    ASSERT_TRUE(SetItemTitle(*s_service, 4, QStringLiteral("Lamp")));
    const QString webId = Account(QStringLiteral("shopGuest"), kFeedIp, ItemUrl(4));
    ListVisitors(QStringLiteral("hiGuest"), {{QStringLiteral("regular"), QStringLiteral("r1")}});
    RefreshShop(webId, QStringLiteral("shopGuest"), QStringLiteral("hiGuest"), QString(), false);
    m_notifier.Clear();

    const QString guestAlert = QStringLiteral("有游客访问[shopGuest]的网店!\r\nIP:%1\r\n来自:%2\r\n查看了您的:Lamp")
                                   .arg(kFeedIp, Region(kFeedIp));
    RefreshShop(webId, QStringLiteral("shopGuest"), QStringLiteral("hiGuest"), QString(), false);
    EXPECT_EQ(m_notifier.AlertTexts(), QStringList{guestAlert});
    EXPECT_EQ(m_notifier.StatusTextsOnly().last(), QStringLiteral("%1 [shopGuest]的网店无新登陆客户!").arg(PollTime()));

    // Seen again every half hour: remembered.
    for (int i = 0; i < 3; ++i) {
        m_clock.Advance(30 * 60 * 1000);
        theSessionMan.Expire();
        RefreshShop(webId, QStringLiteral("shopGuest"), QStringLiteral("hiGuest"), QString(), false);
    }
    EXPECT_EQ(m_notifier.AlertTexts().size(), 1);
    // Absent for longer than the retention: announced again.
    m_clock.Advance(61 * 60 * 1000);
    theSessionMan.Expire();
    RefreshShop(webId, QStringLiteral("shopGuest"), QStringLiteral("hiGuest"), QString(), false);
    EXPECT_EQ(m_notifier.AlertTexts(), (QStringList{guestAlert, guestAlert}));
    EXPECT_EQ(m_bridge.Refills(), 1);

    // An IPv6 shopper is remembered by its own address and announced with its region.
    ASSERT_TRUE(s_service->RecordPageView(webId, QStringLiteral("2408:8207::1"), ItemUrl(4)));
    RefreshShop(webId, QStringLiteral("shopGuest"), QStringLiteral("hiGuest"), QString(), false);
    RefreshShop(webId, QStringLiteral("shopGuest"), QStringLiteral("hiGuest"), QString(), false);
    EXPECT_EQ(
        m_notifier.AlertTexts(),
        (QStringList{guestAlert, guestAlert,
                     QStringLiteral(
                         "有游客访问[shopGuest]的网店!\r\nIP:2408:8207::1\r\n来自:北京 中国联通\r\n查看了您的:Lamp")}));
}

TEST_F(RefreshShopTest, GuestAlertTakesTheIpPlaceholderAndObeysItsSwitch)
{
    const QString webId = Account(QStringLiteral("shopNoIp"), QString(), ItemUrl(6));
    ListVisitors(QStringLiteral("hiNoIp"), {{QStringLiteral("known"), QStringLiteral("k1")}});
    RefreshShop(webId, QStringLiteral("shopNoIp"), QStringLiteral("hiNoIp"), QString(), false);
    m_notifier.Clear();

    LiveSettings().guesttip.store(0);
    RefreshShop(webId, QStringLiteral("shopNoIp"), QStringLiteral("hiNoIp"), QString(), false);
    EXPECT_TRUE(m_notifier.AlertTexts().isEmpty());

    LiveSettings().guesttip.store(1);
    RefreshShop(webId, QStringLiteral("shopNoIp"), QStringLiteral("hiNoIp"), QString(), false);
    ASSERT_EQ(m_notifier.AlertTexts().size(), 1);
    EXPECT_TRUE(m_notifier.AlertTexts()[0].startsWith(
        QStringLiteral("有游客访问[shopNoIp]的网店!\r\nIP:0,0,0,0\r\n来自:未知区域\r\n")))
        << m_notifier.AlertTexts()[0].toStdString();
}

TEST_F(RefreshShopTest, NewCustomerAlertObeysItsSwitch)
{
    LiveSettings().clienttip.store(0);
    const QString webId = Account(QStringLiteral("shopQuiet"), kFeedIp, ItemUrl(2));
    ListVisitors(QStringLiteral("hiQuiet"), {{QStringLiteral("quiet"), QStringLiteral("q1")}});
    RefreshShop(webId, QStringLiteral("shopQuiet"), QStringLiteral("hiQuiet"), QString(), false);
    EXPECT_EQ(ReadRows(kClientColumns).size(), 1u);
    EXPECT_TRUE(m_notifier.AlertTexts().isEmpty());
    EXPECT_EQ(m_bridge.Refills(), 1);
    EXPECT_EQ(m_notifier.StatusTextsOnly().last(),
              QStringLiteral("顾客[quiet]在 %1 访问了[shopQuiet]的网店!").arg(PollTime()));
}

TEST_F(RefreshShopTest, QuietHoursRecordSilentlyAndTheNextPollAfterwardsSumsUp)
{
    const QTime now = QDateTime::fromMSecsSinceEpoch(m_clock.NowMs()).time();
    const int minute = now.hour() * 60 + now.minute();
    PublishAdvancedSettings({.quietHours = true, .quietFrom = minute, .quietTo = (minute + 60) % (24 * 60)});
    const QString webId = Account(QStringLiteral("shopNight"), kFeedIp, ItemUrl(3));
    ListVisitors(QStringLiteral("hiNight"), {{QStringLiteral("night"), QStringLiteral("n1")}});
    RefreshShop(webId, QStringLiteral("shopNight"), QStringLiteral("hiNight"), QString(), false);
    EXPECT_EQ(ReadRows(kClientColumns).size(), 1u);
    EXPECT_TRUE(m_notifier.AlertTexts().isEmpty());
    m_clock.Advance(2 * 3600 * 1000);
    RefreshShop(webId, QStringLiteral("shopNight"), QStringLiteral("hiNight"), QString(), false);
    PublishAdvancedSettings({});
    EXPECT_EQ(m_notifier.AlertTexts().value(0), CAlertPolicy::QuietSummaryText(1));
}

TEST_F(RefreshShopTest, LongNameAndMissingImIdAreIgnored)
{
    const QString webId = Account(QStringLiteral("shopOdd"), kFeedIp, ItemUrl(1));
    ListVisitors(QStringLiteral("hiOdd"),
                 {{QString(51, QLatin1Char('x')), QStringLiteral("long")}, {QStringLiteral("noid"), QString()}});
    RefreshShop(webId, QStringLiteral("shopOdd"), QStringLiteral("hiOdd"), QString(), false);
    EXPECT_TRUE(ReadRows(kClientColumns).empty());
    EXPECT_TRUE(m_notifier.AlertTexts().isEmpty());
    // The page listed nobody usable: the poll ends after its first status.
    EXPECT_EQ(m_notifier.StatusTextsOnly(), QStringList{QStringLiteral("正在刷新[shopOdd]的店铺......")});

    ListVisitors(QStringLiteral("hiOdd"), {{QString(50, QLatin1Char('x')), QStringLiteral("fifty")}});
    RefreshShop(webId, QStringLiteral("shopOdd"), QStringLiteral("hiOdd"), QString(), false);
    const auto rows = ReadRows(kClientColumns);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], QString(50, QLatin1Char('x')));
}

TEST_F(RefreshShopTest, UnreachableFeedStillRecordsNamedVisitors)
{
    const QString webId = Account(QStringLiteral("shopNoFeed"), kFeedIp, ItemUrl(1));
    ListVisitors(QStringLiteral("hiNoFeed"), {{QStringLiteral("named"), QStringLiteral("n1")}});
    CEndpoints endpoints = s_service->MakeEndpoints();
    endpoints.trackingBase = QStringLiteral("http://127.0.0.1:1");
    SetEndpoints(endpoints);
    RefreshShop(webId, QStringLiteral("shopNoFeed"), QStringLiteral("hiNoFeed"), QString(), false);
    const auto rows = ReadRows(kClientColumns);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], Row(QStringLiteral("named"), QStringLiteral("0,0,0,0"), QStringLiteral("shopNoFeed"),
                           QStringLiteral("未知区域"), QStringLiteral("未知链接"), QStringLiteral("n1")));
    EXPECT_EQ(m_notifier.AlertTexts(),
              QStringList{QStringLiteral(
                  "新客户[named]\r\nIP:0,0,0,0\r\n来自:未知区域\r\n访问[shopNoFeed]的网店\r\n商品:<NULL>")});
}

TEST_F(RefreshShopTest, UnreachableProfilePageRecordsNothing)
{
    const QString webId = Account(QStringLiteral("shopNoIm"), kFeedIp, ItemUrl(1));
    ListVisitors(QStringLiteral("hiNoIm"), {{QStringLiteral("hidden"), QStringLiteral("h1")}});
    CEndpoints endpoints = s_service->MakeEndpoints();
    endpoints.imProfileBase = QStringLiteral("http://127.0.0.1:1");
    SetEndpoints(endpoints);
    RefreshShop(webId, QStringLiteral("shopNoIm"), QStringLiteral("hiNoIm"), QString(), false);
    EXPECT_TRUE(ReadRows(kClientColumns).empty());
    EXPECT_TRUE(m_notifier.AlertTexts().isEmpty());
    EXPECT_EQ(m_notifier.StatusTextsOnly(), QStringList{QStringLiteral("正在刷新[shopNoIm]的店铺......")});
    EXPECT_EQ(m_bridge.Refills(), 0);
}

TEST_F(RefreshShopTest, WithoutIpReaderTheRegionIsNotFound)
{
    CRecordingBridge bridge(nullptr);
    const QString webId = Account(QStringLiteral("shopNoReader"), kFeedIp, ItemUrl(1));
    ListVisitors(QStringLiteral("hiNoReader"), {{QStringLiteral("r"), QStringLiteral("r1")}});
    RefreshShop(webId, QStringLiteral("shopNoReader"), QStringLiteral("hiNoReader"), QString(), false);
    const auto rows = ReadRows(kClientColumns);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][4], QStringLiteral("没有查到相关信息"));
    EXPECT_EQ(bridge.Refills(), 1);
}

TEST(FetchProfileVisitors, ReadsTheLocalServicePageInOrder)
{
    CLocalService service;
    ASSERT_TRUE(service.Start()) << service.Error().toStdString();
    service.ApplyEndpoints();
    ASSERT_TRUE(AddImVisitor(service, QStringLiteral("王五的Hi"), QStringLiteral("c\"q"), QStringLiteral("id.3")));
    ASSERT_TRUE(AddImVisitor(service, QStringLiteral("王五的Hi"), QStringLiteral("b 100%"), QStringLiteral("id2")));
    ASSERT_TRUE(AddImVisitor(service, QStringLiteral("王五的Hi"), QStringLiteral("阿A"), QStringLiteral("id1")));
    QStringList names{QStringLiteral("stale")}, ids{QStringLiteral("stale")};
    FetchProfileVisitors(QStringLiteral("王五的Hi"), names, ids);
    EXPECT_EQ(names, (QStringList{QStringLiteral("阿A"), QStringLiteral("b 100%"), QStringLiteral("c\"q")}));
    EXPECT_EQ(ids, (QStringList{QStringLiteral("id1"), QStringLiteral("id2"), QStringLiteral("id.3")}));

    FetchProfileVisitors(QStringLiteral("nobody"), names, ids);
    EXPECT_TRUE(names.isEmpty());
    EXPECT_TRUE(ids.isEmpty());
}

} // namespace

// A visit the store refuses, or whose queued greeting it refuses (the two go in
// together), is neither recorded, announced nor greeted; it stays new, and the
// next poll records, announces and greets it once.
TEST_F(RefreshShopTest, VisitNotRecordedIsNotAnnouncedAndTheNextPollRecordsIt)
{
    LiveSettings().greetingRunning.store(1);
    for (const QString& table : {QStringLiteral("client"), QStringLiteral("AutoSend")}) {
        const QString shop = QStringLiteral("shopLocked") + table;
        const QString im = QStringLiteral("hiLocked") + table;
        const QString webId = Account(shop, kFeedIp, ItemUrl(6));
        ListVisitors(im, {{QStringLiteral("锁客"), QStringLiteral("lk01")}});
        const int alerts = m_notifier.AlertTexts().size();
        ASSERT_TRUE(g_pConnection->Execute(
            QStringLiteral(
                "create trigger [refuse] before insert on [%1] begin select raise(fail, 'store refuses'); end")
                .arg(table)));
        RefreshShop(webId, shop, im, QStringLiteral("hi"), true);
        const QString visits = QStringLiteral("select [guestname] from [client] where [shopname] = '%1'").arg(shop);
        const QString queued = QStringLiteral("select [ClientName] from [AutoSend] where [UserName] = '%1'").arg(shop);
        EXPECT_TRUE(ReadRows(visits).empty()) << qPrintable(table);
        EXPECT_TRUE(ReadRows(queued).empty()) << qPrintable(table);
        EXPECT_EQ(m_notifier.AlertTexts().size(), alerts) << qPrintable(table);

        ASSERT_TRUE(g_pConnection->Execute(QStringLiteral("drop trigger [refuse]")));
        RefreshShop(webId, shop, im, QStringLiteral("hi"), true);
        EXPECT_EQ(ReadRows(visits), std::vector<QStringList>{{QStringLiteral("锁客")}}) << qPrintable(table);
        EXPECT_EQ(ReadRows(queued).size(), 1u) << qPrintable(table);
        EXPECT_EQ(m_notifier.AlertTexts().size(), alerts + 1) << qPrintable(table);
    }
    EXPECT_EQ(m_bridge.Refills(), 2);
}

// The wake-up on real time: views while the program runs and while it is stopped are each kept
// once, and each guest's view alerts once, whatever the interval.
TEST_F(RefreshShopTest, WokenPollsKeepEveryViewOnceAcrossARestart)
{
    SetClock(nullptr);
    const QString webId = Account(QStringLiteral("醒店"));
    ListVisitors(QStringLiteral("醒hi"), {{QStringLiteral("老客"), QStringLiteral("w1")}});
    ASSERT_TRUE(g_pConnection->Execute(
        QStringLiteral("insert into [user] ([username],[usersmailname],[password],[webid],[messageinfo],[autosend]) "
                       "values ('醒店','醒hi','pw','%1','hi',0)")
            .arg(webId)));
    RefreshShop(webId, QStringLiteral("醒店"), QStringLiteral("醒hi"), QStringLiteral("hi"), false);
    LiveSettings().reflashtime.store(1000);
    const QString kept = QStringLiteral("select [seq], [ip], [city] from [pageview] order by [seq]");
    for (const int restart : {0, 1}) {
        CMonitorClientThread thread;
        thread.start();
        // The first start goes on from the service's number; the second asks for what came meanwhile.
        ASSERT_TRUE(WaitUntil([] { return HearingInRealTime(); })) << restart;
        for (int view = 1; view <= 3 && restart == 0; ++view)
            ASSERT_TRUE(s_service->RecordPageView(webId, QStringLiteral("61.135.9.%1").arg(view), ItemUrl(1)));
        EXPECT_TRUE(WaitUntil([&] { return ReadRows(kept).size() == 3u * (restart + 1); })) << restart;
        thread.m_stop.store(1);
        ASSERT_TRUE(thread.wait(20000));
        for (int view = 4; view <= 6 && restart == 0; ++view)
            ASSERT_TRUE(s_service->RecordPageView(webId, QStringLiteral("61.135.9.%1").arg(view), ItemUrl(1)));
    }
    const std::vector<QStringList> rows = ReadRows(kept);
    ASSERT_EQ(rows.size(), 6u);
    for (int view = 1; view <= 6; ++view) {
        const QString ip = QStringLiteral("61.135.9.%1").arg(view);
        EXPECT_EQ(rows[view - 1], (QStringList{QString::number(view), ip, Region(ip)}));
        EXPECT_EQ(m_notifier.AlertTexts().filter(QStringLiteral("IP:%1\r\n").arg(ip)).size(), 1) << view;
    }
    EXPECT_EQ(ReadRows(QStringLiteral("select [viewseq] from [user]")), std::vector<QStringList>{{"6"}});
    LiveSettings().reflashtime.store(30);
    SetClock(&m_clock);
}
