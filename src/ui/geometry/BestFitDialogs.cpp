#include "BestFitDialogs.h"

#include "BestFitLine.h"
#include "BestFitSphere.h"
#include "DialogLayout.h"
#include "KestrelonDoc.h"
#include "MainFrame.h"
#include "Message.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QListWidget>
#include <QVBoxLayout>

using namespace dialog_layout;

CBestFitResultsDlg::CBestFitResultsDlg(int resourceId, const char* caption, const char* group,
                                       const char* const* labels, const int* paramIds, int count, int rmsId,
                                       int listId, const CBestFit& fit, QWidget* parent)
    : CDialog(resourceId, parent), fit(fit), paramIds(paramIds), count(count), rmsId(rmsId), listId(listId)
{
    setWindowTitle(QString::fromLatin1(caption));
    auto* layout = new QVBoxLayout(this);
    auto* box = new QGroupBox(QString::fromLatin1(group));
    auto* grid = new QGridLayout(box);
    for (int i = 0; i < count; ++i) {
        // The line's six values are two rows of three under one label each.
        const int row = count == 6 ? i / 3 : i;
        const int column = count == 6 ? i % 3 + 1 : 1;
        if (count != 6 || i % 3 == 0)
            grid->addWidget(new QLabel(QString::fromLatin1(labels[count == 6 ? i / 3 : i])), row, 0);
        grid->addWidget(Edit(paramIds[i], true), row, column);
    }
    layout->addWidget(box);
    layout->addWidget(new QLabel(QStringLiteral("Residuals")));
    auto* list = new QListWidget;
    list->setObjectName(QStringLiteral("id%1").arg(listId));
    layout->addWidget(list);
    auto* rms = new QGridLayout;
    Row(rms, 0, 0, QStringLiteral("Residual RMS"), rmsId, true);
    layout->addLayout(rms);
    auto* buttons = new QDialogButtonBox;
    buttons->addButton(Button(QStringLiteral("Ok"), IDOK), QDialogButtonBox::AcceptRole);
    QObject::connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}

void CBestFitResultsDlg::DoDataExchange(CDataExchange* dx)
{
    for (int i = 0; i < count; ++i)
        DDX_Text(dx, paramIds[i], parameters[i]);
    DDX_Text(dx, rmsId, residualRms);
}

bool CBestFitResultsDlg::OnInitDialog()
{
    double values[6] = {};
    GetParameters(values);
    for (int i = 0; i < count; ++i)
        parameters[i] = QString::asprintf("%6.4f", values[i]);
    residualRms = QString::asprintf("%6.4f", fit.GetRms());
    auto* list = Item<QListWidget>(listId);
    list->clear();
    for (int i = 0; i < fit.GetPointCount(); ++i) {
        const CObjectPoint* p = fit.GetPoint(i);
        list->addItem(QString::asprintf(fit.IsRejected(i) ? "%s%16.4f*" : "%s%16.4f", p->label.GetText(),
                                        GetResidual(i)));
    }
    UpdateData(false);
    return true;
}

namespace {
const char* const kPlaneLabels[] = {"A", "B", "C", "D"};
const char* const kLineLabels[] = {"(Xo,Yo,Zo)", "(u,v,w)"};
const char* const kRoundLabels[] = {"Xo", "Yo", "Zo", "R"};
} // namespace

CBestFitPlaneDlg::CBestFitPlaneDlg(CBestFitPlane* fit, QWidget* parent)
    : CBestFitResultsDlg(1548, "Best Fit Plane Results", "Plane Parameters", kPlaneLabels, kParams, 4, kRms,
                         kResiduals, *fit, parent)
{
}

void CBestFitPlaneDlg::GetParameters(double* v) const
{
    const auto& f = static_cast<const CBestFitPlane&>(fit);
    v[0] = f.A, v[1] = f.B, v[2] = f.C, v[3] = f.D;
}

double CBestFitPlaneDlg::GetResidual(int i) const
{
    return static_cast<const CBestFitPlane&>(fit).GetResidual(i);
}

CBestFitLineDlg::CBestFitLineDlg(CBestFitLine* fit, QWidget* parent)
    : CBestFitResultsDlg(1549, "Best Fit Line Results", "Line Parameters", kLineLabels, kParams, 6, kRms,
                         kResiduals, *fit, parent)
{
}

void CBestFitLineDlg::GetParameters(double* v) const
{
    const auto& f = static_cast<const CBestFitLine&>(fit);
    v[0] = f.Xo, v[1] = f.Yo, v[2] = f.Zo, v[3] = f.u, v[4] = f.v, v[5] = f.w;
}

double CBestFitLineDlg::GetResidual(int i) const
{
    return static_cast<const CBestFitLine&>(fit).GetPointDistance(i);
}

CBestFitSphereDlg::CBestFitSphereDlg(CBestFitSphere* fit, QWidget* parent)
    : CBestFitResultsDlg(1552, "Best Fit Sphere Results", "Sphere Parameters", kRoundLabels, kParams, 4, kRms,
                         kResiduals, *fit, parent)
{
}

void CBestFitSphereDlg::GetParameters(double* v) const
{
    const auto& f = static_cast<const CBestFitSphere&>(fit);
    v[0] = f.Xo, v[1] = f.Yo, v[2] = f.Zo, v[3] = f.R;
}

double CBestFitSphereDlg::GetResidual(int i) const
{
    return static_cast<const CBestFitSphere&>(fit).GetResidual(i);
}

CBestFitCircleDlg::CBestFitCircleDlg(CBestFitCircle* fit, QWidget* parent)
    : CBestFitResultsDlg(1551, "Best Fit Circle Results", "Circle Parameters", kRoundLabels, kParams, 4, kRms,
                         kResiduals, *fit, parent)
{
}

void CBestFitCircleDlg::GetParameters(double* v) const
{
    const auto& f = static_cast<const CBestFitCircle&>(fit);
    v[0] = f.Xo, v[1] = f.Yo, v[2] = f.Zo, v[3] = f.R;
}

double CBestFitCircleDlg::GetResidual(int i) const
{
    return static_cast<const CBestFitCircle&>(fit).GetResidual(i);
}

namespace {

// Fits; on failure shows the outcome's text (or the shape's own sentence)
// and returns false.
bool FitOrSay(CBestFit& fit, const char* shape)
{
    if (fit.Fit())
        return true;
    std::string text = BestFitOutcomeText(fit.GetOutcomeId());
    if (text.empty())
        text = std::string("Best fit ") + shape + " computation failed.";
    AfxMessageBox(text.c_str(), MB_OK);
    return false;
}

} // namespace

// The report is written whichever button closed the dialog.
void CKestrelonDoc::RunBestFitLine(CBestFitLine& fit)
{
    if (!FitOrSay(fit, "line"))
        return;
    CBestFitLineDlg(&fit, AfxGetMainFrame()).DoModal();
    WriteBestFitLineReport(fit);
}

void CKestrelonDoc::RunBestFitPlane(CBestFitPlane& fit)
{
    if (!FitOrSay(fit, "plane"))
        return;
    CBestFitPlaneDlg(&fit, AfxGetMainFrame()).DoModal();
    WriteBestFitPlaneReport(fit);
}

void CKestrelonDoc::RunBestFitSphere(CBestFitSphere& fit)
{
    if (!FitOrSay(fit, "sphere"))
        return;
    CBestFitSphereDlg(&fit, AfxGetMainFrame()).DoModal();
    WriteBestFitSphereReport(fit);
}

void CKestrelonDoc::RunBestFitCircle(CBestFitCircle& fit)
{
    if (!FitOrSay(fit, "circle"))
        return;
    CBestFitCircleDlg(&fit, AfxGetMainFrame()).DoModal();
    WriteBestFitCircleReport(fit);
}
