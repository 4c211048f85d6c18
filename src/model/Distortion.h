// Lens distortion of the camera model and its inverse, and the shifts that
// correct a target's image for the eccentricity of its circle.
//
// Camera parameters are passed in the camera's order: C, XP, YP, K1, K2, K3,
// P1, P2, B1, B2 (C, XP, YP in mm). Image coordinates are in mm.
#pragma once

#include "Camera.h"


// The inverse iteration gives up after this many steps.
constexpr int kMaxDistortionIterations = 200;
// Convergence limit of the inverse: |fx - x0| + |fy - y0|, mm.
constexpr double kDistortionTolerance = 1e-9;

// Replaces (x, y) by the corrected coordinates reduced to the principal point.
void CorrectDistortion(const double params[CAM_PARAMETER_COUNT], double& x, double& y);

// The inverse: takes (x, y) as reduced corrected coordinates and replaces them
// by the measured coordinates whose correction gives them back. False, with
// (x, y) unchanged, when the iteration does not converge within
// kMaxDistortionIterations steps or leaves the finite numbers.
bool ApplyDistortion(const double params[CAM_PARAMETER_COUNT], double& x, double& y);

// Station of an image as the corrections need it: rotation R (object to
// camera frame) and position X0.
struct StationGeometry {
    double R[3][3];
    double X0[3];
};

// Image of an object point without principal point and distortion:
// p = R (P - X0), x = -c p1 / p3, y = -c p2 / p3. False when the point is not
// in front of the camera (p3 >= 0).
bool ProjectToImage(const StationGeometry& s, double c, const double P[3], double& x, double& y);

// Conic of the image of a circle (centre P, normal n, radius rho) seen from a
// station with principal distance c, as q1 u^2 + q2 u v + q3 v^2 + q4 u + q5 v = 1
// with u = x - x0, v = y - y0. The reference point (x0, y0) is the image of the
// circle's centre, which lies inside the image ellipse. False when the normal
// is zero, rho is not positive, or any point of the rim is not in front of
// the camera.
bool ProjectCircleConic(const StationGeometry& s, double c, const double P[3], const double n[3],
                        double rho, double q[5], double& x0, double& y0);

// Shift (dx, dy) that the approximate eccentricity correction from the
// target's normal n adds to an observation of point P. False when the normal
// is zero, P or P + n is not in front of the camera, the normal's image
// direction or the range is zero, or the result is not finite.
bool EccentricityShiftByNormal(const StationGeometry& s, double c, const double P[3],
                               const double n[3], double& dx, double& dy);

class CImageObservation;
class CObjectPoint;
class CProjectImage;

// The corrections on an observation's x and y with a camera.
void CorrectDistortion(CImageObservation& o, const CCamera& camera);
// False, observation unchanged, when the inverse does not converge.
bool ApplyDistortion(CImageObservation& o, const CCamera& camera);
// Shift by the difference between the image of the target's centre and the
// centre of the image ellipse of its circle. False, observation unchanged,
// when the point has no normal or radius, is not in front of the camera, or
// the result would not be finite.
bool CorrectEccentricityByEllipse(CImageObservation& o, const CObjectPoint& point, const CProjectImage& image,
                                  const CCamera& camera);
// Approximate shift from the target's normal and its incidence angle (capped
// at 40 degrees). False, observation unchanged, where EccentricityShiftByNormal fails.
bool CorrectEccentricityByNormal(CImageObservation& o, const CObjectPoint& point, const CProjectImage& image,
                                 const CCamera& camera);
