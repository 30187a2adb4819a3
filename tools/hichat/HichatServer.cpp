#include "HichatServer.h"

#include "ChatLink.h"
#include "ChatWindow.h"

#include <QCoreApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QTimer>

#include <unistd.h>

CHichatServer::CHichatServer(const QString& logPath, QObject* parent)
    : QObject(parent), m_log(logPath), m_server(new QLocalServer(this))
{
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection())
            Serve(socket);
    });
}

bool CHichatServer::Listen(const QString& name)
{
    // An instance that answers keeps its name.
    if (SendCommand(name, QStringLiteral("ping"), 2000) != EReply::NoInstance)
        return false;
    if (m_server->listen(name))
        return true;
    // Lost a start race to an instance that now answers?
    if (SendCommand(name, QStringLiteral("ping"), 2000) != EReply::NoInstance)
        return false;
    // A socket left behind by an instance that was killed.
    QLocalServer::removeServer(name);
    return m_server->listen(name);
}

void CHichatServer::Serve(QLocalSocket* socket)
{
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    // A client that never finishes its line is dropped.
    QTimer::singleShot(10000, socket, [socket] { socket->abort(); });
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
        if (!socket->canReadLine())
            return;
        const QString line = QString::fromUtf8(socket->readLine()).trimmed();
        bool ok = false;
        bool quit = false;
        if (line == QLatin1String("ping")) {
            ok = true;
        } else if (line == QLatin1String("quit")) {
            ok = quit = true;
        } else if (line.startsWith(QLatin1String("open "))) {
            ok = OpenLink(line.mid(5));
        }
        socket->write(ok ? "ok\n" : "error\n");
        socket->flush();
        socket->disconnectFromServer();
        if (quit)
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    });
}

bool CHichatServer::OpenLink(const QString& link)
{
    CChatLink parsed;
    if (!ParseChatLink(link, parsed))
        return false;
    CChatWindow* window = m_windows.value(parsed.id);
    if (!window) {
        window = new CChatWindow(parsed.sid, parsed.id);
        m_windows.insert(parsed.id, window);
        connect(
            window, &CChatWindow::MessageSent, this,
            [this](const QString& sid, const QString& peer, const QString& text) { m_log.Append(sid, peer, text); });
        const QString peer = parsed.id;
        connect(window, &QObject::destroyed, this, [this, peer] {
            if (!m_windows.value(peer))
                m_windows.remove(peer);
        });
    }
    window->SetSid(parsed.sid);
    window->Present();
    return true;
}

QString CHichatServer::DefaultInstanceName()
{
    const QString fromEnvironment = qEnvironmentVariable("HICHAT_INSTANCE");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    QString display = qEnvironmentVariable("DISPLAY");
    display.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_.-]")), QStringLiteral("_"));
    return QStringLiteral("hichat-%1-%2").arg(::getuid()).arg(display);
}

CHichatServer::EReply CHichatServer::SendCommand(const QString& name, const QString& command, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(qMin(timeoutMs, 2000)))
        return EReply::NoInstance;
    socket.write(command.toUtf8() + '\n');
    if (!socket.waitForBytesWritten(timeoutMs))
        return EReply::NoInstance;
    QByteArray reply;
    while (!reply.contains('\n') && socket.waitForReadyRead(timeoutMs))
        reply += socket.readAll();
    if (reply.isEmpty())
        return EReply::NoInstance;
    return reply.startsWith("ok") ? EReply::Ok : EReply::Error;
}
