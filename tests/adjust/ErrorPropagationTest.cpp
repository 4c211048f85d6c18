// Covariances of stations and points after a run against a dense
// computation: every camera, station and point unknown in one normal
// matrix built from the rays of the converged network, inverted whole (with
// the seven inner-constraint rows bordering it for a free network).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "AdjustmentEngine.h"
#include "BundleNetwork.h"

using namespace bundletest;

namespace error_propagation_test {

namespace {

using Dense = std::vector<std::vector<double>>;

// Inverse by Gauss-Jordan elimination with partial pivoting.
Dense Inverse(Dense a)
{
    const size_t n = a.size();
    Dense inv(n, std::vector<double>(n, 0.0));
    for (size_t i = 0; i < n; ++i)
        inv[i][i] = 1.0;
    for (size_t c = 0; c < n; ++c) {
        size_t best = c;
        for (size_t r = c + 1; r < n; ++r)
            if (std::fabs(a[r][c]) > std::fabs(a[best][c]))
                best = r;
        std::swap(a[c], a[best]);
        std::swap(inv[c], inv[best]);
        const double pivot = a[c][c];
        for (size_t k = 0; k < n; ++k) {
            a[c][k] /= pivot;
            inv[c][k] /= pivot;
        }
        for (size_t r = 0; r < n; ++r) {
            const double f = a[r][c];
            if (r == c || f == 0.0)
                continue;
            for (size_t k = 0; k < n; ++k) {
                a[r][k] -= f * a[c][k];
                inv[r][k] -= f * inv[c][k];
            }
        }
    }
    return inv;
}

struct DenseCovariance {
    int nCam = 0, nSta = 0, nPt = 0;
    Dense Q;           // cofactors of all unknowns
    Dense pointAlone;  // per point, its own 3 x 3 block inverted (stations and cameras fixed)

    int Station(int j) const { return 10 * nCam + 6 * j; }
    int Point(int i) const { return 10 * nCam + 6 * nSta + 3 * i; }
};

// The full normal matrix of the rays the run used, at the adjusted values.
DenseCovariance Compute(Network& net, CAdjustmentEngine& engine, bool freeNetwork)
{
    DenseCovariance d;
    d.nCam = net.cameras.GetSize();
    d.nSta = net.images.GetSize();
    d.nPt = net.points.GetSize();
    const size_t u = static_cast<size_t>(d.Point(d.nPt));
    const size_t m = u + (freeNetwork ? 7 : 0);
    Dense N(m, std::vector<double>(m, 0.0));
    std::vector<Dense> own(static_cast<size_t>(d.nPt), Dense(3, std::vector<double>(3, 0.0)));
    for (int j = 0; j < d.nSta; ++j) {
        CProjectImage* image = net.images.GetAt(j);
        const int k = net.cameras.FindIndexByName(image->GetCameraName().GetText());
        for (int o = 0; o < image->targets.GetSize(); ++o) {
            CImageObservation obs(*image->targets.GetAt(o));
            if (obs.rejected)
                continue;
            const int i = net.points.IndexOfLabel(obs.label);
            CObjectPoint point(*net.points.GetAt(i));
            CMatrix A, B, P;
            CVector l;
            EXPECT_TRUE(engine.FormObservationEquations(*image, A, B, P, l, obs, point));
            size_t col[19];
            double row[2][19];
            for (int a = 0; a < 10; ++a)
                col[a] = static_cast<size_t>(10 * k + a);
            for (int a = 0; a < 6; ++a)
                col[10 + a] = static_cast<size_t>(d.Station(j) + a);
            for (int a = 0; a < 3; ++a)
                col[16 + a] = static_cast<size_t>(d.Point(i) + a);
            for (int r = 0; r < 2; ++r) {
                for (int a = 0; a < 10; ++a)
                    row[r][a] = A.GetAt(r, a);
                for (int a = 0; a < 6; ++a)
                    row[r][10 + a] = B.GetAt(r, a);
                for (int a = 0; a < 3; ++a)
                    row[r][16 + a] = P.GetAt(r, a);
            }
            for (int r = 0; r < 2; ++r)
                for (int a = 0; a < 19; ++a)
                    for (int b = 0; b < 19; ++b)
                        N[col[a]][col[b]] += row[r][a] * row[r][b];
            for (int r = 0; r < 2; ++r)
                for (int a = 0; a < 3; ++a)
                    for (int b = 0; b < 3; ++b)
                        own[static_cast<size_t>(i)][a][b] += row[r][16 + a] * row[r][16 + b];
        }
    }
    for (int k = 0; k < d.nCam; ++k)
        for (int q = 0; q < 10; ++q) {
            const double s = net.cameras.GetAt(k)->sigmas[q];
            if (s < 1000.0)
                N[static_cast<size_t>(10 * k + q)][static_cast<size_t>(10 * k + q)] += 1.0 / (s * s);
        }
    for (int i = 0; i < d.nPt; ++i) {
        const CObjectPoint* p = net.points.GetAt(i);
        if (freeNetwork || !p->updated)
            continue;
        for (int a = 0; a < 3; ++a) {
            const double s = p->aprioriSigma[a];
            if (s < 1000.0) {
                N[static_cast<size_t>(d.Point(i) + a)][static_cast<size_t>(d.Point(i) + a)] += 1.0 / (s * s);
                own[static_cast<size_t>(i)][a][a] += 1.0 / (s * s);
            }
        }
    }
    if (freeNetwork) {
        for (int i = 0; i < d.nPt; ++i) {
            const CObjectPoint* p = net.points.GetAt(i);
            const double X = p->x, Y = p->y, Z = p->z;
            const double g[7][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, Z, -Y}, {-Z, 0, X}, {Y, -X, 0}, {X, Y, Z}};
            for (int r = 0; r < 7; ++r)
                for (int a = 0; a < 3; ++a) {
                    N[u + static_cast<size_t>(r)][static_cast<size_t>(d.Point(i) + a)] = g[r][a];
                    N[static_cast<size_t>(d.Point(i) + a)][u + static_cast<size_t>(r)] = g[r][a];
                }
        }
    }
    d.Q = Inverse(N);
    for (int i = 0; i < d.nPt; ++i) {
        const Dense inv = Inverse(own[static_cast<size_t>(i)]);
        for (const auto& r : inv)
            d.pointAlone.push_back(r);
    }
    return d;
}

// Each element within `relative` of the geometric mean of its diagonal elements.
void ExpectBlock(const CMatrix& engine, const Dense& Q, int first, int order, double s2, double relative,
                 const char* what, int index)
{
    ASSERT_EQ(engine.GetRows(), order) << what << " " << index;
    for (int r = 0; r < order; ++r)
        for (int c = r; c < order; ++c) {
            const double want = Q[static_cast<size_t>(first + r)][static_cast<size_t>(first + c)] * s2;
            const double scale = std::sqrt(Q[static_cast<size_t>(first + r)][static_cast<size_t>(first + r)] *
                                           Q[static_cast<size_t>(first + c)][static_cast<size_t>(first + c)]) *
                                 s2;
            EXPECT_LE(std::fabs(engine.GetAt(r, c) - want), relative * scale)
                << what << " " << index << " element " << r << "," << c << ": " << engine.GetAt(r, c) << " vs "
                << want;
        }
}

struct Case {
    bool freeNetwork;
    bool reverse;
};

void CheckAgainstDense(const Case& c)
{
    Network net;
    NetworkOptions o;
    o.seed = 50 + (c.freeNetwork ? 1 : 0) + (c.reverse ? 2 : 0);
    o.noise = 0.001;
    // 5 images and 30 points fold the points; 10 images and 19 points the stations.
    if (c.reverse)
        BuildRing(net, 10, 19, o);
    else
        BuildRing(net, 5, 30, o, 2);
    if (!c.freeNetwork)
        AddControl(net, 4, 0.002);
    net.settings.convergenceLimit = 1e-13;
    net.settings.maxIterations = 60;
    net.settings.totalErrorPropagation = true;
    CAdjustmentEngine engine(&net.images, &net.points, c.freeNetwork ? nullptr : &net.control, &net.cameras,
                             &net.scaleBars, &net.settings, &net.summary);
    ASSERT_TRUE(engine.RunBundle());
    ASSERT_EQ(net.summary.status, 1) << engine.GetFailureReason();
    ASSERT_EQ(net.settings.standardFolding, !c.reverse);

    const DenseCovariance d = Compute(net, engine, c.freeNetwork);
    const double s2 = net.summary.sigma0 * net.summary.sigma0;
    for (int j = 0; j < d.nSta; ++j)
        ExpectBlock(net.images.GetAt(j)->GetCovariance(), d.Q, d.Station(j), 6, s2, 1e-6, "station", j);
    double sum[3] = {0.0, 0.0, 0.0};
    for (int i = 0; i < d.nPt; ++i) {
        const CObjectPoint* p = net.points.GetAt(i);
        ExpectBlock(p->covariance, d.Q, d.Point(i), 3, s2, 1e-6, "point", i);
        // The point alone: its own rays (and control weight), all else fixed.
        const Dense alone(d.pointAlone.begin() + 3 * i, d.pointAlone.begin() + 3 * i + 3);
        ExpectBlock(p->limitingCovariance, alone, 0, 3, s2, 1e-9, "limiting", i);
        for (int a = 0; a < 3; ++a) {
            // (In a free network the total covariance is that of the inner
            // constraints, which may be the smaller.)
            if (!c.freeNetwork) {
                EXPECT_LE(p->limitingCovariance.GetAt(a, a), p->covariance.GetAt(a, a));
            }
            sum[a] += p->covariance.GetAt(a, a);
        }
    }
    // The summary's RMS of the total standard errors over the points.
    for (int a = 0; a < 3; ++a)
        EXPECT_NEAR(net.summary.rmsTotal[a], std::sqrt(sum[a] / d.nPt), 1e-12 * std::sqrt(sum[a]));
    EXPECT_EQ(engine.progress.rmsStdErrorX.load(), net.summary.rmsTotal[0]);
    // Camera sigmas from the same inverse.
    for (int k = 0; k < d.nCam; ++k)
        for (int q = 0; q < CAM_PARAMETER_COUNT; ++q) {
            if (q == CAM_K3)
                continue; // held fixed
            const double want = std::sqrt(d.Q[static_cast<size_t>(10 * k + q)][static_cast<size_t>(10 * k + q)] * s2);
            EXPECT_NEAR(net.cameras.GetAt(k)->postSigmas[q], want, 1e-6 * want) << "camera " << k << " " << q;
        }
}

} // namespace

TEST(ErrorPropagation, ControlNetworkPointsFoldedMatchesDenseInverse)
{
    CheckAgainstDense({false, false});
}

TEST(ErrorPropagation, FreeNetworkPointsFoldedMatchesDenseBorderedInverse)
{
    CheckAgainstDense({true, false});
}

TEST(ErrorPropagation, ControlNetworkStationsFoldedMatchesDenseInverse)
{
    CheckAgainstDense({false, true});
}

TEST(ErrorPropagation, FreeNetworkStationsFoldedMatchesDenseBorderedInverse)
{
    CheckAgainstDense({true, true});
}

// Extremes of the standard errors with their labels, limiting below total,
// and the control points' discrepancies.
TEST(ErrorPropagation, ExtremesAndControlDiscrepancies)
{
    Network net;
    NetworkOptions o;
    o.noise = 0.001;
    BuildRing(net, 5, 30, o);
    AddControl(net, 5, 0.002);
    net.settings.totalErrorPropagation = true;
    CAdjustmentEngine engine(&net.images, &net.points, &net.control, &net.cameras, &net.scaleBars, &net.settings,
                             &net.summary);
    ASSERT_TRUE(engine.RunBundle());
    ASSERT_EQ(net.summary.status, 1) << engine.GetFailureReason();
    for (int a = 0; a < 3; ++a) {
        double largest = 0.0, smallest = 100.0;
        const CObjectPoint* big = nullptr;
        const CObjectPoint* small = nullptr;
        for (int i = 0; i < net.points.GetSize(); ++i) {
            const CObjectPoint* p = net.points.GetAt(i);
            const double s = std::sqrt(p->covariance.GetAt(a, a));
            if (s > largest) {
                largest = s;
                big = p;
            }
            if (s < smallest) {
                smallest = s;
                small = p;
            }
        }
        ASSERT_NE(big, nullptr);
        EXPECT_EQ(net.summary.extremes[CAdjustmentSummary::kLargestTotal][a], largest);
        EXPECT_EQ(net.summary.extremes[CAdjustmentSummary::kSmallestTotal][a], smallest);
        EXPECT_STREQ(net.summary.extremeLabels[CAdjustmentSummary::kLargestTotal][a].GetText(), big->label.GetText());
        EXPECT_STREQ(net.summary.extremeLabels[CAdjustmentSummary::kSmallestTotal][a].GetText(),
                     small->label.GetText());
        EXPECT_LE(net.summary.rmsLimiting[a], net.summary.rmsTotal[a]);
        EXPECT_GT(net.summary.rmsLimiting[a], 0.0);
    }
    // Each control point shows its discrepancy from the adjusted point.
    for (int i = 0; i < net.control.GetSize(); ++i) {
        const CObjectPoint* c = net.control.GetAt(i);
        const CObjectPoint* p = net.points.FindPoint(c->label);
        ASSERT_NE(p, nullptr);
        EXPECT_DOUBLE_EQ(c->covariance.GetAt(0, 0), (p->x - c->x) * (p->x - c->x));
        EXPECT_DOUBLE_EQ(c->covariance.GetAt(1, 1), (p->y - c->y) * (p->y - c->y));
        EXPECT_DOUBLE_EQ(c->covariance.GetAt(2, 2), (p->z - c->z) * (p->z - c->z));
    }
    int order = 0;
    ASSERT_NE(engine.GetCofactors(order), nullptr);
    EXPECT_EQ(order, engine.reducedCount);
}

// A run that fails computes nothing after the loop: no cofactors, and the
// points keep what an earlier run gave them.
TEST(ErrorPropagation, FailedRunLeavesCovariancesAlone)
{
    Network net;
    BuildRing(net, 10, 19, NetworkOptions());
    CProjectImage* image = net.images.GetAt(4);
    while (image->targets.GetSize() > 1)
        image->targets.RemoveAt(image->targets.GetSize() - 1, 1);
    CAdjustmentEngine engine(&net.images, &net.points, nullptr, &net.cameras, &net.scaleBars, &net.settings,
                             &net.summary);
    ASSERT_TRUE(engine.RunBundle());
    ASSERT_EQ(net.summary.status, 2);
    int order = -1;
    EXPECT_EQ(engine.GetCofactors(order), nullptr);
    EXPECT_EQ(order, 0);
    EXPECT_EQ(net.summary.rmsTotal[0], 0.0);
}

} // namespace error_propagation_test
