#include <gtest/gtest.h>

#include <vector>

#include "ArchiveRun.h"
#include "ScaleBar.h"

namespace {

// One stored bar, written out by hand in the stored field order.
RecordBytes HandBar(int version, const char* name, const char* end1, const char* end2, int rays1, int rays2,
                    double length, double adjusted)
{
    RecordBytes b;
    b.Int(version)
        .String(name)
        .String("mm")          // units
        .String("Invar")       // material
        .String("C")           // temperature units
        .Double(20.5)          // calibrated temperature
        .String(end1)
        .String(end2)
        .Int(rays1)
        .Int(rays2)
        .Double(length)        // calibrated length
        .Double(adjusted);     // adjusted length
    return b;
}

CScaleBar MakeBar(const char* name, double length)
{
    CScaleBar bar;
    bar.version = 3;
    bar.name = name;
    bar.units = "mm";
    bar.material = "Invar";
    bar.temperatureUnits = "C";
    bar.calibratedTemperature = 20.5;
    bar.endLabel1 = "A1";
    bar.endLabel2 = "A2";
    bar.calibratedLength = length;
    bar.standardDeviation = 0.01;
    bar.rays1 = 6;
    bar.rays2 = 5;
    bar.adjustedLength = length + 0.003;
    return bar;
}

void ExpectDefaultResults(const CScaleBar& bar)
{
    EXPECT_EQ(bar.rays1, -1);
    EXPECT_EQ(bar.rays2, -1);
    EXPECT_EQ(bar.adjustedLength, -1.0);
    EXPECT_FALSE(bar.rejected);
}

} // namespace

TEST(ScaleBar, NewBarAndListHoldTheDefaults)
{
    CScaleBar bar;
    EXPECT_EQ(bar.version, -1);
    EXPECT_TRUE(bar.name.IsEmpty());
    EXPECT_TRUE(bar.units.IsEmpty());
    EXPECT_TRUE(bar.material.IsEmpty());
    EXPECT_TRUE(bar.temperatureUnits.IsEmpty());
    EXPECT_EQ(bar.calibratedTemperature, -1.0);
    EXPECT_STREQ(bar.endLabel1.GetText(), "");
    EXPECT_STREQ(bar.endLabel2.GetText(), "");
    EXPECT_EQ(bar.calibratedLength, -1.0);
    EXPECT_EQ(bar.standardDeviation, 1e-16);
    ExpectDefaultResults(bar);
    EXPECT_FALSE(bar.modified);

    CScaleBar changed = MakeBar("B", 100.0);
    changed.rejected = true;
    changed.modified = true;
    changed.Reset();
    EXPECT_EQ(changed.version, -1);
    EXPECT_TRUE(changed.name.IsEmpty());
    EXPECT_STREQ(changed.endLabel2.GetText(), "");
    EXPECT_EQ(changed.standardDeviation, 1e-16);
    ExpectDefaultResults(changed);
    EXPECT_FALSE(changed.modified);

    CScaleBarList list;
    EXPECT_EQ(list.GetSize(), 0);
    EXPECT_EQ(list.scalingResult, -1);
}

TEST(ScaleBar, CopyKeepsTheDestinationsRejectedFlag)
{
    CScaleBar source = MakeBar("Long bar", 1500.0);
    source.modified = true;
    source.rejected = false;

    CScaleBar target;
    target.rejected = true;
    target = source;
    EXPECT_TRUE(target.rejected);
    EXPECT_STREQ(target.name.GetText(), "Long bar");
    EXPECT_STREQ(target.material.GetText(), "Invar");
    EXPECT_STREQ(target.endLabel1.GetText(), "A1");
    EXPECT_STREQ(target.endLabel2.GetText(), "A2");
    EXPECT_EQ(target.calibratedLength, 1500.0);
    EXPECT_EQ(target.standardDeviation, 0.01);
    EXPECT_EQ(target.rays1, 6);
    EXPECT_EQ(target.rays2, 5);
    EXPECT_EQ(target.adjustedLength, 1500.003);
    EXPECT_TRUE(target.modified);

    // A copy-constructed bar, and so every copy a list makes, starts unrejected.
    source.rejected = true;
    CScaleBar constructed(source);
    EXPECT_FALSE(constructed.rejected);
    EXPECT_EQ(constructed.calibratedLength, 1500.0);
    CScaleBarList list;
    CScaleBar* added = list.AddCopy(source);
    EXPECT_FALSE(added->rejected);
    EXPECT_STREQ(added->name.GetText(), "Long bar");
    EXPECT_NE(added, &source);
}

TEST(ScaleBar, ResetResultsClearsOnlyTheResults)
{
    CScaleBarList list;
    for (const char* name : {"A", "B", "C"}) {
        CScaleBar* bar = list.AddCopy(MakeBar(name, 1000.0));
        bar->rejected = true;
    }
    list.scalingResult = 1;
    list.ResetResults();
    for (int i = 0; i < list.GetSize(); ++i) {
        const CScaleBar* bar = list.GetAt(i);
        ExpectDefaultResults(*bar);
        EXPECT_EQ(bar->calibratedLength, 1000.0);
        EXPECT_EQ(bar->standardDeviation, 0.01);
        EXPECT_STREQ(bar->endLabel1.GetText(), "A1");
    }
}

TEST(ScaleBar, FindByNameIsExactAndFindsTheFirst)
{
    CScaleBarList list;
    list.AddCopy(MakeBar("Bar", 1.0));
    list.AddCopy(MakeBar("bar", 2.0));
    list.AddCopy(MakeBar("Bar 2", 3.0));
    list.AddCopy(MakeBar("Bar", 4.0));  // the callers keep names unique; the list does not

    ASSERT_NE(list.FindByName("Bar"), nullptr);
    EXPECT_EQ(list.FindByName("Bar")->calibratedLength, 1.0);
    EXPECT_EQ(list.FindByName("bar")->calibratedLength, 2.0);
    EXPECT_EQ(list.FindIndexByName("bar"), 1);
    EXPECT_EQ(list.FindIndexByName("Bar 2"), 2);
    EXPECT_EQ(list.FindByName("BAR"), nullptr);
    EXPECT_EQ(list.FindByName("Bar "), nullptr);
    EXPECT_EQ(list.FindByName("Ba"), nullptr);
    EXPECT_EQ(list.FindIndexByName("BAR"), -1);
    EXPECT_EQ(list.FindByName(CDynString("Bar 2")), list.GetAt(2));

    CScaleBarList empty;
    EXPECT_EQ(empty.FindByName("Bar"), nullptr);
    EXPECT_EQ(empty.FindIndexByName(""), -1);
    // A bar without a name is found by the empty text (and by none).
    empty.AddNew();
    EXPECT_EQ(empty.FindIndexByName(""), 0);
    EXPECT_EQ(empty.FindIndexByName(static_cast<const char*>(nullptr)), 0);
}

TEST(ScaleBar, EmptyListStoresFourZeroBytes)
{
    CScaleBarList list;
    list.scalingResult = 2;  // not stored
    const std::string b = StoreBytes([&](CBinArchive& ar) { EXPECT_TRUE(list.Serialize(ar)); });
    EXPECT_EQ(b, (std::string{0, 0, 0, 0}));
}

TEST(ScaleBar, ListIsStoredInTheFieldOrderWithoutVersion)
{
    CScaleBarList list;
    list.AddCopy(MakeBar("First", 1000.0));
    CScaleBar* second = list.AddCopy(MakeBar("Second", 250.25));
    second->version = 7;
    second->endLabel1 = "P-1";
    second->endLabel2 = "Q_20";
    second->rays1 = 0;
    second->rays2 = 2;
    second->adjustedLength = -1.0;

    RecordBytes expected;
    expected.Int(2)
        .Raw(HandBar(3, "First", "A1", "A2", 6, 5, 1000.0, 1000.003).Str())
        .Raw(HandBar(7, "Second", "P-1", "Q_20", 0, 2, 250.25, -1.0).Str());
    const std::string b = StoreBytes([&](CBinArchive& ar) { list.Serialize(ar); });
    EXPECT_EQ(b, expected.Str());
}

TEST(ScaleBar, ReadBarsHaveStoredResultsDefaultSigmaAndClearFlags)
{
    RecordBytes b;
    b.Int(2)
        .Raw(HandBar(4, "Short", "T1", "T2", 3, 4, 500.0, 500.125).Str())
        .Raw(HandBar(-1, "Long", "U_1", "U_2", 0, 9, 1500.5, -1.0).Str())
        .Int(0x5EA1ED);

    CScaleBarList list;
    CScaleBar* existing = list.AddCopy(MakeBar("Existing", 10.0));
    LoadBytes(b.Str(), [&](CBinArchive& ar) {
        ASSERT_TRUE(list.Serialize(ar));
        int32_t after = 0;
        ar.ReadInt(after);
        EXPECT_EQ(after, 0x5EA1ED);
    });

    // Loading appends to what the list holds.
    ASSERT_EQ(list.GetSize(), 3);
    EXPECT_EQ(list.GetAt(0), existing);

    const CScaleBar* shortBar = list.GetAt(1);
    EXPECT_EQ(shortBar->version, 4);
    EXPECT_STREQ(shortBar->name.GetText(), "Short");
    EXPECT_STREQ(shortBar->units.GetText(), "mm");
    EXPECT_STREQ(shortBar->material.GetText(), "Invar");
    EXPECT_STREQ(shortBar->temperatureUnits.GetText(), "C");
    EXPECT_EQ(shortBar->calibratedTemperature, 20.5);
    EXPECT_STREQ(shortBar->endLabel1.GetText(), "T1");
    EXPECT_STREQ(shortBar->endLabel2.GetText(), "T2");
    EXPECT_EQ(shortBar->rays1, 3);
    EXPECT_EQ(shortBar->rays2, 4);
    EXPECT_EQ(shortBar->calibratedLength, 500.0);
    EXPECT_EQ(shortBar->adjustedLength, 500.125);
    EXPECT_EQ(shortBar->standardDeviation, 1e-16);
    EXPECT_FALSE(shortBar->rejected);
    EXPECT_FALSE(shortBar->modified);

    const CScaleBar* longBar = list.GetAt(2);
    EXPECT_STREQ(longBar->name.GetText(), "Long");
    EXPECT_STREQ(longBar->endLabel1.GetText(), "U_1");
    EXPECT_EQ(longBar->rays1, 0);
    EXPECT_EQ(longBar->rays2, 9);
    EXPECT_EQ(longBar->adjustedLength, -1.0);
    EXPECT_EQ(list.FindByName("Long"), longBar);
}

TEST(ScaleBar, InvalidStoredLabelLeavesTheEndEmpty)
{
    RecordBytes b;
    b.Int(1).Raw(HandBar(1, "Bar", "BAD LABEL", "toolongforalabel17", 1, 1, 1.0, 1.0).Str());
    CScaleBarList list;
    LoadBytes(b.Str(), [&](CBinArchive& ar) { ASSERT_TRUE(list.Serialize(ar)); });
    ASSERT_EQ(list.GetSize(), 1);
    EXPECT_STREQ(list.GetAt(0)->endLabel1.GetText(), "");
    EXPECT_STREQ(list.GetAt(0)->endLabel2.GetText(), "");
    EXPECT_EQ(list.GetAt(0)->calibratedLength, 1.0);  // and the fields after them still line up
}

TEST(ScaleBar, DamagedListsFailAndLeaveTheListAsItWas)
{
    RecordBytes full;
    full.Int(2)
        .Raw(HandBar(4, "Short", "T1", "T2", 3, 4, 500.0, 500.125).Str())
        .Raw(HandBar(5, "Long", "U1", "U2", 2, 2, 1500.0, 1500.5).Str());

    for (size_t keep = 0; keep < full.Str().size(); ++keep) {
        std::string cut(full.Str().begin(), full.Str().begin() + keep);
        CScaleBarList list;
        list.AddCopy(MakeBar("Existing", 10.0));
        bool ok = true;
        LoadBytes(cut, [&](CBinArchive& ar) { ok = list.Serialize(ar); });
        EXPECT_FALSE(ok) << keep << " bytes";
        ASSERT_EQ(list.GetSize(), 1) << keep << " bytes";
        EXPECT_STREQ(list.GetAt(0)->name.GetText(), "Existing");
    }

    // Counts that the file cannot hold are refused before anything is made.
    for (int32_t count : {-1, 3, 0x7FFFFFFF, static_cast<int32_t>(0x80000000)}) {
        RecordBytes lying;
        lying.Int(count).Raw(HandBar(1, "Only", "A", "B", 1, 1, 1.0, 1.0).Str());
        CScaleBarList list;
        bool ok = true;
        LoadBytes(lying.Str(), [&](CBinArchive& ar) { ok = list.Serialize(ar); });
        EXPECT_FALSE(ok) << count;
        EXPECT_EQ(list.GetSize(), 0) << count;
    }

    // A text count running past the end of the file.
    RecordBytes longName;
    longName.Int(1).Int(1).Int(1000000).Raw(std::string(80, 'x'));
    CScaleBarList list;
    bool ok = true;
    LoadBytes(longName.Str(), [&](CBinArchive& ar) { ok = list.Serialize(ar); });
    EXPECT_FALSE(ok);
    EXPECT_EQ(list.GetSize(), 0);
}
