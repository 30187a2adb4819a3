// The sortable list at the size the brief names: 100,000 rows of the history
// page's eight columns, filled, then sorted by each column (each run toggles
// the direction, as repeated header clicks do).
#include "BenchMain.h"
#include "controls/ui/SortListCtrl.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QRandomGenerator>

namespace {

constexpr int kRows = 100000;
const char* kHeadings = "编号,50;访客,100;IP,70;店铺,130;最后访问时间,120;次数,40;所属地区,100;商品地址,100";

const std::vector<QStringList>& Rows()
{
    static const std::vector<QStringList> rows = [] {
        QRandomGenerator rng(2024);
        const QStringList regions{"浙江省杭州市", "广东省深圳市", "北京市", "上海市", "江苏省南京市", "四川省成都市"};
        const QStringList shops{"小鱼的店", "Vexa旗舰店", "lumo_shop", "杂货铺", "Shop-B"};
        std::vector<QStringList> out;
        out.reserve(kRows);
        for (int i = 0; i < kRows; ++i) {
            QString visitor;
            for (int k = 0, n = rng.bounded(4, 12); k < n; ++k)
                visitor.append(QChar(u"abcdefghijKLMNOP_0123访客买家"[rng.bounded(28)]));
            out.push_back({QString::number(i + 1), visitor,
                           QStringLiteral("%1.%2.%3.%4")
                               .arg(rng.bounded(1, 255))
                               .arg(rng.bounded(256))
                               .arg(rng.bounded(256))
                               .arg(rng.bounded(256)),
                           shops[rng.bounded(shops.size())],
                           QStringLiteral("2024-%1-%2 %3:%4:%5")
                               .arg(rng.bounded(1, 13), 2, 10, QLatin1Char('0'))
                               .arg(rng.bounded(1, 29), 2, 10, QLatin1Char('0'))
                               .arg(rng.bounded(24), 2, 10, QLatin1Char('0'))
                               .arg(rng.bounded(60), 2, 10, QLatin1Char('0'))
                               .arg(rng.bounded(60), 2, 10, QLatin1Char('0')),
                           QString::number(rng.bounded(1, 500)), regions[rng.bounded(regions.size())],
                           QStringLiteral("http://item.example/%1.html").arg(rng.bounded(1000000))});
        }
        return out;
    }();
    return rows;
}

void BM_Fill(benchmark::State& state)
{
    const auto& rows = Rows();
    CSortListCtrl list;
    list.SetHeadings(QString::fromUtf8(kHeadings));
    list.resize(800, 400);
    list.show();
    for (auto _ : state) {
        for (const QStringList& row : rows)
            list.AddItem(row);
        state.PauseTiming();
        benchmark::DoNotOptimize(list.GetItemCount());
        list.DeleteAllItems();
        state.ResumeTiming();
    }
    state.counters["rows"] = kRows;
}
BENCHMARK(BM_Fill)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_SortColumn(benchmark::State& state)
{
    static CSortListCtrl* list = [] {
        auto* l = new CSortListCtrl;
        l->SetHeadings(QString::fromUtf8(kHeadings));
        for (const QStringList& row : Rows())
            l->AddItem(row);
        l->resize(800, 400);
        l->show();
        return l;
    }();
    const int column = static_cast<int>(state.range(0));
    for (auto _ : state) {
        list->OnColumnClick(column);
        QCoreApplication::processEvents();
    }
    state.SetLabel(list->model()->headerData(column, Qt::Horizontal).toString().toStdString());
}
BENCHMARK(BM_SortColumn)->DenseRange(0, 7)->Unit(benchmark::kMillisecond)->Iterations(4);

} // namespace

int main(int argc, char** argv)
{
    return RunBenchmarks<QApplication>(argc, argv);
}
