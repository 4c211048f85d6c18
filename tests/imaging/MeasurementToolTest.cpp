// The measuring object on rendered pictures of known geometry: clicks,
// labels and the two questions, rows of targets, prediction against the
// adjustment engine's projection, identification and driveback at a known
// pose, and plumb lines along rendered bars.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <iterator>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "Camera.h"
#include "CentroidSettings.h"
#include "DisplayImage.h"
#include "Intersection.h"
#include "MeasurementTool.h"
#include "Message.h"
#include "ObjectPoint.h"
#include "PointSet.h"
#include "ProjectDocument.h"
#include "ProjectImage.h"
#include "TargetRenderer.h"

namespace {

const double kPi = std::acos(-1.0);

CCamera MakeCamera(int width, int height, double pixelSize, double c = 20.0)
{
    CCamera camera;
    camera.XPixels = width;
    camera.YPixels = height;
    camera.XPixelSize = camera.YPixelSize = pixelSize;
    for (double& p : camera.parameters)
        p = 0.0;
    camera.parameters[CAM_C] = c;
    return camera;
}

RenderedTarget Disc(double x, double y, double radius = 4.0)
{
    RenderedTarget t;
    t.x = x;
    t.y = y;
    t.semiAxisA = t.semiAxisB = radius;
    return t;
}

RenderedTarget Bar(double x, double y, double rotation)
{
    RenderedTarget t;
    t.kind = TargetKind::Bar;
    t.x = x;
    t.y = y;
    t.rotation = rotation;
    t.barWidth = 4.0;
    return t;
}

// A picture of light targets on a dark background, its camera and image
// record, the view's own list and a tool over them whose client rectangle
// maps client points one to one onto pixels. The process-wide centroid
// settings are those of light targets with a 16-pixel window.
struct Bench {
    explicit Bench(const TargetScene& scene, double pixelSize = 0.01)
        : camera(MakeCamera(scene.width, scene.height, pixelSize)), picture(MakeDisplayImage(RenderScene(scene))),
          client{0, 0, scene.width, scene.height}
    {
        GetCentroidSettings() = CCentroidSettings();
        GetCentroidSettings().invert = 0;
        GetCentroidSettings().windowSize = 16;
        document.drivebackThreshold = 10.0;
        document.settings.defaultImageSigma = 0.0005;
        tool = std::make_unique<CMeasurementTool>(&image, &camera, picture.get(), &own, &askRemeasure, &askNear);
        tool->SetDocument(&document);
    }
    ~Bench() { GetCentroidSettings() = CCentroidSettings(); }

    bool Click(int kind, const char* label, int x, int y, int increment = 1)
    {
        tool->SetKind(kind);
        return tool->Measure(CNameBuffer(label), increment, CIntPoint{x, y}, client);
    }
    void Add(const char* label, double column, double row)
    {
        double x = 0.0, y = 0.0;
        camera.PixelToImage(column, row, x, y);
        image.targets.AddSorted(CImageObservation(CNameBuffer(label), x, y, column, row));
    }
    // Labels of the image, sorted as text.
    std::vector<std::string> Labels() const
    {
        std::vector<std::string> out;
        for (int i = 0; i < image.targets.GetSize(); ++i)
            out.push_back(image.targets.GetAt(i)->label.GetText());
        std::sort(out.begin(), out.end());
        return out;
    }
    // Distance in pixels of the observation's image coordinates from a pixel position.
    double PixelsFrom(const char* label, double column, double row) const
    {
        const CImageObservation* o = image.FindObservation(CNameBuffer(label));
        if (o == nullptr)
            return 1e9;
        double x = 0.0, y = 0.0;
        camera.PixelToImage(column, row, x, y);
        return std::hypot(o->x - x, o->y - y) / camera.XPixelSize;
    }

    CCamera camera;
    std::unique_ptr<CDisplayImage> picture;
    CIntRect client;
    CProjectImage image;
    CObservationList own;
    CProjectDocument document;
    bool askRemeasure = false;
    bool askNear = false;
    std::unique_ptr<CMeasurementTool> tool;
};

std::vector<std::string> Split(const std::string& text)
{
    std::istringstream in(text);
    std::vector<std::string> out{std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
    std::sort(out.begin(), out.end());
    return out;
}

// Scripted answers to both questions, counted.
struct Answers {
    Answers()
    {
        TakeCapturedMessages();
        SetMessageBoxHandler([this](const char*, const char*, unsigned) {
            ++asked;
            const int a = boxes.empty() ? IDNO : boxes.front();
            if (!boxes.empty())
                boxes.pop_front();
            return a;
        });
        SetMeasureNewPointHandler([this](bool& replace) {
            ++asked;
            EXPECT_TRUE(replace); // the box starts checked
            const auto a = newPoint.empty() ? std::make_pair(IDNO, true) : newPoint.front();
            if (!newPoint.empty())
                newPoint.pop_front();
            replace = a.second;
            return a.first;
        });
    }
    ~Answers()
    {
        SetMessageBoxHandler(nullptr);
        SetMeasureNewPointHandler(nullptr);
        TakeCapturedMessages();
    }
    std::deque<int> boxes;
    std::deque<std::pair<int, bool>> newPoint;
    int asked = 0;
};

// ------------------------------------------------------------ single clicks

TEST(MeasurementTool, CentroidAndManualClicksStoreThroughTheCamera)
{
    TargetScene scene;
    scene.targets = {Disc(40.3, 30.7, 5.0)};
    scene.blurSigma = 0.7;
    scene.noiseSigma = 1.0;
    Bench b(scene);
    struct Case {
        int kind;
        const char* label;
        CIntPoint click;
        double column, row; // where the observation must be
        bool centroided;
    };
    const Case cases[] = {
        {MEASURE_AUTO_CENTROID, "7", {42, 32}, 40.3, 30.7, true},
        {MEASURE_REGION_CHECKED, "8", {39, 29}, 40.3, 30.7, true},
        {MEASURE_MANUAL, "9", {70, 80}, 70.0, 80.0, false},
    };
    int count = 0;
    for (const Case& c : cases) {
        ASSERT_TRUE(b.Click(c.kind, c.label, c.click.x, c.click.y)) << c.label;
        ++count;
        const CImageObservation* o = b.image.FindObservation(CNameBuffer(c.label));
        ASSERT_NE(o, nullptr) << c.label;
        EXPECT_LT(b.PixelsFrom(c.label, c.column, c.row), 0.05) << c.label;
        EXPECT_EQ(o->measured, c.centroided) << c.label;
        EXPECT_EQ(o->sigmaX, 0.0005);
        ASSERT_EQ(b.own.GetSize(), count);
        EXPECT_EQ(b.own.GetAt(count - 1)->label, CNameBuffer(c.label));
        EXPECT_EQ(b.own.GetAt(count - 1)->x, o->x);
        // Each click sits on the disc or far from it, so every one of them
        // stays: the manual point is not near the centroided ones.
        if (c.kind == MEASURE_REGION_CHECKED) {
            EXPECT_EQ(b.image.targets.GetSize(), 1) << "the second centre replaces the first";
        }
    }
    EXPECT_EQ(b.Labels(), Split("8 9"));
    // A click on the background finds no target and stores nothing.
    EXPECT_FALSE(b.Click(MEASURE_AUTO_CENTROID, "10", 80, 10));
    EXPECT_FALSE(b.Click(MEASURE_REGION_CHECKED, "10", 80, 10));
    EXPECT_EQ(b.Labels(), Split("8 9"));

    // A ring clicked on its left side: the first growth takes part of the
    // ring, whose centre lies in the hole; the second growth from there
    // fails, so the centre is not checked twice and nothing is stored.
    TargetScene ring;
    ring.blurSigma = 0.7;
    RenderedTarget annulus = Disc(40.3, 40.7, 8.0);
    annulus.kind = TargetKind::Annulus;
    annulus.innerRatio = 0.5;
    ring.targets = {annulus};
    Bench r(ring);
    EXPECT_FALSE(r.Click(MEASURE_REGION_CHECKED, "1", 34, 40));
    EXPECT_EQ(r.image.targets.GetSize(), 0);
}

// ------------------------------------------------------ labels and questions

struct EdgeCase {
    const char* name;
    std::vector<std::pair<const char*, CIntPoint>> existing; // label at a pixel
    int kind;
    const char* label;
    bool askRemeasure;
    bool askNear;
    std::vector<int> boxes;                      // answers to the re-measure question
    std::vector<std::pair<int, bool>> newPoint;  // answers to "Measure New Point"
    bool result;
    const char* labels; // of the image afterwards
    const char* atTarget; // the label found on the disc afterwards, "" for none
    int questions;
};

TEST(MeasurementTool, LabelsAndQuestions)
{
    // The disc's centre is (40.3, 30.7); clicks go to (41, 31). Far: (80, 80).
    const CIntPoint far{80, 80}, on{40, 30};
    const std::vector<std::pair<const char*, CIntPoint>> seven = {
        {"1", {80, 10}}, {"2", {80, 20}}, {"3", {80, 30}}, {"4", {80, 40}},
        {"5", {80, 50}}, {"6", {80, 60}}, {"7", {80, 70}}};
    std::vector<std::pair<const char*, CIntPoint>> sixAndMinus8(seven.begin(), seven.end() - 1);
    sixAndMinus8.push_back({"-8", far});
    const EdgeCase cases[] = {
        {"empty label, 7 observations", seven, MEASURE_AUTO_CENTROID, "", true, true, {}, {}, true,
         "1 2 3 4 5 6 7 -8", "-8", 0},
        {"empty label whose number is taken", sixAndMinus8, MEASURE_AUTO_CENTROID, "", true, true, {}, {}, true,
         "1 2 3 4 5 6 -8 -9", "-9", 0},
        {"re-measure 12, option off", {{"12", far}}, MEASURE_AUTO_CENTROID, "12", false, true, {}, {}, true, "12",
         "12", 0},
        {"re-measure 12: No", {{"12", far}}, MEASURE_AUTO_CENTROID, "12", true, true, {IDNO}, {}, false, "12", "",
         1},
        {"re-measure 12: Cancel", {{"12", far}}, MEASURE_AUTO_CENTROID, "12", true, true, {IDCANCEL}, {}, false,
         "12", "", 1},
        {"re-measure 12: Yes", {{"12", far}}, MEASURE_AUTO_CENTROID, "12", true, true, {IDYES}, {}, true, "12",
         "12", 1},
        {"manual click on an unlabelled scanned target", {{"-3", on}}, MEASURE_MANUAL, "20", true, true, {}, {},
         true, "20", "20", 0},
        {"near a labelled point, option off", {{"5", on}}, MEASURE_AUTO_CENTROID, "20", true, false, {}, {}, true,
         "20", "20", 0},
        {"near a labelled point: No", {{"5", on}}, MEASURE_AUTO_CENTROID, "20", true, true, {}, {{IDNO, true}}, true,
         "5", "5", 1},
        {"near a labelled point: Yes, replace", {{"5", on}}, MEASURE_AUTO_CENTROID, "20", true, true, {},
         {{IDYES, true}}, true, "20", "20", 1},
        {"near a labelled point: Yes, keep the old", {{"5", on}}, MEASURE_AUTO_CENTROID, "20", true, true, {},
         {{IDYES, false}}, true, "5 20", "20", 1},
        {"re-measured and then declined near another: the old stays", {{"12", far}, {"5", on}},
         MEASURE_AUTO_CENTROID, "12", false, true, {}, {{IDNO, true}}, true, "5 12", "5", 1},
        {"failed centroid after Yes: the old stays", {{"12", far}}, MEASURE_AUTO_CENTROID, "12", true, true,
         {IDYES}, {}, false, "12", "", 1},
    };
    TargetScene scene;
    scene.targets = {Disc(40.3, 30.7, 5.0)};
    scene.blurSigma = 0.7;
    for (const EdgeCase& c : cases) {
        Bench b(scene);
        Answers answers;
        answers.boxes.assign(c.boxes.begin(), c.boxes.end());
        answers.newPoint.assign(c.newPoint.begin(), c.newPoint.end());
        for (const auto& e : c.existing) {
            // On the disc: at its true centre, as a scan would have put it.
            const bool onDisc = e.second.x == on.x && e.second.y == on.y;
            b.Add(e.first, onDisc ? 40.3 : e.second.x, onDisc ? 30.7 : e.second.y);
        }
        b.askRemeasure = c.askRemeasure;
        b.askNear = c.askNear;
        const bool failing = std::string(c.name).find("failed") != std::string::npos;
        const CIntPoint click = failing ? CIntPoint{20, 80} : CIntPoint{41, 31};
        const double oldColumn = c.existing.empty() ? 0.0 : b.image.targets.GetAt(0)->pixelColumn;
        EXPECT_EQ(b.Click(c.kind, c.label, click.x, click.y), c.result) << c.name;
        EXPECT_EQ(b.Labels(), Split(c.labels)) << c.name;
        EXPECT_EQ(answers.asked, c.questions) << c.name;
        if (*c.atTarget) {
            const CImageObservation* o = b.image.FindObservation(CNameBuffer(c.atTarget));
            ASSERT_NE(o, nullptr) << c.name;
            const double column = c.kind == MEASURE_MANUAL ? 41.0 : 40.3;
            const double row = c.kind == MEASURE_MANUAL ? 31.0 : 30.7;
            EXPECT_LT(b.PixelsFrom(c.atTarget, column, row), 0.1) << c.name;
            EXPECT_EQ(IsUnidentifiedLabel(o->label), c.atTarget[0] == '-') << c.name;
        } else if (!c.existing.empty()) {
            EXPECT_EQ(b.image.targets.GetAt(0)->pixelColumn, oldColumn) << c.name << ": unchanged";
        }
    }
}

// --------------------------------------------------------------------- rows

struct RowCase {
    const char* name;
    int width;
    CIntPoint second; // the Shift-click
    int increment;
    const char* labels;
};

TEST(MeasurementTool, RowOfTargets)
{
    // Eight targets at x = 20, 40, ... 160 on the row y = 48.3.
    const RowCase cases[] = {
        {"ends after the last target", 200, {40, 48}, 1, "1 2 3 4 5 6 7 8"},
        {"ends at the picture's edge", 172, {40, 48}, 1, "1 2 3 4 5 6 7 8"},
        {"labels advance by the increment", 200, {41, 47}, 3, "1 4 7 10 13 16 19 22"},
        {"a step of zero stores one target", 200, {21, 49}, 1, "1 2"},
    };
    for (const RowCase& c : cases) {
        TargetScene scene;
        scene.width = c.width;
        scene.blurSigma = 0.6;
        for (int k = 0; k < 8; ++k)
            scene.targets.push_back(Disc(20.2 + 20.0 * k, 48.3));
        Bench b(scene);
        EXPECT_FALSE(b.Click(MEASURE_ROW, "", 40, 48)) << "no own observation yet";
        ASSERT_TRUE(b.Click(MEASURE_AUTO_CENTROID, "1", 20, 48)) << c.name;
        EXPECT_TRUE(b.Click(MEASURE_ROW, "99", c.second.x, c.second.y, c.increment)) << c.name;
        EXPECT_EQ(b.Labels(), Split(c.labels)) << c.name;
        EXPECT_EQ(b.own.GetSize(), b.image.targets.GetSize()) << c.name;
        // Every stored target is one of the row, at its centre.
        for (int i = 0; i < b.image.targets.GetSize(); ++i) {
            const CImageObservation* o = b.image.targets.GetAt(i);
            const double k = std::round((o->pixelColumn - 20.2) / 20.0);
            EXPECT_LT(b.PixelsFrom(o->label.GetText(), 20.2 + 20.0 * k, 48.3), 0.05) << c.name;
            EXPECT_TRUE(o->measured);
        }
    }
}

// --------------------------------------------------------------- prediction

TEST(MeasurementTool, PredictionMatchesTheAdjustmentProjection)
{
    std::mt19937 random(31);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    CCamera camera = MakeCamera(3000, 2000, 0.005, 24.0);
    camera.parameters[CAM_XP] = 0.13;
    camera.parameters[CAM_YP] = -0.08;
    int inside = 0, outside = 0;
    for (int pose = 0; pose < 20; ++pose) {
        CProjectImage image;
        image.SetPose(100 * unit(random), 100 * unit(random), 100 * unit(random), kPi * unit(random),
                      0.5 * kPi * unit(random), kPi * unit(random));
        double R[3][3];
        image.GetRotation(R);
        CMeasurementTool tool(&image, &camera, nullptr, nullptr, nullptr);
        for (int i = 0; i < 50; ++i) {
            // A point in the camera frame, some outside the sensor, some behind.
            const double depth = 50.0 + 50.0 * std::fabs(unit(random));
            const double cam[3] = {0.45 * depth * unit(random), 0.3 * depth * unit(random),
                                   i % 10 == 0 ? depth : -depth};
            CObjectPoint point("P1", image.X, image.Y, image.Z);
            point.x = image.X + R[0][0] * cam[0] + R[1][0] * cam[1] + R[2][0] * cam[2];
            point.y = image.Y + R[0][1] * cam[0] + R[1][1] * cam[1] + R[2][1] * cam[2];
            point.z = image.Z + R[0][2] * cam[0] + R[1][2] * cam[1] + R[2][2] * cam[2];
            CImageObservation predicted, projected;
            const bool p = tool.PredictPoint(point, predicted);
            const bool q = ProjectPointToImage(point, image, camera, projected, 1.0);
            EXPECT_EQ(p, q) << pose << " " << i;
            if (p && q) {
                EXPECT_NEAR(predicted.x, projected.x, 1e-9);
                EXPECT_NEAR(predicted.y, projected.y, 1e-9);
                EXPECT_EQ(predicted.label, CNameBuffer("P1"));
                ++inside;
            } else {
                ++outside;
            }
        }
    }
    EXPECT_GT(inside, 300);
    EXPECT_GT(outside, 150);
}

// ------------------------------------------- identification at exact distances

// An image looking straight down (R = I) from Z = 16 with c = 16: a point
// (X, Y, 0) is predicted at exactly (X, Y) mm. Pixel size 1/64 mm and a
// threshold of 8 pixels make d = 0.125 mm exactly.
struct Exact {
    Exact() : camera(MakeCamera(256, 256, 1.0 / 64.0, 16.0))
    {
        image.Z = 16.0;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                image.rotation.SetAt(i == j ? 1.0 : 0.0, i, j);
        document.drivebackThreshold = 8.0;
        points.AddPointSorted(CObjectPoint("P1", 0.5, 0.25, 0.0));
    }
    void Add(const char* label, double x, double y)
    {
        image.targets.AddSorted(CImageObservation(CNameBuffer(label), x, y));
    }
    CCamera camera;
    CProjectImage image;
    CProjectDocument document;
    CPointSet points;
};

struct DistanceCase {
    const char* name;
    std::vector<std::pair<const char*, double>> targets; // label at x (y = 0.25)
    const char* labelled;  // label afterwards of the target at the x below, "" none
    double at;
    const char* labels;
};

TEST(MeasurementTool, IdentificationDistances)
{
    const double d = 0.125;
    const DistanceCase cases[] = {
        {"exactly d", {{"-1", 0.5 + d}}, "P1", 0.5 + d, "P1"},
        {"d plus a little", {{"-1", 0.5 + d + 1e-9}}, "", 0.0, "-1"},
        {"between d and 5 d", {{"-1", 0.5 + 3 * d}}, "", 0.0, "-1"},
        {"equal distances: the later in the list wins", {{"-2", 0.5 + 0.0625}, {"-1", 0.5 - 0.0625}}, "P1",
         0.5 - 0.0625, "-2 P1"},
        {"a labelled target is no candidate", {{"Q7", 0.5}, {"-1", 0.5 + 0.0625}}, "P1", 0.5 + 0.0625, "P1 Q7"},
        {"the nearer of two wins", {{"-1", 0.5 + 0.03125}, {"-2", 0.5 - 0.0625}}, "P1", 0.5 + 0.03125, "-2 P1"},
    };
    for (const DistanceCase& c : cases) {
        Exact e;
        for (const auto& t : c.targets)
            e.Add(t.first, t.second, 0.25);
        CMeasurementTool tool(&e.image, &e.camera, nullptr, nullptr, nullptr);
        tool.SetDocument(&e.document);
        ASSERT_TRUE(tool.IdentifyScannedTargets(e.points)) << c.name;
        std::vector<std::string> labels;
        for (int i = 0; i < e.image.targets.GetSize(); ++i)
            labels.push_back(e.image.targets.GetAt(i)->label.GetText());
        std::sort(labels.begin(), labels.end());
        EXPECT_EQ(labels, Split(c.labels)) << c.name;
        if (*c.labelled) {
            const CImageObservation* o = e.image.FindObservation(CNameBuffer(c.labelled));
            ASSERT_NE(o, nullptr) << c.name;
            EXPECT_EQ(o->x, c.at) << c.name;
        }
    }
    Exact e;
    CMeasurementTool noCamera(&e.image, nullptr, nullptr, nullptr, nullptr);
    CPointSet none;
    EXPECT_FALSE(noCamera.IdentifyScannedTargets(none));
    EXPECT_FALSE(noCamera.DriveBack(none, 0.0005));
}

// ------------------------------------------ identification and driveback at a pose

// A 5 x 5 grid of points seen from a known pose; the picture shows a disc
// where the adjustment engine projects each point.
struct PoseScene {
    PoseScene()
    {
        scene.width = scene.height = 256;
        scene.blurSigma = 0.7;
        scene.noiseSigma = 1.0;
        camera = MakeCamera(256, 256, 0.01, 5.0);
        camera.parameters[CAM_XP] = 0.02;
        camera.parameters[CAM_YP] = -0.01;
        image.SetPose(10.0, -20.0, 30.0, 0.4, -0.3, 0.2);
        double R[3][3];
        image.GetRotation(R);
        std::mt19937 random(5);
        std::uniform_real_distribution<double> depth(90.0, 110.0);
        for (int i = 0; i < 5; ++i)
            for (int j = 0; j < 5; ++j) {
                const double x = (30 + 49 * i - 128) * 0.01 - 0.02, y = (128 - 30 - 49 * j) * 0.01 + 0.01;
                const double w = depth(random);
                const double cam[3] = {x * w / 5.0, y * w / 5.0, -w};
                char label[8];
                std::snprintf(label, sizeof label, "T%d", 5 * i + j + 1);
                CObjectPoint p(label, 0.0, 0.0, 0.0);
                p.x = image.X + R[0][0] * cam[0] + R[1][0] * cam[1] + R[2][0] * cam[2];
                p.y = image.Y + R[0][1] * cam[0] + R[1][1] * cam[1] + R[2][1] * cam[2];
                p.z = image.Z + R[0][2] * cam[0] + R[1][2] * cam[1] + R[2][2] * cam[2];
                points.AddPointSorted(p);
                CImageObservation truth;
                EXPECT_TRUE(ProjectPointToImage(p, image, camera, truth, 1.0));
                double column = 0.0, row = 0.0;
                camera.ImageToPixel(truth.x, truth.y, column, row);
                scene.targets.push_back(Disc(column, row));
                truths.push_back({label, {truth.x, truth.y}});
            }
    }
    TargetScene scene;
    CCamera camera;
    CProjectImage image;
    CPointSet points;
    std::vector<std::pair<std::string, std::pair<double, double>>> truths;
};

TEST(MeasurementTool, IdentificationAndDrivebackAtAKnownPose)
{
    PoseScene pose;
    // Identification: the scan's targets in a shuffled order, half a pixel off.
    {
        CProjectImage image = pose.image;
        std::vector<int> order(pose.truths.size());
        for (size_t i = 0; i < order.size(); ++i)
            order[i] = int(i);
        std::shuffle(order.begin(), order.end(), std::mt19937(2));
        for (size_t i = 0; i < order.size(); ++i) {
            const auto& t = pose.truths[order[i]].second;
            image.targets.AddSorted(CImageObservation(CNameBuffer(std::to_string(-int(i) - 1).c_str()),
                                                      t.first + 0.005, t.second - 0.003));
        }
        CMeasurementTool tool(&image, &pose.camera, nullptr, nullptr, nullptr);
        ASSERT_TRUE(tool.IdentifyScannedTargets(pose.points));
        ASSERT_EQ(image.targets.GetSize(), int(pose.truths.size()));
        for (const auto& t : pose.truths) {
            const CImageObservation* o = image.FindObservation(CNameBuffer(t.first.c_str()));
            ASSERT_NE(o, nullptr) << t.first;
            EXPECT_NEAR(o->x, t.second.first + 0.005, 1e-12) << t.first;
        }
    }
    // Driveback: every point measured at its disc; one that the image has
    // already is not driven back.
    {
        Bench b(pose.scene);
        b.image = pose.image;
        b.camera = pose.camera;
        b.image.enabled = false;
        b.image.targets.AddSorted(CImageObservation(CNameBuffer("T7"), 0.3, 0.3, 0.0, 0.0));
        ASSERT_TRUE(b.tool->DriveBack(pose.points, 0.0007));
        EXPECT_TRUE(b.image.enabled);
        ASSERT_EQ(b.image.targets.GetSize(), int(pose.truths.size()));
        EXPECT_EQ(b.own.GetSize(), int(pose.truths.size()) - 1);
        for (const auto& t : pose.truths) {
            const CImageObservation* o = b.image.FindObservation(CNameBuffer(t.first.c_str()));
            ASSERT_NE(o, nullptr) << t.first;
            if (t.first == "T7") {
                EXPECT_EQ(o->x, 0.3);
                continue;
            }
            EXPECT_LT(std::hypot(o->x - t.second.first, o->y - t.second.second) / 0.01, 0.05) << t.first;
            EXPECT_EQ(o->sigmaX, 0.0007);
            EXPECT_TRUE(o->measured);
        }
    }
}

// ------------------------------------------------------------- plumb lines

struct PlumbCase {
    const char* name;
    int kind;
    const char* viewLabel;
    int maxPoints;
    CIntPoint first, second;
    int expected; // observations stored; -1: up to half a window from the edge
    const char* firstLabel;
};

TEST(MeasurementTool, PlumbLines)
{
    // A vertical bar at x = 40.3 or a horizontal one at y = 150.6, across
    // the whole picture; a window of 16 pixels.
    TargetScene scene;
    scene.width = 96;
    scene.height = 200;
    scene.blurSigma = 0.7;
    const PlumbCase cases[] = {
        {"vertical to the edge", MEASURE_VERTICAL_PLUMB, "12", 25, {40, 20}, {40, 35}, -1, "VP_112"},
        {"vertical, at most 5", MEASURE_VERTICAL_PLUMB, "12", 5, {40, 20}, {40, 35}, 5, "VP_112"},
        {"vertical, at most 2", MEASURE_VERTICAL_PLUMB, "12", 2, {40, 20}, {40, 35}, 2, "VP_112"},
        {"horizontal from a negative label", MEASURE_HORIZONTAL_PLUMB, "-4", 4, {10, 150}, {20, 151}, 4,
         "HP_101"},
        {"nothing to centroid", MEASURE_VERTICAL_PLUMB, "3", 2, {80, 20}, {80, 30}, 0, ""},
    };
    for (const PlumbCase& c : cases) {
        scene.targets = {c.kind == MEASURE_VERTICAL_PLUMB ? Bar(40.3, 100.0, 0.5 * kPi) : Bar(48.0, 150.6, 0.0)};
        Bench b(scene);
        b.document.maxPlumbObsPerLine = c.maxPoints;
        EXPECT_TRUE(b.Click(c.kind, c.viewLabel, c.first.x, c.first.y)) << c.name;
        ASSERT_NE(b.tool->GetPlumbLine(), nullptr);
        EXPECT_EQ(b.tool->GetPlumbLine()->State(), 1);
        EXPECT_EQ(b.image.targets.GetSize(), 0);
        EXPECT_EQ(b.Click(c.kind, c.viewLabel, c.second.x, c.second.y), c.expected != 0) << c.name;
        EXPECT_EQ(b.tool->GetPlumbLine(), nullptr) << c.name << ": done with the line";
        EXPECT_EQ(GetCentroidSettings().targetType, 'c') << c.name;
        const int n = b.image.targets.GetSize();
        if (c.expected >= 0) {
            EXPECT_EQ(n, c.expected) << c.name;
        }
        EXPECT_EQ(b.own.GetSize(), n);
        const bool vertical = c.kind == MEASURE_VERTICAL_PLUMB;
        CNameBuffer label(c.firstLabel);
        double lastAlong = 0.0;
        for (int i = 0; i < n; ++i, label.AddToNumber(100)) {
            const CImageObservation* o = b.image.FindObservation(label);
            ASSERT_NE(o, nullptr) << c.name << " " << label.GetText();
            // Across the line at the bar's centre, along it in order.
            EXPECT_NEAR(vertical ? o->pixelColumn : o->pixelRow, vertical ? 40.3 : 150.6, 0.05) << c.name;
            const double along = vertical ? o->pixelRow : o->pixelColumn;
            EXPECT_GT(along, lastAlong) << c.name;
            lastAlong = along;
            EXPECT_TRUE(o->measured);
        }
        if (c.expected < 0) {
            // Stopped once the next position came within 8 pixels of the bottom.
            EXPECT_LT(lastAlong, 200 - 8) << c.name;
            EXPECT_GT(lastAlong + 15 + 1, 200 - 8) << c.name;
            EXPECT_LT(n, 25 - 2) << c.name;
        }
    }
    // The line type never reaches the process-wide record, also when it was not round.
    scene.targets = {Bar(40.3, 100.0, 0.5 * kPi)};
    Bench b(scene);
    GetCentroidSettings().targetType = 'l';
    b.Click(MEASURE_VERTICAL_PLUMB, "1", 40, 20);
    b.Click(MEASURE_VERTICAL_PLUMB, "1", 40, 35);
    EXPECT_EQ(GetCentroidSettings().targetType, 'l');
    // Discarding forgets a line in progress.
    b.Click(MEASURE_VERTICAL_PLUMB, "1", 40, 20);
    b.tool->DiscardPlumbLine();
    EXPECT_EQ(b.tool->GetPlumbLine(), nullptr);
}

} // namespace
