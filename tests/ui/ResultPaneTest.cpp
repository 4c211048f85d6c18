// The right pane after a result is kept: Triangulate, Run Bundle and
// Relative Orientation select their point set in the tree and the pane lists
// that set's points; EDIT CAMERA STATION's OK shows the new station in the
// images list. The bundle dialogs' fields once a CBundleJob run has ended.
#include "ShellFixture.h"
#include "WholeTexts.h"

#include "BundleDialogs.h"
#include "BundleJob.h"
#include "Frames.h"
#include "KestrelonView.h"
#include "RelativeOrientationDlg.h"
#include "SampleProject.h"
#include "StationDialogs.h"
#include "TreeMenus.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidgetItem>

#include <algorithm>
#include <cmath>

namespace result_pane_test {

constexpr int kRunTimeout = 300000; // ms; the sanitizer builds are slow
constexpr double kShown = 0.0005;   // the lists show three decimals

class ResultPane : public ShellFixture {
protected:
    void OpenSample()
    {
        ASSERT_TRUE(Start({QStringLiteral("--nosplash"), WriteSample()}));
        doc = GetActiveKestrelonDoc();
        ASSERT_NE(doc, nullptr);
        Frame()->resize(1200, 900);
        TakeMessages();
    }
    CKestrelonView* Tree() const { return Frame()->GetProjectTreeView(); }
    QTreeWidgetItem* Child(QTreeWidgetItem* parent, const QString& text) const
    {
        for (int i = 0; parent && i < parent->childCount(); ++i)
            if (parent->child(i)->text(0) == text)
                return parent->child(i);
        return nullptr;
    }
    void Click(QTreeWidgetItem* item)
    {
        ASSERT_NE(item, nullptr);
        CKestrelonView* tree = Tree();
        tree->scrollToItem(item);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(item).center());
        Settle();
    }
    // The user's pick of the command from the item's context menu.
    void ContextCommand(QTreeWidgetItem* item, int command)
    {
        ASSERT_NE(item, nullptr);
        CKestrelonView* tree = Tree();
        tree->scrollToItem(item);
        bool picked = false;
        QTimer poll;
        poll.setInterval(10);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (picked || !menu)
                return;
            for (QAction* action : menu->actions())
                if (action->data().toInt() == command) {
                    picked = true;
                    menu->setActiveAction(action);
                    QTimer::singleShot(0, menu, [menu] { QTest::keyClick(menu, Qt::Key_Return); });
                }
        });
        poll.start();
        const QPoint at = tree->visualItemRect(item).center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, tree->viewport()->mapToGlobal(at));
        QApplication::sendEvent(tree->viewport(), &event);
        poll.stop();
        EXPECT_TRUE(picked);
        Settle();
    }
    // The list of the project frame's right pane.
    QAbstractItemView* PaneList() const
    {
        CView* right = Frame()->GetProjectFrame()->GetRightPane();
        QWidget* widget = right ? right->GetWidget() : nullptr;
        if (auto* list = qobject_cast<QAbstractItemView*>(widget))
            return list;
        return widget ? widget->findChild<QAbstractItemView*>() : nullptr;
    }
    static QString Cell(QAbstractItemView* list, int row, int column)
    {
        return list->model()->index(row, column).data().toString().trimmed();
    }
    // Every row of the pane is a point of the set with its coordinates, and
    // every point of the set has its row.
    void ExpectPaneLists(CPointSet* set)
    {
        ASSERT_NE(set, nullptr);
        QAbstractItemView* list = PaneList();
        ASSERT_NE(list, nullptr);
        ASSERT_EQ(list->model()->rowCount(), set->GetSize());
        for (int row = 0; row < set->GetSize(); ++row) {
            const QString label = Cell(list, row, 0);
            const CObjectPoint* p = set->FindPointByText(label.toLatin1().constData());
            ASSERT_NE(p, nullptr) << label.toStdString();
            const double xyz[3] = {p->x, p->y, p->z};
            for (int a = 0; a < 3; ++a)
                EXPECT_NEAR(Cell(list, row, a + 1).toDouble(), xyz[a], kShown) << label.toStdString() << " " << a;
        }
    }
    // The largest coordinate difference of the labels both sets hold.
    static double LargestDifference(const CPointSet& a, CPointSet& b)
    {
        double largest = 0.0;
        for (int i = 0; i < a.GetSize(); ++i)
            if (const CObjectPoint* q = b.FindPointByText(a.GetAt(i)->label.GetText()))
                largest = std::max({largest, std::fabs(a.GetAt(i)->x - q->x), std::fabs(a.GetAt(i)->y - q->y),
                                    std::fabs(a.GetAt(i)->z - q->z)});
        return largest;
    }
    QString Selected() const { return Tree()->currentItem() ? Tree()->currentItem()->text(0) : QString(); }
    static QString Text(CDialog& d, int id) { return GetWindowText(d.GetDlgItem(id)); }
    // Go, then the dialog's own timer until the run has ended.
    static void RunToEnd(CBundleRunDlg& d)
    {
        d.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&d));
        QTest::mouseClick(d.Item<QPushButton>(1191), Qt::LeftButton);
        EXPECT_TRUE(d.IsRunning());
        EXPECT_TRUE(QTest::qWaitFor([&] { return !d.IsRunning(); }, kRunTimeout));
    }
};


// Triangulate after the Control set was listed, the bundle after Triangulate
// was listed, the relative orientation after Bundle was listed: each time
// the pane lists the new set, not the one it listed before.
TEST_F(ResultPane, EachKeptResultIsListedWithItsOwnPoints)
{
    OpenSample();
    QTreeWidgetItem* data = Tree()->Data3D();
    Click(Child(data, QStringLiteral("Control")));
    ExpectPaneLists(doc->pointSets.GetControlSet());

    dialogs.push_back([&](CDialog& d) {
        d.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&d));
        QTest::mouseClick(d.Item<QPushButton>(1285), Qt::LeftButton);
        QTest::mouseClick(d.Item<QPushButton>(IDOK), Qt::LeftButton);
        return d.result();
    });
    MenuCommand(33042);
    CPointSet* triangulated = doc->pointSets.GetTriangulateSet();
    ASSERT_NE(triangulated, nullptr);
    EXPECT_GT(triangulated->GetSize(), doc->pointSets.GetControlSet()->GetSize());
    EXPECT_EQ(Selected(), QStringLiteral("Triangulate"));
    ExpectPaneLists(triangulated);
    const CPointSet before = *triangulated;

    dialogs.push_back([&](CDialog& d) {
        auto& run = dynamic_cast<CBundleRunDlg&>(d);
        RunToEnd(run);
        QTest::mouseClick(d.Item<QPushButton>(IDOK), Qt::LeftButton);
        return d.result();
    });
    MenuCommand(32874);
    CPointSet* bundle = doc->pointSets.GetBundleSet();
    ASSERT_NE(bundle, nullptr);
    // The two sets differ visibly, so that the old list could not pass.
    EXPECT_GT(LargestDifference(before, *bundle), 10 * kShown);
    EXPECT_EQ(Selected(), QStringLiteral("Bundle"));
    ExpectPaneLists(bundle);

    for (int i = 0; i < doc->images.GetSize(); ++i)
        doc->images.GetAt(i)->oriented = true;
    MenuCommand(33077);
    auto* ro = dynamic_cast<CRelativeOrientationDlg*>(Tree()->GetRelativeOrientationDlg());
    ASSERT_NE(ro, nullptr);
    QTest::mouseClick(ro->m_Compute, Qt::LeftButton);
    ASSERT_TRUE(ro->m_Accept->isEnabled());
    QTest::mouseClick(ro->m_Accept, Qt::LeftButton);
    Settle();
    CPointSet* roArray = doc->pointSets.GetROArraySet();
    ASSERT_NE(roArray, nullptr);
    EXPECT_EQ(Selected(), QStringLiteral("ROArray"));
    ExpectPaneLists(roArray);
    Frame()->GetProjectFrame()->raise();
    QTest::qWait(50);
    EXPECT_TRUE(Frame()->grab().save(TestOutputFolder() + QStringLiteral("/ResultPaneROArray.png")));
}

// After OK the pane lists the images of the image's camera, whatever it
// listed before, with the station that OK stored.
TEST_F(ResultPane, EditCameraStationListsTheNewStation)
{
    OpenSample();
    // A project with changes not yet saved: the title stays as it is.
    doc->SetModifiedFlag(true);
    Click(Child(Tree()->Data3D(), QStringLiteral("Control")));
    ExpectPaneLists(doc->pointSets.GetControlSet());
    CProjectImage* image = doc->images.GetAt(1);
    const QString name = QString::fromLatin1(image->name.GetText());

    dialogs.push_back([&](CDialog& d) {
        EXPECT_NE(dynamic_cast<CEditCameraStationDlg*>(&d), nullptr);
        d.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&d));
        Type(d, 1041, QStringLiteral("1234.5"));
        Type(d, 1043, QStringLiteral("-321.25"));
        // The station window shares the OK button's id.
        QPushButton* ok = nullptr;
        for (QPushButton* button : d.findChildren<QPushButton*>(IdName(IDOK)))
            ok = button;
        EXPECT_NE(ok, nullptr);
        if (ok)
            QTest::mouseClick(ok, Qt::LeftButton);
        return d.result();
    });
    ContextCommand(Child(Child(Tree()->ProjectRoot(), QStringLiteral("SampleCam")), name), ID_TREE_EDIT_EO);
    ASSERT_EQ(image->X, 1234.5);
    ASSERT_EQ(image->Z, -321.25);
    EXPECT_EQ(Selected(), name);
    QAbstractItemView* list = PaneList();
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->model()->rowCount(), doc->images.GetSize()); // the sample's images share one camera
    int row = -1;
    for (int r = 0; r < list->model()->rowCount(); ++r)
        if (Cell(list, r, 0) == name)
            row = r;
    ASSERT_GE(row, 0);
    EXPECT_NEAR(Cell(list, row, 2).toDouble(), image->X, kShown);
    EXPECT_NEAR(Cell(list, row, 3).toDouble(), image->Y, kShown);
    EXPECT_NEAR(Cell(list, row, 4).toDouble(), image->Z, kShown);
}

// An ended run shows no point in process and the points of the run; the
// simulation dialog's point count follows the run too.
TEST_F(ResultPane, EndedRunsShowTheirEndState)
{
    OpenSample();
    struct Case {
        int command;
        const char* status;
        bool processing; // the dialog has the Processing fields
    };
    for (const Case& c : {Case{32874, "Adjustment successful", true}, Case{359, "Adjustment successful", false}}) {
        SCOPED_TRACE(c.command);
        dialogs.push_back([&](CDialog& d) {
            auto& run = dynamic_cast<CBundleRunDlg&>(d);
            // Before the run: the points the working set holds, fewer than the run's.
            EXPECT_NE(Text(d, 1169), QString::number(CSampleTruth::kTargetCount));
            RunToEnd(run);
            EXPECT_EQ(Text(d, 1205), QString::fromLatin1(c.status));
            // The working set holds every target, each seen by enough images.
            EXPECT_EQ(Text(d, 1169), QString::number(CSampleTruth::kTargetCount));
            if (c.processing) {
                EXPECT_EQ(Text(d, 1176), QString());
                EXPECT_EQ(Text(d, 1177), QString());
                EXPECT_FALSE(Text(d, 1167).isEmpty());
            }
            ExpectWholeAndSave(d, QStringLiteral("/EndedRun%1.png").arg(c.command));
            QTest::mouseClick(d.Item<QPushButton>(2), Qt::LeftButton);
            return d.result();
        });
        MenuCommand(c.command);
    }
}

} // namespace result_pane_test
