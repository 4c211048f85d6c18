#include "TiffFileReader.h"

#include <cstring>
#include <new>

#include "Message.h"

namespace {

// Interleaved values of a line to planar ones (sample 0 of every pixel first).
template <typename T>
void Deinterleave(const uint8_t* in, uint8_t* out, size_t width, size_t samples)
{
    for (size_t s = 0; s < samples; ++s)
        for (size_t x = 0; x < width; ++x) {
            T v;
            std::memcpy(&v, in + (x * samples + s) * sizeof(T), sizeof(T));
            std::memcpy(out, &v, sizeof(T));
            out += sizeof(T);
        }
}

// Planar values of a line to interleaved ones.
template <typename T>
void Interleave(const uint8_t* in, uint8_t* out, size_t width, size_t samples)
{
    for (size_t s = 0; s < samples; ++s)
        for (size_t x = 0; x < width; ++x) {
            T v;
            std::memcpy(&v, in, sizeof(T));
            std::memcpy(out + (x * samples + s) * sizeof(T), &v, sizeof(T));
            in += sizeof(T);
        }
}

} // namespace

CTiffFileReader::CTiffFileReader(const char* name) : CImageFileReader(name)
{
    InstallSilentTiffHandlers();
}

CTiffFileReader::~CTiffFileReader()
{
    Close();
}

int32_t CTiffFileReader::GetWidth()
{
    if (!opened)
        Open();
    return width;
}

int32_t CTiffFileReader::GetHeight()
{
    if (!opened)
        Open();
    return height;
}

int32_t CTiffFileReader::GetBitsPerSample()
{
    if (!opened)
        Open();
    return bitsPerSample;
}

int32_t CTiffFileReader::GetSamplesPerPixel()
{
    if (!opened)
        Open();
    return samplesPerPixel;
}

bool CTiffFileReader::Refuse(const char* reason)
{
    handle.reset();
    width = height = samplesPerPixel = bitsPerSample = 0;
    openFailed = true;
    if (!reason)
        return false;
    CDynString text;
    text.Format("The TIFF file %s cannot be read: %s.", fileName.GetText(), reason);
    AfxMessageBox(text.GetText(), MB_OK | MB_ICONERROR);
    return false;
}

bool CTiffFileReader::Open()
{
    if (openFailed || writing)
        return false;
    Close();
    // A missing file or one that is not a TIFF fails without a message.
    handle = OpenTiffForReading(fileName.GetText());
    if (!handle)
        return Refuse(nullptr);
    TIFF* tif = handle.get();
    if (!ChooseDirectory(tif))
        return Refuse("its images cannot be read");

    uint16_t bits = 0, samples = 0, planar = PLANARCONFIG_CONTIG;
    uint32_t w = 0, h = 0, rps = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rps);

    if (TIFFIsTiled(tif))
        return Refuse("images stored in tiles are not supported");
    if (bits != 8 && bits != 16)
        return Refuse("only 8 and 16 bits per sample are supported");
    if (samples < 1 || samples > 4)
        return Refuse("only 1 to 4 samples per pixel are supported");
    if (samples > 1 && planar != PLANARCONFIG_CONTIG)
        return Refuse("images with separate colour planes are not supported");
    if (w < 1 || h < 1 || w > uint32_t(kMaxImageSide) || h > uint32_t(kMaxImageSide))
        return Refuse("its size is not supported");
    const int64_t lineBytes = int64_t(w) * samples * (bits / 8);
    if (int64_t(TIFFScanlineSize64(tif)) != lineBytes)
        return Refuse("its pixel layout is not supported");
    if (rps == 0 || rps > h)
        rps = h;
    const int64_t strip = int64_t(TIFFStripSize64(tif));
    if (strip < lineBytes || strip > kMaxPlaneBytes)
        return Refuse("its strips are not supported");

    width = int32_t(w);
    height = int32_t(h);
    samplesPerPixel = samples;
    bitsPerSample = bits;
    rowsPerStrip = int32_t(rps);
    stripSize = strip;
    stripBuffer.reset();
    cachedStrip = -1;
    cachedBytes = 0;
    opened = 1;
    return true;
}

bool CTiffFileReader::ReadLine(uint8_t* buffer, int32_t line)
{
    if (!opened && !Open())
        return false;
    if (!handle || writing || !buffer || rowsPerStrip <= 0 || line < 0 || line >= height)
        return false;
    const int32_t strip = line / rowsPerStrip;
    if (strip != cachedStrip) {
        if (!stripBuffer) {
            stripBuffer.reset(new (std::nothrow) uint8_t[size_t(stripSize)]);
            if (!stripBuffer)
                return false;
        }
        cachedStrip = -1;
        const tmsize_t n = TIFFReadEncodedStrip(handle.get(), uint32_t(strip), stripBuffer.get(), tmsize_t(stripSize));
        if (n <= 0)
            return false;
        cachedStrip = strip;
        cachedBytes = n;
    }
    const size_t bytes = size_t(bitsPerSample / 8);
    const size_t samples = size_t(samplesPerPixel);
    const size_t lineBytes = size_t(width) * samples * bytes;
    const size_t offset = size_t(line % rowsPerStrip) * lineBytes;
    if (int64_t(offset + lineBytes) > cachedBytes)
        return false;
    // libtiff has already put 16-bit values into the machine's byte order.
    const uint8_t* in = stripBuffer.get() + offset;
    if (samples == 1) {
        std::memcpy(buffer, in, lineBytes);
        return true;
    }
    if (bytes == 1)
        Deinterleave<uint8_t>(in, buffer, size_t(width), samples);
    else
        Deinterleave<uint16_t>(in, buffer, size_t(width), samples);
    return true;
}

bool CTiffFileReader::CreateForWriting()
{
    Close();
    openFailed = false;
    opened = 0;
    if (width < 1 || height < 1 || width > kMaxImageSide || height > kMaxImageSide || samplesPerPixel < 1
        || samplesPerPixel > 4 || (bitsPerSample != 8 && bitsPerSample != 16))
        return false;
    handle.reset(TIFFOpen(fileName.GetText(), "w"));
    if (!handle)
        return false;
    TIFF* tif = handle.get();
    writing = true;
    writeFailed = false;
    linesWritten = 0;
    stripSize = int64_t(width) * samplesPerPixel * bitsPerSample / 8;
    rowsPerStrip = 1;
    stripBuffer.reset(new (std::nothrow) uint8_t[size_t(stripSize)]);
    cachedStrip = -1;
    if (!stripBuffer) {
        writeFailed = true;
        return false;
    }
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(bitsPerSample));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(samplesPerPixel));
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(height));
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_CONTIG));
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, uint32_t(1));
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
                 uint16_t(samplesPerPixel == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK));
    return true;
}

bool CTiffFileReader::WriteLine(const uint8_t* buffer, int32_t line)
{
    if (line == 0 && !CreateForWriting())
        return false;
    if (!handle || !writing || !buffer || line < 0 || line >= height)
        return false;
    const size_t samples = size_t(samplesPerPixel);
    const size_t bytes = size_t(bitsPerSample / 8);
    uint8_t* out = stripBuffer.get();
    if (samples == 1) {
        std::memcpy(out, buffer, size_t(stripSize));
    } else {
        if (bytes == 1)
            Interleave<uint8_t>(buffer, out, size_t(width), samples);
        else
            Interleave<uint16_t>(buffer, out, size_t(width), samples);
    }
    if (TIFFWriteRawStrip(handle.get(), uint32_t(line), out, tmsize_t(stripSize)) != tmsize_t(stripSize)) {
        writeFailed = true;
        return false;
    }
    ++linesWritten;
    return true;
}

bool CTiffFileReader::Close()
{
    if (!handle)
        return !writeFailed;
    bool ok = true;
    if (writing) {
        ok = !writeFailed && linesWritten >= height && TIFFFlush(handle.get()) == 1;
        writeFailed = !ok;
    }
    handle.reset();
    writing = false;
    return ok;
}
