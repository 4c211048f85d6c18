// AutoScan on rendered sheets of known target centres: every target found
// once and measured close to its true centre, border-cut targets, bars and
// large blobs rejected, the process-wide centroid settings untouched; and
// the edge cases of the preparation and the validation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "Camera.h"
#include "CentroidSettings.h"
#include "DisplayImage.h"
#include "EODevice.h"
#include "Intersection.h"
#include "Message.h"
#include "ObjectPoint.h"
#include "MeasurementTool.h"
#include "ProjectDocument.h"
#include "ProjectImage.h"
#include "TargetDetector.h"
#include "TargetRenderer.h"
#include "TestFiles.h"

namespace target_detector_test {

CCamera MakeCamera(int width, int height)
{
    CCamera camera;
    camera.XPixels = width;
    camera.YPixels = height;
    camera.XPixelSize = camera.YPixelSize = 0.01;
    for (double& p : camera.parameters)
        p = 0.0;
    camera.parameters[CAM_C] = 20.0;
    return camera;
}

// A scan of one rendered sheet: document, image record, camera, picture,
// measuring object and detector.
struct Scan {
    explicit Scan(const TargetScene& scene, bool invert) : Scan(RenderScene(scene), invert) {}
    Scan(const TestPicture& rendered, bool invert)
        : camera(MakeCamera(rendered.width, rendered.height)), picture(MakeDisplayImage(rendered))
    {
        picture->ComputeStatistics();
        tool = std::make_unique<CMeasurementTool>(&image, &camera, picture.get(), nullptr, nullptr);
        tool->SetDocument(&doc);
        this->invert = invert;
    }
    int Run()
    {
        std::unique_ptr<CTargetDetector> detector(CreateTargetDetector(&doc, &image, &camera, tool.get(), invert));
        const int result = detector->Run(false);
        threshold = detector->GetGreyThreshold();
        return result;
    }
    CProjectDocument doc;
    CProjectImage image;
    CCamera camera;
    std::unique_ptr<CDisplayImage> picture;
    std::unique_ptr<CMeasurementTool> tool;
    bool invert = false;
    int threshold = -1;
};

RenderedTarget Disc(double x, double y, double radius, double amplitude)
{
    RenderedTarget t;
    t.x = x;
    t.y = y;
    t.semiAxisA = t.semiAxisB = radius;
    t.amplitude = amplitude;
    return t;
}

// Targets of 5 to 20 pixels diameter on a grid with random sub-pixel centres.
TargetScene Sheet(double polarity, double blur, double noise, unsigned seed)
{
    TargetScene scene;
    scene.width = 1024;
    scene.height = 768;
    scene.background = polarity > 0 ? 20.0 : 230.0;
    scene.blurSigma = blur;
    scene.noiseSigma = noise;
    scene.seed = seed;
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> offset(-0.5, 0.5), radius(2.5, 10.0), contrast(160.0, 200.0);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 3; ++j)
            scene.targets.push_back(
                Disc(80.0 + 150.0 * i + offset(rng), 90.0 + 150.0 * j + offset(rng), radius(rng), polarity * contrast(rng)));
    return scene;
}

// The system's temporary folder turned to a fresh folder while the object
// lives: the debug dumps land there.
class DumpFolder {
public:
    DumpFolder() : folder("autoscan-dumps")
    {
        const char* old = std::getenv("TMPDIR");
        hadOld = old != nullptr;
        if (hadOld)
            oldValue = old;
        setenv("TMPDIR", folder.Path().c_str(), 1);
    }
    ~DumpFolder()
    {
        if (hadOld)
            setenv("TMPDIR", oldValue.c_str(), 1);
        else
            unsetenv("TMPDIR");
    }
    // The lines of a dump file; empty when there is none.
    std::vector<std::string> Lines(const std::string& name) const
    {
        std::vector<std::string> lines;
        std::ifstream in(folder.File(name), std::ios::binary);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

private:
    kestrelon::test::TempFolder folder;
    bool hadOld = false;
    std::string oldValue;
};

// Status texts shown while the object lives.
class StatusLog {
public:
    StatusLog()
    {
        old = SetStatusTextHandler([this](const char* text) { texts.push_back(text); });
    }
    ~StatusLog() { SetStatusTextHandler(old); }
    bool Has(const std::string& text) const
    {
        return std::find(texts.begin(), texts.end(), text) != texts.end();
    }
    std::vector<std::string> texts;

private:
    StatusTextHandler old;
};

TEST(TargetDetector, FindsEveryTargetOnceNearItsCentre)
{
    struct Case {
        int method; // 0 standard, 1 expansion
        double polarity, blur, noise, tolerance;
    };
    const Case cases[] = {{0, 1, 0.0, 0.0, 0.05}, {0, 1, 1.0, 2.0, 0.05}, {0, -1, 0.7, 2.0, 0.05},
                          {0, 1, 1.0, 5.0, 0.1},   {0, -1, 1.0, 5.0, 0.1},  {1, 1, 0.0, 0.0, 0.05},
                          {1, 1, 1.0, 2.0, 0.05},  {1, -1, 0.7, 2.0, 0.05}, {1, 1, 1.0, 5.0, 0.1}};
    unsigned seed = 11;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "method " << c.method << " polarity " << c.polarity << " blur " << c.blur
                                        << " noise " << c.noise);
        TargetScene scene = Sheet(c.polarity, c.blur, c.noise, ++seed);
        const size_t good = scene.targets.size();
        // Rejected: cut by the border, a bar and a blob beyond twice the
        // area maximum.
        scene.targets.push_back(Disc(3.0, 600.0, 7.0, c.polarity * 180.0));
        RenderedTarget bar = Disc(500.0, 650.0, 150.0, c.polarity * 180.0);
        bar.semiAxisB = 2.0;
        bar.rotation = 0.1;
        scene.targets.push_back(bar);
        scene.targets.push_back(Disc(850.0, 300.0, 20.0, c.polarity * 180.0));

        const CCentroidSettings before = GetCentroidSettings();
        Scan scan(scene, c.polarity < 0);
        scan.doc.scanMethod = c.method;
        // The expansion scan dumps a grid it cannot centre, debug or not.
        DumpFolder dumps;
        ASSERT_EQ(scan.Run(), 1);
        EXPECT_EQ(std::memcmp(&before, &GetCentroidSettings(), sizeof before), 0);

        ASSERT_EQ(scan.image.targets.GetSize(), int(good));
        double sum = 0.0;
        std::vector<int> hits(good, 0);
        for (int i = 0; i < scan.image.targets.GetSize(); ++i) {
            const CImageObservation* o = scan.image.targets.GetAt(i);
            EXPECT_EQ(o->label.GetText()[0], '-');
            EXPECT_TRUE(IsUnidentifiedLabel(o->label));
            EXPECT_TRUE(o->measured);
            EXPECT_DOUBLE_EQ(o->sigmaX, scan.doc.settings.defaultImageSigma);
            EXPECT_DOUBLE_EQ(o->sigmaY, scan.doc.settings.defaultImageSigma);
            size_t best = 0;
            double bestD = 1e9;
            for (size_t k = 0; k < good; ++k) {
                const double d = std::hypot(o->pixelColumn - scene.targets[k].x, o->pixelRow - scene.targets[k].y);
                if (d < bestD) {
                    bestD = d;
                    best = k;
                }
            }
            ++hits[best];
            sum += bestD * bestD;
            double x = 0.0, y = 0.0;
            scan.camera.PixelToImage(o->pixelColumn, o->pixelRow, x, y);
            EXPECT_DOUBLE_EQ(o->x, x);
            EXPECT_DOUBLE_EQ(o->y, y);
        }
        for (int h : hits)
            EXPECT_EQ(h, 1);
        EXPECT_LE(std::sqrt(sum / double(good)), c.tolerance);
    }
}

// The edge cases of preparation and validation, one scan each.
TEST(TargetDetector, EdgeCases)
{
    struct Case {
        const char* name;
        int minGrey;      // both minimum grey values; -1: the picture's mean grey
        double ratio;     // both target/image ratios
        bool debug;
        bool expectHigh;
        int expectObservations; // -1: more than the sheet's 12 targets, -2: not checked
    };
    const Case cases[] = {
        {"mean equal to the minimum is high quality", -1, 0.01, false, true, 12},
        {"mean above the minimum is low quality", 0, 0.01, false, false, -2},
        {"ratio 1 stops at grey 0", 0, 1.0, false, false, -2},
        {"debug keeps rejected regions and close observations", -1, 0.01, true, true, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TargetScene scene = Sheet(1, 0.7, 2.0, 5);
        scene.targets.push_back(Disc(850.0, 300.0, 20.0, 180.0)); // beyond the area limit
        Scan scan(scene, false);
        scan.doc.highMinGrey = scan.doc.lowMinGrey = c.minGrey < 0 ? scan.picture->GetMean() : c.minGrey;
        scan.doc.highTargetImageRatio = scan.doc.lowTargetImageRatio = c.ratio;
        scan.doc.scanFlags[0] = c.debug;
        // No EO device in the project: no region is taken for one.
        ASSERT_EQ(scan.doc.pointSets.GetEODevice(), nullptr);
        ASSERT_EQ(scan.Run(), 1);
        EXPECT_TRUE(scan.image.qualitySet);
        EXPECT_EQ(scan.image.highQuality, c.expectHigh);
        EXPECT_GE(scan.threshold, 0);
        EXPECT_GE(scan.threshold, scan.doc.highMinGrey);
        for (int i = 0; i < scan.image.targets.GetSize(); ++i)
            EXPECT_TRUE(scan.image.targets.GetAt(i)->measured); // no EO-device point
        if (c.ratio >= 1.0) {
            EXPECT_EQ(scan.threshold, 0);
        }
        if (c.expectObservations >= 0) {
            EXPECT_EQ(scan.image.targets.GetSize(), c.expectObservations);
        } else if (c.expectObservations == -1) {
            EXPECT_GT(scan.image.targets.GetSize(), 12);
        }
    }
}

// A detector whose scan is replaced by observations of a known pose: the
// device's targets projected through the camera under scanned labels, and
// the reference target stored as the scan stores it.
struct EOScan : CRegionTargetDetector {
    using CRegionTargetDetector::CRegionTargetDetector;
    void AddReference(double x, double y)
    {
        CNameBuffer label;
        label.SetNumber(-99);
        CImageObservation o(label, x, y);
        o.measured = false;
        image->targets.AddSorted(o);
        eoPoints.push_back(label);
        eoReference.SetAxes(1.0, 1.0, 0.0);
    }
};

struct DeviceScene {
    explicit DeviceScene(int points, double turn)
    {
        camera = MakeCamera(2000, 2000);
        truth.SetPose(10.0, -20.0, 300.0, 0.4, -0.3, 0.2);
        double R[3][3];
        truth.GetRotation(R);
        doc.eoDevice.SetName("Device");
        doc.eoDevice.SetIDShape(0);
        // A centre point and the others clockwise around it, turned about
        // the line of sight.
        for (int i = 0; i < points; ++i) {
            const double a = turn - 2.0 * std::acos(-1.0) * (i - 1) / (points - 1);
            const double r = i == 0 ? 0.0 : 40.0 + 7.0 * i;
            const double cam[3] = {r * std::cos(a), r * std::sin(a), -300.0 - 5.0 * (i % 3)};
            char label[16];
            std::snprintf(label, sizeof label, "E%d", i + 1);
            CObjectPoint p(label, 0.0, 0.0, 0.0);
            p.x = truth.X + R[0][0] * cam[0] + R[1][0] * cam[1] + R[2][0] * cam[2];
            p.y = truth.Y + R[0][1] * cam[0] + R[1][1] * cam[1] + R[2][1] * cam[2];
            p.z = truth.Z + R[0][2] * cam[0] + R[1][2] * cam[1] + R[2][2] * cam[2];
            doc.eoDevice.AddPointSorted(p);
            CImageObservation o;
            EXPECT_TRUE(ProjectPointToImage(p, truth, camera, o, 1.0));
            CNameBuffer scanned;
            scanned.SetNumber(-(i + 1));
            CImageObservation stored(scanned, o.x, o.y, 0.001, 0.001, 0.0, 0.0);
            stored.measured = true;
            image.targets.AddSorted(stored);
        }
        // A target away from the device.
        CImageObservation far(CNameBuffer("-50"), 8.0, 8.0, 0.001, 0.001, 0.0, 0.0);
        far.measured = true;
        image.targets.AddSorted(far);
        image.SetPose(0.0, 0.0, 0.0, 0.0, 0.0, 0.0);
    }
    CProjectDocument doc;
    CProjectImage truth;
    CProjectImage image;
    CCamera camera;
};

TEST(TargetDetector, IdentifiesTheEODevice)
{
    struct Case {
        int points;
        double turn;      // the device turned about the line of sight
        double maxRms;    // -1: the device's default; -2: the RMS an identification reaches
        bool expectFound;
    };
    const double q = std::acos(0.0);
    const Case cases[] = {{5, 0.0, -1, true},    {5, q, -1, true},      {5, 2 * q, -1, true}, {5, 3 * q, -1, true},
                          {6, 0.3, -1, true},    {5, 0.0, -2, false},   {9, 0.2, -1, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.points << " points, turn " << c.turn << ", max RMS " << c.maxRms);
        DeviceScene scene(c.points, c.turn);
        StatusLog status;
        if (c.maxRms == -2) {
            DeviceScene first(c.points, c.turn);
            EOScan detector(&first.image, &first.camera, nullptr, &first.doc, false);
            const CImageObservation* centre = first.image.FindObservationByText("-1");
            detector.AddReference(centre->x, centre->y);
            ASSERT_TRUE(detector.IdentifyEODevice());
            scene.doc.eoDevice.SetMaxResectionRms(detector.GetResectionSummary().rms);
        }
        std::vector<std::string> before;
        for (int i = 0; i < scene.image.targets.GetSize(); ++i)
            before.push_back(scene.image.targets.GetAt(i)->label.GetText());
        EOScan detector(&scene.image, &scene.camera, nullptr, &scene.doc, false);
        // The reference sits on the device's first (centre) target.
        const CImageObservation* centre = scene.image.FindObservationByText("-1");
        ASSERT_NE(centre, nullptr);
        detector.AddReference(centre->x, centre->y);
        EXPECT_EQ(detector.IdentifyEODevice(), c.expectFound);
        // Above eight points no assignment is tried: 9! resections would
        // hold the user interface for minutes.
        EXPECT_EQ(status.Has("Automatic EO-Device identification: too many device points to try every assignment"),
                  c.points > 8);
        if (c.points > 8) {
            EXPECT_EQ(detector.GetResectionCount(), 0);
            EXPECT_EQ(scene.image.X, 0.0);
            EXPECT_EQ(scene.image.Z, 0.0);
        }
        // Five points are found within the four rotations.
        if (c.points == 5 && c.expectFound) {
            EXPECT_LE(detector.GetResectionCount(), 4);
        }
        EXPECT_EQ(scene.image.oriented, c.expectFound);
        if (c.expectFound) {
            for (int i = 0; i < c.points; ++i) {
                const CObjectPoint* p = scene.doc.eoDevice.GetAt(i);
                const CImageObservation* o = scene.image.FindObservation(p->label);
                ASSERT_NE(o, nullptr) << p->label.GetText();
                CImageObservation projected;
                ASSERT_TRUE(ProjectPointToImage(*p, scene.truth, scene.camera, projected, 1.0));
                EXPECT_NEAR(o->x, projected.x, 1e-9);
                EXPECT_NEAR(o->y, projected.y, 1e-9);
            }
            EXPECT_NEAR(scene.image.X, scene.truth.X, 1e-4);
            EXPECT_NEAR(scene.image.Y, scene.truth.Y, 1e-4);
            EXPECT_NEAR(scene.image.Z, scene.truth.Z, 1e-4);
            double R[3][3], T[3][3];
            scene.image.GetRotation(R);
            scene.truth.GetRotation(T);
            for (int r = 0; r < 3; ++r)
                for (int k = 0; k < 3; ++k)
                    EXPECT_NEAR(R[r][k], T[r][k], 1e-6);
        } else {
            // Every candidate has its old label back.
            std::vector<std::string> after;
            for (int i = 0; i < scene.image.targets.GetSize(); ++i)
                if (scene.image.targets.GetAt(i)->measured)
                    after.push_back(scene.image.targets.GetAt(i)->label.GetText());
            EXPECT_EQ(after, before);
        }
    }
}

// The scan of all images: disabled images and unreadable files are skipped,
// the others scanned, flagged and reported.
TEST(TargetDetector, ScansAllImages)
{
    kestrelon::test::TempFolder folder("autoscan");
    TargetScene scene = Sheet(-1, 0.7, 2.0, 3); // dark targets, as the default centroid settings expect
    ASSERT_TRUE(WritePicture(folder.File("a.bmp"), RenderScene(scene)));
    ASSERT_TRUE(WritePicture(folder.File("b.bmp"), RenderScene(scene)));
    folder.Write("c.bmp", "not a picture");
    CProjectDocument doc;
    CCamera* camera = doc.cameras.AddNew();
    *camera = MakeCamera(scene.width, scene.height);
    camera->identifier = "Cam";
    struct Entry {
        const char* file;
        bool enabled;
        bool expectScanned;
    };
    const Entry entries[] = {{"a.bmp", true, true}, {"b.bmp", false, false}, {"c.bmp", true, false},
                             {"missing.bmp", true, false}};
    for (const Entry& e : entries) {
        CProjectImage* image = doc.AddNewImage(e.file);
        image->SetFilePath(folder.File(e.file).c_str());
        image->SetCameraName("Cam");
        image->enabled = e.enabled;
        image->oriented = true;
    }
    doc.SetModifiedFlag(false);
    const CCentroidSettings before = GetCentroidSettings();
    std::vector<int> selected;
    std::vector<const CProjectImage*> reported;
    int refreshed = 0;
    CAutoScanCallbacks callbacks;
    callbacks.selectImage = [&](int i) { selected.push_back(i); };
    callbacks.imageScanned = [&](CProjectImage& image) { reported.push_back(&image); };
    callbacks.refresh = [&]() { ++refreshed; };
    EXPECT_EQ(AutoScanImages(doc, callbacks), 1);
    EXPECT_EQ(std::memcmp(&before, &GetCentroidSettings(), sizeof before), 0);
    EXPECT_EQ(selected, (std::vector<int>{0, -1}));
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_EQ(reported[0], doc.images.GetAt(0));
    EXPECT_EQ(refreshed, 1);
    EXPECT_TRUE(doc.IsModified());
    for (int i = 0; i < 4; ++i) {
        const CProjectImage* image = doc.images.GetAt(i);
        EXPECT_EQ(image->scanned, entries[i].expectScanned) << entries[i].file;
        EXPECT_EQ(image->oriented, !entries[i].enabled) << entries[i].file;
        EXPECT_EQ(image->targets.GetSize() > 0, entries[i].expectScanned) << entries[i].file;
    }
}

// A pattern of bright pixels (220) on a dark ground (20), clear of the border.
TestPicture RandomPattern(int width, int height, double density, unsigned seed)
{
    TestPicture picture;
    picture.width = width;
    picture.height = height;
    picture.values.assign(size_t(width) * size_t(height), 20);
    std::mt19937 rng(seed);
    std::bernoulli_distribution bright(density);
    for (int r = 2; r < height - 2; ++r)
        for (int c = 2; c < width - 2; ++c)
            if (bright(rng))
                picture.values[size_t(r) * size_t(width) + size_t(c)] = 220;
    return picture;
}

// The 8-connected components of the bright pixels by flood fill: 0 for the
// ground, else 1, 2, ...
std::vector<int> Components(const TestPicture& picture)
{
    const int w = picture.width, h = picture.height;
    std::vector<int> id(size_t(w) * size_t(h), 0);
    int next = 0;
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) {
            if (picture.At(r, c) < 128 || id[size_t(r) * w + c] != 0)
                continue;
            id[size_t(r) * w + c] = ++next;
            std::vector<std::pair<int, int>> stack{{r, c}};
            while (!stack.empty()) {
                const auto [pr, pc] = stack.back();
                stack.pop_back();
                for (int nr = pr - 1; nr <= pr + 1; ++nr)
                    for (int nc = pc - 1; nc <= pc + 1; ++nc)
                        if (nr >= 0 && nr < h && nc >= 0 && nc < w && picture.At(nr, nc) >= 128 &&
                            id[size_t(nr) * w + nc] == 0) {
                            id[size_t(nr) * w + nc] = next;
                            stack.push_back({nr, nc});
                        }
            }
        }
    return id;
}

// Each region of a segmentation is one connected component of the picture,
// every component is one region, and the label grid leads each pixel to its
// region (as the EO device's shape-id-1 search reads it). Branched patterns
// make the expansion detector join blobs that were joined before.
TEST(TargetDetector, RegionsAreTheConnectedComponents)
{
    for (int method = 0; method < 2; ++method)
        for (double density : {0.3, 0.45, 0.6})
            for (unsigned seed = 1; seed <= 4; ++seed) {
                SCOPED_TRACE(testing::Message() << "method " << method << " density " << density << " seed " << seed);
                const TestPicture picture = RandomPattern(72, 56, density, seed);
                const std::vector<int> truth = Components(picture);
                Scan scan(picture, false);
                scan.doc.scanMethod = method;
                scan.doc.highMinGrey = scan.doc.lowMinGrey = 200;
                std::unique_ptr<CTargetDetector> detector(
                    CreateTargetDetector(&scan.doc, &scan.image, &scan.camera, scan.tool.get(), false));
                ASSERT_TRUE(detector->Prepare());
                ASSERT_EQ(detector->GetGreyThreshold(), 219);
                ASSERT_TRUE(detector->Segment());

                // The region of every pixel as the detector's regions hold them.
                std::vector<int> region(truth.size(), 0);
                int twice = 0;
                auto claim = [&](int row, int column, int id) {
                    int& cell = region[size_t(row) * picture.width + column];
                    twice += cell != 0;
                    cell = id;
                };
                int regionCount = 0;
                if (method == 0) {
                    const CRegionList& regions = detector->GetRegions();
                    regionCount = regions.GetSize();
                    for (int i = 0; i < regions.GetSize(); ++i)
                        for (int k = 0; k < regions.GetAt(i)->GetPixelCount(); ++k) {
                            const CSeedPixel* p = regions.GetAt(i)->GetPixel(k);
                            claim(p->row, p->column, regions.GetAt(i)->regionId);
                        }
                } else {
                    const CRegionGridList& grids = static_cast<CExpansionTargetDetector&>(*detector).GetGrids();
                    regionCount = grids.GetSize();
                    for (int i = 0; i < grids.GetSize(); ++i) {
                        const CRegionGrid* grid = grids.GetAt(i);
                        for (int r = 0; r < grid->GetRows(); ++r)
                            for (int c = 0; c < grid->GetColumns(); ++c)
                                if (grid->Get(r, c) >= 0)
                                    claim(grid->rowOrigin + r, grid->columnOrigin + c, grid->regionId);
                    }
                }
                EXPECT_EQ(twice, 0) << "pixels in two regions";
                std::map<int, int> componentOf, regionOf;
                int wrong = 0, unlabelled = 0, misread = 0;
                for (int r = 0; r < picture.height; ++r)
                    for (int c = 0; c < picture.width; ++c) {
                        const size_t i = size_t(r) * picture.width + c;
                        if (truth[i] == 0) {
                            wrong += region[i] != 0;
                            continue;
                        }
                        if (region[i] == 0) {
                            ++unlabelled;
                            continue;
                        }
                        wrong += componentOf.emplace(region[i], truth[i]).first->second != truth[i];
                        wrong += regionOf.emplace(truth[i], region[i]).first->second != region[i];
                        misread += detector->RegionIdOfLabel(detector->GetLabels().Get(r, c)) != region[i];
                    }
                EXPECT_EQ(wrong, 0);
                EXPECT_EQ(unlabelled, 0);
                EXPECT_EQ(misread, 0);
                EXPECT_EQ(regionCount, *std::max_element(truth.begin(), truth.end()));
            }
}

// An EO device photographed: its five targets and its reference ring rendered
// at the projections of their 3D points through a known camera and pose
// (turned about the line of sight), with four targets of the object in the corners.
// Shape id 0: a small ring beside the device's centre target; shape id 1: a
// large ring around the whole device, centred on its centre target, so the
// ring's observation lies on that target's.
struct PhotographedDevice {
    PhotographedDevice(CProjectDocument& doc, int shapeId, double turn, unsigned seed)
        : camera(MakeCamera(800, 800))
    {
        truth.SetPose(10.0, -20.0, 600.0, 0.2, -0.15, 0.1);
        truth.GetRotation(R);
        doc.eoDevice.SetName("Device");
        doc.eoDevice.SetIDShape(shapeId);
        scene.width = scene.height = 800;
        scene.background = 20.0;
        scene.blurSigma = 0.7;
        scene.noiseSigma = 2.0;
        scene.seed = seed;
        // A centre target and four around it clockwise, at unequal radii and depths.
        for (int i = 0; i < 5; ++i) {
            const double a = turn - std::acos(0.0) * (i - 1);
            const double r = i == 0 ? 0.0 : 40.0 + 7.0 * i;
            CObjectPoint p = Place(r * std::cos(a), r * std::sin(a), -600.0 - 5.0 * (i % 3));
            const std::string label = "E" + std::to_string(i + 1);
            p.label.Set(label.c_str());
            doc.eoDevice.AddPointSorted(p);
            double column = 0.0, row = 0.0;
            Pixel(p, column, row);
            scene.targets.push_back(Disc(column, row, 6.0, 180.0));
        }
        double column = 0.0, row = 0.0;
        RenderedTarget ring;
        ring.kind = TargetKind::Annulus;
        if (shapeId == 0) {
            Pixel(Place(30.0 * std::cos(turn + 0.8), 30.0 * std::sin(turn + 0.8), -600.0), column, row);
            ring.semiAxisA = ring.semiAxisB = 16.0;
            ring.innerRatio = 0.5;
        } else {
            Pixel(Place(0.0, 0.0, -600.0), column, row);
            ring.semiAxisA = ring.semiAxisB = 300.0;
            ring.innerRatio = 0.9;
        }
        ring.x = column;
        ring.y = row;
        scene.targets.push_back(ring);
        for (double x : {50.0, 750.0})
            for (double y : {50.0, 750.0})
                scene.targets.push_back(Disc(x + 0.3, y - 0.2, 5.0, 180.0));
    }
    // A point given in the camera's frame, in the world.
    CObjectPoint Place(double cx, double cy, double cz) const
    {
        CObjectPoint p("", 0.0, 0.0, 0.0);
        p.x = truth.X + R[0][0] * cx + R[1][0] * cy + R[2][0] * cz;
        p.y = truth.Y + R[0][1] * cx + R[1][1] * cy + R[2][1] * cz;
        p.z = truth.Z + R[0][2] * cx + R[1][2] * cy + R[2][2] * cz;
        return p;
    }
    void Pixel(const CObjectPoint& p, double& column, double& row) const
    {
        CImageObservation o;
        EXPECT_TRUE(ProjectPointToImage(p, truth, camera, o, 1.0));
        camera.ImageToPixel(o.x, o.y, column, row);
    }
    CCamera camera;
    CProjectImage truth;
    double R[3][3];
    TargetScene scene;
};

// AutoScan finds the rendered reference ring through the shape test, takes
// the device's targets by the shape id's rule, labels them and resects the
// image; the ring's observation goes and the corner targets stay unlabelled.
// With debug scanning the shape test's grids and the ring's mask are written
// to the temporary folder.
TEST(TargetDetector, IdentifiesAPhotographedDevice)
{
    struct Case {
        int method; // 0 standard, 1 expansion
        int shapeId;
        double turn;
        bool debug;
    };
    const double q = std::acos(0.0);
    const Case cases[] = {{0, 0, 0.0, false}, {0, 0, q, false},   {0, 0, 2 * q, false}, {0, 0, 3 * q, false},
                          {1, 0, q, false},   {0, 1, 0.3, false}, {1, 1, 0.3, false},   {0, 1, 0.3, true},
                          {1, 1, 0.3, true},  {1, 1, 2 * q, false}};
    // Cases of one device and turn scan the same picture.
    std::map<std::pair<int, double>, TestPicture> pictures;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "method " << c.method << " shape id " << c.shapeId << " turn " << c.turn
                                        << (c.debug ? " debug" : ""));
        CProjectDocument doc;
        PhotographedDevice device(doc, c.shapeId, c.turn, unsigned(41 + pictures.size()));
        const auto key = std::make_pair(c.shapeId, c.turn);
        if (pictures.count(key) == 0)
            pictures[key] = RenderScene(device.scene);
        Scan scan(pictures[key], false);
        // The scan's document takes the device.
        scan.doc.eoDevice.SetName("Device");
        scan.doc.eoDevice.SetIDShape(c.shapeId);
        for (int i = 0; i < doc.eoDevice.GetSize(); ++i)
            scan.doc.eoDevice.AddPointSorted(*doc.eoDevice.GetAt(i));
        scan.doc.scanMethod = c.method;
        scan.doc.scanFlags[0] = c.debug;
        // The large ring covers 8% of the picture: the brightest 1% would put
        // the threshold at the ring's grey, above the targets' edges.
        if (c.shapeId == 1)
            scan.doc.highTargetImageRatio = 0.2;
        scan.image.SetPose(0.0, 0.0, 0.0, 0.0, 0.0, 0.0);
        DumpFolder dumps;
        std::unique_ptr<CTargetDetector> detector(
            CreateTargetDetector(&scan.doc, &scan.image, &scan.camera, scan.tool.get(), false));
        ASSERT_EQ(detector->Run(false), 1);
        ASSERT_TRUE(scan.image.oriented);
        if (c.shapeId == 0) {
            EXPECT_LE(detector->GetResectionCount(), 4);
        }
        // The device's targets carry its labels at their true positions.
        for (int i = 0; i < scan.doc.eoDevice.GetSize(); ++i) {
            const CObjectPoint* p = scan.doc.eoDevice.GetAt(i);
            const CImageObservation* o = scan.image.FindObservation(p->label);
            ASSERT_NE(o, nullptr) << p->label.GetText();
            double column = 0.0, row = 0.0;
            device.Pixel(*p, column, row);
            EXPECT_NEAR(o->pixelColumn, column, 0.1) << p->label.GetText();
            EXPECT_NEAR(o->pixelRow, row, 0.1) << p->label.GetText();
        }
        // A tenth of a pixel (1 µm) on targets 500 to 900 µm from the centre
        // at a distance of 600 mm: the station within 0.5 mm, the rotation
        // within 1e-3.
        EXPECT_NEAR(scan.image.X, device.truth.X, 0.5);
        EXPECT_NEAR(scan.image.Y, device.truth.Y, 0.5);
        EXPECT_NEAR(scan.image.Z, device.truth.Z, 0.5);
        double R[3][3];
        scan.image.GetRotation(R);
        for (int r = 0; r < 3; ++r)
            for (int k = 0; k < 3; ++k)
                EXPECT_NEAR(R[r][k], device.R[r][k], 1e-3);
        // The ring's observation is gone; the corner targets stay unlabelled.
        int unlabelled = 0;
        for (int i = 0; i < scan.image.targets.GetSize(); ++i) {
            const CImageObservation* o = scan.image.targets.GetAt(i);
            EXPECT_TRUE(o->measured) << o->label.GetText();
            unlabelled += IsUnidentifiedLabel(o->label);
        }
        EXPECT_EQ(unlabelled, 4);
        if (!c.debug) {
            EXPECT_EQ(scan.image.targets.GetSize(), 9);
        }
        // Debug scanning: the shape test's grids, and for shape id 1 the
        // ring's mask with its margin, one text line per row.
        EXPECT_EQ(!dumps.Lines("dump0.txt").empty(), c.debug);
        EXPECT_EQ(!dumps.Lines("dump3.txt").empty(), c.debug);
        const std::vector<std::string> mask = dumps.Lines("unmask.txt");
        EXPECT_EQ(!mask.empty(), c.debug && c.shapeId == 1);
        if (!mask.empty()) {
            // The ring's rows with a margin of one; the rows where the ring
            // runs nearly along the row have no rise above the target jump,
            // so a few at its top and bottom are not segmented.
            EXPECT_GE(mask.size(), 560u);
            EXPECT_LE(mask.size(), 608u);
            EXPECT_EQ(mask.front().find_first_not_of(" 0\r"), std::string::npos);
            EXPECT_EQ(mask.back().find_first_not_of(" 0\r"), std::string::npos);
            // The middle row crosses the 30-pixel ring twice.
            std::istringstream middle(mask[mask.size() / 2]);
            int ones = 0;
            for (int cell = 0; middle >> cell;)
                ones += cell == 1;
            EXPECT_NEAR(ones, 60, 6);
        }
    }
}

// "Refuse moving centroid": a target with a dim wing below the threshold. The
// region holds the bright disc only; the centroid operator (and the expansion
// detector's refinement) weighs the wing as well and lands 2.8 px off.
// Refused, the target is dropped; the expansion detector keeps the grid,
// marked and written to "region_<id>.txt" in the temporary folder.
TEST(TargetDetector, RefusesAMovingCentroid)
{
    struct Case {
        int method;
        bool refuse;
        int expectObservations;
    };
    const Case cases[] = {{0, false, 2}, {0, true, 1}, {1, false, 2}, {1, true, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "method " << c.method << (c.refuse ? " refusing" : ""));
        TargetScene scene;
        scene.width = 400;
        scene.height = 300;
        scene.blurSigma = 0.5;
        scene.noiseSigma = 1.0;
        scene.targets.push_back(Disc(100.3, 100.6, 4.5, 200.0));
        scene.targets.push_back(Disc(250.4, 150.3, 4.5, 200.0));
        RenderedTarget wing = Disc(258.4, 150.3, 4.0, 110.0);
        wing.semiAxisB = 5.0;
        scene.targets.push_back(wing);
        Scan scan(scene, false);
        scan.doc.scanMethod = c.method;
        // A low-quality image (no shape test in the operator) with a
        // threshold of 150: the wing (130) is not segmented.
        scan.doc.highMinGrey = 0;
        scan.doc.lowMinGrey = 150;
        const bool flags[4] = {true, false, false, c.refuse}; // area, optimise, ellipse, refuse
        std::copy(flags, flags + 4, scan.doc.scanFlags + 5);
        DumpFolder dumps;
        std::unique_ptr<CTargetDetector> detector(
            CreateTargetDetector(&scan.doc, &scan.image, &scan.camera, scan.tool.get(), false));
        ASSERT_EQ(detector->Run(false), 1);
        ASSERT_EQ(detector->GetGreyThreshold(), 150);
        ASSERT_EQ(scan.image.targets.GetSize(), c.expectObservations);
        const CImageObservation* plain = scan.image.targets.GetAt(0);
        const CImageObservation* winged = c.expectObservations > 1 ? scan.image.targets.GetAt(1) : nullptr;
        if (winged != nullptr && plain->pixelColumn > 200.0)
            std::swap(plain, winged);
        EXPECT_NEAR(plain->pixelColumn, 100.3, 0.05);
        EXPECT_NEAR(plain->pixelRow, 100.6, 0.05);
        if (winged != nullptr) {
            EXPECT_GT(winged->pixelColumn - 250.4, 2.0);
        }
        // The refused grid's dump: a header and one line per grid row.
        std::vector<std::string> dumped;
        if (c.method == 1) {
            const CRegionGridList& grids = static_cast<CExpansionTargetDetector&>(*detector).GetGrids();
            for (int i = 0; i < grids.GetSize(); ++i) {
                const CRegionGrid* grid = grids.GetAt(i);
                char name[32];
                std::snprintf(name, sizeof name, "region_%03d.txt", grid->regionId);
                const std::vector<std::string> lines = dumps.Lines(name);
                EXPECT_EQ(grid->valid == 0, c.refuse && !lines.empty());
                if (!lines.empty()) {
                    dumped.push_back(name);
                    EXPECT_EQ(lines[0], "Rows    " + std::to_string(grid->GetRows()) + "\r");
                    EXPECT_EQ(lines[1], "Columns " + std::to_string(grid->GetColumns()) + "\r");
                    EXPECT_EQ(int(lines.size()), grid->GetRows() + 2);
                }
            }
        }
        EXPECT_EQ(dumped.size(), c.method == 1 && c.refuse ? 1u : 0u);
    }
}

// Camera and picture of different sizes: the scan covers the rows and
// columns both have, says so on the status line and converts positions
// through the camera.
TEST(TargetDetector, ScansTheSizeCameraAndPictureShare)
{
    struct Case {
        int columns, rows; // the camera's; the picture is 1024 x 768
        bool expectStatus;
    };
    const Case cases[] = {{1024, 768, false}, {1100, 800, true}, {400, 300, true}, {1024, 700, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "camera " << c.columns << " x " << c.rows);
        const TargetScene scene = Sheet(1, 0.7, 2.0, 21);
        Scan scan(scene, false);
        scan.camera.XPixels = c.columns;
        scan.camera.YPixels = c.rows;
        StatusLog status;
        ASSERT_EQ(scan.Run(), 1);
        EXPECT_EQ(status.Has("AutoScan: camera and picture sizes differ; the common part is scanned"),
                  c.expectStatus);
        // Every target clear of the common part's border, each once.
        size_t inside = 0;
        for (const RenderedTarget& t : scene.targets)
            inside += t.x + t.semiAxisA + 3.0 < c.columns && t.y + t.semiAxisA + 3.0 < c.rows;
        ASSERT_EQ(size_t(scan.image.targets.GetSize()), inside);
        for (int i = 0; i < scan.image.targets.GetSize(); ++i) {
            const CImageObservation* o = scan.image.targets.GetAt(i);
            double best = 1e9;
            for (const RenderedTarget& t : scene.targets)
                best = std::min(best, std::hypot(o->pixelColumn - t.x, o->pixelRow - t.y));
            EXPECT_LT(best, 0.1);
            double x = 0.0, y = 0.0;
            scan.camera.PixelToImage(o->pixelColumn, o->pixelRow, x, y);
            EXPECT_DOUBLE_EQ(o->x, x);
            EXPECT_DOUBLE_EQ(o->y, y);
        }
    }
}

} // namespace target_detector_test
