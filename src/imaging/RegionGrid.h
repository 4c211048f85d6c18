// The segmentation grid of one target: background scans around a seed,
// region growing, scan-line fill, expansion by rings, trimming, shape
// classification and the grey-weighted centroid; and the list of such grids
// extracted from a label grid.
#pragma once

#include "OwningArray.h"
#include "RegionRecords.h"
#include "SegmentationGrids.h"

#include <cstdint>
#include <vector>

class CImageRowCache;
class CTargetEllipse;

// Bottom (largest row), top, right (largest column), left.
struct CRegionBox {
    int bottom = -1;
    int top = -1;
    int right = -1;
    int left = -1;
};

// A pixel taken by region growing, in the order taken.
struct CGrownPixel {
    int row = 0;
    int column = 0;
    int grey = 0;
    bool operator==(const CGrownPixel& o) const { return row == o.row && column == o.column && grey == o.grey; }
};

// Breadth-first growth over the 8-neighbourhood from (column, row) over
// pixels of grey >= threshold. Stops once the region holds more than
// maxPixels pixels. The region's pixels are appended to region in the order
// taken; true when the growth ended within maxPixels.
bool GrowRegionPixels(CImageRowCache& image, int column, int row, int threshold, int maxPixels,
                      std::vector<CGrownPixel>& region);

// Cells hold the grey value of a region pixel, -1 elsewhere.
class CRegionGrid : public CIntGrid {
public:
    explicit CRegionGrid(CImageRowCache* image = nullptr);
    CRegionGrid(const CRegionGrid& other);
    CRegionGrid& operator=(const CRegionGrid& other);
    ~CRegionGrid() override;

    // Background level reached from (column, row) stepping by (dc, dr), or -1.
    int ScanExtent(int column, int row, int dc, int dr, int* outColumn = nullptr, int* outRow = nullptr);
    // Mean level of the scans left, right, up and down, or -1.
    int EstimateBackground(int column, int row, CRegionBox* box = nullptr);
    bool GrowFromSeed(int column, int row, double fraction);
    bool GrowScanLines(int column, int row, double fraction);
    // False only for an empty grid.
    bool Expand(int rings, bool darkOnly);
    void ExtractFromLabels(const CBlob& blob, const CIntGrid& labels);
    bool TrimBelow(int minimumDrop, double factor);
    void UpdateGreyRange();
    void CropToBox(const CRegionBox& box);
    void GetBox(CRegionBox& box) const;
    void IncludeGrey(int grey);
    // False without rows, without border cells or without weight.
    bool ComputeCentroid(double& column, double& row) const;
    bool FitEllipse(CTargetEllipse& ellipse, double threshold, double* rms = nullptr) const;
    // 0 solid, 1 ring (one hole), 2 neither.
    int ClassifyShape(CTargetEllipse& ellipse, int minimumDrop, bool fitEllipse, bool debug);
    bool MeasureTarget(int column, int row, double& outColumn, double& outRow);

    CImageRowCache* image = nullptr;
    int edgeStep = 5;
    int minimumContrast = 96;
    int maximumPixels = 1000;
    int columnOrigin = 0;
    int rowOrigin = 0;
    int regionId = 0;
    int pixelCount = 0;
    int minGrey = -1;
    int maxGrey = -1;
    uint8_t ring = 0;
    uint8_t valid = 1;

private:
    void CopyFields(const CRegionGrid& other);
    bool Inside(int column, int row) const;
};

class CRegionGridList : public COwningArray<CRegionGrid> {
public:
    void SetImage(CImageRowCache* cache);
    // Widens the blob's box by one where the label grid leaves room and
    // extracts its pixels into a new grid; returns the blob's id.
    int AddFromBlob(const CIntGrid& labels, CBlob& blob);
    CRegionGrid* FindById(int id) const;

    CImageRowCache* image = nullptr;
    int lastId = 0;
};
