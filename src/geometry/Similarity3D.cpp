#include "Similarity3D.h"

#include <cmath>

#include "ObjectPoint.h"
#include "PointSet.h"

namespace {

constexpr int kUnknowns = 7;
constexpr double kScaleWeight = 1.0e12;

// LDL^T of a symmetric n x n matrix held in full; false on a pivot that is
// not clearly positive against the original diagonal.
bool FactorLdl(double a[kUnknowns][kUnknowns], int n)
{
    double diag[kUnknowns];
    for (int i = 0; i < n; ++i)
        diag[i] = std::fabs(a[i][i]);
    for (int j = 0; j < n; ++j) {
        double d = a[j][j];
        for (int k = 0; k < j; ++k)
            d -= a[j][k] * a[j][k] * a[k][k];
        if (!std::isfinite(d) || d <= 1e-13 * diag[j] || d <= 1e-100)
            return false;
        a[j][j] = d;
        for (int i = j + 1; i < n; ++i) {
            double v = a[i][j];
            for (int k = 0; k < j; ++k)
                v -= a[i][k] * a[j][k] * a[k][k];
            a[i][j] = v / d;
        }
    }
    return true;
}

void SolveLdl(const double a[kUnknowns][kUnknowns], int n, const double* b, double* x)
{
    for (int i = 0; i < n; ++i) {
        double v = b[i];
        for (int k = 0; k < i; ++k)
            v -= a[i][k] * x[k];
        x[i] = v;
    }
    for (int i = 0; i < n; ++i)
        x[i] /= a[i][i];
    for (int i = n - 1; i >= 0; --i)
        for (int k = i + 1; k < n; ++k)
            x[i] -= a[k][i] * x[k];
}

// Eigenvector of the largest eigenvalue of a symmetric 4 x 4 matrix (Jacobi).
void LargestEigenvector(double m[4][4], double out[4])
{
    double v[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
    for (int sweep = 0; sweep < 100; ++sweep) {
        double off = 0.0;
        for (int p = 0; p < 4; ++p)
            for (int q = p + 1; q < 4; ++q)
                off += m[p][q] * m[p][q];
        if (off < 1e-300)
            break;
        for (int p = 0; p < 4; ++p)
            for (int q = p + 1; q < 4; ++q) {
                if (m[p][q] == 0.0)
                    continue;
                const double theta = (m[q][q] - m[p][p]) / (2.0 * m[p][q]);
                const double t = (theta >= 0 ? 1.0 : -1.0) / (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
                const double c = 1.0 / std::sqrt(t * t + 1.0), s = t * c;
                for (int k = 0; k < 4; ++k) {
                    const double mkp = m[k][p], mkq = m[k][q];
                    m[k][p] = c * mkp - s * mkq;
                    m[k][q] = s * mkp + c * mkq;
                }
                for (int k = 0; k < 4; ++k) {
                    const double mpk = m[p][k], mqk = m[q][k];
                    m[p][k] = c * mpk - s * mqk;
                    m[q][k] = s * mpk + c * mqk;
                }
                for (int k = 0; k < 4; ++k) {
                    const double vkp = v[k][p], vkq = v[k][q];
                    v[k][p] = c * vkp - s * vkq;
                    v[k][q] = s * vkp + c * vkq;
                }
            }
    }
    int best = 0;
    for (int i = 1; i < 4; ++i)
        if (m[i][i] > m[best][best])
            best = i;
    for (int k = 0; k < 4; ++k)
        out[k] = v[k][best];
}

void Coordinates(const CObjectPoint* p, double x[3])
{
    x[0] = p->x;
    x[1] = p->y;
    x[2] = p->z;
}

// dR/d(angle) for angle 0 = omega, 1 = phi, 2 = kappa.
void RotationDerivative(double omega, double phi, double kappa, int which, double d[3][3])
{
    const double so = std::sin(omega), co = std::cos(omega);
    const double sp = std::sin(phi), cp = std::cos(phi);
    const double sk = std::sin(kappa), ck = std::cos(kappa);
    if (which == 0) {
        d[0][0] = 0.0;
        d[0][1] = -so * sk + co * sp * ck;
        d[0][2] = co * sk + so * sp * ck;
        d[1][0] = 0.0;
        d[1][1] = -so * ck - co * sp * sk;
        d[1][2] = co * ck - so * sp * sk;
        d[2][0] = 0.0;
        d[2][1] = -co * cp;
        d[2][2] = -so * cp;
    } else if (which == 1) {
        d[0][0] = -sp * ck;
        d[0][1] = so * cp * ck;
        d[0][2] = -co * cp * ck;
        d[1][0] = sp * sk;
        d[1][1] = -so * cp * sk;
        d[1][2] = co * cp * sk;
        d[2][0] = cp;
        d[2][1] = so * sp;
        d[2][2] = -co * sp;
    } else {
        d[0][0] = -cp * sk;
        d[0][1] = co * ck - so * sp * sk;
        d[0][2] = so * ck + co * sp * sk;
        d[1][0] = -cp * ck;
        d[1][1] = -co * sk - so * sp * ck;
        d[1][2] = -so * sk + co * sp * ck;
        d[2][0] = d[2][1] = d[2][2] = 0.0;
    }
}

} // namespace

const char* GeometryStatusText(int id)
{
    switch (id) {
    case SimilarityOutcome::IDS_NOT_ENOUGH_COMMON_POINTS: return "Not enough common points";
    case SimilarityOutcome::IDS_APPROXIMATION_FAILED: return "Computation of approximate values failed";
    case SimilarityOutcome::IDS_MAX_ITERATIONS_EXCEEDED: return "Maximum iterations exceeded";
    case SimilarityOutcome::IDS_TOO_MANY_REJECTED: return "Too many rejected points";
    case SimilarityOutcome::IDS_ADJUSTMENT_SUCCESSFUL: return "Adjustment successful";
    case SimilarityOutcome::IDS_INSUFFICIENT_POINTS: return "Insufficient points";
    case SimilarityOutcome::IDS_ADJUSTMENT_FAILED: return "Adjustment failed";
    case SimilarityOutcome::IDS_ADJUSTMENT_DIVERGING: return "Adjustment diverging";
    case SimilarityOutcome::IDS_BEST_FIT_PLANE_FAILED: return "Best fit plane computation failed.";
    default: return "";
    }
}

void BuildRotation(double omega, double phi, double kappa, double r[3][3])
{
    const double so = std::sin(omega), co = std::cos(omega);
    const double sp = std::sin(phi), cp = std::cos(phi);
    const double sk = std::sin(kappa), ck = std::cos(kappa);
    r[0][0] = cp * ck;
    r[0][1] = co * sk + so * sp * ck;
    r[0][2] = so * sk - co * sp * ck;
    r[1][0] = -cp * sk;
    r[1][1] = co * ck - so * sp * sk;
    r[1][2] = so * ck + co * sp * sk;
    r[2][0] = sp;
    r[2][1] = -so * cp;
    r[2][2] = co * cp;
}

void ReadAngles(const double r[3][3], double& omega, double& phi, double& kappa)
{
    const double s = std::fmax(-1.0, std::fmin(1.0, r[2][0]));
    phi = std::atan2(s, std::sqrt(1.0 - s * s));
    // atan2 of the numerators alone: the same angles wherever cos phi > 0.
    omega = std::atan2(-r[2][1], r[2][2]);
    kappa = std::atan2(-r[1][0], r[0][0]);
    if (r[2][1] == 0.0 && r[2][2] == 0.0) {
        // Gimbal lock: omega and kappa are one rotation; put it all in kappa.
        omega = 0.0;
        kappa = std::atan2(r[0][1], r[1][1]);
    }
}

// --- Pairs ------------------------------------------------------------------------

CNameBuffer CTransformPointPair::GetLabel() const
{
    return point != nullptr ? point->label : CNameBuffer();
}

int CTransformPointPair::CheckResidual(double limit)
{
    if (std::fabs(VX) > limit || std::fabs(VY) > limit || std::fabs(VZ) > limit)
        rejected = 1;
    return 1;
}

void CTransformPointPairList::RemoveAll()
{
    while (!pairs.empty()) {
        delete pairs.back();
        pairs.pop_back();
    }
}

// --- Transformation --------------------------------------------------------------

C3DTransformation::C3DTransformation(CPointSet* toTransform, CPointSet* control, CPointSet* result)
    : control(control), toTransform(toTransform), result(result)
{
    Reset();
    BuildPointPairs();
}

int C3DTransformation::Reset()
{
    sigma0 = rms = 0.0;
    iterations = 0;
    X0 = Y0 = Z0 = 0.0;
    scale = 1.0;
    for (auto& row : R)
        for (double& v : row)
            v = 0.0;
    for (int i = 0; i < 7; ++i)
        sigma[i] = totalCorrection[i] = 0.0;
    for (int i = 0; i < 4; ++i)
        residualRms[i] = discrepancyRms[i] = discrepancyRmsAll[i] = 0.0;
    return 0;
}

void C3DTransformation::BuildPointPairs()
{
    pairs.RemoveAll();
    if (control == nullptr || toTransform == nullptr)
        return;
    for (int i = 0; i < control->GetSize(); ++i) {
        CObjectPoint* c = control->GetAt(i);
        if (c == nullptr)
            continue;
        CObjectPoint* p = toTransform->FindPoint(c->label);
        if (p != nullptr)
            pairs.Add(new CTransformPointPair(p, c));
    }
}

int C3DTransformation::GetRejectedCount() const
{
    int n = 0;
    for (int i = 0; i < pairs.GetSize(); ++i)
        n += pairs.GetAt(i)->rejected ? 1 : 0;
    return n;
}

CDynString C3DTransformation::GetControlSetName() const
{
    return control != nullptr ? CDynString(control->GetName().GetText()) : CDynString("");
}

CDynString C3DTransformation::GetTransformSetName() const
{
    return toTransform != nullptr ? CDynString(toTransform->GetName().GetText()) : CDynString("");
}

CDynString C3DTransformation::GetResultSetName() const
{
    return result != nullptr ? CDynString(result->GetName().GetText()) : CDynString("");
}

double C3DTransformation::GetOmega() const
{
    double o, p, k;
    ReadAngles(R, o, p, k);
    return o;
}

double C3DTransformation::GetPhi() const
{
    double o, p, k;
    ReadAngles(R, o, p, k);
    return p;
}

double C3DTransformation::GetKappa() const
{
    double o, p, k;
    ReadAngles(R, o, p, k);
    return k;
}

bool C3DTransformation::Compute()
{
    if (pairs.GetSize() < 4) {
        statusId = SimilarityOutcome::IDS_NOT_ENOUGH_COMMON_POINTS;
        return false;
    }
    if (!ComputeApproximateScale() || !ComputeApproximateRotationTranslation()) {
        statusId = SimilarityOutcome::IDS_APPROXIMATION_FAILED;
        return false;
    }
    if (fixedScale)
        scale = 1.0;
    if (!Adjust())
        return false;
    ComputeTransformedSet();
    ComputeDiscrepancies();
    statusId = SimilarityOutcome::IDS_ADJUSTMENT_SUCCESSFUL;
    return true;
}

bool C3DTransformation::ComputeApproximateScale()
{
    scale = 0.0;
    double c0[3], s0[3];
    Coordinates(pairs.GetAt(0)->control, c0);
    Coordinates(pairs.GetAt(0)->point, s0);
    double sum = 0.0;
    int count = 0;
    for (int i = 1; i < pairs.GetSize(); ++i) {
        double c[3], s[3];
        Coordinates(pairs.GetAt(i)->control, c);
        Coordinates(pairs.GetAt(i)->point, s);
        const double dc = std::sqrt((c[0] - c0[0]) * (c[0] - c0[0]) + (c[1] - c0[1]) * (c[1] - c0[1]) +
                                    (c[2] - c0[2]) * (c[2] - c0[2]));
        const double ds = std::sqrt((s[0] - s0[0]) * (s[0] - s0[0]) + (s[1] - s0[1]) * (s[1] - s0[1]) +
                                    (s[2] - s0[2]) * (s[2] - s0[2]));
        if (!(dc > 0.0))
            continue; // coincides with the reference point
        sum += ds / dc;
        ++count;
    }
    if (count < 2 || !(sum > 0.0))
        return false;
    scale = sum / count;
    return true;
}

bool C3DTransformation::ComputeApproximateRotationTranslation()
{
    double n[kUnknowns][kUnknowns] = {};
    double u[4][3] = {};
    for (int i = 0; i < pairs.GetSize(); ++i) {
        double c[3], s[3];
        Coordinates(pairs.GetAt(i)->control, c);
        Coordinates(pairs.GetAt(i)->point, s);
        const double a[4] = {1.0, scale * c[0], scale * c[1], scale * c[2]};
        for (int j = 0; j < 4; ++j) {
            for (int k = 0; k < 4; ++k)
                n[j][k] += a[j] * a[k];
            for (int k = 0; k < 3; ++k)
                u[j][k] += a[j] * s[k];
        }
    }
    // Coplanar common points make the matrix singular: take the closed form.
    if (!FactorLdl(n, 4) || [&] {
            double dmin = n[0][0], dmax = n[0][0];
            for (int j = 1; j < 4; ++j) {
                dmin = std::fmin(dmin, n[j][j]);
                dmax = std::fmax(dmax, n[j][j]);
            }
            return dmin < 1e-10 * dmax;
        }())
        return ComputeClosedForm(true);

    double b[4][3];
    for (int k = 0; k < 3; ++k) {
        double rhs[4] = {u[0][k], u[1][k], u[2][k], u[3][k]}, x[4];
        SolveLdl(n, 4, rhs, x);
        for (int j = 0; j < 4; ++j)
            b[j][k] = x[j];
    }
    X0 = b[0][0];
    Y0 = b[0][1];
    Z0 = b[0][2];
    const double q = 1.0 - b[3][0] * b[3][0];
    if (!(q >= 0.0))
        return false;
    const double twoPi = 8.0 * std::atan(1.0);
    double phi = std::atan2(b[3][0], std::sqrt(q));
    double omega = std::atan2(-b[3][1], b[3][2]);
    double kappa = std::atan2(-b[2][0], b[1][0]);
    if (omega < 0.0)
        omega += twoPi;
    if (phi < 0.0)
        phi += twoPi;
    if (kappa < 0.0)
        kappa += twoPi;
    BuildRotation(omega, phi, kappa, R);
    return true;
}

bool C3DTransformation::ComputeClosedForm(bool withScale)
{
    const int n = pairs.GetSize();
    double mc[3] = {}, ms[3] = {};
    for (int i = 0; i < n; ++i) {
        double c[3], s[3];
        Coordinates(pairs.GetAt(i)->control, c);
        Coordinates(pairs.GetAt(i)->point, s);
        for (int k = 0; k < 3; ++k) {
            mc[k] += c[k] / n;
            ms[k] += s[k] / n;
        }
    }
    double S[3][3] = {};
    double aa = 0.0;
    for (int i = 0; i < n; ++i) {
        double c[3], s[3];
        Coordinates(pairs.GetAt(i)->control, c);
        Coordinates(pairs.GetAt(i)->point, s);
        for (int j = 0; j < 3; ++j) {
            aa += (c[j] - mc[j]) * (c[j] - mc[j]);
            for (int k = 0; k < 3; ++k)
                S[j][k] += (c[j] - mc[j]) * (s[k] - ms[k]);
        }
    }
    if (!(aa > 0.0))
        return false;
    double m[4][4] = {
        {S[0][0] + S[1][1] + S[2][2], S[1][2] - S[2][1], S[2][0] - S[0][2], S[0][1] - S[1][0]},
        {S[1][2] - S[2][1], S[0][0] - S[1][1] - S[2][2], S[0][1] + S[1][0], S[2][0] + S[0][2]},
        {S[2][0] - S[0][2], S[0][1] + S[1][0], -S[0][0] + S[1][1] - S[2][2], S[1][2] + S[2][1]},
        {S[0][1] - S[1][0], S[2][0] + S[0][2], S[1][2] + S[2][1], -S[0][0] - S[1][1] + S[2][2]}};
    double q[4];
    LargestEigenvector(m, q);
    // M turns control differences into secondary ones; R = M^T.
    const double M[3][3] = {
        {q[0] * q[0] + q[1] * q[1] - q[2] * q[2] - q[3] * q[3], 2 * (q[1] * q[2] - q[0] * q[3]),
         2 * (q[1] * q[3] + q[0] * q[2])},
        {2 * (q[2] * q[1] + q[0] * q[3]), q[0] * q[0] - q[1] * q[1] + q[2] * q[2] - q[3] * q[3],
         2 * (q[2] * q[3] - q[0] * q[1])},
        {2 * (q[3] * q[1] - q[0] * q[2]), 2 * (q[3] * q[2] + q[0] * q[1]),
         q[0] * q[0] - q[1] * q[1] - q[2] * q[2] + q[3] * q[3]}};
    if (withScale) {
        double bma = 0.0;
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                bma += M[k][j] * S[j][k];
        if (!(bma > 0.0))
            return false;
        scale = bma / aa;
    }
    double omega, phi, kappa;
    double rt[3][3];
    for (int j = 0; j < 3; ++j)
        for (int k = 0; k < 3; ++k)
            rt[j][k] = M[k][j];
    ReadAngles(rt, omega, phi, kappa);
    BuildRotation(omega, phi, kappa, R);
    double t[3];
    for (int k = 0; k < 3; ++k)
        t[k] = ms[k] - scale * (R[0][k] * mc[0] + R[1][k] * mc[1] + R[2][k] * mc[2]);
    X0 = t[0];
    Y0 = t[1];
    Z0 = t[2];
    return true;
}

bool C3DTransformation::Adjust()
{
    iterations = 0;
    rms = 0.0;
    for (;;) {
        const double previous = rms;
        ++iterations;
        double n[kUnknowns][kUnknowns] = {};
        double u[kUnknowns] = {};
        double wtw = 0.0;
        double omega, phi, kappa;
        ReadAngles(R, omega, phi, kappa);
        double dR[3][3][3];
        for (int a = 0; a < 3; ++a)
            RotationDerivative(omega, phi, kappa, a, dR[a]);
        const double T[3] = {X0, Y0, Z0};
        int accepted = 0;
        for (int i = 0; i < pairs.GetSize(); ++i) {
            CTransformPointPair* pair = pairs.GetAt(i);
            pair->rejected = 0;
            if (pair->point == nullptr || pair->control == nullptr)
                continue;
            double c[3], s[3], p[3], w[3];
            Coordinates(pair->control, c);
            Coordinates(pair->point, s);
            for (int k = 0; k < 3; ++k) {
                p[k] = scale * (R[0][k] * c[0] + R[1][k] * c[1] + R[2][k] * c[2]);
                w[k] = p[k] + T[k] - s[k];
            }
            pair->VX = w[0];
            pair->VY = w[1];
            pair->VZ = w[2];
            if (iterations > 3)
                pair->CheckResidual(cutoff);
            if (pair->rejected)
                continue;
            ++accepted;
            for (int k = 0; k < 3; ++k) {
                double row[kUnknowns] = {};
                row[k] = -1.0;
                row[3] = -p[k] / scale;
                for (int a = 0; a < 3; ++a)
                    row[4 + a] = -scale * (dR[a][0][k] * c[0] + dR[a][1][k] * c[1] + dR[a][2][k] * c[2]);
                for (int j = 0; j < kUnknowns; ++j) {
                    u[j] += row[j] * w[k];
                    for (int l = 0; l < kUnknowns; ++l)
                        n[j][l] += row[j] * row[l];
                }
                wtw += w[k] * w[k];
            }
        }
        if (accepted < 3) {
            rms = previous;
            statusId = SimilarityOutcome::IDS_TOO_MANY_REJECTED;
            return false;
        }
        if (fixedScale) {
            n[3][3] += kScaleWeight;
            u[3] -= kScaleWeight * totalCorrection[3];
        }
        if (!FactorLdl(n, kUnknowns)) {
            statusId = SimilarityOutcome::IDS_ADJUSTMENT_FAILED;
            return false;
        }
        double d[kUnknowns];
        SolveLdl(n, kUnknowns, u, d);
        double vtv = wtw;
        for (int j = 0; j < kUnknowns; ++j)
            vtv -= u[j] * d[j];
        vtv = std::fmax(vtv, 0.0);
        const int redundancy = 3 * accepted - 7;
        sigma0 = redundancy > 0 ? std::sqrt(vtv / redundancy) : 0.0;
        rms = std::sqrt(vtv / (3.0 * accepted));

        X0 += d[0];
        Y0 += d[1];
        Z0 += d[2];
        // A held scale stays exactly where it was put.
        if (!fixedScale)
            scale += d[3];
        BuildRotation(omega + d[4], phi + d[5], kappa + d[6], R);
        for (int j = 0; j < kUnknowns; ++j)
            totalCorrection[j] += d[j];

        if (iterations >= maxIterations) {
            statusId = SimilarityOutcome::IDS_MAX_ITERATIONS_EXCEEDED;
            return false;
        }
        if (iterations <= 3 || std::fabs(previous - rms) >= 1.0e-8)
            continue;

        for (int j = 0; j < kUnknowns; ++j) {
            double e[kUnknowns] = {}, x[kUnknowns];
            e[j] = 1.0;
            SolveLdl(n, kUnknowns, e, x);
            sigma[j] = std::sqrt(std::fmax(x[j], 0.0)) * sigma0;
        }
        double sx = 0.0, sy = 0.0, sz = 0.0;
        for (int i = 0; i < pairs.GetSize(); ++i) {
            const CTransformPointPair* pair = pairs.GetAt(i);
            if (pair->rejected)
                continue;
            sx += pair->VX * pair->VX;
            sy += pair->VY * pair->VY;
            sz += pair->VZ * pair->VZ;
        }
        residualRms[0] = std::sqrt(sx / accepted);
        residualRms[1] = std::sqrt(sy / accepted);
        residualRms[2] = std::sqrt(sz / accepted);
        residualRms[3] = std::sqrt((sx + sy + sz) / (3.0 * accepted));
        return true;
    }
}

void C3DTransformation::ComputeTransformedSet()
{
    if (result == nullptr || toTransform == nullptr)
        return;
    result->RemoveAll();
    const double T[3] = {X0, Y0, Z0};
    for (int i = 0; i < toTransform->GetSize(); ++i) {
        const CObjectPoint* p = toTransform->GetAt(i);
        if (p == nullptr)
            continue;
        double s[3], x[3];
        Coordinates(p, s);
        for (int k = 0; k < 3; ++k)
            x[k] = (R[k][0] * (s[0] - T[0]) + R[k][1] * (s[1] - T[1]) + R[k][2] * (s[2] - T[2])) / scale;
        result->AddCopy(CObjectPoint(p->label, x[0], x[1], x[2]));
    }
}

void C3DTransformation::ComputeDiscrepancies()
{
    double acc[3] = {}, all[3] = {};
    int na = 0, n = 0;
    for (int i = 0; i < pairs.GetSize(); ++i) {
        CTransformPointPair* pair = pairs.GetAt(i);
        pair->DX = pair->DY = pair->DZ = 0.0;
        CObjectPoint* r = result != nullptr ? result->FindPoint(pair->control->label) : nullptr;
        if (r == nullptr)
            continue;
        pair->DX = r->x - pair->control->x;
        pair->DY = r->y - pair->control->y;
        pair->DZ = r->z - pair->control->z;
        r->discrepancy[0] = pair->DX;
        r->discrepancy[1] = pair->DY;
        r->discrepancy[2] = pair->DZ;
        const double d2[3] = {pair->DX * pair->DX, pair->DY * pair->DY, pair->DZ * pair->DZ};
        for (int k = 0; k < 3; ++k) {
            all[k] += d2[k];
            if (!pair->rejected)
                acc[k] += d2[k];
        }
        ++n;
        na += pair->rejected ? 0 : 1;
    }
    auto fill = [](double out[4], const double sums[3], int count) {
        for (int k = 0; k < 4; ++k)
            out[k] = 0.0;
        if (count <= 0)
            return;
        for (int k = 0; k < 3; ++k)
            out[k] = std::sqrt(sums[k] / count);
        out[3] = std::sqrt((sums[0] + sums[1] + sums[2]) / (3.0 * count));
    };
    fill(discrepancyRms, acc, na);
    fill(discrepancyRmsAll, all, n);
}
