// The views of the project frame's two panes: the project tree on the left,
// the lists of ListViews.h on the right.
#pragma once

#include "Dialog.h"
#include "DocFramework.h"

#include <QBasicTimer>
#include <QPointer>
#include <QTreeWidget>

#include <functional>
#include <string>
#include <typeinfo>

class CCamera;
class CCameraList;
class CFilePath;
class CImagePtrArray;
class CKestrelonDoc;
class CPointSet;
class CProjectImage;
class CScaleBar;
class CScaleBarList;
class QMenu;

// The item role that holds an item's icon index.
constexpr int kIconIndexRole = Qt::UserRole + 1;

// Icons of the tree.
enum TreeIcon : int {
    ICON_CAMERA = 0,
    ICON_SCALEBAR = 1,
    ICON_PROJECT = 2,
    ICON_IMAGE_FIRST = 3, // 3..14 by GetImageIconIndex
    ICON_POINT_SET = 15,
    ICON_DRIVER_SET = 16,
    ICON_CONTROL_SET = 17,
    ICON_DRIVER_CONTROL_SET = 18,
    ICON_EO_DEVICE = 19,
    ICON_CAMERA_DATABASE = 20,
    ICON_SCALEBARS = 21,
    ICON_3D_DATA = 22,
    ICON_DATABASE = 23,
    ICON_EO_DEVICE_DATABASE = 24,
    ICON_COUNT = 25
};

// Icon of an image by its quality-set, high-quality, resected and enabled flags.
void GetImageIconIndex(bool qualitySet, bool highQuality, bool resected, bool enabled, int& index);
// Icon of a point set by its roles (the EO-device flag aside).
int GetPointSetIconIndex(bool control, bool driver);

// What the tree needs of the modeless relative orientation dialog.
class CRelativeOrientationDlgBase : public CDialog {
public:
    using CDialog::CDialog;
    // Creates the window; false when that fails.
    virtual bool CreateModeless() = 0;
    virtual void Refresh(int a, int b, int c) = 0;
    virtual void OnImageChanged(std::uintptr_t view) = 0;
    virtual void RefreshPointTable() = 0;
};

// The project tree: the databases and the project with its cameras, images,
// point sets and scale bars. Items carry no record: each is resolved by its
// text and its parent.
class CKestrelonView : public QTreeWidget, public CView {
public:
    // The right-hand views a click asks for. The frame makes those whose
    // factory is installed; without one the pane stays.
    enum RightPane { PANE_DB_CAMERAS, PANE_DB_SCALEBARS, PANE_3D_DATA, PANE_PROJECT_CAMERAS, PANE_PROJECT_IMAGES,
                     PANE_OBSERVATIONS, PANE_COUNT };
    struct PaneFactory {
        const std::type_info* type = nullptr;
        std::function<CView*(QWidget*)> make;
        // Tells a 3D data list what it shows: 0 a database EO device, 1 a project set.
        std::function<void(CView*, int mode, CPointSet* set)> setMode;
    };
    static PaneFactory SetPaneFactory(RightPane pane, PaneFactory factory);

    using RelOrientFactory = std::function<CRelativeOrientationDlgBase*(CKestrelonView* owner)>;
    static RelOrientFactory SetRelativeOrientationFactory(RelOrientFactory factory);
    // True when a relative orientation dialog can be made.
    static bool HasRelativeOrientationDialog();

    explicit CKestrelonView(QWidget* parent = nullptr);
    ~CKestrelonView() override;
    QWidget* GetWidget() override { return this; }
    CKestrelonDoc* GetDocument() const;

    void OnInitialUpdate() override;
    // The full rebuild.
    void OnUpdate(CView* sender, long hint) override;
    std::intptr_t OnHubMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override;

    // Builders of the full rebuild.
    void BuildDatabaseBranch();
    void BuildCameraDatabaseBranch();
    void BuildScaleBarDatabaseBranch();
    void BuildEODeviceDatabaseBranch();
    void BuildProjectBranch();
    void AddAllImageItems();
    void AddImageItem(CProjectImage* image);
    void Build3DDataBranch();
    void BuildProjectScaleBarBranch();

    // Partial rebuilds.
    void Rebuild3DDataBranch();
    void RebuildCameraDatabaseBranch();
    void RefreshCameraDatabaseBranch();
    void RefreshScaleBarDatabaseBranch();
    void DeleteChildItems(QTreeWidgetItem* item);

    // Icon refreshes.
    void RefreshImageIcons();
    void RefreshCameraImageIcons(QTreeWidgetItem* cameraItem);
    void RefreshPointSetIcons();
    void RefreshImageBranches();
    void SetImageIcon(QTreeWidgetItem* item, bool qualitySet, bool highQuality, bool resected, bool enabled);
    void SetPointSetIcon(QTreeWidgetItem* item, bool control, bool driver);

    // After a camera dialog on the project's cameras: a change marks the
    // project modified, renamed cameras rename their items and their images'
    // camera names. before is the camera list as it was before the dialog.
    // True when something changed.
    bool AfterProjectCameraEdit(const CCameraList& before);

    void OnImagesChanged();
    // Deletes the listed images (the list is changed in place).
    void DeleteImages(CImagePtrArray& images);
    // The project item's text: the file name of the path, or the title.
    void UpdateProjectItemText(const CFilePath* path);

    QTreeWidgetItem* FindNamedItem(const QString& name) const;
    QTreeWidgetItem* Find3DDataItem(const QString& name) const;
    QTreeWidgetItem* FindProjectScaleBarItem(const QString& name) const;
    QString GetSelectedItemText() const;
    void SetSelectedItemText(const QString& text);
    QString GetObsImageName() const { return m_strObsImageName; }
    bool IsDescendant(const QTreeWidgetItem* item, const QTreeWidgetItem* ancestor) const;

    void RefreshRightPane();
    void RefreshObservationList(const CProjectImage* image);
    void RefreshScaleBarDatabaseList();
    void UpdateProjectFrames();

    void ShowRelativeOrientationDialog();
    void DestroyRelativeOrientationDialog();
    void OnRelOrientImageChanged(std::uintptr_t wParam);
    void OnRelOrientPointsChanged();
    CRelativeOrientationDlgBase* GetRelativeOrientationDlg() const { return m_pRelOrientDlg; }

    // Commands that bring files into the project and work on point sets and
    // the scale-bar database.
    void OnSetImageFileDirectory();
    void OnSetImageCoordinateFileDirectory();
    void OnImport3DDataFile();
    void OnImportDrivebackFile();
    void OnImportControlPointsFile();
    void OnImportEODeviceFile();
    void OnSetAsDriver();
    void OnMakeCopy();
    void OnAddScaleBarToDatabase();
    void OnAddEODeviceToDatabase();
    void OnImportEODeviceToDatabase();
    // The image's exterior orientation dialog, and the station files.
    void OnEditExteriorOrientation();
    void OnResectImage();
    void OnExportStationData();
    void OnImportStationData();
    void OnAutoScanAllImages();

    // The click rule of the right pane.
    void OnClickItem(QTreeWidgetItem* item);
    // Selects the point set's item under "3D Data" as a click does (the
    // right pane lists the set) and expands the branch.
    void SelectPointSetItem(const QString& name);
    // The label-edit gate: true when the item's text may be edited.
    bool OnBeginLabelEdit(QTreeWidgetItem* item);
    // One tick of the auto-save timer.
    void OnAutoSaveTimer();

    // Selections; null once the record has left the project or its database.
    CCamera* GetSelectedCamera() const;
    CScaleBar* GetSelectedScaleBar() const;
    CPointSet* GetSelectedPointSet() const;
    void SetSelectedPointSet(CPointSet* set) { m_pSelectedPointSet = set; }
    // Drops a selection that points at the record.
    void ForgetRecord(const void* record);

    // Fixed items (null before the first rebuild).
    QTreeWidgetItem* DatabaseRoot() const { return m_hDatabaseRoot; }
    QTreeWidgetItem* CameraDatabase() const { return m_hCameraDatabase; }
    QTreeWidgetItem* ScaleBarDatabase() const { return m_hScaleBarDatabase; }
    QTreeWidgetItem* EODeviceDatabase() const { return m_hEODeviceDatabase; }
    QTreeWidgetItem* ProjectRoot() const { return m_hProjectRoot; }
    QTreeWidgetItem* Data3D() const { return m_h3DData; }
    QTreeWidgetItem* ProjectScaleBars() const { return m_hProjectScaleBars; }
    QString GetEditLabel() const { return m_strEditLabel; }
    int AutoSaveTimerId() const { return m_autoSaveTimer.timerId(); }
    int AutoSaveInterval() const { return m_nAutoSaveInterval; }

    // --- context menus and item commands (TreeCommands.cpp) ---
    // The item becomes the caret and the selections follow it; returns its
    // trimmed popup (owned by the caller), null when it has none.
    QMenu* BuildItemContextMenu(QTreeWidgetItem* item);
    // True when an image window shows the image; with message the refusal is shown.
    bool IsImageOpen(const CProjectImage* image, bool message);
    void DeletePointSetItem(QTreeWidgetItem* item);
    void RemoveProjectScaleBar(QTreeWidgetItem* item);
    // Activation: flag 0 opens for viewing, 1 opens the properties.
    void OpenItem(QTreeWidgetItem* item, int flag);
    // The right pane shows the 3D view of the selected point set.
    void OpenGraphicView();
    // The key handling of the tree; false when the key goes to the default handling.
    bool OnTreeKey(int key, Qt::KeyboardModifiers modifiers);
    // Deletes the children of the branch and lists the scale bars under it.
    void RebuildBranch(QTreeWidgetItem* branch, const CScaleBarList& bars);
    void OnRemoveCameraFromProject();
    void OnRemoveDatabaseScaleBar();
    void OnDeleteImage();
    void OnDisplayImage();
    void OnCreateEmptyImages();
    void OnAddStationsAsPoints();
    void OnRemoveDatabaseCamera();
    void OnRemoveEODeviceFromDatabase();
    void OnDatabaseEODeviceProperties();
    // The end of a label edit with the new text: renames the point set's
    // file, the project camera or the database camera.
    void OnEndLabelEdit(QTreeWidgetItem* item, const QString& text);
    bool IsDragging() const { return m_bDragging; }
    QTreeWidgetItem* DropItem() const { return m_hDropItem; }

protected:
    void timerEvent(QTimerEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    void commitData(QWidget* editor) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;

private:
    // The shape of the four 3D imports: the document's import, then the tree.
    void AfterPointSetImport(bool imported);
    // The command ids of the file and point-set commands.
    void InstallFileCommands();
    void InstallStationCommands();
    QTreeWidgetItem* Insert(QTreeWidgetItem* parent, const QString& text, int icon, bool sorted);
    QTreeWidgetItem* FindChild(QTreeWidgetItem* parent, const QString& text) const;
    void SetIcon(QTreeWidgetItem* item, int icon);
    void SwitchPane(RightPane pane, bool updateWhenSame, int mode = -1, CPointSet* set = nullptr);
    CView* RightView() const;

    bool m_bInitialised = false;
    QTreeWidgetItem* m_hDatabaseRoot = nullptr;
    QTreeWidgetItem* m_hCameraDatabase = nullptr;
    QTreeWidgetItem* m_hScaleBarDatabase = nullptr;
    QTreeWidgetItem* m_hEODeviceDatabase = nullptr;
    QTreeWidgetItem* m_hProjectRoot = nullptr;
    QTreeWidgetItem* m_h3DData = nullptr;
    QTreeWidgetItem* m_hProjectScaleBars = nullptr;
    QString m_strObsImageName;
    CCamera* m_pSelectedCamera = nullptr;
    CScaleBar* m_pSelectedScaleBar = nullptr;
    CPointSet* m_pSelectedPointSet = nullptr;
    QString m_strCameraDbCaption = QStringLiteral("Camera Database");
    QString m_strScaleBarDbCaption = QStringLiteral("ScaleBar Database");
    QString m_strEODeviceDbCaption = QStringLiteral("EO Device Database");
    QString m_strEditLabel;
    QPointer<CRelativeOrientationDlgBase> m_pRelOrientDlg;
    QBasicTimer m_autoSaveTimer;
    int m_nAutoSaveInterval = 0; // ms of the running timer
    bool m_bMenuShowing = false;
    // Drag and drop, done from the mouse events.
    bool m_bDragging = false;
    QTreeWidgetItem* m_hDragItem = nullptr;
    QTreeWidgetItem* m_hDropItem = nullptr;
    QPoint m_dragStart;
    QWidget* m_pDragImage = nullptr;
    bool OnBeginDrag(QTreeWidgetItem* item);
    void EndDrag();
    int NodeOf(const QTreeWidgetItem* item) const;
    void RegisterTreeCommands();
    // Deletes the item; its next sibling, else its previous one, else its
    // parent becomes the caret, the selected set the one that item names
    // (through find), and the right pane's point list shows it.
    void DeleteItemSelectingNeighbour(QTreeWidgetItem* item, const std::function<CPointSet*(const std::string&)>& find);
    void RestartAutoSaveTimer();
    QTreeWidgetItem* CaretItem() const;
    CProjectImage* CaretImage() const;
};

// The tree view of a project frame, made active; null when no project frame exists.
CKestrelonView* GetProjectTreeView();
