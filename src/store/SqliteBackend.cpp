#include "store/SqliteBackend.h"

#include "platform/Log.h"
#include "store/Schema.h"
#include "store/SqlText.h"
#include "store/SqliteCursor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <sqlite3.h>

namespace {

// Workers wait this long for another writer (the window's thread only briefly).
constexpr int kWorkerBusyTimeoutMs = 10000;

// Prepares exactly one statement. A second statement after the first (anything but
// blanks, semicolons and comments) refuses the whole text, as the original provider did.
sqlite3_stmt* PrepareOne(sqlite3* db, const QByteArray& utf8)
{
    sqlite3_stmt* stmt = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &stmt, &tail) != SQLITE_OK || !stmt) {
        sqlite3_finalize(stmt);
        return nullptr;
    }
    const char* end = utf8.constData() + utf8.size();
    while (tail && tail < end) {
        sqlite3_stmt* extra = nullptr;
        const char* next = nullptr;
        const int rc = sqlite3_prepare_v2(db, tail, int(end - tail), &extra, &next);
        if (rc != SQLITE_OK || extra || next == tail) {
            sqlite3_finalize(extra);
            sqlite3_finalize(stmt);
            return nullptr;
        }
        tail = next;
    }
    return stmt;
}

void LogFailure(sqlite3* db, const QString& sql)
{
    LogStatementFailure(sql, QString::fromUtf8(sqlite3_errmsg(db)));
}

// Why a file could not be opened, in the owner's words, with the store's own reason.
QString DescribeFailure(int code, const QString& detail)
{
    struct CReason
    {
        int codes[3];
        const char* why;
    };
    static const CReason kReasons[] = {
        {{SQLITE_NOTADB}, "该文件不是可识别的数据库文件"},
        {{SQLITE_CORRUPT}, "数据库文件已损坏"},
        {{SQLITE_CANTOPEN, SQLITE_PERM, SQLITE_AUTH}, "无法读取该文件(没有权限,或者它不是一个普通文件)"},
        {{SQLITE_BUSY, SQLITE_LOCKED}, "数据库被其他程序锁定"},
        {{SQLITE_IOERR}, "读取文件时出错"},
        {{SQLITE_FULL}, "磁盘已满"},
        {{SQLITE_READONLY}, "文件或文件夹只读"},
    };
    QString why = QStringLiteral("无法打开数据库");
    for (const CReason& reason : kReasons) {
        for (int known : reason.codes) {
            if (known != SQLITE_OK && known == (code & 0xFF))
                why = QString::fromUtf8(reason.why);
        }
    }
    return detail.isEmpty() ? why : why + QStringLiteral(" (") + detail + QLatin1Char(')');
}

bool ExecPlain(sqlite3* db, const char* sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

int StepStatementLocked(sqlite3* db, const QString& sql)
{
    sqlite3_stmt* stmt = PrepareOne(db, TranslateStatement(sql).toUtf8());
    if (!stmt) {
        LogFailure(db, sql);
        return -1;
    }
    int rc = SQLITE_ROW;
    while (rc == SQLITE_ROW)
        rc = sqlite3_step(stmt);
    const int changed = rc == SQLITE_DONE ? sqlite3_changes(db) : -1;
    if (rc != SQLITE_DONE)
        LogFailure(db, sql);
    sqlite3_finalize(stmt);
    return changed;
}

// Builds the tables in a file that holds nothing yet. The write lock makes a copy of the
// program started at the same moment wait and then find the tables made.
int CreateTables(sqlite3* db)
{
    if (!ExecPlain(db, "begin immediate"))
        return sqlite3_extended_errcode(db);
    bool ok = true;
    bool empty = false;
    {
        sqlite3_stmt* stmt = nullptr;
        ok = sqlite3_prepare_v2(db, "select count(*) from sqlite_master", -1, &stmt, nullptr) == SQLITE_OK &&
             sqlite3_step(stmt) == SQLITE_ROW;
        empty = ok && sqlite3_column_int(stmt, 0) == 0;
        sqlite3_finalize(stmt);
    }
    if (ok && empty) {
        const QStringList statements = NewStoreStatements();
        for (const QString& statement : statements) {
            ok = ExecPlain(db, statement.toUtf8().constData());
            if (!ok)
                break;
        }
    }
    if (ok)
        ok = ExecPlain(db, "commit");
    if (ok)
        return SQLITE_OK;
    int rc = sqlite3_extended_errcode(db);
    if (rc == SQLITE_OK)
        rc = SQLITE_ERROR;
    ExecPlain(db, "rollback");
    return rc;
}

} // namespace

CSqliteBackend::~CSqliteBackend()
{
    // Record sets still reading keep the handle alive until they finalise.
    sqlite3_close_v2(m_db);
    sqlite3_close_v2(m_windowDb);
}

bool CSqliteBackend::Open(const QString& path, QString* error)
{
    const QFileInfo info(path);
    // A missing file is made; so is a zero-length one, which holds nothing to lose and is
    // what SQLite itself calls an empty database. Anything else is opened as it is.
    const bool missing = !info.exists() && !info.isSymLink();
    const bool fresh = missing || (info.isFile() && info.size() == 0);
    if (missing)
        QDir().mkpath(info.absolutePath());
    sqlite3* db = nullptr;
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX;
    if (missing)
        flags |= SQLITE_OPEN_CREATE;
    int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &db, flags, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_extended_result_codes(db, 1);
        sqlite3_busy_timeout(db, kWorkerBusyTimeoutMs);
        // Read before anything is written: a file that is no database stays as it is.
        rc = sqlite3_exec(db, "select count(*) from sqlite_master", nullptr, nullptr, nullptr);
    }
    if (rc == SQLITE_OK && fresh)
        rc = CreateTables(db);
    if (rc != SQLITE_OK) {
        QString detail = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString();
        if (detail.isEmpty() || sqlite3_errcode(db) == SQLITE_OK)
            detail = QString::fromUtf8(sqlite3_errstr(rc));
        *error = (fresh ? QStringLiteral("无法创建数据库文件: ") : QString()) + DescribeFailure(rc, detail);
        qCWarning(LogStore).noquote() << "cannot open" << path << "-" << detail;
        sqlite3_close_v2(db);
        return false;
    }
    // Readers never wait for the writer; a second copy of the program waits for the
    // other's write instead of failing. A read-only file keeps its journal as it is.
    if (!sqlite3_db_readonly(db, "main")) {
        ExecPlain(db, "pragma journal_mode=wal");
        ExecPlain(db, "pragma synchronous=normal");
    }
    m_db = db;
    return true;
}

void CSqliteBackend::OpenWindowHandle(const QString& path)
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        qCWarning(LogStore).noquote() << "window connection not opened:" << QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_close_v2(db);
        return;
    }
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, m_windowBusyMs);
    m_windowDb = db;
}

void CSqliteBackend::SetWindowThread(QThread* thread, int busyTimeoutMs)
{
    m_windowBusyMs = busyTimeoutMs;
    m_windowThread = thread;
    if (m_windowDb) {
        sqlite3_busy_timeout(m_windowDb, busyTimeoutMs);
        return;
    }
    if (m_db && thread) {
        const char* file = sqlite3_db_filename(m_db, "main");
        if (file && *file)
            OpenWindowHandle(QFile::decodeName(file));
    }
}

sqlite3* CSqliteBackend::HandleForCaller() const
{
    if (m_windowDb && QThread::currentThread() == m_windowThread.load())
        return m_windowDb;
    return m_db;
}

int CSqliteBackend::ExecuteChanges(const QString& sql)
{
    sqlite3* db = HandleForCaller();
    if (!db)
        return -1;
    CDbMutexLock dbLock(db);
    return StepStatementLocked(db, sql);
}

bool CSqliteBackend::DeleteWhere(const QString& table, const QString& condition)
{
    const QByteArray where = TranslateStatement(condition).toUtf8();
    const QByteArray tableName = table.toUtf8();
    sqlite3* db = HandleForCaller();
    if (!db)
        return false;
    // The handle is shared by threads: holding its lock keeps their statements out from
    // the count to the commit, and the write lock keeps other connections' writes out,
    // so a visit recorded meanwhile waits and stays.
    CDbMutexLock dbLock(db);
    const auto run = [db, &condition](const QByteArray& sql, qint64* count) {
        sqlite3_stmt* stmt = PrepareOne(db, sql);
        if (!stmt) {
            LogFailure(db, condition);
            return false;
        }
        int rc = sqlite3_step(stmt);
        if (count && rc == SQLITE_ROW)
            *count = sqlite3_column_int64(stmt, 0);
        while (rc == SQLITE_ROW)
            rc = sqlite3_step(stmt);
        sqlite3_finalize(stmt);
        return rc == SQLITE_DONE;
    };
    if (!run("begin immediate", nullptr))
        return false;
    qint64 kept = -1;
    bool ok = run("select count(*) from " + tableName + " where not coalesce((" + where + "), 0)", &kept);
    if (ok)
        ok = run(kept == 0 ? "delete from " + tableName : "delete from " + tableName + " where " + where, nullptr);
    if (ok && run("commit", nullptr))
        return true;
    run("rollback", nullptr);
    return false;
}

std::unique_ptr<CStoreCursor> CSqliteBackend::OpenCursor(const QString& sql)
{
    const QByteArray utf8 = TranslateStatement(sql).toUtf8();
    sqlite3* db = HandleForCaller();
    if (!db)
        return nullptr;
    CDbMutexLock dbLock(db);
    sqlite3_stmt* stmt = PrepareOne(db, utf8);
    if (!stmt) {
        LogFailure(db, sql);
        return nullptr;
    }
    const int rc = sqlite3_step(stmt);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        LogFailure(db, sql);
        sqlite3_finalize(stmt);
        return nullptr;
    }
    return std::make_unique<CSqliteCursor>(stmt, rc == SQLITE_ROW);
}

bool CSqliteBackend::ExecuteChain(const QString& first, const std::function<QString(int, int)>& next,
                                  QList<int>* changes)
{
    if (changes)
        changes->clear();
    sqlite3* db = HandleForCaller();
    if (!db)
        return false;
    // The handle is shared by threads: its mutex keeps their statements out of the transaction.
    CDbMutexLock lock(db);
    bool ok = StepStatementLocked(db, QStringLiteral("begin immediate")) >= 0;
    ok = ok && RunChain(first, next, changes, [db](const QString& sql) { return StepStatementLocked(db, sql); });
    ok = ok && StepStatementLocked(db, QStringLiteral("commit")) >= 0;
    if (!ok) {
        if (!sqlite3_get_autocommit(db))
            StepStatementLocked(db, QStringLiteral("rollback"));
        if (changes)
            changes->clear();
    }
    return ok;
}
