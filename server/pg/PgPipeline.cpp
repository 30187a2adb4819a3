#include "PgPipeline.h"

#include <libpq-fe.h>
#include <poll.h>

namespace rivuzovara::pg {

CPgPipeline::CPgPipeline(std::string url, std::vector<SStatement> statements, std::vector<SParam> sample)
    : m_url(std::move(url)), m_statements(std::move(statements)), m_sample(std::move(sample))
{
}

bool CPgPipeline::Open(std::string& error)
{
    std::unique_ptr<CPgSession> session = CPgSession::Connect(m_url, error);
    if (!session)
        return false;
    for (const SStatement& statement : m_statements) {
        if (!session->Prepare(statement.name, statement.sql, m_sample, error))
            return false;
    }
    // Non-blocking: a client blocked sending while the server is blocked sending results would wait for ever.
    if (PQsetnonblocking(session->Conn(), 1) != 0 || PQenterPipelineMode(session->Conn()) != 1) {
        error = ConnError(session->Conn());
        return false;
    }
    m_session = std::move(session);
    return true;
}

int CPgPipeline::Socket() const
{
    return m_session ? PQsocket(m_session->Conn()) : -1;
}

void CPgPipeline::Lose(const std::string& why, std::vector<SResult>& results)
{
    for (const std::uint64_t ticket : m_onTheirWay)
        results.push_back({ticket, CPgResult(), true, why});
    m_onTheirWay.clear();
    m_current.reset();
    m_session.reset();
    m_unflushed = false;
}

std::uint64_t CPgPipeline::Send(const std::string& name, const std::vector<SParam>& params, std::string& error)
{
    if (m_session && m_onTheirWay.empty()) {
        // A server that ended the session (a restart) has left its farewell on the socket by now.
        pollfd socket{PQsocket(m_session->Conn()), POLLIN, 0};
        if (poll(&socket, 1, 0) > 0)
            PQconsumeInput(m_session->Conn());
        if (m_session->IsBroken())
            m_session.reset();
    }
    if (!m_session && !Open(error))
        return 0;
    if (!m_session->SendPrepared(name, params, error)) {
        // Nothing of it was stored; the session is given up, and with it what was on its way.
        Lose(error, m_lost);
        return 0;
    }
    const std::uint64_t ticket = m_nextTicket++;
    m_onTheirWay.push_back(ticket);
    m_unflushed = PQflush(m_session->Conn()) != 0;
    return ticket;
}

std::vector<CPgPipeline::SResult> CPgPipeline::Collect()
{
    std::vector<SResult> results = std::move(m_lost);
    m_lost.clear();
    if (!m_session)
        return results;
    pg_conn* conn = m_session->Conn();
    if (m_unflushed) {
        const int left = PQflush(conn);
        if (left < 0) {
            Lose(ConnError(conn), results);
            return results;
        }
        m_unflushed = left != 0;
    }
    if (!PQconsumeInput(conn)) {
        Lose(ConnError(conn), results);
        return results;
    }
    int ends = 0;
    while (!m_onTheirWay.empty() && !PQisBusy(conn)) {
        pg_result* result = PQgetResult(conn);
        if (!result) {
            // The end of a group's statement; its sync follows. Twice in a row: nothing more has come.
            if (++ends > 1)
                break;
            continue;
        }
        ends = 0;
        if (PQresultStatus(result) != PGRES_PIPELINE_SYNC) {
            m_current.emplace(result);
            continue;
        }
        PQclear(result);
        SResult done;
        done.ticket = m_onTheirWay.front();
        m_onTheirWay.pop_front();
        if (m_current) {
            done.rows = std::move(*m_current);
            if (!done.rows.Ok())
                done.error = done.rows.Error(conn);
        } else {
            done.error = "no result for the statement";
        }
        m_current.reset();
        results.push_back(std::move(done));
    }
    if (PQstatus(conn) != CONNECTION_OK)
        Lose(ConnError(conn), results);
    return results;
}

} // namespace rivuzovara::pg
