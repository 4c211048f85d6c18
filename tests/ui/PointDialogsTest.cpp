// "Edit 3D Point", the label prompts and the distance box, driven through
// their controls.
#include "ShellFixture.h"
#include "WholeTexts.h"

#include "KestrelonDoc.h"
#include "PointDialogs.h"
#include "PointSet.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QTest>

#include <cmath>
#include <functional>
#include <memory>
#include <string>

namespace {

class PointDialogs : public ShellFixture {
protected:
    void SetUp() override
    {
        ShellFixture::SetUp();
        ASSERT_NO_FATAL_FAILURE(NewProject());
    }
};

std::string Text(CDialog& d, int id)
{
    return GetWindowText(d.GetDlgItem(id)).toStdString();
}

} // namespace

// Control points show their a-priori sigmas, others the roots of the
// covariance diagonal; OK writes only what was typed, so an untouched
// covariance keeps its correlations; a label of another point, or a text
// that is not a label, is refused.
TEST_F(PointDialogs, EditPointWritesBackOnlyWhatChanged)
{
    struct Case {
        const char* what;
        bool control;
        const char* label;    // typed label
        const char* sigmaX;   // typed sigma X, null: untouched
        const char* message;  // refusal, null: OK closes
    };
    const Case cases[] = {
        {"control point, untouched", true, "p1", nullptr, nullptr},
        {"adjusted point renamed", false, "p1", nullptr, nullptr},
        {"adjusted point, new sigma X", false, "P1", "0.5", nullptr},
        {"control point, new sigma X", true, "P1", "0.5", nullptr},
        {"label of another point", false, "p2", nullptr, "Pointlabel P2 already in use!"},
        {"label of 17 characters", false, "ABCDEFGHIJKLMNOPQ", nullptr,
         "Invalid point label ABCDEFGHIJKLMNOPQ\nA point label has at most 16 characters: letters, digits, _ and -."},
        {"label with a dot", true, "p.1", nullptr,
         "Invalid point label p.1\nA point label has at most 16 characters: letters, digits, _ and -."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CPointSet set;
        set.AddPointSorted(CObjectPoint("P2", 0.0, 0.0, 0.0));
        CObjectPoint original("Q1", 1.25, -2.5, 3.125);
        original.aprioriSigma[0] = 0.002, original.aprioriSigma[1] = 0.003, original.aprioriSigma[2] = 0.004;
        const double cov[3][3] = {{0.09, 0.01, -0.02}, {0.01, 0.16, 0.03}, {-0.02, 0.03, 0.25}};
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                original.covariance.SetAt(cov[i][j], i, j);
        CObjectPoint* point = set.GetAt(set.AddPointSorted(original));
        dialogs.push_back([&](CDialog& d) {
            d.show();
            EXPECT_TRUE(QTest::qWaitForWindowExposed(&d));
            const double expected[3] = {c.control ? 0.002 : 0.3, c.control ? 0.003 : 0.4, c.control ? 0.004 : 0.5};
            const int ids[3] = {CEdit3DPointDlg::kSigmaX, CEdit3DPointDlg::kSigmaY, CEdit3DPointDlg::kSigmaZ};
            for (int i = 0; i < 3; ++i)
                EXPECT_NEAR(std::stod(Text(d, ids[i])), expected[i], 1e-14);
            EXPECT_EQ(Text(d, CEdit3DPointDlg::kLabel), "Q1");
            Type(d, CEdit3DPointDlg::kLabel, QString::fromLatin1(c.label));
            if (c.sigmaX)
                Type(d, CEdit3DPointDlg::kSigmaX, QString::fromLatin1(c.sigmaX));
            return ClickOk(d, c.message);
        });
        CEdit3DPointDlg dialog(point, c.control, nullptr, &set);
        EXPECT_EQ(dialog.DoModal(), int(c.message ? QDialog::Rejected : QDialog::Accepted));
        ASSERT_TRUE(dialogs.empty());
        EXPECT_STREQ(point->label.GetText(), c.message ? "Q1" : "P1");
        EXPECT_EQ(point->x, original.x);
        EXPECT_EQ(point->z, original.z);
        const bool sigmaWritten = c.sigmaX && !c.message;
        EXPECT_EQ(point->aprioriSigma[0], sigmaWritten && c.control ? 0.5 : 0.002);
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) {
                double want = cov[i][j];
                if (sigmaWritten && !c.control && (i == 0 || j == 0))
                    want = i == j ? 0.25 : 0.0; // row and column: still symmetric
                EXPECT_EQ(point->covariance.GetAt(i, j), want) << i << j;
            }
    }
}

// The three prompts hand back the typed label; the distance box shows the
// distance, its title with the first point first, and the project unit.
TEST_F(PointDialogs, PromptsAndDistance)
{
    struct Prompt {
        std::function<std::unique_ptr<CPointLabelDlg>()> make;
        const char* caption;
        int edit;
    };
    const Prompt prompts[] = {
        {[] { return std::make_unique<CEpipolarPointDlg>(); }, "Enter Point for Epipolar Lines",
         CEpipolarPointDlg::kLabel},
        {[] { return std::make_unique<CDeletePointDlg>(); }, "Delete Point", CDeletePointDlg::kLabel},
        {[] { return std::make_unique<CHighlightPointDlg>(); }, "Highlight Point", CHighlightPointDlg::kLabel},
    };
    for (const Prompt& p : prompts) {
        SCOPED_TRACE(p.caption);
        dialogs.push_back([&](CDialog& d) {
            d.show();
            EXPECT_TRUE(QTest::qWaitForWindowExposed(&d));
            ExpectWholeAndSave(d, QStringLiteral("/%1.png").arg(QString::fromLatin1(p.caption).remove(QLatin1Char(' '))));
            EXPECT_EQ(d.windowTitle().toStdString(), p.caption);
            EXPECT_EQ(Text(d, p.edit), "");
            Type(d, p.edit, QStringLiteral("T17"));
            d.Item<QAbstractButton>(IDOK)->click();
            return d.result();
        });
        auto dialog = p.make();
        EXPECT_EQ(dialog->DoModal(), int(QDialog::Accepted));
        EXPECT_EQ(dialog->label.toStdString(), "T17");
    }

    // Labels of the longest kind: the title still shows whole.
    CObjectPoint a("A", 0.0, 0.0, 0.0), b("B", 3.0, 4.0, 0.0);
    CObjectPoint longA("MMMMMMMMMMMMMMMM", 0.0, 0.0, 0.0), longB("WWWWWWWWWWWWWWWW", 3.0, 4.0, 0.0);
    dialogs.push_back([&](CDialog& d) {
        d.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&d));
        ExpectWholeAndSave(d, "/DistanceLongLabels.png");
        return int(QDialog::Accepted);
    });
    CDistanceDlg longest(&longA, &longB);
    EXPECT_EQ(longest.DoModal(), int(QDialog::Accepted));
    dialogs.push_back([&](CDialog& d) {
        d.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&d));
        EXPECT_EQ(Text(d, CDistanceDlg::kTitle), "Distance From Point A to Point B");
        EXPECT_EQ(Text(d, CDistanceDlg::kDistance), "5.0000");
        EXPECT_EQ(Text(d, CDistanceDlg::kUnit), doc->GetUnitName(false).GetText());
        EXPECT_FALSE(Text(d, CDistanceDlg::kUnit).empty());
        ExpectWholeAndSave(d, "/Distance.png");
        d.Item<QAbstractButton>(IDOK)->click();
        return d.result();
    });
    CDistanceDlg distance(&a, &b);
    EXPECT_EQ(distance.DoModal(), int(QDialog::Accepted));
    // A missing point leaves the fields empty.
    dialogs.push_back([&](CDialog& d) {
        EXPECT_EQ(Text(d, CDistanceDlg::kTitle) + Text(d, CDistanceDlg::kDistance), "");
        return int(QDialog::Accepted);
    });
    CDistanceDlg missing(&a, nullptr);
    EXPECT_EQ(missing.DoModal(), int(QDialog::Accepted));
}
