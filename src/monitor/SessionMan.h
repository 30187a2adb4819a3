#pragma once
// The memory of anonymous visitors: IP addresses already announced by a
// guest alert, each with its last-seen time. The monitoring thread looks up
// and adds; CSessionManageThread forgets, once a second, addresses not seen
// for the retention time. One global object, theSessionMan, lives for the
// whole process; every operation holds the shared CEventEx lock (waiting at
// most 10 s for it).
#include "store/EventEx.h"

#include <QString>
#include <QThread>

#include <atomic>

class CSessionMan
{
public:
    CSessionMan();
    virtual ~CSessionMan();
    CSessionMan(const CSessionMan&) = delete;
    CSessionMan& operator=(const CSessionMan&) = delete;

    // True when the key is remembered (exact text); a hit refreshes its last-seen time.
    bool Lookup(const QString& key);
    // Appends the key with last-seen now unless it is already there; returns the key.
    QString Add(const QString& key, const QString& value);
    // Forgets every entry whose last-seen time plus the retention is earlier than now. Returns 1.
    int Expire();

    void SetRetention(int seconds) { m_retention.store(seconds); }
    int Retention() const { return m_retention.load(); }
    // Entries after the dummy head. Like the calls above, it leaves the list alone
    // when the lock was not obtained in time: -1 here, false / empty / 0 above.
    int Count();

    static constexpr int kInitialRetentionSeconds = 50;
    // What the visitor list page sets before it starts the thread.
    static constexpr int kPageRetentionSeconds = 3600;

private:
    struct Entry
    {
        QString key;
        QString value;
        qint64 lastSeen = 0; // seconds since 1970-01-01 UTC
        Entry* next = nullptr;
    };

    Entry* m_head; // dummy: empty key and value, never removed
    CEventEx m_lock;
    std::atomic<int> m_retention{kInitialRetentionSeconds};
};

extern CSessionMan theSessionMan;

// Once a second: theSessionMan.Expire(). It runs until the process ends; its
// stop flag only serves the bounded stop at exit.
class CSessionManageThread : public QThread
{
    Q_OBJECT
public:
    explicit CSessionManageThread(QObject* parent = nullptr, CSessionMan* sessions = nullptr);
    ~CSessionManageThread() override;

    std::atomic<int> m_stop{0};

protected:
    void run() override;

private:
    CSessionMan* m_sessions;
};
