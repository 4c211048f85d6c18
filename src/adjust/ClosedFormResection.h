// Approximate stations of an image from three observed control points,
// without any prior orientation.
#pragma once

class CCamera;
class CPointSet;
class CProjectImage;
class CVector;

// Result codes of SolveClosedFormResection.
enum ClosedFormResult {
    kClosedFormSuccess = 0,
    kClosedFormTooFewPoints = -1, // fewer than three usable observations, or no triple
    kClosedFormNoRoot = -2,       // the quartic has no real root
    kClosedFormFitFailed = -3     // the similarity fit of a candidate failed
};

// Fills solutions with 12 values: two candidates of station X, Y, Z and the
// rotation angles omega, phi, kappa. Returns a ClosedFormResult.
int SolveClosedFormResection(CProjectImage& image, const CCamera& camera, CPointSet& points, CVector& solutions);

// Picks three observations (indices into the image's target list) that span
// the widest image triangle. False with fewer than two usable observations.
bool ChooseResectionTriple(CProjectImage& image, short triple[3], CPointSet& points);
