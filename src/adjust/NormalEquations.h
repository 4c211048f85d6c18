// Solution of an augmented normal system (packed symmetric, right-hand side
// in the last column) by the Cholesky factorisation, on the system scaled to
// a unit diagonal.
//
// The factorisation's determinant test (product of the squared pivots above
// 1e-16) is absolute: on the unscaled system it depends on the units and on
// the magnitude of the derivatives. The derivatives of a ray with respect to
// a point 15 m away from a 20 mm lens are about 1e-3, so the determinant of a
// well-conditioned intersection is near 1e-18 and would fail. Scaled to a
// unit diagonal the determinant is that of the correlation matrix (at most
// 1), and the test only refuses systems that are singular to working
// precision.
#pragma once

class CMatrix;
class CVector;

// Solves the augmented system of `unknowns` parameters in `augmented` (which
// is overwritten by the factor of the scaled system) into x (resized as
// needed). The residual sum in the last diagonal element is replaced (it
// does not enter the solution). False when a diagonal element is not positive, the factorisation
// fails, or the solution is not finite.
bool SolveNormalEquations(CMatrix& augmented, int unknowns, CVector& x);

// The inverse of the leading unknowns x unknowns part (the normal matrix) of
// an augmented system, formed on the system scaled to a unit diagonal.
// inverse becomes a packed symmetric matrix. False when a diagonal element
// is not positive, the inversion fails, or a value is not finite.
bool InvertNormalMatrix(const CMatrix& augmented, int unknowns, CMatrix& inverse);

// The point systems of the intersection: three unknowns and the right-hand
// side, a 4 x 4 augmented system packed by rows as the upper triangle,
// (0,0) (0,1) (0,2) (0,3) (1,1) (1,2) (1,3) (2,2) (2,3) (3,3). Each gives
// the same numbers, bit for bit, as the general routine on a CMatrix.
constexpr int kPointSystemSize = 10;
// Adds B'B of a ray's 2 x 4 block (rows row0, row1), as CMatrix::AddAtA.
void AddPointRay(double augmented[kPointSystemSize], const double row0[4], const double row1[4]);
// SolveNormalEquations(augmented, 3, x).
bool SolvePointNormals(double augmented[kPointSystemSize], double x[3]);
// InvertNormalMatrix(augmented, 3, inverse): the inverse packed by rows,
// (0,0) (0,1) (0,2) (1,1) (1,2) (2,2).
bool InvertPointNormals(const double augmented[kPointSystemSize], double inverse[6]);
// CMatrix::LdltDecompose, then SolveAugmentedUnit, on the augmented system
// (overwritten by its factor): false when the factorisation fails.
bool SolvePointNormalsRootFree(double augmented[kPointSystemSize], double x[3]);
