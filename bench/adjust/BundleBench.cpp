// Bundle adjustment of synthetic blocks (self-calibrating camera with
// distortion, image noise, control points) to convergence. Each iteration
// is split into forming and folding the normal equations, the
// factorisation of the reduced system, and the rest (triangulation,
// solution, update). The engine's own driver then runs the same network
// once more for its iteration count and total time. Times are processor
// time of the running thread.
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

double Seconds(double a, double b)
{
    return b - a;
}

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

void BM_BundleBlock(benchmark::State& state)
{
    const int images = static_cast<int>(state.range(0));
    const int points = static_cast<int>(state.range(1));
    double forming = 0.0, factor = 0.0, rest = 0.0, total = 0.0, sigma0 = 0.0;
    int iterations = 0, rays = 0, status = 0, driverIterations = 0;
    double driverSeconds = 0.0;

    double networkMegabytes = 0.0;
    for (auto _ : state) {
        state.PauseTiming();
        std::unique_ptr<Network> first(new Network);
        Network& net = *first;
        BuildBenchNetwork(net, images, points);
        rays = net.rays;
        networkMegabytes = CurrentMegabytes();
        state.ResumeTiming();
        {
            // The driver's loop over the engine's steps, timed step by step.
            const Clock::time_point start = Clock::now();
            CAdjustmentEngine engine(&net.images, &net.points, &net.control, &net.cameras, &net.scaleBars,
                                     &net.settings, &net.summary);
            if (!engine.Prepare() || !net.settings.standardFolding) {
                state.SkipWithError("preparation failed");
                return;
            }
            engine.normals = new CMatrix(engine.reducedCount + 1, -1);
            CVector x(engine.reducedCount);
            double previous = 0.0;
            iterations = 0;
            forming = factor = rest = 0.0;
            for (;;) {
                const Clock::time_point t0 = Clock::now();
                engine.matrixStore.RemoveAll();
                engine.vectorStore.RemoveAll();
                if (iterations > 0) {
                    engine.normals->Zero();
                    x.Zero();
                }
                int count = 0;
                double triangulationRms = 0.0;
                engine.TriangulateAll(count, triangulationRms, iterations);
                ++iterations;
                const Clock::time_point t1 = Clock::now();
                int equations = 0;
                engine.FormNormalsControlStandard(equations);
                const Clock::time_point t2 = Clock::now();
                net.summary.observations = equations;
                net.summary.constraints = engine.CountConstraints();
                const double rms = std::sqrt(net.summary.vv / equations);
                engine.ComputeSigma0(iterations);
                const bool factored = engine.normals->LdltDecompose();
                const Clock::time_point t3 = Clock::now();
                if (!factored) {
                    state.SkipWithError("decomposition failed");
                    return;
                }
                engine.normals->SolveAugmentedUnit(x);
                engine.UpdateCamerasAndStations(x);
                engine.UpdatePointsStandard(x);
                const Clock::time_point t4 = Clock::now();
                forming += Seconds(t1, t2);
                factor += Seconds(t2, t3);
                rest += Seconds(t0, t1) + Seconds(t3, t4);
                if (std::fabs(previous - rms) < net.settings.convergenceLimit ||
                    iterations >= net.settings.maxIterations)
                    break;
                previous = rms;
            }
            total = Seconds(start, Clock::now());
            sigma0 = net.summary.sigma0;
            state.counters["peak_rss_MB"] = PeakMegabytes();
            state.counters["network_rss_MB"] = networkMegabytes;
        }

        // The same network through the engine's driver.
        state.PauseTiming();
        first.reset();
        Network again;
        BuildBenchNetwork(again, images, points);
        CAdjustmentEngine driver(&again.images, &again.points, &again.control, &again.cameras, &again.scaleBars,
                                 &again.settings, &again.summary);
        const Clock::time_point d0 = Clock::now();
        driver.RunBundle();
        driverSeconds = Seconds(d0, Clock::now());
        status = again.summary.status;
        driverIterations = again.summary.iterations;
        state.ResumeTiming();
    }
    state.counters["images"] = images;
    state.counters["points"] = points;
    state.counters["rays"] = rays;
    state.counters["iterations"] = iterations;
    state.counters["form_fold_s_per_it"] = forming / iterations;
    state.counters["factor_s_per_it"] = factor / iterations;
    state.counters["rest_s_per_it"] = rest / iterations;
    state.counters["total_s"] = total;
    state.counters["sigma0"] = sigma0;
    state.counters["driver_status"] = status;
    state.counters["driver_iterations"] = driverIterations;
    state.counters["driver_s"] = driverSeconds;
}

} // namespace

BENCHMARK(BM_BundleBlock)
    ->Args({20, 500})
    ->Args({100, 5000})
    ->Args({500, 50000})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
