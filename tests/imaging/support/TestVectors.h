// Small 3-vector helpers of the test builders (header only: the imaging
// benchmarks compile this folder's builders without the tests' libraries).
#pragma once

#include <cmath>

namespace kestrelon::test {

// Scales v to length 1.
inline void Unit(double v[3])
{
    const double l = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    for (int j = 0; j < 3; ++j)
        v[j] /= l;
}

// out = a x b.
inline void Cross(const double a[3], const double b[3], double out[3])
{
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

} // namespace kestrelon::test
