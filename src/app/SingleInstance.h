#pragma once
// One running copy per data directory. The first copy holds a lock file in the
// directory and listens on a local socket in $XDG_RUNTIME_DIR named from the
// directory's path (in the data directory itself when there is none); a
// later start finds the lock taken and asks that copy to show its window
// instead of running beside it on the same store. A lock left by a copy that
// crashed is taken over. Window's thread only; owned by main().
#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;

class CSingleInstance : public QObject
{
    Q_OBJECT
public:
    enum class EClaim
    {
        First,   // the lock is ours: this copy runs
        Handed,  // another copy runs and was asked to show its window
        Refused, // another copy holds the lock but did not answer in time
    };

    explicit CSingleInstance(const QString& dataDir, QObject* parent = nullptr);
    ~CSingleInstance() override;

    // Takes the lock, or hands over to the copy holding it; tries for up to
    // waitMs while the other copy is still starting (or ending).
    EClaim Claim(int waitMs = 5000);
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
    // A later start asked for the window.
    void ShowRequested();

private:
    bool AskToShow(int timeoutMs);
    void OnNewConnection();

    QString m_dataDir;
    QLockFile m_lock;
    std::unique_ptr<QLocalServer> m_server;
};
