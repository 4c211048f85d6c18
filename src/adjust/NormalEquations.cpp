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
