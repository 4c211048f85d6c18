#include "321Dialog.h"

#include "KestrelonDoc.h"
#include "Message.h"
#include "NewmatLock.h"
#include "OkCancelButtons.h"
#include "PointSet.h"
#include "ThreeTwoOne.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QVBoxLayout>

#include <newmat/newmat.h>

#include <utility>

namespace {

Preview321Finder& PreviewFinder()
{
    static Preview321Finder finder;
    return finder;
}

const char* const kBoxTexts[6] = {"+X", "+Y", "+Z", "-X", "-Y", "-Z"};

// A group of a point combo and, when given, six direction boxes.
QGroupBox* MakeGroup(const QString& title, int comboId, const int* boxIds)
{
    auto* group = new QGroupBox(title);
    auto* grid = new QGridLayout(group);
    auto* combo = new QComboBox;
    combo->setObjectName(QStringLiteral("id%1").arg(comboId));
    grid->addWidget(combo, 0, 0, 1, 3);
    if (boxIds) {
        for (int i = 0; i < 6; ++i) {
            auto* box = new QCheckBox(QString::fromLatin1(kBoxTexts[i]));
            box->setObjectName(QStringLiteral("id%1").arg(boxIds[i]));
            grid->addWidget(box, 1 + i / 3, i % 3);
        }
    }
    return group;
}

NEWMAT::Matrix HomogeneousColumn(const CObjectPoint& p)
{
    NEWMAT::Matrix c(4, 1);
    c(1, 1) = p.x;
    c(2, 1) = p.y;
    c(3, 1) = p.z;
    c(4, 1) = 1.0;
    return c;
}

// A row-major 4x4 transformation as a matrix (under a NewmatLock).
NEWMAT::Matrix ToMatrix(const double (&t)[4][4])
{
    NEWMAT::Matrix T(4, 4);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            T(i + 1, j + 1) = t[i][j];
    return T;
}

} // namespace

Preview321Finder Set321PreviewFinder(Preview321Finder finder)
{
    return std::exchange(PreviewFinder(), std::move(finder));
}

C321Dialog::C321Dialog(CPointSet* set, QWidget* parent) : CDialog(236, parent), pointSet(set)
{
    setWindowTitle(QStringLiteral("3-2-1..."));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(MakeGroup(QStringLiteral("Point to form origin"), kOriginCombo, nullptr));
    layout->addWidget(MakeGroup(QStringLiteral("Point to define axis"), kAxisCombo, kAxisBoxes));
    layout->addWidget(MakeGroup(QStringLiteral("Point to fall on plane"), kPlaneCombo, kPlaneBoxes));
    layout->addWidget(NewOkCancelButtons(this));

    // clicked, not toggled: the handlers check and uncheck boxes themselves.
    for (int i = 0; i < 6; ++i) {
        const int letter = i % 3, sign = i < 3 ? 1 : -1;
        QObject::connect(Item<QCheckBox>(kAxisBoxes[i]), &QCheckBox::clicked, this,
                         [this, letter, sign] { OnAxis(letter, sign); });
        QObject::connect(Item<QCheckBox>(kPlaneBoxes[i]), &QCheckBox::clicked, this,
                         [this, letter, sign] { OnPlane(letter, sign); });
    }
    const int combos[3] = {kOriginCombo, kAxisCombo, kPlaneCombo};
    for (int slot = 0; slot < 3; ++slot)
        QObject::connect(Item<QComboBox>(combos[slot]), qOverload<int>(&QComboBox::activated), this,
                         [this, slot] { OnPointSelected(slot); });
}

void C321Dialog::SetSelectedPoints(CObjectPoint* origin, CObjectPoint* axis, CObjectPoint* plane)
{
    points[0] = origin;
    points[1] = axis;
    points[2] = plane;
}

bool C321Dialog::OnInitDialog()
{
    for (int id : {kOriginCombo, kAxisCombo, kPlaneCombo})
        if (!Item<QComboBox>(id))
            return false;
    for (int i = 0; i < 6; ++i)
        if (!Item<QCheckBox>(kAxisBoxes[i]) || !Item<QCheckBox>(kPlaneBoxes[i]))
            return false;
    FillPointCombos();
    OnAxis(0, 1);
    OnPlane(1, 1);
    return true;
}

void C321Dialog::FillPointCombos()
{
    const int ids[3] = {kOriginCombo, kAxisCombo, kPlaneCombo};
    QStringList labels;
    if (pointSet)
        for (int i = 0; i < pointSet->GetSize(); ++i)
            if (const CObjectPoint* p = pointSet->GetAt(i))
                labels << QString::fromLatin1(p->label.GetText());
    const bool preset = points[0] && points[1] && points[2];
    for (int slot = 0; slot < 3; ++slot) {
        QComboBox* combo = Item<QComboBox>(ids[slot]);
        combo->clear();
        combo->addItems(labels);
        combo->setCurrentIndex(preset ? combo->findText(QString::fromLatin1(points[slot]->label.GetText())) : -1);
    }
    CompleteAxisMatrix();
    UpdatePreview();
}

void C321Dialog::CompleteAxisMatrix()
{
    const int a = axisIndex, p = planeIndex;
    if (a == p || a < 0 || a > 2 || p < 0 || p > 2)
        return;
    const int third = 3 - a - p;
    const bool cyclic = (a == 0 && p == 1) || (a == 1 && p == 2) || (a == 2 && p == 0);
    const double* u = cyclic ? axisMatrix[a] : axisMatrix[p];
    const double* v = cyclic ? axisMatrix[p] : axisMatrix[a];
    axisMatrix[third][0] = u[1] * v[2] - u[2] * v[1];
    axisMatrix[third][1] = u[2] * v[0] - u[0] * v[2];
    axisMatrix[third][2] = u[0] * v[1] - u[1] * v[0];
}

bool C321Dialog::AnyChecked(const int (&ids)[6]) const
{
    for (int id : ids)
        if (Item<QCheckBox>(id)->isChecked())
            return true;
    return false;
}

C321Preview* C321Dialog::FindPreview() const
{
    CKestrelonDoc* doc = GetActiveKestrelonDoc();
    const Preview321Finder& finder = PreviewFinder();
    return doc && finder ? finder(doc) : nullptr;
}

bool C321Dialog::ComputeTransformation(CObjectPoint* const (&chosen)[3])
{
    CompleteAxisMatrix();
    NewmatLock lock;
    try {
        NEWMAT::Matrix M(3, 3), T;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                M(i + 1, j + 1) = axisMatrix[i][j];
        if (!ComputeThreeTwoOneTransformation(M, T, HomogeneousColumn(*chosen[0]), HomogeneousColumn(*chosen[1]),
                                              HomogeneousColumn(*chosen[2])))
            return false;
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j)
                transformation[i][j] = T(i + 1, j + 1);
        return true;
    } catch (const RBD_COMMON::BaseException&) {
        return false;
    }
}

void C321Dialog::UpdatePreview()
{
    C321Preview* preview = FindPreview();
    if (!preview)
        return;
    const bool chosen = AnyChecked(kAxisBoxes) && AnyChecked(kPlaneBoxes) && points[0] && points[1] && points[2] &&
                        points[0] != points[1] && points[0] != points[2] && points[1] != points[2];
    if (!chosen || !ComputeTransformation(points)) {
        // No frame for this choice: the view shows none rather than an old one.
        if (previewShown) {
            previewShown = false;
            preview->SetPreviewFlag(0);
            preview->InvalidatePreview();
        }
        return;
    }
    previewShown = true;
    preview->SetPreviewFlag(1);
    preview->InvalidatePreview();
    NewmatLock lock;
    try {
        preview->SetPreviewMatrix(ToMatrix(transformation));
    } catch (const RBD_COMMON::BaseException&) {
    }
}

void C321Dialog::OnAxis(int letter, int sign)
{
    axisIndex = letter;
    axisMatrix[letter][0] = sign;
    axisMatrix[letter][1] = 0.0;
    axisMatrix[letter][2] = 0.0;
    for (int i = 0; i < 6; ++i)
        Item<QCheckBox>(kAxisBoxes[i])->setChecked(i == BoxIndex(letter, sign));
    for (int i = 0; i < 6; ++i) {
        QCheckBox* box = Item<QCheckBox>(kPlaneBoxes[i]);
        const bool sameLetter = i % 3 == letter;
        if (sameLetter)
            box->setChecked(false);
        box->setEnabled(!sameLetter);
    }
    if (planeIndex == letter)
        OnPlane(letter == 0 ? 1 : 0, 1);
    UpdatePreview();
}

void C321Dialog::OnPlane(int letter, int sign)
{
    planeIndex = letter;
    axisMatrix[letter][0] = 0.0;
    axisMatrix[letter][1] = sign;
    axisMatrix[letter][2] = 0.0;
    for (int i = 0; i < 6; ++i)
        Item<QCheckBox>(kPlaneBoxes[i])->setChecked(i == BoxIndex(letter, sign));
    if (axisIndex == letter)
        OnAxis(letter == 0 ? 1 : 0, 1);
    UpdatePreview();
}

void C321Dialog::OnPointSelected(int slot)
{
    const int ids[3] = {kOriginCombo, kAxisCombo, kPlaneCombo};
    const QByteArray text = Item<QComboBox>(ids[slot])->currentText().toLatin1();
    points[slot] = pointSet ? pointSet->FindPointByText(text.constData()) : nullptr;
    UpdatePreview();
}

void C321Dialog::OnOK()
{
    if (!AnyChecked(kAxisBoxes) || !AnyChecked(kPlaneBoxes)) {
        AfxMessageBox("Please select axis and plane information");
        return;
    }
    const int ids[3] = {kOriginCombo, kAxisCombo, kPlaneCombo};
    CObjectPoint* chosen[3] = {nullptr, nullptr, nullptr};
    for (int slot = 0; slot < 3; ++slot) {
        const QByteArray text = Item<QComboBox>(ids[slot])->currentText().toLatin1();
        chosen[slot] = pointSet ? pointSet->FindPointByText(text.constData()) : nullptr;
    }
    if (!chosen[0] || !chosen[1] || !chosen[2]) {
        AfxMessageBox("3 points were not selected");
        return;
    }
    if (chosen[0] == chosen[1] || chosen[0] == chosen[2] || chosen[1] == chosen[2]) {
        AfxMessageBox("Please select 3 different points");
        return;
    }
    // Points on one line would collapse the set (and every pose) for good.
    if (!ComputeTransformation(chosen)) {
        AfxMessageBox("Please select 3 points that are not on one line");
        return;
    }
    {
        NewmatLock lock;
        try {
            const NEWMAT::Matrix T = ToMatrix(transformation);
            pointSet->TransformPoints(T);
            CKestrelonDoc* doc = GetActiveKestrelonDoc();
            if (doc && doc->pointSets.GetDriverSet() == pointSet)
                for (int i = 0; i < doc->images.GetSize(); ++i)
                    if (CProjectImage* image = doc->images.GetAt(i))
                        image->ApplyTransformation(T);
        } catch (const RBD_COMMON::BaseException&) {
            return;
        }
    }
    EndDialog(QDialog::Accepted);
}
