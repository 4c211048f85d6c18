// The application quits (as logging out of the desktop does) while a modal
// dialog of a menu is open: the dialog ends, its caller goes on, and the
// program ends with status 0. Each row runs in a child process of its own,
// which runs the event loop as the program does.
#include "ShellFixture.h"

#include "KestrelonView.h"
#include "TreeMenus.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
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

struct QuitRow {
    const char* what;
    const char* title;    // of the modal window shown
    int command;          // the command's id
    const char* treeItem; // a tree item whose context menu holds the command; null: the main menu
    const char* parent = nullptr; // the item's parent, when the name is not unique
};

void PrintTo(const QuitRow& row, std::ostream* out)
{
    *out << row.what;
}

const QuitRow kRows[] = {
    {"Preferences", "Kestrelon Preferences", 32887, nullptr},
    {"About", "About Kestrelon", 57664, nullptr},
    {"Automatic Measurement", "Automatic Measurement", 33064, nullptr},
    {"Find corresponding points", "Find corresponding Points", 33045, nullptr},
    {"Simulate Images", "Simulate Images", 33085, nullptr},
    {"Centroid Info", "Centroid Calculation Parameters", 32789, nullptr},
    {"Point Status", "Point Status", 33084, nullptr},
    {"Resect All Project Images", "Resection Summary", 32870, nullptr},
    {"Triangulate", "Triangulate", 33042, nullptr},
    {"Run Bundle", "Bundle Adjustment", 32874, nullptr},
    {"Simulation Bundle", "Simulation Bundle", 359, nullptr},
    {"Adjustment Controls", "Adjustment Control Variables", 32873, nullptr},
    {"database camera: View Camera Data", "Camera DataBase", ID_TREE_DB_VIEW_CAMERA, "SampleCam", "Camera Database"},
    {"project camera: View Camera Data", "Camera DataBase", ID_TREE_PRJ_VIEW_CAMERA, "SampleCam", "Sample.kst"},
    {"Generate Balanced Distortion Profile", "Balanced Distortion", ID_TREE_BALANCED_DISTORTION, "SampleCam", "Sample.kst"},
    {"Create Empty Images", "Create Empty Images", ID_TREE_CREATE_EMPTY_IMAGES, "SampleCam", "Sample.kst"},
    {"image: Edit Exterior Orientation", "EDIT CAMERA STATION", ID_TREE_EDIT_EO, "Image001"},
    {"image: Resect", "Resect Camera Station", ID_TREE_RESECT, "Image001"},
    {"point set: Transform", "3D Transformation", ID_TREE_TRANSFORM, "Control"},
    {"Add ScaleBar to DataBase", "ScaleBars Dialog", ID_TREE_DB_ADD_SCALEBAR, "ScaleBar Database"},
};

class QuitDuringDialog : public ShellFixture, public ::testing::WithParamInterface<QuitRow> {
protected:
    // The child: opens the sample, opens the row's dialog as a user does,
    // quits once the dialog shows, and ends with the event loop's status.
    [[noreturn]] void RunChild(const QuitRow& row)
    {
        const QString sample = WriteSample();
        if (!Start({QStringLiteral("--nosplash"), sample}))
            std::_Exit(kNoDialog);
        // A database camera for its context menu.
        app->cameraDatabase.AddCopy(*GetActiveKestrelonDoc()->cameras.GetAt(0));
        GetProjectTreeView()->RebuildCameraDatabaseBranch();
        // "Transform" asks for the file to transform onto.
        files.push_back(QFileInfo(sample).absolutePath() + QStringLiteral("/Control.xyz"));
        bool quitAsked = false;
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
            quitAsked = true;
            wrong = modal->windowTitle() != QString::fromLatin1(row.title);
            if (wrong)
                std::fprintf(stderr, "modal window: %s\n", qPrintable(modal->windowTitle()));
            QCoreApplication::quit();
        });
        poll.start();
        QTimer::singleShot(0, Frame(), [&] {
            if (!row.treeItem) {
                Frame()->UpdateCmdUI();
                Frame()->GetAction(row.command)->trigger();
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
            QContextMenuEvent event(QContextMenuEvent::Mouse, at, tree->viewport()->mapToGlobal(at));
            QApplication::sendEvent(tree->viewport(), &event);
        });
        const int status = QApplication::exec();
        poll.stop();
        app->ExitInstance();
        app.reset();
        std::_Exit(!quitAsked ? kNoDialog : wrong ? kWrongDialog : status);
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
