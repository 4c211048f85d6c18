#include <string>

#include <gtest/gtest.h>

#include "EODevice.h"
#include "RecordBytes.h"

namespace {

CEODevice SampleDevice()
{
    CEODevice d;
    d.name = "/db/CROSS.eod";
    d.AddPointSorted(CObjectPoint("E2", 100, 0, 0));
    d.AddPointSorted(CObjectPoint("E1", 0, 0, 0));
    CPointLine* line = d.lines.AddNew();
    line->from = "E1";
    line->to = "E2";
    d.idShape = 3;
    d.calibrationTime = "12 May, 2026";
    d.comment = "aluminium cross";
    d.unit = "[mm]";
    d.maxResectionRms = 2.5;
    return d;
}

} // namespace

TEST(EODevice, ResetKeepsLinesAndTheDiscrepancyFlag)
{
    CEODevice fresh;
    EXPECT_TRUE(fresh.isEODevice);
    EXPECT_EQ(fresh.GetIDShape(), 1);
    EXPECT_EQ(fresh.GetMaxResectionRms(), 5.0);
    EXPECT_TRUE(fresh.name.IsEmpty());

    CEODevice d = SampleDevice();
    d.isDiscrepancySet = true;
    d.isControl = true;
    d.modified = true;
    d.Reset();
    EXPECT_EQ(d.GetSize(), 0);
    EXPECT_TRUE(d.name.IsEmpty());
    EXPECT_FALSE(d.isControl);
    EXPECT_TRUE(d.isEODevice);
    EXPECT_TRUE(d.isDiscrepancySet);
    EXPECT_EQ(d.lines.GetSize(), 1);
    EXPECT_EQ(d.idShape, 1);
    EXPECT_FALSE(d.modified);
    EXPECT_TRUE(d.comment.IsEmpty());
}

TEST(EODevice, NameIsTheTitleOfThePath)
{
    CEODevice d;
    d.name = "D:\\proj\\FRAME.eod";
    EXPECT_STREQ(d.GetName().GetText(), "FRAME");
    d.SetName("CROSS");
    EXPECT_STREQ(d.GetName().GetText(), "CROSS");
    EXPECT_STREQ(d.name.GetFolder().GetText(), "D:\\proj");
    EXPECT_STREQ(d.name.GetExtension().GetText(), "eod");
}

TEST(EODevice, CompletePath)
{
    CEODevice d;
    EXPECT_FALSE(d.CompletePath("/proj"));

    d.name = "CROSS";
    EXPECT_TRUE(d.CompletePath("/proj"));
    EXPECT_STREQ(d.name.GetFolder().GetText(), "/proj");
    EXPECT_STREQ(d.name.GetTitle().GetText(), "CROSS");
    EXPECT_STREQ(d.name.GetExtension().GetText(), "eod");

    d.name = "CROSS.txt";
    EXPECT_TRUE(d.CompletePath("/proj"));
    EXPECT_STREQ(d.name.GetFolder().GetText(), "/proj");
    EXPECT_STREQ(d.name.GetExtension().GetText(), "txt");

    d.name = "CROSS";
    EXPECT_FALSE(d.CompletePath(""));
    EXPECT_STREQ(d.name.GetExtension().GetText(), "eod");
    EXPECT_STREQ(d.name.GetTitle().GetText(), "CROSS");

    d.name = "/elsewhere/CROSS.eod";
    EXPECT_TRUE(d.CompletePath("/proj"));
    EXPECT_STREQ(d.name.GetText(), "/elsewhere/CROSS.eod");
}

TEST(EODevice, CopyFromASetResetsTheDeviceFields)
{
    CEODevice d = SampleDevice();
    CPointSet set;
    set.isControl = true;
    set.name = "/p/Ring.xyz";
    set.AddPointSorted(CObjectPoint("R1", 1, 1, 1));
    d.CopyFrom(set);
    EXPECT_EQ(d.GetSize(), 1);
    EXPECT_TRUE(d.isControl);
    EXPECT_TRUE(d.isEODevice);
    EXPECT_EQ(d.lines.GetSize(), 0);
    EXPECT_STREQ(d.GetName().GetText(), "Ring");
    EXPECT_EQ(d.idShape, 1);
    EXPECT_EQ(d.maxResectionRms, 5.0);
    EXPECT_TRUE(d.comment.IsEmpty());
}

TEST(EODeviceArchive, RoundTripKeepsTheModifiedFlag)
{
    const CEODevice sample = SampleDevice();
    CEODevice d(sample);
    StoreArchive out;
    int v = -1;
    d.Serialize(out.Get(), &v);
    const std::string bytes = out.Bytes();
    RecordBytes tail;
    tail.Int(10).Int(3).String("12 May, 2026").String("aluminium cross").String("[mm]").Double(2.5);
    ASSERT_GT(bytes.size(), tail.Size());
    EXPECT_EQ(bytes.substr(bytes.size() - tail.Size()), tail.Str());

    for (bool modified : {false, true}) {
        LoadArchive in(bytes);
        CEODevice back;
        back.modified = modified;
        back.Serialize(in.Get(), &v);
        EXPECT_FALSE(in.Get().fail());
        EXPECT_EQ(in.Position(), static_cast<std::streamoff>(bytes.size()));
        EXPECT_TRUE(back.IsEqual(d));
        EXPECT_EQ(back.modified, modified);
        EXPECT_EQ(back.idShape, 3);
        EXPECT_STREQ(back.calibrationTime.GetText(), "12 May, 2026");
        EXPECT_STREQ(back.comment.GetText(), "aluminium cross");
        EXPECT_STREQ(back.unit.GetText(), "[mm]");
        EXPECT_EQ(back.maxResectionRms, 2.5);
        EXPECT_STREQ(back.GetName().GetText(), "CROSS");
        EXPECT_EQ(back.lines.GetSize(), 1);
    }
}

TEST(EODeviceArchive, OldProjectHasNoVersionWords)
{
    // Project file of version 8: the set part as a version-8 set, the device
    // fields without a version word.
    RecordBytes b;
    b.Byte(0).Byte(0).Byte(1).String("C:\\dev\\BAR.eod").Int(1);
    b.Byte(0).Byte(1).Byte(0).Byte(0).String("");
    b.Triple(5, 6, 7).Triple(0, 0, 0).Triple(0, 0, 0).Triple(0.01, 0.01, 0.01);
    b.Double(0).Triple(0, 0, 0).Int(0).Int(0).String("B1").Int(0);
    b.Int(2).String("yesterday").String("").String("m").Double(0.75);
    LoadArchive in(b.Str());
    CEODevice d;
    int v = 8;
    d.Serialize(in.Get(), &v);
    EXPECT_FALSE(in.Get().fail());
    EXPECT_EQ(in.Position(), static_cast<std::streamoff>(b.Size()));
    EXPECT_STREQ(d.GetName().GetText(), "BAR");
    ASSERT_EQ(d.GetSize(), 1);
    EXPECT_EQ(d.GetAt(0)->z, 7.0);
    EXPECT_EQ(d.idShape, 2);
    EXPECT_STREQ(d.calibrationTime.GetText(), "yesterday");
    EXPECT_STREQ(d.unit.GetText(), "m");
    EXPECT_EQ(d.maxResectionRms, 0.75);
}

TEST(EODeviceList, SearchesByExactName)
{
    CEODeviceList list;
    CEODevice* a = list.AddNew();
    a->name = "/db/CROSS.eod";
    CEODevice* b = list.AddCopy(SampleDevice());
    b->name = "/db/RING.eod";
    EXPECT_EQ(list.FindByName("RING"), b);
    EXPECT_EQ(list.FindByName("cross"), nullptr);
    EXPECT_EQ(list.IndexOfName("CROSS"), 0);
    EXPECT_EQ(list.IndexOfName("NONE"), -1);
    EXPECT_FALSE(list.RemoveByName("NONE"));
    EXPECT_TRUE(list.RemoveByName("CROSS"));
    EXPECT_EQ(list.GetSize(), 1);
    EXPECT_EQ(list.FindByName("RING")->idShape, 3);
    EXPECT_TRUE(list.GetAt(0)->isEODevice);
}
