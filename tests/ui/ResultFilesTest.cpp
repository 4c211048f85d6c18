// The document's result-file paths and its report members.
#include "ShellFixture.h"

#include "KestrelonDoc.h"
#include "ObjectPoint.h"
#include "PointSet.h"

#include <QFile>

#include <string>

class ResultFiles : public ShellFixture {};

TEST_F(ResultFiles, PathsFollowTheProjectAndTheTriangulationReportPrintsItsStatistics)
{
    ASSERT_NO_FATAL_FAILURE(NewProject());
    EXPECT_STREQ("", doc->GetTriangulationReportPath().GetText());

    const std::string folder = scratch.path().toStdString();
    doc->SetDocumentPath(QString::fromStdString(folder + "/Tiny.kst"));
    using Accessor = CFilePath (CKestrelonDoc::*)() const;
    const std::pair<Accessor, const char*> paths[] = {
        {&CKestrelonDoc::GetResectionReportPath, "Resection.txt"},
        {&CKestrelonDoc::GetTransformationReportPath, "Trans.txt"},
        {&CKestrelonDoc::GetTriangulationReportPath, "Triangulate.txt"},
        {&CKestrelonDoc::GetTransformedPointsPath, "Trans.xyz"},
        {&CKestrelonDoc::GetComparePointsPath, "Compare.xyz"},
        {&CKestrelonDoc::GetBestFitPlaneReportPath, "BestFitPlane.txt"},
        {&CKestrelonDoc::GetBestFitSphereReportPath, "BestFitSphere.txt"},
        {&CKestrelonDoc::GetBestFitLineReportPath, "BestFitLine.txt"},
        {&CKestrelonDoc::GetBestFitCircleReportPath, "BestFitCircle.txt"},
    };
    for (const auto& p : paths)
        EXPECT_EQ(folder + "/" + p.second, (doc->*p.first)().GetText());

    // No point has enough rays: the extremes print as zeros without labels.
    doc->settings.minimumRays = 3;
    CPointSet set;
    CObjectPoint point("P1", 1.0, 2.0, 3.0);
    point.SetSigmas(0.01, 0.02, 0.03);
    point.rayCount = 2;
    set.AddPointSorted(point);
    ASSERT_TRUE(doc->WriteTriangulationReport(set));
    QFile file(QString::fromStdString(folder + "/Triangulate.txt"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const std::string text = file.readAll().toStdString();
    EXPECT_NE(std::string::npos, text.find("             Project: Tiny.kst\r\n"));
    EXPECT_NE(std::string::npos, text.find("     RMS is          0.0100          0.0200          0.0300\r\n"));
    EXPECT_NE(std::string::npos, text.find(" Minimum is          0.0000          0.0000          0.0000\r\n"
                                           " at point                                                  \r\n"));
    EXPECT_NE(std::string::npos, text.find(" Maximum is          0.0000          0.0000          0.0000\r\n"));
    EXPECT_TRUE(TakeMessages().empty());
    Stop();
}
