// The modeless "Relative Orientation" dialog: two image windows side by
// side, the table of the points measured in them, "Compute RO" with the
// residuals of a check triangulation, and Accept making the result the
// driver set "ROArray".
#pragma once

#include "KestrelonView.h"
#include "Matrix.h"
#include "NameBuffer.h"
#include "PointSet.h"

#include <QPointer>
#include <QRect>
#include <QSize>
#include <QString>

#include <vector>

class CComboBoxImage;
class CImageObservation;
class CImageView;
class CMDIChildWnd;
class CObservationList;
class CProjectImage;
class QPushButton;
class QTreeWidget;

// One row of the point table: a label with its observation in the left
// and in the right image (null where that image has none).
struct CRelOrientRow {
    CNameBuffer label;
    const CImageObservation* left = nullptr;
    const CImageObservation* right = nullptr;
};

// The rows of both lists in label order; disabled observations are left
// out. A label forms one row with at most one observation per side.
std::vector<CRelOrientRow> BuildRelOrientRows(const CObservationList& left, const CObservationList& right);
// Rows with an observation on both sides.
int CountRelOrientPairs(const std::vector<CRelOrientRow>& rows);

// The residual table's texts: per row the label and each side's residual
// length in micrometres ("No" where absent); the RMS row divides by all rows.
struct CRelOrientResiduals {
    std::vector<QString> label, left, right;
    QString rmsLeft, rmsRight;
};
CRelOrientResiduals FormatRelOrientResiduals(const std::vector<CRelOrientRow>& rows);

// Where the two image windows (MDI coordinates) and the dialog (relative to
// the main window's client) go, from the main window's client size and the
// dialog's size.
struct CRelOrientLayout {
    QRect left, right;
    QPoint dialog;
};
CRelOrientLayout ComputeRelOrientLayout(const QSize& mainClient, const QSize& dialog);

class CRelativeOrientationDlg : public CRelativeOrientationDlgBase {
public:
    explicit CRelativeOrientationDlg(CKestrelonView* owner);
    ~CRelativeOrientationDlg() override;

    bool CreateModeless() override;
    // The first call starts the dialog on the project's first two images;
    // later calls refresh the point table.
    void Refresh(int a, int b, int c) override;
    void OnImageChanged(std::uintptr_t view) override;
    void RefreshPointTable() override;

    // Opens the two image windows (null: the project's first or second
    // image), lays them out and fills the controls.
    void Start(CProjectImage* left, CProjectImage* right);
    void OnSelectImage(bool left);
    void OnComputeRO();
    void OnScanImages();
    void OnOK() override;
    void OnCancel() override;

    CMDIChildWnd* GetFrame(bool left) const { return left ? m_pLeftFrame.data() : m_pRightFrame.data(); }
    // The view of a side's window; null once the window has gone.
    CImageView* GetView(bool left) const;
    const CPointSet& GetROPointSet() const { return m_ROPointSet; }
    bool IsStarted() const { return m_bStarted; }

    QPushButton* m_Accept;
    QPushButton* m_Compute;
    QTreeWidget* m_PointTable;
    CComboBoxImage* m_LeftCombo;
    CComboBoxImage* m_RightCombo;

private:
    // A pose a computation changed, put back unless the result is accepted.
    struct SavedPose {
        CProjectImage* image;
        double X, Y, Z;
        CMatrix rotation;
        bool oriented;
    };
    void LayOut();
    // Both combos list the project's images and show the windows' images.
    void SyncCombos();
    // The rows of the images the two windows show.
    std::vector<CRelOrientRow> CurrentRows() const;
    void AddTableRow(const QString& a, const QString& b, const QString& c);
    void EnableCompute(const std::vector<CRelOrientRow>& rows);
    bool SameImages() const;
    void ShowIdenticalImages();
    void SetColumns(const char* a, int wa, const char* b, int wb, const char* c, int wc);
    void ShowResidualTable();
    void RememberPose(CProjectImage* image);
    void RestorePoses();
    bool InProject(const CProjectImage* image) const;
    // Both windows out of relative orientation mode and destroyed, then the
    // owner destroys this dialog.
    void Close();

    CKestrelonView* m_pOwner;
    CKestrelonDoc* m_pDocument;
    QPointer<CMDIChildWnd> m_pLeftFrame;
    QPointer<CMDIChildWnd> m_pRightFrame;
    CPointSet m_ROPointSet;
    CProjectImage* m_pComputedLeft = nullptr;
    CProjectImage* m_pComputedRight = nullptr;
    std::vector<SavedPose> m_Saved;
    bool m_bStarted = false;
    bool m_bClosing = false;
};

// Makes the tree's "Relative Orientation" command open this dialog.
void InstallRelativeOrientationDialog();
