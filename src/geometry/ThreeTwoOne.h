// 3-2-1 alignment: a new object frame from three points. The first point
// becomes the origin, the second fixes one chosen axis, the third the plane
// of that axis and a second chosen axis. Points are 4x1 homogeneous columns
// (X, Y, Z, 1); results are 4x4 rigid transformations [R, t; 0 0 0 1].
// Every function holds the Newmat lock and lets no Newmat exception out.
#pragma once

namespace NEWMAT {
class Matrix;
}

// Three points refused as a frame: on one line, or two of them at the same
// place (|A x B| <= 1e-9 |A| |B| with A = pa - p0, B = pp - p0).
bool ArePointsOnOneLine(const NEWMAT::Matrix& p0, const NEWMAT::Matrix& pa, const NEWMAT::Matrix& pp);

// result = [R, -R p0; 0 0 0 1], the rows of R the unit axis towards pa, the
// unit axis in the plane of the points towards pp, and their normal.
// False, with result unchanged, for points on one line or inputs that are
// not 4x1.
bool ComputeLocalFrame(NEWMAT::Matrix& result, const NEWMAT::Matrix& p0, const NEWMAT::Matrix& pa,
                       const NEWMAT::Matrix& pp);

// result = [M R, -M R p0; 0 0 0 1] for the axis-assignment rotation M (3x3),
// so P maps to M R (P - p0). False, with result unchanged, where
// ComputeLocalFrame fails or M is not 3x3.
bool ComputeThreeTwoOneTransformation(const NEWMAT::Matrix& M, NEWMAT::Matrix& result, const NEWMAT::Matrix& p0,
                                      const NEWMAT::Matrix& pa, const NEWMAT::Matrix& pp);

// The translation of the inverse of the rigid transformation T (4x4):
// -R^T t into result (3x1). False, with result unchanged, unless T is 4x4.
bool InverseTranslation(NEWMAT::Matrix& result, const NEWMAT::Matrix& T);

// result = (a x b of the first three entries, 1) for two 4x1 columns;
// nothing otherwise.
void CrossProduct4(NEWMAT::Matrix& result, const NEWMAT::Matrix& a, const NEWMAT::Matrix& b);
// result = a x b for two 1x3 rows; nothing otherwise.
void CrossProduct3(NEWMAT::Matrix& result, const NEWMAT::Matrix& a, const NEWMAT::Matrix& b);

// Divides the first three entries of a column by their length; a zero
// length, or a matrix of more than one column, is left as it is.
void NormalizeColumn(NEWMAT::Matrix& v);
