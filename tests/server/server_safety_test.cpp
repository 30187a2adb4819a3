// rivuzovara on the open internet: no view lost to a crash, the per-client
// limit, trusted proxies, retention and anonymised addresses, TLS, and
// malformed requests that leave it serving.
#include "RivuzovaraProcess.h"
#include "support/TestMain.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <functional>
#include <regex>
#include <thread>

#include <sys/socket.h>
#include <unistd.h>

namespace {

const std::string kShop = "/rivuzovara/shop.asp?id=";

std::string AddShop(CRivuzovaraProcess& server)
{
    std::string output;
    EXPECT_EQ(server.Account({"add", "shop", "pw"}, &output), 0);
    return output.size() > 5 ? output.substr(4, output.size() - 5) : "0";
}

long long CountViews(const std::string& dataDir, const std::string& where = "1")
{
    sqlite3* db = nullptr;
    long long count = -1;
    if (sqlite3_open((dataDir + "/tracking.db").c_str(), &db) == SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        // The newest views wait in views_new until they move over in a group.
        const std::string sql = "select (select count(*) from views where " + where +
                                ") + (select count(*) from views_new where " + where + ")";
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
            count = sqlite3_column_int64(st, 0);
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return count;
}

std::string LatestIp(CRivuzovaraProcess& server, const std::string& webId)
{
    std::string body;
    server.Get("/rivuzovara/GetInfo.asp?userID=" + webId, &body);
    return body.substr(0, body.find("#||#"));
}

// Polls /metrics until it shows every one of the lines (a bound far beyond what it takes).
bool MetricsShow(const std::function<std::string()>& read, const std::vector<std::string>& lines)
{
    for (int i = 0; i < 500; ++i) {
        const std::string metrics = read();
        if (std::all_of(lines.begin(), lines.end(),
                        [&](const auto& l) { return metrics.find(l) != std::string::npos; }))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

TEST(ServerSafetyTest, ASigkillLosesNoAnsweredView)
{
    CRivuzovaraProcess server;
    const std::string webId = AddShop(server);
    ASSERT_TRUE(server.Start({"--per-client-limit", "0"})) << server.Log();
    std::atomic<long long> answered{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> shoppers;
    for (int i = 0; i < 8; ++i) {
        shoppers.emplace_back([&] {
            httplib::Client client("127.0.0.1", server.Port());
            client.set_keep_alive(true);
            while (!stop) {
                const auto result = client.Get((kShop + webId).c_str());
                if (result && result->status == 200)
                    ++answered;
            }
        });
    }
    // Past 2,048 views the newest move over to the main table in one go.
    for (int i = 0; i < 12000 && answered < 2500; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_GE(answered.load(), 2100);
    server.Kill(SIGKILL);
    stop = true;
    for (auto& shopper : shoppers)
        shopper.join();
    EXPECT_GE(CountViews(server.DataDir()), answered.load());
    // Numbered without gaps, across both tables, after the crash.
    ASSERT_TRUE(server.Start()) << server.Log();
    std::string body;
    server.Get("/rivuzovara/WaitInfo.asp?userID=" + webId + "&after=", &body);
    EXPECT_EQ(body, "+OK " + std::to_string(CountViews(server.DataDir())));
    server.Get("/rivuzovara/WaitInfo.asp?userID=" + webId + "&after=2000", &body);
    const std::string first = "+OK 2100\r\n2001#||#127.0.0.1#||#";
    EXPECT_EQ(body.substr(0, first.size()), first);
}

TEST(ServerSafetyTest, PerClientLimitTrustedProxiesAndAnonymisedAddresses)
{
    CRivuzovaraProcess server;
    const std::string webId = AddShop(server);
    ASSERT_TRUE(server.Start({"--per-client-limit", "3", "--trusted-proxy", "127.0.0.0/8", "--trusted-proxy",
                              "10.0.0.0/8", "--anonymise-ip"}))
        << server.Log();
    const struct
    {
        std::string forwardedFor;
        std::string stored;
    } cases[] = {
        {"", "127.0.0.0"},
        {"61.135.1.2", "61.135.1.0"},
        // What the shopper wrote at the left is not believed; the trusted hop 10.1.2.3 is passed over.
        {"1.1.1.1, 61.135.7.9, 10.1.2.3", "61.135.7.0"},
        {"2001:db8:1:2::5", "2001:db8:1::"},
        {"::ffff:8.8.4.4", "8.8.4.0"},
        {"not-an-address", "127.0.0.0"},
    };
    for (const auto& c : cases) {
        httplib::Headers headers;
        if (!c.forwardedFor.empty())
            headers.emplace("X-Forwarded-For", c.forwardedFor);
        ASSERT_EQ(server.Get(kShop + webId, nullptr, headers), 200);
        EXPECT_EQ(LatestIp(server, webId), c.stored) << c.forwardedFor;
    }
    // The first client has had its three of the minute.
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(server.Get(kShop + webId, nullptr, {{"X-Forwarded-For", "61.135.1.2"}}), 200);
    EXPECT_EQ(CountViews(server.DataDir(), "ip = '61.135.1.0'"), 3);
    // Past ten wrong passwords a minute a client is answered as wrong unchecked, right password or not; others are not.
    const std::string getWebId = "/rivuzovara/GetWebID.asp?UserName=shop&UserPwd=";
    for (int i = 0; i < 12; ++i)
        server.Get(getWebId + "wrong", nullptr, {{"X-Forwarded-For", "61.135.1.2"}});
    for (const std::string forwardedFor : {"61.135.1.2", "61.135.1.3", ""}) {
        std::string body;
        server.Get(getWebId + "pw", &body, {{"X-Forwarded-For", forwardedFor}});
        EXPECT_EQ(FromGbk(body), forwardedFor == "61.135.1.2" ? "-ERR 用户名或防监视密码错误" : "+OK " + webId);
    }
    // One log line for the whole run of refusals, with the address as kept (--anonymise-ip).
    const std::string log = server.Log();
    const std::regex refusedLine("wrong passwords within a minute from 61\\.135\\.1\\.0:");
    EXPECT_EQ(std::distance(std::sregex_iterator(log.begin(), log.end(), refusedLine), std::sregex_iterator()), 1)
        << log;
    // Through a proxy on this machine a shopper comes from loopback too, yet is none of ours.
    EXPECT_EQ(server.Get("/metrics", nullptr, {{"X-Forwarded-For", "61.135.1.2"}}), 404);
    EXPECT_EQ(server.Get("/healthz", nullptr, {{"X-Forwarded-For", "61.135.1.2"}}), 404);
    std::string metrics;
    EXPECT_EQ(server.Get("/metrics", &metrics), 200);
    EXPECT_NE(metrics.find("rivuzovara_views_over_limit_total 1\n"), std::string::npos) << metrics;
    EXPECT_NE(metrics.find("rivuzovara_password_guesses_refused_total 3\n"), std::string::npos) << metrics;
}

TEST(ServerSafetyTest, RetentionDeletesOldViewsAndNumbersGoOn)
{
    CRivuzovaraProcess server;
    const std::string webId = AddShop(server);
    ASSERT_TRUE(server.Start()) << server.Log();
    ASSERT_EQ(server.Get(kShop + webId), 200);
    ASSERT_EQ(server.Get(kShop + webId), 200);
    server.Kill(SIGTERM);
    // One view 3 days old: the restart's upkeep with --keep-days 2 removes it, the other stays.
    ASSERT_EQ(RunCommand("sqlite3 " + server.DataDir() +
                         "/tracking.db \"update views set at = at - 3 * 86400 where seq = 1;"
                         " update views_new set at = at - 3 * 86400 where seq = 1\""),
              0);
    ASSERT_TRUE(server.Start({"--keep-days", "2"})) << server.Log();
    // The upkeep runs beside the requests: its log line says when it is done.
    for (int i = 0; i < 200 && server.Log().find("deleted 1 page views older than 2 days") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_NE(server.Log().find("deleted 1 page views older than 2 days"), std::string::npos) << server.Log();
    EXPECT_EQ(CountViews(server.DataDir()), 1);
    ASSERT_EQ(server.Get(kShop + webId), 200);
    std::string body;
    server.Get("/rivuzovara/WaitInfo.asp?userID=" + webId + "&after=", &body);
    EXPECT_EQ(body, "+OK 3");
}

TEST(ServerSafetyTest, TlsWithACertificateMadeNow)
{
    CRivuzovaraProcess server;
    AddShop(server);
    const std::string key = server.DataDir() + "/key.pem";
    const std::string cert = server.DataDir() + "/cert.pem";
    ASSERT_EQ(RunCommand("openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=localhost -keyout " + key +
                         " -out " + cert + " 2>/dev/null"),
              0);
    ASSERT_TRUE(server.Start({"--tls-cert", cert, "--tls-key", key, "--test-wait-seconds", "600"})) << server.Log();
    std::string reply;
    const std::string curl = "curl -s --cacert " + cert + " --resolve localhost:" + std::to_string(server.Port()) +
                             ":127.0.0.1 'https://localhost:" + std::to_string(server.Port());
    EXPECT_EQ(RunCommand(curl + "/rivuzovara/GetWebID.asp?UserName=shop&UserPwd=pw'", &reply), 0);
    EXPECT_TRUE(std::regex_match(reply, std::regex("\\+OK [0-9]+"))) << reply;
    // A waiter that gives up (curl's time-out, 28) is given up by the service too.
    EXPECT_EQ(RunCommand(curl + "/rivuzovara/WaitInfo.asp?userID=" + reply.substr(4) + "&after=0' --max-time 2"), 28);
    EXPECT_TRUE(MetricsShow(
        [&] {
            RunCommand(curl + "/metrics'", &reply);
            return reply;
        },
        {"rivuzovara_waiters 0\n", "rivuzovara_connections 1\n"}))
        << reply;
    // Plain HTTP on the TLS port is not answered as a request.
    EXPECT_EQ(RawExchange(server.Port(), "GET /healthz HTTP/1.1\r\nHost: x\r\n\r\n", 2000).find("+OK"),
              std::string::npos);
}

TEST(ServerSafetyTest, MalformedRequestsAreAnsweredOrClosedAndItKeepsServing)
{
    CRivuzovaraProcess server;
    const std::string webId = AddShop(server);
    ASSERT_TRUE(server.Start({"--test-read-seconds", "1"})) << server.Log();
    const std::string host = "Host: x\r\n";
    const struct
    {
        std::string request;
        std::string expected; // start of the reply
    } cases[] = {
        {"GET / HTTP/1.1\r\n" + host + "X-Big: " + std::string(9000, 'a') + "\r\n\r\n", "HTTP/1.1 431"},
        {"GET /" + std::string(9000, 'a') + " HTTP/1.1\r\n" + host + "\r\n", "HTTP/1.1 431"},
        {"GET /rivuzovara/GetWebID.asp?UserName=%zz%&UserPwd=%G1 HTTP/1.1\r\n" + host + "\r\n", "HTTP/1.1 200"},
        {"GET /rivuzovara/GetWebID.asp?UserName=%FF%FE%81&UserPwd=%80 HTTP/1.1\r\n" + host + "\r\n", "HTTP/1.1 200"},
        {"GET /rivuzovara/GetUserState.asp?UserName=a%00b HTTP/1.1\r\n" + host + "\r\n", "HTTP/1.1 200"},
        {std::string("GET /a\0b HTTP/1.1\r\n", 19) + host + "\r\n", "HTTP/1.1 400"},
        {"POST /rivuzovara/shop.asp HTTP/1.1\r\n" + host + "Content-Length: 99999\r\n\r\n", "HTTP/1.1 431"},
        {"DELETE / HTTP/1.1\r\n" + host + "\r\n", "HTTP/1.1 405"},
        {"NONSENSE\r\n\r\n", "HTTP/1.1 400"},
        // Slowloris: half a request, then silence; closed after the read time.
        {"GET /rivuzovara/GetInfo.asp HTTP/1.1\r\n" + host, "<closed>"},
    };
    for (const auto& c : cases) {
        const std::string reply = RawExchange(server.Port(), c.request, 5000);
        EXPECT_EQ(reply.substr(0, c.expected.size()), c.expected) << c.request.substr(0, 60);
        EXPECT_EQ(server.Get(kShop + webId), 200) << "still serving after " << c.request.substr(0, 60);
    }
    EXPECT_EQ(CountViews(server.DataDir()), std::size(cases));
}

TEST(ServerSafetyTest, AWaiterWhoseClientLeavesIsGivenUpAtOnce)
{
    CRivuzovaraProcess server;
    const std::string webId = AddShop(server);
    // Far longer than the test: only the client's leaving ends these waits.
    ASSERT_TRUE(server.Start({"--test-wait-seconds", "600"})) << server.Log();
    const auto metrics = [&] {
        std::string text;
        server.Get("/metrics", &text);
        return text;
    };
    const std::string wait = "GET /rivuzovara/WaitInfo.asp?userID=" + webId + "&after=0 HTTP/1.1\r\nHost: x\r\n\r\n";
    int held[3];
    for (int& fd : held) {
        fd = ConnectTo(server.Port());
        ASSERT_EQ(send(fd, wait.data(), wait.size(), MSG_NOSIGNAL), static_cast<ssize_t>(wait.size()));
    }
    ASSERT_TRUE(MetricsShow(metrics, {"rivuzovara_waiters 3\n"})) << metrics();
    // The next request behind a held one must not be lost.
    const std::string next = "GET /healthz HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
    ASSERT_EQ(send(held[2], next.data(), next.size(), MSG_NOSIGNAL), static_cast<ssize_t>(next.size()));
    close(held[0]);
    // And one that resets the connection.
    const linger reset{1, 0};
    setsockopt(held[1], SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    close(held[1]);
    // The last held one and the metrics' own connection are all that are open.
    EXPECT_TRUE(MetricsShow(metrics, {"rivuzovara_waiters 1\n", "rivuzovara_connections 2\n"})) << metrics();
    ASSERT_EQ(server.Get(kShop + webId), 200);
    const std::string answers = ReadFor(held[2], 5000);
    close(held[2]);
    EXPECT_TRUE(std::regex_search(answers, std::regex("\r\n\\+OK 1\r\n1#[^]*HTTP/1.1 200[^]*\r\n\\+OK\n<closed>$")))
        << answers;
}

TEST(ServerSafetyTest, ConnectionsBeyondTheBoundAreClosedWithALogLine)
{
    CRivuzovaraProcess server;
    ASSERT_TRUE(server.Start({"--test-max-connections", "2"})) << server.Log();
    const int held[] = {ConnectTo(server.Port()), ConnectTo(server.Port())};
    ASSERT_GE(held[0], 0);
    ASSERT_GE(held[1], 0);
    // The held two may take a moment to be accepted; until then a third gets its answer.
    std::string reply;
    for (int i = 0; i < 100 && reply != "<closed>"; ++i)
        reply = RawExchange(server.Port(), "GET /healthz HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", 2000);
    EXPECT_EQ(reply, "<closed>");
    EXPECT_NE(server.Log().find("too many connections (2 open)"), std::string::npos) << server.Log();
    close(held[0]);
    close(held[1]);
    int status = 0;
    for (int i = 0; i < 200 && status != 200; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        status = server.Get("/healthz");
    }
    EXPECT_EQ(status, 200);
}

} // namespace
