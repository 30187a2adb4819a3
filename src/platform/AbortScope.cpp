#include "platform/AbortScope.h"

#include <chrono>
#include <thread>

namespace {
thread_local const std::atomic<int>* t_stopFlag = nullptr;
}

CAbortScope::CAbortScope(const std::atomic<int>* stopFlag) : m_previous(t_stopFlag)
{
    t_stopFlag = stopFlag;
}

CAbortScope::~CAbortScope()
{
    t_stopFlag = m_previous;
}

bool AbortRequested()
{
    const std::atomic<int>* flag = t_stopFlag;
    return flag && flag->load(std::memory_order_relaxed) != 0;
}

const std::atomic<int>* CurrentAbortFlag()
{
    return t_stopFlag;
}

bool WaitUnlessAborted(int timeoutMs, const std::function<bool()>& condition)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() >= deadline || AbortRequested())
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}
