// The right-hand lists: cell texts from a project built by hand, the images
// list's commands, the context-menu states and a picture of the sample.
#include "Format.h"
#include "ProjectBuilder.h"
#include "ShellFixture.h"

#include "EllipseRecord.h"
#include "Frames.h"
#include "Hooks.h"
#include "ImageView.h"
#include "KestrelonDoc.h"
#include "KestrelonView.h"
#include "ListViews.h"

#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTest>

#include <cmath>
#include <cstdio>
#include <functional>

namespace {

using Rows = std::vector<QStringList>;

class Lists : public ShellFixture {
protected:
    void NewProject()
    {
        ASSERT_NO_FATAL_FAILURE(ShellFixture::NewProject());
        tree = Frame()->GetProjectTreeView();
        ASSERT_NE(tree, nullptr);
    }
    // Clicks the tree item of that text and returns the right pane's list.
    template <class View>
    View* Show(QTreeWidgetItem* item)
    {
        tree->OnClickItem(item);
        Settle();
        auto* frame = dynamic_cast<CProjectFrame*>(tree->GetParentFrame());
        return frame ? dynamic_cast<View*>(frame->GetRightPane()) : nullptr;
    }
    QTreeWidgetItem* Item(QTreeWidgetItem* parent, const QString& text)
    {
        for (int i = 0; parent && i < parent->childCount(); ++i)
            if (parent->child(i)->text(0) == text)
                return parent->child(i);
        return nullptr;
    }
    static Rows Cells(const CListViewEx& list)
    {
        Rows rows;
        for (int r = 0; r < list.RowCount(); ++r) {
            QStringList row;
            for (int c = 0; c < list.ColumnTitles().size(); ++c)
                row << list.CellText(r, c);
            rows.push_back(row);
        }
        return rows;
    }
    // A camera, three images of it (one with ellipses and disabled scans), one of another camera.
    void BuildProject()
    {
        NewProject();
        for (const char* id : {"CamA", "CamB"}) {
            CCamera* c = AddCamera(*doc, id);
            c->cameraType = "Type ";
            c->cameraType += id;
            c->XPixels = id[3] == 'A' ? 4000 : 640;
            c->YPixels = 3000;
            c->XPixelSize = 0.00345;
            c->YPixelSize = 0.0123;
            c->parameters[CAM_C] = 24.5;
            c->parameters[CAM_XP] = -0.0125;
            c->parameters[CAM_YP] = 0.25;
        }
        for (int i = 0; i < 4; ++i) {
            CProjectImage* image = AddImage(*doc, {i == 2 ? "CamB" : "CamA", true, true, 3 + i, i == 1 ? 2 : 0});
            image->SetPose(1.25 * i, -2.5, 1000.0 / 3.0, 0.1 * i, -0.3, 2.0);
            image->SetFilePath(("/data/set" + std::to_string(i) + "/img" + std::to_string(i) + ".tif").c_str());
        }
        // Scans are labelled with negative numbers.
        CProjectImage* scanned = doc->images.GetAt(1);
        for (int i = 0; i < 2; ++i) {
            scanned->GetObservationAt(i)->label = CNameBuffer(("-" + std::to_string(10 + i)).c_str());
            scanned->GetObservationAt(i)->vx = 0.0013 * (i + 1);
        }
        CTargetEllipse e;
        e.SetAxes(0.04, 0.03, -0.5);
        scanned->GetObservationAt(3)->SetEllipse(e);
        scanned->GetObservationAt(2)->marked = true;
        doc->UpdateAllViews();
    }

    CKestrelonView* tree = nullptr;
};

QStringList CameraRow(const CCamera& c)
{
    return {F("%s", c.identifier.GetText()), F("%s", c.cameraType.GetText()), F("%6d", c.XPixels),
            F("%6d", c.YPixels),             F("%5.3f", c.XPixelSize),        F("%5.3f", c.YPixelSize),
            F("%5.3f", c.parameters[CAM_C]), F("%5.3f", c.parameters[CAM_XP]), F("%5.3f", c.parameters[CAM_YP])};
}

const QStringList kCameraTitles = {"Camera", "Type", "X Pixels", "Y Pixels", "X Pixel Sz",
                                   "Y Pixel Sz", "Focal Length", "xp", "yp"};

TEST_F(Lists, EveryListShowsItsTitlesAndCellsFromTheCollections)
{
    BuildProject();
    const double deg = 180.0 / (4.0 * std::atan(1.0));

    // Project and database cameras.
    auto* cams = Show<CProjectCamerasListView>(tree->ProjectRoot());
    ASSERT_NE(cams, nullptr);
    EXPECT_EQ(cams->ColumnTitles(), kCameraTitles);
    EXPECT_EQ(Cells(*cams), (Rows{CameraRow(*doc->cameras.GetAt(0)), CameraRow(*doc->cameras.GetAt(1))}));
    auto* dbCams = Show<CDBaseCamerasListView>(tree->CameraDatabase());
    ASSERT_NE(dbCams, nullptr);
    Rows dbRows;
    for (int i = 0; i < app->cameraDatabase.GetSize(); ++i)
        dbRows.push_back(CameraRow(*app->cameraDatabase.GetAt(i)));
    EXPECT_EQ(Cells(*dbCams), dbRows);
    auto* bars = Show<CDBaseScalebarsListView>(tree->ScaleBarDatabase());
    ASSERT_NE(bars, nullptr);
    EXPECT_EQ(bars->ColumnTitles(), (QStringList{"Scale Bar", "Length", "Units", "Label1", "Label2"}));
    Rows barRows;
    for (int i = 0; i < app->scaleBarDatabase.GetSize(); ++i) {
        const CScaleBar& b = *app->scaleBarDatabase.GetAt(i);
        barRows.push_back({F("%s", b.name.GetText()), F("%7.2f", b.calibratedLength), F("%s", b.units.GetText()),
                           F("%s", b.endLabel1.GetText()), F("%s", b.endLabel2.GetText())});
    }
    EXPECT_EQ(Cells(*bars), barRows);

    // Images of CamA, with the file name and with the full path.
    auto* images = Show<CProjectImagesListView>(Item(tree->ProjectRoot(), "CamA"));
    ASSERT_NE(images, nullptr);
    for (bool fileName : {true, false}) {
        EXPECT_EQ(images->ColumnTitles(), (QStringList{"Image", fileName ? "FileName" : "Full File Path", "X", "Y", "Z",
                                                       "Azimuth", "Elevation", "Roll", "Observations"}));
        Rows expected;
        for (int i : {0, 1, 3}) {
            const CProjectImage& m = *doc->images.GetAt(i);
            expected.push_back({F("%s", m.name.GetText()),
                                F("%s", fileName ? m.GetFileName().GetText() : m.filePath.GetText()), F("%.3f", m.X),
                                F("%.3f", m.Y), F("%.3f", m.Z), F("%6.3f", 0.1 * i * deg), F("%6.3f", -0.3 * deg),
                                F("%6.3f", 2.0 * deg), F("%d", 3 + i)});
        }
        EXPECT_EQ(Cells(*images), expected);
        images->OnColumnClick(1);
    }
    for (int c : {0, 2, 8})
        images->OnColumnClick(c);
    EXPECT_TRUE(images->ShowsFileName());

    // Observations: plain, then with ellipses and scans last in reverse order.
    for (int i : {0, 1}) {
        auto* obs = Show<CObservationsListView>(Item(Item(tree->ProjectRoot(), "CamA"), F("Image%d", i + 1)));
        ASSERT_NE(obs, nullptr);
        const CProjectImage& m = *doc->images.GetAt(i);
        QStringList titles = {"Point Label", "x", "y", "x residual", "y residual", "radial distance"};
        if (i == 1)
            titles << "a" << "b" << "phi";
        EXPECT_EQ(obs->ColumnTitles(), titles);
        std::vector<int> order;
        for (int k = 0; k < m.targets.GetSize(); ++k)
            if (!m.GetObservationAt(k)->disabled)
                order.push_back(k);
        for (int k = m.targets.GetSize() - 1; k >= 0; --k)
            if (m.GetObservationAt(k)->disabled)
                order.push_back(k);
        Rows expected;
        for (int k : order) {
            const CImageObservation& o = *m.GetObservationAt(k);
            QStringList row = {o.disabled ? F("Scan %d", 10 + (o.label.GetText()[2] - '0'))
                                          : F("%s", o.label.GetText()),
                               F("%f", o.x), F("%f", o.y), F("%f", o.vx * 1000.0), F("%f", o.vy * 1000.0),
                               F("%f", o.radialDistance)};
            if (i == 1)
                row << (o.GetEllipse() ? QStringList{F("%.4f", 0.04), F("%.4f", 0.03), F("%.2f", -0.5 * deg + 180.0)}
                                       : QStringList{"", "", ""});
            expected.push_back(row);
            EXPECT_EQ(obs->CellIcon(int(expected.size()) - 1, 0), o.disabled ? 1 : o.marked ? 2 : 0);
        }
        EXPECT_EQ(Cells(*obs), expected);
        if (i == 1) {
            EXPECT_EQ(expected[2][0], QStringLiteral("Scan 11"));
        }
    }
}

TEST_F(Lists, AnEmptyCollectionClearsTheListAndAnUnselectedImagesListSwallowsKeys)
{
    BuildProject();
    auto* images = Show<CProjectImagesListView>(Item(tree->ProjectRoot(), "CamA"));
    ASSERT_NE(images, nullptr);
    images->setFocus();
    QTest::keyClick(images, Qt::Key_A, Qt::ControlModifier);
    EXPECT_TRUE(images->SelectedRows().empty());
    images->SelectRows({1});
    QTest::keyClick(images, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(images->SelectedRows(), (std::vector<int>{0, 1, 2}));

    auto* cams = Show<CProjectCamerasListView>(tree->ProjectRoot());
    ASSERT_NE(cams, nullptr);
    EXPECT_EQ(cams->RowCount(), 2);
    doc->cameras.RemoveAt(0, 2);
    SendHubMessage(UM_REFRESH_LIST, 0, 0, cams->AsHubTarget());
    EXPECT_EQ(cams->RowCount(), 0);
}

TEST_F(Lists, ImagesListDeletesMarksAndRelinks)
{
    BuildProject();
    auto* images = Show<CProjectImagesListView>(Item(tree->ProjectRoot(), "CamA"));
    ASSERT_NE(images, nullptr);
    doc->SetModifiedFlag(false);
    TakeMessages();

    // Quality: the tree's icon and the "*".
    images->SelectRows({0});
    images->OnSetImageFlag(1);
    Settle();
    EXPECT_TRUE(doc->images.GetAt(0)->qualitySet && doc->images.GetAt(0)->highQuality);
    int icon = 0;
    GetImageIconIndex(true, true, true, true, icon);
    EXPECT_EQ(Item(Item(tree->ProjectRoot(), "CamA"), "Image1")->data(0, kIconIndexRole).toInt(), icon);
    EXPECT_TRUE(doc->GetTitle().endsWith('*'));

    // Relink two images into a folder where only one fits the camera.
    QDir(scratch.path()).mkpath("moved");
    const QString moved = scratch.path() + "/moved";
    for (const char* name : {"img0.tif", "img1.tif"}) {
        QFile f(moved + "/" + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("x");
    }
    auto oldReader = SetImageSizeReader([](const char* path, int& w, int& h) {
        w = QString::fromLatin1(path).endsWith("img0.tif") ? 4000 : 100;
        h = 3000;
        return true;
    });
    auto oldFolder = SetFolderDialogHook([&](QWidget*, const QString& title, const QString&) {
        EXPECT_EQ(title, QStringLiteral("Select new Image File Directory"));
        return moved;
    });
    answers = {IDOK, IDOK, IDOK};
    images->SelectRows({0, 1});
    images->OnRelinkImages();
    SetImageSizeReader(oldReader);
    SetFolderDialogHook(oldFolder);
    const std::vector<std::string> messages = TakeMessages();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0], "This option allows to relink moved images.\nImages must have the same filename in the new "
                           "directory.");
    EXPECT_EQ(messages[2], " 1 Image(s) relinked successful.\n 1 Image(s) were not relinked");
    EXPECT_EQ(QString::fromLatin1(doc->images.GetAt(0)->filePath.GetText()), moved + "/img0.tif");
    EXPECT_EQ(std::string(doc->images.GetAt(1)->filePath.GetText()), "/data/set1/img1.tif");

    // Delete: the question, then the tree removes images and items.
    doc->SetModifiedFlag(false);
    images->SelectRows({0, 2});
    answers = {IDYES};
    images->setFocus();
    QTest::keyClick(images, Qt::Key_Delete);
    Settle();
    EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Do you really want to delete 2 selected Image(s)?"});
    ASSERT_EQ(doc->images.GetSize(), 2);
    EXPECT_EQ(std::string(doc->images.GetAt(0)->name.GetText()), "Image2");
    EXPECT_EQ(Item(tree->ProjectRoot(), "CamA")->childCount(), 1);
    EXPECT_EQ(images->RowCount(), 1);
    EXPECT_TRUE(doc->IsModified());
}

TEST_F(Lists, ContextMenuStatesFollowTheSelection)
{
    BuildProject();
    for (int i = 0; i < 3; ++i) {
        CCamera* c = app->cameraDatabase.AddNew();
        *c = *doc->cameras.GetAt(0);
        c->identifier = ("Extra" + std::to_string(i)).c_str();
    }
    // rows selected -> enabled states of the entries, in menu order
    const struct {
        int selected;
        std::vector<bool> cameras;
        std::vector<bool> observations;
    } table[] = {
        {0, {false, false, false}, {false, false}},
        {1, {true, true, false}, {true, false}},
        {2, {false, true, true}, {true, false}},
        {3, {false, true, false}, {true, false}},
    };
    auto states = [](QMenu* menu) {
        std::vector<bool> enabled;
        for (QAction* a : menu->actions())
            enabled.push_back(a->isEnabled());
        delete menu;
        return enabled;
    };
    auto* dbCams = Show<CDBaseCamerasListView>(tree->CameraDatabase());
    ASSERT_NE(dbCams, nullptr);
    SendHubMessage(UM_REFRESH_LIST, 0, 0, dbCams->AsHubTarget());
    ASSERT_GE(dbCams->RowCount(), 3);
    for (const auto& row : table) {
        std::vector<int> rows;
        for (int r = 0; r < row.selected; ++r)
            rows.push_back(r);
        dbCams->SelectRows(rows);
        EXPECT_EQ(states(dbCams->BuildContextMenu()), row.cameras) << row.selected;
    }
    auto* obs = Show<CObservationsListView>(Item(Item(tree->ProjectRoot(), "CamA"), "Image1"));
    ASSERT_NE(obs, nullptr);
    for (const auto& row : table) {
        std::vector<int> rows;
        for (int r = 0; r < row.selected; ++r)
            rows.push_back(r);
        obs->SelectRows(rows);
        EXPECT_EQ(states(obs->BuildContextMenu()), row.observations) << row.selected;
    }
    // Deleting observations marks the project.
    doc->SetModifiedFlag(false);
    obs->SelectRows({0, 1});
    answers = {IDYES};
    obs->OnDeleteObservations();
    EXPECT_EQ(doc->images.GetAt(0)->targets.GetSize(), 1);
    EXPECT_EQ(obs->RowCount(), 1);
    EXPECT_TRUE(doc->IsModified());
}

TEST_F(Lists, PictureOfTheSampleCamerasImages)
{
    const QString sample = WriteSample();
    ASSERT_TRUE(Start({QStringLiteral("--nosplash"), sample}));
    doc = GetActiveKestrelonDoc();
    tree = Frame()->GetProjectTreeView();
    ASSERT_TRUE(doc && tree);
    auto* images = Show<CProjectImagesListView>(Item(tree->ProjectRoot(), "SampleCam"));
    ASSERT_NE(images, nullptr);
    EXPECT_EQ(images->RowCount(), 10);
    Frame()->resize(1100, 600);
    Settle();
    QDir().mkpath(TestOutputFolder());
    EXPECT_TRUE(images->grab().save(TestOutputFolder() + "/ProjectImagesList.png"));
}

// An image window deletes observations the project window lists: the list
// shows what is left, and never reads the deleted ones when it paints.
TEST_F(Lists, ObservationsFollowDeletionsInTheImageWindow)
{
    ASSERT_TRUE(Start({QStringLiteral("--nosplash"), WriteSample()}));
    doc = GetActiveKestrelonDoc();
    tree = Frame()->GetProjectTreeView();
    ASSERT_TRUE(doc && tree);
    Frame()->resize(1100, 800);
    QTreeWidgetItem* camera = Item(tree->ProjectRoot(), "SampleCam");
    ASSERT_TRUE(camera && camera->childCount() > 1);

    struct Step {
        const char* name;
        std::function<void(CImageView*)> act;
    };
    const Step steps[] = {
        {"delete by area: a drag over the window",
         [](CImageView* view) {
             AfxGetMainFrame()->OnCommandId(32818);
             const QRect r = view->viewport()->rect();
             QTest::mousePress(view->viewport(), Qt::LeftButton, {}, r.topLeft());
             QTest::mouseMove(view->viewport(), r.bottomRight());
             QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, r.bottomRight());
             QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, r.center());
         }},
        {"delete all from the image's menu",
         [this](CImageView*) {
             answers = {IDYES};
             Frame()->OnCommandId(32876);
         }},
    };
    int k = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        QTreeWidgetItem* item = camera->child(k++);
        CProjectImage* image = doc->images.FindByName(ToCp1252(item->text(0)).c_str());
        ASSERT_NE(image, nullptr);
        auto* obs = Show<CObservationsListView>(item);
        ASSERT_NE(obs, nullptr);
        ASSERT_GT(obs->RowCount(), 4);
        CImageView* view = OpenImageWindow(doc, image);
        ASSERT_NE(view, nullptr);
        Settle();
        const int before = image->targets.GetSize();
        step.act(view);
        EXPECT_LT(image->targets.GetSize(), before);
        obs->grab(); // paints every row
        Settle();
        int enabled = 0;
        for (int i = 0; i < image->targets.GetSize(); ++i)
            enabled += !image->GetObservationAt(i)->disabled;
        EXPECT_EQ(obs->RowCount(), enabled);
        for (int r = 0; r < obs->RowCount(); ++r)
            EXPECT_NE(image->FindObservationByText(ToCp1252(obs->CellText(r, 0)).c_str()), nullptr) << r;
        view->GetParentFrame()->close();
        Settle();
    }
}

} // namespace
