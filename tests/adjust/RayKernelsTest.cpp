// The small kernels of the rays' data path: the intersection's fixed-size
// point system against the general routines on a CMatrix (bit for bit), the
// finite check against std::isfinite, and the corrected image coordinates
// against observations made forward from known coordinates.
#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "Camera.h"
#include "Distortion.h"
#include "ImageObservation.h"
#include "ImageRays.h"
#include "Matrix.h"
#include "NormalEquations.h"
#include "PackedNormals.h"
#include "ProjectImage.h"
#include "Vector.h"

namespace ray_kernels_test {

uint64_t Bits(double v)
{
    uint64_t b = 0;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

// Rays of a point seen from directions spread by `spread` (0: all rays
// parallel, a singular system), their misclosures scaled by `misclosure`.
std::vector<std::vector<double>> RayBlocks(unsigned seed, int rays, double spread, double scale, double misclosure)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<std::vector<double>> blocks;
    for (int r = 0; r < rays; ++r) {
        const double tilt = spread * u(rng);
        std::vector<double> b = {scale * 1.0, scale * 0.1 * tilt, scale * tilt, misclosure * u(rng),
                                 scale * 0.2 * tilt, scale * 1.0, scale * 0.5, misclosure * u(rng)};
        blocks.push_back(b);
    }
    return blocks;
}

struct SystemCase {
    const char* what;
    unsigned seed;
    int rays;
    double spread, scale, misclosure;
    bool held;          // the hold weight of a later bundle pass on the diagonal
    double residualSum; // replaces the residual sum when not zero
};

// Every step of the point system against CMatrix::AddAtA and
// SolveNormalEquations: the same bits, the same failures.
TEST(RayKernels, PointSystemAsTheGeneralRoutines)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const SystemCase cases[] = {
        {"well conditioned", 1, 6, 1.0, 1e-3, 1e-3, false, 0.0},
        {"many rays", 2, 40, 0.3, 2.0, 0.5, false, 0.0},
        {"held point", 3, 8, 1.0, 1e-3, 1e-3, true, 0.0},
        {"weak geometry", 4, 5, 1e-5, 1.0, 1e-2, false, 0.0},
        {"parallel rays", 5, 4, 0.0, 1.0, 1e-2, false, 0.0},
        {"one ray", 6, 1, 1.0, 1.0, 1e-2, false, 0.0},
        {"exact observations", 7, 6, 1.0, 1.0, 0.0, false, 0.0},
        {"residual sum not a number", 8, 6, 1.0, 1.0, 1e-2, false, nan},
        {"no rays", 9, 0, 1.0, 1.0, 1e-2, false, 0.0},
    };
    int solved = 0, refused = 0;
    for (const SystemCase& c : cases) {
        SCOPED_TRACE(c.what);
        CMatrix reference(4, -1);
        reference.Zero();
        double packed[kPointSystemSize] = {};
        for (const std::vector<double>& b : RayBlocks(c.seed, c.rays, c.spread, c.scale, c.misclosure)) {
            CMatrix block(2, 4);
            for (int j = 0; j < 4; ++j) {
                block.SetAt(b[j], 0, j);
                block.SetAt(b[4 + j], 1, j);
            }
            reference.AddAtA(block, 1);
            AddPointRay(packed, b.data(), b.data() + 4);
        }
        for (int i = 0, at = 0; i < 4; ++i)
            for (int j = i; j < 4; ++j, ++at)
                ASSERT_EQ(Bits(packed[at]), Bits(reference.GetAt(i, j))) << i << ", " << j;
        if (c.residualSum != 0.0) {
            reference.SetAt(c.residualSum, 3, 3);
            packed[kPointSystemSize - 1] = c.residualSum;
        }
        if (c.held) {
            for (int i = 0; i < 3; ++i)
                reference.SetAt(reference.GetAt(i, i) + 1e32, i, i);
            packed[0] += 1e32;
            packed[4] += 1e32;
            packed[7] += 1e32;
        }
        CVector x;
        double y[3] = {};
        const bool expected = SolveNormalEquations(reference, 3, x);
        ASSERT_EQ(SolvePointNormals(packed, y), expected);
        if (!expected) {
            ++refused;
            continue;
        }
        ++solved;
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(Bits(y[i]), Bits(x[i])) << i;
    }
    EXPECT_EQ(solved, 5);
    EXPECT_EQ(refused, 4);
}

// A diagonal system by hand: x_i = b_i / a_ii.
TEST(RayKernels, PointSystemByHand)
{
    double a[kPointSystemSize] = {4.0, 0.0, 0.0, 8.0, 9.0, 0.0, -3.0, 16.0, 4.0, 100.0};
    double x[3] = {};
    ASSERT_TRUE(SolvePointNormals(a, x));
    EXPECT_DOUBLE_EQ(x[0], 2.0);
    EXPECT_DOUBLE_EQ(x[1], -1.0 / 3.0);
    EXPECT_DOUBLE_EQ(x[2], 0.25);
}

// Every special value at every place of a ray's numbers, as std::isfinite
// judges it, without raising a floating-point flag.
TEST(RayKernels, FiniteCheckAsIsFinite)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double values[] = {0.0, -0.0, 1.0, -2.5e300, std::numeric_limits<double>::max(),
                             std::numeric_limits<double>::denorm_min(), -inf, inf,
                             std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN()};
    std::feclearexcept(FE_ALL_EXCEPT);
    for (double v : values) {
        for (int n : {1, 2, 12, 20, 33}) {
            for (int at = 0; at < n; ++at) {
                std::vector<double> ray(static_cast<size_t>(n), 0.5);
                ray[static_cast<size_t>(at)] = v;
                EXPECT_EQ(AllFinite(ray.data(), n), static_cast<bool>(std::isfinite(v))) << v << " at " << at;
            }
        }
    }
    EXPECT_EQ(std::fetestexcept(kFaults), 0);
}

struct CoordinateCase {
    const char* what;
    std::vector<double> transformation;
    double u, v; // corrected coordinates, mm
    bool ok;
};

// Observations made from known corrected coordinates: distorted by the
// camera, then mapped by the image's transformation. The correction must
// return the coordinates it started from.
TEST(RayKernels, CorrectedCoordinatesUndoTheObservation)
{
    CCamera camera;
    const double p[CAM_PARAMETER_COUNT] = {20.0, 0.05, -0.03, 1e-4, -2e-7, 0.0, 1e-5, -1.5e-5, 1e-4, -5e-5};
    for (int q = 0; q < CAM_PARAMETER_COUNT; ++q)
        camera.parameters[q] = p[q];
    const CoordinateCase cases[] = {
        {"no transformation", {}, 7.5, -4.25, true},
        {"affine", {1.01, 0.02, 0.3, -0.015, 0.99, -0.2}, -11.0, 6.0, true},
        {"similarity", {0.98, 0.05, 1.5, -0.7}, 3.0, 9.5, true},
        {"singular affine", {1.0, 2.0, 0.0, 0.5, 1.0, 0.0}, 1.0, 1.0, false},
        {"three parameters: none", {2.0, 0.0, 0.0}, -2.0, 3.0, true},
    };
    for (const CoordinateCase& c : cases) {
        SCOPED_TRACE(c.what);
        CProjectImage image;
        image.transformation.Resize(static_cast<int>(c.transformation.size()));
        for (size_t k = 0; k < c.transformation.size(); ++k)
            image.transformation[static_cast<int>(k)] = c.transformation[k];
        double x = c.u, y = c.v;
        ASSERT_TRUE(ApplyDistortion(camera.parameters, x, y));
        CImageObservation observation;
        observation.x = x;
        observation.y = y;
        const size_t n = c.transformation.size();
        if (c.ok && (n == 4 || n == 6)) {
            ASSERT_TRUE(image.TransformObservation(observation));
        }
        double u = 0.0, v = 0.0;
        ASSERT_EQ(CorrectedImageCoordinates(image, camera, observation, u, v), c.ok);
        if (!c.ok)
            continue;
        EXPECT_NEAR(u, c.u, 1e-8);
        EXPECT_NEAR(v, c.v, 1e-8);
    }
    CProjectImage plain;
    CImageObservation lost;
    lost.x = std::numeric_limits<double>::quiet_NaN();
    double u = 0.0, v = 0.0;
    EXPECT_FALSE(CorrectedImageCoordinates(plain, camera, lost, u, v));
}

} // namespace ray_kernels_test
