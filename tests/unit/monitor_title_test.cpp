// LookupItemTitle against item pages served on loopback.
#include "monitor/ItemTitle.h"
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
        ASSERT_TRUE(m_server.Start());
    }

    CTestHttpServer m_server;
    std::atomic<int> m_requests{0};
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

TEST_F(ItemTitleTest, AddressesWithoutHttpAreNotFetched)
{
    const QString secure = m_server.Base().replace(QStringLiteral("http://"), QStringLiteral("https://"));
    for (const QString& address : {QStringLiteral("未知链接"), secure + QStringLiteral("/page/0"),
                                   QStringLiteral("HTTP://127.0.0.1/page/0"), QString()})
        EXPECT_EQ(LookupItemTitle(address), QStringLiteral("<NULL>")) << address.toStdString();
    EXPECT_EQ(m_requests.load(), 0);
}

} // namespace
