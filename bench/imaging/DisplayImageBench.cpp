// Loading 20-megapixel photographs into display images, threaded and not,
// against libtiff's own decode of the same file plus one pass over the pixels
// (and a plain read plus one pass for BMP). Counters: peak resident memory of
// the process and the one-minute load average.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <tiffio.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "BmpDisplayImage.h"
#include "TiffDisplayImage.h"

namespace {

constexpr uint32_t kWidth = 5472;
constexpr uint32_t kHeight = 3648;

enum Kind { greyRaw, greyLzw, rgbRaw, bmp8, kinds };
const char* const kNames[kinds] = {"grey.tif", "grey-lzw.tif", "rgb.tif", "grey.bmp"};

// A photograph-like picture: smooth shading with a little noise.
uint8_t Value(uint32_t x, uint32_t y, uint32_t sample)
{
    const uint32_t noise = (x * 2654435761u ^ y * 40503u ^ sample * 977u) >> 29;
    return uint8_t((x / 23 + y / 17 + sample * 40 + noise) & 255);
}

std::string PathOf(Kind kind)
{
    return (std::filesystem::temp_directory_path() / ("kestrelon-bench-" + std::string(kNames[kind]))).string();
}

void WriteTiff(Kind kind)
{
    const uint16_t samples = kind == rgbRaw ? 3 : 1;
    TIFF* tif = TIFFOpen(PathOf(kind).c_str(), "w");
    if (!tif)
        std::abort();
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kWidth);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kHeight);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, samples == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, kind == greyLzw ? COMPRESSION_LZW : COMPRESSION_NONE);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
    std::vector<uint8_t> row(size_t(kWidth) * samples);
    for (uint32_t y = 0; y < kHeight; ++y) {
        for (uint32_t x = 0; x < kWidth; ++x)
            for (uint32_t s = 0; s < samples; ++s)
                row[size_t(x) * samples + s] = Value(x, y, s);
        TIFFWriteScanline(tif, row.data(), y, 0);
    }
    TIFFClose(tif);
}

void Put(std::FILE* f, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        std::fputc(int(v >> (8 * i)) & 255, f);
}

void WriteBmp()
{
    std::FILE* f = std::fopen(PathOf(bmp8).c_str(), "wb");
    if (!f)
        std::abort();
    const uint32_t offset = 14 + 40 + 1024, image = kWidth * kHeight;
    std::fputc('B', f);
    std::fputc('M', f);
    Put(f, offset + image, 4);
    Put(f, 0, 4);
    Put(f, offset, 4);
    for (uint32_t v : {40u, kWidth, kHeight})
        Put(f, v, 4);
    Put(f, 1, 2);
    Put(f, 8, 2);
    for (uint32_t v : {0u, image, 0u, 0u, 0u, 0u})
        Put(f, v, 4);
    for (uint32_t i = 0; i < 256; ++i)
        Put(f, i | i << 8 | i << 16, 4);
    std::vector<uint8_t> row(kWidth);
    for (uint32_t y = 0; y < kHeight; ++y) {
        for (uint32_t x = 0; x < kWidth; ++x)
            row[x] = Value(x, kHeight - 1 - y, 0);
        std::fwrite(row.data(), 1, row.size(), f);
    }
    std::fclose(f);
}

const std::string& FileOf(Kind kind)
{
    static std::array<std::string, kinds> made;
    if (made[kind].empty()) {
        made[kind] = PathOf(kind);
        if (kind == bmp8)
            WriteBmp();
        else
            WriteTiff(kind);
    }
    return made[kind];
}

void AddCounters(benchmark::State& state)
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_MB"] = double(usage.ru_maxrss) / 1024.0;
    double load[1] = {0.0};
    if (getloadavg(load, 1) == 1)
        state.counters["load1"] = load[0];
}

// Load, with the statistics on the worker or before Load returns; the
// statistics are waited for inside the timing either way.
void BM_Load(benchmark::State& state)
{
    const Kind kind = Kind(state.range(0));
    const int threaded = int(state.range(1));
    const std::string& path = FileOf(kind);
    for (auto _ : state) {
        std::unique_ptr<CDisplayImage> image;
        if (kind == bmp8)
            image = std::make_unique<CBmpDisplayImage>();
        else
            image = std::make_unique<CTiffDisplayImage>();
        if (!image->Load(path.c_str(), threaded))
            state.SkipWithError("load failed");
        benchmark::DoNotOptimize(image->GetMean());
    }
    state.SetLabel(kNames[kind]);
    AddCounters(state);
}
BENCHMARK(BM_Load)
    ->ArgsProduct({{greyRaw, greyLzw, rgbRaw, bmp8}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The reference: libtiff's decode of every strip (or one read of the BMP's
// pixels) and one pass that counts the grey values.
void BM_Reference(benchmark::State& state)
{
    const Kind kind = Kind(state.range(0));
    const std::string& path = FileOf(kind);
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    for (auto _ : state) {
        std::vector<uint8_t> pixels;
        if (kind == bmp8) {
            std::FILE* f = std::fopen(path.c_str(), "rb");
            pixels.resize(size_t(kWidth) * kHeight);
            std::fseek(f, 14 + 40 + 1024, SEEK_SET);
            if (std::fread(pixels.data(), 1, pixels.size(), f) != pixels.size())
                state.SkipWithError("short read");
            std::fclose(f);
        } else {
            TIFF* tif = TIFFOpen(path.c_str(), "r");
            const tmsize_t stripSize = TIFFStripSize(tif);
            const uint32_t strips = TIFFNumberOfStrips(tif);
            pixels.resize(size_t(stripSize) * strips);
            tmsize_t at = 0;
            for (uint32_t s = 0; s < strips; ++s)
                at += TIFFReadEncodedStrip(tif, s, pixels.data() + at, stripSize);
            pixels.resize(size_t(at));
            TIFFClose(tif);
        }
        std::array<uint32_t, 256> histogram{};
        for (uint8_t v : pixels)
            ++histogram[v];
        benchmark::DoNotOptimize(histogram.data());
    }
    state.SetLabel(kNames[kind]);
    AddCounters(state);
}
BENCHMARK(BM_Reference)->DenseRange(greyRaw, bmp8)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
