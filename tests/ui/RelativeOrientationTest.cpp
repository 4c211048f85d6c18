// The relative orientation dialog: its tables and layout as plain
// functions, and the dialog on a pair of the sample project with known truth.
#include "ShellFixture.h"
#include "WholeTexts.h"

#include "Controls.h"
#include "Frames.h"
#include "Hub.h"
#include "ImageView.h"
#include "KestrelonDoc.h"
#include "KestrelonView.h"
#include "MessageHub.h"
#include "ProjectBuilder.h"
#include "RealMessageBoxes.h"
#include "ProjectImage.h"
#include "RelativeOrientationDlg.h"
#include "SampleProject.h"
#include "TargetRenderer.h"

#include <QFile>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <cmath>
#include <cstdio>

namespace relative_orientation_test {

const std::string kIdentical = "Identical images are selected.\nChange selection.";

CImageObservation* Observe(CObservationList& list, const char* label, double vx, double vy)
{
    CImageObservation o(CNameBuffer(label), 1.0, 2.0);
    o.vx = vx;
    o.vy = vy;
    list.AddSorted(o);
    return list.Find(CNameBuffer(label));
}

double Distance(const CObjectPoint& a, const CObjectPoint& b)
{
    return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) + (a.z - b.z) * (a.z - b.z));
}

// Records the caption and icon of every message box while it lives.
struct BoxRecorder {
    BoxRecorder()
    {
        old = SetMessageBoxHandler([this](const char* text, const char* caption, unsigned type) {
            shown.push_back(std::string(caption ? caption : "") + "|" + std::to_string(type & MB_ICONMASK));
            return old ? old(text, caption, type) : IDOK;
        });
    }
    ~BoxRecorder() { SetMessageBoxHandler(old); }
    MessageBoxHandler old;
    std::vector<std::string> shown;
};

std::string Format(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// Eight labels on the left, six of them on the right and a seventh that is
// disabled there: eight rows, six pairs; the RMS divides by all eight rows.
TEST(RelOrientTables, RowsPairsAndTheRmsOverAllRows)
{
    CObservationList left, right;
    const char* labels[8] = {"P1", "P2", "P3", "P4", "P5", "P6", "P7", "P8"};
    double sumLeft = 0.0, sumRight = 0.0;
    for (int i = 0; i < 8; ++i) {
        const double lx = 0.001 * (i + 1), ly = -0.0005 * i;
        Observe(left, labels[i], lx, ly);
        sumLeft += lx * lx + ly * ly;
        if (i < 6) {
            const double rx = 0.0003 * (i + 2), ry = 0.002 - 0.0001 * i;
            Observe(right, labels[i], rx, ry);
            sumRight += rx * rx + ry * ry;
        }
    }
    Observe(right, "P7", 5.0, 5.0)->disabled = true;
    Observe(right, "P0", 0.003, 0.004); // only on the right

    const std::vector<CRelOrientRow> rows = BuildRelOrientRows(left, right);
    ASSERT_EQ(rows.size(), 9u);
    EXPECT_STREQ(rows[0].label.GetText(), "P0");
    EXPECT_TRUE(rows[0].left == nullptr && rows[0].right != nullptr);
    EXPECT_STREQ(rows[7].label.GetText(), "P7");
    EXPECT_TRUE(rows[7].left != nullptr && rows[7].right == nullptr); // the disabled one is left out
    EXPECT_EQ(CountRelOrientPairs(rows), 6);

    const CRelOrientResiduals table = FormatRelOrientResiduals(rows);
    ASSERT_EQ(table.label.size(), 9u);
    EXPECT_EQ(table.left[0].toStdString(), "No");
    EXPECT_EQ(table.right[0].toStdString(), "5.00"); // a 3-4-5 residual of 5 um
    EXPECT_EQ(table.right[7].toStdString(), "No");

    // Without the right-only row: eight rows, two without a right observation.
    const std::vector<CRelOrientRow> eight(rows.begin() + 1, rows.end());
    const CRelOrientResiduals rms = FormatRelOrientResiduals(eight);
    EXPECT_EQ(rms.rmsRight.toStdString(), Format("%2.3lf", std::sqrt(sumRight / 8.0) * 1000.0));
    EXPECT_EQ(rms.rmsLeft.toStdString(), Format("%2.3lf", std::sqrt(sumLeft / 8.0) * 1000.0));
    EXPECT_NE(rms.rmsRight.toStdString(), Format("%2.3lf", std::sqrt(sumRight / 6.0) * 1000.0));
}

// By hand: 1280 x 1000 less 4 and 53 is 1276 x 947; a 500 x 120 dialog
// leaves 827 for the windows, each 638 wide; the dialog at (388, 867).
TEST(RelOrientTables, LayoutByHand)
{
    const CRelOrientLayout layout = ComputeRelOrientLayout(QSize(1280, 1000), QSize(500, 120));
    EXPECT_EQ(layout.left, QRect(0, 0, 638, 827));
    EXPECT_EQ(layout.right, QRect(638, 0, 638, 827));
    EXPECT_EQ(layout.dialog, QPoint(388, 867));
    const CRelOrientLayout odd = ComputeRelOrientLayout(QSize(805, 600), QSize(301, 100));
    EXPECT_EQ(odd.left, QRect(0, 0, 400, 447));
    EXPECT_EQ(odd.right, QRect(400, 0, 400, 447));
    EXPECT_EQ(odd.dialog, QPoint(250, 487));
}

class RelOrient : public ShellFixture {
protected:
    void OpenSample(double noise)
    {
        const QString folder = scratch.filePath(QStringLiteral("sample"));
        std::string message;
        ASSERT_TRUE(WriteSampleProject(folder.toStdString(), message, noise)) << message;
        ASSERT_TRUE(Start({QStringLiteral("--nosplash"), folder + QStringLiteral("/Sample.kst")}));
        doc = GetActiveKestrelonDoc();
        ASSERT_NE(doc, nullptr);
        Frame()->resize(1200, 900);
        Frame()->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Frame()));
        BuildSampleTruth(truth);
        Messages();
    }
    // The tree without activating its frame.
    CKestrelonView* Tree() const
    {
        for (CView* v : doc->GetViews())
            if (auto* tree = dynamic_cast<CKestrelonView*>(v))
                return tree;
        return nullptr;
    }
    CRelativeOrientationDlg* Open()
    {
        Frame()->OnCommandId(33077);
        Settle();
        CKestrelonView* tree = Tree();
        return tree ? dynamic_cast<CRelativeOrientationDlg*>(tree->GetRelativeOrientationDlg()) : nullptr;
    }
    // The messages since the last call but those of the sample's missing pictures.
    std::vector<std::string> Messages()
    {
        std::vector<std::string> kept;
        for (std::string& m : TakeMessages())
            if (m.rfind("The image file ", 0) != 0)
                kept.push_back(std::move(m));
        return kept;
    }
    int ImageFrames() const
    {
        int n = 0;
        for (QMdiSubWindow* w : Frame()->GetMdiArea()->subWindowList())
            n += dynamic_cast<CChildFrame*>(w) != nullptr;
        return n;
    }
    CProjectImage& Image(int i) { return *doc->images.GetAt(i); }
    static void Choose(CComboBoxImage* combo, int index)
    {
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }
    // Renames the right image's labels so that exactly `common` stay shared.
    void KeepCommon(int common)
    {
        CProjectImage& left = Image(0);
        CProjectImage& right = Image(1);
        int kept = 0;
        for (int k = 0; k < right.targets.GetSize(); ++k) {
            CImageObservation& o = *right.targets.GetAt(k);
            if (left.targets.Find(o.label) && kept++ < common)
                continue;
            char label[16];
            std::snprintf(label, sizeof label, "R%d", k);
            o.label = CNameBuffer(label);
        }
        right.targets.SortByLabel();
    }
    std::vector<QStringList> TableRows(CRelativeOrientationDlg* dlg) const
    {
        std::vector<QStringList> rows;
        for (int i = 0; i < dlg->m_PointTable->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* item = dlg->m_PointTable->topLevelItem(i);
            rows.push_back({item->text(0), item->text(1), item->text(2)});
        }
        return rows;
    }

    CSampleTruth truth;
};

// The first two images side by side in relative orientation mode; showing
// the dialog again opens no more windows; Cancel closes both windows.
TEST_F(RelOrient, StartsOnTheFirstTwoImagesAndOpensThemOnce)
{
    OpenSample(0.0);
    CRelativeOrientationDlg* dlg = Open();
    ASSERT_NE(dlg, nullptr);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(dlg->windowTitle(), QStringLiteral("Relative Orientation"));
    EXPECT_EQ(ImageFrames(), 2);
    const CRelOrientLayout layout = ComputeRelOrientLayout(Frame()->size(), dlg->size());
    for (int side = 0; side < 2; ++side) {
        CMDIChildWnd* frame = dlg->GetFrame(side == 0);
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->geometry(), side == 0 ? layout.left : layout.right);
        EXPECT_EQ(frame->windowTitle(),
                  QStringLiteral("Relative Orientation: %1").arg(QString::fromLatin1(Image(side).name.GetText())));
        EXPECT_TRUE(dlg->GetView(side == 0)->relativeOrientationMode);
    }
    EXPECT_EQ(dlg->pos(), Frame()->mapToGlobal(layout.dialog));
    // The project's title gaining and losing its "*" leaves theirs.
    for (const bool modified : {true, false}) {
        doc->SetModifiedFlag(modified);
        for (int side = 0; side < 2; ++side)
            EXPECT_EQ(dlg->GetFrame(side == 0)->windowTitle(),
                      QStringLiteral("Relative Orientation: %1").arg(QString::fromLatin1(Image(side).name.GetText())))
                << modified;
    }
    EXPECT_EQ(dlg->m_LeftCombo->GetSelectedImage(), &Image(0));
    EXPECT_EQ(dlg->m_RightCombo->GetSelectedImage(), &Image(1));
    EXPECT_FALSE(dlg->m_Accept->isEnabled());
    EXPECT_TRUE(dlg->m_Compute->isEnabled());
    Frame()->UpdateCmdUI();
    EXPECT_TRUE(Frame()->GetAction(33077)->isEnabled());

    // The picture: the main window with the dialog where it stands.
    Settle();
    QPixmap picture = Frame()->grab();
    {
        QPainter painter(&picture);
        painter.drawPixmap(Frame()->mapFromGlobal(dlg->pos()), dlg->grab());
    }
    EXPECT_TRUE(picture.save(TestOutputFolder() + QStringLiteral("/RelativeOrientationLayout.png")));

    // Closing a window in this mode is refused.
    dlg->GetFrame(true)->close();
    Settle();
    EXPECT_EQ(Messages(),
              std::vector<std::string>{"Image is in relative orientation measurement mode.\nTo close finish RO mode."});
    EXPECT_EQ(ImageFrames(), 2);

    EXPECT_EQ(Open(), dlg);
    EXPECT_EQ(ImageFrames(), 2);

    QTest::mouseClick(dlg->findChild<QPushButton*>(IdName(2)), Qt::LeftButton);
    Settle();
    EXPECT_EQ(ImageFrames(), 0);
    EXPECT_EQ(Tree()->GetRelativeOrientationDlg(), nullptr);
    EXPECT_TRUE(Messages().empty());
}

// Exactly 6 common labels enable "Compute RO", 5 do not; a label of one
// image only gives "Yes"/"No"; a disabled observation is not listed.
TEST_F(RelOrient, ComputeNeedsSixCommonLabels)
{
    OpenSample(0.0);
    CRelativeOrientationDlg* dlg = Open();
    ASSERT_NE(dlg, nullptr);
    struct Case {
        int common;
        bool disableOne;
        bool enabled;
    };
    const Case cases[] = {{6, false, true}, {5, false, false}, {7, true, true}, {6, true, false}};
    const CObservationList original = Image(1).targets;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.common);
        Image(1).targets = original;
        KeepCommon(c.common);
        if (c.disableOne)
            for (int k = 0; k < Image(1).targets.GetSize(); ++k)
                if (Image(0).targets.Find(Image(1).targets.GetAt(k)->label)) {
                    Image(1).targets.GetAt(k)->disabled = true;
                    break;
                }
        PostHubMessage(UM_RO_MEASURED);
        Settle();
        EXPECT_EQ(dlg->m_Compute->isEnabled(), c.enabled);
        const std::vector<QStringList> rows = TableRows(dlg);
        int pairs = 0, leftOnly = 0, rightOnly = 0;
        for (const QStringList& r : rows) {
            pairs += r[1] == QStringLiteral("Yes") && r[2] == QStringLiteral("Yes");
            leftOnly += r[1] == QStringLiteral("Yes") && r[2] == QStringLiteral("No");
            rightOnly += r[1] == QStringLiteral("No") && r[2] == QStringLiteral("Yes");
        }
        const int shown = c.common - (c.disableOne ? 1 : 0);
        EXPECT_EQ(pairs, shown);
        EXPECT_EQ(leftOnly, Image(0).targets.GetSize() - shown);
        EXPECT_EQ(rightOnly, Image(1).targets.GetSize() - c.common);
        EXPECT_EQ(pairs + leftOnly + rightOnly, int(rows.size()));
    }
    dlg->OnCancel();
    Settle();
}

// The same image on both sides, by a combo or by Next Image in a window
// (message 0x450), shows the identical-images message and disables
// "Compute RO"; the combo follows the window.
TEST_F(RelOrient, IdenticalImagesAreRefused)
{
    OpenSample(0.0);
    CRelativeOrientationDlg* dlg = Open();
    ASSERT_NE(dlg, nullptr);
    Messages();
    dlg->GetView(true)->SwitchImage(true);
    Settle();
    EXPECT_EQ(dlg->m_LeftCombo->GetSelectedImage(), &Image(1));
    EXPECT_EQ(Messages(), std::vector<std::string>{kIdentical});
    EXPECT_FALSE(dlg->m_Compute->isEnabled());

    Choose(dlg->m_RightCombo, 2);
    EXPECT_EQ(dlg->GetView(false)->GetImageRecord(), &Image(2));
    EXPECT_TRUE(Messages().empty());
    EXPECT_TRUE(dlg->m_Compute->isEnabled());
    EXPECT_TRUE(dlg->GetView(false)->relativeOrientationMode);

    BoxRecorder boxes;
    Choose(dlg->m_LeftCombo, 2);
    EXPECT_EQ(Messages(), std::vector<std::string>{kIdentical});
    EXPECT_EQ(boxes.shown.back(), "Relative Orientation|" + std::to_string(MB_ICONEXCLAMATION));
    EXPECT_FALSE(dlg->m_Compute->isEnabled());
    dlg->OnCancel();
    Settle();
}

// Compute RO on a noise-free pair: the stations 1000 apart, the points
// similar to the truth, residuals near zero; Accept leaves exactly the two
// images resected with "ROArray" the driver set.
TEST_F(RelOrient, ComputeAndAcceptMakeROArrayTheDriver)
{
    OpenSample(0.0);
    CPointSet* oldDriver = doc->pointSets.GetDriverSet();
    ASSERT_NE(oldDriver, nullptr);
    for (int i = 0; i < doc->images.GetSize(); ++i)
        Image(i).oriented = true;
    doc->SetModifiedFlag(false);
    CRelativeOrientationDlg* dlg = Open();
    ASSERT_NE(dlg, nullptr);
    QTest::mouseClick(dlg->m_Compute, Qt::LeftButton);
    EXPECT_TRUE(Messages().empty());
    ASSERT_TRUE(dlg->m_Accept->isEnabled());

    // Geometry against the truth, up to the scale the base length sets.
    const CSamplePose& t0 = truth.poses[0];
    const CSamplePose& t1 = truth.poses[1];
    const double trueBase = std::sqrt((t1.X - t0.X) * (t1.X - t0.X) + (t1.Y - t0.Y) * (t1.Y - t0.Y) +
                                      (t1.Z - t0.Z) * (t1.Z - t0.Z));
    const CProjectImage& a = Image(0);
    const CProjectImage& b = Image(1);
    EXPECT_NEAR(std::sqrt((b.X - a.X) * (b.X - a.X) + (b.Y - a.Y) * (b.Y - a.Y) + (b.Z - a.Z) * (b.Z - a.Z)), 1000.0,
                1e-6);
    const CPointSet& ro = dlg->GetROPointSet();
    ASSERT_GE(ro.GetSize(), 6);
    const double scale = trueBase / 1000.0;
    const CObjectPoint* first = ro.GetAt(0);
    const CObjectPoint* firstTruth = truth.targets.FindPointByText(first->label.GetText());
    ASSERT_NE(firstTruth, nullptr);
    double worst = 0.0;
    for (int i = 1; i < ro.GetSize(); ++i) {
        const CObjectPoint* p = ro.GetAt(i);
        const CObjectPoint* t = truth.targets.FindPointByText(p->label.GetText());
        ASSERT_NE(t, nullptr);
        const double dr = Distance(*p, *first);
        const double dt = Distance(*t, *firstTruth);
        worst = std::max(worst, std::fabs(dr * scale - dt));
    }
    EXPECT_LT(worst, 1e-6 * 2000.0);

    // The residual table: the pairs, then "RMS".
    const std::vector<QStringList> rows = TableRows(dlg);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(dlg->m_PointTable->headerItem()->text(1), QStringLiteral("Left vxy"));
    EXPECT_EQ(rows.back()[0], QStringLiteral("RMS"));
    EXPECT_LT(rows.back()[1].toDouble(), 0.01);
    EXPECT_LT(rows.back()[2].toDouble(), 0.01);

    ExpectWholeAndSave(*dlg, QStringLiteral("/RelativeOrientationResiduals.png"));
    const int computed = ro.GetSize();
    QTest::mouseClick(dlg->m_Accept, Qt::LeftButton);
    Settle();
    for (int i = 0; i < doc->images.GetSize(); ++i)
        EXPECT_EQ(Image(i).oriented, i < 2) << i;
    CPointSet* roArray = doc->pointSets.GetROArraySet();
    ASSERT_NE(roArray, nullptr);
    EXPECT_EQ(doc->pointSets.GetDriverSet(), roArray);
    EXPECT_FALSE(oldDriver->isDriver);
    EXPECT_EQ(roArray->GetSize(), computed);
    EXPECT_TRUE(doc->IsModified());
    EXPECT_TRUE(QFile::exists(QString::fromLocal8Bit(roArray->GetName().GetText())));
    EXPECT_EQ(ImageFrames(), 0);
    CKestrelonView* tree = Tree();
    EXPECT_EQ(tree->GetRelativeOrientationDlg(), nullptr);
    ASSERT_NE(tree->currentItem(), nullptr);
    EXPECT_EQ(tree->currentItem()->text(0), QStringLiteral("ROArray"));
}

// Cancel after a computation gives both images their poses and flags back.
TEST_F(RelOrient, CancelAfterComputeRestoresThePoses)
{
    OpenSample(CSampleTruth::kImageNoise);
    Image(1).oriented = false;
    const double before[2][4] = {{Image(0).X, Image(0).Y, Image(0).Z, Image(0).GetAzimuth()},
                                 {Image(1).X, Image(1).Y, Image(1).Z, Image(1).GetAzimuth()}};
    CRelativeOrientationDlg* dlg = Open();
    ASSERT_NE(dlg, nullptr);
    dlg->OnComputeRO();
    ASSERT_TRUE(dlg->m_Accept->isEnabled());
    // With noise the residuals are of its size.
    const QStringList rms = TableRows(dlg).back();
    EXPECT_GT(rms[1].toDouble(), 0.1 * CSampleTruth::kImageNoise * 1000.0);
    EXPECT_LT(rms[1].toDouble(), 3.0 * CSampleTruth::kImageNoise * 1000.0);
    EXPECT_NE(Image(0).X, before[0][0]);
    dlg->OnCancel();
    Settle();
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(Image(i).X, before[i][0]);
        EXPECT_EQ(Image(i).Y, before[i][1]);
        EXPECT_EQ(Image(i).Z, before[i][2]);
        EXPECT_EQ(Image(i).GetAzimuth(), before[i][3]);
    }
    EXPECT_TRUE(Image(0).oriented);
    EXPECT_FALSE(Image(1).oriented);
    EXPECT_EQ(doc->pointSets.GetROArraySet(), nullptr);
}

// A camera missing from the project fails the computation with its message.
TEST_F(RelOrient, ComputeWithoutTheProjectCameraFails)
{
    OpenSample(0.0);
    CRelativeOrientationDlg* dlg = Open();
    ASSERT_NE(dlg, nullptr);
    Image(1).SetCameraName("Nowhere");
    const double x = Image(1).X;
    BoxRecorder boxes;
    dlg->OnComputeRO();
    EXPECT_EQ(Messages(), std::vector<std::string>{"Computation failed!"});
    EXPECT_EQ(boxes.shown, std::vector<std::string>{"RO Orientation|" + std::to_string(MB_ICONSTOP)});
    EXPECT_FALSE(dlg->m_Accept->isEnabled());
    EXPECT_EQ(Image(1).X, x);
    dlg->OnCancel();
    Settle();
}

// A window closed by other means is dropped; the dialog goes on with the
// other and Cancel closes what is left.
TEST_F(RelOrient, AWindowClosedElsewhereIsForgotten)
{
    OpenSample(0.0);
    CRelativeOrientationDlg* dlg = Open();
    ASSERT_NE(dlg, nullptr);
    delete dlg->GetFrame(true);
    Settle();
    EXPECT_EQ(dlg->GetFrame(true), nullptr);
    PostHubMessage(UM_RO_MEASURED);
    Settle();
    EXPECT_FALSE(dlg->m_Compute->isEnabled());
    for (const QStringList& r : TableRows(dlg))
        EXPECT_EQ(r[1], QStringLiteral("No"));
    Choose(dlg->m_LeftCombo, 3);
    dlg->OnComputeRO();
    EXPECT_EQ(Messages(), std::vector<std::string>{"Computation failed!"});
    dlg->OnCancel();
    Settle();
    EXPECT_EQ(ImageFrames(), 0);
}

// Closing the project with the dialog open closes everything; an image
// window left over by the dialog's end may close again.
TEST_F(RelOrient, TheProjectClosesWithTheDialogOpen)
{
    OpenSample(0.0);
    CRelativeOrientationDlg* dlg = Open();
    ASSERT_NE(dlg, nullptr);
    QPointer<CMDIChildWnd> left = dlg->GetFrame(true);
    delete dlg;
    ASSERT_FALSE(left.isNull());
    EXPECT_FALSE(dynamic_cast<CImageView*>(left->GetActiveView())->relativeOrientationMode);
    EXPECT_EQ(left->windowTitle(), QString::fromLatin1(Image(0).name.GetText()));

    dlg = Open();
    ASSERT_NE(dlg, nullptr);
    EXPECT_EQ(ImageFrames(), 4);
    answers = {IDNO}; // the save question
    Tree()->GetParentFrame()->close();
    Settle();
    EXPECT_EQ(GetActiveKestrelonDoc(), nullptr);
    EXPECT_EQ(ImageFrames(), 0);
}

// Scan Images scans both windows' pictures; with points measured it asks
// first, and No scans nothing.
// A new project of two pictures with three targets each, without observations.
void NewScanProject(CMainFrame* frame, CKestrelonDoc& doc, const QTemporaryDir& scratch)
{
    frame->resize(1200, 900);
    frame->show();
    const TargetScene scene = DarkDiscScene(200, 150, {{50.3, 40.6}, {140.8, 95.2}, {100.1, 120.4}}, 5.0, 0.7, 1.0);
    CCamera* camera = AddCamera(doc, "Cam");
    camera->XPixels = scene.width;
    camera->YPixels = scene.height;
    camera->XPixelSize = 0.01;
    camera->YPixelSize = 0.01;
    for (int k = 0; k < 2; ++k) {
        const std::string path = scratch.filePath(QStringLiteral("scan%1.bmp").arg(k)).toStdString();
        ASSERT_TRUE(WritePicture(path, RenderScene(scene)));
        AddImage(doc, {"Cam", true, false, 0})->SetFilePath(path.c_str());
    }
}

TEST_F(RelOrient, ScanImagesScansBothAfterAsking)
{
    NewProject();
    ASSERT_NO_FATAL_FAILURE(NewScanProject(Frame(), *doc, scratch));
    CRelativeOrientationDlg* dlg = Open();
    ASSERT_NE(dlg, nullptr);
    QPushButton* scan = dlg->findChild<QPushButton*>(IdName(1393));
    QTest::mouseClick(scan, Qt::LeftButton);
    EXPECT_TRUE(Messages().empty());
    for (int k = 0; k < 2; ++k) {
        EXPECT_TRUE(Image(k).scanned) << k;
        EXPECT_EQ(Image(k).targets.GetSize(), 3) << k;
    }
    EXPECT_EQ(dlg->m_PointTable->topLevelItemCount(), 3); // the table follows the scan

    Image(0).targets.GetAt(0)->label = CNameBuffer("KEEP");
    Image(0).targets.SortByLabel();
    for (int answer : {IDNO, IDYES}) {
        answers = {answer};
        QTest::mouseClick(scan, Qt::LeftButton);
        EXPECT_EQ(Messages(),
                  std::vector<std::string>{"Autoscan will overwrite previously measured points. Continue?"});
        EXPECT_EQ(Image(0).targets.Find(CNameBuffer("KEEP")) != nullptr, answer == IDNO);
        EXPECT_EQ(Image(0).targets.GetSize(), 3);
    }
    dlg->OnCancel();
    Settle();
}

// The question of Scan Images belongs to the dialog and stays above it,
// also when the main window was active last (the user was measuring in an
// image window); No keeps the points.
TEST_F(RelOrient, ScanImagesAsksAboveTheDialog)
{
    NewProject();
    ASSERT_NO_FATAL_FAILURE(NewScanProject(Frame(), *doc, scratch));
    Observe(Image(0).targets, "KEEP", 0.0, 0.0);
    CRelativeOrientationDlg* dlg = Open();
    ASSERT_NE(dlg, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg));
    for (QWidget* active : {static_cast<QWidget*>(dlg), static_cast<QWidget*>(Frame())}) {
        SCOPED_TRACE(active->windowTitle().toStdString());
        active->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(active));
        RealMessageBoxes boxes(QMessageBox::No);
        QTest::mouseClick(dlg->findChild<QPushButton*>(IdName(1393)), Qt::LeftButton);
        Settle();
        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.shown[0].text.toStdString(), "Autoscan will overwrite previously measured points. Continue?");
        EXPECT_EQ(boxes.shown[0].parent, dlg);
        EXPECT_EQ(boxes.shown[0].transientFor, dlg->windowHandle());
        EXPECT_NE(Image(0).targets.Find(CNameBuffer("KEEP")), nullptr);
        EXPECT_TRUE(boxes.shown[0].picture.save(TestOutputFolder() + QStringLiteral("/RelativeOrientationScanQuestion.png")));
    }
    TakeMessages();
    dlg->OnCancel();
    Settle();
}

} // namespace relative_orientation_test
