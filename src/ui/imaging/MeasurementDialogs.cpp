#include "MeasurementDialogs.h"

#include "CentroidSettings.h"
#include "MainFrame.h"
#include "MeasurementTool.h"
#include "Message.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <cstring>

namespace {

template <class T>
T* Make(int id, const QString& text = QString())
{
    T* w = new T;
    w->setObjectName(QStringLiteral("id%1").arg(id));
    if (!text.isEmpty())
        w->setText(text);
    return w;
}

QComboBox* MakeCombo(int id, const QStringList& items)
{
    auto* combo = new QComboBox;
    combo->setObjectName(QStringLiteral("id%1").arg(id));
    combo->addItems(items);
    return combo;
}

// Index of the letter in the list, -1 when it is none of them.
int IndexOf(const char* letters, char letter)
{
    const char* at = letter ? std::strchr(letters, letter) : nullptr;
    return at ? int(at - letters) : -1;
}

constexpr char kShapes[] = "chltvp";
constexpr char kThresholds[] = "brsw";

} // namespace

// --- Centroid Calculation Parameters -----------------------------------------

CCentroidParametersDlg::CCentroidParametersDlg(QWidget* parent) : CDialog(157, parent)
{
    setWindowTitle(QStringLiteral("Centroid Calculation Parameters"));
    auto* grid = new QGridLayout;
    int row = 0;
    grid->addWidget(Make<QLabel>(1159, QStringLiteral("Background Threshold")), row, 0);
    auto* threshold = MakeCombo(1160, {QStringLiteral("Border Offset"), QStringLiteral("Random Noise"),
                                       QStringLiteral("Scaled Range"), QStringLiteral("Window Mean")});
    grid->addWidget(threshold, row++, 1);
    grid->addWidget(Make<QLabel>(1161, QStringLiteral("BT Value")), row, 0);
    grid->addWidget(Make<QLineEdit>(1756), row++, 1);
    grid->addWidget(Make<QLabel>(1758, QStringLiteral("Image Shape")), row, 0);
    auto* shape = MakeCombo(1757, {QStringLiteral("Circular"), QStringLiteral("Horizontal Line"),
                                   QStringLiteral("Leading Diag"), QStringLiteral("Trailing Diag"),
                                   QStringLiteral("Vertical Line"), QStringLiteral("Vertical Plumb Line")});
    grid->addWidget(shape, row++, 1);
    auto* shapeTesting = Make<QCheckBox>(1571, QStringLiteral("Shape Testing Applied"));
    grid->addWidget(shapeTesting, row++, 0, 1, 2);
    grid->addWidget(Make<QLabel>(1569, QStringLiteral("X/Y Ratio")), row, 0);
    grid->addWidget(Make<QLineEdit>(1570), row++, 1);
    grid->addWidget(new QLabel(QStringLiteral("Min Target")), row, 0);
    grid->addWidget(Make<QLineEdit>(1566), row++, 1);
    grid->addWidget(new QLabel(QStringLiteral("Grey Range")), row, 0);
    grid->addWidget(Make<QLineEdit>(1568), row++, 1);
    grid->addWidget(new QLabel(QStringLiteral("Weighting")), row, 0);
    grid->addWidget(Make<QLineEdit>(1762), row++, 1);
    grid->addWidget(Make<QLabel>(1163, QStringLiteral("Window Size")), row, 0);
    grid->addWidget(Make<QLineEdit>(1164), row++, 1);
    grid->addWidget(Make<QCheckBox>(1574, QStringLiteral("Invert Pixel Values")), row++, 0, 1, 2);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("id1"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("id2"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(buttons);

    QObject::connect(shapeTesting, &QCheckBox::clicked, this, [this] { OnShapeTesting(); });
    QObject::connect(shape, qOverload<int>(&QComboBox::activated), this, [this] { OnImageShapeChanged(); });
    QObject::connect(threshold, qOverload<int>(&QComboBox::activated), this,
                     [this] { OnBackgroundThresholdChanged(); });
}

void CCentroidParametersDlg::DoDataExchange(CDataExchange* dx)
{
    DDX_Check(dx, 1574, m_bInvert);
    DDX_Check(dx, 1571, m_bShapeTesting);
    DDX_Text(dx, 1756, m_dBTValue);
    DDX_Text(dx, 1566, m_nMinTarget);
    DDV_MinMaxInt(dx, m_nMinTarget, 2, 64);
    DDX_Text(dx, 1568, m_nGreyRange);
    DDV_MinMaxInt(dx, m_nGreyRange, 0, 255);
    DDX_Text(dx, 1762, m_nWeighting);
    DDV_MinMaxInt(dx, m_nWeighting, 0, 2);
    DDX_Text(dx, 1570, m_dXYRatio);
    DDX_CBIndex(dx, 1160, m_nBackgroundThreshold);
    DDX_CBIndex(dx, 1757, m_nImageShape);
    DDX_Text(dx, 1164, m_nWindowSize);
    DDV_MinMaxInt(dx, m_nWindowSize, 2, 128);
}

void CCentroidParametersDlg::ShowRatio(bool show)
{
    GetDlgItem(1569)->setVisible(show);
    GetDlgItem(1570)->setVisible(show);
}

bool CCentroidParametersDlg::OnInitDialog()
{
    const CCentroidSettings& s = GetCentroidSettings();
    m_bInvert = s.invert ? 1 : 0;
    m_bShapeTesting = s.shapeTesting ? 1 : 0;
    m_dBTValue = s.thresholdValue;
    m_nMinTarget = s.minTargetSize;
    m_nGreyRange = s.minGreyRange;
    m_nWeighting = s.weighting == '0' ? 0 : s.weighting == '2' ? 2 : 1;
    m_dXYRatio = s.xyRatio;
    m_nBackgroundThreshold = IndexOf(kThresholds, s.thresholdMethod);
    m_nImageShape = IndexOf(kShapes, s.targetType);
    m_nWindowSize = s.windowSize;
    if (m_nImageShape != 0) {
        ShowRatio(false);
        GetDlgItem(1571)->hide();
    } else {
        ShowRatio(m_bShapeTesting != 0);
    }
    if (m_nBackgroundThreshold != 0 && m_nBackgroundThreshold != 2) {
        GetDlgItem(1161)->hide();
        GetDlgItem(1756)->hide();
    }
    UpdateData(false);
    return true;
}

void CCentroidParametersDlg::OnShapeTesting()
{
    UpdateData(true);
    ShowRatio(m_bShapeTesting != 0);
}

void CCentroidParametersDlg::OnImageShapeChanged()
{
    UpdateData(true);
    const bool circular = m_nImageShape == 0;
    ShowRatio(circular && m_bShapeTesting != 0);
    GetDlgItem(1571)->setVisible(circular);
}

void CCentroidParametersDlg::OnBackgroundThresholdChanged()
{
    UpdateData(true);
    const bool shown = m_nBackgroundThreshold == 0 || m_nBackgroundThreshold == 2;
    GetDlgItem(1161)->setVisible(shown);
    GetDlgItem(1756)->setVisible(shown);
}

void CCentroidParametersDlg::OnOK()
{
    if (!UpdateData(true))
        return;
    SetCentroidWindowSize(m_nWindowSize, 1);
    CCentroidSettings& s = GetCentroidSettings();
    s.minGreyRange = std::uint8_t(m_nGreyRange);
    s.minTargetSize = m_nMinTarget;
    s.shapeTesting = m_bShapeTesting == 1;
    s.invert = m_bInvert == 1;
    s.xyRatio = m_dXYRatio;
    s.thresholdValue = m_dBTValue;
    s.targetType = m_nImageShape >= 1 && m_nImageShape <= 5 ? kShapes[m_nImageShape] : 'c';
    s.thresholdMethod = m_nBackgroundThreshold == 0 ? 'b' : m_nBackgroundThreshold == 2 ? 's'
                        : m_nBackgroundThreshold == 3 ? 'w' : 'r';
    s.weighting = m_nWeighting == 0 ? '0' : m_nWeighting == 2 ? '2' : '1';
    EndDialog(QDialog::Accepted);
}

// --- Measure New Point ----------------------------------------------------------

CMeasureNewPointDlg::CMeasureNewPointDlg(QWidget* parent) : CDialog(291, parent)
{
    setWindowTitle(QStringLiteral("Kestrelon - Measure New Point"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Point Coordinates already exist. Add New Observation?")));
    layout->addWidget(Make<QCheckBox>(1323, QStringLiteral("Replace Old Observation.")));
    auto* buttons = new QDialogButtonBox;
    QPushButton* yes = buttons->addButton(QStringLiteral("Yes"), QDialogButtonBox::AcceptRole);
    QPushButton* no = buttons->addButton(QStringLiteral("No"), QDialogButtonBox::RejectRole);
    yes->setObjectName(QStringLiteral("id1"));
    no->setObjectName(QStringLiteral("id2"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

void CMeasureNewPointDlg::DoDataExchange(CDataExchange* dx)
{
    DDX_Check(dx, 1323, m_bReplaceOld);
}

void InstallMeasureNewPointDialog(bool install)
{
    if (!install) {
        SetMeasureNewPointHandler(nullptr);
        return;
    }
    SetMeasureNewPointHandler([](bool& replaceOld) {
        CMeasureNewPointDlg dialog(AfxGetMainFrame());
        dialog.m_bReplaceOld = replaceOld ? 1 : 0;
        const bool yes = dialog.DoModal() == QDialog::Accepted;
        if (yes)
            replaceOld = dialog.m_bReplaceOld != 0;
        return yes ? IDYES : IDNO;
    });
}
