// Bounds on the images the system reads and holds.
#pragma once

#include <cstdint>

// Largest side of an image: segmentation records hold rows and columns in 16 bits.
constexpr int kMaxImageSide = 65535;
