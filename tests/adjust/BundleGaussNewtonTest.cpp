// The engine against an independent Gauss-Newton adjustment written here:
// dense matrices, no folding, every camera, station and point parameter in
// one system, the same collinearity model; the partial derivatives with
// respect to the principal point are central differences of the model.
// Both must reach the same estimates, and the gradient of the weighted sum
// of squares must vanish at the engine's solution.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "AdjustmentEngine.h"
#include "BundleNetwork.h"
#include "NumericDerivative.h"
#include "SyntheticScene.h"

using namespace bundletest;

namespace {

using Matrix = std::vector<std::vector<double>>;

// Solves A x = b by Gaussian elimination with partial pivoting.
std::vector<double> Solve(Matrix A, std::vector<double> b)
{
    const size_t n = b.size();
    for (size_t c = 0; c < n; ++c) {
        size_t best = c;
        for (size_t r = c + 1; r < n; ++r)
            if (std::fabs(A[r][c]) > std::fabs(A[best][c]))
                best = r;
        std::swap(A[c], A[best]);
        std::swap(b[c], b[best]);
        for (size_t r = c + 1; r < n; ++r) {
            const double f = A[r][c] / A[c][c];
            if (f == 0.0)
                continue;
            for (size_t k = c; k < n; ++k)
                A[r][k] -= f * A[c][k];
            b[r] -= f * b[c];
        }
    }
    std::vector<double> x(n);
    for (size_t i = n; i-- > 0;) {
        double s = b[i];
        for (size_t k = i + 1; k < n; ++k)
            s -= A[i][k] * x[k];
        x[i] = s / A[i][i];
    }
    return x;
}

struct Observation {
    int image, point;
    double x, y, sx, sy;
};

// The whole adjustment in one dense system.
class DenseBundle {
public:
    // start: the coordinates the points start from, in the truth's order.
    DenseBundle(const Network& net, bool freeNetwork, const std::vector<double>& startPoints) : free(freeNetwork)
    {
        nCam = net.cameras.GetSize();
        nSta = net.images.GetSize();
        nPt = net.truth.GetSize();
        for (int k = 0; k < nCam; ++k)
            for (int q = 0; q < 10; ++q) {
                p.push_back(net.cameras.GetAt(k)->parameters[q]);
                sigma.push_back(net.cameras.GetAt(k)->sigmas[q]);
            }
        for (int j = 0; j < nSta; ++j) {
            const CProjectImage* im = net.images.GetAt(j);
            const double v[6] = {im->X, im->Y, im->Z, im->GetAzimuth(), im->GetElevation(), im->GetRoll()};
            for (double x : v) {
                p.push_back(x);
                sigma.push_back(1000.0);
            }
            cameraOf.push_back(net.cameras.FindIndexByName(im->GetCameraName().GetText()));
            for (int o = 0; o < im->targets.GetSize(); ++o) {
                const CImageObservation* ob = im->targets.GetAt(o);
                const int i = net.truth.IndexOfLabel(ob->label);
                obs.push_back(Observation{j, i, ob->x, ob->y, ob->sigmaX, ob->sigmaY});
            }
        }
        for (int i = 0; i < nPt; ++i) {
            const CObjectPoint* t = net.truth.GetAt(i);
            const double* v = &startPoints[3 * static_cast<size_t>(i)];
            const int c = net.control.IndexOfLabel(t->label);
            for (int a = 0; a < 3; ++a) {
                p.push_back(c >= 0 ? (&net.control.GetAt(c)->x)[a] : v[a]);
                sigma.push_back(c >= 0 && !free ? net.control.GetAt(c)->aprioriSigma[a] : 1000.0);
            }
        }
        start = p;
        u = p.size();
    }

    // One Gauss-Newton step; returns the largest correction.
    double Step()
    {
        const size_t m = u + (free ? 7 : 0);
        Matrix N(m, std::vector<double>(m, 0.0));
        std::vector<double> rhs(m, 0.0);
        vv = 0.0;
        for (const Observation& o : obs) {
            double row[2][19 + 0];
            size_t col[19];
            double l[2];
            Equations(o, row, col, l);
            for (int r = 0; r < 2; ++r) {
                vv += l[r] * l[r];
                for (int a = 0; a < 19; ++a) {
                    rhs[col[a]] += row[r][a] * l[r];
                    for (int b = 0; b < 19; ++b)
                        N[col[a]][col[b]] += row[r][a] * row[r][b];
                }
            }
        }
        constraintSum = 0.0;
        for (size_t i = 0; i < u; ++i) {
            if (!(sigma[i] < 1000.0))
                continue;
            const double w = 1.0 / (sigma[i] * sigma[i]);
            N[i][i] += w;
            rhs[i] += w * (p[i] - start[i]);
            if (i >= PointBase())
                constraintSum += w * (p[i] - start[i]) * (p[i] - start[i]);
        }
        if (free) {
            for (int i = 0; i < nPt; ++i) {
                const size_t b = PointBase() + 3 * i;
                const double X = p[b], Y = p[b + 1], Z = p[b + 2];
                const double g[7][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, Z, -Y}, {-Z, 0, X}, {Y, -X, 0}, {X, Y, Z}};
                for (int r = 0; r < 7; ++r)
                    for (int a = 0; a < 3; ++a) {
                        N[u + r][b + a] = g[r][a];
                        N[b + a][u + r] = g[r][a];
                    }
            }
        }
        normal = N;
        const std::vector<double> d = Solve(N, rhs);
        double largest = 0.0;
        for (size_t i = 0; i < u; ++i) {
            p[i] -= d[i];
            largest = std::max(largest, std::fabs(d[i]));
        }
        return largest;
    }

    // The gradient of the weighted sum of squares (halved) at the present
    // parameters, each element divided by the length of its column of the
    // weighted design matrix and by the root of the sum of squares: the
    // cosine between the column and the misclosures, zero at the minimum.
    // Parameters held fixed are left out (0).
    std::vector<double> NormalisedGradient() const
    {
        std::vector<double> g(u, 0.0), column(u, 0.0);
        double sum = 0.0;
        for (const Observation& o : obs) {
            double row[2][19];
            size_t col[19];
            double l[2];
            Equations(o, row, col, l);
            for (int r = 0; r < 2; ++r) {
                sum += l[r] * l[r];
                for (int a = 0; a < 19; ++a) {
                    g[col[a]] += row[r][a] * l[r];
                    column[col[a]] += row[r][a] * row[r][a];
                }
            }
        }
        for (size_t i = 0; i < u; ++i) {
            if (!(sigma[i] < 1000.0))
                continue;
            const double w = 1.0 / (sigma[i] * sigma[i]);
            g[i] += w * (p[i] - start[i]);
            column[i] += w;
            sum += w * (p[i] - start[i]) * (p[i] - start[i]);
        }
        for (size_t i = 0; i < u; ++i)
            g[i] = sigma[i] < 1e-10 ? 0.0 : g[i] / std::sqrt(column[i] * sum);
        return g;
    }

    // Standard deviations of the parameters from the last normal matrix.
    std::vector<double> Sigmas(double sigma0) const
    {
        std::vector<double> s(u);
        const size_t m = normal.size();
        for (size_t i = 0; i < u; ++i) {
            std::vector<double> e(m, 0.0);
            e[i] = 1.0;
            const std::vector<double> q = Solve(normal, e);
            s[i] = sigma0 * std::sqrt(std::max(q[i], 0.0));
        }
        return s;
    }

    int Constraints() const
    {
        int n = free ? 7 : 0;
        for (size_t i = 0; i < u; ++i)
            n += i < PointBase() ? (sigma[i] < 1000.0) : (sigma[i] <= 0.05);
        return n;
    }

    size_t PointBase() const { return static_cast<size_t>(10 * nCam + 6 * nSta); }

    bool free;
    int nCam, nSta, nPt;
    size_t u;
    std::vector<double> p, start, sigma;
    std::vector<int> cameraOf;
    std::vector<Observation> obs;
    Matrix normal;
    double vv = 0.0;
    double constraintSum = 0.0;

private:
    // The unweighted misclosures (measured minus computed, after the
    // distortion correction) of an observation at the parameters q.
    void Misclosure(const Observation& o, const std::vector<double>& q, double& lx, double& ly) const
    {
        const size_t c0 = 10 * static_cast<size_t>(cameraOf[static_cast<size_t>(o.image)]);
        const size_t s0 = static_cast<size_t>(10 * nCam + 6 * o.image);
        const size_t p0 = PointBase() + 3 * static_cast<size_t>(o.point);
        const double* cam = &q[c0];
        const double c = cam[0], XP = cam[1], YP = cam[2], K1 = cam[3], K2 = cam[4], K3 = cam[5], P1 = cam[6],
                     P2 = cam[7], B1 = cam[8], B2 = cam[9];
        const double* st = &q[s0];
        double R[3][3];
        CSyntheticScene::RotationFromAngles(st[3], st[4], st[5], R);
        const double xr = o.x - XP, yr = o.y - YP, r2 = xr * xr + yr * yr;
        const double dr = K1 * r2 + K2 * r2 * r2 + K3 * r2 * r2 * r2;
        const double xc = xr + xr * dr + B1 * xr + B2 * yr + P1 * (r2 + 2 * xr * xr) + 2 * P2 * xr * yr;
        const double yc = yr + yr * dr + P2 * (r2 + 2 * yr * yr) + 2 * P1 * xr * yr;
        const double dX = q[p0] - st[0], dY = q[p0 + 1] - st[1], dZ = q[p0 + 2] - st[2];
        const double U = R[0][0] * dX + R[0][1] * dY + R[0][2] * dZ;
        const double V = R[1][0] * dX + R[1][1] * dY + R[1][2] * dZ;
        const double W = R[2][0] * dX + R[2][1] * dY + R[2][2] * dZ;
        lx = xc + c * U / W;
        ly = yc + c * V / W;
    }

    // The two weighted rows of one observation over its 19 parameters.
    void Equations(const Observation& o, double row[2][19], size_t col[19], double l[2]) const
    {
        const int k = cameraOf[static_cast<size_t>(o.image)];
        const size_t c0 = 10 * static_cast<size_t>(k);
        const size_t s0 = static_cast<size_t>(10 * nCam + 6 * o.image);
        const size_t p0 = PointBase() + 3 * static_cast<size_t>(o.point);
        for (int a = 0; a < 10; ++a)
            col[a] = c0 + a;
        for (int a = 0; a < 6; ++a)
            col[10 + a] = s0 + a;
        for (int a = 0; a < 3; ++a)
            col[16 + a] = p0 + a;
        const double* cam = &p[c0];
        const double c = cam[0], XP = cam[1], YP = cam[2];
        const double* st = &p[s0];
        double R[3][3];
        CSyntheticScene::RotationFromAngles(st[3], st[4], st[5], R);
        const double rho = st[5];
        const double xr = o.x - XP, yr = o.y - YP, r2 = xr * xr + yr * yr;
        const double dX = p[p0] - st[0], dY = p[p0 + 1] - st[1], dZ = p[p0 + 2] - st[2];
        const double U = R[0][0] * dX + R[0][1] * dY + R[0][2] * dZ;
        const double V = R[1][0] * dX + R[1][1] * dY + R[1][2] * dZ;
        const double W = R[2][0] * dX + R[2][1] * dY + R[2][2] * dZ;
        const double wx = 1.0 / o.sx, wy = 1.0 / o.sy, kk = c / W, sr = std::sin(rho), cr = std::cos(rho);
        double ax[10] = {U / W, 0, 0, xr * r2, xr * r2 * r2, xr * r2 * r2 * r2, 2 * xr * xr + r2,
                         2 * xr * yr, xr, yr};
        double ay[10] = {V / W, 0, 0, yr * r2, yr * r2 * r2, yr * r2 * r2 * r2, 2 * xr * yr,
                         2 * yr * yr + r2, 0, 0};
        // The principal point by central differences of the model.
        for (int a = 1; a <= 2; ++a) {
            auto misclosure = [&](int row) {
                return [&, row](double v) {
                    std::vector<double> q = p;
                    q[c0 + a] = v;
                    double mx, my;
                    Misclosure(o, q, mx, my);
                    return row == 0 ? mx : my;
                };
            };
            ax[a] = kestrelon::test::CentralDerivative(misclosure(0), p[c0 + a], 1e-4);
            ay[a] = kestrelon::test::CentralDerivative(misclosure(1), p[c0 + a], 1e-4);
        }
        double bx[6], by[6];
        for (int i = 0; i < 3; ++i) {
            bx[i] = (U / W * R[2][i] - R[0][i]) * kk;
            by[i] = (V / W * R[2][i] - R[1][i]) * kk;
        }
        bx[3] = -((dX * R[0][1] - dY * R[0][0]) - (dX * R[2][1] - dY * R[2][0]) * U / W) * kk;
        by[3] = -((dX * R[1][1] - dY * R[1][0]) - (dX * R[2][1] - dY * R[2][0]) * V / W) * kk;
        bx[4] = (U / W * (U * sr + V * cr) + W * sr) * kk;
        by[4] = ((U * sr + V * cr) * V / W + W * cr) * kk;
        bx[5] = c * V / W;
        by[5] = -c * U / W;
        for (int a = 0; a < 10; ++a) {
            row[0][a] = ax[a] * wx;
            row[1][a] = ay[a] * wy;
        }
        for (int a = 0; a < 6; ++a) {
            row[0][10 + a] = bx[a] * wx;
            row[1][10 + a] = by[a] * wy;
        }
        for (int a = 0; a < 3; ++a) {
            row[0][16 + a] = -bx[a] * wx;
            row[1][16 + a] = -by[a] * wy;
        }
        double lx, ly;
        Misclosure(o, p, lx, ly);
        l[0] = lx * wx;
        l[1] = ly * wy;
    }
};

double AngleDifference(double a, double b)
{
    return std::remainder(a - b, 2.0 * M_PI);
}

// cornerDistortion: 0 for the default lenses, else the radial distortion at
// the sensor corner (the start values have none).
void CompareWithDense(bool freeNetwork, int cameras, double cornerDistortion)
{
    Network net;
    NetworkOptions o;
    o.seed = freeNetwork ? 21 : 22;
    o.noise = 0.001;
    o.cornerDistortion = cornerDistortion;
    BuildRing(net, 5, 30, o, cameras);
    if (!freeNetwork)
        AddControl(net, 4, 0.002);
    net.settings.convergenceLimit = 1e-14;
    net.settings.maxIterations = 60;
    // No ray may be rejected: the start has no distortion.
    net.settings.rejectionLimit = 10.0;

    // A free network's result depends on where the points start (its datum
    // is that of the start), so both start from the engine's first
    // triangulation of the points.
    std::vector<double> startPoints;
    {
        CAdjustmentEngine first(&net.images, &net.points, freeNetwork ? nullptr : &net.control, &net.cameras,
                                &net.scaleBars, &net.settings, &net.summary);
        ASSERT_TRUE(first.Prepare());
        int count = 0;
        double rms = 0.0;
        ASSERT_TRUE(first.TriangulateAll(count, rms, 0));
        ASSERT_EQ(count, net.truth.GetSize());
        for (int i = 0; i < net.truth.GetSize(); ++i) {
            const CObjectPoint* pt = net.points.FindPoint(net.truth.GetAt(i)->label);
            ASSERT_NE(pt, nullptr);
            startPoints.insert(startPoints.end(), {pt->x, pt->y, pt->z});
        }
    }
    DenseBundle dense(net, freeNetwork, startPoints);
    double change = 1.0;
    for (int it = 0; it < 60 && change > 1e-14; ++it)
        change = dense.Step();
    // The differences leave the corrections at a rounding noise of about 1e-11.
    ASSERT_LT(change, 1e-10);
    const int dof = 2 * static_cast<int>(dense.obs.size()) + dense.Constraints() - static_cast<int>(dense.u);
    const double sigma0 = std::sqrt((dense.vv + dense.constraintSum) / dof);
    const std::vector<double> s = dense.Sigmas(sigma0);

    CAdjustmentEngine engine(&net.images, &net.points, freeNetwork ? nullptr : &net.control, &net.cameras,
                             &net.scaleBars, &net.settings, &net.summary);
    ASSERT_TRUE(engine.RunBundle());
    ASSERT_EQ(net.summary.status, 1) << engine.GetFailureReason();
    EXPECT_EQ(net.summary.GetDegreesOfFreedom(), dof);
    EXPECT_LT(std::fabs(net.summary.sigma0 - sigma0), 1e-6 * sigma0 / std::sqrt(2.0 * dof));

    for (int k = 0; k < dense.nCam; ++k)
        for (int q = 0; q < 10; ++q) {
            if (q == CAM_K3)
                continue; // held fixed
            const size_t i = 10 * static_cast<size_t>(k) + q;
            EXPECT_LT(std::fabs(net.cameras.GetAt(k)->parameters[q] - dense.p[i]), 1e-6 * s[i])
                << "camera " << k << " parameter " << q;
        }
    for (int j = 0; j < dense.nSta; ++j) {
        const CProjectImage* im = net.images.GetAt(j);
        const size_t b = static_cast<size_t>(10 * dense.nCam + 6 * j);
        const double diff[6] = {im->X - dense.p[b], im->Y - dense.p[b + 1], im->Z - dense.p[b + 2],
                                AngleDifference(im->GetAzimuth(), dense.p[b + 3]),
                                AngleDifference(im->GetElevation(), dense.p[b + 4]),
                                AngleDifference(im->GetRoll(), dense.p[b + 5])};
        for (int a = 0; a < 6; ++a)
            EXPECT_LT(std::fabs(diff[a]), 1e-6 * s[b + a]) << "station " << j << " parameter " << a;
    }
    ASSERT_EQ(net.points.GetSize(), dense.nPt);
    for (int i = 0; i < dense.nPt; ++i) {
        const CObjectPoint* pt = net.points.FindPoint(net.truth.GetAt(i)->label);
        ASSERT_NE(pt, nullptr);
        const size_t b = dense.PointBase() + 3 * static_cast<size_t>(i);
        EXPECT_LT(std::fabs(pt->x - dense.p[b]), 1e-6 * s[b]) << "point " << i;
        EXPECT_LT(std::fabs(pt->y - dense.p[b + 1]), 1e-6 * s[b + 1]) << "point " << i;
        EXPECT_LT(std::fabs(pt->z - dense.p[b + 2]), 1e-6 * s[b + 2]) << "point " << i;
    }

    // The gradient at the engine's own solution.
    for (int k = 0; k < dense.nCam; ++k)
        for (int q = 0; q < 10; ++q)
            dense.p[10 * static_cast<size_t>(k) + q] = net.cameras.GetAt(k)->parameters[q];
    for (int j = 0; j < dense.nSta; ++j) {
        const CProjectImage* im = net.images.GetAt(j);
        const double v[6] = {im->X, im->Y, im->Z, im->GetAzimuth(), im->GetElevation(), im->GetRoll()};
        for (int a = 0; a < 6; ++a)
            dense.p[static_cast<size_t>(10 * dense.nCam + 6 * j + a)] = v[a];
    }
    for (int i = 0; i < dense.nPt; ++i) {
        const CObjectPoint* pt = net.points.FindPoint(net.truth.GetAt(i)->label);
        const size_t b = dense.PointBase() + 3 * static_cast<size_t>(i);
        dense.p[b] = pt->x;
        dense.p[b + 1] = pt->y;
        dense.p[b + 2] = pt->z;
    }
    const std::vector<double> g = dense.NormalisedGradient();
    for (size_t i = 0; i < g.size(); ++i)
        EXPECT_LT(std::fabs(g[i]), 1e-9) << "parameter " << i;
}

} // namespace

TEST(BundleGaussNewton, ControlNetworkAgreesWithDenseAdjustment)
{
    for (double distortion : {0.0, 0.08}) {
        SCOPED_TRACE(distortion);
        CompareWithDense(false, 1, distortion);
    }
}

TEST(BundleGaussNewton, FreeNetworkAgreesWithDenseAdjustment)
{
    for (double distortion : {0.0, 0.08}) {
        SCOPED_TRACE(distortion);
        CompareWithDense(true, 2, distortion);
    }
}
