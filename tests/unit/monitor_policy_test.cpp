// The owner's advanced settings on the simulated clock: which alerts a poll
// raises (quiet hours across midnight, bursts, the watch-list) and whether a
// greeting is queued (daily budget, one greeting per person across shops,
// counted from a real Info.mdb), and that with everything off nothing changes.
#include "support/TestMain.h"

#include "accounts/AdvancedSettings.h"
#include "greet/GreetingPolicy.h"
#include "monitor/AlertPolicy.h"
#include "store/StoreStartup.h"
#include "support/MonitorFakes.h"
#include "support/StoreTestSupport.h"
#include "tables/SettingsTable.h"

#include <QDateTime>

namespace {

const QString kShop = QStringLiteral("店A");
const QString kShopB = QStringLiteral("店B");
const QString kOrdinary = QStringLiteral("新客户[甲]\r\nIP:1.2.3.4\r\n来自:北京\r\n访问[店A]的网店\r\n商品:杯");
const QString kWatchedOrdinary = QStringLiteral("关注客户") + kOrdinary.mid(3);
const QString kBurst = QStringLiteral("4位新客户访问[店A]的网店\r\n甲、乙、丙等");
const QString kGuest = QStringLiteral("guest");
const QStringList kFour{QStringLiteral("甲"), QStringLiteral("乙"), QStringLiteral("丙"), QStringLiteral("丁")};

// Local time on the test's first day (day 0) or later.
qint64 LocalMs(int day, int hour, int minute, int second = 0)
{
    return QDateTime(QDate(2026, 3, 10).addDays(day), QTime(hour, minute, second)).toMSecsSinceEpoch();
}

void MoveTo(CFastClock& clock, qint64 ms)
{
    clock.Advance(ms - clock.NowMs());
}

bool LogGreeting(const QString& shop, const QString& visitor, qint64 ms, bool ok)
{
    return g_pConnection->Execute(
        QStringLiteral("insert into [greetlog] ([shopname],[guestname],[senttime],[ok]) values ('%1','%2','%3',%4)")
            .arg(SqlText(shop), SqlText(visitor),
                 QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                 ok ? QStringLiteral("1") : QStringLiteral("0")));
}

enum class EStep
{
    Poll,   // new visitors (the first is the page's first); the ordinary alert unless noTip
    Guest,  // an anonymous visitor: kGuest when its alert goes out
    Summary // the quiet hours' sum-up, if any
};

struct CAlertStep
{
    int day, hour, minute;
    EStep kind;
    QStringList newNames;
    QStringList expected;
    bool noTip = false;
};

struct CAlertCase
{
    const char* name;
    CAdvancedSettings settings;
    std::vector<CAlertStep> steps;
};

class AlertPolicyTest : public ::testing::TestWithParam<CAlertCase>
{
};

TEST_P(AlertPolicyTest, RaisesTheAlertsTheSettingsAllow)
{
    CFastClock clock(LocalMs(0, 12, 0));
    CAlertPolicy policy;
    const CAdvancedSettings& settings = GetParam().settings;
    int index = 0;
    for (const CAlertStep& step : GetParam().steps) {
        MoveTo(clock, LocalMs(step.day, step.hour, step.minute));
        QStringList texts;
        if (step.kind == EStep::Poll) {
            for (const COwnerAlert& alert :
                 policy.ForNewVisitors(settings, clock.NowMs(), kShop, step.newNames, step.newNames.value(0),
                                       step.noTip ? QString() : kOrdinary)) {
                texts.append(alert.text);
                // A click opens the chat with the one the alert is about.
                EXPECT_EQ(alert.shop, kShop);
                EXPECT_TRUE(step.newNames.contains(alert.visitor)) << alert.visitor.toStdString();
            }
        } else if (step.kind == EStep::Guest) {
            if (policy.AllowGuestAlert(settings, clock.NowMs()))
                texts.append(kGuest);
        } else if (const QString summary = policy.TakeQuietSummary(settings, clock.NowMs()); !summary.isEmpty()) {
            texts.append(summary);
        }
        EXPECT_EQ(texts, step.expected) << "step " << index++ << " " << texts.join(u'|').toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, AlertPolicyTest,
    ::testing::Values(
        // Everything off: the poll's own alert, every guest, no sum-up, at any hour.
        CAlertCase{"allOff",
                   {},
                   {{0, 2, 0, EStep::Poll, kFour, {kOrdinary}},
                    {0, 2, 1, EStep::Poll, {"甲"}, {}, true},
                    {0, 2, 2, EStep::Guest, {}, {kGuest}},
                    {0, 9, 0, EStep::Summary, {}, {}}}},
        // 23:00-08:00 spans midnight: held back on both sides of it, summed up once at 08:00.
        CAlertCase{"quietAcrossMidnight",
                   {.quietHours = true},
                   {{0, 22, 59, EStep::Poll, {"甲"}, {kOrdinary}},
                    {0, 23, 0, EStep::Poll, {"甲", "乙"}, {}},
                    {1, 0, 30, EStep::Summary, {}, {}},
                    {1, 3, 0, EStep::Guest, {}, {}},
                    {1, 7, 59, EStep::Poll, {"甲"}, {}},
                    {1, 8, 0, EStep::Summary, {}, {CAlertPolicy::QuietSummaryText(4)}},
                    {1, 8, 1, EStep::Summary, {}, {}},
                    {1, 8, 2, EStep::Guest, {}, {kGuest}}}},
        // A watched visitor alerts in quiet hours too; the others are counted.
        CAlertCase{"watchOverridesQuiet",
                   {.quietHours = true, .watchList = {"甲"}},
                   {{1, 1, 0, EStep::Poll, {"甲", "乙"}, {kWatchedOrdinary}},
                    {1, 2, 0, EStep::Poll, {"乙", "丙"}, {}},
                    {1, 8, 0, EStep::Summary, {}, {CAlertPolicy::QuietSummaryText(3)}}}},
        // Three new visitors are no burst; four are, named by the first three.
        CAlertCase{"burstThreshold",
                   {.bursts = true},
                   {{0, 12, 1, EStep::Poll, kFour.mid(0, 3), {kOrdinary}}, {0, 12, 2, EStep::Poll, kFour, {kBurst}}}},
        // During a burst a watched visitor still gets an alert of their own, last.
        CAlertCase{"watchDuringBurst",
                   {.bursts = true, .watchList = {"丁"}},
                   {{0, 12, 1, EStep::Poll, kFour, {kBurst, QStringLiteral("关注客户[丁]\r\n访问[店A]的网店")}}}}),
    [](const ::testing::TestParamInfo<CAlertCase>& info) { return std::string(info.param.name); });

// ---- greetings, counted from the store

struct CGreetStep
{
    // A [greetlog] row (shop, visitor, ok) at that time, or a judgement for shop and visitor.
    bool log;
    int day, hour, minute, second;
    QString shop;
    QString visitor;
    bool ok;
    EGreetVerdict expected;
};

struct CGreetCase
{
    const char* name;
    CAdvancedSettings settings;
    std::vector<CGreetStep> steps;
};

constexpr EGreetVerdict kQueue = EGreetVerdict::Queue;

class PolicyStoreTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(OpenStore(m_dir.path()));
    }
    void TearDown() override { CloseStore(); }

    QTemporaryDir m_dir;
};

class GreetingPolicyTest : public PolicyStoreTest, public ::testing::WithParamInterface<CGreetCase>
{
};

TEST_P(GreetingPolicyTest, QueuesOnlyWithinTheRules)
{
    CFastClock clock(LocalMs(0, 0, 0));
    CGreetingPolicy policy;
    int index = 0;
    for (const CGreetStep& step : GetParam().steps) {
        MoveTo(clock, LocalMs(step.day, step.hour, step.minute, step.second));
        if (step.log) {
            ASSERT_TRUE(LogGreeting(step.shop, step.visitor, clock.NowMs(), step.ok));
        } else {
            EXPECT_EQ(policy.Judge(GetParam().settings, clock.NowMs(), step.shop, step.visitor), step.expected)
                << "step " << index;
        }
        ++index;
    }
}

INSTANTIATE_TEST_SUITE_P(Rules, GreetingPolicyTest,
                         ::testing::Values(
                             // Two a day: yesterday's and failed attempts do not count; the day's turn starts afresh.
                             CGreetCase{"budgetAtTheDaysTurn",
                                        {.dailyBudget = true, .budget = 2},
                                        {{true, 0, 23, 59, 59, kShop, "a", true, kQueue},
                                         {true, 0, 23, 59, 59, kShop, "b", true, kQueue},
                                         {false, 1, 0, 0, 0, kShop, "c", false, kQueue},
                                         {true, 1, 0, 0, 1, kShop, "c", true, kQueue},
                                         {true, 1, 0, 0, 2, kShop, "d", false, kQueue},
                                         {true, 1, 0, 0, 3, kShopB, "e", true, kQueue},
                                         {false, 1, 9, 0, 0, kShop, "f", false, kQueue},
                                         {true, 1, 9, 0, 1, kShop, "f", true, kQueue},
                                         {false, 1, 23, 59, 59, kShop, "g", false, EGreetVerdict::OverBudget},
                                         {false, 1, 23, 59, 59, kShopB, "g", false, kQueue},
                                         {false, 2, 0, 0, 0, kShop, "g", false, kQueue}}},
                             // Greeted by another shop within 7 days: not again; a failed attempt is no greeting.
                             CGreetCase{"crossShopWindow",
                                        {.oncePerPerson = true, .onceDays = 7},
                                        {{true, 0, 10, 0, 0, kShopB, "O'Brien", true, kQueue},
                                         {true, 0, 10, 0, 0, kShopB, "x", false, kQueue},
                                         {false, 7, 9, 59, 0, kShop, "O'Brien", false, EGreetVerdict::GreetedRecently},
                                         {false, 7, 9, 59, 0, kShop, "x", false, kQueue},
                                         {false, 7, 10, 0, 1, kShop, "O'Brien", false, kQueue}}}),
                         [](const ::testing::TestParamInfo<CGreetCase>& info) { return std::string(info.param.name); });

TEST_F(PolicyStoreTest, QueuedGreetingsCountAndAStoreThatDoesNotAnswerQueuesNothing)
{
    CFastClock clock(LocalMs(0, 9, 0));
    CGreetingPolicy policy;
    const CAdvancedSettings budget{.dailyBudget = true, .budget = 1};
    const CAdvancedSettings both{.dailyBudget = true, .budget = 1, .oncePerPerson = true};
    ASSERT_EQ(policy.Judge(both, clock.NowMs(), kShop, "v"), kQueue);
    // Queued in the same poll by another shop: greeted already, and that shop's budget is spent.
    ASSERT_TRUE(g_pConnection->Execute(QStringLiteral("insert into [AutoSend] values ('v','%1','hi')").arg(kShopB)));
    EXPECT_EQ(policy.Judge({.oncePerPerson = true}, clock.NowMs(), kShop, "v"), EGreetVerdict::GreetedRecently);
    EXPECT_EQ(policy.Judge(budget, clock.NowMs(), kShopB, "y"), EGreetVerdict::OverBudget);
    // Sent (and logged) while its pass still holds the row, it counts once; one held for a later try counts too.
    ASSERT_TRUE(LogGreeting(kShopB, "v", clock.NowMs(), true));
    ASSERT_TRUE(g_pConnection->Execute(QStringLiteral("insert into [AutoSend] values ('w','%1','hi')").arg(kShopB)));
    ASSERT_TRUE(LogGreeting(kShopB, "w", clock.NowMs(), false));
    EXPECT_EQ(policy.Judge({.dailyBudget = true, .budget = 3}, clock.NowMs(), kShopB, "y"), kQueue);
    EXPECT_EQ(policy.Judge({.dailyBudget = true, .budget = 2}, clock.NowMs(), kShopB, "y"), EGreetVerdict::OverBudget);
    // The status bar hears of it once a day.
    EXPECT_EQ(policy.TakeBudgetNotice(budget, clock.NowMs(), kShopB), CGreetingPolicy::BudgetNoticeText(kShopB, 1));
    EXPECT_EQ(policy.TakeBudgetNotice(budget, clock.NowMs(), kShopB), QString());
    MoveTo(clock, LocalMs(1, 0, 0));
    EXPECT_FALSE(policy.TakeBudgetNotice(budget, clock.NowMs(), kShopB).isEmpty());

    CloseStore();
    EXPECT_EQ(policy.Judge(both, clock.NowMs(), kShop, "v"), EGreetVerdict::Unknown);
    // With the rules off the store is not even asked.
    EXPECT_EQ(policy.Judge({}, clock.NowMs(), kShop, "v"), kQueue);
}

TEST_F(PolicyStoreTest, SettingsStartOffAndSurviveTheStoreAndAnUpgrade)
{
    CAdvancedSettings read{.bursts = true};
    ASSERT_TRUE(CSettingsTable().ReadAdvanced(read));
    EXPECT_EQ(read, CAdvancedSettings());

    const CAdvancedSettings chosen{.quietHours = true,
                                   .quietFrom = 22 * 60 + 30,
                                   .budget = 12,
                                   .onceDays = 3,
                                   .watchList = {"O'Brien", "<b>"},
                                   .keepDays = 90};
    ASSERT_TRUE(CSettingsTable().WriteAdvanced(chosen));
    CloseStore();
    ASSERT_TRUE(OpenStore(m_dir.path()));
    ASSERT_TRUE(CSettingsTable().ReadAdvanced(read));
    EXPECT_EQ(read, chosen);
    // A store without the table gets it back on the next start, every switch off.
    ASSERT_TRUE(g_pConnection->Execute(QStringLiteral("drop table [advsetting]")));
    CloseStore();
    ASSERT_TRUE(OpenStore(m_dir.path()));
    ASSERT_TRUE(CSettingsTable().ReadAdvanced(read));
    EXPECT_EQ(read, CAdvancedSettings());
    // A store from before automatic deletion gets its column, off, and keeps the rest.
    ASSERT_TRUE(g_pConnection->Execute(QStringLiteral("drop table [advsetting]")));
    ASSERT_TRUE(g_pConnection->Execute(QStringLiteral(
        "create table [advsetting] ([id] Long primary key, [quieton] YesNo default 0, [quietfrom] Long default 1380, "
        "[quietto] Long default 480, [burston] YesNo default 0, [budgeton] YesNo default 0, [budget] Long default 50, "
        "[onceon] YesNo default 0, [oncedays] Long default 7, [watchlist] Text default '')")));
    ASSERT_TRUE(g_pConnection->Execute(QStringLiteral("insert into [advsetting] ([id],[burston]) values (1,1)")));
    EXPECT_FALSE(CSettingsTable().ReadAdvanced(read));
    CloseStore();
    ASSERT_TRUE(OpenStore(m_dir.path()));
    ASSERT_TRUE(CSettingsTable().ReadAdvanced(read));
    EXPECT_EQ(read, CAdvancedSettings{.bursts = true});
    // Out of range it is held to 30-3650 days; 0 stays off.
    const std::pair<int, int> limits[] = {{1, 30}, {5000, 3650}, {0, 0}, {-4, 0}, {400, 400}};
    for (const auto& [asked, kept] : limits) {
        CAdvancedSettings limited{.keepDays = asked};
        limited.Normalise();
        EXPECT_EQ(limited.keepDays, kept) << asked;
    }
}

} // namespace
