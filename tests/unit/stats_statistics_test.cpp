// The statistics page's numbers, read from a small store with known visits:
// one case per shop and period, every chart's numbers.
#include "support/TestMain.h"

#include "support/StoreTestSupport.h"

#include "stats/VisitStatistics.h"
#include "store/StoreStartup.h"

namespace {

const QDate kToday(2026, 5, 20);
const QString kShopA = QStringLiteral("店铺甲");
// A quote and a "%1" in the name: neither may change a statement.
const QString kShopB = QStringLiteral("shop'B%1");

// guest, shop, time, region, item address
const char* const kVisits[][5] = {
    {"g1", "店铺甲", "2026-05-20 09:15:00", "浙江省杭州市 电信", "http://x/item/1"},
    {"g2", "店铺甲", "2026-05-20 09:40:00", "浙江省杭州市 联通", "http://x/item/1"},
    {"g3", "店铺甲", "2026-05-19 21:05:00", "广东省深圳市 电信", "http://x/item/2"},
    {"g1", "店铺甲", "2026-05-18 10:00:00", "浙江省杭州市 电信", "http://x/item/2"},
    {"g4", "shop'B%1", "2026-05-20 23:59:59", "上海市", "http://x/item/3"},
    {"g5", "shop'B%1", "2026-05-10 08:00:00", "未知区域", "未知链接"},
    {"g6", "店铺甲", "2026-03-01 12:00:00", "广东省深圳市 电信", "http://x/item/2"},
    {"g3", "店铺甲", "2026-05-19 22:00:00", "广东省深圳市 电信", "http://x/item/2"},
    {"g1", "shop'B%1", "2026-05-19 14:30:00", "北京市 电信", "http://x/item/4"},
};
// shop, time, region, item address of the page views
const char* const kViews[][4] = {
    {"店铺甲", "2026-05-20 09:15:01", "浙江省杭州市 电信", "http://x/item/1"},
    {"店铺甲", "2026-05-20 09:15:30", "浙江省杭州市 电信", "http://x/item/1"},
    {"店铺甲", "2026-05-17 11:00:00", "广东省深圳市 电信", "http://x/item/2"},
    {"shop'B%1", "2026-05-20 23:00:00", "上海市", "http://x/item/3"},
    {"shop'B%1", "2026-01-05 10:00:00", "未知区域", "未知链接"},
};
// shop, guest, time, went out
const char* const kGreetings[][4] = {
    {"店铺甲", "g1", "2026-05-20 09:16:00", "1"},
    {"店铺甲", "g2", "2026-05-20 09:41:00", "0"},
    {"shop'B%1", "g4", "2026-05-19 10:00:00", "1"},
    {"店铺甲", "g3", "2026-04-01 10:00:00", "1"},
};

struct CStatsCase
{
    const char* name;
    QString shop;
    EStatsPeriod period;
    int total;
    QMap<int, int> hours;
    int bucketCount;
    QList<CStatsBucket> buckets; // those with anything in them
    QList<CStatsCount> items;
    QList<CStatsCount> regions;
    // The page views': total, per hour, items, regions (the buckets above hold them too).
    int views;
    QMap<int, int> viewHours;
    QList<CStatsCount> viewItems;
    QList<CStatsCount> viewRegions;
};

void PrintTo(const CStatsCase& c, std::ostream* os)
{
    *os << c.name;
}

const CStatsCase kCases[] = {
    {"AllShopsToday",
     {},
     EStatsPeriod::Today,
     3,
     {{9, 2}, {23, 1}},
     1,
     {{"2026-05-20", 3, 2, 1, 1, 1, 3}},
     {{"http://x/item/1", 2}, {"http://x/item/3", 1}},
     {{"浙江省杭州市", 2}, {"上海市", 1}},
     3,
     {{9, 2}, {23, 1}},
     {{"http://x/item/1", 2}, {"http://x/item/3", 1}},
     {{"浙江省杭州市", 2}, {"上海市", 1}}},
    {"OneShopSevenDays",
     kShopA,
     EStatsPeriod::Last7Days,
     5,
     {{9, 2}, {10, 1}, {21, 1}, {22, 1}},
     7,
     {{"2026-05-17", 0, 0, 0, 0, 0, 1},
      {"2026-05-18", 1, 1, 0, 0, 0},
      {"2026-05-19", 2, 2, 0, 0, 0},
      {"2026-05-20", 2, 1, 1, 1, 1, 2}},
     {{"http://x/item/2", 3}, {"http://x/item/1", 2}},
     {{"浙江省杭州市", 3}, {"广东省深圳市", 2}},
     3,
     {{9, 2}, {11, 1}},
     {{"http://x/item/1", 2}, {"http://x/item/2", 1}},
     {{"浙江省杭州市", 2}, {"广东省深圳市", 1}}},
    {"QuotedShopThirtyDays",
     kShopB,
     EStatsPeriod::Last30Days,
     3,
     {{8, 1}, {14, 1}, {23, 1}},
     30,
     {{"2026-05-10", 1, 1, 0, 0, 0}, {"2026-05-19", 1, 1, 0, 1, 0}, {"2026-05-20", 1, 1, 0, 0, 0, 1}},
     {{"http://x/item/3", 1}, {"http://x/item/4", 1}, {"未知链接", 1}},
     {{"上海市", 1}, {"北京市", 1}, {"未知区域", 1}},
     1,
     {{23, 1}},
     {{"http://x/item/3", 1}},
     {{"上海市", 1}}},
    // More than two months, from the oldest view on: a bar per month.
    {"AllShopsEverByMonth",
     {},
     EStatsPeriod::All,
     9,
     {{8, 1}, {9, 2}, {10, 1}, {12, 1}, {14, 1}, {21, 1}, {22, 1}, {23, 1}},
     5,
     {{"2026-01", 0, 0, 0, 0, 0, 1},
      {"2026-03", 1, 1, 0, 0, 0},
      {"2026-04", 0, 0, 0, 1, 0},
      {"2026-05", 8, 7, 1, 2, 1, 4}},
     {{"http://x/item/2", 4}, {"http://x/item/1", 2}, {"http://x/item/3", 1}, {"http://x/item/4", 1}, {"未知链接", 1}},
     {{"广东省深圳市", 3}, {"浙江省杭州市", 3}, {"上海市", 1}, {"北京市", 1}, {"未知区域", 1}},
     5,
     {{9, 2}, {10, 1}, {11, 1}, {23, 1}},
     {{"http://x/item/1", 2}, {"http://x/item/2", 1}, {"http://x/item/3", 1}, {"未知链接", 1}},
     {{"浙江省杭州市", 2}, {"上海市", 1}, {"广东省深圳市", 1}, {"未知区域", 1}}},
};

class VisitStatisticsTest : public ::testing::TestWithParam<CStatsCase>
{
protected:
    static void SetUpTestSuite()
    {
        s_dir = new QTemporaryDir;
        ASSERT_TRUE(OpenStore(s_dir->path()));
        for (const QString& shop : {kShopA, kShopB})
            ASSERT_TRUE(g_pConnection->Execute(
                QStringLiteral("insert into [user] ([username]) values ('%1')").arg(SqlText(shop))));
        for (const auto& v : kVisits) {
            ASSERT_TRUE(g_pConnection->Execute(
                QStringLiteral("insert into [client] ([guestname],[ip],[shopname],[lasttime],[count],[city],[shopurl],"
                               "[imuid]) values ('%1','1.2.3.4','%2','%3',1,'%4','%5','')")
                    .arg(QString::fromUtf8(v[0]), SqlText(QString::fromUtf8(v[1])), QString::fromUtf8(v[2]),
                         QString::fromUtf8(v[3]), QString::fromUtf8(v[4]))));
        }
        int seq = 0;
        for (const auto& v : kViews) {
            ASSERT_TRUE(g_pConnection->Execute(
                QStringLiteral("insert into [pageview] ([shopname],[ip],[city],[shopurl],[viewtime],[seq]) values "
                               "('%1','1.2.3.4','%2','%3','%4',%5)")
                    .arg(SqlText(QString::fromUtf8(v[0])), QString::fromUtf8(v[2]), QString::fromUtf8(v[3]),
                         QString::fromUtf8(v[1]), QString::number(++seq))));
        }
        for (const auto& g : kGreetings) {
            ASSERT_TRUE(g_pConnection->Execute(
                QStringLiteral("insert into [greetlog] ([shopname],[guestname],[senttime],[ok]) values "
                               "('%1','%2','%3',%4)")
                    .arg(SqlText(QString::fromUtf8(g[0])), QString::fromUtf8(g[1]), QString::fromUtf8(g[2]),
                         QString::fromUtf8(g[3]))));
        }
    }
    static void TearDownTestSuite()
    {
        CloseStore();
        delete s_dir;
    }
    static inline QTemporaryDir* s_dir = nullptr;
};

} // namespace

TEST_P(VisitStatisticsTest, EveryChartsNumbers)
{
    const CStatsCase& c = GetParam();
    const CVisitStats stats = CVisitStatistics::Load({c.shop, c.period, kToday});
    ASSERT_TRUE(stats.ok);
    EXPECT_EQ(stats.marks, (CStatsMarks{9, 4, 5}));
    EXPECT_EQ(stats.shops, (QStringList{kShopA, kShopB}));
    EXPECT_EQ(stats.totalVisits, c.total);
    QMap<int, int> hours;
    QMap<int, int> viewHours;
    for (int h = 0; h < 24; ++h) {
        if (stats.hours[h])
            hours[h] = stats.hours[h];
        if (stats.viewHours[h])
            viewHours[h] = stats.viewHours[h];
    }
    EXPECT_EQ(hours, c.hours);
    EXPECT_EQ(viewHours, c.viewHours);
    EXPECT_EQ(stats.totalViews, c.views);
    EXPECT_EQ(stats.topViewedItems, c.viewItems);
    EXPECT_EQ(stats.topViewRegions, c.viewRegions);
    EXPECT_EQ(stats.buckets.size(), c.bucketCount);
    QList<CStatsBucket> filled;
    for (const CStatsBucket& b : stats.buckets) {
        if (b.visits || b.greetingsSent || b.greetingsFailed || b.views)
            filled << b;
    }
    EXPECT_EQ(filled, c.buckets);
    EXPECT_EQ(stats.topItems, c.items);
    EXPECT_EQ(stats.topRegions, c.regions);
}

INSTANTIATE_TEST_SUITE_P(Cases, VisitStatisticsTest, ::testing::ValuesIn(kCases));
