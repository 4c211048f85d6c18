// The "3-2-1..." dialog driven through its controls: the rules between the
// direction boxes, the refusals, and what OK does to the point set and to
// the image poses, checked against where the chosen frame must put the
// three points.
#include "ShellFixture.h"
#include "WholeTexts.h"

#include "321Dialog.h"
#include "KestrelonDoc.h"
#include "PointSet.h"
#include "ProjectBuilder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QTest>

#include <newmat/newmat.h>

#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Matrix4 = std::array<std::array<double, 4>, 4>;

// Records what the dialog asks of the 3D view.
class FakePreview : public C321Preview {
public:
    void SetPreviewFlag(std::uint8_t value) override { flag = value; }
    void SetPreviewMatrix(const NEWMAT::Matrix& t) override
    {
        ++matrices;
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j)
                matrix[i][j] = t(i + 1, j + 1);
    }
    void InvalidatePreview() override { ++repaints; }

    std::uint8_t flag = 0;
    int matrices = 0;
    int repaints = 0;
    Matrix4 matrix{};
};

struct Pose {
    double X[3];
    double R[3][3];
};

Pose PoseOf(const CProjectImage& image)
{
    Pose p{{image.X, image.Y, image.Z}, {}};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            p.R[i][j] = image.rotation.GetAt(i, j);
    return p;
}

struct Choice {
    int letter; // 0, 1, 2 for X, Y, Z
    int sign;
};

class ThreeTwoOneDialogTest : public ShellFixture {
protected:
    void SetUp() override
    {
        ShellFixture::SetUp();
        ASSERT_NO_FATAL_FAILURE(NewProject());
        set = AddPointSet(*doc, "/tmp/Points.xyz");
        const struct {
            const char* label;
            double x, y, z;
        } points[] = {
            {"P1", 10.0, -4.0, 2.5}, {"P2", 13.0, 1.0, -1.0}, {"P3", 6.0, 3.5, 4.0}, {"P4", -2.0, 8.0, 1.0},
            {"Q1", 10.0, -4.0, 2.5}, // at P1's place
            {"L1", 0.0, 0.0, 0.0},   {"L2", 1.0, 2.0, 3.0}, {"L3", -2.0, -4.0, -6.0}, // on one line
        };
        for (const auto& p : points)
            set->AddPointSorted(CObjectPoint(p.label, p.x, p.y, p.z));
        AddPointSet(*doc, "/tmp/Other.xyz")->AddPointSorted(CObjectPoint("P1", 0.0, 0.0, 0.0));
        AddCamera(*doc, "Cam");
        const double poses[3][6] = {{20, 5, 30, 0.3, -0.8, 0.1}, {-15, 2, 25, 2.0, -0.5, -1.2}, {0, -20, 40, 4.0, -1.3, 2.5}};
        for (int i = 0; i < 3; ++i) {
            CProjectImage* image = AddImage(*doc, {"Cam", true, i < 2, 0});
            image->SetPose(poses[i][0], poses[i][1], poses[i][2], poses[i][3], poses[i][4], poses[i][5]);
            image->oriented = i < 2; // the third has a pose but is not oriented
        }
    }
    void TearDown() override
    {
        Set321PreviewFinder(nullptr);
        ShellFixture::TearDown();
    }

    void InstallFake()
    {
        Set321PreviewFinder([this](CKestrelonDoc* d) { return d == doc ? &fake : nullptr; });
    }

    static QComboBox* Combo(CDialog& d, int slot)
    {
        return d.Item<QComboBox>(C321Dialog::kOriginCombo + slot);
    }
    // Chooses the label in the combo with the keyboard, as a user would.
    static void Choose(CDialog& d, int slot, const char* label)
    {
        QComboBox* combo = Combo(d, slot);
        const int index = combo->findText(QString::fromLatin1(label));
        ASSERT_GE(index, 0) << label;
        if (combo->currentIndex() == index)
            return;
        QTest::keyClick(combo, Qt::Key_Home);
        while (combo->currentIndex() < index)
            QTest::keyClick(combo, Qt::Key_Down);
        ASSERT_EQ(combo->currentText(), QString::fromLatin1(label));
    }
    static QCheckBox* AxisBox(CDialog& d, Choice c)
    {
        return d.Item<QCheckBox>(C321Dialog::kAxisBoxes[c.letter + (c.sign < 0 ? 3 : 0)]);
    }
    static QCheckBox* PlaneBox(CDialog& d, Choice c)
    {
        return d.Item<QCheckBox>(C321Dialog::kPlaneBoxes[c.letter + (c.sign < 0 ? 3 : 0)]);
    }

    std::vector<std::array<double, 3>> Coordinates(CPointSet* s) const
    {
        std::vector<std::array<double, 3>> out;
        for (int i = 0; i < s->GetSize(); ++i)
            out.push_back({s->GetAt(i)->x, s->GetAt(i)->y, s->GetAt(i)->z});
        return out;
    }
    std::vector<Pose> Poses() const
    {
        std::vector<Pose> out;
        for (int i = 0; i < doc->images.GetSize(); ++i)
            out.push_back(PoseOf(*doc->images.GetAt(i)));
        return out;
    }

    CPointSet* set = nullptr;
    FakePreview fake;
};

// Exactly one box checked in each row pair, the one expected; the plane
// boxes of the axis letter disabled and the others enabled; M, once
// completed, a proper rotation with the axis and plane rows of the choices.
void ExpectState(C321Dialog& d, Choice axis, Choice plane)
{
    for (int i = 0; i < 6; ++i) {
        const int letter = i % 3, sign = i < 3 ? 1 : -1;
        const auto* a = d.Item<QCheckBox>(C321Dialog::kAxisBoxes[i]);
        const auto* p = d.Item<QCheckBox>(C321Dialog::kPlaneBoxes[i]);
        EXPECT_EQ(a->isChecked(), letter == axis.letter && sign == axis.sign) << a->text().toStdString();
        EXPECT_EQ(p->isChecked(), letter == plane.letter && sign == plane.sign) << p->text().toStdString();
        EXPECT_EQ(p->isEnabled(), letter != axis.letter) << p->text().toStdString();
    }
    EXPECT_EQ(d.GetAxisIndex(), axis.letter);
    EXPECT_EQ(d.GetPlaneIndex(), plane.letter);
    d.CompleteAxisMatrix();
    double m[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            m[i][j] = d.GetAxisMatrix(i, j);
    for (int j = 0; j < 3; ++j) {
        EXPECT_EQ(m[axis.letter][j], j == 0 ? axis.sign : 0);
        EXPECT_EQ(m[plane.letter][j], j == 1 ? plane.sign : 0);
    }
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                       m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    EXPECT_EQ(det, 1.0);
}

} // namespace

// Opening checks +X and +Y with the X plane boxes off; each click then keeps
// one box per row, and a click that takes the other row's letter moves that
// row to +Y (from X) or +X.
TEST_F(ThreeTwoOneDialogTest, DirectionBoxesFollowTheirRules)
{
    struct Step {
        const char* what;
        bool axisRow;   // a box of the axis row, else of the plane row
        Choice click;
        bool direct;    // the box is disabled: the handler is called as a click would
        Choice axis, plane;
    };
    const Step steps[] = {
        {"axis +Y while the plane is Y", true, {1, 1}, false, {1, 1}, {0, 1}},
        {"axis +Y again", true, {1, 1}, false, {1, 1}, {0, 1}},
        {"axis -Z", true, {2, -1}, false, {2, -1}, {0, 1}},
        {"plane -Y", false, {1, -1}, false, {2, -1}, {1, -1}},
        {"axis -Y while the plane is Y", true, {1, -1}, false, {1, -1}, {0, 1}},
        {"plane -Z", false, {2, -1}, false, {1, -1}, {2, -1}},
        {"axis +Z while the plane is Z", true, {2, 1}, false, {2, 1}, {0, 1}},
        {"axis +X while the plane is X", true, {0, 1}, false, {0, 1}, {1, 1}},
        {"plane X while the axis is X", false, {0, 1}, true, {1, 1}, {0, 1}},
        {"plane -X", false, {0, -1}, false, {1, 1}, {0, -1}},
        {"plane Z while the axis is Z", false, {2, 1}, false, {1, 1}, {2, 1}},
    };
    dialogs.push_back([&](CDialog& base) {
        auto& d = dynamic_cast<C321Dialog&>(base);
        ExpectState(d, {0, 1}, {1, 1});
        d.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&d));
        ExpectWholeAndSave(d, "/ThreeTwoOneDialog.png");
        for (const Step& s : steps) {
            SCOPED_TRACE(s.what);
            QCheckBox* box = s.axisRow ? AxisBox(d, s.click) : PlaneBox(d, s.click);
            EXPECT_EQ(box->isEnabled(), !s.direct);
            if (s.direct) {
                if (s.axisRow)
                    d.OnAxis(s.click.letter, s.click.sign);
                else
                    d.OnPlane(s.click.letter, s.click.sign);
            } else {
                box->click();
            }
            ExpectState(d, s.axis, s.plane);
        }
        d.OnCancel();
        return d.result();
    });
    C321Dialog dialog(set);
    EXPECT_EQ(dialog.DoModal(), int(QDialog::Rejected));
    EXPECT_TRUE(dialogs.empty());
}

// One case per use: the points and directions chosen, then OK or Cancel.
// Refused choices show their message and keep the dialog open with nothing
// changed; accepted ones put the origin at 0, the axis point on its axis
// and the plane point in its plane, move every oriented pose of the driver
// set's project like the points, and leave other poses alone.
TEST_F(ThreeTwoOneDialogTest, OkTransformsThePointsAndTheDriverSetsPoses)
{
    struct Case {
        const char* what;
        bool driver;
        bool view;            // a 3D view shows the preview
        bool preset;          // the points come through SetSelectedPoints
        const char* labels[3]; // null: left unchosen
        Choice axis, plane;
        bool ok;              // OK, else Cancel
        const char* message;  // the refusal, null when accepted
    };
    const Case cases[] = {
        {"driver set, -Z and +X", true, true, false, {"P1", "P2", "P3"}, {2, -1}, {0, 1}, true, nullptr},
        {"driver set, preset, +Y and -Z", true, true, true, {"P4", "P1", "P2"}, {1, 1}, {2, -1}, true, nullptr},
        {"other set, -X and -Y", false, true, false, {"P2", "P4", "P3"}, {0, -1}, {1, -1}, true, nullptr},
        {"no 3D view", true, false, false, {"P3", "P2", "P4"}, {0, 1}, {2, 1}, true, nullptr},
        {"the same point twice", true, true, false, {"P1", "P2", "P1"}, {0, 1}, {1, 1}, true,
         "Please select 3 different points"},
        {"points on one line", true, true, false, {"L1", "L2", "L3"}, {0, 1}, {1, 1}, true,
         "Please select 3 points that are not on one line"},
        {"two labels at one place", true, true, false, {"P1", "Q1", "P3"}, {0, 1}, {1, 1}, true,
         "Please select 3 points that are not on one line"},
        {"a point not chosen", true, true, false, {"P1", nullptr, "P3"}, {0, 1}, {1, 1}, true,
         "3 points were not selected"},
        {"Cancel", true, true, false, {"P1", "P2", "P3"}, {2, 1}, {0, -1}, false, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.view)
            InstallFake();
        else
            Set321PreviewFinder(nullptr);
        if ((doc->pointSets.GetDriverSet() == set) != c.driver)
            doc->ToggleDriverSet("Points");
        ASSERT_EQ(doc->pointSets.GetDriverSet() == set, c.driver);
        fake = FakePreview();
        const auto pointsBefore = Coordinates(set);
        const auto posesBefore = Poses();
        double chosen[3][3] = {};
        for (int k = 0; k < 3; ++k)
            if (const CObjectPoint* p = c.labels[k] ? set->FindPointByText(c.labels[k]) : nullptr)
                chosen[k][0] = p->x, chosen[k][1] = p->y, chosen[k][2] = p->z;

        Matrix4 applied{};
        dialogs.push_back([&](CDialog& base) {
            auto& d = dynamic_cast<C321Dialog&>(base);
            d.show();
            EXPECT_TRUE(QTest::qWaitForWindowExposed(&d));
            for (int k = 0; k < 3 && !c.preset; ++k)
                if (c.labels[k])
                    Choose(d, k, c.labels[k]);
            AxisBox(d, c.axis)->click();
            PlaneBox(d, c.plane)->click();
            ExpectState(d, c.axis, c.plane);
            if (c.message) {
                // No frame, no preview; OK refuses and the dialog stays.
                EXPECT_EQ(fake.flag, 0);
                d.OnOK();
                EXPECT_EQ(TakeMessages(), std::vector<std::string>{c.message});
                EXPECT_TRUE(d.isVisible());
                d.OnCancel();
                return d.result();
            }
            EXPECT_EQ(fake.flag, c.view);
            if (!c.view) {
                EXPECT_EQ(fake.repaints + fake.matrices, 0);
            }
            c.ok ? d.OnOK() : d.OnCancel();
            for (int i = 0; i < 4; ++i) {
                for (int j = 0; j < 4; ++j) {
                    applied[i][j] = d.GetTransformation()[i][j];
                    if (c.view) { // the preview showed what OK applies
                        EXPECT_EQ(fake.matrix[i][j], applied[i][j]);
                    }
                }
            }
            EXPECT_TRUE(TakeMessages().empty());
            return d.result();
        });
        C321Dialog dialog(set);
        if (c.preset)
            dialog.SetSelectedPoints(set->FindPointByText(c.labels[0]), set->FindPointByText(c.labels[1]),
                                     set->FindPointByText(c.labels[2]));
        const bool accepted = c.ok && !c.message;
        EXPECT_EQ(dialog.DoModal(), int(accepted ? QDialog::Accepted : QDialog::Rejected));
        ASSERT_TRUE(dialogs.empty());
        if (c.preset) {
            for (int k = 0; k < 3; ++k)
                EXPECT_EQ(Combo(dialog, k)->currentText(), QString::fromLatin1(c.labels[k]));
        }

        const auto pointsAfter = Coordinates(set);
        const auto posesAfter = Poses();
        ASSERT_EQ(pointsAfter.size(), pointsBefore.size());
        if (!accepted) {
            EXPECT_EQ(pointsAfter, pointsBefore);
            for (size_t i = 0; i < posesAfter.size(); ++i)
                EXPECT_EQ(std::memcmp(&posesAfter[i], &posesBefore[i], sizeof(Pose)), 0) << i;
            continue;
        }

        // Where the chosen frame puts the three points.
        auto map = [&](const double p[3], double out[3]) {
            for (int i = 0; i < 3; ++i)
                out[i] = applied[i][0] * p[0] + applied[i][1] * p[1] + applied[i][2] * p[2] + applied[i][3];
        };
        double m[3][3];
        for (int k = 0; k < 3; ++k)
            map(chosen[k], m[k]);
        const int third = 3 - c.axis.letter - c.plane.letter;
        const double d01 = std::sqrt(std::pow(chosen[1][0] - chosen[0][0], 2) + std::pow(chosen[1][1] - chosen[0][1], 2) +
                                     std::pow(chosen[1][2] - chosen[0][2], 2));
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(m[0][i], 0.0, 1e-12);
        EXPECT_NEAR(m[1][c.axis.letter], c.axis.sign * d01, 1e-12);
        EXPECT_NEAR(m[1][c.plane.letter], 0.0, 1e-12);
        EXPECT_NEAR(m[1][third], 0.0, 1e-12);
        EXPECT_GT(c.plane.sign * m[2][c.plane.letter], 0.1);
        EXPECT_NEAR(m[2][third], 0.0, 1e-12);

        // Every point moved by the same transformation.
        for (size_t i = 0; i < pointsAfter.size(); ++i) {
            double moved[3];
            map(pointsBefore[i].data(), moved);
            for (int k = 0; k < 3; ++k)
                EXPECT_NEAR(pointsAfter[i][k], moved[k], 1e-12) << i;
        }
        // Oriented images of the driver set's project: the centre maps like
        // a point and the rotation becomes R Q^T. Others keep their pose.
        for (int n = 0; n < doc->images.GetSize(); ++n) {
            const Pose& before = posesBefore[size_t(n)];
            const Pose& after = posesAfter[size_t(n)];
            if (!c.driver || !doc->images.GetAt(n)->oriented) {
                EXPECT_EQ(std::memcmp(&after, &before, sizeof(Pose)), 0) << n;
                continue;
            }
            double centre[3];
            map(before.X, centre);
            for (int i = 0; i < 3; ++i) {
                EXPECT_NEAR(after.X[i], centre[i], 1e-10) << n;
                for (int j = 0; j < 3; ++j) {
                    const double r = before.R[i][0] * applied[j][0] + before.R[i][1] * applied[j][1] +
                                     before.R[i][2] * applied[j][2];
                    EXPECT_NEAR(after.R[i][j], r, 1e-12) << n;
                }
            }
        }
    }
}
