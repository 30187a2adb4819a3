// The application shell: start-up order, caption and placement, the frame's
// menu, toolbar and panes, page switching.
#include "support/TestMain.h"

#include "app_fixture.h"

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
