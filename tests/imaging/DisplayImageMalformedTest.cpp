// Malformed image files fail cleanly: the load returns 0, the object stays
// empty, the reason is shown, and nothing large is allocated on the way.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>

#include "ImageFiles.h"
#include "Message.h"
#include "TiffDisplayImage.h"

// Every allocation of this program passes here, so the largest request a
// load makes can be seen. (GCC takes the replaced operators for a mismatch
// of new and free.)
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
static std::atomic<size_t> largestRequest{0};
void* operator new(size_t size, const std::nothrow_t&) noexcept
{
    for (size_t seen = largestRequest; size > seen && !largestRequest.compare_exchange_weak(seen, size);) {
    }
    return std::malloc(size ? size : 1);
}
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void* operator new(size_t size)
{
    if (void* p = operator new(size, std::nothrow))
        return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace {

using Bytes = std::vector<uint8_t>;

// Writes value `index` of a tag in the first directory of a classic
// little-endian TIFF; a single value too large for a SHORT becomes a LONG.
void PatchTag(Bytes& b, uint32_t tag, uint32_t value, uint32_t index)
{
    auto u16 = [&b](size_t at) { return uint32_t(b[at] | b[at + 1] << 8); };
    auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
    const uint32_t ifd = u32(4);
    for (uint32_t e = 0; e < u16(ifd); ++e) {
        const size_t at = ifd + 2 + 12 * size_t(e);
        if (u16(at) != tag)
            continue;
        const uint32_t count = u32(at + 4);
        if (u16(at + 2) == TIFF_SHORT && count == 1 && value > 0xFFFF)
            b[at + 2] = TIFF_LONG;
        const uint32_t size = u16(at + 2) == TIFF_SHORT ? 2 : 4;
        ASSERT_LT(index, count);
        const size_t data = (count * size <= 4 ? at + 8 : u32(at + 8)) + size_t(index) * size;
        for (uint32_t i = 0; i < size; ++i)
            b[data + i] = uint8_t(value >> (8 * i));
        return;
    }
    ADD_FAILURE() << "tag " << tag << " not in the file";
}

enum Base { emptyFile, junk, bmp, tif, stripedTif, tiledTif, tif16, tif2Samples, tifRgbOneSample };

Bytes Made(Base base)
{
    const TestPicture picture = MakePicture(64, 48, 1, 9);
    TiffLayout layout;
    switch (base) {
    case emptyFile:
        return {};
    case junk:
        return Bytes(100, 'x');
    case bmp:
        return MakeTestBmp(picture, {});
    case stripedTif:
        layout.rowsPerStrip = 8; // six strips
        break;
    case tiledTif:
        layout.tiled = true;
        break;
    case tif16:
        layout.bitsPerSample = 16;
        break;
    case tifRgbOneSample:
        layout.photometric = PHOTOMETRIC_RGB;
        break;
    default:
        break;
    }
    TempFolder folder;
    const std::string path = folder.File("made.tif");
    EXPECT_TRUE(WriteTestTiff(path, base == tif2Samples ? MakePicture(8, 8, 2, 1) : picture, layout));
    return ReadBytes(path);
}

// A change of the made file: a 32-bit value at a byte offset (BMP), or a tag
// value (TIFF).
struct Change {
    uint32_t where; // offset, or tag
    uint32_t value;
    uint32_t index = 0;
};

struct MalformedCase {
    const char* name;
    Base base;
    long keep; // bytes kept: all when negative, else that many (or size + keep when below -1)
    std::vector<Change> changes;
    bool premature; // "Premature End Of File", else a reason naming the file
};

std::vector<MalformedCase> Cases()
{
    return {
        {"empty bmp", emptyFile, -1, {}, true},
        {"bmp cut in the file header", bmp, 9, {}, true},
        {"bmp cut in the info header", bmp, 40, {}, true},
        {"bmp cut in the pixels", bmp, -2, {}, true},
        {"not a bmp", junk, -1, {}, false},
        {"bmp pixel offset past the end", bmp, -1, {{10, 100000}}, false},
        {"bmp pixel offset inside the header", bmp, -1, {{10, 20}}, false},
        {"bmp core header", bmp, -1, {{14, 12}}, false},
        {"bmp lying colour count, cut", bmp, 54 + 1024 + 64 * 47, {{46, 0x7FFFFFFF}}, true},
        {"bmp huge width", bmp, -1, {{18, 70000}}, false},
        {"bmp huge height", bmp, -1, {{22, 0x80000000u}}, false},
        {"bmp large image in a small file", bmp, -1, {{18, 20000}, {22, 20000}}, true},
        {"bmp 4 bits", bmp, -1, {{28, 4}}, false},
        {"bmp run-length compressed", bmp, -1, {{30, 1}}, false},
        {"empty tif", emptyFile, -1, {}, false},
        {"tif cut in the header", tif, 6, {}, false},
        {"tif without its directory", tif, 8 + 64 * 40, {}, false},
        {"tif strip offset past the end", stripedTif, -1, {{TIFFTAG_STRIPOFFSETS, 1000000, 3}}, false},
        {"tif strip byte count too large", stripedTif, -1, {{TIFFTAG_STRIPBYTECOUNTS, 0xFFF0, 2}}, false},
        {"tif strip byte count too small", stripedTif, -1, {{TIFFTAG_STRIPBYTECOUNTS, 10, 4}}, false},
        {"tif large image in a small file", tif, -1,
         {{TIFFTAG_IMAGEWIDTH, 8000}, {TIFFTAG_IMAGELENGTH, 8000}, {TIFFTAG_ROWSPERSTRIP, 8000}}, false},
        {"tif huge dimensions", tif, -1,
         {{TIFFTAG_IMAGEWIDTH, 100000}, {TIFFTAG_IMAGELENGTH, 100000}, {TIFFTAG_ROWSPERSTRIP, 100000}}, false},
        {"tif tiled", tiledTif, -1, {}, false},
        {"tif 16 bits", tif16, -1, {}, false},
        {"tif two samples", tif2Samples, -1, {}, false},
        {"tif rgb with one sample", tifRgbOneSample, -1, {}, false},
    };
}

TEST(DisplayImageMalformed, EachFailsCleanly)
{
    TempFolder folder;
    TakeCapturedMessages();
    for (const MalformedCase& c : Cases()) {
        SCOPED_TRACE(c.name);
        const bool isBmp = std::string(c.name).find("bmp") != std::string::npos;
        Bytes bytes = Made(c.base);
        for (const Change& change : c.changes) {
            if (isBmp) {
                for (int i = 0; i < 4; ++i)
                    bytes[change.where + i] = uint8_t(change.value >> (8 * i));
            } else {
                PatchTag(bytes, change.where, change.value, change.index);
            }
        }
        if (c.keep >= 0)
            bytes.resize(size_t(c.keep));
        else if (c.keep < -1)
            bytes.resize(bytes.size() + 1 + size_t(c.keep));
        const std::string path = folder.File(isBmp ? "bad.bmp" : "bad.tif");
        ASSERT_TRUE(WriteBytes(path, bytes));
        std::unique_ptr<CDisplayImage> image = CreateDisplayImage(path.c_str());
        ASSERT_TRUE(image);
        largestRequest = 0;
        EXPECT_EQ(image->Load(path.c_str(), 1), 0);
        EXPECT_LT(largestRequest.load(), size_t(1) << 20);
        EXPECT_EQ(image->GetWidth(), 0);
        EXPECT_EQ(image->GetPixelBits(), nullptr);
        EXPECT_EQ(image->GetColorHeader(), nullptr);
        EXPECT_EQ(image->SaveAsBmp(folder.File("out.bmp").c_str()), 0);
        uint8_t row[8];
        EXPECT_EQ(image->GetGreyRow(0, row), 0);
        EXPECT_EQ(image->GetMean(), 0);
        const std::vector<CapturedMessage> shown = TakeCapturedMessages();
        ASSERT_EQ(shown.size(), 1u);
        if (c.premature)
            EXPECT_EQ(shown[0].text, "Premature End Of File");
        else
            EXPECT_NE(shown[0].text.find(path), std::string::npos) << shown[0].text;
    }
    // The count sees the pixels of a good load.
    const std::string good = folder.File("good.tif");
    ASSERT_TRUE(WriteBytes(good, Made(tif)));
    CTiffDisplayImage image;
    largestRequest = 0;
    ASSERT_EQ(image.Load(good.c_str(), 0), 1);
    EXPECT_GE(largestRequest.load(), size_t(image.GetImageBytes()));
    // A missing file and a folder are refused the same way.
    for (const std::string& path : {folder.File("missing.tif"), folder.File("")}) {
        CTiffDisplayImage missing;
        EXPECT_EQ(missing.Load(path.c_str(), 0), 0);
        EXPECT_EQ(TakeCapturedMessages().size(), 1u);
    }
}

} // namespace
