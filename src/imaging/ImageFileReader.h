// Line-by-line access to an image file. A line is planar: all width values
// of sample 0, then those of sample 1, and so on; a value is bits / 8 bytes,
// 16-bit values in the machine's byte order.
#pragma once

#include <cstddef>
#include <cstdint>

#include "FilePath.h"
#include "ImageLimits.h"

// Largest plane of an image store, and largest strip read from a file.
constexpr int64_t kMaxPlaneBytes = int64_t(1) << 30;

class CImageFileReader {
public:
    explicit CImageFileReader(const char* fileName);
    virtual ~CImageFileReader() = default;
    CImageFileReader(const CImageFileReader&) = delete;
    CImageFileReader& operator=(const CImageFileReader&) = delete;

    virtual int32_t GetWidth() { return width; }
    virtual int32_t GetHeight() { return height; }
    virtual int32_t GetBitsPerSample() { return bitsPerSample; }
    virtual int32_t GetSamplesPerPixel() { return samplesPerPixel; }
    virtual int32_t SetWidth(int32_t value) { return width = value; }
    virtual int32_t SetHeight(int32_t value) { return height = value; }
    virtual int32_t SetBitsPerSample(int32_t value) { return bitsPerSample = value; }
    virtual int32_t SetSamplesPerPixel(int32_t value) { return samplesPerPixel = value; }

    // buffer holds one line (GetLineBytes bytes).
    virtual bool ReadLine(uint8_t* buffer, int32_t line);
    virtual bool WriteLine(const uint8_t* buffer, int32_t line);

    // Line counter: FirstLine gives 0, then NextLine 1, 2, ...
    virtual int32_t FirstLine();
    virtual bool HasMoreLines();
    virtual int32_t NextLine();

    // Bytes of one planar line for the present size and depth; 0 when the
    // size or depth is not positive.
    size_t GetLineBytes();

    const CFilePath& GetFileName() const { return fileName; }

protected:
    CFilePath fileName;
    int32_t height = 0;
    int32_t width = 0;
    int32_t samplesPerPixel = 0;
    int32_t bitsPerSample = 0;
    int32_t lineCounter = 0;
    uint8_t opened = 0;
};
