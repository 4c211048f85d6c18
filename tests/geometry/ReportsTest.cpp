#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <memory>
#include <cmath>
#include <csignal>
#include <functional>
#include <string>
#include <vector>

#include <sys/resource.h>

#include <gtest/gtest.h>

#include "Camera.h"
#include "DxfWriter.h"
#include "FileIO.h"
#include "GeometryReports.h"
#include "Message.h"
#include "ObjectPoint.h"
#include "PointSet.h"
#include "ProjectDocument.h"
#include "ProjectImage.h"
#include "ReportText.h"
#include "Similarity3D.h"

namespace {

const double kRad = std::atan(1.0) / 45.0;

CObjectPoint Point(const char* label, double x, double y, double z)
{
    return CObjectPoint(label, x, y, z);
}

// The sets and a transformation state filled by hand: pair "2" rejected, or
// held scale without rejection.
struct TransformationState {
    CPointSet control, part, result;
    std::unique_ptr<C3DTransformation> t;

    explicit TransformationState(bool heldScale)
    {
        control.SetName("control.xyz");
        part.SetName("part.xyz");
        result.SetName("Trans.xyz");
        for (const char* label : {"1", "2", "3", "4"}) {
            const double v = std::atof(label);
            control.AddCopy(Point(label, 10.0 * v, -5.0 * v, 2.0));
            part.AddCopy(Point(label, v, v, v));
            result.AddCopy(Point(label, 10.0 * v + 0.001 * v, -5.0 * v - 0.002, 2.0 + 0.0005 * v));
        }
        part.AddCopy(Point("NEW7", 7.0, 7.0, 7.0));
        result.AddCopy(Point("NEW7", 70.0, -35.0, 2.0));
        t.reset(new C3DTransformation(&part, &control, &result));
        t->iterations = heldScale ? 4 : 6;
        t->rms = 0.01234;
        t->sigma0 = heldScale ? 0.02 : 0.015949;
        t->cutoff = heldScale ? 100.0 : 0.5;
        t->fixedScale = heldScale ? 1 : 0;
        t->X0 = 1.5;
        t->Y0 = -2.25;
        t->Z0 = 10.0;
        t->scale = heldScale ? 1.0 : 0.5;
        BuildRotation(30.0 * kRad, -20.0 * kRad, 170.0 * kRad, t->R);
        const double sigma[7] = {0.001, 0.002, 0.003, 0.0001, 0.01 * kRad, 0.02 * kRad, 0.03 * kRad};
        for (int i = 0; i < 7; ++i)
            t->sigma[i] = sigma[i];
        for (int i = 0; i < 4; ++i) {
            CTransformPointPair* p = t->GetPair(i);
            p->VX = 0.001 * (i + 1);
            p->VY = -0.002 * (i + 1);
            p->VZ = 0.0005;
            p->DX = 0.001 * (i + 1);
            p->DY = -0.002;
            p->DZ = 0.0005 * (i + 1);
        }
        if (!heldScale) {
            t->GetPair(1)->rejected = 1;
            t->GetPair(1)->VX = 0.75;
        }
        const double residual[4] = {0.00258, 0.00516, 0.0005, 0.00335};
        const double without[4] = {0.00265, 0.002, 0.00144, 0.00209};
        for (int i = 0; i < 4; ++i) {
            t->residualRms[i] = residual[i];
            t->discrepancyRms[i] = without[i];
            t->discrepancyRmsAll[i] = heldScale ? without[i] : without[i] + 0.0001;
        }
    }
};

// Four images: resected with observations (one rejected), failed,
// disabled, and resected without observations; a fifth enabled but not
// resected only in the station list.
struct Project {
    CProjectDocument doc;
    CPointSet points;

    explicit Project(const std::string& folder)
    {
        doc.SetPathName((folder + "/Tiny.kst").c_str());
        struct Image {
            const char* path;
            bool enabled, oriented;
            double pose[6];
            int observations;
        };
        const Image images[] = {
            {"C:\\photos\\left.tif", true, true, {100.0, -250.5, 1200.25, 30.0, -10.0, 90.0}, 3},
            {"C:\\photos\\failed.tif", true, false, {0, 0, 0, 0, 0, 0}, 2},
            {"C:\\photos\\off.tif", false, true, {5.0, 6.0, 7.0, 0.0, 45.0, 0.0}, 1},
            {"C:\\photos\\empty.tif", true, true, {-10.0, 20.0, 300.0, -120.0, 5.0, -1.5}, 0},
        };
        for (const Image& m : images) {
            CProjectImage* image = doc.AddNewImage(m.path);
            image->filePath = m.path;
            image->name = image->GetFileName();
            image->enabled = m.enabled;
            image->SetPose(m.pose[0], m.pose[1], m.pose[2], m.pose[3] * kRad, m.pose[4] * kRad, m.pose[5] * kRad);
            image->oriented = m.oriented;
            const double variances[6] = {1e-4, 4e-6, 2.5e-3, 1e-8 * kRad * kRad * 1e8, kRad * kRad, 0.0};
            if (image->covariance.GetRows() == 6)
                for (int i = 0; i < 6; ++i)
                    image->covariance.SetAt(variances[i], i, i);
            for (int i = 0; i < m.observations; ++i) {
                char label[16];
                std::snprintf(label, sizeof label, "P%d", i + 1);
                CImageObservation o(CNameBuffer(label), 1.0 * i, -2.0 * i);
                o.vx = 0.0012 * (i + 1);
                o.vy = -0.0007 * (i + 1);
                o.rejected = i == 1;
                image->targets.AddSorted(o);
            }
        }
        points.SetName("Triangulate");
        struct P {
            const char* label;
            double x, y, z;
            double var[3];
            double rms;
            int rays;
            bool inUse;
            const char* sightings;
        };
        const P table[] = {{"P1", 12.5, -3.25, 100.0, {1e-4, 4e-4, 9e-4}, 0.5, 3, true, "Y N"},
                           {"P2", -1000.125, 0.0, 5.5, {2.5e-5, 1e-6, 0.0}, 0.125, 2, true, "YNY"},
                           {"P3", 1.0, 2.0, 3.0, {1e-4, 1e-4, 1e-4}, 0.0, 1, false, "NNN"}};
        for (const P& p : table) {
            CObjectPoint* q = points.AddCopy(Point(p.label, p.x, p.y, p.z));
            q->covariance.Resize(3, 3);
            for (int a = 0; a < 3; ++a)
                q->covariance.SetAt(p.var[a], a, a);
            q->rms = p.rms;
            q->rayCount = p.rays;
            q->inUse = p.inUse;
            q->sightings = p.sightings;
        }
        // Statistics as the document left them; Z has no point with enough rays.
        CAdjustmentSummary& s = doc.summary;
        const double rms[3] = {0.0079, 0.0144, 0.0212};
        for (int a = 0; a < 3; ++a)
            s.rmsTotal[a] = rms[a];
        s.extremes[CAdjustmentSummary::kSmallestTotal][0] = 0.005;
        s.extremes[CAdjustmentSummary::kSmallestTotal][1] = 0.001;
        s.extremes[CAdjustmentSummary::kSmallestTotal][2] = 100.0;
        s.extremes[CAdjustmentSummary::kLargestTotal][0] = 0.01;
        s.extremes[CAdjustmentSummary::kLargestTotal][1] = 0.02;
        s.extremes[CAdjustmentSummary::kLargestTotal][2] = 7.0;
        s.extremeLabels[CAdjustmentSummary::kSmallestTotal][0] = "P2";
        s.extremeLabels[CAdjustmentSummary::kSmallestTotal][1] = "P2";
        s.extremeLabels[CAdjustmentSummary::kLargestTotal][0] = "P1";
        s.extremeLabels[CAdjustmentSummary::kLargestTotal][1] = "P1";
    }
};

CCamera MakeCamera(const char* name, double c, double k1, double k2, double k3)
{
    CCamera camera;
    camera.identifier = name;
    camera.parameters[CAM_C] = c;
    camera.parameters[CAM_K1] = k1;
    camera.parameters[CAM_K2] = k2;
    camera.parameters[CAM_K3] = k3;
    return camera;
}

struct ReportCase {
    const char* expected;                                      // file under data/geometry
    const char* written;                                       // file in the folder
    std::function<bool(const std::string& folder)> write;
    std::string datePrefix;
    int dateEnd;
};

std::vector<ReportCase> Cases()
{
    return {
        {"TransRejected.txt", "Trans.txt",
         [](const std::string& folder) {
             TransformationState s(false);
             return WriteTransformationReport(CFilePath((folder + "/Tiny.kst").c_str()), s.control, s.part,
                                              s.result, *s.t);
         },
         "", 50},
        {"TransHeldScale.txt", "Trans.txt",
         [](const std::string& folder) {
             TransformationState s(true);
             return WriteTransformationReport(CFilePath((folder + "/Tiny.kst").c_str()), s.control, s.part,
                                              s.result, *s.t);
         },
         "", 50},
        {"Resection.txt", "Resection.txt",
         [](const std::string& folder) {
             Project p(folder);
             return WriteResectionReport(p.doc);
         },
         "", 47},
        {"Triangulate.txt", "Triangulate.txt",
         [](const std::string& folder) {
             Project p(folder);
             return WriteTriangulationReport(p.doc, "Tiny", p.points);
         },
         "", 54},
        {"Balance.txt", "balance.txt",
         [](const std::string& folder) {
             const CCamera camera = MakeCamera("Wide 24", 24.5, -2.5e-4, 3.0e-7, -1.0e-10);
             CDistortionReport report;
             return report.Write(CFilePath((folder + "/balance.txt").c_str()), "Tiny", &camera, 10.0, 12.5, 2.5);
         },
         "Date: ", 0},
        {"BalanceFlat.txt", "balance.txt",
         [](const std::string& folder) {
             const CCamera camera = MakeCamera("Pinhole", 50.0, 0.0, 0.0, 0.0);
             CDistortionReport report;
             return report.Write(CFilePath((folder + "/balance.txt").c_str()), "Tiny", &camera, 7.0, 0.0, 1.0);
         },
         "Date: ", 0},
    };
}

std::string Written(const ReportCase& c, const TestFolder& folder)
{
    std::string text;
    EXPECT_TRUE(c.write(folder.Path()));
    EXPECT_TRUE(ReadWholeFile(folder.File(c.written), text));
    return MaskDateLines(text, c.datePrefix, c.dateEnd);
}

} // namespace

TEST(GeometryReports, LayoutsMatchTheHandWrittenFilesUnderAnyLocale)
{
    for (const ReportCase& c : Cases()) {
        SCOPED_TRACE(c.expected);
        std::string expected;
        ASSERT_TRUE(ReadWholeFile(std::string(KESTRELON_TEST_DATA) + "/geometry/" + c.expected, expected));
        TestFolder folder;
        const std::string inC = Written(c, folder);
        EXPECT_EQ(expected, inC);
        const char* comma = std::setlocale(LC_ALL, "de_DE.utf8");
        const std::string inComma = Written(c, folder);
        std::setlocale(LC_ALL, "C");
        if (comma != nullptr) {
            EXPECT_EQ(inC, inComma);
        }
    }
    EXPECT_TRUE(TakeCapturedMessages().empty());
}

TEST(GeometryReports, AFailedWriteShowsItsMessageAndKeepsTheLastGoodFile)
{
    const char* messages[] = {"Can't Open Transformation Output File", "Can't Open Transformation Output File",
                              "Can't Open Resection Output File", "Can't Open Triangulation Output File",
                              "Can't Open Lens Distortion Output File", "Can't Open Lens Distortion Output File"};
    const std::vector<ReportCase> cases = Cases();
    for (size_t i = 0; i < cases.size(); ++i) {
        const ReportCase& c = cases[i];
        SCOPED_TRACE(c.expected);
        TakeCapturedMessages();
        // The folder is a regular file.
        TestFolder parent;
        ASSERT_TRUE(kestrelon::test::WriteFileBytes(parent.File("file"), "x"));
        EXPECT_FALSE(c.write(parent.File("file")));
        auto shown = TakeCapturedMessages();
        ASSERT_EQ(1u, shown.size());
        EXPECT_EQ(messages[i], shown[0].text);

        // Cut by a write limit: the old file stays.
        TestFolder folder;
        ASSERT_TRUE(kestrelon::test::WriteFileBytes(folder.File(c.written), "last good\r\n"));
        rlimit saved{};
        ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &saved));
        void (*previous)(int) = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = saved;
        small.rlim_cur = 200;
        ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
        const bool written = c.write(folder.Path());
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);
        EXPECT_FALSE(written);
        std::string after;
        ASSERT_TRUE(ReadWholeFile(folder.File(c.written), after));
        EXPECT_EQ("last good\r\n", after);
        shown = TakeCapturedMessages();
        ASSERT_EQ(1u, shown.size());
        EXPECT_EQ(messages[i], shown[0].text);
    }
}

TEST(GeometryReports, ResultPathsAndDistortionDefaults)
{
    EXPECT_STREQ("/data/p/Trans.txt",
                 GetResultFilePath(CFilePath("/data/p/Tiny.kst"), kTransformationReportName).GetText());
    EXPECT_STREQ("", GetResultFilePath(CFilePath("Tiny.kst"), kResectionReportName).GetText());

    struct Radii {
        int xPixels, yPixels;
        double pixel;
        bool offered;
        double rb, step;
    };
    // d = sqrt(W H); rb = 0.7 d and step = 0.05 d, to one decimal.
    const Radii table[] = {{3000, 2000, 0.008, true, 13.7, 1.0}, {1000, 1000, 0.01, true, 7.0, 0.5},
                           {-100, 100, 0.01, false, 0.0, 0.0}};
    for (const Radii& r : table) {
        CCamera camera;
        camera.XPixels = r.xPixels;
        camera.YPixels = r.yPixels;
        camera.XPixelSize = camera.YPixelSize = r.pixel;
        double rb = 0.0, rmax = 0.0, step = 0.0;
        ASSERT_EQ(r.offered, CDistortionReport::DefaultRadii(camera, rb, rmax, step));
        if (!r.offered)
            continue;
        EXPECT_DOUBLE_EQ(r.rb, rb);
        EXPECT_DOUBLE_EQ(r.step, step);
        EXPECT_DOUBLE_EQ(19.0 * r.step, rmax);
    }
}

TEST(GeometryReports, BalancedCurveIsZeroAtTheBalanceRadiusForEveryStep)
{
    const CCamera camera = MakeCamera("Wide", 20.0, -3.0e-4, 2.0e-7, 0.0);
    TestFolder folder;
    for (int tenths = 1; tenths <= 50; ++tenths) {
        const double step = tenths / 10.0;
        const double rb = 7.0 * step, rmax = 19.0 * step;
        CDistortionReport report;
        ASSERT_TRUE(report.Write(CFilePath(folder.File("balance.txt").c_str()), "T", &camera, rb, rmax, step));
        std::string text;
        ASSERT_TRUE(ReadWholeFile(folder.File("balance.txt"), text));
        // The last row stands at rmax in both tables, and 0.0 at rb in the balanced one.
        char row[64];
        const size_t balanced = text.find("2. Balanced");
        ASSERT_NE(std::string::npos, balanced);
        std::snprintf(row, sizeof row, "\r\n%16.1f", rmax);
        EXPECT_NE(std::string::npos, text.find(row)) << "step " << step;
        EXPECT_NE(std::string::npos, text.find(row, balanced)) << "step " << step;
        std::snprintf(row, sizeof row, "\r\n%16.1f%21.1f\r\n", rb, 0.0);
        EXPECT_NE(std::string::npos, text.find(row, balanced)) << "step " << step;
        // k0 = -D / (rb + D) by hand, to the five printed decimals.
        const double D = -3.0e-4 * std::pow(rb, 3) + 2.0e-7 * std::pow(rb, 5);
        const size_t at = text.find("k0 = ");
        ASSERT_NE(std::string::npos, at);
        const double k0 = std::strtod(text.c_str() + at + 5, nullptr);
        EXPECT_NEAR(-D / (rb + D), k0, 1e-5 * std::fabs(k0)) << "step " << step;
    }
}

namespace {

// Pairs of group code and value lines of a DXF file.
std::vector<std::pair<int, std::string>> ReadGroups(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t stop = text.find('\n', start);
        if (stop == std::string::npos)
            stop = text.size();
        std::string line = text.substr(start, stop - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        start = stop + 1;
    }
    std::vector<std::pair<int, std::string>> groups;
    for (size_t i = 0; i + 1 < lines.size(); i += 2)
        groups.emplace_back(std::stoi(lines[i]), lines[i + 1]);
    if (lines.size() % 2 != 0)
        groups.emplace_back(-1, "odd line count");
    return groups;
}

struct Entity {
    std::string type;
    std::vector<std::pair<int, std::string>> groups;
    std::string Get(int code) const
    {
        for (const auto& g : groups)
            if (g.first == code)
                return g.second;
        return "";
    }
};

} // namespace

TEST(Dxf, PointsAndLabelsReadBackOnTheirLayers)
{
    const int sizes[] = {0, 1, 7};
    for (int n : sizes) {
        SCOPED_TRACE(n);
        CPointSet set;
        for (int i = 0; i < n; ++i) {
            char label[16];
            std::snprintf(label, sizeof label, "T%d", i + 1);
            set.AddCopy(Point(label, 1.25 * i - 3.0, -1000.5 + i, 0.000125 * i));
        }
        TestFolder folder;
        const std::string path = folder.File("points.dxf");
        std::setlocale(LC_ALL, "de_DE.utf8");
        CDxfWriter writer(path.c_str());
        const bool ok = writer.WritePointSet(&set);
        std::setlocale(LC_ALL, "C");
        ASSERT_TRUE(ok);
        std::string text;
        ASSERT_TRUE(ReadWholeFile(path, text));
        const auto groups = ReadGroups(text);
        ASSERT_FALSE(groups.empty());
        EXPECT_EQ((std::pair<int, std::string>(0, "EOF")), groups.back());

        std::vector<std::string> layers;
        std::vector<Entity> entities;
        std::string section;
        bool inEntities = false;
        for (size_t i = 0; i < groups.size(); ++i) {
            const auto& g = groups[i];
            if (g.first == 0 && g.second == "SECTION" && i + 1 < groups.size()) {
                section = groups[i + 1].second;
                inEntities = section == "ENTITIES";
                ++i;
                continue;
            }
            if (g.first == 0 && g.second == "ENDSEC") {
                inEntities = false;
                continue;
            }
            if (section == "TABLES" && g.first == 0 && g.second == "LAYER" && i + 1 < groups.size())
                layers.push_back(groups[i + 1].second);
            if (inEntities) {
                if (g.first == 0)
                    entities.push_back(Entity{g.second, {}});
                else if (!entities.empty())
                    entities.back().groups.push_back(g);
            }
        }
        EXPECT_EQ((std::vector<std::string>{"Points", "Labels"}), layers);
        ASSERT_EQ(static_cast<size_t>(2 * n), entities.size());
        for (int i = 0; i < n; ++i) {
            const CObjectPoint* p = set.GetAt(i);
            const Entity& point = entities[static_cast<size_t>(i)];
            const Entity& label = entities[static_cast<size_t>(n + i)];
            EXPECT_EQ("POINT", point.type);
            EXPECT_EQ("Points", point.Get(8));
            EXPECT_EQ("TEXT", label.type);
            EXPECT_EQ("Labels", label.Get(8));
            EXPECT_EQ(p->label.GetText(), label.Get(1));
            EXPECT_EQ("12", label.Get(40));
            const double xyz[3] = {p->x, p->y, p->z};
            for (int a = 0; a < 3; ++a) {
                char six[32];
                std::snprintf(six, sizeof six, "%.6f", xyz[a]);
                EXPECT_EQ(six, point.Get(10 * (a + 1)));
                std::snprintf(six, sizeof six, "%.6f", xyz[a] + 10.0);
                EXPECT_EQ(six, label.Get(10 * (a + 1)));
            }
        }
    }
    CDxfWriter none("/nonexistent-folder/x.dxf");
    EXPECT_FALSE(none.WritePointSet(nullptr));
    CPointSet empty;
    EXPECT_FALSE(none.WritePointSet(&empty));
    EXPECT_EQ(none.GetError(), SystemErrorText(ENOENT)); // the reason of the failure
}
