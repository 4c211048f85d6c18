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

class CCamera;
class CImageObservation;
class CMatrix;
class CProjectImage;
class CVector;

// The same on an observation's x and y with a parameter vector of 6 (affine)
// or 4 (similarity) values. False, observation unchanged, for a vector of
// another size or a singular inverse.
bool ApplyAffine2D(CImageObservation& o, const CVector& a);
bool ApplyAffine2DInverse(CImageObservation& o, const CVector& a);
bool ApplySimilarity2D(CImageObservation& o, const CVector& a);
bool ApplySimilarity2DInverse(CImageObservation& o, const CVector& a);

// Least-squares fits of the image's transformation from its measured
// fiducial marks to the camera's calibrated ones. Return the RMS of the fit
// (0.0 for an exactly determined one). When the marks are too few (affine:
// three, similarity: two) or lie in a degenerate layout, or the solution
// fails, they return -1.0 and leave the image's parameters and residuals as
// they were.
double FitAffine2D(CProjectImage& image, const CCamera& camera);
double FitSimilarity2D(CProjectImage& image, const CCamera& camera);

// The two observation-equation rows of one mark, augmented by the measured
// values: a 2x7 (affine) or 2x5 (similarity) matrix.
void FillAffine2DRows(CMatrix& rows, const CImageObservation& observed, const CImageObservation& mark);
void FillSimilarity2DRows(CMatrix& rows, const CImageObservation& observed, const CImageObservation& mark);

// Residuals (transformed mark minus measured point) of every fiducial
// observation that has a mark, stored in the observation and added squared
// into sum. Return the number of marks used, -1 when the image holds no
// transformation of that kind.
int ComputeAffine2DResiduals(CProjectImage& image, const CCamera& camera, double& sum);
int ComputeSimilarity2DResiduals(CProjectImage& image, const CCamera& camera, double& sum);
