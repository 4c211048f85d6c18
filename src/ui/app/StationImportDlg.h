// "Station Import Dialog": the line layout of a station file import and
// whether the imported stations count as resected.
#pragma once

#include "Dialog.h"
#include "StationFile.h"

class QComboBox;

class CStationImportDlg : public CDialog {
public:
    explicit CStationImportDlg(QWidget* parent = nullptr);
    bool OnInitDialog() override;
    void OnOK() override;
    void DoDataExchange(CDataExchange* dx) override;

    QComboBox* m_FormatCombo;
    int m_nFormat = 0;
    int m_bAcceptResected = 1;
};
