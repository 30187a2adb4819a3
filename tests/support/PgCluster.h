#pragma once
// A throwaway PostgreSQL server for the team tests: scripts/pg-cluster makes
// a cluster in a temporary folder (as the user postgres when we are root),
// starts it on a unix socket in that folder, for this user alone, and gives its
// libpq URL. Stop keeps the files, so Start again (or Restart) brings back the
// same data on the same port; the destructor stops the server and removes the
// folder. Used from the test's main thread.
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

class CPgCluster
{
public:
    CPgCluster() = default;
    ~CPgCluster();
    CPgCluster(const CPgCluster&) = delete;
    CPgCluster& operator=(const CPgCluster&) = delete;

    // Creates the cluster on the first call, then starts the server and waits
    // until it takes connections. On failure *why says what went wrong (the
    // PostgreSQL programs missing, initdb's or the server's own words).
    bool Start(QString* why = nullptr);
    // Fast shutdown: sessions end, the data stays.
    void Stop();
    void Restart();
    bool IsRunning() const;

    // "postgresql://mirel@<folder, percent-encoded>:<port>/mirel"; empty before the first start.
    QString Url() const { return m_url; }
    QString Folder() const;
    // The server's log, for a failing test's message.
    QString Log() const;

    // Runs one statement on a connection of its own; *rows gets every row's
    // columns joined by '|'. False (with *why) on any failure.
    bool Query(const QString& sql, QStringList* rows = nullptr, QString* why = nullptr) const;

private:
    bool RunScript(const QStringList& arguments, QString* output, QString* why) const;

    std::unique_ptr<QTemporaryDir> m_folder;
    QString m_url;
};
