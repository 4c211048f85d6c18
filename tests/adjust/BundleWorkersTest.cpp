// Any number of worker threads gives the adjustment of one: every estimate,
// covariance and summary figure of a run on 8 threads equals that on 1 to
// 1e-9 relative, for both foldings, a free network and control points.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>

#include "AdjustmentEngine.h"
#include "BundleNetwork.h"

using namespace bundletest;

namespace {

void ExpectNear(double a, double b, const char* what, int index)
{
    const double scale = std::max({std::fabs(a), std::fabs(b), 1e-300});
    EXPECT_LE(std::fabs(a - b), 1e-9 * scale) << what << " " << index << ": " << a << " vs " << b;
}

void ExpectSameMatrix(const CMatrix& a, const CMatrix& b, const char* what, int index)
{
    ASSERT_EQ(a.GetRows(), b.GetRows()) << what << " " << index;
    for (int r = 0; r < a.GetRows(); ++r)
        for (int c = r; c < a.GetRows(); ++c)
            ExpectNear(a.GetAt(r, c), b.GetAt(r, c), what, index);
}

struct Case {
    const char* name;
    std::function<void(Network&)> build;
    bool standard;
};

std::unique_ptr<Network> Adjust(const Case& c, int workers)
{
    std::unique_ptr<Network> net(new Network);
    c.build(*net);
    net->settings.totalErrorPropagation = true;
    net->settings.convergenceLimit = 1e-7;
    CAdjustmentEngine engine(&net->images, &net->points, net->settings.freeNetwork ? nullptr : &net->control,
                             &net->cameras, &net->scaleBars, &net->settings, &net->summary);
    engine.SetWorkerLimit(workers);
    EXPECT_TRUE(engine.RunBundle());
    return net;
}

TEST(BundleWorkers, EightThreadsGiveTheResultsOfOne)
{
    NetworkOptions o;
    o.seed = 7;
    o.noise = 0.001;
    const Case cases[] = {
        {"free network, points folded", [&](Network& n) { BuildRing(n, 8, 60, o, 2); }, true},
        {"control points, points folded",
         [&](Network& n) {
             BuildBlock(n, 16, 400, o);
             AddControl(n, 10, 0.005);
         },
         true},
        {"free network, stations folded", [&](Network& n) { BuildRing(n, 14, 24, o); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<Network> one = Adjust(c, 1);
        std::unique_ptr<Network> eight = Adjust(c, 8);
        ASSERT_EQ(one->settings.standardFolding, c.standard);
        ASSERT_EQ(one->summary.status, BUNDLE_CONVERGED);
        EXPECT_EQ(eight->summary.status, one->summary.status);
        EXPECT_EQ(eight->summary.iterations, one->summary.iterations);
        EXPECT_EQ(eight->summary.observations, one->summary.observations);
        ExpectNear(eight->summary.sigma0, one->summary.sigma0, "sigma0", 0);
        for (int a = 0; a < 3; ++a) {
            ExpectNear(eight->summary.rmsTotal[a], one->summary.rmsTotal[a], "rms total", a);
            ExpectNear(eight->summary.rmsLimiting[a], one->summary.rmsLimiting[a], "rms limiting", a);
        }
        ASSERT_EQ(eight->points.GetSize(), one->points.GetSize());
        for (int i = 0; i < one->points.GetSize(); ++i) {
            const CObjectPoint& p = *one->points.GetAt(i);
            const CObjectPoint& q = *eight->points.GetAt(i);
            ExpectNear(q.x, p.x, "x", i);
            ExpectNear(q.y, p.y, "y", i);
            ExpectNear(q.z, p.z, "z", i);
            ExpectNear(q.rms, p.rms, "point rms", i);
            EXPECT_EQ(q.usedRayCount, p.usedRayCount);
            ExpectSameMatrix(q.covariance, p.covariance, "covariance", i);
            ExpectSameMatrix(q.limitingCovariance, p.limitingCovariance, "limiting covariance", i);
        }
        for (int j = 0; j < one->images.GetSize(); ++j) {
            CProjectImage& s = *one->images.GetAt(j);
            CProjectImage& t = *eight->images.GetAt(j);
            ExpectNear(t.X, s.X, "X0", j);
            ExpectNear(t.Y, s.Y, "Y0", j);
            ExpectNear(t.Z, s.Z, "Z0", j);
            ExpectNear(t.GetAzimuth(), s.GetAzimuth(), "azimuth", j);
            ExpectNear(t.GetRoll(), s.GetRoll(), "roll", j);
            ExpectSameMatrix(t.GetCovariance(), s.GetCovariance(), "station covariance", j);
        }
        for (int k = 0; k < one->cameras.GetSize(); ++k)
            for (int q = 0; q < CAM_PARAMETER_COUNT; ++q) {
                ExpectNear(eight->cameras.GetAt(k)->parameters[q], one->cameras.GetAt(k)->parameters[q],
                           "camera parameter", q);
                ExpectNear(eight->cameras.GetAt(k)->postSigmas[q], one->cameras.GetAt(k)->postSigmas[q],
                           "camera sigma", q);
            }
    }
}

} // namespace
