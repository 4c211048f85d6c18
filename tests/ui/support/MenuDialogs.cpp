#include "MenuDialogs.h"

#include "Frames.h"
#include "ImageView.h"
#include "KestrelonApp.h"
#include "KestrelonDoc.h"
#include "KestrelonView.h"
#include "MainFrame.h"
#include "TreeMenus.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QTest>
#include <QTreeWidgetItem>

#include <algorithm>
#include <cctype>

const std::vector<MenuDialogRow>& MenuDialogRows()
{
    static const std::vector<MenuDialogRow> rows = {
        {"Preferences", "Kestrelon Preferences", 32887, MAIN_MENU},
        {"About", "About Kestrelon", 57664, MAIN_MENU},
        {"Automatic Measurement", "Automatic Measurement", 33064, MAIN_MENU},
        {"Find corresponding points", "Find corresponding Points", 33045, MAIN_MENU},
        {"Simulate Images", "Simulate Images", 33085, MAIN_MENU},
        {"Centroid Info", "Centroid Calculation Parameters", 32789, MAIN_MENU},
        {"Point Status", "Point Status", 33084, MAIN_MENU},
        {"Resect All Project Images", "Resection Summary", 32870, MAIN_MENU},
        {"Triangulate", "Triangulate", 33042, MAIN_MENU},
        {"Run Bundle", "Bundle Adjustment", 32874, MAIN_MENU},
        {"Simulation Bundle", "Simulation Bundle", 359, MAIN_MENU},
        {"Run Bundle, while it runs", "Bundle Adjustment", 32874, MAIN_MENU, nullptr, nullptr, 0, 1191},
        {"Adjustment Controls", "Adjustment Control Variables", 32873, MAIN_MENU},
        {"database camera: View Camera Data", "Camera DataBase", ID_TREE_DB_VIEW_CAMERA, TREE_MENU, "SampleCam",
         "Camera Database"},
        {"project camera: View Camera Data", "Camera DataBase", ID_TREE_PRJ_VIEW_CAMERA, TREE_MENU, "SampleCam",
         "Sample.kst"},
        {"Generate Balanced Distortion Profile", "Balanced Distortion", ID_TREE_BALANCED_DISTORTION, TREE_MENU,
         "SampleCam", "Sample.kst"},
        {"Create Empty Images", "Create Empty Images", ID_TREE_CREATE_EMPTY_IMAGES, TREE_MENU, "SampleCam",
         "Sample.kst"},
        {"image: Edit Exterior Orientation", "EDIT CAMERA STATION", ID_TREE_EDIT_EO, TREE_MENU, "Image001"},
        {"image: Resect", "Resect Camera Station", ID_TREE_RESECT, TREE_MENU, "Image001"},
        {"point set: Transform", "3D Transformation", ID_TREE_TRANSFORM, TREE_MENU, "Control"},
        {"Add ScaleBar to DataBase", "ScaleBars Dialog", ID_TREE_DB_ADD_SCALEBAR, TREE_MENU, "ScaleBar Database"},
        {"Print Setup", "Page Setup", 57606, MAIN_MENU},
        {"image window: Print", "Print", 57607, IMAGE_WINDOW_MENU},
        {"image window: Print Preview", "Print Preview", 57609, IMAGE_WINDOW_MENU},
        {"image window: Delete Measurements By Label", "Delete Point", 32819, IMAGE_WINDOW_MENU},
        {"image window: Edit Exterior Orientation", "EDIT CAMERA STATION", 32851, IMAGE_CONTEXT_MENU},
        {"image window: Resect", "Resect Camera Station", 32948, IMAGE_CONTEXT_MENU},
        {"Add Camera to Database", "Camera Input", ID_TREE_DB_ADD_CAMERA, TREE_MENU, "Camera Database"},
        {"database cameras list: View Camera Data", "Camera DataBase", 367, PANE_MENU, "Camera Database", nullptr, 1},
        {"point list: Distance", "Kestrelon", 32977, PANE_MENU, "Control", nullptr, 2},
        {"point list: Add Point", "Edit 3D Point", 32997, PANE_MENU, "Control", nullptr, 0},
        {"point list: Statistical Summary", "Statistical Summary of 3D Points", 336, PANE_MENU, "Control", nullptr, 2},
        {"point list: Properties", "Edit 3D Point", 33063, PANE_MENU, "Control", nullptr, 1},
        {"point list: Rename incl. Observations", "Rename Point with Observation", 33061, PANE_MENU, "Control", nullptr,
         1},
    };
    return rows;
}

void PrintTo(const MenuDialogRow& row, std::ostream* out)
{
    *out << row.what;
}

std::string MenuRowName(const MenuDialogRow& row)
{
    std::string name;
    for (const char* c = row.what; *c; ++c)
        if (std::isalnum(static_cast<unsigned char>(*c)))
            name += *c;
    return name;
}

void PrepareSampleForMenuRows(CKestrelonApp& app)
{
    app.cameraDatabase.AddCopy(*GetActiveKestrelonDoc()->cameras.GetAt(0));
    GetProjectTreeView()->RebuildCameraDatabaseBranch();
    GetProjectTreeView()->RefreshRightPane();
}

void OpenMenuPlace(CMainFrame* frame, const MenuDialogRow& row, CImageView* view)
{
    if (row.place == MAIN_MENU || row.place == IMAGE_WINDOW_MENU) {
        frame->UpdateCmdUI();
        frame->GetAction(row.command)->trigger();
        return;
    }
    if (row.place == IMAGE_CONTEXT_MENU) {
        const QPoint at = view->viewport()->rect().center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, view->viewport()->mapToGlobal(at));
        QApplication::sendEvent(view->viewport(), &event);
        return;
    }
    CKestrelonView* tree = GetProjectTreeView();
    QList<QTreeWidgetItem*> found =
        tree->findItems(QString::fromLatin1(row.treeItem), Qt::MatchExactly | Qt::MatchRecursive);
    if (row.parent)
        found.erase(std::remove_if(found.begin(), found.end(),
                                   [&](QTreeWidgetItem* item) {
                                       return !item->parent() ||
                                              item->parent()->text(0) != QString::fromLatin1(row.parent);
                                   }),
                    found.end());
    if (found.isEmpty())
        return;
    for (QTreeWidgetItem* up = found.first()->parent(); up; up = up->parent())
        up->setExpanded(true);
    tree->scrollToItem(found.first());
    const QPoint at = tree->visualItemRect(found.first()).center();
    if (row.place == TREE_MENU) {
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, tree->viewport()->mapToGlobal(at));
        QApplication::sendEvent(tree->viewport(), &event);
        return;
    }
    // The item's list in the right pane, its first rows chosen by keys.
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at);
    CView* right = frame->GetProjectFrame()->GetRightPane();
    QWidget* pane = right ? right->GetWidget() : nullptr;
    auto* list = qobject_cast<QAbstractItemView*>(pane);
    if (!list && pane)
        list = pane->findChild<QAbstractItemView*>();
    if (!list)
        return;
    list->setFocus();
    if (row.selectedRows > 0 && list->model()->rowCount() == 1) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(list->model()->index(0, 0)).center());
    } else if (row.selectedRows > 0) {
        QTest::keyClick(list, Qt::Key_Down);
        QTest::keyClick(list, Qt::Key_Up);
        for (int r = 1; r < row.selectedRows; ++r)
            QTest::keyClick(list, Qt::Key_Down, Qt::ShiftModifier);
    }
    const QPoint inside = list->viewport()->rect().center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, inside, list->viewport()->mapToGlobal(inside));
    QApplication::sendEvent(list->viewport(), &event);
}
