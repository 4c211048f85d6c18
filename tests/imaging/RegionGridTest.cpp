// Segmentation grid: failure cases, growth limits, expansion, shape
// classes, centre accuracy on rendered targets, label extraction, and the
// order of region growing against a plain linear-search growth.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "DisplayImage.h"
#include "EllipseRecord.h"
#include "ImageRowCache.h"
#include "RegionGrid.h"
#include "TargetRenderer.h"

namespace {

// A picture of the given greys, top row first.
TestPicture PictureOf(int width, int height, const std::function<int(int row, int column)>& grey)
{
    TestPicture picture;
    picture.width = width;
    picture.height = height;
    picture.values.resize(size_t(width) * size_t(height));
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c)
            picture.values[size_t(r) * size_t(width) + size_t(c)] = uint8_t(grey(r, c));
    return picture;
}

// 200 inside the rectangle of rows [r0, r1] and columns [c0, c1], else 20.
TestPicture Rectangle(int r0, int r1, int c0, int c1)
{
    return PictureOf(96, 96, [=](int r, int c) { return r >= r0 && r <= r1 && c >= c0 && c <= c1 ? 200 : 20; });
}

struct Loaded {
    std::unique_ptr<CDisplayImage> image;
    std::unique_ptr<CImageRowCache> cache;
};

Loaded Load(const TestPicture& picture, bool invert = false)
{
    Loaded loaded;
    loaded.image = MakeDisplayImage(picture);
    if (loaded.image)
        loaded.cache = std::make_unique<CImageRowCache>(loaded.image.get(), 10, invert);
    return loaded;
}

TargetScene OneTarget(const RenderedTarget& target, int size = 96)
{
    TargetScene scene;
    scene.width = scene.height = size;
    scene.targets.push_back(target);
    return scene;
}

} // namespace

TEST(RegionGrid, EdgeCases)
{
    // The 5x5 square of 200 has a frame of 40 and one brighter pixel of 60
    // two pixels right of the frame's middle; 20 elsewhere.
    const auto framed = PictureOf(96, 96, [](int r, int c) {
        const int d = std::max(std::abs(r - 48), std::abs(c - 48));
        if (d <= 2)
            return 200;
        if (d == 3)
            return 40;
        return r == 48 && c == 52 ? 60 : 20;
    });
    struct Case {
        const char* name;
        TestPicture picture;
        int column, row;
        std::function<bool(CRegionGrid&)> check;
    };
    const std::vector<Case> cases = {
        {"flat area", PictureOf(96, 96, [](int, int) { return 90; }), 40, 40,
         [](CRegionGrid& g) { return !g.GrowFromSeed(40, 40, 0.2) && !g.GrowScanLines(40, 40, 0.2); }},
        {"touches the border", Rectangle(20, 30, 0, 6), 3, 25,
         [](CRegionGrid& g) { return !g.GrowFromSeed(3, 25, 0.2) && !g.GrowScanLines(3, 25, 0.2); }},
        {"seed outside the image", Rectangle(20, 30, 20, 30), -1, 25,
         [](CRegionGrid& g) { return g.ScanExtent(-1, 25, 1, 0) == -1 && !g.GrowFromSeed(96, 25, 0.2); }},
        {"1000 pixels grown", Rectangle(30, 54, 28, 67), 48, 42,
         [](CRegionGrid& g) { return g.GrowFromSeed(48, 42, 0.2) && g.pixelCount == 1000; }},
        {"1001 pixels not grown", PictureOf(96, 96, [](int r, int c) {
             return (r >= 30 && r <= 54 && c >= 28 && c <= 67) || (r == 55 && c == 40) ? 200 : 20;
         }), 48, 42,
         [](CRegionGrid& g) { return !g.GrowFromSeed(48, 42, 0.2) && g.GetRows() == 0; }},
        {"999 pixels filled", Rectangle(30, 56, 28, 64), 48, 42,
         [](CRegionGrid& g) { return g.GrowScanLines(48, 42, 0.2) && g.pixelCount == 999; }},
        {"1000 pixels not filled", Rectangle(30, 54, 28, 67), 48, 42,
         [](CRegionGrid& g) { return !g.GrowScanLines(48, 42, 0.2); }},
        {"equal greys give no centroid", Rectangle(40, 44, 40, 44), 42, 42,
         [](CRegionGrid& g) {
             double c = 0.0, r = 0.0;
             return g.GrowFromSeed(42, 42, 0.2) && g.pixelCount == 25 && !g.ComputeCentroid(c, r);
         }},
        {"expand three dark-only rings", framed, 48, 48,
         [](CRegionGrid& g) {
             if (!g.GrowFromSeed(48, 48, 0.2) || g.pixelCount != 25 || !g.Expand(3, true))
                 return false;
             // 25 + the whole frame (24) + 32 - the 60 pixel + 40.
             if (g.pixelCount != 120 || g.minGrey != 20 || g.maxGrey != 200 || g.GetRows() != 13)
                 return false;
             for (int r = 0; r < 13; ++r)
                 for (int c = 0; c < 13; ++c) {
                     const int ir = r + g.rowOrigin, ic = c + g.columnOrigin;
                     const bool inside = std::max(std::abs(ir - 48), std::abs(ic - 48)) <= 5;
                     const bool taken = g.Get(r, c) >= 0;
                     if (taken != (inside && !(ir == 48 && ic == 52)))
                         return false;
                 }
             return true;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Loaded loaded = Load(c.picture);
        ASSERT_TRUE(loaded.cache);
        CRegionGrid grid(loaded.cache.get());
        EXPECT_TRUE(c.check(grid));
    }
}

TEST(RegionGrid, ShapeClasses)
{
    RenderedTarget disc;
    disc.x = disc.y = 48.0;
    disc.semiAxisA = disc.semiAxisB = 11.0;
    RenderedTarget annulus = disc;
    annulus.kind = TargetKind::Annulus;
    annulus.innerRatio = 0.45;
    TargetScene twoHoles = OneTarget(disc);
    for (double dx : {-5.0, 5.0}) {
        RenderedTarget hole = disc;
        hole.x += dx;
        hole.semiAxisA = hole.semiAxisB = 3.5;
        hole.amplitude = -disc.amplitude;
        twoHoles.targets.push_back(hole);
    }
    const struct {
        const char* name;
        TargetScene scene;
        int shape;
    } cases[] = {{"disc", OneTarget(disc), 0}, {"annulus", OneTarget(annulus), 1}, {"two holes", twoHoles, 2}};
    // Dumps go to the temporary folder, only with the debug flag (annulus).
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / ("region_grid_" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const char* oldTemp = std::getenv("TMPDIR");
    const std::string savedTemp = oldTemp != nullptr ? oldTemp : "";
    setenv("TMPDIR", folder.c_str(), 1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const bool debug = c.shape == 1;
        const TestPicture picture = RenderScene(c.scene);
        Loaded loaded = Load(picture);
        ASSERT_TRUE(loaded.cache);
        CIntGrid labels(picture.height, picture.width);
        CBlob blob(2);
        for (int r = 0; r < picture.height; ++r)
            for (int col = 0; col < picture.width; ++col)
                if (picture.At(r, col) > 110) {
                    labels.Set(r, col, 2);
                    blob.Extend(r, r, col, col);
                }
        CRegionGridList list;
        list.SetImage(loaded.cache.get());
        ASSERT_EQ(list.AddFromBlob(labels, blob), 2);
        CRegionGrid* grid = list.FindById(2);
        ASSERT_NE(grid, nullptr);
        CTargetEllipse ellipse;
        EXPECT_EQ(grid->ClassifyShape(ellipse, 50, false, debug), c.shape);
        EXPECT_EQ(grid->ring, c.shape == 1 ? 1 : 0);
        if (c.shape == 0) {
            EXPECT_TRUE(fs::is_empty(folder)); // before any debug run
        }
    }
    for (const char* name : {"dump0.txt", "dump1.txt", "dump2.txt", "dump3.txt"})
        EXPECT_TRUE(fs::is_regular_file(folder / name)) << name;
    if (oldTemp != nullptr)
        setenv("TMPDIR", savedTemp.c_str(), 1);
    else
        unsetenv("TMPDIR");
    fs::remove_all(folder);
}

TEST(RegionGrid, MeasuredCentreMatchesRenderedTruth)
{
    std::mt19937 random(28);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (bool dark : {false, true}) {
        double sum = 0.0;
        int count = 0;
        for (int radius = 3; radius <= 15; ++radius)
            for (int k = 0; k < 4; ++k) {
                RenderedTarget t;
                t.x = 60.0 + unit(random);
                t.y = 60.0 + unit(random);
                t.semiAxisA = t.semiAxisB = radius;
                t.amplitude = dark ? -170.0 : 170.0;
                TargetScene scene = OneTarget(t, 128);
                scene.background = dark ? 215.0 : 30.0;
                scene.noiseSigma = 2.0;
                scene.seed = unsigned(radius * 10 + k + (dark ? 500 : 0));
                Loaded loaded = Load(RenderScene(scene), dark);
                ASSERT_TRUE(loaded.cache);
                CRegionGrid grid(loaded.cache.get());
                double x = 0.0, y = 0.0;
                ASSERT_TRUE(grid.MeasureTarget(int(t.x), int(t.y), x, y)) << radius;
                sum += (x - t.x) * (x - t.x) + (y - t.y) * (y - t.y);
                ++count;
            }
        EXPECT_LT(std::sqrt(sum / count), 0.05) << (dark ? "dark" : "bright");
    }
}

TEST(RegionGrid, ExtractsBlobPixelsFromLabels)
{
    TargetScene scene;
    scene.width = 40;
    scene.height = 30;
    scene.noiseSigma = 20.0;
    scene.background = 100.0;
    const TestPicture picture = RenderScene(scene);
    Loaded loaded = Load(picture);
    ASSERT_TRUE(loaded.cache);
    // Blob 2 with member 3 in rows 0..5, columns 10..20; label 4 inside its box.
    CIntGrid labels(30, 40);
    for (int r = 0; r <= 5; ++r)
        for (int c = 10; c <= 20; ++c)
            labels.Set(r, c, c < 15 ? 2 : (c < 19 ? 3 : 4));
    CBlob blob(2);
    blob.Set(0, 5, 10, 18);
    blob.members.Add(3);
    CRegionGridList list;
    list.SetImage(loaded.cache.get());
    EXPECT_EQ(list.AddFromBlob(labels, blob), 2);
    EXPECT_EQ(list.lastId, 2);
    EXPECT_EQ(blob.top, 0);
    EXPECT_EQ(blob.bottom, 6);
    EXPECT_EQ(blob.left, 9);
    EXPECT_EQ(blob.right, 19);
    const CRegionGrid* grid = list.FindById(2);
    ASSERT_NE(grid, nullptr);
    EXPECT_EQ(list.FindById(3), nullptr);
    ASSERT_EQ(grid->GetRows(), 7);
    ASSERT_EQ(grid->GetColumns(), 11);
    int taken = 0;
    for (int r = 0; r < 7; ++r)
        for (int c = 0; c < 11; ++c) {
            const int label = labels.Get(r, c + 9);
            const int expected = label == 2 || label == 3 ? picture.At(r, c + 9) : -1;
            EXPECT_EQ(grid->Get(r, c), expected) << r << "," << c;
            taken += expected >= 0;
        }
    EXPECT_EQ(grid->pixelCount, taken);
    EXPECT_EQ(taken, 6 * 9);
}

// Growth with the membership test as a linear search of the three lists.
static bool GrowLinear(CImageRowCache& image, int column, int row, int threshold, int maxPixels,
                       std::vector<CGrownPixel>& region)
{
    const int steps[8][2] = {{-1, -1}, {0, -1}, {1, -1}, {-1, 0}, {1, 0}, {-1, 1}, {0, 1}, {1, 1}};
    auto holds = [](const std::vector<CGrownPixel>& list, int r, int c) {
        for (const CGrownPixel& p : list)
            if (p.row == r && p.column == c)
                return true;
        return false;
    };
    region.clear();
    std::vector<CGrownPixel> front{{row, column, image.GetPixel(row, column)}}, next;
    while (!front.empty() && int(region.size()) <= maxPixels) {
        next.clear();
        for (int i = int(front.size()) - 1; i >= 0; --i) {
            region.push_back(front[size_t(i)]);
            for (const auto& s : steps) {
                const int c = front[size_t(i)].column + s[0], r = front[size_t(i)].row + s[1];
                if (c < 0 || r < 0 || c >= image.GetWidth() || r >= image.GetHeight())
                    continue;
                const int v = image.GetPixel(r, c);
                if (v >= threshold && !holds(region, r, c) && !holds(front, r, c) && !holds(next, r, c))
                    next.push_back({r, c, v});
            }
        }
        front = next;
    }
    return int(region.size()) <= maxPixels;
}

TEST(RegionGrid, GrowthOrderMatchesLinearSearch)
{
    const struct {
        double radius, ratio, rotation, noise;
        TargetKind kind;
    } cases[] = {{6.0, 1.0, 0.0, 2.0, TargetKind::Ellipse},
                 {15.0, 0.6, 0.7, 5.0, TargetKind::Ellipse},
                 {12.0, 1.0, 0.0, 3.0, TargetKind::Annulus}};
    for (const auto& c : cases) {
        RenderedTarget t;
        t.kind = c.kind;
        t.x = 47.3;
        t.y = 48.6;
        t.semiAxisA = c.radius;
        t.semiAxisB = c.radius * c.ratio;
        t.rotation = c.rotation;
        TargetScene scene = OneTarget(t);
        scene.noiseSigma = c.noise;
        scene.blurSigma = 0.8;
        Loaded loaded = Load(RenderScene(scene));
        ASSERT_TRUE(loaded.cache);
        const int column = int(t.x + (c.kind == TargetKind::Annulus ? 0.75 * c.radius : 0.0));
        std::vector<CGrownPixel> fast, plain;
        const bool a = GrowRegionPixels(*loaded.cache, column, int(t.y), 60, 1000, fast);
        const bool b = GrowLinear(*loaded.cache, column, int(t.y), 60, 1000, plain);
        EXPECT_EQ(a, b);
        EXPECT_GT(fast.size(), 50u);
        EXPECT_EQ(fast, plain);
    }
}
