#include "TargetDetector.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <numeric>

#include "Camera.h"
#include "DisplayImage.h"
#include "EODevice.h"
#include "Hub.h"
#include "EllipseRecord.h"
#include "MeasurementTool.h"
#include "Message.h"
#include "ProjectDocument.h"
#include "ProjectImage.h"
#include "Resection.h"

namespace {

double Millis(std::chrono::steady_clock::time_point from)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - from).count();
}

void Status(bool verbose, const char* text)
{
    if (verbose)
        SetStatusText(text);
}

} // namespace

// ---------------------------------------------------------------------------
// CTargetDetector

CTargetDetector::CTargetDetector(CProjectImage* image, const CCamera* camera, CMeasurementTool* tool,
                                 CProjectDocument* document, bool invert, const CCentroidSettings* settings)
    : tool(tool), image(image), camera(camera), document(document),
      rowCache(tool ? tool->GetPicture() : nullptr, 10, invert), invert(invert),
      measuring(settings ? *settings : GetCentroidSettings())
{
    eoReference.SetAxes(0.0, 0.0, 0.0);
    measuring.invert = invert ? 1 : 0;
}

CTargetDetector::~CTargetDetector() = default;

bool CTargetDetector::HasEODevice() const
{
    return document != nullptr && document->pointSets.GetEODevice() != nullptr;
}

void CTargetDetector::ScanSize(int& width, int& height) const
{
    CDisplayImage* picture = tool ? tool->GetPicture() : nullptr;
    width = picture ? picture->GetWidth() : 0;
    height = picture ? picture->GetHeight() : 0;
    if (camera != nullptr) {
        width = std::min(width, camera->XPixels);
        height = std::min(height, camera->YPixels);
    }
    width = std::max(width, 0);
    height = std::max(height, 0);
}

bool CTargetDetector::Prepare()
{
    CDisplayImage* picture = tool ? tool->GetPicture() : nullptr;
    if (document == nullptr || image == nullptr || picture == nullptr)
        return false;
    eoDeviceMinSize = document->eoDeviceMinSize;
    debug = document->scanFlags[0];
    deviationFactor = document->deviationFactor;
    minTargetError = document->minTargetError;

    if (!image->qualitySet) {
        image->qualitySet = true;
        const int mean = invert ? 255 - picture->GetMean() : picture->GetMean();
        image->highQuality = mean <= document->highMinGrey;
    }
    const bool high = image->highQuality;
    const bool* flags = document->scanFlags + (high ? 1 : 5);
    areaRangeCheck = flags[0];
    optimizingBlobs = flags[1];
    ellipseFit = flags[2];
    refuseMovingCentroid = flags[3];
    setTargetJump = high ? document->highTargetJump : document->lowTargetJump;
    setRatio = high ? document->highTargetImageRatio : document->lowTargetImageRatio;
    setMinGrey = high ? document->highMinGrey : document->lowMinGrey;

    // The brightest share of the pixels lies above the threshold; it never
    // walks below grey 0.
    int g = 255;
    if (setRatio > 0.0) {
        double sum = 0.0;
        while (sum < setRatio && g >= 0) {
            sum += picture->GetHistogramFraction(invert ? 255 - g : g);
            --g;
        }
        g = std::max(g, 0);
    }
    greyThreshold = std::max(g, setMinGrey);
    targetJump = setTargetJump;
    return true;
}

int CTargetDetector::Run(bool verbose)
{
    times = CDetectorTimes();
    eoPoints.clear();
    Status(verbose, "AutoScan in progress...");
    if (Prepare()) {
        Status(verbose, "AutoScan: Image Segmentation...");
        auto start = std::chrono::steady_clock::now();
        const bool segmented = Segment();
        times.segmentation = Millis(start);
        if (!segmented)
            return 0;
        Status(verbose, "AutoScan: Region Validation...");
        bool found = false;
        if (!Validate(found))
            return 0;
        if (found) {
            Status(verbose, "EODevice Point found. Try to resect...");
            if (!IdentifyEODevice() && verbose)
                AfxMessageBox("Automatic EO-Device identification failed");
        }
    }
    // The EO-device points this scan stored go; other observations stay.
    if (image != nullptr) {
        for (int i = image->targets.GetSize() - 1; i >= 0; --i) {
            const CImageObservation* o = image->targets.GetAt(i);
            if (o != nullptr && IsStoredEOPoint(*o))
                image->RemoveObservationAt(i);
        }
    }
    eoPoints.clear();
    Status(verbose, "AutoScan finished.");
    return 1;
}

void CTargetDetector::BeginMeasuring()
{
    saved = measuring;
    const bool high = image->highQuality;
    measuring.minGreyRange = uint8_t(std::clamp(high ? setMinGrey : setMinGrey / 2, 0, 255));
    measuring.shapeTesting = high ? 1 : 0;
}

void CTargetDetector::EndMeasuring()
{
    measuring.windowSize = saved.windowSize;
    measuring.minGreyRange = saved.minGreyRange;
    measuring.shapeTesting = saved.shapeTesting;
}

bool CTargetDetector::IsStoredEOPoint(const CImageObservation& o) const
{
    return !o.measured &&
           std::any_of(eoPoints.begin(), eoPoints.end(), [&](const CNameBuffer& l) { return o.label == l; });
}

void CTargetDetector::RemoveCloseObservations()
{
    if (debug || camera == nullptr || image == nullptr)
        return;
    // A ring drawn around a device target has its centre on that target:
    // the EO-device points stand aside, so that neither is lost.
    std::vector<CImageObservation> aside;
    for (int i = image->targets.GetSize() - 1; i >= 0 && !eoPoints.empty(); --i) {
        const CImageObservation* o = image->targets.GetAt(i);
        if (o != nullptr && IsStoredEOPoint(*o)) {
            aside.push_back(*o);
            image->RemoveObservationAt(i);
        }
    }
    image->RemoveCloseObservations(camera->GetPixelDiagonal());
    for (const CImageObservation& o : aside)
        image->targets.AddSorted(o);
}

void CTargetDetector::StoreObservation(int id, bool positive, double column, double row, bool eoPoint)
{
    CNameBuffer label;
    label.SetNumber(positive ? id : -id);
    double x = 0.0, y = 0.0;
    if (camera != nullptr)
        camera->PixelToImage(column, row, x, y);
    const double sigma = document->settings.defaultImageSigma;
    CImageObservation o(label, x, y, sigma, sigma, column, row);
    o.measured = !eoPoint;
    image->targets.AddSorted(o);
    if (eoPoint)
        eoPoints.push_back(label);
}

// ---------------------------------------------------------------------------
// CRegionTargetDetector

CRegionTargetDetector::~CRegionTargetDetector() = default;

bool CRegionTargetDetector::ExtractRegion(int id, CIntGrid& grid) const
{
    const CRegion* region = regions.FindById(id);
    if (region == nullptr || region->GetPixelCount() == 0)
        return false;
    if (!grid.Allocate(region->maxRow - region->minRow + 3, region->maxColumn - region->minColumn + 3))
        return false;
    region->PaintValue(grid, region->minRow - 1, region->minColumn - 1, 1);
    return true;
}

bool CRegionTargetDetector::RegionOrigin(int id, int& row, int& column) const
{
    const CRegion* region = regions.FindById(id);
    if (region == nullptr)
        return false;
    row = region->minRow;
    column = region->minColumn;
    return true;
}

int CRegionTargetDetector::Find(int label)
{
    while (parent[size_t(label)] != label) {
        parent[size_t(label)] = parent[size_t(parent[size_t(label)])];
        label = parent[size_t(label)];
    }
    return label;
}

int CRegionTargetDetector::Union(int a, int b)
{
    a = Find(a);
    b = Find(b);
    if (a == b)
        return a;
    if (b < a)
        std::swap(a, b);
    parent[size_t(b)] = a;
    return a;
}

void CRegionTargetDetector::AddRun(int row, int first, int last, int width, bool backFill)
{
    if (first > last || first < 0 || last >= width)
        return;
    int32_t* here = *labels.GetRowPtr(row);
    const int32_t* above = row > 0 ? *labels.GetRowPtr(row - 1) : nullptr;
    // The first pixel: upper-left, upper, upper-right and left neighbours.
    int label = 0;
    auto join = [&](int other) {
        if (other != 0)
            label = label == 0 ? Find(other) : Union(label, other);
    };
    if (first > 0)
        join(here[first - 1]);
    if (above != nullptr) {
        if (first > 0)
            join(above[first - 1]);
        join(above[first]);
        if (first + 1 < width)
            join(above[first + 1]);
        // Each further pixel meets its upper-right neighbour.
        for (int c = first + 1; c + 1 < width && c <= last; ++c)
            join(above[c + 1]);
    }
    if (label == 0) {
        label = int(parent.size());
        parent.push_back(label);
    }
    for (int c = first; c <= last; ++c)
        here[c] = label;
    runs.push_back({row, first, last, label});

    // Pixels of the row above missed by the run scan, under a labelled pixel
    // two rows up.
    if (!backFill || row < 2)
        return;
    const int32_t* twoUp = *labels.GetRowPtr(row - 2);
    int32_t* prev = *labels.GetRowPtr(row - 1);
    const uint8_t* grey = rowCache.GetRow(row - 1);
    if (grey == nullptr)
        return;
    for (int c = first; c <= last; ++c) {
        if (prev[c] != 0 || twoUp[c] == 0 || grey[c] < greyThreshold)
            continue;
        int l = c, r = c;
        while (l > 0 && prev[l - 1] == 0 && grey[l - 1] >= greyThreshold)
            --l;
        while (r + 1 < width && prev[r + 1] == 0 && grey[r + 1] >= greyThreshold)
            ++r;
        AddRun(row - 1, l, r, width, false);
        c = r;
    }
    rowCache.GetRow(row);
}

bool CRegionTargetDetector::Segment()
{
    CDisplayImage* picture = tool ? tool->GetPicture() : nullptr;
    if (picture == nullptr)
        return false;
    int width = 0, height = 0;
    ScanSize(width, height);
    if (camera != nullptr && (camera->XPixels != picture->GetWidth() || camera->YPixels != picture->GetHeight()))
        SetStatusText("AutoScan: camera and picture sizes differ; the common part is scanned");
    if (width < 2 || height < 1)
        return false;
    if (!labels.Allocate(height, width))
        return false;
    regions.DeleteAll();
    runs.clear();
    parent.assign(1, 0);
    const int t = greyThreshold;
    const int j = targetJump;
    for (int row = 0; row < height; ++row) {
        const uint8_t* p = rowCache.GetRow(row);
        bool inRun = false;
        int start = 0;
        if (p == nullptr)
            return false;
        const int32_t* rowLabels = *labels.GetRowPtr(row);
        for (int c = 0; c <= width - 2; ++c) {
            const int u = p[c + 1];
            if (!inRun) {
                if (u < t)
                    continue;
                if (u - p[c] > j) {
                    start = c + 1;
                    inRun = true;
                } else if (c + 2 < width && u - p[c + 2] > j) {
                    int k = c;
                    while (k >= 0 && rowLabels[k] == 0 && p[k] >= t)
                        --k;
                    start = k + 1;
                    inRun = true;
                    ++c;
                }
            } else if ((u < t || p[c] - u > j) && (c + 2 > width - 1 || u < t || u - p[c + 2] <= j)) {
                AddRun(row, start, c, width, true);
                p = rowCache.GetRow(row);
                inRun = false;
            }
        }
        // A run open at the row's end reaches the border: handed over, its
        // region is marked as cut.
        if (inRun)
            AddRun(row, start, width - 1, width, true);
    }
    BuildRegions(width, height);
    return true;
}

void CRegionTargetDetector::BuildRegions(int width, int height)
{
    std::vector<CRegion*> byRoot(parent.size(), nullptr);
    for (const LabelledRun& run : runs) {
        const int root = Find(run.label);
        CRegion*& region = byRoot[size_t(root)];
        if (region == nullptr) {
            region = new CRegion;
            regions.Add(region);
        }
        const uint8_t* grey = rowCache.GetRow(run.row);
        // Runs start right of a rise, so a target cut by the left border
        // begins at column 1 with a bright column 0.
        if (run.row == 0 || run.row == height - 1 || run.first == 0 || run.last == width - 1 ||
            (run.first == 1 && grey[0] >= greyThreshold))
            region->valid = 0;
        int32_t* here = *labels.GetRowPtr(run.row);
        for (int c = run.first; c <= run.last; ++c) {
            const CSeedPixel pixel(run.row, c, grey[c]);
            region->AddPixel(&pixel);
            here[c] = region->regionId;
        }
    }
    runs.clear();
}

bool CRegionTargetDetector::Validate(bool& found)
{
    found = false;
    auto start = std::chrono::steady_clock::now();
    CEODevice* device = document ? document->pointSets.GetEODevice() : nullptr;
    const bool high = image->highQuality;
    const int windowFactor = high ? 3 : 4;
    const int areaMin = document->targetAreaMin;
    const int areaMax = document->targetAreaMax;

    for (int i = regions.GetSize() - 1; i >= 0; --i) {
        CRegion* region = regions.GetAt(i);
        if (!region->valid) {
            regions.RemoveAt(i);
            continue;
        }
        bool rejected = false;
        bool ring = false;
        const int boxArea = (region->maxColumn - region->minColumn + 1) * (region->maxRow - region->minRow + 1);
        if (device != nullptr && boxArea > eoDeviceMinSize) {
            const int shape = region->ClassifyShape(&eoReference, minTargetError, device->GetIDShape() == 0, debug);
            if (shape == 2)
                rejected = true; // "EO-Detection failed!"
            else if (shape == 1)
                ring = true;
        }
        if (!rejected && !ring) {
            const int n = region->GetPixelCount();
            if (areaRangeCheck && (n < areaMin || n > 2 * areaMax))
                rejected = true; // "Area range test failed!"
            if (!rejected && optimizingBlobs) {
                region->TrimBelow(minTargetError, deviationFactor);
                if (region->GetPixelCount() == 0 && !region->CheckInteriorGrey(deviationFactor))
                    rejected = true; // "OptimizeRegion failed!"
            }
            if (!rejected && areaRangeCheck && optimizingBlobs &&
                (region->GetPixelCount() < areaMin || region->GetPixelCount() > areaMax))
                rejected = true; // "Area range test after optimize failed!"
            if (!rejected && ellipseFit && !region->CheckEllipse())
                rejected = true; // "Ellipse fit failed!"
        }
        region->eoPoint = ring ? 1 : 0;
        if (rejected && !debug)
            regions.RemoveAt(i);
    }
    times.validation = Millis(start);
    start = std::chrono::steady_clock::now();

    BeginMeasuring();
    for (int i = 0; i < regions.GetSize(); ++i) {
        CRegion* region = regions.GetAt(i);
        double row = 0.0, column = 0.0;
        if (region->GetPixelCount() == 0 || !region->ComputeCentroid(row, column))
            continue;
        SetWindowSize(region->GetMaxExtent() * windowFactor);
        if (region->eoPoint) {
            found = true;
            StoreObservation(region->regionId, false, column, row, true);
            continue;
        }
        double mx = 0.0, my = 0.0;
        if (!tool->Centroid(int(column), int(row), mx, my, &measuring))
            continue;
        if (refuseMovingCentroid && (mx - column) * (mx - column) + (my - row) * (my - row) > 4.0)
            continue;
        if (region->FindPixel(int(my), int(mx)) == nullptr)
            continue;
        StoreObservation(region->regionId, false, mx, my, false);
    }
    EndMeasuring();
    const auto cleanupStart = std::chrono::steady_clock::now();
    RemoveCloseObservations();
    times.cleanup = Millis(cleanupStart);
    times.measuring = Millis(start);
    return true;
}

// ---------------------------------------------------------------------------
// CExpansionTargetDetector

CExpansionTargetDetector::CExpansionTargetDetector(CProjectImage* image, const CCamera* camera, CMeasurementTool* tool,
                                                   CProjectDocument* document, bool invert,
                                                   const CCentroidSettings* settings)
    : CRegionTargetDetector(image, camera, tool, document, invert, settings)
{
    grids.SetImage(&rowCache);
}

CExpansionTargetDetector::~CExpansionTargetDetector() = default;

bool CExpansionTargetDetector::ExtractRegion(int id, CIntGrid& grid) const
{
    const CRegionGrid* region = grids.FindById(id);
    if (region == nullptr || region->GetRows() == 0)
        return false;
    if (!grid.Allocate(region->GetRows() + 2, region->GetColumns() + 2))
        return false;
    for (int r = 0; r < region->GetRows(); ++r)
        for (int c = 0; c < region->GetColumns(); ++c)
            if (region->Get(r, c) >= 0)
                grid.Set(r + 1, c + 1, 1);
    return true;
}

bool CExpansionTargetDetector::RegionOrigin(int id, int& row, int& column) const
{
    const CRegionGrid* region = grids.FindById(id);
    if (region == nullptr)
        return false;
    row = region->rowOrigin;
    column = region->columnOrigin;
    return true;
}

int CExpansionTargetDetector::RegionIdOfLabel(int label) const
{
    const CBlob* blob = boxes.GetBlob(label);
    // A chain cannot be longer than the list; a longer one is a cycle.
    for (int steps = 0; blob != nullptr && blob->mergedInto != -1 && steps < boxes.GetSize(); ++steps) {
        const CBlob* next = boxes.GetBlob(blob->mergedInto);
        if (next == nullptr || next == blob)
            break;
        blob = next;
    }
    return blob != nullptr ? blob->id : label;
}

CBlob* CExpansionTargetDetector::RootBlob(int label)
{
    CBlob* root = boxes.GetBlob(RegionIdOfLabel(label));
    for (CBlob* blob = boxes.GetBlob(label); blob != nullptr && blob != root && root != nullptr;) {
        CBlob* next = boxes.GetBlob(blob->mergedInto);
        blob->mergedInto = root->id;
        blob = next;
    }
    return root;
}

void CExpansionTargetDetector::AddRun(int row, int first, int last, int width, bool)
{
    if (first > last || first < 0 || last >= width)
        return;
    // The components the run touches, each by its surviving blob. Joining
    // only surviving blobs keeps one per component: two labels whose blobs
    // were merged into different ones would leave one of those apart.
    CIntList found;
    auto touch = [&](int label) {
        if (label <= 1)
            return;
        const CBlob* root = RootBlob(label);
        found.Add(root != nullptr ? root->id : label);
    };
    if (row > 0) {
        const int32_t* above = *labels.GetRowPtr(row - 1);
        for (int c = std::max(0, first - 1); c <= std::min(width - 1, last + 1); ++c)
            if (above[c] > 1 && (c == std::max(0, first - 1) || above[c] != above[c - 1]))
                touch(above[c]);
    }
    int32_t* here = *labels.GetRowPtr(row);
    if (first > 0)
        touch(here[first - 1]);
    int label = 0;
    if (found.GetSize() == 0) {
        CBlob* blob = boxes.AddNew();
        blob->id = ++blobCounter;
        blob->Set(row, row, first, last);
        label = blob->id;
    } else {
        label = *found.GetAt(0);
        CBlob* blob = boxes.GetBlob(label);
        if (blob != nullptr)
            blob->Extend(row, row, first, last);
        if (found.GetSize() > 1)
            boxes.MergeLabels(found);
    }
    for (int c = first; c <= last; ++c)
        here[c] = label;
}

bool CExpansionTargetDetector::Segment()
{
    grids.RemoveAll();
    boxes.RemoveAll();
    blobCounter = 1;
    if (!CRegionTargetDetector::Segment())
        return false;
    for (int i = 0; i < boxes.GetSize(); ++i) {
        CBlob* blob = boxes.GetAt(i);
        if (blob->mergedInto == -1)
            grids.AddFromBlob(labels, *blob);
    }
    return true;
}

void CExpansionTargetDetector::Reject(int index)
{
    CRegionGrid* grid = grids.GetAt(index);
    if (!debug) {
        grids.RemoveAt(index, 1);
        return;
    }
    grid->valid = 0;
    char name[32];
    std::snprintf(name, sizeof name, "region_%03d.txt", grid->regionId);
    grid->Dump(DebugDumpPath(name).c_str(), 3, true);
}

bool CExpansionTargetDetector::IterativeCentroid(const CRegionGrid& grid, double& column, double& row)
{
    if (!grid.ComputeCentroid(column, row))
        return false;
    if (debug)
        return true;
    for (int pass = 0; pass < 2; ++pass) {
        CRegionGrid refined(&rowCache);
        refined.regionId = grid.regionId;
        refined.edgeStep = 5;
        double c = 0.0, r = 0.0;
        if (!refined.MeasureTarget(int(column - 0.5), int(row - 0.5), c, r))
            return false; // "Centroid failed (%d.Iter)"
        const double move = std::hypot(c - column, r - row);
        column = c;
        row = r;
        if (!refuseMovingCentroid)
            return true;
        if (move > (pass == 0 ? 1.0 : 0.05))
            return false; // "Centroid Distance failure (%d.Iter)"
    }
    return true;
}

bool CExpansionTargetDetector::Validate(bool& found)
{
    found = false;
    auto start = std::chrono::steady_clock::now();
    CEODevice* device = document ? document->pointSets.GetEODevice() : nullptr;
    const int areaMin = document->targetAreaMin;
    const int areaMax = document->targetAreaMax;
    for (int i = grids.GetSize() - 1; i >= 0; --i) {
        CRegionGrid* grid = grids.GetAt(i);
        bool rejected = false;
        bool ring = false;
        if (device != nullptr && grid->pixelCount > eoDeviceMinSize) {
            CTargetEllipse ellipse;
            const int shape = grid->ClassifyShape(ellipse, minTargetError, device->GetIDShape() == 0, debug);
            if (shape == 2)
                rejected = true; // "EO-Detection failed!"
            else if (shape == 1) {
                ring = true;
                grid->ring = 1;
                eoReference = ellipse;
            }
        }
        if (!rejected && !ring) {
            const int columns = grid->GetColumns(), rows = grid->GetRows();
            double ratio = rows > 0 ? double(columns) / double(rows) : 0.0;
            if (ratio > 0.0 && ratio < 1.0)
                ratio = 1.0 / ratio;
            CTargetEllipse ellipse;
            double rms = 0.0;
            if (areaRangeCheck && (grid->pixelCount < areaMin || grid->pixelCount > 1.5 * areaMax))
                rejected = true; // "Range Test failed"
            else if (rows == 0 || ratio > 4.0)
                rejected = true; // "Ratio Test failed"
            else if (!grid->Expand(3, true))
                rejected = true; // "Expansion failed"
            else if (ellipseFit &&
                     !(grid->FitEllipse(ellipse, grid->minGrey + int(0.4 * (grid->maxGrey - grid->minGrey)), &rms) &&
                       rms <= 0.1))
                rejected = true; // "Ellipse Test failed"
        }
        if (rejected)
            Reject(i);
    }
    times.validation = Millis(start);
    start = std::chrono::steady_clock::now();
    for (int i = 0; i < grids.GetSize(); ++i) {
        CRegionGrid* grid = grids.GetAt(i);
        double column = 0.0, row = 0.0;
        bool stored = false;
        if (grid->ring) {
            if (grid->ComputeCentroid(column, row)) {
                found = true;
                StoreObservation(grid->regionId, true, column, row, true);
                stored = true;
            }
        } else if (IterativeCentroid(*grid, column, row)) {
            StoreObservation(grid->regionId, !grid->valid, column, row, false);
            stored = true;
        }
        if (!stored && !grid->ring && grid->valid) {
            // Kept in the list, marked and dumped, whatever the debug flag.
            grid->valid = 0;
            char name[32];
            std::snprintf(name, sizeof name, "region_%03d.txt", grid->regionId);
            grid->Dump(DebugDumpPath(name).c_str(), 3, true);
        }
    }
    const auto cleanupStart = std::chrono::steady_clock::now();
    RemoveCloseObservations();
    times.cleanup = Millis(cleanupStart);
    times.measuring = Millis(start);
    return true;
}

// ---------------------------------------------------------------------------
// CPermutation

void CPermutation::Reset(int n)
{
    values.RemoveAll();
    for (int i = 0; i < n; ++i)
        *values.AddNew() = i;
    state = 0;
}

bool CPermutation::Next()
{
    const int n = GetSize();
    std::vector<int32_t> v(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        v[size_t(i)] = GetAt(i);
    if (!std::next_permutation(v.begin(), v.end())) {
        state = 1;
        return false;
    }
    for (int i = 0; i < n; ++i)
        *values.GetAt(i) = v[size_t(i)];
    return true;
}

// ---------------------------------------------------------------------------
// Factory

CTargetDetector* CreateTargetDetector(CProjectDocument* document, CProjectImage* image, const CCamera* camera,
                                      CMeasurementTool* tool, bool invert)
{
    if (document != nullptr && document->scanMethod != 0)
        return new CExpansionTargetDetector(image, camera, tool, document, invert);
    return new CRegionTargetDetector(image, camera, tool, document, invert);
}

// ---------------------------------------------------------------------------
// EO-device identification

bool CTargetDetector::IdentifyEODevice()
{
    CEODevice* device = document ? document->pointSets.GetEODevice() : nullptr;
    if (device == nullptr || image == nullptr || camera == nullptr)
        return false;
    const int n = device->GetSize();
    const double maxRms = device->GetMaxResectionRms();
    resectionCount = 0;
    std::vector<CImageObservation*> references;
    for (int i = 0; i < image->targets.GetSize(); ++i)
        if (IsStoredEOPoint(*image->targets.GetAt(i)))
            references.push_back(image->targets.GetAt(i));
    if (references.empty() || n <= 0)
        return false;

    std::vector<CImageObservation*> candidates;
    if (device->GetIDShape() == 0 && references.size() == 1) {
        CTargetNeighbourList near;
        near.SetReference(references[0], &eoReference);
        for (int i = 0; i < image->targets.GetSize(); ++i)
            if (image->targets.GetAt(i)->measured)
                near.AddByEllipseDistance(image->targets.GetAt(i));
        near.SortByKey();
        if (near.GetSize() < n)
            return false;
        for (int i = 0; i < n; ++i)
            candidates.push_back(static_cast<CImageObservation*>(near.GetAt(i)->item));
    } else if (device->GetIDShape() == 1) {
        for (CImageObservation* reference : references) {
            const int id = std::abs(reference->label.GetNumber());
            CIntGrid mask;
            int top = 0, left = 0;
            if (!RegionOrigin(id, top, left) || !ExtractRegion(id, mask))
                continue;
            if (debug)
                mask.Dump(DebugDumpPath("unmask.txt").c_str(), 2, false);
            CIntList inside;
            for (int r = 1; r + 1 < mask.GetRows(); ++r)
                for (int c = 1; c + 1 < mask.GetColumns(); ++c) {
                    const int l = labels.Contains(top + r - 1, left + c - 1)
                                      ? RegionIdOfLabel(labels.Get(top + r - 1, left + c - 1))
                                      : 0;
                    if (l != 0 && l != id && mask.Get(r, c) == 0)
                        inside.Add(l);
                }
            candidates.clear();
            for (int i = 0; i < image->targets.GetSize(); ++i) {
                CImageObservation* o = image->targets.GetAt(i);
                if (o->measured && o->label.GetNumber() < 0 && inside.Contains(-o->label.GetNumber()))
                    candidates.push_back(o);
            }
            if (int(candidates.size()) == n)
                break;
        }
        if (int(candidates.size()) != n)
            return false;
    } else {
        return false;
    }

    // A failed identification leaves the pose as it was.
    const double oldX = image->X, oldY = image->Y, oldZ = image->Z;
    const CMatrix oldRotation = image->rotation;
    std::vector<CNameBuffer> oldLabels;
    for (const CImageObservation* o : candidates)
        oldLabels.push_back(o->label);
    auto assign = [&](const std::vector<int>& order) {
        for (int i = 0; i < n; ++i) {
            candidates[size_t(i)]->label = device->GetAt(order[size_t(i)])->label;
            candidates[size_t(i)]->marked = true;
        }
        image->targets.SortByLabel();
    };
    auto resect = [&]() {
        CAdjustmentSummary summary;
        ++resectionCount;
        const bool ok = ResectImage(*image, *camera, *device, document->settings, summary);
        resection = summary;
        // Every device point must stay in: a fit that rejected rays down to
        // three points is exact for any assignment.
        return ok && summary.status == kResectionSuccess && summary.usedPoints == n;
    };

    // Five points: the centre target and the four around it, in four rotations.
    if (n == 5) {
        double mx = 0.0, my = 0.0;
        for (const CImageObservation* o : candidates) {
            mx += o->x / 5.0;
            my += o->y / 5.0;
        }
        int centre = 0;
        for (int i = 1; i < 5; ++i)
            if (std::hypot(candidates[size_t(i)]->x - mx, candidates[size_t(i)]->y - my) <
                std::hypot(candidates[size_t(centre)]->x - mx, candidates[size_t(centre)]->y - my))
                centre = i;
        CTargetNeighbourList around;
        around.SetReference(candidates[size_t(centre)], nullptr);
        for (int i = 0; i < 5; ++i)
            if (i != centre)
                around.AddByAngle(candidates[size_t(i)], i);
        around.SortByKey();
        for (int k = 0; k < 4; ++k) {
            // candidate index -> device point; the order lists a point per candidate.
            std::vector<int> order(5, 0);
            order[size_t(centre)] = 0;
            for (int i = 0; i < 4; ++i)
                order[size_t(around.GetAt(3 - (i + k) % 4)->index)] = i + 1;
            assign(order);
            if (resect() && resection.rms < maxRms) {
                image->oriented = true;
                return true;
            }
        }
    }

    bool accepted = false;
    std::vector<int> best;
    if (n > kMaxPermutedPoints) {
        SetStatusText("Automatic EO-Device identification: too many device points to try every assignment");
    } else {
        double bestRms = maxRms;
        CPermutation permutation(n);
        do {
            std::vector<int> order(static_cast<size_t>(n));
            for (int i = 0; i < n; ++i)
                order[size_t(i)] = permutation.GetAt(i);
            assign(order);
            if (resect() && resection.rms < bestRms) {
                bestRms = resection.rms;
                best = order;
                accepted = true;
            }
        } while (permutation.Next());
    }
    if (accepted) {
        assign(best);
        accepted = resect();
    }
    if (!accepted) {
        for (size_t i = 0; i < candidates.size(); ++i) {
            candidates[i]->label = oldLabels[i];
            candidates[i]->marked = false;
        }
        image->targets.SortByLabel();
        image->X = oldX;
        image->Y = oldY;
        image->Z = oldZ;
        image->rotation = oldRotation;
    }
    image->oriented = accepted;
    return accepted;
}

int AutoScanImages(CProjectDocument& document, const CAutoScanCallbacks& callbacks)
{
    int scanned = 0;
    for (int i = 0; i < document.images.GetSize(); ++i) {
        CProjectImage* image = document.images.GetAt(i);
        if (image == nullptr || !image->enabled)
            continue;
        image->oriented = false;
        image->scanned = false;
        // Without its camera no position can be converted: skipped.
        const CCamera* camera = document.cameras.FindByName(image->GetCameraName().GetText());
        const char* path = image->GetFilePath().GetText();
        std::unique_ptr<CDisplayImage> picture = camera ? CreateDisplayImage(path) : nullptr;
        if (!picture || !picture->Load(path, 0))
            continue;
        if (callbacks.selectImage)
            callbacks.selectImage(i);
        CMeasurementTool tool(image, camera, picture.get(), nullptr, nullptr);
        tool.SetDocument(&document);
        std::unique_ptr<CTargetDetector> detector(
            CreateTargetDetector(&document, image, camera, &tool, GetCentroidSettings().invert != 0));
        if (detector->Run(true) != 0) {
            image->scanned = true;
            ++scanned;
            if (callbacks.imageScanned)
                callbacks.imageScanned(*image);
            else
                PostHubMessage(UM_REFRESH_IMAGES_AND_LIST);
        }
    }
    if (callbacks.selectImage)
        callbacks.selectImage(-1);
    document.SetModifiedFlag();
    if (callbacks.refresh)
        callbacks.refresh();
    else
        document.UpdateAllViews();
    return scanned;
}
