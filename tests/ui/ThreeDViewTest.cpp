// The 3D view: scene box, eye distance and clip planes as plain functions,
// the camera symbol sizes, the cursor label's placement, and the picture
// read back from the framebuffer in colour classes.
#include "GLSupport.h"
#include "ShellFixture.h"

#include "3DView.h"
#include "EODevice.h"
#include "KestrelonDoc.h"
#include "ProjectDocument.h"
#include "SampleProject.h"
#include "ScaleBar.h"

#include <QOpenGLContext>
#include <QTest>

#include <cmath>

namespace three_d_view_test {

const double kPi = 4.0 * std::atan(1.0);

CObjectPoint Point(const char* label, double x, double y, double z)
{
    return CObjectPoint(label, x, y, z);
}

TEST(SceneGeometry, BoxEyeDistanceAndClipPlanes)
{
    CPointSet set;
    set.AddPointSorted(Point("A", 0, 0, 0));
    set.AddPointSorted(Point("B", 300, 400, 0));
    set.AddPointSorted(Point("C", 100, -200, 1200));
    CProjectImageList images;
    CProjectImage* image = images.AddNew();
    image->X = -500;
    image->Y = 100;
    image->Z = 100;
    CPointSymbolDrawer drawer;

    // Nothing to show: a zero box at the origin.
    CSceneBox box = ComputeSceneBox(drawer, &images, false);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(box.min[k], 0.0);
        EXPECT_EQ(box.max[k], 0.0);
    }

    drawer.SetPointList(&set);
    const struct {
        bool cameras;
        double min[3], max[3];
    } cases[] = {{false, {0, -200, 0}, {300, 400, 1200}}, {true, {-500, -200, 0}, {300, 400, 1200}}};
    for (const auto& c : cases) {
        box = ComputeSceneBox(drawer, &images, c.cameras);
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(box.min[k], c.min[k]) << k;
            EXPECT_EQ(box.max[k], c.max[k]) << k;
        }
    }
    // Diagonal of 800 x 600 x 1200 is 1562.05; radius 0.75 of it.
    double radius = 0.0;
    const double eye = ComputeEyeDistance(box, radius);
    EXPECT_NEAR(radius, 0.75 * std::sqrt(800.0 * 800 + 600 * 600 + 1200 * 1200), 1e-9);
    EXPECT_NEAR(eye * std::tan(22.5 * kPi / 180.0), radius, 1e-9);

    // A cube of half side 1 about the origin, axis tips at the origin: the 12
    // points have their centroid at 0 and reach sqrt(3) from it.
    const float r = float(std::sqrt(3.0));
    const struct {
        double eyeDistance;
        float panX;
        double nearPlane, farPlane;
    } clips[] = {
        {10.0, 0.0f, (10.0 - r) * 0.8, (10.0 + r) * 1.2},
        {8.0, 6.0f, (10.0 - r) * 0.8, (10.0 + r) * 1.2}, // eye at (-6, 0, 8)
        {double(r), 0.0f, 0.1 * 0.8, 2.0 * r * 1.2},     // near exactly 0
        {0.5, 0.0f, 0.1 * 0.8, (0.5 + r) * 1.2},         // near below 0
    };
    for (const auto& c : clips) {
        CClipInput in;
        for (int k = 0; k < 3; ++k)
            in.box.min[k] = -1.0, in.box.max[k] = 1.0;
        in.axisSize = 0.0;
        in.eyeDistance = c.eyeDistance;
        in.panX = c.panX;
        double nearPlane = 0.0, farPlane = 0.0;
        ComputeClipPlanes(in, nearPlane, farPlane);
        EXPECT_NEAR(nearPlane, c.nearPlane, 1e-5) << c.eyeDistance;
        EXPECT_NEAR(farPlane, c.farPlane, 1e-5) << c.eyeDistance;
    }
}

TEST(CameraSymbolSizes, FollowTheProjectUnitAndBack)
{
    CProjectDocument doc;
    auto previous = SetActiveProjectDocProvider([&doc] { return &doc; });
    const double mm[] = {400, 100, 150, 100, 50, 40, 50, 120, 100, 200, 50};
    CCameraSymbolSizes sizes;
    doc.unitIndex = 2; // m
    EXPECT_TRUE(sizes.SetUnits(2));
    for (int i = 0; i < CCameraSymbolSizes::SIZE_COUNT; ++i)
        EXPECT_NEAR(sizes.Get(i), mm[i] / 1000.0, 1e-12) << i;
    EXPECT_TRUE(sizes.SetUnits(2)); // the same unit changes nothing
    EXPECT_NEAR(sizes.Get(0), 0.4, 1e-12);
    doc.unitIndex = 0;
    EXPECT_TRUE(sizes.SetUnits(0));
    for (int i = 0; i < CCameraSymbolSizes::SIZE_COUNT; ++i)
        EXPECT_NEAR(sizes.Get(i), mm[i], 1e-9) << i;
    // Without an active document nothing changes.
    SetActiveProjectDocProvider(nullptr);
    EXPECT_FALSE(sizes.SetUnits(2));
    EXPECT_EQ(sizes.GetUnit(), 0);
    SetActiveProjectDocProvider(previous);
}

TEST(InfoOverlay, StaysInsideAtTheRightAndBottomOnly)
{
    const QSize parent(400, 300);
    const struct {
        QPoint cursor;
        QPoint at;
    } cases[] = {
        {{100, 100}, {120, 120}}, // free: 20 right of and below the cursor
        {{370, 100}, {340, 120}}, // right edge: 60 wide
        {{100, 290}, {120, 285}}, // bottom edge: 15 high
        {{-50, -40}, {-30, -20}}, // no clamp at the left or top
    };
    for (const auto& c : cases)
        EXPECT_EQ(CInfoOverlayEdit::Place(c.cursor, 60, 15, parent), c.at) << c.cursor.x();
}

TEST(PointSymbolDrawer, EllipsoidStatisticsOverTheSucceedingPoints)
{
    CPointSet set;
    for (const auto& [label, sx, sy, sz] : {std::tuple{"A", 1.0, 2.0, 3.0}, std::tuple{"B", 3.0, 1.0, 1.0},
                                            std::tuple{"C", 0.0, 0.0, 0.0}}) {
        CObjectPoint p = Point(label, 0, 0, 0);
        p.SetSigmas(sx, sy, sz);
        set.AddPointSorted(p);
    }
    CPointSymbolDrawer drawer;
    double e1 = -1, e2 = -1, e3 = -1, largest = -1;
    EXPECT_FALSE(drawer.GetMeanEllipsoidAxes(e1, e2, e3));
    EXPECT_FALSE(drawer.GetMaxEllipsoidAxis(largest));
    EXPECT_EQ(largest, 0.0);
    drawer.SetPointList(&set);
    // Eigenvalues ascending: A (1, 4, 9), B (1, 1, 9); C has none.
    ASSERT_TRUE(drawer.GetMeanEllipsoidAxes(e1, e2, e3));
    EXPECT_NEAR(e1, 1.0, 1e-9);
    EXPECT_NEAR(e2, 2.5, 1e-9);
    EXPECT_NEAR(e3, 9.0, 1e-9);
    ASSERT_TRUE(drawer.GetMaxEllipsoidAxis(largest));
    EXPECT_NEAR(largest, 9.0, 1e-9);
}

TEST(InfoOverlay, TheSameTextAgainLeavesTheLabelInPlace)
{
    QWidget parent;
    parent.resize(300, 200);
    CInfoOverlayEdit label(&parent);
    label.SetText(QStringLiteral("P1"));
    EXPECT_TRUE(label.ShowAt(QPoint(10, 10)));
    EXPECT_TRUE(label.IsShown());
    EXPECT_EQ(label.pos(), QPoint(30, 30));
    label.SetText(QStringLiteral("P1"));
    EXPECT_FALSE(label.ShowAt(QPoint(100, 100)));
    EXPECT_EQ(label.pos(), QPoint(30, 30));
    label.SetText(QStringLiteral("P2"));
    EXPECT_TRUE(label.ShowAt(QPoint(100, 100)));
    EXPECT_EQ(label.pos(), QPoint(120, 120));
    EXPECT_EQ(label.GetPreviousText(), QStringLiteral("P1"));
    EXPECT_EQ(label.height(), label.GetWindowHeight());
}

enum class Tone { Black, White, Grey, Red, Green, Cyan, Yellow, Other };

Tone ToneOf(QRgb p)
{
    const int r = qRed(p), g = qGreen(p), b = qBlue(p);
    if (r < 40 && g < 40 && b < 40)
        return Tone::Black;
    if (r > 200 && g > 200 && b > 200)
        return Tone::White;
    if (r > 90 && r < 160 && std::abs(r - g) < 20 && std::abs(r - b) < 20)
        return Tone::Grey;
    if (r > 150 && g < 100 && b < 100)
        return Tone::Red;
    if (g > 150 && r < 100 && b < 100)
        return Tone::Green;
    if (g > 150 && b > 150 && r < 100)
        return Tone::Cyan;
    if (r > 150 && g > 150 && b < 100)
        return Tone::Yellow;
    return Tone::Other;
}

class ThreeDView : public ::testing::Test {
protected:
    static constexpr int kSize = 400;
    void SetUp() override
    {
        if (!CanMakeGLContext())
            GTEST_SKIP() << "no OpenGL context can be made here";
    }
    void Show(C3DView& view)
    {
        if (!ShowGLWidget(view, kSize, kSize))
            GTEST_SKIP() << "the view has no OpenGL context";
    }
    static QPoint Project(const C3DView& view, double x, double y, double z)
    {
        return ProjectToWindow(view, x, y, z);
    }
    static int Count(const QImage& image, QPoint at, int half, Tone tone)
    {
        int n = 0;
        for (int y = at.y() - half; y <= at.y() + half; ++y)
            for (int x = at.x() - half; x <= at.x() + half; ++x)
                n += image.valid(x, y) && ToneOf(image.pixel(x, y)) == tone ? 1 : 0;
        return n;
    }
};

TEST_F(ThreeDView, PointsDiscsBarsDeviceAxesAndTheSetName)
{
    // Four points on a 1000 mm square in the plane Z = 0; the view looks down -Z.
    CPointSet set;
    set.name = "/tmp/Square.xyz";
    for (const auto& [label, x, y, radius] : {std::tuple{"P1", 100.0, 100.0, 0.0}, std::tuple{"P2", 1100.0, 100.0, 0.0},
                                             std::tuple{"P3", 1100.0, 1100.0, 60.0},
                                             std::tuple{"P4", 100.0, 1100.0, 60.0}, std::tuple{"P5", 600.0, 900.0, 0.0}}) {
        CObjectPoint p = Point(label, x, y, 0.0);
        p.radius = radius;
        if (radius > 0.0)
            p.SetNormal(0, 0, 1);
        set.AddPointSorted(p);
    }
    set.FindPointByText("P2")->selected = true;
    set.FindPointByText("P4")->selected = true;
    CScaleBarList bars;
    CScaleBar* bar = bars.AddNew();
    bar->endLabel1 = "P1";
    bar->endLabel2 = "P2";
    CEODevice device;
    for (const char* label : {"P2", "P3", "P5"})
        device.AddPointSorted(Point(label, 0, 0, 0));

    C3DView view;
    view.SetScene(&set, nullptr, &bars, &device);
    ASSERT_NO_FATAL_FAILURE(Show(view));
    if (IsSkipped())
        return;
    view.OnUpdate(nullptr, 0);
    view.GetLayers().scaleBars = true;
    EXPECT_TRUE(view.HasTextLists());
    const QImage image = view.grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    EXPECT_TRUE(image.save(TestOutputFolder() + "/3DViewSquare.png"));

    EXPECT_EQ(ToneOf(image.pixel(kSize - 3, kSize - 3)), Tone::Black);
    // An unselected point is one pixel, a selected one 3 x 3.
    const QPoint p5 = Project(view, 600, 900, 0);
    EXPECT_GE(Count(image, p5, 1, Tone::White), 1);
    EXPECT_LE(Count(image, p5, 2, Tone::White), 2);
    EXPECT_GE(Count(image, Project(view, 1100, 100, 0), 2, Tone::White), 8);
    // Discs: grey for P3, white for the selected P4, 60 mm around the point.
    const QPoint p3 = Project(view, 1100 - 30, 1100 + 30, 0);
    const QPoint p4 = Project(view, 100 + 30, 1100 + 30, 0);
    EXPECT_EQ(ToneOf(image.pixel(p3)), Tone::Grey);
    EXPECT_EQ(ToneOf(image.pixel(p4)), Tone::White);
    EXPECT_EQ(ToneOf(image.pixel(Project(view, 1100 - 100, 1100 + 100, 0))), Tone::Black);
    // The scale bar P1-P2 in cyan, the device outline P2-P3-P5 in yellow.
    EXPECT_GE(Count(image, Project(view, 500, 100, 0), 1, Tone::Cyan), 1);
    EXPECT_GE(Count(image, Project(view, 850, 1000, 0), 1, Tone::Yellow), 1);
    EXPECT_GE(Count(image, Project(view, 1100, 600, 0), 1, Tone::Yellow), 1);
    // World axes from the origin: red x, green y.
    const double a = view.GetAxisSize();
    EXPECT_GE(Count(image, Project(view, 0.5 * a, 0, 0), 1, Tone::Red), 1);
    EXPECT_GE(Count(image, Project(view, 0, 0.5 * a, 0), 1, Tone::Green), 1);
    // The set's name in white at the top left.
    EXPECT_GT(Count(image, QPoint(30, 10), 10, Tone::White), 15);

    // A red error ellipsoid of 500 x 0.1 mm around P5.
    set.FindPointByText("P5")->SetSigmas(0.1, 0.1, 0.1);
    view.GetLayers().pointEllipsoids = true;
    const QImage withEllipsoid = view.grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(ToneOf(withEllipsoid.pixel(Project(view, 600 + 30, 900, 0))), Tone::Red);
    EXPECT_EQ(ToneOf(withEllipsoid.pixel(Project(view, 600 + 70, 900, 0))), Tone::Black);
    view.GetLayers().pointEllipsoids = false;

    // An alignment frame translated by t = (-200, -300, 0) has its origin
    // at -R^T t = (200, 300, 0); its x axis is light red, its y light green.
    const double frame[16] = {1, 0, 0, -200, 0, 1, 0, -300, 0, 0, 1, 0, 0, 0, 0, 1};
    view.ShowAlignmentFrame(frame);
    const QImage aligned = view.grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    const QRgb fx = aligned.pixel(Project(view, 200 + 0.5 * a, 300, 0));
    const QRgb fy = aligned.pixel(Project(view, 200, 300 + 0.5 * a, 0));
    EXPECT_TRUE(qRed(fx) > 200 && qGreen(fx) > 100 && qGreen(fx) < 160) << std::hex << fx;
    EXPECT_TRUE(qGreen(fy) > 200 && qRed(fy) > 100 && qRed(fy) < 160) << std::hex << fy;
    view.ClearAlignmentFrame();

    // Turned about x, the z axis shows in cyan.
    view.SetRotation(-60.0, 0.0, 0.0);
    const QImage turned = view.grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    EXPECT_GE(Count(turned, Project(view, 0, 0, 0.5 * a), 1, Tone::Cyan), 1);
}

TEST_F(ThreeDView, SampleControlSetWithCamerasAndAnUpdateResetsTheView)
{
    QTemporaryDir folder;
    CProjectDocument doc;
    std::string message;
    ASSERT_TRUE(BuildSampleProject(doc, folder.path().toStdString(), message)) << message;
    CPointSet* control = doc.pointSets.GetAt(0);

    C3DView view;
    view.SetScene(control, &doc.images, &doc.scaleBars, nullptr);
    ASSERT_NO_FATAL_FAILURE(Show(view));
    if (IsSkipped())
        return;
    view.OnUpdate(nullptr, 0);
    view.GetLayers().cameras = true;
    view.RefreshScene();
    // The stations widen the box.
    for (int i = 0; i < doc.images.GetSize(); ++i) {
        const CProjectImage* image = doc.images.GetAt(i);
        EXPECT_GE(image->X, view.GetSceneBox().min[0]);
        EXPECT_LE(image->Z, view.GetSceneBox().max[2]);
    }
    view.SetRotation(-70.0, 0.0, 0.0);
    const QImage image = view.grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    EXPECT_TRUE(image.save(TestOutputFolder() + "/3DView.png"));
    // Every control point is white where it projects; every station shows
    // its symbol (not black) where it projects.
    for (int i = 0; i < control->GetSize(); ++i) {
        const CObjectPoint* p = control->GetAt(i);
        EXPECT_GE(Count(image, Project(view, p->x, p->y, p->z), 1, Tone::White), 1) << p->label.GetText();
    }
    for (int i = 0; i < doc.images.GetSize(); ++i) {
        const CProjectImage* s = doc.images.GetAt(i);
        const QPoint at = Project(view, s->X, s->Y, s->Z);
        if (image.valid(at)) {
            EXPECT_LT(Count(image, at, 2, Tone::Black), 25) << i;
        }
    }

    // Rays: none without a selection; with one control point selected, a
    // white ray from each station that observes it.
    view.GetLayers().rays = true;
    view.SetRotation(-70.0, 0.0, 0.0);
    const QImage noRays = view.grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    CObjectPoint* target = control->GetAt(0);
    target->selected = true;
    view.SetRotation(-70.0, 0.0, 0.0);
    const QImage rays = view.grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    int observing = 0, shown = 0;
    for (int i = 0; i < doc.images.GetSize(); ++i) {
        const CProjectImage* s = doc.images.GetAt(i);
        if (!s->targets.Find(target->label))
            continue;
        ++observing;
        const double f = 0.3; // near the target, away from the station symbol
        const QPoint at = Project(view, target->x + f * (s->X - target->x), target->y + f * (s->Y - target->y),
                                  target->z + f * (s->Z - target->z));
        shown += Count(rays, at, 1, Tone::White) > 0 && Count(noRays, at, 1, Tone::White) == 0 ? 1 : 0;
    }
    EXPECT_GT(observing, 1);
    EXPECT_GE(shown, observing - 1);
    target->selected = false;

    // While a job runs on the document the view shows none of it; the first
    // paint after the job draws it again.
    CKestrelonDoc busy;
    busy.m_bAutoDelete = false;
    busy.AddView(&view);
    busy.BeginJob();
    view.OnUpdate(nullptr, 0);
    const QImage during = view.grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(Count(during, QPoint(kSize / 2, kSize / 2), kSize / 2, Tone::Black), kSize * kSize); // every pixel
    busy.EndJob();
    const QImage after = view.grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    const CObjectPoint* first = control->GetAt(0);
    EXPECT_GE(Count(after, Project(view, first->x, first->y, first->z), 1, Tone::White), 1);
    busy.RemoveView(&view);

    // A document update returns the view to its defaults.
    view.SetPan(5.0f, -3.0f);
    view.SetFieldOfView(30.0);
    view.GetLayers().labels = view.GetLayers().rays = view.GetLayers().normals = true;
    view.OnUpdate(nullptr, 0);
    EXPECT_EQ(view.GetPanX(), 0.0f);
    EXPECT_EQ(view.GetPanY(), 0.0f);
    EXPECT_EQ(view.GetFieldOfView(), 45.0);
    const C3DView::Layers& layers = view.GetLayers();
    for (bool flag : {layers.cameras, layers.scaleBars, layers.discrepancies, layers.normals, layers.rays,
                      layers.labels, layers.pointEllipsoids, layers.cameraEllipsoids, layers.cameraAxes})
        EXPECT_FALSE(flag);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(view.GetStoredMatrix()[i], i % 5 == 0 ? 1.0 : 0.0);
}

} // namespace three_d_view_test

namespace three_d_view_test {

// While the view moves after a slow full frame, an even subset is drawn:
// with 500,000 points every second one. Even points lie at A, odd ones at B.
TEST_F(ThreeDView, TheThinnedPassDrawsEverySecondPointWhileMoving)
{
    CPointSet set;
    set.name = "/tmp/Thin.xyz";
    const int n = 500000;
    for (int i = 0; i < n; ++i) {
        CObjectPoint* p = set.AddNew();
        p->label = ("P" + std::to_string(i + 1)).c_str();
        p->x = i % 2 == 0 ? 0.0 : 1000.0;
        p->y = 0.0;
        p->z = 0.0;
    }
    C3DView view;
    view.SetScene(&set, nullptr, nullptr, nullptr);
    ASSERT_NO_FATAL_FAILURE(Show(view));
    if (IsSkipped())
        return;
    view.OnUpdate(nullptr, 0);
    view.grabFramebuffer();
    const QPoint a = Project(view, 0, 0, 0), b = Project(view, 1000, 0, 0);

    view.SetMoving(true);
    view.SetLastFullFrameMs(2 * C3DView::kSlowFrameMs);
    const QImage moving = view.grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(view.GetThinning(), 2);
    EXPECT_GE(Count(moving, a, 1, Tone::White), 1);
    EXPECT_EQ(Count(moving, b, 1, Tone::White), 0);

    view.SetMoving(false);
    const QImage still = view.grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(view.GetThinning(), 1);
    EXPECT_GE(Count(still, a, 1, Tone::White), 1);
    EXPECT_GE(Count(still, b, 1, Tone::White), 1);

    // A fast last frame draws every point while moving.
    view.SetMoving(true);
    view.SetLastFullFrameMs(1.0);
    view.grabFramebuffer();
    EXPECT_EQ(view.GetThinning(), 1);
}

} // namespace three_d_view_test
