// Test pictures with known pixels, and image files made from them without
// the code under test: TIFFs through libtiff directly, BMPs byte by byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Pixels top row first, samples of a pixel together (R, G, B for three).
struct TestPicture {
    int width = 0;
    int height = 0;
    int samples = 1;
    std::vector<uint8_t> values;
    uint8_t At(int row, int x, int sample = 0) const
    {
        return values[(size_t(row) * width + x) * samples + sample];
    }
};

// A picture of pseudo-random values, different for every seed.
TestPicture MakePicture(int width, int height, int samples, unsigned seed);

// The grey values a reader must deliver: one sample as stored (inverted
// for min-is-white), three samples their integer mean. Top row first.
std::vector<uint8_t> ExpectedGrey(const TestPicture& picture, bool minIsWhite = false);

struct TiffLayout {
    uint16_t compression = 1;      // COMPRESSION_NONE
    uint16_t photometric = 1;      // MinIsBlack
    uint32_t rowsPerStrip = 0;     // 0: the whole image in one strip
    bool writeRowsPerStrip = true; // false: the tag is left out
    bool bigEndian = false;
    bool thumbnailFirst = false;   // a 160 x 120 directory before the picture
    bool subIfd = false;           // a 160 x 120 first directory with the picture as its SubIFD
    bool tiled = false;
    uint16_t bitsPerSample = 8;    // 16: the samples are widened
};

// Writes the picture as a TIFF; false when libtiff refuses.
bool WriteTestTiff(const std::string& path, const TestPicture& picture, const TiffLayout& layout);

struct BmpLayout {
    int paletteEntries = 256; // 8 bits: entries written (a grey ramp); 24 bits: ignored
    bool topDown = false;
};

// The bytes of a BMP file of the picture (1 sample: 8 bits, 3: 24 bits).
std::vector<uint8_t> MakeTestBmp(const TestPicture& picture, const BmpLayout& layout);

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadBytes(const std::string& path);

// A fresh folder under the system's temporary folder, removed with the object.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    std::string File(const std::string& name) const { return path + "/" + name; }

private:
    std::string path;
};
