#include "TiffDirectory.h"

#include <cstdint>

#include <tiffio.h>

namespace {

void SilentHandler(const char*, const char*, va_list) {}

bool LargerInBoth(TIFF* t, uint32_t& width, uint32_t& length)
{
    uint32_t w = 0, h = 0;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
    if (w > width && h > length) {
        width = w;
        length = h;
        return true;
    }
    return false;
}

} // namespace

void SilenceTiffLibrary()
{
    static const bool done = [] {
        TIFFSetErrorHandler(SilentHandler);
        TIFFSetWarningHandler(SilentHandler);
        return true;
    }();
    (void)done;
}

TIFF* ChooseDirectory(TIFF* handle, const char* fileName)
{
    if (!handle)
        return nullptr;
    TIFF* walk = TIFFOpen(fileName, "r");
    if (!walk)
        return handle;
    uint32_t width = 0, length = 0;
    LargerInBoth(walk, width, length);
    uint64_t chosen = TIFFCurrentDirOffset(walk);
    uint16_t subCount = 0;
    uint64_t* subOffsets = nullptr;
    bool more = true;
    if (TIFFGetField(walk, TIFFTAG_SUBIFD, &subCount, &subOffsets) && subCount > 0) {
        more = TIFFSetSubDirectory(walk, subOffsets[0]) == 1;
        if (more && LargerInBoth(walk, width, length))
            chosen = TIFFCurrentDirOffset(walk);
    }
    while (more && TIFFReadDirectory(walk) == 1)
        if (LargerInBoth(walk, width, length))
            chosen = TIFFCurrentDirOffset(walk);
    TIFFClose(walk);
    if (chosen != TIFFCurrentDirOffset(handle) && TIFFSetSubDirectory(handle, chosen) != 1) {
        TIFFClose(handle);
        return nullptr;
    }
    return handle;
}
