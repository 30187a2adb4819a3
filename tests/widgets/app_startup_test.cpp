// The application shell: start-up order, caption and placement, the frame's
// menu, toolbar and panes, page switching, close and exit, the services
// worker threads use (status message, alert, message boxes) and the tray.
#include "support/TestMain.h"
#include "support/WaitUntil.h"

#include "accounts/AdvancedSettings.h"
#include "accounts/LiveSettings.h"
#include "accounts/ui/AdvancedSettingDlg.h"
#include "app/GuiMessageBox.h"
#include "app/MainFrame.h"
#include "app/MirelHelperApp.h"
#include "app/MirelHelperView.h"
#include "app/PageFactory.h"
#include "controls/ui/TrueColorToolBar.h"
#include "monitor/ViewHearing.h"
#include "notify/AlertSound.h"
#include "notify/OwnerNotifier.h"
#include "platform/DataDirectory.h"
#include "platform/Endpoints.h"
#include "platform/TextCodec.h"
#include "platform/Workers.h"
#include "store/AdoConnection.h"
#include "store/AdoRecordSet.h"
#include "store/StoreStartup.h"
#include "support/StoreTestSupport.h"
#include "support/XvfbSession.h"
#include "tables/SettingsTable.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolButton>

#include <atomic>
#include <thread>

namespace {

int CountRows(const QString& table)
{
    CAdoRecordSet rs;
    if (!rs.Open(QStringLiteral("select * from [%1]").arg(table)))
        return -1;
    int n = 0;
    while (!rs.IsEOF()) {
        ++n;
        rs.MoveNext();
    }
    return n;
}

// Runs the application's event loop while steps happen; a guard ends a loop
// that would otherwise never end, and the test then fails on the result.
int RunEventLoop(const std::function<void()>& whenRunning, int guardMs = 20000)
{
    QTimer::singleShot(0, qApp, whenRunning);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, qApp, [] { QCoreApplication::exit(99); });
    guard.start(guardMs);
    return QApplication::exec();
}

// A worker as the project builds them: registered while it runs, stops on its flag.
class CTestWorker : public QThread
{
public:
    std::atomic<int> m_stop{0};
    std::atomic<bool> m_ignoreStop{false};
    std::atomic<bool> m_callWindowThread{false};
    std::atomic<bool> m_running{false};

    // A check that gave up early still ends the thread before it is destroyed;
    // events are served meanwhile, since it may be waiting for this thread.
    ~CTestWorker() override
    {
        m_ignoreStop = false;
        m_stop = 1;
        while (!wait(10))
            QCoreApplication::processEvents();
    }

protected:
    void run() override
    {
        CWorkerScope scope(this, &m_stop);
        m_running = true;
        while (!m_stop.load() || m_ignoreStop.load()) {
            // Like a refill request: waits for the window's thread.
            if (m_callWindowThread.load())
                QMetaObject::invokeMethod(
                    qApp, [] {}, Qt::BlockingQueuedConnection);
            QThread::msleep(5);
        }
    }
};

class AppTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.filePath(QStringLiteral("settings")));
        SetDataDirectory(m_dir.path());
        QFile ini(m_dir.filePath(QStringLiteral("mirelhelper.ini")));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        // Nobody listens on port 1: the help pages fail at once.
        ini.write("[endpoints]\ntracking_base=http://127.0.0.1:1\nmaker_site=http://127.0.0.1:1/maker\n");
        ini.close();
        CTrayIcon::SetDefaultTrayProbe([this] { return m_trayExists.load(); });
        CTrayIcon::SetDefaultDesktopSender([this](const QString&, const QString& body) {
            m_notified.append(body);
            return true;
        });
        LiveSettings().playsound = 0;
    }

    void TearDown() override
    {
        if (m_app && !m_exited)
            m_app->ExitInstance(0);
        m_app.reset();
        // Nothing a test started may outlive it.
        EXPECT_EQ(CWorkerRegistry::RunningCount(), 0);
        PageFactory() = CPageFactory{};
        CTrayIcon::SetDefaultTrayProbe({});
        CTrayIcon::SetDefaultDesktopSender({});
        LiveSettings().playsound = 1;
    }

    CMainFrame* StartApp()
    {
        m_app = std::make_unique<CMirelHelperApp>();
        EXPECT_TRUE(m_app->InitInstance());
        return m_app->MainFrame();
    }

    int Exit()
    {
        m_exited = true;
        return m_app->ExitInstance(0);
    }

    QTemporaryDir m_dir;
    CMessageRecorder m_boxes;
    std::atomic<bool> m_trayExists{true};
    QStringList m_notified;
    std::unique_ptr<CMirelHelperApp> m_app;
    bool m_exited = false;
};

} // namespace

// ---- placement

struct PlaceCase
{
    QRect desktop;
    QPoint topLeft;
};

class PlacementTest : public ::testing::TestWithParam<PlaceCase>
{
};

TEST_P(PlacementTest, CentredByTheTruncatingRule)
{
    const QRect r = CMirelHelperApp::MainWindowRect(GetParam().desktop);
    EXPECT_EQ(r.topLeft(), GetParam().topLeft);
    EXPECT_EQ(r.size(), QSize(800, 580));
}

INSTANTIATE_TEST_SUITE_P(Desktops, PlacementTest,
                         ::testing::Values(PlaceCase{QRect(0, 0, 1024, 768), QPoint(112, 94)},
                                           PlaceCase{QRect(0, 0, 1023, 767), QPoint(111, 93)},
                                           PlaceCase{QRect(0, 0, 1920, 1080), QPoint(560, 250)},
                                           PlaceCase{QRect(0, 0, 800, 600), QPoint(0, 10)},
                                           PlaceCase{QRect(0, 0, 640, 480), QPoint(-80, -50)}));

// ---- start-up

TEST_F(AppTest, StartUpRunsInItsFixedOrder)
{
    // A queue left by an earlier run.
    ASSERT_TRUE(OpenStore(m_dir.path()));
    ASSERT_TRUE(g_pConnection->Execute(
        QStringLiteral("insert into [AutoSend] ([ClientName],[UserName],[Message]) values ('v','a','hi')")));
    ASSERT_EQ(CountRows(QStringLiteral("AutoSend")), 1);
    CloseStore();

    QStringList order;
    QString captionDuringPages;
    bool storeOpenAtPages = false;
    int queuedAtPages = -1;
    QString trackingAtPages;
    bool toolbarAtPages = false;
    PageFactory().createUserListPage = [&](QWidget* parent) {
        order.append(QStringLiteral("CUserListDlg"));
        storeOpenAtPages = g_pConnection && g_pConnection->IsOpen();
        queuedAtPages = CountRows(QStringLiteral("AutoSend"));
        trackingAtPages = Endpoints().trackingBase;
        captionDuringPages = g_pMainFrame ? g_pMainFrame->windowTitle() : QString();
        toolbarAtPages = g_pMainFrame && g_pMainFrame->ToolBar();
        auto* page = new QWidget(parent);
        page->setObjectName(QStringLiteral("CUserListDlg"));
        return page;
    };
    PageFactory().createConfigPage = [&](QWidget* parent) {
        order.append(QStringLiteral("CConfigDlg"));
        auto* page = new QWidget(parent);
        page->setObjectName(QStringLiteral("CConfigDlg"));
        return page;
    };

    CMainFrame* frame = StartApp();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(order, (QStringList{"CUserListDlg", "CConfigDlg"}));
    EXPECT_TRUE(storeOpenAtPages);
    EXPECT_EQ(queuedAtPages, 0) << "the queue is emptied before the pages come";
    EXPECT_EQ(trackingAtPages, QStringLiteral("http://127.0.0.1:1"));
    EXPECT_TRUE(toolbarAtPages);
    EXPECT_EQ(captionDuringPages, CMainFrame::kInitialTitle) << "the caption comes after the pages";

    // The five pages, created in this order, the visitor list showing.
    CMirelHelperView* view = frame->View();
    const QStringList names{"CUserListDlg", "CConfigDlg", "CHtmlHelpDlg", "CMirelAdDlg", "CStatisticsDlg"};
    int lastIndex = -1;
    for (int i = 0; i < CMirelHelperView::kPageCount; ++i) {
        QWidget* page = view->Page(i);
        ASSERT_NE(page, nullptr);
        EXPECT_EQ(page->objectName(), names[i]);
        const int index = static_cast<int>(view->children().indexOf(page));
        EXPECT_GT(index, lastIndex) << "created in order";
        lastIndex = index;
        EXPECT_EQ(page->isVisible(), i == 0);
        EXPECT_EQ(page->geometry(), view->rect());
    }

    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Lumo网店助手-Vexa来客提醒 V1.1"));
    EXPECT_TRUE(frame->isVisible());
    const QRect expected = CMirelHelperApp::MainWindowRect(QGuiApplication::primaryScreen()->geometry());
    EXPECT_EQ(frame->geometry().size(), QSize(800, 580));
    EXPECT_EQ(frame->pos(), expected.topLeft());
    EXPECT_FALSE(QApplication::quitOnLastWindowClosed());
    EXPECT_EQ(QCoreApplication::organizationName(), QStringLiteral("MirelHelp - ZorIrevov"));
    EXPECT_EQ(g_pMainFrame, frame);
    EXPECT_EQ(OwnerNotifier(), frame);
    EXPECT_TRUE(m_boxes.Shown().empty());
}

TEST_F(AppTest, MissingDatabaseComesUpEmptyWithoutAMessage)
{
    CMainFrame* frame = StartApp();
    ASSERT_NE(frame, nullptr);
    EXPECT_TRUE(frame->isVisible());
    EXPECT_TRUE(g_pConnection->IsOpen());
    EXPECT_TRUE(m_boxes.Shown().empty());
    Exit();
    EXPECT_FALSE(g_pConnection && g_pConnection->IsOpen()) << "exit closes the store";
}

// ---- the frame's parts

TEST_F(AppTest, MenuHasItsThreeDropDowns)
{
    CMainFrame* frame = StartApp();
    const QList<QAction*> top = frame->menuBar()->actions();
    ASSERT_EQ(top.size(), 3);
    EXPECT_EQ(top[0]->text(), QStringLiteral("文件(&F)"));
    EXPECT_EQ(top[1]->text(), QStringLiteral("视图(&V)"));
    EXPECT_EQ(top[2]->text(), QStringLiteral("帮助(&H)"));
    auto texts = [](QAction* menu) {
        QStringList list;
        for (QAction* a : menu->menu()->actions())
            list.append(a->text());
        return list;
    };
    EXPECT_EQ(texts(top[0]), (QStringList{"高级设置(&A)...", "团队设置(&T)...", "", "退出(&X)"}));
    // Only a shared store has a team.
    EXPECT_FALSE(frame->Action(CMainFrame::kCmdTeamSettings)->isEnabled());
    EXPECT_EQ(texts(top[1]),
              (QStringList{"工具栏(&T)", "状态栏(&S)", "刷新列表(&F)", "用户列表(&U)", "信息配置(&C)", "最后提示(&L)",
                           "历史访问(&H)", "访客统计(&J)", "帮助信息(&H)", "精品网店(&V)", "", "暂停提醒(&P)"}));
    EXPECT_EQ(texts(top[2]), (QStringList{"关于 MirelHelper(&A)..."}));
}

TEST_F(AppTest, AdvancedSettingsDialogStoresItsValuesAndMakesThemLive)
{
    CMainFrame* frame = StartApp();
    ASSERT_EQ(CurrentAdvancedSettings(), CAdvancedSettings());
    for (const char* time : {"2020-01-01 10:00:00", "2999-01-01 10:00:00"})
        ASSERT_TRUE(
            g_pConnection->Execute(QStringLiteral("insert into [client] ([guestname],[lasttime]) values ('v','%1')")
                                       .arg(QLatin1String(time))));
    bool wasModal = false;
    QTimer::singleShot(0, qApp, [&] {
        auto* dialog = qobject_cast<CAdvancedSettingDlg*>(QApplication::activeModalWidget());
        wasModal = dialog != nullptr;
        if (!dialog)
            return;
        dialog->findChild<QCheckBox*>(QStringLiteral("quietHoursCheck"))->setChecked(true);
        dialog->findChild<QPlainTextEdit*>(QStringLiteral("watchListEdit"))->setPlainText(" 甲 \n\n<b>乙</b>\n甲");
        dialog->findChild<QCheckBox*>(QStringLiteral("keepDaysCheck"))->setChecked(true);
        dialog->findChild<QSpinBox*>(QStringLiteral("keepDaysSpin"))->setValue(12);
        dialog->findChild<QPushButton*>(QStringLiteral("okButton"))->click();
    });
    frame->Action(CMainFrame::kCmdAdvancedSettings)->trigger();
    EXPECT_TRUE(wasModal);
    CAdvancedSettings expected;
    expected.quietHours = true;
    expected.watchList = QStringList{"甲", "<b>乙</b>"};
    // Below the range the box holds its least.
    expected.keepDays = CAdvancedSettings::kKeepDaysMin;
    CAdvancedSettings stored;
    EXPECT_TRUE(CSettingsTable().ReadAdvanced(stored));
    EXPECT_EQ(stored, expected);
    EXPECT_EQ(CurrentAdvancedSettings(), expected);
    // Turned on, old visits go at once.
    EXPECT_TRUE(WaitUntil([] { return CountRows(QStringLiteral("client")) == 1; }, 10000));
    PublishAdvancedSettings(CAdvancedSettings());
}

TEST_F(AppTest, ToolbarHasNineLargeButtons)
{
    CMainFrame* frame = StartApp();
    CTrueColorToolBar* bar = frame->ToolBar();
    ASSERT_NE(bar, nullptr);
    const QStringList expected{"刷新列表", "用户列表", "配置信息", "最后提醒", "历史记录",
                               "帮助信息", "关于软件", "精品店铺", "访客统计"};
    const QList<QAction*> actions = bar->actions();
    ASSERT_EQ(actions.size(), 9);
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(actions[i]->property("commandId").toInt(), CMainFrame::kToolBarCommands[i]);
        auto* button = qobject_cast<QToolButton*>(bar->widgetForAction(actions[i]));
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->text(), expected[i]);
        EXPECT_EQ(button->size(), QSize(55, 70));
        EXPECT_EQ(button->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
        EXPECT_FALSE(actions[i]->icon().isNull());
    }
    EXPECT_EQ(bar->iconSize(), QSize(48, 48));
    EXPECT_TRUE(bar->HasImageList(EToolBarImageList::Normal));
    EXPECT_TRUE(bar->HasImageList(EToolBarImageList::Hot));
    EXPECT_TRUE(bar->HasImageList(EToolBarImageList::Disabled));
    // Prompts and tool tips of the commands.
    EXPECT_EQ(frame->Action(CMainFrame::kCmdRefreshList)->statusTip(), QStringLiteral("刷新用户列表"));
    EXPECT_EQ(frame->Action(CMainFrame::kCmdHistory)->toolTip(), QStringLiteral("历史访问记录"));
    EXPECT_EQ(frame->Action(CMainFrame::kCmdLastAlert)->statusTip(), QStringLiteral("最后客户提醒"));

    // The view menu's toolbar item hides and shows it.
    frame->Action(CMainFrame::kCmdToolBar)->trigger();
    EXPECT_FALSE(bar->isVisible());
    frame->Action(CMainFrame::kCmdToolBar)->trigger();
    EXPECT_TRUE(bar->isVisible());
}

TEST_F(AppTest, StatusBarHasFivePanes)
{
    CMainFrame* frame = StartApp();
    const int widths[] = {-1, 40, 40, 40, 400};
    for (int i = 0; i < CMainFrame::kPaneCount; ++i) {
        QLabel* pane = frame->Pane(i);
        ASSERT_NE(pane, nullptr);
        if (i > 0) {
            EXPECT_EQ(pane->text(), QString()) << i;
        }
        if (widths[i] > 0) {
            EXPECT_EQ(pane->width(), widths[i]) << i;
        }
    }
    EXPECT_GT(frame->Pane(0)->width(), 100) << "the message pane stretches";
    // It tells how views reach the owner, as that changes.
    const QString polled = QStringLiteral("访客提醒:每%1秒刷新").arg(LiveSettings().reflashtime.load());
    EXPECT_TRUE(WaitUntil([&] { return frame->Pane(0)->text() == polled; })) << frame->Pane(0)->text().toStdString();
    SetHearingInRealTime(true);
    EXPECT_TRUE(WaitUntil([&] { return frame->Pane(0)->text() == QStringLiteral("访客提醒:实时"); }));
    SetHearingInRealTime(false);
    EXPECT_TRUE(WaitUntil([&] { return frame->Pane(0)->text() == polled; }));
    frame->Action(CMainFrame::kCmdStatusBar)->trigger();
    EXPECT_FALSE(frame->statusBar()->isVisible());
}

TEST_F(AppTest, RefreshOnlyWhileTheVisitorListShows)
{
    int refreshed = 0;
    PageFactory().refreshUserListPage = [&](QWidget*) { ++refreshed; };
    CMainFrame* frame = StartApp();
    QAction* refresh = frame->Action(CMainFrame::kCmdRefreshList);
    struct
    {
        int command;
        int page;
    } const steps[] = {{CMainFrame::kCmdConfig, CMirelHelperView::kConfigPage},
                       {CMainFrame::kCmdHelp, CMirelHelperView::kHelpPage},
                       {CMainFrame::kCmdFeaturedShops, CMirelHelperView::kAdPage},
                       {CMainFrame::kCmdStatistics, CMirelHelperView::kStatisticsPage},
                       {CMainFrame::kCmdUserList, CMirelHelperView::kUserListPage}};
    EXPECT_TRUE(refresh->isEnabled());
    for (const auto& step : steps) {
        frame->Action(step.command)->trigger();
        EXPECT_EQ(frame->View()->CurrentPage(), step.page);
        EXPECT_EQ(refresh->isEnabled(), step.page == CMirelHelperView::kUserListPage) << step.command;
        int visible = 0;
        for (int i = 0; i < CMirelHelperView::kPageCount; ++i)
            visible += frame->View()->Page(i)->isVisible() ? 1 : 0;
        EXPECT_EQ(visible, 1);
        EXPECT_TRUE(frame->View()->Page(step.page)->isVisible());
    }
    refresh->trigger();
    EXPECT_EQ(refreshed, 1);
    frame->Action(CMainFrame::kCmdConfig)->trigger();
    frame->OnCommand(CMainFrame::kCmdRefreshList);
    EXPECT_EQ(refreshed, 1) << "no refresh off the visitor list";
}

TEST_F(AppTest, HistoryCommandOpensTheDialog)
{
    QWidget* openedOver = nullptr;
    PageFactory().openHistoryDialog = [&](QWidget* parent) { openedOver = parent; };
    CMainFrame* frame = StartApp();
    frame->Action(CMainFrame::kCmdHistory)->trigger();
    EXPECT_EQ(openedOver, frame);
}

// ---- close and exit

TEST_F(AppTest, CloseHidesAndOnlyExitEndsTheProgram)
{
    CMainFrame* frame = StartApp();
    bool hiddenAndRunning = false;
    const int code = RunEventLoop([&] {
        frame->close();
        QTimer::singleShot(200, qApp, [&] {
            // Still in the loop 200 ms after the close: the program lives on.
            hiddenAndRunning = !frame->isVisible();
            frame->Action(CMainFrame::kCmdExit)->trigger();
        });
    });
    EXPECT_TRUE(hiddenAndRunning);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(m_app->Exiting());
    EXPECT_FALSE(frame->TrayIcon().IsAdded()) << "exit removes the icon";
    EXPECT_EQ(Exit(), 0);
}

TEST_F(AppTest, TrayExitEndsTheProgramAndStopsTheWorkers)
{
    CMainFrame* frame = StartApp();
    CTestWorker polite;
    CTestWorker calling;
    calling.m_callWindowThread = true;
    polite.start();
    calling.start();
    ASSERT_TRUE(WaitUntil([&] { return polite.m_running && calling.m_running; }, 5000));
    ASSERT_GE(CWorkerRegistry::RunningCount(), 2);

    // A page that starts a worker once exit has begun (a restart that was
    // waiting for its predecessor): it is stopped too.
    CTestWorker late;
    QObject::connect(frame, &CMainFrame::ExitRequested, frame, [&] { late.start(); });

    const int code = RunEventLoop([&] { frame->OnCommand(CTrayIcon::kCmdExit); });
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(polite.wait(2000));
    EXPECT_TRUE(calling.wait(2000));
    EXPECT_TRUE(late.wait(2000));
    EXPECT_TRUE(late.m_running);
    EXPECT_TRUE(m_app->WorkersStopped());
    Exit();
    EXPECT_TRUE(m_app->WorkersStopped());
    EXPECT_TRUE(m_app->TornDown());
    EXPECT_EQ(m_app->MainFrame(), nullptr);
    EXPECT_FALSE(g_pConnection && g_pConnection->IsOpen());
}

TEST_F(AppTest, ExitDoesNotHangOnAWorkerThatIgnoresItsFlag)
{
    CMainFrame* frame = StartApp();
    m_app->SetExitWaitMs(300);
    CTestWorker stubborn;
    stubborn.m_ignoreStop = true;
    stubborn.start();
    ASSERT_TRUE(WaitUntil([&stubborn] { return stubborn.m_running.load(); }, 5000));

    const int code = RunEventLoop([&] { frame->OnAppExit(); });
    EXPECT_EQ(code, 0);
    EXPECT_FALSE(m_app->WorkersStopped());
    m_exited = true;
    m_app->ExitInstance(0);
    EXPECT_FALSE(m_app->WorkersStopped());
    // The window and the store stay for the worker still using them.
    EXPECT_FALSE(m_app->TornDown());
    EXPECT_NE(m_app->MainFrame(), nullptr);
    EXPECT_TRUE(g_pConnection && g_pConnection->IsOpen());

    stubborn.m_ignoreStop = false;
    EXPECT_TRUE(stubborn.wait(2000));
    // Once it has gone, the application object finishes the teardown.
    m_app->SetExitWaitMs(5000);
    m_app.reset();
    EXPECT_FALSE(g_pConnection && g_pConnection->IsOpen());
}

// ---- services for worker threads

TEST_F(AppTest, AnUnknownCodePageFallsBackToGbkAndSaysSoOnTheStatusBar)
{
    QSettings ini(m_dir.filePath(QStringLiteral("mirelhelper.ini")), QSettings::IniFormat);
    ini.setValue(QStringLiteral("text/codepage"), QStringLiteral("CP-NONE"));
    ini.sync();
    CMainFrame* frame = StartApp();
    frame->StatusMessage().SetIntervals(20, 5000);
    // Replies and query values keep their text instead of coming out empty.
    EXPECT_EQ(UnicodeToAnsi(QStringLiteral("店")), QByteArray("\xB5\xEA"));
    const QString said = QStringLiteral("未知的代码页[CP-NONE],已改用GBK");
    EXPECT_TRUE(WaitUntil([&] { return frame->Pane(CMainFrame::kInfoPane)->text() == said; }, 5000))
        << qPrintable(frame->Pane(CMainFrame::kInfoPane)->text());
    SetCodePage("GBK");
}

TEST_F(AppTest, StatusMessageFromAWorkerReachesPaneFour)
{
    CMainFrame* frame = StartApp();
    frame->StatusMessage().SetIntervals(20, 200);
    std::thread worker([] { ShowStatusMessage(QStringLiteral("正在刷新[店铺A]的店铺......")); });
    worker.join();
    EXPECT_EQ(frame->Pane(CMainFrame::kInfoPane)->text(), QString());
    QLabel* pane = frame->Pane(CMainFrame::kInfoPane);
    EXPECT_TRUE(WaitUntil([pane] { return pane->text() == QStringLiteral("正在刷新[店铺A]的店铺......"); }, 5000))
        << pane->text().toStdString();
    EXPECT_TRUE(WaitUntil([pane] { return pane->text().isEmpty(); }, 5000)) << pane->text().toStdString();
    EXPECT_EQ(frame->StatusMessage().ShowTimer().interval(), 20);
}

TEST_F(AppTest, AlertSoundsAndShowsTheBalloon)
{
    CMainFrame* frame = StartApp();
    ASSERT_TRUE(frame->IconShown());
    ASSERT_TRUE(frame->TrayIcon().IsBalloonMode());
    CEndpoints endpoints = Endpoints();
    const QString out = m_dir.filePath(QStringLiteral("sound.raw"));
    endpoints.soundDevice = QStringLiteral("file:'%1',raw").arg(out);
    SetEndpoints(endpoints);

    // Sound off: the text only.
    LiveSettings().playsound = 0;
    std::thread([] { AlertOwner(QStringLiteral("访客: 甲")); }).join();
    EXPECT_TRUE(WaitUntil([frame] { return frame->TrayIcon().BalloonText() == QStringLiteral("访客: 甲"); }, 5000))
        << frame->TrayIcon().BalloonText().toStdString();
    EXPECT_TRUE(frame->Sound().WaitIdle(5000));
    EXPECT_FALSE(QFile::exists(out));

    // Sound on: the chime first, then the text; a long text is cut to fit.
    LiveSettings().playsound = 1;
    const QString longText = QStringLiteral("访客: 乙 ") + QString(400, QChar(u'x'));
    std::thread([&] { AlertOwner(longText); }).join();
    EXPECT_TRUE(WaitUntil([&] { return frame->TrayIcon().BalloonText() == longText.left(255); }, 5000))
        << frame->TrayIcon().BalloonText().toStdString();
    ASSERT_TRUE(frame->Sound().WaitIdle(10000));
    EXPECT_EQ(frame->Sound().PlayedCount(), 1);
    EXPECT_GT(QFile(out).size(), 100000);

    // "最后提示" sends the stored balloon again.
    const int sends = frame->TrayIcon().SendCount();
    frame->Action(CMainFrame::kCmdLastAlert)->trigger();
    EXPECT_EQ(frame->TrayIcon().SendCount(), sends + 1);
    EXPECT_EQ(frame->TrayIcon().BalloonText(), longText.left(255));

    // "暂停提醒": neither sound nor text until resumed; the status line says which.
    frame->Action(CMainFrame::kCmdPauseAlerts)->trigger();
    EXPECT_TRUE(frame->AlertsPaused());
    std::thread([] { AlertOwner(QStringLiteral("访客: 丙")); }).join();
    QTest::qWait(100);
    EXPECT_EQ(frame->TrayIcon().BalloonText(), longText.left(255));
    EXPECT_EQ(frame->Sound().PlayedCount(), 1);
    EXPECT_TRUE(WaitUntil(
        [frame] { return frame->Pane(CMainFrame::kInfoPane)->text() == CMainFrame::kAlertsPausedText; }, 5000));
    frame->SetAlertsPaused(false);
    EXPECT_FALSE(frame->Action(CMainFrame::kCmdPauseAlerts)->isChecked());
    std::thread([] { AlertOwner(QStringLiteral("访客: 丁")); }).join();
    EXPECT_TRUE(WaitUntil([frame] { return frame->TrayIcon().BalloonText() == QStringLiteral("访客: 丁"); }, 5000));
}

TEST_F(AppTest, TrayRestartBringsTheIconBackInTipMode)
{
    CMainFrame* frame = StartApp();
    ASSERT_TRUE(frame->TrayIcon().IsBalloonMode());
    frame->OnTaskbarCreated();
    EXPECT_TRUE(frame->IconShown());
    EXPECT_FALSE(frame->TrayIcon().IsBalloonMode());
    EXPECT_EQ(frame->TrayIcon().Tip(), QStringLiteral("欢迎使用!"));
    frame->AlertOwner(QStringLiteral("访客: 丙"));
    EXPECT_EQ(frame->TrayIcon().Tip(), QStringLiteral("访客: 丙"));
    EXPECT_EQ(frame->TrayIcon().Flags(), CTrayIcon::kFlagTip) << "the tooltip only, no balloon";
    EXPECT_NE(frame->TrayIcon().BalloonText(), QStringLiteral("访客: 丙"));
}

TEST_F(AppTest, WithoutATrayAlertsBecomeDesktopNotifications)
{
    m_trayExists = false;
    CMainFrame* frame = StartApp();
    EXPECT_FALSE(frame->IconShown());
    ASSERT_EQ(m_notified, (QStringList{"欢迎使用!"}));
    frame->AlertOwner(QStringLiteral("访客: 丁"));
    EXPECT_EQ(m_notified.last(), QStringLiteral("访客: 丁"));
    frame->OnLastAlert();
    EXPECT_EQ(m_notified.size(), 2);

    // A notification area that appears later is used from then on.
    m_trayExists = true;
    frame->OnTaskbarCreated();
    EXPECT_TRUE(frame->IconShown());
    EXPECT_FALSE(frame->TrayIcon().IsBalloonMode());

    // It goes away again: the alerts fall back to notifications once more.
    m_trayExists = false;
    frame->OnTaskbarCreated();
    EXPECT_FALSE(frame->IconShown());
    frame->AlertOwner(QStringLiteral("访客: 己"));
    EXPECT_EQ(m_notified.last(), QStringLiteral("访客: 己"));
}

TEST_F(AppTest, TrayCommandsHideAndShowTheWindow)
{
    CMainFrame* frame = StartApp();
    frame->OnCommand(CTrayIcon::kCmdHide);
    EXPECT_FALSE(frame->isVisible());
    frame->OnCommand(CTrayIcon::kCmdShow);
    EXPECT_TRUE(frame->isVisible());
    frame->close();
    EXPECT_FALSE(frame->isVisible());
    // A double click on the icon shows it again.
    frame->OnTrayNotification(CTrayIcon::kIconId, CTrayIcon::kLButtonDblClk);
    EXPECT_TRUE(frame->isVisible());
    // Right click: the icon's own menu.
    frame->OnTrayNotification(CTrayIcon::kIconId, CTrayIcon::kRButtonUp);
    ASSERT_NE(frame->TrayIcon().Menu(), nullptr);
    EXPECT_EQ(frame->TrayIcon().Menu()->defaultAction()->text(), QStringLiteral("隐藏"));
    frame->TrayIcon().Menu()->defaultAction()->trigger();
    EXPECT_FALSE(frame->isVisible());
    frame->TrayIcon().Menu()->hide();
}

TEST_F(AppTest, MinimiseHidesAndMakesAnIconWhenThereIsNone)
{
    m_trayExists = false;
    CMainFrame* frame = StartApp();
    ASSERT_FALSE(frame->IconShown());
    m_trayExists = true;
    frame->setWindowState(Qt::WindowMinimized);
    EXPECT_TRUE(WaitUntil([frame] { return !frame->isVisible(); }, 5000));
    EXPECT_TRUE(frame->IconShown());
    EXPECT_FALSE(frame->TrayIcon().IsBalloonMode());
    frame->OnCommand(CTrayIcon::kCmdShow);
    EXPECT_TRUE(frame->isVisible());
    EXPECT_FALSE(frame->isMinimized());
}

// Without a notification area nothing could bring a hidden window back: close
// and minimise leave it minimised, on the screen's task list.
TEST_F(AppTest, WithoutANotificationAreaCloseAndMinimiseOnlyMinimise)
{
    m_trayExists = false;
    CMainFrame* frame = StartApp();
    ASSERT_FALSE(frame->HasTrayIcon());
    frame->close();
    QTest::qWait(50);
    EXPECT_TRUE(frame->isVisible());
    EXPECT_TRUE(frame->isMinimized());
    frame->showNormal();
    frame->setWindowState(Qt::WindowMinimized);
    QTest::qWait(50);
    EXPECT_TRUE(frame->isVisible());
    EXPECT_FALSE(frame->IconShown());
}

// ---- message boxes

TEST(GuiMessageBox, WorkerBoxIsShownOnTheWindowThreadAndAnswered)
{
    const MessageBoxHandler previous = SetMessageBoxHandler({});
    InstallGuiMessageBoxHandler(nullptr);
    SuppressGuiMessageBoxes(false);

    struct Step
    {
        EMsgButtons buttons;
        const char* click;
        int expected;
    } const steps[] = {{EMsgButtons::YesNo, "yesButton", kIdYes},
                       {EMsgButtons::YesNo, "noButton", kIdNo},
                       {EMsgButtons::Ok, "okButton", kIdOk}};
    for (const Step& step : steps) {
        std::atomic<int> answer{-1};
        std::thread worker([&] {
            answer = ShowMessageBox(QStringLiteral("数据库可能已经断开,\r\n请重新连接、然后重试."),
                                    QStringLiteral("提示"), EMsgIcon::Question, step.buttons);
        });
        // The box runs its own loop on this thread; this timer acts inside it.
        QString title, text;
        bool onWindowThread = false, clicked = false;
        QTimer clicker;
        QObject::connect(&clicker, &QTimer::timeout, qApp, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || clicked)
                return;
            title = box->windowTitle();
            text = box->text();
            onWindowThread = box->thread() == qApp->thread() && QThread::currentThread() == qApp->thread();
            if (auto* button = box->findChild<QPushButton*>(QLatin1String(step.click))) {
                clicked = true;
                button->click();
            }
        });
        clicker.start(10);
        // No early return: the worker is joined either way.
        EXPECT_TRUE(WaitUntil([&answer] { return answer.load() != -1; }, 10000)) << step.click;
        worker.join();
        EXPECT_TRUE(clicked) << step.click;
        EXPECT_TRUE(onWindowThread);
        EXPECT_EQ(title, QStringLiteral("提示"));
        EXPECT_EQ(text, QStringLiteral("数据库可能已经断开,\n请重新连接、然后重试."));
        EXPECT_EQ(answer.load(), step.expected) << step.click;
    }

    // While exiting nothing is shown; the default answer comes at once.
    SuppressGuiMessageBoxes(true);
    std::atomic<int> answer{-1};
    std::thread([&] {
        answer = ShowMessageBox(QStringLiteral("x"), QStringLiteral("y"), EMsgIcon::None, EMsgButtons::YesNo);
    }).join();
    EXPECT_EQ(answer.load(), kIdNo);
    SuppressGuiMessageBoxes(false);
    SetMessageBoxHandler(previous);
}
