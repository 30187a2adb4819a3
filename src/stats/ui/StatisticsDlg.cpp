#include "stats/ui/StatisticsDlg.h"

#include "controls/ui/OutsideText.h"
#include "net/WebAddress.h"
#include "platform/Clock.h"
#include "platform/Launcher.h"
#include "platform/OneShot.h"
#include "stats/ui/StatisticsChartView.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QComboBox>
#include <QDateTime>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHorizontalBarSeries>
#include <QLabel>
#include <QScrollArea>
#include <QStackedBarSeries>
#include <QStackedWidget>
#include <QUrl>
#include <QValueAxis>

namespace {

struct CLoadResult
{
    CVisitStats stats;
    bool unchanged = false;
    QStringList indexWork; // to do before the numbers are read
};

// Worker thread. Nothing recorded since the numbers on screen: nothing to read again.
CLoadResult LoadStatistics(const CStatsQuery& query, const CStatsMarks& known, bool checkIndexes)
{
    CLoadResult result;
    if (checkIndexes) {
        result.indexWork = CVisitStatistics::IndexWork();
        if (!result.indexWork.isEmpty())
            return result;
    }
    CStatsMarks now;
    result.unchanged = known.visit >= 0 && CVisitStatistics::ReadMarks(now) && now == known;
    if (!result.unchanged)
        result.stats = CVisitStatistics::Load(query);
    return result;
}

const char* const kChartNames[CStatisticsDlg::kChartCount] = {"dailyChartView",    "hourlyChartView",
                                                              "itemsChartView",    "regionsChartView",
                                                              "visitorsChartView", "greetingsChartView"};
const char* const kChartFiles[CStatisticsDlg::kChartCount] = {"daily",   "hourly",   "items",
                                                              "regions", "visitors", "greetings"};
constexpr int kChartMinHeight = 260;
constexpr int kItemLabelChars = 48;
// Up to this many days a bar is labelled "MM-dd".
constexpr int kFewBuckets = 10;

QFont AxisFont(int points)
{
    QFont font;
    font.setPointSize(points);
    return font;
}

QChart* NewChart(const QString& title, bool legend)
{
    auto* chart = new QChart;
    chart->setTitle(title);
    QFont font = chart->titleFont();
    font.setPointSize(10);
    font.setBold(true);
    chart->setTitleFont(font);
    chart->legend()->setVisible(legend);
    chart->legend()->setAlignment(Qt::AlignBottom);
    chart->setMargins(QMargins(4, 4, 4, 4));
    chart->setAnimationOptions(QChart::NoAnimation);
    return chart;
}

QValueAxis* CountAxis(const QString& title, int max)
{
    auto* axis = new QValueAxis;
    axis->setTitleText(title);
    axis->setTitleFont(AxisFont(8));
    axis->setLabelsFont(AxisFont(8));
    axis->setLabelFormat(QStringLiteral("%d"));
    // Whole numbers only: ticks at steps that divide the range.
    int top = std::max(max, 1);
    int ticks = std::min(top, 5);
    while (top % ticks != 0)
        ++top;
    axis->setRange(0, top);
    axis->setTickCount(ticks + 1);
    return axis;
}

// Category labels are drawn as markup by the charts: texts from outside go
// in escaped, numbered so that equal texts stay separate categories.
QBarCategoryAxis* CategoryAxis(const QString& title, const QStringList& labels, int points)
{
    auto* axis = new QBarCategoryAxis;
    axis->setTitleText(title);
    axis->setTitleFont(AxisFont(8));
    axis->setLabelsFont(AxisFont(points));
    axis->append(labels);
    return axis;
}

QBarSet* NewSet(const QString& name, const QColor& colour)
{
    auto* set = new QBarSet(name);
    set->setColor(colour);
    set->setBorderColor(colour.darker(120));
    return set;
}

void AddVertical(QChart* chart, QAbstractBarSeries* series, QBarCategoryAxis* categories, QValueAxis* values)
{
    chart->addSeries(series);
    chart->addAxis(categories, Qt::AlignBottom);
    chart->addAxis(values, Qt::AlignLeft);
    series->attachAxis(categories);
    series->attachAxis(values);
}

// The address as a short label: without its scheme, its end kept when long.
QString ItemLabel(const QString& address)
{
    QString label = address;
    for (const QLatin1String scheme : {QLatin1String("https://"), QLatin1String("http://")}) {
        if (label.startsWith(scheme, Qt::CaseInsensitive)) {
            label = label.mid(scheme.size());
            break;
        }
    }
    if (label.size() > kItemLabelChars)
        label = QStringLiteral("…") + label.right(kItemLabelChars - 1);
    return label;
}

// "yyyy-MM" for a month; "MM-dd" for a day, or only the day of the month when
// there are many (more than fit side by side).
QString BucketLabel(const QString& key, bool byMonth, bool many)
{
    return byMonth ? key : many ? key.mid(8) : key.mid(5);
}

} // namespace

CStatisticsDlg::CStatisticsDlg(QWidget* parent)
    : QWidget(parent), m_shopCombo(new QComboBox(this)), m_periodCombo(new QComboBox(this)),
      m_countCombo(new QComboBox(this)), m_stack(new QStackedWidget(this)), m_emptyLabel(new QLabel(this))
{
    setObjectName(QStringLiteral("CStatisticsDlg"));
    m_shopCombo->setObjectName(QStringLiteral("shopCombo"));
    m_periodCombo->setObjectName(QStringLiteral("periodCombo"));
    m_shopCombo->addItem(QStringLiteral("全部店铺"));
    m_shopCombo->setMinimumContentsLength(12);
    m_shopCombo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    const std::pair<const char*, EStatsPeriod> periods[] = {{"今天", EStatsPeriod::Today},
                                                            {"最近7天", EStatsPeriod::Last7Days},
                                                            {"最近30天", EStatsPeriod::Last30Days},
                                                            {"全部", EStatsPeriod::All}};
    for (const auto& [text, period] : periods)
        m_periodCombo->addItem(QString::fromUtf8(text), int(period));
    m_periodCombo->setCurrentIndex(1);
    m_countCombo->setObjectName(QStringLiteral("countCombo"));
    m_countCombo->addItems({QStringLiteral("访客"), QStringLiteral("浏览量")});

    auto* controls = new QHBoxLayout;
    auto* shopLabel = new QLabel(QStringLiteral("店铺:"), this);
    shopLabel->setBuddy(m_shopCombo);
    controls->addWidget(shopLabel);
    controls->addWidget(m_shopCombo);
    controls->addSpacing(16);
    auto* periodLabel = new QLabel(QStringLiteral("时段:"), this);
    periodLabel->setBuddy(m_periodCombo);
    controls->addWidget(periodLabel);
    controls->addWidget(m_periodCombo);
    controls->addSpacing(16);
    auto* countLabel = new QLabel(QStringLiteral("统计:"), this);
    countLabel->setBuddy(m_countCombo);
    controls->addWidget(countLabel);
    controls->addWidget(m_countCombo);
    controls->addStretch(1);

    auto* charts = new QWidget;
    auto* grid = new QGridLayout(charts);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(4);
    for (int i = 0; i < kChartCount; ++i) {
        m_views[i] = new CStatisticsChartView(QLatin1String(kChartFiles[i]), charts);
        m_views[i]->setObjectName(QLatin1String(kChartNames[i]));
        m_views[i]->setMinimumHeight(kChartMinHeight);
    }
    // One chart a row: at the window's default size narrower charts elide their labels.
    for (int i = 0; i < kChartCount; ++i)
        grid->addWidget(m_views[i], i, 0);
    auto* scroll = new QScrollArea;
    scroll->setObjectName(QStringLiteral("chartsArea"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(charts);

    m_emptyLabel->setObjectName(QStringLiteral("emptyLabel"));
    m_emptyLabel->setAlignment(Qt::AlignCenter);
    m_emptyLabel->setTextFormat(Qt::PlainText);
    m_emptyLabel->setText(QStringLiteral("正在读取访问记录......"));
    m_stack->addWidget(m_emptyLabel);
    m_stack->addWidget(scroll);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addLayout(controls);
    layout->addWidget(m_stack, 1);

    connect(m_shopCombo, &QComboBox::currentIndexChanged, this, [this] { StartLoad(true); });
    connect(m_periodCombo, &QComboBox::currentIndexChanged, this, [this] { StartLoad(true); });
    // Both are read each time: switching only draws.
    connect(m_countCombo, &QComboBox::currentIndexChanged, this, [this] {
        if (m_stats.ok)
            ShowStats();
    });
    m_watch.setInterval(kWatchIntervalMs);
    connect(&m_watch, &QTimer::timeout, this, [this] { StartLoad(false); });
}

CStatisticsDlg::~CStatisticsDlg()
{
    m_loader.Stop();
}

CStatisticsChartView* CStatisticsDlg::Chart(int chart) const
{
    return chart >= 0 && chart < kChartCount ? m_views[chart] : nullptr;
}

QStringList CStatisticsDlg::ItemAddresses() const
{
    QStringList addresses;
    for (const CStatsCount& item : ShowsViews() ? m_stats.topViewedItems : m_stats.topItems)
        addresses << item.key;
    return addresses;
}

void CStatisticsDlg::OpenItem(int index)
{
    const QString address = ItemAddresses().value(index);
    if (!IsWebAddress(address))
        return;
    OpenWithDesktop(address, false, 0);
}

void CStatisticsDlg::Refresh()
{
    StartLoad(true);
}

void CStatisticsDlg::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    StartLoad(true);
    m_watch.start();
}

void CStatisticsDlg::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    m_watch.stop();
}

CStatsQuery CStatisticsDlg::CurrentQuery() const
{
    CStatsQuery query;
    if (m_shopCombo->currentIndex() > 0)
        query.shop = m_shopCombo->currentText();
    query.period = EStatsPeriod(m_periodCombo->currentData().toInt());
    query.today = QDateTime::fromMSecsSinceEpoch(Clock().NowMs()).toLocalTime().date();
    return query;
}

void CStatisticsDlg::StartLoad(bool force)
{
    // One reading at a time; a request meanwhile runs when it ends.
    if (m_loader.IsRunning()) {
        m_pending = true;
        m_pendingForce = m_pendingForce || force;
        return;
    }
    const CStatsQuery query = CurrentQuery();
    const CStatsMarks known = force ? CStatsMarks{} : m_stats.marks;
    const bool checkIndexes = !m_indexesChecked;
    m_loader = RunThenCallback(
        this, [query, known, checkIndexes] { return LoadStatistics(query, known, checkIndexes); },
        [this, query, checkIndexes](const CLoadResult& result) {
            if (!result.indexWork.isEmpty()) {
                PrepareIndexes(result.indexWork);
                return;
            }
            m_indexesChecked = m_indexesChecked || checkIndexes;
            OnLoaded(query, result.stats, result.unchanged);
            StartPending();
        });
}

void CStatisticsDlg::StartPending()
{
    if (!m_pending)
        return;
    const bool again = m_pendingForce;
    m_pending = m_pendingForce = false;
    StartLoad(again);
}

void CStatisticsDlg::PrepareIndexes(const QStringList& work)
{
    // Once per store: seconds on a long history, on the worker; the numbers follow.
    m_emptyLabel->setText(QStringLiteral("首次打开,正在整理访问记录以便统计,请稍候......"));
    m_stack->setCurrentWidget(m_emptyLabel);
    Q_EMIT Preparing();
    m_loader = RunThenCallback(
        this, [work] { return CVisitStatistics::BuildIndexes(work); },
        [this](bool) {
            // Built or not (logged), the numbers are read now; without the indexes only slower.
            m_indexesChecked = true;
            m_pending = m_pendingForce = false;
            StartLoad(true);
        });
}

void CStatisticsDlg::OnLoaded(const CStatsQuery& query, const CVisitStats& stats, bool unchanged)
{
    // A reading for a shop or period no longer selected is followed by one that is.
    const CStatsQuery current = CurrentQuery();
    if (unchanged || query.shop != current.shop || query.period != current.period)
        return;
    if (!stats.ok) {
        m_stats.marks = {};
        m_stats.ok = false;
        m_emptyLabel->setText(QStringLiteral("无法读取访问记录"));
        m_stack->setCurrentWidget(m_emptyLabel);
        Q_EMIT Refreshed();
        return;
    }
    m_stats = stats;
    UpdateShops(stats.shops);
    ShowStats();
    Q_EMIT Refreshed();
}

void CStatisticsDlg::UpdateShops(const QStringList& shops)
{
    QStringList shown;
    for (int i = 1; i < m_shopCombo->count(); ++i)
        shown << m_shopCombo->itemText(i);
    if (shown == shops)
        return;
    const QString current = m_shopCombo->currentIndex() > 0 ? m_shopCombo->currentText() : QString();
    const QSignalBlocker blocker(m_shopCombo);
    while (m_shopCombo->count() > 1)
        m_shopCombo->removeItem(1);
    m_shopCombo->addItems(shops);
    const int index = current.isEmpty() ? 0 : m_shopCombo->findText(current, Qt::MatchExactly);
    m_shopCombo->setCurrentIndex(std::max(index, 0));
    // The shown shop's account is gone: show every shop's numbers instead.
    if (index < 0)
        StartLoad(true);
}

void CStatisticsDlg::SetChart(int chart, QChart* newChart)
{
    // The view gives the previous chart back instead of deleting it.
    QChart* old = m_views[chart]->chart();
    m_views[chart]->setChart(newChart);
    // A screen reader hears the chart's title; the picture itself says nothing.
    if (newChart)
        m_views[chart]->setAccessibleName(newChart->title());
    delete old;
}

bool CStatisticsDlg::ShowsViews() const
{
    return m_countCombo->currentIndex() == 1;
}

void CStatisticsDlg::ShowStats()
{
    const bool views = ShowsViews();
    if ((views ? m_stats.totalViews : m_stats.totalVisits) == 0) {
        m_emptyLabel->setText(views ? QStringLiteral("该时段没有浏览记录") : QStringLiteral("该时段没有访问记录"));
        m_stack->setCurrentWidget(m_emptyLabel);
        return;
    }
    const bool byMonth = m_stats.byMonth;
    QString timeTitle = byMonth ? QStringLiteral("月份") : QStringLiteral("日期");
    if (!byMonth && m_stats.buckets.size() > kFewBuckets) {
        timeTitle = QStringLiteral("日期(%1 至 %2)")
                        .arg(m_stats.buckets.constFirst().key.mid(5), m_stats.buckets.constLast().key.mid(5));
    }
    const QString countTitle = views ? QStringLiteral("浏览次数") : QStringLiteral("访问次数");
    QStringList bucketLabels;
    int maxCounts = 0;
    int maxVisits = 0;
    int maxGreetings = 0;
    auto* counts = NewSet(views ? QStringLiteral("浏览量") : QStringLiteral("访客"), QColor(52, 120, 198));
    auto* newSet = NewSet(QStringLiteral("新访客"), QColor(52, 120, 198));
    auto* returning = NewSet(QStringLiteral("回头客"), QColor(240, 150, 40));
    auto* sent = NewSet(QStringLiteral("已发送"), QColor(60, 160, 80));
    auto* failed = NewSet(QStringLiteral("未发送"), QColor(200, 70, 60));
    const bool manyBuckets = m_stats.buckets.size() > kFewBuckets;
    for (const CStatsBucket& bucket : std::as_const(m_stats.buckets)) {
        bucketLabels << BucketLabel(bucket.key, byMonth, manyBuckets);
        *counts << (views ? bucket.views : bucket.visits);
        *newSet << bucket.newVisitors;
        *returning << bucket.returning;
        *sent << bucket.greetingsSent;
        *failed << bucket.greetingsFailed;
        maxCounts = std::max(maxCounts, views ? bucket.views : bucket.visits);
        maxVisits = std::max(maxVisits, bucket.visits);
        maxGreetings = std::max(maxGreetings, bucket.greetingsSent + bucket.greetingsFailed);
    }
    const int bucketFont = manyBuckets ? 7 : 8;

    const QString dailyTitle = views ? (byMonth ? QStringLiteral("每月浏览量") : QStringLiteral("每日浏览量"))
                                     : (byMonth ? QStringLiteral("每月访问量") : QStringLiteral("每日访问量"));
    QChart* daily = NewChart(dailyTitle, false);
    auto* dailySeries = new QBarSeries;
    dailySeries->append(counts);
    AddVertical(daily, dailySeries, CategoryAxis(timeTitle, bucketLabels, bucketFont),
                CountAxis(countTitle, maxCounts));
    SetChart(kDailyChart, daily);

    QChart* hourly = NewChart(views ? QStringLiteral("各时段浏览量") : QStringLiteral("各时段访问量"), false);
    auto* hours = NewSet(views ? QStringLiteral("浏览量") : QStringLiteral("访客"), QColor(90, 90, 200));
    const std::array<int, 24>& hourCounts = views ? m_stats.viewHours : m_stats.hours;
    QStringList hourLabels;
    int maxHour = 0;
    for (int h = 0; h < 24; ++h) {
        hourLabels << QString::number(h);
        *hours << hourCounts[h];
        maxHour = std::max(maxHour, hourCounts[h]);
    }
    auto* hourSeries = new QBarSeries;
    hourSeries->append(hours);
    hourSeries->setBarWidth(0.8);
    // 24 labels fit the default width only in a small font.
    AddVertical(hourly, hourSeries, CategoryAxis(QStringLiteral("小时"), hourLabels, 7),
                CountAxis(countTitle, maxHour));
    SetChart(kHourlyChart, hourly);

    // Horizontal bars fill from the bottom: the first of the list goes last.
    const auto topChart = [this, &countTitle](int chart, const QString& title, const QString& axisTitle,
                                              const QList<CStatsCount>& top, bool items) {
        QChart* c = NewChart(title, false);
        auto* set = NewSet(countTitle, items ? QColor(52, 150, 170) : QColor(150, 100, 190));
        QStringList labels;
        int max = 0;
        for (qsizetype i = top.size() - 1; i >= 0; --i) {
            const QString text = items ? ItemLabel(top[i].key) : top[i].key;
            labels << QStringLiteral("%1. %2").arg(i + 1).arg(TextAsMarkup(text));
            *set << top[i].count;
            max = std::max(max, top[i].count);
        }
        auto* series = new QHorizontalBarSeries;
        series->append(set);
        c->addSeries(series);
        QBarCategoryAxis* names = CategoryAxis(axisTitle, labels, 8);
        QValueAxis* countAxis = CountAxis(countTitle, max);
        c->addAxis(names, Qt::AlignLeft);
        c->addAxis(countAxis, Qt::AlignBottom);
        series->attachAxis(names);
        series->attachAxis(countAxis);
        if (items) {
            const qsizetype count = top.size();
            connect(series, &QAbstractBarSeries::doubleClicked, this,
                    [this, count](int index, QBarSet*) { OpenItem(int(count - 1 - index)); });
            connect(series, &QAbstractBarSeries::hovered, this, [this, count](bool on, int index, QBarSet*) {
                const QString address = ItemAddresses().value(int(count - 1 - index));
                m_views[kItemsChart]->setToolTip(on ? TextAsTooltip(address) : QString());
            });
        }
        SetChart(chart, c);
    };
    if (views) {
        topChart(kItemsChart, QStringLiteral("浏览最多的商品(双击打开)"), QStringLiteral("商品"),
                 m_stats.topViewedItems, true);
        topChart(kRegionsChart, QStringLiteral("浏览量最多的地区"), QStringLiteral("地区"), m_stats.topViewRegions,
                 false);
    } else {
        topChart(kItemsChart, QStringLiteral("访问最多的商品(双击打开)"), QStringLiteral("商品"), m_stats.topItems,
                 true);
        topChart(kRegionsChart, QStringLiteral("访客最多的地区"), QStringLiteral("地区"), m_stats.topRegions, false);
    }

    QChart* visitors = NewChart(QStringLiteral("新访客与回头客"), true);
    auto* visitorSeries = new QStackedBarSeries;
    visitorSeries->append({newSet, returning});
    AddVertical(visitors, visitorSeries, CategoryAxis(timeTitle, bucketLabels, bucketFont),
                CountAxis(QStringLiteral("访客数"), maxVisits));
    SetChart(kVisitorsChart, visitors);

    QChart* greetings = NewChart(byMonth ? QStringLiteral("每月打招呼") : QStringLiteral("每日打招呼"), true);
    auto* greetingSeries = new QStackedBarSeries;
    greetingSeries->append({sent, failed});
    AddVertical(greetings, greetingSeries, CategoryAxis(timeTitle, bucketLabels, bucketFont),
                CountAxis(QStringLiteral("打招呼次数"), maxGreetings));
    SetChart(kGreetingsChart, greetings);

    m_stack->setCurrentIndex(1);
}
