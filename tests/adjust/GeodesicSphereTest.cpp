#include "GeodesicSphere.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

namespace {

using Vec = std::array<double, 3>;

Vec Of(const NEWMAT::Matrix& m)
{
    return {m(1, 1), m(2, 1), m(3, 1)};
}

double Distance(const Vec& a, const Vec& b)
{
    return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]));
}

// Independent construction around the origin: each face split recursively
// (depth first, which visits the triangles in the same order as splitting
// all faces pass by pass), corners collected first come first.
struct Reference {
    double r;
    std::vector<Vec> points;

    Vec OnSphere(const Vec& v) const
    {
        const double n = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
        return {r * v[0] / n, r * v[1] / n, r * v[2] / n};
    }
    void Collect(const Vec& p)
    {
        for (const Vec& q : points)
            if (Distance(p, q) < 1e-9 * r)
                return;
        points.push_back(p);
    }
    void Face(const Vec& a, const Vec& b, const Vec& c, int depth)
    {
        if (depth == 0) {
            Collect(a);
            Collect(b);
            Collect(c);
            return;
        }
        auto mid = [&](const Vec& p, const Vec& q) { return OnSphere({p[0] + q[0], p[1] + q[1], p[2] + q[2]}); };
        const Vec ab = mid(a, b), ac = mid(a, c), bc = mid(b, c);
        Face(OnSphere(a), ab, ac, depth - 1);
        Face(ab, OnSphere(b), bc, depth - 1);
        Face(ac, bc, OnSphere(c), depth - 1);
        Face(ab, ac, bc, depth - 1);
    }
    Reference(double radius, int passes) : r(radius)
    {
        const Vec px{r, 0, 0}, nx{-r, 0, 0}, py{0, r, 0}, ny{0, -r, 0}, pz{0, 0, r}, nz{0, 0, -r};
        const Vec faces[8][3] = {{ny, pz, px}, {nx, pz, ny}, {nx, pz, py}, {py, pz, px},
                                 {ny, nz, px}, {nx, nz, ny}, {nx, nz, py}, {py, nz, px}};
        for (const auto& f : faces)
            Face(f[0], f[1], f[2], passes);
    }
};

} // namespace

TEST(GeodesicSphere, CornersOfTheOctahedronComeInTheOrderTheFacesMeetThem)
{
    CGeodesicSphere sphere(0.0, 0.0, 0.0, 1000.0);
    CNewmatMatrixArray v = sphere.GenerateVertices(0);
    ASSERT_EQ(v.GetSize(), 6);
    const Vec expected[6] = {{0, -1000, 0}, {0, 0, 1000}, {1000, 0, 0}, {-1000, 0, 0}, {0, 1000, 0}, {0, 0, -1000}};
    for (int i = 0; i < 6; ++i)
        EXPECT_LT(Distance(Of(*v.GetAt(i)), expected[i]), 1e-9) << i;
    // The zero places hold the residues of cos(90 degrees), not exact zeros.
    EXPECT_NE((*v.GetAt(0))(1, 1), 0.0);
    EXPECT_EQ(sphere.GenerateVertices(-3).GetSize(), 6);
}

TEST(GeodesicSphere, PassesGiveTheIndependentlyBuiltDirectionsInOrder)
{
    for (int passes = 1; passes <= 3; ++passes) {
        CGeodesicSphere sphere(0.0, 0.0, 0.0, 1000.0);
        CNewmatMatrixArray v = sphere.GenerateVertices(passes);
        Reference ref(1000.0, passes);
        ASSERT_EQ(v.GetSize(), 2 + 4 * (1 << (2 * passes))) << passes;
        ASSERT_EQ(static_cast<int>(ref.points.size()), v.GetSize()) << passes;
        for (int i = 0; i < v.GetSize(); ++i) {
            const Vec p = Of(*v.GetAt(i));
            EXPECT_LT(Distance(p, ref.points[static_cast<std::size_t>(i)]), 1e-9) << passes << " " << i;
            EXPECT_NEAR(Distance(p, {0, 0, 0}), 1000.0, 1e-9);
        }
    }
}

TEST(GeodesicSphere, CentreIsAddedToAnglePointsButProjectionIsRelativeToIt)
{
    CGeodesicSphere sphere(10.0, 20.0, 30.0, 2.0);
    EXPECT_LT(Distance(Of(sphere.PointFromAngles(90.0, 0.0)), {10.0, 22.0, 30.0}), 1e-12);
    EXPECT_LT(Distance(Of(sphere.PointFromAngles(45.0, 90.0)), {10.0, 20.0, 32.0}), 1e-12);

    CSphereTriangle t; // corners (1, 2, 3), 0, 0: directions from the centre
    t.GetCorner2()(1, 1) = 16.0;
    t.GetCorner2()(2, 1) = 20.0;
    t.GetCorner2()(3, 1) = 30.0;
    t.GetCorner3() = t.GetCorner2();
    t.GetCorner3()(1, 1) = 12.0;
    t.GetCorner3()(3, 1) = 25.0;
    sphere.ProjectTriangle(t);
    const double n1 = std::sqrt(81.0 + 324.0 + 729.0), n3 = std::sqrt(29.0);
    EXPECT_LT(Distance(Of(t.GetCorner1()), {-18.0 / n1, -36.0 / n1, -54.0 / n1}), 1e-12);
    EXPECT_LT(Distance(Of(t.GetCorner2()), {2.0, 0.0, 0.0}), 1e-12);
    EXPECT_LT(Distance(Of(t.GetCorner3()), {4.0 / n3, 0.0, -10.0 / n3}), 1e-12);
}
