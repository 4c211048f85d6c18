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

#include <atomic>
#include <cfenv>
#include <cmath>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

// GCC's -O3 runs these loops several times slower than -O2 (its unrolling
// and vectorisation of the lane loops defeat the blocking): whatever the
// build type, the kernels are optimised as at -O2.
#if defined(__GNUC__) && !defined(__clang__) && defined(__OPTIMIZE__)
#pragma GCC optimize("O2")
#endif

namespace {

constexpr double kPivotLimit = 1e-100;
constexpr double kDeterminantLimit = 1e-16;
constexpr double kParallelLimit = 1e-6;
constexpr int kLanes = 8;
constexpr int kGroups = 8;
constexpr int kBlockRows = kLanes * kGroups;
constexpr int kChunk = 512;

// The kernels below are built for the baseline and for AVX2 (without FMA, so
// every product and sum is rounded exactly as in the baseline build).
// Sanitizer builds take the baseline only: their instrumented resolvers would
// run before the sanitizer's runtime is ready (ThreadSanitizer crashes there).
#if defined(__GNUC__) && defined(__x86_64__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define KESTRELON_KERNEL __attribute__((target_clones("avx2", "default"), noinline))
#else
#define KESTRELON_KERNEL
#endif

// Runs task(t, worker) for t = 0 .. tasks - 1 on up to `workers` threads
// (the caller is worker 0); the floating-point flags the other threads
// raise are raised on the caller.
template <class Task>
void ForEachTask(int workers, int tasks, Task&& task)
{
    if (workers > tasks)
        workers = tasks;
    if (workers <= 1) {
        for (int t = 0; t < tasks; ++t)
            task(t, 0);
        return;
    }
    std::atomic<int> next{0};
    std::vector<int> flags(static_cast<size_t>(workers), 0);
    constexpr int kFlags = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW;
    std::vector<std::thread> threads;
    for (int w = 1; w < workers; ++w) {
        try {
            threads.emplace_back([&, w] {
                std::feclearexcept(kFlags);
                for (int t = next.fetch_add(1); t < tasks; t = next.fetch_add(1))
                    task(t, w);
                flags[static_cast<size_t>(w)] = std::fetestexcept(kFlags);
            });
        } catch (const std::system_error&) {
            break;
        }
    }
    for (int t = next.fetch_add(1); t < tasks; t = next.fetch_add(1))
        task(t, 0);
    for (std::thread& th : threads)
        th.join();
    int raised = 0;
    for (int f : flags)
        raised |= f;
    if (raised)
        std::feraiseexcept(raised);
}

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

// Two rows in turn, s = (s + r0[j] c0[l]) + r1[j] c1[l], or with the
// scaled terms (c0[l] r0[j]) d0 and (c1[l] r1[j]) d1 when scaled.
template <bool kScaled>
KESTRELON_KERNEL void LaneUpdatePair(double* __restrict s, const double* __restrict r0,
                                     const double* __restrict c0, double d0, const double* __restrict r1,
                                     const double* __restrict c1, double d1, int n)
{
    double a[kLanes], b[kLanes];
    for (int l = 0; l < kLanes; ++l) {
        a[l] = c0[l];
        b[l] = c1[l];
    }
    for (int j = 0; j < n; ++j) {
        const double x = r0[j];
        const double y = r1[j];
        double* sj = s + static_cast<size_t>(j) * kLanes;
        for (int l = 0; l < kLanes; ++l) {
            if (kScaled)
                sj[l] = (sj[l] + (a[l] * x) * d0) + (b[l] * y) * d1;
            else
                sj[l] = (sj[l] + x * a[l]) + y * b[l];
        }
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

// Both factorisations, left-looking, kBlockRows rows at a time. Row i of
// the factor needs, for every j >= i, the sum over k < i of
//   U(k, i) U(k, j)            (Cholesky: A = U'U), or
//   (U(k, i) U(k, j)) d(k)     (root-free: A = U'DU);
// the sums of a block of rows are collected in lane buffers (one group of
// kLanes rows each), first from all rows above the block, streamed once per
// block in chunks of columns, then row by row inside the block.
template <bool kRootFree>
bool FactorRows(double** R, int n, int workers)
{
    std::vector<double> buf;
    try {
        buf.resize(static_cast<size_t>(kGroups) * static_cast<size_t>(n) * kLanes);
    } catch (...) {
        return false;
    }
    double c[kLanes];
    for (int i0 = 0; i0 < n; i0 += kBlockRows) {
        const int nb = n - i0 < kBlockRows ? n - i0 : kBlockRows;
        const int ng = (nb + kLanes - 1) / kLanes;
        const int len = n - i0;
        const size_t groupSize = static_cast<size_t>(len) * kLanes;
        double* S = buf.data();
        std::memset(S, 0, static_cast<size_t>(ng) * groupSize * sizeof(double));
        // Group g, lane l holds the sums of row i0 + kLanes g + l at column
        // j in S[g * groupSize + (j - i0) * kLanes + l].
        // Chunks of columns are independent: with several workers they are
        // made smaller, so that each has some.
        int chunk = kChunk;
        if (workers > 1 && i0 > 0) {
            const int share = (len / (2 * workers) + 63) / 64 * 64;
            chunk = share < 64 ? 64 : (share < kChunk ? share : kChunk);
        }
        const int chunks = i0 > 0 ? (len + chunk - 1) / chunk : 0;
        ForEachTask(workers, chunks, [&](int task, int) {
            const int jc = task * chunk;
            const int cl = len - jc < chunk ? len - jc : chunk;
            double c[kLanes], c1[kLanes];
            int k = 0;
            for (; k + 1 < i0; k += 2) {
                const double* r = R[k] + (i0 - k);           // r[t] = U(k, i0 + t)
                const double* r1 = R[k + 1] + (i0 - k - 1);  // r1[t] = U(k + 1, i0 + t)
                for (int g = 0; g < ng; ++g) {
                    for (int l = 0; l < kLanes; ++l) {
                        const int t = g * kLanes + l;
                        c[l] = t < nb ? r[t] : 0.0;
                        c1[l] = t < nb ? r1[t] : 0.0;
                    }
                    double* Sg = S + g * groupSize + static_cast<size_t>(jc) * kLanes;
                    LaneUpdatePair<kRootFree>(Sg, r + jc, c, R[k][0], r1 + jc, c1, R[k + 1][0], cl);
                }
            }
            for (; k < i0; ++k) {
                const double* r = R[k] + (i0 - k);   // r[t] = U(k, i0 + t)
                for (int g = 0; g < ng; ++g) {
                    for (int l = 0; l < kLanes; ++l) {
                        const int t = g * kLanes + l;
                        c[l] = t < nb ? r[t] : 0.0;
                    }
                    double* Sg = S + g * groupSize + static_cast<size_t>(jc) * kLanes;
                    if (kRootFree)
                        LaneUpdateScaled(Sg, r + jc, c, R[k][0], cl);
                    else
                        LaneUpdate(Sg, r + jc, c, cl);
                }
            }
        });
        for (int t = 0; t < nb; ++t) {
            const int i = i0 + t;
            const int g = t / kLanes, l = t % kLanes;
            double* Ui = R[i];
            const double* Si = S + g * groupSize + static_cast<size_t>(t) * kLanes + l;
            const double d = Ui[0] - Si[0];
            if (kRootFree) {
                Ui[0] = d;
                if (std::fabs(d) < kPivotLimit)
                    return false;
                const double inv = 1.0 / d;
                for (int j = 1; j < n - i; ++j)
                    Ui[j] = (Ui[j] - Si[static_cast<size_t>(j) * kLanes]) * inv;
            } else {
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
            }
            // Row i's terms for the later rows of the block.
            for (int g2 = g; g2 < ng; ++g2) {
                bool any = false;
                for (int m = 0; m < kLanes; ++m) {
                    const int t2 = g2 * kLanes + m;
                    const bool later = t2 > t && t2 < nb;
                    c[m] = later ? Ui[t2 - t] : 0.0;
                    any = any || later;
                }
                if (!any)
                    continue;
                double* Sg = S + g2 * groupSize + static_cast<size_t>(t + 1) * kLanes;
                if (kRootFree)
                    LaneUpdateScaled(Sg, Ui + 1, c, Ui[0], n - i - 1);
                else
                    LaneUpdate(Sg, Ui + 1, c, n - i - 1);
            }
        }
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
    if (!FactorRows<false>(R, n, 1))
        return false;
    // Determinant of the leading n - 1 rows.
    double p = 1.0;
    for (int k = 0; k + 1 < n; ++k)
        p *= R[k][0] * R[k][0];
    return p > kDeterminantLimit;
}

bool CMatrix::SolveAugmentedCholesky(CVector& x) const
{
    return SolveAugmented(x, false);
}

// ---------------------------------------------------------------------------
// Root-free form: A = U'DU with a unit upper U, D on the diagonal.

bool CMatrix::LdltDecompose(int workers)
{
    if (!IsSymmetric())
        return false;
    const int n = m_rows;
    if (n == 0)
        return true;
    // A negative leading element fails at once, as it does for Cholesky;
    // later pivots only need a magnitude of at least the limit.
    if (m_rowData[0][0] < 0.0)
        return false;
    return FactorRows<true>(m_rowData, n, workers);
}

bool CMatrix::SolveAugmentedUnit(CVector& x) const
{
    return SolveAugmented(x, true);
}

// Back substitution over the factored augmented system: the last column
// holds the reduced right-hand side. A unit factor's diagonal holds D and
// is not divided by.
bool CMatrix::SolveAugmented(CVector& x, bool unitDiagonal) const
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
        xv[i] = unitDiagonal ? Ui[u - i] - s : (Ui[u - i] - s) / Ui[0];
    }
    return true;
}

// ---------------------------------------------------------------------------
// Inverses

bool CMatrix::InvertSymmetric(bool alreadyFactored, int workers)
{
    if (!IsSymmetric())
        return false;
    if (!alreadyFactored && !LdltDecompose(workers))
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
    const int blocks = (n + kBlockRows - 1) / kBlockRows;
    if (workers > blocks)
        workers = blocks;
    if (workers < 1)
        workers = 1;
    const size_t groupSize = static_cast<size_t>(n) * kLanes;
    std::vector<std::vector<double>> buffers(static_cast<size_t>(workers));
    try {
        for (std::vector<double>& b : buffers)
            b.resize(static_cast<size_t>(kGroups) * groupSize);
    } catch (...) {
        return false;
    }

    // kBlockRows columns at a time, in groups of kLanes lanes: lane l of
    // group g is column k0 + kLanes g + l, and Z[g * groupSize + i * kLanes + l]
    // its element i.
    // The blocks of columns are independent: each worker has its own buffer.
    ForEachTask(workers, blocks, [&](int block, int worker) {
        const int k0 = block * kBlockRows;
        const int nb = n - k0 < kBlockRows ? n - k0 : kBlockRows;
        const int ng = (nb + kLanes - 1) / kLanes;
        double* Z = buffers[static_cast<size_t>(worker)].data();
        double z[kLanes];
        std::memset(Z, 0, static_cast<size_t>(ng) * groupSize * sizeof(double));
        // Forward substitution U'D z = e(c): z(i) = (e(c)(i) - sum over m < i
        // of (U(m, i) d(m)) z(m)) / d(i). Above its column z is 0, so a group
        // starts at its first column.
        for (int m = k0; m < n; ++m) {
            const double dm = W[m][0];
            for (int g = 0; g < ng; ++g) {
                const int first = k0 + g * kLanes;
                if (m < first)
                    break;
                double* Zm = Z + g * groupSize + static_cast<size_t>(m) * kLanes;
                for (int l = 0; l < kLanes; ++l) {
                    const double e = (g * kLanes + l < nb && m == first + l) ? 1.0 : 0.0;
                    z[l] = (e - Zm[l]) / dm;
                    Zm[l] = z[l];
                }
                LaneUpdatePrescaled(Zm + kLanes, W[m] + 1, dm, z, n - m - 1);
            }
        }
        // Back substitution U x = z; x replaces z row by row from the bottom:
        // x(i) = z(i) - sum over j > i of U(i, j) x(j).
        for (int i = n - 1; i >= 0; --i) {
            for (int g = 0; g < ng; ++g) {
                double* Zg = Z + g * groupSize;
                double s[kLanes] = {};
                LaneDot(s, W[i] + 1, Zg + static_cast<size_t>(i + 1) * kLanes, n - i - 1);
                double* xi = Zg + static_cast<size_t>(i) * kLanes;
                for (int l = 0; l < kLanes; ++l)
                    xi[l] -= s[l];
            }
        }
        // Column c of the inverse: its elements (0, c) .. (c, c).
        for (int t = 0; t < nb; ++t) {
            const int c = k0 + t;
            const double* Zg = Z + (t / kLanes) * groupSize + t % kLanes;
            for (int i = 0; i <= c; ++i)
                R[i][c - i] = Zg[static_cast<size_t>(i) * kLanes];
        }
    });
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
    try {
        buf.resize(static_cast<size_t>(kGroups) * static_cast<size_t>(u) * kLanes);
    } catch (...) {
        return false;
    }
    double x[kLanes];
    for (int i0 = 0; i0 < u; i0 += kBlockRows) {
        const int nb = u - i0 < kBlockRows ? u - i0 : kBlockRows;
        const int ng = (nb + kLanes - 1) / kLanes;
        const size_t groupSize = static_cast<size_t>(u - i0) * kLanes;
        double* S = buf.data();
        std::memset(S, 0, static_cast<size_t>(ng) * groupSize * sizeof(double));
        // Lane l of group g is row i = i0 + kLanes g + l of X = U^-1:
        // S_g(j, l) collects the sum over k = i + 1 .. j - 1 of X(i, k) U(k, j);
        // once k reaches j it is replaced by X(i, j) = -U(i, j) - S_g(j, l).
        // Rows below the block are still U while the block is computed.
        for (int k = i0 + 1; k < u; ++k) {
            for (int g = 0; g < ng; ++g) {
                if (k <= i0 + g * kLanes)
                    break;   // every row of this group and the later ones is at or below k
                double* Sk = S + g * groupSize + static_cast<size_t>(k - i0) * kLanes;
                for (int l = 0; l < kLanes; ++l) {
                    const int t = g * kLanes + l;
                    const int i = i0 + t;
                    if (t < nb && i < k) {
                        x[l] = -R[i][k - i] - Sk[l];
                        Sk[l] = x[l];
                    } else {
                        x[l] = 0.0;
                    }
                }
                LaneUpdate(Sk + kLanes, R[k] + 1, x, u - k - 1);
            }
        }
        for (int t = 0; t < nb; ++t) {
            const int i = i0 + t;
            const double* Sg = S + (t / kLanes) * groupSize + t % kLanes;
            for (int j = i + 1; j < u; ++j)
                R[i][j - i] = Sg[static_cast<size_t>(j - i0) * kLanes];
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
    try {
        wbuf.resize(static_cast<size_t>(kGroups) * static_cast<size_t>(u) * kLanes);
        qbuf.resize(wbuf.size());
    } catch (...) {
        return false;
    }
    for (int i0 = 0; i0 < u; i0 += kBlockRows) {
        const int nb = u - i0 < kBlockRows ? u - i0 : kBlockRows;
        const int ng = (nb + kLanes - 1) / kLanes;
        const size_t groupSize = static_cast<size_t>(u - i0) * kLanes;
        // W_g(k, l) = X(i, k) / d(k) for k >= i (X(i, i) = 1) and 0 above,
        // lane l of group g being row i = i0 + kLanes g + l.
        for (int g = 0; g < ng; ++g)
            for (int k = i0; k < u; ++k) {
                double* Wk = wbuf.data() + g * groupSize + static_cast<size_t>(k - i0) * kLanes;
                const double dinv = R[k][0];
                for (int l = 0; l < kLanes; ++l) {
                    const int t = g * kLanes + l;
                    const int i = i0 + t;
                    if (t >= nb || k < i)
                        Wk[l] = 0.0;
                    else
                        Wk[l] = (k == i ? 1.0 : R[i][k - i]) * dinv;
                }
            }
        // Q(i, j) = sum over k >= j of W_g(k, l) X(j, k), for j >= i; the
        // first term is W_g(j, l) itself (X(j, j) = 1).
        for (int j = i0; j < u; ++j) {
            const double* Xj = R[j];
            for (int g = 0; g < ng; ++g) {
                if (j < i0 + g * kLanes)
                    break;   // no row of this group reaches column j yet
                const double* Wg = wbuf.data() + g * groupSize;
                const double* Wj = Wg + static_cast<size_t>(j - i0) * kLanes;
                double s[kLanes];
                for (int l = 0; l < kLanes; ++l)
                    s[l] = Wj[l];
                LaneDot(s, Xj + 1, Wj + kLanes, u - j - 1);
                double* Qj = qbuf.data() + g * groupSize + static_cast<size_t>(j - i0) * kLanes;
                for (int l = 0; l < kLanes; ++l)
                    Qj[l] = s[l];
            }
        }
        for (int t = 0; t < nb; ++t) {
            const int i = i0 + t;
            const double* Qg = qbuf.data() + (t / kLanes) * groupSize + t % kLanes;
            for (int j = i; j < u; ++j)
                R[i][j - i] = Qg[static_cast<size_t>(j - i0) * kLanes];
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
