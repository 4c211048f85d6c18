#include "CentroidSettings.h"

#include "BinArchive.h"
#include "Message.h"
#include "ArchiveRun.h"
#include "RecordBytes.h"

#include <gtest/gtest.h>

#include <string>

namespace {

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

    StoreArchive store;
    SerializeCentroidSettings(store.Get());
    const std::string expected =
        RecordBytes().Double(12.5).Raw("hw2").Byte(200).Int(7).Int(33).Byte(0).Byte(0).Double(1.75).Str();
    ASSERT_EQ(expected.size(), 30u);
    EXPECT_EQ(store.Bytes(), expected);
}

TEST_F(CentroidSettingsTest, LoadingStoresValuesAsReadWithWindowSizeClamped)
{
    LoadArchive load(RecordBytes().Double(-4.0).Raw("vp0").Byte(5).Int(9).Int(500).Byte(1).Byte(0).Double(9.5).Str());
    SerializeCentroidSettings(load.Get());
    EXPECT_FALSE(load.Get().fail());
    const CCentroidSettings& s = GetCentroidSettings();
    EXPECT_EQ(s.thresholdValue, -4.0);
    EXPECT_EQ(s.targetType, 'v');
    EXPECT_EQ(s.thresholdMethod, 'p');
    EXPECT_EQ(s.weighting, '0');
    EXPECT_EQ(s.minGreyRange, 5);
    EXPECT_EQ(s.minTargetSize, 9);
    EXPECT_EQ(s.windowSize, 128); // as the quiet setter stores 500
    EXPECT_EQ(s.shapeTesting, 1);
    EXPECT_EQ(s.invert, 0);
    EXPECT_EQ(s.xyRatio, 9.5);
}

TEST_F(CentroidSettingsTest, ShortBlockLeavesRecordUnchanged)
{
    const std::string block =
        RecordBytes().Double(7.0).Raw("hw2").Byte(5).Int(9).Int(10).Byte(0).Byte(0).Double(9.5).Str();
    ExpectEveryTruncationFails(block, [](CBinArchive& ar) {
        CCentroidSettings target;
        const bool ok = SerializeCentroidSettings(ar, target);
        EXPECT_TRUE(ar.fail());
        EXPECT_EQ(target, CCentroidSettings());
        return ok;
    });
}

} // namespace
