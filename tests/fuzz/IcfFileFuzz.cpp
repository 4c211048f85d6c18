// Reads arbitrary bytes as an image coordinate file. The reader must not
// crash or run away, and what it keeps must be sane: valid labels in label
// order, finite coordinates, no more observations than lines.
#include "ProjectImage.h"
#include "FileFuzzing.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const CFuzzInputEnd inputEnd;
    const char* text = reinterpret_cast<const char*>(data);
    CProjectImage image;
    const double defaultSigma = 0.0005;
    if (!image.ReadIcfText(text, size, defaultSigma)) __builtin_trap();

    std::size_t lines = 0;
    for (std::size_t i = 0; i < size; ++i)
        if (text[i] == '\n') ++lines;
    if (size > 0) ++lines;
    const CObservationList& targets = image.targets;
    if (static_cast<std::size_t>(targets.GetSize()) > lines) __builtin_trap();
    for (int i = 0; i < targets.GetSize(); ++i) {
        const CImageObservation* o = targets.GetAt(i);
        const char* label = o->label.GetText();
        if (std::strlen(label) == 0 || std::strlen(label) > 16 || CNameBuffer::HasInvalidChar(label))
            __builtin_trap();
        if (!std::isfinite(o->x) || !std::isfinite(o->y) || !std::isfinite(o->sigmaX) || !std::isfinite(o->sigmaY))
            __builtin_trap();
        if (i > 0 && o->label < targets.GetAt(i - 1)->label) __builtin_trap();
    }
    return 0;
}
