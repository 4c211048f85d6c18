// A sliding band of image rows through which the detectors read grey values,
// and the small lists the detectors keep.
#pragma once

#include "EllipseRecord.h"
#include "KeyedItem.h"
#include "OwningArray.h"
#include "RegionRecords.h"
#include "SegmentationGrids.h"

#include <cstdint>

class CDisplayImage;
class CImageObservation;

class CImageRowCache {
public:
    // Holds rows 0 .. n - 1 (the whole image when it has fewer rows).
    CImageRowCache(CDisplayImage* image, int rowCount, bool invert);
    virtual ~CImageRowCache();
    CImageRowCache(const CImageRowCache&) = delete;
    CImageRowCache& operator=(const CImageRowCache&) = delete;

    int GetWidth() const;
    int GetHeight() const;
    // The grey bytes of an image row; null outside the image.
    const uint8_t* GetRow(int row);
    // One grey byte; 0 outside the image.
    int GetPixel(int row, int column);

    int GetRowCount() const { return rowCount; }
    int GetFirstRow() const { return firstRow; }
    // Image rows read so far.
    int64_t GetRowsRead() const { return rowsRead; }
    void AddScanTime(double milliseconds) { scanTime += milliseconds; }
    double GetScanTime() const { return scanTime; }

private:
    void Slide(int row);
    void ReadRow(int bufferRow, int imageRow);

    int rowCount = 0;
    int firstRow = 0;
    CDisplayImage* image = nullptr;
    CByteGrid rows;
    bool invert = false;
    double scanTime = 0.0;
    int64_t rowsRead = 0;
};

// Regions owned by the list, each given the next id when added.
class CRegionList : public COwningArray<CRegion> {
public:
    CRegionList() = default;
    // Takes ownership; false for no region.
    bool Add(CRegion* region);
    CRegion* FindById(int id) const;
    void RemoveAt(int index);
    void DeleteAll();
    int GetIdCounter() const { return idCounter; }

private:
    int idCounter = 0;
};

// Candidate targets keyed by their distance from or direction around a
// reference target; items point at the candidates (not owned).
class CTargetNeighbourList : public CKeyedItemList {
public:
    void SetReference(const CImageObservation* centre, const CEllipseRecord* ellipse);
    // Key: the distance in the frame of the reference ellipse, the minor
    // direction stretched by major / minor.
    bool AddByEllipseDistance(const CImageObservation* candidate);
    // Key: the direction angle in [0, 2 pi).
    bool AddByAngle(const CImageObservation* candidate, int index);

private:
    const CImageObservation* centre = nullptr;
    const CEllipseRecord* reference = nullptr;
    double rotation[2][2] = {{1.0, 0.0}, {0.0, 1.0}};
};
