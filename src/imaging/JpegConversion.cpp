#include "JpegConversion.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "ImageStore.h"
#include "JpegFileReader.h"
#include "Message.h"
#include "TiffFileReader.h"

namespace {

// Creates an empty file of a new name beside target; empty on failure.
std::string CreateTempBeside(const std::string& target)
{
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = target + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            return name;
        }
        if (errno != EEXIST)
            break;
    }
    return std::string();
}

// Flushes the complete file to disk and renames it over target.
bool ReplaceWith(const std::string& temp, const std::string& target)
{
    const int fd = ::open(temp.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced && std::rename(temp.c_str(), target.c_str()) == 0;
}

bool WriteGrey(CImageStore& colour, const std::string& temp)
{
    CImageStore grey;
    CImageStore* out = &colour;
    if (colour.IsColor()) {
        if (!colour.ConvertToGrey(grey))
            return false;
        colour.Create(0, 0, 0, 0); // frees the colour planes
        out = &grey;
    }
    CTiffFileReader tiff(temp.c_str());
    const bool written = out->WriteTo(tiff);
    return tiff.Close() && written;
}

} // namespace

bool ConvertJpegToGreyTiff(const char* jpegPath)
{
    if (!jpegPath || !*jpegPath)
        return false;
    CImageStore store;
    {
        CJpegFileReader jpeg(jpegPath);
        if (!store.ReadFrom(jpeg))
            return false;
    }
    CFilePath tiffPath(jpegPath);
    tiffPath.SetExtension("tif");
    const std::string target = tiffPath.GetText();
    const std::string temp = CreateTempBeside(target);
    if (!temp.empty()) {
        if (WriteGrey(store, temp) && ReplaceWith(temp, target))
            return true;
        ::unlink(temp.c_str());
    }
    CDynString text;
    text.Format("The TIFF file %s could not be written.", target.c_str());
    AfxMessageBox(text.GetText(), MB_OK | MB_ICONERROR);
    return false;
}
