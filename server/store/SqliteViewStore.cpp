// The embedded store: DIR/tracking.db in WAL mode. Writes go through one
// connection under a mutex (the writer thread's group commits, account
// changes, retention); reads spread over a few connections of their own,
// which WAL lets run beside a commit. New views go to views_new in the order
// recorded, so a commit changes its last page or two, not a page of each
// shop in views; every kMoveEvery views they move over to views in one go,
// inside the commit of a batch. Readers look at both.
#include "ViewStore.h"

#include "RecentViews.h"
#include "SqliteStatement.h"
#include "TrackingProtocol.h"

#include <sqlite3.h>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

namespace rivuzovara {

namespace {

constexpr long long kFirstWebId = 10001;
constexpr int kSchemaVersion = 2;
constexpr long long kMoveEvery = 2048;
constexpr size_t kReaders = 4;

struct SConnection
{
    std::mutex mutex;
    sqlite3* db = nullptr;
};

const char* const kAccountColumns = "select name, password_hash, webid, im_name, frozen, created,"
                                    " (select count(*) from views v where v.webid = a.webid) +"
                                    " (select count(*) from views_new n where n.webid = a.webid) from accounts a ";
// Both tables' views of a web ID (?1).
const char* const kViewsOf = "(select webid, seq, ip, url, time from views where webid = ?1 union all"
                             " select webid, seq, ip, url, time from views_new where webid = ?1)";

SAccount ReadAccount(const CSqliteStatement& st)
{
    SAccount a;
    a.name = st.Text(0);
    a.passwordHash = st.Text(1);
    a.webId = st.Int(2);
    a.imName = st.Text(3);
    a.frozen = st.Int(4) != 0;
    a.created = st.Text(5);
    a.views = st.Int(6);
    return a;
}

SStoredView ReadView(const CSqliteStatement& st)
{
    return {st.Int(0), st.Int(1), st.Text(2), st.Text(3), st.Text(4)};
}

class CSqliteViewStore final : public IViewStore
{
public:
    explicit CSqliteViewStore(std::string path) : m_path(std::move(path)) {}
    ~CSqliteViewStore() override
    {
        m_batch.reset();
        sqlite3_close(m_writer.db);
        for (auto& reader : m_readers)
            sqlite3_close(reader.db);
    }

    bool Open(std::string& error) override
    {
        std::lock_guard lock(m_writer.mutex);
        if (!Connect(m_writer.db, error) || !CreateSchema(error))
            return false;
        m_batch = std::make_unique<SBatchStatements>(m_writer.db);
        if (!m_batch->Ok())
            return Failed(m_writer.db, error);
        CSqliteStatement waiting(m_writer.db, "select count(*) from views_new");
        if (waiting.Step() != SQLITE_ROW)
            return Failed(m_writer.db, error);
        m_newViews = waiting.Int(0);
        for (auto& reader : m_readers) {
            if (!Connect(reader.db, error))
                return false;
        }
        return true;
    }

    bool Ping(std::string& error) override
    {
        auto& reader = Reader();
        std::lock_guard lock(reader.mutex);
        CSqliteStatement st(reader.db, "select count(*) from accounts");
        return st.Step() == SQLITE_ROW || Failed(reader.db, error);
    }

    std::optional<SAccount> FindAccount(const std::string& name, std::string& error) override
    {
        return FindOne((std::string(kAccountColumns) + "where name = ?").c_str(),
                       [&](CSqliteStatement& st) { st.Bind(1, name); }, error);
    }

    std::optional<SAccount> FindAccountByWebId(long long webId, std::string& error) override
    {
        return FindOne((std::string(kAccountColumns) + "where webid = ?").c_str(),
                       [&](CSqliteStatement& st) { st.Bind(1, webId); }, error);
    }

    long long SetAccount(const std::string& name, const std::string& passwordHash, std::string& error) override
    {
        std::lock_guard lock(m_writer.mutex);
        sqlite3* db = m_writer.db;
        if (!Exec(db, "begin immediate", error))
            return -1;
        long long webId = -1;
        {
            CSqliteStatement find(db, "select webid from accounts where name = ?");
            find.Bind(1, name);
            const int found = find.Step();
            if (found == SQLITE_ROW) {
                webId = find.Int(0);
                CSqliteStatement update(db, "update accounts set password_hash = ? where name = ?");
                update.Bind(1, passwordHash);
                update.Bind(2, name);
                if (update.Step() != SQLITE_DONE)
                    webId = -1;
            } else if (found == SQLITE_DONE) {
                CSqliteStatement insert(db, "insert into accounts (name, password_hash, webid, created)"
                                            " select ?, ?, max(coalesce(max(webid) + 1, ?), ?), ? from accounts"
                                            " returning webid");
                insert.Bind(1, name);
                insert.Bind(2, passwordHash);
                insert.Bind(3, kFirstWebId);
                insert.Bind(4, kFirstWebId);
                insert.Bind(5, tracking::TimeText(tracking::NowSeconds()));
                if (insert.Step() == SQLITE_ROW)
                    webId = insert.Int(0);
            }
        }
        if (webId < 0) {
            Failed(db, error);
            Exec(db, "rollback", error);
            return -1;
        }
        return Exec(db, "commit", error) ? webId : -1;
    }

    EChange SetFrozen(const std::string& name, bool frozen, std::string& error) override
    {
        return Change(
            "update accounts set frozen = ? where name = ?",
            [&](CSqliteStatement& st) {
                st.Bind(1, frozen ? 1LL : 0LL);
                st.Bind(2, name);
            },
            error);
    }

    EChange SetImName(const std::string& name, const std::string& imName, std::string& error) override
    {
        return Change(
            "update accounts set im_name = ? where name = ?",
            [&](CSqliteStatement& st) {
                st.Bind(1, imName);
                st.Bind(2, name);
            },
            error);
    }

    EChange RemoveAccount(const std::string& name, std::string& error) override
    {
        std::lock_guard lock(m_writer.mutex);
        sqlite3* db = m_writer.db;
        if (!Exec(db, "begin immediate", error))
            return EChange::Failed;
        CSqliteStatement views(db, "delete from views where webid = (select webid from accounts where name = ?)");
        views.Bind(1, name);
        CSqliteStatement newViews(db,
                                  "delete from views_new where webid = (select webid from accounts where name = ?)");
        newViews.Bind(1, name);
        CSqliteStatement account(db, "delete from accounts where name = ?");
        account.Bind(1, name);
        if (views.Step() != SQLITE_DONE || newViews.Step() != SQLITE_DONE || account.Step() != SQLITE_DONE) {
            Failed(db, error);
            Exec(db, "rollback", error);
            return EChange::Failed;
        }
        const bool removed = sqlite3_changes(db) > 0;
        if (!Exec(db, "commit", error))
            return EChange::Failed;
        return removed ? EChange::Done : EChange::NoSuchAccount;
    }

    bool Accounts(std::vector<SAccount>& accounts, std::string& error) override
    {
        accounts.clear();
        auto& reader = Reader();
        std::lock_guard lock(reader.mutex);
        CSqliteStatement st(reader.db, (std::string(kAccountColumns) + "order by webid").c_str());
        int step = SQLITE_ROW;
        while ((step = st.Step()) == SQLITE_ROW)
            accounts.push_back(ReadAccount(st));
        return step == SQLITE_DONE || Failed(reader.db, error);
    }

    bool RecordViews(std::span<const SNewView> views, std::vector<long long>& seqs, std::string& error) override
    {
        seqs.assign(views.size(), 0);
        std::lock_guard lock(m_writer.mutex);
        sqlite3* db = m_writer.db;
        if (!m_batch)
            return Failed(db, error);
        CSqliteStatement& next = m_batch->next;
        CSqliteStatement& insert = m_batch->insert;
        bool ok = Run(m_batch->begin);
        if (!ok)
            return Failed(db, error);
        for (size_t i = 0; ok && i < views.size(); ++i) {
            const SNewView& view = views[i];
            next.Bind(1, view.webId);
            const int step = next.Step();
            const long long seq = step == SQLITE_ROW ? next.Int(0) : 0;
            ok = step == SQLITE_ROW || step == SQLITE_DONE;
            next.Reset();
            if (!ok || seq == 0)
                continue;
            insert.Bind(1, view.webId);
            insert.Bind(2, seq);
            insert.Bind(3, view.ip);
            insert.Bind(4, view.url);
            insert.Bind(5, view.time);
            insert.Bind(6, view.at);
            ok = insert.Step() == SQLITE_DONE;
            insert.Reset();
            seqs[i] = seq;
        }
        long long moved = 0;
        if (ok && m_newViews + static_cast<long long>(views.size()) >= kMoveEvery) {
            ok = Run(m_batch->move) && Run(m_batch->clear);
            moved = m_newViews + static_cast<long long>(views.size());
        }
        if (!ok) {
            Failed(db, error);
            Run(m_batch->rollback);
            seqs.assign(views.size(), 0);
            return false;
        }
        if (!Run(m_batch->commit)) {
            Failed(db, error);
            // A failed commit may leave the transaction open.
            if (!sqlite3_get_autocommit(db))
                Run(m_batch->rollback);
            seqs.assign(views.size(), 0);
            return false;
        }
        m_newViews += static_cast<long long>(views.size()) - moved;
        for (size_t i = 0; i < views.size(); ++i) {
            if (seqs[i] > 0)
                m_recent.Add({views[i].webId, seqs[i], views[i].ip, views[i].url, views[i].time});
        }
        return true;
    }

    std::optional<long long> LatestSeq(long long webId, std::string& error) override
    {
        auto& reader = Reader();
        std::lock_guard lock(reader.mutex);
        CSqliteStatement st(reader.db, "select last_seq from accounts where webid = ?");
        st.Bind(1, webId);
        const int step = st.Step();
        if (step == SQLITE_ROW)
            return st.Int(0);
        if (step != SQLITE_DONE)
            Failed(reader.db, error);
        return std::nullopt;
    }

    std::optional<SStoredView> LatestView(long long webId, std::string& error) override
    {
        if (auto recent = m_recent.Latest(webId))
            return recent;
        auto& reader = Reader();
        std::lock_guard lock(reader.mutex);
        CSqliteStatement st(reader.db,
                            (std::string("select * from ") + kViewsOf + " order by seq desc limit 1").c_str());
        st.Bind(1, webId);
        const int step = st.Step();
        if (step == SQLITE_ROW)
            return ReadView(st);
        if (step != SQLITE_DONE)
            Failed(reader.db, error);
        return std::nullopt;
    }

    bool ViewsAbove(long long webId, long long after, int limit, std::vector<SStoredView>& views,
                    std::string& error) override
    {
        if (m_recent.Above(webId, after, limit, views))
            return true;
        auto& reader = Reader();
        std::lock_guard lock(reader.mutex);
        CSqliteStatement st(
            reader.db, (std::string("select * from ") + kViewsOf + " where seq > ?2 order by seq limit ?3").c_str());
        st.Bind(1, webId);
        st.Bind(2, after);
        st.Bind(3, static_cast<long long>(limit));
        int step = SQLITE_ROW;
        while ((step = st.Step()) == SQLITE_ROW)
            views.push_back(ReadView(st));
        return step == SQLITE_DONE || Failed(reader.db, error);
    }

    long long DeleteViewsBefore(long long at, std::string& error) override
    {
        std::lock_guard lock(m_writer.mutex);
        CSqliteStatement newViews(m_writer.db, "delete from views_new where at < ?");
        newViews.Bind(1, at);
        if (newViews.Step() != SQLITE_DONE) {
            Failed(m_writer.db, error);
            return -1;
        }
        long long deleted = sqlite3_changes(m_writer.db);
        m_newViews -= deleted;
        CSqliteStatement st(m_writer.db, "delete from views where at < ?");
        st.Bind(1, at);
        if (st.Step() != SQLITE_DONE) {
            Failed(m_writer.db, error);
            return -1;
        }
        deleted += sqlite3_changes(m_writer.db);
        // Rare (hourly, old views): simpler to start memory afresh than to pick out the deleted.
        if (deleted > 0)
            m_recent.Clear();
        return deleted;
    }

    // Only this process writes the file: nobody else's views to hear of.
    void SetForeignViewsHook(ForeignViewsHook) override {}

private:
    // The writer's statements for a batch, prepared once: a batch is often only a few views.
    struct SBatchStatements
    {
        explicit SBatchStatements(sqlite3* db)
            : begin(db, "begin immediate"), commit(db, "commit"), rollback(db, "rollback"),
              next(db, "update accounts set last_seq = last_seq + 1 where webid = ? and frozen = 0 returning last_seq"),
              insert(db, "insert into views_new (webid, seq, ip, url, time, at) values (?, ?, ?, ?, ?, ?)"),
              move(db, "insert into views select webid, seq, ip, url, time, at from views_new"),
              clear(db, "delete from views_new")
        {
        }
        bool Ok() const
        {
            return begin.Ok() && commit.Ok() && rollback.Ok() && next.Ok() && insert.Ok() && move.Ok() && clear.Ok();
        }
        CSqliteStatement begin;
        CSqliteStatement commit;
        CSqliteStatement rollback;
        CSqliteStatement next;
        CSqliteStatement insert;
        CSqliteStatement move;
        CSqliteStatement clear;
    };

    static bool Run(CSqliteStatement& statement)
    {
        const bool done = statement.Step() == SQLITE_DONE;
        statement.Reset();
        return done;
    }

    bool Connect(sqlite3*& db, std::string& error)
    {
        if (sqlite3_open_v2(m_path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                            nullptr) != SQLITE_OK) {
            error = m_path + ": " + (db ? sqlite3_errmsg(db) : "out of memory");
            return false;
        }
        sqlite3_busy_timeout(db, 5000);
        // A new file gets small pages (an older one keeps its own): a commit writes each page it changed to
        // the log, and a batch of views of many shops changes one page of each shop.
        // FULL: a commit is on the disk when it returns, so an answered view survives a crash of the machine.
        return Exec(db, "pragma page_size=1024", error) && Exec(db, "pragma journal_mode=wal", error) &&
               Exec(db, "pragma synchronous=full", error);
    }

    bool CreateSchema(std::string& error)
    {
        sqlite3* db = m_writer.db;
        CSqliteStatement version(db, "pragma user_version");
        const long long have = version.Step() == SQLITE_ROW ? version.Int(0) : -1;
        if (have < 0)
            return Failed(db, error);
        if (have > kSchemaVersion) {
            error = m_path + ": written by a newer rivuzovara (schema " + std::to_string(have) + ")";
            return false;
        }
        if (have == kSchemaVersion)
            return true;
        // Each step upgrades from the version before it.
        return Exec(db, "begin immediate", error) &&
               (have >= 1 || Exec(db,
                                  "create table if not exists accounts ("
                                  " name text primary key, password_hash text not null, webid integer not null unique,"
                                  " im_name text not null default '', frozen integer not null default 0,"
                                  " created text not null, last_seq integer not null default 0);"
                                  "create table if not exists views ("
                                  " webid integer not null, seq integer not null, ip text not null, url text not null,"
                                  " time text not null, at integer not null, primary key (webid, seq)) without rowid;"
                                  "create index if not exists views_at on views (at);",
                                  error)) &&
               Exec(db,
                    "create table if not exists views_new ("
                    " webid integer not null, seq integer not null, ip text not null, url text not null,"
                    " time text not null, at integer not null);"
                    "pragma user_version = 2",
                    error) &&
               Exec(db, "commit", error);
    }

    SConnection& Reader()
    {
        // Each thread keeps to one connection; threads take them in turn.
        static std::atomic<size_t> s_next{0};
        thread_local const size_t t_index = s_next++ % kReaders;
        return m_readers[t_index];
    }

    std::optional<SAccount> FindOne(const char* sql, const std::function<void(CSqliteStatement&)>& bind,
                                    std::string& error)
    {
        auto& reader = Reader();
        std::lock_guard lock(reader.mutex);
        CSqliteStatement st(reader.db, sql);
        bind(st);
        const int step = st.Step();
        if (step == SQLITE_ROW)
            return ReadAccount(st);
        if (step != SQLITE_DONE)
            Failed(reader.db, error);
        return std::nullopt;
    }

    EChange Change(const char* sql, const std::function<void(CSqliteStatement&)>& bind, std::string& error)
    {
        std::lock_guard lock(m_writer.mutex);
        CSqliteStatement st(m_writer.db, sql);
        bind(st);
        if (st.Step() != SQLITE_DONE) {
            Failed(m_writer.db, error);
            return EChange::Failed;
        }
        return sqlite3_changes(m_writer.db) > 0 ? EChange::Done : EChange::NoSuchAccount;
    }

    bool Exec(sqlite3* db, const char* sql, std::string& error)
    {
        return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK || Failed(db, error);
    }

    // Always false, for the callers' returns.
    bool Failed(sqlite3* db, std::string& error)
    {
        error = m_path + ": " + (db ? sqlite3_errmsg(db) : "not open");
        return false;
    }

    std::string m_path;
    SConnection m_writer;
    std::unique_ptr<SBatchStatements> m_batch; // under m_writer.mutex
    long long m_newViews = 0;                  // in views_new, under m_writer.mutex
    std::array<SConnection, kReaders> m_readers;
    CRecentViews m_recent;
};

} // namespace

std::unique_ptr<IViewStore> MakeSqliteViewStore(const std::string& path)
{
    // Before SQLite starts: its memory statistics take a global lock on every allocation.
    static const int s_config = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    (void)s_config;
    return std::make_unique<CSqliteViewStore>(path);
}

} // namespace rivuzovara
