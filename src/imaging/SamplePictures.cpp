#include "SamplePictures.h"

#include <cmath>
#include <cstdio>

#include "JpegConversion.h"
#include "ProjectImage.h"
#include "SampleProject.h"
#include "SyntheticImageGenerator.h"

bool WriteSamplePictures(const std::string& folder, std::string& message)
{
    CSampleTruth truth;
    BuildSampleTruth(truth);
    CPointSet targets(truth.targets);
    for (int i = 0; i < targets.GetSize(); ++i)
        targets.GetAt(i)->radius = kSampleTargetRadius;
    for (int j = 0; j < CSampleTruth::kImageCount; ++j) {
        const CSamplePose& pose = truth.poses[static_cast<size_t>(j)];
        CProjectImage image;
        image.SetPose(pose.X, pose.Y, pose.Z, pose.azimuth, pose.elevation, pose.roll);
        CSyntheticImageGenerator generator(targets, image, truth.camera, 0.0);
        generator.SetMaxViewAngle(70.0 * std::atan(1.0) / 45.0);
        char name[32];
        std::snprintf(name, sizeof name, "/Image%03d.tif", j + 1);
        const std::string path = folder + name;
        std::string error;
        if (!generator.Render(CSyntheticImageGenerator::kProjectedCentre, CSyntheticImageGenerator::kExact, 0, 0, 0,
                              CSyntheticImageGenerator::kOwnNormal, 1) ||
            !WriteGreyTiffFile(generator.GetStore(), path.c_str(), error)) {
            message = "Cannot write " + path + (error.empty() ? "" : ": " + error);
            return false;
        }
    }
    return true;
}
