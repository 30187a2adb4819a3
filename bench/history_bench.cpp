// The history page with a long history: opening it on 100,000 visits (read
// from the store and put into the list), the list part alone, and exporting
// the whole list to a workbook. Peak memory (ru_maxrss) is printed with each.
#include "controls/SortListCtrl.h"
#include "history/HistoryDlg.h"
#include "history/ListExport.h"
#include "history/XlsxExport.h"
#include "platform/MessageBox.h"
#include "store/AdoConnection.h"
#include "store/StoreStartup.h"

#include <QApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <sys/resource.h>

namespace {

// 100,000 unless MIREL_HISTORY_VISITS says otherwise (scripts/bench history N).
const int kVisits = [] {
    bool ok = false;
    const int n = qEnvironmentVariableIntValue("MIREL_HISTORY_VISITS", &ok);
    return ok && n > 0 ? n : 100000;
}();

double PeakMemoryMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
}

QStringList VisitTexts(int n)
{
    const QDateTime when = QDateTime(QDate(2024, 1, 1), QTime(0, 0)).addSecs(n * 17);
    return {QString::number(kVisits - n),
            QStringLiteral("访客%1").arg(n),
            QStringLiteral("192.168.%1.%2").arg(n / 256 % 256).arg(n % 256),
            QStringLiteral("店铺%1").arg(n % 5),
            when.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")),
            QStringLiteral("1"),
            QStringLiteral("浙江省杭州市 电信"),
            QStringLiteral("http://item.example/item.htm?id=%1").arg(n % 97)};
}

// One store with 100,000 visits for the whole run.
class CBenchStore
{
public:
    CBenchStore()
    {
        if (!m_dir.isValid() || !OpenStore(m_dir.path()))
            return;
        g_pConnection->Execute(QStringLiteral("begin"));
        for (int n = 0; n < kVisits; ++n) {
            const QStringList t = VisitTexts(n);
            const QString sql =
                QStringLiteral("insert into [client] ([guestname] , [ip] , [shopname] , [lasttime] , [count] , [city] "
                               ", [shopurl] , [imuid]) values ('%1','%2','%3','%4',1,'%5','%6','%7')")
                    .arg(SqlText(t[1]), t[2], SqlText(t[3]), t[4], SqlText(t[6]), SqlText(t[7]),
                         QString::number(n * 7919, 16));
            if (!g_pConnection->Execute(sql))
                return;
        }
        m_ok = g_pConnection->Execute(QStringLiteral("commit"));
    }
    bool Ok() const { return m_ok; }
    QString Folder() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    bool m_ok = false;
};

CBenchStore& Store()
{
    static CBenchStore store;
    return store;
}

void BM_OpenHistoryWithAllVisits(benchmark::State& state)
{
    if (!Store().Ok()) {
        state.SkipWithError("store not filled");
        return;
    }
    state.counters["peak_before_MiB"] = PeakMemoryMiB();
    int rows = 0;
    for (auto _ : state) {
        CHistoryDlg dialog; // reads the shops and every visit, newest first
        rows = dialog.List()->GetItemCount();
        state.PauseTiming();
        if (rows != kVisits)
            state.SkipWithError("row count differs");
        state.ResumeTiming();
    }
    state.counters["rows"] = rows;
    state.counters["peak_MiB"] = PeakMemoryMiB();
}
BENCHMARK(BM_OpenHistoryWithAllVisits)->Unit(benchmark::kMillisecond)->Iterations(3);

// The list's share of the opening: 100,000 rows of eight texts added to it,
// hidden (as while the dialog initialises) or on screen (a refill).
void BM_FillListOnly(benchmark::State& state)
{
    QList<QStringList> rows;
    rows.reserve(kVisits);
    for (int n = 0; n < kVisits; ++n)
        rows << VisitTexts(n);
    for (auto _ : state) {
        CSortListCtrl list;
        list.SetHeadings(QString::fromUtf8(kHistoryHeadings));
        if (state.range(0) != 0)
            list.show();
        for (const QStringList& texts : std::as_const(rows))
            list.AddItem(texts);
        benchmark::DoNotOptimize(list.GetItemCount());
    }
    state.counters["peak_MiB"] = PeakMemoryMiB();
}
BENCHMARK(BM_FillListOnly)->ArgName("shown")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ExportAllVisits(benchmark::State& state)
{
    if (!Store().Ok()) {
        state.SkipWithError("store not filled");
        return;
    }
    CHistoryDlg dialog;
    const QString path = Store().Folder() + QStringLiteral("/export.xlsx");
    SetSaveFilePrompt([&path](QWidget*, const QString&, const QString&, const QStringList&) { return path; });
    int saved = 0;
    SetMessageBoxHandler([&saved](const QString& text, const QString&, EMsgIcon, EMsgButtons buttons) {
        if (text.startsWith(QStringLiteral("导出文件保存于")))
            ++saved;
        return buttons == EMsgButtons::YesNo ? kIdYes : kIdOk;
    });
    for (auto _ : state)
        ExportListToExcel(&dialog, dialog.List(), QStringLiteral("客户列表"));
    if (saved != int(state.iterations()))
        state.SkipWithError("export failed");
    state.counters["file_MiB"] = double(QFileInfo(path).size()) / (1024.0 * 1024.0);
    state.counters["peak_MiB"] = PeakMemoryMiB();
    SetSaveFilePrompt({});
    SetMessageBoxHandler({});
}
BENCHMARK(BM_ExportAllVisits)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    CloseStore();
    return 0;
}
