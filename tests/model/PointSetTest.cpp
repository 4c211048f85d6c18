#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <newmat/newmat.h>

#include "PointSet.h"
#include "RecordBytes.h"

namespace {

std::vector<std::string> Labels(const CPointSet& set)
{
    std::vector<std::string> out;
    for (int i = 0; i < set.GetSize(); ++i)
        out.push_back(set.GetAt(i)->label.GetText());
    return out;
}

void AddLine(CPointSet& set, const char* from, const char* to)
{
    CPointLine* line = set.lines.AddNew();
    line->from = from;
    line->to = to;
}

// A version-8 point record (no version word, no head) with the label and X.
void AppendOldPoint(RecordBytes& b, const std::string& label, double x,
                    const std::string& sightings = "")
{
    b.Byte(0).Byte(1).Byte(0).Byte(0).String(sightings);
    b.Triple(x, 0, 0).Triple(0, 0, 0).Triple(0.1, 0.1, 0.1).Triple(0.01, 0.01, 0.01);
    b.Double(0).Triple(0.5, 0.25, 0.125).Int(0).Int(0).String(label).Int(0);
}

CPointSet SampleSet()
{
    CPointSet set;
    set.AddPointSorted(CObjectPoint("P1", 0, 0, 0));
    set.AddPointSorted(CObjectPoint("P2", 4, -1, 2));
    set.AddPointSorted(CObjectPoint("P3", 2, 3, 8));
    return set;
}

} // namespace

TEST(PointSet, SortedInsertionPutsEqualLabelsAfterTheFirst)
{
    CPointSet set;
    EXPECT_EQ(set.AddPointSorted(CObjectPoint("P10", 0, 0, 0)), 0);
    EXPECT_EQ(set.AddPointSorted(CObjectPoint("P2", 1, 0, 0)), 0);
    EXPECT_EQ(set.AddPointSorted(CObjectPoint("P1", 0, 0, 0)), 0);
    EXPECT_EQ(set.AddPointSorted(CObjectPoint("P2", 2, 0, 0)), 2);
    EXPECT_EQ(Labels(set), (std::vector<std::string>{"P1", "P2", "P2", "P10"}));
    EXPECT_EQ(set.GetAt(1)->x, 1.0);
    EXPECT_EQ(set.GetAt(2)->x, 2.0);
    EXPECT_EQ(set.AddNewPointSorted(CNameBuffer("P11")), 4);
    EXPECT_EQ(set.GetAt(4)->aprioriSigma[0], 0.01);
}

TEST(PointSet, LookupsSortFirstButIndexOfLabelDoesNot)
{
    CPointSet set;
    for (const char* l : {"Z9", "A1", "M5", "B2", "C3"})
        set.AddCopy(CObjectPoint(l, 0, 0, 0));
    // Unsorted: the binary search probes M5, then Z9, and misses A1.
    EXPECT_EQ(set.IndexOfLabel(CNameBuffer("A1")), -1);
    CObjectPoint* found = set.FindPoint(CNameBuffer("A1"));
    ASSERT_NE(found, nullptr);
    EXPECT_STREQ(found->label.GetText(), "A1");
    EXPECT_EQ(Labels(set), (std::vector<std::string>{"A1", "B2", "C3", "M5", "Z9"}));
    EXPECT_EQ(set.IndexOfLabel(CNameBuffer("M5")), 3);
    EXPECT_NE(set.FindPointByText("c3"), nullptr);
    EXPECT_EQ(set.FindPointByText("no such"), nullptr);
    EXPECT_EQ(set.FindPoint(CNameBuffer("Q")), nullptr);
}

// A lookup on a list it has already seen in order must still notice every
// way the order can be broken since: a label changed through an element
// pointer, slots swapped through the raw block, a point removed and another
// added in the same slot, or an empty slot.
TEST(PointSet, LookupsNoticeEveryChangeSinceTheLastSort)
{
    CPointSet set;
    for (const char* l : {"A1", "A2", "A3", "A4", "A5"})
        set.AddCopy(CObjectPoint(l, 0, 0, 0));
    ASSERT_NE(set.FindPoint(CNameBuffer("A3")), nullptr);

    // A label changed through the element: A2 becomes Z1.
    set.GetAt(1)->label.Set("Z1");
    CObjectPoint* z = set.FindPoint(CNameBuffer("Z1"));
    ASSERT_NE(z, nullptr);
    EXPECT_STREQ(z->label.GetText(), "Z1");
    EXPECT_EQ(Labels(set), (std::vector<std::string>{"A1", "A3", "A4", "A5", "Z1"}));

    // Slots swapped behind the list's back; the lookup sorts them back.
    CObjectPoint** block = set.GetData();
    std::swap(block[0], block[4]);
    EXPECT_EQ(set.IndexOfLabel(CNameBuffer("A1")), -1);
    ASSERT_NE(set.FindPoint(CNameBuffer("A1")), nullptr);
    EXPECT_EQ(Labels(set), (std::vector<std::string>{"A1", "A3", "A4", "A5", "Z1"}));

    // Same count, one slot now holds another point out of order.
    set.RemoveAt(0, 1);
    set.AddCopy(CObjectPoint("B7", 0, 0, 0));
    ASSERT_NE(set.FindPoint(CNameBuffer("B7")), nullptr);
    EXPECT_EQ(Labels(set), (std::vector<std::string>{"A3", "A4", "A5", "B7", "Z1"}));

    // A label assigned as a whole point, and one renumbered.
    *set.GetAt(4) = CObjectPoint("A0", 0, 0, 0);
    set.GetAt(0)->label.AddToNumber(10);
    EXPECT_EQ(set.FindPoint(CNameBuffer("A3")), nullptr);
    EXPECT_EQ(Labels(set), (std::vector<std::string>{"A0", "A4", "A5", "A13", "B7"}));

    // An empty slot: sorting refuses and the lookup searches as the list is.
    CObjectPoint* held = set.GetAt(2);
    set.GetArray().SetAt(2, nullptr);
    EXPECT_FALSE(set.SortByLabel());
    set.GetArray().SetAt(2, held);
    EXPECT_TRUE(set.SortByLabel());
    EXPECT_NE(set.FindPoint(CNameBuffer("A13")), nullptr);
}

// Many lookups against a plain search over the labels, with the set changed
// between rounds through element pointers.
TEST(PointSet, LookupsAgreeWithALinearSearchWhileLabelsChange)
{
    CPointSet set;
    for (int i = 0; i < 200; ++i)
        set.AddCopy(CObjectPoint(CNameBuffer(("T" + std::to_string(i)).c_str()), i, 0, 0));
    unsigned seed = 7;
    const auto next = [&seed](unsigned range) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % range;
    };
    for (int round = 0; round < 50; ++round) {
        const int victim = static_cast<int>(next(200));
        set.GetAt(victim)->label.Set(("T" + std::to_string(next(400))).c_str());
        for (int probe = 0; probe < 20; ++probe) {
            const std::string key = "T" + std::to_string(next(400));
            const CObjectPoint* found = set.FindPointByText(key.c_str());
            bool present = false;
            for (int i = 0; i < set.GetSize(); ++i)
                present = present || key == set.GetAt(i)->label.GetText();
            EXPECT_EQ(found != nullptr, present) << key;
            if (found != nullptr) {
                EXPECT_EQ(key, found->label.GetText());
            }
            for (int i = 1; i < set.GetSize(); ++i)
                ASSERT_FALSE(set.GetAt(i)->label < set.GetAt(i - 1)->label) << round;
        }
    }
}

TEST(PointSet, SortIsNaturalAndKeepsIdenticalLabelsInOrder)
{
    CPointSet set;
    const char* labels[] = {"P10", "A1", "P2", "A01", "P", "P-1", "P2", "Q1"};
    double x = 0;
    for (const char* l : labels)
        set.AddCopy(CObjectPoint(l, x++, 0, 0));
    EXPECT_TRUE(set.SortByLabel());
    EXPECT_EQ(Labels(set),
              (std::vector<std::string>{"A01", "A1", "P-1", "P", "P2", "P2", "P10", "Q1"}));
    EXPECT_EQ(set.GetAt(4)->x, 2.0);
    EXPECT_EQ(set.GetAt(5)->x, 6.0);
    // Sorting again changes nothing.
    set.SortByLabel();
    EXPECT_EQ(set.GetAt(4)->x, 2.0);
}

TEST(PointSet, RemovingAPointRemovesItsLines)
{
    CPointSet set;
    for (const char* l : {"P1", "P2", "P3", "P4"})
        set.AddPointSorted(CObjectPoint(l, 0, 0, 0));
    AddLine(set, "P1", "P3");
    AddLine(set, "P3", "P4");
    AddLine(set, "P1", "P2");
    AddLine(set, "P9", "P1");  // names an absent point: it stays
    EXPECT_TRUE(set.RemovePoint(CNameBuffer("P3")));
    EXPECT_EQ(set.GetSize(), 3);
    ASSERT_EQ(set.lines.GetSize(), 2);
    EXPECT_STREQ(set.lines.GetAt(0)->to.GetText(), "P2");
    EXPECT_FALSE(set.RemovePoint(CNameBuffer("P3")));
    EXPECT_TRUE(set.RemovePointByText("p4"));
    EXPECT_FALSE(set.RemovePointByText("bad label"));
    EXPECT_EQ(Labels(set), (std::vector<std::string>{"P1", "P2"}));
}

TEST(PointSet, NextLabel)
{
    CPointSet set = SampleSet();
    CNameBuffer next;
    EXPECT_TRUE(set.GetNextLabel(CNameBuffer("P1"), next));
    EXPECT_STREQ(next.GetText(), "P2");
    EXPECT_FALSE(set.GetNextLabel(CNameBuffer("P3"), next));
    EXPECT_FALSE(set.GetNextLabel(CNameBuffer("P7"), next));
    EXPECT_STREQ(next.GetText(), "P2");
}

TEST(PointSet, UpdateTakesNumbersOfMatchingLabels)
{
    CPointSet set = SampleSet();
    set.GetAt(1)->rayCount = 5;
    CPointSet other;
    CObjectPoint p("P2", 10, 20, 30);
    p.SetSigmas(1, 2, 3);
    p.rayCount = 1;
    p.inUse = false;
    other.AddPointSorted(p);
    other.AddPointSorted(CObjectPoint("X1", 1, 1, 1));
    set.UpdatePointsFrom(other);
    const CObjectPoint* q = set.FindPointByText("P2");
    EXPECT_EQ(q->x, 10.0);
    EXPECT_EQ(q->covariance.GetAt(2, 2), 9.0);
    EXPECT_TRUE(q->updated);
    EXPECT_TRUE(q->inUse);
    EXPECT_EQ(q->rayCount, 5);
    EXPECT_FALSE(set.FindPointByText("P1")->updated);
    EXPECT_EQ(set.GetSize(), 3);
    set.UpdatePointsFrom(set);
    EXPECT_TRUE(set.FindPointByText("P1")->updated);
}

TEST(PointSet, UnsolvedPointsCountAgainstTheUsedOnes)
{
    CPointSet set = SampleSet();
    set.GetAt(0)->inUse = false;
    set.GetAt(0)->unsolved = true;
    set.GetAt(1)->unsolved = true;
    EXPECT_EQ(set.GetUsedCount(), 2);
    EXPECT_EQ(set.GetUsedUnsolvedCount(), 0);
    EXPECT_FALSE(set.HasLabelWithPrefix(CNameBuffer("")));
    EXPECT_TRUE(set.HasLabelWithPrefix(CNameBuffer("P")));
}

TEST(PointSet, CentroidExtentsAndExtremes)
{
    CPointSet empty;
    CObjectPoint out("C", 7, 7, 7);
    EXPECT_FALSE(empty.GetCentroid(out));
    EXPECT_EQ(out.x, 7.0);
    EXPECT_EQ(empty.GetMaxXPoint(), nullptr);
    EXPECT_EQ(empty.GetExtentDiagonal(), 0.0);

    CPointSet set = SampleSet();
    ASSERT_TRUE(set.GetCentroid(out));
    EXPECT_DOUBLE_EQ(out.x, 2.0);
    EXPECT_DOUBLE_EQ(out.y, 2.0 / 3.0);
    EXPECT_DOUBLE_EQ(out.z, 10.0 / 3.0);
    EXPECT_STREQ(out.label.GetText(), "C");
    double ex = 0, ey = 0, ez = 0;
    EXPECT_TRUE(set.GetExtentX(ex));
    EXPECT_TRUE(set.GetExtentY(ey));
    EXPECT_TRUE(set.GetExtentZ(ez));
    EXPECT_EQ(ex, 4.0);
    EXPECT_EQ(ey, 4.0);
    EXPECT_EQ(ez, 8.0);
    EXPECT_DOUBLE_EQ(set.GetExtentDiagonal(), std::sqrt(96.0));
    EXPECT_STREQ(set.GetMinYPoint()->label.GetText(), "P2");
    // Of equal values the later point.
    set.GetAt(2)->x = 4;
    EXPECT_STREQ(set.GetMaxXPoint()->label.GetText(), "P3");
    set.GetAt(0)->z = 8;
    EXPECT_STREQ(set.GetMaxZPoint()->label.GetText(), "P3");
    EXPECT_STREQ(set.GetMinZPoint()->label.GetText(), "P2");

    set.Scale(0.5);
    EXPECT_EQ(set.GetAt(2)->z, 4.0);
    NEWMAT::Matrix t(4, 4);
    t = 0.0;
    t(1, 1) = t(2, 2) = t(3, 3) = t(4, 4) = 1.0;
    t(3, 4) = -4.0;
    EXPECT_TRUE(set.TransformPoints(t));
    EXPECT_EQ(set.GetAt(2)->z, 0.0);
}

TEST(PointSet, CopiesAreDeep)
{
    CPointSet set = SampleSet();
    set.isControl = true;
    set.name = "/data/Control.xyz";
    AddLine(set, "P1", "P2");
    CPointSet copy(set);
    EXPECT_TRUE(copy.IsEqual(set));
    EXPECT_TRUE(copy.isControl);
    EXPECT_STREQ(copy.GetName().GetText(), "/data/Control.xyz");
    ASSERT_EQ(copy.lines.GetSize(), 1);
    copy.GetAt(0)->x = 99;
    copy.lines.GetAt(0)->from = "P3";
    EXPECT_EQ(set.GetAt(0)->x, 0.0);
    EXPECT_STREQ(set.lines.GetAt(0)->from.GetText(), "P1");
    EXPECT_FALSE(copy.IsEqual(set));

    CPointSet assigned;
    assigned = set;
    EXPECT_TRUE(assigned.IsEqual(set));
    CDynString file;
    assigned.GetFileName(file);
    EXPECT_STREQ(file.GetText(), "Control.xyz");
}

TEST(PointLines, SelectionAndRemoval)
{
    CPointSet set;
    AddLine(set, "A", "B");
    AddLine(set, "B", "C");
    AddLine(set, "C", "A");
    set.lines.GetAt(1)->SetSelected(true);
    EXPECT_TRUE(set.lines.GetAt(1)->IsSelected());
    EXPECT_EQ(set.lines.CountSelected(), 1);
    set.lines.RemoveSelected();
    EXPECT_EQ(set.lines.GetSize(), 2);
    set.lines.SelectAll(true);
    EXPECT_EQ(set.lines.CountSelected(), 2);
    set.lines.RemoveLinesWith("A");
    EXPECT_EQ(set.lines.GetSize(), 0);
}

TEST(PointSetArchive, NewestRecordRoundTrips)
{
    CPointSet set;
    set.isDriver = true;
    set.isDiscrepancySet = true;
    set.name = "/proj/Compare.xyz";
    CObjectPoint p("B7", 1, 2, 3);
    p.discrepancy[1] = 0.5;
    p.SetSigmas(0.1, 0.2, 0.3);
    set.AddPointSorted(p);
    set.AddPointSorted(CObjectPoint("A7", 4, 5, 6));
    AddLine(set, "A7", "B7");

    StoreArchive out;
    int v = -1;
    set.Serialize(out.Get(), &v);
    const std::string bytes = out.Bytes();
    RecordBytes head;
    head.Int(12).Int(1).String("A7").String("B7").Byte(1).Byte(0).Byte(1).Byte(0);
    head.String("\\proj\\Compare.xyz").Int(2);
    EXPECT_EQ(bytes.substr(0, head.Size()), head.Str());

    LoadArchive in(bytes);
    CPointSet back;
    back.Serialize(in.Get(), &v);
    EXPECT_FALSE(in.Get().fail());
    EXPECT_EQ(in.Position(), static_cast<std::streamoff>(bytes.size()));
    EXPECT_TRUE(back.IsEqual(set));
    EXPECT_TRUE(back.isDriver);
    EXPECT_FALSE(back.isControl);
    EXPECT_TRUE(back.isDiscrepancySet);
    EXPECT_STREQ(back.name.GetText(), "/proj/Compare.xyz");
    ASSERT_EQ(back.lines.GetSize(), 1);
    EXPECT_STREQ(back.lines.GetAt(0)->to.GetText(), "B7");
    EXPECT_EQ(back.GetAt(1)->discrepancy[1], 0.5);
}

TEST(PointSetArchive, Version10TakesTheDiscrepancyFlagFromTheFileName)
{
    for (const char* file : {"Trans.xyz", "Compare.xyz", "trans.xyz", "Bundle.xyz"}) {
        RecordBytes b;
        b.Int(10).Byte(1).Byte(0).Byte(0).String(std::string("C:\\proj\\") + file).Int(1);
        b.Int(10).Triple(0, 0, 0);  // the point's own word and normal
        AppendOldPoint(b, "p1", 2.0);
        LoadArchive in(b.Str());
        CPointSet set;
        int v = -1;
        set.Serialize(in.Get(), &v);
        EXPECT_FALSE(in.Get().fail()) << file;
        const bool discrepancy = std::string(file) == "Trans.xyz" || std::string(file) == "Compare.xyz";
        EXPECT_EQ(set.isDiscrepancySet, discrepancy) << file;
        EXPECT_TRUE(set.isControl);
        EXPECT_EQ(set.lines.GetSize(), 0);
        EXPECT_EQ(set.name, CDynString((std::string("C:/proj/") + file).c_str()));
        ASSERT_EQ(set.GetSize(), 1);
        const CObjectPoint* p = set.GetAt(0);
        EXPECT_STREQ(p->label.GetText(), "P1");
        EXPECT_EQ(p->discrepancy[0], discrepancy ? 0.5 : 0.0);
        EXPECT_DOUBLE_EQ(p->covariance.GetAt(0, 0), discrepancy ? 0.0 : 0.25);
    }
}

TEST(PointSetArchive, Version11ReadsTheDiscrepancyFlagButNoLines)
{
    RecordBytes b;
    b.Int(11).Byte(1).Byte(0).Byte(0).Byte(0).String("Trans.xyz").Int(1);
    b.Int(11).Double(0).Triple(0, 0, 0);
    AppendOldPoint(b, "Q", 1.0);
    LoadArchive in(b.Str());
    CPointSet set;
    int v = -1;
    set.Serialize(in.Get(), &v);
    EXPECT_FALSE(in.Get().fail());
    EXPECT_TRUE(set.isDiscrepancySet);
    EXPECT_EQ(set.GetAt(0)->discrepancy[2], 0.125);

    // Read from the stored byte, not the name: 0 stays 0 for "Trans.xyz".
    std::string bytes = b.Str();
    bytes[4] = 0;
    LoadArchive in2(bytes);
    CPointSet set2;
    set2.Serialize(in2.Get(), &v);
    EXPECT_FALSE(set2.isDiscrepancySet);
}

TEST(PointSetArchive, OldProjectVersionIsPassedToEveryPoint)
{
    // Project file of version 8: no word in the set, none in the points,
    // which are sorted by label once read.
    RecordBytes b;
    b.Byte(0).Byte(1).Byte(0).String("D:\\p\\Drive.xyz").Int(3);
    AppendOldPoint(b, "T10", 1.0);
    AppendOldPoint(b, "T2", 2.0);
    AppendOldPoint(b, "T1", 3.0);
    LoadArchive in(b.Str());
    CPointSet set;
    int v = 8;
    set.Serialize(in.Get(), &v);
    EXPECT_FALSE(in.Get().fail());
    EXPECT_EQ(in.Position(), static_cast<std::streamoff>(b.Size()));
    EXPECT_TRUE(set.isDriver);
    EXPECT_EQ(Labels(set), (std::vector<std::string>{"T1", "T2", "T10"}));
    EXPECT_EQ(set.GetAt(0)->x, 3.0);
    EXPECT_DOUBLE_EQ(set.GetAt(1)->limitingCovariance.GetAt(1, 1), 0.01);
}

TEST(PointSetArchive, HostileCountsFailWithoutAllocating)
{
    RecordBytes points;
    points.Int(11).Byte(0).Byte(0).Byte(0).Byte(0).String("x").Int(0x7fffffff);
    LoadArchive in(points.Str());
    CPointSet set;
    int v = -1;
    set.Serialize(in.Get(), &v);
    EXPECT_TRUE(in.Get().fail());
    EXPECT_EQ(set.GetSize(), 0);

    RecordBytes lines;
    lines.Int(12).Int(100000000).String("A").String("B");
    LoadArchive in2(lines.Str());
    CPointSet set2;
    set2.Serialize(in2.Get(), &v);
    EXPECT_TRUE(in2.Get().fail());
    EXPECT_EQ(set2.lines.GetSize(), 0);

    RecordBytes negative;
    negative.Int(11).Byte(0).Byte(0).Byte(0).Byte(0).String("x").Int(-5);
    LoadArchive in3(negative.Str());
    CPointSet set3;
    set3.Serialize(in3.Get(), &v);
    EXPECT_TRUE(in3.Get().fail());
    EXPECT_EQ(set3.GetSize(), 0);
}

TEST(PointSetArchive, PointCutShortIsDropped)
{
    RecordBytes b;
    b.Byte(0).Byte(0).Byte(0).String("S.xyz").Int(2);
    AppendOldPoint(b, "K1", 1.0);
    AppendOldPoint(b, "K2", 2.0, std::string(100, '.'));
    // The count fits the bytes left, but the second point ends early.
    const std::string cut = b.Str().substr(0, b.Size() - 10);
    LoadArchive in(cut);
    CPointSet set;
    int v = 5;
    set.Serialize(in.Get(), &v);
    EXPECT_TRUE(in.Get().fail());
    EXPECT_EQ(Labels(set), (std::vector<std::string>{"K1"}));
}

namespace point_set_sorted_insert_test {

// Labels from a small pool, so that ties are many, in natural order
// ("P2" before "P10"); each point's x tells which one it is.
std::vector<std::string> LabelPool()
{
    return {"P1", "P2", "P10", "P9", "A", "A1", "B7", "P02", "Z", "P100", "P01", "10"};
}

TEST(PointSetSortedInsert, PlacesEachPointAfterEveryLabelNotGreater)
{
    const std::vector<std::string> pool = LabelPool();
    for (unsigned seed : {1u, 2u, 3u, 4u}) {
        SCOPED_TRACE(seed);
        std::srand(seed);
        CPointSet set;
        // The definition, written out: the index is the count of points whose
        // label is not greater.
        std::vector<std::pair<std::string, double>> truth;
        for (int i = 0; i < 400; ++i) {
            const std::string label = pool[std::size_t(std::rand()) % pool.size()];
            const CNameBuffer name(label.c_str());
            int expected = 0;
            for (const auto& t : truth)
                expected += !(name < CNameBuffer(t.first.c_str()));
            truth.insert(truth.begin() + expected, {label, double(i)});
            ASSERT_EQ(set.AddPointSorted(CObjectPoint(label.c_str(), double(i), 0.0, 0.0)), expected) << i;
        }
        ASSERT_EQ(set.GetSize(), int(truth.size()));
        for (int i = 0; i < set.GetSize(); ++i) {
            EXPECT_EQ(set.GetAt(i)->label.GetText(), truth[std::size_t(i)].first);
            EXPECT_EQ(set.GetAt(i)->x, truth[std::size_t(i)].second) << i;
        }
    }
}

TEST(PointSetSortedInsert, ASetOutOfOrderIsCountedThrough)
{
    CPointSet set;
    for (const char* label : {"P5", "P1", "P9", "P3"})
        set.AddCopy(CObjectPoint(label, 0.0, 0.0, 0.0));
    // Two labels are not greater than "P4" (P1, P3).
    EXPECT_EQ(set.AddPointSorted(CObjectPoint("P4", 1.0, 0.0, 0.0)), 2);
    EXPECT_EQ(Labels(set), (std::vector<std::string>{"P5", "P1", "P4", "P9", "P3"}));
}

} // namespace point_set_sorted_insert_test

namespace point_set_waiting_insert_test {

using Truth = std::vector<std::pair<std::string, double>>;

int CountNotGreater(const Truth& truth, const std::string& label)
{
    int n = 0;
    const CNameBuffer name(label.c_str());
    for (const auto& t : truth)
        n += !(name < CNameBuffer(t.first.c_str()));
    return n;
}

void ExpectSame(const CPointSet& set, const Truth& truth)
{
    ASSERT_EQ(set.GetSize(), int(truth.size()));
    for (int i = 0; i < set.GetSize(); ++i) {
        ASSERT_EQ(set.GetAt(i)->label.GetText(), truth[std::size_t(i)].first) << i;
        ASSERT_EQ(set.GetAt(i)->x, truth[std::size_t(i)].second) << i;
    }
}

// Bursts of inserts from a pool full of ties, into a set that already holds
// points, with one kind of access between bursts: each index returned and the
// final order equal the definition (after every point not greater).
TEST(PointSetWaitingInsert, EveryAccessBetweenInsertsSeesTheDefinition)
{
    const std::vector<std::string> pool = {"P1", "P2", "P10", "P9", "A", "A1", "B7", "P02", "Z", "P100", "P01", "10"};
    using Access = void (*)(CPointSet&, Truth&);
    const std::vector<std::pair<const char*, Access>> accesses = {
        {"none", [](CPointSet&, Truth&) {}},
        {"GetAt", [](CPointSet& s, Truth& t) { ASSERT_EQ(s.GetAt(0)->x, t[0].second); }},
        {"GetSize", [](CPointSet& s, Truth& t) { ASSERT_EQ(s.GetSize(), int(t.size())); }},
        {"FindPoint", [](CPointSet& s, Truth&) { ASSERT_NE(s.FindPointByText("B7"), nullptr); }},
        {"IndexOfLabel",
         [](CPointSet& s, Truth& t) {
             const int i = s.IndexOfLabel(CNameBuffer("Z"));
             ASSERT_TRUE(i >= 0 && t[std::size_t(i)].first == "Z");
         }},
        {"const data",
         [](CPointSet& s, Truth& t) {
             const CPointSet& c = s;
             ASSERT_EQ(c.GetData()[t.size() - 1]->x, t.back().second);
         }},
        {"copy", [](CPointSet& s, Truth& t) { ExpectSame(CPointSet(s), t); }},
        {"RemoveAt",
         [](CPointSet& s, Truth& t) {
             s.RemoveAt(1, 1);
             t.erase(t.begin() + 1);
         }},
        {"AddCopy at the end",
         [](CPointSet& s, Truth& t) {
             s.AddCopy(CObjectPoint("ZZ9", -1.0, 0.0, 0.0));
             t.push_back({"ZZ9", -1.0});
         }},
        {"SwapElements twice",
         [](CPointSet& s, Truth&) {
             CPointSet other;
             s.SwapElements(other);
             ASSERT_EQ(s.GetSize(), 0);
             s.SwapElements(other);
         }},
        {"rename keeping the order",
         [](CPointSet& s, Truth& t) {
             s.GetAt(0)->label.Set("0");
             t[0].first = "0";
         }},
    };
    for (const auto& access : accesses) {
        SCOPED_TRACE(access.first);
        std::mt19937 rng(17);
        CPointSet set;
        Truth truth;
        for (const char* l : {"A1", "P2", "P9", "Z"}) {
            set.AddCopy(CObjectPoint(l, -double(truth.size()) - 10.0, 0.0, 0.0));
            truth.push_back({l, -double(truth.size()) - 10.0});
        }
        ASSERT_TRUE(set.SortByLabel());
        for (int i = 0; i < 300; ++i) {
            const std::string label = pool[rng() % pool.size()];
            const int expected = CountNotGreater(truth, label);
            truth.insert(truth.begin() + expected, {label, double(i)});
            ASSERT_EQ(set.AddPointSorted(CObjectPoint(label.c_str(), double(i), 0.0, 0.0)), expected) << i;
            if (i % 37 == 36)
                access.second(set, truth);
        }
        ExpectSame(set, truth);
    }
}

// A point renamed through a pointer held from before while inserts wait:
// the waiting points keep the places they were given, and the next insert
// sees the list as it now is (out of order, found by the binary search).
TEST(PointSetWaitingInsert, ARenameThroughAHeldPointerKeepsEarlierPlaces)
{
    CPointSet set;
    for (const char* l : {"A1", "A2", "A3", "A4", "A5"})
        set.AddCopy(CObjectPoint(l, 0.0, 0.0, 0.0));
    ASSERT_TRUE(set.SortByLabel());
    CObjectPoint* held = set.GetAt(4);
    EXPECT_EQ(set.AddPointSorted(CObjectPoint("A3", 1.0, 0.0, 0.0)), 3);
    held->label.Set("A0");
    // A1 A2 A3 A3' A4 A0: the search for A6 ends after A0.
    EXPECT_EQ(set.AddPointSorted(CObjectPoint("A6", 2.0, 0.0, 0.0)), 6);
    EXPECT_EQ(Labels(set), (std::vector<std::string>{"A1", "A2", "A3", "A3", "A4", "A0", "A6"}));
    EXPECT_EQ(set.GetAt(3)->x, 1.0);
    ASSERT_NE(set.FindPointByText("A0"), nullptr);
    EXPECT_EQ(Labels(set), (std::vector<std::string>{"A0", "A1", "A2", "A3", "A3", "A4", "A6"}));
}

} // namespace point_set_waiting_insert_test
