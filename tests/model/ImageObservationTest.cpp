#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Camera.h"
#include "EllipseRecord.h"
#include "ImageObservation.h"
#include "ProjectSettings.h"
#include "ArchiveRun.h"
#include "RecordBytes.h"
#include "TestFiles.h"

namespace {

std::vector<std::string> Labels(const CObservationList& list)
{
    std::vector<std::string> out;
    for (int i = 0; i < list.GetSize(); ++i) out.push_back(list.GetAt(i)->label.GetText());
    return out;
}

CImageObservation Obs(const char* label, double x, double y)
{
    return CImageObservation(CNameBuffer(label), x, y);
}

CTargetEllipse SomeEllipse()
{
    CTargetEllipse e;
    e.SetFromParameters(1.25, -0.5, 0.3, 0.2, 0.7);
    CMatrix cov(5, -1);
    for (int i = 0; i < 5; ++i)
        for (int j = i; j < 5; ++j) cov.SetAt(0.001 * (i + 1) + 0.0001 * j, i, j);
    e.SetCovariance(cov);
    return e;
}

// The fields every observation layout ends with, from the label on.
void AppendObservationTail(RecordBytes& b, const char* label, double base)
{
    b.String(label);
    for (int i = 0; i < 7; ++i) b.Double(base + i); // x, y, radial, vx, vy, sigma x, sigma y
    b.Byte(1);                                       // rejected
    b.Double(base + 10).Double(base + 11);           // pixel column, row
    b.Byte(0).Byte(1).Byte(0).Byte(1);               // measured, fiducial, disabled, marked
}

void ExpectTail(const CImageObservation& o, const char* label, double base)
{
    EXPECT_STREQ(o.label.GetText(), label);
    EXPECT_EQ(o.x, base + 0);
    EXPECT_EQ(o.y, base + 1);
    EXPECT_EQ(o.radialDistance, base + 2);
    EXPECT_EQ(o.vx, base + 3);
    EXPECT_EQ(o.vy, base + 4);
    EXPECT_EQ(o.sigmaX, base + 5);
    EXPECT_EQ(o.sigmaY, base + 6);
    EXPECT_TRUE(o.rejected);
    EXPECT_EQ(o.pixelColumn, base + 10);
    EXPECT_EQ(o.pixelRow, base + 11);
    EXPECT_FALSE(o.measured);
    EXPECT_TRUE(o.fiducial);
    EXPECT_FALSE(o.disabled);
    EXPECT_TRUE(o.marked);
}

using TempDir = kestrelon::test::TempFolder;

} // namespace

// ---------------------------------------------------------------------------
// The record

TEST(ImageObservation, ResetKeepsOnlyTheLabelAndCopiesOwnTheirEllipse)
{
    CImageObservation o(CNameBuffer("p1"), 1.5, -2.5, 0.001, 0.002, 100.0, 200.0);
    EXPECT_STREQ(o.label.GetText(), "P1");
    EXPECT_TRUE(o.IsUsable());
    o.rejected = true;
    EXPECT_FALSE(o.IsUsable());
    o.rejected = false;
    o.disabled = o.marked = o.measured = o.fiducial = true;
    EXPECT_FALSE(o.IsUsable());
    o.vx = 0.3;
    o.SetEllipse(SomeEllipse());

    CImageObservation copy(o);
    ASSERT_NE(copy.GetEllipse(), nullptr);
    EXPECT_NE(copy.GetEllipse(), o.GetEllipse());

    o.Reset();
    EXPECT_STREQ(o.label.GetText(), "P1");
    EXPECT_EQ(o.x, 0.0);
    EXPECT_EQ(o.sigmaX, 0.0);
    EXPECT_EQ(o.vx, 0.0);
    EXPECT_EQ(o.pixelColumn, -1.0);
    EXPECT_EQ(o.pixelRow, -1.0);
    EXPECT_FALSE(o.disabled || o.marked || o.measured || o.fiducial || o.rejected);
    EXPECT_EQ(o.GetEllipse(), nullptr);
    ASSERT_NE(copy.GetEllipse(), nullptr); // the copy's ellipse survives
    EXPECT_EQ(copy.GetEllipse()->major, 0.3);

    copy.SetEllipse(*copy.GetEllipse()); // from its own ellipse
    ASSERT_NE(copy.GetEllipse(), nullptr);
    EXPECT_EQ(copy.GetEllipse()->major, 0.3);
    copy = o; // an observation without ellipse drops the target's
    EXPECT_EQ(copy.GetEllipse(), nullptr);
}

TEST(ImageObservation, RegionTestsAreStrictAndResidualLimitInclusive)
{
    CImageObservation o = Obs("A", 1.0, 2.0);
    const double left = 0.0, top = 3.0, right = 2.0, bottom = 1.0, onEdge = 1.0;
    EXPECT_TRUE(o.IsInRect(&left, &top, &right, &bottom));
    EXPECT_FALSE(o.IsInRect(&onEdge, &top, &right, &bottom));
    EXPECT_FALSE(o.IsInRect(&left, &top, &right, &top));
    EXPECT_FALSE(o.IsInRect(nullptr, &top, &right, &bottom));
    EXPECT_TRUE(o.IsInBox(0.0, 3.0, 2.0, 1.0));
    EXPECT_FALSE(o.IsInBox(0.0, 2.0, 2.0, 1.0));

    CCamera camera;
    camera.parameters[CAM_XP] = -2.0;
    camera.parameters[CAM_YP] = -2.0;
    EXPECT_DOUBLE_EQ(o.ComputeRadialDistance(camera), 5.0);
    EXPECT_DOUBLE_EQ(o.GetRadialDistance(), 5.0);

    CProjectSettings settings;
    settings.rejectionLimit = 0.01;
    o.vx = -0.01;
    o.vy = 0.005;
    EXPECT_TRUE(o.ResidualsWithin(settings));
    o.vy = 0.0100001;
    EXPECT_FALSE(o.ResidualsWithin(settings));
}

TEST(ObservationList, KeepsNaturalLabelOrderAndFinds)
{
    CObservationList list;
    for (const char* l : {"P10", "B2", "P2", "A1", "B1", "P", "P-1"}) list.AddSorted(Obs(l, 0.0, 0.0));
    EXPECT_EQ(Labels(list), (std::vector<std::string>{"A1", "B1", "B2", "P-1", "P", "P2", "P10"}));
    EXPECT_EQ(list.FindIndex(CNameBuffer("P2")), 5);
    EXPECT_EQ(list.FindIndexByText("b2"), 2);
    EXPECT_EQ(list.FindIndexByText("Q"), -1);
    EXPECT_EQ(list.FindIndexByText("not a label!"), -1);
    EXPECT_EQ(list.FindInsertIndex(CNameBuffer("B15")), 3);
    EXPECT_EQ(list.FindInsertIndex(CNameBuffer("Z")), 7);
    int probe = -7;
    EXPECT_FALSE(CObservationList().BinarySearch(CNameBuffer("A"), probe));
    EXPECT_EQ(probe, -7);

    // A new observation with a present label goes in front of the old one.
    list.AddSorted(Obs("B2", 9.0, 0.0));
    EXPECT_EQ(list.GetAt(2)->x, 9.0);
    EXPECT_EQ(list.GetAt(3)->x, 0.0);

    EXPECT_TRUE(list.RemoveByText("p"));
    EXPECT_FALSE(list.RemoveByText("p"));
    EXPECT_TRUE(list.Remove(CNameBuffer("A1")));
    CObservationList other;
    other.AddSorted(Obs("P10", 0, 0));
    other.AddSorted(Obs("X", 0, 0));
    EXPECT_TRUE(list.RemoveMatching(other));
    EXPECT_EQ(Labels(list), (std::vector<std::string>{"B1", "B2", "B2", "P-1", "P2"}));

    CObservationList unsorted;
    for (const char* l : {"P10", "P2", "Q1", "P", "P-1", "A01", "A1"}) unsorted.AddCopy(Obs(l, 0, 0));
    EXPECT_TRUE(unsorted.SortByLabel());
    EXPECT_EQ(Labels(unsorted), (std::vector<std::string>{"A01", "A1", "P-1", "P", "P2", "P10", "Q1"}));
}

TEST(ObservationList, RemoveCloseDuplicatesKeepsTheLater)
{
    CObservationList list;
    list.AddCopy(Obs("A", 0.0, 0.0));
    list.AddCopy(Obs("B", 5.0, 5.0));
    list.AddCopy(Obs("C", 0.0, 0.0));
    list.AddCopy(Obs("D", 0.0, 1e-9));
    list.RemoveCloseDuplicates(0.0);
    EXPECT_EQ(Labels(list), (std::vector<std::string>{"B", "C", "D"}));

    CObservationList three;
    three.AddCopy(Obs("A", 0.0, 0.0));
    three.AddCopy(Obs("B", 0.3, 0.0));
    three.AddCopy(Obs("C", 0.6, 0.0));
    three.AddCopy(Obs("Z", 9.0, 0.0));
    three.RemoveCloseDuplicates(0.6);
    EXPECT_EQ(Labels(three), (std::vector<std::string>{"C", "Z"}));
}

TEST(ObservationList, CopiesAreDeep)
{
    CObservationList list;
    CImageObservation withEllipse = Obs("E", 1, 1);
    withEllipse.SetEllipse(SomeEllipse());
    EXPECT_FALSE(list.HasEllipses());
    list.AddSorted(Obs("A", 0, 0));
    list.InsertCopyAt(1, withEllipse, 2);
    EXPECT_TRUE(list.HasEllipses());
    EXPECT_NE(list.GetAt(1)->GetEllipse(), list.GetAt(2)->GetEllipse());

    CObservationList copy(list);
    list.DeleteAll();
    ASSERT_EQ(copy.GetSize(), 3);
    EXPECT_TRUE(copy.HasEllipses());

    CDynArray<CImageObservation> pointers;
    pointers.Add(copy.GetAt(2));
    pointers.Add(copy.GetAt(0));
    list.CopyFromArray(pointers);
    EXPECT_EQ(Labels(list), (std::vector<std::string>{"E", "A"}));
    EXPECT_NE(list.GetAt(0), copy.GetAt(2));
}

// ---------------------------------------------------------------------------
// Archive

TEST(ObservationArchive, NewestRecordRoundTripsWithAndWithoutEllipse)
{
    CObservationList list;
    CImageObservation a(CNameBuffer("T7"), 1.5, -2.25, 0.001, 0.002, 512.5, 384.25);
    a.radialDistance = 2.7;
    a.vx = 1e-4;
    a.vy = -2e-4;
    a.rejected = a.marked = true;
    a.SetEllipse(SomeEllipse());
    CImageObservation b = Obs("T10", 3.0, 4.0);
    b.disabled = b.measured = b.fiducial = true;
    list.AddSorted(b);
    list.AddSorted(a);
    ExpectStoresAndReadsBack(list, [&](const CObservationList& back) {
        ASSERT_EQ(back.GetSize(), 2);
        for (int i = 0; i < 2; ++i) {
            const CImageObservation &r = *back.GetAt(i), &o = *list.GetAt(i);
            EXPECT_STREQ(r.label.GetText(), o.label.GetText());
            const double got[] = {r.x, r.y, r.sigmaX, r.sigmaY, r.radialDistance, r.vx, r.vy, r.pixelColumn, r.pixelRow};
            const double want[] = {o.x, o.y, o.sigmaX, o.sigmaY, o.radialDistance, o.vx, o.vy, o.pixelColumn, o.pixelRow};
            for (int k = 0; k < 9; ++k)
                EXPECT_EQ(got[k], want[k]) << k;
            EXPECT_EQ(r.rejected, o.rejected);
            EXPECT_EQ(r.marked, o.marked);
            EXPECT_EQ(r.disabled, o.disabled);
            EXPECT_EQ(r.measured, o.measured);
            EXPECT_EQ(r.fiducial, o.fiducial);
            ASSERT_EQ(r.GetEllipse() != nullptr, o.GetEllipse() != nullptr);
        }
        const CTargetEllipse &e = *back.GetAt(0)->GetEllipse(), ref = SomeEllipse();
        EXPECT_EQ(e.major, ref.major);
        EXPECT_EQ(e.rotation, ref.rotation);
        EXPECT_TRUE(e.covariance == ref.covariance);
        ASSERT_EQ(e.conic.GetSize(), 7);
        for (int i = 0; i < 7; ++i) EXPECT_EQ(e.conic[i], ref.conic[i]);
    }, 4);

    // A record without ellipse, loaded into an observation that owns one, drops it.
    int own = -1;
    CImageObservation target = a;
    LoadBytes(StoredRecord(b), [&](CBinArchive& ar) { ASSERT_TRUE(target.Serialize(ar, &own)); });
    EXPECT_EQ(target.GetEllipse(), nullptr);
    EXPECT_STREQ(target.label.GetText(), "T10");
}

// Every record version built by hand: no ellipse byte before 8; an ellipse
// without version words from 8 to 10; from 11 the ellipse reads its own
// versions, and storing writes exactly that layout.
TEST(ObservationArchive, EveryVersionBuiltByHand)
{
    for (int v = 0; v <= 11; ++v) {
        for (bool withEllipse : {false, true}) {
            if (v < 8 && withEllipse)
                continue;
            SCOPED_TRACE(v * 10 + withEllipse);
            RecordBytes b;
            if (v == 11)
                b.Int(11);
            if (v >= 8)
                b.Byte(withEllipse ? 1 : 0);
            if (withEllipse && v < 11)
                b.Double(3.0).Double(2.0).Double(0.25).Double(-1.0).Double(7.5).Int(7).Doubles({0, 0.5, 1, 1.5, 2, 2.5, 3});
            if (withEllipse && v == 11) {
                b.Int(11).Int(5).Int(-1); // ellipse record version, covariance shape
                for (int i = 0; i < 15; ++i)
                    b.Double(i + 1.0);
                b.Double(3.0).Double(2.0).Double(0.25).Double(-1.0).Double(7.5).Int(10).Int(0);
            }
            AppendObservationTail(b, "X9", 5.0 * v);
            LoadArchive load(b.Str());
            CImageObservation o;
            o.SetEllipse(SomeEllipse());
            int passed = v == 11 ? -1 : v;
            ASSERT_TRUE(o.Serialize(load.Get(), &passed));
            EXPECT_EQ(passed, v == 11 ? -1 : v);
            EXPECT_EQ(load.Get().RemainingBytes(), 0);
            ExpectTail(o, "X9", 5.0 * v);
            ASSERT_EQ(o.GetEllipse() != nullptr, withEllipse);
            if (!withEllipse)
                continue;
            const CTargetEllipse& e = *o.GetEllipse();
            EXPECT_EQ(e.major, 3.0);
            EXPECT_EQ(e.minor, 2.0);
            EXPECT_EQ(e.rotation, 0.25);
            EXPECT_EQ(e.centreX, -1.0);
            EXPECT_EQ(e.centreY, 7.5);
            EXPECT_EQ(e.covariance.GetRows(), v == 11 ? 5 : 0);
            EXPECT_EQ(e.conic.GetSize(), v == 11 ? 0 : 7);
            if (v < 11) {
                EXPECT_EQ(e.conic[6], 3.0);
                continue;
            }
            EXPECT_EQ(e.covariance.GetAt(0, 4), 5.0);
            EXPECT_EQ(e.covariance.GetAt(4, 4), 15.0);
            StoreArchive store;
            ASSERT_TRUE(o.Serialize(store.Get(), &passed));
            EXPECT_EQ(store.Bytes(), b.Str());
        }
    }
}

TEST(ObservationArchive, ListLayoutsWithPassedAndOwnVersion)
{
    // A project of version 5 passes its version: no list or record version words.
    RecordBytes old;
    old.Int(2);
    AppendObservationTail(old, "P10", 1.0);
    AppendObservationTail(old, "P2", 2.0);
    LoadArchive load(old.Str());
    CObservationList list;
    int passed = 5;
    ASSERT_TRUE(list.Serialize(load.Get(), &passed));
    // Sorted after loading.
    EXPECT_EQ(Labels(list), (std::vector<std::string>{"P2", "P10"}));

    RecordBytes current;
    current.Int(10).Int(1);
    current.Int(11).Byte(0);
    AppendObservationTail(current, "Z", 3.0);
    LoadArchive load2(current.Str());
    CObservationList list2;
    int own = -1;
    ASSERT_TRUE(list2.Serialize(load2.Get(), &own));
    ASSERT_EQ(list2.GetSize(), 1);
    ExpectTail(*list2.GetAt(0), "Z", 3.0);
}

TEST(ObservationArchive, HostileRecordsFailCleanly)
{
    int own = -1;
    {
        RecordBytes b;
        b.Int(10).Int(-3);
        LoadArchive load(b.Str());
        CObservationList list;
        EXPECT_FALSE(list.Serialize(load.Get(), &own));
    }
    {
        // A record version this reader does not know.
        RecordBytes b;
        b.Int(99).Byte(0);
        AppendObservationTail(b, "A", 0.0);
        LoadArchive load(b.Str());
        CImageObservation o;
        EXPECT_FALSE(o.Serialize(load.Get(), &own));
    }
    {
        // An ellipse whose covariance claims a huge size.
        RecordBytes b;
        b.Int(11).Byte(1).Int(11).Int(100000).Int(-1);
        LoadArchive load(b.Str());
        CImageObservation o;
        EXPECT_FALSE(o.Serialize(load.Get(), &own));
        EXPECT_EQ(o.GetEllipse(), nullptr);
    }
    {
        // A conic of three parameters is no conic.
        RecordBytes b;
        b.Int(11).Byte(1).Int(11).Int(0).Int(0);
        b.Double(1).Double(1).Double(0).Double(0).Double(0).Int(10).Int(3).Double(1).Double(2).Double(3);
        AppendObservationTail(b, "A", 0.0);
        LoadArchive load(b.Str());
        CImageObservation o;
        EXPECT_FALSE(o.Serialize(load.Get(), &own));
        EXPECT_EQ(o.GetEllipse(), nullptr);
    }
}

// ---------------------------------------------------------------------------
// Fiducial files

// The reader as a table of lines: the label and numbers read, or skipped ("").
TEST(FiducialFile, LinesTable)
{
    struct Line {
        std::string text;
        const char* label;
        double x = 0, y = 0;
    };
    const Line lines[] = {
        {"A1 1.0 2.0", "A1", 1.0, 2.0},
        {"f3 10.5 -7.25\r", "F3", 10.5, -7.25},
        {"B1 3.0", ""},                           // one number only
        {"", ""},                                 // blank
        {"ABCDEFGHIJKLMNOPQ 1 2", ""},            // 17-character label
        {"BAD.LABEL 1 2", ""},                    // invalid character
        {"C1 x 2", ""},                           // no number
        {"D1 5 6 trailing text", "D1", 5.0, 6.0}, // extra text is ignored
        {"E1\t+7.5e-1  -8E2\r", "E1", 0.75, -800.0},
        {"F1 nan 1", ""},                         // not a finite number
        {"G1 1,5 2", ""},                         // a comma ends the number
        {"H 3 4" + std::string(144, ' ') + "\r", "H", 3.0, 4.0}, // 149 characters: a line
        {"I 5 6" + std::string(140, ' ') + "J 7 8", "I", 5.0, 6.0}, // 150: read whole, the tail ignored
    };
    for (const Line& line : lines) {
        SCOPED_TRACE(line.text);
        for (const char* end : {"\n", ""}) {
            const std::string text = "K 0 0\n" + line.text + end;
            CObservationList list;
            ASSERT_TRUE(list.ReadXyText(text.data(), text.size()));
            const bool read = line.label[0] != '\0';
            ASSERT_EQ(list.GetSize(), read ? 2 : 1);
            if (!read)
                continue;
            const CImageObservation& o = *list.GetAt(list.FindIndexByText(line.label));
            EXPECT_EQ(o.x, line.x);
            EXPECT_EQ(o.y, line.y);
            EXPECT_EQ(o.sigmaX, 0.0);
            EXPECT_EQ(o.pixelColumn, -1.0);
        }
    }
    // A file: marks in label order.
    TempDir dir;
    CObservationList list;
    ASSERT_TRUE(list.ReadXyFile(CFilePath(dir.Write("f.xy", "F3 1 2\r\nf1 3 4\r\nF2 5 6").c_str())));
    EXPECT_EQ(Labels(list), (std::vector<std::string>{"F1", "F2", "F3"}));
}

TEST(FiducialFile, DuplicateLabelsBothStayLaterInFront)
{
    const std::string text = "M 1 1\nA 0 0\nM 2 2\nM 3 3\n";
    CObservationList list;
    ASSERT_TRUE(list.ReadXyText(text.data(), text.size()));
    ASSERT_EQ(Labels(list), (std::vector<std::string>{"A", "M", "M", "M"}));
    EXPECT_EQ(list.GetAt(1)->x, 3.0);
    EXPECT_EQ(list.GetAt(2)->x, 2.0);
    EXPECT_EQ(list.GetAt(3)->x, 1.0);

    // The same order as inserting the lines one by one.
    CObservationList oneByOne;
    for (double v : {1.0, 0.0, 2.0, 3.0}) oneByOne.AddSorted(Obs(v == 0.0 ? "A" : "M", v, v));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(list.GetAt(i)->x, oneByOne.GetAt(i)->x);
}

TEST(FiducialFile, FailedImportLeavesTheListAsItWas)
{
    TempDir dir;
    CObservationList list;
    list.AddSorted(Obs("KEEP", 1, 1));

    EXPECT_FALSE(list.ReadXyFile(CFilePath(dir.File("missing.xy").c_str())));
    EXPECT_EQ(Labels(list), (std::vector<std::string>{"KEEP"}));

    EXPECT_FALSE(list.ReadXyFile(CFilePath(dir.Path().c_str()))); // a folder
    EXPECT_FALSE(list.ReadXyFile(CFilePath(dir.Write("empty.xy", "").c_str())));
    EXPECT_EQ(Labels(list), (std::vector<std::string>{"KEEP"}));

    // A readable file without any valid mark replaces the list.
    EXPECT_TRUE(list.ReadXyFile(CFilePath(dir.Write("junk.xy", "only junk here\n").c_str())));
    EXPECT_EQ(list.GetSize(), 0);
}

TEST(FiducialFile, NumbersAreReadInTheCLocale)
{
    const char* previous = std::setlocale(LC_ALL, nullptr);
    const std::string saved = previous ? previous : "C";
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "no decimal-comma locale";
    const std::string text = "F1 1.5 -2.125\n";
    CObservationList list;
    const bool ok = list.ReadXyText(text.data(), text.size());
    std::setlocale(LC_ALL, saved.c_str());
    ASSERT_TRUE(ok);
    ASSERT_EQ(list.GetSize(), 1);
    EXPECT_EQ(list.GetAt(0)->x, 1.5);
    EXPECT_EQ(list.GetAt(0)->y, -2.125);
}

namespace observation_close_duplicates_test {

// What stays, by the rule's own words: from the last observation to the
// first, one stays when no later one that stayed is within the distance
// (the distance test as the list makes it, rounding and overflow alike).
std::vector<double> Survivors(const std::vector<std::pair<double, double>>& xy, double distance)
{
    std::vector<std::size_t> kept;
    for (std::size_t i = xy.size(); i-- > 0;) {
        bool close = false;
        for (std::size_t k : kept) {
            const double dx = xy[k].first - xy[i].first;
            const double dy = xy[k].second - xy[i].second;
            close = close || std::sqrt(dx * dx + dy * dy) <= distance;
        }
        if (!close)
            kept.push_back(i);
    }
    std::vector<double> ids;
    for (auto it = kept.rbegin(); it != kept.rend(); ++it)
        ids.push_back(double(*it));
    return ids;
}

std::vector<double> RemoveAndList(const std::vector<std::pair<double, double>>& xy, double distance)
{
    CObservationList list;
    for (std::size_t i = 0; i < xy.size(); ++i) {
        CImageObservation o(CNameBuffer(("T" + std::to_string(i)).c_str()), xy[i].first, xy[i].second);
        o.sigmaX = double(i); // which one it was
        list.AddCopy(o);
    }
    EXPECT_TRUE(list.RemoveCloseDuplicates(distance));
    std::vector<double> ids;
    for (int i = 0; i < list.GetSize(); ++i)
        ids.push_back(list.GetAt(i)->sigmaX);
    return ids;
}

TEST(ObservationCloseDuplicates, TheLaterOfCloseObservationsStays)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    using XY = std::vector<std::pair<double, double>>;
    std::srand(7);
    XY cloud;   // clusters of targets seen twice or three times
    for (int i = 0; i < 600; ++i)
        cloud.emplace_back(std::rand() % 400 * 0.05 + (std::rand() % 3) * 0.001, std::rand() % 400 * 0.05);
    XY grid;    // exactly the distance apart along the axes, and on cell edges
    for (int i = 0; i < 30; ++i)
        grid.emplace_back(0.5 * (i % 6), 0.5 * (i / 6));
    const struct {
        const char* name;
        XY xy;
        double distance;
    } cases[] = {
        {"clusters", cloud, 0.0025},
        {"clusters, wide", cloud, 0.3},
        {"distance apart", grid, 0.5},
        {"just under", grid, std::nextafter(0.5, 0.0)},
        {"chain", {{0, 0}, {0.4, 0}, {0.8, 0}, {1.2, 0}, {1.6, 0}}, 0.5},
        {"same point, zero distance", {{1, 1}, {1, 1}, {1, 1 + 1e-12}, {1e-170, 0}, {0, 0}}, 0.0},
        {"negative distance", {{1, 1}, {1, 1}}, -1.0},
        {"not a number", {{nan, 0}, {0, 0}, {nan, 0}, {0, nan}, {0, 0}}, 1.0},
        {"infinite", {{inf, 0}, {inf, 0}, {0, 0}, {-inf, 5}, {1, 1}}, 2.0},
        {"infinite distance", {{inf, 0}, {1e300, 0}, {-1e300, 3}, {0, 0}, {nan, 1}}, inf},
        {"huge and tiny", {{1e300, 1e300}, {-1e300, -1e300}, {1e300, 1e300}, {1e-300, 0}, {0, 0}}, 1e-3},
        {"one", {{3, 4}}, 1.0},
        {"none", {}, 1.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RemoveAndList(c.xy, c.distance), Survivors(c.xy, c.distance));
    }
}

} // namespace observation_close_duplicates_test
