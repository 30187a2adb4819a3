#pragma once
// The routes of rivuzovara on the shared protocol: account calls, GetInfo,
// the counting image through the writer, WaitInfo through the wait hub,
// health and metrics. Handle is called on a request thread; the reply comes
// through the callback, on any thread, possibly much later (WaitInfo); the
// counting image's on the request's own thread.
#include "ClientLimit.h"
#include "GuessLimit.h"
#include "Metrics.h"
#include "Options.h"
#include "TrackingProtocol.h"
#include "ViewWriter.h"
#include "WaitHub.h"

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/thread_pool.hpp>

#include <atomic>
#include <functional>
#include <string>

namespace rivuzovara {

struct SClient
{
    boost::asio::ip::address peer;
    std::string forwardedFor;
    bool mayReadMetrics = false; // a listen marked ",metrics", or a loopback peer that forwards nobody
};

class CTrackingService
{
public:
    using Reply = std::function<void(tracking::STrackingReply)>;
    // Gives up a held request whose client has left: no reply comes. On the request's thread.
    using GiveUp = std::function<void()>;

    // Before the store opens: it takes the store's hook for other servers' views.
    CTrackingService(const SOptions& options, IViewStore& store);
    ~CTrackingService();

    void Start();
    // Ends the writer (after its last commit) and the password workers.
    void Stop();

    // executor: the request's own, for the WaitInfo timer. Returns, for a
    // request still held when it returns (WaitInfo), what gives it up; else
    // nothing.
    [[nodiscard]] GiveUp Handle(const tracking::STrackingRequest& request, const SClient& client,
                                const boost::asio::any_io_executor& executor, Reply reply);

    SMetrics& Metrics() { return m_metrics; }

private:
    void Route(tracking::ERoute route, const tracking::STrackingRequest& request, const SClient& client,
               const boost::asio::any_io_executor& executor, Reply reply);
    void AccountCall(tracking::ERoute route, const tracking::STrackingRequest& request, const SClient& client,
                     Reply reply);
    void Shop(const tracking::STrackingRequest& request, const SClient& client,
              const boost::asio::any_io_executor& executor, Reply reply);
    void GetInfo(const tracking::STrackingRequest& request, Reply reply);
    GiveUp WaitInfo(const tracking::STrackingRequest& request, const boost::asio::any_io_executor& executor,
                    Reply reply);
    void AnswerWaiter(long long webId, long long after, const Reply& reply);
    tracking::STrackingReply Health();
    tracking::STrackingReply Failure(const std::string& what, const std::string& error);

    const SOptions& m_options;
    IViewStore& m_store;
    SMetrics m_metrics;
    CClientLimit m_limit;
    CGuessLimit m_guesses;
    std::atomic<long long> m_lastGuessLog{-3600}; // when the last refused guess was logged (CGuessLimit::Now)
    CWaitHub m_hub;
    CViewWriter m_writer;
    // Password hashing takes milliseconds on purpose: off the request threads.
    boost::asio::thread_pool m_passwordWorkers{2};
};

} // namespace rivuzovara
