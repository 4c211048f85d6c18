#include "PointList.h"

#include "EODevice.h"
#include "Frames.h"
#include "Hooks.h"
#include "Hub.h"
#include "KestrelonApp.h"
#include "KestrelonDoc.h"
#include "ListViews.h"
#include "Message.h"
#include "OkCancelButtons.h"
#include "PointDialogs.h"
#include "PointSet.h"
#include "ProjectImageList.h"

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QGridLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QPainter>
#include <QPaintEvent>
#include <QPixmap>
#include <QIcon>
#include <QAbstractTableModel>

#include <algorithm>
#include <cstring>
#include <map>
#include <cmath>
#include <cstdio>
#include <string>

namespace {

// "Edit 3D Point" and the distance box of the geometry tools.
C3DPointListCtrl::PointDialogs GeometryPointDialogs()
{
    C3DPointListCtrl::PointDialogs dialogs;
    dialogs.editPoint = [](CObjectPoint& point, bool control, CPointSet* set, QWidget* parent) {
        CEdit3DPointDlg dlg(&point, control, parent, set);
        return dlg.DoModal() == IDOK;
    };
    dialogs.distance = [](const CObjectPoint& a, const CObjectPoint& b, QWidget* parent) {
        CDistanceDlg dlg(&a, &b, parent);
        dlg.DoModal();
    };
    return dialogs;
}

C3DPointListCtrl::PointDialogs& Dialogs()
{
    static C3DPointListCtrl::PointDialogs dialogs = GeometryPointDialogs();
    return dialogs;
}

QAction* AddCommand(QMenu* menu, const QString& text, int id, bool enabled)
{
    QAction* action = menu->addAction(text);
    action->setData(id);
    action->setEnabled(enabled);
    return action;
}


QStandardItem* NewCell(const QString& text)
{
    auto* item = new QStandardItem(text);
    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

void LabelInUseMessage(const CNameBuffer& label)
{
    char text[128];
    std::snprintf(text, sizeof text, "Pointlabel %s already in use!", label.GetText());
    AfxMessageBox(text);
}

// The picture of a row: a target mark.
const QIcon& PointIcon()
{
    static const QIcon icon = [] {
        QPixmap pixmap(20, 17);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(Qt::black, 1));
        p.setBrush(QColor(60, 170, 90));
        p.drawEllipse(QPointF(10, 8.5), 5.5, 5.5);
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(10, 8.5), 2, 2);
        return QIcon(pixmap);
    }();
    return icon;
}

// Square root of a diagonal element of the point's covariance (0 without one).
double CovarianceSigma(const CObjectPoint& p, int k)
{
    const CMatrix& c = p.covariance;
    if (c.GetRows() <= k || (c.GetCols() >= 0 && c.GetCols() <= k))
        return 0.0;
    return std::sqrt(std::max(0.0, c.GetAt(k, k)));
}

} // namespace

// The cells of the point list, formatted from the set when they are shown.
class C3DPointCells : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;
    void Reset(const CPointSet* points, int columnMode, int columnCount, int rowCount)
    {
        beginResetModel();
        set = points, mode = columnMode, columns = columnCount, rows = rowCount;
        endResetModel();
    }
    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : rows; }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : columns; }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        static const char* const kTitles[3][11] = {
            {"Point Label", "X", "Y", "Z", "DX", "DY", "DZ"},
            {"Point Label", "X", "Y", "Z", "Apriori SX", "Apriori SY", "Apriori SZ"},
            {"Point Label", "X", "Y", "Z", "Sigma X", "Sigma Y", "Sigma Z", "Radius", "Normal X", "Normal Y",
             "Normal Z"}};
        if (orientation != Qt::Horizontal || section < 0 || section >= columns)
            return {};
        if (role == Qt::DisplayRole)
            return QString::fromLatin1(kTitles[mode][section]);
        if (role == Qt::TextAlignmentRole)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!set || !index.isValid() || index.row() >= set->GetSize())
            return {};
        if (role == Qt::TextAlignmentRole)
            return int((index.column() == 0 ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter);
        if (role == Qt::DecorationRole)
            return index.column() == 0 ? QVariant(PointIcon()) : QVariant();
        if (role != Qt::DisplayRole && role != Qt::EditRole)
            return {};
        return Text(*set->GetAt(index.row()), index.column());
    }
    QString Text(const CObjectPoint& p, int column) const
    {
        if (!edited.empty()) {
            const auto it = edited.find({&p, column});
            if (it != edited.end())
                return it->second;
        }
        switch (column) {
        case 0:
            return FromCp1252(p.label.GetText());
        case 1:
        case 2:
        case 3:
            return FormatCell("%6.3f", column == 1 ? p.x : column == 2 ? p.y : p.z);
        case 4:
        case 5:
        case 6:
            if (mode == C3DPointListCtrl::MODE_DISCREPANCY)
                return FormatCell("%6.2e", p.discrepancy[column - 4]);
            if (mode == C3DPointListCtrl::MODE_CONTROL)
                return FormatCell("%6.2g", p.aprioriSigma[column - 4]);
            return FormatCell("%6.2e", CovarianceSigma(p, column - 4));
        default:
            if (p.normal[0] == 0.0 && p.normal[1] == 0.0 && p.normal[2] == 0.0)
                return {};
            return FormatCell("%6.3f", column == 7 ? p.radius : p.normal[column - 8]);
        }
    }
    void CellChanged(int row, int column) { emit dataChanged(index(row, column), index(row, column)); }

    const CPointSet* set = nullptr;
    int mode = C3DPointListCtrl::MODE_OTHER;
    int columns = 0;
    int rows = 0;
    // Cells shown in the edit's own format until the next fill.
    std::map<std::pair<const CObjectPoint*, int>, QString> edited;
};

namespace {

// From the list to its view after an EO device edit.
constexpr unsigned kEODeviceChanged = 0x44f;

} // namespace

// --- C3DPointListCtrl -------------------------------------------------------

C3DPointListCtrl::C3DPointListCtrl(QWidget* parent) : CEditableListCtrl(parent), m_pCells(new C3DPointCells(this))
{
    UseModel(m_pCells);
    onEndLabelEdit = [this](int row, int column, const QString* text) { OnEndEdit(row, column, text); };
}

C3DPointListCtrl::PointDialogs C3DPointListCtrl::SetPointDialogs(PointDialogs dialogs)
{
    std::swap(Dialogs(), dialogs);
    return dialogs;
}

void C3DPointListCtrl::Initialize()
{
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setIconSize(QSize(20, 17));
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    horizontalHeader()->setDefaultAlignment(Qt::AlignRight | Qt::AlignVCenter);
}

void C3DPointListCtrl::Fill()
{
    m_pCells->edited.clear();
    if (!m_pPointSet || m_pPointSet->GetSize() == 0) {
        // Rows go, the columns stay.
        m_pCells->Reset(nullptr, m_pCells->mode, m_pCells->columns, 0);
        return;
    }
    const CPointSet& set = *m_pPointSet;
    m_nColumnMode = set.isDiscrepancySet ? MODE_DISCREPANCY : set.isControl ? MODE_CONTROL : MODE_OTHER;
    const bool hosted = m_pHostView != nullptr;
    const bool extra = m_nColumnMode == MODE_OTHER && m_bExtraColumns && hosted;
    const int columns = !hosted ? 4 : extra ? 11 : 7;
    m_pCells->Reset(&set, m_nColumnMode, columns, set.GetSize());
    AutoSizeColumns(-1);
}

bool C3DPointListCtrl::CanEditCell(int row, int column) const
{
    (void)row;
    if (column >= 0 && column <= 3)
        return true;
    return column >= 4 && m_pPointSet && m_pPointSet->isControl;
}

CObjectPoint* C3DPointListCtrl::PointAtRow(int row) const
{
    if (!m_pPointSet || row < 0 || row >= m_pPointSet->GetSize())
        return nullptr;
    return m_pPointSet->GetAt(row);
}

bool C3DPointListCtrl::LabelInUse(const CObjectPoint* point, const CNameBuffer& label) const
{
    for (int i = 0; m_pPointSet && i < m_pPointSet->GetSize(); ++i) {
        const CObjectPoint* other = m_pPointSet->GetAt(i);
        if (other != point && other->label == label)
            return true;
    }
    return false;
}

bool C3DPointListCtrl::ApplyCellEdit(int row, int column, const QString& text)
{
    if (row < 0 || column < 0 || column > 6 || !m_pPointSet)
        return false;
    CObjectPoint* point = PointAtRow(row);
    if (!point)
        return false;
    if (column == 0) {
        CNameBuffer label;
        if (!ReadPointLabel(text, label))
            return false;
        if (LabelInUse(point, label)) {
            LabelInUseMessage(label);
            return false;
        }
        point->label = label;
        MoveToLabelPlace(row);
        StoreChange();
        Fill();
        return true;
    }
    double value = 0.0;
    if (!ReadNumberField(text, value))
        return false;
    if (column <= 3) {
        (column == 1 ? point->x : column == 2 ? point->y : point->z) = value;
    } else {
        point->aprioriSigma[column - 4] = value;
        m_pCells->edited[{point, column}] = FormatCell("%6.3e", value);
    }
    m_pCells->CellChanged(row, column);
    StoreChange();
    return true;
}

void C3DPointListCtrl::MoveToLabelPlace(int row)
{
    // The others are in label order: the point goes after the last one not
    // greater, then the order is confirmed (a full sort when it was not).
    CObjectPointList& set = *m_pPointSet;
    const CNameBuffer& label = set.GetAt(row)->label;
    const int others = set.GetSize() - 1;
    int lo = 0, hi = others;
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        if (label < set.GetAt(mid < row ? mid : mid + 1)->label)
            hi = mid;
        else
            lo = mid + 1;
    }
    set.Move(lo, row);
    set.SortByLabel();
}

void C3DPointListCtrl::OnEndEdit(int row, int column, const QString* text)
{
    if (!text || CellText(row, column) == *text)
        return;
    if (ApplyCellEdit(row, column, *text)) {
        m_pPointSet->SortByLabel();
        AutoSizeColumns(-1);
    }
}

CKestrelonDoc* C3DPointListCtrl::HostDocument() const
{
    return m_pHostView ? dynamic_cast<CKestrelonDoc*>(m_pHostView->GetDocument()) : nullptr;
}

void C3DPointListCtrl::paintEvent(QPaintEvent* event)
{
    if (CKestrelonDoc* doc = HostDocument(); doc && doc->IsJobRunning()) {
        QPainter(viewport()).fillRect(event->rect(), palette().base());
        return;
    }
    CEditableListCtrl::paintEvent(event);
}

// Writes the set's coordinate file; a failure names the file and leaves it
// as it was.
static bool WriteSetFile(const CPointSet& set)
{
    std::string error;
    const char* path = set.name.GetText();
    if (set.WriteXyzFile(path, 12, 13, 7, &error))
        return true;
    const std::string text = std::string("Cannot write the file ") + path + (error.empty() ? "" : "\n" + error);
    AfxMessageBox(text.c_str(), MB_ICONEXCLAMATION);
    return false;
}

// "-" + label for a disabled observation; when that is too long or already
// in the image, the stem is shortened and a counter added until it is unique.
static CNameBuffer DisabledLabel(const CObservationList& targets, const CNameBuffer& label)
{
    auto used = [&targets](const std::string& text) {
        for (int k = 0; k < targets.GetSize(); ++k)
            if (std::strcmp(targets.GetAt(k)->label.GetText(), text.c_str()) == 0)
                return true;
        return false;
    };
    const std::string stem = std::string("-") + label.GetText();
    CNameBuffer result;
    if (stem.size() <= size_t(CNameBuffer::kMaxLength) && !used(stem) && result.Set(stem.c_str()))
        return result;
    for (int n = 1;; ++n) {
        const std::string counter = std::to_string(n);
        const std::string text = stem.substr(0, CNameBuffer::kMaxLength - counter.size()) + counter;
        if (!used(text) && result.Set(text.c_str()))
            return result;
    }
}

bool C3DPointListCtrl::StoreChange()
{
    if (!m_pHostView || !m_pPointSet)
        return true;
    if (m_bProjectSet) {
        if (CKestrelonDoc* doc = HostDocument())
            doc->SetModifiedFlag();
        return WriteSetFile(*m_pPointSet);
    }
    if (CKestrelonApp* app = AfxGetApp())
        app->FlushDatabases();
    m_pHostView->OnHubMessage(kEODeviceChanged, 0, 0);
    return true;
}

std::vector<int> C3DPointListCtrl::SelectedRows() const
{
    std::vector<int> rows;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void C3DPointListCtrl::SelectRows(const std::vector<int>& rows)
{
    clearSelection();
    QItemSelection selection;
    for (int r : rows)
        selection.select(model()->index(r, 0), model()->index(r, ColumnCount() - 1));
    selectionModel()->select(selection, QItemSelectionModel::Select);
}

QMenu* C3DPointListCtrl::BuildContextMenu()
{
    const std::size_t n = SelectedRows().size();
    const bool withObservations = m_pHostView && m_bProjectSet;
    auto* menu = new QMenu(this);
    auto add = [&](const QString& text, int id, bool enabled, void (C3DPointListCtrl::*handler)()) {
        QAction* action = AddCommand(menu, text, id, enabled);
        connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
        return action;
    };
    add(QStringLiteral("Distance\tCtrl+D"), ID_DISTANCE, n == 2, &C3DPointListCtrl::OnDistance);
    add(QStringLiteral("Add Point"), ID_ADD_POINT, true, &C3DPointListCtrl::OnAddPoint);
    if (withObservations)
        menu->addSeparator();
    add(QStringLiteral("Rename"), ID_RENAME, n == 1, &C3DPointListCtrl::OnRename);
    if (withObservations)
        add(QStringLiteral("Rename (incl. Observations)"), ID_RENAME_WITH_OBS, n == 1,
            &C3DPointListCtrl::OnRenameWithObservations);
    if (withObservations)
        menu->addSeparator();
    add(QStringLiteral("Delete"), ID_DELETE, n >= 1, &C3DPointListCtrl::OnDelete);
    if (withObservations)
        add(QStringLiteral("Delete (incl. Observations)"), ID_DELETE_WITH_OBS, n >= 1,
            &C3DPointListCtrl::OnDeleteWithObservations);
    menu->addSeparator();
    add(QStringLiteral("Statistical Summary"), ID_STATISTICS, n >= 2, &C3DPointListCtrl::OnStatisticalSummary);
    add(QStringLiteral("Properties"), ID_PROPERTIES, n == 1, &C3DPointListCtrl::OnProperties);
    return menu;
}

void C3DPointListCtrl::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu* menu = BuildContextMenu();
    menu->exec(event->globalPos());
    delete menu;
}

void C3DPointListCtrl::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_D && (event->modifiers() & Qt::ControlModifier)) {
        OnDistance();
        return;
    }
    CEditableListCtrl::keyPressEvent(event);
}

void C3DPointListCtrl::OnDistance()
{
    const std::vector<int> rows = SelectedRows();
    if (rows.size() != 2 || !Dialogs().distance)
        return;
    const CObjectPoint* a = PointAtRow(rows[0]);
    const CObjectPoint* b = PointAtRow(rows[1]);
    if (a && b)
        Dialogs().distance(*a, *b, this);
}

void C3DPointListCtrl::OnAddPoint()
{
    if (!m_pPointSet || !Dialogs().editPoint)
        return;
    CObjectPoint point;
    if (!Dialogs().editPoint(point, m_pPointSet->isControl, m_pPointSet, this))
        return;
    if (LabelInUse(nullptr, point.label)) {
        LabelInUseMessage(point.label);
        return;
    }
    m_pPointSet->AddPointSorted(point);
    StoreChange();
    Fill();
}

void C3DPointListCtrl::OnRename()
{
    const std::vector<int> rows = SelectedRows();
    if (rows.size() == 1)
        EditSubLabel(rows[0], 0);
}

void C3DPointListCtrl::OnRenameWithObservations()
{
    const std::vector<int> rows = SelectedRows();
    CObjectPoint* point = rows.empty() ? nullptr : PointAtRow(rows[0]);
    if (!m_bProjectSet || !point)
        return;
    const CNameBuffer oldLabel = point->label;
    CRenamePointDlg dialog(nullptr);
    dialog.m_strNewLabel = FromCp1252(oldLabel.GetText());
    if (dialog.DoModal() != QDialog::Accepted)
        return;
    CNameBuffer newLabel;
    if (!ReadPointLabel(dialog.m_strNewLabel, newLabel) || newLabel == oldLabel)
        return;
    CKestrelonDoc* doc = HostDocument();
    if (!doc)
        doc = GetActiveKestrelonDoc();
    // Refused when the new label is taken in any set that would be renamed.
    bool taken = LabelInUse(point, newLabel);
    for (int i = 0; dialog.m_bRenameAll && doc && !taken && i < doc->pointSets.GetSize(); ++i) {
        CPointSet* set = doc->pointSets.GetAt(i);
        taken = set != m_pPointSet && set->IndexOfLabel(oldLabel) >= 0 && set->IndexOfLabel(newLabel) >= 0;
    }
    if (taken) {
        LabelInUseMessage(newLabel);
        return;
    }
    point->label = newLabel;
    m_pPointSet->SortByLabel();
    StoreChange();
    if (doc) {
        if (dialog.m_bRenameAll)
            for (int i = 0; i < doc->pointSets.GetSize(); ++i) {
                CPointSet* set = doc->pointSets.GetAt(i);
                if (set == m_pPointSet)
                    continue;
                const int at = set->IndexOfLabel(oldLabel);
                if (at < 0)
                    continue;
                set->GetAt(at)->label = newLabel;
                set->SortByLabel();
                WriteSetFile(*set);
            }
        for (int i = 0; i < doc->images.GetSize(); ++i) {
            CProjectImage* image = doc->images.GetAt(i);
            for (int k = 0; k < image->targets.GetSize(); ++k) {
                CImageObservation* o = image->targets.GetAt(k);
                if (!o->disabled && o->label == oldLabel) {
                    o->label = newLabel;
                    break;
                }
            }
            image->targets.SortByLabel();
        }
        doc->SetModifiedFlag();
    }
    Fill();
    PostHubMessage(UM_REDRAW_IMAGE_VIEWS, 0, 0);
}

void C3DPointListCtrl::OnDelete()
{
    const std::vector<int> rows = SelectedRows();
    if (rows.empty() || !m_pPointSet)
        return;
    if (AfxMessageBox("Delete Selected Points?", MB_YESNO) == IDNO)
        return;
    std::vector<CNameBuffer> labels;
    for (int r : rows)
        if (const CObjectPoint* p = PointAtRow(r))
            labels.push_back(p->label);
    for (const CNameBuffer& label : labels)
        m_pPointSet->RemovePoint(label);
    StoreChange();
    Fill();
}

void C3DPointListCtrl::OnDeleteWithObservations()
{
    const std::vector<int> rows = SelectedRows();
    if (rows.empty() || !m_pPointSet || !m_bProjectSet)
        return;
    if (AfxMessageBox("Delete Selected Points and all Referenced Observations?\n(Observation will be not deleted. "
                      "They will be marked as scanned)",
                      MB_YESNO) != IDYES)
        return;
    CKestrelonDoc* doc = HostDocument();
    if (!doc)
        doc = GetActiveKestrelonDoc();
    std::vector<CNameBuffer> labels;
    for (int r : rows)
        if (const CObjectPoint* p = PointAtRow(r))
            labels.push_back(p->label);
    for (const CNameBuffer& label : labels) {
        m_pPointSet->RemovePoint(label);
        for (int i = 0; doc && i < doc->images.GetSize(); ++i) {
            CProjectImage* image = doc->images.GetAt(i);
            for (int k = 0; k < image->targets.GetSize(); ++k) {
                CImageObservation* o = image->targets.GetAt(k);
                if (!o->disabled && o->label == label) {
                    o->disabled = true;
                    o->label = DisabledLabel(image->targets, label);
                    break;
                }
            }
        }
    }
    if (doc) {
        for (int i = 0; i < doc->images.GetSize(); ++i)
            doc->images.GetAt(i)->targets.SortByLabel();
    }
    StoreChange();
    if (doc)
        doc->UpdateAllViews();
    else
        Fill();
}

void C3DPointListCtrl::OnStatisticalSummary()
{
    std::vector<const CObjectPoint*> points;
    for (int r : SelectedRows())
        if (const CObjectPoint* p = PointAtRow(r))
            points.push_back(p);
    C3DPointStatisticDlg dialog(std::move(points), m_nColumnMode, this);
    dialog.DoModal();
}

void C3DPointListCtrl::OnProperties()
{
    const std::vector<int> rows = SelectedRows();
    CObjectPoint* point = rows.empty() ? nullptr : PointAtRow(rows[0]);
    if (!point || !Dialogs().editPoint)
        return;
    CObjectPoint edited(*point);
    if (!Dialogs().editPoint(edited, m_pPointSet->isControl, m_pPointSet, this))
        return;
    if (LabelInUse(point, edited.label)) {
        LabelInUseMessage(edited.label);
        return;
    }
    *point = edited;
    m_pPointSet->SortByLabel();
    StoreChange();
    Fill();
}

// --- C3DDataListView --------------------------------------------------------

C3DDataListView::C3DDataListView(QWidget* parent) : QWidget(parent), m_pList(new C3DPointListCtrl(this))
{
    m_pList->setObjectName(IdName(0));
    m_pList->setGeometry(rect());
}

void C3DDataListView::OnInitialUpdate()
{
    CView::OnInitialUpdate();
    m_pList->SetHostView(this);
    m_pList->Initialize();
    m_pList->Fill();
    m_bInitialized = true;
}

void C3DDataListView::SetPointSet(CPointSet* set)
{
    m_pList->SetPointSet(set);
    m_strSetTitle = set ? set->name.GetTitle().GetText() : "";
}

bool C3DDataListView::SetStillExists() const
{
    const CPointSet* set = m_pList->GetPointSet();
    auto* doc = dynamic_cast<CKestrelonDoc*>(GetDocument());
    return !set || !doc || doc->HoldsPointSet(set);
}

void C3DDataListView::OnUpdate(CView* sender, long hint)
{
    // A set that is gone is not shown any more, and nothing of it is read; a
    // database EO device replaced by one of its name is followed.
    if (!SetStillExists()) {
        CKestrelonApp* app = AfxGetApp();
        CPointSet* successor = nullptr;
        if (!m_pList->IsProjectSet() && app && !m_strSetTitle.empty())
            successor = app->eoDeviceDatabase.FindByName(m_strSetTitle.c_str());
        SetPointSet(successor);
    } else if (const CPointSet* set = m_pList->GetPointSet()) {
        m_strSetTitle = set->name.GetTitle().GetText(); // it may have been renamed
    }
    if (m_bInitialized)
        m_pList->Fill();
    CView::OnUpdate(sender, hint);
}

std::intptr_t C3DDataListView::OnHubMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam)
{
    if (message == kEODeviceChanged) {
        if (auto* frame = dynamic_cast<CProjectFrame*>(GetParentFrame()))
            frame->UpdateOtherProjectFrames();
        return 0;
    }
    if (message == UM_REFRESH_LIST) {
        OnUpdate(nullptr, 0);
        return 0;
    }
    (void)wParam, (void)lParam;
    return 0;
}

void C3DDataListView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_pList->setGeometry(0, 0, width(), height());
}

// --- statistics -------------------------------------------------------------

bool ComputePointStatistics(const std::vector<const CObjectPoint*>& points, int mode, CPointStatistics& out)
{
    out = CPointStatistics();
    if (points.empty())
        return false;
    double sum[4] = {0, 0, 0, 0};
    for (std::size_t i = 0; i < points.size(); ++i) {
        const CObjectPoint& p = *points[i];
        double v[4];
        for (int k = 0; k < 3; ++k) {
            if (mode == C3DPointListCtrl::MODE_DISCREPANCY)
                v[k] = std::fabs(p.discrepancy[k]);
            else if (mode == C3DPointListCtrl::MODE_CONTROL)
                v[k] = p.aprioriSigma[k];
            else
                v[k] = CovarianceSigma(p, k);
        }
        v[3] = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
        for (int k = 0; k < 4; ++k) {
            if (i == 0 || v[k] < out.min[k])
                out.min[k] = v[k];
            if (i == 0 || v[k] > out.max[k])
                out.max[k] = v[k];
            sum[k] += v[k];
        }
    }
    for (int k = 0; k < 4; ++k)
        out.mean[k] = sum[k] / double(points.size());
    return true;
}

C3DPointStatisticDlg::C3DPointStatisticDlg(std::vector<const CObjectPoint*> points, int mode, QWidget* parent)
    : CDialog(337, parent), m_Table(new CEditableListCtrl), m_points(std::move(points)), m_nMode(mode)
{
    setWindowTitle(QStringLiteral("Statistical Summary of 3D Points"));
    m_Table->setObjectName(IdName(1410));
    auto* count = new QLineEdit;
    count->setObjectName(IdName(1061));
    count->setReadOnly(true);
    auto* box = NewOkCancelButtons(this);
    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QStringLiteral("Point count")), 0, 0);
    grid->addWidget(count, 0, 1);
    grid->addWidget(m_Table, 1, 0, 1, 2);
    grid->addWidget(box, 2, 0, 1, 2);
    resize(520, 200);
}

void C3DPointStatisticDlg::DoDataExchange(CDataExchange* dx)
{
    DDX_Text(dx, 1061, m_nPointCount);
}

bool C3DPointStatisticDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    m_nPointCount = int(m_points.size());
    UpdateData(false);
    static const char* const kTitles[] = {"Data", "X", "Y", "Z", "Total"};
    static const double kWidths[] = {0.27, 0.18, 0.18, 0.18, 0.18};
    m_Table->setColumnCount(5);
    QStringList titles;
    for (const char* t : kTitles)
        titles << QString::fromLatin1(t);
    m_Table->setHorizontalHeaderLabels(titles);
    m_Table->horizontalHeader()->setDefaultAlignment(Qt::AlignRight | Qt::AlignVCenter);
    if (layout())
        layout()->activate();
    const int width = m_Table->width();
    for (int c = 0; c < 5; ++c)
        m_Table->setColumnWidth(c, int(kWidths[c] * width));
    CPointStatistics s;
    if (!ComputePointStatistics(m_points, m_nMode, s))
        return true;
    const bool discrepancy = m_nMode == C3DPointListCtrl::MODE_DISCREPANCY;
    const char* rowTitles[3] = {discrepancy ? "Min discrepancy" : "Min sigma",
                                discrepancy ? "Max discrepancy" : "Max sigma",
                                discrepancy ? "Mean discrepancy" : "Mean sigma"};
    const double* values[3] = {s.min, s.max, s.mean};
    m_Table->setRowCount(3);
    for (int r = 0; r < 3; ++r) {
        m_Table->setItem(r, 0, NewCell(QString::fromLatin1(rowTitles[r])));
        for (int c = 0; c < 4; ++c)
            m_Table->setItem(r, c + 1, NewCell(FormatCell("%6.3e", values[r][c])));
    }
    return true;
}

// --- CRenamePointDlg --------------------------------------------------------

CRenamePointDlg::CRenamePointDlg(QWidget* parent) : CDialog(287, parent)
{
    setWindowTitle(QStringLiteral("Rename Point with Observation"));
    auto* edit = new QLineEdit;
    edit->setObjectName(IdName(1322));
    auto* check = new QCheckBox(QStringLiteral("Rename Point in all 3D Datas"));
    check->setObjectName(IdName(1323));
    auto* box = NewOkCancelButtons(this);
    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QStringLiteral("New Point Label")), 0, 0);
    grid->addWidget(edit, 0, 1);
    grid->addWidget(check, 1, 0, 1, 2);
    grid->addWidget(box, 2, 0, 1, 2);
}

void CRenamePointDlg::DoDataExchange(CDataExchange* dx)
{
    DDX_Text(dx, 1322, m_strNewLabel);
    DDX_Check(dx, 1323, m_bRenameAll);
}
