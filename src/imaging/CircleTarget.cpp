#include "CircleTarget.h"

#include <cmath>

#include "Camera.h"
#include "Distortion.h"
#include "EllipseProjection.h"
#include "EllipseRecord.h"
#include "ImageObservation.h"
#include "NewmatLock.h"
#include "ObjectPoint.h"
#include "PointSet.h"
#include "ProjectImage.h"

#include <newmat.h>
#include <newmatap.h>

namespace {

constexpr double kPi = 3.14159265358979323846;

// A value with its derivatives by the seven unknowns (forward mode).
struct Dual {
    double v = 0.0;
    double g[7] = {};

    Dual() = default;
    explicit Dual(double value) : v(value) {}
    static Dual Variable(double value, int k)
    {
        Dual d(value);
        d.g[k] = 1.0;
        return d;
    }
};

Dual operator+(const Dual& a, const Dual& b)
{
    Dual r(a.v + b.v);
    for (int k = 0; k < 7; ++k)
        r.g[k] = a.g[k] + b.g[k];
    return r;
}

Dual operator-(const Dual& a, const Dual& b)
{
    Dual r(a.v - b.v);
    for (int k = 0; k < 7; ++k)
        r.g[k] = a.g[k] - b.g[k];
    return r;
}

Dual operator*(const Dual& a, const Dual& b)
{
    Dual r(a.v * b.v);
    for (int k = 0; k < 7; ++k)
        r.g[k] = a.g[k] * b.v + a.v * b.g[k];
    return r;
}

Dual operator*(double f, const Dual& a)
{
    Dual r(f * a.v);
    for (int k = 0; k < 7; ++k)
        r.g[k] = f * a.g[k];
    return r;
}

Dual operator/(const Dual& a, const Dual& b)
{
    Dual r(a.v / b.v);
    for (int k = 0; k < 7; ++k)
        r.g[k] = (a.g[k] - r.v * b.g[k]) / b.v;
    return r;
}

bool Finite3(const double v[3])
{
    return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

const CCamera* CameraOf(const CCameraList& cameras, const CProjectImage& image)
{
    return cameras.FindByName(image.GetCameraName().GetText());
}

} // namespace

bool HasUsableCovariance(const CTargetEllipse& ellipse)
{
    const CMatrix& s = ellipse.covariance;
    if (s.GetRows() != 5 || (s.GetCols() != 5 && s.GetCols() != -1))
        return false;
    // Cholesky with pivots held against the scale of their diagonal.
    double L[5][5] = {};
    for (int i = 0; i < 5; ++i) {
        for (int j = 0; j <= i; ++j) {
            double sum = s.GetAt(i, j);
            if (!std::isfinite(sum))
                return false;
            for (int k = 0; k < j; ++k)
                sum -= L[i][k] * L[j][k];
            if (i == j) {
                if (!(sum > 1e-12 * std::fabs(s.GetAt(i, i))) || !(s.GetAt(i, i) > 0.0))
                    return false;
                L[i][i] = std::sqrt(sum);
            } else {
                L[i][j] = sum / L[j][j];
            }
        }
    }
    return true;
}

// ---------------------------------------------------------------------------

CCircleTargetModelB::CCircleTargetModelB()
{
    fullWeights = true;
    wantCovariance = true;
    maxIterations = 40;
    tolerance = 0.001;
    divergenceLimit = 100000.0;
    radiusCheck = true;
}

void CCircleTargetModelB::Init(const std::vector<const CImageObservation*>& obs,
                               const std::vector<const CProjectImage*>& imgs, const CCameraList& cams,
                               const CObjectPoint& pt, const double n[3])
{
    observations = obs;
    images = imgs;
    cameras = &cams;
    point = &pt;
    for (int k = 0; k < 3; ++k)
        startNormal[k] = n[k];
    initialised = false;
}

CVector CCircleTargetModelB::GetNormal() const
{
    CVector n(3);
    for (int k = 0; k < 3; ++k)
        n[k] = normal[k];
    return n;
}

bool CCircleTargetModelB::PredictConic(const double M[3], double r, const double N[3], const double R[3][3],
                                       const double X0[3], double c, double k[5], double dk[5][7])
{
    Dual Mv[3], Nv[3];
    for (int i = 0; i < 3; ++i) {
        Mv[i] = Dual::Variable(M[i], i);
        Nv[i] = Dual::Variable(N[i], 4 + i);
    }
    const Dual rv = Dual::Variable(r, 3);
    // Camera frame: P = R (M - X0), Q = R N.
    Dual P[3], Q[3];
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            P[i] = P[i] + R[i][j] * (Mv[j] - Dual(X0[j]));
            Q[i] = Q[i] + R[i][j] * Nv[j];
        }
    }
    const Dual pq = P[0] * Q[0] + P[1] * Q[1] + P[2] * Q[2];
    const Dual pp = P[0] * P[0] + P[1] * P[1] + P[2] * P[2];
    const Dual w = pp - rv * rv;
    // K = (P.Q)^2 I - (P.Q)(Q P' + P Q') + (|P|^2 - r^2) Q Q'.
    Dual K[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = i; j < 3; ++j) {
            Dual e = w * Q[i] * Q[j] - pq * (Q[i] * P[j] + P[i] * Q[j]);
            if (i == j)
                e = e + pq * pq;
            K[i][j] = e;
        }
    const Dual den = (c * c) * K[2][2];
    if (!(std::fabs(den.v) > 0.0) || !std::isfinite(den.v))
        return false;
    const Dual num[5] = {K[0][0], 2.0 * K[0][1], K[1][1], (-2.0 * c) * K[0][2], (-2.0 * c) * K[1][2]};
    for (int i = 0; i < 5; ++i) {
        const Dual ki = Dual(0.0) - num[i] / den;
        k[i] = ki.v;
        if (dk)
            for (int j = 0; j < 7; ++j)
                dk[i][j] = ki.g[j];
        if (!std::isfinite(k[i]))
            return false;
    }
    return true;
}

bool CCircleTargetModelB::ComputeApproximations()
{
    const int m = static_cast<int>(images.size());
    if (m == 0 || point == nullptr || cameras == nullptr || observations.size() != images.size())
        return false;
    measured.Resize(m, 5);
    weights.RemoveAll();
    centre[0] = point->x;
    centre[1] = point->y;
    centre[2] = point->z;
    const double len = std::sqrt(startNormal[0] * startNormal[0] + startNormal[1] * startNormal[1] +
                                 startNormal[2] * startNormal[2]);
    if (!(len > 0.0) || !std::isfinite(len))
        return false;
    for (int i = 0; i < 3; ++i)
        normal[i] = startNormal[i] / len;

    for (int k = 0; k < m; ++k) {
        const CTargetEllipse* source = observations[k] ? observations[k]->GetEllipse() : nullptr;
        const CCamera* camera = images[k] ? CameraOf(*cameras, *images[k]) : nullptr;
        if (source == nullptr || camera == nullptr)
            return false;
        CTargetEllipse ellipse(*source);
        CVector conic;
        if (!ComputeConicFromSamples(ellipse, *camera, true) || !ellipse.GetNormalizedConic(conic))
            return false;
        CMatrix* weight = weights.AddNew();
        if (!ellipse.BuildConicWeight(*weight) || !weight->InvertSymmetric(false))
            return false;
        for (int j = 0; j < 5; ++j)
            measured.SetAt(conic[j], k, j);
    }

    // Radius: rays through five points of each ellipse meet the circle's plane.
    CVector n = GetNormal(), e1(3), e2(3);
    if (!n.MakePerpendicularAxes(e1, e2))
        return false;
    std::vector<double> radii;
    for (int k = 0; k < m; ++k) {
        const CCamera& camera = *CameraOf(*cameras, *images[k]);
        const CTargetEllipse& ellipse = *observations[k]->GetEllipse();
        const StationGeometry s = images[k]->GetStation();
        const double c = camera.parameters[CAM_C];
        double sum = 0.0;
        bool parallel = false;
        for (int j = 0; j < 5 && !parallel; ++j) {
            double x = 0.0, y = 0.0;
            ellipse.PointResidual(j * 2.0 * kPi / 5.0, observations[k]->x, observations[k]->y, x, y);
            CImageObservation o(CNameBuffer(), x, y);
            CorrectDistortion(o, camera);
            const double d[3] = {o.x, o.y, -c};
            double ray[3];
            for (int i = 0; i < 3; ++i)
                ray[i] = s.R[0][i] * d[0] + s.R[1][i] * d[1] + s.R[2][i] * d[2];
            // alpha e1 + beta e2 - lambda ray = X0 - M, by Cramer's rule.
            const double a[3][3] = {{e1[0], e2[0], -ray[0]}, {e1[1], e2[1], -ray[1]}, {e1[2], e2[2], -ray[2]}};
            const double b[3] = {s.X0[0] - centre[0], s.X0[1] - centre[1], s.X0[2] - centre[2]};
            auto det3 = [](const double q[3][3]) {
                return q[0][0] * (q[1][1] * q[2][2] - q[1][2] * q[2][1]) -
                       q[0][1] * (q[1][0] * q[2][2] - q[1][2] * q[2][0]) +
                       q[0][2] * (q[1][0] * q[2][1] - q[1][1] * q[2][0]);
            };
            const double det = det3(a);
            const double rayLength = std::sqrt(ray[0] * ray[0] + ray[1] * ray[1] + ray[2] * ray[2]);
            // A ray (nearly) parallel to the plane does not meet it.
            if (!(std::fabs(det) > 1e-12 * rayLength)) {
                parallel = true;
                break;
            }
            double alphaBeta[2];
            for (int col = 0; col < 2; ++col) {
                double q[3][3];
                for (int r = 0; r < 3; ++r)
                    for (int cc = 0; cc < 3; ++cc)
                        q[r][cc] = cc == col ? b[r] : a[r][cc];
                alphaBeta[col] = det3(q) / det;
            }
            sum += std::sqrt(alphaBeta[0] * alphaBeta[0] + alphaBeta[1] * alphaBeta[1]);
        }
        if (!parallel && std::isfinite(sum))
            radii.push_back(sum / 5.0);
    }
    if (radii.empty())
        return false;
    double mean = 0.0;
    for (double r : radii)
        mean += r;
    mean /= static_cast<double>(radii.size());
    radius = mean;
    radiusSpread = 0.0;
    if (radii.size() >= 2) {
        double ss = 0.0;
        for (double r : radii)
            ss += (r - mean) * (r - mean);
        radiusSpread = std::sqrt(ss / static_cast<double>(radii.size() - 1));
    }
    if (radiusCheck && radiusSpread > 0.1)
        return false;
    return true;
}

void CCircleTargetModelB::GetDesignRows(int i, CMatrix& A)
{
    const int k = i / 5;
    A.Resize(5, 7);
    A.Zero();
    misclosure.Resize(5);
    misclosure.Zero();
    const CCamera* camera = CameraOf(*cameras, *images[k]);
    const StationGeometry s = images[k]->GetStation();
    double q[5], dq[5][7];
    if (camera == nullptr || !PredictConic(centre, radius, normal, s.R, s.X0, camera->parameters[CAM_C], q, dq)) {
        // No finite prediction: a zero group that the solution cannot use.
        for (int j = 0; j < 5; ++j)
            misclosure[j] = std::nan("");
        return;
    }
    for (int r = 0; r < 5; ++r) {
        for (int c = 0; c < 7; ++c)
            A.SetAt(dq[r][c], r, c);
        misclosure[r] = measured.GetAt(k, r) - q[r];
    }
}

void CCircleTargetModelB::GetMisclosures(int, CVector& l)
{
    l = misclosure;
}

void CCircleTargetModelB::GetWeightMatrix(int i, CMatrix& P)
{
    const int k = i / 5;
    if (k < weights.GetSize())
        P = *weights.GetAt(k);
}

void CCircleTargetModelB::GetConstraintRows(int, CMatrix& B)
{
    B.Resize(1, 7);
    B.Zero();
    for (int k = 0; k < 3; ++k)
        B.SetAt(normal[k], 0, 4 + k);
}

void CCircleTargetModelB::ApplyCorrections()
{
    for (int k = 0; k < 3; ++k) {
        centre[k] += corrections[k];
        normal[k] += corrections[4 + k];
    }
    radius += corrections[3];
}

void CCircleTargetModelB::EndIteration()
{
    const double len = std::sqrt(normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2]);
    for (double& v : normal)
        v /= len;
}

bool CCircleTargetModelB::HasFiniteParameters() const
{
    return Finite3(centre) && Finite3(normal) && std::isfinite(radius);
}

// ---------------------------------------------------------------------------

CCircleTargetSolver::CCircleTargetSolver(const std::vector<const CProjectImage*>& imgs, CPointSet& pts,
                                         const CCameraList& cams)
    : images(imgs), points(pts), cameras(cams)
{
}

bool CCircleTargetSolver::UndistortEllipse(const CImageObservation& observation, const CProjectImage& image,
                                           CTargetEllipse& ellipse, bool normalise)
{
    const CCamera* camera = CameraOf(cameras, image);
    const CTargetEllipse* source = observation.GetEllipse();
    if (camera == nullptr || source == nullptr)
        return false;
    const double c = camera->parameters[CAM_C];
    CObservationList samples;
    for (int j = 0; j < 10; ++j) {
        double x = 0.0, y = 0.0;
        source->PointAt(j * 2.0 * kPi / 10.0, x, y);
        CImageObservation o(CNameBuffer(), x, y);
        CorrectDistortion(o, *camera);
        if (normalise) {
            o.x /= -c;
            o.y /= -c;
        }
        samples.AddCopy(o);
    }
    return ellipse.FitToPoints(samples);
}

bool CCircleTargetSolver::ComputeCameraNormals(const CTargetEllipse& ellipse, CVector& na, CVector& nb)
{
    CVector k;
    if (!ellipse.GetNormalizedConic(k))
        return false;
    const double S[3][3] = {{k[0], k[1] / 2.0, k[3] / 2.0}, {k[1] / 2.0, k[2], k[4] / 2.0}, {k[3] / 2.0, k[4] / 2.0, -1.0}};
    double mu[3], e[3][3]; // ascending eigenvalues, e[j] the eigenvector of mu[j]
    {
        NewmatLock lock;
        try {
            NEWMAT::SymmetricMatrix s(3);
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j <= i; ++j)
                    s(i + 1, j + 1) = S[i][j];
            NEWMAT::DiagonalMatrix values;
            NEWMAT::Matrix vectors;
            NEWMAT::EigenValues(s, values, vectors);
            for (int j = 0; j < 3; ++j) {
                mu[j] = values(j + 1);
                for (int i = 0; i < 3; ++i)
                    e[j][i] = vectors(i + 1, j + 1);
            }
        } catch (const RBD_COMMON::BaseException&) {
            return false;
        }
    }
    // The middle eigenvalue shares its sign with one extreme (l1) and not
    // with the other (l3) for a real cone.
    const int i1 = mu[1] > 0.0 ? 2 : 0;
    const int i3 = 2 - i1;
    const double l1 = mu[i1], l2 = mu[1], l3 = mu[i3];
    if (!(l1 * l3 < 0.0) || !(l2 * l3 <= 0.0))
        return false;
    const double f1 = std::sqrt((l1 - l2) / (l1 - l3));
    const double f3 = std::sqrt((l2 - l3) / (l1 - l3));
    na.Resize(3);
    nb.Resize(3);
    for (int i = 0; i < 3; ++i) {
        na[i] = f1 * e[i1][i] + f3 * e[i3][i];
        nb[i] = f1 * e[i1][i] - f3 * e[i3][i];
    }
    for (int i = 0; i < 3; ++i)
        if (!std::isfinite(na[i]) || !std::isfinite(nb[i]))
            return false;
    return true;
}

void CCircleTargetSolver::FaceCamera(CVector& normal, const CObjectPoint& point, const CProjectImage& image)
{
    CVector w(3);
    w[0] = image.X - point.x;
    w[1] = image.Y - point.y;
    w[2] = image.Z - point.z;
    w.Normalize();
    double dot = normal.Dot(w);
    if (dot > 1.0)
        dot = 1.0;
    if (dot < -1.0)
        dot = -1.0;
    if (std::acos(dot) > kPi / 2.0)
        normal.Scale(-1.0);
}

bool CCircleTargetSolver::ComputeCandidateNormals(const CImageObservation& observation, const CProjectImage& image,
                                                  const CObjectPoint& point, CVector& na, CVector& nb)
{
    CTargetEllipse ellipse;
    if (!UndistortEllipse(observation, image, ellipse, true))
        return false;
    CVector ca, cb;
    if (!ComputeCameraNormals(ellipse, ca, cb))
        return false;
    double R[3][3];
    image.GetRotation(R);
    na.Resize(3);
    nb.Resize(3);
    for (int i = 0; i < 3; ++i) {
        na[i] = R[0][i] * ca[0] + R[1][i] * ca[1] + R[2][i] * ca[2];
        nb[i] = R[0][i] * cb[0] + R[1][i] * cb[1] + R[2][i] * cb[2];
    }
    FaceCamera(na, point, image);
    FaceCamera(nb, point, image);
    return true;
}

bool CCircleTargetSolver::Run()
{
    for (int p = 0; p < points.GetSize(); ++p) {
        CObjectPoint* point = points.GetAt(p);
        if (point == nullptr)
            continue;
        point->SetNormal(0.0, 0.0, 0.0);
        std::vector<const CImageObservation*> taking;
        std::vector<const CProjectImage*> takingImages;
        int reference = -1;
        double referenceValue = 0.0;
        for (const CProjectImage* image : images) {
            if (image == nullptr)
                continue;
            const CImageObservation* o = image->FindObservation(point->GetLabel());
            // Only ellipses whose covariance can give the conic weights take part.
            if (o == nullptr || o->rejected || o->GetEllipse() == nullptr || !HasUsableCovariance(*o->GetEllipse()))
                continue;
            const CTargetEllipse& e = *o->GetEllipse();
            const double value = e.major * e.major / e.minor;
            if (reference < 0 || value < referenceValue) {
                reference = static_cast<int>(taking.size());
                referenceValue = value;
            }
            taking.push_back(o);
            takingImages.push_back(image);
        }
        if (taking.size() < 2)
            continue;
        CVector na, nb;
        if (!ComputeCandidateNormals(*taking[reference], *takingImages[reference], *point, na, nb))
            continue;

        double bestSigma = -1.0;
        CVector bestNormal;
        double bestRadius = 0.0;
        CCircleTargetModelB model;
        for (int attempt = 0; attempt < 2; ++attempt) {
            int iterations = 0;
            for (const CVector* candidate : {&na, &nb}) {
                const double n[3] = {(*candidate)[0], (*candidate)[1], (*candidate)[2]};
                model.Init(taking, takingImages, cameras, *point, n);
                const bool ok = model.Solve();
                iterations += model.iteration;
                if (ok && (bestSigma == -1.0 || model.sigma0 < bestSigma)) {
                    bestSigma = model.sigma0;
                    bestNormal = model.GetNormal();
                    bestRadius = model.GetRadius();
                }
            }
            if (bestSigma != -1.0 || iterations != 0 || !model.radiusCheck)
                break;
            model.radiusCheck = false;
        }
        if (bestSigma != -1.0) {
            point->SetNormalFromVector(bestNormal);
            point->radius = bestRadius;
        }
    }
    return false;
}
