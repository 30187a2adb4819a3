// The history page with a long history (MIREL_HISTORY_VISITS visits, 100,000
// unless told): opening it, sorting by a header, the three searches, the item
// ranking, deleting every shown row, exporting to xlsx and CSV, and the
// visitor list's refill of the 30 latest. Each reports its own peak memory
// (VmHWM, reset before it runs); the opening also reports the time the
// sqlite3 program needs to print the same rows from the same file.
#include "BenchMain.h"
#include "controls/ui/SortListCtrl.h"
#include "history/ui/HistoryDlg.h"
#include "history/ui/ListExport.h"
#include "platform/MessageBox.h"
#include "store/AdoConnection.h"
#include "store/AdoRecordSet.h"
#include "store/Schema.h"
#include "store/StoreStartup.h"

#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <functional>

#include <sys/resource.h>

namespace {

const int kVisits = [] {
    bool ok = false;
    const int n = qEnvironmentVariableIntValue("MIREL_HISTORY_VISITS", &ok);
    return ok && n > 0 ? n : 100000;
}();

// Peak resident memory since the last reset (the kernel's high-water mark).
void ResetPeakMemory()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

double PeakMemoryMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}

// Lets the window's thread run until done() holds; the longest single turn of
// the event loop (how long the window did not answer) goes to longestTurnMs.
bool RunUntil(const std::function<bool()>& done, double* longestTurnMs = nullptr, int timeoutMs = 600000)
{
    QTimer tick; // wakes the loop even when nothing else arrives
    tick.start(5);
    QElapsedTimer total, turn;
    total.start();
    double longest = 0;
    while (!done()) {
        if (total.elapsed() > timeoutMs)
            return false;
        turn.start();
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        longest = std::max(longest, turn.nsecsElapsed() / 1e6);
    }
    if (longestTurnMs)
        *longestTurnMs = longest;
    return true;
}

// One store with the visits for the whole run, written in one statement.
class CBenchStore
{
public:
    CBenchStore()
    {
        if (!m_dir.isValid() || !OpenStore(m_dir.path()))
            return;
        const QString sql =
            QStringLiteral(
                "with recursive n(i) as (select 0 union all select i + 1 from n where i < %1) "
                "insert into [client] ([guestname], [ip], [shopname], [lasttime], [count], [city], [shopurl], "
                "[imuid]) select '访客' || i, '192.168.' || (i / 256 % 256) || '.' || (i % 256), '店铺' || (i % 5), "
                "strftime('%Y-%m-%d %H:%M:%S', '2024-01-01', '+' || (i * 17) || ' seconds'), 1 + i % 9, "
                "'浙江省杭州市 电信', 'http://item.example/item.htm?id=' || (i % 97), printf('%x', i * 7919) from n")
                .arg(kVisits - 1);
        m_ok = g_pConnection->Execute(sql);
        // MIREL_HISTORY_STATS_INDEXES=0: an existing store whose statistics page was never opened.
        if (qEnvironmentVariable("MIREL_HISTORY_STATS_INDEXES") == QLatin1String("0")) {
            for (const QString& name : StatisticsIndexNames())
                g_pConnection->Execute(QStringLiteral("drop index if exists [%1]").arg(name));
            g_pConnection->Execute(ClientIndexStatements()[0]);
        }
        for (int shop = 0; shop < 5 && m_ok; ++shop)
            m_ok =
                g_pConnection->Execute(QStringLiteral("insert into [user] ([username]) values ('店铺%1')").arg(shop));
        // MIREL_HISTORY_STATS_INDEXES=1 builds the statistics page's indexes, 0 drops them (a store
        // from before them whose statistics page never opened); unset, the store keeps what a new
        // one has. Every write and delete of [client] maintains them.
        const QByteArray statsIndexes = qgetenv("MIREL_HISTORY_STATS_INDEXES");
        if (statsIndexes == "1") {
            for (const QString& sql : StatisticsIndexStatements())
                m_ok = m_ok && g_pConnection->Execute(sql);
        } else if (statsIndexes == "0") {
            for (const QString& name : StatisticsIndexNames())
                m_ok = m_ok && g_pConnection->Execute(QStringLiteral("drop index if exists [%1]").arg(name));
            // The per-poll visitor check keeps its index on the name and shop.
            m_ok = m_ok && g_pConnection->Execute(ClientIndexStatements()[0]);
        }
    }
    bool Ok() const { return m_ok; }
    QString Folder() const { return m_dir.path(); }
    QString File() const { return m_dir.path() + QStringLiteral("/Info.mdb"); }

private:
    QTemporaryDir m_dir;
    bool m_ok = false;
};

CBenchStore& Store()
{
    static CBenchStore store;
    return store;
}

// Milliseconds the sqlite3 program takes to print every visit, newest first.
double Sqlite3PrintMs()
{
    QProcess sqlite;
    sqlite.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    sqlite.start(QStringLiteral("sqlite3"),
                 {Store().File(), QStringLiteral("select * from [client] order by [id] desc")});
    if (!sqlite.waitForFinished(600000) || sqlite.exitCode() != 0)
        return -1;
    return timer.nsecsElapsed() / 1e6;
}

bool Filled(const CHistoryDlg& dialog)
{
    return !dialog.IsFilling();
}

std::unique_ptr<CHistoryDlg> OpenedDialog()
{
    auto dialog = std::make_unique<CHistoryDlg>();
    RunUntil([&] { return Filled(*dialog); });
    return dialog;
}

// CPU time of the whole process (window's thread and workers), for a machine
// whose wall-clock times are stretched by other work.
double ProcessCpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// Reports the process's CPU time per iteration when it goes out of scope.
class CCpuCounter
{
public:
    explicit CCpuCounter(benchmark::State& state) : m_state(state), m_start(ProcessCpuMs()) {}
    ~CCpuCounter()
    {
        if (m_state.iterations() > 0)
            m_state.counters["process_cpu_ms"] = (ProcessCpuMs() - m_start) / double(m_state.iterations());
    }

private:
    benchmark::State& m_state;
    double m_start;
};

bool CheckStore(benchmark::State& state)
{
    if (Store().Ok())
        return true;
    state.SkipWithError("store not filled");
    return false;
}

void BM_OpenHistoryWithAllVisits(benchmark::State& state)
{
    if (!CheckStore(state))
        return;
    const double sqliteMs = Sqlite3PrintMs();
    ResetPeakMemory();
    int rows = 0;
    double firstScreenMs = 0, longestTurn = 0;
    CCpuCounter cpu(state);
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        CHistoryDlg dialog; // reads the shops, then every visit, newest first, on a worker
        double first = -1;
        RunUntil(
            [&] {
                if (first < 0 && dialog.List()->GetItemCount() > 0)
                    first = timer.nsecsElapsed() / 1e6;
                return Filled(dialog);
            },
            &longestTurn);
        firstScreenMs = std::max(firstScreenMs, first);
        rows = dialog.List()->GetItemCount();
        state.PauseTiming();
        if (rows != kVisits)
            state.SkipWithError("row count differs");
        state.ResumeTiming();
    }
    state.counters["rows"] = rows;
    state.counters["first_rows_ms"] = firstScreenMs;
    state.counters["longest_turn_ms"] = longestTurn;
    state.counters["sqlite3_ms"] = sqliteMs;
    state.counters["peak_MiB"] = PeakMemoryMiB();
}
BENCHMARK(BM_OpenHistoryWithAllVisits)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// Header clicks on the visit number (digits), the visitor (text) and the time (text).
void BM_SortHistory(benchmark::State& state)
{
    if (!CheckStore(state))
        return;
    auto dialog = OpenedDialog();
    CSortListCtrl* list = dialog->List();
    const int column = int(state.range(0));
    ResetPeakMemory();
    double longestTurn = 0;
    CCpuCounter cpu(state);
    for (auto _ : state) {
        bool sorted = false;
        auto connection = QObject::connect(list, &CSortListCtrl::RowsSorted, list, [&] { sorted = true; });
        list->OnColumnClick(column);
        double turn = 0;
        RunUntil([&] { return sorted; }, &turn);
        longestTurn = std::max(longestTurn, turn);
        QObject::disconnect(connection);
    }
    state.counters["longest_turn_ms"] = longestTurn;
    state.counters["peak_MiB"] = PeakMemoryMiB();
}
BENCHMARK(BM_SortHistory)
    ->ArgName("column")
    ->Arg(0)
    ->Arg(1)
    ->Arg(4)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->UseRealTime();

// 0: one day ("查看该天" on the first day of the visits), 1: visitor "访客12", 2: shop "店铺3".
void BM_SearchHistory(benchmark::State& state)
{
    if (!CheckStore(state))
        return;
    auto dialog = OpenedDialog();
    dialog->findChild<QLineEdit*>(QStringLiteral("visitorEdit"))->setText(QStringLiteral("访客12"));
    dialog->findChild<QComboBox*>(QStringLiteral("shopCombo"))->setCurrentText(QStringLiteral("店铺3"));
    dialog->findChild<QDateEdit*>(QStringLiteral("dayDateEdit"))->setDate(QDate(2024, 1, 2));
    int rows = 0;
    CCpuCounter cpu(state);
    for (auto _ : state) {
        if (state.range(0) == 0)
            dialog->OnShowDay();
        else if (state.range(0) == 1)
            dialog->OnShowVisitor();
        else
            dialog->OnShowShop();
        RunUntil([&] { return Filled(*dialog); });
        rows = dialog->List()->GetItemCount();
    }
    state.counters["rows"] = rows;
}
BENCHMARK(BM_SearchHistory)
    ->ArgName("kind")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

void BM_ItemRanking(benchmark::State& state)
{
    if (!CheckStore(state))
        return;
    auto dialog = OpenedDialog();
    int rows = 0;
    CCpuCounter cpu(state);
    for (auto _ : state) {
        dialog->OnRanking();
        RunUntil([&] { return Filled(*dialog); });
        rows = dialog->List()->GetItemCount();
    }
    state.counters["rows"] = rows;
}
BENCHMARK(BM_ItemRanking)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The visitor list page's statement, its first 30 rows read as the page reads them.
void BM_VisitorListRefill(benchmark::State& state)
{
    if (!CheckStore(state))
        return;
    CCpuCounter cpu(state);
    for (auto _ : state) {
        CAdoRecordSet recordSet(g_pConnection);
        recordSet.Open(QStringLiteral("select * from [client] order by [lasttime] desc"));
        for (int read = 0; read < 30 && !recordSet.IsEOF(); ++read) {
            QString text;
            for (int position = 1; position <= 8; ++position)
                recordSet.GetCollect(position, text);
            recordSet.MoveNext();
        }
    }
}
BENCHMARK(BM_VisitorListRefill)->Unit(benchmark::kMicrosecond)->Iterations(50);

void Export(benchmark::State& state, const QString& fileName)
{
    if (!CheckStore(state))
        return;
    auto dialog = OpenedDialog();
    const QString path = Store().Folder() + QLatin1Char('/') + fileName;
    SetSaveFilePrompt([&path](QWidget*, const QString&, const QString&, const QStringList&) { return path; });
    int saved = 0;
    SetMessageBoxHandler([&saved](const QString& text, const QString&, EMsgIcon, EMsgButtons buttons) {
        if (text.startsWith(QStringLiteral("导出文件保存于")))
            ++saved;
        return buttons == EMsgButtons::YesNo ? kIdYes : kIdOk;
    });
    ResetPeakMemory();
    double longestTurn = 0;
    CCpuCounter cpu(state);
    for (auto _ : state) {
        ExportListToExcel(dialog.get(), dialog->List(), QStringLiteral("客户列表"));
        double turn = 0;
        RunUntil([&] { return !dialog->findChild<QObject*>(QStringLiteral("listExportJob")); }, &turn);
        longestTurn = std::max(longestTurn, turn);
    }
    if (saved != int(state.iterations()))
        state.SkipWithError("export failed");
    state.counters["file_MiB"] = double(QFileInfo(path).size()) / (1024.0 * 1024.0);
    state.counters["longest_turn_ms"] = longestTurn;
    state.counters["peak_MiB"] = PeakMemoryMiB();
    SetSaveFilePrompt({});
    SetMessageBoxHandler({});
}

void BM_ExportAllVisits(benchmark::State& state)
{
    Export(state, QStringLiteral("export.xlsx"));
}
BENCHMARK(BM_ExportAllVisits)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

void BM_ExportAllVisitsCsv(benchmark::State& state)
{
    Export(state, QStringLiteral("export.csv"));
}
BENCHMARK(BM_ExportAllVisitsCsv)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

int ClientIndexCount()
{
    CAdoRecordSet recordSet(g_pConnection);
    int count = -1;
    if (recordSet.Open(
            QStringLiteral("select count(*) from sqlite_master where type = 'index' and tbl_name = 'client'")))
        recordSet.GetCollectInt(0, count);
    return count;
}

// Last: it empties the store. Every row shown selected, "删除所选记录", Yes.
void BM_DeleteAllShown(benchmark::State& state)
{
    if (!CheckStore(state))
        return;
    auto dialog = OpenedDialog();
    SetMessageBoxHandler([](const QString&, const QString&, EMsgIcon, EMsgButtons) { return kIdYes; });
    int selected = 0;
    CCpuCounter cpu(state);
    for (auto _ : state) {
        dialog->List()->selectAll();
        selected = int(dialog->List()->GetSelectedRows().size());
        dialog->OnDeleteSelected();
        RunUntil([&] { return Filled(*dialog); });
    }
    state.counters["rows_deleted"] = selected;
    state.counters["client_indexes"] = ClientIndexCount();
    state.counters["rows_left"] = dialog->List()->GetItemCount();
    SetMessageBoxHandler({});
}
BENCHMARK(BM_DeleteAllShown)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    return RunBenchmarks<QApplication>(argc, argv, [] { CloseStore(); });
}
