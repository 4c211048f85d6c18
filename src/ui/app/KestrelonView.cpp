#include "KestrelonView.h"

#include "Frames.h"
#include "Hooks.h"
#include "KestrelonApp.h"
#include "KestrelonDoc.h"
#include "ListViews.h"
#include "PointList.h"
#include "MainFrame.h"
#include "Message.h"

#include <QApplication>
#include <QHash>
#include <QHeaderView>
#include <QMdiArea>
#include <QPainter>
#include <QLineEdit>
#include <QTimerEvent>

#include <algorithm>
#include <array>

namespace {

QString Text(const CDynString& s)
{
    return FromCp1252(s.GetText());
}

// Title of a point set: its name without folder and extension.
QString TitleOf(const CPointSet& set)
{
    return Text(set.GetName().GetTitle());
}

// The icons, drawn once: 32 x 27 pixels each.
const std::array<QIcon, ICON_COUNT>& TreeIcons()
{
    static std::array<QIcon, ICON_COUNT> icons;
    static bool made = false;
    if (made)
        return icons;
    made = true;
    auto draw = [](const std::function<void(QPainter&)>& paint) {
        QPixmap pixmap(32, 27);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        paint(p);
        p.end();
        return QIcon(pixmap);
    };
    auto camera = [](QPainter& p) {
        p.setPen(Qt::black);
        p.setBrush(QColor(70, 70, 80));
        p.drawRoundedRect(3, 8, 24, 15, 2, 2);
        p.drawRect(9, 5, 8, 3);
        p.setBrush(QColor(120, 170, 230));
        p.drawEllipse(QPointF(15, 15.5), 5, 5);
    };
    auto scaleBar = [](QPainter& p) {
        p.setPen(Qt::black);
        p.setBrush(QColor(240, 200, 40));
        p.drawRect(2, 10, 28, 7);
        for (int x = 6; x < 30; x += 5)
            p.drawLine(x, 10, x, 13);
    };
    auto folder = [](QColor colour) {
        return [colour](QPainter& p) {
            p.setPen(Qt::black);
            p.setBrush(colour);
            p.drawRect(2, 7, 27, 17);
            p.drawRect(2, 4, 10, 3);
        };
    };
    auto pointSet = [](QColor colour, bool ring) {
        return [colour, ring](QPainter& p) {
            p.setPen(Qt::black);
            p.setBrush(colour);
            const int xy[5][2] = {{6, 6}, {18, 4}, {26, 13}, {10, 19}, {20, 22}};
            for (const auto& c : xy)
                p.drawEllipse(QPointF(c[0], c[1]), 3, 3);
            if (ring) {
                p.setBrush(Qt::NoBrush);
                p.setPen(QPen(QColor(200, 0, 0), 2));
                p.drawRect(1, 1, 29, 24);
            }
        };
    };
    icons[ICON_CAMERA] = draw(camera);
    icons[ICON_SCALEBAR] = draw(scaleBar);
    icons[ICON_PROJECT] = draw(folder(QColor(230, 190, 90)));
    for (int state = 0; state < 12; ++state) {
        const int quality = state % 3;      // not set, high, low
        const int column = state / 3;       // not resected/enabled, not resected/disabled, resected/enabled, resected/disabled
        const bool resected = column >= 2;
        const bool enabled = column % 2 == 0;
        icons[ICON_IMAGE_FIRST + state] = draw([=](QPainter& p) {
            const QColor frame = quality == 0 ? QColor(128, 128, 128) : quality == 1 ? QColor(0, 160, 0) : QColor(220, 0, 0);
            p.setPen(QPen(frame, 2));
            p.setBrush(enabled ? QColor(250, 250, 250) : QColor(170, 170, 170));
            p.drawRect(3, 3, 26, 21);
            p.setPen(Qt::NoPen);
            p.setBrush(enabled ? QColor(60, 120, 200) : QColor(110, 110, 110));
            p.drawEllipse(QPointF(12, 12), 4, 4);
            if (resected) {
                p.setPen(QPen(QColor(0, 0, 0), 2));
                p.drawLine(18, 15, 21, 19);
                p.drawLine(21, 19, 27, 8);
            }
        });
    }
    icons[ICON_POINT_SET] = draw(pointSet(QColor(220, 220, 220), false));
    icons[ICON_DRIVER_SET] = draw(pointSet(QColor(60, 200, 60), false));
    icons[ICON_CONTROL_SET] = draw(pointSet(QColor(220, 220, 220), true));
    icons[ICON_DRIVER_CONTROL_SET] = draw(pointSet(QColor(60, 200, 60), true));
    icons[ICON_EO_DEVICE] = draw([](QPainter& p) {
        p.setPen(QPen(Qt::black, 2));
        p.drawLine(16, 4, 16, 23);
        p.drawLine(5, 13, 27, 13);
        p.setBrush(QColor(230, 120, 30));
        for (const QPointF c : {QPointF(16, 4), QPointF(16, 23), QPointF(5, 13), QPointF(27, 13)})
            p.drawEllipse(c, 3, 3);
    });
    icons[ICON_CAMERA_DATABASE] = draw([&](QPainter& p) {
        folder(QColor(150, 180, 220))(p);
        p.setBrush(QColor(70, 70, 80));
        p.drawRect(10, 12, 12, 8);
    });
    icons[ICON_SCALEBARS] = draw([&](QPainter& p) {
        folder(QColor(150, 180, 220))(p);
        p.setBrush(QColor(240, 200, 40));
        p.drawRect(6, 14, 20, 4);
    });
    icons[ICON_3D_DATA] = draw([&](QPainter& p) {
        folder(QColor(150, 180, 220))(p);
        p.setBrush(QColor(60, 200, 60));
        p.drawEllipse(QPointF(11, 16), 2.5, 2.5);
        p.drawEllipse(QPointF(20, 13), 2.5, 2.5);
        p.drawEllipse(QPointF(17, 20), 2.5, 2.5);
    });
    icons[ICON_DATABASE] = draw([](QPainter& p) {
        p.setPen(Qt::black);
        p.setBrush(QColor(180, 120, 200));
        p.drawRect(7, 6, 18, 16);
        p.drawEllipse(QRectF(7, 2, 18, 8));
        p.drawArc(QRectF(7, 17, 18, 8), 180 * 16, 180 * 16);
    });
    icons[ICON_EO_DEVICE_DATABASE] = draw([&](QPainter& p) {
        folder(QColor(150, 180, 220))(p);
        p.setPen(QPen(Qt::black, 2));
        p.drawLine(16, 11, 16, 21);
        p.drawLine(10, 16, 22, 16);
    });
    return icons;
}

CKestrelonView::PaneFactory& Factory(CKestrelonView::RightPane pane)
{
    static std::array<CKestrelonView::PaneFactory, CKestrelonView::PANE_COUNT> factories = [] {
        std::array<CKestrelonView::PaneFactory, CKestrelonView::PANE_COUNT> f;
        auto set = [&f](CKestrelonView::RightPane pane, const std::type_info& type,
                        std::function<CView*(QWidget*)> make) {
            f[pane].type = &type;
            f[pane].make = std::move(make);
        };
        set(CKestrelonView::PANE_DB_CAMERAS, typeid(CDBaseCamerasListView),
            [](QWidget* p) { return new CDBaseCamerasListView(p); });
        set(CKestrelonView::PANE_DB_SCALEBARS, typeid(CDBaseScalebarsListView),
            [](QWidget* p) { return new CDBaseScalebarsListView(p); });
        set(CKestrelonView::PANE_PROJECT_CAMERAS, typeid(CProjectCamerasListView),
            [](QWidget* p) { return new CProjectCamerasListView(p); });
        set(CKestrelonView::PANE_PROJECT_IMAGES, typeid(CProjectImagesListView),
            [](QWidget* p) { return new CProjectImagesListView(p); });
        set(CKestrelonView::PANE_OBSERVATIONS, typeid(CObservationsListView),
            [](QWidget* p) { return new CObservationsListView(p); });
        set(CKestrelonView::PANE_3D_DATA, typeid(C3DDataListView), [](QWidget* p) { return new C3DDataListView(p); });
        f[CKestrelonView::PANE_3D_DATA].setMode = [](CView* view, int mode, CPointSet* set) {
            if (auto* list = dynamic_cast<C3DDataListView*>(view)) {
                list->SetProjectSet(mode == 1);
                list->SetPointSet(set);
                list->OnUpdate(nullptr, 0);
            }
        };
        return f;
    }();
    return factories[pane];
}

CKestrelonView::RelOrientFactory& RelOrient()
{
    static CKestrelonView::RelOrientFactory factory;
    return factory;
}

} // namespace

void GetImageIconIndex(bool qualitySet, bool highQuality, bool resected, bool enabled, int& index)
{
    const int row = !qualitySet ? 0 : highQuality ? 1 : 2;
    const int column = (resected ? 2 : 0) + (enabled ? 0 : 1);
    index = ICON_IMAGE_FIRST + 3 * column + row;
}

int GetPointSetIconIndex(bool control, bool driver)
{
    if (driver && control)
        return ICON_DRIVER_CONTROL_SET;
    if (control)
        return ICON_CONTROL_SET;
    return driver ? ICON_DRIVER_SET : ICON_POINT_SET;
}

CKestrelonView::PaneFactory CKestrelonView::SetPaneFactory(RightPane pane, PaneFactory factory)
{
    std::swap(Factory(pane), factory);
    return factory;
}

bool CKestrelonView::HasRelativeOrientationDialog()
{
    return static_cast<bool>(RelOrient());
}

CKestrelonView::RelOrientFactory CKestrelonView::SetRelativeOrientationFactory(RelOrientFactory factory)
{
    std::swap(RelOrient(), factory);
    return factory;
}

CKestrelonView::CKestrelonView(QWidget* parent) : QTreeWidget(parent)
{
    setHeaderHidden(true);
    setIconSize(QSize(32, 27));
    setRootIsDecorated(false); // no lines at the root
    setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    setUniformRowHeights(true);
    connect(this, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) { OnClickItem(item); });
    InstallFileCommands();
    RegisterTreeCommands();
}

CKestrelonView::~CKestrelonView()
{
    m_autoSaveTimer.stop();
    delete m_pRelOrientDlg.data();
}

CKestrelonDoc* CKestrelonView::GetDocument() const
{
    return dynamic_cast<CKestrelonDoc*>(CView::GetDocument());
}

void CKestrelonView::OnInitialUpdate()
{
    m_bInitialised = true;
    if (CKestrelonDoc* doc = GetDocument())
        if (doc->autoSavePeriod > 0)
            m_autoSaveTimer.start(std::min(doc->autoSavePeriod, 2000000) * 1000, this);
    OnUpdate(nullptr, 0);
}

void CKestrelonView::OnUpdate(CView*, long)
{
    if (!m_bInitialised)
        return;
    RestartAutoSaveTimer();
    clear();
    m_hDatabaseRoot = m_hCameraDatabase = m_hScaleBarDatabase = m_hEODeviceDatabase = nullptr;
    m_hProjectRoot = m_h3DData = m_hProjectScaleBars = nullptr;
    ForgetRecord(nullptr);
    BuildDatabaseBranch();
    BuildProjectBranch();
    AddAllImageItems();
    Build3DDataBranch();
    BuildProjectScaleBarBranch();
    for (QTreeWidgetItem* item :
         {m_hDatabaseRoot, m_hCameraDatabase, m_hScaleBarDatabase, m_hEODeviceDatabase, m_hProjectRoot})
        if (item)
            item->setExpanded(true);
}

// --- items ------------------------------------------------------------------

void CKestrelonView::SetIcon(QTreeWidgetItem* item, int icon)
{
    item->setIcon(0, TreeIcons()[std::size_t(icon)]);
    item->setData(0, kIconIndexRole, icon);
}

QTreeWidgetItem* CKestrelonView::Insert(QTreeWidgetItem* parent, const QString& text, int icon, bool sorted)
{
    auto* item = new QTreeWidgetItem(QStringList{text});
    item->setFlags(item->flags() | Qt::ItemIsEditable);
    SetIcon(item, icon);
    const int count = parent ? parent->childCount() : topLevelItemCount();
    int at = count;
    if (sorted) {
        // After the last child whose text is not greater.
        int lo = 0, hi = count;
        while (lo < hi) {
            const int mid = (lo + hi) / 2;
            const QTreeWidgetItem* other = parent ? parent->child(mid) : topLevelItem(mid);
            if (QString::compare(other->text(0), text, Qt::CaseInsensitive) <= 0)
                lo = mid + 1;
            else
                hi = mid;
        }
        at = lo;
    }
    if (parent)
        parent->insertChild(at, item);
    else
        insertTopLevelItem(at, item);
    return item;
}

QTreeWidgetItem* CKestrelonView::FindChild(QTreeWidgetItem* parent, const QString& text) const
{
    if (!parent)
        return nullptr;
    for (int i = 0; i < parent->childCount(); ++i)
        if (parent->child(i)->text(0) == text)
            return parent->child(i);
    return nullptr;
}

void CKestrelonView::BuildDatabaseBranch()
{
    m_hDatabaseRoot = Insert(nullptr, QStringLiteral("Database"), ICON_DATABASE, false);
    BuildCameraDatabaseBranch();
    BuildScaleBarDatabaseBranch();
    BuildEODeviceDatabaseBranch();
}

void CKestrelonView::BuildCameraDatabaseBranch()
{
    if (!m_hDatabaseRoot)
        return;
    if (!(m_hCameraDatabase = FindChild(m_hDatabaseRoot, m_strCameraDbCaption)))
        m_hCameraDatabase = Insert(m_hDatabaseRoot, m_strCameraDbCaption, ICON_CAMERA_DATABASE, false);
    if (CKestrelonApp* app = AfxGetApp())
        for (int i = 0; i < app->cameraDatabase.GetSize(); ++i)
            if (const CCamera* c = app->cameraDatabase.GetAt(i))
                Insert(m_hCameraDatabase, Text(c->identifier), ICON_CAMERA, true);
}

void CKestrelonView::BuildScaleBarDatabaseBranch()
{
    if (!m_hDatabaseRoot)
        return;
    if (!(m_hScaleBarDatabase = FindChild(m_hDatabaseRoot, m_strScaleBarDbCaption)))
        m_hScaleBarDatabase = Insert(m_hDatabaseRoot, m_strScaleBarDbCaption, ICON_SCALEBARS, false);
    if (CKestrelonApp* app = AfxGetApp())
        for (int i = 0; i < app->scaleBarDatabase.GetSize(); ++i)
            if (const CScaleBar* b = app->scaleBarDatabase.GetAt(i))
                Insert(m_hScaleBarDatabase, Text(b->name), ICON_SCALEBAR, false);
}

void CKestrelonView::BuildEODeviceDatabaseBranch()
{
    if (!m_hDatabaseRoot)
        return;
    if (!(m_hEODeviceDatabase = FindChild(m_hDatabaseRoot, m_strEODeviceDbCaption)))
        m_hEODeviceDatabase = Insert(m_hDatabaseRoot, m_strEODeviceDbCaption, ICON_EO_DEVICE_DATABASE, false);
    if (CKestrelonApp* app = AfxGetApp())
        for (int i = 0; i < app->eoDeviceDatabase.GetSize(); ++i)
            if (const CEODevice* d = app->eoDeviceDatabase.GetAt(i))
                Insert(m_hEODeviceDatabase, Text(d->GetName()), ICON_EO_DEVICE, false);
}

void CKestrelonView::BuildProjectBranch()
{
    CKestrelonDoc* doc = GetDocument();
    if (!doc)
        return;
    m_hProjectRoot = Insert(nullptr, doc->GetTitleWithoutMark(), ICON_PROJECT, false);
    for (int i = 0; i < doc->cameras.GetSize(); ++i)
        if (const CCamera* c = doc->cameras.GetAt(i))
            Insert(m_hProjectRoot, Text(c->identifier), ICON_CAMERA, true);
}

void CKestrelonView::AddAllImageItems()
{
    CKestrelonDoc* doc = GetDocument();
    if (!doc || !m_hProjectRoot)
        return;
    // Camera items by their text: the first project camera of a name and the
    // first child of the root with its identifier, as the single lookup finds them.
    QHash<QString, QTreeWidgetItem*> cameraItems;
    for (int i = m_hProjectRoot->childCount() - 1; i >= 0; --i)
        cameraItems.insert(m_hProjectRoot->child(i)->text(0), m_hProjectRoot->child(i));
    QHash<QString, bool> known;
    for (int i = 0; i < doc->cameras.GetSize(); ++i)
        if (const CCamera* c = doc->cameras.GetAt(i))
            known.insert(Text(c->identifier), true);
    for (int i = 0; i < doc->images.GetSize(); ++i) {
        const CProjectImage* image = doc->images.GetAt(i);
        if (!image)
            continue;
        const QString camera = Text(image->cameraName);
        QTreeWidgetItem* parent = known.contains(camera) ? cameraItems.value(camera) : nullptr;
        if (!parent)
            continue;
        int icon;
        GetImageIconIndex(image->qualitySet, image->highQuality, image->oriented, image->enabled, icon);
        Insert(parent, Text(image->name), icon, false);
    }
}

void CKestrelonView::AddImageItem(CProjectImage* image)
{
    CKestrelonDoc* doc = GetDocument();
    if (!doc || !image || !m_hProjectRoot)
        return;
    const CCamera* camera = doc->cameras.FindByName(image->cameraName.GetText());
    QTreeWidgetItem* parent = camera ? FindChild(m_hProjectRoot, Text(camera->identifier)) : nullptr;
    if (!parent)
        return;
    int icon;
    GetImageIconIndex(image->qualitySet, image->highQuality, image->oriented, image->enabled, icon);
    Insert(parent, Text(image->name), icon, false);
    if (auto* frame = dynamic_cast<CProjectFrame*>(GetParentFrame()))
        if (auto* list = dynamic_cast<CProjectImagesListView*>(frame->GetRightPane()))
            list->AddImage(image);
}

void CKestrelonView::Build3DDataBranch()
{
    CKestrelonDoc* doc = GetDocument();
    if (!doc || !m_hProjectRoot)
        return;
    m_h3DData = Insert(m_hProjectRoot, QStringLiteral("3D Data"), ICON_3D_DATA, false);
    for (int i = 0; i < doc->pointSets.GetSize(); ++i)
        if (const CPointSet* set = doc->pointSets.GetAt(i)) {
            const bool eod = std::string(set->GetName().GetExtension().GetText()) == "eod";
            Insert(m_h3DData, TitleOf(*set), eod ? ICON_EO_DEVICE : GetPointSetIconIndex(set->isControl, set->isDriver),
                   false);
        }
    if (!doc->eoDevice.GetName().IsEmpty())
        Insert(m_h3DData, Text(doc->eoDevice.GetName()), ICON_EO_DEVICE, false);
}

void CKestrelonView::Rebuild3DDataBranch()
{
    CKestrelonDoc* doc = GetDocument();
    if (!doc || !m_h3DData)
        return;
    DeleteChildItems(m_h3DData);
    for (int i = 0; i < doc->pointSets.GetSize(); ++i)
        if (const CPointSet* set = doc->pointSets.GetAt(i))
            Insert(m_h3DData, TitleOf(*set),
                   set->isEODevice ? ICON_EO_DEVICE : GetPointSetIconIndex(set->isControl, set->isDriver), false);
    if (!doc->eoDevice.GetName().IsEmpty())
        Insert(m_h3DData, Text(doc->eoDevice.GetName()), ICON_EO_DEVICE, false);
    ForgetRecord(nullptr);
}

void CKestrelonView::BuildProjectScaleBarBranch()
{
    CKestrelonDoc* doc = GetDocument();
    if (!doc || !m_hProjectRoot)
        return;
    m_hProjectScaleBars = Insert(m_hProjectRoot, QStringLiteral("Scalebars"), ICON_SCALEBARS, false);
    for (int i = 0; i < doc->scaleBars.GetSize(); ++i)
        if (const CScaleBar* b = doc->scaleBars.GetAt(i))
            Insert(m_hProjectScaleBars, Text(b->name), ICON_SCALEBAR, false);
}

void CKestrelonView::DeleteChildItems(QTreeWidgetItem* item)
{
    if (!item)
        return;
    for (QTreeWidgetItem* child : item->takeChildren())
        delete child;
}

void CKestrelonView::RebuildCameraDatabaseBranch()
{
    DeleteChildItems(m_hCameraDatabase);
    BuildCameraDatabaseBranch();
    if (m_hCameraDatabase)
        m_hCameraDatabase->setExpanded(true);
}

void CKestrelonView::RefreshCameraDatabaseBranch()
{
    CKestrelonApp* app = AfxGetApp();
    if (!app || !m_hCameraDatabase)
        return;
    for (int i = 0; i < m_hCameraDatabase->childCount(); ++i)
        if (!app->cameraDatabase.FindByName(ToCp1252(m_hCameraDatabase->child(i)->text(0)).c_str())) {
            RebuildCameraDatabaseBranch();
            UpdateProjectFrames();
            return;
        }
}

void CKestrelonView::RefreshScaleBarDatabaseBranch()
{
    CKestrelonApp* app = AfxGetApp();
    if (!app || !m_hScaleBarDatabase)
        return;
    for (int i = 0; i < m_hScaleBarDatabase->childCount(); ++i)
        if (!app->scaleBarDatabase.FindByName(ToCp1252(m_hScaleBarDatabase->child(i)->text(0)).c_str())) {
            DeleteChildItems(m_hScaleBarDatabase);
            BuildScaleBarDatabaseBranch();
            m_hScaleBarDatabase->setExpanded(true);
            UpdateProjectFrames();
            return;
        }
}

// --- icons ------------------------------------------------------------------

void CKestrelonView::SetImageIcon(QTreeWidgetItem* item, bool qualitySet, bool highQuality, bool resected,
                                  bool enabled)
{
    int icon;
    GetImageIconIndex(qualitySet, highQuality, resected, enabled, icon);
    if (item && item->data(0, kIconIndexRole).toInt() != icon)
        SetIcon(item, icon);
}

void CKestrelonView::SetPointSetIcon(QTreeWidgetItem* item, bool control, bool driver)
{
    const int icon = GetPointSetIconIndex(control, driver);
    if (item && item->data(0, kIconIndexRole).toInt() != icon)
        SetIcon(item, icon);
}

void CKestrelonView::RefreshImageIcons()
{
    CKestrelonDoc* doc = GetDocument();
    if (!doc || !m_hProjectRoot)
        return;
    // Names to records once, so that the refresh stays linear: the first
    // record of a name, as the lookup by name finds it.
    QHash<QString, const CProjectImage*> images;
    images.reserve(doc->images.GetSize());
    for (int i = doc->images.GetSize() - 1; i >= 0; --i)
        if (const CProjectImage* image = doc->images.GetAt(i))
            images.insert(Text(image->name), image);
    for (int c = 0; c < m_hProjectRoot->childCount(); ++c) {
        QTreeWidgetItem* cameraItem = m_hProjectRoot->child(c);
        if (!doc->cameras.FindByName(ToCp1252(cameraItem->text(0)).c_str()))
            continue;
        for (int i = 0; i < cameraItem->childCount(); ++i) {
            QTreeWidgetItem* item = cameraItem->child(i);
            if (const CProjectImage* image = images.value(item->text(0)))
                SetImageIcon(item, image->qualitySet, image->highQuality, image->oriented, image->enabled);
        }
    }
}

void CKestrelonView::RefreshCameraImageIcons(QTreeWidgetItem* cameraItem)
{
    CKestrelonDoc* doc = GetDocument();
    if (!doc || !cameraItem)
        return;
    for (int i = 0; i < cameraItem->childCount(); ++i) {
        QTreeWidgetItem* item = cameraItem->child(i);
        if (const CProjectImage* image = doc->images.FindByName(ToCp1252(item->text(0)).c_str()))
            SetImageIcon(item, image->qualitySet, image->highQuality, image->oriented, image->enabled);
    }
}

void CKestrelonView::RefreshPointSetIcons()
{
    CKestrelonDoc* doc = GetDocument();
    if (!doc || !m_h3DData)
        return;
    // Titles to sets once: the first set of a title, else the EO device.
    QHash<QString, const CPointSet*> sets;
    for (int i = doc->pointSets.GetSize() - 1; i >= 0; --i)
        if (const CPointSet* set = doc->pointSets.GetAt(i))
            sets.insert(TitleOf(*set), set);
    if (const CEODevice* device = doc->pointSets.GetEODevice())
        if (!sets.contains(TitleOf(*device)))
            sets.insert(TitleOf(*device), device);
    for (int i = 0; i < m_h3DData->childCount(); ++i) {
        QTreeWidgetItem* item = m_h3DData->child(i);
        if (const CPointSet* set = sets.value(item->text(0)))
            SetPointSetIcon(item, set->isControl, set->isDriver);
    }
}

void CKestrelonView::RefreshImageBranches()
{
    RefreshImageIcons();
    RefreshPointSetIcons();
}

void CKestrelonView::OnImagesChanged()
{
    RefreshImageIcons();
    RefreshRightPane();
}

void CKestrelonView::DeleteImages(CImagePtrArray& list)
{
    CKestrelonDoc* doc = GetDocument();
    if (!doc)
        return;
    // An image shown in a window stays; the refusal names it.
    for (int i = list.GetSize() - 1; i >= 0; --i)
        if (!list.GetAt(i) || IsImageOpen(list.GetAt(i), true))
            list.RemoveAt(i, 1);
    if (list.GetSize() == 0)
        return;
    // Only records of this project are deleted.
    QHash<const CProjectImage*, bool> doomed;
    for (int i = 0; i < list.GetSize(); ++i)
        doomed.insert(list.GetAt(i), true);
    QHash<QString, const CProjectImage*> byName;
    for (int i = doc->images.GetSize() - 1; i >= 0; --i)
        if (const CProjectImage* image = doc->images.GetAt(i))
            byName.insert(Text(image->name), image);
    if (m_hProjectRoot)
        for (int c = 0; c < m_hProjectRoot->childCount(); ++c) {
            QTreeWidgetItem* cameraItem = m_hProjectRoot->child(c);
            if (!doc->cameras.FindByName(ToCp1252(cameraItem->text(0)).c_str()))
                continue;
            for (int i = cameraItem->childCount() - 1; i >= 0; --i)
                if (doomed.contains(byName.value(cameraItem->child(i)->text(0))))
                    delete cameraItem->takeChild(i);
        }
    for (int i = doc->images.GetSize() - 1; i >= 0; --i) {
        CProjectImage* image = doc->images.GetAt(i);
        if (!image || !doomed.contains(image))
            continue;
        image->RemoveAllObservations();
        doc->ForgetImage(image);
        doc->images.RemoveAt(i, 1);
    }
    // The relative orientation dialog and the right pane list the images left.
    if (m_pRelOrientDlg)
        m_pRelOrientDlg->Refresh(0, 0, 1);
    RefreshRightPane();
    doc->SetModifiedFlag(true);
}

void CKestrelonView::UpdateProjectItemText(const CFilePath* path)
{
    if (!m_hProjectRoot)
        return;
    CKestrelonDoc* doc = GetDocument();
    if (path)
        m_hProjectRoot->setText(0, Text(path->GetFileName()));
    else if (doc)
        m_hProjectRoot->setText(0, doc->GetTitleWithoutMark());
}

// --- lookups ----------------------------------------------------------------

QTreeWidgetItem* CKestrelonView::FindNamedItem(const QString& name) const
{
    if (QTreeWidgetItem* item = Find3DDataItem(name))
        return item;
    return FindProjectScaleBarItem(name);
}

QTreeWidgetItem* CKestrelonView::Find3DDataItem(const QString& name) const
{
    return FindChild(m_h3DData, name);
}

QTreeWidgetItem* CKestrelonView::FindProjectScaleBarItem(const QString& name) const
{
    return FindChild(m_hProjectScaleBars, name);
}

QString CKestrelonView::GetSelectedItemText() const
{
    const QTreeWidgetItem* item = currentItem();
    return item ? item->text(0) : QString();
}

void CKestrelonView::SetSelectedItemText(const QString& text)
{
    if (QTreeWidgetItem* item = currentItem())
        item->setText(0, text);
}

bool CKestrelonView::IsDescendant(const QTreeWidgetItem* item, const QTreeWidgetItem* ancestor) const
{
    for (; item; item = item->parent())
        if (item == ancestor)
            return true;
    return false;
}

// --- right pane -------------------------------------------------------------

CView* CKestrelonView::RightView() const
{
    auto* frame = dynamic_cast<CProjectFrame*>(GetParentFrame());
    return frame ? frame->GetRightPane() : nullptr;
}

void CKestrelonView::RefreshRightPane()
{
    if (CView* right = RightView())
        SendHubMessage(UM_REFRESH_LIST, 0, 0, right->AsHubTarget());
}

void CKestrelonView::RefreshObservationList(const CProjectImage* image)
{
    const PaneFactory& f = Factory(PANE_OBSERVATIONS);
    CView* right = RightView();
    if (right && f.type && typeid(*right) == *f.type && image && Text(image->name) == m_strObsImageName)
        SendHubMessage(UM_REFRESH_LIST, 0, 0, right->AsHubTarget());
}

void CKestrelonView::RefreshScaleBarDatabaseList()
{
    const PaneFactory& f = Factory(PANE_DB_SCALEBARS);
    CView* right = RightView();
    if (right && f.type && typeid(*right) == *f.type)
        SendHubMessage(UM_REFRESH_LIST, 0, 0, right->AsHubTarget());
}

void CKestrelonView::UpdateProjectFrames()
{
    auto* frame = dynamic_cast<CProjectFrame*>(GetParentFrame());
    if (!frame)
        return;
    frame->UpdateOtherProjectFrames();
    if (CDocument* doc = CView::GetDocument())
        doc->UpdateAllViews(nullptr, 0);
}

void CKestrelonView::SwitchPane(RightPane pane, bool updateWhenSame, int mode, CPointSet* set)
{
    auto* frame = dynamic_cast<CProjectFrame*>(GetParentFrame());
    const PaneFactory& f = Factory(pane);
    if (!frame || !f.type || !f.make)
        return; // no such view yet: the pane stays
    const bool changed = frame->SwitchRightView(0, 1, *f.type, f.make);
    if (mode >= 0 && f.setMode)
        if (CView* right = frame->GetRightPane())
            f.setMode(right, mode, set);
    if (!changed && updateWhenSame)
        if (CDocument* doc = CView::GetDocument())
            doc->UpdateAllViews(this, 0);
}

void CKestrelonView::OnClickItem(QTreeWidgetItem* item)
{
    CKestrelonDoc* doc = GetDocument();
    if (!item || !doc)
        return;
    setCurrentItem(item);
    const QString text = item->text(0);
    const std::string name = ToCp1252(text);
    QTreeWidgetItem* parent = item->parent();
    CKestrelonApp* app = AfxGetApp();
    if (item == m_hCameraDatabase) {
        SwitchPane(PANE_DB_CAMERAS, false);
    } else if (item == m_hScaleBarDatabase) {
        SwitchPane(PANE_DB_SCALEBARS, false);
    } else if (parent && parent == m_hEODeviceDatabase) {
        if (CEODevice* device = app ? app->eoDeviceDatabase.FindByName(name.c_str()) : nullptr) {
            m_pSelectedPointSet = device;
            SwitchPane(PANE_3D_DATA, false, 0, device);
        }
    } else if (parent && (parent == m_hCameraDatabase || parent == m_hScaleBarDatabase)) {
        // the pane stays
    } else if (item == m_hProjectRoot) {
        SwitchPane(PANE_PROJECT_CAMERAS, false);
    } else if (CCamera* camera = doc->cameras.FindByName(name.c_str())) {
        m_pSelectedCamera = camera;
        SwitchPane(PANE_PROJECT_IMAGES, true);
    } else if (doc->images.FindByName(name.c_str())) {
        m_strObsImageName = text;
        SwitchPane(PANE_OBSERVATIONS, true);
    } else if (m_h3DData) {
        if (CPointSet* set = doc->pointSets.FindByName(name.c_str())) {
            m_pSelectedPointSet = set;
            SwitchPane(PANE_3D_DATA, false, 1, set);
        }
    }
}

void CKestrelonView::SelectPointSetItem(const QString& name)
{
    if (QTreeWidgetItem* item = Find3DDataItem(name))
        OnClickItem(item);
    if (m_h3DData)
        m_h3DData->setExpanded(true);
}

// --- label editing ----------------------------------------------------------

bool CKestrelonView::OnBeginLabelEdit(QTreeWidgetItem* item)
{
    m_strEditLabel.clear();
    QTreeWidgetItem* parent = item ? item->parent() : nullptr;
    const bool allowed = parent && (parent == m_h3DData || parent == m_hCameraDatabase ||
                                    (parent == m_hProjectRoot && item != m_h3DData && item != m_hProjectScaleBars));
    if (allowed)
        m_strEditLabel = item->text(0);
    return allowed;
}

bool CKestrelonView::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event)
{
    // Only a trigger that would start an edit asks the gate.
    const bool starts = trigger == QAbstractItemView::AllEditTriggers || (editTriggers() & trigger);
    if (starts && state() != QAbstractItemView::EditingState && !OnBeginLabelEdit(itemFromIndex(index)))
        return false;
    return QTreeWidget::edit(index, trigger, event);
}

void CKestrelonView::commitData(QWidget* editor)
{
    // The editor's text is not taken as it is: the end of the edit renames
    // the record and sets the item's text.
    if (auto* line = qobject_cast<QLineEdit*>(editor); line && line->isModified() && !line->text().isEmpty())
        OnEndLabelEdit(currentItem(), line->text());
}

void CKestrelonView::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint)
{
    QTreeWidget::closeEditor(editor, hint);
    m_strEditLabel.clear();
}

// --- auto save --------------------------------------------------------------

void CKestrelonView::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_autoSaveTimer.timerId())
        OnAutoSaveTimer();
    QTreeWidget::timerEvent(event);
}

void CKestrelonView::OnAutoSaveTimer()
{
    CKestrelonDoc* doc = GetDocument();
    if (!doc || !doc->autoSave || !doc->IsModified())
        return;
    // A modal dialog or a job may hold the data in a passing state: this
    // tick is skipped and the next one saves.
    if (QApplication::activeModalWidget() || doc->IsJobRunning())
        return;
    doc->SaveProject();
}

// --- selections -------------------------------------------------------------

CCamera* CKestrelonView::GetSelectedCamera() const
{
    return m_pSelectedCamera;
}

CScaleBar* CKestrelonView::GetSelectedScaleBar() const
{
    return m_pSelectedScaleBar;
}

CPointSet* CKestrelonView::GetSelectedPointSet() const
{
    return m_pSelectedPointSet;
}

void CKestrelonView::ForgetRecord(const void* record)
{
    // With a record: drop the selections that point at it. Without: drop
    // every selection whose record has left the project and the databases.
    CKestrelonDoc* doc = GetDocument();
    CKestrelonApp* app = AfxGetApp();
    auto holds = [](const auto& list, const void* p) {
        for (int i = 0; i < list.GetSize(); ++i)
            if (list.GetAt(i) == p)
                return true;
        return false;
    };
    if (record) {
        if (m_pSelectedCamera == record)
            m_pSelectedCamera = nullptr;
        if (m_pSelectedScaleBar == record)
            m_pSelectedScaleBar = nullptr;
        if (m_pSelectedPointSet == record)
            m_pSelectedPointSet = nullptr;
        return;
    }
    if (m_pSelectedCamera && !((doc && holds(doc->cameras, m_pSelectedCamera)) ||
                               (app && holds(app->cameraDatabase, m_pSelectedCamera))))
        m_pSelectedCamera = nullptr;
    if (m_pSelectedScaleBar && !(doc && holds(doc->scaleBars, m_pSelectedScaleBar)))
        m_pSelectedScaleBar = nullptr;
    if (m_pSelectedPointSet &&
        !((doc && (holds(doc->pointSets, m_pSelectedPointSet) || m_pSelectedPointSet == &doc->eoDevice)) ||
          (app && holds(app->eoDeviceDatabase, m_pSelectedPointSet))))
        m_pSelectedPointSet = nullptr;
}

// --- relative orientation ---------------------------------------------------

void CKestrelonView::ShowRelativeOrientationDialog()
{
    if (!m_pRelOrientDlg) {
        if (!RelOrient())
            return; // the dialog is not part of this build
        CRelativeOrientationDlgBase* dlg = RelOrient()(this);
        if (!dlg)
            return;
        if (!dlg->CreateModeless()) {
            delete dlg;
            return;
        }
        m_pRelOrientDlg = dlg;
        dlg->showNormal();
    }
    m_pRelOrientDlg->raise();
    m_pRelOrientDlg->activateWindow();
    m_pRelOrientDlg->Refresh(0, 0, 1);
}

void CKestrelonView::DestroyRelativeOrientationDialog()
{
    if (CRelativeOrientationDlgBase* dlg = m_pRelOrientDlg.data()) {
        m_pRelOrientDlg = nullptr;
        dlg->hide();
        dlg->deleteLater();
    }
}

void CKestrelonView::OnRelOrientImageChanged(std::uintptr_t wParam)
{
    if (m_pRelOrientDlg)
        m_pRelOrientDlg->OnImageChanged(wParam);
}

void CKestrelonView::OnRelOrientPointsChanged()
{
    if (m_pRelOrientDlg)
        m_pRelOrientDlg->RefreshPointTable();
}

// --- messages ---------------------------------------------------------------

std::intptr_t CKestrelonView::OnHubMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam)
{
    switch (message) {
    case UM_REFRESH_IMAGES:
        RefreshImageIcons();
        break;
    case UM_REFRESH_IMAGES_AND_LIST:
        OnImagesChanged();
        break;
    case UM_DELETE_IMAGES:
        if (lParam)
            DeleteImages(*reinterpret_cast<CImagePtrArray*>(lParam));
        break;
    case UM_REFRESH_POINT_SETS:
        Rebuild3DDataBranch();
        break;
    case UM_IMAGE_CREATED:
        AddImageItem(reinterpret_cast<CProjectImage*>(lParam));
        break;
    case UM_RO_IMAGE_CHANGED:
        OnRelOrientImageChanged(std::uintptr_t(lParam));
        break;
    case UM_RO_MEASURED:
        OnRelOrientPointsChanged();
        break;
    case UM_REDRAW_IMAGE_VIEWS:
        RefreshRightPane();
        break;
    case UM_REDRAW_IMAGE:
        RefreshObservationList(reinterpret_cast<const CProjectImage*>(lParam));
        break;
    case UM_REFRESH_SCALEBAR_LIST:
        RefreshScaleBarDatabaseList();
        break;
    case UM_REFRESH_PROJECT_SCALEBARS:
        if (CKestrelonDoc* doc = GetDocument())
            RebuildBranch(m_hProjectScaleBars, doc->scaleBars);
        break;
    case UM_REFRESH_DATABASE_SCALEBARS:
        if (CKestrelonApp* app = AfxGetApp())
            RebuildBranch(m_hScaleBarDatabase, app->scaleBarDatabase);
        break;
    default:
        break;
    }
    (void)wParam;
    return 0;
}

// ---------------------------------------------------------------------------

CKestrelonView* GetProjectTreeView()
{
    QMdiArea* area = AfxGetMdiArea();
    if (!area)
        return nullptr;
    // The project frame of the current window's project, else the one active
    // last; the active window stays as it is.
    if (auto* current = dynamic_cast<CMDIChildWnd*>(area->currentSubWindow())) {
        if (auto* frame = dynamic_cast<CProjectFrame*>(current))
            return frame->GetTreeView();
        if (CDocument* doc = current->GetActiveDocument())
            for (CMDIChildWnd* f : doc->GetFrames())
                if (auto* frame = dynamic_cast<CProjectFrame*>(f))
                    return frame->GetTreeView();
    }
    const QList<QMdiSubWindow*> windows = area->subWindowList(QMdiArea::ActivationHistoryOrder);
    for (auto it = windows.rbegin(); it != windows.rend(); ++it)
        if (auto* frame = dynamic_cast<CProjectFrame*>(*it))
            return frame->GetTreeView();
    return nullptr;
}
