// The image window on a project with a camera and two rendered pictures:
// opening, measuring by click and what the view draws.
#include "ProjectBuilder.h"
#include "ShellFixture.h"

#include "Camera.h"
#include "ImageView.h"
#include "KestrelonDoc.h"
#include "ProjectImage.h"
#include "TargetRenderer.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QTest>

#include <string>

namespace {

// Dark targets on a light background, as the centroid settings expect.
constexpr double kTruth[2][2] = {{60.3, 50.6}, {140.8, 95.2}};

class ImageViewFixture : public ShellFixture {
protected:
    void OpenProject(bool secondFileMissing = false)
    {
        ASSERT_TRUE(Start());
        app->OnFileNew();
        Settle();
        doc = GetActiveKestrelonDoc();
        ASSERT_NE(doc, nullptr);
        TargetScene scene;
        scene.width = 200;
        scene.height = 150;
        scene.background = 220.0;
        scene.blurSigma = 0.7;
        scene.noiseSigma = 1.0;
        for (const auto& t : kTruth) {
            RenderedTarget target;
            target.x = t[0];
            target.y = t[1];
            target.semiAxisA = target.semiAxisB = 5.0;
            target.amplitude = -180.0;
            scene.targets.push_back(target);
        }
        camera = AddCamera(*doc, "Cam");
        camera->XPixels = scene.width;
        camera->YPixels = scene.height;
        camera->XPixelSize = 0.01;
        camera->YPixelSize = 0.01;
        const char* names[2] = {"first.bmp", "second.tif"};
        for (int k = 0; k < 2; ++k) {
            const std::string path = scratch.filePath(names[k]).toStdString();
            if (k == 0 || !secondFileMissing) {
                ASSERT_TRUE(WritePicture(path, RenderScene(scene)));
            }
            CProjectImage* image = AddImage(*doc, {"Cam", true, false, 0});
            image->SetFilePath(path.c_str());
            images[k] = image;
        }
    }

    CImageView* Open(int k)
    {
        CImageView* view = OpenImageWindow(doc, images[k]);
        if (view) {
            view->GetParentFrame()->showNormal();
            view->GetParentFrame()->resize(460, 380);
            Settle();
        }
        return view;
    }

    // The client point over an image pixel position.
    static QPoint ClientPoint(const CImageView* view, double column, double row)
    {
        const QSize size = view->viewport()->size();
        return QPoint(int(column / 200.0 * size.width()), int(row / 150.0 * size.height()));
    }

    // Pixels of that colour in the rectangle of the grab.
    static int CountColour(const QImage& grab, const QRect& rect, const QColor& colour)
    {
        int n = 0;
        for (int y = rect.top(); y <= rect.bottom(); ++y)
            for (int x = rect.left(); x <= rect.right(); ++x)
                n += grab.rect().contains(x, y) && grab.pixelColor(x, y) == colour;
        return n;
    }

    CKestrelonDoc* doc = nullptr;
    CCamera* camera = nullptr;
    CProjectImage* images[2] = {};
};

TEST_F(ImageViewFixture, OpeningShowsTheImageItsPositionAndTheDialogBar)
{
    OpenProject();
    CImageView* view = Open(0);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->GetParentFrame()->windowTitle(), QStringLiteral("Image1"));
    EXPECT_EQ(Frame()->GetPaneText(4), QStringLiteral("Image 1 of 2"));
    EXPECT_EQ(Frame()->GetToolBar()->m_PointLabel->text(), QStringLiteral("1"));
    EXPECT_EQ(Frame()->GetToolBar()->m_PointIncrement->text(), QStringLiteral("1"));
    EXPECT_EQ(Frame()->GetToolBar()->m_CentroidWindow->text(), QStringLiteral("64"));
    EXPECT_EQ(GetActiveImageView(), view);
}

TEST_F(ImageViewFixture, AutoClickCentroidsTheTargetAndManualClickKeepsThePoint)
{
    OpenProject();
    CImageView* view = Open(0);
    ASSERT_NE(view, nullptr);
    ASSERT_NE(view->GetHandle(), nullptr);

    // Auto: a click a little off the centre finds the centre.
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, ClientPoint(view, kTruth[0][0] + 1.5, kTruth[0][1] - 1.0));
    Settle();
    const CImageObservation* o = images[0]->targets.Find(CNameBuffer("1"));
    ASSERT_NE(o, nullptr);
    EXPECT_TRUE(o->measured);
    double column = 0.0, row = 0.0;
    camera->ImageToPixel(o->x, o->y, column, row);
    EXPECT_NEAR(column, kTruth[0][0], 0.05);
    EXPECT_NEAR(row, kTruth[0][1], 0.05);
    EXPECT_STREQ(view->GetLabel().GetText(), "2");
    EXPECT_EQ(Frame()->GetToolBar()->m_PointLabel->text(), QStringLiteral("2"));
    EXPECT_EQ(view->GetOwnList().GetSize(), 1);

    // The mark stands in the centroid colour where the view maps the observation.
    const QImage grab = view->viewport()->grab().toImage();
    grab.save(TestOutputFolder() + QStringLiteral("/ImageViewAutoClick.png"));
    const QPoint mark = view->ImageToDevice(o->x, o->y, view->viewport()->rect());
    const int32_t c = doc->GetCentroidColor();
    const QColor centroidColour(c & 0xff, (c >> 8) & 0xff, (c >> 16) & 0xff);
    EXPECT_EQ(grab.pixelColor(mark), centroidColour);
    // Its label stands to the lower right of the mark.
    EXPECT_GT(CountColour(grab, QRect(mark + QPoint(1, 1), QSize(24, 40)), centroidColour), 0);

    // Manual: the clicked position itself, to within one client pixel.
    view->autoMode = false;
    const QPoint click = ClientPoint(view, kTruth[1][0] + 3.0, kTruth[1][1] + 2.0);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, click);
    Settle();
    const CImageObservation* manual = images[0]->targets.Find(CNameBuffer("2"));
    ASSERT_NE(manual, nullptr);
    EXPECT_FALSE(manual->measured);
    camera->ImageToPixel(manual->x, manual->y, column, row);
    const double step = 200.0 / view->viewport()->width();
    EXPECT_NEAR(column, click.x() * step, 1.5 * step);
    EXPECT_NEAR(row, click.y() * 150.0 / view->viewport()->height(), 1.5 * step);
    EXPECT_STREQ(view->GetLabel().GetText(), "3");
    EXPECT_TRUE(TakeMessages().empty());
}

} // namespace
