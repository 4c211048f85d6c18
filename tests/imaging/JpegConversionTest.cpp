// JPEG photographs converted to grey TIFF files: good files, and damaged
// ones that must never end the process nor leave a broken TIFF behind.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include <tiffio.h>

#include "ImageFiles.h"
#include "ImageTestFiles.h"
#include "JpegConversion.h"
#include "Message.h"

namespace {

// The largest difference between the TIFF's grey values and the rounded
// mean of the known picture's three samples (or its one sample); -1 when the
// TIFF is not an 8-bit grey image of that size.
int GreyDifference(const std::string& path, int width, int height, int jpegSamples)
{
    TIFF* t = TIFFOpen(path.c_str(), "r");
    if (!t)
        return -1;
    uint32_t w = 0, h = 0;
    uint16_t samples = 0, bits = 0;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetField(t, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetField(t, TIFFTAG_BITSPERSAMPLE, &bits);
    int worst = -1;
    if (int(w) == width && int(h) == height && samples == 1 && bits == 8) {
        worst = 0;
        std::vector<uint8_t> row(w);
        for (int y = 0; y < height && worst >= 0; ++y) {
            if (TIFFReadScanline(t, row.data(), uint32_t(y)) != 1) {
                worst = -1;
                break;
            }
            for (int x = 0; x < width; ++x) {
                double sum = 0;
                for (int s = 0; s < jpegSamples; ++s)
                    sum += KnownValue(s, y, x, 255);
                worst = std::max(worst, std::abs(row[size_t(x)] - int(std::lround(sum / jpegSamples))));
            }
        }
    }
    TIFFClose(t);
    return worst;
}

TEST(JpegConversion, GreyAndColourPhotographsBecomeGreyTiffs)
{
    struct Case {
        int width, height, samples;
    };
    // The last is larger than a plane's memory budget, so it is paged.
    const Case cases[] = {{320, 240, 1}, {320, 240, 3}, {2500, 1500, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height << " x " << c.samples);
        ScratchFolder folder;
        const std::string jpeg = folder.Path("photo.jpg");
        ASSERT_TRUE(WriteJpeg(jpeg, c.width, c.height, c.samples, 100));
        ASSERT_TRUE(ConvertJpegToGreyTiff(jpeg.c_str()));
        const int worst = GreyDifference(folder.Path("photo.tif"), c.width, c.height, c.samples);
        EXPECT_GE(worst, 0);
        EXPECT_LE(worst, 3);
        // Neither the paging files nor the temporary TIFF remain.
        EXPECT_EQ(folder.Files(), (std::vector<std::string>{"photo.jpg", "photo.tif"}));
    }
}

TEST(JpegConversion, DamagedPhotographsFailWheneverLibjpegReportsDamage)
{
    ScratchFolder folder;
    QuietMessages quiet;
    const std::string jpeg = folder.Path("photo.jpg");
    const std::string tiff = folder.Path("photo.tif");
    // Paged (2000 x 1400 x 3 bytes), so that a paging file exists when it fails.
    ASSERT_TRUE(WriteJpeg(jpeg, 2000, 1400, 3, 95));
    const std::vector<uint8_t> good = ReadBytes(jpeg);
    const size_t n = good.size();

    struct Variant {
        std::string name;
        std::vector<uint8_t> bytes;
    };
    std::vector<Variant> variants;
    for (double f : {0.0, 0.001, 0.1, 0.5, 0.9})
        variants.push_back({"cut at " + std::to_string(f), std::vector<uint8_t>(good.begin(), good.begin() + long(f * n))});
    for (size_t cut : {1, 2, 3})
        variants.push_back({"last " + std::to_string(cut) + " bytes cut", std::vector<uint8_t>(good.begin(), good.end() - long(cut))});
    variants.push_back({"not a JPEG", std::vector<uint8_t>{'P', '6', '\n', '1', ' ', '1', '\n', '2', '5', '5', '\n', 0, 0, 0}});
    for (double f : {0.2, 0.4, 0.6, 0.8, 0.95})
        for (uint8_t mask : {0xFF, 0x10}) {
            Variant v{"flipped at " + std::to_string(f) + " by " + std::to_string(mask), good};
            for (size_t i = size_t(f * n); i < size_t(f * n) + 16; ++i)
                v.bytes[i] ^= mask;
            variants.push_back(v);
        }

    int failures = 0;
    for (const Variant& v : variants) {
        for (bool tiffExisted : {false, true}) {
            SCOPED_TRACE(v.name + (tiffExisted ? ", TIFF existed" : ""));
            ASSERT_TRUE(WriteBytes(jpeg, v.bytes));
            const std::vector<uint8_t> before = {'o', 'l', 'd'};
            std::filesystem::remove(tiff);
            if (tiffExisted) {
                ASSERT_TRUE(WriteBytes(tiff, before));
            }
            const bool damaged = LibjpegReportsDamage(jpeg);
            TakeCapturedMessages();
            const bool converted = ConvertJpegToGreyTiff(jpeg.c_str());
            const std::vector<CapturedMessage> said = TakeCapturedMessages();
            EXPECT_EQ(converted, !damaged);
            std::vector<std::string> expected = {"photo.jpg"};
            if (converted || tiffExisted)
                expected.push_back("photo.tif");
            EXPECT_EQ(folder.Files(), expected); // no paging or temporary file left
            if (!converted) {
                ++failures;
                if (tiffExisted) {
                    EXPECT_EQ(ReadBytes(tiff), before);
                }
                if (!v.bytes.empty()) {
                    ASSERT_FALSE(said.empty());
                    EXPECT_EQ(said[0].caption, "JPEG Library Error");
                }
            } else {
                EXPECT_TRUE(said.empty());
                EXPECT_GE(GreyDifference(tiff, 2000, 1400, 3), 0);
            }
        }
    }
    // The cuts and the foreign file at least are reported as damage.
    EXPECT_GE(failures, 2 * 9);
}

} // namespace
