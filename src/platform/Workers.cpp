#include "platform/Workers.h"

#include "platform/Clock.h"
#include "platform/Log.h"

#include <exception>

#include <QDeadlineTimer>

#include <condition_variable>
#include <map>
#include <mutex>

namespace {

// Never destroyed: a worker may still be leaving run() (and unregistering) while
// the process's static objects are torn down at exit.
struct CRegistryState
{
    std::mutex mutex;
    std::condition_variable changed;
    std::map<QThread*, std::atomic<int>*> workers;
};
CRegistryState& State()
{
    static CRegistryState* state = new CRegistryState;
    return *state;
}

} // namespace

void CWorkerRegistry::Register(QThread* thread, std::atomic<int>* stopFlag)
{
    std::lock_guard lock(State().mutex);
    State().workers[thread] = stopFlag;
}

void CWorkerRegistry::Unregister(QThread* thread)
{
    {
        std::lock_guard lock(State().mutex);
        State().workers.erase(thread);
    }
    State().changed.notify_all();
}

bool CWorkerRegistry::StopAll(int timeoutMs)
{
    std::unique_lock lock(State().mutex);
    for (auto& [thread, flag] : State().workers) {
        if (flag)
            flag->store(1);
    }
    return State().changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [] { return State().workers.empty(); });
}

int CWorkerRegistry::RunningCount()
{
    std::lock_guard lock(State().mutex);
    return static_cast<int>(State().workers.size());
}

void StartWorker(QThread* thread, std::atomic<int>* stopFlag)
{
    CWorkerRegistry::Register(thread, stopFlag);
    // Runs on the worker as it ends, so it names it with currentThread() and keeps nothing in the
    // connection: the window's thread frees the connection when it deletes the thread object, after
    // ~QThread has waited for the end, an order inside Qt that ThreadSanitizer cannot see.
    QObject::connect(
        thread, &QThread::finished, thread, [] { CWorkerRegistry::Unregister(QThread::currentThread()); },
        Qt::DirectConnection);
    thread->start();
}

namespace {

const QLoggingCategory& CategoryOf(const QThread* thread)
{
    const QByteArray name = thread ? QByteArray(thread->metaObject()->className()) : QByteArray();
    if (name.contains("AutoSend"))
        return LogGreet();
    if (name.contains("Monitor") || name.contains("FlashOnline") || name.contains("Session"))
        return LogMonitor();
    return LogUi();
}

const char* ClassOf(const QThread* thread)
{
    return thread ? thread->metaObject()->className() : "worker";
}

template <typename Seconds> bool PauseSteps(const std::atomic<int>& stop, const Seconds& seconds)
{
    for (int second = 0; second < seconds(); ++second) {
        if (stop.load() != 0)
            return false;
        SleepMs(1000);
    }
    // A stop raised during the last second counts too.
    return stop.load() == 0;
}

} // namespace

CWorkerScope::CWorkerScope(QThread* thread, std::atomic<int>* stopFlag)
    : m_thread(thread), m_stopFlag(stopFlag), m_className(ClassOf(thread)), m_category(&CategoryOf(thread))
{
    CWorkerRegistry::Register(thread, stopFlag);
    qCInfo(*m_category) << m_className << "started";
}

CWorkerScope::~CWorkerScope()
{
    qCInfo(*m_category) << m_className << (m_stopFlag && m_stopFlag->load() ? "stopped" : "ended by itself");
    CWorkerRegistry::Unregister(m_thread);
}

void LogWorkerException(QThread* thread)
{
    try {
        throw;
    } catch (const std::exception& e) {
        qCWarning(CategoryOf(thread)) << ClassOf(thread) << "ended on an exception:" << e.what();
    } catch (...) {
        qCWarning(CategoryOf(thread)) << ClassOf(thread) << "ended on an unknown exception";
    }
}

bool PauseUnlessStopped(const std::atomic<int>& stop, int seconds)
{
    return PauseSteps(stop, [seconds] { return seconds; });
}

bool PauseUnlessStopped(const std::atomic<int>& stop, const std::atomic<int>& seconds)
{
    return PauseSteps(stop, [&seconds] { return seconds.load(); });
}

void RunOnThreadAndWait(QObject* context, const std::function<void()>& fn)
{
    // The context's own thread must not queue to itself and wait: that never returns.
    if (!context || QThread::currentThread() == context->thread())
        fn();
    else
        QMetaObject::invokeMethod(context, fn, Qt::BlockingQueuedConnection);
}
