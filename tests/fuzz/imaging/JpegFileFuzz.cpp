// JPEG reader on arbitrary bytes: open, then every line (the first lines
// only for images of more than a million pixels).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "DisplayImageFuzzing.h"
#include "JpegFileReader.h"
#include "Message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool quiet = [] {
        SetMessageBoxHandler([](const char*, const char*, unsigned) { return IDOK; });
        return true;
    }();
    (void)quiet;
    const std::string path = FuzzScratchPath(".jpg");
    if (!WriteFuzzFile(path, data, size))
        return 0;
    {
        CJpegFileReader file(path.c_str());
        const int32_t w = file.GetWidth(), h = file.GetHeight(), s = file.GetSamplesPerPixel();
        if (w > 0) {
            if (file.GetBitsPerSample() != 8 || (s != 1 && s != 3) || h < 1 || w > kMaxImageSide || h > kMaxImageSide)
                __builtin_trap();
            std::vector<uint8_t> line(size_t(w) * size_t(s));
            const int32_t lines = int64_t(w) * h > (1 << 20) ? 16 : h;
            for (int32_t y = 0; y < lines; ++y)
                if (!file.ReadLine(line.data(), y))
                    break;
        } else if (file.ReadLine(nullptr, 0)) {
            __builtin_trap();
        }
    }
    TakeCapturedMessages();
    std::remove(path.c_str());
    return 0;
}
