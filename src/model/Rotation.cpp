#include "Rotation.h"

#include <algorithm>
#include <cmath>

namespace {

// asin that tolerates arguments a rounding step outside [-1, 1].
double ClampedAsin(double s)
{
    if (std::isnan(s)) return s;
    return std::asin(std::clamp(s, -1.0, 1.0));
}

} // namespace

void RotationFromAngles(double a, double e, double r, double R[3][3])
{
    const double sa = std::sin(a), ca = std::cos(a);
    const double se = std::sin(e), ce = std::cos(e);
    const double sr = std::sin(r), cr = std::cos(r);
    R[0][0] = se * sr * sa + cr * ca;
    R[0][1] = cr * sa - se * sr * ca;
    R[0][2] = sr * ce;
    R[1][0] = cr * se * sa - sr * ca;
    R[1][1] = -sr * sa - cr * se * ca;
    R[1][2] = cr * ce;
    R[2][0] = ce * sa;
    R[2][1] = -ce * ca;
    R[2][2] = -se;
}

namespace {

// The sine of the elevation (+1 or -1) when the camera looks straight down
// or up to rounding, 0 otherwise. The cosine of the elevation is then below
// the rounding of the elements, so azimuth and roll cannot be told apart and
// only their combination (the turn about the viewing axis) is known.
double Pole(const double R[3][3])
{
    constexpr double kLimit = 1e-13;
    if (!(std::fabs(R[2][2]) > 0.5))
        return 0.0;
    if (std::hypot(R[2][0], R[2][1]) > kLimit || std::hypot(R[0][2], R[1][2]) > kLimit)
        return 0.0;
    return R[2][2] < 0.0 ? 1.0 : -1.0;
}

} // namespace

double ElevationFromRotation(const double R[3][3])
{
    const double pole = Pole(R);
    if (pole != 0.0)
        return pole * (M_PI / 2.0);
    return ClampedAsin(-R[2][2]);
}

// The cosine of the elevation (and of phi) is never negative, so dividing both
// arguments of atan2 by it does not change the angle; it is left out, which
// keeps the result finite when the cosine is zero. At the poles the whole
// turn goes into the azimuth (roll 0), taken from the upper 2 x 2 block:
// there R00 = cos t, R01 = sin t, R10 = se sin t, R11 = -se cos t.
double AzimuthFromRotation(const double R[3][3])
{
    const double pole = Pole(R);
    if (pole != 0.0)
        return std::atan2(R[0][1] + pole * R[1][0], R[0][0] - pole * R[1][1]);
    return std::atan2(R[2][0], -R[2][1]);
}

double RollFromRotation(const double R[3][3])
{
    if (Pole(R) != 0.0)
        return 0.0;
    return std::atan2(R[0][2], R[1][2]);
}

double PhiFromRotation(const double R[3][3])
{
    return ClampedAsin(R[2][0]);
}

double OmegaFromRotation(const double R[3][3])
{
    return std::atan2(-R[2][1], R[2][2]);
}

double KappaFromRotation(const double R[3][3])
{
    return std::atan2(-R[1][0], R[0][0]);
}
