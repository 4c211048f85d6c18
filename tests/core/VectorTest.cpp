#include "BinArchive.h"
#include "DenseAlgebra.h"
#include "Matrix.h"
#include "Vector.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

namespace {

CVector Vec(std::initializer_list<double> values)
{
    CVector v(static_cast<int>(values.size()));
    int i = 0;
    for (double x : values)
        v[i++] = x;
    return v;
}

CMatrix FullOf(const dense::Mat& d)
{
    CMatrix m(d.rows, d.cols);
    for (int i = 0; i < d.rows; ++i)
        for (int j = 0; j < d.cols; ++j)
            m.SetAt(d(i, j), i, j);
    return m;
}

CMatrix PackedOf(const dense::Mat& d)
{
    CMatrix m(d.rows, -1);
    for (int i = 0; i < d.rows; ++i)
        for (int j = i; j < d.cols; ++j)
            m.SetAt(d(i, j), i, j);
    return m;
}

} // namespace

TEST(VectorStorage, ResizeKeepsLeadingValuesAndZeroFills)
{
    CVector v = Vec({1, 2, 3});
    CVector a(v), b(v), c(v);
    a.Resize(2);
    ASSERT_EQ(a.GetSize(), 2);
    EXPECT_EQ(a[1], 2.0);
    b.Resize(5);
    ASSERT_EQ(b.GetSize(), 5);
    EXPECT_EQ(b[2], 3.0);
    EXPECT_EQ(b[3], 0.0);
    EXPECT_EQ(b[4], 0.0);
    c.Resize(0);
    EXPECT_EQ(c.GetSize(), 0);
    EXPECT_EQ(c.GetData(), nullptr);
    EXPECT_FALSE(c.Resize(-1));
    EXPECT_EQ(CVector(4)[3], 0.0);

    CVector copy;
    copy = v;
    v[0] = 9.0;
    EXPECT_EQ(copy[0], 1.0);

    CMatrix m(3, 2);
    m.SetAt(5.0, 0, 0);
    m.SetAt(6.0, 2, 0);
    m.SetAt(7.0, 2, 1);
    CVector fromM;
    fromM = m;
    ASSERT_EQ(fromM.GetSize(), 3);
    EXPECT_EQ(fromM[0], 5.0);
    EXPECT_EQ(fromM[2], 6.0);
}

TEST(VectorArithmetic, NormsProductsAndElementwise)
{
    const CVector a = Vec({3, -4, 12}), b = Vec({1, 2, -0.5});
    EXPECT_EQ(a.Norm(), 13.0);
    EXPECT_EQ(CVector().Norm(), 0.0);
    EXPECT_EQ(a.Dot(b), 3.0 - 8.0 - 6.0);
    EXPECT_EQ(CVector().Dot(a), 0.0);
    const CVector sum = a + b, diff = a - b, scaled = a * -2.0;
    EXPECT_EQ(sum[2], 11.5);
    EXPECT_EQ(diff[1], -6.0);
    EXPECT_EQ(scaled[0], -6.0);
    CVector s(a);
    s.Scale(0.5);
    EXPECT_EQ(s[1], -2.0);
    // A shorter operand only touches the common elements.
    CVector longer = Vec({1, 1, 1, 1});
    longer += Vec({1, 2});
    EXPECT_EQ(longer[1], 3.0);
    EXPECT_EQ(longer[3], 1.0);

    int at = -5;
    EXPECT_EQ(Vec({3, 1, 1}).GetMin(&at), 1.0);
    EXPECT_EQ(at, 1);
    EXPECT_EQ(Vec({4}).GetMin(&at), 4.0);
    EXPECT_EQ(at, 0);
    EXPECT_EQ(Vec({2, -7}).GetMin(nullptr), -7.0);
}

TEST(VectorGeometry, CrossAnglesAndPerpendicularAxes)
{
    CVector c;
    ASSERT_TRUE(c.SetCross(Vec({1, 0, 0}), Vec({0, 1, 0})));
    EXPECT_EQ(c[2], 1.0);
    CVector self = Vec({1, 2, 3});
    ASSERT_TRUE(self.SetCross(self, Vec({4, 5, 6})));   // the operand may be the target
    EXPECT_EQ(self[0], 2 * 6 - 3 * 5);
    EXPECT_EQ(self[1], 3 * 4 - 1 * 6);
    EXPECT_EQ(self[2], 1 * 5 - 2 * 4);
    EXPECT_FALSE(c.SetCross(Vec({1, 2}), Vec({0, 1, 0})));

    EXPECT_NEAR(Vec({1, 0, 0}).AngleTo(Vec({1, 1, 0})), M_PI / 4, 1e-15);
    EXPECT_NEAR(Vec({1, 0, 0}).AngleTo(Vec({-3, 0, 0})), M_PI, 1e-15);
    EXPECT_EQ(Vec({0, 2, 0}).AngleTo(Vec({0, 5, 0})), 0.0);

    CVector n = Vec({3, 0, 4});
    n.Normalize();
    EXPECT_NEAR(n[0], 0.6, 1e-16);
    EXPECT_NEAR(n[2], 0.8, 1e-16);

    CVector x = Vec({1, 0, 0}), u, v;
    ASSERT_TRUE(x.MakePerpendicularAxes(u, v));
    EXPECT_EQ(u[0], 0.0);
    EXPECT_EQ(u[1], 0.0);
    EXPECT_EQ(u[2], -1.0);
    EXPECT_EQ(v[1], 1.0);

    // v is formed before the direction is normalised, so for any direction
    // u is a unit axis, v = d x u has the length of d, u x v gives d back,
    // and d ends normalised.
    const CVector orig = Vec({0.2, -3.0, 1.7});
    CVector d(orig);
    ASSERT_TRUE(d.MakePerpendicularAxes(u, v));
    EXPECT_NEAR(d.Norm(), 1.0, 1e-15);
    EXPECT_NEAR(u.Norm(), 1.0, 1e-15);
    EXPECT_NEAR(v.Norm(), orig.Norm(), 1e-14);
    EXPECT_NEAR(u.Dot(d), 0.0, 1e-15);
    EXPECT_NEAR(v.Dot(d), 0.0, 1e-15);
    EXPECT_NEAR(u.Dot(v), 0.0, 1e-15);
    CVector w;
    w.SetCross(u, v);
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(w[i], orig[i], 1e-14);
}

TEST(VectorMatrixProducts, MatchNaiveProductsAndRefuseWrongShapes)
{
    std::mt19937 gen(31);
    const dense::Mat A = dense::Random(4, 3, gen);
    const dense::Mat S = [&] {
        dense::Mat r = dense::RandomSpd(4, gen);
        return r;
    }();
    const CMatrix a = FullOf(A), s = PackedOf(S);
    const CVector x4 = Vec({0.5, -1.0, 2.0, 0.25}), x3 = Vec({1.5, -0.5, 3.0});

    CVector r = Vec({1, 2, 3});
    ASSERT_TRUE(r.AddAtv(a, x4));
    for (int j = 0; j < 3; ++j) {
        double e = j + 1.0;
        for (int i = 0; i < 4; ++i)
            e += A(i, j) * x4[i];
        EXPECT_NEAR(r[j], e, 1e-14);
    }
    CVector back(r);
    ASSERT_TRUE(back.SubtractAtv(a, x4));
    for (int j = 0; j < 3; ++j)
        EXPECT_NEAR(back[j], j + 1.0, 1e-14);

    CVector ats(3);
    ASSERT_TRUE(ats.AddAtSv(a, s, x4));
    const dense::Mat e1 = dense::Multiply(dense::Multiply(dense::Transpose(A), S), [&] {
        dense::Mat m(4, 1);
        for (int i = 0; i < 4; ++i)
            m(i, 0) = x4[i];
        return m;
    }());
    for (int j = 0; j < 3; ++j)
        EXPECT_NEAR(ats[j], e1(j, 0), 1e-13);

    CVector sv(4);
    ASSERT_TRUE(sv.AddSv(s, x4));
    for (int i = 0; i < 4; ++i) {
        double e = 0.0;
        for (int k = 0; k < 4; ++k)
            e += S(i, k) * x4[k];
        EXPECT_NEAR(sv[i], e, 1e-13);
    }

    CVector av(4), sav(4);
    ASSERT_TRUE(av.AddAv(a, x3));
    ASSERT_TRUE(sav.SubtractAv(a, x3));
    for (int i = 0; i < 4; ++i) {
        double e = 0.0;
        for (int k = 0; k < 3; ++k)
            e += A(i, k) * x3[k];
        EXPECT_NEAR(av[i], e, 1e-14);
        EXPECT_NEAR(sav[i], -e, 1e-14);
    }

    // Wrong shapes change nothing.
    CMatrix a23(2, 3);
    CVector two = Vec({1, 2}), keep = Vec({7, 8});
    EXPECT_FALSE(keep.AddAv(a23, two));
    EXPECT_EQ(keep[0], 7.0);
    EXPECT_EQ(keep[1], 8.0);
    EXPECT_FALSE(r.AddAtv(s, x4));                 // packed A
    EXPECT_FALSE(r.AddAtv(a, x3));                 // rows against size
    EXPECT_FALSE(sv.AddSv(a, x4));                 // S must be packed
    EXPECT_FALSE(ats.AddAtSv(a, FullOf(S), x4));
    CVector wrongSize(5);
    EXPECT_FALSE(wrongSize.AddAv(a, x3));
    EXPECT_FALSE(wrongSize.AddAtv(a, x4));
}

TEST(ValueSeries, MeanStandardDeviationAndMaximum)
{
    CValueSeries s(3);
    s[0] = 1.0;
    s[1] = 2.0;
    s[2] = 3.0;
    EXPECT_EQ(s.Mean(), 2.0);
    EXPECT_EQ(s.StdDev(2.0), 1.0);
    EXPECT_EQ(s.StdDev(0.0), std::sqrt(14.0 / 2.0));   // about the given mean
    EXPECT_EQ(s.Max(), 3.0);

    CValueSeries one(1);
    one[0] = 5.0;
    EXPECT_EQ(one.StdDev(5.0), 0.0);
    CValueSeries neg(2);
    neg[0] = -5.0;
    neg[1] = -2.0;
    EXPECT_EQ(neg.Max(), -2.0);
    CValueSeries empty;
    EXPECT_EQ(empty.Mean(), 0.0);
    EXPECT_EQ(empty.Max(), 0.0);
    EXPECT_EQ(empty.StdDev(0.0), 0.0);
}

TEST(IntVector, SizingCopiesAndArchive)
{
    CIntVector v;
    ASSERT_TRUE(v.SetSize(2));
    v[0] = 7;
    v[1] = -1;
    CIntVector copy(v);
    v[0] = 3;
    EXPECT_EQ(copy[0], 7);
    ASSERT_TRUE(copy.SetSize(4));
    EXPECT_EQ(copy[1], -1);
    EXPECT_EQ(copy[3], 0);
    copy.SetSize(2);

    std::stringbuf buf;
    {
        CBinArchive ar(&buf, std::ios::out);
        ASSERT_TRUE(copy.Serialize(ar));
    }
    EXPECT_EQ(buf.str(), std::string("\x02\x00\x00\x00\x07\x00\x00\x00\xFF\xFF\xFF\xFF", 12));
    CBinArchive in(&buf, std::ios::in);
    CIntVector back;
    ASSERT_TRUE(back.Serialize(in));
    ASSERT_EQ(back.GetSize(), 2);
    EXPECT_EQ(back[0], 7);
    EXPECT_EQ(back[1], -1);
}

TEST(IntVector, HostileCountsFailWithoutAllocating)
{
    auto load = [](const std::string& bytes, CIntVector& v) {
        std::stringbuf buf(bytes);
        CBinArchive ar(&buf, std::ios::in);
        const bool ok = v.Serialize(ar);
        EXPECT_EQ(ok, static_cast<bool>(ar));
        return ok;
    };
    CIntVector v;
    v.SetSize(3);
    EXPECT_FALSE(load(std::string("\xFF\xFF\xFF\xFF", 4), v));                      // -1
    EXPECT_EQ(v.GetSize(), 0);
    EXPECT_FALSE(load(std::string("\xFF\xFF\xFF\x7F", 4), v));                      // 2^31 - 1
    EXPECT_FALSE(load(std::string("\x03\x00\x00\x00\x01\x00\x00\x00", 8), v));      // 3 announced, 1 there
    EXPECT_FALSE(load(std::string("\x01\x00", 2), v));                              // truncated count
    EXPECT_EQ(v.GetSize(), 0);
    EXPECT_TRUE(load(std::string("\x00\x00\x00\x00", 4), v));
}
