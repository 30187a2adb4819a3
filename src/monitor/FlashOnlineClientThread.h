#pragma once
// The presence worker: every ten seconds asks the IM presence query about
// the visitors on the visitor list and hands the page the names of those
// online. Started and stopped with monitoring by the configuration page,
// which never waits for it; it deletes itself when finished.
#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>

class CFlashOnlineClientThread : public QThread
{
    Q_OBJECT
public:
    explicit CFlashOnlineClientThread(QObject* parent = nullptr);
    ~CFlashOnlineClientThread() override;

    // Set to 1 by the owner to end the thread; read fresh at every check.
    std::atomic<int> m_stop{0};

protected:
    void run() override;
};

// One presence request for the IDs of idList (each followed by ","), one
// attempt; the names whose state begins with "1", in reply order. Empty on
// failure.
QStringList QueryOnlineUsers(const QString& idList, const QStringList& names);

// The reply parse of QueryOnlineUsers: entry i of the reply belongs to
// names[i]. Pure.
QStringList ParsePresenceReply(const QString& reply, const QStringList& names);

// Path and query of the presence request, the IDs already in place.
QString PresenceRequestUrl(const QString& idList);
