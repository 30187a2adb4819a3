#pragma once
// The application object: brings the program up in its fixed order (data
// directory, service addresses, store, main window with its pages, caption,
// placement) and takes it down (workers stopped within a bounded time, main
// window destroyed, store closed). Window's thread.
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QTimer>

#include "app/MainFrame.h"
#include "app/SingleInstance.h"
#include "monitor/MonitorControl.h"
#include "platform/OneShot.h"

class CMirelHelperApp : public QObject
{
    Q_OBJECT
public:
    static constexpr int kWindowWidth = 800;
    static constexpr int kWindowHeight = 580;
    static inline const QString kCaption = QStringLiteral("Lumo网店助手-Vexa来客提醒 V1.1");
    // How long exit waits for the worker threads to end.
    static constexpr int kExitWaitMs = 5000;

    CMirelHelperApp();
    ~CMirelHelperApp() override;

    bool InitInstance();
    // Runs after the event loop; returns the process exit code.
    int ExitInstance(int exitCode);
    // InitInstance, the event loop, ExitInstance.
    int Run();

    CMainFrame* MainFrame() const { return m_frame; }
    // Shows the main window and brings it to the front (a later start asked for it).
    void ShowMainWindow();
    // Ends the program as the exit commands do (a signal asked for it); before
    // the event loop runs, the exit starts as soon as it does.
    void RequestExit();
    // What a later start (a menu entry's action) asked for.
    void OnRequest(CSingleInstance::ERequest request);
    // After exit: whether every worker ended within the wait. When one did
    // not, the window and the store were left as they were.
    bool WorkersStopped() const { return m_workersStopped; }
    bool TornDown() const { return m_tornDown; }
    void SetExitWaitMs(int ms) { m_exitWaitMs = ms; }
    bool Exiting() const { return m_exiting; }

    // The owner's automatic deletion of old visits, off the window's thread;
    // at start and once a day. A run still going is left to finish.
    void StartHistoryUpkeep();
    static constexpr int kUpkeepIntervalMs = 24 * 60 * 60 * 1000;

    // 800 x 580 centred on the desktop, each half truncated toward zero.
    static QRect MainWindowRect(const QRect& desktop);

private:
    void OnExitRequested();
    void PollWorkers();
    void FinishExit();
    void TearDown();
    // Raises every stop flag and waits until the deadline (ms since the
    // epoch of QDeadlineTimer) for the workers to end; true when all did.
    bool StopWorkers(qint64 deadline);

    QPointer<CMainFrame> m_frame;
    // The monitoring and greeting workers; the configuration page drives them.
    CMonitorControl m_monitorControl;
    QTimer m_exitPoll;
    QTimer m_upkeepTimer;
    COneShot m_upkeep;
    qint64 m_exitDeadline = 0;
    int m_exitWaitMs = kExitWaitMs;
    bool m_exiting = false;
    bool m_loopStarted = false;
    bool m_exitPending = false;
    bool m_workersStopped = true;
    bool m_tornDown = false;
};
