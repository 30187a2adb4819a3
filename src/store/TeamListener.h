#pragma once
// Hears of every visit recorded in the team store, by any machine: its own
// session LISTENs on the visit channel, read as the socket becomes readable, so
// it never blocks the thread it lives on (the connection, too, is made step by
// step). After the server went away it connects again by itself (back-off 1 s,
// 2 s, 4 s ... 30 s) and then reads the visits recorded meanwhile, so each is
// told once. Owned by whoever wants the visits; lives on one thread.
#include <QObject>
#include <QSet>
#include <QString>

#include <memory>

class QSocketNotifier;
class QTimer;

class CTeamListener : public QObject
{
    Q_OBJECT
public:
    // Starts connecting to url (the [store] url) at once.
    explicit CTeamListener(const QString& url, QObject* parent = nullptr);
    ~CTeamListener() override;

    bool IsListening() const;

Q_SIGNALS:
    // A visit row was inserted; machine is the inserting machine's [store] machine.
    void VisitRecorded(qint64 id, QString machine);

private:
    void Connect();
    void PollConnect();
    void Read();
    // The visits recorded while no session listened; false when they could not be read.
    bool CatchUp(QString* why);
    void Announce(qint64 id, const QString& machine);
    void Drop(const QString& why);

    QString m_url;
    // The listening session (libpq's, kept in the source file).
    struct CLink;
    const std::unique_ptr<CLink> m_link;
    bool m_listening = false;
    // The highest id told so far (-1: none yet), and the ids told near it: a visit committed
    // later than one with a higher id must still be told, and none twice.
    qint64 m_lastId = -1;
    qint64 m_firstId = 0; // the highest id before the first listening
    QSet<qint64> m_told;
    int m_retryMs;
    qint64 m_connectStartedMs = 0;
    QSocketNotifier* m_notifier = nullptr;
    QTimer* m_timer;
};
