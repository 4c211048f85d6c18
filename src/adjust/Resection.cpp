#include "Resection.h"

#include <cmath>

#include "AdjustmentSummary.h"
#include "Camera.h"
#include "ClosedFormResection.h"
#include "ImageRays.h"
#include "Matrix.h"
#include "NormalEquations.h"
#include "ObjectPoint.h"
#include "PointSet.h"
#include "ProjectImage.h"
#include "ProjectSettings.h"
#include "RayGeometry.h"
#include "Vector.h"

namespace {

constexpr double kDivergence = 1e30;

// The point that an observation takes part with, or null.
const CObjectPoint* ControlPoint(const CImageObservation& observation, CPointSet& points)
{
    if (observation.rejected || observation.disabled)
        return nullptr;
    const CObjectPoint* point = points.FindPoint(observation.label);
    return point && point->inUse ? point : nullptr;
}

struct Pose {
    double X, Y, Z, azimuth, elevation, roll;
};

Pose GetPose(const CProjectImage& image)
{
    return {image.X, image.Y, image.Z, image.GetAzimuth(), image.GetElevation(), image.GetRoll()};
}

void SetPose(CProjectImage& image, const Pose& pose)
{
    image.SetPose(pose.X, pose.Y, pose.Z, pose.azimuth, pose.elevation, pose.roll);
}

} // namespace

bool FormResectionRayEquations(const CProjectImage& image, const CCamera& camera, CImageObservation& observation,
                               const CObjectPoint& point, CMatrix& block)
{
    RayProjection p;
    if (!ProjectRay(image, camera, observation, point, p))
        return false;
    double dA[3][3], dE[3][3], dR[3][3];
    ray::RotationDerivatives(image.GetAzimuth(), image.GetElevation(), image.GetRoll(), dA, dE, dR);
    const double* d = p.d;
    const double U = p.U, V = p.V, k = p.k, c = p.c;

    double row0[7], row1[7];
    for (int j = 0; j < 3; ++j) {
        row0[j] = (U * p.R[2][j] - p.R[0][j]) * k;
        row1[j] = (V * p.R[2][j] - p.R[1][j]) * k;
    }
    row0[3] = k * (ray::Dot(dA[0], d) - U * ray::Dot(dA[2], d));
    row1[3] = k * (ray::Dot(dA[1], d) - V * ray::Dot(dA[2], d));
    row0[4] = k * (ray::Dot(dE[0], d) - U * ray::Dot(dE[2], d));
    row1[4] = k * (ray::Dot(dE[1], d) - V * ray::Dot(dE[2], d));
    row0[5] = c * V;
    row1[5] = -c * U;
    row0[6] = p.x + c * U;
    row1[6] = p.y + c * V;
    return StoreRayRows(row0, row1, 7, observation, block);
}

void ApplyResectionCorrection(CProjectImage& image, const CVector& correction)
{
    Pose pose = GetPose(image);
    pose.X -= correction[0];
    pose.Y -= correction[1];
    pose.Z -= correction[2];
    pose.azimuth -= correction[3];
    pose.elevation -= correction[4];
    pose.roll -= correction[5];
    SetPose(image, pose);
}

void InitialRotation(CProjectImage& image, const CCamera& camera, CPointSet& points)
{
    const double c = camera.parameters[CAM_C];
    const double X0[3] = {image.X, image.Y, image.Z};
    CMatrix normal(6, -1);
    CMatrix block(2, 6);
    int rows = 0;
    for (int i = 0; i < points.GetSize(); ++i) {
        const CObjectPoint* point = points.GetAt(i);
        if (!point)
            continue;
        const CImageObservation* observation = image.FindObservation(point->label);
        if (!observation || observation->disabled)
            continue;
        double a[3] = {observation->x, observation->y, c};
        const double P[3] = {point->x, point->y, point->z};
        double b[3];
        ray::Subtract(P, X0, b);
        const double la = ray::Norm(a), lb = ray::Norm(b);
        if (!(la > 0.0) || !(lb > 0.0) || !std::isfinite(la) || !std::isfinite(lb))
            continue;
        for (int j = 0; j < 3; ++j) {
            a[j] /= la;
            b[j] /= lb;
        }
        const double first[6] = {a[0], a[1], a[2], 0.0, 0.0, b[2]};
        const double second[6] = {0.0, 0.0, b[2], b[0], b[1], a[2]};
        for (int j = 0; j < 6; ++j) {
            block.SetAt(first[j], 0, j);
            block.SetAt(second[j], 1, j);
        }
        normal.AddAtA(block, 1);
        rows += 2;
    }
    CVector s(5);
    if (rows < 5 || !SolveNormalEquations(normal, 5, s))
        return;
    if (s[4] == 0.0)
        s[4] = 1e-6;
    if (s[1] == 0.0)
        s[1] = 1e-6;
    const double q2 = 1.0 - s[2] * s[2];
    const double q = q2 > 0.0 ? std::sqrt(q2) : 1e-6;
    image.SetRotation(-std::atan2(s[3], s[4]), std::atan2(s[2], q), std::atan2(s[0], s[1]));
}

void RefineResection(CProjectImage& image, const CCamera& camera, CPointSet& points,
                     const CProjectSettings& settings, CAdjustmentSummary& result)
{
    const CFloatingPointFlags flags;
    // The entry orientation, restored exactly (also a rotation that is not
    // yet set) when the refinement fails.
    const double entryStation[3] = {image.X, image.Y, image.Z};
    const CMatrix entryRotation(image.rotation);
    auto restoreEntry = [&]() {
        image.SetPosition(entryStation[0], entryStation[1], entryStation[2]);
        image.rotation = entryRotation;
    };
    InitialRotation(image, camera, points);
    image.ClearResiduals();
    image.ClearRejectedFlags();
    image.ResetCovariance();

    double rms = 0.0;
    double s0 = 0.0;
    int passes = 0;
    int equations = 0;
    int status = 0;
    CMatrix normal(7, -1);
    CMatrix lastNormal;
    CMatrix block(2, 7);
    CObservationList& targets = image.targets;

    while (status == 0) {
        normal.Zero();
        const double previous = rms;
        ++passes;
        // The equations are counted before any ray is formed: too few of them
        // end the refinement whatever the rotation (even none at all).
        equations = 0;
        for (int i = 0; i < targets.GetSize(); ++i) {
            const CImageObservation* observation = targets.GetAt(i);
            if (observation && ControlPoint(*observation, points))
                equations += 2;
        }
        if (equations < 6) {
            restoreEntry();
            flags.Restore();
            result.status = kResectionTooFewPoints;
            return;
        }
        bool finite = true;
        for (int i = 0; i < targets.GetSize() && finite; ++i) {
            CImageObservation* observation = targets.GetAt(i);
            const CObjectPoint* point = observation ? ControlPoint(*observation, points) : nullptr;
            if (!point)
                continue;
            if (FormResectionRayEquations(image, camera, *observation, *point, block))
                normal.AddAtA(block, 1);
            else
                finite = false;
        }

        CVector correction(6);
        if (finite) {
            const double sum = normal.GetAt(6, 6);
            rms = std::sqrt(sum / equations);
            s0 = equations > 6 ? std::sqrt(sum / (equations - 6)) : 0.0;
            lastNormal = normal;
        }
        // A singular system (all points on one ray) or a value that is not a
        // number counts as divergence.
        if (!finite || !std::isfinite(rms) || !SolveNormalEquations(normal, 6, correction)) {
            status = kResectionDiverged;
            break;
        }
        ApplyResectionCorrection(image, correction);

        if (std::fabs(rms) > kDivergence) {
            status = kResectionDiverged;
            break;
        }
        if (passes >= settings.resectionMaxIterations) {
            status = kResectionIterationLimit;
            break;
        }
        if (std::fabs(previous - rms) >= settings.resectionConvergenceLimit)
            continue;

        // Converged: the worst ray over the limit is rejected.
        CImageObservation* worst = nullptr;
        double largest = -1.0;
        for (int i = 0; i < targets.GetSize(); ++i) {
            CImageObservation* o = targets.GetAt(i);
            if (!o || o->rejected)
                continue;
            if (std::fabs(o->vx) > settings.resectionRejectionLimit ||
                std::fabs(o->vy) > settings.resectionRejectionLimit) {
                const double length = std::sqrt(o->vx * o->vx + o->vy * o->vy);
                if (length > largest) {
                    largest = length;
                    worst = o;
                }
            }
        }
        if (worst) {
            worst->rejected = true;
            equations -= 2;
            if (equations < 6) {
                status = kResectionTooFewPoints;
                break;
            }
            continue;
        }

        status = kResectionSuccess;
        CMatrix inverse;
        if (!InvertNormalMatrix(lastNormal, 6, inverse)) {
            status = kResectionDiverged;
            break;
        }
        CMatrix& covariance = image.GetCovariance();
        for (int i = 0; i < 6; ++i)
            for (int j = i; j < 6; ++j)
                covariance.SetAt(s0 * s0 * inverse.GetAt(i, j), i, j);
    }

    if (status != kResectionSuccess) {
        restoreEntry();
        flags.Restore();
    }
    result.status = status;
    result.rms = rms * 1000.0;
    result.usedPoints = equations / 2;
    result.iterations = passes;
}

bool ResectImage(CProjectImage& image, const CCamera& camera, CPointSet& points,
                 const CProjectSettings& settings, CAdjustmentSummary& result)
{
    CVector solutions;
    const int code = SolveClosedFormResection(image, camera, points, solutions);
    if (code != kClosedFormSuccess) {
        result.status = code == kClosedFormTooFewPoints ? kResectionTooFewPoints : kResectionFailed;
        return false;
    }

    CProjectImage copyA(image), copyB(image);
    copyA.SetPosition(solutions[0], solutions[1], solutions[2]);
    copyB.SetPosition(solutions[6], solutions[7], solutions[8]);
    CAdjustmentSummary summaryA, summaryB;
    RefineResection(copyA, camera, points, settings, summaryA);
    RefineResection(copyB, camera, points, settings, summaryB);
    const double rmsA = summaryA.status == kResectionSuccess ? summaryA.rms : -1.0;
    const double rmsB = summaryB.status == kResectionSuccess ? summaryB.rms : -1.0;

    const CProjectImage* chosen = nullptr;
    const CAdjustmentSummary* summary = nullptr;
    if (rmsA < 0.0 && rmsB < 0.0) {
        result.status = kResectionFailed;
        return false;
    }
    if (rmsB < 0.0 || (rmsA >= 0.0 && rmsA <= rmsB)) {
        chosen = &copyA;
        summary = &summaryA;
    } else {
        chosen = &copyB;
        summary = &summaryB;
    }
    image.SetPosition(chosen->X, chosen->Y, chosen->Z);
    image.rotation = chosen->rotation;
    result.Copy(*summary);
    return true;
}
