#include "SyntheticImageGenerator.h"

#include <algorithm>
#include <cmath>

#include "Camera.h"
#include "ImageObservation.h"
#include "Intersection.h"
#include "ObjectPoint.h"
#include "PointSet.h"
#include "ProjectImage.h"

namespace {

// Projections may fall anywhere on the sensor; whether a point lies inside
// the image is decided from its pixel position.
constexpr double kProjectionFraction = 2.0;
constexpr double kTouch = 1e-10;

double Dot(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

void Cross(const double a[3], const double b[3], double out[3])
{
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

bool Normalise(double v[3])
{
    const double n = std::sqrt(Dot(v, v));
    if (!(n > 0.0) || !std::isfinite(n)) return false;
    for (int i = 0; i < 3; ++i) v[i] /= n;
    return true;
}

// Roots of A t^2 + B t + C = 0 for A < 0 (both ends of the range where it is >= 0).
bool QuadraticRange(double A, double B, double C, double& lo, double& hi)
{
    const double disc = B * B - 4.0 * A * C;
    if (!(A < 0.0) || !(disc >= 0.0)) return false;
    const double s = std::sqrt(disc);
    const double r1 = (-B + s) / (2.0 * A);
    const double r2 = (-B - s) / (2.0 * A);
    lo = std::min(r1, r2);
    hi = std::max(r1, r2);
    return true;
}

} // namespace

double CSyntheticImageGenerator::Conic::F(double x, double y) const
{
    const double u = x - x0, v = y - y0;
    return a * u * u + b * u * v + c * v * v + d * u + e * v;
}

double CSyntheticImageGenerator::Conic::YOf(double x, double sign) const
{
    const double u = x - x0;
    const double Q = (b * b - 4.0 * a * c) * u * u + (2.0 * b * e - 4.0 * c * d) * u + e * e + 4.0 * c;
    if (Q < 1e-20) return y0 - (b * u + e) / (2.0 * c);
    return y0 + (-(b * u + e) + sign * std::sqrt(Q)) / (2.0 * c);
}

bool CSyntheticImageGenerator::Conic::XRange(double& lo, double& hi) const
{
    if (!QuadraticRange(b * b - 4.0 * a * c, 2.0 * b * e - 4.0 * c * d, e * e + 4.0 * c, lo, hi)) return false;
    lo += x0;
    hi += x0;
    return true;
}

bool CSyntheticImageGenerator::Conic::YRange(double& lo, double& hi) const
{
    if (!QuadraticRange(b * b - 4.0 * a * c, 2.0 * b * d - 4.0 * a * e, d * d + 4.0 * a, lo, hi)) return false;
    lo += y0;
    hi += y0;
    return true;
}

int CSyntheticImageGenerator::Conic::XAtY(double y, double roots[2]) const
{
    // a u^2 + (b v + d) u + (c v^2 + e v - 1) = 0
    const double v = y - y0;
    const double B = b * v + d;
    const double disc = B * B - 4.0 * a * (c * v * v + e * v - 1.0);
    if (disc < 0.0) return 0;
    const double s = std::sqrt(disc);
    roots[0] = x0 + (-B - s) / (2.0 * a);
    roots[1] = x0 + (-B + s) / (2.0 * a);
    return disc < kTouch ? 1 : 2;
}

int CSyntheticImageGenerator::Conic::YAtX(double x, double roots[2]) const
{
    const double u = x - x0;
    const double B = b * u + e;
    const double disc = B * B - 4.0 * c * (a * u * u + d * u - 1.0);
    if (disc < 0.0) return 0;
    const double s = std::sqrt(disc);
    roots[0] = y0 + (-B - s) / (2.0 * c);
    roots[1] = y0 + (-B + s) / (2.0 * c);
    return disc < kTouch ? 1 : 2;
}

double CSyntheticImageGenerator::Conic::IntegrateExact(double x1, double x2, double sign) const
{
    // Integral of v(u) = (-(b u + e) + sign sqrt(Q(u))) / (2c), Q = A u^2 + B u + C.
    const double A = b * b - 4.0 * a * c, B = 2.0 * b * e - 4.0 * c * d, C = e * e + 4.0 * c;
    const double D = std::sqrt(std::max(0.0, B * B - 4.0 * A * C));
    auto root = [&](double u) {
        const double Q = std::max(0.0, (A * u + B) * u + C);
        const double s = D > 0.0 ? std::clamp((2.0 * A * u + B) / D, -1.0, 1.0) : 0.0;
        return (2.0 * A * u + B) * std::sqrt(Q) / (4.0 * A) +
               (4.0 * A * C - B * B) / (8.0 * A) * (-std::asin(s) / std::sqrt(-A));
    };
    auto line = [&](double u) { return -(0.5 * b * u * u + e * u); };
    const double u1 = x1 - x0, u2 = x2 - x0;
    return (line(u2) - line(u1) + sign * (root(u2) - root(u1))) / (2.0 * c) + y0 * (x2 - x1);
}

double CSyntheticImageGenerator::Conic::IntegrateTrapezoid(double x1, double x2, double sign, int steps) const
{
    const double h = (x2 - x1) / steps;
    double sum = 0.0;
    double previous = YOf(x1, sign);
    for (int i = 1; i <= steps; ++i) {
        const double next = YOf(i == steps ? x2 : x1 + i * h, sign);
        sum += (previous + next) * h * 0.5;
        previous = next;
    }
    return sum;
}

CSyntheticImageGenerator::CSyntheticImageGenerator(const CPointSet& points, CProjectImage& image,
                                                   const CCamera& camera, double observationSigma)
    : points(points), image(image), camera(camera), observationSigma(observationSigma)
{
}

void CSyntheticImageGenerator::SetMaxViewAngle(double angle) { viewAngleLimit = std::cos(angle); }

void CSyntheticImageGenerator::SetParameters(double nx, double ny, double nz, double fourth)
{
    defaultNormal[0] = nx;
    defaultNormal[1] = ny;
    defaultNormal[2] = nz;
    fourthParameter = fourth;
}

bool CSyntheticImageGenerator::ProjectTarget(const CObjectPoint& point, int observationKind, bool needEllipse,
                                             int normalSource, double& column, double& row, double& ix,
                                             double& iy)
{
    const double* source = point.normal;
    if (normalSource == kDefaultNormal ||
        (normalSource == kOwnOrDefaultNormal && point.normal[0] == 0.0 && point.normal[1] == 0.0 &&
         point.normal[2] == 0.0))
        source = defaultNormal;
    // The radius goes with the normal: the default one for a target that
    // takes the default normal or has no radius of its own.
    double radius = point.radius;
    if (normalSource == kDefaultNormal || (normalSource == kOwnOrDefaultNormal && !(point.radius > 0.0)))
        radius = fourthParameter;
    double n[3] = {source[0], source[1], source[2]};
    if (!Normalise(n)) return false;
    double ray[3] = {image.X - point.x, image.Y - point.y, image.Z - point.z};
    if (!Normalise(ray) || !(Dot(ray, n) >= viewAngleLimit)) return false;

    CImageObservation projected;
    if (!ProjectPointToImage(point, image, camera, projected, kProjectionFraction)) return false;
    ix = projected.x;
    iy = projected.y;
    camera.ImageToPixel(ix, iy, column, row);
    if (!needEllipse && observationKind == kProjectedCentre) return true;

    const double xAxis[3] = {1.0, 0.0, 0.0}, yAxis[3] = {0.0, 1.0, 0.0};
    const double* reference = std::fabs(n[0]) >= 0.9999 ? yAxis : xAxis;
    double first[3], second[3];
    Cross(n, reference, first);
    Normalise(first);
    Cross(n, first, second);
    CObservationList ring;
    const CNameBuffer noLabel;
    const double step = 0.8 * std::atan(1.0);
    for (int k = 0; k < 10; ++k) {
        const double ct = std::cos(k * step), st = std::sin(k * step);
        CObjectPoint p;
        p.x = point.x + radius * (ct * first[0] + st * second[0]);
        p.y = point.y + radius * (ct * first[1] + st * second[1]);
        p.z = point.z + radius * (ct * first[2] + st * second[2]);
        CImageObservation o;
        if (!ProjectPointToImage(p, image, camera, o, kProjectionFraction)) continue;
        double c = 0.0, r = 0.0;
        camera.ImageToPixel(o.x, o.y, c, r);
        ring.AddCopy(CImageObservation(noLabel, c - 0.5, r - 0.5));
    }
    if (ring.GetSize() < 5 || !ellipse.FitToPoints(ring) || ellipse.conic.GetSize() < 7) return false;
    const double a = ellipse.conic[0], b = ellipse.conic[1], c = ellipse.conic[2];
    return a > 0.0 && c > 0.0 && 4.0 * a * c - b * b > 0.0 && std::isfinite(ellipse.centreX) &&
           std::isfinite(ellipse.centreY);
}

double CSyntheticImageGenerator::LinearFraction(const Conic& q, int flags, int column, int row)
{
    // The pixel's outline walked clockwise, the boundary replaced by chords.
    const double left = column - 0.5, right = column + 0.5, top = row - 0.5, bottom = row + 0.5;
    const double cx[4] = {left, right, right, left};
    const double cy[4] = {top, top, bottom, bottom};
    const int bit[4] = {1, 2, 8, 4};
    double px[12], py[12];
    int n = 0;
    for (int k = 0; k < 4; ++k) {
        const int next = (k + 1) % 4;
        const bool inside = flags & bit[k];
        if (inside) {
            px[n] = cx[k];
            py[n++] = cy[k];
        }
        if (inside == bool(flags & bit[next])) continue;
        double roots[2];
        const bool horizontal = cy[k] == cy[next];
        const int count = horizontal ? q.XAtY(cy[k], roots) : q.YAtX(cx[k], roots);
        const double lo = horizontal ? std::min(cx[k], cx[next]) : std::min(cy[k], cy[next]);
        const double hi = horizontal ? std::max(cx[k], cx[next]) : std::max(cy[k], cy[next]);
        // The crossing on the side; rounding may put it a hair outside.
        double t = count == 0 ? (inside ? (horizontal ? cx[k] : cy[k]) : (horizontal ? cx[next] : cy[next]))
                              : roots[0];
        if (count > 0) {
            const double d0 = roots[0] < lo ? lo - roots[0] : (roots[0] > hi ? roots[0] - hi : 0.0);
            const double d1 = roots[1] < lo ? lo - roots[1] : (roots[1] > hi ? roots[1] - hi : 0.0);
            t = std::clamp(d1 < d0 ? roots[1] : roots[0], lo, hi);
        }
        px[n] = horizontal ? t : cx[k];
        py[n++] = horizontal ? cy[k] : t;
    }
    double area = 0.0;
    for (int i = 0; i < n; ++i) {
        const int j = (i + 1) % n;
        area += px[i] * py[j] - px[j] * py[i];
    }
    return std::clamp(std::fabs(area) * 0.5, 0.0, 1.0);
}

double CSyntheticImageGenerator::CoveredFraction(const Conic& q, int flags, int column, int row, int method,
                                                 int steps) const
{
    if (flags == 15) return 1.0;
    if (method == kLinear) return flags == 0 ? 0.0 : LinearFraction(q, flags, column, row);

    // The covered height min(upper, bottom side) - max(lower, top side)
    // integrated across the pixel, split where the boundary crosses a side.
    double xlo = 0.0, xhi = 0.0;
    if (!q.XRange(xlo, xhi)) return 0.0;
    const double top = row - 0.5, bottom = row + 0.5;
    const double x1 = std::max(column - 0.5, xlo), x2 = std::min(column + 0.5, xhi);
    if (!(x2 > x1)) return 0.0;
    double cuts[6] = {x1, x2};
    int n = 2;
    for (const double side : {top, bottom}) {
        double roots[2];
        const int count = q.XAtY(side, roots);
        for (int i = 0; i < count; ++i)
            if (roots[i] > x1 && roots[i] < x2) cuts[n++] = roots[i];
    }
    for (int i = 1; i < n; ++i)
        for (int j = i; j > 0 && cuts[j] < cuts[j - 1]; --j) std::swap(cuts[j], cuts[j - 1]);
    double area = 0.0;
    for (int i = 0; i + 1 < n; ++i) {
        const double s = cuts[i], t = cuts[i + 1];
        if (!(t > s)) continue;
        const double mid = 0.5 * (s + t);
        const double upper = q.YOf(mid, 1.0), lower = q.YOf(mid, -1.0);
        const double yMax = std::max(upper, lower), yMin = std::min(upper, lower);
        const double hiSign = upper >= lower ? 1.0 : -1.0;
        if (std::min(yMax, bottom) <= std::max(yMin, top)) continue;
        auto integral = [&](double sign) {
            return method == kExact ? q.IntegrateExact(s, t, sign) : q.IntegrateTrapezoid(s, t, sign, steps);
        };
        const double upperPart = yMax < bottom ? integral(hiSign) : bottom * (t - s);
        const double lowerPart = yMin > top ? integral(-hiSign) : top * (t - s);
        area += upperPart - lowerPart;
    }
    return std::clamp(area, 0.0, 1.0);
}

bool CSyntheticImageGenerator::Render(int observationKind, int coverageMethod, int steps,
                                      uint8_t recordObservations, uint8_t attachEllipses, int normalSource,
                                      int renderImage)
{
    steps = std::max(steps, 1);
    const int32_t width = camera.XPixels, height = camera.YPixels;
    if (renderImage && !store.Create(height, width, 1, 8)) return false;
    if (recordObservations) {
        image.targets.DeleteAll();
        image.fiducials.DeleteAll();
    }
    targetsInView = targetsDrawn = 0;
    auto inImage = [&](double c, double r) { return c >= 0.0 && c < width && r >= 0.0 && r < height; };
    // Counting runs the coverage as rendering does, without a picture.
    const bool coverage = renderImage || counting;
    const bool needEllipse = coverage || attachEllipses || observationKind != kProjectedCentre;

    for (int p = 0; p < points.GetSize(); ++p) {
        const CObjectPoint& point = *points.GetAt(p);
        double column = 0.0, row = 0.0, ix = 0.0, iy = 0.0;
        if (counting && ProjectTarget(point, kProjectedCentre, false, normalSource, column, row, ix, iy) &&
            inImage(column, row))
            ++targetsInView;
        if (!ProjectTarget(point, observationKind, needEllipse, normalSource, column, row, ix, iy)) continue;

        auto record = [&](double x, double y, double pixelColumn, double pixelRow, bool measured) {
            CImageObservation o(point.label, x, y, observationSigma, observationSigma, pixelColumn, pixelRow);
            o.measured = measured;
            if (attachEllipses) o.SetEllipse(ellipse);
            image.targets.AddSorted(o);
        };
        if (recordObservations && observationKind == kProjectedCentre) {
            if (inImage(column, row)) record(ix, iy, column, row, false);
        } else if (recordObservations && observationKind == kEllipseCentre) {
            const double c = ellipse.centreX + 0.5, r = ellipse.centreY + 0.5;
            double x = 0.0, y = 0.0;
            camera.PixelToImage(c, r, x, y);
            if (inImage(c, r)) record(x, y, c, r, false);
        }
        if (!coverage && observationKind != kGreyCentroid) continue;

        const Conic q{ellipse.conic[0], ellipse.conic[1], ellipse.conic[2], ellipse.conic[3],
                      ellipse.conic[4], ellipse.conic[5], ellipse.conic[6]};
        double xlo, xhi, ylo, yhi;
        if (!q.XRange(xlo, xhi) || !q.YRange(ylo, yhi)) continue;
        if (!(xhi - xlo < 1e9) || !(yhi - ylo < 1e9)) continue;
        // The window of pixels covering the ellipse, clipped to the image
        // and a one-pixel ring around it.
        const double c0 = std::floor(xlo + 0.5), c1 = std::floor(xhi + 0.5);
        const double r0 = std::floor(ylo + 0.5), r1 = std::floor(yhi + 0.5);
        const bool leaves = c0 < 0 || r0 < 0 || c1 >= width || r1 >= height;
        const bool beyondRing = c0 < -1 || r0 < -1 || c1 > width || r1 > height;
        const int32_t first = int32_t(std::max(c0, -1.0)), last = int32_t(std::min(c1, double(width)));
        const int32_t top = int32_t(std::max(r0, -1.0)), bottom = int32_t(std::min(r1, double(height)));
        if (last < first || bottom < top) continue;
        windowColumn = first;
        windowRow = top;
        const int32_t columns = last - first + 1, rows = bottom - top + 1;
        const int32_t stride = columns + 1;
        cornerRaster.assign(size_t(stride) * size_t(rows + 1), 0);
        bool anyCorner = false;
        for (int32_t j = 0; j <= rows; ++j)
            for (int32_t i = 0; i <= columns; ++i)
                if (q.F(first + i - 0.5, top + j - 0.5) < 1.0) {
                    cornerRaster[size_t(j) * stride + i] = 1;
                    anyCorner = true;
                }
        // Coverage starts from the corners: an ellipse holding none is not drawn.
        if (!anyCorner) continue;

        double sum = 0.0, sumX = 0.0, sumY = 0.0;
        bool outsideWeight = false, drawn = false;
        for (int32_t j = 0; j < rows; ++j) {
            const uint8_t* upper = &cornerRaster[size_t(j) * stride];
            const uint8_t* lower = upper + stride;
            for (int32_t i = 0; i < columns; ++i) {
                const int flags = upper[i] | upper[i + 1] << 1 | lower[i] << 2 | lower[i + 1] << 3;
                // A pixel without a corner inside can still hold a sliver of
                // the ellipse, which the integrating methods measure.
                if (flags == 0 && coverageMethod == kLinear) continue;
                const int32_t c = first + i, r = top + j;
                const double f = CoveredFraction(q, flags, c, r, coverageMethod, steps);
                const int grey = std::clamp(int(f * 255.0 + 0.5), 0, 255);
                if (grey == 0) continue;
                const bool inside = c >= 0 && c < width && r >= 0 && r < height;
                if (renderImage && inside) store.SetPixel(0, r, c, grey);
                if (inside) drawn = true;
                else outsideWeight = true;
                sum += grey;
                sumX += double(grey) * c;
                sumY += double(grey) * r;
            }
        }
        if (drawn) ++targetsDrawn;
        if (!recordObservations || observationKind != kGreyCentroid) continue;
        if (renderImage ? leaves : (outsideWeight || beyondRing)) continue;
        if (!(sum > 0.0)) continue;
        const double c = sumX / sum + 0.5, r = sumY / sum + 0.5;
        double x = 0.0, y = 0.0;
        camera.PixelToImage(c, r, x, y);
        record(x, y, c, r, true);
    }
    return true;
}

void CSyntheticImageGenerator::CountTargets(int coverageMethod, int steps, int normalSource, int& inView,
                                            int& drawn)
{
    counting = true;
    Render(kProjectedCentre, coverageMethod, steps, 0, 0, normalSource, 0);
    counting = false;
    inView = targetsInView;
    drawn = targetsDrawn;
}
