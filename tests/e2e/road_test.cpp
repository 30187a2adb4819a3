// The whole road of one page view, on real processes over loopback under
// Xvfb: rivuzovara-local, hichat as the desktop's "lumochat://" handler, a
// window manager and a tray host. A shop account is added through the
// configuration page, a shopper opens an item page (the tracking snippet's
// shop.asp) and shows up on the shop's IM profile page; one polling cycle
// later there is a visit, an alert balloon, a status text, a list row, a
// queued greeting and the greeting in the chat client. Then monitoring
// stops, the tray menu ends the program and the store is intact.
#include "support/TestMain.h"

#include "road_fixture.h"

namespace {

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

} // namespace
