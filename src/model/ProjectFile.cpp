// The project file's byte layout: one transfer both reads and writes it.
#include "ProjectFile.h"

#include "BinArchive.h"
#include "CentroidSettings.h"
#include "NameBuffer.h"
#include "ProjectDocument.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <type_traits>
#include <utility>

const char kProjectFileHeader[] = "Kestrelon Project File";

namespace {

// Least bytes an entry of the oldest point-set list takes: an empty path
// (its count) and three flag bytes.
constexpr int kLegacyEntryMinBytes = 4 + 3;

// Reads or writes one item by the archive's direction. Loading leaves the
// target as it was when the read fails.
class Transfer {
public:
    explicit Transfer(CBinArchive& archive) : ar(archive), storing(archive.IsStoring()) {}

    bool Storing() const { return storing; }
    bool Failed() const { return ar.fail(); }

    template <class T>
    void Int(T& value)
    {
        if (storing) {
            ar.WriteInt(static_cast<std::int32_t>(value));
            return;
        }
        std::int32_t read = 0;
        ar.ReadInt(read);
        if (!ar.fail())
            value = static_cast<T>(read);
    }

    void Double(double& value)
    {
        if (storing)
            ar.WriteDouble(value);
        else
            ar.ReadDouble(value);
    }

    template <class T>
    void Byte(T& value)
    {
        if (storing) {
            ar.WriteByte(static_cast<unsigned char>(value));
            return;
        }
        unsigned char read = 0;
        ar.ReadByte(read);
        if (!ar.fail())
            value = static_cast<T>(read);
    }

    void Name(CNameBuffer& name)
    {
        if (storing)
            ar.WriteName(name);
        else
            ar.ReadName(name);
    }

private:
    CBinArchive& ar;
    bool storing;
};

// Runs a nested record's Serialize. A record that reports failure fails
// the archive too, so that nothing after it is read.
template <class Call>
void Nested(CBinArchive& ar, Call call)
{
    if (ar.fail())
        return;
    if constexpr (std::is_same_v<decltype(call()), bool>) {
        if (!call())
            ar.setstate(std::ios::failbit);
    } else {
        call();
    }
}

// Path fields stand in the file with Windows separators and are held here
// with '/'.
void ReplaceSeparators(CDynString& path, char from, char to)
{
    std::string text = path.GetText();
    if (text.find(from) == std::string::npos)
        return;
    for (char& c : text)
        if (c == from)
            c = to;
    path = text.c_str();
}

void ToFileSeparators(CDynString& path) { ReplaceSeparators(path, '/', '\\'); }
void ToMemorySeparators(CDynString& path) { ReplaceSeparators(path, '\\', '/'); }

// Every path field of the document, turned one way or the other.
template <class Convert>
void ConvertPathFields(CProjectDocument& doc, Convert convert)
{
    for (int i = 0; i < doc.pointSets.GetSize(); ++i)
        if (CPointSet* set = doc.pointSets.GetAt(i))
            convert(set->name);
    convert(doc.eoDevice.name);
    for (int i = 0; i < doc.images.GetSize(); ++i)
        if (CProjectImage* image = doc.images.GetAt(i))
            convert(image->filePath);
}

// Items 3 to 38 of the file (and 39 for versions 0 and 1), newest first.
// version is the file's version; the nested records are passed -1 from
// version 10 on.
void TransferBody(Transfer& io, CBinArchive& ar, CProjectDocument& doc, CCentroidSettings& centroid, int version,
                  std::vector<CLegacyPointSetEntry>* legacy)
{
    int passed = version >= 10 ? -1 : version;

    if (version >= 13)
        io.Int(doc.scanMethod);
    if (version >= 12) {
        io.Int(doc.lowTargetJump);
        io.Double(doc.lowTargetImageRatio);
        io.Int(doc.lowMinGrey);
    }
    if (version >= 11) {
        io.Double(doc.maxViewingAngle);
        io.Double(doc.targetRadius);
        for (double& component : doc.targetNormal)
            io.Double(component);
    }
    if (io.Failed())
        return;
    if (version >= 7) {
        Nested(ar, [&] { return doc.eoDevice.Serialize(ar, &passed); });
        if (io.Failed())
            return;
    }
    if (version >= 6)
        io.Byte(doc.reservedByte);
    if (version >= 5)
        io.Name(doc.newPointPrefix);
    if (version >= 3) {
        io.Double(doc.maxEpipolarAngleDiff);
        io.Double(doc.maxDrivebackError);
        io.Double(doc.minIntersectionAngle);
        io.Byte(doc.onlyNearEODevice);
        io.Double(doc.maxDistanceToEODevice);
        io.Byte(doc.distanceInProjectUnits);
    }
    if (io.Failed())
        return;
    if (version >= 2) {
        Nested(ar, [&] { return doc.pointSets.Serialize(ar, &passed); });
        if (io.Failed())
            return;
    }
    if (version >= 1) {
        io.Int(doc.highTargetJump);
        io.Double(doc.highTargetImageRatio);
        io.Int(doc.highMinGrey);
        io.Int(doc.eoDeviceMinSize);
        io.Int(doc.minTargetError);
        io.Double(doc.deviationFactor);
        for (auto& flag : doc.scanFlags)
            io.Byte(flag);
    }
    if (io.Failed())
        return;

    if (io.Storing()) {
        SerializeCentroidSettings(ar, centroid);
    } else if (!SerializeCentroidSettings(ar, centroid)) {
        return;
    }
    Nested(ar, [&] { return doc.cameras.Serialize(ar, &passed); });
    Nested(ar, [&] { return doc.scaleBars.Serialize(ar); });
    Nested(ar, [&] { return doc.images.Serialize(ar, &passed); });
    Nested(ar, [&] { return doc.settings.Serialize(ar, &passed); });
    if (io.Failed())
        return;

    io.Int(doc.targetOverlay);
    io.Byte(doc.numberPoints);
    io.Int(doc.centroidColour);
    io.Int(doc.manualColour);
    io.Int(doc.fiducialColour);
    io.Int(doc.residualVectorColour);
    // A second copy of the report flags; read after the settings, it decides.
    io.Byte(doc.settings.writeResiduals);
    io.Byte(doc.settings.writeCameraParameters);
    io.Byte(doc.settings.writeCorrelations);
    io.Byte(doc.settings.writeRotationAngles);
    io.Byte(doc.settings.writeRotationMatrices);
    io.Int(doc.autoSavePeriod);
    io.Int(doc.unitIndex);
    for (int i = 0; i < 3; ++i) {
        unsigned char filler = 1;
        io.Byte(filler);
    }
    io.Int(doc.targetAreaMin);
    io.Int(doc.targetAreaMax);
    io.Double(doc.drivebackThreshold);
    if (io.Failed() || io.Storing() || version >= 2)
        return;

    std::int32_t count = 0;
    ar.ReadInt(count);
    if (!ar.CheckCount(count, kLegacyEntryMinBytes))
        return;
    for (std::int32_t i = 0; i < count; ++i) {
        CLegacyPointSetEntry entry;
        ar.ReadString(entry.path);
        io.Byte(entry.isDriver);
        io.Byte(entry.isControl);
        io.Byte(entry.isEODevice);
        if (io.Failed())
            return;
        if (legacy != nullptr)
            legacy->push_back(entry);
    }
}

// Reads the header; false with the version 0 when the file does not begin
// with it (such a file is read from its first byte).
bool ReadHeader(CBinArchive& ar, int& version)
{
    char header[kProjectFileHeaderLength];
    for (char& c : header) {
        ar.ReadByte(c);
        if (ar.fail())
            return false;
    }
    if (std::memcmp(header, kProjectFileHeader, kProjectFileHeaderLength) != 0)
        return false;
    std::int32_t read = 0;
    ar.ReadInt(read);
    if (ar.fail())
        return false;
    version = read;
    return true;
}

} // namespace

bool WriteProjectArchive(CBinArchive& ar, CProjectDocument& doc, const CCentroidSettings& centroid)
{
    if (!ar.IsStoring())
        return false;
    for (int i = 0; i < kProjectFileHeaderLength; ++i)
        ar.WriteByte(static_cast<unsigned char>(kProjectFileHeader[i]));
    ar.WriteInt(PROJECT_FILE_VERSION);

    ConvertPathFields(doc, ToFileSeparators);
    Transfer io(ar);
    CCentroidSettings block = centroid;
    TransferBody(io, ar, doc, block, PROJECT_FILE_VERSION, nullptr);
    ConvertPathFields(doc, ToMemorySeparators);
    ar.flush();
    return !ar.fail();
}

bool ReadProjectArchive(CBinArchive& ar, CProjectDocument& doc, CCentroidSettings& centroid,
                        std::vector<CLegacyPointSetEntry>& legacy, int& fileVersion, CDynString& message)
{
    legacy.clear();
    if (ar.IsStoring() || ar.fail()) {
        message = "the file cannot be read";
        return false;
    }
    const std::streampos start = ar.tellg();
    int version = 0;
    if (!ReadHeader(ar, version)) {
        // No header: the oldest format, read from the first byte.
        version = 0;
        ar.clear();
        ar.seekg(start);
        if (ar.fail()) {
            message = "the file cannot be read";
            return false;
        }
    } else if (version == 0) {
        message = "the file is damaged (a header with version 0)";
        return false;
    }
    fileVersion = version;
    if (version > PROJECT_FILE_VERSION || version < 0) {
        message.Format("the file has version %d; this program reads versions 0 to %d", version,
                       PROJECT_FILE_VERSION);
        return false;
    }

    CCentroidSettings block = centroid;
    Transfer io(ar);
    TransferBody(io, ar, doc, block, version, &legacy);
    if (ar.fail()) {
        message = "the file is damaged or incomplete";
        legacy.clear();
        return false;
    }
    if (ar.RemainingBytes() != 0) {
        message = "the file is damaged (data after its end)";
        legacy.clear();
        return false;
    }
    if (doc.unitIndex < 0 || doc.unitIndex > 5) {
        message = "the file is damaged (unknown length unit)";
        legacy.clear();
        return false;
    }
    ConvertPathFields(doc, ToMemorySeparators);
    for (CLegacyPointSetEntry& entry : legacy)
        ToMemorySeparators(entry.path);
    centroid = block;
    return true;
}
