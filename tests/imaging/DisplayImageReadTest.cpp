// Every supported file kind reads to the grey values of the picture it was
// made from, and saved as BMP holds those pixels in padded bottom-up rows.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <memory>

#include "BmpDisplayImage.h"
#include "ImageFiles.h"
#include "TiffDisplayImage.h"

namespace display_image_read_test {

namespace {

struct ReadCase {
    const char* name;
    int width, height, samples;
    bool tiff;
    TiffLayout tiffLayout;
    BmpLayout bmpLayout;
};

TiffLayout Tiff(uint16_t compression, uint16_t photometric, uint32_t rowsPerStrip)
{
    TiffLayout l;
    l.compression = compression;
    l.photometric = photometric;
    l.rowsPerStrip = rowsPerStrip;
    return l;
}

std::vector<ReadCase> Cases()
{
    TiffLayout mm = Tiff(COMPRESSION_NONE, PHOTOMETRIC_MINISBLACK, 4);
    mm.bigEndian = true;
    TiffLayout thumb = Tiff(COMPRESSION_NONE, PHOTOMETRIC_MINISBLACK, 8);
    thumb.thumbnailFirst = true;
    TiffLayout sub = Tiff(COMPRESSION_LZW, PHOTOMETRIC_MINISBLACK, 16);
    sub.subIfd = true;
    TiffLayout noRps = Tiff(COMPRESSION_NONE, PHOTOMETRIC_MINISBLACK, 0);
    noRps.writeRowsPerStrip = false;
    return {
        {"grey", 64, 40, 1, true, Tiff(COMPRESSION_NONE, PHOTOMETRIC_MINISBLACK, 1), {}},
        {"grey width 101, short last strip", 101, 23, 1, true, Tiff(COMPRESSION_NONE, PHOTOMETRIC_MINISBLACK, 5), {}},
        {"min-is-white", 37, 11, 1, true, Tiff(COMPRESSION_NONE, PHOTOMETRIC_MINISWHITE, 3), {}},
        {"palette", 30, 9, 1, true, Tiff(COMPRESSION_NONE, PHOTOMETRIC_PALETTE, 2), {}},
        {"rgb width 101", 101, 13, 3, true, Tiff(COMPRESSION_NONE, PHOTOMETRIC_RGB, 4), {}},
        {"lzw", 101, 31, 1, true, Tiff(COMPRESSION_LZW, PHOTOMETRIC_MINISBLACK, 7), {}},
        {"deflate rgb", 45, 17, 3, true, Tiff(COMPRESSION_ADOBE_DEFLATE, PHOTOMETRIC_RGB, 6), {}},
        {"packbits", 50, 12, 1, true, Tiff(COMPRESSION_PACKBITS, PHOTOMETRIC_MINISBLACK, 5), {}},
        {"big-endian", 33, 10, 1, true, mm, {}},
        {"no rows per strip", 21, 9, 1, true, noRps, {}},
        {"thumbnail first", 201, 150, 1, true, thumb, {}},
        {"picture in a SubIFD", 203, 151, 1, true, sub, {}},
        {"bmp 8 bits", 64, 20, 1, false, {}, {}},
        {"bmp odd width", 101, 7, 1, false, {}, {}},
        {"bmp short palette", 13, 6, 1, false, {}, {16, false}},
        {"bmp 24 bits odd width", 37, 9, 3, false, {}, {}},
        {"bmp top-down", 23, 11, 1, false, {}, {256, true}},
    };
}

// The saved file holds the picture: its size field is its size, and every
// padded bottom-up row holds the file's pixels (blue, green, red for 24 bits).
void ExpectSavedBmp(const std::vector<uint8_t>& bytes, const TestPicture& p, const std::vector<uint8_t>& grey)
{
    ASSERT_GE(bytes.size(), 54u);
    auto u32 = [&bytes](size_t at) {
        return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
               uint32_t(bytes[at + 3]) << 24;
    };
    const size_t stride = (size_t(p.width) * p.samples + 3) / 4 * 4;
    const size_t offset = u32(10);
    EXPECT_EQ(u32(2), bytes.size());
    EXPECT_EQ(u32(34), stride * p.height);
    ASSERT_EQ(offset + stride * p.height, bytes.size());
    for (int row = 0; row < p.height; ++row) {
        const uint8_t* line = bytes.data() + offset + size_t(p.height - 1 - row) * stride;
        for (int x = 0; x < p.width; ++x) {
            if (p.samples == 1) {
                ASSERT_EQ(line[x], grey[size_t(row) * p.width + x]) << "row " << row << " x " << x;
            } else {
                for (int s = 0; s < 3; ++s)
                    ASSERT_EQ(line[3 * x + s], p.At(row, x, 2 - s)) << "row " << row << " x " << x;
            }
        }
        for (size_t pad = size_t(p.width) * p.samples; pad < stride; ++pad)
            ASSERT_EQ(line[pad], 0) << "padding of row " << row;
    }
}

TEST(DisplayImageRead, GreyValuesEqualThePicture)
{
    TempFolder folder;
    unsigned seed = 1;
    for (const ReadCase& c : Cases()) {
        SCOPED_TRACE(c.name);
        const TestPicture picture = MakePicture(c.width, c.height, c.samples, seed++);
        const bool minIsWhite = c.tiff && c.tiffLayout.photometric == PHOTOMETRIC_MINISWHITE;
        const std::vector<uint8_t> grey = ExpectedGrey(picture, minIsWhite);
        const std::string path = folder.File(c.tiff ? "picture.tif" : "picture.bmp");
        if (c.tiff)
            ASSERT_TRUE(WriteTestTiff(path, picture, c.tiffLayout));
        else
            ASSERT_TRUE(WriteBytes(path, MakeTestBmp(picture, c.bmpLayout)));

        std::unique_ptr<CDisplayImage> image = CreateDisplayImage(path.c_str());
        ASSERT_TRUE(image);
        int w = 0, h = 0;
        ASSERT_EQ(image->ReadSize(path.c_str(), w, h), 1);
        EXPECT_EQ(w, c.width);
        EXPECT_EQ(h, c.height);
        ASSERT_EQ(image->Load(path.c_str(), 0), 1);
        ASSERT_EQ(image->GetWidth(), c.width);
        ASSERT_EQ(image->GetHeight(), c.height);
        EXPECT_EQ(image->GetBitCount(), c.samples == 3 ? 24 : 8);

        std::vector<uint8_t> row(c.width), all(grey.size());
        std::vector<uint8_t*> rows(c.height);
        for (int line = 0; line < c.height; ++line)
            rows[line] = all.data() + size_t(line) * c.width;
        ASSERT_EQ(image->GetGreyImage(rows.data()), 1);
        EXPECT_EQ(all, grey);
        for (int line = 0; line < c.height; ++line) {
            ASSERT_EQ(image->GetGreyRow(line, row.data()), 1);
            for (int x = 0; x < c.width; ++x) {
                const uint8_t want = grey[size_t(line) * c.width + x];
                ASSERT_EQ(row[x], want);
                ASSERT_EQ(image->GetGrey(line, x), want);
                ASSERT_EQ(image->GetPixel(x, c.height - 1 - line), want);
            }
        }
        if (c.tiff && c.tiffLayout.photometric == PHOTOMETRIC_PALETTE) {
            const auto& colors = image->GetColorHeader()->colors;
            for (int i = 0; i < 256; ++i) {
                ASSERT_EQ(colors[i].red, i);
                ASSERT_EQ(colors[i].green, 255 - i);
                ASSERT_EQ(colors[i].blue, i * 7 % 256);
            }
        }
        image->Enhance(1.0); // the saved size must still count padded rows
        if (!c.tiff && c.samples == 1) { // a short table is padded with black
            const auto& colors = image->GetColorHeader()->colors;
            for (int i = 0; i < 256; ++i)
                ASSERT_EQ(colors[i].green, i < c.bmpLayout.paletteEntries ? i : 0) << i;
        }
        const std::string saved = folder.File("saved.bmp");
        ASSERT_EQ(image->SaveAsBmp(saved.c_str()), 1);
        ExpectSavedBmp(ReadBytes(saved), picture, grey);
    }
}

} // namespace

} // namespace display_image_read_test
