#include "Statistics.h"

#include <climits>
#include <cmath>
#include <limits>

namespace {

constexpr int kMaxIterations = 1000;
constexpr double kEpsilon = 3e-7;   // relative tolerance of the series and fractions
constexpr double kTiny = 1e-30;     // keeps the Lentz denominators away from zero

constexpr int kQuantileSteps = 20;
constexpr double kQuantileTolerance = 1e-5;
constexpr double kQuantileMinArgument = 1e-5;

double AwayFromZero(double v)
{
    return std::fabs(v) < kTiny ? kTiny : v;
}

// C-style truncation toward zero that stays defined for NaN and huge values.
int TruncateToInt(double v)
{
    if (std::isnan(v))
        return 0;
    if (v >= static_cast<double>(INT_MAX))
        return INT_MAX;
    if (v <= static_cast<double>(INT_MIN))
        return INT_MIN;
    return static_cast<int>(v);
}

} // namespace

double LogGamma(double x)
{
    const double t = x + 5.5;
    const double s = 1.000000000190015 + 76.18009172947146 / (x + 1.0) - 86.50532032941678 / (x + 2.0) +
                     24.01409824083091 / (x + 3.0) - 1.231739572450155 / (x + 4.0) +
                     0.001208650973866179 / (x + 5.0) - 5.395239384953e-06 / (x + 6.0);
    return (x + 0.5) * std::log(t) - t + std::log(2.5066282746310007 * s / x);
}

void GammaSeries(double* result, double a, double x, double* lnGammaA)
{
    *lnGammaA = LogGamma(a);
    if (x <= 0.0) {
        *result = 0.0;
        return;
    }
    double term = 1.0 / a;
    double sum = term;
    for (int n = 1; n <= kMaxIterations; ++n) {
        term = term * x / (a + n);
        sum += term;
        if (std::fabs(term) < std::fabs(sum) * kEpsilon)
            break;
    }
    // Without convergence the partial sum stands.
    *result = sum * std::exp(-x + a * std::log(x) - *lnGammaA);
}

void GammaContinuedFraction(double* result, double a, double x, double* lnGammaA)
{
    *lnGammaA = LogGamma(a);
    if (std::isinf(x) && x > 0.0) {
        // The upper tail beyond every finite x; the fraction itself would give inf * 0.
        *result = 0.0;
        return;
    }
    double b = x + 1.0 - a;
    double c = 1.0 / kTiny;
    double d = 1.0 / b;
    double h = d;
    for (int i = 1; i <= kMaxIterations; ++i) {
        const double an = -i * (i - a);
        b += 2.0;
        d = AwayFromZero(an * d + b);
        c = AwayFromZero(b + an / c);
        d = 1.0 / d;
        const double del = d * c;
        h *= del;
        if (std::fabs(del - 1.0) < kEpsilon)
            break;
    }
    *result = std::exp(-x + a * std::log(x) - *lnGammaA) * h;
}

double GammaP(double a, double x)
{
    double value = 0.0;
    double lnGammaA = 0.0;
    if (x < a + 1.0) {
        GammaSeries(&value, a, x, &lnGammaA);
        return value;
    }
    GammaContinuedFraction(&value, a, x, &lnGammaA);
    return 1.0 - value;
}

double GammaQ(double a, double x)
{
    double value = 0.0;
    double lnGammaA = 0.0;
    if (x < a + 1.0) {
        GammaSeries(&value, a, x, &lnGammaA);
        return 1.0 - value;
    }
    GammaContinuedFraction(&value, a, x, &lnGammaA);
    return value;
}

double BetaContinuedFraction(double a, double b, double x)
{
    const double qab = a + b;
    const double qap = a + 1.0;
    const double qam = a - 1.0;
    double c = 1.0;
    double d = 1.0 / AwayFromZero(1.0 - qab * x / qap);
    double h = d;
    for (int m = 1; m <= kMaxIterations; ++m) {
        const int m2 = 2 * m;
        double aa = m * (b - m) * x / ((qam + m2) * (a + m2));
        d = 1.0 / AwayFromZero(1.0 + aa * d);
        c = AwayFromZero(1.0 + aa / c);
        h *= d * c;
        aa = -(a + m) * (qab + m) * x / ((a + m2) * (qap + m2));
        d = 1.0 / AwayFromZero(1.0 + aa * d);
        c = AwayFromZero(1.0 + aa / c);
        const double del = d * c;
        h *= del;
        if (std::fabs(del - 1.0) < kEpsilon)
            break;
    }
    return h;
}

double BetaI(double a, double b, double x)
{
    double front = 0.0;
    if (x != 0.0 && x != 1.0)
        front = std::exp(LogGamma(a + b) - LogGamma(a) - LogGamma(b) + a * std::log(x) + b * std::log(1.0 - x));
    if (x < (a + 1.0) / (a + b + 2.0))
        return front * BetaContinuedFraction(a, b, x) / a;
    return 1.0 - front * BetaContinuedFraction(b, a, 1.0 - x) / b;
}

double ChiSquareQ(double chi2, int df)
{
    return GammaQ(df / 2.0, chi2 / 2.0);
}

double StudentTA(double t, double df)
{
    return 1.0 - BetaI(df / 2.0, 0.5, df / (df + t * t));
}

double FDistributionQ(double f, double df1, double df2)
{
    return BetaI(df2 / 2.0, df1 / 2.0, df2 / (df2 + df1 * f));
}

double StandardNormalCdf(double x)
{
    const double p = GammaP(0.5, x * x / 2.0);
    return x >= 0.0 ? (1.0 + p) / 2.0 : (1.0 - p) / 2.0;
}

double NormalCdf(double x, double mean, double sigma)
{
    return StandardNormalCdf((x - mean) / sigma);
}

double Erf(double x)
{
    const double p = GammaP(0.5, x * x);
    return x >= 0.0 ? p : -p;
}

double InverseErf(double y)
{
    double x = y;
    for (int i = 0; i < kMaxIterations; ++i) {
        const double f = Erf(x);
        if (std::fabs(f - y) < kEpsilon)
            break;
        const double slope = Erf(x + 0.005) - f;
        // Where the function has flattened out (no solution for abs(y) >= 1) the
        // step would be infinite: end at the current x.
        if (!(std::fabs(slope) > 0.0))
            break;
        x += (y - f) / (slope * 200.0);
    }
    return x;
}

double DistributionValue(int dist, double x, double p1, double p2)
{
    switch (dist) {
    case 1:
        return ChiSquareQ(x, TruncateToInt(p1));
    case 2:
        return FDistributionQ(x, p1, p2);
    case 3:
        return Erf(x);
    case 4:
        return StudentTA(x, p1);
    default:
        return -1.0;
    }
}

double DistributionQuantile(int dist, double x0, double x1, double p, double p1, double p2)
{
    const auto F = [&](double x) { return DistributionValue(dist, x, p1, p2) - p; };
    double f = F(x0);
    double a = x0;
    double b = x1;
    int steps = 0;
    do {
        double d = b - a;
        ++steps;
        a = b;
        if (b + d < kQuantileMinArgument)
            d = kQuantileMinArgument;
        const double num = d * f;
        const double den = F(b + d) - f;
        double quotient;
        if (den != 0.0) {
            quotient = num / den;
        } else if (num != 0.0 && !std::isnan(num)) {
            // A flat stretch: the step is infinite, with the sign IEEE division gives.
            const bool negative = std::signbit(num) != std::signbit(den);
            quotient = negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
        } else {
            return -1.0;
        }
        if (std::isinf(b) && std::isinf(quotient) && std::signbit(b) == std::signbit(quotient))
            return -1.0;   // inf - inf
        b -= quotient;
        if (std::isnan(b))
            return -1.0;   // no later step can leave NaN
        if (b < kQuantileMinArgument)
            b = kQuantileMinArgument;
        f = F(b);
    } while (!(std::fabs(f) < kQuantileTolerance) && steps < kQuantileSteps);
    if (steps >= kQuantileSteps)
        return -1.0;
    return b;
}

double StudentTQuantile(double p, double df)
{
    return DistributionQuantile(4, 1.0, 1.1, p, df, 0.0);
}

bool TwoSampleTTest(double mean1, double sigma1, int count1, double mean2, double sigma2, int count2, double p)
{
    // Counts in double: their sum and product overflow an int for large samples.
    const double n1 = count1;
    const double n2 = count2;
    const double df = n1 + n2 - 2.0;
    if (df <= 0.0 || sigma1 == 0.0 || sigma2 == 0.0)
        return false;
    // A sample without values has no mean to compare (and would divide by zero).
    if (count1 < 1 || count2 < 1)
        return false;
    const double s2 = ((n1 - 1.0) * sigma1 * sigma1 + (n2 - 1.0) * sigma2 * sigma2) / df;
    const double t = std::fabs(mean1 - mean2) / std::sqrt(s2 * (n1 + n2) / (n1 * n2));
    const double q = StudentTQuantile(p, df);
    return q > t;
}
