#pragma once
// The greeting sender: drains the [AutoSend] queue one greeting at a time
// through the IM client, pausing the configured step time after each one and
// three seconds between passes. Started and stopped by the configuration
// page, which also sets LiveSettings().greetingRunning to 1 when it starts the
// thread and to 0 when it raises m_stop (visits queue greetings only while it
// is 1); the thread itself never touches that value. Self-deleting: the
// starter connects finished to deleteLater and never waits for it.
// A greeting held back (before the click) by another client's keyboard grab or
// a chat window that lost the focus stays queued and is tried again on each
// pass, until kHeldGreetingLifetimeMs after this thread first read it; then it
// is dropped. Once a key reached the chat a greeting is never tried again.
// [greetlog] gets one row per greeting, when its fate is decided (sent, not
// sent with the reason, dropped); a held try is a log line only.
// [AutoSend] has no time column, so that moment is kept here, by rowid: rows
// are read within seconds of being queued, and a stop empties the queue, so a
// new thread never meets an old held row. On the team store the queue is
// shared by every machine: see TeamGreetingQueue.h.
#include "tables/GreetingQueue.h"

#include <QString>
#include <QThread>

#include <atomic>
#include <map>
#include <memory>

class CTeamGreetingQueue;
enum class EGreetReason;

constexpr qint64 kHeldGreetingLifetimeMs = 30 * 60 * 1000;

// The [greetlog] row of one greeting: sent when reason is Sent, else not sent for that reason.
void LogGreetingFate(const QString& account, const QString& visitor, EGreetReason reason);

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
    // The same on the team store: only the shops this machine greets for,
    // each row claimed (committed) from the shared queue before it is typed.
    bool TeamSendPass();
    // Sends one greeting and logs its fate unless it was held (kGreetingFailed,
    // not logged, for an incomplete row); a claimed row is finished first.
    int Send(const CQueuedGreeting& greeting, CTeamGreetingQueue* claim = nullptr);
    qint64 FirstSeenMs(const CQueuedGreeting& greeting, qint64 now);

    struct CFirstSeen
    {
        qint64 ms = 0;
        QString visitor;
        QString account;
    };
    std::map<qint64, CFirstSeen> m_firstSeen;        // by rowid; this thread only
    std::unique_ptr<CTeamGreetingQueue> m_teamQueue; // kept across passes: a failed delete is tried again
};
