#include "GLPick.h"

#include <algorithm>
#include <array>
#include <cmath>

void MultiplyMatrices(const double a[16], const double b[16], double out[16])
{
    double r[16];
    for (int c = 0; c < 4; ++c)
        for (int row = 0; row < 4; ++row) {
            double s = 0.0;
            for (int k = 0; k < 4; ++k)
                s += a[k * 4 + row] * b[c * 4 + k];
            r[c * 4 + row] = s;
        }
    std::copy(r, r + 16, out);
}

void MakePickMatrix(double x, double y, double width, double height, const int viewport[4], double out[16])
{
    std::fill(out, out + 16, 0.0);
    out[0] = viewport[2] / width;
    out[5] = viewport[3] / height;
    out[10] = 1.0;
    out[15] = 1.0;
    out[12] = (viewport[2] - 2.0 * (x - viewport[0])) / width;
    out[13] = (viewport[3] - 2.0 * (y - viewport[1])) / height;
}

void ToClip(const double m[16], const double p[3], double clip[4])
{
    for (int row = 0; row < 4; ++row)
        clip[row] = m[row] * p[0] + m[4 + row] * p[1] + m[8 + row] * p[2] + m[12 + row];
}

bool ClipPointInside(const double c[4])
{
    const double w = c[3];
    return -w <= c[0] && c[0] <= w && -w <= c[1] && c[1] <= w && -w <= c[2] && c[2] <= w;
}

namespace {

// Signed distance of a clip point to plane k (inside >= 0): w + x, w - x, ...
double PlaneDistance(const double c[4], int k)
{
    const int axis = k / 2;
    return k % 2 == 0 ? c[3] + c[axis] : c[3] - c[axis];
}

} // namespace

bool ClipSegmentHits(const double a[4], const double b[4])
{
    double t0 = 0.0, t1 = 1.0;
    for (int k = 0; k < 6; ++k) {
        const double da = PlaneDistance(a, k), db = PlaneDistance(b, k);
        if (da < 0.0 && db < 0.0)
            return false;
        if (da >= 0.0 && db >= 0.0)
            continue;
        const double t = da / (da - db);
        if (da < 0.0)
            t0 = std::max(t0, t);
        else
            t1 = std::min(t1, t);
        if (t0 > t1)
            return false;
    }
    return true;
}

bool ClipPolygonHits(const double (*v)[4], int n)
{
    std::vector<std::array<double, 4>> poly, next;
    poly.reserve(size_t(n) + 6);
    for (int i = 0; i < n; ++i)
        poly.push_back({v[i][0], v[i][1], v[i][2], v[i][3]});
    for (int k = 0; k < 6 && !poly.empty(); ++k) {
        next.clear();
        for (size_t i = 0; i < poly.size(); ++i) {
            const auto& p = poly[i];
            const auto& q = poly[(i + 1) % poly.size()];
            const double dp = PlaneDistance(p.data(), k), dq = PlaneDistance(q.data(), k);
            if (dp >= 0.0)
                next.push_back(p);
            if ((dp >= 0.0) != (dq >= 0.0)) {
                const double t = dp / (dp - dq);
                std::array<double, 4> r;
                for (int j = 0; j < 4; ++j)
                    r[j] = p[j] + t * (q[j] - p[j]);
                next.push_back(r);
            }
        }
        poly.swap(next);
    }
    return !poly.empty();
}
