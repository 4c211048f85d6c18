#include "ObjectPoint.h"

#include <cmath>
#include <algorithm>
#include <cstring>

#include <newmat/newmat.h>
#include <newmat/newmatap.h>

#include "BinArchive.h"
#include "NewmatLock.h"

namespace {

// A matrix with fewer than three rows or columns becomes the packed 3 x 3
// zero matrix, so that its sigmas have room.
void EnsureThreeByThree(CMatrix& m)
{
    if (m.GetRows() < 3 || (!m.IsSymmetric() && m.GetCols() < 3))
        m.Resize(3, -1);
}

void SetDiagonal3(CMatrix& m, double a, double b, double c)
{
    EnsureThreeByThree(m);
    m.Zero();
    m.SetAt(a, 0, 0);
    m.SetAt(b, 1, 1);
    m.SetAt(c, 2, 2);
}

// Reads a covariance record. Only the 3x3 packed symmetric form belongs in
// a point; any other shape leaves the matrix as it was and fails the archive.
void ReadCovariance(CBinArchive& ar, CMatrix& m)
{
    int32_t rows = 0, cols = 0;
    ar.ReadInt(rows);
    ar.ReadInt(cols);
    if (ar.fail())
        return;
    if (rows != 3 || cols != -1) {
        ar.setstate(std::ios::failbit);
        return;
    }
    double v[6] = {0, 0, 0, 0, 0, 0};
    for (double& d : v)
        ar.ReadDouble(d);
    if (ar.fail())
        return;
    m.SetAt(v[0], 0, 0);
    m.SetAt(v[1], 0, 1);
    m.SetAt(v[2], 0, 2);
    m.SetAt(v[3], 1, 1);
    m.SetAt(v[4], 1, 2);
    m.SetAt(v[5], 2, 2);
}

void ReadTriple(CBinArchive& ar, double* t)
{
    ar.ReadDouble(t[0]);
    ar.ReadDouble(t[1]);
    ar.ReadDouble(t[2]);
}

void WriteTriple(CBinArchive& ar, const double* t)
{
    ar.WriteDouble(t[0]);
    ar.WriteDouble(t[1]);
    ar.WriteDouble(t[2]);
}

// out := R * m * R', all 3x3, m symmetric.
void RotateCovariance(const double r[3][3], CMatrix& m)
{
    double a[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            double s = 0.0;
            for (int k = 0; k < 3; ++k)
                s += r[i][k] * m.GetAt(k, j);
            a[i][j] = s;
        }
    CMatrix out(3, -1);
    for (int i = 0; i < 3; ++i)
        for (int j = i; j < 3; ++j) {
            double s = 0.0;
            for (int k = 0; k < 3; ++k)
                s += a[i][k] * r[j][k];
            out.SetAt(s, i, j);
        }
    m = out;
}

void RotateTriple(const double r[3][3], double* v)
{
    const double a = v[0], b = v[1], c = v[2];
    for (int i = 0; i < 3; ++i)
        v[i] = r[i][0] * a + r[i][1] * b + r[i][2] * c;
}

} // namespace

CObjectPoint::CObjectPoint()
    : limitingCovariance(3, -1), covariance(3, -1)
{
}

CObjectPoint::CObjectPoint(const CNameBuffer& l)
    : CObjectPoint()
{
    label.Copy(l);
}

CObjectPoint::CObjectPoint(const CNameBuffer& l, double px, double py, double pz)
    : CObjectPoint()
{
    label.Copy(l);
    x = px;
    y = py;
    z = pz;
}

CObjectPoint::CObjectPoint(const char* labelText, double px, double py, double pz)
    : CObjectPoint()
{
    label.Set(labelText);
    x = px;
    y = py;
    z = pz;
}

CObjectPoint::CObjectPoint(const CObjectPoint& other)
    : limitingCovariance(3, -1), covariance(3, -1)
{
    Assign(other);
}

CObjectPoint& CObjectPoint::operator=(const CObjectPoint& other)
{
    if (this != &other)
        Assign(other);
    return *this;
}

void CObjectPoint::Assign(const CObjectPoint& o)
{
    label.Copy(o.label);
    x = o.x;
    y = o.y;
    z = o.z;
    rayCount = o.rayCount;
    usedRayCount = o.usedRayCount;
    rms = o.rms;
    inUse = o.inUse;
    unsolved = o.unsolved;
    updated = o.updated;
    selected = o.selected;
    observationIndex = o.observationIndex;
    sightings = o.sightings;
    CopyDataFrom(o);
}

void CObjectPoint::CopyDataFrom(const CObjectPoint& o)
{
    x = o.x;
    y = o.y;
    z = o.z;
    for (int i = 0; i < 3; ++i) {
        aprioriSigma[i] = o.aprioriSigma[i];
        correctionSum[i] = o.correctionSum[i];
        normal[i] = o.normal[i];
        discrepancy[i] = o.discrepancy[i];
    }
    radius = o.radius;
    limitingCovariance = o.limitingCovariance;
    covariance = o.covariance;
}

bool CObjectPoint::IsEqual(const CObjectPoint& o) const
{
    if (!(label == o.label) || rayCount != o.rayCount || usedRayCount != o.usedRayCount)
        return false;
    if (!(sightings == o.sightings) || rms != o.rms)
        return false;
    if (inUse != o.inUse || unsolved != o.unsolved || updated != o.updated || selected != o.selected)
        return false;
    if (observationIndex != o.observationIndex)
        return false;
    if (x != o.x || y != o.y || z != o.z)
        return false;
    if (!(limitingCovariance == o.limitingCovariance) || !(covariance == o.covariance))
        return false;
    for (int i = 0; i < 3; ++i) {
        if (correctionSum[i] != o.correctionSum[i] || aprioriSigma[i] != o.aprioriSigma[i] ||
            normal[i] != o.normal[i] || discrepancy[i] != o.discrepancy[i])
            return false;
    }
    return radius == o.radius;
}

CNameBuffer CObjectPoint::GetLabel() const
{
    CNameBuffer copy;
    copy.Copy(label);
    return copy;
}

void CObjectPoint::SetLabelText(const char* text)
{
    label.Set(text);
}

bool CObjectPoint::HasNormal() const
{
    return normal[0] != 0.0 || normal[1] != 0.0 || normal[2] != 0.0;
}

int CObjectPoint::CountControlCoordinates() const
{
    int n = 0;
    for (double s : aprioriSigma)
        if (s <= kControlSigmaLimit)
            ++n;
    return n;
}

bool CObjectPoint::ClearOffsets()
{
    correctionSum[0] = correctionSum[1] = correctionSum[2] = 0.0;
    return true;
}

void CObjectPoint::Scale(double f)
{
    x *= f;
    y *= f;
    z *= f;
    radius *= f;
}

void CObjectPoint::SetNormal(double nx, double ny, double nz)
{
    if (!std::isfinite(nx) || !std::isfinite(ny) || !std::isfinite(nz) || (nx == 0.0 && ny == 0.0 && nz == 0.0)) {
        normal[0] = normal[1] = normal[2] = 0.0;
        return;
    }
    // Divided by the Euclidean length; only components whose squares would
    // overflow (or lose their precision below the normal range) are first
    // scaled by the largest of them.
    const double m = std::fmax(std::fabs(nx), std::fmax(std::fabs(ny), std::fabs(nz)));
    if (m > 1e153 || m < 1e-153) {
        nx /= m;
        ny /= m;
        nz /= m;
    }
    const double len = std::sqrt(nx * nx + ny * ny + nz * nz);
    normal[0] = nx / len;
    normal[1] = ny / len;
    normal[2] = nz / len;
}

void CObjectPoint::SetNormalFromVector(const CVector& n)
{
    if (n.GetSize() < 3) {
        normal[0] = normal[1] = normal[2] = 0.0;
        return;
    }
    SetNormal(n[0], n[1], n[2]);
}

void CObjectPoint::GetHomogeneous(NEWMAT::Matrix& out) const
{
    NewmatLock lock;
    try {
        out.ReSize(4, 1);
        out(1, 1) = x;
        out(2, 1) = y;
        out(3, 1) = z;
        out(4, 1) = 1.0;
    } catch (const RBD_COMMON::BaseException&) {
        // Out of memory inside the library: the matrix keeps what it got.
    }
}

void CObjectPoint::SetCovarianceSigmas(double sx, double sy, double sz)
{
    SetDiagonal3(limitingCovariance, sx * sx, sy * sy, sz * sz);
}

void CObjectPoint::SetSigmas(double sx, double sy, double sz)
{
    SetDiagonal3(covariance, sx * sx, sy * sy, sz * sz);
}

void CObjectPoint::SetSigma(int i, double s)
{
    EnsureThreeByThree(covariance);
    for (int k = 0; k < 3; ++k)
        covariance.SetAt(0.0, i, k);
    covariance.SetAt(s * s, i, i);
}

bool CObjectPoint::GetErrorEllipsoid(NEWMAT::DiagonalMatrix& values, NEWMAT::Matrix& vectors) const
{
    NewmatLock lock;
    try {
        NEWMAT::SymmetricMatrix s(3);
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j <= i; ++j)
                s(i + 1, j + 1) = covariance.GetAt(i, j);
        NEWMAT::EigenValues(s, values, vectors);
        return values(3) != 0.0;
    } catch (const RBD_COMMON::BaseException&) {
        return false;
    }
}

bool CObjectPoint::Transform(const NEWMAT::Matrix& t)
{
    double r[3][3];
    double p[3];
    {
        NewmatLock lock;
        try {
            if (t.Nrows() != 4 || t.Ncols() != 4)
                return false;
            const double h[4] = {x, y, z, 1.0};
            for (int i = 0; i < 3; ++i) {
                double s = 0.0;
                for (int k = 0; k < 4; ++k)
                    s += t(i + 1, k + 1) * h[k];
                p[i] = s;
                for (int j = 0; j < 3; ++j)
                    r[i][j] = t(i + 1, j + 1);
            }
        } catch (const RBD_COMMON::BaseException&) {
            return false;
        }
    }
    x = p[0];
    y = p[1];
    z = p[2];
    RotateCovariance(r, limitingCovariance);
    RotateCovariance(r, covariance);
    if (HasNormal())
        RotateTriple(r, normal);
    RotateTriple(r, correctionSum);
    RotateTriple(r, discrepancy);
    return true;
}

void CObjectPoint::Serialize(CBinArchive& ar, int* version, bool discrepancySet)
{
    if (ar.IsStoring()) {
        Store(ar);
        return;
    }
    int v = version ? *version : -1;
    if (v == -1) {
        int32_t own = -1;
        ar.ReadInt(own);
        if (ar.fail())
            return;
        v = own;
    }
    Load(ar, v, discrepancySet);
}

void CObjectPoint::Store(CBinArchive& ar)
{
    static const double spare[3] = {0.0, 0.0, 0.0};
    ar.WriteInt(kVersion);
    WriteTriple(ar, discrepancy);
    limitingCovariance.Serialize(ar);
    covariance.Serialize(ar);
    ar.WriteDouble(radius);
    WriteTriple(ar, normal);
    ar.WriteByte(updated ? 1 : 0);
    ar.WriteByte(inUse ? 1 : 0);
    ar.WriteByte(unsolved ? 1 : 0);
    ar.WriteByte(selected ? 1 : 0);
    ar.WriteString(sightings);
    ar.WriteDouble(x);
    ar.WriteDouble(y);
    ar.WriteDouble(z);
    WriteTriple(ar, correctionSum);
    WriteTriple(ar, spare);
    WriteTriple(ar, aprioriSigma);
    ar.WriteDouble(rms);
    WriteTriple(ar, spare);
    ar.WriteInt(usedRayCount);
    ar.WriteInt(rayCount);
    ar.WriteName(label);
    observationIndex.Serialize(ar);
}

void CObjectPoint::Load(CBinArchive& ar, int v, bool discrepancySet)
{
    if (v >= 9 && v <= 13) {
        if (v == 13)
            ReadTriple(ar, discrepancy);
        if (v >= 12) {
            ReadCovariance(ar, limitingCovariance);
            ReadCovariance(ar, covariance);
        }
        if (v >= 11)
            ar.ReadDouble(radius);
        ReadTriple(ar, normal);
    }
    ar.ReadBool(updated);
    ar.ReadBool(inUse);
    ar.ReadBool(unsolved);
    ar.ReadBool(selected);
    ar.ReadString(sightings);
    ar.ReadDouble(x);
    ar.ReadDouble(y);
    ar.ReadDouble(z);
    ReadTriple(ar, correctionSum);
    double spare1[3] = {0.0, 0.0, 0.0};
    double spare2[3] = {0.0, 0.0, 0.0};
    ReadTriple(ar, spare1);
    ReadTriple(ar, aprioriSigma);
    ar.ReadDouble(rms);
    ReadTriple(ar, spare2);
    ar.ReadInt(usedRayCount);
    ar.ReadInt(rayCount);
    ar.ReadName(label);
    observationIndex.Serialize(ar);
    // A record cut short keeps the rest of the point as it was.
    if (ar.fail())
        return;
    if (v < 12)
        SetDiagonal3(limitingCovariance, spare1[0] * spare1[0], spare1[1] * spare1[1],
                     spare1[2] * spare1[2]);
    if (v < 13) {
        if (discrepancySet) {
            discrepancy[0] = spare2[0];
            discrepancy[1] = spare2[1];
            discrepancy[2] = spare2[2];
        } else {
            SetDiagonal3(covariance, spare2[0] * spare2[0], spare2[1] * spare2[1],
                         spare2[2] * spare2[2]);
        }
    }
}

CObjectPoint* CObjectPointList::Extreme(int axis, bool largest) const
{
    CObjectPoint* best = nullptr;
    double bestValue = 0.0;
    for (int i = 0; i < GetSize(); ++i) {
        CObjectPoint* p = GetAt(i);
        if (p == nullptr)
            continue;
        const double v = axis == 0 ? p->x : (axis == 1 ? p->y : p->z);
        if (best == nullptr || (largest ? v >= bestValue : v <= bestValue)) {
            best = p;
            bestValue = v;
        }
    }
    return best;
}

bool CObjectPointList::Extent(int axis, double& extent) const
{
    const CObjectPoint* hi = Extreme(axis, true);
    const CObjectPoint* lo = Extreme(axis, false);
    if (hi == nullptr || lo == nullptr) {
        extent = 0.0;
        return false;
    }
    const double a = axis == 0 ? hi->x : (axis == 1 ? hi->y : hi->z);
    const double b = axis == 0 ? lo->x : (axis == 1 ? lo->y : lo->z);
    extent = std::fabs(a - b);
    return true;
}

bool CObjectPointList::TransformAll(const NEWMAT::Matrix& t)
{
    bool ok = true;
    for (int i = 0; i < GetSize(); ++i)
        if (CObjectPoint* p = GetAt(i))
            ok = p->Transform(t) && ok;
    return ok;
}

int CObjectPointList::CountUnsolved() const
{
    int n = 0;
    for (int i = 0; i < GetSize(); ++i)
        if (const CObjectPoint* p = GetAt(i); p != nullptr && p->unsolved)
            ++n;
    return n;
}

int CObjectPointList::CountInUse() const
{
    int n = 0;
    for (int i = 0; i < GetSize(); ++i)
        if (const CObjectPoint* p = GetAt(i); p != nullptr && p->inUse)
            ++n;
    return n;
}

int CObjectPointList::CountSelected() const
{
    int n = 0;
    for (int i = 0; i < GetSize(); ++i)
        if (const CObjectPoint* p = GetAt(i); p != nullptr && p->selected)
            ++n;
    return n;
}
