// The statistics page under the offscreen platform: the series after a shop
// and period change, the empty period, outside texts as text, saving a chart
// and opening an item.
#include "support/TestMain.h"

#include "support/StoreTestSupport.h"
#include "support/WaitUntil.h"

#include "platform/Launcher.h"
#include "stats/ui/StatisticsChartView.h"
#include "stats/ui/StatisticsDlg.h"
#include "store/Schema.h"
#include "store/StoreStartup.h"

#include <QAbstractBarSeries>
#include <QAction>
#include <QBarCategoryAxis>
#include <QBarSet>
#include <QComboBox>
#include <QDateTime>
#include <QImage>
#include <QLabel>
#include <QSignalSpy>

namespace {

QString DaysAgo(int days, const char* time)
{
    return QDate::currentDate().addDays(-days).toString(QStringLiteral("yyyy-MM-dd ")) + QLatin1String(time);
}

// The values of every bar set of a chart's first series, set by set.
QList<QList<qreal>> Bars(CStatisticsDlg& page, int chart)
{
    QList<QList<qreal>> values;
    const auto series = page.Chart(chart)->chart()->series();
    if (series.isEmpty())
        return values;
    for (const QBarSet* set : static_cast<QAbstractBarSeries*>(series.first())->barSets()) {
        QList<qreal> row;
        for (int i = 0; i < set->count(); ++i)
            row << set->at(i);
        values << row;
    }
    return values;
}

QStringList Categories(CStatisticsDlg& page, int chart)
{
    for (QAbstractAxis* axis : page.Chart(chart)->chart()->axes()) {
        if (auto* categories = qobject_cast<QBarCategoryAxis*>(axis))
            return categories->categories();
    }
    return {};
}

// The page may answer before a wait starts: count the answers instead.
bool WaitForRefreshes(const QSignalSpy& spy, int count)
{
    return WaitUntil([&] { return spy.count() >= count; });
}

} // namespace

TEST(StatisticsPage, SeriesFollowShopAndPeriod)
{
    QTemporaryDir dir;
    ASSERT_TRUE(OpenStore(dir.path()));
    const struct
    {
        const char* guest;
        const char* shop;
        QString time;
        const char* city;
        const char* item;
    } visits[] = {
        {"a", "甲", DaysAgo(0, "08:10:00"), "<img src=/dev/zero> 电信", "http://x/<b>1</b>"},
        {"b", "甲", DaysAgo(0, "08:30:00"), "浙江省 电信", "http://x/<b>1</b>"},
        {"c", "乙", DaysAgo(2, "20:00:00"), "浙江省 电信", "未知链接"},
        {"d", "乙", DaysAgo(12, "20:00:00"), "浙江省 电信", "https://x/2"},
    };
    for (const auto& v : visits) {
        ASSERT_TRUE(g_pConnection->Execute(
            QStringLiteral("insert into [client] ([guestname],[shopname],[lasttime],[city],[shopurl]) values "
                           "('%1','%2','%3','%4','%5')")
                .arg(v.guest, v.shop, v.time, v.city, v.item)));
    }
    ASSERT_TRUE(g_pConnection->Execute(QStringLiteral("insert into [user] ([username]) values ('甲'), ('乙')")));
    const auto addView = [](const char* shop, int seq) {
        return g_pConnection->Execute(QStringLiteral("insert into [pageview] ([shopname],[city],[shopurl],[viewtime],"
                                                     "[seq]) values ('%1','浙江省 电信','http://x/v','%2',%3)")
                                          .arg(shop, DaysAgo(0, "10:00:00"), QString::number(seq)));
    };
    ASSERT_TRUE(addView("甲", 1) && addView("甲", 2));
    // A store from before the statistics: the page first has their indexes built, saying so.
    for (const char* index :
         {"client_guest_shop_time", "client_hour_shop", "client_item_shop", "client_region_shop", "greetlog_senttime"})
        ASSERT_TRUE(g_pConnection->Execute(QStringLiteral("drop index [%1]").arg(QLatin1String(index))));
    ASSERT_TRUE(g_pConnection->Execute(QStringLiteral("create index [client_guest_shop] on [client] ([guestname])")));

    CStatisticsDlg page;
    QSignalSpy refreshed(&page, &CStatisticsDlg::Refreshed);
    QString preparing;
    QObject::connect(&page, &CStatisticsDlg::Preparing, &page,
                     [&] { preparing = page.EmptyLabel()->isVisible() ? page.EmptyLabel()->text() : QString(); });
    page.resize(800, 480);
    page.show();
    ASSERT_TRUE(WaitForRefreshes(refreshed, 1));
    EXPECT_EQ(preparing, QStringLiteral("首次打开,正在整理访问记录以便统计,请稍候......"));
    EXPECT_EQ(StatisticsIndexWork(g_pConnection), QStringList());
    // 最近7天, every shop: seven days, today's two and one two days ago.
    EXPECT_EQ(Bars(page, CStatisticsDlg::kDailyChart), (QList<QList<qreal>>{{0, 0, 0, 0, 1, 0, 2}}));
    ASSERT_EQ(Bars(page, CStatisticsDlg::kHourlyChart).value(0).size(), 24);
    EXPECT_EQ(Bars(page, CStatisticsDlg::kHourlyChart)[0][8], 2);
    EXPECT_EQ(Bars(page, CStatisticsDlg::kHourlyChart)[0][20], 1);
    // Most viewed at the top, outside texts escaped for the chart's markup.
    EXPECT_EQ(Categories(page, CStatisticsDlg::kItemsChart), (QStringList{"2. 未知链接", "1. x/&lt;b&gt;1&lt;/b&gt;"}));
    EXPECT_EQ(Categories(page, CStatisticsDlg::kRegionsChart), (QStringList{"2. &lt;img", "1. 浙江省"}));
    EXPECT_EQ(page.ShopCombo()->count(), 3);
    // The page views, from the same reading.
    page.CountCombo()->setCurrentIndex(1);
    EXPECT_EQ(Bars(page, CStatisticsDlg::kDailyChart), (QList<QList<qreal>>{{0, 0, 0, 0, 0, 0, 2}}));
    EXPECT_EQ(Bars(page, CStatisticsDlg::kHourlyChart).value(0).value(10), 2);
    EXPECT_EQ(page.Chart(CStatisticsDlg::kDailyChart)->chart()->title(), QStringLiteral("每日浏览量"));
    EXPECT_EQ(page.ItemAddresses(), QStringList{"http://x/v"});
    page.CountCombo()->setCurrentIndex(0);

    page.ShopCombo()->setCurrentIndex(2);   // 乙
    page.PeriodCombo()->setCurrentIndex(3); // 全部
    ASSERT_TRUE(WaitForRefreshes(refreshed, 2));
    EXPECT_EQ(page.Stats().totalVisits, 2);
    EXPECT_EQ(Bars(page, CStatisticsDlg::kDailyChart).value(0).size(), 13);
    EXPECT_EQ(Bars(page, CStatisticsDlg::kVisitorsChart).size(), 2); // new and returning
    EXPECT_EQ(Categories(page, CStatisticsDlg::kItemsChart), (QStringList{"2. 未知链接", "1. x/2"}));

    // An item opens in the browser only when its address is http/https.
    std::vector<QStringList> launched;
    const LaunchHandler previous = SetLaunchHandler([&launched](const CLaunchRequest& request) {
        launched.push_back(request.arguments);
        return true;
    });
    page.OpenItem(0);
    page.OpenItem(1);
    SetLaunchHandler(previous);
    EXPECT_EQ(launched, (std::vector<QStringList>{{"https://x/2"}}));

    // 保存图片 writes what the chart shows.
    const QString png = dir.filePath(QStringLiteral("chart.png"));
    const ImageSavePrompt before = SetImageSavePrompt([&png](QWidget*, const QString&) { return png; });
    page.Chart(CStatisticsDlg::kHourlyChart)->SaveAction()->trigger();
    SetImageSavePrompt(before);
    EXPECT_EQ(QImage(png).size(), page.Chart(CStatisticsDlg::kHourlyChart)->size());

    page.PeriodCombo()->setCurrentIndex(0); // 今天: nothing for 乙
    ASSERT_TRUE(WaitForRefreshes(refreshed, 3));
    EXPECT_TRUE(page.EmptyLabel()->isVisible());
    EXPECT_EQ(page.EmptyLabel()->text(), QStringLiteral("该时段没有访问记录"));
    page.CountCombo()->setCurrentIndex(1);
    EXPECT_EQ(page.EmptyLabel()->text(), QStringLiteral("该时段没有浏览记录"));

    // While it shows, the page reads again when visits were recorded, and only then.
    page.SetWatchInterval(50);
    EXPECT_FALSE(WaitUntil([&] { return refreshed.count() > 3; }, 500));
    ASSERT_TRUE(g_pConnection->Execute(QStringLiteral("insert into [client] ([guestname],[shopname],[lasttime]) values "
                                                      "('e','乙','%1')")
                                           .arg(DaysAgo(0, "09:00:00"))));
    // Well within the 10 s the page waits unless told otherwise.
    ASSERT_TRUE(WaitUntil([&] { return refreshed.count() >= 4; }, 5000));
    EXPECT_EQ(page.Stats().totalVisits, 1);
    EXPECT_FALSE(WaitUntil([&] { return refreshed.count() > 4; }, 500));
    // A page view recorded: read again too.
    ASSERT_TRUE(addView("乙", 3));
    ASSERT_TRUE(WaitUntil([&] { return refreshed.count() >= 5; }, 5000));
    EXPECT_EQ(page.Stats().totalViews, 1);
    CloseStore();
}
