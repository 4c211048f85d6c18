// A metric camera with its interior orientation, and the owning list of
// cameras (the project's cameras and the camera database).
#pragma once

#include "DynString.h"
#include "ImageObservation.h"
#include "NameBuffer.h"
#include "OwningArray.h"

class CBinArchive;

// Indices of the ten calibration parameters.
enum CameraParameter : int {
    CAM_C = 0,
    CAM_XP = 1,
    CAM_YP = 2,
    CAM_K1 = 3,
    CAM_K2 = 4,
    CAM_K3 = 5,
    CAM_P1 = 6,
    CAM_P2 = 7,
    CAM_B1 = 8,
    CAM_B2 = 9,
    CAM_PARAMETER_COUNT = 10
};

// A-priori sigma of a free parameter (and every value at or above it), and of a fixed one.
constexpr double CAMERA_SIGMA_FREE = 1000.0;
constexpr double CAMERA_SIGMA_FIXED = 1e-16;

class CCamera {
public:
    CCamera();
    CCamera(const CCamera& other);
    CCamera& operator=(const CCamera& other);
    virtual ~CCamera();

    // Pixel position (column, row) to image millimetres and back; the origin
    // is at the integer half of the pixel counts, y grows upwards.
    virtual void PixelToImage(double column, double row, double& x, double& y) const;
    virtual void ImageToPixel(double x, double y, double& column, double& row) const;

    // All fields to their defaults; the fiducial marks stay.
    void Reset();
    // Everything but the modified flag; the fiducial marks become copies of the other's.
    void Copy(const CCamera& other);
    // Fiducial lists compare by count only.
    bool IsEqual(const CCamera& other) const;

    // Appends the identifier to the string and returns a copy of it.
    CDynString GetIdentifier(CDynString& text) const;

    void SetCalibrationMode(int mode);
    void CopySigmas(const CCamera& other);
    int CountConstrainedParameters() const;
    bool ClearCorrections();

    CImageObservation* FindFiducial(const CNameBuffer& label) const;

    double GetHalfSensorWidth() const;
    double GetHalfSensorHeight() const;
    double GetHalfSensorDiagonal() const;
    double GetPixelDiagonal() const;
    // Inside the sensor widened by margin (a fraction) on every side.
    bool IsInFrame(double x, double y, double margin) const;

    // Writes or reads the record; false when the archive failed or the
    // record read is malformed.
    bool Serialize(CBinArchive& ar, int* version);

    CDynString identifier;
    CDynString cameraType;
    CDynString serialNumber;
    CDynString lensType;
    CDynString lensSerialNumber;
    CDynString calibrationTime;
    double XPixelSize;
    double YPixelSize;
    int XPixels;
    int YPixels;
    int calibrationMode;
    double parameters[CAM_PARAMETER_COUNT];
    double maxRadialDistance;
    double sigmas[CAM_PARAMETER_COUNT];
    double postSigmas[CAM_PARAMETER_COUNT];
    double corrections[CAM_PARAMETER_COUNT];
    CObservationList fiducials;
    bool modified;
    int calibrationRedundancy;
};

class CCameraList : public COwningArray<CCamera> {
public:
    explicit CCameraList(int growBy = 0);
    CCameraList(const CCameraList& other);
    CCameraList& operator=(const CCameraList& other);
    ~CCameraList() override;

    // Identifiers compare as exact, case-sensitive text.
    CCamera* FindByName(const char* identifier) const;
    int FindIndexByName(const char* identifier) const;
    bool RemoveByName(const char* identifier);
    bool ClearCorrections();
    bool IsEqual(const CCameraList& other) const;
    bool operator==(const CCameraList& other) const { return IsEqual(other); }
    bool operator!=(const CCameraList& other) const { return !IsEqual(other); }

    bool Serialize(CBinArchive& ar, int* version);
};
