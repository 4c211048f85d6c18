// Region growing, scan-line fill and target measurement per target.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>

#include "DisplayImage.h"
#include "ImageRowCache.h"
#include "RegionGrid.h"
#include "TargetRenderer.h"

namespace {

struct Scene {
    std::unique_ptr<CDisplayImage> image;
    std::unique_ptr<CImageRowCache> cache;
    int column = 0;
    int row = 0;
};

Scene MakeScene(double radius)
{
    RenderedTarget t;
    t.x = 64.3;
    t.y = 63.8;
    t.semiAxisA = t.semiAxisB = radius;
    t.amplitude = 170.0;
    TargetScene scene;
    scene.width = scene.height = 128;
    scene.background = 30.0;
    scene.noiseSigma = 2.0;
    scene.targets.push_back(t);
    Scene s;
    s.image = MakeDisplayImage(RenderScene(scene));
    s.cache = std::make_unique<CImageRowCache>(s.image.get(), 10, false);
    s.column = int(t.x);
    s.row = int(t.y);
    return s;
}

void AddLoad(benchmark::State& state)
{
    double load[1] = {0.0};
    if (getloadavg(load, 1) == 1)
        state.counters["load"] = load[0];
}

template <class Step>
void Run(benchmark::State& state, Step step)
{
    Scene s = MakeScene(double(state.range(0)));
    for (auto _ : state) {
        CRegionGrid grid(s.cache.get());
        benchmark::DoNotOptimize(step(grid, s));
    }
    AddLoad(state);
}

void BM_GrowFromSeed(benchmark::State& state)
{
    Run(state, [](CRegionGrid& g, Scene& s) { return g.GrowFromSeed(s.column, s.row, 0.2); });
}

void BM_GrowScanLines(benchmark::State& state)
{
    Run(state, [](CRegionGrid& g, Scene& s) { return g.GrowScanLines(s.column, s.row, 0.2); });
}

void BM_MeasureTarget(benchmark::State& state)
{
    Run(state, [](CRegionGrid& g, Scene& s) {
        double x = 0.0, y = 0.0;
        return g.MeasureTarget(s.column, s.row, x, y);
    });
}

} // namespace

BENCHMARK(BM_GrowFromSeed)->Arg(5)->Arg(15)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GrowScanLines)->Arg(5)->Arg(15)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MeasureTarget)->Arg(5)->Arg(15)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
