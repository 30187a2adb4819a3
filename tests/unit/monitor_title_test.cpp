// LookupItemTitle against item pages served on loopback.
#include "monitor/ItemTitle.h"
#include "net/WebAddress.h"
#include "net/WinHttpEx.h"
#include "platform/Endpoints.h"
#include "platform/TextCodec.h"

#include "support/LocalService.h"
#include "support/TestMain.h"

#include <atomic>

namespace {

class ItemTitleTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_server.Server().Get(R"(/page/(\d+))", [this](const httplib::Request& req, httplib::Response& res) {
            m_requests.fetch_add(1);
            const int n = std::stoi(req.matches[1]);
            const char* pages[] = {
                "<html><head><title>首页-Shop A - Lumo网</title></head></html>",
                "<HTML><HEAD><TITLE>Shop</TITLE></HEAD></HTML>",
                "<html><title></title></html>",
            };
            const QByteArray gbk = UnicodeToAnsi(QString::fromUtf8(pages[n]));
            res.set_content(gbk.toStdString(), "text/html; charset=GBK");
        });
        m_server.Server().Get("/broken", [this](const httplib::Request&, httplib::Response& res) {
            m_requests.fetch_add(1);
            res.status = 500;
            res.set_content("<title>error page</title>", "text/html");
        });
        // Another service on the same machine, which no endpoint names.
        m_other.Server().Get("/page/0", [this](const httplib::Request&, httplib::Response& res) {
            m_otherRequests.fetch_add(1);
            res.set_content("<title>other</title>", "text/html");
        });
        m_server.Server().Get("/to/other", [this](const httplib::Request&, httplib::Response& res) {
            res.set_redirect(m_other.Base().toStdString() + "/page/0");
        });
        m_server.Server().Get("/to/own", [this](const httplib::Request&, httplib::Response& res) {
            res.set_redirect(m_server.Base().toStdString() + "/page/0");
        });
        ASSERT_TRUE(m_server.Start());
        ASSERT_TRUE(m_other.Start());
        m_saved = Endpoints();
        CEndpoints here;
        here.trackingBase = here.imProfileBase = here.imPortraitBase = here.imPresenceBase = here.imImageBase =
            m_server.Base();
        SetEndpoints(here);
    }
    void TearDown() override { SetEndpoints(m_saved); }

    CTestHttpServer m_server;
    CTestHttpServer m_other;
    std::atomic<int> m_requests{0};
    std::atomic<int> m_otherRequests{0};
    CEndpoints m_saved;
};

TEST_F(ItemTitleTest, FetchesAndCleansTheTitle)
{
    EXPECT_EQ(LookupItemTitle(m_server.Base() + QStringLiteral("/page/0")), QStringLiteral("ShopA"));
    EXPECT_EQ(LookupItemTitle(m_server.Base() + QStringLiteral("/page/1")), QStringLiteral("<NULL>"));
    EXPECT_EQ(LookupItemTitle(m_server.Base() + QStringLiteral("/page/2")), QString());
    EXPECT_EQ(m_requests.load(), 3);
}

TEST_F(ItemTitleTest, AFailedFetchIsTriedOnce)
{
    EXPECT_EQ(LookupItemTitle(m_server.Base() + QStringLiteral("/broken")), QStringLiteral("<NULL>"));
    EXPECT_EQ(m_requests.load(), 1);
}

// Which item addresses may be opened (http/https by QUrl, any case) and which
// the automatic title fetch may ask (no internal host but on the configured origins).
struct SAddressCase
{
    const char* address;
    bool web;
    bool fetchedWithLoopbackConfigured;
    bool fetchedWithOtherHostConfigured;
};

const SAddressCase kAddressCases[] = {
    {"http://shop.example/item/1", true, true, true},
    {"HTTPS://Shop.Example/item/1", true, true, true},
    {"file:///etc/passwd", false, false, false},
    {"smb://host/x", false, false, false},
    {"javascript:alert(1)", false, false, false},
    {"smb://x#http://", false, false, false},
    {"shop.example/item/1", false, false, false},
    {"http://127.0.0.1:8781/item/7", true, true, false},
    {"HTTP://127.0.0.1:8781/item/7", true, true, false},
    {"http://127.0.0.1:8780/admin/reset", true, false, false},
    {"http://127.0.0.1:5432/", true, false, false},
    {"http://127.0.0.1:631/admin", true, false, false},
    {"http://127.0.0.1/item/7", true, false, false},
    {"https://127.0.0.1:8781/item/7", true, false, false},
    {"http://localhost:8781/item/7", true, false, false},
    {"http://[::ffff:127.0.0.1]:8781/x", true, false, false},
    {"http://169.254.169.254/latest/meta-data", true, false, false},
    {"http://172.20.0.1/", true, false, false},
    {"http://[fe80::1]/", true, false, false},
    {"http://172.32.0.1/", true, true, true},
    {"http://shop-service.example:9000/x", true, true, true},
};

TEST(ItemAddressTest, FilterAndFetchGuard)
{
    const QStringList loopback{QStringLiteral("http://127.0.0.1:8781")};
    const QStringList other{QStringLiteral("http://shop-service.example:80")};
    for (const SAddressCase& c : kAddressCases) {
        const QString address = QString::fromLatin1(c.address);
        EXPECT_EQ(IsWebAddress(address), c.web) << c.address;
        EXPECT_EQ(MayFetchTitle(address, loopback), c.fetchedWithLoopbackConfigured) << c.address;
        EXPECT_EQ(MayFetchTitle(address, other), c.fetchedWithOtherHostConfigured) << c.address;
    }
}

TEST_F(ItemTitleTest, LoopbackIsAskedOnlyOnAConfiguredEndpointsOrigin)
{
    // The configured service itself (the local stand-in): the page is asked,
    // also through a redirect that stays on it.
    EXPECT_EQ(LookupItemTitle(m_server.Base() + QStringLiteral("/page/0")), QStringLiteral("ShopA"));
    EXPECT_EQ(LookupItemTitle(m_server.Base() + QStringLiteral("/to/own")), QStringLiteral("ShopA"));
    EXPECT_EQ(m_requests.load(), 2);
    // Another port of the same machine, directly or by a redirect from the service.
    EXPECT_EQ(LookupItemTitle(m_other.Base() + QStringLiteral("/page/0")), QStringLiteral("<NULL>"));
    EXPECT_EQ(LookupItemTitle(m_server.Base() + QStringLiteral("/to/other")), QStringLiteral("<NULL>"));
    EXPECT_EQ(m_otherRequests.load(), 0);

    CEndpoints elsewhere;
    elsewhere.trackingBase = elsewhere.imProfileBase = elsewhere.imPortraitBase = elsewhere.imPresenceBase =
        elsewhere.imMessagePage = elsewhere.imImageBase = elsewhere.makerSite = QStringLiteral("http://a.example");
    SetEndpoints(elsewhere);
    EXPECT_EQ(LookupItemTitle(m_server.Base() + QStringLiteral("/page/0")), QStringLiteral("<NULL>"));
    EXPECT_EQ(m_requests.load(), 2);

    // Whatever name led there, the connection itself is refused.
    CWinHttpEx http;
    http.RefuseInternalHosts(true);
    QByteArray body;
    EXPECT_FALSE(http.Get(m_server.Base() + QStringLiteral("/page/0"), body));
    EXPECT_EQ(m_requests.load(), 2);
}

} // namespace
