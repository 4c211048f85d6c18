// A non-owning array of pointers to object points, in the order they were
// added.
#pragma once

#include <vector>

#include "ObjectPoint.h"

class CObjectPointArray {
public:
    explicit CObjectPointArray(int growBy = 0) { points.reserve(growBy > 0 ? growBy : 0); }

    void RemoveAll() { points.clear(); }
    void Add(CObjectPoint* point) { points.push_back(point); }
    int GetSize() const { return static_cast<int>(points.size()); }
    CObjectPoint* GetAt(int i) const { return points[static_cast<size_t>(i)]; }
    // Takes the first entry equal to the pointer out (the point is not deleted).
    void RemovePointer(const CObjectPoint* point);
    // The first point of that label in array order (no sorting); null when none.
    CObjectPoint* FindByLabel(const CNameBuffer& label) const;
    // Keeps the entries for which keep is true, in their order.
    template <class Keep>
    void RemoveUnless(Keep keep)
    {
        std::vector<CObjectPoint*> kept;
        kept.reserve(points.size());
        for (CObjectPoint* p : points)
            if (keep(p))
                kept.push_back(p);
        points.swap(kept);
    }

    // The point with the smallest coordinate (the first of equals); null when empty.
    CObjectPoint* GetMinXPoint() const { return MinPoint(0); }
    CObjectPoint* GetMinYPoint() const { return MinPoint(1); }
    CObjectPoint* GetMinZPoint() const { return MinPoint(2); }
    // Largest minus smallest coordinate; 0 when empty.
    double GetExtentX() const { return Extent(0); }
    double GetExtentY() const { return Extent(1); }
    double GetExtentZ() const { return Extent(2); }
    // Points whose rejected flag is set.
    int GetRejectedCount() const;

    // The best fits keep their rejected flag in the point's status byte.
    static bool IsRejected(const CObjectPoint& p) { return p.unsolved; }
    static void SetRejected(CObjectPoint& p, bool flag) { p.unsolved = flag; }

private:
    CObjectPoint* MinPoint(int axis) const;
    double Extent(int axis) const;

    std::vector<CObjectPoint*> points;
};

inline double Coordinate(const CObjectPoint& p, int axis)
{
    return axis == 0 ? p.x : axis == 1 ? p.y : p.z;
}
