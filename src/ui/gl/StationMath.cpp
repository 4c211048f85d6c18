#include "StationMath.h"

#include "Matrix.h"
#include "ObjectPoint.h"
#include "ProjectImage.h"
#include "Vector.h"

#include <algorithm>
#include <cmath>

namespace {

const double kPi = 4.0 * std::atan(1.0);

void SetRotationOf(CProjectImage& station, const double R[3][3])
{
    if (station.rotation.GetRows() != 3 || station.rotation.GetCols() != 3)
        station.rotation.Resize(3, 3);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            station.rotation.SetAt(R[i][j], i, j);
}

void Multiply(const double A[3][3], const double B[3][3], double out[3][3])
{
    double t[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            t[i][j] = A[i][0] * B[0][j] + A[i][1] * B[1][j] + A[i][2] * B[2][j];
    std::copy(&t[0][0], &t[0][0] + 9, &out[0][0]);
}

// out = a x b, both column-major 4 x 4.
void Multiply4(const double a[16], const double b[16], double out[16])
{
    double t[16];
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
            t[c * 4 + r] = a[r] * b[c * 4] + a[4 + r] * b[c * 4 + 1] + a[8 + r] * b[c * 4 + 2] + a[12 + r] * b[c * 4 + 3];
    std::copy(t, t + 16, out);
}

void Transform4(const double m[16], const double v[4], double out[4])
{
    for (int r = 0; r < 4; ++r)
        out[r] = m[r] * v[0] + m[4 + r] * v[1] + m[8 + r] * v[2] + m[12 + r] * v[3];
}

// The rotation glRotated makes of an angle (degrees) and an axis.
void AxisRotation(double degrees, double x, double y, double z, double m[16])
{
    const double n = std::sqrt(x * x + y * y + z * z);
    if (n > 0.0)
        x /= n, y /= n, z /= n;
    const double a = degrees * kPi / 180.0;
    const double c = std::cos(a), s = std::sin(a), t = 1.0 - c;
    const double r[3][3] = {{x * x * t + c, x * y * t - z * s, x * z * t + y * s},
                            {y * x * t + z * s, y * y * t + c, y * z * t - x * s},
                            {x * z * t - y * s, y * z * t + x * s, z * z * t + c}};
    for (int col = 0; col < 4; ++col)
        for (int row = 0; row < 4; ++row)
            m[col * 4 + row] = row < 3 && col < 3 ? r[row][col] : (row == col ? 1.0 : 0.0);
}

struct CClipVertex {
    double v[4];
};

// Sutherland-Hodgman against the six planes -w <= x, y, z <= w.
void ClipPolygon(std::vector<CClipVertex>& poly)
{
    std::vector<CClipVertex> out;
    for (int plane = 0; plane < 6 && !poly.empty(); ++plane) {
        const int axis = plane / 2;
        const double sign = plane % 2 == 0 ? 1.0 : -1.0;
        auto distance = [&](const CClipVertex& p) { return p.v[3] + sign * p.v[axis]; };
        out.clear();
        for (std::size_t i = 0; i < poly.size(); ++i) {
            const CClipVertex& a = poly[i];
            const CClipVertex& b = poly[(i + 1) % poly.size()];
            const double da = distance(a), db = distance(b);
            if (da >= 0.0)
                out.push_back(a);
            if ((da >= 0.0) != (db >= 0.0)) {
                const double t = da / (da - db);
                CClipVertex c;
                for (int k = 0; k < 4; ++k)
                    c.v[k] = a.v[k] + t * (b.v[k] - a.v[k]);
                out.push_back(c);
            }
        }
        poly.swap(out);
    }
}

bool InsideClipVolume(const double c[4])
{
    return -c[3] <= c[0] && c[0] <= c[3] && -c[3] <= c[1] && c[1] <= c[3] && -c[3] <= c[2] && c[2] <= c[3];
}

// Whether the disc polygon (already in clip coordinates) leaves a front-facing
// part inside the clip volume.
bool PolygonHits(std::vector<CClipVertex>& poly)
{
    ClipPolygon(poly);
    if (poly.size() < 3)
        return false;
    double area = 0.0;
    for (std::size_t i = 0; i < poly.size(); ++i) {
        const CClipVertex& a = poly[i];
        const CClipVertex& b = poly[(i + 1) % poly.size()];
        if (a.v[3] <= 0.0 || b.v[3] <= 0.0)
            return false;
        area += (a.v[0] / a.v[3]) * (b.v[1] / b.v[3]) - (b.v[0] / b.v[3]) * (a.v[1] / a.v[3]);
    }
    return area > 0.0; // counter-clockwise: front facing, the back is culled
}

} // namespace

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
    SetRotationOf(station, R);
}

void TurnStation(CProjectImage& station, const double start[3][3], double a, double b)
{
    const double ca = std::cos(a), sa = std::sin(a), cb = std::cos(b), sb = std::sin(b);
    const double Ry[3][3] = {{ca, 0.0, sa}, {0.0, 1.0, 0.0}, {-sa, 0.0, ca}};
    const double Rx[3][3] = {{1.0, 0.0, 0.0}, {0.0, cb, -sb}, {0.0, sb, cb}};
    double R[3][3];
    Multiply(Ry, Rx, R);
    Multiply(R, start, R);
    SetRotationOf(station, R);
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
            SetRotationOf(station, R);
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
    SetRotationOf(station, out);
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

void PickPointSymbols(const CObjectPointList& points, float pointSize, bool discs, int nameBase,
                      const double modelview[16], const double projection[16], const int viewport[4],
                      const CPickRegion& region, std::vector<int>& names)
{
    names.clear();
    if (!(region.width > 0.0) || !(region.height > 0.0))
        return;
    double pick[16], clip[16];
    PickMatrix(region, viewport, pick);
    Multiply4(pick, projection, clip);
    Multiply4(clip, modelview, clip);
    const int n = points.GetSize();
    // The unit disc of the drawer: 20 vertices on the circle.
    double circle[20][2];
    for (int k = 0; k < 40; k += 2) {
        const double a = k * (kPi / 4.0) * 0.2;
        circle[k / 2][0] = std::cos(a);
        circle[k / 2][1] = std::sin(a);
    }
    // The six planes of the pick volume in object space (w +- x, y, z >= 0)
    // with the lengths of their normals: a disc whose sphere lies wholly
    // outside one of them cannot be hit, which spares the polygon test.
    double planes[6][4], lengths[6];
    for (int k = 0; k < 6; ++k) {
        const int row = k / 2;
        const double sign = k % 2 == 0 ? 1.0 : -1.0;
        for (int c = 0; c < 4; ++c)
            planes[k][c] = clip[c * 4 + 3] + sign * clip[c * 4 + row];
        lengths[k] = std::sqrt(planes[k][0] * planes[k][0] + planes[k][1] * planes[k][1] + planes[k][2] * planes[k][2]);
    }
    // One pass over the points; the drawer names the points first, then the discs.
    std::vector<int> discHits;
    std::vector<CClipVertex> poly;
    for (int i = 0; i < n; ++i) {
        const CObjectPoint* p = points.GetAt(i);
        if (pointSize > 0.0f) {
            const double v[4] = {p->x, p->y, p->z, 1.0};
            double c[4];
            Transform4(clip, v, c);
            if (InsideClipVolume(c))
                names.push_back(nameBase + i);
        }
        const double* nv = p->normal;
        if (!discs || (nv[0] == 0.0 && nv[1] == 0.0 && nv[2] == 0.0) || p->radius == 0.0)
            continue;
        const double s = p->radius * pointSize;
        const double reach = std::fabs(s) * (1.0 + 1e-9);
        bool outside = false;
        for (int k = 0; k < 6 && !outside; ++k)
            outside = planes[k][0] * p->x + planes[k][1] * p->y + planes[k][2] * p->z + planes[k][3] < -reach * lengths[k];
        if (outside)
            continue;
        double m[16] = {s, 0, 0, 0, 0, s, 0, 0, 0, 0, s, 0, p->x, p->y, p->z, 1};
        if (nv[0] == 0.0 && nv[1] == 0.0) {
            if (nv[2] < 0.0) {
                double r[16];
                AxisRotation(180.0, 1, 0, 0, r);
                Multiply4(m, r, m);
            }
        } else {
            const double c = std::max(-1.0, std::min(1.0, nv[2]));
            double r[16];
            AxisRotation(std::acos(c) * 180.0 / kPi, -nv[1], nv[0], 0.0, r);
            Multiply4(m, r, m);
        }
        double total[16];
        Multiply4(clip, m, total);
        poly.clear();
        for (const auto& q : circle) {
            const double v[4] = {q[0], q[1], 0.0, 1.0};
            CClipVertex cv;
            Transform4(total, v, cv.v);
            poly.push_back(cv);
        }
        if (PolygonHits(poly))
            discHits.push_back(nameBase + i);
    }
    names.insert(names.end(), discHits.begin(), discHits.end());
}
