// Shared dialog controls: the number field with fixed decimals and the grid
// list with its own cell editor.
#pragma once

#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QStandardItemModel>
#include <QTableView>

#include <functional>
#include <vector>

class CCameraList;
class CImagePtrArray;
class CProjectDocument;
class CProjectImage;

// The change notification of a number field typed by the user.
constexpr unsigned kNumberEditChanged = 0x44a;

// A number field shown with a fixed number of decimals; values pass through
// single precision.
class CNumberEdit : public QLineEdit {
public:
    explicit CNumberEdit(int decimals, QWidget* parent = nullptr);
    // The text read with "%f" (0 when nothing can be read).
    double GetValue() const;
    void SetValue(double value);
    // Called with kNumberEditChanged for every change the user types, never for SetValue.
    std::function<void(unsigned code, CNumberEdit* control)> notify;

protected:
    void focusOutEvent(QFocusEvent* event) override;

private:
    int m_nDecimals;
};

class CEditableListCtrl;

// The cell editor of CEditableListCtrl: Escape cancels, Enter and leaving the
// cell end the edit; either way the list's owner is told once.
class CInPlaceEdit : public QLineEdit {
public:
    CInPlaceEdit(CEditableListCtrl* list, int row, int column, const QString& text);
    int Row() const { return m_iRow; }
    int Column() const { return m_iColumn; }
    // The list goes away: no end notification any more.
    void Abandon() { m_bEnded = true; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void Widen();

    CEditableListCtrl* m_pList;
    int m_iRow;
    int m_iColumn;
    QString m_strInitText;
    bool m_bESC = false;
    bool m_bEnded = false;
};

// A report list whose cells beyond the first are edited in place: the first
// click on a row selects it, the next one opens the editor. Cells are the
// list's own items unless the owner gives a model of its own (UseModel).
class CEditableListCtrl : public QTableView {
public:
    explicit CEditableListCtrl(QWidget* parent = nullptr);
    ~CEditableListCtrl() override;
    // The end of a cell edit: text null after Escape.
    std::function<void(int row, int column, const QString* text)> onEndLabelEdit;

    virtual bool CanEditCell(int row, int column) const
    {
        (void)row, (void)column;
        return true;
    }
    // Opens the editor on the cell; null when the column cannot be edited.
    CInPlaceEdit* EditSubLabel(int row, int column);
    CInPlaceEdit* ActiveEditor() const { return m_pEditor; }
    // Every column to its widest text (first >= 0: only that column).
    void AutoSizeColumns(int first = -1);
    // Row and column under a viewport point; row -1 when none.
    int HitTestEx(const QPoint& point, int* column) const;

    // Sent by the editor when it ends.
    void EndLabelEdit(int row, int column, const QString* text);

    // Rows, columns and texts of the cells, whichever model holds them.
    int RowCount() const { return model()->rowCount(); }
    int ColumnCount() const { return model()->columnCount(); }
    QString CellText(int row, int column) const;

    // The list's own items (null, and no effect, while an owner's model is shown).
    int rowCount() const { return RowCount(); }
    int columnCount() const { return ColumnCount(); }
    void setRowCount(int rows);
    void setColumnCount(int columns);
    // The list takes the item.
    void setItem(int row, int column, QStandardItem* item);
    QStandardItem* item(int row, int column) const;
    void setHorizontalHeaderLabels(const QStringList& labels);
    QStandardItem* horizontalHeaderItem(int column) const;
    // Removes every row, column and header.
    void clear();

protected:
    // Cells from a model of the owner instead of the list's items.
    void UseModel(QAbstractItemModel* cells);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QStandardItemModel* OwnItems() const;

    QStandardItemModel* m_pItems;
    QPointer<CInPlaceEdit> m_pEditor;
};

// Makes the table wide enough to show all its columns (at most nine tenths
// of its screen), so that the dialog holding it grows with it.
void ShowAllColumns(QTableView* table);
// Sizes every column to its widest text and its header, then ShowAllColumns.
void FitColumnsToContents(QTableView* table);

// The image-quality choice: mode 0 in the main toolbar, 1 in the automatic
// measurement dialog. Only mode 0 reports a choice (0x445 to the main frame).
class CImageQualityCombo : public QComboBox {
public:
    explicit CImageQualityCombo(QWidget* parent = nullptr);
    void Initialize(int mode);
    int GetMode() const { return m_nMode; }

private:
    int m_nMode = 0;
};

// The toolbar's label field: Return is reported (0x454) instead of being
// handled by the dialog or toolbar around it.
class CEditLabel : public QLineEdit {
public:
    explicit CEditLabel(QWidget* parent = nullptr);
    std::function<void()> onReturn;

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// The six length units "mm", "cm", "m", "in", "ft", "yds" in code order.
class CComboBoxUnit : public QComboBox {
public:
    using QComboBox::QComboBox;
    void Fill();
    // Index of the entry equal to the text, -1 (selection unchanged) when none.
    int SelectUnit(const QString& text);
    // The selected label, "" when none.
    QString GetUnit() const;
};

// Item data role holding the picture index of a combo entry.
constexpr int kComboIconRole = Qt::UserRole + 1;

// The cameras of a collection by identifier, each with the camera picture.
class CComboBoxCamera : public QComboBox {
public:
    explicit CComboBoxCamera(QWidget* parent = nullptr);
    void Fill(const CCameraList* cameras);

private:
    const CCameraList* m_pCameras = nullptr;
};

// The named point sets of a project by file title; the picture tells driver,
// control, both, EO device or plain.
class CComboBoxPointSet : public QComboBox {
public:
    explicit CComboBoxPointSet(QWidget* parent = nullptr);
    // The active project (none: empty).
    void Fill();
    void Fill(const CProjectDocument* doc);
    // Selects the first driver set; false when there is none.
    bool SelectDriverSet();
    bool SelectDriverSet(const CProjectDocument* doc);
};

// The images of a project by name; picture 1 for a resected image, else 0.
class CComboBoxImage : public QComboBox {
public:
    explicit CComboBoxImage(QWidget* parent = nullptr);
    void Initialize();
    // The active project (none: empty).
    void Fill();
    void Fill(const CProjectDocument* doc);
    // Nothing changes when the image is not listed.
    void SelectImage(const CProjectImage* image);
    CProjectImage* GetSelectedImage() const;
    const std::vector<CProjectImage*>& GetImages() const { return m_images; }

private:
    std::vector<CProjectImage*> m_images;
};

// A folder choice.
class CFileDirectoryDialog {
public:
    CFileDirectoryDialog(QWidget* parent, const QString& title, const QString& folder);
    // True when a folder was chosen.
    bool DoModal();
    QString GetDirectory() const { return m_strDirectory; }

private:
    QWidget* m_pParent;
    QString m_strTitle;
    QString m_strFolder;
    QString m_strDirectory;
};

// The two-column image list of the correspondence, triangulation and AutoScan
// dialogs over the owner's image collection.
class CImageSelectListCtrl : public CEditableListCtrl {
public:
    using CEditableListCtrl::CEditableListCtrl;
    // False, and nothing stored, for null.
    bool SetImages(CImagePtrArray* images);
    void SetSelection(int row) { m_iSelected = row; }
    int GetSelection() const { return m_iSelected; }
    // Rows "Image" and "Points"; no collection or an empty one leaves the list.
    void Fill();
    void RemoveImage(int row);
    void AddImage(CProjectImage* image);
    // Icon of a row: 2 selected, 0 enabled, 1 disabled.
    int RowIcon(int row) const;
    // The icons, supplied by the owner (none by default).
    void SetIcons(std::vector<QIcon> icons) { m_icons = std::move(icons); }

private:
    CImagePtrArray* m_pImages = nullptr;
    std::vector<QIcon> m_icons;
    int m_iSelected = -1;
};
