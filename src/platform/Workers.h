#pragma once
// Every stoppable worker thread registers here while it runs, so that exit
// can raise every stop flag and give the threads a bounded time to end.
// Thread-safe.
#include <QLoggingCategory>
#include <QThread>

#include <atomic>
#include <functional>

class CWorkerRegistry
{
public:
    static void Register(QThread* thread, std::atomic<int>* stopFlag);
    static void Unregister(QThread* thread);
    // Raises every stop flag; waits up to timeoutMs for the threads to end.
    // True when all ended in time.
    static bool StopAll(int timeoutMs);
    static int RunningCount();
};

// Registers the worker, then starts it. Registering before start() means an
// exit that begins a moment later still sees, and waits for, a thread that has
// not reached run() yet. The entry goes when the thread finishes.
void StartWorker(QThread* thread, std::atomic<int>* stopFlag);

// Sleeps seconds in one-second steps unless the stop flag rises; true when
// the whole pause passed without a stop. The atomic form reads the length
// again every second, so a live setting changed meanwhile counts at once.
bool PauseUnlessStopped(const std::atomic<int>& stop, int seconds);
bool PauseUnlessStopped(const std::atomic<int>& stop, const std::atomic<int>& seconds);

// Runs fn on the context object's thread and returns once it has run; runs it
// at once when called on that thread or when there is no context. How a
// worker reaches the window; not background work, so not a one-shot.
void RunOnThreadAndWait(QObject* context, const std::function<void()>& fn);

// Registers for the lifetime of a worker's run(), and logs its start and end.
class CWorkerScope
{
public:
    CWorkerScope(QThread* thread, std::atomic<int>* stopFlag);
    ~CWorkerScope();
    CWorkerScope(const CWorkerScope&) = delete;
    CWorkerScope& operator=(const CWorkerScope&) = delete;

private:
    QThread* m_thread;
    std::atomic<int>* m_stopFlag;
    // Taken at the start: at the end the thread object belongs to whoever deletes it.
    const char* m_className;
    const QLoggingCategory* m_category;
};

// Logs why a worker's run() ended on an exception; call from its catch block.
void LogWorkerException(QThread* thread);
