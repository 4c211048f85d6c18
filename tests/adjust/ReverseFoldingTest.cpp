// Folding the stations out must give the adjustment that folding the points
// out gives; and the cases in which it must hold a point, fail a station or
// refuse a system too large for memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

#include "AdjustmentEngine.h"
#include "BundleNetwork.h"

using namespace bundletest;

namespace {

CAdjustmentEngine MakeEngine(Network& net, bool withControl)
{
    return CAdjustmentEngine(&net.images, &net.points, withControl ? &net.control : nullptr, &net.cameras,
                             &net.scaleBars, &net.settings, &net.summary);
}

// |a - b| within `relative` of the larger magnitude, with `floor` as the
// smallest magnitude counted (for values near zero).
::testing::AssertionResult Near(double a, double b, double relative, double floor)
{
    const double scale = std::max({std::fabs(a), std::fabs(b), floor});
    if (std::fabs(a - b) <= relative * scale)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << a << " vs " << b << " differ by " << std::fabs(a - b) << ", more than "
                                         << relative << " of " << scale;
}

// A network of 6 images and 30 points (standard folding by the counts) with
// image noise, converged far below the default limit.
std::unique_ptr<Network> Ring(bool rigorous, bool control)
{
    std::unique_ptr<Network> net(new Network);
    NetworkOptions o;
    o.seed = 31;
    o.noise = 0.001;
    BuildRing(*net, 6, 30, o, 2);
    if (control)
        AddControl(*net, 3, 0.002);
    net->settings.convergenceLimit = 1e-13;
    net->settings.maxIterations = 60;
    net->settings.totalErrorPropagation = true;
    net->settings.rigorousScale = rigorous;
    return net;
}

void ExpectSameAdjustment(bool control)
{
    std::unique_ptr<Network> a = Ring(false, control);
    std::unique_ptr<Network> b = Ring(true, control);
    CAdjustmentEngine standard = MakeEngine(*a, control);
    CAdjustmentEngine reverse = MakeEngine(*b, control);
    ASSERT_TRUE(standard.RunBundle());
    ASSERT_TRUE(reverse.RunBundle());
    ASSERT_EQ(a->summary.status, 1) << standard.GetFailureReason();
    ASSERT_EQ(b->summary.status, 1) << reverse.GetFailureReason();
    EXPECT_TRUE(a->settings.standardFolding);
    EXPECT_FALSE(b->settings.standardFolding);
    // No bars: nothing to scale, and the counts are those of the other folding.
    EXPECT_EQ(b->scaleBars.scalingResult, -1);
    EXPECT_EQ(a->summary.observations, b->summary.observations);
    EXPECT_EQ(a->summary.parameters, b->summary.parameters);
    EXPECT_EQ(a->summary.constraints, b->summary.constraints);
    EXPECT_TRUE(Near(a->summary.sigma0, b->summary.sigma0, 1e-9, 0.0));

    ASSERT_EQ(a->points.GetSize(), b->points.GetSize());
    for (int i = 0; i < a->points.GetSize(); ++i) {
        const CObjectPoint* p = a->points.GetAt(i);
        const CObjectPoint* q = b->points.GetAt(i);
        EXPECT_TRUE(Near(p->x, q->x, 1e-9, 1.0)) << p->label.GetText();
        EXPECT_TRUE(Near(p->y, q->y, 1e-9, 1.0)) << p->label.GetText();
        EXPECT_TRUE(Near(p->z, q->z, 1e-9, 1.0)) << p->label.GetText();
        // The points' total covariances come from different inverses too.
        for (int r = 0; r < 3; ++r)
            EXPECT_TRUE(Near(p->covariance.GetAt(r, r), q->covariance.GetAt(r, r), 1e-6, 0.0));
    }
    for (int j = 0; j < a->images.GetSize(); ++j) {
        const CProjectImage* s = a->images.GetAt(j);
        const CProjectImage* t = b->images.GetAt(j);
        EXPECT_TRUE(Near(s->X, t->X, 1e-9, 1.0));
        EXPECT_TRUE(Near(s->Y, t->Y, 1e-9, 1.0));
        EXPECT_TRUE(Near(s->Z, t->Z, 1e-9, 1.0));
        EXPECT_TRUE(Near(s->GetAzimuth(), t->GetAzimuth(), 1e-9, 1.0));
        EXPECT_TRUE(Near(s->GetElevation(), t->GetElevation(), 1e-9, 1.0));
        EXPECT_TRUE(Near(s->GetRoll(), t->GetRoll(), 1e-9, 1.0));
        const CMatrix& cs = s->GetCovariance();
        const CMatrix& ct = t->GetCovariance();
        for (int r = 0; r < 6; ++r)
            for (int c = r; c < 6; ++c) {
                const double scale = std::sqrt(cs.GetAt(r, r) * cs.GetAt(c, c));
                EXPECT_LE(std::fabs(cs.GetAt(r, c) - ct.GetAt(r, c)), 1e-6 * scale)
                    << "image " << j << " element " << r << "," << c;
            }
    }
    for (int k = 0; k < a->cameras.GetSize(); ++k) {
        const CCamera* c = a->cameras.GetAt(k);
        const CCamera* d = b->cameras.GetAt(k);
        for (int q = 0; q < CAM_PARAMETER_COUNT; ++q) {
            // Relative to the parameter's size or, for parameters near zero,
            // to its standard deviation.
            EXPECT_TRUE(Near(c->parameters[q], d->parameters[q], 1e-9, c->postSigmas[q]))
                << "camera " << k << " parameter " << q;
            EXPECT_TRUE(Near(c->postSigmas[q], d->postSigmas[q], 1e-6, 0.0)) << "camera " << k << " sigma " << q;
        }
    }
}

} // namespace

TEST(ReverseFolding, SameAdjustmentAsStandardFolding)
{
    ExpectSameAdjustment(true);
}

// Without bars rigorous scaling keeps the seven inner constraints, so the
// free network has the datum of the bordered system.
TEST(ReverseFolding, FreeNetworkSameAdjustmentAsStandardFolding)
{
    ExpectSameAdjustment(false);
}

// A point left with fewer usable rays than the minimum stays where it is:
// no correction reaches it, its rays are marked rejected, and the others
// adjust.
TEST(ReverseFolding, PointWithTooFewRaysIsHeld)
{
    Network net;
    NetworkOptions o;
    o.noise = 0.0005;
    BuildRing(net, 10, 19, o);
    AddControl(net, 4, 0.002);
    net.settings.minimumRays = 3;
    // A point of the first three images stays in those three only, and its
    // ray in the third is 5 mm off, beyond the rejection limit of 1 mm.
    CNameBuffer held;
    for (int i = 0; i < net.truth.GetSize() && held.GetText()[0] == 0; ++i) {
        const CNameBuffer& label = net.truth.GetAt(i)->label;
        if (net.images.GetAt(0)->FindObservation(label) && net.images.GetAt(1)->FindObservation(label) &&
            net.images.GetAt(2)->FindObservation(label))
            held.Copy(label);
    }
    ASSERT_NE(held.GetText()[0], 0);
    for (int j = 3; j < net.images.GetSize(); ++j)
        net.images.GetAt(j)->targets.Remove(held);
    net.images.GetAt(2)->FindObservation(held)->x += 5.0;
    CAdjustmentEngine engine = MakeEngine(net, true);
    ASSERT_TRUE(engine.RunBundle());
    EXPECT_FALSE(net.settings.standardFolding);
    ASSERT_EQ(net.summary.status, 1) << engine.GetFailureReason();
    const CObjectPoint* p = net.points.FindPoint(held);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->usedRayCount, 0);
    EXPECT_TRUE(p->unsolved);
    for (int a = 0; a < 3; ++a)
        EXPECT_EQ(p->correctionSum[a], 0.0);
    EXPECT_TRUE(std::isfinite(p->x) && std::isfinite(p->y) && std::isfinite(p->z));
    for (int j = 0; j < 3; ++j)
        EXPECT_TRUE(net.images.GetAt(j)->FindObservation(held)->rejected);
    // Held points take no part in the count of parameters.
    EXPECT_EQ(net.summary.parameters, 3 * (18 + 2 * 10) + 10);
    EXPECT_LT(net.summary.sigma0, 1.0);
}

// A station without enough rays to fix its six parameters fails the run
// instead of folding a singular block into the system.
TEST(ReverseFolding, StationThatCannotBeDeterminedFailsTheRun)
{
    Network net;
    BuildRing(net, 10, 19, NetworkOptions());
    CProjectImage* image = net.images.GetAt(3);
    while (image->targets.GetSize() > 2)
        image->targets.RemoveAt(image->targets.GetSize() - 1, 1);
    CAdjustmentEngine engine = MakeEngine(net, false);
    ASSERT_TRUE(engine.RunBundle());
    EXPECT_FALSE(net.settings.standardFolding);
    EXPECT_EQ(net.summary.status, 2);
    EXPECT_NE(engine.GetFailureReason().find(image->name.GetText()), std::string::npos)
        << engine.GetFailureReason();
    EXPECT_TRUE(engine.progress.IsDone());

    // The same image held by its a-priori sigmas folds.
    Network again;
    BuildRing(again, 10, 19, NetworkOptions());
    image = again.images.GetAt(3);
    while (image->targets.GetSize() > 2)
        image->targets.RemoveAt(image->targets.GetSize() - 1, 1);
    for (int p = 0; p < 6; ++p)
        image->aprioriSigma[p] = 0.001;
    CAdjustmentEngine held = MakeEngine(again, false);
    ASSERT_TRUE(held.RunBundle());
    EXPECT_NE(again.summary.status, 2) << held.GetFailureReason();
}

// A system that cannot fit in memory is refused before it is allocated.
TEST(ReverseFolding, SystemTooLargeForMemoryFailsWithItsReason)
{
    Network net;
    BuildRing(net, 10, 19, NetworkOptions());
    // Cameras that no image uses still have their unknowns in the system.
    for (int k = 0; k < 40000; ++k) {
        CCamera* camera = net.cameras.AddNew();
        camera->identifier = ("SPARE-" + std::to_string(k)).c_str();
    }
    CAdjustmentEngine engine = MakeEngine(net, false);
    ASSERT_TRUE(engine.RunBundle());
    EXPECT_EQ(net.summary.status, 2);
    EXPECT_EQ(engine.normals, nullptr);
    EXPECT_NE(engine.GetFailureReason().find("memory"), std::string::npos) << engine.GetFailureReason();
    EXPECT_TRUE(engine.progress.IsDone());
}

// Each point's residual figure ends in micrometres, the RMS of its image
// residuals, as under standard folding.
TEST(ReverseFolding, PointResidualFigureInMicrometres)
{
    Network net;
    NetworkOptions o;
    o.noise = 0.002;
    BuildRing(net, 10, 19, o);
    CAdjustmentEngine engine = MakeEngine(net, false);
    ASSERT_TRUE(engine.RunBundle());
    ASSERT_FALSE(net.settings.standardFolding);
    ASSERT_EQ(net.summary.status, 1) << engine.GetFailureReason();
    for (int i = 0; i < net.points.GetSize(); ++i) {
        const CObjectPoint* p = net.points.GetAt(i);
        double sum = 0.0;
        int rays = 0;
        for (int j = 0; j < net.images.GetSize(); ++j) {
            const CImageObservation* obs = net.images.GetAt(j)->FindObservation(p->label);
            if (obs == nullptr || obs->rejected)
                continue;
            sum += obs->vx * obs->vx + obs->vy * obs->vy;
            ++rays;
        }
        ASSERT_EQ(rays, p->usedRayCount);
        EXPECT_NEAR(p->rms, std::sqrt(sum / (2.0 * rays)) * 1000.0, 1e-9) << p->label.GetText();
        EXPECT_GT(p->rms, 0.2); // micrometres for noise of 2 micrometres
    }
}
