#include "GeodesicSphere.h"

#include <cmath>

namespace {

NEWMAT::Matrix Point3(double x, double y, double z)
{
    NEWMAT::Matrix p(3, 1);
    p(1, 1) = x;
    p(2, 1) = y;
    p(3, 1) = z;
    return p;
}

// 0.5 (p + q) element by element: the same two corners give the same bits in
// either order, so shared edges meet in identical midpoints.
NEWMAT::Matrix Midpoint(const NEWMAT::Matrix& p, const NEWMAT::Matrix& q)
{
    return Point3(0.5 * (p(1, 1) + q(1, 1)), 0.5 * (p(2, 1) + q(2, 1)), 0.5 * (p(3, 1) + q(3, 1)));
}

bool SamePoint(const NEWMAT::Matrix& p, const NEWMAT::Matrix& q)
{
    return p(1, 1) == q(1, 1) && p(2, 1) == q(2, 1) && p(3, 1) == q(3, 1);
}

void SetTriangle(CSphereTriangle& t, const NEWMAT::Matrix& a, const NEWMAT::Matrix& b, const NEWMAT::Matrix& c)
{
    t.GetCorner1() = a;
    t.GetCorner2() = b;
    t.GetCorner3() = c;
}

} // namespace

CSphereTriangle::CSphereTriangle()
    : corner1(Point3(1.0, 2.0, 3.0)), corner2(3, 1), corner3(3, 1)
{
    corner2 = 0.0;
    corner3 = 0.0;
}

CSphereTriangleArray CSphereTriangle::Subdivide() const
{
    const NEWMAT::Matrix m12 = Midpoint(corner1, corner2);
    const NEWMAT::Matrix m13 = Midpoint(corner1, corner3);
    const NEWMAT::Matrix m23 = Midpoint(corner2, corner3);
    CSphereTriangleArray parts;
    SetTriangle(*parts.AddNew(), corner1, m12, m13);
    SetTriangle(*parts.AddNew(), m12, corner2, m23);
    SetTriangle(*parts.AddNew(), m13, m23, corner3);
    SetTriangle(*parts.AddNew(), m12, m13, m23);
    return parts;
}

CGeodesicSphere::CGeodesicSphere(double x, double y, double z, double r)
    : radius(r), centre(3)
{
    centre(1) = x;
    centre(2) = y;
    centre(3) = z;
}

NEWMAT::Matrix CGeodesicSphere::PointFromAngles(double azimuth, double elevation) const
{
    const double pi = 4.0 * std::atan2(1.0, 1.0);
    const double a = azimuth * pi * (1.0 / 180.0);
    const double e = elevation * pi * (1.0 / 180.0);
    return Point3(centre(1) + radius * std::cos(a) * std::cos(e), centre(2) + radius * std::sin(a) * std::cos(e),
                  centre(3) + radius * std::sin(e));
}

void CGeodesicSphere::ProjectTriangle(CSphereTriangle& triangle) const
{
    NEWMAT::Matrix* corners[3] = {&triangle.GetCorner1(), &triangle.GetCorner2(), &triangle.GetCorner3()};
    for (NEWMAT::Matrix* c : corners) {
        const double dx = (*c)(1, 1) - centre(1);
        const double dy = (*c)(2, 1) - centre(2);
        const double dz = (*c)(3, 1) - centre(3);
        const double f = radius / std::sqrt(dx * dx + dy * dy + dz * dz);
        *c = Point3(f * dx, f * dy, f * dz);
    }
}

CNewmatMatrixArray CGeodesicSphere::GenerateVertices(int passes) const
{
    // Octahedron faces as (azimuth, elevation) corners in degrees.
    static const double faces[8][3][2] = {
        {{-90, 0}, {0, 90}, {0, 0}},   {{180, 0}, {0, 90}, {-90, 0}},
        {{180, 0}, {0, 90}, {90, 0}},  {{90, 0}, {0, 90}, {0, 0}},
        {{-90, 0}, {0, -90}, {0, 0}},  {{180, 0}, {0, -90}, {-90, 0}},
        {{180, 0}, {0, -90}, {90, 0}}, {{90, 0}, {0, -90}, {0, 0}},
    };
    CSphereTriangleArray current;
    for (const auto& f : faces)
        SetTriangle(*current.AddNew(), PointFromAngles(f[0][0], f[0][1]), PointFromAngles(f[1][0], f[1][1]),
                    PointFromAngles(f[2][0], f[2][1]));

    for (int pass = 0; pass < passes; ++pass) {
        CSphereTriangleArray split;
        for (int i = 0; i < current.GetSize(); ++i) {
            CSphereTriangleArray parts = current.GetAt(i)->Subdivide();
            for (int k = 0; k < parts.GetSize(); ++k)
                split.AddCopy(*parts.GetAt(k));
        }
        current.RemoveAll();
        for (int i = 0; i < split.GetSize(); ++i) {
            ProjectTriangle(*split.GetAt(i));
            current.AddCopy(*split.GetAt(i));
        }
    }

    CNewmatMatrixArray vertices;
    for (int i = 0; i < current.GetSize(); ++i) {
        const CSphereTriangle& t = *current.GetAt(i);
        const NEWMAT::Matrix* corners[3] = {&t.GetCorner1(), &t.GetCorner2(), &t.GetCorner3()};
        for (const NEWMAT::Matrix* c : corners) {
            bool known = false;
            for (int k = 0; k < vertices.GetSize() && !known; ++k)
                known = SamePoint(*vertices.GetAt(k), *c);
            if (!known)
                vertices.AddCopy(*c);
        }
    }
    return vertices;
}
