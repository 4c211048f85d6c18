// Picking on the CPU: the tests OpenGL's selection mode applies to points,
// segments and polygons, made in clip space with the matrices of the last
// paint, so that they give the hits selection mode would give.
#pragma once

#include <vector>

// 4 x 4 matrices are column-major, as OpenGL keeps them.
void MultiplyMatrices(const double a[16], const double b[16], double out[16]);
// The matrix of gluPickMatrix: the region of width x height pixels centred
// on window position (x, y) (y upward) fills the clip volume.
void MakePickMatrix(double x, double y, double width, double height, const int viewport[4], double out[16]);

// Clip coordinates of (x, y, z, 1) under m.
void ToClip(const double m[16], const double p[3], double clip[4]);
// The vertex lies inside the clip volume (-w <= x, y, z <= w).
bool ClipPointInside(const double clip[4]);
// Some part of the segment lies inside the clip volume.
bool ClipSegmentHits(const double a[4], const double b[4]);
// Some part of the convex polygon (clip coordinates) lies inside the clip volume.
bool ClipPolygonHits(const double (*v)[4], int n);

// One record of a pick: the name loaded when the object was hit.
struct CPickHit {
    unsigned name;
};
