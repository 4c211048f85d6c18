// Reports written from the result state of a real bundle run on a synthetic
// project (two cameras, control points, scale bars, a rejected ray): the
// printed figures are the engine's results.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "AdjustmentEngine.h"
#include "BundleNetwork.h"
#include "BundleReport.h"
#include "ReportProject.h"

using namespace bundletest;
using reporttest::IndexOf;
using reporttest::Lines;
using reporttest::TempFolder;

TEST(BundleReportRun, ReportsOfARunShowTheEnginesResults)
{
    TempFolder folder;
    Network net;
    NetworkOptions o;
    o.noise = 0.0005;
    BuildRing(net, 8, 40, o, 2);
    AddControl(net, 6, 0.001);
    // A gross error on one ray, rejected by the limit.
    CImageObservation* bad = net.imageList.GetAt(2)->targets.GetAt(3);
    bad->x += 3.0;
    CScaleBar* bar = net.scaleBars.AddNew();
    bar->endLabel1 = "P1";
    bar->endLabel2 = "P2";
    bar->calibratedLength = 1.0;
    net.settings.SetProjectPath((folder.path + "/ring.kst").c_str());
    net.settings.unitName = "m";
    net.settings.writeCameraParameters = true;
    net.settings.writeResiduals = true;
    net.settings.writeCorrelations = true;
    net.settings.writeCovariances = true;

    CAdjustmentEngine engine(&net.images, &net.points, &net.control, &net.cameras, &net.scaleBars, &net.settings,
                             &net.summary);
    ASSERT_TRUE(engine.RunBundle()) << engine.GetFailureReason();
    ASSERT_EQ(net.summary.status, 1) << engine.GetFailureReason();
    int rejected = 0;
    for (int j = 0; j < net.imageList.GetSize(); ++j)
        for (int k = 0; k < net.imageList.GetAt(j)->targets.GetSize(); ++k)
            rejected += net.imageList.GetAt(j)->targets.GetAt(k)->rejected ? 1 : 0;
    ASSERT_GE(rejected, 1);
    ASSERT_TRUE(bad->rejected);

    CBundleReports reports(engine);
    EXPECT_TRUE(reports.WriteReports());
    EXPECT_EQ(engine.progress.phase.load(), PHASE_CORRELATIONS); // the last writer to run

    // Five files; the correlations wait for the inverse of the normals.
    std::string bundle, camera, residuals, points, stations, correlations;
    ASSERT_TRUE(reporttest::ReadFile(folder.File("Bundle.txt"), bundle));
    ASSERT_TRUE(reporttest::ReadFile(folder.File("Camera.txt"), camera));
    ASSERT_TRUE(reporttest::ReadFile(folder.File("Residuals.txt"), residuals));
    ASSERT_TRUE(reporttest::ReadFile(folder.File("PointsQxx.txt"), points));
    ASSERT_TRUE(reporttest::ReadFile(folder.File("StationsQxx.txt"), stations));
    EXPECT_FALSE(reporttest::ReadFile(folder.File("Correlations.txt"), correlations));

    // Bundle.txt: summary, triangulated coordinates, rejections.
    const std::vector<std::string> b = Lines(bundle);
    EXPECT_NE(IndexOf(b, "Number of Iterations: " + std::to_string(net.summary.iterations)), -1);
    EXPECT_NE(IndexOf(b, "    Number of Points: " + std::to_string(net.points.GetUsedUnsolvedCount())), -1);
    EXPECT_NE(IndexOf(b, "Number of Scale Bars: 1"), -1);
    EXPECT_EQ(b.back(), "Total Rejections   " + std::to_string(rejected));
    const int coords =
        IndexOf(b, "           Label       X           Y           Z       RMS   Rays   123456789012345678901234567890");
    ASSERT_GT(coords, 0);
    int rows = 0;
    for (size_t l = static_cast<size_t>(coords) + 1; !b[l].empty(); ++l, ++rows) {
        char label[32];
        double x, y, z;
        ASSERT_EQ(std::sscanf(b[l].c_str(), "%31s%lf%lf%lf", label, &x, &y, &z), 4) << b[l];
        const CObjectPoint* p = net.points.FindPointByText(label);
        ASSERT_NE(p, nullptr);
        EXPECT_NEAR(x, p->x, 0.6e-4);
        EXPECT_NEAR(y, p->y, 0.6e-4);
        EXPECT_NEAR(z, p->z, 0.6e-4);
        const CObjectPoint* t = net.truth.FindPointByText(label);
        EXPECT_NEAR(x, t->x, 0.01);
    }
    EXPECT_EQ(rows, net.points.GetUsedCount());

    // Camera.txt: one block per camera with the adjusted principal
    // distance, and the stations as the run left them.
    const std::vector<std::string> c = Lines(camera);
    for (int k = 0; k < 2; ++k) {
        const int block = IndexOf(c, "Results for Camera " + std::to_string(k + 1) + "    " +
                                         net.cameras.GetAt(k)->identifier.GetText() + "      Lens ");
        ASSERT_GT(block, 0);
        double initial, total, value;
        ASSERT_EQ(std::sscanf(c[static_cast<size_t>(block) + 8].c_str(), "    C%lf%lf%lf", &initial, &total, &value),
                  3);
        EXPECT_NEAR(value, net.cameras.GetAt(k)->parameters[CAM_C], 0.6e-4);
        EXPECT_NEAR(value, net.TrueCamera(k, CAM_C), 5e-3);
    }
    const int eo = IndexOf(c, "Station       Image         Xc          Yc          Zc       Alpha       Elev.        Roll");
    ASSERT_GT(eo, 0);
    for (int j = 0; j < 8; ++j) {
        int number = 0;
        char name[32];
        double X, Y, Z;
        ASSERT_EQ(std::sscanf(c[static_cast<size_t>(eo + 1 + j)].c_str(), "%d%31s%lf%lf%lf", &number, name, &X, &Y, &Z),
                  5);
        const CProjectImage* image = net.imageList.GetAt(j);
        EXPECT_EQ(number, j + 1);
        EXPECT_NEAR(X, image->X, 0.6e-5);
        EXPECT_NEAR(Y, image->Y, 0.6e-5);
        EXPECT_NEAR(Z, image->Z, 0.6e-5);
    }

    // Residuals.txt: the totals line, against an RMS computed here over the
    // usable observations of all images.
    double sx = 0.0, sy = 0.0;
    int n = 0;
    for (int j = 0; j < net.imageList.GetSize(); ++j)
        for (int k = 0; k < net.imageList.GetAt(j)->targets.GetSize(); ++k) {
            const CImageObservation* obs = net.imageList.GetAt(j)->targets.GetAt(k);
            if (obs->rejected || obs->disabled)
                continue;
            sx += obs->vx * obs->vx;
            sy += obs->vy * obs->vy;
            ++n;
        }
    const std::vector<std::string> r = Lines(residuals);
    const int totals = IndexOf(r, "       x         y       Total     Observations   Constraints   Parameters   Freedom"
                                  "         Unit Weight");
    ASSERT_GT(totals, 0);
    double rx, ry, rxy, sigma0;
    int obsCount, constraints, parameters, dof;
    ASSERT_EQ(std::sscanf(r[static_cast<size_t>(totals) + 1].c_str(), "%lf%lf%lf%d%d%d%d%lf", &rx, &ry, &rxy, &obsCount,
                          &constraints, &parameters, &dof, &sigma0),
              8);
    EXPECT_NEAR(rx, std::sqrt(sx / n) * 1000.0, 0.006);
    EXPECT_NEAR(ry, std::sqrt(sy / n) * 1000.0, 0.006);
    EXPECT_NEAR(rxy, std::sqrt((sx + sy) / (2 * n)) * 1000.0, 0.006);
    EXPECT_EQ(obsCount, net.summary.observations);
    EXPECT_EQ(dof, net.summary.GetDegreesOfFreedom());
    EXPECT_NEAR(sigma0, net.summary.sigma0, 0.0006);
    EXPECT_NE(residuals.find("Control Point Residuals"), std::string::npos);

    // The covariance files list every point and every image.
    EXPECT_EQ(static_cast<int>(Lines(points).size()), 5 + 5 * net.points.GetSize() + 1);
    EXPECT_EQ(static_cast<int>(Lines(stations).size()), 5 + 5 * net.imageList.GetSize() + 1);
}
