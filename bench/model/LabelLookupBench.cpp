// Label lookups in a point set and an observation list of 50,000 elements,
// with 500,000 keys (one in ten not in the list) taken in a scattered order.
#include "ImageObservation.h"
#include "NameBuffer.h"
#include "ObjectPoint.h"
#include "PointSet.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <vector>

namespace {

constexpr int kElements = 50000;
constexpr int kLookups = 500000;

CNameBuffer LabelOf(int i)
{
    char text[24];
    std::snprintf(text, sizeof text, "P%d", i);
    return CNameBuffer(text);
}

std::vector<CNameBuffer> MakeKeys()
{
    std::vector<CNameBuffer> keys;
    keys.reserve(kLookups);
    std::mt19937 gen(2024);
    // Labels P1..P55000: the last 5,000 are not in the lists.
    std::uniform_int_distribution<int> pick(1, kElements + kElements / 10);
    for (int i = 0; i < kLookups; ++i) keys.push_back(LabelOf(pick(gen)));
    return keys;
}

const std::vector<CNameBuffer>& Keys()
{
    static const std::vector<CNameBuffer> keys = MakeKeys();
    return keys;
}

void BM_PointSetFindPoint(benchmark::State& state)
{
    CPointSet set;
    for (int i = 1; i <= kElements; ++i) set.AddCopy(CObjectPoint(LabelOf(i), i, 0.0, 0.0));
    set.SortByLabel();
    const std::vector<CNameBuffer>& keys = Keys();
    std::size_t k = 0;
    int found = 0;
    for (auto _ : state) {
        const CObjectPoint* p = set.FindPoint(keys[k]);
        found += p != nullptr;
        benchmark::DoNotOptimize(p);
        if (++k == keys.size()) k = 0;
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["found"] = static_cast<double>(found) / static_cast<double>(state.iterations());
}

// A set that changes between lookups: each round adds a point in order and
// looks one up, so every lookup finds the list changed.
void BM_PointSetAddThenFind(benchmark::State& state)
{
    CPointSet set;
    for (int i = 1; i <= kElements; ++i) set.AddCopy(CObjectPoint(LabelOf(2 * i), i, 0.0, 0.0));
    set.SortByLabel();
    const std::vector<CNameBuffer>& keys = Keys();
    std::size_t k = 0;
    int next = 1;
    for (auto _ : state) {
        state.PauseTiming();
        set.InsertAt(next - 1, CObjectPoint(LabelOf(next), 0.0, 0.0, 0.0), 1);
        next += 2;
        state.ResumeTiming();
        benchmark::DoNotOptimize(set.FindPoint(keys[k]));
        if (++k == keys.size()) k = 0;
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_ObservationListFind(benchmark::State& state)
{
    CObservationList list;
    for (int i = 1; i <= kElements; ++i) list.AddCopy(CImageObservation(LabelOf(i), i, 0.0));
    list.SortByLabel();
    const std::vector<CNameBuffer>& keys = Keys();
    std::size_t k = 0;
    int found = 0;
    for (auto _ : state) {
        const CImageObservation* o = list.Find(keys[k]);
        found += o != nullptr;
        benchmark::DoNotOptimize(o);
        if (++k == keys.size()) k = 0;
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["found"] = static_cast<double>(found) / static_cast<double>(state.iterations());
}

} // namespace

BENCHMARK(BM_PointSetFindPoint)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PointSetAddThenFind)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ObservationListFind)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
