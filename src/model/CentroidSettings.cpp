#include "CentroidSettings.h"

#include "BinArchive.h"
#include "Message.h"

bool CCentroidSettings::operator==(const CCentroidSettings& o) const
{
    return thresholdValue == o.thresholdValue && targetType == o.targetType && thresholdMethod == o.thresholdMethod
        && weighting == o.weighting && minGreyRange == o.minGreyRange && minTargetSize == o.minTargetSize
        && windowSize == o.windowSize && shapeTesting == o.shapeTesting && invert == o.invert
        && xyRatio == o.xyRatio;
}

CCentroidSettings& GetCentroidSettings()
{
    static CCentroidSettings settings;
    return settings;
}

int ClampCentroidWindowSize(int size)
{
    if (size >= 1 && size <= CCentroidSettings::kMaxWindowSize)
        return size;
    return size == 0 ? 1 : CCentroidSettings::kMaxWindowSize;
}

int SetCentroidWindowSize(int size, int verbose)
{
    CCentroidSettings& settings = GetCentroidSettings();
    settings.windowSize = ClampCentroidWindowSize(size);
    if (settings.windowSize == size)
        return 1;
    if (verbose != 0)
        AfxMessageBox("Centroid window size out of range", MB_OK | MB_ICONSTOP);
    return 0;
}

void SerializeCentroidSettings(CBinArchive& ar)
{
    SerializeCentroidSettings(ar, GetCentroidSettings());
}

bool SerializeCentroidSettings(CBinArchive& ar, CCentroidSettings& settings)
{
    if (ar.IsStoring()) {
        ar.WriteDouble(settings.thresholdValue);
        ar.WriteByte(static_cast<unsigned char>(settings.targetType));
        ar.WriteByte(static_cast<unsigned char>(settings.thresholdMethod));
        ar.WriteByte(static_cast<unsigned char>(settings.weighting));
        ar.WriteByte(settings.minGreyRange);
        ar.WriteInt(settings.minTargetSize);
        ar.WriteInt(settings.windowSize);
        ar.WriteByte(settings.shapeTesting);
        ar.WriteByte(settings.invert);
        ar.WriteDouble(settings.xyRatio);
        return !ar.fail();
    }
    CCentroidSettings read = settings;
    unsigned char targetType = 0;
    unsigned char method = 0;
    unsigned char weighting = 0;
    ar.ReadDouble(read.thresholdValue);
    ar.ReadByte(targetType);
    ar.ReadByte(method);
    ar.ReadByte(weighting);
    ar.ReadByte(read.minGreyRange);
    ar.ReadInt(read.minTargetSize);
    ar.ReadInt(read.windowSize);
    ar.ReadByte(read.shapeTesting);
    ar.ReadByte(read.invert);
    ar.ReadDouble(read.xyRatio);
    if (ar.fail())
        return false;
    read.targetType = static_cast<char>(targetType);
    read.thresholdMethod = static_cast<char>(method);
    read.weighting = static_cast<char>(weighting);
    read.windowSize = ClampCentroidWindowSize(read.windowSize);
    settings = read;
    return true;
}
