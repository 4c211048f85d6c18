// The station window's CPU pick: one hover (a 4 x 4 region) and one area
// selection (a quarter of the window) over sets of 100,000 and 1,000,000
// points seen from a station, half of them with discs.
#include "PointSet.h"
#include "ProjectImage.h"
#include "StationMath.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

struct PickScene {
    CPointSet set;
    double modelview[16];
    double projection[16];
    int viewport[4] = {0, 0, 640, 480};

    explicit PickScene(int count)
    {
        std::mt19937 random(5);
        std::uniform_real_distribution<double> u(-1.0, 1.0);
        set.Reserve(count);
        for (int i = 0; i < count; ++i) {
            CObjectPoint p(("P" + std::to_string(i)).c_str(), 500 * u(random), 200 * u(random), 400 * u(random));
            if (i % 2 == 0) {
                p.radius = 3.0;
                p.SetNormal(0, -1, 0);
            }
            set.AddCopy(p);
        }
        CProjectImage station;
        station.SetPose(0, -2000, 0, 0, 0, 0);
        StationModelview(station, modelview);
        const double f = 1.0 / std::tan(20.0 * M_PI / 180.0), n = 1000.0, far = 3000.0;
        for (double& v : projection)
            v = 0.0;
        projection[0] = f * 480.0 / 640.0;
        projection[5] = f;
        projection[10] = (far + n) / (n - far);
        projection[11] = -1.0;
        projection[14] = 2.0 * far * n / (n - far);
    }
};

void Pick(benchmark::State& state, bool area)
{
    static PickScene* scenes[2] = {nullptr, nullptr};
    const int index = state.range(0) >= 1000000 ? 1 : 0;
    if (!scenes[index])
        scenes[index] = new PickScene(int(state.range(0)));
    PickScene& s = *scenes[index];
    CPickRegion region;
    region.x = 320;
    region.y = 240;
    if (area) {
        region.width = 320;
        region.height = 240;
    }
    std::vector<int> names;
    for (auto _ : state) {
        PickPointSymbols(s.set, 1.0f, true, 1, s.modelview, s.projection, s.viewport, region, names);
        benchmark::DoNotOptimize(names.data());
    }
    state.counters["hits"] = double(names.size());
}

void BM_StationHoverPick(benchmark::State& state) { Pick(state, false); }
void BM_StationAreaPick(benchmark::State& state) { Pick(state, true); }

} // namespace

BENCHMARK(BM_StationHoverPick)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StationAreaPick)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
