// Sightings texts and their continuation lines, the residual table's groups
// of five points, and the station block on a stream.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "BundleReport.h"
#include "ReportProject.h"
#include "TextFile.h"

using namespace reporttest;

namespace {

// Lines from the first that starts with `from` up to the next empty line.
std::vector<std::string> Section(const std::vector<std::string>& lines, const std::string& from)
{
    std::vector<std::string> out;
    bool in = false;
    for (const std::string& l : lines) {
        if (!in && l.compare(0, from.size(), from) == 0)
            in = true;
        if (in) {
            if (l.empty())
                break;
            out.push_back(l);
        }
    }
    return out;
}

// A project of n images; point P1 is observed in every image, rejected in
// the second; the third image is disabled.
struct ManyImages : ReportProject {
    ManyImages(const std::string& folder, int n) : ReportProject(folder, POST_BUNDLE)
    {
        imageList.DeleteAll();
        for (int j = 0; j < n; ++j) {
            CProjectImage* image = imageList.AddNew();
            image->name = ("S" + std::to_string(j + 1)).c_str();
            image->SetCameraName("CAM1");
            image->SetPose(10.0 * j, 0.0, 100.0, 0.0, 0.0, 0.0);
            image->enabled = j != 2;
            image->oriented = true;
            AddObs(image, "P1", 0.1, 0.1, 0.0, 0.0, j == 1);
            if (j % 2 == 0)
                AddObs(image, "P3", 0.2, 0.2, 0.0, 0.0);
        }
        images.RemoveAll();
        imageList.GetPointerArray(images);
    }
};

std::string BundleText(ReportProject& p, const TempFolder& folder)
{
    CBundleReports reports(&p.images, &p.points, &p.control, &p.cameras, &p.scaleBars, &p.settings, &p.summary,
                           nullptr);
    EXPECT_TRUE(reports.WriteBundleReport());
    std::string text;
    ReadFile(folder.File("Bundle.txt"), text);
    return text;
}

} // namespace

TEST(ReportTables, SightingsListEveryImageAndContinueInPiecesOfThirty)
{
    struct Case {
        int images;
        std::vector<std::string> p1Pieces; // first piece on the row, then the continuations
    };
    const std::string head = "Y* YYYYYYYYYYYYYYYYYYYYYYYYYYY"; // 30 characters
    const std::vector<Case> cases = {
        {30, {head}},
        {31, {head, "Y"}},
        {59, {head, std::string(29, 'Y')}},
        {60, {head, std::string(30, 'Y')}}, // no further empty piece
        {61, {head, std::string(30, 'Y'), "Y"}},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        ManyImages p(folder.Path(), c.images);
        const std::vector<std::string> lines = Lines(BundleText(p, folder));

        // The standard errors table (limiting form: continuations after 52
        // blanks) and the coordinates table (after 68 blanks).
        for (const auto& table : {std::make_pair(std::string("           Label    sX"), 52),
                                  std::make_pair(std::string("           Label       X"), 68)}) {
            const std::vector<std::string> rows = Section(lines, table.first);
            ASSERT_GE(rows.size(), 2u) << c.images;
            std::vector<std::string> p1;
            size_t r = 1;
            for (; r < rows.size() && rows[r].find("              P1") != 0; ++r) {
            }
            ASSERT_LT(r, rows.size());
            const std::string& row = rows[r];
            p1.push_back(row.substr(row.size() - std::min<size_t>(30, static_cast<size_t>(c.images))));
            for (++r; r < rows.size() && rows[r].compare(0, static_cast<size_t>(table.second),
                                                         std::string(static_cast<size_t>(table.second), ' ')) == 0;
                 ++r)
                p1.push_back(rows[r].substr(static_cast<size_t>(table.second)));
            EXPECT_EQ(p1, c.p1Pieces) << c.images << " images, indent " << table.second;
        }
        // P3 is seen in every second image; the disabled third image is blank.
        std::string p3 = p.points.GetAt(2)->sightings.GetText();
        ASSERT_EQ(p3.size(), static_cast<size_t>(c.images));
        EXPECT_EQ(p3.substr(0, 4), "YN N");
    }
}

TEST(ReportTables, OnlyTheFirstObservationOfALabelCounts)
{
    TempFolder folder;
    ReportProject p(folder.Path(), CONTROL);
    CProjectImage* i2 = p.imageList.GetAt(1);
    // A second, rejected P1 after the first one in the label order.
    AddObs(i2, "P1", 0.7, 0.7, 0.0, 0.0, true);
    i2->targets.SortByLabel();
    ASSERT_TRUE(BuildSightings(p.points, p.images));
    EXPECT_STREQ(p.points.GetAt(0)->sightings.GetText(), "YY ");
    i2->targets.GetAt(0)->rejected = true;
    i2->targets.GetAt(1)->rejected = false;
    ASSERT_TRUE(BuildSightings(p.points, p.images));
    EXPECT_STREQ(p.points.GetAt(0)->sightings.GetText(), "Y* ");
}

TEST(ReportTables, ResidualTableGroupsFivePointPositions)
{
    TempFolder folder;
    ReportProject p(folder.Path(), POST_BUNDLE);
    // Points P1 .. P4 of the project, then P5 .. P12: P6 .. P10 out of use.
    for (int k = 5; k <= 12; ++k) {
        p.AddPoint(("P" + std::to_string(k)).c_str(), 0, 0, 0, k < 6 || k > 10, false, 2, 0.0, {-1, -1, -1});
    }
    CBundleReports reports(&p.images, &p.points, &p.control, &p.cameras, &p.scaleBars, &p.settings, &p.summary,
                           nullptr);
    ASSERT_TRUE(reports.WriteResidualsReport());
    std::string text;
    ASSERT_TRUE(ReadFile(folder.File("Residuals.txt"), text));
    const std::vector<std::string> lines = Lines(text);
    std::vector<std::string> headings, rowsOfImage3;
    for (const std::string& l : lines) {
        if (l.compare(0, 7, " Sta  |") == 0)
            headings.push_back(l);
        if (l.compare(0, 7, "   3  |") == 0)
            rowsOfImage3.push_back(l);
    }
    // Positions 0-4 hold P1, P2, P3, P5 in use (P4 is not); 5-9 only
    // points out of use; 10-11 hold P11 and P12.
    EXPECT_EQ(headings, (std::vector<std::string>{
                            " Sta  |Pt P1              |Pt P2              |Pt P3              |Pt P5              |",
                            " Sta  |", " Sta  |Pt P11             |Pt P12             |"}));
    ASSERT_EQ(rowsOfImage3.size(), 3u);
    EXPECT_EQ(rowsOfImage3[0], "   3  | 50.000*50.000* |      0.0N    0.0N |      0.0N    0.0N |      0.0N    0.0N |");
    // The group without columns: its headings and a row per image holding
    // only the station number, then the empty line.
    EXPECT_NE(text.find("\r\n\r\n Sta  |\r\n  #   |\r\n   1  |\r\n   2  |\r\n   3  |\r\n\r\n\r\n Sta  |Pt P11"),
              std::string::npos);

    // A point table shorter than the image list, or an index the image does
    // not hold, reads as "not observed".
    p.points.GetAt(0)->observationIndex.SetSize(1);
    p.points.GetAt(1)->observationIndex[1] = 99;
    ASSERT_TRUE(reports.WriteResidualsReport());
    ASSERT_TRUE(ReadFile(folder.File("Residuals.txt"), text));
    EXPECT_NE(text.find("   2  |      0.0N    0.0N |      0.0N    0.0N |  0.000-2.000  |"), std::string::npos);
}

TEST(ReportTables, StationBlockOnAStream)
{
    TempFolder folder;
    ReportProject p(folder.Path(), CONTROL);
    std::ostringstream os;
    WriteBundleStationBlock(os, *p.imageList.GetAt(1)) << "end";
    EXPECT_EQ(os.str(),
              "    X      -150.0000     -0.0000   -150.0000    1.0000E+003    1.0000E-002\n"
              "    Y        80.0000     -0.0000     80.0000    1.0000E+003    1.0000E-002\n"
              "    Z        60.0000     -0.0000     60.0000    1.0000E+003    5.0000E-003\n"
              "   AZ     -45.000000   -0.000000  -45.000000  1.000000E+003  2.864789E-002\n"
              "   EL       5.000000   -0.000000    5.000000  1.000000E+003  2.864789E-002\n"
              " ROLL      -2.000000   -0.000000   -2.000000  1.000000E+003  2.864789E-002\n"
              "end");
}
