// A poll (RefreshShop) against services that misbehave: the tracking service
// or the IM profile page down, silent, answering garbage, an HTTP 500, a body
// over the size limit or a body cut mid-way; profile pages that are huge, have
// names at the length limit or broken markup; an IP data file that is missing,
// cut short or random. Each time the poll ends within its time-outs, records
// nothing the faulty side said, and the next good poll works as usual.
#include "accounts/LiveSettings.h"
#include "iploc/IpLocator.h"
#include "monitor/RefreshShop.h"
#include "monitor/SessionMan.h"
#include "net/WinHttpEx.h"
#include "platform/Endpoints.h"
#include "store/AdoConnection.h"
#include "store/StoreStartup.h"

#include "support/LocalService.h"
#include "support/MonitorFakes.h"
#include "support/MonitorService.h"
#include "support/StoreTestSupport.h"
#include "support/TestMain.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <condition_variable>
#include <mutex>
#include <random>
#include <thread>

namespace {

// Short limits so a silent server fails in seconds; a poll makes at most
// three feed attempts, three profile attempts and one item page fetch.
constexpr int kConnectMs = 1000;
constexpr int kRequestMs = 1500;
constexpr qint64 kPollBoundMs = 7LL * kRequestMs + 4000;

const QString kFeedIp = QStringLiteral("61.135.169.125");
const QString kGhostIp = QStringLiteral("6.6.6.6");
const QString kClientColumns =
    QStringLiteral("select [guestname], [ip], [city], [shopurl], [imuid] from [client] order by [id]");

enum class EFault
{
    Down,
    Slow,
    Garbage,
    Http500,
    HugeBody,
    CutBody
};
enum class ESide
{
    Tracking,
    Profile
};

const char* FaultName(EFault fault)
{
    switch (fault) {
    case EFault::Down:
        return "Down";
    case EFault::Slow:
        return "Slow";
    case EFault::Garbage:
        return "Garbage";
    case EFault::Http500:
        return "Http500";
    case EFault::HugeBody:
        return "HugeBody";
    case EFault::CutBody:
        return "CutBody";
    }
    return "?";
}

QByteArray RandomBytes(qsizetype size, unsigned seed)
{
    std::mt19937 random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& c : bytes)
        c = static_cast<char>(random() & 0xFF);
    return bytes;
}

QByteArray ProfileEntry(const QString& portraitBase, const QByteArray& name, const QByteArray& imId)
{
    return "<td align=\"center\" valign=\"bottom\">\r\n\t<a href=\"/" + name + "\" target=\"_blank\"><img src=\"" +
           portraitBase.toUtf8() + "/sys/portraitn/item/" + imId + ".jpg\" border=\"0\" alt=\"\"></a></td>\r\n";
}

QByteArray ProfilePage(const QString& portraitBase, const QList<QPair<QByteArray, QByteArray>>& entries)
{
    QByteArray page = "<html><body><table><tr>\r\n";
    for (const auto& entry : entries)
        page += ProfileEntry(portraitBase, entry.first, entry.second);
    return page + "</tr></table></body></html>\r\n";
}

// A server that answers every GET with one fault. What it would have said had
// it worked is a believable reply naming kGhostIp or the visitor "ghost", so a
// poll that used any of it would show.
class CFaultyServer
{
public:
    ~CFaultyServer() { Stop(); }

    bool Start(EFault fault, ESide side)
    {
        m_fault = fault;
        httplib::Server& server = m_server.Server();
        server.Get(".*", [this, side](const httplib::Request&, httplib::Response& res) { Answer(side, res); });
        if (!m_server.Start())
            return false;
        m_base = m_server.Base();
        if (fault == EFault::Down)
            m_server.Stop(); // the port is free again: nothing listens there
        return true;
    }
    void Stop()
    {
        {
            std::lock_guard lock(m_mutex);
            m_released = true;
        }
        m_wake.notify_all();
        m_server.Stop();
    }
    QString Base() const { return m_base; }
    int Requests() const { return m_requests.load(); }

private:
    QByteArray GoodReply(ESide side) const
    {
        if (side == ESide::Tracking)
            return kGhostIp.toUtf8() + "#||#http://127.0.0.1:1/item/ghost-item-address#||#x#||#|##|";
        return ProfilePage(m_base, {{"ghost", "gh01"}});
    }

    void Answer(ESide side, httplib::Response& res)
    {
        m_requests.fetch_add(1);
        const QByteArray good = GoodReply(side);
        switch (m_fault) {
        case EFault::Down:
            break;
        case EFault::Slow: {
            // Answers after a minute, unless the test ends first.
            std::unique_lock lock(m_mutex);
            m_wake.wait_for(lock, std::chrono::seconds(60), [this] { return m_released; });
            res.set_content(good.toStdString(), "text/html");
            break;
        }
        case EFault::Garbage: {
            const QByteArray garbage = RandomBytes(64 * 1024, 1234u + static_cast<unsigned>(m_requests.load()));
            res.set_content(garbage.toStdString(), "text/html");
            break;
        }
        case EFault::Http500:
            res.status = 500;
            res.set_content(good.toStdString(), "text/html");
            break;
        case EFault::HugeBody: {
            std::string body = good.toStdString();
            body.append(10 * 1024 * 1024, ' ');
            res.set_content(body, "text/html");
            break;
        }
        case EFault::CutBody: {
            // Promises twice what it sends, then drops the connection.
            const std::string body = good.toStdString();
            res.set_content_provider(body.size() * 2, "text/html",
                                     [body](size_t offset, size_t, httplib::DataSink& sink) {
                                         if (offset >= body.size())
                                             return false;
                                         sink.write(body.data(), body.size());
                                         return true;
                                     });
            break;
        }
        }
    }

    EFault m_fault = EFault::Down;
    CTestHttpServer m_server;
    QString m_base;
    std::atomic<int> m_requests{0};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_released = false;
};

class ServiceFaultTestBase
{
protected:
    static void StartShared()
    {
        s_service = new CLocalService;
        s_serviceStarted = s_service->Start();
        s_reader = new CIpLocator(QString(), QStringLiteral(MIREL_QQWRY_FILE));
    }
    static void StopShared()
    {
        delete s_service;
        s_service = nullptr;
        delete s_reader;
        s_reader = nullptr;
    }

    void Prepare()
    {
        ASSERT_TRUE(s_serviceStarted) << s_service->Error().toStdString();
        ASSERT_TRUE(s_reader->IsOpen()) << "no IP data file at " MIREL_QQWRY_FILE;
        SetHttpTimeouts(kConnectMs, kRequestMs);
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
    void Finish()
    {
        CloseStore();
        SetHttpTimeouts(0, 0);
        s_service->ApplyEndpoints();
        theSessionMan.SetRetention(-1000000); // forget every guest of this test
        theSessionMan.Expire();
        theSessionMan.SetRetention(3600);
    }

    // Runs the poll on a thread of its own, as the monitoring thread does,
    // while this (the window's) thread keeps handling timer events.
    qint64 PollOffThread(const QString& webId, const QString& account, const QString& imName, int* ticks)
    {
        QElapsedTimer timer;
        timer.start();
        std::atomic<bool> done{false};
        std::thread poll([&] {
            RefreshShop(webId, account, imName, QStringLiteral("hi $name$"), false);
            done.store(true);
        });
        QTimer tick;
        int count = 0;
        QObject::connect(&tick, &QTimer::timeout, &tick, [&count] { ++count; });
        tick.start(20);
        while (!done.load() && timer.elapsed() < 5 * kPollBoundMs)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        poll.join();
        if (ticks)
            *ticks = count;
        return timer.elapsed();
    }

    QString ItemUrl(int item) const { return s_service->ImBase() + QStringLiteral("/item/%1").arg(item); }

    static CLocalService* s_service;
    static bool s_serviceStarted;
    static CIpLocator* s_reader;

    QTemporaryDir m_dir;
    CMessageRecorder m_messages;
    CRecordingNotifier m_notifier;
    CRecordingBridge m_bridge{s_reader};
};

CLocalService* ServiceFaultTestBase::s_service = nullptr;
bool ServiceFaultTestBase::s_serviceStarted = false;
CIpLocator* ServiceFaultTestBase::s_reader = nullptr;

struct FaultCase
{
    ESide side;
    EFault fault;
};

std::string CaseName(const ::testing::TestParamInfo<FaultCase>& info)
{
    return std::string(info.param.side == ESide::Tracking ? "Tracking" : "Profile") + FaultName(info.param.fault);
}

class ServiceFaultTest : public ServiceFaultTestBase, public ::testing::TestWithParam<FaultCase>
{
protected:
    static void SetUpTestSuite() { StartShared(); }
    static void TearDownTestSuite() { StopShared(); }
    void SetUp() override { Prepare(); }
    void TearDown() override { Finish(); }
};

TEST_P(ServiceFaultTest, PollEndsInventsNothingAndTheNextGoodPollRecords)
{
    const FaultCase param = GetParam();
    const QString account = QStringLiteral("faultShop");
    const QString im = QStringLiteral("hiFault");
    const QString webId = s_service->RegisterAccount(account, QStringLiteral("pw"));
    ASSERT_FALSE(webId.isEmpty());
    ASSERT_TRUE(s_service->RecordPageView(webId, kFeedIp, ItemUrl(3)));
    ASSERT_TRUE(AddImVisitor(*s_service, im, QStringLiteral("real"), QStringLiteral("re01")));

    CFaultyServer faulty;
    ASSERT_TRUE(faulty.Start(param.fault, param.side));
    CEndpoints endpoints = s_service->MakeEndpoints();
    if (param.side == ESide::Tracking) {
        endpoints.trackingBase = faulty.Base();
    } else {
        endpoints.imProfileBase = faulty.Base();
        endpoints.imPortraitBase = faulty.Base();
    }
    SetEndpoints(endpoints);

    int ticks = 0;
    const qint64 elapsed = PollOffThread(webId, account, im, &ticks);
    EXPECT_LT(elapsed, kPollBoundMs) << "the poll outlived its time-outs";
    // The window's thread kept running its timers during the poll.
    if (elapsed > 500) {
        EXPECT_GT(ticks, 0);
    }
    if (param.fault != EFault::Down) {
        EXPECT_GE(faulty.Requests(), 1);
    }

    const auto rows = ReadRows(kClientColumns);
    if (param.side == ESide::Tracking) {
        // The named visitor is still recorded, with the placeholders of a feed that failed.
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0], (QStringList{QStringLiteral("real"), QStringLiteral("0,0,0,0"), QStringLiteral("未知区域"),
                                        QStringLiteral("未知链接"), QStringLiteral("re01")}));
    } else {
        EXPECT_TRUE(rows.empty()) << rows.size() << " visits from a failed profile page";
        EXPECT_TRUE(m_notifier.AlertTexts().isEmpty());
        EXPECT_EQ(m_notifier.StatusTextsOnly(), QStringList{QStringLiteral("正在刷新[faultShop]的店铺......")});
    }
    for (const QString& alert : m_notifier.AlertTexts())
        EXPECT_FALSE(alert.contains(kGhostIp) || alert.contains(QStringLiteral("ghost")));
    EXPECT_EQ(m_messages.Count(), 0u);
    faulty.Stop();

    // The service is back: the next poll records a new visitor with the feed's page view.
    s_service->ApplyEndpoints();
    ASSERT_TRUE(s_service->RecordPageView(webId, kFeedIp, ItemUrl(4)));
    ASSERT_TRUE(AddImVisitor(*s_service, im, QStringLiteral("after"), QStringLiteral("af01")));
    m_notifier.Clear();
    PollOffThread(webId, account, im, nullptr);
    const auto after = ReadRows(QStringLiteral("select [guestname], [ip], [city], [shopurl], [imuid] from [client] "
                                               "where [guestname] = 'after'"));
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0], (QStringList{QStringLiteral("after"), kFeedIp, s_reader->Lookup(kFeedIp), ItemUrl(4),
                                     QStringLiteral("af01")}));
    EXPECT_EQ(m_notifier.AlertTexts().size(), 1);
    EXPECT_EQ(ReadRows(QStringLiteral("select [id] from [client] where [guestname] = 'ghost'")).size(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ServiceFaultTest,
    ::testing::Values(FaultCase{ESide::Tracking, EFault::Down}, FaultCase{ESide::Tracking, EFault::Slow},
                      FaultCase{ESide::Tracking, EFault::Garbage}, FaultCase{ESide::Tracking, EFault::Http500},
                      FaultCase{ESide::Tracking, EFault::HugeBody}, FaultCase{ESide::Tracking, EFault::CutBody},
                      FaultCase{ESide::Profile, EFault::Down}, FaultCase{ESide::Profile, EFault::Slow},
                      FaultCase{ESide::Profile, EFault::Garbage}, FaultCase{ESide::Profile, EFault::Http500},
                      FaultCase{ESide::Profile, EFault::HugeBody}, FaultCase{ESide::Profile, EFault::CutBody}),
    CaseName);

// Profile pages the IM service serves with odd contents.
class ProfilePageTest : public ServiceFaultTestBase, public ::testing::Test
{
protected:
    static void SetUpTestSuite() { StartShared(); }
    static void TearDownTestSuite() { StopShared(); }
    void SetUp() override
    {
        Prepare();
        m_server.Server().Get(".*", [this](const httplib::Request&, httplib::Response& res) {
            std::lock_guard lock(m_pageMutex);
            res.set_content(m_page.toStdString(), "text/html");
        });
        ASSERT_TRUE(m_server.Start());
        CEndpoints endpoints = s_service->MakeEndpoints();
        endpoints.imProfileBase = m_server.Base();
        endpoints.imPortraitBase = m_server.Base();
        SetEndpoints(endpoints);
        m_webId = s_service->RegisterAccount(QStringLiteral("pageShop"), QStringLiteral("pw"));
        ASSERT_FALSE(m_webId.isEmpty());
    }
    void TearDown() override
    {
        m_server.Stop();
        Finish();
    }
    void SetPage(const QByteArray& page)
    {
        std::lock_guard lock(m_pageMutex);
        m_page = page;
    }
    QStringList RecordedNames()
    {
        QStringList names;
        for (const QStringList& row : ReadRows(QStringLiteral("select [guestname] from [client] order by [id]")))
            names.append(row.value(0));
        return names;
    }
    void Poll() { RefreshShop(m_webId, QStringLiteral("pageShop"), QStringLiteral("hiPage"), QString(), false); }

    CTestHttpServer m_server;
    std::mutex m_pageMutex;
    QByteArray m_page;
    QString m_webId;
};

TEST_F(ProfilePageTest, TenThousandEntriesGiveTheFirstTwoHundredRecordedOnce)
{
    constexpr int kEntries = 10000;
    constexpr int kTaken = 200;
    QList<QPair<QByteArray, QByteArray>> entries;
    for (int i = 0; i < kEntries; ++i)
        entries.append({"v" + QByteArray::number(i), "id" + QByteArray::number(i)});
    SetPage(ProfilePage(m_server.Base(), entries));

    QStringList names;
    QStringList ids;
    FetchProfileVisitors(QStringLiteral("hiPage"), names, ids);
    ASSERT_EQ(names.size(), kTaken);
    ASSERT_EQ(ids.size(), kTaken);
    EXPECT_EQ(names.first(), QStringLiteral("v0"));
    EXPECT_EQ(ids.last(), QStringLiteral("id199"));

    Poll();
    const QStringList recorded = RecordedNames();
    ASSERT_EQ(recorded.size(), kTaken);
    // Last entry first.
    EXPECT_EQ(recorded.first(), QStringLiteral("v199"));
    EXPECT_EQ(recorded.last(), QStringLiteral("v0"));
    EXPECT_EQ(m_notifier.AlertTexts().size(), 1);

    // Again: nobody new.
    Poll();
    EXPECT_EQ(RecordedNames().size(), kTaken);
    EXPECT_EQ(m_notifier.AlertTexts().size(), 1);
}

TEST_F(ProfilePageTest, NamesOfFiftyCharactersCountAndFiftyOneDoNot)
{
    const QByteArray fifty(50, 'a');
    const QByteArray fiftyOne(51, 'b');
    // 50 characters as written, of which the escapes (one GBK character) decode to fewer.
    const QByteArray fiftyEncoded = "%D5%C5" + QByteArray(44, 'c');
    const QByteArray fiftyOneEncoded = "%D5%C5" + QByteArray(45, 'd');
    SetPage(ProfilePage(m_server.Base(),
                        {{fifty, "i50"}, {fiftyOne, "i51"}, {fiftyEncoded, "e50"}, {fiftyOneEncoded, "e51"}}));
    Poll();
    QStringList names;
    QStringList ids;
    FetchProfileVisitors(QStringLiteral("hiPage"), names, ids);
    EXPECT_EQ(ids, (QStringList{QStringLiteral("i50"), QStringLiteral("e50")}));
    EXPECT_EQ(names, (QStringList{QString::fromLatin1(fifty), QStringLiteral("张") + QString(44, QLatin1Char('c'))}));
    EXPECT_EQ(RecordedNames(), (QStringList{names[1], names[0]}));
}

struct BrokenPage
{
    const char* name;
    QByteArray tail; // after one well-formed entry
    QStringList expected;
};

TEST_F(ProfilePageTest, BrokenMarkupKeepsTheWellFormedEntriesAndNothingElse)
{
    const QByteArray marker = "<td align=\"center\" valign=\"bottom\">\r\n\t<a href=\"/";
    const QByteArray prefix = m_server.Base().toUtf8() + "/sys/portraitn/item/";
    const QByteArray nul(1, '\0');
    const std::vector<BrokenPage> pages = {
        {"cut after the marker", marker + "cutname", {QStringLiteral("good")}},
        {"no portrait after the name", marker + "lonely\" target=\"_blank\"></a></td>", {QStringLiteral("good")}},
        {"portrait without a full stop", marker + "nodot\"><img src=\"" + prefix + "abc", {QStringLiteral("good")}},
        {"empty name", marker + "\"><img src=\"" + prefix + "e1.jpg\">", {QStringLiteral("good")}},
        {"empty IM ID", marker + "noid\"><img src=\"" + prefix + ".jpg\">", {QStringLiteral("good")}},
        {"marker without quotes",
         "<td align=center valign=bottom>\r\n\t<a href=/x><img src=" + prefix + "x1.jpg>",
         {QStringLiteral("good")}},
        {"markers only", marker + marker + marker + "\"" + marker, {QStringLiteral("good")}},
        {"NUL bytes and lone escapes", marker + "z%" + nul + "%zz%4\"><img src=\"" + prefix + "n%" + nul + ".jpg", {}},
        {"unclosed tags", "<td <a <img <<<<>>>> </td </tr", {QStringLiteral("good")}},
    };
    for (const BrokenPage& page : pages) {
        SCOPED_TRACE(page.name);
        ASSERT_TRUE(g_pConnection->Execute(QStringLiteral("delete from [client]")));
        SetPage(ProfilePage(m_server.Base(), {{"good", "g1"}}) + page.tail);
        QStringList names;
        QStringList ids;
        FetchProfileVisitors(QStringLiteral("hiPage"), names, ids);
        ASSERT_EQ(names.size(), ids.size());
        ASSERT_GE(names.size(), 1);
        EXPECT_EQ(names.first(), QStringLiteral("good"));
        if (!page.expected.isEmpty()) {
            EXPECT_EQ(names, page.expected);
        }
        Poll();
        // Whatever is recorded is an entry the page really had (a name with a NUL may be refused).
        const QStringList recorded = RecordedNames();
        EXPECT_TRUE(recorded.contains(QStringLiteral("good")));
        for (const QString& name : recorded)
            EXPECT_TRUE(names.contains(name)) << name.toStdString();
    }
    // A well-formed page afterwards is read as usual.
    SetPage(ProfilePage(m_server.Base(), {{"fine", "f1"}}));
    Poll();
    EXPECT_TRUE(RecordedNames().contains(QStringLiteral("fine")));
}

// The IP data file broken in three ways: the poll still records the visit,
// with whatever region the reader could tell, and never crashes.
enum class EIpFile
{
    Missing,
    Truncated,
    RandomBytes
};

class IpFileFaultTest : public ServiceFaultTestBase, public ::testing::TestWithParam<EIpFile>
{
protected:
    static void SetUpTestSuite() { StartShared(); }
    static void TearDownTestSuite() { StopShared(); }
    void SetUp() override { Prepare(); }
    void TearDown() override { Finish(); }
};

TEST_P(IpFileFaultTest, PollRecordsTheVisitAndLookupsStayBounded)
{
    const QString path = m_dir.filePath(QStringLiteral("QQWry.Dat"));
    QFile real(QStringLiteral(MIREL_QQWRY_FILE));
    ASSERT_TRUE(real.open(QIODevice::ReadOnly));
    if (GetParam() != EIpFile::Missing) {
        QFile broken(path);
        ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
        if (GetParam() == EIpFile::Truncated)
            broken.write(real.read(real.size() / 2));
        else
            broken.write(RandomBytes(256 * 1024, 77u));
    }
    CIpLocator reader(QString(), path);
    EXPECT_EQ(reader.IsOpen(), GetParam() != EIpFile::Missing);
    CRecordingBridge bridge(&reader);

    const QString webId = s_service->RegisterAccount(QStringLiteral("ipShop"), QStringLiteral("pw"));
    ASSERT_TRUE(s_service->RecordPageView(webId, kFeedIp, ItemUrl(2)));
    ASSERT_TRUE(AddImVisitor(*s_service, QStringLiteral("hiIp"), QStringLiteral("roamer"), QStringLiteral("ro1")));
    RefreshShop(webId, QStringLiteral("ipShop"), QStringLiteral("hiIp"), QString(), false);

    const auto rows = ReadRows(kClientColumns);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].value(0), QStringLiteral("roamer"));
    EXPECT_EQ(rows[0].value(1), kFeedIp);
    EXPECT_EQ(rows[0].value(2), reader.Lookup(kFeedIp));
    if (GetParam() == EIpFile::Missing) {
        EXPECT_EQ(rows[0].value(2), QStringLiteral("没有查到相关信息"));
    }

    // Many addresses, so reads run everywhere in the broken file.
    std::mt19937 random(5);
    for (int i = 0; i < 2000; ++i) {
        const quint32 ip = random();
        const QString text =
            QStringLiteral("%1.%2.%3.%4").arg(ip >> 24).arg((ip >> 16) & 0xFF).arg((ip >> 8) & 0xFF).arg(ip & 0xFF);
        const QString region = reader.Lookup(text);
        ASSERT_LT(region.size(), 1000);
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, IpFileFaultTest,
                         ::testing::Values(EIpFile::Missing, EIpFile::Truncated, EIpFile::RandomBytes),
                         [](const ::testing::TestParamInfo<EIpFile>& info) {
                             switch (info.param) {
                             case EIpFile::Missing:
                                 return std::string("Missing");
                             case EIpFile::Truncated:
                                 return std::string("Truncated");
                             case EIpFile::RandomBytes:
                                 return std::string("RandomBytes");
                             }
                             return std::string("Other");
                         });

} // namespace
