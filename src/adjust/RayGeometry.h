// Small 3-vector and 3x3 helpers shared by the intersection, the resections
// and the relative orientation.
#pragma once

#include <cmath>

namespace ray {

inline double Dot(const double a[3], const double b[3])
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

inline void Cross(const double a[3], const double b[3], double out[3])
{
    const double x = a[1] * b[2] - a[2] * b[1];
    const double y = a[2] * b[0] - a[0] * b[2];
    const double z = a[0] * b[1] - a[1] * b[0];
    out[0] = x;
    out[1] = y;
    out[2] = z;
}

inline double Norm(const double a[3])
{
    return std::sqrt(Dot(a, a));
}

inline void Subtract(const double a[3], const double b[3], double out[3])
{
    out[0] = a[0] - b[0];
    out[1] = a[1] - b[1];
    out[2] = a[2] - b[2];
}

// out = R v
inline void Multiply(const double R[3][3], const double v[3], double out[3])
{
    const double x = Dot(R[0], v), y = Dot(R[1], v), z = Dot(R[2], v);
    out[0] = x;
    out[1] = y;
    out[2] = z;
}

// out = R' v
inline void MultiplyTransposed(const double R[3][3], const double v[3], double out[3])
{
    const double x = R[0][0] * v[0] + R[1][0] * v[1] + R[2][0] * v[2];
    const double y = R[0][1] * v[0] + R[1][1] * v[1] + R[2][1] * v[2];
    const double z = R[0][2] * v[0] + R[1][2] * v[1] + R[2][2] * v[2];
    out[0] = x;
    out[1] = y;
    out[2] = z;
}

inline bool IsFinite(const double a[3])
{
    return std::isfinite(a[0]) && std::isfinite(a[1]) && std::isfinite(a[2]);
}

// Derivatives of the rotation of azimuth a, elevation e and roll r with
// respect to each angle.
inline void RotationDerivatives(double a, double e, double r, double da[3][3], double de[3][3], double dr[3][3])
{
    const double sa = std::sin(a), ca = std::cos(a);
    const double se = std::sin(e), ce = std::cos(e);
    const double sr = std::sin(r), cr = std::cos(r);

    da[0][0] = se * sr * ca - cr * sa;
    da[0][1] = cr * ca + se * sr * sa;
    da[0][2] = 0.0;
    da[1][0] = cr * se * ca + sr * sa;
    da[1][1] = -sr * ca + cr * se * sa;
    da[1][2] = 0.0;
    da[2][0] = ce * ca;
    da[2][1] = ce * sa;
    da[2][2] = 0.0;

    de[0][0] = ce * sr * sa;
    de[0][1] = -ce * sr * ca;
    de[0][2] = -sr * se;
    de[1][0] = cr * ce * sa;
    de[1][1] = -cr * ce * ca;
    de[1][2] = -cr * se;
    de[2][0] = -se * sa;
    de[2][1] = se * ca;
    de[2][2] = -ce;

    dr[0][0] = se * cr * sa - sr * ca;
    dr[0][1] = -sr * sa - se * cr * ca;
    dr[0][2] = cr * ce;
    dr[1][0] = -sr * se * sa - cr * ca;
    dr[1][1] = -cr * sa + sr * se * ca;
    dr[1][2] = -sr * ce;
    dr[2][0] = 0.0;
    dr[2][1] = 0.0;
    dr[2][2] = 0.0;
}

} // namespace ray
