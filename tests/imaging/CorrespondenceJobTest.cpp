// Linking of unassigned targets, back-projection, merging and two-ray
// removal on synthetic networks of known truth.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "CorrespondenceJob.h"
#include "CorrespondenceNetwork.h"
#include "ImageObservation.h"
#include "ObjectPoint.h"
#include "ProjectImage.h"

namespace {

using Job = CCorrespondenceJob;

struct LinkSettings {
    bool driveBack = true;
    bool acceptTwoRay = false;
    double maximumDistance = 0.0;
    double reference[3] = {0.0, 0.0, 0.0};
};

Job MakeLinkJob(CCorrespondenceNetwork& net, CPointSet& points, const LinkSettings& s)
{
    return Job(&net.imagePtrs, &net.cameras, &points, Job::kDefaultEpipolarTolerance, Job::kDefaultMinimumAngle,
               Job::kDefaultDriveBackTolerance, s.driveBack, s.acceptTwoRay, CNameBuffer("A"), s.reference,
               s.maximumDistance);
}

// What linking made of the points from index `first` on: the truth point of
// each, and the faults found (two observations of a point in one image,
// observations of different truth points, a truth point split in two).
struct LinkOutcome {
    int newPoints = 0;
    int wrongLinks = 0;
    int splitTruths = 0;
    int doubleInImage = 0;
    int assignedObservations = 0;
    double worstError = 0.0;
};

LinkOutcome Inspect(const CCorrespondenceNetwork& net, const CPointSet& points, int first)
{
    LinkOutcome out;
    std::map<std::string, std::set<int>> sourcesOf;
    std::map<std::string, std::map<int, int>> perImage;
    for (int k = 0; k < net.imagePtrs.GetSize(); ++k) {
        const CObservationList& list = net.imagePtrs.GetAt(k)->targets;
        for (int i = 0; i < list.GetSize(); ++i) {
            const CImageObservation* o = list.GetAt(i);
            if (Job::IsUnassigned(*o))
                continue;
            ++out.assignedObservations;
            sourcesOf[o->label.GetText()].insert(net.SourceOf(o));
            if (++perImage[o->label.GetText()][k] > 1)
                ++out.doubleInImage;
        }
    }
    std::map<int, int> pointsOfTruth;
    for (int i = first; i < points.GetSize(); ++i) {
        const CObjectPoint* p = points.GetAt(i);
        ++out.newPoints;
        const std::set<int>& sources = sourcesOf[p->label.GetText()];
        if (sources.size() != 1 || *sources.begin() < 0) {
            ++out.wrongLinks;
            continue;
        }
        const int source = *sources.begin();
        if (++pointsOfTruth[source] > 1)
            ++out.splitTruths;
        const CObjectPoint* t = net.truth.GetAt(source);
        out.worstError = std::max({out.worstError, std::fabs(p->x - t->x), std::fabs(p->y - t->y),
                                   std::fabs(p->z - t->z)});
    }
    return out;
}

// Existing points that the new labels must step over: the counter starts
// at 3, "A3" and "A5" are taken.
void AddExistingPoints(CPointSet& points)
{
    points.AddCopy(CObjectPoint("A3", 1e5, 0.0, 0.0));
    points.AddCopy(CObjectPoint("A5", 1e5, 1.0, 0.0));
    points.AddCopy(CObjectPoint("Q1", 1e5, 2.0, 0.0));
}

void ExpectNewLabels(const CPointSet& points, int first)
{
    int previous = 3;
    for (int i = first; i < points.GetSize(); ++i) {
        const CNameBuffer& label = points.GetAt(i)->label;
        const int number = label.GetNumber();
        EXPECT_EQ(label.GetText()[0], 'A') << label.GetText();
        EXPECT_GT(number, previous) << label.GetText();
        EXPECT_NE(number, 5) << "label in use handed out again";
        previous = number;
    }
    if (points.GetSize() > first) {
        EXPECT_GE(points.GetAt(first)->label.GetNumber(), 4);
    }
}

} // namespace

// Exact and noisy projections: every point once and at its truth when exact,
// never a wrong link with noise.
TEST(CorrespondenceJob, LinksTargetsOfKnownNetworks)
{
    struct Case {
        const char* name;
        int images;
        double noisePixels;
        bool expectAll;
    };
    const Case cases[] = {
        {"four images exact", 4, 0.0, true},
        {"six images exact", 6, 0.0, true},
        {"five images 0.3 px noise", 5, 0.3, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NetworkOptions options;
        options.images = c.images;
        options.noisePixels = c.noisePixels;
        options.seed = 7;
        CCorrespondenceNetwork net(options);
        CPointSet points;
        AddExistingPoints(points);
        const int before = net.imagePtrs.GetSize() * options.points;
        Job job = MakeLinkJob(net, points, LinkSettings());
        EXPECT_EQ(job.CountUnassignedObservations(), before);
        job.FindCorrespondingPoints();

        const LinkOutcome out = Inspect(net, points, 3);
        EXPECT_TRUE(job.GetProgress().IsDone());
        EXPECT_EQ(job.GetProgress().GetState(), CJobProgress::kDone);
        EXPECT_EQ(out.wrongLinks, 0);
        EXPECT_EQ(out.splitTruths, 0);
        EXPECT_EQ(out.doubleInImage, 0);
        EXPECT_EQ(out.assignedObservations, job.GetProgress().GetLinked());
        EXPECT_EQ(out.assignedObservations + job.CountUnassignedObservations(), before);
        EXPECT_TRUE(ListsSortedAndNumbered(net.imagePtrs));
        EXPECT_EQ(CountStrayLabels(net.imagePtrs, points), 0);
        ExpectNewLabels(points, 3);
        if (c.expectAll) {
            EXPECT_EQ(out.newPoints, options.points);
            EXPECT_EQ(out.assignedObservations, before);
            EXPECT_LE(out.worstError, 1e-6);
        } else {
            EXPECT_GT(out.newPoints, 0);
            std::printf("[ note     ] %s: %d of %d points, %d of %d observations linked\n", c.name, out.newPoints,
                        options.points, out.assignedObservations, before);
        }
    }
}

namespace {

// Two images; target a in the first sees a ray through two object points,
// so the second image holds two candidates on a's epipolar plane. `both`
// false keeps only the nearer candidate. The points are moved a little off
// a's plane so that a's ray sorts first among the three.
void BuildAmbiguousPair(CCorrespondenceNetwork& net, bool both)
{
    const CProjectImage* A = net.imagePtrs.GetAt(0);
    const CProjectImage* B = net.imagePtrs.GetAt(1);
    double base[3] = {B->X - A->X, B->Y - A->Y, B->Z - A->Z};
    const double v[3] = {-A->rotation.GetAt(2, 0), -A->rotation.GetAt(2, 1), -A->rotation.GetAt(2, 2)};
    auto cross = [](const double a[3], const double b[3], double out[3]) {
        out[0] = a[1] * b[2] - a[2] * b[1];
        out[1] = a[2] * b[0] - a[0] * b[2];
        out[2] = a[0] * b[1] - a[1] * b[0];
    };
    auto unit = [](double a[3]) {
        const double l = std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
        for (int j = 0; j < 3; ++j)
            a[j] /= l;
    };
    unit(base);
    double n[3], w[3];
    cross(base, v, n);
    unit(n);
    cross(n, base, w);
    const double P1[3] = {40.0, -30.0, 20.0};
    const double r[3] = {P1[0] - A->X, P1[1] - A->Y, P1[2] - A->Z};
    const double side = (w[0] * r[0] + w[1] * r[1] + w[2] * r[2]) > 0.0 ? 1.0 : -1.0;
    // A tenth of the tolerance, as an angle seen from about 3000 units.
    const double shift = side * 3000.0 * Job::kDefaultEpipolarTolerance * 0.1;
    double Q1[3], Q2[3];
    for (int j = 0; j < 3; ++j) {
        Q1[j] = P1[j] + shift * n[j];
        Q2[j] = (j == 0 ? A->X : j == 1 ? A->Y : A->Z) + 1.2 * r[j] + shift * n[j];
    }
    net.truth.AddCopy(CObjectPoint("T1", P1[0], P1[1], P1[2]));
    net.truth.AddCopy(CObjectPoint("T2", Q2[0], Q2[1], Q2[2]));
    net.AddTarget(0, P1, 0);
    net.AddTarget(1, Q1, 0);
    if (both)
        net.AddTarget(1, Q2, 1);
}

} // namespace

// The edge cases of linking, each run through the same checks.
TEST(CorrespondenceJob, LinkingEdgeCases)
{
    struct Case {
        const char* name;
        int images;
        int points;
        LinkSettings settings;
        std::function<void(CCorrespondenceNetwork&)> build;
        int expectedPoints;
    };
    LinkSettings accept;
    accept.driveBack = false;
    accept.acceptTwoRay = true;
    LinkSettings flagsOff;
    flagsOff.driveBack = false;
    LinkSettings farReference;
    farReference.reference[0] = 1e6;
    LinkSettings tooFar = farReference;
    tooFar.maximumDistance = 10.0;
    LinkSettings nearReference;
    nearReference.maximumDistance = 700.0;
    const Case cases[] = {
        {"one image only relabels", 1, 30, {}, nullptr, 0},
        {"two images, two-ray points accepted", 2, 30, accept, nullptr, 30},
        {"one candidate in the group", 2, 0, accept, [](CCorrespondenceNetwork& n) { BuildAmbiguousPair(n, false); }, 1},
        {"two candidates: ambiguous, no point", 2, 0, accept, [](CCorrespondenceNetwork& n) { BuildAmbiguousPair(n, true); }, 0},
        {"drive-back and two-ray flags off", 4, 30, flagsOff, nullptr, 0},
        {"maximum distance 0 makes no test", 4, 30, farReference, nullptr, 30},
        {"maximum distance from a far reference", 4, 30, tooFar, nullptr, 0},
        {"maximum distance around the field", 4, 30, nearReference, nullptr, 30},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NetworkOptions options;
        options.images = c.images;
        options.points = c.points;
        options.seed = 3;
        CCorrespondenceNetwork net(options);
        if (c.build)
            c.build(net);
        CPointSet points;
        AddExistingPoints(points);
        int before = 0;
        for (int k = 0; k < net.imagePtrs.GetSize(); ++k)
            before += net.imagePtrs.GetAt(k)->targets.GetSize();
        Job job = MakeLinkJob(net, points, c.settings);
        job.FindCorrespondingPoints();

        const LinkOutcome out = Inspect(net, points, 3);
        EXPECT_EQ(out.newPoints, c.expectedPoints);
        EXPECT_EQ(out.wrongLinks, 0);
        EXPECT_EQ(out.doubleInImage, 0);
        EXPECT_EQ(out.assignedObservations + job.CountUnassignedObservations(), before);
        EXPECT_TRUE(job.GetProgress().IsDone());
        EXPECT_TRUE(std::isfinite(job.GetProgress().GetFraction()));
        EXPECT_TRUE(ListsSortedAndNumbered(net.imagePtrs));
        EXPECT_EQ(CountStrayLabels(net.imagePtrs, points), 0);
        ExpectNewLabels(points, 3);
        EXPECT_EQ(points.GetAt(0)->label, CNameBuffer("A3")); // existing points stay
    }
}

// Merging and two-ray removal after a bundle adjustment, then back-projection.
TEST(CorrespondenceJob, PostProcessingLeavesNoStrayLabel)
{
    NetworkOptions options;
    options.points = 20;
    CCorrespondenceNetwork net(options);
    CPointSet points;
    {
        Job link = MakeLinkJob(net, points, LinkSettings());
        link.FindCorrespondingPoints();
    }
    ASSERT_EQ(points.GetSize(), 20);
    // As a bundle might leave new points: the observations of `from` in the
    // images listed take the label `to`.
    auto relabel = [&](const CNameBuffer from, std::set<int> in, const char* to) {
        for (int k : in) {
            CObservationList& list = net.imagePtrs.GetAt(k)->targets;
            if (CImageObservation* o = list.Find(from))
                o->label = CNameBuffer(to);
            list.SortByLabel();
        }
    };
    const CNameBuffer kept = points.GetAt(0)->label, mergedAway = points.GetAt(1)->label,
                      twoRay = points.GetAt(2)->label;
    const CObjectPoint p0 = *points.GetAt(0), p1 = *points.GetAt(1);
    // A900: 2 rays, 2e-4 from a 3-ray point: merged into it, which is kept.
    points.AddCopy(CObjectPoint("A900", p0.x + 2e-4, p0.y, p0.z));
    relabel(kept, {3, 4}, "A900");
    // A901: 2 rays, merged into a 2-ray point, which is then removed with
    // every observation it holds.
    points.AddCopy(CObjectPoint("A901", p1.x, p1.y, p1.z));
    relabel(mergedAway, {2, 3}, "A901");
    relabel(mergedAway, {4}, "-999");
    relabel(twoRay, {2, 3, 4}, "-999"); // 2 rays, removed
    points.AddCopy(CObjectPoint("Q1", 0.0, 0.0, 0.0));
    points.AddCopy(CObjectPoint("Q2", 0.0, 0.0, 0.0)); // no prefix, no rays: never merged or removed
    for (int i = 0; i < points.GetSize(); ++i)
        net.IndexRays(*points.GetAt(i));
    const double x0 = p0.x;

    Job post(&net.imagePtrs, &net.cameras, &points, CNameBuffer("A"), 1e-3);
    post.MergeIdenticalPoints(false);
    EXPECT_EQ(post.GetProgress().GetMerged(), 2);
    post.RemoveTwoRayPoints();
    EXPECT_EQ(post.GetProgress().GetRemoved(), 2);

    struct Expect {
        CNameBuffer label;
        bool kept;
        int observations;
    };
    auto countObservations = [&](const CNameBuffer& label) {
        int n = 0;
        for (int k = 0; k < net.imagePtrs.GetSize(); ++k)
            n += net.imagePtrs.GetAt(k)->targets.Find(label) ? 1 : 0;
        return n;
    };
    const Expect expects[] = {
        {kept, true, 5},       {CNameBuffer("A900"), false, 0}, {mergedAway, false, 0},
        {CNameBuffer("A901"), false, 0}, {twoRay, false, 0},   {CNameBuffer("Q1"), true, 0},
        {CNameBuffer("Q2"), true, 0},
    };
    for (const Expect& e : expects) {
        SCOPED_TRACE(e.label.GetText());
        EXPECT_EQ(points.FindPoint(e.label) != nullptr, e.kept);
        EXPECT_EQ(countObservations(e.label), e.observations);
    }
    const CObjectPoint* merged = points.FindPoint(kept);
    ASSERT_NE(merged, nullptr);
    EXPECT_NEAR(merged->x, x0 + 1e-4, 1e-9);
    EXPECT_EQ(merged->covariance.GetAt(0, 0), 0.0);
    EXPECT_EQ(CountStrayLabels(net.imagePtrs, points), 0);
    EXPECT_TRUE(ListsSortedAndNumbered(net.imagePtrs));
    EXPECT_TRUE(post.GetProgress().IsDone());

    // Back-projection gives the removed points' targets to no one, and the
    // kept points find nothing more to label.
    EXPECT_EQ(post.BackProject(), 0);
}

// Back-projection of known points into images that do not observe them:
// every missing target once, a second run nothing, and the phase's indexed
// nearest-target search picks what the linear search of a drive-back
// outside a phase picks, ties included (image 4 holds a twin of every
// target at the same position).
TEST(CorrespondenceJob, BackProjectionLabelsMissingTargetsOnce)
{
    NetworkOptions options;
    options.points = 50;
    auto build = [&](CCorrespondenceNetwork& net) {
        for (int i = 0; i < options.points; ++i) {
            const CObjectPoint* t = net.truth.GetAt(i);
            const double P[3] = {t->x, t->y, t->z};
            net.AddTarget(4, P, -1);
        }
        net.LabelFromTruth(0, 2);
    };
    CCorrespondenceNetwork net(options), linear(options);
    build(net);
    build(linear);
    CPointSet points(net.truth), linearPoints(linear.truth);
    Job job(&net.imagePtrs, &net.cameras, &points, CNameBuffer("A"), 0.0);
    EXPECT_EQ(job.BackProject(), 2 * options.points);
    EXPECT_EQ(job.GetProgress().GetBackProjected(), 2 * options.points);
    for (int k = 0; k < 4; ++k) {
        const CObservationList& list = net.imagePtrs.GetAt(k)->targets;
        for (int i = 0; i < list.GetSize(); ++i)
            EXPECT_EQ(list.GetAt(i)->label, net.truth.GetAt(net.SourceOf(list.GetAt(i)))->label);
    }
    EXPECT_TRUE(ListsSorted(net.imagePtrs));
    EXPECT_EQ(job.BackProject(), 0);
    EXPECT_TRUE(job.GetProgress().IsDone());

    Job plain(&linear.imagePtrs, &linear.cameras, &linearPoints, CNameBuffer("A"), 0.0);
    CImagePtrArray searched;
    searched.Add(linear.imagePtrs.GetAt(3));
    searched.Add(linear.imagePtrs.GetAt(4));
    for (int i = 0; i < linearPoints.GetSize(); ++i)
        plain.DriveBackPoint(*linearPoints.GetAt(i), searched);
    for (int k = 3; k < 5; ++k) {
        linear.imagePtrs.GetAt(k)->targets.SortByLabel();
        const CObservationList& a = net.imagePtrs.GetAt(k)->targets;
        const CObservationList& b = linear.imagePtrs.GetAt(k)->targets;
        ASSERT_EQ(a.GetSize(), b.GetSize());
        for (int i = 0; i < a.GetSize(); ++i) {
            EXPECT_EQ(a.GetAt(i)->label, b.GetAt(i)->label);
            EXPECT_EQ(net.SourceOf(a.GetAt(i)), linear.SourceOf(b.GetAt(i))); // the same twin
        }
    }
}

// The progress record's pair bookkeeping and its guards against empty wholes.
TEST(CorrespondenceJob, ProgressFractions)
{
    struct Case {
        int n, i, step;
        int count, done;
    };
    const Case cases[] = {{5, 0, 0, 10, 0}, {5, 2, 3, 10, 8}, {5, 3, 4, 10, 10}, {1, 0, 0, 0, 0}, {0, 0, 0, 0, 0}};
    for (const Case& c : cases) {
        CJobProgress p;
        p.SetPairProgress(c.n, c.i, c.step);
        EXPECT_EQ(p.GetPairCount(), c.count);
        EXPECT_EQ(p.GetPairsDone(), c.done);
        EXPECT_DOUBLE_EQ(p.GetFraction(), c.count ? double(c.done) / c.count : 0.0);
        p.InitPairs(c.n);
        p.AddPairsDone(1);
        EXPECT_TRUE(std::isfinite(p.GetFraction()));
    }
    CJobProgress p;
    p.EndPhase();
    p.RequestStop();
    EXPECT_TRUE(p.IsDone()); // a late stop never undoes the end
    EXPECT_EQ(p.GetState(), CJobProgress::kDone);
    EXPECT_TRUE(p.IsStopRequested());
    p.Reset();
    EXPECT_FALSE(p.IsDone());
    EXPECT_FALSE(p.IsStopRequested());
}
