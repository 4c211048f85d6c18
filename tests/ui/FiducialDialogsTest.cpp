// The "Fiducials" dialog of a camera and the "Interior Orientation Results"
// of an image: list editing, and the fits against least squares solved in
// the test.
#include "ShellFixture.h"
#include "WholeTexts.h"

#include "Camera.h"
#include "CameraDialogs.h"
#include "FiducialDialogs.h"
#include "ProjectImage.h"
#include "TableChecks.h"

#include <QAbstractButton>
#include <QLabel>
#include <QMenu>
#include <QRadioButton>
#include <QTableWidget>
#include <QTest>

#include <cmath>
#include <cstdio>
#include <memory>

namespace fiducial_dialogs_test {

class FiducialDialogs : public ShellFixture {
protected:
    void SetUp() override
    {
        ShellFixture::SetUp();
        camera.identifier = "Film";
        const double marks[4][2] = {{-110.0, 110.0}, {110.0, 110.0}, {110.0, -110.0}, {-110.0, -110.0}};
        for (int i = 0; i < 4; ++i) {
            char label[4];
            std::snprintf(label, sizeof label, "%d", i + 1);
            camera.fiducials.AddSorted(CImageObservation(CNameBuffer(label), marks[i][0], marks[i][1]));
        }
    }

    static QStringList Column(const QTableWidget* list, int column)
    {
        QStringList texts;
        for (int r = 0; r < list->rowCount(); ++r)
            texts << (list->item(r, column) ? list->item(r, column)->text() : QString());
        return texts;
    }

    static void Select(QTableWidget* list, std::initializer_list<int> rows)
    {
        list->clearSelection();
        for (int r : rows)
            list->selectionModel()->select(list->model()->index(r, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }

    void AnswerEdit(const char* label, const char* x, const char* y)
    {
        dialogs.push_back([label, x, y](CDialog& d) {
            Type(d, 1100, QString::fromLatin1(label));
            Type(d, 1055, QString::fromLatin1(x));
            Type(d, 1056, QString::fromLatin1(y));
            d.OnOK();
            return d.result();
        });
    }

    CCamera camera;
};

TEST_F(FiducialDialogs, AddEditDeleteAndTheMenuStates)
{
    CFiducialsDlg dialog(&camera);
    dialog.OnInitDialog();
    QTableWidget* list = dialog.GetList();
    EXPECT_EQ(Column(list, 0), (QStringList{"1", "2", "3", "4"}));
    EXPECT_EQ(list->item(0, 1)->text(), QStringLiteral("-110.000"));

    // A label that exists already gives a second mark.
    AnswerEdit("2", "1.5", "-2.25");
    dialog.OnAddFiducial();
    EXPECT_EQ(camera.fiducials.GetSize(), 5);
    EXPECT_EQ(Column(list, 0), (QStringList{"1", "2", "2", "3", "4"}));
    EXPECT_TRUE(camera.modified);

    // Edit greyed unless exactly one row is selected, Delete without a selection.
    const struct {
        std::initializer_list<int> rows;
        bool edit, remove;
    } states[] = {{{}, false, false}, {{2}, true, true}, {{1, 3}, false, true}};
    for (const auto& s : states) {
        Select(list, s.rows);
        std::unique_ptr<QMenu> menu(dialog.BuildContextMenu());
        ASSERT_EQ(menu->actions().size(), 3);
        EXPECT_EQ(menu->actions()[0]->text(), QStringLiteral("Add"));
        EXPECT_TRUE(menu->actions()[0]->isEnabled());
        EXPECT_EQ(menu->actions()[1]->isEnabled(), s.edit);
        EXPECT_EQ(menu->actions()[2]->isEnabled(), s.remove);
    }

    // An edited label takes its place in label order.
    Select(list, {0});
    AnswerEdit("9", "-110", "110");
    dialog.OnEditFiducial();
    EXPECT_EQ(Column(list, 0), (QStringList{"2", "2", "3", "4", "9"}));
    EXPECT_NE(camera.fiducials.Find(CNameBuffer("9")), nullptr);
    EXPECT_EQ(camera.fiducials.FindIndex(CNameBuffer("4")), 3);

    // Delete asks; No keeps the marks, Yes removes the selected rows.
    Select(list, {0, 2});
    answers = {IDNO, IDYES};
    dialog.OnDeleteFiducials();
    EXPECT_EQ(TakeMessages(), std::vector<std::string>{"Delete Selected Points?"});
    EXPECT_EQ(camera.fiducials.GetSize(), 5);
    dialog.OnDeleteFiducials();
    EXPECT_EQ(Column(list, 0), (QStringList{"2", "4", "9"}));
    dialog.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    ExpectWholeAndSave(dialog, QStringLiteral("/FiducialsDialog.png"));
}

TEST_F(FiducialDialogs, TheCameraDatabaseButtonOpensTheDialogForTheCameraShown)
{
    CCameraList cameras;
    cameras.AddCopy(camera);
    CCamera second(camera);
    second.identifier = "Second";
    second.fiducials.DeleteAll();
    cameras.AddCopy(second);
    CCameraDataDlg database(&cameras, 1, 1);
    database.OnInitDialog();
    int opened = 0;
    dialogs.push_back([&](CDialog& d) {
        ++opened;
        auto& fiducials = dynamic_cast<CFiducialsDlg&>(d);
        EXPECT_EQ(fiducials.GetList()->rowCount(), 0);
        return int(QDialog::Rejected);
    });
    database.Item<QAbstractButton>(1119)->click();
    database.OnSelchangeCamera(0);
    dialogs.push_back([&](CDialog& d) {
        ++opened;
        EXPECT_EQ(dynamic_cast<CFiducialsDlg&>(d).GetList()->rowCount(), 4);
        return int(QDialog::Rejected);
    });
    database.Item<QAbstractButton>(1119)->click();
    EXPECT_EQ(opened, 2);
}

// --- Interior Orientation Results -------------------------------------------------------

// Measured marks: an affine image of the calibrated ones with small
// disturbances, so the fits have residuals.
constexpr double kAffine[6] = {0.0498, 0.0011, 100.2, -0.0009, 0.0502, 80.4};
constexpr double kNoise[4][2] = {{0.003, -0.002}, {-0.001, 0.004}, {0.002, 0.001}, {-0.004, -0.003}};

void Measure(CProjectImage& image, const CCamera& camera, int count)
{
    image.fiducials.DeleteAll();
    for (int i = 0; i < count; ++i) {
        const CImageObservation* m = camera.fiducials.GetAt(i);
        CImageObservation o(m->label, kAffine[0] * m->x + kAffine[1] * m->y + kAffine[2] + kNoise[i][0],
                            kAffine[3] * m->x + kAffine[4] * m->y + kAffine[5] + kNoise[i][1]);
        o.fiducial = true;
        o.vx = 0.25 * (i + 1);
        o.vy = -0.5;
        image.fiducials.AddSorted(o);
    }
}

// Least squares by the normal equations, Gauss-Jordan elimination.
std::vector<double> Solve(std::vector<std::vector<double>> A, std::vector<double> b)
{
    const std::size_t n = b.size();
    for (std::size_t c = 0; c < n; ++c) {
        std::size_t p = c;
        for (std::size_t r = c + 1; r < n; ++r)
            if (std::fabs(A[r][c]) > std::fabs(A[p][c]))
                p = r;
        std::swap(A[c], A[p]);
        std::swap(b[c], b[p]);
        for (std::size_t r = 0; r < n; ++r)
            if (r != c) {
                const double f = A[r][c] / A[c][c];
                for (std::size_t k = c; k < n; ++k)
                    A[r][k] -= f * A[c][k];
                b[r] -= f * b[c];
            }
    }
    for (std::size_t i = 0; i < n; ++i)
        b[i] /= A[i][i];
    return b;
}

// Residuals (transformed mark minus measured) and sigma of the fit of the
// measured points onto the marks: affine rows (x, y, 1) per coordinate, or
// the similarity x' = a x + b y + c, y' = -b x + a y + d.
double IndependentFit(const CProjectImage& image, const CCamera& camera, bool affine, std::vector<double>& v)
{
    std::vector<std::vector<double>> rows;
    std::vector<double> obs;
    const int u = affine ? 6 : 4;
    for (int i = 0; i < image.fiducials.GetSize(); ++i) {
        const CImageObservation* o = image.fiducials.GetAt(i);
        const CImageObservation* m = camera.fiducials.Find(o->label);
        if (affine) {
            rows.push_back({m->x, m->y, 1, 0, 0, 0});
            rows.push_back({0, 0, 0, m->x, m->y, 1});
        } else {
            rows.push_back({m->x, m->y, 1, 0});
            rows.push_back({m->y, -m->x, 0, 1});
        }
        obs.push_back(o->x);
        obs.push_back(o->y);
    }
    std::vector<std::vector<double>> N(u, std::vector<double>(u, 0.0));
    std::vector<double> t(u, 0.0);
    for (std::size_t r = 0; r < rows.size(); ++r)
        for (int i = 0; i < u; ++i) {
            t[i] += rows[r][i] * obs[r];
            for (int j = 0; j < u; ++j)
                N[i][j] += rows[r][i] * rows[r][j];
        }
    const std::vector<double> a = Solve(N, t);
    double sum = 0.0;
    v.clear();
    for (std::size_t r = 0; r < rows.size(); ++r) {
        double value = 0.0;
        for (int i = 0; i < u; ++i)
            value += rows[r][i] * a[i];
        v.push_back(value - obs[r]);
        sum += v.back() * v.back();
    }
    return std::sqrt(sum / double(rows.size() - u));
}

QString Fixed(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%6.3f", value);
    return QString::fromLatin1(text);
}

TEST_F(FiducialDialogs, InteriorOrientationFitsAcceptAndCancel)
{
    CProjectImage image;
    CInteriorOrientationDlg dialog(nullptr, nullptr);
    ASSERT_TRUE(dialog.CreateModeless(&image, &camera));
    EXPECT_EQ(dialog.GetType(), 1);
    EXPECT_TRUE(dialog.Item<QRadioButton>(1040)->isChecked());
    QTableWidget* list = dialog.GetList();

    // Two measurements: no fit; their stored values and residuals show.
    Measure(image, camera, 2);
    dialog.ComputeTransformation(&image, &camera);
    dialog.RefreshResults();
    EXPECT_EQ(image.transformation.GetSize(), 0);
    EXPECT_EQ(dialog.Item<QLabel>(1099)->text(), QStringLiteral(" 0.000"));
    ASSERT_EQ(list->rowCount(), 4);
    EXPECT_EQ(list->columnCount(), 8);
    EXPECT_EQ(list->item(1, 1)->text(), QStringLiteral("2"));
    EXPECT_EQ(list->item(1, 6)->text(), Fixed(0.5));
    EXPECT_EQ(list->item(1, 7)->text(), Fixed(-0.5));
    EXPECT_TRUE(Column(list, 4)[2].isEmpty());

    // Four: the affine fit, then the conformal one by its radio button, each
    // against the least squares of the test.
    Measure(image, camera, 4);
    for (bool affine : {true, false}) {
        SCOPED_TRACE(affine ? "affine" : "conformal");
        if (affine) {
            dialog.ComputeTransformation(&image, &camera);
            dialog.RefreshResults();
        } else {
            dialog.Item<QRadioButton>(1098)->click();
        }
        std::vector<double> v;
        const double sigma = IndependentFit(image, camera, affine, v);
        EXPECT_EQ(image.transformation.GetSize(), affine ? 6 : 4);
        EXPECT_NEAR(dialog.GetSigma(), sigma, 1e-10);
        EXPECT_EQ(dialog.Item<QLabel>(1099)->text(), Fixed(sigma * 1000.0));
        for (int i = 0; i < 4; ++i) {
            const CImageObservation* o = image.fiducials.GetAt(i);
            EXPECT_NEAR(o->vx, v[2 * i], 1e-10);
            EXPECT_NEAR(o->vy, v[2 * i + 1], 1e-10);
            const int row = camera.fiducials.FindIndex(o->label);
            EXPECT_EQ(list->item(row, 6)->text(), Fixed(v[2 * i]));
            EXPECT_EQ(list->item(row, 7)->text(), Fixed(v[2 * i + 1]));
        }
    }
    ExpectWholeAndSave(dialog, QStringLiteral("/InteriorOrientationResults.png"));

    // A refused Accept leaves the image without parameters; the dialog stays.
    answers = {IDNO};
    dialog.Item<QAbstractButton>(IDOK)->click();
    EXPECT_EQ(TakeMessages(), std::vector<std::string>{
                                  "Conformal Transformation Parameters will be Applied to all Further Measurements\nAccept?"});
    EXPECT_EQ(image.transformation.GetSize(), 0);
    EXPECT_FALSE(image.transformAccepted);
    EXPECT_TRUE(dialog.isVisible());

    // Accepted: the flag is set and the dialog ends.
    dialog.Item<QRadioButton>(1040)->click();
    answers = {IDYES};
    dialog.Item<QAbstractButton>(IDOK)->click();
    EXPECT_TRUE(image.transformAccepted);
    EXPECT_EQ(image.transformation.GetSize(), 6);
    EXPECT_FALSE(dialog.isVisible());

    // Cancel discards the parameters.
    ASSERT_TRUE(dialog.CreateModeless(&image, &camera));
    dialog.Item<QAbstractButton>(IDCANCEL)->click();
    EXPECT_EQ(image.transformation.GetSize(), 0);
    EXPECT_FALSE(dialog.isVisible());
}

// Values that grow from one refresh to the next: the dialog widens so that
// each shows whole, and the captions follow their columns.
TEST_F(FiducialDialogs, ResultsGrowWithTheirValuesAndKeepTheCaptionsOverTheColumns)
{
    CProjectImage image;
    CInteriorOrientationDlg dialog(nullptr, nullptr);
    ASSERT_TRUE(dialog.CreateModeless(&image, &camera));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    QTableWidget* list = dialog.GetList();
    const char* const captions[3] = {"Control\nCoordinates\n(mm)", "Observed\nCoordinates\n(mm)", "Residuals\n(mm)"};
    // Two measurements: no fit, the stored values show as they are.
    for (double scale : {1.0, 100.0, 100000.0}) {
        SCOPED_TRACE(scale);
        Measure(image, camera, 2);
        for (int i = 0; i < 2; ++i) {
            CImageObservation* o = image.fiducials.GetAt(i);
            o->SetXY(-o->x * scale, o->y * scale);
            o->vx = -12.345678 * scale;
            o->vy = 0.5 * scale;
        }
        dialog.RefreshResults();
        Settle();
        EXPECT_EQ(list->item(0, 6)->text(), Fixed(-12.345678 * scale));
        EXPECT_EQ(CutCells(list), "");
        for (int k = 0; k < 3; ++k) {
            const QLabel* caption = nullptr;
            for (const QLabel* label : dialog.findChildren<QLabel*>())
                if (label->text() == QString::fromLatin1(captions[k]))
                    caption = label;
            ASSERT_NE(caption, nullptr) << captions[k];
            EXPECT_EQ(CaptionOffColumns(caption, list, 2 + 2 * k, 3 + 2 * k), "") << captions[k];
        }
    }
    ExpectWholeAndSave(dialog, QStringLiteral("/InteriorOrientationLargeValues.png"));
    dialog.OnClose();
}

} // namespace fiducial_dialogs_test
