#include "ImageRays.h"

#include <cmath>

#include "Camera.h"
#include "Distortion.h"
#include "ImageObservation.h"
#include "ImageTransform.h"
#include "Matrix.h"
#include "ObjectPoint.h"
#include "ProjectImage.h"
#include "RayGeometry.h"

bool ProjectRay(const CProjectImage& image, const CCamera& camera, const CImageObservation& observation,
                const CObjectPoint& point, RayProjection& ray)
{
    ray.x = 0.0;
    ray.y = 0.0;
    if (!CorrectedImageCoordinates(image, camera, observation, ray.x, ray.y))
        return false;
    ray.c = camera.parameters[CAM_C];
    image.GetRotation(ray.R);
    ray.d[0] = point.x - image.X;
    ray.d[1] = point.y - image.Y;
    ray.d[2] = point.z - image.Z;
    const double depth = ray::Dot(ray.R[2], ray.d);
    if (!(depth != 0.0) || !std::isfinite(depth))
        return false;
    const double w = 1.0 / depth;
    ray.U = w * ray::Dot(ray.R[0], ray.d);
    ray.V = w * ray::Dot(ray.R[1], ray.d);
    ray.k = ray.c * w;
    return true;
}

bool StoreRayRows(const double* row0, const double* row1, int columns, CImageObservation& observation,
                  CMatrix& block)
{
    for (int j = 0; j < columns; ++j)
        if (!std::isfinite(row0[j]) || !std::isfinite(row1[j]))
            return false;
    for (int j = 0; j < columns; ++j) {
        block.SetAt(row0[j], 0, j);
        block.SetAt(row1[j], 1, j);
    }
    observation.vx = row0[columns - 1];
    observation.vy = row1[columns - 1];
    return true;
}

bool CorrectedImageCoordinates(const CProjectImage& image, const CCamera& camera,
                               const CImageObservation& observation, double& x, double& y)
{
    double u = observation.x, v = observation.y;
    const int parameters = image.transformation.GetSize();
    const double* a = image.transformation.GetData();
    if (parameters == 6 && !Affine2DInverse(a, u, v))
        return false;
    if (parameters == 4 && !Similarity2DInverse(a, u, v))
        return false;
    CorrectDistortion(camera.parameters, u, v);
    if (!std::isfinite(u) || !std::isfinite(v))
        return false;
    x = u;
    y = v;
    return true;
}

const CCamera* FindImageCamera(const CProjectImage& image, const CCameraList& cameras)
{
    return cameras.FindByName(image.GetCameraName().GetText());
}
