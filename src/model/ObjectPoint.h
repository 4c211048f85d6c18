// A 3D object point: label, coordinates, a-priori sigmas, covariances,
// target normal and radius, discrepancy vector and the adjustment's
// bookkeeping.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "BinArchive.h"
#include "DynString.h"
#include "Matrix.h"
#include "NameBuffer.h"
#include "OwningArray.h"
#include "RayIndex.h"
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
    // Per image, the index of the point's observation there, or -1.
    CRayIndex observationIndex;
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
//
// Points added in label order by InsertSorted to a list known to be in order
// wait in a side tree and join the array in one merge at the next access of
// any kind, so n inserts cost O(n log n). Every accessor merges first; a const
// one does so under a lock, so readers on several threads stay safe.
//
// The list knows it is in order while no slot changed (every mutating call
// and every non-const access to the slots counts as a change) and no label
// of its points changed (they are watched labels); lookups then skip the
// check of the whole order.
class CObjectPointList : public COwningArray<CObjectPoint>
{
public:
    explicit CObjectPointList(int growBy = 0);
    CObjectPointList(const CObjectPointList& other);
    CObjectPointList& operator=(const CObjectPointList& other)
    {
        Copy(other);
        return *this;
    }
    ~CObjectPointList() override;

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
    // Inserts a copy after every point whose label is not greater (in a list
    // out of order: at the place a binary search finds when its neighbours
    // agree, else after as many points as are not greater); returns its index.
    int InsertSorted(const CObjectPoint& point);

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

    // The collection's interface, each merging waiting points first.
    int GetSize() const override;
    int GetUpperBound() const override;
    CObjectPoint* GetAt(int i) const override;
    CObjectPoint* operator[](int i) override { return GetAt(i); }
    CObjectPoint* operator[](int i) const override { return GetAt(i); }
    CObjectPoint* const* GetData() const override;
    CObjectPoint** GetData() override;
    CDynArray<CObjectPoint>& GetArray() override;
    const CDynArray<CObjectPoint>& GetArray() const override;
    void SetSizeTruncate(int n, int growBy) override;
    void FreeExtra() override;
    void RemoveAll() override;
    void SetAt(int i, const CObjectPoint& value) override;
    void SetSize(int n, int growBy) override;
    CObjectPoint* SetAtGrow(int i, const CObjectPoint& value) override;
    CObjectPoint* AddCopy(const CObjectPoint& value) override;
    CObjectPoint* AddNew() override;
    void Copy(const CDynArray<CObjectPoint>& other) override;
    void Copy(const COwningArray<CObjectPoint>& other) override;
    void InsertAt(int i, const CObjectPoint& value, int n) override;
    void RemoveAt(int i, int n) override;
    void Remove(CObjectPoint* p) override;
    void Swap(int i, int j) override;
    void Move(int to, int from) override;
    void SwapElements(CObjectPointList& other) noexcept;

private:
    CObjectPoint* Extreme(int axis, bool largest) const;
    bool Extent(int axis, double& extent) const;

    // Merges the waiting points into the array (a const caller too: under
    // the lock, and only when points wait).
    void Merge() const;
    void MergeLocked();
    // Merges, then counts a change of the slots.
    void Changing();
    // True while nothing changed since the order was last found good.
    bool OrderKnown() const;
    // Checks the order (of the array, nothing waiting) and remembers it when
    // good; sorts it when asked. False when a slot is empty.
    bool CheckOrder(bool sort);
    int InsertNow(const CObjectPoint& point);

    struct Waiting;
    std::unique_ptr<Waiting> waiting;
    std::atomic<int> waitingCount{0};
    std::mutex waitingLock;
    std::mutex orderLock;
    std::atomic<uint64_t> changes{0};
    // The change count and the watched-label count when the order was
    // found good; no order known while orderChanges is kNoOrder.
    static constexpr uint64_t kNoOrder = ~uint64_t{0};
    std::atomic<uint64_t> orderChanges{kNoOrder};
    std::atomic<uint64_t> orderLabels{0};
};
