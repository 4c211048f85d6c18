// Shared body of the display-image fuzz targets: the bytes become a file,
// the loader reads it, and a loaded image must hold together: every grey row
// can be read, and saved as BMP and read back it gives the same grey values.
// While fuzzing, pictures of more than 4 million pixels that the loader
// would read are passed over.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "../FileFuzzing.h"
#include "BmpDisplayImage.h"
#include "Message.h"

// A file in the process's scratch folder; "" when there is none.
inline std::string FuzzScratchPath(const char* ending)
{
    const CFuzzFolder& folder = FuzzFolder();
    return folder.IsMade() ? folder.File(std::string("scratch") + ending) : std::string();
}

// A small file with a valid header may ask for gigabytes (strips that share
// one row); such pictures take too long to fuzz.
constexpr int64_t kMaxFuzzPixels = int64_t(1) << 22;

inline void FuzzDisplayImage(CDisplayImage& image, const char* ending, const uint8_t* data, size_t size)
{
    static const bool quiet = [] {
        SetMessageBoxHandler([](const char*, const char*, unsigned) { return IDOK; });
        return true;
    }();
    (void)quiet;
    const std::string path = FuzzScratchPath(ending);
    if (!WriteFuzzFile(path, data, size))
        return;
    int w = 0, h = 0;
    // Sides beyond the limit are refused at once.
    if (UnderLibFuzzer() && image.ReadSize(path.c_str(), w, h) && w <= kMaxImageSide && h <= kMaxImageSide &&
        int64_t(w) * h > kMaxFuzzPixels) {
        TakeCapturedMessages();
        std::remove(path.c_str());
        return;
    }
    if (image.Load(path.c_str(), 0)) {
        const int width = image.GetWidth();
        const int height = image.GetHeight();
        if (width <= 0 || height <= 0 || image.GetPixel(width, 0) != -1 || image.GetPixel(0, height) != -1)
            __builtin_trap();
        if (UnderLibFuzzer() && int64_t(width) * height > kMaxFuzzPixels) {
            TakeCapturedMessages();
            std::remove(path.c_str());
            return;
        }
        std::vector<uint8_t> grey(size_t(width) * height);
        std::vector<uint8_t*> rows(height);
        for (int line = 0; line < height; ++line)
            rows[line] = grey.data() + size_t(line) * width;
        if (!image.GetGreyImage(rows.data()))
            __builtin_trap();
        image.Enhance(-2.0);
        image.Zoom(CIntPoint{1, 1}, CIntRect{0, 0, 3, 3}, 1);
        const std::string saved = FuzzScratchPath("-saved.bmp");
        CBmpDisplayImage again;
        if (!image.SaveAsBmp(saved.c_str()) || !again.Load(saved.c_str(), 0) || again.GetWidth() != width ||
            again.GetHeight() != height)
            __builtin_trap();
        std::vector<uint8_t> row(width);
        for (int line = 0; line < height; ++line)
            if (!again.GetGreyRow(line, row.data()) || !std::equal(row.begin(), row.end(), rows[line]))
                __builtin_trap();
        std::remove(saved.c_str());
    }
    TakeCapturedMessages();
    std::remove(path.c_str());
}
