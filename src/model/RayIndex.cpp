#include "RayIndex.h"

#include <algorithm>

#include "BinArchive.h"

namespace {

bool ImageBefore(const CRayIndex::Entry& e, int image)
{
    return e.image < image;
}

} // namespace

bool CRayIndex::SetSize(int n)
{
    if (n < 0)
        return false;
    entries.erase(std::lower_bound(entries.begin(), entries.end(), n, ImageBefore), entries.end());
    for (int image = size; image < n; ++image)
        entries.push_back({image, 0});
    size = n;
    return true;
}

void CRayIndex::Reset(int n)
{
    entries.clear();
    entries.shrink_to_fit();
    size = n < 0 ? 0 : n;
}

std::vector<CRayIndex::Entry>::iterator CRayIndex::Find(int image)
{
    return std::lower_bound(entries.begin(), entries.end(), image, ImageBefore);
}

int32_t CRayIndex::Get(int image) const
{
    const auto it = std::lower_bound(entries.begin(), entries.end(), image, ImageBefore);
    return it != entries.end() && it->image == image ? it->observation : -1;
}

void CRayIndex::Set(int image, int32_t observation)
{
    if (image < 0 || image >= size)
        return;
    // Images are mostly set in rising order: the end first.
    const auto it = !entries.empty() && entries.back().image < image ? entries.end() : Find(image);
    const bool present = it != entries.end() && it->image == image;
    if (observation == -1) {
        if (present)
            entries.erase(it);
    } else if (present) {
        it->observation = observation;
    } else {
        entries.insert(it, {image, observation});
    }
}

bool CRayIndex::Serialize(CBinArchive& ar)
{
    if (ar.IsStoring()) {
        ar.WriteInt(size);
        auto it = entries.begin();
        for (int image = 0; image < size; ++image) {
            if (it != entries.end() && it->image == image) {
                ar.WriteInt(it->observation);
                ++it;
            } else {
                ar.WriteInt(-1);
            }
        }
        return static_cast<bool>(ar);
    }
    Reset(0);
    int32_t count = 0;
    ar.ReadInt(count);
    if (!ar.CheckCount(count, 4)) {
        ar.setstate(std::ios::failbit);
        return false;
    }
    for (int image = 0; image < count; ++image) {
        int32_t observation = -1;
        ar.ReadInt(observation);
        if (!ar) {
            entries.clear();
            return false;
        }
        if (observation != -1)
            entries.push_back({image, observation});
    }
    entries.shrink_to_fit();
    size = count;
    return true;
}
