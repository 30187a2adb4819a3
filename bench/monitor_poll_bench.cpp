// One poll of one account (RefreshShop) against rivuzovara-local on loopback,
// with a real Info.mdb and the real QQWry.Dat: the feed, the profile page of
// 30 visitors, the per-visitor look-ups and, when someone is new, the insert,
// the item title and the alert. Run with --benchmark_repetitions=N for the
// median. Start-up of the service is outside the timing.
#include "accounts/LiveSettings.h"
#include "iploc/QQwry.h"
#include "monitor/RefreshShop.h"
#include "store/AdoConnection.h"
#include "store/StoreStartup.h"

#include "support/LocalService.h"
#include "support/MonitorFakes.h"
#include "support/MonitorService.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>

namespace {

constexpr int kListed = 30;

struct CPollWorld
{
    CLocalService service;
    QTemporaryDir dir;
    SEU_QQwry reader;
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
        if (!dir.isValid() || !OpenStore(dir.path()) || !reader.Open(QStringLiteral(MIREL_QQWRY_FILE)))
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

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    CloseStore();
    return 0;
}
