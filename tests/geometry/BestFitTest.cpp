#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>

#include "BestFitLine.h"
#include "BestFitSphere.h"
#include "FitScenes.h"

namespace {

// Points on the plane through `origin` spanned by two directions, on a
// jittered grid, with noise along the normal.
std::vector<Vec3> PlanePoints(const Vec3& origin, const Vec3& normal, int n, double extent, double noise,
                              std::mt19937& rng)
{
    std::uniform_real_distribution<double> u(-extent, extent);
    std::normal_distribution<double> g(0.0, noise);
    Vec3 e1, e2;
    PerpendicularPair(normal, e1, e2);
    std::vector<Vec3> out;
    for (int i = 0; i < n; ++i) {
        const double a = u(rng), b = u(rng), h = noise > 0 ? g(rng) : 0.0;
        Vec3 p;
        for (int k = 0; k < 3; ++k)
            p[k] = origin[k] + a * e1[k] + b * e2[k] + h * normal[k];
        out.push_back(p);
    }
    return out;
}

Vec3 Unit(Vec3 v)
{
    const double l = Norm(v);
    for (double& x : v)
        x /= l;
    return v;
}

// The fitted plane against the eigenvector plane of the points it kept.
void ExpectEigenPlane(const CBestFitPlane& plane, const CObjectPointList& list, double tolerance)
{
    const PrincipalAxes axes = ComputePrincipalAxes(list);
    const Vec3 fitted{plane.A, plane.B, plane.C};
    const double sign = Dot(fitted, axes.axes[0]) < 0 ? -1.0 : 1.0;
    for (int k = 0; k < 3; ++k)
        EXPECT_NEAR(fitted[k], sign * axes.axes[0][k], tolerance);
    const double scale = std::max(1.0, Norm(axes.centroid));
    EXPECT_NEAR(plane.D, -sign * Dot(axes.axes[0], axes.centroid), tolerance * scale);
}

} // namespace

TEST(BestFitPlane, EqualsEigenvectorPlaneNearAndThroughOrigin)
{
    struct Case {
        const char* name;
        Vec3 origin, normal;
        double noise;
    };
    const Case cases[] = {
        {"flat field Z=0", {0, 0, 0}, {0, 0, 1}, 0.0},
        {"flat field Z=0, noisy", {0, 0, 0}, {0, 0, 1}, 0.02},
        {"tilted through origin", {0, 0, 0}, Unit({1, -2, 3}), 0.05},
        {"near origin", {0.3, -0.2, 0.1}, Unit({-0.4, 0.2, 1}), 0.05},
        {"off origin", {120, 80, -40}, Unit({0.1, 0.9, 0.3}), 0.05},
    };
    std::mt19937 rng(11);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CObjectPointList list;
        AddPoints(list, PlanePoints(c.origin, c.normal, 40, 50.0, c.noise, rng));
        CBestFitPlane plane(list);
        ASSERT_TRUE(plane.Fit()) << plane.GetOutcomeId();
        EXPECT_EQ(plane.GetRejectedCount(), 0);
        ExpectEigenPlane(plane, list, 1e-9);
        // Residuals are the signed distances from the plane.
        for (int i = 0; i < plane.GetPointCount(); ++i) {
            const CObjectPoint& p = *plane.GetPoint(i);
            EXPECT_NEAR(plane.GetResidual(i), plane.A * p.x + plane.B * p.y + plane.C * p.z + plane.D, 1e-9);
        }
    }
}

TEST(BestFitPlane, RejectionSequence)
{
    std::mt19937 rng(5);
    const auto scene = PlanePoints({10, 20, 5}, Unit({0.2, 0.1, 1}), 30, 40.0, 0.01, rng);

    // One outlier: nothing is flagged in iteration 1 (cutoff 1000), the
    // outlier is flagged in iteration 2 and stays so; the plane is that of
    // the others.
    for (int iterations : {1, 2, 20}) {
        SCOPED_TRACE(iterations);
        CObjectPointList list;
        AddPoints(list, scene);
        list.GetAt(7)->z += 3.0;
        CBestFitPlane plane(list);
        plane.maxIterations = iterations;
        const bool ok = plane.Fit();
        EXPECT_EQ(plane.GetRejectedCount(), iterations == 1 ? 0 : 1);
        if (iterations > 1) {
            EXPECT_TRUE(list.GetAt(7)->unsolved);
        }
        if (iterations == 20) {
            ASSERT_TRUE(ok);
            ExpectEigenPlane(plane, list, 1e-9);
        } else {
            EXPECT_FALSE(ok);
            EXPECT_EQ(plane.GetOutcomeId(), BestFitOutcome::IDS_ADJUSTMENT_FAILED);
        }
    }

    // Two outliers with equal residuals: only the earlier one is flagged in
    // that iteration. The scene is symmetric so that both residuals are equal.
    {
        CObjectPointList list;
        std::vector<Vec3> grid;
        for (int i = -3; i <= 3; ++i)
            for (int j = -3; j <= 3; ++j)
                grid.push_back({i * 10.0, j * 10.0, 5.0});
        grid[3] [2] += 4.0; // (-30, 0)
        grid[45][2] += 4.0; // (30, 0)
        AddPoints(list, grid);
        CBestFitPlane plane(list);
        plane.maxIterations = 2;
        plane.Fit();
        EXPECT_EQ(plane.GetResidual(3), plane.GetResidual(45));
        EXPECT_TRUE(list.GetAt(3)->unsolved);
        EXPECT_FALSE(list.GetAt(45)->unsolved);
    }

    // A point flagged before the fit comes back.
    {
        CObjectPointList list;
        AddPoints(list, scene);
        list.GetAt(4)->unsolved = true;
        CBestFitPlane plane(list);
        ASSERT_TRUE(plane.Fit());
        EXPECT_FALSE(list.GetAt(4)->unsolved);
        EXPECT_EQ(plane.GetRejectedCount(), 0);
        ExpectEigenPlane(plane, list, 1e-9);
    }
}

TEST(BestFitSphere, MeetsOptimalityConditionsAndExactPointsGiveTrueSphere)
{
    const Vec3 centre{100, -50, 30};
    const double radius = 25.0;
    std::mt19937 rng(3);
    std::normal_distribution<double> g(0.0, 0.01);
    std::uniform_real_distribution<double> ang(0.0, 1.0);
    for (double noise : {0.0, 0.01}) {
        SCOPED_TRACE(noise);
        std::vector<Vec3> coords;
        // A cap, so that the centroid is not the centre.
        for (int i = 0; i < 40; ++i) {
            const double theta = 1.3 * ang(rng), phi = 6.283185307179586 * ang(rng);
            const double r = radius + (noise > 0 ? noise / 0.01 * g(rng) : 0.0);
            coords.push_back({centre[0] + r * std::sin(theta) * std::cos(phi),
                              centre[1] + r * std::sin(theta) * std::sin(phi), centre[2] + r * std::cos(theta)});
        }
        CObjectPointList list;
        AddPoints(list, coords);
        CBestFitSphere sphere(list);
        ASSERT_TRUE(sphere.Fit()) << sphere.GetOutcomeId();
        const Vec3 c{sphere.Xo, sphere.Yo, sphere.Zo};
        if (noise == 0.0) {
            for (int k = 0; k < 3; ++k)
                EXPECT_NEAR(c[k], centre[k], 1e-9 * radius);
            EXPECT_NEAR(sphere.R, radius, 1e-9 * radius);
            continue;
        }
        double sumD = 0.0;
        Vec3 grad{0, 0, 0};
        for (int i = 0; i < sphere.GetPointCount(); ++i) {
            const Vec3 d = Sub(Of(*sphere.GetPoint(i)), c);
            const double dist = Norm(d), res = dist - sphere.R;
            if (sphere.GetIterations() > 4 && std::fabs(sphere.GetResidual(i)) >= sphere.GetCutoff())
                continue;
            sumD += res;
            for (int k = 0; k < 3; ++k)
                grad[k] += res * d[k] / dist;
        }
        EXPECT_NEAR(sumD, 0.0, 1e-7 * radius);
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(grad[k], 0.0, 1e-7 * radius);
    }

    // Four points exactly on a sphere.
    CObjectPointList four;
    AddPoints(four, {{centre[0] + radius, centre[1], centre[2]},
                     {centre[0], centre[1] + radius, centre[2]},
                     {centre[0], centre[1], centre[2] + radius},
                     {centre[0] - 0.6 * radius, centre[1] - 0.8 * radius, centre[2]}});
    CBestFitSphere exact(four);
    ASSERT_TRUE(exact.Fit()) << exact.GetOutcomeId();
    EXPECT_NEAR(exact.Xo, centre[0], 1e-9 * radius);
    EXPECT_NEAR(exact.Yo, centre[1], 1e-9 * radius);
    EXPECT_NEAR(exact.Zo, centre[2], 1e-9 * radius);
    EXPECT_NEAR(exact.R, radius, 1e-9 * radius);
}

TEST(BestFitCircle, EigenvectorPlaneAndGeometricCircle)
{
    const Vec3 centre{40, 10, -20}, normal = Unit({0.3, -0.5, 1.0});
    const double radius = 30.0;
    std::mt19937 rng(9);
    auto coords = CirclePoints(centre, normal, radius, 36, 5.0, 0.01, rng);
    // A point far off the plane.
    coords.push_back({centre[0] + 20 * normal[0], centre[1] + 20 * normal[1], centre[2] + 20 * normal[2]});
    CObjectPointList list;
    AddPoints(list, coords);
    CBestFitCircle circle(list);
    ASSERT_TRUE(circle.Fit()) << circle.GetOutcomeId();
    EXPECT_EQ(circle.GetRejectedCount(), 1);
    EXPECT_TRUE(list.GetAt(36)->unsolved);
    EXPECT_EQ(circle.GetResidual(36), 0.0);

    // The plane: eigenvector plane of the accepted points.
    const PrincipalAxes axes = ComputePrincipalAxes(list);
    const Vec3 n{circle.GetA(), circle.GetB(), circle.GetC()};
    const double sign = Dot(n, axes.axes[0]) < 0 ? -1.0 : 1.0;
    for (int k = 0; k < 3; ++k)
        EXPECT_NEAR(n[k], sign * axes.axes[0][k], 1e-6);
    EXPECT_NEAR(circle.GetD(), -sign * Dot(axes.axes[0], axes.centroid), 1e-6 * Norm(axes.centroid));

    // The circle: centre on the plane, and the optimality conditions of the
    // 2D geometric fit of the projected accepted points.
    const Vec3 c{circle.Xo, circle.Yo, circle.Zo};
    EXPECT_NEAR(Dot(n, c) + circle.GetD(), 0.0, 1e-6 * radius);
    Vec3 e1, e2;
    PerpendicularPair(n, e1, e2);
    double sumD = 0.0, g1 = 0.0, g2 = 0.0;
    for (int i = 0; i < 36; ++i) {
        const Vec3 d = Sub(Of(*list.GetAt(i)), c);
        const double a = Dot(d, e1), b = Dot(d, e2), r = std::hypot(a, b), res = r - circle.R;
        sumD += res;
        g1 += res * a / r;
        g2 += res * b / r;
    }
    EXPECT_NEAR(sumD, 0.0, 1e-6 * radius);
    EXPECT_NEAR(g1, 0.0, 1e-6 * radius);
    EXPECT_NEAR(g2, 0.0, 1e-6 * radius);
    EXPECT_NEAR(circle.R, radius, 0.01);
}

TEST(BestFitLine, ExactAndNoisyLines)
{
    const Vec3 start{-50, 20, 10}, dir = Unit({0.8, 0.5, -0.3});
    // Exact collinear points: the line through them in one solution.
    {
        std::vector<Vec3> coords;
        for (int i = 0; i < 6; ++i)
            coords.push_back({start[0] + 17.0 * i * dir[0], start[1] + 17.0 * i * dir[1], start[2] + 17.0 * i * dir[2]});
        CObjectPointList list;
        AddPoints(list, coords);
        CBestFitLine line(list);
        ASSERT_TRUE(line.Fit()) << line.GetOutcomeId();
        EXPECT_EQ(line.GetIterations(), 1);
        const Vec3 u = Unit({line.u, line.v, line.w});
        EXPECT_NEAR(std::fabs(Dot(u, dir)), 1.0, 1e-12);
        for (int i = 0; i < line.GetPointCount(); ++i)
            EXPECT_NEAR(line.GetPointDistance(i), 0.0, 1e-9);
    }
    // Noise 0.1 on 20 points over 400 units.
    std::mt19937 rng(21);
    std::normal_distribution<double> g(0.0, 0.1);
    std::vector<Vec3> coords;
    for (int i = 0; i < 20; ++i)
        coords.push_back({start[0] + 20.0 * i * dir[0] + g(rng), start[1] + 20.0 * i * dir[1] + g(rng),
                          start[2] + 20.0 * i * dir[2] + g(rng)});
    CObjectPointList list;
    AddPoints(list, coords);
    CBestFitLine line(list);
    ASSERT_TRUE(line.Fit()) << line.GetOutcomeId();
    EXPECT_EQ(line.GetRejectedCount(), 0);
    const PrincipalAxes axes = ComputePrincipalAxes(list, true);
    const Vec3 u = Unit({line.u, line.v, line.w});
    EXPECT_LT(std::acos(std::min(1.0, std::fabs(Dot(u, axes.axes[2])))), 1e-5);
    const Vec3 o{line.Xo, line.Yo, line.Zo};
    double sum = 0.0;
    for (int i = 0; i < line.GetPointCount(); ++i) {
        const Vec3 p = Of(*line.GetPoint(i));
        const Vec3 d = Sub(p, o);
        const double t = Dot(d, u);
        const Vec3 offset{d[0] - t * u[0], d[1] - t * u[1], d[2] - t * u[2]};
        const Vec3 v{line.GetResidualX(i), line.GetResidualY(i), line.GetResidualZ(i)};
        const double sign = Dot(v, offset) < 0 ? -1.0 : 1.0;
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(v[k], sign * offset[k], 1e-6 * 0.1);
        EXPECT_NEAR(line.GetPointDistance(i), Norm(offset), 1e-6 * 0.1);
        sum += Dot(offset, offset);
    }
    EXPECT_NEAR(line.sigma0, std::sqrt(sum / (3 * 20 - 5)), 1e-9);
    EXPECT_NEAR(line.GetRms(), std::sqrt(sum / (3 * 20)), 1e-9);
}

TEST(BestFit, DegenerateSetsFailWithTheirOutcome)
{
    struct Case {
        const char* name;
        std::function<std::unique_ptr<CBestFit>(CObjectPointList&)> make;
        std::vector<Vec3> coords;
        int outcome;
    };
    auto plane = [](CObjectPointList& l) { return std::make_unique<CBestFitPlane>(l); };
    auto sphere = [](CObjectPointList& l) { return std::make_unique<CBestFitSphere>(l); };
    auto circle = [](CObjectPointList& l) { return std::make_unique<CBestFitCircle>(l); };
    auto line = [](CObjectPointList& l) { return std::make_unique<CBestFitLine>(l); };
    const Case cases[] = {
        {"plane, 2 points", plane, {{1, 2, 3}, {4, 5, 6}}, BestFitOutcome::IDS_INSUFFICIENT_POINTS},
        {"plane, 4 collinear", plane, {{1, 2, 3}, {2, 4, 6}, {3, 6, 9}, {5, 10, 15}}, BestFitOutcome::IDS_BESTFIT_PLANE_FAILED},
        {"sphere, 4 coplanar", sphere, {{0, 0, 5}, {10, 0, 5}, {0, 10, 5}, {10, 10, 5}}, BestFitOutcome::IDS_ADJUSTMENT_FAILED},
        {"sphere, point at centre",
         sphere,
         {{10, 0, 0}, {-10, 0, 0}, {0, 10, 0}, {0, -10, 0}, {0, 0, 10}, {0, 0, -10}, {0, 0, 0}},
         BestFitOutcome::IDS_ADJUSTMENT_FAILED},
        {"circle, 4 collinear", circle, {{1, 2, 3}, {2, 4, 6}, {3, 6, 9}, {5, 10, 15}}, BestFitOutcome::IDS_BESTFIT_PLANE_FAILED},
        {"line, coincident", line, {{7, 8, 9}, {7, 8, 9}, {7, 8, 9}}, BestFitOutcome::IDS_ADJUSTMENT_FAILED},
        {"line, 1 point", line, {{7, 8, 9}}, BestFitOutcome::IDS_INSUFFICIENT_POINTS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CObjectPointList list;
        AddPoints(list, c.coords);
        auto fit = c.make(list);
        EXPECT_FALSE(fit->Fit());
        EXPECT_EQ(fit->GetOutcomeId(), c.outcome);
    }
}
