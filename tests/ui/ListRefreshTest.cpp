// The right-hand lists after a record they show has been deleted: a changed
// database record refreshes the lists of every open project, a deleted point
// set leaves the pane at once, and neither is shown while a message box is up.
#include "ContextMenu.h"
#include "ProjectBuilder.h"
#include "ShellFixture.h"
#include "WholeTexts.h"

#include "3DView.h"
#include "CmdTarget.h"
#include "FileIO.h"
#include "Frames.h"
#include "KestrelonView.h"
#include "ListViews.h"
#include "PointList.h"
#include "PointSet.h"
#include "PointSetList.h"
#include "Resources.h"
#include "TransformationDialog.h"
#include "TreeMenus.h"

#include <QAbstractButton>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileInfo>
#include <QMdiArea>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cerrno>
#include <string>
#include <unistd.h>
#include <vector>

namespace list_refresh_test {

using Rows = std::vector<QStringList>;

// Every cell of a list, row by row; painting the list first reads every
// record it shows, as the screen does.
Rows PaintedRows(QAbstractItemView* list)
{
    Rows rows;
    if (!list)
        return rows;
    list->grab();
    const QAbstractItemModel* model = list->model();
    for (int r = 0; r < model->rowCount(); ++r) {
        QStringList row;
        for (int c = 0; c < model->columnCount(); ++c)
            row << model->index(r, c).data().toString().trimmed();
        rows.push_back(row);
    }
    return rows;
}

class ListRefresh : public ShellFixture {
protected:
    struct Project {
        CKestrelonDoc* doc = nullptr;
        CProjectFrame* frame = nullptr;
        CKestrelonView* tree = nullptr;
    };

    // A new project of its own, by File > New.
    Project Open()
    {
        if (!app) {
            EXPECT_TRUE(Start());
        }
        Project p;
        if (!app)
            return p;
        app->OnFileNew();
        Settle();
        p.doc = GetActiveKestrelonDoc();
        p.frame = Frame()->GetProjectFrame();
        p.tree = p.frame ? p.frame->GetTreeView() : nullptr;
        EXPECT_NE(p.tree, nullptr);
        return p;
    }
    void Activate(const Project& p)
    {
        Frame()->GetMdiArea()->setActiveSubWindow(p.frame);
        Settle();
        ASSERT_EQ(Frame()->GetProjectFrame(), p.frame);
    }
    static QTreeWidgetItem* Child(QTreeWidgetItem* parent, const QString& text)
    {
        for (int i = 0; parent && i < parent->childCount(); ++i)
            if (parent->child(i)->text(0) == text)
                return parent->child(i);
        return nullptr;
    }
    // A left click on the item, as the user picks what the pane shows.
    static void Click(CKestrelonView* tree, QTreeWidgetItem* item)
    {
        ASSERT_NE(item, nullptr);
        tree->scrollToItem(item);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(item).center());
        Settle();
    }
    // Right-clicks the item and chooses the command in the menu that opens.
    static bool ChooseFromContextMenu(CKestrelonView* tree, QTreeWidgetItem* item, int id)
    {
        const bool chosen = ::ChooseFromContextMenu(tree, item, id);
        Settle();
        return chosen;
    }
    // Drags the item onto the other with the mouse.
    static void Drag(CKestrelonView* tree, QTreeWidgetItem* from, QTreeWidgetItem* onto)
    {
        ASSERT_NE(from, nullptr);
        ASSERT_NE(onto, nullptr);
        DragItem(tree, from, onto, [tree] { EXPECT_TRUE(tree->IsDragging()); });
        Settle();
    }
    static QAbstractItemView* PaneList(const Project& p)
    {
        CView* right = p.frame->GetRightPane();
        QWidget* widget = right ? right->GetWidget() : nullptr;
        if (auto* list = qobject_cast<QAbstractItemView*>(widget))
            return list;
        return widget ? widget->findChild<QAbstractItemView*>() : nullptr;
    }
    // The database camera "Cam" and, in the project, a camera of the same
    // identifier with other values.
    void CamerasToReplace(CKestrelonDoc* doc)
    {
        for (const char* id : {"Aux", "Cam"}) {
            CCamera* db = app->cameraDatabase.FindByName(id);
            if (!db)
                db = app->cameraDatabase.AddNew();
            db->identifier = id;
            db->cameraType = "Old";
            db->XPixels = 1000;
            db->YPixels = 800;
            db->parameters[CAM_C] = 24.0;
        }
        CCamera* own = AddCamera(*doc, "Cam");
        own->cameraType = "New";
        own->XPixels = 4000;
        own->YPixels = 3000;
        own->XPixelSize = own->YPixelSize = 0.005;
        own->parameters[CAM_C] = 35.5;
        own->parameters[CAM_XP] = 0.125;
        own->parameters[CAM_YP] = -0.25;
    }
    // The rows of the camera lists for the database as it is.
    Rows DatabaseCameraRows() const
    {
        Rows rows;
        for (int i = 0; i < app->cameraDatabase.GetSize(); ++i) {
            const CCamera& c = *app->cameraDatabase.GetAt(i);
            QStringList row;
            for (const QString& cell : {FormatCell("%s", c.identifier.GetText()), FormatCell("%s", c.cameraType.GetText()),
                                        FormatCell("%6d", c.XPixels), FormatCell("%6d", c.YPixels),
                                        FormatCell("%5.3f", c.XPixelSize), FormatCell("%5.3f", c.YPixelSize),
                                        FormatCell("%5.3f", c.parameters[CAM_C]),
                                        FormatCell("%5.3f", c.parameters[CAM_XP]),
                                        FormatCell("%5.3f", c.parameters[CAM_YP])})
                row << cell.trimmed();
            rows.push_back(row);
        }
        return rows;
    }
    // Two projects; B lists the camera database; A holds the camera to
    // replace it with. The action changes the database from A; then B comes
    // to the front and is painted.
    void ReplaceCameraSeenFromAnotherProject(const std::function<void(const Project& a)>& action, const char* picture)
    {
        Project a = Open();
        ASSERT_NE(a.doc, nullptr);
        Project b = Open();
        ASSERT_NE(b.doc, nullptr);
        CamerasToReplace(a.doc);
        a.doc->UpdateAllViews();
        b.doc->UpdateAllViews();
        Click(b.tree, b.tree->CameraDatabase());
        ASSERT_NE(dynamic_cast<CDBaseCamerasListView*>(b.frame->GetRightPane()), nullptr);
        ASSERT_EQ(PaintedRows(PaneList(b)).size(), 2u);

        ASSERT_NO_FATAL_FAILURE(Activate(a));
        answers.push_back(IDYES);
        TakeMessages();
        action(a);
        EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Replace camera <Cam>?"});
        ASSERT_NE(app->cameraDatabase.FindByName("Cam"), nullptr);
        EXPECT_EQ(app->cameraDatabase.FindByName("Cam")->parameters[CAM_C], 35.5);

        ASSERT_NO_FATAL_FAILURE(Activate(b));
        EXPECT_EQ(PaintedRows(PaneList(b)), DatabaseCameraRows());
        EXPECT_TRUE(Frame()->grab().save(TestOutputFolder() + QStringLiteral("/") + QString::fromLatin1(picture)));
    }
};

TEST_F(ListRefresh, UpdateCameraInDatabaseRefreshesTheListsOfEveryProject)
{
    ReplaceCameraSeenFromAnotherProject(
        [](const Project& a) {
            EXPECT_TRUE(ChooseFromContextMenu(a.tree, Child(a.tree->ProjectRoot(), QStringLiteral("Cam")),
                                              ID_TREE_UPDATE_DB_CAMERA));
        },
        "ListRefreshUpdateCamera.png");
}

TEST_F(ListRefresh, ACameraDroppedOnTheDatabaseRefreshesTheListsOfEveryProject)
{
    ReplaceCameraSeenFromAnotherProject(
        [](const Project& a) { Drag(a.tree, Child(a.tree->ProjectRoot(), QStringLiteral("Cam")), a.tree->CameraDatabase()); },
        "ListRefreshDropCamera.png");
}

TEST_F(ListRefresh, AnEODeviceDroppedOnTheDatabaseRefreshesTheListsOfEveryProject)
{
    Project a = Open();
    ASSERT_NE(a.doc, nullptr);
    Project b = Open();
    ASSERT_NE(b.doc, nullptr);
    CEODevice* stored = app->eoDeviceDatabase.AddNew();
    stored->SetName("Probe");
    for (int i = 0; i < 3; ++i)
        stored->AddPointSorted(CObjectPoint(("D" + std::to_string(i + 1)).c_str(), i, 0, 0));
    a.doc->eoDevice.SetName("Probe");
    for (int i = 0; i < 5; ++i)
        a.doc->eoDevice.AddPointSorted(CObjectPoint(("E" + std::to_string(i + 1)).c_str(), 10 + i, 20 + i, 30 + i));
    a.doc->UpdateAllViews();
    b.doc->UpdateAllViews();
    Click(b.tree, Child(b.tree->EODeviceDatabase(), QStringLiteral("Probe")));
    ASSERT_NE(dynamic_cast<C3DDataListView*>(b.frame->GetRightPane()), nullptr);
    ASSERT_EQ(PaintedRows(PaneList(b)).size(), 3u);

    ASSERT_NO_FATAL_FAILURE(Activate(a));
    answers.push_back(IDYES);
    TakeMessages();
    Drag(a.tree, Child(a.tree->Data3D(), QStringLiteral("Probe")), a.tree->EODeviceDatabase());
    EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Replace EO Device <Probe>?"});
    ASSERT_NE(app->eoDeviceDatabase.FindByName("Probe"), nullptr);
    ASSERT_EQ(app->eoDeviceDatabase.FindByName("Probe")->GetSize(), 5);

    // B lists the device that now bears the name.
    ASSERT_NO_FATAL_FAILURE(Activate(b));
    const Rows rows = PaintedRows(PaneList(b));
    ASSERT_EQ(rows.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(rows[std::size_t(i)].value(0), QStringLiteral("E%1").arg(i + 1));
        EXPECT_EQ(rows[std::size_t(i)].value(1).toDouble(), 10 + i);
        EXPECT_EQ(rows[std::size_t(i)].value(3).toDouble(), 30 + i);
    }
    EXPECT_TRUE(Frame()->grab().save(TestOutputFolder() + QStringLiteral("/ListRefreshDropEODevice.png")));
}

// Intersect replaces the listed "Intersected" set while the dialog stays
// open; the main window behind it is resized, so the pane paints.
TEST_F(ListRefresh, IntersectTakesTheSetItDeletesOffThePane)
{
    ASSERT_TRUE(Start({QStringLiteral("--nosplash"), WriteSample()}));
    CKestrelonDoc* doc = GetActiveKestrelonDoc();
    ASSERT_NE(doc, nullptr);
    Project p{doc, Frame()->GetProjectFrame(), Frame()->GetProjectTreeView()};
    ASSERT_EQ(doc->pointSets.GetTriangulateSet(), nullptr);
    const QString folder = FromCp1252(doc->GetProjectDirectory().GetText());
    CPointSet* intersected = AddPointSet(*doc, (folder + QStringLiteral("/Intersected.xyz")).toLatin1().constData());
    for (int i = 0; i < 4; ++i)
        intersected->AddPointSorted(CObjectPoint(("X" + std::to_string(i + 1)).c_str(), i, i, i));
    doc->UpdateAllViews();
    Click(p.tree, Child(p.tree->Data3D(), QStringLiteral("Intersected")));
    ASSERT_EQ(PaintedRows(PaneList(p)).size(), 4u);

    Rows duringDialog{{QStringLiteral("not painted")}};
    dialogs.push_back([&](CDialog& d) {
        d.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&d));
        QTest::mouseClick(d.Item<QPushButton>(1285), Qt::LeftButton);
        EXPECT_EQ(doc->pointSets.FindSetByTitle("Intersected"), nullptr);
        Frame()->resize(Frame()->width() - 40, Frame()->height() - 30);
        QTest::qWait(50);
        duringDialog = PaintedRows(PaneList(p));
        ExpectWholeAndSave(d, QStringLiteral("/ListRefreshIntersect.png"));
        QTest::mouseClick(d.Item<QPushButton>(IDCANCEL), Qt::LeftButton);
        return d.result();
    });
    Frame()->UpdateCmdUI();
    ASSERT_TRUE(Frame()->GetAction(33042)->isEnabled());
    Frame()->GetAction(33042)->trigger();
    Settle();
    EXPECT_TRUE(dialogs.empty());
    EXPECT_EQ(duringDialog, Rows{});
}

// The profile cannot be written: while its message is up, the list that
// showed the database shows what the database holds now.
TEST_F(ListRefresh, AProfileFailureMessageShowsNoRemovedCamera)
{
    struct Case {
        const char* name;
        bool fromTree; // "Update Camera in Database", else the list's "Remove Camera"
    };
    for (const Case c : {Case{"update", true}, Case{"remove", false}}) {
        SCOPED_TRACE(c.name);
        Project a = Open();
        ASSERT_NE(a.doc, nullptr);
        CamerasToReplace(a.doc);
        a.doc->UpdateAllViews();
        Click(a.tree, a.tree->CameraDatabase());
        auto* list = dynamic_cast<CDBaseCamerasListView*>(a.frame->GetRightPane());
        ASSERT_NE(list, nullptr);
        ASSERT_EQ(PaintedRows(list).size(), 2u);

        const FileWriteFunction previous = SetFileWriteFunction([](int, const void*, std::size_t) -> ssize_t {
            errno = ENOSPC;
            return -1;
        });
        Rows shown, expected;
        bool failureShown = false;
        SetMessageBoxHandler([&](const char* text, const char*, unsigned type) {
            if (std::string(text).find("could not be written") != std::string::npos) {
                failureShown = true;
                shown = PaintedRows(PaneList(a));
                expected = DatabaseCameraRows();
                return DefaultMessageAnswer(type);
            }
            return int(IDYES);
        });
        if (c.fromTree) {
            EXPECT_TRUE(ChooseFromContextMenu(a.tree, Child(a.tree->ProjectRoot(), QStringLiteral("Cam")),
                                              ID_TREE_UPDATE_DB_CAMERA));
        } else {
            list->SelectRows({1});
            list->setFocus();
            QTest::keyClick(list, Qt::Key_Delete);
            Settle();
        }
        SetFileWriteFunction(previous);
        SetMessageBoxHandler([this](const char*, const char*, unsigned type) { return DefaultMessageAnswer(type); });
        EXPECT_TRUE(failureShown);
        EXPECT_EQ(shown, expected);
        EXPECT_EQ(app->cameraDatabase.GetSize(), c.fromTree ? 2 : 1);
    }
}

// Compare and Transform replace the result set the pane lists or draws; its
// file cannot be written (a folder of that name is in the way): while the
// message is up the pane shows nothing of the old set.
TEST_F(ListRefresh, AResultWriteFailureMessageShowsNoReplacedSet)
{
    struct Case {
        int id;
        const char* result;
        bool graphic; // the pane draws the set in the 3D view
    };
    for (const Case c : {Case{ID_TREE_COMPARE, "Compare", false}, Case{ID_TREE_TRANSFORM, "Trans", false},
                         Case{ID_TREE_COMPARE, "Compare", true}}) {
        SCOPED_TRACE(testing::Message() << c.result << (c.graphic ? " drawn" : " listed"));
        Project p = Open();
        ASSERT_NE(p.doc, nullptr);
        const QString folder = scratch.filePath(QString::fromLatin1(c.result) + (c.graphic ? "3D" : ""));
        ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/") + QString::fromLatin1(c.result) + QStringLiteral(".xyz")));
        p.doc->SetDocumentPath(folder + QStringLiteral("/Geo.kst"));
        const double points[6][3] = {{0, 0, 0}, {10, 0, 1}, {0, 12, -2}, {3, 4, 9}, {-7, 5, 3}, {8, -6, -4}};
        CPointSet* measured = AddPointSet(*p.doc, (folder + QStringLiteral("/Measured.xyz")).toLatin1().constData());
        CPointSet* old = AddPointSet(*p.doc, (folder + QStringLiteral("/") + QString::fromLatin1(c.result) +
                                              QStringLiteral(".xyz")).toLatin1().constData());
        CPointSet shifted;
        for (int i = 0; i < 6; ++i) {
            const std::string label = "P" + std::to_string(i + 1);
            measured->AddPointSorted(CObjectPoint(label.c_str(), points[i][0], points[i][1], points[i][2]));
            shifted.AddPointSorted(CObjectPoint(label.c_str(), points[i][0] + 1, points[i][1] + 2, points[i][2] + 3));
            old->AddPointSorted(CObjectPoint(("Q" + std::to_string(i)).c_str(), 5, 5, 5));
        }
        const QString file = folder + QStringLiteral("/Shifted.xyz");
        ASSERT_TRUE(shifted.WriteXyzFile(file.toLatin1().constData(), 12, 13, 7));
        p.doc->UpdateAllViews();
        Click(p.tree, Child(p.tree->Data3D(), QString::fromLatin1(c.result)));
        ASSERT_EQ(PaintedRows(PaneList(p)).size(), 6u);
        C3DView* view = nullptr;
        if (c.graphic) {
            EXPECT_TRUE(ChooseFromContextMenu(p.tree, Child(p.tree->Data3D(), QString::fromLatin1(c.result)),
                                              ID_TREE_GRAPHIC_VIEW));
            view = dynamic_cast<C3DView*>(p.frame->GetRightPane());
            ASSERT_NE(view, nullptr);
            ASSERT_EQ(view->GetPointSet(), old);
        }

        files.push_back(file);
        if (c.id == ID_TREE_TRANSFORM)
            dialogs.push_back([](CDialog& d) {
                d.Item<QAbstractButton>(C3DTransformationDlg::kGo)->click();
                d.Item<QAbstractButton>(IDOK)->click();
                return d.result();
            });
        Rows shown{{QStringLiteral("not painted")}};
        SetMessageBoxHandler([&](const char* text, const char*, unsigned type) {
            if (std::string(text).rfind("Can't write", 0) == 0) {
                shown = PaintedRows(PaneList(p));
                if (view) {
                    const CPointSet* drawn = view->GetPointSet();
                    bool live = drawn == nullptr;
                    for (int i = 0; i < p.doc->pointSets.GetSize(); ++i)
                        live = live || p.doc->pointSets.GetAt(i) == drawn;
                    EXPECT_TRUE(live);
                    EXPECT_FALSE(view->grabFramebuffer().isNull());
                }
            }
            return DefaultMessageAnswer(type);
        });
        EXPECT_TRUE(ChooseFromContextMenu(p.tree, Child(p.tree->Data3D(), QStringLiteral("Measured")), c.id));
        SetMessageBoxHandler([](const char*, const char*, unsigned type) { return DefaultMessageAnswer(type); });
        EXPECT_TRUE(files.empty());
        EXPECT_TRUE(dialogs.empty());
        EXPECT_EQ(shown, Rows{});
        ASSERT_NE(p.doc->pointSets.FindSetByTitle(c.result), nullptr);
        EXPECT_EQ(p.doc->pointSets.FindSetByTitle(c.result)->GetSize(), 6);
    }
}

} // namespace list_refresh_test
