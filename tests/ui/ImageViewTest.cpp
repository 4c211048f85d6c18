// The image window on a project with a camera and two rendered pictures:
// opening, measuring by click and what the view draws.
#include "ProjectBuilder.h"
#include "ShellFixture.h"

#include "Camera.h"
#include "ImageView.h"
#include "KestrelonDoc.h"
#include "KestrelonView.h"
#include "ListViews.h"
#include "Frames.h"
#include "ProjectImage.h"
#include "TargetRenderer.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QMdiSubWindow>
#include <QFile>
#include <QPrinter>
#include <QProcess>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>

#include <memory>
#include <set>
#include <string>

namespace {

// Dark targets on a light background, as the centroid settings expect.
constexpr double kTruth[2][2] = {{60.3, 50.6}, {140.8, 95.2}};

class ImageViewFixture : public ShellFixture {
protected:
    void OpenProject(bool secondFileMissing = false)
    {
        ASSERT_NO_FATAL_FAILURE(NewProject());
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

    // An observation at a picture position.
    CImageObservation* Observe(CObservationList& list, const char* label, double column, double row)
    {
        double x = 0.0, y = 0.0;
        camera->PixelToImage(column, row, x, y);
        list.AddSorted(CImageObservation(CNameBuffer(label), x, y));
        return list.Find(CNameBuffer(label));
    }

    static QColor Colour(int32_t c) { return QColor(c & 0xff, (c >> 8) & 0xff, (c >> 16) & 0xff); }

    // Leftmost column of the colour in the label box of a mark, or -1.
    static int LabelStart(const QImage& grab, QPoint mark, const QColor& colour)
    {
        for (int x = mark.x() + 3; x < mark.x() + 80; ++x)
            for (int y = mark.y() + 3; y < mark.y() + 40; ++y)
                if (grab.rect().contains(x, y) && grab.pixelColor(x, y) == colour)
                    return x - mark.x();
        return -1;
    }

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

TEST_F(ImageViewFixture, TheImagesListOpensAnImageWindow)
{
    OpenProject();
    doc->UpdateAllViews(nullptr);
    Settle();
    CKestrelonView* tree = Frame()->GetProjectTreeView();
    ASSERT_NE(tree, nullptr);
    QTreeWidgetItem* cameraItem = nullptr;
    for (int i = 0; i < tree->ProjectRoot()->childCount(); ++i)
        if (tree->ProjectRoot()->child(i)->text(0) == QStringLiteral("Cam"))
            cameraItem = tree->ProjectRoot()->child(i);
    ASSERT_NE(cameraItem, nullptr);
    tree->OnClickItem(cameraItem);
    Settle();
    auto* list = dynamic_cast<CProjectImagesListView*>(Frame()->GetProjectFrame()->GetRightPane());
    ASSERT_NE(list, nullptr);
    list->OpenImage(1);
    Settle();
    CImageView* view = GetActiveImageView();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->GetImageRecord(), images[1]);
    EXPECT_EQ(Frame()->GetPaneText(4), QStringLiteral("Image 2 of 2"));
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

TEST_F(ImageViewFixture, DrawingRules)
{
    OpenProject(true);
    doc->residualVectorColour = MakeColour(255, 0, 255);
    const QColor red(255, 0, 0);
    const QColor centroid = Colour(doc->GetCentroidColor());
    const QColor manual = Colour(doc->GetManualColor());
    const QColor fiducial = Colour(doc->GetFiducialColor());
    const QColor residual = Colour(doc->GetResidualVectorColor());
    ASSERT_EQ((std::set<QRgb>{red.rgb(), centroid.rgb(), manual.rgb(), fiducial.rgb(), residual.rgb()}.size()), 5u);
    for (int k = 0; k < 2; ++k) {
        Observe(images[k]->targets, "-1", 30.0, 30.0);
        Observe(images[k]->targets, "7", 100.0, 30.0)->measured = true;
        CImageObservation* moved = Observe(images[k]->targets, "8", 30.0, 110.0);
        moved->vx = 0.002, moved->vy = -0.001; // 1 and 0.5 mm at scale 500
        Observe(images[k]->fiducials, "3", 150.0, 110.0);
    }
    struct Row {
        const char* label;
        bool fiducialList;
        QColor colour;
        int labelFrom, labelTo; // where the label starts right of the mark; -1: none
    };
    // A fiducial's label starts one character further right (" F3").
    const Row rows[] = {{"-1", false, red, -1, -1},
                        {"7", false, centroid, 1, 8},
                        {"8", false, manual, 1, 8},
                        {"3", true, fiducial, 12, 40}};
    CImageView* view = Open(0);
    ASSERT_NE(view, nullptr);
    QImage grab = view->viewport()->grab().toImage();
    grab.save(TestOutputFolder() + QStringLiteral("/ImageViewMarks.png"));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        const CObservationList& list = row.fiducialList ? images[0]->fiducials : images[0]->targets;
        const CImageObservation* o = list.Find(CNameBuffer(row.label));
        const QPoint mark = view->ImageToDevice(o->x, o->y, view->viewport()->rect());
        EXPECT_EQ(grab.pixelColor(mark), row.colour);
        const int start = LabelStart(grab, mark, row.colour);
        if (row.labelFrom < 0) {
            EXPECT_EQ(start, -1);
        } else {
            EXPECT_GE(start, row.labelFrom);
            EXPECT_LE(start, row.labelTo);
        }
    }

    // Residual view: blobs without labels, a vector only where there is a residual.
    view->residualView = true;
    view->Redraw();
    grab = view->viewport()->grab().toImage();
    const QRect client = view->viewport()->rect();
    const CImageObservation* moved = images[0]->targets.Find(CNameBuffer("8"));
    const QPoint from = view->ImageToDevice(moved->x, moved->y, client);
    const QPoint to = view->ImageToDevice(moved->x + 500 * moved->vx, moved->y + 500 * moved->vy, client);
    EXPECT_EQ(grab.pixelColor((from + to) / 2), residual);
    const CImageObservation* still = images[0]->targets.Find(CNameBuffer("7"));
    const QPoint at = view->ImageToDevice(still->x, still->y, client);
    EXPECT_EQ(CountColour(grab, QRect(at - QPoint(30, 30), QSize(61, 61)), residual), 0);
    EXPECT_EQ(LabelStart(grab, at, centroid), -1);
    // A blob reaches 2 pixels from the centre, a cross would reach 7.
    EXPECT_EQ(grab.pixelColor(at + QPoint(2, 0)), centroid);
    EXPECT_NE(grab.pixelColor(at + QPoint(6, 0)), centroid);

    // While a job runs the marks are left out; they come back when it ends.
    view->residualView = false;
    doc->BeginJob();
    view->Redraw();
    grab = view->viewport()->grab().toImage();
    EXPECT_EQ(CountColour(grab, grab.rect(), centroid), 0);
    doc->EndJob();
    QTest::qWait(500);
    grab = view->viewport()->grab().toImage();
    EXPECT_GT(CountColour(grab, grab.rect(), centroid), 0);

    // A missing picture: the dark coordinate page with a cross per observation.
    CImageView* page = Open(1);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->GetHandle(), nullptr);
    grab = page->viewport()->grab().toImage();
    grab.save(TestOutputFolder() + QStringLiteral("/ImageViewCoordinatePage.png"));
    EXPECT_EQ(grab.pixelColor(1, 1), QColor(30, 30, 30));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        const CObservationList& list = row.fiducialList ? images[1]->fiducials : images[1]->targets;
        const CImageObservation* o = list.Find(CNameBuffer(row.label));
        const QPoint mark = page->ImageToDevice(o->x, o->y, page->viewport()->rect());
        EXPECT_EQ(grab.pixelColor(mark + QPoint(3, 0)), row.colour);
        EXPECT_EQ(grab.pixelColor(mark + QPoint(0, -3)), row.colour);
        EXPECT_GT(LabelStart(grab, mark, row.colour), 0);
    }
    EXPECT_EQ(Frame()->GetPaneText(4), QString());
}

TEST_F(ImageViewFixture, ModesZoomGainAndTyping)
{
    OpenProject();
    CImageView* view = Open(0);
    ASSERT_NE(view, nullptr);
    // Each mode command sets exactly its mode; the update handlers check it alone.
    const struct {
        int id;
        CImageView::Mode mode;
    } modes[] = {{32795, CImageView::MODE_ZOOM_IN}, {32796, CImageView::MODE_ZOOM_OUT},
                 {32790, CImageView::MODE_DIGITIZE}};
    for (const auto& m : modes) {
        Frame()->OnCommandId(m.id);
        EXPECT_EQ(view->GetMode(), m.mode);
        for (const auto& other : modes) {
            CCmdUI ui(other.id);
            ASSERT_TRUE(Frame()->RouteCommand(other.id, &ui));
            EXPECT_EQ(ui.check, other.id == m.id ? 1 : 0) << other.id << " after " << m.id;
        }
    }
    // Delete-by-area needs observations; without them it is off and unchecked.
    CCmdUI byArea(32818);
    Frame()->RouteCommand(32818, &byArea);
    EXPECT_FALSE(byArea.enabled);
    CCmdUI shrink(32808);
    Frame()->RouteCommand(32808, &shrink);
    EXPECT_FALSE(shrink.enabled);
    CCmdUI ellipses(316);
    Frame()->RouteCommand(316, &ellipses);
    EXPECT_FALSE(ellipses.enabled);
    CCmdUI manual(33071);
    Frame()->RouteCommand(33071, &manual);
    EXPECT_EQ(manual.check, 0);
    Frame()->OnCommandId(33071);
    EXPECT_FALSE(view->autoMode);

    // Zoom: a click zooms in, Shift inverts it; zooming in stops at the cap.
    const QPoint centre = view->viewport()->rect().center();
    Frame()->OnCommandId(32795);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, centre);
    EXPECT_EQ(view->GetHandle()->GetPicture()->GetZoom(), 2);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ShiftModifier, centre);
    EXPECT_EQ(view->GetHandle()->GetPicture()->GetZoom(), 1);
    Frame()->OnCommandId(32796);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ShiftModifier, centre);
    EXPECT_EQ(view->GetHandle()->GetPicture()->GetZoom(), 2);
    Frame()->OnCommandId(32795);
    for (int i = 0; i < 40; ++i)
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, centre);
    CIntRect visible;
    view->GetHandle()->GetPicture()->GetVisibleRect(visible);
    EXPECT_GE(visible.Width(), CDisplayImage::kMinVisiblePixels);
    EXPECT_GE(visible.Height(), CDisplayImage::kMinVisiblePixels);
    view->viewport()->grab().save(TestOutputFolder() + QStringLiteral("/ImageViewZoomed.png"));
    Frame()->OnCommandId(32896);
    EXPECT_EQ(view->GetHandle()->GetPicture()->GetZoom(), 1);

    // Up and Down follow the gain limits.
    const struct {
        double before;
        int key;
        double after;
    } gains[] = {{8.0, Qt::Key_Up, 16.0}, {16.0, Qt::Key_Up, 16.0}, {1.0, Qt::Key_Down, 0.5}, {0.5, Qt::Key_Down, 0.5}};
    for (const auto& g : gains) {
        view->brightnessGain = g.before;
        QTest::keyClick(view, Qt::Key(g.key));
        EXPECT_EQ(view->brightnessGain, g.after) << g.before;
    }

    // The popup: the image entries without the image commands, the Brightness
    // steps, View Residuals checked while the residual view is on.
    view->residualView = true;
    std::unique_ptr<QMenu> menu(view->BuildContextMenu(view));
    ASSERT_NE(menu, nullptr);
    QStringList entries;
    for (QAction* a : menu->actions())
        entries << (a->isSeparator() ? QStringLiteral("-") : a->text());
    EXPECT_EQ(entries, (QStringList{"Edit Exterior Orientation\tAlt+Return", "Resect", "Delete All Observations",
                                    "Brightness", "Align to Camera", "-", "View Residuals",
                                    "Increase Residuals\tAlt + =", "Decrease Residuals\tAlt + -"}));
    QStringList brightness;
    for (QAction* a : menu->actions()[3]->menu()->actions())
        brightness << a->text();
    EXPECT_EQ(brightness, (QStringList{"Histogram Stretch", "Restore", "Equalize", "x 0.5", "x 2", "x 4", "x 8"}));
    view->residualView = false;
    Frame()->OnCommandId(33011);
    EXPECT_EQ(view->residualScale, 1000);
    Frame()->OnCommandId(33012);
    Frame()->OnCommandId(33012);
    EXPECT_EQ(view->residualScale, 250);

    // Delete by area: a drag of zero width or height selects nothing.
    // The command stays disabled until deleting the area is built; the mode
    // itself selects.
    Observe(images[0]->targets, "9", 20.0, 20.0);
    CCmdUI byAreaWithObservations(32818);
    Frame()->RouteCommand(32818, &byAreaWithObservations);
    EXPECT_FALSE(byAreaWithObservations.enabled);
    view->SetMode(CImageView::MODE_DELETE_BY_AREA);
    ASSERT_EQ(view->GetMode(), CImageView::MODE_DELETE_BY_AREA);
    const struct {
        QPoint from, to;
        bool selected;
    } drags[] = {{{10, 10}, {10, 60}, false}, {{10, 10}, {60, 10}, false}, {{60, 60}, {10, 20}, true}};
    for (const auto& d : drags) {
        QTest::mousePress(view->viewport(), Qt::LeftButton, {}, d.from);
        QTest::mouseMove(view->viewport(), d.to);
        QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, d.to);
        EXPECT_EQ(view->IsAreaSelected(), d.selected);
    }
    Frame()->OnCommandId(32790);
    EXPECT_FALSE(view->IsAreaSelected());

    // A typed character lands in the Point ID box.
    QLineEdit* box = Frame()->GetToolBar()->m_PointLabel;
    view->setFocus();
    QTest::keyClick(view, Qt::Key_7, {}, -1);
    EXPECT_EQ(box->text(), QStringLiteral("7"));
    EXPECT_STREQ(view->GetLabel().GetText(), "7");
}

TEST_F(ImageViewFixture, NextPreviousCloseAndTheCentroidWindow)
{
    OpenProject();
    doc->SetDocumentPath(scratch.filePath(QStringLiteral("project.kpr")));
    CImageView* view = Open(0);
    ASSERT_NE(view, nullptr);
    CCmdUI previous(32960);
    Frame()->RouteCommand(32960, &previous);
    EXPECT_FALSE(previous.enabled);

    view->SetLabel(CNameBuffer("5"));
    Frame()->OnCommandId(32795);
    Frame()->OnCommandId(32959);
    Settle();
    EXPECT_EQ(view->GetImageRecord(), images[1]);
    EXPECT_TRUE(QFile::exists(scratch.filePath(QStringLiteral("project.kpr"))));
    EXPECT_EQ(view->GetMode(), CImageView::MODE_DIGITIZE);
    EXPECT_STREQ(view->GetLabel().GetText(), "1");
    EXPECT_EQ(Frame()->GetPaneText(4), QStringLiteral("Image 2 of 2"));
    EXPECT_EQ(view->GetParentFrame()->windowTitle(), QStringLiteral("Image2"));
    // On the last image Next does nothing.
    CCmdUI next(32959);
    Frame()->RouteCommand(32959, &next);
    EXPECT_FALSE(next.enabled);
    view->SwitchImage(true);
    EXPECT_EQ(view->GetImageRecord(), images[1]);

    // The Centroid Window opens at the view's bottom-left corner, closes on a
    // double click and opens again.
    for (int round = 0; round < 2; ++round) {
        Frame()->OnCommandId(32809);
        Settle();
        QWidget* window = view->findChild<QWidget*>(QStringLiteral("id109"));
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(window->windowTitle(), QStringLiteral("Centroid Window"));
        const QPoint corner = view->viewport()->mapToGlobal(view->viewport()->rect().bottomLeft());
        EXPECT_NEAR(window->frameGeometry().left(), corner.x(), 2);
        EXPECT_NEAR(window->frameGeometry().bottom(), corner.y(), 2);
        QTest::mouseMove(view->viewport(), view->viewport()->rect().center());
        window->grab().save(TestOutputFolder() + QStringLiteral("/CentroidWindow.png"));
        QTest::mouseDClick(window, Qt::LeftButton);
        Settle();
        EXPECT_EQ(view->findChild<QWidget*>(QStringLiteral("id109")), nullptr);
    }

    // Relative orientation mode refuses closing.
    view->relativeOrientationMode = true;
    EXPECT_FALSE(view->QueryClose());
    const std::vector<std::string> shown = TakeMessages();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].find("Image is in relative orientation measurement mode.\nTo close finish RO mode."),
              std::string::npos);
    view->relativeOrientationMode = false;
    EXPECT_TRUE(view->QueryClose());
}

TEST_F(ImageViewFixture, PrintingGivesOnePageWithTheFooter)
{
    OpenProject();
    CImageView* view = Open(0);
    ASSERT_NE(view, nullptr);
    Observe(images[0]->targets, "4", 60.3, 50.6)->measured = true;
    const QString pdf = scratch.filePath(QStringLiteral("image.pdf"));
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    ASSERT_TRUE(view->PrintTo(printer));
    QFile file(pdf);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    EXPECT_EQ(bytes.count("/Type /Page\n") + bytes.count("/Type /Page\r") + bytes.count("/Type /Page "), 1);
    QFile::copy(pdf, TestOutputFolder() + QStringLiteral("/ImageViewPrint.pdf"));
    // The footer names the project, the image and the camera (read back where
    // the PDF text tool is installed).
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    if (tool.isEmpty())
        GTEST_SKIP() << "pdftotext is not installed; the footer was not read back";
    QProcess process;
    process.start(tool, {pdf, QStringLiteral("-")});
    ASSERT_TRUE(process.waitForFinished(30000));
    const QString text = QString::fromUtf8(process.readAllStandardOutput());
    const QString footer = doc->GetTitleWithoutMark() + QStringLiteral(" - Image1 (Cam)");
    EXPECT_TRUE(text.contains(footer)) << text.toStdString();
}

} // namespace
