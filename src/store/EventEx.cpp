#include "store/EventEx.h"

#include "platform/Log.h"

#include <QHash>

#include <chrono>
#include <condition_variable>
#include <mutex>

struct CEventEx::CState
{
    std::mutex mutex;
    std::condition_variable changed;
    bool signalled = false;
};

namespace {

// Name -> the event's state, while any event of that name exists.
std::mutex g_registryMutex;
QHash<QString, std::weak_ptr<CEventEx::CState>>& Registry()
{
    static QHash<QString, std::weak_ptr<CEventEx::CState>> registry;
    return registry;
}

} // namespace

CEventEx::CEventEx() : CEventEx(QStringLiteral("Session_Korvan")) {}

CEventEx::CEventEx(const QString& argument) : m_name(QStringLiteral("Taven_Single_Event_%1").arg(argument).left(99))
{
    {
        std::lock_guard lock(g_registryMutex);
        std::weak_ptr<CState>& slot = Registry()[m_name];
        m_state = slot.lock();
        if (!m_state) {
            m_state = std::make_shared<CState>();
            slot = m_state;
        }
    }
    Set();
}

CEventEx::~CEventEx()
{
    std::lock_guard lock(g_registryMutex);
    m_state.reset();
    auto it = Registry().find(m_name);
    if (it != Registry().end() && it->expired())
        Registry().erase(it);
}

bool CEventEx::Wait(int timeoutMs)
{
    std::unique_lock lock(m_state->mutex);
    const bool set = m_state->changed.wait_for(lock, std::chrono::milliseconds(qMax(0, timeoutMs)),
                                               [this] { return m_state->signalled; });
    if (set)
        m_state->signalled = false; // auto-reset: one waiter passes
    return set;
}

void CEventEx::Set()
{
    {
        std::lock_guard lock(m_state->mutex);
        m_state->signalled = true;
    }
    m_state->changed.notify_one();
}

void CEventEx::Reset()
{
    std::lock_guard lock(m_state->mutex);
    m_state->signalled = false;
}

QString CEventEx::Name() const
{
    return m_name;
}

CEventExLock::CEventExLock(CEventEx& event, int timeoutMs) : m_event(event), m_acquired(event.Wait(timeoutMs))
{
    // Without the event the list belongs to someone else: no reset, no set on the way out.
    if (!m_acquired)
        qCWarning(LogMonitor).noquote() << "lock" << event.Name() << "not obtained in time";
}

CEventExLock::~CEventExLock()
{
    if (m_acquired)
        m_event.Set();
}
