#include "Rotations.h"

#include <cmath>

namespace kestrelon::test {

void AxisAngle(const double n[3], double t, double R[3][3])
{
    const double c = std::cos(t), s = std::sin(t);
    const double K[3][3] = {{0.0, -n[2], n[1]}, {n[2], 0.0, -n[0]}, {-n[1], n[0], 0.0}};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            R[i][j] = (i == j ? c : 0.0) + s * K[i][j] + (1.0 - c) * n[i] * n[j];
}

void Multiply(const double A[3][3], const double B[3][3], double C[3][3])
{
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            C[i][j] = A[i][0] * B[0][j] + A[i][1] * B[1][j] + A[i][2] * B[2][j];
}

} // namespace kestrelon::test
