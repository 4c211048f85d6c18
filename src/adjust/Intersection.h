// Intersection of two rays, and back-projection of object points into images.
// The multi-ray intersection of a point is in AdjustmentEngine.h.
#pragma once

#include <cstdint>

#include "AdjustmentEngine.h"

class CCamera;

// CAdjustmentEngine::IntersectPoint and CAdjustmentEngine::ApproximatePoint
// over the images of `observing` only (observingCount ascending image
// indices) instead of every entry of the point's index table. With the list
// of the images whose entries are not -1 the results are the same, bit for
// bit, at the cost of the point's own rays.
bool IntersectPointOnImages(double& rms, CObjectPoint& point, const CDynArray<CProjectImage>& images,
                            const CCameraList& cameras, const CProjectSettings& settings, int pass,
                            const int32_t* observing, int observingCount);
bool ApproximatePointOnImages(CObjectPoint& point, const CDynArray<CProjectImage>& images,
                              const CCameraList& cameras, const int32_t* observing, int observingCount);

// The intersection from the engine's lists of a point's rays: for each, its
// image (an index into stations, the cache of the run's images) and its
// observation (null: no ray). The same numbers as IntersectPointOnImages
// over those images when the point's index names those observations.
bool IntersectListedRays(double& rms, CObjectPoint& point, const CProjectSettings& settings, int pass,
                         const CAdjustmentEngine::StationCache* stations, const int32_t* images,
                         CImageObservation* const* observations, int count);

// Intersects the ray of target observation observation1 of image1 with that
// of observation2 of image2 at the midpoint of their shortest connection.
// False (point unchanged) when the intersection angle is below minimumAngle
// (radians), a ray points away from the intersection, the system is singular,
// or an index, camera or observation is unusable.
bool IntersectTwoRays(CObjectPoint& point, int observation1, int observation2, const CProjectImage& image1,
                      const CProjectImage& image2, const CCameraList& cameras, double minimumAngle);

// Predicts the measured image coordinates of a point into result's x and y.
// False when the point is not in front of the camera, falls outside the given
// fraction of the image format, or the distortion cannot be applied (an
// inverse that does not converge).
bool ProjectPointToImage(const CObjectPoint& point, const CProjectImage& image, const CCamera& camera,
                         CImageObservation& result, double fraction);
