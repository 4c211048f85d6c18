#include "Rotation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace rotation_test {

namespace {

const double kPi = 3.14159265358979323846;

double Det3(const double R[3][3])
{
    return R[0][0] * (R[1][1] * R[2][2] - R[1][2] * R[2][1])
         - R[0][1] * (R[1][0] * R[2][2] - R[1][2] * R[2][0])
         + R[0][2] * (R[1][0] * R[2][1] - R[1][1] * R[2][0]);
}

// Standard photogrammetric rotation M = M_kappa M_phi M_omega, built here
// independently of the code under test.
void OmegaPhiKappa(double om, double ph, double ka, double M[3][3])
{
    const double Mo[3][3] = {{1, 0, 0}, {0, std::cos(om), std::sin(om)}, {0, -std::sin(om), std::cos(om)}};
    const double Mp[3][3] = {{std::cos(ph), 0, -std::sin(ph)}, {0, 1, 0}, {std::sin(ph), 0, std::cos(ph)}};
    const double Mk[3][3] = {{std::cos(ka), std::sin(ka), 0}, {-std::sin(ka), std::cos(ka), 0}, {0, 0, 1}};
    double T[3][3] = {};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) T[i][j] += Mp[i][k] * Mo[k][j];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            M[i][j] = 0.0;
            for (int k = 0; k < 3; ++k) M[i][j] += Mk[i][k] * T[k][j];
        }
}

} // namespace

TEST(Rotation, ZeroAnglesGiveTheCameraLookingAlongY)
{
    double R[3][3];
    RotationFromAngles(0.0, 0.0, 0.0, R);
    const double expect[3][3] = {{1, 0, 0}, {0, 0, 1}, {0, -1, 0}};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) EXPECT_DOUBLE_EQ(R[i][j], expect[i][j]) << i << "," << j;
    EXPECT_EQ(AzimuthFromRotation(R), 0.0);
    EXPECT_EQ(ElevationFromRotation(R), 0.0);
    EXPECT_EQ(RollFromRotation(R), 0.0);
}

TEST(Rotation, RandomAnglesGiveProperRotationsAndReadBack)
{
    std::mt19937 gen(17);
    std::uniform_real_distribution<double> az(-kPi + 1e-9, kPi);
    std::uniform_real_distribution<double> el(-0.4999 * kPi, 0.4999 * kPi);
    for (int n = 0; n < 2000; ++n) {
        const double a = az(gen), e = el(gen), r = az(gen);
        double R[3][3];
        RotationFromAngles(a, e, r, R);
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) {
                double dot = 0.0;
                for (int k = 0; k < 3; ++k) dot += R[i][k] * R[j][k];
                ASSERT_NEAR(dot, i == j ? 1.0 : 0.0, 1e-14);
            }
        ASSERT_NEAR(Det3(R), 1.0, 1e-14);
        ASSERT_NEAR(AzimuthFromRotation(R), a, 1e-9) << a << " " << e << " " << r;
        ASSERT_NEAR(ElevationFromRotation(R), e, 1e-9);
        ASSERT_NEAR(RollFromRotation(R), r, 1e-9);
    }
}

TEST(Rotation, ReportAnglesMatchTheOmegaPhiKappaConvention)
{
    std::mt19937 gen(5);
    std::uniform_real_distribution<double> any(-3.1, 3.1);
    std::uniform_real_distribution<double> half(-1.5, 1.5);
    for (int n = 0; n < 500; ++n) {
        const double om = any(gen), ph = half(gen), ka = any(gen);
        double M[3][3];
        OmegaPhiKappa(om, ph, ka, M);
        ASSERT_NEAR(OmegaFromRotation(M), om, 1e-9);
        ASSERT_NEAR(PhiFromRotation(M), ph, 1e-9);
        ASSERT_NEAR(KappaFromRotation(M), ka, 1e-9);
    }
}

TEST(Rotation, RoundingPastTheVerticalStaysFinite)
{
    // Looking straight up or down, with R22 a rounding step beyond -1 or +1.
    for (double r22 : {-1.0 - 4e-16, 1.0 + 4e-16, -1.0, 1.0}) {
        double R[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, r22}};
        R[1][1] = r22 < 0 ? -1.0 : 1.0;
        const double e = ElevationFromRotation(R);
        EXPECT_FALSE(std::isnan(e)) << r22;
        EXPECT_NEAR(std::fabs(e), kPi / 2, 1e-12);
        EXPECT_TRUE(std::isfinite(AzimuthFromRotation(R)));
        EXPECT_TRUE(std::isfinite(RollFromRotation(R)));
    }
    double R[3][3] = {{1, 0, 0}, {0, 0, 1}, {1.0 + 4e-16, 0, 0}};
    EXPECT_NEAR(PhiFromRotation(R), kPi / 2, 1e-12);
}

} // namespace rotation_test
