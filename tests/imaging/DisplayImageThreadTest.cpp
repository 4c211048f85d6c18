// Statistics made on the picture's own CWorkerThread: the histogram, mean
// and deviation equal a count made here, and a picture destroyed or changed
// right after a threaded load waits for its worker.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "ImageFiles.h"
#include "TiffDisplayImage.h"

namespace {

struct StatisticsCase {
    const char* name;
    int width, height, samples;
    bool tiff;
};

TEST(DisplayImageThreads, StatisticsEqualACount)
{
    const StatisticsCase cases[] = {
        {"grey tif, padded rows", 641, 203, 1, true},
        {"rgb bmp, padded rows", 301, 157, 3, false},
    };
    TempFolder folder;
    for (const StatisticsCase& c : cases) {
        SCOPED_TRACE(c.name);
        const TestPicture picture = MakePicture(c.width, c.height, c.samples, 11);
        const std::string path = folder.File(c.tiff ? "stats.tif" : "stats.bmp");
        if (c.tiff)
            ASSERT_TRUE(WriteTestTiff(path, picture, TiffLayout{}));
        else
            ASSERT_TRUE(WriteBytes(path, MakeTestBmp(picture, {})));
        const std::vector<uint8_t> grey = ExpectedGrey(picture);
        std::vector<int64_t> count(256, 0);
        int64_t sum = 0;
        for (uint8_t v : grey) {
            ++count[v];
            sum += v;
        }
        const int64_t n = int64_t(grey.size());
        const int mean = int(sum / n);
        double squares = 0.0;
        for (uint8_t v : grey)
            squares += double(v - mean) * double(v - mean);

        for (int run = 0; run < 3; ++run) {
            std::unique_ptr<CDisplayImage> image = CreateDisplayImage(path.c_str());
            ASSERT_EQ(image->Load(path.c_str(), 1), 1);
            for (int v = 0; v < 256; ++v)
                ASSERT_EQ(std::llround(image->GetHistogramFraction(v) * double(n)), count[v]) << v;
            EXPECT_EQ(image->GetMean(), mean);
            EXPECT_NEAR(image->GetDeviation(), std::sqrt(squares / double(n - 1)), 1e-9);
        }
    }
}

TEST(DisplayImageThreads, DestroyedOrChangedRightAfterALoad)
{
    TempFolder folder;
    const std::string path = folder.File("quick.tif");
    ASSERT_TRUE(WriteTestTiff(path, MakePicture(800, 600, 1, 12), TiffLayout{}));
    for (int run = 0; run < 20; ++run) {
        CTiffDisplayImage image;
        ASSERT_EQ(image.Load(path.c_str(), 1), 1);
        if (run % 2)
            image.Enhance(-1.0);
    }
    // A second load into the same picture waits for the first one's worker.
    CTiffDisplayImage image;
    ASSERT_EQ(image.Load(path.c_str(), 1), 1);
    ASSERT_EQ(image.Load(path.c_str(), 1), 1);
    EXPECT_GT(image.GetHistogramFraction(MakePicture(800, 600, 1, 12).values[0]), 0.0);
}

} // namespace
