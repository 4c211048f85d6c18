// The intersection's fixed-size start value solve and point inverse against
// the general routines on a CMatrix (bit for bit, refusals included), and
// against hand-computed inverses and solutions.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <iterator>
#include <random>
#include <vector>

#include "Matrix.h"
#include "NormalEquations.h"
#include "Vector.h"

namespace point_inverse_kernels_test {

uint64_t Bits(double v)
{
    uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

// A 4 x 4 augmented system packed by rows: G'G of random rows whose last
// three columns are squeezed by `spread` (small: nearly singular), then
// `diagonal` added to the first diagonal element.
void MakeSystem(unsigned seed, int rows, double spread, double diagonal, double packed[kPointSystemSize])
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int k = 0; k < kPointSystemSize; ++k)
        packed[k] = 0.0;
    for (int r = 0; r < rows; ++r) {
        double g[4];
        const double common = u(rng);
        for (int j = 0; j < 4; ++j)
            g[j] = common + spread * u(rng) * (j + 1);
        for (int i = 0, at = 0; i < 4; ++i)
            for (int j = i; j < 4; ++j)
                packed[at++] += g[i] * g[j];
    }
    packed[0] += diagonal;
}

CMatrix ToMatrix(const double packed[kPointSystemSize])
{
    CMatrix m(4, -1);
    for (int i = 0, at = 0; i < 4; ++i)
        for (int j = i; j < 4; ++j)
            m.SetAt(packed[at++], i, j);
    return m;
}

struct Case {
    const char* what;
    unsigned seed;
    int rows;
    double spread;
    double diagonal;
};

const Case kCases[] = {
    {"well conditioned", 1, 12, 1.0, 0.0},      {"many rows", 2, 60, 0.5, 0.0},
    {"nearly singular", 3, 8, 1e-6, 0.0},       {"singular", 4, 8, 0.0, 0.0},
    {"too few rows", 5, 2, 1.0, 0.0},           {"negative leading", 6, 10, 1.0, -1e6},
    {"huge leading", 7, 10, 1.0, 1e30},         {"not a number", 8, 10, 1.0, std::nan("")},
    {"no rows", 9, 0, 1.0, 0.0},
};

TEST(PointInverseKernels, InverseAsTheGeneralRoutine)
{
    int inverted = 0, refused = 0;
    std::vector<Case> cases(std::begin(kCases), std::end(kCases));
    for (unsigned seed = 100; seed < 140; ++seed)
        cases.push_back(Case{"random", seed, 4 + static_cast<int>(seed % 9), 0.1 + 0.05 * (seed % 7), 0.0});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SCOPED_TRACE(c.seed);
        double packed[kPointSystemSize];
        MakeSystem(c.seed, c.rows, c.spread, c.diagonal, packed);
        CMatrix inverse;
        const bool expected = InvertNormalMatrix(ToMatrix(packed), 3, inverse);
        double mine[6];
        ASSERT_EQ(InvertPointNormals(packed, mine), expected);
        if (!expected) {
            ++refused;
            continue;
        }
        ++inverted;
        for (int i = 0, at = 0; i < 3; ++i)
            for (int j = i; j < 3; ++j, ++at)
                EXPECT_EQ(Bits(mine[at]), Bits(inverse.GetAt(i, j))) << i << ", " << j;
    }
    EXPECT_GE(inverted, 40);
    EXPECT_GE(refused, 3);
}

TEST(PointInverseKernels, RootFreeSolveAsTheGeneralRoutine)
{
    int solved = 0, refused = 0;
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        double packed[kPointSystemSize];
        MakeSystem(c.seed, c.rows, c.spread, c.diagonal, packed);
        CMatrix reference = ToMatrix(packed);
        const bool expected = reference.LdltDecompose();
        double x[3] = {};
        ASSERT_EQ(SolvePointNormalsRootFree(packed, x), expected);
        if (!expected) {
            ++refused;
            continue;
        }
        ++solved;
        CVector y(3);
        ASSERT_TRUE(reference.SolveAugmentedUnit(y));
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(Bits(x[i]), Bits(y[i])) << i;
        for (int i = 0, at = 0; i < 4; ++i)
            for (int j = i; j < 4; ++j, ++at)
                EXPECT_EQ(Bits(packed[at]), Bits(reference.GetAt(i, j))) << i << ", " << j;
    }
    EXPECT_GE(solved, 3);
    EXPECT_GE(refused, 2);
}

// A = [[4, 2, 0], [2, 5, 1], [0, 1, 3]], det 44: its inverse is the
// adjugate over 44; A x = b with b = A (1, -2, 0.5).
TEST(PointInverseKernels, ByHand)
{
    const double a[kPointSystemSize] = {4.0, 2.0, 0.0, 0.0, 5.0, 1.0, -7.5, 3.0, -0.5, 100.0};
    double inverse[6];
    ASSERT_TRUE(InvertPointNormals(a, inverse));
    const double adjugate[6] = {14.0, -6.0, 2.0, 12.0, -4.0, 16.0};
    for (int k = 0; k < 6; ++k)
        EXPECT_NEAR(inverse[k], adjugate[k] / 44.0, 1e-15) << k;

    double b[kPointSystemSize] = {4.0, 2.0, 0.0, 0.0, 5.0, 1.0, -7.5, 3.0, -0.5, 100.0};
    double x[3] = {};
    ASSERT_TRUE(SolvePointNormalsRootFree(b, x));
    EXPECT_NEAR(x[0], 1.0, 1e-14);
    EXPECT_NEAR(x[1], -2.0, 1e-14);
    EXPECT_NEAR(x[2], 0.5, 1e-14);
}

} // namespace point_inverse_kernels_test
