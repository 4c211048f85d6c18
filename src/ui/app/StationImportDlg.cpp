#include "StationImportDlg.h"

#include "OkCancelButtons.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>

// ---------------------------------------------------------------------------
// CStationImportDlg

CStationImportDlg::CStationImportDlg(QWidget* parent) : CDialog(350, parent), m_FormatCombo(new QComboBox)
{
    setWindowTitle(QStringLiteral("Station Import Dialog"));
    m_FormatCombo->setObjectName(IdName(1383));
    auto* check = new QCheckBox(QStringLiteral("Accept imported stations as resected"));
    check->setObjectName(IdName(1416));
    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QStringLiteral("Choose File Format")), 0, 0);
    grid->addWidget(m_FormatCombo, 1, 0);
    grid->addWidget(check, 2, 0);
    grid->addWidget(NewOkCancelButtons(this), 0, 1, 3, 1, Qt::AlignTop);
    resize(323, 127);
}

bool CStationImportDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    m_FormatCombo->clear();
    m_FormatCombo->addItem(QStringLiteral("Standard (Xs Ys Zs A E R)"));
    m_FormatCombo->addItem(QStringLiteral("Aim Point (Xs Ys Zs Xa Ya Za R)"));
    m_nFormat = 0;
    m_FormatCombo->setCurrentIndex(0);
    return true;
}

void CStationImportDlg::OnOK()
{
    m_nFormat = m_FormatCombo->currentIndex();
    CDialog::OnOK();
}

void CStationImportDlg::DoDataExchange(CDataExchange* dx)
{
    DDX_Check(dx, 1416, m_bAcceptResected);
}
