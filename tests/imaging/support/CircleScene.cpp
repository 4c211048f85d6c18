#include "CircleScene.h"

#include <cmath>

#include "Camera.h"
#include "EllipseProjection.h"
#include "EllipseRecord.h"
#include "ImageObservation.h"
#include "ObjectPoint.h"
#include "ProjectImage.h"

Vec3 Normalised(Vec3 v)
{
    const double l = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    return {v.x / l, v.y / l, v.z / l};
}

Vec3 Cross(Vec3 a, Vec3 b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

const Vec3 kCircleCentre{10.0, 20.0, 5.0};
const Vec3 kCircleNormal = Normalised({0.2, -0.1, 1.0});

namespace {

// Directions from the circle to the stations, all on the normal's side.
const Vec3 kViews[kCircleViews] = {{0.6, 0.1, 1.0}, {-0.5, 0.5, 1.0}, {0.1, -0.7, 1.0}, {-0.6, -0.4, 0.9}};

} // namespace

void MakeCircleCamera(CCamera& camera, const char* identifier)
{
    camera.identifier = identifier;
    for (int i = 0; i < CAM_PARAMETER_COUNT; ++i)
        camera.parameters[i] = 0.0;
    camera.parameters[CAM_C] = kCircleFocal;
    camera.XPixels = 4000;
    camera.YPixels = 3000;
    camera.XPixelSize = 0.005;
    camera.YPixelSize = 0.005;
}

void OrientTowardsCircle(CProjectImage& image, int view, const char* camera)
{
    const Vec3 d = Normalised(kViews[view]);
    image.X = kCircleCentre.x + 1000.0 * d.x;
    image.Y = kCircleCentre.y + 1000.0 * d.y;
    image.Z = kCircleCentre.z + 1000.0 * d.z;
    // Rows of R are the camera axes; camera z points back from the scene.
    const Vec3 z = d;
    const Vec3 x = Normalised(Cross({0.3, 0.9, 0.1}, z));
    const Vec3 y = Cross(z, x);
    const double R[3][3] = {{x.x, x.y, x.z}, {y.x, y.y, y.z}, {z.x, z.y, z.z}};
    image.rotation.Resize(3, 3);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            image.rotation.SetAt(R[i][j], i, j);
    image.SetCameraName(camera);
    image.enabled = true;
    image.oriented = true;
}

bool ObserveCircle(CProjectImage& image, const CCamera& camera, double radius, const char* label)
{
    CObjectPoint circle(CNameBuffer(label), kCircleCentre.x, kCircleCentre.y, kCircleCentre.z);
    circle.SetNormal(kCircleNormal.x, kCircleNormal.y, kCircleNormal.z);
    circle.radius = radius;
    CTargetEllipse e;
    if (!ProjectCircle(e, circle, image, camera))
        return false;
    CMatrix covariance(5, -1);
    covariance.Zero();
    const double sigmas[5] = {1e-4, 1e-4, 1e-4, 1.5e-4, 1e-3};
    for (int i = 0; i < 5; ++i)
        covariance.SetAt(sigmas[i] * sigmas[i], i, i);
    covariance.SetAt(2e-9, 0, 1);
    e.SetCovariance(covariance);
    CImageObservation o(CNameBuffer(label), e.centreX, e.centreY);
    o.SetEllipse(e);
    return image.targets.AddSorted(o);
}
