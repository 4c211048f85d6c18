// Conversion of a 20-megapixel JPEG photograph (quality 95) to a grey TIFF,
// phase by phase, against libjpeg's own decode of the same file. Each
// benchmark reports the process's peak resident memory and the load average.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <sys/resource.h>
#include <unistd.h>

#include "ImageStore.h"
#include "JpegConversion.h"
#include "JpegFileReader.h"
#include "TiffFileReader.h"

namespace {

constexpr int kWidth = 5472, kHeight = 3648; // 19.96 megapixels

std::string Folder()
{
    static const std::string folder = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string f = std::string(tmp && *tmp ? tmp : "/tmp") + "/kestrelon-bench-" + std::to_string(::getpid());
        std::filesystem::create_directories(f);
        return f;
    }();
    return folder;
}

// A photograph-like picture: smooth shading, edges and fine noise.
uint8_t Value(int s, int y, int x)
{
    uint32_t h = uint32_t(x) * 73856093u ^ uint32_t(y) * 19349663u ^ uint32_t(s) * 83492791u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    const double v = 120 + 60 * std::sin(x * 0.004 + s) * std::cos(y * 0.003) + ((x / 97 + y / 61) % 2 ? 25 : -25)
        + double(h % 17) - 8;
    return uint8_t(std::lround(std::fmin(255.0, std::fmax(0.0, v))));
}

std::string Photograph(int samples)
{
    const std::string path = Folder() + (samples == 3 ? "/colour.jpg" : "/grey.jpg");
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        std::fclose(f);
        return path;
    }
    FILE* f = std::fopen(path.c_str(), "wb");
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = kWidth;
    c.image_height = kHeight;
    c.input_components = samples;
    c.in_color_space = samples == 3 ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 95, TRUE);
    jpeg_start_compress(&c, TRUE);
    std::vector<JSAMPLE> row(size_t(kWidth) * samples);
    while (c.next_scanline < c.image_height) {
        for (int x = 0; x < kWidth; ++x)
            for (int s = 0; s < samples; ++s)
                row[size_t(x) * samples + s] = Value(s, int(c.next_scanline), x);
        JSAMPROW p = row.data();
        jpeg_write_scanlines(&c, &p, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(f);
    return path;
}

void Report(benchmark::State& state)
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    double load[3] = {0, 0, 0};
    ::getloadavg(load, 3);
    state.counters["peak_MB"] = double(usage.ru_maxrss) / 1024.0;
    state.counters["load1"] = load[0];
}

// libjpeg alone: the file decoded line by line into one line buffer.
void BM_LibjpegDecode(benchmark::State& state)
{
    const std::string path = Photograph(int(state.range(0)));
    std::vector<JSAMPLE> row(size_t(kWidth) * 3);
    for (auto _ : state) {
        FILE* f = std::fopen(path.c_str(), "rb");
        jpeg_decompress_struct d;
        jpeg_error_mgr err;
        d.err = jpeg_std_error(&err);
        jpeg_create_decompress(&d);
        jpeg_stdio_src(&d, f);
        jpeg_read_header(&d, TRUE);
        d.out_color_space = d.jpeg_color_space == JCS_GRAYSCALE ? JCS_GRAYSCALE : JCS_RGB;
        jpeg_start_decompress(&d);
        JSAMPROW p = row.data();
        while (d.output_scanline < d.output_height)
            jpeg_read_scanlines(&d, &p, 1);
        jpeg_finish_decompress(&d);
        jpeg_destroy_decompress(&d);
        std::fclose(f);
        benchmark::DoNotOptimize(row.data());
    }
    Report(state);
}

// Phase 1: decode into the paged store.
void BM_DecodeIntoStore(benchmark::State& state)
{
    const std::string path = Photograph(int(state.range(0)));
    for (auto _ : state) {
        CImageStore store;
        CJpegFileReader jpeg(path.c_str());
        if (!store.ReadFrom(jpeg))
            state.SkipWithError("read failed");
    }
    Report(state);
}

// Phase 2: colour to grey, store to store.
void BM_GreyConversion(benchmark::State& state)
{
    CImageStore colour;
    {
        CJpegFileReader jpeg(Photograph(3).c_str());
        colour.ReadFrom(jpeg);
    }
    for (auto _ : state) {
        CImageStore grey;
        if (!colour.ConvertToGrey(grey))
            state.SkipWithError("conversion failed");
    }
    Report(state);
}

// Phase 3: the grey store written as an uncompressed TIFF.
void BM_TiffWrite(benchmark::State& state)
{
    CImageStore grey;
    {
        CJpegFileReader jpeg(Photograph(1).c_str());
        grey.ReadFrom(jpeg);
    }
    const std::string path = Folder() + "/written.tif";
    for (auto _ : state) {
        CTiffFileReader tiff(path.c_str());
        if (!grey.WriteTo(tiff) || !tiff.Close())
            state.SkipWithError("write failed");
    }
    std::remove(path.c_str());
    Report(state);
}

// All three phases, as the conversion runs them.
void BM_WholeConversion(benchmark::State& state)
{
    const std::string path = Photograph(int(state.range(0)));
    for (auto _ : state)
        if (!ConvertJpegToGreyTiff(path.c_str()))
            state.SkipWithError("conversion failed");
    Report(state);
}

} // namespace

BENCHMARK(BM_LibjpegDecode)->Arg(3)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeIntoStore)->Arg(3)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GreyConversion)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TiffWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WholeConversion)->Arg(3)->Arg(1)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    std::filesystem::remove_all(Folder(), ec);
    return 0;
}
