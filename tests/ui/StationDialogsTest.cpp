// The station window and the station dialogs: the view from the station,
// the CPU pick against OpenGL's selection mode, the moves of the mouse, wheel
// and keys, the aim command, and "EDIT CAMERA STATION" and "Resect Camera
// Station" with their effect on the image.
#include "GLSupport.h"
#include "ProjectBuilder.h"
#include "ShellFixture.h"
#include "WholeTexts.h"

#include "Camera.h"
#include "Hub.h"
#include "PointSet.h"
#include "ProjectDocument.h"
#include "SampleProject.h"
#include "StationDialogs.h"
#include "GLPick.h"
#include "StationMath.h"
#include "StationOpenGL.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QPushButton>
#include <QTest>
#include <QWheelEvent>

#include <GL/gl.h>
#include <GL/glu.h>

#include <cmath>
#include <limits>
#include <random>

namespace station_dialogs_test {

const double kPi = 4.0 * std::atan(1.0);

// A camera of 18 x 12 mm and c = 20 mm at (0, -1000, 0) looking along +Y at
// points of the plane Y = 0; P4 and P6 carry discs, P6's facing away.
struct Scene {
    CProjectDocument doc;
    CCamera* camera = nullptr;
    CProjectImage* image = nullptr;
    CPointSet* driver = nullptr;
    Scene()
    {
        camera = AddCamera(doc, "Cam");
        camera->XPixels = 3000;
        camera->YPixels = 2000;
        camera->XPixelSize = camera->YPixelSize = 0.006;
        camera->parameters[CAM_C] = 20.0;
        image = AddImage(doc, {"Cam", true, true, 0});
        image->SetPose(0, -1000, 0, 0, 0, 0);
        driver = AddPointSet(doc, "/tmp/Drive.xyz");
        driver->isDriver = true;
        const struct {
            const char* label;
            double x, z, normalY, radius;
        } points[] = {{"P1", 0, 0, 0, 0},      {"P2", 200, 100, 0, 0},     {"P3", -150, -80, 0, 0},
                      {"P4", 100, -120, -1, 12}, {"P5", -200, 150, 0, 0}, {"P6", -60, 60, 1, 15}};
        for (const auto& p : points) {
            CObjectPoint point(p.label, p.x, 0.0, p.z);
            if (p.radius > 0.0) {
                point.radius = p.radius;
                point.SetNormal(0, p.normalY, 0);
            }
            driver->AddPointSorted(point);
        }
    }
    CObjectPoint* Point(const char* label) { return driver->FindPointByText(label); }
};

// Records the hub's messages.
class HubRecorder {
public:
    HubRecorder()
    {
        SetHubDispatcher(
            [this](HubTarget, unsigned message, std::uintptr_t, std::intptr_t) -> std::intptr_t {
                messages.push_back(message);
                return 0;
            },
            nullptr);
    }
    ~HubRecorder() { SetHubDispatcher(nullptr, nullptr); }
    std::vector<unsigned> messages;
};

// Window pixel (x right, y down) of a point seen from the station, with the
// window's field of view, projected here.
QPointF Project(const CStationOpenGL& w, const CProjectImage& s, const double p[3])
{
    double R[3][3];
    s.GetRotation(R);
    const double d[3] = {p[0] - s.X, p[1] - s.Y, p[2] - s.Z};
    double e[3];
    for (int i = 0; i < 3; ++i)
        e[i] = R[i][0] * d[0] + R[i][1] * d[1] + R[i][2] * d[2];
    const double f = 1.0 / std::tan(w.GetFieldOfView() * kPi / 360.0);
    const double aspect = double(w.width()) / w.height();
    const double nx = f / aspect * e[0] / -e[2], ny = f * e[1] / -e[2];
    return {(nx + 1.0) / 2.0 * w.width(), w.height() - (ny + 1.0) / 2.0 * w.height()};
}

QPoint ProjectLabel(const CStationOpenGL& w, const CProjectImage& s, const CObjectPoint& p)
{
    const double at[3] = {p.x, p.y, p.z};
    const QPointF q = Project(w, s, at);
    return {int(std::floor(q.x())), int(std::floor(q.y()))};
}

void Send(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons buttons,
          Qt::KeyboardModifiers keys = Qt::NoModifier)
{
    QMouseEvent event(type, QPointF(at), QPointF(w->mapToGlobal(at)), button, buttons, keys);
    QApplication::sendEvent(w, &event);
}

void Wheel(QWidget* w, int delta)
{
    const QPoint at(w->width() / 2, w->height() / 2);
    QWheelEvent event(QPointF(at), QPointF(w->mapToGlobal(at)), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &event);
}

// Replaces the text of the dialog's line edit as a user types it.
void TypeInto(CDialog& d, int id, const QString& text)
{
    auto* edit = d.Item<QLineEdit>(id);
    edit->selectAll();
    QTest::keyClicks(edit, text);
}

void Rotation(const CProjectImage& s, double R[3][3])
{
    s.GetRotation(R);
}

// ---------------------------------------------------------------------------
// Plain geometry

TEST(StationGeometry, ClipRangeAroundTheScene)
{
    CStationBox box;
    for (int k = 0; k < 3; ++k)
        box.min[k] = -1.0, box.max[k] = 1.0;
    const float r = float(std::sqrt(3.0));
    const struct {
        double station[3];
        float nearPlane, farPlane;
    } cases[] = {
        {{0, 10, 0}, (10.0f - r) * 0.9f, (10.0f + r) * 1.1f},
        {{6, 0, 8}, (10.0f - r) * 0.9f, (10.0f + r) * 1.1f},
        {{0.2, 0, 0}, 0.001f * 0.9f, (0.2f + r) * 1.1f},  // inside the scene's sphere
        {{double(r), 0, 0}, 0.001f * 0.9f, 2 * r * 1.1f}, // on it
    };
    for (const auto& c : cases) {
        float nearPlane = 0, farPlane = 0;
        ComputeStationClipRange(box, 0.0, c.station, nearPlane, farPlane);
        EXPECT_NEAR(nearPlane, c.nearPlane, 1e-5) << c.station[0];
        EXPECT_NEAR(farPlane, c.farPlane, 1e-5) << c.station[0];
    }
    // An empty scene of size 100: the axis tips reach 1.2 x 100 / 6 = 20.
    float nearPlane = 0, farPlane = 0;
    const double station[3] = {0, -1000, 0};
    ComputeStationClipRange(CStationBox(), 100.0 / 6.0, station, nearPlane, farPlane);
    const double m = 20.0 / 12.0;
    const double D = std::sqrt(m * m + (1000 + m) * (1000 + m) + m * m);
    const double reach = std::sqrt((20 - m) * (20 - m) + 2 * m * m);
    EXPECT_NEAR(nearPlane, (D - reach) * 0.9, 1e-3);
    EXPECT_NEAR(farPlane, (D + reach) * 1.1, 1e-3);
}

// The modelview of the station equals a turn of 90 degrees about x followed
// by the azimuth, elevation and roll of R^T about y, x and z and the shift
// by the station, built here from plain axis rotations.
TEST(StationGeometry, ModelviewIsTheChainOfAxisTurns)
{
    auto axis = [](int k, double a, double M[3][3]) {
        const double c = std::cos(a), s = std::sin(a);
        const int i = (k + 1) % 3, j = (k + 2) % 3;
        for (int r = 0; r < 3; ++r)
            for (int q = 0; q < 3; ++q)
                M[r][q] = r == q ? 1.0 : 0.0;
        M[i][i] = c, M[i][j] = -s, M[j][i] = s, M[j][j] = c;
    };
    auto mul = [](const double A[3][3], const double B[3][3], double C[3][3]) {
        double t[3][3];
        for (int r = 0; r < 3; ++r)
            for (int q = 0; q < 3; ++q)
                t[r][q] = A[r][0] * B[0][q] + A[r][1] * B[1][q] + A[r][2] * B[2][q];
        std::copy(&t[0][0], &t[0][0] + 9, &C[0][0]);
    };
    std::mt19937 random(7);
    std::uniform_real_distribution<double> angle(-1.4, 1.4);
    for (int n = 0; n < 20; ++n) {
        CProjectImage s;
        s.SetPose(angle(random) * 100, angle(random) * 100, angle(random) * 100, 2 * angle(random), angle(random),
                  2 * angle(random));
        CProjectImage transposed;
        double R[3][3], T[3][3];
        s.GetRotation(R);
        for (int r = 0; r < 3; ++r)
            for (int q = 0; q < 3; ++q)
                T[r][q] = R[q][r];
        transposed.SetRotation(0, 0, 0);
        for (int r = 0; r < 3; ++r)
            for (int q = 0; q < 3; ++q)
                transposed.rotation.SetAt(T[r][q], r, q);
        double M[3][3], A[3][3];
        axis(0, kPi / 2, M);
        axis(1, transposed.GetAzimuth(), A);
        mul(M, A, M);
        axis(0, transposed.GetElevation(), A);
        mul(M, A, M);
        axis(2, transposed.GetRoll(), A);
        mul(M, A, M);
        double m[16];
        StationModelview(s, m);
        const double S[3] = {s.X, s.Y, s.Z};
        for (int r = 0; r < 3; ++r) {
            for (int q = 0; q < 3; ++q)
                EXPECT_NEAR(m[q * 4 + r], M[r][q], 1e-12) << n;
            EXPECT_NEAR(m[12 + r], -(M[r][0] * S[0] + M[r][1] * S[1] + M[r][2] * S[2]), 1e-9) << n;
        }
    }
}

TEST(StationGeometry, RollNearTheCentreTurnAndAimBehind)
{
    CProjectImage s;
    s.SetPose(0, 0, 0, 0.4, 0.3, 0.2);
    double start[3][3], R[3][3];
    Rotation(s, start);
    RollStation(s, start, 0.0);
    Rotation(s, R);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            EXPECT_EQ(R[i][j], start[i][j]);
    // A turn by a about the camera's y axis: the viewing direction turns by a.
    TurnStation(s, start, 0.7, 0.0);
    Rotation(s, R);
    const double dot = R[2][0] * start[2][0] + R[2][1] * start[2][1] + R[2][2] * start[2][2];
    EXPECT_NEAR(std::acos(dot), 0.7, 1e-12);
    // A point straight behind: the camera turns round to it.
    s.SetPose(0, 0, 0, 0, 0, 0); // looking along +Y
    const double behind[3] = {0, -50, 0};
    ASSERT_TRUE(AimStationAt(s, behind));
    Rotation(s, R);
    EXPECT_NEAR(-R[2][1], -1.0, 1e-15);
}

// ---------------------------------------------------------------------------
// The window under Xvfb

class StationWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!CanMakeGLContext())
            GTEST_SKIP() << "no OpenGL context can be made here";
        window.resize(360, 240);
        window.SetScene(scene.image, scene.camera, scene.driver);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        if (!window.context() || !window.context()->isValid())
            GTEST_SKIP() << "the window has no OpenGL context";
        window.grabFramebuffer(); // one paint: the clip range of the station
        previousRunner = CStationOpenGL::SetMenuRunner([this](QMenu* menu, const QPoint&) -> QAction* {
            ++menus;
            QAction* aim = menu->findChild<QAction*>(QStringLiteral("id355"));
            if (!aim)
                for (QAction* a : menu->actions())
                    if (a->objectName() == QStringLiteral("id355"))
                        aim = a;
            aimEnabled = aim && aim->isEnabled();
            if (aim && aim->isEnabled())
                aim->trigger();
            return aim;
        });
    }
    void TearDown() override { CStationOpenGL::SetMenuRunner(previousRunner); }
    void Click(QPoint at, Qt::MouseButton button, Qt::KeyboardModifiers keys = Qt::NoModifier)
    {
        Send(&window, QEvent::MouseButtonPress, at, button, button, keys);
        Send(&window, QEvent::MouseButtonRelease, at, button, Qt::NoButton, keys);
    }
    std::vector<std::string> Selected() const
    {
        std::vector<std::string> out;
        for (int i = 0; i < scene.driver->GetSize(); ++i)
            if (scene.driver->GetAt(i)->selected)
                out.push_back(scene.driver->GetAt(i)->label.GetText());
        return out;
    }
    Scene scene;
    CStationOpenGL window;
    CStationOpenGL::MenuRunner previousRunner;
    int menus = 0;
    bool aimEnabled = false;
};

TEST_F(StationWindow, SceneSizeFieldOfViewAndThePicture)
{
    // Box 400 x 0 x 270: the diagonal.
    EXPECT_NEAR(window.GetSceneSize(), std::hypot(400.0, 270.0), 1e-12);
    EXPECT_NEAR(window.GetAxisSize(), window.GetSceneSize() / 6.0, 1e-12);
    EXPECT_NEAR(window.GetFieldOfView(), 2.0 * std::atan(6.0 / 20.0) * 180.0 / kPi, 1e-4);
    const QImage image = window.grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    // Every point is white where the test projects it.
    for (int i = 0; i < scene.driver->GetSize(); ++i) {
        const QPoint at = ProjectLabel(window, *scene.image, *scene.driver->GetAt(i));
        int white = 0;
        for (int y = at.y() - 1; y <= at.y() + 1; ++y)
            for (int x = at.x() - 1; x <= at.x() + 1; ++x)
                white += image.valid(x, y) && qRed(image.pixel(x, y)) > 200 && qBlue(image.pixel(x, y)) > 200;
        EXPECT_GT(white, 0) << scene.driver->GetAt(i)->label.GetText();
    }
}

TEST_F(StationWindow, HoverClickShiftClickAndRubberBand)
{
    const QPoint p3 = ProjectLabel(window, *scene.image, *scene.Point("P3"));
    Send(&window, QEvent::MouseMove, p3, Qt::NoButton, Qt::NoButton);
    EXPECT_TRUE(window.GetInfoOverlay().IsShown());
    EXPECT_EQ(window.GetInfoOverlay().GetCurrentText(), QStringLiteral("P3"));
    // Off every point the label goes; over the same point it comes back.
    Send(&window, QEvent::MouseMove, p3 + QPoint(30, 0), Qt::NoButton, Qt::NoButton);
    EXPECT_FALSE(window.GetInfoOverlay().IsShown());
    Send(&window, QEvent::MouseMove, p3, Qt::NoButton, Qt::NoButton);
    EXPECT_TRUE(window.GetInfoOverlay().IsShown());

    Click(ProjectLabel(window, *scene.image, *scene.Point("P5")), Qt::LeftButton);
    EXPECT_EQ(Selected(), std::vector<std::string>{"P5"});
    Click(ProjectLabel(window, *scene.image, *scene.Point("P1")), Qt::LeftButton, Qt::ShiftModifier);
    EXPECT_EQ(Selected(), (std::vector<std::string>{"P1", "P5"}));
    Click(p3 + QPoint(30, 0), Qt::LeftButton);
    EXPECT_TRUE(Selected().empty());
    // A band around P2 and P4 (both right of the centre, P2 above, P4 below).
    const QPoint p2 = ProjectLabel(window, *scene.image, *scene.Point("P2"));
    const QPoint p4 = ProjectLabel(window, *scene.image, *scene.Point("P4"));
    const QPoint from(std::min(p2.x(), p4.x()) - 5, p2.y() - 5), to(std::max(p2.x(), p4.x()) + 5, p4.y() + 5);
    Send(&window, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    Send(&window, QEvent::MouseMove, (from + to) / 2, Qt::NoButton, Qt::LeftButton);
    Send(&window, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(Selected(), (std::vector<std::string>{"P2", "P4"}));
}

TEST_F(StationWindow, RightClickOpensTheMenuAndAimsADragDoesNot)
{
    const QPoint centre(window.width() / 2, window.height() / 2);
    // No selection: the aim item is greyed.
    Click(centre, Qt::RightButton);
    EXPECT_EQ(menus, 1);
    EXPECT_FALSE(aimEnabled);

    scene.Point("P2")->selected = true;
    // A drag: no menu, and the station turned relative to the press.
    double before[3][3], R[3][3];
    Rotation(*scene.image, before);
    Send(&window, QEvent::MouseButtonPress, centre, Qt::RightButton, Qt::RightButton);
    Send(&window, QEvent::MouseMove, centre + QPoint(36, 0), Qt::NoButton, Qt::RightButton);
    Send(&window, QEvent::MouseButtonRelease, centre + QPoint(36, 0), Qt::RightButton, Qt::NoButton);
    EXPECT_EQ(menus, 1);
    Rotation(*scene.image, R);
    const double dot = R[2][0] * before[2][0] + R[2][1] * before[2][1] + R[2][2] * before[2][2];
    EXPECT_NEAR(std::acos(std::min(1.0, dot)), 36.0 / 360.0, 1e-12);

    // A click: the menu, and its aim turns P2 into the window's centre.
    const double x = scene.image->X, y = scene.image->Y, z = scene.image->Z;
    Click(centre, Qt::RightButton);
    EXPECT_EQ(menus, 2);
    EXPECT_TRUE(aimEnabled);
    EXPECT_EQ(scene.image->X, x);
    EXPECT_EQ(scene.image->Y, y);
    EXPECT_EQ(scene.image->Z, z);
    const double p2[3] = {200, 0, 100};
    const QPointF at = Project(window, *scene.image, p2);
    EXPECT_NEAR(at.x(), window.width() / 2.0, 1e-9);
    EXPECT_NEAR(at.y(), window.height() / 2.0, 1e-9);
    Rotation(*scene.image, R);
    EXPECT_LT(R[2][0] * 200 + R[2][1] * 1000 + R[2][2] * 100, 0.0); // in front, not behind
    const QImage image = window.grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    int white = 0;
    for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx)
            white += qRed(image.pixel(centre.x() + dx, centre.y() + dy)) > 200 ? 1 : 0;
    EXPECT_GT(white, 0);
}

TEST_F(StationWindow, WheelAndArrowKeysMoveAlongTheViewingDirection)
{
    double R[3][3];
    Rotation(*scene.image, R);
    const double view[3] = {-R[2][0], -R[2][1], -R[2][2]};
    const double s = window.GetSceneSize();
    const double start[3] = {scene.image->X, scene.image->Y, scene.image->Z};
    Wheel(&window, 120);
    const double moved[3] = {scene.image->X - start[0], scene.image->Y - start[1], scene.image->Z - start[2]};
    for (int k = 0; k < 3; ++k)
        EXPECT_NEAR(moved[k], 0.0024 * s * view[k], 1e-9) << k;
    // The down arrow moves forward by 0.02 of the scene, the up arrow back.
    EXPECT_TRUE(window.OnChar(CStationOpenGL::VK_DOWN_CODE));
    EXPECT_NEAR(scene.image->Y - start[1], (0.0024 + 0.02) * s, 1e-9);
    EXPECT_TRUE(window.OnChar(CStationOpenGL::VK_UP_CODE));
    EXPECT_NEAR(scene.image->Y - start[1], 0.0024 * s, 1e-9);
    EXPECT_FALSE(window.OnChar('A'));
}

TEST_F(StationWindow, ShiftPansAndCtrlRollsAboutTheCentre)
{
    const QPoint centre(window.width() / 2, window.height() / 2);
    const double s = window.GetSceneSize();
    double start[3][3], R[3][3];
    Rotation(*scene.image, start);
    const double x = scene.image->X, y = scene.image->Y, z = scene.image->Z;
    // Shift: 10 pixels right and 4 down move the station along its own -x and +y.
    Send(&window, QEvent::MouseButtonPress, centre, Qt::RightButton, Qt::RightButton, Qt::ShiftModifier);
    Send(&window, QEvent::MouseMove, centre + QPoint(10, 4), Qt::NoButton, Qt::RightButton, Qt::ShiftModifier);
    Send(&window, QEvent::MouseButtonRelease, centre + QPoint(10, 4), Qt::RightButton, Qt::NoButton,
         Qt::ShiftModifier);
    const double v[2] = {-10 * s * 0.001, -4 * s * 0.001};
    EXPECT_NEAR(scene.image->X - x, v[0] * start[0][0] + v[1] * start[1][0], 1e-9);
    EXPECT_NEAR(scene.image->Y - y, v[0] * start[0][1] + v[1] * start[1][1], 1e-9);
    EXPECT_NEAR(scene.image->Z - z, v[0] * start[0][2] + v[1] * start[1][2], 1e-9);
    Rotation(*scene.image, R);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            EXPECT_EQ(R[i][j], start[i][j]);
    EXPECT_EQ(menus, 0);

    // Ctrl: from the right of the centre to below it, the angle about the
    // centre goes from pi to -pi/2: a turn of -3 pi / 2 about the viewing
    // axis, Z rows (0, 1, 0) and (-1, 0, 0).
    Send(&window, QEvent::MouseButtonPress, centre + QPoint(50, 0), Qt::RightButton, Qt::RightButton,
         Qt::ControlModifier);
    Send(&window, QEvent::MouseMove, centre + QPoint(0, 50), Qt::NoButton, Qt::RightButton, Qt::ControlModifier);
    Rotation(*scene.image, R);
    for (int k = 0; k < 3; ++k) {
        EXPECT_NEAR(R[0][k], start[1][k], 1e-12) << k;
        EXPECT_NEAR(R[1][k], -start[0][k], 1e-12) << k;
        EXPECT_NEAR(R[2][k], start[2][k], 1e-12) << k;
    }
    // Within 5 pixels of the centre: the start rotation.
    Send(&window, QEvent::MouseMove, centre + QPoint(3, 3), Qt::NoButton, Qt::RightButton, Qt::ControlModifier);
    Send(&window, QEvent::MouseButtonRelease, centre + QPoint(3, 3), Qt::RightButton, Qt::NoButton,
         Qt::ControlModifier);
    Rotation(*scene.image, R);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            EXPECT_EQ(R[i][j], start[i][j]);
}

// The Part's selection-mode pass, run here, and the CPU test give the same
// names in the same order.
TEST_F(StationWindow, CpuPickMatchesSelectionMode)
{
    // More points, with discs facing towards and away from the station.
    std::mt19937 random(11);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int i = 0; i < 60; ++i) {
        CObjectPoint p(("R" + std::to_string(i)).c_str(), 250 * u(random), 100 * u(random), 160 * u(random));
        if (i % 2 == 0) {
            p.radius = 8 + 6 * u(random);
            p.SetNormal(u(random), u(random), u(random));
        }
        scene.driver->AddPointSorted(p);
    }
    window.SetScene(scene.image, scene.camera, scene.driver);
    window.grabFramebuffer();
    const int viewport[4] = {0, 0, window.width(), window.height()};
    double modelview[16], projection[16];
    StationModelview(*scene.image, modelview);
    window.GetProjection(projection);

    window.makeCurrent();
    CPointSymbolDrawer drawer;
    drawer.SetPointList(scene.driver);
    ASSERT_NE(drawer.BuildDiscList(), 0u);
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    auto selectionMode = [&](const CPickRegion& region) {
        return CStationOpenGL::SelectionModeNames(region, viewport, projection, modelview,
                                                  [&drawer] { drawer.Draw(1.0f, true, 1); }, 20000);
    };
    std::uniform_real_distribution<double> px(0, window.width()), py(0, window.height());
    int withHits = 0;
    for (int n = 0; n < 260; ++n) {
        CPickRegion region;
        if (n < 200) {
            region.x = std::floor(px(random));
            region.y = std::floor(py(random));
        } else {
            region.x = std::floor(px(random));
            region.y = std::floor(py(random));
            region.width = 10 + std::floor(60 * (u(random) + 1));
            region.height = 10 + std::floor(40 * (u(random) + 1));
        }
        // Cursors over the points too, so that there are hits to compare.
        if (n % 3 == 0) {
            const CObjectPoint* p = scene.driver->GetAt(n % scene.driver->GetSize());
            const QPoint at = ProjectLabel(window, *scene.image, *p);
            region.x = at.x();
            region.y = window.height() - at.y();
        }
        // The window's CPU test: the drawer's, under pick x projection x modelview.
        double pick[16], pickProjection[16], m[16];
        PickMatrix(region, viewport, pick);
        MultiplyMatrices(pick, projection, pickProjection);
        MultiplyMatrices(pickProjection, modelview, m);
        const double eye[3] = {scene.image->X, scene.image->Y, scene.image->Z};
        std::vector<unsigned> names;
        drawer.PickPoints(m, eye, 1.0f, true, 1, names);
        const std::vector<int> cpu(names.begin(), names.end());
        const std::vector<int> gl = selectionMode(region);
        EXPECT_EQ(cpu, gl) << n << " at " << region.x << "," << region.y;
        withHits += gl.empty() ? 0 : 1;
    }
    drawer.DeleteDiscList();
    window.doneCurrent();
    EXPECT_GT(withHits, 60);
}

TEST_F(StationWindow, AnEmptyOrMissingSetDrawsTheAxesAlone)
{
    window.SetScene(scene.image, scene.camera, nullptr);
    EXPECT_EQ(window.GetSceneSize(), 100.0);
    EXPECT_NEAR(window.GetAxisSize(), 100.0 / 6.0, 1e-12);
    const QPoint centre(window.width() / 2, window.height() / 2);
    // Over the axes' origin: no label.
    Send(&window, QEvent::MouseMove, centre, Qt::NoButton, Qt::NoButton);
    EXPECT_FALSE(window.GetInfoOverlay().IsShown());
    Click(centre, Qt::LeftButton);
    Click(centre, Qt::RightButton);
    EXPECT_EQ(menus, 1);
    EXPECT_FALSE(aimEnabled);
    window.OnAimAtSelection();
    Wheel(&window, 120);
    EXPECT_NEAR(scene.image->Y, -1000 + 0.24, 1e-9);
    window.grabFramebuffer();
}

// ---------------------------------------------------------------------------
// The dialogs

class StationDialogs : public ::testing::Test {
protected:
    void SetUp() override
    {
        TakeCapturedMessages();
        previous = SetMessageBoxHandler([this](const char* text, const char*, unsigned type) {
            asked.push_back(text);
            if (answers.empty())
                return DefaultMessageAnswer(type);
            const int a = answers.front();
            answers.erase(answers.begin());
            return a;
        });
    }
    void TearDown() override { SetMessageBoxHandler(previous); }
    Scene scene;
    HubRecorder hub;
    std::vector<std::string> asked;
    std::vector<int> answers;
    MessageBoxHandler previous;
};

TEST_F(StationDialogs, AllZerosAsksAndTheAnswerDecides)
{
    for (int answer : {IDNO, IDYES}) {
        scene.image->SetPose(0, 0, 0, 0, 0, 0);
        scene.image->oriented = true;
        scene.doc.SetModifiedFlag(false);
        hub.messages.clear();
        asked.clear();
        answers = {answer};
        CEditCameraStationDlg dlg(scene.image, nullptr, &scene.doc);
        ASSERT_TRUE(dlg.OnInitDialog());
        EXPECT_TRUE(dlg.Item<QCheckBox>(1288)->isChecked());
        dlg.OnOK();
        EXPECT_EQ(dlg.result(), IDOK);
        EXPECT_EQ(asked, std::vector<std::string>{"All values 0!!! Set As Resected???"});
        EXPECT_EQ(scene.image->oriented, answer == IDYES);
        EXPECT_TRUE(scene.doc.IsModified());
        // The tree's icon and the right pane's list are refreshed.
        EXPECT_EQ(hub.messages, (std::vector<unsigned>{UM_REFRESH_IMAGES_AND_LIST, UM_RECREATE_GL_CONTEXT}));
    }
    // Not all zero: no question, the check box decides.
    scene.image->SetPose(0, 0, 0, 0, 0.5, 0);
    asked.clear();
    CEditCameraStationDlg dlg(scene.image, nullptr, &scene.doc);
    dlg.OnInitDialog();
    dlg.Item<QCheckBox>(1288)->setChecked(false);
    TypeInto(dlg, 1109, QStringLiteral("0.25"));
    dlg.OnOK();
    EXPECT_TRUE(asked.empty());
    EXPECT_FALSE(scene.image->oriented);
    EXPECT_EQ(scene.image->aprioriSigma[0], 0.25);
}

TEST_F(StationDialogs, ShowViewSizesKeysAndCancelAfterMovingTheStation)
{
    if (!CanMakeGLContext())
        GTEST_SKIP() << "no OpenGL context can be made here";
    scene.image->SetPose(10, -1000, 5, 0, 0, 0);
    double before[3][3];
    Rotation(*scene.image, before);
    CEditCameraStationDlg dlg(scene.image, nullptr, &scene.doc);
    ASSERT_TRUE(dlg.OnInitDialog());
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    const QSize first = dlg.size();
    EXPECT_EQ(dlg.GetCollapsedSize(), first);
    // Sensor 18 x 12 mm.
    const int viewWidth = int((first.height() - 60) / 12.0 * 18.0);
    EXPECT_EQ(dlg.GetViewSize(), QSize(viewWidth, first.height() - 60));
    EXPECT_EQ(dlg.GetExpandedSize(), QSize(viewWidth + first.width() + 30, first.height()));
    CStationOpenGL* view = dlg.GetStationWindow();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->geometry(), QRect(first.width() + 10, 10, viewWidth, first.height() - 60));

    // The arrow keys reach the station only while the view is shown.
    auto* field = dlg.Item<QLineEdit>(1041);
    field->setFocus();
    QTest::keyClick(field, Qt::Key_Down);
    EXPECT_EQ(dlg.GetWorkingStation().Y, -1000.0);
    auto* button = dlg.Item<QPushButton>(CEditCameraStationDlg::ID_SHOW_VIEW);
    button->click();
    EXPECT_EQ(button->text(), QStringLiteral("<< Hide View"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return dlg.size() == dlg.GetExpandedSize(); }, 5000)) << "dlg.GetExpandedSize()";
    const QPoint expandedAt = dlg.pos();
    QTest::keyClick(field, Qt::Key_Down);
    EXPECT_NEAR(dlg.GetWorkingStation().Y, -1000.0 + 0.02 * view->GetSceneSize(), 1e-9);
    // The fields follow the working station.
    EXPECT_EQ(dlg.Item<QLineEdit>(1042)->text(), QString::number(dlg.GetWorkingStation().Y, 'g', 15));

    // Typing an azimuth of 90 and leaving the field turns the working station.
    auto* azimuth = dlg.Item<QLineEdit>(1044);
    azimuth->setText(QStringLiteral("90"));
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(azimuth, &out);
    double R[3][3];
    Rotation(dlg.GetWorkingStation(), R);
    EXPECT_NEAR(-R[2][0], -1.0, 1e-12); // now looking along -X
    Wheel(view, 120);
    EXPECT_NE(dlg.GetWorkingStation().X, 10.0);
    // A field that does not read as a number: one message, the station stays.
    asked.clear();
    const double x = dlg.GetWorkingStation().X;
    auto* elevation = dlg.Item<QLineEdit>(1045);
    elevation->setText(QStringLiteral("steep"));
    QFocusEvent leave(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(elevation, &leave);
    EXPECT_EQ(asked, std::vector<std::string>{"Please enter a number."});
    EXPECT_EQ(dlg.GetWorkingStation().X, x);
    elevation->setText(QStringLiteral("0"));

    button->click();
    EXPECT_EQ(button->text(), QStringLiteral("Show View >>"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return dlg.size() == first; }, 5000)) << "first";
    button->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return dlg.size() == dlg.GetExpandedSize(); }, 5000)) << "dlg.GetExpandedSize()";
    EXPECT_EQ(dlg.pos(), expandedAt); // the second expansion does not move it

    hub.messages.clear();
    dlg.OnCancel();
    EXPECT_EQ(dlg.result(), IDCANCEL);
    EXPECT_EQ(hub.messages, std::vector<unsigned>{UM_RECREATE_GL_CONTEXT});
    EXPECT_EQ(scene.image->X, 10.0);
    EXPECT_EQ(scene.image->Y, -1000.0);
    EXPECT_EQ(scene.image->Z, 5.0);
    Rotation(*scene.image, R);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            EXPECT_EQ(R[i][j], before[i][j]);
    EXPECT_FALSE(scene.doc.IsModified());
}

TEST_F(StationDialogs, WithoutACameraOrSensorTheViewIsOff)
{
    for (int variant = 0; variant < 3; ++variant) {
        Scene s;
        if (variant == 0)
            s.image->cameraName = "Missing";
        else if (variant == 1)
            s.camera->YPixels = 0;
        else
            s.camera->parameters[CAM_C] = 0.0;
        CEditCameraStationDlg dlg(s.image, nullptr, &s.doc);
        dlg.OnInitDialog();
        EXPECT_FALSE(dlg.Item<QPushButton>(CEditCameraStationDlg::ID_SHOW_VIEW)->isEnabled()) << variant;
        EXPECT_EQ(dlg.GetStationWindow(), nullptr);
        TypeInto(dlg, 1041, QStringLiteral("12.5"));
        dlg.OnOK();
        EXPECT_EQ(s.image->X, 12.5);
    }
}

// A sensor of absurd numbers (a pixel count or size typed wrong) keeps the
// view between 1:3 and 3:1, so that "Show View >>" gives a dialog of a sane
// size; a sensor of no finite size has no view.
TEST_F(StationDialogs, ASensorOfAbsurdShapeKeepsTheViewWithinThreeToOne)
{
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* name;
        unsigned xPixels;
        double xSize;
        unsigned yPixels;
        double ySize;
        double aspect; // of the view; 0: no view
    };
    const Case cases[] = {
        {"the usual 3:2", 3000, 0.006, 2000, 0.006, 1.5},
        {"a million pixels of 12 mm across", 1000000, 12.345, 2000, 0.006, 3.0},
        {"pixels of 1e-16 mm high", 3000, 0.006, 2000, 1e-16, 3.0},
        {"a strip one pixel wide", 1, 0.006, 2000, 0.006, 1.0 / 3.0},
        {"an infinite pixel size", 3000, inf, 2000, 0.006, 0.0},
    };
    const bool gl = CanMakeGLContext();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Scene s;
        s.camera->XPixels = c.xPixels;
        s.camera->XPixelSize = c.xSize;
        s.camera->YPixels = c.yPixels;
        s.camera->YPixelSize = c.ySize;
        CEditCameraStationDlg dlg(s.image, nullptr, &s.doc);
        ASSERT_TRUE(dlg.OnInitDialog());
        auto* button = dlg.Item<QPushButton>(CEditCameraStationDlg::ID_SHOW_VIEW);
        const QSize collapsed = dlg.GetCollapsedSize();
        const QSize view = dlg.GetViewSize();
        EXPECT_EQ(view.height(), collapsed.height() - 60);
        if (c.aspect == 0.0) {
            EXPECT_FALSE(button->isEnabled());
            EXPECT_EQ(dlg.GetStationWindow(), nullptr);
            continue;
        }
        EXPECT_TRUE(button->isEnabled());
        EXPECT_NEAR(view.width(), view.height() * c.aspect, 1.0);
        EXPECT_EQ(dlg.GetExpandedSize(), QSize(view.width() + collapsed.width() + 30, collapsed.height()));
        if (!gl)
            continue;
        dlg.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
        button->click();
        EXPECT_TRUE(QTest::qWaitFor([&] { return dlg.size() == dlg.GetExpandedSize(); }, 5000));
        dlg.OnCancel();
    }
}

TEST_F(StationDialogs, ResectCameraStationWritesThePositionOnOK)
{
    scene.image->SetPose(1, 2, 3, 0.1, 0.2, 0.3);
    {
        CResectStationDlg dlg(scene.image, nullptr, &scene.doc);
        EXPECT_EQ(dlg.m_bUseGiven, 0);
        dlg.m_bUseGiven = 1;
        dlg.OnInitDialog();
        EXPECT_TRUE(dlg.Item<QCheckBox>(1112)->isChecked());
        EXPECT_EQ(dlg.Item<QLineEdit>(1691)->text(), QStringLiteral("Image1"));
        TypeInto(dlg, 1043, QStringLiteral("x"));
        dlg.OnOK();
        EXPECT_EQ(asked, std::vector<std::string>{"Please enter a number."});
        EXPECT_EQ(scene.image->Z, 3.0);
        TypeInto(dlg, 1043, QStringLiteral("-7.5"));
        dlg.OnCancel();
        EXPECT_EQ(scene.image->Z, 3.0);
        EXPECT_FALSE(scene.doc.IsModified());
    }
    CResectStationDlg dlg(scene.image, nullptr, &scene.doc);
    dlg.OnInitDialog();
    TypeInto(dlg, 1043, QStringLiteral("-7.5"));
    dlg.OnOK();
    EXPECT_EQ(dlg.result(), IDOK);
    EXPECT_EQ(scene.image->Z, -7.5);
    EXPECT_EQ(scene.image->X, 1.0);
    EXPECT_NEAR(scene.image->GetRoll(), 0.3, 1e-12);
    EXPECT_TRUE(scene.doc.IsModified());
}

TEST_F(StationDialogs, PictureOfTheExpandedDialogOnTheSample)
{
    if (!CanMakeGLContext())
        GTEST_SKIP() << "no OpenGL context can be made here";
    QTemporaryDir folder;
    CProjectDocument doc;
    std::string message;
    ASSERT_TRUE(BuildSampleProject(doc, folder.path().toStdString(), message)) << message;
    ASSERT_GT(doc.images.GetSize(), 0);
    if (!doc.pointSets.GetDriverSet())
        doc.pointSets.GetAt(0)->isDriver = true;
    CProjectImage* image = doc.images.GetAt(0);
    CEditCameraStationDlg dlg(image, nullptr, &doc);
    ASSERT_TRUE(dlg.OnInitDialog());
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    dlg.OnShowView();
    EXPECT_TRUE(QTest::qWaitFor([&] { return dlg.size() == dlg.GetExpandedSize(); }, 5000)) << "dlg.GetExpandedSize()";
    CStationOpenGL* view = dlg.GetStationWindow();
    ASSERT_NE(view, nullptr);
    // The sample's points are in front of its first station.
    const QImage picture = view->grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    int white = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            white += qRed(picture.pixel(x, y)) > 200 && qGreen(picture.pixel(x, y)) > 200 ? 1 : 0;
    EXPECT_GT(white, 5);
    ExpectWholeAndSave(dlg, QStringLiteral("/EditCameraStationDlg.png"));
    dlg.OnCancel();
}

} // namespace station_dialogs_test
