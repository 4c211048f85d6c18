// "Re-label Points along Line" over three selected points of a displayed
// set: the order along the line in each direction, the refusals, and the
// observations that follow on request.
#include "ShellFixture.h"
#include "WholeTexts.h"

#include "KestrelonDoc.h"
#include "PointRelabelDialog.h"
#include "PointSet.h"
#include "ProjectBuilder.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace {

struct Xyz {
    double x, y, z;
};

class PointRelabel : public ShellFixture {
protected:
    void SetUp() override
    {
        ShellFixture::SetUp();
        ASSERT_NO_FATAL_FAILURE(NewProject());
    }
};

// Label of each observation of the image with its x, in list order.
std::vector<std::pair<std::string, double>> Observations(const CProjectImage& image)
{
    std::vector<std::pair<std::string, double>> out;
    for (int i = 0; i < image.targets.GetSize(); ++i)
        out.emplace_back(image.targets.GetAt(i)->label.GetText(), image.targets.GetAt(i)->x);
    return out;
}

} // namespace

TEST_F(PointRelabel, PointsAreLabelledInTheirOrderAlongTheLine)
{
    const Xyz alongX[3] = {{2, 0.1, 0}, {0, 0, 0}, {1, -0.1, 0}};   // P1, P2, P3
    const Xyz alongY[3] = {{0.1, 5, 1}, {0, 7, 1}, {-0.1, 6, 1}};
    struct Case {
        const char* what;
        const Xyz* points;
        int orientation; // expected on opening
        int order;       // radio index within the orientation's group
        const char* start;
        int increment;
        bool observations;
        const char* message;                 // refusal
        std::map<std::string, std::string> renamed; // old label -> new label
    };
    const Case cases[] = {
        {"left to right", alongX, 0, 0, "T1", 1, false, nullptr, {{"P2", "T1"}, {"P3", "T2"}, {"P1", "T3"}}},
        {"right to left", alongX, 0, 1, "T1", 1, false, nullptr, {{"P1", "T1"}, {"P3", "T2"}, {"P2", "T3"}}},
        {"top to bottom", alongY, 1, 0, "T10", 5, false, nullptr, {{"P2", "T10"}, {"P3", "T15"}, {"P1", "T20"}}},
        {"bottom to top", alongY, 1, 1, "T10", -1, false, nullptr, {{"P1", "T10"}, {"P3", "T9"}, {"P2", "T8"}}},
        {"swapped within the selection", alongX, 0, 0, "P1", 1, false, nullptr,
         {{"P2", "P1"}, {"P3", "P2"}, {"P1", "P3"}}},
        {"observations too", alongX, 0, 0, "Q1", 1, true, nullptr, {{"P2", "Q1"}, {"P3", "Q2"}, {"P1", "Q3"}}},
        {"label of a point outside", alongX, 0, 0, "P3", 1, false, "Pointlabel P4 already in use!", {}},
        {"increment 0", alongX, 0, 0, "T1", 0, false, "The label increment must not be 0", {}},
        {"invalid start label", alongX, 0, 0, "T 1", 1, false, "Invalid start label T 1", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        doc->pointSets.RemoveAll();
        doc->images.DeleteAll();
        CPointSet* shown = AddPointSet(*doc, "/tmp/Shown.xyz");
        CPointSet selection;
        for (int i = 0; i < 3; ++i) {
            const CObjectPoint p(("P" + std::to_string(i + 1)).c_str(), c.points[i].x, c.points[i].y, c.points[i].z);
            shown->AddPointSorted(p);
            selection.AddPointSorted(p);
        }
        shown->AddPointSorted(CObjectPoint("P4", 100.0, 100.0, 100.0));
        AddCamera(*doc, "Cam");
        CProjectImage* image = AddImage(*doc, {"Cam", true, true, 4}); // P1..P4, x = 0.1 * (n - 1)
        const auto observationsBefore = Observations(*image);
        CRelabelMemory memory;
        memory.startLabel = "A7";
        memory.increment = 3;

        dialogs.push_back([&](CDialog& base) {
            auto& d = dynamic_cast<CPointRelabelExDlg&>(base);
            d.show();
            EXPECT_TRUE(QTest::qWaitForWindowExposed(&d));
            EXPECT_EQ(GetWindowText(d.GetDlgItem(CPointRelabelExDlg::kPoints)).toStdString(), "P1, P2, P3");
            EXPECT_EQ(GetWindowText(d.GetDlgItem(CPointRelabelExDlg::kStartLabel)).toStdString(), "A7");
            ExpectWholeAndSave(d, "/RelabelPointsAlongLine.png");
            EXPECT_EQ(d.Item<QRadioButton>(CPointRelabelExDlg::kVertical)->isChecked(), c.orientation == 1);
            EXPECT_EQ(d.GetDlgItem(CPointRelabelExDlg::kLeftToRight)->isEnabled(), c.orientation == 0);
            EXPECT_EQ(d.GetDlgItem(CPointRelabelExDlg::kTopToBottom)->isEnabled(), c.orientation == 1);
            const int first = c.orientation == 0 ? CPointRelabelExDlg::kLeftToRight : CPointRelabelExDlg::kTopToBottom;
            d.Item<QAbstractButton>(first + c.order)->click();
            if (c.observations)
                d.Item<QAbstractButton>(CPointRelabelExDlg::kObservations)->click();
            Type(d, CPointRelabelExDlg::kStartLabel, QString::fromLatin1(c.start));
            Type(d, CPointRelabelExDlg::kIncrement, QString::number(c.increment));
            return ClickOk(d, c.message);
        });
        CPointRelabelExDlg dialog(&selection, shown, &memory);
        EXPECT_EQ(dialog.DoModal(), int(c.message ? QDialog::Rejected : QDialog::Accepted));
        ASSERT_TRUE(dialogs.empty());

        // Each old point is found under its new label at its place; the set
        // and the observations stay sorted.
        std::vector<std::string> labels;
        for (int i = 0; i < shown->GetSize(); ++i)
            labels.push_back(shown->GetAt(i)->label.GetText());
        EXPECT_TRUE(std::is_sorted(labels.begin(), labels.end(), [](const std::string& a, const std::string& b) {
            return CNameBuffer(a.c_str()) < CNameBuffer(b.c_str());
        }));
        for (int i = 0; i < 3; ++i) {
            const std::string old = "P" + std::to_string(i + 1);
            const std::string now = c.message ? old : c.renamed.at(old);
            const CObjectPoint* p = shown->FindPointByText(now.c_str());
            ASSERT_NE(p, nullptr) << now;
            EXPECT_EQ(p->x, c.points[i].x) << now;
            EXPECT_EQ(p->y, c.points[i].y) << now;
        }
        // The last label given is kept for the next run.
        EXPECT_STREQ(memory.startLabel.GetText(),
                     c.message ? "A7" : CNameBuffer(c.start).AddToNumber(2 * c.increment).GetText());
        std::vector<std::pair<std::string, double>> expected;
        for (const auto& [label, x] : observationsBefore)
            expected.emplace_back(c.observations && c.renamed.count(label) ? c.renamed.at(label) : label, x);
        std::sort(expected.begin(), expected.end(), [](const auto& a, const auto& b) {
            return CNameBuffer(a.first.c_str()) < CNameBuffer(b.first.c_str());
        });
        EXPECT_EQ(Observations(*image), expected);
    }
}
