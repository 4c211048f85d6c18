// "Camera.txt": the adjusted interior orientation of every camera and a
// one-line exterior orientation of every image.
#include "BundleReport.h"

#include "Camera.h"
#include "PointSet.h"
#include "ProjectImage.h"
#include "ProjectImageList.h"
#include "ProjectSettings.h"

bool CBundleReports::WriteCameraReport()
{
    if (images == nullptr || points == nullptr || settings == nullptr)
        return false;
    CReportFile f;
    if (!Opened(f, "Camera.txt"))
        return false;
    const double deg = report::Degrees();

    f.Line(Centred108("Kestrelon Bundle Adjustment Results: Camera Parameters"));
    f.Blank();
    f.Line(Centred108(ReportDate()));
    f.Blank();
    f.Line(CDynString("Project:  ") + settings->projectPath.GetText());
    f.Blank();
    f.Line(settings->freeNetwork ? "Adjustment: Free-Network" : "Adjustment: Explicit Object Point Control");
    f.LineFormat("Number of Points: %d", points->GetSize());
    f.LineFormat("Number of Images: %d", images->GetSize());
    double rms = 0.0;
    images->GetRmsXY(rms);
    f.LineFormat("RMS of Image coords: %7.2lf (um)", rms * 1000.0);
    f.Blank();

    static const char* const formats[CAM_PARAMETER_COUNT] = {
        "    C%14.4f%13.5f%14.4f%15.1e%15.3e (mm)", "   XP%14.4f%13.5f%14.4f%15.1e%15.3e (mm)",
        "   YP%14.4f%13.5f%14.4f%15.1e%15.3e (mm)", "   K1%14.5e%13.3e%14.5e%15.1e%15.3e",
        "   K2%14.5e%13.3e%14.5e%15.1e%15.3e",      "   K3%14.5e%13.3e%14.5e%15.1e%15.3e",
        "   P1%14.5e%13.3e%14.5e%15.1e%15.3e",      "   P2%14.5e%13.3e%14.5e%15.1e%15.3e",
        "   B1%14.5e%13.3e%14.5e%15.1e%15.3e",      "   B2%14.5e%13.3e%14.5e%15.1e%15.3e"};
    const int cameraCount = cameras != nullptr ? cameras->GetSize() : 0;
    for (int k = 0; k < cameraCount; ++k) {
        const CCamera* camera = cameras->GetAt(k);
        if (camera == nullptr)
            continue;
        CDynString heading;
        heading.Format("Results for Camera %d    ", k + 1);
        heading += camera->identifier;
        heading += "      Lens ";
        heading += camera->lensType;
        f.Line(heading);
        f.Blank();
        f.Line("Sensor Size        Pixel Size (mm)");
        f.LineFormat("  H%8d%16.6lf", camera->XPixels, camera->XPixelSize);
        f.LineFormat("  V%8d%16.6lf", camera->YPixels, camera->YPixelSize);
        f.Blank();
        f.Line("  Camera    Initial      Total          Final        Initial         Final");
        f.Line(" Variable    Value     Adjustment       Value       Std. Error     Std. Error");
        for (int q = 0; q < CAM_PARAMETER_COUNT; ++q) {
            const double value = camera->parameters[q];
            const double d = camera->corrections[q];
            f.LineFormat(formats[q], value + d, -d, value, camera->sigmas[q], camera->postSigmas[q]);
        }
        f.Blank();
    }

    CDynString radial("Maximum Observational Radial Distance Encountered:  ");
    radial.AppendFormat("    %2.3f", cameras != nullptr ? images->GetMaxRadialDistance(*cameras) : 0.0);
    radial += " mm";
    f.Line(radial);
    f.Blank();

    f.Line("Exterior Orientation Summary (Xc, Yc, Zc are in project units, rotations are in decimal degrees)");
    f.Blank();
    f.Line("Station       Image         Xc          Yc          Zc       Alpha       Elev.        Roll");
    for (int j = 0; j < images->GetSize(); ++j) {
        const CProjectImage* image = images->GetAt(j);
        if (image == nullptr)
            continue;
        f.LineFormat("%5d%16s%12.5f%12.5f%12.5f%12.6f%12.6f%12.6f", j + 1, image->name.GetText(), image->X, image->Y,
                     image->Z, image->GetAzimuth() * deg, image->GetElevation() * deg, image->GetRoll() * deg);
    }
    return Committed(f);
}
