// Pixel-list records of segmented targets: seed pixels, regions with their
// statistics, contours and shape tests, and the boxes of label components.
#pragma once

#include "OwningArray.h"
#include "SegmentationGrids.h"

#include <cstdint>
#include <vector>

class CEllipseRecord;

class CSeedPixel {
public:
    CSeedPixel() = default;
    CSeedPixel(int row, int column, int value)
        : value(uint8_t(value)), row(uint16_t(row)), column(uint16_t(column))
    {
    }
    CSeedPixel(const CSeedPixel&) = default;
    CSeedPixel& operator=(const CSeedPixel&) = default;
    virtual ~CSeedPixel() = default;

    void Reset() { *this = CSeedPixel(); }

    uint8_t value = 0;
    uint16_t row = 0;
    uint16_t column = 0;
    int boundary = 0;
    int traced = 0;
};

class CSeedPixelList : public COwningArray<CSeedPixel> {
public:
    explicit CSeedPixelList(int growBy = 0) : COwningArray<CSeedPixel>(growBy) {}
};

// Box and member labels of a component of a label grid. Box values are -1
// while unset.
class CBlob {
public:
    explicit CBlob(int id = 0) : id(id) {}
    CBlob(const CBlob&) = default;
    CBlob& operator=(const CBlob&) = default;
    virtual ~CBlob() = default;

    // Widens the box by the ranges; -1 arguments are ignored.
    void Extend(int minRow, int maxRow, int minColumn, int maxColumn);
    void Set(int newTop, int newBottom, int newLeft, int newRight);
    // Adds the other's id and members (each once) and widens the box by its box.
    void Merge(const CBlob& other);
    void Inflate(int n);

    int bottom = -1;
    int top = -1;
    int right = -1;
    int left = -1;
    int id = 0;
    int mergedInto = -1;
    CIntList members;
};

// Blobs by label: label L is element L - 2.
class CRegionBoxList : public COwningArray<CBlob> {
public:
    explicit CRegionBoxList(int growBy = 0) : COwningArray<CBlob>(growBy) {}
    // The blob of a label, or null.
    CBlob* GetBlob(int label) const;
    // Merges the blobs of equivalent labels into their root.
    void MergeLabels(const CIntList& labels);
};

class CRegion {
public:
    CRegion();
    CRegion(const CRegion& other);
    CRegion& operator=(const CRegion& other);
    virtual ~CRegion();

    void Reset();
    int AddPixel(const CSeedPixel* pixel);
    void Assign(const CRegion& other);
    int FindPixelIndex(int row, int column) const;
    CSeedPixel* FindPixel(int row, int column) const;
    void RecomputeStatistics();
    bool ComputeCentroid(double& row, double& column) const;
    bool GetBoxCentre(double& row, double& column) const;
    int GetMaxExtent() const;
    int IsCompact() const;
    int CountBoundaryPixels() const;
    void PaintValue(CIntGrid& grid, int rowOrigin, int columnOrigin, int32_t value) const;
    void PaintGrey(CIntGrid& grid, int rowOrigin, int columnOrigin) const;
    // Marks pixels with a smaller 4-neighbour in the grid; pixels on the
    // excluded rows and columns (-1: none) are left alone.
    int MarkBoundary(CIntGrid& grid, int rowOrigin, int columnOrigin, int32_t mark, int excludedRow1,
                     int excludedRow2, int excludedColumn1, int excludedColumn2);
    CSeedPixel* NextBoundaryPixel(const CSeedPixel* pixel, const CIntGrid& grid, int rowOrigin, int columnOrigin,
                                  int32_t mark) const;
    // Appends the contour from the start pixel on a working grid; false
    // without a start pixel.
    bool TraceContour(CSeedPixel* start, CIntGrid& grid);
    void TrimBelow(double minimumDrop, double factor);
    bool CheckInteriorGrey(double limit);
    bool CheckEllipse();
    bool FitEllipse(CEllipseRecord* ellipse);
    int ClassifyShape(CEllipseRecord* ellipse, double minimumDrop, bool fitEllipse, bool debug);
    int Merge(CRegion& other);
    void Dump(const CIntGrid& grid, int firstRow, int firstColumn, int lastRow, int lastColumn,
              const char* path) const;

    int GetPixelCount() const { return pixels.GetSize(); }
    CSeedPixel* GetPixel(int i) const { return pixels.GetAt(i); }
    const std::vector<CSeedPixel*>& GetContour() const { return contour; }

    int regionId = -1;
    CSeedPixelList pixels;
    std::vector<CSeedPixel*> contour; // pixels of this region, not owned
    int maxGrey = 0;
    int minGrey = 255;
    double meanGrey = 0.0;
    int minRow = 0;
    int maxRow = 0;
    int minColumn = 0;
    int maxColumn = 0;
    int valid = 1;
    int eoPoint = 0;

private:
    // Grid of the box with a margin of one cell, every pixel painted 1 and
    // the boundary marked 2; the flags of the pixels start cleared.
    void BuildWorkingGrid(CIntGrid& grid, bool markBoundary);
    void DeletePixelAt(int index);
};
