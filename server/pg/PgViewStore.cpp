#include "PgViewStore.h"

#include "PgPipeline.h"
#include "PgSchema.h"
#include "PgSession.h"
#include "PgViewListener.h"
#include "TrackingProtocol.h"

#include <libpq-fe.h>
#include <poll.h>

#include <chrono>
#include <ctime>
#include <random>

namespace rivuzovara {

std::unique_ptr<IViewStore> MakePgViewStore(const std::string& url)
{
    return std::make_unique<pg::CPgViewStore>(url);
}

} // namespace rivuzovara

namespace rivuzovara::pg {

namespace {

constexpr int kMaxSessions = 8;
constexpr auto kSessionWait = std::chrono::seconds(5);
constexpr int kRecordAttempts = 3;

constexpr const char* kAccountColumns =
    "select a.name, a.passwordhash, a.webid, a.imname, a.frozen, a.created, "
    "(select count(*) from tracking_view v where v.webid = a.webid) from tracking_account a ";
constexpr const char* kViewColumns = "select webid, seq, encode(ip, 'hex'), encode(url, 'hex'), time "
                                     "from tracking_view ";

std::string RandomInstance()
{
    std::random_device device;
    std::mt19937_64 generator((uint64_t(device()) << 32) ^ device() ^ uint64_t(std::time(nullptr)));
    const char* digits = "0123456789abcdef";
    std::string text;
    for (uint64_t value = generator(), i = 0; i < 16; ++i, value >>= 4)
        text.push_back(digits[value & 15]);
    return text;
}

SAccount AccountAt(const CPgResult& rows, int row)
{
    SAccount account;
    account.name = rows.Text(row, 0);
    account.passwordHash = rows.Text(row, 1);
    account.webId = rows.Int(row, 2);
    account.imName = rows.Text(row, 3);
    account.frozen = rows.Bool(row, 4);
    account.created = rows.Text(row, 5);
    account.views = rows.Int(row, 6);
    return account;
}

SStoredView ViewAt(const CPgResult& rows, int row)
{
    SStoredView view;
    view.webId = rows.Int(row, 0);
    view.seq = rows.Int(row, 1);
    view.ip = rows.Bytes(row, 2);
    view.url = rows.Bytes(row, 3);
    view.time = rows.Text(row, 4);
    return view;
}

// A server that ended the session (a restart) has left its farewell on the socket by now.
bool LooksUp(CPgSession& session)
{
    if (session.IsBroken())
        return false;
    pollfd pfd{PQsocket(session.Conn()), POLLIN, 0};
    if (poll(&pfd, 1, 0) > 0)
        PQconsumeInput(session.Conn());
    return !session.IsBroken();
}

// Stores a group of views (the arrays $2 ... $6, one element a view): the accounts (not frozen)
// of the views are locked in web ID order (so two servers never wait for each other in a
// circle), each one's last number moves on by its number of views, the views get the numbers in
// between (a view of an unknown or frozen web ID gets 0 and is not stored). Rows come back in no
// particular order, each with its view's index.
const std::string kRecordViews =
    "with batch as (select i - 1 as i, webid, ip, url, time, at from unnest($2::int8[], $3::bytea[], "
    "$4::bytea[], $5::text[], $6::int8[]) with ordinality as b (webid, ip, url, time, at, i)), "
    "counts as (select webid, count(*) as n from batch group by webid), "
    "locked as (select webid from tracking_account where webid in (select webid from counts) "
    "and not frozen order by webid for update), "
    "bumped as (update tracking_account a set lastseq = a.lastseq + c.n from counts c join locked l "
    "on l.webid = c.webid where a.webid = c.webid returning a.webid, a.lastseq), "
    "numbered as (select b.i, b.webid, b.ip, b.url, b.time, b.at, "
    "bu.lastseq - cn.n + row_number() over (partition by b.webid order by b.i) as seq "
    "from batch b join counts cn on cn.webid = b.webid left join bumped bu on bu.webid = b.webid), "
    "stored as (insert into tracking_view (webid, seq, ip, url, time, at) "
    "select webid, seq, ip, url, time, at from numbered where seq is not null)";
// The same, when no other server listens ($1, the instance, unused).
const std::string kRecordStatement = kRecordViews + " select i, coalesce(seq, 0) from numbered";
// The same, telling the other servers in notifications of at most 150 web IDs (a payload holds 8000 bytes).
const std::string kRecordAndTellStatement =
    kRecordViews + ", told as (select pg_notify('" + kViewsChannel +
    "', $1 || string_agg(' ' || webid || ':' || lastseq, '')) from (select webid, lastseq, "
    "(row_number() over (order by webid) - 1) / 150 as chunk from bumped) x group by chunk) "
    "select i, coalesce(seq, 0), (select count(*) from told) from numbered";
const std::string kQuietName = "record_views";
const std::string kTellName = "record_tell_views";

} // namespace

CPgViewStore::CPgViewStore(std::string url) : m_url(std::move(url)), m_instance(RandomInstance())
{
    m_pipeline = std::make_unique<CPgPipeline>(
        m_url,
        std::vector<CPgPipeline::SStatement>{{kQuietName, kRecordStatement}, {kTellName, kRecordAndTellStatement}},
        BatchParams({}));
}

CPgViewStore::~CPgViewStore()
{
    m_pipeline.reset();
    m_listener.reset();
    std::lock_guard lock(m_poolMutex);
    m_idle.clear();
}

void CPgViewStore::SetForeignViewsHook(ForeignViewsHook hook)
{
    m_hook = std::move(hook);
}

bool CPgViewStore::Open(std::string& error)
{
    std::unique_ptr<CPgSession> session = CPgSession::Connect(m_url, error);
    if (!session) {
        error = "PostgreSQL store " + UrlForLog(m_url) + " not reached: " + error;
        return false;
    }
    if (!EnsureSchema(*session, error)) {
        error = "PostgreSQL store " + UrlForLog(m_url) + ": " + error;
        return false;
    }
    auto listener = std::make_unique<CPgViewListener>(m_url, m_instance, m_hook);
    if (!listener->Start(error)) {
        error = "PostgreSQL store " + UrlForLog(m_url) + ": no listener: " + error;
        return false;
    }
    m_listener = std::move(listener);
    std::lock_guard lock(m_poolMutex);
    ++m_sessions;
    m_idle.push_back(std::move(session));
    return true;
}

std::unique_ptr<CPgSession> CPgViewStore::Acquire(std::string& error)
{
    if (!m_listener) {
        error = "the PostgreSQL store is not open";
        return nullptr;
    }
    if (!m_listener->IsReachable()) {
        error = "the PostgreSQL store does not answer (trying again)";
        return nullptr;
    }
    std::unique_lock lock(m_poolMutex);
    if (!m_poolFree.wait_for(lock, kSessionWait, [this] { return !m_idle.empty() || m_sessions < kMaxSessions; })) {
        error = "all " + std::to_string(kMaxSessions) + " PostgreSQL sessions stayed busy";
        return nullptr;
    }
    while (!m_idle.empty()) {
        std::unique_ptr<CPgSession> session = std::move(m_idle.back());
        m_idle.pop_back();
        if (LooksUp(*session))
            return session;
        --m_sessions;
    }
    ++m_sessions;
    lock.unlock();
    std::unique_ptr<CPgSession> session = CPgSession::Connect(m_url, error);
    if (!session) {
        lock.lock();
        --m_sessions;
        lock.unlock();
        m_poolFree.notify_one();
        m_listener->MarkLost();
        error = "PostgreSQL store not reached: " + error;
    }
    return session;
}

void CPgViewStore::Release(std::unique_ptr<CPgSession> session)
{
    {
        std::lock_guard lock(m_poolMutex);
        if (session && !session->IsBroken())
            m_idle.push_back(std::move(session));
        else
            --m_sessions;
    }
    m_poolFree.notify_one();
}

bool CPgViewStore::Query(const std::string& sql, const std::vector<SParam>& params, bool read, CPgResult& result,
                         std::string& error)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::unique_ptr<CPgSession> session = Acquire(error);
        if (!session)
            return false;
        result = session->Run(sql, params, error);
        const bool broken = session->IsBroken();
        Release(std::move(session));
        if (result.Ok())
            return true;
        if (!broken)
            return false;
        if (!read || attempt == 1) {
            m_listener->MarkLost();
            return false;
        }
    }
    return false;
}

bool CPgViewStore::Ping(std::string& error)
{
    CPgResult result;
    return Query("select 1", {}, true, result, error);
}

std::optional<SAccount> CPgViewStore::FindAccountWhere(const char* condition, const SParam& key, std::string& error)
{
    error.clear();
    CPgResult rows;
    if (!Query(std::string(kAccountColumns) + condition, {key}, true, rows, error) || rows.Rows() == 0)
        return std::nullopt;
    return AccountAt(rows, 0);
}

std::optional<SAccount> CPgViewStore::FindAccount(const std::string& name, std::string& error)
{
    return FindAccountWhere("where a.name = $1", Text(name), error);
}

std::optional<SAccount> CPgViewStore::FindAccountByWebId(long long webId, std::string& error)
{
    return FindAccountWhere("where a.webid = $1", Int8(webId), error);
}

long long CPgViewStore::SetAccount(const std::string& name, const std::string& passwordHash, std::string& error)
{
    CPgResult result;
    // The insert runs only for a new name, so a password change takes no web ID from the sequence.
    if (!Query("with changed as (update tracking_account set passwordhash = $2 where name = $1 returning webid), "
               "added as (insert into tracking_account (name, passwordhash, created) select $1, $2, $3 "
               "where not exists (select 1 from changed) on conflict (name) do update set passwordhash = "
               "excluded.passwordhash returning webid) select webid from changed union all select webid from added",
               {Text(name), Text(passwordHash), Text(tracking::TimeText(tracking::NowSeconds()))}, false, result,
               error))
        return -1;
    return result.Rows() ? result.Int(0, 0) : -1;
}

EChange CPgViewStore::Change(const char* sql, std::vector<SParam> params, std::string& error)
{
    CPgResult result;
    if (!Query(sql, params, false, result, error))
        return EChange::Failed;
    return result.Affected() > 0 ? EChange::Done : EChange::NoSuchAccount;
}

EChange CPgViewStore::SetFrozen(const std::string& name, bool frozen, std::string& error)
{
    return Change("update tracking_account set frozen = $2 where name = $1", {Text(name), Bool(frozen)}, error);
}

EChange CPgViewStore::SetImName(const std::string& name, const std::string& imName, std::string& error)
{
    return Change("update tracking_account set imname = $2 where name = $1", {Text(name), Text(imName)}, error);
}

EChange CPgViewStore::RemoveAccount(const std::string& name, std::string& error)
{
    CPgResult result;
    if (!Query("with gone as (delete from tracking_account where name = $1 returning webid), "
               "views as (delete from tracking_view v using gone where v.webid = gone.webid) "
               "select count(*) from gone",
               {Text(name)}, false, result, error))
        return EChange::Failed;
    m_recent.Clear();
    return result.Int(0, 0) > 0 ? EChange::Done : EChange::NoSuchAccount;
}

bool CPgViewStore::Accounts(std::vector<SAccount>& accounts, std::string& error)
{
    CPgResult rows;
    if (!Query(std::string(kAccountColumns) + "order by a.webid", {}, true, rows, error))
        return false;
    accounts.clear();
    for (int row = 0; row < rows.Rows(); ++row)
        accounts.push_back(AccountAt(rows, row));
    return true;
}

std::vector<SParam> CPgViewStore::BatchParams(std::span<const SNewView> views) const
{
    CArrayParam webIds(kInt8ArrayOid, kInt8Oid, views.size());
    CArrayParam ips(kByteaArrayOid, kByteaOid, views.size());
    CArrayParam urls(kByteaArrayOid, kByteaOid, views.size());
    CArrayParam times(kTextArrayOid, kTextOid, views.size());
    CArrayParam ats(kInt8ArrayOid, kInt8Oid, views.size());
    for (const SNewView& view : views) {
        webIds.Add(view.webId);
        ips.Add(view.ip);
        urls.Add(view.url);
        times.Add(view.time);
        ats.Add(view.at);
    }
    return {Text(m_instance), webIds.Take(), ips.Take(), urls.Take(), times.Take(), ats.Take()};
}

const std::string& CPgViewStore::BatchStatement(std::string& name) const
{
    // Telling costs every listening session a wake-up per batch: only when someone else listens.
    const bool tell = m_listener->OthersMayListen();
    name = tell ? kTellName : kQuietName;
    return tell ? kRecordAndTellStatement : kRecordStatement;
}

bool CPgViewStore::TakeNumbers(const CPgResult& rows, std::span<const SNewView> views, std::vector<long long>& seqs,
                               std::string& error)
{
    seqs.assign(views.size(), 0);
    if (size_t(rows.Rows()) != views.size()) {
        error = "the store numbered " + std::to_string(rows.Rows()) + " of " + std::to_string(views.size()) + " views";
        return false;
    }
    for (int row = 0; row < rows.Rows(); ++row) {
        const long long i = rows.Int(row, 0);
        if (i >= 0 && size_t(i) < views.size())
            seqs[size_t(i)] = rows.Int(row, 1);
    }
    for (size_t i = 0; i < views.size(); ++i) {
        if (seqs[i] > 0) {
            m_listener->NoteOwn(views[i].webId, seqs[i]);
            m_recent.Append({views[i].webId, seqs[i], views[i].ip, views[i].url, views[i].time});
        }
    }
    return true;
}

bool CPgViewStore::RecordViews(std::span<const SNewView> views, std::vector<long long>& seqs, std::string& error)
{
    seqs.assign(views.size(), 0);
    if (views.empty())
        return true;
    const std::vector<SParam> params = BatchParams(views);
    for (int attempt = 1; attempt <= kRecordAttempts; ++attempt) {
        std::unique_ptr<CPgSession> session = Acquire(error);
        if (!session)
            return false;
        std::string name;
        const std::string& sql = BatchStatement(name);
        const CPgResult rows = session->RunPrepared(name, sql, params, error);
        const bool broken = session->IsBroken();
        Release(std::move(session));
        if (rows.Ok())
            return TakeNumbers(rows, views, seqs, error);
        if (broken) {
            // Whether it was stored cannot be told: not tried again, so nothing is stored twice.
            m_listener->MarkLost();
            return false;
        }
        // A deadlock or a serialisation failure stored nothing: tried again.
        if (rows.State() != "40P01" && rows.State() != "40001")
            return false;
    }
    return false;
}

std::uint64_t CPgViewStore::Send(std::span<const SNewView> views, std::string& error)
{
    if (!m_listener) {
        error = "the PostgreSQL store is not open";
        return 0;
    }
    if (!m_listener->IsReachable()) {
        error = "the PostgreSQL store does not answer (trying again)";
        return 0;
    }
    SGroup group{m_nextGroupTicket, {views.begin(), views.end()}, BatchParams(views)};
    std::string name;
    BatchStatement(name);
    const std::uint64_t sent = m_pipeline->Send(name, group.params, error);
    if (sent == 0) {
        m_listener->MarkLost();
        return 0;
    }
    ++m_nextGroupTicket;
    const std::uint64_t ticket = group.ticket;
    m_groups.emplace(sent, std::move(group));
    return ticket;
}

int CPgViewStore::Socket() const
{
    return m_pipeline->Socket();
}

bool CPgViewStore::WantsToWrite() const
{
    return m_pipeline->WantsToWrite();
}

std::vector<IViewPipe::SDone> CPgViewStore::Collect()
{
    std::vector<SDone> finished;
    for (CPgPipeline::SResult& result : m_pipeline->Collect()) {
        const auto found = m_groups.find(result.ticket);
        if (found == m_groups.end())
            continue;
        SGroup group = std::move(found->second);
        m_groups.erase(found);
        SDone done;
        done.ticket = group.ticket;
        if (result.rows.Ok()) {
            done.stored = TakeNumbers(result.rows, group.views, done.seqs, done.error);
        } else if (result.broken) {
            // Whether it was stored cannot be told: not tried again, so nothing is stored twice.
            m_listener->MarkLost();
            done.error = result.error;
        } else if ((result.rows.State() == "40P01" || result.rows.State() == "40001") &&
                   group.attempt < kRecordAttempts) {
            // A deadlock or a serialisation failure stored nothing: sent again.
            ++group.attempt;
            std::string name;
            BatchStatement(name);
            std::string error;
            const std::uint64_t sent = m_pipeline->Send(name, group.params, error);
            if (sent != 0) {
                m_groups.emplace(sent, std::move(group));
                continue;
            }
            done.error = error;
        } else {
            done.error = result.error;
        }
        finished.push_back(std::move(done));
    }
    return finished;
}

std::optional<long long> CPgViewStore::LatestSeq(long long webId, std::string& error)
{
    error.clear();
    CPgResult rows;
    if (!Query("select lastseq from tracking_account where webid = $1", {Int8(webId)}, true, rows, error) ||
        rows.Rows() == 0)
        return std::nullopt;
    return rows.Int(0, 0);
}

long long CPgViewStore::KnownForCache(long long webId)
{
    return m_listener && m_listener->IsListening() ? m_listener->Known(webId) : -1;
}

bool CPgViewStore::ReadRecent(long long webId, std::string& error)
{
    CPgResult rows;
    if (!Query(std::string(kViewColumns) + "where webid = $1 order by seq desc limit $2",
               {Int8(webId), Int8(static_cast<long long>(CPgRecentViews::kKeep))}, true, rows, error))
        return false;
    std::vector<SStoredView> newestFirst;
    for (int row = 0; row < rows.Rows(); ++row)
        newestFirst.push_back(ViewAt(rows, row));
    m_recent.Fill(webId, newestFirst);
    return true;
}

std::optional<SStoredView> CPgViewStore::LatestView(long long webId, std::string& error)
{
    error.clear();
    std::optional<SStoredView> view;
    long long known = KnownForCache(webId);
    if (known >= 0 && m_recent.Latest(webId, known, view))
        return view;
    if (!ReadRecent(webId, error))
        return std::nullopt;
    known = KnownForCache(webId);
    if (m_recent.Latest(webId, known < 0 ? 0 : known, view))
        return view;
    return std::nullopt;
}

bool CPgViewStore::ViewsAbove(long long webId, long long after, int limit, std::vector<SStoredView>& views,
                              std::string& error)
{
    // A crowd of waiters woken by one view asks the same: the first one reads, the rest find it here.
    const long long known = KnownForCache(webId);
    if (known >= 0 && (m_recent.Above(webId, after, limit, known, views) ||
                       (ReadRecent(webId, error) && m_recent.Above(webId, after, limit, known, views))))
        return true;
    CPgResult rows;
    if (!Query(std::string(kViewColumns) + "where webid = $1 and seq > $2 order by seq limit $3",
               {Int8(webId), Int8(after), Int8(limit)}, true, rows, error))
        return false;
    views.clear();
    for (int row = 0; row < rows.Rows(); ++row)
        views.push_back(ViewAt(rows, row));
    return true;
}

long long CPgViewStore::DeleteViewsBefore(long long at, std::string& error)
{
    CPgResult result;
    m_recent.Clear();
    if (!Query("delete from tracking_view where at < $1", {Int8(at)}, false, result, error))
        return -1;
    m_recent.Clear();
    return result.Affected();
}

} // namespace rivuzovara::pg
