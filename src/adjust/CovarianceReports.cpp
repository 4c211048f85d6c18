// "PointsQxx.txt" and "StationsQxx.txt": the 3x3 covariance of every object
// point and of every station position.
#include "BundleReport.h"

#include "ObjectPoint.h"
#include "PointSet.h"
#include "ProjectImage.h"
#include "ProjectImageList.h"
#include "ProjectSettings.h"

bool CBundleReports::WriteCovarianceReport(bool stations)
{
    if (settings == nullptr || (stations ? images == nullptr : points == nullptr))
        return false;
    CReportFile f;
    if (!Opened(f, stations ? "StationsQxx.txt" : "PointsQxx.txt"))
        return false;
    f.Line(Centred108(stations ? "Kestrelon Bundle Adjustment Results File: Covariances of Camera Station Locations"
                               : "Kestrelon Bundle Adjustment Results File: Covariances of 3D Points"));
    f.Blank();
    f.Line(Centred108(ReportDate()));
    f.Blank(2);

    auto record = [&f](const char* name, const CMatrix& m) {
        f.Line(name);
        for (int r = 0; r < 3; ++r) {
            CDynString line;
            for (int c = 0; c < 3; ++c)
                line.AppendFormat("%12.9f  ", report::Element(m, r, c));
            f.Line(line);
        }
        f.Blank();
    };
    if (stations) {
        for (int j = 0; j < images->GetSize(); ++j) {
            const CProjectImage* image = images->GetAt(j);
            if (image != nullptr)
                record(image->GetFileName().GetText(), image->GetCovariance());
        }
    } else {
        for (int i = 0; i < points->GetSize(); ++i) {
            const CObjectPoint* point = points->GetAt(i);
            if (point != nullptr)
                record(point->label.GetText(), point->covariance);
        }
    }
    return Committed(f);
}

bool CBundleReports::WritePointCovariances()
{
    return WriteCovarianceReport(false);
}

bool CBundleReports::WriteStationCovariances()
{
    return WriteCovarianceReport(true);
}
