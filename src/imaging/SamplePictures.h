// Pictures of the sample project: each image's targets rendered as its true
// pose sees them.
#pragma once

#include <string>

// Radius (mm) of the sample's targets in the pictures.
constexpr double kSampleTargetRadius = 6.0;

// Writes <folder>/Image001.tif ... one grey TIFF per sample image, the files
// the sample's images point at. False with a message when one cannot be made.
bool WriteSamplePictures(const std::string& folder, std::string& message);
