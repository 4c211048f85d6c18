// A refresh with column sizing of the images list (1,000 images) and the
// observations list (10,000 observations). Run under xvfb-run.
#include "KestrelonDoc.h"
#include "ListViews.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <string>

namespace {

struct ListProject {
    ListProject()
    {
        doc.m_bAutoDelete = false;
        camera = doc.cameras.AddNew();
        camera->identifier = "Camera";
        for (int i = 0; i < 1000; ++i) {
            CProjectImage* image = doc.images.AddNew();
            image->name = ("IMG" + std::to_string(10000 + i)).c_str();
            image->cameraName = "Camera";
            image->SetFilePath(("/project/images/IMG" + std::to_string(10000 + i) + ".tif").c_str());
            image->SetPose(0.5 * i, -0.25 * i, 1000.0 + i, 0.001 * i, -0.3, 0.002 * i);
        }
        CProjectImage* image = doc.images.GetAt(0);
        for (int k = 0; k < 10000; ++k) {
            CImageObservation o(CNameBuffer(("P" + std::to_string(k + 1)).c_str()), 0.001 * k, -0.002 * k);
            o.vx = 1e-6 * k;
            o.disabled = k % 10 == 0;
            image->targets.AddSorted(o);
        }
    }
    CKestrelonDoc doc;
    CCamera* camera = nullptr;
};

template <class View>
void Refresh(benchmark::State& state, View& view, ListProject& project)
{
    project.doc.AddView(&view);
    for (auto _ : state)
        view.OnUpdate(nullptr, 0);
    state.SetItemsProcessed(state.iterations() * view.RowCount());
    project.doc.RemoveView(&view);
}

void ImagesList(benchmark::State& state)
{
    ListProject project;
    CProjectImagesListView view;
    view.SetCamera(project.camera);
    Refresh(state, view, project);
}
BENCHMARK(ImagesList)->Unit(benchmark::kMillisecond);

void ObservationsList(benchmark::State& state)
{
    ListProject project;
    CObservationsListView view;
    view.SetImageName(QStringLiteral("IMG10000"));
    Refresh(state, view, project);
}
BENCHMARK(ObservationsList)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
