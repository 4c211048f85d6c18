#include "ScaleBar.h"

#include <cstring>

CScaleBar::CScaleBar()
{
    Reset();
}

CScaleBar::CScaleBar(const CScaleBar& other)
    : rejected(false)
{
    Copy(other);
}

CScaleBar& CScaleBar::operator=(const CScaleBar& other)
{
    Copy(other);
    return *this;
}

void CScaleBar::Reset()
{
    version = -1;
    name.Empty();
    units.Empty();
    material.Empty();
    temperatureUnits.Empty();
    calibratedTemperature = -1.0;
    endLabel1 = CNameBuffer();
    endLabel2 = CNameBuffer();
    calibratedLength = -1.0;
    standardDeviation = 1e-16;
    rays1 = -1;
    rays2 = -1;
    adjustedLength = -1.0;
    rejected = false;
    modified = false;
}

void CScaleBar::Copy(const CScaleBar& other)
{
    if (&other == this)
        return;
    version = other.version;
    name = other.name;
    units = other.units;
    material = other.material;
    temperatureUnits = other.temperatureUnits;
    calibratedTemperature = other.calibratedTemperature;
    endLabel1 = other.endLabel1;
    endLabel2 = other.endLabel2;
    calibratedLength = other.calibratedLength;
    standardDeviation = other.standardDeviation;
    rays1 = other.rays1;
    rays2 = other.rays2;
    adjustedLength = other.adjustedLength;
    modified = other.modified;
}

void CScaleBar::ResetResults()
{
    rays1 = -1;
    rays2 = -1;
    adjustedLength = -1.0;
    rejected = false;
}

bool CScaleBar::Serialize(CBinArchive& ar)
{
    if (ar.IsStoring()) {
        ar.WriteInt(version);
        ar.WriteString(name);
        ar.WriteString(units);
        ar.WriteString(material);
        ar.WriteString(temperatureUnits);
        ar.WriteDouble(calibratedTemperature);
        ar.WriteName(endLabel1);
        ar.WriteName(endLabel2);
        ar.WriteInt(rays1);
        ar.WriteInt(rays2);
        ar.WriteDouble(calibratedLength);
        ar.WriteDouble(adjustedLength);
        return !ar.fail();
    }
    // Read into a copy so that a record cut short leaves this bar untouched.
    CScaleBar bar(*this);
    ar.ReadInt(bar.version);
    ar.ReadString(bar.name);
    ar.ReadString(bar.units);
    ar.ReadString(bar.material);
    ar.ReadString(bar.temperatureUnits);
    ar.ReadDouble(bar.calibratedTemperature);
    ar.ReadName(bar.endLabel1);
    ar.ReadName(bar.endLabel2);
    ar.ReadInt(bar.rays1);
    ar.ReadInt(bar.rays2);
    ar.ReadDouble(bar.calibratedLength);
    ar.ReadDouble(bar.adjustedLength);
    if (ar.fail())
        return false;
    Copy(bar);
    return true;
}

CScaleBarList::CScaleBarList()
    : COwningArray<CScaleBar>(0), scalingResult(-1)
{
}

CScaleBar* CScaleBarList::FindByName(const char* text) const
{
    const int index = FindIndexByName(text);
    return index < 0 ? nullptr : GetAt(index);
}

int CScaleBarList::FindIndexByName(const char* text) const
{
    if (text == nullptr)
        text = "";
    const int n = GetSize();
    for (int i = 0; i < n; ++i) {
        const CScaleBar* bar = GetAt(i);
        if (bar == nullptr)
            continue;
        const char* barName = bar->name.GetText();
        if (std::strcmp(barName != nullptr ? barName : "", text) == 0)
            return i;
    }
    return -1;
}

void CScaleBarList::ResetResults()
{
    const int n = GetSize();
    for (int i = 0; i < n; ++i)
        if (CScaleBar* bar = GetAt(i))
            bar->ResetResults();
}

bool CScaleBarList::Serialize(CBinArchive& ar)
{
    if (ar.IsStoring()) {
        const int n = GetSize();
        ar.WriteInt(n);
        for (int i = 0; i < n; ++i) {
            if (CScaleBar* bar = GetAt(i)) {
                bar->Serialize(ar);
            } else {
                CScaleBar empty;  // an empty slot still takes its place in the count
                empty.Serialize(ar);
            }
        }
        return !ar.fail();
    }
    int32_t count = 0;
    ar.ReadInt(count);
    if (ar.fail() || !ar.CheckCount(count, CScaleBar::kMinStoredSize))
        return false;
    Reserve(GetSize() + count);
    const int oldSize = GetSize();
    for (int i = 0; i < count; ++i) {
        if (!AddNew()->Serialize(ar)) {
            SetSizeTruncate(oldSize, -1);
            return false;
        }
    }
    return true;
}
