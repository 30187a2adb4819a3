// The store's two hot paths: recording a visit (one Execute of the feed's insert per
// visitor) and the history reading every [client] row by position.
#include "BenchMain.h"
#include "store/AdoConnection.h"
#include "store/AdoRecordSet.h"
#include "store/Schema.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

const char kInsertVisit[] = "insert into [client] ([guestname] , [ip] , [shopname] , [lasttime] , [count] , [city] , "
                            "[shopurl] , [imuid]) values ('%s','%s','%s','%s',%d,'%s','%s','%s')";

QString VisitInsert(int n)
{
    const QDateTime when = QDateTime(QDate(2009, 3, 3), QTime(0, 0)).addSecs(n);
    const QDate d = when.date();
    const QTime t = when.time();
    const QByteArray time = QString::asprintf("%04d-%02d-%02d %2.2d:%02d:%02d", d.year(), d.month(), d.day(), t.hour(),
                                              t.minute(), t.second())
                                .toUtf8();
    const QByteArray guest = SqlText(QStringLiteral("访客%1'号").arg(n)).toUtf8();
    const QByteArray shop = SqlText(QStringLiteral("shop%1").arg(n % 5)).toUtf8();
    const QByteArray city = SqlText(QStringLiteral("浙江省杭州市 电信")).toUtf8();
    const QByteArray url = SqlText(QStringLiteral("http://item.example/item.htm?id=%1").arg(n % 97)).toUtf8();
    const QByteArray im = SqlText(QStringLiteral("%1").arg(n * 7919, 8, 16, QLatin1Char('0'))).toUtf8();
    return QString::asprintf(kInsertVisit, guest.constData(), "192.168.1.20", shop.constData(), time.constData(), 1,
                             city.constData(), url.constData(), im.constData());
}

void BM_VisitInsert(benchmark::State& state)
{
    QTemporaryDir dir;
    CAdoConnection connection;
    if (!connection.Connect(dir.filePath("Info.mdb"))) {
        state.SkipWithError("store did not open");
        return;
    }
    // 0: an existing store whose statistics page has never been opened (the
    // visitor list's indexes only); 1: a new store, or one the page has read.
    if (state.range(0) == 0) {
        for (const QString& name : StatisticsIndexNames())
            connection.Execute(QStringLiteral("drop index if exists [%1]").arg(name));
        connection.Execute(ClientIndexStatements()[0]);
    }
    int n = 0;
    for (auto _ : state) {
        if (!connection.Execute(VisitInsert(n++))) {
            state.SkipWithError("insert failed");
            break;
        }
    }
    state.counters["inserts_per_s"] = benchmark::Counter(double(n), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_VisitInsert)
    ->ArgName("statistics_indexes")
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMicrosecond)
    ->MinTime(2.0)
    ->UseRealTime();

void BM_ReadClientRows(benchmark::State& state)
{
    const int rows = int(state.range(0));
    QTemporaryDir dir;
    CAdoConnection connection;
    if (!connection.Connect(dir.filePath("Info.mdb"))) {
        state.SkipWithError("store did not open");
        return;
    }
    // Filled in one transaction; only the reading is measured.
    connection.Execute("begin");
    for (int i = 0; i < rows; ++i)
        connection.Execute(VisitInsert(i));
    connection.Execute("commit");

    qint64 read = 0;
    for (auto _ : state) {
        CAdoRecordSet recordSet(&connection);
        if (!recordSet.Open("select * from [client] order by [id] desc")) {
            state.SkipWithError("open failed");
            break;
        }
        int count = 0;
        while (!recordSet.IsEOF()) {
            QString text;
            for (int position = 0; position < 8; ++position) {
                recordSet.GetCollect(position, text);
                benchmark::DoNotOptimize(text);
            }
            ++count;
            recordSet.MoveNext();
        }
        recordSet.Close();
        if (count != rows) {
            state.SkipWithError("row count differs");
            break;
        }
        read += count;
    }
    state.counters["rows_per_s"] = benchmark::Counter(double(read), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReadClientRows)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    return RunBenchmarks<QCoreApplication>(argc, argv);
}
