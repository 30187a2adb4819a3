#include "greet/AutoSendMsgThread.h"

#include "accounts/LiveSettings.h"
#include "accounts/TeamSettings.h"
#include "greet/Greeting.h"
#include "greet/ImClient.h"
#include "greet/TeamGreetingQueue.h"
#include "platform/AbortScope.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/Workers.h"
#include "store/AdoConnection.h"
#include "store/AdoRecordSet.h"
#include "store/Columns.h"
#include "store/Variant.h"

#include <vector>

namespace {

constexpr int kIdlePauseSeconds = 3;

} // namespace

void LogGreetingFate(const QString& account, const QString& visitor, EGreetReason reason)
{
    if (!g_pConnection)
        return;
    const QString now = StoreTimeText(Clock().NowMs());
    const bool sent = reason == EGreetReason::Sent;
    if (!g_pConnection->Execute(QStringLiteral("insert into [greetlog] ([shopname], [guestname], [senttime], [ok], "
                                               "[reason]) values ('%1','%2','%3',%4,'%5')")
                                    .arg(SqlText(account), SqlText(visitor), now,
                                         sent ? QStringLiteral("1") : QStringLiteral("0"),
                                         SqlText(GreetReasonText(reason)))))
        qCWarning(LogGreet) << "a greeting's fate could not be written to the greeting log";
}

CAutoSendMsgThread::CAutoSendMsgThread(QObject* parent) : QThread(parent) {}

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

qint64 CAutoSendMsgThread::FirstSeenMs(const CQueuedGreeting& greeting, qint64 now)
{
    // A rowid of a deleted row can come back for a new row; the names tell them apart.
    auto it = m_firstSeen.find(greeting.rowId);
    if (it == m_firstSeen.end() || it->second.visitor != greeting.visitor || it->second.account != greeting.account)
        it = m_firstSeen.insert_or_assign(greeting.rowId, CFirstSeen{now, greeting.visitor, greeting.account}).first;
    return it->second.ms;
}

bool CAutoSendMsgThread::SendPass()
{
    if (m_stop.load())
        return false;
    if (OnTeamStore())
        return TeamSendPass();

    // Rows are deleted by rowid once the pass ends: greetings queued meanwhile
    // wait for the next pass, and held greetings stay for another try.
    std::vector<CQueuedGreeting> greetings;
    if (g_pConnection) {
        CAdoRecordSet recordSet(g_pConnection);
        if (recordSet.Open(QStringLiteral("select *, rowid from [AutoSend]"))) {
            while (!recordSet.IsEOF()) {
                CQueuedGreeting greeting;
                const CVariant rowId = recordSet.GetValue(AutoSendColumn::kRowId);
                if (rowId.type != EVarType::Empty && rowId.type != EVarType::Null)
                    greeting.rowId = rowId.integer;
                recordSet.GetCollect(AutoSendColumn::kClientName, greeting.visitor);
                recordSet.GetCollect(AutoSendColumn::kUserName, greeting.account);
                recordSet.GetCollect(AutoSendColumn::kMessage, greeting.tmpl);
                if (greeting.rowId >= 0)
                    greetings.push_back(greeting);
                recordSet.MoveNext();
            }
            recordSet.Close();
        }
    }

    if (m_stop.load())
        return false;

    // Rows gone from the queue (emptied by a stop, sent) are forgotten.
    std::map<qint64, CFirstSeen> stillQueued;
    for (const CQueuedGreeting& greeting : greetings) {
        const auto it = m_firstSeen.find(greeting.rowId);
        if (it != m_firstSeen.end())
            stillQueued.insert(*it);
    }
    m_firstSeen.swap(stillQueued);
    // A row counts from the pass that first read it, not from its turn in the pass.
    const qint64 readAt = Clock().NowMs();
    for (const CQueuedGreeting& greeting : greetings)
        FirstSeenMs(greeting, readAt);

    QList<qint64> done;
    for (const CQueuedGreeting& greeting : greetings) {
        const qint64 now = Clock().NowMs();
        if (now - FirstSeenMs(greeting, now) >= kHeldGreetingLifetimeMs) {
            // The visitor has long gone; a greeting now would come out of nowhere.
            qCWarning(LogGreet) << "greeting dropped: held for 30 minutes without a free keyboard and chat window";
            LogGreetingFate(greeting.account, greeting.visitor, EGreetReason::Dropped);
            done.push_back(greeting.rowId);
            continue;
        }
        const int result = Send(greeting);
        if (result != kGreetingHeld)
            done.push_back(greeting.rowId);
        // A row that was not sent costs its pause all the same; a change of the
        // step time on the settings page takes effect at once.
        if (!PauseUnlessStopped(m_stop, LiveSettings().sendsteptime))
            return false;
    }

    if (!done.isEmpty() && g_pConnection &&
        g_pConnection->Execute(QStringLiteral("delete from [AutoSend] where rowid in (%1)").arg(SqlNumberList(done)))) {
        for (qint64 rowId : done)
            m_firstSeen.erase(rowId);
    }
    return true;
}

int CAutoSendMsgThread::Send(const CQueuedGreeting& greeting, CTeamGreetingQueue* claim)
{
    const bool complete = !greeting.visitor.isEmpty() && !greeting.account.isEmpty() && !greeting.tmpl.isEmpty();
    int result = kGreetingFailed;
    EGreetReason reason = EGreetReason::Failed;
    if (complete) {
        result = SendGreeting(greeting.account, greeting.visitor, ExpandGreeting(greeting.tmpl, greeting.visitor));
        reason = result == kGreetingSent ? EGreetReason::Sent : LastGreetReason();
    }
    // The claimed row goes (or is given back) before the log row is written.
    if (claim)
        claim->Finish(result != kGreetingHeld);
    if (!complete)
        return result;
    if (result == kGreetingHeld) {
        qCInfo(LogGreet).noquote() << "greeting held (" + GreetReasonText(reason) + "); tried again on the next pass";
        return result;
    }
    LogGreetingFate(greeting.account, greeting.visitor, reason);
    if (result == kGreetingFailed)
        qCWarning(LogGreet).noquote() << "greeting not sent:" << GreetReasonText(reason);
    // On a team, which machine greeted whom is worth knowing.
    else if (claim)
        qCInfo(LogGreet).noquote() << "greeting sent for" << greeting.account;
    return result;
}

bool CAutoSendMsgThread::TeamSendPass()
{
    if (!StoreReachable())
        return true;
    TouchMachine();
    if (!m_teamQueue)
        m_teamQueue = std::make_unique<CTeamGreetingQueue>();
    CTeamGreetingQueue& queue = *m_teamQueue;
    queue.DropStale();
    bool ok = false;
    const QStringList shops = ReadGreetShops(ThisMachine(), &ok);
    // Held rows are given back for a later pass; this pass goes on past them.
    QList<qint64> tried;
    while (ok && !shops.isEmpty() && m_stop.load() == 0) {
        const std::optional<CQueuedGreeting> greeting = queue.Claim(shops, tried);
        if (!greeting)
            break;
        tried.append(greeting->rowId);
        Send(*greeting, &queue);
        if (!PauseUnlessStopped(m_stop, LiveSettings().sendsteptime))
            return false;
    }
    return m_stop.load() == 0;
}
