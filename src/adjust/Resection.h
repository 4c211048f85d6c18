// Single-image resection: the exterior orientation of one image from its
// observations of known points, with the rejection of the worst ray.
#pragma once

class CAdjustmentSummary;
class CCamera;
class CImageObservation;
class CMatrix;
class CObjectPoint;
class CPointSet;
class CProjectImage;
class CProjectSettings;
class CVector;

// Status values that the resection writes into the summary.
enum ResectionStatus {
    kResectionSuccess = 1,
    kResectionIterationLimit = 2,
    kResectionDiverged = 3,
    kResectionTooFewPoints = -2,
    kResectionFailed = -3
};

// The complete resection: the two closed-form candidates are refined and the
// better refinement is kept. True with the image's station and rotation set
// and result a copy of the chosen refinement's summary; false with
// result.status -2 or -3, the image unchanged.
bool ResectImage(CProjectImage& image, const CCamera& camera, CPointSet& points,
                 const CProjectSettings& settings, CAdjustmentSummary& result);

// Iterative least-squares resection from the image's present station.
void RefineResection(CProjectImage& image, const CCamera& camera, CPointSet& points,
                     const CProjectSettings& settings, CAdjustmentSummary& result);

// Replaces the image's rotation by an estimate from its station and the raw
// measured coordinates of the observed points. The rotation stays when the
// estimate cannot be formed.
void InitialRotation(CProjectImage& image, const CCamera& camera, CPointSet& points);

// Fills the 2 x 7 block (derivatives of the residual with respect to X, Y, Z,
// azimuth, elevation, roll, then the residual) and writes the observation's
// residuals. False, block and observation unchanged, when the observation
// cannot be corrected or the numbers are not finite.
bool FormResectionRayEquations(const CProjectImage& image, const CCamera& camera, CImageObservation& observation,
                               const CObjectPoint& point, CMatrix& block);

// Subtracts the six corrections from the station and the angles of the
// present rotation and sets the pose anew.
void ApplyResectionCorrection(CProjectImage& image, const CVector& correction);
