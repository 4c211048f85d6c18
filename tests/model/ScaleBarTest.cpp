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

// The defaults: version, temperature, lengths and rays -1, sigma 1e-16, no texts, no flags.
void ExpectDefaults(const CScaleBar& bar)
{
    EXPECT_EQ(bar.version, -1);
    EXPECT_TRUE(bar.name.IsEmpty() && bar.units.IsEmpty() && bar.material.IsEmpty() && bar.temperatureUnits.IsEmpty());
    EXPECT_STREQ(bar.endLabel1.GetText(), "");
    EXPECT_STREQ(bar.endLabel2.GetText(), "");
    const double numbers[] = {bar.calibratedTemperature, bar.calibratedLength, bar.adjustedLength,
                              double(bar.rays1), double(bar.rays2)};
    for (double n : numbers)
        EXPECT_EQ(n, -1.0);
    EXPECT_EQ(bar.standardDeviation, 1e-16);
    EXPECT_FALSE(bar.rejected || bar.modified);
}

} // namespace

TEST(ScaleBar, DefaultsResetAndCopies)
{
    ExpectDefaults(CScaleBar());
    EXPECT_EQ(CScaleBarList().scalingResult, -1);
    CScaleBar changed = MakeBar("B", 100.0);
    changed.rejected = changed.modified = true;
    changed.Reset();
    ExpectDefaults(changed);

    // Assignment keeps the destination's rejected flag; a copy-constructed bar,
    // and so every copy a list makes, starts unrejected.
    CScaleBar source = MakeBar("Long bar", 1500.0);
    source.modified = true;
    CScaleBar target;
    target.rejected = true;
    target = source;
    EXPECT_TRUE(target.rejected && target.modified);
    EXPECT_STREQ(target.endLabel2.GetText(), "A2");
    EXPECT_EQ(target.standardDeviation, 0.01);
    EXPECT_EQ(target.rays2, 5);
    EXPECT_EQ(target.adjustedLength, 1500.003);
    source.rejected = true;
    EXPECT_FALSE(CScaleBar(source).rejected);
    CScaleBarList list;
    EXPECT_FALSE(list.AddCopy(source)->rejected);

    // ResetResults clears only the results.
    list.scalingResult = 1;
    list.ResetResults();
    EXPECT_EQ(list.GetAt(0)->rays1, -1);
    EXPECT_EQ(list.GetAt(0)->adjustedLength, -1.0);
    EXPECT_FALSE(list.GetAt(0)->rejected);
    EXPECT_EQ(list.GetAt(0)->calibratedLength, 1500.0);
    EXPECT_EQ(list.GetAt(0)->standardDeviation, 0.01);
}

TEST(ScaleBar, FindByNameIsExactAndFindsTheFirst)
{
    CScaleBarList list;
    list.AddCopy(MakeBar("Bar", 1.0));
    list.AddCopy(MakeBar("bar", 2.0));
    list.AddCopy(MakeBar("Bar 2", 3.0));
    list.AddCopy(MakeBar("Bar", 4.0)); // the callers keep names unique; the list does not
    EXPECT_EQ(list.FindByName("Bar")->calibratedLength, 1.0);
    EXPECT_EQ(list.FindIndexByName("bar"), 1);
    EXPECT_EQ(list.FindByName(CDynString("Bar 2")), list.GetAt(2));
    for (const char* missing : {"BAR", "Bar ", "Ba"})
        EXPECT_EQ(list.FindIndexByName(missing), -1);
    CScaleBarList empty;
    EXPECT_EQ(empty.FindIndexByName(""), -1);
    empty.AddNew(); // a bar without a name is found by the empty text (and by none)
    EXPECT_EQ(empty.FindIndexByName(""), 0);
    EXPECT_EQ(empty.FindIndexByName(static_cast<const char*>(nullptr)), 0);
}

// The list is stored without a version, bar by bar in the field order; read,
// it appends bars with their stored results, the default sigma and clear flags.
TEST(ScaleBar, ListAgainstHandBuiltBytes)
{
    CScaleBarList empty;
    empty.scalingResult = 2; // not stored
    EXPECT_EQ(StoreBytes([&](CBinArchive& ar) { EXPECT_TRUE(empty.Serialize(ar)); }), (std::string{0, 0, 0, 0}));

    CScaleBarList list;
    list.AddCopy(MakeBar("First", 1000.0));
    CScaleBar* second = list.AddCopy(MakeBar("Second", 250.25));
    second->version = 7;
    second->endLabel1 = "P-1";
    second->endLabel2 = "Q_20";
    second->rays1 = 0;
    second->rays2 = 2;
    second->adjustedLength = -1.0;
    const RecordBytes hand = RecordBytes()
                                 .Int(2)
                                 .Raw(HandBar(3, "First", "A1", "A2", 6, 5, 1000.0, 1000.003).Str())
                                 .Raw(HandBar(7, "Second", "P-1", "Q_20", 0, 2, 250.25, -1.0).Str());
    EXPECT_EQ(StoreBytes([&](CBinArchive& ar) { list.Serialize(ar); }), hand.Str());

    CScaleBarList back;
    CScaleBar* existing = back.AddCopy(MakeBar("Existing", 10.0));
    LoadBytes(hand.Str() + RecordBytes().Int(0x5EA1ED).Str(), [&](CBinArchive& ar) {
        ASSERT_TRUE(back.Serialize(ar));
        int32_t after = 0;
        ar.ReadInt(after);
        EXPECT_EQ(after, 0x5EA1ED);
    });
    ASSERT_EQ(back.GetSize(), 3);
    EXPECT_EQ(back.GetAt(0), existing);
    for (int i = 0; i < 2; ++i) {
        const CScaleBar& a = *list.GetAt(i);
        const CScaleBar& b = *back.GetAt(i + 1);
        EXPECT_EQ(b.version, a.version);
        EXPECT_STREQ(b.name.GetText(), a.name.GetText());
        EXPECT_STREQ(b.units.GetText(), "mm");
        EXPECT_STREQ(b.material.GetText(), "Invar");
        EXPECT_STREQ(b.temperatureUnits.GetText(), "C");
        EXPECT_EQ(b.calibratedTemperature, 20.5);
        EXPECT_STREQ(b.endLabel1.GetText(), a.endLabel1.GetText());
        EXPECT_STREQ(b.endLabel2.GetText(), a.endLabel2.GetText());
        EXPECT_EQ(b.rays1, a.rays1);
        EXPECT_EQ(b.rays2, a.rays2);
        EXPECT_EQ(b.calibratedLength, a.calibratedLength);
        EXPECT_EQ(b.adjustedLength, a.adjustedLength);
        EXPECT_EQ(b.standardDeviation, 1e-16);
        EXPECT_FALSE(b.rejected || b.modified);
    }

    // An invalid stored label leaves that end empty; the fields after it still line up.
    CScaleBarList bad;
    LoadBytes(RecordBytes().Int(1).Raw(HandBar(1, "Bar", "BAD LABEL", "toolongforalabel17", 1, 1, 1.0, 1.0).Str()).Str(),
              [&](CBinArchive& ar) { ASSERT_TRUE(bad.Serialize(ar)); });
    EXPECT_STREQ(bad.GetAt(0)->endLabel1.GetText(), "");
    EXPECT_STREQ(bad.GetAt(0)->endLabel2.GetText(), "");
    EXPECT_EQ(bad.GetAt(0)->calibratedLength, 1.0);
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
