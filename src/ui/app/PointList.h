// The 3D point list: the points of one point set or EO device as an
// editable grid with its point commands, the right-pane view hosting it,
// the statistics of selected points and the rename-with-observations dialog.
#pragma once

#include "Controls.h"
#include "Dialog.h"
#include "DocFramework.h"

#include <functional>
#include <string>
#include <vector>

class C3DDataListView;
class C3DPointCells;
class CNameBuffer;
class CKestrelonDoc;
class CObjectPoint;
class CPointSet;
class QMenu;

class C3DPointListCtrl : public CEditableListCtrl {
public:
    enum : int { ID_DISTANCE = 32977, ID_ADD_POINT = 32997, ID_DELETE = 33001, ID_DELETE_WITH_OBS = 33051,
                 ID_STATISTICS = 336, ID_RENAME = 33059, ID_RENAME_WITH_OBS = 33061, ID_PROPERTIES = 33063 };
    // Column modes.
    enum : int { MODE_DISCREPANCY = 0, MODE_CONTROL = 1, MODE_OTHER = 2 };

    explicit C3DPointListCtrl(QWidget* parent = nullptr);

    void SetHostView(C3DDataListView* view) { m_pHostView = view; }
    void SetPointSet(CPointSet* set) { m_pPointSet = set; }
    void SetProjectSet(bool project) { m_bProjectSet = project; }
    CPointSet* GetPointSet() const { return m_pPointSet; }
    bool IsProjectSet() const { return m_bProjectSet; }
    int GetColumnMode() const { return m_nColumnMode; }
    void SetExtraColumns(bool show) { m_bExtraColumns = show ? 1 : 0; }

    void Initialize();
    void Fill();

    bool CanEditCell(int row, int column) const override;
    // Applies a cell text to the point of the row; false, nothing changed,
    // for a label in use or not valid, or a text that is not a number (each
    // with a message that says why).
    bool ApplyCellEdit(int row, int column, const QString& text);
    // Writes the change where the set lives; false when it could not be written.
    bool StoreChange();

    // The context menu for the current selection (the caller owns it).
    QMenu* BuildContextMenu();
    std::vector<int> SelectedRows() const;
    void SelectRows(const std::vector<int>& rows);

    void OnDistance();
    void OnAddPoint();
    void OnRename();
    void OnRenameWithObservations();
    void OnDelete();
    void OnDeleteWithObservations();
    void OnStatisticalSummary();
    void OnProperties();

    // The point dialogs: "Edit 3D Point" and the distance box of the
    // geometry tools unless others are installed.
    struct PointDialogs {
        // Edits the point in place (a label another point of the set has is
        // refused); true on OK.
        std::function<bool(CObjectPoint& point, bool control, CPointSet* set, QWidget* parent)> editPoint;
        std::function<void(const CObjectPoint& a, const CObjectPoint& b, QWidget* parent)> distance;
    };
    static PointDialogs SetPointDialogs(PointDialogs dialogs);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // Nothing is read while a job writes the document's records.
    void paintEvent(QPaintEvent* event) override;

private:
    CKestrelonDoc* HostDocument() const;
    CObjectPoint* PointAtRow(int row) const;
    // True when another point of the set has the label.
    bool LabelInUse(const CObjectPoint* point, const CNameBuffer& label) const;
    void OnEndEdit(int row, int column, const QString* text);
    // Moves the point of the row to its place in label order.
    void MoveToLabelPlace(int row);

    C3DPointCells* m_pCells;
    C3DDataListView* m_pHostView = nullptr;
    CPointSet* m_pPointSet = nullptr;
    bool m_bProjectSet = false;
    int m_bExtraColumns = 1;
    int m_nColumnMode = MODE_OTHER;
};

// The right-pane view of a point set or EO device.
class C3DDataListView : public QWidget, public CView {
public:
    explicit C3DDataListView(QWidget* parent = nullptr);
    QWidget* GetWidget() override { return this; }
    C3DPointListCtrl& GetListCtrl() { return *m_pList; }

    void SetPointSet(CPointSet* set);
    void SetProjectSet(bool project) { m_pList->SetProjectSet(project); }

    void OnInitialUpdate() override;
    void OnUpdate(CView* sender, long hint) override;
    std::intptr_t OnHubMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // The set shown is still one of the document's or the database's.
    bool SetStillExists() const;

    C3DPointListCtrl* m_pList;
    bool m_bInitialized = false;
    // The title of the set shown, read while the set is alive.
    std::string m_strSetTitle;
};

// Minimum, maximum and mean per axis and in total of the points' precision
// values or discrepancies, by the column mode.
struct CPointStatistics {
    double min[4] = {0, 0, 0, 0};
    double max[4] = {0, 0, 0, 0};
    double mean[4] = {0, 0, 0, 0};
};
bool ComputePointStatistics(const std::vector<const CObjectPoint*>& points, int mode, CPointStatistics& out);

class C3DPointStatisticDlg : public CDialog {
public:
    C3DPointStatisticDlg(std::vector<const CObjectPoint*> points, int mode, QWidget* parent = nullptr);
    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;

    int m_nPointCount = 0;
    CEditableListCtrl* m_Table;

private:
    std::vector<const CObjectPoint*> m_points;
    int m_nMode;
};

class CRenamePointDlg : public CDialog {
public:
    explicit CRenamePointDlg(QWidget* parent = nullptr);
    void DoDataExchange(CDataExchange* dx) override;

    QString m_strNewLabel;
    int m_bRenameAll = 0;
};
