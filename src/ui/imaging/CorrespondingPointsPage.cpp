#include "CorrespondingPointsPage.h"

#include "Controls.h"
#include "ProjectDocument.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

QLineEdit* Edit(int id)
{
    auto* edit = new QLineEdit;
    edit->setObjectName(IdName(id));
    return edit;
}

template <class T>
T* Button(int id, const char* text)
{
    auto* button = new T(QString::fromLatin1(text));
    button->setObjectName(IdName(id));
    return button;
}

} // namespace

CCorrespondingPointsPage::CCorrespondingPointsPage(const CProjectDocument* doc)
    : CPropertyPage(290, QStringLiteral("Corresponding Points")), m_pDoc(doc), m_editUnits(new CNumberEdit(2)),
      m_editSizes(new CNumberEdit(2))
{
    m_editUnits->setObjectName(IdName(1307));
    m_editSizes->setObjectName(IdName(1347));

    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    const struct {
        const char* text;
        int id;
        const char* unit;
    } rows[] = {{"Max. epipolar angle diff. for points", 1300, "[grad]"},
                {"Max. error for driveback", 1305, "[pixel]"},
                {"Min. point intersection angle", 1309, "[grad]"}};
    for (int r = 0; r < 3; ++r) {
        grid->addWidget(new QLabel(QString::fromLatin1(rows[r].text)), r, 0);
        grid->addWidget(Edit(rows[r].id), r, 1);
        grid->addWidget(new QLabel(QString::fromLatin1(rows[r].unit)), r, 2);
    }
    layout->addLayout(grid);

    auto* close = Button<QCheckBox>(1344, "Find points only close to  EO device");
    layout->addWidget(close);
    auto* distance = new QGroupBox;
    auto* distanceGrid = new QGridLayout(distance);
    auto* label = new QLabel(QStringLiteral("Max 3D distance to EO device"));
    label->setObjectName(IdName(1348));
    distanceGrid->addWidget(label, 0, 0, 1, 2);
    auto* sizes = Button<QRadioButton>(1345, "In EO device sizes");
    auto* units = Button<QRadioButton>(1346, "In project units");
    distanceGrid->addWidget(sizes, 1, 0);
    distanceGrid->addWidget(m_editSizes, 1, 1);
    distanceGrid->addWidget(units, 2, 0);
    distanceGrid->addWidget(m_editUnits, 2, 1);
    layout->addWidget(distance);
    layout->addWidget(Button<QCheckBox>(1343, "Accept 2 ray points"));
    auto* prefix = new QGridLayout;
    prefix->addWidget(new QLabel(QStringLiteral("Prefix of new points")), 0, 0);
    prefix->addWidget(Edit(1358), 0, 1);
    layout->addLayout(prefix);
    layout->addStretch();

    QObject::connect(close, &QCheckBox::clicked, this, [this] { OnCloseToEODevice(); });
    QObject::connect(sizes, &QRadioButton::clicked, this, [this] { OnInEODeviceSizes(); });
    QObject::connect(units, &QRadioButton::clicked, this, [this] { OnInProjectUnits(); });
    m_editSizes->notify = [this](unsigned, CNumberEdit*) { OnSizesEditChanged(); };
    m_editUnits->notify = [this](unsigned, CNumberEdit*) { OnUnitsEditChanged(); };
}

void CCorrespondingPointsPage::DoDataExchange(CDataExchange* dx)
{
    DDX_Text(dx, 1309, m_dMinIntersectionAngle);
    DDX_Text(dx, 1305, m_dDrivebackError);
    DDX_Text(dx, 1300, m_dEpipolarDifference);
    DDX_Text(dx, 1358, m_strPrefix);
    if (dx->Failed())
        return;
    auto* accept = Item<QCheckBox>(1343);
    auto* close = Item<QCheckBox>(1344);
    if (dx->m_bSaveAndValidate) {
        m_bAcceptTwoRays = accept->isChecked() ? 1 : 0;
        m_bCloseToEODevice = close->isChecked() ? 1 : 0;
        // Without an EO device the distance fields stay empty: the distance is kept.
        if (m_dEODeviceSize != 0.0)
            m_dDistanceInSizes = m_editSizes->GetValue();
        return;
    }
    accept->setChecked(m_bAcceptTwoRays != 0);
    close->setChecked(m_bCloseToEODevice != 0);
    if (m_dEODeviceSize != 0.0) {
        m_editSizes->SetValue(m_dDistanceInSizes);
        m_editUnits->SetValue(m_dDistanceInSizes * m_dEODeviceSize);
    }
}

bool CCorrespondingPointsPage::OnInitDialog()
{
    const CProjectDocument* doc = m_pDoc ? m_pDoc : GetActiveProjectDoc();
    m_dEODeviceSize = doc && doc->eoDevice.GetSize() > 0 ? doc->eoDevice.GetExtentDiagonal() : 0.0;
    CPropertyPage::OnInitDialog();
    if (m_dEODeviceSize != 0.0) {
        OnInEODeviceSizes();
        return true;
    }
    Item<QCheckBox>(1344)->setChecked(false);
    GetDlgItem(1344)->setEnabled(false);
    EnableDistanceControls();
    return true;
}

void CCorrespondingPointsPage::EnableDistanceControls()
{
    const bool on = Item<QCheckBox>(1344)->isChecked();
    const bool inSizes = Item<QRadioButton>(1345)->isChecked();
    for (int id : {1348, 1345, 1346})
        GetDlgItem(id)->setEnabled(on);
    m_editSizes->setEnabled(on && inSizes);
    m_editUnits->setEnabled(on && !inSizes);
}

void CCorrespondingPointsPage::OnCloseToEODevice()
{
    EnableDistanceControls();
}

void CCorrespondingPointsPage::OnInEODeviceSizes()
{
    Item<QRadioButton>(1345)->setChecked(true);
    Item<QRadioButton>(1346)->setChecked(false);
    EnableDistanceControls();
}

void CCorrespondingPointsPage::OnInProjectUnits()
{
    Item<QRadioButton>(1346)->setChecked(true);
    Item<QRadioButton>(1345)->setChecked(false);
    EnableDistanceControls();
}

void CCorrespondingPointsPage::OnSizesEditChanged()
{
    m_editUnits->SetValue(m_editSizes->GetValue() * m_dEODeviceSize);
}

void CCorrespondingPointsPage::OnUnitsEditChanged()
{
    if (m_dEODeviceSize != 0.0)
        m_editSizes->SetValue(m_editUnits->GetValue() / m_dEODeviceSize);
}
