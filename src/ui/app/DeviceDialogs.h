// The scale-bar dialog and the EO device dialog: both move through a list
// with a name combo and ask before a changed record is left.
#pragma once

#include "Dialog.h"
#include "PointSet.h"

#include <QString>

class C3DPointListCtrl;
class CComboBoxUnit;
class CEODevice;
class CEODeviceList;
class CScaleBar;
class CScaleBarList;
class QComboBox;

class CScaleBarsDlg : public CDialog {
public:
    // A null list means the application's scale-bar database.
    CScaleBarsDlg(CScaleBarList* list, int index, QWidget* parent = nullptr);
    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;
    void OnOK() override;
    void OnSelChangeName();
    bool WasInitialBarSaved() const { return m_bInitialBarSaved != 0; }
    QComboBox* NameCombo() const { return m_NameCombo; }

    int m_nCurrent = 0;
    QString m_strStoredName;
    double m_dCalibratedLength = 0.0;
    double m_dCalibratedTemperature = 0.0;
    QString m_strMaterial;
    QString m_strName;
    QString m_strTemperatureUnits;
    QString m_strUnits;
    int m_nVersion = 0;
    double m_dStandardDeviation = 0.0;
    QString m_strEndLabel1;
    QString m_strEndLabel2;

private:
    void FillNameCombo();
    void LoadBar(const CScaleBar& bar);
    bool SaveIntoBar(CScaleBar& bar);
    bool DiffersFrom(const CScaleBar& bar) const;
    void Reselect(int index);

    QComboBox* m_NameCombo;
    // The name as typed: the combo puts a chosen entry's text in its field
    // before the switch is decided.
    QString m_strTyped;
    CScaleBarList* m_pList;
    unsigned char m_bDatabase = 0;
    unsigned char m_bInitialBarSaved = 0;
    int m_nInitial = 0;
};

class CEODevicePropertiesDlg : public CDialog {
public:
    // Without a list the dialog shows the one device (the project's).
    CEODevicePropertiesDlg(CEODevice* device, CEODeviceList* list, QWidget* parent = nullptr);
    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;
    void OnOK() override;
    void OnSelChangeName();
    void OnSetToCurrent();
    bool WasChanged() const { return m_bSaved != 0; }

    C3DPointListCtrl* m_PointList;
    CComboBoxUnit* m_UnitCombo;
    QComboBox* m_ShapeCombo;
    QComboBox* m_NameCombo;
    double m_dMaxRms = 0.0;
    QString m_strComment;
    QString m_strCalibrationTime;
    CPointSet& WorkingPoints() { return m_workingPoints; }
    CEODevice* Device() const { return m_pDevice; }

private:
    void FillNameCombo();
    void LoadDevice();
    bool SaveIntoDevice();
    bool DiffersFromDevice();
    // Another device of the list has that name.
    bool NameTakenByOther(const QString& name) const;
    void Reselect(int index);

    CEODevice* m_pDevice;
    CEODeviceList* m_pList;
    CPointSet m_workingPoints;
    unsigned char m_bSaved = 0;
    QString m_strStoredName;
    QString m_strTyped;
    int m_nCurrent = 0;
};
