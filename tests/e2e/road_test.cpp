// The whole road of one page view, on real processes over loopback under
// Xvfb: rivuzovara-local, hichat as the desktop's "lumochat://" handler, a
// window manager and a tray host. A shop account is added through the
// configuration page, a shopper opens an item page (the tracking snippet's
// shop.asp) and shows up on the shop's IM profile page; one polling cycle
// later there is a visit, an alert balloon, a status text, a list row, a
// queued greeting and the greeting in the chat client. Then monitoring
// stops, the tray menu ends the program and the store is intact.
// The second half runs the built program itself, prepared the way
// scripts/run --demo prepares it.
#include "support/TestMain.h"

#include "accounts/Autorun.h"
#include "accounts/LiveSettings.h"
#include "accounts/ui/ConfigDlg.h"
#include "app/MainFrame.h"
#include "app/MirelHelperApp.h"
#include "app/MirelHelperView.h"
#include "controls/ui/SortListCtrl.h"
#include "greet/ImClient.h"
#include "iploc/IpdbReader.h"
#include "monitor/MonitorClientThread.h"
#include "monitor/ui/Explorer_showuserinfo.h"
#include "monitor/ui/UserListDlg.h"
#include "notify/OwnerNotifier.h"
#include "platform/DataDirectory.h"
#include "platform/Workers.h"
#include "store/AdoConnection.h"
#include "support/FileOpenWatch.h"
#include "support/Hichat.h"
#include "support/LocalService.h"
#include "support/StoreTestSupport.h"
#include "support/XvfbSession.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHelpEvent>
#include <QImage>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <memory>
#include <mutex>

#include <ostream>

#include <sys/stat.h>

// Last: it brings in Xlib, whose macros would clash with Qt's headers.
#include "road_support.h"

// Failure messages show texts as texts.
void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

const QString kAccount = QStringLiteral("road_shop");
const QString kPassword = QStringLiteral("road-pw");
const QString kImName = QStringLiteral("road_im");
const QString kVisitor = QStringLiteral("买家张三");
const QString kVisitorImId = QStringLiteral("7a3f09");
// A mobile shopper over IPv6 (China Telecom, Sichuan).
const QString kShopperIp = QStringLiteral("240e:3b7:3272:d8d0::1");
const QString kShopperRegion = QStringLiteral("四川 中国电信");
const QString kItemTitle = QStringLiteral("首页-手工陶瓷茶杯套装 - Lumo网");
// What the alert shows of that title.
const QString kItemTitleShown = QStringLiteral("手工陶瓷茶杯套装");
const QString kGreeting = QStringLiteral("您好 [username]，欢迎光临本店！[randomcode]");

// Sees every status text and alert on its way to the main window.
class CRoadObserver : public IOwnerNotifier
{
public:
    void Install()
    {
        m_next = OwnerNotifier();
        SetOwnerNotifier(this);
    }
    void ShowStatusMessage(const QString& text) override
    {
        {
            std::lock_guard lock(m_mutex);
            m_statuses.append(text);
        }
        if (m_next)
            m_next->ShowStatusMessage(text);
    }
    void AlertOwner(const QString& text) override { AlertOwnerAbout(text, QString(), QString()); }
    void AlertOwnerAbout(const QString& text, const QString& shop, const QString& visitor) override
    {
        {
            std::lock_guard lock(m_mutex);
            m_alerts.append(text);
        }
        if (m_next)
            m_next->AlertOwnerAbout(text, shop, visitor);
    }
    QStringList Alerts() const
    {
        std::lock_guard lock(m_mutex);
        return m_alerts;
    }
    QStringList Statuses() const
    {
        std::lock_guard lock(m_mutex);
        return m_statuses;
    }

private:
    IOwnerNotifier* m_next = nullptr;
    mutable std::mutex m_mutex;
    QStringList m_alerts;
    QStringList m_statuses;
};

// The texts of the balloons on the screen (Qt draws its own next to the tray icon).
QStringList BalloonTexts()
{
    QStringList texts;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->inherits("QBalloonTip") && widget->isVisible()) {
            for (const QLabel* label : widget->findChildren<QLabel*>())
                texts.append(label->text());
        }
    }
    return texts;
}

// Qt's own balloon by the tray icon, when one is up.
QWidget* VisibleBalloon()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->inherits("QBalloonTip") && widget->isVisible())
            return widget;
    }
    return nullptr;
}

// Where the windows of a process are, for failure messages.
QString WindowsOf(qint64 pid);

bool HasShownMessage(const CMessageRecorder& boxes, const QString& text)
{
    for (const CShownMessage& shown : boxes.Shown()) {
        if (shown.text == text)
            return true;
    }
    return false;
}

QString Dump(const QStringList& texts)
{
    return texts.join(QStringLiteral(" | "));
}

class RoadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "runs on an X display (ctest uses xvfb-run)";
        ASSERT_TRUE(m_home.isValid());
        ASSERT_TRUE(m_windowManager.Start()) << "matchbox-window-manager";
        ASSERT_TRUE(m_trayHost.Start()) << "trayer did not take the notification area";
        ASSERT_TRUE(m_service.Start()) << qPrintable(m_service.Error());
        ASSERT_TRUE(m_hichat.Register()) << qPrintable(m_hichat.Error());
        ASSERT_TRUE(m_hichat.Start()) << qPrintable(m_hichat.Error());
        ASSERT_TRUE(m_reader.Open(QStringLiteral(MIREL_IPDB_FILE))) << "scripts/bootstrap fetches it";
        WriteSettingsFile();
    }

    void TearDown() override
    {
        m_hichat.Stop();
        m_service.Stop();
        m_trayHost.Stop();
        m_windowManager.Stop();
    }

    // mirelhelper.ini pointing at this test's service; the alert sound goes nowhere.
    void WriteSettingsFile()
    {
        const CEndpoints e = m_service.MakeEndpoints();
        QFile ini(m_home.filePath(QStringLiteral("mirelhelper.ini")));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly | QIODevice::Text));
        ini.write(QStringLiteral("[endpoints]\ntracking_base=%1\nim_profile_base=%2\nim_portrait_base=%3\n"
                                 "im_presence_base=%4\nim_message_page=%5\nim_image_base=%6\nmaker_site=%7\n"
                                 "[sound]\ndevice=null\n")
                      .arg(e.trackingBase, e.imProfileBase, e.imPortraitBase, e.imPresenceBase, e.imMessagePage,
                           e.imImageBase, e.makerSite)
                      .toUtf8());
    }

    QString DatabasePath() const { return m_home.filePath(QStringLiteral("Info.mdb")); }
    QString ItemUrl() const { return m_service.ImBase() + QStringLiteral("/item/7"); }

    // A shopper opens the item page, whose tracking snippet asks shop.asp for
    // its image; then the shopper shows up on the shop's IM profile page.
    // (In this order a poll in between never pairs the name with an older page view.)
    void ShopperVisits(const QString& webId, const QString& visitor, const QString& imId)
    {
        ASSERT_EQ(m_service.GetTracking(QStringLiteral("/rivuzovara/shop.asp?id=%1&ip=%2&url=%3")
                                            .arg(QueryValue(webId), QueryValue(kShopperIp), QueryValue(ItemUrl()))),
                  200);
        ASSERT_EQ(m_service.GetIm(QStringLiteral("/admin/im/visit?imname=%1&name=%2&imid=%3")
                                      .arg(QueryValue(kImName), QueryValue(visitor), QueryValue(imId))),
                  200);
    }

    QList<QStringList> VisitsOf(const QString& visitor) const
    {
        return road::QueryFile(DatabasePath(),
                               QStringLiteral("select [guestname],[ip],[shopname],[lasttime],[count],[city],[shopurl],"
                                              "[imuid] from [client] where [guestname] = '%1'")
                                   .arg(visitor));
    }

    QTemporaryDir m_home;
    CWindowManager m_windowManager;
    road::CTrayHost m_trayHost;
    CLocalService m_service;
    CHichatSession m_hichat;
    CIpdbReader m_reader;
};

// ---- the program in this process, driven through its windows

struct CRoadRun
{
    CMirelHelperApp* app = nullptr;
    std::unique_ptr<CMessageRecorder> boxes;
    CRoadObserver observer;
    QString webId;
    QString region;
    bool exitClicked = false;
    QElapsedTimer exitClock;
    qint64 exitMs = -1;
    bool workersStopped = false;
};

class InProcessRoadTest : public RoadTest
{
public:
    // The program in this process, its data directory this test's; drive runs
    // once the event loop does. The program's exit code.
    int RunProgram(CRoadRun& run, void (InProcessRoadTest::*drive)(CRoadRun&));
    void Drive(CRoadRun& run);
    void DriveHostileNames(CRoadRun& run);

protected:
    void AddAccountThroughConfigurationPage(CRoadRun& run, CMainFrame* frame);
    void ExitThroughTrayMenu(CRoadRun& run, CMainFrame* frame);
};

void InProcessRoadTest::AddAccountThroughConfigurationPage(CRoadRun& run, CMainFrame* frame)
{
    frame->Action(CMainFrame::kCmdConfig)->trigger();
    CConfigDlg* page = g_pConfigDlg;
    ASSERT_NE(page, nullptr);
    ASSERT_TRUE(WaitUntil([page] { return page->isVisible(); }, 5000));
    auto edit = [page](const char* name) { return page->findChild<QLineEdit*>(QLatin1String(name)); };
    auto button = [page](const char* name) { return page->findChild<QPushButton*>(QLatin1String(name)); };
    for (const char* name : {"refreshIntervalEdit", "accountNameEdit", "greetingAccountEdit", "passwordEdit"})
        ASSERT_NE(edit(name), nullptr) << name;
    for (const char* name : {"saveSettingsButton", "addAccountButton", "monitorToggleButton"})
        ASSERT_NE(button(name), nullptr) << name;

    // The shortest polling interval.
    edit("refreshIntervalEdit")->clear();
    QTest::keyClicks(edit("refreshIntervalEdit"), QStringLiteral("20"));
    QTest::mouseClick(button("saveSettingsButton"), Qt::LeftButton);
    ASSERT_TRUE(HasShownMessage(*run.boxes, QStringLiteral("系统设置保存成功！")));
    EXPECT_EQ(LiveSettings().reflashtime.load(), 20);
    EXPECT_EQ(road::QueryFile(DatabasePath(), QStringLiteral("select [reflashtime],[clienttip] from [sysseting]")),
              (QList<QStringList>{{QStringLiteral("20"), QStringLiteral("1")}}));

    QTest::keyClicks(edit("accountNameEdit"), kAccount);
    QTest::keyClicks(edit("greetingAccountEdit"), kImName);
    QTest::keyClicks(edit("passwordEdit"), kPassword);
    auto* greeting = page->findChild<QPlainTextEdit*>(QStringLiteral("greetingTextEdit"));
    ASSERT_NE(greeting, nullptr);
    greeting->setPlainText(kGreeting);
    auto* autoGreet = page->findChild<QCheckBox*>(QStringLiteral("greetingSwitchCheck"));
    ASSERT_NE(autoGreet, nullptr);
    ASSERT_TRUE(autoGreet->isChecked());

    QPushButton* add = button("addAccountButton");
    QTest::mouseClick(add, Qt::LeftButton);
    const QString added = QStringLiteral("账户[%1]，添加成功！").arg(kAccount);
    ASSERT_TRUE(WaitUntil([&] { return add->isEnabled() && HasShownMessage(*run.boxes, added); }, 30000))
        << "boxes: " << run.boxes->Count();

    // Stored with the web ID the service issued, the IM name known to the service.
    EXPECT_EQ(road::QueryFile(DatabasePath(), QStringLiteral("select [username],[usersmailname],[password],[webid],"
                                                             "[messageinfo],[autosend] from [user]")),
              (QList<QStringList>{{kAccount, kImName, kPassword, run.webId, kGreeting, QStringLiteral("1")}}));
    EXPECT_TRUE(m_service.AccountsJson().contains(QStringLiteral("\"imName\":\"%1\"").arg(kImName).toUtf8()))
        << m_service.AccountsJson().constData();
    auto* list = page->findChild<QListWidget*>(QStringLiteral("accountList"));
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(list->item(0)->text(), kAccount);
    // The flow started monitoring again.
    ASSERT_TRUE(WaitUntil([page] { return page->IsMonitoring() && CMonitorClientThread::LiveCount() == 1; }, 15000));
    ASSERT_TRUE(page->IsGreetingRunning());
}

void InProcessRoadTest::ExitThroughTrayMenu(CRoadRun& run, CMainFrame* frame)
{
    QSystemTrayIcon* icon = frame->TrayIcon().SystemTrayIcon();
    ASSERT_NE(icon, nullptr);
    ASSERT_TRUE(icon->isVisible());
    // A busy tray host may still be placing the icon when the first click comes: click again where it is now.
    const auto menuShown = [frame] { return frame->TrayIcon().Menu() && frame->TrayIcon().Menu()->isVisible(); };
    for (int attempt = 0; attempt < 3 && !menuShown(); ++attempt) {
        const QRect where = icon->geometry();
        ASSERT_TRUE(where.isValid()) << "the tray icon has no place on the screen";
        road::FakeClick(where.center(), 3);
        WaitUntil(menuShown, 5000);
    }
    ASSERT_TRUE(menuShown()) << "no menu after three right clicks on the tray icon";
    QMenu* menu = frame->TrayIcon().Menu();
    QStringList items;
    for (const QAction* action : menu->actions())
        items.append(action->text());
    EXPECT_EQ(items, (QStringList{QStringLiteral("隐藏"), QStringLiteral("显示"), QStringLiteral("退出")}));
    QAction* exitAction = menu->findChild<QAction*>(QStringLiteral("trayExitAction"));
    ASSERT_NE(exitAction, nullptr);
    const QPoint at = menu->mapToGlobal(menu->actionGeometry(exitAction).center());
    run.exitClock.start();
    road::FakeClick(at, 1);
    run.exitClicked = true;
    ASSERT_TRUE(WaitUntil([&run] { return run.app->Exiting(); }, 5000)) << "the menu's 退出 did not start the exit";
}

void InProcessRoadTest::Drive(CRoadRun& run)
{
    // Boxes are recorded from here on; the alert and status texts are seen on their way.
    run.boxes = std::make_unique<CMessageRecorder>();
    run.observer.Install();
    CMainFrame* frame = run.app->MainFrame();
    ASSERT_NE(frame, nullptr);
    ASSERT_TRUE(WaitUntil([frame] { return frame->isVisible(); }, 10000));
    // A tray host ran before the start: the icon is there, in balloon mode.
    ASSERT_TRUE(frame->IconShown());
    ASSERT_TRUE(frame->TrayIcon().IsBalloonMode());
    ASSERT_NE(g_pUserListDlg, nullptr);

    AddAccountThroughConfigurationPage(run, frame);
    if (HasFatalFailure())
        return;

    // Every greeting queued is kept aside for the test, whatever the sender does with the queue.
    ASSERT_TRUE(g_pConnection->Execute(
        QStringLiteral("create table [road_queued] ([ClientName] Text, [UserName] Text, [Message] Text)")));
    ASSERT_TRUE(g_pConnection->Execute(QStringLiteral(
        "create trigger [road_queue_seen] after insert on [AutoSend] begin insert into [road_queued] values "
        "(new.[ClientName], new.[UserName], new.[Message]); end")));

    ShopperVisits(run.webId, kVisitor, kVisitorImId);
    if (HasFatalFailure())
        return;

    // One polling cycle: the visit is recorded, tied to the page view.
    ASSERT_TRUE(WaitUntil([&] { return !VisitsOf(kVisitor).isEmpty(); }, 45000))
        << "no visit; statuses: " << qPrintable(Dump(run.observer.Statuses()));
    const QList<QStringList> visits = VisitsOf(kVisitor);
    ASSERT_EQ(visits.size(), 1);
    const QStringList visit = visits.first();
    const QString time = visit.value(3);
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}$")).match(time).hasMatch())
        << qPrintable(time);
    EXPECT_EQ(visit, (QStringList{kVisitor, kShopperIp, kAccount, time, QStringLiteral("1"), run.region, ItemUrl(),
                                  kVisitorImId}));

    // The alert names visitor, address, region, shop and the item's title, in a balloon by the tray icon.
    const QString alert = QStringLiteral("新客户[%1]\r\nIP:%2\r\n来自:%3\r\n访问[%4]的网店\r\n商品:%5")
                              .arg(kVisitor, kShopperIp, run.region, kAccount, kItemTitleShown);
    ASSERT_TRUE(WaitUntil([&] { return run.observer.Alerts().contains(alert); }, 10000))
        << "alerts: " << qPrintable(Dump(run.observer.Alerts()));
    EXPECT_EQ(run.observer.Alerts().size(), 1) << qPrintable(Dump(run.observer.Alerts()));
    EXPECT_TRUE(WaitUntil([&] { return BalloonTexts().contains(alert); }, 5000))
        << "balloons: " << qPrintable(Dump(BalloonTexts()));
    EXPECT_EQ(frame->TrayIcon().BalloonText(), alert);

    // The poll's progress and outcome in the status bar's information pane.
    const QString outcome = QStringLiteral("顾客[%1]在 %2 访问了[%3]的网店!").arg(kVisitor, time, kAccount);
    QLabel* pane = frame->Pane(CMainFrame::kInfoPane);
    ASSERT_NE(pane, nullptr);
    EXPECT_TRUE(WaitUntil([&] { return pane->text() == outcome; }, 5000)) << qPrintable(pane->text());
    EXPECT_TRUE(run.observer.Statuses().contains(QStringLiteral("正在刷新[%1]的店铺......").arg(kAccount)))
        << qPrintable(Dump(run.observer.Statuses()));

    // The visitor list was refilled before that status.
    CSortListCtrl* rows = g_pUserListDlg->List();
    ASSERT_NE(rows, nullptr);
    ASSERT_EQ(rows->GetItemCount(), 1);
    QStringList row;
    for (int column = 0; column < 7; ++column)
        row.append(rows->GetItemText(0, column));
    EXPECT_EQ(row, (QStringList{kVisitor, kShopperIp, kAccount, time, QStringLiteral("1"), run.region, ItemUrl()}));

    // One greeting was queued, unexpanded, and then arrived in the chat client expanded.
    EXPECT_EQ(road::QueryFile(DatabasePath(), QStringLiteral("select * from [road_queued]")),
              (QList<QStringList>{{kVisitor, kAccount, kGreeting}}));
    ASSERT_TRUE(m_hichat.WaitForMessages(1, 30000)) << "nothing reached hichat";
    const QList<QJsonObject> messages = m_hichat.Messages();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0].value(QStringLiteral("id")).toString(), kVisitor);
    EXPECT_EQ(messages[0].value(QStringLiteral("sid")).toString(), kAccount);
    const QString sent = messages[0].value(QStringLiteral("text")).toString();
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^您好 买家张三，欢迎光临本店！[0-9A-F]{32}$")).match(sent).hasMatch())
        << qPrintable(sent);
    // The sender emptied the queue after its pass.
    EXPECT_TRUE(WaitUntil(
        [&] {
            return road::QueryFile(DatabasePath(), QStringLiteral("select count(*) from [AutoSend]")) ==
                   QList<QStringList>{{QStringLiteral("0")}};
        },
        10000));
    // The greeting's chat has been closed; a click on the alert's balloon opens the visitor's chat again.
    CXConnection x;
    ASSERT_TRUE(x);
    ASSERT_TRUE(WaitUntil([&] { return FindChatWindow(x.get(), kVisitor) == 0; }, 15000));
    frame->Action(CMainFrame::kCmdLastAlert)->trigger();
    QWidget* balloon = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (balloon = VisibleBalloon()) != nullptr; }, 5000));
    ASSERT_TRUE(BalloonTexts().contains(alert)) << qPrintable(Dump(BalloonTexts()));
    road::FakeClick(balloon->frameGeometry().center(), 1);
    EXPECT_TRUE(WaitUntil(
        [&] {
            const unsigned long chat = FindChatWindow(x.get(), kVisitor);
            return chat != 0 && IsWindowViewable(chat);
        },
        15000))
        << "no chat with " << qPrintable(kVisitor) << " after a click on the balloon";

    // Only the two the owner's own steps asked for: settings saved, account added.
    QStringList boxTexts;
    for (const CShownMessage& shown : run.boxes->Shown())
        boxTexts.append(shown.text);
    EXPECT_EQ(boxTexts.size(), 2) << qPrintable(Dump(boxTexts));

    // Monitoring stops at the page's switch, and its thread ends.
    CConfigDlg* page = g_pConfigDlg;
    QPushButton* monitor = page->findChild<QPushButton*>(QStringLiteral("monitorToggleButton"));
    QTest::mouseClick(monitor, Qt::LeftButton);
    EXPECT_TRUE(WaitUntil([&] { return !page->IsMonitoring() && CMonitorClientThread::LiveCount() == 0; }, 15000));
    EXPECT_EQ(monitor->text(), QStringLiteral("开始监视"));

    ExitThroughTrayMenu(run, frame);
}

int InProcessRoadTest::RunProgram(CRoadRun& run, void (InProcessRoadTest::*drive)(CRoadRun&))
{
    // The data directory holds the IP data, as an installed program's does after its first start.
    EXPECT_TRUE(QFile::copy(QStringLiteral(MIREL_QQWRY_FILE), m_home.filePath(QStringLiteral("QQWry.Dat"))));
    EXPECT_TRUE(QFile::copy(QStringLiteral(MIREL_IPDB_FILE), m_home.filePath(QStringLiteral("qqwry.ipdb"))));
    qputenv("MIRELHELP_HOME", m_home.path().toUtf8());
    struct CUnsetHome
    {
        ~CUnsetHome() { qunsetenv("MIRELHELP_HOME"); }
    } unsetHome;
    SetDataDirectory(m_home.path());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_home.filePath(QStringLiteral("settings")));
    SetAutostartDirectory(m_home.filePath(QStringLiteral("autostart")));

    CMirelHelperApp app;
    run.app = &app;
    QTimer::singleShot(0, qApp, [&] {
        (this->*drive)(run);
        // A failed step still ends the program, through the same command.
        if (!run.exitClicked && app.MainFrame())
            app.MainFrame()->OnAppExit();
    });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, qApp, [] { QCoreApplication::exit(99); });
    guard.start(240000);
    const int code = app.Run();
    run.exitMs = run.exitClock.isValid() ? run.exitClock.elapsed() : -1;
    guard.stop();
    run.boxes.reset();
    run.workersStopped = app.WorkersStopped();
    run.app = nullptr;
    return code;
}

TEST_F(InProcessRoadTest, PageViewBecomesVisitAlertListRowAndGreetingThenTheTrayMenuEndsTheProgram)
{
    CRoadRun run;
    run.webId = m_service.RegisterAccount(kAccount, kPassword);
    ASSERT_FALSE(run.webId.isEmpty());
    ASSERT_EQ(m_service.GetIm(QStringLiteral("/admin/im/item?n=7&title=") + QueryValue(kItemTitle)), 200);
    // The IPv6 shopper's region, which only the ipdb data knows.
    run.region = kShopperRegion;

    const int code = RunProgram(run, &InProcessRoadTest::Drive);
    const qint64 exitMs = run.exitMs;

    EXPECT_EQ(code, 0);
    ASSERT_TRUE(run.exitClicked);
    EXPECT_TRUE(run.workersStopped);
    EXPECT_EQ(CWorkerRegistry::RunningCount(), 0);
    EXPECT_GE(exitMs, 0);
    EXPECT_LT(exitMs, CMirelHelperApp::kExitWaitMs + 3000) << "the program took " << exitMs << " ms to end";
    EXPECT_EQ(road::IntegrityCheck(DatabasePath()), QStringLiteral("ok"));
    EXPECT_EQ(VisitsOf(kVisitor).size(), 1);
}

// ---- visitors who choose hostile names

// What a tooltip or another markup text shows, as plain text.
QString ShownText(const QString& markup)
{
    QTextDocument document;
    document.setHtml(markup);
    return document.toPlainText();
}

// A file no widget may open, whatever a visitor's name says.
QString g_watchedFile;
CFileOpenWatch* g_watch = nullptr;

void InProcessRoadTest::DriveHostileNames(CRoadRun& run)
{
    run.boxes = std::make_unique<CMessageRecorder>();
    run.observer.Install();
    CMainFrame* frame = run.app->MainFrame();
    ASSERT_NE(frame, nullptr);
    ASSERT_TRUE(WaitUntil([frame] { return frame->isVisible(); }, 10000));
    AddAccountThroughConfigurationPage(run, frame);
    if (HasFatalFailure())
        return;

    // The names as the profile page writes them (raw), and as the program reads them.
    const QString image = QStringLiteral("<img src=%1>").arg(g_watchedFile);
    const QString bold = QStringLiteral("<b>粗体</b>");
    const QString link = QStringLiteral("<a href=\"file:///etc/passwd\">x</a>");
    const QString linkOnPage = QStringLiteral("<a href=%22file:///etc/passwd%22>x</a>");
    auto visit = [&](const QString& onPage, const QString& imId, const QString& extra = QString()) {
        ASSERT_EQ(m_service.GetTracking(QStringLiteral("/rivuzovara/shop.asp?id=%1&ip=%2&url=%3")
                                            .arg(QueryValue(run.webId), QueryValue(kShopperIp), QueryValue(ItemUrl()))),
                  200);
        ASSERT_EQ(m_service.GetIm(QStringLiteral("/admin/im/visit?imname=%1&name=%2&imid=%3%4")
                                      .arg(QueryValue(kImName), QueryValue(onPage), imId, extra)),
                  200);
    };
    // A name of 10,000 characters: past the 50 a page entry may have, so nobody.
    visit(QStringLiteral("W"), QStringLiteral("h0"), QStringLiteral("&repeat=10000"));
    visit(bold, QStringLiteral("h1"), QStringLiteral("&raw=1"));
    visit(image, QStringLiteral("h2"), QStringLiteral("&raw=1"));
    if (HasFatalFailure())
        return;

    // One poll: both recorded, the newest entry alerted in a balloon and named in the status.
    ASSERT_TRUE(WaitUntil([&] { return !VisitsOf(image).isEmpty() && !VisitsOf(bold).isEmpty(); }, 45000))
        << "statuses: " << qPrintable(Dump(run.observer.Statuses()));
    const QString time = VisitsOf(image).value(0).value(3);
    const QString alert = QStringLiteral("新客户[%1]\r\nIP:%2\r\n来自:%3\r\n访问[%4]的网店\r\n商品:%5")
                              .arg(image, kShopperIp, run.region, kAccount, QStringLiteral("商品7"));
    EXPECT_TRUE(WaitUntil([&] { return BalloonTexts().contains(alert); }, 10000))
        << "balloons: " << qPrintable(Dump(BalloonTexts()));
    const QString outcome = QStringLiteral("顾客[%1]在 %2 访问了[%3]的网店!").arg(image, time, kAccount);
    QLabel* pane = frame->Pane(CMainFrame::kInfoPane);
    EXPECT_TRUE(WaitUntil([&] { return pane->text() == outcome; }, 5000)) << qPrintable(pane->text());
    EXPECT_EQ(pane->textFormat(), Qt::PlainText);

    // In tip mode the next alert is the icon's tooltip.
    frame->OnTaskbarCreated();
    ASSERT_FALSE(frame->TrayIcon().IsBalloonMode());
    visit(linkOnPage, QStringLiteral("h3"), QStringLiteral("&raw=1"));
    ASSERT_TRUE(WaitUntil([&] { return !VisitsOf(link).isEmpty(); }, 45000));
    const QString tip = QStringLiteral("新客户[%1]\nIP:%2\n来自:%3\n访问[%4]的网店\n商品:%5")
                            .arg(link, kShopperIp, run.region, kAccount, QStringLiteral("商品7"));
    QSystemTrayIcon* icon = frame->TrayIcon().SystemTrayIcon();
    ASSERT_TRUE(WaitUntil([&] { return ShownText(icon->toolTip()) == tip; }, 10000)) << qPrintable(icon->toolTip());
    // Shown on the screen as when the mouse rests on the icon.
    QString shownTip;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->inherits("QSystemTrayIconSys") && widget->isVisible()) {
            QHelpEvent rest(QEvent::ToolTip, widget->rect().center(), widget->mapToGlobal(widget->rect().center()));
            QCoreApplication::sendEvent(widget, &rest);
        }
    EXPECT_TRUE(WaitUntil(
        [&] {
            for (QWidget* widget : QApplication::topLevelWidgets())
                if (auto* label = qobject_cast<QLabel*>(widget); label && widget->inherits("QTipLabel"))
                    shownTip = ShownText(label->text());
            return shownTip == tip;
        },
        10000))
        << qPrintable(shownTip);

    // The list and the card show each name as it is.
    CSortListCtrl* rows = g_pUserListDlg->List();
    ASSERT_TRUE(WaitUntil([&] { return rows->GetItemCount() == 3; }, 5000));
    QStringList listed;
    for (int row = 0; row < 3; ++row) {
        listed.append(rows->GetItemText(row, 0));
        const QModelIndex cell = rows->model()->index(row, 0);
        EXPECT_EQ(ShownText(cell.data(Qt::ToolTipRole).toString()), rows->GetItemText(row, 0));
        rows->SetSelectionMark(row);
        g_pUserListDlg->ShowProfileCard();
        g_pUserListDlg->Browser()->grab();
        EXPECT_TRUE(g_pUserListDlg->Browser()->toPlainText().contains(rows->GetItemText(row, 0)))
            << qPrintable(g_pUserListDlg->Browser()->toPlainText());
    }
    listed.sort();
    EXPECT_EQ(listed, (QStringList{link, bold, image}));
    frame->grab();

    // The file was never opened, by no widget, and the program is still at work.
    EXPECT_EQ(g_watch->Events(), 0) << "something opened " << qPrintable(g_watchedFile);
    EXPECT_TRUE(frame->isVisible() && g_pConfigDlg->IsMonitoring());
    run.exitClicked = true;
    frame->OnAppExit();
}

TEST_F(InProcessRoadTest, HostileNamesStayTextAndOpenNoFile)
{
    QTemporaryDir folder(QStringLiteral("/tmp/mh-XXXXXX"));
    g_watchedFile = folder.filePath(QStringLiteral("f.png"));
    QImage picture(4, 4, QImage::Format_RGB32);
    picture.fill(Qt::red);
    ASSERT_TRUE(folder.isValid() && picture.save(g_watchedFile));
    CFileOpenWatch watch(g_watchedFile);
    ASSERT_TRUE(watch.IsWatching());
    g_watch = &watch;

    CRoadRun run;
    run.webId = m_service.RegisterAccount(kAccount, kPassword);
    run.region = kShopperRegion;
    EXPECT_EQ(RunProgram(run, &InProcessRoadTest::DriveHostileNames), 0);
    g_watch = nullptr;
    EXPECT_TRUE(run.exitClicked);
    EXPECT_EQ(watch.Events(), 0);
    EXPECT_TRUE(VisitsOf(QString(10000, QLatin1Char('W'))).isEmpty());
}

// ---- the built program, prepared the way scripts/run --demo prepares it

class BuiltProgramRoadTest : public RoadTest
{
protected:
    static QString Program() { return QStringLiteral(MIREL_BINARY_DIR "/mirelhelper"); }

    // Runs functions of scripts/demo-shopper.sh against this test's service and data directory.
    bool RunDemoScript(const QString& functions, QString* output)
    {
        QProcess bash;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("build"), QStringLiteral(MIREL_BINARY_DIR));
        environment.insert(QStringLiteral("data"), m_home.path());
        environment.insert(QStringLiteral("tracking"), m_service.TrackingBase());
        environment.insert(QStringLiteral("im"), m_service.ImBase());
        environment.insert(QStringLiteral("service_data"), m_service.DataDir());
        bash.setProcessEnvironment(environment);
        bash.setProcessChannelMode(QProcess::MergedChannels);
        bash.start(
            QStringLiteral("bash"),
            {QStringLiteral("-c"),
             QStringLiteral("set -eu; build=$build data=$data tracking=$tracking im=$im; . \"$0\"; ") + functions,
             QStringLiteral(MIREL_SOURCE_DIR "/scripts/demo-shopper.sh")});
        const bool ended = bash.waitForFinished(60000);
        *output = QString::fromUtf8(bash.readAll());
        return ended && bash.exitStatus() == QProcess::NormalExit && bash.exitCode() == 0;
    }
};

TEST_F(BuiltProgramRoadTest, DemoPreparedStoreGreetsTheShopperAndTheTrayMenuEndsTheProgram)
{
    QString output;
    ASSERT_TRUE(RunDemoScript(QStringLiteral("demo_prepare; demo_shopper_visit"), &output)) << qPrintable(output);
    // --init-store made the store; the script put the demo shop in.
    EXPECT_EQ(road::IntegrityCheck(DatabasePath()), QStringLiteral("ok"));
    const QList<QStringList> accounts =
        road::QueryFile(DatabasePath(), QStringLiteral("select [username],[usersmailname],[autosend] from [user]"));
    ASSERT_EQ(accounts,
              (QList<QStringList>{{QStringLiteral("demo_shop"), QStringLiteral("demo_im"), QStringLiteral("1")}}));
    // Who the shopper was, as the service saw it.
    QByteArray listed;
    ASSERT_EQ(m_service.GetIm(QStringLiteral("/admin/im/visitors?imname=demo_im"), &listed), 200);
    const QStringList fields = QString::fromUtf8(listed).split(u'\n').value(0).split(u'\t');
    ASSERT_GE(fields.size(), 2) << listed.constData();
    const QString visitor = fields[0];
    const QString imId = fields[1];
    QByteArray views;
    ASSERT_EQ(m_service.GetTracking(QStringLiteral("/admin/pageviews?limit=1"), &views), 200);
    const QRegularExpressionMatch view =
        QRegularExpression(QStringLiteral("\"ip\":\"([0-9a-f.:]+)\".*\"url\":\"([^\"]+)\""))
            .match(QString::fromUtf8(views));
    ASSERT_TRUE(view.hasMatch()) << views.constData();

    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // The rest of the environment (XDG folders, hichat's instance and log) is the hichat session's.
    environment.insert(QStringLiteral("MIRELHELP_HOME"), m_home.path());
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(Program(), {});
    ASSERT_TRUE(program.waitForStarted(10000));

    ASSERT_TRUE(WaitUntil([&] { return !VisitsOf(visitor).isEmpty(); }, 45000))
        << "no visit of " << qPrintable(visitor);
    const QStringList visit = VisitsOf(visitor).value(0);
    // The program found the IP data beside itself and took copies into its data directory.
    EXPECT_TRUE(QFile::exists(m_home.filePath(QStringLiteral("QQWry.Dat"))));
    EXPECT_TRUE(QFile::exists(m_home.filePath(QStringLiteral("qqwry.ipdb"))));
    EXPECT_EQ(visit.value(1), view.captured(1));
    EXPECT_EQ(visit.value(2), QStringLiteral("demo_shop"));
    EXPECT_EQ(visit.value(5), m_reader.Lookup(view.captured(1)));
    EXPECT_EQ(visit.value(6), view.captured(2));
    EXPECT_EQ(visit.value(7), imId);

    ASSERT_TRUE(m_hichat.WaitForMessages(1, 30000)) << "nothing reached hichat";
    const QJsonObject message = m_hichat.Messages().value(0);
    EXPECT_EQ(message.value(QStringLiteral("id")).toString(), visitor);
    EXPECT_TRUE(message.value(QStringLiteral("text"))
                    .toString()
                    .startsWith(QStringLiteral("亲爱的 %1,欢迎光临！").arg(visitor)))
        << qPrintable(message.value(QStringLiteral("text")).toString());

    // The sender empties the queue after its pass (and its pause).
    EXPECT_TRUE(WaitUntil(
        [&] {
            return road::QueryFile(DatabasePath(), QStringLiteral("select count(*) from [AutoSend]")) ==
                   QList<QStringList>{{QStringLiteral("0")}};
        },
        20000));

    // The tray menu of the other process: a right click on its icon (the
    // program's only window that is narrow in one direction: the window
    // manager may stretch the tray host along a screen edge), then the last
    // item by keyboard once the menu is up (it takes the keyboard).
    const qint64 pid = program.processId();
    QRect icon;
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (const road::CXWindowInfo& window : road::WindowsOfProcess(pid)) {
                if (std::min(window.rect.width(), window.rect.height()) <= 48)
                    icon = window.rect;
            }
            return icon.isValid();
        },
        10000))
        << "the program's tray icon is not on the screen; its windows: " << qPrintable(WindowsOf(pid));
    // Under load a menu can come up before it holds the keyboard, and the keys
    // then go elsewhere: one more try with the menu closed first.
    QElapsedTimer exitClock;
    const auto chooseExit = [&] {
        QList<unsigned long> before;
        for (const road::CXWindowInfo& window : road::WindowsOfProcess(pid))
            before.append(window.id);
        road::FakeClick(icon.center(), 3);
        // The menu is the window that comes up at the pointer.
        const QRect nearPointer(icon.center() - QPoint(4, 4), QSize(9, 9));
        const bool menuUp = WaitUntil(
            [&] {
                for (const road::CXWindowInfo& window : road::WindowsOfProcess(pid)) {
                    if (!before.contains(window.id) && window.rect.adjusted(-24, -24, 24, 24).intersects(nearPointer))
                        return true;
                }
                return false;
            },
            10000);
        EXPECT_TRUE(menuUp) << "no menu after a right click on the tray icon at " << icon.center().x() << ","
                            << icon.center().y() << "; its windows: " << qPrintable(WindowsOf(pid));
        QTest::qWait(200);
        road::FakeKey("Up");
        exitClock.start();
        road::FakeKey("Return");
        return program.waitForFinished(CMirelHelperApp::kExitWaitMs + 3000);
    };
    if (!chooseExit()) {
        road::FakeKey("Escape");
        QTest::qWait(500);
        ASSERT_TRUE(chooseExit()) << "the program did not end";
    }
    EXPECT_LT(exitClock.elapsed(), CMirelHelperApp::kExitWaitMs + 3000);
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_EQ(road::IntegrityCheck(DatabasePath()), QStringLiteral("ok"));
}

// ---- one copy per data directory

int ModeOf(const QString& path)
{
    struct stat info
    {
    };
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 0777) : -1;
}

// A second start (autostart plus a click on the menu entry) shows the running
// copy's window and ends with 0, leaving the store, the queued greeting
// included, to the first copy. Under umask 022 the data directory and the
// files the program writes there are the owner's alone; the copies meet on a
// socket in the private runtime directory; SIGTERM ends a copy as 退出 does.
TEST(SecondStartTest, RaisesTheFirstCopysWindowAndLeavesTheQueueAlone)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    QTemporaryDir runtime;
    ASSERT_TRUE(runtime.isValid());
    ASSERT_EQ(::chmod(QFile::encodeName(home.path()).constData(), 0755), 0);
    const mode_t savedMask = ::umask(022);
    const auto restoreMask = qScopeGuard([savedMask] { ::umask(savedMask); });
    QFile ini(home.filePath(QStringLiteral("mirelhelper.ini")));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    // Nothing answers on port 1: no service of another test is reached.
    ini.write("[endpoints]\ntracking_base=http://127.0.0.1:1\nim_profile_base=http://127.0.0.1:1\n"
              "im_portrait_base=http://127.0.0.1:1\nim_presence_base=http://127.0.0.1:1\n");
    ini.close();
    road::CTrayHost tray;
    ASSERT_TRUE(tray.Start());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("MIRELHELP_HOME"), home.path());
    // No "lumochat" handler: a greeting attempt searches its window for 25 s.
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("xdg")));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    QProcess first;
    first.setProcessEnvironment(environment);
    first.setProcessChannelMode(QProcess::ForwardedChannels);
    first.start(QStringLiteral(MIREL_BINARY_DIR "/mirelhelper"), {});
    ASSERT_TRUE(first.waitForStarted(10000));
    auto mainWindow = [&] {
        for (const road::CXWindowInfo& window : road::WindowsOfProcess(first.processId())) {
            if (window.rect.width() >= 700)
                return window.id;
        }
        return 0ul;
    };
    const unsigned long window = [&] {
        unsigned long found = 0;
        WaitUntil([&] { return (found = mainWindow()) != 0; }, 30000);
        return found;
    }();
    ASSERT_NE(window, 0ul) << "the first copy shows no window";
    EXPECT_EQ(ModeOf(home.path()), 0700);
    for (const char* file :
         {"Info.mdb", "Info.mdb-wal", "Info.mdb-shm", "mirelhelper.ini", "mirelhelper.log", "mirelhelper.lock"})
        EXPECT_EQ(ModeOf(home.filePath(QLatin1String(file))), 0600) << file;
    const QStringList sockets = QDir(runtime.path()).entryList({QStringLiteral("mirelhelper-*")}, QDir::System);
    ASSERT_EQ(sockets.size(), 1) << "no socket in the runtime directory";
    const QString socket = runtime.filePath(sockets[0]);
    // The close box hides it into the notification area.
    RequestClose(window);
    ASSERT_TRUE(WaitUntil([&] { return mainWindow() == 0; }, 10000));

    const QString path = home.filePath(QStringLiteral("Info.mdb"));
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
    sqlite3_busy_timeout(db, 5000);
    const int inserted =
        sqlite3_exec(db, "insert into [AutoSend] ([ClientName],[UserName],[Message]) values ('queued','shop','hi')",
                     nullptr, nullptr, nullptr);
    sqlite3_close(db);
    ASSERT_EQ(inserted, SQLITE_OK);

    QProcess second;
    second.setProcessEnvironment(environment);
    second.start(QStringLiteral(MIREL_BINARY_DIR "/mirelhelper"), {});
    ASSERT_TRUE(second.waitForFinished(10000)) << "the second start did not end";
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().constData();
    EXPECT_TRUE(WaitUntil([&] { return mainWindow() == window; }, 10000)) << "the first copy's window is not shown";
    EXPECT_EQ(road::QueryFile(path, QStringLiteral("select [ClientName] from [AutoSend]")),
              (QList<QStringList>{{QStringLiteral("queued")}}));

    // The menu entry's actions go the same way.
    auto startWith = [&](const QString& argument) {
        QProcess action;
        action.setProcessEnvironment(environment);
        action.start(QStringLiteral(MIREL_BINARY_DIR "/mirelhelper"), {argument});
        return action.waitForFinished(10000) && action.exitCode() == 0;
    };
    auto logHas = [&](const char* line, int times) {
        return WaitUntil(
            [&] {
                QFile log(home.filePath(QStringLiteral("mirelhelper.log")));
                return log.open(QIODevice::ReadOnly) && log.readAll().count(line) >= times;
            },
            10000);
    };
    EXPECT_TRUE(startWith(QStringLiteral("--toggle-alerts")));
    EXPECT_TRUE(logHas("alerts paused", 1));
    EXPECT_TRUE(startWith(QStringLiteral("--toggle-alerts")));
    EXPECT_TRUE(logHas("alerts resumed", 1));
    RequestClose(window);
    ASSERT_TRUE(WaitUntil([&] { return mainWindow() == 0; }, 10000));
    EXPECT_TRUE(startWith(QStringLiteral("--show-visitors")));
    EXPECT_TRUE(WaitUntil([&] { return mainWindow() == window; }, 10000)) << "--show-visitors shows no window";
    auto wideWindows = [&] {
        int count = 0;
        for (const road::CXWindowInfo& shown : road::WindowsOfProcess(first.processId()))
            count += shown.rect.width() >= 700 ? 1 : 0;
        return count;
    };
    EXPECT_TRUE(startWith(QStringLiteral("--history")));
    EXPECT_TRUE(WaitUntil([&] { return wideWindows() == 2; }, 10000)) << "--history opens no history dialog";
    // A second one while it is open only brings it to the front.
    EXPECT_TRUE(startWith(QStringLiteral("--history")));
    EXPECT_TRUE(logHas("a later start asked for history", 2));
    EXPECT_EQ(wideWindows(), 2);
    QProcess unknown;
    unknown.start(QStringLiteral(MIREL_BINARY_DIR "/mirelhelper"), {QStringLiteral("--no-such-thing")});
    ASSERT_TRUE(unknown.waitForFinished(10000));
    EXPECT_EQ(unknown.exitCode(), 2);

    // While it runs, --init-store refuses to touch its store.
    QProcess init;
    init.setProcessEnvironment(environment);
    init.start(QStringLiteral(MIREL_BINARY_DIR "/mirelhelper"), {QStringLiteral("--init-store")});
    ASSERT_TRUE(init.waitForFinished(10000));
    EXPECT_EQ(init.exitCode(), 2);

    // The end a session or a service manager asks for: workers stopped, the
    // last lines logged, the lock and the socket given back.
    ASSERT_EQ(::kill(pid_t(first.processId()), SIGTERM), 0);
    ASSERT_TRUE(first.waitForFinished(CMirelHelperApp::kExitWaitMs + 5000)) << "SIGTERM did not end the program";
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_FALSE(QFile::exists(home.filePath(QStringLiteral("mirelhelper.lock"))));
    EXPECT_EQ(ModeOf(socket), -1);
    EXPECT_EQ(road::IntegrityCheck(path), QStringLiteral("ok"));
    QFile log(home.filePath(QStringLiteral("mirelhelper.log")));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QByteArray logText = log.readAll();
    log.close();
    EXPECT_TRUE(logText.contains("a later start asked for the window"));
    EXPECT_TRUE(logText.contains("SIGTERM received"));
    EXPECT_TRUE(logText.trimmed().endsWith("ended")) << logText.right(300).constData();
    EXPECT_EQ(logText.count("was open to other users"), 1);

    // A crashed copy's lock is taken over by the next start.
    QProcess crashed;
    crashed.setProcessEnvironment(environment);
    crashed.start(QStringLiteral(MIREL_BINARY_DIR "/mirelhelper"), {});
    ASSERT_TRUE(WaitUntil([&] { return ModeOf(socket) != -1; }, 30000)) << "the copy to crash does not listen";
    crashed.kill();
    crashed.waitForFinished(5000);
    QProcess again;
    again.setProcessEnvironment(environment);
    again.start(QStringLiteral(MIREL_BINARY_DIR "/mirelhelper"), {QStringLiteral("--init-store")});
    ASSERT_TRUE(again.waitForFinished(10000));
    EXPECT_EQ(again.exitCode(), 0) << again.readAllStandardError().constData();

    // With no copy running, an action starts the program and is carried out there.
    QProcess started;
    started.setProcessEnvironment(environment);
    started.start(QStringLiteral(MIREL_BINARY_DIR "/mirelhelper"), {QStringLiteral("--toggle-alerts")});
    ASSERT_TRUE(started.waitForStarted(10000));
    EXPECT_TRUE(logHas("alerts paused", 2)) << "a start with --toggle-alerts did not pause the alerts";
    started.kill();
    started.waitForFinished(5000);
}

// ---- preparing a data directory without a display

struct CInitStoreCase
{
    const char* name;
    QByteArray existing; // Info.mdb before, empty for none
    int exitCode;
};

class InitStoreTest : public ::testing::TestWithParam<CInitStoreCase>
{
};

TEST_P(InitStoreTest, CreatesTheStoreOrLeavesAnUnreadableFileAlone)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QString path = home.filePath(QStringLiteral("Info.mdb"));
    if (!GetParam().existing.isEmpty()) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(GetParam().existing);
    }
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("MIRELHELP_HOME"), home.path());
    environment.remove(QStringLiteral("DISPLAY"));
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(MIREL_BINARY_DIR "/mirelhelper"), {QStringLiteral("--init-store")});
    ASSERT_TRUE(program.waitForFinished(20000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), GetParam().exitCode) << program.readAllStandardError().constData();
    if (GetParam().existing.isEmpty()) {
        EXPECT_EQ(road::QueryFile(path, QStringLiteral("select name from sqlite_master where type = 'table' "
                                                       "and name not like 'sqlite%' order by name")),
                  (QList<QStringList>{{QStringLiteral("AutoSend")},
                                      {QStringLiteral("advsetting")},
                                      {QStringLiteral("client")},
                                      {QStringLiteral("greetlog")},
                                      {QStringLiteral("sysseting")},
                                      {QStringLiteral("user")}}));
        EXPECT_EQ(road::QueryFile(path, QStringLiteral("select count(*) from [sysseting]")),
                  (QList<QStringList>{{QStringLiteral("1")}}));
    } else {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), GetParam().existing);
    }
}

QString WindowsOf(qint64 pid)
{
    QStringList windows;
    for (const road::CXWindowInfo& w : road::WindowsOfProcess(pid)) {
        windows.append(QStringLiteral("%1x%2+%3+%4 %5")
                           .arg(w.rect.width())
                           .arg(w.rect.height())
                           .arg(w.rect.x())
                           .arg(w.rect.y())
                           .arg(w.type));
    }
    return windows.join(QStringLiteral(", "));
}

INSTANTIATE_TEST_SUITE_P(DataDirectories, InitStoreTest,
                         ::testing::Values(CInitStoreCase{"fresh", QByteArray(), 0},
                                           CInitStoreCase{"notADatabase", QByteArray(4096, 'J'), 1}),
                         [](const ::testing::TestParamInfo<CInitStoreCase>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
