// The tracking operations' requests and reply grammar against canned replies.
#include "support/LocalService.h"
#include "support/TestMain.h"

#include "net/TrackingService.h"
#include "platform/Endpoints.h"
#include "platform/TextCodec.h"

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

} // namespace
