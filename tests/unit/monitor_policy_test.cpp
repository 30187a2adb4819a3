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

#include <QDateTime>

#include <ostream>

void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

const QString kShop = QStringLiteral("店A");
const QString kOrdinary = QStringLiteral("新客户[甲]\r\nIP:1.2.3.4\r\n来自:北京\r\n访问[店A]的网店\r\n商品:杯");
const QString kGuest = QStringLiteral("guest");

// Local time on the test's first day (day 0) or later.
qint64 LocalMs(int day, int hour, int minute, int second = 0)
{
    return QDateTime(QDate(2026, 3, 10).addDays(day), QTime(hour, minute, second)).toMSecsSinceEpoch();
}

void MoveTo(CFastClock& clock, qint64 ms)
{
    clock.Advance(ms - clock.NowMs());
}

enum class EStep
{
    Poll,   // new visitors (first listed is the page's first); the ordinary alert unless noTip
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

CAdvancedSettings Quiet(QStringList watch = {})
{
    CAdvancedSettings s;
    s.quietHours = true;
    s.watchList = watch;
    return s;
}

CAdvancedSettings Bursts(QStringList watch = {})
{
    CAdvancedSettings s;
    s.bursts = true;
    s.watchList = watch;
    return s;
}

const QString kWatchedOrdinary = QStringLiteral("关注客户") + kOrdinary.mid(3);

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
            const QString first = step.newNames.value(0);
            for (const COwnerAlert& alert : policy.ForNewVisitors(settings, clock.NowMs(), kShop, step.newNames, first,
                                                                  step.noTip ? QString() : kOrdinary)) {
                texts.append(alert.text);
                // A click opens the chat with the one the alert is about.
                EXPECT_EQ(alert.shop, kShop);
                EXPECT_TRUE(step.newNames.contains(alert.visitor)) << alert.visitor.toStdString();
            }
        } else if (step.kind == EStep::Guest) {
            if (policy.AllowGuestAlert(settings, clock.NowMs()))
                texts.append(kGuest);
        } else {
            const QString summary = policy.TakeQuietSummary(settings, clock.NowMs());
            if (!summary.isEmpty())
                texts.append(summary);
        }
        EXPECT_EQ(texts, step.expected) << "step " << index << " at day " << step.day << " " << step.hour << ":"
                                        << step.minute;
        ++index;
    }
}

const QStringList kFour{QStringLiteral("甲"), QStringLiteral("乙"), QStringLiteral("丙"), QStringLiteral("丁")};

INSTANTIATE_TEST_SUITE_P(
    Rules, AlertPolicyTest,
    ::testing::Values(
        // Everything off: the poll's own alert, every guest, no sum-up, at any hour.
        CAlertCase{"allOff",
                   CAdvancedSettings(),
                   {{0, 2, 0, EStep::Poll, kFour, {kOrdinary}},
                    {0, 2, 1, EStep::Poll, {QStringLiteral("甲")}, {}, true},
                    {0, 2, 2, EStep::Guest, {}, {kGuest}},
                    {0, 9, 0, EStep::Summary, {}, {}}}},
        // 23:00-08:00 spans midnight: held back on both sides of it, summed up once at 08:00.
        CAlertCase{"quietAcrossMidnight",
                   Quiet(),
                   {{0, 22, 59, EStep::Poll, {QStringLiteral("甲")}, {kOrdinary}},
                    {0, 23, 0, EStep::Poll, {QStringLiteral("甲"), QStringLiteral("乙")}, {}},
                    {1, 0, 30, EStep::Summary, {}, {}},
                    {1, 3, 0, EStep::Guest, {}, {}},
                    {1, 7, 59, EStep::Poll, {QStringLiteral("甲")}, {}},
                    {1, 8, 0, EStep::Summary, {}, {CAlertPolicy::QuietSummaryText(4)}},
                    {1, 8, 1, EStep::Summary, {}, {}},
                    {1, 8, 2, EStep::Guest, {}, {kGuest}}}},
        // A watched visitor alerts in quiet hours too; the others are counted.
        CAlertCase{"watchOverridesQuiet",
                   Quiet({QStringLiteral("甲")}),
                   {{1, 1, 0, EStep::Poll, {QStringLiteral("甲"), QStringLiteral("乙")}, {kWatchedOrdinary}},
                    {1, 2, 0, EStep::Poll, {QStringLiteral("乙"), QStringLiteral("丙")}, {}},
                    {1, 8, 0, EStep::Summary, {}, {CAlertPolicy::QuietSummaryText(3)}}}},
        // Three new visitors are no burst; four are, named by the first three.
        CAlertCase{"burstThreshold",
                   Bursts(),
                   {{0, 12, 1, EStep::Poll, kFour.mid(0, 3), {kOrdinary}},
                    {0, 12, 2, EStep::Poll, kFour, {QStringLiteral("4位新客户访问[店A]的网店\r\n甲、乙、丙等")}}}},
        // During a burst a watched visitor still gets an alert of their own, last.
        CAlertCase{"watchDuringBurst",
                   Bursts({QStringLiteral("丁")}),
                   {{0,
                     12,
                     1,
                     EStep::Poll,
                     kFour,
                     {QStringLiteral("4位新客户访问[店A]的网店\r\n甲、乙、丙等"),
                      QStringLiteral("关注客户[丁]\r\n访问[店A]的网店")}}}}),
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

CAdvancedSettings Budget(int budget)
{
    CAdvancedSettings s;
    s.dailyBudget = true;
    s.budget = budget;
    return s;
}

CAdvancedSettings OncePerPerson(int days)
{
    CAdvancedSettings s;
    s.oncePerPerson = true;
    s.onceDays = days;
    return s;
}

const QString kShopB = QStringLiteral("店B");
const QString kV = QStringLiteral("O'Brien");
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
            const QString time = QDateTime::fromMSecsSinceEpoch(clock.NowMs()).toString("yyyy-MM-dd HH:mm:ss");
            ASSERT_TRUE(g_pConnection->Execute(
                QStringLiteral("insert into [greetlog] ([shopname],[guestname],[senttime],[ok]) values "
                               "('%1','%2','%3',%4)")
                    .arg(SqlText(step.shop), SqlText(step.visitor), time, step.ok ? "1" : "0")));
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
                                        Budget(2),
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
                                        OncePerPerson(7),
                                        {{true, 0, 10, 0, 0, kShopB, kV, true, kQueue},
                                         {true, 0, 10, 0, 0, kShopB, "x", false, kQueue},
                                         {false, 7, 9, 59, 0, kShop, kV, false, EGreetVerdict::GreetedRecently},
                                         {false, 7, 9, 59, 0, kShop, "x", false, kQueue},
                                         {false, 7, 10, 0, 1, kShop, kV, false, kQueue}}},
                             CGreetCase{"allOff",
                                        CAdvancedSettings(),
                                        {{true, 0, 10, 0, 0, kShop, kV, true, kQueue},
                                         {false, 0, 10, 0, 1, kShop, kV, false, kQueue}}}),
                         [](const ::testing::TestParamInfo<CGreetCase>& info) { return std::string(info.param.name); });

TEST_F(PolicyStoreTest, QueuedGreetingsCountAndAStoreThatDoesNotAnswerQueuesNothing)
{
    CFastClock clock(LocalMs(0, 9, 0));
    CGreetingPolicy policy;
    CAdvancedSettings both = Budget(1);
    both.oncePerPerson = true;
    ASSERT_EQ(policy.Judge(both, clock.NowMs(), kShop, kV), kQueue);
    // Queued in the same poll by another shop: greeted already, and the shop's budget is spent.
    ASSERT_TRUE(g_pConnection->Execute(
        QStringLiteral("insert into [AutoSend] values ('%1','%2','hi')").arg(SqlText(kV), kShopB)));
    EXPECT_EQ(policy.Judge(OncePerPerson(7), clock.NowMs(), kShop, kV), EGreetVerdict::GreetedRecently);
    EXPECT_EQ(policy.Judge(Budget(1), clock.NowMs(), kShopB, "y"), EGreetVerdict::OverBudget);
    // The status bar hears of it once a day.
    EXPECT_EQ(policy.TakeBudgetNotice(Budget(1), clock.NowMs(), kShopB), CGreetingPolicy::BudgetNoticeText(kShopB, 1));
    EXPECT_EQ(policy.TakeBudgetNotice(Budget(1), clock.NowMs(), kShopB), QString());
    MoveTo(clock, LocalMs(1, 0, 0));
    EXPECT_FALSE(policy.TakeBudgetNotice(Budget(1), clock.NowMs(), kShopB).isEmpty());

    CloseStore();
    EXPECT_EQ(policy.Judge(both, clock.NowMs(), kShop, kV), EGreetVerdict::Unknown);
    // With the rules off the store is not even asked.
    EXPECT_EQ(policy.Judge(CAdvancedSettings(), clock.NowMs(), kShop, kV), kQueue);
}

TEST_F(PolicyStoreTest, SettingsStartOffAndSurviveTheStoreAndAnUpgrade)
{
    CAdvancedSettings read;
    read.bursts = true;
    ASSERT_TRUE(ReadAdvancedSettings(read));
    EXPECT_EQ(read, CAdvancedSettings());

    CAdvancedSettings chosen = Quiet({QStringLiteral("O'Brien"), QStringLiteral("<b>甲</b>")});
    chosen.quietFrom = 22 * 60 + 30;
    chosen.bursts = chosen.dailyBudget = chosen.oncePerPerson = true;
    chosen.budget = 12;
    chosen.onceDays = 3;
    ASSERT_TRUE(WriteAdvancedSettings(chosen));
    // A store whose row went missing gets it back on the next start, every switch off.
    CloseStore();
    ASSERT_TRUE(OpenStore(m_dir.path()));
    ASSERT_TRUE(ReadAdvancedSettings(read));
    EXPECT_EQ(read, chosen);
    ASSERT_TRUE(g_pConnection->Execute(QStringLiteral("drop table [advsetting]")));
    CloseStore();
    ASSERT_TRUE(OpenStore(m_dir.path()));
    ASSERT_TRUE(ReadAdvancedSettings(read));
    EXPECT_EQ(read, CAdvancedSettings());
}

} // namespace
