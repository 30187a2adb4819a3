#include "store/TeamSession.h"

#include "platform/Log.h"

#include <libpq-fe.h>
#include <poll.h>

#include <cerrno>

namespace {

// After an early close, the rows the server still sends are awaited this long at most.
constexpr int kDrainMs = 5000;

bool ResultOk(const PGresult* result)
{
    const ExecStatusType status = PQresultStatus(result);
    return result && (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK);
}

// First line only: the server's further lines may quote the statement and its values.
QString ErrorOf(PGconn* conn, const PGresult* result)
{
    return QString::fromUtf8(result ? PQresultErrorMessage(result) : PQerrorMessage(conn))
        .trimmed()
        .section(QLatin1Char('\n'), 0, 0);
}

} // namespace

CTeamSession::~CTeamSession()
{
    Finish();
}

void CTeamSession::Adopt(PGconn* conn)
{
    std::lock_guard lock(m_lock);
    GiveUp();
    m_conn = conn;
    m_windowTimeout = false;
}

void CTeamSession::Finish()
{
    std::lock_guard lock(m_lock);
    GiveUp();
}

void CTeamSession::Retire()
{
    m_retired = true;
    Finish();
}

void CTeamSession::GiveUp()
{
    if (m_stream) {
        m_stream->m_live = false;
        m_stream->m_failed = true;
        m_stream = nullptr;
    }
    if (m_conn)
        PQfinish(m_conn);
    m_conn = nullptr;
}

bool CTeamSession::IsUp()
{
    std::lock_guard lock(m_lock);
    if (!m_conn || PQstatus(m_conn) != CONNECTION_OK)
        return false;
    // A server that ended the session (a restart) has left its farewell on the socket by now.
    if (!m_stream) {
        pollfd pfd{PQsocket(m_conn), POLLIN, 0};
        if (poll(&pfd, 1, 0) > 0)
            PQconsumeInput(m_conn);
    }
    return PQstatus(m_conn) == CONNECTION_OK;
}

bool CTeamSession::Send(const QByteArray& sql, QString* error, bool* lost)
{
    *lost = false;
    if (!m_conn) {
        *error = QStringLiteral("no session");
        *lost = true;
        return false;
    }
    if (m_stream)
        ParkStream();
    // The extended protocol refuses a second statement in the text, as the original provider did.
    if (!m_conn || !PQsendQueryParams(m_conn, sql.constData(), 0, nullptr, nullptr, nullptr, nullptr, 0)) {
        *error = m_conn ? ErrorOf(m_conn, nullptr) : QStringLiteral("no session");
        *lost = !m_conn || PQstatus(m_conn) != CONNECTION_OK;
        return false;
    }
    return true;
}

bool CTeamSession::AwaitResult(const QDeadlineTimer& deadline, QString* error)
{
    while (m_conn && PQisBusy(m_conn)) {
        pollfd pfd{PQsocket(m_conn), POLLIN, 0};
        const int rc = poll(&pfd, 1, int(qMin<qint64>(deadline.remainingTime(), 1000)));
        if (rc < 0 && errno != EINTR)
            return true;
        if (rc == 0 && deadline.hasExpired()) {
            // The server stopped answering: give the session up rather than wait on.
            if (error)
                *error = QStringLiteral("no answer in time");
            if (PGcancel* cancel = PQgetCancel(m_conn)) {
                char buffer[256];
                PQcancel(cancel, buffer, sizeof buffer);
                PQfreeCancel(cancel);
            }
            GiveUp();
            return false;
        }
        if (rc > 0 && !PQconsumeInput(m_conn))
            return true; // the next result says why
    }
    return m_conn != nullptr;
}

void CTeamSession::Drain(bool cancel)
{
    if (!m_conn)
        return;
    // What has arrived already is taken without asking the server anything.
    PQconsumeInput(m_conn);
    while (!PQisBusy(m_conn)) {
        PGresult* result = PQgetResult(m_conn);
        if (!result)
            return;
        PQclear(result);
    }
    if (cancel) {
        if (PGcancel* request = PQgetCancel(m_conn)) {
            char buffer[256];
            PQcancel(request, buffer, sizeof buffer);
            PQfreeCancel(request);
        }
    }
    const QDeadlineTimer deadline(kDrainMs);
    while (AwaitResult(deadline, nullptr)) {
        PGresult* result = PQgetResult(m_conn);
        if (!result)
            return;
        PQclear(result);
    }
}

void CTeamSession::ParkStream()
{
    CTeamRows* rows = m_stream;
    m_stream = nullptr;
    rows->m_live = false;
    const QDeadlineTimer deadline(rows->m_deadlineMs);
    while (AwaitResult(deadline, nullptr)) {
        PGresult* result = PQgetResult(m_conn);
        if (!result)
            return;
        rows->m_parked.push_back(result);
    }
    rows->m_failed = true;
}

PGresult* CTeamSession::Run(const QByteArray& sql, int deadlineMs, QString* error, bool* lost)
{
    std::lock_guard lock(m_lock);
    if (!Send(sql, error, lost))
        return nullptr;
    if (!AwaitResult(QDeadlineTimer(deadlineMs), error)) {
        *lost = true;
        return nullptr;
    }
    PGresult* first = PQgetResult(m_conn);
    Drain(false);
    if (!ResultOk(first)) {
        *error = ErrorOf(m_conn, first);
        *lost = !m_conn || PQstatus(m_conn) != CONNECTION_OK;
        PQclear(first);
        return nullptr;
    }
    return first;
}

std::unique_ptr<CTeamRows> CTeamSession::Stream(const QByteArray& sql, int deadlineMs, QString* error, bool* lost)
{
    std::lock_guard lock(m_lock);
    if (!Send(sql, error, lost))
        return nullptr;
    PQsetSingleRowMode(m_conn);
    if (!AwaitResult(QDeadlineTimer(deadlineMs), error)) {
        *lost = true;
        return nullptr;
    }
    PGresult* first = PQgetResult(m_conn);
    const ExecStatusType status = PQresultStatus(first);
    if (status != PGRES_SINGLE_TUPLE && !ResultOk(first)) {
        *error = ErrorOf(m_conn, first);
        PQclear(first);
        Drain(false);
        *lost = !m_conn || PQstatus(m_conn) != CONNECTION_OK;
        return nullptr;
    }
    std::unique_ptr<CTeamRows> rows(new CTeamRows(shared_from_this(), deadlineMs, first));
    if (status == PGRES_SINGLE_TUPLE) {
        rows->m_live = true;
        m_stream = rows.get();
    } else {
        Drain(false);
    }
    return rows;
}

CTeamRows::CTeamRows(std::shared_ptr<CTeamSession> session, int deadlineMs, PGresult* first)
    : m_session(std::move(session)), m_deadlineMs(deadlineMs), m_current(first)
{
    m_end = PQntuples(first) == 0;
}

CTeamRows::~CTeamRows()
{
    {
        std::lock_guard lock(m_session->m_lock);
        if (m_live && m_session->m_stream == this) {
            m_session->m_stream = nullptr;
            m_session->Drain(true);
        }
    }
    PQclear(m_current);
    for (PGresult* result : m_parked)
        PQclear(result);
}

bool CTeamRows::Take(PGresult* result)
{
    PQclear(m_current);
    m_current = nullptr;
    const ExecStatusType status = PQresultStatus(result);
    if (status == PGRES_SINGLE_TUPLE) {
        m_current = result;
        return true;
    }
    m_end = true;
    const bool ok = status == PGRES_TUPLES_OK;
    if (!ok)
        qCWarning(LogStore).noquote()
            << "reading rows failed:"
            << QString::fromUtf8(PQresultErrorMessage(result)).section(QLatin1Char('\n'), 0, 0);
    // The end keeps the last result: it still names the columns.
    m_current = result;
    return ok;
}

bool CTeamRows::Next()
{
    if (m_end)
        return true;
    if (!m_parked.empty()) {
        PGresult* result = m_parked.front();
        m_parked.pop_front();
        return Take(result);
    }
    std::lock_guard lock(m_session->m_lock);
    if (!m_live) {
        m_end = true;
        if (m_failed)
            qCWarning(LogStore) << "reading rows failed: the session ended";
        return !m_failed;
    }
    QString error;
    PGresult* result = nullptr;
    if (m_session->AwaitResult(QDeadlineTimer(m_deadlineMs), &error))
        result = PQgetResult(m_session->m_conn);
    if (!result) {
        m_live = false;
        m_end = true;
        m_session->m_stream = nullptr;
        qCWarning(LogStore).noquote() << "reading rows failed:"
                                      << (error.isEmpty() ? QStringLiteral("no result") : error);
        return false;
    }
    const bool ok = Take(result);
    if (m_end) {
        m_live = false;
        m_session->m_stream = nullptr;
        m_session->Drain(false);
    }
    return ok;
}
