// Picking and navigation of the 3D view under Xvfb: clicks and rubber bands
// at window positions projected in the test, the CPU point test against the
// whole scene in selection mode, the right-button turn and the wheel.
#include "GLSupport.h"
#include "ShellFixture.h"

#include "3DView.h"
#include "ProjectDocument.h"
#include "ScaleBar.h"

#include <QOpenGLContext>
#include <QTest>

#include <cmath>
#include <random>
#include <unordered_set>

namespace three_d_view_pick_test {

class ThreeDViewPick : public ::testing::Test {
protected:
    static constexpr int kSize = 400;
    void SetUp() override
    {
        if (!CanMakeGLContext())
            GTEST_SKIP() << "no OpenGL context can be made here";
        previous = SetActiveProjectDocProvider([this] { return &doc; });
    }
    void TearDown() override { SetActiveProjectDocProvider(previous); }
    void Show(C3DView& view)
    {
        if (!ShowGLWidget(view, kSize, kSize))
            GTEST_SKIP() << "the view has no OpenGL context";
        view.OnUpdate(nullptr, 0);
        view.grabFramebuffer();
    }
    // Points on a 5 x 4 grid in the plane Z = 0, 200 apart, P1 .. P20.
    void Grid()
    {
        set.name = "/tmp/Grid.xyz";
        for (int i = 0; i < 20; ++i)
            set.AddPointSorted(CObjectPoint(("P" + std::to_string(i + 1)).c_str(), 200.0 * (i % 5) + 1.0,
                                            200.0 * (i / 5) + 2.0, 3.0));
        set.SortByLabel();
    }
    QPoint At(const C3DView& view, const CObjectPoint& p) const { return ProjectToWindow(view, p.x, p.y, p.z); }
    static std::vector<std::string> Labels(const C3DView& view)
    {
        std::vector<std::string> out;
        for (int i = 0; i < view.GetSelection().GetSize(); ++i)
            out.emplace_back(view.GetSelection().GetAt(i)->label.GetText());
        return out;
    }

    CProjectDocument doc;
    CPointSet set;
    ActiveProjectDocProvider previous;
};

TEST_F(ThreeDViewPick, ClickCtrlClickRubberBandStationsAndLabels)
{
    Grid();
    CProjectImageList images;
    CProjectImage* station = images.AddNew();
    station->X = 400, station->Y = 300, station->Z = 3000;
    station->enabled = station->oriented = true;
    C3DView view;
    view.SetScene(&set, &images, nullptr, nullptr);
    ASSERT_NO_FATAL_FAILURE(Show(view));
    if (IsSkipped())
        return;

    // A click on P7 selects it alone and names it.
    CObjectPoint* p7 = set.FindPointByText("P7");
    QTest::mouseClick(&view, Qt::LeftButton, Qt::NoModifier, At(view, *p7));
    EXPECT_EQ(Labels(view), std::vector<std::string>{"P7"});
    EXPECT_TRUE(p7->selected);
    EXPECT_EQ(set.GetSelectedCount(), 1);
    EXPECT_EQ(view.GetInfoOverlay().GetCurrentText(), QStringLiteral("P7: 201.00, 202.00,   3.00"));
    // Shift adds, Ctrl removes.
    CObjectPoint* p1 = set.FindPointByText("P1");
    QTest::mouseClick(&view, Qt::LeftButton, Qt::ShiftModifier, At(view, *p1));
    EXPECT_EQ(Labels(view), (std::vector<std::string>{"P7", "P1"}));
    QTest::mouseClick(&view, Qt::LeftButton, Qt::ControlModifier, At(view, *p7));
    EXPECT_EQ(Labels(view), std::vector<std::string>{"P1"});
    EXPECT_FALSE(p7->selected);
    // A click on empty space clears the selection and hides the text.
    QTest::mouseClick(&view, Qt::LeftButton, Qt::NoModifier, QPoint(3, kSize - 3));
    EXPECT_TRUE(Labels(view).empty());
    EXPECT_EQ(set.GetSelectedCount(), 0);
    EXPECT_FALSE(view.GetInfoOverlay().IsShown());
    QTest::mouseClick(&view, Qt::LeftButton, Qt::NoModifier, At(view, *p1));
    EXPECT_EQ(view.GetInfoOverlay().GetCurrentText(), QStringLiteral("P1:   1.00,   2.00,   3.00"));
    QTest::mouseClick(&view, Qt::LeftButton, Qt::ControlModifier, At(view, *p1));
    EXPECT_TRUE(Labels(view).empty());

    // A rubber band selects exactly the points whose projections lie inside.
    const QRect band(QPoint(At(view, *p1).x() - 5, At(view, *set.FindPointByText("P12")).y() - 5),
                     QPoint(At(view, *set.FindPointByText("P12")).x() + 5, At(view, *p1).y() + 5));
    std::vector<std::string> inside;
    for (int i = 0; i < set.GetSize(); ++i)
        if (band.contains(At(view, *set.GetAt(i))))
            inside.emplace_back(set.GetAt(i)->label.GetText());
    ASSERT_EQ(inside.size(), 6u); // P1, P2, P6, P7, P11, P12
    view.SetRubberBand(band);
    view.Pick(band.center().x(), band.center().y(), false);
    std::vector<std::string> selected = Labels(view);
    std::sort(selected.begin(), selected.end());
    std::sort(inside.begin(), inside.end());
    EXPECT_EQ(selected, inside);

    // The station answers to 1000000 + 0 and is selected by a click.
    view.ClearSelection();
    view.OnCmdMsg(ID_3D_VIEW_CAMERAS, nullptr);
    view.grabFramebuffer();
    const QPoint s = ProjectToWindow(view, station->X, station->Y, station->Z);
    const std::vector<unsigned> hits = view.CollectHits(s.x(), s.y(), 4, 4, true);
    EXPECT_NE(std::find(hits.begin(), hits.end(), 1000000u), hits.end());
    QTest::mouseClick(&view, Qt::LeftButton, Qt::NoModifier, s);
    EXPECT_EQ(view.GetCameraDrawer().GetSelection().GetSize(), 1);
    EXPECT_EQ(view.GetInfoOverlay().GetCurrentText(), QStringLiteral("Station 1: 400.00, 300.00, 3000.00"));
    view.OnCmdMsg(ID_3D_VIEW_CAMERAS, nullptr);

    // With labels shown a click on a point still picks that point.
    view.GetLayers().labels = true;
    view.grabFramebuffer();
    CObjectPoint* p13 = set.FindPointByText("P13");
    QTest::mouseClick(&view, Qt::LeftButton, Qt::NoModifier, At(view, *p13));
    EXPECT_EQ(Labels(view), std::vector<std::string>{"P13"});

    QTest::mouseClick(&view, Qt::LeftButton, Qt::ShiftModifier, At(view, *p7));
    const QImage picture = view.grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    EXPECT_TRUE(picture.save(TestOutputFolder() + "/3DViewSelection.png"));

    // A station that left the project leaves the selection at the update;
    // the points stay selected.
    view.GetCameraDrawer().Select(0);
    images.RemoveAt(0, 1);
    view.OnUpdate(nullptr, 0);
    EXPECT_EQ(view.GetCameraDrawer().GetSelection().GetSize(), 0);
    EXPECT_EQ(Labels(view), (std::vector<std::string>{"P13", "P7"}));
}

// The CPU point test against the Part of the scene drawn in selection mode:
// the same names in the same order for random cursors and a band.
TEST_F(ThreeDViewPick, CpuTestGivesTheHitsOfSelectionMode)
{
    std::mt19937 random(11);
    std::uniform_real_distribution<double> coordinate(-500.0, 500.0), unit(-1.0, 1.0);
    set.name = "/tmp/Discs.xyz";
    set.isDiscrepancySet = true;
    for (int i = 0; i < 60; ++i) {
        CObjectPoint p(("Q" + std::to_string(i + 1)).c_str(), coordinate(random), coordinate(random),
                       coordinate(random));
        if (i % 3 != 0) {
            p.SetNormal(unit(random), unit(random), unit(random)); // some face away
            p.radius = 15.0 + 10.0 * (i % 4);
        }
        for (double& d : p.discrepancy)
            d = 0.3 * unit(random);
        set.AddPointSorted(p);
    }
    set.SortByLabel();
    CPointLine* line = set.lines.AddNew();
    line->from = "Q1";
    line->to = "Q2";
    C3DView view;
    view.SetScene(&set, nullptr, nullptr, nullptr);
    ASSERT_NO_FATAL_FAILURE(Show(view));
    if (IsSkipped())
        return;
    view.GetLayers().discrepancies = true;
    view.SetDiscrepancyScale(100);
    view.GetLayers().normals = true;
    view.GetLayers().labels = true;
    view.SetRotation(-35.0, 20.0, 0.0);
    view.grabFramebuffer();

    // Half the cursors anywhere, half within 12 pixels of a point.
    std::uniform_real_distribution<double> cursor(0.0, kSize), near(-12.0, 12.0);
    std::uniform_int_distribution<int> pick(0, set.GetSize() - 1);
    int withHits = 0;
    for (int k = 0; k < 200; ++k) {
        double x = std::floor(cursor(random)), y = std::floor(cursor(random));
        if (k % 2 == 1) {
            const CObjectPoint* p = set.GetAt(pick(random));
            const QPoint at = ProjectToWindow(view, p->x, p->y, p->z);
            x = std::floor(at.x() + near(random));
            y = std::floor(at.y() + near(random));
        }
        const std::vector<unsigned> cpu = view.CollectHits(x, y, 4, 4, true);
        const std::vector<unsigned> gl = view.CollectHits(x, y, 4, 4, false);
        EXPECT_EQ(cpu, gl) << x << ", " << y;
        withHits += cpu.empty() ? 0 : 1;
    }
    EXPECT_GT(withHits, 20);
    const std::vector<unsigned> cpu = view.CollectHits(200, 180, 260, 200, true);
    const std::vector<unsigned> gl = view.CollectHits(200, 180, 260, 200, false);
    EXPECT_EQ(cpu, gl);
    EXPECT_GT(cpu.size(), 40u);
}

TEST_F(ThreeDViewPick, RightDragTurnsWheelZoomsPanDoesNotFold)
{
    Grid();
    C3DView view;
    view.SetScene(&set, nullptr, nullptr, nullptr);
    ASSERT_NO_FATAL_FAILURE(Show(view));
    if (IsSkipped())
        return;
    const auto drag = [&view](QPoint from, QPoint to, Qt::KeyboardModifiers modifiers) {
        QTest::mousePress(&view, Qt::RightButton, modifiers, from);
        QMouseEvent move(QEvent::MouseMove, to, view.mapToGlobal(to), Qt::NoButton, Qt::RightButton, modifiers);
        QApplication::sendEvent(&view, &move);
        view.grabFramebuffer();
        // No menu after a drag: the release opens nothing.
        QTest::mouseRelease(&view, Qt::RightButton, modifiers, to);
    };
    // 60 pixels to the right: 30 degrees about the y axis.
    drag(QPoint(100, 200), QPoint(160, 200), Qt::NoModifier);
    const double* m = view.GetStoredMatrix();
    const double a = 30.0 * 4.0 * std::atan(1.0) / 180.0;
    EXPECT_NEAR(m[0], std::cos(a), 1e-6);
    EXPECT_NEAR(m[8], std::sin(a), 1e-6);
    EXPECT_NEAR(m[5], 1.0, 1e-6);
    // Shift pans 10 units a pixel and leaves the stored matrix alone.
    double before[16];
    std::copy(m, m + 16, before);
    drag(QPoint(100, 200), QPoint(104, 197), Qt::ShiftModifier);
    EXPECT_EQ(view.GetPanX(), 40.0f);
    EXPECT_EQ(view.GetPanY(), 30.0f);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(view.GetStoredMatrix()[i], before[i]) << i;
    EXPECT_FALSE(view.IsMoving());

    // A wheel step of 120 widens the field of view by 1; smaller steps nothing.
    const auto wheel = [&view](int delta) {
        QWheelEvent event(QPointF(200, 200), view.mapToGlobal(QPointF(200, 200)), QPoint(), QPoint(0, delta),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&view, &event);
    };
    wheel(120);
    EXPECT_EQ(view.GetFieldOfView(), 46.0);
    EXPECT_TRUE(view.IsMoving());
    wheel(119);
    wheel(-60);
    EXPECT_EQ(view.GetFieldOfView(), 46.0);
    wheel(-240);
    EXPECT_EQ(view.GetFieldOfView(), 44.0);
    QTest::qWait(400);
    EXPECT_FALSE(view.IsMoving());
}

} // namespace three_d_view_pick_test

namespace three_d_view_pick_test {

// 3,000 points under one band are all selected (no buffer limit); a
// document update forgets the points that left the set.
TEST_F(ThreeDViewPick, ABandOverManyPointsAndAnUpdateAfterADelete)
{
    set.name = "/tmp/Many.xyz";
    for (int i = 0; i < 3000; ++i)
        set.AddNew()->label = ("M" + std::to_string(i + 1)).c_str(), set.GetAt(i)->x = i % 60, set.GetAt(i)->y = i / 60;
    set.SortByLabel();
    C3DView view;
    view.SetScene(&set, nullptr, nullptr, nullptr);
    ASSERT_NO_FATAL_FAILURE(Show(view));
    if (IsSkipped())
        return;
    view.SetRubberBand(QRect(0, 0, kSize, kSize));
    view.Pick(kSize / 2, kSize / 2, false);
    EXPECT_EQ(view.GetSelection().GetSize(), 3000);
    EXPECT_EQ(set.GetSelectedCount(), 3000);

    set.RemovePointByText("M7");
    set.RemovePointByText("M2000");
    view.OnUpdate(nullptr, 0);
    ASSERT_EQ(view.GetSelection().GetSize(), 2998);
    std::unordered_set<const CObjectPoint*> present;
    for (int i = 0; i < set.GetSize(); ++i)
        present.insert(set.GetAt(i));
    for (int i = 0; i < view.GetSelection().GetSize(); ++i)
        EXPECT_TRUE(present.count(view.GetSelection().GetAt(i)));
    // Ctrl with a band removes.
    view.grabFramebuffer();
    view.SetRubberBand(QRect(0, 0, kSize, kSize));
    view.Pick(kSize / 2, kSize / 2, true);
    EXPECT_EQ(view.GetSelection().GetSize(), 0);
    EXPECT_EQ(set.GetSelectedCount(), 0);
}

} // namespace three_d_view_pick_test

namespace three_d_view_pick_test {

// Several names: the last non-zero one is decoded; a point's text is set
// only while the label is hidden, so the first point's text stays.
TEST_F(ThreeDViewPick, TheLastNonZeroNameWinsAndThePointTextStays)
{
    Grid();
    C3DView view;
    view.resize(kSize, kSize);
    view.SetScene(&set, nullptr, nullptr, nullptr);
    view.OnUpdate(nullptr, 0);
    view.DecodeHits({0, 0}, false);
    EXPECT_FALSE(view.GetInfoOverlay().IsShown());
    view.DecodeHits({2, 3, 0}, false); // P2, then P3 (set order P1, P2, P3 ...)
    EXPECT_EQ(view.GetInfoOverlay().GetCurrentText(), QStringLiteral("P3: 401.00,   2.00,   3.00"));
    view.DecodeHits({5, 0}, false);
    EXPECT_EQ(view.GetInfoOverlay().GetCurrentText(), QStringLiteral("P3: 401.00,   2.00,   3.00"));
    EXPECT_TRUE(view.GetSelection().GetSize() == 0); // hover selects nothing
}

// In draw-lines mode a band without Shift and Ctrl keeps the selection.
TEST_F(ThreeDViewPick, ABandInDrawLinesModeKeepsTheSelection)
{
    Grid();
    C3DView view;
    view.SetScene(&set, nullptr, nullptr, nullptr);
    ASSERT_NO_FATAL_FAILURE(Show(view));
    if (IsSkipped())
        return;
    view.SelectPoint(set.FindPointByText("P20"));
    view.SetDrawLinesMode(true);
    const QPoint p1 = At(view, *set.FindPointByText("P1"));
    QTest::mousePress(&view, Qt::LeftButton, Qt::NoModifier, p1 - QPoint(8, 8));
    QMouseEvent move(QEvent::MouseMove, p1 + QPoint(8, 8), view.mapToGlobal(p1 + QPoint(8, 8)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&view, &move);
    QTest::mouseRelease(&view, Qt::LeftButton, Qt::NoModifier, p1 + QPoint(8, 8));
    // P20 was kept: the chain's line P20 - P1; P1 stays selected.
    ASSERT_EQ(set.lines.GetSize(), 1);
    EXPECT_STREQ(set.lines.GetAt(0)->from.GetText(), "P20");
    EXPECT_EQ(Labels(view), std::vector<std::string>{"P1"});
}

} // namespace three_d_view_pick_test
