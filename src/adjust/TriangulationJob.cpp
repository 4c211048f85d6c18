#include "TriangulationJob.h"

#include <cmath>

#include "AdjustmentSummary.h"
#include "BundleReport.h"
#include "Message.h"
#include "ObjectPoint.h"
#include "PointSet.h"
#include "ProjectImage.h"
#include "ProjectImageList.h"
#include "ProjectSettings.h"

CTriangulationJob::CTriangulationJob(CImagePtrArray& images, CPointSet& points, CCameraList& cameras,
                                     CProjectSettings& settings, CAdjustmentSummary& summary)
    : engine(&images, &points, nullptr, &cameras, &noScaleBars, &settings, &summary)
{
}

CTriangulationJob::~CTriangulationJob() = default;

bool CTriangulationJob::Run(int& count, double& rms)
{
    count = 0;
    rms = -1.0;
    if (!engine.MergeData())
        return false;
    engine.TriangulateAll(count, rms, 0, true);
    WriteReport();
    return true;
}

bool CTriangulationJob::ComputeStatistics()
{
    CAdjustmentSummary& sum = *engine.summary;
    const CPointSet& points = *engine.points;
    const int large = CAdjustmentSummary::kLargestTotal;
    const int small = CAdjustmentSummary::kSmallestTotal;
    double total[3] = {0.0, 0.0, 0.0};
    for (int a = 0; a < 3; ++a) {
        sum.extremes[large][a] = 0.0;
        sum.extremes[small][a] = 100.0;
        sum.extremeLabels[large][a] = CNameBuffer();
        sum.extremeLabels[small][a] = CNameBuffer();
    }
    int used = 0;
    for (int i = 0; i < points.GetSize(); ++i) {
        const CObjectPoint* p = points.GetAt(i);
        if (p == nullptr || !p->inUse || p->unsolved)
            continue;
        ++used;
        for (int a = 0; a < 3; ++a)
            total[a] += report::Element(p->covariance, a, a);
    }
    // Points that failed stay out. No point: the RMS is 0 rather than a
    // division by zero.
    for (int a = 0; a < 3; ++a)
        sum.rmsTotal[a] = used > 0 ? std::sqrt(total[a] / used) : 0.0;

    const int minimumRays = engine.settings->minimumRays;
    for (int i = 0; i < points.GetSize(); ++i) {
        const CObjectPoint* p = points.GetAt(i);
        if (p == nullptr || !p->inUse || p->unsolved || p->usedRayCount < minimumRays)
            continue;
        for (int a = 0; a < 3; ++a) {
            const double s = report::RootOrZero(report::Element(p->covariance, a, a));
            if (s > sum.extremes[large][a]) {
                sum.extremes[large][a] = s;
                sum.extremeLabels[large][a] = p->label;
            }
            if (s < sum.extremes[small][a]) {
                sum.extremes[small][a] = s;
                sum.extremeLabels[small][a] = p->label;
            }
        }
    }
    return true;
}

bool CTriangulationJob::WriteReport()
{
    CImagePtrArray& images = *engine.images;
    CPointSet& points = *engine.points;
    const CProjectSettings& settings = *engine.settings;
    CReportFile f;
    if (!f.Open(settings.projectPath, "Triangulate.txt")) {
        // A project never saved has no folder for reports: nothing to tell.
        if (!f.GetPath().empty())
            AfxMessageBox(f.FailureText("Triangulate.txt").c_str(), MB_OK | MB_ICONWARNING);
        return false;
    }
    const double deg = report::Degrees();

    f.LineFormat("%46s", "Triangulation");
    f.LineFormat("%51s", "Kestrelon");
    f.LineFormat("%51s", "Close-range photogrammetry");
    f.LineFormat("%54s", ReportDate().GetText());
    f.Blank(2);
    f.Line("       Quick Summary");
    f.Line(CDynString("             Project: ") + settings.projectPath.GetText());
    f.LineFormat("    Number of Points: %d", points.GetUsedUnsolvedCount());
    f.LineFormat("    Number of Images: %d", images.GetSize());
    f.Blank();
    f.Line("Stations Used");
    f.Blank();
    f.Line(" FileName         X             Y             Z           Azimuth      Elevation       Roll");
    for (int j = 0; j < images.GetSize(); ++j) {
        const CProjectImage* image = images.GetAt(j);
        if (image == nullptr)
            continue;
        f.LineFormat("%s%14.4f%14.4f%14.4f%14.4f%14.4f%14.4f", image->GetFileName().GetText(), image->X, image->Y,
                     image->Z, image->GetAzimuth() * deg, image->GetElevation() * deg, image->GetRoll() * deg);
    }
    f.Blank(2);
    f.LineFormat("%46s", "Summary of Residuals");
    f.Blank();
    f.Line("                Station      Station  Residuals         Number of");
    f.Line("      Filename     #       X         Y       Total       Points");
    for (int j = 0; j < images.GetSize(); ++j) {
        const CProjectImage* image = images.GetAt(j);
        if (image == nullptr || !image->enabled || !image->oriented)
            continue;
        double rx, ry, rxy;
        report::ImageResidualMicrons(*image, rx, ry, rxy);
        f.LineFormat("%15s%5d%10.2lf%10.2lf%10.2lf%11d", image->GetFileName().GetText(), j + 1, rx, ry, rxy,
                     image->CountUsableObservations());
    }
    f.Blank(2);
    f.Line("           Total Residuals");
    f.Line("       X         Y       Total");
    double rx, ry, rxy;
    report::TotalResidualMicrons(images, rx, ry, rxy);
    f.LineFormat("%10.2f%10.2f%10.2f", rx, ry, rxy);
    f.Blank(2);
    f.LineFormat("%83s", "Sightings");
    f.Line("                            Point Coordinates         Standard Errors            #      List     "
           "1111111111222222222233333333334");
    f.Line("               Label      X         Y         Z       X      Y      Z      RMS  Rays    "
           "1234567890123456789012345678901234567890");
    BuildSightings(points, images);
    for (int i = 0; i < points.GetSize(); ++i) {
        const CObjectPoint* p = points.GetAt(i);
        if (p == nullptr || !p->inUse)
            continue;
        f.LineFormat("%20s%10.4f%10.4f%10.4f%8.4f%7.4f%7.4f%4.3f%5d     %s", p->label.GetText(), p->x, p->y, p->z,
                     report::RootOrZero(report::Element(p->covariance, 0, 0)),
                     report::RootOrZero(report::Element(p->covariance, 1, 1)),
                     report::RootOrZero(report::Element(p->covariance, 2, 2)), p->rms, p->usedRayCount,
                     p->sightings.GetText());
    }
    ComputeStatistics();
    f.Blank(2);

    const CAdjustmentSummary& sum = *engine.summary;
    const int large = CAdjustmentSummary::kLargestTotal;
    const int small = CAdjustmentSummary::kSmallestTotal;
    f.LineFormat("%68s", "X                   Y                   Z");
    f.Blank();
    f.LineFormat("     RMS is%20.4f%20.4f%20.4f", sum.rmsTotal[0], sum.rmsTotal[1], sum.rmsTotal[2]);
    f.Blank();
    f.LineFormat(" Minimum is%20.4f%20.4f%20.4f", sum.extremes[small][0], sum.extremes[small][1],
                 sum.extremes[small][2]);
    f.LineFormat(" at point%20s%20s%20s", sum.extremeLabels[small][0].GetText(), sum.extremeLabels[small][1].GetText(),
                 sum.extremeLabels[small][2].GetText());
    f.Blank();
    f.LineFormat(" Maximum is%20.4f%20.4f%20.4f", sum.extremes[large][0], sum.extremes[large][1],
                 sum.extremes[large][2]);
    f.LineFormat(" at point%20s%20s%20s", sum.extremeLabels[large][0].GetText(), sum.extremeLabels[large][1].GetText(),
                 sum.extremeLabels[large][2].GetText());
    f.Blank();
    if (f.Commit())
        return true;
    AfxMessageBox(f.FailureText("Triangulate.txt").c_str(), MB_OK | MB_ICONWARNING);
    return false;
}
