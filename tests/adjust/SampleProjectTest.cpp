// The sample project: written and loaded back through the project file, its
// observations checked against the generator's truth with a camera model
// written out here, and the truth recovered by resection and bundle.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>

#include "AdjustmentEngine.h"
#include "AdjustmentSummary.h"
#include "Message.h"
#include "ProjectDocument.h"
#include "ProjectFile.h"
#include "Resection.h"
#include "SampleProject.h"
#include "SyntheticScene.h"

namespace sample_project_test {

namespace {

namespace fs = std::filesystem;

constexpr double kDegree = M_PI / 180.0;

// Object-space size of the image noise: 0.5 um at an image scale of about
// 1:165 (3.3 m at c = 20 mm) is about 0.08 mm along one ray.
const double kRayNoise = CSampleTruth::kImageNoise * 3300.0 / 20.0;

std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

double AngleDifference(double a, double b)
{
    return std::fabs(std::remainder(a - b, 2.0 * M_PI));
}

// Largest element difference between an image's rotation and the true one.
double RotationDeviation(const CProjectImage& image, const CSamplePose& pose)
{
    double R[3][3], T[3][3];
    image.GetRotation(R);
    CSyntheticScene::RotationFromAngles(pose.azimuth, pose.elevation, pose.roll, T);
    double worst = 0.0;
    for (int a = 0; a < 3; ++a)
        for (int b = 0; b < 3; ++b)
            worst = std::max(worst, std::fabs(R[a][b] - T[a][b]));
    return worst;
}

double StationDeviation(const CProjectImage& image, const CSamplePose& pose)
{
    return std::max({std::fabs(image.X - pose.X), std::fabs(image.Y - pose.Y), std::fabs(image.Z - pose.Z)});
}

class SampleProjectTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        char pattern[] = "/tmp/kestrelon-sample-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = new std::string(std::string(pattern) + "/Sample");
        truth = new CSampleTruth;
        BuildSampleTruth(*truth);
        std::string message;
        ASSERT_TRUE(WriteSampleProject(*folder, message)) << message;
    }

    static void TearDownTestSuite()
    {
        std::error_code error;
        fs::remove_all(fs::path(*folder).parent_path(), error);
        delete folder;
        delete truth;
        folder = nullptr;
        truth = nullptr;
    }

    // A fresh document loaded from the written file.
    void SetUp() override
    {
        ASSERT_NE(truth, nullptr);
        doc = std::make_unique<CProjectDocument>();
        const CProjectFileResult result = ReadWriteProjectFile(*doc, (*folder + "/Sample.kst").c_str(), PROJECT_FILE_LOAD);
        ASSERT_TRUE(result.ok) << result.message.GetText();
        TakeCapturedMessages();
    }

    const CObjectPoint& Truth(const CNameBuffer& label)
    {
        const CObjectPoint* p = truth->targets.FindPoint(label);
        EXPECT_NE(p, nullptr) << label.GetText();
        static const CObjectPoint none;
        return p ? *p : none;
    }

    static std::string* folder;
    static CSampleTruth* truth;
    std::unique_ptr<CProjectDocument> doc;
};

std::string* SampleProjectTest::folder = nullptr;
CSampleTruth* SampleProjectTest::truth = nullptr;

TEST_F(SampleProjectTest, LoadsWithTheListedContent)
{
    EXPECT_EQ(doc->unitIndex, 0);
    EXPECT_FALSE(doc->settings.freeNetwork);

    ASSERT_EQ(doc->cameras.GetSize(), 1);
    const CCamera& camera = *doc->cameras.GetAt(0);
    EXPECT_EQ(camera.XPixels, 4000);
    EXPECT_EQ(camera.YPixels, 3000);
    EXPECT_DOUBLE_EQ(camera.XPixelSize, 0.005);
    EXPECT_DOUBLE_EQ(camera.YPixelSize, 0.005);
    EXPECT_DOUBLE_EQ(camera.parameters[CAM_C], 20.0);
    EXPECT_NE(camera.parameters[CAM_K1], 0.0);

    ASSERT_EQ(truth->targets.GetSize(), 100);
    std::set<int> walls;
    for (int i = 0; i < truth->targets.GetSize(); ++i) {
        const CObjectPoint& p = *truth->targets.GetAt(i);
        const double c[3] = {p.x, p.y, p.z};
        int onWall = -1;
        for (int k = 0; k < 3; ++k) {
            EXPECT_GE(c[k], 0.0);
            EXPECT_LE(c[k], 2000.0);
            if (c[k] == 0.0)
                onWall = k;
        }
        EXPECT_NE(onWall, -1) << p.label.GetText();
        walls.insert(onWall);
    }
    EXPECT_EQ(walls.size(), 3u);

    // The control set drives the project: 12 true targets, sigma 0.01.
    ASSERT_EQ(doc->pointSets.GetSize(), 1);
    const CPointSet* control = doc->pointSets.GetControlSet();
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control, doc->pointSets.GetDriverSet());
    EXPECT_STREQ(control->name.GetTitle().GetText(), "Control");
    ASSERT_EQ(control->GetSize(), 12);
    for (int i = 0; i < control->GetSize(); ++i) {
        const CObjectPoint& p = *control->GetAt(i);
        const CObjectPoint& t = Truth(p.label);
        EXPECT_EQ(p.x, t.x);
        EXPECT_EQ(p.y, t.y);
        EXPECT_EQ(p.z, t.z);
        for (double s : p.aprioriSigma)
            EXPECT_DOUBLE_EQ(s, 0.01);
    }

    ASSERT_EQ(doc->scaleBars.GetSize(), 1);
    const CScaleBar& bar = *doc->scaleBars.GetAt(0);
    const CObjectPoint& a = Truth(bar.endLabel1);
    const CObjectPoint& b = Truth(bar.endLabel2);
    // Calibrated to the micrometre, as the profile's record keeps it.
    EXPECT_NEAR(bar.calibratedLength, std::hypot(a.x - b.x, a.y - b.y, a.z - b.z), 0.5e-3);
    EXPECT_EQ(bar.calibratedLength, std::round(bar.calibratedLength * 1000.0) / 1000.0);
    EXPECT_GT(bar.calibratedLength, 1000.0);

    // Ten images, slightly off the truth and marked resected, each with its
    // coordinate file holding its observations; rolls 0, 90 and 270.
    ASSERT_EQ(doc->images.GetSize(), CSampleTruth::kImageCount);
    std::set<int> rolls;
    for (int j = 0; j < doc->images.GetSize(); ++j) {
        SCOPED_TRACE(j);
        const CProjectImage& image = *doc->images.GetAt(j);
        const CSamplePose& pose = truth->poses[static_cast<size_t>(j)];
        EXPECT_TRUE(image.oriented);
        EXPECT_TRUE(image.enabled);
        EXPECT_STREQ(image.GetCameraName().GetText(), camera.identifier.GetText());
        EXPECT_EQ(image.GetFilePath().GetExtension(), CDynString("tif"));
        EXPECT_GE(image.targets.GetSize(), 20);

        const double station = StationDeviation(image, pose);
        EXPECT_GT(station, 0.0);
        EXPECT_LT(station, 20.0);
        for (double d : {AngleDifference(image.GetAzimuth(), pose.azimuth),
                         AngleDifference(image.GetElevation(), pose.elevation),
                         AngleDifference(image.GetRoll(), pose.roll)})
            EXPECT_LT(d, 0.5 * kDegree);
        rolls.insert(static_cast<int>(std::lround(std::fmod(pose.roll / kDegree + 360.0, 360.0))) % 360);

        CProjectImage fromFile;
        CFilePath icf = image.GetFilePath();
        icf.SetExtension(CDynString("icf"));
        ASSERT_TRUE(fromFile.ReadIcfFile(icf, doc->settings.defaultImageSigma)) << icf.GetText();
        ASSERT_EQ(fromFile.targets.GetSize(), image.targets.GetSize());
        for (int i = 0; i < image.targets.GetSize(); ++i) {
            const CImageObservation& o = *image.targets.GetAt(i);
            const CImageObservation& f = *fromFile.targets.GetAt(i);
            EXPECT_EQ(o.label, f.label);
            EXPECT_EQ(o.x, f.x);
            EXPECT_EQ(o.y, f.y);
            EXPECT_EQ(o.sigmaX, 0.0005);
        }
    }
    EXPECT_EQ(rolls, (std::set<int>{0, 90, 270}));
}

// Each observation, corrected for distortion, lies within the noise of the
// true point's projection; the noise has the stated size.
TEST_F(SampleProjectTest, ObservationsAreTheTruthPlusImageNoise)
{
    const CCamera& camera = *doc->cameras.GetAt(0);
    const double c = camera.parameters[CAM_C];
    double sum = 0.0;
    int count = 0;
    for (int j = 0; j < doc->images.GetSize(); ++j) {
        const CProjectImage& image = *doc->images.GetAt(j);
        const CSamplePose& pose = truth->poses[static_cast<size_t>(j)];
        double R[3][3];
        CSyntheticScene::RotationFromAngles(pose.azimuth, pose.elevation, pose.roll, R);
        for (int i = 0; i < image.targets.GetSize(); ++i) {
            const CImageObservation& o = *image.targets.GetAt(i);
            const CObjectPoint& p = Truth(o.label);
            const double d[3] = {p.x - pose.X, p.y - pose.Y, p.z - pose.Z};
            double u[3];
            for (int k = 0; k < 3; ++k)
                u[k] = R[k][0] * d[0] + R[k][1] * d[1] + R[k][2] * d[2];
            ASSERT_LT(u[2], 0.0) << o.label.GetText();
            EXPECT_TRUE(camera.IsInFrame(o.x, o.y, 0.0));
            double xc, yc;
            ModelCorrection(camera, o.x, o.y, xc, yc);
            const double ex = xc + c * u[0] / u[2];
            const double ey = yc + c * u[1] / u[2];
            // The deviates are bounded by 6 sigma; the file rounds to 1e-6 mm.
            EXPECT_LT(std::fabs(ex), 6.0 * CSampleTruth::kImageNoise + 1e-6);
            EXPECT_LT(std::fabs(ey), 6.0 * CSampleTruth::kImageNoise + 1e-6);
            sum += ex * ex + ey * ey;
            count += 2;
        }
    }
    const double rms = std::sqrt(sum / count);
    EXPECT_GT(rms, 0.9 * CSampleTruth::kImageNoise);
    EXPECT_LT(rms, 1.1 * CSampleTruth::kImageNoise);
}

// Resection of every image from the control set alone, from its start pose.
TEST_F(SampleProjectTest, ResectionFromTheControlRecoversEachPose)
{
    CPointSet& control = *doc->pointSets.GetControlSet();
    const CCamera& camera = *doc->cameras.GetAt(0);
    for (int j = 0; j < doc->images.GetSize(); ++j) {
        SCOPED_TRACE(j);
        CProjectImage& image = *doc->images.GetAt(j);
        const CSamplePose& pose = truth->poses[static_cast<size_t>(j)];
        EXPECT_GE(image.CountObservedPoints(control), 6);
        CAdjustmentSummary result;
        ASSERT_TRUE(ResectImage(image, camera, control, doc->settings, result));
        EXPECT_LT(StationDeviation(image, pose), 20.0 * kRayNoise);
        EXPECT_LT(RotationDeviation(image, pose), 20.0 * kRayNoise / 3300.0);
    }
}

// The bundle on the loaded project recovers poses and all 100 points.
TEST_F(SampleProjectTest, BundleRecoversTheTruth)
{
    CImagePtrArray images;
    doc->images.GetPointerArray(images);
    CPointSet points;
    CAdjustmentSummary summary;
    CAdjustmentEngine engine(&images, &points, doc->pointSets.GetControlSet(), &doc->cameras, &doc->scaleBars,
                             &doc->settings, &summary);
    ASSERT_TRUE(engine.RunBundle()) << engine.GetFailureReason();
    ASSERT_EQ(summary.status, BUNDLE_CONVERGED) << engine.GetFailureReason();
    EXPECT_NEAR(summary.sigma0, 1.0, 0.15);

    ASSERT_EQ(points.GetSize(), 100);
    double worstPoint = 0.0;
    for (int i = 0; i < points.GetSize(); ++i) {
        const CObjectPoint& p = *points.GetAt(i);
        const CObjectPoint& t = Truth(p.label);
        worstPoint = std::max({worstPoint, std::fabs(p.x - t.x), std::fabs(p.y - t.y), std::fabs(p.z - t.z)});
    }
    double worstStation = 0.0, worstRotation = 0.0;
    for (int j = 0; j < images.GetSize(); ++j) {
        worstStation = std::max(worstStation, StationDeviation(*images.GetAt(j), truth->poses[static_cast<size_t>(j)]));
        worstRotation = std::max(worstRotation, RotationDeviation(*images.GetAt(j), truth->poses[static_cast<size_t>(j)]));
    }
    // Points seen by three images and more; stations resting on the points.
    EXPECT_LT(worstPoint, 6.0 * kRayNoise);
    EXPECT_LT(worstStation, 15.0 * kRayNoise);
    EXPECT_LT(worstRotation, 15.0 * kRayNoise / 3300.0);
    EXPECT_NEAR(doc->cameras.GetAt(0)->parameters[CAM_C], truth->camera.parameters[CAM_C], 0.02);
}

// The sample's first system is singular to rounding (a pivot of -5e-16 in
// diagonal units), which stops a Cholesky factorisation but not the pivot
// tests: with the sparse storage forced the run goes on in the dense one and
// ends where the dense run ends.
TEST_F(SampleProjectTest, ARunForcedSparseThroughANearlySingularSystemEndsAsTheDenseRun)
{
    struct Outcome {
        bool ok = false;
        double sigma0 = 0.0;
        std::vector<double> coordinates;
    };
    auto run = [this](CAdjustmentEngine::ReducedSolver solver) {
        CProjectDocument copy;
        const CProjectFileResult loaded = ReadWriteProjectFile(copy, (*folder + "/Sample.kst").c_str(), PROJECT_FILE_LOAD);
        EXPECT_TRUE(loaded.ok);
        TakeCapturedMessages();
        CImagePtrArray images;
        copy.images.GetPointerArray(images);
        CPointSet points;
        CAdjustmentSummary summary;
        CAdjustmentEngine engine(&images, &points, copy.pointSets.GetControlSet(), &copy.cameras, &copy.scaleBars,
                                 &copy.settings, &summary);
        engine.SetSolver(solver);
        Outcome out;
        out.ok = engine.RunBundle() && summary.status == BUNDLE_CONVERGED;
        EXPECT_TRUE(out.ok) << engine.GetFailureReason();
        out.sigma0 = summary.sigma0;
        for (int i = 0; i < points.GetSize(); ++i)
            for (double v : {points.GetAt(i)->x, points.GetAt(i)->y, points.GetAt(i)->z})
                out.coordinates.push_back(v);
        return out;
    };
    const Outcome dense = run(CAdjustmentEngine::SOLVER_DENSE);
    const Outcome sparse = run(CAdjustmentEngine::SOLVER_SPARSE);
    ASSERT_TRUE(dense.ok && sparse.ok);
    EXPECT_NEAR(sparse.sigma0, dense.sigma0, 1e-9 * dense.sigma0);
    ASSERT_EQ(sparse.coordinates.size(), dense.coordinates.size());
    for (size_t k = 0; k < dense.coordinates.size(); ++k)
        EXPECT_NEAR(sparse.coordinates[k], dense.coordinates[k], 1e-7) << k;
}

// The same folder gets the same bytes again; a folder that cannot be made
// is reported.
TEST_F(SampleProjectTest, RewritingGivesTheSameFileAndFailuresAreReported)
{
    const std::string path = *folder + "/Sample.kst";
    const std::string before = ReadBytes(path);
    std::string message;
    ASSERT_TRUE(WriteSampleProject(*folder, message)) << message;
    EXPECT_EQ(ReadBytes(path), before);

    const std::string blocked = *folder + "/Sample.kst/inside";
    EXPECT_FALSE(WriteSampleProject(blocked, message));
    EXPECT_NE(message.find("Sample.kst"), std::string::npos) << message;
}

} // namespace

} // namespace sample_project_test
