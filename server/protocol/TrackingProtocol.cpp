#include "TrackingProtocol.h"

#include "Gbk.h"
#include "TrackingPages.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <ctime>

namespace tracking {

namespace {

// A 1x1 transparent GIF.
constexpr unsigned char kPixelGif[] = {0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x01, 0x00, 0x01, 0x00, 0x80,
                                       0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x21, 0xF9, 0x04,
                                       0x01, 0x00, 0x00, 0x00, 0x00, 0x2C, 0x00, 0x00, 0x00, 0x00, 0x01,
                                       0x00, 0x01, 0x00, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3B};

struct SRouteName
{
    std::string_view path;
    ERoute route;
};

constexpr std::array kRoutes = {
    SRouteName{"/rivuzovara/getwebid.asp", ERoute::GetWebId},
    SRouteName{"/rivuzovara/saveimname.asp", ERoute::SaveImName},
    SRouteName{"/rivuzovara/getuserstate.asp", ERoute::GetUserState},
    SRouteName{"/rivuzovara/getinfo.asp", ERoute::GetInfo},
    SRouteName{"/rivuzovara/shop.asp", ERoute::Shop},
    SRouteName{"/rivuzovara/waitinfo.asp", ERoute::WaitInfo},
    SRouteName{"/rivuzovara/rivuzovara_help.asp", ERoute::Help},
    SRouteName{"/ad.asp", ERoute::FeaturedShops},
    SRouteName{"/rivuzovara/ad.asp", ERoute::FeaturedShops},
    SRouteName{"/", ERoute::Home},
    SRouteName{"/index.asp", ERoute::Home},
};

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool SameIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

// Values the program sends are GBK; a person's are UTF-8.
std::string ProgramText(const STrackingRequest& request, std::string_view key)
{
    return gbk::FromGbk(RawParam(request.params, key));
}

std::string BaseOf(const STrackingRequest& request)
{
    return "http://" + (request.host.empty() ? std::string("127.0.0.1") : request.host);
}

std::string FeedRecord(const SFeedView& view)
{
    return FeedField(view.ip) + "#||#" + FeedField(view.url) + "#||#" + view.time + "#||#|##|";
}

} // namespace

ERoute RouteOf(std::string_view path)
{
    for (const auto& entry : kRoutes) {
        if (SameIgnoringCase(entry.path, path))
            return entry.route;
    }
    return ERoute::None;
}

std::string PercentDecode(std::string_view text, bool plusIsBlank)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%' && i + 2 < text.size()) {
            const int high = HexValue(text[i + 1]);
            const int low = HexValue(text[i + 2]);
            if (high >= 0 && low >= 0) {
                out += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        out += (plusIsBlank && c == '+') ? ' ' : c;
    }
    return out;
}

void ParseTarget(std::string_view target, std::string& path, QueryParams& params)
{
    params.clear();
    const size_t mark = target.find('?');
    path = PercentDecode(target.substr(0, mark), false);
    if (mark == std::string_view::npos)
        return;
    std::string_view query = target.substr(mark + 1);
    while (!query.empty()) {
        const size_t end = query.find('&');
        const std::string_view pair = query.substr(0, end);
        if (!pair.empty()) {
            const size_t equals = pair.find('=');
            const std::string_view name = pair.substr(0, equals);
            const std::string_view value =
                equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1);
            params.emplace_back(PercentDecode(name, true), PercentDecode(value, true));
        }
        if (end == std::string_view::npos)
            break;
        query.remove_prefix(end + 1);
    }
}

std::string RawParam(const QueryParams& params, std::string_view key)
{
    for (const auto& [name, value] : params) {
        if (SameIgnoringCase(name, key))
            return value;
    }
    return {};
}

bool HasParam(const QueryParams& params, std::string_view key)
{
    return std::any_of(params.begin(), params.end(),
                       [&](const auto& entry) { return SameIgnoringCase(entry.first, key); });
}

long long ParseId(std::string_view text)
{
    const std::string t = Trim(text);
    if (t.empty() || t.size() > 18 || !std::all_of(t.begin(), t.end(), [](unsigned char c) { return std::isdigit(c); }))
        return -1;
    long long value = -1;
    std::from_chars(t.data(), t.data() + t.size(), value);
    return value;
}

std::string Trim(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return std::string(text.substr(first, last - first + 1));
}

std::string Lower(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::string Cut(const std::string& text, size_t max)
{
    return text.size() <= max ? text : text.substr(0, max);
}

STrackingReply GbkReply(const std::string& utf8, const char* type)
{
    return {200, std::string(type) + "; charset=GBK", gbk::ToGbk(utf8), false};
}

STrackingReply Utf8Reply(int status, const std::string& utf8, const char* type)
{
    return {status, std::string(type) + "; charset=utf-8", utf8, false};
}

STrackingReply NotFoundReply()
{
    return Utf8Reply(404, "-ERR not found\n");
}

STrackingReply ErrReply()
{
    return GbkReply("-ERR");
}

STrackingReply AnswerAccountCall(ERoute route, const STrackingRequest& request, ITrackingAccounts& accounts)
{
    const std::string name = ProgramText(request, "UserName");
    if (route == ERoute::GetUserState) {
        // Only a frozen account is reported; an unknown one is not the owner's fault.
        return GbkReply(!name.empty() && accounts.IsFrozen(name) ? "-ERR 账户已被冻结" : "+OK");
    }
    // The password arrives as typed, so as the transport escaped it (UTF-8).
    const std::string password = gbk::FromUtf8OrGbk(RawParam(request.params, "UserPwd"));
    const long long webId = name.empty() ? 0 : accounts.CheckPassword(name, password);
    if (webId < 0)
        return Utf8Reply(500, "-ERR internal error\n");
    if (webId == 0)
        return WrongPasswordReply();
    if (route == ERoute::GetWebId)
        return GbkReply("+OK " + std::to_string(webId));
    if (!accounts.SetImName(name, ProgramText(request, "UserImName")))
        return GbkReply("-ERR 保存失败");
    return GbkReply("+OK");
}

STrackingReply WrongPasswordReply()
{
    return GbkReply("-ERR 用户名或防监视密码错误");
}

STrackingReply AnswerPage(ERoute route, const STrackingRequest& request)
{
    const std::string base = BaseOf(request);
    switch (route) {
    case ERoute::Help:
        return GbkReply(HelpPageHtml(base), "text/html");
    case ERoute::FeaturedShops:
        return GbkReply(FeaturedShopsHtml(base), "text/html");
    case ERoute::Home:
        return GbkReply(HomePageHtml(base), "text/html");
    default:
        return NotFoundReply();
    }
}

std::string FeedField(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
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

STrackingReply GetInfoReply(const std::optional<SFeedView>& view)
{
    // Without a view an empty record: no usable address.
    return GbkReply(view ? FeedRecord(*view) : std::string("|##|"));
}

SWaitQuery ReadWaitQuery(const STrackingRequest& request)
{
    SWaitQuery query;
    query.webId = ParseId(RawParam(request.params, "userID"));
    const std::string after = Trim(RawParam(request.params, "after"));
    query.after = after.empty() ? -1 : ParseId(after);
    query.valid = after.empty() || query.after >= 0;
    return query;
}

STrackingReply WaitInfoReply(long long latest, const std::vector<SFeedView>& views)
{
    std::string text = "+OK " + std::to_string(latest);
    for (const auto& view : views)
        text += "\r\n" + std::to_string(view.seq) + "#||#" + FeedRecord(view);
    return GbkReply(text);
}

SShopQuery ReadShopQuery(const STrackingRequest& request)
{
    SShopQuery query;
    query.webId = ParseId(RawParam(request.params, "id"));
    query.url = Cut(gbk::FromUtf8OrGbk(request.referer), kMaxUrlLength);
    return query;
}

STrackingReply PixelReply()
{
    return {200, "image/gif", std::string(reinterpret_cast<const char*>(kPixelGif), sizeof kPixelGif), true};
}

std::string TimeText(long long at)
{
    const std::time_t moment = static_cast<std::time_t>(at);
    std::tm local{};
    localtime_r(&moment, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

long long NowSeconds()
{
    return static_cast<long long>(std::time(nullptr));
}

} // namespace tracking
