#include "ClosedFormResection.h"

#include <cmath>
#include <utility>
#include <vector>

#include "Camera.h"
#include "ImageRays.h"
#include "PointSet.h"
#include "ProjectImage.h"
#include "Quartic.h"
#include "ThreePointGeometry.h"
#include "Vector.h"

namespace {

constexpr int kExhaustiveLimit = 50;

bool IsUsable(const CImageObservation& observation, CPointSet& points)
{
    return !observation.disabled && points.FindPoint(observation.label) != nullptr;
}

// Length of (xj - xi, yj - yi, 1) x (xk - xi, yk - yi, 1).
double TripleScore(const CImageObservation& i, const CImageObservation& j, const CImageObservation& k)
{
    const double u[3] = {j.x - i.x, j.y - i.y, 1.0};
    const double w[3] = {k.x - i.x, k.y - i.y, 1.0};
    const double cx = u[1] * w[2] - u[2] * w[1];
    const double cy = u[2] * w[0] - u[0] * w[2];
    const double cz = u[0] * w[1] - u[1] * w[0];
    return std::sqrt(cx * cx + cy * cy + cz * cz);
}

} // namespace

bool ChooseResectionTriple(CProjectImage& image, short triple[3], CPointSet& points)
{
    triple[0] = 0;
    triple[1] = 1;
    triple[2] = 2;
    CObservationList& targets = image.targets;
    const int count = targets.GetSize();
    std::vector<int> usable;
    for (int i = 0; i < count; ++i) {
        const CImageObservation* observation = targets.GetAt(i);
        if (observation && IsUsable(*observation, points))
            usable.push_back(i);
    }
    if (usable.size() < 2)
        return false;

    // Every scored triple beats the start, so the triple never names an
    // observation that is not usable while usable triples exist.
    double best = -1.0;
    // Keeps the triple a, b, c (positions in usable) when it scores best so far.
    auto consider = [&](int a, int b, int c) {
        const double score =
            TripleScore(*targets.GetAt(usable[a]), *targets.GetAt(usable[b]), *targets.GetAt(usable[c]));
        if (score > best) {
            best = score;
            triple[0] = static_cast<short>(usable[a]);
            triple[1] = static_cast<short>(usable[b]);
            triple[2] = static_cast<short>(usable[c]);
        }
    };
    const int n = static_cast<int>(usable.size());
    if (n <= kExhaustiveLimit) {
        for (int a = 0; a < n; ++a)
            for (int b = a + 1; b < n; ++b)
                for (int c = b + 1; c < n; ++c)
                    consider(a, b, c);
        return true;
    }

    int first = 0;
    double farthest = -1.0;
    for (int a = 0; a < n; ++a) {
        const CImageObservation& o = *targets.GetAt(usable[a]);
        const double r2 = o.x * o.x + o.y * o.y;
        if (r2 > farthest) {
            farthest = r2;
            first = a;
        }
    }
    for (int b = 0; b < n; ++b) {
        if (b == first)
            continue;
        for (int c = b + 1; c < n; ++c)
            if (c != first)
                consider(first, b, c);
    }
    return true;
}

namespace {

int SolveForTriple(CProjectImage& image, const CCamera& camera, CPointSet& points, CVector& solutions)
{
    if (image.CountObservedPoints(points) < 3)
        return kClosedFormTooFewPoints;
    short triple[3];
    if (!ChooseResectionTriple(image, triple, points))
        return kClosedFormTooFewPoints;

    const double c = camera.parameters[CAM_C];
    double rays[3][3], object[3][3];
    for (int i = 0; i < 3; ++i) {
        const CImageObservation* observation = image.targets.GetAt(triple[i]);
        if (!observation)
            return kClosedFormTooFewPoints;
        const CObjectPoint* point = points.FindPoint(observation->label);
        if (!point)
            return kClosedFormTooFewPoints;
        object[i][0] = point->x;
        object[i][1] = point->y;
        object[i][2] = point->z;
        double x = 0.0, y = 0.0;
        if (!CorrectedImageCoordinates(image, camera, *observation, x, y))
            return kClosedFormNoRoot;
        rays[i][0] = x;
        rays[i][1] = y;
        rays[i][2] = -c;
    }

    double coefficients[4], roots[4];
    if (!FormResectionQuartic(rays, object, c, coefficients))
        return kClosedFormNoRoot;
    const int count = SolveQuartic(coefficients, roots);
    if (count == 0)
        return kClosedFormNoRoot;

    // Nearest to t = -c first: the two ray factors most alike.
    for (int pass = 0; pass < count - 1; ++pass)
        for (int i = 0; i < count - 1 - pass; ++i)
            if (std::fabs(roots[i + 1] + c) < std::fabs(roots[i] + c))
                std::swap(roots[i], roots[i + 1]);

    solutions.Resize(12);
    for (int candidate = 0; candidate < 2; ++candidate) {
        const double t = roots[candidate < count ? candidate : 0];
        double ratio = 0.0;
        if (!SecondRayRatio(rays, object, c, t, ratio))
            return kClosedFormFitFailed;
        const double factor[3] = {1.0, -t / c, ratio};
        double cameraPoints[3][3];
        for (int i = 0; i < 3; ++i)
            for (int k = 0; k < 3; ++k)
                cameraPoints[i][k] = factor[i] * rays[i][k];
        double solution[6];
        if (!FitThreePointSimilarity(cameraPoints, object, solution))
            return kClosedFormFitFailed;
        for (int k = 0; k < 6; ++k)
            solutions[6 * candidate + k] = solution[k];
    }
    return kClosedFormSuccess;
}

} // namespace

int SolveClosedFormResection(CProjectImage& image, const CCamera& camera, CPointSet& points, CVector& solutions)
{
    // A degenerate triple may meet values that are not numbers on its way to
    // a failure code; the failure leaves the floating-point flags as they were.
    const CFloatingPointFlags flags;
    const int code = SolveForTriple(image, camera, points, solutions);
    if (code != kClosedFormSuccess)
        flags.Restore();
    return code;
}
