// The grey-value ellipse model against windows rendered from its own model
// and the per-image fitter against the tests' target renderer.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "Camera.h"
#include "DisplayImage.h"
#include "EllipseRecord.h"
#include "GreyEllipseModel.h"
#include "ImageObservation.h"
#include "ImageRowCache.h"
#include "NumericDerivative.h"
#include "ProjectImage.h"
#include "RegionGrid.h"
#include "TargetRenderer.h"

namespace grey_ellipse_model_test {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Wrapped difference of two axis directions (period pi).
double AxisAngleDifference(double a, double b)
{
    return std::remainder(a - b, kPi);
}

struct GreyTruth {
    double A, s, x0, y0, a, b, theta, g0;
};

// g0 + A Phi(d / s) of the truth at table column X, row Y.
double TruthGrey(const GreyTruth& t, double X, double Y)
{
    const double u = (X - t.x0) * std::cos(t.theta) + (Y - t.y0) * std::sin(t.theta);
    const double v = (Y - t.y0) * std::cos(t.theta) - (X - t.x0) * std::sin(t.theta);
    const double d = 1.0 - (u * u / (t.a * t.a) + v * v / (t.b * t.b));
    return t.g0 + t.A * 0.5 * std::erfc(-d / (t.s * std::sqrt(2.0)));
}

// The table holds whole grey values; the model sees the exact ones through
// the part that rounding took away.
class ExactGreyModel : public CGreyEllipseModel
{
public:
    std::vector<double> rest;
    int columns = 0;

    void GetMisclosures(int i, CVector& l) override
    {
        CGreyEllipseModel::GetMisclosures(i, l);
        if (!(tie && i == observationCount - 1))
            l[0] += rest[static_cast<size_t>(rowIndex[i]) * columns + static_cast<size_t>(columnIndex[i])];
    }
};

// Cells within sqrt(2) times the ellipse (d >= -1) hold the grey value,
// the others -1; the outer ring stays -1.
void RenderWindow(const GreyTruth& t, int rows, int columns, CRegionGrid& grid, std::vector<double>& rest)
{
    grid.Allocate(rows, columns);
    rest.assign(static_cast<size_t>(rows) * columns, 0.0);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            const double u = (c - t.x0) * std::cos(t.theta) + (r - t.y0) * std::sin(t.theta);
            const double v = (r - t.y0) * std::cos(t.theta) - (c - t.x0) * std::sin(t.theta);
            const bool inside = u * u / (t.a * t.a) + v * v / (t.b * t.b) <= 2.0;
            const bool ring = r == 0 || c == 0 || r == rows - 1 || c == columns - 1;
            if (!inside || ring) {
                grid.Set(r, c, -1);
                continue;
            }
            const double g = TruthGrey(t, c, r);
            const int whole = static_cast<int>(std::lround(g));
            grid.Set(r, c, whole);
            rest[static_cast<size_t>(r) * columns + c] = g - whole;
        }
}

TEST(GreyEllipseModelTest, WindowsOfTheModelGiveBackItsParameters)
{
    const GreyTruth truths[] = {
        {180.0, 0.15, 15.3, 14.7, 8.0, 5.0, 0.3, 20.0},
        {150.0, 0.25, 14.8, 15.4, 9.5, 6.5, 1.2, 35.0},
        {200.0, 0.10, 15.1, 15.2, 7.0, 4.0, 2.6, 10.0},
        {120.0, 0.20, 14.6, 15.9, 10.0, 8.5, -0.8, 50.0},
    };
    for (const GreyTruth& t : truths) {
        SCOPED_TRACE(t.theta);
        CRegionGrid grid;
        ExactGreyModel model;
        RenderWindow(t, 31, 31, grid, model.rest);
        model.columns = 31;
        model.SetWindow(grid, false);
        ASSERT_TRUE(model.Solve());
        const double want[8] = {t.A, t.s, t.x0, t.y0, t.a, t.b, t.theta, t.g0};
        auto check = [&](double tolerance) {
            for (int k = 0; k < 8; ++k) {
                const double diff = k == CGreyEllipseModel::kTheta ? AxisAngleDifference(model.p[k], want[k])
                                                                   : model.p[k] - want[k];
                EXPECT_LT(std::fabs(diff), tolerance) << "unknown " << k;
            }
        };
        check(0.01);
        for (int k = 0; k < 4; ++k)
            ASSERT_TRUE(model.Solve());
        check(1e-6);

        // The design rows are the derivatives of the modelled grey value.
        for (int i = 0; i < model.GetObservationCount(); i += 37) {
            CMatrix A;
            model.GetDesignRows(i, A);
            const double X = model.columnIndex[i], Y = model.rowIndex[i];
            const std::vector<double> x(model.p, model.p + 8);
            const auto J = kestrelon::test::CentralJacobian(
                [&](const std::vector<double>& q) {
                    const GreyTruth at{q[0], q[1], q[2], q[3], q[4], q[5], q[6], q[7]};
                    return std::vector<double>{TruthGrey(at, X, Y)};
                },
                x, 1e-5);
            for (int k = 0; k < 8; ++k)
                EXPECT_NEAR(A.GetAt(0, k), J[0][k], 1e-6 * (1.0 + std::fabs(J[0][k]))) << "unknown " << k;
        }
    }
}

TEST(GreyEllipseModelTest, WindowWithoutBorderCellsHasNoApproximation)
{
    CRegionGrid grid;
    grid.Allocate(5, 5);
    for (int r = 0; r < 5; ++r)
        for (int c = 0; c < 5; ++c)
            grid.Set(r, c, 100);
    CGreyEllipseModel model;
    model.SetWindow(grid, false);
    EXPECT_FALSE(model.Solve());
    EXPECT_EQ(model.iteration, 0);
}

CCamera MakeCamera(int width, int height)
{
    CCamera camera;
    camera.identifier = "CAM";
    camera.XPixels = width;
    camera.YPixels = height;
    camera.XPixelSize = 0.01;
    camera.YPixelSize = 0.01;
    return camera;
}

TEST(GreyEllipseModelTest, FitterMeasuresRenderedTargets)
{
    TargetScene scene;
    scene.width = 128;
    scene.height = 128;
    scene.background = 20.0;
    scene.blurSigma = 0.7;
    scene.noiseSigma = 2.0;
    scene.seed = 47;
    auto add = [&](double x, double y, double a, double b, double rotation) {
        RenderedTarget t;
        t.x = x;
        t.y = y;
        t.semiAxisA = a;
        t.semiAxisB = b;
        t.rotation = rotation;
        t.amplitude = 180.0;
        scene.targets.push_back(t);
    };
    add(24.3, 22.6, 3.0, 3.0, 0.0);
    add(90.7, 28.2, 12.0, 6.0, 0.4);
    add(27.4, 92.9, 8.0, 5.0, 2.0);
    add(94.1, 96.5, 5.0, 3.5, -0.9);
    add(60.2, 62.4, 4.0, 2.0, 1.1);
    const TestPicture picture = RenderScene(scene);
    std::unique_ptr<CDisplayImage> display = MakeDisplayImage(picture);
    ASSERT_TRUE(display);
    CImageRowCache rows(display.get(), 10, false);

    const CCamera camera = MakeCamera(scene.width, scene.height);
    CProjectImage image;
    CTargetEllipse stale;
    stale.SetFromParameters(-999.0, -999.0, 2.0, 1.0, 0.0);
    for (size_t k = 0; k < scene.targets.size(); ++k) {
        double x = 0.0, y = 0.0;
        camera.PixelToImage(scene.targets[k].x, scene.targets[k].y, x, y);
        CImageObservation o(CNameBuffer(std::to_string(k + 1).c_str()), x, y);
        o.SetEllipse(stale);
        image.targets.AddSorted(o);
    }
    // A mark on the empty background.
    {
        double x = 0.0, y = 0.0;
        camera.PixelToImage(60.0, 12.0, x, y);
        CImageObservation o(CNameBuffer("99"), x, y);
        o.SetEllipse(stale);
        image.targets.AddSorted(o);
    }

    CTargetEllipseFitter fitter(image, camera, rows);
    fitter.Run();

    for (int i = 0; i < image.targets.GetSize(); ++i) {
        const CImageObservation* o = image.targets.GetAt(i);
        const CTargetEllipse* e = o->GetEllipse();
        // Fresh or none: the stale one is gone everywhere.
        if (e) {
            EXPECT_NE(e->centreX, -999.0);
        }
        const int k = std::atoi(o->GetLabel().GetText()) - 1;
        if (k < 0 || k >= static_cast<int>(scene.targets.size()))
            continue;
        SCOPED_TRACE(k);
        ASSERT_NE(e, nullptr);
        const RenderedTarget& t = scene.targets[k];
        double column = 0.0, row = 0.0;
        camera.ImageToPixel(e->centreX, e->centreY, column, row);
        EXPECT_NEAR(column, t.x, 0.05);
        EXPECT_NEAR(row, t.y, 0.05);
        const double major = e->major / camera.XPixelSize, minor = e->minor / camera.XPixelSize;
        const double trueMajor = std::max(t.semiAxisA, t.semiAxisB), trueMinor = std::min(t.semiAxisA, t.semiAxisB);
        // The stored contour is the 0.54 level, inside the half-level edge,
        // and a blur of fixed pixel width rounds the smallest ellipses: the
        // axes come out up to half a pixel short, never long.
        EXPECT_LT(major - trueMajor, 0.05);
        EXPECT_GT(major - trueMajor, -0.5);
        EXPECT_LT(minor - trueMinor, 0.05);
        EXPECT_GT(minor - trueMinor, -0.5);
        // Stored rotation: the model's major-axis angle plus pi/2, turned
        // into image millimetres (y up).
        if (t.semiAxisA != t.semiAxisB) {
            EXPECT_LT(std::fabs(AxisAngleDifference(e->rotation, kPi / 2.0 - t.rotation)), 0.02);
        }
        EXPECT_EQ(e->covariance.GetRows(), 5);
    }
}

} // namespace

} // namespace grey_ellipse_model_test
