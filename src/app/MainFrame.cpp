#include "app/MainFrame.h"

#include "controls/ui/OutsideText.h"

#include "accounts/LiveSettings.h"
#include "accounts/TeamSettings.h"
#include "app/AboutDlg.h"
#include "app/GuiMessageBox.h"
#include "app/MirelHelperView.h"
#include "app/PageFactory.h"
#include "controls/ui/Resources.h"
#include "controls/ui/TrueColorToolBar.h"
#include "monitor/ViewHearing.h"
#include "platform/Endpoints.h"
#include "platform/Log.h"

#include <QAction>
#include <QCloseEvent>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMetaMethod>
#include <QScreen>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QThread>
#include <QTimer>
#include <QToolButton>

CMainFrame* g_pMainFrame = nullptr;

namespace {

struct CCommandInfo
{
    int id;
    const char* objectName;
    const char* menuText;
    const char* toolText;
    // Status-bar prompt and tool tip.
    const char* prompt;
};

const CCommandInfo kCommands[] = {
    {CMainFrame::kCmdRefreshList, "refreshListAction", "刷新列表(&F)", "刷新列表", "刷新用户列表\n刷新用户列表"},
    {CMainFrame::kCmdUserList, "userListAction", "用户列表(&U)", "用户列表", "用户列表\n用户列表"},
    {CMainFrame::kCmdConfig, "configAction", "信息配置(&C)", "配置信息", "配置信息\n配置信息"},
    {CMainFrame::kCmdLastAlert, "lastAlertAction", "最后提示(&L)", "最后提醒", "最后客户提醒\n最后客户提醒"},
    {CMainFrame::kCmdHistory, "historyAction", "历史访问(&H)", "历史记录", "历史访问记录\n历史访问记录"},
    {CMainFrame::kCmdHelp, "helpAction", "帮助信息(&H)", "帮助信息", "帮助信息\n帮助信息"},
    {CMainFrame::kCmdAbout, "aboutAction", "关于 MirelHelper(&A)...", "关于软件", "显示程序信息、版本号和版权\n关于"},
    {CMainFrame::kCmdFeaturedShops, "featuredShopsAction", "精品网店(&V)", "精品店铺", "精品网店\n精品网店"},
    {CMainFrame::kCmdStatistics, "statisticsAction", "访客统计(&J)", "访客统计", "访客统计图表\n访客统计"},
    {CMainFrame::kCmdToolBar, "toolBarAction", "工具栏(&T)", "", "显示或隐藏工具栏\n切换工具栏"},
    {CMainFrame::kCmdStatusBar, "statusBarAction", "状态栏(&S)", "", "显示或隐藏状态栏\n切换状态栏"},
    {CMainFrame::kCmdExit, "exitAction", "退出(&X)", "", "退出应用程序\n退出"},
    {CMainFrame::kCmdPauseAlerts, "pauseAlertsAction", "暂停提醒(&P)", "",
     "暂停或恢复新客户的铃声和提示,访问照常记录\n暂停提醒"},
    {CMainFrame::kCmdAdvancedSettings, "advancedSettingsAction", "高级设置(&A)...", "",
     "安静时段、提醒合并、打招呼限额和关注客户\n高级设置"},
    {CMainFrame::kCmdTeamSettings, "teamSettingsAction", "团队设置(&T)...", "",
     "多台电脑共用一个数据库时,本机为哪些店铺打招呼\n团队设置"},
};

// Lock states of the keyboard as X reports them in every key event's state.
constexpr quint32 kX11LockMask = 0x02;
constexpr quint32 kX11NumLockMask = 0x10;

} // namespace

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent), m_view(new CMirelHelperView(this))
{
    InitMirelResources();
    g_pMainFrame = this;
    setObjectName(QStringLiteral("CMainFrame"));
    setWindowTitle(kInitialTitle);
    setWindowIcon(AppIcon());
    setCentralWidget(m_view);

    QFile chime(QStringLiteral(":/sounds/alert.wav"));
    if (chime.open(QIODevice::ReadOnly))
        m_chime = chime.readAll();

    connect(&m_tray, &CTrayIcon::Notification, this, &CMainFrame::OnTrayNotification);
    connect(&m_tray, &CTrayIcon::Command, this, &CMainFrame::OnCommand);
    connect(&m_tray, &CTrayIcon::AlertActivated, this, &CMainFrame::OnAlertActivated);
    connect(m_view, &CMirelHelperView::PageChanged, this, [this] { UpdateRefreshCommand(); });

    InstallGuiMessageBoxHandler(this);
    SetOwnerNotifier(this);
}

CMainFrame::~CMainFrame()
{
    SetOwnerNotifier(nullptr);
    if (m_iconShown)
        m_tray.RemoveIcon();
    m_iconShown = false;
    if (g_pMainFrame == this)
        g_pMainFrame = nullptr;
}

QIcon CMainFrame::AppIcon()
{
    InitMirelResources();
    QIcon icon;
    for (int size : {16, 32, 48, 64})
        icon.addFile(QStringLiteral(":/icons/mirelhelper-%1.png").arg(size), QSize(size, size));
    return icon;
}

bool CMainFrame::Create()
{
    CreateActions();
    CreateMenus();
    if (!CreateToolBar() || !CreateStatusBar())
        return false;
    m_iconShown = m_tray.Create(AppIcon(), this, true);
    WatchTrayHost();
    qApp->installEventFilter(this);
    UpdateRefreshCommand();
    return true;
}

void CMainFrame::CreateActions()
{
    for (const CCommandInfo& info : kCommands) {
        auto* action = new QAction(QString::fromUtf8(info.menuText), this);
        action->setObjectName(QLatin1String(info.objectName));
        action->setProperty("commandId", info.id);
        const QStringList prompt = QString::fromUtf8(info.prompt).split(u'\n');
        action->setStatusTip(prompt.value(0));
        action->setToolTip(prompt.value(1));
        action->setIconText(QString::fromUtf8(info.toolText));
        const int id = info.id;
        connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
        m_actions.insert(id, action);
    }
    for (int id : {kCmdToolBar, kCmdStatusBar}) {
        m_actions[id]->setCheckable(true);
        m_actions[id]->setChecked(true);
    }
    m_actions[kCmdPauseAlerts]->setCheckable(true);
}

void CMainFrame::CreateMenus()
{
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("mainMenu"));
    QMenu* file = bar->addMenu(QStringLiteral("文件(&F)"));
    file->setObjectName(QStringLiteral("fileMenu"));
    file->addAction(m_actions[kCmdAdvancedSettings]);
    file->addAction(m_actions[kCmdTeamSettings]);
    // Only a store several machines share has a team to set up.
    m_actions[kCmdTeamSettings]->setEnabled(OnTeamStore());
    file->addSeparator();
    file->addAction(m_actions[kCmdExit]);
    QMenu* view = bar->addMenu(QStringLiteral("视图(&V)"));
    view->setObjectName(QStringLiteral("viewMenu"));
    for (int id : {kCmdToolBar, kCmdStatusBar, kCmdRefreshList, kCmdUserList, kCmdConfig, kCmdLastAlert, kCmdHistory,
                   kCmdStatistics, kCmdHelp, kCmdFeaturedShops})
        view->addAction(m_actions[id]);
    view->addSeparator();
    view->addAction(m_actions[kCmdPauseAlerts]);
    QMenu* help = bar->addMenu(QStringLiteral("帮助(&H)"));
    help->setObjectName(QStringLiteral("helpMenu"));
    help->addAction(m_actions[kCmdAbout]);
}

bool CMainFrame::CreateToolBar()
{
    m_toolBar = new CTrueColorToolBar(this);
    m_toolBar->setObjectName(QStringLiteral("mainToolBar"));
    m_toolBar->setWindowTitle(QStringLiteral("工具栏"));
    m_toolBar->setAccessibleName(QStringLiteral("工具栏"));
    m_toolBar->setMovable(true);
    addToolBar(Qt::TopToolBarArea, m_toolBar);
    // The toolbar's own buttons carry the short texts; the menu keeps its longer ones.
    for (int id : kToolBarCommands) {
        QAction* action = m_actions[id];
        m_toolBar->addAction(action);
        if (auto* button = m_toolBar->widgetForAction(action))
            button->setObjectName(QStringLiteral("toolButton%1").arg(id));
    }
    if (!m_toolBar->LoadPlainImages(QStringLiteral(":/toolbar/toolbar_plain.bmp")))
        return false;
    m_toolBar->LoadTrueColorToolBar(QStringLiteral(":/toolbar/toolbar_normal.bmp"),
                                    QStringLiteral(":/toolbar/toolbar_disabled.bmp"));
    m_toolBar->SetSizes(QSize(55, 70), QSize(48, 48));
    for (int id : kToolBarCommands) {
        if (auto* button = qobject_cast<QToolButton*>(m_toolBar->widgetForAction(m_actions[id]))) {
            button->setText(m_actions[id]->iconText());
            button->setAccessibleName(m_actions[id]->iconText());
            button->setAccessibleDescription(m_actions[id]->statusTip());
        }
    }
    connect(m_actions[kCmdToolBar], &QAction::toggled, m_toolBar, &QWidget::setVisible);
    return true;
}

bool CMainFrame::CreateStatusBar()
{
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("statusBar"));
    const char* names[kPaneCount] = {"messagePane", "capsPane", "numPane", "scrollPane", "infoPane"};
    const int widths[kPaneCount] = {0, 40, 40, 40, 400};
    for (int i = 0; i < kPaneCount; ++i) {
        auto* pane = new QLabel(bar);
        pane->setObjectName(QLatin1String(names[i]));
        pane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        pane->setTextFormat(Qt::PlainText);
        if (i == 0) {
            bar->addWidget(pane, 1);
        } else {
            pane->setFixedWidth(widths[i]);
            pane->setAlignment(i == kInfoPane ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignCenter);
            bar->addPermanentWidget(pane);
        }
        m_panes[i] = pane;
    }
    // Status texts carry shop and visitor names.
    connect(&m_status, &CStatusMessage::Display, m_panes[kInfoPane],
            [pane = m_panes[kInfoPane]](const QString& text) { SetPlainText(pane, text); });
    connect(m_actions[kCmdStatusBar], &QAction::toggled, bar, &QWidget::setVisible);
    // How views reach the owner: the wake-up comes and goes with the service, so it is looked at every second.
    auto* hearing = new QTimer(this);
    hearing->setObjectName(QStringLiteral("hearingTimer"));
    const auto showHearing = [pane = m_panes[0]] {
        const QString text = ViewHearingText();
        if (pane->text() != text)
            pane->setText(text);
    };
    connect(hearing, &QTimer::timeout, m_panes[0], showHearing);
    showHearing();
    hearing->start(1000);
    return true;
}

QLabel* CMainFrame::Pane(int index) const
{
    return index >= 0 && index < kPaneCount ? m_panes[index] : nullptr;
}

void CMainFrame::WatchTrayHost()
{
    // The X11 platform reports a (re)started notification area, the way the
    // Windows shell broadcasts "TaskbarCreated".
    QObject* native = reinterpret_cast<QObject*>(QGuiApplication::platformNativeInterface());
    if (!native)
        return;
    const int signal = native->metaObject()->indexOfSignal("systemTrayWindowChanged(QScreen*)");
    const int slot = metaObject()->indexOfSlot("OnTaskbarCreated()");
    if (signal >= 0 && slot >= 0)
        connect(native, native->metaObject()->method(signal), this, metaObject()->method(slot));
}

void CMainFrame::UpdateRefreshCommand()
{
    if (QAction* refresh = m_actions.value(kCmdRefreshList))
        refresh->setEnabled(m_view->CurrentPage() == CMirelHelperView::kUserListPage);
}

void CMainFrame::OnCommand(int commandId)
{
    switch (commandId) {
    case kCmdRefreshList:
        if (m_view->CurrentPage() == CMirelHelperView::kUserListPage)
            m_view->OnRefreshList();
        break;
    case kCmdUserList:
        m_view->ShowPage(CMirelHelperView::kUserListPage);
        break;
    case kCmdConfig:
        m_view->ShowPage(CMirelHelperView::kConfigPage);
        break;
    case kCmdHelp:
        m_view->ShowPage(CMirelHelperView::kHelpPage);
        break;
    case kCmdFeaturedShops:
        m_view->ShowPage(CMirelHelperView::kAdPage);
        break;
    case kCmdStatistics:
        m_view->ShowPage(CMirelHelperView::kStatisticsPage);
        break;
    case kCmdHistory:
        m_view->OnHistory();
        break;
    case kCmdLastAlert:
        OnLastAlert();
        break;
    case kCmdAbout:
        RunAboutDialog(this);
        break;
    case kCmdPauseAlerts:
        SetAlertsPaused(m_actions[kCmdPauseAlerts]->isChecked());
        break;
    case kCmdAdvancedSettings:
        PageFactory().openAdvancedSettingDialog(this);
        break;
    case kCmdTeamSettings:
        if (OnTeamStore())
            PageFactory().openTeamSettingDialog(this);
        break;
    case kCmdExit:
    case CTrayIcon::kCmdExit:
        OnAppExit();
        break;
    case CTrayIcon::kCmdHide:
        OnTrayHide();
        break;
    case CTrayIcon::kCmdShow:
        OnTrayShow();
        break;
    default:
        break;
    }
}

void CMainFrame::OnAppExit()
{
    if (m_iconShown) {
        m_tray.RemoveIcon();
        m_iconShown = false;
    }
    Q_EMIT ExitRequested();
}

void CMainFrame::CloseFrame()
{
    m_closing = true;
    close();
}

void CMainFrame::OnTrayHide()
{
    hide();
}

void CMainFrame::OnTrayShow()
{
    showNormal();
    raise();
    activateWindow();
}

void CMainFrame::OnLastAlert()
{
    if (m_iconShown)
        m_tray.ShowLastBalloon();
}

void CMainFrame::OnTaskbarCreated()
{
    if (m_iconShown) {
        m_tray.RemoveIcon();
        m_iconShown = false;
        m_iconShown = m_tray.Create(AppIcon(), this, false);
    } else if (!m_closing && m_tray.TrayAvailable() && !m_tray.IsAdded()) {
        // Started where no notification area existed: now that one is there, use it.
        m_iconShown = m_tray.Create(AppIcon(), this, false);
    }
}

void CMainFrame::OnTrayNotification(int iconId, int mouseMessage)
{
    if (mouseMessage == CTrayIcon::kLButtonDblClk) {
        show();
        return;
    }
    m_tray.OnTrayNotification(iconId, mouseMessage);
}

void CMainFrame::ShowStatusMessage(const QString& text)
{
    m_status.Post(text);
}

void CMainFrame::AlertOwner(const QString& text)
{
    AlertOwnerAbout(text, QString(), QString());
}

void CMainFrame::SetAlertsPaused(bool paused)
{
    if (QAction* action = m_actions.value(kCmdPauseAlerts))
        action->setChecked(paused);
    if (m_alertsPaused.exchange(paused) == paused)
        return;
    qCInfo(LogUi) << (paused ? "alerts paused" : "alerts resumed");
    ShowStatusMessage(paused ? kAlertsPausedText : kAlertsResumedText);
}

void CMainFrame::AlertOwnerAbout(const QString& text, const QString& shop, const QString& visitor)
{
    if (m_alertsPaused.load())
        return;
    if (LiveSettings().playsound.load() && !m_chime.isEmpty())
        m_sound.Play(m_chime, Endpoints().soundDevice);
    if (QThread::currentThread() == thread())
        ShowAlertText(text, shop, visitor);
    else
        QMetaObject::invokeMethod(
            this, [this, text, shop, visitor] { ShowAlertText(text, shop, visitor); }, Qt::QueuedConnection);
}

void CMainFrame::ShowAlertText(const QString& text, const QString& shop, const QString& visitor)
{
    m_alertShop = shop;
    m_alertVisitor = visitor;
    m_tray.SetTooltipText(text, !visitor.isEmpty());
}

void CMainFrame::OnAlertActivated(bool openChat)
{
    if (openChat && !m_alertVisitor.isEmpty() &&
        PageFactory().openVisitorChat(m_view->Page(CMirelHelperView::kUserListPage), m_alertShop, m_alertVisitor))
        return;
    OnTrayShow();
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    if (m_closing) {
        event->accept();
        return;
    }
    event->ignore();
    // The close box only hides; the program lives on in the notification area.
    // Without one, nothing would bring a hidden window back: it is minimised instead.
    if (!HasTrayIcon()) {
        qCInfo(LogUi) << "no notification area: the window is minimised, not hidden";
        showMinimized();
        return;
    }
    hide();
}

bool CMainFrame::HasTrayIcon() const
{
    return m_iconShown && m_tray.IsAdded() && m_tray.TrayAvailable();
}

void CMainFrame::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || !isMinimized() || m_closing)
        return;
    if (!m_iconShown)
        m_iconShown = m_tray.Create(AppIcon(), this, false);
    // Without a notification area the window stays minimised where the desktop shows it.
    if (!HasTrayIcon())
        return;
    // Hide once the minimise has finished; shown again, the window comes back normal.
    QTimer::singleShot(0, this, [this] {
        setWindowState(windowState() & ~Qt::WindowMinimized);
        hide();
    });
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const quint32 state = key->nativeModifiers();
        if (state != 0 || key->nativeScanCode() != 0) {
            m_panes[1]->setText(state & kX11LockMask ? QStringLiteral("大写") : QString());
            m_panes[2]->setText(state & kX11NumLockMask ? QStringLiteral("数字") : QString());
        }
    }
    return QMainWindow::eventFilter(watched, event);
}
