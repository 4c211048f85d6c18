// The 3D point list of a project set hosted in its view: the fill, and the
// refresh after a coordinate edit and after a label edit (the set's file is
// written each time), at 10,000 and 100,000 points. Run under xvfb-run.
#include "PointList.h"
#include "PointSet.h"

#include <QApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <string>

namespace {

struct Hosted {
    explicit Hosted(int points)
    {
        set.SetName(dir.filePath(QStringLiteral("Set.xyz")).toLocal8Bit().constData());
        for (int i = 0; i < points; ++i) {
            CObjectPoint p(("P" + std::to_string(i + 1)).c_str(), 0.001 * i, -0.5 * i, 1000.0 + i);
            p.SetNormal(0.0, 0.6, 0.8);
            set.AddCopy(p);
        }
        set.SortByLabel();
        view.SetProjectSet(true);
        view.SetPointSet(&set);
        view.OnInitialUpdate();
    }
    QTemporaryDir dir;
    CPointSet set;
    C3DDataListView view;
};

void PeakMemory(benchmark::State& state)
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_MB"] = double(usage.ru_maxrss) / 1024.0;
}

void Fill(benchmark::State& state)
{
    Hosted h(int(state.range(0)));
    for (auto _ : state)
        h.view.GetListCtrl().Fill();
    state.SetItemsProcessed(state.iterations() * state.range(0));
    PeakMemory(state);
}
BENCHMARK(Fill)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void CoordinateEdit(benchmark::State& state)
{
    Hosted h(int(state.range(0)));
    int k = 0;
    for (auto _ : state) {
        ++k;
        h.view.GetListCtrl().ApplyCellEdit(k % 100, 1, QString::number(k));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    PeakMemory(state);
}
BENCHMARK(CoordinateEdit)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void LabelEdit(benchmark::State& state)
{
    Hosted h(int(state.range(0)));
    int k = 0;
    for (auto _ : state)
        h.view.GetListCtrl().ApplyCellEdit(0, 0, QStringLiteral("Q%1").arg(++k)); // row 0 moves to the end
    state.SetItemsProcessed(state.iterations() * state.range(0));
    PeakMemory(state);
}
BENCHMARK(LabelEdit)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
