#include "FitAlgebra.h"

#include <algorithm>
#include <cstring>

#include "ObjectPointArray.h"

namespace fit {

void CNormals::Clear()
{
    std::memset(N, 0, sizeof N);
    std::memset(b, 0, sizeof b);
    vv = 0.0;
}

void CNormals::Add(const double* row, double misclosure, double weight)
{
    for (int i = 0; i < n; ++i) {
        if (row[i] == 0.0)
            continue;
        const double wi = weight * row[i];
        for (int j = i; j < n; ++j)
            N[i][j] += wi * row[j];
        b[i] += wi * misclosure;
    }
}

void CNormals::AddBlock(int k, const double* rows, const double* weight, const double* w)
{
    // t = W·rows (k x n) and W·w (k)
    double t[3][kMaxUnknowns] = {};
    double tw[3] = {};
    for (int r = 0; r < k; ++r) {
        for (int s = 0; s < k; ++s) {
            const double wrs = weight[r * k + s];
            for (int j = 0; j < n; ++j)
                t[r][j] += wrs * rows[s * n + j];
            tw[r] += wrs * w[s];
        }
    }
    for (int r = 0; r < k; ++r)
        for (int i = 0; i < n; ++i) {
            const double a = rows[r * n + i];
            if (a == 0.0)
                continue;
            for (int j = i; j < n; ++j)
                N[i][j] += a * t[r][j];
            b[i] += a * tw[r];
        }
}

bool CNormals::Solve(double* x, double* reduced) const
{
    // Augmented upper triangle: columns 0..n-1 the matrix, n the right-hand side.
    double U[kMaxUnknowns + 1][kMaxUnknowns + 1] = {};
    for (int i = 0; i < n; ++i) {
        for (int j = i; j < n; ++j)
            U[i][j] = N[i][j];
        U[i][n] = b[i];
    }
    U[n][n] = vv;
    for (int k = 0; k < n; ++k) {
        const double pivot = U[k][k];
        if (!(pivot > 0.0) || pivot <= 1e-12 * N[k][k] || !std::isfinite(pivot))
            return false;
        for (int i = k + 1; i <= n; ++i) {
            const double f = U[k][i] / pivot;
            if (f == 0.0)
                continue;
            for (int j = i; j <= n; ++j)
                U[i][j] -= f * U[k][j];
        }
    }
    for (int i = n - 1; i >= 0; --i) {
        double s = U[i][n];
        for (int j = i + 1; j < n; ++j)
            s -= U[i][j] * x[j];
        x[i] = s / U[i][i];
    }
    if (reduced)
        *reduced = std::max(0.0, U[n][n]);
    return AllFinite(x, n);
}

bool SymmetricEigen3(const double S[3][3], double values[3], double vectors[3][3])
{
    double a[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            a[i][j] = S[i][j];
            vectors[i][j] = i == j ? 1.0 : 0.0;
            if (!std::isfinite(a[i][j]))
                return false;
        }
    for (int sweep = 0; sweep < 50; ++sweep) {
        const double off = std::fabs(a[0][1]) + std::fabs(a[0][2]) + std::fabs(a[1][2]);
        if (off == 0.0)
            break;
        for (int p = 0; p < 2; ++p)
            for (int q = p + 1; q < 3; ++q) {
                if (a[p][q] == 0.0)
                    continue;
                const double theta = (a[q][q] - a[p][p]) / (2.0 * a[p][q]);
                const double t = (theta >= 0.0 ? 1.0 : -1.0) / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
                const double c = 1.0 / std::sqrt(t * t + 1.0), s = t * c;
                for (int k = 0; k < 3; ++k) {
                    const double akp = a[k][p], akq = a[k][q];
                    a[k][p] = c * akp - s * akq;
                    a[k][q] = s * akp + c * akq;
                }
                for (int k = 0; k < 3; ++k) {
                    const double apk = a[p][k], aqk = a[q][k];
                    a[p][k] = c * apk - s * aqk;
                    a[q][k] = s * apk + c * aqk;
                }
                for (int k = 0; k < 3; ++k) {
                    const double vkp = vectors[k][p], vkq = vectors[k][q];
                    vectors[k][p] = c * vkp - s * vkq;
                    vectors[k][q] = s * vkp + c * vkq;
                }
            }
    }
    int order[3] = {0, 1, 2};
    std::sort(order, order + 3, [&](int i, int j) { return a[i][i] < a[j][j]; });
    double v[3][3];
    std::memcpy(v, vectors, sizeof v);
    for (int c = 0; c < 3; ++c) {
        values[c] = a[order[c]][order[c]];
        for (int r = 0; r < 3; ++r)
            vectors[r][c] = v[r][order[c]];
    }
    return true;
}

int CentredScatter(const CObjectPointArray& points, bool all, double centroid[3], double S[3][3])
{
    int count = 0;
    centroid[0] = centroid[1] = centroid[2] = 0.0;
    for (int i = 0; i < points.GetSize(); ++i) {
        const CObjectPoint& p = *points.GetAt(i);
        if (!all && CObjectPointArray::IsRejected(p))
            continue;
        centroid[0] += p.x;
        centroid[1] += p.y;
        centroid[2] += p.z;
        ++count;
    }
    std::memset(S, 0, sizeof(double) * 9);
    if (count == 0)
        return 0;
    for (int k = 0; k < 3; ++k)
        centroid[k] /= count;
    for (int i = 0; i < points.GetSize(); ++i) {
        const CObjectPoint& p = *points.GetAt(i);
        if (!all && CObjectPointArray::IsRejected(p))
            continue;
        const double d[3] = {p.x - centroid[0], p.y - centroid[1], p.z - centroid[2]};
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                S[r][c] += d[r] * d[c];
    }
    return count;
}

bool InvertSymmetric3(const double M[3][3], double inv[3][3])
{
    const double c00 = M[1][1] * M[2][2] - M[1][2] * M[2][1];
    const double c01 = M[1][2] * M[2][0] - M[1][0] * M[2][2];
    const double c02 = M[1][0] * M[2][1] - M[1][1] * M[2][0];
    const double det = M[0][0] * c00 + M[0][1] * c01 + M[0][2] * c02;
    const double scale = std::fabs(M[0][0] * M[1][1] * M[2][2]);
    if (!std::isfinite(det) || !(std::fabs(det) > 1e-12 * scale))
        return false;
    inv[0][0] = c00 / det;
    inv[0][1] = (M[0][2] * M[2][1] - M[0][1] * M[2][2]) / det;
    inv[0][2] = (M[0][1] * M[1][2] - M[0][2] * M[1][1]) / det;
    inv[1][0] = c01 / det;
    inv[1][1] = (M[0][0] * M[2][2] - M[0][2] * M[2][0]) / det;
    inv[1][2] = (M[0][2] * M[1][0] - M[0][0] * M[1][2]) / det;
    inv[2][0] = c02 / det;
    inv[2][1] = (M[0][1] * M[2][0] - M[0][0] * M[2][1]) / det;
    inv[2][2] = (M[0][0] * M[1][1] - M[0][1] * M[1][0]) / det;
    return true;
}

} // namespace fit
