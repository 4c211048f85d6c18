#include "ImageTransform.h"

#include <cmath>

void Affine2DForward(const double a[6], double& x, double& y)
{
    const double xn = a[0] * x + a[1] * y + a[2];
    const double yn = a[3] * x + a[4] * y + a[5];
    x = xn;
    y = yn;
}

bool Affine2DInverse(const double a[6], double& x, double& y)
{
    const double D = a[0] * a[4] - a[1] * a[3];
    if (D == 0.0 || !std::isfinite(D)) return false;
    const double u = x - a[2], v = y - a[5];
    const double xn = (a[4] * u - a[1] * v) / D;
    const double yn = (a[0] * v - a[3] * u) / D;
    if (!std::isfinite(xn) || !std::isfinite(yn)) return false;
    x = xn;
    y = yn;
    return true;
}

void Similarity2DForward(const double a[4], double& x, double& y)
{
    const double xn = a[0] * x + a[1] * y + a[2];
    const double yn = -a[1] * x + a[0] * y + a[3];
    x = xn;
    y = yn;
}

bool Similarity2DInverse(const double a[4], double& x, double& y)
{
    const double D = a[0] * a[0] + a[1] * a[1];
    if (D == 0.0 || !std::isfinite(D)) return false;
    const double u = x - a[2], v = y - a[3];
    const double xn = (a[0] * u - a[1] * v) / D;
    const double yn = (a[1] * u + a[0] * v) / D;
    if (!std::isfinite(xn) || !std::isfinite(yn)) return false;
    x = xn;
    y = yn;
    return true;
}
