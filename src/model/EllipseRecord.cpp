#include "EllipseRecord.h"

#include <cmath>

#include "ArchiveGuards.h"
#include "BinArchive.h"
#include "ImageObservation.h"

namespace {

constexpr int kEllipseRecordVersion = 11;
constexpr int kTargetEllipseVersion = 10;
constexpr int kConicSize = 7;
constexpr double kEps = 1e-7;
constexpr double kHalfPi = 1.5707963267948966;

// Keeps a denominator away from zero.
double Guard(double d) { return std::fabs(d) < kEps ? d + kEps : d; }

// Distance from (p, q) to the ellipse point with p coordinate u, on the side of q.
double DistanceAt(double u, double p, double q, double a, double b)
{
    const double h = std::fmax(a * a - u * u, 0.0);
    double v = (b / a) * std::sqrt(h);
    if (q < 0.0) v = -v;
    const double du = p - u;
    const double dv = q - v;
    return std::sqrt(du * du + dv * dv);
}

} // namespace

double ComputeEllipseMeasure(double p, double q, double a, double b)
{
    if (a < 0.0001 || b < 0.0001) return 9999.0;
    if (std::fabs(p) < 0.001) return q > 0.0 ? std::fabs(q - b) : std::fabs(q + b);
    if (std::fabs(q) < 0.001) return p > 0.0 ? std::fabs(p - a) : std::fabs(p + a);

    const double xr = a * b * p / std::sqrt(b * b * p * p + a * a * q * q);
    double lo;
    double hi;
    if (p >= xr) {
        lo = xr;
        hi = std::fmin(p, a);
    } else {
        lo = std::fmax(p, -a);
        hi = xr;
    }
    double dlo = DistanceAt(lo, p, q, a, b);
    double dhi = DistanceAt(hi, p, q, a, b);
    double dmid = 0.0;
    for (int step = 0; step < 51; ++step) {
        if (hi - lo < 0.0005) return std::fmin(dlo, dhi);
        const double mid = 0.5 * (lo + hi);
        dmid = DistanceAt(mid, p, q, a, b);
        if (std::fabs(dmid - dlo) < 0.0005 || std::fabs(dmid - dhi) < 0.0005) return std::fmin(dlo, dhi);
        if (dlo > dhi) {
            lo = mid;
            dlo = dmid;
        } else {
            hi = mid;
            dhi = dmid;
        }
    }
    return dmid;
}

// ---------------------------------------------------------------------------
// CEllipseRecord

CEllipseRecord::CEllipseRecord() : centreX(0.0), centreY(0.0), major(0.0), minor(0.0), rotation(0.0) {}

CEllipseRecord::CEllipseRecord(const CEllipseRecord& other)
    : centreX(other.centreX),
      centreY(other.centreY),
      major(other.major),
      minor(other.minor),
      rotation(other.rotation),
      covariance(other.covariance)
{
}

CEllipseRecord& CEllipseRecord::operator=(const CEllipseRecord& other)
{
    if (this == &other) return *this;
    centreX = other.centreX;
    centreY = other.centreY;
    major = other.major;
    minor = other.minor;
    rotation = other.rotation;
    covariance = other.covariance;
    return *this;
}

CEllipseRecord::~CEllipseRecord() = default;

void CEllipseRecord::SetAxes(double first, double second, double r)
{
    if (first >= second) {
        major = first;
        minor = second;
    } else {
        major = second;
        minor = first;
    }
    rotation = r;
}

void CEllipseRecord::SetCovariance(const CMatrix& matrix) { covariance = matrix; }

void CEllipseRecord::PointAt(double t, double& px, double& py) const
{
    const double ct = std::cos(t);
    const double st = std::sin(t);
    const double cr = std::cos(rotation);
    const double sr = std::sin(rotation);
    px = minor * ct * cr - major * st * sr + centreX;
    py = minor * ct * sr + major * st * cr + centreY;
}

void CEllipseRecord::PointResidual(double t, double px, double py, double& rx, double& ry) const
{
    double ex = 0.0;
    double ey = 0.0;
    PointAt(t, ex, ey);
    rx = px - centreX + ex;
    ry = py - centreY + ey;
}

double CEllipseRecord::DistanceToPoint(double px, double py) const
{
    const double dx = px - centreX;
    const double dy = py - centreY;
    const double cr = std::cos(rotation);
    const double sr = std::sin(rotation);
    const double p = -dx * sr + dy * cr; // along the major semi-axis
    const double q = dx * cr + dy * sr;  // along the minor semi-axis
    return ComputeEllipseMeasure(p, q, major, minor);
}

void CEllipseRecord::BuildConicJacobian(CMatrix& jacobian) const
{
    const double xc = centreX;
    const double yc = centreY;
    const double s = std::sin(rotation);
    const double c = std::cos(rotation);
    const double iM2 = 1.0 / (major * major);
    const double im2 = 1.0 / (minor * minor);
    const double iM3 = iM2 / major;
    const double im3 = im2 / minor;

    const double q1 = s * s * iM2 + c * c * im2;
    const double q2 = 2.0 * (im2 - iM2) * s * c;
    const double q3 = c * c * iM2 + s * s * im2;

    // Derivatives of q1..q3 by major, minor and rotation.
    const double dq[3][3] = {
        {-2.0 * s * s * iM3, -2.0 * c * c * im3, 2.0 * s * c * (iM2 - im2)},
        {4.0 * s * c * iM3, -4.0 * s * c * im3, 2.0 * (im2 - iM2) * (c * c - s * s)},
        {-2.0 * c * c * iM3, -2.0 * s * s * im3, 2.0 * s * c * (im2 - iM2)},
    };

    // Normalised coefficient a_i = -n_i / F.
    const double n[5] = {q1, q2, q3, -2.0 * q1 * xc - q2 * yc, -2.0 * q3 * yc - q2 * xc};
    const double F = q1 * xc * xc + q2 * xc * yc + q3 * yc * yc - 1.0;

    // dn[i][k] and dF[k] for k = centre x, centre y, major, minor, rotation.
    double dn[5][5] = {};
    double dF[5] = {};
    dF[0] = 2.0 * q1 * xc + q2 * yc;
    dF[1] = q2 * xc + 2.0 * q3 * yc;
    dn[3][0] = -2.0 * q1;
    dn[3][1] = -q2;
    dn[4][0] = -q2;
    dn[4][1] = -2.0 * q3;
    for (int k = 0; k < 3; ++k) {
        const double d1 = dq[0][k];
        const double d2 = dq[1][k];
        const double d3 = dq[2][k];
        dn[0][k + 2] = d1;
        dn[1][k + 2] = d2;
        dn[2][k + 2] = d3;
        dn[3][k + 2] = -2.0 * d1 * xc - d2 * yc;
        dn[4][k + 2] = -2.0 * d3 * yc - d2 * xc;
        dF[k + 2] = d1 * xc * xc + d2 * xc * yc + d3 * yc * yc;
    }

    jacobian.Resize(5, 5);
    for (int i = 0; i < 5; ++i)
        for (int k = 0; k < 5; ++k) jacobian.SetAt(-(dn[i][k] * F - n[i] * dF[k]) / (F * F), i, k);
}

bool CEllipseRecord::BuildConicWeight(CMatrix& out) const
{
    out.Resize(5, -1);
    if (covariance.GetRows() != 5 || (covariance.GetCols() != 5 && covariance.GetCols() != -1)) return false;
    CMatrix s(5, -1);
    for (int i = 0; i < 5; ++i)
        for (int j = i; j < 5; ++j) s.SetAt(covariance.GetAt(i, j), i, j);
    CMatrix jacobian;
    BuildConicJacobian(jacobian);
    return out.AddCongruence(jacobian, s);
}

bool CEllipseRecord::Serialize(CBinArchive& ar, int* version)
{
    if (ar.IsStoring()) {
        ar.WriteInt(kEllipseRecordVersion);
        covariance.Serialize(ar);
        ar.WriteDouble(major);
        ar.WriteDouble(minor);
        ar.WriteDouble(rotation);
        ar.WriteDouble(centreX);
        ar.WriteDouble(centreY);
        return !ar.fail();
    }

    int recordVersion = version ? *version : -1;
    if (recordVersion == -1) {
        ar.ReadInt(recordVersion);
        if (ar.fail() || recordVersion < 0 || recordVersion > kEllipseRecordVersion) {
            ar.setstate(std::ios::failbit);
            return false;
        }
    }
    if (recordVersion == kEllipseRecordVersion) {
        static const int kShapes[] = {0, 5};
        if (!archive_guard::PeekMatrixShape(ar, kShapes, 2)) {
            ar.setstate(std::ios::failbit);
            return false;
        }
        covariance.Serialize(ar);
    }
    ar.ReadDouble(major);
    ar.ReadDouble(minor);
    ar.ReadDouble(rotation);
    ar.ReadDouble(centreX);
    ar.ReadDouble(centreY);
    return !ar.fail();
}

// ---------------------------------------------------------------------------
// CTargetEllipse

CTargetEllipse::CTargetEllipse() = default;

CTargetEllipse::CTargetEllipse(const CTargetEllipse& other) : CEllipseRecord(other), conic(other.conic) {}

CTargetEllipse& CTargetEllipse::operator=(const CTargetEllipse& other)
{
    if (this == &other) return *this;
    CEllipseRecord::operator=(other);
    conic = other.conic;
    return *this;
}

CTargetEllipse::~CTargetEllipse() = default;

bool CTargetEllipse::SetFromParameters(double xc, double yc, double majorAxis, double minorAxis, double r)
{
    centreX = xc;
    centreY = yc;
    major = majorAxis;
    minor = minorAxis;
    rotation = r;
    const double s = std::sin(r);
    const double c = std::cos(r);
    const double iM2 = 1.0 / (majorAxis * majorAxis);
    const double im2 = 1.0 / (minorAxis * minorAxis);
    conic.Resize(kConicSize);
    conic[0] = s * s * iM2 + c * c * im2;
    conic[1] = 2.0 * (im2 - iM2) * s * c;
    conic[2] = c * c * iM2 + s * s * im2;
    conic[3] = 0.0;
    conic[4] = 0.0;
    conic[5] = xc;
    conic[6] = yc;
    return true;
}

bool CTargetEllipse::ConicToEllipse(double q1, double q2, double q3, double q4, double q5, double x0, double y0)
{
    const double den = Guard(4.0 * q1 * q3 - q2 * q2);
    const double uc = (q5 * q2 - 2.0 * q4 * q3) / den;
    const double vc = (q4 * q2 - 2.0 * q5 * q1) / den;
    double theta = 0.5 * std::atan2(q2, q1 - q3);
    if (std::fabs(q2) < kEps && std::fabs(q1 - q3) < kEps) theta = 0.0;
    const double k = 1.0 - uc * q4 / 2.0 - vc * q5 / 2.0;
    double s1;
    double s2;
    if (std::fabs(theta) < kEps) {
        s1 = std::sqrt(k / Guard(q1));
        s2 = std::sqrt(k / Guard(q3));
    } else {
        const double co = std::cos(theta);
        const double si = std::sin(theta);
        s1 = std::sqrt(k / Guard(co * co * q1 + co * si * q2 + si * si * q3));
        s2 = std::sqrt(k / Guard(si * si * q1 - co * si * q2 + co * co * q3));
    }
    // A conic that is no real ellipse leaves the record as it was.
    if (!std::isfinite(s1) || !std::isfinite(s2) || !(s1 > 0.0) || !(s2 > 0.0) || !std::isfinite(uc) ||
        !std::isfinite(vc))
        return false;
    if (s1 <= s2) {
        major = s2;
        minor = s1;
        rotation = theta;
    } else {
        major = s1;
        minor = s2;
        rotation = theta + kHalfPi;
    }
    centreX = uc + x0;
    centreY = vc + y0;
    return true;
}

bool CTargetEllipse::GetNormalizedConic(CVector& out) const
{
    if (conic.GetSize() != kConicSize) return false;
    const double q1 = conic[0];
    const double q2 = conic[1];
    const double q3 = conic[2];
    const double q4 = conic[3];
    const double q5 = conic[4];
    const double x0 = conic[5];
    const double y0 = conic[6];
    const double F = q1 * x0 * x0 + q2 * x0 * y0 + q3 * y0 * y0 - q4 * x0 - q5 * y0 - 1.0;
    if (F == 0.0) return false;
    out.Resize(5);
    out[0] = -q1 / F;
    out[1] = -q2 / F;
    out[2] = -q3 / F;
    out[3] = -(q4 - 2.0 * q1 * x0 - q2 * y0) / F;
    out[4] = -(q5 - 2.0 * q3 * y0 - q2 * x0) / F;
    return true;
}

bool CTargetEllipse::FitToPoints(const CObservationList& points, double* rms)
{
    conic.Resize(kConicSize);
    return FitConicToPoints(*this, points, &conic, rms);
}

bool CTargetEllipse::ComputeInitialEllipse(const int* grid, int columns, int rows, double threshold, double* rms)
{
    if (!grid || columns <= 0 || rows <= 0) return false;
    CObservationList points;
    const CNameBuffer noLabel;
    auto crossing = [&](int v, int w, double& fraction) {
        if ((v < threshold) == (w < threshold)) return false;
        fraction = (threshold - v) / static_cast<double>(w - v);
        return true;
    };
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            const int v = grid[static_cast<long long>(r) * columns + c];
            double f = 0.0;
            if (c + 1 < columns && crossing(v, grid[static_cast<long long>(r) * columns + c + 1], f))
                points.AddCopy(CImageObservation(noLabel, c + f, r));
            if (r + 1 < rows && crossing(v, grid[static_cast<long long>(r + 1) * columns + c], f))
                points.AddCopy(CImageObservation(noLabel, c, r + f));
        }
    }
    conic.Resize(kConicSize);
    return FitConicToPoints(*this, points, &conic, rms);
}

bool CTargetEllipse::Serialize(CBinArchive& ar, int* version)
{
    if (!CEllipseRecord::Serialize(ar, version)) return false;
    if (ar.IsStoring()) {
        ar.WriteInt(kTargetEllipseVersion);
        ar.WriteInt(conic.GetSize());
        for (int i = 0; i < conic.GetSize(); ++i) ar.WriteDouble(conic[i]);
        return !ar.fail();
    }
    if (!version || *version == -1) {
        int ownVersion = 0;
        ar.ReadInt(ownVersion);
    }
    int n = 0;
    ar.ReadInt(n);
    // Either no conic or all seven parameters.
    if (ar.fail() || (n != 0 && n != kConicSize) || !ar.CheckCount(n, 8)) {
        ar.setstate(std::ios::failbit);
        return false;
    }
    CVector values(n);
    for (int i = 0; i < n; ++i) ar.ReadDouble(values[i]);
    if (ar.fail()) return false;
    conic = values;
    return true;
}

// ---------------------------------------------------------------------------

bool FitConicToPoints(CTargetEllipse& ellipse, const CObservationList& points, CVector* conic, double* rms)
{
    const int n = points.GetSize();
    if (n < 5) return false;

    double x0 = 0.0;
    double y0 = 0.0;
    for (int i = 0; i < n; ++i) {
        x0 += points.GetAt(i)->x;
        y0 += points.GetAt(i)->y;
    }
    x0 /= n;
    y0 /= n;

    CMatrix normal(6, -1);
    for (int i = 0; i < n; ++i) {
        const double u = points.GetAt(i)->x - x0;
        const double v = points.GetAt(i)->y - y0;
        const double row[6] = {u * u, u * v, v * v, u, v, 1.0};
        for (int a = 0; a < 6; ++a)
            for (int b = a; b < 6; ++b) normal.SetAt(normal.GetAt(a, b) + row[a] * row[b], a, b);
    }
    normal.SetAt(10000.0, 5, 5);

    if (!normal.LdltDecompose()) return false;
    CVector q(5);
    if (!normal.SolveAugmentedUnit(q)) return false;
    for (int i = 0; i < 5; ++i)
        if (!std::isfinite(q[i])) return false;

    if (!ellipse.ConicToEllipse(q[0], q[1], q[2], q[3], q[4], x0, y0)) return false;

    if (rms) {
        double sum = 0.0;
        for (int i = 0; i < n; ++i) {
            const double d = ellipse.DistanceToPoint(points.GetAt(i)->x, points.GetAt(i)->y);
            sum += d * d;
        }
        *rms = std::sqrt(sum / (n - 1));
    }
    if (conic) {
        conic->Resize(kConicSize);
        for (int i = 0; i < 5; ++i) (*conic)[i] = q[i];
        (*conic)[5] = x0;
        (*conic)[6] = y0;
    }
    return true;
}
