#include "Intersection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <limits>

#include "Camera.h"
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

// A copy of the true point, placed elsewhere, with its rays indexed.
CObjectPoint UnknownPoint(const CSyntheticScene& scene, int i)
{
    CObjectPoint point(*scene.truth.GetAt(i));
    point.x = point.y = point.z = 0.0;
    scene.IndexRays(point);
    return point;
}

double Distance(const CObjectPoint& a, const CObjectPoint& b)
{
    return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) + (a.z - b.z) * (a.z - b.z));
}

CImageObservation& Ray(CSyntheticScene& scene, const CObjectPoint& point, int image)
{
    return *scene.images.GetAt(image)->targets.GetAt(point.observationIndex[image]);
}

TEST(IntersectionTest, RecoversPointsWithoutNoise)
{
    SceneOptions options;
    options.transformation = true;
    for (unsigned seed = 1; seed <= 5; ++seed) {
        CSyntheticScene scene(options, seed);
        CProjectSettings settings;
        for (int i = 0; i < scene.truth.GetSize(); ++i) {
            CObjectPoint point = UnknownPoint(scene, i);
            double rms = -1.0;
            ASSERT_TRUE(CAdjustmentEngine::IntersectPoint(rms, point, scene.images, scene.cameras, settings, 0));
            EXPECT_LT(Distance(point, *scene.truth.GetAt(i)), 1e-9 * scene.ObjectSize()) << seed << " " << i;
            EXPECT_EQ(point.usedRayCount, options.images);
            EXPECT_FALSE(point.unsolved);
            EXPECT_LT(rms, 1e-9);
        }
    }
}

TEST(IntersectionTest, StandardErrorsAgreeWithTheNoise)
{
    // Normalised errors e / (sigma_reported * noise / s0) follow N(0, 1), and
    // s0^2 / noise^2 averages 1: together the reported standard errors match.
    SceneOptions options;
    options.noise = 0.0005;
    options.points = 25;
    double sumSquares[3] = {0.0, 0.0, 0.0}, sum[3] = {0.0, 0.0, 0.0}, varianceFactor = 0.0;
    int points = 0, redundancy = 0;
    for (unsigned seed = 100; seed < 140; ++seed) {
        CSyntheticScene scene(options, seed);
        CProjectSettings settings;
        for (int i = 0; i < scene.truth.GetSize(); ++i) {
            CObjectPoint point = UnknownPoint(scene, i);
            double rms = 0.0;
            ASSERT_TRUE(CAdjustmentEngine::IntersectPoint(rms, point, scene.images, scene.cameras, settings, 0));
            const int equations = 2 * point.usedRayCount;
            const double s0 = rms * std::sqrt(double(equations) / (equations - 3));
            const CObjectPoint& truth = *scene.truth.GetAt(i);
            const double errors[3] = {point.x - truth.x, point.y - truth.y, point.z - truth.z};
            for (int k = 0; k < 3; ++k) {
                const double sigma = std::sqrt(point.covariance.GetAt(k, k));
                ASSERT_GT(sigma, 0.0);
                const double z = errors[k] / (sigma * options.noise / s0);
                sum[k] += z;
                sumSquares[k] += z * z;
            }
            varianceFactor += (s0 * s0) / (options.noise * options.noise);
            redundancy = equations - 3;
            ++points;
        }
    }
    for (int k = 0; k < 3; ++k) {
        EXPECT_NEAR(std::sqrt(sumSquares[k] / points), 1.0, 4.0 / std::sqrt(2.0 * points)) << k;
        EXPECT_NEAR(sum[k] / points, 0.0, 4.0 / std::sqrt(points)) << k;
    }
    EXPECT_NEAR(varianceFactor / points, 1.0, 4.0 * std::sqrt(2.0 / (redundancy * points)));
}

TEST(IntersectionTest, GrossErrorIsRejectedAndTheResultIsThatWithoutTheRay)
{
    SceneOptions options;
    options.noise = 0.0005;
    options.images = 5;
    CSyntheticScene scene(options, 7);
    CProjectSettings settings;
    for (int i = 0; i < 10; ++i) {
        const int bad = i % options.images;
        CObjectPoint point = UnknownPoint(scene, i);
        Ray(scene, point, bad).x += 2.0;

        CObjectPoint without = UnknownPoint(scene, i);
        without.observationIndex[bad] = -1;
        double rms = 0.0, rmsWithout = 0.0;
        ASSERT_TRUE(CAdjustmentEngine::IntersectPoint(rmsWithout, without, scene.images, scene.cameras, settings, 0));
        ASSERT_TRUE(CAdjustmentEngine::IntersectPoint(rms, point, scene.images, scene.cameras, settings, 0));
        EXPECT_TRUE(Ray(scene, point, bad).rejected);
        EXPECT_EQ(point.usedRayCount, options.images - 1);
        EXPECT_LT(Distance(point, without), 1e-9 * scene.ObjectSize());
        EXPECT_NEAR(rms, rmsWithout, 1e-9);
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(point.covariance.GetAt(k, k), without.covariance.GetAt(k, k),
                        1e-6 * without.covariance.GetAt(k, k));
    }
}

TEST(IntersectionTest, RejectionRulesOnFewRays)
{
    SceneOptions options;
    options.images = 3;
    CSyntheticScene scene(options, 9);
    CProjectSettings settings; // rejection limit 0.1 mm

    // Three rays, one 0.5 mm off: it goes, the start value is taken anew from
    // the other two and the point converges on them.
    CObjectPoint point = UnknownPoint(scene, 0);
    Ray(scene, point, 1).y += 0.5;
    double rms = 0.0;
    ASSERT_TRUE(CAdjustmentEngine::IntersectPoint(rms, point, scene.images, scene.cameras, settings, 0));
    EXPECT_TRUE(Ray(scene, point, 1).rejected);
    EXPECT_EQ(point.usedRayCount, 2);
    EXPECT_LT(Distance(point, *scene.truth.GetAt(0)), 1e-9 * scene.ObjectSize());

    // Two rays, one off: rejecting it would leave one ray, so the point fails
    // and keeps its entry coordinates.
    CObjectPoint pair = UnknownPoint(scene, 1);
    pair.observationIndex[2] = -1;
    Ray(scene, pair, 0).x += 0.5;
    pair.x = 1.0;
    pair.y = 2.0;
    pair.z = 3.0;
    EXPECT_FALSE(CAdjustmentEngine::IntersectPoint(rms, pair, scene.images, scene.cameras, settings, 0));
    EXPECT_TRUE(pair.unsolved);
    EXPECT_EQ(pair.x, 1.0);
    EXPECT_EQ(pair.y, 2.0);
    EXPECT_EQ(pair.z, 3.0);

    // One ray: no start value.
    CObjectPoint single = UnknownPoint(scene, 2);
    single.observationIndex[1] = single.observationIndex[2] = -1;
    EXPECT_FALSE(CAdjustmentEngine::IntersectPoint(rms, single, scene.images, scene.cameras, settings, 0));
    EXPECT_TRUE(single.unsolved);
}

TEST(IntersectionTest, OfTwoEqualWorstRaysTheEarlierImageGoesFirst)
{
    // Images 0 and 1 are the same picture with the same 1 mm error, so their
    // residuals are equal. Asking for as many equations as the six rays give
    // ends the intersection at the first pass after the first rejection, so
    // only the ray rejected first is marked.
    SceneOptions options;
    CSyntheticScene scene(options, 23);
    scene.images.GetAt(1)->CopyFrom(*scene.images.GetAt(0));
    CProjectSettings settings;
    settings.minimumRays = 2 * options.images;
    CObjectPoint point = UnknownPoint(scene, 0);
    Ray(scene, point, 0).x += 1.0;
    Ray(scene, point, 1).x += 1.0;
    double rms = 0.0;
    EXPECT_FALSE(CAdjustmentEngine::IntersectPoint(rms, point, scene.images, scene.cameras, settings, 0));
    EXPECT_TRUE(Ray(scene, point, 0).rejected);
    EXPECT_FALSE(Ray(scene, point, 1).rejected);
    EXPECT_FALSE(point.unsolved);
}

// The passes use the rays of enabled images only, as the start value does: a
// disabled image's ray, however far off, neither moves the point nor is
// rejected.
TEST(IntersectionTest, RaysOfDisabledImagesTakeNoPart)
{
    SceneOptions options;
    CSyntheticScene scene(options, 29);
    CProjectSettings settings;
    for (double error : {0.05, 5.0}) {
        scene.images.GetAt(2)->enabled = false;
        CObjectPoint point = UnknownPoint(scene, 4);
        Ray(scene, point, 2).x += error;
        double rms = 0.0;
        ASSERT_TRUE(CAdjustmentEngine::IntersectPoint(rms, point, scene.images, scene.cameras, settings, 0));
        const CObjectPoint& truth = *scene.truth.GetAt(4);
        EXPECT_LT(std::hypot(point.x - truth.x, std::hypot(point.y - truth.y, point.z - truth.z)),
                  1e-9 * scene.ObjectSize())
            << error;
        EXPECT_EQ(point.usedRayCount, options.images - 1) << error;
        EXPECT_FALSE(Ray(scene, point, 2).rejected) << error;
        Ray(scene, point, 2).x -= error;
    }
}

TEST(IntersectionTest, LaterPassesKeepTheCoordinatesAndRefreshTheRays)
{
    SceneOptions options;
    options.noise = 0.0005;
    CSyntheticScene scene(options, 11);
    CProjectSettings settings;
    CObjectPoint point = UnknownPoint(scene, 3);
    const CObjectPoint& truth = *scene.truth.GetAt(3);
    point.x = truth.x + 0.3;
    point.y = truth.y;
    point.z = truth.z;
    point.SetSigmas(1.0, 1.0, 1.0);
    Ray(scene, point, 2).x += 2.0;
    double rms = 0.0;
    ASSERT_TRUE(CAdjustmentEngine::IntersectPoint(rms, point, scene.images, scene.cameras, settings, 1));
    EXPECT_EQ(point.x, truth.x + 0.3);
    EXPECT_EQ(point.y, truth.y);
    EXPECT_EQ(point.z, truth.z);
    EXPECT_TRUE(Ray(scene, point, 2).rejected);
    EXPECT_EQ(point.usedRayCount, options.images - 1);
    EXPECT_EQ(point.covariance.GetAt(0, 0), 0.0);
    EXPECT_EQ(point.covariance.GetAt(2, 2), 0.0);
    EXPECT_GT(std::fabs(Ray(scene, point, 0).vx) + std::fabs(Ray(scene, point, 0).vy), 0.0);

    // An updated point keeps its coordinates after pass 0 but gets sigmas.
    CObjectPoint updated = UnknownPoint(scene, 4);
    updated.updated = true;
    updated.x = 5.0;
    ASSERT_TRUE(CAdjustmentEngine::IntersectPoint(rms, updated, scene.images, scene.cameras, settings, 0));
    EXPECT_EQ(updated.x, 5.0);
    EXPECT_GT(updated.covariance.GetAt(0, 0), 0.0);
}

TEST(IntersectionTest, TwoRaysAtTwentyMetresPassTheScaledDeterminantTest)
{
    // A 24 mm lens and two rays to a point 20 m away: the determinant of the
    // plain normal matrix is far below the factorisation's 1e-16.
    SceneOptions options;
    options.images = 2;
    options.minDistance = options.maxDistance = 20000.0;
    options.noise = 0.0005;
    CSyntheticScene scene(options, 13);
    CProjectSettings settings;
    CObjectPoint point = UnknownPoint(scene, 0);
    const CObjectPoint& truth = *scene.truth.GetAt(0);

    CMatrix normal(4, -1), block(2, 4);
    for (int k = 0; k < 2; ++k) {
        ASSERT_TRUE(CAdjustmentEngine::FormRayEquations(truth, *scene.images.GetAt(k), scene.cameras,
                                                        Ray(scene, point, k), block));
        normal.AddAtA(block, 1);
    }
    const double determinant = normal.GetAt(0, 0) * (normal.GetAt(1, 1) * normal.GetAt(2, 2) -
                                                     normal.GetAt(1, 2) * normal.GetAt(1, 2)) -
                               normal.GetAt(0, 1) * (normal.GetAt(0, 1) * normal.GetAt(2, 2) -
                                                     normal.GetAt(1, 2) * normal.GetAt(0, 2)) +
                               normal.GetAt(0, 2) * (normal.GetAt(0, 1) * normal.GetAt(1, 2) -
                                                     normal.GetAt(1, 1) * normal.GetAt(0, 2));
    EXPECT_LT(determinant, 1e-16);
    CMatrix plain(normal);
    EXPECT_FALSE(plain.CholeskyDecompose());

    double rms = 0.0;
    ASSERT_TRUE(CAdjustmentEngine::IntersectPoint(rms, point, scene.images, scene.cameras, settings, 0));
    EXPECT_LT(Distance(point, truth), 1.0); // noise of 0.5 um at 20 m with a 24 mm lens
    EXPECT_GT(point.covariance.GetAt(0, 0), 0.0);
}

TEST(IntersectionTest, NonFiniteNumbersEndThePointAsFailure)
{
    SceneOptions options;
    CSyntheticScene scene(options, 15);
    CProjectSettings settings;
    double rms = 0.0;

    std::feclearexcept(FE_ALL_EXCEPT);
    CObjectPoint point = UnknownPoint(scene, 0);
    scene.images.GetAt(1)->X = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(CAdjustmentEngine::IntersectPoint(rms, point, scene.images, scene.cameras, settings, 0));
    EXPECT_TRUE(point.unsolved);
    EXPECT_TRUE(std::isfinite(point.x));
    EXPECT_FALSE(FaultFlagRaised());

    // A later pass from coordinates that are not numbers.
    CSyntheticScene clean(options, 15);
    CObjectPoint held = UnknownPoint(clean, 0);
    held.x = std::numeric_limits<double>::infinity();
    EXPECT_FALSE(CAdjustmentEngine::IntersectPoint(rms, held, clean.images, clean.cameras, settings, 1));
    EXPECT_TRUE(held.unsolved);
    EXPECT_FALSE(FaultFlagRaised());

    // All rays from one station: singular.
    CSyntheticScene same(options, 15);
    for (int k = 1; k < same.images.GetSize(); ++k) {
        CProjectImage& image = *same.images.GetAt(k);
        image.CopyFrom(*same.images.GetAt(0));
    }
    CObjectPoint parallel = UnknownPoint(same, 0);
    EXPECT_FALSE(CAdjustmentEngine::IntersectPoint(rms, parallel, same.images, same.cameras, settings, 0));
    EXPECT_TRUE(parallel.unsolved);
    EXPECT_FALSE(FaultFlagRaised());
}

TEST(IntersectionTest, StartValueForAPointAtTheOrigin)
{
    // Two cameras without distortion side by side, looking along +Y at the
    // coordinate origin: the right-hand side of the linear start system is
    // exactly zero there.
    CCameraList cameras;
    CCamera& camera = *cameras.AddNew();
    camera.identifier = "PLAIN";
    camera.parameters[CAM_C] = 25.0;
    CProjectImageList images;
    for (double x : {-1000.0, 1000.0}) {
        CProjectImage& image = *images.AddNew();
        image.SetCameraName("PLAIN");
        image.SetPose(x, -10000.0, 0.0, 0.0, 0.0, 0.0);
        CNameBuffer label;
        label.Set("O");
        image.targets.AddSorted(CImageObservation(label, -25.0 * x / 10000.0, 0.0));
    }
    CObjectPoint point("O", 10.0, 20.0, 30.0);
    point.observationIndex.SetSize(2);
    point.observationIndex[0] = point.observationIndex[1] = 0;
    ASSERT_TRUE(CAdjustmentEngine::ApproximatePoint(point, images, cameras));
    EXPECT_LT(std::fabs(point.x) + std::fabs(point.y) + std::fabs(point.z), 1e-9);
    double rms = 0.0;
    CProjectSettings settings;
    EXPECT_TRUE(CAdjustmentEngine::IntersectPoint(rms, point, images, cameras, settings, 0));
}

TEST(IntersectionTest, TwoRays)
{
    SceneOptions options;
    options.transformation = true;
    CSyntheticScene scene(options, 19);
    const CProjectImage& first = *scene.images.GetAt(0);
    const CProjectImage& second = *scene.images.GetAt(1);
    for (int i = 0; i < scene.truth.GetSize(); ++i) {
        const CObjectPoint& truth = *scene.truth.GetAt(i);
        CObjectPoint point(truth.label);
        ASSERT_TRUE(IntersectTwoRays(point, first.targets.FindIndex(truth.label),
                                     second.targets.FindIndex(truth.label), first, second, scene.cameras, 1e-5));
        EXPECT_LT(Distance(point, truth), 1e-9 * scene.ObjectSize());
    }

    // Parallel rays, an angle below the minimum, a bad index: no change.
    const int index = first.targets.FindIndex(scene.truth.GetAt(0)->label);
    CObjectPoint point;
    point.x = 7.0;
    EXPECT_FALSE(IntersectTwoRays(point, index, index, first, first, scene.cameras, 1e-5));
    EXPECT_FALSE(IntersectTwoRays(point, index, second.targets.FindIndex(scene.truth.GetAt(0)->label), first,
                                  second, scene.cameras, 1.5));
    EXPECT_FALSE(IntersectTwoRays(point, index, 9999, first, second, scene.cameras, 1e-5));
    EXPECT_EQ(point.x, 7.0);

    // Rays that meet behind a camera.
    CProjectImage behind(second);
    const double a = second.GetAzimuth(), e = second.GetElevation(), r = second.GetRoll();
    const double look[3] = {-std::cos(e) * std::sin(a), std::cos(e) * std::cos(a), std::sin(e)};
    behind.SetPosition(second.X + 60000.0 * look[0], second.Y + 60000.0 * look[1], second.Z + 60000.0 * look[2]);
    behind.SetRotation(a, e, r);
    EXPECT_FALSE(IntersectTwoRays(point, index, second.targets.FindIndex(scene.truth.GetAt(0)->label), first,
                                  behind, scene.cameras, 1e-5));
}

TEST(IntersectionTest, ProjectionIntoImages)
{
    SceneOptions options;
    options.transformation = true;
    CSyntheticScene scene(options, 21);
    const CCamera& camera = *scene.cameras.GetAt(0);
    for (int k = 0; k < scene.images.GetSize(); ++k) {
        const CProjectImage& image = *scene.images.GetAt(k);
        for (int i = 0; i < scene.truth.GetSize(); ++i) {
            const CObjectPoint& truth = *scene.truth.GetAt(i);
            CImageObservation predicted;
            ASSERT_TRUE(ProjectPointToImage(truth, image, camera, predicted, 1.0));
            const CImageObservation* measured = image.targets.Find(truth.label);
            EXPECT_NEAR(predicted.x, measured->x, 2e-9);
            EXPECT_NEAR(predicted.y, measured->y, 2e-9);
        }
    }

    const CProjectImage& image = *scene.images.GetAt(0);
    CImageObservation result;
    // Behind the camera, and exactly level with it.
    CObjectPoint point;
    const double a = image.GetAzimuth(), e = image.GetElevation();
    const double look[3] = {-std::cos(e) * std::sin(a), std::cos(e) * std::cos(a), std::sin(e)};
    point.x = image.X - 1000.0 * look[0];
    point.y = image.Y - 1000.0 * look[1];
    point.z = image.Z - 1000.0 * look[2];
    EXPECT_FALSE(ProjectPointToImage(point, image, camera, result, 1.0));
    point.x = image.X;
    point.y = image.Y;
    point.z = image.Z;
    EXPECT_FALSE(ProjectPointToImage(point, image, camera, result, 1.0));
    // Outside a small part of the format.
    EXPECT_FALSE(ProjectPointToImage(*scene.truth.GetAt(0), image, camera, result, 1e-4));

    // A distortion that the fixed-point inverse cannot undo: failure, no loop.
    CCamera wild(camera);
    wild.parameters[CAM_K1] = 0.5;
    std::feclearexcept(FE_ALL_EXCEPT);
    EXPECT_FALSE(ProjectPointToImage(*scene.truth.GetAt(0), image, wild, result, 1.0));
    EXPECT_FALSE(FaultFlagRaised());
}

TEST(IntersectionTest, EveryRayKeepsItsOwnStationHoweverManyThereAre)
{
    // Ray counts that grow past one another and fall back: the rays and their
    // stations are kept per thread between intersections.
    const int imageCounts[] = {2, 3, 9, 33, 4, 17};
    for (const int images : imageCounts) {
        SceneOptions options;
        options.images = images;
        options.points = 4;
        options.transformation = true;
        CSyntheticScene scene(options, 40 + static_cast<unsigned>(images));
        CProjectSettings settings;
        for (int pass = 0; pass < 2; ++pass)
            for (int i = 0; i < scene.truth.GetSize(); ++i) {
                CObjectPoint point = UnknownPoint(scene, i);
                const CObjectPoint& truth = *scene.truth.GetAt(i);
                if (pass > 0) {
                    // A later pass starts from (and keeps) a point near the truth.
                    point.x = truth.x + 1e-4;
                    point.y = truth.y;
                    point.z = truth.z;
                }
                double rms = -1.0;
                ASSERT_TRUE(CAdjustmentEngine::IntersectPoint(rms, point, scene.images, scene.cameras, settings, pass))
                    << images << " " << pass << " " << i;
                EXPECT_EQ(point.usedRayCount, images) << images << " " << pass << " " << i;
                if (pass == 0) {
                    EXPECT_LT(Distance(point, truth), 1e-9 * scene.ObjectSize()) << images << " " << i;
                    EXPECT_LT(rms, 1e-9) << images << " " << i;
                } else {
                    // The residuals are those of the held point, which lies
                    // 1e-4 mm off the truth: well under a micrometre in the
                    // images, but not zero.
                    EXPECT_GT(rms, 0.0) << images << " " << i;
                    EXPECT_LT(rms, 1e-3) << images << " " << i;
                }
            }
    }
}

TEST(IntersectionTest, ALaterPassClearsTheCovarianceInTheShapeItIsKept)
{
    SceneOptions options;
    CSyntheticScene scene(options, 12);
    CProjectSettings settings;
    struct Shape {
        int rows, cols; // cols -1: packed symmetric
    };
    const Shape shapes[] = {{3, -1}, {3, 3}, {4, -1}, {4, 4}};
    for (const Shape& shape : shapes) {
        CObjectPoint point = UnknownPoint(scene, 1);
        const CObjectPoint& truth = *scene.truth.GetAt(1);
        point.x = truth.x;
        point.y = truth.y;
        point.z = truth.z;
        point.covariance.Resize(shape.rows, shape.cols);
        for (int r = 0; r < shape.rows; ++r)
            for (int c = shape.cols < 0 ? r : 0; c < (shape.cols < 0 ? shape.rows : shape.cols); ++c)
                point.covariance.SetAt(1.0 + r + 10.0 * c, r, c);
        double rms = -1.0;
        ASSERT_TRUE(CAdjustmentEngine::IntersectPoint(rms, point, scene.images, scene.cameras, settings, 1))
            << shape.rows << " " << shape.cols;
        const int n = std::min(3, shape.rows);
        for (int r = 0; r < n; ++r)
            for (int c = 0; c < n; ++c)
                EXPECT_EQ(point.covariance.GetAt(r, c), 0.0) << shape.rows << " " << shape.cols << " " << r << c;
        // Beyond the coordinates' block nothing changes.
        for (int r = 3; r < shape.rows; ++r)
            EXPECT_EQ(point.covariance.GetAt(r, r), 1.0 + r + 10.0 * r) << shape.rows << " " << r;
    }
}

} // namespace
