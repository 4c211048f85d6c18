#include "SyntheticScene.h"

#include <cmath>
#include <cstdio>

namespace {

constexpr double kPi = 3.14159265358979323846;

void SetCameraModel(CCamera& camera, bool distortion)
{
    camera.identifier = "SYNTH";
    camera.XPixels = 6000;
    camera.YPixels = 4000;
    camera.XPixelSize = 0.006;
    camera.YPixelSize = 0.006;
    for (double& p : camera.parameters)
        p = 0.0;
    camera.parameters[CAM_C] = 24.0;
    camera.parameters[CAM_XP] = 0.05;
    camera.parameters[CAM_YP] = -0.03;
    if (distortion) {
        camera.parameters[CAM_K1] = -6e-5;
        camera.parameters[CAM_K2] = 2e-8;
        camera.parameters[CAM_K3] = -1e-11;
        camera.parameters[CAM_P1] = 1.5e-5;
        camera.parameters[CAM_P2] = -1e-5;
        camera.parameters[CAM_B1] = 1e-4;
        camera.parameters[CAM_B2] = -5e-5;
    }
}

} // namespace

void ModelCorrection(const CCamera& camera, double x, double y, double& xc, double& yc)
{
    const double* k = camera.parameters;
    const double dx = x - k[CAM_XP], dy = y - k[CAM_YP];
    const double r2 = dx * dx + dy * dy;
    const double dr = k[CAM_K1] * r2 + k[CAM_K2] * r2 * r2 + k[CAM_K3] * r2 * r2 * r2;
    xc = dx + dx * dr + k[CAM_B1] * dx + k[CAM_B2] * dy + k[CAM_P1] * (r2 + 2 * dx * dx) +
         2 * k[CAM_P2] * dx * dy;
    yc = dy + dy * dr + k[CAM_P2] * (r2 + 2 * dy * dy) + 2 * k[CAM_P1] * dx * dy;
}

void CSyntheticScene::RotationFromAngles(double a, double e, double r, double R[3][3])
{
    const double sa = std::sin(a), ca = std::cos(a), se = std::sin(e), ce = std::cos(e);
    const double sr = std::sin(r), cr = std::cos(r);
    R[0][0] = se * sr * sa + cr * ca;
    R[0][1] = cr * sa - se * sr * ca;
    R[0][2] = sr * ce;
    R[1][0] = cr * se * sa - sr * ca;
    R[1][1] = -sr * sa - cr * se * ca;
    R[1][2] = cr * ce;
    R[2][0] = ce * sa;
    R[2][1] = -ce * ca;
    R[2][2] = -se;
}

CSyntheticScene::CSyntheticScene(const SceneOptions& sceneOptions, unsigned seed)
    : options(sceneOptions), generator(seed)
{
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::normal_distribution<double> noise(0.0, 1.0);
    SetCameraModel(*cameras.AddNew(), options.distortion);
    const CCamera& camera = *cameras.GetAt(0);
    const double c = camera.parameters[CAM_C];

    const double half = options.fieldSize / 2.0;
    for (int i = 0; i < options.points; ++i) {
        char label[16];
        std::snprintf(label, sizeof label, "P%d", i + 1);
        truth.AddPointSorted(CObjectPoint(label, half * unit(generator), half * unit(generator),
                                          half * unit(generator)));
    }

    for (int k = 0; k < options.images; ++k) {
        // Stations around the field, looking at a point near its centre.
        SyntheticPose pose;
        for (int attempt = 0;; ++attempt) {
            pose.azimuth = kPi * unit(generator);
            pose.elevation = 0.5 * unit(generator);
            pose.roll = kPi * unit(generator);
            const double distance = options.minDistance +
                                    (options.maxDistance - options.minDistance) * 0.5 * (unit(generator) + 1.0);
            const double aim[3] = {0.1 * half * unit(generator), 0.1 * half * unit(generator),
                                   0.1 * half * unit(generator)};
            const double ce = std::cos(pose.elevation), se = std::sin(pose.elevation);
            const double look[3] = {-ce * std::sin(pose.azimuth), ce * std::cos(pose.azimuth), se};
            pose.X = aim[0] - distance * look[0];
            pose.Y = aim[1] - distance * look[1];
            pose.Z = aim[2] - distance * look[2];
            RotationFromAngles(pose.azimuth, pose.elevation, pose.roll, pose.R);
            // Every point in the format (with a margin) and in front.
            bool inside = true;
            for (int i = 0; i < truth.GetSize() && inside; ++i) {
                const CObjectPoint& p = *truth.GetAt(i);
                const double d[3] = {p.x - pose.X, p.y - pose.Y, p.z - pose.Z};
                const double u[3] = {pose.R[0][0] * d[0] + pose.R[0][1] * d[1] + pose.R[0][2] * d[2],
                                     pose.R[1][0] * d[0] + pose.R[1][1] * d[1] + pose.R[1][2] * d[2],
                                     pose.R[2][0] * d[0] + pose.R[2][1] * d[1] + pose.R[2][2] * d[2]};
                inside = u[2] < 0.0 && std::fabs(-c * u[0] / u[2]) < 17.0 && std::fabs(-c * u[1] / u[2]) < 11.0;
            }
            if (inside || attempt > 1000)
                break;
        }
        poses.push_back(pose);

        CProjectImage& image = *images.AddNew();
        char name[16];
        std::snprintf(name, sizeof name, "Image%03d", k + 1);
        image.name = name;
        image.SetCameraName(camera.identifier.GetText());
        image.SetPose(pose.X, pose.Y, pose.Z, pose.azimuth, pose.elevation, pose.roll);
        image.oriented = true;
        if (options.transformation && k % 2 == 1) {
            image.transformation.Resize(6);
            const double affine[6] = {1.0005, 0.002, 0.3, -0.0015, 0.9992, -0.2};
            for (int j = 0; j < 6; ++j)
                image.transformation[j] = affine[j];
        }
    }

    for (int k = 0; k < options.images; ++k) {
        CProjectImage& image = *images.GetAt(k);
        for (int i = 0; i < truth.GetSize(); ++i) {
            const CObjectPoint& p = *truth.GetAt(i);
            const double P[3] = {p.x, p.y, p.z};
            double x = 0.0, y = 0.0;
            if (!Predict(k, P, x, y))
                continue;
            x += options.noise * noise(generator);
            y += options.noise * noise(generator);
            image.targets.AddSorted(CImageObservation(p.label, x, y));
        }
    }
}

bool CSyntheticScene::Predict(int k, const double P[3], double& x, double& y) const
{
    const SyntheticPose& pose = poses[k];
    const CCamera& camera = *cameras.GetAt(0);
    const double c = camera.parameters[CAM_C];
    const double d[3] = {P[0] - pose.X, P[1] - pose.Y, P[2] - pose.Z};
    double u[3];
    for (int i = 0; i < 3; ++i)
        u[i] = pose.R[i][0] * d[0] + pose.R[i][1] * d[1] + pose.R[i][2] * d[2];
    if (!(u[2] < 0.0))
        return false;
    const double xc = -c * u[0] / u[2], yc = -c * u[1] / u[2];

    // Newton's method on the correction, with a difference Jacobian.
    x = xc + camera.parameters[CAM_XP];
    y = yc + camera.parameters[CAM_YP];
    for (int iteration = 0; iteration < 50; ++iteration) {
        double fx, fy;
        ModelCorrection(camera, x, y, fx, fy);
        const double ex = fx - xc, ey = fy - yc;
        if (std::fabs(ex) + std::fabs(ey) < 1e-13)
            break;
        const double h = 1e-6;
        double ax, ay, bx, by;
        ModelCorrection(camera, x + h, y, ax, ay);
        ModelCorrection(camera, x, y + h, bx, by);
        const double j00 = (ax - fx) / h, j10 = (ay - fy) / h, j01 = (bx - fx) / h, j11 = (by - fy) / h;
        const double det = j00 * j11 - j01 * j10;
        x -= (j11 * ex - j01 * ey) / det;
        y -= (-j10 * ex + j00 * ey) / det;
    }

    const CProjectImage& image = *images.GetAt(k);
    if (image.transformation.GetSize() == 6) {
        const CVector& a = image.transformation;
        const double tx = a[0] * x + a[1] * y + a[2];
        const double ty = a[3] * x + a[4] * y + a[5];
        x = tx;
        y = ty;
    }
    return true;
}

void CSyntheticScene::IndexRays(CObjectPoint& point) const
{
    point.observationIndex.SetSize(images.GetSize());
    for (int k = 0; k < images.GetSize(); ++k)
        point.observationIndex[k] = images.GetAt(k)->targets.FindIndex(point.label);
}

double CSyntheticScene::ObjectSize() const
{
    return options.fieldSize * std::sqrt(3.0);
}
