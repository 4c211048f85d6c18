#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AdjustmentSummary.h"

namespace {

// Every number distinct and non-zero, every label set.
void Fill(CAdjustmentSummary& s, double base)
{
    s.status = 3;
    s.iterations = 7;
    s.observations = 120;
    s.constraints = 7;
    s.parameters = 100;
    s.usedPoints = 11;
    double* doubles[] = {&s.sigma0, &s.finalRejectionLimit, &s.vv, &s.elapsed, &s.rms};
    for (int k = 0; k < 5; ++k)
        *doubles[k] = base + 0.5 * (k + 1);
    for (int axis = 0; axis < 3; ++axis) {
        s.rmsLimiting[axis] = base + axis + 0.1;
        s.rmsTotal[axis] = base + axis + 0.2;
        for (int k = 0; k < 4; ++k) {
            s.extremes[k][axis] = base + 10 * k + axis;
            s.extremeLabels[k][axis] = ("P" + std::to_string(10 * k + axis)).c_str();
        }
    }
}

// The numbers of a summary in declaration order.
std::vector<double> Numbers(const CAdjustmentSummary& s)
{
    std::vector<double> n = {double(s.status), double(s.iterations), double(s.observations),
                             double(s.constraints), double(s.parameters), s.sigma0, s.finalRejectionLimit,
                             s.vv, s.elapsed, double(s.usedPoints), s.rms};
    for (int axis = 0; axis < 3; ++axis)
        n.insert(n.end(), {s.rmsLimiting[axis], s.rmsTotal[axis]});
    for (int k = 0; k < 4; ++k)
        n.insert(n.end(), {s.extremes[k][0], s.extremes[k][1], s.extremes[k][2]});
    return n;
}

} // namespace

TEST(AdjustmentSummary, ResetZeroesEveryNumberAndKeepsTheLabels)
{
    const std::vector<double> zeros(Numbers(CAdjustmentSummary()).size(), 0.0);
    EXPECT_EQ(Numbers(CAdjustmentSummary()), zeros);

    CAdjustmentSummary s;
    Fill(s, 1.0);
    s.Reset();
    EXPECT_EQ(Numbers(s), zeros);
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
    EXPECT_EQ(Numbers(target), Numbers(source));
    EXPECT_EQ(target.extremes[CAdjustmentSummary::kSmallestTotal][2], 37.0);
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
