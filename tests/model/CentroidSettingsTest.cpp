#include "CentroidSettings.h"

#include "BinArchive.h"
#include "Message.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>

namespace {

std::string LittleEndianDouble(double v)
{
    unsigned char b[8];
    std::uint64_t u;
    std::memcpy(&u, &v, 8);
    for (int i = 0; i < 8; ++i)
        b[i] = static_cast<unsigned char>(u >> (8 * i));
    return std::string(reinterpret_cast<char*>(b), 8);
}

std::string LittleEndianInt(std::int32_t v)
{
    std::string s;
    for (int i = 0; i < 4; ++i)
        s += static_cast<char>((static_cast<std::uint32_t>(v) >> (8 * i)) & 0xFF);
    return s;
}

class CentroidSettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved = GetCentroidSettings();
        GetCentroidSettings() = CCentroidSettings();
        TakeCapturedMessages();
    }
    void TearDown() override { GetCentroidSettings() = saved; }
    CCentroidSettings saved;
};

TEST_F(CentroidSettingsTest, DefaultsAreTheDocumentedOnes)
{
    const CCentroidSettings s;
    EXPECT_EQ(s.thresholdValue, 0.0);
    EXPECT_EQ(s.targetType, 'c');
    EXPECT_EQ(s.thresholdMethod, 'r');
    EXPECT_EQ(s.weighting, '1');
    EXPECT_EQ(s.minGreyRange, 96);
    EXPECT_EQ(s.minTargetSize, 2);
    EXPECT_EQ(s.windowSize, 64);
    EXPECT_EQ(s.shapeTesting, 1);
    EXPECT_EQ(s.invert, 1);
    EXPECT_EQ(s.xyRatio, 3.3);
}

TEST_F(CentroidSettingsTest, WindowSizeRangeAndMessage)
{
    EXPECT_EQ(SetCentroidWindowSize(1, 1), 1);
    EXPECT_EQ(GetCentroidSettings().windowSize, 1);
    EXPECT_EQ(SetCentroidWindowSize(128, 1), 1);
    EXPECT_EQ(GetCentroidSettings().windowSize, 128);
    EXPECT_TRUE(TakeCapturedMessages().empty());

    EXPECT_EQ(SetCentroidWindowSize(0, 0), 0);
    EXPECT_EQ(GetCentroidSettings().windowSize, 1);
    EXPECT_EQ(SetCentroidWindowSize(129, 0), 0);
    EXPECT_EQ(GetCentroidSettings().windowSize, 128);
    SetCentroidWindowSize(5, 0);
    EXPECT_EQ(SetCentroidWindowSize(-3, 0), 0); // negative counts as too large
    EXPECT_EQ(GetCentroidSettings().windowSize, 128);
    EXPECT_TRUE(TakeCapturedMessages().empty());

    EXPECT_EQ(SetCentroidWindowSize(200, 1), 0);
    auto shown = TakeCapturedMessages();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "Centroid window size out of range");
    EXPECT_EQ(shown[0].type & MB_ICONMASK, static_cast<unsigned>(MB_ICONSTOP));
}

TEST_F(CentroidSettingsTest, BlockLayoutIsThirtyBytesInFieldOrder)
{
    CCentroidSettings& s = GetCentroidSettings();
    s.thresholdValue = 12.5;
    s.targetType = 'h';
    s.thresholdMethod = 'w';
    s.weighting = '2';
    s.minGreyRange = 200;
    s.minTargetSize = 7;
    s.windowSize = 33;
    s.shapeTesting = 0;
    s.invert = 0;
    s.xyRatio = 1.75;

    std::stringbuf buffer(std::ios::out | std::ios::binary);
    CBinArchive ar(&buffer, std::ios::out);
    SerializeCentroidSettings(ar);
    const std::string expected = LittleEndianDouble(12.5) + "hw2" + std::string(1, static_cast<char>(200))
        + LittleEndianInt(7) + LittleEndianInt(33) + std::string(2, '\0') + LittleEndianDouble(1.75);
    ASSERT_EQ(expected.size(), 30u);
    EXPECT_EQ(buffer.str(), expected);
}

TEST_F(CentroidSettingsTest, LoadingStoresValuesAsReadWithoutRangeTest)
{
    const std::string block = LittleEndianDouble(-4.0) + "vp0" + std::string(1, '\x05') + LittleEndianInt(9)
        + LittleEndianInt(500) + std::string("\x01\x00", 2) + LittleEndianDouble(9.5);
    std::stringbuf buffer(block, std::ios::in | std::ios::binary);
    CBinArchive ar(&buffer, std::ios::in);
    SerializeCentroidSettings(ar);
    EXPECT_FALSE(ar.fail());
    const CCentroidSettings& s = GetCentroidSettings();
    EXPECT_EQ(s.thresholdValue, -4.0);
    EXPECT_EQ(s.targetType, 'v');
    EXPECT_EQ(s.thresholdMethod, 'p');
    EXPECT_EQ(s.weighting, '0');
    EXPECT_EQ(s.minGreyRange, 5);
    EXPECT_EQ(s.minTargetSize, 9);
    EXPECT_EQ(s.windowSize, 500);
    EXPECT_EQ(s.shapeTesting, 1);
    EXPECT_EQ(s.invert, 0);
    EXPECT_EQ(s.xyRatio, 9.5);
}

TEST_F(CentroidSettingsTest, ShortBlockLeavesRecordUnchanged)
{
    std::string block = LittleEndianDouble(7.0) + "hw2" + std::string(1, '\x05') + LittleEndianInt(9)
        + LittleEndianInt(10) + std::string("\x00\x00", 2) + LittleEndianDouble(9.5);
    for (std::size_t cut = 0; cut < block.size(); ++cut) {
        CCentroidSettings target;
        std::stringbuf buffer(block.substr(0, cut), std::ios::in | std::ios::binary);
        CBinArchive ar(&buffer, std::ios::in);
        EXPECT_FALSE(SerializeCentroidSettings(ar, target)) << cut;
        EXPECT_TRUE(ar.fail());
        EXPECT_EQ(target, CCentroidSettings()) << cut;
    }
}

} // namespace
