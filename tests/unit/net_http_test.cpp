// CWinHttpEx and FetchText against servers on the loopback: an in-test
// cpp-httplib server, and a raw socket server for exact status lines and for
// a peer that never answers.
#include "support/LocalService.h"
#include "support/TestMain.h"

#include "net/HttpText.h"
#include "net/WinHttpEx.h"
#include "platform/AbortScope.h"
#include "platform/TextCodec.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Answers every connection with one canned response, or (silent) reads the
// request and never answers until stopped.
class CRawServer
{
public:
    explicit CRawServer(std::string response, bool silent = false) : m_response(std::move(response)), m_silent(silent)
    {
        m_listen = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int one = 1;
        setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(m_listen, 16) != 0)
            return;
        socklen_t len = sizeof addr;
        getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len);
        m_port = ntohs(addr.sin_port);
        m_thread = std::thread([this] { Run(); });
    }

    ~CRawServer()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        for (int fd : m_held)
            close(fd);
        close(m_listen);
    }

    int Port() const { return m_port; }
    QString Url(const char* path = "/") const { return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path); }
    int Requests() const { return m_requests; }
    std::string LastRequest()
    {
        std::lock_guard lock(m_mutex);
        return m_lastRequest;
    }

private:
    void Run()
    {
        while (!m_stop) {
            pollfd p{m_listen, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0)
                continue;
            const int fd = accept(m_listen, nullptr, nullptr);
            if (fd < 0)
                continue;
            std::string request;
            char buffer[4096];
            while (!m_stop && request.find("\r\n\r\n") == std::string::npos) {
                pollfd c{fd, POLLIN, 0};
                if (poll(&c, 1, 20) <= 0)
                    continue;
                const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
                if (n <= 0)
                    break;
                request.append(buffer, static_cast<size_t>(n));
            }
            {
                std::lock_guard lock(m_mutex);
                m_lastRequest = request;
            }
            ++m_requests;
            if (m_silent) {
                m_held.push_back(fd);
                continue;
            }
            send(fd, m_response.data(), m_response.size(), MSG_NOSIGNAL);
            shutdown(fd, SHUT_WR);
            close(fd);
        }
    }

    std::string m_response;
    bool m_silent;
    int m_listen = -1;
    int m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_requests{0};
    std::mutex m_mutex;
    std::string m_lastRequest;
    std::vector<int> m_held;
};

// Shortened time-outs for one test; the program's limits come back afterwards.
struct SShortTimeouts
{
    SShortTimeouts(int connectMs, int requestMs) { SetHttpTimeouts(connectMs, requestMs); }
    ~SShortTimeouts() { SetHttpTimeouts(0, 0); }
};

// ---- CrackUrl --------------------------------------------------------------

struct SCrackCase
{
    const char* name;
    const char* url;
    bool ok;
    const char* host;
    const char* path;
    int port;
    bool secure;
};

void PrintTo(const SCrackCase& c, std::ostream* os)
{
    *os << c.url;
}

class CrackUrlTest : public ::testing::TestWithParam<SCrackCase>
{
};

TEST_P(CrackUrlTest, Splits)
{
    const SCrackCase& c = GetParam();
    QString host;
    QString path;
    int port = -1;
    bool secure = false;
    ASSERT_EQ(CWinHttpEx::CrackUrl(QString::fromUtf8(c.url), host, path, port, secure), c.ok);
    EXPECT_EQ(secure, c.secure);
    if (!c.ok)
        return;
    EXPECT_EQ(host, QString::fromUtf8(c.host));
    EXPECT_EQ(path, QString::fromUtf8(c.path));
    EXPECT_EQ(port, c.port);
}

INSTANTIATE_TEST_SUITE_P(
    Urls, CrackUrlTest,
    ::testing::Values(SCrackCase{"capital_https", "HTTPS://Shop.Example/a?b=1", true, "Shop.Example", "/a?b=1", 443,
                                 true},
                      SCrackCase{"http_not_secure", "http://h/x", true, "h", "/x", 80, false},
                      SCrackCase{"explicit_port", "http://127.0.0.1:8780/rivuzovara/GetInfo.asp?userID=7", true,
                                 "127.0.0.1", "/rivuzovara/GetInfo.asp?userID=7", 8780, false},
                      SCrackCase{"user_info_dropped", "Http://user:pw@h:81/x", true, "h", "/x", 81, false},
                      SCrackCase{"query_without_path", "http://h?x=1", true, "h", "/?x=1", 80, false},
                      SCrackCase{"no_path", "https://h", true, "h", "", 443, true},
                      SCrackCase{"ipv6", "http://[::1]:8080/p", true, "[::1]", "/p", 8080, false},
                      SCrackCase{"other_scheme", "ftp://h/x", false, "", "", 0, false},
                      SCrackCase{"no_scheme", "h/x", false, "", "", 0, false},
                      SCrackCase{"empty_host", "http:///x", false, "", "", 0, false},
                      SCrackCase{"port_zero", "http://h:0/", false, "", "", 0, false},
                      SCrackCase{"port_too_big", "http://h:70000/", false, "", "", 0, false},
                      SCrackCase{"port_not_number", "https://h:abc/", false, "", "", 0, true}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- status line -----------------------------------------------------------

struct SStatusCase
{
    const char* name;
    const char* response;
    bool ok;
    const char* body;
};

void PrintTo(const SStatusCase& c, std::ostream* os)
{
    *os << c.name;
}

class StatusLineTest : public ::testing::TestWithParam<SStatusCase>
{
};

TEST_P(StatusLineTest, AcceptsOnly200OkAsWritten)
{
    const SStatusCase& c = GetParam();
    CRawServer server(c.response);
    ASSERT_GT(server.Port(), 0);
    CWinHttpEx http;
    QByteArray body = "stale";
    EXPECT_EQ(http.Get(server.Url("/state"), body), c.ok);
    EXPECT_EQ(body, QByteArray(c.body));
    // The copy is zero-terminated right after the body.
    EXPECT_EQ(body.constData()[body.size()], '\0');
    EXPECT_EQ(server.Requests(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Responses, StatusLineTest,
    ::testing::Values(SStatusCase{"ok", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n+OK 7", true, "+OK 7"},
                      SStatusCase{"not_found", "HTTP/1.1 404 Not Found\r\nContent-Length: 2\r\n\r\nno", false, ""},
                      SStatusCase{"reason_other_case", "HTTP/1.1 200 Ok\r\nContent-Length: 2\r\n\r\nok", false, ""},
                      SStatusCase{"created", "HTTP/1.1 201 Created\r\nContent-Length: 2\r\n\r\nok", false, ""},
                      SStatusCase{"empty_body", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", true, ""},
                      SStatusCase{"until_close", "HTTP/1.0 200 OK\r\nConnection: close\r\n\r\nabc", true, "abc"},
                      // The test looks at the whole raw header text, as the client always did.
                      SStatusCase{"marker_in_a_header",
                                  "HTTP/1.1 500 Oops\r\nX-Note: 200 OK\r\nContent-Length: 1\r\n\r\nx", true, "x"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WinHttpExTest, EmptyBodyDecodesToEmptyText)
{
    CRawServer server("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    QString text = QStringLiteral("stale");
    EXPECT_TRUE(FetchText(server.Url(), text));
    EXPECT_TRUE(text.isEmpty());
}

TEST(WinHttpExTest, SendsTheRequestAsTheServiceExpects)
{
    CRawServer server("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    CWinHttpEx http;
    QByteArray body;
    // The password is put into the URL as typed: the blank, the non-ASCII
    // character and the number sign are escaped on the wire, the rest is kept.
    ASSERT_TRUE(http.Get(server.Url("/rivuzovara/GetWebID.asp?UserName=a%26b&UserPwd=p&w d中#x"), body));
    const std::string request = server.LastRequest();
    EXPECT_EQ(request.rfind("GET /rivuzovara/GetWebID.asp?UserName=a%26b&UserPwd=p&w%20d%E4%B8%AD%23x HTTP/1.1\r\n", 0),
              0u)
        << request;
    EXPECT_NE(request.find("\r\nUser-Agent: Mozilla/6.0 (compatible; MSIE 6.0; Windows 5.1)\r\n"), std::string::npos)
        << request;
}

TEST(WinHttpExTest, BodyInSeveralChunksArrivesWholeAndInOrder)
{
    CTestHttpServer server;
    std::string expected;
    for (int i = 0; i < 6; ++i)
        expected += std::string(700, static_cast<char>('a' + i));
    server.Server().Get("/chunks", [](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("text/plain", [](size_t offset, httplib::DataSink& sink) {
            const size_t index = offset / 700;
            if (index >= 6) {
                sink.done();
                return true;
            }
            const std::string chunk(700, static_cast<char>('a' + index));
            sink.write(chunk.data(), chunk.size());
            return true;
        });
    });
    ASSERT_TRUE(server.Start());
    CWinHttpEx http;
    QByteArray body;
    ASSERT_TRUE(http.Get(server.Base() + QStringLiteral("/chunks"), body));
    EXPECT_EQ(body.toStdString(), expected);
    EXPECT_EQ(body.constData()[body.size()], '\0');
}

TEST(WinHttpExTest, FollowsRedirects)
{
    CTestHttpServer server;
    server.Server().Get("/old", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/new"); });
    server.Server().Get(
        "/new", [](const httplib::Request&, httplib::Response& res) { res.set_content("moved", "text/plain"); });
    ASSERT_TRUE(server.Start());
    CWinHttpEx http;
    QByteArray body;
    ASSERT_TRUE(http.Get(server.Base() + QStringLiteral("/old"), body));
    EXPECT_EQ(body, QByteArray("moved"));
}

TEST(WinHttpExTest, BodyOverTheLimitFails)
{
    CTestHttpServer server;
    server.Server().Get("/sized", [](const httplib::Request& req, httplib::Response& res) {
        const size_t size = std::stoul(req.get_param_value("n"));
        res.set_content(std::string(size, 'x'), "application/octet-stream");
    });
    // Without a length in advance the limit is found while reading.
    server.Server().Get("/stream", [](const httplib::Request& req, httplib::Response& res) {
        const size_t size = std::stoul(req.get_param_value("n"));
        res.set_chunked_content_provider("application/octet-stream", [size](size_t offset, httplib::DataSink& sink) {
            if (offset >= size) {
                sink.done();
                return true;
            }
            const std::string chunk(std::min<size_t>(65536, size - offset), 'y');
            return sink.write(chunk.data(), chunk.size());
        });
    });
    ASSERT_TRUE(server.Start());
    const auto url = [&](const char* path, qint64 n) {
        return server.Base() + QStringLiteral("%1?n=%2").arg(QLatin1String(path)).arg(n);
    };
    CWinHttpEx http;
    QByteArray body;
    EXPECT_TRUE(http.Get(url("/sized", kMaxBodyBytes), body));
    EXPECT_EQ(body.size(), kMaxBodyBytes);
    EXPECT_FALSE(http.Get(url("/sized", kMaxBodyBytes + 1), body));
    EXPECT_TRUE(body.isEmpty());
    EXPECT_TRUE(http.Get(url("/stream", kMaxBodyBytes), body));
    EXPECT_EQ(body.size(), kMaxBodyBytes);
    EXPECT_FALSE(http.Get(url("/stream", kMaxBodyBytes + 1), body));
    EXPECT_TRUE(body.isEmpty());
}

TEST(WinHttpExTest, RefusedConnectionAndBadUrlsFail)
{
    int port = 0;
    {
        CRawServer closed("");
        port = closed.Port();
    }
    CWinHttpEx http;
    QByteArray body;
    EXPECT_FALSE(http.Get(QStringLiteral("http://127.0.0.1:%1/").arg(port), body));
    EXPECT_FALSE(http.Get(QStringLiteral("ftp://127.0.0.1/"), body));
    EXPECT_FALSE(http.Get(QStringLiteral("not a url"), body));
    EXPECT_TRUE(body.isEmpty());
}

// ---- time-out and abort ----------------------------------------------------

TEST(WinHttpExTest, ServerThatNeverAnswersFailsWithinTheTimeOut)
{
    CRawServer silent("", true);
    SShortTimeouts shortened(300, 700);
    CWinHttpEx http;
    QByteArray body;
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(http.Get(silent.Url(), body));
    // Bounded by the shortened limit, not by the program's 30 s.
    EXPECT_LT(timer.elapsed(), 10000);
    EXPECT_EQ(silent.Requests(), 1);
}

TEST(WinHttpExTest, ProgramTimeOutsAreTenAndThirtySeconds)
{
    EXPECT_EQ(kConnectTimeoutMs, 10000);
    EXPECT_EQ(kRequestTimeoutMs, 30000);
}

TEST(AbortScopeTest, StoppingTheThreadEndsASilentRequestWithinASecond)
{
    using Clock = std::chrono::steady_clock;
    CRawServer silent("", true);
    std::atomic<int> stop{0};
    std::atomic<bool> result{true};
    Clock::time_point returnedAt;
    std::thread worker([&] {
        CAbortScope scope(&stop);
        CWinHttpEx http;
        QByteArray body;
        result = http.Get(silent.Url(), body);
        returnedAt = Clock::now();
    });
    const QDeadlineTimer deadline(10000);
    while (silent.Requests() == 0 && !deadline.hasExpired())
        QThread::msleep(5);
    ASSERT_EQ(silent.Requests(), 1);
    const Clock::time_point stoppedAt = Clock::now();
    stop = 1;
    worker.join();
    EXPECT_FALSE(result);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(returnedAt - stoppedAt).count(), 1000);
}

TEST(AbortScopeTest, ARaisedFlagMakesNoRequestAndOnlyItsThreadIsAffected)
{
    CRawServer server("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nhi");
    std::atomic<int> stop{1};
    QByteArray body;
    {
        CAbortScope scope(&stop);
        EXPECT_TRUE(AbortRequested());
        QString text;
        EXPECT_FALSE(FetchText(server.Url(), text));
        EXPECT_EQ(server.Requests(), 0);

        // Another thread has no flag of its own.
        bool otherOk = false;
        std::thread other([&] {
            CWinHttpEx http;
            QByteArray otherBody;
            otherOk = !AbortRequested() && http.Get(server.Url(), otherBody);
        });
        other.join();
        EXPECT_TRUE(otherOk);
    }
    // The scope's end restores the thread's previous state.
    EXPECT_FALSE(AbortRequested());
    CWinHttpEx http;
    EXPECT_TRUE(http.Get(server.Url(), body));
}

TEST(AbortScopeTest, ScopesNest)
{
    std::atomic<int> outer{0};
    std::atomic<int> inner{1};
    CAbortScope a(&outer);
    {
        CAbortScope b(&inner);
        EXPECT_TRUE(AbortRequested());
    }
    EXPECT_FALSE(AbortRequested());
    outer = 1;
    EXPECT_TRUE(AbortRequested());
}

TEST(AbortScopeTest, StoppingDuringASlowBodyEndsTheRequest)
{
    CTestHttpServer server;
    std::atomic<bool> serverDone{false};
    server.Server().Get("/slow", [&](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("text/plain", [&](size_t offset, httplib::DataSink& sink) {
            if (offset > 1000000 || serverDone) {
                sink.done();
                return true;
            }
            QThread::msleep(50);
            return sink.write("0123456789", 10);
        });
    });
    ASSERT_TRUE(server.Start());
    std::atomic<int> stop{0};
    std::atomic<bool> result{true};
    std::thread worker([&] {
        CAbortScope scope(&stop);
        CWinHttpEx http;
        QByteArray body;
        result = http.Get(server.Base() + QStringLiteral("/slow"), body);
    });
    QThread::msleep(200);
    QElapsedTimer sinceStop;
    sinceStop.start();
    stop = 1;
    worker.join();
    const qint64 elapsed = sinceStop.elapsed();
    serverDone = true;
    EXPECT_FALSE(result);
    EXPECT_LT(elapsed, 1000);
}

// ---- FetchText -------------------------------------------------------------

TEST(FetchTextTest, RetriesOnceAfterAFailureAndDecodesGbk)
{
    CTestHttpServer server;
    std::atomic<int> requests{0};
    server.Server().Get("/flaky", [&](const httplib::Request&, httplib::Response& res) {
        if (++requests == 1) {
            res.status = 500;
            res.set_content("busy", "text/plain");
            return;
        }
        res.set_content(UnicodeToAnsi(QStringLiteral("+OK 中文")).toStdString(), "text/plain");
    });
    ASSERT_TRUE(server.Start());
    QString text;
    EXPECT_TRUE(FetchText(server.Base() + QStringLiteral("/flaky"), text));
    EXPECT_EQ(text, QStringLiteral("+OK 中文"));
    EXPECT_EQ(requests, 2);
}

TEST(FetchTextTest, GivesUpAfterThreeFailures)
{
    CTestHttpServer server;
    std::atomic<int> requests{0};
    server.Server().Get("/down", [&](const httplib::Request&, httplib::Response& res) {
        ++requests;
        res.status = 503;
    });
    ASSERT_TRUE(server.Start());
    QString text = QStringLiteral("stale");
    EXPECT_FALSE(FetchText(server.Base() + QStringLiteral("/down"), text));
    EXPECT_TRUE(text.isEmpty());
    EXPECT_EQ(requests, 3);
}

TEST(FetchTextTest, StopsDecodingAtTheFirstZeroByte)
{
    CTestHttpServer server;
    server.Server().Get("/zero", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string("ab\0cd", 5), "text/plain");
    });
    ASSERT_TRUE(server.Start());
    QString text;
    EXPECT_TRUE(FetchText(server.Base() + QStringLiteral("/zero"), text));
    EXPECT_EQ(text, QStringLiteral("ab"));
}

TEST(FetchTextTest, SilentServerCostsThreeTimeOuts)
{
    CRawServer silent("", true);
    SShortTimeouts shortened(200, 300);
    QString text;
    EXPECT_FALSE(FetchText(silent.Url(), text));
    EXPECT_EQ(silent.Requests(), 3);
}

} // namespace
