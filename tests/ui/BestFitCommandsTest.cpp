// The best-fit commands over the selected points of a set: the failure
// text, the results dialog's values against the shape the points were
// made on, and the report written whatever closed the dialog.
#include "ShellFixture.h"
#include "WholeTexts.h"

#include "BestFitDialogs.h"
#include "BestFitLine.h"
#include "BestFitSphere.h"
#include "KestrelonDoc.h"
#include "PointSet.h"

#include <QFile>
#include <QListWidget>
#include <QTest>

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Shape {
    const char* what;
    const char* report;
    int paramCount;
    const int* paramIds;
    int listId;
    std::function<std::unique_ptr<CBestFit>(const CObjectPointList&)> make;
    std::function<void(CKestrelonDoc&, CBestFit&)> run;
};

template <class Fit>
std::function<std::unique_ptr<CBestFit>(const CObjectPointList&)> Maker()
{
    return [](const CObjectPointList& l) { return std::make_unique<Fit>(l); };
}

const Shape kLine{"line", "BestFitLine.txt", 6, CBestFitLineDlg::kParams, CBestFitLineDlg::kResiduals,
                  Maker<CBestFitLine>(),
                  [](CKestrelonDoc& d, CBestFit& f) { d.RunBestFitLine(static_cast<CBestFitLine&>(f)); }};
const Shape kPlane{"plane", "BestFitPlane.txt", 4, CBestFitPlaneDlg::kParams, CBestFitPlaneDlg::kResiduals,
                   Maker<CBestFitPlane>(),
                   [](CKestrelonDoc& d, CBestFit& f) { d.RunBestFitPlane(static_cast<CBestFitPlane&>(f)); }};
const Shape kSphere{"sphere", "BestFitSphere.txt", 4, CBestFitSphereDlg::kParams, CBestFitSphereDlg::kResiduals,
                    Maker<CBestFitSphere>(),
                    [](CKestrelonDoc& d, CBestFit& f) { d.RunBestFitSphere(static_cast<CBestFitSphere&>(f)); }};
const Shape kCircle{"circle", "BestFitCircle.txt", 4, CBestFitCircleDlg::kParams, CBestFitCircleDlg::kResiduals,
                    Maker<CBestFitCircle>(),
                    [](CKestrelonDoc& d, CBestFit& f) { d.RunBestFitCircle(static_cast<CBestFitCircle&>(f)); }};

struct Xyz {
    double x, y, z;
};

// Points on the circle of radius 5 about (1, 2, 3) in the plane z = 3, and
// on the sphere of radius 5 about the same centre.
std::vector<Xyz> OnCircle(int n)
{
    std::vector<Xyz> out;
    for (int i = 0; i < n; ++i)
        out.push_back({1 + 5 * std::cos(0.9 * i), 2 + 5 * std::sin(0.9 * i), 3});
    return out;
}
std::vector<Xyz> OnSphere()
{
    std::vector<Xyz> out;
    const double d[][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {-1, 0, 0}, {0, -1, 0}, {0, 0, -1}, {0.6, 0.8, 0}};
    for (const auto& v : d)
        out.push_back({1 + 5 * v[0], 2 + 5 * v[1], 3 + 5 * v[2]});
    return out;
}

class BestFitCommands : public ShellFixture {
protected:
    void SetUp() override
    {
        ShellFixture::SetUp();
        ASSERT_NO_FATAL_FAILURE(NewProject());
        folder = scratch.path().toStdString();
        doc->SetDocumentPath(QString::fromStdString(folder + "/Fit.kst"));
    }
    std::string folder;
};

} // namespace

TEST_F(BestFitCommands, FailuresNameThemselvesAndTheDialogsShowTheShape)
{
    struct Case {
        const char* what;
        const Shape* shape;
        std::vector<Xyz> points;
        const char* message; // null: the fit runs
        bool cancel;         // close the results dialog with Cancel
        std::vector<const char*> parameters;
        int rejected;        // index of a point listed with "*", -1 none
    };
    std::vector<Xyz> plane;
    for (int i = 0; i < 16; ++i)
        plane.push_back({10.0 * (i % 4), 10.0 * (i / 4), 5.0 * (i % 4) - 2.5 * (i / 4) + 2.0});
    plane.push_back({10.0, 10.0, 4.5 + 5.0}); // off the plane
    // Its unit normal is (-0.5, 0.25, 1) / 1.1456.
    const Case cases[] = {
        {"two points, line", &kLine, {{0, 0, 0}, {3, 0, 0}}, nullptr, false, {}, -1},
        {"two points, plane", &kPlane, {{0, 0, 0}, {3, 0, 0}}, "Insufficient points", false, {}, -1},
        {"plane, Cancel", &kPlane, plane, nullptr, true, {"-0.4364", "0.2182", "0.8729", "-1.7457"}, 16},
        {"sphere", &kSphere, OnSphere(), nullptr, false, {"1.0000", "2.0000", "3.0000", "5.0000"}, -1},
        {"circle", &kCircle, OnCircle(7), nullptr, false, {"1.0000", "2.0000", "3.0000", "5.0000"}, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString report = QString::fromStdString(folder + "/" + c.shape->report);
        QFile::remove(report);
        CPointSet set;
        for (size_t i = 0; i < c.points.size(); ++i) {
            CObjectPoint p(("T" + std::to_string(i + 1)).c_str(), c.points[i].x, c.points[i].y, c.points[i].z);
            p.selected = true;
            set.AddPointSorted(p);
        }
        set.AddPointSorted(CObjectPoint("UNSELECTED", 100.0, 100.0, 100.0));
        std::unique_ptr<CBestFit> fit = c.shape->make(set);
        bool shown = false;
        dialogs.push_back([&](CDialog& d) {
            shown = true;
            d.show();
            EXPECT_TRUE(QTest::qWaitForWindowExposed(&d));
            for (size_t k = 0; k < c.parameters.size(); ++k)
                EXPECT_EQ(GetWindowText(d.GetDlgItem(c.shape->paramIds[k])).toStdString(), c.parameters[k]) << k;
            auto* list = d.Item<QListWidget>(c.shape->listId);
            EXPECT_EQ(list->count(), int(c.points.size()));
            for (int i = 0; i < list->count(); ++i) {
                const std::string line = list->item(i)->text().toStdString();
                EXPECT_EQ(line.substr(0, 1 + std::to_string(i + 1).size()), "T" + std::to_string(i + 1)) << line;
                EXPECT_EQ(line.back() == '*', i == c.rejected) << line;
            }
            if (c.cancel) {
                ExpectWholeAndSave(d, "/BestFitPlaneResults.png");
                d.OnCancel();
            } else {
                d.OnOK();
            }
            return d.result();
        });
        c.shape->run(*doc, *fit);
        EXPECT_EQ(shown, c.message == nullptr);
        if (!shown)
            dialogs.clear();
        EXPECT_EQ(TakeMessages(), c.message ? std::vector<std::string>{c.message} : std::vector<std::string>{});
        EXPECT_EQ(QFile::exists(report), c.message == nullptr);
        EXPECT_FALSE(doc->IsModified());
    }
}
