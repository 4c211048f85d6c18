#include "BestFitSphere.h"

#include <algorithm>
#include <cmath>

#include "FitAlgebra.h"

CBestFitRound::CBestFitRound(const CObjectPointList& source)
    : CBestFit(source), residuals(static_cast<size_t>(GetPointCount()), 0.0)
{
}

CBestFitRound::CBestFitRound(const CObjectPointArray& source)
    : CBestFit(source), residuals(static_cast<size_t>(GetPointCount()), 0.0)
{
}

bool CBestFitRound::ComputeApproximation()
{
    const int n = GetPointCount();
    if (n == 0)
        return false;
    double c[3] = {0.0, 0.0, 0.0};
    for (int i = 0; i < n; ++i) {
        c[0] += GetPoint(i)->x;
        c[1] += GetPoint(i)->y;
        c[2] += GetPoint(i)->z;
    }
    Xo = c[0] / n;
    Yo = c[1] / n;
    Zo = c[2] / n;
    double sum = 0.0;
    for (int i = 0; i < n; ++i) {
        const CObjectPoint& p = *GetPoint(i);
        sum += std::sqrt((p.x - Xo) * (p.x - Xo) + (p.y - Yo) * (p.y - Yo) + (p.z - Zo) * (p.z - Zo));
    }
    R = sum / n;
    return std::isfinite(R);
}

bool CBestFitRound::Iterate(bool planar, double convergence, int minIterations)
{
    const double len = std::sqrt(plane[0] * plane[0] + plane[1] * plane[1] + plane[2] * plane[2]);
    if (planar && !(len > 0.0 && std::isfinite(len)))
        return Fail(BestFitOutcome::IDS_BESTFIT_PLANE_FAILED);
    iteration = 0;
    fit::CNormals normals(4);
    for (;;) {
        const double previousRms = rms;
        ++iteration;
        cutoff = iteration == 1 ? initialCutoff : 3.0 * rms;

        normals.Clear();
        int used = 0;
        double scale = std::fabs(R);
        for (int i = 0; i < GetPointCount(); ++i) {
            const CObjectPoint& p = *GetPoint(i);
            if (CObjectPointArray::IsRejected(p))
                continue;
            const double dx = p.x - Xo, dy = p.y - Yo, dz = p.z - Zo;
            const double dist = std::sqrt(dx * dx + dy * dy + dz * dz);
            scale = std::max(scale, dist);
            // A point at the centre gives no direction.
            if (!(dist > 1e-12 * scale) || !std::isfinite(dist))
                return Fail(BestFitOutcome::IDS_ADJUSTMENT_FAILED);
            double d = dist - R;
            if (planar) {
                const double h = (plane[0] * p.x + plane[1] * p.y + plane[2] * p.z + plane[3]) / len;
                d = std::sqrt(std::max(0.0, dist * dist - h * h)) - R;
            }
            residuals[static_cast<size_t>(i)] = d;
            if (iteration <= 4 || std::fabs(d) < cutoff) {
                const double row[4] = {dx / dist, dy / dist, dz / dist, 1.0};
                normals.Add(row, d);
                normals.vv += d * d;
                ++used;
            }
        }
        if (used < 4)
            return Fail(BestFitOutcome::IDS_INSUFFICIENT_POINTS);
        if (planar) {
            const double row[4] = {1e6 * plane[0], 1e6 * plane[1], 1e6 * plane[2], 0.0};
            const double w = -(plane[0] * Xo + plane[1] * Yo + plane[2] * Zo + plane[3]) * 1e6;
            normals.Add(row, w);
            normals.vv += w * w;
        }
        double x[4], q = 0.0;
        if (!normals.Solve(x, &q))
            return Fail(BestFitOutcome::IDS_ADJUSTMENT_FAILED);
        Xo += x[0];
        Yo += x[1];
        Zo += x[2];
        R += x[3];
        rms = std::sqrt(q / used);
        const double params[5] = {Xo, Yo, Zo, R, rms};
        if (!fit::AllFinite(params, 5))
            return Fail(BestFitOutcome::IDS_ADJUSTMENT_FAILED);
        if (iteration >= maxIterations)
            return Fail(BestFitOutcome::IDS_ADJUSTMENT_FAILED);
        // Without redundancy the RMS is always 0 and tells nothing: there the
        // corrections must have become small.
        const bool settled = planar || used > 4 ||
                             std::max({std::fabs(x[0]), std::fabs(x[1]), std::fabs(x[2]), std::fabs(x[3])}) < 1e-6;
        if (std::fabs(previousRms - rms) < convergence && iteration >= minIterations && settled)
            return true;
    }
}

bool CBestFitSphere::Fit()
{
    if (GetPointCount() < 4)
        return Fail(BestFitOutcome::IDS_INSUFFICIENT_POINTS);
    // Points on one plane do not fix a sphere.
    double centroid[3], S[3][3], values[3], vectors[3][3];
    fit::CentredScatter(points, true, centroid, S);
    if (!fit::SymmetricEigen3(S, values, vectors) || !(values[0] > 1e-12 * values[2]))
        return Fail(BestFitOutcome::IDS_ADJUSTMENT_FAILED);
    if (!ComputeApproximation())
        return Fail(BestFitOutcome::IDS_ADJUSTMENT_FAILED);
    return Adjust();
}

bool CBestFitSphere::Adjust()
{
    return Iterate(false, 0.000001, 1);
}

bool CBestFitCircle::Fit()
{
    if (GetPointCount() < 4)
        return Fail(BestFitOutcome::IDS_INSUFFICIENT_POINTS);
    if (!ComputeApproximation())
        return Fail(BestFitOutcome::IDS_ADJUSTMENT_FAILED);
    if (!FitPlane())
        return Fail(BestFitOutcome::IDS_BESTFIT_PLANE_FAILED);
    return Adjust();
}

bool CBestFitCircle::FitPlane()
{
    CBestFitPlane pre(points);
    pre.initialCutoff = 0.1 * R;
    if (!pre.Fit())
        return false;
    plane[0] = pre.A;
    plane[1] = pre.B;
    plane[2] = pre.C;
    plane[3] = pre.D;
    return true;
}

bool CBestFitCircle::Adjust()
{
    return Iterate(true, 0.005, 4);
}
