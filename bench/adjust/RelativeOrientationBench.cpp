// Relative orientation of a synthetic image pair: the full candidate search,
// one step, and for comparison the inversion of the bordered system of order
// n + 7 that a step without eliminating the correlates would need.
#include <benchmark/benchmark.h>
#include <newmat/newmat.h>

#include <cmath>
#include <cstdio>
#include <random>

#include "Camera.h"
#include "PointSet.h"
#include "ProjectImage.h"
#include "RelativeOrientation.h"

namespace {

struct BenchPair {
    CCamera camera1, camera2;
    CProjectImage image1, image2;
    CPointSet points;

    explicit BenchPair(int n)
    {
        for (CCamera* c : {&camera1, &camera2}) {
            c->XPixels = 6000;
            c->YPixels = 4000;
            c->XPixelSize = c->YPixelSize = 0.006;
            c->parameters[CAM_C] = 24.0;
        }
        camera1.identifier = "CAM1";
        camera2.identifier = "CAM2";
        image1.SetCameraName("CAM1");
        image2.SetCameraName("CAM2");
        // First image at the model origin looking along +Y, second 1000 to the
        // side, turned towards the field centre.
        image1.SetPose(0, 0, 0, 0, 0, 0);
        image2.SetPose(1000, 0, 100, std::atan2(1000.0, 4000.0), -0.02, 0.05);
        std::mt19937 random(7);
        std::uniform_real_distribution<double> across(-1500, 1500), depth(3000, 5000), height(-1000, 1000);
        std::normal_distribution<double> noise(0.0, 0.0005);
        int made = 0;
        for (int attempt = 0; made < n && attempt < 100 * n; ++attempt) {
            const double P[3] = {across(random), depth(random), height(random)};
            double xy[2][2];
            bool visible = true;
            const CProjectImage* images[2] = {&image1, &image2};
            for (int k = 0; k < 2 && visible; ++k) {
                double R[3][3];
                images[k]->GetRotation(R);
                const double d[3] = {P[0] - images[k]->X, P[1] - images[k]->Y, P[2] - images[k]->Z};
                double u[3];
                for (int i = 0; i < 3; ++i)
                    u[i] = R[i][0] * d[0] + R[i][1] * d[1] + R[i][2] * d[2];
                xy[k][0] = -24.0 * u[0] / u[2] + noise(random);
                xy[k][1] = -24.0 * u[1] / u[2] + noise(random);
                visible = u[2] < 0.0 && std::fabs(xy[k][0]) < 17.0 && std::fabs(xy[k][1]) < 11.0;
            }
            if (!visible)
                continue;
            char label[16];
            std::snprintf(label, sizeof label, "P%d", ++made);
            image1.targets.AddSorted(CImageObservation(CNameBuffer(label), xy[0][0], xy[0][1]));
            image2.targets.AddSorted(CImageObservation(CNameBuffer(label), xy[1][0], xy[1][1]));
        }
    }
};

void BM_FullCandidateSearch(benchmark::State& state)
{
    BenchPair pair(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        CRelativeOrientation ro(pair.image1, pair.image2, pair.camera1, pair.camera2, pair.points, 1000.0);
        if (!ro.Run())
            state.SkipWithError("no solution");
        benchmark::DoNotOptimize(pair.image2.X);
    }
}
BENCHMARK(BM_FullCandidateSearch)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

void BM_Step(benchmark::State& state)
{
    BenchPair pair(static_cast<int>(state.range(0)));
    CRelativeOrientation ro(pair.image1, pair.image2, pair.camera1, pair.camera2, pair.points, 1000.0);
    for (auto _ : state) {
        pair.image2.SetRotation(0.25, -0.03, 0.06);
        ro.SetBase(990.0, 30.0, 90.0);
        if (!ro.IterateStep())
            state.SkipWithError("singular");
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_Step)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond)->Complexity();

// What one step would cost with the bordered system of order n + 7 inverted whole.
void BM_BorderedInverse(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    std::mt19937 random(3);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    NEWMAT::Matrix N(n + 7, n + 7);
    N = 0.0;
    for (int i = 1; i <= n; ++i) {
        N(i, i) = 1.0 + value(random) * value(random);
        for (int j = 1; j <= 6; ++j)
            N(i, n + 1 + j) = N(n + 1 + j, i) = value(random);
    }
    for (int j = 1; j <= 3; ++j)
        N(n + 1, n + 1 + j) = N(n + 1 + j, n + 1) = value(random);
    for (auto _ : state) {
        NEWMAT::Matrix inverse = N.i();
        benchmark::DoNotOptimize(inverse(1, 1));
    }
}
BENCHMARK(BM_BorderedInverse)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
