// Grids, contour tracing and region records on masks drawn here and on
// thresholded targets of the renderer, whose answers are known.
#include "DisplayImage.h"
#include "EllipseRecord.h"
#include "ImageRowCache.h"
#include "ImageObservation.h"
#include "RegionRecords.h"
#include "SegmentationGrids.h"
#include "TargetRenderer.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace segmentation_records_test {

namespace {

const double kPi = std::acos(-1.0);

// A 0/1 mask of rows x columns, top row first.
struct Mask {
    int rows = 0;
    int columns = 0;
    std::vector<int> cells;
    int At(int r, int c) const { return cells[size_t(r) * columns + c]; }
};

using Shape = std::function<bool(double r, double c)>;

Mask Draw(int rows, int columns, const Shape& inside)
{
    Mask mask{rows, columns, std::vector<int>(size_t(rows) * columns, 0)};
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c)
            mask.cells[size_t(r) * columns + c] = inside(r, c) ? 1 : 0;
    return mask;
}

Shape Disc(double r0, double c0, double radius)
{
    return [=](double r, double c) { return (r - r0) * (r - r0) + (c - c0) * (c - c0) <= radius * radius; };
}

Shape Minus(Shape a, Shape b)
{
    return [=](double r, double c) { return a(r, c) && !b(r, c); };
}

Shape Box(int top, int left, int bottom, int right)
{
    return [=](double r, double c) { return r >= top && r <= bottom && c >= left && c <= right; };
}

CIntGrid GridOf(const Mask& mask)
{
    CIntGrid grid(mask.rows, mask.columns);
    for (int r = 0; r < mask.rows; ++r)
        for (int c = 0; c < mask.columns; ++c)
            grid.Set(r, c, mask.At(r, c));
    return grid;
}

// The mask's pixels in row order, with grey 200 and an image offset.
CRegion RegionOf(const Mask& mask, int rowOffset = 50, int columnOffset = 70)
{
    CRegion region;
    for (int r = 0; r < mask.rows; ++r)
        for (int c = 0; c < mask.columns; ++c)
            if (mask.At(r, c)) {
                CSeedPixel pixel(r + rowOffset, c + columnOffset, 200);
                region.AddPixel(&pixel);
            }
    return region;
}

int CountCells(CIntGrid& grid, int value)
{
    int n = 0;
    for (int r = 0; r < grid.GetRows(); ++r)
        for (int c = 0; c < grid.GetColumns(); ++c)
            n += grid.Get(r, c) == value;
    return n;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

TEST(ContourTracing, NextMarkedCellTakesTheFirstMarkUnlessADiagonalYields)
{
    enum { E, SE, S, SW, W, NW, N, NE };
    const int steps[8][2] = {{0, 1}, {1, 1}, {1, 0}, {1, -1}, {0, -1}, {-1, -1}, {-1, 0}, {-1, 1}};
    struct Case {
        std::vector<int> marked;
        int expected; // -1: none
    } cases[] = {
        {{SE, S}, S}, {{SE}, SE}, {{E, SE, S, SW, W, NW, N, NE}, E}, {{SW, W}, W}, {{SW, NW}, SW},
        {{NW}, NW},   {{NW, N}, N}, {{NE, N}, N}, {{NE}, NE},          {{}, -1},
    };
    for (const Case& test : cases) {
        CIntGrid grid(3, 3);
        for (int d : test.marked)
            grid.Set(1 + steps[d][0], 1 + steps[d][1], 2);
        int row = 1;
        int column = 1;
        const bool moved = grid.NextMarkedCell(row, column, 2);
        ASSERT_EQ(moved, test.expected >= 0);
        if (moved) {
            EXPECT_EQ(row, 1 + steps[test.expected][0]);
            EXPECT_EQ(column, 1 + steps[test.expected][1]);
        }
    }
    // A corner cell looks only inside the grid.
    CIntGrid corner(2, 2);
    corner.Set(1, 0, 2);
    int row = 0, column = 0;
    EXPECT_TRUE(corner.NextMarkedCell(row, column, 2));
    EXPECT_EQ(row, 1);
    EXPECT_EQ(column, 0);
}

TEST(ContourTracing, TracesCoverEveryBoundaryCell)
{
    struct Case {
        const char* name;
        Mask mask;
        int traces; // traces from (-1, -1) until every mark is gone
    } cases[] = {
        {"disc", Draw(21, 21, Disc(10, 10, 8)), 1},
        {"annulus", Draw(25, 25, Minus(Disc(12, 12, 10), Disc(12, 12, 5))), 2},
        {"square", Draw(10, 12, Box(2, 2, 7, 9)), 1},
    };
    for (Case& test : cases) {
        SCOPED_TRACE(test.name);
        CIntGrid grid = GridOf(test.mask);
        const int marked = grid.MarkBoundary(2);
        ASSERT_GT(marked, 0);
        CIntList rows, columns;
        int total = 0;
        int traces = 0;
        while (CountCells(grid, 2) > 0 && traces < 5) {
            total += grid.TraceBoundary(-1, -1, rows, columns, 2);
            ++traces;
        }
        EXPECT_EQ(traces, test.traces);
        EXPECT_EQ(total, marked);
        EXPECT_EQ(rows.GetSize(), marked);
        // Every traced position is a boundary cell of the mask: inside, with
        // a 4-neighbour outside.
        for (int i = 0; i < rows.GetSize(); ++i) {
            const int r = *rows.GetAt(i), c = *columns.GetAt(i);
            ASSERT_EQ(test.mask.At(r, c), 1);
            EXPECT_TRUE(!test.mask.At(r - 1, c) || !test.mask.At(r + 1, c) || !test.mask.At(r, c - 1) ||
                        !test.mask.At(r, c + 1));
        }
        EXPECT_EQ(grid.TraceBoundary(-1, -1, rows, columns, 2), 0);
    }
}

TEST(Grids, AllocateFillAndDumpLayouts)
{
    CIntGrid grid(2, 3);
    grid.Fill(-1);
    EXPECT_EQ(CountCells(grid, -1), 6);
    grid.Fill(7);
    EXPECT_EQ(CountCells(grid, 7), 6);
    int32_t* const firstRow = *grid.GetRowPtr(0);
    EXPECT_TRUE(grid.Allocate(2, 3)); // same size: cleared in place
    EXPECT_EQ(*grid.GetRowPtr(0), firstRow);
    EXPECT_EQ(CountCells(grid, 0), 6);
    CIntGrid huge;
    EXPECT_FALSE(huge.Allocate(100000, 100000));
    EXPECT_EQ(huge.GetData(), nullptr);
    EXPECT_EQ(huge.GetRows(), 0);
    EXPECT_FALSE(grid.Allocate(70000, 70000));
    EXPECT_EQ(grid.GetData(), nullptr);

    CIntGrid small(2, 3);
    small.Set(0, 0, 1);
    small.Set(1, 2, 12);
    TempFolder folder;
    const std::string path = folder.File("grid.txt");
    struct Case {
        int width;
        bool header;
        const char* expected;
    } cases[] = {
        {-1, false, "1\t0\t0\t\r\n0\t0\t12\t\r\n"},
        {2, true, "Rows    2\r\nColumns 3\r\n 1  0  0 \r\n 0  0 12 \r\n"},
    };
    for (const Case& test : cases) {
        small.Dump(path.c_str(), test.width, test.header);
        EXPECT_EQ(ReadFile(path), test.expected);
    }

    // A region dump: id 150 away from the origin writes "%3d " cells.
    CRegion region = RegionOf(Draw(2, 2, Box(0, 0, 1, 1)));
    region.regionId = 150;
    CIntGrid cells(3, 3);
    cells.Set(1, 1, 150);
    region.Dump(cells, 1, 1, 2, 2, path.c_str());
    EXPECT_EQ(ReadFile(path),
              "Position   1  1\r\nPixelCount 4\r\nBlackWhiteRatio 1\r\nEOPoint 0\r\n150   0 \r\n  0   0 \r\n");

    // A pipe under a dump's name is left alone at once; nothing waits for a reader.
    const std::string pipe = folder.File("pipe.txt");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    small.Dump(pipe.c_str(), 2, true);
    region.Dump(cells, 1, 1, 2, 2, pipe.c_str());
    struct stat status;
    ASSERT_EQ(::stat(pipe.c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
}

TEST(RegionRecords, ShapesAndSmallRegions)
{
    const Shape disc = Disc(10, 10, 8);
    struct Case {
        const char* name;
        Mask mask;
        bool fit;
        int shape;      // ClassifyShape
        int compact;    // IsCompact
        bool ellipse;   // CheckEllipse
    } cases[] = {
        {"disc", Draw(21, 21, disc), false, 0, 1, true},
        {"annulus", Draw(25, 25, Minus(Disc(12, 12, 10), Disc(12, 12, 5))), true, 1, 1, true},
        {"disc with two holes", Draw(25, 25, Minus(Minus(Disc(12, 12, 10), Disc(9, 9, 2)), Disc(15, 15, 2))), false, 2, 1,
         true},
        {"long frame", Draw(10, 34, Minus(Box(0, 0, 9, 33), Box(3, 3, 6, 30))), false, 1, 0, false},
        {"long frame, fitted", Draw(10, 34, Minus(Box(0, 0, 9, 33), Box(3, 3, 6, 30))), true, 2, 0, false},
        {"single pixel", Draw(1, 1, Box(0, 0, 0, 0)), false, 0, 1, false},
        {"2 x 2", Draw(2, 2, Box(0, 0, 1, 1)), false, 0, 1, true},
        {"10 x 2", Draw(10, 2, Box(0, 0, 9, 1)), false, 0, 0, true},
    };
    TempFolder temp;
    const std::string folder = temp.File("dumps");
    std::filesystem::create_directories(folder);
    setenv("TMPDIR", folder.c_str(), 1);
    for (Case& test : cases) {
        SCOPED_TRACE(test.name);
        CRegion region = RegionOf(test.mask);
        EXPECT_EQ(region.IsCompact(), test.compact);
        CRegion copy(region);
        EXPECT_EQ(copy.CheckEllipse(), test.ellipse);
        CEllipseRecord ellipse;
        EXPECT_EQ(region.ClassifyShape(&ellipse, 20.0, test.fit, true), test.shape);
        EXPECT_EQ(region.eoPoint, test.shape == 1 ? 1 : 0);
        EXPECT_EQ(region.GetPixelCount(), copy.GetPixelCount()); // nothing trimmed on a flat region
        if (test.shape == 0) { // one closed contour over every boundary pixel
            EXPECT_EQ(int(region.GetContour().size()), region.CountBoundaryPixels());
        }
        EXPECT_TRUE(std::filesystem::exists(folder + "/dump1.txt"));
    }
    EXPECT_TRUE(std::filesystem::exists(folder + "/dump4.txt"));
    // A folder that cannot be written: the dumps fail silently.
    setenv("TMPDIR", (folder + "/missing").c_str(), 1);
    CRegion annulus = RegionOf(cases[1].mask);
    EXPECT_EQ(annulus.ClassifyShape(nullptr, 20.0, false, true), 1);
    unsetenv("TMPDIR");

    // Centroid and box centre of a single pixel and of a 10 x 2 bar.
    CRegion pixel = RegionOf(cases[5].mask, 7, 9);
    double row = 0, column = 0;
    ASSERT_TRUE(pixel.ComputeCentroid(row, column));
    EXPECT_DOUBLE_EQ(row, 7.5);
    EXPECT_DOUBLE_EQ(column, 9.5);
    CRegion bar = RegionOf(cases[7].mask, 7, 9);
    ASSERT_TRUE(bar.GetBoxCentre(row, column));
    EXPECT_DOUBLE_EQ(row, 11.5);
    EXPECT_DOUBLE_EQ(column, 9.5);
    EXPECT_EQ(bar.GetMaxExtent(), 10);
}

TEST(RegionRecords, StatisticsTrimInteriorGreyAndMerge)
{
    // A bright 5 x 5 core (grey 200) in a dim ring (grey 40): trimming with a
    // drop of 50 keeps the core only.
    CRegion region;
    int64_t weight = 0, rowSum = 0;
    for (int r = 0; r < 9; ++r)
        for (int c = 0; c < 9; ++c) {
            const bool core = r >= 2 && r <= 6 && c >= 2 && c <= 6;
            CSeedPixel pixel(r + 1000, c + 3000, core ? 200 : 40);
            region.AddPixel(&pixel);
            weight += pixel.value;
            rowSum += int64_t(pixel.row) * pixel.value;
        }
    double row = 0, column = 0;
    ASSERT_TRUE(region.ComputeCentroid(row, column));
    EXPECT_DOUBLE_EQ(row, double(rowSum) / double(weight) + 0.5);
    EXPECT_NEAR(region.meanGrey, (25 * 200 + 56 * 40) / 81.0, 1e-9);
    CRegion trimmed(region);
    trimmed.TrimBelow(50.0, 0.0);
    EXPECT_EQ(trimmed.GetPixelCount(), 25);
    EXPECT_EQ(trimmed.minRow, 1002);
    EXPECT_EQ(trimmed.maxColumn, 3006);
    EXPECT_EQ(trimmed.minGrey, 200);

    // Interior grey: the flat core passes, the core with a noisy interior
    // fails at a limit of 1.
    EXPECT_TRUE(CRegion(trimmed).CheckInteriorGrey(1.0));
    CRegion noisy(trimmed);
    noisy.FindPixel(1004, 3004)->value = 100;
    EXPECT_FALSE(noisy.CheckInteriorGrey(1.0));

    // Merging moves every pixel and widens the box.
    CRegion other;
    CSeedPixel far(1020, 3020, 90);
    other.AddPixel(&far);
    EXPECT_EQ(trimmed.Merge(other), 1);
    EXPECT_EQ(trimmed.GetPixelCount(), 26);
    EXPECT_EQ(other.GetPixelCount(), 0);
    EXPECT_EQ(trimmed.maxRow, 1020);
    EXPECT_EQ(trimmed.minGrey, 90);
}

TEST(RegionRecords, FitEllipseOnThresholdedTargets)
{
    struct Case {
        double a, b, rotationDegrees;
        bool passes;
    } cases[] = {
        {10.0, 4.0, 0.0, true}, {5.0, 3.0, 30.0, true},   {8.0, 5.0, 75.0, true},
        {10.0, 4.5, 120.0, true},     {12.0, 9.0, -40.0, true}, {15.0, 12.0, 160.0, true},
        {6.0, 15.0, 10.0, true},      {15.0, 4.0, 35.0, false}, {16.0, 3.0, 90.0, false},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(testing::Message() << test.a << " x " << test.b << " at " << test.rotationDegrees);
        TargetScene scene;
        scene.width = 64;
        scene.height = 64;
        RenderedTarget target;
        target.x = 31.3;
        target.y = 32.6;
        target.semiAxisA = test.a;
        target.semiAxisB = test.b;
        target.rotation = test.rotationDegrees * kPi / 180.0;
        scene.targets.push_back(target);
        const TestPicture picture = RenderScene(scene);
        CRegion region;
        const int threshold = int(scene.background + target.amplitude / 2);
        for (int r = 0; r < picture.height; ++r)
            for (int c = 0; c < picture.width; ++c)
                if (picture.At(r, c) >= threshold) {
                    CSeedPixel pixel(r, c, picture.At(r, c));
                    region.AddPixel(&pixel);
                }
        EXPECT_EQ(region.CheckEllipse(), test.passes);
        if (!test.passes)
            continue;
        CEllipseRecord ellipse;
        ASSERT_TRUE(region.FitEllipse(&ellipse));
        EXPECT_NEAR(ellipse.major, std::max(test.a, test.b), 1.0);
        EXPECT_NEAR(ellipse.minor, std::min(test.a, test.b), 1.0);
        // The record's minor axis lies along its rotation, measured from the
        // row axis towards the column axis; the major axis is across it.
        const double majorColumn = std::cos(ellipse.rotation);
        const double majorRow = -std::sin(ellipse.rotation);
        const double truth = target.rotation + (test.a >= test.b ? 0.0 : kPi / 2);
        const double sine = std::fabs(majorColumn * std::sin(truth) - majorRow * std::cos(truth));
        EXPECT_LT(sine, std::sin(5.0 * kPi / 180.0));
    }
}

TEST(ImageRowCache, ReadsMatchTheImageAndSlideByOneRow)
{
    struct Case {
        const char* name;
        int height;
        int band;
        bool invert;
        std::vector<int> reads;
        int64_t rowsRead; // including the first band
        int firstRow;     // after the reads
    } cases[] = {
        {"downward", 40, 10, false, {0, 5, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20}, 10 + 11, 11},
        {"inverted upward", 40, 10, true, {39, 29, 28, 27}, 10 + 10 + 3, 27},
        {"jump", 40, 10, false, {25}, 20, 20},
        {"jump near the end", 40, 10, false, {37}, 20, 30},
        {"jump back", 40, 10, true, {30, 2}, 30, 0},
        {"image lower than the band", 6, 10, true, {5, 0, 3, 5}, 6, 0},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const TestPicture picture = MakePicture(23, test.height, 1, 7);
        std::unique_ptr<CDisplayImage> image = MakeDisplayImage(picture);
        ASSERT_TRUE(image);
        CImageRowCache cache(image.get(), test.band, test.invert);
        std::vector<uint8_t> truth(23);
        for (int row : test.reads) {
            const uint8_t* values = cache.GetRow(row);
            ASSERT_NE(values, nullptr);
            ASSERT_TRUE(image->GetGreyRow(row, truth.data()));
            for (int c = 0; c < 23; ++c) {
                const int expected = test.invert ? 255 - truth[size_t(c)] : truth[size_t(c)];
                ASSERT_EQ(values[c], expected);
                ASSERT_EQ(cache.GetPixel(row, c), expected);
            }
        }
        EXPECT_EQ(cache.GetRowsRead(), test.rowsRead);
        EXPECT_EQ(cache.GetFirstRow(), test.firstRow);
        EXPECT_EQ(cache.GetRow(-1), nullptr);
        EXPECT_EQ(cache.GetRow(test.height), nullptr);
        EXPECT_EQ(cache.GetPixel(0, 23), 0);
        EXPECT_EQ(cache.GetRowsRead(), test.rowsRead);
    }
}

TEST(DetectorLists, NeighbourKeysRegionIdsAndLabelMerging)
{
    CImageObservation centre(CNameBuffer("C"), 10.0, 20.0);
    CEllipseRecord ellipse;
    ellipse.SetAxes(6.0, 2.0, 0.3); // minor along 0.3 rad, major across it
    CTargetNeighbourList list;
    list.SetReference(&centre, &ellipse);
    const double majorX = -std::sin(0.3), majorY = std::cos(0.3);
    const double minorX = std::cos(0.3), minorY = std::sin(0.3);
    struct Case {
        double alongMajor, alongMinor, key;
    } cases[] = {{5.0, 0.0, 5.0}, {-2.0, 0.0, 2.0}, {0.0, 1.0, 3.0}, {0.0, -2.0, 6.0}, {3.0, 1.0, std::hypot(3.0, 3.0)}};
    std::vector<CImageObservation> candidates;
    for (const Case& test : cases)
        candidates.emplace_back(CNameBuffer("P"), 10.0 + test.alongMajor * majorX + test.alongMinor * minorX,
                                20.0 + test.alongMajor * majorY + test.alongMinor * minorY);
    for (const CImageObservation& candidate : candidates)
        ASSERT_TRUE(list.AddByEllipseDistance(&candidate));
    for (size_t i = 0; i < candidates.size(); ++i) {
        EXPECT_NEAR(list.GetAt(int(i))->key, cases[i].key, 1e-12);
        EXPECT_EQ(list.GetAt(int(i))->item, &candidates[i]);
    }
    CTargetNeighbourList none;
    EXPECT_FALSE(none.AddByEllipseDistance(&candidates[0]));
    EXPECT_FALSE(none.AddByAngle(&candidates[0], 0));

    // Angle keys in [0, 2 pi), sorted ascending.
    CTargetNeighbourList angles;
    angles.SetReference(&centre, nullptr);
    std::vector<CImageObservation> around;
    const int order[] = {5, 0, 7, 2, 4, 1, 6, 3};
    for (int k : order)
        around.emplace_back(CNameBuffer("Q"), 10.0 + 3.0 * std::cos(k * kPi / 4), 20.0 + 3.0 * std::sin(k * kPi / 4));
    for (size_t i = 0; i < around.size(); ++i)
        ASSERT_TRUE(angles.AddByAngle(&around[i], int(i)));
    angles.SortByKey();
    for (int k = 0; k < 8; ++k) {
        EXPECT_NEAR(angles.GetAt(k)->key, k * kPi / 4, 1e-12);
        EXPECT_EQ(order[angles.GetAt(k)->index], k);
    }

    // Region ids count up from 1 and restart after DeleteAll.
    CRegionList regions;
    EXPECT_FALSE(regions.Add(nullptr));
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(regions.Add(new CRegion));
    EXPECT_EQ(regions.FindById(2), regions.GetAt(1));
    regions.RemoveAt(1);
    EXPECT_EQ(regions.FindById(2), nullptr);
    EXPECT_EQ(regions.FindById(3), regions.GetAt(1));
    regions.DeleteAll();
    ASSERT_TRUE(regions.Add(new CRegion));
    EXPECT_EQ(regions.GetAt(0)->regionId, 1);

    // Label merging: blob L is element L - 2.
    struct MergeCase {
        std::vector<int> earlier; // merged first, in this order
        std::vector<int> labels;
        int root;
        std::vector<int> members; // of the root, in any order
    } merges[] = {
        {{}, {5, 6}, 5, {6}},
        {{}, {6, 3, 2}, 6, {3, 2}},
        {{3, 4}, {2, 4, 5}, 3, {4, 2, 5}},
        {{3, 4}, {2, 5, 4, 2}, 3, {4, 2, 5}},
        {{6, 5, 4}, {2, 4}, 6, {5, 4, 2}},
    };
    for (const MergeCase& test : merges) {
        CRegionBoxList boxes;
        for (int label = 2; label <= 6; ++label) {
            CBlob* blob = boxes.AddNew();
            blob->id = label;
            blob->Set(10 * label, 10 * label + 5, label, label + 1);
        }
        CIntList earlier;
        for (int label : test.earlier)
            earlier.Add(label);
        if (earlier.GetSize() > 0)
            boxes.MergeLabels(earlier);
        CIntList labels;
        for (int label : test.labels)
            labels.AddCopy(label);
        boxes.MergeLabels(labels);
        const CBlob* root = boxes.GetBlob(test.root);
        EXPECT_EQ(root->mergedInto, -1);
        EXPECT_EQ(root->members.GetSize(), int(test.members.size()));
        int top = root->top, bottom = root->bottom;
        for (int label : test.members) {
            EXPECT_TRUE(root->members.Contains(label));
            EXPECT_EQ(boxes.GetBlob(label)->mergedInto, test.root);
            top = std::min(top, 10 * label);
            bottom = std::max(bottom, 10 * label + 5);
        }
        EXPECT_EQ(root->top, 10 * std::min(test.root, *std::min_element(test.members.begin(), test.members.end())));
        EXPECT_EQ(root->bottom, bottom);
    }
}

} // namespace segmentation_records_test
