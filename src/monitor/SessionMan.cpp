#include "monitor/SessionMan.h"

#include "platform/Clock.h"
#include "platform/Workers.h"

CSessionMan theSessionMan;

namespace {

qint64 NowSeconds()
{
    return Clock().NowMs() / 1000;
}

} // namespace

CSessionMan::CSessionMan() : m_head(new Entry) {}

CSessionMan::~CSessionMan()
{
    Entry* entry = m_head;
    while (entry) {
        Entry* next = entry->next;
        delete entry;
        entry = next;
    }
}

bool CSessionMan::Lookup(const QString& key)
{
    CEventExLock lock(m_lock);
    if (!lock.Acquired())
        return false;
    for (Entry* entry = m_head->next; entry; entry = entry->next) {
        if (entry->key == key) {
            entry->lastSeen = NowSeconds();
            return true;
        }
    }
    return false;
}

QString CSessionMan::Add(const QString& key, const QString& value)
{
    CEventExLock lock(m_lock);
    if (!lock.Acquired())
        return QString();
    // From the head itself: an empty key matches the dummy and adds nothing.
    Entry* last = m_head;
    for (Entry* entry = m_head; entry; entry = entry->next) {
        if (entry->key == key)
            return key;
        last = entry;
    }
    Entry* added = new Entry;
    added->key = key;
    added->value = value;
    added->lastSeen = NowSeconds();
    last->next = added;
    return key;
}

int CSessionMan::Expire()
{
    CEventExLock lock(m_lock);
    if (!lock.Acquired())
        return 0;
    const qint64 now = NowSeconds();
    const qint64 retention = m_retention.load();
    Entry* previous = m_head;
    Entry* entry = m_head->next;
    while (entry) {
        Entry* next = entry->next;
        if (entry->lastSeen + retention < now) {
            previous->next = next;
            delete entry;
        } else {
            previous = entry;
        }
        entry = next;
    }
    return 1;
}

int CSessionMan::Count()
{
    CEventExLock lock(m_lock);
    if (!lock.Acquired())
        return -1;
    int count = 0;
    for (Entry* entry = m_head->next; entry; entry = entry->next)
        ++count;
    return count;
}

CSessionManageThread::CSessionManageThread(QObject* parent, CSessionMan* sessions)
    : QThread(parent), m_sessions(sessions ? sessions : &theSessionMan)
{
}

CSessionManageThread::~CSessionManageThread() = default;

void CSessionManageThread::run()
{
    CWorkerScope scope(this, &m_stop);
    try {
        while (PauseUnlessStopped(m_stop, 1))
            m_sessions->Expire();
    } catch (...) {
        // Expire cannot fail; nothing must leave the thread in any case.
    }
}
