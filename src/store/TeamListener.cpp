#include "store/TeamListener.h"

#include "platform/Log.h"
#include "store/TeamSchema.h"
#include "store/TeamStore.h"

#include <QDateTime>
#include <QSocketNotifier>
#include <QTimer>

#include <libpq-fe.h>

namespace {
// How often a connection under way is looked at.
constexpr int kConnectPollMs = 50;
// Ids this far below the highest told are read again after a reconnect (and forgotten otherwise):
// sessions that inserted at the same time may commit in another order than their ids.
constexpr qint64 kLateIds = 1000;
} // namespace

struct CTeamListener::CLink
{
    PGconn* conn = nullptr;
};

CTeamListener::CTeamListener(const QString& url, QObject* parent)
    : QObject(parent), m_url(url), m_link(std::make_unique<CLink>()), m_retryMs(kTeamRetryFirstMs),
      m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &CTeamListener::Connect);
    QTimer::singleShot(0, this, &CTeamListener::Connect);
}

CTeamListener::~CTeamListener()
{
    delete m_notifier;
    if (m_link->conn)
        PQfinish(m_link->conn);
}

bool CTeamListener::IsListening() const
{
    return m_listening;
}

void CTeamListener::Connect()
{
    disconnect(m_timer, nullptr, this, nullptr);
    m_link->conn = TeamConnect(m_url, false, kTeamConnectTimeoutS, "mirelhelper-listener");
    if (!m_link->conn || PQstatus(m_link->conn) == CONNECTION_BAD) {
        Drop(TeamErrorText(m_link->conn));
        return;
    }
    m_connectStartedMs = QDateTime::currentMSecsSinceEpoch();
    connect(m_timer, &QTimer::timeout, this, &CTeamListener::PollConnect);
    m_timer->start(0);
}

void CTeamListener::PollConnect()
{
    const PostgresPollingStatusType state = PQconnectPoll(m_link->conn);
    if (state == PGRES_POLLING_FAILED) {
        Drop(TeamErrorText(m_link->conn));
        return;
    }
    if (state != PGRES_POLLING_OK) {
        if (QDateTime::currentMSecsSinceEpoch() - m_connectStartedMs > kTeamConnectTimeoutS * 1000) {
            Drop(QStringLiteral("no answer"));
            return;
        }
        m_timer->start(kConnectPollMs);
        return;
    }
    disconnect(m_timer, nullptr, this, nullptr);
    QString why;
    if (!TeamPinSession(m_link->conn, &why)) {
        Drop(why);
        return;
    }
    PGresult* result = PQexec(m_link->conn, QByteArray("listen ").append(kTeamVisitChannel).constData());
    const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
    PQclear(result);
    if (!ok) {
        Drop(TeamErrorText(m_link->conn));
        return;
    }
    // Listening before reading: a visit committed in between is heard, and told once.
    if (!CatchUp(&why)) {
        Drop(why);
        return;
    }
    PQsetnonblocking(m_link->conn, 1);
    m_notifier = new QSocketNotifier(qintptr(PQsocket(m_link->conn)), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &CTeamListener::Read);
    m_listening = true;
    m_retryMs = kTeamRetryFirstMs;
    qCInfo(LogStore) << "listening for visits of the team";
}

void CTeamListener::Read()
{
    if (!PQconsumeInput(m_link->conn)) {
        Drop(TeamErrorText(m_link->conn));
        return;
    }
    while (PGnotify* notice = PQnotifies(m_link->conn)) {
        // "<id> <machine>"
        const QString payload = QString::fromUtf8(notice->extra);
        PQfreemem(notice);
        bool ok = false;
        const qint64 id = payload.section(QLatin1Char(' '), 0, 0).toLongLong(&ok);
        if (ok)
            Announce(id, payload.section(QLatin1Char(' '), 1));
        else
            qCWarning(LogStore) << "visit notice without an id";
    }
    if (PQstatus(m_link->conn) == CONNECTION_BAD)
        Drop(TeamErrorText(m_link->conn));
}

bool CTeamListener::CatchUp(QString* why)
{
    const bool first = m_lastId < 0;
    const QByteArray from = QByteArray::number(qMax(m_firstId, m_lastId - kLateIds));
    const char* values[] = {from.constData()};
    // The first time only the place to start from: visits before this start were never ours to tell.
    PGresult* result =
        first ? PQexec(m_link->conn, "select coalesce(max(id), 0), '' from visit_origin")
              : PQexecParams(m_link->conn, "select id, machine from visit_origin where id > $1::bigint order by id", 1,
                             nullptr, values, nullptr, nullptr, 0);
    const bool ok = PQresultStatus(result) == PGRES_TUPLES_OK;
    if (!ok)
        *why = QString::fromUtf8(PQresultErrorMessage(result)).trimmed().section(QLatin1Char('\n'), 0, 0);
    int missed = 0;
    for (int row = 0; ok && row < PQntuples(result); ++row) {
        const qint64 id = QByteArray(PQgetvalue(result, row, 0)).toLongLong();
        if (first) {
            m_firstId = id;
            m_lastId = id;
        } else if (!m_told.contains(id)) {
            ++missed;
            Announce(id, QString::fromUtf8(PQgetvalue(result, row, 1)));
        }
    }
    PQclear(result);
    if (missed > 0)
        qCInfo(LogStore) << "visits recorded while the listener was away:" << missed;
    return ok;
}

void CTeamListener::Announce(qint64 id, const QString& machine)
{
    if (m_told.contains(id))
        return;
    m_told.insert(id);
    if (id > m_lastId) {
        m_lastId = id;
        if (m_told.size() > 2 * kLateIds)
            m_told.removeIf([this](qint64 told) { return told <= m_lastId - kLateIds; });
    }
    Q_EMIT VisitRecorded(id, machine);
}

void CTeamListener::Drop(const QString& why)
{
    qCWarning(LogStore).noquote() << "visit listener lost the team store, next try in" << m_retryMs << "ms:" << why;
    delete m_notifier;
    m_notifier = nullptr;
    if (m_link->conn)
        PQfinish(m_link->conn);
    m_link->conn = nullptr;
    m_listening = false;
    disconnect(m_timer, nullptr, this, nullptr);
    connect(m_timer, &QTimer::timeout, this, &CTeamListener::Connect);
    m_timer->start(m_retryMs);
    m_retryMs = qMin(m_retryMs * 2, kTeamRetryMaxMs);
}
