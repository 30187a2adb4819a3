#include "tables/AccountLocks.h"

#include "platform/Log.h"
#include "store/AdoConnection.h"
#include "store/AdoRecordSet.h"

#include <QCryptographicHash>
#include <QtEndian>

namespace {

// Only the team store has other machines to share the accounts with.
bool OnSharedStore()
{
    return g_pConnection && g_pConnection->IsTeamStore();
}

// The first column of a one-row answer as a number; -1 when the store did not answer.
int QueryNumber(const QString& sql)
{
    CAdoRecordSet recordSet(g_pConnection);
    int value = -1;
    if (!recordSet.Open(sql) || recordSet.IsEOF() || !recordSet.GetCollectInt(0, value))
        return -1;
    return value;
}

} // namespace

qint64 CAccountLocks::LockKey(const QString& account)
{
    // A stable hash (qHash is seeded per process); the prefix keeps the program's keys apart from others'.
    const QByteArray digest =
        QCryptographicHash::hash(QByteArrayLiteral("mirel.account:") + account.toUtf8(), QCryptographicHash::Sha1);
    return qFromBigEndian<qint64>(digest.constData());
}

void CAccountLocks::BeginCycle()
{
    if (!OnSharedStore() || m_held.isEmpty())
        return;
    const int held = QueryNumber(QStringLiteral("select count(*) from pg_locks where locktype = 'advisory' and "
                                                "pid = pg_backend_pid() and granted"));
    if (held >= m_held.size())
        return;
    qCInfo(LogMonitor) << "the store's session changed; the accounts are claimed again";
    m_held.clear();
}

bool CAccountLocks::Holds(const QString& account)
{
    if (!OnSharedStore() || m_held.contains(account))
        return true;
    const int taken = QueryNumber(
        QStringLiteral("select case when pg_try_advisory_lock(%1) then 1 else 0 end").arg(LockKey(account)));
    if (taken == 1) {
        m_held.insert(account);
        qCInfo(LogMonitor).noquote() << "this machine polls" << account;
        return true;
    }
    if (taken < 0)
        qCWarning(LogMonitor).noquote() << "no answer to the poll claim of" << account << "; skipped in this cycle";
    else
        qCDebug(LogMonitor).noquote() << account << "is polled by another machine; skipped";
    return false;
}
