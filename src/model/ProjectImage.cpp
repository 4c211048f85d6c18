#include "ProjectImage.h"

#include <algorithm>
#include <cmath>
#include <ostream>
#include <string>
#include <vector>

#include <newmat/newmat.h>
#include <newmat/newmatap.h>

#include "BinArchive.h"
#include "Camera.h"
#include "ImageTransform.h"
#include "NewmatLock.h"
#include "PointSet.h"
#include "Rotation.h"
#include "TextLines.h"

namespace {

// Root mean square of the usable observations' squared residual terms: the
// sum over perObservation times their number. False when none is usable.
template <typename Square>
bool UsableResidualRms(const CObservationList& targets, Square square, double perObservation, double& out)
{
    out = 0.0;
    double sum = 0.0;
    int n = 0;
    for (int i = 0; i < targets.GetSize(); ++i) {
        const CImageObservation* o = targets.GetAt(i);
        if (!o->IsUsable()) continue;
        sum += square(*o);
        ++n;
    }
    if (n == 0) return false;
    out = std::sqrt(sum / (perObservation * n));
    return true;
}

bool AllFinite(const double* v, int n)
{
    for (int i = 0; i < n; ++i)
        if (!std::isfinite(v[i])) return false;
    return true;
}

// Sorts the targets into label order. With distinct labels every sort gives
// the same order, so an n log n sort serves; equal labels keep the list's own
// sort, whose placing of them is part of the record.
void SortTargets(CObservationList& list)
{
    const int n = list.GetSize();
    if (n < 2) return;
    CImageObservation** data = list.GetData();
    std::vector<CImageObservation*> sorted(data, data + n);
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const CImageObservation* a, const CImageObservation* b) { return a->label < b->label; });
    for (int i = 1; i < n; ++i) {
        if (sorted[i - 1]->label == sorted[i]->label) {
            list.SortByLabel();
            return;
        }
    }
    std::copy(sorted.begin(), sorted.end(), data);
}

} // namespace

// ---------------------------------------------------------------------------
// Construction and copying

CProjectImage::CProjectImage()
{
    InitDefaults();
}

CProjectImage::CProjectImage(const CProjectImage& other)
{
    InitDefaults();
    CopyFrom(other);
}

CProjectImage& CProjectImage::operator=(const CProjectImage& other)
{
    if (this != &other) CopyFrom(other);
    return *this;
}

CProjectImage::~CProjectImage() = default;

void CProjectImage::InitDefaults()
{
    filePath = " ";
    name = " ";
    cameraName = " ";
    X = Y = Z = 0.0;
    rotation.Resize(3, 3);
    rotation.Zero();
    covariance.Resize(6, -1);
    covariance.Zero();
    for (int i = 0; i < STA_PARAMETER_COUNT; ++i) {
        aprioriSigma[i] = kSigmaFree;
        corrections[i] = 0.0;
    }
    transformAccepted = false;
    enabled = true;
    oriented = false;
    scanned = false;
    highQuality = true;
    qualitySet = false;
    reserved = 0;
    transformation.Resize(0);
}

void CProjectImage::CopyFrom(const CProjectImage& other)
{
    if (this == &other) return;
    filePath = other.filePath;
    name = other.name;
    cameraName = other.cameraName;
    transformAccepted = other.transformAccepted;
    enabled = other.enabled;
    oriented = other.oriented;
    scanned = other.scanned;
    highQuality = other.highQuality;
    qualitySet = other.qualitySet;
    rotation = other.rotation;
    covariance = other.covariance;
    X = other.X;
    Y = other.Y;
    Z = other.Z;
    for (int i = 0; i < STA_PARAMETER_COUNT; ++i) {
        aprioriSigma[i] = other.aprioriSigma[i];
        corrections[i] = other.corrections[i];
    }
    reserved = other.reserved;
    transformation = other.transformation;
    targets.Copy(other.targets);
    fiducials.Copy(other.fiducials);
}

// ---------------------------------------------------------------------------
// Orientation

void CProjectImage::SetPosition(double x, double y, double z)
{
    X = x;
    Y = y;
    Z = z;
}

void CProjectImage::ScalePosition(double f)
{
    X *= f;
    Y *= f;
    Z *= f;
}

void CProjectImage::SetRotationArray(const double R[3][3])
{
    if (rotation.GetRows() != 3 || rotation.GetCols() != 3) rotation.Resize(3, 3);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) rotation.SetAt(R[i][j], i, j);
}

void CProjectImage::GetRotation(double R[3][3]) const
{
    const bool ok = rotation.GetRows() == 3 && rotation.GetCols() == 3;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) R[i][j] = ok ? rotation.GetAt(i, j) : 0.0;
}

StationGeometry CProjectImage::GetStation() const
{
    StationGeometry s;
    GetRotation(s.R);
    s.X0[0] = X;
    s.X0[1] = Y;
    s.X0[2] = Z;
    return s;
}

void CProjectImage::SetRotation(double azimuth, double elevation, double roll)
{
    double R[3][3];
    RotationFromAngles(azimuth, elevation, roll, R);
    SetRotationArray(R);
}

void CProjectImage::SetPose(double x, double y, double z, double azimuth, double elevation, double roll)
{
    SetPosition(x, y, z);
    SetRotation(azimuth, elevation, roll);
}

double CProjectImage::AngleOfRotation(double (*angle)(const double R[3][3])) const
{
    double R[3][3];
    GetRotation(R);
    return angle(R);
}

double CProjectImage::GetAzimuth() const { return AngleOfRotation(AzimuthFromRotation); }
double CProjectImage::GetElevation() const { return AngleOfRotation(ElevationFromRotation); }
double CProjectImage::GetRoll() const { return AngleOfRotation(RollFromRotation); }
double CProjectImage::GetOmega() const { return AngleOfRotation(OmegaFromRotation); }
double CProjectImage::GetPhi() const { return AngleOfRotation(PhiFromRotation); }
double CProjectImage::GetKappa() const { return AngleOfRotation(KappaFromRotation); }

void CProjectImage::SetAzimuth(double azimuth)
{
    SetRotation(azimuth, GetElevation(), GetRoll());
}

void CProjectImage::SetElevation(double elevation)
{
    SetRotation(GetAzimuth(), elevation, GetRoll());
}

void CProjectImage::SetRoll(double roll)
{
    SetRotation(GetAzimuth(), GetElevation(), roll);
}

void CProjectImage::GetPoseMatrix(NEWMAT::Matrix& out) const
{
    double R[3][3];
    GetRotation(R);
    NewmatLock lock;
    try {
        out.ReSize(4, 4);
        for (int i = 0; i < 3; ++i) {
            out(i + 1, 1) = R[0][i];
            out(i + 1, 2) = R[1][i];
            out(i + 1, 3) = -R[2][i];
        }
        out(1, 4) = X;
        out(2, 4) = Y;
        out(3, 4) = Z;
        out(4, 1) = out(4, 2) = out(4, 3) = 0.0;
        out(4, 4) = 1.0;
    } catch (const RBD_COMMON::BaseException&) {
    }
}

bool CProjectImage::SetFromPoseMatrix(const NEWMAT::Matrix& pose)
{
    double m[3][3];
    double p[3];
    {
        NewmatLock lock;
        try {
            if (pose.Nrows() != 4 || pose.Ncols() != 4) return false;
            for (int i = 0; i < 3; ++i) {
                for (int j = 0; j < 3; ++j) m[i][j] = pose(i + 1, j + 1);
                m[i][2] = -m[i][2];
                p[i] = pose(i + 1, 4);
            }
        } catch (const RBD_COMMON::BaseException&) {
            return false;
        }
    }
    if (!AllFinite(&m[0][0], 9) || !AllFinite(p, 3)) return false;
    // The block holds R transposed: R(j, i) = m(i, j).
    double R[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) R[j][i] = m[i][j];
    const double e = ElevationFromRotation(R);
    const double a = AzimuthFromRotation(R);
    const double r = RollFromRotation(R);
    SetPose(p[0], p[1], p[2], a, e, r);
    return true;
}

bool CProjectImage::ApplyTransformation(const NEWMAT::Matrix& t)
{
    if (!oriented) return false;
    NEWMAT::Matrix pose;
    NEWMAT::Matrix product;
    GetPoseMatrix(pose);
    {
        NewmatLock lock;
        try {
            if (t.Nrows() != 4 || t.Ncols() != 4) return false;
            product = t * pose;
        } catch (const RBD_COMMON::BaseException&) {
            return false;
        }
    }
    return SetFromPoseMatrix(product);
}

double CProjectImage::SigmaOf(int i) const
{
    if (covariance.GetRows() != 6) return 0.0;
    const double v = covariance.GetAt(i, i);
    return v > 0.0 ? std::sqrt(v) : 0.0;
}

void CProjectImage::ResetCovariance()
{
    covariance.Resize(6, -1);
    covariance.Zero();
}

void CProjectImage::ResetCorrections()
{
    for (double& c : corrections) c = 0.0;
}

int CProjectImage::GetConstrainedParameterCount() const
{
    int n = 0;
    for (double s : aprioriSigma)
        if (s < kSigmaFree) ++n;
    return n;
}

bool CProjectImage::GetPositionErrorEllipsoid(NEWMAT::DiagonalMatrix& values, NEWMAT::Matrix& vectors) const
{
    if (covariance.GetRows() != 6) return false;
    double c[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) c[i][j] = covariance.GetAt(i, j);
    if (!AllFinite(&c[0][0], 9)) return false;
    NewmatLock lock;
    try {
        NEWMAT::SymmetricMatrix s(3);
        for (int i = 0; i < 3; ++i)
            for (int j = i; j < 3; ++j) s(i + 1, j + 1) = c[i][j];
        NEWMAT::EigenValues(s, values, vectors);
        return values(3) != 0.0;
    } catch (const RBD_COMMON::BaseException&) {
        return false;
    }
}

bool CProjectImage::TransformObservation(CImageObservation& o) const
{
    if (transformation.GetSize() == 6) return ApplyAffine2D(o, transformation);
    if (transformation.GetSize() == 4) return ApplySimilarity2D(o, transformation);
    return false;
}

bool CProjectImage::UntransformObservation(CImageObservation& o) const
{
    if (transformation.GetSize() == 6) return ApplyAffine2DInverse(o, transformation);
    if (transformation.GetSize() == 4) return ApplySimilarity2DInverse(o, transformation);
    return false;
}

// ---------------------------------------------------------------------------
// Names and files

const char* CProjectImage::GetImageQualityText() const
{
    if (!qualitySet) return "Image Quality Not Set";
    return highQuality ? "Image Quality High" : "Image Quality Low";
}

bool CProjectImage::ReadIcfFile(const CFilePath& path, double defaultSigma)
{
    std::string bytes;
    if (!ReadTextFileBytes(path.GetText(), bytes, kMaxIcfBytes)) return false;
    return ReadIcfText(bytes.data(), bytes.size(), defaultSigma);
}

bool CProjectImage::ReadIcfText(const char* data, std::size_t size, double defaultSigma)
{
    CObservationList read;
    if (data != nullptr) {
        ForEachTextLine(data, size, [&](const char* line, std::size_t length) {
            CNameBuffer label;
            double v[4];
            const int fields = ScanLabelledLine(line, length, label, v, 4);
            if (fields == 5)
                read.AddCopy(CImageObservation(label, v[0], v[1], v[2], v[3], -1.0, -1.0));
            else if (fields == 3)
                read.AddCopy(CImageObservation(label, v[0], v[1], defaultSigma, defaultSigma, -1.0, -1.0));
            return true;
        });
    }
    SortTargets(read);
    targets.Copy(read);
    return true;
}

void WriteXy(std::ostream& os, const CImageObservation& o, const CVector& t)
{
    CImageObservation copy(o);
    if (t.GetSize() == 6)
        ApplyAffine2DInverse(copy, t);
    else if (t.GetSize() == 4)
        ApplySimilarity2DInverse(copy, t);
    CDynString line;
    line.Format("%16s%15.6f%15.6f\n", copy.label.GetText(), copy.x, copy.y);
    os << line.GetText();
}

void WriteXy(std::ostream& os, const CObservationList& list, const CVector& t)
{
    for (int i = 0; i < list.GetSize(); ++i)
        if (const CImageObservation* o = list.GetAt(i)) WriteXy(os, *o, t);
}

void CProjectImage::WriteObservations(std::ostream& os, const CVector& t) const
{
    WriteXy(os, targets, t);
}

// ---------------------------------------------------------------------------
// Archive

bool CProjectImage::Serialize(CBinArchive& ar, int* version)
{
    int fallback = -1;
    if (version == nullptr) version = &fallback;
    if (!ar.IsStoring()) {
        int v = *version;
        if (v == -1) {
            std::int32_t read = 0;
            ar.ReadInt(read);
            if (ar.fail()) return false;
            v = read;
        }
        if (v < 0 || v > kVersion) return false;
        return Load(ar, version, v);
    }

    ar.WriteInt(kVersion);
    covariance.Serialize(ar);
    rotation.Serialize(ar);
    ar.WriteByte(highQuality ? 1 : 0);
    ar.WriteByte(qualitySet ? 1 : 0);
    ar.WriteByte(transformAccepted ? 1 : 0);
    fiducials.Serialize(ar, version);
    const int n = transformation.GetSize();
    ar.WriteInt(n);
    for (int i = 0; i < n; ++i) ar.WriteDouble(transformation[i]);
    targets.Serialize(ar, version);
    ar.WriteString(name);
    ar.WriteInt(reserved);
    ar.WriteByte(enabled ? 1 : 0);
    ar.WriteByte(oriented ? 1 : 0);
    ar.WriteByte(scanned ? 1 : 0);
    ar.WriteDouble(X);
    ar.WriteDouble(Y);
    ar.WriteDouble(Z);
    for (int i = 0; i < STA_PARAMETER_COUNT; ++i) {
        ar.WriteDouble(aprioriSigma[i]);
        ar.WriteDouble(corrections[i]);
    }
    ar.WriteString(cameraName);
    ar.WriteString(filePath);
    return !ar.fail();
}

bool CProjectImage::Load(CBinArchive& ar, int* version, int v)
{
    bool ok = true;
    if (v >= 4) {
        covariance.Serialize(ar);
        rotation.Serialize(ar);
        // Matrices of another shape would break every later use.
        if (covariance.GetRows() != 6 || covariance.GetCols() != -1) {
            ResetCovariance();
            ok = false;
        }
        if (rotation.GetRows() != 3 || rotation.GetCols() != 3) {
            rotation.Resize(3, 3);
            rotation.Zero();
            ok = false;
        }
    }
    if (v >= 1) {
        ar.ReadBool(highQuality);
        ar.ReadBool(qualitySet);
    }
    ar.ReadBool(transformAccepted);
    if (!fiducials.Serialize(ar, version)) ok = false;

    std::int32_t n = 0;
    ar.ReadInt(n);
    if (!ar.fail() && ar.CheckCount(n, 8)) {
        CVector t(n);
        for (int i = 0; i < n; ++i) ar.ReadDouble(t[i]);
        if (!ar.fail()) transformation = t;
    }
    if (!targets.Serialize(ar, version)) ok = false;
    ar.ReadString(name);
    ar.ReadInt(reserved);
    ar.ReadBool(enabled);
    ar.ReadBool(oriented);
    ar.ReadBool(scanned);
    ar.ReadDouble(X);
    ar.ReadDouble(Y);
    ar.ReadDouble(Z);
    if (v <= 3) {
        double R[3][3];
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) {
                R[i][j] = 0.0;
                ar.ReadDouble(R[i][j]);
            }
        if (!ar.fail()) SetRotationArray(R);
        if (covariance.GetRows() != 6 || covariance.GetCols() != -1) ResetCovariance();
    }
    for (int i = 0; i < STA_PARAMETER_COUNT; ++i) {
        ar.ReadDouble(aprioriSigma[i]);
        if (v <= 3) {
            // Old records keep the parameter's variance here.
            double w = 0.0;
            ar.ReadDouble(w);
            covariance.SetAt(w > 0.0 ? w : 0.0, i, i);
        }
        ar.ReadDouble(corrections[i]);
    }
    ar.ReadString(cameraName);
    ar.ReadString(filePath);
    return ok && !ar.fail();
}

// ---------------------------------------------------------------------------
// Target observations

CImageObservation* CProjectImage::GetObservationAt(int index) const
{
    if (index < 0 || index >= targets.GetSize()) return nullptr;
    return targets.GetAt(index);
}

bool CProjectImage::RemoveObservationAt(int index)
{
    if (index < 0 || index >= targets.GetSize()) return false;
    targets.RemoveAt(index, 1);
    return true;
}

bool CProjectImage::MarkObservation(const CNameBuffer& label)
{
    CImageObservation* o = targets.Find(label);
    if (o == nullptr) return false;
    o->marked = true;
    return true;
}

CImageObservation* CProjectImage::FindNextMarkedObservation(const CImageObservation* after) const
{
    for (int i = 0; i < targets.GetSize(); ++i) {
        CImageObservation* o = targets.GetAt(i);
        if (o == nullptr || o == after || !o->marked) continue;
        if (after != nullptr && o->label < after->label) continue;
        return o;
    }
    return nullptr;
}

int CProjectImage::CountMarkedObservations() const
{
    int count = 0;
    for (int i = 0; i < targets.GetSize(); ++i)
        count += targets.GetAt(i)->marked ? 1 : 0;
    return count;
}

bool CProjectImage::MoveToFiducials(const CNameBuffer& label)
{
    const int index = targets.FindIndex(label);
    if (index < 0) return false;
    CImageObservation* o = targets.GetAt(index);
    o->fiducial = true;
    fiducials.AddSorted(*o);
    targets.RemoveAt(index, 1);
    return true;
}

bool CProjectImage::ClearResiduals()
{
    for (int i = 0; i < targets.GetSize(); ++i) {
        CImageObservation* o = targets.GetAt(i);
        o->vx = 0.0;
        o->vy = 0.0;
    }
    return true;
}

bool CProjectImage::ClearRejectedFlags()
{
    for (int i = 0; i < targets.GetSize(); ++i) targets.GetAt(i)->rejected = false;
    return true;
}

bool CProjectImage::GetResidualRmsX(double& out) const
{
    return UsableResidualRms(targets, [](const CImageObservation& o) { return o.vx * o.vx; }, 1.0, out);
}

bool CProjectImage::GetResidualRmsY(double& out) const
{
    return UsableResidualRms(targets, [](const CImageObservation& o) { return o.vy * o.vy; }, 1.0, out);
}

bool CProjectImage::GetResidualRmsXY(double& out) const
{
    return UsableResidualRms(
        targets, [](const CImageObservation& o) { return o.vx * o.vx + o.vy * o.vy; }, 2.0, out);
}

int CProjectImage::CountUsableObservations() const
{
    int n = 0;
    for (int i = 0; i < targets.GetSize(); ++i)
        if (targets.GetAt(i)->IsUsable()) ++n;
    return n;
}

int CProjectImage::CountDisabledObservations() const
{
    int n = 0;
    for (int i = 0; i < targets.GetSize(); ++i)
        if (targets.GetAt(i)->disabled) ++n;
    return n;
}

int CProjectImage::GetEnabledObservationCount() const
{
    return targets.GetSize() - CountDisabledObservations();
}

int CProjectImage::CountObservedPoints(const CPointSet& set) const
{
    int n = 0;
    for (int i = 0; i < targets.GetSize(); ++i) {
        const CImageObservation* o = targets.GetAt(i);
        if (!o->disabled && set.IndexOfLabel(o->label) >= 0) ++n;
    }
    return n;
}

double CProjectImage::GetMaxRadialDistance(const CCamera* camera)
{
    if (camera == nullptr) return 0.0;
    double largest = 0.0;
    for (int i = 0; i < targets.GetSize(); ++i) {
        CImageObservation* o = targets.GetAt(i);
        if (o->disabled) continue;
        const double r = o->ComputeRadialDistance(*camera);
        if (r > largest) largest = r;
    }
    return largest;
}

int CProjectImage::FindNearestObservation(const CImageObservation& o, double maxDistance) const
{
    const double limit = maxDistance * maxDistance;
    int best = -1;
    double bestDistance = 0.0;
    for (int i = 0; i < targets.GetSize(); ++i) {
        const CImageObservation* t = targets.GetAt(i);
        const double dx = t->x - o.x, dy = t->y - o.y;
        const double d = dx * dx + dy * dy;
        if (d > limit) continue;
        if (best < 0 || d < bestDistance) {
            best = i;
            bestDistance = d;
        }
    }
    return best;
}

bool CProjectImage::RemoveDuplicateLabels()
{
    for (int a = targets.GetSize() - 1; a > 0; --a) {
        if (a >= targets.GetSize()) continue;
        const CNameBuffer label = targets.GetAt(a)->label;
        for (int b = a - 1; b >= 0; --b) {
            if (targets.GetAt(b)->label == label) {
                targets.RemoveAt(b, 1);
                --a; // the element a moved one place down
            }
        }
    }
    return targets.SortByLabel();
}
