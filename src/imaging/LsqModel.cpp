#include "LsqModel.h"

#include <cmath>

CLsqModel::CLsqModel() = default;

CLsqModel::~CLsqModel() = default;

void CLsqModel::Setup()
{
    unknownCount = GetUnknownCount();
    observationCount = GetObservationCount();
    constraintCount = GetConstraintCount();
    redundancy = observationCount - unknownCount + constraintCount;
    const int order = unknownCount + constraintCount;
    normals.Resize(order + 1, -1);
    rhs.Resize(unknownCount);
    corrections.Resize(order);
    savedCorrections.Resize(order);
}

void CLsqModel::GetSigma(int, double&) {}

void CLsqModel::GetWeightMatrix(int, CMatrix&) {}

void CLsqModel::GetConstraintRows(int, CMatrix&) {}

void CLsqModel::BeginIteration() {}

void CLsqModel::EndIteration() {}

bool CLsqModel::HasConverged(double q)
{
    return q < tolerance;
}

bool CLsqModel::HasDiverged(double q)
{
    return q > divergenceLimit;
}

void CLsqModel::GroupWeights(int i, int m, CMatrix& P)
{
    if (fullWeights) {
        GetWeightMatrix(i, P);
        return;
    }
    double sigma = 1.0;
    GetSigma(i, sigma);
    P.Resize(m, m);
    P.Zero();
    for (int k = 0; k < m; ++k)
        P.SetAt(1.0 / (sigma * sigma), k, k);
}

bool CLsqModel::BuildNormalEquations()
{
    const int u = unknownCount;
    const int order = u + constraintCount;
    normals.Zero();
    rhs.Zero();
    double omega = 0.0;
    CMatrix A, P;
    CVector l;
    for (int i = 0; i < observationCount;) {
        GetDesignRows(i, A);
        const int m = A.GetRows();
        if (m <= 0 || A.GetCols() != u)
            return false;
        GroupWeights(i, m, P);
        GetMisclosures(i, l);
        if (P.GetRows() != m || l.GetSize() != m)
            return false;
        // PA and Pl, then N += A'PA, n += A'Pl, omega += l'Pl.
        CMatrix PA(m, u);
        CVector Pl(m);
        for (int r = 0; r < m; ++r) {
            double s = 0.0;
            for (int k = 0; k < m; ++k)
                s += P.GetAt(r, k) * l[k];
            Pl[r] = s;
            for (int c = 0; c < u; ++c) {
                double t = 0.0;
                for (int k = 0; k < m; ++k)
                    t += P.GetAt(r, k) * A.GetAt(k, c);
                PA.SetAt(t, r, c);
            }
        }
        for (int a = 0; a < u; ++a) {
            for (int b = a; b < u; ++b) {
                double t = 0.0;
                for (int r = 0; r < m; ++r)
                    t += A.GetAt(r, a) * PA.GetAt(r, b);
                *normals.GetElementPtr(a, b) += t;
            }
            double t = 0.0;
            for (int r = 0; r < m; ++r)
                t += A.GetAt(r, a) * Pl[r];
            rhs[a] += t;
        }
        for (int r = 0; r < m; ++r)
            omega += l[r] * Pl[r];
        i += m;
    }
    // A model whose observations leave a direction free (a normal's length)
    // has a singular N, which the factorisation meets before the constraint
    // rows. Adding w B'B changes neither the solution nor the covariance,
    // since B x = 0, but makes N regular.
    double w = 0.0;
    for (int a = 0; a < u; ++a)
        w += std::fabs(normals.GetAt(a, a));
    w = u > 0 ? w / u : 0.0;
    if (!(w > 0.0) || !std::isfinite(w))
        w = 1.0;
    CMatrix B;
    for (int j = 0; j < constraintCount;) {
        GetConstraintRows(j, B);
        const int k = B.GetRows();
        if (k <= 0 || B.GetCols() != u || j + k > constraintCount)
            return false;
        for (int r = 0; r < k; ++r) {
            for (int c = 0; c < u; ++c) {
                normals.SetAt(B.GetAt(r, c), u + j + r, c);
                for (int d = c; d < u; ++d)
                    *normals.GetElementPtr(c, d) += w * B.GetAt(r, c) * B.GetAt(r, d);
            }
        }
        j += k;
    }
    for (int a = 0; a < u; ++a)
        normals.SetAt(rhs[a], a, order);
    normals.SetAt(omega, order, order);
    return true;
}

// The last diagonal element of the augmented matrix is no pivot that the
// solution divides by: an exact fit (omega = 0) must not count as singular.
bool CLsqModel::Factorise()
{
    const int last = normals.GetRows() - 1;
    CMatrix copy(normals);
    if (normals.LdltDecompose())
        return true;
    normals = copy;
    *normals.GetElementPtr(last, last) += 1.0;
    if (!normals.LdltDecompose())
        return false;
    *normals.GetElementPtr(last, last) -= 1.0;
    return true;
}

double CLsqModel::SumWeightedSquares(const CVector& v, int first, int last)
{
    if (last == -1)
        last = observationCount - 1;
    double sum = 0.0;
    CMatrix P;
    for (int i = first; i <= last;) {
        const int m = fullWeights ? (GetWeightMatrix(i, P), P.GetRows()) : 1;
        if (m <= 0 || i + m > v.GetSize())
            break;
        GroupWeights(i, m, P);
        for (int r = 0; r < m; ++r)
            for (int k = 0; k < m; ++k)
                sum += v[i + r] * P.GetAt(r, k) * v[i + k];
        i += m;
    }
    return sum;
}

void CLsqModel::ComputeResiduals(CVector& v)
{
    v.Resize(observationCount);
    CMatrix A;
    CVector l;
    for (int i = 0; i < observationCount;) {
        GetDesignRows(i, A);
        GetMisclosures(i, l);
        const int m = l.GetSize();
        if (m <= 0)
            break;
        for (int r = 0; r < m && i + r < observationCount; ++r)
            v[i + r] = -l[r];
        i += m;
    }
}

bool CLsqModel::Solve()
{
    iteration = 0;
    converged = false;
    covarianceReady = false;
    if (!initialised) {
        Setup();
        // Nothing to solve without redundancy.
        if (redundancy <= 0 || unknownCount <= 0)
            return false;
        if (!ComputeApproximations())
            return false;
        initialised = true;
    }
    if (redundancy <= 0)
        return false;

    const int u = unknownCount;
    correctionNorm = -1.0;
    previousCorrectionNorm = -1.0;
    iteration = 1;
    BeginIteration();
    if (!BuildNormalEquations())
        return false;
    normalsFresh = true;
    if (!Factorise())
        return false;

    double s = 0.0;
    for (;;) {
        if (!normals.SolveAugmentedUnit(corrections))
            break;
        normalsFresh = false;
        // For a model without constraints this pivot is v'Pv of the
        // linearised problem, which rounding may leave just below zero.
        const double du = normals.GetAt(u, u);
        s = std::sqrt((du > 0.0 ? du : 0.0) / redundancy);
        double q = 0.0;
        for (int k = 0; k < u; ++k)
            q += corrections[k] * corrections[k];
        correctionNorm = q;
        ApplyCorrections();
        EndIteration();
        if (!std::isfinite(q))
            break;
        if (HasDiverged(q))
            break;
        if (HasConverged(q)) {
            converged = true;
            break;
        }
        if (iteration == maxIterations)
            break;
        previousCorrectionNorm = q;
        ++iteration;
        BeginIteration();
        if (!BuildNormalEquations())
            break;
        normalsFresh = true;
        if (!Factorise())
            break;
    }
    if (!converged)
        return false;
    if (!HasFiniteParameters()) {
        converged = false;
        return false;
    }

    double sigma = s;
    if (constraintCount >= 1) {
        // v'Pv of the residuals at the final parameters.
        CVector v;
        ComputeResiduals(v);
        const double omega = SumWeightedSquares(v, 0, -1);
        sigma = std::sqrt(omega / redundancy);
    }
    if (!std::isfinite(sigma)) {
        converged = false;
        return false;
    }
    sigma0 = sigma;

    if (wantCovariance) {
        // The whole augmented matrix; an exact fit leaves its last pivot at
        // zero, and then the bordered system alone is inverted.
        if (normals.InvertSymmetric(true) || normals.InvertAugmentedFactor()) {
            normals.Scale(sigma0 * sigma0);
            covarianceReady = true;
        }
        OnCovariance();
    }
    return true;
}
