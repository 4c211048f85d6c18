#include "ImageRowCache.h"

#include "DisplayImage.h"
#include "ImageObservation.h"

#include <algorithm>
#include <cmath>

CImageRowCache::CImageRowCache(CDisplayImage* source, int n, bool invertRows) : image(source), invert(invertRows)
{
    const int height = GetHeight();
    rowCount = std::max(0, std::min(n, height));
    if (rowCount > 0 && GetWidth() > 0 && rows.Allocate(rowCount, GetWidth())) {
        for (int i = 0; i < rowCount; ++i)
            ReadRow(i, i);
    } else {
        rowCount = 0;
    }
}

CImageRowCache::~CImageRowCache() = default;

int CImageRowCache::GetWidth() const { return image != nullptr ? image->GetWidth() : 0; }

int CImageRowCache::GetHeight() const { return image != nullptr ? image->GetHeight() : 0; }

void CImageRowCache::ReadRow(int bufferRow, int imageRow)
{
    uint8_t* buffer = *rows.GetRowPtr(bufferRow);
    const int width = rows.GetColumns();
    if (!image->GetGreyRow(imageRow, buffer))
        std::fill(buffer, buffer + width, uint8_t(0));
    if (invert)
        for (int c = 0; c < width; ++c)
            buffer[c] = uint8_t(255 - buffer[c]);
    ++rowsRead;
}

void CImageRowCache::Slide(int row)
{
    if (row >= firstRow && row < firstRow + rowCount)
        return;
    uint8_t** data = rows.GetData();
    if (row == firstRow + rowCount) {
        std::rotate(data, data + 1, data + rowCount);
        ++firstRow;
        ReadRow(rowCount - 1, firstRow + rowCount - 1);
    } else if (row == firstRow - 1) {
        std::rotate(data, data + rowCount - 1, data + rowCount);
        --firstRow;
        ReadRow(0, firstRow);
    } else {
        firstRow = std::max(0, row - rowCount / 2);
        if (firstRow + rowCount >= GetHeight())
            firstRow = GetHeight() - rowCount;
        for (int i = 0; i < rowCount; ++i)
            ReadRow(i, firstRow + i);
    }
}

const uint8_t* CImageRowCache::GetRow(int row)
{
    if (rowCount == 0 || row < 0 || row >= GetHeight())
        return nullptr;
    Slide(row);
    return *rows.GetRowPtr(row - firstRow);
}

int CImageRowCache::GetPixel(int row, int column)
{
    if (column < 0 || column >= rows.GetColumns())
        return 0;
    const uint8_t* data = GetRow(row);
    return data != nullptr ? data[column] : 0;
}

bool CRegionList::Add(CRegion* region)
{
    if (region == nullptr)
        return false;
    region->regionId = ++idCounter;
    array.Add(region);
    return true;
}

CRegion* CRegionList::FindById(int id) const
{
    for (int i = 0; i < GetSize(); ++i) {
        CRegion* region = GetAt(i);
        if (region != nullptr && region->regionId == id)
            return region;
    }
    return nullptr;
}

void CRegionList::RemoveAt(int index) { COwningArray<CRegion>::RemoveAt(index, 1); }

void CRegionList::DeleteAll()
{
    RemoveAll();
    idCounter = 0;
}

void CTargetNeighbourList::SetReference(const CImageObservation* centreRecord, const CEllipseRecord* ellipse)
{
    centre = centreRecord;
    reference = ellipse;
    const double a = ellipse != nullptr ? ellipse->rotation : 0.0;
    rotation[0][0] = std::cos(a);
    rotation[0][1] = std::sin(a);
    rotation[1][0] = -std::sin(a);
    rotation[1][1] = std::cos(a);
}

bool CTargetNeighbourList::AddByEllipseDistance(const CImageObservation* candidate)
{
    if (centre == nullptr || reference == nullptr || candidate == nullptr)
        return false;
    const double dx = candidate->x - centre->x;
    const double dy = candidate->y - centre->y;
    const double p = rotation[0][0] * dx + rotation[0][1] * dy;
    const double q = rotation[1][0] * dx + rotation[1][1] * dy;
    const double a = reference->major;
    const double b = reference->minor;
    // p lies along the rotation direction, which the record gives its
    // minor semi-axis; that component is stretched by a / b.
    const double stretched = b > 0.0 ? p * a / b : p;
    const double key = std::sqrt(stretched * stretched + q * q);
    CKeyedItem* item = AddNew();
    item->key = key;
    item->index = GetSize() - 1;
    item->item = const_cast<CImageObservation*>(candidate);
    return true;
}

bool CTargetNeighbourList::AddByAngle(const CImageObservation* candidate, int index)
{
    if (centre == nullptr || candidate == nullptr)
        return false;
    double key = std::atan2(candidate->y - centre->y, candidate->x - centre->x);
    if (key < 0.0)
        key += 8.0 * std::atan2(1.0, 1.0);
    if (key >= 8.0 * std::atan2(1.0, 1.0))
        key = 0.0;
    CKeyedItem* item = AddNew();
    item->key = key;
    item->index = index;
    item->item = const_cast<CImageObservation*>(candidate);
    return true;
}
