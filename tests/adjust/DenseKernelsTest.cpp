// The dense kernels of the bundle engine at every instruction set the
// processor runs, against sums written out here in long double: packed
// triangles and rectangles of sizes that leave partial tiles, packed columns
// that start inside a tile, and the symmetric products. Rows split between
// calls (as the engine's threads split them) give the same bits, and
// nothing outside the rows of a call is written.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "DenseKernels.h"

namespace dense_kernels_test {

using densekernel::Level;

// A packed upper triangle of order n with guard values before and after.
struct Triangle {
    static constexpr int kGuard = 64;
    int n;
    std::vector<double> store;
    std::vector<double*> rows;
    explicit Triangle(int order, unsigned seed) : n(order), store(static_cast<size_t>(order) * (order + 1) / 2 + 2 * kGuard)
    {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<double> u(-1.0, 1.0);
        for (double& x : store)
            x = u(rng);
        size_t at = kGuard;
        for (int i = 0; i < n; ++i) {
            rows.push_back(store.data() + at);
            at += static_cast<size_t>(n - i);
        }
    }
    double& At(int i, int j) { return rows[static_cast<size_t>(i)][j - i]; }
    double At(int i, int j) const { return rows[static_cast<size_t>(i)][j - i]; }
};

std::vector<std::vector<double>> RandomRows(int count, int length, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-2.0, 2.0);
    std::vector<std::vector<double>> v(static_cast<size_t>(count), std::vector<double>(static_cast<size_t>(length)));
    for (auto& row : v)
        for (double& x : row)
            x = u(rng);
    return v;
}

std::vector<const double*> Pointers(const std::vector<std::vector<double>>& v, int offset = 0)
{
    std::vector<const double*> p;
    for (const auto& row : v)
        p.push_back(row.data() + offset);
    return p;
}

// The levels this processor runs, restored to the machine's at the end.
class DenseKernelLevels : public ::testing::Test {
protected:
    void TearDown() override { densekernel::SetLevel(densekernel::MachineLevel()); }
    static std::vector<Level> Levels()
    {
        std::vector<Level> levels;
        for (int l = densekernel::LEVEL_BASELINE; l <= densekernel::MachineLevel(); ++l)
            levels.push_back(static_cast<Level>(l));
        return levels;
    }
};

struct FoldCase {
    int order; // of the triangle
    int k;     // terms per element
    int row0;  // first row of the call
    int rows;
    int split; // a second call takes the rows from here
};

TEST_F(DenseKernelLevels, FoldedTriangleEqualsSumsAndSplitsGiveTheSameBits)
{
    const FoldCase cases[] = {
        {1, 1, 0, 1, 1},      {7, 3, 0, 7, 3},      {40, 48, 0, 40, 17},   {61, 5, 9, 40, 22},
        {130, 48, 3, 127, 64}, {130, 30, 33, 90, 41}, {257, 17, 0, 257, 129}, {100, 96, 99, 1, 1},
    };
    for (Level level : Levels()) {
        ASSERT_EQ(densekernel::SetLevel(level), level);
        for (const FoldCase& c : cases) {
            SCOPED_TRACE(testing::Message() << "level " << level << ", order " << c.order << ", k " << c.k
                                            << ", rows " << c.row0 << " + " << c.rows);
            const auto a = RandomRows(c.k, c.order, 11);
            const auto b = RandomRows(c.k, c.order, 12);
            Triangle whole(c.order, 5), parts(c.order, 5);
            const Triangle before(c.order, 5);
            // One call for the rows, its columns those of the triangle from row0 on.
            const int cols = c.order - c.row0;
            const std::vector<const double*> ap = Pointers(a, c.row0), bp = Pointers(b, c.row0);
            densekernel::SubtractProducts(whole.rows.data() + c.row0, c.rows, cols, true, ap.data(), bp.data(), c.k);
            // The same rows in two calls sharing one packing.
            std::vector<double> packed(densekernel::FoldPackedSize(cols, c.k));
            densekernel::PackFoldColumns(bp.data(), cols, c.k, packed.data());
            const int s = c.split;
            densekernel::SubtractPackedProducts(parts.rows.data() + c.row0, s, cols, true, ap.data(), packed.data(),
                                                0, c.k);
            const std::vector<const double*> ap2 = Pointers(a, c.row0 + s);
            densekernel::SubtractPackedProducts(parts.rows.data() + c.row0 + s, c.rows - s, cols - s, true, ap2.data(),
                                                packed.data(), s, c.k);
            for (int i = 0; i < c.order; ++i)
                for (int j = i; j < c.order; ++j) {
                    const double was = before.At(i, j);
                    long double expected = was;
                    if (i >= c.row0 && i < c.row0 + c.rows)
                        for (int t = 0; t < c.k; ++t)
                            expected -= static_cast<long double>(a[static_cast<size_t>(t)][static_cast<size_t>(i)]) *
                                        b[static_cast<size_t>(t)][static_cast<size_t>(j)];
                    const double got = whole.At(i, j);
                    if (i < c.row0 || i >= c.row0 + c.rows)
                        ASSERT_EQ(got, was) << "(" << i << ", " << j << ") outside the rows";
                    else
                        ASSERT_NEAR(got, static_cast<double>(expected), 1e-13 * (4.0 * c.k + 1.0))
                            << "(" << i << ", " << j << ")";
                    ASSERT_EQ(parts.At(i, j), got) << "(" << i << ", " << j << ") split";
                }
            for (int g = 0; g < Triangle::kGuard; ++g) {
                ASSERT_EQ(whole.store[static_cast<size_t>(g)], before.store[static_cast<size_t>(g)]);
                ASSERT_EQ(whole.store[whole.store.size() - 1 - static_cast<size_t>(g)],
                          before.store[before.store.size() - 1 - static_cast<size_t>(g)]);
            }
        }
    }
}

TEST_F(DenseKernelLevels, FoldedRectangleWithPackedColumnsFromAnyStart)
{
    struct Case {
        int rows, cols, k, first;
    };
    const Case cases[] = {{1, 1, 1, 0}, {9, 23, 6, 0}, {9, 23, 6, 5}, {17, 100, 48, 13}, {33, 65, 45, 31}};
    for (Level level : Levels()) {
        ASSERT_EQ(densekernel::SetLevel(level), level);
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "level " << level << ", " << c.rows << " x " << c.cols << " from "
                                            << c.first << ", k " << c.k);
            const auto a = RandomRows(c.k, c.rows, 21);
            const auto b = RandomRows(c.k, c.first + c.cols, 22);
            const auto start = RandomRows(c.rows, c.cols + 2, 23); // a guard at each end of a row
            auto target = start;
            std::vector<double*> dst;
            for (auto& row : target)
                dst.push_back(row.data() + 1);
            std::vector<double> packed(densekernel::FoldPackedSize(c.first + c.cols, c.k));
            const std::vector<const double*> bp = Pointers(b), ap = Pointers(a);
            densekernel::PackFoldColumns(bp.data(), c.first + c.cols, c.k, packed.data());
            densekernel::SubtractPackedProducts(dst.data(), c.rows, c.cols, false, ap.data(), packed.data(), c.first,
                                                c.k);
            for (int i = 0; i < c.rows; ++i) {
                const auto& was = start[static_cast<size_t>(i)];
                const auto& got = target[static_cast<size_t>(i)];
                ASSERT_EQ(got.front(), was.front());
                ASSERT_EQ(got.back(), was.back());
                for (int j = 0; j < c.cols; ++j) {
                    long double expected = was[static_cast<size_t>(j) + 1];
                    for (int t = 0; t < c.k; ++t)
                        expected -= static_cast<long double>(a[static_cast<size_t>(t)][static_cast<size_t>(i)]) *
                                    b[static_cast<size_t>(t)][static_cast<size_t>(c.first + j)];
                    ASSERT_NEAR(got[static_cast<size_t>(j) + 1], static_cast<double>(expected), 1e-13 * (4.0 * c.k + 1.0))
                        << "(" << i << ", " << j << ")";
                }
            }
        }
    }
}

TEST_F(DenseKernelLevels, HalfSymmetricProductGivesTheCongruence)
{
    const int width = densekernel::SymmetricWidth();
    struct Case {
        int order, k, split;
    };
    const Case cases[] = {{1, width, 1}, {5, width, 2}, {37, 2 * width, 9}, {130, width, 64}};
    for (Level level : Levels()) {
        ASSERT_EQ(densekernel::SetLevel(level), level);
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "level " << level << ", order " << c.order << ", k " << c.k);
            Triangle Q(c.order, 31);
            std::vector<const double*> q(Q.rows.begin(), Q.rows.end());
            const auto bRows = RandomRows(c.order, c.k, 32);
            std::vector<double> b;
            for (const auto& row : bRows)
                b.insert(b.end(), row.begin(), row.end());
            std::vector<double> y(b.size(), 7.0), y2(b.size(), 8.0);
            densekernel::HalfSymmetricProduct(y.data(), 0, c.order, q.data(), c.order, b.data(), c.k);
            densekernel::HalfSymmetricProduct(y2.data(), c.split, c.order, q.data(), c.order, b.data(), c.k);
            densekernel::HalfSymmetricProduct(y2.data(), 0, c.split, q.data(), c.order, b.data(), c.k);
            ASSERT_EQ(y, y2);
            // B' Y + (B' Y)' against B' Q B formed from the whole matrix.
            const int probe[2] = {0, c.k - 1};
            for (int u : probe)
                for (int v : probe) {
                    long double bqb = 0.0L, byt = 0.0L;
                    for (int i = 0; i < c.order; ++i) {
                        const double bi = b[static_cast<size_t>(i) * c.k + u];
                        for (int j = 0; j < c.order; ++j) {
                            const double qij = i <= j ? Q.At(i, j) : Q.At(j, i);
                            bqb += static_cast<long double>(bi) * qij * b[static_cast<size_t>(j) * c.k + v];
                        }
                        byt += static_cast<long double>(bi) * y[static_cast<size_t>(i) * c.k + v] +
                               static_cast<long double>(b[static_cast<size_t>(i) * c.k + v]) *
                                   y[static_cast<size_t>(i) * c.k + u];
                    }
                    EXPECT_NEAR(static_cast<double>(byt), static_cast<double>(bqb), 1e-12 * c.order * c.order)
                        << "(" << u << ", " << v << ")";
                }
        }
    }
}

// Dot products of columns with rows over runs: runs of every length a
// vector splits (none, shorter than a vector, whole vectors and a tail),
// one to three columns (pairs and a single one), one to six rows. The runs
// lie between NaN guards in both operands, so that a read outside a run
// shows in the result.
TEST_F(DenseKernelLevels, RunDotsEqualSumsAndReadOnlyTheRuns)
{
    const std::vector<std::vector<int>> runLengths = {{0}, {1}, {3}, {6}, {10}, {6, 6, 10, 3, 6}, {17, 2, 9, 8}};
    const double nan = std::nan("");
    for (Level level : Levels()) {
        ASSERT_EQ(densekernel::SetLevel(level), level);
        for (const auto& lengths : runLengths)
            for (int columns = 1; columns <= 3; ++columns)
                for (int rows = 1; rows <= 6; ++rows) {
                    SCOPED_TRACE(testing::Message() << "level " << level << ", " << lengths.size() << " runs from "
                                                    << lengths[0] << ", " << columns << " columns, " << rows
                                                    << " rows");
                    // Each run sits in z and m with a gap of guards before it.
                    const int runs = static_cast<int>(lengths.size());
                    std::vector<int64_t> at;
                    std::vector<int32_t> col, len(lengths.begin(), lengths.end());
                    int64_t zEnd = 3;
                    int32_t mEnd = 5;
                    for (int length : lengths) {
                        at.push_back(zEnd);
                        col.push_back(mEnd);
                        zEnd += length + 3;
                        mEnd += length + 5;
                    }
                    const int64_t stride = zEnd + 1;
                    const int ld = mEnd + 2;
                    std::vector<double> z(static_cast<size_t>(stride * columns), nan);
                    std::vector<double> m(static_cast<size_t>(ld * rows), nan);
                    std::mt19937 rng(static_cast<unsigned>(41 + runs + 7 * columns + 13 * rows));
                    std::uniform_real_distribution<double> u(-1.0, 1.0);
                    for (int j = 0; j < runs; ++j)
                        for (int k = 0; k < len[static_cast<size_t>(j)]; ++k) {
                            for (int c = 0; c < columns; ++c)
                                z[static_cast<size_t>(c * stride + at[static_cast<size_t>(j)] + k)] = u(rng);
                            for (int r = 0; r < rows; ++r)
                                m[static_cast<size_t>(r * ld + col[static_cast<size_t>(j)] + k)] = u(rng);
                        }
                    std::vector<double> a(static_cast<size_t>(columns * rows), nan);
                    densekernel::RunDots(z.data(), stride, columns, at.data(), col.data(), len.data(), runs, m.data(),
                                         ld, rows, a.data());
                    for (int c = 0; c < columns; ++c)
                        for (int r = 0; r < rows; ++r) {
                            long double sum = 0.0L;
                            int terms = 0;
                            for (int j = 0; j < runs; ++j)
                                for (int k = 0; k < len[static_cast<size_t>(j)]; ++k, ++terms)
                                    sum += static_cast<long double>(
                                               z[static_cast<size_t>(c * stride + at[static_cast<size_t>(j)] + k)]) *
                                           m[static_cast<size_t>(r * ld + col[static_cast<size_t>(j)] + k)];
                            EXPECT_NEAR(a[static_cast<size_t>(c * rows + r)], static_cast<double>(sum),
                                        1e-15 * (terms + 1))
                                << "column " << c << ", row " << r;
                        }
                }
    }
}

// Tiles of rows against runs of columns, the way a folded point's rows go
// into a sparse system: a triangle from the rows' diagonal and rectangles
// elsewhere, in one call, with the rows outside lo .. hi - 1 left alone.
// Each element gets the sum of its products, each rounded on its own, as
// plain double arithmetic gives it (so the system is what element-by-element
// code forms, to the bit), and is near the long double sum.
TEST_F(DenseKernelLevels, TilesTakeThePlainSumsOfTheirElementsOnly)
{
    struct Case {
        int rows, length, width, k, lo, hi; // width: of the second tile
    };
    const Case cases[] = {{1, 1, 1, 1, 0, 100},   {6, 6, 6, 3, 0, 100},   {6, 12, 7, 3, 2, 5},
                          {10, 16, 18, 3, 0, 100}, {10, 25, 9, 4, 7, 100}, {6, 9, 33, 2, 0, 3}};
    constexpr int kCols = 80, kRows = 40, kFirst = 5; // tiles start at row kFirst
    for (Level level : Levels()) {
        ASSERT_EQ(densekernel::SetLevel(level), level);
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "level " << level << ", " << c.rows << " rows, " << c.length << " + "
                                            << c.width << " columns, k " << c.k << ", rows " << c.lo << " .. " << c.hi);
            const auto a = RandomRows(c.k, kRows, 41);
            const auto b = RandomRows(c.k, kCols, 42);
            const auto start = RandomRows(kRows, kCols, 43);
            auto target = start;
            // The triangle on columns 2 .. 2 + length - 1 (row q from column 2 + q),
            // a rectangle of the same rows further right, and one below.
            const int c0 = 2, c1 = c0 + c.length + 3, r2 = kFirst + c.rows;
            std::vector<densekernel::ProductTile> tiles = {
                {kFirst, c.rows, kFirst, c0, c.length, 1, 0},
                {kFirst, c.rows, kFirst, c1, c.width, 0, static_cast<size_t>(c.rows)},
                {r2, 3, r2, c0, c.length, 0, static_cast<size_t>(2 * c.rows)}};
            std::vector<double*> dst;
            for (int q = 0; q < c.rows; ++q)
                dst.push_back(target[static_cast<size_t>(kFirst + q)].data() + c0 + q);
            for (int q = 0; q < c.rows; ++q)
                dst.push_back(target[static_cast<size_t>(kFirst + q)].data() + c1);
            for (int q = 0; q < 3; ++q)
                dst.push_back(target[static_cast<size_t>(r2 + q)].data() + c0);
            const std::vector<const double*> ap = Pointers(a), bp = Pointers(b);
            densekernel::SubtractTileProducts(tiles.data(), 3, dst.data(), ap.data(), bp.data(), c.k, c.lo, c.hi);
            for (int i = 0; i < kRows; ++i)
                for (int j = 0; j < kCols; ++j) {
                    const bool rows = i >= c.lo && i < c.hi;
                    const bool triangle = i >= kFirst && i < r2 && j >= c0 + (i - kFirst) && j < c0 + c.length;
                    const bool right = i >= kFirst && i < r2 && j >= c1 && j < c1 + c.width;
                    const bool below = i >= r2 && i < r2 + 3 && j >= c0 && j < c0 + c.length;
                    const double was = start[static_cast<size_t>(i)][static_cast<size_t>(j)];
                    const double got = target[static_cast<size_t>(i)][static_cast<size_t>(j)];
                    if (!rows || !(triangle || right || below)) {
                        ASSERT_EQ(got, was) << "(" << i << ", " << j << ") outside the tiles";
                        continue;
                    }
                    const double a0 = a[0][static_cast<size_t>(i)], b0 = b[0][static_cast<size_t>(j)];
                    volatile double sum = a0 * b0;
                    long double exact = static_cast<long double>(a0) * b0;
                    for (int t = 1; t < c.k; ++t) {
                        volatile double product = a[static_cast<size_t>(t)][static_cast<size_t>(i)] *
                                                  b[static_cast<size_t>(t)][static_cast<size_t>(j)];
                        sum = sum + product;
                        exact += static_cast<long double>(a[static_cast<size_t>(t)][static_cast<size_t>(i)]) *
                                 b[static_cast<size_t>(t)][static_cast<size_t>(j)];
                    }
                    ASSERT_EQ(got, was - sum) << "(" << i << ", " << j << ")";
                    ASSERT_NEAR(got, static_cast<double>(was - exact), 1e-13 * (4.0 * c.k + 1.0));
                }
        }
    }
}

// Tiles of one shape (rectangles, or triangles whose row q starts q columns
// right, on its diagonal) of every width up to past three vectors of the
// widest set (narrow ones are taken a row at a time), several per call and
// cut by the band: each element of the band's rows gets the plain sum of its
// products, the lanes past a row's width, left of a triangle's diagonal and
// the rows outside the band stay as they were.
void CheckTilesOfEveryWidth(const std::vector<Level>& levels, int triangular)
{
    constexpr int kCols = 40, kRows = 12, kTiles = 3;
    for (Level level : levels) {
        ASSERT_EQ(densekernel::SetLevel(level), level);
        for (int width = 1; width <= 26; ++width)
            for (int k : {1, 3, 4}) {
                SCOPED_TRACE(testing::Message() << "level " << level << ", triangular " << triangular << ", width " << width << ", k " << k);
                const auto a = RandomRows(k, kRows, 51);
                const auto b = RandomRows(k, kCols, 52);
                const auto start = RandomRows(kRows, kCols, 53);
                auto target = start;
                // Tile u: rows 4 u .. 4 u + 3 (three of them, or four), columns u .. u + width - 1.
                std::vector<densekernel::ProductTile> tiles;
                std::vector<double*> dst;
                for (int u = 0; u < kTiles; ++u) {
                    const int rows = u == 1 ? 4 : 3;
                    tiles.push_back({4 * u, rows, 4 * u, u, width, triangular, dst.size()});
                    for (int q = 0; q < rows; ++q)
                        dst.push_back(target[static_cast<size_t>(4 * u + q)].data() + u + triangular * q);
                }
                const int lo = 2, hi = 10;
                const std::vector<const double*> ap = Pointers(a), bp = Pointers(b);
                densekernel::SubtractTileProducts(tiles.data(), kTiles, dst.data(), ap.data(), bp.data(), k, lo, hi);
                for (int i = 0; i < kRows; ++i) {
                    const int u = i / 4, q = i % 4;
                    for (int j = 0; j < kCols; ++j) {
                        const double was = start[static_cast<size_t>(i)][static_cast<size_t>(j)];
                        const double got = target[static_cast<size_t>(i)][static_cast<size_t>(j)];
                        const bool inside = i >= lo && i < hi && (q < 3 || u == 1) && j >= u + triangular * q && j < u + width;
                        if (!inside) {
                            ASSERT_EQ(got, was) << "(" << i << ", " << j << ") outside the tiles or the band";
                            continue;
                        }
                        volatile double sum = a[0][static_cast<size_t>(i)] * b[0][static_cast<size_t>(j)];
                        for (int t = 1; t < k; ++t) {
                            volatile double product =
                                a[static_cast<size_t>(t)][static_cast<size_t>(i)] * b[static_cast<size_t>(t)][static_cast<size_t>(j)];
                            sum = sum + product;
                        }
                        ASSERT_EQ(got, was - sum) << "(" << i << ", " << j << ")";
                    }
                }
            }
    }
}

TEST_F(DenseKernelLevels, RectanglesOfEveryWidthTakeThePlainSums)
{
    CheckTilesOfEveryWidth(Levels(), 0);
}

TEST_F(DenseKernelLevels, TrianglesOfEveryWidthTakeThePlainSums)
{
    CheckTilesOfEveryWidth(Levels(), 1);
}

TEST(DenseKernelLevel, LevelIsCappedByTheMachine)
{
    const Level machine = densekernel::MachineLevel();
    EXPECT_EQ(densekernel::SetLevel(densekernel::LEVEL_AVX512), machine);
    EXPECT_EQ(densekernel::CurrentLevel(), machine);
    EXPECT_EQ(densekernel::SetLevel(densekernel::LEVEL_BASELINE), densekernel::LEVEL_BASELINE);
    EXPECT_EQ(densekernel::SetLevel(machine), machine);
}

} // namespace dense_kernels_test
