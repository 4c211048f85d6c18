// Reads and writes TIFF images line by line through libtiff. Reading takes
// the largest image of the file; strips of 8 or 16 bits per sample, one
// interleaved plane, any compression that libtiff decodes. Writing makes an
// uncompressed file of one row per strip.
#pragma once

#include <memory>

#include "ImageFileReader.h"
#include "TiffSupport.h"

class CTiffFileReader : public CImageFileReader {
public:
    explicit CTiffFileReader(const char* fileName);
    ~CTiffFileReader() override;

    int32_t GetWidth() override;
    int32_t GetHeight() override;
    int32_t GetBitsPerSample() override;
    int32_t GetSamplesPerPixel() override;

    // Opens the file and reads the header of the chosen image. A file that
    // cannot be read is said so in a message box once; later calls return
    // false without another try.
    bool Open();

    bool ReadLine(uint8_t* buffer, int32_t line) override;
    // Line 0 creates the file with the size and depth set before.
    bool WriteLine(const uint8_t* buffer, int32_t line) override;

    // Completes a written file (its directory) and closes it. False when a
    // line is missing or a strip or the directory could not be written.
    bool Close();

private:
    bool Refuse(const char* reason);
    bool CreateForWriting();

    TiffHandle handle;
    int32_t rowsPerStrip = 0;
    int64_t stripSize = 0;
    int32_t cachedStrip = -1;
    int64_t cachedBytes = 0; // bytes decoded into the strip buffer
    std::unique_ptr<uint8_t[]> stripBuffer;
    bool writing = false;
    bool writeFailed = false;
    int32_t linesWritten = 0;
    bool openFailed = false;
};
