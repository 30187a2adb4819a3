#pragma once
// The greeting sender: drains the greeting queue (CGreetingQueue) one greeting
// at a time through the IM client, pausing the configured step time after each
// one and three seconds between passes. Started and stopped by the
// configuration page, which also sets LiveSettings().greetingRunning to 1 when
// it starts the thread and to 0 when it raises m_stop (visits queue greetings
// only while it is 1); the thread itself never touches that value.
// Self-deleting: the starter connects finished to deleteLater and never waits
// for it. A greeting held back (before the click) by another client's keyboard
// grab or a chat window that lost the focus stays queued for a later pass (see
// GreetingQueue.h for how long); once a key reached the chat a greeting is
// never tried again. [greetlog] gets one row per greeting, when its fate is
// decided (sent, not sent with the reason, dropped); a held try is a log line only.
#include "tables/GreetingQueue.h"

#include <QString>
#include <QThread>

#include <atomic>

class CAutoSendMsgThread : public QThread
{
    Q_OBJECT
public:
    explicit CAutoSendMsgThread(QObject* parent = nullptr);
    ~CAutoSendMsgThread() override;

    // 0 = run, 1 = stop; looked at before and after reading the queue, before
    // every second of a pause and in every wait of a send.
    std::atomic<int> m_stop{0};

protected:
    void run() override;

private:
    // One pass over the queue; false when the stop flag ended it.
    bool SendPass();
    // Sends one greeting, finishes it on the queue and logs its fate unless it
    // was held (kGreetingFailed, not logged, for an incomplete row).
    int Send(const CQueuedGreeting& greeting);

    CGreetingQueue m_queue; // kept across passes; this thread only
};
