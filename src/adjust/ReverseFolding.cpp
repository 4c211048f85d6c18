// Normal equations with the stations folded out (networks with many images
// for their points, and every run with rigorous scaling), and the update
// that follows them.
//
// Each station touches only its camera and the points it sees: its cross
// block with the reduced parameters is kept with those columns only, and its
// elimination updates only their rows and columns.
#include <algorithm>
#include <atomic>
#include <string>
#include <cfenv>
#include <cfloat>
#include <cmath>

#include "AdjustmentEngine.h"
#include "AdjustmentSummary.h"
#include "Camera.h"
#include "FileIO.h"
#include "ImageObservation.h"
#include "ObjectPoint.h"
#include "PackedNormals.h"
#include "PointSet.h"
#include "ProjectImage.h"
#include "ProjectImageList.h"
#include "ProjectSettings.h"
#include "Workers.h"

namespace {

// A pivot of a station block below this fraction of its diagonal element
// means the station cannot be determined.
constexpr double kRelativePivot = 1e-13;

// Inverts the symmetric 6 x 6 matrix a in place (Cholesky); false when it is
// not positive definite to working precision.
bool InvertStationBlock(double a[6][6])
{
    double L[6][6] = {};
    for (int j = 0; j < 6; ++j) {
        double d = a[j][j];
        for (int k = 0; k < j; ++k)
            d -= L[j][k] * L[j][k];
        if (!(d > kRelativePivot * a[j][j]) || !(a[j][j] > 0.0) || !std::isfinite(d))
            return false;
        L[j][j] = std::sqrt(d);
        for (int i = j + 1; i < 6; ++i) {
            double s = a[i][j];
            for (int k = 0; k < j; ++k)
                s -= L[i][k] * L[j][k];
            L[i][j] = s / L[j][j];
        }
    }
    // L^-1, then (L^-1)' L^-1.
    double Li[6][6] = {};
    for (int i = 0; i < 6; ++i) {
        Li[i][i] = 1.0 / L[i][i];
        for (int j = 0; j < i; ++j) {
            double s = 0.0;
            for (int k = j; k < i; ++k)
                s -= L[i][k] * Li[k][j];
            Li[i][j] = s / L[i][i];
        }
    }
    for (int i = 0; i < 6; ++i)
        for (int j = i; j < 6; ++j) {
            double s = 0.0;
            for (int k = j; k < 6; ++k)
                s += Li[k][i] * Li[k][j];
            a[i][j] = a[j][i] = s;
        }
    return AllFinite(&a[0][0], 36);
}

} // namespace

// One station's rays, its folded blocks and where they go in the system.
struct CAdjustmentEngine::StationFold {
    int station = -1;
    bool folded = false;
    std::vector<RayEquations> rays;
    std::vector<int32_t> rayPoints; // the point of each used ray
    std::vector<double> squares;    // each used ray's square misclosure, mm^2
    std::vector<double> nsrT;       // Nsr' (6 x columns)
    std::vector<int32_t> index;     // reduced unknown of each column: the camera's ten, three per point
    int columns = 0;
    CMatrix* M = nullptr;
    CVector* v = nullptr;
    bool owned = false; // M and v not yet handed to the stores
};

bool CAdjustmentEngine::FormNormalsReverse(int& equations)
{
    equations = 0;
    progress.phase = PHASE_FORMING_NORMALS;
    summary->vv = 0.0;
    const int nCam = cameras->GetSize();
    const int nSta = images->GetSize();
    const int nPt = points->GetSize();
    const int n = reducedCount;
    const int pointBase = 10 * nCam;
    rightHandSide.Resize(0);
    rightHandSide.Resize(n);
    // Store entry j belongs to station j.
    matrixStore.RemoveAll();
    vectorStore.RemoveAll();
    foldedColumns.clear();
    foldedColumnStart.clear();
    FillStationCache();
    reverseFold.pointNormals.assign(static_cast<size_t>(6 * nPt), 0.0);
    for (int i = 0; i < nPt; ++i) {
        CObjectPoint* point = points->GetAt(i);
        point->rms = 0.0;
        point->usedRayCount = 0;
    }

    // The points each station sees, in point order, from the merge's ray lists.
    reverseFold.stationRayStart.assign(static_cast<size_t>(nSta) + 1, 0);
    const int pointsWithRays = std::min(nPt, static_cast<int>(rayStart.size()));
    auto raysOf = [&](int i, int& first, int& end) {
        first = rayStart[static_cast<size_t>(i)];
        end = i + 1 < static_cast<int>(rayStart.size()) ? rayStart[static_cast<size_t>(i) + 1]
                                                        : static_cast<int>(rayImages.size());
    };
    for (int i = 0; i < pointsWithRays; ++i) {
        int first = 0, end = 0;
        raysOf(i, first, end);
        for (int r = first; r < end; ++r)
            ++reverseFold.stationRayStart[static_cast<size_t>(rayImages[static_cast<size_t>(r)]) + 1];
    }
    for (int j = 0; j < nSta; ++j)
        reverseFold.stationRayStart[static_cast<size_t>(j) + 1] += reverseFold.stationRayStart[static_cast<size_t>(j)];
    reverseFold.stationRayPoints.assign(static_cast<size_t>(reverseFold.stationRayStart.back()), 0);
    {
        std::vector<int32_t> fill(reverseFold.stationRayStart.begin(), reverseFold.stationRayStart.end() - 1);
        for (int i = 0; i < pointsWithRays; ++i) {
            int first = 0, end = 0;
            raysOf(i, first, end);
            for (int r = first; r < end; ++r)
                reverseFold.stationRayPoints[static_cast<size_t>(fill[static_cast<size_t>(rayImages[static_cast<size_t>(r)])]++)] =
                    i;
        }
    }

    // Stations are formed in blocks: the stations of a block in parallel
    // (rays, Nss^-1, M and v, touching only their own observations), then
    // the square sums, ray counts and stores in station order, then the
    // system by bands of rows, each band by one worker taking the block's
    // stations in order: every element receives its terms in the order of
    // a single thread, whatever the number of workers.
    const SystemRows S = ReducedRows();
    const int workers = GetWorkerCount();
    const double raysPerStation =
        nSta > 0 ? static_cast<double>(reverseFold.stationRayPoints.size()) / static_cast<double>(nSta) : 0.0;
    const double bytesPerStation = raysPerStation * (sizeof(RayEquations) + 150.0) + 1024.0;
    const int block = std::max(2 * workers, std::min(16 * workers, static_cast<int>(48.0 * 1024 * 1024 / bytesPerStation)));
    std::vector<StationFold> work(static_cast<size_t>(std::max(1, std::min(block, nSta))));
    const int bandCount = workers == 1 ? 1 : std::max(1, std::min(n, 4 * workers));
    const std::vector<int> band = BandRows(n, bandCount, 10.0 + 3.0 * raysPerStation);
    std::atomic<int> nextStation{0};
    std::atomic<int> nextBand{0};
    std::atomic<bool> aborted{false};
    bool failed = false;

    // The serial part of a block, in station order.
    auto merge = [&](int begin, int count) {
        for (int t = 0; t < count && !failed; ++t) {
            StationFold& w = work[static_cast<size_t>(t)];
            for (size_t r = 0; r < w.rays.size(); ++r) {
                CObjectPoint* point = points->GetAt(w.rayPoints[r]);
                point->rms += w.squares[r];
                ++point->usedRayCount;
                equations += 2;
                S.SquareSum() += w.rays[r].l[0] * w.rays[r].l[0] + w.rays[r].l[1] * w.rays[r].l[1];
            }
            if (!w.folded) {
                CProjectImage* image = images->GetAt(begin + t);
                std::string reason = "Adjustment failed: the orientation of image \"";
                reason += image->name.GetText();
                reason += "\" cannot be determined from its rays";
                Fail(reason.c_str());
                failed = true;
                break;
            }
            matrixStore.GetArray().Add(w.M);
            vectorStore.GetArray().Add(w.v);
            w.owned = false;
            foldedColumnStart.push_back(static_cast<int32_t>(foldedColumns.size()));
            foldedColumns.insert(foldedColumns.end(), w.index.begin(), w.index.end());
            if (!w.rayPoints.empty()) {
                const int i = w.rayPoints.back();
                progress.pointNumber = i + 1;
                progress.SetPointLabel(points->GetAt(i)->label);
            }
        }
    };

    RunOnWorkers(workers, [&](int worker, int, CWorkerBarrier& barrier) {
        for (int begin = 0; begin < nSta; begin += block) {
            const int count = std::min(nSta - begin, block);
            for (int t = nextStation.fetch_add(1); t < count; t = nextStation.fetch_add(1))
                if (!FormStation(begin + t, work[static_cast<size_t>(t)]))
                    aborted = true;
            barrier.Wait();
            if (aborted)
                return;
            if (worker == 0) {
                nextStation = 0;
                merge(begin, count);
            }
            barrier.Wait();
            if (failed)
                return;
            for (int b = nextBand.fetch_add(1); b < bandCount; b = nextBand.fetch_add(1)) {
                const int lo = band[static_cast<size_t>(b)], hi = band[static_cast<size_t>(b) + 1];
                for (int t = 0; t < count; ++t)
                    ApplyStation(work[static_cast<size_t>(t)], lo, hi);
            }
            barrier.Wait();
            if (worker == 0)
                nextBand = 0;
        }
    });
    for (StationFold& w : work) {
        if (w.owned) {
            delete w.M;
            delete w.v;
        }
        w.M = nullptr;
        w.v = nullptr;
    }
    if (aborted || failed)
        return false;

    // Points with too few rays are held where they are.
    int usedPoints = 0;
    std::vector<int32_t> held;
    for (int i = 0; i < nPt; ++i) {
        CObjectPoint* point = points->GetAt(i);
        if (point->inUse && point->usedRayCount >= settings->minimumRays && point->usedRayCount > 0) {
            point->unsolved = false;
            ++usedPoints;
            continue;
        }
        point->usedRayCount = 0;
        if (point->inUse)
            point->unsolved = true;
        for (const CRayIndex::Entry& e : point->observationIndex) {
            if (e.image >= nSta || e.image >= point->observationIndex.GetSize())
                break;
            CProjectImage* image = images->GetAt(e.image);
            const int index = e.observation;
            if (index >= 0 && index < image->targets.GetSize())
                image->targets.GetAt(index)->rejected = true;
        }
        held.push_back(i);
    }

    // Camera weights (a camera no image uses is held fixed) and control points.
    for (int k = 0; k < nCam; ++k) {
        const CCamera* camera = cameras->GetAt(k);
        for (int p = 0; p < CAM_PARAMETER_COUNT; ++p) {
            if (!IsCameraUsed(k)) {
                *S.At(10 * k + p, 10 * k + p) = 1.0;
                continue;
            }
            AddParameterWeight(*S.At(10 * k + p, 10 * k + p), rightHandSide[10 * k + p], camera->sigmas[p],
                               camera->corrections[p]);
        }
    }
    std::vector<int32_t> heldAxes;
    if (!settings->freeNetwork) {
        for (int i = 0; i < nPt; ++i) {
            const CObjectPoint* point = points->GetAt(i);
            if (!point->updated)
                continue;
            for (int a = 0; a < 3; ++a) {
                const double s = point->aprioriSigma[a];
                if (!std::isless(s, kFreeSigma) && !std::isnan(s))
                    continue;
                const int index = pointBase + 3 * i + a;
                const double s2 = s * s;
                if (!std::isgreaterequal(s2, 1.0 / DBL_MAX)) {
                    // No finite weight: the coordinate is held at its control value.
                    heldAxes.push_back(index);
                    continue;
                }
                const double w = 1.0 / s2;
                *S.At(index, index) += w;
                rightHandSide[index] -= w * point->correctionSum[a];
            }
        }
    }
    for (int r = 0; r < n; ++r)
        S.Rhs(r) += rightHandSide[r];
    for (int i : held)
        for (int a = 0; a < 3; ++a)
            HoldReducedParameter(pointBase + 3 * i + a);
    for (int index : heldAxes)
        HoldReducedParameter(index);

    // Inner constraints of a free network, over the points that are not held.
    ChooseFreeDatumRows();
    if (settings->freeNetwork) {
        // A free network's system is dense (ChooseSparseSystem).
        double* const* T = normals->GetRowTable();
        const int rows = freeDatumRows;
        delete reverseDatum;
        reverseDatum = new CMatrix(rows, 3 * nPt);
        if (reverseDatum->GetRows() != rows)
            return Fail("Adjustment failed: not enough memory for the datum of the free network");
        double* const* G = reverseDatum->GetRowTable();
        for (int i = 0; i < nPt; ++i) {
            const CObjectPoint* point = points->GetAt(i);
            if (point->usedRayCount == 0)
                continue;
            const double X = point->x, Y = point->y, Z = point->z;
            const double g[7][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, Z, -Y}, {-Z, 0, X}, {Y, -X, 0}, {X, Y, Z}};
            for (int r = 0; r < rows; ++r)
                for (int a = 0; a < 3; ++a)
                    G[r][3 * i + a] = g[r][a];
        }
        // G'G into the point block, column pairs of points that are not held.
        std::vector<int32_t> free;
        for (int c = 0; c < 3 * nPt; ++c)
            if (points->GetAt(c / 3)->usedRayCount > 0)
                free.push_back(c);
        // Each row scaled so that its eigenvalue in N + G'G is of the size
        // of the point block's diagonal. Any basis of the same rows gives
        // the same solution and inverse; rows of unit size would leave the
        // datum directions many orders below the rest of the system, and the
        // inverse would lose them to cancellation.
        double diagonal = 0.0;
        for (int c : free)
            diagonal += T[pointBase + c][0];
        diagonal = free.empty() ? 1.0 : diagonal / static_cast<double>(free.size());
        for (int r = 0; r < rows; ++r) {
            double norm = 0.0;
            for (int c : free)
                norm += G[r][c] * G[r][c];
            if (norm > 0.0 && diagonal > 0.0 && std::isfinite(diagonal / norm)) {
                const double f = std::sqrt(diagonal / norm);
                for (int c : free)
                    G[r][c] *= f;
            }
        }
        std::vector<double> column(static_cast<size_t>(rows));
        for (size_t u = 0; u < free.size(); ++u) {
            const int ci = free[u];
            for (int r = 0; r < rows; ++r)
                column[static_cast<size_t>(r)] = G[r][ci];
            double* row = T[pointBase + ci] - (pointBase + ci);
            for (size_t w = u; w < free.size(); ++w) {
                const int cj = free[w];
                double s = 0.0;
                for (int r = 0; r < rows; ++r)
                    s += column[static_cast<size_t>(r)] * G[r][cj];
                row[pointBase + cj] += s;
            }
        }
    }

    summary->parameters = 3 * (usedPoints + 2 * nSta) + 10 * UsedCameraCount();
    if (settings->rigorousScale) {
        int barEquations = 0;
        AddScaleBarEquations(barEquations);
        equations += barEquations;
    }
    return true;
}

bool CAdjustmentEngine::FormStation(int s, StationFold& work)
{
    work.station = s;
    work.folded = false;
    work.rays.clear();
    work.rayPoints.clear();
    work.squares.clear();
    if (work.owned) {
        delete work.M;
        delete work.v;
    }
    work.owned = false;
    work.M = nullptr;
    work.v = nullptr;
    const int nSta = images->GetSize();
    CProjectImage* image = images->GetAt(s);
    for (int e = reverseFold.stationRayStart[static_cast<size_t>(s)];
         e < reverseFold.stationRayStart[static_cast<size_t>(s) + 1]; ++e) {
        if (AbortRequested())
            return false;
        const int i = reverseFold.stationRayPoints[static_cast<size_t>(e)];
        CObjectPoint* point = points->GetAt(i);
        if (!point->inUse || point->observationIndex.GetSize() != nSta)
            continue;
        if (!std::isfinite(point->x) || !std::isfinite(point->y) || !std::isfinite(point->z))
            continue;
        const int index = point->observationIndex[s];
        CImageObservation* obs = index >= 0 && index < image->targets.GetSize() ? image->targets.GetAt(index) : nullptr;
        if (obs == nullptr)
            continue;
        obs->rejected = false;
        const int faultsBefore = std::fetestexcept(kFaults);
        RayEquations ray;
        double square = 0.0;
        bool used = FormRay(stationCache[static_cast<size_t>(s)], *image, *obs, *point, ray, &square);
        if (used && !(AllFinite(&ray.a[0][0], 20) && AllFinite(&ray.b[0][0], 12) && AllFinite(ray.l, 2))) {
            // A ray whose numbers are not finite is rejected; the fault is handled.
            used = false;
            const int raised = std::fetestexcept(kFaults) & ~faultsBefore;
            if (raised)
                std::feclearexcept(raised);
        }
        if (!used) {
            obs->rejected = true;
            progress.rejectedCount.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        ray.station = s;
        work.rays.push_back(ray);
        work.rayPoints.push_back(i);
        work.squares.push_back(square);
    }
    work.folded = PrepareStationFold(work);
    return true;
}

// Nss (with the station's a-priori weights), ns and Nsr' from the station's
// rays, then Nss^-1 (the station's covariance until the propagation),
// M = Nss^-1 Nsr' and v = Nss^-1 ns. False when Nss cannot be inverted.
bool CAdjustmentEngine::PrepareStationFold(StationFold& work)
{
    const int station = work.station;
    CProjectImage* image = images->GetAt(station);
    const int nCam = cameras->GetSize();
    const int pointBase = 10 * nCam;
    const int camera = stationCache[static_cast<size_t>(station)].cameraIndex;
    const std::vector<RayEquations>& rays = work.rays;
    const int columns = 10 + 3 * static_cast<int>(rays.size());
    work.columns = columns;

    // Nss, ns and the transposed cross block Nsr' (6 x columns): the
    // camera's ten columns, then three per point in point order.
    double nss[6][6] = {};
    double ns[6] = {};
    std::vector<double>& nsrT = work.nsrT;
    nsrT.assign(static_cast<size_t>(6 * columns), 0.0);
    for (size_t r = 0; r < rays.size(); ++r) {
        const RayEquations& ray = rays[r];
        const int pc = 10 + 3 * static_cast<int>(r);
        for (int p = 0; p < 6; ++p) {
            const double b0 = ray.b[0][p], b1 = ray.b[1][p];
            for (int q = p; q < 6; ++q)
                nss[p][q] += b0 * ray.b[0][q] + b1 * ray.b[1][q];
            ns[p] += b0 * ray.l[0] + b1 * ray.l[1];
            double* row = &nsrT[static_cast<size_t>(p * columns)];
            for (int c = 0; c < 10; ++c)
                row[c] += b0 * ray.a[0][c] + b1 * ray.a[1][c];
            for (int c = 0; c < 3; ++c)
                row[pc + c] += b0 * ray.p[0][c] + b1 * ray.p[1][c];
        }
    }
    for (int p = 0; p < 6; ++p)
        AddParameterWeight(nss[p][p], ns[p], image->aprioriSigma[p], image->corrections[p]);
    for (int p = 0; p < 6; ++p)
        for (int q = 0; q < p; ++q)
            nss[p][q] = nss[q][p];
    if (!InvertStationBlock(nss))
        return false;
    CMatrix& cov = image->GetCovariance();
    cov.Resize(6, -1);
    for (int p = 0; p < 6; ++p)
        for (int q = p; q < 6; ++q)
            cov.SetAt(nss[p][q], p, q);

    CMatrix* M = new CMatrix(6, columns);
    double* const* Mr = M->GetRowTable();
    for (int p = 0; p < 6; ++p) {
        double* out = Mr[p];
        for (int q = 0; q < 6; ++q) {
            const double f = nss[p][q];
            const double* in = &nsrT[static_cast<size_t>(q * columns)];
            for (int c = 0; c < columns; ++c)
                out[c] += f * in[c];
        }
    }
    CVector* v = new CVector(6);
    for (int p = 0; p < 6; ++p) {
        double s = 0.0;
        for (int q = 0; q < 6; ++q)
            s += nss[p][q] * ns[q];
        (*v)[p] = s;
    }
    work.index.resize(static_cast<size_t>(columns));
    for (int c = 0; c < 10; ++c)
        work.index[static_cast<size_t>(c)] = 10 * camera + c;
    for (size_t r = 0; r < work.rayPoints.size(); ++r)
        for (int c = 0; c < 3; ++c)
            work.index[10 + 3 * r + static_cast<size_t>(c)] = pointBase + 3 * work.rayPoints[r] + c;
    work.M = M;
    work.v = v;
    work.owned = true;
    return true;
}

void CAdjustmentEngine::ApplyStation(const StationFold& work, int lo, int hi)
{
    const SystemRows S = ReducedRows();
    const int pointBase = 10 * cameras->GetSize();
    // The rays: camera and point blocks of the reduced system.
    for (size_t r = 0; r < work.rays.size(); ++r) {
        const RayEquations& ray = work.rays[r];
        const int i = work.rayPoints[r];
        const int c0 = 10 * ray.camera;
        const int p0 = pointBase + 3 * i;
        const double* a0 = ray.a[0];
        const double* a1 = ray.a[1];
        const double* q0 = ray.p[0];
        const double* q1 = ray.p[1];
        if (c0 < hi && c0 + 10 > lo) {
            for (int k = std::max(0, lo - c0); k < std::min(10, hi - c0); ++k) {
                double* row = S.At(c0 + k, c0 + k);
                for (int j = k; j < 10; ++j)
                    row[j - k] += a0[k] * a0[j] + a1[k] * a1[j];
                double* cross = S.At(c0 + k, p0);
                for (int j = 0; j < 3; ++j)
                    cross[j] += a0[k] * q0[j] + a1[k] * q1[j];
                rightHandSide[c0 + k] += a0[k] * ray.l[0] + a1[k] * ray.l[1];
            }
        }
        if (p0 < hi && p0 + 3 > lo) {
            double* own = &reverseFold.pointNormals[static_cast<size_t>(6 * i)];
            int k = 0;
            for (int rr = 0; rr < 3; ++rr) {
                const bool mine = p0 + rr >= lo && p0 + rr < hi;
                double* row = mine ? S.At(p0 + rr, p0 + rr) : nullptr;
                for (int c = rr; c < 3; ++c, ++k) {
                    if (!mine)
                        continue;
                    const double v = q0[rr] * q0[c] + q1[rr] * q1[c];
                    row[c - rr] += v;
                    own[k] += v;
                }
                if (mine)
                    rightHandSide[p0 + rr] += q0[rr] * ray.l[0] + q1[rr] * ray.l[1];
            }
        }
    }
    if (!work.folded || work.M == nullptr)
        return;

    // The system minus Nsr M over the touched rows and columns, the
    // right-hand side minus Nsr v.
    const int columns = work.columns;
    const std::vector<int32_t>& index = work.index;
    double* const* Mr = work.M->GetRowTable();
    const CVector& v = *work.v;
    const double* N[6];
    for (int p = 0; p < 6; ++p)
        N[p] = &work.nsrT[static_cast<size_t>(p * columns)];
    for (int a = 0; a < columns; ++a) {
        const int ra = index[static_cast<size_t>(a)];
        if (ra < lo || ra >= hi)
            continue;
        double n6[6];
        for (int p = 0; p < 6; ++p)
            n6[p] = N[p][a];
        if (S.T != nullptr) {
            double* row = S.T[ra] - ra;
            for (int b = a; b < columns; ++b) {
                double s = 0.0;
                for (int p = 0; p < 6; ++p)
                    s += n6[p] * Mr[p][b];
                row[index[static_cast<size_t>(b)]] -= s;
            }
        } else {
            // Columns of one block follow each other: one look-up per block.
            double* cell = nullptr;
            for (int b = a; b < columns; ++b) {
                const int cb = index[static_cast<size_t>(b)];
                const bool blockStart = b == a || b == 10 || (b > 10 && (b - 10) % 3 == 0);
                cell = blockStart ? S.sparse->Entry(ra, cb) : cell + 1;
                double s = 0.0;
                for (int p = 0; p < 6; ++p)
                    s += n6[p] * Mr[p][b];
                *cell -= s;
            }
        }
        double s = 0.0;
        for (int p = 0; p < 6; ++p)
            s += n6[p] * v[p];
        rightHandSide[ra] -= s;
    }
}

bool CAdjustmentEngine::UpdateCamerasAndPoints(const CVector& x)
{
    UpdateCameras(x);
    const int p0 = 10 * cameras->GetSize();
    for (int i = 0; i < points->GetSize(); ++i) {
        const double d[3] = {x[p0 + 3 * i], x[p0 + 3 * i + 1], x[p0 + 3 * i + 2]};
        UpdatePoint(*points->GetAt(i), d);
    }
    return true;
}

bool CAdjustmentEngine::UpdateStationsReverse(const CVector& x)
{
    for (int j = 0; j < images->GetSize() && j < vectorStore.GetSize(); ++j) {
        CProjectImage* image = images->GetAt(j);
        const CVector& v = *vectorStore.GetAt(j);
        const CMatrix& M = *matrixStore.GetAt(j);
        int count = 0;
        const int32_t* cols = GetFoldedColumns(j, count);
        double* const* Mr = M.GetRowTable();
        double d[6];
        for (int p = 0; p < 6; ++p) {
            double s = 0.0;
            for (int c = 0; c < count; ++c)
                s += Mr[p][c] * x[cols[c]];
            d[p] = v[p] - s;
        }
        UpdateStation(*image, d);
    }
    return true;
}
