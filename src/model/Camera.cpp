#include "Camera.h"

#include <cmath>
#include <cstring>

#include "BinArchive.h"
#include "RecordListArchive.h"

namespace {

constexpr int kCameraVersion = 11;
constexpr int kCameraListVersion = 10;
// Smallest record a camera can occupy: an empty fiducial list (its count),
// six empty strings, the mode, the maximum radial distance, the ten
// parameters with their three companions, two pixel sizes, two pixel counts.
constexpr std::int64_t kMinCameraBytes = 4 + 6 * 4 + 4 + 8 + 10 * 4 * 8 + 2 * 8 + 2 * 4;

void Fill(double* values, double v)
{
    for (int i = 0; i < CAM_PARAMETER_COUNT; ++i) values[i] = v;
}

bool SameBits(const double* a, const double* b)
{
    return std::memcmp(a, b, sizeof(double) * CAM_PARAMETER_COUNT) == 0;
}

} // namespace

// ---------------------------------------------------------------------------
// CCamera

CCamera::CCamera() { Reset(); }

CCamera::CCamera(const CCamera& other)
{
    Reset();
    Copy(other);
}

CCamera& CCamera::operator=(const CCamera& other)
{
    Copy(other);
    return *this;
}

CCamera::~CCamera() = default;

void CCamera::PixelToImage(double column, double row, double& x, double& y) const
{
    x = (column - XPixels / 2) * XPixelSize;
    y = (YPixels / 2 - row) * YPixelSize;
}

void CCamera::ImageToPixel(double x, double y, double& column, double& row) const
{
    column = x / XPixelSize + XPixels / 2;
    row = YPixels / 2 - y / YPixelSize;
}

void CCamera::Reset()
{
    identifier = "";
    cameraType = "";
    serialNumber = "";
    lensType = "";
    lensSerialNumber = "";
    calibrationTime = "";
    XPixelSize = 0.0;
    YPixelSize = 0.0;
    XPixels = 0;
    YPixels = 0;
    calibrationMode = 1;
    Fill(parameters, 0.0);
    maxRadialDistance = 0.0;
    Fill(sigmas, CAMERA_SIGMA_FREE);
    Fill(postSigmas, 0.0);
    Fill(corrections, 0.0);
    modified = false;
    calibrationRedundancy = 0;
}

void CCamera::Copy(const CCamera& other)
{
    if (this == &other) return;
    identifier = other.identifier;
    cameraType = other.cameraType;
    serialNumber = other.serialNumber;
    lensType = other.lensType;
    lensSerialNumber = other.lensSerialNumber;
    calibrationTime = other.calibrationTime;
    XPixelSize = other.XPixelSize;
    YPixelSize = other.YPixelSize;
    XPixels = other.XPixels;
    YPixels = other.YPixels;
    calibrationMode = other.calibrationMode;
    maxRadialDistance = other.maxRadialDistance;
    for (int i = 0; i < CAM_PARAMETER_COUNT; ++i) {
        parameters[i] = other.parameters[i];
        sigmas[i] = other.sigmas[i];
        postSigmas[i] = other.postSigmas[i];
        corrections[i] = other.corrections[i];
    }
    calibrationRedundancy = other.calibrationRedundancy;
    fiducials.Copy(other.fiducials);
}

bool CCamera::IsEqual(const CCamera& other) const
{
    return identifier == other.identifier && cameraType == other.cameraType &&
           serialNumber == other.serialNumber && lensType == other.lensType &&
           lensSerialNumber == other.lensSerialNumber && calibrationTime == other.calibrationTime &&
           calibrationMode == other.calibrationMode && XPixelSize == other.XPixelSize &&
           YPixelSize == other.YPixelSize && XPixels == other.XPixels && YPixels == other.YPixels &&
           maxRadialDistance == other.maxRadialDistance &&
           calibrationRedundancy == other.calibrationRedundancy && SameBits(parameters, other.parameters) &&
           SameBits(sigmas, other.sigmas) && SameBits(postSigmas, other.postSigmas) &&
           SameBits(corrections, other.corrections) && fiducials.GetSize() == other.fiducials.GetSize();
}

CDynString CCamera::GetIdentifier(CDynString& text) const
{
    text += identifier;
    return text;
}

void CCamera::SetCalibrationMode(int mode)
{
    calibrationMode = mode;
    switch (mode) {
    case 0:
        Fill(sigmas, CAMERA_SIGMA_FIXED);
        break;
    case 1:
        Fill(sigmas, CAMERA_SIGMA_FREE);
        break;
    case 2:
        Fill(sigmas, CAMERA_SIGMA_FIXED);
        for (int i = CAM_C; i <= CAM_K1; ++i) sigmas[i] = CAMERA_SIGMA_FREE;
        break;
    case 4:
        Fill(sigmas, CAMERA_SIGMA_FIXED);
        for (int i = CAM_C; i <= CAM_YP; ++i) sigmas[i] = CAMERA_SIGMA_FREE;
        break;
    default: // 3 and unknown modes keep the sigmas as they stand
        break;
    }
}

void CCamera::CopySigmas(const CCamera& other)
{
    for (int i = 0; i < CAM_PARAMETER_COUNT; ++i) sigmas[i] = other.sigmas[i];
    calibrationMode = other.calibrationMode;
}

int CCamera::CountConstrainedParameters() const
{
    int count = 0;
    for (int i = 0; i < CAM_PARAMETER_COUNT; ++i)
        if (sigmas[i] < CAMERA_SIGMA_FREE) ++count;
    return count;
}

bool CCamera::ClearCorrections()
{
    Fill(corrections, 0.0);
    return true;
}

CImageObservation* CCamera::FindFiducial(const CNameBuffer& label) const
{
    for (int i = 0; i < fiducials.GetSize(); ++i) {
        CImageObservation* mark = fiducials.GetAt(i);
        if (mark && mark->label == label) return mark;
    }
    return nullptr;
}

double CCamera::GetHalfSensorWidth() const { return XPixels * XPixelSize * 0.5; }

double CCamera::GetHalfSensorHeight() const { return YPixels * YPixelSize * 0.5; }

double CCamera::GetHalfSensorDiagonal() const
{
    const double w = GetHalfSensorWidth();
    const double h = GetHalfSensorHeight();
    return std::sqrt(w * w + h * h);
}

double CCamera::GetPixelDiagonal() const { return std::sqrt(XPixelSize * XPixelSize + YPixelSize * YPixelSize); }

bool CCamera::IsInFrame(double x, double y, double margin) const
{
    double column = 0.0;
    double row = 0.0;
    ImageToPixel(x, y, column, row);
    column -= 0.5;
    row -= 0.5;
    return -XPixels * margin <= column && column <= XPixels * (1.0 + margin) && -YPixels * margin <= row &&
           row <= YPixels * (1.0 + margin);
}

bool CCamera::Serialize(CBinArchive& ar, int* version)
{
    if (ar.IsStoring()) {
        ar.WriteInt(kCameraVersion);
        ar.WriteInt(calibrationRedundancy);
        if (!fiducials.Serialize(ar, version)) return false;
        ar.WriteString(identifier);
        ar.WriteString(cameraType);
        ar.WriteString(serialNumber);
        ar.WriteString(lensType);
        ar.WriteString(lensSerialNumber);
        ar.WriteString(calibrationTime);
        ar.WriteInt(calibrationMode);
        ar.WriteDouble(maxRadialDistance);
        for (int i = 0; i < CAM_PARAMETER_COUNT; ++i) {
            ar.WriteDouble(parameters[i]);
            ar.WriteDouble(sigmas[i]);
            ar.WriteDouble(postSigmas[i]);
            ar.WriteDouble(corrections[i]);
        }
        ar.WriteDouble(XPixelSize);
        ar.WriteDouble(YPixelSize);
        ar.WriteInt(XPixels);
        ar.WriteInt(YPixels);
        return !ar.fail();
    }

    int recordVersion = version ? *version : -1;
    if (recordVersion == -1) {
        ar.ReadInt(recordVersion);
        if (ar.fail() || recordVersion < 0 || recordVersion > kCameraVersion) {
            ar.setstate(std::ios::failbit);
            return false;
        }
    }
    if (recordVersion == kCameraVersion) ar.ReadInt(calibrationRedundancy);
    fiducials.DeleteAll();
    if (!fiducials.Serialize(ar, version)) return false;
    ar.ReadString(identifier);
    ar.ReadString(cameraType);
    ar.ReadString(serialNumber);
    ar.ReadString(lensType);
    ar.ReadString(lensSerialNumber);
    ar.ReadString(calibrationTime);
    ar.ReadInt(calibrationMode);
    ar.ReadDouble(maxRadialDistance);
    for (int i = 0; i < CAM_PARAMETER_COUNT; ++i) {
        ar.ReadDouble(parameters[i]);
        ar.ReadDouble(sigmas[i]);
        ar.ReadDouble(postSigmas[i]);
        ar.ReadDouble(corrections[i]);
    }
    ar.ReadDouble(XPixelSize);
    ar.ReadDouble(YPixelSize);
    ar.ReadInt(XPixels);
    ar.ReadInt(YPixels);
    return !ar.fail();
}

// ---------------------------------------------------------------------------
// CCameraList

CCameraList::CCameraList(int growBy) : COwningArray<CCamera>(growBy) {}

CCameraList::CCameraList(const CCameraList& other) : COwningArray<CCamera>(0) { COwningArray<CCamera>::Copy(other); }

CCameraList& CCameraList::operator=(const CCameraList& other)
{
    if (this != &other) COwningArray<CCamera>::Copy(other);
    return *this;
}

CCameraList::~CCameraList() = default;

CCamera* CCameraList::FindByName(const char* name) const
{
    const int i = FindIndexByName(name);
    return i < 0 ? nullptr : GetAt(i);
}

int CCameraList::FindIndexByName(const char* name) const
{
    if (!name) return -1;
    for (int i = 0; i < GetSize(); ++i) {
        const CCamera* camera = GetAt(i);
        if (camera && std::strcmp(camera->identifier.GetText(), name) == 0) return i;
    }
    return -1;
}

bool CCameraList::RemoveByName(const char* name)
{
    const int i = FindIndexByName(name);
    if (i < 0) return false;
    RemoveAt(i, 1);
    return true;
}

bool CCameraList::ClearCorrections()
{
    for (int i = 0; i < GetSize(); ++i)
        if (GetAt(i)) GetAt(i)->ClearCorrections();
    return true;
}

bool CCameraList::IsEqual(const CCameraList& other) const
{
    if (GetSize() != other.GetSize()) return false;
    for (int i = 0; i < GetSize(); ++i) {
        const CCamera* a = GetAt(i);
        const CCamera* b = other.GetAt(i);
        if (!a || !b) {
            if (a != b) return false;
            continue;
        }
        if (!a->IsEqual(*b)) return false;
    }
    return true;
}

bool CCameraList::Serialize(CBinArchive& ar, int* version)
{
    return SerializeRecordList(*this, ar, version, kCameraListVersion, kMinCameraBytes);
}
