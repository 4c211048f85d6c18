// Bundle adjustment of synthetic networks (self-calibrating camera with
// distortion, image noise, control points) to convergence, pass by pass
// through the engine's own loop, then the post-adjustment (inversion, error
// propagation). Each iteration is split into forming and folding the normal
// equations, the factorisation of the reduced system, and the rest
// (triangulation, solution, update). Times are wall-clock seconds (noisy on
// a shared machine) and, as *_cpu_*, processor seconds of all threads.
//
// Arguments: images, points, network (0: a ring whose points every image
// sees; 1: a block where each point is seen by about ten images), worker
// threads, storage of the reduced system (0: chosen by its fill, 1: dense,
// 2: sparse; the counter "sparse" tells which was used). The large networks are registered only with
// KESTRELON_BENCH_LARGE=1 in the environment; peak_rss_MB is the process's
// peak, so run one network per process (--benchmark_filter) to read it.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "BenchNetwork.h"
#include "AdjustmentEngine.h"

using namespace bundletest;

namespace {

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Processor time of the whole process (all its threads): on a shared
// machine the better measure of the work done.
double ProcessCpu()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
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

// Wall-clock and process times at the step boundaries of one pass of the
// engine's loop.
// Minor page faults of the process so far: pages touched for the first time.
double MinorFaults()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_minflt);
}

struct Stamp {
    double wall = 0.0, cpu = 0.0, faults = 0.0;
    static Stamp Take() { return Stamp{Now(), ProcessCpu(), MinorFaults()}; }
};

struct StepTimes {
    Stamp start, forming, decomposition, solution, end;
};

void MarkStep(void* context, int32_t phase)
{
    StepTimes& t = *static_cast<StepTimes*>(context);
    const Stamp now = Stamp::Take();
    switch (phase) {
    case PHASE_FORMING_NORMALS: t.forming = now; break;
    case PHASE_DECOMPOSITION: t.decomposition = now; break;
    case PHASE_SOLVING: t.solution = now; break;
    default: t.end = now; break;
    }
}

void BM_Bundle(benchmark::State& state)
{
    const int images = static_cast<int>(state.range(0));
    const int points = static_cast<int>(state.range(1));
    const int kind = static_cast<int>(state.range(2));
    const int threads = static_cast<int>(state.range(3));
    const int solver = static_cast<int>(state.range(4));
    bool sparse = false;
    double forming = 0.0, factor = 0.0, rest = 0.0, post = 0.0, total = 0.0, sigma0 = 0.0;
    double formingCpu = 0.0, factorCpu = 0.0, restCpu = 0.0, postCpu = 0.0;
    double prepare = 0.0, allocate = 0.0, triangulate = 0.0;
    double prepareCpu = 0.0, allocateCpu = 0.0, triangulateCpu = 0.0;
    double prepareFaults = 0.0, allocateFaults = 0.0, firstPassFaults = 0.0, laterPassFaults = 0.0, postFaults = 0.0;
    int iterations = 0, rays = 0, status = 0;

    double networkMegabytes = 0.0;
    for (auto _ : state) {
        state.PauseTiming();
        std::unique_ptr<Network> network(new Network);
        Network& net = *network;
        BuildBenchNetwork(net, images, points, kind);
        rays = net.rays;
        networkMegabytes = CurrentMegabytes();
        state.ResumeTiming();

        // The driver's own passes, timed step by step through the engine's hook.
        const double start = Now();
        CAdjustmentEngine engine(&net.images, &net.points, &net.control, &net.cameras, &net.scaleBars,
                                 &net.settings, &net.summary);
        engine.SetWorkerLimit(threads);
        engine.SetSolver(static_cast<CAdjustmentEngine::ReducedSolver>(solver));
        const Stamp prepareStart = Stamp::Take();
        if (!engine.Prepare() || !net.settings.standardFolding) {
            state.SkipWithError("preparation failed");
            return;
        }
        const Stamp prepared = Stamp::Take();
        if (!engine.AllocateReducedSystem()) {
            state.SkipWithError("preparation failed");
            return;
        }
        const Stamp allocated = Stamp::Take();
        prepare = prepared.wall - prepareStart.wall;
        allocate = allocated.wall - prepared.wall;
        prepareCpu = prepared.cpu - prepareStart.cpu;
        allocateCpu = allocated.cpu - prepared.cpu;
        prepareFaults = prepared.faults - prepareStart.faults;
        allocateFaults = allocated.faults - prepared.faults;
        firstPassFaults = laterPassFaults = 0.0;
        triangulate = triangulateCpu = 0.0;
        sparse = engine.IsSparseSystem();
        CAdjustmentEngine::IterationState pass;
        forming = factor = rest = 0.0;
        formingCpu = factorCpu = restCpu = 0.0;
        bool more = true;
        while (more) {
            StepTimes t;
            t.start = Stamp::Take();
            more = engine.RunIteration(pass, &MarkStep, &t);
            const Stamp finish = Stamp::Take();
            if (t.end.wall == 0.0) {
                state.SkipWithError("a pass ended before its update");
                return;
            }
            forming += t.decomposition.wall - t.forming.wall;
            factor += t.solution.wall - t.decomposition.wall;
            rest += (t.forming.wall - t.start.wall) + (finish.wall - t.solution.wall);
            formingCpu += t.decomposition.cpu - t.forming.cpu;
            factorCpu += t.solution.cpu - t.decomposition.cpu;
            restCpu += (t.forming.cpu - t.start.cpu) + (finish.cpu - t.solution.cpu);
            triangulate += t.forming.wall - t.start.wall;
            triangulateCpu += t.forming.cpu - t.start.cpu;
            (pass.iteration <= 1 ? firstPassFaults : laterPassFaults) += finish.faults - t.start.faults;
        }
        const Stamp loopEnd = Stamp::Take();
        engine.PostAdjustment();
        const Stamp postEnd = Stamp::Take();
        post = postEnd.wall - loopEnd.wall;
        postCpu = postEnd.cpu - loopEnd.cpu;
        postFaults = postEnd.faults - loopEnd.faults;
        iterations = pass.iteration;
        status = net.summary.status;
        total = Now() - start;
        sigma0 = net.summary.sigma0;
        state.counters["peak_rss_MB"] = PeakMegabytes();
        state.counters["network_rss_MB"] = networkMegabytes;
    }
    state.counters["images"] = images;
    state.counters["points"] = points;
    state.counters["threads"] = threads;
    state.counters["sparse"] = sparse ? 1 : 0;
    state.counters["rays"] = rays;
    state.counters["iterations"] = iterations;
    state.counters["status"] = status;
    state.counters["form_fold_s_per_it"] = forming / iterations;
    state.counters["factor_s_per_it"] = factor / iterations;
    state.counters["rest_s_per_it"] = rest / iterations;
    state.counters["s_per_it"] = (forming + factor + rest) / iterations;
    state.counters["post_adjustment_s"] = post;
    state.counters["form_fold_cpu_s_per_it"] = formingCpu / iterations;
    state.counters["factor_cpu_s_per_it"] = factorCpu / iterations;
    state.counters["rest_cpu_s_per_it"] = restCpu / iterations;
    state.counters["post_adjustment_cpu_s"] = postCpu;
    // Of the above: the merge and checks, the reduced system's allocation,
    // and the part of the rest before forming (mostly the triangulation).
    state.counters["prepare_s"] = prepare;
    state.counters["allocate_s"] = allocate;
    state.counters["triangulate_s_per_it"] = triangulate / iterations;
    state.counters["prepare_cpu_s"] = prepareCpu;
    state.counters["allocate_cpu_s"] = allocateCpu;
    state.counters["triangulate_cpu_s_per_it"] = triangulateCpu / iterations;
    // Pages faulted in (thousands): the phases' fresh memory.
    state.counters["prepare_faults_k"] = prepareFaults / 1e3;
    state.counters["allocate_faults_k"] = allocateFaults / 1e3;
    state.counters["first_pass_faults_k"] = firstPassFaults / 1e3;
    state.counters["later_pass_faults_k_per_it"] = iterations > 1 ? laterPassFaults / 1e3 / (iterations - 1) : 0.0;
    state.counters["post_faults_k"] = postFaults / 1e3;
    state.counters["total_s"] = total;
    state.counters["sigma0"] = sigma0;
}

void Register(const char* name, int images, int points, int kind, int solver = 0)
{
    RegisterOnOneAndEight(name, BM_Bundle, images, points, kind, solver);
}

} // namespace

int main(int argc, char** argv)
{
    Register("BM_BundleBlock", 20, 500, 1);
    Register("BM_BundleBlock", 100, 5000, 1);
    Register("BM_BundleBlock", 400, 8000, 1);
    Register("BM_BundleBlockDense", 400, 8000, 1, 1);
    Register("BM_BundleRing", 200, 3000, 0);
    const char* large = std::getenv("KESTRELON_BENCH_LARGE");
    if (large != nullptr && large[0] == '1') {
        Register("BM_BundleRingLarge", 500, 5000, 0);
        Register("BM_BundleBlockLarge", 1000, 20000, 1);
        Register("BM_BundleBlockLargeDense", 1000, 20000, 1, 1);
        Register("BM_BundleBlockLarge", 1000, 100000, 1);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
