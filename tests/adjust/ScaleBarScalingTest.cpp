// Scale bars: the weighted scale factor after a free-network adjustment,
// and bars as distance observations inside the adjustment.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "AdjustmentEngine.h"
#include "BundleNetwork.h"

using namespace bundletest;

namespace {

std::unique_ptr<Network> FreeRing(int images, int points, unsigned seed = 61)
{
    std::unique_ptr<Network> net(new Network);
    NetworkOptions o;
    o.seed = seed;
    o.noise = 0.0005;
    BuildRing(*net, images, points, o);
    net->settings.totalErrorPropagation = true;
    return net;
}

CScaleBar* AddBar(Network& net, const char* a, const char* b, double length, double sigma)
{
    CScaleBar* bar = net.scaleBars.AddNew();
    bar->name = (std::string(a) + "-" + b).c_str();
    bar->endLabel1.Set(a);
    bar->endLabel2.Set(b);
    bar->calibratedLength = length;
    bar->standardDeviation = sigma;
    return bar;
}

double Distance(CPointSet& points, const char* a, const char* b)
{
    const CObjectPoint* p = points.FindPointByText(a);
    const CObjectPoint* q = points.FindPointByText(b);
    EXPECT_TRUE(p != nullptr && q != nullptr);
    if (p == nullptr || q == nullptr)
        return 0.0;
    return std::sqrt((q->x - p->x) * (q->x - p->x) + (q->y - p->y) * (q->y - p->y) + (q->z - p->z) * (q->z - p->z));
}

double TrueDistance(Network& net, const char* a, const char* b)
{
    return Distance(net.truth, a, b);
}

bool RunToEnd(Network& net, bool withControl = false)
{
    CAdjustmentEngine engine(&net.images, &net.points, withControl ? &net.control : nullptr, &net.cameras,
                             &net.scaleBars, &net.settings, &net.summary);
    const bool ran = engine.RunBundle();
    EXPECT_EQ(net.summary.status, 1) << engine.GetFailureReason();
    return ran && net.summary.status == 1;
}

// Every point, station and covariance of `scaled` is `unscaled`'s times s
// (covariances s^2, station position-angle blocks s).
void ExpectScaledBy(Network& unscaled, Network& scaled, double s)
{
    ASSERT_EQ(unscaled.points.GetSize(), scaled.points.GetSize());
    for (int i = 0; i < scaled.points.GetSize(); ++i) {
        const CObjectPoint* p = unscaled.points.GetAt(i);
        const CObjectPoint* q = scaled.points.GetAt(i);
        EXPECT_NEAR(q->x, s * p->x, 1e-12);
        EXPECT_NEAR(q->y, s * p->y, 1e-12);
        EXPECT_NEAR(q->z, s * p->z, 1e-12);
        for (int a = 0; a < 3; ++a) {
            EXPECT_NEAR(q->covariance.GetAt(a, a), s * s * p->covariance.GetAt(a, a), 1e-12 * p->covariance.GetAt(a, a));
            EXPECT_NEAR(q->limitingCovariance.GetAt(a, a), s * s * p->limitingCovariance.GetAt(a, a),
                        1e-12 * p->limitingCovariance.GetAt(a, a));
        }
    }
    for (int j = 0; j < scaled.images.GetSize(); ++j) {
        const CProjectImage* p = unscaled.images.GetAt(j);
        const CProjectImage* q = scaled.images.GetAt(j);
        EXPECT_NEAR(q->X, s * p->X, 1e-12);
        EXPECT_NEAR(q->Y, s * p->Y, 1e-12);
        EXPECT_NEAR(q->Z, s * p->Z, 1e-12);
        const CMatrix& a = p->GetCovariance();
        const CMatrix& b = q->GetCovariance();
        for (int r = 0; r < 6; ++r)
            for (int c = r; c < 6; ++c) {
                const double f = r < 3 ? (c < 3 ? s * s : s) : 1.0;
                EXPECT_NEAR(b.GetAt(r, c), f * a.GetAt(r, c), 1e-12 * std::fabs(a.GetAt(r, c)) + 1e-300);
            }
    }
}

} // namespace

TEST(PostBundleScaling, OneBarGetsItsCalibratedLength)
{
    std::unique_ptr<Network> plain = FreeRing(5, 30);
    std::unique_ptr<Network> barred = FreeRing(5, 30);
    const double length = 1.1 * TrueDistance(*barred, "P3", "P17");
    CScaleBar* bar = AddBar(*barred, "P3", "P17", length, 0.0001);
    ASSERT_TRUE(RunToEnd(*plain));
    ASSERT_TRUE(RunToEnd(*barred));
    ASSERT_TRUE(barred->settings.standardFolding);
    EXPECT_EQ(plain->scaleBars.scalingResult, -1);
    EXPECT_EQ(barred->scaleBars.scalingResult, 1);
    EXPECT_NEAR(Distance(barred->points, "P3", "P17"), length, 1e-12);
    EXPECT_NEAR(bar->adjustedLength, length, 1e-12);
    EXPECT_FALSE(bar->rejected);
    EXPECT_EQ(bar->rays1, barred->points.FindPointByText("P3")->usedRayCount);
    EXPECT_GE(bar->rays2, 2);
    ExpectScaledBy(*plain, *barred, length / Distance(plain->points, "P3", "P17"));
}

TEST(PostBundleScaling, SeveralBarsGiveTheWeightedMeanScale)
{
    std::unique_ptr<Network> plain = FreeRing(5, 30);
    std::unique_ptr<Network> barred = FreeRing(5, 30);
    const char* ends[3][2] = {{"P1", "P20"}, {"P4", "P11"}, {"P7", "P29"}};
    const double factor[3] = {1.10, 1.13, 1.08};
    for (int k = 0; k < 3; ++k)
        AddBar(*barred, ends[k][0], ends[k][1], factor[k] * TrueDistance(*barred, ends[k][0], ends[k][1]), 0.001);
    // Bars with either end missing take no part.
    CScaleBar* noSecond = AddBar(*barred, "P2", "NOWHERE", 1.0, 0.001);
    CScaleBar* noFirst = AddBar(*barred, "NOWHERE", "P2", 1.0, 0.001);
    ASSERT_TRUE(RunToEnd(*plain));
    ASSERT_TRUE(RunToEnd(*barred));

    // Scale ratio r = L / d of each bar, weight (d / r)^2.
    double sumW = 0.0, sumWR = 0.0;
    for (int k = 0; k < 3; ++k) {
        const double d = Distance(plain->points, ends[k][0], ends[k][1]);
        const double r = barred->scaleBars.GetAt(k)->calibratedLength / d;
        sumW += (d / r) * (d / r);
        sumWR += (d / r) * (d / r) * r;
    }
    const double s = sumWR / sumW;
    EXPECT_GT(s, 1.05);
    EXPECT_EQ(barred->scaleBars.scalingResult, 1);
    ExpectScaledBy(*plain, *barred, s);
    for (int k = 0; k < 3; ++k)
        EXPECT_NEAR(barred->scaleBars.GetAt(k)->adjustedLength, s * Distance(plain->points, ends[k][0], ends[k][1]),
                    1e-12);
    for (CScaleBar* bar : {noSecond, noFirst}) {
        EXPECT_TRUE(bar->rejected);
        EXPECT_EQ(bar->adjustedLength, 0.0);
    }
    EXPECT_GE(noSecond->rays1, 2);
    EXPECT_EQ(noSecond->rays2, 0);
    EXPECT_EQ(noFirst->rays1, 0);
}

// The list's result tells what this run did, never what an earlier one did.
TEST(PostBundleScaling, ResultIsThatOfTheLastRun)
{
    std::unique_ptr<Network> net = FreeRing(5, 30);
    AddBar(*net, "P2", "NOWHERE", 1.0, 0.001);
    net->scaleBars.scalingResult = 1;
    ASSERT_TRUE(RunToEnd(*net));
    EXPECT_EQ(net->scaleBars.scalingResult, 0); // bars, none usable: nothing scaled

    std::unique_ptr<Network> control = FreeRing(5, 30);
    AddControl(*control, 4, 0.002);
    AddBar(*control, "P3", "P17", 1.0, 0.001);
    control->scaleBars.scalingResult = 2;
    ASSERT_TRUE(RunToEnd(*control, true));
    EXPECT_EQ(control->scaleBars.scalingResult, -1); // a control network is not scaled
}

TEST(RigorousScaling, AdjustedBarsMeetTheirCalibratedLengths)
{
    std::unique_ptr<Network> net = FreeRing(6, 30);
    net->settings.rigorousScale = true;
    // Calibrated 4 % longer than the network the start values give.
    const char* ends[3][2] = {{"P1", "P20"}, {"P4", "P11"}, {"P7", "P29"}};
    const double sigma = 0.0002;
    for (auto& e : ends)
        AddBar(*net, e[0], e[1], 1.04 * TrueDistance(*net, e[0], e[1]), sigma);
    ASSERT_TRUE(RunToEnd(*net));
    EXPECT_FALSE(net->settings.standardFolding);
    EXPECT_EQ(net->scaleBars.scalingResult, 2);
    for (int k = 0; k < 3; ++k) {
        const CScaleBar* bar = net->scaleBars.GetAt(k);
        EXPECT_FALSE(bar->rejected);
        const double d = Distance(net->points, ends[k][0], ends[k][1]);
        EXPECT_LE(std::fabs(d - bar->calibratedLength), sigma) << bar->name.GetText();
        EXPECT_NEAR(bar->adjustedLength, d, 1e-9);
    }
    // Six datum rows (the bars give the scale) and one equation per bar.
    int rays = 0;
    for (int j = 0; j < net->images.GetSize(); ++j)
        for (int o = 0; o < net->images.GetAt(j)->targets.GetSize(); ++o)
            rays += net->images.GetAt(j)->targets.GetAt(o)->rejected ? 0 : 1;
    EXPECT_EQ(net->summary.observations, 2 * rays + 3);
    EXPECT_EQ(net->summary.constraints, 6 + 1); // datum and K3
}

// A bar read without its database record has a sigma of 1e-16: it weighs
// like a bar with sigma 0 (weight 1), not 1e16.
TEST(RigorousScaling, UnsetSigmaWeighsLikeZero)
{
    std::unique_ptr<Network> zero = FreeRing(6, 30, 62);
    std::unique_ptr<Network> unset = FreeRing(6, 30, 62);
    for (Network* net : {zero.get(), unset.get()}) {
        net->settings.rigorousScale = true;
        AddBar(*net, "P1", "P20", 1.04 * TrueDistance(*net, "P1", "P20"), net == zero.get() ? 0.0 : 1e-16);
        AddBar(*net, "P4", "P11", 1.04 * TrueDistance(*net, "P4", "P11"), net == zero.get() ? 0.0 : 1e-16);
        ASSERT_TRUE(RunToEnd(*net));
    }
    EXPECT_EQ(zero->summary.sigma0, unset->summary.sigma0);
    EXPECT_EQ(zero->summary.iterations, unset->summary.iterations);
    for (int i = 0; i < zero->points.GetSize(); ++i) {
        EXPECT_EQ(zero->points.GetAt(i)->x, unset->points.GetAt(i)->x);
        EXPECT_EQ(zero->points.GetAt(i)->z, unset->points.GetAt(i)->z);
    }
    EXPECT_LT(std::fabs(Distance(unset->points, "P1", "P20") - 1.04 * TrueDistance(*unset, "P1", "P20")), 1e-3);
}

// Without a usable bar the free network keeps its seven datum rows, scale
// included, instead of a system singular in scale.
TEST(RigorousScaling, NoUsableBarKeepsTheFullDatum)
{
    for (int bars = 0; bars < 2; ++bars) {
        std::unique_ptr<Network> net = FreeRing(6, 30);
        net->settings.rigorousScale = true;
        if (bars)
            AddBar(*net, "P5", "NOWHERE", 1.0, 0.001);
        ASSERT_TRUE(RunToEnd(*net));
        EXPECT_EQ(net->summary.constraints, 7 + 1);
        EXPECT_EQ(net->scaleBars.scalingResult, bars ? 0 : -1);
        if (bars) {
            EXPECT_TRUE(net->scaleBars.GetAt(0)->rejected);
        }
    }
}

// A bar is used only when both of its ends have the minimum of rays; the
// first end is tested as well as the second.
TEST(RigorousScaling, BothEndsNeedTheMinimumOfRays)
{
    std::unique_ptr<Network> net(new Network);
    NetworkOptions o;
    o.noise = 0.0005;
    BuildRing(*net, 10, 19, o);
    AddControl(*net, 4, 0.002);
    net->settings.minimumRays = 3;
    net->settings.rigorousScale = true;
    // A point left with two usable rays: three images see it, one of them 5 mm off.
    CNameBuffer weak;
    for (int i = 0; i < net->truth.GetSize() && weak.GetText()[0] == 0; ++i) {
        const CNameBuffer& label = net->truth.GetAt(i)->label;
        bool inFirstThree = true;
        for (int j = 0; j < 3; ++j)
            inFirstThree = inFirstThree && net->images.GetAt(j)->FindObservation(label) != nullptr;
        if (inFirstThree)
            weak.Copy(label);
    }
    ASSERT_NE(weak.GetText()[0], 0);
    for (int j = 3; j < net->images.GetSize(); ++j)
        net->images.GetAt(j)->targets.Remove(weak);
    net->images.GetAt(2)->FindObservation(weak)->x += 5.0;
    const char* good = std::string(weak.GetText()) == "P2" ? "P3" : "P2";
    CScaleBar* first = AddBar(*net, weak.GetText(), good, 1.0, 0.001);
    CScaleBar* second = AddBar(*net, good, weak.GetText(), 1.0, 0.001);
    ASSERT_TRUE(RunToEnd(*net, true));
    EXPECT_TRUE(first->rejected);
    EXPECT_TRUE(second->rejected);
    EXPECT_EQ(first->rays1, 0);
    EXPECT_GE(first->rays2, 3);
    EXPECT_EQ(net->scaleBars.scalingResult, 0);
}
