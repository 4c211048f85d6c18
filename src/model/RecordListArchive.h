// Archive layout shared by the owning lists of versioned records (cameras,
// images, observations): the list's version, the record count, then each
// record in list order.
#pragma once

#include <cstdint>

#include "BinArchive.h"
#include "OwningArray.h"

// Stores the list (a null slot as a default record) or appends the records
// read. The list's own version is read only when version is null or -1; the
// count is checked against the bytes left (minRecordBytes a record) before
// anything is allocated. False when the archive failed or a record did.
template <class Record>
bool SerializeRecordList(COwningArray<Record>& list, CBinArchive& ar, int* version, std::int32_t listVersion,
                         std::int64_t minRecordBytes)
{
    if (ar.IsStoring()) {
        ar.WriteInt(listVersion);
        ar.WriteInt(list.GetSize());
        for (int i = 0; i < list.GetSize(); ++i) {
            Record* record = list.GetAt(i);
            Record placeholder;
            if (!(record ? record : &placeholder)->Serialize(ar, version)) return false;
        }
        return !ar.fail();
    }

    if (!version || *version == -1) {
        std::int32_t stored = 0;
        ar.ReadInt(stored);
    }
    std::int32_t count = 0;
    ar.ReadInt(count);
    if (ar.fail() || !ar.CheckCount(count, minRecordBytes)) return false;
    list.Reserve(list.GetSize() + count);
    for (int i = 0; i < count; ++i)
        if (!list.AddNew()->Serialize(ar, version)) return false;
    return !ar.fail();
}
