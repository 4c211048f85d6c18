#include "PointDialogs.h"

#include "DialogLayout.h"
#include "Hooks.h"
#include "KestrelonDoc.h"
#include "Message.h"
#include "PointSet.h"

#include <QDialogButtonBox>
#include <QVBoxLayout>

#include <cmath>
#include <string>

using namespace dialog_layout;

namespace {

QDialogButtonBox* OkCancel(CDialog* dialog, bool cancel = true)
{
    auto* buttons = new QDialogButtonBox;
    buttons->addButton(Button(QStringLiteral("OK"), IDOK), QDialogButtonBox::AcceptRole);
    if (cancel)
        buttons->addButton(Button(QStringLiteral("Cancel"), IDCANCEL), QDialogButtonBox::RejectRole);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

const int kNumberIds[6] = {CEdit3DPointDlg::kX,      CEdit3DPointDlg::kY,      CEdit3DPointDlg::kZ,
                           CEdit3DPointDlg::kSigmaX, CEdit3DPointDlg::kSigmaY, CEdit3DPointDlg::kSigmaZ};

} // namespace

bool ParsePointLabel(const QString& text, CNameBuffer& label)
{
    const std::string bytes = ToCp1252(text.trimmed());
    return !bytes.empty() && label.Set(bytes.c_str());
}

bool ReadPointLabel(const QString& text, CNameBuffer& label)
{
    if (ParsePointLabel(text, label))
        return true;
    AfxMessageBox(("Invalid point label " + ToCp1252(text.trimmed()) +
                   "\nA point label has at most 16 characters: letters, digits, _ and -.")
                      .c_str(),
                  MB_OK | MB_ICONERROR);
    return false;
}

CEdit3DPointDlg::CEdit3DPointDlg(CObjectPoint* point, bool control, QWidget* parent, CPointSet* set)
    : CDialog(1540, parent), point(point), control(control), set(set)
{
    setWindowTitle(QStringLiteral("Edit 3D Point"));
    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    Row(grid, 0, 0, QStringLiteral("Point Id"), kLabel);
    grid->addWidget(new QLabel(QStringLiteral("Current Value")), 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("Sigma")), 1, 2);
    const char* rows[3] = {"X", "Y", "Z"};
    for (int i = 0; i < 3; ++i) {
        grid->addWidget(new QLabel(QString::fromLatin1(rows[i])), 2 + i, 0);
        grid->addWidget(Edit(kNumberIds[i]), 2 + i, 1);
        grid->addWidget(Edit(kNumberIds[3 + i]), 2 + i, 2);
    }
    layout->addLayout(grid);
    layout->addWidget(OkCancel(this));
}

void CEdit3DPointDlg::DoDataExchange(CDataExchange* dx)
{
    DDX_Text(dx, kX, x);
    DDX_Text(dx, kY, y);
    DDX_Text(dx, kZ, z);
    DDX_Text(dx, kSigmaX, sigmaX);
    DDX_Text(dx, kSigmaY, sigmaY);
    DDX_Text(dx, kSigmaZ, sigmaZ);
    DDX_Text(dx, kLabel, label);
}

bool CEdit3DPointDlg::OnInitDialog()
{
    if (!point)
        return false;
    label = QString::fromLatin1(point->label.GetText());
    x = point->x, y = point->y, z = point->z;
    if (control) {
        sigmaX = point->aprioriSigma[0], sigmaY = point->aprioriSigma[1], sigmaZ = point->aprioriSigma[2];
    } else {
        sigmaX = std::sqrt(point->covariance.GetAt(0, 0));
        sigmaY = std::sqrt(point->covariance.GetAt(1, 1));
        sigmaZ = std::sqrt(point->covariance.GetAt(2, 2));
    }
    UpdateData(false);
    for (int i = 0; i < 6; ++i)
        shown[i] = GetWindowText(GetDlgItem(kNumberIds[i]));
    return true;
}

void CEdit3DPointDlg::OnOK()
{
    if (!UpdateData(true))
        return;
    CNameBuffer newLabel;
    if (!ReadPointLabel(label, newLabel))
        return;
    if (set && newLabel != point->label)
        for (int i = 0; i < set->GetSize(); ++i)
            if (set->GetAt(i) != point && set->GetAt(i)->label == newLabel) {
                AfxMessageBox(("Pointlabel " + std::string(newLabel.GetText()) + " already in use!").c_str(),
                              MB_OK | MB_ICONERROR);
                return;
            }
    // Untouched fields keep the point's values exactly.
    bool changed[6];
    for (int i = 0; i < 6; ++i)
        changed[i] = GetWindowText(GetDlgItem(kNumberIds[i])) != shown[i];
    point->SetLabelText(newLabel.GetText());
    const double values[6] = {x, y, z, sigmaX, sigmaY, sigmaZ};
    double* coordinates[3] = {&point->x, &point->y, &point->z};
    for (int i = 0; i < 3; ++i) {
        if (changed[i])
            *coordinates[i] = values[i];
        if (!changed[3 + i])
            continue;
        if (control)
            point->aprioriSigma[i] = values[3 + i];
        else if (i == 0)
            point->SetSigmaX(values[3]);
        else if (i == 1)
            point->SetSigmaY(values[4]);
        else
            point->SetSigmaZ(values[5]);
    }
    EndDialog(QDialog::Accepted);
}

CPointLabelDlg::CPointLabelDlg(int resourceId, const char* caption, const char* prompt, int editId, QWidget* parent)
    : CDialog(resourceId, parent), editId(editId)
{
    setWindowTitle(QString::fromLatin1(caption));
    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    Row(grid, 0, 0, QString::fromLatin1(prompt), editId);
    layout->addLayout(grid);
    layout->addWidget(OkCancel(this));
}

bool CPointLabelDlg::OnInitDialog()
{
    return CDialog::OnInitDialog();
}

void CPointLabelDlg::DoDataExchange(CDataExchange* dx)
{
    DDX_Text(dx, editId, label);
}

CEpipolarPointDlg::CEpipolarPointDlg(QWidget* parent)
    : CPointLabelDlg(168, "Enter Point for Epipolar Lines", "Point Label", kLabel, parent)
{
}

CDeletePointDlg::CDeletePointDlg(QWidget* parent) : CPointLabelDlg(152, "Delete Point", "Point Label", kLabel, parent)
{
}

CHighlightPointDlg::CHighlightPointDlg(QWidget* parent)
    : CPointLabelDlg(200, "Highlight Point", "Point Label", kLabel, parent)
{
}

CDistanceDlg::CDistanceDlg(const CObjectPoint* first, const CObjectPoint* second, QWidget* parent)
    : CDialog(360, parent), first(first), second(second)
{
    setWindowTitle(QStringLiteral("Kestrelon"));
    auto* layout = new QVBoxLayout(this);
    QLineEdit* titleEdit = Edit(kTitle, true);
    titleEdit->setFrame(false);
    layout->addWidget(titleEdit);
    auto* row = new QHBoxLayout;
    QLineEdit* distanceEdit = Edit(kDistance, true);
    distanceEdit->setAlignment(Qt::AlignRight);
    row->addWidget(distanceEdit);
    auto* unitLabel = new QLabel;
    unitLabel->setObjectName(QStringLiteral("id%1").arg(kUnit));
    row->addWidget(unitLabel);
    layout->addLayout(row);
    layout->addWidget(OkCancel(this, false));
}

void CDistanceDlg::DoDataExchange(CDataExchange* dx)
{
    DDX_Text(dx, kTitle, title);
    DDX_Text(dx, kDistance, distance);
    DDX_Text(dx, kUnit, unit);
}

bool CDistanceDlg::OnInitDialog()
{
    if (!first || !second)
        return true;
    title = QString::asprintf("Distance From Point %s to Point %s", first->label.GetText(), second->label.GetText());
    const double dx = second->x - first->x, dy = second->y - first->y, dz = second->z - first->z;
    distance = QString::asprintf("%6.4f", std::sqrt(dx * dx + dy * dy + dz * dz));
    if (const CKestrelonDoc* doc = GetActiveKestrelonDoc())
        unit = FromCp1252(doc->GetUnitName(false).GetText());
    UpdateData(false);
    // The title shows whole whatever the labels' length.
    if (auto* edit = Item<QLineEdit>(kTitle))
        edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance(edit->text()) + 2 * 4);
    return true;
}
