#include "ImageTransform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "Camera.h"
#include "ImageObservation.h"
#include "Matrix.h"
#include "ProjectImage.h"
#include "Vector.h"

// Hand-computed cases, forward and back: identities, a quarter turn, and
// x' = 2x + 0.5y + 1, y' = -x + 3y - 2 at (1, 2), which is (4, 3).
TEST(ImageTransform, HandComputedCases)
{
    struct Case {
        bool affine;
        double a[6];
        double x, y, tx, ty;
    };
    const Case cases[] = {{true, {1, 0, 0, 0, 1, 0}, 3.25, -7.5, 3.25, -7.5},
                          {false, {1, 0, 0, 0}, 3.25, -7.5, 3.25, -7.5},
                          {false, {0, 1, 0, 0}, 1.0, 0.0, 0.0, -1.0},
                          {true, {2, 0.5, 1, -1, 3, -2}, 1.0, 2.0, 4.0, 3.0}};
    for (const Case& c : cases) {
        double x = c.x, y = c.y;
        (c.affine ? Affine2DForward : Similarity2DForward)(c.a, x, y);
        EXPECT_DOUBLE_EQ(x, c.tx);
        EXPECT_DOUBLE_EQ(y, c.ty);
        ASSERT_TRUE((c.affine ? Affine2DInverse : Similarity2DInverse)(c.a, x, y));
        EXPECT_NEAR(x, c.x, 1e-15);
        EXPECT_NEAR(y, c.y, 1e-15);
    }
}

TEST(ImageTransform, InverseUndoesForwardForRandomParameters)
{
    std::mt19937 gen(3);
    std::uniform_real_distribution<double> u(-2.0, 2.0);
    for (int n = 0; n < 500; ++n) {
        const double aff[6] = {1 + 0.1 * u(gen), 0.1 * u(gen), u(gen), 0.1 * u(gen), 1 + 0.1 * u(gen), u(gen)};
        const double sim[4] = {u(gen), u(gen), u(gen), u(gen)};
        const double x0 = 20 * u(gen), y0 = 20 * u(gen);
        double x = x0, y = y0;
        Affine2DForward(aff, x, y);
        ASSERT_TRUE(Affine2DInverse(aff, x, y));
        EXPECT_NEAR(x, x0, 1e-11);
        EXPECT_NEAR(y, y0, 1e-11);
        x = x0;
        y = y0;
        Similarity2DForward(sim, x, y);
        ASSERT_TRUE(Similarity2DInverse(sim, x, y));
        EXPECT_NEAR(x, x0, 1e-9);
        EXPECT_NEAR(y, y0, 1e-9);
    }
}

TEST(ImageTransform, SingularInverseIsRefusedAndLeavesThePoint)
{
    const double zeroAff[6] = {0, 0, 0, 0, 0, 0};
    const double flatAff[6] = {1, 2, 0, 2, 4, 0}; // rows dependent
    const double zeroSim[4] = {0, 0, 5, 5};
    double x = 1.5, y = 2.5;
    EXPECT_FALSE(Affine2DInverse(zeroAff, x, y));
    EXPECT_FALSE(Affine2DInverse(flatAff, x, y));
    EXPECT_FALSE(Similarity2DInverse(zeroSim, x, y));
    EXPECT_EQ(x, 1.5);
    EXPECT_EQ(y, 2.5);
}

// ---------------------------------------------------------------------------
// Fits from fiducial marks

namespace {

// Calibrated marks of a film camera: corners and edge midpoints of a frame.
const double kMarks[8][2] = {{-110, -110}, {110, 110}, {-110, 110}, {110, -110},
                             {0, 112}, {0, -112}, {-112, 0}, {112, 0}};
const char* kMarkLabels[8] = {"F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8"};

void AddMarks(CCamera& camera, int n)
{
    for (int i = 0; i < n; ++i)
        camera.fiducials.AddSorted(CImageObservation(CNameBuffer(kMarkLabels[i]), kMarks[i][0], kMarks[i][1]));
}

// Measures the first n marks through the forward transformation a.
void Measure(CProjectImage& image, int n, const double* a, bool affine)
{
    for (int i = 0; i < n; ++i) {
        double x = kMarks[i][0], y = kMarks[i][1];
        if (affine)
            Affine2DForward(a, x, y);
        else
            Similarity2DForward(a, x, y);
        image.fiducials.AddSorted(CImageObservation(CNameBuffer(kMarkLabels[i]), x, y));
    }
}

} // namespace

TEST(ImageTransformFit, RecoversExactAffineTransformations)
{
    std::mt19937 gen(23);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int marks : {3, 4, 8}) {
        for (int trial = 0; trial < 20; ++trial) {
            // Scanner frame: pixels of about 0.0125 mm, a small rotation and shear.
            const double a[6] = {80 + 2 * u(gen), 3 * u(gen), 5000 + 100 * u(gen),
                                 3 * u(gen), -80 + 2 * u(gen), 4500 + 100 * u(gen)};
            CCamera camera;
            AddMarks(camera, 8);
            CProjectImage image;
            Measure(image, marks, a, true);
            const double rms = FitAffine2D(image, camera);
            EXPECT_NEAR(rms, 0.0, 1e-6) << marks;
            ASSERT_EQ(image.transformation.GetSize(), 6);
            for (int i = 0; i < 6; ++i) EXPECT_NEAR(image.transformation[i], a[i], 1e-7 * (1 + std::fabs(a[i])));
            for (int i = 0; i < image.fiducials.GetSize(); ++i) {
                EXPECT_NEAR(image.fiducials.GetAt(i)->vx, 0.0, 1e-6);
                EXPECT_NEAR(image.fiducials.GetAt(i)->vy, 0.0, 1e-6);
            }
        }
    }
}

TEST(ImageTransformFit, RecoversExactSimilarityTransformations)
{
    std::mt19937 gen(29);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int marks : {2, 5}) {
        for (int trial = 0; trial < 20; ++trial) {
            const double scale = 1.0 + 0.01 * u(gen), angle = 3.0 * u(gen);
            const double a[4] = {scale * std::cos(angle), scale * std::sin(angle), 2 * u(gen), 2 * u(gen)};
            CCamera camera;
            AddMarks(camera, 8);
            CProjectImage image;
            Measure(image, marks, a, false);
            EXPECT_NEAR(FitSimilarity2D(image, camera), 0.0, 1e-8);
            ASSERT_EQ(image.transformation.GetSize(), 4);
            for (int i = 0; i < 4; ++i) EXPECT_NEAR(image.transformation[i], a[i], 1e-10);
        }
    }
}

TEST(ImageTransformFit, RedundantFitResidualsAndRms)
{
    // Identity similarity measured with one mark off by 0.01 in x.
    CCamera camera;
    AddMarks(camera, 8);
    CProjectImage image;
    const double id[4] = {1, 0, 0, 0};
    Measure(image, 4, id, false);
    image.fiducials.GetAt(0)->x += 0.01;
    double rms = FitSimilarity2D(image, camera);
    ASSERT_GT(rms, 0.0);
    // The RMS is the root of the residual sum over m - u = 8 - 4.
    double sum = 0.0;
    ASSERT_EQ(ComputeSimilarity2DResiduals(image, camera, sum), 4);
    EXPECT_NEAR(rms, std::sqrt(sum / 4.0), 1e-15);
    // Residuals are the transformed mark minus the measured point.
    for (int i = 0; i < 4; ++i) {
        const CImageObservation* o = image.fiducials.GetAt(i);
        const CImageObservation* m = camera.FindFiducial(o->label);
        double x = m->x, y = m->y;
        Similarity2DForward(image.transformation.GetData(), x, y);
        EXPECT_NEAR(o->vx, x - o->x, 1e-15);
        EXPECT_NEAR(o->vy, y - o->y, 1e-15);
    }
    // Least squares: the residuals are orthogonal to every column of the design.
    double sx = 0.0, sy = 0.0;
    for (int i = 0; i < 4; ++i) {
        sx += image.fiducials.GetAt(i)->vx;
        sy += image.fiducials.GetAt(i)->vy;
    }
    EXPECT_NEAR(sx, 0.0, 1e-12);
    EXPECT_NEAR(sy, 0.0, 1e-12);
}

TEST(ImageTransformFit, TooFewOrDegenerateMarksKeepThePreviousParameters)
{
    CCamera camera;
    AddMarks(camera, 8);
    const double id[6] = {1, 0, 0, 0, 1, 0};

    CProjectImage two;
    Measure(two, 2, id, true);
    two.transformation.Resize(6);
    for (int i = 0; i < 6; ++i) two.transformation[i] = 0.5 + i;
    EXPECT_EQ(FitAffine2D(two, camera), -1.0);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(two.transformation[i], 0.5 + i);
    EXPECT_GE(FitSimilarity2D(two, camera), 0.0); // two marks do for the similarity

    // Marks on one line: F1, F2 and a mark on their diagonal.
    CCamera line;
    line.fiducials.AddSorted(CImageObservation(CNameBuffer("F1"), -110, -110));
    line.fiducials.AddSorted(CImageObservation(CNameBuffer("F2"), 110, 110));
    line.fiducials.AddSorted(CImageObservation(CNameBuffer("F3"), 20, 20));
    line.fiducials.AddSorted(CImageObservation(CNameBuffer("F4"), 50, 50));
    CProjectImage flat;
    for (const char* l : {"F1", "F2", "F3", "F4"}) {
        const CImageObservation* m = line.FindFiducial(CNameBuffer(l));
        flat.fiducials.AddSorted(CImageObservation(CNameBuffer(l), m->x + 1, m->y - 1));
    }
    EXPECT_EQ(FitAffine2D(flat, line), -1.0);
    EXPECT_EQ(flat.transformation.GetSize(), 0);

    // One mark seen four times: nothing for the similarity either.
    CCamera point;
    for (const char* l : {"F1", "F2", "F3"}) point.fiducials.AddSorted(CImageObservation(CNameBuffer(l), 5, 5));
    CProjectImage same;
    for (const char* l : {"F1", "F2", "F3"}) same.fiducials.AddSorted(CImageObservation(CNameBuffer(l), 6, 6));
    EXPECT_EQ(FitSimilarity2D(same, point), -1.0);
    EXPECT_EQ(same.transformation.GetSize(), 0);

    // Good marks, but every measurement at one place.
    CProjectImage stuck;
    for (int i = 0; i < 4; ++i) stuck.fiducials.AddSorted(CImageObservation(CNameBuffer(kMarkLabels[i]), 7, 7));
    EXPECT_EQ(FitSimilarity2D(stuck, camera), -1.0);
    EXPECT_EQ(FitAffine2D(stuck, camera), -1.0);
    EXPECT_EQ(stuck.transformation.GetSize(), 0);
}

TEST(ImageTransformFit, MarksUnknownToTheCameraAreLeftOut)
{
    CCamera camera;
    AddMarks(camera, 4);
    CProjectImage image;
    const double a[6] = {1.01, 0.02, 3, -0.01, 0.99, -4};
    Measure(image, 4, a, true);
    CImageObservation stray(CNameBuffer("X9"), 500.0, 500.0);
    stray.vx = 0.125;
    stray.vy = -0.25;
    image.fiducials.AddSorted(stray);
    EXPECT_NEAR(FitAffine2D(image, camera), 0.0, 1e-9);
    for (int i = 0; i < 6; ++i) EXPECT_NEAR(image.transformation[i], a[i], 1e-9);
    const CImageObservation* kept = image.fiducials.Find(CNameBuffer("X9"));
    EXPECT_EQ(kept->vx, 0.125);
    EXPECT_EQ(kept->vy, -0.25);
}

TEST(ImageTransform, ObservationWrappersNeedTheRightSize)
{
    CImageObservation o(CNameBuffer("A"), 1.0, 2.0);
    CVector four(4), six(6);
    EXPECT_FALSE(ApplyAffine2D(o, four));
    EXPECT_FALSE(ApplySimilarity2DInverse(o, six));
    EXPECT_FALSE(ApplyAffine2DInverse(o, six)); // all zero: singular
    EXPECT_EQ(o.x, 1.0);
    EXPECT_EQ(o.y, 2.0);
    six[0] = 1;
    six[4] = 1;
    six[2] = 0.5;
    ASSERT_TRUE(ApplyAffine2D(o, six));
    EXPECT_EQ(o.x, 1.5);
}
