// The sample's ten 12-megapixel pictures rendered and written as TIFF files,
// on 1, 2 and 4 workers and on one worker per core (0).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "SamplePictures.h"
#include "SampleProject.h"

namespace {

void BM_SamplePictures(benchmark::State& state)
{
    char pattern[] = "/tmp/kestrelon-bench-XXXXXX";
    if (!mkdtemp(pattern)) {
        state.SkipWithError("no scratch folder");
        return;
    }
    const std::string folder = pattern;
    std::string message;
    for (auto _ : state)
        if (!WriteSamplePictures(folder, message, int(state.range(0))))
            state.SkipWithError(message.c_str());
    std::error_code error;
    std::filesystem::remove_all(folder, error);
    state.SetItemsProcessed(state.iterations() * CSampleTruth::kImageCount);
}
BENCHMARK(BM_SamplePictures)->Arg(1)->Arg(2)->Arg(4)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
