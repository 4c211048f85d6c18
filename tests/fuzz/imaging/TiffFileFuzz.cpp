// TIFF line reader on arbitrary bytes: open, then every line (the first and
// last lines only for images of more than 256K pixels).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "DisplayImageFuzzing.h"
#include "Message.h"
#include "TiffFileReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool quiet = [] {
        SetMessageBoxHandler([](const char*, const char*, unsigned) { return IDOK; });
        return true;
    }();
    (void)quiet;
    const std::string path = FuzzScratchPath(".tif");
    if (!WriteFuzzFile(path, data, size))
        return 0;
    {
        CTiffFileReader file(path.c_str());
        const int32_t w = file.GetWidth(), h = file.GetHeight(), s = file.GetSamplesPerPixel();
        const int32_t bits = file.GetBitsPerSample();
        if (w > 0) {
            if ((bits != 8 && bits != 16) || s < 1 || h < 1 || w > kMaxImageSide || h > kMaxImageSide)
                __builtin_trap();
            std::vector<uint8_t> line(file.GetLineBytes());
            const bool large = int64_t(w) * h > (1 << 18);
            for (int32_t y = 0; y < h; ++y) {
                if (large && y == 16)
                    y = h - 1;
                file.ReadLine(line.data(), y);
            }
            // Out of range: refused.
            if (file.ReadLine(line.data(), h) || file.ReadLine(line.data(), -1))
                __builtin_trap();
        } else if (file.ReadLine(nullptr, 0)) {
            __builtin_trap();
        }
    }
    TakeCapturedMessages();
    std::remove(path.c_str());
    return 0;
}
