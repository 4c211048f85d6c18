#include "ThreePointGeometry.h"

#include <algorithm>
#include <cmath>

#include "Matrix.h"
#include "NormalEquations.h"
#include "RayGeometry.h"
#include "Vector.h"

namespace {

// Polynomials in one variable, coefficient k of power k.
struct Poly {
    double k[5] = {0.0, 0.0, 0.0, 0.0, 0.0};
};

Poly Multiply(const Poly& a, const Poly& b)
{
    Poly out;
    for (int i = 0; i < 5; ++i)
        for (int j = 0; i + j < 5; ++j)
            out.k[i + j] += a.k[i] * b.k[j];
    return out;
}

Poly Combine(double fa, const Poly& a, double fb, const Poly& b)
{
    Poly out;
    for (int i = 0; i < 5; ++i)
        out.k[i] = fa * a.k[i] + fb * b.k[i];
    return out;
}

// The three law-of-cosines equations in v = F1 / F0 and w = F2 / F0, with
// the rays reduced by c and the squared object distances by their largest,
// so that the coefficients stay near unity:
//   G(v) = r00 - 2 v r01 + v^2 r11            (|Q0 - Q1|^2 / F0^2)
//   w D(v) = N(v)                             (difference of two equations)
//   C r22 N^2 - 2 C r02 N D + (C r00 - B G) D^2 = 0
struct Elimination {
    double r00, r01, r02, r11, r12, r22;
    double A, B, C; // |P1 - P2|^2, |P0 - P2|^2, |P0 - P1|^2, reduced
    Poly G, N, D;
};

bool Prepare(const double rays[3][3], const double object[3][3], double c, Elimination& e)
{
    if (!(std::fabs(c) > 0.0) || !std::isfinite(c))
        return false;
    double r[3][3];
    for (int i = 0; i < 3; ++i) {
        if (!ray::IsFinite(rays[i]) || !ray::IsFinite(object[i]))
            return false;
        for (int j = 0; j < 3; ++j)
            r[i][j] = rays[i][j] / c;
    }
    e.r00 = ray::Dot(r[0], r[0]);
    e.r01 = ray::Dot(r[0], r[1]);
    e.r02 = ray::Dot(r[0], r[2]);
    e.r11 = ray::Dot(r[1], r[1]);
    e.r12 = ray::Dot(r[1], r[2]);
    e.r22 = ray::Dot(r[2], r[2]);

    double d[3];
    ray::Subtract(object[1], object[2], d);
    double A = ray::Dot(d, d);
    ray::Subtract(object[0], object[2], d);
    double B = ray::Dot(d, d);
    ray::Subtract(object[0], object[1], d);
    double C = ray::Dot(d, d);
    const double largest = std::max(A, std::max(B, C));
    if (!(largest > 0.0) || !std::isfinite(largest))
        return false;
    e.A = A / largest;
    e.B = B / largest;
    e.C = C / largest;

    e.G.k[0] = e.r00;
    e.G.k[1] = -2.0 * e.r01;
    e.G.k[2] = e.r11;
    Poly v2; // r11 v^2 - r00
    v2.k[0] = -e.r00;
    v2.k[2] = e.r11;
    e.N = Combine(e.A - e.B, e.G, -e.C, v2);
    e.D.k[0] = 2.0 * e.C * e.r02;
    e.D.k[1] = -2.0 * e.C * e.r12;
    return true;
}

} // namespace

bool FormResectionQuartic(const double rays[3][3], const double object[3][3], double c,
                          double coefficients[4])
{
    Elimination e;
    if (!Prepare(rays, object, c, e))
        return false;

    Poly constant; // C r00 - B G
    constant.k[0] = e.C * e.r00;
    const Poly tail = Combine(1.0, constant, -e.B, e.G);
    Poly quartic = Combine(e.C * e.r22, Multiply(e.N, e.N), -2.0 * e.C * e.r02, Multiply(e.N, e.D));
    quartic = Combine(1.0, quartic, 1.0, Multiply(tail, Multiply(e.D, e.D)));

    // In t = -c v the reduced rays make v the natural variable; the power k
    // of v becomes (-t / c)^k. Divide by the leading term.
    double largest = 0.0;
    for (double k : quartic.k)
        largest = std::max(largest, std::fabs(k));
    const double lead = quartic.k[4];
    if (!(std::fabs(lead) > 1e-12 * largest) || !std::isfinite(lead))
        return false;
    double scale = 1.0; // (-1/c)^(k-4) relative to the leading term
    for (int k = 3; k >= 0; --k) {
        scale *= -c;
        coefficients[3 - k] = quartic.k[k] / lead * scale;
    }
    for (int i = 0; i < 4; ++i)
        if (!std::isfinite(coefficients[i]))
            return false;
    return true;
}

bool SecondRayRatio(const double rays[3][3], const double object[3][3], double c, double t,
                    double& ratio)
{
    Elimination e;
    if (!Prepare(rays, object, c, e) || !std::isfinite(t))
        return false;
    const double v = -t / c;
    const double n = e.N.k[0] + v * (e.N.k[1] + v * e.N.k[2]);
    const double d = e.D.k[0] + v * e.D.k[1];
    const double scale = std::fabs(e.D.k[0]) + std::fabs(v * e.D.k[1]);
    if (!(std::fabs(d) > 1e-12 * scale))
        return false;
    ratio = n / d;
    return std::isfinite(ratio);
}

void SimilarityRotation(double omega, double phi, double kappa, double M[3][3])
{
    const double co = std::cos(omega), so = std::sin(omega);
    const double cp = std::cos(phi), sp = std::sin(phi);
    const double ck = std::cos(kappa), sk = std::sin(kappa);
    M[0][0] = ck * cp;
    M[0][1] = sk * co + ck * sp * so;
    M[0][2] = sk * so - ck * sp * co;
    M[1][0] = -cp * sk;
    M[1][1] = ck * co - sk * sp * so;
    M[1][2] = ck * so + sk * sp * co;
    M[2][0] = sp;
    M[2][1] = -cp * so;
    M[2][2] = cp * co;
}

namespace {

void MatMul(const double A[3][3], const double B[3][3], double out[3][3])
{
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            out[i][j] = A[i][0] * B[0][j] + A[i][1] * B[1][j] + A[i][2] * B[2][j];
}

// Derivatives of M = Rz(kappa) Ry(phi) Rx(omega) with respect to the angles.
void SimilarityRotationDerivatives(double omega, double phi, double kappa, double dM[3][3][3])
{
    const double co = std::cos(omega), so = std::sin(omega);
    const double cp = std::cos(phi), sp = std::sin(phi);
    const double ck = std::cos(kappa), sk = std::sin(kappa);
    const double Rx[3][3] = {{1, 0, 0}, {0, co, so}, {0, -so, co}};
    const double Ry[3][3] = {{cp, 0, -sp}, {0, 1, 0}, {sp, 0, cp}};
    const double Rz[3][3] = {{ck, sk, 0}, {-sk, ck, 0}, {0, 0, 1}};
    const double dRx[3][3] = {{0, 0, 0}, {0, -so, co}, {0, -co, -so}};
    const double dRy[3][3] = {{-sp, 0, -cp}, {0, 0, 0}, {cp, 0, -sp}};
    const double dRz[3][3] = {{-sk, ck, 0}, {-ck, -sk, 0}, {0, 0, 0}};
    double tmp[3][3];
    MatMul(Ry, dRx, tmp);
    MatMul(Rz, tmp, dM[0]);
    MatMul(dRy, Rx, tmp);
    MatMul(Rz, tmp, dM[1]);
    MatMul(Ry, Rx, tmp);
    MatMul(dRz, tmp, dM[2]);
}

// Orthonormal frame (columns) of a point triad: first axis along p1 - p0,
// second from p2 - p0 made orthogonal to it, third their cross product.
// Returns the length of p1 - p0; false for a degenerate triad.
bool TriadFrame(const double p[3][3], double F[3][3], double& baseLength)
{
    double e1[3], e2[3], e3[3];
    ray::Subtract(p[1], p[0], e1);
    ray::Subtract(p[2], p[0], e2);
    baseLength = ray::Norm(e1);
    const double span = std::max(baseLength, ray::Norm(e2));
    if (!(baseLength > 1e-12 * span) || !(span > 0.0))
        return false;
    for (double& v : e1)
        v /= baseLength;
    const double along = ray::Dot(e2, e1);
    for (int i = 0; i < 3; ++i)
        e2[i] -= along * e1[i];
    const double height = ray::Norm(e2);
    if (!(height > 1e-12 * span))
        return false; // collinear
    for (double& v : e2)
        v /= height;
    ray::Cross(e1, e2, e3);
    for (int i = 0; i < 3; ++i) {
        F[i][0] = e1[i];
        F[i][1] = e2[i];
        F[i][2] = e3[i];
    }
    return true;
}

constexpr int kSimilarityIterations = 10;

} // namespace

bool FitThreePointSimilarity(const double camera[3][3], const double object[3][3], double solution[6])
{
    for (int i = 0; i < 3; ++i)
        if (!ray::IsFinite(camera[i]) || !ray::IsFinite(object[i]))
            return false;

    // Start: M' carries the camera triad's frame onto the object triad's, so
    // M = Fc Fo'; the scale from the first side.
    double Fc[3][3], Fo[3][3], baseCamera = 0.0, baseObject = 0.0;
    if (!TriadFrame(camera, Fc, baseCamera) || !TriadFrame(object, Fo, baseObject))
        return false;
    double M[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            M[i][j] = Fc[i][0] * Fo[j][0] + Fc[i][1] * Fo[j][1] + Fc[i][2] * Fo[j][2];
    double omega = std::atan2(-M[2][1], M[2][2]);
    double phi = std::asin(std::max(-1.0, std::min(1.0, M[2][0])));
    double kappa = std::atan2(-M[1][0], M[0][0]);
    double scale = baseCamera < 1e-100 ? 1.0 : baseObject / baseCamera;

    // Translation from the centroids.
    SimilarityRotation(omega, phi, kappa, M);
    double T[3] = {0.0, 0.0, 0.0};
    for (int i = 0; i < 3; ++i) {
        double m[3];
        ray::MultiplyTransposed(M, camera[i], m);
        for (int k = 0; k < 3; ++k)
            T[k] += (object[i][k] - scale * m[k]) / 3.0;
    }

    // Gauss-Newton on object = T + s M' q: unknowns T, omega, phi, kappa, s.
    const double objectSize = std::max(baseObject, 1e-300);
    for (int iteration = 0; iteration < kSimilarityIterations; ++iteration) {
        SimilarityRotation(omega, phi, kappa, M);
        double dM[3][3][3];
        SimilarityRotationDerivatives(omega, phi, kappa, dM);

        CMatrix normal(8, -1);
        CMatrix block(3, 8);
        for (int i = 0; i < 3; ++i) {
            double m[3], dm[3][3];
            ray::MultiplyTransposed(M, camera[i], m);
            for (int a = 0; a < 3; ++a)
                ray::MultiplyTransposed(dM[a], camera[i], dm[a]);
            for (int row = 0; row < 3; ++row) {
                for (int col = 0; col < 3; ++col)
                    block.SetAt(row == col ? 1.0 : 0.0, row, col);
                for (int a = 0; a < 3; ++a)
                    block.SetAt(scale * dm[a][row], row, 3 + a);
                block.SetAt(m[row], row, 6);
                // Computed minus observed: the solution is subtracted.
                block.SetAt(T[row] + scale * m[row] - object[i][row], row, 7);
            }
            normal.AddAtA(block, 1);
        }
        CVector correction(7);
        if (!SolveNormalEquations(normal, 7, correction))
            return false;
        for (int k = 0; k < 3; ++k)
            T[k] -= correction[k];
        omega -= correction[3];
        phi -= correction[4];
        kappa -= correction[5];
        scale -= correction[6];
        if (!ray::IsFinite(T) || !std::isfinite(omega) || !std::isfinite(phi) || !std::isfinite(kappa) ||
            !std::isfinite(scale))
            return false;

        const double angleStep =
            std::max(std::fabs(correction[3]), std::max(std::fabs(correction[4]), std::fabs(correction[5])));
        const double shiftStep = std::sqrt(correction[0] * correction[0] + correction[1] * correction[1] +
                                           correction[2] * correction[2]);
        if (angleStep < 1e-14 && shiftStep < 1e-14 * objectSize &&
            std::fabs(correction[6]) < 1e-14 * std::fabs(scale))
            break;
    }

    // The reported angles are those of M, brought into their principal range.
    SimilarityRotation(omega, phi, kappa, M);
    solution[0] = T[0];
    solution[1] = T[1];
    solution[2] = T[2];
    const double cphi = std::sqrt(std::max(0.0, 1.0 - M[2][0] * M[2][0]));
    solution[4] = std::atan2(M[2][0], cphi);
    solution[3] = std::atan2(-M[2][1], M[2][2]);
    solution[5] = std::atan2(-M[1][0], M[0][0]);
    for (int i = 0; i < 6; ++i)
        if (!std::isfinite(solution[i]))
            return false;
    return true;
}
