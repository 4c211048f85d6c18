// The image window on a project with a camera and two rendered pictures:
// opening, measuring by click and what the view draws.
#include "ProjectBuilder.h"
#include "TableChecks.h"
#include "ShellFixture.h"
#include "PrintPreview.h"
#include "WholeTexts.h"

#include "Camera.h"
#include "ImageView.h"
#include "KestrelonDoc.h"
#include "KestrelonView.h"
#include "ListViews.h"
#include "Frames.h"
#include "PointDialogs.h"
#include "PointSet.h"
#include "ProjectImage.h"
#include "Resources.h"
#include "FiducialDialogs.h"
#include "FileIO.h"
#include "MeasurementTool.h"
#include "TargetRenderer.h"

#include <QComboBox>
#include <QLabel>
#include <QMenuBar>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QWheelEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QFile>
#include <QFileInfo>
#include <QApplication>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProcess>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolBar>

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

namespace image_view_test {

// Dark targets on a light background, as the centroid settings expect.
constexpr double kTruth[2][2] = {{60.3, 50.6}, {140.8, 95.2}};

class ImageViewFixture : public ShellFixture {
protected:
    void OpenProject(bool secondFileMissing = false)
    {
        ASSERT_NO_FATAL_FAILURE(NewProject());
        const TargetScene scene = DarkDiscScene(200, 150, {{kTruth[0][0], kTruth[0][1]}, {kTruth[1][0], kTruth[1][1]}},
                                                5.0, 0.7, 1.0);
        camera = AddCamera(*doc, "Cam");
        camera->XPixels = scene.width;
        camera->YPixels = scene.height;
        camera->XPixelSize = 0.01;
        camera->YPixelSize = 0.01;
        const char* names[2] = {"first.bmp", "second.tif"};
        for (int k = 0; k < 2; ++k) {
            const std::string path = scratch.filePath(names[k]).toStdString();
            if (k == 0 || !secondFileMissing) {
                picture = RenderScene(scene);
                ASSERT_TRUE(WritePicture(path, picture));
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
    TestPicture picture; // the pixels of both files
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

// Counts the mouse moves the watched widgets receive.
class MoveCounter : public QObject {
public:
    int moves = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        moves += event->type() == QEvent::MouseMove;
        return false;
    }
};

// The toolbar's Point ID and increment boxes follow the image window the
// user brings to the front by its title bar, or that comes to the front
// when the window before it closes, with no mouse move over a picture.
TEST_F(ImageViewFixture, TheLabelBoxesFollowTheWindowBroughtToTheFront)
{
    OpenProject();
    CImageView* views[2] = {Open(0), Open(1)};
    ASSERT_NE(views[0], nullptr);
    ASSERT_NE(views[1], nullptr);
    QLineEdit* box = Frame()->GetToolBar()->m_PointLabel;
    QLineEdit* increment = Frame()->GetToolBar()->m_PointIncrement;
    const QString labels[2] = {QStringLiteral("5"), QStringLiteral("17")};
    const QString increments[2] = {QStringLiteral("2"), QStringLiteral("3")};
    // Side by side; each gets its label and increment typed while it is in front.
    for (int k = 0; k < 2; ++k) {
        QMdiSubWindow* frame = views[k]->GetParentFrame();
        frame->move(k * 480, 0);
        Frame()->GetMdiArea()->setActiveSubWindow(frame);
        Settle();
        Frame()->UpdateCmdUI(); // the boxes are enabled while an image window is in front
        for (auto [edit, text] : {std::pair{box, labels[k]}, std::pair{increment, increments[k]}}) {
            edit->selectAll();
            QTest::keyClicks(edit, text);
        }
        EXPECT_EQ(FromCp1252(views[k]->GetLabel().GetText()), labels[k]);
        EXPECT_EQ(views[k]->GetIncrement(), increments[k].toInt());
    }
    MoveCounter counter;
    for (CImageView* view : views)
        view->viewport()->installEventFilter(&counter);
    auto clickTitleBar = [](QMdiSubWindow* frame) {
        const int title = frame->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, frame);
        QTest::mouseClick(frame, Qt::LeftButton, {}, QPoint(frame->width() / 2, title / 2));
        Settle();
    };
    for (const int k : {0, 1, 0}) {
        SCOPED_TRACE(k);
        clickTitleBar(views[k]->GetParentFrame());
        ASSERT_EQ(GetActiveImageView(), views[k]);
        EXPECT_EQ(box->text().toStdString(), labels[k].toStdString());
        EXPECT_EQ(increment->text().toStdString(), increments[k].toStdString());
    }
    EXPECT_TRUE(Frame()->grab().save(TestOutputFolder() + QStringLiteral("/LabelBoxFollowsTheWindow.png")));
    // Closing the front window brings the other one forward.
    views[0]->GetParentFrame()->close();
    Settle();
    ASSERT_EQ(GetActiveImageView(), views[1]);
    EXPECT_EQ(box->text().toStdString(), labels[1].toStdString());
    EXPECT_EQ(increment->text().toStdString(), increments[1].toStdString());
    EXPECT_EQ(counter.moves, 0);
    // Each window kept its own values.
    EXPECT_EQ(FromCp1252(views[1]->GetLabel().GetText()), labels[1]);
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
                                    "Brightness", "Align to Camera", "View Epipolar Lines...", "-", "View Residuals",
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

    // Delete by area: with observations it is on; a drag of zero width or
    // height selects nothing.
    Observe(images[0]->targets, "9", 20.0, 20.0);
    CCmdUI byAreaWithObservations(32818);
    Frame()->RouteCommand(32818, &byAreaWithObservations);
    EXPECT_TRUE(byAreaWithObservations.enabled);
    Frame()->OnCommandId(32818);
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

// What a printed mark measures on paper, in millimetres.
struct PrintedMark {
    double arm = 0.0;   // from the centre to the end of the cross's left and upper lines
    double label = 0.0; // height of the label's ink
};

// Reads the mark of the colour from a page rendered at dpi: its cross's
// left and upper ends (the label lies right of and below the centre) give
// the centre, the ink right of and below it is the label.
PrintedMark MeasureMark(const QImage& page, const QColor& colour, double dpi)
{
    const QRgb rgb = colour.rgb();
    QPoint left(page.width(), 0), top(0, page.height());
    for (int y = 0; y < page.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(page.constScanLine(y));
        for (int x = 0; x < page.width(); ++x)
            if ((line[x] & 0xffffff) == (rgb & 0xffffff)) {
                if (x < left.x())
                    left = QPoint(x, y);
                if (y < top.y())
                    top = QPoint(x, y);
            }
    }
    PrintedMark mark;
    if (left.x() == page.width())
        return mark;
    const QPoint centre(top.x(), left.y());
    int first = -1, last = -1;
    for (int y = centre.y() + 3; y < page.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(page.constScanLine(y));
        for (int x = centre.x() + 3; x < page.width(); ++x)
            if ((line[x] & 0xffffff) == (rgb & 0xffffff)) {
                if (first < 0)
                    first = y;
                last = y;
                break;
            }
    }
    const double mm = 25.4 / dpi;
    mark.arm = std::max(centre.x() - left.x(), centre.y() - top.y()) * mm;
    mark.label = first < 0 ? 0.0 : (last - first + 1) * mm;
    return mark;
}

// Print Preview of an image window, and from the preview a print at the
// resolution into a PDF, rendered at 300 dpi without smoothing.
QImage PreviewAndPrint(CMainFrame* frame, int dpi, const QString& pdf, const QString& shot)
{
    frame->UpdateCmdUI();
    QAction* entry = frame->GetAction(ID_FILE_PRINT_PREVIEW);
    EXPECT_TRUE(entry->isEnabled());
    EXPECT_TRUE(OnPrintPreview(entry, [&](QPrintPreviewDialog& dialog, QPrintPreviewWidget* preview) {
        if (!shot.isEmpty()) {
            EXPECT_TRUE(dialog.grab().save(shot));
        }
        QPrinter* printer = dialog.printer();
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(pdf);
        printer->setResolution(dpi);
        EXPECT_NE(preview, nullptr);
        if (preview)
            preview->print();
    }));
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("pdftoppm"));
    EXPECT_FALSE(tool.isEmpty()) << "pdftoppm (poppler-utils) renders the printed page";
    if (tool.isEmpty() || !QFile::exists(pdf))
        return QImage();
    QProcess process;
    const QString base = pdf.chopped(4);
    process.start(tool, {QStringLiteral("-r"), QStringLiteral("300"), QStringLiteral("-aa"), QStringLiteral("no"),
                         QStringLiteral("-aaVector"), QStringLiteral("no"), QStringLiteral("-png"),
                         QStringLiteral("-singlefile"), pdf, base});
    EXPECT_TRUE(process.waitForFinished(60000));
    QImage page(base + QStringLiteral(".png"));
    QFile::remove(base + QStringLiteral(".png"));
    QFile::remove(pdf);
    return page.convertToFormat(QImage::Format_RGB32);
}

// Printing an image window whose picture file is missing: the coordinate
// page's crosses and labels keep their size on paper at any printer
// resolution, the labels as high as on the page of a picture.
TEST_F(ImageViewFixture, TheCoordinatePagePrintsItsMarksAtThePicturePagesScale)
{
    OpenProject(true);
    for (CProjectImage* image : images)
        Observe(image->targets, "12", 100.0, 75.0);
    const QColor manual = Colour(doc->manualColour);
    std::map<std::pair<int, int>, PrintedMark> marks; // (image, dpi)
    for (int k = 0; k < 2; ++k) {
        CImageView* view = Open(k);
        ASSERT_NE(view, nullptr);
        EXPECT_EQ(view->GetHandle() == nullptr, k == 1);
        for (const int dpi : {600, 1200}) {
            SCOPED_TRACE(std::to_string(k) + " at " + std::to_string(dpi));
            const QString shot = k == 1 && dpi == 600 ? TestOutputFolder() + QStringLiteral("/CoordinatePagePreview.png")
                                                      : QString();
            const QImage page = PreviewAndPrint(Frame(), dpi, scratch.filePath(QStringLiteral("page.pdf")), shot);
            ASSERT_FALSE(page.isNull());
            const PrintedMark mark = MeasureMark(page, manual, 300.0);
            marks[{k, dpi}] = mark;
            if (k == 1 && dpi == 1200) {
                const QPoint centre = page.rect().center();
                page.copy(QRect(centre - QPoint(300, 300), QSize(600, 600)))
                    .save(TestOutputFolder() + QStringLiteral("/CoordinatePagePrinted.png"));
            }
        }
        view->GetParentFrame()->close();
        Settle();
    }
    // One unit is 1/100 inch on paper: the picture page's crosses reach 7
    // units, the coordinate page's 3; a label is as high on both pages.
    const double unit = 0.254;
    for (const int dpi : {600, 1200}) {
        SCOPED_TRACE(dpi);
        const PrintedMark picture = marks[std::pair(0, dpi)], coordinates = marks[std::pair(1, dpi)];
        EXPECT_NEAR(picture.arm, 7 * unit, 0.15);
        EXPECT_NEAR(coordinates.arm, 3 * unit, 0.15);
        EXPECT_GT(picture.label, 2.0);
        EXPECT_NEAR(coordinates.label, picture.label, 0.2);
        EXPECT_NEAR(coordinates.label, marks[std::pair(1, 600)].label, 0.2);
    }
}

// --- the view's commands ----------------------------------------------------------

// Four targets and four fiducial measurements ("F1".."F4", also the
// camera's marks) at fixed picture positions.
constexpr double kSpots[4][2] = {{20.0, 20.0}, {40.0, 24.0}, {150.0, 100.0}, {170.0, 120.0}};

class ImageViewCommands : public ImageViewFixture {
protected:
    void SetUpView()
    {
        ASSERT_NO_FATAL_FAILURE(OpenProject());
        view = Open(0);
        ASSERT_NE(view, nullptr);
        camera->fiducials.DeleteAll();
        for (int i = 0; i < 4; ++i) {
            const std::string label = "F" + std::to_string(i + 1);
            Observe(camera->fiducials, label.c_str(), kSpots[i][0], kSpots[i][1]);
        }
    }

    // The same starting state before every row of a table.
    void Reset()
    {
        if (view->interiorOrientationMode)
            view->EndInteriorOrientation();
        CProjectImage* image = images[0];
        image->targets.DeleteAll();
        image->fiducials.DeleteAll();
        view->GetOwnList().RemoveAll();
        for (int i = 0; i < 4; ++i) {
            const std::string label = std::to_string(i + 1);
            view->GetOwnList().AddSorted(*Observe(image->targets, label.c_str(), kSpots[i][0], kSpots[i][1]));
            Observe(image->fiducials, ("F" + label).c_str(), kSpots[i][0], kSpots[i][1])->fiducial = true;
        }
        image->oriented = image->scanned = image->transformAccepted = true;
        view->SetLabel(CNameBuffer("1"));
        view->SetIncrement(1);
        view->SetMode(CImageView::MODE_DIGITIZE);
        answers.clear();
        dialogs.clear();
        TakeMessages();
        doc->SetModifiedFlag(false);
    }

    // The client rectangle over picture rectangle (c0, r0) - (c1, r1).
    QRect ClientRect(double c0, double r0, double c1, double r1) const
    {
        return QRect(ClientPoint(view, c0, r0), ClientPoint(view, c1, r1));
    }

    static QStringList Labels(const CObservationList& list)
    {
        QStringList labels;
        for (int i = 0; i < list.GetSize(); ++i)
            labels << QString::fromLatin1(list.GetAt(i)->label.GetText());
        return labels;
    }

    CImageView* view = nullptr;
};

TEST_F(ImageViewCommands, CommandOutcomes)
{
    SetUpView();
    CProjectImage* image = images[0];
    struct Row {
        const char* name;
        std::function<void()> act;
        QStringList targets, fiducials, own;
        bool oriented, scanned, accepted;
        std::vector<std::string> messages;
        std::function<void()> more; // further checks, or null
    };
    const QStringList all{"1", "2", "3", "4"}, marks{"F1", "F2", "F3", "F4"};
    const Row rows[] = {
        {"delete by area: a drag, then a click",
         [&] {
             Frame()->OnCommandId(32818);
             const QRect r = ClientRect(10, 10, 50, 30);
             QTest::mousePress(view->viewport(), Qt::LeftButton, {}, r.topLeft());
             QTest::mouseMove(view->viewport(), r.bottomRight());
             QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, r.bottomRight());
             QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
         },
         {"3", "4"}, marks, {"3", "4"}, false, false, true, {},
         [&] {
             EXPECT_TRUE(doc->IsModified());
             EXPECT_FALSE(view->IsAreaSelected());
         }},
        {"delete by area keeps the resected flag with 3 left",
         [&] { view->DeleteByArea(ClientRect(10, 10, 30, 30)); },
         {"2", "3", "4"}, marks, {"2", "3", "4"}, true, false, true, {}, nullptr},
        {"delete by area in interior orientation mode",
         [&] {
             Frame()->OnCommandId(32945);
             view->DeleteByArea(ClientRect(10, 10, 30, 30));
         },
         all, {"F2", "F3", "F4"}, {}, true, true, false, {},
         [&] {
             // The results dialog refitted the three left: its row of F1 has no observation.
             CInteriorOrientationDlg* results = view->GetInteriorOrientationDlg();
             ASSERT_NE(results, nullptr);
             EXPECT_TRUE(results->isVisible());
             EXPECT_EQ(image->transformation.GetSize(), 6);
             QTableWidget* list = results->GetList();
             EXPECT_TRUE(!list->item(0, 4) || list->item(0, 4)->text().isEmpty());
             EXPECT_FALSE(list->item(1, 4)->text().isEmpty());
         }},
        {"delete by label",
         [&] {
             dialogs.push_back([](CDialog& d) {
                 Type(d, CDeletePointDlg::kLabel, QStringLiteral("2"));
                 d.OnOK();
                 return d.result();
             });
             Frame()->OnCommandId(32819);
         },
         {"1", "3", "4"}, marks, {"1", "3", "4"}, true, true, true, {},
         [&] { EXPECT_TRUE(doc->IsModified()); }},
        {"delete all answered No",
         [&] {
             answers = {IDNO};
             Frame()->OnCommandId(32820);
         },
         all, marks, all, true, true, true, {"Confirm\nDelete all measurements?"}, nullptr},
        {"delete all",
         [&] {
             answers = {IDYES};
             Frame()->OnCommandId(32876);
         },
         {}, marks, {}, true, false, true, {"Confirm\nDelete all measurements?"}, nullptr},
        {"delete all in interior orientation mode",
         [&] {
             Frame()->OnCommandId(32945);
             answers = {IDYES};
             Frame()->OnCommandId(32820);
         },
         all, {}, {}, true, true, true, {"Confirm\nDelete all measurements?"}, nullptr},
        {"undo",
         [&] { Frame()->OnCommandId(32962); },
         {"1", "2", "3"}, marks, {"1", "2", "3"}, true, true, true, {},
         [&] { EXPECT_TRUE(doc->IsModified()); }},
        {"undo after an interior orientation measurement",
         [&] {
             image->fiducials.DeleteAll();
             Frame()->OnCommandId(32945);
             EXPECT_FALSE(view->autoMode);
             view->SetLabel(CNameBuffer("F1"));
             Frame()->OnCommandId(32790);
             QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, ClientPoint(view, 60, 60));
             EXPECT_EQ(Labels(image->fiducials), QStringList{"F1"});
             EXPECT_STREQ(view->GetLabel().GetText(), "F2");
             EXPECT_EQ(view->GetMode(), CImageView::MODE_ZOOM_IN);
             Frame()->OnCommandId(32962);
         },
         all, {}, {}, true, true, false, {}, nullptr},
        {"a label that is no fiducial is refused in interior orientation mode",
         [&] {
             Frame()->OnCommandId(32945);
             Frame()->OnCommandId(32790);
             view->SetLabel(CNameBuffer("7"));
             QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, ClientPoint(view, 60, 60));
         },
         all, marks, {}, true, true, true, {"Point label '7' doesn't exist in the fiducials"}, nullptr},
        {"skip point back from 1 by 5",
         [&] {
             view->SetIncrement(5);
             Frame()->OnCommandId(32991);
         },
         all, marks, all, true, true, true, {},
         [&] {
             EXPECT_STREQ(view->GetLabel().GetText(), "0");
             Frame()->OnCommandId(32990);
             EXPECT_STREQ(view->GetLabel().GetText(), "5");
             EXPECT_EQ(Frame()->GetToolBar()->m_PointLabel->text(), QStringLiteral("5"));
         }},
        {"residual scale 0 doubles to 2, 1 halves to 1",
         [&] {
             view->residualScale = 0;
             Frame()->OnCommandId(33011);
             EXPECT_EQ(view->residualScale, 2);
             view->residualScale = 1;
             Frame()->OnCommandId(33012);
         },
         all, marks, all, true, true, true, {},
         [&] { EXPECT_EQ(view->residualScale, 1); }},
        {"brightness steps",
         [&] {
             Frame()->OnCommandId(32904);
             EXPECT_EQ(view->brightnessGain, 4.0);
             Frame()->OnCommandId(32899);
         },
         all, marks, all, true, true, true, {},
         [&] { EXPECT_EQ(view->brightnessGain, 1.0); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Reset();
        row.act();
        Settle();
        EXPECT_EQ(Labels(image->targets), row.targets);
        EXPECT_EQ(Labels(image->fiducials), row.fiducials);
        EXPECT_EQ(Labels(view->GetOwnList()), row.own);
        EXPECT_EQ(image->oriented, row.oriented);
        EXPECT_EQ(image->scanned, row.scanned);
        EXPECT_EQ(image->transformAccepted, row.accepted);
        EXPECT_EQ(TakeMessages(), row.messages);
        if (row.more)
            row.more();
    }
}

TEST_F(ImageViewCommands, ModeTogglesAndTheirChecks)
{
    SetUpView();
    auto checked = [&](int id) {
        CCmdUI ui(id);
        Frame()->RouteCommand(id, &ui);
        return ui.check == 1;
    };
    // Plumb lines: the other direction switches, the same one ends the mode.
    const struct {
        int id;
        bool on;
        int direction;
    } plumbs[] = {{32885, true, 0}, {32886, true, 1}, {32886, false, -1}, {32886, true, 1}, {32886, false, -1}};
    for (const auto& p : plumbs) {
        Frame()->OnCommandId(p.id);
        EXPECT_EQ(view->plumbLineMode, p.on);
        EXPECT_EQ(view->plumbDirection, p.direction);
        EXPECT_EQ(checked(32885), p.on && p.direction == 0);
        EXPECT_EQ(checked(32886), p.on && p.direction == 1);
    }
    // View Residuals: blobs without labels while on, the preferences after.
    Frame()->OnCommandId(33017);
    EXPECT_TRUE(checked(33017));
    EXPECT_EQ(view->targetOverlay, -1);
    EXPECT_FALSE(view->numberPoints);
    EXPECT_EQ(Frame()->GetPaneText(3), QStringLiteral("Vector Scale: 500"));
    Frame()->OnCommandId(33017);
    EXPECT_EQ(view->targetOverlay, doc->GetTargetOverlay());
    EXPECT_EQ(view->numberPoints, bool(doc->GetNumberPoints()));
    // Correct image ratio: the client area takes the picture's aspect.
    view->GetParentFrame()->resize(520, 300);
    Settle();
    Frame()->OnCommandId(33089);
    Settle();
    const QSize client = view->viewport()->size();
    EXPECT_NEAR(double(client.width()) / client.height(), 200.0 / 150.0, 0.02);
    EXPECT_TRUE(view->shrinkToFit);
    // Interior orientation needs fiducial marks of the camera.
    CCmdUI io(32945);
    Frame()->RouteCommand(32945, &io);
    EXPECT_TRUE(io.enabled);
    camera->fiducials.DeleteAll();
    Frame()->RouteCommand(32945, &io);
    EXPECT_FALSE(io.enabled);
}

TEST_F(ImageViewCommands, ShiftClickRowAndUndo)
{
    SetUpView();
    CProjectImage* image = images[0];
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, ClientPoint(view, kTruth[0][0], kTruth[0][1]));
    // A Shift-click measures the row onwards from the last target; the row
    // ends where the next step leaves the picture.
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ShiftModifier, ClientPoint(view, kTruth[1][0], kTruth[1][1]));
    Settle();
    EXPECT_EQ(Labels(image->targets), (QStringList{"1", "2"}));
    const CImageObservation* second = image->targets.Find(CNameBuffer("2"));
    ASSERT_NE(second, nullptr);
    double column = 0.0, row = 0.0;
    camera->ImageToPixel(second->x, second->y, column, row);
    EXPECT_NEAR(column, kTruth[1][0], 0.05);
    EXPECT_NEAR(row, kTruth[1][1], 0.05);
    EXPECT_TRUE(second->measured);
    EXPECT_STREQ(view->GetLabel().GetText(), "3");
    // Undo takes them back, newest first; then it is disabled.
    for (const QStringList& left : {QStringList{"1"}, QStringList{}}) {
        CCmdUI undo(32962);
        Frame()->RouteCommand(32962, &undo);
        EXPECT_TRUE(undo.enabled);
        Frame()->OnCommandId(32962);
        EXPECT_EQ(Labels(image->targets), left);
    }
    CCmdUI undo(32962);
    Frame()->RouteCommand(32962, &undo);
    EXPECT_FALSE(undo.enabled);
}

// A row measured with the Point Increment box at 0 or empty ends, labels its
// targets once each (as with increment 1) and says so on the status line.
TEST_F(ImageViewCommands, ShiftClickRowWithAZeroOrEmptyIncrement)
{
    SetUpView();
    CProjectImage* image = images[0];
    QLineEdit* box = Frame()->GetToolBar()->m_PointIncrement;
    for (const QString& typed : {QStringLiteral("0"), QString()}) {
        SCOPED_TRACE(typed.toStdString());
        image->targets.DeleteAll();
        view->GetOwnList().RemoveAll();
        view->SetLabel(CNameBuffer("1"));
        Frame()->UpdateCmdUI();
        ASSERT_TRUE(box->isEnabled());
        box->selectAll();
        if (typed.isEmpty())
            QTest::keyClick(box, Qt::Key_Backspace);
        else
            QTest::keyClicks(box, typed);
        ASSERT_EQ(view->GetIncrement(), 0);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, ClientPoint(view, kTruth[0][0], kTruth[0][1]));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ShiftModifier,
                          ClientPoint(view, kTruth[1][0], kTruth[1][1]));
        Settle();
        EXPECT_EQ(Labels(image->targets), (QStringList{"1", "2"}));
        EXPECT_EQ(Labels(view->GetOwnList()), (QStringList{"1", "2"}));
        const CImageObservation* second = image->targets.Find(CNameBuffer("2"));
        ASSERT_NE(second, nullptr);
        double column = 0.0, row = 0.0;
        camera->ImageToPixel(second->x, second->y, column, row);
        EXPECT_NEAR(column, kTruth[1][0], 0.05);
        EXPECT_NEAR(row, kTruth[1][1], 0.05);
        EXPECT_STREQ(view->GetLabel().GetText(), "3");
        EXPECT_EQ(Frame()->GetPaneText(0), QStringLiteral("Point Increment 0: the row was labelled with increment 1"));
    }
}

// A Point ID that is not a label (more than 16 characters, a character a
// label cannot hold) is refused at the click with the label rule: nothing is
// measured, under no other label, and the box keeps the text through mouse
// moves. The label typed after it is measured under that label.
TEST_F(ImageViewCommands, APointIdThatIsNoLabelIsRefusedAtTheClick)
{
    SetUpView();
    CProjectImage* image = images[0];
    QLineEdit* box = Frame()->GetToolBar()->m_PointLabel;
    const QString rule = QStringLiteral("\nA point label has at most 16 characters: letters, digits, _ and -.");
    const struct {
        const char* typed;
        Qt::KeyboardModifiers keys; // Shift: a row of targets
    } cases[] = {
        {"ABCDEFGHIJKLMNOPQRSTUVWX", Qt::NoModifier},
        {"ABCDEFGHIJKLMNOPQ", Qt::NoModifier},
        {"P.1", Qt::NoModifier},
        {"P 1", Qt::ShiftModifier},
    };
    const QPoint target = ClientPoint(view, kTruth[0][0], kTruth[0][1]);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        Reset();
        const QString typed = QString::fromLatin1(c.typed);
        Frame()->UpdateCmdUI();
        ASSERT_TRUE(box->isEnabled());
        // Typed over the picture: the first key moves to the box, which takes the rest.
        view->setFocus();
        QTest::keyClick(view, c.typed[0]);
        QTest::keyClicks(box, typed.mid(1));
        ASSERT_EQ(box->text(), typed);
        QTest::mouseMove(view->viewport(), target - QPoint(10, 10));
        QTest::mouseMove(view->viewport(), target);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, c.keys, target);
        Settle();
        EXPECT_EQ(TakeMessages(), std::vector<std::string>{("Invalid point label " + typed + rule).toStdString()});
        EXPECT_EQ(Labels(image->targets), (QStringList{"1", "2", "3", "4"}));
        EXPECT_EQ(view->GetOwnList().GetSize(), 4);
        EXPECT_FALSE(doc->IsModified());
        QTest::mouseMove(view->viewport(), target + QPoint(5, 5));
        EXPECT_EQ(box->text(), typed);
    }
    // Mended in the box: the click measures under the label typed.
    box->selectAll();
    QTest::keyClicks(box, QStringLiteral("q7"));
    QTest::mouseMove(view->viewport(), target);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, target);
    Settle();
    EXPECT_TRUE(TakeMessages().empty());
    EXPECT_EQ(Labels(image->targets), (QStringList{"1", "2", "3", "4", "Q7"}));
    EXPECT_EQ(box->text(), QStringLiteral("Q8"));
}

// The picture position shown at a client point, from the visible part.
QPointF ShownPixel(const CImageView* view, const QPoint& at)
{
    CIntRect visible;
    view->GetHandle()->GetPicture()->GetVisibleRect(visible);
    const QSize size = view->viewport()->size();
    return QPointF(visible.left + double(at.x()) / size.width() * visible.Width(),
                   visible.top + double(at.y()) / size.height() * visible.Height());
}

// A zoomed picture pans with its scroll bars: dragging one, the wheel and
// Shift+wheel; a measurement after that stores the point under the cursor.
TEST_F(ImageViewFixture, ScrollBarsWheelAndShiftWheelPanAZoomedPicture)
{
    OpenProject();
    CImageView* view = Open(0);
    ASSERT_NE(view, nullptr);
    QScrollBar* across = view->horizontalScrollBar();
    QScrollBar* down = view->verticalScrollBar();
    // The whole picture: nothing to scroll.
    EXPECT_EQ(across->maximum(), 0);
    EXPECT_EQ(down->maximum(), 0);
    auto visibleRect = [&] {
        CIntRect r;
        view->GetHandle()->GetPicture()->GetVisibleRect(r);
        return r;
    };

    Frame()->UpdateCmdUI();
    Frame()->GetAction(32795)->trigger();
    for (int k = 0; k < 2; ++k)
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->viewport()->rect().center());
    Settle();
    ASSERT_EQ(view->GetHandle()->GetPicture()->GetZoom(), 3);
    CIntRect shown = visibleRect();
    // The bars span the picture's pixels, their pages the part shown.
    EXPECT_EQ(across->maximum(), 200 - shown.Width());
    EXPECT_EQ(down->maximum(), 150 - shown.Height());
    EXPECT_EQ(across->pageStep(), shown.Width());
    EXPECT_EQ(across->value(), shown.left);
    EXPECT_EQ(down->value(), shown.top);
    EXPECT_TRUE(across->isVisible() && down->isVisible());

    // Dragging the vertical bar's slider down.
    QStyleOptionSlider option;
    option.initFrom(down);
    option.orientation = Qt::Vertical;
    option.minimum = down->minimum();
    option.maximum = down->maximum();
    option.sliderPosition = option.sliderValue = down->value();
    option.pageStep = down->pageStep();
    option.singleStep = down->singleStep();
    option.subControls = QStyle::SC_All;
    const QPoint grip =
        down->style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, down).center();
    QTest::mousePress(down, Qt::LeftButton, {}, grip);
    QTest::mouseMove(down, grip + QPoint(0, 12));
    QTest::mouseRelease(down, Qt::LeftButton, {}, grip + QPoint(0, 12));
    Settle();
    const CIntRect dragged = visibleRect();
    EXPECT_GT(dragged.top, shown.top);
    EXPECT_EQ(dragged.top, down->value());
    EXPECT_EQ(dragged.left, shown.left);
    EXPECT_EQ(dragged.Height(), shown.Height());

    // The wheel moves down, Shift+wheel to the right.
    auto wheel = [&](Qt::KeyboardModifiers modifiers) {
        const QPointF at(view->viewport()->rect().center());
        QWheelEvent event(at, view->viewport()->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, modifiers,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(view->viewport(), &event);
        Settle();
    };
    wheel(Qt::NoModifier);
    const CIntRect wheeled = visibleRect();
    EXPECT_GT(wheeled.top, dragged.top);
    EXPECT_EQ(wheeled.left, dragged.left);
    for (int k = 0; k < 2; ++k)
        wheel(Qt::ShiftModifier);
    const CIntRect panned = visibleRect();
    EXPECT_GT(panned.left, wheeled.left);
    EXPECT_EQ(panned.top, wheeled.top);
    EXPECT_EQ(panned.left, across->value());
    view->GetParentFrame()->grab().save(TestOutputFolder() + QStringLiteral("/ImageViewScrolled.png"));

    // Measuring there: the second target, now in view, by a click on it...
    ASSERT_TRUE(kTruth[1][0] > panned.left && kTruth[1][0] < panned.right && kTruth[1][1] > panned.top &&
                kTruth[1][1] < panned.bottom)
        << panned.left << " " << panned.top << " " << panned.right << " " << panned.bottom;
    Frame()->UpdateCmdUI();
    Frame()->GetAction(32790)->trigger();
    const QSize size = view->viewport()->size();
    const QPoint onTarget(int((kTruth[1][0] - panned.left) / panned.Width() * size.width()),
                          int((kTruth[1][1] - panned.top) / panned.Height() * size.height()));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, onTarget);
    Settle();
    const CImageObservation* found = images[0]->targets.Find(CNameBuffer("1"));
    ASSERT_NE(found, nullptr);
    double column = 0.0, row = 0.0;
    camera->ImageToPixel(found->x, found->y, column, row);
    EXPECT_NEAR(column, kTruth[1][0], 0.05);
    EXPECT_NEAR(row, kTruth[1][1], 0.05);
    // ... and by hand: the pixel under the cursor.
    Frame()->UpdateCmdUI();
    Frame()->GetAction(33071)->trigger();
    ASSERT_FALSE(view->autoMode);
    const QPoint click(size.width() / 3, size.height() / 4);
    const QPointF pixel = ShownPixel(view, click);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, click);
    Settle();
    const CImageObservation* manual = images[0]->targets.Find(CNameBuffer("2"));
    ASSERT_NE(manual, nullptr);
    camera->ImageToPixel(manual->x, manual->y, column, row);
    EXPECT_NEAR(column, pixel.x(), 1e-6);
    EXPECT_NEAR(row, pixel.y(), 1e-6);
    EXPECT_GT(row, panned.top);

    // Full Image View: nothing to scroll again.
    Frame()->UpdateCmdUI();
    Frame()->GetAction(32896)->trigger();
    EXPECT_EQ(across->maximum(), 0);
    EXPECT_EQ(down->maximum(), 0);
}

// View Epipolar Lines is in the View Control menu while an image window is
// active and in the image's popup; both ask for the point.
TEST_F(ImageViewCommands, EpipolarLinesAreReachedFromTheMenus)
{
    SetUpView();
    QAction* entry = nullptr;
    for (QAction* top : Frame()->menuBar()->actions())
        if (top->menu() && top->text() == QStringLiteral("View &Control"))
            for (QAction* a : top->menu()->actions())
                if (a->text() == QStringLiteral("View Epipolar Lines..."))
                    entry = a;
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->data().toInt(), 32931);
    Frame()->UpdateCmdUI();
    EXPECT_TRUE(entry->isEnabled());
    int asked = 0;
    auto cancel = [&](CDialog& d) {
        ++asked;
        EXPECT_EQ(d.windowTitle(), QStringLiteral("Enter Point for Epipolar Lines"));
        d.OnCancel();
        return d.result();
    };
    dialogs.push_back(cancel);
    entry->trigger();
    EXPECT_EQ(asked, 1);
    std::unique_ptr<QMenu> menu(view->BuildContextMenu(view));
    QAction* popupEntry = nullptr;
    for (QAction* a : menu->actions())
        if (a->text() == QStringLiteral("View Epipolar Lines..."))
            popupEntry = a;
    ASSERT_NE(popupEntry, nullptr);
    EXPECT_TRUE(popupEntry->isEnabled());
    dialogs.push_back(cancel);
    popupEntry->trigger();
    EXPECT_EQ(asked, 2);
    menu.reset();
    // Without an image window the command has nobody to serve it.
    delete view->GetParentFrame();
    Settle();
    Frame()->UpdateCmdUI();
    EXPECT_FALSE(Frame()->GetAction(32931)->isEnabled());
}

// A camera with a principal distance, at a pose looking at the origin.
void LookAt(CProjectImage& image, const double station[3], const double up[3])
{
    double z[3] = {station[0], station[1], station[2]};
    const double lz = std::sqrt(z[0] * z[0] + z[1] * z[1] + z[2] * z[2]);
    for (double& v : z)
        v /= lz;
    double x[3] = {up[1] * z[2] - up[2] * z[1], up[2] * z[0] - up[0] * z[2], up[0] * z[1] - up[1] * z[0]};
    const double lx = std::sqrt(x[0] * x[0] + x[1] * x[1] + x[2] * x[2]);
    for (double& v : x)
        v /= lx;
    const double y[3] = {z[1] * x[2] - z[2] * x[1], z[2] * x[0] - z[0] * x[2], z[0] * x[1] - z[1] * x[0]};
    image.X = station[0], image.Y = station[1], image.Z = station[2];
    image.rotation.Resize(3, 3);
    for (int j = 0; j < 3; ++j) {
        image.rotation.SetAt(x[j], 0, j);
        image.rotation.SetAt(y[j], 1, j);
        image.rotation.SetAt(z[j], 2, j);
    }
}

// Collinearity without distortion: image millimetres of an object point.
void ProjectPoint(const CProjectImage& image, const CCamera& camera, const double P[3], double& x, double& y)
{
    double h[3];
    for (int i = 0; i < 3; ++i)
        h[i] = image.rotation.GetAt(i, 0) * (P[0] - image.X) + image.rotation.GetAt(i, 1) * (P[1] - image.Y) +
               image.rotation.GetAt(i, 2) * (P[2] - image.Z);
    x = camera.parameters[CAM_XP] - camera.parameters[CAM_C] * h[0] / h[2];
    y = camera.parameters[CAM_YP] - camera.parameters[CAM_C] * h[1] / h[2];
}

// Eight points seen from a known station: the set gets them, the image their
// projections with a measuring noise of 0.02 micrometres.
const double kNetwork[8][3] = {{-80, -60, 10}, {70, -50, -15}, {60, 55, 20}, {-75, 65, -10},
                               {0, 0, 30},     {-20, 40, -25}, {35, -20, 5}, {50, 10, -30}};
const double kStation[3] = {40.0, -60.0, 900.0};

void ObserveNetwork(CPointSet& set, CProjectImage& image, const CCamera& camera, bool addObservations)
{
    const double up[3] = {0.1, 1.0, 0.0};
    CProjectImage pose;
    LookAt(pose, kStation, up);
    for (int i = 0; i < 8; ++i) {
        const std::string label = "P" + std::to_string(i + 1);
        set.AddPointSorted(CObjectPoint(CNameBuffer(label.c_str()), kNetwork[i][0], kNetwork[i][1], kNetwork[i][2]));
        double x = 0.0, y = 0.0;
        ProjectPoint(pose, camera, kNetwork[i], x, y);
        x += (i % 2 ? 2e-5 : -2e-5), y += (i % 3 ? -2e-5 : 2e-5);
        ASSERT_LT(std::fabs(x), camera.GetHalfSensorWidth());
        ASSERT_LT(std::fabs(y), camera.GetHalfSensorHeight());
        if (addObservations)
            image.targets.AddSorted(CImageObservation(CNameBuffer(label.c_str()), x, y));
    }
}

double StationError(const CProjectImage& image)
{
    return std::sqrt((image.X - kStation[0]) * (image.X - kStation[0]) + (image.Y - kStation[1]) * (image.Y - kStation[1]) +
                     (image.Z - kStation[2]) * (image.Z - kStation[2]));
}

TEST_F(ImageViewCommands, ResectGivesTheStationOrSaysWhyNot)
{
    SetUpView();
    camera->parameters[CAM_C] = 5.0;
    CPointSet* driver = AddPointSet(*doc, "driver.xyz");
    driver->isDriver = true;
    CProjectImage* image = images[0];
    image->targets.DeleteAll();
    ObserveNetwork(*driver, *image, *camera, true);
    auto stationError = [&] { return StationError(*image); };
    CCmdUI ui(32948);
    Frame()->RouteCommand(32948, &ui);
    EXPECT_TRUE(ui.enabled);

    // The application's prompt is "Resect Camera Station"; OK without "Use
    // Given" resects by the closed form.
    int stationDialogs = 0;
    dialogs.push_back([&](CDialog& dialog) {
        ++stationDialogs;
        EXPECT_EQ(dialog.GetResourceId(), 1545);
        dialog.OnOK();
        return dialog.result();
    });
    TakeMessages();
    Frame()->OnCommandId(32948);
    EXPECT_EQ(stationDialogs, 1);
    std::vector<std::string> shown = TakeMessages();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].rfind("| Sta  RMS(um)  Pts |\n| Image1      ", 0), 0u) << shown[0];
    EXPECT_EQ(shown[0].substr(shown[0].size() - 11), "         8 ");
    EXPECT_TRUE(image->oriented);
    EXPECT_LT(stationError(), 0.5);

    int prompts = 0;
    auto old = CImageView::SetResectStationPrompt([&](CProjectImage& asked, bool& fromGiven) {
        ++prompts;
        EXPECT_EQ(&asked, image);
        fromGiven = true;
        return int(IDOK);
    });
    image->X += 3.0, image->Z -= 5.0;
    Frame()->OnCommandId(32948);
    EXPECT_EQ(prompts, 1);
    EXPECT_EQ(TakeMessages().size(), 1u);
    EXPECT_LT(stationError(), 0.5);
    CImageView::SetResectStationPrompt([&](CProjectImage&, bool&) { return int(IDCANCEL); });
    image->oriented = false;
    Frame()->OnCommandId(32948);
    EXPECT_TRUE(TakeMessages().empty());
    EXPECT_FALSE(image->oriented);
    CImageView::SetResectStationPrompt(old);

    // Two observations are too few.
    while (image->targets.GetSize() > 2)
        image->targets.RemoveAt(0, 1);
    Frame()->RouteCommand(32948, &ui);
    EXPECT_FALSE(ui.enabled);
    image->oriented = true;
    dialogs.push_back([&](CDialog& dialog) {
        ++stationDialogs;
        dialog.OnOK();
        return dialog.result();
    });
    view->Resect();
    EXPECT_EQ(stationDialogs, 2);
    EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Not enough common points for resection."});
    EXPECT_FALSE(image->oriented);
}

TEST_F(ImageViewCommands, AutoScanFindsTheTargetsAndCancelKeepsOldOnes)
{
    SetUpView();
    CProjectImage* image = images[0];
    Frame()->OnCommandId(33025);
    Settle();
    EXPECT_TRUE(TakeMessages().empty());
    EXPECT_TRUE(image->scanned);
    ASSERT_EQ(image->targets.GetSize(), 2);
    for (const auto& t : kTruth) {
        bool found = false;
        for (int i = 0; i < image->targets.GetSize(); ++i) {
            const CImageObservation* o = image->targets.GetAt(i);
            double column = 0.0, row = 0.0;
            camera->ImageToPixel(o->x, o->y, column, row);
            if (std::hypot(column - t[0], row - t[1]) < 0.1) {
                found = true;
                EXPECT_TRUE(IsUnidentifiedLabel(o->label));
            }
        }
        EXPECT_TRUE(found) << t[0] << ", " << t[1];
    }
    // With observations present the question comes first; Cancel keeps them.
    image->targets.Find(image->targets.GetAt(0)->label)->label = CNameBuffer("KEEP");
    image->targets.SortByLabel();
    answers = {IDCANCEL};
    Frame()->OnCommandId(33025);
    EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Previous measurements will be deleted"});
    EXPECT_NE(image->targets.Find(CNameBuffer("KEEP")), nullptr);
    EXPECT_EQ(image->targets.GetSize(), 2);
}

TEST_F(ImageViewCommands, EpipolarLinesAreDrawnOverTheShownPicture)
{
    SetUpView();
    camera->parameters[CAM_C] = 5.0;
    const double up[3] = {0.0, 1.0, 0.0};
    const double stations[2][3] = {{-300.0, 20.0, 900.0}, {350.0, -10.0, 880.0}};
    for (int k = 0; k < 2; ++k) {
        LookAt(*images[k], stations[k], up);
        images[k]->oriented = true;
    }
    const double P[3] = {25.0, -40.0, 15.0};
    double x = 0.0, y = 0.0;
    ProjectPoint(*images[1], *camera, P, x, y);
    images[1]->targets.AddSorted(CImageObservation(CNameBuffer("E"), x, y));
    // The view's own image measures the label too (elsewhere): it gives no line.
    Observe(images[0]->targets, "E", 10.0, 140.0);
    double column = 0.0, row = 0.0;
    ProjectPoint(*images[0], *camera, P, x, y);
    camera->ImageToPixel(x, y, column, row);

    auto answer = [this](const char* text) {
        dialogs.push_back([text](CDialog& d) {
            if (!text) {
                d.OnCancel();
                return d.result();
            }
            Type(d, CEpipolarPointDlg::kLabel, QString::fromLatin1(text));
            d.OnOK();
            return d.result();
        });
    };
    const QColor white(255, 255, 255);
    // Near the point's own image in the shown picture, whatever its zoom.
    auto whiteNearPoint = [&](const QImage& grab) {
        const QPoint at = view->PictureToClient(column, row, view->viewport()->rect()).toPoint();
        return CountColour(grab, QRect(at - QPoint(2, 2), QSize(5, 5)), white);
    };
    for (bool zoomed : {false, true}) {
        SCOPED_TRACE(zoomed ? "zoomed" : "whole picture");
        if (zoomed) {
            Frame()->OnCommandId(32795);
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, ClientPoint(view, column, row));
            Frame()->OnCommandId(32790);
            Settle();
        }
        answer("E");
        Frame()->OnCommandId(32931);
        ASSERT_EQ(view->GetPendingEpipolarLines().size(), 1u);
        const QImage grab = view->viewport()->grab().toImage();
        grab.save(TestOutputFolder() + (zoomed ? QStringLiteral("/EpipolarLineZoomed.png")
                                               : QStringLiteral("/EpipolarLine.png")));
        EXPECT_GT(whiteNearPoint(grab), 0);
        EXPECT_GT(CountColour(grab, grab.rect(), white), 50);
        // The next repaint removes the line.
        EXPECT_TRUE(view->GetPendingEpipolarLines().empty());
        EXPECT_EQ(CountColour(view->viewport()->grab().toImage(), grab.rect(), white), 0);
    }
    answer(nullptr);
    Frame()->OnCommandId(32931);
    EXPECT_TRUE(view->GetPendingEpipolarLines().empty());
    EXPECT_TRUE(dialogs.empty());
}

TEST_F(ImageViewCommands, IntensityFileHoldsTheGreyValuesOfTheShownPart)
{
    SetUpView();
    const QString path = scratch.filePath(QStringLiteral("intensity.txt"));
    auto readLines = [&](const QString& file) {
        QFile f(file);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        EXPECT_TRUE(bytes.endsWith("\r\n"));
        QList<QByteArray> lines = bytes.split('\n');
        lines.removeLast();
        return lines;
    };
    files = {path};
    Frame()->OnCommandId(381);
    QList<QByteArray> lines = readLines(path);
    ASSERT_EQ(lines.size(), picture.height);
    for (int r = 0; r < picture.height; ++r) {
        ASSERT_EQ(lines[r].size(), 4 * picture.width + 1) << r;
        for (int c = 0; c < picture.width; ++c)
            ASSERT_EQ(lines[r].mid(4 * c, 4).trimmed().toInt(), picture.At(r, c)) << r << ", " << c;
    }
    // Zoomed into the bottom-right corner: the visible part, held inside the picture.
    Frame()->OnCommandId(32795);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->viewport()->rect().bottomRight());
    CIntRect visible;
    view->GetHandle()->GetPicture()->GetVisibleRect(visible);
    ASSERT_EQ(visible.right, picture.width);
    files = {path};
    Frame()->OnCommandId(381);
    lines = readLines(path);
    ASSERT_EQ(lines.size(), picture.height - visible.top);
    EXPECT_EQ(lines[0].size(), 4 * (picture.width - visible.left) + 1);
    EXPECT_EQ(lines.last().mid(lines.last().size() - 5, 4).trimmed().toInt(),
              picture.At(picture.height - 1, picture.width - 1));
    // A file that cannot be written is said.
    TakeMessages();
    EXPECT_FALSE(view->WriteIntensityFile(scratch.filePath(QStringLiteral("missing/intensity.txt"))));
    EXPECT_EQ(TakeMessages().size(), 1u);
}

// The intensity file is written whole or not at all: a pipe under its name
// is refused at once and a full disk leaves the old file as it was.
TEST_F(ImageViewCommands, IntensityFileNeverBlocksNorTruncates)
{
    SetUpView();
    const auto output = [&](const QString& path) {
        files = {path};
        QAction* action = Frame()->GetAction(381);
        Frame()->UpdateCmdUI();
        ASSERT_TRUE(action->isEnabled());
        action->trigger();
        Settle();
    };
    const QString pipe = scratch.filePath(QStringLiteral("pipe.txt"));
    ASSERT_EQ(::mkfifo(pipe.toLocal8Bit().constData(), 0600), 0);
    TakeMessages();
    output(pipe);
    std::vector<std::string> messages = TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find(pipe.toStdString()), std::string::npos);
    EXPECT_NE(messages[0].find("pipe"), std::string::npos);
    EXPECT_TRUE(QFileInfo(pipe).exists());

    const QString kept = scratch.filePath(QStringLiteral("kept.txt"));
    {
        QFile f(kept);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("old values\r\n");
    }
    const FileWriteFunction previous = SetFileWriteFunction([](int, const void*, std::size_t) -> ssize_t {
        errno = ENOSPC;
        return -1;
    });
    output(kept);
    SetFileWriteFunction(previous);
    messages = TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find(SystemErrorText(ENOSPC)), std::string::npos);
    QFile f(kept);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("old values\r\n"));
}

TEST_F(ImageViewCommands, EODeviceClicksWalkItsLabelsAndResectAfterTheLast)
{
    SetUpView();
    camera->parameters[CAM_C] = 5.0;
    CProjectImage* image = images[0];
    image->targets.DeleteAll();
    CPointSet truth;
    ObserveNetwork(doc->eoDevice, *image, *camera, false);
    ObserveNetwork(truth, *image, *camera, true);
    CObservationList projected(image->targets);
    image->targets.DeleteAll();
    image->oriented = true;
    view->autoMode = false;
    Frame()->OnCommandId(33038);
    EXPECT_TRUE(view->eoDeviceMode);
    EXPECT_FALSE(image->oriented);
    EXPECT_STREQ(view->GetLabel().GetText(), "P1");
    for (int i = 0; i < 8; ++i) {
        const CImageObservation* o = projected.GetAt(i);
        EXPECT_STREQ(view->GetLabel().GetText(), o->label.GetText());
        double column = 0.0, row = 0.0;
        camera->ImageToPixel(o->x, o->y, column, row);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, ClientPoint(view, column, row));
    }
    Settle();
    EXPECT_EQ(image->CountMarkedObservations(), 8);
    EXPECT_FALSE(view->eoDeviceMode);
    EXPECT_TRUE(image->oriented);
    // Clicks land on whole client pixels, about half a picture pixel (5 um at
    // a principal distance of 5 mm): the station within 2 % of its distance.
    EXPECT_LT(StationError(*image), 18.0);
    EXPECT_TRUE(TakeMessages().empty());
    view->viewport()->grab().save(TestOutputFolder() + QStringLiteral("/ImageViewEODevice.png"));
}

TEST_F(ImageViewCommands, MeasuredFiducialsAreFittedAndAcceptEndsFiducialMode)
{
    SetUpView();
    CProjectImage* image = images[0];
    Frame()->OnCommandId(32945);
    CInteriorOrientationDlg* results = view->GetInteriorOrientationDlg();
    ASSERT_NE(results, nullptr);
    EXPECT_TRUE(results->isVisible());
    view->SetLabel(CNameBuffer("F1"));
    for (const auto& spot : kSpots) {
        Frame()->OnCommandId(32790);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, ClientPoint(view, spot[0], spot[1]));
    }
    Settle();
    EXPECT_EQ(Labels(image->fiducials), (QStringList{"F1", "F2", "F3", "F4"}));
    EXPECT_TRUE(image->targets.GetSize() == 0);
    // Clicks on whole client pixels: the affine fit's residuals stay below a picture pixel.
    EXPECT_EQ(image->transformation.GetSize(), 6);
    EXPECT_LT(results->GetSigma(), camera->XPixelSize);
    EXPECT_FALSE(results->GetList()->item(3, 6)->text().isEmpty());
    ExpectWholeAndSave(*results, QStringLiteral("/ImageViewInteriorOrientation.png"));

    answers = {IDYES};
    results->OnAccept();
    Settle();
    EXPECT_TRUE(image->transformAccepted);
    EXPECT_FALSE(results->isVisible());
    EXPECT_FALSE(view->interiorOrientationMode);
    EXPECT_TRUE(view->autoMode);
    EXPECT_EQ(view->GetMode(), CImageView::MODE_DIGITIZE);
    EXPECT_EQ(view->GetOwnList().GetSize(), 0);
}

// Marks at +-110 mm under labels of 16 characters, measured by clicks far
// from an affine image of them on large pixels: every value of the results shows whole, and
// each caption stands over its two columns.
TEST_F(ImageViewCommands, InteriorOrientationResultsShowWideValuesWholeUnderTheirCaptions)
{
    SetUpView();
    CProjectImage* image = images[0];
    camera->XPixelSize = camera->YPixelSize = 5.0; // observed coordinates of hundreds of mm
    camera->fiducials.DeleteAll();
    const double marks[4][2] = {{-110.0, 110.0}, {110.0, 110.0}, {110.0, -110.0}, {-110.0, -110.0}};
    for (int i = 0; i < 4; ++i) {
        const std::string label = "FIDUCIALMARKNO_" + std::to_string(i + 1);
        camera->fiducials.AddSorted(CImageObservation(CNameBuffer(label.c_str()), marks[i][0], marks[i][1]));
    }
    Frame()->UpdateCmdUI();
    ASSERT_TRUE(Frame()->GetAction(32945)->isEnabled());
    Frame()->GetAction(32945)->trigger();
    CInteriorOrientationDlg* results = view->GetInteriorOrientationDlg();
    ASSERT_NE(results, nullptr);
    view->SetLabel(CNameBuffer("FIDUCIALMARKNO_1"));
    for (const auto& spot : kSpots) {
        Frame()->OnCommandId(32790);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, ClientPoint(view, spot[0], spot[1]));
    }
    Settle();
    ASSERT_EQ(image->fiducials.GetSize(), 4);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(results));
    QTableWidget* list = results->GetList();
    EXPECT_EQ(image->transformation.GetSize(), 6);
    double largest = 0.0;
    for (int i = 0; i < 4; ++i)
        largest = std::max({largest, std::fabs(image->fiducials.GetAt(i)->vx), std::fabs(image->fiducials.GetAt(i)->vy)});
    EXPECT_GE(largest, 10.0) << "residuals of two digits before the point";
    EXPECT_EQ(list->item(0, 1)->text(), QStringLiteral("FIDUCIALMARKNO_1"));
    EXPECT_EQ(CutCells(list), "");
    const struct {
        const char* text;
        int first;
    } captions[] = {{"Control\nCoordinates\n(mm)", 2}, {"Observed\nCoordinates\n(mm)", 4}, {"Residuals\n(mm)", 6}};
    for (const auto& c : captions) {
        const QLabel* caption = nullptr;
        for (const QLabel* label : results->findChildren<QLabel*>())
            if (label->text() == QString::fromLatin1(c.text))
                caption = label;
        ASSERT_NE(caption, nullptr) << c.text;
        EXPECT_EQ(CaptionOffColumns(caption, list, c.first, c.first + 1), "") << c.text;
    }
    ExpectWholeAndSave(*results, QStringLiteral("/InteriorOrientationWideValues.png"));
}

TEST_F(ImageViewCommands, TheTreeForwardsKeysToTheActiveImageView)
{
    SetUpView();
    CKestrelonView* tree = Frame()->GetProjectFrame()->GetTreeView();
    ASSERT_NE(tree, nullptr);
    ASSERT_EQ(GetActiveImageView(), view);
    view->brightnessGain = 1.0;
    QTest::keyClick(tree, Qt::Key_Up);
    EXPECT_EQ(view->brightnessGain, 2.0);
}

} // namespace image_view_test
