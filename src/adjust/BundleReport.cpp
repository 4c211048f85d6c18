#include "BundleReport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>
#include <unordered_map>
#include <vector>

#include "AdjustmentEngine.h"
#include "AdjustmentSummary.h"
#include "Camera.h"
#include "Message.h"
#include "ObjectPoint.h"
#include "PointSet.h"
#include "ProjectImage.h"
#include "ProjectImageList.h"
#include "ProjectSettings.h"
#include "ScaleBar.h"
#include "TextFile.h"

// --- Shared helpers -----------------------------------------------------------

double report::Degrees()
{
    return 180.0 / (4.0 * std::atan(1.0));
}

double report::RootOrZero(double v)
{
    return v > 0.0 ? std::sqrt(v) : 0.0;
}

double report::Element(const CMatrix& m, int i, int j)
{
    const int rows = m.GetRows();
    const int cols = m.IsSymmetric() ? rows : m.GetCols();
    if (i < 0 || j < 0 || i >= rows || j >= cols)
        return 0.0;
    return m.GetAt(i, j);
}

void report::ImageResidualMicrons(const CProjectImage& image, double& x, double& y, double& xy)
{
    x = y = xy = 0.0;
    image.GetResidualRmsX(x);
    image.GetResidualRmsY(y);
    image.GetResidualRmsXY(xy);
    x *= 1000.0;
    y *= 1000.0;
    xy *= 1000.0;
}

void report::TotalResidualMicrons(const CImagePtrArray& images, double& x, double& y, double& xy)
{
    x = y = xy = 0.0;
    images.GetRmsX(x);
    images.GetRmsY(y);
    images.GetRmsXY(xy);
    x *= 1000.0;
    y *= 1000.0;
    xy *= 1000.0;
}

void report::ImageResidualRows(CReportFile& f, const CImagePtrArray& images, int countWidth)
{
    for (int j = 0; j < images.GetSize(); ++j) {
        const CProjectImage* image = images.GetAt(j);
        if (image == nullptr || !image->enabled || !image->oriented)
            continue;
        double rx, ry, rxy;
        ImageResidualMicrons(*image, rx, ry, rxy);
        char format[32];
        std::snprintf(format, sizeof format, "%%s%%10.2lf%%10.2lf%%10.2lf%%%dd", countWidth);
        f.LineFormat(format, image->name.GetText(), rx, ry, rxy, image->CountUsableObservations());
    }
}

CDynString Centred108(const CDynString& text)
{
    CDynString out(text);
    if (out.GetCapacity() == 0)
        out = "";
    out.Center(report::kCentreWidth);
    return out;
}

// --- Sightings ------------------------------------------------------------------

// Each image's observations are looked up by label in a table of the points,
// so the cost grows with the observations; the texts themselves hold one
// character per image and point. An image's first observation of a label
// decides its character, as a search of its label-ordered list would find it.
bool BuildSightings(CPointSet& points, const CImagePtrArray& images)
{
    const int n = images.GetSize();
    const int count = points.GetSize();
    std::unordered_map<std::string, int> first; // label -> first point with it
    std::vector<int> next(static_cast<size_t>(count), -1); // -> next point with the same label
    std::vector<std::string> text(static_cast<size_t>(count));
    std::string blank(static_cast<size_t>(n), ' '); // "N" under each image taking part
    for (int j = 0; j < n; ++j)
        if (images.GetAt(j) != nullptr && images.GetAt(j)->enabled)
            blank[static_cast<size_t>(j)] = 'N';
    for (int p = count - 1; p >= 0; --p) {
        const CObjectPoint* point = points.GetAt(p);
        if (point == nullptr)
            continue;
        auto inserted = first.emplace(point->label.GetText(), p);
        if (!inserted.second) {
            next[static_cast<size_t>(p)] = inserted.first->second;
            inserted.first->second = p;
        }
        text[static_cast<size_t>(p)] = blank;
    }
    std::string key;
    for (int j = 0; j < n; ++j) {
        const CProjectImage* image = images.GetAt(j);
        if (image == nullptr || !image->enabled)
            continue;
        const CObservationList& list = image->targets;
        for (int k = 0; k < list.GetSize(); ++k) {
            const CImageObservation* obs = list.GetAt(k);
            if (obs == nullptr)
                continue;
            key = obs->label.GetText();
            const auto found = first.find(key);
            if (found == first.end())
                continue;
            for (int p = found->second; p >= 0; p = next[static_cast<size_t>(p)]) {
                char& c = text[static_cast<size_t>(p)][static_cast<size_t>(j)];
                if (c == 'N')
                    c = obs->rejected ? '*' : 'Y';
            }
        }
    }
    for (int p = 0; p < count; ++p) {
        CObjectPoint* point = points.GetAt(p);
        if (point != nullptr)
            point->sightings = text[static_cast<size_t>(p)].c_str();
    }
    return true;
}

// --- Station block ----------------------------------------------------------------

void AppendBundleStationBlock(CDynString& out, const CProjectImage& image)
{
    static const char* const formats[STA_PARAMETER_COUNT] = {
        "    X%15.4f%12.4f%12.4f%15.4E%15.4E\n", "    Y%15.4f%12.4f%12.4f%15.4E%15.4E\n",
        "    Z%15.4f%12.4f%12.4f%15.4E%15.4E\n", "   AZ%15.6f%12.6f%12.6f%15.6E%15.6E\n",
        "   EL%15.6f%12.6f%12.6f%15.6E%15.6E\n", " ROLL%15.6f%12.6f%12.6f%15.6E%15.6E\n"};
    const double deg = report::Degrees();
    const double finals[STA_PARAMETER_COUNT] = {image.X, image.Y, image.Z, image.GetAzimuth() * deg,
                                                image.GetElevation() * deg, image.GetRoll() * deg};
    const CMatrix& cov = image.GetCovariance();
    for (int i = 0; i < STA_PARAMETER_COUNT; ++i) {
        const double unit = i >= STA_AZIMUTH ? deg : 1.0;
        const double d = image.corrections[i] * unit;
        const double finalError = report::RootOrZero(report::Element(cov, i, i)) * unit;
        out.AppendFormat(formats[i], finals[i] + d, -d, finals[i], image.aprioriSigma[i], finalError);
    }
}

std::ostream& WriteBundleStationBlock(std::ostream& os, CProjectImage image)
{
    CDynString text("");
    AppendBundleStationBlock(text, image);
    os << text.GetText();
    return os;
}

// --- The writers -------------------------------------------------------------------

CBundleReports::CBundleReports(CImagePtrArray* images, CPointSet* points, CPointSet* control,
                               CCameraList* cameras, CScaleBarList* scaleBars, CProjectSettings* settings,
                               CAdjustmentSummary* summary, CAdjustmentProgress* progress)
    : images(images), points(points), control(control), cameras(cameras), scaleBars(scaleBars),
      settings(settings), summary(summary), progress(progress)
{
}

CBundleReports::CBundleReports(CAdjustmentEngine& engine)
    : CBundleReports(engine.images, engine.points, engine.control, engine.cameras, engine.scaleBars,
                     engine.settings, engine.summary, &engine.progress)
{
}

void CBundleReports::SetCofactors(const CMatrix* inverse, int order)
{
    cofactors = inverse;
    cofactorOrder = inverse != nullptr ? std::max(0, std::min(order, inverse->GetRows())) : 0;
}

void CBundleReports::SetPhase(int phase)
{
    if (progress != nullptr)
        progress->phase = phase;
}

bool CBundleReports::Opened(CReportFile& f, const char* name)
{
    if (f.Open(settings->projectPath, name))
        return true;
    // A project never saved has no folder for reports: nothing to tell.
    if (!f.GetPath().empty())
        Tell(f.FailureText(name));
    return false;
}

bool CBundleReports::Committed(CReportFile& f)
{
    if (f.Commit())
        return true;
    Tell(f.FailureText(""));
    return false;
}

void CBundleReports::Tell(const std::string& failure)
{
    if (collecting)
        failures.push_back(failure);
    else
        AfxMessageBox(failure.c_str(), MB_OK | MB_ICONWARNING);
}

bool CBundleReports::WriteReports()
{
    if (settings == nullptr)
        return true;
    collecting = true;
    failures.clear();
    WriteBundleReport();
    if (settings->writeCameraParameters)
        WriteCameraReport();
    if (settings->writeResiduals)
        WriteResidualsReport();
    if (settings->writeCorrelations)
        WriteCorrelationsReport();
    if (settings->writeCovariances) {
        WritePointCovariances();
        WriteStationCovariances();
    }
    collecting = false;
    if (!failures.empty()) {
        std::string text;
        for (const std::string& failure : failures)
            text += (text.empty() ? "" : "\n") + failure;
        failures.clear();
        AfxMessageBox(text.c_str(), MB_OK | MB_ICONWARNING);
    }
    return true;
}

namespace {

int CountRejections(const CProjectImage& image)
{
    int n = 0;
    for (int o = 0; o < image.targets.GetSize(); ++o)
        if (image.targets.GetAt(o)->rejected)
            ++n;
    return n;
}

// A table row followed by the first 30 characters of the sightings text; the
// rest goes in pieces of 30 on continuation lines after `indent` blanks.
void SightingsRow(CReportFile& f, const CDynString& row, const CDynString& sightings, int indent)
{
    const char* s = sightings.GetText();
    const size_t length = std::strlen(s);
    std::string line(row.GetText());
    line.append(s, std::min<size_t>(30, length));
    f.Line(line.c_str());
    for (size_t pos = 30; pos < length; pos += 30) {
        line.assign(static_cast<size_t>(indent), ' ');
        line.append(s + pos, std::min<size_t>(30, length - pos));
        f.Line(line.c_str());
    }
}

} // namespace

bool CBundleReports::WriteBundleReport()
{
    if (images == nullptr || points == nullptr || settings == nullptr || summary == nullptr)
        return false;
    CReportFile f;
    if (!Opened(f, "Bundle.txt"))
        return false;
    SetPhase(PHASE_SIGHT_LIST);
    BuildSightings(*points, *images);

    const CProjectSettings& s = *settings;
    const CAdjustmentSummary& sum = *summary;
    const int scaling = scaleBars != nullptr ? scaleBars->scalingResult : -1;
    const int barCount = scaleBars != nullptr ? scaleBars->GetSize() : 0;
    const double deg = report::Degrees();

    f.Line(Centred108("Kestrelon Bundle Adjustment Results File: Bundle.txt"));
    f.Blank();
    f.Line(Centred108(ReportDate()));
    f.Blank(2);

    // Quick summary.
    f.Line("       Quick Summary");
    f.Line(CDynString("             Project: ") + s.projectPath.GetText());
    f.Line(s.freeNetwork ? "          Adjustment: Free Network"
                         : "          Adjustment: Preferred control points specified");
    f.Line(s.simulation ? "   Simulated Network: Yes" : "   Simulated Network: No");
    f.Line(s.standardFolding ? "      Folding Method: Standard" : "      Folding Method: Reverse");
    f.Line(scaling == 1   ? "             Scaling: Post Bundle"
           : scaling == 2 ? "             Scaling: Rigorous"
                          : "             Scaling: N/A");
    f.Line(CDynString("               Units: ") + s.unitName.GetText());
    f.LineFormat("    Number of Points: %d", points->GetUsedUnsolvedCount());
    f.LineFormat("    Number of Images: %d", images->GetSize());
    f.LineFormat("Number of Scale Bars: %d", barCount);
    f.LineFormat("Number of Iterations: %d", sum.iterations);
    if (sum.status == BUNDLE_ITERATION_LIMIT)
        f.Line("                      WARNING, SOLUTION DID NOT RUN TO CONVERGENCE ");
    f.LineFormat("    Elapsed CPU Time: %g  seconds", sum.elapsed);
    f.Blank();

    // Scale results.
    if (scaling == 2 || scaling == 1) {
        const bool rigorous = scaling == 2;
        if (rigorous) {
            f.Line("Rigorous Scale Results");
            f.Blank();
            f.Line("           Label         #               Label         #     Input               Adjusted      Distance");
            f.Line("             1          Rays               2          Rays  Distance    Sigma    Distance     Difference");
        } else {
            f.Line("Post Bundle Scale Results");
            f.Blank();
            f.Line("            Label        #                Label        #     Input      Measured     Distance");
            f.Line("              1         Rays                2         Rays  Distance    Distance    Difference");
        }
        for (int b = 0; b < barCount; ++b) {
            const CScaleBar* bar = scaleBars->GetAt(b);
            if (bar == nullptr)
                continue;
            const double adjusted = bar->rejected ? 0.0 : bar->adjustedLength;
            const double difference = bar->rejected ? 0.0 : bar->calibratedLength - bar->adjustedLength;
            CDynString line;
            if (rigorous)
                line.Format("%16s%10d%20s%10d%12.4f%10.4f%12.4f%12.4f", bar->endLabel1.GetText(), bar->rays1,
                            bar->endLabel2.GetText(), bar->rays2, bar->calibratedLength, bar->standardDeviation,
                            adjusted, difference);
            else
                line.Format("%16s%10d%20s%10d%12.4f%12.4f%12.4f", bar->endLabel1.GetText(), bar->rays1,
                            bar->endLabel2.GetText(), bar->rays2, bar->calibratedLength, adjusted, difference);
            if (bar->rejected)
                line += "    *rejected";
            f.Line(line);
        }
    } else if (scaling == 0) {
        f.Line("Attempt to apply scaling failed***************************");
        f.Blank();
    }
    f.Blank(3);

    // Exterior orientation.
    f.Line(Centred108(CDynString("Adjusted Exterior Orientation Parameters (angles are decimal degrees, XYZ are ") +
                      s.unitName.GetText() + ")"));
    f.Blank();
    for (int j = 0; j < images->GetSize(); ++j) {
        const CProjectImage* image = images->GetAt(j);
        if (image == nullptr || !image->enabled || !image->oriented)
            continue;
        const CCamera* camera = cameras != nullptr ? cameras->FindByName(image->GetCameraName().GetText()) : nullptr;
        CDynString heading("Results for Station  ");
        heading += image->name;
        heading += "    FileName  ";
        heading += image->GetFileName();
        heading += "     Camera ";
        heading += camera != nullptr ? camera->identifier.GetText() : "";
        heading += "     Lens ";
        heading += camera != nullptr ? camera->lensType.GetText() : "";
        f.Line(heading);
        f.Blank();
        f.Line(" Station    Initial      Total        Final      Initial         Final");
        f.Line(" Variable    Value     Adjustment     Value    Standard Error  Standard Error");
        f.Blank();
        CDynString block("");
        AppendBundleStationBlock(block, *image);
        f.Text(block);
        f.Blank(2);
        if (s.writeRotationAngles) {
            f.Line("Image Rotation Angles in Omega, Phi, Kappa System");
            f.Blank();
            f.LineFormat("Omega     %8.6f", image->GetOmega() * deg);
            f.LineFormat("Phi       %8.6f", image->GetPhi() * deg);
            f.LineFormat("Kappa     %8.6f", image->GetKappa() * deg);
            f.Blank(2);
        }
        if (s.writeRotationMatrices) {
            double R[3][3];
            image->GetRotation(R);
            f.Line("Image Rotation Matrix");
            f.Blank();
            for (int r = 0; r < 3; ++r)
                f.LineFormat("%12.8f   %12.8f   %12.8f", R[r][0], R[r][1], R[r][2]);
            f.Blank(2);
        }
    }

    // Residual summary.
    f.Line(Centred108("Summary of Image Coordinate Residuals (units are micrometres)"));
    f.Blank();
    f.Line("  Sta          RMS of Image Residuals       Number of non-rejected");
    f.Line("   #           x         y         xy       points");
    report::ImageResidualRows(f, *images, 11);
    f.Blank(2);
    f.Line("           Total Residuals (RMS)                        Degrees of");
    f.Line("       x         y         xy           Sigma0          Freedom     Observations   Parameters   Constraints");
    {
        double rx, ry, rxy;
        report::TotalResidualMicrons(*images, rx, ry, rxy);
        f.LineFormat("%10.2f%10.2f%10.2f%15.3f%16d%14d%14d%13d", rx, ry, rxy,
                     sum.sigma0, sum.GetDegreesOfFreedom(), sum.observations, sum.parameters, sum.constraints);
    }
    f.Blank(2);

    // Standard errors.
    enum { BOTH, LIMITING, TOTAL } form = !s.standardFolding ? TOTAL : (s.totalErrorPropagation ? BOTH : LIMITING);
    f.Line(Centred108(CDynString("Standard Errors From Limiting Error and Total Error Propogation (XYZ are in ") +
                      s.unitName.GetText() + ")"));
    f.Blank();
    if (form == BOTH) {
        f.Line("                        Limiting               Total                      Sightings");
        f.Line("                     Sigma Estimates       Sigma Estimates           #    List     111111111122222222223");
        f.Line("           Label    sX     sY     sZ      sX     sY     sZ     RMS  Rays  123456789012345678901234567890");
    } else {
        f.Line(form == LIMITING ? "                        Limiting                    Sightings"
                                : "                         Total                      Sightings");
        f.Line("                     Sigma Estimates           #    List     111111111122222222223");
        f.Line("           Label    sX     sY     sZ     RMS  Rays  123456789012345678901234567890");
    }
    for (int p = 0; p < points->GetSize(); ++p) {
        const CObjectPoint* point = points->GetAt(p);
        if (point == nullptr || !point->inUse)
            continue;
        double lim[3], tot[3];
        for (int a = 0; a < 3; ++a) {
            lim[a] = report::RootOrZero(report::Element(point->limitingCovariance, a, a));
            tot[a] = report::RootOrZero(report::Element(point->covariance, a, a));
        }
        CDynString row;
        if (form == BOTH)
            row.Format("%16s%8.4f%7.4f%7.4f%8.4f%7.4f%7.4f%4.3f%5d   ", point->label.GetText(), lim[0], lim[1],
                       lim[2], tot[0], tot[1], tot[2], point->rms, point->usedRayCount);
        else if (form == LIMITING)
            row.Format("%16s%8.4f%7.4f%7.4f%5.3f%5d   ", point->label.GetText(), lim[0], lim[1], lim[2],
                       point->rms, point->usedRayCount);
        else
            row.Format("%16s%8.4f%7.4f%7.4f%4.3f%5d   ", point->label.GetText(), tot[0], tot[1], tot[2],
                       point->rms, point->usedRayCount);
        SightingsRow(f, row, point->sightings, form == BOTH ? 74 : 52);
    }
    f.Blank(2);

    // Standard error statistics.
    const double(*ex)[3] = sum.extremes;
    const CNameBuffer(*lb)[3] = sum.extremeLabels;
    if (form == BOTH) {
        f.Line("                                Summary of                                       Summary of");
        f.Line("                        Limiting STD Error Estimates                     Total STD Error Estimates");
        f.Line("                     X               Y               Z               X               Y               Z");
        f.LineFormat("RMS is    %16.4f%16.4f%16.4f%16.4f%16.4f%16.4f", sum.rmsLimiting[0], sum.rmsLimiting[1],
                     sum.rmsLimiting[2], sum.rmsTotal[0], sum.rmsTotal[1], sum.rmsTotal[2]);
        f.Blank();
        const int order[2][2] = {{CAdjustmentSummary::kSmallestLimiting, CAdjustmentSummary::kSmallestTotal},
                                 {CAdjustmentSummary::kLargestLimiting, CAdjustmentSummary::kLargestTotal}};
        for (int m = 0; m < 2; ++m) {
            const int a = order[m][0], b = order[m][1];
            f.LineFormat(m == 0 ? "Minimum is%16.4f%16.4f%16.4f%16.4f%16.4f%16.4f"
                                : "Maximum is%16.4f%16.4f%16.4f%16.4f%16.4f%16.4f",
                         ex[a][0], ex[a][1], ex[a][2], ex[b][0], ex[b][1], ex[b][2]);
            f.LineFormat(" at point %16s%16s%16s%16s%16s%16s", lb[a][0].GetText(), lb[a][1].GetText(),
                         lb[a][2].GetText(), lb[b][0].GetText(), lb[b][1].GetText(), lb[b][2].GetText());
            f.Blank(m == 0 ? 1 : 2);
        }
    } else {
        const bool limiting = form == LIMITING;
        const double* rms = limiting ? sum.rmsLimiting : sum.rmsTotal;
        const int smallest = limiting ? CAdjustmentSummary::kSmallestLimiting : CAdjustmentSummary::kSmallestTotal;
        const int largest = limiting ? CAdjustmentSummary::kLargestLimiting : CAdjustmentSummary::kLargestTotal;
        if (limiting)
            f.LineFormat("%67s", "Summary of Limiting STD Error Estimates");
        else
            f.LineFormat("%65s", "Summary of Total STD Error Estimates");
        f.LineFormat("%68s", "         X                   Y                   Z");
        f.Blank();
        f.LineFormat("     RMS is%20.4f%20.4f%20.4f", rms[0], rms[1], rms[2]);
        f.Blank();
        f.LineFormat(" Minimum is%20.4f%20.4f%20.4f", ex[smallest][0], ex[smallest][1], ex[smallest][2]);
        f.LineFormat(" at point%20s%20s%20s", lb[smallest][0].GetText(), lb[smallest][1].GetText(),
                     lb[smallest][2].GetText());
        f.Blank();
        f.LineFormat(" Maximum is%20.4f%20.4f%20.4f", ex[largest][0], ex[largest][1], ex[largest][2]);
        f.LineFormat(" at point%20s%20s%20s", lb[largest][0].GetText(), lb[largest][1].GetText(),
                     lb[largest][2].GetText());
        f.Blank(2);
    }

    // Triangulated coordinates.
    f.Line(Centred108(CDynString("Triangulated Object Space Coordinates (XYZ are in ") + s.unitName.GetText() + ")"));
    f.Blank();
    f.Line("                                                                    Sightings");
    f.Line("                                                              #     List     111111111122222222223");
    f.Line("           Label       X           Y           Z       RMS   Rays   123456789012345678901234567890");
    for (int p = 0; p < points->GetSize(); ++p) {
        const CObjectPoint* point = points->GetAt(p);
        if (point == nullptr || !point->inUse)
            continue;
        CDynString row;
        row.Format("%16s%12.4f%12.4f%12.4f%4.2f%5d     ", point->label.GetText(), point->x, point->y, point->z,
                   point->rms, point->usedRayCount);
        SightingsRow(f, row, point->sightings, 68);
    }
    f.Blank(2);

    // Rejections; the file ends without a line end.
    f.Line("Image Coordinate Rejections");
    f.Blank();
    int rejections = 0;
    for (int j = 0; j < images->GetSize(); ++j) {
        const CProjectImage* image = images->GetAt(j);
        if (image == nullptr)
            continue;
        f.Text("\n");
        f.Line(CDynString("Image Number ") + image->name.GetText());
        for (int o = 0; o < image->targets.GetSize(); ++o) {
            const CImageObservation* obs = image->targets.GetAt(o);
            if (obs->rejected) {
                f.Text(" ");
                f.Text(obs->label.GetText());
            }
        }
        rejections += CountRejections(*image);
    }
    CDynString last;
    last.Format("\nTotal Rejections   %d", rejections);
    f.Text(last);
    return Committed(f);
}
