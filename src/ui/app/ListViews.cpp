#include "ListViews.h"

#include "CameraDialogs.h"
#include "Controls.h"
#include "DeviceDialogs.h"
#include "Frames.h"
#include "Hooks.h"
#include "KestrelonApp.h"
#include "KestrelonDoc.h"
#include "KestrelonView.h"
#include "ImageView.h"
#include "EllipseRecord.h"
#include "Message.h"

#include <QContextMenuEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPaintEvent>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

QString FormatCell(const char* format, ...)
{
    char buffer[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return FromCp1252(buffer);
}

namespace {

constexpr int kLastColumnWidth = 80;

} // namespace

// --- model ------------------------------------------------------------------

void CListModel::Reset(std::vector<Column> columns, int rows, std::vector<QIcon> icons)
{
    beginResetModel();
    m_columns = std::move(columns);
    m_rows = rows;
    m_icons = std::move(icons);
    endResetModel();
}

int CListModel::IconOf(int row, int column) const
{
    const Column& c = m_columns[std::size_t(column)];
    return c.icon ? c.icon(row) : -1;
}

QVariant CListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows || index.column() >= int(m_columns.size()))
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return Text(index.row(), index.column());
    case Qt::TextAlignmentRole:
        return int(Qt::AlignRight | Qt::AlignVCenter);
    case Qt::DecorationRole:
        if (const QIcon* icon = IconAt(IconOf(index.row(), index.column())))
            return *icon;
        return {};
    default:
        return {};
    }
}

QVariant CListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= int(m_columns.size()))
        return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return m_columns[std::size_t(section)].title;
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

// --- base -------------------------------------------------------------------

CListViewEx::CListViewEx(QWidget* parent) : QTableView(parent), m_model(*new CListModel)
{
    m_model.setParent(this);
    setModel(&m_model);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(false);
    setWordWrap(false);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setHighlightSections(false);
    setIconSize(QSize(20, 17));
}

CKestrelonDoc* CListViewEx::GetDocument() const
{
    return dynamic_cast<CKestrelonDoc*>(CView::GetDocument());
}

CKestrelonView* CListViewEx::GetTreeView() const
{
    auto* frame = dynamic_cast<CProjectFrame*>(GetParentFrame());
    return frame ? frame->GetTreeView() : nullptr;
}

void CListViewEx::OnUpdate(CView*, long)
{
    Fill();
    AutoSizeColumns(-1);
}

std::intptr_t CListViewEx::OnHubMessage(unsigned message, std::uintptr_t, std::intptr_t)
{
    if (message == UM_REFRESH_LIST)
        OnUpdate(nullptr, 0);
    return 0;
}

void CListViewEx::SetColumns(std::vector<CListModel::Column> columns, int rows, std::vector<QIcon> icons)
{
    m_model.Reset(std::move(columns), rows, std::move(icons));
}

void CListViewEx::AutoSizeColumns(int first)
{
    const int columns = m_model.columnCount();
    if (columns == 0)
        return;
    QHeaderView* header = horizontalHeader();
    // Never narrower than its title needs in the header's style and font.
    const auto titleWidth = [header](int c) { return std::max(kLastColumnWidth, header->sectionSizeHint(c)); };
    if (first >= 0) {
        if (first < columns)
            header->resizeSection(first, titleWidth(first));
        return;
    }
    const QFontMetrics text(font());
    const QFontMetrics title(header->font());
    const int margin = 2 * style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 12;
    const int rows = m_model.rowCount();
    for (int c = 0; c + 1 < columns; ++c) {
        int widest = std::max(title.horizontalAdvance(m_model.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString()) + 16,
                              header->sectionSizeHint(c));
        bool icons = false;
        for (int r = 0; r < rows; ++r) {
            widest = std::max(widest, text.horizontalAdvance(m_model.Text(r, c)) + margin);
            icons = icons || m_model.IconOf(r, c) >= 0;
        }
        header->resizeSection(c, widest + (icons ? iconSize().width() + 4 : 0));
    }
    header->resizeSection(columns - 1, titleWidth(columns - 1));
}

QStringList CListViewEx::ColumnTitles() const
{
    QStringList titles;
    for (int c = 0; c < m_model.columnCount(); ++c)
        titles << m_model.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    return titles;
}

std::vector<int> CListViewEx::SelectedRows() const
{
    std::vector<int> rows;
    if (!selectionModel())
        return rows;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void CListViewEx::SelectRows(const std::vector<int>& rows)
{
    clearSelection();
    QItemSelection selection;
    for (int r : rows)
        if (r >= 0 && r < m_model.rowCount())
            selection.select(m_model.index(r, 0), m_model.index(r, std::max(0, m_model.columnCount() - 1)));
    selectionModel()->select(selection, QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

void CListViewEx::paintEvent(QPaintEvent* event)
{
    if (CKestrelonDoc* doc = GetDocument(); doc && doc->IsJobRunning()) {
        QPainter(viewport()).fillRect(event->rect(), palette().base());
        return;
    }
    QTableView::paintEvent(event);
}

void CListViewEx::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_A && (event->modifiers() & Qt::ControlModifier)) {
        if (m_model.rowCount() > 0)
            selectAll();
        return;
    }
    QTableView::keyPressEvent(event);
}

void CListViewEx::contextMenuEvent(QContextMenuEvent* event)
{
    if (QMenu* menu = BuildContextMenu()) {
        menu->exec(event->globalPos());
        delete menu;
    }
}

std::vector<QIcon> CListViewEx::MakeIcons(const std::vector<QColor>& colours, QSize size)
{
    std::vector<QIcon> icons;
    for (const QColor& colour : colours) {
        QPixmap pixmap(size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::black);
        p.setBrush(colour);
        p.drawRoundedRect(QRectF(2.5, 2.5, size.width() - 5, size.height() - 5), 3, 3);
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(size.width() / 2.0, size.height() / 2.0), size.height() / 5.0, size.height() / 5.0);
        p.end();
        icons.emplace_back(pixmap);
    }
    return icons;
}

// --- cameras ----------------------------------------------------------------

namespace {

std::vector<CListModel::Column> CameraColumns(const std::vector<CCamera*>& cameras)
{
    auto cam = [&cameras](int row) -> const CCamera& { return *cameras[std::size_t(row)]; };
    return {
        {QStringLiteral("Camera"), [cam](int r) { return FormatCell("%s", cam(r).identifier.GetText()); },
         [](int) { return 0; }},
        {QStringLiteral("Type"), [cam](int r) { return FormatCell("%s", cam(r).cameraType.GetText()); }, {}},
        {QStringLiteral("X Pixels"), [cam](int r) { return FormatCell("%6d", cam(r).XPixels); }, {}},
        {QStringLiteral("Y Pixels"), [cam](int r) { return FormatCell("%6d", cam(r).YPixels); }, {}},
        {QStringLiteral("X Pixel Sz"), [cam](int r) { return FormatCell("%5.3f", cam(r).XPixelSize); }, {}},
        {QStringLiteral("Y Pixel Sz"), [cam](int r) { return FormatCell("%5.3f", cam(r).YPixelSize); }, {}},
        {QStringLiteral("Focal Length"), [cam](int r) { return FormatCell("%5.3f", cam(r).parameters[CAM_C]); }, {}},
        {QStringLiteral("xp"), [cam](int r) { return FormatCell("%5.3f", cam(r).parameters[CAM_XP]); }, {}},
        {QStringLiteral("yp"), [cam](int r) { return FormatCell("%5.3f", cam(r).parameters[CAM_YP]); }, {}},
    };
}

std::vector<CCamera*> CollectCameras(const CCameraList& list)
{
    std::vector<CCamera*> cameras;
    for (int i = 0; i < list.GetSize(); ++i)
        if (CCamera* camera = list.GetAt(i))
            cameras.push_back(camera);
    return cameras;
}

QAction* AddCommand(QMenu* menu, const QString& text, int id, bool enabled)
{
    QAction* action = menu->addAction(text);
    action->setData(id);
    action->setEnabled(enabled);
    return action;
}

} // namespace

CDBaseCamerasListView::CDBaseCamerasListView(QWidget* parent) : CListViewEx(parent)
{
    connect(this, &QAbstractItemView::doubleClicked, this, [this] { OnViewCameraData(); });
}

void CDBaseCamerasListView::Fill()
{
    CKestrelonApp* app = AfxGetApp();
    m_cameras = app ? CollectCameras(app->cameraDatabase) : std::vector<CCamera*>{};
    SetColumns(CameraColumns(m_cameras), int(m_cameras.size()), MakeIcons({QColor(90, 140, 210)}, QSize(20, 17)));
}

QMenu* CDBaseCamerasListView::BuildContextMenu()
{
    const std::size_t n = SelectedRows().size();
    auto* menu = new QMenu(this);
    QAction* view = AddCommand(menu, QStringLiteral("View Camera Data"), 367, n == 1);
    connect(view, &QAction::triggered, this, [this] { OnViewCameraData(); });
    QAction* remove = AddCommand(menu, QStringLiteral("Remove Camera"), 368, n >= 1);
    connect(remove, &QAction::triggered, this, [this] { OnRemoveCamera(); });
    QAction* compare = AddCommand(menu, QStringLiteral("Statistical Comparision"), 369, n == 2);
    connect(compare, &QAction::triggered, this, [this] { OnCompareCameras(); });
    return menu;
}

void CDBaseCamerasListView::OnViewCameraData()
{
    CKestrelonApp* app = AfxGetApp();
    const std::vector<int> rows = SelectedRows();
    if (!app || rows.size() != 1)
        return;
    // The identifier is copied: the dialog may rename the camera.
    const std::string identifier = m_cameras[std::size_t(rows[0])]->identifier.GetText();
    if (!app->EditDatabaseCamera(identifier.c_str()))
        return;
    if (CKestrelonView* tree = GetTreeView())
        tree->RefreshCameraDatabaseBranch();
    OnUpdate(this, 0);
}

void CDBaseCamerasListView::OnCompareCameras()
{
    CKestrelonApp* app = AfxGetApp();
    const std::vector<int> rows = SelectedRows();
    if (!app || rows.size() != 2)
        return;
    CCamera* first = app->cameraDatabase.FindByName(m_cameras[std::size_t(rows[0])]->identifier.GetText());
    CCamera* second = app->cameraDatabase.FindByName(m_cameras[std::size_t(rows[1])]->identifier.GetText());
    if (!first || !second)
        return;
    CCameraCompareDlg dialog(first, second, this);
    dialog.DoModal();
}

void CDBaseCamerasListView::OnRemoveCamera()
{
    CKestrelonApp* app = AfxGetApp();
    const std::vector<int> rows = SelectedRows();
    if (!app || rows.empty())
        return;
    CDynArray<CCamera> selected;
    for (int r : rows)
        if (CCamera* camera = app->cameraDatabase.FindByName(m_cameras[std::size_t(r)]->identifier.GetText()))
            selected.Add(camera);
    if (selected.GetSize() == 0 || !app->DeleteCamerasFromDatabase(selected))
        return;
    // The rows point at removed cameras until the refill.
    m_cameras.clear();
    SetColumns({}, 0);
    auto* frame = dynamic_cast<CProjectFrame*>(GetParentFrame());
    if (frame)
        frame->UpdateOtherProjectFrames();
    if (CKestrelonView* tree = GetTreeView())
        tree->RebuildCameraDatabaseBranch();
    OnUpdate(this, 0);
}

void CDBaseCamerasListView::keyPressEvent(QKeyEvent* event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && (event->modifiers() & Qt::AltModifier)) {
        OnViewCameraData();
        return;
    }
    if (event->key() == Qt::Key_Delete) {
        OnRemoveCamera();
        return;
    }
    CListViewEx::keyPressEvent(event);
}

CProjectCamerasListView::CProjectCamerasListView(QWidget* parent) : CListViewEx(parent)
{
    connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& i) { OnViewCameraData(i.row()); });
}

void CProjectCamerasListView::OnViewCameraData(int row)
{
    CKestrelonDoc* doc = GetDocument();
    if (!doc || row < 0 || row >= int(m_cameras.size()))
        return;
    CCamera* camera = doc->cameras.FindByName(m_cameras[std::size_t(row)]->identifier.GetText());
    if (!camera)
        return;
    // The dialog's Save stores into the camera whichever way it closes.
    const CCameraList before(doc->cameras);
    CCameraDataDlg dialog(camera, this);
    dialog.DoModal();
    CKestrelonView* tree = nullptr;
    for (CView* view : doc->GetViews())
        if (!tree)
            tree = dynamic_cast<CKestrelonView*>(view);
    if (tree ? tree->AfterProjectCameraEdit(before) : doc->cameras != before) {
        if (!tree)
            doc->SetModifiedFlag(true);
        OnUpdate(this, 0);
    }
}

void CProjectCamerasListView::Fill()
{
    CKestrelonDoc* doc = GetDocument();
    m_cameras = doc ? CollectCameras(doc->cameras) : std::vector<CCamera*>{};
    SetColumns(CameraColumns(m_cameras), int(m_cameras.size()), MakeIcons({QColor(90, 140, 210)}, QSize(20, 17)));
}

// --- scale bars -------------------------------------------------------------

CDBaseScalebarsListView::CDBaseScalebarsListView(QWidget* parent) : CListViewEx(parent)
{
    connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& i) { OpenScaleBar(i.row()); });
}

void CDBaseScalebarsListView::OpenScaleBar(int row)
{
    CKestrelonApp* app = AfxGetApp();
    if (!app || row < 0 || row >= int(m_bars.size()))
        return;
    const int index = app->scaleBarDatabase.FindIndexByName(m_bars[std::size_t(row)]->name);
    if (index < 0)
        return;
    CScaleBarsDlg dialog(&app->scaleBarDatabase, index, this);
    dialog.DoModal();
}

void CDBaseScalebarsListView::Fill()
{
    m_bars.clear();
    if (CKestrelonApp* app = AfxGetApp())
        for (int i = 0; i < app->scaleBarDatabase.GetSize(); ++i)
            if (CScaleBar* bar = app->scaleBarDatabase.GetAt(i))
                m_bars.push_back(bar);
    auto bar = [this](int row) -> const CScaleBar& { return *m_bars[std::size_t(row)]; };
    SetColumns({{QStringLiteral("Scale Bar"), [bar](int r) { return FormatCell("%s", bar(r).name.GetText()); }, {}},
                {QStringLiteral("Length"), [bar](int r) { return FormatCell("%7.2f", bar(r).calibratedLength); }, {}},
                {QStringLiteral("Units"), [bar](int r) { return FormatCell("%s", bar(r).units.GetText()); }, {}},
                {QStringLiteral("Label1"), [bar](int r) { return FormatCell("%s", bar(r).endLabel1.GetText()); }, {}},
                {QStringLiteral("Label2"), [bar](int r) { return FormatCell("%s", bar(r).endLabel2.GetText()); }, {}}},
               int(m_bars.size()));
}

// --- images -----------------------------------------------------------------

CProjectImagesListView::CProjectImagesListView(QWidget* parent) : CListViewEx(parent)
{
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int c) { OnColumnClick(c); });
    connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& i) { OpenImage(i.row()); });
}

void CProjectImagesListView::Fill()
{
    m_images.clear();
    CKestrelonDoc* doc = GetDocument();
    CKestrelonView* tree = GetTreeView();
    const CCamera* camera = tree ? tree->GetSelectedCamera() : m_pCamera;
    if (doc && camera)
        for (int i = 0; i < doc->images.GetSize(); ++i)
            if (CProjectImage* image = doc->images.GetAt(i))
                if (doc->cameras.FindByName(image->cameraName.GetText()) == camera)
                    m_images.push_back(image);
    auto img = [this](int row) -> const CProjectImage& { return *m_images[std::size_t(row)]; };
    const double toDegrees = 180.0 / (4.0 * std::atan(1.0));
    const bool fileName = m_bShowFileName != 0;
    SetColumns(
        {{QStringLiteral("Image"), [img](int r) { return FormatCell("%s", img(r).name.GetText()).left(64); },
          [](int) { return 0; }},
         {fileName ? QStringLiteral("FileName") : QStringLiteral("Full File Path"),
          [img, fileName](int r) {
              return fileName ? FormatCell("%s", img(r).GetFileName().GetText())
                              : FormatCell("%s", img(r).filePath.GetText());
          },
          {}},
         {QStringLiteral("X"), [img](int r) { return FormatCell("%.3f", img(r).X); }, {}},
         {QStringLiteral("Y"), [img](int r) { return FormatCell("%.3f", img(r).Y); }, {}},
         {QStringLiteral("Z"), [img](int r) { return FormatCell("%.3f", img(r).Z); }, {}},
         {QStringLiteral("Azimuth"), [img, toDegrees](int r) { return FormatCell("%6.3f", img(r).GetAzimuth() * toDegrees); },
          {}},
         {QStringLiteral("Elevation"),
          [img, toDegrees](int r) { return FormatCell("%6.3f", img(r).GetElevation() * toDegrees); }, {}},
         {QStringLiteral("Roll"), [img, toDegrees](int r) { return FormatCell("%6.3f", img(r).GetRoll() * toDegrees); },
          {}},
         {QStringLiteral("Observations"), [img](int r) { return FormatCell("%d", img(r).targets.GetSize()); }, {}}},
        int(m_images.size()), MakeIcons({QColor(230, 190, 70)}, QSize(20, 17)));
}

void CProjectImagesListView::AddImage(CProjectImage* image)
{
    if (!image || std::find(m_images.begin(), m_images.end(), image) != m_images.end())
        return;
    Fill();
}

void CProjectImagesListView::OnColumnClick(int column)
{
    if (column != 1)
        return;
    m_bShowFileName = !m_bShowFileName;
    OnUpdate(nullptr, 0);
}

std::vector<CProjectImage*> CProjectImagesListView::SelectedImages() const
{
    std::vector<CProjectImage*> images;
    CKestrelonDoc* doc = GetDocument();
    if (!doc)
        return images;
    for (int r : SelectedRows())
        if (CProjectImage* image = doc->images.FindByName(m_images[std::size_t(r)]->name.GetText()))
            images.push_back(image);
    return images;
}

QMenu* CProjectImagesListView::BuildContextMenu()
{
    if (SelectedRows().empty())
        return nullptr;
    auto* menu = new QMenu(this);
    const struct {
        const char* text;
        int id;
        std::function<void()> run;
    } entries[] = {
        {"Delete Image(s)", ID_DELETE_IMAGES, [this] { OnDeleteImages(); }},
        {"Low Quality Image(s)", ID_LOW_QUALITY, [this] { OnSetImageFlag(0); }},
        {"High Quality Image(s)", ID_HIGH_QUALITY, [this] { OnSetImageFlag(1); }},
        {"Enable Image(s)", ID_ENABLE_IMAGES, [this] { OnSetImageFlag(2); }},
        {"Disable Image(s)", ID_DISABLE_IMAGES, [this] { OnSetImageFlag(3); }},
        {"Relink Image(s)", ID_RELINK_IMAGES, [this] { OnRelinkImages(); }},
        {"Align to Camera", ID_ALIGN_TO_CAMERA, nullptr},
    };
    for (const auto& e : entries) {
        QAction* action = AddCommand(menu, QString::fromLatin1(e.text), e.id, true);
        if (e.run)
            connect(action, &QAction::triggered, this, e.run);
    }
    return menu;
}

void CProjectImagesListView::OnDeleteImages()
{
    const std::vector<int> rows = SelectedRows();
    if (rows.empty())
        return;
    char text[128];
    std::snprintf(text, sizeof text, "Do you really want to delete %d selected Image(s)?", int(rows.size()));
    if (AfxMessageBox(text, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    CImagePtrArray list;
    for (CProjectImage* image : SelectedImages())
        list.Add(image);
    // The rows go first, so no row points at a removed image.
    m_images.clear();
    SetColumns({}, 0);
    SendHubMessage(UM_DELETE_IMAGES, rows.size(), reinterpret_cast<std::intptr_t>(&list));
    OnUpdate(nullptr, 0);
}

void CProjectImagesListView::OnSetImageFlag(int what)
{
    const std::vector<CProjectImage*> images = SelectedImages();
    bool changed = false;
    for (CProjectImage* image : images) {
        const bool before[3] = {image->qualitySet, image->highQuality, image->enabled};
        if (what == 0 || what == 1) {
            image->qualitySet = true;
            image->highQuality = what == 1;
        } else {
            image->enabled = what == 2;
        }
        changed |= before[0] != image->qualitySet || before[1] != image->highQuality || before[2] != image->enabled;
    }
    if (images.empty())
        return;
    if (changed)
        if (CKestrelonDoc* doc = GetDocument())
            doc->SetModifiedFlag(true);
    PostHubMessage(UM_REFRESH_IMAGES_AND_LIST, 0, 0);
}

void CProjectImagesListView::OnRelinkImages()
{
    CKestrelonDoc* doc = GetDocument();
    const std::vector<CProjectImage*> images = SelectedImages();
    if (!doc || images.empty())
        return;
    AfxMessageBox("This option allows to relink moved images.\nImages must have the same filename in the new directory.",
                  MB_ICONINFORMATION);
    const QString start = QFileInfo(doc->GetDocumentPath()).absolutePath();
    CFileDirectoryDialog dialog(this, QStringLiteral("Select new Image File Directory"), start);
    if (!dialog.DoModal())
        return;
    const QString folder = dialog.GetDirectory();
    int relinked = 0;
    for (CProjectImage* image : images) {
        const std::string path = ToCp1252(folder) + "/" + image->GetFileName().GetText();
        const CCamera* camera = doc->cameras.FindByName(image->cameraName.GetText());
        bool fits = false;
        if (!camera || !QFileInfo(FromCp1252(path)).isFile() ||
            !CheckImageFitsCamera(path.c_str(), *camera, fits, true) || !fits)
            continue;
        image->SetFilePath(path.c_str());
        ++relinked;
    }
    if (relinked > 0)
        doc->SetModifiedFlag(true);
    char text[160];
    std::snprintf(text, sizeof text, "%2d Image(s) relinked successful.\n%2d Image(s) were not relinked", relinked,
                  int(images.size()) - relinked);
    AfxMessageBox(text, MB_ICONINFORMATION);
    OnUpdate(nullptr, 0);
}

void CProjectImagesListView::OpenImage(int row)
{
    CKestrelonDoc* doc = GetDocument();
    if (!doc || row < 0 || row >= int(m_images.size()))
        return;
    CProjectImage* image = doc->images.FindByName(m_images[std::size_t(row)]->name.GetText());
    if (!image)
        return;
    if (!IsImageFileDisplayable(*image)) {
        AfxMessageBox("No valid associated image", MB_ICONINFORMATION);
        return;
    }
    OpenImageWindow(doc, image);
}

void CProjectImagesListView::keyPressEvent(QKeyEvent* event)
{
    const std::vector<int> rows = SelectedRows();
    if (rows.empty())
        return; // every key, Ctrl+A included
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        OpenImage(currentIndex().isValid() ? currentIndex().row() : rows.front());
        return;
    }
    if (event->key() == Qt::Key_Delete) {
        OnDeleteImages();
        return;
    }
    CListViewEx::keyPressEvent(event);
}

// --- observations -----------------------------------------------------------

CObservationsListView::CObservationsListView(QWidget* parent) : CListViewEx(parent) {}

CProjectImage* CObservationsListView::FindImage() const
{
    CKestrelonDoc* doc = GetDocument();
    CKestrelonView* tree = GetTreeView();
    if (!doc)
        return nullptr;
    return doc->images.FindByName(ToCp1252(tree ? tree->GetObsImageName() : m_strImageName).c_str());
}

void CObservationsListView::Fill()
{
    m_rows.clear();
    m_bEllipses = 0;
    CProjectImage* image = FindImage();
    if (!image) {
        SetColumns({}, 0);
        return;
    }
    const int n = image->targets.GetSize();
    for (int i = 0; i < n; ++i)
        if (CImageObservation* o = image->GetObservationAt(i)) {
            if (!o->disabled)
                m_rows.push_back({i, o});
            m_bEllipses |= o->GetEllipse() != nullptr;
        }
    for (int i = n - 1; i >= 0; --i)
        if (CImageObservation* o = image->GetObservationAt(i))
            if (o->disabled)
                m_rows.push_back({i, o});
    auto obs = [this](int row) -> const CImageObservation& {
        static const CImageObservation gone;
        const CImageObservation* o = RowObservation(row);
        return o ? *o : gone;
    };
    std::vector<CListModel::Column> columns = {
        {QStringLiteral("Point Label"),
         [obs](int r) {
             const CImageObservation& o = obs(r);
             return o.disabled ? FormatCell("Scan %d", -o.label.GetNumber()) : FormatCell("%s", o.label.GetText());
         },
         [obs](int r) { return obs(r).disabled ? 1 : obs(r).marked ? 2 : 0; }},
        {QStringLiteral("x"), [obs](int r) { return FormatCell("%f", obs(r).x); }, {}},
        {QStringLiteral("y"), [obs](int r) { return FormatCell("%f", obs(r).y); }, {}},
        {QStringLiteral("x residual"), [obs](int r) { return FormatCell("%f", obs(r).vx * 1000.0); }, {}},
        {QStringLiteral("y residual"), [obs](int r) { return FormatCell("%f", obs(r).vy * 1000.0); }, {}},
        {QStringLiteral("radial distance"), [obs](int r) { return FormatCell("%f", obs(r).GetRadialDistance()); }, {}},
    };
    if (m_bEllipses) {
        auto cell = [obs](const char* format, double (*pick)(const CTargetEllipse&)) {
            return [obs, format, pick](int r) {
                const CTargetEllipse* e = obs(r).GetEllipse();
                return e ? FormatCell(format, pick(*e)) : QString();
            };
        };
        columns.push_back({QStringLiteral("a"), cell("%.4f", [](const CTargetEllipse& e) { return e.major; }), {}});
        columns.push_back({QStringLiteral("b"), cell("%.4f", [](const CTargetEllipse& e) { return e.minor; }), {}});
        columns.push_back({QStringLiteral("phi"), cell("%.2f",
                                                       [](const CTargetEllipse& e) {
                                                           const double d = e.rotation * 180.0 / (4.0 * std::atan(1.0));
                                                           return d < 0.0 ? d + 180.0 : d;
                                                       }),
                           {}});
    }
    SetColumns(std::move(columns), int(m_rows.size()),
               MakeIcons({QColor(60, 180, 60), QColor(200, 60, 60), QColor(240, 200, 40)}, QSize(20, 17)));
}

const CImageObservation* CObservationsListView::RowObservation(int row) const
{
    const CProjectImage* image = FindImage();
    if (row >= 0 && std::size_t(row) < m_rows.size()) {
        const Row& r = m_rows[std::size_t(row)];
        if (image && image->GetObservationAt(r.index) == r.observation)
            return r.observation;
    }
    if (!m_bRefillPosted) {
        m_bRefillPosted = true;
        auto* self = const_cast<CObservationsListView*>(this);
        QTimer::singleShot(0, self, [self] {
            self->m_bRefillPosted = false;
            self->OnUpdate(nullptr, 0);
        });
    }
    return nullptr;
}

QMenu* CObservationsListView::BuildContextMenu()
{
    auto* menu = new QMenu(this);
    QAction* remove = AddCommand(menu, QStringLiteral("Delete"), 344, !SelectedRows().empty());
    connect(remove, &QAction::triggered, this, [this] { OnDeleteObservations(); });
    AddCommand(menu, QStringLiteral("Statistical Ellipse Summary"), 345, false);
    return menu;
}

void CObservationsListView::OnDeleteObservations()
{
    CProjectImage* image = FindImage();
    const std::vector<int> rows = SelectedRows();
    if (!image || rows.empty())
        return;
    if (AfxMessageBox("Delete Selected Observation(s)?", MB_YESNO | MB_ICONQUESTION) == IDNO)
        return;
    std::vector<std::string> labels;
    for (int r : rows)
        if (const CImageObservation* o = RowObservation(r))
            labels.emplace_back(o->label.GetText());
    m_rows.clear();
    SetColumns({}, 0);
    bool removed = false;
    for (const std::string& label : labels)
        removed |= image->RemoveObservationByText(label.c_str());
    if (removed)
        if (CKestrelonDoc* doc = GetDocument())
            doc->SetModifiedFlag(true);
    SendHubMessage(UM_REDRAW_IMAGE, 0, reinterpret_cast<std::intptr_t>(image));
    OnUpdate(nullptr, 0);
}

void CObservationsListView::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Delete) {
        OnDeleteObservations();
        return;
    }
    CListViewEx::keyPressEvent(event);
}
