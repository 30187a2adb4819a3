#include "greet/AutoSendMsgThread.h"

#include "accounts/LiveSettings.h"
#include "greet/Greeting.h"
#include "greet/ImClient.h"
#include "platform/Clock.h"
#include "platform/Workers.h"
#include "store/AdoConnection.h"
#include "store/AdoRecordSet.h"

#include <QDateTime>

#include <vector>

namespace {

constexpr int kIdlePauseSeconds = 3;

struct CQueuedGreeting
{
    QString visitor;
    QString account;
    QString tmpl;
};

void LogAttempt(const CQueuedGreeting& greeting, bool sent)
{
    if (!g_pConnection)
        return;
    const QString now =
        QDateTime::fromMSecsSinceEpoch(Clock().NowMs()).toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    g_pConnection->Execute(
        QStringLiteral("insert into [greetlog] ([shopname], [guestname], [senttime], [ok]) values ('%1','%2','%3',%4)")
            .arg(SqlText(greeting.account), SqlText(greeting.visitor), now,
                 sent ? QStringLiteral("1") : QStringLiteral("0")));
}

} // namespace

CAutoSendMsgThread::CAutoSendMsgThread(QObject* parent) : QThread(parent) {}

void CAutoSendMsgThread::run()
{
    try {
        // The greeting thread makes no HTTP requests, so it needs no abort scope.
        CWorkerScope scope(this, &m_stop);
        for (;;) {
            if (!SendPass())
                return;
            if (!Pause(kIdlePauseSeconds))
                return;
        }
    } catch (...) {
        LogWorkerException(this);
        // Background work fails silently; the thread simply ends.
    }
}

bool CAutoSendMsgThread::SendPass()
{
    if (m_stop.load())
        return false;

    // The rowid of every row read is kept so that the closing delete removes
    // exactly this pass's rows: greetings queued meanwhile wait for the next pass.
    std::vector<CQueuedGreeting> greetings;
    qint64 lastRowId = -1;
    if (g_pConnection) {
        CAdoRecordSet recordSet(g_pConnection);
        if (recordSet.Open(QStringLiteral("select *, rowid from [AutoSend]"))) {
            while (!recordSet.IsEOF()) {
                const CVariant rowId = recordSet.GetValue(3);
                if (rowId.type != EVarType::Empty && rowId.type != EVarType::Null)
                    lastRowId = qMax(lastRowId, rowId.integer);
                CQueuedGreeting greeting;
                if (recordSet.GetCollect(0, greeting.visitor) && recordSet.GetCollect(1, greeting.account) &&
                    recordSet.GetCollect(2, greeting.tmpl))
                    greetings.push_back(greeting);
                recordSet.MoveNext();
            }
            recordSet.Close();
        }
    }

    if (m_stop.load())
        return false;

    for (const CQueuedGreeting& greeting : greetings) {
        if (!greeting.visitor.isEmpty() && !greeting.account.isEmpty() && !greeting.tmpl.isEmpty()) {
            const int result =
                SendGreeting(greeting.account, greeting.visitor, ExpandGreeting(greeting.tmpl, greeting.visitor));
            LogAttempt(greeting, result != 0);
        }
        // A row that was not sent costs its pause all the same.
        if (!PauseStepTime())
            return false;
    }

    if (lastRowId >= 0 && g_pConnection)
        g_pConnection->Execute(QStringLiteral("delete from [AutoSend] where rowid <= %1").arg(lastRowId));
    return true;
}

bool CAutoSendMsgThread::Pause(int seconds)
{
    for (int second = 0; second < seconds; ++second) {
        if (m_stop.load())
            return false;
        SleepMs(1000);
    }
    return true;
}

bool CAutoSendMsgThread::PauseStepTime()
{
    // Read every second, so a change on the settings page takes effect at once.
    for (int second = 0; second < LiveSettings().sendsteptime.load(); ++second) {
        if (m_stop.load())
            return false;
        SleepMs(1000);
    }
    return true;
}
