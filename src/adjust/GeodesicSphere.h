// Start directions spread evenly around a point: the corners of an
// octahedron's faces, split into four triangles for a number of passes and
// pushed out onto a sphere.
#pragma once

#include "OwningArray.h"

#include <newmat/newmat.h>

// A triangle of three 3x1 corners.
class CSphereTriangle;

class CSphereTriangleArray : public COwningArray<CSphereTriangle> {
public:
    explicit CSphereTriangleArray(int growBy = 0) : COwningArray<CSphereTriangle>(growBy) {}
    CSphereTriangleArray(const CSphereTriangleArray& other) = default;
    CSphereTriangleArray(CSphereTriangleArray&& other) noexcept = default;
    CSphereTriangleArray& operator=(const CSphereTriangleArray& other)
    {
        Copy(other);
        return *this;
    }
    ~CSphereTriangleArray() override = default;
};

class CSphereTriangle {
public:
    // The first corner starts as (1, 2, 3), the others as zero; every user
    // sets all three.
    CSphereTriangle();
    CSphereTriangle(const CSphereTriangle& other) = default;
    CSphereTriangle& operator=(const CSphereTriangle& other) = default;
    virtual ~CSphereTriangle() = default;

    NEWMAT::Matrix& GetCorner1() { return corner1; }
    NEWMAT::Matrix& GetCorner2() { return corner2; }
    NEWMAT::Matrix& GetCorner3() { return corner3; }
    const NEWMAT::Matrix& GetCorner1() const { return corner1; }
    const NEWMAT::Matrix& GetCorner2() const { return corner2; }
    const NEWMAT::Matrix& GetCorner3() const { return corner3; }

    // The four triangles cut by the edge midpoints (not yet on the sphere):
    // (P1, M12, M13), (M12, P2, M23), (M13, M23, P3), (M12, M13, M23).
    CSphereTriangleArray Subdivide() const;

private:
    NEWMAT::Matrix corner1;
    NEWMAT::Matrix corner2;
    NEWMAT::Matrix corner3;
};

// Owning list of Newmat matrices; here each is a 3x1 point.
class CNewmatMatrixArray : public COwningArray<NEWMAT::Matrix> {
public:
    explicit CNewmatMatrixArray(int growBy = 0) : COwningArray<NEWMAT::Matrix>(growBy) {}
    CNewmatMatrixArray(CNewmatMatrixArray&& other) noexcept = default;
    CNewmatMatrixArray(const CNewmatMatrixArray& other) = delete;
    CNewmatMatrixArray& operator=(const CNewmatMatrixArray& other)
    {
        Copy(other);
        return *this;
    }
    ~CNewmatMatrixArray() override = default;
};

// Callers hold the Newmat lock (NewmatLock.h) around every use when another
// thread may use Newmat at the same time; Newmat's exceptions pass through.
class CGeodesicSphere {
public:
    CGeodesicSphere(double x, double y, double z, double radius);
    virtual ~CGeodesicSphere() = default;

    // centre + radius (cos a cos e, sin a cos e, sin e); angles in degrees.
    NEWMAT::Matrix PointFromAngles(double azimuth, double elevation) const;

    // Each corner c becomes radius (c - centre) / |c - centre|: on the sphere
    // relative to the centre, not shifted back.
    void ProjectTriangle(CSphereTriangle& triangle) const;

    // The distinct corners after the given number of passes, in the order
    // the triangles meet them: 6, 18, 66, ... (2 + 4 * 4^passes).
    CNewmatMatrixArray GenerateVertices(int passes) const;

private:
    double radius;
    NEWMAT::ColumnVector centre;
};
