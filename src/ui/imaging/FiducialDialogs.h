// The fiducial marks of a camera ("Fiducials") and the modeless "Interior
// Orientation Results" of an image window in fiducial-measurement mode.
#pragma once

#include "Frames.h"

class CCamera;
class CChildFrame;
class CColumnCaptions;
class CProjectImage;
class QLabel;
class QMenu;
class QTableWidget;

class CFiducialsDlg : public CDialog {
public:
    explicit CFiducialsDlg(CCamera* camera, QWidget* parent = nullptr);

    bool OnInitDialog() override;
    // The list anew from the camera's marks, in their order.
    void RefreshList();
    void OnAddFiducial();
    // The first selected row's mark through the edit dialog.
    void OnEditFiducial();
    // Asks, then removes the marks of the selected rows.
    void OnDeleteFiducials();
    // The popup "FiducialListDummy" with its entries' states; the caller
    // deletes it.
    QMenu* BuildContextMenu();

    QTableWidget* GetList() const { return m_List; }

private:
    QTableWidget* m_List;
    CCamera* m_pCamera;
};

class CInteriorOrientationDlg : public CInteriorOrientationDlgBase {
public:
    // Without an owner the dialog ends itself where it would ask the image
    // window to end fiducial mode.
    CInteriorOrientationDlg(QWidget* parent, CChildFrame* owner);

    bool CreateModeless(CProjectImage* image, CCamera* camera) override;
    bool OnInitDialog() override;
    // The fit of the chosen type when the image has at least 3 fiducial
    // measurements; else nothing.
    void ComputeTransformation(CProjectImage* image, CCamera* camera);
    // Sigma and the table of control, observed and residual coordinates.
    void RefreshResults();
    void OnAffine();
    void OnConformal();
    void OnAccept();
    void OnCancel() override;
    void OnOK() override { OnAccept(); }
    // The close box: fiducial mode ends, the parameters stay.
    void OnClose();

    int GetType() const { return m_nType; }
    double GetSigma() const { return m_dSigma; }
    QTableWidget* GetList() const { return m_List; }
    CProjectImage* GetImage() const { return m_pImage; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // Type 1 affine, 0 conformal; refits with 3 measurements or more.
    void ChooseType(int type);
    // The rows of the camera's marks and the image's measurements.
    void FillResults();
    void EndFiducialMode();

    QTableWidget* m_List;
    CColumnCaptions* m_Captions;
    QLabel* m_Sigma;
    int m_nType = 0;        // 1 affine, 0 conformal
    double m_dSigma = 0.0;  // mm
    CChildFrame* m_pOwner;
    CCamera* m_pCamera = nullptr;
    CProjectImage* m_pImage = nullptr;
};
