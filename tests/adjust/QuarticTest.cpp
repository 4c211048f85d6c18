#include "Quartic.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <utility>

namespace {

void SortAscending(double* values, int count)
{
    for (int i = 1; i < count; ++i)
        for (int j = i; j > 0 && values[j] < values[j - 1]; --j)
            std::swap(values[j], values[j - 1]);
}

// Monic coefficients of (x^2 + p1 x + q1)(x^2 + p2 x + q2).
void Expand(double p1, double q1, double p2, double q2, double coefficients[4])
{
    coefficients[0] = p1 + p2;
    coefficients[1] = q1 + p1 * p2 + q2;
    coefficients[2] = p1 * q2 + q1 * p2;
    coefficients[3] = q1 * q2;
}

TEST(QuarticTest, ExamplesKeepTheirOrderAndSkipADoubleRootAtTheOrigin)
{
    const double examples[3][4] = {{0.0, -5.0, 0.0, 4.0},      // (x^2 - 1)(x^2 - 4)
                                   {-10.0, 35.0, -50.0, 24.0}, // (x-1)(x-2)(x-3)(x-4)
                                   {0.0, -1.0, 0.0, 0.0}};     // x^2 (x^2 - 1)
    const double expected[3][4] = {{2.0, -2.0, 1.0, -1.0}, {4.0, 1.0, 3.0, 2.0}, {1.0, -1.0, 0.0, 0.0}};
    const int counts[3] = {4, 4, 2};
    for (int e = 0; e < 3; ++e) {
        double roots[4];
        ASSERT_EQ(SolveQuartic(examples[e], roots), counts[e]) << e;
        for (int i = 0; i < counts[e]; ++i)
            EXPECT_NEAR(roots[i], expected[e][i], 1e-12) << e << " " << i;
    }

    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double withNan[4] = {1.0, nan, 0.0, 1.0};
    double roots[4];
    EXPECT_EQ(SolveQuartic(withNan, roots), 0);
}

TEST(QuarticTest, RandomQuarticsWithFourTwoAndNoRealRoots)
{
    // Quadratic factors with real roots r, s (p = -(r + s), q = r s) or a
    // complex pair re +- i im (p = -2 re, q = re^2 + im^2); roots kept apart
    // by 5 % of the scale so that their accuracy is the solver's.
    std::mt19937 generator(20261206);
    for (double scale : {1.0, 30.0, 1000.0}) {
        std::uniform_real_distribution<double> value(-scale, scale);
        for (int trial = 0; trial < 30000; ++trial) {
            const int real = 4 - 2 * (trial % 3);
            double expected[4], p[2], q[2];
            for (int f = 0; f < 2; ++f) {
                if (2 * f < real) {
                    expected[2 * f] = value(generator);
                    expected[2 * f + 1] = value(generator);
                    p[f] = -(expected[2 * f] + expected[2 * f + 1]);
                    q[f] = expected[2 * f] * expected[2 * f + 1];
                } else {
                    const double re = value(generator), im = 0.05 * scale + std::fabs(value(generator));
                    p[f] = -2.0 * re;
                    q[f] = re * re + im * im;
                }
            }
            SortAscending(expected, real);
            bool apart = true;
            for (int i = 0; i + 1 < real; ++i)
                apart = apart && expected[i + 1] - expected[i] > 0.05 * scale;
            if (!apart)
                continue;
            double coefficients[4], roots[4];
            Expand(p[0], q[0], p[1], q[1], coefficients);
            const int count = SolveQuartic(coefficients, roots);
            ASSERT_EQ(count, real) << "scale " << scale << " trial " << trial;
            SortAscending(roots, count);
            for (int i = 0; i < count; ++i)
                EXPECT_NEAR(roots[i], expected[i], 1e-10 * scale) << "scale " << scale << " trial " << trial;
        }
    }
}

TEST(QuarticTest, RootsWhoseSmallestPairSumIsTinyAreKept)
{
    // The resolvent's smallest root is at the rounding level here; taken as
    // the splitting root it gives wrong roots or none at all.
    const double cases[2][4] = {{-500.0, 499.99999, 800.0, -799.99999}, {-30.0, 29.9999999, 45.0, -44.9999999}};
    for (const auto& given : cases) {
        double expected[4] = {given[0], given[1], given[2], given[3]};
        double coefficients[4], roots[4];
        Expand(-(expected[0] + expected[1]), expected[0] * expected[1], -(expected[2] + expected[3]),
               expected[2] * expected[3], coefficients);
        ASSERT_EQ(SolveQuartic(coefficients, roots), 4);
        SortAscending(roots, 4);
        SortAscending(expected, 4);
        for (int i = 0; i < 4; ++i)
            EXPECT_NEAR(roots[i], expected[i], 1e-9 * std::fabs(expected[i]));
    }
}

} // namespace
