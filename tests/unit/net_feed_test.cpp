// The tracking operations' requests and reply grammar against canned replies.
#include "support/LocalService.h"
#include "support/MonitorFakes.h"
#include "support/TestMain.h"
#include "support/WaitUntil.h"

#include "net/TrackingService.h"
#include "net/ViewWaiter.h"
#include "platform/Endpoints.h"
#include "platform/TextCodec.h"

#include <future>
#include <mutex>

namespace {

struct SFeedCase
{
    const char* name;
    QString reply;
    QString ip;
    QString itemUrl;
    QString third;
};

void PrintTo(const SFeedCase& c, std::ostream* os)
{
    *os << c.name;
}

class FeedGrammarTest : public ::testing::TestWithParam<SFeedCase>
{
};

TEST_P(FeedGrammarTest, Parses)
{
    const SFeedCase& c = GetParam();
    QString ip = QStringLiteral("x");
    QString itemUrl = QStringLiteral("x");
    QString third = QStringLiteral("x");
    ParseFeedReply(c.reply, ip, itemUrl, third);
    EXPECT_EQ(ip, c.ip);
    EXPECT_EQ(itemUrl, c.itemUrl);
    EXPECT_EQ(third, c.third);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, FeedGrammarTest,
    ::testing::Values(
        SFeedCase{"full_record", QStringLiteral("61.135.1.2#||#http://item.example/i/1.html#||#2024-05-01#||#|##|"),
                  QStringLiteral("61.135.1.2"), QStringLiteral("http://item.example/i/1.html"),
                  QStringLiteral("2024-05-01")},
        SFeedCase{"no_record_end", QStringLiteral("61.135.1.2#||#http://a/b#||#c#||#"), {}, {}, {}},
        SFeedCase{
            "third_without_closer", QStringLiteral("A#||#B#||#C|##|"), QStringLiteral("A"), QStringLiteral("B"), {}},
        SFeedCase{"one_field_closed", QStringLiteral("61.135.1.2#||#|##|"), QStringLiteral("61.135.1.2"), {}, {}},
        SFeedCase{"no_separator", QStringLiteral("61.135.1.2|##|"), {}, {}, {}},
        SFeedCase{"empty_record", QStringLiteral("|##|"), {}, {}, {}}, SFeedCase{"empty_reply", QString(), {}, {}, {}},
        SFeedCase{"nothing_trimmed", QStringLiteral(" 1.2.3.4 #||# u%20 #||#\r\n#||#|##|"), QStringLiteral(" 1.2.3.4 "),
                  QStringLiteral(" u%20 "), QStringLiteral("\r\n")},
        SFeedCase{"only_first_record", QStringLiteral("A#||#B#||#C#||#|##|D#||#E#||#F#||#|##|"), QStringLiteral("A"),
                  QStringLiteral("B"), QStringLiteral("C")},
        SFeedCase{"separator_after_record_ignored", QStringLiteral("A#||#B|##|#||#"), QStringLiteral("A"), {}, {}},
        SFeedCase{"chinese_kept", QStringLiteral("1.1.1.1#||#http://h/宝贝#||#三#||#|##|"), QStringLiteral("1.1.1.1"),
                  QStringLiteral("http://h/宝贝"), QStringLiteral("三")}),
    [](const auto& info) { return std::string(info.param.name); });

// A tracking service that answers whatever the test sets, in GBK, and
// remembers the request targets.
class CannedServiceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_server.Server().Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard lock(m_mutex);
            m_targets.push_back(req.target);
            res.status = m_status;
            res.set_content(UnicodeToAnsi(m_reply).toStdString(), "text/plain");
        });
        ASSERT_TRUE(m_server.Start());
        m_saved = Endpoints();
        CEndpoints e = m_saved;
        e.trackingBase = m_server.Base();
        SetEndpoints(e);
    }
    void TearDown() override
    {
        m_server.Stop();
        SetEndpoints(m_saved);
    }
    void Answer(const QString& reply, int status = 200)
    {
        std::lock_guard lock(m_mutex);
        m_reply = reply;
        m_status = status;
    }
    std::vector<std::string> Targets()
    {
        std::lock_guard lock(m_mutex);
        return m_targets;
    }

    CTestHttpServer m_server;
    CEndpoints m_saved;
    std::mutex m_mutex;
    QString m_reply;
    int m_status = 200;
    std::vector<std::string> m_targets;
};

TEST_F(CannedServiceTest, GetWebIdTakesEverythingAfterTheMarker)
{
    struct SCase
    {
        QString reply;
        bool ok;
        QString webId;
    };
    const SCase cases[] = {
        {QStringLiteral("xx+OK 77"), true, QStringLiteral("77")},
        {QStringLiteral("+OK 10234"), true, QStringLiteral("10234")},
        {QStringLiteral("+OK "), true, QString()},
        {QStringLiteral("+OK"), false, QString()},
        {QStringLiteral("+OK 12 \r\n"), true, QStringLiteral("12 \r\n")},
        {QStringLiteral("+ok 5"), false, QString()},
        {QStringLiteral("-ERR 用户名或防监视密码错误"), false, QString()},
    };
    for (const SCase& c : cases) {
        Answer(c.reply);
        QString webId = QStringLiteral("stale");
        EXPECT_EQ(GetWebID(QStringLiteral("shop"), QStringLiteral("pw"), webId), c.ok) << c.reply.toStdString();
        EXPECT_EQ(webId, c.webId) << c.reply.toStdString();
    }
}

TEST_F(CannedServiceTest, RequestsCarryEncodedNamesAndPasswords)
{
    Answer(QStringLiteral("+OK 1"));
    QString webId;
    ASSERT_TRUE(GetWebID(QStringLiteral("a&b 店"), QStringLiteral("p&w=1"), webId));
    ASSERT_TRUE(SaveImName(QStringLiteral("a&b 店"), QStringLiteral("密pw"), QStringLiteral("im名")));
    QString state;
    ASSERT_TRUE(GetUserState(QStringLiteral("x/y"), state));
    QString ip, itemUrl, third;
    GetInfo(QStringLiteral("10001"), ip, itemUrl, third);
    const std::vector<std::string> expected = {
        "/rivuzovara/GetWebID.asp?UserName=a%26b%20%B5%EA&UserPwd=p%26w%3D1",
        "/rivuzovara/SaveImName.asp?UserName=a%26b%20%B5%EA&UserPwd=%C3%DCpw&UserImName=im%C3%FB",
        "/rivuzovara/GetUserState.asp?UserName=x%2Fy",
        "/rivuzovara/GetInfo.asp?userID=10001",
    };
    EXPECT_EQ(Targets(), expected);
}

TEST_F(CannedServiceTest, SaveImNameWantsTheMarkerAnywhere)
{
    const std::pair<QString, bool> cases[] = {
        {QStringLiteral("+OK"), true},   {QStringLiteral("+OK "), true}, {QStringLiteral("saved +OK!"), true},
        {QStringLiteral("-ERR"), false}, {QStringLiteral(""), false},    {QStringLiteral("OK"), false},
    };
    for (const auto& [reply, ok] : cases) {
        Answer(reply);
        EXPECT_EQ(SaveImName(QStringLiteral("s"), QStringLiteral("p"), QStringLiteral("i")), ok) << reply.toStdString();
    }
}

TEST_F(CannedServiceTest, GetUserStateGivesTheWholeReply)
{
    Answer(QStringLiteral("-ERR 账户已被冻结\r\n"));
    QString reply = QStringLiteral("stale");
    EXPECT_TRUE(GetUserState(QStringLiteral("s"), reply));
    EXPECT_EQ(reply, QStringLiteral("-ERR 账户已被冻结\r\n"));
}

TEST_F(CannedServiceTest, FailedFetchesGiveFalseOrUntouchedFields)
{
    Answer(QStringLiteral("+OK 5 #||#|##|"), 500);
    QString webId = QStringLiteral("stale");
    EXPECT_FALSE(GetWebID(QStringLiteral("s"), QStringLiteral("p"), webId));
    EXPECT_TRUE(webId.isEmpty());
    EXPECT_FALSE(SaveImName(QStringLiteral("s"), QStringLiteral("p"), QStringLiteral("i")));
    QString state = QStringLiteral("stale");
    EXPECT_FALSE(GetUserState(QStringLiteral("s"), state));
    EXPECT_TRUE(state.isEmpty());
    QString ip = QStringLiteral("a"), itemUrl = QStringLiteral("b"), third = QStringLiteral("c");
    GetInfo(QStringLiteral("1"), ip, itemUrl, third);
    EXPECT_EQ(ip, QStringLiteral("a"));
    EXPECT_EQ(itemUrl, QStringLiteral("b"));
    EXPECT_EQ(third, QStringLiteral("c"));
    // Each operation made its three attempts.
    EXPECT_EQ(Targets().size(), 4u * 3u);
}

TEST_F(CannedServiceTest, GetInfoReadsTheRecordInGbk)
{
    Answer(QStringLiteral("61.135.1.2#||#http://item.example/宝贝.html#||#2024-05-01 10:00:00#||#|##|"));
    QString ip, itemUrl, third;
    GetInfo(QStringLiteral("10001"), ip, itemUrl, third);
    EXPECT_EQ(ip, QStringLiteral("61.135.1.2"));
    EXPECT_EQ(itemUrl, QStringLiteral("http://item.example/宝贝.html"));
    EXPECT_EQ(third, QStringLiteral("2024-05-01 10:00:00"));
}

const QString kRecordRest =
    QStringLiteral("#||#1.2.3.4#||#http://shop.example/i%231.html#||#2026-12-09 10:00:00#||#|##|");

QString Records(qint64 from, qint64 to)
{
    QString text;
    for (qint64 seq = from; seq <= to; ++seq)
        text += QStringLiteral("\r\n") + QString::number(seq) + kRecordRest;
    return text;
}

TEST(WaitInfoGrammarTest, Replies)
{
    struct SCase
    {
        const char* name;
        QString reply;
        qint64 after;
        EWaitReply kind;
        qint64 next;
        size_t records;
    };
    const SCase cases[] = {
        {"latest_only", QStringLiteral("+OK 7"), -1, EWaitReply::Views, 7, 0},
        {"none_in_time", QStringLiteral("+OK 5"), 5, EWaitReply::Views, 5, 0},
        {"records", QStringLiteral("+OK 7") + Records(6, 7), 5, EWaitReply::Views, 7, 2},
        {"closing_line_end", QStringLiteral("+OK 7") + Records(6, 7) + QStringLiteral("\r\n"), 5, EWaitReply::Views, 7,
         2},
        {"more_than_one_reply_holds", QStringLiteral("+OK 900") + Records(101, 200), 100, EWaitReply::Views, 200, 100},
        {"err", QStringLiteral("-ERR"), 5, EWaitReply::Refused, -1, 0},
        {"no_ok", QStringLiteral("<html>404</html>"), 5, EWaitReply::Refused, -1, 0},
        {"no_number", QStringLiteral("+OK x"), 5, EWaitReply::Malformed, -1, 0},
        {"ok_not_first", QStringLiteral("x+OK 5"), 5, EWaitReply::Malformed, -1, 0},
        {"records_for_latest", QStringLiteral("+OK 7") + Records(7, 7), -1, EWaitReply::Malformed, -1, 0},
        {"three_fields", QStringLiteral("+OK 6\r\n6#||#1.2.3.4#||#u#||#|##|"), 5, EWaitReply::Malformed, -1, 0},
        {"no_record_end", QStringLiteral("+OK 6\r\n6#||#1.2.3.4#||#u#||#2026-12-09 10:00:00#||#"), 5,
         EWaitReply::Malformed, -1, 0},
        {"bad_time", QStringLiteral("+OK 6\r\n6#||#1.2.3.4#||#u#||#yesterday#||#|##|"), 5, EWaitReply::Malformed, -1,
         0},
        {"not_counting_up", QStringLiteral("+OK 7") + Records(7, 7) + Records(6, 6), 5, EWaitReply::Malformed, -1, 0},
        {"at_or_below_after", QStringLiteral("+OK 5") + Records(5, 5), 5, EWaitReply::Malformed, -1, 0},
        {"latest_below_last", QStringLiteral("+OK 6") + Records(7, 7), 5, EWaitReply::Malformed, -1, 0},
    };
    for (const SCase& c : cases) {
        const CWaitInfoReply reply = ParseWaitInfoReply(c.reply, c.after);
        EXPECT_EQ(reply.kind, c.kind) << c.name;
        EXPECT_EQ(reply.next, c.next) << c.name;
        EXPECT_EQ(reply.records.size(), c.records) << c.name;
    }
    const CWaitInfoReply one = ParseWaitInfoReply(QStringLiteral("+OK 6") + Records(6, 6), 5);
    ASSERT_EQ(one.records.size(), 1u);
    EXPECT_EQ(one.records[0].seq, 6);
    EXPECT_EQ(one.records[0].ip, QStringLiteral("1.2.3.4"));
    EXPECT_EQ(one.records[0].itemUrl, QStringLiteral("http://shop.example/i%231.html")) << "taken as it stands";
    EXPECT_EQ(one.records[0].time, QStringLiteral("2026-12-09 10:00:00"));
}

// A wake-up route of the test's: one view stream for every web ID; a waiting
// request is held until views come or the test ends.
class ViewWaiterTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_server.Server().Get("/rivuzovara/WaitInfo.asp", [this](const httplib::Request& req, httplib::Response& res) {
            std::unique_lock lock(m_mutex);
            res.status = m_status;
            const std::string after = req.get_param_value("after");
            if (m_status != 200 || !m_reply.isEmpty() || after.empty()) {
                const QString text = m_reply.isEmpty() ? QStringLiteral("+OK %1").arg(m_latest) : m_reply;
                return res.set_content(UnicodeToAnsi(text).toStdString(), "text/plain");
            }
            const qint64 n = std::stoll(after);
            m_changed.wait_for(lock, std::chrono::seconds(20), [&] { return m_latest > n || m_ending; });
            const QString text = QStringLiteral("+OK %1").arg(std::max(n, m_latest)) + Records(n + 1, m_latest);
            res.set_content(UnicodeToAnsi(text).toStdString(), "text/plain");
        });
        ASSERT_TRUE(m_server.Start());
    }
    void TearDown() override
    {
        EndWaiter();
        m_server.Stop();
    }
    void Answer(int status, const QString& reply, qint64 latest)
    {
        {
            std::lock_guard lock(m_mutex);
            m_status = status;
            m_reply = reply;
            m_latest = latest;
        }
        m_changed.notify_all();
    }
    // The held requests are answered once nobody waits for them.
    void EndWaiter()
    {
        m_waiter.reset();
        {
            std::lock_guard lock(m_mutex);
            m_ending = true;
        }
        m_changed.notify_all();
    }
    void StartWaiter(const std::vector<qint64>& lastSeqs)
    {
        {
            std::lock_guard lock(m_mutex);
            m_ending = false;
        }
        std::vector<CViewWaiter::CAccount> accounts;
        for (const qint64 last : lastSeqs)
            accounts.push_back({QStringLiteral("shop%1").arg(accounts.size()), QStringLiteral("1"), last});
        m_waiter = std::make_unique<CViewWaiter>(m_server.Base(), accounts, [this](CWakeup&& wakeup) {
            std::lock_guard lock(m_mutex);
            m_wakeups.push_back(std::move(wakeup));
        });
        m_waiter->start();
    }
    std::vector<CWakeup> TakeWakeups(size_t count)
    {
        std::vector<CWakeup> taken;
        EXPECT_TRUE(WaitUntil([&] {
            std::lock_guard lock(m_mutex);
            return m_wakeups.size() >= count;
        })) << "expected "
            << count << " deliveries";
        std::lock_guard lock(m_mutex);
        taken.swap(m_wakeups);
        return taken;
    }
    // Two more passes of the waiter's loop: it has looked at the clock since.
    void Settle()
    {
        const int passes = m_waiter->Passes();
        EXPECT_TRUE(WaitUntil([&] { return m_waiter->Passes() >= passes + 2; }));
    }

    CTestHttpServer m_server;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_status = 200;
    QString m_reply;
    qint64 m_latest = 0;
    bool m_ending = false;
    std::vector<CWakeup> m_wakeups;
    std::unique_ptr<CViewWaiter> m_waiter;
};

TEST_F(ViewWaiterTest, GoesOnFromTheLastViewKeptAndStopsAtOnceWhileWaiting)
{
    Answer(200, QString(), 3);
    // A first start only takes the service's number; a later one gets what came meanwhile.
    StartWaiter({0, 1, 3});
    std::vector<CWakeup> first = TakeWakeups(2);
    std::sort(first.begin(), first.end(), [](const CWakeup& a, const CWakeup& b) { return a.account < b.account; });
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0].account, 0);
    EXPECT_EQ(first[0].next, 3);
    EXPECT_TRUE(first[0].records.empty());
    EXPECT_EQ(first[1].account, 1);
    ASSERT_EQ(first[1].records.size(), 2u);
    EXPECT_EQ(first[1].records[0].seq, 2);
    EXPECT_EQ(first[1].next, 3);
    m_waiter->Continue(0, 3);
    m_waiter->Continue(1, 3);
    ASSERT_TRUE(WaitUntil([&] { return m_waiter->RealTime() && m_waiter->RequestCount() == 7; }));
    Answer(200, QString(), 5);
    const std::vector<CWakeup> next = TakeWakeups(3);
    ASSERT_EQ(next.size(), 3u);
    for (const CWakeup& wakeup : next) {
        ASSERT_EQ(wakeup.records.size(), 2u);
        EXPECT_EQ(wakeup.records[0].seq, 4);
        EXPECT_EQ(wakeup.next, 5);
    }
    for (int account = 0; account < 3; ++account)
        m_waiter->Continue(account, 5);
    ASSERT_TRUE(WaitUntil([&] { return m_waiter->RequestCount() == 10; }));
    // The three requests are held by the service; a stop ends them (the bound only catches a hang).
    auto stopped = std::async(std::launch::async, [&] { m_waiter->Stop(); });
    ASSERT_EQ(stopped.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_TRUE(m_waiter->isFinished());
    EXPECT_FALSE(m_waiter->RealTime());
}

TEST_F(ViewWaiterTest, FallsBackOrRetriesByTheReply)
{
    struct SCase
    {
        const char* name;
        int status;
        QString reply;
        qint64 firstRetryMs;
        qint64 secondRetryMs;
    };
    const SCase cases[] = {
        {"no_route", 404, QStringLiteral("Not Found"), CViewWaiter::kFallbackMs, CViewWaiter::kFallbackMs},
        {"unknown_web_id", 200, QStringLiteral("-ERR"), CViewWaiter::kFallbackMs, CViewWaiter::kFallbackMs},
        {"failing", 503, QStringLiteral("-ERR store failed"), 1000, 2000},
        {"malformed", 200, QStringLiteral("+OK five"), 1000, 2000},
    };
    for (const SCase& c : cases) {
        CFastClock clock;
        Answer(c.status, c.reply, 0);
        StartWaiter({0});
        ASSERT_TRUE(WaitUntil([&] { return m_waiter->RequestCount() == 1; })) << c.name;
        int requests = 1;
        for (const qint64 retryMs : {c.firstRetryMs, c.secondRetryMs}) {
            ASSERT_TRUE(WaitUntil([&] { return m_waiter->Answers() == requests; })) << c.name;
            clock.Advance(retryMs - 100);
            Settle();
            EXPECT_EQ(m_waiter->RequestCount(), requests) << c.name << ": asked again too soon";
            clock.Advance(100);
            EXPECT_TRUE(WaitUntil([&] { return m_waiter->RequestCount() == requests + 1; })) << c.name;
            ++requests;
        }
        ASSERT_TRUE(WaitUntil([&] { return m_waiter->Answers() == requests; })) << c.name;
        EXPECT_FALSE(m_waiter->RealTime()) << c.name;
        // The route back: the next ask waits again.
        Answer(200, QString(), 0);
        clock.Advance(c.secondRetryMs * 2);
        EXPECT_TRUE(WaitUntil([&] { return m_waiter->RealTime(); })) << c.name;
        EndWaiter();
    }
}

} // namespace
