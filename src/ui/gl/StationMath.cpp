#include "StationMath.h"

#include "Matrix.h"
#include "ObjectPoint.h"
#include "ProjectImage.h"
#include "Vector.h"

#include <algorithm>
#include <cmath>

namespace {

void Multiply(const double A[3][3], const double B[3][3], double out[3][3])
{
    double t[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            t[i][j] = A[i][0] * B[0][j] + A[i][1] * B[1][j] + A[i][2] * B[2][j];
    std::copy(&t[0][0], &t[0][0] + 9, &out[0][0]);
}

// out = a x b, both column-major 4 x 4.
} // namespace

void SetStationRotation(CProjectImage& station, const double R[3][3])
{
    if (station.rotation.GetRows() != 3 || station.rotation.GetCols() != 3)
        station.rotation.Resize(3, 3);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            station.rotation.SetAt(R[i][j], i, j);
}

void OrthonormalizeRotation(double R[3][3])
{
    // Newton-Schulz steps X := X (3 I - X^T X) / 2, quadratic near a rotation.
    for (int step = 0; step < 4; ++step) {
        double XtX[3][3];
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                XtX[i][j] = R[0][i] * R[0][j] + R[1][i] * R[1][j] + R[2][i] * R[2][j];
        double F[3][3];
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                F[i][j] = 0.5 * ((i == j ? 3.0 : 0.0) - XtX[i][j]);
        Multiply(R, F, R);
    }
}

void ComputeStationClipRange(const CStationBox& box, double axisSize, const double station[3], float& nearPlane,
                             float& farPlane)
{
    double points[12][3];
    int n = 0;
    for (int corner = 0; corner < 8; ++corner, ++n)
        for (int k = 0; k < 3; ++k)
            points[n][k] = (corner >> k) & 1 ? box.max[k] : box.min[k];
    for (int tip = -1; tip < 3; ++tip, ++n)
        for (int k = 0; k < 3; ++k)
            points[n][k] = k == tip ? 1.2 * axisSize : 0.0;
    double m[3] = {0, 0, 0};
    for (const auto& p : points)
        for (int k = 0; k < 3; ++k)
            m[k] += p[k] / 12.0;
    auto distance = [](const double a[3], const double b[3]) {
        return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]));
    };
    const float D = float(distance(station, m));
    float r = 0.0f;
    for (const auto& p : points)
        r = std::max(r, float(distance(p, m)));
    nearPlane = D - r;
    farPlane = D + r;
    // A near plane at or behind the station would make the projection singular.
    if (nearPlane <= 0.0f)
        nearPlane = 0.001f;
    nearPlane *= 0.9f;
    farPlane *= 1.1f;
}

void StationModelview(const CProjectImage& station, double m[16])
{
    double R[3][3];
    station.GetRotation(R);
    const double S[3] = {station.X, station.Y, station.Z};
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c)
            m[c * 4 + r] = R[r][c];
        m[12 + r] = -(R[r][0] * S[0] + R[r][1] * S[1] + R[r][2] * S[2]);
        m[r * 4 + 3] = 0.0;
    }
    m[15] = 1.0;
}

void MoveStationInCameraFrame(CProjectImage& station, const double v[3])
{
    double R[3][3];
    station.GetRotation(R);
    station.X += R[0][0] * v[0] + R[1][0] * v[1] + R[2][0] * v[2];
    station.Y += R[0][1] * v[0] + R[1][1] * v[1] + R[2][1] * v[2];
    station.Z += R[0][2] * v[0] + R[1][2] * v[1] + R[2][2] * v[2];
}

void RollStation(CProjectImage& station, const double start[3][3], double theta)
{
    const double c = std::cos(theta), s = std::sin(theta);
    const double Z[3][3] = {{c, s, 0.0}, {-s, c, 0.0}, {0.0, 0.0, 1.0}};
    double R[3][3];
    Multiply(Z, start, R);
    SetStationRotation(station, R);
}

void TurnStation(CProjectImage& station, const double start[3][3], double a, double b)
{
    const double ca = std::cos(a), sa = std::sin(a), cb = std::cos(b), sb = std::sin(b);
    const double Ry[3][3] = {{ca, 0.0, sa}, {0.0, 1.0, 0.0}, {-sa, 0.0, ca}};
    const double Rx[3][3] = {{1.0, 0.0, 0.0}, {0.0, cb, -sb}, {0.0, sb, cb}};
    double R[3][3];
    Multiply(Ry, Rx, R);
    Multiply(R, start, R);
    SetStationRotation(station, R);
}

bool AimStationAt(CProjectImage& station, const double point[3])
{
    double R[3][3];
    station.GetRotation(R);
    CVector v(3), d(3);
    for (int k = 0; k < 3; ++k)
        v[k] = -R[2][k];
    d[0] = point[0] - station.X;
    d[1] = point[1] - station.Y;
    d[2] = point[2] - station.Z;
    const double dn = d.Norm(), vn = v.Norm();
    if (!(dn > 0.0) || !(vn > 0.0) || !std::isfinite(dn))
        return false;
    if (v.Dot(d) < 0.0) {
        CVector c;
        c.SetCross(v, d);
        if (c.Norm() < 1e-12 * dn * vn) {
            // The point lies straight behind: half a turn about the camera's y axis.
            for (int k = 0; k < 3; ++k) {
                R[0][k] = -R[0][k];
                R[2][k] = -R[2][k];
            }
            SetStationRotation(station, R);
            return true;
        }
    }
    CMatrix Q;
    if (!Q.SetRotationFromTo(v, d))
        return false;
    double out[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            out[i][j] = R[i][0] * Q.GetAt(j, 0) + R[i][1] * Q.GetAt(j, 1) + R[i][2] * Q.GetAt(j, 2);
    SetStationRotation(station, out);
    return true;
}

void PickMatrix(const CPickRegion& region, const int viewport[4], double m[16])
{
    std::fill(m, m + 16, 0.0);
    const double sx = viewport[2] / region.width, sy = viewport[3] / region.height;
    m[0] = sx;
    m[5] = sy;
    m[10] = 1.0;
    m[15] = 1.0;
    m[12] = (viewport[2] - 2.0 * (region.x - viewport[0])) / region.width;
    m[13] = (viewport[3] - 2.0 * (region.y - viewport[1])) / region.height;
}
