#include "ImageTransform.h"

#include <gtest/gtest.h>

#include <random>

TEST(ImageTransform, IdentityParametersLeaveThePoint)
{
    const double aff[6] = {1, 0, 0, 0, 1, 0};
    const double sim[4] = {1, 0, 0, 0};
    double x = 3.25, y = -7.5;
    Affine2DForward(aff, x, y);
    EXPECT_EQ(x, 3.25);
    EXPECT_EQ(y, -7.5);
    ASSERT_TRUE(Affine2DInverse(aff, x, y));
    Similarity2DForward(sim, x, y);
    ASSERT_TRUE(Similarity2DInverse(sim, x, y));
    EXPECT_EQ(x, 3.25);
    EXPECT_EQ(y, -7.5);
}

TEST(ImageTransform, QuarterTurnSimilarity)
{
    const double sim[4] = {0, 1, 0, 0};
    double x = 1.0, y = 0.0;
    Similarity2DForward(sim, x, y);
    EXPECT_DOUBLE_EQ(x, 0.0);
    EXPECT_DOUBLE_EQ(y, -1.0);
    ASSERT_TRUE(Similarity2DInverse(sim, x, y));
    EXPECT_DOUBLE_EQ(x, 1.0);
    EXPECT_DOUBLE_EQ(y, 0.0);
}

TEST(ImageTransform, HandComputedAffine)
{
    // x' = 2x + 0.5y + 1, y' = -x + 3y - 2 at (1, 2): (4, 3).
    const double aff[6] = {2, 0.5, 1, -1, 3, -2};
    double x = 1.0, y = 2.0;
    Affine2DForward(aff, x, y);
    EXPECT_DOUBLE_EQ(x, 4.0);
    EXPECT_DOUBLE_EQ(y, 3.0);
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
