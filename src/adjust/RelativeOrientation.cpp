#include "RelativeOrientation.h"

#include <array>
#include <cmath>

#include <newmat/newmat.h>
#include <newmat/newmatap.h>

#include "AdjustmentEngine.h"
#include "Camera.h"
#include "GeodesicSphere.h"
#include "ImageRays.h"
#include "Intersection.h"
#include "Matrix.h"
#include "NewmatLock.h"
#include "ObjectPoint.h"
#include "PointSet.h"
#include "ProjectImage.h"
#include "ProjectSettings.h"
#include "RayGeometry.h"

namespace {

// Radius of the sphere of start positions and its subdivision passes.
constexpr double kStartRadius = 1000.0;
constexpr int kStartPasses = 2;
// Two solutions are the same candidate within these differences.
constexpr double kSamePosition = 0.1;
constexpr double kSameAngle = 0.03;
// A candidate's triangulation RMS must be below this to be chosen, mm.
constexpr double kWorstRms = 10000.0;
// Smallest intersection angle of a common point, radians.
constexpr double kMinimumAngle = 1e-5;
// The reduced system counts as singular when its smallest singular value,
// after scaling to a unit diagonal, is below this fraction of the largest.
constexpr double kSingularRatio = 1e-12;
// Parameters of the orientation: bx, by, bz, azimuth, elevation, roll.
constexpr int kParameters = 6;

struct Mat3 {
    double m[3][3];
};

Mat3 Product(const double a[3][3], const double b[3][3])
{
    Mat3 r{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            r.m[i][j] = a[i][0] * b[0][j] + a[i][1] * b[1][j] + a[i][2] * b[2][j];
    return r;
}

// a b c'
Mat3 ProductTransposed(const double a[3][3], const double b[3][3], const double c[3][3])
{
    Mat3 bc{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            bc.m[i][j] = b[i][0] * c[j][0] + b[i][1] * c[j][1] + b[i][2] * c[j][2];
    return Product(a, bc.m);
}

// u M v for the row u and the column v.
double Bilinear(const double u[3], const double M[3][3], const double v[3])
{
    double s = 0.0;
    for (int i = 0; i < 3; ++i)
        s += u[i] * (M[i][0] * v[0] + M[i][1] * v[1] + M[i][2] * v[2]);
    return s;
}

// Solves the symmetric system K x = rhs of small order through Newmat's
// singular value decomposition after scaling K to a unit diagonal where it
// has one (constraint rows, whose diagonal is zero, are scaled by the length
// of their scaled row). False when K is singular or numerically so.
bool SolveReduced(const std::vector<double>& K, const std::vector<double>& rhs, int order, std::vector<double>& x)
{
    auto at = [&](int i, int j) { return K[static_cast<std::size_t>(i * order + j)]; };
    std::vector<double> scale(static_cast<std::size_t>(order), 0.0);
    for (int i = 0; i < kParameters; ++i) {
        const double d = at(i, i);
        if (!(d > 0.0) || !std::isfinite(d))
            return false;
        scale[static_cast<std::size_t>(i)] = 1.0 / std::sqrt(d);
    }
    for (int i = kParameters; i < order; ++i) {
        double s = 0.0;
        for (int j = 0; j < kParameters; ++j) {
            const double v = at(i, j) * scale[static_cast<std::size_t>(j)];
            s += v * v;
        }
        if (!(s > 0.0) || !std::isfinite(s))
            return false;
        scale[static_cast<std::size_t>(i)] = 1.0 / std::sqrt(s);
    }

    NewmatLock lock;
    NEWMAT::Matrix A(order, order);
    NEWMAT::ColumnVector b(order);
    for (int i = 0; i < order; ++i) {
        const double si = scale[static_cast<std::size_t>(i)];
        b(i + 1) = si * rhs[static_cast<std::size_t>(i)];
        for (int j = 0; j < order; ++j)
            A(i + 1, j + 1) = si * at(i, j) * scale[static_cast<std::size_t>(j)];
    }
    NEWMAT::DiagonalMatrix D;
    NEWMAT::Matrix U, V;
    NEWMAT::SVD(A, D, U, V);
    double largest = 0.0, smallest = HUGE_VAL;
    for (int i = 1; i <= order; ++i) {
        largest = std::max(largest, D(i));
        smallest = std::min(smallest, D(i));
    }
    if (!(largest > 0.0) || !(smallest > kSingularRatio * largest))
        return false;
    NEWMAT::ColumnVector w = U.t() * b;
    for (int i = 1; i <= order; ++i)
        w(i) /= D(i);
    const NEWMAT::ColumnVector y = V * w;
    x.assign(static_cast<std::size_t>(order), 0.0);
    for (int i = 0; i < order; ++i) {
        x[static_cast<std::size_t>(i)] = scale[static_cast<std::size_t>(i)] * y(i + 1);
        if (!std::isfinite(x[static_cast<std::size_t>(i)]))
            return false;
    }
    return true;
}

struct SavedPose {
    double X, Y, Z;
    CMatrix rotation;
    bool oriented;

    explicit SavedPose(const CProjectImage& image)
        : X(image.X), Y(image.Y), Z(image.Z), rotation(image.rotation), oriented(image.oriented)
    {
    }
    void Restore(CProjectImage& image) const
    {
        image.SetPosition(X, Y, Z);
        image.rotation = rotation;
        image.oriented = oriented;
    }
};

} // namespace

CRelativeOrientation::CRelativeOrientation(CProjectImage& first, CProjectImage& second, CCamera& camera1,
                                           CCamera& camera2, CPointSet& set, double length)
    : firstImage(first), secondImage(second), firstCamera(camera1), secondCamera(camera2), points(set),
      baseLength(length)
{
}

void CRelativeOrientation::SetBase(double x, double y, double z)
{
    bx = x;
    by = y;
    bz = z;
}

void CRelativeOrientation::GetBase(double b[3]) const
{
    b[0] = bx;
    b[1] = by;
    b[2] = bz;
}

int CRelativeOrientation::CountCommonPoints()
{
    common.clear();
    const CObservationList& list1 = firstImage.targets;
    for (int i = 0; i < list1.GetSize(); ++i) {
        const CImageObservation* o1 = list1.GetAt(i);
        if (!o1 || o1->disabled || o1->fiducial)
            continue;
        const int k = secondImage.targets.FindIndex(o1->label);
        const CImageObservation* o2 = k >= 0 ? secondImage.targets.GetAt(k) : nullptr;
        if (!o2 || o2->disabled || o2->fiducial)
            continue;
        CommonPoint p{i, k, 0.0, 0.0, 0.0, 0.0};
        // The coordinates enter as the intersection takes them; a point whose
        // coordinates cannot be corrected takes no part.
        if (!CorrectedImageCoordinates(firstImage, firstCamera, *o1, p.x1, p.y1) ||
            !CorrectedImageCoordinates(secondImage, secondCamera, *o2, p.x2, p.y2))
            continue;
        common.push_back(p);
    }
    commonPointCount = static_cast<int>(common.size());
    return commonPointCount;
}

bool CRelativeOrientation::IterateStep()
{
    const CFloatingPointFlags flags;
    double R1[3][3], R2[3][3];
    firstImage.GetRotation(R1);
    secondImage.GetRotation(R2);
    const double B[3][3] = {{0.0, bz, -by}, {-bz, 0.0, bx}, {by, -bx, 0.0}};
    const Mat3 E = ProductTransposed(R1, B, R2);

    const double a = secondImage.GetAzimuth();
    const double e = secondImage.GetElevation();
    const double r = secondImage.GetRoll();
    double dA[3][3], dE[3][3], dR[3][3];
    ray::RotationDerivatives(a, e, r, dA, dE, dR);
    static const double Dx[3][3] = {{0, 0, 0}, {0, 0, 1}, {0, -1, 0}};
    static const double Dy[3][3] = {{0, 0, -1}, {0, 0, 0}, {1, 0, 0}};
    static const double Dz[3][3] = {{0, 1, 0}, {-1, 0, 0}, {0, 0, 0}};
    const Mat3 derivative[kParameters] = {ProductTransposed(R1, Dx, R2), ProductTransposed(R1, Dy, R2),
                                          ProductTransposed(R1, Dz, R2), ProductTransposed(R1, B, dA),
                                          ProductTransposed(R1, B, dE), ProductTransposed(R1, B, dR)};

    const int n = commonHeld ? commonPointCount : CountCommonPoints();
    // Fewer conditions than unknowns (five free ones besides the base
    // length): the system is singular.
    if (n < kParameters - 1)
        return false;

    // The condition matrix of the observations times its transpose is
    // diagonal (each condition holds its own four coordinates), so every
    // correlate k_i = -(w_i + a_i d) / m_i is eliminated in closed form.
    // What remains is the 6x6 normal system of the corrections d bordered by
    // the conditions that have no observation part: the base length and any
    // condition whose diagonal m_i is zero.
    double N[kParameters][kParameters] = {};
    double t[kParameters] = {};
    std::vector<std::array<double, kParameters + 1>> constraints;
    constraints.push_back({bx, by, bz, 0.0, 0.0, 0.0, 0.0});
    const double c1 = firstCamera.parameters[CAM_C];
    const double c2 = secondCamera.parameters[CAM_C];
    struct Row {
        double a[kParameters];
        double w, m;
    };
    std::vector<Row> rows(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        const CommonPoint& p = common[static_cast<std::size_t>(i)];
        const double u[3] = {p.x1, p.y1, -c1};
        const double v[3] = {p.x2, p.y2, -c2};
        double Ev[2], uE[2];
        for (int k = 0; k < 2; ++k) {
            Ev[k] = E.m[k][0] * v[0] + E.m[k][1] * v[1] + E.m[k][2] * v[2];
            uE[k] = u[0] * E.m[0][k] + u[1] * E.m[1][k] + u[2] * E.m[2][k];
        }
        Row& row = rows[static_cast<std::size_t>(i)];
        row.m = Ev[0] * Ev[0] + Ev[1] * Ev[1] + uE[0] * uE[0] + uE[1] * uE[1];
        row.w = Bilinear(u, E.m, v);
        for (int j = 0; j < kParameters; ++j)
            row.a[j] = Bilinear(u, derivative[j].m, v);
        if (row.m > 0.0) {
            const double f = 1.0 / row.m;
            for (int j = 0; j < kParameters; ++j) {
                const double aj = row.a[j] * f;
                t[j] += aj * row.w;
                for (int l = j; l < kParameters; ++l)
                    N[j][l] += aj * row.a[l];
            }
        } else {
            std::array<double, kParameters + 1> c{};
            for (int j = 0; j < kParameters; ++j)
                c[static_cast<std::size_t>(j)] = row.a[j];
            c[kParameters] = row.w;
            constraints.push_back(c);
        }
    }

    // [N C'; C 0] [d; l] = [-t; -w_c]
    const int order = kParameters + static_cast<int>(constraints.size());
    std::vector<double> K(static_cast<std::size_t>(order * order), 0.0);
    std::vector<double> rhs(static_cast<std::size_t>(order), 0.0);
    auto at = [&](int i, int j) -> double& { return K[static_cast<std::size_t>(i * order + j)]; };
    for (int j = 0; j < kParameters; ++j) {
        rhs[static_cast<std::size_t>(j)] = -t[j];
        for (int l = j; l < kParameters; ++l)
            at(j, l) = at(l, j) = N[j][l];
    }
    for (std::size_t c = 0; c < constraints.size(); ++c) {
        const int i = kParameters + static_cast<int>(c);
        rhs[static_cast<std::size_t>(i)] = -constraints[c][kParameters];
        for (int j = 0; j < kParameters; ++j)
            at(i, j) = at(j, i) = constraints[c][static_cast<std::size_t>(j)];
    }

    std::vector<double> x;
    bool solved = false;
    try {
        solved = SolveReduced(K, rhs, order, x);
    } catch (const RBD_COMMON::BaseException&) {
        solved = false;
    }
    if (!solved) {
        flags.Restore();
        return false;
    }

    // Residuals of the observations: r_i = Bo_i' k_i, so r'r = sum m_i k_i^2.
    double rr = 0.0;
    for (const Row& row : rows) {
        if (!(row.m > 0.0))
            continue;
        double s = row.w;
        for (int j = 0; j < kParameters; ++j)
            s += row.a[j] * x[static_cast<std::size_t>(j)];
        rr += s * s / row.m;
    }

    bx += x[0];
    by += x[1];
    bz += x[2];
    azimuth = a + x[3];
    elevation = e + x[4];
    roll = r + x[5];
    secondImage.SetRotation(azimuth, elevation, roll);
    correction = 0.0;
    for (int j = 0; j < kParameters; ++j)
        correction += x[static_cast<std::size_t>(j)] * x[static_cast<std::size_t>(j)];
    sigma0 = n > kParameters - 1 ? std::sqrt(rr / (n + 1 - kParameters)) : 0.0;
    return true;
}

void CRelativeOrientation::ReverseBase()
{
    secondImage.SetPosition(2.0 * firstImage.X - secondImage.X, 2.0 * firstImage.Y - secondImage.Y,
                            2.0 * firstImage.Z - secondImage.Z);
}

void CRelativeOrientation::FlipRotation()
{
    double b[3] = {secondImage.X - firstImage.X, secondImage.Y - firstImage.Y, secondImage.Z - firstImage.Z};
    const double length = ray::Norm(b);
    if (!(length > 0.0) || !std::isfinite(length))
        return;
    for (double& v : b)
        v /= length;
    double R[3][3];
    secondImage.GetRotation(R);
    // The half turn about b: 2 b b' - I.
    double H[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            H[i][j] = 2.0 * b[i] * b[j] - (i == j ? 1.0 : 0.0);
    const Mat3 turned = Product(R, H);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            secondImage.rotation.SetAt(turned.m[i][j], i, j);
}

bool CRelativeOrientation::Converge()
{
    bool converged = false;
    for (int iteration = 1; iteration <= kMaxIterations; ++iteration) {
        if (!IterateStep())
            break;
        if (correction < kConvergenceLimit) {
            converged = true;
            break;
        }
    }
    const double length = std::sqrt(bx * bx + by * by + bz * bz);
    if (!converged || !(length > 0.0) || !std::isfinite(length))
        return false;
    const double f = baseLength / length;
    secondImage.SetPosition(firstImage.X + f * bx, firstImage.Y + f * by, firstImage.Z + f * bz);
    return true;
}

bool CRelativeOrientation::IntersectCommonPoints()
{
    points.RemoveAll();
    CCameraList cameras;
    cameras.AddCopy(firstCamera);
    cameras.AddCopy(secondCamera);
    if (!commonHeld)
        CountCommonPoints();
    for (const CommonPoint& p : common) {
        CObjectPoint* point = points.AddNew();
        point->label = firstImage.targets.GetAt(p.first)->label;
        if (!IntersectTwoRays(*point, p.first, p.second, firstImage, secondImage, cameras, kMinimumAngle))
            return false;
    }
    return true;
}

CProjectImageList CRelativeOrientation::Solve()
{
    CProjectImageList accepted;
    const CMatrix entryRotation1 = firstImage.rotation;
    const CMatrix entryRotation2 = secondImage.rotation;

    secondImage.rotation = firstImage.rotation;
    firstImage.SetPose(0.0, 0.0, 0.0, 0.0, 0.0, 0.0);
    bx = secondImage.X;
    by = secondImage.Y;
    bz = secondImage.Z;
    secondImage.SetRotation(secondImage.GetAzimuth(), secondImage.GetElevation(), secondImage.GetRoll());

    // The observations do not change while one orientation runs: its steps
    // and intersections share one gathering of the common points.
    CountCommonPoints();
    struct Hold {
        bool& flag;
        explicit Hold(bool& f) : flag(f) { flag = true; }
        ~Hold() { flag = false; }
    } hold(commonHeld);

    if (Converge()) {
        for (int trial = 0; trial < 4; ++trial) {
            if (trial == 1 || trial == 3) {
                ReverseBase();
            } else if (trial == 2) {
                // The twisted configuration, refined before it is tested and
                // compared: the half turn is exact only for an exact solution.
                FlipRotation();
                bx = secondImage.X - firstImage.X;
                by = secondImage.Y - firstImage.Y;
                bz = secondImage.Z - firstImage.Z;
                if (!Converge())
                    break;
            }
            if (IntersectCommonPoints())
                accepted.AddCopy(secondImage);
        }
    }

    points.RemoveAll();
    firstImage.rotation = entryRotation1;
    secondImage.rotation = entryRotation2;
    return accepted;
}

double CRelativeOrientation::CandidateRms(const CProjectImage& candidate) const
{
    // The two images are copies, so that the triangulation leaves the
    // caller's observations (residuals and rejections) alone.
    CProjectImage image1(firstImage);
    CProjectImage image2(candidate);
    CImagePtrArray images;
    images.Add(&image1);
    images.Add(&image2);
    CCameraList cameras;
    cameras.AddCopy(firstCamera);
    cameras.AddCopy(secondCamera);
    CProjectSettings settings;
    settings.rejectionLimit = 1000.0;
    images.ClearResidualsAndRejections();

    double sum = 0.0;
    int count = 0;
    for (int i = 0; i < image1.targets.GetSize(); ++i) {
        const CImageObservation* o1 = image1.targets.GetAt(i);
        if (!o1 || o1->disabled)
            continue;
        const int k = image2.targets.FindIndex(o1->label);
        if (k < 0 || image2.targets.GetAt(k)->disabled)
            continue;
        CObjectPoint point(o1->label);
        point.observationIndex.SetSize(2);
        point.observationIndex[0] = i;
        point.observationIndex[1] = k;
        point.rayCount = point.usedRayCount = 2;
        double rms = 0.0;
        if (CAdjustmentEngine::IntersectPoint(rms, point, images, cameras, settings, 0)) {
            sum += rms * rms;
            ++count;
        }
    }
    return count > 0 ? std::sqrt(sum / count) : -1.0;
}

bool CRelativeOrientation::Run()
{
    const SavedPose entry1(firstImage);
    const SavedPose entry2(secondImage);
    bool found = false;
    try {
        firstImage.SetPose(0.0, 0.0, 0.0, 0.0, 0.0, 0.0);
        firstImage.oriented = true;
        secondImage.oriented = true;

        std::vector<std::array<double, 3>> starts;
        {
            NewmatLock lock;
            CGeodesicSphere sphere(0.0, 0.0, 0.0, kStartRadius);
            CNewmatMatrixArray vertices = sphere.GenerateVertices(kStartPasses);
            for (int i = 0; i < vertices.GetSize(); ++i) {
                const NEWMAT::Matrix& v = *vertices.GetAt(i);
                starts.push_back({v(1, 1), v(2, 1), v(3, 1)});
            }
        }

        CProjectImageList candidates;
        for (const auto& start : starts) {
            secondImage.SetPose(start[0], start[1], start[2], 0.0, 0.0, 0.0);
            CProjectImageList solutions = Solve();
            for (int s = 0; s < solutions.GetSize(); ++s) {
                const CProjectImage& p = *solutions.GetAt(s);
                bool known = false;
                for (int c = 0; c < candidates.GetSize() && !known; ++c) {
                    const CProjectImage& q = *candidates.GetAt(c);
                    known = std::fabs(p.X - q.X) <= kSamePosition && std::fabs(p.Y - q.Y) <= kSamePosition &&
                            std::fabs(p.Z - q.Z) <= kSamePosition &&
                            std::fabs(p.GetAzimuth() - q.GetAzimuth()) <= kSameAngle &&
                            std::fabs(p.GetElevation() - q.GetElevation()) <= kSameAngle &&
                            std::fabs(p.GetRoll() - q.GetRoll()) <= kSameAngle;
                }
                if (!known)
                    candidates.AddCopy(p);
            }
        }

        // The candidate whose triangulation fits best; one that intersects
        // no point (RMS -1) is never chosen.
        double best = kWorstRms;
        int chosen = -1;
        for (int c = 0; c < candidates.GetSize(); ++c) {
            const double rms = CandidateRms(*candidates.GetAt(c));
            if (rms >= 0.0 && rms < best) {
                best = rms;
                chosen = c;
            }
        }
        if (chosen >= 0) {
            const CProjectImage& winner = *candidates.GetAt(chosen);
            secondImage.SetPosition(winner.X, winner.Y, winner.Z);
            secondImage.rotation = winner.rotation;
            secondImage.SetRotation(secondImage.GetAzimuth(), secondImage.GetElevation(), secondImage.GetRoll());
            IntersectCommonPoints();
            found = true;
        }
    } catch (const RBD_COMMON::BaseException&) {
        found = false;
    }
    if (!found) {
        entry1.Restore(firstImage);
        entry2.Restore(secondImage);
    }
    return found;
}

void FillNewmatMatrix(NEWMAT::Matrix& m, double value)
{
    m = value;
}

void CopyToNewmat(const CMatrix& source, NEWMAT::Matrix& target)
{
    const int rows = source.GetRows();
    const int cols = source.IsSymmetric() ? rows : source.GetCols();
    target.ReSize(rows, cols);
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j)
            target(i + 1, j + 1) = source.GetAt(i, j);
}

void CopyFromNewmat(const NEWMAT::Matrix& source, CMatrix& target)
{
    const int rows = source.Nrows();
    const int cols = source.Ncols();
    if (target.IsSymmetric() || target.GetRows() != rows || target.GetCols() != cols)
        target.Resize(rows, cols);
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j)
            target.SetAt(source(i + 1, j + 1), i, j);
}
