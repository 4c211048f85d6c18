// Synthetic photogrammetric scenes of known geometry: a random point field in
// millimetres, cameras with lens distortion at random stations around it, and
// the image observations the camera model predicts, optionally with noise.
#pragma once

#include <random>
#include <vector>

#include "Camera.h"
#include "PointSet.h"
#include "ProjectImageList.h"

struct SyntheticPose {
    double X, Y, Z;                // station, mm
    double azimuth, elevation, roll; // radians
    double R[3][3];                // from the angles, computed here independently
};

struct SceneOptions {
    int images = 6;
    int points = 30;
    double fieldSize = 2000.0;     // edge of the cube that holds the points, mm
    double minDistance = 10000.0;  // stations lie this far from the field centre ...
    double maxDistance = 20000.0;  // ... up to this far
    double noise = 0.0;            // standard deviation of the image coordinates, mm
    bool transformation = false;   // give every second image an affine image transformation
    bool distortion = true;
};

class CSyntheticScene {
public:
    CSyntheticScene(const SceneOptions& options, unsigned seed);

    // Predicted measured coordinates (image frame, with distortion and the
    // image's transformation) of a point in image i, without noise. The
    // inverse of the distortion is solved to 1e-13 mm. False when the point
    // is behind the camera.
    bool Predict(int image, const double P[3], double& x, double& y) const;

    // Fills the point's observation index table over the scene's images.
    void IndexRays(CObjectPoint& point) const;

    // Object size used for relative tolerances: the diagonal of the field.
    double ObjectSize() const;

    static void RotationFromAngles(double azimuth, double elevation, double roll, double R[3][3]);

    SceneOptions options;
    CCameraList cameras;
    CProjectImageList images;      // oriented at the true poses, observations in place
    CPointSet truth;               // the true points, labels P1, P2, ...
    std::vector<SyntheticPose> poses;
    std::mt19937 generator;
};

// Distortion correction of the camera model, written out here: measured
// (x, y) to reduced corrected coordinates.
void ModelCorrection(const CCamera& camera, double x, double y, double& xc, double& yc);
