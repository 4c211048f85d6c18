#include "EllipseProjection.h"
#include "NumericDerivative.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "Camera.h"
#include "Distortion.h"
#include "EllipseRecord.h"
#include "ImageObservation.h"
#include "Matrix.h"
#include "ObjectPoint.h"
#include "ProjectImage.h"
#include "Vector.h"

namespace {

const double kPi = 3.14159265358979323846;

// Distance of (x, y) from the ellipse along its own axes, as the implicit
// value ((d . minor axis) / m)^2 + ((d . major axis) / M)^2, which is 1 on it.
double EllipseValue(const CEllipseRecord& e, double x, double y)
{
    const double dx = x - e.centreX, dy = y - e.centreY;
    const double c = std::cos(e.rotation), s = std::sin(e.rotation);
    const double alongMinor = dx * c + dy * s;
    const double alongMajor = -dx * s + dy * c;
    return alongMinor * alongMinor / (e.minor * e.minor) + alongMajor * alongMajor / (e.major * e.major);
}

CObjectPoint Target(double x, double y, double z, double nx, double ny, double nz, double radius)
{
    CObjectPoint p("T1", x, y, z);
    p.SetNormal(nx, ny, nz);
    p.radius = radius;
    return p;
}

// Rim point t of the target's circle, with a basis of its plane made here.
void RimPoint(const CObjectPoint& p, double t, double out[3])
{
    const double* n = p.normal;
    double a[3] = {n[1], -n[0], 0.0};
    if (std::hypot(a[0], a[1]) < 0.1) {
        a[0] = 0.0;
        a[1] = n[2];
        a[2] = -n[1];
    }
    const double al = std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
    for (double& v : a) v /= al;
    const double b[3] = {n[1] * a[2] - n[2] * a[1], n[2] * a[0] - n[0] * a[2], n[0] * a[1] - n[1] * a[0]};
    const double P[3] = {p.x, p.y, p.z};
    for (int i = 0; i < 3; ++i) out[i] = P[i] + p.radius * (std::cos(t) * a[i] + std::sin(t) * b[i]);
}

} // namespace

TEST(ProjectCircle, SquareOnTargetIsACircleOfRadiusCrOverD)
{
    CProjectImage image;
    image.SetPose(0, 0, 0, 0, 0, 0); // looking along +Y
    CCamera camera;
    camera.parameters[CAM_C] = 50.0;
    // Off the axis but parallel to the image plane: still a circle, centred
    // on the image of the target's centre.
    const CObjectPoint p = Target(120.0, 4000.0, -80.0, 0, -1, 0, 12.0);
    CTargetEllipse e;
    ASSERT_TRUE(ProjectCircle(e, p, image, camera));
    const double r = 50.0 * 12.0 / 4000.0;
    EXPECT_NEAR(e.major, r, 1e-12);
    EXPECT_NEAR(e.minor, r, 1e-12);
    EXPECT_NEAR(e.centreX, -50.0 * 120.0 / -4000.0, 1e-12);
    EXPECT_NEAR(e.centreY, -50.0 * 80.0 / 4000.0, 1e-12);

    // So the rigorous eccentricity correction moves nothing.
    CImageObservation o(CNameBuffer("T1"), 1.0, 2.0);
    ASSERT_TRUE(CorrectEccentricityByEllipse(o, p, image, camera));
    EXPECT_NEAR(o.x, 1.0, 1e-12);
    EXPECT_NEAR(o.y, 2.0, 1e-12);
}

TEST(ProjectCircle, ObliqueTargetMatchesTheProjectedRim)
{
    std::mt19937 gen(41);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    CCamera camera;
    camera.parameters[CAM_C] = 24.0;
    int tested = 0;
    for (int trial = 0; trial < 100; ++trial) {
        CProjectImage image;
        image.SetPose(300 * u(gen), -2000 + 300 * u(gen), 300 * u(gen), 0.3 * u(gen), 0.3 * u(gen), kPi * u(gen));
        const double P[3] = {150 * u(gen), 150 * u(gen), 150 * u(gen)};
        double n[3] = {image.X - P[0], image.Y - P[1], image.Z - P[2]};
        const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        for (double& v : n) v = v / len + 0.8 * u(gen);
        const CObjectPoint p = Target(P[0], P[1], P[2], n[0], n[1], n[2], 10.0 + 10.0 * (u(gen) + 1.0));
        CTargetEllipse e;
        if (!ProjectCircle(e, p, image, camera)) continue;
        ++tested;
        const StationGeometry s = image.GetStation();
        for (int k = 0; k < 16; ++k) {
            double Q[3], x, y;
            RimPoint(p, 2 * kPi * k / 16 + 0.05, Q);
            ASSERT_TRUE(ProjectToImage(s, 24.0, Q, x, y));
            ASSERT_NEAR(EllipseValue(e, x, y), 1.0, 1e-8) << trial << " " << k;
        }
        EXPECT_GE(e.major, e.minor);
    }
    EXPECT_GT(tested, 80);
}

TEST(ProjectCircle, RefusesTargetsWithoutNormalOrRadius)
{
    CProjectImage image;
    image.SetPose(0, 0, 0, 0, 0, 0);
    CCamera camera;
    camera.parameters[CAM_C] = 50.0;
    CTargetEllipse e;
    e.SetFromParameters(1, 2, 3, 2, 0.5);
    CObjectPoint bare("T1", 0, 100, 0);
    bare.radius = 5.0;
    EXPECT_FALSE(ProjectCircle(e, bare, image, camera));
    EXPECT_FALSE(ProjectCircle(e, Target(0, 100, 0, 0, -1, 0, 0.0), image, camera));
    EXPECT_FALSE(ProjectCircle(e, Target(0, -100, 0, 0, 1, 0, 5.0), image, camera));
    EXPECT_EQ(e.centreX, 1.0);
    EXPECT_EQ(e.major, 3.0);
}

TEST(Eccentricity, ByEllipseShiftsByCentreMinusEllipseCentre)
{
    CProjectImage image;
    image.SetPose(0, 0, 0, 0.05, -0.02, 0.3);
    CCamera camera;
    camera.parameters[CAM_C] = 35.0;
    // A large target seen at 60 degrees from its normal, off the axis.
    const double th = kPi / 3;
    const CObjectPoint p = Target(150.0, 1000.0, 60.0, std::sin(th), -std::cos(th), 0.0, 40.0);
    const StationGeometry s = image.GetStation();

    // The centre of the rim's image, from a fit of the ellipse to many
    // projected rim points.
    CObservationList rim;
    for (int k = 0; k < 72; ++k) {
        double Q[3], x, y;
        RimPoint(p, 2 * kPi * k / 72, Q);
        ASSERT_TRUE(ProjectToImage(s, 35.0, Q, x, y));
        rim.AddCopy(CImageObservation(CNameBuffer(), x, y));
    }
    CTargetEllipse fitted;
    ASSERT_TRUE(FitConicToPoints(fitted, rim));
    double xc, yc;
    const double P[3] = {p.x, p.y, p.z};
    ASSERT_TRUE(ProjectToImage(s, 35.0, P, xc, yc));
    ASSERT_GT(std::hypot(xc - fitted.centreX, yc - fitted.centreY), 1e-5); // a real shift

    CImageObservation o(CNameBuffer("T1"), 0.5, -0.25);
    ASSERT_TRUE(CorrectEccentricityByEllipse(o, p, image, camera));
    EXPECT_NEAR(o.x, 0.5 + xc - fitted.centreX, 1e-8);
    EXPECT_NEAR(o.y, -0.25 + yc - fitted.centreY, 1e-8);

    // Behind the camera: false and no change.
    const CObjectPoint behind = Target(0, -1000, 0, 0, 1, 0, 5.0);
    CImageObservation b(CNameBuffer("T1"), 0.5, -0.25);
    EXPECT_FALSE(CorrectEccentricityByEllipse(b, behind, image, camera));
    EXPECT_FALSE(CorrectEccentricityByNormal(b, behind, image, camera));
    EXPECT_EQ(b.x, 0.5);
    EXPECT_EQ(b.y, -0.25);
}

TEST(Eccentricity, ByNormalOnAnObservation)
{
    CProjectImage image;
    image.SetPose(0, 0, 0, 0, 0, 0);
    CCamera camera;
    camera.parameters[CAM_C] = 50.0;
    const double th = 20.0 * kPi / 180.0;
    const CObjectPoint p = Target(0, 100, 0, 0, -std::cos(th), std::sin(th), 5.0);
    CImageObservation o(CNameBuffer("T1"), 0.0, 0.0);
    ASSERT_TRUE(CorrectEccentricityByNormal(o, p, image, camera));
    // The normal leans towards +Z, which images along +y: the shift is -y.
    EXPECT_NEAR(o.x, 0.0, 1e-15);
    EXPECT_NEAR(o.y, -(th * 57.2957) * 0.0006 / 100.0 * 50.0, 1e-12);

    CObjectPoint none("T1", 0, 100, 0);
    EXPECT_FALSE(CorrectEccentricityByNormal(o, none, image, camera));
}

TEST(PixelEllipse, ConversionToMillimetres)
{
    CCamera camera;
    camera.XPixels = 1000;
    camera.YPixels = 800;
    camera.XPixelSize = camera.YPixelSize = 0.01;
    // Centre (499.5, 399.5) is pixel position (500, 400): the image origin.
    // 10 px minor along the pixel rotation of 30 degrees (rows grow down).
    CTargetEllipse e;
    e.centreX = 499.5;
    e.centreY = 399.5;
    e.SetAxes(20.0, 10.0, kPi / 6);
    CMatrix cov(5, -1);
    cov.Zero();
    for (int i = 0; i < 5; ++i) cov.SetAt(1.0 + i, i, i);
    cov.SetAt(0.5, 0, 1);
    e.SetCovariance(cov);
    ASSERT_TRUE(ComputeConicFrom(e, camera));
    EXPECT_NEAR(e.centreX, 0.0, 1e-12);
    EXPECT_NEAR(e.centreY, 0.0, 1e-12);
    EXPECT_NEAR(e.major, 0.2, 1e-12);
    EXPECT_NEAR(e.minor, 0.1, 1e-12);
    // With y up, the minor axis points 30 degrees below the x axis.
    const double r = std::remainder(e.rotation + kPi / 6, kPi);
    EXPECT_NEAR(r, 0.0, 1e-9);
    ASSERT_EQ(e.conic.GetSize(), 7);
    EXPECT_EQ(e.conic[3], 0.0);
    EXPECT_NEAR(e.conic[5], 0.0, 1e-12);
    // A point of the pixel ellipse, converted by hand, lies on the conic.
    const double t = 0.7, c = std::cos(kPi / 6), s = std::sin(kPi / 6);
    const double col = 499.5 + 10 * std::cos(t) * c - 20 * std::sin(t) * s;
    const double row = 399.5 + 10 * std::cos(t) * s + 20 * std::sin(t) * c;
    const double x = (col + 0.5 - 500) * 0.01, y = (400 - row - 0.5) * 0.01;
    const double q = e.conic[0] * x * x + e.conic[1] * x * y + e.conic[2] * y * y;
    EXPECT_NEAR(q, 1.0, 1e-9);
    // Variances scale by the pixel size; centre x and y now covary the
    // other way, as y grows against the rows.
    ASSERT_EQ(e.covariance.GetRows(), 5);
    EXPECT_NEAR(e.covariance.GetAt(0, 0), 1e-4, 1e-18);
    EXPECT_NEAR(e.covariance.GetAt(3, 3), 4e-4, 1e-18);
    EXPECT_NEAR(e.covariance.GetAt(4, 4), 5.0, 1e-15);
    EXPECT_NEAR(e.covariance.GetAt(0, 1), -0.5e-4, 1e-18);

    CTargetEllipse flat;
    flat.SetAxes(0.0, 3.0, 0.0);
    CVector q5;
    EXPECT_FALSE(ConvertPixelEllipse(flat, camera, q5));
}

// An ellipse with the five values centre x, y, major, minor, rotation.
CTargetEllipse EllipseOf(const double values[5])
{
    CTargetEllipse e;
    e.centreX = values[0];
    e.centreY = values[1];
    e.major = values[2];
    e.minor = values[3];
    e.rotation = values[4];
    return e;
}

// The five converted values (centre, semi-axes, rotation) of a pixel ellipse.
bool ConvertedValues(const CCamera& camera, const double pixel[5], double out[5])
{
    CTargetEllipse e = EllipseOf(pixel);
    CVector conic;
    if (!ConvertPixelEllipse(e, camera, conic)) return false;
    const double v[5] = {e.centreX, e.centreY, e.major, e.minor, e.rotation};
    for (int i = 0; i < 5; ++i) out[i] = v[i];
    return true;
}

// The converted covariance is J S J' with J the derivatives of the pixel to
// millimetre conversion, here taken by central differences of the conversion
// itself (rotations compared modulo pi). Non-square pixels keep only the
// centre's block.
TEST(PixelEllipse, CovarianceFollowsTheDerivativesOfTheConversion)
{
    struct Case {
        double px, py, rotation;
    };
    const Case cases[] = {{0.006, 0.006, 0.4}, {0.006, 0.006, 2.0}, {0.01, 0.01, -1.1}, {0.005, 0.008, 0.7}};
    // A full covariance with every pair correlated.
    const double a[5][5] = {{0.04, 0.01, 0.003, -0.002, 0.001},
                            {0.01, 0.09, -0.004, 0.002, 0.0015},
                            {0.003, -0.004, 0.25, 0.05, -0.002},
                            {-0.002, 0.002, 0.05, 0.16, 0.003},
                            {0.001, 0.0015, -0.002, 0.003, 0.0004}};
    CMatrix S(5, -1);
    S.Zero();
    for (int i = 0; i < 5; ++i)
        for (int j = i; j < 5; ++j) S.SetAt(a[i][j], i, j);

    for (const Case& c : cases) {
        CCamera camera;
        camera.XPixels = 1200;
        camera.YPixels = 900;
        camera.XPixelSize = c.px;
        camera.YPixelSize = c.py;
        const double pixel[5] = {311.25, 702.5, 14.0, 9.0, c.rotation};

        double base[5];
        ASSERT_TRUE(ConvertedValues(camera, pixel, base));
        const auto J = kestrelon::test::CentralJacobian(
            [&](const std::vector<double>& p) {
                std::vector<double> f(5);
                EXPECT_TRUE(ConvertedValues(camera, p.data(), f.data()));
                f[4] = base[4] + std::remainder(f[4] - base[4], kPi); // rotations modulo pi
                return f;
            },
            std::vector<double>(pixel, pixel + 5), 1e-5);
        // The conversion mirrors y: the centre's y and the rotation turn over.
        EXPECT_NEAR(J[1][1], -c.py, 1e-9);
        if (c.px == c.py) {
            EXPECT_NEAR(J[4][4], -1.0, 1e-6);
        }

        CTargetEllipse e = EllipseOf(pixel);
        e.SetCovariance(S);
        CVector conic;
        ASSERT_TRUE(ConvertPixelEllipse(e, camera, conic));
        ASSERT_EQ(e.covariance.GetRows(), 5);
        double E[5][5];
        for (int i = 0; i < 5; ++i)
            for (int j = 0; j < 5; ++j) {
                E[i][j] = 0.0;
                for (int k = 0; k < 5; ++k)
                    for (int l = 0; l < 5; ++l) E[i][j] += J[i][k] * a[k][l] * J[j][l];
            }
        const int kept = c.px == c.py ? 5 : 2;
        for (int i = 0; i < 5; ++i)
            for (int j = 0; j < 5; ++j) {
                const double got = e.covariance.GetAt(i, j);
                if (i < kept && j < kept) {
                    EXPECT_NEAR(got, E[i][j], 1e-6 * std::sqrt(E[i][i] * E[j][j]))
                        << "pixels " << c.px << " x " << c.py << ", rotation " << c.rotation << ", entry " << i
                        << "," << j;
                } else {
                    EXPECT_EQ(got, 0.0) << "entry " << i << "," << j;
                }
            }
    }
}

TEST(DistortedSamples, CentreOnlyAndTenPointFit)
{
    CCamera plain;
    plain.parameters[CAM_XP] = 0.02;
    plain.parameters[CAM_YP] = -0.01;
    CTargetEllipse e;
    e.SetFromParameters(3.0, -2.0, 0.15, 0.1, 0.4);
    ASSERT_TRUE(ComputeConicFromSamples(e, plain, true));
    EXPECT_NEAR(e.centreX, 2.98, 1e-15);
    EXPECT_NEAR(e.centreY, -1.99, 1e-15);
    EXPECT_EQ(e.major, 0.15);
    EXPECT_EQ(e.conic[5], e.centreX);

    // Without distortion the ten corrected points give the same ellipse,
    // moved by the principal point.
    CTargetEllipse f;
    f.SetFromParameters(3.0, -2.0, 0.15, 0.1, 0.4);
    ASSERT_TRUE(ComputeConicFromSamples(f, plain, false));
    EXPECT_NEAR(f.centreX, 2.98, 1e-9);
    EXPECT_NEAR(f.centreY, -1.99, 1e-9);
    EXPECT_NEAR(f.major, 0.15, 1e-9);
    EXPECT_NEAR(f.minor, 0.1, 1e-9);
    EXPECT_NEAR(std::remainder(f.rotation - 0.4, kPi), 0.0, 1e-7);

    // With radial distortion the fitted ellipse is the corrected one: each
    // corrected sample lies on it.
    CCamera radial;
    radial.parameters[CAM_K1] = 2e-4;
    CTargetEllipse g;
    g.SetFromParameters(10.0, 6.0, 0.3, 0.2, 1.0);
    CTargetEllipse original(g);
    ASSERT_TRUE(ComputeConicFromSamples(g, radial, false));
    // (The corrected samples are not exactly on an ellipse; the uncorrected
    // ones miss it by far.)
    for (int k = 0; k < 10; ++k) {
        double x, y;
        original.PointAt(k * 2 * kPi / 10, x, y);
        EXPECT_GT(std::fabs(EllipseValue(g, x, y) - 1.0), 0.1);
        CorrectDistortion(radial.parameters, x, y);
        EXPECT_NEAR(EllipseValue(g, x, y), 1.0, 1e-3);
    }
    EXPECT_GT(g.centreX, 10.0);
}
