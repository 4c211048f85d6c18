// The centroid operator on rendered discs: a Monte Carlo over 400 random
// sub-pixel centres per case (radius 3, 5 and 10 px; noise 2 and 5 grey
// levels; blur 0.7 px; 180 grey levels above a background of 20). Counters:
// the RMS radial centre error, the renderer's Cramer-Rao bound of the centre
// and their ratio; the same for a plain intensity-weighted centroid above a
// 3-sigma threshold over the same pictures; the time is per Compute at
// window 64.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "CentroidOperator.h"
#include "DisplayImage.h"
#include "TargetRenderer.h"

namespace {

constexpr int kCentres = 400;
constexpr int kSide = 80;

struct Sample {
    std::unique_ptr<CDisplayImage> image;
    TestPicture picture;
    double x = 0.0;
    double y = 0.0;
    int column = 0;
    int row = 0;
};

struct Study {
    std::vector<Sample> samples;
    double bound = 0.0; // radial, RMS over the centres
};

Study MakeStudy(double radius, double noise)
{
    Study study;
    std::mt19937 random(unsigned(radius * 100 + noise));
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::uniform_int_distribution<int> nudge(-2, 2);
    double boundSum = 0.0;
    for (int i = 0; i < kCentres; ++i) {
        TargetScene scene;
        scene.width = scene.height = kSide;
        scene.background = 20.0;
        scene.blurSigma = 0.7;
        scene.noiseSigma = noise;
        scene.seed = unsigned(7919 * i + 1);
        RenderedTarget t;
        t.x = 0.5 * kSide + unit(random);
        t.y = 0.5 * kSide + unit(random);
        t.semiAxisA = t.semiAxisB = radius;
        t.amplitude = 180.0;
        scene.targets = {t};
        Sample s;
        s.picture = RenderScene(scene);
        s.image = MakeDisplayImage(s.picture);
        s.x = t.x;
        s.y = t.y;
        s.column = int(t.x) + nudge(random);
        s.row = int(t.y) + nudge(random);
        boundSum += CramerRaoBound(scene).Radial() * CramerRaoBound(scene).Radial();
        study.samples.push_back(std::move(s));
    }
    study.bound = std::sqrt(boundSum / kCentres);
    return study;
}

// Intensity-weighted centroid of the pixels above background + 3 sigma, in
// the 64 x 64 window around the true centre.
void PlainCentroid(const Sample& s, double noise, double& x, double& y)
{
    const double threshold = 20.0 + 3.0 * noise;
    const int c0 = int(s.x) - 32;
    const int r0 = int(s.y) - 32;
    double sum = 0.0, sx = 0.0, sy = 0.0;
    for (int r = r0; r < r0 + 64; ++r)
        for (int c = c0; c < c0 + 64; ++c) {
            const double v = s.picture.At(r, c) - threshold;
            if (v <= 0.0)
                continue;
            sum += v;
            sx += v * (c + 0.5);
            sy += v * (r + 0.5);
        }
    x = sx / sum;
    y = sy / sum;
}

void BM_CentroidMonteCarlo(benchmark::State& state)
{
    const double radius = double(state.range(0));
    const double noise = double(state.range(1));
    const Study study = MakeStudy(radius, noise);
    CCentroidSettings settings;
    settings.invert = 0;
    settings.windowSize = 64;

    double sum = 0.0, plainSum = 0.0;
    int failures = 0;
    for (const Sample& s : study.samples) {
        CCentroidOperator op;
        double x = 0.0, y = 0.0;
        if (op.Compute(*s.image, s.column, s.row, x, y, settings) != 0) {
            ++failures;
            continue;
        }
        sum += (x - s.x) * (x - s.x) + (y - s.y) * (y - s.y);
        PlainCentroid(s, noise, x, y);
        plainSum += (x - s.x) * (x - s.x) + (y - s.y) * (y - s.y);
    }
    const int measured = std::max(1, kCentres - failures);
    const double rms = std::sqrt(sum / measured);
    const double plainRms = std::sqrt(plainSum / measured);

    size_t i = 0;
    for (auto _ : state) {
        const Sample& s = study.samples[i++ % study.samples.size()];
        CCentroidOperator op;
        double x = 0.0, y = 0.0;
        benchmark::DoNotOptimize(op.Compute(*s.image, s.column, s.row, x, y, settings));
        benchmark::DoNotOptimize(x);
    }
    state.counters["rms_px"] = rms;
    state.counters["bound_px"] = study.bound;
    state.counters["ratio"] = rms / study.bound;
    state.counters["plain_ratio"] = plainRms / study.bound;
    state.counters["failures"] = failures;
}
BENCHMARK(BM_CentroidMonteCarlo)
    ->ArgNames({"radius", "noise"})
    ->ArgsProduct({{3, 5, 10}, {2, 5}})
    ->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
