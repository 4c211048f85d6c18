// The test renderer against closed forms: the coverage of a shape sums to its
// area and its centre of mass is its centre; blur keeps both; the bound of
// the centre shrinks with the noise as it must.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "TargetRenderer.h"

namespace {

struct ShapeCase {
    const char* name;
    RenderedTarget target;
    double area;
};

// Sharp shapes are rendered 16 times enlarged for the centre of mass, so
// that the pixels' own share of the error (up to 0.008 px on a disc of 4 px)
// stays below the limit; blurred ones are taken as they are.
TEST(TargetRenderer, CoverageHasTheShapesAreaAndCentre)
{
    const double pi = std::acos(-1.0);
    const ShapeCase cases[] = {
        {"disc d4", {TargetKind::Ellipse, 0, 0, 2.0, 2.0}, pi * 4.0},
        {"disc d10", {TargetKind::Ellipse, 0, 0, 5.0, 5.0}, pi * 25.0},
        {"disc d20", {TargetKind::Ellipse, 0, 0, 10.0, 10.0}, pi * 100.0},
        {"ellipse 8 x 4 at 30 deg", {TargetKind::Ellipse, 0, 0, 8.0, 4.0, 0.5236}, pi * 32.0},
        {"annulus 9 / 4.5", {TargetKind::Annulus, 0, 0, 9.0, 9.0, 0.0, 0.5}, pi * (81.0 - 20.25)},
    };
    std::mt19937 random(7);
    std::uniform_real_distribution<double> frac(0.0, 1.0);
    for (const ShapeCase& c : cases)
        for (int trial = 0; trial < 10; ++trial) {
            const double x = 32.0 + frac(random);
            const double y = 32.0 + frac(random);
            for (double blur : {0.0, 0.5, 1.0}) {
                const double scale = blur > 0.0 ? 1.0 : 16.0;
                TargetScene scene;
                scene.width = scene.height = int(64 * scale);
                scene.background = 0.0;
                scene.blurSigma = blur;
                RenderedTarget t = c.target;
                t.x = x * scale;
                t.y = y * scale;
                t.semiAxisA *= scale;
                t.semiAxisB *= scale;
                t.amplitude = 1.0 / (scale * scale);
                scene.targets = {t};
                const std::vector<double> image = RenderNoiseFree(scene);
                double sum = 0.0, sx = 0.0, sy = 0.0;
                for (int r = 0; r < scene.height; ++r)
                    for (int col = 0; col < scene.width; ++col) {
                        const double v = image[size_t(r) * scene.width + col];
                        sum += v;
                        sx += v * (col + 0.5) / scale;
                        sy += v * (r + 0.5) / scale;
                    }
                SCOPED_TRACE(::testing::Message() << c.name << " blur " << blur << " at " << x << ", " << y);
                EXPECT_NEAR(sum, c.area, 1e-3 * c.area);
                EXPECT_NEAR(sx / sum, x, 1e-3);
                EXPECT_NEAR(sy / sum, y, 1e-3);
            }
        }
}

// Fisher information scales with 1 / sigma^2 and, for a disc, is isotropic:
// the bound is sigma times a fixed radius-dependent factor, the same on
// both axes, and smaller for a larger disc.
TEST(TargetRenderer, CentreBoundScalesWithNoiseAndSize)
{
    auto bound = [](double radius, double noise) {
        TargetScene scene;
        scene.width = scene.height = 48;
        scene.blurSigma = 0.7;
        scene.noiseSigma = noise;
        scene.targets = {{TargetKind::Ellipse, 24.3, 23.8, radius, radius}};
        return CramerRaoBound(scene);
    };
    const CentreBound small2 = bound(3.0, 2.0), small5 = bound(3.0, 5.0), large2 = bound(10.0, 2.0);
    EXPECT_NEAR(small5.Radial() / small2.Radial(), 2.5, 1e-9);
    EXPECT_NEAR(small2.varX / small2.varY, 1.0, 0.02);
    EXPECT_LT(std::fabs(small2.covXY), 0.02 * small2.varX);
    EXPECT_LT(large2.Radial(), small2.Radial());
    // A step of height A around a circle of radius R, blurred by s, gives
    // Fisher information about A^2 pi R / (2 sqrt(pi) s) / sigma^2 per axis;
    // the pixel's area adds 1/12 to the blur's variance.
    const double pi = std::acos(-1.0);
    const double blur = std::sqrt(0.7 * 0.7 + 1.0 / 12.0);
    const double fisher = 180.0 * 180.0 * pi * 10.0 / (2.0 * std::sqrt(pi) * blur) / 4.0;
    EXPECT_NEAR(large2.varX * fisher, 1.0, 0.05);
}

} // namespace
