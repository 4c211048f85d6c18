// "Correlations.txt": correlation coefficients among the first camera's ten
// parameters and, under standard folding, between them and the six
// orientation unknowns of each image.
#include "BundleReport.h"

#include <cmath>

#include "AdjustmentEngine.h"
#include "Camera.h"
#include "Matrix.h"
#include "ProjectImage.h"
#include "ProjectImageList.h"
#include "ProjectSettings.h"

int CBundleReports::GetStationUnknown(int k) const
{
    const int cameraCount = cameras != nullptr ? cameras->GetSize() : 0;
    return 10 * cameraCount + 6 * k;
}

bool CBundleReports::GetCorrelation(int i, int j, double& out) const
{
    if (cofactors == nullptr || i < 0 || j < 0 || i >= cofactorOrder || j >= cofactorOrder)
        return false;
    out = cofactors->GetAt(i, j) / std::sqrt(cofactors->GetAt(i, i) * cofactors->GetAt(j, j));
    return true;
}

bool CBundleReports::WriteCorrelationsReport()
{
    if (images == nullptr || settings == nullptr)
        return false;
    SetPhase(PHASE_CORRELATIONS);
    // Only the inverse of a successful inversion gives coefficients.
    if (cofactors == nullptr || cofactorOrder <= 0)
        return false;
    for (int i = 0; i < cofactorOrder; ++i) {
        const double q = cofactors->GetAt(i, i);
        if (!(q > 0.0) || !std::isfinite(q))
            return false;
    }

    CReportFile f;
    if (!Opened(f, "Correlations.txt"))
        return false;

    // A coefficient outside the cofactors prints as blanks of its width.
    auto cell = [this](CDynString& line, int i, int j) {
        double r = 0.0;
        if (GetCorrelation(i, j, r))
            line.AppendFormat("%6.3f  ", r);
        else
            line += "        ";
    };

    f.Line("Kestrelon Bundle Adjustment: Correlation Coefficients");
    f.Blank();
    f.LineFormat("%54s", ReportDate().GetText());
    f.Blank(2);
    f.Line(CDynString("Project:  ") + settings->projectPath.GetText());
    f.Blank();
    f.Line("Camera Correlation Matrix");
    f.Blank();
    f.Line("      C      XP      YP      K1      K2      K3      P1     P2       B1      B2");
    f.Blank();
    static const char* const rowLabels[CAM_PARAMETER_COUNT] = {" C", "XP", "YP", "K1", "K2",
                                                               "K3", "P1", "P2", "B1", "B2"};
    for (int r = 0; r < CAM_PARAMETER_COUNT; ++r) {
        CDynString line(rowLabels[r]);
        for (int k = 0; k < r; ++k)
            line += "        ";
        for (int j = r; j < CAM_PARAMETER_COUNT; ++j)
            cell(line, r, j);
        f.Line(line);
    }
    f.Blank(2);
    f.Line("Correlations between Camera and Image EO Parameters");
    f.Blank();

    if (!settings->standardFolding) {
        f.Blank(2);
        f.Line("     Unavailable for Reverse Foldin");
        f.Blank();
        return Committed(f);
    }

    static const char* const blockLabels[CAM_PARAMETER_COUNT] = {" C  ", "XP  ", "YP  ", "K1  ", "K2  ",
                                                                 "K3  ", "P1  ", "P2  ", "B1  ", "B2  "};
    for (int k = 0; k < images->GetSize(); ++k) {
        const CProjectImage* image = images->GetAt(k);
        if (image == nullptr)
            continue;
        f.Blank(2);
        CDynString heading;
        heading.Format("Image %d:  ", k + 1);
        heading += image->GetFileName();
        f.Line(heading);
        f.Blank(2);
        f.Line("       X       Y       Z       A       E       R");
        f.Blank();
        const int first = GetStationUnknown(k);
        for (int r = 0; r < CAM_PARAMETER_COUNT; ++r) {
            CDynString line(blockLabels[r]);
            for (int j = 0; j < STA_PARAMETER_COUNT; ++j)
                cell(line, r, first + j);
            f.Line(line);
        }
    }
    return Committed(f);
}
