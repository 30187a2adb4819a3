#include "support/TestMain.h"

#include "support/HistoryTestStore.h"

#include "accounts/AdvancedSettings.h"
#include "history/HistoryUpkeep.h"
#include "platform/MessageBox.h"
#include "store/AdoConnection.h"
#include "store/AdoRecordSet.h"
#include "store/Variant.h"
#include "tables/VisitStatements.h"

#include <QDateTime>

#include <functional>

namespace {

struct CStatementCase
{
    const char* name;
    QString actual;
    const char* expected;
};

} // namespace

TEST(HistoryStatements, TextsAreTheFixedTemplates)
{
    const QDate day(2009, 3, 3);
    const CStatementCase cases[] = {
        {"all", HistoryShowAllSql(), "select * from [client] order by [id] desc"},
        {"day start", HistoryDayStartText(day), "2009-03-03 00:00:00"},
        {"day end", HistoryDayEndText(QDate(987, 12, 31)), "0987-12-31 23:59:59"},
        {"day", HistoryDaySql(day),
         "select * from [client] where lasttime between #2009-03-03 00:00:00# and #2009-03-03 23:59:59# order by [id] "
         "desc"},
        {"visitor", HistoryVisitorSql(QStringLiteral("ab")),
         "select * from [client] where guestname like '%ab%'order by [id] desc"},
        {"visitor empty", HistoryVisitorSql(QString()),
         "select * from [client] where guestname like '%%'order by [id] desc"},
        // Quotes doubled; a text that looks like a placeholder stays as typed.
        {"visitor quote", HistoryVisitorSql(QStringLiteral("o'ne%1l")),
         "select * from [client] where guestname like '%o''ne%1l%'order by [id] desc"},
        {"shop", HistoryShopSql(QStringLiteral("张'店")),
         "select * from [client] where shopname like '%张''店%'order by [id] desc"},
        {"one visit", HistoryVisitSql(QStringLiteral("9")), "select * from [client] where [id] = 9"},
        {"delete row", HistoryDeleteRowSql(QStringLiteral("42")), "delete from [client] where id = 42"},
        {"delete range", HistoryDeleteRangeSql(QDate(2024, 1, 2), QDate(2024, 2, 29)),
         "delete from [client] where lasttime between #2024-01-02 00:00:00# and #2024-02-29 23:59:59#"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.actual, QString::fromUtf8(c.expected)) << c.name;
}

TEST(HistoryStatements, RowIdMustBeAWholeNumber)
{
    const struct
    {
        const char* text;
        bool whole;
    } cases[] = {{"0", true},     {"7", true},     {"123456789012345678", true},
                 {"", false},     {"-1", false},   {"1.5", false},
                 {" 1", false},   {"1 ", false},   {"1 or 1=1", false},
                 {"0x10", false}, {"1e3", false},  {"1234567890123456789", false},
                 {"١٢", false},   {"１２", false}, {"12;delete from [user]", false}};
    for (const auto& c : cases) {
        const QString text = QString::fromUtf8(c.text);
        EXPECT_EQ(IsWholeNumber(text), c.whole) << c.text;
        EXPECT_EQ(HistoryDeleteRowSql(text).isEmpty(), !c.whole) << c.text;
        EXPECT_EQ(HistoryVisitSql(text).isEmpty(), !c.whole) << c.text;
    }
}

class HistoryStatementsStore : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_previous = SetMessageBoxHandler([this](const QString& text, const QString&, EMsgIcon, EMsgButtons) {
            m_boxes << text;
            return kIdOk;
        });
        m_store = std::make_unique<CHistoryTestStore>();
        ASSERT_TRUE(m_store->IsOpen());
    }
    void TearDown() override
    {
        m_store.reset();
        SetMessageBoxHandler(m_previous);
        EXPECT_TRUE(m_boxes.isEmpty()) << m_boxes.join(QLatin1Char('|')).toStdString();
    }

    std::unique_ptr<CHistoryTestStore> m_store;
    MessageBoxHandler m_previous;
    QStringList m_boxes;
};

TEST_F(HistoryStatementsStore, RankingCountsVisitsPerItemMostFirst)
{
    const QDateTime t(QDate(2024, 5, 1), QTime(10, 0, 0));
    const QString a = QStringLiteral("http://item.example/a"), b = QStringLiteral("http://item.example/b"),
                  c = QStringLiteral("http://item.example/c'q");
    for (const QString& url : {b, a, c, a, b, a})
        ASSERT_GT(m_store->AddVisit({QStringLiteral("v"), QStringLiteral("s"), t, url}), 0);

    CAdoRecordSet recordSet;
    ASSERT_TRUE(recordSet.Open(HistoryRankingSql()));
    QStringList urls, counts;
    while (!recordSet.IsEOF()) {
        QString url, count;
        EXPECT_TRUE(recordSet.GetCollect(0, url));
        EXPECT_TRUE(recordSet.GetCollect(1, count));
        urls << url;
        counts << count;
        recordSet.MoveNext();
    }
    EXPECT_EQ(urls, (QStringList{a, b, c}));
    EXPECT_EQ(counts, (QStringList{QStringLiteral("3"), QStringLiteral("2"), QStringLiteral("1")}));
}

TEST_F(HistoryStatementsStore, QuotedNamesAreFoundAndRangesAreWholeDays)
{
    const QDate day(2024, 2, 29);
    const int quoted =
        m_store->AddVisit({QStringLiteral("o'neil"), QStringLiteral("店'铺"), QDateTime(day, QTime(0, 0))});
    const int late =
        m_store->AddVisit({QStringLiteral("oneil"), QStringLiteral("x"), QDateTime(day, QTime(23, 59, 59))});
    const int next =
        m_store->AddVisit({QStringLiteral("z"), QStringLiteral("x"), QDateTime(day.addDays(1), QTime(0, 0))});
    ASSERT_GT(next, 0);

    EXPECT_EQ(CHistoryTestStore::Ids(HistoryVisitorSql(QStringLiteral("o'n"))), QList<int>{quoted});
    EXPECT_EQ(CHistoryTestStore::Ids(HistoryShopSql(QStringLiteral("店'"))), QList<int>{quoted});
    EXPECT_EQ(CHistoryTestStore::Ids(HistoryDaySql(day)), (QList<int>{late, quoted}));
    EXPECT_EQ(CHistoryTestStore::Ids(HistoryDaySql(day.addDays(-1))), QList<int>{});
}

TEST_F(HistoryStatementsStore, DeleteOfManyIdsTakesExactlyThoseRows)
{
    const struct
    {
        const char* name;
        std::function<bool(int offset)> deleted; // of 5,000 visits
        int ranges;                              // "between" terms the statement holds
    } cases[] = {
        {"all", [](int) { return true; }, 1},
        {"every other", [](int i) { return i % 2 == 0; }, 0},
        {"a run and singles", [](int i) { return (i >= 10 && i < 300) || i == 301 || i == 4999; }, 1},
        {"more runs than ranges", [](int i) { return i % 100 < 70; }, 32},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(g_pConnection->Execute(QStringLiteral("delete from [client]")));
        ASSERT_TRUE(g_pConnection->Execute(
            QStringLiteral("with recursive n(i) as (select 0 union all select i + 1 from n where i < 4999) "
                           "insert into [client] ([guestname]) select 'v' || i from n")));
        const QList<int> all = CHistoryTestStore::Ids(QStringLiteral("select * from [client] order by [id]"));
        ASSERT_EQ(all.size(), 5000);
        std::vector<qint64> ids = {-7};
        QList<int> kept;
        for (int i = 4999; i >= 0; --i) {
            if (c.deleted(i))
                ids.push_back(all[i]);
            else
                kept.prepend(all[i]);
        }
        ids.push_back(ids.back()); // a row selected twice is deleted once
        const QString sql = HistoryDeleteIdsSql(ids);
        EXPECT_EQ(sql.count(QStringLiteral(" between ")), c.ranges) << c.name;
        ASSERT_TRUE(g_pConnection->Execute(sql)) << c.name;
        EXPECT_EQ(CHistoryTestStore::Ids(QStringLiteral("select * from [client] order by [id]")), kept) << c.name;
    }
}

TEST_F(HistoryStatementsStore, UpkeepDeletesWhatIsOlderThanTheLimitAndOneVisitorEverywhere)
{
    const QDateTime now = QDateTime::currentDateTime();
    const struct
    {
        const char* name;
        int ageDays; // of the visit or view
        int count;
        bool kept;
    } cases[] = {
        {"a year", 365, 1, false},
        // More than the first steps hold: several short deletes.
        {"many at 31 days", 31, 1500, false},
        {"a day within", 29, 3, true},
        {"today", 0, 2, true},
    };
    int keptVisits = 0;
    for (const auto& c : cases) {
        ASSERT_TRUE(g_pConnection->Execute(
            QStringLiteral("with recursive n(i) as (select 0 union all select i + 1 from n where i < %1) "
                           "insert into [client] ([guestname], [shopname], [lasttime]) select '%2' || i, 's', '%3' "
                           "from n")
                .arg(c.count - 1)
                .arg(QString::fromUtf8(c.name), StoreTimeText(now.addDays(-c.ageDays).toMSecsSinceEpoch()))));
        ASSERT_TRUE(g_pConnection->Execute(
            QStringLiteral("insert into [pageview] ([shopname],[seq],[viewtime]) values ('s', %1, '%2')")
                .arg(c.ageDays)
                .arg(StoreTimeText(now.addDays(-c.ageDays).toMSecsSinceEpoch()))));
        keptVisits += c.kept ? c.count : 0;
    }
    CAdvancedSettings settings;
    settings.keepDays = 30;
    PublishAdvancedSettings(settings);
    const CUpkeepCounts counts = RunHistoryUpkeep(now.toMSecsSinceEpoch());
    PublishAdvancedSettings(CAdvancedSettings());
    EXPECT_TRUE(counts.ok);
    EXPECT_EQ(counts.visits, 1501);
    EXPECT_EQ(counts.pageViews, 2);
    EXPECT_EQ(CHistoryTestStore::CountVisits(), keptVisits);
    for (const auto& c : cases) {
        EXPECT_EQ(
            CHistoryTestStore::Ids(
                QStringLiteral("select [id] from [client] where [guestname] like '%1%'").arg(QString::fromUtf8(c.name)))
                .size(),
            c.kept ? c.count : 0)
            << c.name;
        EXPECT_EQ(CHistoryTestStore::Ids(QStringLiteral("select [seq] from [pageview] where [seq] = %1").arg(c.ageDays))
                      .size(),
                  c.kept ? 1 : 0)
            << c.name;
    }
    // Off: nothing goes.
    EXPECT_EQ(RunHistoryUpkeep(now.addYears(5).toMSecsSinceEpoch()).visits, 0);
    EXPECT_EQ(CHistoryTestStore::CountVisits(), keptVisits);

    // One visitor, everywhere: every shop's visits, the greeting log and the queue; others stay.
    for (const char* shop : {"店一", "店二"}) {
        ASSERT_GT(m_store->AddVisit({QStringLiteral("o'甲"), QString::fromUtf8(shop), now}), 0);
        ASSERT_GT(m_store->AddVisit({QStringLiteral("乙"), QString::fromUtf8(shop), now}), 0);
        for (const char* guest : {"o''甲", "乙"}) {
            ASSERT_TRUE(g_pConnection->Execute(
                QStringLiteral("insert into [greetlog] ([shopname],[guestname],[ok]) values ('%1','%2',1)")
                    .arg(QString::fromUtf8(shop), QString::fromUtf8(guest))));
            ASSERT_TRUE(g_pConnection->Execute(
                QStringLiteral("insert into [AutoSend] ([ClientName],[UserName],[Message]) values ('%1','%2','hi')")
                    .arg(QString::fromUtf8(guest), QString::fromUtf8(shop))));
        }
    }
    const CUpkeepCounts one = DeleteVisitorEverywhere(QStringLiteral("o'甲"));
    EXPECT_TRUE(one.ok);
    EXPECT_EQ(one.visits, 2);
    EXPECT_EQ(one.greetings, 4);
    EXPECT_EQ(CHistoryTestStore::CountVisits(), keptVisits + 2);
    for (const char* sql : {"select count(*) from [greetlog] where [guestname] = '乙'",
                            "select count(*) from [AutoSend] where [ClientName] = '乙'"}) {
        CAdoRecordSet recordSet;
        int left = -1;
        ASSERT_TRUE(recordSet.Open(QString::fromUtf8(sql)));
        recordSet.GetCollectInt(0, left);
        EXPECT_EQ(left, 2) << sql;
    }
}
