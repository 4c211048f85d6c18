// The sample as the sample program writes it: pictures rendered on worker
// threads (std::thread) byte for byte as on one, a project that opens
// unchanged and without a question once its scale bar is in the profile, and
// centroid settings under which every target of a picture is found at the
// projection of its true centre.
#include "SamplePictures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "CentroidOperator.h"
#include "CentroidSettings.h"
#include "DisplayImage.h"
#include "ImageTestFiles.h"
#include "Intersection.h"
#include "Message.h"
#include "ProfileDatabases.h"
#include "ProjectDocument.h"
#include "ProjectFile.h"
#include "SampleProject.h"
#include "TestFiles.h"

namespace sample_folder_test {

using kestrelon::test::ReadFileBytes;
using kestrelon::test::TempFolder;

std::string PictureName(int j)
{
    char name[32];
    std::snprintf(name, sizeof name, "Image%03d.tif", j + 1);
    return name;
}

// A profile folder of its own for each test, and the process-wide centroid
// settings and databases as they were before it.
class SampleFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
        savedCentroid = GetCentroidSettings();
        TakeCapturedMessages();
    }
    void TearDown() override
    {
        SetAppDatabases(nullptr);
        GetCentroidSettings() = savedCentroid;
        unsetenv("XDG_CONFIG_HOME");
    }
    std::string ProfilePath() const { return config.Path() + "/kestrelon/Kestrelon.ini"; }

    // Opens the project with the profile's databases installed, as the
    // application does; the texts of the questions asked go to `asked`.
    CProjectFileResult Open(CProjectDocument& doc, const std::string& project, std::vector<std::string>& asked)
    {
        CProfileDatabases databases;
        databases.LoadDatabases();
        SetAppDatabases(&databases);
        const CProjectFileResult result = ReadWriteProjectFile(doc, project.c_str(), PROJECT_FILE_LOAD);
        SetAppDatabases(nullptr);
        asked.clear();
        for (const CapturedMessage& m : TakeCapturedMessages())
            asked.push_back(m.text);
        return result;
    }

    TempFolder config{"kestrelon-config"};
    TempFolder work{"kestrelon-sample"};
    CCentroidSettings savedCentroid;
};

TEST_F(SampleFolder, PicturesAreTheSameOnOneAndOnManyWorkers)
{
    const std::string one = work.Path() + "/one", many = work.Path() + "/many";
    std::string message;
    ASSERT_TRUE(WriteSampleProject(one, message)) << message;
    ASSERT_TRUE(WriteSampleProject(many, message)) << message;
    ASSERT_TRUE(WriteSamplePictures(one, message, 1)) << message;
    const int workers = std::max(3, static_cast<int>(std::thread::hardware_concurrency()));
    ASSERT_TRUE(WriteSamplePictures(many, message, workers)) << message;
    for (int j = 0; j < CSampleTruth::kImageCount; ++j) {
        const std::string a = ReadFileBytes(one + "/" + PictureName(j));
        EXPECT_GT(a.size(), 4000u * 3000u) << j;
        EXPECT_TRUE(a == ReadFileBytes(many + "/" + PictureName(j))) << PictureName(j);
    }

    // A picture that cannot be written names itself, whichever worker drew it.
    const std::string blocked = work.Path() + "/blocked";
    ASSERT_TRUE(WriteSampleProject(blocked, message)) << message;
    ASSERT_TRUE(std::filesystem::create_directories(blocked + "/Image004.tif/in"));
    message.clear();
    EXPECT_FALSE(WriteSamplePictures(blocked, message, workers));
    EXPECT_NE(message.find("Image004.tif"), std::string::npos) << message;
}

// The whole sample: it opens unchanged without a question, its images point
// at its pictures, and its centroid settings find each target of the first
// picture within 0.05 pixel of the projection of its true centre, where the
// inverting defaults find none.
TEST_F(SampleFolder, OpensUnchangedAndItsSettingsMeasureItsPictures)
{
    const std::string folder = work.Path() + "/Sample";
    std::string message;
    ASSERT_TRUE(WriteSample(folder, message)) << message;

    CProjectDocument doc;
    std::vector<std::string> asked;
    const CProjectFileResult result = Open(doc, folder + "/Sample.kst", asked);
    ASSERT_TRUE(result.ok) << result.message.GetText();
    EXPECT_FALSE(result.changedByLoad);
    EXPECT_TRUE(asked.empty()) << asked.front();
    ASSERT_EQ(doc.scaleBars.GetSize(), 1);
    EXPECT_STREQ(doc.scaleBars.GetAt(0)->name.GetText(), "SampleBar");

    ASSERT_EQ(doc.images.GetSize(), CSampleTruth::kImageCount);
    for (int j = 0; j < CSampleTruth::kImageCount; ++j)
        EXPECT_EQ(std::string(doc.images.GetAt(j)->GetFilePath().GetText()), folder + "/" + PictureName(j));

    const CCentroidSettings loaded = GetCentroidSettings();
    EXPECT_EQ(loaded.invert, 0);
    CCentroidSettings inverting = loaded;
    inverting.invert = 1;

    CSampleTruth truth;
    BuildSampleTruth(truth);
    const CSamplePose& pose = truth.poses[0];
    CProjectImage truePose;
    truePose.SetPose(pose.X, pose.Y, pose.Z, pose.azimuth, pose.elevation, pose.roll);
    auto picture = CreateDisplayImage((folder + "/" + PictureName(0)).c_str());
    ASSERT_TRUE(picture);
    ASSERT_TRUE(picture->Load((folder + "/" + PictureName(0)).c_str(), 0));
    const CProjectImage& first = *doc.images.GetAt(0);
    int measured = 0, foundInverted = 0;
    for (int i = 0; i < first.targets.GetSize(); ++i) {
        const CImageObservation& o = *first.targets.GetAt(i);
        const CObjectPoint* target = truth.targets.FindPoint(o.label);
        ASSERT_NE(target, nullptr) << o.label.GetText();
        CImageObservation projected;
        ASSERT_TRUE(ProjectPointToImage(*target, truePose, truth.camera, projected, 1.0));
        double column = 0.0, row = 0.0;
        truth.camera.ImageToPixel(projected.x, projected.y, column, row);
        // A click a few pixels off the centre, as a user's would be.
        CCentroidOperator op;
        double x = 0.0, y = 0.0;
        ASSERT_EQ(op.Compute(*picture, int(column) + 3, int(row) - 2, x, y, loaded), 0) << o.label.GetText();
        EXPECT_NEAR(x, column, 0.05) << o.label.GetText();
        EXPECT_NEAR(y, row, 0.05) << o.label.GetText();
        ++measured;
        CCentroidOperator inverted;
        foundInverted += inverted.Compute(*picture, int(column), int(row), x, y, inverting) == 0;
    }
    EXPECT_GT(measured, 20);
    EXPECT_EQ(foundInverted, 0);
}

// The sample's bar goes into whatever the profile holds: the rest of the
// profile stays, a stale record of its name is brought up to date, a record
// that is the same leaves the file alone, and a name in another letter case
// is refused. Each time the sample then opens unchanged, or asks about its bar.
TEST_F(SampleFolder, ItsScaleBarJoinsTheProfile)
{
    struct Case {
        const char* name;
        std::function<void(CProfileDatabases&)> before; // the profile's records before
        bool ok;
    };
    const auto withBar = [](const char* name, double length) {
        return [=](CProfileDatabases& d) {
            CScaleBar* bar = d.scaleBarDatabase.AddNew();
            bar->name = name;
            bar->calibratedLength = length;
            bar->endLabel1 = "A";
            bar->endLabel2 = "B";
        };
    };
    CSampleTruth truth;
    BuildSampleTruth(truth);
    const std::vector<Case> cases = {
        {"no profile yet", nullptr, true},
        {"other records stay", withBar("Other", 500.0), true},
        {"stale record replaced", withBar("SampleBar", 1.0), true},
        {"same record",
         [&](CProfileDatabases& d) { d.scaleBarDatabase.AddCopy(SampleScaleBar(truth)); }, true},
        {"name in another case", withBar("SAMPLEBAR", 1.0), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(ProfilePath().c_str());
        if (c.before) {
            CProfileDatabases d;
            d.LoadDatabases();
            d.cameraDatabase.AddNew()->identifier = "KeptCam";
            c.before(d);
            ASSERT_TRUE(d.SaveDatabases(1));
        }
        const std::string before = ReadFileBytes(ProfilePath());
        std::string message;
        EXPECT_EQ(AddSampleScaleBarToProfile(message), c.ok) << message;
        TakeCapturedMessages();

        CProfileDatabases after;
        after.LoadDatabases();
        if (c.before) {
            EXPECT_NE(after.cameraDatabase.FindByName("KeptCam"), nullptr);
        }
        if (std::string(c.name) == "same record") {
            EXPECT_EQ(ReadFileBytes(ProfilePath()), before);
        }
        if (std::string(c.name) == "other records stay") {
            EXPECT_NE(after.FindDatabaseScaleBar("Other"), nullptr);
        }
        if (!c.ok) {
            EXPECT_NE(message.find("SampleBar"), std::string::npos) << message;
            EXPECT_EQ(after.FindDatabaseScaleBar("SampleBar"), nullptr);
        }

        const std::string folder = work.Path() + "/bars";
        ASSERT_TRUE(WriteSampleProject(folder, message)) << message;
        CProjectDocument doc;
        std::vector<std::string> asked;
        const CProjectFileResult result = Open(doc, folder + "/Sample.kst", asked);
        ASSERT_TRUE(result.ok);
        if (c.ok) {
            EXPECT_FALSE(result.changedByLoad);
            EXPECT_TRUE(asked.empty()) << asked.front();
        } else {
            EXPECT_EQ(asked, std::vector<std::string>{
                                 "Scale Bar SampleBar Is Not In Database!\nWould You Like To Add It?"});
        }
    }
}

} // namespace sample_folder_test
