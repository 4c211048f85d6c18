// The distortion plot: its ranges and layout as plain functions, and the
// picture read back from the framebuffer in colour classes.
#include "GLSupport.h"
#include "ShellFixture.h"

#include "BundleDialogs.h"
#include "BundleJob.h"
#include "CameraDistortionView.h"
#include "KestrelonDoc.h"
#include "SampleProject.h"

#include <QElapsedTimer>
#include <QOpenGLContext>
#include <QPushButton>
#include <QThread>
#include <QTest>

#include <cmath>

namespace {

CCamera Sensor(double k1, double k2, double k3, double p1, double p2)
{
    CCamera c;
    c.identifier = "PLOT";
    c.XPixels = 1200; // 6 x 8 mm: half diagonal 5 mm
    c.YPixels = 1600;
    c.XPixelSize = c.YPixelSize = 0.005;
    c.parameters[CAM_K1] = k1;
    c.parameters[CAM_K2] = k2;
    c.parameters[CAM_K3] = k3;
    c.parameters[CAM_P1] = p1;
    c.parameters[CAM_P2] = p2;
    return c;
}

TEST(DistortionRanges, LargestSizeOverTheSensorWithAMargin)
{
    const struct {
        CCamera camera;
        double radial;      // expected half-range of dr
        double decentering; // expected range of P
    } cases[] = {
        // No distortion: both ranges 1.
        {Sensor(0, 0, 0, 0, 0), 1.0, 1.0},
        // dr = 1e-3 r^3 grows to 0.125 at r = 5; P = 5e-4 r^2 to 0.0125 (P1 3e-4, P2 4e-4).
        {Sensor(1e-3, 0, 0, 3e-4, 4e-4), 1.1 * 0.125, 1.1 * 0.0125},
        // A negative dr larger in size than the positive values sets the range.
        {Sensor(-1e-3, 0, 0, 0, 0), 1.1 * 0.125, 1.0},
        // dr = 1e-3 r^3 - 1e-4 r^5 peaks at 0.0059 (r^2 = 6) and falls to -0.1875 at r = 5.
        {Sensor(1e-3, -1e-4, 0, 0, 0), 1.1 * 0.1875, 1.0},
    };
    for (const auto& c : cases) {
        const double rmax = c.camera.GetHalfSensorDiagonal();
        EXPECT_DOUBLE_EQ(rmax, 5.0);
        EXPECT_NEAR(ComputeRadialRange(c.camera, rmax, 0.25), c.radial, 1e-12);
        EXPECT_NEAR(ComputeDecenteringRange(c.camera, rmax, 0.25), c.decentering, 1e-12);
    }
}

TEST(DistortionLayout, FivePercentMarginsAndTwoEqualPlots)
{
    const struct {
        int width, height;
        CPlotRect lower, upper;
    } cases[] = {
        {100, 100, {5, 5, 90, 42}, {5, 52, 90, 42}},
        {400, 300, {20, 15, 360, 127}, {20, 157, 360, 127}},
        {39, 19, {1, 0, 37, 9}, {1, 9, 37, 9}},
    };
    for (const auto& c : cases) {
        const CDistortionLayout l = ComputeDistortionLayout(c.width, c.height);
        for (const auto& [got, want] : {std::pair{l.lower, c.lower}, std::pair{l.upper, c.upper}}) {
            EXPECT_EQ(got.x, want.x);
            EXPECT_EQ(got.y, want.y);
            EXPECT_EQ(got.width, want.width);
            EXPECT_EQ(got.height, want.height);
        }
    }
}

enum class Tone { Black, Green, Red, White, Other };

Tone ToneOf(QRgb p)
{
    const int r = qRed(p), g = qGreen(p), b = qBlue(p);
    if (r < 60 && g < 60 && b < 60)
        return Tone::Black;
    if (g > 150 && r < 100 && b < 100)
        return Tone::Green;
    if (r > 150 && g < 100 && b < 100)
        return Tone::Red;
    if (r > 200 && g > 200 && b > 200)
        return Tone::White;
    return Tone::Other;
}

class DistortionPlot : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!CanMakeGLContext())
            GTEST_SKIP() << "no OpenGL context can be made here";
        BuildSampleTruth(truth);
        truth.camera.maxRadialDistance = 8.0; // of 12.5 mm
    }
    // The view of the camera at 400 x 400, shown.
    void Show(CCameraDistortionView& view)
    {
        view.SetCamera(&truth.camera);
        view.resize(400, 400);
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
        if (!view.context() || !view.context()->isValid())
            GTEST_SKIP() << "the view has no OpenGL context";
        view.OnUpdate(nullptr, 0);
    }
    // Image column of radius r and row of value v in the upper plot.
    int Column(const CCameraDistortionView& view, double r) const
    {
        const CPlotRect u = view.GetLayout().upper;
        return u.x + int(std::lround(r / view.GetRadialExtent() * u.width));
    }
    int Row(const CCameraDistortionView& view, double v) const
    {
        const CPlotRect u = view.GetLayout().upper;
        const double R = view.GetRadialHalfRange();
        const double fromBottom = u.y + (v + R) / (2 * R) * u.height;
        return 400 - int(std::lround(fromBottom));
    }
    // Whether a pixel of the tone lies within dx columns and dy rows of (x, y).
    static bool Near(const QImage& image, int x, int y, int dx, int dy, Tone tone)
    {
        for (int yy = y - dy; yy <= y + dy; ++yy)
            for (int xx = x - dx; xx <= x + dx; ++xx)
                if (image.valid(xx, yy) && ToneOf(image.pixel(xx, yy)) == tone)
                    return true;
        return false;
    }
    CSampleTruth truth;
};

TEST_F(DistortionPlot, SolidToTheCalibratedDistanceDashedBeyondWithTheRedLimit)
{
    CCameraDistortionView view;
    ASSERT_NO_FATAL_FAILURE(Show(view));
    if (IsSkipped())
        return;
    EXPECT_DOUBLE_EQ(view.GetRadialExtent(), 12.5);
    EXPECT_TRUE(view.HasTextLists());
    const QImage image = view.grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    EXPECT_TRUE(image.save(TestOutputFolder() + "/DistortionPlot.png"));

    const CPlotRect u = view.GetLayout().upper;
    const CPlotRect l = view.GetLayout().lower;
    // The titles in white from the font lists, 15 pixels below each plot's top.
    for (const CPlotRect& plot : {u, l}) {
        int white = 0;
        const int top = 400 - (plot.y + plot.height);
        for (int y = top + 5; y < top + 25; ++y)
            for (int x = plot.x + 5; x < plot.x + 200; ++x)
                white += ToneOf(image.pixel(x, y)) == Tone::White ? 1 : 0;
        EXPECT_GT(white, 50) << plot.y;
    }
    const int limit = Column(view, 8.0);
    EXPECT_TRUE(Near(image, limit, 400 - (u.y + u.height - 70), 2, 2, Tone::Red));
    EXPECT_TRUE(Near(image, limit, 400 - (u.y + 10), 2, 2, Tone::Red));

    // Columns whose curve pixel is green: all of them before the limit, some beyond.
    int before = 0, beforeGreen = 0, beyond = 0, beyondGreen = 0;
    for (int x = Column(view, 4.0); x < u.x + u.width - 4; ++x) {
        if (std::abs(x - limit) < 4)
            continue;
        const double r = double(x - u.x) / u.width * view.GetRadialExtent();
        const bool green = Near(image, x, Row(view, RadialDistortion(truth.camera, r)), 0, 1, Tone::Green);
        (x < limit ? before : beyond) += 1;
        (x < limit ? beforeGreen : beyondGreen) += green ? 1 : 0;
    }
    ASSERT_GT(before, 50);
    ASSERT_GT(beyond, 50);
    EXPECT_EQ(beforeGreen, before);
    EXPECT_GT(beyondGreen, beyond / 4);
    EXPECT_LT(beyondGreen, beyond * 3 / 4);
}

TEST_F(DistortionPlot, HoverBeyondTheLimitTurnsTheMarkerRed)
{
    CCameraDistortionView view;
    ASSERT_NO_FATAL_FAILURE(Show(view));
    if (IsSkipped())
        return;
    const CPlotRect u = view.GetLayout().upper;
    const CPlotRect l = view.GetLayout().lower;
    const struct {
        double r;
        Tone marker;
    } cases[] = {{5.0, Tone::White}, {10.0, Tone::Red}};
    for (const auto& c : cases) {
        const int x = Column(view, c.r);
        view.OnMouseMove(x, 400 - (u.y + u.height / 2));
        const double r = view.GetUpperRadius();
        EXPECT_NEAR(r, c.r, 12.5 / u.width);
        EXPECT_DOUBLE_EQ(view.GetUpperValue(), RadialDistortion(truth.camera, r));
        const QImage image = view.grabFramebuffer().convertToFormat(QImage::Format_RGB32);
        EXPECT_EQ(ToneOf(image.pixel(x, Row(view, view.GetUpperValue()))), c.marker) << c.r;
    }
    // Into the lower plot: the upper readouts stay; outside both: all cleared.
    view.OnMouseMove(l.x + l.width / 2, 400 - (l.y + l.height / 2));
    EXPECT_GT(view.GetUpperRadius(), 0.0);
    EXPECT_NEAR(view.GetLowerRadius(), 6.25, 12.5 / l.width);
    EXPECT_EQ(view.GetLowerValue(), 0.0); // P1 = P2 = 0
    view.OnMouseMove(1, 1);
    for (double v : {view.GetUpperRadius(), view.GetUpperValue(), view.GetLowerRadius(), view.GetLowerValue()})
        EXPECT_EQ(v, -1.0);
}

} // namespace

namespace distortion_plot_test {

// The plot of the sample's camera painted and hovered while a bundle run
// adjusts that camera: it paints what it read before the run, and reads
// again once the run has ended. Run under ThreadSanitizer, a read of the
// camera from the plot during the run is reported.
class DistortionPlotDuringARun : public ShellFixture {};

TEST_F(DistortionPlotDuringARun, PaintsWhatItLastReadAndRereadsAtTheEnd)
{
    if (!CanMakeGLContext())
        GTEST_SKIP() << "no OpenGL context can be made here";
    ASSERT_TRUE(Start({QStringLiteral("--nosplash"), WriteSample()}));
    doc = GetActiveKestrelonDoc();
    ASSERT_NE(doc, nullptr);
    TakeMessages();
    CCamera* camera = doc->cameras.GetAt(0);
    ASSERT_NE(camera, nullptr);
    for (int i = 0; i < doc->images.GetSize(); ++i)
        doc->images.GetAt(i)->cameraName = camera->identifier;
    for (int k : {CAM_K1, CAM_K2, CAM_K3})
        camera->parameters[k] = 0.0;
    // The run goes on until it is cancelled.
    doc->settings.convergenceLimit = 0.0;
    doc->settings.maxIterations = 100000;

    CCameraDistortionView view;
    view.SetCamera(camera);
    view.resize(300, 300);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    view.OnUpdate(nullptr, 0);
    const double before = view.GetRadialHalfRange();
    EXPECT_EQ(before, 1.0); // no radial distortion yet

    int painted = 0;
    dialogs.push_back([&](CDialog& d) {
        auto* run = dynamic_cast<CBundleRunDlg*>(&d);
        EXPECT_NE(run, nullptr);
        if (!run)
            return int(QDialog::Rejected);
        QPushButton* go = d.Item<QPushButton>(1191);
        QTest::mouseClick(go, Qt::LeftButton);
        EXPECT_TRUE(doc->IsJobRunning());
        QElapsedTimer clock;
        clock.start();
        while (run->IsRunning() && (painted < 20 || clock.elapsed() < 500) && clock.elapsed() < 60000) {
            view.OnUpdate(nullptr, 0);
            view.OnMouseMove(150, 60);
            view.grabFramebuffer();
            EXPECT_EQ(view.GetRadialHalfRange(), before);
            ++painted;
            run->OnTimer();
            QThread::msleep(2);
        }
        QTest::mouseClick(go, Qt::LeftButton); // Cancel
        QElapsedTimer end;
        end.start();
        while (run->IsRunning() && end.elapsed() < 300000) {
            run->OnTimer();
            QThread::msleep(2);
        }
        EXPECT_FALSE(run->IsRunning());
        EXPECT_FALSE(doc->IsJobRunning());
        const CBundleJob* job = run->GetJob();
        EXPECT_TRUE(job && job->GetExitCode() != STILL_ACTIVE);
        // The run left the camera's K1 changed, and the plot reads it now.
        const double after = ComputeRadialRange(*camera, camera->GetHalfSensorDiagonal(), 0.25);
        EXPECT_NE(after, before);
        QElapsedTimer wait;
        wait.start();
        while (view.GetRadialHalfRange() != after && wait.elapsed() < 5000)
            QTest::qWait(20);
        EXPECT_EQ(view.GetRadialHalfRange(), after);
        EXPECT_TRUE(view.grabFramebuffer().save(TestOutputFolder() + "/DistortionPlotAfterRun.png"));
        QTest::mouseClick(d.Item<QPushButton>(2), Qt::LeftButton);
        return d.result();
    });
    doc->OnCmdMsg(32874, nullptr);
    EXPECT_TRUE(dialogs.empty());
    EXPECT_GE(painted, 20);
}

} // namespace distortion_plot_test
