#pragma once
// The running instance: listens on a local socket for links handed over by
// later invocations ("open <link>", "ping", "quit", one line each, answered
// "ok" or "error"), keeps one chat window per peer and logs what is sent.
#include "MessageLog.h"

#include <QHash>
#include <QObject>
#include <QPointer>

class QLocalServer;
class QLocalSocket;
class CChatWindow;

class CHichatServer : public QObject
{
    Q_OBJECT
public:
    explicit CHichatServer(const QString& logPath, QObject* parent = nullptr);

    // False when another instance answers on that name.
    bool Listen(const QString& name);
    // Opens or raises the chat window of the link's peer.
    bool OpenLink(const QString& link);

    // The socket name of an instance: HICHAT_INSTANCE, else one per user and display.
    static QString DefaultInstanceName();
    enum class EReply
    {
        NoInstance,
        Error,
        Ok
    };
    // Sends one command to a running instance.
    static EReply SendCommand(const QString& name, const QString& command, int timeoutMs = 5000);

private:
    void Serve(QLocalSocket* socket);

    CMessageLog m_log;
    QLocalServer* m_server = nullptr;
    QHash<QString, QPointer<CChatWindow>> m_windows;
};
