#include "TrackingRoutes.h"

#include "AdminAccess.h"

#include "Gbk.h"
#include "TrackingProtocol.h"
#include "TrackingStore.h"
#include "ViewSignal.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace {

using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;
using tracking::Cut;
using tracking::kMaxIpLength;
using tracking::kMaxUrlLength;
using tracking::Lower;
using tracking::ParseId;
using tracking::Trim;

constexpr int kDefaultPageViewList = 100;

std::string RawParam(const httplib::Request& req, const std::string& key)
{
    for (const auto& [name, value] : req.params) {
        if (Lower(name) == Lower(key))
            return value;
    }
    return {};
}

bool HasParam(const httplib::Request& req, const std::string& key)
{
    return std::any_of(req.params.begin(), req.params.end(),
                       [&](const auto& entry) { return Lower(entry.first) == Lower(key); });
}

std::string AdminText(const httplib::Request& req, const std::string& key)
{
    return gbk::FromUtf8OrGbk(RawParam(req, key));
}

void Send(httplib::Response& res, const tracking::STrackingReply& reply)
{
    res.status = reply.status;
    if (reply.noStore)
        res.set_header("Cache-Control", "no-store");
    res.set_content(reply.body, reply.contentType);
}

void ReplyUtf8(httplib::Response& res, const std::string& utf8, const char* type = "text/plain")
{
    res.set_content(utf8, std::string(type) + "; charset=utf-8");
}

std::string AccountJson(const STrackedAccount& a)
{
    // Never the password: whoever lists the accounts need not learn it.
    return "{\"name\":\"" + gbk::JsonEscape(a.name) + "\",\"webid\":" + std::to_string(a.webId) + ",\"imName\":\"" +
           gbk::JsonEscape(a.imName) + "\",\"frozen\":" + (a.frozen ? "true" : "false") + ",\"created\":\"" +
           gbk::JsonEscape(a.created) + "\",\"pageViews\":" + std::to_string(a.pageViews) + "}";
}

std::string PageViewJson(const SPageView& v)
{
    return "{\"id\":" + std::to_string(v.id) + ",\"webid\":" + std::to_string(v.webId) +
           ",\"seq\":" + std::to_string(v.seq) + ",\"ip\":\"" + gbk::JsonEscape(v.ip) + "\",\"url\":\"" +
           gbk::JsonEscape(v.url) + "\",\"time\":\"" + gbk::JsonEscape(v.time) + "\"}";
}

// The account calls of the shared protocol on the stand-in's store, which
// keeps passwords as registered (tests read them back).
class CStoreAccounts : public tracking::ITrackingAccounts
{
public:
    explicit CStoreAccounts(CTrackingStore& store) : m_store(store) {}
    long long CheckPassword(const std::string& name, const std::string& password) override
    {
        const auto account = m_store.Find(name);
        return account && account->password == password ? account->webId : 0;
    }
    bool SetImName(const std::string& name, const std::string& imName) override
    {
        return m_store.SetImName(name, imName);
    }
    bool IsFrozen(const std::string& name) override
    {
        const auto account = m_store.Find(name);
        return account && account->frozen;
    }

private:
    CTrackingStore& m_store;
};

class CTrackingRoutes
{
public:
    CTrackingRoutes(CTrackingStore& store, std::string adminToken, int waitSeconds)
        : m_store(store), m_accounts(store), m_adminToken(std::move(adminToken)), m_waitSeconds(waitSeconds)
    {
    }

    void StopWaiters() { m_recorded.Stop(); }

    void Dispatch(const httplib::Request& req, httplib::Response& res)
    {
        try {
            tracking::STrackingRequest request;
            request.path = req.path;
            request.params.assign(req.params.begin(), req.params.end());
            request.host = req.get_header_value("Host");
            request.referer = req.get_header_value("Referer");
            const tracking::ERoute route = tracking::RouteOf(req.path);
            if (route != tracking::ERoute::None && req.method == "GET") {
                Send(res, Answer(route, request, req));
                return;
            }
            const auto it = m_admin.find(Lower(req.path));
            if (it == m_admin.end()) {
                Send(res, tracking::NotFoundReply());
                return;
            }
            if (AdminRequestAllowed(req, res, m_adminToken))
                it->second(req, res);
        } catch (...) {
            res.status = 500;
            ReplyUtf8(res, "-ERR internal error\n");
        }
    }

    void Build()
    {
        Add("/admin/ping", [](auto&, auto& res) { ReplyUtf8(res, "+OK rivuzovara-local\n"); });
        Add("/admin/register", [this](auto& req, auto& res) { AdminRegister(req, res); });
        Add("/admin/freeze", [this](auto& req, auto& res) { AdminFreeze(req, res); });
        Add("/admin/pageview", [this](auto& req, auto& res) { AdminPageView(req, res); });
        Add("/admin/clientip", [this](auto& req, auto& res) { AdminClientIp(req, res); });
        Add("/admin/accounts", [this](auto& req, auto& res) { AdminAccounts(req, res); });
        Add("/admin/pageviews", [this](auto& req, auto& res) { AdminPageViews(req, res); });
        Add("/admin/waitinfo", [this](auto& req, auto& res) {
            m_waitInfoOn = !IsOff(RawParam(req, "enabled"));
            ReplyUtf8(res, "+OK\n");
        });
        Add("/admin/reset", [this](auto&, auto& res) {
            m_waitInfoOn = true;
            ReplyUtf8(res, m_store.Clear() ? "+OK\n" : "-ERR store failed\n");
        });
    }

private:
    void Add(const std::string& path, Handler handler) { m_admin[path] = std::move(handler); }

    tracking::STrackingReply Answer(tracking::ERoute route, const tracking::STrackingRequest& request,
                                    const httplib::Request& req)
    {
        switch (route) {
        case tracking::ERoute::GetWebId:
        case tracking::ERoute::SaveImName:
        case tracking::ERoute::GetUserState:
            return tracking::AnswerAccountCall(route, request, m_accounts);
        case tracking::ERoute::GetInfo: {
            const long long webId = ParseId(tracking::RawParam(request.params, "userID"));
            const auto view = webId > 0 ? m_store.LatestPageView(webId) : std::nullopt;
            if (!view)
                return tracking::GetInfoReply(std::nullopt);
            return tracking::GetInfoReply(tracking::SFeedView{view->id, view->ip, view->url, view->time});
        }
        case tracking::ERoute::Shop:
            return Shop(request, req);
        case tracking::ERoute::WaitInfo:
            return m_waitInfoOn ? WaitInfo(request) : tracking::NotFoundReply();
        default:
            return tracking::AnswerPage(route, request);
        }
    }

    // Unlike the real service, the stand-in believes ip=, the admin-set
    // address and X-Forwarded-For: tests and the demo play many shoppers
    // from one machine.
    static bool IsOff(const std::string& value)
    {
        const std::string flag = Lower(Trim(value));
        return flag == "0" || flag == "false" || flag == "no";
    }

    tracking::STrackingReply StoreFailed(const char* what)
    {
        std::fprintf(stderr, "rivuzovara-local: %s failed\n", what);
        return tracking::Utf8Reply(500, "-ERR store failed\n");
    }

    // Holds the connection's thread until a view above after, the wait's end or the stop.
    tracking::STrackingReply WaitInfo(const tracking::STrackingRequest& request)
    {
        const tracking::SWaitQuery query = tracking::ReadWaitQuery(request);
        if (query.webId <= 0 || !query.valid)
            return tracking::ErrReply();
        const auto deadline = CViewSignal::Clock::now() + std::chrono::seconds(m_waitSeconds);
        for (;;) {
            const std::uint64_t generation = m_recorded.Generation();
            bool failed = false;
            const auto latest = m_store.LatestSeq(query.webId, failed);
            if (failed)
                return StoreFailed("reading the latest view number");
            if (!latest)
                return tracking::ErrReply();
            if (query.after < 0)
                return tracking::WaitInfoReply(*latest, {});
            if (*latest > query.after)
                break;
            if (!m_recorded.WaitAfter(generation, deadline))
                return tracking::WaitInfoReply(query.after, {});
        }
        const auto stored = m_store.ViewsAbove(query.webId, query.after, tracking::kMaxWaitRecords);
        if (!stored)
            return StoreFailed("reading page views");
        std::vector<tracking::SFeedView> views;
        for (const auto& view : *stored)
            views.push_back({view.seq, view.ip, view.url, view.time});
        return tracking::WaitInfoReply(views.empty() ? query.after : views.back().seq, views);
    }

    std::string ClientIp(const httplib::Request& req)
    {
        std::string ip = Trim(AdminText(req, "ip"));
        if (ip.empty()) {
            const std::string forwarded = req.get_header_value("X-Forwarded-For");
            ip = Trim(forwarded.substr(0, forwarded.find(',')));
        }
        if (ip.empty()) {
            std::lock_guard lock(m_mutex);
            ip = m_clientIp;
        }
        if (ip.empty()) {
            ip = req.remote_addr;
            // Bound to "::", IPv4 shoppers arrive as IPv4-mapped IPv6 addresses.
            if (ip.rfind("::ffff:", 0) == 0 && ip.find('.') != std::string::npos)
                ip = ip.substr(7);
        }
        return Cut(gbk::FromUtf8OrGbk(ip), kMaxIpLength);
    }

    tracking::STrackingReply Shop(const tracking::STrackingRequest& request, const httplib::Request& req)
    {
        tracking::SShopQuery query = tracking::ReadShopQuery(request);
        if (query.webId > 0) {
            if (HasParam(req, "url"))
                query.url = Cut(AdminText(req, "url"), kMaxUrlLength);
            if (m_store.AddPageView(query.webId, ClientIp(req), query.url, NowText()) > 0)
                m_recorded.Recorded();
            else
                std::fprintf(stderr, "rivuzovara-local: recording a page view failed\n");
        }
        // The image always loads, whatever the query held.
        return tracking::PixelReply();
    }

    void AdminRegister(const httplib::Request& req, httplib::Response& res)
    {
        const std::string name = AdminText(req, "name");
        if (name.empty()) {
            res.status = 400;
            ReplyUtf8(res, "-ERR name is required\n");
            return;
        }
        const long long webId = m_store.Register(name, AdminText(req, "pwd"), ParseId(RawParam(req, "webid")));
        if (webId < 0) {
            res.status = 500;
            ReplyUtf8(res, "-ERR store failed\n");
            return;
        }
        ReplyUtf8(res, "+OK " + std::to_string(webId) + "\n");
    }

    void AdminFreeze(const httplib::Request& req, httplib::Response& res)
    {
        if (!m_store.SetFrozen(AdminText(req, "name"), !IsOff(RawParam(req, "frozen")))) {
            res.status = 404;
            ReplyUtf8(res, "-ERR no such account\n");
            return;
        }
        ReplyUtf8(res, "+OK\n");
    }

    void AdminPageView(const httplib::Request& req, httplib::Response& res)
    {
        long long webId = ParseId(RawParam(req, "webid"));
        if (webId <= 0 && HasParam(req, "name")) {
            if (const auto account = m_store.Find(AdminText(req, "name")))
                webId = account->webId;
        }
        if (webId <= 0) {
            res.status = 400;
            ReplyUtf8(res, "-ERR webid or a registered name is required\n");
            return;
        }
        const std::string ip = Cut(Trim(AdminText(req, "ip")), kMaxIpLength);
        const std::string url = Cut(AdminText(req, "url"), kMaxUrlLength);
        if (m_store.AddPageView(webId, ip, url, NowText()) <= 0) {
            res.status = 500;
            ReplyUtf8(res, "-ERR store failed\n");
            return;
        }
        m_recorded.Recorded();
        ReplyUtf8(res, "+OK " + std::to_string(webId) + "\n");
    }

    void AdminClientIp(const httplib::Request& req, httplib::Response& res)
    {
        std::lock_guard lock(m_mutex);
        m_clientIp = Cut(Trim(AdminText(req, "ip")), kMaxIpLength);
        ReplyUtf8(res, "+OK " + m_clientIp + "\n");
    }

    void AdminAccounts(const httplib::Request&, httplib::Response& res)
    {
        std::string json = "[";
        for (const auto& account : m_store.Accounts())
            json += (json.size() > 1 ? ",\n" : "\n") + AccountJson(account);
        json += "\n]\n";
        ReplyUtf8(res, json, "application/json");
    }

    void AdminPageViews(const httplib::Request& req, httplib::Response& res)
    {
        long long limit = ParseId(RawParam(req, "limit"));
        if (limit <= 0 || limit > 100000)
            limit = kDefaultPageViewList;
        std::string json = "[";
        for (const auto& view : m_store.PageViews(ParseId(RawParam(req, "webid")), static_cast<int>(limit)))
            json += (json.size() > 1 ? ",\n" : "\n") + PageViewJson(view);
        json += "\n]\n";
        ReplyUtf8(res, json, "application/json");
    }

    CTrackingStore& m_store;
    CStoreAccounts m_accounts;
    std::map<std::string, Handler> m_admin;
    const std::string m_adminToken;
    const int m_waitSeconds;
    CViewSignal m_recorded;
    std::atomic<bool> m_waitInfoOn{true}; // off: WaitInfo answers 404, as a service without it
    std::mutex m_mutex;
    std::string m_clientIp; // admin-set address of the next shoppers
};

} // namespace

std::function<void()> RegisterTrackingRoutes(httplib::Server& server, CTrackingStore& store,
                                             const std::string& adminToken, int waitSeconds)
{
    auto routes = std::make_shared<CTrackingRoutes>(store, adminToken, waitSeconds);
    routes->Build();
    const auto dispatch = [routes](const httplib::Request& req, httplib::Response& res) { routes->Dispatch(req, res); };
    server.Get(".*", dispatch);
    server.Post(".*", dispatch);
    return [routes] { routes->StopWaiters(); };
}
