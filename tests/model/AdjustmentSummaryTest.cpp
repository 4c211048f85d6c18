#include <gtest/gtest.h>

#include "AdjustmentSummary.h"

namespace {

void Fill(CAdjustmentSummary& s, double base)
{
    s.status = 3;
    s.iterations = 7;
    s.observations = 120;
    s.constraints = 7;
    s.parameters = 100;
    s.sigma0 = base + 0.9;
    s.finalRejectionLimit = base + 0.02;
    s.vv = base + 1e-6;
    s.elapsed = base + 12.5;
    s.usedPoints = 11;
    s.rms = base + 3.25;
    for (int axis = 0; axis < 3; ++axis) {
        s.rmsLimiting[axis] = base + axis + 0.1;
        s.rmsTotal[axis] = base + axis + 0.2;
        for (int k = 0; k < 4; ++k) {
            s.extremes[k][axis] = base + 10 * k + axis;
            s.extremeLabels[k][axis] = ("P" + std::to_string(10 * k + axis)).c_str();
        }
    }
}

void ExpectAllNumbersZero(const CAdjustmentSummary& s)
{
    EXPECT_EQ(s.status, 0);
    EXPECT_EQ(s.iterations, 0);
    EXPECT_EQ(s.observations, 0);
    EXPECT_EQ(s.constraints, 0);
    EXPECT_EQ(s.parameters, 0);
    EXPECT_EQ(s.sigma0, 0.0);
    EXPECT_EQ(s.finalRejectionLimit, 0.0);
    EXPECT_EQ(s.vv, 0.0);
    EXPECT_EQ(s.elapsed, 0.0);
    EXPECT_EQ(s.usedPoints, 0);
    EXPECT_EQ(s.rms, 0.0);
    for (int axis = 0; axis < 3; ++axis) {
        EXPECT_EQ(s.rmsLimiting[axis], 0.0);
        EXPECT_EQ(s.rmsTotal[axis], 0.0);
        for (int k = 0; k < 4; ++k)
            EXPECT_EQ(s.extremes[k][axis], 0.0);
    }
}

} // namespace

TEST(AdjustmentSummary, NewAndResetSummariesAreZeroButResetKeepsLabels)
{
    CAdjustmentSummary fresh;
    ExpectAllNumbersZero(fresh);
    EXPECT_STREQ(fresh.extremeLabels[0][0].GetText(), "");
    EXPECT_STREQ(fresh.extremeLabels[3][2].GetText(), "");

    CAdjustmentSummary s;
    Fill(s, 1.0);
    s.Reset();
    ExpectAllNumbersZero(s);
    EXPECT_STREQ(s.extremeLabels[0][0].GetText(), "P0");
    EXPECT_STREQ(s.extremeLabels[2][1].GetText(), "P21");
    EXPECT_STREQ(s.extremeLabels[3][2].GetText(), "P32");
}

TEST(AdjustmentSummary, CopyTakesEveryNumberButNoLabel)
{
    CAdjustmentSummary source;
    Fill(source, 5.0);
    CAdjustmentSummary target;
    target.extremeLabels[1][2] = "KEEP";
    target.Copy(source);

    EXPECT_EQ(target.status, 3);
    EXPECT_EQ(target.iterations, 7);
    EXPECT_EQ(target.observations, 120);
    EXPECT_EQ(target.constraints, 7);
    EXPECT_EQ(target.parameters, 100);
    EXPECT_EQ(target.sigma0, 5.9);
    EXPECT_EQ(target.finalRejectionLimit, 5.02);
    EXPECT_EQ(target.vv, 5.0 + 1e-6);
    EXPECT_EQ(target.elapsed, 17.5);
    EXPECT_EQ(target.usedPoints, 11);
    EXPECT_EQ(target.rms, 8.25);
    for (int axis = 0; axis < 3; ++axis) {
        EXPECT_EQ(target.rmsLimiting[axis], 5.0 + axis + 0.1);
        EXPECT_EQ(target.rmsTotal[axis], 5.0 + axis + 0.2);
        for (int k = 0; k < 4; ++k)
            EXPECT_EQ(target.extremes[k][axis], 5.0 + 10 * k + axis) << k << "," << axis;
    }
    EXPECT_STREQ(target.extremeLabels[1][2].GetText(), "KEEP");
    EXPECT_STREQ(target.extremeLabels[0][0].GetText(), "");
}

TEST(AdjustmentSummary, DegreesOfFreedomMayBeNegative)
{
    CAdjustmentSummary s;
    s.observations = 120;
    s.constraints = 7;
    s.parameters = 100;
    EXPECT_EQ(s.GetDegreesOfFreedom(), 27);
    s.parameters = 130;
    EXPECT_EQ(s.GetDegreesOfFreedom(), -3);
}
