#pragma once
// The greeting sender: drains the [AutoSend] queue one greeting at a time
// through the IM client, pausing the configured step time after each one and
// three seconds between passes. Started and stopped by the configuration
// page, which also sets LiveSettings().greetingRunning to 1 when it starts the
// thread and to 0 when it raises m_stop (visits queue greetings only while it
// is 1); the thread itself never touches that value. Self-deleting: the
// starter connects finished to deleteLater and never waits for it.
#include <QThread>

#include <atomic>

class CAutoSendMsgThread : public QThread
{
    Q_OBJECT
public:
    explicit CAutoSendMsgThread(QObject* parent = nullptr);

    // 0 = run, 1 = stop; looked at before and after reading the queue and
    // before every second of a pause, never while a greeting is being sent.
    std::atomic<int> m_stop{0};

protected:
    void run() override;

private:
    // One pass over the queue; false when the stop flag ended it.
    bool SendPass();
    // Sleeps in one-second steps; false when the stop flag was seen.
    bool Pause(int seconds);
    bool PauseStepTime();
};
