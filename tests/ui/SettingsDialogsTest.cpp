// The adjustment, rejection-limit, centroid and measure-new-point dialogs
// driven through their controls.
#include "ShellFixture.h"
#include "WholeTexts.h"

#include "CentroidSettings.h"
#include "KestrelonDoc.h"
#include "MeasurementDialogs.h"
#include "MeasurementTool.h"
#include "SettingsDialogs.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>

#include <cmath>

namespace {

class SettingsDialogs : public ShellFixture {
protected:
    void NewProject()
    {
        ASSERT_NO_FATAL_FAILURE(ShellFixture::NewProject());
        doc->SetModifiedFlag(false);
    }
    static QString Text(CDialog& d, int id) { return d.Item<QLineEdit>(id)->text(); }
    static void SetText(CDialog& d, int id, const QString& text) { d.Item<QLineEdit>(id)->setText(text); }
    static void Picture(CDialog& d, const char* name)
    {
        d.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
        ExpectWholeAndSave(d, QStringLiteral("/") + name);
    }
};

TEST_F(SettingsDialogs, AdjustmentControlsShowThousandthsAndStoreThemBack)
{
    NewProject();
    struct Field {
        int id;
        const char* shown;   // with the new-project settings
        double* stored;
        double factor;       // stored = entered x factor
    };
    CProjectSettings& s = doc->settings;
    double iterations[4] = {};
    const Field fields[] = {
        {1102, "0.005", &s.convergenceLimit, 0.001},
        {1117, "10", &iterations[0], 1},
        {1120, "100", &s.rejectionLimit, 0.001},
        {1119, "20", &iterations[1], 1},
        {1116, "0.01", &s.triangulationConvergenceLimit, 0.001},
        {1105, "0.1", &s.resectionConvergenceLimit, 0.001},
        {1106, "30", &iterations[2], 1},
        {1104, "1500", &s.resectionRejectionLimit, 0.001},
        {1149, "0.0005", &s.defaultImageSigma, 1},
        {1182, "2", &iterations[3], 1},
    };
    dialogs.push_back([&](CDialog& d) {
        for (const Field& f : fields)
            EXPECT_EQ(Text(d, f.id), QString::fromLatin1(f.shown)) << f.id;
        EXPECT_TRUE(d.GetDlgItem(1103)->isHidden());   // no scale bars
        EXPECT_TRUE(d.GetDlgItem(1123)->isHidden());   // no control set
        for (int id : {1405, 1324, 1325})
            EXPECT_FALSE(d.GetDlgItem(id)->isEnabled());
        Picture(d, "AdjustmentControlVariables.png");
        for (int i = 0; i < 10; ++i)
            SetText(d, fields[i].id, QString::number(i + 3));
        d.Item<QAbstractButton>(1183)->setChecked(true);
        d.OnOK();
        return d.result();
    });
    doc->OnCmdMsg(32873, nullptr);
    ASSERT_TRUE(dialogs.empty());
    iterations[0] = s.maxIterations;
    iterations[1] = s.triangulationMaxIterations;
    iterations[2] = s.resectionMaxIterations;
    iterations[3] = s.minimumRays;
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(*fields[i].stored, (i + 3) * fields[i].factor) << fields[i].id;
    EXPECT_TRUE(s.keepRejectionLimitFixed);
    EXPECT_TRUE(doc->IsModified());
}

TEST_F(SettingsDialogs, RejectionCriteriaStayAfterCancel)
{
    NewProject();
    dialogs.push_back([this](CDialog& d) {
        dialogs.push_back([](CDialog& inner) {
            EXPECT_EQ(inner.Item<QLineEdit>(1686)->text(), QStringLiteral("0.0005"));
            EXPECT_EQ(inner.Item<QLineEdit>(1853)->text(), QStringLiteral("3"));
            inner.Item<QLineEdit>(1686)->setText(QStringLiteral("0.25"));
            inner.Item<QLineEdit>(1853)->setText(QStringLiteral("4.5"));
            inner.OnOK();
            return inner.result();
        });
        d.Item<QAbstractButton>(1184)->click();
        d.OnCancel();
        return d.result();
    });
    doc->OnCmdMsg(32873, nullptr);
    EXPECT_EQ(doc->settings.rejectionOffset, 0.25);
    EXPECT_EQ(doc->settings.rejectionFactor, 4.5);
    EXPECT_TRUE(doc->IsModified());
}

TEST_F(SettingsDialogs, CentroidRefusesValuesOutOfRange)
{
    NewProject();
    struct Case {
        int id;
        const char* text;
        bool accepted;
    };
    const Case cases[] = {
        {1164, "1", false}, {1164, "129", false}, {1566, "65", false}, {1762, "3", false},
        {1568, "256", false}, {1164, "2", true}, {1164, "128", true},
    };
    GetCentroidSettings() = CCentroidSettings();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const CCentroidSettings before = GetCentroidSettings();
        dialogs.push_back([&](CDialog& d) {
            SetText(d, c.id, QString::fromLatin1(c.text));
            d.OnOK();
            return d.result();
        });
        doc->OnCmdMsg(32789, nullptr);
        const auto messages = TakeMessages();
        if (c.accepted) {
            EXPECT_TRUE(messages.empty());
            EXPECT_EQ(GetCentroidSettings().windowSize, std::atoi(c.text));
        } else {
            ASSERT_EQ(messages.size(), 1u);
            EXPECT_NE(messages[0].find("between"), std::string::npos);
            EXPECT_TRUE(GetCentroidSettings() == before);
        }
    }
}

TEST_F(SettingsDialogs, CentroidShowsOnlyTheFieldsTheSettingsUse)
{
    ASSERT_TRUE(Start());
    struct Case {
        char shape, method;
        int shapeTesting;
        bool ratio, shapeBox, btValue;   // shown
        char storedShape, storedMethod;  // after OK
    };
    const Case cases[] = {
        {'c', 'b', 1, true, true, true, 'c', 'b'},
        {'c', 'r', 0, false, true, false, 'c', 'r'},
        {'h', 's', 1, false, false, true, 'h', 's'},
        {'p', 'w', 1, false, false, false, 'p', 'w'},
        {'x', 'q', 1, false, false, false, 'c', 'r'},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(1, c.shape) + c.method);
        CCentroidSettings& s = GetCentroidSettings();
        s.targetType = c.shape;
        s.thresholdMethod = c.method;
        s.shapeTesting = std::uint8_t(c.shapeTesting);
        CCentroidParametersDlg d;
        ASSERT_TRUE(d.OnInitDialog());
        EXPECT_EQ(!d.GetDlgItem(1570)->isHidden(), c.ratio);
        EXPECT_EQ(!d.GetDlgItem(1569)->isHidden(), c.ratio);
        EXPECT_EQ(!d.GetDlgItem(1571)->isHidden(), c.shapeBox);
        EXPECT_EQ(!d.GetDlgItem(1756)->isHidden(), c.btValue);
        EXPECT_EQ(!d.GetDlgItem(1161)->isHidden(), c.btValue);
        if (c.shape == 'c' && c.method == 'b')
            Picture(d, "CentroidCalculationParameters.png");
        d.OnOK();
        EXPECT_EQ(s.targetType, c.storedShape);
        EXPECT_EQ(s.thresholdMethod, c.storedMethod);
    }
    // Selections change what is shown.
    CCentroidParametersDlg d;
    d.OnInitDialog();
    const int methods[] = {1, 0, 3, 2};
    for (int m : methods) {
        d.Item<QComboBox>(1160)->setCurrentIndex(m);
        d.OnBackgroundThresholdChanged();
        EXPECT_EQ(!d.GetDlgItem(1756)->isHidden(), m == 0 || m == 2) << m;
    }
    d.Item<QComboBox>(1757)->setCurrentIndex(1);
    d.OnImageShapeChanged();
    EXPECT_TRUE(d.GetDlgItem(1571)->isHidden());
    d.Item<QComboBox>(1757)->setCurrentIndex(0);
    d.OnImageShapeChanged();
    EXPECT_FALSE(d.GetDlgItem(1571)->isHidden());
}

TEST_F(SettingsDialogs, MeasureNewPointAnswersYesOrNo)
{
    ASSERT_TRUE(Start());
    struct Case {
        int button;        // 1 Yes, 2 No, 0 Escape
        bool untick;
        int result;
        int replace;
    };
    const Case cases[] = {{1, false, QDialog::Accepted, 1}, {1, true, QDialog::Accepted, 0},
                          {2, false, QDialog::Rejected, 1}, {0, false, QDialog::Rejected, 1}};
    for (const Case& c : cases) {
        dialogs.push_back([&](CDialog& d) {
            d.show();
            EXPECT_EQ(d.windowTitle(), QStringLiteral("Kestrelon - Measure New Point"));
            EXPECT_TRUE(QTest::qWaitForWindowExposed(&d));
            ExpectWholeAndSave(d, "/MeasureNewPoint.png");
            if (c.untick)
                d.Item<QAbstractButton>(1323)->click();
            if (c.button)
                d.Item<QAbstractButton>(c.button)->click();
            else
                QTest::keyClick(&d, Qt::Key_Escape);
            return d.result();
        });
        CMeasureNewPointDlg dialog;
        EXPECT_EQ(dialog.DoModal(), c.result) << c.button;
        EXPECT_EQ(dialog.m_bReplaceOld, c.replace) << c.button;
    }
}

TEST_F(SettingsDialogs, MeasuringAsksThroughTheMeasureNewPointDialog)
{
    ASSERT_TRUE(Start());
    struct Case {
        bool untick;
        int button; // 1 Yes, 2 No
        int answer;
        bool replace;
    };
    const Case cases[] = {{false, 1, IDYES, true}, {true, 1, IDYES, false}, {true, 2, IDNO, true}};
    for (const Case& c : cases) {
        dialogs.push_back([&](CDialog& d) {
            d.show();
            EXPECT_EQ(d.windowTitle(), QStringLiteral("Kestrelon - Measure New Point"));
            EXPECT_TRUE(d.Item<QAbstractButton>(1323)->isChecked());
            if (c.untick)
                d.Item<QAbstractButton>(1323)->click();
            d.Item<QAbstractButton>(c.button)->click();
            return d.result();
        });
        bool replace = true;
        EXPECT_EQ(AskMeasureNewPoint(replace), c.answer) << c.button;
        EXPECT_EQ(replace, c.replace) << c.button;
    }
    Stop();
    bool replace = true;
    EXPECT_EQ(AskMeasureNewPoint(replace), IDNO) << "no dialog without the application";
}

} // namespace
