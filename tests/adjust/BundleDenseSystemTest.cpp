// The engine's blocked factorisation of the dense reduced system: U'DU
// gives the matrix back, its factor and the solution equal those of the
// matrix class's own factorisation to rounding, any number of workers gives
// the same bits, and it fails where the matrix class's fails.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "DenseFactor.h"
#include "Matrix.h"
#include "Vector.h"

namespace bundle_dense_system_test {

// A symmetric positive definite matrix of order n whose diagonal spans
// `decades` decades (as a reduced system's camera and station rows do).
CMatrix RandomSystem(int n, unsigned seed, double decades)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    const int m = 6;
    std::vector<double> g(static_cast<size_t>(n) * m), scale(static_cast<size_t>(n));
    for (double& x : g)
        x = u(rng);
    for (int i = 0; i < n; ++i)
        scale[static_cast<size_t>(i)] = std::pow(10.0, decades * (0.5 + 0.5 * u(rng)));
    CMatrix A(n, -1);
    for (int i = 0; i < n; ++i)
        for (int j = i; j < n; ++j) {
            double s = i == j ? 0.5 * n : 0.1 * u(rng);
            for (int k = 0; k < m; ++k)
                s += g[static_cast<size_t>(i) * m + k] * g[static_cast<size_t>(j) * m + k];
            A.SetAt(s * scale[static_cast<size_t>(i)] * scale[static_cast<size_t>(j)], i, j);
        }
    return A;
}

TEST(BundleDenseSystem, BlockedFactorRebuildsTheMatrixAndAgreesWithTheMatrixClass)
{
    struct Case {
        int order;
        double decades;
    };
    const Case cases[] = {{1, 0.0}, {2, 1.0}, {47, 2.0}, {48, 0.0}, {49, 3.0}, {97, 1.0}, {150, 4.0}, {301, 2.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "order " << c.order);
        const CMatrix A = RandomSystem(c.order, 17 + c.order, c.decades);
        CMatrix mine(A), theirs(A);
        ASSERT_TRUE(FactorPackedLdlt(mine, 1));
        ASSERT_TRUE(theirs.LdltDecompose(1));
        for (int workers : {2, 3, 8}) {
            CMatrix again(A);
            ASSERT_TRUE(FactorPackedLdlt(again, workers));
            ASSERT_TRUE(again == mine) << workers << " workers";
        }
        const int n = c.order;
        for (int i = 0; i < n; ++i) {
            EXPECT_NEAR(mine.GetAt(i, i), theirs.GetAt(i, i), 1e-11 * std::fabs(theirs.GetAt(i, i))) << i;
            for (int j = i + 1; j < n; ++j)
                EXPECT_NEAR(mine.GetAt(i, j), theirs.GetAt(i, j),
                            1e-9 * std::sqrt(A.GetAt(j, j) / A.GetAt(i, i)))
                    << "(" << i << ", " << j << ")";
        }
        // U'DU against A, each element in units of its diagonals.
        for (int i = 0; i < n; ++i)
            for (int j = i; j < n; ++j) {
                long double s = 0.0L;
                for (int k = 0; k <= i; ++k) {
                    const double uki = k == i ? 1.0 : mine.GetAt(k, i);
                    const double ukj = k == j ? 1.0 : mine.GetAt(k, j);
                    s += static_cast<long double>(uki) * mine.GetAt(k, k) * ukj;
                }
                const double unit = std::sqrt(A.GetAt(i, i) * A.GetAt(j, j));
                ASSERT_NEAR(static_cast<double>(s) / unit, A.GetAt(i, j) / unit, 1e-12) << "(" << i << ", " << j << ")";
            }
        // The solution of the augmented system (last column the right-hand side).
        if (n >= 2) {
            CVector x1, x2;
            ASSERT_TRUE(mine.SolveAugmentedUnit(x1));
            ASSERT_TRUE(theirs.SolveAugmentedUnit(x2));
            for (int i = 0; i < n - 1; ++i)
                EXPECT_NEAR(x1[i], x2[i], 1e-9 * (std::fabs(x2[i]) + 1.0 / std::sqrt(A.GetAt(i, i)))) << i;
        }
    }
}

TEST(BundleDenseSystem, BlockedFactorFailsWhereTheMatrixClassFails)
{
    struct Case {
        const char* name;
        int order;
        int row; // an unknown with no equation: its row and column zero (-1: none)
        bool negativeFirst;
    };
    const Case cases[] = {
        {"a zero row in the first panel", 40, 17, false},
        {"a zero row after a panel", 130, 100, false},
        {"a negative first element", 60, -1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CMatrix A = RandomSystem(c.order, 3, 1.0);
        if (c.row >= 0)
            for (int j = 0; j < c.order; ++j)
                A.SetAt(0.0, c.row, j);
        if (c.negativeFirst)
            A.SetAt(-1.0, 0, 0);
        for (int workers : {1, 4}) {
            CMatrix mine(A), theirs(A);
            EXPECT_FALSE(FactorPackedLdlt(mine, workers)) << workers << " workers";
            EXPECT_FALSE(theirs.LdltDecompose(workers));
        }
    }
}

} // namespace bundle_dense_system_test
