#include "greet/AutoSendMsgThread.h"

#include "accounts/LiveSettings.h"
#include "accounts/TeamSettings.h"
#include "greet/Greeting.h"
#include "greet/ImClient.h"
#include "platform/AbortScope.h"
#include "platform/Log.h"
#include "platform/Workers.h"

namespace {

constexpr int kIdlePauseSeconds = 3;

// On the team store: this machine is seen, and greets for the shops the 团队设置 dialog gave it.
std::optional<QStringList> GreetShopsOfThisMachine()
{
    TouchMachine();
    bool ok = false;
    const QStringList shops = ReadGreetShops(ThisMachine(), &ok);
    return ok ? std::optional<QStringList>(shops) : std::nullopt;
}

} // namespace

CAutoSendMsgThread::CAutoSendMsgThread(QObject* parent) : QThread(parent), m_queue(GreetShopsOfThisMachine) {}

CAutoSendMsgThread::~CAutoSendMsgThread() = default;

void CAutoSendMsgThread::run()
{
    try {
        CWorkerScope scope(this, &m_stop);
        // Every wait of a send (link opener, window search, activation) looks at the stop flag.
        CAbortScope abort(&m_stop);
        for (;;) {
            if (!SendPass())
                return;
            if (!PauseUnlessStopped(m_stop, kIdlePauseSeconds))
                return;
        }
    } catch (...) {
        LogWorkerException(this);
    }
}

bool CAutoSendMsgThread::SendPass()
{
    if (m_stop.load())
        return false;
    if (!m_queue.BeginPass())
        return true;
    if (m_stop.load())
        return false;
    while (m_stop.load() == 0) {
        const std::optional<CQueuedGreeting> greeting = m_queue.Next();
        if (!greeting)
            break;
        Send(*greeting);
        // A row that was not sent costs its pause all the same; a change of the
        // step time on the settings page takes effect at once.
        if (!PauseUnlessStopped(m_stop, LiveSettings().sendsteptime))
            return false;
    }
    if (m_stop.load())
        return false;
    m_queue.EndPass();
    return true;
}

int CAutoSendMsgThread::Send(const CQueuedGreeting& greeting)
{
    const bool complete = !greeting.visitor.isEmpty() && !greeting.account.isEmpty() && !greeting.tmpl.isEmpty();
    int result = kGreetingFailed;
    EGreetReason reason = EGreetReason::Failed;
    if (complete) {
        result = SendGreeting(greeting.account, greeting.visitor, ExpandGreeting(greeting.tmpl, greeting.visitor));
        reason = result == kGreetingSent ? EGreetReason::Sent : LastGreetReason();
    }
    // The row goes (or is given back) before the log row is written.
    m_queue.Finish(result != kGreetingHeld);
    if (!complete)
        return result;
    if (result == kGreetingHeld) {
        qCInfo(LogGreet).noquote() << "greeting held (" + GreetReasonText(reason) + "); tried again on the next pass";
        return result;
    }
    CGreetingLogTable::Write(greeting.account, greeting.visitor, reason);
    if (result == kGreetingFailed)
        qCWarning(LogGreet).noquote() << "greeting not sent:" << GreetReasonText(reason);
    // On a team, which machine greeted whom is worth knowing.
    else
        qCInfo(LogGreet).noquote() << "greeting sent for" << greeting.account;
    return result;
}
