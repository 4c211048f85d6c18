#include "SampleProject.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <system_error>

#include "BinArchive.h"
#include "Intersection.h"
#include "ProfileDatabases.h"
#include "ProjectDocument.h"
#include "ProjectFile.h"
#include "ProjectImage.h"
#include "ScaleBar.h"
#include "TextFile.h"

namespace {

constexpr double kDegree = M_PI / 180.0;

// Target grid on each wall: cells of 300 mm from 250 mm on, moved by up to
// 40 mm; 34 targets on the first wall, 33 on the others.
constexpr int kGridCells = 6;
constexpr double kGridStart = 250.0;
constexpr double kGridSpacing = 300.0;
constexpr double kGridJitter = 40.0;
constexpr int kTargetsPerWall[3] = {34, 33, 33};

// Stations: aimed at points near (700, 700, 500), 3 to 3.6 m away, spread
// over 25 to 65 degrees around the corner at two heights.
constexpr double kAim[3] = {650.0, 650.0, 650.0};
constexpr double kAimJitter = 100.0;

// Start values of the poses: this far off the truth at most.
constexpr double kStationOffset = 15.0;            // mm
constexpr double kAngleOffset = 0.3 * kDegree;


// Point in the wall's plane coordinates (u, v) to object coordinates; the
// walls are X = 0, Y = 0 and the floor Z = 0, meeting at the origin.
void WallPoint(int wall, double u, double v, double P[3])
{
    switch (wall) {
    case 0: P[0] = 0.0; P[1] = u; P[2] = v; break;
    case 1: P[0] = u; P[1] = 0.0; P[2] = v; break;
    default: P[0] = u; P[1] = v; P[2] = 0.0; break;
    }
}

// Azimuth and elevation of a camera at `from` looking at `to`: its viewing
// direction (the negative z axis) in object space is
// (-cos e sin a, cos e cos a, sin e).
void LookAt(const double from[3], const double to[3], double& azimuth, double& elevation)
{
    double d[3] = {to[0] - from[0], to[1] - from[1], to[2] - from[2]};
    const double n = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    elevation = std::asin(d[2] / n);
    azimuth = std::atan2(-d[0] / n, d[1] / n);
}

std::string Label(int i)
{
    char text[16];
    std::snprintf(text, sizeof text, "T%d", i);
    return text;
}

// The target of the wall nearest to (u, v) in the wall's coordinates that is
// not listed in `skip`.
std::string Nearest(const CSampleTruth& truth, const std::vector<int>& wallOf, int wall, double u, double v,
                    const std::vector<std::string>& skip)
{
    std::string best;
    double bestDistance = 0.0;
    for (int i = 0; i < truth.targets.GetSize(); ++i) {
        if (wallOf[static_cast<size_t>(i)] != wall)
            continue;
        const CObjectPoint* p = truth.targets.GetAt(i);
        const std::string label = p->label.GetText();
        bool skipped = false;
        for (const std::string& s : skip)
            skipped = skipped || s == label;
        if (skipped)
            continue;
        const double pu = wall == 0 ? p->y : p->x;
        const double pv = wall == 2 ? p->y : p->z;
        const double d = (pu - u) * (pu - u) + (pv - v) * (pv - v);
        if (best.empty() || d < bestDistance) {
            best = label;
            bestDistance = d;
        }
    }
    return best;
}

std::string InFolder(const std::string& folder, const char* name)
{
    return folder + "/" + name;
}

// A bar as its stored bytes.
std::string StoredBytes(const CScaleBar& bar)
{
    CScaleBar copy(bar);
    std::stringbuf buffer(std::ios::out | std::ios::binary);
    CBinArchive ar(&buffer, std::ios::out);
    copy.Serialize(ar);
    return buffer.str();
}

// The process-wide centroid settings replaced for the life of the object.
class CCentroidSettingsScope {
public:
    explicit CCentroidSettingsScope(const CCentroidSettings& settings) : saved(GetCentroidSettings())
    {
        GetCentroidSettings() = settings;
    }
    ~CCentroidSettingsScope() { GetCentroidSettings() = saved; }
    CCentroidSettingsScope(const CCentroidSettingsScope&) = delete;
    CCentroidSettingsScope& operator=(const CCentroidSettingsScope&) = delete;

private:
    const CCentroidSettings saved;
};

} // namespace

uint64_t CSampleRandom::Next()
{
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double CSampleRandom::Uniform()
{
    return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0);
}

double CSampleRandom::Normal()
{
    double sum = 0.0;
    for (int i = 0; i < 12; ++i)
        sum += Uniform();
    return sum - 6.0;
}

void BuildSampleTruth(CSampleTruth& truth)
{
    CSampleRandom random(CSampleTruth::kSeed);

    CCamera& camera = truth.camera;
    camera.Reset();
    camera.identifier = "SampleCam";
    camera.cameraType = "Sample camera";
    camera.lensType = "20 mm";
    camera.XPixels = 4000;
    camera.YPixels = 3000;
    camera.XPixelSize = 0.005;
    camera.YPixelSize = 0.005;
    camera.parameters[CAM_C] = 20.0;
    camera.parameters[CAM_XP] = 0.012;
    camera.parameters[CAM_YP] = -0.008;
    camera.parameters[CAM_K1] = -1.5e-4;
    camera.parameters[CAM_K2] = 2.0e-7;
    camera.SetCalibrationMode(1);

    truth.targets.RemoveAll();
    std::vector<int> wallOf;
    int number = 0;
    for (int wall = 0; wall < 3; ++wall) {
        const double normal[3] = {wall == 0 ? 1.0 : 0.0, wall == 1 ? 1.0 : 0.0, wall == 2 ? 1.0 : 0.0};
        for (int cell = 0; cell < kTargetsPerWall[wall]; ++cell) {
            const double u = kGridStart + kGridSpacing * (cell % kGridCells) + kGridJitter * random.Symmetric();
            const double v = kGridStart + kGridSpacing * (cell / kGridCells) + kGridJitter * random.Symmetric();
            double P[3];
            WallPoint(wall, u, v, P);
            CObjectPoint point(Label(++number).c_str(), P[0], P[1], P[2]);
            point.SetNormal(normal[0], normal[1], normal[2]);
            truth.targets.AddCopy(point);
            wallOf.push_back(wall);
        }
    }

    // Four control targets near the corners of each wall, and a bar across
    // the floor between two other targets.
    truth.controlLabels.clear();
    for (int wall = 0; wall < 3; ++wall)
        for (double u : {400.0, 1600.0})
            for (double v : {400.0, 1600.0})
                truth.controlLabels.push_back(Nearest(truth, wallOf, wall, u, v, truth.controlLabels));
    truth.barEnd1 = Nearest(truth, wallOf, 2, 300.0, 1000.0, truth.controlLabels);
    truth.barEnd2 = Nearest(truth, wallOf, 2, 1700.0, 1000.0, truth.controlLabels);
    const CObjectPoint* a = truth.targets.FindPointByText(truth.barEnd1.c_str());
    const CObjectPoint* b = truth.targets.FindPointByText(truth.barEnd2.c_str());
    truth.barLength = std::sqrt((a->x - b->x) * (a->x - b->x) + (a->y - b->y) * (a->y - b->y) +
                                (a->z - b->z) * (a->z - b->z));

    // Ten stations around the corner; rolls 0, 90 and 270 degrees in turn.
    const double rolls[3] = {0.0, 90.0 * kDegree, 270.0 * kDegree};
    truth.poses.clear();
    for (int j = 0; j < CSampleTruth::kImageCount; ++j) {
        const double aim[3] = {kAim[0] + kAimJitter * random.Symmetric(), kAim[1] + kAimJitter * random.Symmetric(),
                               kAim[2] + kAimJitter * random.Symmetric()};
        const double around = (20.0 + 50.0 * j / (CSampleTruth::kImageCount - 1)) * kDegree;
        const double up = (j % 2 == 0 ? 15.0 : 35.0) * kDegree;
        const double distance = 3300.0 + 300.0 * (j % 3);
        CSamplePose pose;
        pose.X = aim[0] + distance * std::cos(up) * std::cos(around);
        pose.Y = aim[1] + distance * std::cos(up) * std::sin(around);
        pose.Z = aim[2] + distance * std::sin(up);
        const double from[3] = {pose.X, pose.Y, pose.Z};
        LookAt(from, aim, pose.azimuth, pose.elevation);
        pose.roll = rolls[j % 3];
        truth.poses.push_back(pose);
    }
}

bool SampleTargetInImage(const CSampleTruth& truth, int image, const CObjectPoint& target, double frameFraction,
                         CImageObservation& at, double margin)
{
    const CSamplePose& pose = truth.poses[static_cast<size_t>(image)];
    const double d[3] = {pose.X - target.x, pose.Y - target.y, pose.Z - target.z};
    const double n = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    const double cosine = (d[0] * target.normal[0] + d[1] * target.normal[1] + d[2] * target.normal[2]) / n;
    if (!(cosine > std::cos(kSampleMaxViewingAngle) + margin))
        return false;
    CProjectImage seen;
    seen.SetPose(pose.X, pose.Y, pose.Z, pose.azimuth, pose.elevation, pose.roll);
    return ProjectPointToImage(target, seen, truth.camera, at, frameFraction);
}

CScaleBar SampleScaleBar(const CSampleTruth& truth)
{
    CScaleBar bar;
    bar.version = 1;
    bar.name = SampleFiles::kScaleBar;
    bar.units = "mm";
    bar.endLabel1 = truth.barEnd1.c_str();
    bar.endLabel2 = truth.barEnd2.c_str();
    bar.calibratedLength = std::round(truth.barLength * 1000.0) / 1000.0;
    bar.standardDeviation = CSampleTruth::kControlSigma;
    return bar;
}

CCentroidSettings SampleCentroidSettings()
{
    CCentroidSettings settings;
    settings.invert = 0;
    return settings;
}

bool BuildSampleProject(CProjectDocument& doc, const std::string& folder, std::string& message, double imageNoise)
{
    CSampleTruth truth;
    BuildSampleTruth(truth);
    // Noise and start values draw from their own sequence, so that the truth
    // does not depend on them.
    CSampleRandom random(CSampleTruth::kSeed + 1);

    doc.unitIndex = 0;
    doc.settings.freeNetwork = false;
    doc.settings.SetUnitLabel(doc.GetUnitName(false));
    // As a new project has it, so that a load finds nothing to change.
    doc.eoDevice.SetUnit(doc.GetUnitName(false).GetText());
    CCamera* camera = doc.cameras.AddCopy(truth.camera);

    // The control set, which also drives the project.
    CPointSet* control = doc.pointSets.AddNew();
    control->name = InFolder(folder, SampleFiles::kControl).c_str();
    control->isControl = true;
    control->isDriver = true;
    for (const std::string& label : truth.controlLabels) {
        CObjectPoint point(*truth.targets.FindPointByText(label.c_str()));
        point.normal[0] = point.normal[1] = point.normal[2] = 0.0;
        point.SetSigmas(CSampleTruth::kControlSigma, CSampleTruth::kControlSigma, CSampleTruth::kControlSigma);
        control->AddPointSorted(point);
    }
    if (!control->WriteXyzFile(control->name.GetText(), 12, 13, 7)) {
        message = "Cannot write " + std::string(control->name.GetText());
        return false;
    }

    doc.scaleBars.AddCopy(SampleScaleBar(truth));

    for (int j = 0; j < CSampleTruth::kImageCount; ++j) {
        const CSamplePose& pose = truth.poses[static_cast<size_t>(j)];
        char name[16];
        std::snprintf(name, sizeof name, "Image%03d", j + 1);
        CProjectImage* image = doc.AddNewImage(name);
        image->SetFilePath(InFolder(folder, (std::string(name) + ".tif").c_str()).c_str());
        image->SetCameraName(camera->identifier.GetText());

        // Observations of the true pose, with noise, go through the image's
        // coordinate file, as an import would bring them in.
        image->SetPose(pose.X, pose.Y, pose.Z, pose.azimuth, pose.elevation, pose.roll);
        for (int i = 0; i < truth.targets.GetSize(); ++i) {
            const CObjectPoint& point = *truth.targets.GetAt(i);
            CImageObservation o;
            if (!SampleTargetInImage(truth, j, point, CSampleTruth::kFrameFraction, o))
                continue;
            o.label = point.label;
            // Drawn even without noise, so the start values stay the same.
            o.x += imageNoise * random.Normal();
            o.y += imageNoise * random.Normal();
            image->targets.AddCopy(o);
        }
        image->targets.SortByLabel();
        const std::string icf = InFolder(folder, (std::string(name) + ".icf").c_str());
        {
            CTextFile file(icf.c_str(), std::ios::out);
            if (file)
                image->WriteObservations(file, image->transformation);
            file.flush();
            if (!file) {
                message = "Cannot write " + icf;
                return false;
            }
        }
        if (!image->ReadIcfFile(CFilePath(icf.c_str()), doc.settings.defaultImageSigma)) {
            message = "Cannot read " + icf;
            return false;
        }

        image->SetPose(pose.X + kStationOffset * random.Symmetric(), pose.Y + kStationOffset * random.Symmetric(),
                       pose.Z + kStationOffset * random.Symmetric(), pose.azimuth + kAngleOffset * random.Symmetric(),
                       pose.elevation + kAngleOffset * random.Symmetric(), pose.roll + kAngleOffset * random.Symmetric());
        image->oriented = true;
    }
    return true;
}

bool WriteSampleProject(const std::string& folder, std::string& message, double imageNoise)
{
    namespace fs = std::filesystem;
    if (folder.empty()) {
        message = "No folder given for the sample project";
        return false;
    }
    std::error_code error;
    fs::create_directories(folder, error);
    if (error || !fs::is_directory(folder, error)) {
        message = "Cannot create the folder " + folder + (error ? ": " + error.message() : std::string());
        return false;
    }
    fs::path absolute = fs::absolute(folder, error);
    const std::string home = error ? folder : absolute.lexically_normal().string();
    std::string base = home;
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();

    CProjectDocument doc;
    if (!BuildSampleProject(doc, base, message, imageNoise))
        return false;
    const std::string path = InFolder(base, SampleFiles::kProject);
    doc.settings.SetProjectPath(path.c_str());
    const CCentroidSettingsScope centroid(SampleCentroidSettings());
    const CProjectFileResult result = ReadWriteProjectFile(doc, path.c_str(), PROJECT_FILE_SAVE);
    if (!result.ok) {
        message = result.message.IsEmpty() ? "Cannot write " + path : std::string(result.message.GetText());
        return false;
    }
    doc.SetPathName(path.c_str());
    doc.SetModifiedFlag(false);
    return true;
}

bool AddSampleScaleBarToProfile(std::string& message)
{
    CSampleTruth truth;
    BuildSampleTruth(truth);
    const CScaleBar bar = SampleScaleBar(truth);
    CProfileDatabases databases;
    databases.LoadDatabases();
    const std::string& profile = databases.GetProfilePath();
    if (profile.empty()) {
        message = "No folder for the profile file (neither XDG_CONFIG_HOME nor HOME is usable)";
        return false;
    }
    CScaleBar* record = databases.FindDatabaseScaleBar(bar.name.GetText());
    if (record != nullptr && StoredBytes(*record) == StoredBytes(bar))
        return true;
    if (record == nullptr) {
        if (!databases.CheckScaleBarName(bar.name.GetText(), nullptr)) {
            message = "The scale-bar database of " + profile + " holds " + bar.name.GetText() +
                      " in another letter case";
            return false;
        }
        record = databases.scaleBarDatabase.AddCopy(bar);
    } else {
        record->Copy(bar);
    }
    record->modified = true;
    if (!databases.SaveDatabases(0)) {
        message = databases.GetWriteFailureText();
        return false;
    }
    return true;
}
