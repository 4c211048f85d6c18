// The geometry of the three-point resection: the quartic in the ratio of two
// ray factors, the second ratio that follows from a root, and the similarity
// fit that carries the three camera-frame points onto the object points.
#pragma once

// rays[i] is the image ray (x_i, y_i, -c) of triple point i in the camera
// frame (mm); object[i] is that point in object space; c the principal
// distance. The unknown t = -c F1 / F0, where F_i scales ray i onto its point.
// Fills the monic quartic t^4 + a t^3 + b t^2 + c t + d whose real roots are
// the t of the solutions. False when the triple gives no quartic (coincident
// object points, a vanishing leading term, non-finite input).
bool FormResectionQuartic(const double rays[3][3], const double object[3][3], double c,
                          double coefficients[4]);

// F2 / F0 for a root t of that quartic. False when the linear step that gives
// it is singular at t.
bool SecondRayRatio(const double rays[3][3], const double object[3][3], double c, double t,
                    double& ratio);

// Least-squares 3D similarity object = T + s M' camera, M the rotation of
// omega, phi, kappa (M = Rz(kappa) Ry(phi) Rx(omega), the convention of the
// image's report angles), fitted to three point pairs. solution receives
// T (the camera origin in object space) and omega, phi, kappa. False for a
// degenerate triad (coincident or collinear points), a failed factorisation
// or non-finite numbers.
bool FitThreePointSimilarity(const double camera[3][3], const double object[3][3], double solution[6]);

// The rotation of the similarity fit from its three angles.
void SimilarityRotation(double omega, double phi, double kappa, double M[3][3]);
