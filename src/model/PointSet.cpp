#include "PointSet.h"

#include <cmath>
#include <vector>

#include "BinArchive.h"

namespace {

// Smallest number of bytes a point record can take: the part that every
// record version holds (flags, empty sightings, coordinates, offsets, two
// spare triples, sigmas, rms, ray counts, empty label, empty index table).
constexpr int64_t kMinPointRecordBytes = 4 + 4 + 24 + 24 + 24 + 24 + 8 + 24 + 4 + 4 + 4 + 4;
// A line: two empty strings.
constexpr int64_t kMinLineRecordBytes = 8;

// Paths are kept with '/' and stored with '\', as the project file has them.
CDynString WithSeparator(const CDynString& path, char from, char to)
{
    CDynString out(path);
    std::vector<char> bytes(path.GetText(), path.GetText() + path.GetLength());
    bool changed = false;
    for (char& ch : bytes) {
        if (ch == from) {
            ch = to;
            changed = true;
        }
    }
    if (changed) {
        bytes.push_back('\0');
        out = bytes.data();
    }
    return out;
}

} // namespace

// ---------------------------------------------------------------- lines

void CPointLineList::Serialize(CBinArchive& ar)
{
    if (ar.IsStoring()) {
        ar.WriteInt(GetSize());
        for (int i = 0; i < GetSize(); ++i) {
            const CPointLine* line = GetAt(i);
            ar.WriteString(line->from);
            ar.WriteString(line->to);
        }
        return;
    }
    int32_t n = 0;
    ar.ReadInt(n);
    if (ar.fail())
        return;
    if (!ar.CheckCount(n, kMinLineRecordBytes))
        return;
    Reserve(GetSize() + n);
    for (int32_t i = 0; i < n; ++i) {
        CPointLine* line = AddNew();
        ar.ReadString(line->from);
        ar.ReadString(line->to);
        if (ar.fail()) {
            Remove(line);
            return;
        }
    }
}

int CPointLineList::CountSelected() const
{
    int n = 0;
    for (int i = 0; i < GetSize(); ++i)
        if (GetAt(i)->selected)
            ++n;
    return n;
}

void CPointLineList::RemoveSelected()
{
    for (int i = GetSize() - 1; i >= 0; --i)
        if (GetAt(i)->selected)
            RemoveAt(i, 1);
}

void CPointLineList::SelectAll(bool flag)
{
    for (int i = 0; i < GetSize(); ++i)
        GetAt(i)->selected = flag;
}

void CPointLineList::RemoveLinesWith(const char* text)
{
    for (int i = GetSize() - 1; i >= 0; --i) {
        const CPointLine* line = GetAt(i);
        if (line->from == text || line->to == text)
            RemoveAt(i, 1);
    }
}

// ---------------------------------------------------------------- set

CPointSet::CPointSet(int growBy)
    : CObjectPointList(growBy)
{
}

CPointSet::CPointSet(const CPointSet& other)
    : CObjectPointList(other)
{
    CopySetPart(other);
}

CPointSet& CPointSet::operator=(const CPointSet& other)
{
    if (this != &other) {
        Copy(other);
        CopySetPart(other);
    }
    return *this;
}

void CPointSet::CopySetPart(const CPointSet& other)
{
    isDriver = other.isDriver;
    isControl = other.isControl;
    isEODevice = other.isEODevice;
    isDiscrepancySet = other.isDiscrepancySet;
    lines.Copy(other.lines);
    name = other.name;
}

bool CPointSet::IsEqual(const CPointSet& other) const
{
    if (GetSize() != other.GetSize())
        return false;
    for (int i = 0; i < GetSize(); ++i) {
        const CObjectPoint* a = GetAt(i);
        const CObjectPoint* b = other.GetAt(i);
        if (a == nullptr || b == nullptr) {
            if (a != b)
                return false;
            continue;
        }
        if (!a->IsEqual(*b))
            return false;
    }
    return true;
}

int CPointSet::AddPointSorted(const CObjectPoint& point)
{
    return InsertSorted(point);
}

int CPointSet::AddNewPointSorted(const CNameBuffer& label)
{
    return AddPointSorted(CObjectPoint(label));
}

int CPointSet::IndexOfLabel(const CNameBuffer& label) const
{
    int index = -1;
    return BinarySearch(label, index) ? index : -1;
}

bool CPointSet::GetNextLabel(const CNameBuffer& label, CNameBuffer& next) const
{
    int index = -1;
    if (!BinarySearch(label, index) || index >= GetSize() - 1)
        return false;
    const CObjectPoint* p = GetAt(index + 1);
    if (p == nullptr)
        return false;
    next.Copy(p->label);
    return true;
}

bool CPointSet::RemovePoint(const CNameBuffer& label)
{
    int index = -1;
    if (!BinarySearch(label, index))
        return false;
    lines.RemoveLinesWith(label.GetText());
    RemoveAt(index, 1);
    return true;
}

bool CPointSet::RemovePointByText(const char* text)
{
    CNameBuffer key;
    key.Set(text);
    return RemovePoint(key);
}

void CPointSet::UpdatePointsFrom(const CPointSet& other)
{
    // Walk a snapshot: the lookups below sort this set, which may be the other.
    std::vector<const CObjectPoint*> source;
    for (int i = 0; i < other.GetSize(); ++i)
        if (const CObjectPoint* p = other.GetAt(i))
            source.push_back(p);
    for (const CObjectPoint* p : source) {
        CObjectPoint* q = FindByLabel(p->label);
        if (q == nullptr)
            continue;
        if (q != p)
            q->CopyDataFrom(*p);
        q->updated = true;
    }
}

bool CPointSet::ClearPointOffsets()
{
    for (int i = 0; i < GetSize(); ++i)
        if (CObjectPoint* p = GetAt(i))
            p->ClearOffsets();
    return true;
}

void CPointSet::SelectAll(bool flag)
{
    for (int i = 0; i < GetSize(); ++i)
        if (CObjectPoint* p = GetAt(i))
            p->selected = flag;
}

bool CPointSet::HasLabelWithPrefix(const CNameBuffer& prefix) const
{
    for (int i = 0; i < GetSize(); ++i)
        if (const CObjectPoint* p = GetAt(i); p != nullptr && p->label.StartsWith(prefix))
            return true;
    return false;
}

bool CPointSet::HasNormals() const
{
    for (int i = 0; i < GetSize(); ++i)
        if (const CObjectPoint* p = GetAt(i); p != nullptr && p->HasNormal())
            return true;
    return false;
}

void CPointSet::Scale(double factor)
{
    for (int i = 0; i < GetSize(); ++i)
        if (CObjectPoint* p = GetAt(i))
            p->Scale(factor);
}

bool CPointSet::GetCentroid(CObjectPoint& out) const
{
    double sx = 0.0, sy = 0.0, sz = 0.0;
    int n = 0;
    for (int i = 0; i < GetSize(); ++i) {
        if (const CObjectPoint* p = GetAt(i)) {
            sx += p->x;
            sy += p->y;
            sz += p->z;
            ++n;
        }
    }
    if (n == 0)
        return false;
    out.x = sx / n;
    out.y = sy / n;
    out.z = sz / n;
    return true;
}

double CPointSet::GetExtentDiagonal() const
{
    double ex = 0.0, ey = 0.0, ez = 0.0;
    GetExtentX(ex);
    GetExtentY(ey);
    GetExtentZ(ez);
    return std::sqrt(ex * ex + ey * ey + ez * ez);
}

void CPointSet::GetFileName(CDynString& out) const
{
    out = name.GetFileName();
}

void CPointSet::Serialize(CBinArchive& ar, int* version)
{
    if (ar.IsStoring()) {
        ar.WriteInt(kVersion);
        lines.Serialize(ar);
        ar.WriteByte(isDiscrepancySet ? 1 : 0);
        ar.WriteByte(isControl ? 1 : 0);
        ar.WriteByte(isDriver ? 1 : 0);
        ar.WriteByte(isEODevice ? 1 : 0);
        ar.WriteString(WithSeparator(name, '/', '\\'));
        ar.WriteInt(GetSize());
        for (int i = 0; i < GetSize(); ++i)
            GetAt(i)->Serialize(ar, version, isDiscrepancySet);
        return;
    }

    int v = version ? *version : -1;
    if (v == -1) {
        int32_t own = -1;
        ar.ReadInt(own);
        if (ar.fail())
            return;
        v = own;
    }
    if (v == 12) {
        lines.Serialize(ar);
        ar.ReadBool(isDiscrepancySet);
    } else if (v == 11) {
        ar.ReadBool(isDiscrepancySet);
    }
    ar.ReadBool(isControl);
    ar.ReadBool(isDriver);
    ar.ReadBool(isEODevice);
    CDynString stored;
    ar.ReadString(stored);
    if (ar.fail())
        return;
    name = WithSeparator(stored, '\\', '/');
    if (v < 11) {
        CDynString file = name.GetFileName();
        isDiscrepancySet = file == "Trans.xyz" || file == "Compare.xyz";
    }

    int32_t n = 0;
    ar.ReadInt(n);
    if (ar.fail())
        return;
    if (!ar.CheckCount(n, kMinPointRecordBytes))
        return;
    Reserve(GetSize() + n);
    for (int32_t i = 0; i < n; ++i) {
        CObjectPoint* p = AddNew();
        p->Serialize(ar, version, isDiscrepancySet);
        if (ar.fail()) {
            // A point cut short is not kept.
            Remove(p);
            break;
        }
    }
    SortByLabel();
}
