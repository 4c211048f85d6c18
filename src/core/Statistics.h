// Statistical distribution functions: log-gamma, the regularised incomplete
// gamma and beta functions, the chi-square, Student t, F and normal
// probabilities, the error function and its inverse, a quantile search over
// them and a pooled two-sample t test of two means.
//
// Free functions without state. Degrees of freedom are doubles unless the
// signature says otherwise. Arguments outside a function's domain give NaN
// unless noted; only the quantile search and the t test report failure.
#pragma once

// ln Gamma(x) for x > 0 (Lanczos series).
double LogGamma(double x);

// P(a, x) by its series into *result, ln Gamma(a) into *lnGammaA. The result
// is 0 for x <= 0. The series stops after 1000 terms, leaving the partial sum.
void GammaSeries(double* result, double a, double x, double* lnGammaA);

// Q(a, x) by its continued fraction into *result, ln Gamma(a) into *lnGammaA.
// Meant for x >= a + 1.
void GammaContinuedFraction(double* result, double a, double x, double* lnGammaA);

// Regularised lower incomplete gamma function P(a, x), a > 0.
double GammaP(double a, double x);

// Q(a, x) = 1 - P(a, x).
double GammaQ(double a, double x);

// Continued fraction of the incomplete beta function.
double BetaContinuedFraction(double a, double b, double x);

// Regularised incomplete beta function I_x(a, b), 0 <= x <= 1.
double BetaI(double a, double b, double x);

// Upper-tail probability of chi-square with df degrees of freedom.
double ChiSquareQ(double chi2, int df);

// Probability that abs(T) lies below t for Student's T with df degrees of freedom.
double StudentTA(double t, double df);

// Upper-tail probability of F with df1 and df2 degrees of freedom.
double FDistributionQ(double f, double df1, double df2);

// Cumulative probability of the standard normal distribution.
double StandardNormalCdf(double x);

// Cumulative probability of the normal distribution with the given mean and sigma.
double NormalCdf(double x, double mean, double sigma);

// The error function.
double Erf(double x);

// x with Erf(x) = y, by Newton steps with a numerical derivative. Without a
// solution (abs(y) >= 1) the result is the x where the steps end.
double InverseErf(double y);

// The distribution function chosen by dist at x:
// 1 ChiSquareQ(x, p1 truncated), 2 FDistributionQ(x, p1, p2), 3 Erf(x),
// 4 StudentTA(x, p1); -1.0 for any other dist.
double DistributionValue(int dist, double x, double p1, double p2);

// x >= 1e-5 with DistributionValue(dist, x, p1, p2) = p to 1e-5 in
// probability, by a secant search from x0 and x1 of at most 20 steps; -1.0
// when the search does not end before its twentieth step.
double DistributionQuantile(int dist, double x0, double x1, double p, double p1, double p2);

// The two-sided Student t quantile: t with StudentTA(t, df) = p; -1.0 when
// the search fails.
double StudentTQuantile(double p, double df);

// Pooled two-sample t test: true when the means do not differ at probability p.
// False when count1 + count2 - 2 <= 0, a sigma is 0, or the quantile search fails.
bool TwoSampleTTest(double mean1, double sigma1, int count1, double mean2, double sigma2, int count2,
                    double p);
