#pragma once
// The statistics page (访客统计): charts of the visits of one shop or of all,
// over a period; the first four charts show the visits or the page views (统计:
// 访客 / 浏览量), switched without reading again. The numbers are read off the window's thread when the page
// is shown, when the shop or period changes, and every 10 s while it shows
// if visits or greetings were recorded meanwhile. Before its first reading of
// a store that lacks the statistics indexes it has them built, on the worker,
// saying so. Window's thread.
#include "platform/OneShot.h"
#include "stats/VisitStatistics.h"

#include <QTimer>
#include <QWidget>

#include <array>

class CStatisticsChartView;
class QComboBox;
class QLabel;
class QStackedWidget;

class CStatisticsDlg : public QWidget
{
    Q_OBJECT
public:
    enum EChart
    {
        kDailyChart = 0,
        kHourlyChart,
        kItemsChart,
        kRegionsChart,
        kVisitorsChart,
        kGreetingsChart,
        kChartCount
    };
    static constexpr int kWatchIntervalMs = 10000;

    explicit CStatisticsDlg(QWidget* parent = nullptr);
    ~CStatisticsDlg() override;

    // Reads the numbers again for the shop and period shown.
    void Refresh();
    const CVisitStats& Stats() const { return m_stats; }
    CStatisticsChartView* Chart(int chart) const;
    QComboBox* ShopCombo() const { return m_shopCombo; }
    QComboBox* PeriodCombo() const { return m_periodCombo; }
    // 访客 (0) or 浏览量 (1).
    QComboBox* CountCombo() const { return m_countCombo; }
    QLabel* EmptyLabel() const { return m_emptyLabel; }
    // The addresses of the item bars (of the visits or the views shown), most first.
    QStringList ItemAddresses() const;
    // Opens the address of an item bar (index into ItemAddresses) in the browser, when it is http/https.
    void OpenItem(int index);

    // How often the page looks for new visits while it shows (tests shorten it).
    void SetWatchInterval(int ms) { m_watch.setInterval(ms); }

Q_SIGNALS:
    // New numbers are on screen.
    void Refreshed();
    // The store is being prepared for the statistics (once); the page says so meanwhile.
    void Preparing();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    CStatsQuery CurrentQuery() const;
    void StartLoad(bool force);
    void StartPending();
    void PrepareIndexes(const QStringList& work);
    void OnLoaded(const CStatsQuery& query, const CVisitStats& stats, bool unchanged);
    void UpdateShops(const QStringList& shops);
    bool ShowsViews() const;
    void ShowStats();
    void SetChart(int chart, class QChart* newChart);

    QComboBox* m_shopCombo;
    QComboBox* m_periodCombo;
    QComboBox* m_countCombo;
    QStackedWidget* m_stack;
    QLabel* m_emptyLabel;
    std::array<CStatisticsChartView*, kChartCount> m_views{};
    QTimer m_watch;
    COneShot m_loader;
    bool m_pending = false;
    bool m_pendingForce = false;
    bool m_indexesChecked = false;
    CVisitStats m_stats;
};
