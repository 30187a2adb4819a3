#include "store/AdoConnection.h"

#include "platform/Log.h"
#include "store/Schema.h"
#include "store/SqliteStep.h"
#include "store/TeamSession.h"
#include "store/TeamStatement.h"
#include "store/TeamStore.h"
#include "store/Variant.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>

#include <libpq-fe.h>
#include <sqlite3.h>

#include <mutex>

CAdoConnection* g_pConnection = nullptr;

namespace {

const char kProviderPrefix[] = "Provider=Microsoft.Jet.OLEDB.4.0; Data Source=";

// Holds the connection's own mutex across a step and the reads of its error state,
// which another thread's statement would otherwise overwrite.
class CDbMutexLock
{
public:
    explicit CDbMutexLock(sqlite3* db) : m_mutex(db ? sqlite3_db_mutex(db) : nullptr)
    {
        if (m_mutex)
            sqlite3_mutex_enter(m_mutex);
    }
    ~CDbMutexLock()
    {
        if (m_mutex)
            sqlite3_mutex_leave(m_mutex);
    }
    CDbMutexLock(const CDbMutexLock&) = delete;
    CDbMutexLock& operator=(const CDbMutexLock&) = delete;

private:
    sqlite3_mutex* m_mutex;
};

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

// The statement's verb and table, for the log: never its values (passwords, greetings).
QString StatementHead(const QString& sql)
{
    const QStringList words = sql.simplified().split(QLatin1Char(' '));
    qsizetype count = qMin<qsizetype>(3, words.size());
    if (!words.isEmpty() && words[0].compare(QLatin1String("select"), Qt::CaseInsensitive) == 0) {
        const qsizetype from = words.indexOf(QStringLiteral("from"));
        count = from >= 0 ? qMin(words.size(), from + 2) : 1;
    }
    QString head = words.mid(0, count).join(QLatin1Char(' '));
    const qsizetype paren = head.indexOf(QLatin1Char('('));
    return (paren >= 0 ? head.left(paren) : head).left(80);
}

void LogFailure(const QString& sql, QString message)
{
    // Both stores quote the text near a syntax error, which may be part of a value;
    // PostgreSQL's further lines name the values of a key.
    static const QRegularExpression nearText(QStringLiteral("near \"[^\"]*\""));
    message = message.section(QLatin1Char('\n'), 0, 0);
    message.replace(nearText, QStringLiteral("near \"...\""));
    qCWarning(LogStore).noquote() << "statement failed:" << StatementHead(sql) << "-" << message;
}

void LogFailure(sqlite3* db, const QString& sql)
{
    LogFailure(sql, QString::fromUtf8(sqlite3_errmsg(db)));
}

// Why a file could not be opened, in the owner's words, with the store's own reason.
QString DescribeFailure(int code, const QString& detail)
{
    QString why;
    switch (code & 0xFF) {
    case SQLITE_NOTADB:
        why = QStringLiteral("该文件不是可识别的数据库文件");
        break;
    case SQLITE_CORRUPT:
        why = QStringLiteral("数据库文件已损坏");
        break;
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        why = QStringLiteral("无法读取该文件(没有权限,或者它不是一个普通文件)");
        break;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        why = QStringLiteral("数据库被其他程序锁定");
        break;
    case SQLITE_IOERR:
        why = QStringLiteral("读取文件时出错");
        break;
    case SQLITE_FULL:
        why = QStringLiteral("磁盘已满");
        break;
    case SQLITE_READONLY:
        why = QStringLiteral("文件或文件夹只读");
        break;
    default:
        why = QStringLiteral("无法打开数据库");
        break;
    }
    return detail.isEmpty() ? why : why + QStringLiteral(" (") + detail + QLatin1Char(')');
}

bool ExecPlain(sqlite3* db, const char* sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// Jet also reads month/day/year; everything else the store keeps as written.
QString NormaliseDateLiteral(const QString& content)
{
    double date = 0;
    if (DateFromText(content, date))
        return FormatDateTime(date);
    static const QRegularExpression us(QStringLiteral("^\\s*(\\d{1,2})/(\\d{1,2})/(\\d{4})(\\s+.*)?$"));
    const QRegularExpressionMatch m = us.match(content);
    if (m.hasMatch()) {
        const QString iso =
            m.captured(3) + QLatin1Char('-') + m.captured(1) + QLatin1Char('-') + m.captured(2) + m.captured(4);
        if (DateFromText(iso, date))
            return FormatDateTime(date);
    }
    return content;
}

} // namespace

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

QString SqlText(const QString& value)
{
    QString doubled = value;
    doubled.replace(QLatin1Char('\''), QLatin1String("''"));
    return doubled;
}

QString SqlNumberList(const QList<qint64>& numbers)
{
    QStringList texts;
    texts.reserve(numbers.size());
    for (qint64 number : numbers)
        texts.append(QString::number(number));
    return texts.join(QLatin1Char(','));
}

QString TranslateStatement(const QString& sql)
{
    if (!sql.contains(QLatin1Char('#')))
        return sql;
    QString out;
    out.reserve(sql.size() + 8);
    QChar closing; // the character that ends the quoted text or bracketed name we are in
    for (qsizetype i = 0; i < sql.size(); ++i) {
        const QChar c = sql[i];
        if (!closing.isNull()) {
            out += c;
            if (c == closing)
                closing = QChar();
            continue;
        }
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            closing = c;
        } else if (c == QLatin1Char('[')) {
            closing = QLatin1Char(']');
        } else if (c == QLatin1Char('#')) {
            const qsizetype end = sql.indexOf(QLatin1Char('#'), i + 1);
            if (end > i) {
                out +=
                    QLatin1Char('\'') + SqlText(NormaliseDateLiteral(sql.mid(i + 1, end - i - 1))) + QLatin1Char('\'');
                i = end;
                continue;
            }
        }
        out += c;
    }
    return out;
}

CAdoConnection::CAdoConnection() = default;

CAdoConnection::~CAdoConnection()
{
    Close();
}

bool CAdoConnection::Connect(const QString& path, const QString& password, int options)
{
    Q_UNUSED(password); // the store carries no password
    return Open(QLatin1String(kProviderPrefix) + path, options);
}

QString CAdoConnection::DataSourceOf(const QString& connectionString)
{
    static const QRegularExpression source(QStringLiteral("data source\\s*="),
                                           QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = source.match(connectionString);
    if (!m.hasMatch())
        return QString();
    QString rest = connectionString.mid(m.capturedEnd());
    // A following "; Key=" ends the value; a semicolon inside a file name stays.
    static const QRegularExpression nextKey(QStringLiteral(";\\s*[A-Za-z][A-Za-z ]*="));
    const QRegularExpressionMatch k = nextKey.match(rest);
    if (k.hasMatch())
        rest.truncate(k.capturedStart());
    return rest.trimmed();
}

bool CAdoConnection::Open(const QString& connectionString, int options)
{
    Q_UNUSED(options); // only the original provider had cursor and lock options
    if (!connectionString.isEmpty())
        m_connectionString = connectionString;
    if (m_connectionString.isEmpty()) {
        m_lastOpenError = QStringLiteral("没有指定数据库");
        return false;
    }
    Close();
    const QString path = DataSourceOf(m_connectionString);
    if (path.isEmpty()) {
        m_lastOpenError = QStringLiteral("没有指定数据库文件");
        return false;
    }
    m_lastOpenError.clear();
    return OpenFile(path);
}

namespace {

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

bool CAdoConnection::OpenFile(const QString& path)
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
        m_lastOpenError = (fresh ? QStringLiteral("无法创建数据库文件: ") : QString()) + DescribeFailure(rc, detail);
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
    std::unique_lock lock(m_handleLock);
    m_db = db;
    if (m_windowThread.load())
        OpenWindowHandleLocked(path);
    return true;
}

void CAdoConnection::OpenWindowHandleLocked(const QString& path)
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

void CAdoConnection::SetWindowThread(QThread* thread, int busyTimeoutMs)
{
    std::unique_lock lock(m_handleLock);
    m_windowBusyMs = busyTimeoutMs;
    m_windowThread = thread;
    if (m_team)
        m_team->SetWindowThread(thread);
    if (m_windowDb) {
        sqlite3_busy_timeout(m_windowDb, busyTimeoutMs);
        return;
    }
    if (m_db && thread) {
        const char* file = sqlite3_db_filename(m_db, "main");
        if (file && *file)
            OpenWindowHandleLocked(QFile::decodeName(file));
    }
}

sqlite3* CAdoConnection::HandleForCaller() const
{
    if (m_windowDb && QThread::currentThread() == m_windowThread.load())
        return m_windowDb;
    return m_db;
}

bool CAdoConnection::ConnectTeam(const QString& url, const QString& machine)
{
    Close();
    m_connectionString = url;
    m_lastOpenError.clear();
    if (url.trimmed().isEmpty()) {
        // libpq would quietly take its own defaults (a local server, the login name).
        m_lastOpenError = QStringLiteral("mirelhelper.ini 的 [store] 中没有设置 url");
        return false;
    }
    auto team = std::make_unique<CTeamStore>(url, machine);
    team->SetWindowThread(m_windowThread.load());
    QString why;
    bool refused = false;
    if (!team->Start(&why, &refused)) {
        m_lastOpenError = why;
        if (refused)
            return false;
    }
    std::unique_lock lock(m_handleLock);
    m_team = std::move(team);
    return true;
}

bool CAdoConnection::IsTeamStore() const
{
    std::shared_lock lock(m_handleLock);
    return m_team != nullptr;
}

QString CAdoConnection::MachineName() const
{
    std::shared_lock lock(m_handleLock);
    return m_team ? m_team->Machine() : QString();
}

bool CAdoConnection::IsReachable() const
{
    std::shared_lock lock(m_handleLock);
    return m_team ? m_team->IsReachable() : m_db != nullptr;
}

pg_result* CAdoConnection::OpenTeamQuery(const QString& sql)
{
    const QString translated = TranslateForTeam(sql);
    std::shared_lock lock(m_handleLock);
    if (!m_team)
        return nullptr;
    QString error;
    PGresult* result = m_team->Run(translated, &error);
    // While the server is away every statement fails; that was logged once.
    if (!result && error != TeamLostText())
        LogFailure(sql, error);
    return result;
}

std::unique_ptr<CTeamRows> CAdoConnection::OpenTeamRows(const QString& sql)
{
    const QString translated = TranslateForTeam(sql);
    std::shared_lock lock(m_handleLock);
    if (!m_team)
        return nullptr;
    QString error;
    std::unique_ptr<CTeamRows> rows = m_team->Stream(translated, &error);
    if (!rows && error != TeamLostText())
        LogFailure(sql, error);
    return rows;
}

EVarType CAdoConnection::TeamDeclaredType(unsigned table, int column) const
{
    std::shared_lock lock(m_handleLock);
    return m_team ? m_team->DeclaredType(table, column) : EVarType::Empty;
}

void CAdoConnection::Close()
{
    sqlite3* db = nullptr;
    sqlite3* windowDb = nullptr;
    std::unique_ptr<CTeamStore> team;
    {
        std::unique_lock lock(m_handleLock);
        std::swap(db, m_db);
        std::swap(windowDb, m_windowDb);
        std::swap(team, m_team);
    }
    // Record sets still reading keep the handle alive until they finalise.
    if (db)
        sqlite3_close_v2(db);
    if (windowDb)
        sqlite3_close_v2(windowDb);
}

bool CAdoConnection::IsOpen() const
{
    std::shared_lock lock(m_handleLock);
    return m_db != nullptr || m_team != nullptr;
}

bool CAdoConnection::Execute(const QString& sql)
{
    return ExecuteChanges(sql) >= 0;
}

int CAdoConnection::ExecuteChanges(const QString& sql)
{
    if (IsTeamStore()) {
        PGresult* result = OpenTeamQuery(sql);
        if (!result)
            return -1;
        // An insert that met a visitor already recorded changed nothing: 0.
        const int changed = QByteArray(PQcmdTuples(result)).toInt();
        PQclear(result);
        return changed;
    }
    std::shared_lock lock(m_handleLock);
    sqlite3* db = HandleForCaller();
    if (!db)
        return -1;
    CDbMutexLock dbLock(db);
    return StepStatementLocked(db, sql);
}

bool CAdoConnection::DeleteWhere(const QString& table, const QString& condition)
{
    // The server keeps inserts of other sessions apart from the delete by itself.
    if (IsTeamStore())
        return ExecuteChanges(QStringLiteral("delete from %1 where %2").arg(table, condition)) >= 0;
    const QByteArray where = TranslateStatement(condition).toUtf8();
    const QByteArray tableName = table.toUtf8();
    std::shared_lock lock(m_handleLock);
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

sqlite3_stmt* CAdoConnection::OpenQuery(const QString& sql, bool* hasRow)
{
    const QByteArray utf8 = TranslateStatement(sql).toUtf8();
    std::shared_lock lock(m_handleLock);
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
    if (hasRow)
        *hasRow = rc == SQLITE_ROW;
    return stmt;
}

QString CAdoConnection::ConnectionString() const
{
    return m_connectionString;
}

QString CAdoConnection::LastOpenError() const
{
    return m_lastOpenError;
}

sqlite3* CAdoConnection::Handle() const
{
    std::shared_lock lock(m_handleLock);
    return m_db;
}
