#include "GreyEllipseModel.h"

#include <cmath>
#include <vector>

#include "EllipseProjection.h"
#include "EllipseRecord.h"
#include "ImageObservation.h"
#include "ImageRowCache.h"
#include "ProjectImage.h"
#include "RegionGrid.h"
#include "Statistics.h"
#include "Camera.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kSqrt2Pi = 2.5066282746310002;

} // namespace

CGreyEllipseModel::CGreyEllipseModel()
{
    maxIterations = 15;
    divergenceLimit = 10000.0;
    wantCovariance = true;
    tolerance = 0.005;
}

void CGreyEllipseModel::SetWindow(const CRegionGrid& grid, bool tieBlur)
{
    window = &grid;
    tie = tieBlur;
    initialised = false;
}

int CGreyEllipseModel::CountWindowCells() const
{
    if (window == nullptr)
        return 0;
    int n = 0;
    for (int r = 1; r + 1 < window->GetRows(); ++r)
        for (int c = 1; c + 1 < window->GetColumns(); ++c)
            if (window->Get(r, c) != -1)
                ++n;
    return n;
}

int CGreyEllipseModel::GetObservationCount() const
{
    return CountWindowCells() + (tie ? 1 : 0);
}

bool CGreyEllipseModel::ComputeApproximations()
{
    if (window == nullptr)
        return false;
    const int rows = window->GetRows();
    const int cols = window->GetColumns();
    double total = 0.0;
    double edgeSum = 0.0;
    int edgeCount = 0;
    int largest = 0;
    bool any = false;
    for (int r = 1; r + 1 < rows; ++r)
        for (int c = 1; c + 1 < cols; ++c) {
            const int v = window->Get(r, c);
            if (v == -1)
                continue;
            total += v;
            if (window->Get(r - 1, c) == -1 || window->Get(r + 1, c) == -1 || window->Get(r, c - 1) == -1 ||
                window->Get(r, c + 1) == -1) {
                edgeSum += v;
                ++edgeCount;
            }
            if (!any || v > largest)
                largest = v;
            any = true;
        }
    if (edgeCount == 0 || total == 0.0)
        return false;
    const double g0 = edgeSum / edgeCount;
    double A = largest - g0;

    // Initial ellipse on the contour halfway between border and peak; cells
    // outside the region count as background.
    std::vector<int> table(static_cast<size_t>(rows) * static_cast<size_t>(cols));
    const int background = static_cast<int>(std::lround(g0));
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            const int v = window->Get(r, c);
            table[static_cast<size_t>(r) * cols + c] = v == -1 ? background : v;
        }
    CTargetEllipse initial;
    if (!initial.ComputeInitialEllipse(table.data(), cols, rows, g0 + 0.5 * A))
        return false;
    const double r1 = initial.major;
    const double r2 = initial.minor;
    const double radius = std::sqrt(r1 * r1 + r2 * r2);
    const double s = 3.38 / std::pow(radius, 1.1534);
    A = (0.364 * s + 0.8284) * A;
    const double k = 0.9998 - 0.214 * s;
    p[kA] = A;
    p[kS] = s;
    p[kX0] = initial.centreX;
    p[kY0] = initial.centreY;
    p[kSemiA] = k * r1;
    p[kSemiB] = k * r2;
    p[kTheta] = initial.rotation - kPi / 2.0;
    p[kG0] = g0;

    const int n = CountWindowCells();
    rowIndex.Resize(n);
    columnIndex.Resize(n);
    grey.Resize(n);
    int i = 0;
    for (int r = 1; r + 1 < rows; ++r)
        for (int c = 1; c + 1 < cols; ++c) {
            const int v = window->Get(r, c);
            if (v == -1)
                continue;
            rowIndex[i] = r;
            columnIndex[i] = c;
            grey[i] = v;
            ++i;
        }
    if (tie)
        tieValue = s;
    return true;
}

double CGreyEllipseModel::ModelGrey(double X, double Y) const
{
    const double ct = std::cos(p[kTheta]), st = std::sin(p[kTheta]);
    const double dx = X - p[kX0], dy = Y - p[kY0];
    const double u = dx * ct + dy * st;
    const double v = dy * ct - dx * st;
    const double a = p[kSemiA], b = p[kSemiB];
    const double d = 1.0 - (u * u / (a * a) + v * v / (b * b));
    return p[kG0] + p[kA] * NormalCdf(d, 0.0, p[kS]);
}

void CGreyEllipseModel::GetDesignRows(int i, CMatrix& A)
{
    A.Resize(1, kUnknowns);
    A.Zero();
    if (tie && i == observationCount - 1) {
        A.SetAt(1.0, 0, kS);
        return;
    }
    const double ct = std::cos(p[kTheta]), st = std::sin(p[kTheta]);
    const double dx = columnIndex[i] - p[kX0], dy = rowIndex[i] - p[kY0];
    const double u = dx * ct + dy * st;
    const double v = dy * ct - dx * st;
    const double a = p[kSemiA], b = p[kSemiB], s = p[kS], amp = p[kA];
    const double a2 = a * a, b2 = b * b;
    const double d = 1.0 - (u * u / a2 + v * v / b2);
    const double e = std::exp(-d * d / (2.0 * s * s));
    const double f = amp / (kSqrt2Pi * s) * e;
    A.SetAt(NormalCdf(d, 0.0, s), 0, kA);
    A.SetAt(-d * amp / (kSqrt2Pi * s * s) * e, 0, kS);
    A.SetAt(2.0 * f * (u * ct / a2 - v * st / b2), 0, kX0);
    A.SetAt(2.0 * f * (u * st / a2 + v * ct / b2), 0, kY0);
    A.SetAt(2.0 * f * u * u / (a2 * a), 0, kSemiA);
    A.SetAt(2.0 * f * v * v / (b2 * b), 0, kSemiB);
    A.SetAt(-2.0 * f * (u * v / a2 - u * v / b2), 0, kTheta);
    A.SetAt(1.0, 0, kG0);
}

void CGreyEllipseModel::GetSigma(int i, double& sigma)
{
    sigma = tie && i == observationCount - 1 ? 0.01 : 1.0;
}

void CGreyEllipseModel::GetMisclosures(int i, CVector& l)
{
    l.Resize(1);
    if (tie && i == observationCount - 1)
        l[0] = tieValue - p[kS];
    else
        l[0] = grey[i] - ModelGrey(columnIndex[i], rowIndex[i]);
}

bool CGreyEllipseModel::HasDiverged(double q)
{
    return q > divergenceLimit || p[kS] < 0.0;
}

void CGreyEllipseModel::ApplyCorrections()
{
    for (int k = 0; k < kUnknowns; ++k)
        p[k] += corrections[k];
}

bool CGreyEllipseModel::HasFiniteParameters() const
{
    for (double v : p)
        if (!std::isfinite(v))
            return false;
    return true;
}

void CGreyEllipseModel::OnCovariance()
{
    if (p[kSemiA] >= p[kSemiB])
        return;
    std::swap(p[kSemiA], p[kSemiB]);
    p[kTheta] -= kPi / 2.0;
    // Exchange rows and columns a and b of the covariance.
    const int n = normals.GetRows();
    for (int k = 0; k < n; ++k) {
        if (k == kSemiA || k == kSemiB)
            continue;
        const double t = normals.GetAt(k, kSemiA);
        normals.SetAt(normals.GetAt(k, kSemiB), k, kSemiA);
        normals.SetAt(t, k, kSemiB);
    }
    const double t = normals.GetAt(kSemiA, kSemiA);
    normals.SetAt(normals.GetAt(kSemiB, kSemiB), kSemiA, kSemiA);
    normals.SetAt(t, kSemiB, kSemiB);
}

bool CGreyEllipseModel::BuildTargetEllipse(CTargetEllipse& ellipse, const CCamera& camera, double originColumn,
                                           double originRow, double level) const
{
    double f = 1.0;
    if (level != -1.0 && p[kA] > 0.0) {
        const double t = Erf(1.0 / (std::sqrt(2.0) * p[kS]));
        const double prob = level * (1.0 + t) / 2.0;
        const double z = InverseErf(2.0 * prob - 1.0);
        f = std::sqrt(1.0 - std::sqrt(2.0) * z * p[kS]);
    }
    if (!ellipse.SetFromParameters(originColumn + p[kX0], originRow + p[kY0], f * p[kSemiA], f * p[kSemiB],
                                   p[kTheta] + kPi / 2.0))
        return false;
    if (covarianceReady) {
        const int index[5] = {kX0, kY0, kSemiA, kSemiB, kTheta};
        const double scale[5] = {1.0, 1.0, f, f, 1.0};
        CMatrix block(5, -1);
        for (int r = 0; r < 5; ++r)
            for (int c = r; c < 5; ++c)
                block.SetAt(normals.GetAt(index[r], index[c]) * scale[r] * scale[c], r, c);
        ellipse.SetCovariance(block);
    }
    return ComputeConicFrom(ellipse, camera);
}

// ---------------------------------------------------------------------------

CTargetEllipseFitter::CTargetEllipseFitter(CProjectImage& img, const CCamera& cam, CImageRowCache& rows)
    : image(img), camera(cam), rowSource(rows), region(new CRegionGrid(&rows))
{
}

CTargetEllipseFitter::~CTargetEllipseFitter()
{
    delete region;
}

bool CTargetEllipseFitter::ExtractWindow(const CImageObservation& observation)
{
    double column = 0.0, row = 0.0;
    camera.ImageToPixel(observation.x, observation.y, column, row);
    if (!std::isfinite(column) || !std::isfinite(row) || std::fabs(column) > 1e9 || std::fabs(row) > 1e9)
        return false;
    return region->GrowFromSeed(static_cast<int>(std::floor(column + 0.5)), static_cast<int>(std::floor(row + 0.5)),
                                0.2);
}

bool CTargetEllipseFitter::FitTarget(CTargetEllipse& ellipse)
{
    if (!region->Expand(4, true))
        return false;
    {
        CGreyEllipseModel model;
        model.SetWindow(*region, false);
        if (model.Solve())
            return model.BuildTargetEllipse(ellipse, camera, region->columnOrigin, region->rowOrigin, 0.54);
    }
    CGreyEllipseModel tied;
    tied.SetWindow(*region, true);
    if (tied.Solve())
        return tied.BuildTargetEllipse(ellipse, camera, region->columnOrigin, region->rowOrigin, 0.54);
    return false;
}

void CTargetEllipseFitter::Run()
{
    const int count = image.targets.GetSize();
    for (int i = 0; i < count; ++i) {
        current = image.GetObservationAt(i);
        if (current == nullptr)
            continue;
        current->DeleteEllipse();
        if (!ExtractWindow(*current))
            continue;
        CTargetEllipse ellipse;
        if (FitTarget(ellipse))
            current->SetEllipse(ellipse);
    }
    current = nullptr;
}
