// What follows the iterations of a bundle run on synthetic blocks: the
// inversion of the reduced system, the covariances, the propagation into
// the folded points or stations, the RMS of the standard errors and the
// scaling by scale bars. The run goes through the engine's own driver on a
// worker thread while this thread watches the phase of the progress record
// and notes when each phase begins (wall clock).
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <thread>

#include "../../tests/adjust/support/BundleNetwork.h"
#include "AdjustmentEngine.h"

using namespace bundletest;

namespace {

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

enum Kind { CONTROL_STANDARD, FREE_STANDARD_BARS, CONTROL_REVERSE, FREE_RIGOROUS_BARS };

void Build(Network& net, Kind kind, int images, int points)
{
    NetworkOptions o;
    o.seed = 777;
    o.noise = 0.001;
    BuildBlock(net, images, points, o);
    net.settings.convergenceLimit = 5e-6;
    net.settings.maxIterations = 30;
    net.settings.totalErrorPropagation = true;
    if (kind == CONTROL_STANDARD || kind == CONTROL_REVERSE)
        AddControl(net, 50, 0.005);
    // Rigorous scaling folds the stations out whatever the counts.
    net.settings.rigorousScale = kind == CONTROL_REVERSE;
    if (kind == FREE_STANDARD_BARS || kind == FREE_RIGOROUS_BARS) {
        // Bars between points some way apart, calibrated at their true length.
        const int n = net.truth.GetSize();
        for (int k = 0; k < 20 && 2 * k + 1 < n; ++k) {
            const CObjectPoint* a = net.truth.GetAt(k);
            const CObjectPoint* b = net.truth.GetAt(n - 1 - k);
            CScaleBar* bar = net.scaleBars.AddNew();
            char name[40];
            std::snprintf(name, sizeof name, "BAR%d", k);
            bar->name = name;
            bar->endLabel1.Copy(a->label);
            bar->endLabel2.Copy(b->label);
            bar->calibratedLength = std::sqrt((b->x - a->x) * (b->x - a->x) + (b->y - a->y) * (b->y - a->y) +
                                              (b->z - a->z) * (b->z - a->z));
            bar->standardDeviation = 0.0005;
        }
        net.settings.rigorousScale = kind == FREE_RIGOROUS_BARS;
    }
}

void BM_PostAdjustment(benchmark::State& state)
{
    const Kind kind = static_cast<Kind>(state.range(0));
    const int images = static_cast<int>(state.range(1));
    const int points = static_cast<int>(state.range(2));
    double begin[13] = {};
    double done = 0.0, start = 0.0;
    double barEquations = 0.0;
    int status = 0, iterations = 0, reduced = 0, standard = 0, scaling = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::unique_ptr<Network> net(new Network);
        Build(*net, kind, images, points);
        CAdjustmentEngine engine(&net->images, &net->points, net->control.GetSize() ? &net->control : nullptr,
                                 &net->cameras, &net->scaleBars, &net->settings, &net->summary);
        state.ResumeTiming();
        for (double& b : begin)
            b = 0.0;
        barEquations = 0.0;
        start = Now();
        std::thread worker([&engine] { engine.RunBundle(); });
        int phase = -2;
        double barStart = 0.0;
        while (!engine.progress.IsDone()) {
            const int now = engine.progress.phase.load(std::memory_order_relaxed);
            if (now != phase) {
                const double t = Now();
                if (now >= 0 && now <= 12 && (now >= PHASE_INVERTING || begin[now] == 0.0))
                    begin[now] = t;
                if (now == PHASE_RIGOROUS_SCALING)
                    barStart = t;
                if (phase == PHASE_RIGOROUS_SCALING)
                    barEquations += t - barStart;
                phase = now;
            }
        }
        done = Now();
        worker.join();
        status = net->summary.status;
        iterations = engine.progress.iteration.load();
        reduced = engine.reducedCount;
        standard = net->settings.standardFolding ? 1 : 0;
        scaling = net->scaleBars.scalingResult;
        if (status == 2)
            state.SetLabel(engine.GetFailureReason());
    }
    // Each post-adjustment phase lasts until the next one seen (a phase too
    // short to be seen counts with the one before it).
    const int order[5] = {PHASE_INVERTING, PHASE_COVARIANCE, PHASE_ERROR_PROPAGATION, PHASE_RMS_STANDARD_ERRORS,
                          PHASE_POST_BUNDLE_SCALING};
    const char* names[5] = {"invert_s", "covariance_s", "propagate_s", "rms_s", "post_scale_s"};
    for (int k = 0; k < 5; ++k) {
        double end = done;
        for (int q = k + 1; q < 5; ++q)
            if (begin[order[q]] > 0.0) {
                end = begin[order[q]];
                break;
            }
        state.counters[names[k]] = begin[order[k]] > 0.0 ? end - begin[order[k]] : 0.0;
    }
    state.counters["images"] = images;
    state.counters["points"] = points;
    state.counters["standard_folding"] = standard;
    state.counters["reduced_unknowns"] = reduced;
    state.counters["status"] = status;
    state.counters["iterations"] = iterations;
    state.counters["run_s"] = done - start;
    state.counters["bar_equations_s"] = barEquations;
    state.counters["post_adjust_s"] = begin[PHASE_INVERTING] > 0.0 ? done - begin[PHASE_INVERTING] : 0.0;
    state.counters["scaling_result"] = scaling;
}

} // namespace

// Kind, images, points. The standard cases match the engine's bundle
// benchmark; the reverse ones fold the stations out (by rigorous scaling; a
// block with more than half as many images as points has too few points at
// its edges to orient every image).
BENCHMARK(BM_PostAdjustment)
    ->Args({CONTROL_STANDARD, 100, 5000})
    ->Args({FREE_STANDARD_BARS, 100, 5000})
    ->Args({CONTROL_STANDARD, 500, 50000})
    ->Args({CONTROL_REVERSE, 100, 1000})
    ->Args({FREE_RIGOROUS_BARS, 200, 300})
    ->Args({FREE_RIGOROUS_BARS, 100, 2000})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
