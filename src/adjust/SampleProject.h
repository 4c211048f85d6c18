// The sample project: a corner of three 2 m walls carrying 100 targets, one
// camera with radial distortion and ten images around the corner, built
// through the data model and written with its side files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Camera.h"
#include "CentroidSettings.h"
#include "ImageObservation.h"
#include "PointSet.h"
#include "ScaleBar.h"

class CProjectDocument;

// File names inside the sample's folder.
namespace SampleFiles {
constexpr const char* kProject = "Sample.kst";
constexpr const char* kControl = "Control.xyz";
constexpr const char* kScaleBar = "SampleBar";
} // namespace SampleFiles

// A small generator whose sequence is the same on every platform
// (SplitMix64); its normal deviates are sums of twelve uniforms, so they
// need no library function either.
class CSampleRandom {
public:
    explicit CSampleRandom(uint64_t seed) : state(seed) {}
    uint64_t Next();
    // Uniform in [0, 1).
    double Uniform();
    // Uniform in [-1, 1).
    double Symmetric() { return 2.0 * Uniform() - 1.0; }
    // Approximately standard normal, bounded by +-6.
    double Normal();

private:
    uint64_t state;
};

struct CSamplePose {
    double X, Y, Z;                     // station, mm
    double azimuth, elevation, roll;    // radians
};

// The truth the sample is made from, before noise and perturbation.
struct CSampleTruth {
    static constexpr int kTargetCount = 100;
    static constexpr int kImageCount = 10;
    static constexpr double kImageNoise = 0.0005;   // mm, standard deviation of the observations
    static constexpr double kControlSigma = 0.01;   // mm
    static constexpr double kFrameFraction = 0.94;  // observed targets lie inside this part of the frame
    static constexpr uint64_t kSeed = 19;

    CCamera camera;
    CPointSet targets;                  // T1 .. T100, each with its wall's normal
    std::vector<CSamplePose> poses;     // one per image
    std::vector<std::string> controlLabels;
    std::string barEnd1, barEnd2;       // the scale bar's targets
    double barLength = 0.0;             // mm
};

// The truth of the sample; the same on every call.
void BuildSampleTruth(CSampleTruth& truth);

// Largest angle (radians) between a target's normal and the ray to a camera
// that still sees it.
constexpr double kSampleMaxViewingAngle = 70.0 * 3.14159265358979323846 / 180.0;

// Where the true pose of image j sees the target: its true centre (image
// millimetres) in at, when the target faces the camera by a cosine at least
// margin above that of the largest viewing angle and lies inside that
// fraction of the frame. False otherwise.
bool SampleTargetInImage(const CSampleTruth& truth, int image, const CObjectPoint& target, double frameFraction,
                         CImageObservation& at, double margin = 0.0);

// The sample's scale bar between its two targets, calibrated to the
// micrometre, so that the profile's scale-bar record holds it unchanged.
CScaleBar SampleScaleBar(const CSampleTruth& truth);

// Centroid settings that fit the sample's pictures: white targets on black.
CCentroidSettings SampleCentroidSettings();

// Fills a fresh document with the sample for a project in folder (an
// existing folder; its .icf and coordinate files are written there). False
// with a message when a side file cannot be written or read back. The
// observations carry normal noise of that standard deviation (mm).
bool BuildSampleProject(CProjectDocument& doc, const std::string& folder, std::string& message,
                        double imageNoise = CSampleTruth::kImageNoise);

// Writes <folder>/Sample.kst and its side files, creating the folder when
// it is missing; the project carries the sample's centroid settings. False
// with a message on failure.
bool WriteSampleProject(const std::string& folder, std::string& message,
                        double imageNoise = CSampleTruth::kImageNoise);

// Puts the sample's scale bar into the scale-bar database of the profile
// file, so that opening the sample neither asks to add it nor changes it. A
// record of that name is made equal to the sample's. False with a message
// when the profile cannot be written or holds the name in another case.
bool AddSampleScaleBarToProfile(std::string& message);
