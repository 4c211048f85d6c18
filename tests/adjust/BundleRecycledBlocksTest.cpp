// A point's blocks of one pass are taken again by its next folding. Rays
// rejected in the first passes (the start is far off) come back once the
// orientation improves, so points change their columns from pass to pass;
// the run must still end where a run that never rejects a ray ends, and
// every stored block must have its point's columns.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "AdjustmentEngine.h"
#include "BundleNetwork.h"
#include "SameResults.h"

using namespace bundletest;

namespace bundle_recycled_blocks_test {

struct Outcome {
    std::unique_ptr<Network> net{new Network};
    std::vector<int> rejected; // per pass
};

Outcome Adjust(double limit, int workers)
{
    Outcome run;
    Network& net = *run.net;
    NetworkOptions o;
    o.seed = 3;
    o.noise = 0.0005;
    o.stationShift = 0.05;
    o.angleShift = 0.01;
    BuildBlock(net, 12, 240, o);
    AddControl(net, 8, 0.005);
    net.settings.rejectionLimit = limit;
    net.settings.convergenceLimit = 1e-10;
    CAdjustmentEngine engine(&net.images, &net.points, &net.control, &net.cameras, &net.scaleBars, &net.settings,
                             &net.summary);
    engine.SetWorkerLimit(workers);
    EXPECT_TRUE(engine.Prepare() && net.settings.standardFolding && engine.AllocateReducedSystem());
    CAdjustmentEngine::IterationState pass;
    while (engine.RunIteration(pass))
        run.rejected.push_back(engine.progress.rejectedCount);
    run.rejected.push_back(engine.progress.rejectedCount);
    EXPECT_EQ(net.summary.status, BUNDLE_CONVERGED) << engine.GetFailureReason();
    // Each store entry's M spans its point's columns.
    for (int k = 0; k < engine.matrixStore.GetSize(); ++k) {
        int columns = 0;
        engine.GetFoldedColumns(k, columns);
        EXPECT_EQ(engine.matrixStore.GetAt(k)->GetCols(), columns) << k;
        EXPECT_EQ(engine.vectorStore.GetAt(k)->GetSize(), 3) << k;
    }
    return run;
}

TEST(BundleRecycledBlocks, RaysThatComeBackEndAsTheRunWithoutRejections)
{
    for (int workers : {1, 4}) {
        SCOPED_TRACE(workers);
        const Outcome kept = Adjust(100.0, workers);
        const Outcome back = Adjust(0.2, workers);
        ASSERT_GE(back.rejected.size(), 3u);
        EXPECT_GT(back.rejected.front(), 0);
        EXPECT_EQ(back.rejected.back(), 0);
        for (int r : kept.rejected)
            EXPECT_EQ(r, 0);
        const Network& a = *back.net;
        const Network& b = *kept.net;
        EXPECT_EQ(a.summary.observations, b.summary.observations);
        ExpectRelativelyNear(a.summary.sigma0, b.summary.sigma0, 1e-7, "sigma0", 0);
        ASSERT_EQ(a.points.GetSize(), b.points.GetSize());
        for (int i = 0; i < a.points.GetSize(); ++i) {
            ExpectRelativelyNear(a.points.GetAt(i)->x, b.points.GetAt(i)->x, 1e-9, "x", i);
            ExpectRelativelyNear(a.points.GetAt(i)->y, b.points.GetAt(i)->y, 1e-9, "y", i);
            ExpectRelativelyNear(a.points.GetAt(i)->z, b.points.GetAt(i)->z, 1e-9, "z", i);
        }
    }
}

} // namespace bundle_recycled_blocks_test
