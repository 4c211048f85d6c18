#include "Distortion.h"

#include <cmath>

#include "EllipseProjection.h"
#include "EllipseRecord.h"
#include "ImageObservation.h"
#include "ObjectPoint.h"
#include "ProjectImage.h"

void CorrectDistortion(const double p[CAM_PARAMETER_COUNT], double& x, double& y)
{
    const double dx = x - p[CAM_XP];
    const double dy = y - p[CAM_YP];
    const double r2 = dx * dx + dy * dy;
    const double dr = p[CAM_K1] * r2 + p[CAM_K2] * r2 * r2 + p[CAM_K3] * r2 * r2 * r2;
    const double P1 = p[CAM_P1], P2 = p[CAM_P2];
    const double xc = dx + dx * dr + p[CAM_B1] * dx + p[CAM_B2] * dy
                      + P1 * (r2 + 2.0 * dx * dx) + 2.0 * P2 * dx * dy;
    const double yc = dy + dy * dr + P2 * (r2 + 2.0 * dy * dy) + 2.0 * P1 * dx * dy;
    x = xc;
    y = yc;
}

bool ApplyDistortion(const double p[CAM_PARAMETER_COUNT], double& x, double& y)
{
    const double x0 = x, y0 = y;
    if (!std::isfinite(x0) || !std::isfinite(y0)) return false;
    double cx = x0, cy = y0;
    for (int i = 0; i < kMaxDistortionIterations; ++i) {
        double fx = cx, fy = cy;
        CorrectDistortion(p, fx, fy);
        const double miss = std::fabs(fx - x0) + std::fabs(fy - y0);
        if (!std::isfinite(miss)) return false;
        if (miss <= kDistortionTolerance) {
            x = cx;
            y = cy;
            return true;
        }
        cx += x0 - fx;
        cy += y0 - fy;
    }
    return false;
}

namespace {

void CameraFrame(const StationGeometry& s, const double P[3], double p[3])
{
    const double d[3] = {P[0] - s.X0[0], P[1] - s.X0[1], P[2] - s.X0[2]};
    for (int i = 0; i < 3; ++i)
        p[i] = s.R[i][0] * d[0] + s.R[i][1] * d[1] + s.R[i][2] * d[2];
}

void Rotate(const StationGeometry& s, const double v[3], double out[3])
{
    for (int i = 0; i < 3; ++i)
        out[i] = s.R[i][0] * v[0] + s.R[i][1] * v[1] + s.R[i][2] * v[2];
}

void Cross(const double a[3], const double b[3], double out[3])
{
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

double Dot(const double a[3], const double b[3])
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

double Norm(const double a[3])
{
    return std::sqrt(Dot(a, a));
}

} // namespace

bool ProjectToImage(const StationGeometry& s, double c, const double P[3], double& x, double& y)
{
    double p[3];
    CameraFrame(s, P, p);
    if (!(p[2] < 0.0)) return false;
    x = -c * p[0] / p[2];
    y = -c * p[1] / p[2];
    return std::isfinite(x) && std::isfinite(y);
}

bool ProjectCircleConic(const StationGeometry& s, double c, const double P[3], const double n[3],
                        double rho, double q[5], double& x0, double& y0)
{
    const double nlen = Norm(n);
    if (!(nlen > 0.0) || !(rho > 0.0) || !std::isfinite(nlen) || !std::isfinite(rho)) return false;
    const double nu[3] = {n[0] / nlen, n[1] / nlen, n[2] / nlen};

    // Orthonormal basis of the circle's plane.
    const double ex[3] = {1.0, 0.0, 0.0}, ey[3] = {0.0, 1.0, 0.0};
    double e1[3];
    Cross(nu, ex, e1);
    if (Norm(e1) < 1e-7) Cross(nu, ey, e1);
    const double l1 = Norm(e1);
    for (double& v : e1) v /= l1;
    double e2[3];
    Cross(nu, e1, e2);

    double pc[3], f1[3], f2[3];
    CameraFrame(s, P, pc);
    Rotate(s, e1, f1);
    Rotate(s, e2, f2);

    // The whole rim must lie in front of the camera, else its image is no ellipse.
    if (!(pc[2] + rho * std::hypot(f1[2], f2[2]) < 0.0)) return false;

    double g[3], m1[3], m2[3];
    Cross(f1, f2, g);
    Cross(pc, f1, m1);
    Cross(f2, pc, m2);
    double M[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            M[i][j] = rho * rho * g[i] * g[j] - m1[i] * m1[j] - m2[i] * m2[j];

    // Image rays d = (x, y, -c) on the cone satisfy d^T M d = 0. Centred at
    // h = (x0, y0, -c): M11 u^2 + 2 M12 u v + M22 v^2 + 2 (Mh)1 u + 2 (Mh)2 v = -h^T M h.
    x0 = -c * pc[0] / pc[2];
    y0 = -c * pc[1] / pc[2];
    const double h[3] = {x0, y0, -c};
    double Mh[3];
    for (int i = 0; i < 3; ++i) Mh[i] = M[i][0] * h[0] + M[i][1] * h[1] + M[i][2] * h[2];
    const double Q = -Dot(h, Mh);
    if (!(Q != 0.0) || !std::isfinite(Q)) return false;
    q[0] = M[0][0] / Q;
    q[1] = 2.0 * M[0][1] / Q;
    q[2] = M[1][1] / Q;
    q[3] = 2.0 * Mh[0] / Q;
    q[4] = 2.0 * Mh[1] / Q;
    for (int i = 0; i < 5; ++i)
        if (!std::isfinite(q[i])) return false;
    // An ellipse has a positive definite quadratic part.
    return q[0] > 0.0 && 4.0 * q[0] * q[2] - q[1] * q[1] > 0.0;
}

bool EccentricityShiftByNormal(const StationGeometry& s, double c, const double P[3],
                               const double n[3], double& dx, double& dy)
{
    if (n[0] == 0.0 && n[1] == 0.0 && n[2] == 0.0) return false;
    double p[3], q[3];
    const double Pn[3] = {P[0] + n[0], P[1] + n[1], P[2] + n[2]};
    CameraFrame(s, P, p);
    CameraFrame(s, Pn, q);
    if (!(p[2] < 0.0) || !(q[2] < 0.0)) return false;

    const double a[3] = {-c * p[0] / p[2], -c * p[1] / p[2], -c};
    const double b[3] = {-c * q[0] / q[2], -c * q[1] / q[2], -c};
    const double ab[3] = {b[0] - a[0], b[1] - a[1], 0.0};
    const double lab = Norm(ab);
    if (!(lab > 0.0)) return false;
    const double u[2] = {ab[0] / lab, ab[1] / lab};

    const double toStation[3] = {s.X0[0] - P[0], s.X0[1] - P[1], s.X0[2] - P[2]};
    const double range = Norm(toStation);
    if (!(range > 0.0)) return false;
    double cr[3];
    Cross(toStation, n, cr);
    double g = std::atan2(Norm(cr), Dot(toStation, n)) * 57.2957;
    if (g > 40.0) g = 40.0;
    const double e = g * 0.0006 / range;
    const double la = Norm(a);
    const double sx = -e * la * u[0];
    const double sy = -e * la * u[1];
    if (!std::isfinite(sx) || !std::isfinite(sy)) return false;
    dx = sx;
    dy = sy;
    return true;
}

// ---------------------------------------------------------------------------
// Observations

void CorrectDistortion(CImageObservation& o, const CCamera& camera)
{
    CorrectDistortion(camera.parameters, o.x, o.y);
}

bool ApplyDistortion(CImageObservation& o, const CCamera& camera)
{
    return ApplyDistortion(camera.parameters, o.x, o.y);
}

bool CorrectEccentricityByEllipse(CImageObservation& o, const CObjectPoint& point, const CProjectImage& image,
                                  const CCamera& camera)
{
    CTargetEllipse ellipse;
    if (!ProjectCircle(ellipse, point, image, camera)) return false;
    const StationGeometry s = image.GetStation();
    const double P[3] = {point.x, point.y, point.z};
    double xc, yc;
    if (!ProjectToImage(s, camera.parameters[CAM_C], P, xc, yc)) return false;
    const double nx = o.x + xc - ellipse.centreX;
    const double ny = o.y + yc - ellipse.centreY;
    if (!std::isfinite(nx) || !std::isfinite(ny)) return false;
    o.x = nx;
    o.y = ny;
    return true;
}

bool CorrectEccentricityByNormal(CImageObservation& o, const CObjectPoint& point, const CProjectImage& image,
                                 const CCamera& camera)
{
    const StationGeometry s = image.GetStation();
    const double P[3] = {point.x, point.y, point.z};
    double dx, dy;
    if (!EccentricityShiftByNormal(s, camera.parameters[CAM_C], P, point.normal, dx, dy)) return false;
    const double nx = o.x + dx, ny = o.y + dy;
    if (!std::isfinite(nx) || !std::isfinite(ny)) return false;
    o.x = nx;
    o.y = ny;
    return true;
}
