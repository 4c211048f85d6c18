// Image files of any size and depth written by libtiff's and libjpeg's own
// encoders from a smooth known picture, and a scratch folder that is also
// $TMPDIR. (ImageFiles.h has the byte-level helpers.)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ImageFiles.h"

// A smooth, position-dependent value of the test picture, 0..maxValue.
int KnownValue(int sample, int line, int x, int maxValue);

// A fresh folder, made $TMPDIR while it lives, removed with its files after.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    std::string Path(const std::string& name) const { return folder.File(name); }
    // Names of the files in the folder, sorted.
    std::vector<std::string> Files() const;

private:
    TempFolder folder;
    std::string oldTmp;
    bool hadTmp = false;
};

// One directory (image) of a TIFF file written by libtiff.
struct TiffImageSpec {
    int width = 0;
    int height = 0;
    int samples = 1;
    int bits = 8;
    int compression = 1; // COMPRESSION_NONE
    int rowsPerStrip = 0; // 0: libtiff's default
    bool tiled = false;
    bool separatePlanes = false;
};

// Writes the directories in turn with the known picture; "wb" or "wl" order.
bool WriteTiffImages(const std::string& path, const std::vector<TiffImageSpec>& directories, bool bigEndian = false);

// Writes a JPEG of the known picture (samples 1 or 3) with libjpeg.
bool WriteJpeg(const std::string& path, int width, int height, int samples, int quality);

// Decodes a JPEG with libjpeg directly: true when the library reports an
// error or damaged data (premature end, corrupt entropy-coded data).
bool LibjpegReportsDamage(const std::string& path);

// Message boxes are answered and dropped while this lives.
class QuietMessages {
public:
    QuietMessages();
    ~QuietMessages();
};
