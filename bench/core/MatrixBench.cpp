// Factorisation, solution and inversion of packed symmetric systems, and a
// rank-3 update of a large packed system, as the bundle adjustment does them.
#include "Matrix.h"
#include "Vector.h"

#include <benchmark/benchmark.h>

#include <random>

namespace {

// A symmetric, diagonally dominant (hence positive definite) augmented
// matrix of the given order, built in O(n^2).
CMatrix MakeSystem(int n)
{
    CMatrix m(n, -1);
    std::mt19937 gen(12345);
    std::uniform_real_distribution<double> d(-1.0, 1.0);
    const double scale = 1.0 / n;
    for (int i = 0; i < n; ++i) {
        double* row = m.GetRowPtrUnmapped(i, 0);
        row[0] = 2.0 + d(gen);
        for (int j = 1; j < n - i; ++j)
            row[j] = scale * d(gen);
    }
    return m;
}

void Configure(benchmark::internal::Benchmark* b)
{
    b->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
    b->Arg(500)->Arg(2000);
}

// Order 6000 takes seconds per run: one iteration per repetition.
void ConfigureLarge(benchmark::internal::Benchmark* b)
{
    b->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(3)->ReportAggregatesOnly(true);
    b->Arg(6000)->Iterations(1);
}

void BM_CholeskyDecompose(benchmark::State& state)
{
    const CMatrix source = MakeSystem(static_cast<int>(state.range(0)));
    CMatrix work(source);
    for (auto _ : state) {
        state.PauseTiming();
        work = source;
        state.ResumeTiming();
        if (!work.CholeskyDecompose())
            state.SkipWithError("factorisation failed");
    }
}

void BM_LdltDecompose(benchmark::State& state)
{
    const CMatrix source = MakeSystem(static_cast<int>(state.range(0)));
    CMatrix work(source);
    for (auto _ : state) {
        state.PauseTiming();
        work = source;
        state.ResumeTiming();
        if (!work.LdltDecompose())
            state.SkipWithError("factorisation failed");
    }
}

void BM_SolveAugmentedCholesky(benchmark::State& state)
{
    CMatrix m = MakeSystem(static_cast<int>(state.range(0)));
    m.CholeskyDecompose();
    CVector x(m.GetRows() - 1);
    for (auto _ : state) {
        m.SolveAugmentedCholesky(x);
        benchmark::DoNotOptimize(x.GetData());
    }
}

void BM_SolveAugmentedUnit(benchmark::State& state)
{
    CMatrix m = MakeSystem(static_cast<int>(state.range(0)));
    m.LdltDecompose();
    CVector x(m.GetRows() - 1);
    for (auto _ : state) {
        m.SolveAugmentedUnit(x);
        benchmark::DoNotOptimize(x.GetData());
    }
}

// Inversion of an already factorised matrix, as the engine calls it.
void BM_InvertSymmetric(benchmark::State& state)
{
    CMatrix factor = MakeSystem(static_cast<int>(state.range(0)));
    factor.LdltDecompose();
    CMatrix work(factor);
    for (auto _ : state) {
        state.PauseTiming();
        work = factor;
        state.ResumeTiming();
        if (!work.InvertSymmetric(true))
            state.SkipWithError("inversion failed");
    }
}

void BM_InvertAugmentedFactor(benchmark::State& state)
{
    CMatrix factor = MakeSystem(static_cast<int>(state.range(0)));
    factor.LdltDecompose();
    CMatrix work(factor);
    for (auto _ : state) {
        state.PauseTiming();
        work = factor;
        state.ResumeTiming();
        if (!work.InvertAugmentedFactor())
            state.SkipWithError("inversion failed");
    }
}

// N -= P M with P of n x 3 and M of 3 x n, as a folded point is subtracted.
void BM_RankThreeUpdate(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    CMatrix N = MakeSystem(n);
    CMatrix P(n, 3), M(3, n);
    std::mt19937 gen(7);
    std::uniform_real_distribution<double> d(-1.0, 1.0);
    for (int i = 0; i < n; ++i)
        for (int k = 0; k < 3; ++k) {
            P.SetAt(d(gen), i, k);
            M.SetAt(d(gen), k, i);
        }
    for (auto _ : state) {
        if (!N.SubtractProductSym(P, M))
            state.SkipWithError("shape");
        benchmark::ClobberMemory();
    }
}

// N += A'A with A of 3 x n.
void BM_RankThreeAtA(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    CMatrix N = MakeSystem(n);
    CMatrix A(3, n);
    std::mt19937 gen(9);
    std::uniform_real_distribution<double> d(-1.0, 1.0);
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < n; ++i)
            A.SetAt(d(gen), k, i);
    for (auto _ : state) {
        N.AddAtA(A, 1);
        benchmark::ClobberMemory();
    }
}

} // namespace

BENCHMARK(BM_CholeskyDecompose)->Apply(Configure);
BENCHMARK(BM_CholeskyDecompose)->Apply(ConfigureLarge);
BENCHMARK(BM_LdltDecompose)->Apply(Configure);
BENCHMARK(BM_LdltDecompose)->Apply(ConfigureLarge);
BENCHMARK(BM_SolveAugmentedCholesky)->Apply(Configure)->Arg(6000);
BENCHMARK(BM_SolveAugmentedUnit)->Apply(Configure)->Arg(6000);
BENCHMARK(BM_InvertSymmetric)->Apply(Configure);
BENCHMARK(BM_InvertSymmetric)->Apply(ConfigureLarge);
BENCHMARK(BM_InvertAugmentedFactor)->Apply(Configure);
BENCHMARK(BM_InvertAugmentedFactor)->Apply(ConfigureLarge);
BENCHMARK(BM_RankThreeUpdate)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true)->Arg(6000);
BENCHMARK(BM_RankThreeAtA)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true)->Arg(6000);

BENCHMARK_MAIN();
