#include "BestFitLine.h"

#include <algorithm>
#include <cmath>

#include "FitAlgebra.h"

CBestFitLine::CBestFitLine(const CObjectPointList& source)
    : CBestFit(source), residual(static_cast<size_t>(GetPointCount()), Row{{0.0, 0.0, 0.0, 0.0}})
{
}

CBestFitLine::CBestFitLine(const CObjectPointArray& source)
    : CBestFit(source), residual(static_cast<size_t>(GetPointCount()), Row{{0.0, 0.0, 0.0, 0.0}})
{
}

bool CBestFitLine::Fit()
{
    if (GetPointCount() < 2)
        return Fail(BestFitOutcome::IDS_INSUFFICIENT_POINTS);
    // Coincident points give no direction.
    double centroid[3], S[3][3], values[3], vectors[3][3];
    fit::CentredScatter(points, true, centroid, S);
    const double spread = std::sqrt(std::max(0.0, S[0][0] + S[1][1] + S[2][2]) / GetPointCount());
    const double size = std::sqrt(centroid[0] * centroid[0] + centroid[1] * centroid[1] + centroid[2] * centroid[2]);
    if (!fit::SymmetricEigen3(S, values, vectors) || !(spread > 1e-12 * size))
        return Fail(BestFitOutcome::IDS_ADJUSTMENT_FAILED);
    if (!ComputeApproximation())
        return Fail(BestFitOutcome::IDS_ADJUSTMENT_FAILED);
    return Adjust();
}

const CObjectPoint* CBestFitLine::FindEndPoint() const
{
    const CObjectPoint* end = points.GetMinXPoint();
    double extent = points.GetExtentX();
    if (points.GetExtentY() >= extent) {
        end = points.GetMinYPoint();
        extent = points.GetExtentY();
    }
    if (points.GetExtentZ() >= extent)
        end = points.GetMinZPoint();
    return end;
}

void CBestFitLine::ComputeCentroid(double m[3]) const
{
    m[0] = m[1] = m[2] = 0.0;
    for (int i = 0; i < GetPointCount(); ++i) {
        m[0] += GetPoint(i)->x;
        m[1] += GetPoint(i)->y;
        m[2] += GetPoint(i)->z;
    }
    for (int k = 0; k < 3; ++k)
        m[k] /= GetPointCount();
}

void CBestFitLine::ComputeMeanDirection(const CObjectPoint& end, double d[3]) const
{
    d[0] = d[1] = d[2] = 0.0;
    int count = 0;
    for (int i = 0; i < GetPointCount(); ++i) {
        const CObjectPoint& p = *GetPoint(i);
        const double e[3] = {p.x - end.x, p.y - end.y, p.z - end.z};
        const double len = std::sqrt(e[0] * e[0] + e[1] * e[1] + e[2] * e[2]);
        if (len == 0.0)
            continue;
        for (int k = 0; k < 3; ++k)
            d[k] += e[k] / len;
        ++count;
    }
    if (count > 0)
        for (int k = 0; k < 3; ++k)
            d[k] /= count;
}

bool CBestFitLine::ComputeApproximation()
{
    const CObjectPoint* end = FindEndPoint();
    if (!end)
        return false;
    double m[3], d[3];
    ComputeCentroid(m);
    ComputeMeanDirection(*end, d);
    held = std::fabs(d[1]) > std::fabs(d[0]) ? 1 : std::fabs(d[2]) > std::fabs(d[0]) ? 2 : 0;
    u = d[0] == 0.0 ? 0.0001 : d[0];
    v = d[1] == 0.0 ? 0.0001 : d[1];
    w = d[2] == 0.0 ? 0.0001 : d[2];
    if (held == 0) {
        const double t = m[0] / u;
        Xo = 0.0, Yo = m[1] - v * t, Zo = m[2] - w * t;
    } else if (held == 1) {
        const double t = m[1] / v;
        Yo = 0.0, Xo = m[0] - u * t, Zo = m[2] - w * t;
    } else {
        const double t = m[2] / w;
        Zo = 0.0, Xo = m[0] - u * t, Yo = m[1] - v * t;
    }
    const double params[6] = {Xo, Yo, Zo, u, v, w};
    return fit::AllFinite(params, 6);
}

bool CBestFitLine::FormConditionEquations(const CObjectPoint& p, double A[15], double Minv[9], double wv[3],
                                          double res[4]) const
{
    const double X = p.x, Y = p.y, Z = p.z;
    double B[3][4] = {};
    std::fill(A, A + 15, 0.0);
    if (held == 0) {
        wv[0] = (Y - Yo) * u - X * v;
        wv[1] = (Z - Zo) * u - X * w;
        const double a1[5] = {-u, 0.0, Y - Yo, -X, 0.0}, a2[5] = {0.0, -u, Z - Zo, 0.0, -X};
        std::copy(a1, a1 + 5, A);
        std::copy(a2, a2 + 5, A + 5);
        B[0][0] = -v, B[0][1] = u;
        B[1][0] = -w, B[1][2] = u;
    } else if (held == 1) {
        wv[0] = (X - Xo) * v - Y * u;
        wv[1] = (Z - Zo) * v - Y * w;
        const double a1[5] = {-v, 0.0, -Y, X - Xo, 0.0}, a2[5] = {0.0, -v, 0.0, Z - Zo, -Y};
        std::copy(a1, a1 + 5, A);
        std::copy(a2, a2 + 5, A + 5);
        B[0][0] = v, B[0][1] = -u;
        B[1][1] = -w, B[1][2] = v;
    } else {
        wv[0] = (X - Xo) * w - Z * u;
        wv[1] = (Y - Yo) * w - Z * v;
        const double a1[5] = {-w, 0.0, -Z, 0.0, X - Xo}, a2[5] = {0.0, -w, 0.0, -Z, Y - Yo};
        std::copy(a1, a1 + 5, A);
        std::copy(a2, a2 + 5, A + 5);
        B[0][0] = w, B[0][2] = -u;
        B[1][1] = w, B[1][2] = -v;
    }
    wv[2] = 1.0 - u * u - v * v - w * w;
    A[12] = -2.0 * u, A[13] = -2.0 * v, A[14] = -2.0 * w;
    // The unit-direction condition carries the weight 1e8.
    B[2][3] = 1e-8;
    double M[3][3] = {};
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 2; ++c)
            for (int k = 0; k < 3; ++k)
                M[r][c] += B[r][k] * B[c][k];
    M[2][2] = 1e-8;
    double inv[3][3];
    if (!fit::InvertSymmetric3(M, inv))
        return false;
    double k3[3];
    for (int r = 0; r < 3; ++r) {
        k3[r] = inv[r][0] * wv[0] + inv[r][1] * wv[1] + inv[r][2] * wv[2];
        for (int c = 0; c < 3; ++c)
            Minv[r * 3 + c] = inv[r][c];
    }
    for (int k = 0; k < 4; ++k)
        res[k] = B[0][k] * k3[0] + B[1][k] * k3[1] + B[2][k] * k3[2];
    return fit::AllFinite(res, 4);
}

bool CBestFitLine::FormResiduals(fit::CNormals* normals, int& used)
{
    used = 0;
    double vv = 0.0;
    for (int i = 0; i < GetPointCount(); ++i) {
        double A[15], Minv[9], wv[3], res[4];
        if (!FormConditionEquations(*GetPoint(i), A, Minv, wv, res))
            return false;
        Row& row = residual[static_cast<size_t>(i)];
        row[0] = res[0], row[1] = res[1], row[2] = res[2];
        row[3] = std::sqrt(res[0] * res[0] + res[1] * res[1] + res[2] * res[2]);
        if (std::fabs(res[0]) <= cutoff && std::fabs(res[1]) <= cutoff && std::fabs(res[2]) <= cutoff) {
            vv += res[0] * res[0] + res[1] * res[1] + res[2] * res[2] + res[3] * res[3];
            if (normals)
                normals->AddBlock(3, A, Minv, wv);
            ++used;
        }
    }
    if (normals)
        normals->vv = vv;
    if (used < 2)
        return true;
    sigma0 = std::sqrt(vv / (3 * used - 5));
    rms = std::sqrt(vv / (3 * used));
    return true;
}

bool CBestFitLine::Adjust()
{
    iteration = 0;
    int divergence = 0;
    fit::CNormals normals(5);
    for (;;) {
        const double previousSigma0 = sigma0;
        ++iteration;
        cutoff = initialCutoff * (iteration == 1 ? 50.0 : iteration == 2 ? 5.0 : 1.0);
        normals.Clear();
        int used = 0;
        if (!FormResiduals(&normals, used))
            return Fail(BestFitOutcome::IDS_ADJUSTMENT_FAILED);
        if (used < 2)
            return Fail(BestFitOutcome::IDS_INSUFFICIENT_POINTS);
        if (iteration >= 4 && sigma0 > previousSigma0)
            ++divergence;
        if (divergence > 5)
            return Fail(BestFitOutcome::IDS_ADJUSTMENT_DIVERGING);
        if (iteration == maxIterations)
            return Fail(BestFitOutcome::IDS_ADJUSTMENT_FAILED);

        double x[5];
        if (!normals.Solve(x))
            return Fail(BestFitOutcome::IDS_ADJUSTMENT_FAILED);
        double* free1 = held == 0 ? &Yo : &Xo;
        double* free2 = held == 2 ? &Yo : &Zo;
        *free1 -= x[0];
        *free2 -= x[1];
        u -= x[2];
        v -= x[3];
        w -= x[4];
        const double params[6] = {Xo, Yo, Zo, u, v, w};
        if (!fit::AllFinite(params, 6))
            return Fail(BestFitOutcome::IDS_ADJUSTMENT_FAILED);
        if (std::fabs(sigma0 - previousSigma0) >= 0.0005)
            continue;
        // The residuals, sigma0 and RMS of the parameters reported.
        if (!FormResiduals(nullptr, used))
            return Fail(BestFitOutcome::IDS_ADJUSTMENT_FAILED);
        if (used < 2)
            return Fail(BestFitOutcome::IDS_INSUFFICIENT_POINTS);
        return RejectPoints();
    }
}

bool CBestFitLine::RejectPoints()
{
    double sums[4] = {0.0, 0.0, 0.0, 0.0};
    int count = 0;
    for (int i = 0; i < GetPointCount(); ++i) {
        const Row& row = residual[static_cast<size_t>(i)];
        CObjectPoint& p = *GetPoint(i);
        if (std::fabs(row[0]) <= cutoff && std::fabs(row[1]) <= cutoff && std::fabs(row[2]) <= cutoff) {
            CObjectPointArray::SetRejected(p, false);
            for (int k = 0; k < 4; ++k)
                sums[k] += row[k] * row[k];
            ++count;
        } else {
            CObjectPointArray::SetRejected(p, true);
        }
    }
    for (int k = 0; k < 4; ++k)
        rmsV[k] = std::sqrt(sums[k] / (count == 0 ? 1 : count));
    return true;
}
