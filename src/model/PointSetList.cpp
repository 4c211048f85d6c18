#include "PointSetList.h"

#include <cstdint>

#include "ProjectDocument.h"

namespace {

// Fewest bytes one set occupies in the file: three flag bytes, the name's
// count and the point count (older versions have no lines and no version).
constexpr int64_t kMinSetBytes = 3 + 4 + 4;

bool TitleIs(const CPointSet* set, const char* title)
{
    return set != nullptr && title != nullptr && set->name.GetTitle() == title;
}

} // namespace

CPointSetList::CPointSetList(int growBy) : COwningArray<CPointSet>(growBy) {}

CPointSetList::CPointSetList(const CPointSetList& other)
    : COwningArray<CPointSet>(other), document(other.document)
{
}

CPointSetList& CPointSetList::operator=(const CPointSetList& other)
{
    COwningArray<CPointSet>::operator=(other);
    return *this;
}

CPointSetList::~CPointSetList() = default;

void CPointSetList::RemoveAt(int i, int n)
{
    const int before = GetSize();
    COwningArray<CPointSet>::RemoveAt(i, n);
    if (document != nullptr && GetSize() != before)
        document->PointSetsRemoved();
}

CPointSet* CPointSetList::GetDriverSet() const
{
    for (int i = 0; i < GetSize(); ++i)
        if (GetAt(i)->isDriver)
            return GetAt(i);
    return nullptr;
}

CPointSet* CPointSetList::GetControlSet() const
{
    for (int i = 0; i < GetSize(); ++i)
        if (GetAt(i)->isControl)
            return GetAt(i);
    return nullptr;
}

bool CPointSetList::HasControlSet() const
{
    return GetControlSet() != nullptr;
}

CEODevice* CPointSetList::GetEODevice() const
{
    if (document == nullptr || document->eoDevice.name.GetTitle().IsEmpty())
        return nullptr;
    return &document->eoDevice;
}

int CPointSetList::IndexOfTitle(const char* title) const
{
    for (int i = 0; i < GetSize(); ++i)
        if (TitleIs(GetAt(i), title))
            return i;
    return -1;
}

CPointSet* CPointSetList::FindSetByTitle(const char* title) const
{
    const int i = IndexOfTitle(title);
    return i < 0 ? nullptr : GetAt(i);
}

CPointSet* CPointSetList::GetPreviousSet(const char* title) const
{
    const int i = IndexOfTitle(title);
    return i > 0 ? GetAt(i - 1) : nullptr;
}

CPointSet* CPointSetList::GetNextSet(const char* title) const
{
    const int i = IndexOfTitle(title);
    return i >= 0 && i + 1 < GetSize() ? GetAt(i + 1) : nullptr;
}

CPointSet* CPointSetList::FindByName(const char* name) const
{
    if (CPointSet* set = FindSetByTitle(name))
        return set;
    // A device without a name counts as absent.
    if (CEODevice* device = GetEODevice(); device != nullptr && name != nullptr && device->name.GetTitle() == name)
        return device;
    return nullptr;
}

CPointSet* CPointSetList::ReplaceTitled(const char* title, const CPointSet& set, bool discrepancy)
{
    // The copy is made first: the given set may be the one that goes.
    CPointSet* copy = new CPointSet(set);
    const int old = IndexOfTitle(title);
    if (old >= 0)
        RemoveAt(old, 1);
    if (discrepancy)
        copy->isDiscrepancySet = true;
    GetArray().Add(copy);
    return copy;
}

bool CPointSetList::RemoveByName(const char* name)
{
    if (name == nullptr)
        return false;
    if (name[0] != '\0' && document != nullptr && document->eoDevice.name.GetTitle() == name) {
        document->eoDevice.Reset();
        return true;
    }
    const int i = IndexOfTitle(name);
    if (i < 0)
        return false;
    RemoveAt(i, 1);
    return true;
}

void CPointSetList::ToggleDriverSet(const char* name)
{
    CPointSet* set = FindByName(name);
    if (set == nullptr)
        return;
    if (!set->isDriver) {
        if (CPointSet* current = GetDriverSet())
            current->isDriver = false;
        set->isDriver = true;
    } else {
        set->isDriver = false;
    }
}

void CPointSetList::ToggleControlSet(const char* name)
{
    CPointSet* set = FindByName(name);
    if (set == nullptr)
        return;
    if (!set->isControl) {
        if (CPointSet* current = GetControlSet())
            current->isControl = false;
        set->isControl = true;
    } else {
        set->isControl = false;
    }
}

bool CPointSetList::Serialize(CBinArchive& ar, int* version)
{
    if (ar.IsStoring()) {
        ar.WriteInt(kVersion);
        ar.WriteInt(GetSize());
        for (int i = 0; i < GetSize(); ++i)
            GetAt(i)->Serialize(ar, version);
        return !ar.fail();
    }

    if (version == nullptr || *version == -1) {
        int32_t own = 0;
        ar.ReadInt(own);
    }
    int32_t n = 0;
    ar.ReadInt(n);
    if (ar.fail() || !ar.CheckCount(n, kMinSetBytes))
        return false;
    Reserve(GetSize() + n);
    for (int32_t i = 0; i < n; ++i) {
        CPointSet* set = AddNew();
        set->Serialize(ar, version);
        if (ar.fail()) {
            Remove(set);
            return false;
        }
    }
    return true;
}
