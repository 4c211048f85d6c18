#include "JpegConversion.h"

#include <cstdio>
#include <memory>
#include <string>

#include "FileIO.h"
#include "ImageStore.h"
#include "JpegFileReader.h"
#include "Message.h"
#include "TempFiles.h"
#include "TiffFileReader.h"

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// A scratch file of a new name in $TMPDIR, removed with the object.
struct ScratchFile {
    ScratchFile() : path(CreateUniqueFile(GetTempFolder(), "kestrelon-tiff-")) {}
    ~ScratchFile()
    {
        if (!path.empty())
            std::remove(path.c_str());
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    const std::string path; // empty when none could be made
};

// libtiff writes the TIFF into the scratch file, which must seek back to
// complete it; the finished bytes then go to the target through the
// platform's atomic file writer.
bool WriteGreyTiff(CImageStore& colour, const std::string& target, std::string& error)
{
    CImageStore grey;
    CImageStore* out = &colour;
    if (colour.IsColor()) {
        if (!colour.ConvertToGrey(grey))
            return false;
        colour.Create(0, 0, 0, 0); // frees the colour planes
        out = &grey;
    }
    ScratchFile scratch;
    if (scratch.path.empty())
        return false;
    {
        CTiffFileReader tiff(scratch.path.c_str());
        const bool written = out->WriteTo(tiff);
        if (!tiff.Close() || !written)
            return false;
    }
    std::unique_ptr<std::FILE, FileCloser> in(std::fopen(scratch.path.c_str(), "rb"));
    CAtomicFile file;
    if (!in || !file.Open(target)) {
        error = file.GetError();
        return false;
    }
    std::unique_ptr<char[]> chunk(new char[1 << 20]);
    size_t n;
    while ((n = std::fread(chunk.get(), 1, size_t(1) << 20, in.get())) > 0)
        if (!file.Write(chunk.get(), n))
            break;
    if (std::ferror(in.get()))
        file.Discard();
    if (!file.Commit()) {
        error = file.GetError();
        return false;
    }
    return true;
}

} // namespace

bool WriteGreyTiffFile(CImageStore& image, const char* path, std::string& error)
{
    return path && *path && WriteGreyTiff(image, path, error);
}

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
    std::string error;
    if (WriteGreyTiff(store, tiffPath.GetText(), error))
        return true;
    CDynString text;
    if (error.empty())
        text.Format("The TIFF file %s could not be written.", tiffPath.GetText());
    else
        text.Format("The TIFF file %s could not be written: %s.", tiffPath.GetText(), error.c_str());
    AfxMessageBox(text.GetText(), MB_OK | MB_ICONERROR);
    return false;
}
