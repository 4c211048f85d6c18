// Frame time of the 3D view: 100,000 points with discs and labels, and
// 1,000,000 points without them, full and thinned (the pass shown while the
// user moves the view). Run under xvfb-run with Mesa's software renderer.
#include "3DView.h"
#include "Hooks.h"
#include "PointSet.h"

#include <QApplication>
#include <QElapsedTimer>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <string>

namespace {

class BenchView : public C3DView {
public:
    void Paint()
    {
        makeCurrent();
        paintGL();
        doneCurrent();
    }
};

// n points on a sphere-like shell; each with an outward normal and a radius
// when discs are asked for.
void FillSet(CPointSet& set, int n, bool discs)
{
    set.name = "/bench/Points.xyz";
    const double golden = M_PI * (3.0 - std::sqrt(5.0));
    for (int i = 0; i < n; ++i) {
        const double z = 1.0 - 2.0 * (i + 0.5) / n;
        const double r = std::sqrt(1.0 - z * z);
        const double a = golden * i;
        CObjectPoint* p = set.AddNew();
        p->label = ("P" + std::to_string(i + 1)).c_str();
        p->x = 1000.0 * r * std::cos(a);
        p->y = 1000.0 * r * std::sin(a);
        p->z = 1000.0 * z;
        if (discs) {
            p->SetNormal(r * std::cos(a), r * std::sin(a), z);
            p->radius = 5.0;
        }
    }
    for (int i = 0; i < n; i += 100)
        set.GetAt(i)->selected = true;
}

void Frame(benchmark::State& state, int n, bool discs, bool thinned)
{
    CPointSet set;
    FillSet(set, n, discs);
    BenchView view;
    view.SetScene(&set, nullptr, nullptr, nullptr);
    view.resize(800, 600);
    view.show();
    QElapsedTimer wait;
    wait.start();
    while (!view.context() && wait.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    if (!view.context()) {
        state.SkipWithError("no OpenGL window");
        return;
    }
    view.OnUpdate(nullptr, 0);
    view.GetLayers().labels = discs;
    view.Paint(); // a full frame first: its time decides the thinning
    view.SetMoving(thinned);
    for (auto _ : state)
        view.Paint();
    double load[3] = {0, 0, 0};
    getloadavg(load, 3);
    state.counters["load1"] = load[0];
    state.counters["stride"] = view.GetThinning();
    state.counters["fullFrameMs"] = view.GetLastFullFrameMs();
    state.SetItemsProcessed(state.iterations() * n);
}

void Points100kWithDiscsAndLabels(benchmark::State& state) { Frame(state, 100000, true, false); }
void Points1MFull(benchmark::State& state) { Frame(state, 1000000, false, false); }
void Points1MThinned(benchmark::State& state) { Frame(state, 1000000, false, true); }
BENCHMARK(Points100kWithDiscsAndLabels)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(Points1MFull)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(Points1MThinned)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

int main(int argc, char** argv)
{
    SetDefaultOpenGLFormat();
    QApplication application(argc, argv);
    RestoreCLocale();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
