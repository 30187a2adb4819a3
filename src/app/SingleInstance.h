#pragma once
// One running copy per data directory. The first copy holds a lock file in the
// directory and listens on a local socket in $XDG_RUNTIME_DIR named from the
// directory's path (in the data directory itself when there is none); a
// later start finds the lock taken and hands its request (show the window, a
// page, the history, pause or resume alerts: the menu entry's actions) to that
// copy instead of running beside it on the same store. A lock left by a copy
// that crashed is taken over. Window's thread only; owned by main().
#include <QLockFile>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QLocalServer;

class CSingleInstance : public QObject
{
    Q_OBJECT
public:
    enum class EClaim
    {
        First,   // the lock is ours: this copy runs
        Handed,  // another copy runs and took the request
        Refused, // another copy holds the lock but did not answer in time
    };
    // What a start asks of the running copy; a plain start asks for the window.
    enum class ERequest
    {
        Show,
        Visitors,     // "--show-visitors": the window on the visitor list
        History,      // "--history": the history dialog
        ToggleAlerts, // "--toggle-alerts": pause alerts, or resume them
    };
    Q_ENUM(ERequest)
    // The request a command line makes; nullopt for an argument nobody knows.
    static std::optional<ERequest> RequestFromArguments(const QStringList& arguments);

    explicit CSingleInstance(const QString& dataDir, QObject* parent = nullptr);
    ~CSingleInstance() override;

    // Takes the lock, or hands the request to the copy holding it; tries for
    // up to waitMs while the other copy is still starting (or ending).
    EClaim Claim(ERequest request = ERequest::Show, int waitMs = 5000);
    // Only takes the lock (for one-off commands); false when it could not be taken.
    bool TryLock();
    // After a failed TryLock: another copy holds the lock (rather than the folder refusing one).
    bool LockHeldElsewhere() const { return m_lock.error() == QLockFile::LockFailedError; }
    // Starts answering later starts (after Claim returned First).
    bool Listen();
    // Stops answering and gives the lock back (also done on destruction).
    void Release();

    QString LockPath() const;
    // The socket's full path.
    static QString ServerName(const QString& dataDir);
    // $XDG_RUNTIME_DIR when it is a directory of ours that nobody else may enter, else empty.
    static QString PrivateRuntimeDirectory();

Q_SIGNALS:
    // A later start asked for this (queued: the asker has its answer first).
    void Requested(CSingleInstance::ERequest request);

private:
    bool Ask(ERequest request, int timeoutMs);
    void OnNewConnection();

    QString m_dataDir;
    QLockFile m_lock;
    std::unique_ptr<QLocalServer> m_server;
};
