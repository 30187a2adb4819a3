#pragma once
// One piece of background work: it runs on a worker thread registered with
// CWorkerRegistry, its stop flag (raised at exit or by Stop()) aborts its
// requests through CAbortScope, and its result is handed to a context object
// on that object's own thread. The result is dropped when the context is gone
// by then or the work was stopped.
#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

class COneShot
{
public:
    struct CState
    {
        std::atomic<int> stop{0};
        std::atomic<bool> done{false};
        std::function<void()> deliver; // set by the worker, run on the context's thread
    };

    COneShot() = default;
    // Starts work(); its result (if any) is delivered by handing it to deliver
    // on the context's thread.
    static COneShot Start(QObject* context, std::function<std::function<void()>()> work);

    bool IsRunning() const { return m_state && !m_state->done.load(); }
    void Stop()
    {
        if (m_state)
            m_state->stop.store(1);
    }

private:
    std::shared_ptr<CState> m_state;
};

// work() runs on the worker; callback(result) (or callback() for void work)
// on the context's thread.
template <typename Work, typename Callback> COneShot RunThenCallback(QObject* context, Work work, Callback callback)
{
    return COneShot::Start(context, [work = std::move(work), callback = std::move(callback)]() mutable {
        if constexpr (std::is_void_v<std::invoke_result_t<Work&>>) {
            work();
            return std::function<void()>(callback);
        } else {
            return std::function<void()>([callback, result = std::make_shared<std::invoke_result_t<Work&>>(
                                                        work())]() mutable { callback(std::move(*result)); });
        }
    });
}
