#include "GeometryReports.h"

#include <cmath>
#include <string>

#include "AdjustmentSummary.h"
#include "Camera.h"
#include "Message.h"
#include "ObjectPoint.h"
#include "PointSet.h"
#include "ProjectDocument.h"
#include "ProjectImage.h"
#include "ProjectImageList.h"
#include "ReportFile.h"
#include "Similarity3D.h"

namespace {

double Degrees()
{
    return 180.0 / (4.0 * std::atan(1.0));
}

// Commits the report; a file that could not be written shows the message.
bool Finish(CReportFile& f, const char* message)
{
    if (f.Commit())
        return true;
    AfxMessageBox(message, MB_OK);
    return false;
}

bool Start(CReportFile& f, const CFilePath& projectPath, const char* name, const char* message)
{
    if (f.Open(projectPath, name))
        return true;
    AfxMessageBox(message, MB_OK);
    return false;
}

double Microns(bool (CProjectImage::*get)(double&) const, const CProjectImage& image)
{
    double v = 0.0;
    (image.*get)(v);
    return v * 1000.0;
}

double StandardError(const CMatrix& m, int i)
{
    const int rows = m.GetRows();
    const int cols = m.IsSymmetric() ? rows : m.GetCols();
    if (i >= rows || i >= cols)
        return 0.0;
    const double v = m.GetAt(i, i);
    return v > 0.0 ? std::sqrt(v) : 0.0;
}

// The point with the label, searched without sorting the set.
const CObjectPoint* FindByLabel(const CPointSet& set, const CNameBuffer& label)
{
    for (int i = 0; i < set.GetSize(); ++i)
        if (const CObjectPoint* p = set.GetAt(i))
            if (p->label == label)
                return p;
    return nullptr;
}

} // namespace

CFilePath GetResultFilePath(const CFilePath& projectPath, const char* name)
{
    std::string path;
    if (!CReportFile::MakePath(projectPath, name, path))
        return CFilePath("");
    return CFilePath(path.c_str());
}

// --- Transformation ----------------------------------------------------------------

bool WriteTransformationReport(const CFilePath& projectPath, const CPointSet& control, const CPointSet& toTransform,
                               const CPointSet& result, const C3DTransformation& t)
{
    CReportFile f;
    if (!Start(f, projectPath, kTransformationReportName, "Can't Open Transformation Output File"))
        return false;
    const double deg = Degrees();
    f.LineFormat("%36s", "Kestrelon 3D Transformation Results");
    f.LineFormat("%50s", ReportDate().GetText());
    f.Blank(2);
    f.Line("            Quick Summary");
    f.Blank();
    f.LineFormat("                  Control: %s", control.GetName().GetText());
    f.LineFormat("      Points to Transform: %s", toTransform.GetName().GetText());
    f.LineFormat("  Transformed Coordinates: %s", result.GetName().GetText());
    f.LineFormat("  Number of Common Points: %d", t.GetCommonPointCount());
    f.LineFormat("Number of Rejected Points: %d", t.GetRejectedCount());
    f.LineFormat("     Number of Iterations: %d", t.iterations);
    f.LineFormat("         RMS of residuals: %6.4f", t.rms);
    f.LineFormat("                   Sigma0: %6.4f", t.sigma0);
    f.LineFormat("    Residual Error Cutoff: %6.4f", t.cutoff);
    if (t.fixedScale) {
        f.Blank();
        f.Line("  Scale Factor Fixed to 1");
    }
    f.Blank(2);
    f.Line("            Final Transformation Parameters");
    f.Blank();
    f.Line("              Parameter     Standard Error");
    f.Blank();
    f.LineFormat("   Xo     %14.6f%14.6f", t.X0, t.sigma[0]);
    f.LineFormat("   Yo     %14.6f%14.6f", t.Y0, t.sigma[1]);
    f.LineFormat("   Zo     %14.6f%14.6f", t.Z0, t.sigma[2]);
    f.LineFormat("Scale     %14.6f%14.6f", 1.0 / t.scale, t.sigma[3]);
    f.LineFormat("Omega     %14.6f%14.6f", t.GetOmega() * deg, t.sigma[4] * deg);
    f.LineFormat("  Phi     %14.6f%14.6f", t.GetPhi() * deg, t.sigma[5] * deg);
    f.LineFormat("Kappa     %14.6f%14.6f", t.GetKappa() * deg, t.sigma[6] * deg);
    f.Blank(2);
    f.LineFormat("%53s", "Secondary Coordinate Residuals");
    f.Blank();
    f.Line("           Label             VX             VY             VZ");
    f.Blank();
    for (int i = 0; i < t.GetCommonPointCount(); ++i) {
        const CTransformPointPair* p = t.GetPair(i);
        f.LineFormat(p->rejected ? "%16s%15.5f%15.5f%15.5f  ** rejected **" : "%16s%15.5f%15.5f%15.5f",
                     p->GetLabel().GetText(), p->VX, p->VY, p->VZ);
    }
    f.Blank();
    f.LineFormat("RMS Values:     %15.5f%15.5f%15.5f     RMS XYZ = %6.5f", t.residualRms[0], t.residualRms[1],
                 t.residualRms[2], t.residualRms[3]);
    f.Blank(2);
    f.LineFormat("%48s%46s", "Transformed Coordinates", "Differences");
    f.Blank();
    f.Line("           Label              X              Y              Z"
           "             DX             DY             DZ");
    f.Blank();
    for (int i = 0; i < t.GetCommonPointCount(); ++i) {
        const CTransformPointPair* p = t.GetPair(i);
        const CObjectPoint* r = FindByLabel(result, p->control->label);
        if (r == nullptr)
            continue;
        f.LineFormat("%16s%15.5f%15.5f%15.5f%15.5f%15.5f%15.5f", p->GetLabel().GetText(), r->x, r->y, r->z, p->DX,
                     p->DY, p->DZ);
    }
    f.Blank();
    f.LineFormat("%67s%9.5f%15.5f%15.5f", "RMS Without Rejected Points:", t.discrepancyRms[0], t.discrepancyRms[1],
                 t.discrepancyRms[2]);
    f.Blank();
    f.LineFormat("%67s%9.5f", "   RMS XYZ:", t.discrepancyRms[3]);
    f.Blank();
    f.LineFormat("%67s%9.5f%15.5f%15.5f", "RMS With Rejected Points:", t.discrepancyRmsAll[0], t.discrepancyRmsAll[1],
                 t.discrepancyRmsAll[2]);
    f.Blank();
    CDynString last;
    last.Format("%67s%9.5f", "   RMS XYZ:", t.discrepancyRmsAll[3]);
    f.Text(last);
    return Finish(f, "Can't Open Transformation Output File");
}

// --- Resection -----------------------------------------------------------------------

bool WriteResectionReport(const CProjectDocument& doc)
{
    CReportFile f;
    const char* message = "Can't Open Resection Output File";
    if (!Start(f, doc.GetPathName(), kResectionReportName, message))
        return false;
    const double deg = Degrees();
    f.LineFormat("%48s", "Kestrelon Resection Results");
    f.Blank();
    f.LineFormat("%47s", ReportDate().GetText());
    f.Blank(2);
    for (int k = 0; k < doc.images.GetSize(); ++k) {
        const CProjectImage* image = doc.images.GetAt(k);
        if (image == nullptr || !image->enabled)
            continue;
        f.LineFormat("Results for  %s", image->name.GetText());
        f.Blank();
        f.Line(" Station    Final        Computed");
        f.Line("Variable    Value      Standard Error");
        f.Blank();
        if (!image->oriented) {
            f.Line("Image failed to resect");
            f.Blank();
            continue;
        }
        f.LineFormat("    X%14.4f%14.4E", image->X, image->GetSigmaX());
        f.LineFormat("    Y%14.4f%14.4E", image->Y, image->GetSigmaY());
        f.LineFormat("    Z%14.4f%14.4E", image->Z, image->GetSigmaZ());
        f.LineFormat("   AZ%14.4f%14.4E", image->GetAzimuth() * deg, image->GetSigmaAzimuth() * deg);
        f.LineFormat("   EL%14.4f%14.4E", image->GetElevation() * deg, image->GetSigmaElevation() * deg);
        f.LineFormat(" ROLL%14.4f%14.4E", image->GetRoll() * deg, image->GetSigmaRoll() * deg);
        f.Blank(2);
        f.LineFormat("Resected residuals for  %s", image->name.GetText());
        f.Blank();
        f.Line("               POINT     X Residual(um)     Y Residual(um)");
        f.Blank();
        for (int i = 0; i < image->targets.GetSize(); ++i) {
            const CImageObservation* o = image->targets.GetAt(i);
            if (o == nullptr)
                continue;
            f.LineFormat(o->rejected ? "%20s%12.3f*%16.3f*" : "%20s%12.3f%17.3f", o->label.GetText(), o->vx * 1000.0,
                         o->vy * 1000.0);
        }
        f.Blank();
        f.LineFormat("      RMS%12.3f%17.3f", Microns(&CProjectImage::GetResidualRmsX, *image),
                     Microns(&CProjectImage::GetResidualRmsY, *image));
        f.LineFormat("Total RMS%12.3f", Microns(&CProjectImage::GetResidualRmsXY, *image));
        f.Blank();
        f.Line(std::string(80, '/').c_str());
        f.Blank();
    }
    return Finish(f, message);
}

// --- Triangulation -------------------------------------------------------------------

bool WriteTriangulationReport(const CProjectDocument& doc, const char* title, const CPointSet& points)
{
    CReportFile f;
    const char* message = "Can't Open Triangulation Output File";
    if (!Start(f, doc.GetPathName(), kTriangulationReportName, message))
        return false;
    const double deg = Degrees();
    f.LineFormat("%57s", "Kestrelon Triangulation Results");
    f.Blank();
    f.LineFormat("%54s", ReportDate().GetText());
    f.Blank(2);
    f.Line("       Quick Summary");
    f.LineFormat("             Project: %s", title != nullptr ? title : "");
    f.LineFormat("    Number of Points: %d", points.GetUsedUnsolvedCount());
    int used = 0;
    for (int k = 0; k < doc.images.GetSize(); ++k) {
        const CProjectImage* m = doc.images.GetAt(k);
        used += (m != nullptr && m->enabled && m->oriented && m->targets.GetSize() >= 3) ? 1 : 0;
    }
    f.LineFormat("    Number of Images: %d", used);
    f.Blank();
    f.Line("Stations Used");
    f.Blank();
    f.Line(" FileName         X             Y             Z           Azimuth      Elevation       Roll");
    for (int k = 0; k < doc.images.GetSize(); ++k) {
        const CProjectImage* m = doc.images.GetAt(k);
        if (m == nullptr)
            continue;
        f.LineFormat("%s%14.4f%14.4f%14.4f%14.4f%14.4f%14.4f", m->GetFileName().GetText(), m->X, m->Y, m->Z,
                     m->GetAzimuth() * deg, m->GetElevation() * deg, m->GetRoll() * deg);
    }
    f.Blank(2);
    f.LineFormat("%46s", "Summary of Residuals");
    f.Blank();
    f.Line("                Station      Station  Residuals         Number of");
    f.Line("      Filename     #       X         Y       Total       Points");
    for (int k = 0; k < doc.images.GetSize(); ++k) {
        const CProjectImage* m = doc.images.GetAt(k);
        if (m == nullptr || !m->enabled || !m->oriented)
            continue;
        f.LineFormat("%15s%5d%10.2lf%10.2lf%10.2lf%11d", m->GetFileName().GetText(), k + 1,
                     Microns(&CProjectImage::GetResidualRmsX, *m), Microns(&CProjectImage::GetResidualRmsY, *m),
                     Microns(&CProjectImage::GetResidualRmsXY, *m), m->CountUsableObservations());
    }
    f.Blank(2);
    f.Line("           Total Residuals");
    f.Line("       X         Y       Total");
    CImagePtrArray all;
    doc.images.GetPointerArray(all);
    double rx = 0.0, ry = 0.0, rxy = 0.0;
    all.GetRmsX(rx);
    all.GetRmsY(ry);
    all.GetRmsXY(rxy);
    f.LineFormat("%10.2f%10.2f%10.2f", rx * 1000.0, ry * 1000.0, rxy * 1000.0);
    f.Blank(2);
    f.Line("                                                                                      Sightings");
    f.Line("                            Point Coordinates            Standard Errors          #     List     "
           "1111111111222222222233333333334");
    f.Line("           Label          X         Y         Z        X      Y      Z      RMS  Rays   "
           "1234567890123456789012345678901234567890");
    for (int i = 0; i < points.GetSize(); ++i) {
        const CObjectPoint* p = points.GetAt(i);
        if (p == nullptr || !p->inUse)
            continue;
        f.LineFormat("%16s%14.4f%10.4f%10.4f%8.4f%7.4f%7.4f%4.3f%5d     %s", p->label.GetText(), p->x, p->y, p->z,
                     StandardError(p->covariance, 0), StandardError(p->covariance, 1),
                     StandardError(p->covariance, 2), p->rms, static_cast<int>(p->rayCount),
                     p->sightings.GetText() != nullptr ? p->sightings.GetText() : "");
    }
    f.Blank(2);
    const CAdjustmentSummary& s = doc.summary;
    double minimum[3], maximum[3];
    const char* minLabel[3];
    const char* maxLabel[3];
    for (int a = 0; a < 3; ++a) {
        // An axis without a point of enough rays has no extreme: zeros.
        const CNameBuffer& lo = s.extremeLabels[CAdjustmentSummary::kSmallestTotal][a];
        const CNameBuffer& hi = s.extremeLabels[CAdjustmentSummary::kLargestTotal][a];
        minLabel[a] = lo.GetText();
        maxLabel[a] = hi.GetText();
        minimum[a] = minLabel[a][0] != '\0' ? s.extremes[CAdjustmentSummary::kSmallestTotal][a] : 0.0;
        maximum[a] = maxLabel[a][0] != '\0' ? s.extremes[CAdjustmentSummary::kLargestTotal][a] : 0.0;
    }
    f.Line("                      X               Y               Z");
    f.Blank();
    f.LineFormat("     RMS is%16.4f%16.4f%16.4f", s.rmsTotal[0], s.rmsTotal[1], s.rmsTotal[2]);
    f.Blank();
    f.LineFormat(" Minimum is%16.4f%16.4f%16.4f", minimum[0], minimum[1], minimum[2]);
    f.LineFormat(" at point  %16s%16s%16s", minLabel[0], minLabel[1], minLabel[2]);
    f.Blank();
    f.LineFormat(" Maximum is%16.4f%16.4f%16.4f", maximum[0], maximum[1], maximum[2]);
    f.LineFormat(" at point  %16s%16s%16s", maxLabel[0], maxLabel[1], maxLabel[2]);
    f.Blank();
    return Finish(f, message);
}

// --- Lens distortion -----------------------------------------------------------------

bool CDistortionReport::DefaultRadii(const CCamera& camera, double& rb, double& rmax, double& step)
{
    const double w = camera.XPixels * camera.XPixelSize;
    const double h = camera.YPixels * camera.YPixelSize;
    if (w * h < 0.0)
        return false;
    const double d = std::sqrt(w * h);
    auto tenth = [](double x) { return std::trunc(10.0 * x + 0.5) / 10.0; };
    rb = tenth(0.7 * d);
    step = tenth(0.05 * d);
    rmax = 19.0 * step;
    return true;
}

bool CDistortionReport::Write(const CFilePath& path, const char* projectTitle, const CCamera* camera, double rb,
                              double rmax, double step)
{
    if (camera == nullptr || !(rmax >= 0.0) || !(step > 0.0))
        return false;
    CReportFile f;
    const char* message = "Can't Open Lens Distortion Output File";
    if (!Start(f, path, path.GetFileName().GetText(), message))
        return false;

    const double c = camera->parameters[CAM_C];
    const double K1 = camera->parameters[CAM_K1], K2 = camera->parameters[CAM_K2], K3 = camera->parameters[CAM_K3];
    const double D = K1 * std::pow(rb, 3) + K2 * std::pow(rb, 5) + K3 * std::pow(rb, 7);
    // Without a balance radius there is nothing to balance.
    const double k0 = (rb + D) != 0.0 ? -D / (rb + D) : 0.0;
    const double dc = c * k0;
    const double k1 = K1 * (1.0 + k0), k2 = K2 * (1.0 + k0), k3 = K3 * (1.0 + k0);
    const CDynString date = ReportDate();
    const char* title = projectTitle != nullptr ? projectTitle : "";
    const char* name = camera->identifier.GetText() != nullptr ? camera->identifier.GetText() : "";

    auto heading = [&] {
        f.LineFormat("Camera: %s", name);
        f.LineFormat("Project: %s", title);
        f.LineFormat("Date: %s\n", date.GetText());
    };
    auto rows = [&](double a0, double a1, double a2, double a3) {
        for (long i = 0;; ++i) {
            const double r = static_cast<double>(i) * step;
            if (r > rmax * (1.0 + 1e-9))
                break;
            double dr = 1000.0 * (a0 * r + a1 * std::pow(r, 3) + a2 * std::pow(r, 5) + a3 * std::pow(r, 7));
            if (std::fabs(dr) < 0.05)
                dr = 0.0; // rounding noise would print as "-0.0"
            f.LineFormat("%16.1lf%21.1lf", r, dr);
        }
    };

    const char* banner = "Kestrelon Results: Output of Lens Distortion Data\n";
    f.Line((std::string((80 - std::char_traits<char>::length(banner)) / 2, ' ') + banner).c_str());
    f.Line("1. Gaussian Lens Distortion\n");
    heading();
    f.Line("For principal distance c, radial distortion correction dr (microns) is");
    f.Line("given for any radial distance r (mm) as:\n");
    f.Line("dr = K1*r^3 + K2*r^5 + K3*R^7");
    f.Line("correction dx = x\xB7" "dr/r");
    f.Line("correction dy = y\xB7" "dr/r\n");
    f.LineFormat("c  = %13.3lf", c);
    f.LineFormat("K1 = %13.5e", K1);
    f.LineFormat("K2 = %13.5e", K2);
    f.LineFormat("K3 = %13.5e\n", K3);
    f.Line("             r (mm)               dr (microns)");
    rows(0.0, K1, K2, K3);
    f.Blank(4);
    f.Line("2. Balanced Radial Lens Distortion\n");
    heading();
    f.Line("For 'balanced' principal distance cb, radial distortion correction");
    f.Line("dr(microns) is given for any radial distance r (mm) as:");
    f.Line("dr = k0*r + k1*r^3 + k2*r^5 + k3*r^7\n");
    f.LineFormat("cb = %13.3lf mm", c + dc);
    f.LineFormat("k0 = %13.5e", k0);
    f.LineFormat("k1 = %13.5e", k1);
    f.LineFormat("k2 = %13.5e", k2);
    f.LineFormat("k3 = %13.5e", k3);
    f.Line("\n             r (mm)               dr (microns)");
    rows(k0, k1, k2, k3);
    f.LineFormat("\nCurve balanced about a radial distance of %7.1lf mm", rb);
    return Finish(f, message);
}
