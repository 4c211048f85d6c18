// The 3D view on large sets: labels and discs from their buffers give the
// picture of the direct drawing, the buffers are made again exactly when
// their records change, a hover that changes nothing paints no scene, pick
// names never meet, and the stored rotation stays orthonormal.
#include "GLSupport.h"
#include "ShellFixture.h"

#include "3DView.h"
#include "ProjectDocument.h"

#include <QOpenGLContext>
#include <QTest>

#include <cmath>
#include <random>

namespace three_d_view_layers_test {

class ThreeDViewLayers : public ::testing::Test {
protected:
    static constexpr int kSize = 400;
    void SetUp() override
    {
        if (!CanMakeGLContext())
            GTEST_SKIP() << "no OpenGL context can be made here";
        previous = SetActiveProjectDocProvider([this] { return &doc; });
    }
    void TearDown() override { SetActiveProjectDocProvider(previous); }
    bool Show(C3DView& view)
    {
        view.SetScene(&set, nullptr, nullptr, nullptr);
        if (!ShowGLWidget(view, kSize, kSize))
            return false;
        view.OnUpdate(nullptr, 0);
        view.grabFramebuffer();
        return true;
    }
    // n points in a box, labels of 1 to 16 characters, discs of several
    // radii and normals (some facing away), every fifth point selected.
    void Scatter(int n, unsigned seed)
    {
        std::mt19937 random(seed);
        std::uniform_real_distribution<double> coordinate(-500.0, 500.0), unit(-1.0, 1.0);
        const std::string letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-";
        set.name = "/tmp/Labels.xyz";
        for (int i = 0; i < n; ++i) {
            std::string label;
            const int length = 1 + i % 16;
            for (int k = 0; k < length; ++k)
                label += letters[size_t(random() % letters.size())];
            label[0] = char('A' + i % 26);
            label += std::to_string(i); // unique
            if (label.size() > 16)
                label = label.substr(label.size() - 16);
            CObjectPoint* p = set.AddNew();
            p->label = label.c_str();
            p->x = coordinate(random);
            p->y = coordinate(random);
            p->z = coordinate(random);
            if (i % 3 != 0) {
                p->SetNormal(unit(random), unit(random), unit(random));
                p->radius = 6.0 + 9.0 * (i % 4);
            }
            p->selected = i % 5 == 0;
        }
        set.SortByLabel();
    }
    static int Differ(const QImage& a, const QImage& b)
    {
        int n = 0;
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x)
                n += a.pixel(x, y) != b.pixel(x, y) ? 1 : 0;
        return n;
    }
    static int Lit(const QImage& a)
    {
        int n = 0;
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x)
                n += qRed(a.pixel(x, y)) > 60 ? 1 : 0;
        return n;
    }
    QImage Grab(C3DView& view) { return view.grabFramebuffer().convertToFormat(QImage::Format_RGB32); }

    CProjectDocument doc;
    CPointSet set;
    ActiveProjectDocProvider previous;
};

// The same labels at the same pixels and the same discs, from several sides
// and point sizes: the buffers' picture against the direct drawing.
TEST_F(ThreeDViewLayers, LabelsAndDiscsFromTheBuffersMatchTheDirectDrawing)
{
    Scatter(120, 5);
    C3DView view;
    if (!Show(view))
        GTEST_SKIP() << "the view has no OpenGL context";
    ASSERT_TRUE(view.GetLabelDrawer().IsReady()) << "the label shaders did not build";
    view.GetLayers().labels = true;
    const struct {
        double a1, a2;
        bool largerPoints;
    } sides[] = {{0, 0, false}, {-35, 20, false}, {60, -110, true}, {170, 45, false}};
    for (const auto& side : sides) {
        view.SetRotation(side.a1, side.a2, 0.0);
        if (side.largerPoints)
            view.OnCmdMsg(ID_3D_INCREASE_POINT_SIZE, nullptr);
        // The rotation is used by the first paint; both paint the same view.
        view.SetDirectDrawing(true);
        const QImage direct = Grab(view);
        view.SetDirectDrawing(false);
        view.SetRotation(side.a1, side.a2, 0.0);
        const QImage buffered = Grab(view);
        const std::string at = std::to_string(side.a1) + ", " + std::to_string(side.a2);
        EXPECT_GT(Lit(direct), 3000) << at; // labels and discs are there
        EXPECT_EQ(Differ(direct, buffered), 0) << at;
        if (side.a1 == -35)
            EXPECT_TRUE(buffered.save(TestOutputFolder() + "/3DViewLabelsAndDiscs.png"));
    }
    // Labels beyond the window's edge are cut there as the direct ones are.
    view.SetPan(300.0f, -200.0f);
    view.SetDirectDrawing(true);
    const QImage direct = Grab(view);
    view.SetDirectDrawing(false);
    EXPECT_EQ(Differ(direct, Grab(view)), 0);
}

// Thousands of discs a pixel or two across, seen whole and cut by the
// window's edge: most of their triangles cover no pixel centre and are left
// out, and the picture is the direct drawing's to the pixel.
TEST_F(ThreeDViewLayers, TinyDiscsFromTheBuffersMatchTheDirectDrawing)
{
    Scatter(3000, 11);
    for (int i = 0; i < set.GetSize(); ++i) {
        CObjectPoint* p = set.GetAt(i);
        if (i % 3 == 0)
            p->SetNormal(0.3, -0.2, 0.9);
        p->radius = 1.0 + 0.75 * (i % 4);
    }
    C3DView view;
    if (!Show(view))
        GTEST_SKIP() << "the view has no OpenGL context";
    const double sides[][2] = {{0, 0}, {-35, 20}, {60, -110}, {170, 45}};
    for (const auto& side : sides) {
        view.SetRotation(side[0], side[1], 0.0);
        view.SetDirectDrawing(true);
        const QImage direct = Grab(view);
        view.SetDirectDrawing(false);
        view.SetRotation(side[0], side[1], 0.0);
        const QImage buffered = Grab(view);
        const std::string at = std::to_string(side[0]) + ", " + std::to_string(side[1]);
        EXPECT_GT(Lit(direct), 1000) << at;
        EXPECT_EQ(Differ(direct, buffered), 0) << at;
        const int triangles = view.GetPointDrawer().GetDiscTriangles();
        EXPECT_GT(triangles, 0) << at;
        EXPECT_LT(triangles, 18 * 3000 / 4) << at; // of 18 per disc shown
    }
    view.SetPan(300.0f, -200.0f);
    view.SetDirectDrawing(true);
    const QImage direct = Grab(view);
    view.SetDirectDrawing(false);
    EXPECT_EQ(Differ(direct, Grab(view)), 0);
}

// Labels and discs take part in the thinned pass: 40,001 labels and 26,667
// discs give every third label and every second disc.
TEST_F(ThreeDViewLayers, LabelsAndDiscsAreThinnedWhileMoving)
{
    Scatter(40001, 9);
    C3DView view;
    if (!Show(view))
        GTEST_SKIP() << "the view has no OpenGL context";
    view.GetLayers().labels = true;
    const QImage still = Grab(view);
    EXPECT_EQ(view.GetLabelThinning(), 1);
    view.SetMoving(true);
    view.SetLastFullFrameMs(2 * C3DView::kSlowFrameMs);
    const QImage moving = Grab(view);
    EXPECT_EQ(view.GetLabelThinning(), 3);
    EXPECT_EQ(view.GetDiscThinning(), 2);
    EXPECT_LT(Lit(moving), Lit(still));
    view.SetMoving(false);
    EXPECT_EQ(Differ(Grab(view), still), 0);
}

// What each change makes again: the set, the selection, a layer, the point
// size and the unit.
TEST_F(ThreeDViewLayers, EachChangeRebuildsWhatItMust)
{
    Scatter(40, 3);
    C3DView view;
    if (!Show(view))
        GTEST_SKIP() << "the view has no OpenGL context";
    const CPointLabelDrawer& labels = view.GetLabelDrawer();
    const CPointSymbolDrawer& discs = view.GetPointDrawer();
    const auto builds = [&] { return std::pair{labels.GetBuildCount(), discs.GetDiscBufferBuilds()}; };
    const auto before = builds();
    // The labels are made when the layer is switched on (Ctrl+T), once.
    QTest::keyClick(&view, Qt::Key_T, Qt::ControlModifier);
    ASSERT_TRUE(view.GetLayers().labels);
    Grab(view);
    EXPECT_EQ(builds(), std::pair(before.first + 1, before.second));
    Grab(view);
    QTest::keyClick(&view, Qt::Key_T, Qt::ControlModifier);
    Grab(view);
    QTest::keyClick(&view, Qt::Key_T, Qt::ControlModifier);
    Grab(view);
    EXPECT_EQ(builds(), std::pair(before.first + 1, before.second));

    // A click selects a point: the discs' colours, not the labels.
    const CObjectPoint* p = set.GetAt(7);
    QTest::mouseClick(&view, Qt::LeftButton, Qt::NoModifier, ProjectToWindow(view, p->x, p->y, p->z));
    Grab(view);
    EXPECT_EQ(builds(), std::pair(before.first + 1, before.second + 1));
    // The point size (".") scales the discs.
    QTest::keyClick(&view, Qt::Key_Period);
    Grab(view);
    EXPECT_EQ(builds(), std::pair(before.first + 1, before.second + 2));
    // A new unit rescales the camera symbols only.
    doc.unitIndex = 2;
    const double body = view.GetCameraDrawer().GetSizes().Get(CCameraSymbolSizes::BODY_WIDTH);
    view.ApplyUnits(2);
    Grab(view);
    EXPECT_NEAR(view.GetCameraDrawer().GetSizes().Get(CCameraSymbolSizes::BODY_WIDTH), body / 1000.0, 1e-12);
    EXPECT_EQ(builds(), std::pair(before.first + 1, before.second + 2));
    // The set changed: both, and the new point's label is drawn.
    set.AddPointSorted(CObjectPoint("NEW", 0, 0, 0));
    view.OnUpdate(nullptr, 0);
    view.GetLayers().labels = true;
    Grab(view);
    EXPECT_EQ(builds(), std::pair(before.first + 2, before.second + 3));
}

// A hover over points and empty space only moves the info label.
TEST_F(ThreeDViewLayers, AHoverThatChangesNothingPaintsNoScene)
{
    Scatter(30, 4);
    C3DView view;
    if (!Show(view))
        GTEST_SKIP() << "the view has no OpenGL context";
    view.GetLayers().labels = true;
    view.grabFramebuffer();
    QTest::qWait(50);
    const long painted = view.GetScenePaintCount();
    int shown = 0;
    for (int i = 0; i < set.GetSize(); i += 3) {
        const CObjectPoint* p = set.GetAt(i);
        const QPoint at = ProjectToWindow(view, p->x, p->y, p->z);
        for (const QPoint to : {at, QPoint(3, kSize - 3)}) {
            QMouseEvent move(QEvent::MouseMove, to, view.mapToGlobal(to), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(&view, &move);
            QApplication::processEvents();
            shown += view.GetInfoOverlay().IsShown() ? 1 : 0;
        }
    }
    QTest::qWait(100);
    EXPECT_EQ(view.GetScenePaintCount(), painted);
    EXPECT_GT(shown, 5); // the label named the points
    // A click selects: one paint.
    const CObjectPoint* p = set.GetAt(4);
    QTest::mouseClick(&view, Qt::LeftButton, Qt::NoModifier, ProjectToWindow(view, p->x, p->y, p->z));
    QTest::qWait(100);
    EXPECT_GT(view.GetScenePaintCount(), painted);
}

TEST(PickNames, UsualCountsKeepTheirNamesLargeOnesNeverMeet)
{
    const struct {
        unsigned points, images, bars, lines;
    } scenes[] = {{20, 3, 2, 4}, {900, 10, 100, 5}, {901, 0, 0, 0}, {1000000, 5, 3, 2}, {999999, 1, 0, 0},
                  {5, 2, 150, 1}, {3000000, 4, 4, 4}};
    for (const auto& s : scenes) {
        const CPickNames names = CPickNames::For(s.points, s.images, s.bars, s.lines);
        const std::string at = std::to_string(s.points) + " points, " + std::to_string(s.bars) + " bars";
        const bool usual = s.points <= 900 && s.bars <= 100;
        if (usual) {
            EXPECT_EQ(names.stationBase, 1000000u) << at;
            EXPECT_EQ(names.barBase, 2000000u) << at;
            EXPECT_EQ(names.vectorBase, 2000100u) << at;
            EXPECT_EQ(names.device, 2001000u) << at;
            EXPECT_EQ(names.lineBase, 3000000u) << at;
        }
        // Every record's name decodes to that record.
        const auto check = [&](CPickNames::Kind kind, unsigned base, unsigned count) {
            for (unsigned i : {0u, count / 2, count - 1}) {
                if (count == 0)
                    break;
                int index = -1;
                EXPECT_EQ(names.Decode(base + i, index), kind) << at << " name " << base + i;
                EXPECT_EQ(index, int(i)) << at;
            }
        };
        check(CPickNames::POINT, 1, s.points);
        check(CPickNames::STATION, names.stationBase, s.images);
        check(CPickNames::SCALE_BAR, names.barBase, s.bars);
        check(CPickNames::VECTOR, names.vectorBase, s.points);
        check(CPickNames::LINE, names.lineBase, s.lines);
        int index = -1;
        EXPECT_EQ(names.Decode(names.device, index), CPickNames::DEVICE) << at;
        EXPECT_EQ(names.Decode(0, index), CPickNames::NONE) << at;
    }
    // Point 1,000,000 is no station, the vector of point 900 no device.
    int index = -1;
    EXPECT_EQ(CPickNames::For(1000000, 3, 0, 0).Decode(1000000, index), CPickNames::POINT);
    EXPECT_EQ(index, 999999);
    EXPECT_EQ(CPickNames::For(1000, 0, 0, 0).Decode(2000100 + 900, index), CPickNames::VECTOR);
    EXPECT_EQ(index, 900);
    // Names past a range are nothing.
    EXPECT_EQ(CPickNames::For(20, 3, 2, 4).Decode(1000003, index), CPickNames::NONE);
    EXPECT_EQ(CPickNames::For(20, 3, 2, 4).Decode(21, index), CPickNames::NONE);
}

// Many small turns by the right button: the stored rotation stays a
// rotation to double precision.
TEST_F(ThreeDViewLayers, TheStoredRotationStaysOrthonormalOverManyTurns)
{
    Scatter(10, 2);
    C3DView view;
    if (!Show(view))
        GTEST_SKIP() << "the view has no OpenGL context";
    std::mt19937 random(7);
    std::uniform_int_distribution<int> step(-9, 9);
    QPoint at(200, 200);
    for (int k = 0; k < 400; ++k) {
        const Qt::KeyboardModifiers keys = k % 4 == 3 ? Qt::ControlModifier : Qt::NoModifier;
        QTest::mousePress(&view, Qt::RightButton, keys, at);
        const QPoint to(std::clamp(at.x() + step(random), 20, 380), std::clamp(at.y() + step(random), 20, 380));
        QMouseEvent move(QEvent::MouseMove, to, view.mapToGlobal(to), Qt::NoButton, Qt::RightButton, keys);
        QApplication::sendEvent(&view, &move);
        view.grabFramebuffer();
        QTest::mouseRelease(&view, Qt::RightButton, keys, to);
        at = to;
    }
    const double* m = view.GetStoredMatrix();
    double worst = 0.0;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            double dot = 0.0;
            for (int k = 0; k < 3; ++k)
                dot += m[i + 4 * k] * m[j + 4 * k];
            worst = std::max(worst, std::fabs(dot - (i == j ? 1.0 : 0.0)));
        }
    EXPECT_LT(worst, 1e-13);
    const double det = m[0] * (m[5] * m[10] - m[9] * m[6]) - m[4] * (m[1] * m[10] - m[9] * m[2]) +
                       m[8] * (m[1] * m[6] - m[5] * m[2]);
    EXPECT_NEAR(det, 1.0, 1e-13);
}

} // namespace three_d_view_layers_test
