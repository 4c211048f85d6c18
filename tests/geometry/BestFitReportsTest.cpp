#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <unistd.h>

#include "BestFitReports.h"
#include "FitScenes.h"
#include "FitStates.h"
#include "Message.h"
#include "ProjectDocument.h"

namespace {

struct Folder {
    std::string path;
    Folder()
    {
        char pattern[] = "/tmp/kestrelon-bestfit-XXXXXX";
        const char* made = mkdtemp(pattern);
        path = made ? made : "";
    }
    ~Folder() { std::system(("rm -rf '" + path + "'").c_str()); }
};

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Splits a CR LF file into lines; a bare LF fails the test.
std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find("\r\n", start);
        EXPECT_NE(end, std::string::npos) << "unterminated last line";
        if (end == std::string::npos)
            break;
        std::string line = text.substr(start, end - start);
        EXPECT_EQ(line.find('\n'), std::string::npos) << line;
        out.push_back(line);
        start = end + 2;
    }
    return out;
}

std::vector<std::string> Split(const char* text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

const FitSummary kSummary{3, 0.0123, 0.0369};

const char* const kPlane = R"(             Kestrelon Best Fit Plane Results
DATE


            Quick Summary

         Number of Points: 4
          Rejected Points: 1
               Iterations: 3
         RMS of residuals: 0.0123
    Residual Error Cutoff: 0.0369


         Plane Parameters

                        A:  0.100
                        B: -0.200
                        C:  0.975
                        D: -12.346

                Residuals

                    Label     Residual

                       P1      0.01234
                       P2     -0.00800
                       P3     -2.50000 ***rejected
                       P4      0.00000

                      RMS      0.01230

)";

const char* const kSphere = R"(  Kestrelon Best Fit Sphere Results
DATE


            Quick Summary

         Number of Points: 4
          Rejected Points: 0
               Iterations: 3
         RMS of residuals: 0.0123
    Residual Error Cutoff: 0.0369


         Sphere Parameters

                        Xo: 1234.568
                        Yo:   -5.250
                        Zo:    0.000
                         R:   12.000

                Residuals

                    Label     Residual

                       P1      0.01234
                       P2     -0.00800
                       P3     -2.50000
                       P4      0.00000

                      RMS      0.01230

)";

const char* const kCircle = R"(  Kestrelon Best Fit Circle Results
DATE


            Quick Summary

         Number of Points: 4
          Rejected Points: 1
               Iterations: 3
         RMS of residuals: 0.0123
    Residual Error Cutoff: 0.0369


         Circle Parameters

                        Xo: 1234.568
                        Yo:   -5.250
                        Zo:    0.000
                         R:   12.000

                Residuals

                    Label     Residual

                       P1      0.01234
                       P2     -0.00800
                       P3     -2.50000
                       P4      0.00000 ***rejected

                      RMS      0.01230

)";

const char* const kLine = R"(    Kestrelon Best Fit Line Results
                                        Kestrelon
                       Close-range photogrammetry
DATE


            Quick Summary

         Number of Points: 2
          Rejected Points: 1
               Iterations: 3
         RMS of residuals:  0.01230
                   Sigma0:  0.25000
    Residual Error Cutoff:  0.03690


         Line Parameters

                        Xo:   0.000000
                        Yo: -12.500000
                        Zo: 100.123457
                         u:   0.600000
                         v:  -0.800000
                         w:   0.000100

           Coordinate Residuals (Departures from Best-Fit Line)

           Label       X           Y            Z            VX           VY           VZ           VXYZ

ABCDEFGHIJKLMNOP      1.50000     -2.25000    100.00000      0.00100     -0.00200      0.00050      0.00229
              P2     -7.00000      0.00000      3.33333     -1.00000      2.00000      0.00000      2.23607 ***rejected

                                                RMS          0.00100      0.00200      0.00050      0.00229

)";

struct Case {
    const char* name;
    const char* file;
    const char* failure;
    int dateLine;
    const char* expected;
    std::function<bool(const CProjectDocument&)> write;
};

} // namespace

TEST(BestFitReports, LayoutsByteExactInEveryLocale)
{
    CObjectPointList list;
    AddPoints(list, {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {1, 5, 2}});

    CFitState<CBestFitPlane> plane(list);
    plane.SetSummary(kSummary);
    plane.SetResiduals({0.01234, -0.008, -2.5, 0.0});
    plane.A = 0.1, plane.B = -0.2, plane.C = 0.97468, plane.D = -12.3456;

    CFitState<CBestFitSphere> sphere(list);
    sphere.SetSummary(kSummary);
    sphere.SetResiduals({0.01234, -0.008, -2.5, 0.0});
    sphere.Xo = 1234.5678, sphere.Yo = -5.25, sphere.Zo = 0.0, sphere.R = 12.0;

    CFitState<CBestFitCircle> circle(list);
    circle.SetSummary(kSummary);
    circle.SetResiduals({0.01234, -0.008, -2.5, 0.0});
    circle.Xo = 1234.5678, circle.Yo = -5.25, circle.Zo = 0.0, circle.R = 12.0;

    CObjectPointList two;
    AddPoints(two, {{1.5, -2.25, 100.0}, {-7.0, 0.0, 3.333333}});
    two.GetAt(0)->label = CNameBuffer("ABCDEFGHIJKLMNOP");
    CLineState line(two);
    line.SetSummary(kSummary);
    line.sigma0 = 0.25;
    line.Xo = 0.0, line.Yo = -12.5, line.Zo = 100.1234567, line.u = 0.6, line.v = -0.8, line.w = 0.0001;
    line.SetResidual(0, 0.001, -0.002, 0.0005, 0.00229);
    line.SetResidual(1, -1.0, 2.0, 0.0, 2.236068);
    line.SetRmsV(0.001, 0.002, 0.0005, 0.00229);

    const Case cases[] = {
        {"plane", "BestFitPlane.txt", "Can't Open 3d Best Fit Plane Output File", 1, kPlane,
         [&](const CProjectDocument& d) { return WriteBestFitPlaneReport(d, plane); }},
        {"sphere", "BestFitSphere.txt", "Can't Open 3d Best Fit Sphere Output File", 1, kSphere,
         [&](const CProjectDocument& d) { return WriteBestFitSphereReport(d, sphere); }},
        {"circle", "BestFitCircle.txt", "Can't Open 3d Best Fit Circle Output File", 1, kCircle,
         [&](const CProjectDocument& d) { return WriteBestFitCircleReport(d, circle); }},
        {"line", "BestFitLine.txt", "Can't Open 3d Best Fit Line Output File", 3, kLine,
         [&](const CProjectDocument& d) { return WriteBestFitLineReport(d, line); }},
    };

    const std::string saved = std::setlocale(LC_ALL, nullptr);
    for (const char* locale : {"C", "de_DE.UTF-8"}) {
        if (!std::setlocale(LC_ALL, locale))
            continue;
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + " in " + locale);
            // Flags as the fits leave them: P3 rejected in the plane and the
            // line's second point, P4 in the circle, none in the sphere.
            for (int i = 0; i < list.GetSize(); ++i)
                list.GetAt(i)->unsolved = (c.expected == kPlane && i == 2) || (c.expected == kCircle && i == 3);
            two.GetAt(1)->unsolved = true;

            Folder folder;
            CProjectDocument doc;
            doc.SetPathName((folder.path + "/Project.kst").c_str());
            // An existing report is replaced.
            std::ofstream(folder.path + "/" + c.file) << "old";
            ASSERT_TRUE(c.write(doc));
            std::vector<std::string> lines = Lines(ReadFile(folder.path + "/" + c.file));
            ASSERT_GT(lines.size(), static_cast<size_t>(c.dateLine));
            EXPECT_EQ(lines[c.dateLine].size(), 50u);
            EXPECT_NE(lines[c.dateLine].find(", 20"), std::string::npos) << lines[c.dateLine];
            lines[c.dateLine] = "DATE";
            EXPECT_EQ(lines, Split(c.expected));
            EXPECT_TRUE(TakeCapturedMessages().empty());

            // A project never saved has no folder: the message, and false.
            CProjectDocument unsaved;
            EXPECT_FALSE(c.write(unsaved));
            const auto messages = TakeCapturedMessages();
            ASSERT_EQ(messages.size(), 1u);
            EXPECT_EQ(messages[0].text, c.failure);
        }
    }
    std::setlocale(LC_ALL, saved.c_str());
}
