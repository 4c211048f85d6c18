#include "ObjectPointArray.h"
#include <algorithm>

int CObjectPointArray::GetRejectedCount() const
{
    int count = 0;
    for (const CObjectPoint* p : points)
        count += IsRejected(*p) ? 1 : 0;
    return count;
}

CObjectPoint* CObjectPointArray::MinPoint(int axis) const
{
    CObjectPoint* best = nullptr;
    for (CObjectPoint* p : points)
        if (!best || Coordinate(*p, axis) < Coordinate(*best, axis))
            best = p;
    return best;
}

double CObjectPointArray::Extent(int axis) const
{
    if (points.empty())
        return 0.0;
    double lo = Coordinate(*points[0], axis), hi = lo;
    for (const CObjectPoint* p : points) {
        lo = std::min(lo, Coordinate(*p, axis));
        hi = std::max(hi, Coordinate(*p, axis));
    }
    return hi - lo;
}

void CObjectPointArray::RemovePointer(const CObjectPoint* point)
{
    for (size_t i = 0; i < points.size(); ++i)
        if (points[i] == point) {
            points.erase(points.begin() + static_cast<std::ptrdiff_t>(i));
            return;
        }
}

CObjectPoint* CObjectPointArray::FindByLabel(const CNameBuffer& label) const
{
    for (CObjectPoint* p : points)
        if (p && p->label == label)
            return p;
    return nullptr;
}
