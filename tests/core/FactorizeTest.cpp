#include "DenseAlgebra.h"
#include "Matrix.h"
#include "Vector.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

const double kEps = std::numeric_limits<double>::epsilon();

CMatrix Packed(const dense::Mat& d)
{
    CMatrix m(d.rows, -1);
    for (int i = 0; i < d.rows; ++i)
        for (int j = i; j < d.cols; ++j)
            m.SetAt(d(i, j), i, j);
    return m;
}

dense::Mat Full(const CMatrix& m)
{
    dense::Mat d(m.GetRows(), m.GetRows());
    for (int i = 0; i < d.rows; ++i)
        for (int j = 0; j < d.cols; ++j)
            d(i, j) = m.GetAt(i, j);
    return d;
}

CMatrix PackedOf(std::initializer_list<std::initializer_list<double>> rows)
{
    const int n = static_cast<int>(rows.size());
    CMatrix m(n, -1);
    int i = 0;
    for (const auto& r : rows) {
        int j = i;
        for (double v : r)
            m.SetAt(v, i, j++);
        ++i;
    }
    return m;
}

// An augmented normal system from m random observations of u unknowns:
// [A l]'[A l] with a shift on the diagonal of N and 1 added to l'l.
struct System
{
    dense::Mat N;        // u x u
    dense::Mat rhs;      // u x 1
    double c = 0.0;      // l'l
    dense::Mat aug;      // (u + 1) x (u + 1)
};

System MakeSystem(int u, std::mt19937& gen, double shift)
{
    const dense::Mat A = dense::Random(u + 4, u + 1, gen);
    dense::Mat aug = dense::Multiply(dense::Transpose(A), A);
    for (int i = 0; i < u; ++i)
        aug(i, i) += shift;
    aug(u, u) += 1.0;
    System s;
    s.aug = aug;
    s.N = dense::Mat(u, u);
    s.rhs = dense::Mat(u, 1);
    for (int i = 0; i < u; ++i) {
        for (int j = 0; j < u; ++j)
            s.N(i, j) = aug(i, j);
        s.rhs(i, 0) = aug(i, u);
    }
    s.c = aug(u, u);
    return s;
}

// The textbook recurrences, one element at a time, for comparison with the
// blocked code: both must give the same numbers, bit for bit.
bool NaiveCholesky(dense::Mat& a)
{
    const int n = a.rows;
    for (int i = 0; i < n; ++i) {
        double s = 0.0;
        for (int k = 0; k < i; ++k)
            s += a(k, i) * a(k, i);
        const double d = a(i, i) - s;
        if (d < 0.0)
            return false;
        a(i, i) = std::sqrt(d);
        if (i == n - 1)
            break;
        if (std::fabs(a(i, i)) < 1e-100)
            return false;
        for (int j = i + 1; j < n; ++j) {
            double t = 0.0;
            for (int k = 0; k < i; ++k)
                t += a(k, i) * a(k, j);
            a(i, j) = (a(i, j) - t) / a(i, i);
        }
    }
    double p = 1.0;
    for (int k = 0; k + 1 < n; ++k)
        p *= a(k, k) * a(k, k);
    return p > 1e-16;
}

bool NaiveLdlt(dense::Mat& a)
{
    const int n = a.rows;
    for (int i = 0; i < n; ++i) {
        double s = 0.0;
        for (int k = 0; k < i; ++k)
            s += a(k, i) * a(k, i) * a(k, k);
        a(i, i) = a(i, i) - s;
        if (std::fabs(a(i, i)) < 1e-100 || (i == 0 && a(0, 0) < 0.0))
            return false;
        const double inv = 1.0 / a(i, i);
        for (int j = i + 1; j < n; ++j) {
            double t = 0.0;
            for (int k = 0; k < i; ++k)
                t += a(k, i) * a(k, j) * a(k, k);
            a(i, j) = (a(i, j) - t) * inv;
        }
    }
    return true;
}

// Inverse from a root-free factor, column by column: U'D z = e(k), U x = z.
dense::Mat NaiveInverseFromFactor(const dense::Mat& f)
{
    const int n = f.rows;
    dense::Mat inv(n, n);
    std::vector<double> z(n), x(n);
    for (int k = 0; k < n; ++k) {
        for (int i = 0; i < n; ++i) {
            double s = 0.0;
            for (int m = 0; m < i; ++m)
                s += f(m, i) * f(m, m) * z[m];
            z[i] = ((i == k ? 1.0 : 0.0) - s) / f(i, i);
        }
        for (int i = n - 1; i >= 0; --i) {
            double s = 0.0;
            for (int j = i + 1; j < n; ++j)
                s += f(i, j) * x[j];
            x[i] = z[i] - s;
        }
        for (int i = 0; i <= k; ++i)
            inv(i, k) = inv(k, i) = x[i];
    }
    return inv;
}

// Leading u x u inverse of an augmented root-free factor: X = U^-1, then X D^-1 X'.
dense::Mat NaiveAugmentedInverse(const dense::Mat& f)
{
    const int u = f.rows - 1;
    dense::Mat X(u, u), q(u, u);
    for (int i = 0; i < u; ++i) {
        X(i, i) = 1.0;
        for (int j = i + 1; j < u; ++j) {
            double s = 0.0;
            for (int k = i + 1; k < j; ++k)
                s += X(i, k) * f(k, j);
            X(i, j) = -f(i, j) - s;
        }
    }
    for (int i = 0; i < u; ++i)
        for (int j = i; j < u; ++j) {
            double s = 0.0;
            for (int k = j; k < u; ++k)
                s += X(i, k) * (1.0 / f(k, k)) * X(j, k);
            q(i, j) = q(j, i) = s;
        }
    return q;
}

double MaxRelDiff(const dense::Mat& a, const dense::Mat& b)
{
    double scale = std::max(dense::MaxAbs(a), 1e-300), worst = 0.0;
    for (size_t k = 0; k < a.v.size(); ++k)
        worst = std::max(worst, std::fabs(a.v[k] - b.v[k]) / scale);
    return worst;
}

const int kOrders[] = {1, 2, 3, 7, 8, 9, 16, 17, 31, 64, 65, 131};

} // namespace

// Cases fixed by the rules of the factorisations.
TEST(FactorizeThresholds, AugmentedScalarSystem)
{
    CMatrix m = PackedOf({{4.0, 8.0}, {16.0}});
    ASSERT_TRUE(m.CholeskyDecompose());
    EXPECT_EQ(m.GetAt(0, 0), 2.0);
    EXPECT_EQ(m.GetAt(0, 1), 4.0);
    EXPECT_EQ(m.GetAt(1, 1), 0.0);   // the last row has no pivot test
    CVector x(1);
    EXPECT_TRUE(m.SolveAugmentedCholesky(x));
    EXPECT_EQ(x[0], 2.0);

    CMatrix l = PackedOf({{4.0, 8.0}, {16.0}});
    EXPECT_FALSE(l.LdltDecompose());  // d(1) = 16 - 16 = 0 fails the pivot test
}

TEST(FactorizeThresholds, DeterminantAndPivotLimits)
{
    CMatrix tiny = PackedOf({{1e-17, 0.0}, {1.0}});
    EXPECT_FALSE(tiny.CholeskyDecompose());   // 1e-17 <= 1e-16
    CMatrix small = PackedOf({{1e-15, 0.0}, {1.0}});
    EXPECT_TRUE(small.CholeskyDecompose());

    CMatrix neg = PackedOf({{-1.0, 0.5}, {2.0}});
    CMatrix neg2(neg);
    EXPECT_FALSE(neg.CholeskyDecompose());
    EXPECT_FALSE(neg2.LdltDecompose());

    // Root-free pivots: magnitudes below 1e-100 fail, including the last row;
    // negative pivots are fine.
    CMatrix atLimit = PackedOf({{1e-100}});
    CMatrix below = PackedOf({{9.9e-101}});
    EXPECT_TRUE(atLimit.LdltDecompose());
    EXPECT_FALSE(below.LdltDecompose());
    CMatrix lastTiny = PackedOf({{2.0, 0.0}, {-9e-101}});
    EXPECT_FALSE(lastTiny.LdltDecompose());

    // An indefinite matrix has no Cholesky factor but a root-free one.
    CMatrix indef = PackedOf({{1.0, 2.0}, {1.0}});
    CMatrix indef2(indef);
    EXPECT_FALSE(indef.CholeskyDecompose());
    ASSERT_TRUE(indef2.LdltDecompose());
    EXPECT_EQ(indef2.GetAt(0, 0), 1.0);
    EXPECT_EQ(indef2.GetAt(0, 1), 2.0);
    EXPECT_EQ(indef2.GetAt(1, 1), -3.0);

    // A middle Cholesky pivot below 1e-100 fails.
    CMatrix mid = PackedOf({{1.0, 0.0, 0.0}, {1e-202, 5.0}, {7.0}});
    EXPECT_FALSE(mid.CholeskyDecompose());

    // Inverting a factor whose pivot is too small fails.
    CMatrix f = PackedOf({{1.0, 0.5, 1.0}, {1e-101, 2.0}, {3.0}});
    EXPECT_FALSE(f.InvertUpperFactor());
    CMatrix g = PackedOf({{1.0, 0.5}, {1e-101}});
    EXPECT_FALSE(g.InvertSymmetric(true));

    CMatrix empty(0, -1);
    EXPECT_TRUE(empty.LdltDecompose());
}

TEST(FactorizeThresholds, WrongFormsAreRefused)
{
    CMatrix full(3, 3);
    full.SetDiagonal(1.0);
    const CMatrix before(full);
    CVector x;
    EXPECT_FALSE(full.CholeskyDecompose());
    EXPECT_FALSE(full.LdltDecompose());
    EXPECT_FALSE(full.InvertSymmetric(false));
    EXPECT_FALSE(full.InvertAugmentedFactor());
    EXPECT_FALSE(full.SolveAugmentedUnit(x));
    EXPECT_FALSE(full.SolveAugmentedCholesky(x));
    EXPECT_TRUE(full == before);
    CMatrix one = PackedOf({{2.0}});
    EXPECT_FALSE(one.SolveAugmentedUnit(x));   // no unknowns

    // A solution vector that is too short grows to the number of unknowns.
    CMatrix m = PackedOf({{4.0, 0.0, 8.0}, {1.0, 3.0}, {100.0}});
    ASSERT_TRUE(m.CholeskyDecompose());
    CVector shortX;
    ASSERT_TRUE(m.SolveAugmentedCholesky(shortX));
    ASSERT_EQ(shortX.GetSize(), 2);
    EXPECT_EQ(shortX[0], 2.0);
    EXPECT_EQ(shortX[1], 3.0);
}

// The blocked factorisations compute exactly the numbers of the element-wise
// recurrences, for orders around and across the block size.
TEST(FactorizeExactness, BlockedCodeMatchesRecurrencesBitForBit)
{
    std::mt19937 gen(7);
    std::vector<int> orders(std::begin(kOrders), std::end(kOrders));
    orders.push_back(600);   // longer rows than one column chunk
    for (int u : orders) {
        SCOPED_TRACE(u);
        const System s = MakeSystem(u, gen, 0.25);

        CMatrix c = Packed(s.aug);
        dense::Mat nc = s.aug;
        ASSERT_EQ(c.CholeskyDecompose(), NaiveCholesky(nc));
        for (int i = 0; i <= u; ++i)
            for (int j = i; j <= u; ++j)
                ASSERT_EQ(c.GetAt(i, j), nc(i, j)) << i << "," << j;

        CMatrix l = Packed(s.aug);
        dense::Mat nl = s.aug;
        ASSERT_TRUE(l.LdltDecompose());
        ASSERT_TRUE(NaiveLdlt(nl));
        for (int i = 0; i <= u; ++i)
            for (int j = i; j <= u; ++j)
                ASSERT_EQ(l.GetAt(i, j), nl(i, j)) << i << "," << j;

        CMatrix inv(l);
        ASSERT_TRUE(inv.InvertSymmetric(true));
        const dense::Mat ninv = NaiveInverseFromFactor(nl);
        for (int i = 0; i <= u; ++i)
            for (int j = i; j <= u; ++j)
                ASSERT_EQ(inv.GetAt(i, j), ninv(i, j)) << i << "," << j;

        CMatrix aug(l);
        ASSERT_TRUE(aug.InvertAugmentedFactor());
        const dense::Mat naug = NaiveAugmentedInverse(nl);
        for (int i = 0; i < u; ++i)
            for (int j = i; j < u; ++j)
                ASSERT_EQ(aug.GetAt(i, j), naug(i, j)) << i << "," << j;
    }
}

// Against plain Gaussian elimination, with tolerances from the condition.
TEST(FactorizeAccuracy, SolutionsAndInversesAgreeWithGaussianElimination)
{
    std::mt19937 gen(2024);
    for (double shift : {0.5, 1e-6}) {
        for (int u : kOrders) {
            SCOPED_TRACE(testing::Message() << "order " << u << " shift " << shift);
            const System s = MakeSystem(u, gen, shift);
            const double cond = dense::Condition(s.N);
            const double tol = 8.0 * (u + 1) * kEps * cond;
            dense::Mat xref;
            ASSERT_TRUE(dense::Solve(s.N, s.rhs, xref));
            const double xscale = std::max(dense::MaxAbs(xref), 1e-300);
            double residual = s.c;
            for (int i = 0; i < u; ++i)
                residual -= s.rhs(i, 0) * xref(i, 0);

            CMatrix c = Packed(s.aug);
            ASSERT_TRUE(c.CholeskyDecompose());
            CVector xc(u);
            ASSERT_TRUE(c.SolveAugmentedCholesky(xc));
            // U'U reproduces the matrix.
            dense::Mat U(u + 1, u + 1);
            for (int i = 0; i <= u; ++i)
                for (int j = i; j <= u; ++j)
                    U(i, j) = c.GetAt(i, j);
            EXPECT_LT(MaxRelDiff(s.aug, dense::Multiply(dense::Transpose(U), U)), 8.0 * (u + 1) * kEps);

            CMatrix l = Packed(s.aug);
            ASSERT_TRUE(l.LdltDecompose());
            CVector xl(u);
            ASSERT_TRUE(l.SolveAugmentedUnit(xl));

            for (int i = 0; i < u; ++i) {
                EXPECT_NEAR(xc[i], xref(i, 0), tol * xscale);
                EXPECT_NEAR(xl[i], xref(i, 0), tol * xscale);
            }
            // The residual sum in the last diagonal element (its root for Cholesky).
            EXPECT_NEAR(c.GetAt(u, u) * c.GetAt(u, u), residual, tol * s.c);
            EXPECT_NEAR(l.GetAt(u, u), residual, tol * s.c);

            dense::Mat nref;
            ASSERT_TRUE(dense::Inverse(s.N, nref));
            CMatrix inv = Packed(s.N);
            ASSERT_TRUE(inv.InvertSymmetric(false));
            EXPECT_LT(MaxRelDiff(nref, Full(inv)), tol);

            // The leading part of the augmented factor becomes N^-1; the reduced
            // right-hand side and the residual sum stay.
            CMatrix cof(l);
            ASSERT_TRUE(cof.InvertAugmentedFactor());
            dense::Mat lead(u, u);
            for (int i = 0; i < u; ++i)
                for (int j = 0; j < u; ++j)
                    lead(i, j) = cof.GetAt(i, j);
            EXPECT_LT(MaxRelDiff(nref, lead), tol);
            for (int i = 0; i <= u; ++i)
                EXPECT_EQ(cof.GetAt(i, u), l.GetAt(i, u));
        }
    }
}

TEST(FactorizeInverses, SmallKnownInverses)
{
    CMatrix m = PackedOf({{2.0, 1.0}, {2.0}});
    ASSERT_TRUE(m.InvertSymmetric(false));
    EXPECT_NEAR(m.GetAt(0, 0), 2.0 / 3.0, 1e-15);
    EXPECT_NEAR(m.GetAt(0, 1), -1.0 / 3.0, 1e-15);
    EXPECT_NEAR(m.GetAt(1, 1), 2.0 / 3.0, 1e-15);

    CMatrix id(3, 3);
    id.SetDiagonal(1.0);
    CMatrix inv(id);
    ASSERT_TRUE(inv.Invert3x3());
    EXPECT_TRUE(inv == id);

    CMatrix nearSingular(3, 3);
    nearSingular.SetAt(1e-101, 0, 0);
    nearSingular.SetAt(1.0, 1, 1);
    nearSingular.SetAt(1.0, 2, 2);
    nearSingular.SetAt(5.0, 0, 2);
    const CMatrix before(nearSingular);
    EXPECT_FALSE(nearSingular.Invert3x3());
    EXPECT_TRUE(nearSingular == before);

    std::mt19937 gen(77);
    const dense::Mat a = dense::Random(3, 3, gen);
    CMatrix fa(3, 3);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            fa.SetAt(a(i, j), i, j);
    ASSERT_TRUE(fa.Invert3x3());
    dense::Mat ref;
    ASSERT_TRUE(dense::Inverse(a, ref));
    const double tol = 16 * kEps * dense::Condition(a);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            EXPECT_NEAR(fa.GetAt(i, j), ref(i, j), tol * dense::MaxAbs(ref));

    const dense::Mat spd = dense::RandomSpd(3, gen);
    CMatrix ps = Packed(spd);
    ASSERT_TRUE(ps.Invert3x3());
    EXPECT_TRUE(ps.IsSymmetric());
    ASSERT_TRUE(dense::Inverse(spd, ref));
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            EXPECT_NEAR(ps.GetAt(i, j), ref(i, j), 1e-12 * dense::MaxAbs(ref));
}

TEST(FactorizeRotation, RotationFromDirectionToDirection)
{
    auto vec = [](double x, double y, double z) {
        CVector v(3);
        v[0] = x;
        v[1] = y;
        v[2] = z;
        return v;
    };
    CMatrix r;
    ASSERT_TRUE(r.SetRotationFromTo(vec(1, 2, 3), vec(2, 4, 6)));
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            EXPECT_EQ(r.GetAt(i, j), i == j ? 1.0 : 0.0);
    ASSERT_TRUE(r.SetRotationFromTo(vec(1, 2, 3), vec(-1, -2, -3)));
    EXPECT_EQ(r.GetAt(0, 0), 1.0);
    EXPECT_EQ(r.GetAt(0, 1), 0.0);

    ASSERT_TRUE(r.SetRotationFromTo(vec(1, 0, 0), vec(0, 1, 0)));
    const double expect[3][3] = {{0, -1, 0}, {1, 0, 0}, {0, 0, 1}};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            EXPECT_NEAR(r.GetAt(i, j), expect[i][j], 1e-15);

    // A general pair: R a points along b, R is orthonormal with det +1, and
    // vectors along the axis a x b stay.
    const CVector a = vec(0.3, -1.2, 0.7), b = vec(-2.0, 0.4, 1.1);
    ASSERT_TRUE(r.SetRotationFromTo(a, b));
    CVector ra(3), bn(b);
    ASSERT_TRUE(ra.AddAv(r, a));
    ra.Normalize();
    bn.Normalize();
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(ra[i], bn[i], 1e-14);
    CMatrix rt(r);
    rt.Transpose();
    const CMatrix rrt = r * rt;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            EXPECT_NEAR(rrt.GetAt(i, j), i == j ? 1.0 : 0.0, 1e-14);
    CVector axis;
    axis.SetCross(a, b);
    CVector raxis(3);
    ASSERT_TRUE(raxis.AddAv(r, axis));
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(raxis[i], axis[i], 1e-13);

    EXPECT_FALSE(r.SetRotationFromTo(CVector(2), b));
}
