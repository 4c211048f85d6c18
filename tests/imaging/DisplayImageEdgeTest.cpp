// Edge cases of display images and of the choice of the TIFF directory.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "BmpDisplayImage.h"
#include "ImageFiles.h"
#include "TiffDisplayImage.h"
#include "TiffSupport.h"

namespace display_image_edge_test {

namespace {

// A TIFF of constant grey directories of the given sizes, in file order.
void WriteDirectories(const std::string& path, const std::vector<std::pair<uint32_t, uint32_t>>& sizes)
{
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    ASSERT_TRUE(tif);
    for (const auto& [w, h] : sizes) {
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 64u);
        std::vector<uint8_t> row(w, uint8_t(w % 251));
        for (uint32_t r = 0; r < h; ++r)
            ASSERT_GE(TIFFWriteScanline(tif, row.data(), r, 0), 0);
        ASSERT_TRUE(TIFFWriteDirectory(tif));
    }
    TIFFClose(tif);
}

struct Fixture {
    TempFolder folder;
    // A loaded grey image of the picture, as BMP.
    std::unique_ptr<CDisplayImage> Loaded(const TestPicture& picture)
    {
        const std::string path = folder.File("edge.bmp");
        WriteBytes(path, MakeTestBmp(picture, {}));
        auto image = CreateDisplayImage(path.c_str());
        if (!image || !image->Load(path.c_str(), 0))
            ADD_FAILURE() << "cannot load the picture";
        return image;
    }
    std::pair<int, int> ChosenSize(const std::vector<std::pair<uint32_t, uint32_t>>& sizes)
    {
        const std::string path = folder.File("dirs.tif");
        WriteDirectories(path, sizes);
        CTiffDisplayImage image;
        int w = 0, h = 0;
        EXPECT_EQ(image.ReadSize(path.c_str(), w, h), 1);
        return {w, h};
    }
};

struct EdgeCase {
    const char* name;
    std::function<void(Fixture&)> check;
};

const std::vector<EdgeCase>& Cases()
{
    static const std::vector<EdgeCase> cases = {
        {"factory by the name's last three characters",
         [](Fixture&) {
             const std::pair<const char*, const char*> names[] = {
                 {"a.bmp", "bmp"}, {"a.dib", "bmp"}, {"a.tif", "tif"}, {"a.TIF", nullptr},
                 {"a.tiff", nullptr}, {"a.jpg", nullptr}, {"if", nullptr}, {"", nullptr}};
             for (const auto& [name, kind] : names) {
                 auto image = CreateDisplayImage(name);
                 if (!kind)
                     EXPECT_FALSE(image) << name;
                 else if (std::string(kind) == "bmp")
                     EXPECT_TRUE(dynamic_cast<CBmpDisplayImage*>(image.get())) << name;
                 else
                     EXPECT_TRUE(dynamic_cast<CTiffDisplayImage*>(image.get())) << name;
             }
         }},
        {"104 bytes per line at width 101",
         [](Fixture& f) {
             auto image = f.Loaded(MakePicture(101, 3, 1, 1));
             EXPECT_EQ(image->GetBytesPerLine(), 104);
             EXPECT_EQ(image->GetImageBytes(), 3 * 104);
         }},
        {"GetPixel outside the image",
         [](Fixture& f) {
             auto image = f.Loaded(MakePicture(9, 7, 1, 2));
             for (auto [x, y] : {std::pair{9, 0}, {0, 7}, {-1, 0}, {0, -1}})
                 EXPECT_EQ(image->GetPixel(x, y), -1) << x << "," << y;
             EXPECT_GE(image->GetPixel(8, 6), 0);
         }},
        {"zoom steps in and out",
         [](Fixture& f) {
             auto image = f.Loaded(MakePicture(400, 300, 1, 3));
             const CIntRect client{0, 0, 400, 300};
             std::vector<int> in{image->GetZoom()}, out;
             for (int i = 0; i < 5; ++i) {
                 image->Zoom({200, 150}, client, 1);
                 in.push_back(image->GetZoom());
             }
             EXPECT_EQ(in, (std::vector<int>{1, 2, 3, 4, 6, 9}));
             for (int i = 0; i < 5; ++i) {
                 image->Zoom({200, 150}, client, 0);
                 out.push_back(image->GetZoom());
             }
             EXPECT_EQ(out, (std::vector<int>{6, 4, 3, 2, 1}));
             CIntRect visible;
             image->GetVisibleRect(visible);
             EXPECT_EQ(visible.right, 400);
             EXPECT_EQ(visible.bottom, 300);
         }},
        {"zoom keeps at least 8 pixels visible",
         [](Fixture& f) {
             auto image = f.Loaded(MakePicture(40, 30, 1, 4));
             const CIntRect client{0, 0, 40, 30};
             for (int i = 0; i < 20; ++i)
                 image->Zoom({5, 5}, client, 1);
             CIntRect v;
             image->GetVisibleRect(v);
             EXPECT_GE(v.Width(), CDisplayImage::kMinVisiblePixels);
             EXPECT_GE(v.Height(), CDisplayImage::kMinVisiblePixels);
             EXPECT_EQ(v.left, 0); // moved inside at the corner
             EXPECT_EQ(v.top, 0);
             double x = 0, y = 0;
             ASSERT_TRUE(image->ViewToImage({20, 15}, client, x, y));
             EXPECT_DOUBLE_EQ(x, v.left + 0.5 * v.Width());
             EXPECT_DOUBLE_EQ(y, v.top + 0.5 * v.Height());
         }},
        {"view and image mapping",
         [](Fixture& f) {
             auto image = f.Loaded(MakePicture(200, 100, 1, 5));
             const CIntRect client{0, 0, 400, 300};
             image->Zoom({200, 150}, client, 1); // zoom 2 about the centre: (50, 25)-(150, 75)
             CIntRect v;
             image->GetVisibleRect(v);
             EXPECT_EQ(v.left, 50);
             EXPECT_EQ(v.top, 25);
             EXPECT_EQ(v.right, 150);
             EXPECT_EQ(v.bottom, 75);
             double x = 0, y = 0;
             ASSERT_TRUE(image->ViewToImage({100, 60}, client, x, y));
             EXPECT_DOUBLE_EQ(x, 75.0); // 100 / 400 * 100 + 50
             EXPECT_DOUBLE_EQ(y, 35.0); // 60 / 300 * 50 + 25
             CIntPoint p;
             ASSERT_TRUE(image->ImageToView(p, 0, 0, 400, 300, 75.0, 35.0));
             EXPECT_EQ(p.x, 100);
             EXPECT_EQ(p.y, 60);
             EXPECT_FALSE(image->ImageToView(p, 0, 0, 400, 300, 49.0, 35.0));
             EXPECT_TRUE(image->ImageToView(p, 0, 0, 400, 300, 150.0, 75.0)); // edges inside
             EXPECT_FALSE(image->ViewToImage({1, 1}, CIntRect{0, 0, 0, 300}, x, y));
         }},
        {"gain 1.0 after a histogram stretch gives the file's table",
         [](Fixture& f) {
             auto image = f.Loaded(MakePicture(50, 40, 1, 6));
             const std::vector<CRgbQuad> file = image->GetColorHeader()->colors;
             image->Enhance(-2.0);
             const auto& stretched = image->GetColorHeader()->colors;
             const int low = std::max(image->GetMean() - 2 * int(image->GetDeviation()), 0);
             const int high = std::min(image->GetMean() + 2 * int(image->GetDeviation()), 255);
             for (int i = 0; i < 256; ++i) {
                 const int want = i < low ? 0 : i >= high ? 255 : int((i - low) * 255.0 / (high - low));
                 ASSERT_EQ(stretched[i].red, want) << i;
             }
             image->Enhance(1.0);
             const auto& restored = image->GetColorHeader()->colors;
             for (int i = 0; i < 256; ++i)
                 ASSERT_TRUE(restored[i].red == file[i].red && restored[i].green == file[i].green &&
                             restored[i].blue == file[i].blue)
                     << i;
         }},
        {"a larger second directory is chosen, a smaller third is not",
         [](Fixture& f) { EXPECT_EQ(f.ChosenSize({{160, 120}, {3000, 2000}, {80, 60}}), std::pair(3000, 2000)); }},
        {"a directory larger in one dimension only is not chosen",
         [](Fixture& f) { EXPECT_EQ(f.ChosenSize({{160, 120}, {3000, 120}}), std::pair(160, 120)); }},
        {"a single directory",
         [](Fixture& f) { EXPECT_EQ(f.ChosenSize({{17, 5}}), std::pair(17, 5)); }},
    };
    return cases;
}

TEST(DisplayImageEdges, EveryCase)
{
    for (const EdgeCase& c : Cases()) {
        SCOPED_TRACE(c.name);
        Fixture fixture;
        c.check(fixture);
    }
}

} // namespace

} // namespace display_image_edge_test
