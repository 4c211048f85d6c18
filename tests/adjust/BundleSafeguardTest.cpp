// The engine's merge, observation equations and the cases in which a run
// must fail cleanly, hold parameters or drop a point instead of breaking.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "AdjustmentEngine.h"
#include "BundleNetwork.h"
#include "FloatingPoint.h"
#include "NumericDerivative.h"

using namespace bundletest;

namespace {

CAdjustmentEngine MakeEngine(Network& net, CPointSet* control = nullptr)
{
    return CAdjustmentEngine(&net.images, &net.points, control, &net.cameras, &net.scaleBars, &net.settings,
                             &net.summary);
}

CImageObservation MakeObservation(const char* label, double x, double y, double sigma = 0.001)
{
    return CImageObservation(CNameBuffer(label), x, y, sigma, sigma, -1.0, -1.0);
}

} // namespace

TEST(BundleMerge, OnePointPerSharedLabelWithItsObservationTable)
{
    CProjectImageList list;
    CProjectImage* a = list.AddNew();
    CProjectImage* b = list.AddNew();
    CProjectImage* c = list.AddNew();
    for (const char* l : {"A", "B", "C", "D"})
        a->targets.AddCopy(MakeObservation(l, 0, 0));
    a->targets.GetAt(2)->disabled = true; // C
    for (const char* l : {"A", "B", "B", "C"})
        b->targets.AddCopy(MakeObservation(l, 0, 0));
    for (const char* l : {"A", "E"})
        c->targets.AddCopy(MakeObservation(l, 0, 0));
    CImagePtrArray images;
    list.GetPointerArray(images);

    CPointSet points;
    CObjectPoint old("A", 5, 6, 7);
    old.SetNormal(0, 0, 2);
    old.radius = 0.5;
    points.AddCopy(old);
    points.AddCopy(CObjectPoint("Z", 1, 1, 1));
    CCameraList cameras;
    CProjectSettings settings;
    CAdjustmentSummary summary;
    CAdjustmentEngine engine(&images, &points, nullptr, &cameras, nullptr, &settings, &summary);
    ASSERT_TRUE(engine.MergeData());

    // C has one enabled ray, D and E one each: only A and B remain.
    ASSERT_EQ(points.GetSize(), 2);
    const CObjectPoint* pa = points.GetAt(0);
    const CObjectPoint* pb = points.GetAt(1);
    EXPECT_STREQ(pa->label.GetText(), "A");
    EXPECT_STREQ(pb->label.GetText(), "B");
    EXPECT_EQ(pa->rayCount, 3);
    EXPECT_EQ(pa->usedRayCount, 3);
    ASSERT_EQ(pa->observationIndex.GetSize(), 3);
    EXPECT_EQ(pa->observationIndex[0], 0);
    EXPECT_EQ(pa->observationIndex[1], 0);
    EXPECT_EQ(pa->observationIndex[2], 0);
    // B twice in the second image: two rays, the later index kept.
    EXPECT_EQ(pb->rayCount, 3);
    EXPECT_EQ(pb->observationIndex[1], 2);
    EXPECT_EQ(pb->observationIndex[2], -1);
    // Coordinates are not taken over; the normal and radius are.
    EXPECT_EQ(pa->x, 0.0);
    EXPECT_DOUBLE_EQ(pa->normal[2], 1.0);
    EXPECT_EQ(pa->radius, 0.5);
    EXPECT_EQ(engine.progress.phase.load(), PHASE_MERGING);

    settings.minimumRays = 1;
    ASSERT_TRUE(engine.MergeData());
    EXPECT_EQ(points.GetSize(), 5); // C counts its second image only
}

// Labels whose natural order differs from their bytes' order (numbers of
// different lengths, signs, leading zeros, prefixes of each other), spread
// over images in scrambled order: one point per label, in natural order
// (against sorting the labels with the label order itself), each with its
// rays in image order and its observation indices.
TEST(BundleMerge, PointsInNaturalLabelOrderWhateverTheImagesOrder)
{
    const std::vector<std::vector<const char*>> perImage = {
        {"P10", "P2", "A1", "X-1", "P"},
        {"A01", "P2", "X-12", "P10", "Q9"},
        {"P", "Q9", "A1", "X-1", "X-12", "A01"},
        {"P2", "P10", "Q10"},
    };
    CProjectImageList list;
    std::vector<std::string> labels;
    for (const auto& names : perImage) {
        CProjectImage* image = list.AddNew();
        for (const char* l : names) {
            image->targets.AddCopy(MakeObservation(l, 0, 0));
            labels.push_back(l);
        }
    }
    CImagePtrArray images;
    list.GetPointerArray(images);
    CPointSet points;
    CCameraList cameras;
    CProjectSettings settings;
    settings.minimumRays = 1;
    CAdjustmentSummary summary;
    CAdjustmentEngine engine(&images, &points, nullptr, &cameras, nullptr, &settings, &summary);
    ASSERT_TRUE(engine.MergeData());

    std::sort(labels.begin(), labels.end());
    labels.erase(std::unique(labels.begin(), labels.end()), labels.end());
    std::sort(labels.begin(), labels.end(),
              [](const std::string& a, const std::string& b) { return CNameBuffer(a.c_str()) < CNameBuffer(b.c_str()); });
    ASSERT_EQ(points.GetSize(), static_cast<int>(labels.size()));
    for (int i = 0; i < points.GetSize(); ++i) {
        const CObjectPoint* p = points.GetAt(i);
        SCOPED_TRACE(labels[static_cast<size_t>(i)]);
        EXPECT_STREQ(p->label.GetText(), labels[static_cast<size_t>(i)].c_str());
        int rays = 0;
        for (size_t j = 0; j < perImage.size(); ++j) {
            int index = -1;
            for (size_t o = 0; o < perImage[j].size(); ++o)
                if (labels[static_cast<size_t>(i)] == perImage[j][o])
                    index = static_cast<int>(o);
            EXPECT_EQ(p->observationIndex[static_cast<int>(j)], index) << "image " << j;
            rays += index >= 0 ? 1 : 0;
        }
        EXPECT_EQ(p->rayCount, rays);
        EXPECT_EQ(p->usedRayCount, rays);
    }
}

// The partial derivatives of the principal distance, the station and the
// point against central differences of the misclosure, and the rejection
// limit, which is inclusive.
TEST(BundleObservationEquations, ExactPartialsAndTheRejectionLimit)
{
    Network net;
    AddCamera(net, "CAM-A", 0);
    Pose pose{{0.3, -5.0, 0.4}, 0.05, 0.1, 0.7};
    CProjectImage* image = AddImage(net, "CAM-A", pose);
    Finish(net);
    CObjectPoint point("P1", 0.2, 0.1, -0.3);
    CImageObservation obs = MakeObservation("P1", 1.5, -2.0, 0.002);
    obs.sigmaY = 0.001;
    net.settings.rejectionLimit = 100.0;
    CAdjustmentEngine engine = MakeEngine(net);

    CMatrix A, B, P;
    CVector l;
    ASSERT_TRUE(engine.FormObservationEquations(*image, A, B, P, l, obs, point));
    // Misclosure = weight x residual, written into the observation.
    EXPECT_DOUBLE_EQ(l[0], obs.vx / 0.002);
    EXPECT_DOUBLE_EQ(l[1], obs.vy / 0.001);
    EXPECT_DOUBLE_EQ(point.rms, obs.vx * obs.vx + obs.vy * obs.vy);
    // B1 and B2 enter the x equation only.
    EXPECT_EQ(A.GetAt(1, CAM_B1), 0.0);
    EXPECT_EQ(A.GetAt(1, CAM_B2), 0.0);
    EXPECT_NE(A.GetAt(0, CAM_B1), 0.0);

    // Unknowns: C, XP, YP (the principal point moves every distortion term
    // with it), the station and its angles (read from the rotation matrix
    // and put back through it), the point.
    CCamera& camera = *net.cameras.GetAt(0);
    double* const values[9] = {&camera.parameters[CAM_C], &camera.parameters[CAM_XP], &camera.parameters[CAM_YP],
                               &image->X, &image->Y, &image->Z, &point.x, &point.y, &point.z};
    const double angles[3] = {image->GetAzimuth(), image->GetElevation(), image->GetRoll()};
    std::vector<double> x0;
    for (double* v : values)
        x0.push_back(*v);
    x0.insert(x0.end(), angles, angles + 3);
    auto misclosure = [&](const std::vector<double>& x) {
        for (int k = 0; k < 9; ++k)
            *values[k] = x[static_cast<size_t>(k)];
        image->SetRotation(x[9], x[10], x[11]);
        CMatrix a, b, p;
        CVector w;
        CObjectPoint q(point);
        CImageObservation o(obs);
        EXPECT_TRUE(engine.FormObservationEquations(*image, a, b, p, w, o, q));
        return std::vector<double>{w[0], w[1]};
    };
    const auto J = kestrelon::test::CentralJacobian(misclosure, x0, 1e-6);
    misclosure(x0);
    const CMatrix* blocks[12] = {&A, &A, &A, &B, &B, &B, &P, &P, &P, &B, &B, &B};
    const int columns[12] = {CAM_C, CAM_XP, CAM_YP, 0, 1, 2, 0, 1, 2, 3, 4, 5};
    for (int k = 0; k < 12; ++k)
        for (int r = 0; r < 2; ++r) {
            const double analytic = blocks[k]->GetAt(r, columns[k]);
            EXPECT_NEAR(analytic, J[static_cast<size_t>(r)][static_cast<size_t>(k)], 1e-5 * (1 + std::fabs(analytic)))
                << "unknown " << k << " row " << r;
        }

    // Limit exactly at |vx|: used; just below it: rejected, and the stored
    // residuals are left alone.
    const double vx = std::fabs(obs.vx);
    net.settings.rejectionLimit = std::max(vx, std::fabs(obs.vy));
    EXPECT_TRUE(engine.FormObservationEquations(*image, A, B, P, l, obs, point));
    net.settings.rejectionLimit = std::max(vx, std::fabs(obs.vy)) * (1 - 1e-12);
    obs.vx = obs.vy = 0.25;
    EXPECT_FALSE(engine.FormObservationEquations(*image, A, B, P, l, obs, point));
    EXPECT_EQ(obs.vx, 0.25);
    EXPECT_EQ(A.GetAt(0, 0), 0.0);

    // A sigma of zero or a coordinate that is not a number rejects the
    // observation quietly.
    net.settings.rejectionLimit = 100.0;
    ClearFloatingPointFaults();
    CImageObservation zero = MakeObservation("P1", 1.5, -2.0, 0.0);
    EXPECT_FALSE(engine.FormObservationEquations(*image, A, B, P, l, zero, point));
    CImageObservation nan = MakeObservation("P1", std::numeric_limits<double>::quiet_NaN(), -2.0);
    EXPECT_FALSE(engine.FormObservationEquations(*image, A, B, P, l, nan, point));
    EXPECT_FALSE(FloatingPointFaultRaised());
}

TEST(BundleSafeguards, ImageWithUnknownCameraFailsThePreparation)
{
    Network net;
    BuildRing(net, 6, 20, NetworkOptions());
    net.images.GetAt(3)->SetCameraName("NOPE");
    net.points.AddCopy(CObjectPoint("KEEP", 1, 2, 3));
    net.images.GetAt(0)->targets.GetAt(0)->vx = 0.125;
    const double c = net.cameras.GetAt(0)->parameters[CAM_C];
    CAdjustmentEngine engine = MakeEngine(net);
    EXPECT_FALSE(engine.RunBundle());
    EXPECT_EQ(net.summary.status, 2);
    EXPECT_NE(engine.GetFailureReason().find("NOPE"), std::string::npos);
    // Nothing of the project was touched.
    ASSERT_EQ(net.points.GetSize(), 1);
    EXPECT_STREQ(net.points.GetAt(0)->label.GetText(), "KEEP");
    EXPECT_EQ(net.images.GetAt(0)->targets.GetAt(0)->vx, 0.125);
    EXPECT_EQ(net.cameras.GetAt(0)->parameters[CAM_C], c);
    EXPECT_EQ(engine.normals, nullptr);
}

// A station moved so far that the fixed rejection limit takes every one of
// its rays: the run fails on its singular station and says which image
// lost its rays, for one image and for two.
TEST(BundleSafeguards, ImagesThatLostAllRaysAreNamed)
{
    const std::vector<std::vector<int>> cases = {{3}, {2, 5}};
    for (const std::vector<int>& moved : cases) {
        Network net;
        NetworkOptions o;
        o.perturbCamera = false;
        BuildRing(net, 8, 40, o);
        net.settings.rejectionLimit = 0.1;
        for (int j : moved)
            net.images.GetAt(j)->X += 0.8;
        CAdjustmentEngine engine = MakeEngine(net);
        ASSERT_TRUE(engine.RunBundle());
        EXPECT_EQ(net.summary.status, 2);
        const std::string& reason = engine.GetFailureReason();
        EXPECT_NE(reason.find("singular"), std::string::npos) << reason;
        for (int j = 0; j < net.images.GetSize(); ++j) {
            const std::string name = std::string("\"") + net.images.GetAt(j)->name.GetText() + "\"";
            const bool named = reason.find(name) != std::string::npos;
            EXPECT_EQ(named, std::find(moved.begin(), moved.end(), j) != moved.end()) << reason;
        }
    }
}

TEST(BundleSafeguards, CameraThatNoImageUsesIsHeldFixed)
{
    Network net;
    BuildRing(net, 6, 24, NetworkOptions());
    CCamera* spare = net.cameras.AddNew();
    spare->identifier = "SPARE";
    spare->parameters[CAM_C] = 35.0;
    spare->parameters[CAM_K1] = 1e-5;
    spare->SetCalibrationMode(0); // ten constraints, were it counted
    spare->corrections[CAM_C] = 0.5;
    CAdjustmentEngine engine = MakeEngine(net);
    ASSERT_TRUE(engine.RunBundle());
    ASSERT_EQ(net.summary.status, 1) << engine.GetFailureReason();
    EXPECT_FALSE(engine.IsCameraUsed(1));
    EXPECT_EQ(spare->parameters[CAM_C], 35.0);
    EXPECT_EQ(spare->parameters[CAM_K1], 1e-5);
    EXPECT_EQ(spare->corrections[CAM_C], 0.0); // cleared by the preparation, then untouched
    EXPECT_EQ(net.summary.parameters, 3 * 24 + 6 * 6 + 10);
    EXPECT_EQ(net.summary.constraints, 7 + 1);
}

TEST(BundleSafeguards, FoldingFollowsTheCountsAndRigorousScaling)
{
    for (int rigorous = 0; rigorous < 2; ++rigorous) {
        Network net;
        // 6 x 10 images > 3 x 19 points chooses reverse folding; so does rigorous scaling.
        BuildRing(net, 10, rigorous ? 40 : 19, NetworkOptions());
        net.settings.rigorousScale = rigorous != 0;
        net.settings.rejectionLimit = 0.25;
        CAdjustmentEngine engine = MakeEngine(net);
        EXPECT_TRUE(engine.RunBundle());
        EXPECT_EQ(net.summary.status, 1) << engine.GetFailureReason();
        EXPECT_FALSE(net.settings.standardFolding);
        EXPECT_TRUE(engine.progress.IsDone());
        EXPECT_EQ(net.settings.rejectionLimit, 0.25);
    }
    // 6 x 10 = 3 x 20 still folds the points.
    Network net;
    BuildRing(net, 10, 20, NetworkOptions());
    CAdjustmentEngine engine = MakeEngine(net);
    EXPECT_TRUE(engine.RunBundle());
    EXPECT_TRUE(net.settings.standardFolding);
    EXPECT_EQ(net.summary.status, 1) << engine.GetFailureReason();
}

// Two stations on one line of sight through a point see it along the same
// ray: its 3 x 3 block is exactly singular. The point then counts as a
// point with too few rays, and the run goes on.
TEST(BundleSafeguards, PointWithSingularBlockIsLikeOneWithTooFewRays)
{
    Network net;
    NetworkOptions o;
    BuildRing(net, 8, 40, o);
    // Two images at their true poses looking along +Y from the Y axis, with
    // a fixed camera without distortion; the point AXIS at the origin is
    // seen only by them, at the image centre.
    CCamera* axisCamera = net.cameras.AddNew();
    axisCamera->identifier = "AXISCAM";
    axisCamera->parameters[CAM_C] = 20.0;
    axisCamera->SetCalibrationMode(0);
    for (double y : {-6.0, -9.0}) {
        Pose pose{{0.0, y, 0.0}, 0.0, 0.0, 0.0};
        CProjectImage* image = AddImage(net, "AXISCAM", pose);
        const StationGeometry s = image->GetStation();
        for (int i = 0; i < net.truth.GetSize(); ++i) {
            const CObjectPoint* t = net.truth.GetAt(i);
            const double P[3] = {t->x, t->y, t->z};
            double x, y2;
            ASSERT_TRUE(ProjectToImage(s, 20.0, P, x, y2));
            image->targets.AddCopy(MakeObservation(t->label.GetText(), x, y2));
        }
        image->targets.AddCopy(MakeObservation("AXIS", 0.0, 0.0));
        image->targets.SortByLabel();
    }
    net.imageList.GetPointerArray(net.images);
    AddControl(net, 5, 0.001);
    net.settings.maxIterations = 1;
    CAdjustmentEngine engine = MakeEngine(net, &net.control);
    ASSERT_TRUE(engine.RunBundle());
    EXPECT_EQ(net.summary.status, 3) << engine.GetFailureReason();

    const CObjectPoint* axis = net.points.FindPoint(CNameBuffer("AXIS"));
    ASSERT_NE(axis, nullptr);
    EXPECT_TRUE(axis->unsolved);
    EXPECT_EQ(axis->usedRayCount, 0);
    EXPECT_FALSE(engine.IsFoldedPoint(*axis));
    for (int j = 8; j < 10; ++j)
        EXPECT_TRUE(net.images.GetAt(j)->targets.Find(CNameBuffer("AXIS"))->rejected);
    // The store holds exactly the folded points, the counts follow them.
    int folded = 0;
    for (int i = 0; i < net.points.GetSize(); ++i)
        folded += engine.IsFoldedPoint(*net.points.GetAt(i)) ? 1 : 0;
    EXPECT_EQ(folded, 40);
    EXPECT_EQ(engine.vectorStore.GetSize(), folded);
    EXPECT_EQ(engine.matrixStore.GetSize(), folded);
    EXPECT_EQ(net.summary.parameters, 3 * 40 + 6 * 10 + 2 * 10);
    EXPECT_EQ(axis->x, 0.0); // not moved by an update
}

TEST(BundleSafeguards, PointWithNumbersThatAreNotFiniteFailsAsAPoint)
{
    Network net;
    NetworkOptions o;
    BuildRing(net, 8, 40, o);
    AddControl(net, 5, 0.001);
    CObjectPoint* bad = net.control.GetAt(1);
    bad->y = std::numeric_limits<double>::quiet_NaN();
    // An observation whose sigma is not a number is rejected; its point goes on.
    net.images.GetAt(2)->targets.GetAt(3)->sigmaX = std::numeric_limits<double>::quiet_NaN();
    CAdjustmentEngine engine = MakeEngine(net, &net.control);
    ASSERT_TRUE(engine.RunBundle());
    EXPECT_EQ(net.summary.status, 1) << engine.GetFailureReason();
    const CObjectPoint* p = net.points.FindPoint(bad->label);
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(p->unsolved);
    EXPECT_EQ(p->usedRayCount, 0);
    EXPECT_TRUE(net.images.GetAt(2)->targets.GetAt(3)->rejected);
    EXPECT_EQ(net.summary.observations, 2 * (net.rays - p->rayCount - 1));
    for (int i = 0; i < net.points.GetSize(); ++i) {
        const CObjectPoint* q = net.points.GetAt(i);
        if (q == p)
            continue;
        const CObjectPoint* t = net.truth.FindPoint(q->label);
        EXPECT_NEAR(q->x, t->x, 1e-8);
        EXPECT_NEAR(q->z, t->z, 1e-8);
    }
}

TEST(BundleSafeguards, ControlSetThatIsTheWorkingSetIsReadFromACopy)
{
    Network net;
    NetworkOptions o;
    o.seed = 17;
    BuildRing(net, 8, 40, o);
    AddControl(net, 4, 0.001);
    for (int i = 0; i < net.control.GetSize(); ++i)
        net.control.GetAt(i)->correctionSum[0] = 0.5; // left from an earlier run
    // The control set is the working set.
    CAdjustmentEngine engine(&net.images, &net.control, &net.control, &net.cameras, &net.scaleBars, &net.settings,
                             &net.summary);
    ASSERT_TRUE(engine.RunBundle());
    ASSERT_EQ(net.summary.status, 1) << engine.GetFailureReason();
    EXPECT_EQ(net.control.GetSize(), 40);
    EXPECT_EQ(net.summary.constraints, 3 * 10 + 1);
    for (int i = 0; i < net.control.GetSize(); ++i) {
        const CObjectPoint* p = net.control.GetAt(i);
        const CObjectPoint* t = net.truth.FindPoint(p->label);
        EXPECT_NEAR(p->x, t->x, 1e-8);
        EXPECT_NEAR(p->y, t->y, 1e-8);
        EXPECT_NEAR(p->z, t->z, 1e-8);
    }
}
