#include "BinArchive.h"
#include "DenseAlgebra.h"
#include "Matrix.h"
#include "Vector.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

// A packed target takes the upper triangle of d (d should be symmetric).
CMatrix FromDense(const dense::Mat& d, bool packed)
{
    CMatrix m(d.rows, packed ? -1 : d.cols);
    for (int i = 0; i < d.rows; ++i)
        for (int j = packed ? i : 0; j < d.cols; ++j)
            m.SetAt(d(i, j), i, j);
    return m;
}

dense::Mat Symmetrise(const dense::Mat& a)
{
    dense::Mat s(a.rows, a.cols);
    for (int i = 0; i < a.rows; ++i)
        for (int j = 0; j < a.cols; ++j)
            s(i, j) = 0.5 * (a(i, j) + a(j, i));
    return s;
}

// Compares the stored part of m (the upper triangle when packed) with d.
void ExpectNear(const CMatrix& m, const dense::Mat& d, double tol)
{
    ASSERT_EQ(m.GetRows(), d.rows);
    const int w = m.IsSymmetric() ? m.GetRows() : m.GetCols();
    ASSERT_EQ(w, d.cols);
    for (int i = 0; i < d.rows; ++i)
        for (int j = m.IsSymmetric() ? i : 0; j < d.cols; ++j)
            ASSERT_NEAR(m.GetAt(i, j), d(i, j), tol) << "element " << i << ", " << j;
}

std::string Bytes(std::stringbuf& buf)
{
    return buf.str();
}

} // namespace

TEST(MatrixStorage, PackedFormStoresUpperTriangleAndMirrorsAccess)
{
    CMatrix m(3, -1);
    EXPECT_TRUE(m.IsSymmetric());
    EXPECT_EQ(m.GetCols(), -1);
    EXPECT_EQ(m.GetStoredCount(), 6u);
    m.SetAt(7.5, 2, 0);   // lands in the stored (0, 2)
    EXPECT_EQ(*m.GetRowPtrUnmapped(0, 2), 7.5);
    EXPECT_EQ(m.GetAt(0, 2), 7.5);
    EXPECT_EQ(m.GetAt(2, 0), 7.5);
    m.SetAt(-1.0, 1, 1);
    EXPECT_EQ(*m.GetRowPtrUnmapped(1, 0), -1.0);   // the diagonal opens each row
    EXPECT_EQ(m.GetElementPtr(2, 1), m.GetElementPtr(1, 2));

    CMatrix neg(2, -5);   // any negative column count is the packed form
    EXPECT_EQ(neg.GetCols(), -1);
    EXPECT_EQ(CMatrix(4, 3).GetStoredCount(), 12u);
}

TEST(MatrixStorage, ResizeZeroesSameShapeAndFreesForNoRows)
{
    CMatrix m(2, 3);
    m.SetAt(4.0, 1, 2);
    double* const* before = m.GetRowTable();
    EXPECT_TRUE(m.Resize(2, 3));
    EXPECT_EQ(m.GetRowTable(), before);
    EXPECT_EQ(m.GetAt(1, 2), 0.0);

    EXPECT_TRUE(m.Resize(0, 5));
    EXPECT_EQ(m.GetRowTable(), nullptr);
    EXPECT_EQ(m.GetStoredCount(), 0u);

    EXPECT_FALSE(m.Resize(-1, 2));
    EXPECT_EQ(m.GetRows(), 0);

    EXPECT_TRUE(m.Resize(3, -1));
    EXPECT_EQ(m.GetStoredCount(), 6u);
}

TEST(MatrixStorage, ResizePreserveKeepsEveryElementInPlace)
{
    std::mt19937 gen(11);
    const dense::Mat d = Symmetrise(dense::Random(5, 5, gen));
    CMatrix p = FromDense(d, true);
    ASSERT_TRUE(p.ResizePreserve(9, -1));
    ASSERT_EQ(p.GetRows(), 9);
    for (int i = 0; i < 9; ++i)
        for (int j = 0; j < 9; ++j)
            EXPECT_EQ(p.GetAt(i, j), i < 5 && j < 5 ? d(i, j) : 0.0);

    const dense::Mat f = dense::Random(2, 3, gen);
    CMatrix full = FromDense(f, false);
    ASSERT_TRUE(full.ResizePreserve(4, 5));
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 5; ++j)
            EXPECT_EQ(full.GetAt(i, j), i < 2 && j < 3 ? f(i, j) : 0.0);
}

TEST(MatrixStorage, CopiesAreDeepAndKeepTheForm)
{
    std::mt19937 gen(3);
    const dense::Mat d = Symmetrise(dense::Random(4, 4, gen));
    CMatrix a = FromDense(d, true);
    CMatrix b(a);
    CMatrix c(2, 7);
    c = a;
    EXPECT_TRUE(b.IsSymmetric());
    EXPECT_TRUE(c == a);
    a.SetAt(100.0, 0, 3);
    EXPECT_EQ(b.GetAt(0, 3), d(0, 3));
    EXPECT_EQ(c.GetAt(3, 0), d(0, 3));

    CVector v(3);
    v[0] = 1.0;
    v[1] = 2.0;
    v[2] = 3.0;
    CMatrix col(v);
    EXPECT_EQ(col.GetRows(), 3);
    EXPECT_EQ(col.GetCols(), 1);
    EXPECT_EQ(col.GetAt(2, 0), 3.0);
    CMatrix col2;
    col2 = v;
    EXPECT_TRUE(col2 == col);
}

TEST(MatrixStorage, DiagonalBlockAndColumns)
{
    CMatrix wide(2, 3);
    wide.SetAt(1.0, 0, 0);
    const CMatrix before(wide);
    EXPECT_FALSE(wide.SetDiagonal(5.0));
    EXPECT_TRUE(wide == before);

    CMatrix sq(3, 3);
    EXPECT_TRUE(sq.SetDiagonal(2.0));
    EXPECT_EQ(sq.GetAt(1, 1), 2.0);
    EXPECT_EQ(sq.GetAt(0, 1), 0.0);
    EXPECT_FALSE(sq.HasNonNegativeDiagonal());   // full matrices never qualify

    CMatrix p(3, -1);
    p.SetAt(-1.0, 0, 2);
    EXPECT_TRUE(p.SetDiagonal(1.0));
    EXPECT_TRUE(p.HasNonNegativeDiagonal());
    p.SetAt(-1e-300, 2, 2);
    EXPECT_FALSE(p.HasNonNegativeDiagonal());

    std::mt19937 gen(5);
    const dense::Mat s = Symmetrise(dense::Random(6, 6, gen));
    CMatrix ps = FromDense(s, true), fs = FromDense(s, false);
    CMatrix blockP, blockF;
    ASSERT_TRUE(ps.GetBlock(blockP, 2, 4));
    ASSERT_TRUE(fs.GetBlock(blockF, 2, 4));
    EXPECT_TRUE(blockP.IsSymmetric());
    EXPECT_FALSE(blockF.IsSymmetric());
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            EXPECT_EQ(blockP.GetAt(i, j), s(2 + i, 2 + j));
            EXPECT_EQ(blockF.GetAt(i, j), s(2 + i, 2 + j));
        }
    EXPECT_FALSE(ps.GetBlock(blockP, 4, 6));

    CVector a(3), b(3), c(3), shortv(2);
    for (int i = 0; i < 3; ++i) {
        a[i] = i + 1.0;
        b[i] = 10.0 * (i + 1);
        c[i] = -(i + 1.0);
    }
    CMatrix cols;
    EXPECT_FALSE(cols.SetColumns(a, shortv, c));
    ASSERT_TRUE(cols.SetColumns(a, b, c));
    EXPECT_EQ(cols.GetAt(1, 0), 2.0);
    EXPECT_EQ(cols.GetAt(2, 1), 30.0);
    EXPECT_EQ(cols.GetAt(0, 2), -1.0);
}

TEST(MatrixArithmetic, ElementwiseTransposeAndProducts)
{
    std::mt19937 gen(8);
    const dense::Mat da = dense::Random(3, 4, gen), db = dense::Random(3, 4, gen), dc = dense::Random(4, 2, gen);
    const CMatrix a = FromDense(da, false), b = FromDense(db, false), c = FromDense(dc, false);

    const CMatrix sum = a + b, diff = a - b, scaled = a * 2.5;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 4; ++j) {
            EXPECT_EQ(sum.GetAt(i, j), da(i, j) + db(i, j));
            EXPECT_EQ(diff.GetAt(i, j), da(i, j) - db(i, j));
            EXPECT_EQ(scaled.GetAt(i, j), da(i, j) * 2.5);
        }

    CMatrix t(a);
    ASSERT_TRUE(t.Transpose());
    EXPECT_EQ(t.GetRows(), 4);
    EXPECT_EQ(t.GetCols(), 3);
    ExpectNear(t, dense::Transpose(da), 0.0);

    const CMatrix prod = a * c;
    ExpectNear(prod, dense::Multiply(da, dc), 1e-14);
    CMatrix m(a);
    EXPECT_FALSE(m.MultiplyRight(a));   // 4 columns against 3 rows
    EXPECT_TRUE(m == a);
    m *= c;
    EXPECT_TRUE(m == prod);

    // == tells the forms apart even for equal values
    const dense::Mat s = Symmetrise(dense::Random(3, 3, gen));
    EXPECT_FALSE(FromDense(s, true) == FromDense(s, false));
    EXPECT_TRUE(FromDense(s, true) == FromDense(s, true));
    CMatrix s2 = FromDense(s, true);
    s2.SetAt(s2.GetAt(1, 2) + 1e-15, 2, 1);
    EXPECT_FALSE(s2 == FromDense(s, true));
}

// Every accumulator against the naive product, with full and packed operands
// and targets.
TEST(MatrixAccumulators, MatchNaiveProducts)
{
    std::mt19937 gen(21);
    const double tol = 1e-13;
    const dense::Mat A = dense::Random(7, 5, gen);
    const CMatrix a = FromDense(A, false);
    const dense::Mat start = Symmetrise(dense::Random(5, 5, gen));

    // A'A, added and subtracted, into a packed target already holding values.
    for (int sign : {1, -1}) {
        CMatrix t = FromDense(start, true);
        ASSERT_TRUE(t.AddAtA(a, sign));
        dense::Mat expect = dense::Multiply(dense::Transpose(A), A);
        for (size_t k = 0; k < expect.v.size(); ++k)
            expect.v[k] = start.v[k] + sign * expect.v[k];
        ExpectNear(t, expect, tol);
    }
    CMatrix unchanged = FromDense(start, true);
    EXPECT_TRUE(unchanged.AddAtA(a, 2));
    EXPECT_TRUE(unchanged == FromDense(start, true));

    // AA' times a factor; a full target receives the whole product.
    {
        CMatrix t(7, -1), tf(7, 7);
        ASSERT_TRUE(t.AddAAt(a, 3));
        ASSERT_TRUE(tf.AddAAt(a, 3));
        dense::Mat expect = dense::Multiply(A, dense::Transpose(A));
        for (double& x : expect.v)
            x *= 3.0;
        ExpectNear(t, expect, tol);
        ExpectNear(tf, expect, tol);
    }

    // The three modes of AddProduct, with a packed left operand too.
    const dense::Mat B = dense::Random(5, 6, gen);       // A B
    const dense::Mat C = dense::Random(7, 6, gen);       // A' C
    const dense::Mat D = dense::Random(4, 5, gen);       // A D'
    const dense::Mat S = Symmetrise(dense::Random(5, 5, gen));
    {
        CMatrix t0(7, 6), t1(5, 6), t2(7, 4), tS(5, 6);
        ASSERT_TRUE(t0.AddProduct(a, FromDense(B, false), 0, 1));
        ASSERT_TRUE(t1.AddProduct(a, FromDense(C, false), 1, -1));
        ASSERT_TRUE(t2.AddProduct(a, FromDense(D, false), 2, 2));
        ASSERT_TRUE(tS.AddProduct(FromDense(S, true), FromDense(B, false), 0, 1));
        ExpectNear(t0, dense::Multiply(A, B), tol);
        dense::Mat e1 = dense::Multiply(dense::Transpose(A), C);
        for (double& x : e1.v)
            x = -x;
        ExpectNear(t1, e1, tol);
        dense::Mat e2 = dense::Multiply(A, dense::Transpose(D));
        for (double& x : e2.v)
            x *= 2.0;
        ExpectNear(t2, e2, tol);
        ExpectNear(tS, dense::Multiply(S, B), tol);

        // M = S^-1-like packed block times a tall matrix transposed (mode 2
        // with a packed left operand), as the point folding forms it.
        const dense::Mat T = dense::Random(9, 5, gen);
        CMatrix m(5, 9);
        ASSERT_TRUE(m.AddProduct(FromDense(S, true), FromDense(T, false), 2, 1));
        ExpectNear(m, dense::Multiply(S, dense::Transpose(T)), tol);

        CMatrix bad(7, 6);
        EXPECT_FALSE(bad.AddProduct(a, FromDense(C, false), 0, 1));   // 5 columns against 7 rows
        EXPECT_TRUE(bad == CMatrix(7, 6));
        EXPECT_TRUE(bad.AddProduct(a, FromDense(B, false), 3, 1));    // unknown mode adds nothing
        EXPECT_TRUE(bad == CMatrix(7, 6));
    }

    // Packed target += / -= A B (a symmetric product N M as in point folding).
    {
        const dense::Mat P = dense::Random(6, 3, gen);
        const dense::Mat M = dense::Transpose(P);
        const dense::Mat base = Symmetrise(dense::Random(6, 6, gen));
        CMatrix t = FromDense(base, true), u = FromDense(base, true);
        ASSERT_TRUE(t.AddProductSym(FromDense(P, false), FromDense(M, false)));
        ASSERT_TRUE(u.SubtractProductSym(FromDense(P, false), FromDense(M, false)));
        const dense::Mat pm = dense::Multiply(P, M);
        dense::Mat ep(base), em(base);
        for (size_t k = 0; k < pm.v.size(); ++k) {
            ep.v[k] += pm.v[k];
            em.v[k] -= pm.v[k];
        }
        ExpectNear(t, ep, tol);
        ExpectNear(u, em, tol);
        CMatrix full(6, 6), small(5, -1);
        EXPECT_FALSE(full.AddProductSym(FromDense(P, false), FromDense(M, false)));
        EXPECT_FALSE(small.SubtractProductSym(FromDense(P, false), FromDense(M, false)));
        EXPECT_FALSE(t.AddProductSym(FromDense(P, false), FromDense(P, false)));
    }

    // A S A' with S packed, plain and augmented (one extra row and column).
    {
        const dense::Mat J = dense::Random(4, 5, gen);
        CMatrix t(4, -1), ta(4, -1);
        ASSERT_TRUE(t.AddCongruence(FromDense(J, false), FromDense(S, true)));
        dense::Mat Sa = Symmetrise(dense::Random(6, 6, gen));
        for (int i = 0; i < 5; ++i)
            for (int j = 0; j < 5; ++j)
                Sa(i, j) = S(i, j);
        ASSERT_TRUE(ta.AddCongruence(FromDense(J, false), FromDense(Sa, true)));
        const dense::Mat e = dense::Multiply(dense::Multiply(J, S), dense::Transpose(J));
        ExpectNear(t, e, tol);
        ExpectNear(ta, e, tol);
        CMatrix wrong(5, -1);
        EXPECT_FALSE(wrong.AddCongruence(FromDense(J, false), FromDense(S, true)));
        EXPECT_FALSE(t.AddCongruence(FromDense(J, false), FromDense(S, false)));
    }

    // A' S into a full target.
    {
        const dense::Mat S7 = Symmetrise(dense::Random(7, 7, gen));
        CMatrix t(5, 7);
        ASSERT_TRUE(t.AddAtS(a, FromDense(S7, true)));
        ExpectNear(t, dense::Multiply(dense::Transpose(A), S7), tol);
        CMatrix wrong(7, 5);
        EXPECT_FALSE(wrong.AddAtS(a, FromDense(S7, true)));
    }

    // v' S v into element (0, 0).
    {
        CVector v(5);
        for (int i = 0; i < 5; ++i)
            v[i] = 0.3 * i - 0.7;
        double q = 0.0;
        for (int i = 0; i < 5; ++i)
            for (int j = 0; j < 5; ++j)
                q += v[i] * S(i, j) * v[j];
        CMatrix t(1, 1);
        t.SetAt(2.0, 0, 0);
        EXPECT_NEAR(t.AddQuadraticForm(v, FromDense(S, true)), 2.0 + q, tol);
        EXPECT_NEAR(t.GetAt(0, 0), 2.0 + q, tol);
    }
}

TEST(MatrixAccumulators, AddBlockPlacesFullAndPackedBlocks)
{
    CMatrix t(6, -1);
    CMatrix sym(2, -1);
    sym.SetAt(1.0, 0, 0);
    sym.SetAt(2.0, 0, 1);
    sym.SetAt(3.0, 1, 1);
    ASSERT_TRUE(t.AddBlock(sym, 3, 0));
    EXPECT_EQ(t.GetAt(3, 3), 1.0);
    EXPECT_EQ(t.GetAt(4, 3), 2.0);
    EXPECT_EQ(t.GetAt(4, 4), 3.0);

    CMatrix full(2, 3);
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 3; ++j)
            full.SetAt(10.0 * i + j + 1, i, j);
    // offset counts from the block's first row: (1 + i, 1 + 2 + j)
    ASSERT_TRUE(t.AddBlock(full, 1, 2));
    EXPECT_EQ(t.GetAt(1, 3), 1.0);
    EXPECT_EQ(t.GetAt(2, 5), 13.0);
    EXPECT_EQ(t.GetAt(1, 2), 0.0);
    ASSERT_TRUE(t.AddBlock(full, 2, 1));     // (2, 3) collects again
    EXPECT_EQ(t.GetAt(2, 3), 11.0 + 1.0);

    const CMatrix before(t);
    EXPECT_FALSE(t.AddBlock(full, 3, 2));    // would reach column 7
    EXPECT_FALSE(t.AddBlock(sym, 5, 0));     // would reach row 6
    EXPECT_TRUE(t == before);
}

// The engine accumulates into blocks of one large packed normal matrix through
// views; the result must be the naive accumulation at the same offsets, and
// nothing outside the blocks may change.
TEST(MatrixBlockViews, AccumulateIntoLargePackedMatrixAtOffsets)
{
    std::mt19937 gen(42);
    const int n = 53;
    const dense::Mat base = Symmetrise(dense::Random(n, n, gen));
    CMatrix N = FromDense(base, true);
    dense::Mat expect = base;

    struct Ray
    {
        int c0, s0;
    };
    const Ray rays[] = {{0, 20}, {10, 26}, {0, 44}, {10, 32}, {3, 45}};
    for (const Ray& r : rays) {
        const dense::Mat A = dense::Random(2, 10, gen), B = dense::Random(2, 6, gen);
        CMatrixBlock cc, ss, cs;
        ASSERT_TRUE(cc.AttachSymmetric(N, r.c0, 0, 10, 10));
        ASSERT_TRUE(ss.AttachSymmetric(N, r.s0, 0, 6, 6));
        ASSERT_TRUE(cs.Attach(N, r.c0, r.s0 - r.c0, 10, 6));
        ASSERT_TRUE(cc.AddAtA(FromDense(A, false), 1));
        ASSERT_TRUE(ss.AddAtA(FromDense(B, false), 1));
        ASSERT_TRUE(cs.AddProduct(FromDense(A, false), FromDense(B, false), 1, 1));
        const dense::Mat aa = dense::Multiply(dense::Transpose(A), A);
        const dense::Mat bb = dense::Multiply(dense::Transpose(B), B);
        const dense::Mat ab = dense::Multiply(dense::Transpose(A), B);
        for (int i = 0; i < 10; ++i)
            for (int j = i; j < 10; ++j) {
                expect(r.c0 + i, r.c0 + j) += aa(i, j);
                if (i != j)
                    expect(r.c0 + j, r.c0 + i) += aa(i, j);
            }
        for (int i = 0; i < 6; ++i)
            for (int j = i; j < 6; ++j) {
                expect(r.s0 + i, r.s0 + j) += bb(i, j);
                if (i != j)
                    expect(r.s0 + j, r.s0 + i) += bb(i, j);
            }
        for (int i = 0; i < 10; ++i)
            for (int j = 0; j < 6; ++j) {
                expect(r.c0 + i, r.s0 + j) += ab(i, j);
                expect(r.s0 + j, r.c0 + i) += ab(i, j);
            }
    }
    // A rank-3 update of the trailing block, as a folded point subtracts it.
    {
        const int off = 17, m = n - off;
        const dense::Mat P = dense::Random(m, 3, gen);
        const dense::Mat M = dense::Transpose(P);
        CMatrixBlock tail;
        ASSERT_TRUE(tail.AttachSymmetric(N, off, 0, m, m));
        ASSERT_TRUE(tail.SubtractProductSym(FromDense(P, false), FromDense(M, false)));
        const dense::Mat pm = dense::Multiply(P, M);
        for (int i = 0; i < m; ++i)
            for (int j = 0; j < m; ++j)
                expect(off + i, off + j) -= pm(i, j);
    }
    ExpectNear(N, expect, 1e-13);
}

TEST(MatrixBlockViews, AttachBoundsAndElementMapping)
{
    CMatrix full(4, 5);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 5; ++j)
            full.SetAt(10.0 * i + j, i, j);
    CMatrixBlock v;
    EXPECT_FALSE(v.Attach(full, 2, 0, 3, 2));
    ASSERT_TRUE(v.Attach(full, 1, 2, 3, 3));
    EXPECT_FALSE(v.IsSymmetric());
    EXPECT_EQ(v.GetAt(0, 0), 12.0);
    EXPECT_EQ(v.GetAt(2, 2), 34.0);
    EXPECT_FALSE(v.Attach(full, 0, 3, 2, 3));   // a failed attach leaves the view as it was
    EXPECT_EQ(v.GetAt(0, 0), 12.0);

    CMatrix p(8, -1);
    for (int i = 0; i < 8; ++i)
        for (int j = i; j < 8; ++j)
            p.SetAt(100.0 * i + j, i, j);
    CMatrixBlock b;
    ASSERT_TRUE(b.Attach(p, 1, 3, 2, 4));        // elements (1 + i, 4 + j)
    EXPECT_EQ(b.GetAt(0, 0), 104.0);
    EXPECT_EQ(b.GetAt(1, 3), 207.0);
    EXPECT_FALSE(b.Attach(p, 1, 3, 2, 5));       // would reach column 8
    EXPECT_FALSE(b.Attach(p, 2, 1, 3, 2));       // would reach below the diagonal
    CMatrixBlock s;
    ASSERT_TRUE(s.AttachSymmetric(p, 5, 0, 3, 3));
    EXPECT_TRUE(s.IsSymmetric());
    EXPECT_EQ(s.GetAt(0, 0), 505.0);
    EXPECT_EQ(s.GetAt(2, 1), 607.0);
    EXPECT_FALSE(s.AttachSymmetric(p, 6, 0, 3, 3));
    EXPECT_FALSE(s.AttachSymmetric(p, 4, 2, 3, 3)); // last row would reach column 9
}

// A view never frees or reallocates its source: shape changes are refused,
// assignments of the same shape write into the source's elements.
TEST(MatrixBlockViews, ViewNeverOwnsOrReallocatesItsSource)
{
    CMatrix p(6, -1);
    for (int i = 0; i < 6; ++i)
        for (int j = i; j < 6; ++j)
            p.SetAt(1.0 + i + j, i, j);
    const CMatrix original(p);
    double* const* table = p.GetRowTable();
    {
        CMatrixBlock v;
        ASSERT_TRUE(v.AttachSymmetric(p, 2, 0, 2, 2));
        EXPECT_TRUE(v.IsView());
        EXPECT_FALSE(v.Resize(5, 5));
        EXPECT_FALSE(v.ResizePreserve(4, -1));
        CMatrix other(3, 3);
        v = other;                                   // refused: shape differs
        EXPECT_EQ(v.GetRows(), 2);
        EXPECT_TRUE(p == original);
        CVector vec(3);
        v = vec;                                     // refused as well
        EXPECT_TRUE(p == original);

        CMatrix sym(2, -1);
        sym.SetAt(-1.0, 0, 0);
        sym.SetAt(-2.0, 0, 1);
        sym.SetAt(-3.0, 1, 1);
        v = sym;                                     // same shape: values land in p
        EXPECT_EQ(p.GetAt(2, 2), -1.0);
        EXPECT_EQ(p.GetAt(3, 2), -2.0);
        EXPECT_EQ(p.GetAt(3, 3), -3.0);

        EXPECT_TRUE(v.Resize(2, -1));                // same shape: zeroes the viewed elements only
        EXPECT_EQ(p.GetAt(2, 3), 0.0);
        EXPECT_EQ(p.GetAt(2, 4), original.GetAt(2, 4));
        EXPECT_EQ(p.GetAt(1, 2), original.GetAt(1, 2));

        CMatrix copy(v);                             // a copy of a view owns its values
        EXPECT_FALSE(copy.IsView());
        EXPECT_TRUE(copy.Resize(4, 4));

        CMatrixBlock fullView;
        ASSERT_TRUE(fullView.Attach(p, 0, 4, 2, 2));
        EXPECT_FALSE(fullView.MultiplyRight(CMatrix(2, 3)));
        EXPECT_TRUE(fullView.Transpose());           // square: in place
        EXPECT_EQ(p.GetAt(0, 5), original.GetAt(1, 4));
    }
    // The views are gone; the source still has its storage and values.
    EXPECT_EQ(p.GetRowTable(), table);
    EXPECT_EQ(p.GetAt(5, 5), original.GetAt(5, 5));
}

TEST(MatrixArchive, LayoutAndRoundTrip)
{
    CMatrix p(2, -1);
    p.SetAt(1.0, 0, 0);
    p.SetAt(2.0, 0, 1);
    p.SetAt(-0.5, 1, 1);
    std::stringbuf buf;
    {
        CBinArchive ar(&buf, std::ios::out);
        ASSERT_TRUE(p.Serialize(ar));
    }
    const std::string bytes = Bytes(buf);
    ASSERT_EQ(bytes.size(), 8u + 3 * 8);
    EXPECT_EQ(bytes.substr(0, 8), std::string("\x02\x00\x00\x00\xFF\xFF\xFF\xFF", 8));
    EXPECT_EQ(bytes.substr(8, 8), std::string("\x00\x00\x00\x00\x00\x00\xF0\x3F", 8));
    EXPECT_EQ(bytes.substr(24, 8), std::string("\x00\x00\x00\x00\x00\x00\xE0\xBF", 8));

    std::mt19937 gen(9);
    const CMatrix f = FromDense(dense::Random(3, 4, gen), false);
    const CMatrix s = FromDense(Symmetrise(dense::Random(5, 5, gen)), true);
    std::stringbuf buf2;
    {
        CBinArchive ar(&buf2, std::ios::out);
        CMatrix empty;
        ASSERT_TRUE(CMatrix(f).Serialize(ar));
        ASSERT_TRUE(CMatrix(s).Serialize(ar));
        ASSERT_TRUE(empty.Serialize(ar));
    }
    CBinArchive in(&buf2, std::ios::in);
    CMatrix rf, rs, re(2, 2);
    ASSERT_TRUE(rf.Serialize(in));
    ASSERT_TRUE(rs.Serialize(in));
    ASSERT_TRUE(re.Serialize(in));
    EXPECT_TRUE(rf == f);
    EXPECT_TRUE(rs == s);
    EXPECT_EQ(re.GetRows(), 0);
}

TEST(MatrixArchive, HostileInputFailsCleanly)
{
    auto load = [](const std::string& bytes, CMatrix& m) {
        std::stringbuf buf(bytes);
        CBinArchive ar(&buf, std::ios::in);
        const bool ok = m.Serialize(ar);
        EXPECT_EQ(ok, static_cast<bool>(ar));
        return ok;
    };
    auto ints = [](int32_t a, int32_t b) {
        std::string s(8, '\0');
        for (int k = 0; k < 4; ++k) {
            s[k] = static_cast<char>((static_cast<uint32_t>(a) >> (8 * k)) & 0xFF);
            s[4 + k] = static_cast<char>((static_cast<uint32_t>(b) >> (8 * k)) & 0xFF);
        }
        return s;
    };
    CMatrix m;
    EXPECT_FALSE(load(ints(-3, 2), m));                               // negative rows
    EXPECT_FALSE(load(ints(2, -2) + std::string(24, '\0'), m));      // no such form, values or not
    EXPECT_FALSE(load(ints(0x7FFFFFFF, 0x7FFFFFFF), m));              // far more than the bytes
    EXPECT_FALSE(load(ints(0x7FFFFFFF, -1), m));                      // packed count beyond int
    EXPECT_FALSE(load(ints(2, -1) + std::string(16, '\0'), m));       // 3 doubles needed, 2 there
    EXPECT_FALSE(load(ints(0x40000000, 0), m));                       // no values, but a billion rows
    EXPECT_EQ(m.GetRows(), 0);
    EXPECT_FALSE(load(std::string("\x02\x00", 2), m));                // truncated header
    EXPECT_TRUE(load(ints(1, -1) + std::string(8, '\0'), m));
    EXPECT_EQ(m.GetRows(), 1);

    // A view loads only into its own shape.
    CMatrix src(4, 4);
    CMatrixBlock v;
    ASSERT_TRUE(v.Attach(src, 0, 0, 2, 2));
    EXPECT_FALSE(load(ints(3, 3) + std::string(72, '\0'), v));
    std::string two = ints(2, 2);
    for (int k = 0; k < 4; ++k)
        two += std::string("\x00\x00\x00\x00\x00\x00\xF0\x3F", 8);
    EXPECT_TRUE(load(two, v));
    EXPECT_EQ(src.GetAt(1, 1), 1.0);
    EXPECT_EQ(src.GetAt(2, 2), 0.0);
}

TEST(MatrixOutput, PrintAndWriteTextShowSymmetricMatricesInFull)
{
    CMatrix p(2, -1);
    p.SetAt(1.0, 0, 0);
    p.SetAt(-2.5, 0, 1);
    p.SetAt(3.25, 1, 1);
    testing::internal::CaptureStdout();
    p.Print();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "Matrix (2 x 2)\n"
                   "       1.0000      -2.5000\n"
                   "      -2.5000       3.2500\n");

    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("kestrelon_matrix_" + std::to_string(::getpid()) + ".txt");
    ASSERT_TRUE(p.WriteText(path.string().c_str()));
    std::ifstream f(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    std::filesystem::remove(path);
    EXPECT_EQ(text, "1.0000000000000000e+000\t-2.5000000000000000e+000\t\r\n"
                    "-2.5000000000000000e+000\t3.2500000000000000e+000\t\r\n");
}
