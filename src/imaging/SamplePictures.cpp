#include "SamplePictures.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <new>
#include <thread>
#include <vector>

#include "JpegConversion.h"
#include "ProjectImage.h"
#include "SampleProject.h"
#include "SyntheticImageGenerator.h"
#include "Workers.h"

namespace {

// Renders picture j and writes it; an empty text when that worked.
std::string WritePicture(const CSampleTruth& truth, const CPointSet& targets, const std::string& folder, int j)
{
    const CSamplePose& pose = truth.poses[static_cast<size_t>(j)];
    CProjectImage image;
    image.SetPose(pose.X, pose.Y, pose.Z, pose.azimuth, pose.elevation, pose.roll);
    CSyntheticImageGenerator generator(targets, image, truth.camera, 0.0);
    generator.SetMaxViewAngle(kSampleMaxViewingAngle);
    char name[32];
    std::snprintf(name, sizeof name, "/Image%03d.tif", j + 1);
    const std::string path = folder + name;
    std::string error;
    try {
        if (generator.Render(CSyntheticImageGenerator::kProjectedCentre, CSyntheticImageGenerator::kExact, 0, 0, 0,
                             CSyntheticImageGenerator::kOwnNormal, 1) &&
            WriteGreyTiffFile(generator.GetStore(), path.c_str(), error))
            return std::string();
    } catch (const std::bad_alloc&) {
        error = "out of memory";
    }
    return "Cannot write " + path + (error.empty() ? "" : ": " + error);
}

} // namespace

bool WriteSamplePictures(const std::string& folder, std::string& message, int workers)
{
    CSampleTruth truth;
    BuildSampleTruth(truth);
    CPointSet targets(truth.targets);
    for (int i = 0; i < targets.GetSize(); ++i)
        targets.GetAt(i)->radius = kSampleTargetRadius;

    // Each worker takes the next picture not yet taken until none is left;
    // the workers only read the truth and the targets.
    const int pictures = CSampleTruth::kImageCount;
    if (workers <= 0)
        workers = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    workers = std::min(workers, pictures);
    std::vector<std::string> errors(static_cast<size_t>(pictures));
    std::atomic<int> next{0};
    RunOnWorkers(workers, [&](int, int, CWorkerBarrier&) {
        for (int j = next.fetch_add(1); j < pictures; j = next.fetch_add(1))
            errors[static_cast<size_t>(j)] = WritePicture(truth, targets, folder, j);
    });
    for (const std::string& error : errors)
        if (!error.empty()) {
            message = error;
            return false;
        }
    return true;
}

bool WriteSample(const std::string& folder, std::string& message)
{
    return WriteSampleProject(folder, message) && WriteSamplePictures(folder, message) &&
           AddSampleScaleBarToProfile(message);
}
