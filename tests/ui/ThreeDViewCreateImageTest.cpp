// New images from the 3D view: the station on the axis of what the view
// draws, the view's rotation, the turn onto an aim point, the camera choice,
// and the observations of the displayed points.
#include "GLSupport.h"
#include "ProjectBuilder.h"
#include "ShellFixture.h"

#include "3DView.h"
#include "Camera.h"
#include "Intersection.h"
#include "KestrelonView.h"
#include "PointSet.h"
#include "ProjectImage.h"

#include <QApplication>
#include <QComboBox>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QTest>

#include <cmath>
#include <string>

namespace three_d_view_create_image_test {

// Camera "Cam<k>": principal distance 20 + 4 (k - 1) mm, 4000 x 3000 pixels of 6 um.
void SetSensor(CCamera& camera, int k)
{
    camera.parameters[CAM_C] = 20.0 + 4.0 * (k - 1);
    camera.XPixels = 4000;
    camera.YPixels = 3000;
    camera.XPixelSize = camera.YPixelSize = 0.006;
}

double Angle(const double a[3], const double b[3])
{
    const double cross[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
    return std::atan2(std::sqrt(cross[0] * cross[0] + cross[1] * cross[1] + cross[2] * cross[2]),
                      a[0] * b[0] + a[1] * b[1] + a[2] * b[2]);
}

class ThreeDViewCreateImage : public ShellFixture {
protected:
    void SetUp() override
    {
        ShellFixture::SetUp();
        if (!CanMakeGLContext())
            GTEST_SKIP() << "no OpenGL context can be made here";
    }

    // A saved-looking project with the cameras and the driver set "Drive"
    // (a 5 x 4 grid, heights 0, 40, 80), shown in the 3D view.
    void Build(int cameras)
    {
        ASSERT_NO_FATAL_FAILURE(NewProject());
        doc->SetPathName(scratch.filePath(QStringLiteral("Project.kst")).toStdString().c_str());
        for (int k = 1; k <= cameras; ++k)
            SetSensor(*AddCamera(*doc, ("Cam" + std::to_string(k)).c_str()), k);
        set = AddPointSet(*doc, scratch.filePath(QStringLiteral("Drive.xyz")).toStdString().c_str());
        set->isDriver = true;
        for (int i = 0; i < 20; ++i)
            set->AddPointSorted(CObjectPoint(("P" + std::to_string(i + 1)).c_str(), 250.0 * (i % 5),
                                             250.0 * (i / 5), 40.0 * (i % 3)));
        doc->UpdateAllViews(nullptr, 0);
        view = OpenPointSetView(Frame(), QStringLiteral("Drive"));
        ASSERT_NE(view, nullptr);
        if (!view->context() || !view->context()->isValid())
            GTEST_SKIP() << "the view has no OpenGL context";
    }

    // A right drag (turn) or Shift + right drag (pan) by delta, then a paint.
    void Drag(QPoint delta, Qt::KeyboardModifiers modifiers)
    {
        if (delta.isNull())
            return;
        const QPoint from(200, 150), to = from + delta;
        QTest::mousePress(view, Qt::RightButton, modifiers, from);
        QMouseEvent move(QEvent::MouseMove, to, view->mapToGlobal(to), Qt::NoButton, Qt::RightButton, modifiers);
        QApplication::sendEvent(view, &move);
        view->grabFramebuffer();
        QTest::mouseRelease(view, Qt::RightButton, modifiers, to);
        view->grabFramebuffer();
    }

    // The station the new image must take: c + R^T (-pan x - s x, -pan y - s y, d),
    // R and s the rotation and translation of the view's stored matrix, d the
    // distance where the camera's picture height covers the view's height.
    void ExpectedStation(const CCamera& camera, double station[3], double R[3][3], double& d) const
    {
        const double* m = view->GetStoredMatrix(); // column-major
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                R[r][c] = m[4 * c + r];
        const double halfHeight = 0.5 * camera.YPixels * camera.YPixelSize;
        d = camera.parameters[CAM_C] * view->GetEyeDistance() *
                         std::tan(0.5 * view->GetFieldOfView() * std::acos(-1.0) / 180.0) / halfHeight;
        const double t[3] = {-view->GetPanX() - m[12], -view->GetPanY() - m[13], d};
        for (int k = 0; k < 3; ++k)
            station[k] = view->GetSceneCentre()[k] + R[0][k] * t[0] + R[1][k] * t[1] + R[2][k] * t[2];
    }

    // The point in the eye coordinates of the last paint (before the centring).
    void ToEye(const double p[3], double e[3]) const
    {
        const double* m = view->GetLastModelview();
        const double* c = view->GetSceneCentre();
        for (int r = 0; r < 3; ++r)
            e[r] = m[12 + r] + m[r] * (p[0] - c[0]) + m[4 + r] * (p[1] - c[1]) + m[8 + r] * (p[2] - c[2]);
    }

    CPointSet* set = nullptr;
    C3DView* view = nullptr;
};

TEST_F(ThreeDViewCreateImage, StationOnTheViewAxisWithTheViewsRotationOrTurnedOntoTheAimPoint)
{
    ASSERT_NO_FATAL_FAILURE(Build(1));
    const CCamera& camera = *doc->cameras.GetAt(0);
    struct Case {
        const char* what;
        QPoint spin, turn, pan; // Ctrl, plain and Shift right drags
        double fieldOfView;
        const char* aim; // label of the one selected point, or null
        bool key;        // Ctrl+I / Ctrl+Shift+I instead of the command
    };
    const Case cases[] = {
        {"straight down, as opened", {}, {}, {}, 45.0, nullptr, false},
        {"straight down, spun about the axis", {0, 50}, {}, {}, 45.0, nullptr, false},
        {"turned", {}, {60, 0}, {}, 45.0, nullptr, false},
        {"panned after the turn", {}, {}, {4, 3}, 30.0, nullptr, true},
        {"turned after the pan", {}, {-20, 30}, {}, 60.0, nullptr, false},
        {"aimed", {}, {}, {-5, 2}, 45.0, "P7", false},
        {"aimed by key", {}, {30, -10}, {}, 40.0, "P20", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Drag(c.spin, Qt::ControlModifier);
        Drag(c.turn, Qt::NoModifier);
        Drag(c.pan, Qt::ShiftModifier);
        view->SetFieldOfView(c.fieldOfView);
        view->ClearSelection();
        if (c.aim)
            view->SelectPoint(set->FindPointByText(c.aim));
        view->grabFramebuffer();
        double station[3], R[3][3], d = 0.0;
        ExpectedStation(camera, station, R, d);
        if (!c.spin.isNull()) { // turned about the axis, still looking straight along z
            EXPECT_EQ(R[2][2], 1.0);
            EXPECT_GT(std::abs(R[0][1]), 0.1);
        }
        if (c.turn.isNull() && c.pan.isNull()) {
            // Nothing folded into the view's matrix: the station is c + R^T (-pan x, -pan y, d).
            EXPECT_EQ(view->GetStoredMatrix()[12], 0.0);
            EXPECT_EQ(view->GetStoredMatrix()[13], 0.0);
        }
        const int before = doc->images.GetSize();
        doc->SetModifiedFlag(false);
        if (c.key)
            QTest::keyClick(view, Qt::Key_I, Qt::ControlModifier | (c.aim ? Qt::ShiftModifier : Qt::NoModifier));
        else
            view->OnCmdMsg(c.aim ? ID_3D_CREATE_IMAGE_AIM : ID_3D_CREATE_IMAGE, nullptr);
        ASSERT_EQ(doc->images.GetSize(), before + 1);
        const CProjectImage* image = doc->images.GetAt(before);

        char name[32];
        std::snprintf(name, sizeof name, "Image%03d", before + 1);
        EXPECT_STREQ(image->name.GetText(), name);
        EXPECT_STREQ(image->cameraName.GetText(), "Cam1");
        EXPECT_EQ(std::string(image->GetFilePath().GetText()),
                  scratch.filePath(QString::fromLatin1(name) + ".icf").toStdString());
        EXPECT_TRUE(image->oriented);
        EXPECT_TRUE(doc->IsModified());
        EXPECT_FALSE(GetProjectTreeView()->findItems(QString::fromLatin1(name), Qt::MatchExactly | Qt::MatchRecursive)
                         .isEmpty());
        const double scale = std::abs(station[0]) + std::abs(station[1]) + std::abs(station[2]);
        EXPECT_NEAR(image->X, station[0], 1e-12 * scale);
        EXPECT_NEAR(image->Y, station[1], 1e-12 * scale);
        EXPECT_NEAR(image->Z, station[2], 1e-12 * scale);

        // On the axis of the eye as the view drew it, d - D in front of the
        // eye (the drawing's matrices are single precision).
        const double at[3] = {image->X, image->Y, image->Z};
        double eye[3];
        ToEye(at, eye);
        const double D = view->GetEyeDistance();
        EXPECT_NEAR(eye[0], 0.0, 1e-5 * D);
        EXPECT_NEAR(eye[1], 0.0, 1e-5 * D);
        EXPECT_NEAR(eye[2], d - D, 1e-5 * D);

        // A rotation: orthonormal rows, right-handed.
        double Ri[3][3];
        image->GetRotation(Ri);
        for (int r = 0; r < 3; ++r)
            for (int k = 0; k < 3; ++k)
                EXPECT_NEAR(Ri[r][0] * Ri[k][0] + Ri[r][1] * Ri[k][1] + Ri[r][2] * Ri[k][2], r == k ? 1.0 : 0.0,
                            1e-14) << r << k;
        EXPECT_NEAR(Ri[0][1] * Ri[1][2] - Ri[0][2] * Ri[1][1], Ri[2][0], 1e-14);
        // Its azimuth, elevation and roll give it back, also straight down.
        CProjectImage angles;
        angles.SetRotation(image->GetAzimuth(), image->GetElevation(), image->GetRoll());
        double Ra[3][3];
        angles.GetRotation(Ra);
        for (int r = 0; r < 3; ++r)
            for (int k = 0; k < 3; ++k)
                EXPECT_NEAR(Ra[r][k], Ri[r][k], 1e-12) << r << k;
        if (!c.aim) {
            // The view's rotation (kept by OpenGL to single precision).
            for (int r = 0; r < 3; ++r)
                for (int k = 0; k < 3; ++k)
                    EXPECT_NEAR(Ri[r][k], R[r][k], 1e-6) << r << k;
        } else {
            const CObjectPoint* p = set->FindPointByText(c.aim);
            const double axis[3] = {-Ri[2][0], -Ri[2][1], -Ri[2][2]};
            const double ray[3] = {p->x - image->X, p->y - image->Y, p->z - image->Z};
            EXPECT_LT(Angle(axis, ray), 1e-9);
            // The aim point is seen at the principal point.
            CImageObservation seen;
            ASSERT_TRUE(ProjectPointToImage(*p, *image, camera, seen, 10.0));
            EXPECT_NEAR(seen.x, 0.0, 1e-9);
            EXPECT_NEAR(seen.y, 0.0, 1e-9);
        }
        // The displayed points the camera sees are observed where it sees them.
        EXPECT_GT(image->targets.GetSize(), 5);
        for (int k = 0; k < image->targets.GetSize(); ++k) {
            const CImageObservation* o = image->GetObservationAt(k);
            CImageObservation truth;
            ASSERT_TRUE(ProjectPointToImage(*set->FindPoint(o->label), *image, camera, truth, 10.0));
            EXPECT_NEAR(o->x, truth.x, 1e-6);
            EXPECT_NEAR(o->y, truth.y, 1e-6);
        }
    }
    // The aim-point command does nothing without exactly one selected point.
    for (int selected : {0, 2}) {
        view->ClearSelection();
        for (int i = 0; i < selected; ++i)
            view->SelectPoint(set->GetAt(i));
        const int before = doc->images.GetSize();
        view->OnCmdMsg(ID_3D_CREATE_IMAGE_AIM, nullptr);
        QTest::keyClick(view, Qt::Key_I, Qt::ControlModifier | Qt::ShiftModifier);
        EXPECT_EQ(doc->images.GetSize(), before) << selected;
    }
    EXPECT_TRUE(TakeMessages().empty());
}

TEST_F(ThreeDViewCreateImage, CameraAskedOnlyAmongSeveralAndMissingCameraSaid)
{
    ASSERT_NO_FATAL_FAILURE(Build(0));
    struct Case {
        int cameras;          // in the project
        int choice;           // index chosen in "Select Camera", -1 Cancel, -2 not asked
        const char* camera;   // of the new image, null: none made
        const char* message;  // shown, with caption "3D View"
    };
    const Case cases[] = {
        {0, -2, nullptr, "Add camera to project first"},
        {1, -2, "Cam1", nullptr},
        {2, 1, "Cam2", nullptr},
        {2, -1, nullptr, nullptr},
        {3, 2, nullptr, "The camera Cam3 has no sensor height or principal distance."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cameras);
        while (doc->cameras.GetSize() < c.cameras) {
            const int k = doc->cameras.GetSize() + 1;
            CCamera* camera = AddCamera(*doc, ("Cam" + std::to_string(k)).c_str());
            if (k < 3) // the third has no sensor
                SetSensor(*camera, k);
        }
        bool asked = false;
        dialogs.push_back([&](CDialog& d) {
            asked = true;
            EXPECT_EQ(d.windowTitle(), QStringLiteral("Select Camera"));
            if (c.choice < 0)
                return int(QDialog::Rejected);
            d.Item<QComboBox>(1383)->setCurrentIndex(c.choice);
            d.OnOK();
            return d.result();
        });
        const int before = doc->images.GetSize();
        view->OnCmdMsg(ID_3D_CREATE_IMAGE, nullptr);
        EXPECT_EQ(asked, c.choice != -2);
        dialogs.clear();
        ASSERT_EQ(doc->images.GetSize(), before + (c.camera ? 1 : 0));
        if (c.camera) {
            EXPECT_STREQ(doc->images.GetAt(before)->cameraName.GetText(), c.camera);
        }
        const std::vector<CapturedMessage> shown = TakeCapturedMessages();
        ASSERT_EQ(shown.size(), c.message ? 1u : 0u);
        if (c.message) {
            EXPECT_EQ(shown[0].text, c.message);
            EXPECT_EQ(shown[0].caption, "3D View");
            EXPECT_EQ(shown[0].type & MB_ICONMASK, unsigned(MB_ICONSTOP));
        }
    }
}

} // namespace three_d_view_create_image_test
