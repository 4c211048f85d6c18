// Reads arbitrary bytes as one of the project's nested record lists: cameras,
// images (with their fiducial and target observations and target ellipses),
// point sets, scale bars or a single target ellipse. The first byte picks the
// record kind and the version passed in (-1: the record's own). A list that
// loads must store, and what it stores must read back and store to the same
// bytes.
#include "BinArchive.h"
#include "Camera.h"
#include "EllipseRecord.h"
#include "PointSetList.h"
#include "ProjectImageList.h"
#include "ScaleBar.h"
#include "FileFuzzing.h"

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

namespace {

template <class Record>
bool Read(const std::string& bytes, Record& record, int version)
{
    std::stringbuf buffer(bytes, std::ios::in | std::ios::binary);
    CBinArchive ar(&buffer, std::ios::in);
    return record.Serialize(ar, &version) && !ar.fail();
}

template <class Record>
std::string Store(Record& record)
{
    std::stringbuf buffer(std::ios::out | std::ios::binary);
    CBinArchive ar(&buffer, std::ios::out);
    int own = -1;
    if (!record.Serialize(ar, &own) || ar.fail())
        __builtin_trap();
    return buffer.str();
}

// Scale bars carry no version; give them the same shape as the rest.
struct Bars {
    CScaleBarList list;
    bool Serialize(CBinArchive& ar, int*) { return list.Serialize(ar); }
};

template <class Record>
void Check(const std::string& bytes, int version)
{
    Record first;
    if (!Read(bytes, first, version))
        return;
    const std::string stored = Store(first);
    Record again;
    if (!Read(stored, again, -1))
        __builtin_trap();
    if (Store(again) != stored)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const CFuzzInputEnd inputEnd;
    if (size == 0)
        return 0;
    static const int versions[] = {-1, 0, 1, 2, 5, 8, 9};
    const int version = versions[(data[0] / 5) % 7];
    const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 5) {
    case 0: Check<CCameraList>(bytes, version); break;
    case 1: Check<CProjectImageList>(bytes, version); break;
    case 2: Check<CPointSetList>(bytes, version); break;
    case 3: Check<Bars>(bytes, version); break;
    default: Check<CTargetEllipse>(bytes, version); break;
    }
    return 0;
}
