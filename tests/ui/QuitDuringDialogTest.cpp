// The application quits (as logging out of the desktop does) while a modal
// dialog of a menu is open: the dialog ends, its caller goes on, and the
// program ends with status 0. Each row runs in a child process of its own,
// which runs the event loop as the program does.
#include "ShellFixture.h"

#include "Frames.h"
#include "ImageView.h"
#include "KestrelonView.h"
#include "TreeMenus.h"

#include <QAbstractItemView>
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <QTreeWidgetItem>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <functional>
#include <ostream>
#include <string>

namespace {

// The child's exit codes when the row did not come to the quit.
constexpr int kNoDialog = 3;
constexpr int kWrongDialog = 4;

// Where the user finds the command.
enum Place { MAIN_MENU, TREE_MENU, IMAGE_WINDOW_MENU, IMAGE_CONTEXT_MENU, PANE_MENU };

struct QuitRow {
    const char* what;
    const char* title;            // of the modal window shown
    int command;                  // the command's id
    Place place;
    const char* treeItem = nullptr; // the tree item whose context menu holds the command
    const char* parent = nullptr;   // the item's parent, when the name is not unique
    int selectedRows = 0;           // PANE_MENU: the tree item's list, with its first rows selected
    int pressFirst = 0;             // a button of the dialog clicked before the quit
};

void PrintTo(const QuitRow& row, std::ostream* out)
{
    *out << row.what;
}

const QuitRow kRows[] = {
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
    {"database camera: View Camera Data", "Camera DataBase", ID_TREE_DB_VIEW_CAMERA, TREE_MENU, "SampleCam", "Camera Database"},
    {"project camera: View Camera Data", "Camera DataBase", ID_TREE_PRJ_VIEW_CAMERA, TREE_MENU, "SampleCam", "Sample.kst"},
    {"Generate Balanced Distortion Profile", "Balanced Distortion", ID_TREE_BALANCED_DISTORTION, TREE_MENU, "SampleCam", "Sample.kst"},
    {"Create Empty Images", "Create Empty Images", ID_TREE_CREATE_EMPTY_IMAGES, TREE_MENU, "SampleCam", "Sample.kst"},
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
};

class QuitDuringDialog : public ShellFixture, public ::testing::WithParamInterface<QuitRow> {
protected:
    // Ends the child. Its exit skips the fixture's clean-up, so the scratch
    // folder (which also holds the child's TMPDIR) goes first.
    [[noreturn]] void EndChild(int status)
    {
        scratch.remove();
        std::_Exit(status);
    }

    // The child: opens the sample, opens the row's dialog as a user does,
    // quits once the dialog shows, and ends with the event loop's status.
    [[noreturn]] void RunChild(const QuitRow& row)
    {
        const QString temp = scratch.filePath(QStringLiteral("tmp"));
        QDir().mkpath(temp);
        setenv("TMPDIR", temp.toLocal8Bit().constData(), 1);
        const QString sample = WriteSample();
        if (!Start({QStringLiteral("--nosplash"), sample}))
            EndChild(kNoDialog);
        // A database camera for its context menu.
        app->cameraDatabase.AddCopy(*GetActiveKestrelonDoc()->cameras.GetAt(0));
        GetProjectTreeView()->RebuildCameraDatabaseBranch();
        GetProjectTreeView()->RefreshRightPane(); // the database cameras list it starts with
        // A run that goes on until it is stopped: the quit comes while it runs.
        if (row.pressFirst) {
            GetActiveKestrelonDoc()->settings.convergenceLimit = 0.0;
            GetActiveKestrelonDoc()->settings.maxIterations = 100000;
        }
        // "Transform" asks for the file to transform onto.
        files.push_back(QFileInfo(sample).absolutePath() + QStringLiteral("/Control.xyz"));
        bool quitAsked = false;
        bool pressed = false;
        bool wrong = false;
        QTimer poll;
        poll.setInterval(10);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                // The user picks the entry of the context menu.
                for (QAction* action : menu->actions())
                    if (action->data().toInt() == row.command && action->isEnabled()) {
                        menu->setActiveAction(action);
                        QTimer::singleShot(0, menu, [menu] { QTest::keyClick(menu, Qt::Key_Return); });
                        return;
                    }
                return;
            }
            QWidget* modal = QApplication::activeModalWidget();
            if (quitAsked || !modal || !modal->isVisible())
                return;
            if (row.pressFirst && !pressed) {
                pressed = true;
                if (auto* button = modal->findChild<QAbstractButton*>(IdName(row.pressFirst)))
                    QTest::mouseClick(button, Qt::LeftButton);
                return;
            }
            quitAsked = true;
            wrong = modal->windowTitle() != QString::fromLatin1(row.title);
            if (wrong)
                std::fprintf(stderr, "modal window: %s\n", qPrintable(modal->windowTitle()));
            QCoreApplication::quit();
        });
        poll.start();
        // A row whose dialog never shows ends the child.
        QTimer::singleShot(15000, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            std::fprintf(stderr, "no quit; modal window: %s\n", modal ? qPrintable(modal->windowTitle()) : "none");
            EndChild(kNoDialog);
        });
        CImageView* view = nullptr;
        if (row.place == IMAGE_WINDOW_MENU || row.place == IMAGE_CONTEXT_MENU) {
            CKestrelonDoc* doc = GetActiveKestrelonDoc();
            view = OpenImageWindow(doc, doc->images.GetAt(0));
            if (!view)
                EndChild(kNoDialog);
        }
        QTimer::singleShot(0, Frame(), [&] {
            if (row.place == MAIN_MENU || row.place == IMAGE_WINDOW_MENU) {
                Frame()->UpdateCmdUI();
                Frame()->GetAction(row.command)->trigger();
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
            CView* right = Frame()->GetProjectFrame()->GetRightPane();
            QWidget* pane = right ? right->GetWidget() : nullptr;
            auto* list = qobject_cast<QAbstractItemView*>(pane);
            if (!list && pane)
                list = pane->findChild<QAbstractItemView*>();
            if (!list)
                return;
            list->setFocus();
            if (row.selectedRows > 0 && list->model()->rowCount() == 1) {
                QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                                  list->visualRect(list->model()->index(0, 0)).center());
            } else if (row.selectedRows > 0) {
                QTest::keyClick(list, Qt::Key_Down);
                QTest::keyClick(list, Qt::Key_Up);
                for (int r = 1; r < row.selectedRows; ++r)
                    QTest::keyClick(list, Qt::Key_Down, Qt::ShiftModifier);
            }
            const QPoint inside = list->viewport()->rect().center();
            QContextMenuEvent event(QContextMenuEvent::Mouse, inside, list->viewport()->mapToGlobal(inside));
            QApplication::sendEvent(list->viewport(), &event);
        });
        const int status = QApplication::exec();
        poll.stop();
        app->ExitInstance();
        app.reset();
        EndChild(!quitAsked ? kNoDialog : wrong ? kWrongDialog : status);
    }
};

} // namespace

TEST_P(QuitDuringDialog, TheProgramEndsInOrder)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(RunChild(GetParam()), ::testing::ExitedWithCode(0), "") << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(MenuDialogs, QuitDuringDialog, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<QuitRow>& info) {
                             std::string name;
                             for (const char* c = info.param.what; *c; ++c)
                                 if (std::isalnum(static_cast<unsigned char>(*c)))
                                     name += *c;
                             return name;
                         });
