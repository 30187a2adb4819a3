#pragma once
// The tracking protocol both tracking programs speak (rivuzovara and the
// stand-in rivuzovara-local): which route a request names, what its query
// values mean, and every reply text, in GBK. Free of any HTTP library: the
// servers translate their requests into STrackingRequest and send the
// STrackingReply back. Stateless; any thread.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tracking {

using QueryParams = std::vector<std::pair<std::string, std::string>>;

struct STrackingRequest
{
    std::string path;   // decoded, as sent
    QueryParams params; // decoded names and values, in order
    std::string host;   // the Host header
    std::string referer;
};

struct STrackingReply
{
    int status = 200;
    std::string contentType;
    std::string body;
    bool noStore = false; // Cache-Control: no-store
};

enum class ERoute
{
    None,
    GetWebId,
    SaveImName,
    GetUserState,
    GetInfo,
    Shop,
    WaitInfo,
    Help,
    FeaturedShops,
    Home,
};

// Paths are matched without regard to case, as the original service's were.
ERoute RouteOf(std::string_view path);

// Splits "path?query" and decodes it as cpp-httplib does ("+" is a blank in
// the query); bad percent sequences stay as they are.
void ParseTarget(std::string_view target, std::string& path, QueryParams& params);
std::string PercentDecode(std::string_view text, bool plusIsBlank);

// Query names are matched without regard to case.
std::string RawParam(const QueryParams& params, std::string_view key);
bool HasParam(const QueryParams& params, std::string_view key);
// A whole decimal number (blanks around allowed), nothing else; -1 otherwise.
long long ParseId(std::string_view text);

std::string Trim(std::string_view text);
std::string Lower(std::string_view text);
std::string Cut(const std::string& text, size_t max);

constexpr size_t kMaxIpLength = 64;
constexpr size_t kMaxUrlLength = 4096;
constexpr int kMaxWaitRecords = 100;

// The account side of the store, as the protocol needs it.
class ITrackingAccounts
{
public:
    virtual ~ITrackingAccounts() = default;
    // The web ID when name and password match an account, 0 when they do
    // not, -1 when the store failed.
    virtual long long CheckPassword(const std::string& name, const std::string& password) = 0;
    virtual bool SetImName(const std::string& name, const std::string& imName) = 0;
    virtual bool IsFrozen(const std::string& name) = 0;
};

// The account calls: GetWebID, SaveImName, GetUserState.
STrackingReply AnswerAccountCall(ERoute route, const STrackingRequest& request, ITrackingAccounts& accounts);
// Their answer to a name and password that do not match.
STrackingReply WrongPasswordReply();
// The HTML pages (help, featured shops, home).
STrackingReply AnswerPage(ERoute route, const STrackingRequest& request);

struct SFeedView
{
    long long seq = 0;
    std::string ip;
    std::string url;
    std::string time;
};

// GetInfo: the record of the view, "|##|" alone without one.
STrackingReply GetInfoReply(const std::optional<SFeedView>& view);
// "#" and "|" inside a field would break the feed's grammar.
std::string FeedField(const std::string& text);

// WaitInfo.asp?userID=<web ID>&after=<n>: after is empty (-1 here) or a number.
struct SWaitQuery
{
    long long webId = -1; // -1: not a web ID
    long long after = -1; // -1: empty, answer at once
    bool valid = false;   // after is empty or a whole number
};
SWaitQuery ReadWaitQuery(const STrackingRequest& request);
// "+OK <latest>" then, for each view, CR LF and its record (at most 100).
STrackingReply WaitInfoReply(long long latest, const std::vector<SFeedView>& views);
STrackingReply ErrReply();

// shop.asp: the web ID of id= (-1 when none) and the item address.
struct SShopQuery
{
    long long webId = -1;
    std::string url; // the Referer as UTF-8, cut to kMaxUrlLength
};
SShopQuery ReadShopQuery(const STrackingRequest& request);
// The 1x1 GIF, never cached.
STrackingReply PixelReply();

STrackingReply GbkReply(const std::string& utf8, const char* type = "text/plain");
STrackingReply Utf8Reply(int status, const std::string& utf8, const char* type = "text/plain");
STrackingReply NotFoundReply();

// "YYYY-MM-DD hh:mm:ss" local time of a moment (seconds since the epoch).
std::string TimeText(long long at);
long long NowSeconds();

} // namespace tracking
