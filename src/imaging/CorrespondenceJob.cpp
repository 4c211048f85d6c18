#include "CorrespondenceJob.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "Camera.h"
#include "ImageObservation.h"
#include "ImageRays.h"
#include "Intersection.h"
#include "MeasurementTool.h"
#include "ObjectPoint.h"
#include "PointSet.h"
#include "ProjectImage.h"
#include "ProjectImageList.h"
#include "WorkerThread.h"

namespace {

// The temporary label of a target that becomes unassigned inside a phase;
// the phase's final relabelling numbers it.
const CNameBuffer kUnassignedLabel("-1");

double Dot(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

void Cross(const double a[3], const double b[3], double out[3])
{
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

// out = R transposed times v.
void MultiplyTransposed(const double R[3][3], const double v[3], double out[3])
{
    for (int j = 0; j < 3; ++j)
        out[j] = R[0][j] * v[0] + R[1][j] * v[1] + R[2][j] * v[2];
}

bool Normalise(double v[3])
{
    const double length = std::sqrt(Dot(v, v));
    if (!(length > 0.0) || !std::isfinite(length))
        return false;
    for (int j = 0; j < 3; ++j)
        v[j] /= length;
    return true;
}

} // namespace

// Lookups that hold while a phase runs: observation positions do not change
// inside a phase (labels change in place, lists are sorted at its end), so
// the indexes stay valid without relying on label order.
struct CCorrespondenceJob::Workspace {
    struct Image {
        const CCamera* camera = nullptr;
        // Observation positions ordered by x, for the nearest-target search.
        std::vector<std::pair<double, int>> byX;
        // Labels the image holds (back-projection only).
        std::unordered_set<std::string> labels;
        bool relabelled = false;
    };
    std::unordered_map<const CProjectImage*, int> imageIndex;
    std::vector<Image> images;
    std::unordered_set<std::string> pointLabels;
    // Where the observations of each prefix label are: (image, position).
    std::unordered_map<std::string, std::vector<std::pair<int, int>>> prefixObservations;
};

CCorrespondenceJob::CCorrespondenceJob(CImagePtrArray* images, CCameraList* cameras, CPointSet* points,
                                       double epipolarTolerance, double minimumAngle, double driveBackTolerance,
                                       bool driveBack, bool acceptTwoRay, const CNameBuffer& prefix,
                                       const double* referencePoint, double maximumDistance)
    : points(points), cameras(cameras), images(images), minimumAngle(minimumAngle),
      epipolarTolerance(epipolarTolerance), driveBackTolerance(driveBackTolerance), driveBack(driveBack),
      acceptTwoRay(acceptTwoRay), maximumDistance(maximumDistance), prefix(prefix), mergeDistance(0.0),
      labelCounter(points ? points->GetSize() : 0)
{
    if (referencePoint)
        for (int j = 0; j < 3; ++j)
            this->referencePoint[j] = referencePoint[j];
}

CCorrespondenceJob::CCorrespondenceJob(CImagePtrArray* images, CCameraList* cameras, CPointSet* points,
                                       const CNameBuffer& prefix, double mergeDistance)
    : points(points), cameras(cameras), images(images), minimumAngle(kDefaultMinimumAngle),
      epipolarTolerance(kDefaultEpipolarTolerance), driveBackTolerance(kDefaultDriveBackTolerance), driveBack(true),
      acceptTwoRay(false), maximumDistance(0.0), prefix(prefix), mergeDistance(mergeDistance),
      labelCounter(points ? points->GetSize() : 0)
{
}

CCorrespondenceJob::~CCorrespondenceJob() = default;

bool CCorrespondenceJob::IsUnassigned(const CImageObservation& observation)
{
    return IsUnidentifiedLabel(observation.label);
}

// --- Workspace ---------------------------------------------------------------

void CCorrespondenceJob::BeginWork(bool imageLabels, bool prefixObservations)
{
    work = std::make_unique<Workspace>();
    const int n = images ? images->GetSize() : 0;
    work->images.resize(static_cast<std::size_t>(n));
    for (int k = 0; k < n; ++k) {
        const CProjectImage* image = images->GetAt(k);
        if (!image)
            continue;
        work->imageIndex.emplace(image, k);
        Workspace::Image& w = work->images[static_cast<std::size_t>(k)];
        w.camera = cameras ? cameras->FindByName(image->GetCameraName().GetText()) : nullptr;
        const int count = image->targets.GetSize();
        w.byX.reserve(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            const CImageObservation* o = image->targets.GetAt(i);
            if (!o)
                continue;
            w.byX.emplace_back(o->x, i);
            if (imageLabels)
                w.labels.insert(o->label.GetText());
            if (prefixObservations && o->label.StartsWith(prefix))
                work->prefixObservations[o->label.GetText()].emplace_back(k, i);
        }
        std::sort(w.byX.begin(), w.byX.end());
    }
    if (points)
        for (int i = 0; i < points->GetSize(); ++i)
            if (const CObjectPoint* p = points->GetAt(i))
                work->pointLabels.insert(p->label.GetText());
}

void CCorrespondenceJob::EndWork() { work.reset(); }

const CCamera* CCorrespondenceJob::CameraOf(const CProjectImage& image) const
{
    if (work) {
        auto it = work->imageIndex.find(&image);
        if (it != work->imageIndex.end())
            return work->images[static_cast<std::size_t>(it->second)].camera;
    }
    return cameras ? cameras->FindByName(image.GetCameraName().GetText()) : nullptr;
}

bool CCorrespondenceJob::PointLabelInUse(const CNameBuffer& label) const
{
    if (work)
        return work->pointLabels.count(label.GetText()) != 0;
    for (int i = 0; points && i < points->GetSize(); ++i)
        if (const CObjectPoint* p = points->GetAt(i))
            if (p->label == label)
                return true;
    return false;
}

void CCorrespondenceJob::RemovePoint(CObjectPoint* point)
{
    for (int i = points->GetSize() - 1; i >= 0; --i)
        if (points->GetAt(i) == point) {
            if (work)
                work->pointLabels.erase(point->label.GetText());
            points->RemoveAt(i, 1);
            return;
        }
}

void CCorrespondenceJob::NoteRelabelled(const CProjectImage* image)
{
    if (!work)
        return;
    auto it = work->imageIndex.find(image);
    if (it != work->imageIndex.end())
        work->images[static_cast<std::size_t>(it->second)].relabelled = true;
}

void CCorrespondenceJob::SortRelabelledLists()
{
    if (!work || !images)
        return;
    for (int k = 0; k < images->GetSize(); ++k)
        if (work->images[static_cast<std::size_t>(k)].relabelled && images->GetAt(k))
            images->GetAt(k)->targets.SortByLabel();
}

// --- Labels --------------------------------------------------------------------

CNameBuffer CCorrespondenceJob::MakeNewPointLabel()
{
    for (;;) {
        char text[64];
        std::snprintf(text, sizeof text, "%s%d", prefix.GetText(), labelCounter);
        ++labelCounter;
        CNameBuffer label;
        if (!label.Set(text))
            return CNameBuffer();
        if (!PointLabelInUse(label))
            return label;
    }
}

int CCorrespondenceJob::CountUnassignedObservations() const
{
    int count = 0;
    for (int k = 0; images && k < images->GetSize(); ++k)
        if (const CProjectImage* image = images->GetAt(k))
            for (int i = 0; i < image->targets.GetSize(); ++i)
                if (const CImageObservation* o = image->targets.GetAt(i))
                    count += IsUnassigned(*o) ? 1 : 0;
    return count;
}

void CCorrespondenceJob::RelabelUnassignedObservations()
{
    progress.SetState(CJobProgress::kSorting);
    progress.SetFraction(0.0);
    const int n = images ? images->GetSize() : 0;
    for (int k = 0; k < n; ++k) {
        progress.SetFraction(CJobProgress::Ratio(k, n - 1));
        CProjectImage* image = images->GetAt(k);
        if (!image)
            continue;
        int number = -1;
        for (int i = 0; i < image->targets.GetSize(); ++i) {
            CImageObservation* o = image->targets.GetAt(i);
            if (!o || !IsUnassigned(*o))
                continue;
            char text[16];
            std::snprintf(text, sizeof text, "%d", number--);
            o->label.Set(text);
        }
        image->targets.SortByLabel();
    }
}

// --- Drive-back ------------------------------------------------------------------

int CCorrespondenceJob::FindNearest(const CProjectImage& image, int imageIndex, double x, double y,
                                    double radius) const
{
    CImageObservation probe;
    probe.x = x;
    probe.y = y;
    if (!work || imageIndex < 0)
        return image.FindNearestObservation(probe, radius);
    // The same choice as the linear search: the smallest squared distance
    // within the radius, of equal ones the first in the list. The x window
    // is a little wider than the radius, so rounding never drops a target.
    const double limit = radius * radius;
    const double margin = radius + 1e-9 * (std::fabs(x) + radius) + 1e-12;
    const auto& byX = work->images[static_cast<std::size_t>(imageIndex)].byX;
    auto it = std::lower_bound(byX.begin(), byX.end(), std::make_pair(x - margin, -1));
    int best = -1;
    double bestDistance = 0.0;
    for (; it != byX.end() && it->first <= x + margin; ++it) {
        const CImageObservation* t = image.targets.GetAt(it->second);
        const double dx = t->x - probe.x, dy = t->y - probe.y;
        const double d = dx * dx + dy * dy;
        if (d > limit)
            continue;
        if (best < 0 || d < bestDistance || (d == bestDistance && it->second < best)) {
            best = it->second;
            bestDistance = d;
        }
    }
    return best;
}

int CCorrespondenceJob::DriveBackPoint(const CObjectPoint& point, const CImagePtrArray& targets)
{
    return DriveBack(point, targets, nullptr);
}

int CCorrespondenceJob::DriveBack(const CObjectPoint& point, const CImagePtrArray& targets, Labelled* labelled)
{
    int count = 0;
    for (int k = 0; k < targets.GetSize(); ++k) {
        CProjectImage* image = targets.GetAt(k);
        if (!image)
            continue;
        const CCamera* camera = CameraOf(*image);
        if (!camera)
            continue;
        CImageObservation projected;
        if (!ProjectPointToImage(point, *image, *camera, projected, kProjectionFraction))
            continue;
        const double radius = (camera->XPixelSize + camera->YPixelSize) * 0.5 * driveBackTolerance;
        int imageIndex = -1;
        if (work) {
            auto it = work->imageIndex.find(image);
            if (it != work->imageIndex.end())
                imageIndex = it->second;
        }
        const int nearest = FindNearest(*image, imageIndex, projected.x, projected.y, radius);
        if (nearest < 0)
            continue;
        CImageObservation* o = image->targets.GetAt(nearest);
        if (!IsUnassigned(*o))
            continue;
        o->SetLabel(point.label);
        ++count;
        NoteRelabelled(image);
        if (labelled)
            labelled->emplace_back(image, nearest);
        if (work && imageIndex >= 0)
            work->images[static_cast<std::size_t>(imageIndex)].labels.insert(point.label.GetText());
    }
    return count;
}

// --- Linking -------------------------------------------------------------------

void CCorrespondenceJob::FindCorrespondingPoints()
{
    progress.BeginPhase();
    progress.SetState(CJobProgress::kLinking);
    const int n = images ? images->GetSize() : 0;
    progress.InitPairs(n);
    if (points && cameras) {
        BeginWork(false, false);
        bool stop = false;
        for (int i = 0; i < n - 1 && !stop; ++i)
            for (int j = i + 1; j < n; ++j) {
                if (Stopped()) {
                    stop = true;
                    break;
                }
                progress.AddPairDone();
                CProjectImage* a = images->GetAt(i);
                CProjectImage* b = images->GetAt(j);
                if (!a || !b)
                    continue;
                CImagePtrArray others;
                for (int k = 0; k < n; ++k)
                    if (k != i && k != j)
                        others.Add(images->GetAt(k));
                MatchImagePair(*a, *b, others);
            }
        EndWork();
    }
    RelabelUnassignedObservations();
    progress.EndPhase();
}

void CCorrespondenceJob::MatchImagePair(CProjectImage& first, CProjectImage& second, const CImagePtrArray& others)
{
    double base[3] = {second.X - first.X, second.Y - first.Y, second.Z - first.Z};
    if (!Normalise(base))
        return;
    double RA[3][3];
    first.GetRotation(RA);
    const double back[3] = {0.0, 0.0, -1.0};
    double view[3], normal[3];
    MultiplyTransposed(RA, back, view);
    Cross(base, view, normal);
    if (std::sqrt(Dot(normal, normal)) <= 1e-7) {
        // Base along the viewing axis.
        const double turned[3] = {1.0, view[1], view[2]};
        MultiplyTransposed(RA, turned, view);
        Cross(base, view, normal);
    }
    if (!Normalise(normal))
        return;
    double w[3];
    Cross(normal, base, w);

    std::vector<CandidateRay> rays;
    CProjectImage* sides[2] = {&first, &second};
    for (int s = 0; s < 2; ++s) {
        const CProjectImage& image = *sides[s];
        const CCamera* camera = CameraOf(image);
        if (!camera)
            continue;
        double R[3][3];
        image.GetRotation(R);
        for (int i = 0; i < image.targets.GetSize(); ++i) {
            const CImageObservation* o = image.targets.GetAt(i);
            if (!o || !IsUnassigned(*o))
                continue;
            double x = 0.0, y = 0.0;
            if (!CorrectedImageCoordinates(image, *camera, *o, x, y))
                continue;
            const double p[3] = {x, y, -camera->parameters[CAM_C]};
            double r[3];
            MultiplyTransposed(R, p, r);
            const double key = std::atan2(Dot(normal, r), Dot(w, r));
            if (std::isfinite(key))
                rays.push_back({key, s + 1, i});
        }
    }
    std::sort(rays.begin(), rays.end(), [](const CandidateRay& a, const CandidateRay& b) { return a.key < b.key; });

    std::vector<CandidateRay> group;
    for (std::size_t i = 0; i + 1 < rays.size(); ++i) {
        const CProjectImage& own = rays[i].side == 1 ? first : second;
        if (!IsUnassigned(*own.targets.GetAt(rays[i].position)))
            continue; // every pair of its group would be skipped
        group.assign(1, rays[i]);
        for (std::size_t j = i + 1; j < rays.size(); ++j) {
            if (rays[j].key - rays[i].key > epipolarTolerance)
                break;
            if (rays[j].side != rays[i].side)
                group.push_back(rays[j]);
        }
        ResolveCandidateGroup(group, first, second, others);
    }
}

bool CCorrespondenceJob::ResolveCandidateGroup(const std::vector<CandidateRay>& group, CProjectImage& first,
                                               CProjectImage& second, const CImagePtrArray& others)
{
    if (group.size() < 2)
        return false;
    const CandidateRay& fixed = group[0];
    CImageObservation* fixedObservation = (fixed.side == 1 ? first : second).targets.GetAt(fixed.position);
    // The fixed target must be unassigned before the group; the group's own
    // matches do not end the search, so that a second match shows the
    // ambiguity.
    if (!fixedObservation || !IsUnassigned(*fixedObservation))
        return true;

    struct Match {
        CObjectPoint* point;
        Labelled labelled;
    };
    std::vector<Match> matches;
    int driveBackSum = 0;
    for (std::size_t j = 1; j < group.size(); ++j) {
        const CandidateRay& other = group[j];
        const int positionA = fixed.side == 1 ? fixed.position : other.position;
        const int positionB = fixed.side == 1 ? other.position : fixed.position;
        CImageObservation* a = first.targets.GetAt(positionA);
        CImageObservation* b = second.targets.GetAt(positionB);
        CImageObservation* candidate = fixed.side == 1 ? b : a;
        if (!a || !b || !IsUnassigned(*candidate))
            continue;
        CObjectPoint intersected;
        if (!IntersectTwoRays(intersected, positionA, positionB, first, second, *cameras, minimumAngle))
            continue;
        if (maximumDistance > 0.0) {
            const double d[3] = {intersected.x - referencePoint[0], intersected.y - referencePoint[1],
                                 intersected.z - referencePoint[2]};
            if (std::sqrt(Dot(d, d)) > maximumDistance)
                continue;
        }
        const CNameBuffer label = MakeNewPointLabel();
        if (label.GetText()[0] == '\0')
            continue;
        CObjectPoint* point = points->AddNew();
        point->x = intersected.x;
        point->y = intersected.y;
        point->z = intersected.z;
        point->label = label;
        if (work)
            work->pointLabels.insert(label.GetText());
        Match match{point, {}};
        const int k = driveBack ? DriveBack(*point, others, &match.labelled) : 0;
        driveBackSum += k;
        if (k == 0 && !acceptTwoRay) {
            RemovePoint(point);
            continue;
        }
        a->SetLabel(label);
        b->SetLabel(label);
        NoteRelabelled(&first);
        NoteRelabelled(&second);
        match.labelled.emplace_back(&first, positionA);
        match.labelled.emplace_back(&second, positionB);
        matches.push_back(std::move(match));
    }

    if (matches.size() > 1) {
        // Ambiguous: undo every point of the group and its observations.
        for (auto m = matches.rbegin(); m != matches.rend(); ++m) {
            for (const auto& [image, position] : m->labelled)
                image->targets.GetAt(position)->SetLabel(kUnassignedLabel);
            RemovePoint(m->point);
        }
    } else if (matches.size() == 1) {
        progress.SetLinked(progress.GetLinked() + 2 + driveBackSum);
    }
    return true;
}

// --- Back-projection ------------------------------------------------------------

int CCorrespondenceJob::BackProject()
{
    progress.BeginPhase();
    progress.SetState(CJobProgress::kBackProjecting);
    progress.SetBackProjected(0);
    progress.SetFraction(0.0);
    int total = 0;
    if (points && cameras && images) {
        BeginWork(true, false);
        const int n = points->GetSize();
        for (int i = 0; i < n; ++i) {
            progress.SetFraction(CJobProgress::Ratio(i, n - 1));
            if (Stopped())
                break;
            const CObjectPoint* point = points->GetAt(i);
            if (!point || point->label.GetText()[0] == '\0')
                continue;
            CImagePtrArray missing;
            for (int k = 0; k < images->GetSize(); ++k)
                if (images->GetAt(k) && !work->images[static_cast<std::size_t>(k)].labels.count(point->label.GetText()))
                    missing.Add(images->GetAt(k));
            total += DriveBack(*point, missing, nullptr);
            progress.SetBackProjected(total);
        }
        SortRelabelledLists();
        EndWork();
    }
    progress.EndPhase();
    return total;
}

// --- Post-processing ----------------------------------------------------------------

void CCorrespondenceJob::MergeIdenticalPoints(bool sortLists)
{
    progress.BeginPhase();
    progress.SetState(CJobProgress::kMerging);
    progress.InitPairs(points ? points->GetSize() : 0);
    progress.SetMerged(0);
    if (points && images) {
        BeginWork(false, true);
        int merged = 0;
        bool stop = false;
        for (int i = 0; !stop && i < points->GetSize() - 1; ++i) {
            if (Stopped())
                break;
            CObjectPoint* keep = points->GetAt(i);
            if (!keep->label.StartsWith(prefix)) {
                progress.AddPairsDone(points->GetSize() - 1 - i);
                continue;
            }
            int completed = 0;
            for (int j = points->GetSize() - 1; j > i; --j) {
                if (Stopped()) {
                    stop = true;
                    break;
                }
                ++completed;
                progress.AddPairDone();
                CObjectPoint* gone = points->GetAt(j);
                if (!gone->label.StartsWith(prefix))
                    continue;
                const double d[3] = {keep->x - gone->x, keep->y - gone->y, keep->z - gone->z};
                if (!(std::sqrt(Dot(d, d)) <= mergeDistance))
                    continue;
                // Never two observations of one point in an image: by the
                // bundle's per-image indices and by the labels the images hold.
                bool shared = false;
                const int common = std::min(keep->observationIndex.GetSize(), gone->observationIndex.GetSize());
                const CRayIndex::Entry* a = keep->observationIndex.begin();
                const CRayIndex::Entry* b = gone->observationIndex.begin();
                while (!shared && a != keep->observationIndex.end() && b != gone->observationIndex.end() &&
                       a->image < common && b->image < common) {
                    shared = a->image == b->image;
                    if (a->image <= b->image)
                        ++a;
                    else
                        ++b;
                }
                auto& keptAt = work->prefixObservations[keep->label.GetText()];
                auto& goneAt = work->prefixObservations[gone->label.GetText()];
                for (const auto& g : goneAt)
                    for (const auto& h : keptAt)
                        shared = shared || g.first == h.first;
                if (shared)
                    continue;

                ++merged;
                progress.SetMerged(merged);
                keep->x = (keep->x + gone->x) / 2.0;
                keep->y = (keep->y + gone->y) / 2.0;
                keep->z = (keep->z + gone->z) / 2.0;
                keep->SetSigmaX(0.0);
                keep->SetSigmaY(0.0);
                keep->SetSigmaZ(0.0);
                for (const auto& [k, position] : goneAt) {
                    CProjectImage* image = images->GetAt(k);
                    image->targets.GetAt(position)->SetLabel(keep->label);
                    NoteRelabelled(image);
                    keptAt.emplace_back(k, position);
                }
                work->prefixObservations.erase(gone->label.GetText());
                RemovePoint(gone);
                progress.SetPairProgress(points->GetSize(), i, i + completed);
            }
        }
        if (sortLists)
            SortRelabelledLists();
        EndWork();
    }
    progress.EndPhase();
}

void CCorrespondenceJob::RemoveTwoRayPoints()
{
    progress.BeginPhase();
    progress.SetState(CJobProgress::kRemovingTwoRayPoints);
    progress.SetFraction(0.0);
    progress.SetRemoved(0);
    if (points && images) {
        BeginWork(false, true);
        int removed = 0;
        const int last = points->GetSize() - 1;
        for (int i = last; i >= 0; --i) {
            if (Stopped())
                break;
            progress.SetFraction(CJobProgress::Ratio(last - i, last));
            CObjectPoint* point = points->GetAt(i);
            if (!point->label.StartsWith(prefix) || point->rayCount > 2)
                continue;
            progress.SetRemoved(++removed);
            // Every observation that carries the label, also those merged
            // into the point, so that no target keeps a label the set no
            // longer holds.
            auto it = work->prefixObservations.find(point->label.GetText());
            if (it != work->prefixObservations.end()) {
                for (const auto& [k, position] : it->second)
                    images->GetAt(k)->targets.GetAt(position)->SetLabel(kUnassignedLabel);
                work->prefixObservations.erase(it);
            }
            RemovePoint(point);
        }
        EndWork();
    }
    RelabelUnassignedObservations();
    progress.EndPhase();
}

// --- Threads -------------------------------------------------------------------------

template <class Phase>
std::unique_ptr<CWorkerThread> CCorrespondenceWorker::StartPhase(Phase phase)
{
    progress.BeginPhase();
    auto thread = std::make_unique<CWorkerThread>();
    const bool started = thread->Start([this, phase]() -> unsigned {
        try {
            phase();
            return 0;
        } catch (...) {
            progress.EndPhase(); // a watcher must never wait for ever
            return 1;
        }
    });
    if (!started) {
        progress.EndPhase();
        return nullptr;
    }
    return thread;
}

std::unique_ptr<CWorkerThread> CCorrespondenceWorker::StartFindCorrespondingPointsThread()
{
    return StartPhase([this] { FindCorrespondingPoints(); });
}

std::unique_ptr<CWorkerThread> CCorrespondenceWorker::StartMergePointsThread(bool sortLists)
{
    return StartPhase([this, sortLists] { MergeIdenticalPoints(sortLists); });
}

std::unique_ptr<CWorkerThread> CCorrespondenceWorker::StartRemoveTwoRayPointsThread()
{
    return StartPhase([this] { RemoveTwoRayPoints(); });
}

std::unique_ptr<CWorkerThread> CCorrespondenceWorker::StartBackProjectionThread()
{
    return StartPhase([this] { BackProject(); });
}
