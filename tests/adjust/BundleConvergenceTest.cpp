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
