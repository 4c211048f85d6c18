// The stand-alone triangulation on a synthetic project whose observations
// come from known poses, and its report read back against the truth.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "BundleNetwork.h"
#include "ReportProject.h"
#include "TriangulationJob.h"

using namespace bundletest;
using reporttest::IndexOf;
using reporttest::Lines;
using reporttest::TempFolder;

namespace {

// Six images around twelve points, observed without noise from the true
// poses; image 4 is disabled and its observations are 0.05 mm off (within
// the rejection limit), and P1 carries a 0.5 mm error in image 1. F1 is
// seen in images 1 and 2 only, 1 mm off in image 2, so that it fails.
void BuildScene(Network& net, double noise)
{
    NetworkOptions o;
    o.noise = noise;
    o.seed = 7;
    std::mt19937 rng(o.seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    AddCamera(net, "CAM-A", 0);
    for (int i = 0; i < 12; ++i) {
        char label[16];
        std::snprintf(label, sizeof label, "P%d", i + 1);
        AddTruthPoint(net, label, 1.2 * u(rng), 1.2 * u(rng), 0.6 * u(rng));
    }
    const double target[3] = {0.0, 0.0, 0.0};
    for (int j = 0; j < 6; ++j) {
        const double a = 2.0 * M_PI * j / 6;
        Pose pose;
        pose.X[0] = 4.0 * std::sin(a);
        pose.X[1] = -4.0 * std::cos(a);
        pose.X[2] = (j % 2 == 0) ? 1.5 : -1.0;
        LookAt(pose.X, target, pose.azimuth, pose.elevation);
        pose.roll = 0.1 * j;
        CProjectImage* image = AddImage(net, "CAM-A", pose);
        image->SetFilePath(("/scans/view" + std::to_string(j + 1) + ".tif").c_str());
    }
    Observe(net, rng, o);
    Finish(net);
    net.imageList.GetAt(3)->enabled = false;
    CObservationList& disabled = net.imageList.GetAt(3)->targets;
    for (int i = 0; i < disabled.GetSize(); ++i)
        disabled.GetAt(i)->x += 0.05;
    CImageObservation* bad = net.imageList.GetAt(0)->FindObservationByText("P1");
    bad->x += 0.5;
    for (int j = 0; j < 2; ++j) {
        CImageObservation failing(*net.imageList.GetAt(j)->FindObservationByText("P2"));
        failing.label = CNameBuffer("F1");
        failing.x += j == 1 ? 1.0 : 0.0;
        net.imageList.GetAt(j)->targets.AddCopy(failing);
        net.imageList.GetAt(j)->targets.SortByLabel();
    }
    net.settings.freeNetwork = true;
    net.settings.rejectionLimit = 0.1;
    net.settings.minimumRays = 2;
}

} // namespace

TEST(TriangulationJob, IntersectsThePointsAndReportsThemAsTheTruthHasThem)
{
    TempFolder folder;
    Network net;
    BuildScene(net, 0.0);
    net.settings.SetProjectPath((folder.Path() + "/scene.kst").c_str());
    CTriangulationJob job(net.images, net.points, net.cameras, net.settings, net.summary);
    int count = 0;
    double rms = -2.0;
    ASSERT_TRUE(job.Run(count, rms));
    ASSERT_EQ(net.points.GetSize(), 13);
    EXPECT_EQ(count, 12);
    EXPECT_LT(rms, 1e-6);
    // The disabled image's rays pull no point off the truth.
    for (int i = 0; i < 13; ++i) {
        const CObjectPoint* p = net.points.GetAt(i);
        const CObjectPoint* t = net.truth.FindPointByText(p->label.GetText());
        if (t == nullptr)
            continue;
        EXPECT_FALSE(p->unsolved);
        EXPECT_NEAR(p->x, t->x, 1e-9);
        EXPECT_NEAR(p->y, t->y, 1e-9);
        EXPECT_NEAR(p->z, t->z, 1e-9);
    }
    // The failed point keeps nothing of its attempt.
    const CObjectPoint* failed = net.points.FindPointByText("F1");
    ASSERT_NE(failed, nullptr);
    EXPECT_TRUE(failed->unsolved);
    EXPECT_EQ(failed->x, 0.0);
    EXPECT_EQ(failed->y, 0.0);
    EXPECT_EQ(failed->z, 0.0);
    EXPECT_EQ(failed->usedRayCount, 0);
    EXPECT_EQ(failed->rms, 0.0);
    for (int a = 0; a < 3; ++a)
        EXPECT_EQ(failed->covariance.GetAt(a, a), 0.0);
    for (int j = 0; j < 2; ++j)
        EXPECT_TRUE(net.imageList.GetAt(j)->FindObservationByText("F1")->rejected);
    const CImageObservation* bad = net.imageList.GetAt(0)->FindObservationByText("P1");
    ASSERT_TRUE(bad->rejected);

    std::string text;
    ASSERT_TRUE(reporttest::ReadFile(folder.File("Triangulate.txt"), text));
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    const std::vector<std::string> lines = Lines(reporttest::MaskDate(text, false));
    ASSERT_GT(lines.size(), 40u);
    EXPECT_EQ(lines[0], std::string(33, ' ') + "Triangulation");
    EXPECT_EQ(lines[1], std::string(42, ' ') + "Kestrelon");
    EXPECT_EQ(lines[2], std::string(25, ' ') + "Close-range photogrammetry");
    EXPECT_EQ(lines[3], "@DATE@");
    EXPECT_EQ(lines[7], "             Project: " + folder.Path() + "/scene.kst");
    EXPECT_EQ(lines[8], "    Number of Points: 12");
    EXPECT_EQ(lines[9], "    Number of Images: 6");

    // Stations: every image, with its true pose.
    const int stations = IndexOf(lines, " FileName         X             Y             Z           Azimuth      Elevation       Roll");
    ASSERT_GT(stations, 0);
    for (int j = 0; j < 6; ++j) {
        char name[64];
        double v[6];
        ASSERT_EQ(std::sscanf(lines[static_cast<size_t>(stations + 1 + j)].c_str(), "%63[^ ]%lf%lf%lf%lf%lf%lf", name,
                              &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]),
                  7);
        EXPECT_EQ(std::string(name), "view" + std::to_string(j + 1) + ".tif");
        const Pose& t = net.truePoses[static_cast<size_t>(j)];
        const double deg = 45.0 / std::atan(1.0);
        const double truth[6] = {t.X[0], t.X[1], t.X[2], t.azimuth * deg, t.elevation * deg, t.roll * deg};
        for (int k = 0; k < 6; ++k)
            EXPECT_NEAR(v[k], truth[k], 0.6e-4) << j << " " << k;
    }

    // Residual summary: the disabled fourth image is missing, the others
    // keep their place in the list as "#".
    const int residuals = IndexOf(lines, "      Filename     #       X         Y       Total       Points");
    ASSERT_GT(residuals, 0);
    std::vector<int> numbers;
    for (size_t l = static_cast<size_t>(residuals) + 1; !lines[l].empty(); ++l) {
        char name[64];
        int number = 0, used = 0;
        double rx, ry, rxy;
        ASSERT_EQ(std::sscanf(lines[l].c_str(), "%63s%d%lf%lf%lf%d", name, &number, &rx, &ry, &rxy, &used), 6);
        numbers.push_back(number);
        EXPECT_EQ(used, net.imageList.GetAt(number - 1)->CountUsableObservations());
        if (number == 1) {
            EXPECT_LT(rxy, 1e-3); // the bad ray is rejected, the rest fit exactly
        }
    }
    EXPECT_EQ(numbers, (std::vector<int>{1, 2, 3, 5, 6}));

    // Points: coordinates as the truth has them, rays and sightings.
    const int points = IndexOf(lines, "               Label      X         Y         Z       X      Y      Z      RMS  Rays    "
                                      "1234567890123456789012345678901234567890");
    ASSERT_GT(points, 0);
    for (int i = 0; i < 13; ++i) {
        const std::string& row = lines[static_cast<size_t>(points + 1 + i)];
        char label[32];
        double x, y, z, sx, sy, sz, prms;
        int rays = 0;
        ASSERT_EQ(std::sscanf(row.c_str(), "%31s%lf%lf%lf%lf%lf%lf%lf%d", label, &x, &y, &z, &sx, &sy, &sz, &prms,
                              &rays),
                  9)
            << row;
        const CObjectPoint* t = net.truth.FindPointByText(label);
        if (std::string(label) == "F1") {
            EXPECT_EQ(rays, 0);
            EXPECT_EQ(sx + sy + sz, 0.0);
            continue;
        }
        ASSERT_NE(t, nullptr);
        EXPECT_NEAR(x, t->x, 0.6e-4);
        EXPECT_NEAR(y, t->y, 0.6e-4);
        EXPECT_NEAR(z, t->z, 0.6e-4);
        const CObjectPoint* p = net.points.FindPointByText(label);
        EXPECT_EQ(rays, p->usedRayCount);
        EXPECT_EQ(row.substr(row.size() - 6), std::string(p->sightings.GetText()));
        if (std::string(label) == "P1") {
            EXPECT_EQ(row[row.size() - 6], '*');
            EXPECT_EQ(row[row.size() - 3], ' '); // the disabled image
        }
    }
    // The report's statistics lines end the file.
    EXPECT_EQ(lines[lines.size() - 2], "");
    EXPECT_EQ(lines.back(), "");
}

// With noisy observations the points get standard errors; the statistics
// agree with a computation over the points' covariances.
TEST(TriangulationJob, StatisticsOfTheStandardErrors)
{
    TempFolder folder;
    Network net;
    BuildScene(net, 0.002);
    net.settings.SetProjectPath((folder.Path() + "/scene.kst").c_str());
    CTriangulationJob job(net.images, net.points, net.cameras, net.settings, net.summary);
    int count = 0;
    double rms = 0.0;
    ASSERT_TRUE(job.Run(count, rms));
    // One point with a single ray beside the others: it counts for the RMS
    // but not for the extremes. The failed point F1 counts for neither.
    ASSERT_TRUE(net.points.FindPointByText("F1")->unsolved);
    CObjectPoint* few = net.points.GetAt(5);
    few->usedRayCount = 1;
    few->SetSigmas(1.0, 1.0, 1.0);
    ASSERT_TRUE(job.ComputeStatistics());

    double sum[3] = {0, 0, 0}, largest[3] = {0, 0, 0}, smallest[3] = {100, 100, 100};
    std::string largestLabel[3], smallestLabel[3];
    for (int i = 0; i < net.points.GetSize(); ++i) {
        const CObjectPoint* p = net.points.GetAt(i);
        if (std::string(p->label.GetText()) == "F1")
            continue;
        for (int a = 0; a < 3; ++a) {
            const double v = p->covariance.GetAt(a, a);
            sum[a] += v;
            if (p->usedRayCount < 2)
                continue;
            ASSERT_GT(v, 0.0);
            if (std::sqrt(v) > largest[a]) {
                largest[a] = std::sqrt(v);
                largestLabel[a] = p->label.GetText();
            }
            if (std::sqrt(v) < smallest[a]) {
                smallest[a] = std::sqrt(v);
                smallestLabel[a] = p->label.GetText();
            }
        }
    }
    for (int a = 0; a < 3; ++a) {
        EXPECT_NEAR(net.summary.rmsTotal[a], std::sqrt(sum[a] / 12), 1e-15);
        EXPECT_GT(net.summary.rmsTotal[a], 0.25); // the single-ray point's 1.0 is in it
        EXPECT_EQ(net.summary.extremes[CAdjustmentSummary::kLargestTotal][a], largest[a]);
        EXPECT_EQ(net.summary.extremes[CAdjustmentSummary::kSmallestTotal][a], smallest[a]);
        EXPECT_EQ(largestLabel[a], net.summary.extremeLabels[CAdjustmentSummary::kLargestTotal][a].GetText());
        EXPECT_EQ(smallestLabel[a], net.summary.extremeLabels[CAdjustmentSummary::kSmallestTotal][a].GetText());
        EXPECT_LT(largest[a], 1.0);
    }

    // The report prints the same figures.
    ASSERT_TRUE(job.WriteReport());
    std::string text;
    ASSERT_TRUE(reporttest::ReadFile(folder.File("Triangulate.txt"), text));
    const std::vector<std::string> lines = Lines(text);
    const int rmsLine = IndexOf(lines, std::string(27, ' ') + "X                   Y                   Z") + 2;
    ASSERT_GT(rmsLine, 2);
    double r[3], mn[3], mx[3];
    ASSERT_EQ(std::sscanf(lines[static_cast<size_t>(rmsLine)].c_str(), "     RMS is%lf%lf%lf", &r[0], &r[1], &r[2]), 3);
    ASSERT_EQ(std::sscanf(lines[static_cast<size_t>(rmsLine) + 2].c_str(), " Minimum is%lf%lf%lf", &mn[0], &mn[1],
                          &mn[2]),
              3);
    ASSERT_EQ(std::sscanf(lines[static_cast<size_t>(rmsLine) + 5].c_str(), " Maximum is%lf%lf%lf", &mx[0], &mx[1],
                          &mx[2]),
              3);
    char l0[32], l1[32], l2[32];
    ASSERT_EQ(std::sscanf(lines[static_cast<size_t>(rmsLine) + 6].c_str(), " at point%31s%31s%31s", l0, l1, l2), 3);
    for (int a = 0; a < 3; ++a) {
        EXPECT_NEAR(r[a], std::sqrt(sum[a] / 12), 0.6e-4);
        EXPECT_NEAR(mn[a], smallest[a], 0.6e-4);
        EXPECT_NEAR(mx[a], largest[a], 0.6e-4);
    }
    EXPECT_EQ(std::string(l0), largestLabel[0]);
    EXPECT_EQ(std::string(l2), largestLabel[2]);
}

// The relative orientation triangulates without a project folder: the job
// runs but writes no report (nothing lands in the working or root folder).
TEST(TriangulationJob, WithoutAProjectFolderNoReport)
{
    TempFolder folder;
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(folder.Path().c_str()), 0);
    Network net;
    BuildScene(net, 0.0);
    net.settings.SetProjectPath("");
    CTriangulationJob job(net.images, net.points, net.cameras, net.settings, net.summary);
    int count = 0;
    double rms = 0.0;
    EXPECT_TRUE(job.Run(count, rms));
    EXPECT_EQ(count, 12);
    EXPECT_FALSE(job.WriteReport());
    EXPECT_NE(access("Triangulate.txt", F_OK), 0);
    EXPECT_NE(access("/Triangulate.txt", F_OK), 0);
    ASSERT_EQ(chdir(previous), 0);
}

// No point in use: the statistics are 0 instead of a division by zero.
TEST(TriangulationJob, NoPointInUse)
{
    Network net;
    BuildScene(net, 0.0);
    CTriangulationJob job(net.images, net.points, net.cameras, net.settings, net.summary);
    int count = 0;
    double rms = 0.0;
    ASSERT_TRUE(job.Run(count, rms));
    for (int i = 0; i < net.points.GetSize(); ++i)
        net.points.GetAt(i)->inUse = false;
    net.summary.extremeLabels[CAdjustmentSummary::kLargestTotal][0] = "OLD";
    ASSERT_TRUE(job.ComputeStatistics());
    for (int a = 0; a < 3; ++a) {
        EXPECT_EQ(net.summary.rmsTotal[a], 0.0);
        EXPECT_EQ(net.summary.extremes[CAdjustmentSummary::kLargestTotal][a], 0.0);
        EXPECT_EQ(net.summary.extremes[CAdjustmentSummary::kSmallestTotal][a], 100.0);
    }
    EXPECT_STREQ(net.summary.extremeLabels[CAdjustmentSummary::kLargestTotal][0].GetText(), "");
}
