// Dialogs on the project's adjustment settings and the unit of a new project.
#pragma once

#include "Dialog.h"

class QBoxLayout;

// The unit radio buttons, "millimetres" to "yards", with ids from firstId on.
void AddUnitButtons(QBoxLayout* layout, int firstId);

// "Adjustment Control Variables": limits and options of the bundle
// adjustment, triangulation and resection of the active project.
class CAdjustmentControlsDlg : public CDialog {
public:
    explicit CAdjustmentControlsDlg(QWidget* parent = nullptr);

    bool OnInitDialog() override;
    void OnOK() override;
    void DoDataExchange(CDataExchange* dx) override;
    void OnRejectionCriteria();

    double m_dBundleConvergence = 0.0;
    int m_nBundleIterations = 0;
    int m_bTotalErrorPropagation = 0;
    int m_nMinimumRays = 0;
    double m_dRejectionLimit = 0.0;
    int m_nTriangulationIterations = 0;
    double m_dTriangulationConvergence = 0.0;
    double m_dResectionConvergence = 0.0;
    int m_nResectionIterations = 0;
    double m_dResectionRejection = 0.0;
    double m_dDefaultSigma = 0.0;
    int m_bLimitFixed = 0;
    int m_bFreeNetwork = 0;
    int m_bControlled = 0;
    int m_bRigorousScale = 0;
    int m_bEccentricity = 0;
    int m_bTargetShift = 0;
    int m_bEllipseCentres = 0;
};

// "Modify Rejection Limit Criteria": new RMS = old RMS x factor + amount.
class CRejectionLimitDlg : public CDialog {
public:
    explicit CRejectionLimitDlg(QWidget* parent = nullptr);

    bool OnInitDialog() override;
    void OnOK() override;
    void DoDataExchange(CDataExchange* dx) override;

    double m_dAmountAdded = 0.0;
    double m_dFactor = 0.0;
};

// "Define Project Units": the length unit of a new project.
class CDefineProjectUnitsDlg : public CDialog {
public:
    explicit CDefineProjectUnitsDlg(QWidget* parent = nullptr);

    void DoDataExchange(CDataExchange* dx) override;

    int m_nUnit = 0;
};
