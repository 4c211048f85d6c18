#include "DeviceDialogs.h"

#include "Controls.h"
#include "DateStamp.h"
#include "EODevice.h"
#include "Hooks.h"
#include "Hub.h"
#include "KestrelonApp.h"
#include "KestrelonDoc.h"
#include "Message.h"
#include "OkCancelButtons.h"
#include "PointList.h"
#include "ScaleBar.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>

namespace {

QLineEdit* NewEdit(int id)
{
    auto* edit = new QLineEdit;
    edit->setObjectName(IdName(id));
    return edit;
}

QComboBox* NewCombo(int id, bool editable)
{
    auto* combo = new QComboBox;
    combo->setObjectName(IdName(id));
    combo->setEditable(editable);
    if (editable) {
        combo->setInsertPolicy(QComboBox::NoInsert);
        // No inline completion: the name stored is the text the box shows.
        combo->setCompleter(nullptr);
    }
    return combo;
}

// A text check of the exchange: the message when the condition fails.
void Require(CDataExchange* dx, bool condition, const char* message)
{
    if (dx->m_bSaveAndValidate && !dx->Failed() && !condition)
        dx->Fail(QString::fromLatin1(message));
}

// The typed name of an editable combo: stored when saving, shown when loading.
void ExchangeTypedName(CDataExchange* dx, QComboBox* combo, const QString& typed, QString& member)
{
    if (dx->Failed())
        return;
    if (!dx->m_bSaveAndValidate) {
        combo->setEditText(member);
        return;
    }
    const QString old = member;
    QString* where = &member;
    dx->Keep(where, [where, old] { *where = old; });
    member = typed;
}

QString Text(const CDynString& text)
{
    return FromCp1252(text.GetText());
}

// Chooses an entry of an editable name combo without signals, keeping the typed text.
void ShowEntry(QComboBox* combo, int index, const QString& typed)
{
    const QSignalBlocker blocker(combo);
    combo->setCurrentIndex(index);
    combo->setEditText(typed);
}

} // namespace

// --- CScaleBarsDlg ----------------------------------------------------------

CScaleBarsDlg::CScaleBarsDlg(CScaleBarList* list, int index, QWidget* parent)
    : CDialog(1544, parent), m_nCurrent(index), m_NameCombo(NewCombo(1086, true)), m_pList(list)
{
    CKestrelonApp* app = AfxGetApp();
    if (!m_pList && app)
        m_pList = &app->scaleBarDatabase;
    m_bDatabase = app && m_pList == &app->scaleBarDatabase;
    m_nInitial = index;
    setWindowTitle(QStringLiteral("ScaleBars Dialog"));
    auto* grid = new QGridLayout(this);
    int row = 0;
    auto add = [&](const char* label, QWidget* field) {
        grid->addWidget(new QLabel(QString::fromLatin1(label)), row, 0);
        grid->addWidget(field, row++, 1, 1, 2);
    };
    add("ScaleBar Name", m_NameCombo);
    add("Version", NewEdit(1085));
    add("Calibrated Length", NewEdit(1078));
    add("Standard Deviation", NewEdit(1104));
    add("Units", NewEdit(1074));
    add("Material", NewEdit(1075));
    add("Calibrated Temperature", NewEdit(1077));
    add("Temperature Units", NewEdit(1076));
    grid->addWidget(new QLabel(QStringLiteral("End Point Target IDs")), row, 0);
    grid->addWidget(NewEdit(1079), row, 1);
    grid->addWidget(NewEdit(1080), row++, 2);
    grid->addWidget(NewOkCancelButtons(this), row, 0, 1, 3);
    connect(m_NameCombo->lineEdit(), &QLineEdit::textEdited, this, [this](const QString& text) { m_strTyped = text; });
    connect(m_NameCombo, &QComboBox::currentIndexChanged, this, [this] { OnSelChangeName(); });
}

void CScaleBarsDlg::DoDataExchange(CDataExchange* dx)
{
    DDX_Text(dx, 1078, m_dCalibratedLength);
    Require(dx, m_dCalibratedLength > 0.0, "Calibration Length has to be greater than 0");
    DDX_Text(dx, 1077, m_dCalibratedTemperature);
    DDX_Text(dx, 1075, m_strMaterial);
    ExchangeTypedName(dx, m_NameCombo, m_strTyped, m_strName);
    DDX_Text(dx, 1076, m_strTemperatureUnits);
    DDX_Text(dx, 1074, m_strUnits);
    DDX_Text(dx, 1085, m_nVersion);
    DDX_Text(dx, 1104, m_dStandardDeviation);
    Require(dx, m_dStandardDeviation > 0.0, "Standard Deviation has to be greater than 0");
    DDX_Text(dx, 1079, m_strEndLabel1);
    Require(dx, !m_strEndLabel1.trimmed().isEmpty(), "Empty Point Label not Allowed.");
    DDX_Text(dx, 1080, m_strEndLabel2);
    Require(dx, !m_strEndLabel2.trimmed().isEmpty(), "Empty Point Label not Allowed.");
}

void CScaleBarsDlg::FillNameCombo()
{
    const QSignalBlocker blocker(m_NameCombo);
    m_NameCombo->clear();
    for (int i = 0; m_pList && i < m_pList->GetSize(); ++i)
        m_NameCombo->addItem(Text(m_pList->GetAt(i)->name));
    m_NameCombo->setCurrentIndex(m_nCurrent);
    m_NameCombo->setEditText(m_strTyped);
}

void CScaleBarsDlg::Reselect(int index)
{
    ShowEntry(m_NameCombo, index, m_strTyped);
}

bool CScaleBarsDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    if (m_nCurrent < 0)
        m_nCurrent = 0;
    m_nInitial = m_nCurrent;
    m_bInitialBarSaved = 0;
    if (!m_pList || m_nCurrent >= m_pList->GetSize())
        return true;
    const CScaleBar& bar = *m_pList->GetAt(m_nCurrent);
    m_strTyped = Text(bar.name);
    FillNameCombo();
    LoadBar(bar);
    m_strStoredName = Text(bar.name);
    return true;
}

void CScaleBarsDlg::LoadBar(const CScaleBar& bar)
{
    m_strName = m_strTyped = Text(bar.name);
    m_dCalibratedLength = bar.calibratedLength;
    m_dStandardDeviation = bar.standardDeviation;
    m_dCalibratedTemperature = bar.calibratedTemperature;
    m_strMaterial = Text(bar.material);
    m_strTemperatureUnits = Text(bar.temperatureUnits);
    m_strUnits = Text(bar.units);
    m_nVersion = bar.version;
    m_strEndLabel1 = QString::fromLatin1(bar.endLabel1.GetText());
    m_strEndLabel2 = QString::fromLatin1(bar.endLabel2.GetText());
    Reselect(m_nCurrent);
    UpdateData(false);
}

bool CScaleBarsDlg::SaveIntoBar(CScaleBar& bar)
{
    if (!UpdateData(true))
        return false;
    if (m_nCurrent == m_nInitial)
        m_bInitialBarSaved = 1;
    bar.name = ToCp1252(m_strName).c_str();
    bar.calibratedLength = m_dCalibratedLength;
    bar.standardDeviation = m_dStandardDeviation;
    bar.calibratedTemperature = m_dCalibratedTemperature;
    bar.material = ToCp1252(m_strMaterial).c_str();
    bar.temperatureUnits = ToCp1252(m_strTemperatureUnits).c_str();
    bar.units = ToCp1252(m_strUnits).c_str();
    bar.version = m_nVersion;
    bar.endLabel1.Set(ToCp1252(m_strEndLabel1.trimmed()).c_str());
    bar.endLabel2.Set(ToCp1252(m_strEndLabel2.trimmed()).c_str());
    const bool renamed = m_strName != m_strStoredName;
    if (m_bDatabase) {
        if (CKestrelonApp* app = AfxGetApp())
            app->FlushDatabases();
        if (renamed)
            SendHubMessage(UM_REFRESH_DATABASE_SCALEBARS, 0, 0);
    } else {
        if (CKestrelonDoc* doc = GetActiveKestrelonDoc())
            doc->SetModifiedFlag();
        if (renamed)
            SendHubMessage(UM_REFRESH_PROJECT_SCALEBARS, 0, 0);
    }
    m_strStoredName = m_strName;
    SendHubMessage(UM_REFRESH_SCALEBAR_LIST, 0, 0);
    return true;
}

bool CScaleBarsDlg::DiffersFrom(const CScaleBar& bar) const
{
    return m_strName != Text(bar.name) || m_dCalibratedLength != bar.calibratedLength ||
           m_dStandardDeviation != bar.standardDeviation || m_dCalibratedTemperature != bar.calibratedTemperature ||
           m_strMaterial != Text(bar.material) || m_strTemperatureUnits != Text(bar.temperatureUnits) ||
           m_strUnits != Text(bar.units) || m_nVersion != bar.version ||
           m_strEndLabel1 != QString::fromLatin1(bar.endLabel1.GetText()) ||
           m_strEndLabel2 != QString::fromLatin1(bar.endLabel2.GetText());
}

void CScaleBarsDlg::OnOK()
{
    if (!m_pList || m_nCurrent >= m_pList->GetSize())
        return CDialog::OnCancel();
    m_strTyped = m_NameCombo->currentText();
    m_strName = m_strTyped;
    const CScaleBar* same = m_pList->FindByName(ToCp1252(m_strName).c_str());
    if (m_strName != m_strStoredName && same && same != m_pList->GetAt(m_nCurrent)) {
        AfxMessageBox("Scalebar name already used. Change name!");
        m_NameCombo->setFocus();
        return;
    }
    if (SaveIntoBar(*m_pList->GetAt(m_nCurrent)))
        EndDialog(QDialog::Accepted);
}

void CScaleBarsDlg::OnSelChangeName()
{
    if (!m_pList || m_nCurrent >= m_pList->GetSize())
        return;
    const int chosen = m_NameCombo->currentIndex();
    if (chosen < 0 || chosen >= m_pList->GetSize())
        return;
    // A failed exchange keeps the bar shown.
    if (!UpdateData(true))
        return Reselect(m_nCurrent);
    CScaleBar& bar = *m_pList->GetAt(m_nCurrent);
    if (DiffersFrom(bar)) {
        const CScaleBar* same = m_pList->FindByName(ToCp1252(m_strName).c_str());
        if (m_strName != m_strStoredName && same && same != &bar) {
            AfxMessageBox("Scalebar name already used. Change name!");
            m_NameCombo->setFocus();
            return Reselect(m_nCurrent);
        }
        const int answer = AfxMessageBox("Save changed Values?", MB_YESNOCANCEL | MB_ICONQUESTION);
        if (answer == IDCANCEL)
            return Reselect(m_nCurrent);
        if (answer == IDYES) {
            const QString before = m_strStoredName;
            if (!SaveIntoBar(bar))
                return Reselect(m_nCurrent);
            if (m_strStoredName != before) {
                m_nCurrent = chosen;
                m_strTyped = Text(m_pList->GetAt(chosen)->name);
                FillNameCombo();
            }
        }
    }
    m_nCurrent = chosen;
    const CScaleBar& shown = *m_pList->GetAt(m_nCurrent);
    m_strStoredName = Text(shown.name);
    LoadBar(shown);
}

// --- CEODevicePropertiesDlg -------------------------------------------------

CEODevicePropertiesDlg::CEODevicePropertiesDlg(CEODevice* device, CEODeviceList* list, QWidget* parent)
    : CDialog(306, parent), m_PointList(new C3DPointListCtrl), m_UnitCombo(new CComboBoxUnit),
      m_ShapeCombo(NewCombo(1368, false)), m_NameCombo(NewCombo(1365, true)), m_pDevice(device), m_pList(list)
{
    if (m_pList && m_pDevice) {
        for (int i = 0; i < m_pList->GetSize(); ++i)
            if (m_pList->GetAt(i) == m_pDevice)
                m_nCurrent = i;
    }
    setWindowTitle(QStringLiteral("EO Device Properties"));
    m_PointList->setObjectName(IdName(1369));
    m_UnitCombo->setObjectName(IdName(1372));
    m_UnitCombo->setEditable(true);
    m_UnitCombo->setInsertPolicy(QComboBox::NoInsert);
    auto* setToCurrent = new QPushButton(QStringLiteral("Set to Current"));
    setToCurrent->setObjectName(IdName(1376));
    connect(setToCurrent, &QPushButton::clicked, this, [this] { OnSetToCurrent(); });

    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QStringLiteral("EO Device ID")), 0, 0);
    grid->addWidget(m_NameCombo, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("ID Shape Test")), 1, 0);
    grid->addWidget(m_ShapeCombo, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("Units")), 2, 0);
    grid->addWidget(m_UnitCombo, 2, 1);
    grid->addWidget(new QLabel(QStringLiteral("Maximum\nResection RMS")), 3, 0);
    grid->addWidget(NewEdit(1075), 3, 1);
    grid->addWidget(new QLabel(QStringLiteral("Calibration Time")), 4, 0);
    grid->addWidget(NewEdit(1374), 4, 1);
    grid->addWidget(setToCurrent, 4, 2);
    grid->addWidget(new QLabel(QStringLiteral("Comment")), 5, 0);
    grid->addWidget(NewEdit(1371), 5, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("EO Device Points")), 6, 0);
    grid->addWidget(m_PointList, 7, 0, 1, 3);
    grid->addWidget(NewOkCancelButtons(this), 8, 0, 1, 3);
    resize(480, 460);
    connect(m_NameCombo->lineEdit(), &QLineEdit::textEdited, this, [this](const QString& text) { m_strTyped = text; });
    connect(m_NameCombo, &QComboBox::currentIndexChanged, this, [this] { OnSelChangeName(); });
}

void CEODevicePropertiesDlg::DoDataExchange(CDataExchange* dx)
{
    DDX_Text(dx, 1075, m_dMaxRms);
    DDX_Text(dx, 1371, m_strComment);
    DDX_Text(dx, 1374, m_strCalibrationTime);
}

void CEODevicePropertiesDlg::FillNameCombo()
{
    const QSignalBlocker blocker(m_NameCombo);
    m_NameCombo->clear();
    if (!m_pList) {
        m_NameCombo->addItem(m_pDevice ? Text(m_pDevice->GetName()) : QString());
        m_NameCombo->setCurrentIndex(0);
    } else {
        for (int i = 0; i < m_pList->GetSize(); ++i)
            m_NameCombo->addItem(Text(m_pList->GetAt(i)->GetName()));
        m_NameCombo->setCurrentIndex(m_nCurrent);
    }
    m_strTyped = m_NameCombo->currentText();
}

void CEODevicePropertiesDlg::Reselect(int index)
{
    ShowEntry(m_NameCombo, index, m_strTyped);
}

bool CEODevicePropertiesDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    m_UnitCombo->Fill();
    FillNameCombo();
    {
        const QSignalBlocker blocker(m_ShapeCombo);
        m_ShapeCombo->addItem(QStringLiteral("Ellipse fit"));
        m_ShapeCombo->addItem(QStringLiteral("No shape testing"));
    }
    m_PointList->Initialize();
    LoadDevice();
    m_strStoredName = m_NameCombo->currentText();
    return true;
}

void CEODevicePropertiesDlg::LoadDevice()
{
    if (!m_pDevice)
        return;
    m_UnitCombo->SelectUnit(Text(m_pDevice->GetUnit()));
    m_ShapeCombo->setCurrentIndex(m_pDevice->GetIDShape());
    m_dMaxRms = m_pDevice->GetMaxResectionRms();
    m_strComment = Text(m_pDevice->GetComment());
    m_strCalibrationTime = Text(m_pDevice->GetCalibrationTime());
    m_workingPoints = static_cast<const CPointSet&>(*m_pDevice);
    m_PointList->SetPointSet(&m_workingPoints);
    m_PointList->Fill();
    UpdateData(false);
}

bool CEODevicePropertiesDlg::SaveIntoDevice()
{
    if (!m_pDevice || !UpdateData(true))
        return false;
    m_pDevice->CopyFrom(m_workingPoints);
    m_pDevice->SetName(ToCp1252(m_strTyped).c_str());
    m_pDevice->SetUnit(ToCp1252(m_UnitCombo->GetUnit()).c_str());
    m_pDevice->SetIDShape(m_ShapeCombo->currentIndex());
    m_pDevice->SetMaxResectionRms(m_dMaxRms);
    m_pDevice->SetComment(ToCp1252(m_strComment).c_str());
    m_pDevice->calibrationTime = ToCp1252(m_strCalibrationTime).c_str();
    return true;
}

bool CEODevicePropertiesDlg::DiffersFromDevice()
{
    const CEODevice& d = *m_pDevice;
    return m_strTyped != Text(d.GetName()) || m_UnitCombo->GetUnit() != Text(d.GetUnit()) ||
           m_ShapeCombo->currentIndex() != d.GetIDShape() || m_dMaxRms != d.GetMaxResectionRms() ||
           m_strComment != Text(d.GetComment()) || m_strCalibrationTime != Text(d.GetCalibrationTime()) ||
           !m_workingPoints.IsEqual(d);
}

bool CEODevicePropertiesDlg::NameTakenByOther(const QString& name) const
{
    const CEODevice* same = m_pList ? m_pList->FindByName(ToCp1252(name).c_str()) : nullptr;
    return same && same != m_pDevice;
}

void CEODevicePropertiesDlg::OnSetToCurrent()
{
    if (!UpdateData(true))
        return;
    m_strCalibrationTime = Text(CDateStamp().Format("%d %B, %Y   %X"));
    UpdateData(false);
}

void CEODevicePropertiesDlg::OnOK()
{
    if (!m_pDevice)
        return CDialog::OnCancel();
    m_strTyped = m_NameCombo->currentText();
    if (m_pList && m_strTyped != m_strStoredName && NameTakenByOther(m_strTyped)) {
        AfxMessageBox("EO Device name already used. Change name!");
        m_NameCombo->setFocus();
        return;
    }
    if (!SaveIntoDevice())
        return;
    m_bSaved = 1;
    EndDialog(QDialog::Accepted);
}

void CEODevicePropertiesDlg::OnSelChangeName()
{
    if (!m_pList || !m_pDevice)
        return;
    const int chosen = m_NameCombo->currentIndex();
    if (chosen < 0 || chosen >= m_pList->GetSize())
        return;
    if (!UpdateData(true))
        return Reselect(m_nCurrent);
    if (DiffersFromDevice()) {
        if (NameTakenByOther(m_strTyped)) {
            AfxMessageBox("EO Device name already used. Change name!");
            m_NameCombo->setFocus();
            return Reselect(m_nCurrent);
        }
        const int answer = AfxMessageBox("Save changed Values?", MB_YESNOCANCEL | MB_ICONQUESTION);
        if (answer == IDCANCEL)
            return Reselect(m_nCurrent);
        if (answer == IDYES) {
            if (!SaveIntoDevice())
                return Reselect(m_nCurrent);
            if (m_strStoredName != Text(m_pDevice->GetName())) {
                m_nCurrent = chosen;
                FillNameCombo();
            }
        }
        m_bSaved = 1;
    }
    m_nCurrent = chosen;
    m_pDevice = m_pList->GetAt(m_nCurrent);
    m_strTyped = Text(m_pDevice->GetName());
    Reselect(m_nCurrent);
    LoadDevice();
    m_strStoredName = m_NameCombo->currentText();
}
