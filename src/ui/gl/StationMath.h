// The geometry of the station window, without OpenGL: the view from a
// station, its clipping distances, the moves and turns of the station, and
// the test of point symbols against a pick region on the CPU, which gives
// the hits that OpenGL's selection mode gives for the same drawing.
#pragma once

#include <vector>

class CObjectPointList;
class CProjectImage;

// The scene's box: minimum and maximum per axis.
struct CStationBox {
    double min[3] = {0, 0, 0};
    double max[3] = {0, 0, 0};
};

// Near and far distance around the box corners, the origin and the three
// axis tips (1.2 x axis size) as seen from the station; a near distance
// below 0 becomes 0.001; then near x 0.9 and far x 1.1 (single precision).
void ComputeStationClipRange(const CStationBox& box, double axisSize, const double station[3], float& nearPlane,
                             float& farPlane);

// The modelview matrix (column-major) of the camera at the station: object
// points go to R (P - S), the camera looking down its -z axis.
void StationModelview(const CProjectImage& station, double m[16]);

// Sets the station's 3 x 3 rotation matrix to R.
void SetStationRotation(CProjectImage& station, const double R[3][3]);
// The rotation nearest to R, a matrix whose rows are orthonormal to a few
// float roundings (as OpenGL keeps its matrices): its polar factor.
void OrthonormalizeRotation(double R[3][3]);
// Moves of the station: by R^T v (v in the camera frame).
void MoveStationInCameraFrame(CProjectImage& station, const double v[3]);
// R := Z(theta) x start, Z rows (cos, sin, 0), (-sin, cos, 0), (0, 0, 1).
void RollStation(CProjectImage& station, const double start[3][3], double theta);
// R := Ry(a) x Rx(b) x start.
void TurnStation(CProjectImage& station, const double start[3][3], double a, double b);
// Turns the station about its position so that it looks at the point;
// false, nothing changed, when the rotation cannot be formed.
bool AimStationAt(CProjectImage& station, const double point[3]);

// A pick region as gluPickMatrix takes it: centre in window coordinates
// (y up) and size in pixels.
struct CPickRegion {
    double x = 0.0;
    double y = 0.0;
    double width = 4.0;
    double height = 4.0;
};

// The 4 x 4 (column-major) pick matrix of the region in the viewport.
void PickMatrix(const CPickRegion& region, const int viewport[4], double m[16]);

