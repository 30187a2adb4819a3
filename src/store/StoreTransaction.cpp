// CAdoConnection::ExecuteChain: statements that stand or fall together (a visit and its queued greeting).
#include "store/AdoConnection.h"
#include "store/SqliteStep.h"

#include <sqlite3.h>

#include <mutex>

bool CAdoConnection::ExecuteChain(const QString& first, const std::function<QString(int, int)>& next,
                                  QList<int>* changes)
{
    if (changes)
        changes->clear();
    const auto runChain = [&](const std::function<int(const QString&)>& run) {
        int done = 0;
        for (QString sql = first; !sql.isEmpty();) {
            const int changed = run(sql);
            ++done;
            if (changed < 0)
                return false;
            if (changes)
                changes->append(changed);
            sql = next ? next(done, changed) : QString();
        }
        return true;
    };
    if (IsTeamStore()) {
        // The thread's own session: a session lost midway fails the next statement, and the server rolls back.
        if (!Execute(QStringLiteral("begin")))
            return false;
        if (runChain([this](const QString& sql) { return ExecuteChanges(sql); }) && Execute(QStringLiteral("commit")))
            return true;
        Execute(QStringLiteral("rollback"));
        if (changes)
            changes->clear();
        return false;
    }
    std::shared_lock lock(m_handleLock);
    sqlite3* db = HandleForCaller();
    if (!db)
        return false;
    // The handle is shared by threads: its mutex keeps their statements out of the transaction.
    sqlite3_mutex* mutex = sqlite3_db_mutex(db);
    sqlite3_mutex_enter(mutex);
    bool ok = StepStatementLocked(db, QStringLiteral("begin immediate")) >= 0;
    ok = ok && runChain([db](const QString& sql) { return StepStatementLocked(db, sql); });
    ok = ok && StepStatementLocked(db, QStringLiteral("commit")) >= 0;
    if (!ok) {
        if (!sqlite3_get_autocommit(db))
            StepStatementLocked(db, QStringLiteral("rollback"));
        if (changes)
            changes->clear();
    }
    sqlite3_mutex_leave(mutex);
    return ok;
}
