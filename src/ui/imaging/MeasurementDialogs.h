// Dialogs of the target measurement: the centroid settings and the question
// asked when a point that has coordinates is measured again.
#pragma once

#include "Dialog.h"

// "Centroid Calculation Parameters": the program-wide centroid settings.
class CCentroidParametersDlg : public CDialog {
public:
    explicit CCentroidParametersDlg(QWidget* parent = nullptr);

    bool OnInitDialog() override;
    void OnOK() override;
    void DoDataExchange(CDataExchange* dx) override;

    void OnShapeTesting();
    void OnImageShapeChanged();
    void OnBackgroundThresholdChanged();

    int m_bInvert = 0;
    int m_bShapeTesting = 1;
    double m_dBTValue = 5.0;
    int m_nMinTarget = 2;
    int m_nGreyRange = 52;
    int m_nWeighting = 1;
    double m_dXYRatio = 3.0;
    int m_nBackgroundThreshold = 0;
    int m_nImageShape = 0;
    int m_nWindowSize = 0;

private:
    void ShowRatio(bool show);
};

// "Kestrelon - Measure New Point": Yes adds the observation, the box
// replaces the old one.
class CMeasureNewPointDlg : public CDialog {
public:
    explicit CMeasureNewPointDlg(QWidget* parent = nullptr);

    void DoDataExchange(CDataExchange* dx) override;

    int m_bReplaceOld = 1;
};

// Makes the measuring code ask its near-point question with this dialog
// (installed at start-up; null removes it).
void InstallMeasureNewPointDialog(bool install = true);
