// The report lists of the project frame's right-hand pane: database cameras,
// database scale bars, project cameras, the images of one camera and the
// observations of one image. Each is an item view over a table model that
// reads the collections when a cell is shown; a refresh is a model reset.
#pragma once

#include "DocFramework.h"

#include <QAbstractTableModel>
#include <QIcon>
#include <QTableView>

#include <functional>
#include <vector>

class CCamera;
class CImageObservation;
class CKestrelonDoc;
class CKestrelonView;
class CProjectImage;
class CScaleBar;
class QMenu;

// printf into a buffer, cp1252 bytes to text.
QString FormatCell(const char* format, ...);

// Columns whose cells are formatted when they are shown.
class CListModel : public QAbstractTableModel {
public:
    struct Column {
        QString title;
        std::function<QString(int row)> text;
        std::function<int(int row)> icon; // -1 or none: no icon
    };
    void Reset(std::vector<Column> columns, int rows, std::vector<QIcon> icons);
    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : m_rows; }
    int columnCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : int(m_columns.size());
    }
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    QString Text(int row, int column) const { return m_columns[std::size_t(column)].text(row); }
    int IconOf(int row, int column) const;
    const QIcon* IconAt(int index) const
    {
        return index >= 0 && index < int(m_icons.size()) ? &m_icons[std::size_t(index)] : nullptr;
    }

private:
    std::vector<Column> m_columns;
    std::vector<QIcon> m_icons;
    int m_rows = 0;
};

// Base of the lists: right-aligned columns with their title as tooltip,
// auto-sizing, Ctrl+A, context menus built by BuildContextMenu.
class CListViewEx : public QTableView, public CView {
public:
    explicit CListViewEx(QWidget* parent = nullptr);
    QWidget* GetWidget() override { return this; }
    CKestrelonDoc* GetDocument() const;
    // The tree of this view's project frame, or null.
    CKestrelonView* GetTreeView() const;

    // Fill, then size the columns.
    void OnUpdate(CView* sender, long hint) override;
    std::intptr_t OnHubMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override;
    // first < 0: every column but the last to its widest text, the last to 80;
    // else only column first to 80.
    void AutoSizeColumns(int first);

    // The prepared context menu (the caller owns it), or null when none is shown.
    virtual QMenu* BuildContextMenu() { return nullptr; }

    QStringList ColumnTitles() const;
    QString CellText(int row, int column) const { return m_model.Text(row, column); }
    int CellIcon(int row, int column) const { return m_model.IconOf(row, column); }
    int RowCount() const { return m_model.rowCount(); }
    // Selected rows, ascending.
    std::vector<int> SelectedRows() const;
    void SelectRows(const std::vector<int>& rows);

protected:
    virtual void Fill() = 0;
    void SetColumns(std::vector<CListModel::Column> columns, int rows, std::vector<QIcon> icons = {});
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    // Nothing is read while a job writes the document's records.
    void paintEvent(QPaintEvent* event) override;
    static std::vector<QIcon> MakeIcons(const std::vector<QColor>& colours, QSize size);

    CListModel& m_model; // a child of the view, so the views go before it
};

// The cameras of the camera database.
class CDBaseCamerasListView : public CListViewEx {
public:
    explicit CDBaseCamerasListView(QWidget* parent = nullptr);
    QMenu* BuildContextMenu() override;
    void OnRemoveCamera();
    // "Camera DataBase" on the one selected camera.
    void OnViewCameraData();
    // "Statistical Camera Comparision " of the two selected cameras.
    void OnCompareCameras();

protected:
    void Fill() override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::vector<CCamera*> m_cameras;
};

// The cameras of the project.
class CProjectCamerasListView : public CListViewEx {
public:
    explicit CProjectCamerasListView(QWidget* parent = nullptr);
    // "Camera DataBase" on the project camera of the row.
    void OnViewCameraData(int row);

protected:
    void Fill() override;

private:
    std::vector<CCamera*> m_cameras;
};

// The scale bars of the scale-bar database.
class CDBaseScalebarsListView : public CListViewEx {
public:
    explicit CDBaseScalebarsListView(QWidget* parent = nullptr);
    // The scale-bar dialog on the database at the row's bar (a double-click).
    void OpenScaleBar(int row);

protected:
    void Fill() override;

private:
    std::vector<CScaleBar*> m_bars;
};

// The images of the camera selected last in the tree.
class CProjectImagesListView : public CListViewEx {
public:
    explicit CProjectImagesListView(QWidget* parent = nullptr);
    QMenu* BuildContextMenu() override;
    void OnColumnClick(int column);
    bool ShowsFileName() const { return m_bShowFileName != 0; }
    // Shows this camera's images instead of the tree's selected camera (no frame).
    void SetCamera(const CCamera* camera) { m_pCamera = camera; }
    // A new image of the project: a row when it belongs to the listed camera.
    void AddImage(CProjectImage* image);

    void OnDeleteImages();
    // 0 low, 1 high quality; 2 enable, 3 disable.
    void OnSetImageFlag(int what);
    void OnRelinkImages();
    void OpenImage(int row);

    // Commands of the context menu.
    enum : int { ID_DELETE_IMAGES = 33052, ID_LOW_QUALITY = 33053, ID_HIGH_QUALITY = 33054, ID_ENABLE_IMAGES = 33055,
                 ID_DISABLE_IMAGES = 33056, ID_RELINK_IMAGES = 33057, ID_ALIGN_TO_CAMERA = 33082 };

protected:
    void Fill() override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::vector<CProjectImage*> SelectedImages() const;

    std::vector<CProjectImage*> m_images;
    const CCamera* m_pCamera = nullptr;
    int m_bShowFileName = 1;
};

// The observations of the image selected last in the tree.
class CObservationsListView : public CListViewEx {
public:
    explicit CObservationsListView(QWidget* parent = nullptr);
    QMenu* BuildContextMenu() override;
    void OnDeleteObservations();
    bool ShowsEllipses() const { return m_bEllipses != 0; }
    // Shows this image instead of the tree's observation image (no frame).
    void SetImageName(const QString& name) { m_strImageName = name; }

protected:
    void Fill() override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    CProjectImage* FindImage() const;
    // The row's observation while the image still holds it at the same
    // place; null when the observations changed behind the list (an image
    // window deleted or measured them), which refills the list.
    const CImageObservation* RowObservation(int row) const;

    struct Row {
        int index; // in the image's observations
        const CImageObservation* observation;
    };
    std::vector<Row> m_rows;
    QString m_strImageName;
    unsigned char m_bEllipses = 0;
    mutable bool m_bRefillPosted = false;
};
