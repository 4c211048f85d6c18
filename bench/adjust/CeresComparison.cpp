// The networks of BundleBench solved by Ceres Solver, for comparison: the
// same collinearity model (azimuth-elevation-roll stations, the ten-parameter
// camera with K3 held, the observations corrected by the camera's
// distortion), the same rays and start values (the engine's merge and first
// triangulation), the control points as weighted coordinate observations.
// Exact derivatives by automatic differentiation; Gauss-Newton steps
// (Levenberg-Marquardt with a trust region too large to damp them); the
// points eliminated by the Schur complement, dense where every image sees
// every point and sparse otherwise (the sparse factorisation's BLAS on one
// thread, as the engine's). Built only when Ceres is installed.
//
// Counters: seconds per iteration (mean over the iterations after the
// first evaluation), the linear solver's and the evaluation's share, and
// the network's size. Arguments as BundleBench: images, points, network
// (0 ring, 1 block), threads.
#include <benchmark/benchmark.h>
#include <ceres/ceres.h>

#include <dlfcn.h>

#include <cmath>
#include <memory>
#include <vector>

#include "BenchNetwork.h"
#include "AdjustmentEngine.h"
#include "ImageObservation.h"
#include "PointSet.h"

using namespace bundletest;

namespace {

// The weighted misclosures of one ray: x' + c U / W, y' + c V / W, with
// (x', y') the observation corrected by the camera's distortion.
struct RayResidual {
    double x, y, wx, wy;

    template <class T>
    bool operator()(const T* camera, const T* station, const T* point, T* residual) const
    {
        using std::cos;
        using std::sin;
        const T sa = sin(station[3]), ca = cos(station[3]);
        const T se = sin(station[4]), ce = cos(station[4]);
        const T sr = sin(station[5]), cr = cos(station[5]);
        const T R[3][3] = {{se * sr * sa + cr * ca, cr * sa - se * sr * ca, sr * ce},
                           {cr * se * sa - sr * ca, -sr * sa - cr * se * ca, cr * ce},
                           {ce * sa, -ce * ca, -se}};
        const T d[3] = {point[0] - station[0], point[1] - station[1], point[2] - station[2]};
        const T U = R[0][0] * d[0] + R[0][1] * d[1] + R[0][2] * d[2];
        const T V = R[1][0] * d[0] + R[1][1] * d[1] + R[1][2] * d[2];
        const T W = R[2][0] * d[0] + R[2][1] * d[1] + R[2][2] * d[2];
        const T dx = T(x) - camera[CAM_XP];
        const T dy = T(y) - camera[CAM_YP];
        const T r2 = dx * dx + dy * dy;
        const T dr = camera[CAM_K1] * r2 + camera[CAM_K2] * r2 * r2 + camera[CAM_K3] * r2 * r2 * r2;
        const T P1 = camera[CAM_P1], P2 = camera[CAM_P2];
        const T xc = dx + dx * dr + camera[CAM_B1] * dx + camera[CAM_B2] * dy + P1 * (r2 + 2.0 * dx * dx) +
                     2.0 * P2 * dx * dy;
        const T yc = dy + dy * dr + P2 * (r2 + 2.0 * dy * dy) + 2.0 * P1 * dx * dy;
        residual[0] = (xc + camera[CAM_C] * U / W) * wx;
        residual[1] = (yc + camera[CAM_C] * V / W) * wy;
        return true;
    }
};

// A control point's coordinates as observations of the point.
struct ControlResidual {
    double c[3], w[3];
    template <class T>
    bool operator()(const T* point, T* residual) const
    {
        for (int a = 0; a < 3; ++a)
            residual[a] = (point[a] - c[a]) * w[a];
        return true;
    }
};

struct Unknowns {
    std::vector<double> cameras;  // 10 per camera
    std::vector<double> stations; // X, Y, Z, azimuth, elevation, roll
    std::vector<double> points;   // 3 per point
};

// The problem of the network after the engine's merge and triangulation.
bool BuildProblem(Network& net, Unknowns& u, ceres::Problem& problem, ceres::ParameterBlockOrdering& ordering,
                  int& rayCount)
{
    CAdjustmentEngine engine(&net.images, &net.points, &net.control, &net.cameras, &net.scaleBars, &net.settings,
                             &net.summary);
    int triangulated = 0;
    double rms = 0.0;
    if (!engine.Prepare() || !engine.TriangulateAll(triangulated, rms, 0))
        return false;
    const int nCam = net.cameras.GetSize();
    const int nSta = net.images.GetSize();
    const int nPt = net.points.GetSize();
    u.cameras.resize(10 * static_cast<size_t>(nCam));
    u.stations.resize(6 * static_cast<size_t>(nSta));
    u.points.resize(3 * static_cast<size_t>(nPt));
    for (int k = 0; k < nCam; ++k)
        for (int q = 0; q < 10; ++q)
            u.cameras[10 * static_cast<size_t>(k) + q] = net.cameras.GetAt(k)->parameters[q];
    for (int j = 0; j < nSta; ++j) {
        const CProjectImage* image = net.images.GetAt(j);
        const double s[6] = {image->X, image->Y, image->Z, image->GetAzimuth(), image->GetElevation(),
                             image->GetRoll()};
        std::copy(s, s + 6, &u.stations[6 * static_cast<size_t>(j)]);
    }
    rayCount = 0;
    for (int i = 0; i < nPt; ++i) {
        CObjectPoint* point = net.points.GetAt(i);
        double* X = &u.points[3 * static_cast<size_t>(i)];
        X[0] = point->x;
        X[1] = point->y;
        X[2] = point->z;
        if (point->unsolved || !std::isfinite(X[0]))
            continue;
        for (int j = 0; j < nSta && j < point->observationIndex.GetSize(); ++j) {
            const int index = point->observationIndex[j];
            CProjectImage* image = net.images.GetAt(j);
            if (index < 0 || index >= image->targets.GetSize())
                continue;
            const CImageObservation* obs = image->targets.GetAt(index);
            const int k = engine.GetCameraIndex(*image);
            auto* cost = new ceres::AutoDiffCostFunction<RayResidual, 2, 10, 6, 3>(
                new RayResidual{obs->x, obs->y, 1.0 / obs->sigmaX, 1.0 / obs->sigmaY});
            problem.AddResidualBlock(cost, nullptr, &u.cameras[10 * static_cast<size_t>(k)],
                                     &u.stations[6 * static_cast<size_t>(j)], X);
            ++rayCount;
        }
        const int c = net.control.IndexOfLabel(point->label);
        if (c >= 0) {
            const CObjectPoint* control = net.control.GetAt(c);
            ControlResidual r{};
            for (int a = 0; a < 3; ++a)
                r.w[a] = 1.0 / control->aprioriSigma[a];
            r.c[0] = control->x;
            r.c[1] = control->y;
            r.c[2] = control->z;
            problem.AddResidualBlock(new ceres::AutoDiffCostFunction<ControlResidual, 3, 3>(new ControlResidual(r)),
                                     nullptr, X);
        }
        if (problem.HasParameterBlock(X))
            ordering.AddElementToGroup(X, 0);
    }
    for (int k = 0; k < nCam; ++k) {
        double* cam = &u.cameras[10 * static_cast<size_t>(k)];
        if (!problem.HasParameterBlock(cam))
            continue;
        // K3 is held, as in the engine's networks.
        problem.SetManifold(cam, new ceres::SubsetManifold(10, {CAM_K3}));
        ordering.AddElementToGroup(cam, 1);
    }
    for (int j = 0; j < nSta; ++j) {
        double* s = &u.stations[6 * static_cast<size_t>(j)];
        if (problem.HasParameterBlock(s))
            ordering.AddElementToGroup(s, 1);
    }
    return true;
}

void BM_Ceres(benchmark::State& state)
{
    const int images = static_cast<int>(state.range(0));
    const int points = static_cast<int>(state.range(1));
    const int kind = static_cast<int>(state.range(2));
    const int threads = static_cast<int>(state.range(3));
    const int iterationsWanted = static_cast<int>(state.range(4));
    double perIteration = 0.0, linear = 0.0, evaluation = 0.0, cost = 0.0;
    int iterations = 0, rays = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::unique_ptr<Network> net(new Network);
        BuildBenchNetwork(*net, images, points, kind);
        Unknowns u;
        ceres::Problem::Options problemOptions;
        ceres::Problem problem(problemOptions);
        auto* ordering = new ceres::ParameterBlockOrdering;
        if (!BuildProblem(*net, u, problem, *ordering, rays)) {
            delete ordering;
            state.SkipWithError("the engine's preparation failed");
            return;
        }
        ceres::Solver::Options options;
        options.linear_solver_type = kind == 0 ? ceres::DENSE_SCHUR : ceres::SPARSE_SCHUR;
        options.linear_solver_ordering.reset(ordering);
        options.minimizer_type = ceres::TRUST_REGION;
        options.trust_region_strategy_type = ceres::LEVENBERG_MARQUARDT;
        options.initial_trust_region_radius = 1e16; // no damping: Gauss-Newton steps
        options.max_trust_region_radius = 1e32;
        options.max_num_iterations = iterationsWanted;
        options.function_tolerance = 0.0;
        options.gradient_tolerance = 0.0;
        options.parameter_tolerance = 0.0;
        options.num_threads = threads;
        options.logging_type = ceres::SILENT;
        state.ResumeTiming();
        ceres::Solver::Summary summary;
        ceres::Solve(options, &problem, &summary);
        state.PauseTiming();
        iterations = static_cast<int>(summary.iterations.size()) - 1;
        double sum = 0.0;
        for (size_t i = 1; i < summary.iterations.size(); ++i)
            sum += summary.iterations[i].iteration_time_in_seconds;
        perIteration = iterations > 0 ? sum / iterations : 0.0;
        linear = iterations > 0 ? summary.linear_solver_time_in_seconds / iterations : 0.0;
        evaluation = iterations > 0 ? (summary.residual_evaluation_time_in_seconds +
                                       summary.jacobian_evaluation_time_in_seconds) /
                                          iterations
                                    : 0.0;
        cost = summary.final_cost;
        state.ResumeTiming();
    }
    state.counters["images"] = images;
    state.counters["points"] = points;
    state.counters["rays"] = rays;
    state.counters["threads"] = threads;
    state.counters["iterations"] = iterations;
    state.counters["s_per_it"] = perIteration;
    state.counters["linear_solver_s_per_it"] = linear;
    state.counters["evaluation_s_per_it"] = evaluation;
    state.counters["final_cost"] = cost;
}

void Register(const char* name, int images, int points, int kind, int iterations)
{
    RegisterOnOneAndEight(name, BM_Ceres, images, points, kind, iterations);
}

} // namespace

int main(int argc, char** argv)
{
    // An optimised BLAS, where linked, runs on one thread as in the engine
    // (its own threads only slow the small blocks of these factorisations).
    using SetThreads = void (*)(int);
    if (void* f = dlsym(RTLD_DEFAULT, "openblas_set_num_threads"))
        reinterpret_cast<SetThreads>(f)(1);
    Register("BM_CeresBlock", 100, 5000, 1, 5);
    Register("BM_CeresBlock", 400, 8000, 1, 5);
    Register("BM_CeresRing", 200, 3000, 0, 5);
    const char* large = std::getenv("KESTRELON_BENCH_LARGE");
    if (large != nullptr && large[0] == '1') {
        Register("BM_CeresRingLarge", 500, 5000, 0, 3);
        Register("BM_CeresBlockLarge", 1000, 20000, 1, 5);
        Register("BM_CeresBlockLarge", 1000, 100000, 1, 5);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
