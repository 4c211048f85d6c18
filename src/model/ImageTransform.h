// Two-dimensional image coordinate transformations from a camera's fiducial
// frame to measured image coordinates, and their inverses.
//   affine (a0..a5):      x' = a0 x + a1 y + a2;  y' = a3 x + a4 y + a5
//   similarity (a..d):    x' = a x + b y + c;     y' = -b x + a y + d
#pragma once

void Affine2DForward(const double a[6], double& x, double& y);
// False, with (x, y) unchanged, when the determinant a0 a4 - a1 a3 is zero
// or the result is not finite.
bool Affine2DInverse(const double a[6], double& x, double& y);

void Similarity2DForward(const double a[4], double& x, double& y);
// False, with (x, y) unchanged, when a^2 + b^2 is zero or the result is not finite.
bool Similarity2DInverse(const double a[4], double& x, double& y);
