// AutoScan: finds every target of one picture, stores each as an
// unlabelled observation ("-<region id>") and, when the project's EO device
// is seen, identifies its targets and resects the image. A detector lives
// for one scan of one image. It measures with its own copy of the centroid
// settings, so it may run on a worker thread.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "AdjustmentSummary.h"
#include "CentroidSettings.h"
#include "EllipseRecord.h"
#include "ImageRowCache.h"
#include "NameBuffer.h"
#include "OwningArray.h"
#include "RegionGrid.h"
#include "RegionRecords.h"
#include "SegmentationGrids.h"

class CCamera;
class CImageObservation;
class CMeasurementTool;
class CProjectDocument;
class CProjectImage;

// Times of the phases of the last Run, in milliseconds.
struct CDetectorTimes {
    double segmentation = 0.0;
    double validation = 0.0;  // region tests
    double measuring = 0.0;   // centroids and storing, with the clean-up
    double cleanup = 0.0;     // removal of close observations (part of measuring)
};

class CTargetDetector {
public:
    // Null settings: a copy of the process-wide record is taken here.
    CTargetDetector(CProjectImage* image, const CCamera* camera, CMeasurementTool* tool,
                    CProjectDocument* document, bool invert, const CCentroidSettings* settings = nullptr);
    virtual ~CTargetDetector();
    CTargetDetector(const CTargetDetector&) = delete;
    CTargetDetector& operator=(const CTargetDetector&) = delete;

    // Copies the region of that id into a grid with a margin of one cell
    // (1 on its pixels); false when there is no such region.
    virtual bool ExtractRegion(int id, CIntGrid& grid) const = 0;
    // The first row and column of the grid ExtractRegion gives, less the margin.
    virtual bool RegionOrigin(int id, int& row, int& column) const = 0;
    // The id of the region that a label-grid value belongs to.
    virtual int RegionIdOfLabel(int label) const { return label; }
    virtual bool Prepare();
    virtual bool Segment() { return false; }
    virtual bool Validate(bool& found)
    {
        found = false;
        return false;
    }

    // 1 when the scan ran (also when Prepare failed), 0 when Segment or
    // Validate failed.
    int Run(bool verbose);
    // Resects the image from the EO device's targets; true when an
    // assignment of the device's labels was accepted.
    bool IdentifyEODevice();

    int GetGreyThreshold() const { return greyThreshold; }
    int GetTargetJump() const { return targetJump; }
    const CRegionList& GetRegions() const { return regions; }
    const CIntGrid& GetLabels() const { return labels; }
    const CCentroidSettings& GetMeasuringSettings() const { return measuring; }
    // The status record of the last resection.
    const CAdjustmentSummary& GetResectionSummary() const { return resection; }
    // Resections the last identification tried.
    int GetResectionCount() const { return resectionCount; }
    const CDetectorTimes& GetTimes() const { return times; }
    // Largest device that the permutation search takes on.
    static constexpr int kMaxPermutedPoints = 8;

protected:
    // Rows and columns scanned: those both the camera and the picture have.
    void ScanSize(int& width, int& height) const;
    bool HasEODevice() const;
    // Stores a scanned observation at the pixel position.
    void StoreObservation(int id, bool positive, double column, double row, bool eoPoint);
    // Window size by the rule of the quiet setter, on the own copy.
    void SetWindowSize(int size) { measuring.windowSize = ClampCentroidWindowSize(size); }
    void BeginMeasuring();
    void EndMeasuring();
    // Unless debugging, removes observations closer than the pixel diagonal;
    // the EO-device points stored by this scan take no part.
    void RemoveCloseObservations();
    bool IsStoredEOPoint(const CImageObservation& o) const;

    CMeasurementTool* tool;
    CProjectImage* image;
    const CCamera* camera;
    CProjectDocument* document;
    CImageRowCache rowCache;
    CIntGrid labels;
    CRegionList regions;
    bool debug = false;
    CEllipseRecord eoReference;
    float constant = 0.5f;
    bool invert;
    double deviationFactor = 1.0;
    int minTargetError = 10;
    int greyThreshold = 255;
    int targetJump = 255;
    int setTargetJump = 30;
    int eoDeviceMinSize = 400;
    int setMinGrey = 50;
    double setRatio = 0.01;
    bool areaRangeCheck = true;
    bool optimizingBlobs = false;
    bool refuseMovingCentroid = false;
    bool ellipseFit = false;

    CCentroidSettings measuring; // AutoScan's own copy
    CCentroidSettings saved;
    std::vector<CNameBuffer> eoPoints; // labels of the EO-device points stored by this scan
    CAdjustmentSummary resection;
    int resectionCount = 0;
    CDetectorTimes times;
};

class CRegionTargetDetector : public CTargetDetector {
public:
    using CTargetDetector::CTargetDetector;
    ~CRegionTargetDetector() override;

    bool ExtractRegion(int id, CIntGrid& grid) const override;
    bool RegionOrigin(int id, int& row, int& column) const override;
    bool Prepare() override { return CTargetDetector::Prepare(); }
    bool Segment() override;
    bool Validate(bool& found) override;
    // Labels a run of bright pixels of a row into the regions; back-fill
    // also takes the run's missed pixels of the row above.
    virtual void AddRun(int row, int first, int last, int width, bool backFill);

protected:
    // Union of two provisional labels; the smaller survives.
    int Find(int label);
    int Union(int a, int b);
    // Turns the provisional labels into the region list and relabels the grid.
    void BuildRegions(int width, int height);

    struct LabelledRun {
        int row;
        int first;
        int last;
        int label;
    };
    std::vector<LabelledRun> runs;
    std::vector<int> parent; // provisional label -> parent label
};

// The expansion detector: label components become region grids, tested by
// range, ratio, expansion and ellipse fit, measured by an iterative centroid.
class CExpansionTargetDetector : public CRegionTargetDetector {
public:
    CExpansionTargetDetector(CProjectImage* image, const CCamera* camera, CMeasurementTool* tool,
                             CProjectDocument* document, bool invert, const CCentroidSettings* settings = nullptr);
    ~CExpansionTargetDetector() override;

    bool ExtractRegion(int id, CIntGrid& grid) const override;
    bool RegionOrigin(int id, int& row, int& column) const override;
    // A run keeps the label it was given when its blob is merged later: the
    // label's component is the blob its merge chain ends at.
    int RegionIdOfLabel(int label) const override;
    bool Segment() override;
    bool Validate(bool& found) override;
    void AddRun(int row, int first, int last, int width, bool backFill) override;

    const CRegionGridList& GetGrids() const { return grids; }

private:
    // The surviving blob of a label's component; shortens the chain.
    CBlob* RootBlob(int label);
    // The grid's centroid refined twice on the picture; false rejects it.
    bool IterativeCentroid(const CRegionGrid& grid, double& column, double& row);
    void Reject(int index);

    CRegionGridList grids;
    CRegionBoxList boxes;
    int blobCounter = 1;
    uint8_t flag1 = 1;
    uint8_t flag2 = 0;
};

// The owning collection of ints through all permutations of 0..n-1 in
// lexicographic order.
class CPermutation {
public:
    explicit CPermutation(int n = 0) { Reset(n); }
    // The identity 0, 1, ..., n-1.
    void Reset(int n);
    void Reset() { Reset(values.GetSize()); }
    // The next permutation; false past the last one.
    bool Next();
    int GetAt(int i) const { return *values.GetAt(i); }
    int GetSize() const { return values.GetSize(); }

private:
    COwningArray<int32_t> values;
    int state = 0; // 1 once past the last permutation
};

// The document's factory: the expansion detector for a non-zero scanning
// method, else the standard one. The caller deletes it.
CTargetDetector* CreateTargetDetector(CProjectDocument* document, CProjectImage* image, const CCamera* camera,
                                      CMeasurementTool* tool, bool invert);

// What the scan of all images reports: the image being scanned (its index in
// the document's image list; -1 clears the selection at the end), each image
// scanned successfully, and the refresh of the views at the end. Unset
// callbacks: nothing is selected, a scanned image posts the refresh of the
// image lists, and the end calls the document's UpdateAllViews.
struct CAutoScanCallbacks {
    std::function<void(int index)> selectImage;
    std::function<void(CProjectImage& image)> imageScanned;
    std::function<void()> refresh;
};

// Scans every enabled image with the document's detector, verbosely; images
// whose picture cannot be loaded are skipped. Returns the number scanned.
int AutoScanImages(CProjectDocument& document, const CAutoScanCallbacks& callbacks = CAutoScanCallbacks());
