#include "ThreePointGeometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "Quartic.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// A camera looking at three points in front of it: the true rotation M of
// the similarity convention (object = X0 + M' camera), the station and the
// image rays of the points.
struct TriadScene {
    double c = 24.0;
    double M[3][3];
    double station[3];
    double omega, phi, kappa;
    double object[3][3];
    double rays[3][3];
    double factor[3]; // ray i times factor[i] is point i in the camera frame
};

TriadScene RandomSetup(std::mt19937& generator)
{
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    TriadScene s;
    s.omega = 0.6 * unit(generator);
    s.phi = 0.6 * unit(generator);
    s.kappa = kPi * unit(generator);
    SimilarityRotation(s.omega, s.phi, s.kappa, s.M);
    for (double& v : s.station)
        v = 5000.0 * unit(generator);
    for (int i = 0; i < 3; ++i) {
        // Camera frame: in front means negative z; spread over the format.
        const double depth = 8000.0 + 6000.0 * (unit(generator) + 1.0);
        const double q[3] = {0.6 * depth * unit(generator), 0.4 * depth * unit(generator), -depth};
        for (int k = 0; k < 3; ++k)
            s.object[i][k] = s.station[k] + s.M[0][k] * q[0] + s.M[1][k] * q[1] + s.M[2][k] * q[2];
        s.factor[i] = depth / s.c;
        s.rays[i][0] = q[0] / s.factor[i];
        s.rays[i][1] = q[1] / s.factor[i];
        s.rays[i][2] = -s.c;
    }
    return s;
}

double QuarticValue(const double k[4], double t)
{
    return (((t + k[0]) * t + k[1]) * t + k[2]) * t + k[3];
}

double QuarticScale(const double k[4], double t)
{
    const double a = std::fabs(t);
    return a * a * a * a + std::fabs(k[0]) * a * a * a + std::fabs(k[1]) * a * a + std::fabs(k[2]) * a +
           std::fabs(k[3]);
}

TEST(ThreePointGeometryTest, TrueRatioIsARootAndGivesTheSecondRatio)
{
    std::mt19937 generator(7);
    for (int trial = 0; trial < 500; ++trial) {
        const TriadScene s = RandomSetup(generator);
        double coefficients[4];
        ASSERT_TRUE(FormResectionQuartic(s.rays, s.object, s.c, coefficients)) << trial;
        const double t = -s.c * s.factor[1] / s.factor[0];
        EXPECT_LT(std::fabs(QuarticValue(coefficients, t)), 1e-11 * QuarticScale(coefficients, t)) << trial;

        double ratio = 0.0;
        ASSERT_TRUE(SecondRayRatio(s.rays, s.object, s.c, t, ratio)) << trial;
        EXPECT_NEAR(ratio, s.factor[2] / s.factor[0], 1e-8 * s.factor[2] / s.factor[0]) << trial;

        // The solver finds it among the real roots.
        double roots[4];
        const int count = SolveQuartic(coefficients, roots);
        double nearest = 1e300;
        for (int i = 0; i < count; ++i)
            nearest = std::fmin(nearest, std::fabs(roots[i] - t));
        EXPECT_LT(nearest, 1e-7 * std::fabs(t)) << trial;
    }
}

// Sum of squared misfits of object = T + s M' camera, with the best scale for
// the given T and angles.
double SimilarityCost(const double camera[3][3], const double object[3][3], const double p[6])
{
    double M[3][3];
    SimilarityRotation(p[3], p[4], p[5], M);
    double rotated[3][3], num = 0.0, den = 0.0;
    for (int i = 0; i < 3; ++i) {
        for (int k = 0; k < 3; ++k)
            rotated[i][k] = M[0][k] * camera[i][0] + M[1][k] * camera[i][1] + M[2][k] * camera[i][2];
        for (int k = 0; k < 3; ++k) {
            num += (object[i][k] - p[k]) * rotated[i][k];
            den += rotated[i][k] * rotated[i][k];
        }
    }
    const double scale = num / den;
    double cost = 0.0;
    for (int i = 0; i < 3; ++i)
        for (int k = 0; k < 3; ++k) {
            const double v = object[i][k] - p[k] - scale * rotated[i][k];
            cost += v * v;
        }
    return cost;
}

TEST(ThreePointGeometryTest, SimilarityFitIsTheLeastSquaresFitOfInexactTriads)
{
    std::mt19937 generator(17);
    std::normal_distribution<double> noise(0.0, 0.02);
    for (int trial = 0; trial < 100; ++trial) {
        const TriadScene s = RandomSetup(generator);
        double camera[3][3];
        for (int i = 0; i < 3; ++i)
            for (int k = 0; k < 3; ++k)
                camera[i][k] = s.rays[i][k] * s.factor[i] / s.factor[0] + (k < 2 ? noise(generator) : 0.0);
        double solution[6];
        ASSERT_TRUE(FitThreePointSimilarity(camera, s.object, solution)) << trial;
        const double best = SimilarityCost(camera, s.object, solution);
        ASSERT_GT(best, 0.0);
        // Every small step away from the solution costs more.
        for (int j = 0; j < 6; ++j)
            for (double step : {-1.0, 1.0}) {
                double moved[6];
                for (int k = 0; k < 6; ++k)
                    moved[k] = solution[k];
                moved[j] += step * (j < 3 ? 1e-3 * std::sqrt(best) : 1e-6);
                EXPECT_GE(SimilarityCost(camera, s.object, moved), best * (1.0 - 1e-9)) << trial << " " << j;
            }
    }
}

} // namespace
