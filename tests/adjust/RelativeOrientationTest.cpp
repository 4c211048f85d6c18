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
#include "NumericDerivative.h"
#include "PointSet.h"
#include "ProjectImage.h"
#include "SyntheticScene.h"

namespace {

using Vec = std::array<double, 3>;

// At convergence the step's sum of squared corrections is below the limit;
// its root bounds the last change of the base (model units, base 1000).
const double kStepBound = std::sqrt(CRelativeOrientation::kConvergenceLimit);

struct PairSetup {
    Vec base{1000.0, 0.0, 0.0}; // second station in the model frame, |base| = 1000
    Vec angles{0.02, -0.01, 0.015};
    bool distortion = false;
    double noise = 0.0; // mm
    int points = 40;
    unsigned seed = 1;
};

// Second station looking at the field centre (0, 4000, 0), with a roll. The
// viewing axis of azimuth a and elevation e is (-cos e sin a, cos e cos a, sin e).
PairSetup Convergent(double x, double y, double z, double roll)
{
    PairSetup setup;
    const double n = std::sqrt(x * x + y * y + z * z);
    setup.base = {1000.0 * x / n, 1000.0 * y / n, 1000.0 * z / n};
    const double d[3] = {-setup.base[0], 4000.0 - setup.base[1], -setup.base[2]};
    setup.angles = {std::atan2(-d[0], d[1]), std::asin(d[2] / std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2])), roll};
    return setup;
}

// Two images in the model frame: the first at the origin with zero angles
// (looking along +Y), the second at the given pose, points in front of both.
struct Pair {
    CCamera camera1, camera2;
    CProjectImage image1, image2;
    CPointSet points;
    std::vector<Vec> truth;
    Vec base;
    double R1[3][3], R2[3][3];

    explicit Pair(const PairSetup& setup) : base(setup.base)
    {
        SetCamera(camera1, "CAM1", 24.0, setup.distortion ? 1.0 : 0.0);
        SetCamera(camera2, "CAM2", 28.0, setup.distortion ? -0.7 : 0.0);
        image1.SetCameraName("CAM1");
        image2.SetCameraName("CAM2");
        CSyntheticScene::RotationFromAngles(0.0, 0.0, 0.0, R1);
        CSyntheticScene::RotationFromAngles(setup.angles[0], setup.angles[1], setup.angles[2], R2);
        std::mt19937 random(setup.seed);
        std::uniform_real_distribution<double> across(-1500, 1500), depth(3000, 5000), height(-1000, 1000);
        std::normal_distribution<double> noise(0.0, 1.0);
        for (int attempt = 0; attempt < 100000 && static_cast<int>(truth.size()) < setup.points; ++attempt) {
            const Vec P{across(random), depth(random), height(random)};
            double xy[4];
            if (!Measure(camera1, R1, {0, 0, 0}, P, xy[0], xy[1]) || !Measure(camera2, R2, base, P, xy[2], xy[3]))
                continue;
            for (double& v : xy)
                v += setup.noise * noise(random);
            Add(P, xy, "P");
        }
        // Entry poses that the orientation must either replace or restore.
        image1.SetPose(5.0, -6.0, 7.0, 0.3, -0.2, 0.1);
        image2.SetPose(-50.0, 60.0, 70.0, -0.4, 0.25, -0.15);
    }

    void Add(const Vec& P, const double xy[4], const char* prefix)
    {
        char label[16];
        std::snprintf(label, sizeof label, "%s%d", prefix, static_cast<int>(truth.size()) + 1);
        image1.targets.AddSorted(CImageObservation(CNameBuffer(label), xy[0], xy[1]));
        image2.targets.AddSorted(CImageObservation(CNameBuffer(label), xy[2], xy[3]));
        truth.push_back(P);
    }

    static void SetCamera(CCamera& camera, const char* id, double c, double k)
    {
        camera.identifier = id;
        camera.parameters[CAM_C] = c;
        camera.parameters[CAM_XP] = 0.05 * k;
        camera.parameters[CAM_YP] = -0.03 * k;
        camera.parameters[CAM_K1] = -6e-5 * k;
        camera.parameters[CAM_K2] = 2e-8 * k * k;
        camera.parameters[CAM_P1] = 1.5e-5 * k;
        camera.parameters[CAM_P2] = -1e-5 * k;
        camera.parameters[CAM_B1] = 1e-4 * k * k;
    }

    // Measured coordinates of P: the camera model's correction inverted by
    // fixed-point steps to 1e-13 mm. False outside the format or behind.
    static bool Measure(const CCamera& camera, const double R[3][3], const Vec& X0, const Vec& P, double& x, double& y)
    {
        double u[3];
        for (int i = 0; i < 3; ++i)
            u[i] = R[i][0] * (P[0] - X0[0]) + R[i][1] * (P[1] - X0[1]) + R[i][2] * (P[2] - X0[2]);
        const double c = camera.parameters[CAM_C], xi = -c * u[0] / u[2], yi = -c * u[1] / u[2];
        if (!(u[2] < 0.0) || std::fabs(xi) > 16.0 || std::fabs(yi) > 10.0)
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

double RotationDifference(const CProjectImage& image, const double R[3][3])
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

// Runs and checks the first image at the model origin with zero angles, the
// second at the true pose and the intersected points.
void RunAndExpectTruePose(Pair& pair, double position, double rotation, double pointTolerance)
{
    CRelativeOrientation ro(pair.image1, pair.image2, pair.camera1, pair.camera2, pair.points, 1000.0);
    ASSERT_TRUE(ro.Run());
    EXPECT_EQ(Distance({0, 0, 0}, pair.image1.X, pair.image1.Y, pair.image1.Z), 0.0);
    // Zero angles give rows (1, 0, 0), (0, 0, 1), (0, -1, 0), not the identity.
    const double R1[3][3] = {{1, 0, 0}, {0, 0, 1}, {0, -1, 0}};
    EXPECT_LT(RotationDifference(pair.image1, R1), 1e-15);
    EXPECT_TRUE(pair.image1.oriented && pair.image2.oriented);
    EXPECT_NEAR(Distance({0, 0, 0}, pair.image2.X, pair.image2.Y, pair.image2.Z), 1000.0, 1e-9);
    EXPECT_LT(Distance(pair.base, pair.image2.X, pair.image2.Y, pair.image2.Z), position);
    EXPECT_LT(RotationDifference(pair.image2, pair.R2), rotation);
    ASSERT_EQ(pair.points.GetSize(), static_cast<int>(pair.truth.size()));
    for (int i = 0; i < pair.points.GetSize(); ++i) {
        const CObjectPoint& p = *pair.points.GetAt(i);
        int k = 0;
        ASSERT_EQ(std::sscanf(p.label.GetText(), "P%d", &k), 1);
        EXPECT_LT(Distance(pair.truth[static_cast<std::size_t>(k - 1)], p.x, p.y, p.z), pointTolerance);
    }
}

// Runs and expects a clean failure: false, both images as on entry, no points.
void RunAndExpectCleanFailure(Pair& pair)
{
    const CProjectImage entry1(pair.image1), entry2(pair.image2);
    pair.points.AddNew();
    CRelativeOrientation ro(pair.image1, pair.image2, pair.camera1, pair.camera2, pair.points, 1000.0);
    bool result = true;
    EXPECT_NO_THROW(result = ro.Run());
    EXPECT_FALSE(result);
    for (auto [now, entry] : {std::make_pair(&pair.image1, &entry1), std::make_pair(&pair.image2, &entry2)}) {
        EXPECT_EQ(Distance({entry->X, entry->Y, entry->Z}, now->X, now->Y, now->Z), 0.0);
        EXPECT_TRUE(now->rotation == entry->rotation);
        EXPECT_EQ(now->oriented, entry->oriented);
    }
    EXPECT_EQ(pair.points.GetSize(), 0);
}

// The coplanarity condition u R1 B R2' v of one point, written out here.
double Condition(const double p[6], const double obs[4], double c1, double c2)
{
    double R1[3][3], R2[3][3];
    CSyntheticScene::RotationFromAngles(0.0, 0.0, 0.0, R1);
    CSyntheticScene::RotationFromAngles(p[3], p[4], p[5], R2);
    const double B[3][3] = {{0, p[2], -p[1]}, {-p[2], 0, p[0]}, {p[1], -p[0], 0}};
    const double u[3] = {obs[0], obs[1], -c1}, v[3] = {obs[2], obs[3], -c2};
    double s = 0.0;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                for (int l = 0; l < 3; ++l)
                    s += u[i] * R1[i][j] * B[j][k] * R2[l][k] * v[l];
    return s;
}

} // namespace

TEST(RelativeOrientationRun, ExactPairsGiveTheTruePoseInTheModelFrame)
{
    // Bounds: the root of the convergence limit in base units and the same
    // as a direction change (1/1000) on the rotation elements.
    for (const PairSetup& setup : {PairSetup{}, Convergent(0.8, -0.3, 0.5, 0.2), Convergent(0.45, 0.85, -0.25, -0.1)}) {
        SCOPED_TRACE(setup.base[1]);
        Pair pair(setup);
        RunAndExpectTruePose(pair, kStepBound, kStepBound / 1000.0, 1.0);
    }
}

TEST(RelativeOrientationRun, NearNormalPairsWithTiltedBasesGiveTheTruePose)
{
    // Near-normal pairs whose base is turned from the X axis by up to 5
    // degrees in several directions. From some starts the iteration reaches
    // the solution twisted half a turn about the base; its flipped form must
    // be the true pose itself, not one a fraction of a degree off that then
    // shadows the exact solutions found later.
    struct Geometry {
        unsigned seed;
        int points;
        double azimuth, elevation, roll;
    };
    const double degree = std::atan(1.0) / 45.0;
    for (const Geometry& g : {Geometry{199, 24, -0.0561, 0.0079, -0.1881}, Geometry{232, 32, 0.0920, 0.0007, 0.0995}})
        for (double tilt : {0.0, 0.25, 0.44, 0.75, 1.0, 2.0, 3.0, 4.0, 5.0})
            for (int k = 1; k <= 5; ++k) {
                SCOPED_TRACE(testing::Message() << "seed " << g.seed << ", " << tilt << " degrees towards " << 45 * k);
                PairSetup setup;
                setup.seed = g.seed;
                setup.points = g.points;
                setup.angles = {g.azimuth, g.elevation, g.roll};
                const double t = tilt * degree, d = k * M_PI / 4.0;
                setup.base = {1000.0 * std::cos(t), 1000.0 * std::sin(t) * std::cos(d),
                              1000.0 * std::sin(t) * std::sin(d)};
                Pair pair(setup);
                RunAndExpectTruePose(pair, kStepBound, kStepBound / 1000.0, 1.0);
            }
}

TEST(RelativeOrientationRun, DistortedNoisyPairsGiveTheTruePoseWithinTheNoise)
{
    // In this geometry (base a quarter of the distance, the field on half of
    // the format) 1 micrometre of image noise moves the base by about 0.3
    // units, the rotation elements by about 2e-4 and the points by about 8
    // units (RMS over 40 seeds). Bounds: four times that, plus the step bound.
    for (unsigned seed = 1; seed <= 3; ++seed) {
        SCOPED_TRACE(seed);
        PairSetup setup = Convergent(1.0, 0.1 * seed, 0.2, 0.05 * seed);
        setup.distortion = true;
        setup.noise = 0.001;
        setup.points = 60;
        setup.seed = seed;
        Pair pair(setup);
        RunAndExpectTruePose(pair, kStepBound + 1.2, kStepBound / 1000.0 + 1e-3, 32.0);
    }
}

TEST(RelativeOrientationStep, ReducedSystemGivesTheStepOfTheFullBorderedSystem)
{
    PairSetup setup = Convergent(0.9, -0.2, 0.3, 0.1);
    setup.points = 9;
    setup.noise = 0.002; // misclosures remain at the truth: residuals are not zero
    Pair pair(setup);
    const int n = static_cast<int>(pair.truth.size());
    const double start[6] = {setup.base[0] + 40.0, setup.base[1] - 25.0, setup.base[2] + 30.0,
                             setup.angles[0] + 0.03, setup.angles[1] - 0.02, setup.angles[2] + 0.025};
    pair.image1.SetPose(0, 0, 0, 0, 0, 0);
    pair.image2.SetRotation(start[3], start[4], start[5]);
    CRelativeOrientation ro(pair.image1, pair.image2, pair.camera1, pair.camera2, pair.points, 1000.0);
    ro.SetBase(start[0], start[1], start[2]);

    // The system of order n + 7 built literally: Bo (n+1 x 4n) and A (n+1 x 6)
    // by central differences of the condition (exact in the base and the
    // coordinates, where it is linear), M = Bo Bo', N = [M A; A' 0],
    // X = -N^-1 W, residuals Bo' k.
    const double c1 = pair.camera1.parameters[CAM_C], c2 = pair.camera2.parameters[CAM_C];
    NEWMAT::Matrix Bo(n + 1, 4 * n), A(n + 1, 6), N(n + 7, n + 7);
    NEWMAT::ColumnVector W(n + 7);
    FillNewmatMatrix(Bo, 0.0);
    FillNewmatMatrix(A, 0.0);
    FillNewmatMatrix(N, 0.0);
    W = 0.0;
    for (int i = 0; i < n; ++i) {
        const CImageObservation &o1 = *pair.image1.targets.GetAt(i), &o2 = *pair.image2.targets.GetAt(i);
        const double obs[4] = {o1.x, o1.y, o2.x, o2.y};
        W(i + 1) = Condition(start, obs, c1, c2);
        for (int j = 0; j < 6; ++j)
            A(i + 1, j + 1) = kestrelon::test::CentralDerivative(
                [&](double v) {
                    double p[6] = {start[0], start[1], start[2], start[3], start[4], start[5]};
                    p[j] = v;
                    return Condition(p, obs, c1, c2);
                },
                start[j], j < 3 ? 1.0 : 1e-6);
        for (int k = 0; k < 4; ++k)
            Bo(i + 1, 4 * i + k + 1) = kestrelon::test::CentralDerivative(
                [&](double v) {
                    double o[4] = {obs[0], obs[1], obs[2], obs[3]};
                    o[k] = v;
                    return Condition(start, o, c1, c2);
                },
                obs[k], 1.0);
    }
    for (int j = 0; j < 3; ++j)
        A(n + 1, j + 1) = start[j];
    N.SubMatrix(1, n + 1, 1, n + 1) = Bo * Bo.t();
    N.SubMatrix(1, n + 1, n + 2, n + 7) = A;
    N.SubMatrix(n + 2, n + 7, 1, n + 1) = A.t();
    const NEWMAT::ColumnVector X = -(N.i() * W);
    const NEWMAT::ColumnVector r = Bo.t() * X.Rows(1, n + 1);

    ASSERT_TRUE(ro.IterateStep());
    EXPECT_EQ(ro.GetCommonPointCount(), n);
    double b[3];
    ro.GetBase(b);
    const double step[6] = {b[0] - start[0], b[1] - start[1], b[2] - start[2],
                            ro.GetAzimuth() - start[3], ro.GetElevation() - start[4], ro.GetRoll() - start[5]};
    double sum = 0.0;
    for (int j = 0; j < 6; ++j) {
        EXPECT_NEAR(step[j], X(n + 2 + j), 1e-7 * std::fabs(X(n + 2 + j)) + 1e-12) << j;
        sum += X(n + 2 + j) * X(n + 2 + j);
    }
    EXPECT_GT(std::fabs(step[0]), 1.0);
    EXPECT_NEAR(ro.GetCorrection(), sum, 1e-7 * sum);
    const double sigma0 = std::sqrt(r.SumSquare() / (n + 1 - 6));
    EXPECT_NEAR(ro.GetSigma0(), sigma0, 1e-6 * sigma0);
    double R[3][3];
    CSyntheticScene::RotationFromAngles(start[3] + X(n + 5), start[4] + X(n + 6), start[5] + X(n + 7), R);
    EXPECT_LT(RotationDifference(pair.image2, R), 1e-9);
}

TEST(RelativeOrientationSolve, FlipTurnsTheSecondImageHalfRoundTheBase)
{
    // Against a half turn built from axis and angle: R' = R Q', Q the turn by
    // pi about the unit base n (Rodrigues). Along X it is R diag(1, -1, -1)
    // exactly.
    Pair pair{PairSetup{}};
    CRelativeOrientation ro(pair.image1, pair.image2, pair.camera1, pair.camera2, pair.points, 1000.0);
    pair.image1.SetPose(10.0, -20.0, 5.0, 0.0, 0.0, 0.0);
    for (const Vec& base : {Vec{1000.0, 0.0, 0.0}, Vec{-700.0, 0.0, 0.0}, Vec{996.2, 0.0, 87.2}, Vec{300.0, -400.0, 1200.0}}) {
        pair.image2.SetPose(10.0 + base[0], -20.0 + base[1], 5.0 + base[2], 0.3, -0.2, 1.1);
        double R[3][3];
        pair.image2.GetRotation(R);
        ro.FlipRotation();
        const double length = std::sqrt(base[0] * base[0] + base[1] * base[1] + base[2] * base[2]);
        const double n[3] = {base[0] / length, base[1] / length, base[2] / length};
        const double c = std::cos(M_PI), s = std::sin(M_PI);
        const double K[3][3] = {{0, -n[2], n[1]}, {n[2], 0, -n[0]}, {-n[1], n[0], 0}};
        double Q[3][3], expected[3][3];
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                Q[i][j] = (i == j ? c : 0.0) + s * K[i][j] + (1.0 - c) * n[i] * n[j];
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                expected[i][j] = R[i][0] * Q[j][0] + R[i][1] * Q[j][1] + R[i][2] * Q[j][2];
        EXPECT_LT(RotationDifference(pair.image2, expected), 1e-15) << base[0];
        if (base[1] == 0.0 && base[2] == 0.0) {
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j)
                    EXPECT_EQ(pair.image2.rotation.GetAt(i, j), j == 0 ? R[i][j] : -R[i][j]);
        }
    }
}

TEST(RelativeOrientationSolve, OneStartGivesTheSingleConfigurationWithEveryPointInFront)
{
    Pair pair{PairSetup{}};
    // The second image starts from the first image's rotation.
    pair.image1.SetRotation(0.07, -0.05, 0.045);
    pair.image2.SetPosition(900.0, 200.0, -150.0);
    const CMatrix entry1 = pair.image1.rotation, entry2 = pair.image2.rotation;
    CRelativeOrientation ro(pair.image1, pair.image2, pair.camera1, pair.camera2, pair.points, 1000.0);

    CProjectImageList solutions = ro.Solve();
    ASSERT_EQ(solutions.GetSize(), 1);
    const CProjectImage& s = *solutions.GetAt(0);
    EXPECT_NEAR(Distance({0, 0, 0}, s.X, s.Y, s.Z), 1000.0, 1e-9);
    EXPECT_LT(Distance(pair.base, s.X, s.Y, s.Z), kStepBound);
    EXPECT_LT(RotationDifference(s, pair.R2), kStepBound / 1000.0);
    // First image at the origin, both rotations back, the second image where
    // the last configuration put it (base +b again), no points.
    EXPECT_EQ(Distance({0, 0, 0}, pair.image1.X, pair.image1.Y, pair.image1.Z), 0.0);
    EXPECT_TRUE(pair.image1.rotation == entry1 && pair.image2.rotation == entry2);
    // (The flipped configurations are refined, so +b again only to rounding.)
    EXPECT_LT(Distance({s.X, s.Y, s.Z}, pair.image2.X, pair.image2.Y, pair.image2.Z), 1e-9);
    EXPECT_EQ(pair.points.GetSize(), 0);

    // The mirrored base puts the points behind: the first failing one stays.
    pair.image1.SetPose(0, 0, 0, 0, 0, 0);
    pair.image2.rotation = s.rotation;
    ro.ReverseBase();
    EXPECT_FALSE(ro.IntersectCommonPoints());
    EXPECT_EQ(pair.points.GetSize(), 1);
}

TEST(RelativeOrientationFailure, DegeneratePairsFailCleanly)
{
    {
        SCOPED_TRACE("all points on one ray of the first image");
        PairSetup setup;
        setup.points = 0;
        Pair pair(setup);
        for (int i = 0; i < 12; ++i) {
            const double s = 2500.0 + 250.0 * i;
            const Vec P{0.12 * s, s, 0.07 * s};
            double xy[4];
            ASSERT_TRUE(Pair::Measure(pair.camera1, pair.R1, {0, 0, 0}, P, xy[0], xy[1]));
            ASSERT_TRUE(Pair::Measure(pair.camera2, pair.R2, setup.base, P, xy[2], xy[3]));
            pair.Add(P, xy, "R");
        }
        RunAndExpectCleanFailure(pair);
    }
    {
        SCOPED_TRACE("four common points");
        PairSetup setup;
        setup.points = 4;
        Pair pair(setup);
        RunAndExpectCleanFailure(pair);
    }
    {
        SCOPED_TRACE("eight labels, four disabled or fiducial on one side");
        PairSetup setup;
        setup.points = 8;
        Pair pair(setup);
        pair.image1.targets.GetAt(0)->disabled = true;
        pair.image1.targets.GetAt(3)->fiducial = true;
        pair.image2.targets.GetAt(5)->disabled = true;
        pair.image2.targets.GetAt(6)->fiducial = true;
        CRelativeOrientation ro(pair.image1, pair.image2, pair.camera1, pair.camera2, pair.points, 1000.0);
        EXPECT_EQ(ro.CountCommonPoints(), 4);
        RunAndExpectCleanFailure(pair);
    }
    {
        SCOPED_TRACE("a principal distance that is not a number");
        Pair pair{PairSetup{}};
        pair.camera2.parameters[CAM_C] = std::nan("");
        RunAndExpectCleanFailure(pair);
    }
}

TEST(RelativeOrientationFailure, CandidatesWhoseTriangulationIntersectsNothingNeverWin)
{
    // With the first image disabled the triangulation of every candidate
    // intersects no point (RMS -1): no candidate may be chosen.
    Pair pair{PairSetup{}};
    pair.image1.enabled = false;
    RunAndExpectCleanFailure(pair);
}
