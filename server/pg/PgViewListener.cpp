#include "PgViewListener.h"

#include "PgSchema.h"
#include "PgSession.h"

#include <libpq-fe.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace rivuzovara::pg {

namespace {

constexpr int kRetryFirstMs = 500;
constexpr int kRetryMaxMs = 5000;
constexpr int kConnectTimeoutMs = 5000;
// How often a lost store is looked at while nothing else happens.
constexpr int kIdleCheckMs = 1000;
// How often the activity list is asked for other servers' listeners (a server gone is noticed so late).
constexpr int kOthersCheckMs = 5000;
// After it starts listening: how long, and how often, the numbers are read for views of servers
// that did not yet hear this one's hello (they hear it within milliseconds).
constexpr int kFollowMs = 3000;
constexpr int kFollowEveryMs = 50;
// The payload word of a hello; a numbers' pair always holds a colon.
constexpr const char* kHello = "hello";

long long NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

CPgViewListener::CPgViewListener(std::string url, std::string instance, Hook hook)
    : m_url(std::move(url)), m_instance(std::move(instance)), m_hook(std::move(hook))
{
    m_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

CPgViewListener::~CPgViewListener()
{
    m_stopping = true;
    Wake();
    if (m_thread.joinable())
        m_thread.join();
    if (m_conn)
        PQfinish(m_conn);
    if (m_wakeFd >= 0)
        close(m_wakeFd);
}

bool CPgViewListener::Start(std::string& error)
{
    if (m_wakeFd < 0) {
        error = "no eventfd for the listener";
        return false;
    }
    if (!ConnectAndListen(error) || !CatchUp(false, error)) {
        Drop(error);
        return false;
    }
    m_listening = true;
    m_thread = std::thread([this] { Run(); });
    return true;
}

void CPgViewListener::NoteOwn(long long webId, long long seq)
{
    Advance(webId, seq);
}

void CPgViewListener::MarkLost()
{
    if (m_reachable.exchange(false))
        Wake();
}

void CPgViewListener::Wake()
{
    if (m_wakeFd >= 0) {
        const eventfd_t one = 1;
        [[maybe_unused]] const ssize_t written = write(m_wakeFd, &one, sizeof one);
    }
}

bool CPgViewListener::Pause(int ms)
{
    pollfd wake{m_wakeFd, POLLIN, 0};
    poll(&wake, 1, ms);
    eventfd_t ignored;
    [[maybe_unused]] const ssize_t got = read(m_wakeFd, &ignored, sizeof ignored);
    return !m_stopping;
}

long long CPgViewListener::Known(long long webId)
{
    std::lock_guard lock(m_knownMutex);
    const auto found = m_known.find(webId);
    return found == m_known.end() ? 0 : found->second;
}

bool CPgViewListener::Advance(long long webId, long long seq)
{
    std::lock_guard lock(m_knownMutex);
    long long& known = m_known[webId];
    if (seq <= known)
        return false;
    known = seq;
    return true;
}

bool CPgViewListener::ConnectAndListen(std::string& error)
{
    pg_conn* conn = StartListenerConnect(m_url);
    if (!conn || PQstatus(conn) == CONNECTION_BAD) {
        error = ConnError(conn);
        PQfinish(conn);
        return false;
    }
    // Made step by step, so that stopping never waits for a server that does not answer.
    const long long deadline = NowMs() + kConnectTimeoutMs;
    PostgresPollingStatusType state = PGRES_POLLING_WRITING;
    while (state != PGRES_POLLING_OK) {
        if (state == PGRES_POLLING_FAILED || m_stopping || NowMs() >= deadline) {
            error = state == PGRES_POLLING_FAILED ? ConnError(conn) : "no answer in time";
            PQfinish(conn);
            return false;
        }
        pollfd fds[2] = {{PQsocket(conn), short(state == PGRES_POLLING_READING ? POLLIN : POLLOUT), 0},
                         {m_wakeFd, POLLIN, 0}};
        if (poll(fds, 2, int(deadline - NowMs())) > 0 && fds[0].revents)
            state = PQconnectPoll(conn);
    }
    if (!FinishSetup(conn, error)) {
        PQfinish(conn);
        return false;
    }
    const CPgResult listen(PQexec(conn, (std::string("listen ") + kViewsChannel).c_str()));
    if (!listen.Ok()) {
        error = listen.Error(conn);
        PQfinish(conn);
        return false;
    }
    const std::string hello = m_instance + " " + kHello;
    const char* values[] = {kViewsChannel, hello.c_str()};
    const CPgResult told(PQexecParams(conn, "select pg_notify($1, $2)", 2, nullptr, values, nullptr, nullptr, 0));
    if (!told.Ok()) {
        error = told.Error(conn);
        PQfinish(conn);
        return false;
    }
    m_conn = conn;
    m_othersListen = true;
    if (!LookForOthers()) {
        error = "the activity list cannot be read: " + std::string(PQerrorMessage(conn));
        m_conn = nullptr;
        PQfinish(conn);
        return false;
    }
    m_followUntilMs = NowMs() + kFollowMs;
    return true;
}

bool CPgViewListener::LookForOthers()
{
    const std::string sql = std::string("select count(*) from pg_stat_activity where application_name = '") +
                            kListenerApplication + "' and datname = current_database() and pid <> pg_backend_pid()";
    const CPgResult others(PQexec(m_conn, sql.c_str()));
    m_lookedForOthersMs = NowMs();
    if (!others.Ok() || others.Rows() != 1)
        return false;
    // A hello that comes after this look is dispatched after it, so it is never overwritten.
    m_othersListen = others.Int(0, 0) > 0;
    return true;
}

bool CPgViewListener::CatchUp(bool report, std::string& error)
{
    const CPgResult counters(PQexec(m_conn, "select webid, lastseq from tracking_account"));
    if (!counters.Ok()) {
        error = counters.Error(m_conn);
        return false;
    }
    std::vector<std::pair<long long, long long>> moved;
    for (int row = 0; row < counters.Rows(); ++row) {
        const long long webId = counters.Int(row, 0);
        const long long seq = counters.Int(row, 1);
        if (Advance(webId, seq) && report)
            moved.emplace_back(webId, seq);
    }
    if (m_hook) {
        for (const auto& [webId, seq] : moved)
            m_hook(webId, seq);
    }
    return true;
}

void CPgViewListener::Dispatch()
{
    std::vector<std::pair<long long, long long>> moved;
    while (PGnotify* notice = PQnotifies(m_conn)) {
        std::istringstream payload(notice->extra);
        PQfreemem(notice);
        std::string instance;
        payload >> instance;
        if (instance == m_instance)
            continue;
        m_othersListen = true;
        std::string pair;
        while (payload >> pair) {
            const size_t colon = pair.find(':');
            if (colon == std::string::npos)
                continue;
            const long long webId = std::atoll(pair.c_str());
            const long long seq = std::atoll(pair.c_str() + colon + 1);
            if (Advance(webId, seq))
                moved.emplace_back(webId, seq);
        }
    }
    if (m_hook) {
        for (const auto& [webId, seq] : moved)
            m_hook(webId, seq);
    }
}

void CPgViewListener::Drop(const std::string& why)
{
    m_listening = false;
    if (m_conn)
        PQfinish(m_conn);
    m_conn = nullptr;
    if (!m_stopping)
        Log("PostgreSQL store: views listener lost its session: " + why);
}

void CPgViewListener::Run()
{
    int retryMs = kRetryFirstMs;
    while (!m_stopping) {
        std::string why;
        if (!m_conn) {
            if (!ConnectAndListen(why) || !CatchUp(true, why)) {
                Drop(why + "; next try in " + std::to_string(retryMs) + " ms");
                if (!Pause(retryMs))
                    break;
                retryMs = std::min(retryMs * 2, kRetryMaxMs);
                continue;
            }
            retryMs = kRetryFirstMs;
            m_reachable = true;
            m_listening = true;
            Log("PostgreSQL store: listening for views of other servers again");
        }
        const bool following = NowMs() < m_followUntilMs;
        pollfd fds[2] = {{PQsocket(m_conn), POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        poll(fds, 2, following ? kFollowEveryMs : kIdleCheckMs);
        if (fds[1].revents) {
            eventfd_t ignored;
            [[maybe_unused]] const ssize_t got = read(m_wakeFd, &ignored, sizeof ignored);
        }
        if (m_stopping)
            break;
        if (fds[0].revents && !PQconsumeInput(m_conn)) {
            Drop(ConnError(m_conn));
            continue;
        }
        if (!m_reachable.load()) {
            // A session of the store broke: this one tells whether the server is there.
            const CPgResult probe(PQexec(m_conn, "select 1"));
            if (probe.Ok()) {
                m_reachable = true;
                Log("PostgreSQL store: answering again");
            }
        }
        Dispatch();
        if (following && NowMs() - m_followedMs >= kFollowEveryMs) {
            m_followedMs = NowMs();
            if (!CatchUp(true, why)) {
                Drop(why);
                continue;
            }
        }
        if (NowMs() - m_lookedForOthersMs >= kOthersCheckMs && !LookForOthers()) {
            // Not known: told again, as before.
            m_othersListen = true;
        }
        Dispatch();
        if (PQstatus(m_conn) != CONNECTION_OK)
            Drop(ConnError(m_conn));
    }
}

} // namespace rivuzovara::pg
