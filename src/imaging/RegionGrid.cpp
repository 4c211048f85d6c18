#include "RegionGrid.h"

#include "CentroidSettings.h"
#include "Clock.h"
#include "EllipseRecord.h"
#include "ImageObservation.h"
#include "ImageRowCache.h"
#include "Vector.h"

#include <algorithm>
#include <cmath>
#include <unordered_set>

namespace {

// 8-neighbourhood as (column step, row step).
const int kNeighbours[8][2] = {{-1, -1}, {0, -1}, {1, -1}, {-1, 0}, {1, 0}, {-1, 1}, {0, 1}, {1, 1}};

uint64_t PixelKey(int row, int column)
{
    return (uint64_t(uint32_t(row)) << 32) | uint32_t(column);
}

bool InImage(CImageRowCache& image, int column, int row)
{
    return column >= 0 && row >= 0 && column < image.GetWidth() && row < image.GetHeight();
}

} // namespace

bool GrowRegionPixels(CImageRowCache& image, int column, int row, int threshold, int maxPixels,
                      std::vector<CGrownPixel>& region)
{
    region.clear();
    if (!InImage(image, column, row))
        return false;
    // Every pixel ever put in the front is in the region, the front or the
    // next front, so one set answers all three membership tests.
    std::unordered_set<uint64_t> seen;
    seen.reserve(size_t(std::max(0, std::min(maxPixels, 1 << 16))) * 2 + 16);
    std::vector<CGrownPixel> front{{row, column, image.GetPixel(row, column)}};
    std::vector<CGrownPixel> next;
    seen.insert(PixelKey(row, column));
    while (!front.empty() && int(region.size()) <= maxPixels) {
        next.clear();
        for (size_t i = front.size(); i-- > 0;) {
            const CGrownPixel p = front[i];
            region.push_back(p);
            for (const auto& step : kNeighbours) {
                const int c = p.column + step[0];
                const int r = p.row + step[1];
                if (!InImage(image, c, r))
                    continue;
                const int v = image.GetPixel(r, c);
                if (v >= threshold && seen.insert(PixelKey(r, c)).second)
                    next.push_back({r, c, v});
            }
        }
        front.swap(next);
    }
    return int(region.size()) <= maxPixels;
}

CRegionGrid::CRegionGrid(CImageRowCache* cache) : image(cache), minimumContrast(GetCentroidSettings().minGreyRange)
{
}

CRegionGrid::CRegionGrid(const CRegionGrid& other) : CIntGrid(other)
{
    CopyFields(other);
}

CRegionGrid& CRegionGrid::operator=(const CRegionGrid& other)
{
    if (&other != this) {
        CopyFrom(other);
        CopyFields(other);
    }
    return *this;
}

CRegionGrid::~CRegionGrid() = default;

void CRegionGrid::CopyFields(const CRegionGrid& other)
{
    image = other.image;
    edgeStep = other.edgeStep;
    minimumContrast = other.minimumContrast;
    maximumPixels = other.maximumPixels;
    columnOrigin = other.columnOrigin;
    rowOrigin = other.rowOrigin;
    regionId = other.regionId;
    pixelCount = other.pixelCount;
    minGrey = other.minGrey;
    maxGrey = other.maxGrey;
    ring = other.ring;
    valid = other.valid;
}

bool CRegionGrid::Inside(int column, int row) const
{
    return image != nullptr && InImage(*image, column, row);
}

void CRegionGrid::IncludeGrey(int grey)
{
    if (minGrey == -1 || maxGrey == -1) {
        minGrey = maxGrey = grey;
    } else {
        minGrey = std::min(minGrey, grey);
        maxGrey = std::max(maxGrey, grey);
    }
}

int CRegionGrid::ScanExtent(int column, int row, int dc, int dr, int* outColumn, int* outRow)
{
    if (!Inside(column, row) || (dc == 0 && dr == 0))
        return -1;
    const int s = image->GetPixel(row, column);
    int c = column;
    int r = row;
    int g = s;
    for (;;) {
        c += dc;
        r += dr;
        if (!Inside(c, r))
            return -1;
        const int previous = g;
        g = image->GetPixel(r, c);
        if (s - g < minimumContrast)
            continue;
        // Steep flank: go on until the step between neighbours flattens.
        if (std::abs(previous - g) < edgeStep)
            break;
        for (;;) {
            c += dc;
            r += dr;
            if (!Inside(c, r))
                return -1;
            const int before = g;
            g = image->GetPixel(r, c);
            if (std::abs(before - g) < edgeStep)
                break;
        }
        break;
    }
    int furtherColumn = c + dc;
    int furtherRow = r + dr;
    int level = g;
    if (Inside(furtherColumn, furtherRow)) {
        const int further = image->GetPixel(furtherRow, furtherColumn);
        if (further <= g) {
            level = further;
        } else {
            furtherColumn -= dc;
            furtherRow -= dr;
        }
    }
    if (outColumn != nullptr)
        *outColumn = furtherColumn;
    if (outRow != nullptr)
        *outRow = furtherRow;
    return s - level < minimumContrast ? -1 : level;
}

int CRegionGrid::EstimateBackground(int column, int row, CRegionBox* box)
{
    int c = 0;
    int r = 0;
    int sum = 0;
    bool failed = false;
    const int steps[4][2] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}};
    for (int k = 0; k < 4; ++k) {
        const int level = ScanExtent(column, row, steps[k][0], steps[k][1], &c, &r);
        if (level == -1) {
            failed = true;
            continue;
        }
        sum += level;
        if (box != nullptr) {
            if (k == 0)
                box->left = c;
            else if (k == 1)
                box->right = c;
            else if (k == 2)
                box->top = r;
            else
                box->bottom = r;
        }
    }
    return failed ? -1 : sum / 4;
}

bool CRegionGrid::GrowFromSeed(int column, int row, double fraction)
{
    const int b = EstimateBackground(column, row);
    if (b == -1)
        return false;
    const int s = image->GetPixel(row, column);
    const int threshold = int((s - b) * fraction) + b;
    const int64_t start = MonotonicMilliseconds();
    std::vector<CGrownPixel> region;
    const bool grown = GrowRegionPixels(*image, column, row, threshold, maximumPixels, region);
    image->AddScanTime(double(MonotonicMilliseconds() - start));
    if (!grown)
        return false;
    int top = row, bottom = row, left = column, right = column;
    for (const CGrownPixel& p : region) {
        top = std::min(top, p.row);
        bottom = std::max(bottom, p.row);
        left = std::min(left, p.column);
        right = std::max(right, p.column);
    }
    if (!Allocate(bottom - top + 3, right - left + 3))
        return false;
    Fill(-1);
    columnOrigin = left - 1;
    rowOrigin = top - 1;
    minGrey = maxGrey = s;
    for (const CGrownPixel& p : region) {
        Set(p.row - rowOrigin, p.column - columnOrigin, p.grey);
        IncludeGrey(p.grey);
    }
    pixelCount = int(region.size());
    return true;
}

bool CRegionGrid::GrowScanLines(int column, int row, double fraction)
{
    CRegionBox extent;
    const int b = EstimateBackground(column, row, &extent);
    if (b == -1)
        return false;
    const int width = image->GetWidth();
    const int height = image->GetHeight();
    const int c0 = std::max(0, 2 * extent.left - extent.right - 1);
    const int r0 = std::max(0, 2 * extent.top - extent.bottom - 1);
    const int c1 = std::min(width - 1, c0 + 3 * (extent.right - extent.left + 1));
    const int r1 = std::min(height - 1, r0 + 3 * (extent.bottom - extent.top + 1));
    if (!Allocate(r1 - r0 + 1, c1 - c0 + 1))
        return false;
    Fill(-1);
    columnOrigin = c0;
    rowOrigin = r0;
    const int s = image->GetPixel(row, column);
    const int t = int((s - b) * fraction) + b;
    minGrey = maxGrey = s;
    pixelCount = 0;
    CRegionBox track;
    track.top = track.bottom = row;
    track.left = track.right = column;

    // Fills one row from x; next and below receive the first column whose
    // pixel in the next row (and, on the seed row, the row below) is > t.
    auto fillRow = [&](int y, int x, int dir, int& nextStart, int* belowStart) -> bool {
        nextStart = -1;
        const bool hasNext = y + dir >= 0 && y + dir < height;
        const bool hasBelow = belowStart != nullptr && y + 1 < height;
        auto take = [&](int xc, int g) -> bool {
            Set(y - rowOrigin, xc - columnOrigin, g);
            ++pixelCount;
            IncludeGrey(g);
            track.left = std::min(track.left, xc);
            track.right = std::max(track.right, xc);
            if (dir < 0)
                track.top = std::min(track.top, y);
            else
                track.bottom = std::max(track.bottom, y);
            if (hasNext && nextStart == -1 && image->GetPixel(y + dir, xc) > t)
                nextStart = xc;
            if (hasBelow && *belowStart == -1 && image->GetPixel(y + 1, xc) > t)
                *belowStart = xc;
            return pixelCount < maximumPixels;
        };
        const int g0 = image->GetPixel(y, x);
        if (g0 <= t)
            return true;
        if (!take(x, g0))
            return false;
        bool leftOpen = true;
        bool rightOpen = true;
        for (int k = 1; leftOpen || rightOpen; ++k) {
            if (leftOpen) {
                const int xl = x - k;
                if (xl < c0)
                    return false;
                const int g = image->GetPixel(y, xl);
                if (g <= t)
                    leftOpen = false;
                else if (!take(xl, g))
                    return false;
            }
            if (rightOpen) {
                const int xr = x + k;
                if (xr > c1)
                    return false;
                const int g = image->GetPixel(y, xr);
                if (g <= t)
                    rightOpen = false;
                else if (!take(xr, g))
                    return false;
            }
        }
        return true;
    };
    auto pass = [&](int y, int x, int dir, int* belowStart) -> bool {
        for (;;) {
            int nextStart = -1;
            if (!fillRow(y, x, dir, nextStart, belowStart))
                return false;
            belowStart = nullptr;
            if (nextStart == -1)
                return true;
            y += dir;
            if (y < r0 || y > r1)
                return false;
            x = nextStart;
        }
    };
    int downStart = -1;
    if (!pass(row, column, -1, &downStart))
        return false;
    if (downStart != -1) {
        if (row + 1 > r1 || !pass(row + 1, downStart, 1, nullptr))
            return false;
    }
    track.top -= 1;
    track.bottom += 1;
    track.left -= 1;
    track.right += 1;
    CropToBox(track);
    return true;
}

bool CRegionGrid::Expand(int rings, bool darkOnly)
{
    if (rows == 0 || columns == 0)
        return false;
    rings = std::max(rings, 0);
    const int64_t start = MonotonicMilliseconds();
    const int newRows = rows + 2 * rings;
    const int newColumns = columns + 2 * rings;
    CIntGrid grown(newRows, newColumns);
    grown.Fill(-1);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            const int v = Get(r, c);
            grown.Set(r + rings, c + rings, v == 0 ? -1 : v);
        }
    // Stamps over the new grid: which ring's list a cell belongs to.
    std::vector<int> stamp(size_t(newRows) * size_t(newColumns), 0);
    auto stampAt = [&](int r, int c) -> int& { return stamp[size_t(r) * size_t(newColumns) + size_t(c)]; };
    std::vector<CGrownPixel> boundary;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            const int v = Get(r, c);
            if (v < 0)
                continue;
            bool edge = false;
            if (r > 0 && Get(r - 1, c) <= 0)
                edge = true;
            if (r + 1 < rows && Get(r + 1, c) <= 0)
                edge = true;
            if (c > 0 && Get(r, c - 1) <= 0)
                edge = true;
            if (c + 1 < columns && Get(r, c + 1) <= 0)
                edge = true;
            if (edge) {
                boundary.push_back({r + rowOrigin, c + columnOrigin, v});
                stampAt(r + rings, c + rings) = 1;
            }
        }
    rowOrigin -= rings;
    columnOrigin -= rings;
    std::vector<CGrownPixel> ring;
    for (int i = 0; i < rings; ++i) {
        const int limit = minGrey + edgeStep;
        const int inList = i + 1;
        const int inRing = i + 2;
        ring.clear();
        for (size_t k = boundary.size(); k-- > 0;) {
            const CGrownPixel p = boundary[k];
            for (const auto& step : kNeighbours) {
                const int c = p.column + step[0];
                const int r = p.row + step[1];
                if (!Inside(c, r))
                    continue;
                const int gr = r - rowOrigin;
                const int gc = c - columnOrigin;
                if (!grown.Contains(gr, gc))
                    continue;
                const int v = image->GetPixel(r, c);
                int& mark = stampAt(gr, gc);
                if (grown.Get(gr, gc) != -1 || mark == inList || mark == inRing)
                    continue;
                if (darkOnly && i > 0 && v >= limit)
                    continue;
                mark = inRing;
                ring.push_back({r, c, v});
            }
        }
        boundary.swap(ring);
        for (const CGrownPixel& p : boundary) {
            grown.Set(p.row - rowOrigin, p.column - columnOrigin, p.grey);
            ++pixelCount;
            IncludeGrey(p.grey);
        }
    }
    CopyFrom(grown);
    if (image != nullptr)
        image->AddScanTime(double(MonotonicMilliseconds() - start));
    return true;
}

void CRegionGrid::ExtractFromLabels(const CBlob& blob, const CIntGrid& labels)
{
    const int newRows = std::max(0, blob.bottom - blob.top + 1);
    const int newColumns = std::max(0, blob.right - blob.left + 1);
    Allocate(newRows, newColumns);
    rowOrigin = blob.top;
    columnOrigin = blob.left;
    regionId = blob.id;
    pixelCount = 0;
    minGrey = maxGrey = -1;
    ring = 0;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            const int ir = r + rowOrigin;
            const int ic = c + columnOrigin;
            const int label = labels.Contains(ir, ic) ? labels.Get(ir, ic) : 0;
            const bool member = label > 0 && (label == regionId || blob.members.Contains(label));
            if (member && Inside(ic, ir)) {
                const int g = image->GetPixel(ir, ic);
                Set(r, c, g);
                ++pixelCount;
                IncludeGrey(g);
            } else {
                Set(r, c, -1);
            }
        }
}

bool CRegionGrid::TrimBelow(int minimumDrop, double factor)
{
    std::vector<double> values;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c)
            if (Get(r, c) >= 0)
                values.push_back(Get(r, c));
    if (values.empty())
        return true;
    CValueSeries series(int(values.size()));
    for (size_t i = 0; i < values.size(); ++i)
        series[int(i)] = values[i];
    const double top = series.Max();
    const double spread = series.StdDev(series.Mean());
    const int cut = int(top - std::max(spread * factor, double(minimumDrop)));
    bool removed = false;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            const int v = Get(r, c);
            if (v >= 0 && v < cut) {
                Set(r, c, -1);
                --pixelCount;
                removed = true;
            }
        }
    if (removed)
        UpdateGreyRange();
    return true;
}

void CRegionGrid::UpdateGreyRange()
{
    minGrey = maxGrey = -1;
    pixelCount = 0;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c)
            if (Get(r, c) >= 0) {
                IncludeGrey(Get(r, c));
                ++pixelCount;
            }
}

void CRegionGrid::CropToBox(const CRegionBox& box)
{
    CIntGrid cropped(std::max(0, box.bottom - box.top + 1), std::max(0, box.right - box.left + 1));
    cropped.Fill(-1);
    for (int r = 0; r < cropped.GetRows(); ++r)
        for (int c = 0; c < cropped.GetColumns(); ++c) {
            const int gr = r + box.top - rowOrigin;
            const int gc = c + box.left - columnOrigin;
            if (Contains(gr, gc))
                cropped.Set(r, c, Get(gr, gc));
        }
    CopyFrom(cropped);
    rowOrigin = box.top;
    columnOrigin = box.left;
}

void CRegionGrid::GetBox(CRegionBox& box) const
{
    box.top = rowOrigin;
    box.left = columnOrigin;
    box.bottom = rowOrigin + rows - 1;
    box.right = columnOrigin + columns - 1;
}

bool CRegionGrid::ComputeCentroid(double& column, double& row) const
{
    if (rows == 0)
        return false;
    int base = -1;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            const int v = Get(r, c);
            if (v < 0)
                continue;
            const bool border = r == 0 || c == 0 || r + 1 == rows || c + 1 == columns || Get(r - 1, c) == -1 ||
                                Get(r + 1, c) == -1 || Get(r, c - 1) == -1 || Get(r, c + 1) == -1;
            if (border && (base == -1 || v < base))
                base = v;
        }
    if (base == -1)
        return false;
    uint64_t sum = 0;
    uint64_t sumColumn = 0;
    uint64_t sumRow = 0;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c) {
            const int w = Get(r, c) - base;
            if (Get(r, c) < 0 || w <= 0)
                continue;
            sum += uint64_t(w);
            sumColumn += uint64_t(c + 1) * uint64_t(w);
            sumRow += uint64_t(r + 1) * uint64_t(w);
        }
    if (sum == 0)
        return false;
    column = double(sumColumn) / double(sum) - 1.0 + columnOrigin + 0.5;
    row = double(sumRow) / double(sum) - 1.0 + rowOrigin + 0.5;
    return true;
}

bool CRegionGrid::FitEllipse(CTargetEllipse& ellipse, double threshold, double* rms) const
{
    if (rows == 0 || columns == 0)
        return false;
    if (!ellipse.ComputeInitialEllipse(cells.data(), columns, rows, threshold, rms))
        return false;
    ellipse.centreX += columnOrigin;
    ellipse.centreY += rowOrigin;
    return true;
}

int CRegionGrid::ClassifyShape(CTargetEllipse& ellipse, int minimumDrop, bool fitEllipse, bool debug)
{
    if (!Expand(1, true))
        return 2;
    TrimBelow(minimumDrop, 3.0);
    CIntGrid mask(rows, columns);
    int startRow = -1;
    int startColumn = -1;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c)
            if (Get(r, c) >= 0) {
                mask.Set(r, c, 1);
                startRow = r;
                startColumn = c;
            }
    auto dump = [&](const char* name, bool header) {
        if (debug)
            mask.Dump(DebugDumpPath(name).c_str(), 2, header);
    };
    dump("dump0.txt", false);
    const int marked = mask.MarkBoundary(2);
    dump("dump1.txt", false);
    CIntList rowList;
    CIntList columnList;
    const int first = mask.TraceBoundary(startRow, startColumn, rowList, columnList, 2);
    dump("dump2.txt", true);
    if (first == marked)
        return 0;
    if (fitEllipse) {
        CObservationList points;
        for (int i = 0; i < rowList.GetSize(); ++i)
            points.AddCopy(CImageObservation(CNameBuffer(""), *columnList.GetAt(i), *rowList.GetAt(i)));
        double fitRms = 0.0;
        if (!FitConicToPoints(ellipse, points, nullptr, &fitRms) || fitRms > 0.6)
            return 2;
    }
    const int second = mask.TraceBoundary(-1, -1, rowList, columnList, 2);
    dump("dump3.txt", true);
    if (first + second == marked) {
        ring = 1;
        return 1;
    }
    return 2;
}

bool CRegionGrid::MeasureTarget(int column, int row, double& outColumn, double& outRow)
{
    return GrowScanLines(column, row, 0.2) && Expand(2, false) && ComputeCentroid(outColumn, outRow);
}

void CRegionGridList::SetImage(CImageRowCache* cache)
{
    image = cache;
    for (int i = 0; i < GetSize(); ++i)
        GetAt(i)->image = cache;
}

int CRegionGridList::AddFromBlob(const CIntGrid& labels, CBlob& blob)
{
    lastId = blob.id;
    CRegionGrid* grid = AddNew();
    if (blob.top > 0)
        --blob.top;
    if (blob.bottom < labels.GetRows() - 1)
        ++blob.bottom;
    if (blob.left > 0)
        --blob.left;
    if (blob.right < labels.GetColumns() - 1)
        ++blob.right;
    grid->image = image;
    grid->ExtractFromLabels(blob, labels);
    return blob.id;
}

CRegionGrid* CRegionGridList::FindById(int id) const
{
    for (int i = 0; i < GetSize(); ++i)
        if (GetAt(i)->regionId == id)
            return GetAt(i);
    return nullptr;
}
