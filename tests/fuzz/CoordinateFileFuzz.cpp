// Coordinate file reader on arbitrary bytes. The first byte picks the kind
// of set (plain, control, discrepancy); the rest is the file.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "PointSet.h"
#include "FileFuzzing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const CFuzzInputEnd inputEnd;
    if (size == 0)
        return 0;
    CPointSet set;
    set.isControl = data[0] % 3 == 1;
    set.isDiscrepancySet = data[0] % 3 == 2;
    set.AddPointSorted(CObjectPoint("OLD", 1, 2, 3));
    std::istringstream in(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
    int fields = 0;
    const bool ok = set.ReadXyzStream(in, &fields);
    // The result agrees with the points, which stay in label order.
    if (ok != (set.GetSize() > 0))
        __builtin_trap();
    for (int i = 1; i < set.GetSize(); ++i)
        if (set.GetAt(i)->label < set.GetAt(i - 1)->label)
            __builtin_trap();
    return 0;
}
