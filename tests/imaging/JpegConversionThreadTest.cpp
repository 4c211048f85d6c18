// Conversions run on worker threads: two at once, each with its own paging
// and temporary files, and a damaged one whose messages come from its thread.
#include <gtest/gtest.h>

#include <thread>

#include "ImageFiles.h"
#include "ImageTestFiles.h"
#include "JpegConversion.h"
#include "Message.h"

TEST(JpegConversionThreads, TwoConversionsAtOnceEachGiveTheirTiff)
{
    ScratchFolder folder;
    QuietMessages quiet;
    const std::string a = folder.Path("a.jpg"), b = folder.Path("b.jpg");
    // Larger than a plane's memory budget: both page at the same time.
    ASSERT_TRUE(WriteJpeg(a, 2000, 1400, 3, 90));
    ASSERT_TRUE(WriteJpeg(b, 2000, 1400, 3, 90));
    std::vector<uint8_t> cut = ReadBytes(b);
    cut.resize(cut.size() / 2);
    const std::string c = folder.Path("c.jpg");
    ASSERT_TRUE(WriteBytes(c, cut));
    bool okA = false, okB = false, okC = true;
    std::thread ta([&] { okA = ConvertJpegToGreyTiff(a.c_str()); });
    std::thread tb([&] { okB = ConvertJpegToGreyTiff(b.c_str()); });
    std::thread tc([&] { okC = ConvertJpegToGreyTiff(c.c_str()); });
    ta.join();
    tb.join();
    tc.join();
    EXPECT_TRUE(okA);
    EXPECT_TRUE(okB);
    EXPECT_FALSE(okC);
    EXPECT_EQ(ReadBytes(folder.Path("a.tif")), ReadBytes(folder.Path("b.tif")));
    EXPECT_EQ(folder.Files(), (std::vector<std::string>{"a.jpg", "a.tif", "b.jpg", "b.tif", "c.jpg"}));
    const std::vector<CapturedMessage> said = TakeCapturedMessages();
    ASSERT_FALSE(said.empty());
    EXPECT_EQ(said[0].caption, "JPEG Library Error");
}
