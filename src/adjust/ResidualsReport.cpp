// "Residuals.txt": the image residuals as a table of stations against
// points in groups of five points, the per-image and overall figures and,
// for a control network, the control point residuals.
#include "BundleReport.h"

#include <string>

#include "AdjustmentSummary.h"
#include "ObjectPoint.h"
#include "PointSet.h"
#include "ProjectImage.h"
#include "ProjectImageList.h"
#include "ProjectSettings.h"

namespace {

// The point's observation in image j, or none (no entry, -1, or an index
// the image does not hold).
const CImageObservation* ObservationOf(const CObjectPoint& point, const CProjectImage* image, int j)
{
    if (image == nullptr || j >= point.observationIndex.GetSize())
        return nullptr;
    const int index = point.observationIndex[j];
    return index < 0 ? nullptr : image->GetObservationAt(index);
}

} // namespace

bool CBundleReports::WriteResidualsReport()
{
    if (images == nullptr || points == nullptr || settings == nullptr || summary == nullptr)
        return false;
    CReportFile f;
    if (!Opened(f, "Residuals.txt"))
        return false;
    const CAdjustmentSummary& sum = *summary;

    f.Line("          Kestrelon Bundle Adjustment Results: Image Coordinate Residuals");
    f.Blank();
    f.LineFormat("%54s", ReportDate().GetText());
    f.Blank(2);
    f.Line(CDynString("Project:  ") + settings->projectPath.GetText());
    f.Blank();
    f.Line(settings->freeNetwork ? "Adjustment is Free-Network -- There are no explicit control points ***"
                                 : "Standard Adjustment - Preferred control points specified ***");
    f.Blank(2);
    f.Line("            Triangulated residuals");
    f.Blank();

    const int count = points->GetSize();
    const int imageCount = images->GetSize();
    // The rows are collected in a growing std::string (CDynString grows to
    // the exact size at every append) and handed over in blocks.
    std::string text;
    CDynString cell;
    for (int first = 0; first < count; first += 5) {
        const CObjectPoint* columns[5];
        int n = 0;
        for (int i = first; i < first + 5 && i < count; ++i) {
            const CObjectPoint* point = points->GetAt(i);
            if (point != nullptr && point->inUse)
                columns[n++] = point;
        }
        text = "\n Sta  |";
        for (int c = 0; c < n; ++c) {
            cell.Format("Pt %-16s|", columns[c]->label.GetText());
            text += cell.GetText();
        }
        text += "\n  #   |";
        for (int c = 0; c < n; ++c)
            text += "      x       y    |";
        text += "\n";
        f.Text(text.c_str());

        text.clear();
        for (int j = 0; j < imageCount; ++j) {
            const CProjectImage* image = images->GetAt(j);
            cell.Format("%4d  |", j + 1);
            text += cell.GetText();
            for (int c = 0; c < n; ++c) {
                const CImageObservation* obs = ObservationOf(*columns[c], image, j);
                if (obs == nullptr) {
                    text += "      0.0N    0.0N |";
                    continue;
                }
                if (obs->rejected)
                    cell.Format("%7.3f*%5.3f* |", obs->vx * 1000.0, obs->vy * 1000.0);
                else
                    cell.Format("%7.3f%6.3f  |", obs->vx * 1000.0, obs->vy * 1000.0);
                text += cell.GetText();
            }
            text += "\n";
            if (text.size() >= CReportFile::kBlockSize) {
                f.Text(text.c_str());
                text.clear();
            }
        }
        f.Line(text.c_str());
    }

    f.Blank(2);
    f.LineFormat("%46s", "Summary of Residuals");
    f.Line("  Sta            Station  Residuals         Number of");
    f.Line("   #          x         y       Total        Points");
    report::ImageResidualRows(f, *images, 12);
    f.Blank(2);

    f.Line("           Total Residuals                                                  Degrees of      Mean Error of");
    f.Line("       x         y       Total     Observations   Constraints   Parameters   Freedom         Unit Weight");
    double rx, ry, rxy;
    report::TotalResidualMicrons(*images, rx, ry, rxy);
    f.LineFormat("%10.2f%10.2f%10.2f%13d%13d%13d%13d%19.3f", rx, ry, rxy, sum.observations,
                 sum.constraints, sum.parameters, sum.GetDegreesOfFreedom(), sum.sigma0);
    f.Blank(2);

    if (!settings->freeNetwork) {
        f.Line("Control Point Residuals");
        f.Blank();
        f.Line("                                                                                      Total");
        f.Line("          Control Point Coordinates                Residuals                    Accuracy Estimates");
        f.Line(" Label      X         Y         Z           X          Y          Z         SX         SY         SZ");
        const int controlCount = control != nullptr ? control->GetSize() : 0;
        for (int i = 0; i < controlCount; ++i) {
            const CObjectPoint* c = control->GetAt(i);
            if (c == nullptr)
                continue;
            const int index = points->IndexOfLabel(c->label);
            const CObjectPoint* adjusted = index >= 0 ? points->GetAt(index) : nullptr;
            if (adjusted == nullptr)
                continue;
            // The residual columns show the discrepancies that the run left on
            // the control point's covariance diagonal.
            double r[3], sd[3];
            for (int a = 0; a < 3; ++a) {
                r[a] = report::RootOrZero(report::Element(c->covariance, a, a));
                sd[a] = report::RootOrZero(report::Element(adjusted->limitingCovariance, a, a));
            }
            f.LineFormat("%20s%08.3f%08.3f%08.3f%11.4f%11.4f%11.4f%11.4f%11.4f%11.4f", c->label.GetText(), c->x, c->y,
                         c->z, r[0], r[1], r[2], sd[0], sd[1], sd[2]);
        }
    }
    return Committed(f);
}
