#include "ImageTransform.h"

#include <cmath>
#include <vector>

#include "Camera.h"
#include "ImageObservation.h"
#include "Matrix.h"
#include "ProjectImage.h"
#include "Vector.h"

void Affine2DForward(const double a[6], double& x, double& y)
{
    const double xn = a[0] * x + a[1] * y + a[2];
    const double yn = a[3] * x + a[4] * y + a[5];
    x = xn;
    y = yn;
}

bool Affine2DInverse(const double a[6], double& x, double& y)
{
    const double D = a[0] * a[4] - a[1] * a[3];
    if (D == 0.0 || !std::isfinite(D)) return false;
    const double u = x - a[2], v = y - a[5];
    const double xn = (a[4] * u - a[1] * v) / D;
    const double yn = (a[0] * v - a[3] * u) / D;
    if (!std::isfinite(xn) || !std::isfinite(yn)) return false;
    x = xn;
    y = yn;
    return true;
}

void Similarity2DForward(const double a[4], double& x, double& y)
{
    const double xn = a[0] * x + a[1] * y + a[2];
    const double yn = -a[1] * x + a[0] * y + a[3];
    x = xn;
    y = yn;
}

bool Similarity2DInverse(const double a[4], double& x, double& y)
{
    const double D = a[0] * a[0] + a[1] * a[1];
    if (D == 0.0 || !std::isfinite(D)) return false;
    const double u = x - a[2], v = y - a[3];
    const double xn = (a[0] * u - a[1] * v) / D;
    const double yn = (a[1] * u + a[0] * v) / D;
    if (!std::isfinite(xn) || !std::isfinite(yn)) return false;
    x = xn;
    y = yn;
    return true;
}

// ---------------------------------------------------------------------------
// Observations and fits


bool ApplyAffine2D(CImageObservation& o, const CVector& a)
{
    if (a.GetSize() != 6) return false;
    Affine2DForward(a.GetData(), o.x, o.y);
    return true;
}

bool ApplyAffine2DInverse(CImageObservation& o, const CVector& a)
{
    if (a.GetSize() != 6) return false;
    return Affine2DInverse(a.GetData(), o.x, o.y);
}

bool ApplySimilarity2D(CImageObservation& o, const CVector& a)
{
    if (a.GetSize() != 4) return false;
    Similarity2DForward(a.GetData(), o.x, o.y);
    return true;
}

bool ApplySimilarity2DInverse(CImageObservation& o, const CVector& a)
{
    if (a.GetSize() != 4) return false;
    return Similarity2DInverse(a.GetData(), o.x, o.y);
}

void FillAffine2DRows(CMatrix& rows, const CImageObservation& observed, const CImageObservation& mark)
{
    if (rows.GetRows() != 2 || rows.GetCols() != 7) rows.Resize(2, 7);
    const double r0[7] = {mark.x, mark.y, 1.0, 0.0, 0.0, 0.0, observed.x};
    const double r1[7] = {0.0, 0.0, 0.0, mark.x, mark.y, 1.0, observed.y};
    for (int j = 0; j < 7; ++j) {
        rows.SetAt(r0[j], 0, j);
        rows.SetAt(r1[j], 1, j);
    }
}

void FillSimilarity2DRows(CMatrix& rows, const CImageObservation& observed, const CImageObservation& mark)
{
    if (rows.GetRows() != 2 || rows.GetCols() != 5) rows.Resize(2, 5);
    const double r0[5] = {mark.x, mark.y, 1.0, 0.0, observed.x};
    const double r1[5] = {mark.y, -mark.x, 0.0, 1.0, observed.y};
    for (int j = 0; j < 5; ++j) {
        rows.SetAt(r0[j], 0, j);
        rows.SetAt(r1[j], 1, j);
    }
}

namespace {

enum class Kind { Affine, Similarity };

int ComputeResiduals(CProjectImage& image, const CCamera& camera, double& sum, Kind kind)
{
    const int size = kind == Kind::Affine ? 6 : 4;
    if (image.transformation.GetSize() != size) return -1;
    const double* a = image.transformation.GetData();
    int used = 0;
    for (int i = 0; i < image.fiducials.GetSize(); ++i) {
        CImageObservation* o = image.fiducials.GetAt(i);
        const CImageObservation* mark = camera.FindFiducial(o->label);
        if (mark == nullptr) continue;
        double x = mark->x, y = mark->y;
        if (kind == Kind::Affine)
            Affine2DForward(a, x, y);
        else
            Similarity2DForward(a, x, y);
        o->vx = x - o->x;
        o->vy = y - o->y;
        sum += o->vx * o->vx + o->vy * o->vy;
        ++used;
    }
    return used;
}

// True when the points span the plane (affine) or are not all one point
// (similarity), judged against their own spread. Applied to the calibrated
// marks and to the measured points alike: either set degenerate would give a
// transformation that cannot be inverted.
bool MarksAreUsable(const std::vector<const CImageObservation*>& marks, Kind kind)
{
    const double n = static_cast<double>(marks.size());
    double mx = 0.0, my = 0.0;
    for (const CImageObservation* m : marks) {
        mx += m->x;
        my += m->y;
    }
    mx /= n;
    my /= n;
    double sxx = 0.0, syy = 0.0, sxy = 0.0;
    for (const CImageObservation* m : marks) {
        const double dx = m->x - mx, dy = m->y - my;
        sxx += dx * dx;
        syy += dy * dy;
        sxy += dx * dy;
    }
    const double trace = sxx + syy;
    if (!(trace > 0.0) || !std::isfinite(trace)) return false;
    if (kind == Kind::Similarity) return true;
    // The smaller principal spread must not vanish against the larger.
    const double det = sxx * syy - sxy * sxy;
    return det > 1e-12 * trace * trace;
}

double Fit(CProjectImage& image, const CCamera& camera, Kind kind)
{
    const int u = kind == Kind::Affine ? 6 : 4;
    const int w = u + 1;
    CMatrix normal(w, -1);
    normal.Zero();
    CMatrix rows(2, w);
    std::vector<const CImageObservation*> marks;
    std::vector<const CImageObservation*> measured;
    int m = 0;
    for (int i = 0; i < image.fiducials.GetSize(); ++i) {
        const CImageObservation* o = image.fiducials.GetAt(i);
        const CImageObservation* mark = camera.FindFiducial(o->label);
        if (mark == nullptr) continue;
        if (!std::isfinite(o->x) || !std::isfinite(o->y) || !std::isfinite(mark->x) || !std::isfinite(mark->y))
            return -1.0;
        if (kind == Kind::Affine)
            FillAffine2DRows(rows, *o, *mark);
        else
            FillSimilarity2DRows(rows, *o, *mark);
        normal.AddAtA(rows, 1);
        marks.push_back(mark);
        measured.push_back(o);
        m += 2;
    }
    if (m < u || !MarksAreUsable(marks, kind) || !MarksAreUsable(measured, kind)) return -1.0;
    normal.SetAt(normal.GetAt(u, u) + 10000.0, u, u);
    CVector solution(u);
    if (!normal.CholeskyDecompose() || !normal.SolveAugmentedCholesky(solution)) return -1.0;
    if (solution.GetSize() != u) return -1.0;
    for (int i = 0; i < u; ++i)
        if (!std::isfinite(solution[i])) return -1.0;

    image.transformation = solution;
    double sum = 0.0;
    ComputeResiduals(image, camera, sum, kind);
    return m > u ? std::sqrt(sum / (m - u)) : 0.0;
}

} // namespace

double FitAffine2D(CProjectImage& image, const CCamera& camera)
{
    return Fit(image, camera, Kind::Affine);
}

double FitSimilarity2D(CProjectImage& image, const CCamera& camera)
{
    return Fit(image, camera, Kind::Similarity);
}

int ComputeAffine2DResiduals(CProjectImage& image, const CCamera& camera, double& sum)
{
    return ComputeResiduals(image, camera, sum, Kind::Affine);
}

int ComputeSimilarity2DResiduals(CProjectImage& image, const CCamera& camera, double& sum)
{
    return ComputeResiduals(image, camera, sum, Kind::Similarity);
}
