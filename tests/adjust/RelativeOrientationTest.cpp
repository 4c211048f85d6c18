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
