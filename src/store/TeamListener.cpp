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
} // namespace

CTeamListener::CTeamListener(const QString& url, QObject* parent)
    : QObject(parent), m_url(url), m_retryMs(kTeamRetryFirstMs), m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &CTeamListener::Connect);
    QTimer::singleShot(0, this, &CTeamListener::Connect);
}

CTeamListener::~CTeamListener()
{
    delete m_notifier;
    if (m_conn)
        PQfinish(m_conn);
}

bool CTeamListener::IsListening() const
{
    return m_listening;
}

void CTeamListener::Connect()
{
    disconnect(m_timer, nullptr, this, nullptr);
    m_conn = TeamConnect(m_url, false);
    if (!m_conn || PQstatus(m_conn) == CONNECTION_BAD) {
        Drop(TeamErrorText(m_conn));
        return;
    }
    m_connectStartedMs = QDateTime::currentMSecsSinceEpoch();
    connect(m_timer, &QTimer::timeout, this, &CTeamListener::PollConnect);
    m_timer->start(0);
}

void CTeamListener::PollConnect()
{
    const PostgresPollingStatusType state = PQconnectPoll(m_conn);
    if (state == PGRES_POLLING_FAILED) {
        Drop(TeamErrorText(m_conn));
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
    PGresult* result = PQexec(m_conn, QByteArray("listen ").append(kTeamVisitChannel).constData());
    const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
    PQclear(result);
    if (!ok) {
        Drop(TeamErrorText(m_conn));
        return;
    }
    PQsetnonblocking(m_conn, 1);
    m_notifier = new QSocketNotifier(qintptr(PQsocket(m_conn)), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &CTeamListener::Read);
    m_listening = true;
    m_retryMs = kTeamRetryFirstMs;
    qCInfo(LogStore) << "listening for visits of the team";
}

void CTeamListener::Read()
{
    if (!PQconsumeInput(m_conn)) {
        Drop(TeamErrorText(m_conn));
        return;
    }
    while (PGnotify* notice = PQnotifies(m_conn)) {
        // "<id> <machine>"
        const QString payload = QString::fromUtf8(notice->extra);
        PQfreemem(notice);
        bool ok = false;
        const qint64 id = payload.section(QLatin1Char(' '), 0, 0).toLongLong(&ok);
        if (ok)
            Q_EMIT VisitRecorded(id, payload.section(QLatin1Char(' '), 1));
        else
            qCWarning(LogStore) << "visit notice without an id";
    }
    if (PQstatus(m_conn) == CONNECTION_BAD)
        Drop(TeamErrorText(m_conn));
}

void CTeamListener::Drop(const QString& why)
{
    qCWarning(LogStore).noquote() << "visit listener lost the team store, next try in" << m_retryMs << "ms:" << why;
    delete m_notifier;
    m_notifier = nullptr;
    if (m_conn)
        PQfinish(m_conn);
    m_conn = nullptr;
    m_listening = false;
    disconnect(m_timer, nullptr, this, nullptr);
    connect(m_timer, &QTimer::timeout, this, &CTeamListener::Connect);
    m_timer->start(m_retryMs);
    m_retryMs = qMin(m_retryMs * 2, kTeamRetryMaxMs);
}
