#include "TrackingService.h"

#include "AddressRules.h"
#include "Log.h"
#include "PasswordHash.h"

#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>

#include <atomic>
#include <memory>

namespace rivuzovara {

namespace asio = boost::asio;
using tracking::ERoute;
using tracking::STrackingReply;

namespace {

// The account calls of the protocol on the store, passwords compared with their hashes.
class CStoreAccounts final : public tracking::ITrackingAccounts
{
public:
    CStoreAccounts(IViewStore& store, SMetrics& metrics) : m_store(store), m_metrics(metrics) {}

    long long CheckPassword(const std::string& name, const std::string& password) override
    {
        std::string error;
        const auto account = m_store.FindAccount(name, error);
        if (!error.empty())
            return Failed("reading an account", error);
        // An unknown name takes as long as a known one: the time taken does not tell which names exist.
        static const std::string s_unknownNamesHash = HashPassword("no account has this");
        const bool matches = PasswordMatches(password, account ? account->passwordHash : s_unknownNamesHash);
        wrongPassword = !account || !matches;
        return wrongPassword ? 0 : account->webId;
    }
    bool SetImName(const std::string& name, const std::string& imName) override
    {
        std::string error;
        const EChange change = m_store.SetImName(name, imName, error);
        if (change == EChange::Failed)
            Failed("saving an IM name", error);
        return change == EChange::Done;
    }
    bool IsFrozen(const std::string& name) override
    {
        std::string error;
        const auto account = m_store.FindAccount(name, error);
        if (!error.empty())
            Failed("reading an account", error);
        return account && account->frozen;
    }

    bool wrongPassword = false; // the last check found no such name and password

private:
    long long Failed(const std::string& what, const std::string& error)
    {
        ++m_metrics.errors;
        LogError(what + " failed: " + error);
        return -1;
    }

    IViewStore& m_store;
    SMetrics& m_metrics;
};

// One text per second is enough; localtime_r is not free.
std::string TimeTextCached(long long now)
{
    thread_local long long t_second = -1;
    thread_local std::string t_text;
    if (now != t_second) {
        t_text = tracking::TimeText(now);
        t_second = now;
    }
    return t_text;
}

struct SWaiting
{
    explicit SWaiting(const asio::any_io_executor& executor) : timer(executor) {}
    asio::steady_timer timer;
    std::atomic<bool> answered{false};
    std::uint64_t ticket = 0;
};

} // namespace

CTrackingService::CTrackingService(const SOptions& options, IViewStore& store)
    : m_options(options), m_store(store), m_limit(options.perClientLimit), m_hub(store),
      m_writer(
          store, m_metrics, [this](long long webId, long long seq) { m_hub.Recorded(webId, seq); }, options.keepDays)
{
    m_store.SetForeignViewsHook([this](long long webId, long long seq) { m_hub.Recorded(webId, seq); });
}

CTrackingService::~CTrackingService()
{
    Stop();
}

void CTrackingService::Start()
{
    m_writer.Start();
}

void CTrackingService::Stop()
{
    m_writer.Stop();
    m_passwordWorkers.join();
}

CTrackingService::GiveUp CTrackingService::Handle(const tracking::STrackingRequest& request, const SClient& client,
                                                  const asio::any_io_executor& executor, Reply reply)
{
    const ERoute route = tracking::RouteOf(request.path);
    if (route == ERoute::WaitInfo)
        return WaitInfo(request, executor, std::move(reply));
    Route(route, request, client, executor, std::move(reply));
    return {};
}

void CTrackingService::Route(ERoute route, const tracking::STrackingRequest& request, const SClient& client,
                             const asio::any_io_executor& executor, Reply reply)
{
    if (request.path == "/healthz" || request.path == "/metrics") {
        if (!client.mayReadMetrics)
            return reply(tracking::NotFoundReply());
        if (request.path == "/healthz")
            return reply(Health());
        return reply(tracking::Utf8Reply(200, m_metrics.Text(), "text/plain; version=0.0.4"));
    }
    switch (route) {
    case ERoute::GetWebId:
    case ERoute::SaveImName:
        return AccountCall(route, request, client, std::move(reply));
    case ERoute::GetUserState: {
        CStoreAccounts accounts(m_store, m_metrics);
        return reply(tracking::AnswerAccountCall(route, request, accounts));
    }
    case ERoute::GetInfo:
        return GetInfo(request, std::move(reply));
    case ERoute::Shop:
        return Shop(request, client, executor, std::move(reply));
    case ERoute::None:
        return reply(tracking::NotFoundReply());
    default:
        return reply(tracking::AnswerPage(route, request));
    }
}

void CTrackingService::AccountCall(ERoute route, const tracking::STrackingRequest& request, const SClient& client,
                                   Reply reply)
{
    std::string address = ClientAddress(client.peer, client.forwardedFor, m_options.trustedProxies);
    // The password's hash is slow on purpose: a client guessing fast is answered as wrong, unchecked.
    if (!m_guesses.Admit(address)) {
        ++m_metrics.guessesRefused;
        long long last = m_lastGuessLog.load();
        const long long now = CGuessLimit::Now();
        if (now - last >= 60 && m_lastGuessLog.compare_exchange_strong(last, now))
            LogWarning(std::to_string(CGuessLimit::kWrongPerMinute) + " wrong passwords within a minute from " +
                       (m_options.anonymiseIp ? AnonymisedAddress(address) : address) +
                       ": its account calls are answered as wrong without a check for now (" +
                       std::to_string(m_metrics.guessesRefused) + " refused so far)");
        return reply(tracking::WrongPasswordReply());
    }
    asio::post(m_passwordWorkers, [this, route, request, address = std::move(address), reply = std::move(reply)] {
        CStoreAccounts accounts(m_store, m_metrics);
        STrackingReply answer = tracking::AnswerAccountCall(route, request, accounts);
        m_guesses.Checked(address, accounts.wrongPassword);
        reply(std::move(answer));
    });
}

void CTrackingService::Shop(const tracking::STrackingRequest& request, const SClient& client,
                            const asio::any_io_executor& executor, Reply reply)
{
    const tracking::SShopQuery query = tracking::ReadShopQuery(request);
    // The image always loads, whatever the query held.
    if (query.webId <= 0)
        return reply(tracking::PixelReply());
    const std::string address = ClientAddress(client.peer, client.forwardedFor, m_options.trustedProxies);
    const long long now = tracking::NowSeconds();
    if (!m_limit.Allow(address, query.webId, now)) {
        ++m_metrics.viewsOverLimit;
        return reply(tracking::PixelReply());
    }
    SNewView view;
    view.webId = query.webId;
    view.ip = tracking::Cut(m_options.anonymiseIp ? AnonymisedAddress(address) : address, tracking::kMaxIpLength);
    view.url = query.url;
    view.time = TimeTextCached(now);
    view.at = now;
    // Answered only once stored: a GIF sent is a view kept.
    m_writer.Submit(std::move(view), executor, [reply = std::move(reply)](long long seq) {
        reply(seq < 0 ? tracking::Utf8Reply(503, "-ERR store failed\n") : tracking::PixelReply());
    });
}

void CTrackingService::GetInfo(const tracking::STrackingRequest& request, Reply reply)
{
    const long long webId = tracking::ParseId(tracking::RawParam(request.params, "userID"));
    if (webId <= 0)
        return reply(tracking::GetInfoReply(std::nullopt));
    std::string error;
    const auto view = m_store.LatestView(webId, error);
    if (!error.empty())
        return reply(Failure("reading the latest page view", error));
    if (!view)
        return reply(tracking::GetInfoReply(std::nullopt));
    reply(tracking::GetInfoReply(tracking::SFeedView{view->seq, view->ip, view->url, view->time}));
}

CTrackingService::GiveUp CTrackingService::WaitInfo(const tracking::STrackingRequest& request,
                                                    const asio::any_io_executor& executor, Reply reply)
{
    // Answered at once: nothing to give up.
    const auto answer = [&reply](STrackingReply now) {
        reply(std::move(now));
        return GiveUp();
    };
    const tracking::SWaitQuery query = tracking::ReadWaitQuery(request);
    if (query.webId <= 0 || !query.valid)
        return answer(tracking::ErrReply());
    std::string error;
    const auto latest = m_hub.Latest(query.webId, error);
    if (!error.empty())
        return answer(Failure("reading the latest view number", error));
    if (!latest)
        return answer(tracking::ErrReply());
    if (query.after < 0)
        return answer(tracking::WaitInfoReply(*latest, {}));
    if (*latest > query.after) {
        AnswerWaiter(query.webId, query.after, reply);
        return {};
    }

    auto waiting = std::make_shared<SWaiting>(executor);
    ++m_metrics.waiters;
    const long long webId = query.webId;
    const long long after = query.after;
    waiting->ticket = m_hub.Add(webId, after, [this, waiting, webId, after, reply](long long) {
        if (waiting->answered.exchange(true))
            return;
        --m_metrics.waiters;
        // Back on the request's thread, where its timer lives.
        asio::post(waiting->timer.get_executor(), [this, waiting, webId, after, reply] {
            waiting->timer.cancel();
            AnswerWaiter(webId, after, reply);
        });
    });
    waiting->timer.expires_after(std::chrono::seconds(m_options.waitSeconds));
    waiting->timer.async_wait([this, waiting, webId, after, reply](const boost::system::error_code& ec) {
        if (ec || waiting->answered.exchange(true))
            return;
        --m_metrics.waiters;
        m_hub.Drop(webId, waiting->ticket);
        reply(tracking::WaitInfoReply(after, {}));
    });
    return [this, weak = std::weak_ptr<SWaiting>(waiting), webId] {
        const auto left = weak.lock();
        if (!left || left->answered.exchange(true))
            return;
        --m_metrics.waiters;
        m_hub.Drop(webId, left->ticket);
        left->timer.cancel();
    };
}

void CTrackingService::AnswerWaiter(long long webId, long long after, const Reply& reply)
{
    std::vector<SStoredView> stored;
    std::string error;
    if (!m_store.ViewsAbove(webId, after, tracking::kMaxWaitRecords, stored, error))
        return reply(Failure("reading page views", error));
    std::vector<tracking::SFeedView> views;
    views.reserve(stored.size());
    for (auto& view : stored)
        views.push_back({view.seq, std::move(view.ip), std::move(view.url), std::move(view.time)});
    // The number of the last record sent, so a client asking after it misses nothing beyond the 100.
    long long latest = views.empty() ? after : views.back().seq;
    if (views.empty()) {
        // Deleted meanwhile (retention): move the client on to the latest number.
        latest = m_hub.Latest(webId, error).value_or(after);
    }
    reply(tracking::WaitInfoReply(latest, views));
}

STrackingReply CTrackingService::Health()
{
    std::string error;
    if (!m_store.Ping(error))
        return Failure("the health check", error);
    return tracking::Utf8Reply(200, "+OK\n");
}

STrackingReply CTrackingService::Failure(const std::string& what, const std::string& error)
{
    ++m_metrics.errors;
    LogError(what + " failed: " + error);
    return tracking::Utf8Reply(503, "-ERR store failed\n");
}

} // namespace rivuzovara
