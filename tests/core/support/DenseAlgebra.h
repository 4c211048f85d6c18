// Plain dense linear algebra for checking the matrix code: full square or
// rectangular arrays, naive products and Gaussian elimination with partial
// pivoting. Deliberately simple and independent of the code under test.
#pragma once

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace dense {

struct Mat
{
    int rows = 0, cols = 0;
    std::vector<double> v;
    Mat() = default;
    Mat(int r, int c) : rows(r), cols(c), v(static_cast<size_t>(r) * c, 0.0) {}
    double& operator()(int i, int j) { return v[static_cast<size_t>(i) * cols + j]; }
    double operator()(int i, int j) const { return v[static_cast<size_t>(i) * cols + j]; }
};

inline Mat Random(int r, int c, std::mt19937& gen, double lo = -1.0, double hi = 1.0)
{
    std::uniform_real_distribution<double> d(lo, hi);
    Mat m(r, c);
    for (double& x : m.v)
        x = d(gen);
    return m;
}

inline Mat Transpose(const Mat& a)
{
    Mat t(a.cols, a.rows);
    for (int i = 0; i < a.rows; ++i)
        for (int j = 0; j < a.cols; ++j)
            t(j, i) = a(i, j);
    return t;
}

inline Mat Multiply(const Mat& a, const Mat& b)
{
    Mat c(a.rows, b.cols);
    for (int i = 0; i < a.rows; ++i)
        for (int j = 0; j < b.cols; ++j) {
            double s = 0.0;
            for (int k = 0; k < a.cols; ++k)
                s += a(i, k) * b(k, j);
            c(i, j) = s;
        }
    return c;
}

// A symmetric positive definite matrix A'A + shift I from a random m x n A.
inline Mat RandomSpd(int n, std::mt19937& gen, double shift = 0.5)
{
    const Mat a = Random(n + 3, n, gen);
    Mat s = Multiply(Transpose(a), a);
    for (int i = 0; i < n; ++i)
        s(i, i) += shift;
    return s;
}

// Solves A X = B by Gaussian elimination with partial pivoting; false when
// A is singular to working precision.
inline bool Solve(Mat a, Mat b, Mat& x)
{
    const int n = a.rows;
    for (int c = 0; c < n; ++c) {
        int p = c;
        for (int r = c + 1; r < n; ++r)
            if (std::fabs(a(r, c)) > std::fabs(a(p, c)))
                p = r;
        if (a(p, c) == 0.0)
            return false;
        if (p != c) {
            for (int j = 0; j < n; ++j)
                std::swap(a(p, j), a(c, j));
            for (int j = 0; j < b.cols; ++j)
                std::swap(b(p, j), b(c, j));
        }
        for (int r = c + 1; r < n; ++r) {
            const double f = a(r, c) / a(c, c);
            for (int j = c; j < n; ++j)
                a(r, j) -= f * a(c, j);
            for (int j = 0; j < b.cols; ++j)
                b(r, j) -= f * b(c, j);
        }
    }
    x = Mat(n, b.cols);
    for (int j = 0; j < b.cols; ++j)
        for (int i = n - 1; i >= 0; --i) {
            double s = b(i, j);
            for (int k = i + 1; k < n; ++k)
                s -= a(i, k) * x(k, j);
            x(i, j) = s / a(i, i);
        }
    return true;
}

inline Mat Identity(int n)
{
    Mat m(n, n);
    for (int i = 0; i < n; ++i)
        m(i, i) = 1.0;
    return m;
}

inline bool Inverse(const Mat& a, Mat& inv)
{
    return Solve(a, Identity(a.rows), inv);
}

inline double MaxAbs(const Mat& a)
{
    double m = 0.0;
    for (double x : a.v)
        m = std::max(m, std::fabs(x));
    return m;
}

// Infinity-norm condition number from an independent inverse.
inline double Condition(const Mat& a)
{
    Mat inv;
    if (!Inverse(a, inv))
        return INFINITY;
    auto norm = [](const Mat& m) {
        double best = 0.0;
        for (int i = 0; i < m.rows; ++i) {
            double s = 0.0;
            for (int j = 0; j < m.cols; ++j)
                s += std::fabs(m(i, j));
            best = std::max(best, s);
        }
        return best;
    };
    return norm(a) * norm(inv);
}

} // namespace dense
