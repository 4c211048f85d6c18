// After the loop: inversion of the last normal equations, the covariances
// of cameras, stations and points, their propagation through the folded
// blocks, the RMS of the standard errors and the control discrepancies.
//
// A folded block touches only its own columns of the reduced system, so the
// propagation reads only those rows and columns of the inverse.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <vector>

#include "AdjustmentEngine.h"
#include "AdjustmentSummary.h"
#include "DenseKernels.h"
#include "Camera.h"
#include "ObjectPoint.h"
#include "PointSet.h"
#include "ProjectImage.h"
#include "ProjectImageList.h"
#include "ProjectSettings.h"
#include "ScaleBar.h"
#include "SparseNormals.h"
#include "Workers.h"

namespace {

constexpr double kFreeSigma = 1000.0;

// Element (i, j) of a packed symmetric matrix from its row table.
inline double Packed(double* const* R, int i, int j)
{
    return i <= j ? R[i][j - i] : R[j][i - j];
}

// out (rows x rows, full) = M Q M' over the columns cols of M (rows x count).
// With the columns ascending, Q is read along its packed rows only, each
// element once, and used for both of its places.
void Congruence(const CMatrix& M, const int32_t* cols, int count, const CMatrix& Q, int rows, double* out)
{
    double* const* Mr = M.GetRowTable();
    double* const* R = Q.GetRowTable();
    std::vector<double> W(static_cast<size_t>(count) * static_cast<size_t>(rows), 0.0); // W = Q M'
    bool ascending = true;
    for (int c = 1; c < count && ascending; ++c)
        ascending = cols[c - 1] < cols[c];
    if (ascending) {
        std::vector<double> Mt(static_cast<size_t>(count) * static_cast<size_t>(rows)); // M', row by row
        for (int c = 0; c < count; ++c)
            for (int r = 0; r < rows; ++r)
                Mt[static_cast<size_t>(c) * static_cast<size_t>(rows) + static_cast<size_t>(r)] = Mr[r][c];
        for (int c = 0; c < count; ++c) {
            const int ic = cols[c];
            const double* q = R[ic] - ic; // q[j] = Q(ic, j) for j >= ic
            double* wc = &W[static_cast<size_t>(c) * static_cast<size_t>(rows)];
            const double* mc = &Mt[static_cast<size_t>(c) * static_cast<size_t>(rows)];
            const double qcc = q[ic];
            for (int r = 0; r < rows; ++r)
                wc[r] += qcc * mc[r];
            for (int d = c + 1; d < count; ++d) {
                const double qcd = q[cols[d]];
                if (qcd == 0.0)
                    continue;
                double* wd = &W[static_cast<size_t>(d) * static_cast<size_t>(rows)];
                const double* md = &Mt[static_cast<size_t>(d) * static_cast<size_t>(rows)];
                for (int r = 0; r < rows; ++r) {
                    wc[r] += qcd * md[r];
                    wd[r] += qcd * mc[r];
                }
            }
        }
    } else {
        for (int c = 0; c < count; ++c) {
            const int ic = cols[c];
            double* w = &W[static_cast<size_t>(c) * static_cast<size_t>(rows)];
            for (int d = 0; d < count; ++d) {
                const double q = Packed(R, ic, cols[d]);
                for (int r = 0; r < rows; ++r)
                    w[r] += q * Mr[r][d];
            }
        }
    }
    for (int r = 0; r < rows; ++r)
        for (int s = 0; s < rows; ++s) {
            double sum = 0.0;
            for (int c = 0; c < count; ++c)
                sum += Mr[r][c] * W[static_cast<size_t>(c) * static_cast<size_t>(rows) + static_cast<size_t>(s)];
            out[r * rows + s] = sum;
        }
}

// The same from a sparse system's inverse: the elements among the columns
// (all within the inverse's pattern, since the columns of one folded block
// link each other) gathered, then M Q M'.
void CongruenceSparse(const CMatrix& M, const int32_t* cols, int count, const CSparseNormals& S, int rows,
                      double* out)
{
    double* const* Mr = M.GetRowTable();
    if (S.InverseCongruence(Mr, cols, count, rows, out))
        return;
    std::vector<double> q(static_cast<size_t>(count) * static_cast<size_t>(count));
    // The columns in whole blocks (a camera's ten, a station's six, a
    // point's three): the inverse is read block by block.
    std::vector<int> blockAt; // first column of each block
    bool whole = true;
    for (int c = 0; c < count && whole;) {
        const int node = S.NodeOf(cols[c]);
        const int size = S.NodeSize(node);
        for (int k = 0; k < size && whole; ++k)
            whole = c + k < count && cols[c + k] == S.NodeStart(node) + k;
        blockAt.push_back(c);
        c += size;
    }
    double block[100];
    if (whole) {
        for (size_t a = 0; a < blockAt.size(); ++a)
            for (size_t b = a; b < blockAt.size(); ++b) {
                const int ca = blockAt[a], cb = blockAt[b];
                const int na = S.NodeOf(cols[ca]), nb = S.NodeOf(cols[cb]);
                const int sa = S.NodeSize(na), sb = S.NodeSize(nb);
                if (!S.InverseBlock(na, nb, block))
                    std::fill(block, block + sa * sb, 0.0);
                for (int u = 0; u < sa; ++u)
                    for (int t = 0; t < sb; ++t) {
                        const double v = block[u * sb + t];
                        q[static_cast<size_t>(ca + u) * static_cast<size_t>(count) + static_cast<size_t>(cb + t)] = v;
                        q[static_cast<size_t>(cb + t) * static_cast<size_t>(count) + static_cast<size_t>(ca + u)] = v;
                    }
            }
    } else {
        for (int c = 0; c < count; ++c)
            for (int d = c; d < count; ++d) {
                double v = 0.0;
                S.InverseAt(cols[c], cols[d], v);
                q[static_cast<size_t>(c) * static_cast<size_t>(count) + static_cast<size_t>(d)] = v;
                q[static_cast<size_t>(d) * static_cast<size_t>(count) + static_cast<size_t>(c)] = v;
            }
    }
    std::vector<double> W(static_cast<size_t>(rows) * static_cast<size_t>(count), 0.0); // M Q
    for (int r = 0; r < rows; ++r) {
        double* w = &W[static_cast<size_t>(r) * static_cast<size_t>(count)];
        for (int c = 0; c < count; ++c) {
            const double m = Mr[r][c];
            if (m == 0.0)
                continue;
            const double* qc = &q[static_cast<size_t>(c) * static_cast<size_t>(count)];
            for (int d = 0; d < count; ++d)
                w[d] += m * qc[d];
        }
    }
    for (int r = 0; r < rows; ++r)
        for (int s = 0; s < rows; ++s) {
            const double* w = &W[static_cast<size_t>(r) * static_cast<size_t>(count)];
            double sum = 0.0;
            for (int d = 0; d < count; ++d)
                sum += w[d] * Mr[s][d];
            out[r * rows + s] = sum;
        }
}

bool NonNegativeDiagonal(const CMatrix& m)
{
    for (int i = 0; i < m.GetRows(); ++i)
        if (!(m.GetAt(i, i) >= 0.0))
            return false;
    return true;
}

void ZeroSymmetric(CMatrix& m, int order)
{
    m.Resize(order, -1);
    m.Zero();
}

} // namespace

bool CAdjustmentEngine::RunPostAdjustment()
{
    cofactorsReady = false;
    if (summary->status != BUNDLE_CONVERGED && summary->status != BUNDLE_ITERATION_LIMIT)
        return true;
    if (normals == nullptr && !sparse)
        return true;
    progress.phase = PHASE_INVERTING;
    const bool freeNetwork = settings->freeNetwork;
    const FoldingScheme& scheme = Scheme();
    if (!(this->*scheme.invert)()) {
        SetFailureReason("The normal equations could not be inverted: no covariances were computed");
        return true;
    }
    if (!FaultCheck("inverting the normal equations"))
        return true;
    cofactorsReady = true;

    (this->*scheme.covariances)();
    (this->*scheme.propagate)();
    (this->*scheme.rmsStandardErrors)();
    if (!FaultCheck("propagating the errors"))
        return true;
    progress.rmsStdErrorX = summary->rmsTotal[0];
    progress.rmsStdErrorY = summary->rmsTotal[1];
    progress.rmsStdErrorZ = summary->rmsTotal[2];
    if (!freeNetwork)
        SetControlDiscrepancies();
    if (freeNetwork && !settings->rigorousScale) {
        progress.phase = PHASE_POST_BUNDLE_SCALING;
        PostBundleScaling();
    }
    FaultCheck("scaling the network");
    return true;
}

const CMatrix* CAdjustmentEngine::GetCofactors(int& order) const
{
    order = cofactorsReady ? reducedCount : 0;
    if (!cofactorsReady)
        return nullptr;
    if (sparse) {
        // The whole inverse of a sparse system is formed only when asked for.
        if (!wholeInverse) {
            wholeInverse.reset(new CMatrix);
            if (!sparse->InvertWhole(*wholeInverse)) {
                wholeInverse.reset();
                order = 0;
                return nullptr;
            }
        }
        return wholeInverse.get();
    }
    return settings->freeNetwork && settings->standardFolding ? bordered : normals;
}

// Q* = (N - E D^-1 E')^-1 from the factors of normals, then the inverse of
// the whole bordered system [N E; E' D] into bordered.
bool CAdjustmentEngine::InvertFreeStandard()
{
    const int n = reducedCount;
    if (bordered == nullptr || datum == nullptr || standardFold.datumInverse.GetRows() != 7)
        return false;
    if (!normals->InvertAugmentedFactor())
        return false;
    double* const* Q = normals->GetRowTable();
    double* const* B = bordered->GetRowTable();
    double* const* Dt = datum->GetRowTable();
    for (int i = 0; i < n; ++i)
        for (int j = i; j < n; ++j)
            B[i][j - i] = Q[i][j - i];
    // -Q* datum' (n x 7), row by row.
    std::vector<double> cross(static_cast<size_t>(n) * 7, 0.0);
    for (int i = 0; i < n; ++i) {
        double* c = &cross[static_cast<size_t>(i) * 7];
        for (int j = 0; j < n; ++j) {
            const double q = Packed(Q, i, j);
            if (q == 0.0)
                continue;
            for (int a = 0; a < 7; ++a)
                c[a] -= q * Dt[a][j];
        }
        for (int a = 0; a < 7; ++a)
            B[i][n + a - i] = c[a];
    }
    // D^-1 + datum Q* datum' = D^-1 - datum (-Q* datum').
    for (int a = 0; a < 7; ++a)
        for (int b = a; b < 7; ++b) {
            double s = standardFold.datumInverse.GetAt(a, b);
            for (int i = 0; i < n; ++i)
                s -= Dt[a][i] * cross[static_cast<size_t>(i) * 7 + static_cast<size_t>(b)];
            B[n + a][b - a] = s;
        }
    return true;
}

// Q = (N + G'G)^-1 - G'(GG')^-2 G over the point block.
bool CAdjustmentEngine::InvertFreeReverse()
{
    if (reverseDatum == nullptr)
        return false;
    const int rows = reverseDatum->GetRows();
    const int m = reverseDatum->GetCols();
    double* const* G = reverseDatum->GetRowTable();
    CMatrix S(rows, -1);
    for (int a = 0; a < rows; ++a)
        for (int b = a; b < rows; ++b) {
            double s = 0.0;
            for (int c = 0; c < m; ++c)
                s += G[a][c] * G[b][c];
            S.SetAt(s, a, b);
        }
    if (!S.InvertSymmetric(false))
        return false;
    std::vector<double> T(static_cast<size_t>(m) * static_cast<size_t>(rows), 0.0); // G' S^-1
    for (int c = 0; c < m; ++c)
        for (int b = 0; b < rows; ++b) {
            double s = 0.0;
            for (int a = 0; a < rows; ++a)
                s += G[a][c] * S.GetAt(a, b);
            T[static_cast<size_t>(c) * static_cast<size_t>(rows) + static_cast<size_t>(b)] = s;
        }
    if (!normals->InvertSymmetric(true, GetWorkerCount()))
        return false;
    double* const* Q = normals->GetRowTable();
    const int base = 10 * cameras->GetSize();
    for (int i = 0; i < m; ++i) {
        const double* ti = &T[static_cast<size_t>(i) * static_cast<size_t>(rows)];
        bool zero = true;
        for (int a = 0; a < rows && zero; ++a)
            zero = ti[a] == 0.0;
        if (zero)
            continue;
        double* row = Q[base + i] - (base + i);
        for (int j = i; j < m; ++j) {
            const double* tj = &T[static_cast<size_t>(j) * static_cast<size_t>(rows)];
            double s = 0.0;
            for (int a = 0; a < rows; ++a)
                s += ti[a] * tj[a];
            row[base + j] -= s;
        }
    }
    return true;
}

// Each used camera's sigmas from the diagonal of the inverse Q (its rows come
// first), and its calibration redundancy; an unused camera's sigmas are zero.
void CAdjustmentEngine::SetCameraSigmas()
{
    const double sigma0 = summary->sigma0;
    const int dof = summary->GetDegreesOfFreedom();
    for (int k = 0; k < cameras->GetSize(); ++k) {
        CCamera* camera = cameras->GetAt(k);
        for (int p = 0; p < CAM_PARAMETER_COUNT; ++p) {
            const double q = IsCameraUsed(k) ? Cofactor(10 * k + p, 10 * k + p) : 0.0;
            camera->postSigmas[p] = q > 0.0 ? std::sqrt(q) * sigma0 : 0.0;
        }
        if (IsCameraUsed(k))
            camera->calibrationRedundancy = dof;
    }
}

// Camera sigmas from the inverse; the station blocks of the inverse are the
// stations' covariances.
bool CAdjustmentEngine::ComputeCovariancesStandard()
{
    progress.phase = PHASE_COVARIANCE;
    const double s2 = summary->sigma0 * summary->sigma0;
    const int nCam = cameras->GetSize();
    SetCameraSigmas();
    for (int j = 0; j < images->GetSize(); ++j) {
        CMatrix& cov = images->GetAt(j)->GetCovariance();
        cov.Resize(6, -1);
        const int s0 = 10 * nCam + 6 * j;
        for (int p = 0; p < 6; ++p)
            for (int q = p; q < 6; ++q)
                cov.SetAt(Cofactor(s0 + p, s0 + q) * s2, p, q);
    }
    return true;
}

// Camera sigmas from the inverse; the point blocks of the inverse are the
// points' total covariances.
bool CAdjustmentEngine::ComputeCovariancesReverse()
{
    progress.phase = PHASE_COVARIANCE;
    const double s2 = summary->sigma0 * summary->sigma0;
    const int nCam = cameras->GetSize();
    SetCameraSigmas();
    for (int i = 0; i < points->GetSize(); ++i) {
        CObjectPoint* point = points->GetAt(i);
        ZeroSymmetric(point->covariance, 3);
        if (point->usedRayCount == 0)
            continue; // held where it was
        const int p0 = 10 * nCam + 3 * i;
        for (int a = 0; a < 3; ++a)
            for (int b = a; b < 3; ++b)
                point->covariance.SetAt(Cofactor(p0 + a, p0 + b) * s2, a, b);
    }
    return true;
}

// Points folded with the same columns, one contiguous range of the reduced
// system (every point of a network whose images all see every point), are
// propagated together: for their stacked M' = B (count x 3 points),
// Y = (Q's upper triangle with half its diagonal) B is formed in one pass
// over the rows of Q, and each point's M Q M' = Z + Z' with Z = B_p' Y_p.
namespace {

constexpr int kPropagationBatch = 16;

struct PropagationTask {
    int first; // entry of the folded list
    int count; // entries; more than one: a batch over the range
    int column;
    int columns;
};

} // namespace

bool CAdjustmentEngine::PropagateErrorsStandard()
{
    progress.phase = PHASE_ERROR_PROPAGATION;
    const CMatrix* Q = sparse ? nullptr : settings->freeNetwork ? bordered : normals;
    const double s2 = summary->sigma0 * summary->sigma0;
    // The folded points with their store entries; each is then propagated
    // on its own, in parallel.
    std::vector<std::pair<CObjectPoint*, int>> folded;
    std::vector<int32_t> foldedPoint; // the point of each entry
    int store = 0;
    for (int i = 0; i < points->GetSize() && store < matrixStore.GetSize(); ++i) {
        CObjectPoint* point = points->GetAt(i);
        if (!IsFoldedPoint(*point))
            continue;
        folded.emplace_back(point, store++);
        foldedPoint.push_back(i);
    }
    const bool total = settings->totalErrorPropagation;
    const int workers = std::min<int>(GetWorkerCount(), static_cast<int>(folded.size() / 64) + 1);

    // M Q M' of every folded point with a covariance to propagate.
    std::vector<double> mqm;
    if (total) {
        std::vector<PropagationTask> tasks;
        auto range = [&](size_t e, int& first, int& count) {
            const int32_t* cols = GetFoldedColumns(folded[e].second, count);
            first = count > 0 ? cols[0] : 0;
            for (int c = 1; c < count; ++c)
                if (cols[c] != first + c)
                    return false;
            return count > 0 && folded[e].first->limitingCovariance.GetRows() == 3;
        };
        for (size_t e = 0; e < folded.size();) {
            int first = 0, count = 0;
            size_t end = e + 1;
            if (Q != nullptr && range(e, first, count)) {
                int f = 0, c = 0;
                while (end < folded.size() && end - e < static_cast<size_t>(kPropagationBatch) &&
                       range(end, f, c) && f == first && c == count)
                    ++end;
            }
            tasks.push_back(PropagationTask{static_cast<int>(e), static_cast<int>(end - e), first, count});
            e = end;
        }
        // Taken in fold order (by the points' first images): points that
        // follow each other then read nearby parts of the inverse.
        std::vector<int32_t> rank(static_cast<size_t>(points->GetSize()), 0);
        if (standardFold.foldOrder.size() == rank.size())
            for (size_t k = 0; k < rank.size(); ++k)
                rank[static_cast<size_t>(standardFold.foldOrder[k])] = static_cast<int32_t>(k);
        std::vector<int32_t> taskOrder(tasks.size());
        for (size_t t = 0; t < tasks.size(); ++t)
            taskOrder[t] = static_cast<int32_t>(t);
        std::stable_sort(taskOrder.begin(), taskOrder.end(), [&](int32_t x, int32_t y) {
            return rank[static_cast<size_t>(foldedPoint[static_cast<size_t>(tasks[static_cast<size_t>(x)].first)])] <
                   rank[static_cast<size_t>(foldedPoint[static_cast<size_t>(tasks[static_cast<size_t>(y)].first)])];
        });
        mqm.assign(9 * folded.size(), 0.0);
        // A point's data lie apart in memory, each behind pointers (the
        // point, its matrix, the matrix's rows, its columns): each worker
        // takes runs of tasks, and fetches them ahead, one level per task.
        constexpr size_t kRun = 16;
        auto prefetch = [&](size_t e, int level) {
            const PropagationTask& task = tasks[static_cast<size_t>(taskOrder[e])];
            if (task.count != 1)
                return;
            const std::pair<CObjectPoint*, int>& f = folded[static_cast<size_t>(task.first)];
            const CMatrix* M = matrixStore.GetAt(f.second);
            if (level == 0) {
                __builtin_prefetch(&f.first->limitingCovariance);
                __builtin_prefetch(M);
                int count = 0;
                const int32_t* cols = GetFoldedColumns(f.second, count);
                for (int c = 0; c < count; c += 16)
                    __builtin_prefetch(cols + c);
            } else if (level == 1) {
                __builtin_prefetch(M->GetRowTable());
            } else {
                double* const* Mr = M->GetRowTable();
                for (int r = 0; r < M->GetRows(); ++r)
                    for (int c = 0; c < M->GetCols(); c += 8)
                        __builtin_prefetch(Mr[r] + c);
            }
        };
        std::atomic<size_t> nextTask{0};
        RunOnWorkers(workers, [&](int, int, CWorkerBarrier&) {
            std::vector<double> B, Y;
            std::vector<const double*> rows;
            size_t end = 0; // of the run being taken
            auto following = [&](size_t e) {
                if (e + 1 < end)
                    return e + 1;
                const size_t run = nextTask.fetch_add(kRun);
                end = std::min(tasks.size(), run + kRun);
                for (size_t k = run; k < std::min(end, run + 6); ++k)
                    prefetch(k, 0);
                return run;
            };
            for (size_t e = following(0); e < tasks.size(); e = following(e)) {
                for (int level = 0; level < 3; ++level) {
                    const size_t ahead = e + 6 - 2 * static_cast<size_t>(level);
                    if (ahead < end)
                        prefetch(ahead, level);
                }
                const PropagationTask& task = tasks[static_cast<size_t>(taskOrder[e])];
                if (task.count == 1) {
                    const std::pair<CObjectPoint*, int>& f = folded[static_cast<size_t>(task.first)];
                    if (f.first->limitingCovariance.GetRows() != 3)
                        continue;
                    int count = 0;
                    const int32_t* cols = GetFoldedColumns(f.second, count);
                    double* out = &mqm[9 * static_cast<size_t>(task.first)];
                    if (Q != nullptr)
                        Congruence(*matrixStore.GetAt(f.second), cols, count, *Q, 3, out);
                    else
                        CongruenceSparse(*matrixStore.GetAt(f.second), cols, count, *sparse, 3, out);
                    continue;
                }
                const int n = task.columns;
                const int width = densekernel::SymmetricWidth();
                const int k = (3 * task.count + width - 1) / width * width;
                B.assign(static_cast<size_t>(n) * static_cast<size_t>(k), 0.0);
                Y.resize(B.size());
                for (int p = 0; p < task.count; ++p) {
                    const CMatrix& M = *matrixStore.GetAt(folded[static_cast<size_t>(task.first + p)].second);
                    double* const* Mr = M.GetRowTable();
                    for (int r = 0; r < 3; ++r)
                        for (int c = 0; c < n; ++c)
                            B[static_cast<size_t>(c) * static_cast<size_t>(k) + static_cast<size_t>(3 * p + r)] =
                                Mr[r][c];
                }
                rows.resize(static_cast<size_t>(n));
                double* const* R = Q->GetRowTable();
                for (int c = 0; c < n; ++c)
                    rows[static_cast<size_t>(c)] = R[task.column + c];
                densekernel::HalfSymmetricProduct(Y.data(), 0, n, rows.data(), n, B.data(), k);
                for (int p = 0; p < task.count; ++p) {
                    double z[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
                    for (int c = 0; c < n; ++c) {
                        const double* b = &B[static_cast<size_t>(c) * static_cast<size_t>(k) + 3 * p];
                        const double* y = &Y[static_cast<size_t>(c) * static_cast<size_t>(k) + 3 * p];
                        for (int a = 0; a < 3; ++a)
                            for (int d = 0; d < 3; ++d)
                                z[3 * a + d] += b[a] * y[d];
                    }
                    double* out = &mqm[9 * static_cast<size_t>(task.first + p)];
                    for (int a = 0; a < 3; ++a)
                        for (int d = 0; d < 3; ++d)
                            out[3 * a + d] = z[3 * a + d] + z[3 * d + a];
                }
            }
        });
    }

    std::atomic<bool> ok{true};
    std::atomic<size_t> next{0};
    RunOnWorkers(workers, [&](int, int, CWorkerBarrier&) {
        for (size_t e = next.fetch_add(1); e < folded.size(); e = next.fetch_add(1)) {
            CObjectPoint* point = folded[e].first;
            const int rays = point->usedRayCount;
            point->rms = std::sqrt(point->rms / (2.0 * rays)) * 1000.0;
            if (point->limitingCovariance.GetRows() != 3)
                continue;
            if (total) {
                const double* m = &mqm[9 * e];
                ZeroSymmetric(point->covariance, 3);
                for (int a = 0; a < 3; ++a)
                    for (int b = a; b < 3; ++b)
                        point->covariance.SetAt((m[a * 3 + b] + point->limitingCovariance.GetAt(a, b)) * s2, a, b);
                if (!NonNegativeDiagonal(point->covariance)) {
                    point->covariance.Zero();
                    ok = false;
                }
            }
            point->limitingCovariance.Scale(s2);
            if (!NonNegativeDiagonal(point->limitingCovariance)) {
                point->limitingCovariance.Zero();
                ok = false;
            }
        }
    });
    return ok;
}

bool CAdjustmentEngine::PropagateErrorsReverse()
{
    progress.phase = PHASE_ERROR_PROPAGATION;
    const CMatrix* Q = sparse ? nullptr : normals;
    const double s2 = summary->sigma0 * summary->sigma0;
    std::atomic<bool> shared{true};
    std::atomic<int> next{0};
    const int stations = std::min(images->GetSize(), matrixStore.GetSize());
    RunOnWorkers(std::min(GetWorkerCount(), stations / 8 + 1), [&](int, int, CWorkerBarrier&) {
        double mqm[36];
        for (int j = next.fetch_add(1); j < stations; j = next.fetch_add(1)) {
            CMatrix& cov = images->GetAt(j)->GetCovariance();
            int count = 0;
            const int32_t* cols = GetFoldedColumns(j, count);
            if (Q != nullptr)
                Congruence(*matrixStore.GetAt(j), cols, count, *Q, 6, mqm);
            else
                CongruenceSparse(*matrixStore.GetAt(j), cols, count, *sparse, 6, mqm);
            for (int p = 0; p < 6; ++p)
                for (int q = p; q < 6; ++q)
                    cov.SetAt((cov.GetAt(p, q) + mqm[p * 6 + q]) * s2, p, q);
            if (!NonNegativeDiagonal(cov)) {
                cov.Zero();
                shared = false;
            }
        }
    });
    bool ok = shared;

    // Residual figures in micrometres, and the limiting covariances: each
    // point alone, cameras and stations held fixed.
    const int nPt = points->GetSize();
    for (int i = 0; i < nPt; ++i) {
        CObjectPoint* point = points->GetAt(i);
        ZeroSymmetric(point->limitingCovariance, 3);
        const int rays = point->usedRayCount;
        if (rays <= 0 || static_cast<size_t>(6 * i + 5) >= reverseFold.pointNormals.size())
            continue;
        point->rms = std::sqrt(point->rms / (2.0 * rays)) * 1000.0;
        CMatrix& lim = point->limitingCovariance;
        const double* own = &reverseFold.pointNormals[static_cast<size_t>(6 * i)];
        int k = 0;
        for (int a = 0; a < 3; ++a)
            for (int b = a; b < 3; ++b)
                lim.SetAt(own[k++], a, b);
        if (!settings->freeNetwork && point->updated) {
            for (int a = 0; a < 3; ++a) {
                const double s = point->aprioriSigma[a];
                if (s < kFreeSigma && s * s > 0.0 && std::isfinite(1.0 / (s * s)))
                    *lim.GetElementPtr(a, a) += 1.0 / (s * s);
            }
        }
        if (!lim.Invert3x3()) {
            lim.Zero();
            continue;
        }
        lim.Scale(s2);
        if (!NonNegativeDiagonal(lim)) {
            lim.Zero();
            ok = false;
        }
    }
    return ok;
}

namespace {

// RMS per axis of the standard errors of one covariance over the points
// that pass `take`, and the extremes over those that pass `extreme`.
template <class Take, class Extreme>
void AxisStatistics(CPointSet& points, CMatrix CObjectPoint::*which, Take take, Extreme extreme, double rms[3],
                    double largest[3], double smallest[3], CNameBuffer largestLabel[3],
                    CNameBuffer smallestLabel[3])
{
    double sum[3] = {0.0, 0.0, 0.0};
    int m = 0;
    for (int axis = 0; axis < 3; ++axis) {
        largest[axis] = 0.0;
        smallest[axis] = 100.0;
    }
    for (int i = 0; i < points.GetSize(); ++i) {
        CObjectPoint* point = points.GetAt(i);
        const CMatrix& c = point->*which;
        if (take(*point)) {
            ++m;
            if (c.GetRows() == 3)
                for (int axis = 0; axis < 3; ++axis)
                    sum[axis] += c.GetAt(axis, axis);
        }
        if (!extreme(*point) || c.GetRows() != 3)
            continue;
        for (int axis = 0; axis < 3; ++axis) {
            const double v = c.GetAt(axis, axis);
            const double s = v > 0.0 ? std::sqrt(v) : 0.0;
            if (s > largest[axis]) {
                largest[axis] = s;
                largestLabel[axis].Copy(point->label);
            }
            if (s < smallest[axis]) {
                smallest[axis] = s;
                smallestLabel[axis].Copy(point->label);
            }
        }
    }
    for (int axis = 0; axis < 3; ++axis)
        rms[axis] = m > 0 && sum[axis] > 0.0 ? std::sqrt(sum[axis] / m) : 0.0;
}

// The rms and extreme standard errors of the points in use that were solved
// (extremes over those with at least `minimum` rays): of the limiting
// covariances when `limiting`, then of the total ones.
void RmsStandardErrors(CPointSet& points, int minimum, bool limiting, CAdjustmentSummary& s)
{
    auto take = [](const CObjectPoint& p) { return p.inUse && !p.unsolved; };
    auto extreme = [minimum](const CObjectPoint& p) { return p.usedRayCount >= minimum && p.usedRayCount > 0; };
    if (limiting)
        AxisStatistics(points, &CObjectPoint::limitingCovariance, take, extreme, s.rmsLimiting,
                       s.extremes[CAdjustmentSummary::kLargestLimiting],
                       s.extremes[CAdjustmentSummary::kSmallestLimiting],
                       s.extremeLabels[CAdjustmentSummary::kLargestLimiting],
                       s.extremeLabels[CAdjustmentSummary::kSmallestLimiting]);
    AxisStatistics(points, &CObjectPoint::covariance, take, extreme, s.rmsTotal,
                   s.extremes[CAdjustmentSummary::kLargestTotal], s.extremes[CAdjustmentSummary::kSmallestTotal],
                   s.extremeLabels[CAdjustmentSummary::kLargestTotal],
                   s.extremeLabels[CAdjustmentSummary::kSmallestTotal]);
}

} // namespace

bool CAdjustmentEngine::ComputeRmsStandardErrors()
{
    progress.phase = PHASE_RMS_STANDARD_ERRORS;
    RmsStandardErrors(*points, settings->minimumRays, true, *summary);
    return true;
}

// The total triple only, over the points in use that were not held fixed.
bool CAdjustmentEngine::ComputeRmsStandardErrorsReverse()
{
    progress.phase = PHASE_RMS_STANDARD_ERRORS;
    RmsStandardErrors(*points, settings->minimumRays, false, *summary);
    return true;
}

// Each control point's shown sigmas become its discrepancies: the diagonal
// of its covariance holds (adjusted - control)^2.
bool CAdjustmentEngine::SetControlDiscrepancies()
{
    for (const auto& pair : controlPairs) {
        CObjectPoint* c = pair.first;
        const CObjectPoint* p = pair.second;
        ZeroSymmetric(c->covariance, 3);
        const double d[3] = {p->x - c->x, p->y - c->y, p->z - c->z};
        for (int a = 0; a < 3; ++a)
            c->covariance.SetAt(d[a] * d[a], a, a);
    }
    return true;
}
