// Frame time of the 3D view: 100,000 points with discs and labels and
// 1,000,000 points with labels, at rest and while turning; 1,000,000 plain
// points full and thinned (the pass shown while the user moves the view);
// the hover over 1,000,000 points with the scene paints it caused; the pick
// and a rubber band at 100,000 and 1,000,000 points. Run under xvfb-run
// with Mesa's software renderer; counters give the load average and the
// first frame's time (buffers made) where it matters.
#include "3DView.h"
#include "Hooks.h"
#include "PointSet.h"

#include <QApplication>
#include <QElapsedTimer>

#include <sys/resource.h>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

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

// User and system time of the process's threads so far.
double ProcessCpuMs()
{
    rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return 1e3 * (double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)) +
           1e-3 * double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

// Frames of n points at rest or while turning (a degree a frame); labels
// and discs as asked. The first frame makes the buffers and decides the
// thinning; its time is the counter firstFrameMs.
void Frame(benchmark::State& state, int n, bool labels, bool discs, bool moving, bool turning, bool direct = false)
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
    view.GetLayers().labels = labels;
    view.SetDirectDrawing(direct);
    QElapsedTimer first;
    first.start();
    view.Paint(); // a full frame first: its time decides the thinning
    const double firstMs = double(first.nsecsElapsed()) / 1e6;
    view.Paint();
    view.SetMoving(moving);
    const double cpuBefore = ProcessCpuMs();
    for (auto _ : state) {
        if (turning)
            view.SetRotation(1.0, 0.5, 0.0);
        view.Paint();
    }
    // All threads' time, llvmpipe's included: under load the wall time
    // says little, this a little more.
    state.counters["processCpuMsPerFrame"] =
        state.iterations() > 0 ? (ProcessCpuMs() - cpuBefore) / double(state.iterations()) : 0.0;
    double load[3] = {0, 0, 0};
    getloadavg(load, 3);
    state.counters["load1"] = load[0];
    state.counters["stride"] = view.GetThinning();
    state.counters["labelStride"] = view.GetLabelThinning();
    state.counters["discStride"] = view.GetDiscThinning();
    state.counters["fullFrameMs"] = view.GetLastFullFrameMs();
    state.counters["firstFrameMs"] = firstMs;
    // llvmpipe's rasteriser threads (0: its default, one per core).
    const char* threads = std::getenv("LP_NUM_THREADS");
    state.counters["lpThreads"] = threads ? std::atof(threads) : 0.0;
    state.SetItemsProcessed(state.iterations() * n);
}

// A view of n points shown and painted once; null when no window can be had.
std::unique_ptr<BenchView> ShowView(benchmark::State& state, CPointSet& set)
{
    auto view = std::make_unique<BenchView>();
    view->SetScene(&set, nullptr, nullptr, nullptr);
    view->resize(800, 600);
    view->show();
    QElapsedTimer wait;
    wait.start();
    while (!view->context() && wait.elapsed() < 5000)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    if (!view->context()) {
        state.SkipWithError("no OpenGL window");
        return nullptr;
    }
    view->OnUpdate(nullptr, 0);
    view->Paint();
    return view;
}

void Counters(benchmark::State& state, int n)
{
    double load[3] = {0, 0, 0};
    getloadavg(load, 3);
    state.counters["load1"] = load[0];
    state.SetItemsProcessed(state.iterations() * n);
}

// The hover pick at the window centre (CPU point test and the rest in
// selection mode), and a rubber band over the middle quarter of the window
// with the selection of the points under it.
void Pick(benchmark::State& state, int n, bool band, bool cpu = true)
{
    CPointSet set;
    FillSet(set, n, false);
    auto view = ShowView(state, set);
    if (!view)
        return;
    size_t hits = 0;
    for (auto _ : state) {
        if (band) {
            // The whole selection: hits, then the points selected.
            view->SetRubberBand(QRect(200, 150, 400, 300));
            view->Pick(400, 300, false);
            state.PauseTiming();
            hits = size_t(view->GetSelection().GetSize());
            view->ClearSelection();
            state.ResumeTiming();
        } else {
            hits = view->CollectHits(400, 300, 4, 4, cpu).size();
        }
        benchmark::DoNotOptimize(hits);
    }
    state.counters["hits"] = double(hits);
    Counters(state, n);
}

// Frames while turning: every frame turns by a degree (the fold included).
void Turning(benchmark::State& state, int n)
{
    CPointSet set;
    FillSet(set, n, false);
    auto view = ShowView(state, set);
    if (!view)
        return;
    view->SetMoving(true);
    for (auto _ : state) {
        view->SetRotation(1.0, 0.5, 0.0);
        view->Paint();
    }
    state.counters["stride"] = view->GetThinning();
    Counters(state, n);
}

// The hover as the mouse gives it: the pick at the window centre, then the
// events it posted (the info label moves; no scene is painted unless the
// selection, the highlighted object or the scale marker changed).
void HoverAsTheMouseGivesIt(benchmark::State& state, int n)
{
    CPointSet set;
    FillSet(set, n, false);
    auto view = ShowView(state, set);
    if (!view)
        return;
    QApplication::processEvents();
    const long before = view->GetScenePaintCount();
    int x = 0;
    for (auto _ : state) {
        // A pixel to and fro: the label follows what is under the cursor.
        view->Pick(400 + (x ^= 1), 300, false);
        QApplication::processEvents();
    }
    state.counters["scenePaints"] = double(view->GetScenePaintCount() - before);
    Counters(state, n);
}

void Hover100k(benchmark::State& state) { Pick(state, 100000, false); }
void Hover1MPickOnly(benchmark::State& state) { Pick(state, 1000000, false); }
// The same hover with the whole scene in selection mode, for comparison.
void Hover1MSelectionMode(benchmark::State& state) { Pick(state, 1000000, false, false); }
void Band100k(benchmark::State& state) { Pick(state, 100000, true); }
void Band1M(benchmark::State& state) { Pick(state, 1000000, true); }
void Turning100k(benchmark::State& state) { Turning(state, 100000); }
void Turning1M(benchmark::State& state) { Turning(state, 1000000); }
BENCHMARK(Hover100k)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(Hover1MPickOnly)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(Hover1MSelectionMode)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(Band100k)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(Band1M)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(Turning100k)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(Turning1M)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The goals' cases.
void LabelsDiscs100k_Rest(benchmark::State& state) { Frame(state, 100000, true, true, false, false); }
void LabelsDiscs100k_Turning(benchmark::State& state) { Frame(state, 100000, true, true, true, true); }
void Labels1M_Rest(benchmark::State& state) { Frame(state, 1000000, true, false, false, false); }
void Labels1M_Turning(benchmark::State& state) { Frame(state, 1000000, true, false, true, true); }
void Hover1M(benchmark::State& state) { HoverAsTheMouseGivesIt(state, 1000000); }
void Plain1M_Rest(benchmark::State& state) { Frame(state, 1000000, false, false, false, false); }
void Plain1M_Thinned(benchmark::State& state) { Frame(state, 1000000, false, false, true, false); }
// The two parts of the first case on their own.
void Labels100k_Rest(benchmark::State& state) { Frame(state, 100000, true, false, false, false); }
void Discs100k_Rest(benchmark::State& state) { Frame(state, 100000, false, true, false, false); }
// The first case drawn as selection mode draws it (bitmap lists at raster
// positions, discs one by one): the drawing the buffers replace.
void LabelsDiscs100k_Rest_Direct(benchmark::State& state) { Frame(state, 100000, true, true, false, false, true); }
BENCHMARK(LabelsDiscs100k_Rest_Direct)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(Labels100k_Rest)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(Discs100k_Rest)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(LabelsDiscs100k_Rest)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(LabelsDiscs100k_Turning)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(Labels1M_Rest)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(Labels1M_Turning)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(Hover1M)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(Plain1M_Rest)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(Plain1M_Thinned)->Unit(benchmark::kMillisecond)->MinTime(2.0);

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
