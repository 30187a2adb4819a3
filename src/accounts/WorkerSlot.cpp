#include "accounts/WorkerSlot.h"
#include "platform/Workers.h"

#include <algorithm>

CWorkerSlot::CWorkerSlot(Factory factory, QObject* parent) : QObject(parent), m_factory(std::move(factory))
{
    m_pollTimer.setInterval(kPollMs);
    connect(&m_pollTimer, &QTimer::timeout, this, &CWorkerSlot::TryStart);
    m_watchTimer.setInterval(kWatchMs);
    connect(&m_watchTimer, &QTimer::timeout, this, &CWorkerSlot::CheckRunningSet);
}

CWorkerSlot::~CWorkerSlot()
{
    for (const CTracked& worker : std::as_const(m_current)) {
        if (worker.thread && worker.stopFlag)
            worker.stopFlag->store(1);
    }
}

bool CWorkerSlot::Ended(const CTracked& worker)
{
    // The thread object is deleted on this thread, after it finished; until
    // then its stop flag is still there to raise.
    return !worker.thread || worker.thread->isFinished();
}

int CWorkerSlot::EndingCount() const
{
    int count = 0;
    for (const CTracked& worker : m_ending)
        count += Ended(worker) ? 0 : 1;
    return count;
}

void CWorkerSlot::Start()
{
    if (m_running)
        return;
    m_running = true;
    TryStart();
}

void CWorkerSlot::Stop()
{
    if (!m_running)
        return;
    m_running = false;
    m_pollTimer.stop();
    m_watchTimer.stop();
    for (const CTracked& worker : std::as_const(m_current)) {
        if (worker.thread && worker.stopFlag)
            worker.stopFlag->store(1);
        m_ending.append(worker);
    }
    m_current.clear();
}

void CWorkerSlot::TryStart()
{
    if (!m_running || !m_current.isEmpty()) {
        m_pollTimer.stop();
        return;
    }
    m_ending.removeIf([](const CTracked& worker) { return Ended(worker); });
    if (!m_ending.isEmpty() || (m_ready && !m_ready())) {
        if (!m_pollTimer.isActive())
            m_pollTimer.start();
        return;
    }
    m_pollTimer.stop();
    const QList<CWorker> workers = m_factory ? m_factory() : QList<CWorker>();
    for (const CWorker& worker : workers) {
        if (!worker.thread)
            continue;
        connect(worker.thread, &QThread::finished, worker.thread, &QObject::deleteLater);
        m_current.append({QPointer<QThread>(worker.thread), worker.stopFlag});
    }
    for (const CTracked& worker : std::as_const(m_current))
        StartWorker(worker.thread, worker.stopFlag);
    m_watchTimer.start();
    Q_EMIT Started();
}

void CWorkerSlot::CheckRunningSet()
{
    // A thread of the running set that ended without being asked to (an
    // exception, a failure it could not go on from): the whole set is stopped,
    // so the page shows it and the next start brings it back. Looked at from
    // here rather than told by a signal queued from the ending worker, so that
    // nothing but the finished state crosses threads. Only Stop raises the
    // flags of the running set, and it moves the set away first; a thread
    // already deleted ended unasked too, or at exit, when this no longer matters.
    const bool endedUnasked = std::any_of(m_current.cbegin(), m_current.cend(), [](const CTracked& worker) {
        return Ended(worker) && (!worker.thread || !worker.stopFlag || worker.stopFlag->load() == 0);
    });
    if (!m_running || !endedUnasked)
        return;
    Stop();
    Q_EMIT EndedUnasked();
}
