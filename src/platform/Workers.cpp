#include "platform/Workers.h"

#include <QDeadlineTimer>

#include <condition_variable>
#include <map>
#include <mutex>

namespace {

std::mutex g_workersMutex;
std::condition_variable g_workersChanged;
std::map<QThread*, std::atomic<int>*> g_workers;

} // namespace

void CWorkerRegistry::Register(QThread* thread, std::atomic<int>* stopFlag)
{
    std::lock_guard lock(g_workersMutex);
    g_workers[thread] = stopFlag;
}

void CWorkerRegistry::Unregister(QThread* thread)
{
    {
        std::lock_guard lock(g_workersMutex);
        g_workers.erase(thread);
    }
    g_workersChanged.notify_all();
}

bool CWorkerRegistry::StopAll(int timeoutMs)
{
    std::unique_lock lock(g_workersMutex);
    for (auto& [thread, flag] : g_workers) {
        if (flag)
            flag->store(1);
    }
    return g_workersChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [] { return g_workers.empty(); });
}

int CWorkerRegistry::RunningCount()
{
    std::lock_guard lock(g_workersMutex);
    return static_cast<int>(g_workers.size());
}
