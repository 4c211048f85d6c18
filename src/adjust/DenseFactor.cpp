#include "DenseFactor.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <vector>

#include "DenseKernels.h"
#include "Matrix.h"
#include "Workers.h"

namespace {

constexpr double kPivotLimit = 1e-100;
constexpr int kPanel = 48;

} // namespace

bool FactorPackedLdlt(CMatrix& A, int workers)
{
    if (!A.IsSymmetric())
        return false;
    const int n = A.GetRows();
    if (n == 0)
        return true;
    double* const* R = A.GetRowTable();
    if (R[0][0] < 0.0)
        return false;
    workers = std::max(1, std::min(workers, n / kPanel + 1));
    const int bandCount = workers == 1 ? 1 : 4 * workers;
    std::vector<double> scaled;  // the panel's rows right of it, times their pivots
    std::vector<double> packed;  // the panel's rows right of it, packed for the kernel
    std::vector<int> band;
    std::atomic<bool> failed{false};
    std::atomic<int> nextBand{0};
    RunOnWorkers(workers, [&](int worker, int, CWorkerBarrier& barrier) {
        std::vector<double*> dst;
        std::vector<const double*> a(kPanel);
        for (int p0 = 0; p0 < n; p0 += kPanel) {
            const int p1 = std::min(n, p0 + kPanel);
            const int nb = p1 - p0;
            const int m = n - p1;
            if (worker == 0) {
                // The panel's rows one after the other: row i minus the
                // terms of the panel's rows above it, then divided by its pivot.
                double coef[kPanel];
                const double* rows[kPanel];
                for (int i = p0; i < p1; ++i) {
                    const int k = i - p0;
                    for (int t = 0; t < k; ++t) {
                        const double* Ut = R[p0 + t];
                        coef[t] = Ut[i - (p0 + t)] * Ut[0];
                        rows[t] = Ut + (i - (p0 + t));
                    }
                    double* Ui = R[i];
                    densekernel::SubtractCombination(Ui, n - i, coef, rows, k);
                    const double d = Ui[0];
                    if (std::fabs(d) < kPivotLimit) {
                        failed = true;
                        break;
                    }
                    const double inv = 1.0 / d;
                    for (int j = 1; j < n - i; ++j)
                        Ui[j] *= inv;
                }
                if (!failed && m > 0) {
                    scaled.resize(static_cast<size_t>(nb) * static_cast<size_t>(m));
                    const double* b[kPanel];
                    for (int t = 0; t < nb; ++t) {
                        const double* Ut = R[p0 + t] + (p1 - (p0 + t)); // U(t, p1 ..)
                        const double d = R[p0 + t][0];
                        double* s = &scaled[static_cast<size_t>(t) * static_cast<size_t>(m)];
                        for (int c = 0; c < m; ++c)
                            s[c] = Ut[c] * d;
                        b[t] = Ut;
                    }
                    packed.resize(densekernel::FoldPackedSize(m, nb));
                    densekernel::PackFoldColumns(b, m, nb, packed.data());
                    band = BandRows(m, std::min(bandCount, m), m);
                    nextBand = 0;
                }
            }
            barrier.Wait();
            if (failed)
                return;
            if (m > 0) {
                // The rows below the panel, by bands.
                const int bands = static_cast<int>(band.size()) - 1;
                for (int bi = nextBand.fetch_add(1); bi < bands; bi = nextBand.fetch_add(1)) {
                    const int lo = band[static_cast<size_t>(bi)], hi = band[static_cast<size_t>(bi) + 1];
                    if (hi <= lo)
                        continue;
                    dst.resize(static_cast<size_t>(hi - lo));
                    for (int r = lo; r < hi; ++r)
                        dst[static_cast<size_t>(r - lo)] = R[p1 + r];
                    for (int t = 0; t < nb; ++t)
                        a[static_cast<size_t>(t)] = &scaled[static_cast<size_t>(t) * static_cast<size_t>(m) + lo];
                    densekernel::SubtractPackedProducts(dst.data(), hi - lo, m - lo, true, a.data(), packed.data(),
                                                        lo, nb);
                }
            }
            barrier.Wait();
        }
    });
    return !failed;
}
