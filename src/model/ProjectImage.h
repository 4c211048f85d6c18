// An image of the project with its exterior orientation: the station, the
// rotation from azimuth, elevation and roll, the covariance of the six
// orientation parameters, their a-priori sigmas and last corrections, the
// status flags, the image coordinate transformation from the camera's
// fiducial frame, and two observation lists (targets and measured fiducials).
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>

#include "Distortion.h"
#include "DynString.h"
#include "FilePath.h"
#include "ImageObservation.h"
#include "Matrix.h"
#include "NameBuffer.h"
#include "Vector.h"

namespace NEWMAT {
class Matrix;
class DiagonalMatrix;
}

class CBinArchive;
class CCamera;
class CPointSet;

// Indices of the six orientation parameters.
enum StationParameter : int {
    STA_X = 0, STA_Y, STA_Z, STA_AZIMUTH, STA_ELEVATION, STA_ROLL, STA_PARAMETER_COUNT
};

class CProjectImage {
public:
    // Record version written by Serialize.
    static constexpr int kVersion = 10;
    // A-priori sigma of a free parameter.
    static constexpr double kSigmaFree = 1000.0;
    // Image coordinate files larger than this are refused.
    static constexpr std::size_t kMaxIcfBytes = 64u * 1024u * 1024u;

    CProjectImage();
    CProjectImage(const CProjectImage& other);
    CProjectImage& operator=(const CProjectImage& other);
    ~CProjectImage();

    // Every field to its default; rotation 3x3 and covariance 6x6 packed, zero.
    void InitDefaults();
    void CopyFrom(const CProjectImage& other);

    // --- Orientation -------------------------------------------------------
    void SetPosition(double x, double y, double z);
    void ScalePosition(double f);
    // Azimuth, elevation and roll in radians.
    void SetRotation(double azimuth, double elevation, double roll);
    void SetPose(double x, double y, double z, double azimuth, double elevation, double roll);
    double GetAzimuth() const;
    double GetElevation() const;
    double GetRoll() const;
    double GetOmega() const;
    double GetPhi() const;
    double GetKappa() const;
    // Each keeps the other two angles as R gives them and rebuilds R.
    void SetAzimuth(double azimuth);
    void SetElevation(double elevation);
    void SetRoll(double roll);
    // R as a plain array, and R with the station as the corrections use them.
    void GetRotation(double R[3][3]) const;
    StationGeometry GetStation() const;

    // 4x4 pose: columns 0 and 1 of the upper block are rows 0 and 1 of R,
    // column 2 is the negated row 2; the fourth column is the station.
    void GetPoseMatrix(NEWMAT::Matrix& out) const;
    // False, image unchanged, for a matrix that is not 4x4 or not finite.
    bool SetFromPoseMatrix(const NEWMAT::Matrix& m);
    // Oriented images only: pose := T * pose. False when not applied.
    bool ApplyTransformation(const NEWMAT::Matrix& t);

    double GetSigmaX() const { return SigmaOf(STA_X); }
    double GetSigmaY() const { return SigmaOf(STA_Y); }
    double GetSigmaZ() const { return SigmaOf(STA_Z); }
    double GetSigmaAzimuth() const { return SigmaOf(STA_AZIMUTH); }
    double GetSigmaElevation() const { return SigmaOf(STA_ELEVATION); }
    double GetSigmaRoll() const { return SigmaOf(STA_ROLL); }
    CMatrix& GetCovariance() { return covariance; }
    const CMatrix& GetCovariance() const { return covariance; }
    void ResetCovariance();
    void ResetCorrections();
    int GetConstrainedParameterCount() const;
    // Eigenvalues (ascending) and eigenvectors of the station's 3x3
    // covariance block; false when the largest is zero or the routine fails.
    bool GetPositionErrorEllipsoid(NEWMAT::DiagonalMatrix& values, NEWMAT::Matrix& vectors) const;

    // Forward (fiducial frame to measured) and inverse image coordinate
    // transformation of the observation's x, y: 6 parameters affine, 4
    // similarity. False, observation unchanged, when the image has no
    // transformation or its inverse is singular.
    bool TransformObservation(CImageObservation& o) const;
    bool UntransformObservation(CImageObservation& o) const;

    // --- Names and files ---------------------------------------------------
    void SetFilePath(const char* path) { filePath = path; }
    const CFilePath& GetFilePath() const { return filePath; }
    // The text after the last separator of the path.
    CDynString GetFileName() const { return filePath.GetFileName(); }
    void SetCameraName(const char* text) { cameraName = text; }
    const CDynString& GetCameraName() const { return cameraName; }
    // "Image Quality Not Set", "Image Quality High" or "Image Quality Low".
    const char* GetImageQualityText() const;

    // Replaces the target observations by those of an image coordinate file
    // (per line a label, x, y and optionally sigma x, sigma y in mm; lines
    // with three fields get the default sigma). False, targets unchanged,
    // when the file cannot be opened or read.
    bool ReadIcfFile(const CFilePath& path, double defaultSigma);
    // The same on the file's bytes.
    bool ReadIcfText(const char* data, std::size_t size, double defaultSigma);
    // One line "%16s%15.6f%15.6f\n" per target, in the frame of transformation
    // t (its inverse is applied to a copy). Pass a CTextFile for CR LF on disk.
    void WriteObservations(std::ostream& os, const CVector& t) const;

    // Writes or reads the record (version -1: the record's own version word
    // is read). False when the archive failed, the version is unknown (the
    // image is then left as it was) or the record is malformed.
    bool Serialize(CBinArchive& ar, int* version);

    // --- Target observations -----------------------------------------------
    CImageObservation* GetObservationAt(int index) const;
    CImageObservation* FindObservation(const CNameBuffer& label) const { return targets.Find(label); }
    CImageObservation* FindObservationByText(const char* text) const { return targets.FindByText(text); }
    bool RemoveObservationAt(int index);
    bool RemoveObservation(const CNameBuffer& label) { return targets.Remove(label); }
    bool RemoveObservationByText(const char* text) { return targets.RemoveByText(text); }
    void RemoveAllObservations() { targets.DeleteAll(); }
    bool RemoveObservationsIn(const CObservationList& list) { return targets.RemoveMatching(list); }
    bool RemoveFiducialObservation(const CNameBuffer& label) { return fiducials.Remove(label); }
    bool RemoveFiducialObservationsIn(const CObservationList& list) { return fiducials.RemoveMatching(list); }
    bool MarkObservation(const CNameBuffer& label);
    CImageObservation* FindNextMarkedObservation(const CImageObservation* after) const;
    // Targets marked as EO-device points.
    int CountMarkedObservations() const;
    bool MoveToFiducials(const CNameBuffer& label);
    bool ClearResiduals();
    bool ClearRejectedFlags();
    bool GetResidualRmsX(double& out) const;
    bool GetResidualRmsY(double& out) const;
    bool GetResidualRmsXY(double& out) const;
    int CountUsableObservations() const;
    int CountDisabledObservations() const;
    int GetEnabledObservationCount() const;
    int CountObservedPoints(const CPointSet& set) const;
    double GetMaxRadialDistance(const CCamera* camera);
    int FindNearestObservation(const CImageObservation& o, double maxDistance) const;
    bool RemoveCloseObservations(double distance) { return targets.RemoveCloseDuplicates(distance); }
    bool RemoveDuplicateLabels();

    // --- Data --------------------------------------------------------------
    CFilePath filePath;
    CDynString name;
    CObservationList targets;
    CObservationList fiducials;
    double X;
    double Y;
    double Z;
    CMatrix rotation;   // 3x3; all zero until an orientation is set
    CDynString cameraName;
    CMatrix covariance; // 6x6 packed: X, Y, Z, azimuth, elevation, roll
    double aprioriSigma[STA_PARAMETER_COUNT];
    double corrections[STA_PARAMETER_COUNT];
    bool transformAccepted;
    bool enabled;
    bool oriented;
    bool scanned;
    bool highQuality;
    bool qualitySet;
    std::int32_t reserved;
    CVector transformation; // 6 affine, 4 similarity, else none

private:
    // One angle of the current rotation matrix.
    double AngleOfRotation(double (*angle)(const double R[3][3])) const;
    double SigmaOf(int i) const;
    void SetRotationArray(const double R[3][3]);
    bool Load(CBinArchive& ar, int* version, int recordVersion);
};

// Text export of one observation and of a list (see WriteObservations).
void WriteXy(std::ostream& os, const CImageObservation& o, const CVector& t);
void WriteXy(std::ostream& os, const CObservationList& list, const CVector& t);
