// Pictures of the sample project: each image's targets rendered as its true
// pose sees them, and the whole sample as the sample program writes it.
#pragma once

#include <string>

// Radius (mm) of the sample's targets in the pictures.
constexpr double kSampleTargetRadius = 6.0;

// Writes <folder>/Image001.tif ... one grey TIFF per sample image, the files
// the sample's images point at, rendered on that many worker threads at once
// (0: one per core; never more than one per picture). The files are the same
// for any number of workers. False with a message when one cannot be made
// (the first such picture's message).
bool WriteSamplePictures(const std::string& folder, std::string& message, int workers = 0);

// What the sample program does: the project, its pictures and the scale
// bar's record in the profile's database. False with a message on failure.
bool WriteSample(const std::string& folder, std::string& message);
