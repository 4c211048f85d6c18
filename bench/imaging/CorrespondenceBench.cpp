// The correspondence phases on synthetic networks: linking on 20 images of
// 1,000 targets each, back-projection of 1,000 points into 10 images
// (indexed nearest-target search inside the phase, and the plain linear
// search of a drive-back called outside a phase, for comparison), merging
// and two-ray removal on 5,000 new points. Each time is one whole phase; the
// counter load1 is the machine's one-minute load average when it ended.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>

#include "CorrespondenceJob.h"
#include "CorrespondenceNetwork.h"
#include "ImageObservation.h"
#include "ObjectPoint.h"
#include "ProjectImage.h"

namespace {

double LoadAverage()
{
    double load = -1.0;
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &load) != 1)
            load = -1.0;
        std::fclose(f);
    }
    return load;
}

NetworkOptions Network(int images, int points)
{
    NetworkOptions o;
    o.images = images;
    o.points = points;
    o.seed = 2;
    return o;
}

void BM_Linking(benchmark::State& state)
{
    int linked = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto net = std::make_unique<CCorrespondenceNetwork>(Network(20, 1000));
        CPointSet points;
        CCorrespondenceJob job(&net->imagePtrs, &net->cameras, &points, CCorrespondenceJob::kDefaultEpipolarTolerance,
                               CCorrespondenceJob::kDefaultMinimumAngle, CCorrespondenceJob::kDefaultDriveBackTolerance,
                               true, false, CNameBuffer("A"), nullptr, 0.0);
        state.ResumeTiming();
        job.FindCorrespondingPoints();
        state.PauseTiming();
        linked = job.GetProgress().GetLinked();
        benchmark::DoNotOptimize(points.GetSize());
        net.reset();
        state.ResumeTiming();
    }
    state.counters["linked"] = linked;
    state.counters["load1"] = LoadAverage();
}
BENCHMARK(BM_Linking)->Unit(benchmark::kMillisecond)->Iterations(3);

// Images 0 .. 9 hold the points' labels, images 10 .. 19 are searched.
void BM_BackProjection(benchmark::State& state)
{
    const bool indexed = state.range(0) != 0;
    int labelled = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto net = std::make_unique<CCorrespondenceNetwork>(Network(20, 1000));
        net->LabelFromTruth(0, 9);
        CPointSet points(net->truth);
        CCorrespondenceJob job(&net->imagePtrs, &net->cameras, &points, CNameBuffer("A"), 0.0);
        CImagePtrArray searched;
        for (int k = 10; k < 20; ++k)
            searched.Add(net->imagePtrs.GetAt(k));
        state.ResumeTiming();
        if (indexed) {
            labelled = job.BackProject();
        } else {
            labelled = 0;
            for (int i = 0; i < points.GetSize(); ++i)
                labelled += job.DriveBackPoint(*points.GetAt(i), searched);
        }
        state.PauseTiming();
        net.reset();
        state.ResumeTiming();
    }
    state.counters["labelled"] = labelled;
    state.counters["load1"] = LoadAverage();
}
BENCHMARK(BM_BackProjection)->Arg(1)->Arg(0)->ArgName("indexed")->Unit(benchmark::kMillisecond)->Iterations(3);

// 2,500 truth points in 5 images, each split into two new points (images
// 0 and 1, images 2 to 4) that merge again; the merged points keep the two
// rays of their first half and are removed by the two-ray removal.
struct SplitScene {
    std::unique_ptr<CCorrespondenceNetwork> net;
    CPointSet points;

    SplitScene() : net(std::make_unique<CCorrespondenceNetwork>(Network(5, 2500)))
    {
        net->LabelFromTruth(0, 4);
        const int n = net->truth.GetSize();
        for (int i = 0; i < n; ++i) {
            const CObjectPoint* t = net->truth.GetAt(i);
            char a[16], b[16];
            std::snprintf(a, sizeof a, "A%d", i);
            std::snprintf(b, sizeof b, "A%d", i + n);
            points.AddCopy(CObjectPoint(a, t->x, t->y, t->z));
            points.AddCopy(CObjectPoint(b, t->x, t->y, t->z));
            for (int k = 0; k < 5; ++k)
                if (CImageObservation* o = net->imagePtrs.GetAt(k)->targets.Find(t->label))
                    o->label = CNameBuffer(k < 2 ? a : b);
        }
        for (int k = 0; k < 5; ++k)
            net->imagePtrs.GetAt(k)->targets.SortByLabel();
        for (int i = 0; i < points.GetSize(); ++i)
            net->IndexRays(*points.GetAt(i));
    }
};

void BM_Merging(benchmark::State& state)
{
    int merged = 0;
    for (auto _ : state) {
        state.PauseTiming();
        SplitScene scene;
        CCorrespondenceJob job(&scene.net->imagePtrs, &scene.net->cameras, &scene.points, CNameBuffer("A"), 1e-3);
        state.ResumeTiming();
        job.MergeIdenticalPoints();
        state.PauseTiming();
        merged = job.GetProgress().GetMerged();
        state.ResumeTiming();
    }
    state.counters["merged"] = merged;
    state.counters["load1"] = LoadAverage();
}
BENCHMARK(BM_Merging)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_TwoRayRemoval(benchmark::State& state)
{
    int removed = 0;
    for (auto _ : state) {
        state.PauseTiming();
        SplitScene scene;
        CCorrespondenceJob job(&scene.net->imagePtrs, &scene.net->cameras, &scene.points, CNameBuffer("A"), 1e-3);
        job.MergeIdenticalPoints(false);
        state.ResumeTiming();
        job.RemoveTwoRayPoints();
        state.PauseTiming();
        removed = job.GetProgress().GetRemoved();
        state.ResumeTiming();
    }
    state.counters["removed"] = removed;
    state.counters["load1"] = LoadAverage();
}
BENCHMARK(BM_TwoRayRemoval)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
