// The bundle's report files written from a hand-filled result state and
// compared byte for byte with expected files written from the layouts.
#include <gtest/gtest.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <string>
#include <vector>

#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "BundleReport.h"
#include "ReportProject.h"
#include "FileIO.h"
#include "Message.h"
#include "ProjectSettings.h"

using namespace reporttest;

namespace {

std::string Written(const TempFolder& folder, const char* name, bool centredDate)
{
    std::string text;
    if (!ReadFile(folder.File(name), text))
        return "<not written>";
    return MaskDate(text, centredDate);
}

std::vector<std::string> FolderEntries(const std::string& path)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(path.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string n = e->d_name;
            if (n != "." && n != "..")
                names.push_back(n);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void WriteAll(ReportProject& project, bool withCofactors)
{
    project.settings.writeCameraParameters = true;
    project.settings.writeResiduals = true;
    project.settings.writeCorrelations = true;
    project.settings.writeCovariances = true;
    CBundleReports reports(&project.images, &project.points, &project.control, &project.cameras,
                           &project.scaleBars, &project.settings, &project.summary, nullptr);
    if (withCofactors)
        reports.SetCofactors(&project.cofactors, project.cofactorOrder);
    reports.WriteReports();
}

} // namespace

// Control network: limiting and total columns, no scaling (-1), iteration
// limit warning, rotation angles and matrices, control point residuals,
// two cameras in the correlations, covariance files.
TEST(BundleReports, ControlNetworkWritesAllSixFilesAsLaidOut)
{
    TempFolder folder;
    ReportProject project(folder.Path(), CONTROL);
    WriteAll(project, true);
    const std::string projectPath = folder.Path() + "/Tiny.kst";
    EXPECT_EQ(Written(folder, "Bundle.txt", true), Expected("control_Bundle.txt", projectPath));
    EXPECT_EQ(Written(folder, "Camera.txt", true), Expected("control_Camera.txt", projectPath));
    EXPECT_EQ(Written(folder, "Residuals.txt", false), Expected("control_Residuals.txt", projectPath));
    EXPECT_EQ(Written(folder, "Correlations.txt", false), Expected("control_Correlations.txt", projectPath));
    EXPECT_EQ(Written(folder, "PointsQxx.txt", true), Expected("control_PointsQxx.txt", projectPath));
    EXPECT_EQ(Written(folder, "StationsQxx.txt", true), Expected("control_StationsQxx.txt", projectPath));
    // Only the six reports are left in the folder: no temporary files.
    EXPECT_EQ(FolderEntries(folder.Path()),
              (std::vector<std::string>{"Bundle.txt", "Camera.txt", "Correlations.txt", "PointsQxx.txt",
                                        "Residuals.txt", "StationsQxx.txt"}));
    // The sightings texts stay on the points, out-of-use points included.
    EXPECT_STREQ(project.points.GetAt(1)->sightings.GetText(), "*Y ");
    EXPECT_STREQ(project.points.GetAt(3)->sightings.GetText(), "YN ");
}

// Free network with post-bundle scaling (1) and with scaling that failed
// (0): limiting column only, no control section in the residuals.
TEST(BundleReports, FreeNetworkPostBundleScalingAndFailedScaling)
{
    {
        TempFolder folder;
        ReportProject project(folder.Path(), POST_BUNDLE);
        WriteAll(project, true);
        const std::string projectPath = folder.Path() + "/Tiny.kst";
        EXPECT_EQ(Written(folder, "Bundle.txt", true), Expected("postbundle_Bundle.txt", projectPath));
        EXPECT_EQ(Written(folder, "Residuals.txt", false), Expected("postbundle_Residuals.txt", projectPath));
    }
    {
        TempFolder folder;
        ReportProject project(folder.Path(), FAILED_SCALING);
        WriteAll(project, true);
        EXPECT_EQ(Written(folder, "Bundle.txt", true),
                  Expected("failedscaling_Bundle.txt", folder.Path() + "/Tiny.kst"));
    }
}

// Rigorous scaling (2) under reverse folding: total column only whatever the
// propagation switch says, and no per-image correlations.
TEST(BundleReports, RigorousScalingReverseFolding)
{
    TempFolder folder;
    ReportProject project(folder.Path(), RIGOROUS);
    ASSERT_TRUE(project.settings.totalErrorPropagation);
    WriteAll(project, true);
    const std::string projectPath = folder.Path() + "/Tiny.kst";
    EXPECT_EQ(Written(folder, "Bundle.txt", true), Expected("rigorous_Bundle.txt", projectPath));
    EXPECT_EQ(Written(folder, "Correlations.txt", false), Expected("rigorous_Correlations.txt", projectPath));
}

TEST(BundleReports, SameBytesUnderADecimalCommaLocale)
{
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr && std::setlocale(LC_ALL, "de_DE.utf8") == nullptr)
        GTEST_SKIP() << "no decimal-comma locale installed";
    TempFolder german;
    ReportProject a(german.Path(), CONTROL);
    WriteAll(a, true);
    std::setlocale(LC_ALL, "C");
    TempFolder plain;
    ReportProject b(plain.Path(), CONTROL);
    WriteAll(b, true);
    std::setlocale(LC_ALL, saved.c_str());
    for (const char* name : {"Bundle.txt", "Camera.txt", "Residuals.txt", "Correlations.txt", "PointsQxx.txt",
                             "StationsQxx.txt"}) {
        const bool centred = std::string(name) != "Residuals.txt" && std::string(name) != "Correlations.txt";
        std::string x = Written(german, name, centred), y = Written(plain, name, centred);
        // The project paths differ only by the temporary folder's name.
        for (size_t at; (at = x.find(german.Path())) != std::string::npos;)
            x.replace(at, german.Path().size(), "@");
        for (size_t at; (at = y.find(plain.Path())) != std::string::npos;)
            y.replace(at, plain.Path().size(), "@");
        EXPECT_EQ(x, y) << name;
        bool decimalComma = false;
        for (size_t i = 1; i + 1 < x.size(); ++i)
            decimalComma |= x[i] == ',' && x[i - 1] >= '0' && x[i - 1] <= '9' && x[i + 1] >= '0' && x[i + 1] <= '9';
        EXPECT_FALSE(decimalComma) << name << ": a decimal comma";
    }
}

// Without the inverse of a successful inversion there are no coefficients:
// the last good "Correlations.txt" stays untouched.
TEST(BundleReports, CorrelationsNeedASuccessfulInversion)
{
    TempFolder folder;
    ReportProject project(folder.Path(), CONTROL);
    CBundleReports reports(&project.images, &project.points, &project.control, &project.cameras,
                           &project.scaleBars, &project.settings, &project.summary, nullptr);
    EXPECT_FALSE(reports.WriteCorrelationsReport());
    EXPECT_TRUE(FolderEntries(folder.Path()).empty());

    reports.SetCofactors(&project.cofactors, project.cofactorOrder);
    ASSERT_TRUE(reports.WriteCorrelationsReport());
    std::string good;
    ASSERT_TRUE(ReadFile(folder.File("Correlations.txt"), good));

    CMatrix broken(project.cofactors);
    broken.SetAt(0.0, 25, 25);
    reports.SetCofactors(&broken, project.cofactorOrder);
    EXPECT_FALSE(reports.WriteCorrelationsReport());
    reports.SetCofactors(nullptr, 0);
    EXPECT_FALSE(reports.WriteCorrelationsReport());
    std::string after;
    ASSERT_TRUE(ReadFile(folder.File("Correlations.txt"), after));
    EXPECT_EQ(after, good);

    // Image k's unknowns follow the ten of every camera.
    reports.SetCofactors(&project.cofactors, project.cofactorOrder);
    EXPECT_EQ(reports.GetStationUnknown(0), 20);
    double r = 0.0;
    ASSERT_TRUE(reports.GetCorrelation(3, reports.GetStationUnknown(2) + 4, r));
    EXPECT_NEAR(r, ReportProject::Correlation(3, 36), 1e-12);
    EXPECT_FALSE(reports.GetCorrelation(3, project.cofactorOrder, r));
}

// A run whose project was never saved has no folder: no report is written,
// neither in the working folder nor in the root.
TEST(BundleReports, NoProjectFolderWritesNoReport)
{
    TempFolder folder;
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(folder.Path().c_str()), 0);
    for (const char* path : {"", "Tiny.kst"}) {
        ReportProject project(folder.Path(), CONTROL);
        project.settings.SetProjectPath(path);
        CBundleReports reports(&project.images, &project.points, &project.control, &project.cameras,
                               &project.scaleBars, &project.settings, &project.summary, nullptr);
        reports.SetCofactors(&project.cofactors, project.cofactorOrder);
        EXPECT_FALSE(reports.WriteBundleReport()) << path;
        EXPECT_FALSE(reports.WriteCameraReport()) << path;
        EXPECT_FALSE(reports.WriteResidualsReport()) << path;
        EXPECT_FALSE(reports.WriteCorrelationsReport()) << path;
        EXPECT_FALSE(reports.WritePointCovariances()) << path;
        EXPECT_FALSE(reports.WriteStationCovariances()) << path;
    }
    EXPECT_TRUE(FolderEntries(folder.Path()).empty());
    EXPECT_NE(access("/Bundle.txt", F_OK), 0);
    ASSERT_EQ(chdir(previous), 0);
}

// A report that cannot be written completely (here: the file size limit is
// hit part-way) is skipped and the last good report stays in place.
TEST(BundleReports, FailedWriteKeepsTheLastGoodReport)
{
    TempFolder folder;
    ReportProject project(folder.Path(), CONTROL);
    CBundleReports reports(&project.images, &project.points, &project.control, &project.cameras,
                           &project.scaleBars, &project.settings, &project.summary, nullptr);
    ASSERT_TRUE(reports.WriteBundleReport());
    std::string good;
    ASSERT_TRUE(ReadFile(folder.File("Bundle.txt"), good));
    ASSERT_GT(good.size(), 2000u);

    project.summary.iterations = 8; // the next report differs
    TakeCapturedMessages();
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    void (*previousHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = reports.WriteBundleReport();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(written);
    // The failure is told with the report's path and the reason.
    std::vector<CapturedMessage> told = TakeCapturedMessages();
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].text,
              "The report " + folder.File("Bundle.txt") + " could not be written: " + SystemErrorText(EFBIG) + ".");
    std::string after;
    ASSERT_TRUE(ReadFile(folder.File("Bundle.txt"), after));
    EXPECT_EQ(after, good);
    EXPECT_EQ(FolderEntries(folder.Path()), std::vector<std::string>{"Bundle.txt"});

    // A report path that is taken by a folder cannot be replaced either.
    ASSERT_EQ(mkdir(folder.File("Camera.txt").c_str(), 0777), 0);
    EXPECT_FALSE(reports.WriteCameraReport());
    EXPECT_EQ(FolderEntries(folder.Path()), (std::vector<std::string>{"Bundle.txt", "Camera.txt"}));
    const std::string cameraFailure =
        "The report " + folder.File("Camera.txt") + " could not be written: it is a folder, not a file.";
    told = TakeCapturedMessages();
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].text, cameraFailure);

    // A run's reports: the failures of all of them in one message.
    ASSERT_EQ(mkdir(folder.File("Residuals.txt").c_str(), 0777), 0);
    project.settings.writeCameraParameters = true;
    project.settings.writeResiduals = true;
    project.settings.writeCorrelations = false;
    project.settings.writeCovariances = false;
    EXPECT_TRUE(reports.WriteReports());
    told = TakeCapturedMessages();
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].text, cameraFailure + "\nThe report " + folder.File("Residuals.txt") +
                                " could not be written: it is a folder, not a file.");
}

// Lines collected across many blocks reach the disk unchanged, each "\n" as
// CR LF, also where a line end falls on a block boundary.
TEST(BundleReports, BlocksKeepTheBytes)
{
    TempFolder folder;
    CReportFile f;
    ASSERT_TRUE(f.Open((folder.Path() + "/x.kst").c_str(), "Big.txt"));
    std::string expected;
    for (int i = 0; i < 40000; ++i) {
        std::string line(static_cast<size_t>(i % 97), static_cast<char>('a' + i % 26));
        if (i % 3 == 0) {
            f.LineFormat("%s|%5d", line.c_str(), i);
            char tail[16];
            std::snprintf(tail, sizeof tail, "|%5d", i);
            line += tail;
        } else {
            f.Line(line.c_str());
        }
        expected += line + "\r\n";
    }
    f.Text("end");
    expected += "end";
    ASSERT_TRUE(f.Commit());
    std::string text;
    ASSERT_TRUE(ReadFile(folder.File("Big.txt"), text));
    EXPECT_GT(text.size(), 3 * CReportFile::kBlockSize);
    EXPECT_EQ(text, expected);
}
