// Malformed image files fail cleanly: the load returns 0, the object stays
// empty, the reason is shown, and nothing large is allocated on the way.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <memory>
#include <new>

#include "ImageFiles.h"
#include "Message.h"
#include "TiffDisplayImage.h"

namespace {
std::atomic<size_t> largestRequest{0};

void NoteRequest(size_t size)
{
    size_t seen = largestRequest.load();
    while (size > seen && !largestRequest.compare_exchange_weak(seen, size)) {
    }
}
} // namespace

// Every allocation of this test program goes through here, so the largest
// request made by a load can be seen. (GCC takes the replaced operators for
// a mismatch of new and free.)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(size_t size)
{
    NoteRequest(size);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void* operator new[](size_t size)
{
    return operator new(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept
{
    NoteRequest(size);
    return std::malloc(size ? size : 1);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept
{
    return operator new(size, std::nothrow);
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete[](void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, size_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, size_t) noexcept
{
    std::free(p);
}

namespace {

using Bytes = std::vector<uint8_t>;

void Set32(Bytes& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = uint8_t(v >> (8 * i));
}

// Replaces value `index` of a tag in the first directory of a classic
// little-endian TIFF; a single value too large for a SHORT becomes a LONG.
void PatchTag(Bytes& b, uint16_t tag, uint32_t value, uint32_t index = 0)
{
    auto u16 = [&b](size_t at) { return uint32_t(b[at] | b[at + 1] << 8); };
    auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
    const uint32_t ifd = u32(4);
    const uint32_t entries = u16(ifd);
    for (uint32_t e = 0; e < entries; ++e) {
        const size_t at = ifd + 2 + 12 * size_t(e);
        if (u16(at) != tag)
            continue;
        uint32_t type = u16(at + 2);
        const uint32_t count = u32(at + 4);
        if (type == TIFF_SHORT && count == 1 && value > 0xFFFF) {
            b[at + 2] = TIFF_LONG;
            type = TIFF_LONG;
        }
        const uint32_t size = type == TIFF_SHORT ? 2 : 4;
        ASSERT_LT(index, count);
        const size_t data = (count * size <= 4 ? at + 8 : u32(at + 8)) + size_t(index) * size;
        for (uint32_t i = 0; i < size; ++i)
            b[data + i] = uint8_t(value >> (8 * i));
        return;
    }
    ADD_FAILURE() << "tag " << tag << " not in the file";
}

Bytes TiffBytes(const TestPicture& picture, const TiffLayout& layout)
{
    TempFolder folder;
    const std::string path = folder.File("made.tif");
    EXPECT_TRUE(WriteTestTiff(path, picture, layout));
    return ReadBytes(path);
}

const TestPicture& Picture()
{
    static const TestPicture p = MakePicture(64, 48, 1, 9);
    return p;
}

Bytes GoodTiff()
{
    return TiffBytes(Picture(), TiffLayout{});
}

// Six strips of eight rows.
Bytes StripedTiff()
{
    TiffLayout l;
    l.rowsPerStrip = 8;
    return TiffBytes(Picture(), l);
}

Bytes GoodBmp()
{
    return MakeTestBmp(Picture(), {});
}

Bytes Cut(Bytes b, size_t size)
{
    b.resize(size);
    return b;
}

struct MalformedCase {
    const char* name;
    const char* ending;
    std::function<Bytes()> make;
    const char* message; // the text shown, or null for any clear reason
};

const char* const kPremature = "Premature End Of File";

std::vector<MalformedCase> Cases()
{
    return {
        {"empty bmp", ".bmp", [] { return Bytes(); }, kPremature},
        {"bmp cut in the file header", ".bmp", [] { return Cut(GoodBmp(), 9); }, kPremature},
        {"bmp cut in the info header", ".bmp", [] { return Cut(GoodBmp(), 40); }, kPremature},
        {"bmp cut in the pixels", ".bmp", [] { return Cut(GoodBmp(), GoodBmp().size() - 1); }, kPremature},
        {"not a bmp", ".bmp", [] { return Bytes(100, 'x'); }, nullptr},
        {"bmp pixel offset past the end", ".bmp",
         [] {
             Bytes b = GoodBmp();
             Set32(b, 10, uint32_t(b.size() + 10));
             return b;
         },
         nullptr},
        {"bmp pixel offset inside the header", ".bmp",
         [] {
             Bytes b = GoodBmp();
             Set32(b, 10, 20);
             return b;
         },
         nullptr},
        {"bmp core header", ".bmp",
         [] {
             Bytes b = GoodBmp();
             Set32(b, 14, 12);
             return b;
         },
         nullptr},
        {"bmp lying colour count", ".bmp",
         [] {
             Bytes b = Cut(GoodBmp(), 54 + 1024 + 64 * 47);
             Set32(b, 46, 0x7FFFFFFF);
             return b;
         },
         kPremature},
        {"bmp huge width", ".bmp",
         [] {
             Bytes b = GoodBmp();
             Set32(b, 18, 70000);
             return b;
         },
         nullptr},
        {"bmp huge height", ".bmp",
         [] {
             Bytes b = GoodBmp();
             Set32(b, 22, 0x80000000u);
             return b;
         },
         nullptr},
        {"bmp large image in a small file", ".bmp",
         [] {
             Bytes b = GoodBmp();
             Set32(b, 18, 20000);
             Set32(b, 22, 20000);
             return b;
         },
         kPremature},
        {"bmp 4 bits", ".bmp",
         [] {
             Bytes b = GoodBmp();
             b[28] = 4;
             return b;
         },
         nullptr},
        {"bmp run-length compressed", ".bmp",
         [] {
             Bytes b = GoodBmp();
             Set32(b, 30, 1);
             return b;
         },
         nullptr},
        {"empty tif", ".tif", [] { return Bytes(); }, nullptr},
        {"tif cut in the header", ".tif", [] { return Cut(GoodTiff(), 6); }, nullptr},
        {"tif cut in the pixels", ".tif", [] { return Cut(GoodTiff(), 8 + 64 * 40); }, nullptr},
        {"tif strip offset past the end", ".tif",
         [] {
             Bytes b = StripedTiff();
             PatchTag(b, TIFFTAG_STRIPOFFSETS, uint32_t(b.size() + 100), 3);
             return b;
         },
         nullptr},
        {"tif strip byte count too large", ".tif",
         [] {
             Bytes b = StripedTiff();
             PatchTag(b, TIFFTAG_STRIPBYTECOUNTS, 0xFFF0u, 2);
             return b;
         },
         nullptr},
        {"tif strip byte count too small", ".tif",
         [] {
             Bytes b = StripedTiff();
             PatchTag(b, TIFFTAG_STRIPBYTECOUNTS, 10, 4);
             return b;
         },
         nullptr},
        {"tif large image in a small file", ".tif",
         [] {
             Bytes b = GoodTiff();
             PatchTag(b, TIFFTAG_IMAGEWIDTH, 8000);
             PatchTag(b, TIFFTAG_IMAGELENGTH, 8000);
             PatchTag(b, TIFFTAG_ROWSPERSTRIP, 8000);
             return b;
         },
         nullptr},
        {"tif huge dimensions", ".tif",
         [] {
             Bytes b = GoodTiff();
             PatchTag(b, TIFFTAG_IMAGEWIDTH, 100000);
             PatchTag(b, TIFFTAG_IMAGELENGTH, 100000);
             PatchTag(b, TIFFTAG_ROWSPERSTRIP, 100000);
             return b;
         },
         nullptr},
        {"tif tiled", ".tif",
         [] {
             TiffLayout l;
             l.tiled = true;
             return TiffBytes(Picture(), l);
         },
         nullptr},
        {"tif 16 bits", ".tif",
         [] {
             TiffLayout l;
             l.bitsPerSample = 16;
             return TiffBytes(Picture(), l);
         },
         nullptr},
        {"tif two samples", ".tif", [] { return TiffBytes(MakePicture(8, 8, 2, 1), TiffLayout{}); }, nullptr},
        {"tif rgb with one sample", ".tif",
         [] {
             TiffLayout l;
             l.photometric = PHOTOMETRIC_RGB;
             return TiffBytes(Picture(), l);
         },
         nullptr},
    };
}

TEST(DisplayImageMalformed, EachFailsCleanly)
{
    TempFolder folder;
    TakeCapturedMessages();
    for (const MalformedCase& c : Cases()) {
        SCOPED_TRACE(c.name);
        const std::string path = folder.File(std::string("bad") + c.ending);
        ASSERT_TRUE(WriteBytes(path, c.make()));
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
        if (c.message)
            EXPECT_EQ(shown[0].text, c.message);
        else
            EXPECT_NE(shown[0].text.find(path), std::string::npos) << shown[0].text;
    }
    // The count sees the pixels of a good load.
    const std::string good = folder.File("good.tif");
    ASSERT_TRUE(WriteBytes(good, GoodTiff()));
    CTiffDisplayImage image;
    largestRequest = 0;
    ASSERT_EQ(image.Load(good.c_str(), 0), 1);
    EXPECT_GE(largestRequest.load(), size_t(image.GetImageBytes()));
    // A missing file and a folder are refused the same way.
    for (const std::string& path : {folder.File("missing.tif"), folder.File("")}) {
        CTiffDisplayImage image;
        EXPECT_EQ(image.Load(path.c_str(), 0), 0);
        EXPECT_EQ(TakeCapturedMessages().size(), 1u);
    }
}

} // namespace
