#include "Controls.h"

#include "Hooks.h"
#include "Hub.h"
#include "KestrelonDoc.h"
#include "ProjectDocument.h"
#include "ProjectImageList.h"

#include <QHeaderView>
#include <QPainter>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QScrollBar>

#include <algorithm>
#include <cstdio>

void ShowAllColumns(QTableView* table)
{
    int width = table->horizontalHeader()->length() + 2 * table->frameWidth();
    if (!table->verticalHeader()->isHidden())
        width += table->verticalHeader()->sizeHint().width();
    // Room for the vertical scroll bar whether it shows or not.
    if (table->verticalScrollBarPolicy() != Qt::ScrollBarAlwaysOff)
        width += table->verticalScrollBar()->sizeHint().width();
    if (const QScreen* screen = table->screen())
        width = std::min(width, screen->availableGeometry().width() * 9 / 10);
    table->setMinimumWidth(width);
}

void FitColumnsToContents(QTableView* table)
{
    table->horizontalHeader()->setMinimumSectionSize(1);
    table->resizeColumnsToContents();
    ShowAllColumns(table);
}

// --- CNumberEdit ------------------------------------------------------------

CNumberEdit::CNumberEdit(int decimals, QWidget* parent) : QLineEdit(parent), m_nDecimals(decimals)
{
    // textEdited comes from typing only, not from setText.
    connect(this, &QLineEdit::textEdited, this, [this] {
        if (hasFocus() && notify)
            notify(kNumberEditChanged, this);
    });
}

double CNumberEdit::GetValue() const
{
    float value = 0.0f;
    const QByteArray bytes = text().toLatin1();
    if (std::sscanf(bytes.constData(), "%f", &value) != 1)
        value = 0.0f;
    return double(value);
}

void CNumberEdit::SetValue(double value)
{
    char format[16];
    std::snprintf(format, sizeof format, "%%.%df", m_nDecimals);
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, format, value);
    setText(QString::fromLatin1(buffer));
}

void CNumberEdit::focusOutEvent(QFocusEvent* event)
{
    SetValue(GetValue());
    QLineEdit::focusOutEvent(event);
}

// --- CInPlaceEdit -----------------------------------------------------------

CInPlaceEdit::CInPlaceEdit(CEditableListCtrl* list, int row, int column, const QString& text)
    : QLineEdit(list->viewport()), m_pList(list), m_iRow(row), m_iColumn(column), m_strInitText(text)
{
    setFont(list->font());
    setText(text);
    setAttribute(Qt::WA_DeleteOnClose);
}

void CInPlaceEdit::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
        m_bESC = true;
        m_pList->setFocus();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        m_pList->setFocus();
        return;
    default:
        QLineEdit::keyPressEvent(event);
        Widen();
    }
}

void CInPlaceEdit::Widen()
{
    const int needed = fontMetrics().horizontalAdvance(text()) + 5 + 2 * 4;
    if (needed > width())
        resize(std::min(needed, m_pList->viewport()->width() - x()), height());
}

void CInPlaceEdit::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    if (m_bEnded)
        return;
    m_bEnded = true;
    const QString edited = text();
    m_pList->EndLabelEdit(m_iRow, m_iColumn, m_bESC ? nullptr : &edited);
    hide();
    deleteLater();
}

// --- CEditableListCtrl ------------------------------------------------------

CEditableListCtrl::CEditableListCtrl(QWidget* parent) : QTableView(parent), m_pItems(new QStandardItemModel(this))
{
    setModel(m_pItems);
    // Scrolling by the user ends an open cell edit: the list takes the focus.
    // Scrolling from code (a cell brought into view) does not.
    for (QScrollBar* bar : {horizontalScrollBar(), verticalScrollBar()})
        connect(bar, &QAbstractSlider::actionTriggered, this, [this] {
            if (!hasFocus())
                setFocus();
        });
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    verticalHeader()->hide();
    horizontalHeader()->setStretchLastSection(false);
    setWordWrap(false);
}

CEditableListCtrl::~CEditableListCtrl()
{
    // An open editor loses its focus while the list is destroyed; its owner may be gone.
    if (m_pEditor)
        m_pEditor->Abandon();
}

int CEditableListCtrl::HitTestEx(const QPoint& point, int* column) const
{
    const QModelIndex index = indexAt(point);
    if (column)
        *column = index.isValid() ? index.column() : 0;
    return index.isValid() ? index.row() : -1;
}

CInPlaceEdit* CEditableListCtrl::EditSubLabel(int row, int column)
{
    if (row < 0 || row >= RowCount() || column < 0 || column >= ColumnCount() || columnWidth(column) < 5)
        return nullptr;
    scrollTo(model()->index(row, column));
    const QRect cell = visualRect(model()->index(row, column));
    QRect rect(cell.left() + 4, cell.top(), cell.width() - 7, cell.height());
    rect.setRight(std::min(rect.right(), viewport()->width() - 1));
    const QModelIndex index = model()->index(row, column);
    auto* editor = new CInPlaceEdit(this, row, column, index.data().toString());
    const QVariant alignment = index.data(Qt::TextAlignmentRole);
    const int align = alignment.isValid() ? alignment.toInt() : int(Qt::AlignLeft);
    editor->setAlignment(Qt::Alignment(align) & Qt::AlignHorizontal_Mask ? Qt::Alignment(align) : Qt::AlignLeft);
    editor->setGeometry(rect);
    editor->show();
    editor->setFocus();
    editor->selectAll();
    m_pEditor = editor;
    return editor;
}

void CEditableListCtrl::UseModel(QAbstractItemModel* cells)
{
    QItemSelectionModel* old = selectionModel();
    setModel(cells);
    if (old && old != selectionModel())
        old->deleteLater();
}

QStandardItemModel* CEditableListCtrl::OwnItems() const
{
    return model() == m_pItems ? m_pItems : nullptr;
}

void CEditableListCtrl::setRowCount(int rows)
{
    if (QStandardItemModel* items = OwnItems())
        items->setRowCount(std::max(rows, 0));
}

void CEditableListCtrl::setColumnCount(int columns)
{
    if (QStandardItemModel* items = OwnItems())
        items->setColumnCount(std::max(columns, 0));
}

void CEditableListCtrl::setItem(int row, int column, QStandardItem* item)
{
    if (QStandardItemModel* items = OwnItems(); items && row >= 0 && column >= 0)
        items->setItem(row, column, item);
    else
        delete item;
}

QStandardItem* CEditableListCtrl::item(int row, int column) const
{
    QStandardItemModel* items = OwnItems();
    return items ? items->item(row, column) : nullptr;
}

void CEditableListCtrl::setHorizontalHeaderLabels(const QStringList& labels)
{
    if (QStandardItemModel* items = OwnItems())
        items->setHorizontalHeaderLabels(labels);
}

QStandardItem* CEditableListCtrl::horizontalHeaderItem(int column) const
{
    QStandardItemModel* items = OwnItems();
    return items ? items->horizontalHeaderItem(column) : nullptr;
}

void CEditableListCtrl::clear()
{
    if (QStandardItemModel* items = OwnItems())
        items->clear();
}

QString CEditableListCtrl::CellText(int row, int column) const
{
    return model()->index(row, column).data().toString();
}

void CEditableListCtrl::EndLabelEdit(int row, int column, const QString* text)
{
    if (text && CellText(row, column) != *text)
        AutoSizeColumns(-1);
    if (onEndLabelEdit)
        onEndLabelEdit(row, column, text);
}

void CEditableListCtrl::AutoSizeColumns(int first)
{
    for (int c = std::max(first, 0); c < ColumnCount(); ++c) {
        resizeColumnToContents(c);
        if (first >= 0)
            break;
    }
}

void CEditableListCtrl::mousePressEvent(QMouseEvent* event)
{
    int column = 0;
    const int row = HitTestEx(event->position().toPoint(), &column);
    const bool focused = row >= 0 && currentIndex().isValid() && currentIndex().row() == row;
    QTableView::mousePressEvent(event);
    if (row < 0 || event->button() != Qt::LeftButton)
        return;
    // Shift and Ctrl clicks only extend or toggle the selection.
    const bool plain = !(event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier));
    if (plain && focused && column > 0 && CanEditCell(row, column)) {
        EditSubLabel(row, column);
        return;
    }
    setFocus();
    const QModelIndex index = model()->index(row, column);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    if (!(event->modifiers() & Qt::ControlModifier))
        selectionModel()->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

void CEditableListCtrl::mouseDoubleClickEvent(QMouseEvent* event)
{
    int column = 0;
    const int row = HitTestEx(event->position().toPoint(), &column);
    if (row >= 0 && column > 0 && CanEditCell(row, column) && !m_pEditor)
        EditSubLabel(row, column);
    // The open editor keeps the focus: the default handling would take the
    // double click for a new press on the list when its press went elsewhere.
    if (m_pEditor)
        return event->accept();
    QTableView::mouseDoubleClickEvent(event);
}

void CEditableListCtrl::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_A && (event->modifiers() & Qt::ControlModifier)) {
        if (RowCount() > 0)
            selectAll();
        return;
    }
    QTableView::keyPressEvent(event);
}

// --- CImageQualityCombo -----------------------------------------------------

namespace {

// Icons: 0 not set, 1 high, 2 low, 3 automatic.
QIcon QualityIcon(int index)
{
    static const QColor colours[] = {QColor(160, 160, 160), QColor(40, 170, 60), QColor(220, 120, 30),
                                     QColor(60, 110, 220)};
    QPixmap pixmap(24, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::black);
    p.setBrush(colours[index]);
    p.drawRect(QRectF(2.5, 1.5, 19, 13));
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(12, 8), 3.5, 3.5);
    p.end();
    return QIcon(pixmap);
}

} // namespace

CImageQualityCombo::CImageQualityCombo(QWidget* parent) : QComboBox(parent)
{
    setIconSize(QSize(24, 16));
    connect(this, qOverload<int>(&QComboBox::activated), this, [this](int index) {
        if (m_nMode == 0 && index >= 0)
            PostHubMessage(UM_IMAGE_QUALITY, std::uintptr_t(index), 0);
    });
}

void CImageQualityCombo::Initialize(int mode)
{
    m_nMode = mode;
    clear();
    if (mode == 0)
        addItem(QualityIcon(0), QStringLiteral("Image Quality Not Set"), 0);
    else
        addItem(QualityIcon(3), QStringLiteral("Automatic Image Quality"), 0);
    addItem(QualityIcon(1), QStringLiteral("Image Quality High"), 1);
    addItem(QualityIcon(2), QStringLiteral("Image Quality Low"), 2);
}

// --- CEditLabel -------------------------------------------------------------

CEditLabel::CEditLabel(QWidget* parent) : QLineEdit(parent) {}

void CEditLabel::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (onReturn)
            onReturn();
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

// --- CComboBoxUnit ----------------------------------------------------------

void CComboBoxUnit::Fill()
{
    for (const char* unit : {"mm", "cm", "m", "in", "ft", "yds"})
        addItem(QString::fromLatin1(unit));
}

int CComboBoxUnit::SelectUnit(const QString& text)
{
    const int index = findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0)
        setCurrentIndex(index);
    return index;
}

QString CComboBoxUnit::GetUnit() const
{
    return currentIndex() >= 0 ? currentText() : QString();
}

// --- Picture combos ---------------------------------------------------------

namespace {

// A picture painted on its mask colour; the mask colour turns transparent.
QIcon MaskedPicture(QSize size, const QColor& mask, const std::function<void(QPainter&)>& draw)
{
    QPixmap pixmap(size);
    pixmap.fill(mask);
    {
        QPainter p(&pixmap);
        draw(p);
    }
    pixmap.setMask(pixmap.createMaskFromColor(mask, Qt::MaskInColor));
    return QIcon(pixmap);
}

const QColor kMagenta(255, 0, 255);
const QColor kYellow(255, 255, 0);

// A camera body with its lens, 32x27.
QIcon CameraPicture()
{
    return MaskedPicture(QSize(32, 27), kMagenta, [](QPainter& p) {
        p.setPen(Qt::black);
        p.setBrush(QColor(90, 90, 90));
        p.drawRect(3, 8, 26, 15);
        p.drawRect(8, 4, 8, 4);
        p.setBrush(QColor(40, 80, 160));
        p.drawEllipse(QPoint(16, 15), 5, 5);
    });
}

// Point sets, 32x27: 0 plain, 1 driver, 2 control, 3 driver and control, 4 EO device.
QIcon PointSetPicture(int index)
{
    static const QColor colours[] = {QColor(128, 128, 128), QColor(40, 160, 60), QColor(200, 40, 40),
                                     QColor(200, 160, 0), QColor(40, 90, 200)};
    return MaskedPicture(QSize(32, 27), kMagenta, [index](QPainter& p) {
        p.setPen(Qt::black);
        p.setBrush(colours[index]);
        for (const QPoint c : {QPoint(8, 8), QPoint(22, 7), QPoint(12, 19), QPoint(24, 20)})
            p.drawEllipse(c, 3, 3);
        if (index == 4)
            p.drawRect(4, 12, 24, 3);
    });
}

// Images, 24x16: 0 plain, 1 resected.
QIcon ImagePicture(int index)
{
    return MaskedPicture(QSize(24, 16), kYellow, [index](QPainter& p) {
        p.setPen(Qt::black);
        p.setBrush(QColor(230, 230, 230));
        p.drawRect(2, 1, 19, 13);
        if (index == 1) {
            p.setPen(QPen(QColor(0, 140, 0), 2));
            p.drawLine(6, 8, 10, 12);
            p.drawLine(10, 12, 18, 3);
        }
    });
}

void AddPictureItem(QComboBox* combo, const QIcon& icon, int index, const QString& text)
{
    combo->addItem(icon, text);
    combo->setItemData(combo->count() - 1, index, kComboIconRole);
}

} // namespace

CComboBoxCamera::CComboBoxCamera(QWidget* parent) : QComboBox(parent)
{
    setIconSize(QSize(32, 27));
}

void CComboBoxCamera::Fill(const CCameraList* cameras)
{
    m_pCameras = cameras;
    if (!cameras)
        return;
    const QIcon picture = CameraPicture();
    for (int i = 0; i < cameras->GetSize(); ++i)
        if (const CCamera* camera = cameras->GetAt(i))
            AddPictureItem(this, picture, 0, FromCp1252(camera->identifier.GetText()));
}

CComboBoxPointSet::CComboBoxPointSet(QWidget* parent) : QComboBox(parent)
{
    setIconSize(QSize(32, 27));
}

void CComboBoxPointSet::Fill()
{
    Fill(GetActiveKestrelonDoc());
}

void CComboBoxPointSet::Fill(const CProjectDocument* doc)
{
    if (!doc)
        return;
    for (int i = 0; i < doc->pointSets.GetSize(); ++i) {
        const CPointSet* set = doc->pointSets.GetAt(i);
        if (!set || set->name.GetFileName().GetText()[0] == '\0')
            continue;
        const int icon = set->isDriver && set->isControl ? 3
                         : set->isDriver                 ? 1
                         : set->isControl                ? 2
                         : set->isEODevice               ? 4
                                                         : 0;
        AddPictureItem(this, PointSetPicture(icon), icon, FromCp1252(set->name.GetTitle().GetText()));
    }
    setCurrentIndex(count() > 0 ? 0 : -1);
}

bool CComboBoxPointSet::SelectDriverSet()
{
    return SelectDriverSet(GetActiveKestrelonDoc());
}

bool CComboBoxPointSet::SelectDriverSet(const CProjectDocument* doc)
{
    if (!doc)
        return false;
    for (int i = 0; i < doc->pointSets.GetSize(); ++i) {
        const CPointSet* set = doc->pointSets.GetAt(i);
        if (set && set->isDriver) {
            const int index = findText(FromCp1252(set->name.GetTitle().GetText()),
                                       Qt::MatchExactly | Qt::MatchCaseSensitive);
            if (index < 0)
                return false;
            setCurrentIndex(index);
            return true;
        }
    }
    return false;
}

CComboBoxImage::CComboBoxImage(QWidget* parent) : QComboBox(parent)
{
    setIconSize(QSize(24, 16));
}

void CComboBoxImage::Initialize()
{
    Fill();
}

void CComboBoxImage::Fill()
{
    Fill(GetActiveKestrelonDoc());
}

void CComboBoxImage::Fill(const CProjectDocument* doc)
{
    m_images.clear();
    clear();
    if (!doc)
        return;
    for (int i = 0; i < doc->images.GetSize(); ++i) {
        CProjectImage* image = doc->images.GetAt(i);
        if (!image)
            continue;
        m_images.push_back(image);
        const int icon = image->oriented ? 1 : 0;
        AddPictureItem(this, ImagePicture(icon), icon, FromCp1252(image->name.GetText()));
    }
}

void CComboBoxImage::SelectImage(const CProjectImage* image)
{
    const auto it = std::find(m_images.begin(), m_images.end(), image);
    if (it != m_images.end())
        setCurrentIndex(int(it - m_images.begin()));
}

CProjectImage* CComboBoxImage::GetSelectedImage() const
{
    const int index = currentIndex();
    return index >= 0 && index < int(m_images.size()) ? m_images[std::size_t(index)] : nullptr;
}

// --- CFileDirectoryDialog ---------------------------------------------------

CFileDirectoryDialog::CFileDirectoryDialog(QWidget* parent, const QString& title, const QString& folder)
    : m_pParent(parent), m_strTitle(title), m_strFolder(folder)
{
}

bool CFileDirectoryDialog::DoModal()
{
    m_strDirectory = AfxGetFolder(m_pParent, m_strTitle, m_strFolder);
    return !m_strDirectory.isEmpty();
}

// --- CImageSelectListCtrl ---------------------------------------------------

bool CImageSelectListCtrl::SetImages(CImagePtrArray* images)
{
    if (!images)
        return false;
    m_pImages = images;
    return true;
}

int CImageSelectListCtrl::RowIcon(int row) const
{
    const CProjectImage* image = m_pImages && row >= 0 && row < m_pImages->GetSize() ? m_pImages->GetAt(row) : nullptr;
    if (!image)
        return -1;
    return row == m_iSelected ? 2 : image->enabled ? 0 : 1;
}

void CImageSelectListCtrl::Fill()
{
    if (!m_pImages || m_pImages->GetSize() == 0)
        return;
    clear();
    setColumnCount(2);
    setHorizontalHeaderLabels({QStringLiteral("Image"), QStringLiteral("Points")});
    for (int c = 0; c < 2; ++c) {
        horizontalHeaderItem(c)->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        horizontalHeaderItem(c)->setToolTip(horizontalHeaderItem(c)->text());
        setColumnWidth(c, 65);
    }
    const int n = m_pImages->GetSize();
    setRowCount(n);
    for (int r = 0; r < n; ++r) {
        const CProjectImage* image = m_pImages->GetAt(r);
        if (!image)
            continue;
        char buffer[512];
        std::snprintf(buffer, sizeof buffer, "%s", image->GetFileName().GetText());
        auto* name = new QStandardItem(FromCp1252(buffer));
        const int icon = RowIcon(r);
        if (icon >= 0 && icon < int(m_icons.size()))
            name->setIcon(m_icons[std::size_t(icon)]);
        if (!image->enabled) {
            name->setForeground(QColor(255, 255, 0));
            name->setBackground(QColor(255, 0, 0));
        }
        std::snprintf(buffer, sizeof buffer, "%5d", image->targets.GetSize());
        auto* points = new QStandardItem(QString::fromLatin1(buffer));
        for (QStandardItem* it : {name, points})
            it->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        setItem(r, 0, name);
        setItem(r, 1, points);
    }
    AutoSizeColumns(-1);
}

void CImageSelectListCtrl::RemoveImage(int row)
{
    if (row == m_iSelected)
        m_iSelected = -1;
    if (m_pImages && row >= 0 && row < m_pImages->GetSize())
        m_pImages->RemoveAt(row, 1);
    if (m_pImages && m_pImages->GetSize() == 0) {
        setRowCount(0); // an emptied collection clears the list
        return;
    }
    Fill();
}

void CImageSelectListCtrl::AddImage(CProjectImage* image)
{
    if (!m_pImages || !image)
        return;
    m_pImages->Add(image);
    Fill();
}
