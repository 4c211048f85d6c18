// Small 3-vector and 3x3 helpers shared by the intersection and the resections.
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

} // namespace ray
