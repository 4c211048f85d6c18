// Bundle adjustment of synthetic blocks (self-calibrating camera with
// distortion, image noise, control points) to convergence, pass by pass
// through the engine's own loop. Each iteration is split into forming and
// folding the normal equations, the factorisation of the reduced system,
// and the rest (triangulation, solution, update). Times are processor time
// of the running thread.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>

#include <cmath>
#include <ctime>

#include "../../tests/adjust/support/BundleNetwork.h"
#include "AdjustmentEngine.h"

using namespace bundletest;

namespace {

// Time on this thread's processor: the machine may be shared, and the
// engine runs on one thread.
struct Clock {
    using time_point = double;
    static double now()
    {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
    }
};

double PeakMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

double CurrentMegabytes()
{
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

void BuildBenchNetwork(Network& net, int images, int points)
{
    NetworkOptions o;
    o.seed = 4242;
    o.noise = 0.001;
    o.imageSigma = 0.001;
    BuildBlock(net, images, points, o);
    AddControl(net, 50, 0.005);
    net.settings.convergenceLimit = 5e-6; // the default
    net.settings.maxIterations = 30;
}

// Thread times at the step boundaries of one pass of the engine's loop.
struct StepTimes {
    double start = 0.0, forming = 0.0, decomposition = 0.0, solution = 0.0, end = 0.0;
};

void MarkStep(void* context, int32_t phase)
{
    StepTimes& t = *static_cast<StepTimes*>(context);
    const double now = Clock::now();
    switch (phase) {
    case PHASE_FORMING_NORMALS: t.forming = now; break;
    case PHASE_DECOMPOSITION: t.decomposition = now; break;
    case PHASE_SOLVING: t.solution = now; break;
    default: t.end = now; break;
    }
}

void BM_BundleBlock(benchmark::State& state)
{
    const int images = static_cast<int>(state.range(0));
    const int points = static_cast<int>(state.range(1));
    double forming = 0.0, factor = 0.0, rest = 0.0, total = 0.0, sigma0 = 0.0;
    int iterations = 0, rays = 0, status = 0;

    double networkMegabytes = 0.0;
    for (auto _ : state) {
        state.PauseTiming();
        std::unique_ptr<Network> network(new Network);
        Network& net = *network;
        BuildBenchNetwork(net, images, points);
        rays = net.rays;
        networkMegabytes = CurrentMegabytes();
        state.ResumeTiming();

        // The driver's own passes, timed step by step through the engine's hook.
        const double start = Clock::now();
        CAdjustmentEngine engine(&net.images, &net.points, &net.control, &net.cameras, &net.scaleBars,
                                 &net.settings, &net.summary);
        if (!engine.Prepare() || !net.settings.standardFolding || !engine.AllocateReducedSystem()) {
            state.SkipWithError("preparation failed");
            return;
        }
        CAdjustmentEngine::IterationState pass;
        forming = factor = rest = 0.0;
        bool more = true;
        while (more) {
            StepTimes t;
            t.start = Clock::now();
            more = engine.RunIteration(pass, &MarkStep, &t);
            const double finish = Clock::now();
            if (t.end == 0.0) {
                state.SkipWithError("a pass ended before its update");
                return;
            }
            forming += t.decomposition - t.forming;
            factor += t.solution - t.decomposition;
            rest += (t.forming - t.start) + (finish - t.solution);
        }
        iterations = pass.iteration;
        status = net.summary.status;
        total = Clock::now() - start;
        sigma0 = net.summary.sigma0;
        state.counters["peak_rss_MB"] = PeakMegabytes();
        state.counters["network_rss_MB"] = networkMegabytes;
    }
    state.counters["images"] = images;
    state.counters["points"] = points;
    state.counters["rays"] = rays;
    state.counters["iterations"] = iterations;
    state.counters["status"] = status;
    state.counters["form_fold_s_per_it"] = forming / iterations;
    state.counters["factor_s_per_it"] = factor / iterations;
    state.counters["rest_s_per_it"] = rest / iterations;
    state.counters["total_s"] = total;
    state.counters["sigma0"] = sigma0;
}

} // namespace

BENCHMARK(BM_BundleBlock)
    ->Args({20, 500})
    ->Args({100, 5000})
    ->Args({500, 50000})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
