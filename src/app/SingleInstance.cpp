#include "app/SingleInstance.h"

#include "platform/Log.h"
#include "platform/PrivateFiles.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// One line each way; the words stay what earlier versions sent for the window.
struct CRequestWord
{
    CSingleInstance::ERequest request;
    const char* argument;
    QByteArray line;
};

const CRequestWord kRequestWords[] = {
    {CSingleInstance::ERequest::Show, "--show", "show\n"},
    {CSingleInstance::ERequest::Visitors, "--show-visitors", "visitors\n"},
    {CSingleInstance::ERequest::History, "--history", "history\n"},
    {CSingleInstance::ERequest::ToggleAlerts, "--toggle-alerts", "alerts\n"},
};
const QByteArray kShownAnswer = "shown\n";

const CRequestWord& WordOf(CSingleInstance::ERequest request)
{
    for (const CRequestWord& word : kRequestWords) {
        if (word.request == request)
            return word;
    }
    return kRequestWords[0];
}

} // namespace

CSingleInstance::CSingleInstance(const QString& dataDir, QObject* parent)
    : QObject(parent), m_dataDir(dataDir), m_lock(dataDir + QStringLiteral("/mirelhelper.lock"))
{
    // Only a dead holder makes the lock stale, never its age: a copy may run for months.
    m_lock.setStaleLockTime(0);
}

CSingleInstance::~CSingleInstance() = default;

QString CSingleInstance::LockPath() const
{
    return m_dataDir + QStringLiteral("/mirelhelper.lock");
}

QString CSingleInstance::ServerName(const QString& dataDir)
{
    // A full path, never a bare name in /tmp: there another local user could
    // create the socket first and answer our later starts.
    const QString runtimeDir = PrivateRuntimeDirectory();
    if (runtimeDir.isEmpty())
        return QDir::cleanPath(dataDir) + QStringLiteral("/mirelhelper.socket");
    const QString canonical = QFileInfo(dataDir).canonicalFilePath();
    const QByteArray hash =
        QCryptographicHash::hash((canonical.isEmpty() ? QDir::cleanPath(dataDir) : canonical).toUtf8(),
                                 QCryptographicHash::Sha1)
            .toHex()
            .left(16);
    return runtimeDir + QStringLiteral("/mirelhelper-") + QString::fromLatin1(hash);
}

QString CSingleInstance::PrivateRuntimeDirectory()
{
    const QByteArray dir = qgetenv("XDG_RUNTIME_DIR");
    if (dir.isEmpty() || !dir.startsWith('/'))
        return QString();
    // The directory must be ours and closed to everybody else, as the XDG
    // rules promise; a stray setting pointing elsewhere is not trusted.
    struct stat info
    {
    };
    if (::stat(dir.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid() ||
        (info.st_mode & 077) != 0)
        return QString();
    return QDir::cleanPath(QFile::decodeName(dir));
}

bool CSingleInstance::TryLock()
{
    // tryLock removes a lock whose holder is no longer alive (a crash) and takes it.
    if (m_lock.tryLock(0)) {
        KeepFilePrivate(LockPath());
        return true;
    }
    if (m_lock.error() != QLockFile::LockFailedError)
        qCWarning(LogUi).noquote() << "cannot write the lock file" << LockPath();
    return false;
}

std::optional<CSingleInstance::ERequest> CSingleInstance::RequestFromArguments(const QStringList& arguments)
{
    if (arguments.size() <= 1)
        return ERequest::Show;
    if (arguments.size() == 2) {
        for (const CRequestWord& word : kRequestWords) {
            if (arguments[1] == QLatin1String(word.argument))
                return word.request;
        }
    }
    return std::nullopt;
}

CSingleInstance::EClaim CSingleInstance::Claim(ERequest request, int waitMs)
{
    const QDeadlineTimer deadline(waitMs);
    for (;;) {
        if (TryLock())
            return EClaim::First;
        // A folder where no lock can be written (read-only, full): nobody else can
        // hold one either; the program runs as it would have without the lock.
        if (!LockHeldElsewhere())
            return EClaim::First;
        if (Ask(request, qMax<qint64>(500, deadline.remainingTime())))
            return EClaim::Handed;
        if (deadline.hasExpired())
            return EClaim::Refused;
        QThread::msleep(100);
    }
}

bool CSingleInstance::Ask(ERequest request, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(ServerName(m_dataDir));
    if (!socket.waitForConnected(qMin(timeoutMs, 1000)))
        return false;
    socket.write(WordOf(request).line);
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    const QDeadlineTimer deadline(timeoutMs);
    QByteArray answer;
    while (!answer.contains('\n') && !deadline.hasExpired() && socket.waitForReadyRead(int(deadline.remainingTime())))
        answer += socket.readAll();
    return answer == kShownAnswer;
}

bool CSingleInstance::Listen()
{
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    const QString name = ServerName(m_dataDir);
    // We hold the lock, so a socket of that name is a crashed copy's leftover.
    QLocalServer::removeServer(name);
    if (!m_server->listen(name)) {
        qCWarning(LogUi).noquote() << "later starts cannot reach this copy at" << name << "-"
                                   << m_server->errorString();
        return false;
    }
    connect(m_server.get(), &QLocalServer::newConnection, this, &CSingleInstance::OnNewConnection);
    return true;
}

void CSingleInstance::Release()
{
    // Closing the server removes its socket file.
    if (m_server)
        m_server->close();
    m_lock.unlock();
}

void CSingleInstance::OnNewConnection()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            // Anything but a known request is ignored; the socket is the user's own.
            if (!socket->canReadLine())
                return;
            const QByteArray line = socket->readLine(64);
            for (const CRequestWord& word : kRequestWords) {
                if (line != word.line)
                    continue;
                qCInfo(LogUi).noquote() << "a later start asked for"
                                        << (word.request == ERequest::Show ? QStringLiteral("the window")
                                                                           : QString::fromLatin1(word.line.trimmed()));
                socket->write(kShownAnswer);
                socket->flush();
                // The request may open a dialog; the asker must not wait for it.
                QMetaObject::invokeMethod(
                    this, [this, request = word.request] { Q_EMIT Requested(request); }, Qt::QueuedConnection);
                break;
            }
            socket->disconnectFromServer();
        });
    }
}
