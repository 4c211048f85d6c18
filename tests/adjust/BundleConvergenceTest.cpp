// Bundle runs on synthetic networks with known truth: convergence to the
// truth without noise, the variance factor with noise, the free-network
// datum and the reproduction of control points.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "AdjustmentEngine.h"
#include "BundleNetwork.h"

using namespace bundletest;

namespace {

CAdjustmentEngine MakeEngine(Network& net)
{
    return CAdjustmentEngine(&net.images, &net.points, net.control.GetSize() ? &net.control : nullptr,
                             &net.cameras, &net.scaleBars, &net.settings, &net.summary);
}

const CObjectPoint* Truth(const Network& net, const CObjectPoint& p)
{
    const int i = net.truth.IndexOfLabel(p.label);
    return i >= 0 ? net.truth.GetAt(i) : nullptr;
}

// Largest deviation of the adjusted cameras from the true parameters,
// relative to a scale per parameter (mm for C, XP, YP; the effect at a
// radius of 10 mm for the others).
double CameraDeviation(const Network& net)
{
    const double effect[10] = {1, 1, 1, 1e3, 1e5, 1e7, 1e1, 1e1, 1e1, 1e1};
    double worst = 0.0;
    for (int k = 0; k < net.cameras.GetSize(); ++k)
        for (int q = 0; q < 10; ++q)
            worst = std::max(worst, std::fabs(net.cameras.GetAt(k)->parameters[q] - net.TrueCamera(k, q)) * effect[q]);
    return worst;
}

double StationDeviation(const Network& net)
{
    double worst = 0.0;
    for (int j = 0; j < net.images.GetSize(); ++j) {
        const CProjectImage* image = net.images.GetAt(j);
        const Pose& t = net.truePoses[static_cast<size_t>(j)];
        worst = std::max({worst, std::fabs(image->X - t.X[0]), std::fabs(image->Y - t.X[1]),
                          std::fabs(image->Z - t.X[2])});
        double R[3][3], T[3][3];
        image->GetRotation(R);
        RotationFromAngles(t.azimuth, t.elevation, t.roll, T);
        for (int a = 0; a < 3; ++a)
            for (int b = 0; b < 3; ++b)
                worst = std::max(worst, std::fabs(R[a][b] - T[a][b]));
    }
    return worst;
}

double PointDeviation(const Network& net)
{
    double worst = 0.0;
    for (int i = 0; i < net.points.GetSize(); ++i) {
        const CObjectPoint* p = net.points.GetAt(i);
        const CObjectPoint* t = Truth(net, *p);
        EXPECT_NE(t, nullptr);
        if (t == nullptr)
            continue;
        worst = std::max({worst, std::fabs(p->x - t->x), std::fabs(p->y - t->y), std::fabs(p->z - t->z)});
    }
    return worst;
}

} // namespace

TEST(BundleConvergence, NoiseFreeControlNetworkReachesTheTruth)
{
    Network net;
    NetworkOptions o;
    BuildRing(net, 8, 40, o, 2);
    AddControl(net, 6, 0.001);
    CAdjustmentEngine engine = MakeEngine(net);
    ASSERT_TRUE(engine.RunBundle()) << engine.GetFailureReason();
    EXPECT_EQ(net.summary.status, 1) << engine.GetFailureReason();
    EXPECT_TRUE(net.settings.standardFolding);
    EXPECT_EQ(net.points.GetSize(), 40);
    EXPECT_LT(CameraDeviation(net), 1e-7);
    EXPECT_LT(StationDeviation(net), 1e-8);
    EXPECT_LT(PointDeviation(net), 1e-8);
    // Every point folded with all its rays; observations = 2 per ray.
    EXPECT_EQ(net.summary.observations, 2 * net.rays);
    EXPECT_EQ(net.summary.parameters, 3 * 40 + 6 * 8 + 10 * 2);
    EXPECT_TRUE(engine.progress.IsDone());
    EXPECT_LT(net.summary.vv, 1e-12);
}

TEST(BundleConvergence, NoiseFreeFreeNetworkHasTheTrueShape)
{
    Network net;
    NetworkOptions o;
    o.seed = 7;
    BuildRing(net, 8, 36, o);
    CAdjustmentEngine engine = MakeEngine(net);
    ASSERT_TRUE(engine.RunBundle());
    ASSERT_EQ(net.summary.status, 1) << engine.GetFailureReason();
    EXPECT_EQ(net.summary.constraints, 7 + 1); // the datum, and K3 held fixed

    // The camera does not see the datum: its parameters are the true ones.
    EXPECT_LT(CameraDeviation(net), 1e-7);
    // The points are the truth up to a similarity: every distance scaled alike.
    std::vector<const CObjectPoint*> adjusted, truth;
    for (int i = 0; i < net.points.GetSize(); ++i) {
        adjusted.push_back(net.points.GetAt(i));
        truth.push_back(Truth(net, *net.points.GetAt(i)));
        ASSERT_NE(truth.back(), nullptr);
    }
    auto dist = [](const CObjectPoint* a, const CObjectPoint* b) {
        return std::sqrt((a->x - b->x) * (a->x - b->x) + (a->y - b->y) * (a->y - b->y) + (a->z - b->z) * (a->z - b->z));
    };
    const double scale = dist(adjusted[0], adjusted[1]) / dist(truth[0], truth[1]);
    EXPECT_NEAR(scale, 1.0, 0.05); // the datum keeps the scale of the first triangulation
    for (size_t a = 0; a < adjusted.size(); ++a)
        for (size_t b = a + 1; b < adjusted.size(); ++b)
            EXPECT_NEAR(dist(adjusted[a], adjusted[b]), scale * dist(truth[a], truth[b]), 1e-8);
}

// One iteration from the start values: its point corrections d satisfy the
// seven inner conditions at the coordinates they were formed with, p + d
// (the update subtracts d): sum d = 0, sum p x d = 0 and sum p . d = 0.
TEST(BundleConvergence, FreeNetworkCorrectionsKeepTheDatum)
{
    Network net;
    NetworkOptions o;
    o.seed = 3;
    BuildRing(net, 8, 40, o);
    net.settings.maxIterations = 1;
    CAdjustmentEngine engine = MakeEngine(net);
    ASSERT_TRUE(engine.RunBundle());
    ASSERT_EQ(net.summary.status, 3) << engine.GetFailureReason();
    ASSERT_EQ(engine.vectorStore.GetSize(), 40);

    double g[7] = {0, 0, 0, 0, 0, 0, 0};
    double size = 0.0;
    int k = 0;
    for (int i = 0; i < net.points.GetSize(); ++i) {
        const CObjectPoint* p = net.points.GetAt(i);
        ASSERT_TRUE(engine.IsFoldedPoint(*p));
        const CVector& d = *engine.vectorStore.GetAt(k++);
        const double X = p->x + d[0], Y = p->y + d[1], Z = p->z + d[2];
        g[0] += d[0];
        g[1] += d[1];
        g[2] += d[2];
        g[3] += Z * d[1] - Y * d[2];
        g[4] += -Z * d[0] + X * d[2];
        g[5] += Y * d[0] - X * d[1];
        g[6] += X * d[0] + Y * d[1] + Z * d[2];
        size += std::fabs(d[0]) + std::fabs(d[1]) + std::fabs(d[2]);
        // The correction is the one the update applied.
        EXPECT_DOUBLE_EQ(p->correctionSum[0], d[0]);
    }
    ASSERT_GT(size, 1e-4); // the start was away from the truth
    for (double v : g)
        EXPECT_LT(std::fabs(v), 1e-9 * size);
}

TEST(BundleConvergence, VarianceFactorMatchesTheNoise)
{
    for (int variant = 0; variant < 2; ++variant) {
        Network net;
        NetworkOptions o;
        o.seed = 11 + variant;
        o.noise = 0.001;
        o.imageSigma = 0.001;
        BuildRing(net, 10, 60, o, 1 + variant);
        if (variant == 1)
            AddControl(net, 5, 0.002);
        CAdjustmentEngine engine = MakeEngine(net);
        ASSERT_TRUE(engine.RunBundle());
        ASSERT_EQ(net.summary.status, 1) << engine.GetFailureReason();
        const int dof = net.summary.GetDegreesOfFreedom();
        ASSERT_GT(dof, 300);
        EXPECT_EQ(dof, engine.progress.degreesOfFreedom.load());
        EXPECT_NEAR(net.summary.sigma0, 1.0, 3.0 / std::sqrt(2.0 * dof)) << "variant " << variant;
        EXPECT_NEAR(engine.progress.sigma0.load(), net.summary.sigma0, 1e-12);
        // The residual RMS is about the noise.
        EXPECT_NEAR(engine.progress.residualRmsMicrons.load(), 1.0, 0.2);
    }
}

TEST(BundleConvergence, ControlPointsAreReproducedWithinTheirSigmas)
{
    Network net;
    NetworkOptions o;
    o.seed = 5;
    o.noise = 0.001;
    BuildRing(net, 8, 48, o);
    // Control coordinates off the truth by up to half their sigma.
    const double sigma = 0.004;
    AddControl(net, 4, sigma);
    std::mt19937 rng(99);
    std::uniform_real_distribution<double> u(-0.5 * sigma, 0.5 * sigma);
    for (int i = 0; i < net.control.GetSize(); ++i) {
        CObjectPoint* c = net.control.GetAt(i);
        c->x += u(rng);
        c->y += u(rng);
        c->z += u(rng);
    }
    CAdjustmentEngine engine = MakeEngine(net);
    ASSERT_TRUE(engine.RunBundle());
    ASSERT_EQ(net.summary.status, 1) << engine.GetFailureReason();
    EXPECT_EQ(net.summary.constraints, 3 * net.control.GetSize() + 1);
    for (int i = 0; i < net.control.GetSize(); ++i) {
        const CObjectPoint* c = net.control.GetAt(i);
        const CObjectPoint* p = net.points.FindPoint(c->label);
        ASSERT_NE(p, nullptr);
        EXPECT_TRUE(p->updated);
        EXPECT_LT(std::fabs(p->x - c->x), sigma);
        EXPECT_LT(std::fabs(p->y - c->y), sigma);
        EXPECT_LT(std::fabs(p->z - c->z), sigma);
        // The offsets kept by the run are the distance from the control values.
        EXPECT_NEAR(p->correctionSum[0], c->x - p->x, 1e-12);
    }
    // The control set itself is left as it was given.
    EXPECT_EQ(net.control.GetAt(0)->correctionSum[0], 0.0);
}

namespace {

// Object coordinates (stations, truth, control points and their sigmas)
// multiplied by f: the network in other units.
void ScaleObjectUnits(Network& net, double f)
{
    for (int j = 0; j < net.imageList.GetSize(); ++j)
        net.imageList.GetAt(j)->ScalePosition(f);
    for (Pose& pose : net.truePoses)
        for (double& x : pose.X)
            x *= f;
    for (CPointSet* set : {&net.truth, &net.control})
        for (int i = 0; i < set->GetSize(); ++i) {
            CObjectPoint* p = set->GetAt(i);
            p->x *= f;
            p->y *= f;
            p->z *= f;
            for (double& s : p->aprioriSigma)
                s = s < 1000.0 ? s * f : s;
        }
}

struct UnitsRun {
    int status = 0;
    double lowestPivot = 0.0, highestPivot = 0.0, log10Determinant = 0.0;
};

void RecordPivots(void* context, int32_t phase)
{
    auto* run = static_cast<std::pair<CAdjustmentEngine*, UnitsRun*>*>(context);
    if (phase != PHASE_SOLVING || run->second->log10Determinant != 0.0)
        return;
    std::vector<double> pivots;
    if (!run->first->GetPivots(pivots))
        return;
    UnitsRun& r = *run->second;
    r.lowestPivot = HUGE_VAL;
    for (size_t i = 0; i + 1 < pivots.size(); ++i) {
        const double d = pivots[i];
        r.lowestPivot = std::min(r.lowestPivot, d);
        r.highestPivot = std::max(r.highestPivot, d);
        r.log10Determinant += std::log10(d);
    }
}

// The run through the engine's own passes, with the pivots of the first
// factorisation of the reduced system.
UnitsRun RunRecordingPivots(Network& net)
{
    UnitsRun result;
    CAdjustmentEngine engine = MakeEngine(net);
    EXPECT_TRUE(engine.Prepare());
    EXPECT_TRUE(engine.AllocateReducedSystem());
    std::pair<CAdjustmentEngine*, UnitsRun*> context(&engine, &result);
    CAdjustmentEngine::IterationState pass;
    while (engine.RunIteration(pass, &RecordPivots, &context)) {
    }
    result.status = net.summary.status;
    return result;
}

} // namespace

// A network in metres and the same in micrometres, with control points and
// free, folded either way: the reduced systems' pivots span many decades and
// for the block their product leaves the range of a double (an absolute test
// on it, as the Cholesky form of the factorisation makes, would refuse or
// pass it by accident), yet the root-free factorisation takes both, and the
// results are the same up to the unit.
TEST(BundleConvergence, ObjectUnitsDoNotMatter)
{
    struct Case {
        bool control;
        int images, points; // a block folded the standard way, a ring folded the reverse way
    };
    for (const Case& c : {Case{true, 40, 400}, Case{false, 40, 400}, Case{true, 12, 20}, Case{false, 12, 20}}) {
        SCOPED_TRACE(testing::Message() << (c.control ? "control " : "free ") << c.points << " points");
        Network nets[2];
        UnitsRun runs[2];
        const double factors[2] = {1.0, 1e6};
        for (int u = 0; u < 2; ++u) {
            NetworkOptions o;
            o.seed = 77;
            o.noise = 0.001;
            if (c.points > 3 * c.images)
                BuildBlock(nets[u], c.images, c.points, o);
            else
                BuildRing(nets[u], c.images, c.points, o);
            // Control sigmas mean "free" from 1000 and count as control up
            // to 0.05 in any unit: held practically fixed in both.
            if (c.control)
                AddControl(nets[u], 5, 1e-9);
            nets[u].settings.convergenceLimit = 1e-12;
            ScaleObjectUnits(nets[u], factors[u]);
            runs[u] = RunRecordingPivots(nets[u]);
            EXPECT_EQ(runs[u].status, 1) << "unit " << factors[u];
            EXPECT_GT(runs[u].lowestPivot, 1e-100);
            if (c.points > 3 * c.images) {
                EXPECT_GT(std::fabs(runs[u].log10Determinant), 308.0);
            }
        }
        EXPECT_EQ(nets[0].settings.standardFolding, c.points > 3 * c.images);
        EXPECT_LT(std::fabs(nets[1].summary.sigma0 - nets[0].summary.sigma0), 1e-9 * nets[0].summary.sigma0);
        for (int k = 0; k < nets[0].cameras.GetSize(); ++k)
            for (int q = 0; q < 10; ++q) {
                const double a = nets[0].cameras.GetAt(k)->parameters[q], b = nets[1].cameras.GetAt(k)->parameters[q];
                EXPECT_LE(std::fabs(a - b), 1e-7 * std::fabs(a)) << "camera parameter " << q;
            }
        for (int j = 0; j < nets[0].images.GetSize(); ++j) {
            const CProjectImage* a = nets[0].images.GetAt(j);
            const CProjectImage* b = nets[1].images.GetAt(j);
            EXPECT_LT(std::hypot(a->X - b->X / 1e6, std::hypot(a->Y - b->Y / 1e6, a->Z - b->Z / 1e6)), 1e-8) << j;
            for (int r = 0; r < 3; ++r)
                for (int s = 0; s < 3; ++s)
                    EXPECT_NEAR(a->rotation.GetAt(r, s), b->rotation.GetAt(r, s), 1e-10) << j;
        }
        ASSERT_EQ(nets[0].points.GetSize(), nets[1].points.GetSize());
        for (int i = 0; i < nets[0].points.GetSize(); ++i) {
            const CObjectPoint* a = nets[0].points.GetAt(i);
            const CObjectPoint* b = nets[1].points.GetAt(i);
            EXPECT_LT(std::hypot(a->x - b->x / 1e6, std::hypot(a->y - b->y / 1e6, a->z - b->z / 1e6)), 1e-8) << i;
        }
    }
}
