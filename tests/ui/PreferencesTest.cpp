// The preference sheet and the Point Status dialog driven through their controls.
#include "ShellFixture.h"
#include "WholeTexts.h"

#include "DialogCommand.h"

#include "CorrespondingPointsPage.h"
#include "KestrelonDoc.h"
#include "PointStatusDlg.h"
#include "Preferences.h"
#include "ProjectBuilder.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <QTest>

#include <cmath>

namespace {

using Getter = double (*)(const CProjectDocument&);

// A control edited on a page: a text typed into an edit, or a click (text null).
struct Edit {
    int page;
    int id;
    const char* text;
    Getter get;
    double expected;
};

const double kPi = 4.0 * std::atan(1.0);

// Every setting the sheet edits except the prefix and the two-ray flag. The
// auto-save switch, thumbnail and digitizing settings are kept beside the
// project file, the rest in it.
const Edit kEdits[] = {
    {0, 1063, "45", [](const CProjectDocument& d) { return double(d.autoSavePeriod); }, 45},
    {0, 1062, nullptr, [](const CProjectDocument& d) { return double(d.autoSave); }, 0},
    {0, 1213, nullptr, [](const CProjectDocument& d) { return double(d.storeThumbnails); }, 0},
    {0, 1216, nullptr, [](const CProjectDocument& d) { return double(d.thumbnailType); }, 0},
    {0, 1214, "64", [](const CProjectDocument& d) { return double(d.thumbnailWidth); }, 64},
    {0, 1315, "48", [](const CProjectDocument& d) { return double(d.thumbnailHeight); }, 48},
    {0, 1218, "25", [](const CProjectDocument& d) { return double(d.thumbnailScale); }, 25},
    {1, 1204, nullptr, [](const CProjectDocument& d) { return double(d.numberPoints); }, 0},
    {1, 1306, nullptr, [](const CProjectDocument& d) { return double(d.targetOverlay); }, 0},
    {1, 1208, nullptr, [](const CProjectDocument& d) { return double(d.centroidColour); }, MakeColour(1, 2, 3)},
    {1, 1211, nullptr, [](const CProjectDocument& d) { return double(d.manualColour); }, MakeColour(1, 2, 3)},
    {1, 1213, nullptr, [](const CProjectDocument& d) { return double(d.fiducialColour); }, MakeColour(1, 2, 3)},
    {1, 1241, nullptr, [](const CProjectDocument& d) { return double(d.residualVectorColour); }, MakeColour(1, 2, 3)},
    {2, 1211, nullptr, [](const CProjectDocument& d) { return double(d.addDuplicateCoordinates); }, 0},
    {2, 1210, nullptr, [](const CProjectDocument& d) { return double(d.overwriteDuplicateNumbers); }, 0},
    {2, 1212, "0.25", [](const CProjectDocument& d) { return d.duplicateTolerance; }, 0.25},
    {2, 1061, "7", [](const CProjectDocument& d) { return double(d.maxPlumbObsPerLine); }, 7},
    {3, 1683, nullptr, [](const CProjectDocument& d) { return double(d.settings.writeResiduals); }, 0},
    {3, 1587, nullptr, [](const CProjectDocument& d) { return double(d.settings.writeCameraParameters); }, 0},
    {3, 1090, nullptr, [](const CProjectDocument& d) { return double(d.settings.writeCorrelations); }, 1},
    {3, 1094, nullptr, [](const CProjectDocument& d) { return double(d.settings.writeRotationMatrices); }, 1},
    {3, 1095, nullptr, [](const CProjectDocument& d) { return double(d.settings.writeRotationAngles); }, 1},
    {3, 1096, nullptr, [](const CProjectDocument& d) { return double(d.settings.writeCovariances); }, 1},
    {4, 1247, nullptr, [](const CProjectDocument& d) { return double(d.unitIndex); }, 2},
    {5, 1313, "500", [](const CProjectDocument& d) { return double(d.eoDeviceMinSize); }, 500},
    {5, 1259, "6", [](const CProjectDocument& d) { return double(d.targetAreaMin); }, 6},
    {5, 1275, "300", [](const CProjectDocument& d) { return double(d.targetAreaMax); }, 300},
    {5, 1320, nullptr, [](const CProjectDocument& d) { return double(d.scanFlags[1]); }, 0},
    {5, 1318, nullptr, [](const CProjectDocument& d) { return double(d.scanFlags[2]); }, 1},
    {5, 1207, nullptr, [](const CProjectDocument& d) { return double(d.scanFlags[3]); }, 1},
    {5, 1319, nullptr, [](const CProjectDocument& d) { return double(d.scanFlags[4]); }, 1},
    {5, 1311, "40", [](const CProjectDocument& d) { return double(d.highTargetJump); }, 40},
    {5, 1312, "0.25", [](const CProjectDocument& d) { return d.highTargetImageRatio; }, 0.25},
    {5, 1310, "60", [](const CProjectDocument& d) { return double(d.highMinGrey); }, 60},
    {5, 1321, nullptr, [](const CProjectDocument& d) { return double(d.scanFlags[5]); }, 0},
    {5, 1316, nullptr, [](const CProjectDocument& d) { return double(d.scanFlags[6]); }, 0},
    {5, 1206, nullptr, [](const CProjectDocument& d) { return double(d.scanFlags[7]); }, 0},
    {5, 1317, nullptr, [](const CProjectDocument& d) { return double(d.scanFlags[8]); }, 0},
    {5, 1322, "15", [](const CProjectDocument& d) { return double(d.lowTargetJump); }, 15},
    {5, 1323, "0.75", [](const CProjectDocument& d) { return d.lowTargetImageRatio; }, 0.75},
    {5, 1324, "70", [](const CProjectDocument& d) { return double(d.lowMinGrey); }, 70},
    {5, 1314, "20", [](const CProjectDocument& d) { return double(d.minTargetError); }, 20},
    {5, 1315, "1.5", [](const CProjectDocument& d) { return d.deviationFactor; }, 1.5},
    {5, 1276, "5.5", [](const CProjectDocument& d) { return d.drivebackThreshold; }, 5.5},
    {5, 1309, nullptr, [](const CProjectDocument& d) { return double(d.scanFlags[0]); }, 1},
    {6, 1300, "0.02", [](const CProjectDocument& d) { return d.maxEpipolarAngleDiff; }, 0.02},
    {6, 1305, "3.5", [](const CProjectDocument& d) { return d.maxDrivebackError; }, 3.5},
    {6, 1309, "12.5", [](const CProjectDocument& d) { return d.minIntersectionAngle; }, 12.5},
    {6, 1347, "2.50", [](const CProjectDocument& d) { return d.maxDistanceToEODevice; }, 2.5},
    {6, 1344, nullptr, [](const CProjectDocument& d) { return double(d.onlyNearEODevice); }, 0},
    {7, 1412, "45", [](const CProjectDocument& d) { return d.maxViewingAngle; }, kPi * 45 * (1.0 / 180)},
    {7, 1398, "2.5", [](const CProjectDocument& d) { return d.targetRadius; }, 2.5},
    {7, 1291, "0.5", [](const CProjectDocument& d) { return d.targetNormal[0]; }, 0.5},
    {7, 1292, "-0.5", [](const CProjectDocument& d) { return d.targetNormal[1]; }, -0.5},
    {7, 1293, "0.75", [](const CProjectDocument& d) { return d.targetNormal[2]; }, 0.75},
};

std::vector<double> Values(const CProjectDocument& d)
{
    std::vector<double> values;
    for (const Edit& e : kEdits)
        values.push_back(e.get(d));
    values.push_back(d.scanMethod);
    return values;
}

// Cameras, three oriented images, a named point set and an EO device whose
// extent diagonal is 150.
void BuildScene(CProjectDocument& d, const QString& folder)
{
    AddCamera(d, "Cam");
    for (int i = 0; i < 3; ++i) {
        CProjectImage* image = AddImage(d, {"Cam", true, true, 3});
        image->X = 100.0 + i;
        image->Y = -200.5 * i;
        image->Z = 1500.25;
    }
    CPointSet* set = AddPointSet(d, (folder + QStringLiteral("/Points.xyz")).toLocal8Bit().constData());
    for (int i = 0; i < 4; ++i)
        set->AddCopy(CObjectPoint(("P" + std::to_string(i + 1)).c_str(), 10.0 * i, 20.5 - i, 3.0 * i * i));
    d.eoDevice.AddCopy(CObjectPoint("E1", 0.0, 0.0, 0.0));
    d.eoDevice.AddCopy(CObjectPoint("E2", 90.0, 0.0, 0.0));
    d.eoDevice.AddCopy(CObjectPoint("E3", 0.0, 120.0, 0.0));
    d.eoDevice.SetUnit("mm");
}

class Preferences : public ShellFixture {
protected:
    void NewProject()
    {
        ASSERT_NO_FATAL_FAILURE(ShellFixture::NewProject());
        doc->SetModifiedFlag(false);
    }
    // Runs the sheet at the page; the step answers it.
    void RunSheet(int page, std::function<int(CPropertySheet&)> step)
    {
        dialogs.push_back([step](CDialog& d) {
            auto* sheet = dynamic_cast<CPropertySheet*>(&d);
            EXPECT_NE(sheet, nullptr);
            return sheet ? step(*sheet) : int(QDialog::Rejected);
        });
        doc->RunPreferences(page);
        EXPECT_TRUE(dialogs.empty());
    }
    static QLineEdit* Field(CPropertySheet& sheet, int page, int id)
    {
        return sheet.GetPage(page)->Item<QLineEdit>(id);
    }
};

TEST_F(Preferences, RangeChecksKeepTheSheetOnThePageAndStoreNothing)
{
    NewProject();
    const struct {
        int page, id;
        const char* text;
        bool accepted;
        Getter get;
    } cases[] = {
        {0, 1063, "29", false, kEdits[0].get},  {0, 1063, "601", false, kEdits[0].get},
        {0, 1063, "30", true, kEdits[0].get},   {0, 1063, "600", true, kEdits[0].get},
        {2, 1061, "1", false, kEdits[16].get},  {2, 1061, "2", true, kEdits[16].get},
        {2, 1061, "25", true, kEdits[16].get},  {5, 1311, "256", false, kEdits[31].get},
        {5, 1312, "1.5", false, kEdits[32].get},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.id) + " " + c.text);
        const std::vector<double> before = Values(*doc);
        doc->SetModifiedFlag(false);
        TakeMessages();
        RunSheet(0, [&](CPropertySheet& sheet) {
            EXPECT_TRUE(sheet.SetActivePage(c.page));
            QLineEdit* field = Field(sheet, c.page, c.id);
            field->setText(QString::fromLatin1(c.text));
            sheet.OnOK();
            if (c.accepted)
                return sheet.result();
            EXPECT_EQ(sheet.result(), int(QDialog::Rejected));
            // Leaving the page by its tab is refused the same way.
            sheet.GetTabControl()->setCurrentIndex((c.page + 1) % 8);
            EXPECT_EQ(sheet.GetActiveIndex(), c.page);
            EXPECT_EQ(sheet.GetTabControl()->currentIndex(), c.page);
            EXPECT_EQ(sheet.focusWidget(), field);
            sheet.OnCancel();
            return sheet.result();
        });
        const auto messages = TakeMessages();
        if (c.accepted) {
            EXPECT_TRUE(messages.empty());
            EXPECT_EQ(c.get(*doc), std::atof(c.text));
            EXPECT_TRUE(doc->IsModified());
        } else {
            ASSERT_EQ(messages.size(), 2u);
            EXPECT_NE(messages[0].find("between"), std::string::npos);
            EXPECT_EQ(messages[0], messages[1]);
            EXPECT_EQ(Values(*doc), before);
            EXPECT_FALSE(doc->IsModified());
        }
    }
}

// Every numeric field of every page refuses a text that is not a number in
// the C notation: its message, the sheet stays open, nothing is stored.
TEST_F(Preferences, EveryNumericFieldRefusesTextAndStoresNothing)
{
    NewProject();
    for (const Edit& e : kEdits) {
        // 1347 is the number field of its own kind (read as far as it is a number).
        if (!e.text || e.id == 1347)
            continue;
        for (const char* text : {"abc", "0,25", "12abc"}) {
            SCOPED_TRACE(std::to_string(e.page) + " " + std::to_string(e.id) + " " + text);
            const std::vector<double> before = Values(*doc);
            TakeMessages();
            RunSheet(0, [&](CPropertySheet& sheet) {
                EXPECT_TRUE(sheet.SetActivePage(e.page));
                QLineEdit* field = Field(sheet, e.page, e.id);
                EXPECT_NE(field, nullptr);
                if (!field)
                    return int(QDialog::Rejected);
                field->selectAll();
                QTest::keyClick(field, Qt::Key_Delete);
                QTest::keyClicks(field, QString::fromLatin1(text));
                auto* ok = sheet.findChild<QAbstractButton*>(QStringLiteral("id1"));
                EXPECT_NE(ok, nullptr);
                if (ok)
                    ok->click();
                EXPECT_NE(sheet.result(), int(QDialog::Accepted));
                EXPECT_EQ(sheet.GetActiveIndex(), e.page);
                EXPECT_EQ(field->selectedText(), QString::fromLatin1(text));
                sheet.OnCancel();
                return sheet.result();
            });
            const std::vector<std::string> messages = TakeMessages();
            ASSERT_FALSE(messages.empty());
            EXPECT_EQ(messages[0].rfind("Please enter ", 0), 0u) << messages[0];
            EXPECT_EQ(Values(*doc), before);
            EXPECT_FALSE(doc->IsModified());
        }
    }
}

TEST_F(Preferences, EverySettingSurvivesOkSaveAndReload)
{
    NewProject();
    BuildScene(*doc, scratch.path());
    SetColourDialogHook([](QWidget*, QColor& colour) {
        colour = QColor(1, 2, 3);
        return true;
    });
    RunSheet(0, [](CPropertySheet& sheet) {
        for (const Edit& e : kEdits) {
            SCOPED_TRACE(e.id);
            EXPECT_TRUE(sheet.SetActivePage(e.page));
            CPropertyPage* page = sheet.GetPage(e.page);
            if (e.text)
                SetWindowText(page->GetDlgItem(e.id), QString::fromLatin1(e.text));
            else
                page->Item<QAbstractButton>(e.id)->click();
        }
        sheet.SetActivePage(6);
        sheet.GetPage(6)->Item<QAbstractButton>(1343)->click();
        SetWindowText(sheet.GetPage(6)->GetDlgItem(1358), QStringLiteral("b"));
        sheet.OnOK();
        return sheet.result();
    });
    SetColourDialogHook(nullptr);
    for (const Edit& e : kEdits)
        EXPECT_EQ(e.get(*doc), e.expected) << e.page << " " << e.id;
    EXPECT_EQ(int(doc->acceptTwoRayPoints), 1);
    EXPECT_STREQ(doc->newPointPrefix.GetText(), "B");

    const QString path = scratch.filePath(QStringLiteral("Prefs.kst"));
    ASSERT_TRUE(doc->OnSaveDocument(path));
    CProjectDocument loaded;
    ASSERT_TRUE(loaded.OnOpenDocument(path.toLocal8Bit().constData()).ok);
    for (const Edit& e : kEdits)
        EXPECT_EQ(e.get(loaded), e.expected) << e.page << " " << e.id;
    EXPECT_STREQ(loaded.newPointPrefix.GetText(), "B");
    EXPECT_TRUE(loaded.acceptTwoRayPoints);
    EXPECT_TRUE(QFileInfo::exists(path + QStringLiteral(".ini")));
}

TEST_F(Preferences, UnitChangeConvertsOnceAndEveryOkMarksTheProject)
{
    NewProject();
    const QString folder = scratch.filePath(QStringLiteral("units"));
    QDir().mkpath(folder);
    BuildScene(*doc, folder);
    CProjectDocument expected;
    BuildScene(expected, folder);
    expected.unitIndex = 2;
    expected.ApplyPreferences(0);

    // Cancel after edits changes nothing.
    const std::vector<double> before = Values(*doc);
    RunSheet(4, [](CPropertySheet& sheet) {
        sheet.GetPage(4)->Item<QAbstractButton>(1247)->click();
        sheet.SetActivePage(0);
        SetWindowText(sheet.GetPage(0)->GetDlgItem(1063), QStringLiteral("120"));
        sheet.OnCancel();
        return sheet.result();
    });
    EXPECT_EQ(Values(*doc), before);
    EXPECT_FALSE(doc->IsModified());
    EXPECT_FALSE(doc->GetTitle().endsWith('*'));

    RunSheet(4, [](CPropertySheet& sheet) {
        sheet.GetPage(4)->Item<QAbstractButton>(1247)->click();
        sheet.OnOK();
        return sheet.result();
    });
    EXPECT_EQ(doc->unitIndex, 2);
    EXPECT_TRUE(doc->GetTitle().endsWith('*'));
    const CPointSet* set = doc->pointSets.GetAt(0);
    const CPointSet* want = expected.pointSets.GetAt(0);
    ASSERT_EQ(set->GetSize(), want->GetSize());
    for (int i = 0; i < set->GetSize(); ++i) {
        EXPECT_EQ(set->GetAt(i)->x, want->GetAt(i)->x);
        EXPECT_EQ(set->GetAt(i)->z, want->GetAt(i)->z);
    }
    for (int i = 0; i < doc->images.GetSize(); ++i) {
        EXPECT_EQ(doc->images.GetAt(i)->Y, expected.images.GetAt(i)->Y);
        EXPECT_EQ(doc->images.GetAt(i)->Z, expected.images.GetAt(i)->Z);
    }
    for (int i = 0; i < doc->eoDevice.GetSize(); ++i)
        EXPECT_EQ(doc->eoDevice.GetAt(i)->y, expected.eoDevice.GetAt(i)->y);
    EXPECT_STREQ(doc->eoDevice.GetUnit().GetText(), "m");
    EXPECT_NE(doc->images.GetAt(1)->Y, -200.5);

    // OK without changes still marks the project, and converts nothing.
    doc->SetModifiedFlag(false);
    RunSheet(0, [](CPropertySheet& sheet) {
        sheet.OnOK();
        return sheet.result();
    });
    EXPECT_TRUE(doc->IsModified());
    EXPECT_EQ(doc->images.GetAt(1)->Y, expected.images.GetAt(1)->Y);
}

TEST_F(Preferences, PagesOpenAsTheSheetIsAsked)
{
    NewProject();
    BuildScene(*doc, scratch.path());
    doc->maxDistanceToEODevice = 2.0;
    RunSheet(5, [](CPropertySheet& sheet) {
        EXPECT_EQ(sheet.windowTitle(), QStringLiteral("Kestrelon Preferences"));
        QStringList captions;
        for (int i = 0; i < sheet.GetPageCount(); ++i)
            captions << sheet.GetTabControl()->tabText(i);
        EXPECT_EQ(captions, (QStringList{"Project", "Image Preferences", "Digitizing", "Output", "Project Units",
                                         "Image Scanning", "Corresponding Points", "Image Simulation"}));
        for (QPushButton* button : sheet.findChildren<QPushButton*>())
            EXPECT_NE(button->text(), QStringLiteral("Apply"));
        EXPECT_EQ(sheet.GetActiveIndex(), 5);
        EXPECT_EQ(sheet.GetTabControl()->currentIndex(), 5);
        EXPECT_FALSE(sheet.GetPage(0)->IsInitialised());
        CPropertyPage* scanning = sheet.GetPage(5);
        EXPECT_TRUE(scanning->GetDlgItem(1309)->isHidden());
        EXPECT_EQ(GetWindowText(scanning->GetDlgItem(1403)), QStringLiteral("Standard"));
        EXPECT_EQ(GetWindowText(scanning->GetDlgItem(1313)), QStringLiteral("400"));

        sheet.SetActivePage(3);
        EXPECT_FALSE(sheet.GetPage(3)->GetDlgItem(1303)->isEnabled());
        sheet.SetActivePage(7);
        EXPECT_EQ(GetWindowText(sheet.GetPage(7)->GetDlgItem(1401)), QStringLiteral("mm"));
        EXPECT_EQ(GetWindowText(sheet.GetPage(7)->GetDlgItem(1412)), QStringLiteral("60"));

        // The distance in device sizes and in project units, device size 150.
        sheet.SetActivePage(6);
        auto* page = dynamic_cast<CCorrespondingPointsPage*>(sheet.GetPage(6));
        EXPECT_EQ(page->m_dEODeviceSize, 150.0);
        EXPECT_EQ(GetWindowText(page->GetDlgItem(1347)), QStringLiteral("2.00"));
        EXPECT_EQ(GetWindowText(page->GetDlgItem(1307)), QStringLiteral("300.00"));
        EXPECT_TRUE(page->GetDlgItem(1347)->isEnabled());
        EXPECT_FALSE(page->GetDlgItem(1307)->isEnabled());
        page->Item<QAbstractButton>(1346)->click();
        EXPECT_FALSE(page->GetDlgItem(1347)->isEnabled());
        EXPECT_TRUE(page->GetDlgItem(1307)->isEnabled());
        SetWindowText(page->GetDlgItem(1307), QStringLiteral("450"));
        page->OnUnitsEditChanged();
        EXPECT_EQ(GetWindowText(page->GetDlgItem(1347)), QStringLiteral("3.00"));
        page->Item<QAbstractButton>(1344)->click();
        for (int id : {1348, 1345, 1346, 1347, 1307})
            EXPECT_FALSE(page->GetDlgItem(id)->isEnabled()) << id;
        sheet.OnCancel();
        return sheet.result();
    });
}

// Project > Preferences: every tab shows its whole caption inside the tab
// bar, with no scroll arrows, on whichever page the sheet is shown.
TEST_F(Preferences, EveryTabShowsItsWholeCaption)
{
    NewProject();
    RunDialogCommand<CPropertySheet>(dialogs, [this] { MenuCommand(32887); }, [](CPropertySheet& sheet) {
        QTabBar* bar = sheet.GetTabControl()->tabBar();
        ASSERT_EQ(bar->count(), 8);
        for (int page = 0; page < bar->count(); ++page) {
            QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(page).center());
            EXPECT_EQ(sheet.GetActiveIndex(), page);
            for (int i = 0; i < bar->count(); ++i) {
                SCOPED_TRACE(bar->tabText(i).toStdString() + " on page " + std::to_string(page));
                const QRect tab = bar->tabRect(i);
                EXPECT_TRUE(bar->rect().contains(tab)) << tab.x() << "+" << tab.width() << " of " << bar->width();
                EXPECT_LT(bar->fontMetrics().horizontalAdvance(bar->tabText(i)), tab.width());
            }
            for (const QToolButton* arrow : bar->findChildren<QToolButton*>())
                EXPECT_FALSE(arrow->isVisible());
            EXPECT_TRUE(sheet.geometry().width() <= sheet.screen()->availableGeometry().width());
            ExpectWholeAndSave(sheet, QStringLiteral("/PreferencesPage%1.png").arg(page));
        }
    });
}

TEST_F(Preferences, ColourSwatchesAndTheColourDialog)
{
    NewProject();
    QColor offered;
    SetColourDialogHook([&](QWidget*, QColor& colour) {
        offered = colour;
        colour = QColor(10, 20, 30);
        return true;
    });
    RunSheet(1, [&](CPropertySheet& sheet) {
        CPropertyPage* page = sheet.GetPage(1);
        sheet.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&sheet));
        QWidget* swatch = page->GetDlgItem(1212);
        const QImage picture = swatch->grab().toImage();
        EXPECT_EQ(picture.pixelColor(picture.width() / 2, picture.height() / 2), QColor(0, 255, 255));
        ExpectWholeAndSave(*page, "/ImagePreferences.png");
        page->Item<QAbstractButton>(1241)->click();
        sheet.hide();
        sheet.OnOK();
        return sheet.result();
    });
    SetColourDialogHook(nullptr);
    EXPECT_EQ(offered, QColor(255, 255, 0));
    EXPECT_EQ(doc->residualVectorColour, MakeColour(10, 20, 30));
    EXPECT_EQ(doc->fiducialColour, MakeColour(0, 255, 255));
}

// The labels of the combo box and, for each, the images listed.
std::vector<std::pair<QString, QStringList>> ReadPointStatus(CPointStatusDlg& d)
{
    std::vector<std::pair<QString, QStringList>> rows;
    for (int i = 0; i < d.m_LabelCombo->count(); ++i) {
        d.m_LabelCombo->setCurrentIndex(i);
        QStringList names;
        for (int k = 0; k < d.m_ImageList->count(); ++k)
            names << d.m_ImageList->item(k)->text();
        rows.emplace_back(d.m_LabelCombo->itemText(i), names);
    }
    return rows;
}

TEST_F(Preferences, PointStatusListsTheImagesOfEachLabel)
{
    NewProject();
    using Rows = std::vector<std::pair<QString, QStringList>>;
    Rows empty;
    dialogs.push_back([&](CDialog& d) {
        EXPECT_EQ(d.windowTitle(), QStringLiteral("Point Status"));
        empty = ReadPointStatus(dynamic_cast<CPointStatusDlg&>(d));
        return int(QDialog::Accepted);
    });
    doc->OnCmdMsg(33084, nullptr);
    EXPECT_TRUE(empty.empty());

    AddCamera(*doc, "Cam");
    AddImage(*doc, {"Cam", true, true, 3});   // P1 P2 P3
    CProjectImage* second = AddImage(*doc, {"Cam", true, true, 1});
    CImageObservation off(CNameBuffer("Q9"), 0.5, 0.5);
    off.disabled = true;
    second->targets.AddSorted(off);
    AddImage(*doc, {"Cam", true, true, 4, 2});   // P1, P2 disabled; P3 P4
    Rows rows;
    dialogs.push_back([&](CDialog& d) {
        rows = ReadPointStatus(dynamic_cast<CPointStatusDlg&>(d));
        return int(QDialog::Accepted);
    });
    doc->OnCmdMsg(33084, nullptr);
    const Rows want = {{"P1", {"Image1", "Image2"}},
                       {"P2", {"Image1"}},
                       {"P3", {"Image1", "Image3"}},
                       {"P4", {"Image3"}}};
    EXPECT_EQ(rows, want);
}

TEST_F(Preferences, PointStatusOfTheSample)
{
    ASSERT_TRUE(Start({QStringLiteral("--nosplash"), WriteSample()}));
    doc = GetActiveKestrelonDoc();
    ASSERT_NE(doc, nullptr);
    dialogs.push_back([](CDialog& d) {
        auto& status = dynamic_cast<CPointStatusDlg&>(d);
        EXPECT_GT(status.m_LabelCombo->count(), 0);
        EXPECT_EQ(status.m_LabelCombo->currentIndex(), -1);
        status.m_LabelCombo->setCurrentIndex(0);
        EXPECT_GT(status.m_ImageList->count(), 1);
        status.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&status));
        ExpectWholeAndSave(status, "/PointStatus.png");
        status.OnOK();
        return status.result();
    });
    doc->OnCmdMsg(33084, nullptr);
    EXPECT_TRUE(dialogs.empty());
}

} // namespace
