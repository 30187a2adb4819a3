// rivuzovara as the desktop program and a shopper's browser meet it: the
// protocol table, the account commands and the WaitInfo wake-up, on SQLite
// and on PostgreSQL (a throwaway server, a database for each case), and two
// servers on one PostgreSQL waking each other.
#include "RivuzovaraProcess.h"
#include "support/PgCluster.h"
#include "support/TestMain.h"

#include <gtest/gtest.h>

#include <future>
#include <regex>
#include <thread>

namespace {

const std::string kBase = "/rivuzovara/";

// One cluster for the whole executable; each case gets a schema of its own.
CPgCluster& ProtocolCluster()
{
    static CPgCluster s_cluster;
    return s_cluster;
}

std::string FreshPgDatabase()
{
    CPgCluster& s_cluster = ProtocolCluster();
    static int s_schemas = 0;
    QString why;
    if (!s_cluster.IsRunning() && !s_cluster.Start(&why))
        return "(no PostgreSQL: " + why.toStdString() + ")";
    const QString name = QStringLiteral("protocol%1").arg(++s_schemas);
    if (!s_cluster.Query("create schema " + name, nullptr, &why))
        return "(no schema: " + why.toStdString() + ")";
    const QString url = s_cluster.Url();
    return (url + (url.contains('?') ? "&" : "?") + "options=-csearch_path%3D" + name).toStdString();
}

std::string StoreFor(const std::string& kind)
{
    return kind == "postgresql" ? FreshPgDatabase() : std::string();
}

class ServerProtocolTest : public ::testing::TestWithParam<std::string>
{
protected:
    ServerProtocolTest() : m_server(StoreFor(GetParam())) {}
    void SetUp() override
    {
        ASSERT_EQ(m_server.Account({"add", "shop-a", "pw a&1"}, &m_added), 0);
        ASSERT_EQ(m_server.Account({"add", "店铺乙", "pw2"}), 0);
        ASSERT_TRUE(m_server.Start({"--test-wait-seconds", "3", "--per-client-limit", "0"})) << m_server.Log();
        m_webId = m_added.substr(4, m_added.find('\n') - 4);
    }
    std::string Reply(const std::string& pathAndQuery, const httplib::Headers& headers = {})
    {
        std::string body;
        const int status = m_server.Get(pathAndQuery, &body, headers);
        return std::to_string(status) + " " + FromGbk(body);
    }
    void View(const std::string& referer)
    {
        ASSERT_EQ(Reply(kBase + "shop.asp?id=" + m_webId, {{"Referer", referer}}).substr(0, 4), "200 ");
    }

    CRivuzovaraProcess m_server;
    std::string m_added;
    std::string m_webId;
};

TEST_P(ServerProtocolTest, AnswersEachCallAsTheDesktopProgramReadsIt)
{
    EXPECT_EQ(m_added.substr(0, 4), "+OK ");
    struct SCase
    {
        std::string pathAndQuery;
        std::string expected; // status and reply, a regular expression
    };
    // 店铺乙 in GBK, as the program sends it.
    const std::string gbkName = "%B5%EA%C6%CC%D2%D2";
    const SCase cases[] = {
        {kBase + "GetWebID.asp?UserName=shop-a&UserPwd=pw%20a%261", "200 \\+OK " + m_webId},
        {kBase + "getwebid.asp?username=shop-a&userpwd=pw%20a%261", "200 \\+OK " + m_webId},
        {kBase + "GetWebID.asp?UserName=shop-a&UserPwd=wrong", "200 -ERR 用户名或防监视密码错误"},
        {kBase + "GetWebID.asp?UserName=" + gbkName + "&UserPwd=pw2", "200 \\+OK [0-9]+"},
        {kBase + "SaveImName.asp?UserName=" + gbkName + "&UserPwd=pw2&UserImName=%D2%D2", "200 \\+OK"},
        {kBase + "SaveImName.asp?UserName=shop-a&UserPwd=no&UserImName=x", "200 -ERR 用户名或防监视密码错误"},
        {kBase + "GetUserState.asp?UserName=shop-a", "200 \\+OK"},
        {kBase + "GetUserState.asp?UserName=nobody", "200 \\+OK"},
        {kBase + "GetInfo.asp?userID=" + m_webId, "200 \\|##\\|"},
        {kBase + "GetInfo.asp?userID=abc", "200 \\|##\\|"},
        {kBase + "WaitInfo.asp?userID=" + m_webId + "&after=", "200 \\+OK 0"},
        {kBase + "WaitInfo.asp?userID=99999&after=", "200 -ERR"},
        {kBase + "WaitInfo.asp?userID=" + m_webId + "&after=x", "200 -ERR"},
        {kBase + "rivuzovara_help.asp", "200 [^]*使用帮助[^]*"},
        {"/ad.asp", "200 <html>[^]*"},
        {"/admin/ping", "404 [^]*"},
        {"/admin/reset", "404 [^]*"},
        {"/metrics", "200 [^]*rivuzovara_views_recorded_total 0[^]*"},
        {"/healthz", "200 \\+OK\n"},
        {"/nothing.asp", "404 [^]*"},
    };
    for (const auto& c : cases)
        EXPECT_TRUE(std::regex_match(Reply(c.pathAndQuery), std::regex(c.expected)))
            << c.pathAndQuery << " gave " << Reply(c.pathAndQuery);

    ASSERT_EQ(m_server.Account({"freeze", "shop-a"}), 0);
    EXPECT_EQ(Reply(kBase + "GetUserState.asp?UserName=shop-a"), "200 -ERR 账户已被冻结");
    ASSERT_EQ(m_server.Account({"unfreeze", "shop-a"}), 0);
    EXPECT_EQ(Reply(kBase + "GetUserState.asp?UserName=shop-a"), "200 +OK");
}

TEST_P(ServerProtocolTest, TheCountingImageRecordsTheRefererAndTheConnectionsAddress)
{
    std::string gif;
    httplib::Client client("127.0.0.1", m_server.Port());
    const auto result = client.Get((kBase + "shop.asp?id=" + m_webId + "&ip=9.9.9.9&url=http://fake/").c_str(),
                                   {{"Referer", "http://shop.example/item?id=1#a|b"}, {"X-Forwarded-For", "8.8.8.8"}});
    ASSERT_TRUE(result);
    EXPECT_EQ(result->get_header_value("Content-Type"), "image/gif");
    EXPECT_EQ(result->get_header_value("Cache-Control"), "no-store");
    EXPECT_EQ(result->body.substr(0, 6), "GIF89a");
    EXPECT_TRUE(std::regex_match(Reply(kBase + "GetInfo.asp?userID=" + m_webId),
                                 std::regex("200 127\\.0\\.0\\.1#\\|\\|#http://shop\\.example/item\\?id=1%23a%7Cb"
                                            "#\\|\\|#[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:]{8}#\\|\\|#\\|##\\|")));
    // A snippet of an unknown shop still loads, and records nothing.
    for (const std::string query : {"?id=123", "", "?id=-1"}) {
        EXPECT_EQ(m_server.Get(kBase + "shop.asp" + query, &gif), 200);
        EXPECT_EQ(gif.substr(0, 6), "GIF89a");
    }
    EXPECT_EQ(Reply(kBase + "WaitInfo.asp?userID=" + m_webId + "&after="), "200 +OK 1");
    // The next view is the latest at once, though the last one was just read.
    ASSERT_TRUE(client.Get((kBase + "shop.asp?id=" + m_webId).c_str(), {{"Referer", "http://shop.example/item2"}}));
    EXPECT_NE(Reply(kBase + "GetInfo.asp?userID=" + m_webId).find("#||#http://shop.example/item2#||#"),
              std::string::npos);
}

TEST_P(ServerProtocolTest, AccountCommands)
{
    std::string output;
    EXPECT_EQ(m_server.Account({"add", "shop-a", "new"}, &output), 0);
    EXPECT_EQ(output, m_added) << "a known name keeps its web ID";
    EXPECT_EQ(Reply(kBase + "GetWebID.asp?UserName=shop-a&UserPwd=new"), "200 +OK " + m_webId);
    EXPECT_EQ(m_server.Account({"list"}, &output), 0);
    EXPECT_TRUE(std::regex_search(output, std::regex("^shop-a\t" + m_webId + "\tactive\t")));
    EXPECT_TRUE(std::regex_search(output, std::regex("\n店铺乙\t[0-9]+\tactive\t\t")));
    const struct
    {
        std::vector<std::string> words;
        int status;
    } cases[] = {
        {{"freeze", "nobody"}, 1}, {{"remove", "nobody"}, 1}, {{"add", "x"}, 2},
        {{"list", "more"}, 2},     {{"rename", "a", "b"}, 2}, {{"remove", "店铺乙"}, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(m_server.Account(c.words), c.status) << c.words[0];
    EXPECT_EQ(m_server.Account({"list"}, &output), 0);
    EXPECT_EQ(output.find("店铺乙"), std::string::npos);
    // "-": the password is the first line of stdin, which ps does not show.
    for (const std::string input : {"from stdin\r\nnot this\n", "\n"})
        EXPECT_EQ(m_server.Account({"add", "shop-a", "-"}, &output, &input), input == "\n" ? 1 : 0) << input;
    EXPECT_EQ(Reply(kBase + "GetWebID.asp?UserName=shop-a&UserPwd=from%20stdin"), "200 +OK " + m_webId);
    EXPECT_EQ(RunCommand(CRivuzovaraProcess::ProgramPath() + " --listen nowhere 2>/dev/null"), 2);
    EXPECT_EQ(RunCommand(CRivuzovaraProcess::ProgramPath() + " --help", &output), 0);
    EXPECT_NE(output.find("account add NAME PASSWORD"), std::string::npos);
    EXPECT_NE(output.find("account add NAME -"), std::string::npos);
}

TEST_P(ServerProtocolTest, WaitInfoWakesOnAViewAndTimesOut)
{
    const std::string wait = kBase + "WaitInfo.asp?userID=" + m_webId + "&after=";
    EXPECT_EQ(Reply(wait + "0"), "200 +OK 0") << "no view within the (shortened) wait";
    auto waiter = std::async(std::launch::async, [&] {
        std::string body;
        m_server.Get(wait + "0", &body);
        return FromGbk(body);
    });
    // The view comes once the request waits.
    for (int i = 0; i < 200 && Reply("/metrics").find("rivuzovara_waiters 1\n") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    View("http://shop.example/1");
    EXPECT_TRUE(
        std::regex_match(waiter.get(), std::regex("\\+OK 1\r\n1#\\|\\|#127\\.0\\.0\\.1#\\|\\|#"
                                                  "http://shop\\.example/1#\\|\\|#[-0-9: ]{19}#\\|\\|#\\|##\\|")));
    for (int i = 2; i <= 130; ++i)
        View("http://shop.example/" + std::to_string(i));
    const std::string first = Reply(wait + "0");
    EXPECT_EQ(first.substr(0, 12), "200 +OK 100\r");
    EXPECT_EQ(std::count(first.begin(), first.end(), '\n'), 100);
    EXPECT_NE(first.find("\r\n100#||#127.0.0.1#||#http://shop.example/100#||#"), std::string::npos);
    const std::string rest = Reply(wait + "100");
    EXPECT_EQ(rest.substr(0, 12), "200 +OK 130\r");
    EXPECT_EQ(std::count(rest.begin(), rest.end(), '\n'), 30);
    EXPECT_EQ(Reply(wait), "200 +OK 130");
}

TEST(ServerPgTest, TwoServersOnOnePostgresqlWakeEachOther)
{
    const std::string store = FreshPgDatabase();
    CRivuzovaraProcess a(store);
    CRivuzovaraProcess b(store);
    std::string added;
    ASSERT_EQ(a.Account({"add", "shop", "pw"}, &added), 0) << store;
    const std::string webId = added.substr(4, added.find('\n') - 4);
    ASSERT_TRUE(a.Start()) << a.Log();
    ASSERT_TRUE(b.Start({"--test-wait-seconds", "20"})) << b.Log();
    auto waiter = std::async(std::launch::async, [&] {
        std::string body;
        b.Get("/rivuzovara/WaitInfo.asp?userID=" + webId + "&after=0", &body);
        return body;
    });
    std::string metrics;
    for (int i = 0; i < 200 && metrics.find("rivuzovara_waiters 1\n") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        b.Get("/metrics", &metrics);
    }
    ASSERT_EQ(a.Get("/rivuzovara/shop.asp?id=" + webId, nullptr, {{"Referer", "http://shop.example/a"}}), 200);
    const std::string woken = waiter.get();
    EXPECT_TRUE(std::regex_match(woken, std::regex("\\+OK 1\r\n1#\\|\\|#127\\.0\\.0\\.1#\\|\\|#"
                                                   "http://shop\\.example/a#[^]*")))
        << woken << "\n"
        << b.Log();
    // The store's sessions cut off between two views (a restart of the database, say): the next view is
    // stored on a new session all the same, and numbered on.
    QString why;
    ASSERT_TRUE(ProtocolCluster().Query("select pg_terminate_backend(pid, 5000) from pg_stat_activity where "
                                        "application_name = 'rivuzovara'",
                                        nullptr, &why))
        << why.toStdString();
    EXPECT_EQ(a.Get("/rivuzovara/shop.asp?id=" + webId, nullptr, {{"Referer", "http://shop.example/b"}}), 200);
    std::string latest;
    EXPECT_EQ(a.Get("/rivuzovara/WaitInfo.asp?userID=" + webId + "&after=", &latest), 200);
    EXPECT_EQ(latest, "+OK 2") << a.Log();
}

INSTANTIATE_TEST_SUITE_P(Stores, ServerProtocolTest, ::testing::Values("sqlite", "postgresql"),
                         [](const auto& info) { return info.param; });

} // namespace
