// Two adjustments of the same network give the same results: every
// estimate, covariance and summary figure to `tolerance` relative.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "BundleNetwork.h"

namespace bundletest {

inline void ExpectRelativelyNear(double a, double b, double tolerance, const char* what, int index)
{
    const double scale = std::max({std::fabs(a), std::fabs(b), 1e-300});
    EXPECT_LE(std::fabs(a - b), tolerance * scale) << what << " " << index << ": " << a << " vs " << b;
}

// Element by element; with `correlated`, an element of a covariance to
// `tolerance` of sqrt(a_rr a_cc) (the size of its correlation), since an
// element far below its diagonals carries their rounding.
inline void ExpectSameMatrix(const CMatrix& a, const CMatrix& b, double tolerance, const char* what, int index,
                             bool correlated = false)
{
    ASSERT_EQ(a.GetRows(), b.GetRows()) << what << " " << index;
    for (int r = 0; r < a.GetRows(); ++r)
        for (int c = r; c < a.GetRows(); ++c) {
            const double x = a.GetAt(r, c), y = b.GetAt(r, c);
            if (correlated) {
                const double scale = std::sqrt(std::fabs(a.GetAt(r, r) * a.GetAt(c, c)));
                EXPECT_LE(std::fabs(x - y), tolerance * std::max({scale, std::fabs(x), 1e-300}))
                    << what << " " << index << " (" << r << ", " << c << "): " << x << " vs " << y;
            } else {
                ExpectRelativelyNear(x, y, tolerance, what, index);
            }
        }
}

// `other` against `reference`; with `correlated` the covariances are
// compared in the size of their correlations (ExpectSameMatrix).
inline void ExpectSameResults(Network& other, Network& reference, double tolerance, bool correlated = false)
{
    Network& one = reference;
    Network& eight = other;
    EXPECT_EQ(eight.summary.status, one.summary.status);
    EXPECT_EQ(eight.summary.iterations, one.summary.iterations);
    EXPECT_EQ(eight.summary.observations, one.summary.observations);
    ExpectRelativelyNear(eight.summary.sigma0, one.summary.sigma0, tolerance, "sigma0", 0);
    for (int a = 0; a < 3; ++a) {
        ExpectRelativelyNear(eight.summary.rmsTotal[a], one.summary.rmsTotal[a], tolerance, "rms total", a);
        ExpectRelativelyNear(eight.summary.rmsLimiting[a], one.summary.rmsLimiting[a], tolerance, "rms limiting", a);
    }
    ASSERT_EQ(eight.points.GetSize(), one.points.GetSize());
    for (int i = 0; i < one.points.GetSize(); ++i) {
        const CObjectPoint& p = *one.points.GetAt(i);
        const CObjectPoint& q = *eight.points.GetAt(i);
        ExpectRelativelyNear(q.x, p.x, tolerance, "x", i);
        ExpectRelativelyNear(q.y, p.y, tolerance, "y", i);
        ExpectRelativelyNear(q.z, p.z, tolerance, "z", i);
        ExpectRelativelyNear(q.rms, p.rms, tolerance, "point rms", i);
        EXPECT_EQ(q.usedRayCount, p.usedRayCount);
        ExpectSameMatrix(q.covariance, p.covariance, tolerance, "covariance", i, correlated);
        ExpectSameMatrix(q.limitingCovariance, p.limitingCovariance, tolerance, "limiting covariance", i,
                         correlated);
    }
    for (int j = 0; j < one.images.GetSize(); ++j) {
        CProjectImage& s = *one.images.GetAt(j);
        CProjectImage& t = *eight.images.GetAt(j);
        ExpectRelativelyNear(t.X, s.X, tolerance, "X0", j);
        ExpectRelativelyNear(t.Y, s.Y, tolerance, "Y0", j);
        ExpectRelativelyNear(t.Z, s.Z, tolerance, "Z0", j);
        ExpectRelativelyNear(t.GetAzimuth(), s.GetAzimuth(), tolerance, "azimuth", j);
        ExpectRelativelyNear(t.GetRoll(), s.GetRoll(), tolerance, "roll", j);
        ExpectSameMatrix(t.GetCovariance(), s.GetCovariance(), tolerance, "station covariance", j, correlated);
    }
    for (int k = 0; k < one.cameras.GetSize(); ++k)
        for (int q = 0; q < CAM_PARAMETER_COUNT; ++q) {
            ExpectRelativelyNear(eight.cameras.GetAt(k)->parameters[q], one.cameras.GetAt(k)->parameters[q],
                                 tolerance, "camera parameter", q);
            ExpectRelativelyNear(eight.cameras.GetAt(k)->postSigmas[q], one.cameras.GetAt(k)->postSigmas[q],
                                 tolerance, "camera sigma", q);
        }
}

} // namespace bundletest
