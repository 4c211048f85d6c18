// Synthetic bundle networks with known truth: cameras with distortion,
// stations looking at an object, observations made by the camera model
// (projection, then the inverse of the distortion correction) with optional
// Gaussian noise, and start values away from the truth. Header-only, so
// that the benchmarks can build the same networks.
#pragma once

#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "AdjustmentSummary.h"
#include "Camera.h"
#include "Distortion.h"
#include "ObjectPoint.h"
#include "PointSet.h"
#include "ProjectImage.h"
#include "ProjectImageList.h"
#include "ProjectSettings.h"
#include "Rotation.h"
#include "ScaleBar.h"

namespace bundletest {

struct Pose {
    double X[3];
    double azimuth, elevation, roll;
};

// Azimuth and elevation that make a camera at `from` look at `to` (the
// camera looks along its negative z axis, whose object direction is
// (-cos e sin a, cos e cos a, sin e)).
inline void LookAt(const double from[3], const double to[3], double& azimuth, double& elevation)
{
    double d[3] = {to[0] - from[0], to[1] - from[1], to[2] - from[2]};
    const double n = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    for (double& v : d)
        v /= n;
    elevation = std::asin(d[2]);
    azimuth = std::atan2(-d[0], d[1]);
}

struct NetworkOptions {
    unsigned seed = 1;
    double noise = 0.0;          // mm, standard deviation of the image noise
    double imageSigma = 0.001;   // mm, a-priori sigma of the observations
    double stationShift = 0.01;  // start value offsets of the stations
    double angleShift = 0.003;   // radians
    bool perturbCamera = true;   // start with C off and no distortion
    double halfWidth = 18.0;     // mm, half sensor size
    double halfHeight = 12.0;
    double cornerDistortion = 0.0; // > 0: radial distortion of this fraction at the sensor corner (K1 only)
};

// A network and everything an engine run needs.
struct Network {
    CCameraList cameras;
    CProjectImageList imageList;
    CImagePtrArray images;
    CPointSet points;
    CPointSet control;
    CScaleBarList scaleBars;
    CProjectSettings settings;
    CAdjustmentSummary summary;

    std::vector<double> trueCamera;      // 10 per camera
    std::vector<Pose> truePoses;
    CPointSet truth;
    int rays = 0;

    Network()
    {
        settings.freeNetwork = true;
        settings.keepRejectionLimitFixed = true;
        settings.rejectionLimit = 1.0;
        settings.maxIterations = 30;
        settings.convergenceLimit = 1e-9;
    }

    double TrueCamera(int k, int q) const { return trueCamera[static_cast<size_t>(10 * k + q)]; }
};

// The camera model's parameters used as truth.
inline void TrueCameraParameters(double p[10], int variant)
{
    const double s = variant == 0 ? 1.0 : -0.7;
    p[CAM_C] = 20.0 + 0.3 * variant;
    p[CAM_XP] = 0.05 * s;
    p[CAM_YP] = -0.03 * s;
    p[CAM_K1] = 1.0e-4 * s;
    p[CAM_K2] = -2.0e-7 * s;
    p[CAM_K3] = 0.0;
    p[CAM_P1] = 1.0e-5 * s;
    p[CAM_P2] = -1.5e-5 * s;
    p[CAM_B1] = 1.0e-4 * s;
    p[CAM_B2] = -5.0e-5 * s;
}

inline CCamera* AddCamera(Network& net, const char* id, int variant, const NetworkOptions& o = NetworkOptions())
{
    CCamera* cam = net.cameras.AddNew();
    cam->identifier = id;
    cam->XPixels = 6000;
    cam->YPixels = 4000;
    cam->XPixelSize = 0.006;
    cam->YPixelSize = 0.006;
    double p[10];
    TrueCameraParameters(p, variant);
    if (o.cornerDistortion > 0.0) {
        p[CAM_K1] = o.cornerDistortion / (o.halfWidth * o.halfWidth + o.halfHeight * o.halfHeight);
        p[CAM_K2] = 0.0;
    }
    for (int q = 0; q < 10; ++q) {
        cam->parameters[q] = p[q];
        net.trueCamera.push_back(p[q]);
    }
    // Self-calibrating: every parameter free but K3, which is held at zero.
    cam->SetCalibrationMode(1);
    cam->calibrationMode = 3;
    cam->sigmas[CAM_K3] = CAMERA_SIGMA_FIXED;
    return cam;
}

inline CProjectImage* AddImage(Network& net, const char* camera, const Pose& pose)
{
    CProjectImage* image = net.imageList.AddNew();
    char name[32];
    std::snprintf(name, sizeof name, "Image%03d", net.imageList.GetSize());
    image->name = name;
    image->SetCameraName(camera);
    image->SetPose(pose.X[0], pose.X[1], pose.X[2], pose.azimuth, pose.elevation, pose.roll);
    image->oriented = true;
    net.truePoses.push_back(pose);
    return image;
}

inline void AddTruthPoint(Network& net, const char* label, double x, double y, double z)
{
    net.truth.AddCopy(CObjectPoint(label, x, y, z));
}

// Projects every truth point into every image with the true camera model;
// points outside the sensor or behind the camera are not observed.
// `only` limits the observations of a label to a set of images (empty: all).
inline void Observe(Network& net, std::mt19937& rng, const NetworkOptions& o)
{
    std::normal_distribution<double> gauss(0.0, 1.0);
    for (int j = 0; j < net.imageList.GetSize(); ++j) {
        CProjectImage* image = net.imageList.GetAt(j);
        const int k = net.cameras.FindIndexByName(image->GetCameraName().GetText());
        double p[10];
        for (int q = 0; q < 10; ++q)
            p[q] = net.TrueCamera(k, q);
        const StationGeometry s = image->GetStation();
        for (int i = 0; i < net.truth.GetSize(); ++i) {
            const CObjectPoint* t = net.truth.GetAt(i);
            const double P[3] = {t->x, t->y, t->z};
            double x = 0.0, y = 0.0;
            if (!ProjectToImage(s, p[CAM_C], P, x, y))
                continue;
            if (std::fabs(x) > o.halfWidth * 0.95 || std::fabs(y) > o.halfHeight * 0.95)
                continue;
            if (!ApplyDistortion(p, x, y))
                continue;
            if (o.noise > 0.0) {
                x += o.noise * gauss(rng);
                y += o.noise * gauss(rng);
            }
            CImageObservation obs(t->label, x, y, o.imageSigma, o.imageSigma, -1.0, -1.0);
            image->targets.AddCopy(obs);
            ++net.rays;
        }
        image->targets.SortByLabel();
    }
}

// Moves the start values away from the truth: stations, angles and the
// camera parameters (principal distance off, no distortion).
inline void Perturb(Network& net, std::mt19937& rng, const NetworkOptions& o)
{
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int j = 0; j < net.imageList.GetSize(); ++j) {
        CProjectImage* image = net.imageList.GetAt(j);
        const Pose& t = net.truePoses[static_cast<size_t>(j)];
        image->SetPose(t.X[0] + o.stationShift * u(rng), t.X[1] + o.stationShift * u(rng),
                       t.X[2] + o.stationShift * u(rng), t.azimuth + o.angleShift * u(rng),
                       t.elevation + o.angleShift * u(rng), t.roll + o.angleShift * u(rng));
    }
    if (o.perturbCamera) {
        for (int k = 0; k < net.cameras.GetSize(); ++k) {
            CCamera* cam = net.cameras.GetAt(k);
            cam->parameters[CAM_C] += 0.05;
            for (int q = CAM_XP; q < CAM_PARAMETER_COUNT; ++q)
                cam->parameters[q] = 0.0;
        }
    }
}

inline void Finish(Network& net)
{
    net.imageList.GetPointerArray(net.images);
    net.truth.SortByLabel();
}

// Points in a box around the origin seen from a ring of stations at the
// given radius, alternately above and below, with rolls turning through a
// quarter turn from one image to the next.
inline void BuildRing(Network& net, int imageCount, int pointCount, const NetworkOptions& o, int cameraCount = 1)
{
    std::mt19937 rng(o.seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int k = 0; k < cameraCount; ++k)
        AddCamera(net, k == 0 ? "CAM-A" : "CAM-B", k, o);
    for (int i = 0; i < pointCount; ++i) {
        char label[16];
        std::snprintf(label, sizeof label, "P%d", i + 1);
        AddTruthPoint(net, label, 1.2 * u(rng), 1.2 * u(rng), 0.6 * u(rng));
    }
    const double target[3] = {0.0, 0.0, 0.0};
    for (int j = 0; j < imageCount; ++j) {
        const double a = 2.0 * M_PI * j / imageCount;
        Pose pose;
        pose.X[0] = 4.0 * std::sin(a);
        pose.X[1] = -4.0 * std::cos(a);
        pose.X[2] = (j % 2 == 0) ? 1.5 : -1.0;
        LookAt(pose.X, target, pose.azimuth, pose.elevation);
        pose.roll = (j % 4) * 0.5 * M_PI + 0.1;
        if (pose.roll > M_PI)
            pose.roll -= 2.0 * M_PI;
        AddImage(net, (cameraCount > 1 && j % 2 == 1) ? "CAM-B" : "CAM-A", pose);
    }
    Observe(net, rng, o);
    Perturb(net, rng, o);
    Finish(net);
}

// A block of stations above a gently undulating surface: a grid of
// stations at height `height`, each tilted by about 15 degrees in a varying
// direction and rolled by a varying quarter turn, with points spread evenly
// at random over the covered area. Each point is seen by roughly ten images
// whatever the size of the block.
inline void BuildBlock(Network& net, int imageCount, int pointCount, const NetworkOptions& o)
{
    std::mt19937 rng(o.seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    AddCamera(net, "CAM-A", 0);
    int cols = static_cast<int>(std::ceil(std::sqrt(imageCount * 1.5)));
    int rows = (imageCount + cols - 1) / cols;
    const double spacing = 5.0;
    const double height = 12.0;
    const double width = (cols - 1) * spacing;
    const double depth = (rows - 1) * spacing;
    for (int i = 0; i < pointCount; ++i) {
        char label[16];
        std::snprintf(label, sizeof label, "T%d", i + 1);
        const double x = -2.0 + (width + 4.0) * u(rng);
        const double y = -2.0 + (depth + 4.0) * u(rng);
        const double z = 1.5 * std::sin(x / 7.0) * std::cos(y / 9.0) + 0.5 * u(rng);
        AddTruthPoint(net, label, x, y, z);
    }
    for (int j = 0; j < imageCount; ++j) {
        const int r = j / cols;
        const int c = j % cols;
        Pose pose;
        pose.X[0] = c * spacing;
        pose.X[1] = r * spacing;
        pose.X[2] = height;
        const double dir = 2.0 * M_PI * u(rng);
        const double tilt = 0.26;
        const double to[3] = {pose.X[0] + height * std::tan(tilt) * std::cos(dir),
                              pose.X[1] + height * std::tan(tilt) * std::sin(dir), 0.0};
        LookAt(pose.X, to, pose.azimuth, pose.elevation);
        pose.roll = (j % 4) * 0.5 * M_PI + 0.2 * (u(rng) - 0.5);
        if (pose.roll > M_PI)
            pose.roll -= 2.0 * M_PI;
        AddImage(net, "CAM-A", pose);
    }
    Observe(net, rng, o);
    Perturb(net, rng, o);
    Finish(net);
}

// Makes every n-th truth point a control point with the given sigma.
inline void AddControl(Network& net, int every, double sigma)
{
    net.control.isControl = true;
    for (int i = 0; i < net.truth.GetSize(); i += every) {
        CObjectPoint p(*net.truth.GetAt(i));
        p.aprioriSigma[0] = p.aprioriSigma[1] = p.aprioriSigma[2] = sigma;
        net.control.AddCopy(p);
    }
    net.control.SortByLabel();
    net.settings.freeNetwork = false;
}

} // namespace bundletest
