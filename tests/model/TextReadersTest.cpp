// The text readers that take numbers (coordinate, EO device, fiducial, image
// coordinate and station files) on long lines, and the station import on
// text that holds no stations.
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "EODevice.h"
#include "ImageObservation.h"
#include "Message.h"
#include "PointSet.h"
#include "ProfileDatabases.h"
#include "ProjectDocument.h"
#include "ProjectImage.h"
#include "StationFile.h"
#include "TestFiles.h"
#include "TextLines.h"

namespace text_readers_test {

using kestrelon::test::ReadFileBytes;
using kestrelon::test::TempFolder;

// A line of the label and the numbers in which the number at index `cut`
// begins two characters before the reader's old line limit: the numbers
// before it are padded with zeros ("1.000...0", as in a file of many
// decimals), so a reader that kept only `limit` characters would cut that
// number short. `tail` follows the numbers.
std::string PaddedLine(const std::string& label, const std::vector<double>& numbers, std::size_t cut,
                       std::size_t limit, const std::string& tail = "")
{
    std::vector<std::string> texts;
    for (double v : numbers) {
        char text[64];
        std::snprintf(text, sizeof text, "%.2f", v);
        texts.push_back(text);
    }
    std::size_t before = label.size();
    for (std::size_t i = 0; i < cut; ++i)
        before += 1 + texts[i].size();
    const std::size_t start = limit - 2;
    EXPECT_GT(start, before + 1);
    std::size_t missing = start - 1 - before;
    for (std::size_t i = 0; i < cut && missing > 0; ++i) {
        const std::size_t share = i + 1 == cut ? missing : missing / cut;
        texts[i].append(share, '0');
        missing -= share;
    }
    std::string line = label;
    for (const std::string& t : texts)
        line += " " + t;
    return line + tail;
}

struct LongLineReader {
    const char* name;
    std::size_t limit;            // the longest line the reader used to take
    std::vector<double> numbers;  // written on the long line
    std::size_t cut;              // the number that the old limit cut
    std::string tail;             // after the numbers
    std::string next;             // a short line after it
    // Reads the file; the numbers of the long line's record and how many records were made.
    std::function<std::vector<double>(const std::string& path, int& records)> read;
};

std::vector<double> PointNumbers(const CPointSet& set, int& records)
{
    records = set.GetSize();
    const CObjectPoint* p = set.GetSize() > 0 ? set.GetAt(0) : nullptr;
    if (!p || std::string(p->label.GetText()) != "P1")
        return {};
    return {p->x, p->y, p->z};
}

// Each reader gets a line a few characters longer than it used to read, with
// the cut inside a number, and a short line after it: both records arrive
// with every number whole.
TEST(LongLines, EveryReaderTakesTheWholeLine)
{
    const LongLineReader readers[] = {
        {"coordinate file", 249, {1.0, 2.0, 1234.5}, 2, "", "P2 4 5 6",
         [](const std::string& path, int& records) {
             CPointSet set;
             int fields = 0;
             set.ReadXyzFile(path.c_str(), &fields);
             return PointNumbers(set, records);
         }},
        {"coordinate file with sigmas", 249, {1.0, 2.0, 3.0, 0.25, 0.5, 1234.5}, 5, "", "P2 4 5 6",
         [](const std::string& path, int& records) {
             CPointSet set;
             set.isControl = true;
             int fields = 0;
             set.ReadXyzFile(path.c_str(), &fields);
             std::vector<double> v = PointNumbers(set, records);
             if (!v.empty())
                 v.insert(v.end(), set.GetAt(0)->aprioriSigma, set.GetAt(0)->aprioriSigma + 3);
             return v;
         }},
        {"EO device file", 249, {-7.0, 2.0, 1234.5}, 2, "", "P2 4 5 6",
         [](const std::string& path, int& records) {
             TempFolder profile("kestrelon-profile");
             CProfileDatabases databases;
             databases.SetProfilePath(profile.File("Kestrelon.ini"));
             records = 0;
             if (!databases.ImportEODevice(path.c_str()) || databases.eoDeviceDatabase.GetSize() != 1)
                 return std::vector<double>{};
             return PointNumbers(*databases.eoDeviceDatabase.GetAt(0), records);
         }},
        {"fiducial file", 149, {-3.0, 1234.5}, 1, "", "F2 4 5",
         [](const std::string& path, int& records) {
             CObservationList marks;
             marks.ReadXyFile(CFilePath(path.c_str()));
             records = marks.GetSize();
             const CImageObservation* o = marks.FindByText("P1");
             return o ? std::vector<double>{o->x, o->y} : std::vector<double>{};
         }},
        {"image coordinate file", 179, {1.0, -2.0, 0.5, 1234.5}, 3, "", "Q2 4 5",
         [](const std::string& path, int& records) {
             CProjectImage image;
             image.ReadIcfFile(CFilePath(path.c_str()), 0.0005);
             records = image.targets.GetSize();
             const CImageObservation* o = image.targets.FindByText("P1");
             return o ? std::vector<double>{o->x, o->y, o->sigmaX, o->sigmaY} : std::vector<double>{};
         }},
        {"station file", 299, {1.0, 2.0, 1234.5, 0.0, 0.0, 0.0}, 2, " 1 \"/photos/a b.tif\"", "S2 4 5 6",
         [](const std::string& path, int& records) {
             CProjectDocument doc;
             ImportStationText(ReadFileBytes(path), STATION_FORMAT_STANDARD, false, doc, "Cam", nullptr);
             records = doc.images.GetSize();
             const CProjectImage* image = doc.images.GetSize() > 0 ? doc.images.GetAt(0) : nullptr;
             if (!image || std::string(image->name.GetText()) != "P1" ||
                 std::string(image->GetFilePath().GetText()) != "/photos/a b.tif")
                 return std::vector<double>{};
             return std::vector<double>{image->X, image->Y, image->Z, 0.0, 0.0, 0.0};
         }},
    };
    TempFolder dir;
    TakeCapturedMessages();
    for (const LongLineReader& reader : readers) {
        SCOPED_TRACE(reader.name);
        const std::string line = PaddedLine("P1", reader.numbers, reader.cut, reader.limit, reader.tail);
        ASSERT_EQ(line.substr(reader.limit - 2, 6), "1234.5");
        for (const char* end : {"\r\n", "\n"}) {
            const std::string path = dir.Write("long.txt", line + end + reader.next + end);
            int records = -1;
            EXPECT_EQ(reader.read(path, records), reader.numbers);
            EXPECT_EQ(records, 2);
        }
    }
    EXPECT_TRUE(TakeCapturedMessages().empty());
}

// A label too long for any line limit is refused with its line named, not
// cut into a label and a lone number.
TEST(LongLines, LongLabelsAreRefusedWithTheirLines)
{
    TempFolder dir;
    for (std::size_t length : {17u, 246u, 250u, 4000u}) {
        SCOPED_TRACE(length);
        const std::string path =
            dir.Write("labels.xyz", "P1 1 2 3\n" + std::string(length, 'L') + " 1.5 2.5 3.5\nP2 4 5 6\n");
        TakeCapturedMessages();
        CPointSet set;
        ASSERT_TRUE(set.Load(path.c_str()));
        EXPECT_EQ(set.GetSize(), 2);
        const std::vector<CapturedMessage> messages = TakeCapturedMessages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].text, "Line 2 of " + path +
                                        " has no valid point label (at most 16 letters, digits, _ or -) and was "
                                        "not read.");
    }
}

TEST(TextLines, LinesArriveWholeWithTheirNumbers)
{
    const std::string text = "a\r\n\n" + std::string(5000, 'b') + "\rc\r\nlast\r";
    std::vector<std::string> lines;
    EXPECT_EQ(ForEachTextLine(text.data(), text.size(), [&](const char* line, std::size_t length) {
                  lines.emplace_back(line, length);
                  return true;
              }),
              4);
    EXPECT_EQ(lines, (std::vector<std::string>{"a", "", std::string(5000, 'b') + "\rc", "last"}));
    EXPECT_EQ(FormatLineNumbers({7}), "Line 7");
    EXPECT_EQ(FormatLineNumbers({1, 3}), "Lines 1 and 3");
    EXPECT_EQ(FormatLineNumbers({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}), "Lines 1, 2, 3, 4, 5, 6, 7, 8, 9, 10 and 1 more");
}

// What a station import makes of a text: the images (by name and position),
// the lines it skips and the one message it gives.
TEST(StationImportText, LinesWithoutAStationAreSkippedAndNamed)
{
    const std::string path = "/data/in.eof";
    const std::string noStations = path + " holds no station data: no line gives an image name followed by X, Y and Z. "
                                          "Nothing was imported.";
    std::string many;
    for (int i = 0; i < 12; ++i)
        many += "word\n";
    const struct {
        const char* name;
        std::string text;
        int format;
        std::vector<std::string> images; // "name X Y Z"
        std::vector<int> skipped;
        std::string message;
    } cases[] = {
        {"plain text", "hello world\nxx\n", STATION_FORMAT_STANDARD, {}, {1, 2}, noStations},
        {"plain text, aim point layout", "hello world\r\nxx", STATION_FORMAT_AIM_POINT, {}, {1, 2}, noStations},
        {"comments only", "// a\r\n//\r\n\r\n", STATION_FORMAT_STANDARD, {}, {}, noStations},
        {"empty", "", STATION_FORMAT_STANDARD, {}, {}, noStations},
        {"names and too few numbers", "A 1 2\nB 1\n  \n", STATION_FORMAT_STANDARD, {}, {1, 2}, noStations},
        {"mixed",
         "// Kestrelon Station Files\nS1 1 2 3 10 20 30 1 \"/p/a.tif\"\nhello world\n\nS2 4 5 6\nT 1 x 3\nS3 7 8 9\n",
         STATION_FORMAT_STANDARD,
         {"S1 1 2 3", "S2 4 5 6", "S3 7 8 9"},
         {3, 6},
         "Lines 3 and 6 of " + path +
             " hold no station (an image name followed by X, Y and Z) and were not imported."},
        {"mixed, aim point layout", "A1 0 0 0 10 0 0 5 1 a.tif\nA2 1\nA3 5 5 5\n", STATION_FORMAT_AIM_POINT,
         {"A1 0 0 0", "A3 5 5 5"},
         {2},
         "Line 2 of " + path + " holds no station (an image name followed by X, Y and Z) and was not imported."},
        {"many skipped", "S1 1 2 3\n" + many, STATION_FORMAT_STANDARD,
         {"S1 1 2 3"},
         {2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13},
         "Lines 2, 3, 4, 5, 6, 7, 8, 9, 10, 11 and 2 more of " + path +
             " hold no station (an image name followed by X, Y and Z) and were not imported."},
        {"good", "// h\nS1 1 2 3 10 20 30 1 \"/p/a.tif\"\nS2 4 5 6 0 0 0 0 b.tif\n", STATION_FORMAT_STANDARD,
         {"S1 1 2 3", "S2 4 5 6"},
         {},
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CProjectDocument doc;
        int added = 0;
        TakeCapturedMessages();
        const CStationImportResult result =
            ImportStationText(c.text, c.format, false, doc, "Cam", [&](CProjectImage*) { ++added; });
        std::vector<std::string> images;
        for (int i = 0; i < doc.images.GetSize(); ++i) {
            const CProjectImage* im = doc.images.GetAt(i);
            char row[200];
            std::snprintf(row, sizeof row, "%s %g %g %g", im->name.GetText(), im->X, im->Y, im->Z);
            images.push_back(row);
            EXPECT_STREQ(im->cameraName.GetText(), "Cam");
        }
        EXPECT_EQ(images, c.images);
        EXPECT_EQ(result.imported, static_cast<int>(c.images.size()));
        EXPECT_EQ(added, result.imported);
        EXPECT_EQ(result.skipped, c.skipped);
        EXPECT_EQ(doc.IsModified(), !c.images.empty());
        EXPECT_TRUE(TakeCapturedMessages().empty());

        ReportStationImport(path.c_str(), result);
        const std::vector<CapturedMessage> messages = TakeCapturedMessages();
        if (c.message.empty()) {
            EXPECT_TRUE(messages.empty());
        } else {
            ASSERT_EQ(messages.size(), 1u);
            EXPECT_EQ(messages[0].text, c.message);
        }
    }
}

} // namespace text_readers_test
