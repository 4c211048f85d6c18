// The project document: the data model's project with the framework's
// document life: open, save, save as, the modified marker in the title.
#pragma once

#include "DocFramework.h"
#include "ProjectDocument.h"

#include <cstdint>
#include <functional>
#include <string>

class C3DTransformation;
class C3DView;
class CBestFitCircle;
class CBestFitLine;
class CBestFitPlane;
class CBestFitSphere;
class CCamera;
class CDynString;
class CMeasurementTool;
class CTargetDetector;
class CProjectImage;
class CPointSet;

class CKestrelonDoc : public CProjectDocument, public CDocument {
public:
    CKestrelonDoc();

    QString GetDocumentPath() const override;
    void SetDocumentPath(const QString& path) override;
    bool IsModified() const override { return CProjectDocument::IsModified(); }
    // The title carries a trailing "*" while the project is modified.
    void SetModifiedFlag(bool modified = true) override;

    bool OnNewDocument() override;
    bool OnOpenDocument(const QString& path) override;
    bool OnSaveDocument(const QString& path) override;
    // Saves to the current path, or asks for one when there is none.
    bool SaveProject();

    // Imports of point files into the project folder; each needs a saved
    // project. A file of the user is never overwritten or deleted.
    bool Import3DFile(bool driveback, bool control);
    bool ImportDrivebackFile();
    bool ImportControlPointsFile();
    bool Import3DDataFile();
    bool ImportEODeviceFile();
    bool CreateEmpty3DDataFile();

    void UpdateAllViews() override { CDocument::UpdateAllViews(nullptr, 0); }
    using CDocument::UpdateAllViews;
    // The project frames let go of the deleted sets at once.
    void PointSetsRemoved() override;
    // The set is one of the project's (its EO device too) or of the EO-device
    // database; set is only compared, never read.
    bool HoldsPointSet(const CPointSet* set) const;

    // The title without the trailing "*".
    QString GetTitleWithoutMark() const;
    // The first view of the document that is a 3D view, or null.
    C3DView* Find3DView() const;

    // A job runs on the document's data (a worker started by a dialog);
    // auto save waits for its end.
    void BeginJob() { ++jobsRunning; }
    void EndJob() { jobsRunning -= jobsRunning > 0; }
    bool IsJobRunning() const { return jobsRunning > 0; }

    // Commands.
    void OnOutputObservations();
    void OnCentroidWindowChange();
    void OnRelativeOrientation();
    void OnCentroidInfo();
    void OnAdjustmentControls();
    void OnComputeTargetEllipses();
    void OnComputeTargetNormals();
    void OnPreferences();
    void OnPointStatus();
    // The preference sheet opened at the page of that index; on OK its
    // values become the project's, which is then marked modified.
    void RunPreferences(int page);
    void OnRunBundle();
    void OnSimulationBundle();
    void OnTriangulate();
    void OnAutomaticMeasurement();
    void OnFindCorrespondingPoints();

    // Orientation.
    // Resects the image against the driver set, then measures the driver
    // points in it with the view's tool.
    void ResectImageForDriveback(CProjectImage& image, CCamera& camera, CMeasurementTool& tool);
    // Resects every enabled image with 3 observations; the "Resection
    // Summary", then "Resection.txt".
    void ResectAllImages();
    // A copy of the database camera joins the project; false when the user
    // keeps the project's camera or the database has none of that name.
    bool AddDatabaseCameraToProject(CDynString identifier);
    // One triangulation into the "Triangulate" set; true when it gave points.
    bool TriangulatePoints(double& rms);
    // Keeps the "Triangulate" set: its file, its report, the tree selection.
    bool ShowTriangulationResults();
    void OnSimulateImages();
    void OnSimulateImagesExtended();

    // Services.
    // A new AutoScan detector for the image by the scanning method; the
    // caller deletes it.
    CTargetDetector* CreateTargetDetector(CProjectImage* image, const CCamera* camera, CMeasurementTool* tool,
                                          bool invert);
    // The folder of the project file ("" without one).
    CDynString GetProjectDirectory() const;
    // Fills the adjustment image list with the enabled, resected images
    // that have an enabled observation; false, with a message, when fewer
    // than 2 images (or enabled and resected images) exist.
    bool CollectTriangulationImages();
    // Fills the adjustment image list with the usable images; false, after
    // its message, when a bundle should not run. Weak networks are questions.
    bool CollectBundleImages();
    // True when the rolls of the images are spread over at least a quarter turn.
    static bool HasRollDiversity(const CDynArray<CProjectImage>& images);
    void ClearResectedFlags();
    // Means and extremes of the standard deviations of the points in use, in
    // the adjustment summary; the points themselves are not changed.
    bool ComputeTriangulationStatistics(const CPointSet& set);
    // Result files of the geometry tools in the project folder (empty
    // without a project file).
    CFilePath GetResectionReportPath() const;
    CFilePath GetTransformationReportPath() const;
    CFilePath GetTriangulationReportPath() const;
    CFilePath GetTransformedPointsPath() const;
    CFilePath GetComparePointsPath() const;
    CFilePath GetBestFitPlaneReportPath() const;
    CFilePath GetBestFitSphereReportPath() const;
    CFilePath GetBestFitLineReportPath() const;
    CFilePath GetBestFitCircleReportPath() const;
    // The reports; false, with a message, when the file could not be written.
    bool WriteTransformationReport(const CPointSet& control, const CPointSet& toTransform, const CPointSet& result,
                                   const C3DTransformation& transformation);
    bool WriteResectionReport();
    // Computes the triangulation statistics of the set, then writes the report.
    bool WriteTriangulationReport(const CPointSet& set);
    // A copy of the database scale bar of that name, when the project has none of it.
    bool AddScaleBarToProject(const char* name);
    int CountIcfImages() const;
    int CountPictureImages() const;
    bool DiscardEmptyTriangulateSet();
    bool AcceptROArray();
    bool ImageExists(const char* filePath, const CCamera& camera) const;
    // The image record leaves the adjustment image list.
    void ForgetImage(const CProjectImage* image);

    // Best-fit reports in the project folder; false, after a message, when
    // the report cannot be written.
    bool WriteBestFitPlaneReport(const CBestFitPlane& fit) const;
    bool WriteBestFitSphereReport(const CBestFitSphere& fit) const;
    bool WriteBestFitCircleReport(const CBestFitCircle& fit) const;
    bool WriteBestFitLineReport(const CBestFitLine& fit) const;

    // 1 while the "Simulation Bundle" dialog is open.
    uint8_t simulationRunning = 0;
    // Geometry commands. The transformation asks for a control file and
    // keeps "Trans" when accepted; the comparison keeps "Compare" with the
    // differences file minus project. True when the project changed.
    bool Run3DTransformation(std::string setName);
    bool CompareWith3DFile(std::string setName);
    // Fit, then the results dialog and the report; a failed fit shows why.
    void RunBestFitLine(CBestFitLine& fit);
    void RunBestFitPlane(CBestFitPlane& fit);
    void RunBestFitSphere(CBestFitSphere& fit);
    void RunBestFitCircle(CBestFitCircle& fit);

    // Set by every save of this run.
    uint8_t savedInThisRun = 0;
    // Cleared when the project file reader changed data while loading.
    uint8_t loadedUnchanged = 1;

private:
    void InstallCommands();
    int CountImages(const std::function<bool(const CProjectImage&)>& test) const;

    // The copy destination of a chosen file: the project folder, the file's
    // name, its title's number raised past point-set names and other files.
    CFilePath MakeImportDestination(const QString& chosen, const char* extension) const;
    // The chosen file is copied to the destination unless it is that file;
    // copied tells whether a new file was made.
    static bool CopyForImport(const QString& chosen, const CFilePath& destination, bool& copied);

    int jobsRunning = 0;
    // The title ends in the "*" this document added.
    bool titleMarked = false;
};

// The pixel size of an image file; false when it cannot be read. The image
// tools install the reader; without one no size can be read.
using ImageSizeReader = std::function<bool(const char* path, int& width, int& height)>;
ImageSizeReader SetImageSizeReader(ImageSizeReader reader);
bool ReadImageFileSize(const char* path, int& width, int& height);
// fits false when the size differs from the camera's pixels (message when
// verbose); the result is true only for a size read that fits.
bool CheckImageFitsCamera(const char* path, const CCamera& camera, bool& fits, bool verbose);
// The file exists and its extension is "bmp", "tif" or "dib".
bool IsImageFileDisplayable(const CProjectImage& image);

// The project document of the main frame's active child, or null.
CKestrelonDoc* GetActiveKestrelonDoc();
