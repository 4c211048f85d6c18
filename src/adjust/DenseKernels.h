// Register-blocked kernels of the bundle engine's dense work: the folding
// of a batch of points into rows of the reduced system, and the products of
// rows of a packed symmetric matrix with a block of columns that the error
// propagation needs. They are built for the baseline processor, for AVX2
// with FMA and for AVX-512, and the best one the processor runs is taken
// when first used (the baseline in ThreadSanitizer builds).
//
// Every element receives its terms in a fixed order (t = 0, 1, ... or
// column by column from the diagonal), each step rounded once where the
// processor fuses multiply and add, so a result does not depend on how the
// rows are split between threads, nor on which rows are computed together.
#pragma once

#include <cstddef>
#include <cstdint>

namespace densekernel {

enum Level { LEVEL_BASELINE = 0, LEVEL_AVX2 = 1, LEVEL_AVX512 = 2 };

// The level the kernels run at, and the best the processor offers.
Level CurrentLevel();
Level MachineLevel();
// Caps the level (tests of each path); a level the processor lacks is
// lowered to the machine's. Returns the level now in use.
Level SetLevel(Level level);

// For r = 0 .. rows - 1 and each column c of row r,
//     dst[r][c - s r] -= sum over t = 0 .. k - 1 of a[t][r] b[t][c]
// where s = 1 and c runs from r to cols - 1 when triangular (dst[r] points
// at the element of column r, the diagonal of a triangle's row), and s = 0
// and c runs from 0 to cols - 1 otherwise. The terms are subtracted in the
// order of t.
void SubtractProducts(double* const* dst, int rows, int cols, bool triangular, const double* const* a,
                      const double* const* b, int k);

// The same with b packed beforehand (when several calls share it): the
// columns b[t][0 .. columns - 1] go into FoldPackedSize(columns, k) doubles,
// and column c of the rows is then column first + c of the packed ones. The
// packing holds for the level in use when it was made.
size_t FoldPackedSize(int columns, int k);
void PackFoldColumns(const double* const* b, int columns, int k, double* packed);
void SubtractPackedProducts(double* const* dst, int rows, int cols, bool triangular, const double* const* a,
                            const double* packed, int first, int k);
int FoldWidth();

// dst[j] -= sum over t = 0 .. k - 1 of coef[t] rows[t][j], j = 0 .. n - 1,
// the terms in the order of t.
void SubtractCombination(double* dst, int n, const double* coef, const double* const* rows, int k);

// Pieces of rows minus products of k (at most 4) rows of a and of b. Tile
// rows q = 0 .. rows - 1, numbered first + q outside (those outside lo ..
// hi - 1 are skipped), take row `row` + q of a and columns `column` + c of
// b, and lie at dst[dst + q]:
//     dst[dst + q][c - s q] -= sum over t = 0 .. k - 1 of a[t][row + q] b[t][column + c]
// for c = s q .. length - 1, where s = 1 for a triangle (each row's pointer
// at its diagonal) and 0 otherwise. The sum is taken in the order of t and
// then subtracted, each product and each step rounded on its own (never
// fused), as plain double arithmetic gives it.
struct ProductTile {
    int first;
    int rows;
    int row;
    int column;
    int length;
    int triangular;
    size_t dst;
};
void SubtractTileProducts(const ProductTile* tiles, int count, double* const* dst, const double* const* a,
                          const double* const* b, int k, int lo, int hi);

// For rows i = i0 .. i1 - 1 of a symmetric matrix Q whose upper triangle is
// given by its rows (q[i] points at the diagonal element (i, i); element
// (i, c) for c >= i is q[i][c - i]), columns 0 .. cols - 1:
//     y[i k + t] = Q(i, i) / 2 b[i k + t] + sum over c = i + 1 .. cols - 1 of Q(i, c) b[c k + t]
// for t = 0 .. k - 1, the terms taken in the order of c. k must be a
// multiple of SymmetricWidth(). Then B' Q B = B' Y + (B' Y)'.
void HalfSymmetricProduct(double* y, int i0, int i1, const double* const* q, int cols, const double* b, int k);
int SymmetricWidth();

// For columns c = 0 .. columns - 1 of z (column c at z + c stride) and rows
// s = 0 .. rows - 1 (1 to 6) of m (row s at m + s ld):
//     a[c rows + s] = sum over runs j, u = 0 .. len[j] - 1 of
//                     z[c stride + at[j] + u] m[s ld + col[j] + u]
// Nothing outside the runs is read.
void RunDots(const double* z, int64_t stride, int columns, const int64_t* at, const int32_t* col, const int32_t* len,
             int runs, const double* m, int ld, int rows, double* a);

} // namespace densekernel
