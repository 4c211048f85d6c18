// The weighted collinearity equations of one ray and their rejection test.
#include <cmath>

#include "AdjustmentEngine.h"
#include "Camera.h"
#include "Distortion.h"
#include "EllipseRecord.h"
#include "ImageObservation.h"
#include "ObjectPoint.h"
#include "ProjectImage.h"
#include "ProjectImageList.h"
#include "ProjectSettings.h"

void CAdjustmentEngine::FillStationCache()
{
    const int n = images->GetSize();
    stationCache.resize(static_cast<size_t>(n));
    for (int j = 0; j < n; ++j) {
        const CProjectImage* image = images->GetAt(j);
        StationCache& s = stationCache[static_cast<size_t>(j)];
        s.image = image;
        if (image == nullptr) {
            s = StationCache{};
            s.cameraIndex = -1;
            continue;
        }
        image->GetRotation(s.R);
        s.X0[0] = image->X;
        s.X0[1] = image->Y;
        s.X0[2] = image->Z;
        const double roll = image->GetRoll();
        s.sinRoll = std::sin(roll);
        s.cosRoll = std::cos(roll);
        s.cameraIndex = GetCameraIndex(*image);
        s.camera = s.cameraIndex >= 0 ? cameras->GetAt(s.cameraIndex) : nullptr;
    }
}

bool CAdjustmentEngine::FormRay(const StationCache& s, const CProjectImage& image, CImageObservation& obs,
                                CObjectPoint& point, RayEquations& e, double* square) const
{
    // Every field but the station is written when the ray is used.
    e.camera = s.cameraIndex;
    if (s.camera == nullptr)
        return false;
    // The equations are scaled by the inverse a-priori sigmas.
    // Quiet comparisons: a value that is not a number rejects the
    // observation without raising a floating-point fault.
    if (!std::isgreater(obs.sigmaX, 0.0) || !std::isgreater(obs.sigmaY, 0.0))
        return false;
    const double wx = 1.0 / obs.sigmaX;
    const double wy = 1.0 / obs.sigmaY;
    if (!std::isfinite(wx) || !std::isfinite(wy))
        return false;

    double x = obs.x;
    double y = obs.y;
    if (settings->useEllipseCentres && obs.GetEllipse() != nullptr) {
        x = obs.GetEllipse()->centreX;
        y = obs.GetEllipse()->centreY;
    }
    const int transformSize = image.transformation.GetSize();
    if (transformSize == 4 || transformSize == 6) {
        CImageObservation work;
        work.x = x;
        work.y = y;
        if (!image.UntransformObservation(work))
            return false;
        x = work.x;
        y = work.y;
    }

    const double* q = s.camera->parameters;
    const double c = q[CAM_C];
    // The partials use the reduced coordinates before any correction.
    const double xr = x - q[CAM_XP];
    const double yr = y - q[CAM_YP];
    const double r2 = xr * xr + yr * yr;

    CorrectDistortion(q, x, y);
    if (settings->correctCentreEccentricity || settings->correctRetroTargetShift) {
        CImageObservation work;
        work.x = x;
        work.y = y;
        if (settings->correctCentreEccentricity)
            CorrectEccentricityByEllipse(work, point, image, *s.camera);
        if (settings->correctRetroTargetShift)
            CorrectEccentricityByNormal(work, point, image, *s.camera);
        x = work.x;
        y = work.y;
    }

    const double* r0 = s.R[0];
    const double* r1 = s.R[1];
    const double* r2v = s.R[2];
    const double dX = point.x - s.X0[0];
    const double dY = point.y - s.X0[1];
    const double dZ = point.z - s.X0[2];
    const double U = r0[0] * dX + r0[1] * dY + r0[2] * dZ;
    const double V = r1[0] * dX + r1[1] * dY + r1[2] * dZ;
    const double W = r2v[0] * dX + r2v[1] * dY + r2v[2] * dZ;
    if (!(W != 0.0) || !std::isfinite(W))
        return false;
    const double uw = U / W;
    const double vw = V / W;
    const double lx = x + c * uw;
    const double ly = y + c * vw;
    const double limit = settings->rejectionLimit;
    if (!std::islessequal(std::fabs(lx), limit) || !std::islessequal(std::fabs(ly), limit))
        return false;

    obs.vx = lx;
    obs.vy = ly;
    const double k = c / W;

    double* ax = e.a[0];
    double* ay = e.a[1];
    const double r4 = r2 * r2;
    // The principal point moves the reduced coordinates and with them every
    // distortion term: d x'/d XP = -d x'/d xr and so on, with
    // x' = xr (1 + dr + B1) + B2 yr + P1 (r2 + 2 xr^2) + 2 P2 xr yr,
    // y' = yr (1 + dr) + P2 (r2 + 2 yr^2) + 2 P1 xr yr.
    const double dr = q[CAM_K1] * r2 + q[CAM_K2] * r4 + q[CAM_K3] * r4 * r2;
    const double slope = 2.0 * (q[CAM_K1] + 2.0 * q[CAM_K2] * r2 + 3.0 * q[CAM_K3] * r4); // d dr / d r2 times 2
    const double P1 = q[CAM_P1], P2 = q[CAM_P2];
    const double xx = 1.0 + dr + slope * xr * xr + q[CAM_B1] + 6.0 * P1 * xr + 2.0 * P2 * yr;
    const double xy = slope * xr * yr + q[CAM_B2] + 2.0 * P1 * yr + 2.0 * P2 * xr;
    const double yx = slope * xr * yr + 2.0 * P2 * xr + 2.0 * P1 * yr;
    const double yy = 1.0 + dr + slope * yr * yr + 6.0 * P2 * yr + 2.0 * P1 * xr;
    ax[CAM_C] = uw * wx;
    ax[CAM_XP] = -xx * wx;
    ax[CAM_YP] = -xy * wx;
    ax[CAM_K1] = xr * r2 * wx;
    ax[CAM_K2] = xr * r4 * wx;
    ax[CAM_K3] = xr * r4 * r2 * wx;
    ax[CAM_P1] = (2.0 * xr * xr + r2) * wx;
    ax[CAM_P2] = 2.0 * xr * yr * wx;
    ax[CAM_B1] = xr * wx;
    ax[CAM_B2] = yr * wx;
    ay[CAM_C] = vw * wy;
    ay[CAM_XP] = -yx * wy;
    ay[CAM_YP] = -yy * wy;
    ay[CAM_K1] = yr * r2 * wy;
    ay[CAM_K2] = yr * r4 * wy;
    ay[CAM_K3] = yr * r4 * r2 * wy;
    ay[CAM_P1] = 2.0 * xr * yr * wy;
    ay[CAM_P2] = (2.0 * yr * yr + r2) * wy;
    ay[CAM_B1] = 0.0;
    ay[CAM_B2] = 0.0;

    double* bx = e.b[0];
    double* by = e.b[1];
    const double sr = s.sinRoll;
    const double cr = s.cosRoll;
    for (int i = 0; i < 3; ++i) {
        bx[i] = (uw * r2v[i] - r0[i]) * k * wx;
        by[i] = (vw * r2v[i] - r1[i]) * k * wy;
    }
    const double tilt = dX * r2v[1] - dY * r2v[0];
    bx[3] = -((dX * r0[1] - dY * r0[0]) - tilt * uw) * k * wx;
    bx[4] = (uw * (U * sr + V * cr) + W * sr) * k * wx;
    bx[5] = c * vw * wx;
    by[3] = -((dX * r1[1] - dY * r1[0]) - tilt * vw) * k * wy;
    by[4] = ((U * sr + V * cr) * vw + W * cr) * k * wy;
    by[5] = -c * uw * wy;

    for (int i = 0; i < 3; ++i) {
        e.p[0][i] = -bx[i];
        e.p[1][i] = -by[i];
    }
    if (square != nullptr)
        *square = lx * lx + ly * ly;
    else
        point.rms += lx * lx + ly * ly;
    e.l[0] = lx * wx;
    e.l[1] = ly * wy;
    return true;
}

bool CAdjustmentEngine::FormObservationEquations(const CProjectImage& image, CMatrix& A, CMatrix& B, CMatrix& P,
                                                 CVector& l, CImageObservation& obs, CObjectPoint& point)
{
    A.Resize(2, 10);
    B.Resize(2, 6);
    P.Resize(2, 3);
    l.Resize(2);
    A.Zero();
    B.Zero();
    P.Zero();
    l.Zero();
    StationCache s;
    image.GetRotation(s.R);
    s.X0[0] = image.X;
    s.X0[1] = image.Y;
    s.X0[2] = image.Z;
    const double roll = image.GetRoll();
    s.sinRoll = std::sin(roll);
    s.cosRoll = std::cos(roll);
    s.cameraIndex = GetCameraIndex(image);
    s.camera = s.cameraIndex >= 0 ? cameras->GetAt(s.cameraIndex) : nullptr;
    RayEquations e;
    if (!FormRay(s, image, obs, point, e))
        return false;
    for (int r = 0; r < 2; ++r) {
        for (int i = 0; i < 10; ++i)
            A.SetAt(e.a[r][i], r, i);
        for (int i = 0; i < 6; ++i)
            B.SetAt(e.b[r][i], r, i);
        for (int i = 0; i < 3; ++i)
            P.SetAt(e.p[r][i], r, i);
        l[r] = e.l[r];
    }
    return true;
}
