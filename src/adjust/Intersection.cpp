#include "Intersection.h"

#include <cmath>

#include "Camera.h"
#include "DynArray.h"
#include "ImageRays.h"
#include "Matrix.h"
#include "NormalEquations.h"
#include "ObjectPoint.h"
#include "ProjectImage.h"
#include "ProjectImageList.h"
#include "ProjectSettings.h"
#include "RayGeometry.h"
#include "Vector.h"

namespace {

// Holds the point still in a later bundle pass.
constexpr double kHoldWeight = 1e32;
// Passes of one intersection after which the point is given up. The rules of
// the intersection end every well-behaved point long before.
constexpr int kPassLimit = 1000;
// Columns of a ray block: X, Y, Z and the residual.
constexpr int kRayColumns = 4;

// The observation of ray i of the point: its index entry names an
// observation of image i that is not rejected. Null otherwise, also for
// entries outside the lists.
CImageObservation* RayObservation(const CObjectPoint& point, const CDynArray<CProjectImage>& images, int i)
{
    if (i < 0 || i >= images.GetSize() || i >= point.observationIndex.GetSize())
        return nullptr;
    const CProjectImage* image = images.GetAt(i);
    const int index = point.observationIndex[i];
    if (!image || index < 0 || index >= image->targets.GetSize())
        return nullptr;
    CImageObservation* observation = image->targets.GetAt(index);
    if (!observation || observation->rejected)
        return nullptr;
    return observation;
}

int RayCount(const CObjectPoint& point, const CDynArray<CProjectImage>& images)
{
    const int n = images.GetSize();
    return n < point.observationIndex.GetSize() ? n : point.observationIndex.GetSize();
}

// The images a point's rays are looked for in, in ascending order: every
// entry of its index table, or only the images of a given list (those whose
// entries are not -1), which visits the same rays in the same order.
class CRayImages {
public:
    CRayImages(const CObjectPoint& point, const CDynArray<CProjectImage>& images)
        : list(nullptr), count(RayCount(point, images))
    {
    }
    CRayImages(const int32_t* observing, int observingCount)
        : list(observing), count(observing != nullptr && observingCount > 0 ? observingCount : 0)
    {
    }
    int Size() const { return count; }
    int operator[](int k) const { return list ? list[k] : k; }

private:
    const int32_t* list;
    int count;
};

// Index of the usable ray with the largest residual among those over the
// limit in x or y; the first of equal ones. -1 when none.
int WorstRay(const CObjectPoint& point, const CDynArray<CProjectImage>& images, const CCameraList& cameras,
             double limit, const CRayImages& rays)
{
    int worst = -1;
    double largest = -1.0;
    for (int k = 0; k < rays.Size(); ++k) {
        const int i = rays[k];
        const CImageObservation* o = RayObservation(point, images, i);
        if (!o || !FindImageCamera(*images.GetAt(i), cameras))
            continue;
        if (std::fabs(o->vx) > limit || std::fabs(o->vy) > limit) {
            const double length = std::sqrt(o->vx * o->vx + o->vy * o->vy);
            if (length > largest) {
                largest = length;
                worst = i;
            }
        }
    }
    return worst;
}

} // namespace

bool CAdjustmentEngine::FormRayEquations(const CObjectPoint& point, const CProjectImage& image,
                                         const CCameraList& cameras, CImageObservation& observation, CMatrix& block)
{
    const CCamera* camera = FindImageCamera(image, cameras);
    if (!camera)
        return false;
    double x = 0.0, y = 0.0;
    if (!CorrectedImageCoordinates(image, *camera, observation, x, y))
        return false;
    const double c = camera->parameters[CAM_C];
    double R[3][3];
    image.GetRotation(R);
    const double d[3] = {point.x - image.X, point.y - image.Y, point.z - image.Z};
    const double depth = ray::Dot(R[2], d);
    if (!(depth != 0.0) || !std::isfinite(depth))
        return false;
    const double w = 1.0 / depth;
    const double U = w * ray::Dot(R[0], d);
    const double V = w * ray::Dot(R[1], d);
    const double k = c * w;
    double row0[kRayColumns], row1[kRayColumns];
    for (int j = 0; j < 3; ++j) {
        row0[j] = (R[0][j] - U * R[2][j]) * k;
        row1[j] = (R[1][j] - V * R[2][j]) * k;
    }
    row0[3] = x + c * U;
    row1[3] = y + c * V;
    for (int j = 0; j < kRayColumns; ++j)
        if (!std::isfinite(row0[j]) || !std::isfinite(row1[j]))
            return false;
    for (int j = 0; j < kRayColumns; ++j) {
        block.SetAt(row0[j], 0, j);
        block.SetAt(row1[j], 1, j);
    }
    observation.vx = row0[3];
    observation.vy = row1[3];
    return true;
}

namespace {

bool Approximate(CObjectPoint& point, const CDynArray<CProjectImage>& images, const CCameraList& cameras,
                 const CRayImages& rayImages)
{
    CMatrix normal(4, -1);
    double stationSum = 0.0;
    int rays = 0;
    for (int k = 0; k < rayImages.Size(); ++k) {
        const int i = rayImages[k];
        const CImageObservation* observation = RayObservation(point, images, i);
        if (!observation)
            continue;
        const CProjectImage* image = images.GetAt(i);
        if (!image->enabled)
            continue;
        const CCamera* camera = FindImageCamera(*image, cameras);
        double x = 0.0, y = 0.0;
        if (!camera || !CorrectedImageCoordinates(*image, *camera, *observation, x, y))
            continue;
        const double c = camera->parameters[CAM_C];
        if (!(c != 0.0))
            continue;
        double R[3][3];
        image->GetRotation(R);
        // Every point P of the ray has a . (P - X0) = 0 and b . (P - X0) = 0.
        double a[3], b[3];
        for (int j = 0; j < 3; ++j) {
            a[j] = R[0][j] + (x / c) * R[2][j];
            b[j] = R[1][j] + (y / c) * R[2][j];
        }
        const double X0[3] = {image->X, image->Y, image->Z};
        const double aX = ray::Dot(a, X0), bX = ray::Dot(b, X0);
        for (int r = 0; r < 3; ++r) {
            for (int s = r; s < 3; ++s)
                normal.SetAt(normal.GetAt(r, s) + a[r] * a[s] + b[r] * b[s], r, s);
            normal.SetAt(normal.GetAt(r, 3) + a[r] * aX + b[r] * bX, r, 3);
        }
        stationSum += aX * aX + bX * bX;
        ++rays;
    }
    if (rays < 2)
        return false;

    // The last element does not enter the solution. Left at zero it makes the
    // root-free factorisation fail for a point at the coordinate origin (its
    // reduced value is then exactly zero); above the sum of the squared
    // right-hand values its reduced value stays positive.
    normal.SetAt(2.0 * stationSum + 1.0, 3, 3);
    if (!std::isfinite(stationSum) || !normal.LdltDecompose())
        return false;
    CVector solution(3);
    normal.SolveAugmentedUnit(solution);
    if (!std::isfinite(solution[0]) || !std::isfinite(solution[1]) || !std::isfinite(solution[2]))
        return false;
    point.x = solution[0];
    point.y = solution[1];
    point.z = solution[2];
    return true;
}

bool Intersect(double& rms, CObjectPoint& point, const CDynArray<CProjectImage>& images,
               const CCameraList& cameras, const CProjectSettings& settings, int pass, const CRayImages& rays)
{
    const CFloatingPointFlags flags;
    const double entry[3] = {point.x, point.y, point.z};
    auto restoreEntry = [&]() {
        point.x = entry[0];
        point.y = entry[1];
        point.z = entry[2];
    };

    if (pass == 0 || point.unsolved) {
        if (!Approximate(point, images, cameras, rays)) {
            point.unsolved = true;
            flags.Restore();
            return false;
        }
    }

    point.SetSigmaX(0.0);
    point.SetSigmaY(0.0);
    point.SetSigmaZ(0.0);
    rms = 0.0;
    int passes = 0;
    int increases = 0;
    int totalPasses = 0;
    enum { kRunning, kSuccess, kFailure } state = kRunning;

    CMatrix normal(4, -1);
    CMatrix lastNormal;
    CMatrix block(2, 4);
    double s0 = 0.0;

    while (state == kRunning) {
        normal.Zero();
        const double previous = rms;
        ++passes;
        point.usedRayCount = 0;
        int equations = 0;
        bool finite = true;
        for (int k = 0; k < rays.Size() && finite; ++k) {
            const int i = rays[k];
            CImageObservation* observation = RayObservation(point, images, i);
            if (!observation || !FindImageCamera(*images.GetAt(i), cameras))
                continue;
            equations += 2;
            point.usedRayCount += 1;
            if (!CAdjustmentEngine::FormRayEquations(point, *images.GetAt(i), cameras, *observation, block))
                finite = false;
            else
                normal.AddAtA(block, 1);
        }
        if (finite && equations < settings.minimumRays) {
            restoreEntry();
            point.unsolved = false;
            return false;
        }

        const double sum = normal.GetAt(3, 3);
        if (finite && equations > 0) {
            rms = std::sqrt(sum / equations);
            s0 = equations > 3 ? std::sqrt(sum / (equations - 3)) : 0.0;
        }
        lastNormal = normal;
        if (pass > 0)
            for (int j = 0; j < 3; ++j)
                normal.SetAt(normal.GetAt(j, j) + kHoldWeight, j, j);
        CVector correction(3);
        if (!finite || !std::isfinite(rms) || !SolveNormalEquations(normal, 3, correction)) {
            state = kFailure;
            break;
        }
        point.x -= correction[0];
        point.y -= correction[1];
        point.z -= correction[2];

        if (std::fabs(previous - rms) < settings.triangulationConvergenceLimit) {
            const int worst = WorstRay(point, images, cameras, settings.rejectionLimit, rays);
            if (worst < 0) {
                state = kSuccess;
            } else if (passes >= settings.triangulationMaxIterations) {
                state = kFailure;
            } else {
                RayObservation(point, images, worst)->rejected = true;
                point.usedRayCount -= 1;
                passes = 0;
                if (equations - 2 < 4) {
                    state = kFailure;
                } else if (pass == 0 && !Approximate(point, images, cameras, rays)) {
                    point.unsolved = false;
                    flags.Restore();
                    return false;
                }
            }
        }
        if (previous < rms)
            ++increases;
        if (state == kRunning && (increases > 5 || ++totalPasses >= kPassLimit))
            state = kFailure;
    }

    if (state == kSuccess && pass == 0) {
        CMatrix inverse;
        if (InvertNormalMatrix(lastNormal, 3, inverse)) {
            const double sx = s0 * std::sqrt(inverse.GetAt(0, 0));
            const double sy = s0 * std::sqrt(inverse.GetAt(1, 1));
            const double sz = s0 * std::sqrt(inverse.GetAt(2, 2));
            if (std::isfinite(sx) && std::isfinite(sy) && std::isfinite(sz)) {
                point.SetSigmaX(sx);
                point.SetSigmaY(sy);
                point.SetSigmaZ(sz);
            } else {
                state = kFailure;
            }
        } else {
            state = kFailure;
        }
    }

    if (state == kFailure) {
        restoreEntry();
        point.unsolved = true;
        flags.Restore();
        return false;
    }
    if (pass > 0 || point.updated)
        restoreEntry();
    return true;
}

} // namespace

bool CAdjustmentEngine::ApproximatePoint(CObjectPoint& point, CProjectImageList& images, const CCameraList& cameras)
{
    return ApproximatePoint(point, images.GetArray(), cameras);
}

bool CAdjustmentEngine::ApproximatePoint(CObjectPoint& point, const CDynArray<CProjectImage>& images,
                                         const CCameraList& cameras)
{
    return Approximate(point, images, cameras, CRayImages(point, images));
}

bool CAdjustmentEngine::IntersectPoint(double& rms, CObjectPoint& point, CProjectImageList& images,
                                       const CCameraList& cameras, const CProjectSettings& settings, int pass)
{
    return IntersectPoint(rms, point, images.GetArray(), cameras, settings, pass);
}

bool CAdjustmentEngine::IntersectPoint(double& rms, CObjectPoint& point, const CDynArray<CProjectImage>& images,
                                       const CCameraList& cameras, const CProjectSettings& settings, int pass)
{
    return Intersect(rms, point, images, cameras, settings, pass, CRayImages(point, images));
}

bool ApproximatePointOnImages(CObjectPoint& point, const CDynArray<CProjectImage>& images,
                              const CCameraList& cameras, const int32_t* observing, int observingCount)
{
    return Approximate(point, images, cameras, CRayImages(observing, observingCount));
}

bool IntersectPointOnImages(double& rms, CObjectPoint& point, const CDynArray<CProjectImage>& images,
                            const CCameraList& cameras, const CProjectSettings& settings, int pass,
                            const int32_t* observing, int observingCount)
{
    return Intersect(rms, point, images, cameras, settings, pass, CRayImages(observing, observingCount));
}

bool IntersectTwoRays(CObjectPoint& point, int observation1, int observation2, const CProjectImage& image1,
                      const CProjectImage& image2, const CCameraList& cameras, double minimumAngle)
{
    const CFloatingPointFlags flags;
    const CProjectImage* images[2] = {&image1, &image2};
    const int indices[2] = {observation1, observation2};
    double D[2][3], X0[2][3];
    for (int k = 0; k < 2; ++k) {
        const CProjectImage& image = *images[k];
        const CImageObservation* observation = image.GetObservationAt(indices[k]);
        const CCamera* camera = FindImageCamera(image, cameras);
        double x = 0.0, y = 0.0;
        if (!observation || !camera || !CorrectedImageCoordinates(image, *camera, *observation, x, y))
            return false;
        double R[3][3];
        image.GetRotation(R);
        const double direction[3] = {x, y, -camera->parameters[CAM_C]};
        ray::MultiplyTransposed(R, direction, D[k]);
        const double length = ray::Norm(D[k]);
        if (!(length > 0.0) || !std::isfinite(length))
            return false;
        for (double& v : D[k])
            v /= length;
        X0[k][0] = image.X;
        X0[k][1] = image.Y;
        X0[k][2] = image.Z;
    }

    double n[3];
    ray::Cross(D[0], D[1], n);
    const double sine = ray::Norm(n);
    const double angle = std::asin(sine < 1.0 ? sine : 1.0);
    if (!(angle >= minimumAngle))
        return false;

    CVector c0(3), c1(3), c2(3);
    for (int j = 0; j < 3; ++j) {
        c0[j] = D[0][j];
        c1[j] = D[1][j];
        c2[j] = n[j];
    }
    CMatrix system;
    if (!system.SetColumns(c0, c1, c2) || !system.Invert3x3())
        return false;
    double b[3];
    ray::Subtract(X0[0], X0[1], b);
    double t[3];
    for (int i = 0; i < 3; ++i)
        t[i] = system.GetAt(i, 0) * b[0] + system.GetAt(i, 1) * b[1] + system.GetAt(i, 2) * b[2];
    if (!(t[0] < 0.0) || !(t[1] > 0.0))
        return false;

    double P[3];
    for (int j = 0; j < 3; ++j)
        P[j] = ((X0[0][j] - t[0] * D[0][j]) + (X0[1][j] + t[1] * D[1][j])) / 2.0;
    if (!ray::IsFinite(P)) {
        flags.Restore();
        return false;
    }
    point.x = P[0];
    point.y = P[1];
    point.z = P[2];
    return true;
}

bool ProjectPointToImage(const CObjectPoint& point, const CProjectImage& image, const CCamera& camera,
                         CImageObservation& result, double fraction)
{
    const CFloatingPointFlags flags;
    double R[3][3];
    image.GetRotation(R);
    const double d[3] = {point.x - image.X, point.y - image.Y, point.z - image.Z};
    double u[3];
    ray::Multiply(R, d, u);
    if (!(u[2] < 0.0))
        return false;
    const double c = camera.parameters[CAM_C];
    const double x = -(c / u[2]) * u[0];
    const double y = -(c / u[2]) * u[1];
    if (!std::isfinite(x) || !std::isfinite(y)) {
        flags.Restore();
        return false;
    }
    result.x = x;
    result.y = y;

    // Coarse test on whole pixels, then the distortion, then the fine test.
    if (!(camera.XPixelSize > 0.0) || !(camera.YPixelSize > 0.0))
        return false;
    if (std::floor(std::fabs(x / camera.XPixelSize)) > camera.XPixels ||
        std::floor(std::fabs(y / camera.YPixelSize)) > camera.YPixels)
        return false;
    if (!ApplyDistortion(result, camera)) {
        flags.Restore();
        return false;
    }
    if (!(std::fabs(result.x / camera.XPixelSize) <= camera.XPixels * fraction * 0.5) ||
        !(std::fabs(result.y / camera.YPixelSize) <= camera.YPixels * fraction * 0.5))
        return false;
    image.TransformObservation(result);
    return true;
}
