// The factorisation and the symmetric inverse shared by several threads
// (std::thread inside the kernels) give the single thread's result bit for
// bit, and that result is the inverse: A times it is the identity.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "Matrix.h"

namespace {

// A well-conditioned symmetric positive definite matrix of order n: B'B / n
// plus the identity, B random.
CMatrix RandomSpd(int n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    CMatrix b(n, n);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            b.SetAt(u(rng), i, j);
    CMatrix a(n, -1);
    for (int i = 0; i < n; ++i)
        for (int j = i; j < n; ++j) {
            double s = i == j ? 1.0 : 0.0;
            for (int k = 0; k < n; ++k)
                s += b.GetAt(k, i) * b.GetAt(k, j) / n;
            a.SetAt(s, i, j);
        }
    return a;
}

TEST(FactorizeThreads, AnyNumberOfWorkersGivesTheSameInverse)
{
    for (int n : {5, 70, 300}) {
        const CMatrix a = RandomSpd(n, 11u + static_cast<unsigned>(n));
        CMatrix one(a), many(a);
        ASSERT_TRUE(one.InvertSymmetric(false, 1));
        ASSERT_TRUE(many.InvertSymmetric(false, 8));
        double worst = 0.0;
        for (int i = 0; i < n; ++i)
            for (int j = i; j < n; ++j) {
                ASSERT_EQ(many.GetAt(i, j), one.GetAt(i, j)) << n << ": " << i << ", " << j;
                double s = 0.0;
                for (int k = 0; k < n; ++k)
                    s += a.GetAt(i, k) * one.GetAt(k, j);
                worst = std::fmax(worst, std::fabs(s - (i == j ? 1.0 : 0.0)));
            }
        EXPECT_LT(worst, 1e-11) << n;
    }
}

} // namespace
