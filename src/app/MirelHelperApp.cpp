#include "app/MirelHelperApp.h"

#include "accounts/AdvancedSettings.h"
#include "accounts/TeamSettings.h"
#include "app/GuiMessageBox.h"
#include "app/MainFrame.h"
#include "app/MirelHelperView.h"
#include "history/HistoryUpkeep.h"
#include "monitor/TeamAlerts.h"
#include "monitor/ui/UserListDlg.h"
#include "platform/Clock.h"
#include "platform/DataDirectory.h"
#include "platform/Endpoints.h"
#include "platform/MessageBox.h"
#include "platform/TextCodec.h"
#include "platform/Workers.h"
#include "store/AdoConnection.h"
#include "store/StoreConfig.h"
#include "store/StoreStartup.h"
#include "store/TeamListener.h"

#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QScreen>
#include <QThread>

#include <algorithm>

CMirelHelperApp::CMirelHelperApp()
{
    // The per-user settings (saved column widths) live under these names.
    QCoreApplication::setOrganizationName(QStringLiteral("MirelHelp - ZorIrevov"));
    QCoreApplication::setApplicationName(AppTitle());
    m_exitPoll.setInterval(20);
    connect(&m_exitPoll, &QTimer::timeout, this, &CMirelHelperApp::PollWorkers);
    m_upkeepTimer.setInterval(kUpkeepIntervalMs);
    connect(&m_upkeepTimer, &QTimer::timeout, this, &CMirelHelperApp::StartHistoryUpkeep);
}

CMirelHelperApp::~CMirelHelperApp()
{
    // Exit left the window and the store to a worker that would not stop; if
    // it has ended by now, finish the teardown.
    if (!m_tornDown && StopWorkers(QDeadlineTimer(m_exitWaitMs).deadline()))
        TearDown();
}

void CMirelHelperApp::TearDown()
{
    // The pages go with the window; the store closes after them.
    delete m_frame;
    CloseStore();
    m_tornDown = true;
}

QRect CMirelHelperApp::MainWindowRect(const QRect& desktop)
{
    const int left = desktop.width() / 2 - kWindowWidth / 2;
    const int top = desktop.height() / 2 - kWindowHeight / 2;
    return QRect(desktop.left() + left, desktop.top() + top, kWindowWidth, kWindowHeight);
}

bool CMirelHelperApp::InitInstance()
{
    QApplication::setQuitOnLastWindowClosed(false);
    // Boxes from start-up (a store that will not open) already come as real boxes.
    InstallGuiMessageBoxHandler(nullptr);

    const QString dataDir = DataDirectory();
    LoadEndpoints(dataDir);
    OpenStore(dataDir);
    LoadAdvancedSettings();
    // The window's statements get a handle of their own with a short wait, so a
    // worker queued behind another program's write lock never freezes the window.
    if (g_pConnection)
        g_pConnection->SetWindowThread(QThread::currentThread());
    // Visits the other machines of a team record alert here too.
    if (OnTeamStore()) {
        auto* listener = new CTeamListener(ReadStoreConfig(dataDir).url, this);
        auto* alerts = new CTeamAlerts(this);
        connect(listener, &CTeamListener::VisitRecorded, alerts, &CTeamAlerts::OnVisitRecorded);
    }

    g_pMonitorControl = &m_monitorControl;
    auto* frame = new CMainFrame;
    m_frame = frame;
    if (!frame->Create())
        return false;
    connect(frame, &CMainFrame::ExitRequested, this, &CMirelHelperApp::OnExitRequested);
    // After the command's own slot, which returns once the dialog is closed: an owner who has just
    // turned automatic deletion on sees it done now, not tomorrow.
    if (QAction* advanced = frame->Action(CMainFrame::kCmdAdvancedSettings))
        connect(advanced, &QAction::triggered, this, &CMirelHelperApp::StartHistoryUpkeep);
    // The pages start their workers as they are created.
    frame->View()->OnInitialUpdate();

    frame->setWindowTitle(kCaption);
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect desktop = screen ? screen->geometry() : QRect(0, 0, 1024, 768);
    const QRect place = MainWindowRect(desktop);
    frame->move(place.topLeft());
    frame->resize(place.size());
    frame->showNormal();
    frame->repaint();
    StartHistoryUpkeep();
    m_upkeepTimer.start();
    const QByteArray unknownCodePage = UnknownCodePage();
    if (!unknownCodePage.isEmpty())
        frame->ShowStatusMessage(CodePageFallbackText(unknownCodePage));
    return true;
}

void CMirelHelperApp::StartHistoryUpkeep()
{
    if (m_exiting || m_upkeep.IsRunning() || CurrentAdvancedSettings().keepDays <= 0)
        return;
    const qint64 now = Clock().NowMs();
    m_upkeep = RunThenCallback(
        this, [now] { return RunHistoryUpkeep(now); },
        [](const CUpkeepCounts& counts) {
            // The list must not go on showing visits that are gone.
            if (counts.visits > 0 && g_pUserListDlg)
                g_pUserListDlg->FillVisitorList();
        });
}

void CMirelHelperApp::ShowMainWindow()
{
    if (m_frame && !m_exiting)
        m_frame->OnTrayShow();
}

void CMirelHelperApp::RequestExit()
{
    if (!m_loopStarted) {
        m_exitPending = true;
        return;
    }
    // The tray's own exit: the icon goes first, then the frame asks for the exit.
    if (m_frame)
        m_frame->OnAppExit();
    else
        OnExitRequested();
}

void CMirelHelperApp::OnRequest(CSingleInstance::ERequest request)
{
    if (!m_frame || m_exiting)
        return;
    // A dialog already open (the history, a message box) keeps the window's
    // attention; it comes to the front instead of a second one over it.
    if (QWidget* modal = QApplication::activeModalWidget()) {
        m_frame->OnTrayShow();
        modal->raise();
        modal->activateWindow();
        if (request != CSingleInstance::ERequest::ToggleAlerts)
            return;
    }
    switch (request) {
    case CSingleInstance::ERequest::Show:
        m_frame->OnTrayShow();
        break;
    case CSingleInstance::ERequest::Visitors:
        m_frame->OnTrayShow();
        m_frame->OnCommand(CMainFrame::kCmdUserList);
        break;
    case CSingleInstance::ERequest::History:
        m_frame->OnTrayShow();
        m_frame->OnCommand(CMainFrame::kCmdHistory);
        break;
    case CSingleInstance::ERequest::ToggleAlerts:
        m_frame->SetAlertsPaused(!m_frame->AlertsPaused());
        break;
    }
}

void CMirelHelperApp::OnExitRequested()
{
    if (m_exiting)
        return;
    m_exiting = true;
    // Nobody is there to answer boxes any more; workers get their default answer.
    SuppressGuiMessageBoxes(true);
    if (m_frame)
        m_frame->hide();
    m_upkeepTimer.stop();
    CWorkerRegistry::StopAll(0);
    m_exitDeadline = QDeadlineTimer(m_exitWaitMs).deadline();
    // The event loop keeps running meanwhile, so a worker blocked on a call to
    // the window's thread gets its answer and can end.
    PollWorkers();
    if (m_exiting && !m_exitPoll.isActive() && CWorkerRegistry::RunningCount() > 0)
        m_exitPoll.start();
}

void CMirelHelperApp::PollWorkers()
{
    // A page may still start a worker (a restart that was waiting for the
    // previous thread to end); it is stopped as soon as it registers.
    CWorkerRegistry::StopAll(0);
    const bool allEnded = CWorkerRegistry::RunningCount() == 0;
    if (!allEnded && QDeadlineTimer::current().deadline() < m_exitDeadline)
        return;
    m_exitPoll.stop();
    m_workersStopped = allEnded;
    FinishExit();
}

void CMirelHelperApp::FinishExit()
{
    if (m_frame)
        m_frame->CloseFrame();
    QCoreApplication::quit();
}

int CMirelHelperApp::ExitInstance(int exitCode)
{
    SuppressGuiMessageBoxes(true);
    // Normally the workers have ended already; if the loop ended some other way, stop them now.
    const int remaining =
        m_exiting ? std::max<qint64>(0, m_exitDeadline - QDeadlineTimer::current().deadline()) : m_exitWaitMs;
    m_workersStopped = StopWorkers(QDeadlineTimer::current().deadline() + remaining);
    // A worker still running may be inside the store or calling a page:
    // closing either under it could crash it mid-statement, so both stay.
    if (m_workersStopped)
        TearDown();
    return exitCode;
}

bool CMirelHelperApp::StopWorkers(qint64 deadline)
{
    CWorkerRegistry::StopAll(0);
    // Events keep flowing while we wait: a worker blocked on a call to the
    // window's thread (a refill, a box) gets its answer and can end.
    while (CWorkerRegistry::RunningCount() > 0 && QDeadlineTimer::current().deadline() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
        CWorkerRegistry::StopAll(0);
    }
    return CWorkerRegistry::RunningCount() == 0;
}

int CMirelHelperApp::Run()
{
    if (!InitInstance())
        return ExitInstance(1);
    m_loopStarted = true;
    if (m_exitPending)
        QMetaObject::invokeMethod(this, &CMirelHelperApp::RequestExit, Qt::QueuedConnection);
    return ExitInstance(QApplication::exec());
}
