// The text reports of the geometry tools and the paths of their result files
// in the project folder. A report that cannot be opened or fully written
// shows its message and leaves the last good file in place.
#pragma once

#include "FilePath.h"

class C3DTransformation;
class CCamera;
class CPointSet;
class CProjectDocument;

// Names of the result files in the project folder.
constexpr const char* kResectionReportName = "Resection.txt";
constexpr const char* kTransformationReportName = "Trans.txt";
constexpr const char* kTriangulationReportName = "Triangulate.txt";
constexpr const char* kTransformedPointsName = "Trans.xyz";
constexpr const char* kComparePointsName = "Compare.xyz";
constexpr const char* kBestFitPlaneReportName = "BestFitPlane.txt";
constexpr const char* kBestFitSphereReportName = "BestFitSphere.txt";
constexpr const char* kBestFitLineReportName = "BestFitLine.txt";
constexpr const char* kBestFitCircleReportName = "BestFitCircle.txt";

// The folder of the project path, '/', the name; empty when the project
// path has no folder (a project never saved).
CFilePath GetResultFilePath(const CFilePath& projectPath, const char* name);

// "Trans.txt" of an accepted transformation; its last line has no line end.
bool WriteTransformationReport(const CFilePath& projectPath, const CPointSet& control, const CPointSet& toTransform,
                               const CPointSet& result, const C3DTransformation& transformation);

// "Resection.txt" over the document's images.
bool WriteResectionReport(const CProjectDocument& doc);

// "Triangulate.txt" over the triangulated set and the document's images.
// The statistics block prints the document's summary as the triangulation
// statistics left it; an axis without a labelled extreme prints zeros.
bool WriteTriangulationReport(const CProjectDocument& doc, const char* title, const CPointSet& points);

// The radial distortion of a camera, Gaussian and balanced about rb.
class CDistortionReport {
public:
    virtual ~CDistortionReport() = default;

    // Nothing written (false) without a camera, with rmax < 0 or step <= 0.
    bool Write(const CFilePath& path, const char* projectTitle, const CCamera* camera, double rb, double rmax,
               double step);

    // The radii the dialog offers for a camera; false when the sensor
    // area is negative (no dialog then).
    static bool DefaultRadii(const CCamera& camera, double& rb, double& rmax, double& step);
};
