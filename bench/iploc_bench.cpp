// Lookups per second on the real QQWry.Dat with random addresses; every
// lookup reads the file (binary search over the index, then the strings).
#include "iploc/QQwry.h"

#include <benchmark/benchmark.h>

#include <QStringList>

#include <random>

namespace {

QStringList RandomAddresses(int count)
{
    std::mt19937 rng(2024);
    QStringList ips;
    for (int k = 0; k < count; ++k)
        ips << QStringLiteral("%1.%2.%3.%4").arg(rng() % 256).arg(rng() % 256).arg(rng() % 256).arg(rng() % 256);
    return ips;
}

SEU_QQwry& Reader()
{
    static SEU_QQwry reader;
    static const bool opened = reader.Open(QStringLiteral(MIREL_QQWRY_FILE));
    (void)opened;
    return reader;
}

void BM_LookupRandomAddress(benchmark::State& state)
{
    SEU_QQwry& reader = Reader();
    if (!reader.IsOpen()) {
        state.SkipWithError("QQWry.Dat missing: run scripts/bootstrap");
        return;
    }
    const QStringList ips = RandomAddresses(4096);
    qsizetype k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(reader.Lookup(ips[k]));
        k = (k + 1) % ips.size();
    }
    state.SetItemsProcessed(state.iterations());
}
// Several threads share one reader: lookups are serialised, so this shows the cost of the lock.
BENCHMARK(BM_LookupRandomAddress)->Threads(1)->Threads(2)->UseRealTime();

void BM_ParseIp(benchmark::State& state)
{
    const QStringList ips = RandomAddresses(4096);
    qsizetype k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(SEU_QQwry::ParseIp(ips[k]));
        k = (k + 1) % ips.size();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseIp);

} // namespace

BENCHMARK_MAIN();
