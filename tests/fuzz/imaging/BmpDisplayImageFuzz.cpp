// BMP display-image loader on arbitrary bytes.
#include "DisplayImageFuzzing.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    UnderLibFuzzer() = true;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CBmpDisplayImage image;
    FuzzDisplayImage(image, ".bmp", data, size);
    return 0;
}
