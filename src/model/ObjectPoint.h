// A 3D object point: label, coordinates, a-priori sigmas, covariances,
// target normal and radius, discrepancy vector and the adjustment's
// bookkeeping.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "BinArchive.h"
#include "DynString.h"
#include "Matrix.h"
#include "NameBuffer.h"
#include "OwningArray.h"
#include "Vector.h"

namespace NEWMAT {
class Matrix;
class DiagonalMatrix;
}

class CObjectPoint
{
public:
    CNameBuffer label;
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    int32_t rayCount = 0;
    int32_t usedRayCount = 0;
    double rms = 0.0;
    bool inUse = true;
    bool unsolved = false;
    bool updated = false;
    bool selected = false;
    double aprioriSigma[3] = {0.01, 0.01, 0.01};
    double correctionSum[3] = {0.0, 0.0, 0.0};
    double normal[3] = {0.0, 0.0, 0.0};
    double radius = 0.0;
    double discrepancy[3] = {0.0, 0.0, 0.0};
    CMatrix limitingCovariance;
    CMatrix covariance;
    CIntVector observationIndex;
    CDynString sightings;

    // A sigma at or below this makes a coordinate a control coordinate.
    static constexpr double kControlSigmaLimit = 0.05;
    // The record version written by Serialize.
    static constexpr int kVersion = 13;

    CObjectPoint();
    // The label's characters are taken as they stand (no validation).
    explicit CObjectPoint(const CNameBuffer& label);
    CObjectPoint(const CNameBuffer& label, double x, double y, double z);
    // The label goes through CNameBuffer::Set: an invalid text leaves it empty.
    CObjectPoint(const char* labelText, double x, double y, double z);
    CObjectPoint(const CObjectPoint& other);
    CObjectPoint& operator=(const CObjectPoint& other);

    void Assign(const CObjectPoint& other);
    bool IsEqual(const CObjectPoint& other) const;
    bool operator!=(const CObjectPoint& other) const { return !IsEqual(other); }
    // Numeric data only: coordinates, sigmas, offsets, normal, discrepancy,
    // radius and both covariances.
    void CopyDataFrom(const CObjectPoint& other);

    CNameBuffer GetLabel() const;
    void SetLabelText(const char* text);

    bool HasNormal() const;
    int CountControlCoordinates() const;
    bool ClearOffsets();
    void Scale(double factor);
    // Stores the unit vector; a vector of zero (or non-finite) length
    // leaves the point without a normal.
    void SetNormal(double nx, double ny, double nz);
    void SetNormalFromVector(const CVector& n);

    // (X, Y, Z, 1) as a 4x1 column.
    void GetHomogeneous(NEWMAT::Matrix& out) const;
    void SetCovarianceSigmas(double sx, double sy, double sz);
    void SetSigmas(double sx, double sy, double sz);
    void SetSigmaX(double s) { SetSigma(0, s); }
    void SetSigmaY(double s) { SetSigma(1, s); }
    void SetSigmaZ(double s) { SetSigma(2, s); }

    // Eigenvalues (ascending) and eigenvectors (columns) of the covariance.
    // False when the largest eigenvalue is zero or the decomposition fails.
    bool GetErrorEllipsoid(NEWMAT::DiagonalMatrix& values, NEWMAT::Matrix& vectors) const;
    // Applies a 4x4 homogeneous transformation to the coordinates and rotates
    // the covariances, normal, offsets and discrepancy. Returns false (point
    // unchanged) for a matrix that is not 4x4.
    bool Transform(const NEWMAT::Matrix& t);

    // version: -1 to read the record's own version word, else the version of
    // the enclosing file (no word read). The flag tells a discrepancy set.
    void Serialize(CBinArchive& ar, int* version, bool discrepancySet);

private:
    void SetSigma(int i, double s);
    void Store(CBinArchive& ar);
    void Load(CBinArchive& ar, int version, bool discrepancySet);
};

// The owning, label-ordered list of points that point sets are built on.
// Lookups by label sort the list first; the order is the natural label order.
class CObjectPointList : public COwningArray<CObjectPoint>
{
public:
    explicit CObjectPointList(int growBy = 0) : COwningArray<CObjectPoint>(growBy) {}
    CObjectPointList(const CObjectPointList& other) : COwningArray<CObjectPoint>(other) {}
    CObjectPointList& operator=(const CObjectPointList& other)
    {
        Copy(other);
        return *this;
    }

    // Binary search in the current order; index receives the last probe.
    bool BinarySearch(const CNameBuffer& label, int& index) const;
    // Sorts by label, keeping points with identical labels in their order.
    // False (nothing changed) when a slot is empty.
    bool SortByLabel();
    CObjectPoint* FindByLabel(const CNameBuffer& label);
    // An invalid text searches for the empty label.
    CObjectPoint* FindByText(const char* text);
    // Takes the point out of the list without deleting it.
    void RemovePointer(const CObjectPoint* point);

    // Largest or smallest coordinate; of equal values the later point; null
    // when the list is empty.
    CObjectPoint* GetMaxXPoint() const { return Extreme(0, true); }
    CObjectPoint* GetMaxYPoint() const { return Extreme(1, true); }
    CObjectPoint* GetMaxZPoint() const { return Extreme(2, true); }
    CObjectPoint* GetMinXPoint() const { return Extreme(0, false); }
    CObjectPoint* GetMinYPoint() const { return Extreme(1, false); }
    CObjectPoint* GetMinZPoint() const { return Extreme(2, false); }
    // Difference between the largest and smallest coordinate (0 when empty).
    bool GetExtentX(double& extent) const { return Extent(0, extent); }
    bool GetExtentY(double& extent) const { return Extent(1, extent); }
    bool GetExtentZ(double& extent) const { return Extent(2, extent); }
    // Transforms every point; false when the matrix is not 4x4.
    bool TransformAll(const NEWMAT::Matrix& t);
    int CountUnsolved() const;
    int CountInUse() const;
    int CountSelected() const;
    int CountInUseSolved() const { return CountInUse() - CountUnsolved(); }

private:
    CObjectPoint* Extreme(int axis, bool largest) const;
    bool Extent(int axis, double& extent) const;

    // The label texts, slot by slot, when the list was last found in order.
    // Labels are public and slots reachable through GetData, so a flag kept
    // by this class could go stale; the texts cannot: while every slot still
    // holds a point with the same text, the list is still in order.
    bool InOrderAsLastSeen() const;
    // Records the texts while checking the order; false, nothing recorded,
    // when two neighbours are out of order.
    template <class Less>
    bool RememberOrder(Less less);
    std::vector<char> orderedTexts;
    std::mutex orderLock;
};
