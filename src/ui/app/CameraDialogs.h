// Dialogs on camera records: "Camera DataBase", "Camera Input", the fiducial
// editor, "Balanced Distortion", the statistical comparison of two cameras
// and "Select Camera".
#pragma once

#include "Dialog.h"

#include <QColor>
#include <QString>

#include <vector>

class CCamera;
class CCameraList;
class CEditableListCtrl;
class QTableWidget;

// Background of the highlighted edits (cyan).
QColor CameraHighlightColour();

// The value of a parameter's text from its leading numeric characters
// (0.0 when there are none).
double CameraValueFromText(const QString& text);

// A camera identifier the profile file can hold and that no other camera of
// the list (other than except) bears in any letter case; shows the reason
// when it is refused.
bool AcceptCameraIdentifier(const QString& identifier, const CCameraList* list, const CCamera* except);

class CCameraDataDlg : public CDialog {
public:
    // List form: the camera at the index of the list.
    CCameraDataDlg(CCameraList* cameras, int index, int projectFlag, QWidget* parent = nullptr);
    // Single-camera form (project flag 1).
    explicit CCameraDataDlg(CCamera* camera, QWidget* parent = nullptr);

    bool OnInitDialog() override;
    void OnOK() override;
    void DoDataExchange(CDataExchange* dx) override;

    void OnSelchangeCamera(int index);
    // Mode 0 "Fix All", 1 "Free All", 2 "Fix K2 - B2", 4 "Fix K1 - B2".
    void OnCalibrationMode(int mode);
    void OnFixClicked(int parameter);
    void OnSave();

    CCamera* GetCamera() const { return m_pCamera; }

    int m_bProject = 0;
    int m_nCalibrationMode = 0;
    QString m_strCameraType;
    QString m_strIdentifier;
    QString m_strCalibrationTime;
    QString m_strLensSerial;
    QString m_strLensType;
    int m_nHorizontalPixels = 0;
    int m_nVerticalPixels = 0;
    double m_dVerticalPixelSize = 0.0;
    double m_dHorizontalPixelSize = 0.0;
    QString m_strSerial;
    double m_dSigmas[10] = {};    // c, xp, yp, K1 .. B2
    QString m_strValues[10];      // c, xp, yp, K1 .. B2

private:
    void Build();
    void FillFromCamera();
    void SetFixBoxesFromMode();
    void SetFixBoxesFromSigmas();
    // Writes the fields into the camera; false when the identifier is refused.
    bool StoreIdentification();
    void StoreSizesAndValues();

    CCameraList* m_pCameras = nullptr;
    CCamera* m_pCamera = nullptr;
    const CCameraList* m_pOwner = nullptr; // the single camera's list, for the name check
};

class CCameraInputDlg : public CDialog {
public:
    explicit CCameraInputDlg(CCamera* camera, QWidget* parent = nullptr);

    bool OnInitDialog() override;
    void OnOK() override;
    void DoDataExchange(CDataExchange* dx) override;

    void OnMetric();
    void OnImportFiducials();
    void OnAddFiducial();
    void OnDeleteFiducials();
    void OnEditFiducial(int row);
    void RefillFiducials();
    QTableWidget* FiducialList() const { return m_pList; }

    QString m_strIdentifier;
    QString m_strCameraType;
    QString m_strSerial;
    QString m_strLensType;
    QString m_strLensSerial;
    unsigned m_nHorizontalPixels = 0;
    unsigned m_nVerticalPixels = 0;
    double m_dHorizontalPixelSize = 0.0;
    double m_dVerticalPixelSize = 0.0;
    QString m_strValues[10];
    int m_bMetric = 0;

private:
    void ShowFiducials(bool show);

    QTableWidget* m_pList = nullptr;
    CCamera* m_pCamera = nullptr;
};

class CFiducialEditDlg : public CDialog {
public:
    explicit CFiducialEditDlg(QWidget* parent = nullptr);
    void DoDataExchange(CDataExchange* dx) override;

    QString m_strLabel;
    double m_dX = 0.0;
    double m_dY = 0.0;
};

// The camera's fiducial marks in a three-column list ("Label", "x", "y",
// centred, each column as wide as its texts), in the camera's order.
void FillFiducialList(QTableWidget* list, const CCamera* camera);
// The rows selected in such a list, ascending.
std::vector<int> SelectedFiducialRows(const QTableWidget* list);
// "Add/Edit Fiducial/Reseau" for a new mark, inserted at its label's place;
// false when cancelled or the text is no label.
bool AddFiducialMark(CCamera& camera, QWidget* parent);
// The same dialog on the mark at the index; the marks are sorted by label
// again afterwards. False when cancelled or there is no such mark.
bool EditFiducialMark(CCamera& camera, int index, QWidget* parent);
// Asks "Delete Selected Points?" and removes the marks of the rows; false
// without rows or when the answer is No.
bool DeleteFiducialMarks(CCamera& camera, const std::vector<int>& rows);

class CBalancedDistortionDlg : public CDialog {
public:
    CBalancedDistortionDlg(double balancedRadius, double maximumRadius, double step, QWidget* parent = nullptr);
    void DoDataExchange(CDataExchange* dx) override;

    double GetBalancedRadius() const { return m_dBalancedRadius; }
    double GetMaximumRadius() const { return m_dMaximumRadius; }
    double GetStep() const { return m_dStep; }

    double m_dBalancedRadius;
    double m_dMaximumRadius;
    double m_dStep;
};

class CCameraCompareDlg : public CDialog {
public:
    CCameraCompareDlg(CCamera* camera1, CCamera* camera2, QWidget* parent = nullptr);

    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;
    void Compute();
    CEditableListCtrl* ResultList() const { return m_pList; }

    QString m_strCamera1;
    QString m_strCamera2;
    int m_nRedundancy1 = 0;
    int m_nRedundancy2 = 0;
    double m_dProbability = 0.95;

private:
    CCamera* m_pCamera1;
    CCamera* m_pCamera2;
    CEditableListCtrl* m_pList = nullptr;
};

class CCameraSelectionDlg : public CDialog {
public:
    explicit CCameraSelectionDlg(const CCameraList* cameras, QWidget* parent = nullptr);

    bool OnInitDialog() override;
    void OnOK() override;
    int GetSelectedIndex() const { return m_nSelected; }

private:
    const CCameraList* m_pCameras;
    int m_nSelected = -1;
};
