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
