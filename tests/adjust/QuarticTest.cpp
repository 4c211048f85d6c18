#include "Quartic.h"

#include <gtest/gtest.h>

#include <utility>
#include <cmath>
#include <limits>
#include <random>

namespace {

void SortAscending(double* values, int count)
{
    for (int i = 1; i < count; ++i)
        for (int j = i; j > 0 && values[j] < values[j - 1]; --j)
            std::swap(values[j], values[j - 1]);
}

// Monic coefficients of (x - r0)(x - r1)(x^2 + p x + q).
void Expand(double r0, double r1, double p, double q, double coefficients[4])
{
    const double s = -(r0 + r1), t = r0 * r1; // x^2 + s x + t
    coefficients[0] = s + p;
    coefficients[1] = t + s * p + q;
    coefficients[2] = t * p + s * q;
    coefficients[3] = t * q;
}

// Monic coefficients of (x^2 + p1 x + q1)(x^2 + p2 x + q2).
void ExpandQuadratics(double p1, double q1, double p2, double q2, double coefficients[4])
{
    coefficients[0] = p1 + p2;
    coefficients[1] = q1 + p1 * p2 + q2;
    coefficients[2] = p1 * q2 + q1 * p2;
    coefficients[3] = q1 * q2;
}

TEST(QuarticTest, BiquadraticExamplesKeepTheirOrder)
{
    double roots[4];
    const double symmetric[4] = {0.0, -5.0, 0.0, 4.0}; // (x^2 - 1)(x^2 - 4)
    ASSERT_EQ(SolveQuartic(symmetric, roots), 4);
    EXPECT_DOUBLE_EQ(roots[0], 2.0);
    EXPECT_DOUBLE_EQ(roots[1], -2.0);
    EXPECT_DOUBLE_EQ(roots[2], 1.0);
    EXPECT_DOUBLE_EQ(roots[3], -1.0);

    const double shifted[4] = {-10.0, 35.0, -50.0, 24.0}; // (x-1)(x-2)(x-3)(x-4)
    ASSERT_EQ(SolveQuartic(shifted, roots), 4);
    EXPECT_NEAR(roots[0], 4.0, 1e-12);
    EXPECT_NEAR(roots[1], 1.0, 1e-12);
    EXPECT_NEAR(roots[2], 3.0, 1e-12);
    EXPECT_NEAR(roots[3], 2.0, 1e-12);
}

TEST(QuarticTest, DoubleRootAtTheDepressedOriginIsNotReported)
{
    // x^2 (x^2 - 1): the double root 0 fails the strict tests.
    const double coefficients[4] = {0.0, -1.0, 0.0, 0.0};
    double roots[4];
    ASSERT_EQ(SolveQuartic(coefficients, roots), 2);
    EXPECT_DOUBLE_EQ(roots[0], 1.0);
    EXPECT_DOUBLE_EQ(roots[1], -1.0);
}

TEST(QuarticTest, RandomQuarticsWithFourTwoAndNoRealRoots)
{
    std::mt19937 generator(20261206);
    for (double scale : {1.0, 30.0, 1000.0}) {
        std::uniform_real_distribution<double> value(-scale, scale);
        int tried[3] = {0, 0, 0};
        for (int trial = 0; trial < 3000; ++trial) {
            const int kind = trial % 3;
            double coefficients[4], roots[4];
            double expected[4];
            int expectedCount = 0;
            if (kind == 0) {
                for (double& r : expected)
                    r = value(generator);
                SortAscending(expected, 4);
                // Well separated roots, so that their accuracy is the solver's.
                bool separated = true;
                for (int i = 0; i < 3; ++i)
                    separated = separated && expected[i + 1] - expected[i] > 0.05 * scale;
                if (!separated)
                    continue;
                Expand(expected[0], expected[1], -(expected[2] + expected[3]), expected[2] * expected[3],
                       coefficients);
                expectedCount = 4;
            } else if (kind == 1) {
                expected[0] = value(generator);
                expected[1] = value(generator);
                if (std::fabs(expected[0] - expected[1]) < 0.05 * scale)
                    continue;
                const double re = value(generator), im = 0.05 * scale + std::fabs(value(generator));
                Expand(expected[0], expected[1], -2.0 * re, re * re + im * im, coefficients);
                expectedCount = 2;
            } else {
                const double re1 = value(generator), im1 = 0.05 * scale + std::fabs(value(generator));
                const double re2 = value(generator), im2 = 0.05 * scale + std::fabs(value(generator));
                ExpandQuadratics(-2.0 * re1, re1 * re1 + im1 * im1, -2.0 * re2, re2 * re2 + im2 * im2,
                                 coefficients);
            }
            ++tried[kind];
            const int count = SolveQuartic(coefficients, roots);
            ASSERT_EQ(count, expectedCount) << "scale " << scale << " trial " << trial;
            SortAscending(roots, count);
            SortAscending(expected, expectedCount);
            for (int i = 0; i < count; ++i)
                EXPECT_NEAR(roots[i], expected[i], 1e-8 * scale) << "scale " << scale << " trial " << trial;
        }
        for (int count : tried)
            EXPECT_GT(count, 300);
    }
}

TEST(QuarticTest, RootsNearTheRoundingLevelOfTheResolventAreKept)
{
    // Four real roots whose smallest pair sum is tiny: the resolvent's
    // smallest root sits at the rounding level there.
    const double expected[4] = {-20.0, 19.9999, 35.0, -34.9999};
    double coefficients[4], roots[4];
    Expand(expected[0], expected[1], -(expected[2] + expected[3]), expected[2] * expected[3], coefficients);
    ASSERT_EQ(SolveQuartic(coefficients, roots), 4);
    SortAscending(roots, 4);
    double sorted[4] = {expected[0], expected[1], expected[2], expected[3]};
    SortAscending(sorted, 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(roots[i], sorted[i], 1e-7);
}

TEST(QuarticTest, NonFiniteCoefficientsGiveNoRoot)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    double roots[4];
    const double withNan[4] = {1.0, nan, 0.0, 1.0};
    const double withInf[4] = {inf, 1.0, 0.0, -1.0};
    EXPECT_EQ(SolveQuartic(withNan, roots), 0);
    EXPECT_EQ(SolveQuartic(withInf, roots), 0);
}

} // namespace
