// TIFF and JPEG files read line by line, and TIFF files written from a store.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include <tiffio.h>

#include "ImageFiles.h"
#include "ImageStore.h"
#include "ImageTestFiles.h"
#include "JpegFileReader.h"
#include "Message.h"
#include "TiffFileReader.h"

namespace {

// Reads every line and compares each value with the known picture; the
// largest difference found, or -1 when a line cannot be read.
int LargestDifference(CImageFileReader& file)
{
    const int w = file.GetWidth(), h = file.GetHeight(), samples = file.GetSamplesPerPixel();
    const int bits = file.GetBitsPerSample();
    const int maxValue = bits == 16 ? 65535 : 255;
    std::vector<uint16_t> line(size_t(w) * samples);
    auto* bytes = reinterpret_cast<uint8_t*>(line.data());
    int worst = 0;
    for (int y = 0; y < h; ++y) {
        if (!file.ReadLine(bytes, y))
            return -1;
        for (int s = 0; s < samples; ++s)
            for (int x = 0; x < w; ++x) {
                const size_t i = size_t(s) * w + x;
                const int v = bits == 16 ? line[i] : bytes[i];
                worst = std::max(worst, std::abs(v - KnownValue(s, y, x, maxValue)));
            }
    }
    return worst;
}

struct TiffReadCase {
    const char* name;
    std::vector<TiffImageSpec> directories;
    bool bigEndian;
    int width, height, samples, bits; // width 0: refused with a message
};

TEST(ImageFiles, TiffReaderChoosesTheLargestImageAndDecodesItsStrips)
{
    const TiffImageSpec thumb{160, 120};
    const TiffImageSpec big{3000, 2000};
    const std::vector<TiffReadCase> cases = {
        {"thumbnail then image", {thumb, big}, false, 3000, 2000, 1, 8},
        {"smaller third image", {thumb, big, TiffImageSpec{80, 60}}, false, 3000, 2000, 1, 8},
        {"same length not taken", {thumb, TiffImageSpec{3000, 120}}, false, 160, 120, 1, 8},
        {"16-bit little-endian", {TiffImageSpec{301, 77, 1, 16}}, false, 301, 77, 1, 16},
        {"16-bit big-endian", {TiffImageSpec{301, 77, 1, 16}}, true, 301, 77, 1, 16},
        {"16-bit RGB big-endian", {TiffImageSpec{97, 31, 3, 16, 1, 5}}, true, 97, 31, 3, 16},
        {"RGB, strips of 7 rows", {TiffImageSpec{123, 45, 3, 8, 1, 7}}, false, 123, 45, 3, 8},
        {"LZW RGB", {TiffImageSpec{200, 150, 3, 8, COMPRESSION_LZW}}, false, 200, 150, 3, 8},
        {"Deflate 16-bit grey", {TiffImageSpec{200, 150, 1, 16, COMPRESSION_ADOBE_DEFLATE, 16}}, false, 200, 150, 1, 16},
        {"tiled", {TiffImageSpec{64, 64, 1, 8, 1, 0, true}}, false, 0, 0, 0, 0},
        {"separate planes", {TiffImageSpec{64, 64, 3, 8, 1, 0, false, true}}, false, 0, 0, 0, 0},
        {"1 bit", {TiffImageSpec{64, 64, 1, 1}}, false, 0, 0, 0, 0},
    };
    ScratchFolder folder;
    QuietMessages quiet;
    for (const TiffReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = folder.Path("case.tif");
        ASSERT_TRUE(WriteTiffImages(path, c.directories, c.bigEndian));
        CTiffFileReader file(path.c_str());
        EXPECT_EQ(file.GetWidth(), c.width);
        EXPECT_EQ(file.GetHeight(), c.height);
        EXPECT_EQ(file.GetSamplesPerPixel(), c.samples);
        EXPECT_EQ(file.GetBitsPerSample(), c.bits);
        const std::vector<CapturedMessage> said = TakeCapturedMessages();
        if (c.width == 0) {
            uint8_t line[64 * 3];
            EXPECT_FALSE(file.ReadLine(line, 0));
            ASSERT_EQ(said.size(), 1u); // once, however often the getters ask
            EXPECT_NE(said[0].text.find("cannot be read"), std::string::npos) << said[0].text;
        } else {
            EXPECT_TRUE(said.empty());
            EXPECT_EQ(LargestDifference(file), 0);
        }
    }
}

TEST(ImageFiles, WrittenTiffsCarryTheirLayoutAndTheStoresValues)
{
    struct Case {
        int samples, bits, photometric;
    };
    const Case cases[] = {{1, 8, PHOTOMETRIC_MINISBLACK}, {3, 8, PHOTOMETRIC_RGB}, {1, 16, PHOTOMETRIC_MINISBLACK},
                          {3, 16, PHOTOMETRIC_RGB}};
    ScratchFolder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.samples << " samples of " << c.bits << " bits");
        const int w = 211, h = 67, maxValue = c.bits == 16 ? 65535 : 255;
        CImageStore store;
        ASSERT_TRUE(store.Create(h, w, c.samples, c.bits));
        for (int s = 0; s < c.samples; ++s)
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    store.SetPixel(s, y, x, KnownValue(s, y, x, maxValue));
        const std::string path = folder.Path("written.tif");
        {
            CTiffFileReader file(path.c_str());
            ASSERT_TRUE(store.WriteTo(file));
            ASSERT_TRUE(file.Close());
        }
        TIFF* t = TIFFOpen(path.c_str(), "r");
        ASSERT_NE(t, nullptr);
        uint16_t photometric = 0, planar = 0, compression = 0, bits = 0, samples = 0;
        uint32_t rows = 0;
        TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric);
        TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &planar);
        TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &compression);
        TIFFGetField(t, TIFFTAG_BITSPERSAMPLE, &bits);
        TIFFGetField(t, TIFFTAG_SAMPLESPERPIXEL, &samples);
        TIFFGetField(t, TIFFTAG_ROWSPERSTRIP, &rows);
        EXPECT_EQ(photometric, c.photometric);
        EXPECT_EQ(planar, PLANARCONFIG_CONTIG);
        EXPECT_EQ(compression, COMPRESSION_NONE);
        EXPECT_EQ(rows, 1u);
        EXPECT_EQ(bits, c.bits);
        EXPECT_EQ(samples, c.samples);
        EXPECT_EQ(TIFFNumberOfStrips(t), uint32_t(h));
        std::vector<uint16_t> row(size_t(w) * c.samples);
        int mismatches = 0;
        for (int y = 0; y < h; ++y) {
            ASSERT_EQ(TIFFReadScanline(t, row.data(), uint32_t(y)), 1);
            for (int x = 0; x < w; ++x)
                for (int s = 0; s < c.samples; ++s) {
                    const size_t i = size_t(x) * c.samples + s;
                    const int v = c.bits == 16 ? row[i] : reinterpret_cast<uint8_t*>(row.data())[i];
                    mismatches += v != store.GetPixel(s, y, x);
                }
        }
        EXPECT_EQ(mismatches, 0);
        TIFFClose(t);
    }
}

TEST(ImageFiles, JpegReaderDeliversGreyAndColourCloseToThePicture)
{
    ScratchFolder folder;
    for (int samples : {1, 3}) {
        SCOPED_TRACE(samples);
        const std::string path = folder.Path("picture.jpg");
        ASSERT_TRUE(WriteJpeg(path, 333, 157, samples, 100));
        CJpegFileReader file(path.c_str());
        EXPECT_EQ(file.GetSamplesPerPixel(), samples);
        EXPECT_EQ(file.GetBitsPerSample(), 8);
        EXPECT_EQ(file.GetWidth(), 333);
        EXPECT_EQ(file.GetHeight(), 157);
        const int worst = LargestDifference(file);
        EXPECT_GE(worst, 0);
        EXPECT_LE(worst, 4); // colour passes through YCbCr
        uint8_t extra[333 * 3];
        EXPECT_FALSE(file.ReadLine(extra, 157)); // no line beyond the last
        EXPECT_FALSE(file.HasFailed());
    }
}

TEST(ImageFiles, StoreReportsTheLineWhereReadingOrWritingFails)
{
    ScratchFolder folder;
    QuietMessages quiet;
    const std::string path = folder.Path("cut.jpg");
    ASSERT_TRUE(WriteJpeg(path, 400, 300, 3, 95));
    std::vector<uint8_t> bytes = ReadBytes(path);
    bytes.resize(bytes.size() / 2);
    ASSERT_TRUE(WriteBytes(path, bytes));
    CImageStore store;
    CJpegFileReader jpeg(path.c_str());
    EXPECT_FALSE(store.ReadFrom(jpeg));
    EXPECT_GT(store.GetLinesRead(), 0);
    EXPECT_LT(store.GetLinesRead(), 300);
    EXPECT_TRUE(jpeg.HasFailed());

    // A TIFF in a folder that does not exist cannot be written.
    CTiffFileReader tiff(folder.Path("missing/out.tif").c_str());
    EXPECT_FALSE(store.WriteTo(tiff));
    CImageStore empty;
    CTiffFileReader unused(folder.Path("empty.tif").c_str());
    EXPECT_FALSE(empty.WriteTo(unused));
    EXPECT_EQ(folder.Files(), std::vector<std::string>{"cut.jpg"});
}

TEST(ImageFiles, LineCounterRunsFromZeroToTheHeight)
{
    CImageFileReader file("none");
    file.SetHeight(3);
    std::vector<int> lines = {file.FirstLine()};
    while (file.HasMoreLines())
        lines.push_back(file.NextLine());
    EXPECT_EQ(lines, (std::vector<int>{0, 1, 2}));
    EXPECT_FALSE(file.ReadLine(nullptr, 0));
    EXPECT_FALSE(file.WriteLine(nullptr, 0));
}

} // namespace
