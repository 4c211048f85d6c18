// The least-squares framework on small models of known solution: the loop's
// stopping rules, linear and nonlinear fits against their closed forms, the
// constrained sigma0 and the scaling of the covariance.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "LsqModel.h"

namespace {

// n observations of one unknown whose misclosure never changes: every
// solution gives the same correction l, and so the same norm l^2.
class ConstantModel : public CLsqModel
{
public:
    int n = 2;
    double l = 1.0;
    bool approximations = true;
    int solutions = 0;

    int GetUnknownCount() const override { return 1; }
    int GetObservationCount() const override { return n; }
    int GetConstraintCount() const override { return 0; }
    bool ComputeApproximations() override { return approximations; }
    void GetDesignRows(int, CMatrix& A) override
    {
        A.Resize(1, 1);
        A.SetAt(1.0, 0, 0);
    }
    void GetMisclosures(int, CVector& v) override
    {
        v.Resize(1);
        v[0] = l;
    }
    void ApplyCorrections() override { ++solutions; }
    void OnCovariance() override {}
};

struct LoopCase {
    const char* name;
    int n;
    double l;
    bool approximations;
    double tolerance;
    double divergence;
    int maxIterations;
    bool result;
    int solutions;
};

TEST(LsqModelTest, LoopStopsByItsRulesInOrder)
{
    const LoopCase cases[] = {
        {"no approximation", 2, 1.0, false, 0.005, 10.0, 15, false, 0},
        {"no redundancy", 1, 1.0, true, 0.005, 10.0, 15, false, 0},
        {"never converging", 2, 1.0, true, 0.005, 10.0, 15, false, 15},
        {"norm equal to tolerance", 2, 0.5, true, 0.25, 10.0, 4, false, 4},
        {"norm below tolerance", 2, 0.25, true, 0.25, 10.0, 4, true, 1},
        {"norm equal to divergence limit", 2, 0.5, true, 0.01, 0.25, 4, false, 4},
        {"norm above divergence limit", 2, 0.75, true, 0.01, 0.25, 4, false, 1},
        {"divergence tested before convergence", 2, 0.75, true, 1.0, 0.25, 4, false, 1},
    };
    for (const LoopCase& c : cases) {
        SCOPED_TRACE(c.name);
        ConstantModel model;
        model.n = c.n;
        model.l = c.l;
        model.approximations = c.approximations;
        model.tolerance = c.tolerance;
        model.divergenceLimit = c.divergence;
        model.maxIterations = c.maxIterations;
        EXPECT_EQ(model.Solve(), c.result);
        EXPECT_EQ(model.solutions, c.solutions);
        EXPECT_EQ(model.iteration, c.solutions);
        if (c.solutions > 0) {
            EXPECT_DOUBLE_EQ(model.correctionNorm, c.l * c.l);
        }
        if (!c.result) {
            EXPECT_EQ(model.sigma0, -1.0);
        }
    }
}

struct Point2 {
    double x, y;
};

// Straight line y = a + b x through points of equal sigma.
class LineModel : public CLsqModel
{
public:
    std::vector<Point2> points;
    double sigma = 1.0;
    double a = 0.0, b = 0.0;

    int GetUnknownCount() const override { return 2; }
    int GetObservationCount() const override { return static_cast<int>(points.size()); }
    int GetConstraintCount() const override { return 0; }
    bool ComputeApproximations() override { return true; }
    void GetDesignRows(int i, CMatrix& A) override
    {
        A.Resize(1, 2);
        A.SetAt(1.0, 0, 0);
        A.SetAt(points[i].x, 0, 1);
    }
    void GetSigma(int, double& s) override { s = sigma; }
    void GetMisclosures(int i, CVector& v) override
    {
        v.Resize(1);
        v[0] = points[i].y - (a + b * points[i].x);
    }
    void ApplyCorrections() override
    {
        a += corrections[0];
        b += corrections[1];
    }
    void OnCovariance() override {}
};

const std::vector<Point2> kLinePoints = {{0.0, 1.1}, {1.0, 2.9}, {2.0, 5.2}, {3.0, 6.8}, {4.0, 9.1}, {5.0, 10.9}};

TEST(LsqModelTest, LineFitMatchesClosedFormAndCovarianceScalesWithSigma0)
{
    const double n = static_cast<double>(kLinePoints.size());
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (const Point2& p : kLinePoints) {
        sx += p.x;
        sy += p.y;
        sxx += p.x * p.x;
        sxy += p.x * p.y;
    }
    const double det = n * sxx - sx * sx;
    const double b = (n * sxy - sx * sy) / det;
    const double a = (sy - b * sx) / n;
    double rss = 0.0;
    for (const Point2& p : kLinePoints)
        rss += std::pow(p.y - a - b * p.x, 2);
    const double s02 = rss / (n - 2.0);
    // sigma0^2 (A'A)^-1 for unit weights; other a priori sigmas cancel.
    const double covAA = s02 * sxx / det, covAB = -s02 * sx / det, covBB = s02 * n / det;

    for (double sigma : {1.0, 3.0}) {
        SCOPED_TRACE(sigma);
        LineModel model;
        model.points = kLinePoints;
        model.sigma = sigma;
        ASSERT_TRUE(model.Solve());
        EXPECT_NEAR(model.a, a, 1e-12);
        EXPECT_NEAR(model.b, b, 1e-12);
        EXPECT_NEAR(model.sigma0, std::sqrt(s02) / sigma, 1e-12);
        EXPECT_NEAR(model.normals.GetAt(0, 0), covAA, 1e-12);
        EXPECT_NEAR(model.normals.GetAt(0, 1), covAB, 1e-12);
        EXPECT_NEAR(model.normals.GetAt(1, 1), covBB, 1e-12);
    }
}

// Line n . p = d with the side condition |n| = 1, kept by EndIteration.
class NormalLineModel : public CLsqModel
{
public:
    std::vector<Point2> points;
    double nx = -0.3, ny = 1.0, d = 0.0;

    int GetUnknownCount() const override { return 3; }
    int GetObservationCount() const override { return static_cast<int>(points.size()); }
    int GetConstraintCount() const override { return 1; }
    bool ComputeApproximations() override
    {
        EndIteration();
        return true;
    }
    void GetDesignRows(int i, CMatrix& A) override
    {
        A.Resize(1, 3);
        A.SetAt(points[i].x, 0, 0);
        A.SetAt(points[i].y, 0, 1);
        A.SetAt(-1.0, 0, 2);
    }
    void GetSigma(int, double& s) override { s = 1.0; }
    void GetMisclosures(int i, CVector& v) override
    {
        v.Resize(1);
        v[0] = d - (nx * points[i].x + ny * points[i].y);
    }
    void GetConstraintRows(int, CMatrix& B) override
    {
        B.Resize(1, 3);
        B.SetAt(nx, 0, 0);
        B.SetAt(ny, 0, 1);
        B.SetAt(0.0, 0, 2);
    }
    void EndIteration() override
    {
        const double len = std::hypot(nx, ny);
        nx /= len;
        ny /= len;
    }
    void ApplyCorrections() override
    {
        nx += corrections[0];
        ny += corrections[1];
        d += corrections[2];
    }
    void OnCovariance() override {}
};

TEST(LsqModelTest, ConstrainedLineGivesSmallestEigenvectorAndSigma0FromFinalResiduals)
{
    const double n = static_cast<double>(kLinePoints.size());
    double mx = 0, my = 0;
    for (const Point2& p : kLinePoints) {
        mx += p.x / n;
        my += p.y / n;
    }
    double cxx = 0, cxy = 0, cyy = 0;
    for (const Point2& p : kLinePoints) {
        cxx += (p.x - mx) * (p.x - mx);
        cxy += (p.x - mx) * (p.y - my);
        cyy += (p.y - my) * (p.y - my);
    }
    // Smallest eigenvalue of the scatter matrix and its eigenvector.
    const double lambda = 0.5 * (cxx + cyy) - std::sqrt(0.25 * (cxx - cyy) * (cxx - cyy) + cxy * cxy);
    double ex = cxy, ey = lambda - cxx;
    const double len = std::hypot(ex, ey);
    ex /= len;
    ey /= len;
    if (ey < 0) {
        ex = -ex;
        ey = -ey;
    }

    NormalLineModel model;
    model.points = kLinePoints;
    model.maxIterations = 30;
    model.tolerance = 1e-20;
    ASSERT_TRUE(model.Solve());
    const double sign = model.ny < 0 ? -1.0 : 1.0;
    EXPECT_NEAR(sign * model.nx, ex, 1e-10);
    EXPECT_NEAR(sign * model.ny, ey, 1e-10);
    EXPECT_NEAR(sign * model.d, ex * mx + ey * my, 1e-9);
    EXPECT_EQ(model.redundancy, static_cast<int>(n) - 2);
    EXPECT_NEAR(model.sigma0, std::sqrt(lambda / (n - 2.0)), 1e-10);
    // The side condition leaves the normal no variance along itself.
    ASSERT_TRUE(model.covarianceReady);
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(model.normals.GetAt(i, 0) * model.nx + model.normals.GetAt(i, 1) * model.ny, 0.0, 1e-12);
    EXPECT_GT(model.normals.GetAt(2, 2), 0.0);
}

// Circle through points: distances to the centre minus the radius.
class CircleModel : public CLsqModel
{
public:
    std::vector<Point2> points;
    double cx = 2.5, cy = -0.5, r = 4.5;

    int GetUnknownCount() const override { return 3; }
    int GetObservationCount() const override { return static_cast<int>(points.size()); }
    int GetConstraintCount() const override { return 0; }
    bool ComputeApproximations() override { return true; }
    void GetDesignRows(int i, CMatrix& A) override
    {
        const double rho = std::hypot(points[i].x - cx, points[i].y - cy);
        A.Resize(1, 3);
        A.SetAt(-(points[i].x - cx) / rho, 0, 0);
        A.SetAt(-(points[i].y - cy) / rho, 0, 1);
        A.SetAt(-1.0, 0, 2);
    }
    void GetMisclosures(int i, CVector& v) override
    {
        v.Resize(1);
        v[0] = -(std::hypot(points[i].x - cx, points[i].y - cy) - r);
    }
    void ApplyCorrections() override
    {
        cx += corrections[0];
        cy += corrections[1];
        r += corrections[2];
    }
    void OnCovariance() override {}
};

TEST(LsqModelTest, ExactCircleIsFoundAndContinuedWithoutNewApproximations)
{
    CircleModel model;
    for (int k = 0; k < 7; ++k)
        model.points.push_back({2.0 + 5.0 * std::cos(0.9 * k), -1.0 + 5.0 * std::sin(0.9 * k)});
    model.tolerance = 1e-24;
    model.maxIterations = 20;
    ASSERT_TRUE(model.Solve());
    EXPECT_NEAR(model.cx, 2.0, 1e-12);
    EXPECT_NEAR(model.cy, -1.0, 1e-12);
    EXPECT_NEAR(model.r, 5.0, 1e-12);
    EXPECT_LT(model.sigma0, 1e-10);
    // Started off again: a second Solve continues from the solution.
    model.cx += 0.01;
    EXPECT_TRUE(model.Solve());
    EXPECT_NEAR(model.cx, 2.0, 1e-12);
}

} // namespace
