// The report files of whole bundle runs on a synthetic project (two cameras,
// control points, scale bars, gross errors that the run rejects): the run
// writes them itself, and the figures that come from the run are read back
// and compared with the engine's state and with quantities computed here
// from the observations, the points' covariances and the cofactor matrix.
// The layout is the golden files' concern.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "AdjustmentEngine.h"
#include "BundleJob.h"
#include "BundleNetwork.h"
#include "BundleReport.h"
#include "Clock.h"
#include "ReportProject.h"

using namespace bundletest;
using reporttest::IndexOf;
using reporttest::Lines;
using reporttest::TempFolder;

namespace {

const char* const kReports[6] = {"Bundle.txt",       "Camera.txt",    "Residuals.txt",
                                 "Correlations.txt", "PointsQxx.txt", "StationsQxx.txt"};

double Deg()
{
    return 45.0 / std::atan(1.0);
}

double Root(double v)
{
    return v > 0.0 ? std::sqrt(v) : 0.0;
}

// |a - b| within an absolute part (the printed decimals) and a relative part.
void Near(double printed, double value, double absolute, double relative, const std::string& what)
{
    EXPECT_NEAR(printed, value, absolute + relative * std::fabs(value)) << what;
}

// A ring of eight images taken alternately by two cameras around 40 points,
// every sixth point a control point, two scale bars of true length, and two
// rays carrying gross errors.
struct Project {
    TempFolder folder;
    Network net;
    std::vector<CImageObservation*> gross;

    explicit Project(bool freeNetwork, bool rigorous = false)
    {
        NetworkOptions o;
        o.noise = 0.0005;
        BuildRing(net, 8, 40, o, 2);
        AddControl(net, 6, 0.001);
        net.settings.freeNetwork = freeNetwork;
        net.settings.rigorousScale = rigorous;
        net.settings.totalErrorPropagation = true;
        gross.push_back(net.imageList.GetAt(2)->targets.GetAt(3));
        gross.push_back(net.imageList.GetAt(5)->targets.GetAt(7));
        gross[0]->x += 3.0;
        gross[1]->y -= 2.0;
        AddBar("P1", "P2", 0.0005);
        AddBar("P3", "P5", 0.0005);
        for (int j = 0; j < net.imageList.GetSize(); ++j) {
            const std::string path = "/photos/" + std::string(net.imageList.GetAt(j)->name.GetText()) + ".tif";
            net.imageList.GetAt(j)->SetFilePath(path.c_str());
        }
        net.settings.SetProjectPath((folder.Path() + "/ring.kst").c_str());
        net.settings.unitName = "m";
        net.settings.writeCameraParameters = true;
        net.settings.writeResiduals = true;
        net.settings.writeCorrelations = true;
        net.settings.writeCovariances = true;
    }

    void AddBar(const char* a, const char* b, double sigma)
    {
        const CObjectPoint* A = net.truth.FindPointByText(a);
        const CObjectPoint* B = net.truth.FindPointByText(b);
        CScaleBar* bar = net.scaleBars.AddNew();
        bar->name = (std::string(a) + "-" + b).c_str();
        bar->endLabel1 = a;
        bar->endLabel2 = b;
        bar->calibratedLength =
            std::sqrt((A->x - B->x) * (A->x - B->x) + (A->y - B->y) * (A->y - B->y) + (A->z - B->z) * (A->z - B->z));
        bar->standardDeviation = sigma;
    }

    bool Read(const char* name, std::vector<std::string>& lines)
    {
        std::string text;
        if (!reporttest::ReadFile(folder.File(name), text))
            return false;
        lines = Lines(text);
        return true;
    }
};

// The sightings text of a point from the observations themselves.
std::string Sightings(Network& net, const CObjectPoint& p)
{
    std::string s;
    for (int j = 0; j < net.imageList.GetSize(); ++j) {
        const CProjectImage* image = net.imageList.GetAt(j);
        char c = 'N';
        for (int k = 0; k < image->targets.GetSize(); ++k)
            if (image->targets.GetAt(k)->label == p.label) {
                c = image->targets.GetAt(k)->rejected ? '*' : 'Y';
                break;
            }
        s += image->enabled ? c : ' ';
    }
    return s;
}

// Correlation of unknowns i and j from a cofactor matrix.
double Correlation(const CMatrix& q, int i, int j)
{
    return q.GetAt(i, j) / std::sqrt(q.GetAt(i, i) * q.GetAt(j, j));
}

void CheckBundleReport(Project& pr, int rejected)
{
    Network& net = pr.net;
    const CAdjustmentSummary& sum = net.summary;
    std::vector<std::string> b;
    ASSERT_TRUE(pr.Read("Bundle.txt", b));
    const int scaling = net.scaleBars.scalingResult;

    // Quick summary: the counts of the run (the layout is the golden files').
    EXPECT_NE(IndexOf(b, "    Number of Points: " + std::to_string(net.points.GetUsedUnsolvedCount())), -1);
    EXPECT_NE(IndexOf(b, "Number of Iterations: " + std::to_string(sum.iterations)), -1);

    // Adjusted points as printed, for the scale bars and the coordinates.
    const int coords =
        IndexOf(b, "           Label       X           Y           Z       RMS   Rays   123456789012345678901234567890");
    ASSERT_GT(coords, 0);
    struct Row {
        std::string label;
        double x, y, z;
    };
    std::vector<Row> printed;
    for (size_t l = static_cast<size_t>(coords) + 1; l < b.size() && !b[l].empty(); ++l) {
        char label[32], sight[64];
        double x, y, z, rms;
        int rays;
        ASSERT_EQ(std::sscanf(b[l].c_str(), "%31s%lf%lf%lf%lf%d %63s", label, &x, &y, &z, &rms, &rays, sight), 7)
            << b[l];
        const CObjectPoint* p = net.points.FindPointByText(label);
        ASSERT_NE(p, nullptr) << label;
        Near(x, p->x, 0.6e-4, 0, label);
        Near(y, p->y, 0.6e-4, 0, label);
        Near(z, p->z, 0.6e-4, 0, label);
        EXPECT_EQ(rays, p->usedRayCount) << label;
        EXPECT_EQ(std::string(sight), Sightings(net, *p)) << label;
        // Close to the truth: the datum is the control points', or the
        // scale bars' scale on start values near the truth.
        const CObjectPoint* t = net.truth.FindPointByText(label);
        EXPECT_NEAR(x, t->x, net.settings.freeNetwork ? 0.05 : 0.005) << label;
        printed.push_back({label, x, y, z});
    }
    EXPECT_EQ(static_cast<int>(printed.size()), net.points.GetUsedCount());

    // Scale results: the adjusted length is the distance of the printed ends.
    auto find = [&printed](const std::string& label) -> const Row* {
        for (const Row& r : printed)
            if (r.label == label)
                return &r;
        return nullptr;
    };
    const int scale = scaling == 2 ? IndexOf(b, "Rigorous Scale Results") : IndexOf(b, "Post Bundle Scale Results");
    if (scaling == 1 || scaling == 2) {
        ASSERT_GT(scale, 0);
        for (int k = 0; k < 2; ++k) {
            const CScaleBar* bar = net.scaleBars.GetAt(k);
            const std::string& line = b[static_cast<size_t>(scale + 4 + k)];
            char l1[32], l2[32];
            int r1, r2;
            double input, sigma = 0.0, adjusted, diff;
            const int fields =
                scaling == 2
                    ? std::sscanf(line.c_str(), "%31s%d%31s%d%lf%lf%lf%lf", l1, &r1, l2, &r2, &input, &sigma,
                                  &adjusted, &diff)
                    : std::sscanf(line.c_str(), "%31s%d%31s%d%lf%lf%lf", l1, &r1, l2, &r2, &input, &adjusted, &diff);
            ASSERT_EQ(fields, scaling == 2 ? 8 : 7) << line;
            if (scaling == 2)
                Near(sigma, bar->standardDeviation, 0.6e-4, 0, line);
            EXPECT_STREQ(l1, bar->endLabel1.GetText());
            EXPECT_STREQ(l2, bar->endLabel2.GetText());
            EXPECT_EQ(r1, net.points.FindPointByText(l1)->usedRayCount);
            EXPECT_EQ(r2, net.points.FindPointByText(l2)->usedRayCount);
            Near(input, bar->calibratedLength, 0.6e-4, 0, line);
            Near(adjusted, bar->adjustedLength, 0.6e-4, 0, line);
            Near(diff, input - adjusted, 1.2e-4, 0, line);
            const Row* A = find(l1);
            const Row* B = find(l2);
            ASSERT_TRUE(A != nullptr && B != nullptr);
            const double d = std::sqrt((A->x - B->x) * (A->x - B->x) + (A->y - B->y) * (A->y - B->y) +
                                       (A->z - B->z) * (A->z - B->z));
            Near(adjusted, d, 2e-4, 0, line);
            Near(adjusted, input, 2e-3, 0, line);
        }
    } else {
        EXPECT_EQ(scale, -1);
    }

    // Stations: final values and standard errors from the covariances.
    const double deg = Deg();
    for (int j = 0; j < 8; ++j) {
        const CProjectImage* image = net.imageList.GetAt(j);
        const CCamera* camera = net.cameras.FindByName(image->GetCameraName().GetText());
        const int at = IndexOf(b, std::string("Results for Station  ") + image->name.GetText() + "    FileName  " +
                                      image->name.GetText() + ".tif     Camera " + camera->identifier.GetText() +
                                      "     Lens ");
        ASSERT_GT(at, 0) << image->name.GetText();
        const CMatrix& cov = image->GetCovariance();
        ASSERT_EQ(cov.GetRows(), 6);
        const double finals[6] = {image->X, image->Y, image->Z, image->GetAzimuth() * deg,
                                  image->GetElevation() * deg, image->GetRoll() * deg};
        for (int a = 0; a < 6; ++a) {
            const std::string& line = b[static_cast<size_t>(at + 5 + a)];
            double initial, total, value, apriori, error;
            ASSERT_EQ(std::sscanf(line.c_str() + 5, "%lf%lf%lf%lf%lf", &initial, &total, &value, &apriori, &error), 5)
                << line;
            const double unit = a >= 3 ? deg : 1.0;
            Near(value, finals[a], a < 3 ? 0.6e-4 : 0.6e-6, 0, line);
            Near(initial + total, value, a < 3 ? 2e-4 : 2e-6, 0, line);
            Near(error, Root(cov.GetAt(a, a)) * unit, 1e-12, 1e-4, line);
            EXPECT_GT(error, 0.0) << line;
        }
    }

    // Residual totals against the observations, and the summary's counts.
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
    const int totals = IndexOf(
        b, "       x         y         xy           Sigma0          Freedom     Observations   Parameters   Constraints");
    ASSERT_GT(totals, 0);
    double rx, ry, rxy, sigma0;
    int dof, observations, parameters, constraints;
    ASSERT_EQ(std::sscanf(b[static_cast<size_t>(totals) + 1].c_str(), "%lf%lf%lf%lf%d%d%d%d", &rx, &ry, &rxy, &sigma0,
                          &dof, &observations, &parameters, &constraints),
              8);
    Near(rx, std::sqrt(sx / n) * 1000.0, 0.006, 0, "rms x");
    Near(ry, std::sqrt(sy / n) * 1000.0, 0.006, 0, "rms y");
    Near(rxy, std::sqrt((sx + sy) / (2 * n)) * 1000.0, 0.006, 0, "rms xy");
    Near(sigma0, sum.sigma0, 0.0006, 0, "sigma0");
    EXPECT_EQ(dof, observations + constraints - parameters);
    EXPECT_EQ(dof, sum.GetDegreesOfFreedom());
    EXPECT_EQ(observations, sum.observations);
    EXPECT_EQ(parameters, sum.parameters);
    EXPECT_EQ(constraints, sum.constraints);
    // Two equations per used ray (and one per bar with rigorous scaling).
    int usedRays = 0;
    for (int i = 0; i < net.points.GetSize(); ++i)
        usedRays += net.points.GetAt(i)->inUse ? net.points.GetAt(i)->usedRayCount : 0;
    EXPECT_EQ(observations, 2 * usedRays + (scaling == 2 ? 2 : 0));

    // Standard errors of the points from their covariances.
    const bool both = net.settings.standardFolding;
    const int table = IndexOf(b, both ? "           Label    sX     sY     sZ      sX     sY     sZ     RMS  Rays  "
                                        "123456789012345678901234567890"
                                      : "           Label    sX     sY     sZ     RMS  Rays  "
                                        "123456789012345678901234567890");
    ASSERT_GT(table, 0);
    int rows = 0;
    for (size_t l = static_cast<size_t>(table) + 1; l < b.size() && !b[l].empty(); ++l, ++rows) {
        char label[32], sight[64];
        double lim[3] = {0, 0, 0}, tot[3], rms;
        int rays;
        const int fields =
            both ? std::sscanf(b[l].c_str(), "%31s%lf%lf%lf%lf%lf%lf%lf%d %63s", label, &lim[0], &lim[1], &lim[2],
                               &tot[0], &tot[1], &tot[2], &rms, &rays, sight)
                 : std::sscanf(b[l].c_str(), "%31s%lf%lf%lf%lf%d %63s", label, &tot[0], &tot[1], &tot[2], &rms, &rays,
                               sight);
        ASSERT_EQ(fields, both ? 10 : 7) << b[l];

        const CObjectPoint* p = net.points.FindPointByText(label);
        ASSERT_NE(p, nullptr);
        for (int a = 0; a < 3; ++a) {
            Near(tot[a], Root(p->covariance.GetAt(a, a)), 0.6e-4, 0, b[l]);
            if (both) {
                Near(lim[a], Root(p->limitingCovariance.GetAt(a, a)), 0.6e-4, 0, b[l]);
                EXPECT_LE(lim[a], tot[a] + 1e-4) << b[l];
            }
        }
        EXPECT_GT(tot[0] + tot[1] + tot[2], 0.0) << b[l];
        EXPECT_EQ(rays, p->usedRayCount);
        EXPECT_EQ(std::string(sight), Sightings(net, *p));
    }
    EXPECT_EQ(rows, net.points.GetUsedCount());
    // Rejections: the labels of every image's rejected rays and their count.
    const int rej = IndexOf(b, "Image Coordinate Rejections");
    ASSERT_GT(rej, 0);
    for (int j = 0; j < net.imageList.GetSize(); ++j) {
        const CProjectImage* image = net.imageList.GetAt(j);
        const int at = IndexOf(b, std::string("Image Number ") + image->name.GetText());
        ASSERT_GT(at, rej);
        std::string expected;
        for (int k = 0; k < image->targets.GetSize(); ++k)
            if (image->targets.GetAt(k)->rejected)
                expected += std::string(" ") + image->targets.GetAt(k)->label.GetText();
        const std::string& next = b[static_cast<size_t>(at) + 1];
        EXPECT_EQ(next.rfind("Total Rejections", 0) == 0 ? std::string() : next, expected) << image->name.GetText();
    }
    EXPECT_EQ(b.back(), "Total Rejections   " + std::to_string(rejected));
}

void CheckCameraReport(Project& pr, const CMatrix& q)
{
    Network& net = pr.net;
    std::vector<std::string> c;
    ASSERT_TRUE(pr.Read("Camera.txt", c));
    for (int k = 0; k < 2; ++k) {
        const CCamera* camera = net.cameras.GetAt(k);
        const int block = IndexOf(c, "Results for Camera " + std::to_string(k + 1) + "    " +
                                         camera->identifier.GetText() + "      Lens ");
        ASSERT_GT(block, 0);
        for (int p = 0; p < 10; ++p) {
            const std::string& line = c[static_cast<size_t>(block + 8 + p)];
            double initial, total, value, apriori, error;
            ASSERT_EQ(std::sscanf(line.c_str() + 5, "%lf%lf%lf%lf%lf", &initial, &total, &value, &apriori, &error), 5)
                << line;
            Near(value, camera->parameters[p], 0.6e-4, 1e-5, line);
            Near(error, camera->postSigmas[p], 1e-30, 1e-3, line);
            // The posterior sigma from the cofactors of the camera's unknowns.
            Near(error, std::sqrt(q.GetAt(10 * k + p, 10 * k + p)) * net.summary.sigma0, 1e-30, 1e-3, line);
            if (p != CAM_K3) {
                EXPECT_GT(error, 0.0) << line;
            }
        }
        // Adjusted close to the camera the observations were made with.
        Near(camera->parameters[CAM_C], net.TrueCamera(k, CAM_C), 5e-3, 0, "principal distance");
    }
    const int eo = IndexOf(c, "Station       Image         Xc          Yc          Zc       Alpha       Elev.        Roll");
    ASSERT_GT(eo, 0);
    for (int j = 0; j < 8; ++j) {
        int number = 0;
        char name[32];
        double X, Y, Z, az, el, roll;
        ASSERT_EQ(std::sscanf(c[static_cast<size_t>(eo + 1 + j)].c_str(), "%d%31s%lf%lf%lf%lf%lf%lf", &number, name, &X,
                              &Y, &Z, &az, &el, &roll),
                  8);
        const CProjectImage* image = net.imageList.GetAt(j);
        EXPECT_EQ(number, j + 1);
        EXPECT_STREQ(name, image->name.GetText());
        Near(X, image->X, 0.6e-5, 0, name);
        Near(Y, image->Y, 0.6e-5, 0, name);
        Near(Z, image->Z, 0.6e-5, 0, name);
        Near(az, image->GetAzimuth() * Deg(), 0.6e-6, 0, name);
        Near(el, image->GetElevation() * Deg(), 0.6e-6, 0, name);
        Near(roll, image->GetRoll() * Deg(), 0.6e-6, 0, name);
        const Pose& t = net.truePoses[static_cast<size_t>(j)];
        Near(X, t.X[0], net.settings.freeNetwork ? 0.05 : 0.005, 0, name);
    }
}

void CheckResidualsReport(Project& pr)
{
    Network& net = pr.net;
    std::vector<std::string> r;
    ASSERT_TRUE(pr.Read("Residuals.txt", r));
    // Every rejected ray is starred in the residual table.
    int stars = 0;
    for (const std::string& line : r)
        for (size_t at = line.find('*'); at != std::string::npos; at = line.find('*', at + 1))
            ++stars;
    int rejected = 0;
    for (int j = 0; j < net.imageList.GetSize(); ++j)
        for (int k = 0; k < net.imageList.GetAt(j)->targets.GetSize(); ++k)
            rejected += net.imageList.GetAt(j)->targets.GetAt(k)->rejected ? 1 : 0;
    EXPECT_EQ(stars, 2 * rejected + 3); // and the three of the adjustment line

    const int control = IndexOf(r, "Control Point Residuals");
    if (net.settings.freeNetwork) {
        EXPECT_EQ(control, -1);
        return;
    }
    ASSERT_GT(control, 0);
    // Label in 20 columns, coordinates in 8, residuals and sigmas in 11.
    int rows = 0;
    for (size_t l = static_cast<size_t>(control) + 5; l < r.size() && r[l].size() >= 20 + 24 + 66; ++l, ++rows) {
        const std::string& line = r[l];
        char label[32];
        ASSERT_EQ(std::sscanf(line.substr(0, 20).c_str(), "%31s", label), 1);
        const CObjectPoint* c = net.control.FindPointByText(label);
        const CObjectPoint* p = net.points.FindPointByText(label);
        ASSERT_TRUE(c != nullptr && p != nullptr) << line;
        const double adjusted[3] = {p->x, p->y, p->z};
        const double given[3] = {c->x, c->y, c->z};
        for (int a = 0; a < 3; ++a) {
            Near(std::atof(line.substr(20 + 8 * a, 8).c_str()), given[a], 0.6e-3, 0, line);
            Near(std::atof(line.substr(44 + 11 * a, 11).c_str()), std::fabs(adjusted[a] - given[a]), 0.6e-4, 0, line);
            Near(std::atof(line.substr(77 + 11 * a, 11).c_str()), Root(p->limitingCovariance.GetAt(a, a)), 0.6e-4, 0,
                 line);
        }
    }
    EXPECT_EQ(rows, net.control.GetSize());
}

// The cofactors printed as correlations; under standard folding the
// station unknowns of image k follow the ten unknowns of both cameras.
void CheckCorrelationsReport(Project& pr, const CMatrix& q)
{
    Network& net = pr.net;
    std::vector<std::string> c;
    ASSERT_TRUE(pr.Read("Correlations.txt", c));
    const int camera = IndexOf(c, "Camera Correlation Matrix");
    ASSERT_GT(camera, 0);
    double largest = 0.0;
    for (int r = 0; r < 10; ++r) {
        const std::string& line = c[static_cast<size_t>(camera + 4 + r)];
        ASSERT_GE(line.size(), static_cast<size_t>(2 + 8 * 10 - 2)) << line;
        for (int j = r; j < 10; ++j) {
            const double v = std::atof(line.substr(static_cast<size_t>(2 + 8 * j), 6).c_str());
            Near(v, Correlation(q, r, j), 0.0006, 0, line);
            if (j > r)
                largest = std::max(largest, std::fabs(v));
        }
        EXPECT_EQ(line.substr(static_cast<size_t>(2 + 8 * r), 6), " 1.000") << line;
    }
    EXPECT_GT(largest, 0.1); // self-calibration correlates C, K1 and the stations

    if (!net.settings.standardFolding) {
        EXPECT_NE(IndexOf(c, "     Unavailable for Reverse Foldin"), -1);
        return;
    }
    const int nCam = net.cameras.GetSize();
    double stationLargest = 0.0;
    for (int k = 0; k < 8; ++k) {
        const CProjectImage* image = net.imageList.GetAt(k);
        const int at = IndexOf(c, "Image " + std::to_string(k + 1) + ":  " + image->name.GetText() + ".tif");
        ASSERT_GT(at, 0);
        const int first = 10 * nCam + 6 * k;
        for (int r = 0; r < 10; ++r) {
            const std::string& line = c[static_cast<size_t>(at + 5 + r)];
            ASSERT_GE(line.size(), static_cast<size_t>(4 + 8 * 6 - 2)) << line;
            for (int a = 0; a < 6; ++a) {
                const double v = std::atof(line.substr(static_cast<size_t>(4 + 8 * a), 6).c_str());
                Near(v, Correlation(q, r, first + a), 0.0006, 0, line);
                stationLargest = std::max(stationLargest, std::fabs(v));
            }
        }
    }
    EXPECT_GT(stationLargest, 0.1);
}

// Per record a name line, three rows of "%12.9f  " and a blank line.
void CheckCovarianceFile(Project& pr, const char* name, bool stations)
{
    Network& net = pr.net;
    std::vector<std::string> f;
    ASSERT_TRUE(pr.Read(name, f));
    const int count = stations ? net.imageList.GetSize() : net.points.GetSize();
    ASSERT_EQ(static_cast<int>(f.size()), 5 + 5 * count + 1);
    for (int i = 0; i < count; ++i) {
        const size_t at = static_cast<size_t>(5 + 5 * i);
        const CMatrix* m;
        std::string title;
        if (stations) {
            m = &net.imageList.GetAt(i)->GetCovariance();
            title = std::string(net.imageList.GetAt(i)->name.GetText()) + ".tif";
        } else {
            m = &net.points.GetAt(i)->covariance;
            title = net.points.GetAt(i)->label.GetText();
        }
        EXPECT_EQ(f[at], title);
        double trace = 0.0;
        for (int r = 0; r < 3; ++r) {
            double v[3];
            ASSERT_EQ(std::sscanf(f[at + 1 + r].c_str(), "%lf%lf%lf", &v[0], &v[1], &v[2]), 3) << f[at + 1 + r];
            for (int col = 0; col < 3; ++col)
                Near(v[col], m->GetAt(r, col), 0.6e-9, 0, title);
            trace += v[r];
        }
        if (!stations && !net.points.GetAt(i)->inUse)
            continue;
        EXPECT_GT(trace, 0.0) << title;
    }
}

int CountRejected(Network& net)
{
    int n = 0;
    for (int j = 0; j < net.imageList.GetSize(); ++j)
        for (int k = 0; k < net.imageList.GetAt(j)->targets.GetSize(); ++k)
            n += net.imageList.GetAt(j)->targets.GetAt(k)->rejected ? 1 : 0;
    return n;
}

void CheckAllReports(Project& pr, const CAdjustmentEngine& engine)
{
    for (const char* name : kReports) {
        std::string text;
        EXPECT_TRUE(reporttest::ReadFile(pr.folder.File(name), text)) << name << " not written";
    }
    int order = 0;
    const CMatrix* q = engine.GetCofactors(order);
    ASSERT_NE(q, nullptr);
    ASSERT_EQ(order, engine.reducedCount);
    const int rejected = CountRejected(pr.net);
    EXPECT_GE(rejected, 2);
    for (const CImageObservation* g : pr.gross)
        EXPECT_TRUE(g->rejected);
    CheckBundleReport(pr, rejected);
    CheckCameraReport(pr, *q);
    CheckResidualsReport(pr);
    CheckCorrelationsReport(pr, *q);
    CheckCovarianceFile(pr, "PointsQxx.txt", false);
    CheckCovarianceFile(pr, "StationsQxx.txt", true);
}

} // namespace

TEST(BundleReportRun, ControlNetworkRunWritesSixReportsOfItsResults)
{
    Project pr(false);
    CAdjustmentEngine engine(&pr.net.images, &pr.net.points, &pr.net.control, &pr.net.cameras, &pr.net.scaleBars,
                             &pr.net.settings, &pr.net.summary);
    ASSERT_TRUE(engine.RunBundle()) << engine.GetFailureReason();
    ASSERT_EQ(pr.net.summary.status, 1) << engine.GetFailureReason();
    ASSERT_TRUE(pr.net.settings.standardFolding);
    EXPECT_EQ(pr.net.scaleBars.scalingResult, -1);
    EXPECT_TRUE(engine.progress.IsDone());
    CheckAllReports(pr, engine);

    // The station unknowns that the correlations read are the stations':
    // their cofactors times sigma0 squared are the station covariances.
    int order = 0;
    const CMatrix* q = engine.GetCofactors(order);
    const double s2 = pr.net.summary.sigma0 * pr.net.summary.sigma0;
    for (int k = 0; k < 8; ++k)
        for (int a = 0; a < 6; ++a)
            EXPECT_NEAR(q->GetAt(20 + 6 * k + a, 20 + 6 * k + a) * s2,
                        pr.net.imageList.GetAt(k)->GetCovariance().GetAt(a, a),
                        1e-9 * pr.net.imageList.GetAt(k)->GetCovariance().GetAt(a, a));

    // The engine's correlation matrix is the one the report prints.
    CMatrix correlations;
    ASSERT_TRUE(engine.ComputeCorrelations(correlations));
    ASSERT_EQ(correlations.GetRows(), order);
    EXPECT_EQ(engine.progress.phase.load(), PHASE_CORRELATIONS);
    for (int i = 0; i < order; i += 7)
        for (int j = i; j < order; j += 5)
            EXPECT_NEAR(correlations.GetAt(i, j), Correlation(*q, i, j), 1e-12);
}

TEST(BundleReportRun, FreeNetworkOnTheJobThreadWritesReportsBeforeDone)
{
    Project pr(true);
    CBundleJob job(&pr.net.images, &pr.net.points, &pr.net.control, &pr.net.cameras, &pr.net.scaleBars,
                   &pr.net.settings, &pr.net.summary);
    job.GetProgress().Reset();
    ASSERT_TRUE(job.StartThread());
    // The done flag is the worker's last store: once it is seen, every
    // report is complete on disk.
    while (!job.GetProgress().IsDone())
        Sleep(1);
    for (const char* name : kReports) {
        std::string text;
        ASSERT_TRUE(reporttest::ReadFile(pr.folder.File(name), text)) << name;
        if (std::string(name) == "Bundle.txt") {
            EXPECT_EQ(Lines(text).back(), "Total Rejections   " + std::to_string(CountRejected(pr.net)));
        }
    }
    job.Join();
    ASSERT_EQ(pr.net.summary.status, 1) << job.GetEngine().GetFailureReason();
    ASSERT_TRUE(pr.net.settings.standardFolding);
    EXPECT_EQ(pr.net.scaleBars.scalingResult, 1);
    CheckAllReports(pr, job.GetEngine());
}

TEST(BundleReportRun, RigorousScalingRunPrintsTotalErrorsAndBarResults)
{
    Project pr(true, true);
    CAdjustmentEngine engine(&pr.net.images, &pr.net.points, &pr.net.control, &pr.net.cameras, &pr.net.scaleBars,
                             &pr.net.settings, &pr.net.summary);
    ASSERT_TRUE(engine.RunBundle()) << engine.GetFailureReason();
    ASSERT_EQ(pr.net.summary.status, 1) << engine.GetFailureReason();
    ASSERT_FALSE(pr.net.settings.standardFolding);
    EXPECT_EQ(pr.net.scaleBars.scalingResult, 2);
    CheckAllReports(pr, engine);
}

TEST(BundleReportRun, FailedRunsAndProjectsWithoutFolderWriteAsTheyShould)
{
    // A failed run still writes "Bundle.txt", but no correlations without
    // an inverse.
    {
        Project pr(false);
        pr.net.settings.rejectionLimit = 1e-9; // every ray rejected
        CAdjustmentEngine engine(&pr.net.images, &pr.net.points, &pr.net.control, &pr.net.cameras,
                                 &pr.net.scaleBars, &pr.net.settings, &pr.net.summary);
        ASSERT_TRUE(engine.RunBundle());
        EXPECT_EQ(pr.net.summary.status, 2);
        int order = 0;
        EXPECT_EQ(engine.GetCofactors(order), nullptr);
        std::string text;
        EXPECT_TRUE(reporttest::ReadFile(pr.folder.File("Bundle.txt"), text));
        EXPECT_TRUE(reporttest::ReadFile(pr.folder.File("Camera.txt"), text));
        EXPECT_FALSE(reporttest::ReadFile(pr.folder.File("Correlations.txt"), text));
        EXPECT_TRUE(engine.progress.IsDone());
    }
    // A project path without a folder: the run writes nothing anywhere.
    {
        Project pr(false);
        char previous[4096];
        ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
        ASSERT_EQ(chdir(pr.folder.Path().c_str()), 0);
        pr.net.settings.SetProjectPath("ring.kst");
        CAdjustmentEngine engine(&pr.net.images, &pr.net.points, &pr.net.control, &pr.net.cameras,
                                 &pr.net.scaleBars, &pr.net.settings, &pr.net.summary);
        ASSERT_TRUE(engine.RunBundle());
        EXPECT_EQ(pr.net.summary.status, 1);
        EXPECT_TRUE(engine.progress.IsDone());
        ASSERT_EQ(chdir(previous), 0);
        for (const char* name : kReports) {
            std::string text;
            EXPECT_FALSE(reporttest::ReadFile(pr.folder.File(name), text)) << name;
            EXPECT_FALSE(reporttest::ReadFile(std::string("/") + name, text)) << name;
        }
    }
}
