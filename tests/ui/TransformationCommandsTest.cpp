// The transformation and comparison commands over sets generated from a
// similarity of known parameters, driven through the "3D Transformation"
// dialog's controls.
#include "ShellFixture.h"
#include "WholeTexts.h"

#include "KestrelonDoc.h"
#include "PointSet.h"
#include "PointSetList.h"
#include "ProjectBuilder.h"
#include "Similarity3D.h"
#include "TransformationDialog.h"

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <cmath>
#include <string>

namespace {

struct Xyz {
    const char* label;
    double x, y, z;
};

// Control-frame points; the set to transform holds them mapped by
// X = s * M * x + T with M a rotation about the unit axis (2, -1, 2) / 3.
const Xyz kControl[] = {{"P1", 0, 0, 0},     {"P2", 10, 0, 1},   {"P3", 0, 12, -2}, {"P4", 3, 4, 9},
                        {"P5", -7, 5, 3},    {"P6", 8, -6, -4},  {"P7", 2, 9, 6},   {"Q1", 5, 5, 5}};

void Map(double s, const Xyz& p, double out[3])
{
    const double a[3] = {2.0 / 3, -1.0 / 3, 2.0 / 3}, angle = 0.7, c = std::cos(angle), sn = std::sin(angle);
    const double v[3] = {p.x, p.y, p.z};
    const double dot = a[0] * v[0] + a[1] * v[1] + a[2] * v[2];
    const double cross[3] = {a[1] * v[2] - a[2] * v[1], a[2] * v[0] - a[0] * v[2], a[0] * v[1] - a[1] * v[0]};
    const double T[3] = {100.0, -50.0, 20.0};
    for (int i = 0; i < 3; ++i)
        out[i] = s * (v[i] * c + cross[i] * sn + a[i] * dot * (1 - c)) + T[i];
}

class TransformationCommands : public ShellFixture {
protected:
    void SetUp() override
    {
        ShellFixture::SetUp();
        ASSERT_NO_FATAL_FAILURE(NewProject());
        folder = scratch.path().toStdString();
        doc->SetDocumentPath(QString::fromStdString(folder + "/Geo.kst"));
    }

    // A project set "Measured" mapped with scale s, every point of kControl.
    CPointSet* AddMeasured(double s)
    {
        CPointSet* set = AddPointSet(*doc, (folder + "/Measured.xyz").c_str());
        for (const Xyz& p : kControl) {
            double X[3];
            Map(s, p, X);
            set->AddPointSorted(CObjectPoint(p.label, X[0], X[1], X[2]));
        }
        return set;
    }
    // A control file of the first count points of kControl (Q1 never).
    std::string WriteControl(const char* name, int count)
    {
        CPointSet control;
        control.isControl = true;
        for (int i = 0; i < count && std::string(kControl[i].label) != "Q1"; ++i)
            control.AddPointSorted(CObjectPoint(kControl[i].label, kControl[i].x, kControl[i].y, kControl[i].z));
        const std::string path = folder + "/" + name;
        EXPECT_TRUE(control.WriteXyzFile(path.c_str(), 12, 13, 7));
        return path;
    }

    std::string folder;
};

} // namespace

// Go with too few common points keeps Accept hidden; with enough it shows
// it, Accept keeps "Trans" and writes its files, the transformed points
// being the control-frame truth (Q1 too, which the control lacks); Hold
// Scale fixes the scale at exactly 1.
TEST_F(TransformationCommands, GoShowsTheOutcomeAndAcceptKeepsTheTransformedPoints)
{
    struct Case {
        const char* what;
        int controlPoints;
        bool holdScale;
        bool accept;
        const char* status;
    };
    const Case cases[] = {
        {"three common points", 3, false, false, "Not enough common points"},
        {"seven points, Cancel", 7, false, false, "Adjustment successful"},
        {"seven points, Accept", 7, false, true, "Adjustment successful"},
        {"hold scale", 7, true, true, "Adjustment successful"},
    };
    const double s = 1.25;
    AddMeasured(s);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(QString::fromStdString(folder + "/Trans.xyz"));
        QFile::remove(QString::fromStdString(folder + "/Trans.txt"));
        files.push_back(QString::fromStdString(WriteControl("Control.xyz", c.controlPoints)));
        double scale = 0.0;
        dialogs.push_back([&](CDialog& base) {
            auto& d = dynamic_cast<C3DTransformationDlg&>(base);
            d.show();
            EXPECT_TRUE(QTest::qWaitForWindowExposed(&d));
            EXPECT_EQ(GetWindowText(d.GetDlgItem(C3DTransformationDlg::kTransformedFile)).toStdString(),
                      folder + "/Trans.xyz");
            EXPECT_EQ(d.commonPoints, c.controlPoints);
            EXPECT_FALSE(d.GetDlgItem(IDOK)->isVisible());
            if (c.holdScale)
                d.Item<QAbstractButton>(C3DTransformationDlg::kHoldScale)->click();
            d.Item<QAbstractButton>(C3DTransformationDlg::kGo)->click();
            EXPECT_EQ(GetWindowText(d.GetDlgItem(C3DTransformationDlg::kStatus)).toStdString(), c.status);
            const bool ok = std::string(c.status) == "Adjustment successful";
            EXPECT_EQ(d.GetDlgItem(IDOK)->isVisible(), ok);
            scale = d.transformation->scale;
            if (c.accept && !c.holdScale) {
                ExpectWholeAndSave(d, "/TransformationDialog.png");
            }
            if (c.accept) {
                d.Item<QAbstractButton>(IDOK)->click();
            } else {
                d.OnCancel();
            }
            return d.result();
        });
        const CPointSet* before = doc->pointSets.FindSetByTitle("Trans");
        EXPECT_EQ(doc->Run3DTransformation("Measured"), c.accept);
        ASSERT_TRUE(dialogs.empty());
        EXPECT_TRUE(TakeMessages().empty());
        EXPECT_EQ(QFile::exists(QString::fromStdString(folder + "/Trans.txt")), c.accept);
        if (!c.accept) {
            EXPECT_EQ(doc->pointSets.FindSetByTitle("Trans"), before);
            EXPECT_FALSE(QFile::exists(QString::fromStdString(folder + "/Trans.xyz")));
            continue;
        }
        if (c.holdScale) {
            EXPECT_EQ(scale, 1.0) << scale - 1.0;
            continue;
        }
        EXPECT_NEAR(scale, s, 1e-9);
        ASSERT_NE(doc->pointSets.FindSetByTitle("Trans"), nullptr);
        CPointSet written;
        written.isDiscrepancySet = true;
        ASSERT_TRUE(written.ReadXyzFile((folder + "/Trans.xyz").c_str(), nullptr));
        ASSERT_EQ(written.GetSize(), int(std::size(kControl)));
        for (const Xyz& p : kControl) {
            const CObjectPoint* t = written.FindPointByText(p.label);
            ASSERT_NE(t, nullptr) << p.label;
            EXPECT_NEAR(t->x, p.x, 1e-9) << p.label;
            EXPECT_NEAR(t->y, p.y, 1e-9) << p.label;
            EXPECT_NEAR(t->z, p.z, 1e-9) << p.label;
        }
    }
}

// One shared label: a "Compare" set of that point whose discrepancy is the
// file minus the project, written and read back; none shared: the message,
// and the earlier "Compare" set stays.
TEST_F(TransformationCommands, CompareKeepsTheDifferencesOfSharedLabels)
{
    CPointSet* project = AddPointSet(*doc, (folder + "/Measured.xyz").c_str());
    project->AddPointSorted(CObjectPoint("A1", 1.0, 2.0, 3.0));
    project->AddPointSorted(CObjectPoint("A2", 4.0, 5.0, 6.0));
    struct Case {
        const char* what;
        Xyz filePoint;
        const char* message; // null: a "Compare" set is made
    };
    const Case cases[] = {
        {"one shared label", {"A2", 4.5, 4.75, 6.125}, nullptr},
        {"no shared label", {"B7", 4.0, 5.0, 6.0}, "No Identical Points found"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CPointSet file;
        file.AddPointSorted(CObjectPoint(c.filePoint.label, c.filePoint.x, c.filePoint.y, c.filePoint.z));
        file.AddPointSorted(CObjectPoint("ZZ", 0.0, 0.0, 0.0));
        const std::string path = folder + "/Other.xyz";
        ASSERT_TRUE(file.WriteXyzFile(path.c_str(), 12, 13, 7));
        files.push_back(QString::fromStdString(path));
        const CPointSet* before = doc->pointSets.FindSetByTitle("Compare");
        EXPECT_EQ(doc->CompareWith3DFile("Measured"), c.message == nullptr);
        if (c.message) {
            EXPECT_EQ(TakeMessages(), std::vector<std::string>{c.message});
            EXPECT_EQ(doc->pointSets.FindSetByTitle("Compare"), before);
        }
        const CPointSet* compare = doc->pointSets.FindSetByTitle("Compare");
        ASSERT_NE(compare, nullptr);
        CPointSet written;
        written.isDiscrepancySet = true;
        ASSERT_TRUE(written.ReadXyzFile((folder + "/Compare.xyz").c_str(), nullptr));
        for (const CPointSet* set : {compare, static_cast<const CPointSet*>(&written)}) {
            ASSERT_EQ(set->GetSize(), 1);
            const CObjectPoint* p = set->GetAt(0);
            EXPECT_STREQ(p->label.GetText(), "A2");
            EXPECT_EQ(p->x, 4.0);
            EXPECT_EQ(p->discrepancy[0], 0.5);
            EXPECT_EQ(p->discrepancy[1], -0.25);
            EXPECT_EQ(p->discrepancy[2], 0.125);
        }
    }
}
