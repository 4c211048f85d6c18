// Measured image coordinates brought into the camera frame, and the guard
// that keeps the floating-point flags of a computation that handles its own
// non-finite values.
#pragma once

#include <cfenv>

class CCamera;
class CCameraList;
class CImageObservation;
class CProjectImage;

// A working copy of the observation, untransformed when the image has an
// image coordinate transformation and corrected for lens distortion (reduced
// to the principal point). False when the transformation cannot be inverted
// or the result is not finite; the observation itself is never changed.
bool CorrectedImageCoordinates(const CProjectImage& image, const CCamera& camera,
                               const CImageObservation& observation, double& x, double& y);

// The camera that the image names, or null.
const CCamera* FindImageCamera(const CProjectImage& image, const CCameraList& cameras);

// Saves the floating-point exception flags on construction; Restore puts them
// back, so that a computation that met a non-finite value and ended as a
// failure leaves no trace of it for the run's fault check.
class CFloatingPointFlags {
public:
    CFloatingPointFlags() { std::fegetexceptflag(&saved, FE_ALL_EXCEPT); }
    void Restore() const { std::fesetexceptflag(&saved, FE_ALL_EXCEPT); }

private:
    std::fexcept_t saved;
};
