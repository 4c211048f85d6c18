// Any number of worker threads gives the adjustment of one: every estimate,
// covariance and summary figure of a run on 8 threads equals that on 1 to
// 1e-9 relative, for both foldings, free networks and control points.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>

#include "AdjustmentEngine.h"
#include "BundleNetwork.h"
#include "SameResults.h"

using namespace bundletest;

namespace {

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
        {"control points, stations folded, two cameras",
         [&](Network& n) {
             BuildRing(n, 40, 60, o, 2);
             AddControl(n, 4, 0.005);
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<Network> one = Adjust(c, 1);
        std::unique_ptr<Network> eight = Adjust(c, 8);
        ASSERT_EQ(one->settings.standardFolding, c.standard);
        ASSERT_EQ(one->summary.status, BUNDLE_CONVERGED);
        ExpectSameResults(*eight, *one, 1e-9);
    }
}

} // namespace
