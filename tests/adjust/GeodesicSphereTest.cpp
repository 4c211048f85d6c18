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

TEST(GeodesicSphere, TwoPassesSpreadSixtySixDistinctDirections)
{
    CGeodesicSphere sphere(0.0, 0.0, 0.0, 1.0);
    CNewmatMatrixArray v = sphere.GenerateVertices(2);
    ASSERT_EQ(v.GetSize(), 66);
    // No two directions closer than the shortest edge of the twice-split
    // octahedron (about 22 degrees apart), none farther from its neighbours.
    for (int i = 0; i < v.GetSize(); ++i) {
        double nearest = 10.0;
        for (int k = 0; k < v.GetSize(); ++k)
            if (k != i)
                nearest = std::min(nearest, Distance(Of(*v.GetAt(i)), Of(*v.GetAt(k))));
        EXPECT_GT(nearest, 0.3) << i;
        EXPECT_LT(nearest, 0.55) << i;
    }
}

TEST(GeodesicSphere, CentreIsAddedToAnglePointsButProjectionIsRelativeToIt)
{
    CGeodesicSphere sphere(10.0, 20.0, 30.0, 2.0);
    const Vec p = Of(sphere.PointFromAngles(90.0, 0.0));
    EXPECT_LT(Distance(p, {10.0, 22.0, 30.0}), 1e-12);
    const Vec up = Of(sphere.PointFromAngles(45.0, 90.0));
    EXPECT_LT(Distance(up, {10.0, 20.0, 32.0}), 1e-12);

    CSphereTriangle t;
    t.GetCorner1() = sphere.PointFromAngles(0.0, 0.0);
    t.GetCorner2() = sphere.PointFromAngles(0.0, 0.0);
    t.GetCorner2()(1, 1) += 4.0; // (16, 20, 30): 6 from the centre along x
    t.GetCorner3() = sphere.PointFromAngles(0.0, 0.0);
    t.GetCorner3()(3, 1) = 25.0; // (12, 20, 25): direction (2, 0, -5)
    sphere.ProjectTriangle(t);
    EXPECT_LT(Distance(Of(t.GetCorner1()), {2.0, 0.0, 0.0}), 1e-12);
    EXPECT_LT(Distance(Of(t.GetCorner2()), {2.0, 0.0, 0.0}), 1e-12);
    const double n = std::sqrt(29.0);
    EXPECT_LT(Distance(Of(t.GetCorner3()), {4.0 / n, 0.0, -10.0 / n}), 1e-12);
}

TEST(GeodesicSphere, SubdivisionCutsAtTheEdgeMidpointsInItsOrder)
{
    CSphereTriangle t;
    EXPECT_EQ(Of(t.GetCorner1()), (Vec{1, 2, 3}));
    t.GetCorner1() = NEWMAT::Matrix(3, 1);
    t.GetCorner1() = 0.0;
    t.GetCorner2() = t.GetCorner1();
    t.GetCorner2()(1, 1) = 4.0;
    t.GetCorner3() = t.GetCorner1();
    t.GetCorner3()(2, 1) = 2.0;
    CSphereTriangleArray parts = t.Subdivide();
    ASSERT_EQ(parts.GetSize(), 4);
    const Vec P1{0, 0, 0}, P2{4, 0, 0}, P3{0, 2, 0}, M12{2, 0, 0}, M13{0, 1, 0}, M23{2, 1, 0};
    const Vec expected[4][3] = {{P1, M12, M13}, {M12, P2, M23}, {M13, M23, P3}, {M12, M13, M23}};
    for (int i = 0; i < 4; ++i) {
        const CSphereTriangle& s = *parts.GetAt(i);
        EXPECT_EQ(Of(s.GetCorner1()), expected[i][0]) << i;
        EXPECT_EQ(Of(s.GetCorner2()), expected[i][1]) << i;
        EXPECT_EQ(Of(s.GetCorner3()), expected[i][2]) << i;
    }
    // Deep copies: changing a copy leaves the original.
    CSphereTriangleArray copy(parts);
    copy.GetAt(0)->GetCorner1()(1, 1) = 99.0;
    EXPECT_EQ(parts.GetAt(0)->GetCorner1()(1, 1), 0.0);
}
