#include "BestFit.h"

#include <cmath>

#include "FitAlgebra.h"

const char* BestFitOutcomeText(int id)
{
    switch (id) {
    case BestFitOutcome::IDS_INSUFFICIENT_POINTS:
        return "Insufficient points";
    case BestFitOutcome::IDS_ADJUSTMENT_FAILED:
        return "Adjustment failed";
    case BestFitOutcome::IDS_ADJUSTMENT_DIVERGING:
        return "Adjustment diverging";
    case BestFitOutcome::IDS_BESTFIT_PLANE_FAILED:
        return "Best fit plane computation failed.";
    default:
        return "";
    }
}

CBestFit::CBestFit(const CObjectPointList& source) : points(source.GetSize())
{
    for (int i = 0; i < source.GetSize(); ++i)
        if (CObjectPoint* p = source.GetAt(i); p && p->selected)
            points.Add(p);
}

CBestFit::CBestFit(const CObjectPointArray& source) : points(source.GetSize())
{
    for (int i = 0; i < source.GetSize(); ++i)
        points.Add(source.GetAt(i));
}

CBestFitPlane::CBestFitPlane(const CObjectPointList& source)
    : CBestFit(source), residuals(static_cast<size_t>(GetPointCount()), 0.0)
{
}

CBestFitPlane::CBestFitPlane(const CObjectPointArray& source)
    : CBestFit(source), residuals(static_cast<size_t>(GetPointCount()), 0.0)
{
}

bool CBestFitPlane::Fit()
{
    if (GetPointCount() < 3)
        return Fail(BestFitOutcome::IDS_INSUFFICIENT_POINTS);
    // Points that do not span a plane (all on one line) are refused.
    double centroid[3], S[3][3], values[3], vectors[3][3];
    fit::CentredScatter(points, true, centroid, S);
    if (!fit::SymmetricEigen3(S, values, vectors) || !(values[1] > 1e-12 * values[2]))
        return Fail(BestFitOutcome::IDS_BESTFIT_PLANE_FAILED);
    if (!ComputeApproximation())
        return Fail(BestFitOutcome::IDS_BESTFIT_PLANE_FAILED);
    return Adjust();
}

bool CBestFitPlane::ComputeApproximation()
{
    // A·X + B·Y + C·Z = 1 over every point, whatever its flag.
    double N[3][3] = {}, s[3] = {};
    for (int i = 0; i < GetPointCount(); ++i) {
        const CObjectPoint& p = *GetPoint(i);
        const double v[3] = {p.x, p.y, p.z};
        for (int r = 0; r < 3; ++r) {
            s[r] += v[r];
            for (int c = 0; c < 3; ++c)
                N[r][c] += v[r] * v[c];
        }
    }
    double values[3], vectors[3][3], inv[3][3];
    if (fit::SymmetricEigen3(N, values, vectors) && values[0] > 1e-10 * values[2] && fit::InvertSymmetric3(N, inv)) {
        double n[3];
        for (int r = 0; r < 3; ++r)
            n[r] = inv[r][0] * s[0] + inv[r][1] * s[1] + inv[r][2] * s[2];
        const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        if (std::isfinite(len) && len > 0.0) {
            A = n[0] / len;
            B = n[1] / len;
            C = n[2] / len;
            D = -1.0 / len;
            return true;
        }
    }
    // Planes through or near the origin: the centroid and the direction of
    // least scatter.
    double centroid[3], S[3][3];
    if (fit::CentredScatter(points, true, centroid, S) == 0 || !fit::SymmetricEigen3(S, values, vectors))
        return false;
    A = vectors[0][0];
    B = vectors[1][0];
    C = vectors[2][0];
    D = -(A * centroid[0] + B * centroid[1] + C * centroid[2]);
    const double params[4] = {A, B, C, D};
    return fit::AllFinite(params, 4);
}

bool CBestFitPlane::Adjust()
{
    iteration = 0;
    fit::CNormals normals(4);
    for (;;) {
        const double previousRms = rms;
        ++iteration;
        cutoff = iteration == 1 ? initialCutoff : 3.0 * rms;

        normals.Clear();
        int used = 0;
        for (int i = 0; i < GetPointCount(); ++i) {
            const CObjectPoint& p = *GetPoint(i);
            if (CObjectPointArray::IsRejected(p))
                continue;
            const double row[4] = {p.x, p.y, p.z, 1.0};
            normals.Add(row, -(A * p.x + B * p.y + C * p.z + D));
            ++used;
        }
        if (used < 3)
            return Fail(BestFitOutcome::IDS_INSUFFICIENT_POINTS);
        // The unit normal as a heavily weighted condition.
        const double unitRow[4] = {2e6 * A, 2e6 * B, 2e6 * C, 0.0};
        normals.Add(unitRow, (1.0 - A * A - B * B - C * C) * 1e6);

        double x[4];
        if (!normals.Solve(x))
            return Fail(BestFitOutcome::IDS_BESTFIT_PLANE_FAILED);
        A += x[0];
        B += x[1];
        C += x[2];
        D += x[3];
        const double params[4] = {A, B, C, D};
        if (!fit::AllFinite(params, 4) || !ComputeResiduals())
            return Fail(BestFitOutcome::IDS_BESTFIT_PLANE_FAILED);
        RejectPoints();
        if (iteration >= maxIterations)
            return Fail(BestFitOutcome::IDS_ADJUSTMENT_FAILED);
        if (std::fabs(previousRms - rms) < 0.0005)
            return true;
    }
}

bool CBestFitPlane::ComputeResiduals()
{
    const double len = std::sqrt(A * A + B * B + C * C);
    if (!(len >= 1e-100) || !std::isfinite(len))
        return false;
    for (int i = 0; i < GetPointCount(); ++i) {
        const CObjectPoint& p = *GetPoint(i);
        if (!CObjectPointArray::IsRejected(p))
            residuals[static_cast<size_t>(i)] = (A * p.x + B * p.y + C * p.z + D) / len;
    }
    return true;
}

bool CBestFitPlane::RejectPoints()
{
    double sum = 0.0, largest = 0.0;
    int count = 0, candidate = -1;
    for (int i = 0; i < GetPointCount(); ++i) {
        CObjectPoint& p = *GetPoint(i);
        const double r = std::fabs(residuals[static_cast<size_t>(i)]);
        if (r <= cutoff) {
            CObjectPointArray::SetRejected(p, false);
            sum += r * r;
            ++count;
        } else if (!CObjectPointArray::IsRejected(p) && r > largest) {
            largest = r;
            candidate = i;
        }
    }
    rms = std::sqrt(sum / (count == 0 ? 1 : count));
    if (candidate >= 0)
        CObjectPointArray::SetRejected(*GetPoint(candidate), true);
    return true;
}
