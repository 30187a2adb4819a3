// The application shell: close and exit, the services worker threads use
// (status message, alert, message boxes) and the tray.
#include "support/TestMain.h"

#include "app_fixture.h"

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
