// One poll of one account (RefreshShop) against rivuzovara-local on loopback,
// with a real Info.mdb and the real QQWry.Dat: the feed, the profile page of
// 30 visitors, the per-visitor look-ups and, when someone is new, the insert,
// the item title and the alert. Run with --benchmark_repetitions=N for the
// median. Start-up of the service is outside the timing.
#include "BenchMain.h"
#include "accounts/LiveSettings.h"
#include "iploc/IpLocator.h"
#include "monitor/RefreshShop.h"
#include "platform/AbortScope.h"
#include "store/AdoConnection.h"
#include "store/StoreStartup.h"

#include "support/LocalService.h"
#include "support/MonitorFakes.h"
#include "support/MonitorService.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

namespace {

constexpr int kListed = 30;

struct CPollWorld
{
    CLocalService service;
    QTemporaryDir dir;
    // The program's own choice: the ipdb data, QQWry.Dat without it.
    CIpLocator reader{QStringLiteral(MIREL_IPDB_FILE), QStringLiteral(MIREL_QQWRY_FILE)};
    std::unique_ptr<CRecordingNotifier> notifier;
    std::unique_ptr<CRecordingBridge> bridge;
    QString webId;
    bool ready = false;
    int next = 0;

    bool Build()
    {
        if (!service.Start()) {
            std::fprintf(stderr, "rivuzovara-local: %s\n", qPrintable(service.Error()));
            return false;
        }
        service.ApplyEndpoints();
        if (!dir.isValid() || !OpenStore(dir.path()) || !reader.IsOpen())
            return false;
        notifier = std::make_unique<CRecordingNotifier>();
        bridge = std::make_unique<CRecordingBridge>(&reader);
        webId = service.RegisterAccount(QStringLiteral("benchShop"), QStringLiteral("pw"));
        if (webId.isEmpty() || !SetItemTitle(service, 1, QStringLiteral("首页-纯棉T恤 - Lumo网")))
            return false;
        for (int i = 0; i < kListed; ++i)
            if (!AddImVisitor(service, QStringLiteral("benchHi"), QStringLiteral("访客%1").arg(next++),
                              QStringLiteral("id%1").arg(i)))
                return false;
        LiveSettings().clienttip.store(1);
        LiveSettings().guesttip.store(1);
        LiveSettings().greetingRunning.store(1);
        ready = true;
        return true;
    }
    void PageView() { service.RecordPageView(webId, QStringLiteral("61.135.169.125"), service.ImBase() + "/item/1"); }
    void Poll()
    {
        RefreshShop(webId, QStringLiteral("benchShop"), QStringLiteral("benchHi"), QStringLiteral("hi [username]"),
                    true);
    }
};

CPollWorld& World()
{
    static CPollWorld world;
    static const bool built = world.Build();
    (void)built;
    return world;
}

// Everybody on the page is known: the steady state of most polls.
void BM_PollNobodyNew(benchmark::State& state)
{
    CPollWorld& world = World();
    if (!world.ready) {
        state.SkipWithError("no local service or store");
        return;
    }
    world.PageView();
    world.Poll(); // records the listed visitors once
    for (auto _ : state)
        world.Poll();
    state.counters["visits"] = double(ReadRows(QStringLiteral("select [id] from [client]")).size());
}
BENCHMARK(BM_PollNobodyNew)->Unit(benchmark::kMillisecond)->UseRealTime();

// One new visitor on top of the page each poll: insert, greeting row, title, alert.
void BM_PollOneNewVisitor(benchmark::State& state)
{
    CPollWorld& world = World();
    if (!world.ready) {
        state.SkipWithError("no local service or store");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        const int n = world.next++;
        AddImVisitor(world.service, QStringLiteral("benchHi"), QStringLiteral("访客%1").arg(n),
                     QStringLiteral("n%1").arg(n));
        world.PageView();
        state.ResumeTiming();
        world.Poll();
    }
}
BENCHMARK(BM_PollOneNewVisitor)->Unit(benchmark::kMillisecond)->UseRealTime();

// A hostile profile page of 8 MiB: 170,000 bare entry markers; with names,
// every entry without a portrait and one portrait at the very end (the case a
// search past the entry's end would make quadratic).
QString HostileProfilePage(bool withNames)
{
    const QString prefix = QStringLiteral("http://im.example/sys/portraitn/item/");
    QString page;
    page.reserve(9 * 1024 * 1024);
    for (int i = 0; i < 170000; ++i) {
        page += kProfileEntryMarker;
        if (withNames)
            page += QStringLiteral("n\"");
    }
    if (withNames)
        page += prefix + QStringLiteral("id.jpg");
    return page;
}

void BM_ParseProfilePage8MiB(benchmark::State& state)
{
    const QString page = HostileProfilePage(state.range(0) != 0);
    const QString prefix = QStringLiteral("http://im.example/sys/portraitn/item/");
    qsizetype found = 0;
    for (auto _ : state) {
        QStringList names;
        QStringList ids;
        ParseProfileVisitors(page, prefix, names, ids);
        found = names.size();
    }
    state.counters["page_MiB"] = double(page.size()) / (1024 * 1024);
    state.counters["entries"] = double(found);
}
BENCHMARK(BM_ParseProfilePage8MiB)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// From a stop of the worker to the end of its parse of the 8 MiB page.
void BM_StopSeenWhileParsing(benchmark::State& state)
{
    const QString page = HostileProfilePage(true);
    const QString prefix = QStringLiteral("http://im.example/sys/portraitn/item/");
    double worstMs = 0;
    for (auto _ : state) {
        std::atomic<int> stop{0};
        std::atomic<bool> parsing{false};
        std::chrono::steady_clock::time_point ended;
        std::thread worker([&] {
            CAbortScope scope(&stop);
            while (stop.load() == 0) {
                QStringList names;
                QStringList ids;
                parsing = true;
                ParseProfileVisitors(page, prefix, names, ids);
            }
            ended = std::chrono::steady_clock::now();
        });
        while (!parsing.load())
            std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
        const auto raised = std::chrono::steady_clock::now();
        stop = 1;
        worker.join();
        const double ms = std::chrono::duration<double, std::milli>(ended - raised).count();
        state.SetIterationTime(ms / 1000.0);
        worstMs = std::max(worstMs, ms);
    }
    state.counters["worst_ms"] = worstMs;
}
BENCHMARK(BM_StopSeenWhileParsing)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    return RunBenchmarks<QCoreApplication>(argc, argv, [] { CloseStore(); });
}
