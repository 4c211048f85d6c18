#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CoordinateFile.h"
#include "Message.h"
#include "PointSet.h"
#include "TestFiles.h"

namespace fs = std::filesystem;

namespace {

enum class Kind { Plain, Control, Discrepancy };

CPointSet MakeSet(Kind kind)
{
    CPointSet set;
    set.isControl = kind == Kind::Control;
    set.isDiscrepancySet = kind == Kind::Discrepancy;
    return set;
}

// Reads text as the contents of a coordinate file into a set of the kind.
CPointSet ReadText(const std::string& text, Kind kind, int* fields = nullptr, bool* ok = nullptr)
{
    CPointSet set = MakeSet(kind);
    std::istringstream in(text);
    int n = 99;
    const bool result = set.ReadXyzStream(in, &n);
    if (fields)
        *fields = n;
    if (ok)
        *ok = result;
    return set;
}

using kestrelon::test::TempFolder;

std::string ReadBytes(const std::string& path)
{
    return kestrelon::test::ReadFileBytes(path);
}

void WriteBytes(const std::string& path, const std::string& bytes)
{
    kestrelon::test::WriteFileBytes(path, bytes);
}

} // namespace

// One line read into a set of each kind: what each field count gives.
TEST(CoordinateReader, FieldCountsTable)
{
    constexpr double kNone = -1.0; // no normal
    struct Row {
        const char* line;
        Kind kind;
        const char* label;
        double x, z, aprioriSigma1, covariance00, covariance11, covariance22, discrepancy2, radius, normal0, normal2;
        int fields;
    };
    const Row rows[] = {
        {"P1 1.0 2.0 3.0\n", Kind::Plain, "P1", 1, 3, 0.01, 0, 0, 0, 0, 0, kNone, kNone, 4},
        {"P1 1.0 2.0 3.0\n", Kind::Control, "P1", 1, 3, 0.01, 0, 0, 0, 0, 0, kNone, kNone, 4},
        {"P1 1.0 2.0 3.0\n", Kind::Discrepancy, "P1", 1, 3, 0.01, 0, 0, 0, 0, 0, kNone, kNone, 4},
        // Seven: sigmas of control points, covariance of others, discrepancies.
        {"p1 1 2 3 0.1 0.2 0.3\r\n", Kind::Control, "P1", 1, 3, 0.2, 0, 0, 0, 0, 0, kNone, kNone, 7},
        {"p1 1 2 3 0.1 0.2 0.3\r\n", Kind::Plain, "P1", 1, 3, 0.01, 0.01, 0.04, 0.09, 0, 0, kNone, kNone, 7},
        {"p1 1 2 3 0.1 0.2 0.3\r\n", Kind::Discrepancy, "P1", 1, 3, 0.01, 0, 0, 0, 0.3, 0, kNone, kNone, 7},
        // Eight: radius and unit normal; a zero normal is none.
        {"T1 0 0 0 5 0 0 2", Kind::Plain, "T1", 0, 0, 0.01, 0, 0, 0, 0, 5, 0, 1, 8},
        {"T1 0 0 0 5 0 0 2", Kind::Control, "T1", 0, 0, 0.01, 0, 0, 0, 0, 5, 0, 1, 8},
        {"T2 0 0 0 5 0 0 0", Kind::Plain, "T2", 0, 0, 0.01, 0, 0, 0, 0, 5, kNone, kNone, 8},
        // Eleven: control and discrepancy sets take no radius or normal.
        {"Q 1 2 3 0.5 0.5 0.5 4 3 0 4\n", Kind::Plain, "Q", 1, 3, 0.01, 0.25, 0.25, 0.25, 0, 4, 0.6, 0.8, 11},
        {"Q 1 2 3 0.5 0.5 0.5 4 3 0 4\n", Kind::Control, "Q", 1, 3, 0.5, 0, 0, 0, 0, 0, kNone, kNone, 11},
        {"Q 1 2 3 0.5 0.5 0.5 4 3 0 4\n", Kind::Discrepancy, "Q", 1, 3, 0.01, 0, 0, 0, 0.5, 0, kNone, kNone, 11},
        {"Q 1 2 3 0.5 0.5 0.5 4 3 0 4 9 9", Kind::Plain, "Q", 1, 3, 0.01, 0.25, 0.25, 0.25, 0, 4, 0.6, 0.8, 11},
        // Other counts ignore the numbers after the coordinates.
        {"A 1 2 3 7", Kind::Plain, "A", 1, 3, 0.01, 0, 0, 0, 0, 0, kNone, kNone, 5},
        {"A 1 2 3 7 7", Kind::Plain, "A", 1, 3, 0.01, 0, 0, 0, 0, 0, kNone, kNone, 6},
        {"A 1 2 3 7 7 7 7 7", Kind::Plain, "A", 1, 3, 0.01, 0, 0, 0, 0, 0, kNone, kNone, 9},
        {"A 1 2 3 7 7 7 7 7 7", Kind::Plain, "A", 1, 3, 0.01, 0, 0, 0, 0, 0, kNone, kNone, 10},
    };
    for (const Row& r : rows) {
        int fields = 0;
        const CPointSet set = ReadText(r.line, r.kind, &fields);
        ASSERT_EQ(set.GetSize(), 1) << r.line;
        const CObjectPoint& p = *set.GetAt(0);
        const std::string what = std::string(r.line) + " kind " + std::to_string(int(r.kind));
        EXPECT_STREQ(p.label.GetText(), r.label) << what;
        EXPECT_EQ(p.x, r.x) << what;
        EXPECT_EQ(p.z, r.z) << what;
        EXPECT_EQ(p.aprioriSigma[1], r.aprioriSigma1) << what;
        EXPECT_DOUBLE_EQ(p.covariance.GetAt(1, 1), r.covariance11) << what;
        EXPECT_DOUBLE_EQ(p.covariance.GetAt(2, 2), r.covariance22) << what;
        EXPECT_DOUBLE_EQ(p.covariance.GetAt(0, 0), r.covariance00) << what;
        EXPECT_EQ(p.discrepancy[2], r.discrepancy2) << what;
        EXPECT_EQ(p.radius, r.radius) << what;
        EXPECT_EQ(p.HasNormal(), r.normal0 != kNone) << what;
        EXPECT_FALSE(std::isnan(p.normal[0])) << what;
        if (r.normal0 != kNone) {
            EXPECT_DOUBLE_EQ(p.normal[0], r.normal0) << what;
            EXPECT_DOUBLE_EQ(p.normal[2], r.normal2) << what;
        }
        if (r.line[std::strlen(r.line) - 1] != '\n') {
            EXPECT_EQ(fields, r.fields) << what;
        }
    }
}

TEST(CoordinateReader, ShortAndBrokenLinesAddNoPoint)
{
    int fields = 0;
    bool ok = true;
    const CPointSet set = ReadText("# header line\nLabel X Y Z\n\nP1 1 2\nP2 1 x 3\nP3 4 5 6 abc\n",
                                   Kind::Plain, &fields, &ok);
    EXPECT_TRUE(ok);
    ASSERT_EQ(set.GetSize(), 1);
    EXPECT_STREQ(set.GetAt(0)->label.GetText(), "P3");

    ReadText("# nothing here\nP 1 2\n", Kind::Plain, &fields, &ok);
    EXPECT_FALSE(ok);
    ReadText("", Kind::Plain, &fields, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(fields, -1);
}

TEST(CoordinateReader, LineEndsAndTheLastFieldCount)
{
    int fields = 0;
    const std::string body = "B 1 2 3\r\nA 4 5 6 0.1 0.1 0.1\r\n";
    CPointSet crlf = ReadText(body, Kind::Plain, &fields);
    EXPECT_EQ(crlf.GetSize(), 2);
    EXPECT_EQ(fields, 7);  // the last line that holds fields

    CPointSet lf = ReadText("B 1 2 3\nA 4 5 6 0.1 0.1 0.1\n", Kind::Plain, &fields);
    EXPECT_TRUE(lf.IsEqual(crlf));

    CPointSet open = ReadText("B 1 2 3\nA 4 5 6 0.1 0.1 0.1", Kind::Plain, &fields);
    EXPECT_TRUE(open.IsEqual(crlf));
    EXPECT_EQ(fields, 7);
    EXPECT_STREQ(open.GetAt(0)->label.GetText(), "A");

    ReadText("B 1 2 3\r", Kind::Plain, &fields);
    EXPECT_EQ(fields, 4);
    ReadText("B 1 2 3\r\n\r\n \t\r\n", Kind::Plain, &fields);
    EXPECT_EQ(fields, 4);
}

// A point line whose label cannot be held adds no point; its number is told.
TEST(CoordinateReader, InvalidLabelsAreRefusedWithTheirLines)
{
    const struct {
        std::string text;
        std::vector<std::string> labels; // of the points read, in order
        std::vector<int> refused;
    } cases[] = {
        {"ABCDEFGHIJKLMNOPQ 1 2 3\nPT.1 4 5 6\nABCDEFGHIJKLMNOP 7 8 9\n", {"ABCDEFGHIJKLMNOP"}, {1, 2}},
        // A label far longer than any buffer.
        {std::string(240, 'L') + " 1 2 3\r\nq-2 1 2 3\r\n", {"Q-2"}, {1}},
        // Lines that are no point lines are not refused, whatever their first word.
        {"# Label X Y Z\n\nNAME.TOO 1 2\nP1 1 2 3\n", {"P1"}, {}},
        {"P\xe9" "1 1 2 3\n", {}, {1}},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.text);
        CPointSet set;
        std::istringstream in(test.text);
        std::vector<int> refused;
        int fields = 0;
        EXPECT_EQ(set.ReadXyzStream(in, &fields, &refused), !test.labels.empty());
        ASSERT_EQ(set.GetSize(), static_cast<int>(test.labels.size()));
        for (int i = 0; i < set.GetSize(); ++i)
            EXPECT_EQ(set.GetAt(i)->label.GetText(), test.labels[i]);
        EXPECT_EQ(refused, test.refused);
    }
}

// The message names the file and the refused lines.
TEST(CoordinateReader, RefusedLabelsAreReportedWithFileAndLine)
{
    TempFolder dir;
    const std::string path = dir.File("long.xyz");
    WriteBytes(path, "ABCDEFGHIJKLMNOPQRS 1.0 2.0 3.0\r\nP1 4 5 6\r\n");
    TakeCapturedMessages();
    CPointSet set;
    ASSERT_TRUE(set.Load(path.c_str()));
    EXPECT_EQ(set.GetSize(), 1);
    std::vector<CapturedMessage> messages = TakeCapturedMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Line 1 of " + path +
                                    " has no valid point label (at most 16 letters, digits, _ or -) and was not read.");

    std::string many;
    for (int i = 1; i <= 12; ++i)
        many += "BAD.LABEL 1 2 3\n";
    WriteBytes(path, many + "P1 1 2 3\n");
    set.Load(path.c_str());
    messages = TakeCapturedMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text.substr(0, 43), "Lines 1, 2, 3, 4, 5, 6, 7, 8, 9, 10 and 2 m");
    WriteBytes(path, "BAD.LABEL 1 2 3\nP1 1 2 3\nBAD.LABEL 1 2 3\n");
    set.Load(path.c_str());
    messages = TakeCapturedMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text.substr(0, 14), "Lines 1 and 3 ");
}

TEST(CoordinateReader, LongLinesAreReadWholeAndReadingGoesOn)
{
    // The sigmas lie far out in the line: the line has seven fields.
    const std::string first = "P1 1 2 3" + std::string(300, ' ') + "0.5 0.5 0.5\n";
    const CPointSet a = ReadText(first + "P2 4 5 6\n", Kind::Plain);
    ASSERT_EQ(a.GetSize(), 2);
    EXPECT_EQ(a.GetAt(0)->covariance.GetAt(0, 0), 0.25);
    EXPECT_EQ(a.GetAt(1)->x, 4.0);

    // A number across character 249 is read whole.
    std::string edge = "P3 1 2";
    edge += std::string(249 - edge.size() - 3, ' ');
    edge += "456";
    ASSERT_EQ(edge.size(), 249u);
    EXPECT_EQ(ReadText(edge + "\r\n", Kind::Plain).GetAt(0)->z, 456.0);
    EXPECT_EQ(ReadText(" " + edge + "\n", Kind::Plain).GetAt(0)->z, 456.0);
    // A line of megabytes without a blank in its first word is a refused
    // label, and the read goes on.
    CPointSet big;
    std::istringstream in(std::string(1 << 20, 'x') + " 1 2 3\nP5 1 2 3\n");
    std::vector<int> refused;
    int fields = 0;
    ASSERT_TRUE(big.ReadXyzStream(in, &fields, &refused));
    ASSERT_EQ(big.GetSize(), 1);
    EXPECT_STREQ(big.GetAt(0)->label.GetText(), "P5");
    EXPECT_EQ(refused, std::vector<int>{1});
}

TEST(CoordinateReader, NulByteEndsTheLineText)
{
    std::string text = "P1 1 2 3";
    text += '\0';
    text += " 0.1 0.1 0.1\nP2 1 2 3\n";
    const CPointSet set = ReadText(text, Kind::Plain);
    ASSERT_EQ(set.GetSize(), 2);
    EXPECT_EQ(set.GetAt(0)->covariance.GetAt(0, 0), 0.0);
}

TEST(CoordinateReader, PointsEndInLabelOrderWithDuplicatesInFileOrder)
{
    const CPointSet set = ReadText("P10 1 0 0\nP2 2 0 0\nP1 3 0 0\nP2 4 0 0\n", Kind::Plain);
    ASSERT_EQ(set.GetSize(), 4);
    EXPECT_STREQ(set.GetAt(0)->label.GetText(), "P1");
    EXPECT_EQ(set.GetAt(1)->x, 2.0);
    EXPECT_EQ(set.GetAt(2)->x, 4.0);
    EXPECT_STREQ(set.GetAt(3)->label.GetText(), "P10");
}

TEST(CoordinateReader, FileThatCannotBeReadLeavesTheSetAsItWas)
{
    TempFolder dir;
    CPointSet set = ReadText("K1 1 1 1\nK2 2 2 2\n", Kind::Plain);
    int fields = 5;
    EXPECT_FALSE(set.ReadXyzFile(dir.File("missing.xyz").c_str(), &fields));
    EXPECT_EQ(set.GetSize(), 2);
    EXPECT_FALSE(set.Load(dir.File("").c_str()));  // a folder
    EXPECT_EQ(set.GetSize(), 2);

    // A readable file without points empties the set.
    WriteBytes(dir.File("empty.xyz"), "no points\r\n");
    EXPECT_FALSE(set.Load(dir.File("empty.xyz").c_str()));
    EXPECT_EQ(set.GetSize(), 0);

    WriteBytes(dir.File("two.xyz"), "B 1 2 3\r\nA 1 2 3\r\n");
    EXPECT_TRUE(set.ReadXyzFile(dir.File("two.xyz").c_str(), &fields));
    EXPECT_EQ(set.GetSize(), 2);
    EXPECT_EQ(fields, 4);
}

TEST(CoordinateReader, DevicesAndOversizedFilesAreNotRead)
{
    TempFolder dir;
    CPointSet set = ReadText("K1 1 1 1\n", Kind::Plain);
    int fields = 5;
    // A device that never ends would otherwise be read for ever.
    EXPECT_FALSE(set.ReadXyzFile("/dev/zero", &fields));
    EXPECT_EQ(set.GetSize(), 1);

    const std::string big = dir.File("big.xyz");
    WriteBytes(big, "A 1 2 3\n");
    std::filesystem::resize_file(big, (64u << 20) + 1); // sparse: no disk used
    EXPECT_FALSE(set.ReadXyzFile(big.c_str(), &fields));
    EXPECT_EQ(set.GetSize(), 1);
    EXPECT_STREQ(set.GetAt(0)->label.GetText(), "K1");

    std::filesystem::resize_file(big, 8);
    EXPECT_TRUE(set.ReadXyzFile(big.c_str(), &fields));
    ASSERT_EQ(set.GetSize(), 1);
    EXPECT_STREQ(set.GetAt(0)->label.GetText(), "A");
}

TEST(CoordinateReader, NumbersAreReadInTheCLocaleWhateverTheUserLocale)
{
    const char* old = std::setlocale(LC_ALL, nullptr);
    const std::string saved = old ? old : "C";
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr)
        GTEST_SKIP() << "no decimal-comma locale installed";
    const CPointSet set = ReadText("P1 1.5 2.25 3\n", Kind::Plain);
    TempFolder dir;
    CPointSet w = set;
    const bool written = w.WriteXyzFile(dir.File("de.xyz").c_str(), 6, 4, 7);
    const std::string bytes = ReadBytes(dir.File("de.xyz"));
    std::setlocale(LC_ALL, saved.c_str());
    ASSERT_EQ(set.GetSize(), 1);
    EXPECT_EQ(set.GetAt(0)->x, 1.5);
    EXPECT_EQ(set.GetAt(0)->y, 2.25);
    EXPECT_TRUE(written);
    EXPECT_NE(bytes.find("1.500000"), std::string::npos);
}

TEST(CoordinateWriter, ControlLayoutIsExact)
{
    TempFolder dir;
    CPointSet set = MakeSet(Kind::Control);
    CObjectPoint p("P1", 1.5, -2.0, 3.0);
    p.aprioriSigma[0] = 0.1;
    p.aprioriSigma[1] = 0.2;
    p.aprioriSigma[2] = 0.3;
    set.AddPointSorted(p);
    CObjectPoint hidden("P0", 9, 9, 9);
    hidden.inUse = false;
    set.AddPointSorted(hidden);
    ASSERT_TRUE(set.WriteXyzFile(dir.File("c.xyz").c_str(), 6, 4, 7));
    EXPECT_EQ(ReadBytes(dir.File("c.xyz")),
              "                  P1            1.500000           -2.000000            3.000000"
              "              0.1000              0.2000              0.3000\r\n");
}

TEST(CoordinateWriter, SigmaLayoutsWithAndWithoutNormal)
{
    TempFolder dir;
    CPointSet set;
    CObjectPoint t("T1", 0.0, 0.0, 100.25);
    t.SetSigmas(0.5, 0.25, 0.0);
    t.radius = 2.5;
    t.SetNormal(0.0, 0.6, 0.8);
    set.AddPointSorted(t);
    CObjectPoint u("U1", -1.0, 2.0, 3.0);
    u.SetSigmas(0.001, 0.002, 0.003);
    u.radius = 7.0;  // no normal: radius not written
    set.AddPointSorted(u);
    ASSERT_TRUE(set.WriteXyzFile(dir.File("s.xyz").c_str(), 12, 13, 7));
    EXPECT_EQ(ReadBytes(dir.File("s.xyz")),
              "                  T1      0.000000000000      0.000000000000    100.250000000000"
              "     0.5000000000000     0.2500000000000     0.0000000000000      2.500000000000"
              "           0.0000000           0.6000000           0.8000000\r\n"
              "                  U1     -1.000000000000      2.000000000000      3.000000000000"
              "     0.0010000000000     0.0020000000000     0.0030000000000\r\n");
}

TEST(CoordinateWriter, DiscrepancyLayout)
{
    TempFolder dir;
    CPointSet set = MakeSet(Kind::Discrepancy);
    CObjectPoint d("D-1", -1.0, 2.0, 3.0);
    d.discrepancy[0] = 0.001;
    d.discrepancy[1] = -0.002;
    d.discrepancy[2] = 0.003;
    d.SetNormal(1, 0, 0);  // not written in a discrepancy set
    set.AddPointSorted(d);
    ASSERT_TRUE(set.WriteXyzFile(dir.File("d.xyz").c_str(), 12, 13, 7));
    EXPECT_EQ(ReadBytes(dir.File("d.xyz")),
              "                 D-1     -1.000000000000      2.000000000000      3.000000000000"
              "     0.0010000000000    -0.0020000000000     0.0030000000000\r\n");
}

TEST(CoordinateWriter, WrittenFilesReadBack)
{
    TempFolder dir;
    // A set as large as the second is formatted on several std::thread
    // workers and must arrive in the same order.
    for (const int count : {12, 20000})
    for (Kind kind : {Kind::Plain, Kind::Control, Kind::Discrepancy}) {
        CPointSet set = MakeSet(kind);
        for (int i = 1; i <= count; ++i) {
            char label[16];
            std::snprintf(label, sizeof label, count > 12 ? "Q%05d" : "R%d", count > 12 ? i : i * 7 % 13);
            CObjectPoint p(label, i * 1.1, -i / 3.0, count > 12 ? i * 0.001 : i * i * 0.01);
            p.SetSigmas(0.01 * i, 0.02, 0.003);
            p.aprioriSigma[0] = 0.001 * i;
            p.discrepancy[2] = -0.0001 * i;
            if (i % 2 == 0) {
                p.SetNormal(i, 1, -2);
                p.radius = 0.5 * i;
            }
            set.AddCopy(p);
        }
        set.SortByLabel();
        set.name = dir.File("back.xyz").c_str();
        ASSERT_TRUE(set.Save(12, 13, 7));
        CPointSet back = MakeSet(kind);
        ASSERT_TRUE(back.Load(dir.File("back.xyz").c_str()));
        ASSERT_EQ(back.GetSize(), set.GetSize());
        for (int i = 0; i < set.GetSize(); ++i) {
            const CObjectPoint* a = set.GetAt(i);
            const CObjectPoint* b = back.GetAt(i);
            EXPECT_STREQ(a->label.GetText(), b->label.GetText());
            EXPECT_NEAR(a->x, b->x, 1e-12);
            EXPECT_NEAR(a->y, b->y, 1e-12);
            EXPECT_NEAR(a->z, b->z, 1e-12);
            if (kind == Kind::Control) {
                EXPECT_NEAR(a->aprioriSigma[0], b->aprioriSigma[0], 1e-13);
            } else if (kind == Kind::Discrepancy) {
                EXPECT_NEAR(a->discrepancy[2], b->discrepancy[2], 1e-13);
            } else {
                EXPECT_NEAR(std::sqrt(b->covariance.GetAt(0, 0)), std::sqrt(a->covariance.GetAt(0, 0)), 1e-13);
                EXPECT_EQ(a->HasNormal(), b->HasNormal());
                for (int k = 0; k < 3; ++k)
                    EXPECT_NEAR(a->normal[k], b->normal[k], 2e-7);
                EXPECT_NEAR(a->radius, b->radius, 1e-12);
            }
        }
    }
}

// Whether a text says what the writer would write for a set: every line
// taken whole, the same points, every value the same at the writer's decimals.
TEST(CoordinateFileMatch, TextsThatSayTheSetsPointsAndNoMore)
{
    TempFolder dir;
    const auto build = [](Kind kind) {
        CPointSet set = MakeSet(kind);
        CObjectPoint p("P1", 1.0, 2.0, 3.0);
        p.aprioriSigma[0] = p.discrepancy[0] = 0.5;
        p.aprioriSigma[1] = p.discrepancy[1] = 0.25;
        p.aprioriSigma[2] = p.discrepancy[2] = 0.125;
        p.SetSigmas(0.5, 0.25, 0.125);
        set.AddPointSorted(p);
        CObjectPoint q("P2", 4.0, 5.0, 6.0);
        if (kind == Kind::Plain) {
            q.radius = 5.0;
            q.SetNormal(0.0, 0.0, 1.0);
        }
        set.AddPointSorted(q);
        return set;
    };
    // "W" stands for the writer's own text of the set.
    struct Case {
        Kind kind;
        std::string text;
        bool matches;
    } const cases[] = {
        {Kind::Plain, "W", true},
        {Kind::Control, "W", true},
        {Kind::Discrepancy, "W", true},
        {Kind::Plain, "\r\nW  \r\n\r\n", true},                                          // blank lines
        {Kind::Plain, "P2 4 5 6 0 0 0 5 0 0 1\nP1 1 2 3 .5 .25 .125\n", true},         // other order, spacing
        {Kind::Control, "p1\t1 2 3 0.5 0.25 0.125\nP2 4 5 6\n", true},                  // default sigmas unwritten
        {Kind::Discrepancy, "P1 1 2 3 0.5 0.25 0.125\nP2 4 5 6\n", true},
        {Kind::Control, "P1 1 2 3.0000000000001 0.5 0.25 0.12500000000001\nP2 4 5 6\n", true}, // below the decimals
        {Kind::Control, "P1 1 2 3.000000000001 0.5 0.25 0.125\nP2 4 5 6\n", false},   // at the last decimal
        {Kind::Control, "P1 1 2 3 0.5 0.25 0.1250000000001\nP2 4 5 6\n", false},
        {Kind::Plain, "P1 1 2 3 .5 .25 .125\nP2 4 5 6 0 0 0\n", false},                 // the normal left out
        {Kind::Plain, "# surveyed\nW", false},                                          // a comment
        {Kind::Plain, "W" "P3 7 8 9\r\n", false},                                       // one point more
        {Kind::Plain, "W" "P2 4 5 6 0 0 0 5 0 0 1\r\n", false},                         // twice the same point
        {Kind::Control, "P1 1 2 3 0.5 0.25 0.125\n", false},                            // one point less
        {Kind::Control, "P1 1 2 3 0.5 0.25 0.125 checked\nP2 4 5 6\n", false},          // text after the numbers
        {Kind::Control, "P1 1 2 3 0.5 0.25 0.125\nP2 4 5 6 0.5\n", false},              // an ignored number
        {Kind::Control, "P1 1 2 3 0.5 0.25 0.125 0 0 0 1\nP2 4 5 6\n", false},          // a normal a control set drops
        {Kind::Control, "W" "LABEL_OF_17_CHARS 1 2 3\r\n", false},                      // a refused line
        {Kind::Control, std::string("W") + '\0' + " 1\r\n", false},                     // a NUL byte
        {Kind::Control, "", false},
    };
    for (const Case& c : cases) {
        const CPointSet set = build(c.kind);
        ASSERT_TRUE(set.WriteXyzFile(dir.File("w.xyz").c_str(), 12, 13, 7));
        std::string text = c.text;
        const std::size_t w = text.find('W');
        if (w != std::string::npos)
            text.replace(w, 1, ReadBytes(dir.File("w.xyz")));
        SCOPED_TRACE(text);
        EXPECT_EQ(set.MatchesXyzText(text.data(), text.size(), 12, 13, 7), c.matches);
    }
    // An empty set is said by a text of no points.
    const CPointSet empty;
    EXPECT_TRUE(empty.MatchesXyzText("\r\n ", 3, 12, 13, 7));
    EXPECT_FALSE(empty.MatchesXyzText("P1 1 2 3", 8, 12, 13, 7));
}

// Read, written and read again, no line turns into another point: a label too
// long for a point is refused, and a point without a label is not written.
TEST(CoordinateWriter, NoLineReadsBackAsAnotherPoint)
{
    TempFolder dir;
    const std::string path = dir.File("round.xyz");
    for (Kind kind : {Kind::Plain, Kind::Control, Kind::Discrepancy}) {
        WriteBytes(path, "ABCDEFGHIJKLMNOPQRS 1.0 2.0 3.0\r\nP1 4 5 6\r\n");
        CPointSet set = MakeSet(kind);
        ASSERT_TRUE(set.Load(path.c_str()));
        // A point that has lost its label (an older project may hold one).
        set.AddPointSorted(CObjectPoint("", 7, 8, 9));
        set.AddPointSorted(CObjectPoint("P2", 10, 11, 12));
        ASSERT_TRUE(set.WriteXyzFile(path.c_str(), 12, 13, 7));
        for (int pass = 0; pass < 2; ++pass) {
            CPointSet back = MakeSet(kind);
            ASSERT_TRUE(back.Load(path.c_str()));
            ASSERT_EQ(back.GetSize(), 2);
            EXPECT_STREQ(back.GetAt(0)->label.GetText(), "P1");
            EXPECT_EQ(back.GetAt(0)->x, 4.0);
            EXPECT_EQ(back.GetAt(0)->z, 6.0);
            EXPECT_STREQ(back.GetAt(1)->label.GetText(), "P2");
            EXPECT_EQ(back.GetAt(1)->x, 10.0);
            ASSERT_TRUE(back.WriteXyzFile(path.c_str(), 12, 13, 7));
        }
    }
    TakeCapturedMessages();
}

TEST(CoordinateWriter, FailuresAreReported)
{
    CPointSet set;
    set.AddPointSorted(CObjectPoint("A", 1, 2, 3));
    EXPECT_FALSE(set.Save(12, 13, 7));  // no name
    TempFolder dir;
    EXPECT_FALSE(set.WriteXyzFile(dir.File("no/such/folder/a.xyz").c_str(), 12, 13, 7));
    if (fs::exists("/dev/full")) {
        EXPECT_FALSE(set.WriteXyzFile("/dev/full", 12, 13, 7));
    }
    // Without replace an existing file stays as it was.
    const std::string taken = dir.File("taken.xyz");
    WriteBytes(taken, "other bytes");
    std::string error;
    EXPECT_FALSE(set.WriteXyzFile(taken.c_str(), 12, 13, 7, &error, false));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(ReadBytes(taken), "other bytes");
    EXPECT_TRUE(set.WriteXyzFile(dir.File("free.xyz").c_str(), 12, 13, 7, &error, false));
    // The refused write left no file of its own behind.
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.Path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"free.xyz", "taken.xyz"}));
}

TEST(CoordinateLineScan, NumbersAsTheCFormatterReadsThem)
{
    CXyzFields f;
    EXPECT_EQ(ScanXyzLine(" \t\r", f), -1);
    EXPECT_EQ(ScanXyzLine("A 1e3 -2.5 +7 .5", f), 5);
    EXPECT_EQ(f.d[0], 1000.0);
    EXPECT_EQ(f.d[2], 7.0);
    EXPECT_EQ(f.d[3], 0.5);
    EXPECT_EQ(ScanXyzLine("A 1,5 2", f), 2);  // a comma ends the number
}
