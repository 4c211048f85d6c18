#include "EpipolarLine.h"

#include "Camera.h"
#include "Distortion.h"
#include "ProjectImage.h"

#include <cmath>

namespace {

// Homogeneous image (millimetres) of an object point in an image: with
// h = R (P - X0), the point (XP h3 - c h1, YP h3 - c h2, h3). No division,
// so a point in the image's plane gives a point at infinity.
void ProjectHomogeneous(const StationGeometry& s, const CCamera& camera, const double P[3], double out[3])
{
    const double d[3] = {P[0] - s.X0[0], P[1] - s.X0[1], P[2] - s.X0[2]};
    double h[3];
    for (int k = 0; k < 3; ++k)
        h[k] = s.R[k][0] * d[0] + s.R[k][1] * d[1] + s.R[k][2] * d[2];
    const double c = camera.parameters[CAM_C];
    out[0] = camera.parameters[CAM_XP] * h[2] - c * h[0];
    out[1] = camera.parameters[CAM_YP] * h[2] - c * h[1];
    out[2] = h[2];
}

void Cross(const double a[3], const double b[3], double out[3])
{
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

} // namespace

int ComputeEpipolarLine(CEpipolarLine& line, const CProjectImage& source, const CCamera& sourceCamera,
                        const CProjectImage& target, const CCamera& targetCamera, const CNameBuffer& label)
{
    line = CEpipolarLine();
    const CImageObservation* measured = source.targets.Find(label);
    if (!measured)
        return 0;
    CImageObservation o(*measured);
    CorrectDistortion(o, sourceCamera);

    // Two finite points of the source ray, one and two base lengths from the
    // source station: P = X0 + t R^T (x, y, -c).
    const StationGeometry s = source.GetStation();
    const StationGeometry t = target.GetStation();
    const double v[3] = {o.x, o.y, -sourceCamera.parameters[CAM_C]};
    double direction[3];
    for (int k = 0; k < 3; ++k)
        direction[k] = s.R[0][k] * v[0] + s.R[1][k] * v[1] + s.R[2][k] * v[2];
    const double length = std::sqrt(direction[0] * direction[0] + direction[1] * direction[1] +
                                    direction[2] * direction[2]);
    double base = std::sqrt((s.X0[0] - t.X0[0]) * (s.X0[0] - t.X0[0]) + (s.X0[1] - t.X0[1]) * (s.X0[1] - t.X0[1]) +
                            (s.X0[2] - t.X0[2]) * (s.X0[2] - t.X0[2]));
    if (!(length > 0.0) || !std::isfinite(length) || !std::isfinite(base))
        return 0;
    if (!(base > 0.0))
        base = 1.0;
    double P1[3], P2[3];
    for (int k = 0; k < 3; ++k) {
        P1[k] = s.X0[k] + base / length * direction[k];
        P2[k] = s.X0[k] + 2.0 * base / length * direction[k];
    }
    double h1[3], h2[3], l[3];
    ProjectHomogeneous(t, targetCamera, P1, h1);
    ProjectHomogeneous(t, targetCamera, P2, h2);
    // The line a x + b y + w = 0 through both images.
    Cross(h1, h2, l);
    const double norm = std::hypot(l[0], l[1]);
    if (!(norm > 0.0) || !std::isfinite(norm) || !std::isfinite(l[2]))
        return 0;
    const double a = l[0] / norm, b = l[1] / norm, w = l[2] / norm;
    // The tiny remainder of a line through both images that coincide.
    const double scale = std::hypot(std::hypot(h1[0], h1[1]), h1[2]) * std::hypot(std::hypot(h2[0], h2[1]), h2[2]);
    if (norm <= 1e-12 * scale)
        return 0;

    // Crossings with the sensor's edges y = H, y = -H, x = W, x = -W, in
    // that order; exactly two strictly inside the other edges' span.
    const double W = targetCamera.XPixels * targetCamera.XPixelSize * 0.5;
    const double H = targetCamera.YPixels * targetCamera.YPixelSize * 0.5;
    double ends[2][2];
    int count = 0;
    auto take = [&](double x, double y) {
        if (count < 2) {
            ends[count][0] = x;
            ends[count][1] = y;
        }
        ++count;
    };
    if (a != 0.0) {
        for (double y : {H, -H}) {
            const double x = -(b * y + w) / a;
            if (std::fabs(x) < W)
                take(x, y);
        }
    }
    if (b != 0.0) {
        for (double x : {W, -W}) {
            const double y = -(a * x + w) / b;
            if (std::fabs(y) < H)
                take(x, y);
        }
    }
    if (count != 2)
        return 0;
    targetCamera.ImageToPixel(ends[0][0], ends[0][1], line.column1, line.row1);
    targetCamera.ImageToPixel(ends[1][0], ends[1][1], line.column2, line.row2);
    return 1;
}
