// The sample walked end to end as a new user walks it, on the sample the
// sample program writes: start, the camera's images, a measurement by Auto
// click, resection, triangulation and the bundle with its residuals, the 3D
// view, AutoScan with the linking of its targets, the report, and the saved
// project back as it was. A screenshot goes to the test output at each step;
// the times of opening the sample, an image window and the bundle run go to
// the log.
#include "DialogCommand.h"
#include "GLSupport.h"
#include "ShellFixture.h"
#include "WholeTexts.h"

#include "3DView.h"
#include "AdjustmentEngine.h"
#include "BundleDialogs.h"
#include "CameraDialogs.h"
#include "Controls.h"
#include "CorrespondenceDialogs.h"
#include "Frames.h"
#include "ImageView.h"
#include "KestrelonDoc.h"
#include "KestrelonView.h"
#include "ListViews.h"
#include "MeasurementTool.h"
#include "OrientationCommands.h"
#include "PreferencesFile.h"
#include "Resources.h"
#include "SamplePictures.h"
#include "SampleProject.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QSplitter>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace sample_walk_test {

constexpr int kRunTimeout = 300000; // ms; the sanitizer builds are slow

// One observation as the project keeps it.
struct Observation {
    std::string image, label;
    double x, y;
    bool operator==(const Observation& o) const
    {
        return image == o.image && label == o.label && x == o.x && y == o.y;
    }
};

class SampleWalk : public ShellFixture {
protected:
    // The main window's picture in the test output.
    void Shot(const char* name)
    {
        Settle();
        EXPECT_TRUE(Frame()->grab().save(TestOutputFolder() + "/SampleWalk" + name + ".png")) << name;
    }
    static void Log(const char* what, qint64 ms)
    {
        std::printf("[ figure ] %s: %lld ms\n", what, static_cast<long long>(ms));
        std::fflush(stdout);
        ::testing::Test::RecordProperty(what, static_cast<int>(ms));
    }
    QTreeWidgetItem* TreeItem(QTreeWidgetItem* parent, const QString& text)
    {
        for (int i = 0; parent && i < parent->childCount(); ++i)
            if (parent->child(i)->text(0) == text)
                return parent->child(i);
        return nullptr;
    }
    void ClickItem(QTreeWidgetItem* item, bool twice)
    {
        CKestrelonView* tree = Frame()->GetProjectTreeView();
        tree->scrollToItem(item);
        const QPoint at = tree->visualItemRect(item).center();
        QTest::qWait(QApplication::doubleClickInterval() + 50); // apart from the last click
        if (twice)
            QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, at);
        else
            QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at);
        Settle();
    }
    void Activate(QWidget* frame)
    {
        auto* window = qobject_cast<QMdiSubWindow*>(frame);
        ASSERT_NE(window, nullptr);
        Frame()->GetMdiArea()->setActiveSubWindow(window);
        Settle();
    }
    // Pixels of the colour in the grab.
    static int CountColour(const QImage& grab, const QColor& colour)
    {
        int n = 0;
        for (int y = 0; y < grab.height(); ++y)
            for (int x = 0; x < grab.width(); ++x)
                n += grab.pixelColor(x, y) == colour;
        return n;
    }
    static QColor Colour(int32_t c) { return QColor(c & 0xff, (c >> 8) & 0xff, (c >> 16) & 0xff); }
    // The true centre of the target in image k, in image millimetres.
    bool TrueCentre(int k, const char* label, double& x, double& y)
    {
        const CObjectPoint* target = truth.targets.FindPointByText(label);
        CImageObservation o;
        if (!target || !SampleTargetInImage(truth, k, *target, 1.0, o))
            return false;
        x = o.x;
        y = o.y;
        return true;
    }
    // The targets image k shows well inside its frame and inside the visible
    // part of the view.
    std::vector<std::string> ShownTargets(CImageView* view, int k)
    {
        const QRect visible = view->viewport()->rect().adjusted(12, 12, -12, -12);
        std::vector<std::string> shown;
        for (int i = 0; i < truth.targets.GetSize(); ++i) {
            const CObjectPoint& p = *truth.targets.GetAt(i);
            CImageObservation o;
            if (SampleTargetInImage(truth, k, p, 0.98, o, 0.05) &&
                visible.contains(view->ImageToDevice(o.x, o.y, view->viewport()->rect())))
                shown.push_back(p.label.GetText());
        }
        return shown;
    }
    // Types the label into the Point ID box and clicks in Auto mode a pixel
    // off the target's true centre.
    void AutoClick(CImageView* view, int k, const std::string& label, const std::string& target)
    {
        Frame()->UpdateCmdUI(); // as the idle timer does
        QLineEdit* box = Frame()->GetToolBar()->m_PointLabel;
        ASSERT_TRUE(box->isEnabled());
        box->selectAll();
        QTest::keyClicks(box, QString::fromStdString(label));
        EXPECT_EQ(view->GetLabel().GetText(), label);
        double x = 0.0, y = 0.0;
        ASSERT_TRUE(TrueCentre(k, target.c_str(), x, y));
        const QPoint click = view->ImageToDevice(x, y, view->viewport()->rect()) + QPoint(1, -1);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, click);
        Settle();
    }
    std::vector<Observation> Observations() const
    {
        std::vector<Observation> all;
        for (int k = 0; k < doc->images.GetSize(); ++k) {
            const CProjectImage& m = *doc->images.GetAt(k);
            for (int i = 0; i < m.targets.GetSize(); ++i) {
                const CImageObservation& o = *m.targets.GetAt(i);
                all.push_back({m.name.GetText(), o.label.GetText(), o.x, o.y});
            }
        }
        return all;
    }

    CSampleTruth truth;
};

TEST_F(SampleWalk, FromTheFirstStartToTheSavedResult)
{
    BuildSampleTruth(truth);
    const QString folder = scratch.filePath(QStringLiteral("sample"));
    const QString project = folder + QStringLiteral("/Sample.kst");
    std::string message;
    ASSERT_TRUE(::WriteSample(folder.toStdString(), message)) << message;

    // 1. The first window is the main window with the project, clean.
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(Start({QStringLiteral("--nosplash"), project}));
    Log("open the sample", clock.elapsed());
    doc = GetActiveKestrelonDoc();
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(TakeMessages(), std::vector<std::string>{});
    EXPECT_EQ(doc->loadedUnchanged, 1);
    EXPECT_FALSE(doc->IsModified());
    EXPECT_EQ(doc->GetTitle(), QStringLiteral("Sample.kst"));
    ASSERT_NE(Frame()->GetProjectFrame(), nullptr);
    EXPECT_FALSE(Frame()->GetProjectFrame()->windowTitle().contains(QLatin1Char('*')));
    EXPECT_FALSE(Frame()->windowTitle().contains(QLatin1Char('*')));
    Shot("1-Start");
    // The user gives the main window the screen.
    Frame()->resize(1280, 960);
    Settle();

    // 2. The camera's images, and its dialog on a double-click.
    CKestrelonView* tree = Frame()->GetProjectTreeView();
    ASSERT_NE(tree, nullptr);
    QTreeWidgetItem* cameraItem = TreeItem(tree->ProjectRoot(), QStringLiteral("SampleCam"));
    ASSERT_NE(cameraItem, nullptr);
    ClickItem(cameraItem, false);
    auto* images = dynamic_cast<CProjectImagesListView*>(Frame()->GetProjectFrame()->GetRightPane());
    ASSERT_NE(images, nullptr);
    EXPECT_EQ(images->RowCount(), CSampleTruth::kImageCount);
    Shot("2-Images");
    bool cameraDialog = false;
    dialogs.push_back([&](CDialog& d) {
        cameraDialog = dynamic_cast<CCameraDataDlg*>(&d) != nullptr;
        d.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&d));
        ExpectWholeAndSave(d, "/SampleWalk2-CameraDialog.png");
        d.OnCancel();
        return d.result();
    });
    ClickItem(cameraItem, true);
    EXPECT_TRUE(cameraDialog);
    dialogs.clear();
    EXPECT_EQ(TakeMessages(), std::vector<std::string>{});

    // 3. Image001 from the list; "T200" typed; an Auto click on a target.
    images = dynamic_cast<CProjectImagesListView*>(Frame()->GetProjectFrame()->GetRightPane());
    ASSERT_NE(images, nullptr);
    CProjectImage* first = doc->images.FindByName("Image001");
    ASSERT_NE(first, nullptr);
    int row = -1;
    for (int r = 0; r < images->RowCount(); ++r)
        if (images->CellText(r, 0) == QStringLiteral("Image001"))
            row = r;
    ASSERT_GE(row, 0);
    // The row is chosen by a click, then double-clicked.
    const QPoint rowAt = images->visualRect(images->model()->index(row, 0)).center();
    QTest::mouseClick(images->viewport(), Qt::LeftButton, {}, rowAt);
    clock.restart();
    QTest::mouseDClick(images->viewport(), Qt::LeftButton, {}, rowAt);
    Settle();
    CImageView* view = GetActiveImageView();
    ASSERT_NE(view, nullptr);
    ASSERT_EQ(view->GetImageRecord(), first);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view->viewport()));
    view->viewport()->grab();
    Log("open an image window", clock.elapsed());
    Settle();

    std::string target;
    for (const std::string& label : ShownTargets(view, 0))
        if (!first->targets.Find(CNameBuffer(label.c_str())))
            target = label;
    ASSERT_FALSE(target.empty()) << "no unmeasured target in sight";
    double tx = 0.0, ty = 0.0;
    ASSERT_TRUE(TrueCentre(0, target.c_str(), tx, ty));
    AutoClick(view, 0, "T200", target);
    const CImageObservation* measured = first->targets.Find(CNameBuffer("T200"));
    ASSERT_NE(measured, nullptr) << Frame()->GetPaneText(0).toStdString();
    EXPECT_TRUE(measured->measured);
    const double pixel = truth.camera.XPixelSize;
    EXPECT_NEAR(measured->x, tx, 0.05 * pixel) << target;
    EXPECT_NEAR(measured->y, ty, 0.05 * pixel) << target;
    const QImage marked = view->viewport()->grab().toImage();
    EXPECT_EQ(marked.pixelColor(view->ImageToDevice(measured->x, measured->y, view->viewport()->rect())),
              Colour(doc->GetCentroidColor()));
    EXPECT_EQ(TakeMessages(), std::vector<std::string>{});
    Shot("3-AutoClick");

    // 4. Resect All, Triangulate, the bundle, from the project's window; the
    // residuals in the image window.
    Activate(Frame()->GetProjectFrame());
    dialogs.push_back([&](CDialog& d) {
        EXPECT_NE(dynamic_cast<CResectionSummaryDlg*>(&d), nullptr);
        d.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&d));
        ExpectWholeAndSave(d, "/SampleWalk4-Resection.png");
        return int(QDialog::Accepted);
    });
    Frame()->UpdateCmdUI();
    ASSERT_TRUE(Frame()->GetAction(ID_RESECT_ALL)->isEnabled());
    Frame()->GetAction(ID_RESECT_ALL)->trigger();
    Settle();
    dialogs.clear();
    for (int k = 0; k < doc->images.GetSize(); ++k)
        EXPECT_TRUE(doc->images.GetAt(k)->oriented) << k;
    RunDialogCommand<CTriangulateDlg>(dialogs, [&] { Frame()->OnCommandId(33042); }, [&](CTriangulateDlg& d) {
        d.findChild<QPushButton*>(QStringLiteral("id1285"))->click();
        EXPECT_TRUE(d.m_Accept->isEnabled());
        ExpectWholeAndSave(d, "/SampleWalk4-Triangulate.png");
        d.m_Accept->click();
    });
    Settle();
    ASSERT_NE(doc->pointSets.GetTriangulateSet(), nullptr);
    EXPECT_GE(doc->pointSets.GetTriangulateSet()->GetSize(), CSampleTruth::kTargetCount / 2);

    qint64 bundleMs = -1;
    RunDialogCommand<CBundleRunDlg>(dialogs, [&] { doc->OnCmdMsg(32874, nullptr); }, [&](CBundleRunDlg& d) {
        clock.restart();
        QTest::mouseClick(d.Item<QPushButton>(1191), Qt::LeftButton);
        QElapsedTimer limit;
        limit.start();
        while (d.IsRunning() && limit.elapsed() < kRunTimeout) {
            d.OnTimer();
            QThread::msleep(2);
        }
        bundleMs = clock.elapsed();
        ASSERT_FALSE(d.IsRunning());
        EXPECT_EQ(GetWindowText(d.GetDlgItem(1205)), QString::fromLatin1(CBundleRunDlg::kSuccessful));
        ExpectWholeAndSave(d, "/SampleWalk4-Bundle.png");
        QTest::mouseClick(d.Item<QPushButton>(1), Qt::LeftButton);
    });
    Log("run the bundle", bundleMs);
    EXPECT_EQ(TakeMessages(), std::vector<std::string>{});
    EXPECT_EQ(doc->summary.status, BUNDLE_CONVERGED);
    EXPECT_GT(doc->summary.sigma0, 0.7);
    EXPECT_LT(doc->summary.sigma0, 1.3);
    CPointSet* bundle = doc->pointSets.GetBundleSet();
    ASSERT_NE(bundle, nullptr);

    Activate(view->GetParentFrame());
    ASSERT_EQ(GetActiveImageView(), view);
    // Each residual vector long enough to see is drawn in its colour at three
    // quarters of its length from the mark; doubled, at three quarters of
    // the new length, beyond the old tip.
    const QColor vectors = Colour(doc->GetResidualVectorColor());
    auto vectorsDrawn = [&](int& candidates) {
        const QImage grab = view->viewport()->grab().toImage();
        const QRect client = view->viewport()->rect();
        int drawn = 0;
        candidates = 0;
        for (int i = 0; i < first->targets.GetSize(); ++i) {
            const CImageObservation& o = *first->targets.GetAt(i);
            const QPoint from = view->ImageToDevice(o.x, o.y, client);
            const double s = 0.75 * view->residualScale;
            const QPoint at = view->ImageToDevice(o.x + s * o.vx, o.y + s * o.vy, client);
            if ((at - from).manhattanLength() < 12 || !client.contains(at))
                continue;
            ++candidates;
            bool hit = false;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    hit = hit || grab.pixelColor(at + QPoint(dx, dy)) == vectors;
            drawn += hit;
        }
        return drawn;
    };
    int candidates = 0;
    Frame()->OnCommandId(33017); // View Residuals
    Settle();
    const int scale = view->residualScale;
    int drawn = vectorsDrawn(candidates);
    EXPECT_GE(candidates, 10);
    EXPECT_GE(drawn, candidates * 9 / 10);
    Frame()->OnCommandId(33011); // Increase Residuals
    Settle();
    EXPECT_EQ(view->residualScale, 2 * scale);
    drawn = vectorsDrawn(candidates);
    EXPECT_GE(candidates, 10);
    EXPECT_GE(drawn, candidates * 9 / 10);
    Shot("4-Residuals");
    Frame()->grab().save(TestOutputFolder() + "/SampleWalk.png");

    // 5. The bundle's points in the 3D view; a drag turns them.
    QTreeWidgetItem* bundleItem = TreeItem(tree->Data3D(), QStringLiteral("Bundle"));
    ASSERT_NE(bundleItem, nullptr);
    ClickItem(bundleItem, true);
    // The user drags the splitter to give the view room.
    QSplitter* splitter = Frame()->GetProjectFrame()->GetSplitter();
    ASSERT_NE(splitter, nullptr);
    splitter->setSizes({300, splitter->width() - 300});
    Settle();
    auto* scene = dynamic_cast<C3DView*>(Frame()->GetProjectFrame()->GetRightPane());
    ASSERT_NE(scene, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(scene));
    scene->OnCmdMsg(ID_3D_VIEW_CAMERAS, nullptr);
    scene->update();
    QImage picture = scene->grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    const QRgb background = picture.pixel(0, 0);
    auto drawnNear = [&](const QImage& p, QPoint at) {
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if (p.rect().contains(at + QPoint(dx, dy)) && p.pixel(at + QPoint(dx, dy)) != background)
                    return true;
        return false;
    };
    int pointsDrawn = 0;
    for (int i = 0; i < bundle->GetSize(); ++i) {
        const CObjectPoint& p = *bundle->GetAt(i);
        pointsDrawn += drawnNear(picture, ProjectToWindow(*scene, p.x, p.y, p.z));
    }
    EXPECT_GE(pointsDrawn, bundle->GetSize() * 9 / 10);
    int stationsDrawn = 0;
    for (int k = 0; k < doc->images.GetSize(); ++k) {
        const CProjectImage& m = *doc->images.GetAt(k);
        stationsDrawn += drawnNear(picture, ProjectToWindow(*scene, m.X, m.Y, m.Z));
    }
    EXPECT_EQ(stationsDrawn, doc->images.GetSize());
    Shot("5-3DView");
    std::vector<double> modelview(scene->GetLastModelview(), scene->GetLastModelview() + 16);
    const QPoint centre = scene->rect().center();
    QTest::mousePress(scene, Qt::RightButton, {}, centre);
    for (int step = 1; step <= 6; ++step)
        QTest::mouseMove(scene, centre + QPoint(10 * step, 4 * step));
    QTest::mouseRelease(scene, Qt::RightButton, {}, centre + QPoint(60, 24));
    Settle();
    const QImage turned = scene->grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    EXPECT_NE(std::vector<double>(scene->GetLastModelview(), scene->GetLastModelview() + 16), modelview);
    EXPECT_NE(turned, picture);
    Shot("5-3DViewTurned");

    // 6. AutoScan of Image001 and, after Next Image, of Image002: the scan
    // finds the picture's targets; six of them measured by Auto clicks with
    // the labels of their points, Driveback resects the image and labels
    // every other target it found. Every target then has its point, so Find
    // corresponding Points has no image left to link and says so.
    auto nearestTarget = [&](int image, const CImageObservation& o, double& distance) {
        std::string best;
        distance = 1e9;
        for (int i = 0; i < truth.targets.GetSize(); ++i) {
            double x = 0.0, y = 0.0;
            const char* label = truth.targets.GetAt(i)->label.GetText();
            if (!TrueCentre(image, label, x, y))
                continue;
            const double d = std::hypot(o.x - x, o.y - y) / pixel;
            if (d < distance) {
                distance = d;
                best = label;
            }
        }
        return best;
    };
    Activate(view->GetParentFrame());
    CProjectImage* scannedImages[2] = {first, doc->images.FindByName("Image002")};
    ASSERT_NE(scannedImages[1], nullptr);
    for (int k = 0; k < 2; ++k) {
        SCOPED_TRACE(k);
        CProjectImage& image = *scannedImages[k];
        if (k == 1) {
            Frame()->OnCommandId(32959); // Next Image
            Settle();
            ASSERT_EQ(view->GetImageRecord(), &image);
        }
        answers.push_back(IDOK);
        Frame()->OnCommandId(33025); // AutoScan
        Settle();
        EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Previous measurements will be deleted"});
        EXPECT_TRUE(image.scanned);
        EXPECT_FALSE(image.oriented);
        const int scanned = image.targets.GetSize();
        int onTargets = 0;
        for (int i = 0; i < scanned; ++i) {
            double distance = 0.0;
            nearestTarget(k, *image.targets.GetAt(i), distance);
            onTargets += distance < 0.1;
            EXPECT_TRUE(IsUnidentifiedLabel(image.targets.GetAt(i)->label));
        }
        EXPECT_GE(scanned, 20);
        EXPECT_EQ(onTargets, scanned);
        Shot(k == 0 ? "6-AutoScan" : "6-AutoScan2");

        // Six targets spread over the picture, the outermost in six directions.
        const std::vector<std::string> shown = ShownTargets(view, k);
        std::vector<std::string> clicked;
        for (int direction = 0; direction < 6; ++direction) {
            const double a = direction * std::atan(1.0) * 4.0 / 3.0;
            std::string best;
            double reach = -1e9;
            for (const std::string& label : shown) {
                double x = 0.0, y = 0.0;
                TrueCentre(k, label.c_str(), x, y);
                const double r = x * std::cos(a) + y * std::sin(a);
                if (r > reach && std::find(clicked.begin(), clicked.end(), label) == clicked.end()) {
                    reach = r;
                    best = label;
                }
            }
            ASSERT_FALSE(best.empty());
            clicked.push_back(best);
            AutoClick(view, k, best, best);
        }
        EXPECT_EQ(TakeMessages(), std::vector<std::string>{});

        answers.push_back(IDYES);
        Frame()->OnCommandId(32872); // Driveback
        Settle();
        const std::vector<std::string> asked = TakeMessages();
        ASSERT_EQ(asked.size(), 1u);
        EXPECT_EQ(asked[0].rfind("Resection RMS: ", 0), 0u) << asked[0];
        EXPECT_TRUE(image.oriented);
        int labelled = 0;
        for (int i = 0; i < image.targets.GetSize(); ++i) {
            const CImageObservation& o = *image.targets.GetAt(i);
            if (IsUnidentifiedLabel(o.label))
                continue;
            double distance = 0.0;
            EXPECT_EQ(nearestTarget(k, o, distance), o.label.GetText());
            EXPECT_LT(distance, 0.1) << o.label.GetText();
            ++labelled;
        }
        EXPECT_EQ(labelled, image.targets.GetSize());
        EXPECT_GE(labelled, scanned);
    }
    RunDialogCommand<CFindCorrespondingPointsDlg>(dialogs, [&] { doc->OnCmdMsg(33045, nullptr); },
                                                  [&](CFindCorrespondingPointsDlg& d) {
                                                      EXPECT_EQ(d.GetImagesForCalculation().GetSize(), 0);
                                                      ExpectWholeAndSave(d, "/SampleWalk6-Linking.png");
                                                      QTest::mouseClick(d.Item<QPushButton>(1), Qt::LeftButton);
                                                      EXPECT_FALSE(d.IsRunning());
                                                  });
    EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Not enough images for calculation"});
    Shot("6-Linked");

    // 7. The report, then save, close and open again.
    Frame()->OnCommandId(32889);
    Settle();
    const std::vector<std::string> reportMessages = TakeMessages();
    if (opened.isEmpty()) {
        ASSERT_EQ(reportMessages.size(), 1u);
        EXPECT_NE(reportMessages[0].find("Bundle.txt"), std::string::npos) << reportMessages[0];
    } else {
        EXPECT_EQ(QFileInfo(opened.back()).fileName(), QStringLiteral("Bundle.txt"));
        EXPECT_TRUE(QFileInfo::exists(opened.back()));
    }

    doc->residualVectorColour = MakeColour(0, 255, 255);
    doc->autoSavePeriod = 300;
    const std::string preferences = PreferencesToText(*doc);
    const std::vector<Observation> observations = Observations();
    std::vector<std::vector<double>> points, cameras, poses;
    for (int i = 0; i < bundle->GetSize(); ++i)
        points.push_back({bundle->GetAt(i)->x, bundle->GetAt(i)->y, bundle->GetAt(i)->z});
    for (int i = 0; i < doc->cameras.GetSize(); ++i)
        cameras.emplace_back(doc->cameras.GetAt(i)->parameters, doc->cameras.GetAt(i)->parameters + CAM_PARAMETER_COUNT);
    for (int k = 0; k < doc->images.GetSize(); ++k) {
        const CProjectImage& m = *doc->images.GetAt(k);
        poses.push_back({m.X, m.Y, m.Z, m.GetAzimuth(), m.GetElevation(), m.GetRoll()});
    }
    doc->SetModifiedFlag(true);
    Frame()->OnCommandId(57603); // File Save
    Settle();
    EXPECT_FALSE(doc->IsModified());
    Shot("7-Saved");
    doc->OnCloseDocument();
    Settle();
    EXPECT_EQ(GetActiveKestrelonDoc(), nullptr);
    ASSERT_NE(app->OpenDocumentFile(project), nullptr);
    Settle();
    doc = GetActiveKestrelonDoc();
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(TakeMessages(), std::vector<std::string>{});
    EXPECT_FALSE(doc->IsModified());
    EXPECT_EQ(doc->images.GetSize(), CSampleTruth::kImageCount);
    EXPECT_TRUE(Observations() == observations);
    EXPECT_EQ(PreferencesToText(*doc), preferences);
    bundle = doc->pointSets.GetBundleSet();
    ASSERT_NE(bundle, nullptr);
    ASSERT_EQ(static_cast<size_t>(bundle->GetSize()), points.size());
    for (int i = 0; i < bundle->GetSize(); ++i) {
        const CObjectPoint& p = *bundle->GetAt(i);
        const double again[3] = {p.x, p.y, p.z};
        for (size_t a = 0; a < 3; ++a)
            EXPECT_NEAR(again[a], points[size_t(i)][a], 1e-9) << p.label.GetText();
    }
    for (int i = 0; i < doc->cameras.GetSize(); ++i)
        EXPECT_EQ(std::vector<double>(doc->cameras.GetAt(i)->parameters,
                                      doc->cameras.GetAt(i)->parameters + CAM_PARAMETER_COUNT),
                  cameras[size_t(i)]);
    for (int k = 0; k < doc->images.GetSize(); ++k) {
        const CProjectImage& m = *doc->images.GetAt(k);
        const std::vector<double> pose = {m.X, m.Y, m.Z, m.GetAzimuth(), m.GetElevation(), m.GetRoll()};
        for (size_t a = 0; a < pose.size(); ++a)
            EXPECT_NEAR(pose[a], poses[size_t(k)][a], 1e-9) << k;
    }
    Shot("7-Reopened");
}

} // namespace sample_walk_test
