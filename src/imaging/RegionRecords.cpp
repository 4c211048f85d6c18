#include "RegionRecords.h"
#include "FileIO.h"

#include "EllipseRecord.h"
#include "Matrix.h"
#include "Vector.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace {

constexpr int kPixelGrowth = 100;
constexpr int32_t kBoundaryMark = 2;

int ExtendLow(int own, int value) { return value == -1 ? own : (own == -1 ? value : std::min(own, value)); }
int ExtendHigh(int own, int value) { return value == -1 ? own : (own == -1 ? value : std::max(own, value)); }

} // namespace

// ---------------------------------------------------------------------------
// Blobs

void CBlob::Extend(int minRow, int maxRow, int minColumn, int maxColumn)
{
    top = ExtendLow(top, minRow);
    bottom = ExtendHigh(bottom, maxRow);
    left = ExtendLow(left, minColumn);
    right = ExtendHigh(right, maxColumn);
}

void CBlob::Set(int newTop, int newBottom, int newLeft, int newRight)
{
    top = newTop;
    bottom = newBottom;
    left = newLeft;
    right = newRight;
}

void CBlob::Merge(const CBlob& other)
{
    members.Add(other.id);
    for (int i = 0; i < other.members.GetSize(); ++i)
        members.Add(*other.members.GetAt(i));
    Extend(other.top, other.bottom, other.left, other.right);
}

void CBlob::Inflate(int n)
{
    top -= n;
    left -= n;
    bottom += n;
    right += n;
}

CBlob* CRegionBoxList::GetBlob(int label) const
{
    const int index = label - 2;
    return index >= 0 && index < GetSize() ? GetAt(index) : nullptr;
}

void CRegionBoxList::MergeLabels(const CIntList& labels)
{
    if (labels.GetSize() == 0)
        return;
    CBlob* root = nullptr;
    for (int i = 0; i < labels.GetSize() && root == nullptr; ++i) {
        CBlob* blob = GetBlob(*labels.GetAt(i));
        if (blob != nullptr && blob->mergedInto != -1)
            root = blob;
    }
    if (root == nullptr)
        root = GetBlob(*labels.GetAt(0));
    if (root == nullptr)
        return;
    // The chain cannot be longer than the list; a longer one is a cycle.
    for (int steps = 0; root->mergedInto != -1 && steps < GetSize(); ++steps) {
        CBlob* next = GetBlob(root->mergedInto);
        if (next == nullptr || next == root)
            break;
        root = next;
    }
    const int rootLabel = root->id;
    for (int i = 0; i < labels.GetSize(); ++i) {
        CBlob* blob = GetBlob(*labels.GetAt(i));
        if (blob == nullptr || blob->id == rootLabel)
            continue;
        root->Merge(*blob);
        blob->mergedInto = rootLabel;
    }
}

// ---------------------------------------------------------------------------
// Regions

CRegion::CRegion() : pixels(kPixelGrowth) {}

CRegion::CRegion(const CRegion& other) : pixels(kPixelGrowth) { Assign(other); }

CRegion& CRegion::operator=(const CRegion& other)
{
    if (&other != this)
        Assign(other);
    return *this;
}

CRegion::~CRegion() = default;

void CRegion::Reset()
{
    regionId = -1;
    contour.clear();
    while (pixels.GetSize() > 0)
        pixels.RemoveAt(pixels.GetSize() - 1, 1);
    pixels.RemoveAll();
    pixels.SetGrowBy(kPixelGrowth);
    maxGrey = 0;
    minGrey = 255;
    meanGrey = 0.0;
    minRow = maxRow = minColumn = maxColumn = 0;
    valid = 1;
    eoPoint = 0;
}

int CRegion::AddPixel(const CSeedPixel* pixel)
{
    if (pixel == nullptr)
        return 0;
    pixels.AddCopy(*pixel);
    const int n = pixels.GetSize();
    const int v = pixel->value;
    if (n == 1) {
        minRow = maxRow = pixel->row;
        minColumn = maxColumn = pixel->column;
        meanGrey = v;
        maxGrey = minGrey = v;
    } else {
        meanGrey = ((n - 1) * meanGrey + v) / n;
        maxGrey = std::max(maxGrey, v);
        minGrey = std::min(minGrey, v);
        minRow = std::min<int>(minRow, pixel->row);
        maxRow = std::max<int>(maxRow, pixel->row);
        minColumn = std::min<int>(minColumn, pixel->column);
        maxColumn = std::max<int>(maxColumn, pixel->column);
    }
    return 1;
}

void CRegion::Assign(const CRegion& other)
{
    if (&other == this)
        return;
    regionId = other.regionId;
    minRow = other.minRow;
    maxRow = other.maxRow;
    minColumn = other.minColumn;
    maxColumn = other.maxColumn;
    valid = other.valid;
    eoPoint = other.eoPoint;
    maxGrey = other.maxGrey;
    minGrey = other.minGrey;
    meanGrey = other.meanGrey;
    contour.clear();
    pixels.Copy(other.pixels);
}

int CRegion::FindPixelIndex(int row, int column) const
{
    for (int i = 0; i < pixels.GetSize(); ++i) {
        const CSeedPixel* p = pixels.GetAt(i);
        if (p != nullptr && p->row == row && p->column == column)
            return i;
    }
    return -1;
}

CSeedPixel* CRegion::FindPixel(int row, int column) const
{
    const int i = FindPixelIndex(row, column);
    return i < 0 ? nullptr : pixels.GetAt(i);
}

void CRegion::RecomputeStatistics()
{
    maxGrey = 0;
    minGrey = 255;
    meanGrey = 0.0;
    minRow = maxRow = minColumn = maxColumn = 0;
    int64_t sum = 0;
    int n = 0;
    for (int i = 0; i < pixels.GetSize(); ++i) {
        const CSeedPixel* p = pixels.GetAt(i);
        if (p == nullptr)
            continue;
        if (n == 0) {
            minRow = maxRow = p->row;
            minColumn = maxColumn = p->column;
        } else {
            minRow = std::min<int>(minRow, p->row);
            maxRow = std::max<int>(maxRow, p->row);
            minColumn = std::min<int>(minColumn, p->column);
            maxColumn = std::max<int>(maxColumn, p->column);
        }
        maxGrey = std::max<int>(maxGrey, p->value);
        minGrey = std::min<int>(minGrey, p->value);
        sum += p->value;
        ++n;
    }
    if (n > 0)
        meanGrey = double(sum) / n;
}

bool CRegion::ComputeCentroid(double& row, double& column) const
{
    int64_t weight = 0;
    int64_t rowSum = 0;
    int64_t columnSum = 0;
    for (int i = 0; i < pixels.GetSize(); ++i) {
        const CSeedPixel* p = pixels.GetAt(i);
        if (p == nullptr)
            continue;
        weight += p->value;
        rowSum += int64_t(p->row) * p->value;
        columnSum += int64_t(p->column) * p->value;
    }
    if (weight == 0)
        return false;
    row = double(rowSum) / double(weight) + 0.5;
    column = double(columnSum) / double(weight) + 0.5;
    return true;
}

bool CRegion::GetBoxCentre(double& row, double& column) const
{
    const int rowSpan = maxRow - minRow;
    const int columnSpan = maxColumn - minColumn;
    if (rowSpan < 0 || columnSpan < 0)
        return false;
    row = minRow + rowSpan / 2.0;
    column = minColumn + columnSpan / 2.0;
    return true;
}

int CRegion::GetMaxExtent() const { return std::max(maxRow - minRow + 1, maxColumn - minColumn + 1); }

int CRegion::IsCompact() const
{
    const int h = maxRow - minRow + 1;
    const int w = maxColumn - minColumn + 1;
    if (h <= 0 || w <= 0 || pixels.GetSize() == 0)
        return 0;
    const double fill = double(pixels.GetSize()) / (double(h) * double(w));
    const double aspect = double(std::max(h, w)) / double(std::min(h, w));
    return fill >= 0.5 && fill <= 1.0 && aspect <= 3.0 ? 1 : 0;
}

int CRegion::CountBoundaryPixels() const
{
    int count = 0;
    for (int i = 0; i < pixels.GetSize(); ++i) {
        const CSeedPixel* p = pixels.GetAt(i);
        if (p != nullptr && p->boundary == 1)
            ++count;
    }
    return count;
}

void CRegion::PaintValue(CIntGrid& grid, int rowOrigin, int columnOrigin, int32_t value) const
{
    for (int i = 0; i < pixels.GetSize(); ++i) {
        const CSeedPixel* p = pixels.GetAt(i);
        if (p != nullptr && grid.Contains(p->row - rowOrigin, p->column - columnOrigin))
            grid.Set(p->row - rowOrigin, p->column - columnOrigin, value);
    }
}

void CRegion::PaintGrey(CIntGrid& grid, int rowOrigin, int columnOrigin) const
{
    for (int i = 0; i < pixels.GetSize(); ++i) {
        const CSeedPixel* p = pixels.GetAt(i);
        if (p != nullptr && grid.Contains(p->row - rowOrigin, p->column - columnOrigin))
            grid.Set(p->row - rowOrigin, p->column - columnOrigin, p->value);
    }
}

int CRegion::MarkBoundary(CIntGrid& grid, int rowOrigin, int columnOrigin, int32_t mark, int excludedRow1,
                          int excludedRow2, int excludedColumn1, int excludedColumn2)
{
    for (int i = 0; i < pixels.GetSize(); ++i) {
        CSeedPixel* p = pixels.GetAt(i);
        if (p == nullptr || p->row == excludedRow1 || p->row == excludedRow2 || p->column == excludedColumn1 ||
            p->column == excludedColumn2)
            continue;
        const int r = p->row - rowOrigin;
        const int c = p->column - columnOrigin;
        if (r < 1 || c < 1 || r + 1 >= grid.GetRows() || c + 1 >= grid.GetColumns())
            continue; // no margin around this pixel
        const int32_t v = grid.Get(r, c);
        if (grid.Get(r, c + 1) < v || grid.Get(r + 1, c) < v || grid.Get(r, c - 1) < v || grid.Get(r - 1, c) < v) {
            grid.Set(r, c, mark);
            p->boundary = 1;
        }
    }
    return 1;
}

CSeedPixel* CRegion::NextBoundaryPixel(const CSeedPixel* pixel, const CIntGrid& grid, int rowOrigin,
                                       int columnOrigin, int32_t mark) const
{
    if (pixel == nullptr)
        return nullptr;
    int r = 0;
    int c = 0;
    if (!FindMarkedNeighbour(grid, pixel->row - rowOrigin, pixel->column - columnOrigin, mark, r, c))
        return nullptr;
    return FindPixel(r + rowOrigin, c + columnOrigin);
}

bool CRegion::TraceContour(CSeedPixel* start, CIntGrid& grid)
{
    if (start == nullptr)
        return false;
    const int rowOrigin = minRow - 1;
    const int columnOrigin = minColumn - 1;
    // Pixel of every grid cell, so that each step is a look-up.
    const int columns = grid.GetColumns();
    std::vector<CSeedPixel*> cellPixels(size_t(grid.GetRows()) * size_t(std::max(columns, 0)), nullptr);
    for (int i = 0; i < pixels.GetSize(); ++i) {
        CSeedPixel* p = pixels.GetAt(i);
        if (p != nullptr && grid.Contains(p->row - rowOrigin, p->column - columnOrigin)) {
            CSeedPixel*& cell = cellPixels[size_t(p->row - rowOrigin) * columns + (p->column - columnOrigin)];
            if (cell == nullptr)
                cell = p;
        }
    }
    for (CSeedPixel* p = start; p != nullptr;) {
        p->traced = 1;
        contour.push_back(p);
        const int r = p->row - rowOrigin;
        const int c = p->column - columnOrigin;
        if (!grid.Contains(r, c))
            break;
        grid.Set(r, c, 1);
        int nextRow = 0;
        int nextColumn = 0;
        if (!FindMarkedNeighbour(grid, r, c, kBoundaryMark, nextRow, nextColumn))
            break;
        p = cellPixels[size_t(nextRow) * columns + nextColumn];
    }
    return true;
}

void CRegion::DeletePixelAt(int index)
{
    CSeedPixel* p = pixels.GetAt(index);
    contour.erase(std::remove(contour.begin(), contour.end(), p), contour.end());
    pixels.RemoveAt(index, 1);
}

void CRegion::TrimBelow(double minimumDrop, double factor)
{
    const int n = pixels.GetSize();
    if (n == 0)
        return;
    CValueSeries series(n);
    int maximum = 0;
    for (int i = 0; i < n; ++i) {
        const CSeedPixel* p = pixels.GetAt(i);
        const int v = p != nullptr ? p->value : 0;
        series[i] = v;
        maximum = std::max(maximum, v);
    }
    const double deviation = series.StdDev(series.Mean());
    const double cut = std::trunc(maximum - std::max(deviation * factor, minimumDrop));
    for (int i = n - 1; i >= 0; --i) {
        const CSeedPixel* p = pixels.GetAt(i);
        if (p != nullptr && p->value < cut)
            DeletePixelAt(i);
    }
    RecomputeStatistics();
}

void CRegion::BuildWorkingGrid(CIntGrid& grid, bool markBoundary)
{
    grid.Allocate(maxRow - minRow + 3, maxColumn - minColumn + 3);
    for (int i = 0; i < pixels.GetSize(); ++i) {
        CSeedPixel* p = pixels.GetAt(i);
        if (p != nullptr)
            p->boundary = p->traced = 0;
    }
    PaintValue(grid, minRow - 1, minColumn - 1, 1);
    if (markBoundary)
        MarkBoundary(grid, minRow - 1, minColumn - 1, kBoundaryMark, -1, -1, -1, -1);
}

bool CRegion::CheckInteriorGrey(double limit)
{
    if (pixels.GetSize() == 0)
        return false;
    CIntGrid grid;
    BuildWorkingGrid(grid, true);
    if (grid.GetRows() <= 3 || grid.GetColumns() <= 3)
        return false;
    if (grid.GetRows() == 4 || grid.GetColumns() == 4)
        return true;
    const int interior = pixels.GetSize() - CountBoundaryPixels();
    if (interior <= 2)
        return true;
    for (int i = pixels.GetSize() - 1; i >= 0; --i) {
        const CSeedPixel* p = pixels.GetAt(i);
        if (p != nullptr && p->boundary == 1)
            DeletePixelAt(i);
    }
    CValueSeries series(pixels.GetSize());
    for (int i = 0; i < pixels.GetSize(); ++i)
        series[i] = pixels.GetAt(i) != nullptr ? pixels.GetAt(i)->value : 0;
    RecomputeStatistics();
    const double deviation = series.StdDev(series.Mean());
    return std::trunc(100.0 * deviation) <= 100.0 * limit;
}

bool CRegion::CheckEllipse()
{
    if (pixels.GetSize() == 0)
        return false;
    CIntGrid grid;
    BuildWorkingGrid(grid, true);
    if (grid.GetRows() <= 3 || grid.GetColumns() <= 3)
        return false;
    if (grid.GetRows() == 4 || grid.GetColumns() == 4)
        return true;
    contour.clear();
    TraceContour(pixels.GetAt(0), grid);
    return FitEllipse(nullptr);
}

bool CRegion::FitEllipse(CEllipseRecord* ellipse)
{
    if (pixels.GetSize() < 5 || contour.size() < 5)
        return false;
    double r0 = 0.0;
    double c0 = 0.0;
    if (!GetBoxCentre(r0, c0))
        return false;
    CMatrix normal(6, -1);
    for (const CSeedPixel* p : contour) {
        const double dr = p->row - r0;
        const double dc = p->column - c0;
        const double row[6] = {dr * dr, dr * dc, dc * dc, dr, dc, 1.0};
        for (int a = 0; a < 6; ++a)
            for (int b = a; b < 6; ++b)
                normal.SetAt(normal.GetAt(a, b) + row[a] * row[b], a, b);
    }
    CVector q(5);
    if (!normal.LdltDecompose() || !normal.SolveAugmentedUnit(q))
        return false;
    const double A = q[0], B = q[1], C = q[2], D = q[3], E = q[4];
    double den = 4.0 * A * C - B * B;
    if (std::fabs(den) < 1e-6)
        den += 1e-6;
    const double rowOffset = (B * E - 2.0 * C * D) / den;
    const double columnOffset = (B * D - 2.0 * A * E) / den;
    double t = 0.0;
    if (std::fabs(B) >= 1e-6 || std::fabs(A - C) >= 1e-6)
        t = std::atan2(B, A - C) / 2.0;
    const double ct = std::cos(t);
    const double st = std::sin(t);
    auto raise = [](double d) { return std::fabs(d) < 1e-6 ? d + 1e-6 : d; };
    double axis1 = 0.0;
    double axis2 = 0.0;
    if (std::fabs(t) < 1e-6) {
        axis1 = std::sqrt(1.0 / raise(A));
        axis2 = std::sqrt(1.0 / raise(C));
    } else {
        axis1 = std::sqrt(1.0 / raise(ct * ct * A + st * st * C + st * ct * B));
        axis2 = std::sqrt(1.0 / raise(st * st * A + ct * ct * C - st * ct * B));
    }
    // A hyperbola or a degenerate conic has no real semi-axes.
    if (!std::isfinite(axis1) || !std::isfinite(axis2) || !std::isfinite(rowOffset) ||
        !std::isfinite(columnOffset))
        return false;
    // The record keeps its minor semi-axis along the rotation direction,
    // here measured from the row axis towards the column axis.
    CEllipseRecord fitted;
    fitted.SetAxes(axis1, axis2, axis1 > axis2 ? t + std::atan2(1.0, 1.0) * 2.0 : t);
    if (ellipse != nullptr)
        *ellipse = fitted;
    if (axis1 / (axis2 + 1e-6) > 3.0 || axis2 / (axis1 + 1e-6) > 3.0)
        return false;
    double sum = 0.0;
    for (const CSeedPixel* p : contour) {
        const double dr = p->row - r0 - rowOffset;
        const double dc = p->column - c0 - columnOffset;
        double u = dr;
        double v = dc;
        if (std::fabs(t) >= 1e-6) {
            u = ct * dr + st * dc;
            v = -st * dr + ct * dc;
        }
        const double d = ComputeEllipseMeasure(u, v, axis1, axis2);
        sum += d * d;
    }
    const double rms = std::sqrt(sum / double(contour.size() - 1));
    return rms <= double(0.7f);
}

int CRegion::ClassifyShape(CEllipseRecord* ellipse, double minimumDrop, bool fitEllipse, bool debug)
{
    if (pixels.GetSize() == 0)
        return 2;
    CIntGrid grid;
    auto dump = [&](const char* name) {
        if (debug)
            Dump(grid, 0, 0, grid.GetRows() - 1, grid.GetColumns() - 1, DebugDumpPath(name).c_str());
    };
    BuildWorkingGrid(grid, false);
    dump("dump0.txt");
    TrimBelow(minimumDrop, 3.0);
    if (pixels.GetSize() == 0)
        return 2;
    BuildWorkingGrid(grid, true);
    dump("dump1.txt");
    contour.clear();
    TraceContour(pixels.GetAt(0), grid);
    const int firstLength = int(contour.size());
    if (firstLength == CountBoundaryPixels())
        return 0;
    if (fitEllipse && !FitEllipse(ellipse))
        return 2;
    CSeedPixel* second = nullptr;
    for (int i = 0; i < pixels.GetSize() && second == nullptr; ++i) {
        CSeedPixel* p = pixels.GetAt(i);
        if (p != nullptr && p->traced == 0 && p->boundary == 1)
            second = p;
    }
    if (second == nullptr)
        return 2;
    dump("dump2.txt");
    const bool traced = TraceContour(second, grid);
    dump("dump3.txt");
    const int length = int(contour.size());
    dump("dump4.txt");
    if (traced && length == CountBoundaryPixels()) {
        contour.resize(size_t(firstLength));
        eoPoint = 1;
        return 1;
    }
    return 2;
}

int CRegion::Merge(CRegion& other)
{
    if (&other == this)
        return 0;
    for (int i = other.pixels.GetSize() - 1; i >= 0; --i) {
        AddPixel(other.pixels.GetAt(i));
        other.DeletePixelAt(i);
    }
    other.RecomputeStatistics();
    return 1;
}

void CRegion::Dump(const CIntGrid& grid, int firstRow, int firstColumn, int lastRow, int lastColumn,
                   const char* path) const
{
    if (path == nullptr)
        return;
    std::string text;
    char field[128];
    std::snprintf(field, sizeof field, "Position   %d  %d\r\n", firstRow, firstColumn);
    text += field;
    std::snprintf(field, sizeof field, "PixelCount %d\r\n", pixels.GetSize());
    text += field;
    std::snprintf(field, sizeof field, "BlackWhiteRatio %d\r\n", IsCompact());
    text += field;
    std::snprintf(field, sizeof field, "EOPoint %d\r\n", eoPoint == 1 ? 1 : 0);
    text += field;
    const char* format = "%3d ";
    if ((firstRow == 0 && firstColumn == 0) || regionId < 10)
        format = "%1d ";
    else if (regionId < 100)
        format = "%2d ";
    for (int r = std::max(firstRow, 0); r <= lastRow && r < grid.GetRows(); ++r) {
        for (int c = std::max(firstColumn, 0); c <= lastColumn && c < grid.GetColumns(); ++c) {
            std::snprintf(field, sizeof field, format, grid.Get(r, c));
            text += field;
        }
        text += "\r\n";
    }
    // A debug dump: a file that cannot be written is left as it was.
    std::string error;
    WriteFileAtomically(path, text.data(), text.size(), error);
}
