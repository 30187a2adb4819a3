#pragma once
// Test helpers for anything that talks HTTP:
// - CLocalService runs the real rivuzovara-local on free loopback ports with
//   a data directory of its own, waits until both servers answer, gives the
//   base URLs for SetEndpoints and stops it (SIGTERM) when destroyed;
// - CTestHttpServer is a cpp-httplib server inside the test for canned
//   replies.
// Both are used from the test's main thread.
#include "platform/Endpoints.h"

#include <httplib.h>

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <thread>

class CLocalService
{
public:
    CLocalService() = default;
    ~CLocalService();
    CLocalService(const CLocalService&) = delete;
    CLocalService& operator=(const CLocalService&) = delete;

    // Starts the program and waits (bounded) until both ports answer. An
    // empty dataDir means a fresh temporary directory owned by this object;
    // port 0 lets the program pick a free port.
    bool Start(const QString& dataDir = QString(), int trackingPort = 0, int imPort = 0);
    // Options added to the command line of the next Start (e.g. --test-wait-seconds 3).
    void SetExtraArguments(const QStringList& arguments) { m_extraArguments = arguments; }
    // SIGTERM, then a bounded wait; true when the program ended cleanly (status 0).
    bool Stop();
    bool IsRunning() const;

    // Why Start failed, and what the program printed.
    QString Error() const { return m_error; }
    QString Output();

    int TrackingPort() const { return m_trackingPort; }
    int ImPort() const { return m_imPort; }
    QString TrackingBase() const;
    QString ImBase() const;
    QString DataDir() const { return m_dataDir; }
    qint64 Pid() const;

    // Every service address of the settings file pointed at this instance.
    CEndpoints MakeEndpoints() const;
    void ApplyEndpoints() const;

    // One GET of an already encoded path and query (an admin call: a POST
    // with the data folder's token); the HTTP status, or -1 when nothing answered.
    int Get(int port, const QString& pathAndQuery, QByteArray* body = nullptr) const;
    int GetTracking(const QString& pathAndQuery, QByteArray* body = nullptr) const;
    int GetIm(const QString& pathAndQuery, QByteArray* body = nullptr) const;
    // What the admin calls must carry, read from the service's data folder.
    QString AdminToken() const;

    // Tracking-side admin calls (values sent as UTF-8).
    // Returns the account's web ID, empty on failure.
    QString RegisterAccount(const QString& name, const QString& password);
    bool FreezeAccount(const QString& name, bool frozen = true);
    bool RecordPageView(const QString& webId, const QString& ip, const QString& url);
    QByteArray AccountsJson() const;

    // The program under test: $MIREL_LOCALSERVICE, else the one of this build.
    static QString ProgramPath();

private:
    bool ReadListeningLines(int timeoutMs);
    bool WaitUntilAnswering(int timeoutMs);

    std::unique_ptr<QProcess> m_process;
    std::unique_ptr<QTemporaryDir> m_tempDir;
    QString m_dataDir;
    QStringList m_extraArguments;
    QString m_output;
    QString m_error;
    int m_trackingPort = 0;
    int m_imPort = 0;
};

// Percent-encodes the UTF-8 bytes of a query value (everything but A-Z a-z 0-9 - . _ ~).
QString QueryValue(const QString& value);
// Percent-encodes raw bytes the same way.
QString QueryValueBytes(const QByteArray& bytes);

class CTestHttpServer
{
public:
    CTestHttpServer() = default;
    ~CTestHttpServer();
    CTestHttpServer(const CTestHttpServer&) = delete;
    CTestHttpServer& operator=(const CTestHttpServer&) = delete;

    // Register handlers here before Start.
    httplib::Server& Server() { return m_server; }
    // Listens on 127.0.0.1 on a free port and waits until it runs.
    bool Start();
    void Stop();
    int Port() const { return m_port; }
    QString Base() const;

private:
    httplib::Server m_server;
    std::thread m_thread;
    int m_port = 0;
};
