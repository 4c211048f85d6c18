// The conversion of a JPEG photograph into a grey TIFF (ConvertJpegToGreyTiff)
// on arbitrary bytes. The first byte says whether a TIFF of the target name
// is there before; the rest is the photograph.
//
// The conversion succeeds exactly when the JPEG reader reads the whole
// photograph; the TIFF then holds its grey values, else an old TIFF stays as
// it was and none is made. No scratch file is left behind.
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "../FileFuzzing.h"
#include "ImageStore.h"
#include "JpegConversion.h"
#include "JpegFileReader.h"
#include "Message.h"
#include "TiffFileReader.h"

namespace {

constexpr char kOldTiff[] = "an older file of that name";

// The names in a folder, sorted into one text.
std::string Listing(const std::string& folder)
{
    std::string names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        names += entry.path().filename().string() + "|";
    return names;
}

// The photograph's grey values as the reader sees them; false when it cannot
// be read whole.
bool ReadGrey(const std::string& path, CImageStore& grey)
{
    CImageStore store;
    CJpegFileReader jpeg(path.c_str());
    if (!store.ReadFrom(jpeg))
        return false;
    if (!store.IsColor()) {
        if (!grey.Create(store.GetHeight(), store.GetWidth(), 1, 8))
            return false;
        for (int32_t y = 0; y < store.GetHeight(); ++y)
            for (int32_t x = 0; x < store.GetWidth(); ++x)
                grey.SetPixel(0, y, x, store.GetPixel(0, y, x));
        return true;
    }
    return store.ConvertToGrey(grey);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const CFuzzFolder& folder = FuzzFolder();
    if (size == 0 || !folder.IsMade())
        return 0;
    static const bool setUp = [&folder] {
        SetMessageBoxHandler([](const char*, const char*, unsigned) { return IDOK; });
        // Scratch files of the conversion and of paged images go here.
        return setenv("TMPDIR", folder.File("scratch").c_str(), 1) == 0;
    }();
    if (!setUp)
        return 0;
    const std::string photos = folder.File("photos");
    if (mkdir(photos.c_str(), 0700) != 0 || mkdir(folder.File("scratch").c_str(), 0700) != 0) {
        folder.Empty();
        return 0;
    }
    const std::string jpegPath = photos + "/Photo.jpg";
    const std::string tiffPath = photos + "/Photo.tif";
    const bool oldTiff = (data[0] & 1) != 0;
    if (!WriteFuzzFile(jpegPath, data + 1, size - 1) ||
        (oldTiff && !WriteFuzzFile(tiffPath, reinterpret_cast<const uint8_t*>(kOldTiff), sizeof kOldTiff - 1))) {
        folder.Empty();
        return 0;
    }

    {
        // Photographs of more than 4 million pixels take too long to fuzz.
        CJpegFileReader header(jpegPath.c_str());
        if (int64_t(header.GetWidth()) * header.GetHeight() > (int64_t(1) << 22)) {
            TakeCapturedMessages();
            folder.Empty();
            return 0;
        }
    }
    {
        CImageStore expected;
        const bool readable = ReadGrey(jpegPath, expected);
        const bool converted = ConvertJpegToGreyTiff(jpegPath.c_str());
        if (converted != readable)
            __builtin_trap();
        bool there = false;
        const std::string tiffBytes = ReadFuzzFile(tiffPath, there);
        if (!converted) {
            if (there != oldTiff || (oldTiff && tiffBytes != kOldTiff))
                __builtin_trap(); // a failed conversion touched the TIFF
        } else {
            CImageStore written;
            CTiffFileReader tiff(tiffPath.c_str());
            if (!written.ReadFrom(tiff) || written.GetSamplesPerPixel() != 1 || written.GetBitsPerSample() != 8 ||
                written.GetWidth() != expected.GetWidth() || written.GetHeight() != expected.GetHeight())
                __builtin_trap();
            for (int32_t y = 0; y < expected.GetHeight(); ++y)
                for (int32_t x = 0; x < expected.GetWidth(); ++x)
                    if (written.GetPixel(0, y, x) != expected.GetPixel(0, y, x))
                        __builtin_trap();
        }
        if (Listing(photos) != (converted || oldTiff ? "Photo.jpg|Photo.tif|" : "Photo.jpg|") &&
            Listing(photos) != (converted || oldTiff ? "Photo.tif|Photo.jpg|" : "Photo.jpg|"))
            __builtin_trap(); // a stray file beside the photograph
    }
    if (!Listing(folder.File("scratch")).empty())
        __builtin_trap(); // a scratch file was left
    TakeCapturedMessages();
    folder.Empty();
    return 0;
}
