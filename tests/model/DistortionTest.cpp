#include "Distortion.h"
#include "Rotation.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

const double kPi = 3.14159265358979323846;

// A 4000 x 3000 sensor of 6 um pixels: half diagonal 15 mm.
const double kHalfW = 12.0, kHalfH = 9.0, kCorner = 15.0;

struct Params {
    double p[CAM_PARAMETER_COUNT] = {};
};

Params CameraWithCornerDistortion(double fraction)
{
    Params c;
    c.p[CAM_C] = 24.0;
    c.p[CAM_XP] = 0.05;
    c.p[CAM_YP] = -0.03;
    // Radial terms that add up to `fraction` of the radius at the corner.
    const double r2 = kCorner * kCorner;
    c.p[CAM_K1] = 0.8 * fraction / r2;
    c.p[CAM_K2] = 0.15 * fraction / (r2 * r2);
    c.p[CAM_K3] = 0.05 * fraction / (r2 * r2 * r2);
    c.p[CAM_P1] = 2e-5;
    c.p[CAM_P2] = -1.5e-5;
    c.p[CAM_B1] = 1e-4;
    c.p[CAM_B2] = -5e-5;
    return c;
}

} // namespace

TEST(DistortionCorrection, HandComputedCases)
{
    Params c;
    c.p[CAM_C] = 50.0;
    double x = 1.5, y = -2.0;
    CorrectDistortion(c.p, x, y);
    EXPECT_EQ(x, 1.5);
    EXPECT_EQ(y, -2.0);

    c.p[CAM_XP] = 0.25;
    c.p[CAM_YP] = -0.5;
    x = 1.5;
    y = -2.0;
    CorrectDistortion(c.p, x, y); // reduced to the principal point only
    EXPECT_DOUBLE_EQ(x, 1.25);
    EXPECT_DOUBLE_EQ(y, -1.5);

    Params k;
    k.p[CAM_K1] = 1e-4;
    x = 10.0;
    y = 0.0;
    CorrectDistortion(k.p, x, y);
    EXPECT_DOUBLE_EQ(x, 10.1);
    EXPECT_EQ(y, 0.0);

    // Decentring at (3, 4): r2 = 25.
    Params d;
    d.p[CAM_P1] = 1e-3;
    d.p[CAM_P2] = 2e-3;
    x = 3.0;
    y = 4.0;
    CorrectDistortion(d.p, x, y);
    EXPECT_NEAR(x, 3.0 + 1e-3 * (25 + 18) + 2 * 2e-3 * 12, 1e-15);
    EXPECT_NEAR(y, 4.0 + 2e-3 * (25 + 32) + 2 * 1e-3 * 12, 1e-15);
}

TEST(DistortionCorrection, AffinityAndShearActOnXOnly)
{
    Params b1, b2;
    b1.p[CAM_B1] = 0.001;
    b2.p[CAM_B2] = 0.001;
    double x = 8.0, y = -6.0;
    CorrectDistortion(b1.p, x, y);
    EXPECT_DOUBLE_EQ(x, 8.0 + 0.008);
    EXPECT_EQ(y, -6.0);
    x = 8.0;
    y = -6.0;
    CorrectDistortion(b2.p, x, y);
    EXPECT_DOUBLE_EQ(x, 8.0 - 0.006);
    EXPECT_EQ(y, -6.0);
}

TEST(DistortionInverse, CorrectionOfTheInverseReturnsTheInputOverTheFrame)
{
    for (double fraction : {0.05, -0.05, 0.01}) {
        const Params c = CameraWithCornerDistortion(fraction);
        int points = 0;
        for (double gx = -kHalfW; gx <= kHalfW + 1e-9; gx += 0.5)
            for (double gy = -kHalfH; gy <= kHalfH + 1e-9; gy += 0.5) {
                // (gx, gy) is a reduced, corrected position; the inverse gives
                // the measured point, which must lie near it plus the principal point.
                double x = gx, y = gy;
                ASSERT_TRUE(ApplyDistortion(c.p, x, y)) << fraction << " " << gx << " " << gy;
                EXPECT_LT(std::hypot(x - c.p[CAM_XP] - gx, y - c.p[CAM_YP] - gy),
                          std::fabs(fraction) * kCorner * 1.3 + 0.01);
                double fx = x, fy = y;
                CorrectDistortion(c.p, fx, fy);
                ASSERT_LE(std::fabs(fx - gx) + std::fabs(fy - gy), 1e-9) << gx << " " << gy;
                ++points;
            }
        EXPECT_EQ(points, 49 * 37);
    }
}

TEST(DistortionInverse, DivergingIterationReportsFailureAndKeepsThePoint)
{
    // Radial distortion of 60% at the corner: the slope of the correction
    // there exceeds 2 and the fixed-point iteration runs away.
    Params c;
    c.p[CAM_C] = 24.0;
    c.p[CAM_K1] = 0.6 / (kCorner * kCorner);
    double x = 12.0, y = 9.0;
    EXPECT_FALSE(ApplyDistortion(c.p, x, y));
    EXPECT_EQ(x, 12.0);
    EXPECT_EQ(y, 9.0);

    // The same camera near the centre still converges.
    x = 0.5;
    y = 0.25;
    EXPECT_TRUE(ApplyDistortion(c.p, x, y));

    double nx = std::nan(""), ny = 1.0;
    EXPECT_FALSE(ApplyDistortion(c.p, nx, ny));
}

// ---------------------------------------------------------------------------

namespace {

StationGeometry Station(double a, double e, double r, double X, double Y, double Z)
{
    StationGeometry s;
    RotationFromAngles(a, e, r, s.R);
    s.X0[0] = X;
    s.X0[1] = Y;
    s.X0[2] = Z;
    return s;
}


} // namespace

TEST(CircleProjection, RefusesMissingNormalRadiusAndRimBehindCamera)
{
    const StationGeometry s = Station(0, 0, 0, 0, 0, 0);
    const double P[3] = {0, 100, 0}, n[3] = {0, -1, 0}, zero[3] = {0, 0, 0};
    double q[5], x0, y0;
    EXPECT_FALSE(ProjectCircleConic(s, 35, P, zero, 5.0, q, x0, y0));
    EXPECT_FALSE(ProjectCircleConic(s, 35, P, n, 0.0, q, x0, y0));
    EXPECT_FALSE(ProjectCircleConic(s, 35, P, n, -1.0, q, x0, y0));
    const double behind[3] = {0, -100, 0};
    EXPECT_FALSE(ProjectCircleConic(s, 35, behind, n, 5.0, q, x0, y0));
    // A circle whose plane holds the viewing direction and reaches behind the camera.
    const double nearP[3] = {0, 3, 0}, side[3] = {1, 0, 0};
    EXPECT_FALSE(ProjectCircleConic(s, 35, nearP, side, 5.0, q, x0, y0));
}

TEST(Eccentricity, ShiftByNormalFollowsTheIncidenceAngle)
{
    // Camera at the origin looking along +Y; target 100 units away whose
    // normal leans towards +X by theta.
    const StationGeometry s = Station(0, 0, 0, 0, 0, 0);
    const double c = 50.0;
    const double P[3] = {0, 100, 0};
    for (double deg : {10.0, 30.0}) {
        const double th = deg * kPi / 180.0;
        const double n[3] = {std::sin(th), -std::cos(th), 0};
        double dx = 1, dy = 1;
        ASSERT_TRUE(EccentricityShiftByNormal(s, c, P, n, dx, dy));
        // The normal's image points along +x; the shift is against it.
        const double e = th * 57.2957 * 0.0006 / 100.0;
        EXPECT_NEAR(dx, -e * c, 1e-12);
        EXPECT_NEAR(dy, 0.0, 1e-15);
    }
    // 60 degrees is capped at 40.
    double d60x, d60y, d40x, d40y;
    const double n60[3] = {std::sin(kPi / 3), -std::cos(kPi / 3), 0};
    const double n40[3] = {std::sin(40.0 / 57.2957), -std::cos(40.0 / 57.2957), 0};
    ASSERT_TRUE(EccentricityShiftByNormal(s, c, P, n60, d60x, d60y));
    ASSERT_TRUE(EccentricityShiftByNormal(s, c, P, n40, d40x, d40y));
    EXPECT_NEAR(d60x, d40x, 1e-12);
    EXPECT_NEAR(d60y, d40y, 1e-12);
}

TEST(Eccentricity, ShiftByNormalRefusesWhatWouldGiveNoNumber)
{
    const StationGeometry s = Station(0, 0, 0, 0, 0, 0);
    double dx = 7, dy = 7;
    const double P[3] = {0, 100, 0};
    const double zero[3] = {0, 0, 0};
    EXPECT_FALSE(EccentricityShiftByNormal(s, 50, P, zero, dx, dy));
    const double behind[3] = {0, -100, 0}, n[3] = {0, 1, 0};
    EXPECT_FALSE(EccentricityShiftByNormal(s, 50, behind, n, dx, dy));
    // Normal along the viewing ray: its image has no direction.
    const double along[3] = {0, -1, 0};
    EXPECT_FALSE(EccentricityShiftByNormal(s, 50, P, along, dx, dy));
    // P + n behind the camera.
    const double close[3] = {0, 0.5, 0};
    EXPECT_FALSE(EccentricityShiftByNormal(s, 50, close, along, dx, dy));
    EXPECT_EQ(dx, 7);
    EXPECT_EQ(dy, 7);
}
