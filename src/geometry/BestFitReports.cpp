#include "BestFitReports.h"

#include "BestFitLine.h"
#include "BestFitSphere.h"
#include "ReportFile.h"
#include "Message.h"
#include "ProjectDocument.h"

namespace {

const char* LabelOf(const CBestFit& fit, int i)
{
    return fit.GetPoint(i)->label.GetText();
}

// The quick summary shared by the plane, sphere and circle reports, from
// the title down to the blank lines before the parameters.
void WriteHeader(CReportFile& f, const char* title, int width, const CBestFit& fit)
{
    f.LineFormat("%*s", width, title);
    f.LineFormat("%50s", ReportDate().GetText());
    f.Blank(2);
    f.Line("            Quick Summary");
    f.Blank();
    f.LineFormat("         Number of Points: %d", fit.GetPointCount());
    f.LineFormat("          Rejected Points: %d", fit.GetRejectedCount());
    f.LineFormat("               Iterations: %d", fit.GetIterations());
    f.LineFormat("         RMS of residuals: %6.4f", fit.GetRms());
    f.LineFormat("    Residual Error Cutoff: %6.4f", fit.GetCutoff());
    f.Blank(2);
}

template <class Fit>
void WriteResiduals(CReportFile& f, const Fit& fit)
{
    f.Blank();
    f.Line("                Residuals");
    f.Blank();
    f.LineFormat("%25s     Residual", "Label");
    f.Blank();
    for (int i = 0; i < fit.GetPointCount(); ++i)
        f.LineFormat(fit.IsRejected(i) ? "%25s%13.5f ***rejected" : "%25s%13.5f", LabelOf(fit, i), fit.GetResidual(i));
    f.Blank();
    f.LineFormat("%25s%13.5f", "RMS", fit.GetRms());
    f.Blank();
}

bool Finish(CReportFile& f, bool opened, const char* failure)
{
    if (opened && f.Commit())
        return true;
    AfxMessageBox(failure, MB_OK);
    return false;
}

bool WriteRoundReport(const CProjectDocument& doc, const CBestFitRound& fit, const char* name, const char* title,
                      const char* heading, const char* failure)
{
    CReportFile f;
    if (!f.Open(doc.GetPathName(), name))
        return Finish(f, false, failure);
    WriteHeader(f, title, 35, fit);
    f.Line(heading);
    f.Blank();
    f.LineFormat("                        Xo: %8.3f", fit.Xo);
    f.LineFormat("                        Yo: %8.3f", fit.Yo);
    f.LineFormat("                        Zo: %8.3f", fit.Zo);
    f.LineFormat("                         R: %8.3f", fit.R);
    WriteResiduals(f, fit);
    return Finish(f, true, failure);
}

} // namespace

bool WriteBestFitPlaneReport(const CProjectDocument& doc, const CBestFitPlane& fit)
{
    const char* failure = "Can't Open 3d Best Fit Plane Output File";
    CReportFile f;
    if (!f.Open(doc.GetPathName(), "BestFitPlane.txt"))
        return Finish(f, false, failure);
    WriteHeader(f, "Kestrelon Best Fit Plane Results", 45, fit);
    f.Line("         Plane Parameters");
    f.Blank();
    f.LineFormat("                        A: %6.3f", fit.A);
    f.LineFormat("                        B: %6.3f", fit.B);
    f.LineFormat("                        C: %6.3f", fit.C);
    f.LineFormat("                        D: %6.3f", fit.D);
    WriteResiduals(f, fit);
    return Finish(f, true, failure);
}

bool WriteBestFitSphereReport(const CProjectDocument& doc, const CBestFitSphere& fit)
{
    return WriteRoundReport(doc, fit, "BestFitSphere.txt", "Kestrelon Best Fit Sphere Results",
                            "         Sphere Parameters", "Can't Open 3d Best Fit Sphere Output File");
}

bool WriteBestFitCircleReport(const CProjectDocument& doc, const CBestFitCircle& fit)
{
    return WriteRoundReport(doc, fit, "BestFitCircle.txt", "Kestrelon Best Fit Circle Results",
                            "         Circle Parameters", "Can't Open 3d Best Fit Circle Output File");
}

bool WriteBestFitLineReport(const CProjectDocument& doc, const CBestFitLine& fit)
{
    const char* failure = "Can't Open 3d Best Fit Line Output File";
    CReportFile f;
    if (!f.Open(doc.GetPathName(), "BestFitLine.txt"))
        return Finish(f, false, failure);
    f.LineFormat("%35s", "Kestrelon Best Fit Line Results");
    f.LineFormat("%49s", "Kestrelon");
    f.LineFormat("%49s", "Close-range photogrammetry");
    f.LineFormat("%50s", ReportDate().GetText());
    f.Blank(2);
    f.Line("            Quick Summary");
    f.Blank();
    f.LineFormat("         Number of Points: %d", fit.GetPointCount());
    f.LineFormat("          Rejected Points: %d", fit.GetRejectedCount());
    f.LineFormat("               Iterations: %d", fit.GetIterations());
    f.LineFormat("         RMS of residuals: %8.5f", fit.GetRms());
    f.LineFormat("                   Sigma0: %8.5f", fit.sigma0);
    f.LineFormat("    Residual Error Cutoff: %8.5f", fit.GetCutoff());
    f.Blank(2);
    f.Line("         Line Parameters");
    f.Blank();
    f.LineFormat("                        Xo: %10.6f", fit.Xo);
    f.LineFormat("                        Yo: %10.6f", fit.Yo);
    f.LineFormat("                        Zo: %10.6f", fit.Zo);
    f.LineFormat("                         u: %10.6f", fit.u);
    f.LineFormat("                         v: %10.6f", fit.v);
    f.LineFormat("                         w: %10.6f", fit.w);
    f.Blank();
    f.Line("           Coordinate Residuals (Departures from Best-Fit Line)");
    f.Blank();
    f.Line("           Label       X           Y            Z            VX           VY           VZ           VXYZ");
    f.Blank();
    for (int i = 0; i < fit.GetPointCount(); ++i) {
        const CObjectPoint& p = *fit.GetPoint(i);
        f.LineFormat(fit.IsRejected(i) ? "%16s%13.5f%13.5f%13.5f%13.5f%13.5f%13.5f%13.5f ***rejected"
                                       : "%16s%13.5f%13.5f%13.5f%13.5f%13.5f%13.5f%13.5f",
                     LabelOf(fit, i), p.x, p.y, p.z, fit.GetResidualX(i), fit.GetResidualY(i), fit.GetResidualZ(i),
                     fit.GetPointDistance(i));
    }
    f.Blank();
    f.LineFormat("%51s    %13.5f%13.5f%13.5f%13.5f", "RMS", fit.GetRmsVX(), fit.GetRmsVY(), fit.GetRmsVZ(),
                 fit.GetRmsVXYZ());
    f.Blank();
    return Finish(f, true, failure);
}
