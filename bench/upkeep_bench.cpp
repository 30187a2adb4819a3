// The automatic deletion of old visits on a long history: MIREL_UPKEEP_VISITS
// visits (1,000,000 unless told), spread evenly over the last 365 days, in a
// store with the indexes a new one has. "Delete what is older than 30 days"
// runs as the program runs it, on a worker in short steps (argument 1), or as
// one statement for comparison (argument 0), while a stand-in of the
// monitoring thread does a poll's store work every 20 ms on the workers'
// connection (is the visitor known, record a new visit) and times each
// statement. Reported: rows deleted, the monitoring thread's longest wait for
// the store and its 99th percentile (the goal: at most 250 ms), beside the
// longest statement of the same work in the 10 s before the delete started.
#include "BenchMain.h"
#include "accounts/AdvancedSettings.h"
#include "history/HistoryUpkeep.h"
#include "store/AdoConnection.h"
#include "store/AdoRecordSet.h"
#include "store/StoreStartup.h"
#include "store/Variant.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace {

const int kVisits = [] {
    bool ok = false;
    const int n = qEnvironmentVariableIntValue("MIREL_UPKEEP_VISITS", &ok);
    return ok && n > 0 ? n : 1000000;
}();

constexpr int kKeepDays = 30;

bool FillStore(qint64 nowMs)
{
    // Visit i is i * (365 days / n) old, newest first.
    const QString sql =
        QStringLiteral(
            "with recursive n(i) as (select 0 union all select i + 1 from n where i < %1) "
            "insert into [client] ([guestname], [ip], [shopname], [lasttime], [count], [city], [shopurl], [imuid]) "
            "select '访客' || i, '192.168.' || (i / 256 % 256) || '.' || (i % 256), '店铺' || (i % 5), "
            "strftime('%Y-%m-%d %H:%M:%S', %2 / 1000 - i * %3 / %4, 'unixepoch', 'localtime'), 1 + i % 9, "
            "'浙江省杭州市 电信', 'http://item.example/item.htm?id=' || (i % 97), printf('%x', i * 7919) from n")
            .arg(kVisits - 1)
            .arg(nowMs)
            .arg(365LL * 24 * 3600)
            .arg(kVisits);
    return g_pConnection->Execute(sql);
}

int CountVisits()
{
    CAdoRecordSet recordSet(g_pConnection);
    int count = -1;
    if (recordSet.Open(QStringLiteral("select count(*) from [client]")))
        recordSet.GetCollectInt(0, count);
    return count;
}

void BM_UpkeepWhileMonitoring(benchmark::State& state)
{
    const bool inSteps = state.range(0) != 0;
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir dir;
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        if (!dir.isValid() || !OpenStore(dir.path()) || !FillStore(now)) {
            state.SkipWithError("store not filled");
            return;
        }
        g_pConnection->SetWindowThread(QThread::currentThread());
        const int before = CountVisits();
        CAdvancedSettings settings;
        settings.keepDays = kKeepDays;
        PublishAdvancedSettings(settings);
        state.ResumeTiming();

        std::atomic<bool> done{false};
        std::vector<double> waits;
        std::mutex waitsMutex;
        auto note = [&](double ms) {
            std::lock_guard lock(waitsMutex);
            waits.push_back(ms);
        };
        std::thread monitor([&] {
            for (int n = 0; !done.load(); ++n) {
                QElapsedTimer timer;
                timer.start();
                CAdoRecordSet known(g_pConnection);
                known.Open(QStringLiteral("select * from [client] where [guestname] = '新访客%1' and [shopname] = "
                                          "'店铺1'")
                               .arg(n));
                known.Close();
                note(timer.nsecsElapsed() / 1e6);
                timer.start();
                g_pConnection->Execute(
                    QStringLiteral("insert into [client] ([guestname],[shopname],[lasttime],[count]) "
                                   "values ('新访客%1','店铺1','%2',1)")
                        .arg(n)
                        .arg(StoreTimeText(QDateTime::currentMSecsSinceEpoch())));
                note(timer.nsecsElapsed() / 1e6);
                QThread::msleep(20);
            }
        });
        // The same work with nothing else in the store first: what this machine's load alone costs.
        QThread::sleep(10);
        size_t idleStatements = 0;
        double idleLongest = 0;
        {
            std::lock_guard lock(waitsMutex);
            idleStatements = waits.size();
            idleLongest = waits.empty() ? 0 : *std::max_element(waits.begin(), waits.end());
        }
        QElapsedTimer total;
        total.start();
        qint64 deleted = 0;
        std::thread worker([&] {
            if (inSteps) {
                deleted = RunHistoryUpkeep(now).visits;
            } else {
                const int left = CountVisits();
                g_pConnection->DeleteWhere(QStringLiteral("[client]"),
                                           QStringLiteral("[lasttime] < '%1'").arg(UpkeepCutoff(now, kKeepDays)));
                deleted = left - CountVisits();
            }
        });
        worker.join();
        const double seconds = total.nsecsElapsed() / 1e9;
        done = true;
        monitor.join();

        state.PauseTiming();
        // The monitor has ended: nobody else writes waits now.
        waits.erase(waits.begin(), waits.begin() + qsizetype(idleStatements));
        std::sort(waits.begin(), waits.end());
        state.counters["idle_longest_ms"] = idleLongest;
        state.counters["visits_before"] = before;
        state.counters["visits_deleted"] = double(deleted);
        state.counters["visits_left"] = CountVisits();
        state.counters["delete_s"] = seconds;
        state.counters["monitor_statements"] = double(waits.size());
        state.counters["monitor_longest_wait_ms"] = waits.empty() ? 0 : waits.back();
        state.counters["monitor_p99_wait_ms"] = waits.empty() ? 0 : waits[waits.size() * 99 / 100];
        PublishAdvancedSettings(CAdvancedSettings());
        CloseStore();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_UpkeepWhileMonitoring)->Arg(1)->Arg(0)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    return RunBenchmarks<QCoreApplication>(argc, argv);
}
