#include "TrackingStore.h"

#include "SqliteStatement.h"

#include <sqlite3.h>

#include <algorithm>
#include <ctime>

namespace {

using rivuzovara::CSqliteStatement;

constexpr long long kFirstWebId = 10001;

STrackedAccount ReadAccount(const CSqliteStatement& st)
{
    STrackedAccount a;
    a.name = st.Text(0);
    a.password = st.Text(1);
    a.webId = st.Int(2);
    a.imName = st.Text(3);
    a.frozen = st.Int(4) != 0;
    a.created = st.Text(5);
    a.pageViews = st.Int(6);
    return a;
}

SPageView ReadPageView(const CSqliteStatement& st)
{
    SPageView v;
    v.id = st.Int(0);
    v.webId = st.Int(1);
    v.ip = st.Text(2);
    v.url = st.Text(3);
    v.time = st.Text(4);
    v.seq = st.Int(5);
    return v;
}

const char* const kViewColumns = "select id, webid, ip, url, time, seq from pageviews ";

const char* const kAccountColumns = "select name, password, webid, im_name, frozen, created,"
                                    " (select count(*) from pageviews p where p.webid = a.webid) from accounts a ";

} // namespace

std::string NowText()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

CTrackingStore::~CTrackingStore()
{
    Close();
}

bool CTrackingStore::Open(const std::string& path, std::string& error)
{
    std::lock_guard lock(m_mutex);
    if (sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        error = m_db ? sqlite3_errmsg(m_db) : "out of memory";
        sqlite3_close(m_db);
        m_db = nullptr;
        return false;
    }
    sqlite3_busy_timeout(m_db, 5000);
    const bool ok = Exec("pragma journal_mode=wal") &&
                    Exec("create table if not exists accounts ("
                         " name text primary key, password text not null, webid integer not null unique,"
                         " im_name text not null default '', frozen integer not null default 0,"
                         " created text not null)") &&
                    Exec("create table if not exists pageviews ("
                         " id integer primary key autoincrement, webid integer not null,"
                         " ip text not null, url text not null, time text not null)") &&
                    Exec("create index if not exists pageviews_webid on pageviews (webid, id)") && AddSequenceNumbers();
    if (!ok) {
        error = sqlite3_errmsg(m_db);
        sqlite3_close(m_db);
        m_db = nullptr;
    }
    return ok;
}

void CTrackingStore::Close()
{
    std::lock_guard lock(m_mutex);
    if (m_db)
        sqlite3_close(m_db);
    m_db = nullptr;
}

bool CTrackingStore::Exec(const char* sql)
{
    return m_db && sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// A data folder of an older stand-in has views without numbers: they are
// numbered in the order recorded.
bool CTrackingStore::AddSequenceNumbers()
{
    CSqliteStatement has(m_db, "select count(*) from pragma_table_info('pageviews') where name = 'seq'");
    if (!has.Ok() || has.Step() != SQLITE_ROW)
        return false;
    if (has.Int(0) > 0)
        return true;
    return Exec("begin immediate") &&
           Exec("alter table pageviews add column seq integer not null default 0;"
                "update pageviews set seq ="
                " (select count(*) from pageviews p where p.webid = pageviews.webid and p.id <= pageviews.id);"
                "create unique index pageviews_seq on pageviews (webid, seq)") &&
           Exec("commit");
}

long long CTrackingStore::Register(const std::string& name, const std::string& password, long long wantedWebId)
{
    std::lock_guard lock(m_mutex);
    if (!m_db)
        return -1;
    {
        CSqliteStatement update(m_db, "update accounts set password = ? where name = ?");
        update.Bind(1, password);
        update.Bind(2, name);
        if (!update.Ok() || update.Step() != SQLITE_DONE)
            return -1;
    }
    {
        CSqliteStatement find(m_db, "select webid from accounts where name = ?");
        find.Bind(1, name);
        if (find.Ok() && find.Step() == SQLITE_ROW)
            return find.Int(0);
    }
    long long webId = kFirstWebId;
    {
        CSqliteStatement next(m_db, "select coalesce(max(webid) + 1, ?) from accounts");
        next.Bind(1, kFirstWebId);
        if (next.Ok() && next.Step() == SQLITE_ROW)
            webId = std::max(next.Int(0), kFirstWebId);
    }
    if (wantedWebId > 0) {
        CSqliteStatement taken(m_db, "select 1 from accounts where webid = ?");
        taken.Bind(1, wantedWebId);
        if (taken.Ok() && taken.Step() != SQLITE_ROW)
            webId = wantedWebId;
    }
    CSqliteStatement insert(m_db, "insert into accounts (name, password, webid, created) values (?, ?, ?, ?)");
    insert.Bind(1, name);
    insert.Bind(2, password);
    insert.Bind(3, webId);
    insert.Bind(4, NowText());
    if (!insert.Ok() || insert.Step() != SQLITE_DONE)
        return -1;
    return webId;
}

std::optional<STrackedAccount> CTrackingStore::Find(const std::string& name)
{
    std::lock_guard lock(m_mutex);
    if (!m_db)
        return std::nullopt;
    CSqliteStatement st(m_db, (std::string(kAccountColumns) + "where name = ?").c_str());
    st.Bind(1, name);
    if (!st.Ok() || st.Step() != SQLITE_ROW)
        return std::nullopt;
    return ReadAccount(st);
}

bool CTrackingStore::SetFrozen(const std::string& name, bool frozen)
{
    std::lock_guard lock(m_mutex);
    if (!m_db)
        return false;
    CSqliteStatement st(m_db, "update accounts set frozen = ? where name = ?");
    st.Bind(1, frozen ? 1LL : 0LL);
    st.Bind(2, name);
    return st.Ok() && st.Step() == SQLITE_DONE && sqlite3_changes(m_db) > 0;
}

bool CTrackingStore::SetImName(const std::string& name, const std::string& imName)
{
    std::lock_guard lock(m_mutex);
    if (!m_db)
        return false;
    CSqliteStatement st(m_db, "update accounts set im_name = ? where name = ?");
    st.Bind(1, imName);
    st.Bind(2, name);
    return st.Ok() && st.Step() == SQLITE_DONE && sqlite3_changes(m_db) > 0;
}

long long CTrackingStore::AddPageView(long long webId, const std::string& ip, const std::string& url,
                                      const std::string& time)
{
    std::lock_guard lock(m_mutex);
    if (!m_db)
        return -1;
    // One statement under the lock: the numbers of a web ID have no gaps and no repeats.
    CSqliteStatement st(m_db, "insert into pageviews (webid, ip, url, time, seq)"
                              " select ?1, ?2, ?3, ?4, coalesce(max(seq), 0) + 1 from pageviews where webid = ?1"
                              " returning seq");
    st.Bind(1, webId);
    st.Bind(2, ip);
    st.Bind(3, url);
    st.Bind(4, time);
    if (!st.Ok() || st.Step() != SQLITE_ROW)
        return -1;
    const long long seq = st.Int(0);
    return st.Step() == SQLITE_DONE ? seq : -1;
}

std::optional<SPageView> CTrackingStore::LatestPageView(long long webId)
{
    std::lock_guard lock(m_mutex);
    if (!m_db)
        return std::nullopt;
    CSqliteStatement st(m_db, (std::string(kViewColumns) + "where webid = ? order by seq desc limit 1").c_str());
    st.Bind(1, webId);
    if (!st.Ok() || st.Step() != SQLITE_ROW)
        return std::nullopt;
    return ReadPageView(st);
}

std::optional<long long> CTrackingStore::LatestSeq(long long webId, bool& failed)
{
    std::lock_guard lock(m_mutex);
    failed = true;
    if (!m_db)
        return std::nullopt;
    CSqliteStatement st(m_db, "select (select max(seq) from pageviews where webid = ?1),"
                              " exists (select 1 from accounts where webid = ?1)");
    st.Bind(1, webId);
    if (!st.Ok() || st.Step() != SQLITE_ROW)
        return std::nullopt;
    failed = false;
    const long long latest = st.Int(0);
    if (latest == 0 && st.Int(1) == 0)
        return std::nullopt;
    return latest;
}

std::optional<std::vector<SPageView>> CTrackingStore::ViewsAbove(long long webId, long long after, int limit)
{
    std::lock_guard lock(m_mutex);
    if (!m_db)
        return std::nullopt;
    CSqliteStatement st(m_db, (std::string(kViewColumns) + "where webid = ? and seq > ? order by seq limit ?").c_str());
    st.Bind(1, webId);
    st.Bind(2, after);
    st.Bind(3, static_cast<long long>(limit));
    std::vector<SPageView> views;
    int step = SQLITE_ROW;
    while (st.Ok() && (step = st.Step()) == SQLITE_ROW)
        views.push_back(ReadPageView(st));
    if (!st.Ok() || step != SQLITE_DONE)
        return std::nullopt;
    return views;
}

std::vector<STrackedAccount> CTrackingStore::Accounts()
{
    std::lock_guard lock(m_mutex);
    std::vector<STrackedAccount> accounts;
    if (!m_db)
        return accounts;
    CSqliteStatement st(m_db, (std::string(kAccountColumns) + "order by webid").c_str());
    while (st.Ok() && st.Step() == SQLITE_ROW)
        accounts.push_back(ReadAccount(st));
    return accounts;
}

std::vector<SPageView> CTrackingStore::PageViews(long long webId, int limit)
{
    std::lock_guard lock(m_mutex);
    std::vector<SPageView> views;
    if (!m_db)
        return views;
    CSqliteStatement st(m_db,
                        (std::string(kViewColumns) + "where ? <= 0 or webid = ? order by id desc limit ?").c_str());
    st.Bind(1, webId);
    st.Bind(2, webId);
    st.Bind(3, static_cast<long long>(limit));
    while (st.Ok() && st.Step() == SQLITE_ROW)
        views.push_back(ReadPageView(st));
    return views;
}

bool CTrackingStore::Clear()
{
    std::lock_guard lock(m_mutex);
    return Exec("delete from pageviews") && Exec("delete from accounts");
}
