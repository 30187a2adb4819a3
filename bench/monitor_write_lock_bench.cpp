// The window while another program holds a write transaction on Info.mdb for
// 15 s (the sqlite3 shell here): a 10 ms timer on the window's thread reads the
// latest visits on every tick, as the visitor list does, while a monitoring
// worker polls once a second and finds a new visitor each time. Reported: the
// longest gap between two ticks, and whether every visitor of the polls made
// during the lock is in [client] once it is gone. Argument 1: the window's
// statements on their own connection (the program); 0: on the workers'
// connection, for comparison.
#include "BenchMain.h"
#include "accounts/LiveSettings.h"
#include "monitor/RefreshShop.h"
#include "store/AdoConnection.h"
#include "store/AdoRecordSet.h"
#include "store/StoreStartup.h"

#include "support/LocalService.h"
#include "support/MonitorFakes.h"
#include "support/MonitorService.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <thread>

namespace {

constexpr int kLockSeconds = 15;

void BM_WindowTimerGapDuringWriteLock(benchmark::State& state)
{
    const bool ownConnection = state.range(0) != 0;
    const QString cli = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
    CLocalService service;
    QTemporaryDir dir;
    if (cli.isEmpty() || !service.Start() || !dir.isValid()) {
        state.SkipWithError("needs the sqlite3 shell and rivuzovara-local");
        return;
    }
    service.ApplyEndpoints();
    if (!OpenStore(dir.path())) {
        state.SkipWithError("store not opened");
        return;
    }
    CRecordingNotifier notifier;
    LiveSettings().clienttip.store(1);
    LiveSettings().greetingRunning.store(0);
    const QString webId = service.RegisterAccount(QStringLiteral("lockShop"), QStringLiteral("pw"));
    g_pConnection->SetWindowThread(ownConnection ? QThread::currentThread() : nullptr);

    for (auto _ : state) {
        std::atomic<bool> stop{false};
        std::atomic<int> added{0};
        std::thread poller([&] {
            while (!stop.load()) {
                const int n = added.fetch_add(1);
                AddImVisitor(service, QStringLiteral("lockHi"), QStringLiteral("锁期访客%1").arg(n),
                             QStringLiteral("lk%1").arg(n));
                RefreshShop(webId, QStringLiteral("lockShop"), QStringLiteral("lockHi"), QStringLiteral("hi"), false);
                for (int i = 0; i < 10 && !stop.load(); ++i)
                    QThread::msleep(100);
            }
        });

        QProcess locker;
        locker.start(cli, {dir.filePath(QStringLiteral("Info.mdb"))});
        locker.waitForStarted(10000);
        locker.write(QStringLiteral("begin immediate;\n"
                                    "insert into [AutoSend] ([ClientName],[UserName],[Message]) values ('x','y','z');\n"
                                    ".shell sleep %1\n"
                                    "commit;\n")
                         .arg(kLockSeconds)
                         .toUtf8());
        locker.closeWriteChannel();

        qint64 longestGapMs = 0;
        int ticks = 0;
        QElapsedTimer sinceTick;
        sinceTick.start();
        QTimer timer;
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, &timer, [&] {
            longestGapMs = qMax(longestGapMs, sinceTick.restart());
            ++ticks;
            CAdoRecordSet visits(g_pConnection);
            if (visits.Open(QStringLiteral("select * from [client] order by [lasttime] desc"))) {
                while (!visits.IsEOF())
                    visits.MoveNext();
            }
        });
        timer.start();
        sinceTick.restart();
        QElapsedTimer whole;
        whole.start();
        // The lock's 15 s, then two more polls to record what it held back.
        while (locker.state() != QProcess::NotRunning || whole.elapsed() < (kLockSeconds + 3) * 1000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            locker.waitForFinished(1);
        }
        const int lastAdded = added.load();
        const int expected = lastAdded;
        while (whole.elapsed() < (kLockSeconds + 30) * 1000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            if (int(ReadRows(QStringLiteral("select [id] from [client]")).size()) >= expected)
                break;
            QThread::msleep(20);
        }
        timer.stop();
        stop = true;
        poller.join();
        const int recorded = int(ReadRows(QStringLiteral("select [id] from [client]")).size());
        state.counters["longest_gap_ms"] = double(longestGapMs);
        state.counters["ticks"] = double(ticks);
        state.counters["visitors_polled_by_end_of_lock"] = double(expected);
        state.counters["visitors_recorded"] = double(recorded);
        std::printf("%s connection: longest timer gap %lld ms over %d ticks; %d of %d visitors recorded\n",
                    ownConnection ? "own" : "shared", static_cast<long long>(longestGapMs), ticks,
                    qMin(recorded, expected), expected);
    }
    g_pConnection->SetWindowThread(nullptr);
    CloseStore();
}
BENCHMARK(BM_WindowTimerGapDuringWriteLock)->Arg(1)->Arg(0)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    return RunBenchmarks<QCoreApplication>(argc, argv);
}
