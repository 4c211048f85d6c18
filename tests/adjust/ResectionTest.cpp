#include "Resection.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>

#include "AdjustmentSummary.h"
#include "Matrix.h"
#include "ObjectPoint.h"
#include "ProjectImageList.h"
#include "ProjectSettings.h"
#include "SyntheticScene.h"

namespace {

bool FaultFlagRaised()
{
    return std::fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW) != 0;
}

// The image as it comes before any orientation: station at the origin, no rotation.
CProjectImage Unoriented(const CProjectImage& image)
{
    CProjectImage copy(image);
    copy.SetPosition(0.0, 0.0, 0.0);
    copy.rotation.Zero();
    copy.oriented = false;
    return copy;
}

double StationError(const CProjectImage& image, const SyntheticPose& pose)
{
    return std::sqrt((image.X - pose.X) * (image.X - pose.X) + (image.Y - pose.Y) * (image.Y - pose.Y) +
                     (image.Z - pose.Z) * (image.Z - pose.Z));
}

double RotationError(const CProjectImage& image, const SyntheticPose& pose)
{
    double largest = 0.0;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            largest = std::fmax(largest, std::fabs(image.rotation.GetAt(i, j) - pose.R[i][j]));
    return largest;
}

double AngleDifference(double a, double b)
{
    return std::atan2(std::sin(a - b), std::cos(a - b));
}

SceneOptions ResectionScene()
{
    SceneOptions options;
    options.points = 12;
    options.fieldSize = 4000.0;
    return options;
}

// A wide field that fills much of the format.
SceneOptions WideScene(int points)
{
    SceneOptions options;
    options.points = points;
    options.fieldSize = 8000.0;
    options.minDistance = 16000.0;
    options.maxDistance = 20000.0;
    options.noise = 0.0005;
    return options;
}

TEST(ResectionTest, ResectImageRecoversPosesWithoutNoise)
{
    SceneOptions options = ResectionScene();
    options.transformation = true;
    int resected = 0;
    for (unsigned seed = 1; seed <= 8; ++seed) {
        CSyntheticScene scene(options, seed);
        CProjectSettings settings;
        for (int k = 0; k < scene.images.GetSize(); ++k) {
            CProjectImage image = Unoriented(*scene.images.GetAt(k));
            CAdjustmentSummary result;
            ASSERT_TRUE(ResectImage(image, *scene.cameras.GetAt(0), scene.truth, settings, result))
                << seed << " " << k << " status " << result.status;
            EXPECT_EQ(result.status, kResectionSuccess);
            EXPECT_EQ(result.usedPoints, options.points);
            EXPECT_LT(StationError(image, scene.poses[k]), 1e-9 * scene.ObjectSize()) << seed << " " << k;
            EXPECT_LT(RotationError(image, scene.poses[k]), 1e-11) << seed << " " << k;
            // The observations of the real image are untouched.
            for (int i = 0; i < image.targets.GetSize(); ++i) {
                EXPECT_EQ(image.targets.GetAt(i)->vx, 0.0);
                EXPECT_FALSE(image.targets.GetAt(i)->rejected);
            }
            ++resected;
        }
    }
    EXPECT_EQ(resected, 8 * options.images);
}

TEST(ResectionTest, CovarianceAgreesWithTheNoise)
{
    SceneOptions options = ResectionScene();
    options.noise = 0.0005;
    options.points = 15;
    double sumSquares[6] = {0, 0, 0, 0, 0, 0};
    double varianceFactor = 0.0, chiSquare = 0.0;
    int images = 0, redundancy = 0;
    for (unsigned seed = 200; seed < 260; ++seed) {
        CSyntheticScene scene(options, seed);
        CProjectSettings settings;
        for (int k = 0; k < scene.images.GetSize(); ++k) {
            const SyntheticPose& pose = scene.poses[k];
            CProjectImage image = Unoriented(*scene.images.GetAt(k));
            image.SetPosition(pose.X + 150.0, pose.Y - 100.0, pose.Z + 80.0);
            CAdjustmentSummary result;
            RefineResection(image, *scene.cameras.GetAt(0), scene.truth, settings, result);
            ASSERT_EQ(result.status, kResectionSuccess);
            const int equations = 2 * result.usedPoints;
            const double s0 = result.rms / 1000.0 * std::sqrt(double(equations) / (equations - 6));
            const double errors[6] = {image.X - pose.X,
                                      image.Y - pose.Y,
                                      image.Z - pose.Z,
                                      AngleDifference(image.GetAzimuth(), pose.azimuth),
                                      AngleDifference(image.GetElevation(), pose.elevation),
                                      AngleDifference(image.GetRoll(), pose.roll)};
            for (int j = 0; j < 6; ++j) {
                const double sigma = std::sqrt(image.covariance.GetAt(j, j));
                ASSERT_GT(sigma, 0.0);
                const double z = errors[j] / (sigma * options.noise / s0);
                sumSquares[j] += z * z;
            }
            CMatrix weight(image.covariance);
            ASSERT_TRUE(weight.InvertSymmetric(false));
            double form = 0.0;
            for (int i = 0; i < 6; ++i)
                for (int j = 0; j < 6; ++j)
                    form += errors[i] * weight.GetAt(i, j) * errors[j];
            chiSquare += form * s0 * s0 / (options.noise * options.noise);
            varianceFactor += s0 * s0 / (options.noise * options.noise);
            redundancy = equations - 6;
            ++images;
        }
    }
    for (int j = 0; j < 6; ++j)
        EXPECT_NEAR(std::sqrt(sumSquares[j] / images), 1.0, 4.0 / std::sqrt(2.0 * images)) << j;
    // e' C^-1 e, with C the covariance for the true noise, is chi-square
    // with six degrees of freedom.
    EXPECT_NEAR(chiSquare / images, 6.0, 4.0 * std::sqrt(12.0 / images));
    EXPECT_NEAR(varianceFactor / images, 1.0, 4.0 * std::sqrt(2.0 / (redundancy * images)));
}

TEST(ResectionTest, GrossErrorIsRejectedAndTheResultIsThatWithoutTheRay)
{
    const SceneOptions options = WideScene(25);
    CSyntheticScene scene(options, 31);
    CProjectSettings settings; // rejection limit 1.5 mm
    for (int k = 0; k < scene.images.GetSize(); ++k) {
        CProjectImage image = Unoriented(*scene.images.GetAt(k));
        const int bad = (3 * k) % options.points;
        CProjectImage without(image);
        without.targets.GetAt(bad)->disabled = true;
        image.targets.GetAt(bad)->y -= 2.0;

        CAdjustmentSummary result, resultWithout;
        ASSERT_TRUE(ResectImage(image, *scene.cameras.GetAt(0), scene.truth, settings, result));
        ASSERT_TRUE(ResectImage(without, *scene.cameras.GetAt(0), scene.truth, settings, resultWithout));
        EXPECT_EQ(result.usedPoints, options.points - 1) << k;
        EXPECT_NEAR(result.rms, resultWithout.rms, 1e-6);
        EXPECT_LT(std::sqrt((image.X - without.X) * (image.X - without.X) +
                            (image.Y - without.Y) * (image.Y - without.Y) +
                            (image.Z - without.Z) * (image.Z - without.Z)),
                  1e-9 * scene.ObjectSize());

        // The refinement alone marks the ray rejected on the image it works on.
        CProjectImage refined(image);
        RefineResection(refined, *scene.cameras.GetAt(0), scene.truth, settings, result);
        EXPECT_EQ(result.status, kResectionSuccess);
        EXPECT_TRUE(refined.targets.GetAt(bad)->rejected);
    }
}

TEST(ResectionTest, OneBadRayAmongEight)
{
    // A ray whose residual stays above the limit after the fit: rejected,
    // and the refinement converges again on seven points.
    const SceneOptions options = WideScene(8);
    CSyntheticScene scene(options, 33);
    CProjectSettings settings;
    CProjectImage image(*scene.images.GetAt(0));
    image.targets.GetAt(5)->x += 4.0;
    CAdjustmentSummary result;
    RefineResection(image, *scene.cameras.GetAt(0), scene.truth, settings, result);
    EXPECT_EQ(result.status, kResectionSuccess);
    EXPECT_EQ(result.usedPoints, 7);
    EXPECT_TRUE(image.targets.GetAt(5)->rejected);
    EXPECT_GT(std::fabs(image.targets.GetAt(5)->vx), settings.resectionRejectionLimit);
    EXPECT_LT(StationError(image, scene.poses[0]), 5.0);
}

TEST(ResectionTest, OfTwoEqualWorstRaysTheEarlierGoesFirst)
{
    // P7 and P8 are one target observed twice with the same 3 mm error, so
    // their residuals are equal. The pass count runs on after a rejection: the
    // smallest iteration limit at which anything is rejected stops right after
    // the first rejection, which must be P7's.
    const SceneOptions options = WideScene(25);
    CSyntheticScene scene(options, 37);
    CObjectPoint& twin = *scene.truth.FindPointByText("P8");
    const CObjectPoint& original = *scene.truth.FindPointByText("P7");
    twin.x = original.x;
    twin.y = original.y;
    twin.z = original.z;
    CProjectImage base(*scene.images.GetAt(0));
    CImageObservation& a = *base.targets.FindByText("P7");
    CImageObservation& b = *base.targets.FindByText("P8");
    a.x += 3.0;
    b.x = a.x;
    b.y = a.y;
    base.SetPosition(scene.poses[0].X + 100.0, scene.poses[0].Y, scene.poses[0].Z);

    CProjectSettings settings;
    bool found = false;
    for (int limit = 1; limit <= 30 && !found; ++limit) {
        CProjectImage image(base);
        settings.resectionMaxIterations = limit;
        CAdjustmentSummary result;
        RefineResection(image, *scene.cameras.GetAt(0), scene.truth, settings, result);
        const bool first = image.targets.FindByText("P7")->rejected;
        const bool second = image.targets.FindByText("P8")->rejected;
        if (first || second) {
            found = true;
            EXPECT_TRUE(first);
            EXPECT_FALSE(second);
            EXPECT_EQ(result.status, kResectionIterationLimit);
        }
    }
    EXPECT_TRUE(found);
}

TEST(ResectionTest, RulesOnFewPointsAndIterationLimits)
{
    SceneOptions options = ResectionScene();
    options.points = 3;
    CSyntheticScene scene(options, 41);
    const CCamera& camera = *scene.cameras.GetAt(0);
    CProjectSettings settings;

    // Three points: six equations, s0 0 and so a zero covariance.
    CProjectImage three = Unoriented(*scene.images.GetAt(0));
    three.SetPosition(scene.poses[0].X + 200.0, scene.poses[0].Y, scene.poses[0].Z - 100.0);
    CAdjustmentSummary result;
    RefineResection(three, camera, scene.truth, settings, result);
    EXPECT_EQ(result.status, kResectionSuccess);
    EXPECT_EQ(result.usedPoints, 3);
    for (int j = 0; j < 6; ++j)
        EXPECT_EQ(three.covariance.GetAt(j, j), 0.0);

    // Two usable observations: only the status is written, from a station
    // with a rotation and from an image that was never oriented alike.
    for (const bool posed : {true, false}) {
        CProjectImage two = Unoriented(*scene.images.GetAt(1));
        two.targets.GetAt(2)->disabled = true;
        if (posed)
            two.SetPose(1.0, 2.0, 3.0, 0.1, 0.2, 0.3);
        const CProjectImage entry(two);
        result.rms = 123.0;
        result.usedPoints = 45;
        result.iterations = 67;
        std::feclearexcept(FE_ALL_EXCEPT);
        RefineResection(two, camera, scene.truth, settings, result);
        EXPECT_EQ(result.status, kResectionTooFewPoints) << posed;
        EXPECT_EQ(result.rms, 123.0) << posed;
        EXPECT_EQ(result.usedPoints, 45) << posed;
        EXPECT_EQ(result.iterations, 67) << posed;
        EXPECT_EQ(two.X, entry.X) << posed;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                EXPECT_EQ(two.rotation.GetAt(i, j), entry.rotation.GetAt(i, j)) << posed;
        EXPECT_FALSE(FaultFlagRaised()) << posed;
    }
    CProjectImage two = Unoriented(*scene.images.GetAt(1));
    two.targets.GetAt(2)->disabled = true;
    two.SetPose(1.0, 2.0, 3.0, 0.1, 0.2, 0.3);
    CAdjustmentSummary complete;
    const double entryX = two.X;
    EXPECT_FALSE(ResectImage(two, camera, scene.truth, settings, complete));
    EXPECT_EQ(complete.status, kResectionTooFewPoints);
    EXPECT_EQ(two.X, entryX);

    // One pass allowed: the iteration limit, and the entry orientation back.
    CSyntheticScene more(ResectionScene(), 43);
    CProjectImage limited(*more.images.GetAt(0));
    limited.SetPose(more.poses[0].X + 300.0, more.poses[0].Y, more.poses[0].Z, 0.5, 0.1, -0.2);
    settings.resectionMaxIterations = 1;
    RefineResection(limited, *more.cameras.GetAt(0), more.truth, settings, result);
    EXPECT_EQ(result.status, kResectionIterationLimit);
    EXPECT_EQ(result.iterations, 1);
    EXPECT_EQ(limited.X, more.poses[0].X + 300.0);
    EXPECT_NEAR(limited.GetAzimuth(), 0.5, 1e-12);
    EXPECT_NEAR(limited.GetElevation(), 0.1, 1e-12);
    EXPECT_NEAR(limited.GetRoll(), -0.2, 1e-12);
}

TEST(ResectionTest, PointsOnOneRayDivergeWithoutNotANumber)
{
    SceneOptions options = ResectionScene();
    options.points = 6;
    CSyntheticScene scene(options, 51);
    const SyntheticPose& pose = scene.poses[0];
    // Move every control point onto the ray of the first one.
    const CObjectPoint& first = *scene.truth.GetAt(0);
    const double d[3] = {first.x - pose.X, first.y - pose.Y, first.z - pose.Z};
    CPointSet onRay;
    for (int i = 0; i < scene.truth.GetSize(); ++i) {
        CObjectPoint p(*scene.truth.GetAt(i));
        const double f = 0.8 + 0.1 * i;
        p.x = pose.X + f * d[0];
        p.y = pose.Y + f * d[1];
        p.z = pose.Z + f * d[2];
        onRay.AddPointSorted(p);
    }
    CProjectImage image(*scene.images.GetAt(0));
    const double x0 = image.targets.GetAt(0)->x, y0 = image.targets.GetAt(0)->y;
    for (int i = 0; i < image.targets.GetSize(); ++i)
        image.targets.GetAt(i)->SetXY(x0, y0);
    image.SetPosition(pose.X + 500.0, pose.Y, pose.Z);
    const double entryX = image.X;

    std::feclearexcept(FE_ALL_EXCEPT);
    CProjectSettings settings;
    CAdjustmentSummary result;
    RefineResection(image, *scene.cameras.GetAt(0), onRay, settings, result);
    EXPECT_EQ(result.status, kResectionDiverged);
    EXPECT_EQ(image.X, entryX);
    EXPECT_TRUE(std::isfinite(result.rms));
    EXPECT_FALSE(FaultFlagRaised());

    CProjectImage unoriented = Unoriented(*scene.images.GetAt(0));
    for (int i = 0; i < unoriented.targets.GetSize(); ++i)
        unoriented.targets.GetAt(i)->SetXY(x0, y0);
    EXPECT_FALSE(ResectImage(unoriented, *scene.cameras.GetAt(0), onRay, settings, result));
    EXPECT_TRUE(result.status == kResectionFailed || result.status == kResectionTooFewPoints);
    EXPECT_EQ(unoriented.X, 0.0);
    EXPECT_FALSE(FaultFlagRaised());
}

TEST(ResectionTest, RayEquationsMatchDifferencesOfTheResiduals)
{
    CSyntheticScene scene(ResectionScene(), 71);
    CProjectImage image(*scene.images.GetAt(0));
    image.SetPose(image.X + 40.0, image.Y - 25.0, image.Z + 10.0, image.GetAzimuth() + 0.01,
                  image.GetElevation() - 0.02, image.GetRoll() + 0.015);
    const CCamera& camera = *scene.cameras.GetAt(0);
    CImageObservation observation(*image.targets.GetAt(0));
    const CObjectPoint& point = *scene.truth.FindPoint(observation.label);
    CMatrix block(2, 7);
    ASSERT_TRUE(FormResectionRayEquations(image, camera, observation, point, block));
    EXPECT_EQ(observation.vx, block.GetAt(0, 6));
    EXPECT_EQ(observation.vy, block.GetAt(1, 6));
    const double steps[6] = {1e-3, 1e-3, 1e-3, 1e-7, 1e-7, 1e-7};
    for (int j = 0; j < 6; ++j) {
        double residual[2][2];
        for (int side = 0; side < 2; ++side) {
            CProjectImage moved(image);
            double p[6] = {image.X, image.Y, image.Z, image.GetAzimuth(), image.GetElevation(), image.GetRoll()};
            p[j] += side ? steps[j] : -steps[j];
            moved.SetPose(p[0], p[1], p[2], p[3], p[4], p[5]);
            CMatrix other(2, 7);
            CImageObservation copy(observation);
            ASSERT_TRUE(FormResectionRayEquations(moved, camera, copy, point, other));
            residual[side][0] = other.GetAt(0, 6);
            residual[side][1] = other.GetAt(1, 6);
        }
        for (int r = 0; r < 2; ++r) {
            const double numeric = (residual[1][r] - residual[0][r]) / (2.0 * steps[j]);
            EXPECT_NEAR(block.GetAt(r, j), numeric, 1e-6 * (std::fabs(numeric) + 1e-3)) << j << " " << r;
        }
    }
}

} // namespace
