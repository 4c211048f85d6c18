#include "EODevice.h"

#include "BinArchive.h"

CEODevice::CEODevice(int growBy)
    : CPointSet(growBy)
{
    Reset();
}

CEODevice::CEODevice(const CEODevice& other)
    : CPointSet(other)
{
    CopyDeviceFields(other);
}

CEODevice& CEODevice::operator=(const CEODevice& other)
{
    if (this != &other) {
        CPointSet::operator=(other);
        CopyDeviceFields(other);
    }
    return *this;
}

void CEODevice::CopyDeviceFields(const CEODevice& other)
{
    idShape = other.idShape;
    modified = other.modified;
    calibrationTime = other.calibrationTime;
    comment = other.comment;
    unit = other.unit;
    maxResectionRms = other.maxResectionRms;
}

void CEODevice::Reset()
{
    isDriver = false;
    isControl = false;
    isEODevice = true;
    idShape = 1;
    modified = false;
    calibrationTime = "";
    comment = "";
    unit = "";
    maxResectionRms = 5.0;
    RemoveAll();
    name = "";
}

void CEODevice::CopyFrom(const CPointSet& set)
{
    Reset();
    if (&set == this)
        return;
    CPointSet::operator=(set);
    isEODevice = true;
}

CDynString CEODevice::GetName() const
{
    return name.GetTitle();
}

void CEODevice::SetName(const char* title)
{
    name.SetTitle(CDynString(title));
}

bool CEODevice::CompletePath(const CDynString& projectFolder)
{
    if (name.IsEmpty())
        return false;
    if (name.GetExtension().IsEmpty())
        name.SetExtension(CDynString("eod"));
    if (name.GetFolder().IsEmpty()) {
        if (projectFolder.IsEmpty())
            return false;
        name.SetFolder(projectFolder);
    }
    return true;
}

void CEODevice::Serialize(CBinArchive& ar, int* version)
{
    CPointSet::Serialize(ar, version);
    if (ar.IsStoring()) {
        ar.WriteInt(kVersion);
        ar.WriteInt(idShape);
        ar.WriteString(calibrationTime);
        ar.WriteString(comment);
        ar.WriteString(unit);
        ar.WriteDouble(maxResectionRms);
        return;
    }
    if (version == nullptr || *version == -1) {
        int32_t own = 0;
        ar.ReadInt(own);
    }
    ar.ReadInt(idShape);
    ar.ReadString(calibrationTime);
    ar.ReadString(comment);
    ar.ReadString(unit);
    ar.ReadDouble(maxResectionRms);
}

CEODevice* CEODeviceList::FindByName(const char* text) const
{
    const int i = IndexOfName(text);
    return i < 0 ? nullptr : GetAt(i);
}

int CEODeviceList::IndexOfName(const char* text) const
{
    for (int i = 0; i < GetSize(); ++i)
        if (const CEODevice* d = GetAt(i); d != nullptr && d->GetName() == text)
            return i;
    return -1;
}

bool CEODeviceList::RemoveByName(const char* text)
{
    const int i = IndexOfName(text);
    if (i < 0)
        return false;
    RemoveAt(i, 1);
    return true;
}
