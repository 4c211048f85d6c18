// Accumulation into the packed upper-triangular normal system (row r of the
// row table starts at its diagonal element).
#pragma once

#include "Vector.h"

// Adds one ray's camera rows: the camera's own 10 x 10 block at c0, its
// cross block with the Width unknowns at o0 (a station or a point, after the
// camera) and the camera's right-hand sides. a0, a1 are the ray's camera
// partials, q0, q1 those of the other unknowns, l its misclosures.
template <int Width>
inline void AddCameraRows(double* const* T, CVector& rightHandSide, int c0, int o0, const double* a0,
                          const double* a1, const double* q0, const double* q1, const double l[2])
{
    for (int i = 0; i < 10; ++i) {
        double* row = T[c0 + i];
        for (int j = i; j < 10; ++j)
            row[j - i] += a0[i] * a0[j] + a1[i] * a1[j];
        double* cross = row + (o0 - c0 - i);
        for (int j = 0; j < Width; ++j)
            cross[j] += a0[i] * q0[j] + a1[i] * q1[j];
        rightHandSide[c0 + i] += a0[i] * l[0] + a1[i] * l[1];
    }
}
