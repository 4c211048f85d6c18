#include "RelativeOrientation.h"

#include <gtest/gtest.h>
#include <newmat/newmat.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "Camera.h"
#include "Matrix.h"
#include "PointSet.h"
#include "ProjectImage.h"
#include "SyntheticScene.h"

namespace {

using Vec = std::array<double, 3>;

// The step's sum of squared corrections is below this at convergence; its
// root bounds the last change of the base (model units, base 1000).
const double kStepBound = std::sqrt(CRelativeOrientation::kConvergenceLimit);

struct PairSpec {
    Vec base{1000.0, 0.0, 0.0};    // second station in the model frame, |base| = 1000
    Vec angles{0.0, 0.0, 0.0};     // azimuth, elevation, roll of the second image
    bool distortion = false;
    double noise = 0.0;            // mm
    int points = 40;
    unsigned seed = 1;
};

// Two images in the model frame: the first at the origin with zero angles
// (looking along +Y), the second at the given station, and a point field in
// front of both.
struct Pair {
    CCamera camera1, camera2;
    CProjectImage image1, image2;
    CPointSet points;
    std::vector<Vec> truth;
    Vec base;
    double R2[3][3];

    explicit Pair(const PairSpec& spec) : base(spec.base)
    {
        SetCamera(camera1, "CAM1", spec.distortion, 1.0);
        SetCamera(camera2, "CAM2", spec.distortion, -0.7);
        image1.SetCameraName("CAM1");
        image2.SetCameraName("CAM2");
        CSyntheticScene::RotationFromAngles(spec.angles[0], spec.angles[1], spec.angles[2], R2);
        double R1[3][3];
        CSyntheticScene::RotationFromAngles(0.0, 0.0, 0.0, R1);
        std::mt19937 random(spec.seed);
        std::uniform_real_distribution<double> across(-1500.0, 1500.0), depth(3000.0, 5000.0), height(-1000.0, 1000.0);
        std::normal_distribution<double> noise(0.0, 1.0);
        const Vec origin{0.0, 0.0, 0.0};
        for (int attempt = 0; attempt < 100000 && static_cast<int>(truth.size()) < spec.points; ++attempt) {
            const Vec P{across(random), depth(random), height(random)};
            double x1, y1, x2, y2;
            if (!Measure(camera1, R1, origin, P, x1, y1) || !Measure(camera2, R2, spec.base, P, x2, y2))
                continue;
            if (spec.noise > 0.0) {
                x1 += spec.noise * noise(random);
                y1 += spec.noise * noise(random);
                x2 += spec.noise * noise(random);
                y2 += spec.noise * noise(random);
            }
            char label[16];
            std::snprintf(label, sizeof label, "P%d", static_cast<int>(truth.size()) + 1);
            image1.targets.AddSorted(CImageObservation(CNameBuffer(label), x1, y1));
            image2.targets.AddSorted(CImageObservation(CNameBuffer(label), x2, y2));
            truth.push_back(P);
        }
        // Entry poses that the orientation must either replace or restore.
        image1.SetPose(5.0, -6.0, 7.0, 0.3, -0.2, 0.1);
        image2.SetPose(-50.0, 60.0, 70.0, -0.4, 0.25, -0.15);
    }

    static void SetCamera(CCamera& camera, const char* id, bool distortion, double sign)
    {
        camera.identifier = id;
        camera.XPixels = 6000;
        camera.YPixels = 4000;
        camera.XPixelSize = camera.YPixelSize = 0.006;
        camera.parameters[CAM_C] = 24.0 + 4.0 * (sign > 0.0 ? 0.0 : 1.0);
        if (distortion) {
            camera.parameters[CAM_XP] = 0.05 * sign;
            camera.parameters[CAM_YP] = -0.03 * sign;
            camera.parameters[CAM_K1] = -6e-5 * sign;
            camera.parameters[CAM_K2] = 2e-8;
            camera.parameters[CAM_P1] = 1.5e-5;
            camera.parameters[CAM_P2] = -1e-5 * sign;
            camera.parameters[CAM_B1] = 1e-4;
        }
    }

    // Measured coordinates of P: the camera model's correction inverted by
    // fixed-point steps to 1e-13 mm. False outside the format or behind.
    static bool Measure(const CCamera& camera, const double R[3][3], const Vec& X0, const Vec& P, double& x,
                        double& y)
    {
        const double d[3] = {P[0] - X0[0], P[1] - X0[1], P[2] - X0[2]};
        double u[3];
        for (int i = 0; i < 3; ++i)
            u[i] = R[i][0] * d[0] + R[i][1] * d[1] + R[i][2] * d[2];
        if (!(u[2] < 0.0))
            return false;
        const double c = camera.parameters[CAM_C];
        const double xi = -c * u[0] / u[2], yi = -c * u[1] / u[2];
        if (std::fabs(xi) > 16.0 || std::fabs(yi) > 10.0)
            return false;
        x = xi + camera.parameters[CAM_XP];
        y = yi + camera.parameters[CAM_YP];
        for (int k = 0; k < 100; ++k) {
            double xc, yc;
            ModelCorrection(camera, x, y, xc, yc);
            x += xi - xc;
            y += yi - yc;
            if (std::fabs(xi - xc) + std::fabs(yi - yc) < 1e-13)
                break;
        }
        return true;
    }
};

double MaxRotationDifference(const CProjectImage& image, const double R[3][3])
{
    double worst = 0.0;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            worst = std::max(worst, std::fabs(image.rotation.GetAt(i, j) - R[i][j]));
    return worst;
}

double Distance(const Vec& a, double x, double y, double z)
{
    return std::sqrt((a[0] - x) * (a[0] - x) + (a[1] - y) * (a[1] - y) + (a[2] - z) * (a[2] - z));
}

// Checks the first image at the model origin, the second at the true pose
// and the intersected points; position tolerance in model units, rotation
// per matrix element.
void ExpectTruePose(Pair& pair, double positionTolerance, double rotationTolerance, double pointTolerance)
{
    EXPECT_EQ(pair.image1.X, 0.0);
    EXPECT_EQ(pair.image1.Y, 0.0);
    EXPECT_EQ(pair.image1.Z, 0.0);
    // Zero angles: rows (1, 0, 0), (0, 0, 1), (0, -1, 0), not the identity.
    const double R1[3][3] = {{1, 0, 0}, {0, 0, 1}, {0, -1, 0}};
    EXPECT_LT(MaxRotationDifference(pair.image1, R1), 1e-15);
    EXPECT_TRUE(pair.image1.oriented);
    EXPECT_TRUE(pair.image2.oriented);

    EXPECT_LT(Distance(pair.base, pair.image2.X, pair.image2.Y, pair.image2.Z), positionTolerance);
    const double base = std::sqrt(pair.image2.X * pair.image2.X + pair.image2.Y * pair.image2.Y +
                                  pair.image2.Z * pair.image2.Z);
    EXPECT_NEAR(base, 1000.0, 1e-9);
    EXPECT_LT(MaxRotationDifference(pair.image2, pair.R2), rotationTolerance);
    ASSERT_EQ(pair.points.GetSize(), static_cast<int>(pair.truth.size()));
    double worst = 0.0;
    for (int i = 0; i < pair.points.GetSize(); ++i) {
        const CObjectPoint& p = *pair.points.GetAt(i);
        int k = 0;
        ASSERT_EQ(std::sscanf(p.label.GetText(), "P%d", &k), 1);
        worst = std::max(worst, Distance(pair.truth[static_cast<std::size_t>(k - 1)], p.x, p.y, p.z));
    }
    EXPECT_LT(worst, pointTolerance);
}

} // namespace

// Second station on the unit sphere of radius 1000 looking at the field
// centre (0, 4000, 0), with a roll.
PairSpec Convergent(double x, double y, double z, double roll)
{
    PairSpec spec;
    const double n = std::sqrt(x * x + y * y + z * z);
    spec.base = {1000.0 * x / n, 1000.0 * y / n, 1000.0 * z / n};
    const double d[3] = {-spec.base[0], 4000.0 - spec.base[1], -spec.base[2]};
    const double m = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    // The viewing axis of azimuth a and elevation e is (-cos e sin a, cos e cos a, sin e).
    spec.angles = {std::atan2(-d[0], d[1]), std::asin(d[2] / m), roll};
    return spec;
}

class RelativeOrientationRun : public ::testing::Test {
protected:
    static bool RunOn(Pair& pair)
    {
        CRelativeOrientation ro(pair.image1, pair.image2, pair.camera1, pair.camera2, pair.points, 1000.0);
        return ro.Run();
    }
};

TEST_F(RelativeOrientationRun, ExactPairsGiveTheTruePoseInTheModelFrame)
{
    // After the last step (squared corrections below the limit) Gauss-Newton
    // on exact data leaves far less than that step; the bounds are the
    // step's root in base units and the matching direction change in angle.
    const double position = kStepBound;
    const double rotation = kStepBound / 1000.0;
    {
        SCOPED_TRACE("near-normal");
        PairSpec spec;
        spec.angles = {0.02, -0.01, 0.015};
        Pair pair(spec);
        ASSERT_TRUE(RunOn(pair));
        ExpectTruePose(pair, position, rotation, 1.0);
    }
    {
        SCOPED_TRACE("convergent, raised, rolled");
        Pair pair(Convergent(0.8, -0.3, 0.5, 0.2));
        ASSERT_TRUE(RunOn(pair));
        ExpectTruePose(pair, position, rotation, 1.0);
    }
    {
        SCOPED_TRACE("base along the viewing direction mostly");
        Pair pair(Convergent(0.45, 0.85, -0.25, -0.1));
        ASSERT_TRUE(RunOn(pair));
        ExpectTruePose(pair, position, rotation, 1.0);
    }
}

TEST_F(RelativeOrientationRun, DistortedNoisyPairsGiveTheTruePoseWithinTheNoise)
{
    // In this geometry (base a quarter of the distance, the field on half of
    // the format) 1 micrometre of image noise moves the base by about 0.3
    // units, the rotation elements by about 2e-4 and the points by about 8
    // units (RMS over 40 seeds). Bounds: four times that, plus the step bound.
    const double position = kStepBound + 1.2;
    const double rotation = kStepBound / 1000.0 + 1e-3;
    for (unsigned seed = 1; seed <= 3; ++seed) {
        SCOPED_TRACE(seed);
        PairSpec spec = Convergent(1.0, 0.1 * seed, 0.2, 0.05 * seed);
        spec.distortion = true;
        spec.noise = 0.001;
        spec.points = 60;
        spec.seed = seed;
        Pair pair(spec);
        ASSERT_TRUE(RunOn(pair));
        ExpectTruePose(pair, position, rotation, 32.0);
    }
}

namespace {

// The coplanarity condition u R1 B R2' v of one point, written out here.
double Condition(const double p[6], double x1, double y1, double c1, double x2, double y2, double c2)
{
    double R1[3][3], R2[3][3];
    CSyntheticScene::RotationFromAngles(0.0, 0.0, 0.0, R1);
    CSyntheticScene::RotationFromAngles(p[3], p[4], p[5], R2);
    const double B[3][3] = {{0, p[2], -p[1]}, {-p[2], 0, p[0]}, {p[1], -p[0], 0}};
    const double u[3] = {x1, y1, -c1}, v[3] = {x2, y2, -c2};
    double s = 0.0;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                for (int l = 0; l < 3; ++l)
                    s += u[i] * R1[i][j] * B[j][k] * R2[l][k] * v[l];
    return s;
}

} // namespace

TEST(RelativeOrientationStep, ReducedSystemGivesTheStepOfTheFullBorderedSystem)
{
    PairSpec spec = Convergent(0.9, -0.2, 0.3, 0.1);
    spec.points = 9;
    spec.noise = 0.002; // misclosures remain at the truth, so the residuals are not zero
    Pair pair(spec);
    const int n = static_cast<int>(pair.truth.size());
    ASSERT_EQ(n, 9);

    // Start off the truth.
    const double start[6] = {spec.base[0] + 40.0, spec.base[1] - 25.0, spec.base[2] + 30.0,
                             spec.angles[0] + 0.03, spec.angles[1] - 0.02, spec.angles[2] + 0.025};
    pair.image1.SetPose(0, 0, 0, 0, 0, 0);
    pair.image2.SetRotation(start[3], start[4], start[5]);
    CRelativeOrientation ro(pair.image1, pair.image2, pair.camera1, pair.camera2, pair.points, 1000.0);
    ro.SetBase(start[0], start[1], start[2]);

    // The literal system of order n + 7: observation matrix Bo (n+1 x 4n) and
    // design matrix A (n+1 x 6) by differences of the condition, M = Bo Bo',
    // N = [M A; A' 0], X = -N^-1 W.
    const double c1 = pair.camera1.parameters[CAM_C], c2 = pair.camera2.parameters[CAM_C];
    NEWMAT::Matrix Bo(n + 1, 4 * n), A(n + 1, 6);
    NEWMAT::ColumnVector W(n + 7);
    FillNewmatMatrix(Bo, 0.0);
    FillNewmatMatrix(A, 0.0);
    W = 0.0;
    for (int i = 0; i < n; ++i) {
        const CImageObservation& o1 = *pair.image1.targets.GetAt(i);
        const CImageObservation& o2 = *pair.image2.targets.GetAt(i);
        ASSERT_TRUE(o1.label == o2.label);
        double obs[4] = {o1.x, o1.y, o2.x, o2.y};
        auto F = [&](const double* p, const double* q) { return Condition(p, q[0], q[1], c1, q[2], q[3], c2); };
        W(i + 1) = F(start, obs);
        for (int j = 0; j < 6; ++j) {
            const double h = j < 3 ? 1.0 : 1e-6; // the condition is linear in the base
            double up[6], down[6];
            for (int k = 0; k < 6; ++k)
                up[k] = down[k] = start[k];
            up[j] += h;
            down[j] -= h;
            A(i + 1, j + 1) = (F(up, obs) - F(down, obs)) / (2.0 * h);
        }
        for (int k = 0; k < 4; ++k) { // linear in each coordinate
            double up[4] = {obs[0], obs[1], obs[2], obs[3]}, down[4] = {obs[0], obs[1], obs[2], obs[3]};
            up[k] += 1.0;
            down[k] -= 1.0;
            Bo(i + 1, 4 * i + k + 1) = (F(start, up) - F(start, down)) / 2.0;
        }
    }
    for (int j = 0; j < 3; ++j)
        A(n + 1, j + 1) = start[j];
    const NEWMAT::Matrix M = Bo * Bo.t();
    NEWMAT::Matrix N(n + 7, n + 7);
    FillNewmatMatrix(N, 0.0);
    N.SubMatrix(1, n + 1, 1, n + 1) = M;
    N.SubMatrix(1, n + 1, n + 2, n + 7) = A;
    N.SubMatrix(n + 2, n + 7, 1, n + 1) = A.t();
    const NEWMAT::ColumnVector X = -(N.i() * W);
    const NEWMAT::ColumnVector r = Bo.t() * X.Rows(1, n + 1);
    const double sigma0 = std::sqrt(r.SumSquare() / (n + 1 - 6));

    ASSERT_TRUE(ro.IterateStep());
    EXPECT_EQ(ro.GetCommonPointCount(), n);
    double b[3];
    ro.GetBase(b);
    const double step[6] = {b[0] - start[0], b[1] - start[1], b[2] - start[2],
                            ro.GetAzimuth() - start[3], ro.GetElevation() - start[4], ro.GetRoll() - start[5]};
    double sum = 0.0;
    for (int j = 0; j < 6; ++j) {
        const double expected = X(n + 2 + j);
        EXPECT_NEAR(step[j], expected, 1e-7 * std::fabs(expected) + 1e-12) << j;
        sum += expected * expected;
    }
    EXPECT_GT(std::fabs(step[0]), 1.0); // a real step, not a no-op
    EXPECT_NEAR(ro.GetCorrection(), sum, 1e-7 * sum);
    EXPECT_NEAR(ro.GetSigma0(), sigma0, 1e-6 * sigma0);
    // The second image's rotation follows the new angles.
    double R[3][3];
    CSyntheticScene::RotationFromAngles(start[3] + X(n + 5), start[4] + X(n + 6), start[5] + X(n + 7), R);
    EXPECT_LT(MaxRotationDifference(pair.image2, R), 1e-9);
}

namespace {

struct EntryState {
    double X, Y, Z;
    CMatrix rotation;
    bool oriented;
    explicit EntryState(const CProjectImage& image)
        : X(image.X), Y(image.Y), Z(image.Z), rotation(image.rotation), oriented(image.oriented)
    {
    }
    void Expect(const CProjectImage& image) const
    {
        EXPECT_EQ(image.X, X);
        EXPECT_EQ(image.Y, Y);
        EXPECT_EQ(image.Z, Z);
        EXPECT_TRUE(image.rotation == rotation);
        EXPECT_EQ(image.oriented, oriented);
    }
};

// Runs and expects a clean failure: false, both images as on entry, no points.
void ExpectCleanFailure(Pair& pair)
{
    const EntryState entry1(pair.image1), entry2(pair.image2);
    pair.points.AddNew(); // whatever the set held before is not kept
    CRelativeOrientation ro(pair.image1, pair.image2, pair.camera1, pair.camera2, pair.points, 1000.0);
    bool result = true;
    EXPECT_NO_THROW(result = ro.Run());
    EXPECT_FALSE(result);
    entry1.Expect(pair.image1);
    entry2.Expect(pair.image2);
    EXPECT_EQ(pair.points.GetSize(), 0);
}

} // namespace

TEST(RelativeOrientationFailure, AllPointsOnOneRayOfTheFirstImage)
{
    PairSpec spec;
    spec.points = 0;
    spec.angles = {0.02, -0.01, 0.015};
    Pair pair(spec);
    const Vec direction{0.12, 1.0, 0.07};
    for (int i = 0; i < 12; ++i) {
        const double s = 2500.0 + 250.0 * i;
        const Vec P{s * direction[0], s * direction[1], s * direction[2]};
        double R1[3][3], x1, y1, x2, y2;
        CSyntheticScene::RotationFromAngles(0.0, 0.0, 0.0, R1);
        ASSERT_TRUE(Pair::Measure(pair.camera1, R1, {0.0, 0.0, 0.0}, P, x1, y1));
        ASSERT_TRUE(Pair::Measure(pair.camera2, pair.R2, spec.base, P, x2, y2));
        char label[16];
        std::snprintf(label, sizeof label, "R%d", i + 1);
        pair.image1.targets.AddSorted(CImageObservation(CNameBuffer(label), x1, y1));
        pair.image2.targets.AddSorted(CImageObservation(CNameBuffer(label), x2, y2));
    }
    ExpectCleanFailure(pair);
}

TEST(RelativeOrientationFailure, FewerCommonPointsThanTheOrientationNeeds)
{
    {
        SCOPED_TRACE("four points");
        PairSpec spec;
        spec.points = 4;
        Pair pair(spec);
        ExpectCleanFailure(pair);
    }
    {
        SCOPED_TRACE("eight labels, four of them disabled or fiducial on one side");
        PairSpec spec;
        spec.points = 8;
        Pair pair(spec);
        pair.image1.targets.GetAt(0)->disabled = true;
        pair.image1.targets.GetAt(3)->fiducial = true;
        pair.image2.targets.GetAt(5)->disabled = true;
        pair.image2.targets.GetAt(6)->fiducial = true;
        CRelativeOrientation ro(pair.image1, pair.image2, pair.camera1, pair.camera2, pair.points, 1000.0);
        EXPECT_EQ(ro.CountCommonPoints(), 4);
        ExpectCleanFailure(pair);
    }
    {
        SCOPED_TRACE("no common labels");
        PairSpec spec;
        spec.points = 10;
        Pair pair(spec);
        pair.image2.RemoveAllObservations();
        ExpectCleanFailure(pair);
    }
}

TEST(RelativeOrientationFailure, CandidatesWhoseTriangulationIntersectsNothingNeverWin)
{
    // With the first image disabled the triangulation of every candidate
    // intersects no point (RMS -1): no candidate may be chosen.
    PairSpec spec;
    spec.angles = {0.02, -0.01, 0.015};
    Pair pair(spec);
    pair.image1.enabled = false;
    ExpectCleanFailure(pair);
}

TEST(RelativeOrientationFailure, UnusableCameraEndsTheRunWithoutAnException)
{
    PairSpec spec;
    Pair pair(spec);
    pair.camera2.parameters[CAM_C] = std::nan("");
    ExpectCleanFailure(pair);
}

TEST(RelativeOrientationSolve, OneStartGivesTheSingleConfigurationWithEveryPointInFront)
{
    PairSpec spec;
    spec.angles = {0.02, -0.01, 0.015};
    Pair pair(spec);
    // The second image starts from the first image's rotation: give the
    // first one a rotation near the second's true one.
    pair.image1.SetRotation(spec.angles[0] + 0.05, spec.angles[1] - 0.04, spec.angles[2] + 0.03);
    pair.image2.SetPosition(900.0, 200.0, -150.0);
    const CMatrix entry1 = pair.image1.rotation, entry2 = pair.image2.rotation;
    CRelativeOrientation ro(pair.image1, pair.image2, pair.camera1, pair.camera2, pair.points, 1000.0);

    CProjectImageList solutions = ro.Solve();
    ASSERT_EQ(solutions.GetSize(), 1);
    const CProjectImage& s = *solutions.GetAt(0);
    EXPECT_NEAR(std::sqrt(s.X * s.X + s.Y * s.Y + s.Z * s.Z), 1000.0, 1e-9);
    EXPECT_LT(Distance(spec.base, s.X, s.Y, s.Z), kStepBound);
    EXPECT_LT(MaxRotationDifference(s, pair.R2), kStepBound / 1000.0);
    EXPECT_LT(ro.GetCorrection(), CRelativeOrientation::kConvergenceLimit);
    EXPECT_EQ(ro.GetCommonPointCount(), static_cast<int>(pair.truth.size()));

    // The first image sits at the origin, both rotations are back, the
    // second image is where the last configuration put it (base +b again).
    EXPECT_EQ(pair.image1.X, 0.0);
    EXPECT_EQ(pair.image1.Y, 0.0);
    EXPECT_EQ(pair.image1.Z, 0.0);
    EXPECT_TRUE(pair.image1.rotation == entry1);
    EXPECT_TRUE(pair.image2.rotation == entry2);
    EXPECT_EQ(pair.image2.X, s.X);
    EXPECT_EQ(pair.points.GetSize(), 0);

    // The mirrored base puts every point behind the cameras.
    pair.image1.SetPose(0, 0, 0, 0, 0, 0);
    pair.image2.SetPosition(s.X, s.Y, s.Z);
    pair.image2.rotation = s.rotation;
    EXPECT_TRUE(ro.IntersectCommonPoints());
    EXPECT_EQ(pair.points.GetSize(), static_cast<int>(pair.truth.size()));
    ro.ReverseBase();
    EXPECT_FALSE(ro.IntersectCommonPoints());
    EXPECT_EQ(pair.points.GetSize(), 1); // the first failing point stays
}

TEST(RelativeOrientationSolve, MirrorAndFlip)
{
    PairSpec spec;
    spec.points = 0;
    Pair pair(spec);
    pair.image1.SetPosition(1.0, 2.0, 3.0);
    pair.image2.SetPose(4.0, 6.0, 8.0, 0.3, 0.2, -0.4);
    CRelativeOrientation ro(pair.image1, pair.image2, pair.camera1, pair.camera2, pair.points, 1000.0);
    ro.ReverseBase();
    EXPECT_EQ(pair.image2.X, -2.0);
    EXPECT_EQ(pair.image2.Y, -2.0);
    EXPECT_EQ(pair.image2.Z, -2.0);
    double R[3][3];
    CSyntheticScene::RotationFromAngles(0.3, 0.2, -0.4, R);
    ro.FlipRotation();
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(pair.image2.rotation.GetAt(i, 0), R[i][0], 1e-15);
        EXPECT_NEAR(pair.image2.rotation.GetAt(i, 1), -R[i][1], 1e-15);
        EXPECT_NEAR(pair.image2.rotation.GetAt(i, 2), -R[i][2], 1e-15);
    }
}

TEST(RelativeOrientationSolve, NewmatConversionsKeepEveryElement)
{
    CMatrix packed(3, -1); // symmetric, packed upper triangle
    for (int i = 0; i < 3; ++i)
        for (int j = i; j < 3; ++j)
            packed.SetAt(10.0 * i + j, i, j);
    NEWMAT::Matrix m;
    CopyToNewmat(packed, m);
    ASSERT_EQ(m.Nrows(), 3);
    ASSERT_EQ(m.Ncols(), 3);
    EXPECT_EQ(m(1, 3), 2.0);
    EXPECT_EQ(m(3, 1), 2.0);
    EXPECT_EQ(m(3, 3), 22.0);

    NEWMAT::Matrix wide(2, 4);
    FillNewmatMatrix(wide, 1.5);
    wide(2, 4) = -7.0;
    CMatrix full(5, 5);
    CopyFromNewmat(wide, full);
    ASSERT_EQ(full.GetRows(), 2);
    ASSERT_EQ(full.GetCols(), 4);
    EXPECT_EQ(full.GetAt(0, 0), 1.5);
    EXPECT_EQ(full.GetAt(1, 3), -7.0);
}
