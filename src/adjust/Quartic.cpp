#include "Quartic.h"

#include <cmath>

namespace {

// Adds the real roots of y^2 + s y + m = 0, shifted by `shift`, when its
// discriminant is strictly positive.
void AddPair(double s, double m, double shift, double roots[4], short& count)
{
    const double disc = s * s - 4.0 * m;
    if (disc > 0.0) {
        const double root = std::sqrt(disc);
        roots[count++] = (root - s) / 2.0 - shift;
        roots[count++] = (-s - root) / 2.0 - shift;
    }
}

// Newton steps on the quartic itself: Ferrari's splitting loses digits where
// its intermediate terms nearly cancel (a resolvent root close to p), and the
// biquadratic shortcut drops a q below 1e-6 whatever the scale of the roots.
// A step is kept only while it lowers the quartic's value.
double Polish(const double k[4], double x)
{
    double value = (((x + k[0]) * x + k[1]) * x + k[2]) * x + k[3];
    for (int step = 0; step < 4 && value != 0.0; ++step) {
        const double slope = ((4.0 * x + 3.0 * k[0]) * x + 2.0 * k[1]) * x + k[2];
        if (!(slope != 0.0))
            break;
        const double next = x - value / slope;
        const double nextValue = (((next + k[0]) * next + k[1]) * next + k[2]) * next + k[3];
        if (!(std::fabs(nextValue) < std::fabs(value)))
            break;
        x = next;
        value = nextValue;
    }
    return x;
}

} // namespace

short SolveQuartic(const double coefficients[4], double roots[4])
{
    const double a = coefficients[0], b = coefficients[1], c = coefficients[2], d = coefficients[3];
    if (!std::isfinite(a) || !std::isfinite(b) || !std::isfinite(c) || !std::isfinite(d))
        return 0;

    // Depressed form y^4 + p y^2 + q y + r = 0 in y = x + a/4.
    const double shift = a / 4.0;
    const double p = b - 0.375 * a * a;
    const double q = 0.125 * a * a * a - 0.5 * a * b + c;
    const double r = 0.0625 * a * a * b - 0.01171875 * a * a * a * a - 0.25 * c * a + d;

    short count = 0;
    if (std::fabs(q) < 1e-6) {
        // Biquadratic: y^2 = z with z^2 + p z + r = 0.
        const double disc = p * p - 4.0 * r;
        if (disc < 0.0)
            return 0;
        const double z1 = (std::sqrt(disc) - p) / 2.0;
        const double z2 = (-p - std::sqrt(disc)) / 2.0;
        if (z1 > 0.0) {
            roots[count++] = std::sqrt(z1) - shift;
            roots[count++] = -std::sqrt(z1) - shift;
        }
        if (z2 > 0.0) {
            roots[count++] = std::sqrt(z2) - shift;
            roots[count++] = -std::sqrt(z2) - shift;
        }
        // The small q that was dropped is put back by the polish.
        for (int i = 0; i < count; ++i)
            roots[i] = Polish(coefficients, roots[i]);
        return count;
    }

    // Resolvent cubic (z - p)(z^2 - 4 r) = q^2, depressed in w = z - p/3 as
    // w^3 + 3 P w + 2 Q = 0. Its largest root is used: z - p is then the
    // square of the largest pair sum of the quartic's roots, so it stays clear
    // of zero, while a smaller root may sit at the rounding level and lose
    // all four roots.
    const double P = (-4.0 * r - p * p / 3.0) / 3.0;
    const double Q = 0.5 * (8.0 * r * p / 3.0 - q * q - 0.07407407407407407 * p * p * p);
    const double E = Q * Q + P * P * P;
    double w;
    if (E > 0.0) {
        const double root = std::sqrt(E);
        w = std::cbrt(root - Q) + std::cbrt(-Q - root);
    } else {
        const double pi = 4.0 * std::atan(1.0);
        double theta;
        if (Q > 0.0)
            theta = pi - std::atan2(std::sqrt(-E), Q);
        else if (Q == 0.0)
            theta = pi / 2.0;
        else
            theta = std::atan2(std::sqrt(-E), -Q);
        w = 2.0 * std::sqrt(-P) * std::cos(theta / 3.0);
    }

    const double z = p / 3.0 + w;
    if (!(z - p > 0.0))
        return 0;
    const double R = std::sqrt(z - p);
    const double h = q / (2.0 * R);
    const double m = z / 2.0;
    if (!std::isfinite(h))
        return 0;

    // (y^2 + m)^2 = (R y - h)^2 splits into y^2 + R y + m - h and
    // y^2 - R y + m + h.
    AddPair(R, m - h, shift, roots, count);
    AddPair(-R, m + h, shift, roots, count);
    for (int i = 0; i < count; ++i)
        roots[i] = Polish(coefficients, roots[i]);
    return count;
}
