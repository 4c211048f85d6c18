#include "ProjectFile.h"

#include "BinArchive.h"
#include "Camera.h"
#include "CentroidSettings.h"
#include "EllipseRecord.h"
#include "Message.h"
#include "ProfileDatabases.h"
#include "ProjectDocument.h"
#include "ProjectFileBytes.h"
#include "ProjectImage.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string ReadBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteBytes(const fs::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The document as the writer stores it (no file involved).
std::string Stored(CProjectDocument& doc, const CCentroidSettings& centroid = GetCentroidSettings())
{
    std::stringbuf buffer(std::ios::out | std::ios::binary);
    CBinArchive ar(&buffer, std::ios::out);
    EXPECT_TRUE(WriteProjectArchive(ar, doc, centroid));
    return buffer.str();
}

bool Parse(const std::string& bytes, CProjectDocument& doc, CDynString* message = nullptr, int* version = nullptr)
{
    std::stringbuf buffer(bytes, std::ios::in | std::ios::binary);
    CBinArchive ar(&buffer, std::ios::in);
    CCentroidSettings centroid;
    std::vector<CLegacyPointSetEntry> legacy;
    int v = -99;
    CDynString text;
    bool ok = ReadProjectArchive(ar, doc, centroid, legacy, v, text);
    if (message != nullptr)
        *message = text;
    if (version != nullptr)
        *version = v;
    return ok;
}

class ProjectFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = temp.Path();
        folder = root / "project";
        fs::create_directories(folder);
        fs::create_directories(root / "config");
        setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
        savedCentroid = GetCentroidSettings();
        databases = std::make_unique<CProfileDatabases>();
        databases->SetProfilePath((root / "config" / "Kestrelon.ini").string());
        SetAppDatabases(databases.get());
        TakeCapturedMessages();
    }

    void TearDown() override
    {
        SetProjectFileWriteFunction(nullptr);
        SetMessageBoxHandler(nullptr);
        SetAppDatabases(nullptr);
        GetCentroidSettings() = savedCentroid;
        TakeCapturedMessages();
    }

    std::string ProjectPath(const char* name = "survey.kst") const { return (folder / name).string(); }
    std::string InFolder(const char* name) const { return (folder / name).string(); }

    // Every kind of record, every setting away from its default, in the state
    // that a load leaves.
    void FillProject(CProjectDocument& doc)
    {
        doc.unitIndex = 1;
        doc.reservedByte = 3;
        doc.duplicateTolerance = 0.001;
        doc.targetAreaMin = 6;
        doc.targetAreaMax = 600;
        doc.drivebackThreshold = 7.5;
        doc.highTargetJump = 33;
        doc.highTargetImageRatio = 0.03;
        doc.highMinGrey = 55;
        doc.lowTargetJump = 22;
        doc.lowTargetImageRatio = 0.4;
        doc.lowMinGrey = 44;
        doc.eoDeviceMinSize = 350;
        doc.minTargetError = 12;
        doc.deviationFactor = 1.25;
        for (int i = 0; i < 9; ++i)
            doc.scanFlags[i] = (i % 2) == 0;
        doc.scanMethod = 1;
        doc.autoSavePeriod = 300;
        doc.maxEpipolarAngleDiff = 0.05;
        doc.maxDrivebackError = 3.0;
        doc.minIntersectionAngle = 15.0;
        doc.onlyNearEODevice = 0;
        doc.maxDistanceToEODevice = 30.0;
        doc.distanceInProjectUnits = 1;
        doc.newPointPrefix = "NP";
        doc.maxViewingAngle = 1.0;
        doc.targetRadius = 4.0;
        doc.targetNormal[0] = 1.0;
        doc.targetNormal[1] = 0.0;
        doc.targetNormal[2] = 0.0;
        doc.targetOverlay = 0;
        doc.numberPoints = 0;
        doc.centroidColour = 0x010203;
        doc.manualColour = 0x040506;
        doc.fiducialColour = 0x070809;
        doc.residualVectorColour = 0x0A0B0C;

        CProjectSettings& s = doc.settings;
        s.defaultImageSigma = 0.0009;
        s.keepRejectionLimitFixed = true;
        s.freeNetwork = false;
        s.rigorousScale = true;
        s.flag5 = 1;
        s.minimumRays = 4;
        s.totalErrorPropagation = false;
        s.absoluteConvergence = true;
        s.absoluteConvergenceLimit = 0.25;
        s.rejectionFactor = 2.5;
        s.rejectionOffset = 0.0007;
        s.convergenceLimit = 7e-06;
        s.maxIterations = 12;
        s.rejectionLimit = 0.3;
        s.triangulationConvergenceLimit = 3e-05;
        s.triangulationMaxIterations = 25;
        s.resectionRejectionLimit = 1.7;
        s.resectionConvergenceLimit = 0.0003;
        s.resectionMaxIterations = 35;
        s.correctCentreEccentricity = true;
        s.correctRetroTargetShift = true;
        s.writeResiduals = false;
        s.writeCameraParameters = false;
        s.writeCorrelations = true;
        s.writeRotationAngles = true;
        s.writeRotationMatrices = true;
        s.writeCovariances = true;
        s.simulation = true;
        s.useEllipseCentres = true;

        CCentroidSettings& c = GetCentroidSettings();
        c = CCentroidSettings();
        c.thresholdValue = 3.5;
        c.targetType = 'l';
        c.thresholdMethod = 's';
        c.weighting = '0';
        c.minGreyRange = 40;
        c.minTargetSize = 3;
        c.windowSize = 48;
        c.shapeTesting = 0;
        c.invert = 0;
        c.xyRatio = 2.0;

        CCamera* camera = doc.cameras.AddNew();
        camera->identifier = "CAM1";
        camera->cameraType = "body";
        camera->lensType = "lens";
        camera->XPixelSize = 0.006;
        camera->YPixelSize = 0.0061;
        camera->XPixels = 4000;
        camera->YPixels = 3000;
        camera->SetCalibrationMode(2);
        for (int p = 0; p < CAM_PARAMETER_COUNT; ++p) {
            camera->parameters[p] = 0.5 * (p + 1);
            camera->postSigmas[p] = 0.01 * p;
            camera->corrections[p] = -0.001 * p;
        }
        camera->calibrationRedundancy = 42;
        camera->fiducials.AddSorted(CImageObservation(CNameBuffer("F1"), -10.0, 10.0));
        camera->fiducials.AddSorted(CImageObservation(CNameBuffer("F2"), 10.0, -10.0));
        doc.cameras.AddNew()->identifier = "CAM2";

        CProjectImage* image = doc.images.AddNew();
        image->name = "Image001";
        image->filePath = InFolder("img1.tif").c_str();
        image->cameraName = "CAM1";
        image->SetPose(1.0, 2.0, 3.0, 0.1, 0.2, 0.3);
        image->oriented = true;
        image->highQuality = false;
        image->qualitySet = true;
        image->transformAccepted = true;
        image->aprioriSigma[0] = 0.5;
        image->corrections[5] = 0.002;
        image->covariance.SetAt(0.25, 1, 1);
        image->transformation.Resize(6);
        for (int i = 0; i < 6; ++i)
            image->transformation[i] = 0.1 * i;
        CImageObservation observation(CNameBuffer("P1"), 1.5, -2.5, 0.0005, 0.0006, 100.0, 200.0);
        observation.vx = 0.001;
        observation.measured = true;
        CTargetEllipse ellipse;
        ellipse.SetFromParameters(1.5, -2.5, 0.3, 0.2, 0.4);
        CMatrix covariance(5, -1);
        covariance.SetAt(1e-6, 0, 0);
        covariance.SetAt(2e-6, 4, 4);
        ellipse.SetCovariance(covariance);
        observation.SetEllipse(ellipse);
        image->targets.AddSorted(observation);
        image->targets.AddSorted(CImageObservation(CNameBuffer("P2"), 3.0, 4.0));
        CImageObservation disabled(CNameBuffer("P10"), 5.0, 6.0);
        disabled.disabled = true;
        image->targets.AddSorted(disabled);
        image->fiducials.AddSorted(CImageObservation(CNameBuffer("F1"), -9.9, 10.1));
        CProjectImage* second = doc.images.AddNew();
        second->name = "Image002";
        second->filePath = InFolder("img2.tif").c_str();
        second->cameraName = "CAM2";
        second->enabled = false;
        second->targets.AddSorted(CImageObservation(CNameBuffer("P1"), 0.5, 0.5));

        AddSet(doc, "Control.xyz", [](CPointSet& set) { set.isControl = true; });
        AddSet(doc, "Driver.xyz", [](CPointSet& set) { set.isDriver = true; });
        AddSet(doc, "Trans.xyz", [](CPointSet& set) {
            set.isDiscrepancySet = true;
            set.GetAt(0)->discrepancy[2] = 0.125;
        });
        AddSet(doc, "Bundle.xyz", [](CPointSet& set) {
            CObjectPoint* p = set.GetAt(1);
            p->SetNormal(0.0, 0.6, 0.8);
            p->radius = 2.0;
            p->SetSigmas(0.01, 0.02, 0.03);
            p->SetCovarianceSigmas(0.005, 0.006, 0.007);
            p->unsolved = true;
            CPointLine* line = set.lines.AddNew();
            line->from = "P1";
            line->to = "P2";
            line->selected = true;
        });
        AddSet(doc, "Other.xyz", [](CPointSet& set) { set.GetAt(0)->inUse = false; });

        doc.eoDevice.name = InFolder("CROSS.eod").c_str();
        doc.eoDevice.AddPointSorted(CObjectPoint("E1", 0.0, 0.0, 0.0));
        doc.eoDevice.AddPointSorted(CObjectPoint("E2", 100.0, 0.0, 0.0));
        doc.eoDevice.idShape = 2;
        doc.eoDevice.comment = "frame";
        doc.eoDevice.calibrationTime = "today";
        doc.eoDevice.maxResectionRms = 3.5;
        doc.eoDevice.unit = "cm";

        CScaleBar* bar = doc.scaleBars.AddNew();
        bar->name = "BAR1";
        bar->version = 2;
        bar->units = "mm";
        bar->endLabel1 = "P1";
        bar->endLabel2 = "P2";
        bar->calibratedLength = 1000.0;
        bar->rays1 = 3;
        bar->rays2 = 4;
        bar->adjustedLength = 1000.01;
        // As a load leaves it: the database's record.
        bar->standardDeviation = 0.02;
        databases->scaleBarDatabase.AddCopy(*bar);
    }

    template <class Adjust>
    void AddSet(CProjectDocument& doc, const char* fileName, Adjust adjust)
    {
        CPointSet* set = doc.pointSets.AddNew();
        set->name = InFolder(fileName).c_str();
        set->AddPointSorted(CObjectPoint("P1", 1.0, 2.0, 3.0));
        set->AddPointSorted(CObjectPoint("P2", 4.0, 5.0, 6.5));
        adjust(*set);
    }

    kestrelon::test::TempFolder temp{"kestrelon-projectfile"};
    fs::path root;
    fs::path folder;
    CCentroidSettings savedCentroid;
    std::unique_ptr<CProfileDatabases> databases;
};

// ---------------------------------------------------------------------------
// Round trips

TEST_F(ProjectFileTest, FullProjectSavesLoadsAndSavesAgainByteIdentically)
{
    auto doc = std::make_unique<CProjectDocument>();
    FillProject(*doc);
    const CCentroidSettings centroid = GetCentroidSettings();
    const std::string path = ProjectPath();
    CProjectFileResult saved = ReadWriteProjectFile(*doc, path.c_str(), PROJECT_FILE_SAVE);
    ASSERT_TRUE(saved.ok) << saved.message.GetText();
    const std::string first = ReadBytes(path);

    // The file begins with the header and version 13, then scanMethod.
    ASSERT_GT(first.size(), 30u);
    EXPECT_EQ(first.substr(0, 22), "Kestrelon Project File");
    EXPECT_EQ(first.substr(22, 4), std::string("\x0D\x00\x00\x00", 4));
    EXPECT_EQ(first.substr(26, 4), std::string("\x01\x00\x00\x00", 4));
    // Path fields stand in the file with backslashes.
    EXPECT_EQ(first.find(folder.string()), std::string::npos);
    std::string windowsFolder = folder.string();
    for (char& ch : windowsFolder)
        if (ch == '/')
            ch = '\\';
    EXPECT_NE(first.find(windowsFolder + "\\Control.xyz"), std::string::npos);

    GetCentroidSettings() = CCentroidSettings();
    auto loaded = std::make_unique<CProjectDocument>();
    CProjectFileResult load = ReadWriteProjectFile(*loaded, path.c_str(), PROJECT_FILE_LOAD);
    ASSERT_TRUE(load.ok) << load.message.GetText();
    EXPECT_FALSE(load.changedByLoad);
    EXPECT_EQ(GetCentroidSettings(), centroid);
    EXPECT_EQ(loaded->fileVersion, 13);
    ASSERT_EQ(loaded->pointSets.GetSize(), 5);
    EXPECT_EQ(std::string(loaded->pointSets.GetAt(0)->name.GetText()), InFolder("Control.xyz"));
    EXPECT_TRUE(loaded->pointSets.GetAt(0)->isControl);
    EXPECT_EQ(loaded->pointSets.GetAt(3)->lines.GetSize(), 1);
    EXPECT_TRUE(loaded->cameras.GetAt(0)->IsEqual(*doc->cameras.GetAt(0)));
    ASSERT_EQ(loaded->images.GetSize(), 2);
    const CImageObservation* withEllipse = loaded->images.GetAt(0)->targets.GetAt(0);
    ASSERT_NE(withEllipse->GetEllipse(), nullptr);
    EXPECT_DOUBLE_EQ(withEllipse->GetEllipse()->rotation, 0.4);
    EXPECT_EQ(std::string(loaded->eoDevice.unit.GetText()), "cm");
    EXPECT_EQ(std::string(loaded->newPointPrefix.GetText()), "NP");
    EXPECT_FALSE(loaded->settings.writeResiduals);
    EXPECT_TRUE(loaded->settings.writeCovariances);

    // Loading rewrote each set's coordinate file in the project folder.
    EXPECT_TRUE(fs::exists(folder / "Control.xyz"));
    EXPECT_TRUE(fs::exists(folder / "Bundle.xyz"));

    const std::string again = ProjectPath("again.kst");
    CProjectFileResult resaved = ReadWriteProjectFile(*loaded, again.c_str(), PROJECT_FILE_SAVE);
    ASSERT_TRUE(resaved.ok) << resaved.message.GetText();
    EXPECT_EQ(ReadBytes(again), first);
}

TEST_F(ProjectFileTest, EmptyProjectReadsBackToItsDefaults)
{
    auto doc = std::make_unique<CProjectDocument>();
    const std::string bytes = Stored(*doc);
    auto loaded = std::make_unique<CProjectDocument>();
    ASSERT_TRUE(Parse(bytes, *loaded));
    EXPECT_EQ(Stored(*loaded), bytes);
    EXPECT_EQ(loaded->autoSavePeriod, 600);
    EXPECT_EQ(loaded->targetAreaMax, 400);
    EXPECT_EQ(loaded->cameras.GetSize(), 0);
}

TEST_F(ProjectFileTest, HandBuiltCurrentFileIsWhatTheWriterWrites)
{
    const std::string bytes = pfbytes::SampleFile(13, {}, true);
    auto doc = std::make_unique<CProjectDocument>();
    std::stringbuf buffer(bytes, std::ios::in | std::ios::binary);
    CBinArchive ar(&buffer, std::ios::in);
    CCentroidSettings centroid;
    std::vector<CLegacyPointSetEntry> legacy;
    int version = 0;
    CDynString message;
    ASSERT_TRUE(ReadProjectArchive(ar, *doc, centroid, legacy, version, message)) << message.GetText();
    EXPECT_EQ(version, 13);
    EXPECT_EQ(centroid.windowSize, 33);
    EXPECT_EQ(Stored(*doc, centroid), bytes);
}

// ---------------------------------------------------------------------------
// Older versions, built from the field tables

class OldVersionTest : public ProjectFileTest, public ::testing::WithParamInterface<int> {};

TEST_P(OldVersionTest, LoadsValuesAndDefaultsOfWhatItLacks)
{
    using S = pfbytes::SampleValues;
    const int v = GetParam();
    // Files below version 2 name coordinate files: one where it is said to
    // be, one that only exists in the project folder, one that is gone.
    std::vector<std::string> legacy;
    if (v < 2) {
        fs::create_directories(root / "elsewhere");
        WriteBytes(root / "elsewhere" / "Near.xyz", "N1 1 2 3\r\n");
        WriteBytes(folder / "Moved.xyz", "M1 4 5 6\r\nM2 7 8 9\r\n");
        legacy = {(root / "elsewhere" / "Near.xyz").string(), "E:\\gone\\Moved.xyz", "E:\\gone\\Lost.xyz"};
    }
    const std::string path = ProjectPath();
    WriteBytes(path, pfbytes::SampleFile(v, legacy));

    auto doc = std::make_unique<CProjectDocument>();
    const CProjectDocument defaults;
    CProjectFileResult result = ReadWriteProjectFile(*doc, path.c_str(), PROJECT_FILE_LOAD);
    ASSERT_TRUE(result.ok) << "version " << v << ": " << result.message.GetText();
    EXPECT_EQ(doc->fileVersion, v);

    // Preferences: the file's where the version has them, else the defaults.
    EXPECT_EQ(doc->scanMethod, defaults.scanMethod);
    EXPECT_EQ(doc->lowTargetJump, v >= 12 ? S::lowTargetJump : defaults.lowTargetJump);
    EXPECT_EQ(doc->lowMinGrey, v >= 12 ? S::lowMinGrey : defaults.lowMinGrey);
    EXPECT_EQ(doc->maxViewingAngle, v >= 11 ? S::maxViewingAngle : defaults.maxViewingAngle);
    EXPECT_EQ(doc->targetNormal[1], v >= 11 ? 1.0 : defaults.targetNormal[1]);
    EXPECT_EQ(static_cast<int>(doc->reservedByte), v >= 6 ? S::reservedByte : 0);
    EXPECT_EQ(std::string(doc->newPointPrefix.GetText()), v >= 5 ? "NEW_" : "A");
    EXPECT_EQ(doc->maxDrivebackError, v >= 3 ? S::maxDrivebackError : defaults.maxDrivebackError);
    EXPECT_EQ(static_cast<int>(doc->distanceInProjectUnits), v >= 3 ? 1 : 0);
    EXPECT_EQ(doc->highTargetJump, v >= 1 ? S::highTargetJump : defaults.highTargetJump);
    EXPECT_EQ(doc->deviationFactor, v >= 1 ? S::deviationFactor : defaults.deviationFactor);
    EXPECT_EQ(static_cast<int>(doc->scanFlags[1]), v >= 1 ? 0 : 1);
    EXPECT_EQ(doc->targetOverlay, S::targetOverlay);
    EXPECT_EQ(doc->centroidColour, S::centroidColour);
    EXPECT_EQ(doc->residualVectorColour, S::residualVectorColour);
    EXPECT_EQ(doc->autoSavePeriod, S::autoSavePeriod);
    EXPECT_EQ(doc->unitIndex, S::unitIndex);
    EXPECT_EQ(doc->targetAreaMax, S::targetAreaMax);
    EXPECT_EQ(doc->drivebackThreshold, S::drivebackThreshold);

    const CCentroidSettings& c = GetCentroidSettings();
    EXPECT_EQ(c.thresholdValue, 12.5);
    EXPECT_EQ(c.targetType, 'h');
    EXPECT_EQ(c.windowSize, 33);
    EXPECT_EQ(c.xyRatio, 1.75);

    // Settings by their own version, the second copy of the report flags deciding.
    const CProjectSettings& s = doc->settings;
    EXPECT_EQ(s.defaultImageSigma, 0.0007);
    EXPECT_EQ(s.minimumRays, 3);
    EXPECT_EQ(s.resectionMaxIterations, 31);
    EXPECT_EQ(s.absoluteConvergenceLimit, v >= 4 ? 0.75 : 0.5);
    EXPECT_EQ(s.correctRetroTargetShift, v >= 11);
    EXPECT_EQ(s.useEllipseCentres, v >= 12);
    EXPECT_FALSE(s.writeCovariances);
    EXPECT_FALSE(s.writeResiduals);
    EXPECT_TRUE(s.writeCorrelations);
    EXPECT_TRUE(s.writeRotationMatrices);

    // Cameras: the redundancy only in records of version 11.
    ASSERT_EQ(doc->cameras.GetSize(), 1);
    const CCamera& camera = *doc->cameras.GetAt(0);
    EXPECT_EQ(std::string(camera.identifier.GetText()), "CAM1");
    EXPECT_EQ(camera.calibrationRedundancy, v >= 11 ? 17 : 0);
    EXPECT_EQ(camera.parameters[9], 109.0);
    EXPECT_EQ(camera.corrections[0], 400.0);
    EXPECT_EQ(camera.YPixels, 2000);
    ASSERT_EQ(camera.fiducials.GetSize(), 1);

    // Scale bars: no standard deviation in the file.
    ASSERT_EQ(doc->scaleBars.GetSize(), 1);
    EXPECT_EQ(doc->scaleBars.GetAt(0)->adjustedLength, 1000.5);
    EXPECT_EQ(doc->scaleBars.GetAt(0)->standardDeviation, 1e-16);
    EXPECT_EQ(std::string(doc->scaleBars.GetAt(0)->endLabel2.GetText()), "B2");

    // Images: matrices from version 4, quality bytes from 1, ellipses from 8.
    ASSERT_EQ(doc->images.GetSize(), 1);
    const CProjectImage& image = *doc->images.GetAt(0);
    EXPECT_EQ(std::string(image.filePath.GetText()), "D:/photos/img1.tif");
    EXPECT_EQ(std::string(image.cameraName.GetText()), "CAM1");
    EXPECT_EQ(image.qualitySet, v >= 1);
    EXPECT_TRUE(image.transformAccepted);
    EXPECT_EQ(image.Z, 30.0);
    EXPECT_EQ(image.aprioriSigma[5], 0.1 * 6);
    EXPECT_EQ(image.corrections[5], 0.01 * 6);
    if (v >= 4)
        EXPECT_EQ(image.rotation.GetAt(0, 0), 0.5);
    else
        EXPECT_EQ(image.rotation.GetAt(1, 2), 1.0);
    ASSERT_EQ(image.targets.GetSize(), 2);
    EXPECT_EQ(image.transformation.GetSize(), 4);
    const CImageObservation& p1 = *image.targets.GetAt(0);
    EXPECT_EQ(std::string(p1.label.GetText()), "P1");
    EXPECT_EQ(p1.vy, -0.002);
    EXPECT_EQ(p1.sigmaY, 0.0006);
    EXPECT_TRUE(p1.disabled);
    EXPECT_FALSE(p1.marked);
    EXPECT_EQ(p1.GetEllipse() != nullptr, v >= 8);
    if (v >= 8) {
        EXPECT_EQ(p1.GetEllipse()->major, 3.0);
        EXPECT_EQ(p1.GetEllipse()->conic.GetSize(), 7);
    }

    // Point sets: re-homed to the project folder with their files written.
    if (v >= 2) {
        ASSERT_EQ(doc->pointSets.GetSize(), 2);
        const CPointSet& control = *doc->pointSets.GetAt(0);
        EXPECT_EQ(std::string(control.name.GetText()), InFolder("Control.xyz"));
        EXPECT_TRUE(control.isControl);
        ASSERT_EQ(control.GetSize(), 2);
        EXPECT_EQ(std::string(control.GetAt(1)->label.GetText()), "P10");
        EXPECT_TRUE(fs::exists(folder / "Control.xyz"));
        const CPointSet& trans = *doc->pointSets.GetAt(1);
        EXPECT_TRUE(trans.isDiscrepancySet);
        EXPECT_TRUE(trans.isDriver);
        EXPECT_TRUE(fs::exists(folder / "Trans.xyz"));
        EXPECT_TRUE(result.changedByLoad);
    } else {
        // The oldest format: the file found where it was said to be, the one
        // found in the project folder, a warning for the lost one.
        ASSERT_EQ(doc->pointSets.GetSize(), 1);
        EXPECT_TRUE(doc->pointSets.GetAt(0)->isDriver);
        EXPECT_EQ(doc->pointSets.GetAt(0)->GetSize(), 1);
        EXPECT_EQ(std::string(doc->eoDevice.name.GetText()), InFolder("Moved.xyz"));
        EXPECT_EQ(doc->eoDevice.GetSize(), 2); // the set flagged as EO device became the device
        auto messages = TakeCapturedMessages();
        bool warned = false;
        for (const auto& m : messages)
            warned = warned || m.text == "Warning: " + InFolder("Lost.xyz") + " not in Project Directory";
        EXPECT_TRUE(warned);
    }

    // The EO device: its own record from version 7, before that the first
    // set flagged as one; its unit is the project's.
    if (v >= 7) {
        EXPECT_EQ(std::string(doc->eoDevice.name.GetText()), "//server/devices/CROSS.eod");
        EXPECT_EQ(doc->eoDevice.idShape, 3);
        EXPECT_EQ(doc->eoDevice.maxResectionRms, 2.5);
    } else if (v >= 2) {
        EXPECT_EQ(std::string(doc->eoDevice.GetName().GetText()), "FRAME");
        EXPECT_EQ(doc->eoDevice.idShape, 1);
    }
    EXPECT_EQ(std::string(doc->eoDevice.unit.GetText()), "m");
}

INSTANTIATE_TEST_SUITE_P(Versions, OldVersionTest, ::testing::Range(0, 13));

// ---------------------------------------------------------------------------
// Files that are refused

TEST_F(ProjectFileTest, EveryTruncationIsRefusedAndLeavesTheDocumentAlone)
{
    const std::string bytes = pfbytes::SampleFile(13);
    auto before = std::make_unique<CProjectDocument>();
    FillProject(*before);
    const std::string untouched = Stored(*before);
    const std::string path = ProjectPath();
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
        auto doc = std::make_unique<CProjectDocument>();
        ASSERT_FALSE(Parse(bytes.substr(0, cut), *doc)) << cut;
        if (cut % 97 == 0 || cut + 1 == bytes.size()) {
            WriteBytes(path, bytes.substr(0, cut));
            CProjectFileResult result = ReadWriteProjectFile(*before, path.c_str(), PROJECT_FILE_LOAD);
            EXPECT_FALSE(result.ok) << cut;
            EXPECT_FALSE(result.message.IsEmpty());
            EXPECT_EQ(Stored(*before), untouched) << cut;
        }
    }
    auto doc = std::make_unique<CProjectDocument>();
    EXPECT_TRUE(Parse(bytes, *doc));
    // Bytes after the last item mean the file was not read as written.
    auto longer = std::make_unique<CProjectDocument>();
    EXPECT_FALSE(Parse(bytes + std::string(4, '\0'), *longer));
}

TEST_F(ProjectFileTest, UnknownVersionsAreRefused)
{
    for (int version : {14, 1000, -1}) {
        std::string bytes = pfbytes::SampleFile(13);
        pfbytes::Bytes word;
        word.Int(version);
        bytes.replace(22, 4, word.Str());
        auto doc = std::make_unique<CProjectDocument>();
        CDynString message;
        int read = 0;
        EXPECT_FALSE(Parse(bytes, *doc, &message, &read)) << version;
        EXPECT_EQ(read, version);
        EXPECT_NE(std::string(message.GetText()).find("version"), std::string::npos) << message.GetText();
    }
    // A header followed by version 0 is no file any version wrote.
    std::string zero = pfbytes::SampleFile(13);
    zero.replace(22, 4, std::string(4, '\0'));
    auto doc = std::make_unique<CProjectDocument>();
    EXPECT_FALSE(Parse(zero, *doc));
}

TEST_F(ProjectFileTest, LyingCountsAndImpossibleValuesAreRefused)
{
    using pfbytes::Bytes;
    // Offsets found from the field tables: the cameras' count follows the
    // centroid block in a version-0 file, which begins with it.
    const std::string v0 = pfbytes::SampleFile(0);
    auto refuse = [](const std::string& bytes, const char* what) {
        auto doc = std::make_unique<CProjectDocument>();
        EXPECT_FALSE(Parse(bytes, *doc)) << what;
    };
    {
        std::string bytes = v0;
        bytes.replace(30, 4, Bytes().Int(1 << 30).Str());
        refuse(bytes, "camera count");
    }
    {
        std::string bytes = v0;
        bytes.replace(30, 4, Bytes().Int(-5).Str());
        refuse(bytes, "negative camera count");
    }
    {
        // The last four bytes before the (empty) legacy list are the
        // driveback threshold; the legacy count is the last int.
        std::string bytes = v0;
        bytes.replace(bytes.size() - 4, 4, Bytes().Int(100000).Str());
        refuse(bytes, "legacy set count");
    }
    {
        // The unit index ends 3 + 4 + 4 + 8 bytes before the end of a
        // version-2 file (fillers, area range, threshold).
        std::string bytes = pfbytes::SampleFile(2);
        bytes.replace(bytes.size() - 23, 4, Bytes().Int(9).Str());
        refuse(bytes, "unit index");
    }
    {
        // A point-set list count far beyond the file in a version-12 file.
        std::string bytes = pfbytes::SampleFile(12);
        const std::size_t setList = bytes.find(pfbytes::Bytes().Int(10).Int(2).Int(12).Str());
        ASSERT_NE(setList, std::string::npos);
        bytes.replace(setList + 4, 4, Bytes().Int(0x7FFFFFFF).Str());
        refuse(bytes, "point set count");
    }
    {
        // An image covariance claiming a billion rows of no columns.
        std::string bytes = pfbytes::SampleFile(13);
        const std::string shape = Bytes().Int(10).Int(1).Int(10).Int(6).Int(-1).Str();
        const std::size_t image = bytes.find(shape);
        ASSERT_NE(image, std::string::npos);
        bytes.replace(image + 12, 8, Bytes().Int(1 << 30).Int(0).Str());
        refuse(bytes, "matrix rows");
    }
}

TEST_F(ProjectFileTest, RefusedLoadKeepsTheDocumentAndTheGoodFile)
{
    auto doc = std::make_unique<CProjectDocument>();
    FillProject(*doc);
    const std::string path = ProjectPath();
    ASSERT_TRUE(ReadWriteProjectFile(*doc, path.c_str(), PROJECT_FILE_SAVE).ok);
    const std::string good = ReadBytes(path);
    const CCentroidSettings centroid = GetCentroidSettings();

    const std::string damaged = ProjectPath("damaged.kst");
    WriteBytes(damaged, good.substr(0, good.size() / 2));
    const std::string before = Stored(*doc);
    CProjectFileResult result = OpenProjectDocument(*doc, damaged.c_str());
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(Stored(*doc), before);
    EXPECT_EQ(GetCentroidSettings(), centroid);
    auto shown = TakeCapturedMessages();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].type & MB_ICONMASK, static_cast<unsigned>(MB_ICONSTOP));
    EXPECT_NE(shown[0].text.find("damaged.kst"), std::string::npos);

    // A later save of the untouched document still writes the good file.
    ASSERT_TRUE(ReadWriteProjectFile(*doc, path.c_str(), PROJECT_FILE_SAVE).ok);
    EXPECT_EQ(ReadBytes(path), good);
}

// ---------------------------------------------------------------------------
// Saving safely

TEST_F(ProjectFileTest, FailedSavesLeaveTheOldFileAndReportFailure)
{
    auto doc = std::make_unique<CProjectDocument>();
    FillProject(*doc);
    const std::string path = ProjectPath();
    ASSERT_TRUE(ReadWriteProjectFile(*doc, path.c_str(), PROJECT_FILE_SAVE).ok);
    const std::string old = ReadBytes(path);
    doc->scanMethod = 2;

    // A full disk: the writes stop after 100 bytes.
    std::size_t written = 0;
    SetProjectFileWriteFunction([&written](int fd, const void* data, std::size_t size) -> ssize_t {
        if (written >= 100) {
            errno = ENOSPC;
            return -1;
        }
        std::size_t now = std::min<std::size_t>(size, 100 - written);
        ssize_t done = ::write(fd, data, now);
        if (done > 0)
            written += static_cast<std::size_t>(done);
        return done;
    });
    doc->SetModifiedFlag(true);
    CProjectFileResult full = doc->OnSaveDocument(path.c_str());
    SetProjectFileWriteFunction(nullptr);
    EXPECT_FALSE(full.ok);
    EXPECT_NE(std::string(full.message.GetText()).find(std::strerror(ENOSPC)), std::string::npos);
    EXPECT_EQ(ReadBytes(path), old);
    EXPECT_TRUE(doc->IsModified());
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(folder))
        left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"survey.kst"}); // no temporary file stays
    EXPECT_EQ(TakeCapturedMessages().size(), 1u);

    // The folder is a regular file, or missing.
    const std::string underFile = path + "/inside.kst";
    CProjectFileResult notFolder = ReadWriteProjectFile(*doc, underFile.c_str(), PROJECT_FILE_SAVE);
    EXPECT_FALSE(notFolder.ok);
    EXPECT_FALSE(notFolder.message.IsEmpty());
    const std::string missing = (root / "nowhere" / "survey.kst").string();
    EXPECT_FALSE(ReadWriteProjectFile(*doc, missing.c_str(), PROJECT_FILE_SAVE).ok);
    EXPECT_FALSE(fs::exists(root / "nowhere"));
    EXPECT_EQ(ReadBytes(path), old);

    // A save that succeeds replaces the file and keeps its permissions.
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    CProjectFileResult good = SaveProjectDocument(*doc, path.c_str());
    ASSERT_TRUE(good.ok) << good.message.GetText();
    EXPECT_FALSE(doc->IsModified());
    EXPECT_NE(ReadBytes(path), old);
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(std::string(doc->settings.projectPath.GetText()), path);
}

// ---------------------------------------------------------------------------
// What a load changes

TEST_F(ProjectFileTest, LoadReportsTheDataItChanged)
{
    auto doc = std::make_unique<CProjectDocument>();
    FillProject(*doc);
    const std::string path = ProjectPath();
    ASSERT_TRUE(ReadWriteProjectFile(*doc, path.c_str(), PROJECT_FILE_SAVE).ok);

    // The same file moved to another folder: its sets follow it.
    fs::create_directories(root / "moved");
    const std::string moved = (root / "moved" / "survey.kst").string();
    fs::copy_file(path, moved);
    auto loaded = std::make_unique<CProjectDocument>();
    CProjectFileResult result = ReadWriteProjectFile(*loaded, moved.c_str(), PROJECT_FILE_LOAD);
    ASSERT_TRUE(result.ok);
    EXPECT_TRUE(result.changedByLoad);
    EXPECT_EQ(std::string(loaded->pointSets.GetAt(2)->name.GetText()), (root / "moved" / "Trans.xyz").string());
    EXPECT_TRUE(fs::exists(root / "moved" / "Trans.xyz"));

    // An EO device unit that is not the project's is reset.
    doc->eoDevice.unit = "in";
    ASSERT_TRUE(ReadWriteProjectFile(*doc, path.c_str(), PROJECT_FILE_SAVE).ok);
    auto again = std::make_unique<CProjectDocument>();
    result = ReadWriteProjectFile(*again, path.c_str(), PROJECT_FILE_LOAD);
    ASSERT_TRUE(result.ok);
    EXPECT_TRUE(result.changedByLoad);
    EXPECT_EQ(std::string(again->eoDevice.unit.GetText()), "cm");

    // Opening sets the project path and marks the project clean when nothing changed.
    doc->eoDevice.unit = "cm";
    ASSERT_TRUE(ReadWriteProjectFile(*doc, path.c_str(), PROJECT_FILE_SAVE).ok);
    auto opened = std::make_unique<CProjectDocument>();
    result = opened->OnOpenDocument(path.c_str());
    ASSERT_TRUE(result.ok);
    EXPECT_FALSE(result.changedByLoad);
    EXPECT_EQ(std::string(opened->settings.projectPath.GetText()), path);
}

// Opening moves every set into the project's folder, but never over a file
// that is not the set's own or that holds other points: those sets get free
// names and the project is marked changed.
TEST_F(ProjectFileTest, OpeningNeverWritesOverFilesThatAreNotTheSetsOwn)
{
    const fs::path old = root / "elsewhere";
    fs::create_directories(old);
    auto doc = std::make_unique<CProjectDocument>();
    CProjectImage* image = doc->images.AddNew();
    image->name = "Image001";
    image->filePath = InFolder("Image001.tif").c_str();
    doc->eoDevice.name = InFolder("CROSS.eod").c_str();
    doc->eoDevice.AddPointSorted(CObjectPoint("E1", 0.0, 0.0, 0.0));
    struct Case {
        std::string name;     // the set's stored name
        std::string expected; // its name after the open
    } const cases[] = {
        {InFolder("Victim.kst"), InFolder("Victim.xyz")},              // the project itself
        {InFolder("Victim.kst.ini"), InFolder("Victim.kst.xyz")},      // its settings file
        {InFolder("Image001.tif"), InFolder("Image001.xyz")},          // an image of the project
        {(old / "Other.kst").string(), InFolder("Other.xyz")},         // another project
        {(old / "CROSS.eod").string(), InFolder("CROSS.xyz")},         // the EO device's file
        {(old / "Pts.xyz").string(), InFolder("Pts1.xyz")},            // the next set's file
        {InFolder("Pts.xyz"), InFolder("Pts2.xyz")},                   // its own file, other points
        {(old / "Moved.xyz").string(), InFolder("Moved1.xyz")},        // a coordinate file of other points
        {InFolder("Pipe.xyz"), InFolder("Pipe1.xyz")},                 // a pipe is no file
        {InFolder("New.xyz"), InFolder("New.xyz")},                    // nothing there yet
    };
    double x = 1.0;
    for (const Case& test : cases) {
        CPointSet* set = doc->pointSets.AddNew();
        set->name = test.name.c_str();
        set->AddPointSorted(CObjectPoint("P1", x, 2.0, 3.0));
        set->AddPointSorted(CObjectPoint("P2", 4.0, 5.0, x));
        x += 1.0;
    }
    const std::string path = InFolder("Victim.kst");
    ASSERT_TRUE(SaveProjectDocument(*doc, path.c_str()).ok);
    ASSERT_TRUE(fs::exists(path + ".ini"));
    auto other = std::make_unique<CProjectDocument>();
    ASSERT_TRUE(ReadWriteProjectFile(*other, InFolder("Other.kst").c_str(), PROJECT_FILE_SAVE).ok);
    WriteBytes(InFolder("Image001.tif"), std::string("II*\0\x08\0\0\0", 8) + " 1 2 3\r\n");
    WriteBytes(InFolder("CROSS.eod"), "E1 0 0 0\r\nE2 100 0 0\r\n");
    WriteBytes(InFolder("Pts.xyz"), "OLD 9 9 9\r\n");
    WriteBytes(InFolder("Moved.xyz"), "P1 0 0 0\r\n");
    ASSERT_EQ(::mkfifo(InFolder("Pipe.xyz").c_str(), 0600), 0);
    const std::vector<std::string> keep = {path, path + ".ini", InFolder("Image001.tif"), InFolder("Other.kst"),
                                           InFolder("CROSS.eod"), InFolder("Pts.xyz"), InFolder("Moved.xyz")};
    std::vector<std::string> before;
    for (const std::string& file : keep)
        before.push_back(ReadBytes(file));

    TakeCapturedMessages();
    auto loaded = std::make_unique<CProjectDocument>();
    const CProjectFileResult result = OpenProjectDocument(*loaded, path.c_str());
    ASSERT_TRUE(result.ok) << result.message.GetText();
    EXPECT_TRUE(result.changedByLoad);
    // The user is told of the two coordinate files kept for their points.
    const auto messages = TakeCapturedMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].text.find("\nPts.xyz: the set's file is now Pts2.xyz"), std::string::npos);
    EXPECT_NE(messages[0].text.find("\nMoved.xyz: the set's file is now Moved1.xyz"), std::string::npos);
    EXPECT_EQ(messages[0].text.find("Victim"), std::string::npos);
    for (std::size_t i = 0; i < keep.size(); ++i)
        EXPECT_EQ(ReadBytes(keep[i]), before[i]) << keep[i];
    EXPECT_TRUE(fs::is_fifo(InFolder("Pipe.xyz")));

    ASSERT_EQ(loaded->pointSets.GetSize(), static_cast<int>(std::size(cases)));
    for (int i = 0; i < loaded->pointSets.GetSize(); ++i) {
        const CPointSet* set = loaded->pointSets.GetAt(i);
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(std::string(set->name.GetText()), cases[i].expected);
        CPointSet back;
        ASSERT_TRUE(back.Load(set->name.GetText()));
        ASSERT_EQ(back.GetSize(), 2);
        EXPECT_EQ(back.GetAt(0)->x, set->GetAt(0)->x);
        EXPECT_EQ(back.GetAt(1)->z, set->GetAt(1)->z);
    }
    // The project opens again as it was saved: nothing in it was damaged.
    auto again = std::make_unique<CProjectDocument>();
    EXPECT_TRUE(ReadWriteProjectFile(*again, path.c_str(), PROJECT_FILE_LOAD).ok);
    EXPECT_EQ(again->pointSets.GetSize(), static_cast<int>(std::size(cases)));
}

// The file in the project's folder under a set's name is the user's as much
// as the set's: opening leaves it as it is when it already holds the set's
// points, and keeps it when it says more or other than the set, which then
// takes a free name and the user is told. Only a missing or empty file is
// written.
TEST_F(ProjectFileTest, OpeningLeavesTheUsersCoordinateFileAsItIs)
{
    enum Outcome { Untouched, Kept, Written };
    struct Case {
        const char* what;
        bool fromElsewhere; // the set is stored with a path in another folder
        bool missing;       // no Control.xyz in the project's folder
        std::string text;   // Control.xyz; "W" stands for the writer's bytes of the set
        Outcome outcome;
    } const cases[] = {
        {"the writer's bytes", false, false, "W", Untouched},
        {"other spacing, equal values", false, false,
         "\tA1  1.5 -2.25 1000.125 .5 0.25 0.125\n\nB2 4 5 6.00000000000001\n", Untouched},
        {"a comment line", false, false, "# surveyed on site\r\nW", Kept},
        {"an extra point", false, false, "W" "P1 1 2 3\r\n", Kept},
        {"a changed coordinate", false, false, "A1 1.5 -2.25 1000.126 0.5 0.25 0.125\r\nB2 4 5 6\r\n", Kept},
        {"text after the numbers", false, false, "A1 1.5 -2.25 1000.125 0.5 0.25 0.125 ok\r\nB2 4 5 6\r\n", Kept},
        {"a refused line", false, false, "W" "LABEL_OF_17_CHARS 1 2 3\r\n", Kept},
        {"an empty file", false, false, "", Written},
        {"a missing file", false, true, "", Written},
        {"from elsewhere, the writer's bytes here", true, false, "W", Untouched},
        {"from elsewhere, other points here", true, false, "P1 1 2 3\r\n", Kept},
    };
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path here = root / ("case" + std::to_string(++number));
        const fs::path elsewhere = root / ("elsewhere" + std::to_string(number));
        fs::create_directories(here);
        fs::create_directories(elsewhere);
        const std::string file = (here / "Control.xyz").string();
        auto doc = std::make_unique<CProjectDocument>();
        doc->eoDevice.SetUnit(doc->GetUnitName(false).GetText()); // nothing else for the load to change
        CPointSet* set = doc->pointSets.AddNew();
        set->isControl = true;
        set->name = (c.fromElsewhere ? elsewhere / "Control.xyz" : here / "Control.xyz").string().c_str();
        CObjectPoint a("A1", 1.5, -2.25, 1000.125);
        a.aprioriSigma[0] = 0.5;
        a.aprioriSigma[1] = 0.25;
        a.aprioriSigma[2] = 0.125;
        set->AddPointSorted(a);
        set->AddPointSorted(CObjectPoint("B2", 4.0, 5.0, 6.0));
        const std::string project = (here / "Survey.kst").string();
        ASSERT_TRUE(ReadWriteProjectFile(*doc, project.c_str(), PROJECT_FILE_SAVE).ok);
        if (!c.missing) {
            std::string text = c.text;
            const std::size_t w = text.find('W');
            if (w != std::string::npos) {
                ASSERT_TRUE(set->WriteXyzFile(file.c_str(), 12, 13, 7));
                text.replace(w, 1, ReadBytes(file));
            }
            WriteBytes(file, text);
            fs::last_write_time(file, old);
        }
        const std::string before = ReadBytes(file);

        TakeCapturedMessages();
        auto loaded = std::make_unique<CProjectDocument>();
        const CProjectFileResult result = ReadWriteProjectFile(*loaded, project.c_str(), PROJECT_FILE_LOAD);
        ASSERT_TRUE(result.ok) << result.message.GetText();
        ASSERT_EQ(loaded->pointSets.GetSize(), 1);
        const std::string name = loaded->pointSets.GetAt(0)->name.GetText();
        const auto messages = TakeCapturedMessages();
        const std::string numbered = (here / "Control1.xyz").string();
        EXPECT_EQ(name, c.outcome == Kept ? numbered : file);
        EXPECT_EQ(result.changedByLoad, c.outcome == Kept || c.fromElsewhere);
        if (c.outcome == Written) {
            EXPECT_TRUE(messages.empty());
            EXPECT_NE(ReadBytes(file), before);
        } else {
            EXPECT_EQ(ReadBytes(file), before);
            EXPECT_EQ(fs::last_write_time(file), old);
        }
        if (c.outcome == Kept) {
            ASSERT_EQ(messages.size(), 1u);
            EXPECT_NE(messages[0].text.find("\nControl.xyz: the set's file is now Control1.xyz"), std::string::npos)
                << messages[0].text;
        } else {
            EXPECT_TRUE(messages.empty());
            EXPECT_FALSE(fs::exists(numbered));
        }
        // The set's file holds its points.
        CPointSet back;
        back.isControl = true;
        ASSERT_TRUE(back.Load(name.c_str()));
        ASSERT_EQ(back.GetSize(), 2);
        EXPECT_STREQ(back.GetAt(0)->label.GetText(), "A1");
        EXPECT_EQ(back.GetAt(0)->z, 1000.125);
        EXPECT_EQ(back.GetAt(0)->aprioriSigma[2], 0.125);
        EXPECT_NEAR(back.GetAt(1)->z, 6.0, 1e-12);
    }
}

TEST_F(ProjectFileTest, ScaleBarsFollowTheDatabaseAndOpenSharesCalibrationModes)
{
    auto doc = std::make_unique<CProjectDocument>();
    FillProject(*doc);
    CScaleBar* extra = doc->scaleBars.AddNew();
    extra->name = "BAR2";
    extra->calibratedLength = 500.0;
    const std::string path = ProjectPath();
    ASSERT_TRUE(ReadWriteProjectFile(*doc, path.c_str(), PROJECT_FILE_SAVE).ok);

    // The database's BAR1 was recalibrated; BAR2 is unknown there and the
    // user adds it.
    databases->scaleBarDatabase.GetAt(0)->calibratedLength = 999.5;
    std::vector<std::string> asked;
    SetMessageBoxHandler([&asked](const char* text, const char*, unsigned) {
        asked.push_back(text);
        return IDYES;
    });
    CCamera* record = databases->cameraDatabase.AddNew();
    record->identifier = "CAM1";
    record->calibrationMode = 0;

    auto loaded = std::make_unique<CProjectDocument>();
    CProjectFileResult result = OpenProjectDocument(*loaded, path.c_str());
    ASSERT_TRUE(result.ok) << result.message.GetText();
    EXPECT_TRUE(result.changedByLoad);
    ASSERT_EQ(loaded->scaleBars.GetSize(), 2);
    EXPECT_EQ(loaded->scaleBars.GetAt(0)->calibratedLength, 999.5);
    EXPECT_EQ(loaded->scaleBars.GetAt(0)->standardDeviation, 0.02);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], "Scale Bar BAR2 Is Not In Database!\nWould You Like To Add It?");
    ASSERT_EQ(databases->scaleBarDatabase.GetSize(), 2);
    EXPECT_TRUE(databases->scaleBarDatabase.GetAt(1)->modified);
    EXPECT_EQ(record->calibrationMode, 2);
}

} // namespace
