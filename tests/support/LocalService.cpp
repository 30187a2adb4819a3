#include "support/LocalService.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>

namespace {

constexpr int kStartTimeoutMs = 15000;
constexpr int kStopTimeoutMs = 10000;

httplib::Client MakeClient(int port)
{
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(2, 0);
    client.set_read_timeout(10, 0);
    client.set_keep_alive(false);
    return client;
}

} // namespace

QString QueryValueBytes(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toPercentEncoding());
}

QString QueryValue(const QString& value)
{
    return QueryValueBytes(value.toUtf8());
}

CLocalService::~CLocalService()
{
    Stop();
}

QString CLocalService::ProgramPath()
{
    const QByteArray fromEnv = qgetenv("MIREL_LOCALSERVICE");
    if (!fromEnv.isEmpty())
        return QString::fromLocal8Bit(fromEnv);
    return QStringLiteral(MIREL_BINARY_DIR "/tools/localservice/rivuzovara-local");
}

bool CLocalService::Start(const QString& dataDir, int trackingPort, int imPort)
{
    Stop();
    m_error.clear();
    m_output.clear();
    m_trackingPort = 0;
    m_imPort = 0;
    if (dataDir.isEmpty()) {
        m_tempDir = std::make_unique<QTemporaryDir>();
        if (!m_tempDir->isValid()) {
            m_error = QStringLiteral("no temporary directory");
            return false;
        }
        m_dataDir = m_tempDir->path();
    } else {
        m_dataDir = dataDir;
    }
    const QString program = ProgramPath();
    if (!QFileInfo(program).isExecutable()) {
        m_error = QStringLiteral("%1 is not built").arg(program);
        return false;
    }
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->start(program,
                     QStringList{QStringLiteral("--data"), m_dataDir, QStringLiteral("--tracking-port"),
                                 QString::number(trackingPort), QStringLiteral("--im-port"), QString::number(imPort),
                                 QStringLiteral("--bind"), QStringLiteral("127.0.0.1")} +
                         m_extraArguments);
    if (!m_process->waitForStarted(kStartTimeoutMs)) {
        m_error = QStringLiteral("cannot start %1: %2").arg(program, m_process->errorString());
        m_process.reset();
        return false;
    }
    if (!ReadListeningLines(kStartTimeoutMs) || !WaitUntilAnswering(kStartTimeoutMs)) {
        m_error += QStringLiteral("\noutput:\n") + Output();
        Stop();
        return false;
    }
    return true;
}

bool CLocalService::ReadListeningLines(int timeoutMs)
{
    static const QRegularExpression tracking(QStringLiteral("tracking service on http://[^:\\s]+:(\\d+)"));
    static const QRegularExpression im(QStringLiteral("IM web on http://[^:\\s]+:(\\d+)"));
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        const QString text = Output();
        const auto t = tracking.match(text);
        const auto i = im.match(text);
        if (t.hasMatch() && i.hasMatch()) {
            m_trackingPort = t.captured(1).toInt();
            m_imPort = i.captured(1).toInt();
            return true;
        }
        if (m_process->state() == QProcess::NotRunning) {
            m_error = QStringLiteral("rivuzovara-local ended before listening");
            return false;
        }
        m_process->waitForReadyRead(100);
    }
    m_error = QStringLiteral("rivuzovara-local printed no ports in time");
    return false;
}

bool CLocalService::WaitUntilAnswering(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        // Any HTTP answer will do for the IM side (its routes are its own).
        if (GetTracking(QStringLiteral("/admin/ping")) == 200 && GetIm(QStringLiteral("/")) > 0)
            return true;
        if (m_process->state() == QProcess::NotRunning)
            break;
        QThread::msleep(50);
    }
    m_error = QStringLiteral("rivuzovara-local does not answer");
    return false;
}

bool CLocalService::Stop()
{
    if (!m_process)
        return false;
    bool clean = false;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (m_process->waitForFinished(kStopTimeoutMs)) {
            clean = m_process->exitStatus() == QProcess::NormalExit && m_process->exitCode() == 0;
        } else {
            m_process->kill();
            m_process->waitForFinished(kStopTimeoutMs);
        }
    }
    Output();
    m_process.reset();
    return clean;
}

bool CLocalService::IsRunning() const
{
    return m_process && m_process->state() == QProcess::Running;
}

qint64 CLocalService::Pid() const
{
    return m_process ? m_process->processId() : 0;
}

QString CLocalService::Output()
{
    if (m_process)
        m_output += QString::fromUtf8(m_process->readAll());
    return m_output;
}

QString CLocalService::TrackingBase() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_trackingPort);
}

QString CLocalService::ImBase() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_imPort);
}

CEndpoints CLocalService::MakeEndpoints() const
{
    CEndpoints e = Endpoints();
    e.trackingBase = TrackingBase();
    e.imProfileBase = ImBase();
    e.imPortraitBase = ImBase();
    e.imPresenceBase = ImBase();
    e.imMessagePage = ImBase() + QStringLiteral("/msg");
    e.imImageBase = ImBase();
    e.makerSite = TrackingBase() + QLatin1Char('/');
    return e;
}

void CLocalService::ApplyEndpoints() const
{
    SetEndpoints(MakeEndpoints());
}

int CLocalService::Get(int port, const QString& pathAndQuery, QByteArray* body) const
{
    if (port <= 0)
        return -1;
    httplib::Client client = MakeClient(port);
    // The admin calls are POSTs with the token only the data folder's owner can read.
    const bool admin = pathAndQuery.startsWith(QLatin1String("/admin/"));
    const auto result = admin ? client.Post(pathAndQuery.toStdString(), {{"X-Admin-Token", AdminToken().toStdString()}},
                                            "", "application/x-www-form-urlencoded")
                              : client.Get(pathAndQuery.toStdString());
    if (!result)
        return -1;
    if (body)
        *body = QByteArray::fromStdString(result->body);
    return result->status;
}

QString CLocalService::AdminToken() const
{
    QFile file(m_dataDir + QStringLiteral("/admin-token"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll().trimmed()) : QString();
}

int CLocalService::GetTracking(const QString& pathAndQuery, QByteArray* body) const
{
    return Get(m_trackingPort, pathAndQuery, body);
}

int CLocalService::GetIm(const QString& pathAndQuery, QByteArray* body) const
{
    return Get(m_imPort, pathAndQuery, body);
}

QString CLocalService::RegisterAccount(const QString& name, const QString& password)
{
    QByteArray body;
    if (GetTracking(QStringLiteral("/admin/register?name=%1&pwd=%2").arg(QueryValue(name), QueryValue(password)),
                    &body) != 200 ||
        !body.startsWith("+OK "))
        return QString();
    return QString::fromUtf8(body.mid(4)).trimmed();
}

bool CLocalService::FreezeAccount(const QString& name, bool frozen)
{
    return GetTracking(QStringLiteral("/admin/freeze?name=%1&frozen=%2").arg(QueryValue(name), frozen ? "1" : "0")) ==
           200;
}

bool CLocalService::RecordPageView(const QString& webId, const QString& ip, const QString& url)
{
    return GetTracking(QStringLiteral("/admin/pageview?webid=%1&ip=%2&url=%3")
                           .arg(QueryValue(webId), QueryValue(ip), QueryValue(url))) == 200;
}

QByteArray CLocalService::AccountsJson() const
{
    QByteArray body;
    GetTracking(QStringLiteral("/admin/accounts"), &body);
    return body;
}

CTestHttpServer::~CTestHttpServer()
{
    Stop();
}

bool CTestHttpServer::Start()
{
    m_port = m_server.bind_to_any_port("127.0.0.1");
    if (m_port <= 0)
        return false;
    m_thread = std::thread([this] { m_server.listen_after_bind(); });
    const QDeadlineTimer deadline(5000);
    while (!m_server.is_running() && !deadline.hasExpired())
        QThread::msleep(5);
    return m_server.is_running();
}

void CTestHttpServer::Stop()
{
    m_server.stop();
    if (m_thread.joinable())
        m_thread.join();
}

QString CTestHttpServer::Base() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}
