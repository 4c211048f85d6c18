#include "EllipseProjection.h"

#include <cmath>

#include "Camera.h"
#include "Distortion.h"
#include "EllipseRecord.h"
#include "ImageObservation.h"
#include "Matrix.h"
#include "ObjectPoint.h"
#include "ProjectImage.h"
#include "Vector.h"

bool ProjectCircle(CTargetEllipse& ellipse, const CObjectPoint& point, const CProjectImage& image,
                   const CCamera& camera)
{
    const double P[3] = {point.x, point.y, point.z};
    double q[5], x0, y0;
    if (!ProjectCircleConic(image.GetStation(), camera.parameters[CAM_C], P, point.normal, point.radius, q, x0, y0))
        return false;
    CTargetEllipse result(ellipse);
    if (!result.ConicToEllipse(q[0], q[1], q[2], q[3], q[4], x0, y0)) return false;
    const double v[5] = {result.centreX, result.centreY, result.major, result.minor, result.rotation};
    for (double d : v)
        if (!std::isfinite(d)) return false;
    ellipse = result;
    return true;
}

bool ConvertPixelEllipse(CTargetEllipse& ellipse, const CCamera& camera, CVector& conic)
{
    const double px = camera.XPixelSize, py = camera.YPixelSize;
    const double M = ellipse.major, m = ellipse.minor, r = ellipse.rotation;
    if (!(px > 0.0) || !(py > 0.0) || !(M > 0.0) || !(m > 0.0)) return false;
    const double c = std::cos(r), s = std::sin(r);
    const double q1 = (c * c / (m * m) + s * s / (M * M)) / (px * px);
    // Rows grow downwards and y upwards: the cross term changes sign.
    const double q2 = 2.0 * (1.0 / (M * M) - 1.0 / (m * m)) * s * c / (px * py);
    const double q3 = (s * s / (m * m) + c * c / (M * M)) / (py * py);
    double xc, yc;
    camera.PixelToImage(ellipse.centreX + 0.5, ellipse.centreY + 0.5, xc, yc);

    CTargetEllipse result(ellipse);
    if (!result.ConicToEllipse(q1, q2, q3, 0.0, 0.0, xc, yc)) return false;
    if (ellipse.covariance.GetRows() == 5 && ellipse.covariance.IsSymmetric()) {
        // The derivatives of the conversion: y = (half height - row) * py
        // turns the centre's y, and with it the rotation, the other way.
        // Axes and rotation carry over only for square pixels.
        CMatrix J(5, 5);
        J.Zero();
        J.SetAt(px, 0, 0);
        J.SetAt(-py, 1, 1);
        if (px == py) {
            J.SetAt(px, 2, 2);
            J.SetAt(px, 3, 3);
            J.SetAt(-1.0, 4, 4);
        }
        CMatrix converted(5, -1);
        converted.Zero();
        if (!converted.AddCongruence(J, ellipse.covariance)) return false;
        result.covariance = converted;
    }
    if (!conic.Resize(5)) return false;
    conic[0] = q1;
    conic[1] = q2;
    conic[2] = q3;
    conic[3] = 0.0;
    conic[4] = 0.0;
    ellipse = result;
    return true;
}

bool ComputeConicFrom(CTargetEllipse& ellipse, const CCamera& camera)
{
    CVector q;
    if (!ConvertPixelEllipse(ellipse, camera, q)) return false;
    ellipse.conic.Resize(7);
    for (int i = 0; i < 5; ++i) ellipse.conic[i] = q[i];
    ellipse.conic[5] = ellipse.centreX;
    ellipse.conic[6] = ellipse.centreY;
    return true;
}

bool ComputeConicFromSamples(CTargetEllipse& ellipse, const CCamera& camera, bool centreOnly)
{
    if (centreOnly) {
        CImageObservation centre(CNameBuffer(), ellipse.centreX, ellipse.centreY);
        CorrectDistortion(centre, camera);
        return ellipse.SetFromParameters(centre.x, centre.y, ellipse.major, ellipse.minor, ellipse.rotation);
    }
    CObservationList points;
    for (int k = 0; k < 10; ++k) {
        const double t = k * 0.6283185307179586;
        double x, y;
        ellipse.PointAt(t, x, y);
        CImageObservation p(CNameBuffer(), x, y);
        CorrectDistortion(p, camera);
        points.AddCopy(p);
    }
    return FitConicToPoints(ellipse, points, &ellipse.conic, nullptr);
}
