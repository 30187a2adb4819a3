// The PostgreSQL view store on a throwaway server: numbering without gaps while two
// stores (two servers) record for one shop, the wake-up of the other server, its
// catch-up after its listener was cut off, failing fast while the server is away.
#include "ViewStore.h"

#include "support/PgCluster.h"
#include "support/TestMain.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <QElapsedTimer>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <thread>

using namespace rivuzovara;

namespace {

class PgViewStoreTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QString why;
        ASSERT_TRUE(m_cluster.Start(&why)) << why.toStdString();
        m_url = m_cluster.Url().toStdString();
        m_a = MakePgViewStore(m_url);
        m_b = MakePgViewStore(m_url);
        m_b->SetForeignViewsHook([this](long long webId, long long seq) {
            std::lock_guard lock(m_heardMutex);
            m_heard[webId] = std::max(m_heard[webId], seq);
        });
        std::string error;
        ASSERT_TRUE(m_a->Open(error)) << error;
        ASSERT_TRUE(m_b->Open(error)) << error;
        m_webId = m_a->SetAccount("shop", "hash", error);
        ASSERT_GT(m_webId, 0) << error;
    }

    long long Heard(long long webId)
    {
        std::lock_guard lock(m_heardMutex);
        return m_heard[webId];
    }

    // A statement on a session to the cluster's maintenance database (works while ours refuses).
    bool Admin(const char* sql)
    {
        const char* keys[] = {"dbname", "dbname", nullptr};
        const char* values[] = {m_url.c_str(), "postgres", nullptr};
        PGconn* conn = PQconnectdbParams(keys, values, 1);
        PGresult* result = PQexec(conn, sql);
        const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK || PQresultStatus(result) == PGRES_TUPLES_OK;
        PQclear(result);
        PQfinish(conn);
        return ok;
    }

    std::vector<long long> Record(IViewStore& store, long long webId, int count, const std::string& url = "u")
    {
        std::vector<SNewView> views(size_t(count), SNewView{webId, "61.135.1.2", url, "2026-12-09 10:00:00", 1000});
        std::vector<long long> seqs;
        std::string error;
        EXPECT_TRUE(store.RecordViews(views, seqs, error)) << error;
        return seqs;
    }

    CPgCluster m_cluster;
    std::string m_url;
    std::unique_ptr<IViewStore> m_a;
    std::unique_ptr<IViewStore> m_b;
    long long m_webId = 0;
    std::mutex m_heardMutex;
    std::map<long long, long long> m_heard;
};

TEST_F(PgViewStoreTest, TwoServersNumberOneShopWithoutGapsAndWakeEachOther)
{
    // An onlooker on the channel (not a server: A tells because B listens).
    const char* keys[] = {"dbname", nullptr};
    const char* values[] = {m_url.c_str(), nullptr};
    PGconn* onlooker = PQconnectdbParams(keys, values, 1);
    PQclear(PQexec(onlooker, "listen rivuzovara_views"));
    const auto heardByOnlooker = [&](const std::string& pair) {
        PQconsumeInput(onlooker);
        bool heard = false;
        while (PGnotify* notice = PQnotifies(onlooker)) {
            heard = heard || (" " + std::string(notice->extra) + " ").find(" " + pair + " ") != std::string::npos;
            PQfreemem(notice);
        }
        return heard;
    };
    constexpr int kThreads = 4, kBatches = 25, kPerBatch = 8;
    std::vector<long long> all;
    std::mutex allMutex;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int b = 0; b < kBatches; ++b) {
                const std::vector<long long> seqs = Record(t % 2 ? *m_a : *m_b, m_webId, kPerBatch);
                std::lock_guard lock(allMutex);
                all.insert(all.end(), seqs.begin(), seqs.end());
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    std::sort(all.begin(), all.end());
    std::vector<long long> expected(size_t(kThreads * kBatches * kPerBatch));
    for (size_t i = 0; i < expected.size(); ++i)
        expected[i] = static_cast<long long>(i + 1);
    EXPECT_EQ(all, expected);
    std::string error;
    EXPECT_EQ(m_b->LatestSeq(m_webId, error), std::optional<long long>(expected.size()));

    // One more view on A wakes B (the time it took is printed, not judged), and B, which read the
    // views before, answers with the new one.
    ASSERT_EQ(m_b->LatestView(m_webId, error).value_or(SStoredView{}).seq, static_cast<long long>(expected.size()));
    QElapsedTimer clock;
    clock.start();
    const long long seq = Record(*m_a, m_webId, 1, "http://shop/new").at(0);
    EXPECT_TRUE(WaitUntil([&] { return Heard(m_webId) == seq; }, 5000, 1)) << Heard(m_webId) << " of " << seq;
    std::printf("the other server heard of the view after %lld ms\n", (long long)clock.elapsed());
    const std::string told = std::to_string(m_webId) + ":" + std::to_string(seq);
    EXPECT_TRUE(WaitUntil([&] { return heardByOnlooker(told); })) << "A did not tell " << told;
    PQfinish(onlooker);
    EXPECT_EQ(m_b->LatestView(m_webId, error).value_or(SStoredView{}).url, "http://shop/new");
    std::vector<SStoredView> above;
    ASSERT_TRUE(m_b->ViewsAbove(m_webId, seq - 2, 100, above, error)) << error;
    ASSERT_EQ(above.size(), 2u);
    EXPECT_EQ(above[1].seq, seq);
    EXPECT_EQ(above[1].url, "http://shop/new");
}

TEST_F(PgViewStoreTest, ViewsOfUnknownOrFrozenShopsAreNotStoredAndBytesComeBackAsTheyWent)
{
    std::string error;
    ASSERT_EQ(m_a->SetFrozen("shop2", true, error), EChange::NoSuchAccount);
    const long long frozen = m_a->SetAccount("shop2", "hash", error);
    ASSERT_EQ(m_a->SetFrozen("shop2", true, error), EChange::Done);
    const std::string url("http://x/\xff\xfe#|\x01 item", 20);
    std::vector<SNewView> views = {{m_webId, "1.2.3.4", url, "2026-12-09 10:00:00", 1},
                                   {frozen, "1.2.3.4", "u", "t", 1},
                                   {999999, "1.2.3.4", "u", "t", 1},
                                   {m_webId, "::1", "v", "t", 1}};
    std::vector<long long> seqs;
    ASSERT_TRUE(m_a->RecordViews(views, seqs, error)) << error;
    EXPECT_EQ(seqs, (std::vector<long long>{1, 0, 0, 2}));
    std::vector<SStoredView> above;
    ASSERT_TRUE(m_b->ViewsAbove(m_webId, 0, 100, above, error)) << error;
    ASSERT_EQ(above.size(), 2u);
    EXPECT_EQ(above[0].url, url);
    EXPECT_EQ(above[1].ip, "::1");
    EXPECT_FALSE(m_b->LatestSeq(999999, error).has_value());
    EXPECT_TRUE(error.empty()) << error;
    EXPECT_FALSE(m_b->LatestView(frozen, error).has_value());
    // Old views go; the numbers go on from where they were.
    EXPECT_EQ(m_a->DeleteViewsBefore(2, error), 2);
    EXPECT_EQ(Record(*m_a, m_webId, 1).at(0), 3);
    EXPECT_EQ(m_a->RemoveAccount("shop", error), EChange::Done);
    EXPECT_EQ(m_a->RemoveAccount("shop", error), EChange::NoSuchAccount);
}

TEST_F(PgViewStoreTest, AServerCutOffCatchesUpAndAStoreAwayFailsAtOnce)
{
    // B's listener is cut off and cannot come back while A records; what B read before is not
    // taken for the latest afterwards.
    std::string error;
    Record(*m_a, m_webId, 1);
    ASSERT_TRUE(WaitUntil([&] { return Heard(m_webId) == 1; }));
    ASSERT_EQ(m_b->LatestView(m_webId, error).value_or(SStoredView{}).seq, 1);
    ASSERT_TRUE(Admin("alter database mirel allow_connections false"));
    ASSERT_TRUE(Admin("select pg_terminate_backend(pid, 5000) from pg_stat_activity where datname = 'mirel' "
                      "and application_name = 'rivuzovara-listener'"));
    const long long seq = Record(*m_a, m_webId, 3).at(2);
    ASSERT_GT(seq, 0);
    ASSERT_TRUE(Admin("alter database mirel allow_connections true"));
    EXPECT_TRUE(WaitUntil([&] { return Heard(m_webId) == seq; })) << Heard(m_webId) << " of " << seq;
    EXPECT_EQ(m_b->LatestView(m_webId, error).value_or(SStoredView{}).seq, seq);

    // A server away: the first statement finds out, the next ones fail without waiting.
    m_cluster.Stop();
    EXPECT_FALSE(m_a->LatestSeq(m_webId, error).has_value());
    EXPECT_FALSE(error.empty());
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(m_a->Ping(error));
    std::printf("a statement while the server is away failed after %lld ms: %s\n", (long long)clock.elapsed(),
                error.c_str());
    QString why;
    ASSERT_TRUE(m_cluster.Start(&why)) << why.toStdString();
    EXPECT_TRUE(WaitUntil([&] { return m_a->Ping(error); })) << error;
    EXPECT_EQ(Record(*m_a, m_webId, 1).at(0), seq + 1);
}

} // namespace
