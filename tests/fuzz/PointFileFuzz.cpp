// Coordinate files through the file reader (CPointSet::Load, ReadXyzFile),
// as a plain, control, discrepancy set or an EO device; the first byte picks
// the role, the rest is the file. The file reader reads exactly what the
// stream reader reads, and a file that cannot be read leaves the set as it
// was.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "BinArchive.h"
#include "EODevice.h"
#include "FileFuzzing.h"
#include "PointSet.h"

namespace {

// The points as stored (NaN equals NaN there).
std::string StoredPoints(const CPointSet& set)
{
    std::stringbuf buffer(std::ios::out | std::ios::binary);
    CBinArchive ar(&buffer, std::ios::out);
    for (int i = 0; i < set.GetSize(); ++i) {
        CObjectPoint point(*set.GetAt(i));
        point.Serialize(ar, nullptr, false);
    }
    return buffer.str();
}

bool SamePoints(const CPointSet& a, const CPointSet& b)
{
    return a.GetSize() == b.GetSize() && StoredPoints(a) == StoredPoints(b);
}

void Prime(CPointSet& set, int role)
{
    set.isControl = role == 1;
    set.isDiscrepancySet = role == 2;
    set.AddPointSorted(CObjectPoint("OLD", 1, 2, 3));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const CFuzzInputEnd inputEnd;
    const CFuzzFolder& folder = FuzzFolder();
    if (size == 0 || !folder.IsMade())
        return 0;
    const int role = data[0] % 4;
    const std::string path = folder.File(role == 3 ? "Device.eod" : "Points.xyz");
    if (!WriteFuzzFile(path, data + 1, size - 1))
        return 0;

    CPointSet streamed;
    Prime(streamed, role);
    std::istringstream in(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
    int streamFields = 0;
    const bool streamOk = streamed.ReadXyzStream(in, &streamFields);

    CEODevice device;
    CPointSet plain;
    CPointSet& set = role == 3 ? device : plain;
    Prime(set, role);
    int fields = -7;
    const bool ok = role == 3 ? set.Load(path.c_str()) : set.ReadXyzFile(path.c_str(), &fields);
    if (ok != streamOk || ok != (set.GetSize() > 0) || !SamePoints(set, streamed))
        __builtin_trap();
    if (role != 3 && fields != streamFields)
        __builtin_trap();
    for (int i = 1; i < set.GetSize(); ++i)
        if (set.GetAt(i)->label < set.GetAt(i - 1)->label)
            __builtin_trap();

    // A file that is gone, or a folder, is no coordinate file: the set stays.
    folder.Empty();
    const CPointSet before(set);
    if (set.ReadXyzFile(path.c_str(), &fields) || set.Load(folder.Path().c_str()) || !SamePoints(set, before))
        __builtin_trap();
    return 0;
}
