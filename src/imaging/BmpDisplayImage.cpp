#include "BmpDisplayImage.h"


#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "FileIO.h"
#include "Message.h"

namespace {

constexpr int kFileHeaderBytes = 14;
constexpr int kInfoHeaderBytes = 40;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

uint32_t U32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t U16(const uint8_t* p)
{
    return uint16_t(p[0] | p[1] << 8);
}

// The two headers of a BMP file, as far as they are read here.
struct BmpHeaders {
    uint32_t pixelOffset = 0;
    uint32_t infoSize = 0;
    int32_t width = 0;
    int32_t height = 0;
    uint16_t bitCount = 0;
    uint32_t compression = 0;
    int32_t xPelsPerMeter = 0;
    int32_t yPelsPerMeter = 0;
    uint32_t colorsUsed = 0;
};

enum class HeaderResult { ok, cannotOpen, shortFile, notBmp, badInfo };

// Opens a regular file and reads both headers.
HeaderResult ReadHeaders(const char* path, FilePtr& file, int64_t& fileSize, BmpHeaders& h)
{
    std::string error;
    std::uint64_t size = 0;
    if (!path)
        return HeaderResult::cannotOpen;
    file.reset(OpenRegularFileStream(path, CFileInput::kNoLimit, error, &size));
    if (!file)
        return HeaderResult::cannotOpen;
    fileSize = int64_t(size);
    uint8_t b[kFileHeaderBytes + kInfoHeaderBytes];
    const size_t got = std::fread(b, 1, sizeof b, file.get());
    if (got >= 2 && (b[0] != 'B' || b[1] != 'M'))
        return HeaderResult::notBmp;
    if (got < kFileHeaderBytes + 4)
        return HeaderResult::shortFile;
    h.pixelOffset = U32(b + 10);
    h.infoSize = U32(b + 14);
    if (h.infoSize < kInfoHeaderBytes)
        return HeaderResult::badInfo;
    if (got < sizeof b)
        return HeaderResult::shortFile;
    const uint8_t* i = b + kFileHeaderBytes;
    h.width = int32_t(U32(i + 4));
    h.height = int32_t(U32(i + 8));
    h.bitCount = U16(i + 14);
    h.compression = U32(i + 16);
    h.xPelsPerMeter = int32_t(U32(i + 24));
    h.yPelsPerMeter = int32_t(U32(i + 28));
    h.colorsUsed = U32(i + 32);
    return HeaderResult::ok;
}

} // namespace

int CBmpDisplayImage::ReadSize(const char* path, int& w, int& h)
{
    FilePtr file;
    int64_t fileSize = 0;
    BmpHeaders headers;
    if (ReadHeaders(path, file, fileSize, headers) != HeaderResult::ok || headers.height == INT32_MIN)
        return 0;
    w = headers.width;
    h = headers.height < 0 ? -headers.height : headers.height;
    return 1;
}

int CBmpDisplayImage::Load(const char* path, int threaded)
{
    Clear();
    FilePtr file;
    int64_t fileSize = 0;
    BmpHeaders h;
    switch (ReadHeaders(path, file, fileSize, h)) {
    case HeaderResult::ok:
        break;
    case HeaderResult::cannotOpen:
        ShowLoadMessage("The image file %s cannot be opened.", path);
        return 0;
    case HeaderResult::shortFile:
        AfxMessageBox("Premature End Of File", MB_OK);
        return 0;
    case HeaderResult::notBmp:
        ShowLoadMessage("%s is not a BMP file.", path);
        return 0;
    case HeaderResult::badInfo:
        ShowLoadMessage("The BMP file %s has an unsupported header (older than Windows 3).", path);
        return 0;
    }
    const int64_t tableStart = kFileHeaderBytes + int64_t(h.infoSize);
    if (h.pixelOffset < tableStart || h.pixelOffset > fileSize) {
        ShowLoadMessage("The BMP file %s is damaged: its pixel data offset lies outside the file.", path);
        return 0;
    }
    if (h.compression != 0 || (h.bitCount != 8 && h.bitCount != 24)) {
        ShowLoadMessage("The BMP file %s cannot be read: only uncompressed 8-bit palette and 24-bit images "
                        "are supported.",
                        path);
        return 0;
    }
    const bool topDown = h.height < 0;
    const int64_t rows = topDown ? -int64_t(h.height) : int64_t(h.height);
    if (!CheckImageSize(path, h.width, rows, h.bitCount))
        return 0;
    if (!AllocateHeader(h.bitCount))
        return 0;
    SetHeaderWidth(h.width);
    SetHeaderHeight(int(rows));
    SetXPelsPerMeter(h.xPelsPerMeter);
    SetYPelsPerMeter(h.yPelsPerMeter);
    const int64_t imageBytes = GetImageBytes();
    if (int64_t(h.pixelOffset) + imageBytes > fileSize) {
        Clear();
        AfxMessageBox("Premature End Of File", MB_OK);
        return 0;
    }
    if (h.bitCount == 8) {
        // A short table is padded with black.
        const int64_t wanted = h.colorsUsed ? std::min<int64_t>(h.colorsUsed, 256) : 256;
        const int64_t present = std::min<int64_t>(wanted, (int64_t(h.pixelOffset) - tableStart) / 4);
        uint8_t table[256 * 4];
        if (present > 0 && (std::fseek(file.get(), long(tableStart), SEEK_SET) != 0 ||
                            std::fread(table, 4, size_t(present), file.get()) != size_t(present))) {
            Clear();
            AfxMessageBox("Premature End Of File", MB_OK);
            return 0;
        }
        for (int64_t i = 0; i < present; ++i)
            fileColorHeader->colors[i] = CRgbQuad{table[4 * i], table[4 * i + 1], table[4 * i + 2], 0};
        SetColorsUsed(256);
    }
    if (!AllocatePixels()) {
        Clear();
        ShowLoadMessage("There is not enough memory to load the image file %s.", path);
        return 0;
    }
    uint8_t* bits = MutablePixels();
    if (std::fseek(file.get(), long(h.pixelOffset), SEEK_SET) != 0 ||
        std::fread(bits, 1, size_t(imageBytes), file.get()) != size_t(imageBytes)) {
        Clear();
        AfxMessageBox("Premature End Of File", MB_OK);
        return 0;
    }
    if (topDown) {
        const int bpl = GetBytesPerLine();
        for (int64_t a = 0, b = rows - 1; a < b; ++a, --b)
            std::swap_ranges(bits + a * bpl, bits + (a + 1) * bpl, bits + b * bpl);
    }
    FinishLoad(path, threaded);
    return 1;
}
