// The tree's context menus per item kind, its keys and its rebuild.
#include "ContextMenu.h"
#include "ProjectBuilder.h"
#include "ShellFixture.h"

#include "Frames.h"
#include "ImageView.h"
#include "KestrelonDoc.h"
#include "CreateEmptyImagesDlg.h"
#include "DeviceDialogs.h"
#include "FileIO.h"
#include "Message.h"
#include "KestrelonView.h"
#include "ListViews.h"
#include "PointList.h"
#include "Resources.h"
#include "TreeMenus.h"
#include "PointSet.h"
#include "PointSetList.h"
#include "RelativeOrientationDlg.h"
#include "CmdTarget.h"
#include "Controls.h"
#include "TransformationDialog.h"
#include "TargetRenderer.h"

#include <QFile>
#include <QAbstractButton>
#include <QApplication>
#include <QContextMenuEvent>
#include <QTimer>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenu>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <unistd.h>
#include <functional>
#include <memory>

namespace tree_commands_test {

// A menu as text: "-" for a separator, "~" after a greyed item, "*" after a
// checked one, a submenu as "title>item,item".
QStringList MenuText(const QMenu* menu)
{
    QStringList out;
    for (const QAction* a : menu->actions()) {
        if (a->isSeparator()) {
            out << QStringLiteral("-");
        } else if (a->menu()) {
            out << a->text() + QLatin1Char('>') + MenuText(a->menu()).join(QLatin1Char(','));
        } else {
            QString t = a->text().section(QLatin1Char('\t'), 0, 0);
            if (!a->isEnabled())
                t += QLatin1Char('~');
            if (a->isChecked())
                t += QLatin1Char('*');
            out << t;
        }
    }
    return out;
}

class TreeCommands : public ShellFixture {
protected:
    void NewProject()
    {
        ASSERT_NO_FATAL_FAILURE(ShellFixture::NewProject());
        tree = Frame()->GetProjectTreeView();
        ASSERT_NE(tree, nullptr);
    }
    // Cam1 with Image1 (disabled, high quality, 3 observations, a ".jpg")
    // and Image2 (enabled, 4 observations, a ".tif" on disk); Cam2 without
    // images; the driver set "Drive" and the EO device "Probe".
    void Populate()
    {
        AddCamera(*doc, "Cam1");
        AddCamera(*doc, "Cam2");
        CProjectImage* one = AddImage(*doc, {"Cam1", false, false, 3});
        one->highQuality = true;
        one->SetFilePath(scratch.filePath(QStringLiteral("one.jpg")).toLatin1().constData());
        CProjectImage* two = AddImage(*doc, {"Cam1", true, false, 4});
        two->highQuality = false;
        const QString tif = scratch.filePath(QStringLiteral("two.tif"));
        QFile(tif).open(QIODevice::WriteOnly);
        two->SetFilePath(tif.toLatin1().constData());
        AddPointSet(*doc, scratch.filePath(QStringLiteral("Drive.xyz")).toLatin1().constData())->isDriver = true;
        AddPointSet(*doc, scratch.filePath(QStringLiteral("Other.xyz")).toLatin1().constData());
        doc->eoDevice.SetName("Probe");
        doc->UpdateAllViews();
    }
    // Right-clicks the item and chooses the command in the menu that opens,
    // as the user does. False when the menu had no such enabled command.
    bool ChooseFromContextMenu(QTreeWidgetItem* item, int id)
    {
        const bool chosen = ::ChooseFromContextMenu(tree, item, id);
        Settle();
        return chosen;
    }
    QTreeWidgetItem* Item(const QString& text) const
    {
        const auto found = tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
        return found.isEmpty() ? nullptr : found.first();
    }
    // The project frame active with the focus in the tree, as after a click on it.
    void ActivateTree()
    {
        auto* frame = dynamic_cast<CProjectFrame*>(tree->GetParentFrame());
        ASSERT_NE(frame, nullptr);
        Frame()->GetMdiArea()->setActiveSubWindow(frame);
        tree->setFocus();
        Settle();
        ASSERT_EQ(Frame()->MDIGetActive(), frame);
    }
    // The image views of the project, in the order they were opened.
    std::vector<CImageView*> ImageViews() const
    {
        std::vector<CImageView*> views;
        for (CView* v : doc->GetViews())
            if (auto* view = dynamic_cast<CImageView*>(v))
                views.push_back(view);
        return views;
    }
    CKestrelonView* tree = nullptr;
};

TEST_F(TreeCommands, EveryItemKindGetsItsTrimmedMenu)
{
    NewProject();
    Populate();
    doc->scaleBars.AddNew()->name = "Bar1";
    doc->UpdateAllViews();
    // The residual and intensity entries are greyed while no window shows the image.
    const QStringList imageTail{"-", "View Residuals~", "Increase Residuals~", "Decrease Residuals~", "-",
                                "Output View as Intensity Text file~"};
    const struct {
        const char* item;
        QStringList menu; // empty: no menu
    } cases[] = {
        {"Image1", QStringList{"Edit Exterior Orientation", "Resect~", "Delete Image", "Display Image", "Enable",
                               "Low Quality Image"} + imageTail},
        {"Image2", QStringList{"Edit Exterior Orientation", "Resect", "Delete Image", "Display Image",
                               "Align to Camera", "Disable", "High Quality Image"} + imageTail},
        {"Cam1", {"View Camera Data", "Remove Camera From Project", "Distortion Profiles",
                  "Generate Balanced Distortion Profile...", "Update Camera in Database", "-",
                  "Set Image File Directory", "Set Image Coordinate File Directory", "-", "Create Empty Images",
                  "Export Station Data", "Import Station Data", "-", "AutoScan All Images"}},
        {"Cam2", {"View Camera Data", "Remove Camera From Project", "Distortion Profiles",
                  "Generate Balanced Distortion Profile...", "Update Camera in Database", "-",
                  "Set Image File Directory", "Set Image Coordinate File Directory", "-", "Create Empty Images",
                  "Export Station Data~", "Import Station Data", "-", "AutoScan All Images"}},
        {"Drive", {"Set as>Driver*,Control", "Transform", "Compare", "Graphic View~", "Export DXF...", "-",
                   "Add Stations as Points", "Make Copy"}},
        {"Other", {"Set as>Driver,Control", "Transform", "Compare", "Graphic View~", "Export DXF...", "-",
                   "Add Stations as Points", "Make Copy"}},
        {"Probe", {"Transform", "Compare", "Graphic View~", "Export DXF...", "-", "Properties", "Make Copy"}},
        {"3D Data", {"Import>3D Data File,Driveback File,Control Points File,EO Device", "New"}},
        {"Camera Database", {"Add Camera to Database"}},
        {"ScaleBar Database", {"Add ScaleBar to DataBase"}},
        {"EO Device Database", {"Add EODevice to DataBase", "Import EO Device"}},
        {"Scalebars", {}},
        {"Bar1", {}},
        {"Database", {}},
    };
    for (const auto& c : cases) {
        QTreeWidgetItem* item = Item(QString::fromLatin1(c.item));
        ASSERT_NE(item, nullptr) << c.item;
        std::unique_ptr<QMenu> menu(tree->BuildItemContextMenu(item));
        EXPECT_EQ((menu ? MenuText(menu.get()) : QStringList()).join(QLatin1Char('|')).toStdString(),
                  c.menu.join(QLatin1Char('|')).toStdString())
            << c.item;
        EXPECT_EQ(tree->currentItem(), item) << c.item;
    }
    EXPECT_EQ(tree->BuildItemContextMenu(tree->ProjectRoot()), nullptr);
    EXPECT_EQ(tree->BuildItemContextMenu(nullptr), nullptr);
}

TEST_F(TreeCommands, KeysMoveRemoveAndMarkResected)
{
    NewProject();
    Populate();
    // Up and Down walk the images, the observations list follows (Image1
    // has 3 observations, Image2 4), and they stop at the ends.
    tree->OnClickItem(Item(QStringLiteral("Image2")));
    auto* observations =
        dynamic_cast<CObservationsListView*>(dynamic_cast<CProjectFrame*>(tree->GetParentFrame())->GetRightPane());
    ASSERT_NE(observations, nullptr);
    EXPECT_EQ(observations->RowCount(), 4);
    QTest::keyClick(tree, Qt::Key_Up);
    EXPECT_EQ(tree->currentItem()->text(0), QStringLiteral("Image1"));
    EXPECT_EQ(tree->GetObsImageName(), QStringLiteral("Image1"));
    EXPECT_EQ(observations->RowCount(), 3);
    QTest::keyClick(tree, Qt::Key_Up);
    EXPECT_EQ(tree->currentItem()->text(0), QStringLiteral("Image1"));
    QTest::keyClick(tree, Qt::Key_Down);
    EXPECT_EQ(tree->currentItem()->text(0), QStringLiteral("Image2"));
    EXPECT_EQ(observations->RowCount(), 4);
    // Over the point sets the selection follows the caret.
    tree->setCurrentItem(Item(QStringLiteral("Drive")));
    QTest::keyClick(tree, Qt::Key_Down);
    EXPECT_EQ(tree->currentItem()->text(0), QStringLiteral("Other"));
    EXPECT_EQ(tree->GetSelectedPointSet(), doc->FindPointSet("Other"));

    // Alt+Return on a project scale bar opens the ScaleBars dialog.
    int opened = 0;
    doc->scaleBars.AddNew()->name = "Bar1";
    doc->UpdateAllViews();
    dialogs.push_back([&](CDialog& d) {
        opened = d.GetResourceId();
        return int(QDialog::Rejected);
    });
    tree->setCurrentItem(Item(QStringLiteral("Bar1")));
    QTest::keyClick(tree, Qt::Key_Return, Qt::AltModifier);
    EXPECT_NE(opened, 0);

    // Ctrl+R: resected, its icon and the modified mark.
    doc->SetModifiedFlag(false);
    QTreeWidgetItem* image = Item(QStringLiteral("Image2"));
    const int before = image->data(0, kIconIndexRole).toInt();
    tree->setCurrentItem(image);
    QTest::keyClick(tree, Qt::Key_R, Qt::ControlModifier);
    EXPECT_TRUE(doc->images.FindByName("Image2")->oriented);
    EXPECT_NE(image->data(0, kIconIndexRole).toInt(), before);
    EXPECT_TRUE(doc->IsModified());

    // Delete on a project camera removes it even when an image bears its name.
    doc->images.FindByName("Image1")->name = "Cam2";
    doc->UpdateAllViews();
    for (int k = 0; k < tree->ProjectRoot()->childCount(); ++k)
        if (tree->ProjectRoot()->child(k)->text(0) == QStringLiteral("Cam2"))
            tree->setCurrentItem(tree->ProjectRoot()->child(k));
    ASSERT_EQ(tree->currentItem()->parent(), tree->ProjectRoot());
    QTest::keyClick(tree, Qt::Key_Delete);
    EXPECT_EQ(doc->cameras.FindByName("Cam2"), nullptr);
    EXPECT_EQ(doc->images.GetSize(), 2);
    // Delete on a project camera removes it with its images.
    tree->setCurrentItem(Item(QStringLiteral("Cam1")));
    QTest::keyClick(tree, Qt::Key_Delete);
    EXPECT_EQ(doc->cameras.FindByName("Cam1"), nullptr);
    EXPECT_EQ(doc->images.GetSize(), 0);
    EXPECT_EQ(Item(QStringLiteral("Cam1")), nullptr);
}

// Two images asked for beside Image001.icf and Image002.icf take the next
// free names; a count of 0 adds none and still closes with OK.
TEST_F(TreeCommands, CreateEmptyImagesTakesTheNextFreeNames)
{
    NewProject();
    Populate();
    for (const char* name : {"Image001.icf", "Image002.icf"})
        QFile(scratch.filePath(QString::fromLatin1(name))).open(QIODevice::WriteOnly);
    const struct {
        int count;
        QStringList files;
    } cases[] = {{2, {"Image003.icf", "Image004.icf"}}, {0, {}}};
    for (const auto& c : cases) {
        const int before = doc->images.GetSize();
        const int items = Item(QStringLiteral("Cam2"))->childCount();
        doc->SetModifiedFlag(false);
        dialogs.push_back([&](CDialog& base) {
            auto& d = dynamic_cast<CCreateEmptyImagesDlg&>(base);
            d.Item<QLineEdit>(1061)->setText(QString::number(c.count));
            d.Item<QLineEdit>(1291)->setText(scratch.path());
            d.OnOK();
            return d.result();
        });
        tree->setCurrentItem(Item(QStringLiteral("Cam2")));
        tree->OnCmdMsg(ID_TREE_CREATE_EMPTY_IMAGES, nullptr);
        QStringList files;
        for (int i = before; i < doc->images.GetSize(); ++i) {
            EXPECT_STREQ(doc->images.GetAt(i)->GetCameraName().GetText(), "Cam2");
            files << QFileInfo(QString::fromLatin1(doc->images.GetAt(i)->GetFilePath().GetText())).fileName();
        }
        EXPECT_EQ(files, c.files);
        EXPECT_EQ(Item(QStringLiteral("Cam2"))->childCount(), items + c.count);
        EXPECT_TRUE(doc->IsModified());
    }
}

// The image commands of the menu change the record, its icon and mark the
// project modified.
TEST_F(TreeCommands, ImageMenuCommandsMarkTheProjectModified)
{
    NewProject();
    Populate();
    const struct {
        int id;
        bool CProjectImage::*flag;
    } cases[] = {{ID_TREE_DISABLE_IMAGE, &CProjectImage::enabled}, {ID_TREE_QUALITY, &CProjectImage::highQuality}};
    QTreeWidgetItem* item = Item(QStringLiteral("Image2"));
    CProjectImage* image = doc->images.FindByName("Image2");
    for (const auto& c : cases) {
        doc->SetModifiedFlag(false);
        const bool before = image->*c.flag;
        const int icon = item->data(0, kIconIndexRole).toInt();
        tree->setCurrentItem(item);
        tree->OnCmdMsg(c.id, nullptr);
        EXPECT_EQ(image->*c.flag, !before) << c.id;
        EXPECT_NE(item->data(0, kIconIndexRole).toInt(), icon) << c.id;
        EXPECT_TRUE(doc->IsModified()) << c.id;
    }
}

// Delete Image from an image's menu while the right pane lists its camera's
// images: the list then holds the images left (it held the deleted record).
TEST_F(TreeCommands, DeleteImageLeavesTheImagesListWithTheImagesLeft)
{
    NewProject();
    Populate();
    ASSERT_NO_FATAL_FAILURE(ActivateTree());
    QTreeWidgetItem* camera = Item(QStringLiteral("Cam1"));
    ASSERT_NE(camera, nullptr);
    tree->scrollToItem(camera);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(camera).center());
    Settle();
    auto* images = dynamic_cast<CProjectImagesListView*>(Frame()->GetProjectFrame()->GetRightPane());
    ASSERT_NE(images, nullptr);
    ASSERT_EQ(images->RowCount(), 2);
    QTreeWidgetItem* doomed = Item(QStringLiteral("Image2"));
    QTest::mousePress(tree->viewport(), Qt::RightButton, {}, tree->visualItemRect(doomed).center());
    QTest::mouseRelease(tree->viewport(), Qt::RightButton, {}, tree->visualItemRect(doomed).center());
    Settle();
    answers.push_back(IDYES);
    ASSERT_TRUE(ChooseFromContextMenu(doomed, ID_TREE_DELETE_IMAGE));
    ASSERT_EQ(doc->images.FindByName("Image2"), nullptr);
    images = dynamic_cast<CProjectImagesListView*>(Frame()->GetProjectFrame()->GetRightPane());
    ASSERT_NE(images, nullptr);
    ASSERT_EQ(images->RowCount(), 1);
    EXPECT_EQ(images->CellText(0, 0), QStringLiteral("Image1"));
    // Its commands work on the images left.
    images->SelectRows({0});
    images->OnSetImageFlag(2);
    EXPECT_TRUE(doc->images.FindByName("Image1")->enabled);
}

// Renaming a point set to the title of another raises the number and moves
// the file; a project camera takes a free name only, and its images follow.
TEST_F(TreeCommands, RenamingMovesFilesAndRenamesCameras)
{
    NewProject();
    Populate();
    const QString other = scratch.filePath(QStringLiteral("Other.xyz"));
    QFile(other).open(QIODevice::WriteOnly);
    tree->OnEndLabelEdit(Item(QStringLiteral("Other")), QStringLiteral("Drive"));
    EXPECT_NE(Item(QStringLiteral("Drive1")), nullptr);
    EXPECT_FALSE(QFile::exists(other));
    EXPECT_TRUE(QFile::exists(scratch.filePath(QStringLiteral("Drive1.xyz"))));
    EXPECT_NE(doc->FindPointSet("Drive1"), nullptr);

    tree->OnEndLabelEdit(Item(QStringLiteral("Cam1")), QStringLiteral("Cam2"));
    EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Camera name already used in project!"});
    EXPECT_NE(doc->cameras.FindByName("Cam1"), nullptr);
    tree->OnEndLabelEdit(Item(QStringLiteral("Cam1")), QStringLiteral("CamX"));
    EXPECT_NE(Item(QStringLiteral("CamX")), nullptr);
    EXPECT_STREQ(doc->images.FindByName("Image1")->GetCameraName().GetText(), "CamX");
}

TEST_F(TreeCommands, DropRulesByDraggedBranchAndTarget)
{
    const struct {
        TreeNode from;
        bool eoIcon;
        TreeNode onto;
        bool own;
        DropAction action;
    } cases[] = {
        {NODE_CAMERA_DB, false, NODE_PROJECT, false, DROP_CAMERA_TO_PROJECT},
        {NODE_CAMERA_DB, false, NODE_3D_DATA, false, DROP_BEEP},
        {NODE_CAMERA_DB, false, NODE_CAMERA_DB, true, DROP_NOTHING},
        {NODE_SCALEBAR_DB, false, NODE_PROJECT, false, DROP_SCALEBAR_TO_PROJECT},
        {NODE_SCALEBAR_DB, false, NODE_SCALEBARS, false, DROP_SCALEBAR_TO_PROJECT},
        {NODE_SCALEBAR_DB, false, NODE_EO_DB, false, DROP_BEEP},
        {NODE_EO_DB, false, NODE_3D_DATA, false, DROP_EO_DEVICE_TO_PROJECT},
        {NODE_EO_DB, false, NODE_PROJECT, false, DROP_EO_DEVICE_TO_PROJECT},
        {NODE_EO_DB, false, NODE_SCALEBARS, false, DROP_BEEP},
        {NODE_PROJECT, false, NODE_CAMERA_DB, false, DROP_CAMERA_TO_DATABASE},
        {NODE_PROJECT, false, NODE_DATABASE, false, DROP_CAMERA_TO_DATABASE},
        {NODE_PROJECT, false, NODE_OTHER, false, DROP_BEEP},
        {NODE_3D_DATA, true, NODE_EO_DB, false, DROP_EO_DEVICE_TO_DATABASE},
        {NODE_3D_DATA, true, NODE_PROJECT, false, DROP_BEEP},
        {NODE_3D_DATA, false, NODE_EO_DB, false, DROP_NOTHING},
        {NODE_OTHER, false, NODE_PROJECT, false, DROP_NOTHING},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GetDropAction(c.from, c.eoIcon, c.onto, c.own), c.action)
            << c.from << " " << c.eoIcon << " " << c.onto << " " << c.own;
}

int g_beeps = 0;

// A real drag with the mouse: a database scale bar or camera dropped on the
// project root joins the project; a database camera dropped on "3D Data"
// beeps.
TEST_F(TreeCommands, DraggingWithTheMouse)
{
    NewProject();
    app->scaleBarDatabase.AddNew()->name = "DragBar";
    app->cameraDatabase.AddNew()->identifier = "DragCam";
    doc->UpdateAllViews();
    tree->resize(400, 700);
    tree->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(tree->window()));
    const TreeBeepHook old = SetTreeBeepHook([] { ++g_beeps; });
    g_beeps = 0;
    auto drag = [this](QTreeWidgetItem* from, QTreeWidgetItem* onto) {
        ASSERT_NE(from, nullptr);
        ASSERT_NE(onto, nullptr);
        DragItem(tree, from, onto, [&] {
            EXPECT_TRUE(tree->IsDragging());
            EXPECT_EQ(tree->DropItem(), onto);
        });
        EXPECT_FALSE(tree->IsDragging());
    };
    drag(Item(QStringLiteral("DragBar")), tree->ProjectRoot());
    EXPECT_NE(doc->scaleBars.FindByName("DragBar"), nullptr);
    EXPECT_EQ(g_beeps, 0);
    drag(Item(QStringLiteral("DragCam")), tree->Data3D());
    EXPECT_EQ(g_beeps, 1);
    EXPECT_EQ(doc->cameras.FindByName("DragCam"), nullptr);
    doc->SetModifiedFlag(false);
    drag(Item(QStringLiteral("DragCam")), tree->ProjectRoot());
    EXPECT_NE(doc->cameras.FindByName("DragCam"), nullptr);
    EXPECT_TRUE(doc->IsModified());
    EXPECT_EQ(g_beeps, 1);
    SetTreeBeepHook(old);
}

// Delete over a database record asks, then removes the record and its item.
TEST_F(TreeCommands, DeleteRemovesDatabaseRecordsAfterAsking)
{
    NewProject();
    app->cameraDatabase.AddNew()->identifier = "GoneCam";
    app->scaleBarDatabase.AddNew()->name = "GoneBar";
    app->eoDeviceDatabase.AddNew()->SetName("GoneDev");
    app->eoDeviceDatabase.AddNew()->SetName("NextDev");
    doc->UpdateAllViews();
    const struct {
        const char* item;
        std::function<bool()> present;
    } cases[] = {
        {"GoneCam", [this] { return app->cameraDatabase.FindByName("GoneCam") != nullptr; }},
        {"GoneBar", [this] { return app->scaleBarDatabase.FindByName("GoneBar") != nullptr; }},
        {"GoneDev", [this] { return app->eoDeviceDatabase.FindByName("GoneDev") != nullptr; }},
    };
    for (const auto& c : cases) {
        const QString text = QString::fromLatin1(c.item);
        ASSERT_NE(Item(text), nullptr) << c.item;
        tree->OnClickItem(Item(text));
        answers.push_back(IDYES);
        QTest::keyClick(tree, Qt::Key_Delete);
        EXPECT_EQ(TakeMessages().size(), 1u) << c.item;
        EXPECT_FALSE(c.present()) << c.item;
        EXPECT_EQ(Item(text), nullptr) << c.item;
    }
    // The device after the one removed is selected and listed.
    CEODevice* next = app->eoDeviceDatabase.FindByName("NextDev");
    EXPECT_EQ(tree->GetSelectedPointSet(), next);
    auto* list = dynamic_cast<C3DDataListView*>(dynamic_cast<CProjectFrame*>(tree->GetParentFrame())->GetRightPane());
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->GetListCtrl().GetPointSet(), next);
}

// Stations become points labelled by image; the radius is a thirtieth of the
// set's diagonal, 0 for a set without points; the set file is written.
TEST_F(TreeCommands, AddStationsAsPoints)
{
    NewProject();
    Populate();
    doc->images.FindByName("Image1")->SetPose(0, 0, 0, 0.1, 0.2, 0.3);
    doc->images.FindByName("Image2")->SetPose(3, 4, 12, 1.0, -0.5, 2.0);
    tree->BuildItemContextMenu(Item(QStringLiteral("Other")));
    const CPointSet* set = doc->FindPointSet("Other");
    for (double radius : {0.0, 13.0 / 30.0}) {
        tree->OnCmdMsg(ID_TREE_ADD_STATIONS_AS_POINTS, nullptr);
        ASSERT_EQ(set->GetSize(), 2);
        const CObjectPoint* two = set->GetAt(1);
        EXPECT_STREQ(two->label.GetText(), "IMAGE2"); // labels are upper case
        EXPECT_DOUBLE_EQ(two->z, 12.0);
        EXPECT_NEAR(two->radius, radius, 1e-12);
        EXPECT_NEAR(std::hypot(two->normal[0], two->normal[1], two->normal[2]), 1.0, 1e-12);
    }
    EXPECT_TRUE(QFile::exists(scratch.filePath(QStringLiteral("Other.xyz"))));
    // A file that cannot be written is named; the points stay in the project.
    const std::string unwritable = scratch.filePath(QStringLiteral("missing/Other.xyz")).toStdString();
    doc->FindPointSet("Other")->SetName(CDynString(unwritable.c_str()));
    TakeMessages();
    tree->OnCmdMsg(ID_TREE_ADD_STATIONS_AS_POINTS, nullptr);
    const std::vector<std::string> messages = TakeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find(unwritable), std::string::npos) << messages[0];
    EXPECT_EQ(set->GetSize(), 2);
}

// Transform and Compare run on the set named by the caret: the chosen file
// is the control (or the file compared with); a result adds its set to the
// tree with "3D Data" opened, and a cancelled file choice changes nothing.
TEST_F(TreeCommands, TransformAndCompareRunOnTheCaretSet)
{
    NewProject();
    doc->SetDocumentPath(scratch.filePath(QStringLiteral("Geo.kst")));
    const double points[6][3] = {{0, 0, 0}, {10, 0, 1}, {0, 12, -2}, {3, 4, 9}, {-7, 5, 3}, {8, -6, -4}};
    CPointSet* measured = AddPointSet(*doc, scratch.filePath(QStringLiteral("Measured.xyz")).toLatin1().constData());
    CPointSet shifted; // the same points moved by (1, 2, 3)
    for (int i = 0; i < 6; ++i) {
        const std::string label = "P" + std::to_string(i + 1);
        measured->AddPointSorted(CObjectPoint(label.c_str(), points[i][0], points[i][1], points[i][2]));
        shifted.AddPointSorted(CObjectPoint(label.c_str(), points[i][0] + 1, points[i][1] + 2, points[i][2] + 3));
    }
    const QString file = scratch.filePath(QStringLiteral("Shifted.xyz"));
    ASSERT_TRUE(shifted.WriteXyzFile(file.toLatin1().constData(), 12, 13, 7));
    doc->UpdateAllViews();
    struct Case {
        int id;
        bool chooseFile;
        const char* result; // the set made, null: none
    };
    const Case cases[] = {{ID_TREE_COMPARE, false, nullptr},
                          {ID_TREE_COMPARE, true, "Compare"},
                          {ID_TREE_TRANSFORM, false, nullptr},
                          {ID_TREE_TRANSFORM, true, "Trans"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.id << (c.chooseFile ? " with a file" : " cancelled"));
        tree->setCurrentItem(Item(QStringLiteral("Measured")));
        tree->Data3D()->setExpanded(false);
        files.push_back(c.chooseFile ? file : QString());
        if (c.id == ID_TREE_TRANSFORM && c.chooseFile)
            dialogs.push_back([](CDialog& d) {
                d.Item<QAbstractButton>(C3DTransformationDlg::kGo)->click();
                EXPECT_EQ(GetWindowText(d.GetDlgItem(C3DTransformationDlg::kStatus)),
                          QStringLiteral("Adjustment successful"));
                d.Item<QAbstractButton>(IDOK)->click();
                return d.result();
            });
        tree->OnCmdMsg(c.id, nullptr);
        EXPECT_TRUE(files.empty());
        EXPECT_TRUE(dialogs.empty());
        EXPECT_TRUE(TakeMessages().empty());
        EXPECT_EQ(tree->Data3D()->isExpanded(), c.result != nullptr);
        if (!c.result)
            continue;
        EXPECT_NE(Item(QString::fromLatin1(c.result)), nullptr);
        const CPointSet* made = doc->pointSets.FindSetByTitle(c.result);
        ASSERT_NE(made, nullptr);
        ASSERT_EQ(made->GetSize(), 6);
        for (int i = 0; i < 6; ++i) {
            const CObjectPoint* p = made->GetAt(i);
            if (c.id == ID_TREE_COMPARE) {
                // File minus project.
                EXPECT_EQ(p->discrepancy[0], 1.0);
                EXPECT_EQ(p->discrepancy[1], 2.0);
                EXPECT_EQ(p->discrepancy[2], 3.0);
            } else {
                // Moved onto the control.
                EXPECT_NEAR(p->x, points[i][0] + 1, 1e-9);
                EXPECT_NEAR(p->y, points[i][1] + 2, 1e-9);
                EXPECT_NEAR(p->z, points[i][2] + 3, 1e-9);
            }
        }
    }
    EXPECT_EQ(doc->pointSets.FindSetByTitle("Measured"), measured);
}

TEST_F(TreeCommands, ANewAutoSavePeriodTakesEffectAtTheNextUpdate)
{
    NewProject();
    doc->autoSavePeriod = 45;
    EXPECT_NE(tree->AutoSaveInterval(), 45000);
    doc->UpdateAllViews();
    EXPECT_EQ(tree->AutoSaveInterval(), 45000);
    EXPECT_NE(tree->AutoSaveTimerId(), 0);
}

// A tick saves only a modified project with auto save on; a project never
// saved asks for its file name then.
TEST_F(TreeCommands, AnAutoSaveTickSavesOnlyWhatItShould)
{
    const struct {
        const char* name;
        bool autoSave, modified, named;
        bool answer; // the file dialog, when asked, answers the path
        bool asks, saved;
    } cases[] = {
        {"off", false, true, true, false, false, false},
        {"unmodified", true, false, true, false, false, false},
        {"named", true, true, true, false, false, true},
        {"unnamed", true, true, false, true, true, true},
        {"unnamed, cancelled", true, true, false, false, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NewProject();
        const QString path = scratch.filePath(QString::fromLatin1(c.name) + QStringLiteral(".kst"));
        if (c.named)
            doc->SetDocumentPath(path);
        doc->autoSave = c.autoSave;
        doc->SetModifiedFlag(c.modified);
        const int asked = fileDialogs;
        files.push_back(c.answer ? path : QString());
        tree->OnAutoSaveTimer();
        files.clear();
        EXPECT_EQ(fileDialogs - asked, c.asks ? 1 : 0);
        EXPECT_EQ(QFile::exists(path), c.saved);
        EXPECT_EQ(doc->IsModified(), c.modified && !c.saved);
        doc->SetModifiedFlag(false);
        Stop();
    }
}

// Display Image from the menu, the Return key and a double click: each
// opens a new image window on the image, even when one already shows it.
TEST_F(TreeCommands, DisplayImageOpensANewImageWindowEachTime)
{
    NewProject();
    Populate();
    tree->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(tree->window()));
    const struct {
        const char* how;
        const char* image;
        std::function<void(QTreeWidgetItem*)> open;
    } cases[] = {
        {"command", "Image2", [this](QTreeWidgetItem*) { tree->OnCmdMsg(ID_TREE_DISPLAY_IMAGE, nullptr); }},
        {"Return", "Image1", [this](QTreeWidgetItem*) { QTest::keyClick(tree, Qt::Key_Return); }},
        {"double click", "Image1",
         [this](QTreeWidgetItem* item) {
             tree->scrollToItem(item);
             QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(item).center());
         }},
    };
    std::size_t windows = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        ActivateTree();
        QTreeWidgetItem* item = Item(QString::fromLatin1(c.image));
        tree->setCurrentItem(item);
        c.open(item);
        Settle();
        const std::vector<CImageView*> views = ImageViews();
        ASSERT_EQ(views.size(), ++windows);
        EXPECT_EQ(views.back()->GetImageRecord(), doc->images.FindByName(c.image));
        EXPECT_EQ(views.back()->GetParentFrame()->windowTitle(), QString::fromLatin1(c.image));
    }
    // A point set or a camera opens no image window.
    ActivateTree();
    tree->setCurrentItem(Item(QStringLiteral("Cam2")));
    tree->OnCmdMsg(ID_TREE_DISPLAY_IMAGE, nullptr);
    EXPECT_EQ(ImageViews().size(), windows);
}

// An image shown in a window is neither deleted nor taken with its camera;
// once the window is closed both go, and no selection or adjustment list
// keeps a pointer to them.
TEST_F(TreeCommands, AnOpenImageKeepsItselfAndItsCamera)
{
    NewProject();
    Populate();
    CProjectImage* one = doc->images.FindByName("Image1");
    CProjectImage* two = doc->images.FindByName("Image2");
    CImageView* view = OpenImageWindow(doc, one);
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(tree->IsImageOpen(one, false));
    EXPECT_FALSE(tree->IsImageOpen(two, true));
    EXPECT_TRUE(TakeMessages().empty());

    const std::string refusal =
        "Image Image1 is open in a window and cannot be deleted.\nClose its window first.";
    ActivateTree();
    tree->setCurrentItem(Item(QStringLiteral("Cam1")));
    QTest::keyClick(tree, Qt::Key_Delete);
    EXPECT_EQ(TakeMessages(), std::vector<std::string>{refusal});
    EXPECT_NE(doc->cameras.FindByName("Cam1"), nullptr);
    EXPECT_EQ(doc->images.GetSize(), 2);
    EXPECT_NE(Item(QStringLiteral("Cam1")), nullptr);

    tree->setCurrentItem(Item(QStringLiteral("Image1")));
    answers.push_back(IDYES);
    tree->OnCmdMsg(ID_TREE_DELETE_IMAGE, nullptr);
    EXPECT_EQ(TakeMessages(), (std::vector<std::string>{"Delete Selected Image(s)?", refusal}));
    EXPECT_EQ(doc->images.FindByName("Image1"), one);
    EXPECT_NE(Item(QStringLiteral("Image1")), nullptr);

    // Closed, the camera goes with both images.
    delete view->GetParentFrame();
    Settle();
    EXPECT_FALSE(tree->IsImageOpen(one, false));
    doc->imagePtrs.Add(one);
    doc->imagePtrs.Add(two);
    delete tree->BuildItemContextMenu(Item(QStringLiteral("Cam1")));
    ASSERT_NE(tree->GetSelectedCamera(), nullptr);
    tree->OnCmdMsg(ID_TREE_PRJ_REMOVE_CAMERA, nullptr);
    EXPECT_TRUE(TakeMessages().empty());
    EXPECT_EQ(doc->cameras.FindByName("Cam1"), nullptr);
    EXPECT_EQ(doc->images.GetSize(), 0);
    EXPECT_EQ(doc->imagePtrs.GetSize(), 0);
    EXPECT_EQ(tree->GetSelectedCamera(), nullptr);
    EXPECT_TRUE(doc->IsModified());
}

// Two images with pictures of different sizes (Image1 200 x 150, Image2
// 120 x 90) on the camera "Pic".
void AddPictureImages(CKestrelonDoc& doc, const QTemporaryDir& scratch)
{
    CCamera* camera = AddCamera(doc, "Pic");
    camera->XPixels = 200;
    camera->YPixels = 150;
    camera->XPixelSize = camera->YPixelSize = 0.01;
    const int sizes[2][2] = {{200, 150}, {120, 90}};
    for (int k = 0; k < 2; ++k) {
        const TargetScene scene = DarkDiscScene(sizes[k][0], sizes[k][1], {{40.0, 30.0}}, 5.0, 0.7, 1.0);
        const std::string path = scratch.filePath(QStringLiteral("picture%1.bmp").arg(k)).toStdString();
        ASSERT_TRUE(WritePicture(path, RenderScene(scene)));
        AddImage(doc, {"Pic", true, false, 0})->SetFilePath(path.c_str());
    }
    doc.UpdateAllViews();
}

// "Output View as Intensity Text file" in an image's menu writes the view of
// the window that shows that image (the one active last); while no window
// shows its picture it is greyed.
TEST_F(TreeCommands, IntensityOutputWritesTheWindowOfThatImage)
{
    NewProject();
    ASSERT_NO_FATAL_FAILURE(AddPictureImages(*doc, scratch));
    ActivateTree();
    EXPECT_FALSE(ChooseFromContextMenu(Item(QStringLiteral("Image1")), ID_TREE_INTENSITY_TEXT));
    EXPECT_EQ(fileDialogs, 0);

    CImageView* first = OpenImageWindow(doc, doc->images.FindByName("Image1"));
    CImageView* second = OpenImageWindow(doc, doc->images.FindByName("Image2"));
    CImageView* again = OpenImageWindow(doc, doc->images.FindByName("Image1"));
    ASSERT_TRUE(first && second && again);
    // The first window of Image1 zoomed in: the window active last, "again", shows it whole.
    Frame()->GetMdiArea()->setActiveSubWindow(first->GetParentFrame());
    Frame()->OnCommandId(32795); // Zoom In
    QTest::mouseClick(first->viewport(), Qt::LeftButton, {}, first->viewport()->rect().center());
    Frame()->GetMdiArea()->setActiveSubWindow(again->GetParentFrame());
    Settle();
    const struct {
        const char* image;
        int rows, columns; // of the view written
    } cases[] = {{"Image1", 150, 200}, {"Image2", 90, 120}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.image);
        ActivateTree();
        const QString out = scratch.filePath(QStringLiteral("%1.txt").arg(QLatin1String(c.image)));
        files = {out};
        EXPECT_TRUE(ChooseFromContextMenu(Item(QLatin1String(c.image)), ID_TREE_INTENSITY_TEXT));
        EXPECT_EQ(lastFileDialog.title, QStringLiteral("Output Current View as Intensity Text File"));
        EXPECT_EQ(lastFileDialog.fileName, QStringLiteral("%1.txt").arg(QLatin1String(c.image)));
        QFile file(out);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n');
        ASSERT_EQ(lines.size(), c.rows + 1); // the last line ends the file
        EXPECT_EQ(lines[0].size(), 4 * c.columns + 1) << lines[0].toStdString(); // with the '\r'
        EXPECT_TRUE(lines.last().isEmpty());
    }
    EXPECT_TRUE(TakeMessages().empty());
}

// The residual entries of an image's menu act on the window showing that
// image, the one active last; greyed while none shows it.
TEST_F(TreeCommands, ResidualEntriesActOnTheWindowOfThatImage)
{
    NewProject();
    ASSERT_NO_FATAL_FAILURE(AddPictureImages(*doc, scratch));
    ActivateTree();
    for (int id : {ID_TREE_VIEW_RESIDUALS, ID_TREE_INCREASE_RESIDUALS, ID_TREE_DECREASE_RESIDUALS})
        EXPECT_FALSE(ChooseFromContextMenu(Item(QStringLiteral("Image1")), id)) << id;

    CImageView* first = OpenImageWindow(doc, doc->images.FindByName("Image1"));
    CImageView* other = OpenImageWindow(doc, doc->images.FindByName("Image2"));
    CImageView* last = OpenImageWindow(doc, doc->images.FindByName("Image1"));
    ASSERT_TRUE(first && other && last);
    const int scale = last->residualScale;
    const struct {
        int id;
        bool view;
        int scale;
    } steps[] = {{ID_TREE_VIEW_RESIDUALS, true, scale},
                 {ID_TREE_INCREASE_RESIDUALS, true, 2 * scale},
                 {ID_TREE_INCREASE_RESIDUALS, true, 4 * scale},
                 {ID_TREE_DECREASE_RESIDUALS, true, 2 * scale},
                 {ID_TREE_VIEW_RESIDUALS, false, 2 * scale}};
    for (const auto& s : steps) {
        SCOPED_TRACE(s.id);
        ActivateTree();
        EXPECT_TRUE(ChooseFromContextMenu(Item(QStringLiteral("Image1")), s.id));
        EXPECT_EQ(last->residualView, s.view);
        EXPECT_EQ(last->residualScale, s.scale);
    }
    // The other windows are left as they were.
    EXPECT_FALSE(first->residualView);
    EXPECT_EQ(first->residualScale, scale);
    EXPECT_FALSE(other->residualView);
    EXPECT_EQ(other->residualScale, scale);
    EXPECT_TRUE(TakeMessages().empty());
}

// Delete Image of an image open in a window names the window; of one in
// the relative orientation pair, the dialog.
TEST_F(TreeCommands, DeleteImageNamesWhatHoldsTheImage)
{
    NewProject();
    ASSERT_NO_FATAL_FAILURE(AddPictureImages(*doc, scratch));
    ASSERT_NE(OpenImageWindow(doc, doc->images.FindByName("Image1")), nullptr);
    ActivateTree();
    answers = {IDYES};
    EXPECT_TRUE(ChooseFromContextMenu(Item(QStringLiteral("Image1")), ID_TREE_DELETE_IMAGE));
    EXPECT_EQ(TakeMessages(), (std::vector<std::string>{"Delete Selected Image(s)?",
                                                       "Image Image1 is open in a window and cannot be deleted.\n"
                                                       "Close its window first."}));
    for (QMdiSubWindow* w : Frame()->GetMdiArea()->subWindowList())
        if (dynamic_cast<CChildFrame*>(w))
            delete w;
    Settle();

    tree->ShowRelativeOrientationDialog();
    ASSERT_NE(tree->GetRelativeOrientationDlg(), nullptr);
    ActivateTree();
    answers = {IDYES};
    EXPECT_TRUE(ChooseFromContextMenu(Item(QStringLiteral("Image2")), ID_TREE_DELETE_IMAGE));
    EXPECT_EQ(TakeMessages(), (std::vector<std::string>{"Delete Selected Image(s)?",
                                                       "Image Image2 is used for relative orientation and cannot be "
                                                       "deleted.\nClose the Relative Orientation dialog first."}));
    EXPECT_EQ(doc->images.GetSize(), 2);
    tree->DestroyRelativeOrientationDialog();
    Settle();
}

// Project > Save while an image window is active leaves it active, and the
// image window's commands stay enabled.
TEST_F(TreeCommands, SaveLeavesTheImageWindowActive)
{
    NewProject();
    ASSERT_NO_FATAL_FAILURE(AddPictureImages(*doc, scratch));
    files = {scratch.filePath(QStringLiteral("Saved.kst"))};
    Frame()->OnCommandId(57603); // the first save asks for the name
    ASSERT_FALSE(doc->GetDocumentPath().isEmpty());
    CImageView* view = OpenImageWindow(doc, doc->images.FindByName("Image1"));
    ASSERT_NE(view, nullptr);
    CMDIChildWnd* imageFrame = view->GetParentFrame();
    Frame()->GetMdiArea()->setActiveSubWindow(imageFrame);
    view->GetWidget()->setFocus();
    Settle();
    Frame()->UpdateCmdUI();
    ASSERT_TRUE(Frame()->GetAction(32795)->isEnabled()); // Zoom In
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        doc->SetModifiedFlag(true);
        QTest::keyClick(view->GetWidget(), Qt::Key_S, Qt::ControlModifier); // Save
        Settle();
        EXPECT_FALSE(doc->IsModified());
        EXPECT_EQ(Frame()->MDIGetActive(), imageFrame);
        Frame()->UpdateCmdUI();
        EXPECT_TRUE(Frame()->GetAction(32795)->isEnabled());
    }
    EXPECT_TRUE(TakeMessages().empty());
}

// The relative orientation dialog lists only the images left after a
// camera or an image not shown in its windows is removed.
TEST_F(TreeCommands, RemovedImagesLeaveTheRelativeOrientationLists)
{
    NewProject();
    Populate();
    for (int i = 0; i < 2; ++i)
        AddImage(*doc, {"Cam2", true, false, 0});
    doc->UpdateAllViews();
    tree->ShowRelativeOrientationDialog();
    TakeMessages(); // Image2's file is empty: not a picture
    auto* dlg = dynamic_cast<CRelativeOrientationDlg*>(tree->GetRelativeOrientationDlg());
    ASSERT_NE(dlg, nullptr);
    const auto listed = [dlg] {
        std::vector<const CProjectImage*> images(dlg->m_LeftCombo->GetImages().begin(),
                                                 dlg->m_LeftCombo->GetImages().end());
        EXPECT_EQ(dlg->m_RightCombo->GetImages().size(), images.size());
        return images;
    };
    ASSERT_EQ(listed().size(), 4u);
    CProjectImage* one = doc->images.FindByName("Image1");
    CProjectImage* two = doc->images.FindByName("Image2");
    ActivateTree();
    tree->setCurrentItem(Item(QStringLiteral("Image3")));
    answers.push_back(IDYES);
    QTest::keyClick(tree, Qt::Key_Delete);
    EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Delete Selected Image(s)?"});
    EXPECT_EQ(listed(), (std::vector<const CProjectImage*>{one, two, doc->images.FindByName("Image4")}));
    tree->setCurrentItem(Item(QStringLiteral("Cam2")));
    QTest::keyClick(tree, Qt::Key_Delete);
    EXPECT_EQ(doc->cameras.FindByName("Cam2"), nullptr);
    EXPECT_EQ(listed(), (std::vector<const CProjectImage*>{one, two}));
    EXPECT_EQ(dlg->m_LeftCombo->GetSelectedImage(), one);
    EXPECT_EQ(dlg->m_RightCombo->GetSelectedImage(), two);
}

// Alt+Return on a project camera opens "Camera DataBase" on the project's
// list: any change marks the project modified, a new identifier renames the
// item and the camera of its images; no change leaves the project as it was.
TEST_F(TreeCommands, ProjectCameraPropertiesMarkChanges)
{
    NewProject();
    Populate();
    const struct {
        const char* name;
        std::function<void(CCamera&)> edit;
        const char* item; // the camera's item afterwards
        bool modified;
    } cases[] = {
        {"nothing", [](CCamera&) {}, "Cam1", false},
        {"pixel size", [](CCamera& c) { c.XPixelSize += 0.001; }, "Cam1", true},
        {"identifier", [](CCamera& c) { c.identifier = "CamZ"; }, "CamZ", true},
    };
    const char* current = "Cam1";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        doc->SetModifiedFlag(false);
        int opened = 0;
        dialogs.push_back([&](CDialog& d) {
            opened = d.GetResourceId();
            c.edit(*doc->cameras.FindByName(current));
            return int(QDialog::Accepted);
        });
        tree->setCurrentItem(Item(QString::fromLatin1(current)));
        QTest::keyClick(tree, Qt::Key_Return, Qt::AltModifier);
        EXPECT_NE(opened, 0);
        EXPECT_EQ(doc->IsModified(), c.modified);
        EXPECT_NE(Item(QString::fromLatin1(c.item)), nullptr);
        current = c.item;
    }
    EXPECT_EQ(Item(QStringLiteral("Cam1")), nullptr);
    EXPECT_STREQ(doc->images.FindByName("Image1")->GetCameraName().GetText(), "CamZ");
    EXPECT_STREQ(doc->images.FindByName("Image2")->GetCameraName().GetText(), "CamZ");
}

// "Add EODevice to DataBase" names the new device after a free name with the
// project's unit and opens its properties; "Import EO Device" reads a file
// chosen in the project folder. Either shows the device in the open branch.
TEST_F(TreeCommands, EODeviceDatabaseAdditions)
{
    NewProject();
    doc->SetDocumentPath(scratch.filePath(QStringLiteral("Devices.kst")));
    ASSERT_FALSE(doc->GetUnitName(false).IsEmpty());
    const QString eod = scratch.filePath(QStringLiteral("FRAME.eod"));
    {
        QFile file(eod);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("P1 0 0 0\r\nP2 100.5 0 0\r\nP3 0 200.25 0\r\n");
    }
    const struct {
        int id;
        QString file;      // the file dialog's answer
        const char* added; // null: nothing added
        int points;
    } cases[] = {
        {ID_TREE_DB_ADD_EO_DEVICE, {}, "New EO Device", 0},
        {ID_TREE_DB_ADD_EO_DEVICE, {}, "New EO Device1", 0},
        {ID_TREE_DB_IMPORT_EO_DEVICE, QString(), nullptr, 0},
        {ID_TREE_DB_IMPORT_EO_DEVICE, eod, "FRAME", 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.added ? c.added : "cancelled");
        const int before = app->eoDeviceDatabase.GetSize();
        QString shown;
        if (c.id == ID_TREE_DB_ADD_EO_DEVICE)
            dialogs.push_back([&](CDialog& d) {
                shown = dynamic_cast<CEODevicePropertiesDlg&>(d).m_NameCombo->currentText();
                return int(QDialog::Rejected);
            });
        else
            files.push_back(c.file);
        tree->setCurrentItem(tree->EODeviceDatabase());
        tree->OnCmdMsg(c.id, nullptr);
        EXPECT_TRUE(dialogs.empty());
        EXPECT_TRUE(files.empty());
        EXPECT_TRUE(TakeMessages().empty());
        if (!c.added) {
            EXPECT_EQ(app->eoDeviceDatabase.GetSize(), before);
            continue;
        }
        ASSERT_EQ(app->eoDeviceDatabase.GetSize(), before + 1);
        const CEODevice* device = app->eoDeviceDatabase.GetAt(before);
        EXPECT_STREQ(device->GetName().GetText(), c.added);
        EXPECT_EQ(device->GetSize(), c.points);
        QTreeWidgetItem* branch = tree->EODeviceDatabase();
        ASSERT_EQ(branch->childCount(), before + 1);
        EXPECT_EQ(branch->child(before)->text(0), QString::fromLatin1(c.added));
        if (c.id == ID_TREE_DB_ADD_EO_DEVICE) {
            EXPECT_EQ(shown, QString::fromLatin1(c.added));
            EXPECT_STREQ(device->GetUnit().GetText(), doc->GetUnitName(false).GetText());
        } else {
            EXPECT_EQ(lastFileDialog.title, QStringLiteral("Browse EO Device Files"));
            EXPECT_EQ(lastFileDialog.filter, QStringLiteral("EO Device Files (*.eod)"));
            EXPECT_EQ(QDir(lastFileDialog.folder), QDir(scratch.path()));
            EXPECT_TRUE(lastFileDialog.open);
        }
    }
    // The added devices reached the profile file.
    QFile profile(QString::fromStdString(app->GetProfilePath()));
    ASSERT_TRUE(profile.open(QIODevice::ReadOnly));
    const QByteArray text = profile.readAll();
    EXPECT_TRUE(text.contains("New EO Device1"));
}

// A database edit whose profile cannot be written is told with the file and
// the reason and stays in memory; the save at the end offers to try again
// and then writes it.
TEST_F(TreeCommands, DatabaseEditsSurviveAProfileThatCannotBeWritten)
{
    NewProject();
    std::atomic<bool> fullDisk{true};
    const FileWriteFunction previous = SetFileWriteFunction([&](int fd, const void* data, std::size_t size) -> ssize_t {
        if (fullDisk) {
            errno = ENOSPC;
            return -1;
        }
        return ::write(fd, data, size);
    });
    const std::string profile = app->GetProfilePath();
    const std::string failure = "The profile file " + profile + " could not be written: " + SystemErrorText(ENOSPC) + ".";
    dialogs.push_back([](CDialog&) { return int(QDialog::Rejected); });
    TakeMessages();
    ASSERT_TRUE(ChooseFromContextMenu(tree->EODeviceDatabase(), ID_TREE_DB_ADD_EO_DEVICE));
    EXPECT_EQ(TakeMessages(), std::vector<std::string>{failure + "\nThe database changes are kept and written again "
                                                                 "with the next change and when the program ends."});
    ASSERT_NE(app->eoDeviceDatabase.FindByName("New EO Device"), nullptr);
    QFile file(QString::fromStdString(profile));
    EXPECT_FALSE(file.open(QIODevice::ReadOnly) && file.readAll().contains("New EO Device"));
    file.close();

    // At the end: the first save fails, the user tries again with room on the disk.
    std::vector<std::string> asked;
    SetMessageBoxHandler([&](const char* text, const char*, unsigned type) {
        asked.emplace_back(text);
        if ((type & MB_TYPEMASK) == MB_YESNO && asked.back().find("Try again?") != std::string::npos) {
            fullDisk = false;
            return int(IDYES);
        }
        return DefaultMessageAnswer(type);
    });
    Stop();
    SetFileWriteFunction(previous);
    const std::string retry = failure + "\nThe database changes will be lost. Try again?";
    EXPECT_EQ(std::count(asked.begin(), asked.end(), retry), 1);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("New EO Device"));
}

// "Export DXF..." onto a name it cannot write says which file and why.
TEST_F(TreeCommands, ExportDxfThatCannotBeWrittenSaysWhy)
{
    NewProject();
    Populate();
    QTreeWidgetItem* item = Item(QStringLiteral("Other"));
    ASSERT_NE(item, nullptr);
    const QString blocked = scratch.filePath(QStringLiteral("blocked.dxf"));
    ASSERT_TRUE(QDir().mkpath(blocked));
    files = {blocked};
    TakeMessages();
    ASSERT_TRUE(ChooseFromContextMenu(item, ID_TREE_EXPORT_DXF));
    EXPECT_EQ(TakeMessages(),
              std::vector<std::string>{"Cannot write " + blocked.toStdString() + ": it is a folder, not a file"});
    EXPECT_TRUE(QFileInfo(blocked).isDir());
}

// While the tree is the active view it refreshes the other views on "Full
// Image View", shows the About box, and keeps the image windows' commands
// and toolbar fields off, though an image window had turned the fields on.
TEST_F(TreeCommands, TheTreeAsActiveViewTakesAndTurnsOffCommands)
{
    NewProject();
    Populate();
    CMainToolBar* bar = Frame()->GetToolBar();
    QWidget* const fields[] = {bar->m_PointLabel, bar->m_PointIncrement, bar->m_CentroidWindow, bar->m_ImageQuality};
    ASSERT_NE(OpenImageWindow(doc, doc->images.FindByName("Image2")), nullptr);
    Settle();
    Frame()->UpdateCmdUI();
    for (QWidget* field : fields)
        EXPECT_TRUE(field->isEnabled()) << field->objectName().toStdString();

    ActivateTree();
    Frame()->UpdateCmdUI();
    for (QWidget* field : fields)
        EXPECT_FALSE(field->isEnabled()) << field->objectName().toStdString();
    for (const int id : {int(ID_TREE_MAGNIFIED_VIEW), int(ID_TREE_DRIVEBACK)})
        EXPECT_FALSE(Frame()->GetAction(id)->isEnabled()) << id;
    EXPECT_TRUE(Frame()->GetAction(ID_TREE_FULL_VIEW)->isEnabled());

    // Full Image View: the list of cameras takes a camera added behind the
    // views' backs; the tree, the sender, is not rebuilt.
    tree->OnClickItem(tree->ProjectRoot());
    auto* cameras =
        dynamic_cast<CProjectCamerasListView*>(dynamic_cast<CProjectFrame*>(tree->GetParentFrame())->GetRightPane());
    ASSERT_NE(cameras, nullptr);
    EXPECT_EQ(cameras->RowCount(), 2);
    AddCamera(*doc, "Cam3");
    ActivateTree();
    Frame()->GetAction(ID_TREE_FULL_VIEW)->trigger();
    EXPECT_EQ(cameras->RowCount(), 3);
    EXPECT_EQ(Item(QStringLiteral("Cam3")), nullptr);

    int about = 0;
    dialogs.push_back([&](CDialog& d) {
        about = d.GetResourceId();
        return int(QDialog::Accepted);
    });
    EXPECT_TRUE(tree->OnCmdMsg(ID_APP_ABOUT, nullptr));
    EXPECT_EQ(about, int(IDD_ABOUTBOX));
}

// "..." asks for an image coordinate file in the dialog's folder and keeps
// the chosen file's folder; Cancel keeps the folder typed.
TEST_F(TreeCommands, CreateEmptyImagesBrowseTakesTheChosenFolder)
{
    NewProject();
    CCamera* camera = AddCamera(*doc, "Cam");
    const QString other = scratch.filePath(QStringLiteral("coordinates"));
    ASSERT_TRUE(QDir().mkpath(other));
    const struct {
        QString typed;
        QString chosen;
        QString folder;
    } cases[] = {
        {scratch.path(), other + QStringLiteral("/Image007.icf"), other},
        {other, QString(), other},
    };
    for (const auto& c : cases) {
        CCreateEmptyImagesDlg d(tree, camera, doc);
        d.OnInitDialog();
        d.Item<QLineEdit>(1291)->setText(c.typed);
        files.push_back(c.chosen);
        d.Item<QAbstractButton>(1406)->click();
        EXPECT_EQ(lastFileDialog.title, QStringLiteral("Select Image File Directory"));
        EXPECT_EQ(lastFileDialog.folder, c.typed);
        EXPECT_EQ(lastFileDialog.filter, QStringLiteral("Image coordinate files (*.icf);;All Files (*.*)"));
        EXPECT_EQ(d.Item<QLineEdit>(1291)->text(), c.folder);
        d.Item<QLineEdit>(1061)->setText(QStringLiteral("1"));
        d.OnOK();
        EXPECT_EQ(QString::fromLatin1(doc->images.GetAt(doc->images.GetSize() - 1)->GetFilePath().GetText()),
                  c.folder + QStringLiteral("/Image001.icf"));
    }
}

// Delete on a point set: a control set leaves the network free; the
// selection moves to the next set, else the previous one, else none (the
// tree is then rebuilt).
TEST_F(TreeCommands, DeletingPointSetsMovesTheCaretAndFreesTheNetwork)
{
    NewProject();
    for (const char* name : {"A.xyz", "B.xyz", "C.xyz"})
        AddPointSet(*doc, scratch.filePath(QString::fromLatin1(name)).toLatin1().constData());
    doc->FindPointSet("B")->isControl = true;
    doc->UpdateAllViews();
    const struct {
        const char* deleted;
        const char* selected; // the selected set after it, null: none
        bool freeNetwork;
    } cases[] = {
        {"A", "B", false}, // the control set B stays
        {"B", "C", true},
        {"C", nullptr, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.deleted);
        doc->settings.freeNetwork = false;
        tree->OnClickItem(Item(QString::fromLatin1(c.deleted)));
        auto* list =
            dynamic_cast<C3DDataListView*>(dynamic_cast<CProjectFrame*>(tree->GetParentFrame())->GetRightPane());
        ASSERT_NE(list, nullptr);
        QTest::keyClick(tree, Qt::Key_Delete);
        EXPECT_EQ(doc->FindPointSet(c.deleted), nullptr);
        EXPECT_EQ(Item(QString::fromLatin1(c.deleted)), nullptr);
        CPointSet* selected = c.selected ? doc->FindPointSet(c.selected) : nullptr;
        EXPECT_EQ(tree->GetSelectedPointSet(), selected);
        EXPECT_EQ(list->GetListCtrl().GetPointSet(), selected);
        EXPECT_EQ(doc->settings.freeNetwork, c.freeNetwork);
    }
}

TEST_F(TreeCommands, PictureOfAnImageMenuOnTheSample)
{
    const QString sample = WriteSample();
    ASSERT_TRUE(Start({QStringLiteral("--nosplash"), sample}));
    CKestrelonView* view = Frame()->GetProjectTreeView();
    ASSERT_NE(view, nullptr);
    const auto found = view->findItems(QStringLiteral("Image001"), Qt::MatchExactly | Qt::MatchRecursive);
    ASSERT_FALSE(found.isEmpty());
    std::unique_ptr<QMenu> menu(view->BuildItemContextMenu(found.first()));
    ASSERT_NE(menu, nullptr);
    menu->popup(view->mapToGlobal(QPoint(40, 40)));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(menu.get()));
    const QString path = TestOutputFolder() + QStringLiteral("/tree-image-menu.png");
    EXPECT_TRUE(menu->grab().save(path));
    menu->close();
}

} // namespace tree_commands_test
