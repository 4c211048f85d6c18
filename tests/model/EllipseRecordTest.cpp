#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "EllipseRecord.h"
#include "ImageObservation.h"
#include "NumericDerivative.h"
#include "RecordBytes.h"

namespace ellipse_record_test {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Difference of two angles modulo a half turn, in [0, pi/2].
double HalfTurnDifference(double a, double b)
{
    double d = std::fmod(std::fabs(a - b), kPi);
    return std::fmin(d, kPi - d);
}

CObservationList PointsOn(const CEllipseRecord& e, int n, double phase = 0.1)
{
    CObservationList points;
    for (int k = 0; k < n; ++k) {
        double x = 0.0, y = 0.0;
        e.PointAt(phase + 2.0 * kPi * k / n, x, y);
        points.AddCopy(CImageObservation(CNameBuffer(), x, y));
    }
    return points;
}

// The normalised conic of an ellipse, evaluated independently of the code
// under test: the implicit form of the rotated, shifted ellipse, divided so
// that its right-hand side is 1.
void IndependentNormalizedConic(double xc, double yc, double M, double m, double r, double out[5])
{
    // Axis directions: minor along r, major along r + pi/2.
    const double c = std::cos(r), s = std::sin(r);
    // ((X c + Y s)/m)^2 + ((-X s + Y c)/M)^2 = 1 with X = x - xc, Y = y - yc.
    const double A = c * c / (m * m) + s * s / (M * M);
    const double B = 2.0 * c * s * (1.0 / (m * m) - 1.0 / (M * M));
    const double C = s * s / (m * m) + c * c / (M * M);
    const double D = -2.0 * A * xc - B * yc;
    const double E = -2.0 * C * yc - B * xc;
    const double F = A * xc * xc + B * xc * yc + C * yc * yc - 1.0;
    const double v[5] = {A, B, C, D, E};
    for (int i = 0; i < 5; ++i) out[i] = -v[i] / F;
}

} // namespace

TEST(EllipseRecord, SetAxesPutsTheLargerFirst)
{
    CEllipseRecord e;
    e.SetAxes(2.0, 3.0, 0.5);
    EXPECT_EQ(e.major, 3.0);
    EXPECT_EQ(e.minor, 2.0);
    EXPECT_EQ(e.rotation, 0.5);
    e.SetAxes(3.0, 2.0, 0.5);
    EXPECT_EQ(e.major, 3.0);
    EXPECT_EQ(e.minor, 2.0);
}

TEST(EllipseRecord, PointsLieOnTheEllipseAndMoveWithResidual)
{
    CEllipseRecord e;
    e.centreX = 2.0;
    e.centreY = -1.0;
    e.SetAxes(3.0, 1.0, kPi / 2); // minor along y, major along -x
    double x = 0, y = 0;
    e.PointAt(0.0, x, y); // along the minor axis
    EXPECT_NEAR(x, 2.0, 1e-12);
    EXPECT_NEAR(y, 0.0, 1e-12);
    e.PointAt(kPi / 2, x, y); // along the major axis
    EXPECT_NEAR(x, -1.0, 1e-12);
    EXPECT_NEAR(y, -1.0, 1e-12);
    double rx = 0, ry = 0;
    e.PointResidual(kPi / 2, 10.0, 10.0, rx, ry);
    EXPECT_NEAR(rx, 7.0, 1e-12);
    EXPECT_NEAR(ry, 10.0, 1e-12);
}

TEST(EllipseMeasure, DistancesToAnEllipse)
{
    EXPECT_EQ(ComputeEllipseMeasure(0.0, 0.0, 3.0, 2.0), 2.0);
    EXPECT_EQ(ComputeEllipseMeasure(5.0, 0.0, 3.0, 2.0), 2.0);
    EXPECT_EQ(ComputeEllipseMeasure(-5.0, 0.0, 3.0, 2.0), 2.0);
    EXPECT_EQ(ComputeEllipseMeasure(0.0, -2.5, 3.0, 2.0), 0.5);
    EXPECT_EQ(ComputeEllipseMeasure(1.0, 1.0, 0.00005, 2.0), 9999.0);
    EXPECT_EQ(ComputeEllipseMeasure(1.0, 1.0, 3.0, 0.00005), 9999.0);

    // Off the axes: against a dense sampling of the ellipse.
    const double a = 3.0, b = 2.0;
    const double pts[][2] = {{2.0, 2.0}, {-1.0, 0.5}, {4.0, -3.0}, {0.5, -1.9}};
    for (const auto& p : pts) {
        double best = 1e300;
        for (int k = 0; k < 200000; ++k) {
            const double t = 2.0 * kPi * k / 200000;
            best = std::fmin(best, std::hypot(p[0] - a * std::cos(t), p[1] - b * std::sin(t)));
        }
        EXPECT_NEAR(ComputeEllipseMeasure(p[0], p[1], a, b), best, 2e-3) << p[0] << "," << p[1];
    }

    // A record measures in its own axes: major along rotation + pi/2.
    CEllipseRecord e;
    e.centreX = 1.0;
    e.centreY = 1.0;
    e.SetAxes(3.0, 2.0, 0.0);
    EXPECT_EQ(e.DistanceToPoint(1.0, 6.0), 2.0); // 5 along the major axis
    EXPECT_EQ(e.DistanceToPoint(6.0, 1.0), 3.0); // 5 along the minor axis
}

TEST(TargetEllipse, ConicOfACircle)
{
    CTargetEllipse e;
    ASSERT_TRUE(e.SetFromParameters(1.0, 2.0, 0.5, 0.5, 0.8));
    ASSERT_EQ(e.conic.GetSize(), 7);
    EXPECT_NEAR(e.conic[1], 0.0, 1e-15);
    EXPECT_NEAR(e.conic[0], e.conic[2], 1e-15);
    EXPECT_NEAR(e.conic[0], 4.0, 1e-12);
    CTargetEllipse back;
    ASSERT_TRUE(back.ConicToEllipse(e.conic[0], e.conic[1], e.conic[2], e.conic[3], e.conic[4], e.conic[5],
                                    e.conic[6]));
    EXPECT_EQ(back.rotation, 0.0);
    EXPECT_NEAR(back.major, 0.5, 1e-12);
    EXPECT_NEAR(back.minor, 0.5, 1e-12);
}

TEST(TargetEllipse, ConicRoundTripIsTheIdentity)
{
    std::mt19937_64 rng(20261206);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int trial = 0; trial < 20000; ++trial) {
        const double lo = std::log(0.01 / 0.9), hi = std::log(10.0);
        const double major = std::exp(lo + (hi - lo) * unit(rng));
        const double minRatio = 0.01 / major;
        const double minor = major * (minRatio + (0.9 - minRatio) * unit(rng));
        const double rotation = -kPi + 2.0 * kPi * unit(rng);
        const double xc = -20.0 + 40.0 * unit(rng), yc = -20.0 + 40.0 * unit(rng);

        CTargetEllipse e;
        ASSERT_TRUE(e.SetFromParameters(xc, yc, major, minor, rotation));
        CTargetEllipse back;
        ASSERT_TRUE(back.ConicToEllipse(e.conic[0], e.conic[1], e.conic[2], e.conic[3], e.conic[4], e.conic[5],
                                        e.conic[6]));
        ASSERT_NEAR(back.major, major, 1e-9 * major) << trial;
        ASSERT_NEAR(back.minor, minor, 1e-9 * minor) << trial;
        ASSERT_NEAR(back.centreX, xc, 1e-9 * std::fabs(xc)) << trial;
        ASSERT_NEAR(back.centreY, yc, 1e-9 * std::fabs(yc)) << trial;
        ASSERT_LT(HalfTurnDifference(back.rotation, rotation), 1e-9) << trial;
    }
}

TEST(TargetEllipse, ConicOffTheCentreAndNormalisedForm)
{
    const double xc = 3.0, yc = -2.0, M = 1.5, m = 0.6, r = 0.4;
    double expected[5];
    IndependentNormalizedConic(xc, yc, M, m, r, expected);

    CTargetEllipse fit;
    CEllipseRecord truth;
    truth.centreX = xc;
    truth.centreY = yc;
    truth.SetAxes(M, m, r);
    // Points of an arc only: their mean, the conic's reference point, is off the centre.
    CObservationList arc;
    for (int k = 0; k < 12; ++k) {
        double x = 0.0, y = 0.0;
        truth.PointAt(0.2 + 0.35 * k, x, y);
        arc.AddCopy(CImageObservation(CNameBuffer(), x, y));
    }
    ASSERT_TRUE(fit.FitToPoints(arc));
    ASSERT_GT(std::fabs(fit.conic[3]) + std::fabs(fit.conic[4]), 0.1);
    CVector normalized;
    ASSERT_TRUE(fit.GetNormalizedConic(normalized));
    ASSERT_EQ(normalized.GetSize(), 5);
    for (int i = 0; i < 5; ++i) EXPECT_NEAR(normalized[i], expected[i], 1e-7 * (1.0 + std::fabs(expected[i])));

    CTargetEllipse noConic;
    CVector untouched;
    EXPECT_FALSE(noConic.GetNormalizedConic(untouched));
}

TEST(TargetEllipse, FitRecoversAKnownEllipse)
{
    struct Case {
        double xc, yc, M, m, r;
    } cases[] = {{0.0, 0.0, 3.0, 2.0, 0.3},
                 {12.5, -7.25, 0.05, 0.02, -1.2},
                 {-3.0, 4.0, 9.0, 8.0, 2.9},
                 {100.0, 200.0, 6.0, 1.0, 0.0}};
    for (const Case& c : cases) {
        CEllipseRecord truth;
        truth.centreX = c.xc;
        truth.centreY = c.yc;
        truth.SetAxes(c.M, c.m, c.r);
        CTargetEllipse fit;
        double rms = -1.0;
        ASSERT_TRUE(fit.FitToPoints(PointsOn(truth, 25), &rms));
        const double tol = 1e-7 * c.M;
        EXPECT_NEAR(fit.centreX, c.xc, tol);
        EXPECT_NEAR(fit.centreY, c.yc, tol);
        EXPECT_NEAR(fit.major, c.M, tol);
        EXPECT_NEAR(fit.minor, c.m, tol);
        EXPECT_LT(HalfTurnDifference(fit.rotation, c.r), 1e-6);
        // The distance measure stops its search at half a micrometre.
        EXPECT_NEAR(rms, 0.0, 1e-4);
        ASSERT_EQ(fit.conic.GetSize(), 7);
    }
}

TEST(TargetEllipse, FitNeedsFivePointsAndGivesExactCircles)
{
    CEllipseRecord circle;
    circle.centreX = 4.0;
    circle.centreY = 5.0;
    circle.SetAxes(2.0, 2.0, 0.0);
    CTargetEllipse fit;
    EXPECT_FALSE(fit.FitToPoints(PointsOn(circle, 4)));

    double rms = -1.0;
    CVector conic;
    ASSERT_TRUE(FitConicToPoints(fit, PointsOn(circle, 8), &conic, &rms));
    EXPECT_NEAR(fit.major, 2.0, 1e-9);
    EXPECT_NEAR(fit.minor, 2.0, 1e-9);
    EXPECT_NEAR(fit.centreX, 4.0, 1e-9);
    EXPECT_NEAR(rms, 0.0, 1e-9);
    ASSERT_EQ(conic.GetSize(), 7);
    EXPECT_NEAR(conic[5], 4.0, 1e-12); // reference point: the mean of the points
    EXPECT_NEAR(conic[6], 5.0, 1e-12);

    // Points on a line make no ellipse: the record stays as it was.
    CObservationList line;
    for (int i = 0; i < 6; ++i) line.AddCopy(CImageObservation(CNameBuffer(), i, 2.0 * i));
    CTargetEllipse before = fit;
    EXPECT_FALSE(FitConicToPoints(fit, line));
    EXPECT_EQ(fit.major, before.major);
}

TEST(TargetEllipse, InitialEllipseFromAGridIsoLine)
{
    // f = 1 - ((x - cx)/a)^2 - ((y - cy)/b)^2 sampled on the grid: its zero
    // line is the ellipse with semi-axis a along x and b along y.
    const int cols = 41, rows = 35;
    const double cx = 20.3, cy = 16.6, a = 12.0, b = 7.0;
    std::vector<int> grid(cols * rows);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            const double u = (c - cx) / a, v = (r - cy) / b;
            grid[r * cols + c] = static_cast<int>(std::lround(100000.0 * (1.0 - u * u - v * v)));
        }
    CTargetEllipse e;
    double rms = -1.0;
    ASSERT_TRUE(e.ComputeInitialEllipse(grid.data(), cols, rows, 0.0, &rms));
    EXPECT_NEAR(e.centreX, cx, 0.02);
    EXPECT_NEAR(e.centreY, cy, 0.02);
    EXPECT_NEAR(e.major, a, 0.05);
    EXPECT_NEAR(e.minor, b, 0.05);
    EXPECT_LT(HalfTurnDifference(e.rotation, kPi / 2), 1e-3); // minor along y
    EXPECT_LT(rms, 0.05);

    EXPECT_FALSE(e.ComputeInitialEllipse(nullptr, cols, rows, 0.0));
    std::vector<int> flat(25, 7);
    EXPECT_FALSE(e.ComputeInitialEllipse(flat.data(), 5, 5, 3.0));
}

TEST(EllipseRecord, ConicWeightPropagatesTheCovariance)
{
    const double xc = 1.5, yc = -2.0, M = 0.8, m = 0.5, r = 0.6;
    CEllipseRecord e;
    e.centreX = xc;
    e.centreY = yc;
    e.SetAxes(M, m, r);

    CMatrix out;
    EXPECT_FALSE(e.BuildConicWeight(out)); // no covariance yet
    ASSERT_EQ(out.GetRows(), 5);
    EXPECT_EQ(out.GetAt(0, 0), 0.0);

    // Numerical derivatives of the independent normalised conic.
    const auto J = kestrelon::test::CentralJacobian(
        [](const std::vector<double>& p) {
            std::vector<double> f(5);
            IndependentNormalizedConic(p[0], p[1], p[2], p[3], p[4], f.data());
            return f;
        },
        {xc, yc, M, m, r}, 1e-6);

    // A full covariance with correlations.
    const double S[5][5] = {{4e-4, 1e-4, 0, 2e-5, 0},
                            {1e-4, 3e-4, 0, 0, 1e-5},
                            {0, 0, 2e-4, 5e-5, 0},
                            {2e-5, 0, 5e-5, 1e-4, 0},
                            {0, 1e-5, 0, 0, 1e-3}};
    CMatrix cov(5, -1);
    for (int i = 0; i < 5; ++i)
        for (int j = i; j < 5; ++j) cov.SetAt(S[i][j], i, j);
    e.SetCovariance(cov);
    ASSERT_TRUE(e.BuildConicWeight(out));
    ASSERT_TRUE(out.IsSymmetric());
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 5; ++j) {
            double expected = 0.0;
            for (int k = 0; k < 5; ++k)
                for (int l = 0; l < 5; ++l) expected += J[i][k] * S[k][l] * J[j][l];
            EXPECT_NEAR(out.GetAt(i, j), expected, 1e-6 * (std::fabs(expected) + 1e-6)) << i << "," << j;
        }
}

TEST(EllipseArchive, RoundTripsWithOwnVersion)
{
    CTargetEllipse e;
    e.SetFromParameters(3.0, 4.0, 2.0, 1.0, 0.3);
    CMatrix cov(5, -1);
    for (int i = 0; i < 5; ++i) cov.SetAt(0.01 * (i + 1), i, i);
    cov.SetAt(0.003, 0, 4);
    e.SetCovariance(cov);

    StoreArchive store;
    int own = -1;
    ASSERT_TRUE(e.Serialize(store.Get(), &own));
    RecordBytes expected;
    expected.Int(11).Int(5).Int(-1);
    for (int i = 0; i < 5; ++i)
        for (int j = i; j < 5; ++j) expected.Double(cov.GetAt(i, j));
    expected.Double(2.0).Double(1.0).Double(0.3).Double(3.0).Double(4.0).Int(10).Int(7);
    for (int i = 0; i < 7; ++i) expected.Double(e.conic[i]);
    EXPECT_EQ(store.Bytes(), expected.Str());

    LoadArchive load(store.Bytes());
    CTargetEllipse back;
    ASSERT_TRUE(back.Serialize(load.Get(), &own));
    EXPECT_TRUE(back.covariance == cov);
    EXPECT_EQ(back.major, 2.0);
    EXPECT_EQ(back.centreY, 4.0);
    for (int i = 0; i < 7; ++i) EXPECT_EQ(back.conic[i], e.conic[i]);
}

} // namespace ellipse_record_test
