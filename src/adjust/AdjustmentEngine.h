// The bundle adjustment engine: preparation, merge of the observations into
// points, triangulation, normal equations with the points folded out,
// solution, update and iteration; and the collinearity geometry of single
// points that the triangulation calls for every point.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Matrix.h"
#include "NameBuffer.h"
#include "Vector.h"

template <class T>
class CDynArray;
class CAdjustmentSummary;
class CCamera;
class CCameraList;
class CImageObservation;
class CImagePtrArray;
class CObjectPoint;
class CPointSet;
class CProjectImage;
class CProjectImageList;
class CProjectSettings;
class CScaleBar;
class CScaleBarList;
class CSparseNormals;
struct SystemRows;

// Phase codes of a run, as the run dialogs show them.
enum AdjustmentPhase : int32_t {
    PHASE_NONE = -1,
    PHASE_MERGING = 0,
    PHASE_TRIANGULATING = 1,
    PHASE_FORMING_NORMALS = 2,
    PHASE_DECOMPOSITION = 3,
    PHASE_SOLVING = 4,
    PHASE_INVERTING = 5,
    PHASE_COVARIANCE = 6,
    PHASE_ERROR_PROPAGATION = 7,
    PHASE_RMS_STANDARD_ERRORS = 8,
    PHASE_CORRELATIONS = 9,
    PHASE_SIGHT_LIST = 10,
    PHASE_POST_BUNDLE_SCALING = 11,
    PHASE_RIGOROUS_SCALING = 12
};

// Summary status of a bundle run.
enum BundleStatus : int {
    BUNDLE_NOT_FINISHED = 0,
    BUNDLE_CONVERGED = 1,
    BUNDLE_FAILED = 2,
    BUNDLE_ITERATION_LIMIT = 3
};

// Progress of a running adjustment. The worker writes every field but the
// abort flag, which the user-interface thread sets; the numbers are atomic
// and the point label is read and written as a whole under a lock, so a
// reader never sees a torn value. The done flag is the worker's last store.
class CAdjustmentProgress {
public:
    CAdjustmentProgress();
    virtual ~CAdjustmentProgress();
    CAdjustmentProgress(const CAdjustmentProgress&) = delete;
    CAdjustmentProgress& operator=(const CAdjustmentProgress&) = delete;

    // Phase -1, every number 0, point number -1, both flags clear; the label stays.
    void Reset();

    CNameBuffer GetPointLabel() const;
    void SetPointLabel(const CNameBuffer& label);

    bool IsDone() const { return done.load(std::memory_order_acquire); }
    void SetDone() { done.store(true, std::memory_order_release); }
    bool IsAbortRequested() const { return abortRequested.load(std::memory_order_relaxed); }
    void RequestAbort() { abortRequested.store(true, std::memory_order_relaxed); }

    std::atomic<int32_t> phase;
    std::atomic<double> rmsStdErrorX;
    std::atomic<double> rmsStdErrorY;
    std::atomic<double> rmsStdErrorZ;
    std::atomic<double> residualRmsMicrons;
    std::atomic<double> sigma0;
    std::atomic<double> rejectionLimitMicrons;
    std::atomic<int32_t> imageCount;
    std::atomic<int32_t> pointCount;
    std::atomic<int32_t> iteration;
    std::atomic<int32_t> pointNumber;
    std::atomic<int32_t> degreesOfFreedom;
    std::atomic<int32_t> rejectedCount;
    std::atomic<bool> abortRequested;
    std::atomic<bool> done;

private:
    mutable std::mutex labelLock;
    CNameBuffer pointLabel;
};

class CAdjustmentEngine {
public:
    CAdjustmentEngine();
    CAdjustmentEngine(CImagePtrArray* images, CPointSet* points, CPointSet* control, CCameraList* cameras,
                      CScaleBarList* scaleBars, CProjectSettings* settings, CAdjustmentSummary* summary);
    ~CAdjustmentEngine();
    CAdjustmentEngine(const CAdjustmentEngine&) = delete;
    CAdjustmentEngine& operator=(const CAdjustmentEngine&) = delete;

    // --- The run -----------------------------------------------------------
    // The whole run. False only when the preparation failed (the summary's
    // status is then 2 and the reason tells why); true after a run that
    // reached its end, whatever its status.
    bool RunBundle();
    bool Prepare();
    // Inversion, covariances, error propagation and scaling after a run
    // that converged or reached its iteration limit.
    bool PostAdjustment();
    bool ComputeSigma0(int iteration);
    bool GetControlResidualSum(double& sum);
    int CountConstraints() const;
    int GetCameraIndex(const CProjectImage& image) const;

    // One pass of the loop: empties the per-iteration stores, triangulates,
    // forms, decomposes and solves the normal equations, updates, and tests
    // for convergence. Needs the reduced system (AllocateReducedSystem).
    // False when the loop ends: converged, iteration limit, failure (status
    // set) or abort; true when another pass is due.
    struct IterationState {
        int iteration = 0;        // passes completed
        double previousRms = 0.0; // residual RMS of the last pass, mm
        double finalLimit = 0.0;  // rejection limit of the last pass, mm
    };
    // Told the phase about to start at the step boundaries of a pass
    // (forming, decomposition, solution) and PHASE_NONE after the update.
    using StepHook = void (*)(void* context, int32_t phase);
    bool RunIteration(IterationState& state, StepHook hook = nullptr, void* context = nullptr);

    // --- Reports -------------------------------------------------------------
    // Written into the folder of the settings' project path; a project
    // without a folder gets none. WriteReports passes the cofactors only
    // after a successful inversion. The writers are CBundleReports'.
    bool WriteReports();
    bool WriteBundleReport();
    bool WriteCameraReport();
    bool WriteResidualsReport();
    bool WriteCorrelationsReport();
    bool WritePointCovariances();
    bool WriteStationCovariances();
    bool BuildSightings();
    // Correlation coefficients of the reduced system's unknowns from the
    // cofactors of the last inversion; false, out untouched, without them.
    bool ComputeCorrelations(CMatrix& out);

    // Worker threads of the forming and the error propagation: at most
    // `limit` (0: one per core of the machine, fewer for a small network
    // of few rays). With one, the whole run
    // stays on the calling thread. Any count gives the same results.
    void SetWorkerLimit(int limit) { workerLimit = limit < 0 ? 0 : limit; }
    int GetWorkerCount() const;
    // The limit of engines that were given none (0: the machine's cores).
    static void SetDefaultWorkerLimit(int limit);

    // How the reduced system is stored and factorised: chosen by its fill
    // (sparse where images share few points), or one way for all runs. A
    // free network's reduced system is dense (its datum couples every
    // unknown) and is always stored dense.
    enum ReducedSolver { SOLVER_DEFAULT = -1, SOLVER_AUTO = 0, SOLVER_DENSE = 1, SOLVER_SPARSE = 2 };
    void SetSolver(ReducedSolver choice) { solverChoice = choice; }
    // The choice of engines that were given none (SOLVER_AUTO at start).
    static void SetDefaultSolver(ReducedSolver choice);
    static ReducedSolver GetDefaultSolver();
    // The run's reduced system is sparse (normals is null then).
    bool IsSparseSystem() const { return sparse != nullptr; }
    // The pivots of the last factorisation of the reduced system (root-free
    // form, unscaled, the right-hand side's row last); false before one.
    bool GetPivots(std::vector<double>& out) const;

    // Why the last run failed (status 2) or ended early; empty otherwise.
    const std::string& GetFailureReason() const { return failureReason; }
    void SetFailureReason(const char* text) { failureReason = text; }

    // --- Merge and triangulation of all points ------------------------------
    bool MergeData();
    // forgetFailures: a point that cannot be intersected is marked unsolved
    // and keeps nothing of the attempt (entry coordinates, no standard
    // errors, no RMS, no rays), as the stand-alone triangulation wants it.
    bool TriangulateAll(int& count, double& rms, int iteration, bool forgetFailures = false);

    // --- Observation equations ---------------------------------------------
    // The two weighted equations of one ray: A (2 x 10, camera), B (2 x 6,
    // station), P (2 x 3, point), l (2, weighted misclosures). False when
    // the observation is rejected (misclosure over the rejection limit, a
    // sigma that is not positive, a point level with the camera, a missing
    // camera or an image transformation that cannot be inverted).
    bool FormObservationEquations(const CProjectImage& image, CMatrix& A, CMatrix& B, CMatrix& P, CVector& l,
                                  CImageObservation& obs, CObjectPoint& point);

    // --- Normal equations, standard folding ---------------------------------
    bool FormNormalsFreeStandard(int& equations);
    bool FormNormalsControlStandard(int& equations);
    bool ReduceDatum();
    bool SolveDatumMultipliers(CVector& x);

    // --- Update after standard folding ---------------------------------------
    bool UpdateCamerasAndStations(const CVector& x);
    bool UpdatePointsStandard(const CVector& x);

    // --- What the post-adjustment needs of the last iteration ---------------
    // A point was folded in the last forming (it has a store entry).
    bool IsFoldedPoint(const CObjectPoint& point) const;
    // The set's GetUsedUnsolvedCount in one walk.
    int UsedSolvedCount() const;
    // Store entry k holds v = Npp^-1 np (vectorStore) and M = Npp^-1 Npr'
    // (matrixStore) with only its non-zero columns; column c of M belongs to
    // parameter GetFoldedColumns(k)[c] of the reduced system (the datum
    // multipliers at reducedCount .. reducedCount + 6).
    const int32_t* GetFoldedColumns(int k, int& count) const;
    // D^-1, the inverted 7 x 7 datum block of the last free-network forming.
    const CMatrix& GetDatumInverse() const { return standardFold.datumInverse; }
    // The camera takes part in the run (an adjusted image uses it).
    bool IsCameraUsed(int k) const { return k >= 0 && k < static_cast<int>(cameraUsed.size()) && cameraUsed[k]; }

    // --- Collinearity geometry of single points -----------------------------
    // Intersects one point from its rays (the point's observation index
    // table, one entry per image of the list). pass 0 places the point and
    // gives its standard errors; a later bundle pass keeps the coordinates
    // and refreshes residuals, ray counts and rejections. True with rms the
    // RMS of the point's image residuals in mm.
    static bool IntersectPoint(double& rms, CObjectPoint& point, CProjectImageList& images,
                               const CCameraList& cameras, const CProjectSettings& settings, int pass);
    // The same over an array of image pointers (the images of a run).
    static bool IntersectPoint(double& rms, CObjectPoint& point, const CDynArray<CProjectImage>& images,
                               const CCameraList& cameras, const CProjectSettings& settings, int pass);

    // Linear start value from every usable ray of an enabled image; false
    // (point unchanged) with fewer than two rays or a singular system.
    static bool ApproximatePoint(CObjectPoint& point, CProjectImageList& images, const CCameraList& cameras);
    static bool ApproximatePoint(CObjectPoint& point, const CDynArray<CProjectImage>& images,
                                 const CCameraList& cameras);

    // The 2 x 4 block of one ray (derivatives of the residual with respect
    // to X, Y, Z, then the residual, measured minus computed) and the
    // residuals written into the observation. False, block and observation
    // unchanged, when the image's camera is missing, the observation cannot
    // be corrected, or the point lies in the camera's image plane.
    static bool FormRayEquations(const CObjectPoint& point, const CProjectImage& image,
                                 const CCameraList& cameras, CImageObservation& observation, CMatrix& block);

    // --- References and owned matrices ---------------------------------------
    CImagePtrArray* images;
    CPointSet* points;
    CPointSet* control;
    CCameraList* cameras;
    CScaleBarList* scaleBars;
    CProjectSettings* settings;
    CAdjustmentSummary* summary;
    CMatrix* normals;
    CMatrix* bordered;
    int reducedCount;
    CMatrixArray matrixStore;
    CMatrix* datum;
    CVectorArray vectorStore;
    CMatrix* reverseDatum;
    CAdjustmentProgress progress;
    // The reduced system when it is stored sparse (normals is null then).
    std::unique_ptr<CSparseNormals> sparse;

    // One used ray's weighted equations: camera, station and point partials
    // and the misclosures, with the camera and station they belong to.
    struct RayEquations {
        double a[2][10];
        double b[2][6];
        double p[2][3];
        double l[2];
        int camera;
        int station;
    };

    // What the forming and the intersection need of one image, read once
    // per forming and once per triangulation.
    struct StationCache {
        double R[3][3];
        double X0[3];
        double sinRoll;
        double cosRoll;
        int cameraIndex;
        const CCamera* camera;
        const CProjectImage* image;
    };

private:
    void DeleteMatrices();
    bool CheckCameras();
    bool CheckParameterSigmas();
    void BuildControlPairs();
    void FillStationCache();
    // The merge; with clearObservations, every observation of the images
    // also loses its residuals and rejection on the way.
    bool MergeData(bool clearObservations);
    // square: where the ray's unweighted square misclosure goes; null adds
    // it to the point's rms.
    bool FormRay(const StationCache& station, const CProjectImage& image, CImageObservation& obs,
                 CObjectPoint& point, RayEquations& out, double* square = nullptr) const;
    bool FormNormalsStandard(bool freeNetwork, int& equations);
    // One point's share of the standard forming: its rays, and its folded
    // blocks when it folds (StandardFolding.cpp).
    struct PointFold;
    // Forms the rays of point `index` and prepares its folding into work;
    // false when the abort flag stopped it.
    bool FormPoint(int index, bool freeNetwork, PointFold& work, std::vector<int32_t>& cameraSlot);
    // Fetches ahead what the forming reads of the points that follow
    // position in the fold order, of their rays and (alone: no other worker
    // forms meanwhile) of their kept blocks.
    void FetchFoldAhead(size_t position, CObjectPoint* const* pointData, bool alone) const;
    bool PrepareFold(CObjectPoint& point, bool freeNetwork, PointFold& work, std::vector<int32_t>& cameraSlot);
    // Add a formed point's rays and its elimination to rows lo .. hi - 1.
    void ApplyRays(const PointFold& work, const SystemRows& S, int lo, int hi);
    // Element (row, column) of a sparse system at RowBegin(row) + offset.
    struct LocatedPair {
        int row, column;
        int32_t offset;
    };
    // The tiles of one point's elimination, for one call of the kernel.
    struct FoldTiles;
    // Builds the tiles of work's elimination in rows lo .. hi - 1 and takes
    // Npr v from the right-hand side there; false when no tile meets the band.
    bool BuildFoldTiles(const PointFold& work, const SystemRows& S, int lo, int hi,
                        std::vector<LocatedPair>& located, FoldTiles& out);
    static void ApplyFoldTiles(const FoldTiles& tiles, int lo, int hi);
    static int32_t Locate(CSparseNormals& system, int row, int column, std::vector<LocatedPair>& located);
    // The eliminations of points with the same column blocks, together.
    void ApplyFoldBatch(const PointFold* const* batch, int count, const double* const* packed, const SystemRows& S,
                        int lo, int hi);
    // Rows of M of a batch, columns column .. column + length - 1, packed
    // for the folding kernel.
    static void PackRun(const PointFold* const* batch, int count, int column, int length, double* out);
    bool AddParameterConstraints(const SystemRows& target);
    // The reduced system being formed (normals, or the sparse system).
    SystemRows ReducedRows() const;
    // Builds the sparse reduced system when the solver choice and its fill
    // call for it; false leaves the dense one to be allocated.
    bool ChooseSparseSystem();
    // Element (i, j) of the cofactor matrix of the last inversion.
    double Cofactor(int i, int j) const;
    void ReleasePending();
    void StorePending();
    // Empties the stores of the last pass, keeping a folding's blocks for
    // the next.
    void RecycleStores();
    template <class T>
    static T* TakeSpare(std::vector<T*>& spares, int index);
    void ReleaseSpares();
    bool FaultCheck(const char* phaseText);
    bool Fail(const char* reason);
    // The names of the images whose every ray of the working points is
    // rejected, quoted and separated by commas; empty when there is none.
    std::string ImagesWithoutRays() const;
    bool AbortRequested() const { return progress.IsAbortRequested(); }
    int UsedCameraCount() const;

    std::string failureReason;
    int workerLimit = -1;                         // -1: the default limit
    ReducedSolver solverChoice = SOLVER_DEFAULT;
    mutable std::unique_ptr<CMatrix> wholeInverse; // the sparse system's whole inverse, when asked for
    CPointSet* activeControl = nullptr;           // control, or its copy
    std::unique_ptr<CPointSet> controlCopy;       // when control is the working set
    std::vector<char> cameraUsed;
    std::vector<int32_t> rayImages;               // images that observe each point, in image order
    std::vector<int32_t> rayStart;                // per point, its first entry in rayImages
    // Per entry of rayImages, the observation that the point's index names
    // in that image: the rays' data are reached without looking them up.
    std::vector<CImageObservation*> rayObservations;
    std::vector<CImageObservation*> otherObservations; // those of the merged images in no ray
    int mergedImages = -1;                        // images at the merge
    std::vector<std::pair<CObjectPoint*, CObjectPoint*>> controlPairs; // control point, working point
    std::vector<StationCache> stationCache;
    std::vector<int32_t> foldedColumns;           // column maps of the store, flat
    std::vector<int32_t> foldedColumnStart;       // per store entry, its first column in foldedColumns
    // The standard folding's working state: points folded out, cameras and
    // stations kept in the reduced system.
    struct StandardFoldingState {
        // Points are folded in the order of the first image that sees them,
        // so that points folded one after the other touch neighbouring
        // stations; their blocks are then stored in the order of the set.
        std::vector<int32_t> foldOrder;
        std::vector<CMatrix*> pendingMatrix;      // per point index, its M while forming
        std::vector<CVector*> pendingVector;
        std::vector<int32_t> pendingColumnStart;
        std::vector<int32_t> pendingColumnCount;
        std::vector<int32_t> pendingColumns;
        std::vector<int32_t> storedPoint;         // per store entry, its point
        std::vector<CMatrix*> spareMatrix;        // per point index, its M of the last pass while forming
        std::vector<CVector*> spareVector;
        std::vector<double> stationCross;         // per station, its 10 x 6 block with its camera from the rays
        CMatrix datumInverse;                     // D^-1 of the free-network reduction
    };
    StandardFoldingState standardFold;
    CVector rightHandSide;
    CVector solution;

    // --- Stations folded out, error propagation and scale bars --------------
public:
    // Normal equations with the stations folded out: cameras and points stay
    // in the reduced system; each station touches only its camera and the
    // points it sees. False when aborted or when a station cannot be
    // inverted (status 2 then).
    bool FormNormalsReverse(int& equations);
    bool UpdateCamerasAndPoints(const CVector& x);
    bool UpdateStationsReverse(const CVector& x);
    // Checks that the reduced system of this run fits in memory and
    // allocates it; false with status 2 and a reason when it cannot.
    bool AllocateReducedSystem();
    // Moves the formed sparse system into the dense storage, whose root-free
    // factorisation takes pivots at or below zero that the tests allow.
    bool SwitchToDenseSystem();
    // Datum rows of a free network: 6 when rigorous scaling has a bar in
    // the system, else 7 (set by the reverse forming).
    int GetFreeDatumRows() const;

    // What differs between the foldings and between a free network and
    // control: forming, inversion of a free network, the two updates, the
    // covariances, the error propagation and the RMS standard errors.
    struct FoldingScheme {
        bool (CAdjustmentEngine::*form)(int& equations);
        bool (CAdjustmentEngine::*invert)();
        bool (CAdjustmentEngine::*updateFirst)(const CVector& x);
        bool (CAdjustmentEngine::*updateSecond)(const CVector& x);
        bool (CAdjustmentEngine::*covariances)();
        bool (CAdjustmentEngine::*propagate)();
        bool (CAdjustmentEngine::*rmsStandardErrors)();
        bool borderedDatum; // the datum is solved in a bordered system by multipliers
        bool rmsFromImages; // the residual RMS is read from the images after forming
    };
    // The scheme of the settings' folding and datum.
    const FoldingScheme& Scheme() const;

    // Inversion, covariances and error propagation after the loop.
    bool InvertFreeStandard();
    bool InvertFreeReverse();
    bool ComputeCovariancesStandard();
    bool ComputeCovariancesReverse();
    bool PropagateErrorsStandard();
    bool PropagateErrorsReverse();
    bool ComputeRmsStandardErrors();
    bool ComputeRmsStandardErrorsReverse();
    bool SetControlDiscrepancies();
    // The cofactor matrix of the reduced system after a successful
    // inversion (its leading order x order block), else null.
    const CMatrix* GetCofactors(int& order) const;

    // Scaling by scale bars.
    bool PostBundleScaling();
    bool AddScaleBarEquations(int& equations);
    // A bar's sigma at or below this has weight 1 in rigorous scaling.
    static constexpr double kBarSigmaUnset = 1e-16;

private:
    bool RunPostAdjustment();
    bool InvertControl();
    void ChooseFreeDatumRows();
    // One station's share of the reverse forming (ReverseFolding.cpp).
    struct StationFold;
    // Forms the rays of station s and its folded blocks into work; false
    // when the abort flag stopped it.
    bool FormStation(int s, StationFold& work);
    bool PrepareStationFold(StationFold& work);
    // Adds a formed station's rays and its elimination to rows lo .. hi - 1.
    void ApplyStation(const StationFold& work, int lo, int hi);
    void HoldReducedParameter(int index);
    int CountUsableScaleBars() const;
    bool ScaleBarUsable(const CScaleBar& bar, int& a, int& b) const;
    // Applies the solved corrections x to the used cameras (their rows come
    // first in the reduced system), to one station (d: X, Y, Z, azimuth,
    // elevation, roll) or to one point (d: x, y, z).
    void UpdateCameras(const CVector& x);
    static void UpdateStation(CProjectImage& image, const double d[6]);
    static void UpdatePoint(CObjectPoint& point, const double d[3]);
    void SetCameraSigmas();

    bool cofactorsReady = false;                  // the last inversion succeeded
    int freeDatumRows = 7;
    // The reverse folding's working state: stations folded out, cameras
    // and points kept in the reduced system.
    struct ReverseFoldingState {
        std::vector<double> pointNormals;         // per point, its 3 x 3 block from its own rays (packed, 6)
        std::vector<int32_t> stationRayStart;     // per station, its first entry in stationRayPoints
        std::vector<int32_t> stationRayPoints;    // points each station sees, in point order
    };
    ReverseFoldingState reverseFold;
};
