// Merge of the image observations into the working point set, and the
// triangulation of all points at the start of every iteration.
#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <vector>

#include "AdjustmentEngine.h"
#include "ImageObservation.h"
#include "ImageRays.h"
#include "Intersection.h"
#include "ObjectPoint.h"
#include "PointSet.h"
#include "ProjectImage.h"
#include "ProjectImageList.h"
#include "ProjectSettings.h"
#include "Workers.h"

namespace {

// Numbers labels by their bytes: equal labels have equal bytes. Open
// addressing over the labels' bytes, zero-padded to 16; the table holds only
// the numbers (small enough to stay in the cache), the bytes are kept by
// number.
class CLabelNumbers {
public:
    CLabelNumbers() { Grow(4096); }

    // The number of the label; the next free number when it is new.
    int32_t Find(const CNameBuffer& label)
    {
        Key key;
        const char* text = label.GetText();
        char bytes[16] = {};
        for (int k = 0; k < CNameBuffer::kMaxLength && text[k] != '\0'; ++k)
            bytes[k] = text[k];
        std::memcpy(key.k, bytes, sizeof bytes);
        size_t at = Hash(key) & mask;
        for (int32_t n; (n = slots[at]) >= 0; at = (at + 1) & mask) {
            const Key& other = keys[static_cast<size_t>(n)];
            if (other.k[0] == key.k[0] && other.k[1] == key.k[1])
                return n;
        }
        const int32_t fresh = static_cast<int32_t>(keys.size());
        slots[at] = fresh;
        keys.push_back(key);
        if (keys.size() * 2 > slots.size())
            Grow(2 * slots.size());
        return fresh;
    }

private:
    struct Key {
        uint64_t k[2];
    };
    static size_t Hash(const Key& key)
    {
        uint64_t h = key.k[0] * 0x9e3779b97f4a7c15ull ^ (key.k[1] + 0x632be59bd9b4e019ull) * 0xbf58476d1ce4e5b9ull;
        h ^= h >> 31;
        h *= 0x94d049bb133111ebull;
        return static_cast<size_t>(h ^ (h >> 29));
    }
    void Grow(size_t size)
    {
        slots.assign(size, -1);
        mask = size - 1;
        for (size_t n = 0; n < keys.size(); ++n) {
            size_t at = Hash(keys[n]) & mask;
            while (slots[at] >= 0)
                at = (at + 1) & mask;
            slots[at] = static_cast<int32_t>(n);
        }
    }

    std::vector<int32_t> slots; // label numbers, -1 where free
    std::vector<Key> keys;      // by number
    size_t mask = 0;
};

// How many observations on the merge fetches ahead.
constexpr int kMergeAhead = 8;

} // namespace

// One point per label that at least minimumRays enabled observations share,
// in label order, each with its table of observation indices (one entry per
// image, -1 where the image does not observe it). A label observed twice in
// one image counts two rays and keeps the later observation's index.
bool CAdjustmentEngine::MergeData()
{
    return MergeData(false);
}

bool CAdjustmentEngine::MergeData(bool clearObservations)
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
    // (The set of an earlier run is in label order already.)
    auto before = [](const std::unique_ptr<CObjectPoint>& a, const std::unique_ptr<CObjectPoint>& b) {
        return a->label < b->label;
    };
    if (!std::is_sorted(old.begin(), old.end(), before))
        std::stable_sort(old.begin(), old.end(), before);

    // Every enabled observation numbered by its label (equal labels have
    // equal bytes), the labels then put in natural order once.
    struct Sighting {
        int32_t label, image, observation;
        CImageObservation* pointer;
    };
    std::vector<Sighting> sightings;
    // Each label as its first observation holds it, copied verbatim while
    // that is at hand, so that the later steps do not go back to the
    // observations (a deque: growing it copies nothing).
    std::deque<CNameBuffer> labels;
    // The observations that will be no point's ray: disabled ones now, the
    // rest as the points are made.
    otherObservations.clear();
    mergedImages = nImages;
    {
        size_t total = 0;
        for (int j = 0; j < nImages; ++j)
            total += static_cast<size_t>(images->GetAt(j)->targets.GetSize());
        sightings.reserve(total);
        CLabelNumbers number;
        for (int j = 0; j < nImages; ++j) {
            const CObservationList& targets = images->GetAt(j)->targets;
            CImageObservation* const* list = targets.GetData();
            const int count = targets.GetSize();
            for (int o = 0; o < count; ++o) {
                // Each observation is its own allocation: the ones a few
                // places on are fetched while this one is read.
                if (o + kMergeAhead < count)
                    if (const CImageObservation* ahead = list[o + kMergeAhead]) {
                        __builtin_prefetch(&ahead->label, 1);
                        __builtin_prefetch(&ahead->disabled, 1);
                    }
                CImageObservation* obs = list[o];
                if (obs == nullptr)
                    continue;
                if (clearObservations) {
                    obs->vx = obs->vy = 0.0;
                    obs->rejected = false;
                }
                if (obs->disabled) {
                    otherObservations.push_back(obs);
                    continue;
                }
                const int32_t label = number.Find(obs->label);
                if (label == static_cast<int32_t>(labels.size())) {
                    labels.emplace_back();
                    labels.back() = obs->label;
                }
                sightings.push_back(Sighting{label, j, o, obs});
            }
        }
    }
    using SortKey = std::array<unsigned char, CNameBuffer::kSortKeyBytes>;
    std::vector<SortKey> keys(labels.size());
    for (size_t k = 0; k < labels.size(); ++k) {
        unsigned char key[CNameBuffer::kSortKeyBytes];
        labels[k].GetSortKey(key);
        std::copy(key, key + CNameBuffer::kSortKeyBytes, keys[k].begin());
    }
    std::vector<int32_t> byLabel(labels.size());
    for (size_t k = 0; k < labels.size(); ++k)
        byLabel[k] = static_cast<int32_t>(k);
    std::sort(byLabel.begin(), byLabel.end(), [&keys](int32_t x, int32_t y) {
        return keys[static_cast<size_t>(x)] < keys[static_cast<size_t>(y)];
    });
    std::vector<int32_t> rank(labels.size());
    for (size_t k = 0; k < byLabel.size(); ++k)
        rank[static_cast<size_t>(byLabel[k])] = static_cast<int32_t>(k);
    // The sightings by label, each label's in image and list order.
    std::vector<int32_t> labelStart(labels.size() + 1, 0);
    for (const Sighting& s : sightings)
        ++labelStart[static_cast<size_t>(rank[static_cast<size_t>(s.label)]) + 1];
    for (size_t k = 0; k < labels.size(); ++k)
        labelStart[k + 1] += labelStart[k];
    // (Left uninitialised: the scatter writes every place.)
    struct Placed {
        int32_t image, observation;
        CImageObservation* pointer;
    };
    std::unique_ptr<Placed[]> sorted(new Placed[sightings.size()]);
    {
        std::vector<int32_t> fill(labelStart.begin(), labelStart.end() - 1);
        for (const Sighting& s : sightings)
            sorted[static_cast<size_t>(fill[static_cast<size_t>(rank[static_cast<size_t>(s.label)])]++)] =
                Placed{s.image, s.observation, s.pointer};
    }
    const size_t sightingCount = sightings.size();
    sightings.clear();
    sightings.shrink_to_fit();

    rayImages.clear();
    rayStart.clear();
    rayObservations.clear();
    rayImages.reserve(sightingCount);
    rayObservations.reserve(sightingCount);
    auto found = old.begin();
    for (size_t k = 0; k < labels.size(); ++k) {
        const int32_t first = labelStart[k], end = labelStart[k + 1];
        if (end - first < minimumRays) {
            for (int32_t r = first; r < end; ++r)
                otherObservations.push_back(sorted[static_cast<size_t>(r)].pointer);
            continue;
        }
        const CNameBuffer& label = labels[static_cast<size_t>(byLabel[k])];
        std::unique_ptr<CObjectPoint> point(new CObjectPoint(label));
        point->observationIndex.Reset(nImages);
        point->observationIndex.Reserve(end - first);
        rayStart.push_back(static_cast<int32_t>(rayImages.size()));
        for (int32_t r = first; r < end; ++r) {
            const Placed& s = sorted[static_cast<size_t>(r)];
            point->observationIndex[s.image] = s.observation;
            point->rayCount += 1;
            point->usedRayCount += 1;
            // A second observation in the same image replaces the first.
            if (r == first || sorted[static_cast<size_t>(r) - 1].image != s.image) {
                rayImages.push_back(s.image);
                rayObservations.push_back(s.pointer);
            } else {
                otherObservations.push_back(rayObservations.back());
                rayObservations.back() = s.pointer;
            }
        }
        // The labels come in order: the first old point not before this
        // label is found by walking on from the last one.
        while (found != old.end() && (*found)->label < label)
            ++found;
        if (found != old.end() && (*found)->label == label && (*found)->HasNormal()) {
            const CObjectPoint& o = **found;
            point->SetNormal(o.normal[0], o.normal[1], o.normal[2]);
            point->radius = o.radius;
        }
        points->GetArray().Add(point.release());
    }

    const int n = static_cast<int>(rayStart.size());
    standardFold.foldOrder.resize(static_cast<size_t>(n));
    // The points by the first image that observes them, in set order among
    // equals (a counting sort: the images are few and numbered densely).
    {
        std::vector<int32_t> byImage(static_cast<size_t>(nImages) + 1, 0);
        for (int i = 0; i < n; ++i)
            ++byImage[static_cast<size_t>(rayImages[static_cast<size_t>(rayStart[static_cast<size_t>(i)])]) + 1];
        for (int j = 0; j < nImages; ++j)
            byImage[static_cast<size_t>(j) + 1] += byImage[static_cast<size_t>(j)];
        for (int i = 0; i < n; ++i)
            standardFold.foldOrder[static_cast<size_t>(
                byImage[static_cast<size_t>(rayImages[static_cast<size_t>(rayStart[static_cast<size_t>(i)])])]++)] = i;
    }
    return true;
}

bool CAdjustmentEngine::TriangulateAll(int& count, double& rms, int iteration, bool forgetFailures)
{
    progress.phase = PHASE_TRIANGULATING;
    count = 0;
    // The merge listed the images that observe each point and the rays'
    // observations: the intersection visits only those, unless the set or
    // the images changed since.
    const int nImages = images->GetSize();
    const int nRays = static_cast<int>(rayImages.size());
    const int nPoints = points->GetSize();
    const bool listed = static_cast<int>(rayStart.size()) == nPoints && mergedImages == nImages &&
                        rayObservations.size() == rayImages.size();
    // Every observation starts without residuals and rejection: those of
    // the rays as their point comes (its intersection reads them next), the
    // others here.
    if (listed) {
        for (CImageObservation* obs : otherObservations) {
            obs->vx = obs->vy = 0.0;
            obs->rejected = false;
        }
        FillStationCache();
    } else {
        images->ClearResidualsAndRejections();
    }
    CImageObservation* const* observations = rayObservations.data();
    auto rayRange = [&](int i, int& first, int& end) {
        first = rayStart[static_cast<size_t>(i)];
        end = i + 1 < nPoints ? rayStart[static_cast<size_t>(i) + 1] : nRays;
    };
    CObjectPoint* const* pointData = points->GetData();
    // The next point's object and observations are fetched while the point
    // before it is intersected.
    auto prefetch = [&](int i) {
        if (i >= nPoints)
            return;
        if (const CObjectPoint* point = pointData[i])
            PrefetchPoint(point);
        if (!listed)
            return;
        int first, end;
        rayRange(i, first, end);
        for (int r = first; r < end; ++r)
            if (const CImageObservation* obs = observations[r]) {
                PrefetchObservation(obs);
            }
    };
    // Each point is intersected on its own, in parallel; the overall RMS is
    // then summed in the order of the set.
    std::vector<double> squares(static_cast<size_t>(nPoints), -1.0); // RMS^2 of the intersected points
    std::atomic<int> next{0};
    std::atomic<bool> aborted{false};
    RunOnWorkers(GetWorkerCount(), [&](int, int, CWorkerBarrier&) {
        for (int i = next.fetch_add(1); i < nPoints; i = next.fetch_add(1)) {
            if (AbortRequested()) {
                aborted = true;
                return;
            }
            prefetch(i + 1);
            if (listed) {
                int first, end;
                rayRange(i, first, end);
                for (int r = first; r < end; ++r)
                    if (CImageObservation* obs = observations[r]) {
                        obs->vx = obs->vy = 0.0;
                        obs->rejected = false;
                    }
            }
            CObjectPoint* point = pointData[i];
            if (point == nullptr)
                continue;
            double pointRms = 0.0;
            const double entry[3] = {point->x, point->y, point->z};
            bool intersected;
            if (listed && point->observationIndex.GetSize() == nImages) {
                int first, end;
                rayRange(i, first, end);
                intersected = IntersectListedRays(pointRms, *point, *settings, iteration, stationCache.data(),
                                                  rayImages.data() + first, observations + first, end - first);
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
