// The document's result-file paths and its report members.
#include "ShellFixture.h"

#include "Hooks.h"
#include "KestrelonDoc.h"
#include "MainFrame.h"
#include "Resources.h"
#include "ObjectPoint.h"
#include "PointSet.h"

#include <QCoreApplication>
#include <QDir>
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

namespace result_files_test {

// Each result entry whose file exists opens it with the desktop; when the
// desktop cannot, a message names the file and its folder.
TEST_F(ResultFiles, AFailedOpenerIsReportedWithTheFileAndItsFolder)
{
    ASSERT_NO_FATAL_FAILURE(NewProject());
    const QString folder = scratch.path();
    doc->SetDocumentPath(folder + QStringLiteral("/Tiny.kst"));
    doc->settings.SetProjectPath((folder + QStringLiteral("/Tiny.kst")).toLocal8Bit().constData());
    const std::pair<int, const char*> entries[] = {
        {ID_RESULTS_BUNDLE, "Bundle.txt"}, {ID_RESULTS_CAMERA, "Camera.txt"},
        {ID_RESULTS_RESIDUALS, "Residuals.txt"}, {ID_RESULTS_CORRELATIONS, "Correlations.txt"},
        {ID_RESULTS_RESECTION, "Resection.txt"}, {ID_RESULTS_TRANS, "Trans.txt"},
        {ID_RESULTS_TRIANGULATE, "Triangulate.txt"},
    };
    for (bool opens : {true, false}) {
        SetOpenWithDesktopHook([opens, this](const QString& path) {
            opened << path;
            return opens;
        });
        for (const auto& [id, name] : entries) {
            SCOPED_TRACE(name);
            QFile file(folder + '/' + QString::fromLatin1(name));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.close();
            opened.clear();
            Frame()->OnCmdMsg(id, nullptr);
            EXPECT_EQ(opened, QStringList{file.fileName()});
            const std::vector<std::string> messages = TakeMessages();
            if (opens) {
                EXPECT_TRUE(messages.empty());
                continue;
            }
            ASSERT_EQ(messages.size(), 1u);
            EXPECT_NE(messages[0].find(name), std::string::npos) << messages[0];
            EXPECT_NE(messages[0].find(QDir::toNativeSeparators(folder).toStdString()), std::string::npos)
                << messages[0];
        }
    }
    Stop();
}

// Help > Manual, enabled (the guide beside the program, the opener on the
// path): when the desktop cannot open the guide, the same message names it.
TEST_F(ResultFiles, TheManualSaysWhenTheDesktopCannotOpenIt)
{
    const QString guide = QCoreApplication::applicationDirPath() + QStringLiteral("/KestrelonGuide.pdf");
    const bool guideWasThere = QFile::exists(guide);
    struct Cleanup {
        QString file;
        ~Cleanup()
        {
            if (!file.isEmpty())
                QFile::remove(file);
        }
    } cleanup{guideWasThere ? QString() : guide};
    if (!guideWasThere) {
        QFile file(guide);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    const QString bin = MakeDesktopOpener();
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", bin.toLocal8Bit());
    const bool started = Start() != nullptr;
    qputenv("PATH", path);
    ASSERT_TRUE(started);
    for (bool opens : {true, false}) {
        SCOPED_TRACE(opens);
        SetOpenWithDesktopHook([opens, this](const QString& file) {
            opened << file;
            return opens;
        });
        opened.clear();
        Frame()->OnCommandId(ID_HELP_MANUAL);
        EXPECT_EQ(opened, QStringList{guide});
        const std::vector<std::string> messages = TakeMessages();
        if (opens) {
            EXPECT_TRUE(messages.empty());
            continue;
        }
        const std::string folder = QDir::toNativeSeparators(QCoreApplication::applicationDirPath()).toStdString();
        EXPECT_EQ(messages, std::vector<std::string>{"Cannot open KestrelonGuide.pdf in the folder " + folder +
                                                     ":\nno application of the desktop opens it."});
    }
    Stop();
}

} // namespace result_files_test
