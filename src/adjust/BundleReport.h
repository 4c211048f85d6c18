// The text reports of a bundle run ("Bundle.txt", "Camera.txt",
// "Residuals.txt", "Correlations.txt", "PointsQxx.txt", "StationsQxx.txt")
// and the file they are written through. The writers read the result state
// of a run (images, points, control points, cameras, scale bars, settings,
// summary) and change nothing but the points' sightings texts and the
// progress phase.
#pragma once

#include <cstdarg>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "DynString.h"
#include "FilePath.h"
#include "ReportFile.h"

class CAdjustmentEngine;
class CAdjustmentProgress;
class CAdjustmentSummary;
class CCameraList;
class CImagePtrArray;
class CMatrix;
class CPointSet;
class CProjectImage;
class CProjectSettings;
class CScaleBarList;
class CTextFile;

// The text centred in 108 columns (blanks in front only).
CDynString Centred108(const CDynString& text);

// Rebuilds the sightings text of every point: one character per image of
// the list, "Y" observed, "*" observed but rejected, "N" not observed, " "
// image not enabled. Only the first observation of a label counts.
bool BuildSightings(CPointSet& points, const CImagePtrArray& images);

// The six parameter lines of an image in "Bundle.txt", appended to out.
void AppendBundleStationBlock(CDynString& out, const CProjectImage& image);
// The same lines written to a stream (a CTextFile for CR LF on disk).
std::ostream& WriteBundleStationBlock(std::ostream& os, CProjectImage image);

// The report writers of a bundle run. They read the records the run
// references and write into the folder of the settings' project path.
class CBundleReports {
public:
    CBundleReports(CImagePtrArray* images, CPointSet* points, CPointSet* control, CCameraList* cameras,
                   CScaleBarList* scaleBars, CProjectSettings* settings, CAdjustmentSummary* summary,
                   CAdjustmentProgress* progress);
    // Over the references and the progress record of an engine.
    explicit CBundleReports(CAdjustmentEngine& engine);

    // The cofactor matrix of the reduced normal system (the inverse of the
    // normal matrix; only its leading order x order block is read), given
    // only when the run's inversion succeeded. Without it "Correlations.txt"
    // is not written. The matrix must outlive the writers' calls.
    void SetCofactors(const CMatrix* inverse, int order);

    // "Bundle.txt" always, then each report whose switch is set; one report
    // that cannot be written does not stop the others. Always true.
    bool WriteReports();

    bool WriteBundleReport();
    bool WriteCameraReport();
    bool WriteResidualsReport();
    // False, no file touched, without cofactors or when a cofactor diagonal
    // element is not positive.
    bool WriteCorrelationsReport();
    bool WritePointCovariances();
    bool WriteStationCovariances();

    // Correlation coefficient of unknowns i and j from the cofactors; false
    // when either index lies outside them.
    bool GetCorrelation(int i, int j, double& out) const;
    // Index of the first unknown of image k under standard folding: the
    // stations follow the ten parameters of every camera.
    int GetStationUnknown(int k) const;

private:
    bool WriteCovarianceReport(bool stations);
    void SetPhase(int phase);
    // Open and Commit of a report; a failure is told with the report's path
    // and the reason (collected into one message while WriteReports runs).
    bool Opened(CReportFile& f, const char* name);
    bool Committed(CReportFile& f);
    void Tell(const std::string& failure);

    CImagePtrArray* images;
    CPointSet* points;
    CPointSet* control;
    CCameraList* cameras;
    CScaleBarList* scaleBars;
    CProjectSettings* settings;
    CAdjustmentSummary* summary;
    CAdjustmentProgress* progress;
    const CMatrix* cofactors = nullptr;
    int cofactorOrder = 0;
    bool collecting = false;
    std::vector<std::string> failures;
};

// Shared by the writers.
namespace report {
constexpr int kCentreWidth = 108;
double Degrees();
// sqrt(v) for v > 0, else 0 (also for a value that is not a number).
double RootOrZero(double v);
// Element (i, j) of a matrix read with the symmetric rule; 0 outside it.
double Element(const CMatrix& m, int i, int j);
// The residual rms in x, y and xy of an image, and over all images, in
// micrometres.
void ImageResidualMicrons(const CProjectImage& image, double& x, double& y, double& xy);
void TotalResidualMicrons(const CImagePtrArray& images, double& x, double& y, double& xy);
// One row per enabled, oriented image: name, rms x, y, xy in micrometres
// (10.2 each) and the count of usable observations in countWidth columns.
void ImageResidualRows(CReportFile& f, const CImagePtrArray& images, int countWidth);
} // namespace report
