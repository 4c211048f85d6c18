#include "Statistics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

const double kPi = std::acos(-1.0);
const double kInf = std::numeric_limits<double>::infinity();

// Tables quote quantiles to six decimals; the probabilities must match to 1e-5.
constexpr double kTableTolerance = 1e-5;

TEST(LogGammaTest, MatchesFactorialsAndLibraryGamma)
{
    EXPECT_NEAR(LogGamma(1.0), 0.0, 1e-10);
    EXPECT_NEAR(LogGamma(2.0), 0.0, 1e-10);
    EXPECT_NEAR(LogGamma(0.5), std::log(std::sqrt(kPi)), 1e-10);
    for (double x = 0.05; x < 200.0; x *= 1.37)
        EXPECT_NEAR(LogGamma(x), std::lgamma(x), 1e-9 * std::max(1.0, std::fabs(std::lgamma(x)))) << x;
}

TEST(IncompleteGammaTest, ClosedFormsAndBothBranches)
{
    for (double a : {0.5, 3.0, 12.5})
        EXPECT_EQ(GammaP(a, 0.0), 0.0);
    for (double x : {0.01, 0.3, 1.0, 1.99, 2.0, 2.01, 5.0, 30.0}) {
        EXPECT_NEAR(GammaP(1.0, x), 1.0 - std::exp(-x), 1e-7) << x;
        EXPECT_NEAR(GammaP(0.5, x), std::erf(std::sqrt(x)), 1e-7) << x;
        // P(2, x) = 1 - e^-x (1 + x)
        EXPECT_NEAR(GammaP(2.0, x), 1.0 - std::exp(-x) * (1.0 + x), 1e-7) << x;
        EXPECT_NEAR(GammaP(3.0, x) + GammaQ(3.0, x), 1.0, 1e-12) << x;
    }

    // Where both converge, series and fraction agree, and both report ln Gamma(a).
    double series = 0.0, fraction = 0.0, lnSeries = 0.0, lnFraction = 0.0;
    GammaSeries(&series, 2.5, 6.0, &lnSeries);
    GammaContinuedFraction(&fraction, 2.5, 6.0, &lnFraction);
    EXPECT_NEAR(series, 1.0 - fraction, 1e-6);
    EXPECT_NEAR(lnSeries, std::lgamma(2.5), 1e-9);
    EXPECT_NEAR(lnFraction, std::lgamma(2.5), 1e-9);
    GammaSeries(&series, 2.5, -1.0, &lnSeries);
    EXPECT_EQ(series, 0.0);
}

TEST(IncompleteBetaTest, EndsSymmetryAndPolynomialCases)
{
    for (double a : {0.5, 2.0, 7.0}) {
        for (double b : {0.5, 3.0}) {
            EXPECT_EQ(BetaI(a, b, 0.0), 0.0);
            EXPECT_EQ(BetaI(a, b, 1.0), 1.0);
            for (double x : {0.05, 0.3, 0.5, 0.8, 0.97})
                EXPECT_NEAR(BetaI(a, b, x), 1.0 - BetaI(b, a, 1.0 - x), 1e-6);
        }
    }
    for (double x : {0.1, 0.45, 0.9}) {
        EXPECT_NEAR(BetaI(3.5, 1.0, x), std::pow(x, 3.5), 1e-7);
        EXPECT_NEAR(BetaI(1.0, 4.0, x), 1.0 - std::pow(1.0 - x, 4.0), 1e-7);
    }
    // I_0.4(2, 3) = sum over j = 2..4 of C(4, j) 0.4^j 0.6^(4 - j)
    EXPECT_NEAR(BetaI(2.0, 3.0, 0.4), 0.5248, 1e-7);
}

TEST(NormalDistributionTest, TableValuesAndErrorFunction)
{
    const struct { double z, p; } table[] = {
        {1.959964, 0.975}, {1.644854, 0.95}, {2.575829, 0.995}, {-2.326348, 0.01},
        {-1.0, 0.158655}, {0.5, 0.691462}, {3.0, 0.998650}, {0.0, 0.5},
    };
    for (const auto& row : table)
        EXPECT_NEAR(StandardNormalCdf(row.z), row.p, kTableTolerance) << row.z;
    EXPECT_NEAR(NormalCdf(-3.0, 1.0, 4.0), 0.158655, kTableTolerance);

    for (double x = -4.0; x <= 4.0; x += 0.25) {
        EXPECT_NEAR(StandardNormalCdf(x), 0.5 * std::erfc(-x / std::sqrt(2.0)), 1e-7) << x;
        EXPECT_NEAR(Erf(x), std::erf(x), 1e-7) << x;
        EXPECT_EQ(Erf(-x), -Erf(x)) << x;
    }
    EXPECT_EQ(Erf(0.0), 0.0);
}

TEST(NormalDistributionTest, InfiniteAndHugeArgumentsGiveTheLimits)
{
    // x^2 overflows to infinity for huge x; the tails must still be 0 and 1.
    EXPECT_EQ(StandardNormalCdf(kInf), 1.0);
    EXPECT_EQ(StandardNormalCdf(-kInf), 0.0);
    EXPECT_EQ(StandardNormalCdf(1e200), 1.0);
    EXPECT_EQ(StandardNormalCdf(-1e200), 0.0);
    EXPECT_EQ(Erf(-1e160), -1.0);
    EXPECT_EQ(GammaQ(2.0, kInf), 0.0);
    // A zero sigma is a step at the mean.
    EXPECT_EQ(NormalCdf(1.0, 0.0, 0.0), 1.0);
    EXPECT_EQ(NormalCdf(-1.0, 0.0, 0.0), 0.0);
}

TEST(InverseErfTest, InvertsTheErrorFunction)
{
    EXPECT_NEAR(InverseErf(0.95), 1.959964 / std::sqrt(2.0), 1e-5);
    EXPECT_NEAR(InverseErf(-0.999), -3.290527 / std::sqrt(2.0), 1e-5);
    for (double y = -0.995; y < 1.0; y += 0.035)
        EXPECT_NEAR(std::erf(InverseErf(y)), y, 5e-7) << y;

    // No solution: the steps end at a finite x where the function has flattened.
    EXPECT_NEAR(Erf(InverseErf(1.0)), 1.0, 3e-7);
    for (double y : {1.5, -2.0, 1e10}) {
        const double x = InverseErf(y);
        EXPECT_TRUE(std::isfinite(x)) << y;
        EXPECT_EQ(std::signbit(x), std::signbit(y)) << y;
    }
}

TEST(StudentTTest, TableValuesAndClosedForms)
{
    // Two-sided probabilities: t(0.975; n) has A = 0.95.
    const struct { double t, df, a; } table[] = {
        {63.656741, 1, 0.99}, {4.302653, 2, 0.95}, {2.015048, 5, 0.90}, {2.228139, 10, 0.95},
        {3.169273, 10, 0.99}, {2.200985, 11, 0.95}, {2.085963, 20, 0.95}, {2.042272, 30, 0.95},
    };
    for (const auto& row : table)
        EXPECT_NEAR(StudentTA(row.t, row.df), row.a, kTableTolerance) << row.t << " " << row.df;

    for (double t : {0.0, 0.1, 0.7, 1.0, 3.0, 25.0, 400.0}) {
        // One degree of freedom is Cauchy: CDF = 0.5 + atan(t) / pi.
        EXPECT_NEAR(StudentTA(t, 1.0), 2.0 * std::atan(t) / kPi, 1e-7) << t;
        // Two: A = t / sqrt(2 + t^2).
        EXPECT_NEAR(StudentTA(t, 2.0), t / std::sqrt(2.0 + t * t), 1e-7) << t;
    }
    EXPECT_EQ(StudentTA(kInf, 7.0), 1.0);
}

TEST(ChiSquareTest, TableValuesAndClosedForms)
{
    const struct { double x; int df; double q; } table[] = {
        {3.841459, 1, 0.05}, {11.070498, 5, 0.05}, {18.307038, 10, 0.05}, {23.209251, 10, 0.01},
        {3.940299, 10, 0.95}, {43.772972, 30, 0.05}, {124.342113, 100, 0.05},
    };
    for (const auto& row : table)
        EXPECT_NEAR(ChiSquareQ(row.x, row.df), row.q, kTableTolerance) << row.x << " " << row.df;

    for (double x : {0.0, 0.5, 1.9, 4.0, 12.0, 40.0}) {
        EXPECT_NEAR(ChiSquareQ(x, 2), std::exp(-x / 2.0), 1e-7) << x;
        EXPECT_NEAR(ChiSquareQ(x, 4), std::exp(-x / 2.0) * (1.0 + x / 2.0), 1e-7) << x;
    }
}

TEST(FDistributionTest, TableValuesAndRelations)
{
    const struct { double f, df1, df2, q; } table[] = {
        {3.325835, 5, 10, 0.05}, {5.636326, 5, 10, 0.01}, {3.492828, 2, 20, 0.05},
        {2.978237, 10, 10, 0.05}, {2.922277, 3, 30, 0.05},
    };
    for (const auto& row : table)
        EXPECT_NEAR(FDistributionQ(row.f, row.df1, row.df2), row.q, kTableTolerance) << row.f;

    for (double t : {0.2, 1.0, 2.228139, 6.0}) {
        for (double n : {1.0, 4.0, 10.0, 57.0}) {
            // F(1, n) is t^2 with n degrees of freedom.
            EXPECT_NEAR(FDistributionQ(t * t, 1.0, n), 1.0 - StudentTA(t, n), 1e-7) << t << " " << n;
            // Upper tail of F(d1, d2) at f is the lower tail of F(d2, d1) at 1 / f.
            EXPECT_NEAR(FDistributionQ(t, 3.0, n), 1.0 - FDistributionQ(1.0 / t, n, 3.0), 1e-7);
        }
    }
    EXPECT_EQ(FDistributionQ(0.0, 4.0, 9.0), 1.0);
}

TEST(QuantileTest, DistributionValueDispatchesByNumber)
{
    EXPECT_EQ(DistributionValue(1, 7.5, 6.9, 99.0), ChiSquareQ(7.5, 6));
    EXPECT_EQ(DistributionValue(2, 2.1, 4.0, 12.0), FDistributionQ(2.1, 4.0, 12.0));
    EXPECT_EQ(DistributionValue(3, 0.8, 0.0, 0.0), Erf(0.8));
    EXPECT_EQ(DistributionValue(4, 1.7, 9.0, 0.0), StudentTA(1.7, 9.0));
    for (int dist : {0, 5, -1})
        EXPECT_EQ(DistributionValue(dist, 1.0, 5.0, 5.0), -1.0) << dist;
    // Degrees of freedom beyond int range truncate safely; such a chi-square lies wholly above 5.
    EXPECT_NEAR(DistributionValue(1, 5.0, 1e300, 0.0), 1.0, 1e-12);
}

TEST(QuantileTest, RecoversTableQuantiles)
{
    const struct { double p, df, t; } table[] = {
        {0.95, 10, 2.228139}, {0.99, 10, 3.169273}, {0.90, 5, 2.015048}, {0.95, 1, 12.706205},
    };
    for (const auto& row : table) {
        const double q = StudentTQuantile(row.p, row.df);
        EXPECT_NEAR(StudentTA(q, row.df), row.p, kTableTolerance) << row.df;
        // 1e-5 in probability allows the quantile to move by 1e-5 / density.
        EXPECT_NEAR(q, row.t, 1e-3 * row.t) << row.df;
    }
    EXPECT_NEAR(DistributionQuantile(1, 10.0, 11.0, 0.05, 10.0, 0.0), 18.307038, 1e-3);
    EXPECT_NEAR(DistributionQuantile(2, 1.0, 1.1, 0.05, 5.0, 10.0), 3.325835, 1e-3);
    EXPECT_NEAR(DistributionQuantile(3, 0.5, 0.6, 0.5, 0.0, 0.0), 0.476936, 1e-4);
    // The search never goes below 1e-5, and A(1e-5) is within tolerance of 0.
    EXPECT_EQ(StudentTQuantile(0.0, 10.0), 1e-5);
}

TEST(QuantileTest, FailedSearchReturnsMinusOne)
{
    // Probabilities no distribution reaches.
    EXPECT_EQ(StudentTQuantile(1.5, 10.0), -1.0);
    EXPECT_EQ(StudentTQuantile(std::nan(""), 10.0), -1.0);
    EXPECT_EQ(DistributionQuantile(2, 1.0, 1.1, 2.0, 5.0, 10.0), -1.0);
    // No distribution: the function is flat.
    EXPECT_EQ(DistributionQuantile(7, 1.0, 1.1, 0.5, 1.0, 1.0), -1.0);
    // Equal start values give no first step.
    EXPECT_EQ(DistributionQuantile(4, 2.0, 2.0, 0.95, 10.0, 0.0), -1.0);
    // Far out in the flat tail the secant steps wander for all 20 steps.
    EXPECT_EQ(DistributionQuantile(3, 5.0, 5.5, 0.999, 0.0, 0.0), -1.0);
    // This search meets the tolerance only on its twentieth step: still a failure.
    const double x0 = 0.52006348234710664;
    EXPECT_EQ(DistributionQuantile(2, x0, x0 * 0.9, 0.999, 10.0, 10.0), -1.0);
}

TEST(TwoSampleTTestTest, HandComputedCases)
{
    // s2 = (5*4 + 5*4) / 10 = 4, t = d / sqrt(4 * 12 / 36); t(0.975; 10) = 2.228139.
    EXPECT_TRUE(TwoSampleTTest(10.0, 2.0, 6, 12.5, 2.0, 6, 0.95));    // t = 2.165064
    EXPECT_FALSE(TwoSampleTTest(10.0, 2.0, 6, 12.6, 2.0, 6, 0.95));   // t = 2.251666
    EXPECT_FALSE(TwoSampleTTest(10.0, 2.0, 6, 12.5, 2.0, 6, 0.90));   // t(0.95; 10) = 1.812461
    EXPECT_TRUE(TwoSampleTTest(12.5, 2.0, 6, 10.0, 2.0, 6, 0.95));

    // Unequal counts: s2 = (3*1 + 8*2.25) / 11, t = 2 / sqrt(s2 * 13 / 36) = 2.408775.
    // t(0.9875; 11) = 2.593093 lies above it; unpooled (2.828) or mis-weighted
    // pooling (2.874) would lie above the quantile instead.
    EXPECT_TRUE(TwoSampleTTest(5.0, 1.0, 4, 3.0, 1.5, 9, 0.975));
    EXPECT_TRUE(TwoSampleTTest(3.0, 1.5, 9, 5.0, 1.0, 4, 0.975));
    EXPECT_FALSE(TwoSampleTTest(5.0, 1.0, 4, 3.0, 1.5, 9, 0.95));     // t(0.975; 11) = 2.200985

    // Large samples: 50000 * 50000 overflows an int. t = 1.581139 and 2.371708, q = 1.959988.
    EXPECT_TRUE(TwoSampleTTest(0.0, 1.0, 50000, 0.01, 1.0, 50000, 0.95));
    EXPECT_FALSE(TwoSampleTTest(0.0, 1.0, 50000, 0.015, 1.0, 50000, 0.95));
}

TEST(TwoSampleTTestTest, DegenerateInputIsFalse)
{
    EXPECT_TRUE(TwoSampleTTest(4.0, 0.3, 2, 4.0, 0.8, 3, 0.99));
    EXPECT_FALSE(TwoSampleTTest(4.0, 0.3, 1, 4.0, 0.8, 1, 0.99));     // no degrees of freedom
    EXPECT_FALSE(TwoSampleTTest(4.0, 0.0, 5, 4.0, 0.8, 5, 0.99));
    EXPECT_FALSE(TwoSampleTTest(4.0, 0.3, 5, 4.0, 0.0, 5, 0.99));
    EXPECT_FALSE(TwoSampleTTest(4.0, 0.3, 5, 4.0, 0.8, 5, 1.5));      // quantile search fails
    // An empty sample beside a larger one has degrees of freedom but no mean.
    EXPECT_FALSE(TwoSampleTTest(4.0, 0.3, 0, 4.1, 0.8, 4, 0.95));
    EXPECT_FALSE(TwoSampleTTest(4.0, 0.8, 8, 4.0, 0.3, -2, 0.95));
}

} // namespace
