#include "store/TeamStore.h"

#include "notify/OwnerNotifier.h"
#include "platform/Log.h"
#include "store/StoreConfig.h"
#include "store/TeamSchema.h"
#include "store/TeamSession.h"

#include <QDeadlineTimer>
#include <QList>
#include <QThread>
#include <QTimeZone>

#include <libpq-fe.h>

#include <vector>

namespace {

std::atomic<quint64> g_nextStoreId{1};

// Statements of workers may read a long table; a server that stopped answering
// is found by the keepalives long before this.
constexpr int kWorkerDeadlineMs = 300000;

struct CDomainType
{
    const char* name;
    EVarType type;
};
const CDomainType kDomains[] = {
    {"Long", EVarType::I4}, {"Text", EVarType::BStr}, {"DateTime", EVarType::Date}, {"YesNo", EVarType::Bool}};

bool ResultOk(PGresult* result)
{
    const ExecStatusType status = PQresultStatus(result);
    return result && (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK);
}

// The server's words, first line only: further lines may quote the statement and its values.
QString FirstLine(const char* message)
{
    return QString::fromUtf8(message).trimmed().section(QLatin1Char('\n'), 0, 0);
}

// A statement of the store's own (schema, session set-up), its values sent apart from the
// text; false with the reason.
bool RunPlain(PGconn* conn, const QString& sql, QString* why, const QList<QByteArray>& values = {})
{
    std::vector<const char*> params;
    for (const QByteArray& value : values)
        params.push_back(value.constData());
    PGresult* result = values.isEmpty() ? PQexec(conn, sql.toUtf8().constData())
                                        : PQexecParams(conn, sql.toUtf8().constData(), int(params.size()), nullptr,
                                                       params.data(), nullptr, nullptr, 0);
    const bool ok = ResultOk(result);
    if (!ok && why)
        *why = FirstLine(result ? PQresultErrorMessage(result) : PQerrorMessage(conn));
    PQclear(result);
    return ok;
}

// A store an older version made gets what this one relies on.
bool Upgrade(PGconn* conn, QString* why)
{
    PGresult* result = PQexec(conn, TeamUpgradeCheckStatement().toUtf8().constData());
    const bool read = PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) == 1;
    CTeamSchemaState state;
    if (read) {
        state.sharedAdvSetting = QByteArray(PQgetvalue(result, 0, 0)) == "r";
        state.visitOriginMissing = PQgetvalue(result, 0, 1)[0] == 't';
        state.advSettingColumns = QString::fromUtf8(PQgetvalue(result, 0, 2));
    } else {
        *why = FirstLine(PQresultErrorMessage(result));
    }
    PQclear(result);
    if (!read)
        return false;
    for (const QString& statement : TeamUpgradeStatements(state)) {
        if (!RunPlain(conn, statement, why))
            return false;
    }
    if (state.sharedAdvSetting)
        qCInfo(LogStore) << "team store: each machine keeps its own advanced settings now";
    if (state.visitOriginMissing)
        qCInfo(LogStore) << "team store: visits keep the machine that recorded them";
    return true;
}

void LogNotice(void*, const PGresult* notice)
{
    const char* severity = PQresultErrorField(notice, PG_DIAG_SEVERITY);
    const char* primary = PQresultErrorField(notice, PG_DIAG_MESSAGE_PRIMARY);
    qCInfo(LogStore).noquote() << "team store:" << QString::fromUtf8(severity ? severity : "NOTICE")
                               << FirstLine(primary ? primary : PQresultErrorMessage(notice));
}

bool SettingIs(PGconn* conn, const char* name, const char* value)
{
    const char* current = PQparameterStatus(conn, name);
    return current && qstricmp(current, value) == 0;
}

} // namespace

namespace {

// A thread's sessions, closed when the thread ends.
struct CThreadSessions
{
    std::vector<std::pair<quint64, std::shared_ptr<CTeamSession>>> list;
    ~CThreadSessions()
    {
        for (auto& entry : list)
            entry.second->Finish();
    }
};
thread_local CThreadSessions t_sessions;

} // namespace

PGconn* TeamConnect(const QString& url, bool blocking, int timeoutS, const char* applicationName)
{
    const QByteArray dbname = url.toUtf8();
    // The url comes last, so its own settings win over these.
    const char* keys[] = {"connect_timeout",     "keepalives",       "keepalives_idle",
                          "keepalives_interval", "keepalives_count", "tcp_user_timeout",
                          "application_name",    "dbname",           nullptr};
    const QByteArray timeout = QByteArray::number(timeoutS);
    const char* values[] = {timeout.constData(), "1",    "10", "5", "3", "30000", applicationName,
                            dbname.constData(),  nullptr};
    PGconn* conn = blocking ? PQconnectdbParams(keys, values, 1) : PQconnectStartParams(keys, values, 1);
    // The server's notices (a session ended by a restart) go to the log, not to stderr.
    if (conn)
        PQsetNoticeReceiver(conn, LogNotice, nullptr);
    return conn;
}

bool TeamPinSession(PGconn* conn, QString* why)
{
    // The program's statements carry their texts quoted, in UTF-8, and name the schema's objects
    // without a schema: none of that may follow a setting of the server, the database, the role
    // or the environment (PGCLIENTENCODING).
    if (!RunPlain(conn,
                  QStringLiteral("set standard_conforming_strings = on; set client_encoding = 'UTF8'; "
                                 "set search_path = public"),
                  why))
        return false;
    if (!SettingIs(conn, "standard_conforming_strings", "on") || !SettingIs(conn, "client_encoding", "UTF8")) {
        *why = QStringLiteral("the server did not take standard_conforming_strings=on and client_encoding=UTF8");
        return false;
    }
    return true;
}

QString TeamErrorText(PGconn* conn)
{
    if (!conn)
        return QStringLiteral("out of memory");
    return QString::fromUtf8(PQerrorMessage(conn)).simplified();
}

bool TeamConnectRefused(PGconn* conn, const QString& url)
{
    char* parseError = nullptr;
    PQconninfoOption* options = PQconninfoParse(url.toUtf8().constData(), &parseError);
    PQconninfoFree(options);
    if (!options) {
        PQfreemem(parseError);
        return true;
    }
    if (!conn)
        return false;
    if (PQconnectionNeedsPassword(conn))
        return true;
    // The server answered with a refusal (one starting up or shutting down will take us later),
    // or the url names a host that does not exist.
    const QString why = TeamErrorText(conn);
    return (why.contains(QLatin1String("FATAL")) && !why.contains(QLatin1String("the database system is"))) ||
           why.contains(QLatin1String("could not translate host name"));
}

QString TeamLostText()
{
    return QStringLiteral("数据库连接中断,正在重试......");
}

CTeamStore::CTeamStore(const QString& url, const QString& machine)
    : m_id(g_nextStoreId.fetch_add(1)), m_url(url), m_machine(machine)
{
    m_watch = std::thread([this] { Watch(); });
}

CTeamStore::~CTeamStore()
{
    {
        std::lock_guard lock(m_watchMutex);
        m_stopping = true;
    }
    m_watchWake.notify_all();
    m_watch.join();
    // Sessions of other threads close now; their threads drop them at their next use or end.
    std::lock_guard lock(m_sessionsMutex);
    for (const auto& weak : m_sessions) {
        if (auto session = weak.lock())
            session->Retire();
    }
}

QString CTeamStore::Url() const
{
    return m_url;
}

QString CTeamStore::Machine() const
{
    return m_machine;
}

bool CTeamStore::IsReachable() const
{
    return m_reachable.load();
}

void CTeamStore::SetWindowThread(QThread* thread)
{
    m_windowThread = thread;
}

bool CTeamStore::Start(QString* why, bool* refused)
{
    *refused = false;
    PGconn* conn = TeamConnect(m_url, true);
    if (PQstatus(conn) != CONNECTION_OK) {
        *why = TeamErrorText(conn);
        *refused = TeamConnectRefused(conn, m_url);
        PQfinish(conn);
        qCWarning(LogStore).noquote() << "team store" << TeamUrlForDisplay(m_url) << "not connected:" << *why;
        if (!*refused)
            MarkLost(*why);
        return false;
    }
    if (!PrepareSession(conn, why)) {
        // A server that takes us but where the tables cannot be made: no use retrying.
        PQfinish(conn);
        *refused = true;
        qCWarning(LogStore).noquote() << "team store schema:" << *why;
        return false;
    }
    auto session = std::make_shared<CTeamSession>();
    session->Adopt(conn);
    t_sessions.list.emplace_back(m_id, session);
    std::lock_guard lock(m_sessionsMutex);
    m_sessions.push_back(session);
    return true;
}

bool CTeamStore::PrepareSession(PGconn* conn, QString* why)
{
    if (!TeamPinSession(conn, why) || !RunPlain(conn, TeamMachineSetup(), why, {m_machine.toUtf8()}))
        return false;
    const QByteArray zone = QTimeZone::systemTimeZoneId();
    QString zoneWhy;
    if (!zone.isEmpty() && !RunPlain(conn, TeamTimeZoneSetup(), &zoneWhy, {zone}))
        qCWarning(LogStore).noquote() << "team store keeps the server's time zone:" << zoneWhy;
    if (m_schemaReady.load())
        return true;
    std::lock_guard lock(m_schemaMutex);
    if (m_schemaReady.load())
        return true;
    if (!EnsureSchema(conn, why))
        return false;
    LoadTypes(conn);
    m_schemaReady = true;
    return true;
}

bool CTeamStore::EnsureSchema(PGconn* conn, QString* why)
{
    // Two machines starting at once: the second waits here and then finds the tables.
    if (!RunPlain(conn, QStringLiteral("begin"), why))
        return false;
    bool ok = RunPlain(conn, QStringLiteral("select pg_advisory_xact_lock(%1)").arg(kTeamSchemaLockKey), why);
    bool missing = false;
    if (ok) {
        PGresult* result = PQexec(conn, "select to_regclass('client') is null");
        ok = PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) == 1;
        missing = ok && PQgetvalue(result, 0, 0)[0] == 't';
        PQclear(result);
    }
    if (ok && missing) {
        for (const QString& statement : TeamSchemaStatements()) {
            ok = RunPlain(conn, statement, why);
            if (!ok)
                break;
        }
    }
    if (ok && !missing)
        ok = Upgrade(conn, why);
    if (ok && !missing)
        ok = RunPlain(conn, TeamColumnUpgradeStatement(), why);
    if (ok)
        ok = RunPlain(conn, TeamSettingsRowStatement(), why);
    for (const QString& statement : TeamAdvSettingRowStatements()) {
        if (ok)
            ok = RunPlain(conn, statement, why);
    }
    if (ok && RunPlain(conn, QStringLiteral("commit"), why)) {
        if (missing)
            qCInfo(LogStore) << "team store: tables made";
        return true;
    }
    RunPlain(conn, QStringLiteral("rollback"), nullptr);
    return false;
}

void CTeamStore::LoadTypes(PGconn* conn)
{
    PGresult* result =
        PQexec(conn, "select a.attrelid::bigint, a.attnum, t.typname from pg_attribute a join pg_type t on "
                     "t.oid = a.atttypid where t.typtype = 'd' and t.typname in ('Long', 'Text', 'DateTime', "
                     "'YesNo') and a.attnum > 0 and not a.attisdropped");
    if (PQresultStatus(result) != PGRES_TUPLES_OK) {
        qCWarning(LogStore).noquote() << "team store: column types not read:"
                                      << FirstLine(PQresultErrorMessage(result));
        PQclear(result);
        return;
    }
    std::map<std::pair<unsigned, int>, EVarType> types;
    for (int row = 0; row < PQntuples(result); ++row) {
        const QByteArray name = PQgetvalue(result, row, 2);
        for (const CDomainType& domain : kDomains) {
            if (name == domain.name)
                types[{unsigned(QByteArray(PQgetvalue(result, row, 0)).toULongLong()),
                       QByteArray(PQgetvalue(result, row, 1)).toInt()}] = domain.type;
        }
    }
    PQclear(result);
    std::lock_guard lock(m_typesMutex);
    m_types = std::move(types);
}

EVarType CTeamStore::DeclaredType(unsigned table, int column) const
{
    std::lock_guard lock(m_typesMutex);
    const auto found = m_types.find({table, column});
    return found == m_types.end() ? EVarType::Empty : found->second;
}

std::shared_ptr<CTeamSession> CTeamStore::SessionForCaller(QString* why)
{
    auto& list = t_sessions.list;
    std::shared_ptr<CTeamSession> session;
    for (auto it = list.begin(); it != list.end();) {
        if (it->second->IsRetired()) {
            it = list.erase(it);
            continue;
        }
        if (it->first == m_id)
            session = it->second;
        ++it;
    }
    const bool window = QThread::currentThread() == m_windowThread.load();
    if (!session || !session->IsUp()) {
        if (!m_reachable.load()) {
            *why = TeamLostText();
            return nullptr;
        }
        PGconn* conn = TeamConnect(m_url, true, window ? kWindowConnectTimeoutS : kTeamConnectTimeoutS);
        if (PQstatus(conn) != CONNECTION_OK || !PrepareSession(conn, why)) {
            if (PQstatus(conn) != CONNECTION_OK)
                *why = TeamErrorText(conn);
            PQfinish(conn);
            MarkLost(*why);
            return nullptr;
        }
        if (!session) {
            session = std::make_shared<CTeamSession>();
            list.emplace_back(m_id, session);
            std::lock_guard lock(m_sessionsMutex);
            std::erase_if(m_sessions, [](const std::weak_ptr<CTeamSession>& weak) { return weak.expired(); });
            m_sessions.push_back(session);
        }
        session->Adopt(conn);
    }
    if (window && session->NeedsWindowTimeout()) {
        QString timeoutWhy;
        if (RunPlain(session->Conn(), QStringLiteral("set statement_timeout = %1").arg(kWindowStatementTimeoutMs),
                     &timeoutWhy))
            session->SetWindowTimeout();
        else
            qCWarning(LogStore).noquote() << "window statements have no time-out:" << timeoutWhy;
    }
    return session;
}

int CTeamStore::DeadlineForCaller() const
{
    return QThread::currentThread() == m_windowThread.load() ? kWindowStatementTimeoutMs + 5000 : kWorkerDeadlineMs;
}

PGresult* CTeamStore::Run(const QString& sql, QString* error)
{
    std::shared_ptr<CTeamSession> session = SessionForCaller(error);
    if (!session)
        return nullptr;
    bool lost = false;
    PGresult* result = session->Run(sql.toUtf8(), DeadlineForCaller(), error, &lost);
    if (lost) {
        session->Finish();
        MarkLost(*error);
    }
    return result;
}

std::unique_ptr<CTeamRows> CTeamStore::Stream(const QString& sql, QString* error)
{
    std::shared_ptr<CTeamSession> session = SessionForCaller(error);
    if (!session)
        return nullptr;
    bool lost = false;
    std::unique_ptr<CTeamRows> rows = session->Stream(sql.toUtf8(), DeadlineForCaller(), error, &lost);
    if (lost) {
        session->Finish();
        MarkLost(*error);
    }
    return rows;
}

void CTeamStore::MarkLost(const QString& why)
{
    {
        std::lock_guard lock(m_watchMutex);
        if (!m_reachable.exchange(false))
            return;
    }
    qCWarning(LogStore).noquote() << "team store lost:" << why;
    ShowStatusMessage(TeamLostText());
    m_watchWake.notify_all();
}

void CTeamStore::Watch()
{
    int delayMs = kTeamRetryFirstMs;
    std::unique_lock lock(m_watchMutex);
    while (!m_stopping) {
        m_watchWake.wait(lock, [this] { return m_stopping || !m_reachable.load(); });
        if (m_stopping)
            break;
        lock.unlock();
        PGconn* conn = TeamConnect(m_url, true);
        const bool up = PQstatus(conn) == CONNECTION_OK;
        const QString why = up ? QString() : TeamErrorText(conn);
        PQfinish(conn);
        lock.lock();
        if (up) {
            m_reachable = true;
            delayMs = kTeamRetryFirstMs;
            qCInfo(LogStore) << "team store reachable again";
            continue;
        }
        qCDebug(LogStore).noquote() << "team store still away, next try in" << delayMs << "ms:" << why;
        ShowStatusMessage(TeamLostText());
        m_watchWake.wait_for(lock, std::chrono::milliseconds(delayMs), [this] { return m_stopping; });
        delayMs = qMin(delayMs * 2, kTeamRetryMaxMs);
    }
}
