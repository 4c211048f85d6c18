#include "ClosedFormResection.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <cstdio>
#include <utility>

#include "ObjectPoint.h"
#include "ProjectImageList.h"
#include "Quartic.h"
#include "SyntheticScene.h"
#include "ThreePointGeometry.h"
#include "Vector.h"

namespace {

CNameBuffer Label(const char* text)
{
    CNameBuffer label;
    label.Set(text);
    return label;
}

TEST(ClosedFormResectionTest, KeptRootsGiveTheTruePose)
{
    // For the chosen triple the true t is a root of the quartic; whenever it is
    // one of the two roots nearest -c, that candidate is the true station.
    SceneOptions options;
    options.points = 10;
    options.fieldSize = 5000.0;
    options.transformation = true;
    int kept = 0, trials = 0;
    for (unsigned seed = 1; seed <= 30; ++seed) {
        CSyntheticScene scene(options, seed);
        const CCamera& camera = *scene.cameras.GetAt(0);
        const double c = camera.parameters[CAM_C];
        for (int k = 0; k < scene.images.GetSize(); ++k) {
            CProjectImage& image = *scene.images.GetAt(k);
            const SyntheticPose& pose = scene.poses[k];
            short triple[3];
            ASSERT_TRUE(ChooseResectionTriple(image, triple, scene.truth));

            // Rays and the true ray factors from the true pose.
            double rays[3][3], object[3][3], depth[3];
            for (int i = 0; i < 3; ++i) {
                const CObjectPoint& p = *scene.truth.FindPoint(image.targets.GetAt(triple[i])->label);
                const double d[3] = {p.x - pose.X, p.y - pose.Y, p.z - pose.Z};
                double u[3];
                for (int r = 0; r < 3; ++r)
                    u[r] = pose.R[r][0] * d[0] + pose.R[r][1] * d[1] + pose.R[r][2] * d[2];
                depth[i] = u[2];
                rays[i][0] = -c * u[0] / u[2];
                rays[i][1] = -c * u[1] / u[2];
                rays[i][2] = -c;
                object[i][0] = p.x;
                object[i][1] = p.y;
                object[i][2] = p.z;
            }
            const double t = -c * depth[1] / depth[0];
            double coefficients[4], roots[4];
            ASSERT_TRUE(FormResectionQuartic(rays, object, c, coefficients));
            const int count = SolveQuartic(coefficients, roots);
            for (int i = 0; i < count; ++i)
                for (int j = 0; j + 1 < count - i; ++j)
                    if (std::fabs(roots[j + 1] + c) < std::fabs(roots[j] + c))
                        std::swap(roots[j], roots[j + 1]);
            int match = -1;
            for (int i = 0; i < count && i < 2; ++i)
                if (std::fabs(roots[i] - t) < 1e-6 * std::fabs(t))
                    match = i;

            CVector solutions;
            ASSERT_EQ(SolveClosedFormResection(image, camera, scene.truth, solutions), kClosedFormSuccess);
            ASSERT_EQ(solutions.GetSize(), 12);
            for (int i = 0; i < 12; ++i)
                EXPECT_TRUE(std::isfinite(solutions[i]));
            ++trials;
            if (match < 0)
                continue;
            ++kept;
            const double* station = &solutions[6 * match];
            const double error = std::sqrt((station[0] - pose.X) * (station[0] - pose.X) +
                                           (station[1] - pose.Y) * (station[1] - pose.Y) +
                                           (station[2] - pose.Z) * (station[2] - pose.Z));
            EXPECT_LT(error, 1e-7 * scene.ObjectSize()) << seed << " " << k;
        }
    }
    EXPECT_GT(kept, trials / 2);
}

// An image of observations at given positions, every label a point of the set.
struct TripleCase {
    CProjectImage image;
    CPointSet points;
    void Add(const char* label, double x, double y)
    {
        image.targets.AddSorted(CImageObservation(Label(label), x, y));
        points.AddPointSorted(CObjectPoint(label, x, y, 0.0));
    }
};

TEST(ClosedFormResectionTest, TripleChoice)
{
    // Ties go to the first triple in index order: A, B, C and A, B, D score alike.
    TripleCase tie;
    tie.Add("A", 0.0, 0.0);
    tie.Add("B", 5.0, 0.0);
    tie.Add("C", 0.0, 5.0);
    tie.Add("D", 0.0, 5.0);
    short triple[3];
    ASSERT_TRUE(ChooseResectionTriple(tie.image, triple, tie.points));
    EXPECT_EQ(triple[0], 0);
    EXPECT_EQ(triple[1], 1);
    EXPECT_EQ(triple[2], 2);

    // Only three usable observations: those, wherever they are in the list.
    TripleCase few;
    few.Add("A", 0.0, 0.0);
    few.Add("B", 1.0, 0.0);
    few.Add("C", 2.0, 3.0);
    few.Add("D", 7.0, 1.0);
    few.Add("E", -4.0, 2.0);
    few.image.targets.GetAt(0)->disabled = true;
    few.points.RemovePoint(Label("C"));
    ASSERT_TRUE(ChooseResectionTriple(few.image, triple, few.points));
    EXPECT_EQ(triple[0], 1);
    EXPECT_EQ(triple[1], 3);
    EXPECT_EQ(triple[2], 4);

    // Fewer than two usable observations.
    few.image.targets.GetAt(1)->disabled = true;
    few.image.targets.GetAt(3)->disabled = true;
    EXPECT_FALSE(ChooseResectionTriple(few.image, triple, few.points));

    // 50 usable observations are searched exhaustively; with 51 the farthest
    // from the image origin is always in the triple. An equilateral triangle
    // of radius 8 is the widest; the rest sit near angle 0, the farthest of
    // them at (9, 0).
    for (int n : {50, 51}) {
        TripleCase many;
        const double kPi = 3.14159265358979323846;
        for (int i = 0; i < n; ++i) {
            char label[16];
            std::snprintf(label, sizeof label, "Q%02d", i % 100);
            double x = 9.0, y = 0.0;
            if (i < 3) {
                x = 8.0 * std::cos(kPi / 2.0 + i * 2.0 * kPi / 3.0);
                y = 8.0 * std::sin(kPi / 2.0 + i * 2.0 * kPi / 3.0);
            } else if (i < n - 1) {
                const double angle = (-10.0 + 20.0 * i / n) * kPi / 180.0;
                x = 7.0 * std::cos(angle);
                y = 7.0 * std::sin(angle);
            }
            many.Add(label, x, y);
        }
        ASSERT_TRUE(ChooseResectionTriple(many.image, triple, many.points));
        if (n == 50) {
            EXPECT_EQ(triple[0], 0);
            EXPECT_EQ(triple[1], 1);
            EXPECT_EQ(triple[2], 2);
        } else {
            EXPECT_EQ(triple[0], n - 1);
        }
    }
}

TEST(ClosedFormResectionTest, FailureCodesAndNoNotANumber)
{
    SceneOptions options;
    options.points = 3;
    CSyntheticScene scene(options, 5);
    const CCamera& camera = *scene.cameras.GetAt(0);
    CProjectImage& image = *scene.images.GetAt(0);
    CVector solutions;
    std::feclearexcept(FE_ALL_EXCEPT);

    // Two observed points.
    CPointSet two(scene.truth);
    two.RemovePoint(scene.truth.GetAt(2)->label);
    EXPECT_EQ(SolveClosedFormResection(image, camera, two, solutions), kClosedFormTooFewPoints);

    // Collinear and coincident object points.
    CPointSet collinear(scene.truth);
    CObjectPoint& a = *collinear.GetAt(0);
    CObjectPoint& b = *collinear.GetAt(1);
    CObjectPoint& m = *collinear.GetAt(2);
    m.x = 0.25 * a.x + 0.75 * b.x;
    m.y = 0.25 * a.y + 0.75 * b.y;
    m.z = 0.25 * a.z + 0.75 * b.z;
    int code = SolveClosedFormResection(image, camera, collinear, solutions);
    EXPECT_TRUE(code == kClosedFormNoRoot || code == kClosedFormFitFailed || code == kClosedFormSuccess) << code;
    if (code == kClosedFormSuccess) {
        for (int i = 0; i < solutions.GetSize(); ++i)
            EXPECT_TRUE(std::isfinite(solutions[i]));
    }

    CPointSet coincident(scene.truth);
    for (int i = 1; i < 3; ++i) {
        coincident.GetAt(i)->x = coincident.GetAt(0)->x;
        coincident.GetAt(i)->y = coincident.GetAt(0)->y;
        coincident.GetAt(i)->z = coincident.GetAt(0)->z;
    }
    code = SolveClosedFormResection(image, camera, coincident, solutions);
    EXPECT_TRUE(code == kClosedFormNoRoot || code == kClosedFormFitFailed) << code;

    // Three observations at one image position.
    CProjectImage same(image);
    for (int i = 1; i < 3; ++i)
        same.targets.GetAt(i)->SetXY(same.targets.GetAt(0)->x, same.targets.GetAt(0)->y);
    code = SolveClosedFormResection(same, camera, scene.truth, solutions);
    EXPECT_TRUE(code == kClosedFormNoRoot || code == kClosedFormFitFailed || code == kClosedFormSuccess) << code;
    if (code == kClosedFormSuccess) {
        for (int i = 0; i < solutions.GetSize(); ++i)
            EXPECT_TRUE(std::isfinite(solutions[i]));
    }
    EXPECT_EQ(std::fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW), 0);
}

} // namespace
