#include "PointRelabelDialog.h"

#include "BestFitLine.h"
#include "DialogLayout.h"
#include "Hooks.h"
#include "KestrelonDoc.h"
#include "Message.h"
#include "PointSet.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

using namespace dialog_layout;

namespace {

QRadioButton* Radio(const char* text, int id)
{
    auto* radio = new QRadioButton(QString::fromLatin1(text));
    radio->setObjectName(QStringLiteral("id%1").arg(id));
    return radio;
}

// Two radio buttons in a group box without text (their own exclusive group).
QGroupBox* RadioGroup(QRadioButton* first, QRadioButton* second)
{
    auto* box = new QGroupBox;
    auto* layout = new QVBoxLayout(box);
    layout->addWidget(first);
    layout->addWidget(second);
    return box;
}

// DDX_Radio over exactly two buttons: the order groups' ids run on into
// each other, so the group cannot be found by its first id alone.
void DDX_RadioPair(CDataExchange* dx, int firstId, int& value)
{
    auto* first = dynamic_cast<QAbstractButton*>(dx->m_pDlgWnd->GetDlgItem(firstId));
    auto* second = dynamic_cast<QAbstractButton*>(dx->m_pDlgWnd->GetDlgItem(firstId + 1));
    if (!first || !second)
        return;
    if (dx->m_bSaveAndValidate) {
        value = second->isChecked() ? 1 : first->isChecked() ? 0 : -1;
        return;
    }
    first->setChecked(value == 0);
    second->setChecked(value == 1);
}

} // namespace

CPointRelabelExDlg::CPointRelabelExDlg(CPointSet* selection, CPointSet* pointSet, CRelabelMemory* memory,
                                       QWidget* parent)
    : CDialog(376, parent), m_pSelection(selection), m_pPointSet(pointSet), memory(memory)
{
    setWindowTitle(QStringLiteral("Re-label Points along Line"));
    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    Row(grid, 0, 0, QStringLiteral("Re-label points"), kPoints);
    Row(grid, 1, 0, QStringLiteral("Start label"), kStartLabel);
    Row(grid, 2, 0, QStringLiteral("Label Increment"), kIncrement);
    layout->addLayout(grid);
    auto* observations = new QCheckBox(QStringLiteral("Re-label referenced observations as well"));
    observations->setObjectName(QStringLiteral("id%1").arg(kObservations));
    layout->addWidget(observations);
    QRadioButton* horizontal = Radio("Re-label horizontal", kHorizontal);
    QRadioButton* vertical = Radio("Re-label vertical", kVertical);
    auto* orders = new QHBoxLayout;
    orders->addWidget(RadioGroup(horizontal, vertical));
    orders->addWidget(RadioGroup(Radio("from left to right", kLeftToRight), Radio("from right to left", kRightToLeft)));
    orders->addWidget(RadioGroup(Radio("from top to buttom", kTopToBottom), Radio("from buttom to top", kBottomToTop)));
    layout->addLayout(orders);
    auto* buttons = new QDialogButtonBox;
    buttons->addButton(Button(QStringLiteral("OK"), IDOK), QDialogButtonBox::AcceptRole);
    buttons->addButton(Button(QStringLiteral("Cancel"), IDCANCEL), QDialogButtonBox::RejectRole);
    QObject::connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    QObject::connect(horizontal, &QRadioButton::clicked, this, [this] { OnOrientationChanged(); });
    QObject::connect(vertical, &QRadioButton::clicked, this, [this] { OnOrientationChanged(); });
}

void CPointRelabelExDlg::DoDataExchange(CDataExchange* dx)
{
    DDX_Text(dx, kPoints, m_strPoints);
    DDX_Text(dx, kStartLabel, m_strStartLabel);
    DDX_Text(dx, kIncrement, m_nIncrement);
    DDX_Check(dx, kObservations, m_bRelabelObservations);
    DDX_RadioPair(dx, kHorizontal, m_nOrientation);
    DDX_RadioPair(dx, kLeftToRight, m_nHorizontalOrder);
    DDX_RadioPair(dx, kTopToBottom, m_nVerticalOrder);
}

bool CPointRelabelExDlg::OnInitDialog()
{
    if (!m_pSelection || !m_pPointSet)
        return false;
    CObjectPointArray points;
    for (int i = 0; i < m_pSelection->GetSize(); ++i)
        points.Add(m_pSelection->GetAt(i));
    CBestFitLine line(points);
    // Without a line the dialog opens with its first values.
    if (!line.Fit()) {
        UpdateData(false);
        return true;
    }
    const double length = std::sqrt(line.u * line.u + line.v * line.v + line.w * line.w);
    const double p[3] = {line.Xo, line.Yo, line.Zo}, d[3] = {line.u, line.v, line.w};
    for (int k = 0; k < 3; ++k) {
        m_vLinePoint[k] = p[k];
        m_vLineDirection[k] = length > 0 ? d[k] / length : 0.0;
    }
    double extentX = 0.0, extentY = 0.0;
    m_pSelection->GetExtentX(extentX);
    m_pSelection->GetExtentY(extentY);
    m_nOrientation = extentX > extentY ? 0 : 1;
    if (memory) {
        m_strStartLabel = QString::fromLatin1(memory->startLabel.GetText());
        m_nIncrement = memory->increment;
    }
    QStringList labels;
    for (int i = 0; i < m_pSelection->GetSize(); ++i)
        labels << QString::fromLatin1(m_pSelection->GetAt(i)->label.GetText());
    m_strPoints = labels.join(QStringLiteral(", "));
    m_bRelabelObservations = m_pPointSet->isDriver || m_pPointSet->isControl;
    UpdateData(false);
    OnOrientationChanged();
    return true;
}

void CPointRelabelExDlg::OnOrientationChanged()
{
    UpdateData(true);
    for (int id : {kLeftToRight, kRightToLeft})
        GetDlgItem(id)->setEnabled(m_nOrientation == 0);
    for (int id : {kTopToBottom, kBottomToTop})
        GetDlgItem(id)->setEnabled(m_nOrientation == 1);
}

bool CPointRelabelExDlg::IsSelectedLabel(const CNameBuffer& label) const
{
    for (int i = 0; i < m_pSelection->GetSize(); ++i)
        if (m_pSelection->GetAt(i)->label == label)
            return true;
    return false;
}

bool CPointRelabelExDlg::IsPointLabelInUse(const CNameBuffer& label, bool observations) const
{
    if (IsSelectedLabel(label))
        return false;
    for (int i = 0; i < m_pPointSet->GetSize(); ++i)
        if (m_pPointSet->GetAt(i)->label == label)
            return true;
    const CKestrelonDoc* doc = observations ? GetActiveKestrelonDoc() : nullptr;
    for (int i = 0; doc && i < doc->images.GetSize(); ++i)
        if (doc->images.GetAt(i)->FindObservation(label))
            return true;
    return false;
}

void CPointRelabelExDlg::OnOK()
{
    if (!UpdateData(true))
        return;
    const std::string start = ToCp1252(m_strStartLabel.trimmed());
    CNameBuffer label;
    if (start.empty() || !label.Set(start.c_str())) {
        AfxMessageBox(("Invalid start label " + start).c_str(), MB_OK | MB_ICONERROR, "Relabelling Point");
        return;
    }
    const int count = m_pSelection->GetSize();
    if (m_nIncrement == 0 && count > 1) {
        AfxMessageBox("The label increment must not be 0", MB_OK | MB_ICONERROR, "Relabelling Point");
        return;
    }
    std::vector<CNameBuffer> labels;
    for (int i = 0; i < count; ++i) {
        if (IsPointLabelInUse(label, m_bRelabelObservations == 1)) {
            AfxMessageBox(("Pointlabel " + std::string(label.GetText()) + " already in use!").c_str(),
                          MB_OK | MB_ICONERROR, "Relabelling Point");
            return;
        }
        labels.push_back(label);
        const CNameBuffer before = label;
        label.AddToNumber(m_nIncrement);
        if (i + 1 < count && label == before) { // the number ran out of room
            AfxMessageBox(("Pointlabel " + std::string(label.GetText()) + " already in use!").c_str(),
                          MB_OK | MB_ICONERROR, "Relabelling Point");
            return;
        }
    }

    double d[3] = {m_vLineDirection[0], m_vLineDirection[1], m_vLineDirection[2]};
    const bool reverse = m_nOrientation == 0
                             ? (d[0] < 0 && m_nHorizontalOrder == 0) || (d[0] > 0 && m_nHorizontalOrder == 1)
                             : (d[1] > 0 && m_nVerticalOrder == 0) || (d[1] < 0 && m_nVerticalOrder == 1);
    if (reverse)
        for (double& c : d)
            c = -c;
    struct Entry {
        double t;
        CNameBuffer oldLabel;
    };
    std::vector<Entry> order;
    for (int i = 0; i < count; ++i) {
        const CObjectPoint* p = m_pSelection->GetAt(i);
        order.push_back({(p->x - m_vLinePoint[0]) * d[0] + (p->y - m_vLinePoint[1]) * d[1] +
                             (p->z - m_vLinePoint[2]) * d[2],
                         p->label});
    }
    std::stable_sort(order.begin(), order.end(), [](const Entry& a, const Entry& b) { return a.t < b.t; });

    // Every target is found by its old label before any is renamed, so a
    // new label equal to another selected point's old one renames nothing twice.
    std::vector<CObjectPoint*> targets;
    for (const Entry& e : order)
        targets.push_back(m_pPointSet->FindPoint(e.oldLabel));
    CKestrelonDoc* doc = m_bRelabelObservations ? GetActiveKestrelonDoc() : nullptr;
    for (int n = 0; doc && n < doc->images.GetSize(); ++n) {
        CProjectImage* image = doc->images.GetAt(n);
        std::vector<CImageObservation*> observations;
        for (const Entry& e : order)
            observations.push_back(image->FindObservation(e.oldLabel));
        for (size_t k = 0; k < order.size(); ++k)
            if (observations[k])
                observations[k]->SetLabel(labels[k]);
        image->targets.SortByLabel();
    }
    for (size_t k = 0; k < order.size(); ++k)
        if (targets[k])
            targets[k]->label = labels[k];
    m_pPointSet->SortByLabel();
    if (memory)
        memory->startLabel = labels.back();
    EndDialog(QDialog::Accepted);
}
