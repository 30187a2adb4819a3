#include "TrackingRoutes.h"

#include "Gbk.h"
#include "TrackingPages.h"
#include "TrackingStore.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace {

using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

constexpr size_t kMaxIpLength = 64;
constexpr size_t kMaxUrlLength = 4096;
constexpr int kDefaultPageViewList = 100;

// A 1x1 transparent GIF.
const unsigned char kPixelGif[] = {0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x01, 0x00, 0x01, 0x00, 0x80,
                                   0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x21, 0xF9, 0x04,
                                   0x01, 0x00, 0x00, 0x00, 0x00, 0x2C, 0x00, 0x00, 0x00, 0x00, 0x01,
                                   0x00, 0x01, 0x00, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3B};

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Trim(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// Query names are matched without regard to case, as the original service's pages did.
std::string RawParam(const httplib::Request& req, const std::string& key)
{
    const std::string wanted = Lower(key);
    for (const auto& [name, value] : req.params) {
        if (Lower(name) == wanted)
            return value;
    }
    return {};
}

bool HasParam(const httplib::Request& req, const std::string& key)
{
    const std::string wanted = Lower(key);
    return std::any_of(req.params.begin(), req.params.end(),
                       [&](const auto& entry) { return Lower(entry.first) == wanted; });
}

// Whole decimal number, nothing else; -1 otherwise.
long long ParseId(const std::string& text)
{
    const std::string t = Trim(text);
    if (t.empty() || t.size() > 18 || !std::all_of(t.begin(), t.end(), [](unsigned char c) { return std::isdigit(c); }))
        return -1;
    return std::strtoll(t.c_str(), nullptr, 10);
}

// Values the program sends are GBK; a person's are UTF-8.
std::string ProgramText(const httplib::Request& req, const std::string& key)
{
    return gbk::FromGbk(RawParam(req, key));
}

std::string AdminText(const httplib::Request& req, const std::string& key)
{
    return gbk::FromUtf8OrGbk(RawParam(req, key));
}

void ReplyGbk(httplib::Response& res, const std::string& utf8, const char* type = "text/plain")
{
    res.set_content(gbk::ToGbk(utf8), std::string(type) + "; charset=GBK");
}

void ReplyUtf8(httplib::Response& res, const std::string& utf8, const char* type = "text/plain")
{
    res.set_content(utf8, std::string(type) + "; charset=utf-8");
}

// Separators inside a field would break the feed's grammar.
std::string FeedField(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        if (c == '#')
            out += "%23";
        else if (c == '|')
            out += "%7C";
        else
            out += c;
    }
    return out;
}

std::string Cut(const std::string& text, size_t max)
{
    return text.size() <= max ? text : text.substr(0, max);
}

std::string BaseOf(const httplib::Request& req)
{
    std::string host = req.get_header_value("Host");
    if (host.empty())
        host = "127.0.0.1";
    return "http://" + host;
}

std::string AccountJson(const STrackedAccount& a)
{
    return "{\"name\":\"" + gbk::JsonEscape(a.name) + "\",\"password\":\"" + gbk::JsonEscape(a.password) +
           "\",\"webid\":" + std::to_string(a.webId) + ",\"imName\":\"" + gbk::JsonEscape(a.imName) +
           "\",\"frozen\":" + (a.frozen ? "true" : "false") + ",\"created\":\"" + gbk::JsonEscape(a.created) +
           "\",\"pageViews\":" + std::to_string(a.pageViews) + "}";
}

std::string PageViewJson(const SPageView& v)
{
    return "{\"id\":" + std::to_string(v.id) + ",\"webid\":" + std::to_string(v.webId) + ",\"ip\":\"" +
           gbk::JsonEscape(v.ip) + "\",\"url\":\"" + gbk::JsonEscape(v.url) + "\",\"time\":\"" +
           gbk::JsonEscape(v.time) + "\"}";
}

class CTrackingRoutes
{
public:
    explicit CTrackingRoutes(CTrackingStore& store) : m_store(store) {}

    void Dispatch(const httplib::Request& req, httplib::Response& res)
    {
        const auto it = m_routes.find(Lower(req.path));
        if (it == m_routes.end()) {
            res.status = 404;
            ReplyUtf8(res, "-ERR not found\n");
            return;
        }
        try {
            it->second(req, res);
        } catch (...) {
            res.status = 500;
            ReplyUtf8(res, "-ERR internal error\n");
        }
    }

    void Build()
    {
        Add("/rivuzovara/getwebid.asp", [this](auto& req, auto& res) { GetWebId(req, res); });
        Add("/rivuzovara/saveimname.asp", [this](auto& req, auto& res) { SaveImName(req, res); });
        Add("/rivuzovara/getuserstate.asp", [this](auto& req, auto& res) { GetUserState(req, res); });
        Add("/rivuzovara/getinfo.asp", [this](auto& req, auto& res) { GetInfo(req, res); });
        Add("/rivuzovara/shop.asp", [this](auto& req, auto& res) { Shop(req, res); });
        Add("/rivuzovara/rivuzovara_help.asp",
            [](auto& req, auto& res) { ReplyGbk(res, HelpPageHtml(BaseOf(req)), "text/html"); });
        const Handler ad = [](auto& req, auto& res) { ReplyGbk(res, FeaturedShopsHtml(BaseOf(req)), "text/html"); };
        Add("/ad.asp", ad);
        Add("/rivuzovara/ad.asp", ad);
        const Handler home = [](auto& req, auto& res) { ReplyGbk(res, HomePageHtml(BaseOf(req)), "text/html"); };
        Add("/", home);
        Add("/index.asp", home);

        Add("/admin/ping", [](auto&, auto& res) { ReplyUtf8(res, "+OK rivuzovara-local\n"); });
        Add("/admin/register", [this](auto& req, auto& res) { AdminRegister(req, res); });
        Add("/admin/freeze", [this](auto& req, auto& res) { AdminFreeze(req, res); });
        Add("/admin/pageview", [this](auto& req, auto& res) { AdminPageView(req, res); });
        Add("/admin/clientip", [this](auto& req, auto& res) { AdminClientIp(req, res); });
        Add("/admin/accounts", [this](auto& req, auto& res) { AdminAccounts(req, res); });
        Add("/admin/pageviews", [this](auto& req, auto& res) { AdminPageViews(req, res); });
        Add("/admin/reset",
            [this](auto&, auto& res) { ReplyUtf8(res, m_store.Clear() ? "+OK\n" : "-ERR store failed\n"); });
    }

private:
    void Add(const std::string& path, Handler handler) { m_routes[path] = std::move(handler); }

    // Name and password must match a registered account.
    std::optional<STrackedAccount> Authorised(const httplib::Request& req)
    {
        const std::string name = ProgramText(req, "UserName");
        if (name.empty())
            return std::nullopt;
        // The password arrives as typed, so as the transport escaped it (UTF-8).
        const std::string password = gbk::FromUtf8OrGbk(RawParam(req, "UserPwd"));
        auto account = m_store.Find(name);
        if (!account || account->password != password)
            return std::nullopt;
        return account;
    }

    void GetWebId(const httplib::Request& req, httplib::Response& res)
    {
        const auto account = Authorised(req);
        if (!account) {
            ReplyGbk(res, "-ERR 用户名或防监视密码错误");
            return;
        }
        ReplyGbk(res, "+OK " + std::to_string(account->webId));
    }

    void SaveImName(const httplib::Request& req, httplib::Response& res)
    {
        const auto account = Authorised(req);
        if (!account) {
            ReplyGbk(res, "-ERR 用户名或防监视密码错误");
            return;
        }
        if (!m_store.SetImName(account->name, ProgramText(req, "UserImName"))) {
            ReplyGbk(res, "-ERR 保存失败");
            return;
        }
        ReplyGbk(res, "+OK");
    }

    void GetUserState(const httplib::Request& req, httplib::Response& res)
    {
        const auto account = m_store.Find(ProgramText(req, "UserName"));
        // Only a frozen account is reported; an unknown one is not the owner's fault.
        if (account && account->frozen)
            ReplyGbk(res, "-ERR 账户已被冻结");
        else
            ReplyGbk(res, "+OK");
    }

    void GetInfo(const httplib::Request& req, httplib::Response& res)
    {
        const long long webId = ParseId(RawParam(req, "userID"));
        const auto view = webId > 0 ? m_store.LatestPageView(webId) : std::nullopt;
        if (!view) {
            // An empty record: no usable address.
            ReplyGbk(res, "|##|");
            return;
        }
        ReplyGbk(res, FeedField(view->ip) + "#||#" + FeedField(view->url) + "#||#" + view->time + "#||#|##|");
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

    void Shop(const httplib::Request& req, httplib::Response& res)
    {
        const long long webId = ParseId(RawParam(req, "id"));
        if (webId > 0) {
            std::string url =
                HasParam(req, "url") ? AdminText(req, "url") : gbk::FromUtf8OrGbk(req.get_header_value("Referer"));
            m_store.AddPageView(webId, ClientIp(req), Cut(url, kMaxUrlLength), NowText());
        }
        // The image always loads, whatever the query held.
        res.set_header("Cache-Control", "no-store");
        res.set_content(std::string(reinterpret_cast<const char*>(kPixelGif), sizeof kPixelGif), "image/gif");
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
        const std::string flag = Trim(RawParam(req, "frozen"));
        const bool frozen = !(flag == "0" || Lower(flag) == "false" || Lower(flag) == "no");
        if (!m_store.SetFrozen(AdminText(req, "name"), frozen)) {
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
        if (!m_store.AddPageView(webId, ip, url, NowText())) {
            res.status = 500;
            ReplyUtf8(res, "-ERR store failed\n");
            return;
        }
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
    std::map<std::string, Handler> m_routes;
    std::mutex m_mutex;
    std::string m_clientIp; // admin-set address of the next shoppers
};

} // namespace

void RegisterTrackingRoutes(httplib::Server& server, CTrackingStore& store)
{
    auto routes = std::make_shared<CTrackingRoutes>(store);
    routes->Build();
    server.Get(".*", [routes](const httplib::Request& req, httplib::Response& res) { routes->Dispatch(req, res); });
}
