// Epipolar lines against a fundamental matrix formed in the test from the
// two poses: convergent pairs, the side-by-side pair of parallel cameras
// and the cases that give no line.
#include <ostream>
#include <string>
#include <cctype>
#include "EpipolarLine.h"

#include "Camera.h"
#include "Distortion.h"
#include "ProjectImage.h"

#include <gtest/gtest.h>

#include <cmath>

namespace epipolar_line_test {

struct V3 {
    double x, y, z;
};

V3 Sub(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
V3 CrossOf(V3 a, V3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
double Dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
V3 Unit(V3 v)
{
    const double l = std::sqrt(Dot(v, v));
    return {v.x / l, v.y / l, v.z / l};
}

// The camera at the station looks at the aim point; the rows of R are its
// axes, the third pointing back from the scene.
void Orient(CProjectImage& image, V3 station, V3 aim, V3 up)
{
    const V3 z = Unit(Sub(station, aim));
    const V3 x = Unit(CrossOf(up, z));
    const V3 y = CrossOf(z, x);
    const double R[3][3] = {{x.x, x.y, x.z}, {y.x, y.y, y.z}, {z.x, z.y, z.z}};
    image.X = station.x, image.Y = station.y, image.Z = station.z;
    image.rotation.Resize(3, 3);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            image.rotation.SetAt(R[i][j], i, j);
    image.oriented = true;
}

void MakeCamera(CCamera& camera, double c, double xp, double yp, double k1)
{
    for (double& p : camera.parameters)
        p = 0.0;
    camera.parameters[CAM_C] = c;
    camera.parameters[CAM_XP] = xp;
    camera.parameters[CAM_YP] = yp;
    camera.parameters[CAM_K1] = k1;
    camera.XPixels = 3000;
    camera.YPixels = 2000;
    camera.XPixelSize = camera.YPixelSize = 0.006;
}

V3 Row(const CProjectImage& image, int i)
{
    return {image.rotation.GetAt(i, 0), image.rotation.GetAt(i, 1), image.rotation.GetAt(i, 2)};
}

// Collinearity: the undistorted image (mm) of an object point.
void Project(const CProjectImage& image, const CCamera& camera, V3 p, double& x, double& y)
{
    const V3 d = Sub(p, {image.X, image.Y, image.Z});
    const double s = camera.parameters[CAM_C] / Dot(Row(image, 2), d);
    x = camera.parameters[CAM_XP] - s * Dot(Row(image, 0), d);
    y = camera.parameters[CAM_YP] - s * Dot(Row(image, 1), d);
}

// F with x_t^T F x_s = 0 for homogeneous image points (mm, undistorted):
// normalised rays n = K^-1 x, n_t = Rrel n_s + t, F = K_t^-T [t]x Rrel K_s^-1.
void Fundamental(const CProjectImage& s, const CCamera& cs, const CProjectImage& t, const CCamera& ct,
                 double F[3][3])
{
    auto inverseK = [](const CCamera& c, double K[3][3]) {
        const double f = c.parameters[CAM_C];
        const double k[3][3] = {{-1.0 / f, 0.0, c.parameters[CAM_XP] / f},
                                {0.0, -1.0 / f, c.parameters[CAM_YP] / f},
                                {0.0, 0.0, 1.0}};
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                K[i][j] = k[i][j];
    };
    double Ks[3][3], Kt[3][3], Rrel[3][3], E[3][3], A[3][3];
    inverseK(cs, Ks);
    inverseK(ct, Kt);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            Rrel[i][j] = 0.0;
            for (int k = 0; k < 3; ++k)
                Rrel[i][j] += t.rotation.GetAt(i, k) * s.rotation.GetAt(j, k);
        }
    const V3 base = Sub({s.X, s.Y, s.Z}, {t.X, t.Y, t.Z});
    const double tv[3] = {Dot(Row(t, 0), base), Dot(Row(t, 1), base), Dot(Row(t, 2), base)};
    const double tx[3][3] = {{0, -tv[2], tv[1]}, {tv[2], 0, -tv[0]}, {-tv[1], tv[0], 0}};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            E[i][j] = 0.0;
            for (int k = 0; k < 3; ++k)
                E[i][j] += tx[i][k] * Rrel[k][j];
        }
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            A[i][j] = 0.0;
            for (int k = 0; k < 3; ++k)
                A[i][j] += E[i][k] * Ks[k][j];
        }
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            F[i][j] = 0.0;
            for (int k = 0; k < 3; ++k)
                F[i][j] += Kt[k][i] * A[k][j];
        }
}

struct Pair {
    const char* name;
    V3 sourceStation, sourceAim, targetStation, targetAim;
    double sourceK1;
    V3 point;
};

void PrintTo(const Pair& pair, std::ostream* out) { *out << pair.name; }

const Pair kPairs[] = {
    {"convergent", {-800, -200, 1500}, {0, 0, 0}, {900, 100, 1400}, {0, 0, 0}, 0.0, {30, -40, 20}},
    {"convergent with distortion", {-600, 700, 1200}, {10, 10, 0}, {500, -600, 1300}, {-10, 0, 0}, 2e-5, {-50, 80, -10}},
    {"strongly convergent", {-1500, 0, 300}, {0, 0, 0}, {0, -1500, 300}, {0, 0, 0}, -1e-5, {60, 40, 30}},
    {"side by side, parallel", {-300, 0, 1000}, {-300, 0, 0}, {300, 0, 1000}, {300, 0, 0}, 0.0, {50, 120, 0}},
};

class EpipolarLinePairs : public ::testing::TestWithParam<Pair> {};

TEST_P(EpipolarLinePairs, TheLinePassesThroughTheImageOfThePointAndFollowsTheFundamentalMatrix)
{
    const Pair& pair = GetParam();
    CCamera sourceCamera, targetCamera;
    MakeCamera(sourceCamera, 24.0, 0.12, -0.08, pair.sourceK1);
    MakeCamera(targetCamera, 20.0, -0.05, 0.1, 0.0);
    CProjectImage source, target;
    Orient(source, pair.sourceStation, pair.sourceAim, {0, 1, 0});
    Orient(target, pair.targetStation, pair.targetAim, {0, 1, 0});

    // The measurement in the source image carries the lens distortion.
    double xs = 0.0, ys = 0.0;
    Project(source, sourceCamera, pair.point, xs, ys);
    CImageObservation measured(CNameBuffer("7"), xs - sourceCamera.parameters[CAM_XP],
                               ys - sourceCamera.parameters[CAM_YP]);
    ASSERT_TRUE(ApplyDistortion(measured, sourceCamera));
    source.targets.AddSorted(measured);

    CEpipolarLine line;
    ASSERT_EQ(ComputeEpipolarLine(line, source, sourceCamera, target, targetCamera, CNameBuffer("7")), 1);

    double F[3][3];
    Fundamental(source, sourceCamera, target, targetCamera, F);
    const double xsH[3] = {xs, ys, 1.0};
    double l[3];
    for (int i = 0; i < 3; ++i)
        l[i] = F[i][0] * xsH[0] + F[i][1] * xsH[1] + F[i][2] * xsH[2];
    const double norm = std::hypot(l[0], l[1]);
    const double pixel = targetCamera.XPixelSize;
    double ends[2][2];
    targetCamera.PixelToImage(line.column1, line.row1, ends[0][0], ends[0][1]);
    targetCamera.PixelToImage(line.column2, line.row2, ends[1][0], ends[1][1]);
    const double W = targetCamera.GetHalfSensorWidth(), H = targetCamera.GetHalfSensorHeight();
    for (const auto& e : ends) {
        EXPECT_LT(std::fabs(l[0] * e[0] + l[1] * e[1] + l[2]) / norm, 0.01 * pixel) << pair.name;
        // Each end lies on an edge of the sensor.
        const double edge = std::min(std::fabs(std::fabs(e[0]) - W), std::fabs(std::fabs(e[1]) - H));
        EXPECT_LT(edge, 1e-9) << pair.name;
    }
    // The image of the point in the target lies on the drawn line.
    double xt = 0.0, yt = 0.0;
    Project(target, targetCamera, pair.point, xt, yt);
    double column = 0.0, row = 0.0;
    targetCamera.ImageToPixel(xt, yt, column, row);
    const double dc = line.column2 - line.column1, dr = line.row2 - line.row1;
    const double distance = std::fabs(dc * (row - line.row1) - dr * (column - line.column1)) / std::hypot(dc, dr);
    EXPECT_LT(distance, 0.01) << pair.name;
}

// Tests named after their pair, with the name's other characters as underscores.
INSTANTIATE_TEST_SUITE_P(Pairs, EpipolarLinePairs, ::testing::ValuesIn(kPairs),
                         [](const ::testing::TestParamInfo<Pair>& info) {
                             std::string name(info.param.name);
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });

// Two cameras 600 apart along x, both looking down -z; the left one
// measures "P" at (0, 150, 0).
struct ParallelPair {
    CCamera camera;
    CProjectImage left, right;
    ParallelPair()
    {
        MakeCamera(camera, 20.0, 0.0, 0.0, 0.0);
        Orient(left, {-300, 0, 1000}, {-300, 0, 0}, {0, 1, 0});
        Orient(right, {300, 0, 1000}, {300, 0, 0}, {0, 1, 0});
        Measure("P", {0, 150, 0});
    }
    void Measure(const char* label, V3 point)
    {
        double x = 0.0, y = 0.0;
        Project(left, camera, point, x, y);
        left.targets.AddSorted(CImageObservation(CNameBuffer(label), x, y));
    }
};

TEST(EpipolarLineCases, ParallelPairAlongXGivesAHorizontalLineAcrossTheSensor)
{
    ParallelPair pair;
    CCamera& camera = pair.camera;
    CProjectImage &left = pair.left, &right = pair.right;
    CEpipolarLine line;
    ASSERT_EQ(ComputeEpipolarLine(line, left, camera, right, camera, CNameBuffer("P")), 1);
    EXPECT_NEAR(line.row1, line.row2, 1e-9);
    // From x = W to x = -W: the whole sensor width.
    EXPECT_NEAR(line.column1, camera.XPixels, 1e-9);
    EXPECT_NEAR(line.column2, 0.0, 1e-9);
}

TEST(EpipolarLineCases, NoLineWithoutTheLabelOffTheSensorThroughTheStationOrWithoutOrientation)
{
    ParallelPair pair;
    // A ray far above the target's view: its horizontal line misses the sensor.
    pair.Measure("HIGH", {0, 900, 0});
    const CCamera& camera = pair.camera;
    const CProjectImage &source = pair.left, &target = pair.right;
    CEpipolarLine line;
    line.column1 = 5.0;
    EXPECT_EQ(ComputeEpipolarLine(line, source, camera, target, camera, CNameBuffer("Q")), 0);
    EXPECT_EQ(line.column1, 0.0);
    EXPECT_EQ(ComputeEpipolarLine(line, source, camera, target, camera, CNameBuffer("HIGH")), 0);
    // Both stations in one place: every point of the ray has one image.
    CProjectImage same(target);
    Orient(same, {-300, 0, 1000}, {-200, 0, 0}, {0, 1, 0});
    EXPECT_EQ(ComputeEpipolarLine(line, source, camera, same, camera, CNameBuffer("P")), 0);
    // A target never oriented has a zero rotation.
    CProjectImage blank;
    EXPECT_EQ(ComputeEpipolarLine(line, source, camera, blank, camera, CNameBuffer("P")), 0);
}

} // namespace epipolar_line_test
