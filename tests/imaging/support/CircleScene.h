// A circular target of known centre, normal and radius seen from oriented
// stations of a camera without distortion: the truth of the circular-target
// tests.
#pragma once

class CCamera;
class CProjectImage;

struct Vec3 {
    double x, y, z;
};

Vec3 Normalised(Vec3 v);
Vec3 Cross(Vec3 a, Vec3 b);

extern const Vec3 kCircleCentre;
extern const Vec3 kCircleNormal;
constexpr double kCircleFocal = 50.0;
constexpr int kCircleViews = 4;

// Sets principal distance kCircleFocal and no distortion.
void MakeCircleCamera(CCamera& camera, const char* identifier);
// Station view (0 .. kCircleViews - 1): 1000 units from the circle on its
// normal's side, looking at its centre; the camera name is set.
void OrientTowardsCircle(CProjectImage& image, int view, const char* camera);
// Adds an observation of that label whose ellipse is the image of the
// circle of that radius (centre and normal the truth's), with a positive
// definite covariance. False when the circle has no image.
bool ObserveCircle(CProjectImage& image, const CCamera& camera, double radius, const char* label);
