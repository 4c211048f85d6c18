// Reads JPEG photographs line by line through libjpeg. Grey images give one
// sample per pixel, colour images three (red, green, blue), 8 bits each.
// Library messages go to a message box captioned "JPEG Library Error"; an
// error or damaged data abandons the image, and the open or ReadLine that
// met it returns false, as does every later one.
#pragma once

#include <cstdio>
#include <memory>

#include "ImageFileReader.h"

class CJpegFileReader : public CImageFileReader {
public:
    explicit CJpegFileReader(const char* fileName);
    ~CJpegFileReader() override;

    int32_t GetWidth() override;
    int32_t GetHeight() override;
    int32_t GetBitsPerSample() override;
    int32_t GetSamplesPerPixel() override;

    // Opens the file, reads its header and starts decompressing. False when
    // the file is open already, cannot be opened or cannot be read.
    bool Open();

    // The next line of the image (the line number is not used). Reading the
    // last line also finishes the decompression, which checks the rest of the
    // file: damage found there fails that last line.
    bool ReadLine(uint8_t* buffer, int32_t line) override;

    // True once the image was abandoned after an error or damaged data.
    bool HasFailed() const { return failed; }

    struct Decoder;

private:
    template <class F>
    bool Guarded(F&& call);
    void Abandon();
    bool Refuse(const char* reason);

    std::unique_ptr<Decoder> decoder;
    FILE* file = nullptr;
    std::unique_ptr<uint8_t[]> scanline;
    bool started = false;
    bool failed = false;
};
