// "Find corresponding points" (33045) with its dialog and the "Computation
// Progress" dialog, whose run thread and phase threads (each a CWorkerThread)
// report through the hub; and "AutoScan All Images" (33026) with the
// AutoScan dialog. Runs under ThreadSanitizer.
#include "ShellFixture.h"
#include "WholeTexts.h"
#include "DialogCommand.h"
#include "MatchingNetwork.h"
#include "ProjectBuilder.h"

#include "AutoScanDlg.h"
#include "Controls.h"
#include "CorrespondenceDialogs.h"
#include "ImageView.h"
#include "KestrelonDoc.h"
#include "KestrelonView.h"
#include "SamplePictures.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <algorithm>
#include <functional>
#include <string>

namespace measuring_commands_test {

constexpr int kRunTimeout = 300000; // ms

class MeasuringCommands : public ShellFixture {
protected:
    void OpenNetwork(const MatchingNetworkOptions& options = MatchingNetworkOptions())
    {
        NewProject();
        network.Build(*doc, options);
        TakeMessages();
    }
    // Runs command 33045; steps drive the dialog, shown on the screen.
    void Command(const std::function<void(CFindCorrespondingPointsDlg&)>& steps)
    {
        RunDialogCommand<CFindCorrespondingPointsDlg>(dialogs, [this] { doc->OnCmdMsg(33045, nullptr); }, steps);
    }
    static void WaitForEnd(CFindCorrespondingPointsDlg& d)
    {
        QElapsedTimer clock;
        clock.start();
        while (d.GetProgressDialog() && clock.elapsed() < kRunTimeout)
            QTest::qWait(5);
        EXPECT_EQ(d.GetProgressDialog(), nullptr);
        EXPECT_FALSE(d.IsRunning());
        for (int id : {1, 2, 1303})
            EXPECT_TRUE(d.GetDlgItem(id)->isEnabled()) << id;
        EXPECT_EQ(GetWindowText(d.GetDlgItem(1)), QStringLiteral("Start Matching"));
    }
    static QStringList Rows(const CImageSelectListCtrl* list)
    {
        QStringList names;
        for (int r = 0; r < list->rowCount(); ++r)
            names << list->item(r, 0)->text();
        return names;
    }
    // Renames the points of the set and their observations whose label
    // number is at most last from prefix "A" to prefix "N"; returns the
    // number of points renamed.
    int RenameToN(CPointSet& set, int last)
    {
        int count = 0;
        auto renamed = [&](const CNameBuffer& label, CNameBuffer& out) {
            const std::string text = label.GetText();
            if (text.size() < 2 || text[0] != 'A' || std::stoi(text.substr(1)) > last)
                return false;
            out = CNameBuffer(("N" + text.substr(1)).c_str());
            return true;
        };
        CNameBuffer label;
        for (int i = 0; i < set.GetSize(); ++i)
            if (renamed(set.GetAt(i)->label, label)) {
                set.GetAt(i)->label = label;
                ++count;
            }
        set.SortByLabel();
        for (int k = 0; k < doc->images.GetSize(); ++k) {
            CObservationList& list = doc->images.GetAt(k)->targets;
            for (int i = 0; i < list.GetSize(); ++i)
                if (renamed(list.GetAt(i)->label, label))
                    list.GetAt(i)->label = label;
            list.SortByLabel();
        }
        return count;
    }

    CMatchingNetwork network;
};

// The main road: a run links every target, a second one back-projects, and
// "Remove Found Points" takes back only the points of its prefix.
TEST_F(MeasuringCommands, FindCorrespondingPointsRunsAndRemovesItsPoints)
{
    OpenNetwork();
    AddImage(*doc, {CMatchingNetwork::kCamera, true, false, 0}); // not oriented: not offered
    Command([&](CFindCorrespondingPointsDlg& d) {
        EXPECT_EQ(d.GetImagesForCalculation().GetSize(), 6);
        EXPECT_EQ(d.GetImagesLeftOut().GetSize(), 0);
        EXPECT_EQ(Rows(d.Item<CImageSelectListCtrl>(1296)).size(), 6);
        EXPECT_EQ(GetWindowText(d.GetDlgItem(1358)), QStringLiteral("A"));
        EXPECT_EQ(GetWindowText(d.GetDlgItem(1300)), QStringLiteral("0.01"));
        EXPECT_TRUE(d.Item<QCheckBox>(1301)->isChecked());
        EXPECT_TRUE(d.Item<QCheckBox>(1304)->isChecked());
        EXPECT_FALSE(d.Item<QCheckBox>(1302)->isChecked());
        EXPECT_TRUE(d.GetDlgItem(1302)->isEnabled());
        // No EO device: no distance limit.
        for (int id : {1306, 1307, 1308})
            EXPECT_FALSE(d.GetDlgItem(id)->isEnabled()) << id;
        ExpectWholeAndSave(d, "/FindCorrespondingPoints.png");

        QTest::mouseClick(d.Item<QPushButton>(1), Qt::LeftButton);
        EXPECT_TRUE(d.IsRunning());
        EXPECT_TRUE(doc->IsJobRunning());
        EXPECT_EQ(GetWindowText(d.GetDlgItem(1)), QStringLiteral("Stop Thread"));
        for (int id : {2, 1303, 1297, 1298})
            EXPECT_FALSE(d.GetDlgItem(id)->isEnabled()) << id;
        // Neither Escape nor the close box ends the dialog during a run.
        QTest::keyClick(&d, Qt::Key_Escape);
        EXPECT_FALSE(d.close());
        EXPECT_TRUE(d.isVisible());
        WaitForEnd(d);
        EXPECT_FALSE(doc->IsJobRunning());
        EXPECT_EQ(TakeMessages(), std::vector<std::string>{"0 point(s) backprojected.\n60 new point(s) found."});
    });
    std::unordered_map<std::string, int> sourceOf;
    ASSERT_TRUE(network.ConsistentLabels(*doc, sourceOf));
    EXPECT_EQ(sourceOf.size(), 60u);
    CPointSet* set = doc->FindPointSet("Triangulate");
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->GetSize(), 60);
    EXPECT_TRUE(doc->IsModified());

    // Points up to A20 take the prefix "N"; the observations of A30 are
    // unassigned again, so that every image is offered.
    const int renamed = RenameToN(*set, 20);
    EXPECT_GE(renamed, 20);
    for (int k = 0; k < 6; ++k) {
        CObservationList& list = doc->images.GetAt(k)->targets;
        list.FindByText("A30")->label = CNameBuffer("-1");
        list.SortByLabel();
    }
    Command([&](CFindCorrespondingPointsDlg& d) {
        // "Remove Found Points" with the prefix "N" leaves the "A" points.
        Type(d, 1358, QStringLiteral("N"));
        doc->SetModifiedFlag(false);
        QTest::mouseClick(d.Item<QPushButton>(1303), Qt::LeftButton);
        EXPECT_TRUE(doc->IsModified());
        EXPECT_EQ(set->GetSize(), 60 - renamed);
        for (int i = 0; i < set->GetSize(); ++i)
            EXPECT_EQ(set->GetAt(i)->label.GetText()[0], 'A');
        for (int k = 0; k < 6; ++k) {
            // The unassigned targets of each image are "-1", "-2", ... again.
            const CObservationList& list = doc->images.GetAt(k)->targets;
            std::vector<int> numbers;
            for (int i = 0; i < list.GetSize(); ++i) {
                if (list.GetAt(i)->label.GetNumber() < 0) {
                    numbers.push_back(-list.GetAt(i)->label.GetNumber());
                    // The whole label is the number: no letter of the old one is left.
                    EXPECT_EQ(std::string(list.GetAt(i)->label.GetText()), std::to_string(-numbers.back()));
                } else
                    EXPECT_EQ(list.GetAt(i)->label.GetText()[0], 'A');
                if (i > 0) {
                    EXPECT_FALSE(list.GetAt(i)->label < list.GetAt(i - 1)->label);
                }
            }
            std::sort(numbers.begin(), numbers.end());
            std::vector<int> expected(size_t(renamed + 1));
            for (size_t i = 0; i < expected.size(); ++i)
                expected[i] = int(i) + 1;
            EXPECT_EQ(numbers, expected) << "image " << k;
        }
        // Back-projection gives A30 its observations back; matching makes
        // the twenty points again, with the prefix "N".
        QTest::mouseClick(d.Item<QPushButton>(1), Qt::LeftButton);
        WaitForEnd(d);
        EXPECT_EQ(TakeMessages(),
                  std::vector<std::string>{"6 point(s) backprojected.\n" + std::to_string(renamed) + " new point(s) found."});
    });
    ASSERT_TRUE(network.ConsistentLabels(*doc, sourceOf));
    EXPECT_EQ(sourceOf.size(), 60u);
    EXPECT_EQ(set->GetSize(), 60);
    int withN = 0;
    for (int i = 0; i < set->GetSize(); ++i)
        withN += set->GetAt(i)->label.GetText()[0] == 'N';
    EXPECT_EQ(withN, renamed);
    EXPECT_NE(set->FindByText("A30"), nullptr);

    // After a run, "Remove Found Points" takes back that run's points,
    // whatever the prefix box says by then.
    for (int k = 0; k < 6; ++k) {
        CObservationList& list = doc->images.GetAt(k)->targets;
        list.FindByText("A30")->label = CNameBuffer("-1");
        list.SortByLabel();
    }
    Command([&](CFindCorrespondingPointsDlg& d) {
        Type(d, 1358, QStringLiteral("R"));
        QTest::mouseClick(d.Item<QPushButton>(1), Qt::LeftButton);
        WaitForEnd(d);
        EXPECT_EQ(TakeMessages(), std::vector<std::string>{"6 point(s) backprojected.\n0 new point(s) found."});
        Type(d, 1358, QStringLiteral("N"));
        // Nothing carries the run's prefix "R": nothing is taken back.
        QTest::mouseClick(d.Item<QPushButton>(1303), Qt::LeftButton);
        EXPECT_EQ(set->GetSize(), 60);
    });
    EXPECT_EQ(set->GetSize(), 60);
    ASSERT_TRUE(network.ConsistentLabels(*doc, sourceOf));
}

// The dialog's refusals and a stop during back-projection.
TEST_F(MeasuringCommands, FindCorrespondingPointsEdgeCases)
{
    MatchingNetworkOptions options;
    options.images = 2;
    OpenNetwork(options);
    Command([&](CFindCorrespondingPointsDlg& d) {
        // Two images: two-ray points are accepted, and that cannot change.
        EXPECT_TRUE(d.Item<QCheckBox>(1302)->isChecked());
        EXPECT_FALSE(d.GetDlgItem(1302)->isEnabled());
        // Every image moved out: nothing starts.
        auto* used = d.Item<CImageSelectListCtrl>(1296);
        used->selectAll();
        QTest::mouseClick(d.Item<QPushButton>(1298), Qt::LeftButton);
        EXPECT_EQ(d.GetImagesForCalculation().GetSize(), 0);
        EXPECT_EQ(used->rowCount(), 0);
        EXPECT_EQ(d.Item<CImageSelectListCtrl>(1295)->rowCount(), 2);
        QTest::mouseClick(d.Item<QPushButton>(1), Qt::LeftButton);
        EXPECT_FALSE(d.IsRunning());
        EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Not enough images for calculation"});
        // Back again; a stop asked for before the back-projection ran skips
        // the matching and still ends the run.
        d.Item<CImageSelectListCtrl>(1295)->selectAll();
        QTest::mouseClick(d.Item<QPushButton>(1297), Qt::LeftButton);
        EXPECT_EQ(d.GetImagesForCalculation().GetSize(), 2);
        d.OnStartMatching();
        d.OnStartMatching();
        EXPECT_FALSE(d.GetDlgItem(1)->isEnabled());
        EXPECT_EQ(GetWindowText(d.GetDlgItem(1)), QStringLiteral("Start Matching"));
        WaitForEnd(d);
        EXPECT_EQ(TakeMessages(), std::vector<std::string>{"0 point(s) backprojected.\n0 new point(s) found."});
    });
    EXPECT_EQ(doc->FindPointSet("Triangulate")->GetSize(), 0);
    // Without images that have unassigned targets the list is empty.
    for (int k = 0; k < 2; ++k)
        doc->images.GetAt(k)->targets.RemoveAll();
    Command([&](CFindCorrespondingPointsDlg& d) {
        EXPECT_EQ(d.GetImagesForCalculation().GetSize(), 0);
        EXPECT_EQ(d.Item<CImageSelectListCtrl>(1296)->rowCount(), 0);
    });
}

// A receiver of the progress dialog's end.
class Owner : public CMessageTarget {
public:
    std::intptr_t OnHubMessage(unsigned message, std::uintptr_t, std::intptr_t) override
    {
        ended += message == UM_STEP_DONE;
        return 0;
    }
    int ended = 0;
};

// The progress dialog on its own: without back-projection it matches only,
// reports to its owner once, and its timer stops at the first tick after.
TEST_F(MeasuringCommands, ComputationProgressRunsMatchingOnly)
{
    OpenNetwork();
    CImagePtrArray images;
    for (int k = 0; k < doc->images.GetSize(); ++k)
        images.Add(doc->images.GetAt(k));
    CPointSet points;
    const double origin[3] = {0.0, 0.0, 0.0};
    const double gon = CCorrespondenceJob::kRadiansPerGon;
    Owner owner;
    auto progress = std::make_unique<CComputationProgressDlg>(&images, &doc->cameras, &points, 0.01 * gon, 10.0 * gon,
                                                              2.0, true, false, CNameBuffer("A"), origin, 0.0, false,
                                                              &owner);
    ASSERT_TRUE(progress->Run());
    EXPECT_TRUE(progress->isVisible());
    EXPECT_EQ(progress->windowTitle(), QStringLiteral("Computation Progress"));
    QElapsedTimer clock;
    clock.start();
    while (owner.ended == 0 && clock.elapsed() < kRunTimeout)
        QTest::qWait(5);
    EXPECT_EQ(owner.ended, 1);
    EXPECT_EQ(GetWindowText(progress->GetDlgItem(1359)), QStringLiteral("Find corresponding points"));
    EXPECT_EQ(progress->GetBackProjectedCount(), 0);
    EXPECT_EQ(progress->GetNewPointCount(), 60);
    EXPECT_EQ(points.GetSize(), 60);
    ExpectWholeAndSave(*progress, "/ComputationProgress.png");
    progress->OnTimer();
    EXPECT_FALSE(progress->IsTimerActive());
    progress.reset();
    QTest::qWait(20);
    EXPECT_EQ(owner.ended, 1);
}

// "AutoScan All Images" on the sample: the warning, the list, one scan.
TEST_F(MeasuringCommands, AutoScanAllImages)
{
    const QString sample = WriteSample();
    std::string message;
    ASSERT_TRUE(WriteSamplePictures(QFileInfo(sample).absolutePath().toStdString(), message)) << message;
    ASSERT_TRUE(Start({QStringLiteral("--nosplash"), sample}));
    doc = GetActiveKestrelonDoc();
    ASSERT_NE(doc, nullptr);
    CKestrelonView* tree = Frame()->GetProjectTreeView();
    ASSERT_NE(tree, nullptr);
    TakeMessages();
    doc->SetModifiedFlag(false);
    // Cancel keeps the measurements.
    answers.push_back(IDCANCEL);
    int opened = 0;
    dialogs.push_back([&](CDialog&) {
        ++opened;
        return int(QDialog::Rejected);
    });
    tree->OnCmdMsg(33026, nullptr);
    EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Previous measurements will be deleted"});
    EXPECT_EQ(opened, 0);
    dialogs.clear();

    answers.push_back(IDOK);
    dialogs.push_back([&](CDialog& d) {
        ++opened;
        auto* scan = dynamic_cast<CAutoScanDlg*>(&d);
        EXPECT_NE(scan, nullptr);
        if (!scan)
            return int(QDialog::Rejected);
        d.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&d));
        EXPECT_EQ(d.windowTitle(), QStringLiteral("AutoScan"));
        EXPECT_EQ(scan->GetList()->rowCount(), doc->images.GetSize());
        EXPECT_EQ(scan->GetList()->item(0, 0)->text(), QStringLiteral("Image001.tif"));
        EXPECT_FALSE(d.Item<QCheckBox>(1260)->isChecked());
        ExpectWholeAndSave(d, "/AutoScan.png");
        QTest::mouseClick(d.Item<QPushButton>(1263), Qt::LeftButton);
        EXPECT_FALSE(d.GetDlgItem(1263)->isEnabled());
        EXPECT_EQ(scan->GetList()->GetSelection(), -1);
        d.Item<QPushButton>(1)->click();
        return d.result();
    });
    tree->OnCmdMsg(33026, nullptr);
    EXPECT_EQ(opened, 1);
    // "Display Images During Scan" off: no image window was opened.
    for (CView* v : doc->GetViews())
        EXPECT_EQ(dynamic_cast<CImageView*>(v), nullptr);
    EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Previous measurements will be deleted"});
    EXPECT_TRUE(doc->IsModified());
    int targets = 0;
    for (int i = 0; i < doc->images.GetSize(); ++i) {
        const CProjectImage* image = doc->images.GetAt(i);
        EXPECT_TRUE(image->scanned) << i;
        targets += image->targets.GetSize();
    }
    EXPECT_GT(targets, 0);
}

// Records the image each image window paints.
class PaintedImages : public QObject {
public:
    std::vector<const CProjectImage*> images;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            if (auto* view = dynamic_cast<CImageView*>(watched->parent()); view && watched == view->viewport())
                if (images.empty() || images.back() != view->GetImageRecord())
                    images.push_back(view->GetImageRecord());
        return false;
    }
};

// With "Display Images During Scan" each image is shown while it is scanned:
// one image window paints each image in turn, and shows the last with its
// targets found.
TEST_F(MeasuringCommands, AutoScanAllImagesDisplaysEachImageWhenAsked)
{
    const QString sample = WriteSample();
    std::string message;
    ASSERT_TRUE(WriteSamplePictures(QFileInfo(sample).absolutePath().toStdString(), message)) << message;
    ASSERT_TRUE(Start({QStringLiteral("--nosplash"), sample}));
    doc = GetActiveKestrelonDoc();
    ASSERT_NE(doc, nullptr);
    CKestrelonView* tree = Frame()->GetProjectTreeView();
    ASSERT_NE(tree, nullptr);
    doc->images.GetAt(3)->enabled = false; // not scanned, not shown
    PaintedImages painted;
    answers.push_back(IDOK);
    dialogs.push_back([&](CDialog& d) {
        d.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&d));
        QTest::mouseClick(d.Item<QCheckBox>(1260), Qt::LeftButton);
        EXPECT_TRUE(d.Item<QCheckBox>(1260)->isChecked());
        qApp->installEventFilter(&painted);
        QTest::mouseClick(d.Item<QPushButton>(1263), Qt::LeftButton);
        qApp->removeEventFilter(&painted);
        d.Item<QPushButton>(1)->click();
        return d.result();
    });
    tree->OnCmdMsg(33026, nullptr);
    TakeMessages();
    std::vector<const CProjectImage*> expected;
    for (int i = 0; i < doc->images.GetSize(); ++i)
        if (i != 3)
            expected.push_back(doc->images.GetAt(i));
    EXPECT_EQ(painted.images, expected);
    std::vector<CImageView*> views;
    for (CView* v : doc->GetViews())
        if (auto* view = dynamic_cast<CImageView*>(v))
            views.push_back(view);
    ASSERT_EQ(views.size(), 1u);
    const CProjectImage* last = doc->images.GetAt(doc->images.GetSize() - 1);
    EXPECT_EQ(views[0]->GetImageRecord(), last);
    EXPECT_TRUE(last->scanned);
    EXPECT_GT(last->targets.GetSize(), 0);
    EXPECT_FALSE(doc->images.GetAt(3)->scanned);
    EXPECT_TRUE(views[0]->GetParentFrame()->grab().save(TestOutputFolder() + "/AutoScanDisplayed.png"));
}

} // namespace measuring_commands_test
