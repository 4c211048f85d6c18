// The settings of the centroid operator: one record for the whole process,
// set to its defaults at start-up, edited by the centroid dialog and the
// toolbar's window-size field, and replaced by a project load.
#pragma once

#include <cstdint>

class CBinArchive;

struct CCentroidSettings {
    double thresholdValue = 0.0;   // parameter of the threshold methods 'b', 's' and 'p'
    char targetType = 'c';         // 'c' circle, 'h', 'v', 'l', 't' lines, 'p' plumb line
    char thresholdMethod = 'r';    // 'b', 'r', 's', 'w' or 'p'
    char weighting = '1';          // '0' unit, '1' grey value, '2' its square
    std::uint8_t minGreyRange = 96;
    std::int32_t minTargetSize = 2;
    std::int32_t windowSize = 64;  // 1..128 through SetCentroidWindowSize
    std::uint8_t shapeTesting = 1;
    std::uint8_t invert = 1;       // dark targets on a light background
    double xyRatio = 3.3;          // largest accepted width/height ratio of a blob

    // Stored size in the project file.
    static constexpr int kStoredSize = 30;
    static constexpr int kMaxWindowSize = 128;

    bool operator==(const CCentroidSettings& other) const;
    bool operator!=(const CCentroidSettings& other) const { return !(*this == other); }
};

// The process-wide record.
CCentroidSettings& GetCentroidSettings();

// The window size that a stored size stands for: 1..128 as is, 0 as 1,
// anything else (negative or too large) as 128.
int ClampCentroidWindowSize(int size);

// Stores a window size of 1..128 and returns 1. Any other size stores 128
// (1 for a size of 0) and returns 0, after the stop box "Centroid window size
// out of range" when verbose is not 0.
int SetCentroidWindowSize(int size, int verbose);

// Writes or reads the 30-byte block of the project file, by the archive's
// direction, on the process-wide record.
void SerializeCentroidSettings(CBinArchive& ar);

// The same on a given record. Loading changes the record only when the whole
// block could be read, and returns false otherwise (the archive has failed).
// A window size out of range is stored as the quiet setter would store it.
bool SerializeCentroidSettings(CBinArchive& ar, CCentroidSettings& settings);
