// Measured image coordinates brought into the camera frame, and the guard
// that keeps the floating-point flags of a computation that handles its own
// non-finite values.
#pragma once

#include <cfenv>

#include "ImageObservation.h"
#include "ObjectPoint.h"

class CCamera;
class CCameraList;
class CMatrix;
class CProjectImage;

// A working copy of the observation, untransformed when the image has an
// image coordinate transformation and corrected for lens distortion (reduced
// to the principal point). False when the transformation cannot be inverted
// or the result is not finite; the observation itself is never changed.
bool CorrectedImageCoordinates(const CProjectImage& image, const CCamera& camera,
                               const CImageObservation& observation, double& x, double& y);

// A point seen through an image: the corrected observation (x, y), the
// principal distance c, the image rotation R, the point relative to the
// station d, its image coordinates U = R[0] d / R[2] d and V = R[1] d / R[2] d,
// and k = c / R[2] d.
struct RayProjection {
    double x, y, c;
    double R[3][3];
    double d[3];
    double U, V, k;
};

// False when the observation cannot be corrected or the point lies in the
// image plane (or the depth is not finite).
bool ProjectRay(const CProjectImage& image, const CCamera& camera, const CImageObservation& observation,
                const CObjectPoint& point, RayProjection& ray);

// Stores the two rows of a ray's equations (their last column the
// misclosures) into block and the misclosures into the observation's
// residuals; false, with nothing stored, when a value is not finite.
bool StoreRayRows(const double* row0, const double* row1, int columns, CImageObservation& observation,
                  CMatrix& block);

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

// Asks for the memory of what the rays read and write of an observation
// (its coordinates, sigmas, residuals and rejection, which lie together),
// so that the misses of several observations overlap.
inline void PrefetchObservation(const CImageObservation* observation)
{
    __builtin_prefetch(&observation->x, 1);
    __builtin_prefetch(&observation->rejected, 1);
}

// The same for what the forming and the intersection use of a point: its
// coordinates, counts and flags, and its observation index.
inline void PrefetchPoint(const CObjectPoint* point)
{
    __builtin_prefetch(&point->x, 1);
    __builtin_prefetch(&point->updated, 1);
    __builtin_prefetch(&point->observationIndex, 1);
}
