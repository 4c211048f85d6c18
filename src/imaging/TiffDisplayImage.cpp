#include "TiffDisplayImage.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "TiffSupport.h"

namespace {

// Pixels per metre from a resolution, 0 when it is not a usable number.
int32_t PelsPerMeter(float resolution, double factor)
{
    const double v = double(resolution) * factor;
    if (!(v >= 0.0) || v > 2147483647.0)
        return 0;
    return int32_t(v);
}

bool RegularFileSize(const char* path, int64_t& size)
{
    struct stat st {};
    if (!path || ::stat(path, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    size = st.st_size;
    return true;
}

// Every strip lies inside the file; an uncompressed strip holds all its rows.
bool StripsInsideFile(TIFF* tif, uint32_t strips, uint32_t rowsPerStrip, uint32_t length, int64_t scanline,
                      int64_t fileSize, bool uncompressed)
{
    for (uint32_t s = 0; s < strips; ++s) {
        int err = 0;
        const uint64_t offset = TIFFGetStrileOffsetWithErr(tif, s, &err);
        if (err)
            return false;
        const uint64_t count = TIFFGetStrileByteCountWithErr(tif, s, &err);
        if (err || count == 0 || offset > uint64_t(fileSize) || count > uint64_t(fileSize) - offset)
            return false;
        const uint32_t rows = std::min(rowsPerStrip, length - s * rowsPerStrip);
        if (uncompressed && count < uint64_t(rows) * uint64_t(scanline))
            return false;
    }
    return true;
}

} // namespace

bool CTiffDisplayImage::ChooseDirectory(TIFF* tif)
{
    return ::ChooseDirectory(tif);
}

int CTiffDisplayImage::ReadSize(const char* path, int& w, int& h)
{
    int64_t fileSize = 0;
    if (!RegularFileSize(path, fileSize))
        return 0;
    TiffHandle tif = OpenTiffForReading(path);
    uint32_t width = 0, length = 0;
    if (!tif || !ChooseDirectory(tif.get()) || TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width) != 1 ||
        TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &length) != 1 || width > uint32_t(INT32_MAX) ||
        length > uint32_t(INT32_MAX))
        return 0;
    w = int(width);
    h = int(length);
    return 1;
}

int CTiffDisplayImage::Load(const char* path, int threaded)
{
    Clear();
    int64_t fileSize = 0;
    if (!RegularFileSize(path, fileSize)) {
        ShowLoadMessage("The image file %s cannot be opened.", path);
        return 0;
    }
    TiffHandle handle = OpenTiffForReading(path);
    if (!handle) {
        ShowLoadMessage("%s is not a readable TIFF file.", path);
        return 0;
    }
    TIFF* tif = handle.get();
    uint32_t width = 0, length = 0;
    if (!ChooseDirectory(tif) || TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) != 1 ||
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &length) != 1) {
        ShowLoadMessage("The TIFF file %s is damaged: its image directory cannot be read.", path);
        return 0;
    }
    uint16_t bits = 1, samples = 1, planar = PLANARCONFIG_CONTIG, compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    uint16_t photometric = 0;
    if (TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric) != 1)
        photometric = samples == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;

    if (TIFFIsTiled(tif)) {
        ShowLoadMessage("The TIFF file %s cannot be read: tiled images are not supported.", path);
        return 0;
    }
    if (bits != 8) {
        ShowLoadMessage("The TIFF file %s cannot be read: only 8 bits per sample are supported.", path);
        return 0;
    }
    const bool grey = samples == 1 && (photometric == PHOTOMETRIC_MINISWHITE ||
                                       photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_PALETTE);
    const bool rgb = samples == 3 && photometric == PHOTOMETRIC_RGB;
    if (!grey && !rgb) {
        ShowLoadMessage("The TIFF file %s cannot be read: only grey, palette and RGB images are supported.", path);
        return 0;
    }
    if (rgb && planar != PLANARCONFIG_CONTIG) {
        ShowLoadMessage("The TIFF file %s cannot be read: separate colour planes are not supported.", path);
        return 0;
    }
    if (!TIFFIsCODECConfigured(compression)) {
        ShowLoadMessage("The TIFF file %s cannot be read: its compression is not supported.", path);
        return 0;
    }
    const int bitCount = rgb ? 24 : 8;
    if (!CheckImageSize(path, width, length, bitCount))
        return 0;

    uint32_t rowsPerStrip = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    rowsPerStrip = std::min(rowsPerStrip, length);
    const int64_t scanline = int64_t(width) * samples;
    if (rowsPerStrip == 0 || TIFFNumberOfStrips(tif) != (length + rowsPerStrip - 1) / rowsPerStrip ||
        TIFFScanlineSize64(tif) != uint64_t(scanline) ||
        !StripsInsideFile(tif, TIFFNumberOfStrips(tif), rowsPerStrip, length, scanline, fileSize,
                          compression == COMPRESSION_NONE)) {
        ShowLoadMessage("The TIFF file %s is damaged: its image data is missing or incomplete.", path);
        return 0;
    }

    if (!AllocateHeader(bitCount))
        return 0;
    SetHeaderWidth(int(width));
    SetHeaderHeight(int(length));
    if (bitCount == 8) {
        SetColorsUsed(256);
        SetColorsImportant(0);
        uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
        auto& colors = fileColorHeader->colors;
        if (TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue) == 1 && red && green && blue) {
            for (int i = 0; i < 256; ++i)
                colors[i] = CRgbQuad{uint8_t(blue[i] >> 8), uint8_t(green[i] >> 8), uint8_t(red[i] >> 8), 0};
        } else {
            for (int i = 0; i < 256; ++i)
                colors[i] = CRgbQuad{uint8_t(i), uint8_t(i), uint8_t(i), 0};
        }
    }
    uint16_t unit = 0;
    float xResolution = 0.0f, yResolution = 0.0f;
    if (TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &unit) == 1 && (unit == RESUNIT_INCH || unit == RESUNIT_CENTIMETER)) {
        const double factor = unit == RESUNIT_INCH ? 39.37007874016 : 100.0;
        if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xResolution) == 1)
            SetXPelsPerMeter(PelsPerMeter(xResolution, factor));
        if (TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yResolution) == 1)
            SetYPelsPerMeter(PelsPerMeter(yResolution, factor));
    }
    if (!AllocatePixels()) {
        Clear();
        ShowLoadMessage("There is not enough memory to load the image file %s.", path);
        return 0;
    }

    // Each strip is decoded into the bottom-up lines its rows end up on, then
    // padded, put in bitmap order and converted there.
    uint8_t* bits8 = MutablePixels();
    const int64_t bpl = GetBytesPerLine();
    const uint32_t strips = TIFFNumberOfStrips(tif);
    const bool invert = photometric == PHOTOMETRIC_MINISWHITE;
    for (uint32_t s = 0; s < strips; ++s) {
        const uint32_t first = s * rowsPerStrip;
        const int64_t rows = std::min(rowsPerStrip, length - first);
        uint8_t* base = bits8 + (int64_t(length) - first - rows) * bpl;
        const tmsize_t want = tmsize_t(rows * scanline);
        if (TIFFReadEncodedStrip(tif, s, base, want) != want) {
            Clear();
            ShowLoadMessage("The TIFF file %s is damaged: its image data is missing or incomplete.", path);
            return 0;
        }
        if (bpl != scanline) {
            for (int64_t i = rows - 1; i >= 0; --i) {
                std::memmove(base + i * bpl, base + i * scanline, size_t(scanline));
                std::memset(base + i * bpl + scanline, 0, size_t(bpl - scanline));
            }
        }
        for (int64_t a = 0, b = rows - 1; a < b; ++a, --b)
            std::swap_ranges(base + a * bpl, base + a * bpl + scanline, base + b * bpl);
        if (invert) {
            for (int64_t i = 0; i < rows; ++i) {
                uint8_t* p = base + i * bpl;
                for (int64_t x = 0; x < scanline; ++x)
                    p[x] = uint8_t(~p[x]);
            }
        } else if (rgb) {
            for (int64_t i = 0; i < rows; ++i) {
                uint8_t* p = base + i * bpl;
                for (int64_t x = 0; x < scanline; x += 3)
                    std::swap(p[x], p[x + 2]);
            }
        }
    }
    handle.reset();
    FinishLoad(path, threaded);
    return 1;
}
