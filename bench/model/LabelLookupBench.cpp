// Label lookups in a point set and an observation list of 50,000 elements,
// with 500,000 keys (one in ten not in the list) taken in a scattered order;
// building a set point by point in label order, every label of a set looked
// up once, and removing close
// duplicates from an observation list, at 10^3, 10^4 and 10^5 items.
#include "ImageObservation.h"
#include "NameBuffer.h"
#include "ObjectPoint.h"
#include "PointSet.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
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

// Points P1..Pn in a random order.
std::vector<CObjectPoint> ShuffledPoints(int n)
{
    std::vector<CObjectPoint> points;
    std::mt19937 gen(7);
    for (int i = 1; i <= n; ++i)
        points.emplace_back(LabelOf(i), i, 0.0, 0.0);
    std::shuffle(points.begin(), points.end(), gen);
    return points;
}

// n points added one by one in label order, labels in random order.
void BM_PointSetAddPointSorted(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    const std::vector<CObjectPoint> points = ShuffledPoints(n);
    for (auto _ : state) {
        CPointSet set;
        for (const CObjectPoint& p : points)
            set.AddPointSorted(p);
        benchmark::DoNotOptimize(set.GetAt(0));
    }
    state.SetItemsProcessed(state.iterations() * n);
}

// Every label of an n-point set looked up once, in a scattered order, with a
// temporary point made per lookup as callers do when they build results.
void BM_PointSetFindEach(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    CPointSet set;
    for (int i = 1; i <= n; ++i) set.AddCopy(CObjectPoint(LabelOf(i), i, 0.0, 0.0));
    set.SortByLabel();
    std::vector<CNameBuffer> keys;
    for (int i = 1; i <= n; ++i) keys.push_back(LabelOf(i));
    std::shuffle(keys.begin(), keys.end(), std::mt19937(5));
    int found = 0;
    for (auto _ : state) {
        for (const CNameBuffer& key : keys) {
            CObjectPoint copy(key, 0.0, 0.0, 0.0);
            found += set.FindPoint(copy.label) != nullptr;
        }
    }
    benchmark::DoNotOptimize(found);
    state.SetItemsProcessed(state.iterations() * n);
}

// The same points appended unsorted: the copies and the set's end alone.
void BM_PointSetAddCopy(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    const std::vector<CObjectPoint> points = ShuffledPoints(n);
    for (auto _ : state) {
        CPointSet set;
        for (const CObjectPoint& p : points)
            set.AddCopy(p);
        benchmark::DoNotOptimize(set.GetAt(0));
    }
    state.SetItemsProcessed(state.iterations() * n);
}

// Targets of a scanned image: n observations on a grid 10 pixels apart
// (0.05 mm), one in four found twice within 0.5 pixels, in scan order.
void BM_ObservationRemoveCloseDuplicates(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    std::vector<CImageObservation> targets;
    std::mt19937 gen(11);
    std::uniform_real_distribution<double> jitter(-0.001, 0.001);
    const int side = static_cast<int>(std::sqrt(double(n))) + 1;
    for (int i = 0; static_cast<int>(targets.size()) < n; ++i) {
        const double x = 0.05 * (i % side), y = 0.05 * (i / side);
        targets.emplace_back(LabelOf(i + 1), x, y);
        if (i % 4 == 0 && static_cast<int>(targets.size()) < n)
            targets.emplace_back(LabelOf(n + i + 1), x + jitter(gen), y + jitter(gen));
    }
    for (auto _ : state) {
        state.PauseTiming();
        CObservationList list;
        for (const CImageObservation& o : targets)
            list.AddCopy(o);
        state.ResumeTiming();
        list.RemoveCloseDuplicates(0.0025);
        benchmark::DoNotOptimize(list.GetSize());
    }
    state.SetItemsProcessed(state.iterations() * n);
}

} // namespace

BENCHMARK(BM_PointSetFindPoint)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PointSetAddThenFind)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ObservationListFind)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PointSetAddPointSorted)->RangeMultiplier(10)->Range(1000, 100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PointSetAddCopy)->RangeMultiplier(10)->Range(1000, 100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PointSetFindEach)->RangeMultiplier(10)->Range(1000, 100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ObservationRemoveCloseDuplicates)->RangeMultiplier(10)->Range(1000, 100000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
