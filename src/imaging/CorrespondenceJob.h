// Linking of unassigned targets across oriented images into new object
// points, back-projection of known points, and the post-processing of new
// points after a bundle adjustment (merging, two-ray removal). Each phase
// reports through the job's progress record and may run on a worker thread.
#pragma once

#include <memory>
#include <utility>
#include <vector>

#include "JobProgress.h"
#include "NameBuffer.h"

class CCamera;
class CCameraList;
class CImageObservation;
class CImagePtrArray;
class CObjectPoint;
class CPointSet;
class CProjectImage;
class CWorkerThread;

class CCorrespondenceJob {
public:
    // Radians per gon as the system stores it (not pi / 200).
    static constexpr double kRadiansPerGon = 0.015707957651346173;
    // 10 gon and 0.005 gon in that measure, and the drive-back radius in pixels.
    static constexpr double kDefaultMinimumAngle = 0.15707957651346172;
    static constexpr double kDefaultEpipolarTolerance = 7.853978825673086e-05;
    static constexpr double kDefaultDriveBackTolerance = 2.0;
    // Projections count up to this fraction of the image half-size.
    static constexpr double kProjectionFraction = 1.1;

    // One ray of an image pair: its epipolar-plane angle, the side (1 = first
    // image, 2 = second) and the observation's position in its image.
    struct CandidateRay {
        double key;
        int side;
        int position;
    };

    // Explicit thresholds; referencePoint may be null (then (0, 0, 0)).
    CCorrespondenceJob(CImagePtrArray* images, CCameraList* cameras, CPointSet* points, double epipolarTolerance,
                       double minimumAngle, double driveBackTolerance, bool driveBack, bool acceptTwoRay,
                       const CNameBuffer& prefix, const double* referencePoint, double maximumDistance);
    // Default thresholds, as the post-processing phases use them.
    CCorrespondenceJob(CImagePtrArray* images, CCameraList* cameras, CPointSet* points, const CNameBuffer& prefix,
                       double mergeDistance);
    CCorrespondenceJob(const CCorrespondenceJob&) = delete;
    CCorrespondenceJob& operator=(const CCorrespondenceJob&) = delete;
    virtual ~CCorrespondenceJob();

    // The phases. Each ends with state 3 and the done flag set, also after a
    // stop, and with every observation list it relabelled sorted by label.
    void FindCorrespondingPoints();
    int BackProject();
    // sortLists false leaves the relabelled lists in their order, for a
    // two-ray removal that follows and still reads the bundle's per-image
    // observation indices; that removal sorts every list when it ends.
    void MergeIdenticalPoints(bool sortLists = true);
    void RemoveTwoRayPoints();

    int CountUnassignedObservations() const;
    void MatchImagePair(CProjectImage& first, CProjectImage& second, const CImagePtrArray& others);
    // group: rays in key order, the first one fixing its observation. False
    // for a group of one.
    bool ResolveCandidateGroup(const std::vector<CandidateRay>& group, CProjectImage& first, CProjectImage& second,
                               const CImagePtrArray& others);
    int DriveBackPoint(const CObjectPoint& point, const CImagePtrArray& images);
    // Prefix and counter; the empty label when the text would not fit a label.
    CNameBuffer MakeNewPointLabel();
    void RelabelUnassignedObservations();

    // An unassigned target carries a label whose number is below zero.
    static bool IsUnassigned(const CImageObservation& observation);

    CJobProgress& GetProgress() { return progress; }
    const CJobProgress& GetProgress() const { return progress; }
    int GetLabelCounter() const { return labelCounter; }

protected:
    CPointSet* points;
    CCameraList* cameras;
    CImagePtrArray* images;
    double minimumAngle;
    double epipolarTolerance;
    double driveBackTolerance;
    bool driveBack;
    bool acceptTwoRay;
    double referencePoint[3] = {0.0, 0.0, 0.0};
    double maximumDistance;
    CNameBuffer prefix;
    double mergeDistance;
    CJobProgress progress;
    int labelCounter;

private:
    struct Workspace;
    using Labelled = std::vector<std::pair<CProjectImage*, int>>;

    void BeginWork(bool imageLabels, bool prefixObservations);
    void EndWork();
    bool Stopped() const { return progress.IsStopRequested(); }
    int DriveBack(const CObjectPoint& point, const CImagePtrArray& targets, Labelled* labelled);
    int FindNearest(const CProjectImage& image, int imageIndex, double x, double y, double radius) const;
    const CCamera* CameraOf(const CProjectImage& image) const;
    bool PointLabelInUse(const CNameBuffer& label) const;
    void RemovePoint(CObjectPoint* point);
    void NoteRelabelled(const CProjectImage* image);
    void SortRelabelledLists();

    std::unique_ptr<Workspace> work;
};

// The job with a thread starter per phase. Each starts the phase on a new
// worker thread and returns it; the caller owns the thread, polls the
// progress record's done flag and joins (the thread's destructor joins).
// Null, with the done flag set, when no thread could be started.
class CCorrespondenceWorker : public CCorrespondenceJob {
public:
    using CCorrespondenceJob::CCorrespondenceJob;

    std::unique_ptr<CWorkerThread> StartFindCorrespondingPointsThread();
    std::unique_ptr<CWorkerThread> StartMergePointsThread(bool sortLists = true);
    std::unique_ptr<CWorkerThread> StartRemoveTwoRayPointsThread();
    std::unique_ptr<CWorkerThread> StartBackProjectionThread();

private:
    template <class Phase>
    std::unique_ptr<CWorkerThread> StartPhase(Phase phase);
};
