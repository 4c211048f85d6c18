// The dialogs that edit an image's station: "EDIT CAMERA STATION" with its
// station window, and "Resect Camera Station" with the start of an
// iterative resection.
#pragma once

#include "Dialog.h"
#include "ProjectImage.h"

#include <QString>

class CCamera;
class CPointSet;
class CProjectDocument;
class CStationOpenGL;
class QPushButton;
class QWidget;

class CEditCameraStationDlg : public CDialog {
public:
    enum { IDD = 107, ID_SHOW_VIEW = 1406 };
    // The document defaults to the active one; it gives the camera and the
    // driver set and is marked modified on OK.
    CEditCameraStationDlg(CProjectImage* image, QWidget* parent = nullptr, CProjectDocument* doc = nullptr);
    ~CEditCameraStationDlg() override;

    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;
    void OnOK() override;
    void OnCancel() override;

    // "Show View >>" / "<< Hide View".
    void OnShowView();
    // The fields from the working station (after the view moved it).
    void RefreshFields();
    // A coordinate or angle field lost the focus: the working station follows.
    void OnFieldKillFocus();

    CProjectImage& GetWorkingStation() { return m_workingStation; }
    CStationOpenGL* GetStationWindow() const { return m_pStationWnd; }
    bool IsViewShown() const { return m_nViewShown != 0; }
    QSize GetCollapsedSize() const { return {m_nCollapsedWidth, m_nCollapsedHeight}; }
    QSize GetExpandedSize() const { return {m_nExpandedWidth, m_nExpandedHeight}; }
    QSize GetViewSize() const { return {m_nViewWidth, m_nViewHeight}; }

    QString m_strStationId;
    double m_dX = 0.0, m_dY = 0.0, m_dZ = 0.0;
    double m_dAzimuth = 0.0, m_dElevation = 0.0, m_dRoll = 0.0;
    double m_dSigma[6] = {};
    int m_bAcceptResected = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void WorkingStationFromFields();

    CProjectImage* m_pImage;
    CProjectImage m_workingStation;
    CCamera* m_pCamera = nullptr;
    CPointSet* m_pDriverSet = nullptr;
    CProjectDocument* m_pDoc = nullptr;
    int m_nViewShown = 0;
    int m_nCollapsedWidth = 0, m_nCollapsedHeight = 0;
    int m_nExpandedWidth = 0, m_nExpandedHeight = 0;
    int m_nViewWidth = 0, m_nViewHeight = 0;
    bool m_bExpandedOnce = false;
    bool m_bExchanging = false;
    CStationOpenGL* m_pStationWnd = nullptr;
    QPushButton* m_ViewButton;
};

class CResectStationDlg : public CDialog {
public:
    enum { IDD = 1545 };
    // On OK the image takes the station and the document (default: the
    // active one) is marked modified.
    explicit CResectStationDlg(CProjectImage* image, QWidget* parent = nullptr, CProjectDocument* doc = nullptr);
    void DoDataExchange(CDataExchange* dx) override;
    void OnOK() override;

    QString m_strStationId;
    double m_dX = 0.0, m_dY = 0.0, m_dZ = 0.0;
    int m_bUseGiven = 0;

private:
    CProjectImage* m_pImage;
    CProjectDocument* m_pDoc;
};
