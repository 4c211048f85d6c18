// Render of a 20-megapixel image (5472 x 3648) with 1,000 targets of 5 to
// 20 px radius, tilted up to 50 degrees, per coverage method (0 linear,
// 1 numerical with 16 steps, 2 exact).
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

#include "Camera.h"
#include "ObjectPoint.h"
#include "PointSet.h"
#include "ProjectImage.h"
#include "SyntheticImageGenerator.h"

namespace {

struct Scene {
    CPointSet points;
    CProjectImage image;
    CCamera camera;

    Scene()
    {
        const double c = 50.0, pixel = 0.004, distance = 2000.0, scale = pixel * distance / c;
        image.SetPose(0, 0, 0, 0, 0, 0);
        camera.parameters[CAM_C] = c;
        camera.XPixelSize = camera.YPixelSize = pixel;
        camera.XPixels = 5472;
        camera.YPixels = 3648;
        std::mt19937 random(7);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        for (int i = 0; i < 1000; ++i) {
            char label[16];
            std::snprintf(label, sizeof label, "P%04d", i);
            const double column = 40.0 + unit(random) * (camera.XPixels - 80.0);
            const double row = 40.0 + unit(random) * (camera.YPixels - 80.0);
            const double tilt = unit(random) * 0.87, azimuth = unit(random) * 6.28;
            CObjectPoint p(label, (column - camera.XPixels / 2) * scale, distance,
                           (camera.YPixels / 2 - row) * scale);
            p.SetNormal(std::sin(tilt) * std::cos(azimuth), -std::cos(tilt), std::sin(tilt) * std::sin(azimuth));
            p.radius = (5.0 + unit(random) * 15.0) * scale;
            points.AddPointSorted(p);
        }
    }
};

void BM_Render(benchmark::State& state)
{
    static Scene scene;
    const int method = int(state.range(0));
    for (auto _ : state) {
        CSyntheticImageGenerator g(scene.points, scene.image, scene.camera, 0.001);
        benchmark::DoNotOptimize(g.Render(2, method, 16, 1, 0, 0, 1));
    }
}
BENCHMARK(BM_Render)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
