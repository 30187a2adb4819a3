#include "ImRoutes.h"

#include "AdminAccess.h"

#include "Gbk.h"

#include <httplib.h>
#include <sqlite3.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Pages of the IM web side are GBK, like the real service. State is one
// SQLite file guarded by one mutex (the server answers on a thread pool).

namespace {

constexpr size_t kMaxRepeatedName = 1 << 20;
constexpr int kProfileEntries = 30;
constexpr const char* kDefaultHost = "127.0.0.1:8781";

// ---- text ---------------------------------------------------------------

// A name from a request path: the program sends GBK, a browser UTF-8.
std::vector<std::string> NameCandidates(const std::string& raw)
{
    std::vector<std::string> names;
    std::string utf8;
    if (gbk::Convert("UTF-8", "GBK", raw, utf8, true))
        names.push_back(utf8);
    if (gbk::IsValidUtf8(raw) && (names.empty() || names.front() != raw))
        names.push_back(raw);
    return names;
}

// Percent-encodes what would end or confuse an attribute value or a path
// segment; everything else (GBK bytes included) stands as it is.
std::string PathEscape(const std::string& bytes, bool escapeDot)
{
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (char ch : bytes) {
        const unsigned char c = static_cast<unsigned char>(ch);
        const bool reserved = c < 0x21 || c == 0x7F || c == '"' || c == '%' || c == '&' || c == '\'' || c == '<' ||
                              c == '>' || c == '#' || c == '?' || c == '/' || c == '\\' || (escapeDot && c == '.');
        if (reserved) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += ch;
        }
    }
    return out;
}

// The ids of a presence query: comma separated, the list ends with a comma.
std::vector<std::string> SplitUids(const std::string& uids)
{
    std::vector<std::string> ids;
    std::string current;
    for (char c : uids) {
        if (c == ',') {
            ids.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty())
        ids.push_back(current);
    return ids;
}

// A small square image of a colour taken from the key (24-bit BMP).
std::string PortraitImage(const std::string& key)
{
    constexpr int kSide = 48;
    uint32_t hash = 2166136261u;
    for (char c : key)
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    const unsigned char blue = 0x60 + (hash & 0x7F);
    const unsigned char green = 0x60 + ((hash >> 8) & 0x7F);
    const unsigned char red = 0x60 + ((hash >> 16) & 0x7F);
    const uint32_t rowBytes = kSide * 3; // 144, already a multiple of 4
    const uint32_t pixelBytes = rowBytes * kSide;
    const uint32_t fileSize = 54 + pixelBytes;
    std::string bmp;
    auto put16 = [&bmp](uint32_t v) {
        bmp += static_cast<char>(v & 0xFF);
        bmp += static_cast<char>((v >> 8) & 0xFF);
    };
    auto put32 = [&put16](uint32_t v) {
        put16(v & 0xFFFF);
        put16(v >> 16);
    };
    bmp += "BM";
    put32(fileSize);
    put32(0);
    put32(54);
    put32(40);
    put32(kSide);
    put32(kSide);
    put16(1);
    put16(24);
    put32(0);
    put32(pixelBytes);
    put32(2835);
    put32(2835);
    put32(0);
    put32(0);
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            // A lighter disc for a face on the coloured ground.
            const int dx = x - kSide / 2, dy = y - kSide / 2 + 4;
            const bool face = dx * dx + dy * dy < 12 * 12;
            bmp += static_cast<char>(face ? 0xF0 : blue);
            bmp += static_cast<char>(face ? 0xF0 : green);
            bmp += static_cast<char>(face ? 0xF0 : red);
        }
    }
    return bmp;
}

void SendPage(httplib::Response& res, const std::string& utf8Html)
{
    res.set_content(gbk::ToGbk(utf8Html), "text/html; charset=GBK");
}

void SendText(httplib::Response& res, const std::string& utf8Text)
{
    res.set_content(gbk::ToGbk(utf8Text), "text/plain; charset=GBK");
}

std::string HostBase(const httplib::Request& req)
{
    std::string host = req.get_header_value("Host");
    // Only what an authority may hold, so the page never carries markup from a header.
    for (char c : host) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                        c == '-' || c == ':' || c == '[' || c == ']';
        if (!ok) {
            host.clear();
            break;
        }
    }
    if (host.empty())
        host = kDefaultHost;
    return "http://" + host;
}

std::string Param(const httplib::Request& req, const char* key)
{
    return req.has_param(key) ? req.get_param_value(key) : std::string();
}

// ---- state --------------------------------------------------------------

class CImState
{
public:
    explicit CImState(const std::string& path)
    {
        if (sqlite3_open(path.c_str(), &m_db) != SQLITE_OK) {
            std::fprintf(stderr, "rivuzovara-local: cannot open %s: %s\n", path.c_str(), sqlite3_errmsg(m_db));
            sqlite3_close(m_db);
            m_db = nullptr;
            return;
        }
        sqlite3_busy_timeout(m_db, 5000);
        Exec("create table if not exists visitors (id integer primary key autoincrement, imname text not null, "
             "name text not null, imid text not null default '', ext text not null default 'jpg')");
        // Older stores get the column; the statement fails harmlessly where it exists.
        Exec("alter table visitors add column raw integer not null default 0");
        Exec("create table if not exists presence (imid text primary key, state text not null)");
        Exec("create table if not exists items (n integer primary key, title text not null)");
    }
    ~CImState()
    {
        if (m_db)
            sqlite3_close(m_db);
    }
    CImState(const CImState&) = delete;
    CImState& operator=(const CImState&) = delete;

    bool IsOpen() const { return m_db != nullptr; }

    struct Visitor
    {
        std::string name, imid, ext;
        bool raw = false;
    };

    // Newest first.
    std::vector<Visitor> Visitors(const std::string& imName, int limit)
    {
        std::lock_guard lock(m_mutex);
        std::vector<Visitor> list;
        sqlite3_stmt* stmt =
            Prepare("select name, imid, ext, raw from visitors where imname = ? order by id desc limit ?");
        if (!stmt)
            return list;
        Bind(stmt, 1, imName);
        sqlite3_bind_int(stmt, 2, limit);
        while (sqlite3_step(stmt) == SQLITE_ROW)
            list.push_back({Column(stmt, 0), Column(stmt, 1), Column(stmt, 2), sqlite3_column_int(stmt, 3) != 0});
        sqlite3_finalize(stmt);
        return list;
    }

    bool HasAccount(const std::string& imName)
    {
        std::lock_guard lock(m_mutex);
        sqlite3_stmt* stmt = Prepare("select 1 from visitors where imname = ? limit 1");
        if (!stmt)
            return false;
        Bind(stmt, 1, imName);
        const bool found = sqlite3_step(stmt) == SQLITE_ROW;
        sqlite3_finalize(stmt);
        return found;
    }

    // A visitor seen again moves to the top of the account's list.
    bool AddVisitor(const std::string& imName, const std::string& name, const std::string& imid, const std::string& ext,
                    bool raw)
    {
        std::lock_guard lock(m_mutex);
        return Run("delete from visitors where imname = ? and name = ?", {imName, name}) &&
               Run("insert into visitors (imname, name, imid, ext, raw) values (?, ?, ?, ?, ?)",
                   {imName, name, imid, ext, raw ? "1" : "0"});
    }

    // The IM ID of the most recent visitor of that name, any account.
    std::string ImIdOf(const std::string& name)
    {
        std::lock_guard lock(m_mutex);
        std::string imid;
        sqlite3_stmt* stmt = Prepare("select imid from visitors where name = ? order by id desc limit 1");
        if (!stmt)
            return imid;
        Bind(stmt, 1, name);
        if (sqlite3_step(stmt) == SQLITE_ROW)
            imid = Column(stmt, 0);
        sqlite3_finalize(stmt);
        return imid;
    }

    bool SetPresence(const std::string& imid, const std::string& state)
    {
        std::lock_guard lock(m_mutex);
        return Run("insert or replace into presence (imid, state) values (?, ?)", {imid, state});
    }

    std::string Presence(const std::string& imid)
    {
        std::lock_guard lock(m_mutex);
        std::string state = "0";
        sqlite3_stmt* stmt = Prepare("select state from presence where imid = ?");
        if (!stmt)
            return state;
        Bind(stmt, 1, imid);
        if (sqlite3_step(stmt) == SQLITE_ROW)
            state = Column(stmt, 0);
        sqlite3_finalize(stmt);
        return state;
    }

    bool SetItemTitle(long long n, const std::string& title)
    {
        std::lock_guard lock(m_mutex);
        sqlite3_stmt* stmt = Prepare("insert or replace into items (n, title) values (?, ?)");
        if (!stmt)
            return false;
        sqlite3_bind_int64(stmt, 1, n);
        Bind(stmt, 2, title);
        const bool ok = sqlite3_step(stmt) == SQLITE_DONE;
        sqlite3_finalize(stmt);
        return ok;
    }

    bool ItemTitle(long long n, std::string& title)
    {
        std::lock_guard lock(m_mutex);
        sqlite3_stmt* stmt = Prepare("select title from items where n = ?");
        if (!stmt)
            return false;
        sqlite3_bind_int64(stmt, 1, n);
        const bool found = sqlite3_step(stmt) == SQLITE_ROW;
        if (found)
            title = Column(stmt, 0);
        sqlite3_finalize(stmt);
        return found;
    }

    bool Clear(const std::string& imName)
    {
        std::lock_guard lock(m_mutex);
        if (!imName.empty())
            return Run("delete from visitors where imname = ?", {imName});
        return Run("delete from visitors", {}) && Run("delete from presence", {}) && Run("delete from items", {});
    }

private:
    void Exec(const char* sql)
    {
        if (m_db)
            sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
    }
    sqlite3_stmt* Prepare(const char* sql)
    {
        sqlite3_stmt* stmt = nullptr;
        if (!m_db || sqlite3_prepare_v2(m_db, sql, -1, &stmt, nullptr) != SQLITE_OK)
            return nullptr;
        return stmt;
    }
    static void Bind(sqlite3_stmt* stmt, int index, const std::string& value)
    {
        sqlite3_bind_text(stmt, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
    }
    static std::string Column(sqlite3_stmt* stmt, int index)
    {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, index));
        return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(stmt, index))) : std::string();
    }
    bool Run(const char* sql, const std::vector<std::string>& values)
    {
        sqlite3_stmt* stmt = Prepare(sql);
        if (!stmt)
            return false;
        for (size_t i = 0; i < values.size(); ++i)
            Bind(stmt, static_cast<int>(i + 1), values[i]);
        const bool ok = sqlite3_step(stmt) == SQLITE_DONE;
        sqlite3_finalize(stmt);
        return ok;
    }

    sqlite3* m_db = nullptr;
    std::mutex m_mutex;
};

// ---- pages --------------------------------------------------------------

std::string PageHead(const std::string& title)
{
    return "<!DOCTYPE html>\r\n<html>\r\n<head>\r\n<meta http-equiv=\"Content-Type\" content=\"text/html; "
           "charset=gbk\">\r\n<title>" +
           gbk::HtmlEscape(title) + "</title>\r\n</head>\r\n<body>\r\n";
}

// The visitor block the program reads: per visitor a cell whose link starts
// right after the cell tag, then the portrait below the portrait base.
std::string ProfilePage(const std::string& imName, const std::vector<CImState::Visitor>& visitors,
                        const std::string& portraitBase)
{
    std::string html = PageHead(imName + "的空间");
    html += "<div id=\"visitors\" class=\"mod\">\r\n<h3>最近访客</h3>\r\n<table class=\"visitor-list\">\r\n<tr>\r\n";
    int column = 0;
    for (const CImState::Visitor& v : visitors) {
        // Still UTF-8 here: the whole page becomes GBK when it is sent.
        const std::string href = v.raw ? v.name : PathEscape(v.name, false);
        const std::string id = PathEscape(v.imid, true);
        const std::string ext = v.ext.empty() ? "jpg" : PathEscape(v.ext, true);
        html += "<td align=\"center\" valign=\"bottom\">\r\n\t<a href=\"/" + href + "\" target=\"_blank\">";
        html += "<img src=\"" + portraitBase + "/sys/portraitn/item/" + id + "." + ext + "\" border=\"0\" alt=\"\">";
        html += "</a><br>\r\n\t<a href=\"/" + href + "\" target=\"_blank\">" + gbk::HtmlEscape(v.name) +
                "</a>\r\n</td>\r\n";
        if (++column % 6 == 0)
            html += "</tr>\r\n<tr>\r\n";
    }
    if (visitors.empty())
        html += "<td>还没有访客</td>\r\n";
    html += "</tr>\r\n</table>\r\n</div>\r\n</body>\r\n</html>\r\n";
    return html;
}

std::string PresenceReply(CImState& state, const std::string& callback, const std::string& uids)
{
    std::string reply = callback + "({\"status\":0,\"data\":{";
    bool first = true;
    for (const std::string& id : SplitUids(uids)) {
        if (!first)
            reply += ',';
        first = false;
        const std::string value = state.Presence(id);
        reply += "\"" + gbk::JsonEscape(id) + "\":{online:\"" + gbk::JsonEscape(value) + "\",uid:\"" +
                 gbk::JsonEscape(id) + "\"}";
    }
    reply += "}});";
    return reply;
}

std::string SafeCallback(const std::string& callback)
{
    if (callback.empty() || callback.size() > 64)
        return "IM_STATUS_CALLBACK";
    for (char c : callback) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                        c == '.' || c == '$';
        if (!ok)
            return "IM_STATUS_CALLBACK";
    }
    return callback;
}

// Every handler answers, whatever the request holds.
template <typename F> httplib::Server::Handler Guard(F f)
{
    return [f](const httplib::Request& req, httplib::Response& res) {
        try {
            f(req, res);
        } catch (...) {
            res.status = 500;
            res.set_content("-ERR internal", "text/plain");
        }
    };
}

// Admin calls: POST, a loopback Host and the data folder's token (AdminAccess.h).
template <typename F> httplib::Server::Handler Admin(const std::string& token, F f)
{
    return Guard([token, f](const httplib::Request& req, httplib::Response& res) {
        if (AdminRequestAllowed(req, res, token))
            f(req, res);
    });
}

} // namespace

void RegisterImRoutes(httplib::Server& server, const std::string& dataDir, const std::string& adminToken)
{
    auto state = std::make_shared<CImState>(dataDir + "/im.db");
    // A GET of an admin path is told why it is refused, not sent to the profile pages.
    server.Get(R"(/admin/.*)", Admin(adminToken, [](const httplib::Request&, httplib::Response&) {}));

    // ---- admin (tests and the demo) ----
    server.Post("/admin/im/visit", Admin(adminToken, [state](const httplib::Request& req, httplib::Response& res) {
                    const std::string imName = Param(req, "imname");
                    std::string name = Param(req, "name");
                    // A long name without a long request: the name said that many times.
                    const std::string repeat = Param(req, "repeat");
                    if (!repeat.empty()) {
                        const long long times = std::stoll(repeat);
                        // Bounded by the name it builds, not by the count alone.
                        if (times < 1 || times > 100000 || name.size() * size_t(times) > kMaxRepeatedName) {
                            res.status = 400;
                            SendText(res, "-ERR repeat must be 1 to 100000 and build at most 1 MiB");
                            return;
                        }
                        std::string repeated;
                        for (long long i = 0; i < times; ++i)
                            repeated += name;
                        name = repeated;
                    }
                    std::string ext = Param(req, "ext");
                    if (ext.empty())
                        ext = "jpg";
                    if (imName.empty() || name.empty() || !gbk::IsValidUtf8(imName) || !gbk::IsValidUtf8(name)) {
                        res.status = 400;
                        SendText(res, "-ERR imname and name are required (UTF-8)");
                        return;
                    }
                    if (!state->AddVisitor(imName, name, Param(req, "imid"), ext, Param(req, "raw") == "1")) {
                        res.status = 500;
                        SendText(res, "-ERR store");
                        return;
                    }
                    SendText(res, "+OK");
                }));
    server.Post("/admin/im/presence", Admin(adminToken, [state](const httplib::Request& req, httplib::Response& res) {
                    std::string imid = Param(req, "imid");
                    if (imid.empty() && req.has_param("name"))
                        imid = state->ImIdOf(Param(req, "name"));
                    std::string value = Param(req, "state");
                    if (value.empty())
                        value = Param(req, "online") == "1" ? "1" : "0";
                    if (imid.empty()) {
                        res.status = 400;
                        SendText(res, "-ERR imid (or the name of a listed visitor) is required");
                        return;
                    }
                    if (!state->SetPresence(imid, value)) {
                        res.status = 500;
                        SendText(res, "-ERR store");
                        return;
                    }
                    SendText(res, "+OK");
                }));
    server.Post("/admin/im/item", Admin(adminToken, [state](const httplib::Request& req, httplib::Response& res) {
                    const std::string number = Param(req, "n");
                    long long n = 0;
                    try {
                        size_t used = 0;
                        n = std::stoll(number, &used);
                        if (used != number.size())
                            throw std::invalid_argument("n");
                    } catch (...) {
                        res.status = 400;
                        SendText(res, "-ERR n must be a whole number");
                        return;
                    }
                    if (!state->SetItemTitle(n, Param(req, "title"))) {
                        res.status = 500;
                        SendText(res, "-ERR store");
                        return;
                    }
                    SendText(res, "+OK");
                }));
    server.Post("/admin/im/clear", Admin(adminToken, [state](const httplib::Request& req, httplib::Response& res) {
                    if (!state->Clear(Param(req, "imname"))) {
                        res.status = 500;
                        SendText(res, "-ERR store");
                        return;
                    }
                    SendText(res, "+OK");
                }));
    server.Post("/admin/im/visitors", Admin(adminToken, [state](const httplib::Request& req, httplib::Response& res) {
                    std::string text;
                    for (const CImState::Visitor& v : state->Visitors(Param(req, "imname"), 1000))
                        text += v.name + "\t" + v.imid + "\t" + state->Presence(v.imid) + "\n";
                    res.set_content(text, "text/plain; charset=UTF-8");
                }));

    // ---- the IM service's pages ----
    server.Get("/imstate/?", Guard([state](const httplib::Request& req, httplib::Response& res) {
                   const std::string reply =
                       PresenceReply(*state, SafeCallback(Param(req, "callback")), Param(req, "uids"));
                   res.set_content(reply, "text/javascript; charset=GBK");
               }));
    server.Get(R"(/sys/portraitn?/item/([^/]*))", Guard([](const httplib::Request& req, httplib::Response& res) {
                   res.set_header("Cache-Control", "max-age=3600");
                   res.set_content(PortraitImage(req.matches[1]), "image/bmp");
               }));
    server.Get(R"(/icons/([^/]*))", Guard([](const httplib::Request& req, httplib::Response& res) {
                   res.set_content(PortraitImage("icon:" + std::string(req.matches[1])), "image/bmp");
               }));
    server.Get("/msg", Guard([](const httplib::Request& req, httplib::Response& res) {
                   // The program sends the name as GBK bytes; a browser may send UTF-8.
                   const std::string name = gbk::FromGbk(Param(req, "un"));
                   SendPage(res, PageHead("发送消息") + "<h3>给 " + gbk::HtmlEscape(name) +
                                     " 发送消息</h3>\r\n<form action=\"/msg\" method=\"get\">\r\n"
                                     "<input type=\"hidden\" name=\"un\" value=\"" +
                                     gbk::HtmlEscape(name) +
                                     "\">\r\n<textarea name=\"text\" rows=\"6\" cols=\"40\"></textarea><br>\r\n"
                                     "<input type=\"submit\" value=\"发送\">\r\n</form>\r\n</body>\r\n</html>\r\n");
               }));
    server.Get(R"(/item/([0-9]{1,18}))", Guard([state](const httplib::Request& req, httplib::Response& res) {
                   const long long n = std::stoll(req.matches[1]);
                   std::string title;
                   if (!state->ItemTitle(n, title))
                       title = "首页-商品 " + std::to_string(n) + " - Lumo网";
                   SendPage(res, PageHead(title) + "<h1>" + gbk::HtmlEscape(title) + "</h1>\r\n<p>商品编号 " +
                                     std::to_string(n) + "</p>\r\n</body>\r\n</html>\r\n");
               }));
    server.Get(R"(/([^/]+)/board/?)", Guard([](const httplib::Request& req, httplib::Response& res) {
                   const std::vector<std::string> names = NameCandidates(req.matches[1]);
                   const std::string name = names.empty() ? std::string("?") : names.front();
                   SendPage(res, PageHead(name + "的留言板") + "<h3>给 " + gbk::HtmlEscape(name) +
                                     " 留言</h3>\r\n<form method=\"get\"><textarea name=\"text\"></textarea>"
                                     "<input type=\"submit\" value=\"留言\"></form>\r\n</body>\r\n</html>\r\n");
               }));
    server.Get(R"(/([^/]+))", Guard([state](const httplib::Request& req, httplib::Response& res) {
                   const std::vector<std::string> names = NameCandidates(req.matches[1]);
                   if (names.empty()) {
                       res.status = 404;
                       SendText(res, "no such page");
                       return;
                   }
                   // The GBK reading first: that is what the program sends.
                   std::string imName = names.front();
                   for (const std::string& candidate : names) {
                       if (state->HasAccount(candidate)) {
                           imName = candidate;
                           break;
                       }
                   }
                   SendPage(res, ProfilePage(imName, state->Visitors(imName, kProfileEntries), HostBase(req)));
               }));
}
