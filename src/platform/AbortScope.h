#pragma once
// Lets a worker thread abort its own HTTP requests: while a CAbortScope lives
// on a thread, every request made on that thread checks the stop flag and
// gives up (fails) soon after it becomes non-zero. Scopes nest; the
// destructor restores the previous flag.
#include <atomic>
#include <functional>

class CAbortScope
{
public:
    explicit CAbortScope(const std::atomic<int>* stopFlag);
    ~CAbortScope();
    CAbortScope(const CAbortScope&) = delete;
    CAbortScope& operator=(const CAbortScope&) = delete;

private:
    const std::atomic<int>* m_previous;
};

// True when the calling thread's stop flag is set.
bool AbortRequested();
// The calling thread's stop flag (null when none), for helper threads that stop with it.
const std::atomic<int>* CurrentAbortFlag();

// Polls condition every 20 ms until it holds (true), timeoutMs pass or the
// calling thread's stop flag rises (false).
bool WaitUnlessAborted(int timeoutMs, const std::function<bool()>& condition);
