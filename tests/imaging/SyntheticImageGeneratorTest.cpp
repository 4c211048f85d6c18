#include "SyntheticImageGenerator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

#include "Camera.h"
#include "EllipseProjection.h"
#include "ImageObservation.h"
#include "ImageTestFiles.h"
#include "Intersection.h"
#include "ObjectPoint.h"
#include "PointSet.h"
#include "ProjectImage.h"
#include "TargetRenderer.h"
#include "TiffDisplayImage.h"
#include "TiffFileReader.h"

namespace synthetic_image_generator_test {

namespace {

const double kPi = 3.14159265358979323846;
const double kC = 50.0, kPixel = 0.01, kDistance = 1000.0;

// A camera at the origin looking along +Y at targets 1000 mm away, where one
// pixel spans 0.2 mm.
struct Scene {
    CPointSet points;
    CProjectImage image;
    CCamera camera;

    Scene(int width, int height)
    {
        image.SetPose(0, 0, 0, 0, 0, 0);
        camera.parameters[CAM_C] = kC;
        camera.XPixelSize = camera.YPixelSize = kPixel;
        camera.XPixels = width;
        camera.YPixels = height;
    }

    // A target whose centre projects to the pixel position (column, row),
    // radius in pixels, its normal tilted from the camera by tilt towards azimuth.
    void Add(const char* label, double column, double row, double radius, double tilt, double azimuth)
    {
        const double scale = kPixel * kDistance / kC;
        CObjectPoint p(label, (column - camera.XPixels / 2) * scale, kDistance,
                       (camera.YPixels / 2 - row) * scale);
        p.SetNormal(std::sin(tilt) * std::cos(azimuth), -std::cos(tilt), std::sin(tilt) * std::sin(azimuth));
        p.radius = radius * scale;
        points.AddPointSorted(p);
    }
};

// The renderer's picture of the generator's ellipse (pixel centres at integers there).
RenderedTarget AsRendered(const CTargetEllipse& e)
{
    RenderedTarget t;
    t.x = e.centreX + 0.5;
    t.y = e.centreY + 0.5;
    t.semiAxisA = e.minor;
    t.semiAxisB = e.major;
    t.rotation = e.rotation;
    return t;
}

bool InsideEllipse(const CTargetEllipse& e, double x, double y)
{
    const double dx = x - e.centreX, dy = y - e.centreY;
    const double a = dx * std::cos(e.rotation) + dy * std::sin(e.rotation);
    const double b = -dx * std::sin(e.rotation) + dy * std::cos(e.rotation);
    return a * a / (e.minor * e.minor) + b * b / (e.major * e.major) < 1.0;
}

struct Compared {
    int largest = 0;       // largest grey difference to the renderer
    int fullNot255 = 0;    // pixels with four corners inside that are not 255
};

Compared CompareWithRenderer(CSyntheticImageGenerator& g, int width, int height)
{
    const CTargetEllipse& e = g.GetTargetEllipse();
    const std::vector<double> coverage = CoverageOf(AsRendered(e), width, height, 512);
    Compared out;
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c) {
            const int grey = g.GetStore().GetPixel(0, r, c);
            const int truth = int(coverage[size_t(r) * width + c] * 255.0 + 0.5);
            out.largest = std::max(out.largest, std::abs(grey - truth));
            if (InsideEllipse(e, c - 0.5, r - 0.5) && InsideEllipse(e, c + 0.5, r - 0.5) &&
                InsideEllipse(e, c - 0.5, r + 0.5) && InsideEllipse(e, c + 0.5, r + 0.5) && grey != 255)
                ++out.fullNot255;
        }
    return out;
}

// Grey-weighted mean of the pixel centres (c + 0.5, r + 0.5) of the store.
void StoreCentroid(CImageStore& store, double& column, double& row)
{
    double sum = 0.0, sx = 0.0, sy = 0.0;
    for (int r = 0; r < store.GetHeight(); ++r)
        for (int c = 0; c < store.GetWidth(); ++c) {
            const double w = store.GetPixel(0, r, c);
            sum += w;
            sx += w * (c + 0.5);
            sy += w * (r + 0.5);
        }
    column = sx / sum;
    row = sy / sum;
}

} // namespace

TEST(SyntheticImageGenerator, CoverageMatchesTheRenderersWithinEachMethodsError)
{
    struct Case {
        double radius, tilt, azimuth, dx, dy;
    };
    const Case cases[] = {
        {3.0, 0.0, 0.0, 0.13, 0.71},   {3.4, 0.5, 0.3, 0.52, 0.25},  {5.0, 0.9, 1.2, 0.37, 0.93},
        {8.2, 0.3, 2.5, 0.05, 0.48},   {12.5, 0.7, 4.0, 0.66, 0.11}, {20.0, 0.2, 5.5, 0.29, 0.83},
        {30.0, 0.6, 0.8, 0.91, 0.44},  {17.0, 1.0, 3.3, 0.5, 0.5},
    };
    struct Method {
        int method, steps;
        const char* name;
    };
    const Method methods[] = {{CSyntheticImageGenerator::kExact, 1, "exact"},
                              {CSyntheticImageGenerator::kNumerical, 16, "numerical"},
                              {CSyntheticImageGenerator::kLinear, 1, "linear"}};
    const int width = 100, height = 90;
    for (const Case& k : cases) {
        Scene scene(width, height);
        scene.Add("T", 50 + k.dx, 45 + k.dy, k.radius, k.tilt, k.azimuth);
        for (const Method& m : methods) {
            SCOPED_TRACE(testing::Message() << m.name << " r " << k.radius << " tilt " << k.tilt);
            CSyntheticImageGenerator g(scene.points, scene.image, scene.camera, 0.001);
            ASSERT_TRUE(g.Render(2, m.method, m.steps, 0, 0, 0, 1));
            const double minor = g.GetTargetEllipse().minor;
            const int allowed = m.method == CSyntheticImageGenerator::kExact       ? 1
                                : m.method == CSyntheticImageGenerator::kNumerical ? 2
                                                                                   : int(60.0 / minor) + 1;
            const Compared got = CompareWithRenderer(g, width, height);
            EXPECT_LE(got.largest, allowed);
            EXPECT_EQ(got.fullNot255, 0);
        }
    }
}

TEST(SyntheticImageGenerator, MethodsAgreeOnALargeEllipseAndATangentLeavesAPixelNearZero)
{
    // Centre on a pixel centre and a radius of 40.5 px: the top and bottom
    // rows beyond the ellipse are touched at a tangent only.
    const int width = 120, height = 110;
    Scene scene(width, height);
    scene.Add("T", 60.5, 55.5, 40.5, 0.0, 0.0);
    std::vector<int> pictures[3];
    for (int method = 0; method < 3; ++method) {
        CSyntheticImageGenerator g(scene.points, scene.image, scene.camera, 0.001);
        ASSERT_TRUE(g.Render(0, method, 8, 0, 0, 0, 1));
        ASSERT_NEAR(g.GetTargetEllipse().centreX, 60.0, 1e-6);
        for (int r = 0; r < height; ++r)
            for (int c = 0; c < width; ++c) pictures[method].push_back(g.GetStore().GetPixel(0, r, c));
        EXPECT_LE(pictures[method][size_t(55 - 41) * width + 60], 1) << method;
        EXPECT_LE(pictures[method][size_t(55 + 41) * width + 60], 1) << method;
        EXPECT_EQ(pictures[method][size_t(55) * width + 60], 255) << method;
    }
    // Fewer than one step is one step.
    for (const int steps : {0, -3}) {
        CSyntheticImageGenerator g(scene.points, scene.image, scene.camera, 0.001);
        ASSERT_TRUE(g.Render(0, 1, steps, 0, 0, 0, 1));
        CSyntheticImageGenerator one(scene.points, scene.image, scene.camera, 0.001);
        ASSERT_TRUE(one.Render(0, 1, 1, 0, 0, 0, 1));
        for (int r = 0; r < height; ++r)
            for (int c = 0; c < width; ++c)
                ASSERT_EQ(g.GetStore().GetPixel(0, r, c), one.GetStore().GetPixel(0, r, c)) << steps;
        EXPECT_EQ(one.GetStore().GetPixel(0, 55, 60), 255);
    }
    for (size_t i = 0; i < pictures[0].size(); ++i) {
        EXPECT_LE(std::abs(pictures[0][i] - pictures[2][i]), 3) << i;
        EXPECT_LE(std::abs(pictures[1][i] - pictures[2][i]), 3) << i;
    }
}

TEST(SyntheticImageGenerator, VisibilityAndTooSmallTargets)
{
    struct Case {
        double radius, tiltDegrees;
        bool drawn;
    };
    const Case cases[] = {{6.0, 59.0, true}, {6.0, 61.0, false}, {0.3, 0.0, false}};
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << k.radius << " px at " << k.tiltDegrees << " degrees");
        Scene scene(64, 64);
        // On the camera's axis, so the viewing ray is the axis itself; 0.3 px
        // centred in a pixel holds no corner.
        scene.Add("T", 32.5, 32.5, k.radius, k.tiltDegrees * kPi / 180.0, 0.0);
        for (int method = 0; method < 3; ++method) {
            CSyntheticImageGenerator g(scene.points, scene.image, scene.camera, 0.001);
            ASSERT_TRUE(g.Render(2, method, 16, 1, 0, 0, 1));
            int lit = 0;
            for (int r = 0; r < 64; ++r)
                for (int c = 0; c < 64; ++c) lit += g.GetStore().GetPixel(0, r, c) != 0;
            EXPECT_EQ(lit > 0, k.drawn);
            EXPECT_EQ(scene.image.targets.GetSize(), k.drawn ? 1 : 0);
        }
    }
}

TEST(SyntheticImageGenerator, ObservationsOfEachKind)
{
    const int width = 200, height = 150;
    Scene scene(width, height);
    struct Target {
        const char* label;
        double column, row, radius, tilt, azimuth;
        bool leaves;
    };
    const Target targets[] = {{"A", 40.3, 50.8, 3.0, 0.6, 0.4, false}, {"B", 120.6, 70.2, 7.5, 0.9, 2.0, false},
                              {"C", 80.1, 110.4, 15.0, 0.3, 4.1, false}, {"D", 160.9, 40.6, 25.0, 0.8, 5.2, false},
                              {"E", 2.0, 75.0, 6.0, 0.2, 1.0, true},    {"F", 100.0, 147.5, 5.0, 0.0, 0.0, true}};
    for (const Target& t : targets) scene.Add(t.label, t.column, t.row, t.radius, t.tilt, t.azimuth);
    const double sigma = 0.0007;

    // Kind 0: the projection of each centre.
    {
        CSyntheticImageGenerator g(scene.points, scene.image, scene.camera, sigma);
        ASSERT_TRUE(g.Render(0, 2, 1, 1, 0, 0, 0));
        ASSERT_EQ(scene.image.targets.GetSize(), 6);
        for (const Target& t : targets) {
            const CImageObservation* o = scene.image.targets.FindByText(t.label);
            ASSERT_NE(o, nullptr);
            CImageObservation truth;
            ASSERT_TRUE(ProjectPointToImage(*scene.points.FindPointByText(t.label), scene.image, scene.camera,
                                            truth, 1.0));
            EXPECT_EQ(o->x, truth.x);
            EXPECT_EQ(o->y, truth.y);
            EXPECT_EQ(o->sigmaX, sigma);
            EXPECT_EQ(o->sigmaY, sigma);
        }
    }
    // Kind 1: the projected ellipse's centre, with the ellipse attached.
    double kind1[6][2];
    {
        CSyntheticImageGenerator g(scene.points, scene.image, scene.camera, sigma);
        ASSERT_TRUE(g.Render(1, 2, 1, 1, 1, 0, 0));
        ASSERT_EQ(scene.image.targets.GetSize(), 6);
        for (int i = 0; i < 6; ++i) {
            const CImageObservation* o = scene.image.targets.FindByText(targets[i].label);
            ASSERT_NE(o, nullptr);
            ASSERT_NE(o->GetEllipse(), nullptr);
            CTargetEllipse truth;
            ASSERT_TRUE(ProjectCircle(truth, *scene.points.FindPointByText(targets[i].label), scene.image,
                                      scene.camera));
            EXPECT_NEAR(o->x, truth.centreX, 1e-4 * kPixel) << targets[i].label;
            EXPECT_NEAR(o->y, truth.centreY, 1e-4 * kPixel) << targets[i].label;
            kind1[i][0] = o->x;
            kind1[i][1] = o->y;
        }
    }
    // Kind 2: the grey-weighted centroid of each target's pixels, rendered
    // alone, with and without the image; none for a window leaving the image.
    double largest = 0.0;
    for (int i = 0; i < 6; ++i) {
        Scene single(width, height);
        single.Add(targets[i].label, targets[i].column, targets[i].row, targets[i].radius, targets[i].tilt,
                   targets[i].azimuth);
        for (const int render : {1, 0}) {
            SCOPED_TRACE(testing::Message() << targets[i].label << " render " << render);
            CSyntheticImageGenerator g(single.points, single.image, single.camera, sigma);
            ASSERT_TRUE(g.Render(2, 2, 1, 1, 0, 0, render));
            ASSERT_EQ(single.image.targets.GetSize(), targets[i].leaves ? 0 : 1);
            if (targets[i].leaves) continue;
            const CImageObservation* o = single.image.targets.GetAt(0);
            EXPECT_TRUE(o->measured);
            if (render) {
                double column = 0.0, row = 0.0, x = 0.0, y = 0.0;
                StoreCentroid(g.GetStore(), column, row);
                single.camera.PixelToImage(column, row, x, y);
                EXPECT_NEAR(o->x, x, 1e-9);
                EXPECT_NEAR(o->y, y, 1e-9);
            }
            largest = std::max({largest, std::fabs(o->x - kind1[i][0]) / kPixel,
                                std::fabs(o->y - kind1[i][1]) / kPixel});
        }
    }
    EXPECT_LT(largest, 0.03);
    std::printf("largest centroid to ellipse centre difference: %.4f px\n", largest);
}

TEST(SyntheticImageGenerator, RenderedImageSurvivesTiffAndDisplayImage)
{
    const int width = 97, height = 61;
    Scene scene(width, height);
    scene.Add("A", 30.2, 20.7, 9.0, 0.5, 1.0);
    scene.Add("B", 70.6, 40.1, 14.0, 0.2, 3.0);
    CSyntheticImageGenerator g(scene.points, scene.image, scene.camera, 0.001);
    ASSERT_TRUE(g.Render(2, 1, 16, 0, 0, 2, 1));
    ScratchFolder folder;
    const std::string path = folder.Path("synthetic.tif");
    {
        CTiffFileReader file(path.c_str());
        ASSERT_TRUE(g.GetStore().WriteTo(file));
        ASSERT_TRUE(file.Close());
    }
    CTiffDisplayImage shown;
    ASSERT_EQ(shown.Load(path.c_str(), 0), 1);
    std::vector<uint8_t> line(width);
    int lit = 0;
    for (int r = 0; r < height; ++r) {
        ASSERT_NE(shown.GetGreyRow(r, line.data()), 0);
        for (int c = 0; c < width; ++c) {
            ASSERT_EQ(line[c], g.GetStore().GetPixel(0, r, c)) << c << ", " << r;
            lit += line[c] != 0;
        }
    }
    EXPECT_GT(lit, 300);
}

TEST(SyntheticImageGenerator, AbsurdCameraSizeIsRefused)
{
    QuietMessages quiet;
    Scene scene(2000000000, 2000000000);
    scene.Add("A", 30.0, 20.0, 5.0, 0.0, 0.0);
    CSyntheticImageGenerator g(scene.points, scene.image, scene.camera, 0.001);
    EXPECT_FALSE(g.Render(0, 0, 1, 0, 0, 0, 1));
}

// The target radius goes with the normal source: a target that takes the
// default normal (source 1), or has no radius of its own (source 2), is drawn
// with the default radius; its picture covers the disc's area.
TEST(SyntheticImageGenerator, DefaultRadiusForTargetsWithoutOne)
{
    const double scale = kPixel * kDistance / kC; // mm per pixel at the target
    const struct {
        const char* name;
        double ownRadius;     // pixels; 0: none
        bool ownNormal;       // else (0, 0, 0)
        double defaultRadius; // pixels
        int source;
        int drawn;
        double radius;        // pixels of the drawn disc
    } rows[] = {
        {"no radius, no normal: the defaults", 0.0, false, 6.0, 2, 1, 6.0},
        {"own radius kept", 3.0, true, 6.0, 2, 1, 3.0},
        {"own radius, no normal: own radius", 4.0, false, 6.0, 2, 1, 4.0},
        {"default target information for all", 3.0, true, 6.0, 1, 1, 6.0},
        {"own information only: nothing to draw", 0.0, true, 6.0, 0, 0, 0.0},
        {"no radius anywhere", 0.0, false, 0.0, 2, 0, 0.0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        Scene scene(120, 90);
        scene.Add("A", 60.0, 45.0, r.ownRadius, 0.0, 0.0);
        CObjectPoint* point = scene.points.GetAt(0);
        if (!r.ownNormal)
            point->normal[0] = point->normal[1] = point->normal[2] = 0.0;
        CSyntheticImageGenerator g(scene.points, scene.image, scene.camera, 0.001);
        g.SetParameters(0.0, -1.0, 0.0, r.defaultRadius * scale);
        int inView = -1, drawn = -1;
        g.CountTargets(CSyntheticImageGenerator::kExact, 1, r.source, inView, drawn);
        EXPECT_EQ(inView, 1);
        EXPECT_EQ(drawn, r.drawn);
        // Counting draws and records nothing.
        EXPECT_EQ(scene.image.targets.GetSize(), 0);
        ASSERT_TRUE(g.Render(0, CSyntheticImageGenerator::kExact, 1, 1, 0, r.source, 1));
        EXPECT_EQ(g.GetDrawnTargets(), r.drawn);
        EXPECT_EQ(scene.image.targets.GetSize(), r.drawn);
        double covered = 0.0;
        for (int y = 0; y < 90; ++y)
            for (int x = 0; x < 120; ++x)
                covered += g.GetStore().GetPixel(0, y, x) / 255.0;
        EXPECT_NEAR(covered, kPi * r.radius * r.radius, 0.02 * kPi * r.radius * r.radius + 0.5);
    }
}

} // namespace synthetic_image_generator_test
