// Rotations built from an axis and an angle, the independent truth for code
// that forms rotations another way.
#pragma once

namespace kestrelon::test {

// Rotation by angle t (radians) about the unit axis n (Rodrigues' formula).
void AxisAngle(const double n[3], double t, double R[3][3]);

// C = A B.
void Multiply(const double A[3][3], const double B[3][3], double C[3][3]);

} // namespace kestrelon::test
