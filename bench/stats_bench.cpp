// The statistics page (访客统计) on a long history: MIREL_STATS_VISITS visits
// (1,000,000 unless told) over about 200 days, 5 shops, 37 regions, 997 items,
// a greeting for every tenth visit. Every visitor once per shop, as the
// monitoring records them, unless MIREL_STATS_RETURNING gives the percentage
// of visits by visitors back on a later day. Measures the statistics indexes'
// build on an existing store, the statements alone (CVisitStatistics::Load, per
// period and shop) and a full refresh of the page (statements on the worker,
// charts built on the window's thread). CPU is the whole process's: the
// statements run on several threads.
#include "BenchMain.h"
#include "stats/VisitStatistics.h"
#include "stats/ui/StatisticsDlg.h"
#include "store/AdoConnection.h"
#include "store/Schema.h"
#include "store/StoreStartup.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>

namespace {

const int kVisits = [] {
    bool ok = false;
    const int n = qEnvironmentVariableIntValue("MIREL_STATS_VISITS", &ok);
    return ok && n > 0 ? n : 1000000;
}();
const int kReturningPercent = std::clamp(qEnvironmentVariableIntValue("MIREL_STATS_RETURNING"), 0, 50);
const QDateTime kFirstVisit(QDate(2024, 1, 1), QTime(0, 0));
constexpr int kSecondsApart = 17;

// The day of the last visit stands for today, so every period has visits.
QDate LastDay()
{
    return kFirstVisit.addSecs(qint64(kVisits - 1) * kSecondsApart).date();
}

class CStatsBenchStore
{
public:
    CStatsBenchStore()
    {
        if (!m_dir.isValid() || !OpenStore(m_dir.path()))
            return;
        QElapsedTimer timer;
        timer.start();
        // Visitor i comes back as visitor i + M, to the same shop, weeks later.
        const QString visits =
            QStringLiteral("with recursive n(i) as (select 0 union all select i + 1 from n where i < %1) "
                           "insert into [client] ([guestname], [ip], [shopname], [lasttime], [count], [city], "
                           "[shopurl], [imuid]) select '访客' || (i % %2), '10.0.' || (i / 256 % 256) || '.' || "
                           "(i % 256), '店铺' || (i % 5), strftime('%Y-%m-%d %H:%M:%S', '2024-01-01', '+' || "
                           "(i * %3) || ' seconds'), 1, '地区' || (i % 37) || ' 电信', "
                           "'http://item.example/item.htm?id=' || (i % 997), printf('%x', i) from n")
                .arg(kVisits - 1)
                .arg(std::max(5, kVisits / 500 * (100 - kReturningPercent) * 5))
                .arg(kSecondsApart);
        const QString greetings =
            QStringLiteral("with recursive n(i) as (select 0 union all select i + 10 from n where i < %1) "
                           "insert into [greetlog] ([shopname], [guestname], [senttime], [ok]) select '店铺' || "
                           "(i % 5), '访客' || i, strftime('%Y-%m-%d %H:%M:%S', '2024-01-01', '+' || (i * %2 + 5) "
                           "|| ' seconds'), i % 7 <> 0 from n")
                .arg(kVisits - 1)
                .arg(kSecondsApart);
        m_ok = g_pConnection->Execute(visits) && g_pConnection->Execute(greetings);
        for (int shop = 0; shop < 5 && m_ok; ++shop)
            m_ok =
                g_pConnection->Execute(QStringLiteral("insert into [user] ([username]) values ('店铺%1')").arg(shop));
        m_fillSeconds = timer.elapsed() / 1000.0;
    }
    bool Ok() const { return m_ok; }
    double FillSeconds() const { return m_fillSeconds; }

private:
    QTemporaryDir m_dir;
    bool m_ok = false;
    double m_fillSeconds = 0;
};

CStatsBenchStore& Store()
{
    static CStatsBenchStore store;
    return store;
}

// Waits, without spinning, until the page has refreshed count times in all.
bool WaitForRefreshes(CStatisticsDlg& page, const int& refreshed, int count)
{
    QEventLoop loop;
    QTimer tick;
    QObject::connect(&page, &CStatisticsDlg::Refreshed, &loop, &QEventLoop::quit);
    QObject::connect(&tick, &QTimer::timeout, &loop, &QEventLoop::quit);
    tick.start(1000);
    QElapsedTimer waited;
    for (waited.start(); refreshed < count && waited.elapsed() < 120000;)
        loop.exec();
    return refreshed >= count;
}

// An existing store's first visit to the page: the statistics indexes built on
// a worker's own connection (the upgrade gave the store only the visitor list's).
void BM_StatisticsIndexBuild(benchmark::State& state)
{
    if (!Store().Ok()) {
        state.SkipWithError("store not filled");
        return;
    }
    QStringList work;
    for (auto _ : state) {
        state.PauseTiming();
        for (const QString& name : StatisticsIndexNames())
            g_pConnection->Execute(QStringLiteral("drop index if exists [%1]").arg(name));
        g_pConnection->Execute(ClientIndexStatements()[0]);
        state.ResumeTiming();
        work = CVisitStatistics::IndexWork();
        if (!CVisitStatistics::BuildIndexes(work))
            state.SkipWithError("indexes not built");
    }
    state.counters["statements"] = work.size();
}
BENCHMARK(BM_StatisticsIndexBuild)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

// range(0): the period; range(1): 1 for one shop, 0 for every shop.
void BM_StatisticsStatements(benchmark::State& state)
{
    if (!Store().Ok()) {
        state.SkipWithError("store not filled");
        return;
    }
    const CStatsQuery query{state.range(1) ? QStringLiteral("店铺1") : QString(), EStatsPeriod(state.range(0)),
                            LastDay()};
    CVisitStats stats;
    for (auto _ : state) {
        stats = CVisitStatistics::Load(query);
        if (!stats.ok)
            state.SkipWithError("statements failed");
    }
    state.counters["visits"] = stats.totalVisits;
    state.counters["store_fill_s"] = Store().FillSeconds();
    state.counters["returning_pct"] = kReturningPercent;
}
BENCHMARK(BM_StatisticsStatements)
    ->ArgNames({"period", "one_shop"})
    ->Args({int(EStatsPeriod::All), 0})
    ->Args({int(EStatsPeriod::All), 1})
    ->Args({int(EStatsPeriod::Last30Days), 0})
    ->Args({int(EStatsPeriod::Today), 0})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

// 全部 for every shop with the statements read on at most range(0) threads at once.
void BM_StatisticsReaders(benchmark::State& state)
{
    if (!Store().Ok()) {
        state.SkipWithError("store not filled");
        return;
    }
    CVisitStatistics::SetMaxReaders(int(state.range(0)));
    for (auto _ : state) {
        if (!CVisitStatistics::Load({QString(), EStatsPeriod::All, LastDay()}).ok)
            state.SkipWithError("statements failed");
    }
    CVisitStatistics::SetMaxReaders(0);
}
BENCHMARK(BM_StatisticsReaders)
    ->ArgName("readers")
    ->Arg(1)
    ->Arg(2)
    ->Arg(6)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

// What the owner waits for: the page asks, the worker reads, the charts are drawn.
void BM_StatisticsPageRefresh(benchmark::State& state)
{
    if (!Store().Ok()) {
        state.SkipWithError("store not filled");
        return;
    }
    CStatisticsDlg page;
    page.PeriodCombo()->setCurrentIndex(3); // 全部
    page.resize(800, 480);
    int refreshed = 0;
    QObject::connect(&page, &CStatisticsDlg::Refreshed, &page, [&refreshed] { ++refreshed; });
    page.show();
    WaitForRefreshes(page, refreshed, 1);
    for (auto _ : state) {
        page.Refresh();
        if (!WaitForRefreshes(page, refreshed, refreshed + 1))
            state.SkipWithError("no refresh within 120 s");
    }
    state.counters["visits"] = page.Stats().totalVisits;
}
BENCHMARK(BM_StatisticsPageRefresh)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

} // namespace

int main(int argc, char** argv)
{
    return RunBenchmarks<QApplication>(argc, argv, [] { CloseStore(); });
}
