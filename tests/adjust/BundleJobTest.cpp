// The bundle job on its worker thread: a run polled to its end, an abort,
// a failed preparation and a job destroyed while it runs. Every run ends
// with the done flag set.
#include <gtest/gtest.h>

#include <string>

#include "BundleJob.h"
#include "BundleNetwork.h"
#include "Clock.h"

using namespace bundletest;

namespace {

std::unique_ptr<CBundleJob> MakeJob(Network& net, CPointSet* control = nullptr)
{
    return std::unique_ptr<CBundleJob>(new CBundleJob(&net.images, &net.points, control, &net.cameras,
                                                      &net.scaleBars, &net.settings, &net.summary));
}

// Polls the job as the run dialog does, reading every progress field.
int PollToEnd(CBundleJob& job)
{
    int polls = 0;
    CAdjustmentProgress& p = job.GetProgress();
    while (job.GetExitCode() == STILL_ACTIVE) {
        const int phase = p.phase.load();
        EXPECT_GE(phase, -1);
        EXPECT_LE(phase, 12);
        const CNameBuffer label = p.GetPointLabel();
        EXPECT_LE(std::string(label.GetText()).size(), 16u);
        (void)p.iteration.load();
        (void)p.residualRmsMicrons.load();
        (void)p.sigma0.load();
        (void)p.pointNumber.load();
        ++polls;
        Sleep(1);
    }
    return polls;
}

} // namespace

TEST(BundleJob, RunsOnItsThreadAndSetsDone)
{
    Network net;
    NetworkOptions o;
    o.noise = 0.001;
    BuildRing(net, 8, 60, o);
    auto job = MakeJob(net);
    job->GetProgress().Reset();
    ASSERT_TRUE(job->StartThread());
    PollToEnd(*job);
    EXPECT_EQ(job->GetExitCode(), 0u);
    EXPECT_TRUE(job->GetProgress().IsDone());
    EXPECT_EQ(net.summary.status, 1) << job->GetEngine().GetFailureReason();
    EXPECT_GT(job->GetProgress().iteration.load(), 1);
    // A free network without rigorous scaling ends with the post-bundle scaling.
    EXPECT_EQ(job->GetProgress().phase.load(), PHASE_POST_BUNDLE_SCALING);
    EXPECT_EQ(job->GetProgress().imageCount.load(), 8);
    EXPECT_EQ(job->GetProgress().pointCount.load(), 60);
    EXPECT_STREQ(job->GetProgress().GetPointLabel().GetText(), net.points.GetAt(59)->label.GetText());

    // The same job runs again on the same engine.
    job->GetProgress().Reset();
    ASSERT_TRUE(job->StartThread());
    PollToEnd(*job);
    EXPECT_TRUE(job->GetProgress().IsDone());
    EXPECT_EQ(net.summary.status, 1);
}

TEST(BundleJob, AbortEndsTheRunWithStatusZero)
{
    Network net;
    NetworkOptions o;
    o.noise = 0.001;
    BuildBlock(net, 30, 600, o);
    net.settings.convergenceLimit = -1.0; // never converges
    net.settings.maxIterations = 100000;
    const double limit = net.settings.rejectionLimit;
    auto job = MakeJob(net);
    job->GetProgress().Reset();
    ASSERT_TRUE(job->StartThread());
    while (job->GetExitCode() == STILL_ACTIVE && job->GetProgress().iteration.load() < 2)
        Sleep(1);
    job->GetProgress().RequestAbort();
    PollToEnd(*job);
    EXPECT_TRUE(job->GetProgress().IsDone());
    EXPECT_EQ(net.summary.status, 0);
    EXPECT_LT(job->GetProgress().iteration.load(), 100000);
    EXPECT_EQ(net.settings.rejectionLimit, limit);

    // An abort requested before the run starts: no iteration at all.
    job->GetProgress().Reset();
    job->GetProgress().RequestAbort();
    ASSERT_TRUE(job->StartThread());
    PollToEnd(*job);
    EXPECT_TRUE(job->GetProgress().IsDone());
    EXPECT_EQ(net.summary.status, 0);
    EXPECT_EQ(job->GetProgress().iteration.load(), 0);
}

TEST(BundleJob, FailedPreparationStillSetsDone)
{
    Network net;
    BuildRing(net, 6, 20, NetworkOptions());
    net.images.GetAt(0)->SetCameraName("MISSING");
    auto job = MakeJob(net);
    job->GetProgress().Reset();
    ASSERT_TRUE(job->StartThread());
    PollToEnd(*job);
    EXPECT_TRUE(job->GetProgress().IsDone());
    EXPECT_EQ(net.summary.status, 2);
    EXPECT_NE(job->GetEngine().GetFailureReason().find("MISSING"), std::string::npos);
}

TEST(BundleJob, DestroyingARunningJobStopsAndJoinsIt)
{
    Network net;
    BuildBlock(net, 30, 600, NetworkOptions());
    net.settings.convergenceLimit = -1.0;
    net.settings.maxIterations = 100000;
    {
        auto job = MakeJob(net);
        job->GetProgress().Reset();
        ASSERT_TRUE(job->StartThread());
        while (job->GetExitCode() == STILL_ACTIVE && job->GetProgress().phase.load() < PHASE_FORMING_NORMALS)
            Sleep(1);
    }
    // The thread is gone; the data it wrote can be read safely.
    EXPECT_EQ(net.summary.status, 0);
    EXPECT_GT(net.points.GetSize(), 0);
}
