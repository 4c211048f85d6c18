// Point-set and EO-device records read from arbitrary bytes. The first byte
// picks the version passed in and whether an EO device is read.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "BinArchive.h"
#include "EODevice.h"
#include "PointSet.h"
#include "FileFuzzing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const CFuzzInputEnd inputEnd;
    if (size == 0)
        return 0;
    static const int versions[] = {-1, 2, 5, 8, 9, 10, 11, 12, 13};
    int version = versions[data[0] % 9];
    const bool device = (data[0] / 9) % 2 == 1;
    std::stringbuf buffer(std::string(reinterpret_cast<const char*>(data) + 1, size - 1), std::ios::in);
    CBinArchive ar(&buffer, std::ios::in);
    if (device) {
        CEODevice d;
        d.Serialize(ar, &version);
        d.GetExtentDiagonal();
    } else {
        CPointSet set;
        set.Serialize(ar, &version);
        for (int i = 1; i < set.GetSize(); ++i)
            if (set.GetAt(i)->label < set.GetAt(i - 1)->label)
                __builtin_trap();
        // Whatever was read can be stored again.
        std::stringbuf outBuffer(std::ios::out);
        CBinArchive out(&outBuffer, std::ios::out);
        int own = -1;
        set.Serialize(out, &own);
    }
    return 0;
}
