// CAdoConnection::ExecuteChain: statements that stand or fall together (a visit and its queued greeting).
#include "platform/Log.h"
#include "store/AdoConnection.h"

#include <QRegularExpression>

#include <sqlite3.h>

#include <mutex>

namespace {

// The verb and table of a statement, never its values (names, greetings).
QString Head(const QString& sql)
{
    return sql.simplified().section(QLatin1Char(' '), 0, 2);
}

// SQLite quotes the text near a syntax error, which may be part of a value.
QString ErrorText(sqlite3* db)
{
    static const QRegularExpression nearText(QStringLiteral("near \"[^\"]*\""));
    return QString::fromUtf8(sqlite3_errmsg(db)).replace(nearText, QStringLiteral("near \"...\""));
}

// One statement on a handle whose mutex the caller holds; the change count, -1 on failure.
int StepOne(sqlite3* db, const QString& sql)
{
    const QByteArray utf8 = TranslateStatement(sql).toUtf8();
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &stmt, nullptr) != SQLITE_OK || !stmt) {
        sqlite3_finalize(stmt);
        qCWarning(LogStore).noquote() << "statement failed:" << Head(sql) << "-" << ErrorText(db);
        return -1;
    }
    int rc = SQLITE_ROW;
    while (rc == SQLITE_ROW)
        rc = sqlite3_step(stmt);
    const int changed = rc == SQLITE_DONE ? sqlite3_changes(db) : -1;
    if (rc != SQLITE_DONE)
        qCWarning(LogStore).noquote() << "statement failed:" << Head(sql) << "-" << ErrorText(db);
    sqlite3_finalize(stmt);
    return changed;
}

} // namespace

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
    bool ok = StepOne(db, QStringLiteral("begin immediate")) >= 0;
    ok = ok && runChain([db](const QString& sql) { return StepOne(db, sql); });
    ok = ok && StepOne(db, QStringLiteral("commit")) >= 0;
    if (!ok) {
        if (!sqlite3_get_autocommit(db))
            StepOne(db, QStringLiteral("rollback"));
        if (changes)
            changes->clear();
    }
    sqlite3_mutex_leave(mutex);
    return ok;
}
