// What the formings of the normal system share: the fault flags they test,
// the finite check of a ray's numbers, and the accumulation into the packed
// upper-triangular system (row r of the row table starts at its diagonal
// element).
#pragma once

#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

#include "SparseNormals.h"
#include "Vector.h"

// A sigma of this or more leaves its parameter free (no a-priori weight).
constexpr double kFreeSigma = 1000.0;
// The floating-point faults that end a run.
constexpr int kFaults = FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW;

// A value is not finite when its exponent bits are all set: adding one to
// the exponent then carries into the sign bit. Integer operations only, so
// the loop vectorises and raises no floating-point flag.
inline bool AllFinite(const double* v, int n)
{
    constexpr uint64_t kExponent = 0x7ff0000000000000ull;
    constexpr uint64_t kExponentOne = 0x0010000000000000ull;
    uint64_t carry = 0;
    for (int i = 0; i < n; ++i) {
        uint64_t bits;
        std::memcpy(&bits, v + i, sizeof bits);
        carry |= (bits & kExponent) + kExponentOne;
    }
    return (carry >> 63) == 0;
}

// Adds the a-priori weight 1 / s^2 of a parameter to its diagonal element and
// the weighted correction it has accumulated to its right-hand side, unless
// s leaves it free.
inline void AddParameterWeight(double& diagonal, double& rightHandSide, double s, double correction)
{
    if (!(s < kFreeSigma))
        return;
    const double w = 1.0 / (s * s);
    diagonal += w;
    rightHandSide -= w * correction;
}

// Element access to the reduced system being formed: packed rows of a dense
// matrix (row r of the row table starts at its diagonal element, the
// right-hand side in column `order`, the square sum in the last row), or
// the blocks of a sparse system.
struct SystemRows {
    double* const* T = nullptr;
    CSparseNormals* sparse = nullptr;
    int order = 0; // unknowns

    // Element (r, c) of the symmetric system; along a row the following
    // columns of the same block (and of linked blocks next to it) follow.
    double* At(int r, int c) const
    {
        if (T == nullptr)
            return sparse->Entry(r, c);
        if (r > c)
            std::swap(r, c);
        return T[r] + (c - r);
    }
    double& Rhs(int r) const { return T != nullptr ? T[r][order - r] : sparse->Rhs(r); }
    double& SquareSum() const { return T != nullptr ? T[order][0] : sparse->SquareSum(); }
};

// Adds one ray's camera rows: the camera's own 10 x 10 block at c0, its
// cross block with the Width unknowns at o0 (a station or a point, after the
// camera) and the camera's right-hand sides. a0, a1 are the ray's camera
// partials, q0, q1 those of the other unknowns, l its misclosures.
template <int Width>
inline void AddCameraRows(const SystemRows& S, CVector& rightHandSide, int c0, int o0, const double* a0,
                          const double* a1, const double* q0, const double* q1, const double l[2])
{
    for (int i = 0; i < 10; ++i) {
        double* row = S.At(c0 + i, c0 + i);
        for (int j = i; j < 10; ++j)
            row[j - i] += a0[i] * a0[j] + a1[i] * a1[j];
        double* cross = S.At(c0 + i, o0);
        for (int j = 0; j < Width; ++j)
            cross[j] += a0[i] * q0[j] + a1[i] * q1[j];
        rightHandSide[c0 + i] += a0[i] * l[0] + a1[i] * l[1];
    }
}
