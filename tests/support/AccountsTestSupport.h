#pragma once
// Test helpers of the configuration page: one ordered log of the message
// boxes and status messages a flow shows (thread-safe, nothing ever blocks),
// a forwarding proxy that remembers which requests reached the service, and a
// server that accepts connections but never answers.
#include "notify/OwnerNotifier.h"
#include "platform/MessageBox.h"
#include "support/LocalService.h"
#include "support/WaitUntil.h"

#include <QStringList>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mutex>

class CFlowLog : public IOwnerNotifier
{
public:
    CFlowLog()
    {
        m_previousHandler =
            SetMessageBoxHandler([this](const QString& text, const QString& caption, EMsgIcon, EMsgButtons buttons) {
                std::lock_guard lock(m_mutex);
                m_events.append(QStringLiteral("box:") + text);
                m_captions.append(caption);
                return buttons == EMsgButtons::YesNo ? kIdYes : kIdOk;
            });
        m_previousNotifier = OwnerNotifier();
        SetOwnerNotifier(this);
    }
    ~CFlowLog() override
    {
        SetOwnerNotifier(m_previousNotifier);
        SetMessageBoxHandler(m_previousHandler);
    }
    CFlowLog(const CFlowLog&) = delete;
    CFlowLog& operator=(const CFlowLog&) = delete;

    void ShowStatusMessage(const QString& text) override
    {
        std::lock_guard lock(m_mutex);
        m_events.append(QStringLiteral("status:") + text);
    }
    void AlertOwner(const QString&) override {}
    // Anything else a test wants in the same order ("page:" and the text).
    void Note(const QString& text)
    {
        std::lock_guard lock(m_mutex);
        m_events.append(QStringLiteral("page:") + text);
    }

    // Every event, "box:" or "status:" and its text, in the order shown.
    QStringList Events() const
    {
        std::lock_guard lock(m_mutex);
        return m_events;
    }
    QStringList Boxes() const { return Only(QStringLiteral("box:")); }
    QStringList Statuses() const { return Only(QStringLiteral("status:")); }
    QStringList Captions() const
    {
        std::lock_guard lock(m_mutex);
        return m_captions;
    }
    void Clear()
    {
        std::lock_guard lock(m_mutex);
        m_events.clear();
        m_captions.clear();
    }

private:
    QStringList Only(const QString& prefix) const
    {
        QStringList texts;
        for (const QString& event : Events()) {
            if (event.startsWith(prefix))
                texts.append(event.mid(prefix.size()));
        }
        return texts;
    }

    mutable std::mutex m_mutex;
    QStringList m_events;
    QStringList m_captions;
    MessageBoxHandler m_previousHandler;
    IOwnerNotifier* m_previousNotifier = nullptr;
};

// Sits between the program and the local service and remembers every
// request's target (path and query, as sent).
class CRecordingProxy
{
public:
    bool Start(int targetPort)
    {
        m_targetPort = targetPort;
        m_server.Server().Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
            {
                std::lock_guard lock(m_mutex);
                m_targets.append(QString::fromStdString(request.target));
            }
            httplib::Client client("127.0.0.1", m_targetPort);
            client.set_read_timeout(20, 0);
            if (auto result = client.Get(request.target.c_str())) {
                response.status = result->status;
                response.set_content(result->body, result->get_header_value("Content-Type").c_str());
            } else {
                response.status = 502;
            }
        });
        return m_server.Start();
    }
    QString Base() const { return m_server.Base(); }

    // How many requests went to a path containing the text (case-insensitive).
    int Count(const QString& pathPart) const
    {
        std::lock_guard lock(m_mutex);
        int count = 0;
        for (const QString& target : m_targets)
            count += target.section(QLatin1Char('?'), 0, 0).contains(pathPart, Qt::CaseInsensitive) ? 1 : 0;
        return count;
    }
    QStringList Targets() const
    {
        std::lock_guard lock(m_mutex);
        return m_targets;
    }

private:
    CTestHttpServer m_server;
    int m_targetPort = 0;
    mutable std::mutex m_mutex;
    QStringList m_targets;
};

// A listening socket on 127.0.0.1 that is never accepted from: connections
// complete (the kernel does that) and no reply ever comes.
class CSilentServer
{
public:
    ~CSilentServer()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool Start()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (m_fd < 0)
            return false;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || ::listen(m_fd, 64) != 0)
            return false;
        socklen_t length = sizeof(address);
        if (::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return false;
        m_port = ntohs(address.sin_port);
        return true;
    }
    QString Base() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }

private:
    int m_fd = -1;
    int m_port = 0;
};
