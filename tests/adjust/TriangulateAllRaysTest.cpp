// The engine's triangulation of all points visits only the images that
// observe each point. It must give the same numbers, bit for bit, as the
// intersection over every entry of the point's index table.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "AdjustmentEngine.h"
#include "ImageObservation.h"
#include "Intersection.h"
#include "BundleNetwork.h"

using namespace bundletest;

namespace {

uint64_t Bits(double v)
{
    uint64_t b = 0;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

// A block with image noise and a set of faults that exercise every branch
// of the intersection: gross errors (rejections, failures), disabled images
// (left out of the start value only), disabled observations, a label seen
// twice in one image, an image whose camera is not in the list, and points
// seen by one enabled image only. Deterministic, so that two calls build the
// same network.
void BuildFaultyNetwork(Network& net)
{
    NetworkOptions o;
    o.seed = 77;
    o.noise = 0.002;
    o.stationShift = 0.002;
    o.angleShift = 0.0003;
    o.perturbCamera = false;
    BuildBlock(net, 30, 400, o);
    net.settings.rejectionLimit = 0.02;
    net.settings.minimumRays = 2;

    std::mt19937 rng(5);
    std::uniform_int_distribution<int> pick(0, 1 << 20);
    const int nImages = net.images.GetSize();
    for (int j = 0; j < nImages; ++j) {
        CProjectImage* image = net.images.GetAt(j);
        for (int k = 0; k < image->targets.GetSize(); ++k) {
            CImageObservation* obs = image->targets.GetAt(k);
            const int r = pick(rng);
            if (r % 9 == 0) {
                obs->x += 0.3 + 0.001 * (r % 50); // gross error
            } else if (r % 37 == 1) {
                obs->x += 0.05; // near the limit: wins or loses against a gross error
                obs->y -= 0.05;
            } else if (r % 41 == 2) {
                obs->disabled = true;
            }
        }
    }
    // Disabled images: their rays count in the pass loop, not in the start value.
    for (int j = 3; j < nImages; j += 7)
        net.images.GetAt(j)->enabled = false;
    // Points left with two rays: every 12th with a gross error on one of
    // them (the rejection would leave one ray: failure), every 12th + 5 with
    // its first ray in a disabled image (no start value).
    for (int i = 0; i < net.truth.GetSize(); ++i) {
        const bool grossPair = i % 12 == 0;
        const bool disabledPair = i % 12 == 5;
        if (!grossPair && !disabledPair)
            continue;
        const CNameBuffer& label = net.truth.GetAt(i)->label;
        int kept = 0;
        for (int j = 0; j < nImages; ++j) {
            CProjectImage* image = net.images.GetAt(j);
            if (disabledPair && kept == 0 && image->enabled)
                continue;
            for (int k = 0; k < image->targets.GetSize(); ++k) {
                CImageObservation* obs = image->targets.GetAt(k);
                if (!(obs->label == label) || obs->disabled)
                    continue;
                if (kept < 2) {
                    if (grossPair && kept == 1)
                        obs->y += 0.4;
                    ++kept;
                } else {
                    obs->disabled = true;
                }
            }
        }
    }
    // A camera that is not in the list: its rays are never used.
    net.images.GetAt(nImages - 2)->SetCameraName("NO-SUCH-CAMERA");
    // A label observed twice in one image: two rays, the later index kept.
    CProjectImage* twice = net.images.GetAt(5);
    if (twice->targets.GetSize() > 2) {
        CImageObservation copy(*twice->targets.GetAt(1));
        copy.x += 0.001;
        twice->targets.AddCopy(copy);
        twice->targets.SortByLabel();
    }
}

struct Outcome {
    int count = 0;
    double rms = 0.0;
};

// The reference: every point through the public intersection, which walks
// every entry of the index table, as the triangulation of all points does.
Outcome TriangulateEveryImage(Network& net, int iteration)
{
    Outcome out;
    net.images.ClearResidualsAndRejections();
    double sum = 0.0;
    for (int i = 0; i < net.points.GetSize(); ++i) {
        CObjectPoint* point = net.points.GetAt(i);
        double rms = 0.0;
        if (CAdjustmentEngine::IntersectPoint(rms, *point, net.images, net.cameras, net.settings, iteration)) {
            point->rms = rms * 1000.0;
            sum += rms * rms;
            ++out.count;
        }
    }
    out.rms = out.count < 1 ? -1.0 : std::sqrt(sum / out.count);
    return out;
}

struct Tally {
    int solved = 0;
    int unsolved = 0;
    int rejected = 0;
    int partlyRejected = 0; // solved with fewer used rays than listed
};

// Every number the triangulation writes, compared bit for bit.
Tally ExpectIdentical(const Network& a, const Network& b)
{
    Tally t;
    EXPECT_EQ(a.points.GetSize(), b.points.GetSize());
    for (int i = 0; i < a.points.GetSize() && i < b.points.GetSize(); ++i) {
        const CObjectPoint& p = *a.points.GetAt(i);
        const CObjectPoint& q = *b.points.GetAt(i);
        SCOPED_TRACE(p.label.GetText());
        EXPECT_EQ(Bits(p.x), Bits(q.x));
        EXPECT_EQ(Bits(p.y), Bits(q.y));
        EXPECT_EQ(Bits(p.z), Bits(q.z));
        EXPECT_EQ(Bits(p.rms), Bits(q.rms));
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(Bits(p.covariance.GetAt(k, k)), Bits(q.covariance.GetAt(k, k)));
        EXPECT_EQ(p.rayCount, q.rayCount);
        EXPECT_EQ(p.usedRayCount, q.usedRayCount);
        EXPECT_EQ(p.unsolved, q.unsolved);
        if (p.unsolved)
            ++t.unsolved;
        else
            ++t.solved;
        if (!p.unsolved && p.usedRayCount < p.rayCount)
            ++t.partlyRejected;
    }
    EXPECT_EQ(a.images.GetSize(), b.images.GetSize());
    for (int j = 0; j < a.images.GetSize() && j < b.images.GetSize(); ++j) {
        const CProjectImage& ia = *a.images.GetAt(j);
        const CProjectImage& ib = *b.images.GetAt(j);
        EXPECT_EQ(ia.targets.GetSize(), ib.targets.GetSize());
        for (int k = 0; k < ia.targets.GetSize() && k < ib.targets.GetSize(); ++k) {
            const CImageObservation& oa = *ia.targets.GetAt(k);
            const CImageObservation& ob = *ib.targets.GetAt(k);
            SCOPED_TRACE(oa.label.GetText());
            EXPECT_EQ(Bits(oa.vx), Bits(ob.vx));
            EXPECT_EQ(Bits(oa.vy), Bits(ob.vy));
            EXPECT_EQ(oa.rejected, ob.rejected);
            t.rejected += oa.rejected ? 1 : 0;
        }
    }
    return t;
}

// What a bundle update does between iterations: the stations move a little.
void MoveStations(Network& net, double step)
{
    for (int j = 0; j < net.images.GetSize(); ++j) {
        CProjectImage* image = net.images.GetAt(j);
        const double s = step * ((j % 5) - 2);
        image->SetPose(image->X + s, image->Y - 0.5 * s, image->Z + 0.25 * s, image->GetAzimuth() + 0.01 * s,
                       image->GetElevation() - 0.01 * s, image->GetRoll() + 0.02 * s);
    }
}

// Two copies of the faulty network, merged: one triangulated by the engine
// over the merge's lists, the other through the public walk over every
// image, which clears every observation first.
struct ListedAndFull {
    Network listed, full;
    std::unique_ptr<CAdjustmentEngine> engine, reference;
    ListedAndFull()
    {
        BuildFaultyNetwork(listed);
        BuildFaultyNetwork(full);
        engine.reset(new CAdjustmentEngine(&listed.images, &listed.points, nullptr, &listed.cameras, nullptr,
                                           &listed.settings, &listed.summary));
        reference.reset(new CAdjustmentEngine(&full.images, &full.points, nullptr, &full.cameras, nullptr,
                                              &full.settings, &full.summary));
        EXPECT_TRUE(engine->MergeData());
        EXPECT_TRUE(reference->MergeData());
    }
    // Both triangulated: the same count and RMS, and every number the same.
    Tally Triangulate(int iteration)
    {
        int count = 0;
        double rms = 0.0;
        EXPECT_TRUE(engine->TriangulateAll(count, rms, iteration));
        const Outcome expected = TriangulateEveryImage(full, iteration);
        EXPECT_EQ(count, expected.count);
        EXPECT_EQ(Bits(rms), Bits(expected.rms));
        return ExpectIdentical(listed, full);
    }
};

} // namespace

// The triangulation of all points over the lists of observing images against
// the full walk of every index table, for the first triangulation and for
// two later bundle passes after the stations moved (points held, unsolved
// points placed afresh, a point with its updated flag set).
TEST(TriangulateAllRays, SameNumbersAsTheWalkOverEveryImage)
{
    ListedAndFull both;
    ASSERT_GT(both.listed.points.GetSize(), 300);
    both.listed.points.GetAt(10)->updated = true;
    both.full.points.GetAt(10)->updated = true;

    for (int iteration = 0; iteration < 3; ++iteration) {
        SCOPED_TRACE(iteration);
        if (iteration > 0) {
            MoveStations(both.listed, 2e-4 * iteration);
            MoveStations(both.full, 2e-4 * iteration);
        }
        const Tally t = both.Triangulate(iteration);
        // The network reaches the branches that matter.
        EXPECT_GT(t.solved, 200);
        EXPECT_GT(t.unsolved, 30);
        EXPECT_GT(t.rejected, 50);
        EXPECT_GT(t.partlyRejected, 20);
    }
}

// Residuals and rejections left in the observations before a triangulation
// (by an earlier run or by hand) are all cleared, as the full walk clears
// them: those of the rays, and those that are no point's ray (disabled
// observations, the earlier of a label seen twice in one image, labels with
// too few rays), which the merge lists apart.
TEST(TriangulateAllRays, EveryObservationStartsClean)
{
    ListedAndFull both;
    int disabled = 0;
    for (int iteration = 0; iteration < 2; ++iteration) {
        SCOPED_TRACE(iteration);
        for (int j = 0; j < both.listed.images.GetSize(); ++j) {
            CObservationList& targets = both.listed.images.GetAt(j)->targets;
            for (int k = 0; k < targets.GetSize(); ++k) {
                CImageObservation* o = targets.GetAt(k);
                o->vx = 3.0;
                o->vy = -2.0;
                o->rejected = true;
                disabled += o->disabled ? 1 : 0;
            }
        }
        EXPECT_GT(both.Triangulate(iteration).rejected, 50);
    }
    EXPECT_GT(disabled, 20);
}

// The preparation of a run leaves no residual or rejection of an earlier
// one in any observation, disabled ones included.
TEST(TriangulateAllRays, PreparationClearsEveryObservation)
{
    Network net;
    BuildBlock(net, 12, 150, NetworkOptions());
    int seen = 0;
    for (int j = 0; j < net.images.GetSize(); ++j)
        for (int k = 0; k < net.images.GetAt(j)->targets.GetSize(); ++k) {
            CImageObservation* o = net.images.GetAt(j)->targets.GetAt(k);
            o->vx = 0.5;
            o->vy = -0.25;
            o->rejected = true;
            o->disabled = k % 7 == 3;
        }
    CAdjustmentEngine engine(&net.images, &net.points, nullptr, &net.cameras, nullptr, &net.settings, &net.summary);
    ASSERT_TRUE(engine.Prepare());
    for (int j = 0; j < net.images.GetSize(); ++j)
        for (int k = 0; k < net.images.GetAt(j)->targets.GetSize(); ++k, ++seen) {
            const CImageObservation* o = net.images.GetAt(j)->targets.GetAt(k);
            EXPECT_EQ(o->vx, 0.0);
            EXPECT_EQ(o->vy, 0.0);
            EXPECT_FALSE(o->rejected);
        }
    EXPECT_GT(seen, 300);
}

// The intersection and the start value over a list of observing images,
// called directly with lists built from the index tables, against the walk
// over every image; also for lists with images that do not observe the
// point, which add nothing.
TEST(TriangulateAllRays, ListedImagesGiveTheSameIntersectionAndStartValue)
{
    Network net;
    BuildFaultyNetwork(net);
    CAdjustmentEngine engine(&net.images, &net.points, nullptr, &net.cameras, nullptr, &net.settings, &net.summary);
    ASSERT_TRUE(engine.MergeData());
    const int nImages = net.images.GetSize();

    int compared = 0, failed = 0;
    for (int i = 0; i < net.points.GetSize(); ++i) {
        const CObjectPoint& original = *net.points.GetAt(i);
        SCOPED_TRACE(original.label.GetText());
        std::vector<int32_t> observing, padded;
        for (int j = 0; j < nImages; ++j) {
            if (original.observationIndex[j] >= 0)
                observing.push_back(j);
            if (original.observationIndex[j] >= 0 || j % 3 == 0)
                padded.push_back(j);
        }
        ASSERT_GE(static_cast<int>(observing.size()), 1);

        for (const std::vector<int32_t>* list : {&observing, &padded}) {
            // Start value.
            CObjectPoint a(original), b(original);
            const bool okA = CAdjustmentEngine::ApproximatePoint(a, net.images, net.cameras);
            const bool okB = ApproximatePointOnImages(b, net.images, net.cameras, list->data(),
                                                      static_cast<int>(list->size()));
            EXPECT_EQ(okA, okB);
            EXPECT_EQ(Bits(a.x), Bits(b.x));
            EXPECT_EQ(Bits(a.y), Bits(b.y));
            EXPECT_EQ(Bits(a.z), Bits(b.z));

            // Intersection; the residuals and rejections it leaves behind.
            CObjectPoint c(original), d(original);
            net.images.ClearResidualsAndRejections();
            double rmsC = 0.0, rmsD = 0.0;
            const bool okC = CAdjustmentEngine::IntersectPoint(rmsC, c, net.images, net.cameras, net.settings, 0);
            std::vector<double> residuals;
            std::vector<char> rejected;
            for (int j : observing) {
                const CImageObservation* o = net.images.GetAt(j)->targets.GetAt(original.observationIndex[j]);
                residuals.push_back(o->vx);
                residuals.push_back(o->vy);
                rejected.push_back(o->rejected);
            }
            net.images.ClearResidualsAndRejections();
            const bool okD = IntersectPointOnImages(rmsD, d, net.images, net.cameras, net.settings, 0, list->data(),
                                                    static_cast<int>(list->size()));
            EXPECT_EQ(okC, okD);
            EXPECT_EQ(Bits(rmsC), Bits(rmsD));
            EXPECT_EQ(Bits(c.x), Bits(d.x));
            EXPECT_EQ(Bits(c.y), Bits(d.y));
            EXPECT_EQ(Bits(c.z), Bits(d.z));
            for (int k = 0; k < 3; ++k)
                EXPECT_EQ(Bits(c.covariance.GetAt(k, k)), Bits(d.covariance.GetAt(k, k)));
            EXPECT_EQ(c.usedRayCount, d.usedRayCount);
            EXPECT_EQ(c.unsolved, d.unsolved);
            for (size_t r = 0; r < observing.size(); ++r) {
                const int j = observing[r];
                const CImageObservation* o = net.images.GetAt(j)->targets.GetAt(original.observationIndex[j]);
                EXPECT_EQ(Bits(residuals[2 * r]), Bits(o->vx));
                EXPECT_EQ(Bits(residuals[2 * r + 1]), Bits(o->vy));
                EXPECT_EQ(rejected[r], static_cast<char>(o->rejected));
            }
            ++compared;
            failed += okC ? 0 : 1;
        }
    }
    EXPECT_GT(compared, 600);
    EXPECT_GT(failed, 60);
}

// A list that misses an observing image leaves that ray out (so the lists
// must be complete), and hostile entries are skipped, not read.
TEST(TriangulateAllRays, TheListDecidesWhichRaysTakePart)
{
    Network net;
    NetworkOptions o;
    o.seed = 3;
    o.perturbCamera = false;
    o.stationShift = 0.0;
    o.angleShift = 0.0;
    BuildRing(net, 6, 20, o);
    CAdjustmentEngine engine(&net.images, &net.points, nullptr, &net.cameras, nullptr, &net.settings, &net.summary);
    ASSERT_TRUE(engine.MergeData());
    CObjectPoint* point = nullptr;
    std::vector<int32_t> observing;
    for (int i = 0; i < net.points.GetSize() && !point; ++i) {
        observing.clear();
        for (int j = 0; j < net.images.GetSize(); ++j)
            if (net.points.GetAt(i)->observationIndex[j] >= 0)
                observing.push_back(j);
        if (observing.size() >= 4)
            point = net.points.GetAt(i);
    }
    ASSERT_NE(point, nullptr);

    double rms = 0.0;
    CObjectPoint all(*point);
    ASSERT_TRUE(IntersectPointOnImages(rms, all, net.images, net.cameras, net.settings, 0, observing.data(),
                                       static_cast<int>(observing.size())));
    EXPECT_EQ(all.usedRayCount, static_cast<int>(observing.size()));

    std::vector<int32_t> fewer(observing.begin() + 1, observing.end());
    CObjectPoint subset(*point);
    ASSERT_TRUE(IntersectPointOnImages(rms, subset, net.images, net.cameras, net.settings, 0, fewer.data(),
                                       static_cast<int>(fewer.size())));
    EXPECT_EQ(subset.usedRayCount, static_cast<int>(fewer.size()));

    std::vector<int32_t> hostile = observing;
    hostile.insert(hostile.begin(), -5);
    hostile.push_back(net.images.GetSize());
    hostile.push_back(1 << 30);
    CObjectPoint guarded(*point);
    ASSERT_TRUE(IntersectPointOnImages(rms, guarded, net.images, net.cameras, net.settings, 0, hostile.data(),
                                       static_cast<int>(hostile.size())));
    EXPECT_EQ(guarded.usedRayCount, static_cast<int>(observing.size()));
    EXPECT_EQ(Bits(guarded.x), Bits(all.x));

    CObjectPoint none(*point);
    EXPECT_FALSE(IntersectPointOnImages(rms, none, net.images, net.cameras, net.settings, 0, nullptr, 3));
    EXPECT_TRUE(none.unsolved);
}
