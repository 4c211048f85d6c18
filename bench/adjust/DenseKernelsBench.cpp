// The bundle engine's dense kernels on one thread, at each instruction set
// the processor runs: a batch of points folded into a packed triangle (the
// reduced system of an all-in-all network), the half-symmetric product of
// the error propagation, and the factorisation and inversion of the packed
// reduced system. Counters: multiply-adds per second (fma_per_s).
//
// Arguments: order of the triangle, columns of the batch (3 per point),
// instruction set (0 baseline, 1 AVX2, 2 AVX-512).
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "DenseFactor.h"
#include "DenseKernels.h"
#include "Matrix.h"

namespace {

struct Packed {
    std::vector<double> values;
    std::vector<double*> rows;
    explicit Packed(int n)
        : values(static_cast<size_t>(n) * (n + 1) / 2, 1.0), rows(static_cast<size_t>(n))
    {
        size_t at = 0;
        for (int i = 0; i < n; ++i) {
            rows[static_cast<size_t>(i)] = values.data() + at;
            at += static_cast<size_t>(n - i);
        }
    }
};

bool UseLevel(benchmark::State& state, int level)
{
    const densekernel::Level used = densekernel::SetLevel(static_cast<densekernel::Level>(level));
    if (used != level) {
        state.SkipWithError("instruction set not available");
        return false;
    }
    return true;
}

void BM_FoldBatch(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    const int k = static_cast<int>(state.range(1));
    if (!UseLevel(state, static_cast<int>(state.range(2))))
        return;
    Packed T(n);
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> u(-1e-3, 1e-3);
    std::vector<std::vector<double>> a(static_cast<size_t>(k)), b(static_cast<size_t>(k));
    std::vector<const double*> ap, bp;
    for (int t = 0; t < k; ++t) {
        a[static_cast<size_t>(t)].resize(static_cast<size_t>(n));
        b[static_cast<size_t>(t)].resize(static_cast<size_t>(n));
        for (double& x : a[static_cast<size_t>(t)])
            x = u(rng);
        for (double& x : b[static_cast<size_t>(t)])
            x = u(rng);
        ap.push_back(a[static_cast<size_t>(t)].data());
        bp.push_back(b[static_cast<size_t>(t)].data());
    }
    for (auto _ : state)
        densekernel::SubtractProducts(T.rows.data(), n, n, true, ap.data(), bp.data(), k);
    benchmark::DoNotOptimize(T.values.data());
    const double fma = static_cast<double>(n) * (n + 1) / 2.0 * k;
    state.counters["fma_per_s"] = benchmark::Counter(fma, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_HalfSymmetric(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    const int k = static_cast<int>(state.range(1));
    if (!UseLevel(state, static_cast<int>(state.range(2))))
        return;
    Packed Q(n);
    std::vector<double> b(static_cast<size_t>(n) * k, 0.5), y(b.size());
    std::vector<const double*> rows(Q.rows.begin(), Q.rows.end());
    for (auto _ : state) {
        densekernel::HalfSymmetricProduct(y.data(), 0, n, rows.data(), n, b.data(), k);
        benchmark::DoNotOptimize(y.data());
    }
    const double fma = static_cast<double>(n) * (n + 1) / 2.0 * k;
    state.counters["fma_per_s"] = benchmark::Counter(fma, benchmark::Counter::kIsIterationInvariantRate);
}

// The factorisation (the matrix class's, or the engine's blocked one) and
// the inversion of the packed system (arguments: order, threads, and for
// the factorisation 0 for the matrix class's, 1 for the blocked).
void FillSystem(CMatrix& A, int n)
{
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<double> g(static_cast<size_t>(n) * 8);
    for (double& x : g)
        x = u(rng);
    for (int i = 0; i < n; ++i)
        for (int j = i; j < n; ++j) {
            double s = i == j ? n : 0.0;
            for (int m = 0; m < 8; ++m)
                s += g[static_cast<size_t>(i) * 8 + m] * g[static_cast<size_t>(j) * 8 + m];
            A.SetAt(s, i, j);
        }
}

void BM_FactorSystem(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    const int threads = static_cast<int>(state.range(1));
    CMatrix source(n, -1);
    FillSystem(source, n);
    for (auto _ : state) {
        state.PauseTiming();
        CMatrix A(source);
        state.ResumeTiming();
        const bool blocked = state.range(2) == 1;
        if (!(blocked ? FactorPackedLdlt(A, threads) : A.LdltDecompose(threads)))
            state.SkipWithError("not positive definite");
    }
    const double fma = static_cast<double>(n) * n * n / 6.0;
    state.counters["fma_per_s"] = benchmark::Counter(fma, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_InvertSystem(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    const int threads = static_cast<int>(state.range(1));
    CMatrix source(n, -1);
    FillSystem(source, n);
    source.LdltDecompose(threads);
    for (auto _ : state) {
        state.PauseTiming();
        CMatrix A(source);
        state.ResumeTiming();
        if (!A.InvertSymmetric(true, threads))
            state.SkipWithError("not invertible");
    }
    const double fma = static_cast<double>(n) * n * n / 3.0;
    state.counters["fma_per_s"] = benchmark::Counter(fma, benchmark::Counter::kIsIterationInvariantRate);
}

} // namespace

BENCHMARK(BM_FoldBatch)->ArgsProduct({{1210, 3010}, {48, 96}, {0, 1, 2}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HalfSymmetric)->ArgsProduct({{1210, 3010}, {48}, {0, 1, 2}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FactorSystem)->ArgsProduct({{3010}, {1, 4, 8}, {0, 1}})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_InvertSystem)->ArgsProduct({{3010}, {1, 4, 8}})->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
