// The scale-bar dialog (checks, switching between bars, messages of a
// rename) and the EO device dialog (duplicate names, the calibration time in
// the C locale), with a picture of the scale-bar dialog.
#include "ShellFixture.h"
#include "WholeTexts.h"

#include "DeviceDialogs.h"
#include "EODevice.h"
#include "Frames.h"
#include "KestrelonView.h"
#include "ListViews.h"
#include "KestrelonDoc.h"
#include "MessageHub.h"
#include "PointList.h"
#include "ScaleBar.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTest>

#include <clocale>
#include <string>

namespace {

struct Recorder : CMessageTarget {
    std::intptr_t OnHubMessage(unsigned message, std::uintptr_t, std::intptr_t) override
    {
        got.push_back(message);
        return 0;
    }
    std::vector<unsigned> got;
};

class DeviceDialogs : public ShellFixture {
protected:
    void NewProject()
    {
        ASSERT_NO_FATAL_FAILURE(ShellFixture::NewProject());
        for (int i = 0; i < 2; ++i) {
            CScaleBar* bar = doc->scaleBars.AddNew();
            bar->name = ("Bar" + std::to_string(i + 1)).c_str();
            bar->calibratedLength = 1000.0 + i;
            bar->standardDeviation = 0.01;
            bar->endLabel1 = "A1";
            bar->endLabel2 = "A2";
        }
        doc->SetModifiedFlag(false);
    }
    static void Set(CDialog& d, int id, const QString& text)
    {
        SetWindowText(d.GetDlgItem(id), text);
    }
    // Types into the editable name combo as a user does.
    static void TypeName(QComboBox* combo, const QString& text)
    {
        combo->lineEdit()->selectAll();
        QTest::keyClicks(combo->lineEdit(), text);
    }
};

TEST_F(DeviceDialogs, ScaleBarChecksSwitchingAndRename)
{
    NewProject();
    const char* kLength0 = "Calibration Length has to be greater than 0";
    {
        CScaleBarsDlg d(&doc->scaleBars, -1);
        d.OnInitDialog();
        EXPECT_EQ(d.NameCombo()->currentText(), QStringLiteral("Bar1"));
        Set(d, 1078, QStringLiteral("0"));
        d.OnOK();
        EXPECT_EQ(TakeMessages(), std::vector<std::string>{kLength0});
        EXPECT_EQ(d.result(), 0);
        EXPECT_EQ(doc->scaleBars.GetAt(0)->calibratedLength, 1000.0);
        QDir().mkpath(TestOutputFolder());
        d.resize(420, 330);
        ExpectWholeAndSave(d, "/ScaleBarsDialog.png");
    }
    // A changed length (and a typed name), then the other bar: each answer.
    const struct {
        int answer;
        int shownAfter;
        double firstLength;
        const char* firstName;
    } switches[] = {{IDCANCEL, 0, 1000.0, "Bar1"}, {IDNO, 1, 1000.0, "Bar1"}, {IDYES, 1, 7.5, "Renamed"}};
    for (const auto& c : switches) {
        CScaleBarsDlg d(&doc->scaleBars, 0);
        d.OnInitDialog();
        Set(d, 1078, QStringLiteral("7.5"));
        TypeName(d.NameCombo(), QStringLiteral("Renamed"));
        answers.push_back(c.answer);
        d.NameCombo()->setCurrentIndex(1);
        EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Save changed Values?"}) << c.answer;
        EXPECT_EQ(d.m_nCurrent, c.shownAfter) << c.answer;
        EXPECT_EQ(d.NameCombo()->currentIndex(), c.shownAfter) << c.answer;
        EXPECT_EQ(doc->scaleBars.GetAt(0)->calibratedLength, c.firstLength) << c.answer;
        EXPECT_STREQ(doc->scaleBars.GetAt(0)->name.GetText(), c.firstName) << c.answer;
        if (c.answer == IDCANCEL)
            EXPECT_EQ(d.NameCombo()->currentText(), QStringLiteral("Renamed"));
        else
            EXPECT_EQ(GetWindowText(d.GetDlgItem(1078)), QStringLiteral("1001"));
    }

    // Renaming a project bar and OK: both messages, the project modified.
    Recorder recorder;
    SetHubMainTarget(&recorder);
    doc->SetModifiedFlag(false);
    {
        CScaleBarsDlg d(&doc->scaleBars, 1);
        d.OnInitDialog();
        TypeName(d.NameCombo(), QStringLiteral("Renamed"));
        d.OnOK();
        EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Scalebar name already used. Change name!"});
        TypeName(d.NameCombo(), QStringLiteral("Long Bar"));
        Set(d, 1080, QStringLiteral("b7"));
        d.OnOK();
        EXPECT_EQ(d.result(), int(QDialog::Accepted));
        EXPECT_TRUE(d.WasInitialBarSaved());
    }
    SetHubMainTarget(Frame());
    EXPECT_EQ(recorder.got, (std::vector<unsigned>{UM_REFRESH_PROJECT_SCALEBARS, UM_REFRESH_SCALEBAR_LIST}));
    EXPECT_STREQ(doc->scaleBars.GetAt(1)->name.GetText(), "Long Bar");
    EXPECT_STREQ(doc->scaleBars.GetAt(1)->endLabel2.GetText(), "B7");
    EXPECT_TRUE(doc->IsModified());

    // A double-click in the database list opens the dialog on that row's bar.
    for (const char* name : {"DbBar1", "DbBar2"}) {
        CScaleBar* bar = app->scaleBarDatabase.AddNew();
        bar->name = name;
    }
    CKestrelonView* tree = Frame()->GetProjectTreeView();
    tree->OnClickItem(tree->ScaleBarDatabase());
    Settle();
    auto* frame = dynamic_cast<CProjectFrame*>(tree->GetParentFrame());
    auto* bars = frame ? dynamic_cast<CDBaseScalebarsListView*>(frame->GetRightPane()) : nullptr;
    ASSERT_NE(bars, nullptr);
    const int row = bars->RowCount() - 1;
    QString shown;
    dialogs.push_back([&](CDialog& d) {
        shown = dynamic_cast<CScaleBarsDlg&>(d).NameCombo()->currentText();
        return int(QDialog::Rejected);
    });
    bars->OpenScaleBar(row);
    EXPECT_EQ(shown, bars->CellText(row, 0));
    EXPECT_EQ(shown, QStringLiteral("DbBar2"));
}

TEST_F(DeviceDialogs, EODeviceNamesAndCalibrationTime)
{
    ASSERT_TRUE(Start());
    CEODeviceList& list = app->eoDeviceDatabase;
    for (const char* name : {"DevA", "DevB"}) {
        CEODevice* device = list.AddNew();
        device->SetName(name);
        device->AddPointSorted(CObjectPoint("T1", 1.0, 2.0, 3.0));
    }
    CEODevice* devA = list.FindByName("DevA");
    ASSERT_NE(devA, nullptr);
    // Each name typed before OK: whether the dialog ends.
    const struct {
        const char* name;
        bool ends;
    } cases[] = {{"DevB", false}, {"DevA", true}};
    for (const auto& c : cases) {
        CEODevicePropertiesDlg d(devA, &list);
        d.OnInitDialog();
        EXPECT_EQ(d.m_PointList->ColumnCount(), 4);
        EXPECT_EQ(d.m_ShapeCombo->currentText(), QStringLiteral("No shape testing"));
        TypeName(d.m_NameCombo, QString::fromLatin1(c.name));
        d.OnOK();
        EXPECT_EQ(d.result() == QDialog::Accepted, c.ends) << c.name;
        EXPECT_EQ(TakeMessages(), c.ends ? std::vector<std::string>{}
                                         : std::vector<std::string>{"EO Device name already used. Change name!"});
        EXPECT_EQ(d.WasChanged(), c.ends);
    }

    // The calibration time keeps English month names under a German locale.
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr)
        GTEST_SKIP() << "no German locale installed";
    CEODevicePropertiesDlg d(devA, &list);
    d.OnInitDialog();
    d.OnSetToCurrent();
    const QString time = GetWindowText(d.GetDlgItem(1374));
    std::setlocale(LC_ALL, saved.c_str());
    const QRegularExpression form(QStringLiteral("^\\d\\d (January|February|March|April|May|June|July|August|"
                                                 "September|October|November|December), \\d{4}   \\d\\d:\\d\\d:\\d\\d$"));
    EXPECT_TRUE(form.match(time).hasMatch()) << time.toStdString();
}

} // namespace
