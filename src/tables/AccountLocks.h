#pragma once
// Which accounts this machine polls: on the team store one PostgreSQL
// advisory lock per account, taken by the monitoring thread in its own
// session and kept across cycles, so exactly one machine polls an account at
// a time; when that machine goes away its session ends and the lock with it,
// and another machine's next try takes the account over. Owned by one
// monitoring thread and used only there; on the local store every account
// is this machine's and nothing is asked of the store.
#include <QSet>
#include <QString>

class CAccountLocks
{
public:
    // Once per cycle: when the session lost locks it held (the server came
    // back, a new session), they are taken again from scratch.
    void BeginCycle();
    // Whether this machine polls the account in this cycle.
    bool Holds(const QString& account);

    // The advisory lock key of an account: the same on every machine.
    static qint64 LockKey(const QString& account);

private:
    QSet<QString> m_held;
};
