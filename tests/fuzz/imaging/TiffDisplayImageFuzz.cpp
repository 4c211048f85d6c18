// TIFF display-image loader on arbitrary bytes.
#include "DisplayImageFuzzing.h"
#include "TiffDisplayImage.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    UnderLibFuzzer() = true;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CTiffDisplayImage image;
    FuzzDisplayImage(image, ".tif", data, size);
    return 0;
}
