// Every phase on its CWorkerThread, stopped at random moments: the watcher
// always sees the done flag, and the lists end sorted.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>

#include "CorrespondenceJob.h"
#include "CorrespondenceNetwork.h"
#include "ImageObservation.h"
#include "ObjectPoint.h"
#include "ProjectImage.h"
#include "WorkerThread.h"

namespace {

using Worker = CCorrespondenceWorker;

enum class Phase { Linking, BackProjection, Merging, MergingThenRemoval };

struct Scene {
    CCorrespondenceNetwork net;
    CPointSet points;

    explicit Scene(Phase phase) : net(Options())
    {
        if (phase == Phase::Linking)
            return;
        // Known points for back-projection; for the post-processing, each
        // point split in two halves that merge again.
        if (phase == Phase::BackProjection) {
            points = net.truth;
            net.LabelFromTruth(0, 1);
            return;
        }
        net.LabelFromTruth(0, net.imagePtrs.GetSize() - 1);
        const int n = net.truth.GetSize();
        for (int i = 0; i < n; ++i) {
            const CObjectPoint* t = net.truth.GetAt(i);
            char a[16], b[16];
            std::snprintf(a, sizeof a, "A%d", i);
            std::snprintf(b, sizeof b, "A%d", i + n);
            points.AddCopy(CObjectPoint(a, t->x, t->y, t->z));
            points.AddCopy(CObjectPoint(b, t->x, t->y, t->z));
            for (int k = 0; k < net.imagePtrs.GetSize(); ++k)
                if (CImageObservation* o = net.imagePtrs.GetAt(k)->targets.Find(t->label))
                    o->label = CNameBuffer(k < 2 ? a : b);
        }
        for (int k = 0; k < net.imagePtrs.GetSize(); ++k)
            net.imagePtrs.GetAt(k)->targets.SortByLabel();
        for (int i = 0; i < points.GetSize(); ++i)
            net.IndexRays(*points.GetAt(i));
    }

    static NetworkOptions Options()
    {
        NetworkOptions o;
        o.images = 5;
        o.points = 150;
        o.seed = 11;
        return o;
    }
};

std::unique_ptr<CWorkerThread> Start(Worker& worker, Phase phase)
{
    switch (phase) {
    case Phase::Linking:
        return worker.StartFindCorrespondingPointsThread();
    case Phase::BackProjection:
        return worker.StartBackProjectionThread();
    case Phase::Merging:
        return worker.StartMergePointsThread();
    case Phase::MergingThenRemoval:
        break;
    }
    return nullptr;
}

// Polls as a dialog's timer would, asking for the stop once the delay has
// passed; false when the done flag never comes.
bool WaitStopping(CJobProgress& progress, std::chrono::microseconds delay)
{
    const auto start = std::chrono::steady_clock::now();
    bool asked = false;
    while (!progress.IsDone()) {
        const auto now = std::chrono::steady_clock::now();
        if (!asked && now - start >= delay) {
            progress.RequestStop();
            asked = true;
        }
        if (now - start > std::chrono::seconds(120))
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    return true;
}

} // namespace

TEST(CorrespondenceThreads, StopsAtRandomMomentsEndEveryPhase)
{
    struct Case {
        const char* name;
        Phase phase;
        bool relabelsAll; // ends with the unassigned targets renumbered
    };
    const Case cases[] = {
        {"linking", Phase::Linking, true},
        {"back-projection", Phase::BackProjection, false},
        {"merging", Phase::Merging, false},
        {"merging, then two-ray removal", Phase::MergingThenRemoval, true},
    };
    std::mt19937 random(5);
    std::uniform_int_distribution<int> delay(0, 3000);
    for (const Case& c : cases) {
        for (int run = 0; run < 6; ++run) {
            SCOPED_TRACE(c.name);
            // Run 0 asks for the stop before the thread starts: the phase
            // must end at its first check, having changed nothing.
            const std::chrono::microseconds wait(run == 0 ? 0 : delay(random));
            SCOPED_TRACE(wait.count());
            Scene scene(c.phase);
            const int pointsBefore = scene.points.GetSize();
            Worker worker(&scene.net.imagePtrs, &scene.net.cameras, &scene.points, CNameBuffer("A"), 1e-3);
            if (run == 0)
                worker.GetProgress().RequestStop();
            if (c.phase == Phase::MergingThenRemoval) {
                auto merge = worker.StartMergePointsThread(false);
                ASSERT_NE(merge, nullptr);
                ASSERT_TRUE(WaitStopping(worker.GetProgress(), wait));
                merge->Join();
                if (run > 0)
                    worker.GetProgress().Reset();
                auto removal = worker.StartRemoveTwoRayPointsThread();
                ASSERT_NE(removal, nullptr);
                ASSERT_TRUE(WaitStopping(worker.GetProgress(), wait));
                removal->Join();
                EXPECT_EQ(removal->GetExitCode(), 0u);
                EXPECT_EQ(CountStrayLabels(scene.net.imagePtrs, scene.points), 0);
            } else {
                auto thread = Start(worker, c.phase);
                ASSERT_NE(thread, nullptr);
                ASSERT_TRUE(WaitStopping(worker.GetProgress(), wait));
                thread->Join();
                EXPECT_EQ(thread->GetExitCode(), 0u);
            }
            EXPECT_EQ(worker.GetProgress().GetState(), CJobProgress::kDone);
            if (run == 0) {
                EXPECT_EQ(scene.points.GetSize(), pointsBefore);
                EXPECT_EQ(worker.GetProgress().GetBackProjected(), 0);
            }
            EXPECT_TRUE(c.relabelsAll ? ListsSortedAndNumbered(scene.net.imagePtrs)
                                      : ListsSorted(scene.net.imagePtrs));
        }
    }
}
