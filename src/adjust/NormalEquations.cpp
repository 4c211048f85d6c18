#include "NormalEquations.h"

#include <cmath>
#include <vector>

#include "Matrix.h"
#include "Vector.h"

namespace {

// scale[i] = 1 / sqrt(a(i, i)), which brings the system to a unit diagonal;
// false when a diagonal element is not positive or not finite.
bool UnitDiagonalScale(const CMatrix& augmented, int unknowns, std::vector<double>& scale)
{
    scale.resize(static_cast<size_t>(unknowns));
    for (int i = 0; i < unknowns; ++i) {
        const double d = augmented.GetAt(i, i);
        if (!(d > 0.0) || !std::isfinite(d))
            return false;
        scale[i] = 1.0 / std::sqrt(d);
    }
    return true;
}

} // namespace

bool SolveNormalEquations(CMatrix& augmented, int unknowns, CVector& x)
{
    if (unknowns < 1)
        return false;
    std::vector<double> scale;
    if (!UnitDiagonalScale(augmented, unknowns, scale))
        return false;
    for (int i = 0; i < unknowns; ++i) {
        for (int j = i; j < unknowns; ++j)
            augmented.SetAt(augmented.GetAt(i, j) * scale[i] * scale[j], i, j);
        augmented.SetAt(augmented.GetAt(i, unknowns) * scale[i], i, unknowns);
    }
    const double residualSum = augmented.GetAt(unknowns, unknowns);
    if (!std::isfinite(residualSum))
        return false;
    // The residual sum does not enter the solution. With exact observations
    // it is zero, and rounding in the last pivot would make it negative and
    // fail the factorisation; raise it clear of that.
    augmented.SetAt(2.0 * std::fabs(residualSum) + 1.0, unknowns, unknowns);

    if (!augmented.CholeskyDecompose())
        return false;
    x.Resize(unknowns);
    augmented.SolveAugmentedCholesky(x);
    for (int i = 0; i < unknowns; ++i) {
        x[i] *= scale[i];
        if (!std::isfinite(x[i]))
            return false;
    }
    return true;
}

bool InvertNormalMatrix(const CMatrix& augmented, int unknowns, CMatrix& inverse)
{
    if (unknowns < 1)
        return false;
    std::vector<double> scale;
    if (!UnitDiagonalScale(augmented, unknowns, scale))
        return false;
    // A 1 x 1 system is its own inverse; the packed inverse wants two rows.
    if (unknowns == 1) {
        inverse.Resize(1, -1);
        inverse.SetAt(scale[0] * scale[0], 0, 0);
        return true;
    }
    CMatrix scaled(unknowns, -1);
    for (int i = 0; i < unknowns; ++i)
        for (int j = i; j < unknowns; ++j)
            scaled.SetAt(augmented.GetAt(i, j) * scale[i] * scale[j], i, j);
    if (!scaled.InvertSymmetric(false))
        return false;
    inverse.Resize(unknowns, -1);
    for (int i = 0; i < unknowns; ++i)
        for (int j = i; j < unknowns; ++j) {
            const double value = scaled.GetAt(i, j) * scale[i] * scale[j];
            if (!std::isfinite(value))
                return false;
            inverse.SetAt(value, i, j);
        }
    return true;
}

namespace {

// Where row i of the packed point system starts.
constexpr int kPointRow[4] = {0, 4, 7, 9};

inline double& PointAt(double* a, int i, int j)
{
    return a[kPointRow[i] + j - i];
}

} // namespace

void AddPointRay(double augmented[kPointSystemSize], const double row0[4], const double row1[4])
{
    for (int i = 0; i < 4; ++i)
        for (int j = i; j < 4; ++j) {
            double s = 0.0;
            s += row0[i] * row0[j];
            s += row1[i] * row1[j];
            PointAt(augmented, i, j) += s;
        }
}

// The steps of SolveNormalEquations, and of the Cholesky factorisation and
// back substitution it calls, on four rows: every sum takes its terms in
// the same order, from the same zero start.
bool SolvePointNormals(double augmented[kPointSystemSize], double x[3])
{
    double* a = augmented;
    double scale[3];
    for (int i = 0; i < 3; ++i) {
        const double d = PointAt(a, i, i);
        if (!(d > 0.0) || !std::isfinite(d))
            return false;
        scale[i] = 1.0 / std::sqrt(d);
    }
    for (int i = 0; i < 3; ++i) {
        for (int j = i; j < 3; ++j)
            PointAt(a, i, j) = PointAt(a, i, j) * scale[i] * scale[j];
        PointAt(a, i, 3) = PointAt(a, i, 3) * scale[i];
    }
    const double residualSum = PointAt(a, 3, 3);
    if (!std::isfinite(residualSum))
        return false;
    PointAt(a, 3, 3) = 2.0 * std::fabs(residualSum) + 1.0;

    // A = U'U, row by row; S holds the sums over the rows above.
    double S[4][4];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            S[i][j] = 0.0;
    for (int i = 0; i < 4; ++i) {
        const double d = PointAt(a, i, i) - S[i][i];
        if (d < 0.0)
            return false;
        PointAt(a, i, i) = std::sqrt(d);
        if (i == 3)
            break;
        const double pivot = PointAt(a, i, i);
        if (std::fabs(pivot) < 1e-100)
            return false;
        for (int j = i + 1; j < 4; ++j)
            PointAt(a, i, j) = (PointAt(a, i, j) - S[i][j]) / pivot;
        for (int m = i + 1; m < 4; ++m)
            for (int j = m; j < 4; ++j)
                S[m][j] += PointAt(a, i, j) * PointAt(a, i, m);
    }
    double determinant = 1.0;
    for (int k = 0; k < 3; ++k)
        determinant *= PointAt(a, k, k) * PointAt(a, k, k);
    if (!(determinant > 1e-16))
        return false;

    for (int i = 2; i >= 0; --i) {
        double s = 0.0;
        for (int j = i + 1; j < 3; ++j)
            s += PointAt(a, i, j) * x[j];
        x[i] = (PointAt(a, i, 3) - s) / PointAt(a, i, i);
    }
    for (int i = 0; i < 3; ++i) {
        x[i] *= scale[i];
        if (!std::isfinite(x[i]))
            return false;
    }
    return true;
}

namespace {

// Element (i, j), j >= i, of an n x n system packed by rows.
template <int n>
inline double& PackedAt(double* a, int i, int j)
{
    return a[i * n - i * (i - 1) / 2 + j - i];
}

// CMatrix::LdltDecompose on n rows: A = U'DU, D on the diagonal, in place.
// Row m's sums over the rows above, at column j, gather in S[m][j], each
// term (U(t, m) U(t, j)) d(t) in the order of t, from zero.
template <int n>
bool RootFreeFactor(double* a)
{
    if (PackedAt<n>(a, 0, 0) < 0.0)
        return false;
    double S[n][n];
    for (int m = 0; m < n; ++m)
        for (int j = 0; j < n; ++j)
            S[m][j] = 0.0;
    for (int t = 0; t < n; ++t) {
        const double d = PackedAt<n>(a, t, t) - S[t][t];
        PackedAt<n>(a, t, t) = d;
        if (std::fabs(d) < 1e-100)
            return false;
        const double inv = 1.0 / d;
        for (int j = t + 1; j < n; ++j)
            PackedAt<n>(a, t, j) = (PackedAt<n>(a, t, j) - S[t][j]) * inv;
        for (int m = t + 1; m < n; ++m)
            for (int j = t + 1; j < n; ++j)
                S[m][j] += (PackedAt<n>(a, t, m) * PackedAt<n>(a, t, j)) * d;
    }
    return true;
}

} // namespace

bool InvertPointNormals(const double augmented[kPointSystemSize], double inverse[6])
{
    double scale[3];
    for (int i = 0; i < 3; ++i) {
        const double d = PointAt(const_cast<double*>(augmented), i, i);
        if (!(d > 0.0) || !std::isfinite(d))
            return false;
        scale[i] = 1.0 / std::sqrt(d);
    }
    double w[6];
    for (int i = 0; i < 3; ++i)
        for (int j = i; j < 3; ++j)
            PackedAt<3>(w, i, j) = PointAt(const_cast<double*>(augmented), i, j) * scale[i] * scale[j];
    // CMatrix::InvertSymmetric on the factor: column c of the inverse from
    // U'D z = e(c), then U x = z, all three columns side by side.
    if (!RootFreeFactor<3>(w))
        return false;
    for (int i = 0; i < 3; ++i)
        if (std::fabs(PackedAt<3>(w, i, i)) < 1e-100)
            return false;
    double Z[3][3] = {};
    for (int m = 0; m < 3; ++m) {
        const double dm = PackedAt<3>(w, m, m);
        double z[3];
        for (int c = 0; c < 3; ++c) {
            const double e = m == c ? 1.0 : 0.0;
            z[c] = (e - Z[m][c]) / dm;
            Z[m][c] = z[c];
        }
        for (int r = m + 1; r < 3; ++r) {
            const double t = PackedAt<3>(w, m, r) * dm;
            for (int c = 0; c < 3; ++c)
                Z[r][c] += t * z[c];
        }
    }
    for (int i = 2; i >= 0; --i) {
        double s[3] = {};
        for (int r = i + 1; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                s[c] += PackedAt<3>(w, i, r) * Z[r][c];
        for (int c = 0; c < 3; ++c)
            Z[i][c] -= s[c];
    }
    for (int i = 0; i < 3; ++i)
        for (int j = i; j < 3; ++j) {
            const double value = Z[i][j] * scale[i] * scale[j];
            if (!std::isfinite(value))
                return false;
            PackedAt<3>(inverse, i, j) = value;
        }
    return true;
}

bool SolvePointNormalsRootFree(double augmented[kPointSystemSize], double x[3])
{
    if (!RootFreeFactor<4>(augmented))
        return false;
    for (int i = 2; i >= 0; --i) {
        double s = 0.0;
        for (int j = i + 1; j < 3; ++j)
            s += PointAt(augmented, i, j) * x[j];
        x[i] = PointAt(augmented, i, 3) - s;
    }
    return true;
}
