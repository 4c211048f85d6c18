// The per-point observation index of a network of 1,000 images and 20,000
// points, each point in about 10 images: built as the bundle's merge builds
// it (images in rising order), then stored. Counters give the bytes the
// indices hold, against the full table of one int per image.
#include "ObjectPoint.h"
#include "RayIndex.h"
#include "Vector.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <random>
#include <sstream>
#include <vector>

namespace {

constexpr int kImages = 1000;
constexpr int kPoints = 20000;

// For each point, its images in rising order and its observation there.
const std::vector<std::vector<std::pair<int, int>>>& Rays()
{
    static const std::vector<std::vector<std::pair<int, int>>> rays = [] {
        std::mt19937 gen(23);
        std::vector<std::vector<std::pair<int, int>>> out(kPoints);
        for (auto& point : out) {
            const int n = 8 + int(gen() % 5); // 8..12, about 10
            std::vector<int> images;
            while (int(images.size()) < n) {
                const int j = int(gen() % kImages);
                if (std::find(images.begin(), images.end(), j) == images.end())
                    images.push_back(j);
            }
            std::sort(images.begin(), images.end());
            for (int j : images)
                point.emplace_back(j, int(gen() % 200));
        }
        return out;
    }();
    return rays;
}

std::vector<CRayIndex> BuildIndex()
{
    const auto& rays = Rays();
    std::vector<CRayIndex> index(kPoints);
    for (int i = 0; i < kPoints; ++i) {
        index[size_t(i)].Reset(kImages);
        for (const auto& [image, observation] : rays[size_t(i)])
            index[size_t(i)][image] = observation;
    }
    return index;
}

void BM_RayIndexBuild(benchmark::State& state)
{
    std::size_t bytes = 0;
    for (auto _ : state) {
        std::vector<CRayIndex> index = BuildIndex();
        bytes = 0;
        for (const CRayIndex& r : index)
            bytes += r.GetBytes();
        benchmark::DoNotOptimize(index.data());
    }
    state.counters["index_MB"] = double(bytes) / 1e6;
}

// The full table, as the index was kept before: one int per image.
void BM_FullTableBuild(benchmark::State& state)
{
    const auto& rays = Rays();
    std::size_t bytes = 0;
    for (auto _ : state) {
        std::vector<CIntVector> index(kPoints);
        for (int i = 0; i < kPoints; ++i) {
            CIntVector& v = index[size_t(i)];
            v.SetSize(kImages);
            for (int j = 0; j < kImages; ++j)
                v[j] = -1;
            for (const auto& [image, observation] : rays[size_t(i)])
                v[image] = observation;
        }
        bytes = 0;
        for (const CIntVector& v : index)
            bytes += sizeof(CIntVector) + std::size_t(v.GetSize()) * sizeof(int32_t);
        benchmark::DoNotOptimize(index.data());
    }
    state.counters["index_MB"] = double(bytes) / 1e6;
}

// Writing the indices in the project file's layout and reading them back.
void BM_RayIndexStoreAndLoad(benchmark::State& state)
{
    std::vector<CRayIndex> index = BuildIndex();
    for (auto _ : state) {
        std::stringbuf out(std::ios::out);
        {
            CBinArchive ar(&out, std::ios::out);
            for (CRayIndex& r : index)
                r.Serialize(ar);
        }
        std::stringbuf in(out.str(), std::ios::in);
        CBinArchive ar(&in, std::ios::in);
        CRayIndex loaded;
        int entries = 0;
        for (int i = 0; i < kPoints; ++i) {
            loaded.Serialize(ar);
            entries += loaded.GetEntryCount();
        }
        benchmark::DoNotOptimize(entries);
    }
    state.SetBytesProcessed(state.iterations() * int64_t(kPoints) * (kImages + 1) * 4 * 2);
}

} // namespace

BENCHMARK(BM_RayIndexBuild)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FullTableBuild)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RayIndexStoreAndLoad)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
