// One repaint of the image view: a 20-megapixel picture in a 1600 x 1000
// client with 1,000 marks, at shrink to fit and at zoom 4, with the picture
// redrawn from its pixels (cold) and from the kept visible part (warm).
// Run under xvfb-run.
#include "Camera.h"
#include "ImageView.h"
#include "KestrelonDoc.h"
#include "ProjectImage.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 5472;
constexpr int kHeight = 3648;

void Put32(std::vector<uint8_t>& b, std::size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = uint8_t(v >> (8 * i));
}

// An 8-bit grey BMP with a gradient and a dot pattern.
std::string WritePicture()
{
    const std::string path = QDir::tempPath().toStdString() + "/kestrelon-bench-view.bmp";
    const uint32_t stride = (kWidth + 3) & ~3u;
    const uint32_t offset = 14 + 40 + 1024;
    std::vector<uint8_t> b(offset + std::size_t(stride) * kHeight, 0);
    b[0] = 'B', b[1] = 'M';
    Put32(b, 2, uint32_t(b.size()));
    Put32(b, 10, offset);
    Put32(b, 14, 40);
    Put32(b, 18, kWidth);
    Put32(b, 22, kHeight);
    b[26] = 1, b[28] = 8;
    for (int i = 0; i < 256; ++i)
        b[54 + 4 * i] = b[55 + 4 * i] = b[56 + 4 * i] = uint8_t(i);
    for (int r = 0; r < kHeight; ++r)
        for (int c = 0; c < kWidth; ++c)
            b[offset + std::size_t(r) * stride + c] = uint8_t((c + r) / 40 + ((c % 50 < 8 && r % 50 < 8) ? 120 : 0));
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(b.data(), 1, b.size(), f);
        std::fclose(f);
    }
    return path;
}

struct ViewProject {
    ViewProject()
    {
        doc.m_bAutoDelete = false;
        camera = doc.cameras.AddNew();
        camera->identifier = "Camera";
        camera->XPixels = kWidth;
        camera->YPixels = kHeight;
        camera->XPixelSize = camera->YPixelSize = 0.0043;
        image = doc.images.AddNew();
        image->name = "IMG1";
        image->cameraName = "Camera";
        image->SetFilePath(WritePicture().c_str());
        for (int k = 0; k < 1000; ++k) {
            double x = 0.0, y = 0.0;
            camera->PixelToImage(100.0 + (k % 40) * 130.0, 100.0 + (k / 40) * 135.0, x, y);
            CImageObservation o(CNameBuffer(("P" + std::to_string(k + 1)).c_str()), x, y);
            o.measured = k % 2 == 0;
            image->targets.AddSorted(o);
        }
        doc.AddView(&view);
        view.OnInitialUpdate();
        view.SetImage(image);
    }
    ~ViewProject() { doc.RemoveView(&view); }
    CKestrelonDoc doc;
    CCamera* camera = nullptr;
    CProjectImage* image = nullptr;
    CImageView view;
};

void Repaint(benchmark::State& state)
{
    const bool zoomed = state.range(0) != 0;
    const bool cold = state.range(1) != 0;
    ViewProject project;
    if (!project.view.GetHandle()) {
        state.SkipWithError("picture not loaded");
        return;
    }
    const QRect client(0, 0, 1600, 1000);
    if (zoomed)
        for (int i = 0; i < 3; ++i)
            project.view.GetHandle()->ZoomAt({800, 500}, {0, 0, 1600, 1000}, true);
    QImage target(client.size(), QImage::Format_RGB32);
    for (auto _ : state) {
        if (cold)
            project.view.GetHandle()->Enhance(1.0); // a new colour table: the picture is drawn again
        QPainter painter(&target);
        project.view.OnDraw(painter, client, 1.0, false);
    }
    state.counters["zoom"] = project.view.GetHandle()->GetPicture()->GetZoom();
}
BENCHMARK(Repaint)->ArgsProduct({{0, 1}, {1, 0}})->ArgNames({"zoomed", "cold"})->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
