// Merge of the image observations into the working point set, and the
// triangulation of all points at the start of every iteration.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <map>
#include <memory>
#include <vector>

#include "AdjustmentEngine.h"
#include "ImageObservation.h"
#include "Intersection.h"
#include "ObjectPoint.h"
#include "PointSet.h"
#include "ProjectImage.h"
#include "ProjectImageList.h"
#include "ProjectSettings.h"
#include "Workers.h"

namespace {

struct LabelLess {
    bool operator()(const CNameBuffer& a, const CNameBuffer& b) const { return a < b; }
};

struct MergedPoint {
    std::unique_ptr<CObjectPoint> point;
    std::vector<int32_t> rayImages;
};

} // namespace

// One point per label that at least minimumRays enabled observations share,
// in label order, each with its table of observation indices (one entry per
// image, -1 where the image does not observe it). A label observed twice in
// one image counts two rays and keeps the later observation's index.
bool CAdjustmentEngine::MergeData()
{
    progress.phase = PHASE_MERGING;
    const int minimumRays = settings->minimumRays;
    const int nImages = images->GetSize();

    // The old points stay available for their normals and radii.
    std::vector<std::unique_ptr<CObjectPoint>> old;
    old.reserve(static_cast<size_t>(points->GetSize()));
    for (int i = 0; i < points->GetSize(); ++i) {
        if (CObjectPoint* p = points->GetAt(i))
            old.emplace_back(p);
    }
    points->GetArray().RemoveAll();
    std::stable_sort(old.begin(), old.end(),
                     [](const std::unique_ptr<CObjectPoint>& a, const std::unique_ptr<CObjectPoint>& b) {
                         return a->label < b->label;
                     });

    std::map<CNameBuffer, MergedPoint, LabelLess> merged;
    for (int j = 0; j < nImages; ++j) {
        const CProjectImage* image = images->GetAt(j);
        const CObservationList& targets = image->targets;
        for (int o = 0; o < targets.GetSize(); ++o) {
            const CImageObservation* obs = targets.GetAt(o);
            if (obs == nullptr || obs->disabled)
                continue;
            MergedPoint& m = merged[obs->label];
            if (!m.point) {
                m.point.reset(new CObjectPoint(obs->label));
                m.point->observationIndex.Reset(nImages);
            }
            m.point->observationIndex[j] = o;
            m.point->rayCount += 1;
            m.point->usedRayCount += 1;
            if (m.rayImages.empty() || m.rayImages.back() != j)
                m.rayImages.push_back(j);
        }
    }

    rayImages.clear();
    rayStart.clear();
    for (auto& entry : merged) {
        MergedPoint& m = entry.second;
        if (m.point->rayCount < minimumRays)
            continue;
        auto found = std::lower_bound(old.begin(), old.end(), entry.first,
                                      [](const std::unique_ptr<CObjectPoint>& p, const CNameBuffer& label) {
                                          return p->label < label;
                                      });
        if (found != old.end() && (*found)->label == entry.first && (*found)->HasNormal()) {
            const CObjectPoint& o = **found;
            m.point->SetNormal(o.normal[0], o.normal[1], o.normal[2]);
            m.point->radius = o.radius;
        }
        rayStart.push_back(static_cast<int32_t>(rayImages.size()));
        rayImages.insert(rayImages.end(), m.rayImages.begin(), m.rayImages.end());
        points->GetArray().Add(m.point.release());
    }

    const int n = static_cast<int>(rayStart.size());
    standardFold.foldOrder.resize(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        standardFold.foldOrder[static_cast<size_t>(i)] = i;
    std::stable_sort(standardFold.foldOrder.begin(), standardFold.foldOrder.end(), [this](int32_t a, int32_t b) {
        return rayImages[static_cast<size_t>(rayStart[static_cast<size_t>(a)])] <
               rayImages[static_cast<size_t>(rayStart[static_cast<size_t>(b)])];
    });
    return true;
}

bool CAdjustmentEngine::TriangulateAll(int& count, double& rms, int iteration, bool forgetFailures)
{
    progress.phase = PHASE_TRIANGULATING;
    count = 0;
    images->ClearResidualsAndRejections();
    // The merge listed the images that observe each point: the intersection
    // visits only those, unless the set or the images changed since.
    const int nImages = images->GetSize();
    const int nRays = static_cast<int>(rayImages.size());
    const bool listed = static_cast<int>(rayStart.size()) == points->GetSize();
    // Each point is intersected on its own, in parallel; the overall RMS is
    // then summed in the order of the set.
    const int nPoints = points->GetSize();
    std::vector<double> squares(static_cast<size_t>(nPoints), -1.0); // RMS^2 of the intersected points
    std::atomic<int> next{0};
    std::atomic<bool> aborted{false};
    RunOnWorkers(GetWorkerCount(), [&](int, int, CWorkerBarrier&) {
        for (int i = next.fetch_add(1); i < nPoints; i = next.fetch_add(1)) {
            if (AbortRequested()) {
                aborted = true;
                return;
            }
            CObjectPoint* point = points->GetAt(i);
            if (point == nullptr)
                continue;
            double pointRms = 0.0;
            const double entry[3] = {point->x, point->y, point->z};
            bool intersected;
            if (listed && point->observationIndex.GetSize() == nImages) {
                const int first = rayStart[static_cast<size_t>(i)];
                const int end = i + 1 < nPoints ? rayStart[static_cast<size_t>(i) + 1] : nRays;
                intersected = IntersectPointOnImages(pointRms, *point, *images, *cameras, *settings, iteration,
                                                     rayImages.data() + first, end - first);
            } else {
                intersected = IntersectPoint(pointRms, *point, *images, *cameras, *settings, iteration);
            }
            if (intersected) {
                point->rms = pointRms * 1000.0;
                squares[static_cast<size_t>(i)] = pointRms * pointRms;
            } else if (forgetFailures) {
                // Nothing of the failed intersection stays with the point.
                point->unsolved = true;
                point->x = entry[0];
                point->y = entry[1];
                point->z = entry[2];
                point->SetSigmaX(0.0);
                point->SetSigmaY(0.0);
                point->SetSigmaZ(0.0);
                point->rms = 0.0;
                point->usedRayCount = 0;
                // Its rays serve no point: rejected, without residuals.
                const int m = std::min(nImages, point->observationIndex.GetSize());
                for (const CRayIndex::Entry& e : point->observationIndex) {
                    if (e.image >= m)
                        break;
                    CProjectImage* image = images->GetAt(e.image);
                    const int index = e.observation;
                    CImageObservation* observation =
                        image != nullptr && index >= 0 && index < image->targets.GetSize() ? image->targets.GetAt(index)
                                                                                           : nullptr;
                    if (observation == nullptr)
                        continue;
                    observation->rejected = true;
                    observation->vx = observation->vy = 0.0;
                }
            }
        }
    });
    if (aborted) {
        rms = -1.0;
        return false;
    }
    double sum = 0.0;
    for (double square : squares) {
        if (square < 0.0)
            continue;
        sum += square;
        ++count;
    }
    if (count < 1) {
        rms = -1.0;
        return true;
    }
    rms = std::sqrt(sum / count);
    return true;
}
