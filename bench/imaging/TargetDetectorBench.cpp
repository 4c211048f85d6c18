// AutoScan over a 20-megapixel picture (5472 x 3648): 1,000 bright targets
// of 3 to 8 px radius (or 10,000 of 2 to 3 px) on a grid with random
// sub-pixel centres, blur 0.7 px, noise sigma 3, a high-quality image with
// its statistics done. One Run per iteration on one thread. Counters: the
// split of Run (segmentation, validation, measuring and within it the
// removal of close observations, in ms), targets found
// and true, the RMS of the found centres against truth (px), and the load
// average of the machine while it ran.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "Camera.h"
#include "DisplayImage.h"
#include "MeasurementTool.h"
#include "ProjectDocument.h"
#include "ProjectImage.h"
#include "TargetDetector.h"
#include "TargetRenderer.h"

namespace {

constexpr int kWidth = 5472;
constexpr int kHeight = 3648;

struct Sheet {
    std::unique_ptr<CDisplayImage> picture;
    std::vector<double> x, y;
};

// Each target is rendered on its own tile and added to the background.
Sheet MakeSheet(int columns, int rows, double minRadius, double maxRadius)
{
    std::vector<double> grey(size_t(kWidth) * kHeight, 20.0);
    std::mt19937 random(7);
    std::uniform_real_distribution<double> offset(-0.5, 0.5), radius(minRadius, maxRadius);
    Sheet sheet;
    const double cellW = double(kWidth) / columns, cellH = double(kHeight) / rows;
    const int tile = int(2 * maxRadius) + 12;
    for (int j = 0; j < rows; ++j)
        for (int i = 0; i < columns; ++i) {
            const double cx = (i + 0.5) * cellW + offset(random), cy = (j + 0.5) * cellH + offset(random);
            const int left = int(cx) - tile / 2, top = int(cy) - tile / 2;
            TargetScene scene;
            scene.width = scene.height = tile;
            scene.background = 0.0;
            scene.blurSigma = 0.7;
            RenderedTarget t;
            t.x = cx - left;
            t.y = cy - top;
            t.semiAxisA = t.semiAxisB = radius(random);
            t.amplitude = 180.0;
            scene.targets.push_back(t);
            const std::vector<double> signal = RenderNoiseFree(scene);
            for (int r = 0; r < tile; ++r)
                for (int c = 0; c < tile; ++c)
                    grey[size_t(top + r) * kWidth + size_t(left + c)] += signal[size_t(r) * tile + c];
            sheet.x.push_back(cx);
            sheet.y.push_back(cy);
        }
    TestPicture picture;
    picture.width = kWidth;
    picture.height = kHeight;
    picture.values.resize(grey.size());
    std::normal_distribution<double> noise(0.0, 3.0);
    for (size_t k = 0; k < grey.size(); ++k)
        picture.values[k] = uint8_t(std::clamp(std::lround(grey[k] + noise(random)), 0L, 255L));
    sheet.picture = MakeDisplayImage(picture);
    sheet.picture->ComputeStatistics();
    return sheet;
}

const Sheet& GetSheet(int count)
{
    static Sheet thousand = MakeSheet(40, 25, 3.0, 8.0);
    static Sheet tenThousand = MakeSheet(125, 80, 2.0, 3.0);
    return count == 1000 ? thousand : tenThousand;
}

void BM_AutoScan(benchmark::State& state)
{
    const int method = int(state.range(0));
    const Sheet& sheet = GetSheet(int(state.range(1)));
    CProjectDocument doc;
    doc.scanMethod = method;
    CCamera camera;
    camera.XPixels = kWidth;
    camera.YPixels = kHeight;
    camera.XPixelSize = camera.YPixelSize = 0.0064;
    CDetectorTimes sum;
    int found = 0;
    double squares = 0.0;
    int matched = 0;
    int runs = 0;
    double load[1] = {0.0};
    for (auto _ : state) {
        state.PauseTiming();
        CProjectImage image;
        CMeasurementTool tool(&image, &camera, sheet.picture.get(), nullptr, nullptr);
        tool.SetDocument(&doc);
        std::unique_ptr<CTargetDetector> detector(CreateTargetDetector(&doc, &image, &camera, &tool, false));
        state.ResumeTiming();
        detector->Run(false);
        state.PauseTiming();
        sum.segmentation += detector->GetTimes().segmentation;
        sum.validation += detector->GetTimes().validation;
        sum.measuring += detector->GetTimes().measuring;
        sum.cleanup += detector->GetTimes().cleanup;
        ++runs;
        found = image.targets.GetSize();
        squares = 0.0;
        matched = 0;
        const double cellW = double(kWidth) / (state.range(1) == 1000 ? 40 : 125);
        const double cellH = double(kHeight) / (state.range(1) == 1000 ? 25 : 80);
        for (int k = 0; k < image.targets.GetSize(); ++k) {
            const CImageObservation* o = image.targets.GetAt(k);
            const int i = int(o->pixelColumn / cellW), j = int(o->pixelRow / cellH);
            const size_t index = size_t(j) * size_t(state.range(1) == 1000 ? 40 : 125) + size_t(i);
            if (index >= sheet.x.size())
                continue;
            const double d2 = std::pow(o->pixelColumn - sheet.x[index], 2) + std::pow(o->pixelRow - sheet.y[index], 2);
            if (d2 < 1.0) {
                squares += d2;
                ++matched;
            }
        }
        getloadavg(load, 1);
        state.ResumeTiming();
    }
    state.counters["segment_ms"] = sum.segmentation / runs;
    state.counters["validate_ms"] = sum.validation / runs;
    state.counters["measure_ms"] = sum.measuring / runs;
    state.counters["cleanup_ms"] = sum.cleanup / runs;
    state.counters["found"] = found;
    state.counters["matched"] = matched;
    state.counters["true"] = double(sheet.x.size());
    state.counters["rms_px"] = matched > 0 ? std::sqrt(squares / matched) : 0.0;
    state.counters["load1"] = load[0];
}

} // namespace

// Arguments: method (0 standard, 1 expansion), target count.
BENCHMARK(BM_AutoScan)->Args({0, 1000})->Args({1, 1000})->Args({0, 10000})->Args({1, 10000})
    ->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK_MAIN();
