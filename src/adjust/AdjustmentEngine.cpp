#include "AdjustmentEngine.h"

#include "DenseFactor.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <thread>
#include <vector>

#include "AdjustmentSummary.h"
#include "BlasRoutines.h"
#include "BundleReport.h"
#include "Camera.h"
#include "Clock.h"
#include "FloatingPoint.h"
#include "ObjectPoint.h"
#include "PackedNormals.h"
#include "PointSet.h"
#include "ProjectImage.h"
#include "ProjectImageList.h"
#include "ProjectSettings.h"
#include "ScaleBar.h"
#include "SparseNormals.h"

namespace {

// Below this a squared control sigma cannot weight a residual.
constexpr double kTinySquare = 1e-100;

} // namespace

namespace {

std::atomic<int> defaultWorkerLimit{0};
std::atomic<int> defaultSolver{CAdjustmentEngine::SOLVER_AUTO};

} // namespace

void CAdjustmentEngine::SetDefaultSolver(ReducedSolver choice)
{
    defaultSolver = choice == SOLVER_DEFAULT ? SOLVER_AUTO : choice;
}

CAdjustmentEngine::ReducedSolver CAdjustmentEngine::GetDefaultSolver()
{
    return static_cast<ReducedSolver>(defaultSolver.load());
}

void CAdjustmentEngine::SetDefaultWorkerLimit(int limit)
{
    defaultWorkerLimit = limit < 0 ? 0 : limit;
}

int CAdjustmentEngine::GetWorkerCount() const
{
    const int limit = workerLimit >= 0 ? workerLimit : defaultWorkerLimit.load();
    const int cores = static_cast<int>(std::thread::hardware_concurrency());
    const int machine = cores > 0 ? cores : 1;
    if (limit > 0)
        return std::min(limit, 256);
    // Left to the machine: a thread for every few thousand rays at most, so
    // that a small network does not wait on threads.
    const int rays = static_cast<int>(rayImages.size());
    return std::max(1, std::min(machine, rays / 4096));
}

// --- Progress record ---------------------------------------------------------

CAdjustmentProgress::CAdjustmentProgress()
{
    Reset();
}

CAdjustmentProgress::~CAdjustmentProgress() = default;

void CAdjustmentProgress::Reset()
{
    phase = PHASE_NONE;
    rmsStdErrorX = 0.0;
    rmsStdErrorY = 0.0;
    rmsStdErrorZ = 0.0;
    residualRmsMicrons = 0.0;
    sigma0 = 0.0;
    rejectionLimitMicrons = 0.0;
    imageCount = 0;
    pointCount = 0;
    iteration = 0;
    pointNumber = -1;
    degreesOfFreedom = 0;
    rejectedCount = 0;
    abortRequested = false;
    done = false;
}

CNameBuffer CAdjustmentProgress::GetPointLabel() const
{
    std::lock_guard<std::mutex> lock(labelLock);
    return pointLabel;
}

void CAdjustmentProgress::SetPointLabel(const CNameBuffer& label)
{
    std::lock_guard<std::mutex> lock(labelLock);
    pointLabel.Copy(label);
}

// --- Engine ------------------------------------------------------------------

CAdjustmentEngine::CAdjustmentEngine()
    : CAdjustmentEngine(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)
{
}

CAdjustmentEngine::CAdjustmentEngine(CImagePtrArray* images, CPointSet* points, CPointSet* control,
                                     CCameraList* cameras, CScaleBarList* scaleBars, CProjectSettings* settings,
                                     CAdjustmentSummary* summary)
    : images(images), points(points), control(control), cameras(cameras), scaleBars(scaleBars),
      settings(settings), summary(summary), normals(nullptr), bordered(nullptr), reducedCount(0), datum(nullptr),
      reverseDatum(nullptr)
{
}

CAdjustmentEngine::~CAdjustmentEngine()
{
    DeleteMatrices();
    ReleasePending();
    ReleaseSpares();
}

void CAdjustmentEngine::DeleteMatrices()
{
    delete normals;
    delete bordered;
    delete datum;
    delete reverseDatum;
    normals = bordered = datum = reverseDatum = nullptr;
    sparse.reset();
    wholeInverse.reset();
}

bool CAdjustmentEngine::Fail(const char* reason)
{
    summary->status = BUNDLE_FAILED;
    failureReason = reason;
    return false;
}

std::string CAdjustmentEngine::ImagesWithoutRays() const
{
    const int n = images->GetSize();
    std::vector<int> rays(static_cast<size_t>(n), 0), used(static_cast<size_t>(n), 0);
    for (int i = 0; i < points->GetSize(); ++i) {
        const CObjectPoint* point = points->GetAt(i);
        if (point == nullptr || !point->inUse)
            continue;
        const int m = std::min(n, point->observationIndex.GetSize());
        for (const CRayIndex::Entry& e : point->observationIndex) {
            if (e.image >= m)
                break;
            const int j = e.image;
            const int index = e.observation;
            const CProjectImage* image = images->GetAt(j);
            if (index < 0 || image == nullptr || index >= image->targets.GetSize())
                continue;
            const CImageObservation* observation = image->targets.GetAt(index);
            if (observation == nullptr)
                continue;
            ++rays[static_cast<size_t>(j)];
            if (!observation->rejected)
                ++used[static_cast<size_t>(j)];
        }
    }
    std::string names;
    int count = 0;
    for (int j = 0; j < n; ++j) {
        if (rays[static_cast<size_t>(j)] == 0 || used[static_cast<size_t>(j)] > 0)
            continue;
        if (count++ > 0)
            names += ", ";
        names += '"';
        names += images->GetAt(j)->name.GetText();
        names += '"';
    }
    if (count == 0)
        return names;
    return (count == 1 ? "image " : "images ") + names;
}

bool CAdjustmentEngine::FaultCheck(const char* phaseText)
{
    if (!FloatingPointFaultRaised())
        return true;
    std::string reason = "Floating-point fault (";
    reason += FloatingPointFaultText();
    reason += ") while ";
    reason += phaseText;
    summary->status = BUNDLE_FAILED;
    failureReason = reason;
    ClearFloatingPointFaults();
    return false;
}

int CAdjustmentEngine::GetCameraIndex(const CProjectImage& image) const
{
    return cameras->FindIndexByName(image.GetCameraName().GetText());
}

int CAdjustmentEngine::UsedCameraCount() const
{
    int n = 0;
    for (char used : cameraUsed)
        n += used ? 1 : 0;
    return n;
}

// Every image of the run must name a camera of the project; the cameras that
// no image names take no part.
bool CAdjustmentEngine::CheckCameras()
{
    cameraUsed.assign(static_cast<size_t>(cameras->GetSize()), 0);
    for (int j = 0; j < images->GetSize(); ++j) {
        const CProjectImage* image = images->GetAt(j);
        if (image == nullptr) {
            failureReason = "An image of the adjustment is missing";
            return false;
        }
        const int k = GetCameraIndex(*image);
        if (k < 0 || cameras->GetAt(k) == nullptr) {
            failureReason = "Image \"";
            failureReason += image->name.GetText();
            failureReason += "\" uses camera \"";
            failureReason += image->GetCameraName().GetText();
            failureReason += "\", which is not a camera of the project";
            return false;
        }
        cameraUsed[static_cast<size_t>(k)] = 1;
    }
    return true;
}

// A constrained camera or station parameter needs a sigma whose weight
// 1 / sigma^2 is a finite number.
bool CAdjustmentEngine::CheckParameterSigmas()
{
    auto usable = [](double s) {
        if (std::isnan(s))
            return false;
        if (!(s < kFreeSigma))
            return true;
        return s > 0.0 && std::isfinite(1.0 / (s * s));
    };
    for (int k = 0; k < cameras->GetSize(); ++k) {
        if (!IsCameraUsed(k))
            continue;
        const CCamera* camera = cameras->GetAt(k);
        for (int p = 0; p < CAM_PARAMETER_COUNT; ++p) {
            if (!usable(camera->sigmas[p])) {
                failureReason = "Camera \"";
                failureReason += camera->identifier.GetText();
                failureReason += "\" has an a-priori sigma that cannot weight its parameter";
                return false;
            }
        }
    }
    for (int j = 0; j < images->GetSize(); ++j) {
        const CProjectImage* image = images->GetAt(j);
        for (int p = 0; p < STA_PARAMETER_COUNT; ++p) {
            if (!usable(image->aprioriSigma[p])) {
                failureReason = "Image \"";
                failureReason += image->name.GetText();
                failureReason += "\" has an a-priori sigma that cannot weight its station";
                return false;
            }
        }
    }
    return true;
}

bool CAdjustmentEngine::Prepare()
{
    failureReason.clear();
    if (!images || !points || !cameras || !settings || !summary) {
        failureReason = "The adjustment has no data";
        return false;
    }
    ClearFloatingPointFaults();
    DeleteMatrices();
    if (!CheckCameras() || !CheckParameterSigmas())
        return false;

    summary->Reset();
    images->ResetStationValues();
    points->ClearPointOffsets();
    cameras->ClearCorrections();
    if (scaleBars) {
        scaleBars->ResetResults();
        scaleBars->scalingResult = -1;
    }

    // The merge replaces the working set's points: a control set that is the
    // working set is read from a copy taken now (its offsets are already clear).
    controlCopy.reset();
    activeControl = control;
    if (control != nullptr && control == points) {
        controlCopy.reset(new CPointSet(*control));
        controlCopy->ClearPointOffsets();
        activeControl = controlCopy.get();
    }

    // The merge reads every observation: it clears their residuals and
    // rejections on the way.
    if (!MergeData(true))
        return false;

    const int nPt = points->GetSize();
    const int nSta = images->GetSize();
    const int nCam = cameras->GetSize();
    settings->standardFolding = settings->rigorousScale ? false : !(6 * nSta > 3 * nPt);
    if (settings->standardFolding) {
        reducedCount = 10 * nCam + 6 * nSta;
        summary->parameters = 10 * UsedCameraCount() + 6 * nSta + 3 * nPt;
    } else {
        reducedCount = 3 * nPt + 10 * nCam;
        summary->parameters = 3 * nPt + 10 * UsedCameraCount() + 6 * nSta;
    }

    // The control points' data replace the working points' (as
    // CPointSet::UpdatePointsFrom does, through the pairs found once).
    BuildControlPairs();
    if (!settings->freeNetwork) {
        for (const auto& pair : controlPairs) {
            pair.second->CopyDataFrom(*pair.first);
            pair.second->updated = true;
        }
    }
    return FaultCheck("preparing the data");
}

// Control points found in the working set, looked up once per run (the
// working set stays in label order throughout the run).
void CAdjustmentEngine::BuildControlPairs()
{
    controlPairs.clear();
    if (activeControl == nullptr)
        return;
    for (int i = 0; i < activeControl->GetSize(); ++i) {
        CObjectPoint* c = activeControl->GetAt(i);
        if (c == nullptr)
            continue;
        const int index = points->IndexOfLabel(c->label);
        if (index >= 0)
            controlPairs.emplace_back(c, points->GetAt(index));
    }
}

bool CAdjustmentEngine::PostAdjustment()
{
    return RunPostAdjustment();
}

bool CAdjustmentEngine::GetControlResidualSum(double& sum)
{
    sum = 0.0;
    for (const auto& pair : controlPairs) {
        const CObjectPoint* p = pair.second;
        for (int a = 0; a < 3; ++a) {
            const double s = p->aprioriSigma[a];
            if (std::isnan(s))
                return false;
            if (!(s < kFreeSigma))
                continue;
            if (s * s < kTinySquare)
                return false;
            sum += p->correctionSum[a] * p->correctionSum[a] / (s * s);
        }
    }
    return true;
}

bool CAdjustmentEngine::ComputeSigma0(int iteration)
{
    if (settings->simulation) {
        summary->sigma0 = 1.0;
        return true;
    }
    double sum = ReducedRows().SquareSum();
    if (!settings->freeNetwork && iteration > 1) {
        double part = 0.0;
        if (!GetControlResidualSum(part) || part < 0.0)
            return false;
        sum += part;
    }
    const int dof = summary->GetDegreesOfFreedom();
    if (dof == 0) {
        summary->sigma0 = 1.0;
        return true;
    }
    const double q = sum / dof;
    if (!std::isgreaterequal(q, 0.0))
        return false;
    summary->sigma0 = std::sqrt(q);
    return true;
}

int CAdjustmentEngine::CountConstraints() const
{
    int n = 0;
    for (int k = 0; k < cameras->GetSize(); ++k) {
        if (IsCameraUsed(k))
            n += cameras->GetAt(k)->CountConstrainedParameters();
    }
    for (int j = 0; j < images->GetSize(); ++j)
        n += images->GetAt(j)->GetConstrainedParameterCount();
    if (!settings->freeNetwork) {
        if (activeControl != nullptr) {
            for (int i = 0; i < activeControl->GetSize(); ++i) {
                if (const CObjectPoint* c = activeControl->GetAt(i))
                    n += c->CountControlCoordinates();
            }
        }
    } else {
        n += settings->standardFolding ? 7 : GetFreeDatumRows();
    }
    return n;
}

namespace {

// Puts the rejection limit back however the run ends.
class CRejectionLimitGuard {
public:
    explicit CRejectionLimitGuard(CProjectSettings& s) : settings(s), saved(s.rejectionLimit) {}
    ~CRejectionLimitGuard() { settings.rejectionLimit = saved; }

private:
    CProjectSettings& settings;
    double saved;
};

} // namespace

bool CAdjustmentEngine::RunBundle()
{
    const int64_t start = MonotonicMilliseconds();
    // Whichever system the run forms, the libraries work on its threads.
    blas::KeepOnCallingThread();
    if (!Prepare()) {
        if (summary != nullptr)
            summary->status = BUNDLE_FAILED;
        return false;
    }

    {
        CRejectionLimitGuard restoreLimit(*settings);
        IterationState pass;
        pass.finalLimit = settings->rejectionLimit;
        if (AllocateReducedSystem()) {
            while (summary->status != BUNDLE_FAILED && !AbortRequested() && RunIteration(pass)) {
            }
        }

        PostAdjustment();
        summary->elapsed = static_cast<double>(MonotonicMilliseconds() - start) * 0.001;
        WriteReports();
        summary->finalRejectionLimit = pass.finalLimit;
    }
    progress.SetDone();
    return true;
}

bool CAdjustmentEngine::RunIteration(IterationState& state, StepHook hook, void* context)
{
    const FoldingScheme& scheme = Scheme();
    auto mark = [hook, context](int32_t phase) {
        if (hook != nullptr)
            hook(context, phase);
    };

    progress.rejectedCount = 0;
    RecycleStores();
    foldedColumns.clear();
    foldedColumnStart.clear();
    if (state.iteration > 0) {
        if (sparse)
            sparse->Zero();
        else
            normals->Zero();
        solution.Zero();
        if (scheme.borderedDatum) {
            bordered->Zero();
            datum->Zero();
        }
    }

    int triangulated = 0;
    double triangulationRms = 0.0;
    const bool notAborted = TriangulateAll(triangulated, triangulationRms, state.iteration);
    if (!FaultCheck("triangulating the points"))
        return false;
    if (!notAborted || AbortRequested())
        return false;
    if (triangulated <= 3)
        return Fail("Adjustment failed: 3 or fewer points could be triangulated");

    const int iteration = ++state.iteration;
    progress.iteration = iteration;
    if (!settings->keepRejectionLimitFixed && iteration >= 2)
        settings->rejectionLimit = settings->rejectionOffset + settings->rejectionFactor * triangulationRms;
    state.finalLimit = settings->rejectionLimit;

    mark(PHASE_FORMING_NORMALS);
    int equations = 0;
    const bool formed = (this->*scheme.form)(equations);
    if (!formed) {
        FaultCheck("forming the normal equations");
        return false;
    }
    if (!FaultCheck("forming the normal equations"))
        return false;

    summary->observations = equations;
    summary->constraints = CountConstraints();
    const int dof = summary->GetDegreesOfFreedom();
    if (dof < 0)
        return Fail("Adjustment failed: more parameters than observations and constraints");
    double rms = equations == 0 ? 9999.0 : std::sqrt(summary->vv / equations);
    if (scheme.rmsFromImages) {
        images->GetRmsXY(rms);
        summary->vv = equations * rms * rms;
    }
    ComputeSigma0(iteration);

    mark(PHASE_DECOMPOSITION);
    progress.phase = PHASE_DECOMPOSITION;
    bool factored = sparse ? sparse->Factorize(GetWorkerCount()) : FactorPackedLdlt(*normals, GetWorkerCount());
    // A pivot at or below zero after rounding (a nearly singular system, as
    // poor first approximations give) stops the sparse factorisation but not
    // the pivot tests: the run goes on in the dense storage.
    if (!factored && sparse && sparse->NotPositiveDefinite() && SwitchToDenseSystem())
        factored = FactorPackedLdlt(*normals, GetWorkerCount());
    if (!factored) {
        // An image that rejection left without rays makes its station
        // singular: name it, so that its orientation or the limit is mended.
        const std::string lost = ImagesWithoutRays();
        if (lost.empty())
            return Fail("Adjustment failed: the normal equations are singular");
        const std::string reason =
            "Adjustment failed: the normal equations are singular; every ray of " + lost + " was rejected";
        return Fail(reason.c_str());
    }
    if (!FaultCheck("decomposing the normal equations"))
        return false;
    mark(PHASE_SOLVING);
    progress.phase = PHASE_SOLVING;
    if (sparse ? !sparse->Solve(solution) : !normals->SolveAugmentedUnit(solution))
        return Fail("Adjustment failed: the normal equations cannot be solved");
    if (scheme.borderedDatum && !SolveDatumMultipliers(solution))
        return Fail("Adjustment failed: the datum of the free network cannot be solved");
    if (!FaultCheck("solving the normal equations"))
        return false;

    progress.rejectionLimitMicrons = settings->rejectionLimit * 1000.0;
    progress.imageCount = images->GetSize();
    progress.pointCount = UsedSolvedCount();
    progress.degreesOfFreedom = dof;
    progress.residualRmsMicrons = rms * 1000.0;
    progress.sigma0 = summary->sigma0;

    (this->*scheme.updateFirst)(solution);
    (this->*scheme.updateSecond)(solution);
    mark(PHASE_NONE);
    if (!FaultCheck("updating the parameters"))
        return false;

    bool converged;
    if (settings->absoluteConvergence)
        converged = rms * 1000.0 < settings->absoluteConvergenceLimit;
    else
        converged = std::fabs(state.previousRms - rms) < settings->convergenceLimit || settings->simulation;
    if (converged) {
        summary->status = BUNDLE_CONVERGED;
        summary->iterations = iteration;
        return false;
    }
    if (iteration >= settings->maxIterations) {
        summary->status = BUNDLE_ITERATION_LIMIT;
        return false;
    }
    state.previousRms = rms;
    return true;
}

// --- Reports -------------------------------------------------------------------
// The writers live in CBundleReports; the cofactors go to them only when the
// last inversion succeeded.

bool CAdjustmentEngine::WriteReports()
{
    CBundleReports reports(*this);
    int order = 0;
    // Only the correlations report reads the cofactors: a sparse system
    // forms its whole inverse for it alone.
    const CMatrix* cofactors = settings != nullptr && settings->writeCorrelations ? GetCofactors(order) : nullptr;
    reports.SetCofactors(cofactors, order);
    return reports.WriteReports();
}

bool CAdjustmentEngine::WriteBundleReport()
{
    return CBundleReports(*this).WriteBundleReport();
}

bool CAdjustmentEngine::WriteCameraReport()
{
    return CBundleReports(*this).WriteCameraReport();
}

bool CAdjustmentEngine::WriteResidualsReport()
{
    return CBundleReports(*this).WriteResidualsReport();
}

bool CAdjustmentEngine::WriteCorrelationsReport()
{
    CBundleReports reports(*this);
    int order = 0;
    const CMatrix* cofactors = GetCofactors(order);
    reports.SetCofactors(cofactors, order);
    return reports.WriteCorrelationsReport();
}

bool CAdjustmentEngine::WritePointCovariances()
{
    return CBundleReports(*this).WritePointCovariances();
}

bool CAdjustmentEngine::WriteStationCovariances()
{
    return CBundleReports(*this).WriteStationCovariances();
}

bool CAdjustmentEngine::ComputeCorrelations(CMatrix& out)
{
    int order = 0;
    const CMatrix* cofactors = GetCofactors(order);
    if (cofactors == nullptr || order <= 0)
        return false;
    progress.phase = PHASE_CORRELATIONS;
    CBundleReports reports(*this);
    reports.SetCofactors(cofactors, order);
    if (!out.Resize(order, -1))
        return false;
    for (int i = 0; i < order; ++i)
        for (int j = i; j < order; ++j) {
            double r = 0.0;
            reports.GetCorrelation(i, j, r);
            out.SetAt(r, i, j);
        }
    return true;
}

bool CAdjustmentEngine::BuildSightings()
{
    return points != nullptr && images != nullptr ? ::BuildSightings(*points, *images) : true;
}

const int32_t* CAdjustmentEngine::GetFoldedColumns(int k, int& count) const
{
    if (k < 0 || k >= static_cast<int>(foldedColumnStart.size())) {
        count = 0;
        return nullptr;
    }
    const size_t begin = static_cast<size_t>(foldedColumnStart[static_cast<size_t>(k)]);
    const size_t end = static_cast<size_t>(k) + 1 < foldedColumnStart.size()
                           ? static_cast<size_t>(foldedColumnStart[static_cast<size_t>(k) + 1])
                           : foldedColumns.size();
    count = static_cast<int>(end - begin);
    return foldedColumns.data() + begin;
}

int CAdjustmentEngine::UsedSolvedCount() const
{
    // Points in use less unsolved points, as the set counts them.
    const int n = points->GetSize();
    CObjectPoint* const* data = points->GetData();
    int count = 0;
    for (int i = 0; i < n; ++i)
        if (const CObjectPoint* p = data[i])
            count += (p->inUse ? 1 : 0) - (p->unsolved ? 1 : 0);
    return count;
}

bool CAdjustmentEngine::IsFoldedPoint(const CObjectPoint& point) const
{
    return point.inUse && !point.unsolved && point.usedRayCount >= settings->minimumRays &&
           point.usedRayCount > 0;
}

bool CAdjustmentEngine::GetPivots(std::vector<double>& out) const
{
    out.clear();
    if (sparse) {
        out = sparse->Pivots();
        return !out.empty();
    }
    if (normals == nullptr)
        return false;
    for (int i = 0; i < normals->GetRows(); ++i)
        out.push_back(normals->GetAt(i, i));
    return !out.empty();
}
