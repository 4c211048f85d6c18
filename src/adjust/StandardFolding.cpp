// Normal equations with the points folded out (control points or the seven
// inner constraints of a free network), and the update that follows them.
//
// Each point touches only the cameras and stations that see it: its cross
// block with the reduced parameters is kept with those columns only, and its
// elimination updates only their rows and columns, so forming and folding
// cost grows with the rays, not with images times points.
#include <algorithm>
#include <atomic>
#include <cfenv>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "AdjustmentEngine.h"
#include "AdjustmentSummary.h"
#include "DenseKernels.h"
#include "Camera.h"
#include "ImageObservation.h"
#include "ImageRays.h"
#include "ObjectPoint.h"
#include "PackedNormals.h"
#include "PointSet.h"
#include "ProjectImage.h"
#include "ProjectImageList.h"
#include "ProjectSettings.h"
#include "Workers.h"

namespace {

// Leaves the elements it makes without arguments uninitialised: a ray's
// equations are all written by the forming of the ray, and a camera's share
// is set when it is added, so clearing each new one first is wasted.
template <class T>
struct UninitialisedAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = UninitialisedAllocator<U>;
    };
    UninitialisedAllocator() = default;
    template <class U>
    UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept
    {
    }
    template <class U>
    void construct(U* p) noexcept
    {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args)
    {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

} // namespace

// One point's share of the forming: its used rays and, when it folds, the
// column blocks of its cross block Npr' (3 x columns: the cameras that see
// it in camera order, its stations in image order, then the datum rows),
// M = Npp^-1 Npr' and v = Npp^-1 np.
struct CAdjustmentEngine::PointFold {
    // Reduced parameters first .. first + length - 1 at compact columns column ...
    struct ColumnBlock {
        int first;
        int column;
        int length;
    };
    int index = -1;          // the point, -1 when not in use
    bool accumulate = false; // its rays are finite and enter the system
    bool folded = false;
    std::vector<RayEquations, UninitialisedAllocator<RayEquations>> rays;
    // The sums over the rays of one camera: its packed 10 x 10 block and
    // right-hand side.
    struct CameraShare {
        int camera;
        double normal[55];
        double rhs[10];
    };
    std::vector<CameraShare, UninitialisedAllocator<CameraShare>> cameraShares;
    std::vector<ColumnBlock> blocks;
    std::vector<ColumnBlock> runs; // the blocks, neighbours in both numberings joined
    int columns = 0;
    std::vector<double> nprT;
    CMatrix* M = nullptr;
    CVector* v = nullptr;
};

// One point's elimination as tiles for the kernel: the rows they touch and
// the point's Npr' and M.
struct CAdjustmentEngine::FoldTiles {
    std::vector<densekernel::ProductTile> tiles;
    std::vector<double*> rows;
    const double* a[3] = {nullptr, nullptr, nullptr};
    const double* m[3] = {nullptr, nullptr, nullptr};
};

namespace {

// Memory of the points formed at a time, before they are added.
constexpr double kBlockBytes = 48.0 * 1024 * 1024;
// Points that follow each other in the fold order are taken in windows of
// this many; those of a window with the same column blocks are eliminated
// together (a point seen in every image shares its blocks with all others).
constexpr int kBatchPoints = 32;
// A batch's packing is shared out in this many parts.
constexpr int kPackParts = 8;

constexpr int32_t kNoOffset = INT32_MIN;

// Where row i of a packed 10 x 10 block starts.
constexpr int kCameraRowStart[10] = {0, 10, 19, 27, 34, 40, 45, 49, 52, 54};

// Two doubles at a time. Each element takes the operations of the scalar
// code in the same order (products rounded apart, then added), so the
// results are those of the element-by-element loops to the bit.
typedef double Pair __attribute__((vector_size(16)));

inline Pair LoadPair(const double* p)
{
    Pair v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void StorePair(double* p, Pair v)
{
    std::memcpy(p, &v, sizeof v);
}

// dst[j] += x p[j] + y q[j] for j < n.
inline void AddProducts(double* __restrict dst, int n, double x, const double* __restrict p, double y,
                        const double* __restrict q)
{
    const Pair xv = {x, x}, yv = {y, y};
    int j = 0;
    for (; j + 2 <= n; j += 2)
        StorePair(dst + j, LoadPair(dst + j) + (xv * LoadPair(p + j) + yv * LoadPair(q + j)));
    for (; j < n; ++j)
        dst[j] += x * p[j] + y * q[j];
}

// dst[j] = 0 + (x p[j] + y q[j]) for j < n: the sum from a cleared dst.
inline void SetProducts(double* __restrict dst, int n, double x, const double* __restrict p, double y,
                        const double* __restrict q)
{
    const Pair xv = {x, x}, yv = {y, y}, zero = {0.0, 0.0};
    int j = 0;
    for (; j + 2 <= n; j += 2)
        StorePair(dst + j, zero + (xv * LoadPair(p + j) + yv * LoadPair(q + j)));
    for (; j < n; ++j)
        dst[j] = 0.0 + (x * p[j] + y * q[j]);
}

// Where row r of the system starts: at its diagonal element.
inline double* DiagonalAt(const SystemRows& S, int r)
{
    return S.T != nullptr ? S.T[r] : S.sparse->RowBegin(r);
}

// Appends a tile field by field (a tile built whole on the stack and copied
// in was read back before its parts had been written).
inline void PushTile(std::vector<densekernel::ProductTile>& tiles, int first, int rows, int row, int column,
                     int length, int triangular, size_t dst)
{
    densekernel::ProductTile& tile = tiles.emplace_back();
    tile.first = first;
    tile.rows = rows;
    tile.row = row;
    tile.column = column;
    tile.length = length;
    tile.triangular = triangular;
    tile.dst = dst;
}

// Adds row i (0 .. Rows - 1) of one ray's own block at r0 (partials p0, p1),
// its cross block with the Width unknowns at o0 (partials q0, q1) and its
// right-hand side.
template <int Rows, int Width>
inline void AddRayRow(const SystemRows& S, double* rhs, int r0, int i, int o0, const double* p0, const double* p1,
                      const double* q0, const double* q1, const double l[2])
{
    const double a = p0[i], b = p1[i];
    AddProducts(DiagonalAt(S, r0 + i), Rows - i, a, p0 + i, b, p1 + i);
    if (Width > 0)
        AddProducts(S.At(r0 + i, o0), Width, a, q0, b, q1);
    rhs[r0 + i] += a * l[0] + b * l[1];
}

} // namespace

bool CAdjustmentEngine::FormNormalsFreeStandard(int& equations)
{
    return FormNormalsStandard(true, equations);
}

bool CAdjustmentEngine::FormNormalsControlStandard(int& equations)
{
    return FormNormalsStandard(false, equations);
}

// The points are formed in blocks: the points of a block in parallel (each
// touches only its own point and observations), then added into the system
// by bands of rows, each band by one worker taking the block's points in
// fold order. Every element so receives its terms in the order of a single
// thread, whatever the number of workers.
bool CAdjustmentEngine::FormNormalsStandard(bool freeNetwork, int& equations)
{
    equations = 0;
    progress.phase = PHASE_FORMING_NORMALS;
    summary->vv = 0.0;
    int usedPoints = 0;
    const int nCam = cameras->GetSize();
    const int nSta = images->GetSize();
    const int n = reducedCount;
    SystemRows target = ReducedRows();
    if (freeNetwork) {
        target.T = bordered->GetRowTable();
        target.sparse = nullptr;
        target.order = n + 7;
    }
    rightHandSide.Resize(0);
    rightHandSide.Resize(freeNetwork ? n + 7 : n);
    FillStationCache();
    const int nPoints = points->GetSize();
    if (static_cast<int>(standardFold.foldOrder.size()) != nPoints) {
        standardFold.foldOrder.resize(static_cast<size_t>(nPoints));
        for (int i = 0; i < nPoints; ++i)
            standardFold.foldOrder[static_cast<size_t>(i)] = i;
    }
    ReleasePending();
    standardFold.pendingMatrix.assign(static_cast<size_t>(nPoints), nullptr);
    standardFold.pendingVector.assign(static_cast<size_t>(nPoints), nullptr);
    standardFold.pendingColumnStart.assign(static_cast<size_t>(nPoints), 0);
    standardFold.pendingColumnCount.assign(static_cast<size_t>(nPoints), 0);
    standardFold.pendingColumns.clear();

    const int workers = GetWorkerCount();
    const double raysPerPoint =
        nPoints > 0 ? static_cast<double>(rayImages.size()) / static_cast<double>(nPoints) : 0.0;
    const double columnsPerPoint = 6.0 * raysPerPoint + 10.0 * std::min(nCam, 4) + 7.0;
    const double bytesPerPoint = raysPerPoint * sizeof(RayEquations) + 56.0 * columnsPerPoint + 256.0;
    // Blocks of whole batch windows, so that the batches (and with them the
    // order of every element's terms) do not depend on the workers.
    int block = std::max(4 * workers, std::min(64 * workers, static_cast<int>(kBlockBytes / bytesPerPoint)));
    block = (block + kBatchPoints - 1) / kBatchPoints * kBatchPoints;
    std::vector<PointFold> work(static_cast<size_t>(std::max(1, std::min(block, nPoints))));
    const int rows = freeNetwork ? n + 7 : n;
    const int bandCount = workers == 1 ? 1 : std::max(1, std::min(rows, 8 * workers));
    const std::vector<int> band = BandRows(rows, bandCount, columnsPerPoint);

    standardFold.stationCross.assign(60 * static_cast<size_t>(nSta), 0.0);
    std::atomic<int> nextPoint{0};
    std::atomic<int> nextBand{0};
    std::atomic<size_t> nextWindow{0};
    std::atomic<bool> aborted{false};
    int formed = 0; // points of the block last formed
    bool packing = false; // a window of the block has a batch to pack

    // The serial part of a block, in fold order: the square sum, the counts
    // and the folded blocks into the pending stores.
    auto merge = [&](int count) {
        for (int t = 0; t < count; ++t) {
            PointFold& w = work[static_cast<size_t>(t)];
            if (w.index < 0)
                continue;
            if (w.accumulate)
                for (const RayEquations& ray : w.rays)
                    target.SquareSum() += ray.l[0] * ray.l[0] + ray.l[1] * ray.l[1];
            if (!w.folded)
                continue;
            const CObjectPoint* point = points->GetAt(w.index);
            equations += 2 * static_cast<int>(w.rays.size());
            ++usedPoints;
            summary->vv += point->rms;
            const size_t slot = static_cast<size_t>(w.index);
            standardFold.pendingVector[slot] = w.v;
            standardFold.pendingMatrix[slot] = w.M;
            standardFold.pendingColumnStart[slot] = static_cast<int32_t>(standardFold.pendingColumns.size());
            standardFold.pendingColumnCount[slot] = w.columns;
            std::vector<int32_t>& columns = standardFold.pendingColumns;
            for (const PointFold::ColumnBlock& b : w.blocks) {
                const size_t at = columns.size();
                columns.resize(at + static_cast<size_t>(b.length));
                for (int c = 0; c < b.length; ++c)
                    columns[at + static_cast<size_t>(c)] = b.first + c;
            }
        }
        for (int t = count - 1; t >= 0; --t) {
            const PointFold& w = work[static_cast<size_t>(t)];
            if (w.index < 0)
                continue;
            progress.pointNumber = w.index + 1;
            progress.SetPointLabel(points->GetAt(w.index)->label);
            break;
        }
    };

    // The batches of each window of the block just formed: the folded points
    // with the blocks of the window's first, the others one by one.
    struct Window {
        int first = 0, end = 0;
        std::vector<const PointFold*> batch;
        std::vector<int> singles;
        std::vector<double> packed;           // the batch's M, run by run
        std::vector<const double*> packedRun; // where each run starts in packed
    };
    std::vector<Window> windows;
    auto SameColumns = [](const PointFold& x, const PointFold& y) {
        if (x.columns != y.columns || x.runs.size() != y.runs.size())
            return false;
        for (size_t r = 0; r < x.runs.size(); ++r) {
            const PointFold::ColumnBlock &u = x.runs[r], &v = y.runs[r];
            if (u.first != v.first || u.column != v.column || u.length != v.length)
                return false;
        }
        return true;
    };
    auto plan = [&](int count) {
        windows.resize(static_cast<size_t>((count + kBatchPoints - 1) / kBatchPoints));
        for (size_t wi = 0; wi < windows.size(); ++wi) {
            Window& w = windows[wi];
            w.first = static_cast<int>(wi) * kBatchPoints;
            w.end = std::min(count, w.first + kBatchPoints);
            w.batch.clear();
            w.singles.clear();
            for (int t = w.first; t < w.end; ++t) {
                const PointFold& p = work[static_cast<size_t>(t)];
                if (p.index < 0 || !p.accumulate || !p.folded)
                    continue;
                if (w.batch.empty() || SameColumns(*w.batch.front(), p))
                    w.batch.push_back(&p);
                else
                    w.singles.push_back(t);
            }
            if (w.batch.size() == 1) {
                w.singles.insert(w.singles.begin(), static_cast<int>(w.batch.front() - work.data()));
                w.batch.clear();
            }
        }
    };
    // The batch's M packed once for all bands: room made in the plan, the
    // packing shared out by parts of each run's chunks.
    auto room = [&](Window& w) {
        w.packedRun.clear();
        if (w.batch.size() < 2)
            return;
        const int k = 3 * static_cast<int>(w.batch.size());
        const std::vector<PointFold::ColumnBlock>& runs = w.batch.front()->runs;
        std::vector<size_t> at(runs.size() + 1, 0);
        for (size_t r = 0; r < runs.size(); ++r)
            at[r + 1] = at[r] + densekernel::FoldPackedSize(runs[r].length, k);
        if (w.packed.size() < at.back())
            w.packed.resize(at.back());
        for (size_t r = 0; r < runs.size(); ++r)
            w.packedRun.push_back(w.packed.data() + at[r]);
    };
    auto pack = [&](Window& w, int part) {
        if (w.batch.size() < 2)
            return;
        const int count = static_cast<int>(w.batch.size());
        const int width = densekernel::FoldWidth();
        const std::vector<PointFold::ColumnBlock>& runs = w.batch.front()->runs;
        for (size_t r = 0; r < runs.size(); ++r) {
            const int chunks = (runs[r].length + width - 1) / width;
            const int m0 = chunks * part / kPackParts, m1 = chunks * (part + 1) / kPackParts;
            if (m1 <= m0)
                continue;
            const int c0 = m0 * width, c1 = std::min(runs[r].length, m1 * width);
            double* out = w.packed.data() + (w.packedRun[r] - w.packed.data()) +
                          static_cast<size_t>(m0) * 3 * static_cast<size_t>(count) * static_cast<size_t>(width);
            PackRun(w.batch.data(), count, runs[r].column + c0, c1 - c0, out);
        }
    };

    CObjectPoint* const* pointData = points->GetData();
    RunOnWorkers(workers, [&](int worker, int, CWorkerBarrier& barrier) {
        std::vector<int32_t> cameraSlot(static_cast<size_t>(nCam), -1);
        std::vector<LocatedPair> located(4096, LocatedPair{-1, -1, kNoOffset});
        FoldTiles foldTiles;
        for (int begin = 0; begin < nPoints; begin += block) {
            const int count = std::min(nPoints - begin, block);
            for (int t = nextPoint.fetch_add(1); t < count; t = nextPoint.fetch_add(1)) {
                const int i = standardFold.foldOrder[static_cast<size_t>(begin + t)];
                // (The points that follow on one worker arrive meanwhile.)
                FetchFoldAhead(static_cast<size_t>(begin + t), pointData, workers == 1);
                if (!FormPoint(i, freeNetwork, work[static_cast<size_t>(t)], cameraSlot))
                    aborted = true;
            }
            barrier.Wait();
            if (worker == 0)
                formed = count;
            if (aborted)
                return;
            if (worker == 0) {
                nextPoint = 0;
                plan(count);
                packing = false;
                for (Window& w : windows) {
                    room(w);
                    packing = packing || w.batch.size() > 1;
                }
                nextWindow = 0;
            }
            barrier.Wait();
            if (packing) {
                const size_t packTasks = windows.size() * kPackParts;
                for (size_t task = nextWindow.fetch_add(1); task < packTasks; task = nextWindow.fetch_add(1))
                    pack(windows[task / kPackParts], static_cast<int>(task % kPackParts));
                barrier.Wait();
            }
            // The first worker takes the block into the stores before it
            // joins the others on the bands.
            if (worker == 0)
                merge(count);
            for (int b = nextBand.fetch_add(1); b < bandCount; b = nextBand.fetch_add(1)) {
                const int lo = band[static_cast<size_t>(b)], hi = band[static_cast<size_t>(b) + 1];
                for (const Window& w : windows) {
                    for (int t = w.first; t < w.end; ++t)
                        ApplyRays(work[static_cast<size_t>(t)], target, lo, hi);
                    if (w.batch.size() > 1)
                        ApplyFoldBatch(w.batch.data(), static_cast<int>(w.batch.size()), w.packedRun.data(),
                                       target, lo, hi);
                    for (int t : w.singles)
                        if (BuildFoldTiles(work[static_cast<size_t>(t)], target, lo, hi, located, foldTiles))
                            ApplyFoldTiles(foldTiles, lo, hi);
                }
            }
            barrier.Wait();
            if (worker == 0)
                nextBand = 0;
        }
    });
    if (aborted) {
        // The last block's folded points were not taken into the stores.
        for (int t = 0; t < formed; ++t) {
            delete work[static_cast<size_t>(t)].M;
            delete work[static_cast<size_t>(t)].v;
        }
        ReleasePending();
        ReleaseSpares();
        return false;
    }

    // The camera-station blocks of the rays.
    for (int j = 0; j < nSta; ++j) {
        const int camera = stationCache[static_cast<size_t>(j)].cameraIndex;
        if (camera < 0)
            continue;
        const double* cross = &standardFold.stationCross[60 * static_cast<size_t>(j)];
        for (int i = 0; i < 10; ++i) {
            double* row = target.At(10 * camera + i, 10 * nCam + 6 * j);
            for (int c = 0; c < 6; ++c)
                row[c] += cross[6 * i + c];
        }
    }
    StorePending();
    ReleaseSpares();
    summary->parameters = 3 * usedPoints + 6 * nSta + 10 * UsedCameraCount();
    if (!AddParameterConstraints(target))
        return false;
    if (freeNetwork && !ReduceDatum())
        return false;
    return true;
}

bool CAdjustmentEngine::FormPoint(int i, bool freeNetwork, PointFold& work, std::vector<int32_t>& cameraSlot)
{
    work.index = -1;
    work.accumulate = false;
    work.folded = false;
    work.rays.clear();
    work.M = nullptr;
    work.v = nullptr;
    CObjectPoint* point = points->GetAt(i);
    if (point == nullptr || !point->inUse)
        return true;
    work.index = i;
    point->rms = 0.0;
    point->unsolved = false;
    const int nSta = images->GetSize();

    const int faultsBefore = std::fetestexcept(kFaults);
    const bool finitePoint = std::isfinite(point->x) && std::isfinite(point->y) && std::isfinite(point->z) &&
                             point->observationIndex.GetSize() == nSta;
    const int firstRay = i < static_cast<int>(rayStart.size()) ? rayStart[static_cast<size_t>(i)] : 0;
    const int endRay = i + 1 < static_cast<int>(rayStart.size()) ? rayStart[static_cast<size_t>(i) + 1]
                                                                   : static_cast<int>(rayImages.size());
    // The merge listed the rays' observations. Each lies elsewhere in
    // memory: fetched ahead, their misses overlap.
    CImageObservation* const* observations = rayObservations.data();
    for (int r = firstRay; finitePoint && r < endRay; ++r)
        if (const CImageObservation* obs = observations[r])
            PrefetchObservation(obs);
    for (int r = firstRay; finitePoint && r < endRay; ++r) {
        if (AbortRequested())
            return false;
        const int j = rayImages[static_cast<size_t>(r)];
        CImageObservation* obs = observations[r];
        if (obs == nullptr)
            continue;
        const StationCache& station = stationCache[static_cast<size_t>(j)];
        obs->rejected = false;
        work.rays.emplace_back();
        RayEquations& ray = work.rays.back();
        if (!FormRay(station, *station.image, *obs, *point, ray)) {
            work.rays.pop_back();
            obs->rejected = true;
            progress.rejectedCount.fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        ray.station = j;
    }

    // A point whose numbers are not finite fails as a point and adds nothing.
    bool finite = finitePoint && !(std::fetestexcept(kFaults) & ~faultsBefore);
    for (size_t r = 0; finite && r < work.rays.size(); ++r) {
        const RayEquations& ray = work.rays[r];
        finite = AllFinite(&ray.a[0][0], 20) && AllFinite(&ray.b[0][0], 12) && AllFinite(ray.l, 2);
    }
    work.accumulate = finite;
    work.cameraShares.clear();
    for (size_t r = 0; finite && r < work.rays.size(); ++r) {
        const RayEquations& ray = work.rays[r];
        PointFold::CameraShare* share = nullptr;
        for (PointFold::CameraShare& c : work.cameraShares)
            if (c.camera == ray.camera)
                share = &c;
        if (share == nullptr) {
            work.cameraShares.emplace_back();
            share = &work.cameraShares.back();
            share->camera = ray.camera;
            std::fill(share->normal, share->normal + 55, 0.0);
            std::fill(share->rhs, share->rhs + 10, 0.0);
        }
        const double* a0 = ray.a[0];
        const double* a1 = ray.a[1];
        for (int i = 0; i < 10; ++i)
            AddProducts(share->normal + kCameraRowStart[i], 10 - i, a0[i], a0 + i, a1[i], a1 + i);
        AddProducts(share->rhs, 10, ray.l[0], a0, ray.l[1], a1);
    }

    const int rays = finite ? static_cast<int>(work.rays.size()) : 0;
    if (finite && rays >= settings->minimumRays && rays > 0)
        work.folded = PrepareFold(*point, freeNetwork, work, cameraSlot);
    if (!work.folded) {
        // A fault the point raised is handled by its failure. (A fault
        // raised by a point that still folded stays for the run's check.)
        const int raised = std::fetestexcept(kFaults) & ~faultsBefore;
        if (raised)
            std::feclearexcept(raised);
        point->usedRayCount = 0;
        point->unsolved = true;
        for (int r = firstRay; r < endRay; ++r) {
            const int j = rayImages[static_cast<size_t>(r)];
            if (j >= point->observationIndex.GetSize())
                continue;
            CProjectImage* image = images->GetAt(j);
            const int index = point->observationIndex[j];
            if (index >= 0 && index < image->targets.GetSize())
                image->targets.GetAt(index)->rejected = true;
        }
        return true;
    }
    point->usedRayCount = rays;
    return true;
}

// What the forming of the points that follow position in the fold order
// will read, asked for in stages: each stage reads only what the stage
// before (one point earlier) has fetched, so no miss waits here. The
// points' data lie in the order of the set, not of the fold. Blocks that
// other workers may be changing are read only when one worker forms all.
void CAdjustmentEngine::FetchFoldAhead(size_t position, CObjectPoint* const* pointData, bool alone) const
{
    const std::vector<int32_t>& order = standardFold.foldOrder;
    const size_t nPoints = static_cast<size_t>(points->GetSize());
    const size_t rayPoints = rayStart.size();
    auto at = [&](size_t ahead) -> int {
        if (position + ahead >= order.size())
            return -1;
        const int i = order[position + ahead];
        return i >= 0 && static_cast<size_t>(i) < nPoints && static_cast<size_t>(i) + 1 < rayPoints ? i : -1;
    };
    const std::vector<CMatrix*>& spareM = standardFold.spareMatrix;
    const std::vector<CVector*>& spareV = standardFold.spareVector;
    auto spare = [](const auto& spares, int i) {
        return static_cast<size_t>(i) < spares.size() ? spares[static_cast<size_t>(i)] : nullptr;
    };
    if (const int i = at(4); i >= 0) {
        __builtin_prefetch(&rayStart[static_cast<size_t>(i)]);
        __builtin_prefetch(&pointData[i]);
        if (alone && static_cast<size_t>(i) < spareM.size())
            __builtin_prefetch(&spareM[static_cast<size_t>(i)]);
        if (alone && static_cast<size_t>(i) < spareV.size())
            __builtin_prefetch(&spareV[static_cast<size_t>(i)]);
    }
    if (const int i = at(3); i >= 0) {
        const int first = rayStart[static_cast<size_t>(i)], end = rayStart[static_cast<size_t>(i) + 1];
        for (int r = first; r < end; r += 8)
            __builtin_prefetch(&rayObservations[static_cast<size_t>(r)]);
        if (end > first) {
            __builtin_prefetch(&rayObservations[static_cast<size_t>(end) - 1]);
            __builtin_prefetch(&rayImages[static_cast<size_t>(first)]);
            __builtin_prefetch(&rayImages[static_cast<size_t>(end) - 1]);
        }
        __builtin_prefetch(pointData[i]);
        if (const CMatrix* M = alone ? spare(spareM, i) : nullptr)
            __builtin_prefetch(M);
        if (const CVector* v = alone ? spare(spareV, i) : nullptr)
            __builtin_prefetch(v);
    }
    if (const int i = at(2); i >= 0) {
        const int first = rayStart[static_cast<size_t>(i)], end = rayStart[static_cast<size_t>(i) + 1];
        for (int r = first; r < end; ++r)
            if (const CImageObservation* obs = rayObservations[static_cast<size_t>(r)])
                PrefetchObservation(obs);
        if (const CObjectPoint* point = pointData[i]) {
            PrefetchPoint(point);
            if (alone)
                __builtin_prefetch(point->limitingCovariance.GetRowTable());
        }
        if (!alone)
            return;
        if (const CMatrix* M = spare(spareM, i))
            __builtin_prefetch(M->GetRowTable());
        if (const CVector* v = spare(spareV, i))
            __builtin_prefetch(v->GetData(), 1);
    }
    if (const int i = alone ? at(1) : -1; i >= 0) {
        // M is written whole by the forming.
        if (const CMatrix* M = spare(spareM, i)) {
            double* const* rows = M->GetRowTable();
            const int cols = M->GetCols();
            for (int r = 0; rows != nullptr && r < M->GetRows(); ++r)
                for (int c = 0; c < cols; c += 8)
                    __builtin_prefetch(rows[r] + c, 1);
        }
        if (const CObjectPoint* point = pointData[i])
            if (double* const* rows = point->limitingCovariance.GetRowTable())
                __builtin_prefetch(rows[0], 1);
    }
}

// The rays' own terms in rows lo .. hi - 1: the point's sums over its rays
// in the camera rows, each ray's station block and right-hand side, and its
// camera-station block into the station's cross store (the band of the
// station's rows owns it).
void CAdjustmentEngine::ApplyRays(const PointFold& work, const SystemRows& S, int lo, int hi)
{
    if (!work.accumulate)
        return;
    double* rhs = &rightHandSide[0];
    const int nCam = cameras->GetSize();
    for (const PointFold::CameraShare& share : work.cameraShares) {
        const int c0 = 10 * share.camera;
        if (c0 >= hi || c0 + 10 <= lo)
            continue;
        const int i1 = std::min(10, hi - c0);
        for (int i = std::max(0, lo - c0); i < i1; ++i) {
            double* row = DiagonalAt(S, c0 + i);
            const double* sum = share.normal + kCameraRowStart[i];
            for (int j = i; j < 10; ++j)
                row[j - i] += sum[j - i];
            rhs[c0 + i] += share.rhs[i];
        }
    }
    // The rays are in station order: those whose rows meet the band.
    const int before = lo - 5 - 10 * nCam; // station s meets the band when 6 s >= before
    const int firstStation = before <= 0 ? 0 : (before + 5) / 6;
    auto ray = std::lower_bound(work.rays.begin(), work.rays.end(), firstStation,
                                [](const RayEquations& r, int station) { return r.station < station; });
    for (; ray != work.rays.end(); ++ray) {
        const int s0 = 10 * nCam + 6 * ray->station;
        if (s0 >= hi)
            break;
        const int i1 = std::min(6, hi - s0);
        for (int i = std::max(0, lo - s0); i < i1; ++i)
            AddRayRow<6, 0>(S, rhs, s0, i, s0, ray->b[0], ray->b[1], nullptr, nullptr, ray->l);
        if (s0 >= lo) {
            // The band of the station's first row owns its cross store.
            double* cross = &standardFold.stationCross[60 * static_cast<size_t>(ray->station)];
            for (int i = 0; i < 10; ++i)
                AddProducts(cross + 6 * i, 6, ray->a[0][i], ray->b[0], ray->a[1][i], ray->b[1]);
        }
    }
}

// Where element (row, column) of a sparse system lies from the first of
// its row, row the first of its block (kNoOffset: outside the pattern).
// The points of a band meet the same pairs of blocks again and again: the
// lookups go through a small table of the worker's, kept for one forming.
int32_t CAdjustmentEngine::Locate(CSparseNormals& system, int row, int column, std::vector<LocatedPair>& located)
{
    // (The table's size is a power of two.)
    const size_t slot = (static_cast<size_t>(row) * 40503u + static_cast<size_t>(column)) & (located.size() - 1);
    LocatedPair& entry = located[slot];
    if (entry.row != row || entry.column != column) {
        entry = LocatedPair{row, column, kNoOffset};
        if (const double* at = system.Entry(row, column)) {
            const ptrdiff_t d = at - system.RowBegin(row);
            if (d < INT32_MAX)
                entry.offset = static_cast<int32_t>(d);
        }
    }
    return entry.offset;
}

// The system minus Npr M over the touched rows and columns, the right-hand
// side minus Npr v: the rows of each block of the point that meets the band
// by tiles, one per run from the block's own on (that one a triangle), all
// in one call of the kernel. Building them takes Npr v from the right-hand
// side (the kernel does not touch it).
bool CAdjustmentEngine::BuildFoldTiles(const PointFold& work, const SystemRows& S, int lo, int hi,
                                       std::vector<LocatedPair>& located, FoldTiles& out)
{
    if (!work.accumulate || !work.folded)
        return false;
    std::vector<densekernel::ProductTile>& tiles = out.tiles;
    std::vector<double*>& rows = out.rows;
    tiles.clear();
    rows.clear();
    double* rhs = &rightHandSide[0];
    const int n = work.columns;
    const double* N0 = work.nprT.data();
    const double* N1 = N0 + n;
    const double* N2 = N1 + n;
    const CVector& v = *work.v;
    const size_t runCount = work.runs.size();
    // The first block that meets the band, and its run.
    const auto meets = std::partition_point(work.blocks.begin(), work.blocks.end(),
                                            [lo](const PointFold::ColumnBlock& a) { return a.first + a.length <= lo; });
    if (meets == work.blocks.end() || meets->first >= hi)
        return false;
    size_t own = static_cast<size_t>(
        std::partition_point(work.runs.begin(), work.runs.end(),
                             [&](const PointFold::ColumnBlock& r) { return r.column + r.length <= meets->column; }) -
        work.runs.begin());
    for (size_t b = static_cast<size_t>(meets - work.blocks.begin()); b < work.blocks.size(); ++b) {
        const PointFold::ColumnBlock& a = work.blocks[b];
        if (a.first >= hi)
            break;
        while (work.runs[own].column + work.runs[own].length <= a.column)
            ++own;
        const int ownEnd = work.runs[own].column + work.runs[own].length;
        const size_t rowAt = rows.size();
        PushTile(tiles, a.first, a.length, a.column, a.column, ownEnd - a.column, 1, rowAt);
        const int i0 = std::max(0, lo - a.first);
        const int i1 = std::min(a.length, hi - a.first);
        rows.resize(rowAt + static_cast<size_t>(a.length), nullptr);
        for (int i = i0; i < i1; ++i)
            rows[rowAt + static_cast<size_t>(i)] = DiagonalAt(S, a.first + i);
        for (int i = i0; i < i1; ++i) {
            const int ci = a.column + i;
            rhs[a.first + i] -= N0[ci] * v[0] + N1[ci] * v[1] + N2[ci] * v[2];
        }
        for (size_t r = own + 1; r < runCount; ++r) {
            const PointFold::ColumnBlock& B = work.runs[r];
            PushTile(tiles, a.first, a.length, a.column, B.column, B.length, 0, rows.size());
            const int32_t offset = S.T != nullptr ? B.first - a.first : Locate(*S.sparse, a.first, B.first, located);
            const size_t at = rows.size();
            rows.resize(at + static_cast<size_t>(a.length), nullptr);
            for (int i = i0; i < i1; ++i) {
                double* row = rows[rowAt + static_cast<size_t>(i)];
                rows[at + static_cast<size_t>(i)] = offset != kNoOffset ? row + offset - i : S.At(a.first + i, B.first);
            }
        }
    }
    if (tiles.empty())
        return false;
    double* const* Mr = work.M->GetRowTable();
    out.a[0] = N0;
    out.a[1] = N1;
    out.a[2] = N2;
    for (int r = 0; r < 3; ++r)
        out.m[r] = Mr[r];
    return true;
}

void CAdjustmentEngine::ApplyFoldTiles(const FoldTiles& t, int lo, int hi)
{
    densekernel::SubtractTileProducts(t.tiles.data(), static_cast<int>(t.tiles.size()), t.rows.data(), t.a, t.m, 3,
                                      lo, hi);
}

// The system minus Npr M over the touched rows and columns, the right-hand
// side minus Npr v, for points whose column blocks are the same: the terms
// of all of them in one pass over each row. packed holds, per run of
// columns, the batch's rows of M packed for the kernel (null: packed here).
void CAdjustmentEngine::ApplyFoldBatch(const PointFold* const* batch, int count, const double* const* packed,
                                       const SystemRows& S, int lo, int hi)
{
    if (count <= 0)
        return;
    double* rhs = &rightHandSide[0];
    const PointFold& lead = *batch[0];
    const int k = 3 * count;
    std::vector<const double*> a(static_cast<size_t>(k));
    std::vector<double*> dst;
    std::vector<double> own;
    const size_t blockCount = lead.runs.size();
    for (size_t ba = 0; ba < blockCount; ++ba) {
        const PointFold::ColumnBlock& A = lead.runs[ba];
        if (A.first >= hi || A.first + A.length <= lo)
            continue;
        const int i0 = std::max(0, lo - A.first);
        const int i1 = std::min(A.length, hi - A.first);
        const int rows = i1 - i0;
        dst.resize(static_cast<size_t>(rows));
        for (int p = 0; p < count; ++p)
            for (int r = 0; r < 3; ++r)
                a[static_cast<size_t>(3 * p + r)] =
                    batch[p]->nprT.data() + static_cast<size_t>(r) * batch[p]->columns + A.column + i0;
        for (size_t bb = ba; bb < blockCount; ++bb) {
            const PointFold::ColumnBlock& B = lead.runs[bb];
            const bool same = bb == ba;
            const int c0 = same ? i0 : 0;
            for (int r = 0; r < rows; ++r)
                dst[static_cast<size_t>(r)] = S.At(A.first + i0 + r, B.first + c0 + (same ? r : 0));
            const double* columns = packed != nullptr ? packed[bb] : nullptr;
            if (columns == nullptr) {
                own.resize(densekernel::FoldPackedSize(B.length, k));
                PackRun(batch, count, B.column, B.length, own.data());
                columns = own.data();
            }
            densekernel::SubtractPackedProducts(dst.data(), rows, B.length - c0, same, a.data(), columns, c0, k);
        }
        for (int p = 0; p < count; ++p) {
            const PointFold& w = *batch[p];
            const double* N0 = w.nprT.data() + A.column;
            const double* N1 = N0 + w.columns;
            const double* N2 = N1 + w.columns;
            const CVector& v = *w.v;
            for (int i = i0; i < i1; ++i)
                rhs[A.first + i] -= N0[i] * v[0] + N1[i] * v[1] + N2[i] * v[2];
        }
    }
}

// The rows of M of a batch over one run of columns, packed for the kernel.
void CAdjustmentEngine::PackRun(const PointFold* const* batch, int count, int column, int length, double* out)
{
    std::vector<const double*> rows(static_cast<size_t>(3 * count));
    for (int p = 0; p < count; ++p) {
        double* const* Mr = batch[p]->M->GetRowTable();
        for (int r = 0; r < 3; ++r)
            rows[static_cast<size_t>(3 * p + r)] = Mr[r] + column;
    }
    densekernel::PackFoldColumns(rows.data(), length, 3 * count, out);
}

namespace {

// Deletes the blocks held and leaves null in their places.
void DeleteHeld(std::vector<CMatrix*>& matrices, std::vector<CVector*>& vectors)
{
    for (CMatrix*& m : matrices) {
        delete m;
        m = nullptr;
    }
    for (CVector*& v : vectors) {
        delete v;
        v = nullptr;
    }
}

} // namespace

void CAdjustmentEngine::ReleasePending()
{
    DeleteHeld(standardFold.pendingMatrix, standardFold.pendingVector);
}

// The stores of the last pass are emptied; under the standard folding
// their blocks are kept by point for the next forming, which takes them
// again for points whose columns have not changed.
void CAdjustmentEngine::RecycleStores()
{
    const size_t stored = standardFold.storedPoint.size();
    if (stored > 0 && stored == static_cast<size_t>(matrixStore.GetSize()) &&
        stored == static_cast<size_t>(vectorStore.GetSize())) {
        const size_t nPoints = static_cast<size_t>(points->GetSize());
        standardFold.spareMatrix.resize(nPoints, nullptr);
        standardFold.spareVector.resize(nPoints, nullptr);
        CDynArray<CMatrix>& matrices = matrixStore.GetArray();
        CDynArray<CVector>& vectors = vectorStore.GetArray();
        for (size_t k = 0; k < stored; ++k) {
            const size_t i = static_cast<size_t>(standardFold.storedPoint[k]);
            if (i >= nPoints || standardFold.spareMatrix[i] != nullptr || standardFold.spareVector[i] != nullptr)
                continue;
            standardFold.spareMatrix[i] = matrices.GetAt(static_cast<int>(k));
            standardFold.spareVector[i] = vectors.GetAt(static_cast<int>(k));
            matrices.SetAt(static_cast<int>(k), nullptr);
            vectors.SetAt(static_cast<int>(k), nullptr);
        }
    }
    standardFold.storedPoint.clear();
    matrixStore.RemoveAll();
    vectorStore.RemoveAll();
}

// The blocks kept for a point index, taken out (null when none).
template <class T>
T* CAdjustmentEngine::TakeSpare(std::vector<T*>& spares, int index)
{
    if (index < 0 || static_cast<size_t>(index) >= spares.size())
        return nullptr;
    T* spare = spares[static_cast<size_t>(index)];
    spares[static_cast<size_t>(index)] = nullptr;
    return spare;
}

void CAdjustmentEngine::ReleaseSpares()
{
    DeleteHeld(standardFold.spareMatrix, standardFold.spareVector);
}

// The folded points' blocks go into the stores in the order of the set.
void CAdjustmentEngine::StorePending()
{
    for (size_t i = 0; i < standardFold.pendingMatrix.size(); ++i) {
        if (standardFold.pendingMatrix[i] == nullptr)
            continue;
        matrixStore.GetArray().Add(standardFold.pendingMatrix[i]);
        vectorStore.GetArray().Add(standardFold.pendingVector[i]);
        standardFold.storedPoint.push_back(static_cast<int32_t>(i));
        standardFold.pendingMatrix[i] = nullptr;
        standardFold.pendingVector[i] = nullptr;
        foldedColumnStart.push_back(static_cast<int32_t>(foldedColumns.size()));
        const auto first = standardFold.pendingColumns.begin() + standardFold.pendingColumnStart[i];
        foldedColumns.insert(foldedColumns.end(), first, first + standardFold.pendingColumnCount[i]);
    }
}

// Npp, np and the cross block of a point whose used rays are in work, then
// Npp^-1 (the point's limiting covariance), M and v. False, nothing kept,
// when its 3 x 3 block cannot be inverted or the results are not finite.
bool CAdjustmentEngine::PrepareFold(CObjectPoint& point, bool freeNetwork, PointFold& work,
                                    std::vector<int32_t>& cameraSlot)
{
    const int n = reducedCount;
    const int nCam = cameras->GetSize();

    // Column blocks: the cameras that see the point (in camera order), its
    // stations (in image order), then the datum rows.
    std::vector<PointFold::ColumnBlock>& block = work.blocks;
    block.clear();
    int columns = 0;
    for (const RayEquations& ray : work.rays) {
        if (cameraSlot[static_cast<size_t>(ray.camera)] < 0) {
            cameraSlot[static_cast<size_t>(ray.camera)] = 0;
            block.push_back(PointFold::ColumnBlock{10 * ray.camera, 0, 10});
        }
    }
    std::sort(block.begin(), block.end(),
              [](const PointFold::ColumnBlock& a, const PointFold::ColumnBlock& b) { return a.first < b.first; });
    for (PointFold::ColumnBlock& b : block) {
        cameraSlot[static_cast<size_t>(b.first / 10)] = columns;
        b.column = columns;
        columns += 10;
    }
    const size_t cameraBlocks = block.size();
    for (const RayEquations& ray : work.rays) {
        block.push_back(PointFold::ColumnBlock{10 * nCam + 6 * ray.station, columns, 6});
        columns += 6;
    }
    if (freeNetwork) {
        block.push_back(PointFold::ColumnBlock{n, columns, 7});
        columns += 7;
    }
    work.columns = columns;

    // Npp, np and the transposed cross block Npr' (3 x columns). A camera's
    // columns sum the terms of its rays; a station's take one ray's only
    // (0 + t, as the sum from zero would be), so they are not cleared first.
    double npp[3][3] = {{0.0, 0.0, 0.0}, {0.0, 0.0, 0.0}, {0.0, 0.0, 0.0}};
    double np[3] = {0.0, 0.0, 0.0};
    work.nprT.resize(static_cast<size_t>(3 * columns));
    double* N0 = work.nprT.data();
    double* N1 = N0 + columns;
    double* N2 = N1 + columns;
    double* Nr[3] = {N0, N1, N2};
    for (int r = 0; r < 3; ++r)
        std::fill(Nr[r], Nr[r] + 10 * cameraBlocks, 0.0);
    size_t stationBlock = cameraBlocks;
    for (const RayEquations& ray : work.rays) {
        const double(*P)[3] = ray.p;
        for (int r = 0; r < 3; ++r) {
            for (int s = r; s < 3; ++s)
                npp[r][s] += P[0][r] * P[0][s] + P[1][r] * P[1][s];
            np[r] += P[0][r] * ray.l[0] + P[1][r] * ray.l[1];
        }
        const int camera = cameraSlot[static_cast<size_t>(ray.camera)];
        const int station = block[stationBlock].column;
        for (int r = 0; r < 3; ++r) {
            AddProducts(Nr[r] + camera, 10, P[0][r], ray.a[0], P[1][r], ray.a[1]);
            SetProducts(Nr[r] + station, 6, P[0][r], ray.b[0], P[1][r], ray.b[1]);
        }
        ++stationBlock;
    }
    for (size_t b = 0; b < cameraBlocks; ++b)
        cameraSlot[static_cast<size_t>(block[b].first / 10)] = -1;

    if (freeNetwork) {
        // Datum rows tx, ty, tz, three rotations and scale, at the point's
        // present coordinates; Npr' holds their transpose.
        const double X = point.x, Y = point.y, Z = point.z;
        const double g[7][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, Z, -Y}, {-Z, 0, X}, {Y, -X, 0}, {X, Y, Z}};
        const int d0 = columns - 7;
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 7; ++c)
                Nr[r][d0 + c] = g[c][r];
    }

    // A control point's coordinates enter as weighted observations.
    if (!freeNetwork && point.updated) {
        for (int a = 0; a < 3; ++a) {
            const double s = point.aprioriSigma[a];
            if (!std::isless(s, kFreeSigma) && !std::isnan(s))
                continue;
            // A sigma that is not a number, or too small to give a finite
            // weight, fails the point.
            const double s2 = s * s;
            if (!std::isgreaterequal(s2, 1.0 / DBL_MAX))
                return false;
            const double w = 1.0 / s2;
            npp[a][a] += w;
            np[a] -= w * point.correctionSum[a];
        }
    }

    // (The worker's own 3 x 3, every element set before it is inverted.)
    thread_local CMatrix inverse(3, -1);
    for (int r = 0; r < 3; ++r)
        for (int s = r; s < 3; ++s)
            inverse.SetAt(npp[r][s], r, s);
    if (!AllFinite(&npp[0][0], 9) || !AllFinite(np, 3) || !inverse.Invert3x3())
        return false;
    double inv[3][3];
    for (int r = 0; r < 3; ++r)
        for (int s = 0; s < 3; ++s)
            inv[r][s] = inverse.GetAt(r, s);
    if (!AllFinite(&inv[0][0], 9))
        return false;

    // M = Npp^-1 Npr' and v = Npp^-1 np, in the point's blocks of the last
    // pass when they are kept.
    CMatrix* M = TakeSpare(standardFold.spareMatrix, work.index);
    // (Every element is written below: one of the same shape is not cleared.)
    const bool sameShape = M != nullptr && M->GetRows() == 3 && M->GetCols() == columns && !M->IsView();
    if (!sameShape && (M == nullptr || !M->Resize(3, columns) || M->GetCols() != columns)) {
        delete M;
        M = new CMatrix(3, columns);
    }
    double* const* Mr = M->GetRowTable();
    for (int r = 0; r < 3; ++r) {
        const double i0 = inv[r][0], i1 = inv[r][1], i2 = inv[r][2];
        const double* __restrict n0 = N0;
        const double* __restrict n1 = N1;
        const double* __restrict n2 = N2;
        double* __restrict out = Mr[r];
        const Pair x0 = {i0, i0}, x1 = {i1, i1}, x2 = {i2, i2};
        int c = 0;
        for (; c + 2 <= columns; c += 2)
            StorePair(out + c, x0 * LoadPair(n0 + c) + x1 * LoadPair(n1 + c) + x2 * LoadPair(n2 + c));
        for (; c < columns; ++c)
            out[c] = i0 * n0[c] + i1 * n1[c] + i2 * n2[c];
    }
    double v[3];
    for (int r = 0; r < 3; ++r)
        v[r] = inv[r][0] * np[0] + inv[r][1] * np[1] + inv[r][2] * np[2];
    bool finite = AllFinite(v, 3);
    for (int r = 0; finite && r < 3; ++r)
        finite = AllFinite(Mr[r], columns);
    if (!finite) {
        delete M;
        return false;
    }

    point.limitingCovariance.Resize(3, -1);
    for (int r = 0; r < 3; ++r)
        for (int s = r; s < 3; ++s)
            point.limitingCovariance.SetAt(inv[r][s], r, s);

    // Blocks that follow each other in the system and in M are updated as
    // one run (all of them, when every station sees the point).
    work.runs.clear();
    for (const PointFold::ColumnBlock& b : block) {
        if (!work.runs.empty()) {
            PointFold::ColumnBlock& r = work.runs.back();
            if (r.first + r.length == b.first && r.column + r.length == b.column) {
                r.length += b.length;
                continue;
            }
        }
        work.runs.push_back(b);
    }

    CVector* stored = TakeSpare(standardFold.spareVector, work.index);
    if (stored == nullptr || stored->GetSize() != 3) {
        delete stored;
        stored = new CVector(3);
    }
    for (int r = 0; r < 3; ++r)
        (*stored)[r] = v[r];
    work.M = M;
    work.v = stored;
    return true;
}

// A-priori weights of the camera and station parameters, then the
// right-hand side into the last column of the system.
bool CAdjustmentEngine::AddParameterConstraints(const SystemRows& target)
{
    const int nCam = cameras->GetSize();
    for (int k = 0; k < nCam; ++k) {
        CCamera* camera = cameras->GetAt(k);
        const int c0 = 10 * k;
        if (!IsCameraUsed(k)) {
            // Held fixed: a unit pivot and no right-hand side give a zero correction.
            for (int p = 0; p < CAM_PARAMETER_COUNT; ++p)
                *target.At(c0 + p, c0 + p) = 1.0;
            continue;
        }
        for (int p = 0; p < CAM_PARAMETER_COUNT; ++p) {
            AddParameterWeight(*target.At(c0 + p, c0 + p), rightHandSide[c0 + p], camera->sigmas[p],
                               camera->corrections[p]);
        }
    }
    for (int j = 0; j < images->GetSize(); ++j) {
        const CProjectImage* image = images->GetAt(j);
        const int s0 = 10 * nCam + 6 * j;
        for (int p = 0; p < STA_PARAMETER_COUNT; ++p) {
            AddParameterWeight(*target.At(s0 + p, s0 + p), rightHandSide[s0 + p], image->aprioriSigma[p],
                               image->corrections[p]);
        }
    }
    for (int i = 0; i < rightHandSide.GetSize(); ++i)
        target.Rhs(i) += rightHandSide[i];
    return true;
}

// normals = N - E D^-1 E', its right-hand side r - E D^-1 d, and
// datum = D^-1 E', from the bordered system [N E r; E' D d].
bool CAdjustmentEngine::ReduceDatum()
{
    const int n = reducedCount;
    const CMatrix& S = *bordered;
    // D = -sum of G Npp^-1 G' over the points is negative definite, and the
    // root-free factorisation refuses a negative leading element: D^-1 is
    // formed as -(-D)^-1.
    standardFold.datumInverse.Resize(7, -1);
    for (int a = 0; a < 7; ++a)
        for (int b = a; b < 7; ++b)
            standardFold.datumInverse.SetAt(-S.GetAt(n + a, n + b), a, b);
    const bool inverted = standardFold.datumInverse.InvertSymmetric(false);
    standardFold.datumInverse.Scale(-1.0);
    if (!inverted) {
        summary->status = BUNDLE_FAILED;
        SetFailureReason("Adjustment failed: the datum of the free network is singular");
        return false;
    }
    double Dinv[7][7];
    for (int a = 0; a < 7; ++a)
        for (int b = 0; b < 7; ++b)
            Dinv[a][b] = standardFold.datumInverse.GetAt(a, b);

    double* const* B = S.GetRowTable();
    double* const* Dt = datum->GetRowTable();
    // E(i, a) is the stored element (i, n + a) of row i.
    for (int i = 0; i < n; ++i) {
        const double* e = B[i] + (n - i);
        for (int a = 0; a < 7; ++a) {
            double sum = 0.0;
            for (int b = 0; b < 7; ++b)
                sum += Dinv[a][b] * e[b];
            Dt[a][i] = sum;
        }
    }
    double dd[7];
    for (int a = 0; a < 7; ++a) {
        double sum = 0.0;
        for (int b = 0; b < 7; ++b)
            sum += Dinv[a][b] * S.GetAt(n + b, n + 7);
        dd[a] = sum;
    }

    double* const* R = normals->GetRowTable();
    for (int i = 0; i < n; ++i) {
        const double* src = B[i];
        const double* e = B[i] + (n - i);
        double* dst = R[i];
        for (int j = i; j < n; ++j) {
            double s = 0.0;
            for (int a = 0; a < 7; ++a)
                s += e[a] * Dt[a][j];
            dst[j - i] = src[j - i] - s;
        }
        double s = 0.0;
        for (int a = 0; a < 7; ++a)
            s += e[a] * dd[a];
        dst[n - i] = S.GetAt(i, n + 7) - s;
    }
    R[n][0] = S.GetAt(n + 7, n + 7);
    return true;
}

// k = D^-1 (d - E' x) into x[n .. n + 6].
bool CAdjustmentEngine::SolveDatumMultipliers(CVector& x)
{
    const int n = reducedCount;
    const CMatrix& S = *bordered;
    double t[7];
    for (int a = 0; a < 7; ++a) {
        double s = S.GetAt(n + a, n + 7);
        for (int i = 0; i < n; ++i)
            s -= S.GetAt(i, n + a) * x[i];
        t[a] = s;
    }
    for (int a = 0; a < 7; ++a) {
        double s = 0.0;
        for (int b = 0; b < 7; ++b)
            s += standardFold.datumInverse.GetAt(a, b) * t[b];
        x[n + a] = s;
    }
    return true;
}

void CAdjustmentEngine::UpdateCameras(const CVector& x)
{
    for (int k = 0; k < cameras->GetSize(); ++k) {
        if (!IsCameraUsed(k))
            continue;
        CCamera* camera = cameras->GetAt(k);
        for (int q = 0; q < CAM_PARAMETER_COUNT; ++q) {
            const double d = x[10 * k + q];
            camera->parameters[q] -= d;
            camera->corrections[q] += d;
        }
    }
}

void CAdjustmentEngine::UpdateStation(CProjectImage& image, const double d[6])
{
    const double azimuth = image.GetAzimuth();
    const double elevation = image.GetElevation();
    const double roll = image.GetRoll();
    image.X -= d[0];
    image.Y -= d[1];
    image.Z -= d[2];
    image.SetRotation(azimuth - d[3], elevation - d[4], roll - d[5]);
    for (int p = 0; p < 6; ++p)
        image.corrections[p] += d[p];
}

void CAdjustmentEngine::UpdatePoint(CObjectPoint& point, const double d[3])
{
    point.x -= d[0];
    point.y -= d[1];
    point.z -= d[2];
    for (int a = 0; a < 3; ++a)
        point.correctionSum[a] += d[a];
}

bool CAdjustmentEngine::UpdateCamerasAndStations(const CVector& x)
{
    UpdateCameras(x);
    const int s0 = 10 * cameras->GetSize();
    for (int j = 0; j < images->GetSize(); ++j) {
        double d[6];
        for (int p = 0; p < 6; ++p)
            d[p] = x[s0 + 6 * j + p];
        UpdateStation(*images->GetAt(j), d);
    }
    return true;
}

// Each folded point's correction d = v - M x over its columns. The points
// are paired with their store entries in the order of the set, then
// corrected on the workers (each point on its own, so the order in which
// they are visited leaves every figure as it is). They are visited in the
// fold order, in which their blocks were made and lie in memory.
// Each folded point's correction d = v - M x over its columns. The points
// are paired with their store entries in the order of the set, then
// corrected on the workers (each point on its own).
bool CAdjustmentEngine::UpdatePointsStandard(const CVector& x)
{
    std::vector<std::pair<int, int>> folded; // point, store entry
    const int entries = std::min(vectorStore.GetSize(), matrixStore.GetSize());
    folded.reserve(static_cast<size_t>(entries));
    CObjectPoint* const* pointData = points->GetData();
    const int nPoints = points->GetSize();
    int store = 0;
    for (int i = 0; i < nPoints; ++i) {
        CObjectPoint* point = pointData[i];
        if (point == nullptr || !IsFoldedPoint(*point))
            continue;
        if (store >= vectorStore.GetSize())
            break;
        folded.emplace_back(i, store++);
    }
    const int count = static_cast<int>(folded.size());
    CVector* const* vectors = vectorStore.GetData();
    CMatrix* const* matrices = matrixStore.GetData();
    // A point's blocks are reached through their objects and row tables:
    // they are fetched in stages, each some points ahead of the next (the
    // objects, then the row tables and the point, then the values).
    auto fetch = [&](int k, int stage) {
        const std::pair<int, int>& f = folded[static_cast<size_t>(k)];
        const CMatrix* M = matrices[f.second];
        if (stage == 0) {
            __builtin_prefetch(M);
            __builtin_prefetch(vectors[f.second]);
        } else if (stage == 1) {
            __builtin_prefetch(M->GetRowTable());
            __builtin_prefetch(vectors[f.second]->GetData(), 1);
            __builtin_prefetch(&pointData[f.first]->x, 1);
            __builtin_prefetch(pointData[f.first]->correctionSum, 1);
        } else if (M->GetRows() == 3 && M->GetCols() > 0) {
            // (The values are one block of 3 rows.)
            const char* at = reinterpret_cast<const char*>(M->GetRowTable()[0]);
            const char* last = at + (3 * static_cast<size_t>(M->GetCols()) - 1) * sizeof(double);
            for (; at < last; at += 64)
                __builtin_prefetch(at);
            __builtin_prefetch(last);
        }
    };
    constexpr int kAhead[3] = {8, 4, 2};
    constexpr int kChunk = 512;
    const int chunks = (count + kChunk - 1) / kChunk;
    std::atomic<int> next{0};
    RunOnWorkers(std::max(1, std::min(GetWorkerCount(), chunks)), [&](int, int, CWorkerBarrier&) {
        for (int c = next.fetch_add(1); c < chunks; c = next.fetch_add(1)) {
            const int begin = c * kChunk, end = std::min(count, (c + 1) * kChunk);
            for (int stage = 0; stage < 3; ++stage)
                for (int k = begin; k < std::min(end, begin + kAhead[stage]); ++k)
                    fetch(k, stage);
            for (int k = begin; k < end; ++k) {
                for (int stage = 0; stage < 3; ++stage)
                    if (k + kAhead[stage] < end)
                        fetch(k + kAhead[stage], stage);
                const int entry = folded[static_cast<size_t>(k)].second;
                CVector& v = *vectors[entry];
                const CMatrix& M = *matrices[entry];
                int columns = 0;
                const int32_t* cols = GetFoldedColumns(entry, columns);
                // The three rows' sums run side by side, each in its own
                // order of terms.
                double* const* Mr = M.GetRowTable();
                const double* M0 = Mr[0];
                const double* M1 = Mr[1];
                const double* M2 = Mr[2];
                const double* xd = x.GetData();
                double s0 = 0.0, s1 = 0.0, s2 = 0.0;
                for (int c2 = 0; c2 < columns; ++c2) {
                    const double xc = xd[cols[c2]];
                    s0 += M0[c2] * xc;
                    s1 += M1[c2] * xc;
                    s2 += M2[c2] * xc;
                }
                v[0] -= s0;
                v[1] -= s1;
                v[2] -= s2;
                const double d[3] = {v[0], v[1], v[2]};
                UpdatePoint(*pointData[folded[static_cast<size_t>(k)].first], d);
            }
        }
    });
    return true;
}
