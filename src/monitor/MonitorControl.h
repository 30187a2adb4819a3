#pragma once
// The life of the two restartable worker sets: monitoring (with presence) and
// the greeting sender. Starts and stops them, restarts monitoring every half
// hour once asked to, and keeps LiveSettings().greetingRunning (visits queue
// greetings only while a sender really runs). Owned by the application; the
// configuration page's buttons and flows go through it. Window's thread.
#include <QObject>
#include <QTimer>

class CWorkerSlot;

class CMonitorControl : public QObject
{
    Q_OBJECT
public:
    explicit CMonitorControl(QObject* parent = nullptr);
    // Raises the stop flags of the running sets; never waits for them.
    ~CMonitorControl() override;

    bool IsMonitoring() const;
    bool IsGreetingRunning() const;
    void StartMonitoring();
    void StopMonitoring();
    void StartGreeting();
    // Also empties the greeting queue (not the team store's shared one).
    void StopGreeting();
    // From now on RestartMonitoring runs every kRestartIntervalMs.
    void StartRestartTimer();
    // Stops monitoring and starts it again (also when it was stopped).
    void RestartMonitoring();

    static constexpr int kRestartIntervalMs = 30 * 60 * 1000;

Q_SIGNALS:
    // Also when the threads ended on their own (the 30-minute restart brings monitoring back).
    void MonitoringChanged(bool running);
    void GreetingEndedUnasked();

private:
    CWorkerSlot* m_monitoring;
    CWorkerSlot* m_greeting;
    QTimer m_restartTimer;
};

// The application's instance; nullptr when there is none.
extern CMonitorControl* g_pMonitorControl;
