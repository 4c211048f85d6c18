#include "Intersection.h"

#include <algorithm>
#include <cmath>
#include <vector>

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

int RayCount(const CObjectPoint& point, const CDynArray<CProjectImage>& images)
{
    const int n = images.GetSize();
    return n < point.observationIndex.GetSize() ? n : point.observationIndex.GetSize();
}

// The images a point's rays are looked for in, in ascending order: the
// images its index table has an entry for, or the images of a given list
// (those with an entry), which visits the same rays in the same order.
class CRayImages {
public:
    CRayImages(const CObjectPoint& point, const CDynArray<CProjectImage>& images)
    {
        const int n = RayCount(point, images);
        for (const CRayIndex::Entry& e : point.observationIndex)
            if (e.image < n)
                owned.push_back(e.image);
        list = owned.data();
        count = static_cast<int>(owned.size());
    }
    CRayImages(const CRayImages&) = delete;
    CRayImages& operator=(const CRayImages&) = delete;
    CRayImages(const int32_t* observing, int observingCount)
        : list(observing), count(observing != nullptr && observingCount > 0 ? observingCount : 0)
    {
    }
    int Size() const { return count; }
    int operator[](int k) const { return list ? list[k] : k; }

private:
    std::vector<int32_t> owned;
    const int32_t* list = nullptr;
    int count = 0;
};

// An image's orientation: its rotation and its projection centre.
struct Station {
    double R[3][3];
    double X0[3];
};

// A ray of the point: its image, its observation, the image's camera and
// orientation, and the observation's corrected coordinates once they are
// needed. They do not change during one intersection, so they are found once
// per ray, not once per pass. The orientation is read where it is kept (the
// engine's station cache, or the collection's own copies).
struct Ray {
    Ray() {} // (every member is set by AddRay and the station's link)
    const CProjectImage* image;
    CImageObservation* observation;
    const CCamera* camera;
    const double (*R)[3];
    const double* X0;
    double x, y;
    int corrected; // 0: not yet asked, 1: x and y hold them, -1: they cannot be had
};

void AddRay(std::vector<Ray>& rays, const CProjectImage* image, CImageObservation* observation,
            const CCamera* camera)
{
    // Each observation lies elsewhere in memory: fetched ahead, the rays'
    // misses overlap.
    PrefetchObservation(observation);
    rays.emplace_back();
    Ray& ray = rays.back();
    ray.image = image;
    ray.observation = observation;
    ray.camera = camera;
    ray.x = ray.y = 0.0;
    ray.corrected = 0;
}

// The station as the image holds it.
void SetStation(Station& station, const CProjectImage& image)
{
    image.GetRotation(station.R);
    station.X0[0] = image.X;
    station.X0[1] = image.Y;
    station.X0[2] = image.Z;
}

void LinkStation(Ray& ray, const Station& station)
{
    ray.R = station.R;
    ray.X0 = station.X0;
}

// The stations of the collected rays, kept per thread like the rays.
std::vector<Station>& StationScratch()
{
    thread_local std::vector<Station> stations;
    return stations;
}

// The rays of the point over the given images, in their order: entries that
// name an observation of an image whose camera is in the list. Rejected
// observations are kept; their flag is read where the rays are used, since
// the intersection rejects rays as it goes.
void CollectRays(const CObjectPoint& point, const CDynArray<CProjectImage>& images, const CCameraList& cameras,
                 const CRayImages& order, std::vector<Ray>& rays)
{
    rays.clear();
    std::vector<Station>& stations = StationScratch();
    stations.clear();
    for (int k = 0; k < order.Size(); ++k) {
        const int i = order[k];
        if (i < 0 || i >= images.GetSize() || i >= point.observationIndex.GetSize())
            continue;
        const CProjectImage* image = images.GetAt(i);
        const int index = point.observationIndex[i];
        if (!image || index < 0 || index >= image->targets.GetSize())
            continue;
        CImageObservation* observation = image->targets.GetAt(index);
        const CCamera* camera = observation ? FindImageCamera(*image, cameras) : nullptr;
        if (camera) {
            AddRay(rays, image, observation, camera);
            stations.emplace_back();
            SetStation(stations.back(), *image);
        }
    }
    // (Linked once both are complete: neither moves any more.)
    for (size_t k = 0; k < rays.size(); ++k)
        LinkStation(rays[k], stations[k]);
}

// The same from the engine's lists: each ray's observation and its image's
// cached station.
void CollectListedRays(const CAdjustmentEngine::StationCache* stations, const int32_t* images,
                       CImageObservation* const* observations, int count, std::vector<Ray>& rays)
{
    rays.clear();
    for (int k = 0; k < count; ++k) {
        const CAdjustmentEngine::StationCache& s = stations[images[k]];
        if (observations[k] == nullptr || s.image == nullptr || s.camera == nullptr)
            continue;
        AddRay(rays, s.image, observations[k], s.camera);
        Ray& ray = rays.back();
        ray.R = s.R;
        ray.X0 = s.X0;
    }
}

// The observation untransformed and corrected for distortion, as
// CorrectedImageCoordinates gives it; computed at the first call.
bool Corrected(Ray& ray)
{
    if (ray.corrected == 0) {
        double x = 0.0, y = 0.0;
        ray.corrected = CorrectedImageCoordinates(*ray.image, *ray.camera, *ray.observation, x, y) ? 1 : -1;
        ray.x = x;
        ray.y = y;
    }
    return ray.corrected > 0;
}

// Index in rays of the usable ray with the largest residual among those over
// the limit in x or y; the first of equal ones. -1 when none.
int WorstRay(const std::vector<Ray>& rays, double limit)
{
    int worst = -1;
    double largest = -1.0;
    for (size_t k = 0; k < rays.size(); ++k) {
        const CImageObservation* o = rays[k].observation;
        if (o->rejected)
            continue;
        if (std::fabs(o->vx) > limit || std::fabs(o->vy) > limit) {
            const double length = std::sqrt(o->vx * o->vx + o->vy * o->vy);
            if (length > largest) {
                largest = length;
                worst = static_cast<int>(k);
            }
        }
    }
    return worst;
}

// The two rows of the ray's block: derivatives of the residual with respect
// to X, Y, Z, then the residual, measured minus computed. ProjectRay and
// FormRayBlock's arithmetic on the ray's cached data; false when the
// observation cannot be corrected, the point lies in the image plane, or a
// value is not finite.
bool RayRows(const CObjectPoint& point, Ray& ray, double row0[kRayColumns], double row1[kRayColumns])
{
    if (!Corrected(ray))
        return false;
    const double c = ray.camera->parameters[CAM_C];
    const double(*R)[3] = ray.R;
    const double d[3] = {point.x - ray.X0[0], point.y - ray.X0[1], point.z - ray.X0[2]};
    const double depth = ray::Dot(R[2], d);
    if (!(depth != 0.0) || !std::isfinite(depth))
        return false;
    const double w = 1.0 / depth;
    const double U = w * ray::Dot(R[0], d);
    const double V = w * ray::Dot(R[1], d);
    const double k = c * w;
    for (int j = 0; j < 3; ++j) {
        row0[j] = (R[0][j] - U * R[2][j]) * k;
        row1[j] = (R[1][j] - V * R[2][j]) * k;
    }
    row0[3] = ray.x + c * U;
    row1[3] = ray.y + c * V;
    for (int j = 0; j < kRayColumns; ++j)
        if (!std::isfinite(row0[j]) || !std::isfinite(row1[j]))
            return false;
    return true;
}

// The ray block of CAdjustmentEngine::FormRayEquations with the camera found.
bool FormRayBlock(const CObjectPoint& point, const CProjectImage& image, const CCamera& camera,
                  CImageObservation& observation, CMatrix& block)
{
    std::vector<Ray> one;
    AddRay(one, &image, &observation, &camera);
    Ray& ray = one.back();
    Station station;
    SetStation(station, image);
    LinkStation(ray, station);
    double row0[kRayColumns], row1[kRayColumns];
    return RayRows(point, ray, row0, row1) && StoreRayRows(row0, row1, kRayColumns, observation, block);
}

} // namespace

bool CAdjustmentEngine::FormRayEquations(const CObjectPoint& point, const CProjectImage& image,
                                         const CCameraList& cameras, CImageObservation& observation, CMatrix& block)
{
    const CCamera* camera = FindImageCamera(image, cameras);
    return camera && FormRayBlock(point, image, *camera, observation, block);
}

namespace {

// The start value from those of the rays that are not rejected and belong to
// an enabled image.
bool Approximate(CObjectPoint& point, std::vector<Ray>& candidates)
{
    double normal[kPointSystemSize] = {};
    auto at = [&normal](int r, int s) -> double& { return normal[r * 4 - r * (r - 1) / 2 + s - r]; };
    double stationSum = 0.0;
    int rays = 0;
    for (Ray& ray : candidates) {
        const CImageObservation* observation = ray.observation;
        const CProjectImage* image = ray.image;
        if (observation->rejected || !image->enabled)
            continue;
        const CCamera* camera = ray.camera;
        if (!Corrected(ray))
            continue;
        const double x = ray.x, y = ray.y;
        const double c = camera->parameters[CAM_C];
        if (!(c != 0.0))
            continue;
        const double(*R)[3] = ray.R;
        // Every point P of the ray has a . (P - X0) = 0 and b . (P - X0) = 0.
        double a[3], b[3];
        for (int j = 0; j < 3; ++j) {
            a[j] = R[0][j] + (x / c) * R[2][j];
            b[j] = R[1][j] + (y / c) * R[2][j];
        }
        const double* X0 = ray.X0;
        const double aX = ray::Dot(a, X0), bX = ray::Dot(b, X0);
        for (int r = 0; r < 3; ++r) {
            for (int s = r; s < 3; ++s)
                at(r, s) = at(r, s) + a[r] * a[s] + b[r] * b[s];
            at(r, 3) = at(r, 3) + a[r] * aX + b[r] * bX;
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
    at(3, 3) = 2.0 * stationSum + 1.0;
    double solution[3] = {};
    if (!std::isfinite(stationSum) || !SolvePointNormalsRootFree(normal, solution))
        return false;
    if (!std::isfinite(solution[0]) || !std::isfinite(solution[1]) || !std::isfinite(solution[2]))
        return false;
    point.x = solution[0];
    point.y = solution[1];
    point.z = solution[2];
    return true;
}

// The point's sigmas set to zero: its covariance, in the packed 3 x 3 form
// it is kept in, cleared directly.
void ClearSigmas(CObjectPoint& point)
{
    CMatrix& c = point.covariance;
    if (c.GetRows() != 3 || !c.IsSymmetric()) {
        point.SetSigmaX(0.0);
        point.SetSigmaY(0.0);
        point.SetSigmaZ(0.0);
        return;
    }
    double* const* row = c.GetRowTable();
    row[0][0] = row[0][1] = row[0][2] = 0.0;
    row[1][0] = row[1][1] = 0.0;
    row[2][0] = 0.0;
}

// The intersection of the point from its rays (collected; the vector is
// worked on).
bool Intersect(double& rms, CObjectPoint& point, const CProjectSettings& settings, int pass, std::vector<Ray>& rays)
{
    const CFloatingPointFlags flags;
    // The passes use the rays that the start value uses: those of enabled images.
    rays.erase(std::remove_if(rays.begin(), rays.end(), [](const Ray& ray) { return !ray.image->enabled; }),
               rays.end());
    const double entry[3] = {point.x, point.y, point.z};
    auto restoreEntry = [&]() {
        point.x = entry[0];
        point.y = entry[1];
        point.z = entry[2];
    };

    if (pass == 0 || point.unsolved) {
        if (!Approximate(point, rays)) {
            point.unsolved = true;
            flags.Restore();
            return false;
        }
    }

    ClearSigmas(point);
    rms = 0.0;
    int passes = 0;
    int increases = 0;
    int totalPasses = 0;
    enum { kRunning, kSuccess, kFailure } state = kRunning;

    double normal[kPointSystemSize];
    double lastNormal[kPointSystemSize] = {};
    double s0 = 0.0;

    while (state == kRunning) {
        std::fill(normal, normal + kPointSystemSize, 0.0);
        const double previous = rms;
        ++passes;
        point.usedRayCount = 0;
        int equations = 0;
        bool finite = true;
        for (size_t k = 0; k < rays.size() && finite; ++k) {
            Ray& ray = rays[k];
            if (ray.observation->rejected)
                continue;
            equations += 2;
            point.usedRayCount += 1;
            double row0[kRayColumns], row1[kRayColumns];
            if (!RayRows(point, ray, row0, row1)) {
                finite = false;
            } else {
                ray.observation->vx = row0[3];
                ray.observation->vy = row1[3];
                AddPointRay(normal, row0, row1);
            }
        }
        if (finite && equations < settings.minimumRays) {
            restoreEntry();
            point.unsolved = false;
            return false;
        }

        const double sum = normal[kPointSystemSize - 1];
        if (finite && equations > 0) {
            rms = std::sqrt(sum / equations);
            s0 = equations > 3 ? std::sqrt(sum / (equations - 3)) : 0.0;
        }
        std::copy(normal, normal + kPointSystemSize, lastNormal);
        if (pass > 0) {
            normal[0] += kHoldWeight;
            normal[4] += kHoldWeight;
            normal[7] += kHoldWeight;
        }
        double correction[3];
        if (!finite || !std::isfinite(rms) || !SolvePointNormals(normal, correction)) {
            state = kFailure;
            break;
        }
        point.x -= correction[0];
        point.y -= correction[1];
        point.z -= correction[2];

        if (std::fabs(previous - rms) < settings.triangulationConvergenceLimit) {
            const int worst = WorstRay(rays, settings.rejectionLimit);
            if (worst < 0) {
                state = kSuccess;
            } else if (passes >= settings.triangulationMaxIterations) {
                state = kFailure;
            } else {
                rays[static_cast<size_t>(worst)].observation->rejected = true;
                point.usedRayCount -= 1;
                passes = 0;
                if (equations - 2 < 4) {
                    state = kFailure;
                } else if (pass == 0 && !Approximate(point, rays)) {
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
        double inverse[6];
        if (InvertPointNormals(lastNormal, inverse)) {
            const double sx = s0 * std::sqrt(inverse[0]);
            const double sy = s0 * std::sqrt(inverse[3]);
            const double sz = s0 * std::sqrt(inverse[5]);
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

// The rays of one intersection, kept per thread from point to point.
std::vector<Ray>& RayScratch()
{
    thread_local std::vector<Ray> rays;
    return rays;
}

} // namespace

bool CAdjustmentEngine::ApproximatePoint(CObjectPoint& point, CProjectImageList& images, const CCameraList& cameras)
{
    return ApproximatePoint(point, images.GetArray(), cameras);
}

bool CAdjustmentEngine::ApproximatePoint(CObjectPoint& point, const CDynArray<CProjectImage>& images,
                                         const CCameraList& cameras)
{
    std::vector<Ray>& rays = RayScratch();
    CollectRays(point, images, cameras, CRayImages(point, images), rays);
    return Approximate(point, rays);
}

bool CAdjustmentEngine::IntersectPoint(double& rms, CObjectPoint& point, CProjectImageList& images,
                                       const CCameraList& cameras, const CProjectSettings& settings, int pass)
{
    return IntersectPoint(rms, point, images.GetArray(), cameras, settings, pass);
}

bool CAdjustmentEngine::IntersectPoint(double& rms, CObjectPoint& point, const CDynArray<CProjectImage>& images,
                                       const CCameraList& cameras, const CProjectSettings& settings, int pass)
{
    std::vector<Ray>& rays = RayScratch();
    CollectRays(point, images, cameras, CRayImages(point, images), rays);
    return Intersect(rms, point, settings, pass, rays);
}

bool ApproximatePointOnImages(CObjectPoint& point, const CDynArray<CProjectImage>& images,
                              const CCameraList& cameras, const int32_t* observing, int observingCount)
{
    std::vector<Ray>& rays = RayScratch();
    CollectRays(point, images, cameras, CRayImages(observing, observingCount), rays);
    return Approximate(point, rays);
}

bool IntersectPointOnImages(double& rms, CObjectPoint& point, const CDynArray<CProjectImage>& images,
                            const CCameraList& cameras, const CProjectSettings& settings, int pass,
                            const int32_t* observing, int observingCount)
{
    std::vector<Ray>& rays = RayScratch();
    CollectRays(point, images, cameras, CRayImages(observing, observingCount), rays);
    return Intersect(rms, point, settings, pass, rays);
}

bool IntersectListedRays(double& rms, CObjectPoint& point, const CProjectSettings& settings, int pass,
                         const CAdjustmentEngine::StationCache* stations, const int32_t* images,
                         CImageObservation* const* observations, int count)
{
    std::vector<Ray>& rays = RayScratch();
    CollectListedRays(stations, images, observations, count, rays);
    return Intersect(rms, point, settings, pass, rays);
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
