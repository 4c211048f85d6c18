#include "ImageFiles.h"

#include <tiffio.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

TestPicture MakePicture(int width, int height, int samples, unsigned seed)
{
    TestPicture p;
    p.width = width;
    p.height = height;
    p.samples = samples;
    p.values.resize(size_t(width) * height * samples);
    std::mt19937 random(seed);
    for (auto& v : p.values)
        v = uint8_t(random());
    return p;
}

std::vector<uint8_t> ExpectedGrey(const TestPicture& p, bool minIsWhite)
{
    std::vector<uint8_t> grey(size_t(p.width) * p.height);
    for (int r = 0; r < p.height; ++r)
        for (int x = 0; x < p.width; ++x) {
            int v = p.At(r, x);
            if (p.samples == 3)
                v = (p.At(r, x, 0) + p.At(r, x, 1) + p.At(r, x, 2)) / 3;
            grey[size_t(r) * p.width + x] = uint8_t(minIsWhite ? 255 - v : v);
        }
    return grey;
}

namespace {

void SetCommonFields(TIFF* tif, uint32_t width, uint32_t height, uint16_t samples, uint16_t bits,
                     uint16_t photometric, uint16_t compression)
{
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
}

// A 160 x 120 grey directory of a constant value.
bool WriteThumbnail(TIFF* tif)
{
    SetCommonFields(tif, 160, 120, 1, 8, PHOTOMETRIC_MINISBLACK, COMPRESSION_NONE);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 120u);
    std::vector<uint8_t> row(160, 77);
    for (uint32_t r = 0; r < 120; ++r)
        if (TIFFWriteScanline(tif, row.data(), r, 0) < 0)
            return false;
    return true;
}

} // namespace

bool WriteTestTiff(const std::string& path, const TestPicture& p, const TiffLayout& layout)
{
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    TIFF* tif = TIFFOpen(path.c_str(), layout.bigEndian ? "wb" : "wl");
    if (!tif)
        return false;
    bool ok = true;
    if (layout.thumbnailFirst || layout.subIfd) {
        if (layout.subIfd) {
            uint64_t placeholder[1] = {0};
            TIFFSetField(tif, TIFFTAG_SUBIFD, 1, placeholder);
        }
        ok = WriteThumbnail(tif) && TIFFWriteDirectory(tif);
    }
    const uint16_t samples = uint16_t(p.samples);
    SetCommonFields(tif, p.width, p.height, samples, layout.bitsPerSample, layout.photometric, layout.compression);
    if (layout.photometric == PHOTOMETRIC_PALETTE) {
        // A colour map that differs per channel, so a mix-up shows.
        static uint16_t red[256], green[256], blue[256];
        for (int i = 0; i < 256; ++i) {
            red[i] = uint16_t(i * 257);
            green[i] = uint16_t((255 - i) * 257);
            blue[i] = uint16_t((i * 7 % 256) * 257);
        }
        TIFFSetField(tif, TIFFTAG_COLORMAP, red, green, blue);
    }
    const int bytes = layout.bitsPerSample / 8;
    const size_t rowBytes = size_t(p.width) * p.samples * bytes;
    auto rowOf = [&](int r) {
        std::vector<uint8_t> row(rowBytes);
        for (size_t i = 0; i < size_t(p.width) * p.samples; ++i)
            for (int b = 0; b < bytes; ++b)
                row[i * bytes + b] = p.values[size_t(r) * p.width * p.samples + i];
        return row;
    };
    if (layout.tiled) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, 16u);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, 16u);
        std::vector<uint8_t> tile(TIFFTileSize(tif));
        for (uint32_t t = 0; ok && t < TIFFNumberOfTiles(tif); ++t)
            ok = TIFFWriteEncodedTile(tif, t, tile.data(), tmsize_t(tile.size())) >= 0;
    } else {
        const uint32_t rps = layout.rowsPerStrip ? layout.rowsPerStrip : uint32_t(p.height);
        if (layout.writeRowsPerStrip)
            TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rps);
        for (int r = 0; ok && r < p.height; ++r)
            ok = TIFFWriteScanline(tif, rowOf(r).data(), uint32_t(r), 0) >= 0;
    }
    if (layout.thumbnailFirst && ok) {
        // A smaller directory after the picture is not chosen either.
        ok = TIFFWriteDirectory(tif) != 0;
        SetCommonFields(tif, 80, 60, 1, 8, PHOTOMETRIC_MINISBLACK, COMPRESSION_NONE);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 60u);
        std::vector<uint8_t> row(80, 5);
        for (uint32_t r = 0; ok && r < 60; ++r)
            ok = TIFFWriteScanline(tif, row.data(), r, 0) >= 0;
    }
    TIFFClose(tif);
    return ok;
}

namespace {

void Put16(std::vector<uint8_t>& b, uint32_t v)
{
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>& b, uint32_t v)
{
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

} // namespace

std::vector<uint8_t> MakeTestBmp(const TestPicture& p, const BmpLayout& layout)
{
    const int bits = p.samples == 3 ? 24 : 8;
    const uint32_t stride = uint32_t((p.width * bits / 8 + 3) / 4 * 4);
    const uint32_t entries = bits == 8 ? uint32_t(layout.paletteEntries) : 0;
    const uint32_t offset = 14 + 40 + 4 * entries;
    const uint32_t imageBytes = stride * uint32_t(p.height);
    std::vector<uint8_t> b;
    b.push_back('B');
    b.push_back('M');
    Put32(b, offset + imageBytes);
    Put32(b, 0);
    Put32(b, offset);
    Put32(b, 40);
    Put32(b, uint32_t(p.width));
    Put32(b, uint32_t(layout.topDown ? -p.height : p.height));
    Put16(b, 1);
    Put16(b, uint32_t(bits));
    Put32(b, 0);
    Put32(b, imageBytes);
    Put32(b, 2835);
    Put32(b, 2835);
    Put32(b, entries == 256 ? 0 : entries);
    Put32(b, 0);
    for (uint32_t i = 0; i < entries; ++i) {
        for (int c = 0; c < 3; ++c)
            b.push_back(uint8_t(i));
        b.push_back(0);
    }
    for (int line = 0; line < p.height; ++line) {
        const int row = layout.topDown ? line : p.height - 1 - line;
        const size_t start = b.size();
        for (int x = 0; x < p.width; ++x) {
            if (bits == 8) {
                b.push_back(p.At(row, x));
            } else {
                b.push_back(p.At(row, x, 2));
                b.push_back(p.At(row, x, 1));
                b.push_back(p.At(row, x, 0));
            }
        }
        b.resize(start + stride, 0);
    }
    return b;
}

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

std::vector<uint8_t> ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TempFolder::TempFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "kestrelon-imaging-XXXXXX").string();
    if (char* made = mkdtemp(pattern.data()))
        path = made;
}

TempFolder::~TempFolder()
{
    std::error_code ignored;
    if (!path.empty())
        std::filesystem::remove_all(path, ignored);
}
