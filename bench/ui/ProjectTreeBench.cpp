// The project tree's full rebuild and its icon refresh for projects of 100
// and 1,000 images under 4 cameras with 100 point sets. Run under xvfb-run.
#include "KestrelonDoc.h"
#include "KestrelonView.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

namespace {

struct TreeProject {
    explicit TreeProject(int imageCount)
    {
        doc.m_bAutoDelete = false;
        for (int c = 0; c < 4; ++c)
            doc.cameras.AddNew()->identifier = ("Camera" + std::to_string(c)).c_str();
        for (int i = 0; i < imageCount; ++i) {
            CProjectImage* image = doc.images.AddNew();
            image->name = ("IMG" + std::to_string(10000 + i)).c_str();
            image->cameraName = ("Camera" + std::to_string(i % 4)).c_str();
            image->enabled = i % 7 != 0;
            image->oriented = i % 3 != 0;
            image->qualitySet = i % 5 != 0;
            image->highQuality = i % 2 == 0;
        }
        for (int s = 0; s < 100; ++s) {
            CPointSet* set = doc.pointSets.AddNew();
            set->SetName(("/project/Set" + std::to_string(s) + ".xyz").c_str());
        }
        doc.SetTitle(QStringLiteral("Bench.kst"));
        tree = std::make_unique<CKestrelonView>();
        doc.AddView(tree.get());
        tree->OnInitialUpdate();
    }
    ~TreeProject() { doc.RemoveView(tree.get()); }

    CKestrelonDoc doc;
    std::unique_ptr<CKestrelonView> tree;
};

void FullRebuild(benchmark::State& state)
{
    TreeProject project(int(state.range(0)));
    for (auto _ : state)
        project.tree->OnUpdate(nullptr, 0);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(FullRebuild)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

void RefreshImageBranches(benchmark::State& state)
{
    TreeProject project(int(state.range(0)));
    bool flip = false;
    for (auto _ : state) {
        // Every image changes its state, so that every icon is set again.
        flip = !flip;
        for (int i = 0; i < project.doc.images.GetSize(); ++i)
            project.doc.images.GetAt(i)->enabled = flip;
        project.tree->RefreshImageBranches();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(RefreshImageBranches)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
