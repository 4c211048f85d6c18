// Bundle runs from the application: the checks before a run, the "Bundle
// Adjustment" and "Simulation Bundle" dialogs driving a CBundleJob on its
// worker thread, and the main road from the sample to a saved "Bundle" set.
#include "ShellFixture.h"
#include "WholeTexts.h"
#include "ProjectBuilder.h"

#include "AdjustmentEngine.h"
#include "BundleDialogs.h"
#include "BundleJob.h"
#include "BundleReport.h"
#include "KestrelonDoc.h"
#include "KestrelonView.h"
#include "SampleProject.h"
#include "WorkerThread.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <array>
#include <cmath>
#include <deque>
#include <functional>
#include <map>
#include <set>

namespace {

constexpr int kRunTimeout = 300000; // ms; the sanitizer builds are slow
const double kPi = 4.0 * std::atan(1.0);

// The poses, camera parameters and points a Reject gives back.
struct ProjectState {
    std::vector<std::array<double, 6>> poses;
    std::vector<std::array<double, CAM_PARAMETER_COUNT>> cameras;
    std::vector<std::array<double, 3>> points;

    static ProjectState Of(const CKestrelonDoc& doc, const CPointSet& points)
    {
        ProjectState s;
        for (int i = 0; i < doc.images.GetSize(); ++i) {
            const CProjectImage& m = *doc.images.GetAt(i);
            s.poses.push_back({m.X, m.Y, m.Z, m.GetAzimuth(), m.GetElevation(), m.GetRoll()});
        }
        for (int i = 0; i < doc.cameras.GetSize(); ++i) {
            std::array<double, CAM_PARAMETER_COUNT> p;
            std::copy(doc.cameras.GetAt(i)->parameters, doc.cameras.GetAt(i)->parameters + CAM_PARAMETER_COUNT,
                      p.begin());
            s.cameras.push_back(p);
        }
        for (int i = 0; i < points.GetSize(); ++i)
            s.points.push_back({points.GetAt(i)->x, points.GetAt(i)->y, points.GetAt(i)->z});
        return s;
    }
    void ExpectSame(const ProjectState& other) const
    {
        ASSERT_EQ(poses.size(), other.poses.size());
        for (size_t i = 0; i < poses.size(); ++i)
            for (int k = 0; k < 6; ++k)
                EXPECT_NEAR(poses[i][size_t(k)], other.poses[i][size_t(k)], 1e-9) << "image " << i << " " << k;
        EXPECT_EQ(cameras, other.cameras);
        EXPECT_EQ(points, other.points);
    }
};

class BundleRun : public ShellFixture {
protected:
    void OpenSample()
    {
        sample = WriteSample();
        ASSERT_TRUE(Start({QStringLiteral("--nosplash"), sample}));
        doc = GetActiveKestrelonDoc();
        ASSERT_NE(doc, nullptr);
        TakeMessages();
    }
    // Runs the command; the steps drive its dialog, shown on the screen.
    int Command(int id, const std::function<void(CBundleRunDlg&)>& steps)
    {
        bool reached = false;
        dialogs.push_back([&](CDialog& d) {
            reached = true;
            auto* run = dynamic_cast<CBundleRunDlg*>(&d);
            EXPECT_NE(run, nullptr);
            if (run) {
                d.show();
                EXPECT_TRUE(QTest::qWaitForWindowExposed(&d));
                steps(*run);
            }
            return d.result();
        });
        doc->OnCmdMsg(id, nullptr);
        EXPECT_TRUE(reached);
        dialogs.clear();
        return 0;
    }
    static QPushButton* Button(CDialog& d, int id) { return d.Item<QPushButton>(id); }
    static QString Text(CDialog& d, int id) { return GetWindowText(d.GetDlgItem(id)); }
    static void Go(CDialog& d) { QTest::mouseClick(Button(d, 1191), Qt::LeftButton); }
    // Polls the run as the dialog's timer does, from the test itself, until
    // the dialog has seen its end (the engine never waits for this thread).
    static void PollToEnd(CBundleRunDlg& d)
    {
        QElapsedTimer clock;
        clock.start();
        while (d.IsRunning() && clock.elapsed() < kRunTimeout) {
            d.OnTimer();
            QThread::msleep(2);
        }
        EXPECT_FALSE(d.IsRunning());
    }
    // Starts a run and waits for the dialog to see its end.
    static void RunToEnd(CBundleRunDlg& d)
    {
        Go(d);
        EXPECT_TRUE(d.IsRunning());
        PollToEnd(d);
    }
    // The lit lamp of the traffic light: 'R', 'Y', 'G', or '?'.
    static char Light(CDialog& d)
    {
        const QImage picture = d.Item<QLabel>(1208)->pixmap().toImage();
        const struct {
            char name;
            int y;
            QColor on;
        } lamps[] = {{'R', 17, QColor(255, 0, 0)}, {'Y', 48, QColor(255, 210, 0)}, {'G', 79, QColor(0, 220, 0)}};
        char lit = '?';
        for (const auto& lamp : lamps)
            if (picture.pixelColor(16, lamp.y) == lamp.on)
                lit = lit == '?' ? lamp.name : '!';
        return lit;
    }
    static void Picture(CDialog& d, const char* name)
    {
        ExpectWholeAndSave(d, QStringLiteral("/") + name);
    }
    // Makes every usable image's run rerun until the run is stopped.
    void RunForever()
    {
        doc->settings.convergenceLimit = 0.0;
        doc->settings.maxIterations = 100000;
    }

    QString sample;
};

// The main road: open the sample, run the bundle, accept, save, reopen.
TEST_F(BundleRun, TheSampleIsAdjustedAcceptedAndSaved)
{
    OpenSample();
    Command(32874, [&](CBundleRunDlg& d) {
        EXPECT_EQ(d.windowTitle(), QStringLiteral("Bundle Adjustment"));
        EXPECT_EQ(Text(d, 1168), QStringLiteral("10"));
        EXPECT_EQ(Text(d, 1200), QString::number(doc->pointSets.GetControlSet()->GetSize()));
        EXPECT_EQ(Text(d, 1201), QStringLiteral("1"));
        EXPECT_EQ(Light(d), 'Y');
        EXPECT_FALSE(Button(d, 1)->isEnabled());
        Go(d);
        EXPECT_EQ(Button(d, 1191)->text(), QStringLiteral("Cancel"));
        for (int id : {1, 2, 1206})
            EXPECT_FALSE(d.GetDlgItem(id)->isEnabled()) << id;
        EXPECT_TRUE(doc->IsJobRunning());
        // Auto save waits while the worker uses the project.
        doc->SetModifiedFlag(true);
        GetProjectTreeView()->OnAutoSaveTimer();
        EXPECT_EQ(doc->savedInThisRun, 0);
        ASSERT_TRUE(QTest::qWaitFor([&] { return Light(d) == 'G'; }, kRunTimeout));
        EXPECT_FALSE(d.IsRunning());
        EXPECT_NE(d.GetJob()->GetExitCode(), STILL_ACTIVE);
        EXPECT_FALSE(doc->IsJobRunning());
        EXPECT_EQ(Text(d, 1205), QString::fromLatin1(CBundleRunDlg::kSuccessful));
        EXPECT_EQ(Button(d, 1191)->text(), QStringLiteral("&Go"));
        Picture(d, "BundleAdjustmentDialog.png");
        QTest::mouseClick(Button(d, 1), Qt::LeftButton);
        EXPECT_EQ(d.result(), QDialog::Accepted);
    });
    EXPECT_TRUE(TakeMessages().empty());
    EXPECT_EQ(doc->summary.status, BUNDLE_CONVERGED);
    EXPECT_FALSE(doc->settings.freeNetwork);
    EXPECT_STREQ(doc->settings.unitName.GetText(), "mm");

    CPointSet* bundle = doc->pointSets.GetBundleSet();
    ASSERT_NE(bundle, nullptr);
    EXPECT_EQ(doc->pointSets.GetDriverSet(), bundle);
    EXPECT_TRUE(doc->IsModified());
    CKestrelonView* tree = GetProjectTreeView();
    ASSERT_NE(tree, nullptr);
    ASSERT_NE(tree->currentItem(), nullptr);
    EXPECT_EQ(tree->currentItem()->text(0), QStringLiteral("Bundle"));
    EXPECT_TRUE(tree->Data3D()->isExpanded());
    EXPECT_EQ(tree->GetSelectedPointSet(), bundle);
    const QString folder = QFileInfo(sample).absolutePath();
    EXPECT_TRUE(QFileInfo::exists(folder + "/Bundle.txt"));
    EXPECT_TRUE(QFileInfo::exists(folder + "/Bundle.xyz"));
    EXPECT_GT(doc->cameras.GetAt(0)->maxRadialDistance, 0.0);

    // Every target lies within 4 of its standard deviations of the truth.
    CSampleTruth truth;
    BuildSampleTruth(truth);
    ASSERT_EQ(bundle->GetSize(), CSampleTruth::kTargetCount);
    for (int i = 0; i < bundle->GetSize(); ++i) {
        const CObjectPoint& p = *bundle->GetAt(i);
        const CObjectPoint* t = truth.targets.FindPoint(p.label);
        ASSERT_NE(t, nullptr) << p.label.GetText();
        const double error[3] = {p.x - t->x, p.y - t->y, p.z - t->z};
        for (int a = 0; a < 3; ++a) {
            const double sigma = std::sqrt(report::Element(p.covariance, a, a));
            EXPECT_GT(sigma, 0.0);
            EXPECT_LE(std::fabs(error[a]), 4.0 * sigma) << p.label.GetText() << " axis " << a;
        }
    }
    Frame()->raise();
    QTest::qWait(50);
    EXPECT_TRUE(Frame()->grab().save(TestOutputFolder() + "/MainWindowBundle.png"));

    ASSERT_TRUE(doc->SaveProject());
    EXPECT_FALSE(doc->IsModified());
    CProjectDocument reopened;
    ASSERT_TRUE(reopened.OnOpenDocument(sample.toLocal8Bit().constData()).ok);
    const CPointSet* again = reopened.pointSets.GetBundleSet();
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(again->isDriver);
    ASSERT_EQ(again->GetSize(), bundle->GetSize());
    for (int i = 0; i < bundle->GetSize(); ++i) {
        const CObjectPoint& a = *bundle->GetAt(i);
        const CObjectPoint& b = *again->GetAt(i);
        EXPECT_STREQ(a.label.GetText(), b.label.GetText());
        EXPECT_NEAR(a.x, b.x, 1e-9);
        EXPECT_NEAR(a.y, b.y, 1e-9);
        EXPECT_NEAR(a.z, b.z, 1e-9);
    }
}

// Accept keeps only the points seen by at least the minimum number of rays.
TEST_F(BundleRun, AcceptDropsPointsWithTooFewRays)
{
    OpenSample();
    std::vector<std::string> kept;
    Command(32874, [&](CBundleRunDlg& d) {
        RunToEnd(d);
        const CPointSet& points = *doc->pointSets.GetBundleSet();
        std::vector<int> rays;
        for (int i = 0; i < points.GetSize(); ++i)
            rays.push_back(points.GetAt(i)->usedRayCount);
        std::sort(rays.begin(), rays.end());
        doc->settings.minimumRays = rays[rays.size() / 2];
        for (int i = 0; i < points.GetSize(); ++i)
            if (points.GetAt(i)->usedRayCount >= doc->settings.minimumRays)
                kept.push_back(points.GetAt(i)->label.GetText());
        ASSERT_LT(kept.size(), rays.size());
        QTest::mouseClick(Button(d, 1), Qt::LeftButton);
    });
    const CPointSet& points = *doc->pointSets.GetBundleSet();
    std::vector<std::string> labels;
    for (int i = 0; i < points.GetSize(); ++i)
        labels.push_back(points.GetAt(i)->label.GetText());
    EXPECT_EQ(labels, kept);
    CPointSet file;
    ASSERT_TRUE(file.ReadXyzFile((QFileInfo(sample).absolutePath() + "/Bundle.xyz").toLocal8Bit().constData(), nullptr));
    EXPECT_EQ(file.GetSize(), int(kept.size()));
}

// The questions before a run, answered by the test, on a project never saved.
TEST_F(BundleRun, ChecksBeforeARunAskAndEmptyTheListOnNo)
{
    ASSERT_NO_FATAL_FAILURE(NewProject());
    AddCamera(*doc, "Cam");
    const std::string rollQuestion = "Insufficient roll diversity\nSelf-calibration may be weak\nContinue?";
    const std::string saveFirst = "Save Project First";
    struct Case {
        const char* name;
        std::vector<double> rolls;        // degrees, one per image
        int observationsOfFirst;          // the other images have 3
        std::deque<int> answers;
        std::vector<std::string> messages;
        int listed;                       // images left in the adjustment list
    };
    const Case cases[] = {
        {"one image", {0}, 3, {}, {"insufficient images"}, 0},
        {"one usable", {0, 90}, 2, {}, {"Insufficient enabled and/or resected images"}, 0},
        {"one quadrant, No", {5.73, 5.73, 5.73}, 3, {IDNO}, {rollQuestion}, 0},
        {"one quadrant, Yes", {5.73, 5.73, 5.73}, 3, {IDYES}, {rollQuestion, saveFirst}, 3},
        {"opposite, No", {0, 180}, 3, {IDNO}, {"Only 2 images\nSelf-calibration may be weak\nContinue?"}, 0},
        {"opposite, Yes", {0, 180}, 3, {IDYES}, {"Only 2 images\nSelf-calibration may be weak\nContinue?", saveFirst}, 2},
        {"four quadrants", {0, 90, 180, 270}, 3, {}, {saveFirst}, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        doc->images.RemoveAll();
        for (size_t i = 0; i < c.rolls.size(); ++i) {
            CProjectImage* image = AddImage(*doc, {"Cam", true, true, i == 0 ? c.observationsOfFirst : 3});
            image->SetRotation(0.0, 0.0, c.rolls[i] * kPi / 180.0);
        }
        answers = c.answers;
        doc->OnCmdMsg(32874, nullptr);
        EXPECT_TRUE(answers.empty());
        EXPECT_EQ(TakeMessages(), c.messages);
        EXPECT_EQ(doc->imagePtrs.GetSize(), c.listed);
    }
}

// A control set of at least 3 points makes the run a controlled one; the
// simulation flag is up only while its dialog is open.
TEST_F(BundleRun, ControlSetSizeAndSimulationFlag)
{
    OpenSample();
    CPointSet* control = doc->pointSets.GetControlSet();
    ASSERT_NE(control, nullptr);
    const struct {
        int size;
        bool free;
        int unit;
        const char* label;
    } cases[] = {{3, false, 0, "mm"}, {2, true, 3, "in"}};
    for (const auto& c : cases) {
        control->RemoveAt(c.size, control->GetSize() - c.size);
        doc->settings.freeNetwork = !c.free;
        doc->unitIndex = c.unit;
        doc->SetModifiedFlag(false);
        Command(32874, [&](CBundleRunDlg& d) {
            EXPECT_EQ(Text(d, 1200), QString::number(c.size));
            if (c.size != 3) {
                QTest::mouseClick(Button(d, 2), Qt::LeftButton);
                return;
            }
            // The options: a new sigma reaches every observation of the run.
            dialogs.push_back([](CDialog& options) {
                EXPECT_EQ(options.windowTitle(), QStringLiteral("Adjustment Control Variables"));
                options.Item<QLineEdit>(1149)->setText(QStringLiteral("0.002"));
                options.Item<QLineEdit>(1120)->setText(QStringLiteral("250"));
                options.OnOK();
                return options.result();
            });
            QTest::mouseClick(Button(d, 1206), Qt::LeftButton);
            EXPECT_EQ(Text(d, 1172), QStringLiteral("250.00"));
            EXPECT_EQ(doc->images.GetAt(9)->targets.GetAt(0)->sigmaY, 0.002);
            EXPECT_TRUE(doc->IsModified());
            QTest::mouseClick(Button(d, 2), Qt::LeftButton);
        });
        EXPECT_EQ(doc->settings.freeNetwork, c.free) << c.size;
        EXPECT_STREQ(doc->settings.unitName.GetText(), c.label);
    }
    Command(359, [&](CBundleRunDlg& d) {
        EXPECT_EQ(d.windowTitle(), QStringLiteral("Simulation Bundle"));
        EXPECT_EQ(doc->simulationRunning, 1);
        EXPECT_TRUE(doc->settings.simulation);
        QTest::mouseClick(Button(d, 2), Qt::LeftButton);
    });
    EXPECT_EQ(doc->simulationRunning, 0);
    EXPECT_FALSE(doc->settings.simulation);
}

// Cancel, closing during a run, a failing run and the iteration limit; every
// run ends with Reject, which gives back the state of the dialog's opening.
TEST_F(BundleRun, RunPathsEndAsTheStatusSaysAndRejectRestores)
{
    OpenSample();
    const std::string limitMessage =
        "Bundle adjustment has run for 1 iteration(s)\nbut has not yet converged.\n\nTo re-run to convergence, "
        "\nincrease 'Maximum Iterations'";
    enum Action { CANCEL, CLOSE, ESCAPE, PLAIN };
    struct Case {
        const char* name;
        std::function<void()> prepare;
        Action action;
        const char* status;     // the status text at the end
        char light;
        bool acceptable;
        std::vector<std::string> messages;
    };
    const Case cases[] = {
        {"cancel", [&] { RunForever(); }, CANCEL, CBundleRunDlg::kAborted, 'R', false, {}},
        {"close box", [&] { RunForever(); }, CLOSE, nullptr, 0, false, {}},
        {"escape", [&] { RunForever(); }, ESCAPE, nullptr, 0, false, {}},
        {"missing camera", [&] { doc->images.GetAt(3)->cameraName = "Missing"; }, PLAIN, CBundleRunDlg::kFailed, 'R',
         false, {}},
        {"iteration limit", [&] { doc->settings.maxIterations = 1; }, PLAIN, CBundleRunDlg::kSuccessful, 'Y', true,
         {limitMessage}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        doc->settings.convergenceLimit = 5e-6;
        doc->settings.maxIterations = 10;
        for (int i = 0; i < doc->images.GetSize(); ++i)
            doc->images.GetAt(i)->cameraName = doc->cameras.GetAt(0)->identifier;
        c.prepare();
        ProjectState opened;
        Command(32874, [&](CBundleRunDlg& d) {
            opened = ProjectState::Of(*doc, *doc->pointSets.GetBundleSet());
            if (c.action == CLOSE || c.action == ESCAPE) {
                unsigned exitAtEnd = STILL_ACTIVE;
                QObject::connect(&d, &QDialog::finished, &d, [&] { exitAtEnd = d.GetJob()->GetExitCode(); });
                Go(d);
                if (c.action == CLOSE)
                    d.close();
                else
                    QTest::keyClick(&d, Qt::Key_Escape);
                // Still open: the dialog waits for the run's end.
                EXPECT_TRUE(d.isVisible());
                EXPECT_TRUE(d.IsRunning());
                ASSERT_TRUE(QTest::qWaitFor([&] { return !d.isVisible(); }, kRunTimeout));
                EXPECT_NE(exitAtEnd, STILL_ACTIVE);
                EXPECT_EQ(d.result(), QDialog::Rejected);
                EXPECT_FALSE(doc->IsJobRunning());
                return;
            }
            Go(d);
            if (c.action == CANCEL) {
                Go(d);
                EXPECT_TRUE(d.isVisible());
            }
            PollToEnd(d);
            EXPECT_EQ(Text(d, 1205), QString::fromLatin1(c.status));
            EXPECT_EQ(Light(d), c.light);
            EXPECT_EQ(Button(d, 1)->isEnabled(), c.acceptable);
            EXPECT_TRUE(Button(d, 2)->isEnabled());
            EXPECT_EQ(TakeMessages(), c.messages);
            if (c.action == PLAIN) {
                if (!c.acceptable)
                    Picture(d, "BundleAdjustmentFailed.png");
                // Again: yellow and no Accept until this run has ended.
                Go(d);
                EXPECT_EQ(Light(d), 'Y');
                EXPECT_FALSE(Button(d, 1)->isEnabled());
                PollToEnd(d);
                EXPECT_EQ(Light(d), c.light);
                EXPECT_EQ(Button(d, 1)->isEnabled(), c.acceptable);
                EXPECT_EQ(TakeMessages(), c.messages);
            }
            QTest::mouseClick(Button(d, 2), Qt::LeftButton);
            EXPECT_EQ(d.result(), QDialog::Rejected);
        });
        EXPECT_EQ(doc->summary.status, BUNDLE_NOT_FINISHED);
        ProjectState::Of(*doc, *doc->pointSets.GetBundleSet()).ExpectSame(opened);
    }
}

// The simulation: its sigma reaches the project, and after Reject every
// image pointer of the document is one of the project's own images.
TEST_F(BundleRun, SimulationRejectKeepsTheProjectsImages)
{
    OpenSample();
    doc->SetModifiedFlag(false);
    ProjectState opened;
    Command(359, [&](CBundleRunDlg& d) {
        opened = ProjectState::Of(*doc, *doc->pointSets.GetBundleSet());
        EXPECT_EQ(Text(d, 1401), QStringLiteral("mm"));
        EXPECT_EQ(Text(d, 1322), QStringLiteral("0.0005"));
        auto* sigma = d.Item<QLineEdit>(1322);
        sigma->setText(QStringLiteral("0.001"));
        emit sigma->editingFinished();
        EXPECT_EQ(doc->settings.defaultImageSigma, 0.001);
        EXPECT_EQ(doc->images.GetAt(0)->targets.GetAt(0)->sigmaX, 0.001);
        EXPECT_TRUE(doc->IsModified());
        RunToEnd(d);
        EXPECT_EQ(Text(d, 1205), QString::fromLatin1(CBundleRunDlg::kSuccessful));
        EXPECT_TRUE(Button(d, 1)->isEnabled());
        Picture(d, "SimulationBundleDialog.png");
        QTest::mouseClick(Button(d, 2), Qt::LeftButton);
    });
    ASSERT_EQ(doc->imagePtrs.GetSize(), doc->images.GetSize());
    for (int i = 0; i < doc->imagePtrs.GetSize(); ++i) {
        EXPECT_EQ(doc->imagePtrs.GetAt(i), doc->images.GetAt(i));
        EXPECT_FALSE(doc->imagePtrs.GetAt(i)->name.IsEmpty());
    }
    ProjectState::Of(*doc, *doc->pointSets.GetBundleSet()).ExpectSame(opened);
}

// The rows of dark pixels inside the widget's picture: first and last, or -1.
std::pair<int, int> InkRows(QWidget& w, const QRect& inside)
{
    const QImage picture = w.grab().toImage();
    int first = -1, last = -1;
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            if (qGray(picture.pixel(x, y)) < 128) {
                if (first < 0)
                    first = y;
                last = y;
                break;
            }
    return {first, last};
}

// The value frames (sunken panels) of both run dialogs are one line of text
// high, their value centred in them and on the row of its caption, at the
// dialog's size and when the user makes it larger.
TEST_F(BundleRun, ValueFramesAreOneLineHighWithTheValueCentred)
{
    OpenSample();
    const struct {
        int command;
        const char* picture;
    } cases[] = {{32874, "BundleAdjustment"}, {359, "SimulationBundle"}};
    // The summary's captions beside their values, the axes' above theirs.
    const struct {
        int id;
        const char* caption;
        bool beside;
    } captions[] = {{1168, "Images", true},      {1169, "Points", true}, {1200, "Control Points", true},
                    {1201, "Scalebars", true},   {1202, "X", false},     {1203, "Y", false},
                    {1204, "Z", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        bool reached = false;
        dialogs.push_back([&](CDialog& d) -> int {
            reached = true;
            d.show();
            EXPECT_TRUE(QTest::qWaitForWindowExposed(&d));
            for (const int grow : {0, 150}) {
                SCOPED_TRACE(grow);
                if (grow) {
                    d.resize(d.width() + grow, d.height() + grow);
                    Settle();
                }
                int frames = 0;
                for (QLabel* value : d.findChildren<QLabel*>()) {
                    if (value->frameShape() != QFrame::Panel || !value->isVisible())
                        continue;
                    ++frames;
                    SCOPED_TRACE(value->objectName().toStdString() + " " + value->text().toStdString());
                    const QFontMetrics metrics = value->fontMetrics();
                    EXPECT_GE(value->height(), metrics.height());
                    EXPECT_LE(value->height(), metrics.height() + 2 * value->frameWidth() + 4);
                    if (value->text().trimmed().isEmpty())
                        continue;
                    // Where a vertically centred line puts the value's ink.
                    const QRect inside = value->contentsRect();
                    const int baseline = inside.top() + (inside.height() - metrics.height()) / 2 + metrics.ascent();
                    const QRect ink = metrics.tightBoundingRect(value->text());
                    const auto [top, bottom] = InkRows(*value, inside);
                    EXPECT_GE(top, 0);
                    EXPECT_NEAR(top, baseline + ink.top(), 2);
                    EXPECT_NEAR(bottom, baseline + ink.bottom(), 2);
                }
                EXPECT_GE(frames, 8);
                Picture(d, (std::string(c.picture) + (grow ? "Grown.png" : "Opened.png")).c_str());
                for (const auto& c : captions) {
                    QLabel* text = nullptr;
                    for (QLabel* l : d.findChildren<QLabel*>())
                        if (l->text() == QLatin1String(c.caption))
                            text = l;
                    EXPECT_NE(text, nullptr) << c.caption;
                    if (!text)
                        continue;
                    const QRect caption(text->mapTo(&d, QPoint(0, 0)), text->size());
                    const QRect value(d.GetDlgItem(c.id)->mapTo(&d, QPoint(0, 0)), d.GetDlgItem(c.id)->size());
                    if (c.beside)
                        EXPECT_NEAR(caption.center().y(), value.center().y(), 2) << c.caption;
                    else
                        EXPECT_LT(value.top() - caption.bottom(), text->fontMetrics().height()) << c.caption;
                }
            }
            QTest::mouseClick(Button(d, 2), Qt::LeftButton);
            return d.result();
        });
        MenuCommand(c.command);
        EXPECT_TRUE(reached);
        dialogs.clear();
    }
}

// While a run goes on, the status frame shows each phase whole and the
// dialog keeps the size it opened with; so does the run's end.
TEST_F(BundleRun, EveryPhaseFitsTheStatusFrameWithoutTheDialogGrowing)
{
    OpenSample();
    RunForever();
    for (const int command : {32874, 359}) {
        SCOPED_TRACE(command);
        Command(command, [&](CBundleRunDlg& d) {
            const QSize opened = d.size();
            auto* status = d.Item<QLabel>(1205);
            std::set<QString> seen;
            auto check = [&] {
                QCoreApplication::processEvents();
                const QString text = status->text();
                if (!seen.insert(text).second)
                    return;
                SCOPED_TRACE(text.toStdString());
                EXPECT_LE(status->fontMetrics().horizontalAdvance(text), status->contentsRect().width());
                EXPECT_EQ(d.size(), opened);
            };
            Go(d);
            QElapsedTimer clock;
            clock.start();
            while (clock.elapsed() < 2000) {
                d.OnTimer();
                check();
                QThread::msleep(1);
            }
            if (d.IsRunning())
                Go(d); // its Cancel
            PollToEnd(d);
            check();
            EXPECT_GE(seen.size(), 3u);
            Picture(d, command == 32874 ? "BundleAdjustmentAborted.png" : "SimulationBundleAborted.png");
            QTest::mouseClick(Button(d, 2), Qt::LeftButton);
        });
    }
}

} // namespace
