// Resection of all images with its summary, the driveback resection's
// questions, and the "Triangulate" dialog, on the sample project.
#include "ShellFixture.h"
#include "WholeTexts.h"
#include "StationDialogs.h"

#include "Controls.h"
#include "Hub.h"
#include "KestrelonDoc.h"
#include "KestrelonView.h"
#include "MeasurementTool.h"
#include "MessageHub.h"
#include "OrientationCommands.h"
#include "Resources.h"
#include "SampleProject.h"

#include <QAction>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTreeWidgetItem>

#include <cmath>
#include <cstdio>

namespace {

constexpr double kObjectSize = 2000.0; // mm, the sample's walls

class Orientation : public ShellFixture {
protected:
    void OpenSample(double noise)
    {
        folder = scratch.filePath(QStringLiteral("sample"));
        std::string message;
        ASSERT_TRUE(WriteSampleProject(folder.toStdString(), message, noise)) << message;
        ASSERT_TRUE(Start({QStringLiteral("--nosplash"), folder + QStringLiteral("/Sample.kst")}));
        doc = GetActiveKestrelonDoc();
        ASSERT_NE(doc, nullptr);
        BuildSampleTruth(truth);
        TakeMessages();
    }
    CProjectImage& Image(int i) { return *doc->images.GetAt(i); }
    // Observations of the image whose labels are driver points.
    int DriverObservations(const CProjectImage& image)
    {
        int n = 0;
        CPointSet* driver = doc->pointSets.GetDriverSet();
        for (int k = 0; k < image.targets.GetSize(); ++k)
            n += driver->FindPointByText(image.targets.GetAt(k)->label.GetText()) != nullptr;
        return n;
    }
    // Keeps the observations of driver points up to the count, and all
    // others relabelled away from the driver set.
    void KeepDriverObservations(CProjectImage& image, int keep)
    {
        CPointSet* driver = doc->pointSets.GetDriverSet();
        int kept = 0;
        for (int k = 0; k < image.targets.GetSize(); ++k) {
            CImageObservation& o = *image.targets.GetAt(k);
            if (driver->FindPointByText(o.label.GetText()) && kept++ < keep)
                continue;
            char label[16];
            std::snprintf(label, sizeof label, "Z%d", k);
            o.label = CNameBuffer(label);
        }
        image.targets.SortByLabel();
    }
    static QString Line(const char* format, const CProjectImage& image, double rms = 0.0, int used = 0)
    {
        char text[160];
        std::snprintf(text, sizeof text, format, image.name.GetText(), rms, used);
        return QString::fromLatin1(text);
    }

    QString folder;
    CSampleTruth truth;
};

TEST_F(Orientation, ResectAllRecoversTheTruthAndReportsEveryImage)
{
    OpenSample(0.0);
    // 0, 1 far from their truth and not resected; 2 disabled; 3 with two
    // observations; 4 with two driver points; 5 with a camera the project lacks.
    for (int i : {0, 1}) {
        Image(i).oriented = false;
        Image(i).SetPose(0.0, 0.0, 0.0, 1.0, -0.5, 2.0);
    }
    Image(2).enabled = false;
    while (Image(3).targets.GetSize() > 2)
        Image(3).targets.RemoveAt(Image(3).targets.GetSize() - 1, 1);
    KeepDriverObservations(Image(4), 2);
    Image(5).SetCameraName("Nowhere");
    doc->SetModifiedFlag(false);

    QStringList expected;
    for (int i = 0; i < doc->images.GetSize(); ++i) {
        const CProjectImage& m = Image(i);
        if (i == 2 || i == 3)
            continue;
        if (i == 4)
            expected << Line("%10s  FAILED (Not enough common points)", m);
        else if (i == 5)
            expected << Line("%10s  FAILED ", m);
        else
            expected << Line("%10s        %2.3f       %3d ", m, 0.0, DriverObservations(m));
    }
    QStringList shown;
    dialogs.push_back([&](CDialog& d) {
        auto& summary = dynamic_cast<CResectionSummaryDlg&>(d);
        for (int r = 0; r < summary.m_List->count(); ++r)
            shown << summary.m_List->item(r)->text();
        return int(QDialog::Accepted);
    });
    QFile::remove(folder + QStringLiteral("/Resection.txt"));
    Frame()->UpdateCmdUI();
    ASSERT_TRUE(Frame()->GetAction(ID_RESECT_ALL)->isEnabled());
    Frame()->GetAction(ID_RESECT_ALL)->trigger();
    Settle();

    EXPECT_EQ(shown, expected);
    for (int i = 0; i < doc->images.GetSize(); ++i) {
        const CProjectImage& m = Image(i);
        if (i == 2 || i == 3) {
            EXPECT_TRUE(m.oriented) << i;
            continue;
        }
        EXPECT_EQ(m.oriented, i != 4 && i != 5) << i;
        if (!m.oriented)
            continue;
        const CSamplePose& p = truth.poses[size_t(i)];
        EXPECT_NEAR(m.X, p.X, 1e-6 * kObjectSize) << i;
        EXPECT_NEAR(m.Y, p.Y, 1e-6 * kObjectSize) << i;
        EXPECT_NEAR(m.Z, p.Z, 1e-6 * kObjectSize) << i;
    }
    EXPECT_TRUE(QFile::exists(folder + QStringLiteral("/Resection.txt")));
    EXPECT_TRUE(doc->IsModified());
    EXPECT_TRUE(doc->GetTitle().endsWith(QLatin1Char('*')));

    // Without a driver set only the message appears.
    QFile::remove(folder + QStringLiteral("/Resection.txt"));
    doc->pointSets.GetDriverSet()->isDriver = false;
    TakeMessages();
    doc->ResectAllImages();
    EXPECT_EQ(TakeMessages(), std::vector<std::string>{"No Driver Present"});
    EXPECT_FALSE(QFile::exists(folder + QStringLiteral("/Resection.txt")));
}

TEST_F(Orientation, DrivebackAsksAndRefreshesTheTreeOnEveryPath)
{
    OpenSample(0.0);
    int refreshes = 0;
    SetHubDispatcher(
        [&](HubTarget, unsigned message, std::uintptr_t, std::intptr_t) -> std::intptr_t {
            refreshes += message == UM_REFRESH_IMAGES;
            return 0;
        },
        [](HubTarget, unsigned, std::uintptr_t, std::intptr_t) { return true; });
    const std::string question = "Closed Form Failed.\nAttempt with Given X,Y,Z?";
    struct Case {
        const char* name;
        int driverPoints;    // -1 all, else kept driver observations
        bool garbage;        // observations scattered at random
        std::deque<int> answers;
        std::vector<std::string> messages; // "RMS" stands for the RMS question
        bool resectedAfter;
        bool startDialog = false; // "Resect Camera Station" asks for the start
    };
    const Case cases[] = {
        {"too few", 2, false, {}, {"Not enough common points for resection."}, false},
        {"declined", -1, true, {IDNO}, {question}, false},
        {"given fails", -1, true, {IDYES}, {question, "Resection failed."}, false, true},
        {"success, no driveback", -1, false, {IDNO}, {"RMS"}, true},
    };
    CSampleRandom random(7);
    int next = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CProjectImage& image = Image(next++);
        image.oriented = false;
        image.SetPose(0.0, 0.0, 0.0, 1.0, -0.5, 2.0);
        if (c.driverPoints >= 0)
            KeepDriverObservations(image, c.driverPoints);
        if (c.garbage)
            for (int k = 0; k < image.targets.GetSize(); ++k) {
                image.targets.GetAt(k)->x = 10.0 * random.Symmetric();
                image.targets.GetAt(k)->y = 10.0 * random.Symmetric();
            }
        const int observations = image.targets.GetSize();
        CCamera& camera = *doc->cameras.GetAt(0);
        CMeasurementTool tool(&image, &camera, nullptr, nullptr, nullptr);
        answers = c.answers;
        refreshes = 0;
        int startDialogs = 0;
        if (c.startDialog)
            dialogs.push_back([&startDialogs](CDialog& d) {
                auto* start = dynamic_cast<CResectStationDlg*>(&d);
                EXPECT_NE(start, nullptr);
                EXPECT_EQ(start ? start->m_bUseGiven : 0, 1);
                ++startDialogs;
                return int(IDCANCEL); // the refinement runs all the same
            });
        TakeMessages();
        doc->ResectImageForDriveback(image, camera, tool);
        EXPECT_EQ(startDialogs, c.startDialog ? 1 : 0);
        std::vector<std::string> shown = TakeMessages();
        for (std::string& m : shown)
            if (m.rfind("Resection RMS: ", 0) == 0 && m.size() > 10 && m.substr(m.size() - 11) == "\nContinue?\n")
                m = "RMS";
        EXPECT_EQ(shown, c.messages);
        EXPECT_EQ(refreshes, 1);
        EXPECT_EQ(image.oriented, c.resectedAfter);
        EXPECT_EQ(image.targets.GetSize(), observations);
    }
    InstallMessageHub(Frame());
}

// Reject gives back an existing set's points and keeps a new set; Accept
// writes the set and selects its tree item.
TEST_F(Orientation, TriangulateRejectRestoresAndAcceptKeeps)
{
    OpenSample(CSampleTruth::kImageNoise);
    // Good poses first, so that the residuals are the observations' noise.
    dialogs.push_back([](CDialog&) { return int(QDialog::Accepted); });
    doc->ResectAllImages();
    struct Case {
        const char* name;
        bool existing;   // a "Triangulate" set of one made-up point before
        bool accept;
        int pointsAfter; // -1: every triangulated target
    };
    const Case cases[] = {
        {"reject restores", true, false, 1},
        {"reject keeps a new set", false, false, -1},
        {"accept", true, true, -1},
    };
    const QString xyz = folder + QStringLiteral("/Triangulate.xyz");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        doc->DeletePointSet("Triangulate");
        QFile::remove(xyz);
        if (c.existing) {
            CObjectPoint made;
            made.label = CNameBuffer("MADE1");
            made.x = 1.0;
            doc->GetTriangulatePointSet()->AddPointSorted(made);
        }
        QString rms;
        int triangulated = 0;
        dialogs.push_back([&](CDialog& d) {
            auto& dialog = dynamic_cast<CTriangulateDlg&>(d);
            EXPECT_FALSE(dialog.m_Accept->isEnabled());
            EXPECT_EQ(dialog.m_ImageList->rowCount(), doc->images.GetSize());
            dialog.findChild<QPushButton*>(QStringLiteral("id1285"))->click();
            rms = dialog.findChild<QLineEdit*>(QStringLiteral("id1171"))->text();
            triangulated = doc->pointSets.GetTriangulateSet()->GetSize();
            EXPECT_TRUE(dialog.m_Accept->isEnabled());
            if (c.accept) {
                dialog.show();
                EXPECT_TRUE(QTest::qWaitForWindowExposed(&dialog));
                ExpectWholeAndSave(dialog, QStringLiteral("/triangulate-dialog.png"));
                dialog.m_Accept->click();
            } else {
                dialog.findChild<QPushButton*>(QStringLiteral("id2"))->click();
            }
            return dialog.result();
        });
        doc->OnTriangulate();
        Settle();
        // The observations' noise, in micrometres, right-aligned in eight.
        EXPECT_EQ(rms.size(), 8);
        EXPECT_GT(rms.toDouble(), 0.3 * CSampleTruth::kImageNoise * 1000.0);
        EXPECT_LT(rms.toDouble(), 3.0 * CSampleTruth::kImageNoise * 1000.0);
        EXPECT_GE(triangulated, CSampleTruth::kTargetCount / 2);
        CPointSet* set = doc->pointSets.GetTriangulateSet();
        ASSERT_NE(set, nullptr);
        EXPECT_EQ(set->GetSize(), c.pointsAfter < 0 ? triangulated : c.pointsAfter);
        if (!c.existing)
            continue;
        EXPECT_EQ(set->FindPointByText("MADE1") != nullptr, !c.accept);
        EXPECT_EQ(QFile::exists(xyz), c.accept);
        if (c.accept) {
            CKestrelonView* tree = GetProjectTreeView();
            ASSERT_NE(tree, nullptr);
            ASSERT_NE(tree->currentItem(), nullptr);
            EXPECT_EQ(tree->currentItem()->text(0), QStringLiteral("Triangulate"));
            EXPECT_TRUE(doc->IsModified());
        }
    }
    for (int i = 0; i < doc->images.GetSize(); ++i)
        EXPECT_TRUE(Image(i).enabled);
}

// A database camera joins the project; the replace question decides, and an
// unknown identifier changes nothing.
TEST_F(Orientation, DatabaseCameraJoinsTheProject)
{
    ASSERT_NO_FATAL_FAILURE(NewProject());
    CCamera record;
    record.identifier = "DBCAM";
    record.parameters[0] = 35.0;
    app->cameraDatabase.AddCopy(record);
    struct Case {
        const char* identifier;
        bool inProject;      // a project camera of that name, C = 20
        std::deque<int> answers;
        bool result;
        double principalDistance; // of the project's camera afterwards, 0: none
    };
    const Case cases[] = {
        {"DBCAM", false, {}, true, 35.0},
        {"DBCAM", true, {IDNO}, false, 20.0},
        {"DBCAM", true, {IDYES}, true, 35.0},
        {"NOSUCH", false, {}, false, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.identifier) + (c.inProject ? " in project" : ""));
        doc->cameras.RemoveAll();
        if (c.inProject) {
            CCamera own;
            own.identifier = c.identifier;
            own.parameters[0] = 20.0;
            doc->cameras.AddCopy(own);
        }
        doc->SetModifiedFlag(false);
        answers = c.answers;
        TakeMessages();
        EXPECT_EQ(doc->AddDatabaseCameraToProject(c.identifier), c.result);
        EXPECT_EQ(TakeMessages().size(), size_t(c.inProject));
        EXPECT_EQ(doc->cameras.GetSize(), c.principalDistance > 0.0 ? 1 : 0);
        if (c.principalDistance > 0.0) {
            EXPECT_EQ(doc->cameras.FindByName(c.identifier)->parameters[0], c.principalDistance);
        }
        EXPECT_EQ(doc->IsModified(), c.result);
    }
}

} // namespace
