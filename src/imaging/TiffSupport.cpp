#include "TiffSupport.h"

#include "FileIO.h"

#include <cstdarg>
#include <cstdint>
#include <mutex>

namespace {

// Largest single allocation libtiff may make for one file (its strip and
// directory buffers); the pixels themselves are ours.
constexpr tmsize_t kMaxTiffAllocation = tmsize_t(576) << 20;

// Directories walked at most while choosing the image.
constexpr int kMaxDirectories = 4096;

int SilentHandlerExt(TIFF*, void*, const char*, const char*, va_list)
{
    return 1; // handled: nothing reaches the global handlers
}

struct OptionsDeleter {
    void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};

bool ImageSize(TIFF* tif, uint32_t& width, uint32_t& length)
{
    width = 0;
    length = 0;
    return TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) == 1 && TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &length) == 1;
}

} // namespace

void InstallSilentTiffHandlers()
{
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
    });
}

TiffHandle OpenTiffForReading(const char* path)
{
    InstallSilentTiffHandlers();
    std::unique_ptr<TIFFOpenOptions, OptionsDeleter> options(TIFFOpenOptionsAlloc());
    if (!options)
        return nullptr;
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), kMaxTiffAllocation);
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), SilentHandlerExt, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), SilentHandlerExt, nullptr);
    std::string error;
    const int fd = OpenRegularFileForReading(path ? path : "", CFileInput::kNoLimit, error);
    if (fd < 0)
        return nullptr;
    TIFF* tif = TIFFFdOpenExt(fd, path, "rm", options.get());
    if (!tif)
        CloseFileDescriptor(fd);
    return TiffHandle(tif);
}

bool ChooseDirectory(TIFF* tif)
{
    if (!tif)
        return false;
    const uint64_t first = TIFFCurrentDirOffset(tif);
    uint64_t chosen = first;
    uint32_t chosenWidth = 0, chosenLength = 0;
    ImageSize(tif, chosenWidth, chosenLength);

    uint16_t subCount = 0;
    uint64_t* subOffsets = nullptr;
    bool more;
    bool moved = true;
    if (TIFFGetField(tif, TIFFTAG_SUBIFD, &subCount, &subOffsets) == 1 && subCount > 0 && subOffsets &&
        subOffsets[0] != 0)
        more = TIFFSetSubDirectory(tif, subOffsets[0]) == 1;
    else if (TIFFLastDirectory(tif))
        more = moved = false;
    else
        more = TIFFReadDirectory(tif) == 1;

    for (int walked = 0; more && walked < kMaxDirectories; ++walked) {
        uint32_t width = 0, length = 0;
        if (ImageSize(tif, width, length) && width > chosenWidth && length > chosenLength) {
            chosen = TIFFCurrentDirOffset(tif);
            chosenWidth = width;
            chosenLength = length;
        }
        more = !TIFFLastDirectory(tif) && TIFFReadDirectory(tif) == 1;
    }
    if (!moved)
        return true;
    // Read again even when it is the current one: a failed read may have
    // left the handle between directories.
    return TIFFSetSubDirectory(tif, chosen) == 1;
}
