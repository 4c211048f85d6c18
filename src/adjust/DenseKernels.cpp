// The dense kernels built three times: for the baseline x86-64 processor
// (SSE2, multiply and add rounded apart), AVX2 with FMA, and AVX-512. The
// choice is made by a test of the processor, not by the loader, so that the
// sanitizer builds take the same path. The kernels are written out with
// intrinsics and forced unrolling, so their speed does not depend on the
// optimisation level of the build.
#include "DenseKernels.h"

#include <atomic>
#include <cmath>
#include <cstddef>
#include <vector>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define KESTRELON_X86_KERNELS 1
#endif
// The wider sets are chosen per stretch of code: GCC by its target pragma,
// clang (which ignores that pragma) by a target attribute on every function
// of the stretch.

namespace densekernel {

#if KESTRELON_X86_KERNELS

namespace baseline {
struct Isa {
    using V = __m128d;
    static constexpr int L = 2;
    static constexpr int kFoldRows = 4;
    static constexpr int kFoldVectors = 2;
    static constexpr int kSymmetricRows = 4;
    static constexpr int kSymmetricVectors = 2;
    static V Load(const double* p) { return _mm_loadu_pd(p); }
    static void Store(double* p, V v) { _mm_storeu_pd(p, v); }
    static V Broadcast(double x) { return _mm_set1_pd(x); }
    static V Zero() { return _mm_setzero_pd(); }
    // Lanes lo .. hi - 1 only; the others read as 0 and are not written.
    static V LoadPart(const double* p, int lo, int hi)
    {
        return _mm_set_pd(lo <= 1 && 1 < hi ? p[1] : 0.0, lo <= 0 && 0 < hi ? p[0] : 0.0);
    }
    static void StorePart(double* p, V v, int lo, int hi)
    {
        if (lo <= 0 && 0 < hi)
            _mm_storel_pd(p, v);
        if (lo <= 1 && 1 < hi)
            _mm_storeh_pd(p + 1, v);
    }
    static V Mul(V a, V b) { return _mm_mul_pd(a, b); }
    static V Add(V a, V b) { return _mm_add_pd(a, b); }
    static V Sub(V a, V b) { return _mm_sub_pd(a, b); }
    static V Madd(V a, V b, V c) { return _mm_add_pd(c, _mm_mul_pd(a, b)); }
    static V Nmadd(V a, V b, V c) { return _mm_sub_pd(c, _mm_mul_pd(a, b)); }
    static double Madd(double a, double b, double c) { return c + a * b; }
    static double Nmadd(double a, double b, double c) { return c - a * b; }
};
#include "DenseKernels.inc"
} // namespace baseline

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2,fma"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2,fma")
#endif
namespace avx2 {
struct Isa {
    using V = __m256d;
    static constexpr int L = 4;
    static constexpr int kFoldRows = 4;
    static constexpr int kFoldVectors = 2;
    static constexpr int kSymmetricRows = 4;
    static constexpr int kSymmetricVectors = 2;
    static V Load(const double* p) { return _mm256_loadu_pd(p); }
    static void Store(double* p, V v) { _mm256_storeu_pd(p, v); }
    static V Broadcast(double x) { return _mm256_set1_pd(x); }
    static V Zero() { return _mm256_setzero_pd(); }
    static __m256i Lanes(int lo, int hi)
    {
        const __m256i index = _mm256_set_epi64x(3, 2, 1, 0);
        return _mm256_and_si256(_mm256_cmpgt_epi64(index, _mm256_set1_epi64x(lo - 1)),
                                _mm256_cmpgt_epi64(_mm256_set1_epi64x(hi), index));
    }
    static V LoadPart(const double* p, int lo, int hi) { return _mm256_maskload_pd(p, Lanes(lo, hi)); }
    static void StorePart(double* p, V v, int lo, int hi) { _mm256_maskstore_pd(p, Lanes(lo, hi), v); }
    static V Mul(V a, V b) { return _mm256_mul_pd(a, b); }
    static V Add(V a, V b) { return _mm256_add_pd(a, b); }
    static V Sub(V a, V b) { return _mm256_sub_pd(a, b); }
    static V Madd(V a, V b, V c) { return _mm256_fmadd_pd(a, b, c); }
    static V Nmadd(V a, V b, V c) { return _mm256_fnmadd_pd(a, b, c); }
    static double Madd(double a, double b, double c) { return __builtin_fma(a, b, c); }
    static double Nmadd(double a, double b, double c) { return __builtin_fma(-a, b, c); }
};
#include "DenseKernels.inc"
} // namespace avx2
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx2,fma"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f,avx2,fma")
#endif
namespace avx512 {
struct Isa {
    using V = __m512d;
    static constexpr int L = 8;
    static constexpr int kFoldRows = 8;
    static constexpr int kFoldVectors = 3;
    static constexpr int kSymmetricRows = 8;
    static constexpr int kSymmetricVectors = 3;
    static V Load(const double* p) { return _mm512_loadu_pd(p); }
    static void Store(double* p, V v) { _mm512_storeu_pd(p, v); }
    static V Broadcast(double x) { return _mm512_set1_pd(x); }
    static V Zero() { return _mm512_setzero_pd(); }
    static __mmask8 Lanes(int lo, int hi) { return static_cast<__mmask8>(((1u << hi) - 1u) & ~((1u << lo) - 1u)); }
    static V LoadPart(const double* p, int lo, int hi) { return _mm512_maskz_loadu_pd(Lanes(lo, hi), p); }
    static void StorePart(double* p, V v, int lo, int hi) { _mm512_mask_storeu_pd(p, Lanes(lo, hi), v); }
    static V Mul(V a, V b) { return _mm512_mul_pd(a, b); }
    static V Add(V a, V b) { return _mm512_add_pd(a, b); }
    static V Sub(V a, V b) { return _mm512_sub_pd(a, b); }
    static V Madd(V a, V b, V c) { return _mm512_fmadd_pd(a, b, c); }
    static V Nmadd(V a, V b, V c) { return _mm512_fnmadd_pd(a, b, c); }
    static double Madd(double a, double b, double c) { return __builtin_fma(a, b, c); }
    static double Nmadd(double a, double b, double c) { return __builtin_fma(-a, b, c); }
};
#include "DenseKernels.inc"
} // namespace avx512
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#endif

namespace {

Level Detect()
{
    // ThreadSanitizer does not see the masked loads and stores of the wider
    // sets: its builds take the baseline, whose every access it sees.
#if KESTRELON_X86_KERNELS && !defined(__SANITIZE_THREAD__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f"))
        return LEVEL_AVX512;
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"))
        return LEVEL_AVX2;
#endif
    return LEVEL_BASELINE;
}

std::atomic<int> chosen{-1};

} // namespace

Level MachineLevel()
{
    static const Level machine = Detect();
    return machine;
}

Level CurrentLevel()
{
    int level = chosen.load(std::memory_order_relaxed);
    if (level < 0) {
        level = MachineLevel();
        chosen.store(level, std::memory_order_relaxed);
    }
    return static_cast<Level>(level);
}

Level SetLevel(Level level)
{
    const Level machine = MachineLevel();
    const Level used = level < machine ? level : machine;
    chosen.store(used, std::memory_order_relaxed);
    return used;
}

int SymmetricWidth()
{
    return 24; // a multiple of every set's tile width
}

#if KESTRELON_X86_KERNELS

#define KESTRELON_DISPATCH(call)                                                                                   \
    switch (CurrentLevel()) {                                                                                      \
    case LEVEL_AVX512: return avx512::call;                                                                        \
    case LEVEL_AVX2: return avx2::call;                                                                            \
    default: return baseline::call;                                                                                \
    }

int FoldWidth()
{
    KESTRELON_DISPATCH(FoldWidth())
}

void PackFoldColumns(const double* const* b, int cols, int k, double* packed)
{
    KESTRELON_DISPATCH(PackFoldColumns(b, cols, k, packed))
}

void SubtractPackedProducts(double* const* dst, int rows, int cols, bool triangular, const double* const* a,
                            const double* packed, int first, int k)
{
    KESTRELON_DISPATCH(SubtractPackedProducts(dst, rows, cols, triangular, a, packed, first, k))
}

void SubtractCombination(double* dst, int n, const double* coef, const double* const* rows, int k)
{
    KESTRELON_DISPATCH(SubtractCombination(dst, n, coef, rows, k))
}

void HalfSymmetricProduct(double* y, int i0, int i1, const double* const* q, int cols, const double* b, int k)
{
    KESTRELON_DISPATCH(HalfSymmetricProduct(y, i0, i1, q, cols, b, k))
}

void RunDots(const double* z, int64_t stride, int columns, const int64_t* at, const int32_t* col, const int32_t* len,
             int runs, const double* m, int ld, int rows, double* a)
{
    KESTRELON_DISPATCH(RunDots(z, stride, columns, at, col, len, runs, m, ld, rows, a))
}

void SubtractTileProducts(const ProductTile* tiles, int count, double* const* dst, const double* const* a,
                          const double* const* b, int k, int lo, int hi)
{
    KESTRELON_DISPATCH(SubtractTileProducts(tiles, count, dst, a, b, k, lo, hi))
}

#else

// Other processors: the same sums, element by element, the columns packed
// one to a chunk.
int FoldWidth()
{
    return 1;
}

void PackFoldColumns(const double* const* b, int cols, int k, double* packed)
{
    for (int c = 0; c < cols; ++c)
        for (int t = 0; t < k; ++t)
            packed[static_cast<size_t>(c) * k + t] = b[t][c];
}

void SubtractPackedProducts(double* const* dst, int rows, int cols, bool triangular, const double* const* a,
                            const double* packed, int first, int k)
{
    const int s = triangular ? 1 : 0;
    for (int r = 0; r < rows; ++r)
        for (int c = s * r; c < cols; ++c) {
            double acc = dst[r][c - s * r];
            const double* p = packed + static_cast<size_t>(first + c) * k;
            for (int t = 0; t < k; ++t)
                acc -= a[t][r] * p[t];
            dst[r][c - s * r] = acc;
        }
}

void SubtractCombination(double* dst, int n, const double* coef, const double* const* rows, int k)
{
    for (int j = 0; j < n; ++j) {
        double acc = dst[j];
        for (int t = 0; t < k; ++t)
            acc -= coef[t] * rows[t][j];
        dst[j] = acc;
    }
}

void SubtractTileProducts(const ProductTile* tiles, int count, double* const* dst, const double* const* a,
                          const double* const* b, int k, int lo, int hi)
{
    for (int u = 0; u < count; ++u) {
        const ProductTile& tile = tiles[u];
        const int s = tile.triangular ? 1 : 0;
        for (int q = 0; q < tile.rows; ++q) {
            if (tile.first + q < lo || tile.first + q >= hi)
                continue;
            double* d = dst[tile.dst + q];
            for (int c = s * q; c < tile.length; ++c) {
                double sum = a[0][tile.row + q] * b[0][tile.column + c];
                for (int t = 1; t < k; ++t)
                    sum += a[t][tile.row + q] * b[t][tile.column + c];
                d[c - s * q] -= sum;
            }
        }
    }
}

void HalfSymmetricProduct(double* y, int i0, int i1, const double* const* q, int cols, const double* b, int k)
{
    for (int i = i0; i < i1; ++i)
        for (int t = 0; t < k; ++t) {
            double acc = 0.5 * q[i][0] * b[static_cast<size_t>(i) * k + t];
            for (int c = i + 1; c < cols; ++c)
                acc += q[i][c - i] * b[static_cast<size_t>(c) * k + t];
            y[static_cast<size_t>(i) * k + t] = acc;
        }
}

void RunDots(const double* z, int64_t stride, int columns, const int64_t* at, const int32_t* col, const int32_t* len,
             int runs, const double* m, int ld, int rows, double* a)
{
    for (int c = 0; c < columns; ++c)
        for (int s = 0; s < rows; ++s) {
            double acc = 0.0;
            for (int j = 0; j < runs; ++j)
                for (int u = 0; u < len[j]; ++u)
                    acc += z[c * stride + at[j] + u] * m[static_cast<ptrdiff_t>(s) * ld + col[j] + u];
            a[c * rows + s] = acc;
        }
}

#endif

size_t FoldPackedSize(int cols, int k)
{
    const int width = FoldWidth();
    return static_cast<size_t>((cols + width - 1) / width) * static_cast<size_t>(k) * static_cast<size_t>(width);
}

void SubtractProducts(double* const* dst, int rows, int cols, bool triangular, const double* const* a,
                      const double* const* b, int k)
{
    if (rows <= 0 || cols <= 0 || k <= 0)
        return;
    thread_local std::vector<double> packed;
    packed.resize(FoldPackedSize(cols, k));
    PackFoldColumns(b, cols, k, packed.data());
    SubtractPackedProducts(dst, rows, cols, triangular, a, packed.data(), 0, k);
}

} // namespace densekernel
