// Scale bars: one weighted scale factor applied after a free-network
// adjustment, or distance observations inside the normal equations.
#include <cmath>
#include <vector>

#include "AdjustmentEngine.h"
#include "PackedNormals.h"
#include "AdjustmentSummary.h"
#include "ObjectPoint.h"
#include "PointSet.h"
#include "ProjectImage.h"
#include "ProjectImageList.h"
#include "ProjectSettings.h"
#include "ScaleBar.h"

namespace {

int UsedRays(const CPointSet& points, int index)
{
    return index >= 0 ? points.GetAt(index)->usedRayCount : 0;
}

} // namespace

// Both ends present, distinct and with at least the minimum of used rays.
bool CAdjustmentEngine::ScaleBarUsable(const CScaleBar& bar, int& a, int& b) const
{
    a = points->IndexOfLabel(bar.endLabel1);
    b = points->IndexOfLabel(bar.endLabel2);
    const int minimum = settings->minimumRays > 0 ? settings->minimumRays : 1;
    return a >= 0 && b >= 0 && a != b && UsedRays(*points, a) >= minimum && UsedRays(*points, b) >= minimum;
}

int CAdjustmentEngine::CountUsableScaleBars() const
{
    if (scaleBars == nullptr)
        return 0;
    int count = 0;
    for (int k = 0; k < scaleBars->GetSize(); ++k) {
        int a = -1, b = -1;
        if (const CScaleBar* bar = scaleBars->GetAt(k))
            count += ScaleBarUsable(*bar, a, b) ? 1 : 0;
    }
    return count;
}

bool CAdjustmentEngine::AddScaleBarEquations(int& equations)
{
    progress.phase = PHASE_RIGOROUS_SCALING;
    equations = 0;
    if (scaleBars == nullptr)
        return false;
    if (scaleBars->GetSize() == 0) {
        scaleBars->scalingResult = -1;
        return false;
    }
    const int base = 10 * cameras->GetSize();
    const SystemRows S = ReducedRows();
    for (int k = 0; k < scaleBars->GetSize(); ++k) {
        CScaleBar* bar = scaleBars->GetAt(k);
        if (bar == nullptr)
            continue;
        int ia = -1, ib = -1;
        const bool usable = ScaleBarUsable(*bar, ia, ib);
        bar->rays1 = UsedRays(*points, ia);
        bar->rays2 = UsedRays(*points, ib);
        const CObjectPoint* A = ia >= 0 ? points->GetAt(ia) : nullptr;
        const CObjectPoint* B = ib >= 0 ? points->GetAt(ib) : nullptr;
        double d[3] = {0.0, 0.0, 0.0};
        double len = 0.0;
        if (usable) {
            d[0] = B->x - A->x;
            d[1] = B->y - A->y;
            d[2] = B->z - A->z;
            len = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        }
        if (!usable || !(len > 0.0) || !std::isfinite(len)) {
            bar->rejected = true;
            continue;
        }
        bar->rejected = false;
        bar->adjustedLength = len;
        // A sigma at or below the unset value (bars read without their
        // database record) weighs like a sigma of 0.
        const double w = bar->standardDeviation > kBarSigmaUnset ? 1.0 / bar->standardDeviation : 1.0;
        double gB[3], gA[3];
        for (int a = 0; a < 3; ++a) {
            gB[a] = w / len * d[a];
            gA[a] = -gB[a];
        }
        const double l = (len - bar->calibratedLength) * w;
        const int pa = base + 3 * ia;
        const int pb = base + 3 * ib;
        for (int r = 0; r < 3; ++r) {
            for (int c = r; c < 3; ++c) {
                *S.At(pa + r, pa + c) += gA[r] * gA[c];
                *S.At(pb + r, pb + c) += gB[r] * gB[c];
            }
            for (int c = 0; c < 3; ++c)
                *S.At(pa + r, pb + c) += gA[r] * gB[c];
            S.Rhs(pa + r) += gA[r] * l;
            S.Rhs(pb + r) += gB[r] * l;
        }
        S.SquareSum() += l * l;
        summary->vv += l * l;
        ++equations;
    }
    // "Rigorous" only when a bar entered the system.
    scaleBars->scalingResult = equations > 0 ? 2 : 0;
    return true;
}

bool CAdjustmentEngine::PostBundleScaling()
{
    if (scaleBars == nullptr)
        return false;
    if (scaleBars->GetSize() == 0) {
        scaleBars->scalingResult = -1;
        return false;
    }
    std::vector<double> distance(static_cast<size_t>(scaleBars->GetSize()), 0.0);
    double sumW = 0.0;
    double sumWR = 0.0;
    int used = 0;
    for (int k = 0; k < scaleBars->GetSize(); ++k) {
        CScaleBar* bar = scaleBars->GetAt(k);
        if (bar == nullptr)
            continue;
        const int ia = points->IndexOfLabel(bar->endLabel1);
        const int ib = points->IndexOfLabel(bar->endLabel2);
        bar->rays1 = UsedRays(*points, ia);
        bar->rays2 = UsedRays(*points, ib);
        if (ia < 0 || ib < 0 || bar->rays1 < 2 || bar->rays2 < 2) {
            bar->rejected = true;
            continue;
        }
        const CObjectPoint* A = points->GetAt(ia);
        const CObjectPoint* B = points->GetAt(ib);
        const double d = std::sqrt((B->x - A->x) * (B->x - A->x) + (B->y - A->y) * (B->y - A->y) +
                                   (B->z - A->z) * (B->z - A->z));
        if (!(d > 0.0) || !std::isfinite(d) || !(bar->calibratedLength > 0.0)) {
            bar->rejected = true;
            continue;
        }
        bar->rejected = false;
        const double r = bar->calibratedLength / d;
        const double w = (d / r) * (d / r);
        sumW += w;
        sumWR += w * r;
        distance[static_cast<size_t>(k)] = d;
        ++used;
    }
    if (used == 0 || !(sumW > 0.0)) {
        scaleBars->scalingResult = 0;
        return false;
    }
    const double s = sumWR / sumW;
    for (int k = 0; k < scaleBars->GetSize(); ++k)
        if (CScaleBar* bar = scaleBars->GetAt(k))
            bar->adjustedLength = s * distance[static_cast<size_t>(k)];

    for (int i = 0; i < points->GetSize(); ++i) {
        CObjectPoint* point = points->GetAt(i);
        point->x *= s;
        point->y *= s;
        point->z *= s;
        point->limitingCovariance.Scale(s * s);
        point->covariance.Scale(s * s);
    }
    for (int j = 0; j < images->GetSize(); ++j) {
        CProjectImage* image = images->GetAt(j);
        image->X *= s;
        image->Y *= s;
        image->Z *= s;
        CMatrix& cov = image->GetCovariance();
        if (cov.GetRows() != 6)
            continue;
        for (int a = 0; a < 3; ++a) {
            for (int b = a; b < 3; ++b)
                *cov.GetElementPtr(a, b) *= s * s;
            for (int b = 3; b < 6; ++b)
                *cov.GetElementPtr(a, b) *= s;
        }
    }
    scaleBars->scalingResult = 1;
    return true;
}
