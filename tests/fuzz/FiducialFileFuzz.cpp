// Feeds arbitrary bytes to the fiducial file reader: it must neither crash nor
// read or write out of bounds, and what it keeps must be in label order.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "ImageObservation.h"
#include "FileFuzzing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const CFuzzInputEnd inputEnd;
    CObservationList list;
    list.AddSorted(CImageObservation(CNameBuffer("KEEP"), 1.0, 2.0));
    const bool read = list.ReadXyText(reinterpret_cast<const char*>(data), size);
    if (!read && (list.GetSize() != 1 || list.GetAt(0)->x != 1.0)) std::abort();
    for (int i = 1; i < list.GetSize(); ++i)
        if (list.GetAt(i)->label < list.GetAt(i - 1)->label) std::abort();
    for (int i = 0; i < list.GetSize(); ++i)
        if (list.GetAt(i)->label.GetText()[0] == '\0') std::abort();
    return 0;
}
