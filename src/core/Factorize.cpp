// In-place factorisations of packed symmetric matrices, their solvers and
// inverses. The packed form is addressed row by row: R[i][j - i] is element
// (i, j) for j >= i.
//
// The large loops work on blocks of kLanes rows (or columns) at a time, with
// the partial sums of the block interleaved in a small buffer, so that each
// stored row is streamed once per block instead of once per row. Every sum
// still runs over its terms in the order of the textbook recurrences, term
// by term, so blocking changes no result.
#include "Matrix.h"
#include "MatrixAccess.h"
#include "Vector.h"

#include <cmath>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr double kPivotLimit = 1e-100;
constexpr double kDeterminantLimit = 1e-16;
constexpr double kParallelLimit = 1e-6;
constexpr int kLanes = 8;

// The kernels below are built for the baseline and for AVX2 (without FMA, so
// every product and sum is rounded exactly as in the baseline build).
#if defined(__GNUC__) && defined(__x86_64__) && !defined(__SANITIZE_ADDRESS__)
#define KESTRELON_KERNEL __attribute__((target_clones("avx2", "default"), noinline))
#else
#define KESTRELON_KERNEL
#endif

// s[j * kLanes + l] += r[j] * c[l] for 0 <= j < n.
KESTRELON_KERNEL void LaneUpdate(double* __restrict s, const double* __restrict r, const double* __restrict c, int n)
{
    double cl[kLanes];
    for (int l = 0; l < kLanes; ++l)
        cl[l] = c[l];
    for (int j = 0; j < n; ++j) {
        const double rj = r[j];
        double* sj = s + static_cast<size_t>(j) * kLanes;
        for (int l = 0; l < kLanes; ++l)
            sj[l] += rj * cl[l];
    }
}

// s[j * kLanes + l] += (c[l] * r[j]) * d for 0 <= j < n.
KESTRELON_KERNEL void LaneUpdateScaled(double* __restrict s, const double* __restrict r, const double* __restrict c,
                             double d, int n)
{
    double cl[kLanes];
    for (int l = 0; l < kLanes; ++l)
        cl[l] = c[l];
    for (int j = 0; j < n; ++j) {
        const double rj = r[j];
        double* sj = s + static_cast<size_t>(j) * kLanes;
        for (int l = 0; l < kLanes; ++l)
            sj[l] += (cl[l] * rj) * d;
    }
}

// s[j * kLanes + l] += (r[j] * d) * z[l] for 0 <= j < n.
KESTRELON_KERNEL void LaneUpdatePrescaled(double* __restrict s, const double* __restrict r, double d,
                                          const double* __restrict z, int n)
{
    double zl[kLanes];
    for (int l = 0; l < kLanes; ++l)
        zl[l] = z[l];
    for (int j = 0; j < n; ++j) {
        const double t = r[j] * d;
        double* sj = s + static_cast<size_t>(j) * kLanes;
        for (int l = 0; l < kLanes; ++l)
            sj[l] += t * zl[l];
    }
}

// acc[l] += r[j] * x[j * kLanes + l], j = 0 .. n-1 in order.
KESTRELON_KERNEL void LaneDot(double* __restrict acc, const double* __restrict r, const double* __restrict x,
                              int n)
{
    double s[kLanes];
    for (int l = 0; l < kLanes; ++l)
        s[l] = acc[l];
    for (int j = 0; j < n; ++j) {
        const double rj = r[j];
        const double* xj = x + static_cast<size_t>(j) * kLanes;
        for (int l = 0; l < kLanes; ++l)
            s[l] += rj * xj[l];
    }
    for (int l = 0; l < kLanes; ++l)
        acc[l] = s[l];
}

// Scratch of n lanes rows, zero-filled; empty when the allocation fails.
bool LaneBuffer(std::vector<double>& buf, int n)
{
    try {
        buf.assign(static_cast<size_t>(n) * kLanes, 0.0);
    } catch (...) {
        buf.clear();
        return false;
    }
    return true;
}

} // namespace

// ---------------------------------------------------------------------------
// Cholesky form: A = U'U.

bool CMatrix::CholeskyDecompose()
{
    if (!IsSymmetric())
        return false;
    const int n = m_rows;
    if (n == 0)
        return true;
    double** R = m_rowData;
    std::vector<double> buf;
    if (!LaneBuffer(buf, n))
        return false;
    double c0[kLanes];

    for (int i0 = 0; i0 < n; i0 += kLanes) {
        const int nb = n - i0 < kLanes ? n - i0 : kLanes;
        const int len = n - i0;
        double* S = buf.data();
        std::memset(S, 0, static_cast<size_t>(len) * kLanes * sizeof(double));
        // S(j, l) = sum over k < i0 of U(k, i0 + l) U(k, j), for j >= i0.
        for (int k = 0; k < i0; ++k) {
            const double* r0 = R[k] + (i0 - k);
            for (int l = 0; l < kLanes; ++l)
                c0[l] = l < nb ? r0[l] : 0.0;
            LaneUpdate(S, r0, c0, len);
        }
        // The rows of the block in order, each adding its terms to the later ones.
        for (int l = 0; l < nb; ++l) {
            const int i = i0 + l;
            double* Ui = R[i];
            const double* Si = S + static_cast<size_t>(l) * kLanes + l;
            const double d = Ui[0] - Si[0];
            if (d < 0.0)
                return false;
            Ui[0] = std::sqrt(d);
            if (i == n - 1)
                break;   // the last row has no pivot test
            if (std::fabs(Ui[0]) < kPivotLimit)
                return false;
            const double piv = Ui[0];
            for (int j = 1; j < n - i; ++j)
                Ui[j] = (Ui[j] - Si[static_cast<size_t>(j) * kLanes]) / piv;
            if (l + 1 < nb) {
                for (int m = 0; m < kLanes; ++m)
                    c0[m] = m > l && m < nb ? Ui[m - l] : 0.0;
                LaneUpdate(S + static_cast<size_t>(l + 1) * kLanes, Ui + 1, c0, n - i - 1);
            }
        }
    }
    // Determinant of the leading n - 1 rows.
    double p = 1.0;
    for (int k = 0; k + 1 < n; ++k)
        p *= R[k][0] * R[k][0];
    return p > kDeterminantLimit;
}

bool CMatrix::SolveAugmentedCholesky(CVector& x) const
{
    if (!IsSymmetric() || m_rows < 2)
        return false;
    const int u = m_rows - 1;
    if (x.GetSize() < u && !x.Resize(u))
        return false;
    double* xv = x.GetData();
    double* const* R = m_rowData;
    for (int i = u - 1; i >= 0; --i) {
        const double* Ui = R[i];
        double s = 0.0;
        for (int j = i + 1; j < u; ++j)
            s += Ui[j - i] * xv[j];
        xv[i] = (Ui[u - i] - s) / Ui[0];
    }
    return true;
}

// ---------------------------------------------------------------------------
// Root-free form: A = U'DU with a unit upper U, D on the diagonal.

bool CMatrix::LdltDecompose()
{
    if (!IsSymmetric())
        return false;
    const int n = m_rows;
    if (n == 0)
        return true;
    double** R = m_rowData;
    // A negative leading element fails at once, as it does for Cholesky;
    // later pivots only need a magnitude of at least the limit.
    if (R[0][0] < 0.0)
        return false;
    std::vector<double> buf;
    if (!LaneBuffer(buf, n))
        return false;
    double c[kLanes];

    for (int i0 = 0; i0 < n; i0 += kLanes) {
        const int nb = n - i0 < kLanes ? n - i0 : kLanes;
        const int len = n - i0;
        double* S = buf.data();
        std::memset(S, 0, static_cast<size_t>(len) * kLanes * sizeof(double));
        // S(j, l) = sum over k < i0 of U(k, i0 + l) U(k, j) d(k), for j >= i0.
        for (int k = 0; k < i0; ++k) {
            const double* r = R[k] + (i0 - k);
            for (int l = 0; l < kLanes; ++l)
                c[l] = l < nb ? r[l] : 0.0;
            LaneUpdateScaled(S, r, c, R[k][0], len);
        }
        for (int l = 0; l < nb; ++l) {
            const int i = i0 + l;
            double* Ui = R[i];
            const double* Si = S + static_cast<size_t>(l) * kLanes + l;
            const double d = Ui[0] - Si[0];
            Ui[0] = d;
            if (std::fabs(d) < kPivotLimit)
                return false;
            const double inv = 1.0 / d;
            for (int j = 1; j < n - i; ++j)
                Ui[j] = (Ui[j] - Si[static_cast<size_t>(j) * kLanes]) * inv;
            if (l + 1 < nb) {
                for (int m = 0; m < kLanes; ++m)
                    c[m] = m > l && m < nb ? Ui[m - l] : 0.0;
                LaneUpdateScaled(S + static_cast<size_t>(l + 1) * kLanes, Ui + 1, c, d, n - i - 1);
            }
        }
    }
    return true;
}

bool CMatrix::SolveAugmentedUnit(CVector& x) const
{
    if (!IsSymmetric() || m_rows < 2)
        return false;
    const int u = m_rows - 1;
    if (x.GetSize() < u && !x.Resize(u))
        return false;
    double* xv = x.GetData();
    double* const* R = m_rowData;
    for (int i = u - 1; i >= 0; --i) {
        const double* Ui = R[i];
        double s = 0.0;
        for (int j = i + 1; j < u; ++j)
            s += Ui[j - i] * xv[j];
        xv[i] = Ui[u - i] - s;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Inverses

bool CMatrix::InvertSymmetric(bool alreadyFactored)
{
    if (!IsSymmetric())
        return false;
    if (!alreadyFactored && !LdltDecompose())
        return false;
    const int n = m_rows;
    if (n == 0)
        return true;
    double** R = m_rowData;
    // The forward substitution of the first column divides by every pivot.
    for (int i = 0; i < n; ++i)
        if (std::fabs(R[i][0]) < kPivotLimit)
            return false;

    // The factor is kept in a working copy while the inverse replaces it here.
    CMatrix work(*this);
    if (work.m_rows != n)
        return false;
    double* const* W = work.m_rowData;
    std::vector<double> buf;
    if (!LaneBuffer(buf, n))
        return false;
    double* Z = buf.data();
    double z[kLanes];

    for (int k0 = 0; k0 < n; k0 += kLanes) {
        const int nb = n - k0 < kLanes ? n - k0 : kLanes;
        std::memset(Z, 0, buf.size() * sizeof(double));
        // Forward substitution U'D z = e(k) for the columns k0 .. k0 + nb - 1
        // (lane l is column k0 + l); z(i) = 0 above the block.
        for (int m = k0; m < n; ++m) {
            double* Zm = Z + static_cast<size_t>(m) * kLanes;
            const double dm = W[m][0];
            for (int l = 0; l < kLanes; ++l) {
                const double e = (l < nb && m == k0 + l) ? 1.0 : 0.0;
                z[l] = (e - Zm[l]) / dm;
                Zm[l] = z[l];
            }
            // acc(i) += (U(m, i) d(m)) z(m) for i > m.
            LaneUpdatePrescaled(Zm + kLanes, W[m] + 1, dm, z, n - m - 1);
        }
        // Back substitution U x = z; x replaces z row by row from the bottom.
        for (int i = n - 1; i >= 0; --i) {
            double s[kLanes] = {};
            LaneDot(s, W[i] + 1, Z + static_cast<size_t>(i + 1) * kLanes, n - i - 1);
            double* xi = Z + static_cast<size_t>(i) * kLanes;
            for (int l = 0; l < kLanes; ++l)
                xi[l] -= s[l];
        }
        // Column c of the inverse: its elements (0, c) .. (c, c).
        for (int l = 0; l < nb; ++l) {
            const int c = k0 + l;
            for (int i = 0; i <= c; ++i)
                R[i][c - i] = Z[static_cast<size_t>(i) * kLanes + l];
        }
    }
    return true;
}

bool CMatrix::InvertUpperFactor()
{
    if (!IsSymmetric() || m_rows < 1)
        return false;
    const int u = m_rows - 1;
    double** R = m_rowData;
    for (int i = 0; i < u; ++i) {
        if (std::fabs(R[i][0]) < kPivotLimit)
            return false;
        R[i][0] = 1.0 / R[i][0];
    }
    std::vector<double> buf;
    if (!LaneBuffer(buf, u))
        return false;
    double x[kLanes];
    for (int i0 = 0; i0 < u; i0 += kLanes) {
        const int nb = u - i0 < kLanes ? u - i0 : kLanes;
        double* S = buf.data();
        std::memset(S, 0, buf.size() * sizeof(double));
        // Lane l is row i = i0 + l of X = U^-1: S(j, l) collects the sum over
        // k = i + 1 .. j - 1 of X(i, k) U(k, j); once k reaches j it is
        // replaced by X(i, j) = -U(i, j) - S(j, l).
        for (int k = i0 + 1; k < u; ++k) {
            double* Sk = S + static_cast<size_t>(k - i0) * kLanes;
            for (int l = 0; l < kLanes; ++l) {
                const int i = i0 + l;
                if (l < nb && i < k) {
                    x[l] = -R[i][k - i] - Sk[l];
                    Sk[l] = x[l];
                } else {
                    x[l] = 0.0;
                }
            }
            LaneUpdate(Sk + kLanes, R[k] + 1, x, u - k - 1);
        }
        for (int l = 0; l < nb; ++l) {
            const int i = i0 + l;
            for (int j = i + 1; j < u; ++j)
                R[i][j - i] = S[static_cast<size_t>(j - i0) * kLanes + l];
        }
    }
    return true;
}

bool CMatrix::MultiplyFactorInverse()
{
    if (!IsSymmetric() || m_rows < 1)
        return false;
    const int u = m_rows - 1;
    double** R = m_rowData;
    std::vector<double> wbuf, qbuf;
    if (!LaneBuffer(wbuf, u) || !LaneBuffer(qbuf, u))
        return false;
    for (int i0 = 0; i0 < u; i0 += kLanes) {
        const int nb = u - i0 < kLanes ? u - i0 : kLanes;
        double* Wt = wbuf.data();
        double* Q = qbuf.data();
        // W(k, l) = X(i, k) / d(k) for k >= i (X(i, i) = 1), lane l being row i = i0 + l.
        for (int k = i0; k < u; ++k) {
            double* Wk = Wt + static_cast<size_t>(k - i0) * kLanes;
            const double dinv = R[k][0];
            for (int l = 0; l < kLanes; ++l) {
                const int i = i0 + l;
                if (l >= nb || k < i)
                    Wk[l] = 0.0;
                else
                    Wk[l] = (k == i ? 1.0 : R[i][k - i]) * dinv;
            }
        }
        // Q(i, j) = sum over k >= j of W(k, l) X(j, k), for j >= i.
        for (int j = i0; j < u; ++j) {
            const double* Xj = R[j];
            const double* Wj = Wt + static_cast<size_t>(j - i0) * kLanes;
            double s[kLanes];
            for (int l = 0; l < kLanes; ++l)
                s[l] = Wj[l];
            LaneDot(s, Xj + 1, Wj + kLanes, u - j - 1);
            double* Qj = Q + static_cast<size_t>(j - i0) * kLanes;
            for (int l = 0; l < kLanes; ++l)
                Qj[l] = s[l];
        }
        for (int l = 0; l < nb; ++l) {
            const int i = i0 + l;
            for (int j = i; j < u; ++j)
                R[i][j - i] = Q[static_cast<size_t>(j - i0) * kLanes + l];
        }
    }
    return true;
}

bool CMatrix::InvertAugmentedFactor()
{
    if (!InvertUpperFactor())
        return false;
    return MultiplyFactorInverse();
}

bool CMatrix::Invert3x3()
{
    if (m_rows != 3 || (m_cols != 3 && m_cols != -1))
        return false;
    double a[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            a[i][j] = GetAt(i, j);
    const double c00 = a[1][1] * a[2][2] - a[1][2] * a[2][1];
    const double c01 = -(a[1][0] * a[2][2] - a[1][2] * a[2][0]);
    const double c02 = a[1][0] * a[2][1] - a[1][1] * a[2][0];
    const double det = a[0][0] * c00 + a[0][1] * c01 + a[0][2] * c02;
    if (std::fabs(det) < kPivotLimit)
        return false;
    double c[3][3];
    c[0][0] = c00;
    c[0][1] = c01;
    c[0][2] = c02;
    c[1][0] = -(a[0][1] * a[2][2] - a[0][2] * a[2][1]);
    c[1][1] = a[0][0] * a[2][2] - a[0][2] * a[2][0];
    c[1][2] = -(a[0][0] * a[2][1] - a[0][1] * a[2][0]);
    c[2][0] = a[0][1] * a[1][2] - a[0][2] * a[1][1];
    c[2][1] = -(a[0][0] * a[1][2] - a[0][2] * a[1][0]);
    c[2][2] = a[0][0] * a[1][1] - a[0][1] * a[1][0];
    // inverse(i, j) = cofactor(j, i) / det
    for (int i = 0; i < 3; ++i)
        for (int j = IsSymmetric() ? i : 0; j < 3; ++j)
            SetAt(c[j][i] / det, i, j);
    return true;
}

bool CMatrix::SetRotationFromTo(CVector a, CVector b)
{
    if (a.GetSize() != 3 || b.GetSize() != 3)
        return false;
    if (!Resize(3, 3))
        return false;
    a.Normalize();
    b.Normalize();
    CVector c;
    c.SetCross(a, b);
    const double sinAngle = c.Norm();
    if (sinAngle < kParallelLimit) {
        SetDiagonal(1.0);
        return true;
    }
    const double angle = std::atan2(sinAngle, a.Dot(b));
    c.Normalize();
    CVector d;
    d.SetCross(c, a);
    const double cs = std::cos(angle), sn = std::sin(angle);
    const double F[3][3] = {{a[0], d[0], c[0]}, {a[1], d[1], c[1]}, {a[2], d[2], c[2]}};
    const double Rz[3][3] = {{cs, -sn, 0.0}, {sn, cs, 0.0}, {0.0, 0.0, 1.0}};
    double FR[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            FR[i][j] = F[i][0] * Rz[0][j] + F[i][1] * Rz[1][j] + F[i][2] * Rz[2][j];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            m_rowData[i][j] = FR[i][0] * F[j][0] + FR[i][1] * F[j][1] + FR[i][2] * F[j][2];
    return true;
}
