// The project tree's context menus, item commands, activation and keys.
#include "KestrelonView.h"

#include "3DView.h"
#include "CameraDialogs.h"
#include "CameraDistortionView.h"
#include "CreateEmptyImagesDlg.h"
#include "DeviceDialogs.h"
#include "DxfWriter.h"
#include "FileIO.h"
#include "FileSystem.h"
#include "Frames.h"
#include "GeometryReports.h"
#include "Hooks.h"
#include "ImageView.h"
#include "KestrelonApp.h"
#include "KestrelonDoc.h"
#include "MainFrame.h"
#include "Message.h"
#include "PointList.h"
#include "Resources.h"
#include "TreeMenus.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QFileInfo>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMouseEvent>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace {

QString Text(const CDynString& s)
{
    return FromCp1252(s.GetText());
}

bool IsAlignable(const CProjectImage& image)
{
    const QFileInfo file(Text(image.GetFilePath()));
    const QString ext = file.suffix().toLower();
    return file.isFile() && (ext == QLatin1String("bmp") || ext == QLatin1String("tif") || ext == QLatin1String("dib"));
}

// Commands of the image menu that only a window showing the image carries out.
constexpr int kImageViewCommands[] = {ID_TREE_VIEW_RESIDUALS, ID_TREE_INCREASE_RESIDUALS, ID_TREE_DECREASE_RESIDUALS,
                                      ID_TREE_INTENSITY_TEXT};

// The image view of the document that shows the image, in the window
// active last; null when no window shows it.
CImageViewBase* LatestImageView(CDocument* doc, const CProjectImage* image)
{
    QMdiArea* area = AfxGetMdiArea();
    if (!doc || !image || !area)
        return nullptr;
    const QList<QMdiSubWindow*> windows = area->subWindowList(QMdiArea::ActivationHistoryOrder);
    for (auto w = windows.crbegin(); w != windows.crend(); ++w)
        if (auto* frame = dynamic_cast<CMDIChildWnd*>(*w))
            if (auto* view = dynamic_cast<CImageViewBase*>(frame->GetActiveView());
                view && view->GetDocument() == doc && view->GetImageRecord() == image)
                return view;
    return nullptr;
}

} // namespace

QTreeWidgetItem* CKestrelonView::CaretItem() const
{
    return currentItem();
}

CProjectImage* CKestrelonView::CaretImage() const
{
    CKestrelonDoc* doc = GetDocument();
    QTreeWidgetItem* item = CaretItem();
    return doc && item ? doc->images.FindByName(ToCp1252(item->text(0)).c_str()) : nullptr;
}

// --- context menu -----------------------------------------------------------

QMenu* CKestrelonView::BuildItemContextMenu(QTreeWidgetItem* item)
{
    CKestrelonDoc* doc = GetDocument();
    CKestrelonApp* app = AfxGetApp();
    if (!item || !doc)
        return nullptr;
    setCurrentItem(item);
    QTreeWidgetItem* parent = item->parent();
    if (item == m_hProjectRoot || item == m_hProjectScaleBars || (parent && parent == m_hProjectScaleBars))
        return nullptr;
    const std::string text = ToCp1252(item->text(0));

    if (item == m_hCameraDatabase)
        return LoadTreePopup(POPUP_DB_ROOT, this);
    if (parent && parent == m_hCameraDatabase) {
        m_pSelectedCamera = doc->cameras.FindByName(text.c_str());
        if (!m_pSelectedCamera && app)
            m_pSelectedCamera = app->cameraDatabase.FindByName(text.c_str());
        return LoadTreePopup(POPUP_DB_CAMERA, this);
    }
    if (item == m_hScaleBarDatabase)
        return LoadTreePopup(POPUP_DB_SCALEBAR_ROOT, this);
    if (parent && parent == m_hScaleBarDatabase)
        return LoadTreePopup(POPUP_DB_SCALEBAR, this);
    if (parent && parent == m_hEODeviceDatabase)
        return LoadTreePopup(POPUP_DB_EO_DEVICE, this);
    if (item == m_hEODeviceDatabase)
        return LoadTreePopup(POPUP_DB_EO_DEVICE_ROOT, this);
    if (item == m_h3DData)
        return LoadTreePopup(POPUP_3D_DATA, this);
    if (parent && parent == m_h3DData) {
        m_pSelectedPointSet = doc->FindPointSet(text.c_str());
        if (!m_pSelectedPointSet)
            return nullptr;
        QMenu* menu = LoadTreePopup(POPUP_POINT_SET, this);
        EnableMenuCommand(menu, ID_TREE_GRAPHIC_VIEW, m_pSelectedPointSet->GetSize() > 0);
        if (m_pSelectedPointSet->isEODevice) {
            DeleteMenuCommand(menu, ID_TREE_ADD_STATIONS_AS_POINTS);
            DeleteMenuAt(menu, 0);
        } else {
            DeleteMenuCommand(menu, ID_TREE_SET_PROPERTIES);
            QMenu* setAs = menu->actions().value(0) ? menu->actions().value(0)->menu() : nullptr;
            if (m_pSelectedPointSet->isDriver)
                CheckMenuAt(setAs, 0, true);
            if (m_pSelectedPointSet->isControl)
                CheckMenuAt(setAs, 1, true);
        }
        return menu;
    }
    CProjectImage* image = doc->images.FindByName(text.c_str());
    CCamera* camera = doc->cameras.FindByName(text.c_str());
    if (camera && !image) {
        m_pSelectedCamera = camera;
        QMenu* menu = LoadTreePopup(POPUP_PRJ_CAMERA, this);
        // "Remove This Camera From Database" is not in this popup: nothing to disable.
        EnableMenuCommand(menu, ID_TREE_DB_REMOVE_CAMERA, false);
        EnableMenuCommand(menu, ID_TREE_AUTOSCAN_ALL, doc->images.GetSize() - doc->CountIcfImages() > 0);
        bool used = false;
        for (int i = 0; i < doc->images.GetSize() && !used; ++i)
            used = doc->images.GetAt(i)->cameraName == camera->identifier;
        EnableMenuCommand(menu, ID_TREE_EXPORT_STATIONS, used);
        return menu;
    }
    if (image) {
        QMenu* menu = LoadTreePopup(POPUP_IMAGE, this);
        for (int position : {7, 6, 5, 2})
            DeleteMenuAt(menu, position);
        EnableMenuAt(menu, 1, doc->pointSets.GetDriverSet() != nullptr);
        if (image->targets.GetSize() < 4)
            EnableMenuAt(menu, 1, false);
        InsertMenuAt(menu, 5, ID_TREE_DISABLE_IMAGE,
                     image->enabled ? QStringLiteral("Disable") : QStringLiteral("Enable"));
        InsertMenuAt(menu, 6, ID_TREE_QUALITY,
                     image->highQuality ? QStringLiteral("Low Quality Image") : QStringLiteral("High Quality Image"));
        if (!IsAlignable(*image))
            DeleteMenuAt(menu, 4);
        // The residual and intensity commands act on the window showing the
        // image, as its view enables them; greyed when no window shows it.
        CImageViewBase* view = LatestImageView(doc, image);
        for (int id : kImageViewCommands) {
            CCmdUI state(id);
            const bool enabled = view && view->OnCmdMsg(id, &state) && state.enabled;
            EnableMenuCommand(menu, id, enabled);
            if (QAction* action = FindMenuCommand(menu, id); action && enabled && state.check >= 0) {
                action->setCheckable(true);
                action->setChecked(state.check != 0);
            }
        }
        return menu;
    }
    return nullptr;
}

void CKestrelonView::contextMenuEvent(QContextMenuEvent* event)
{
    if (m_bMenuShowing)
        return;
    QMenu* menu = BuildItemContextMenu(itemAt(event->pos()));
    if (!menu)
        return;
    for (QAction* action : menu->findChildren<QAction*>())
        if (const int id = ActionId(action))
            connect(action, &QAction::triggered, this, [this, id] { OnCmdMsg(id, nullptr); });
    m_bMenuShowing = true;
    menu->exec(event->globalPos());
    delete menu;
    m_bMenuShowing = false;
}

// --- commands ---------------------------------------------------------------

void CKestrelonView::RegisterTreeCommands()
{
    auto image = [this](auto&& body) {
        return [this, body] {
            if (CProjectImage* im = CaretImage())
                body(*im);
        };
    };
    auto iconOf = [this](CProjectImage& im) {
        if (QTreeWidgetItem* item = CaretItem())
            SetImageIcon(item, im.qualitySet, im.highQuality, im.oriented, im.enabled);
    };
    // Each changes the project: the document is marked modified so that
    // closing asks and auto save takes it.
    OnCommand(ID_TREE_DISABLE_IMAGE, image([this, iconOf](CProjectImage& im) {
                  im.enabled = !im.enabled;
                  iconOf(im);
                  GetDocument()->SetModifiedFlag(true);
              }));
    OnCommand(ID_TREE_QUALITY, image([this, iconOf](CProjectImage& im) {
                  im.qualitySet = true;
                  im.highQuality = !im.highQuality;
                  iconOf(im);
                  GetDocument()->SetModifiedFlag(true);
              }));
    for (int id : kImageViewCommands)
        OnCommand(id, image([this, id](CProjectImage& im) {
                      if (CImageViewBase* view = LatestImageView(GetDocument(), &im))
                          view->OnCmdMsg(id, nullptr);
                  }));
    OnCommand(ID_TREE_ALIGN_TO_CAMERA, image([](CProjectImage& im) {
                  double r[3][3];
                  im.GetRotation(r);
                  for (const auto& row : r)
                      std::printf("%12.6f %12.6f %12.6f\n", row[0], row[1], row[2]);
                  std::fflush(stdout);
              }));
    OnCommand(ID_TREE_SET_CONTROL, [this] {
        CKestrelonDoc* doc = GetDocument();
        QTreeWidgetItem* item = CaretItem();
        if (!doc || !item)
            return;
        doc->ToggleControlSet(ToCp1252(item->text(0)).c_str());
        doc->SetModifiedFlag(true);
        RefreshPointSetIcons();
    });
    OnCommand(ID_TREE_GRAPHIC_VIEW, [this] {
        if (m_pSelectedPointSet && m_pSelectedPointSet->GetSize() > 0)
            OpenGraphicView();
    });
    OnCommand(ID_TREE_DISTORTION_PROFILES, [this] {
        auto* frame = dynamic_cast<CProjectFrame*>(GetParentFrame());
        if (frame && !frame->SwitchRightView<CCameraDistortionView>())
            if (CDocument* doc = CView::GetDocument())
                doc->UpdateAllViews(this, 0);
    });
    OnCommand(ID_TREE_PRJ_VIEW_CAMERA, [this] {
        CKestrelonDoc* doc = GetDocument();
        QTreeWidgetItem* item = CaretItem();
        if (!doc || !item)
            return;
        const int index = doc->cameras.FindIndexByName(ToCp1252(item->text(0)).c_str());
        if (index < 0) {
            AfxMessageBox("Camera Not Found in Project");
            return;
        }
        const CCameraList before(doc->cameras);
        CCameraDataDlg dlg(&doc->cameras, index, 1, this);
        dlg.DoModal();
        AfterProjectCameraEdit(before);
    });
    OnCommand(ID_TREE_DB_VIEW_CAMERA, [this] {
        CKestrelonDoc* doc = GetDocument();
        CKestrelonApp* app = AfxGetApp();
        QTreeWidgetItem* item = CaretItem();
        if (!doc || !app || !item)
            return;
        const std::string name = ToCp1252(item->text(0));
        if (const int i = doc->cameras.FindIndexByName(name.c_str()); i >= 0) {
            const CCameraList before(doc->cameras);
            CCameraDataDlg dlg(&doc->cameras, i, 1, this);
            dlg.DoModal();
            AfterProjectCameraEdit(before);
        } else if (const int j = app->cameraDatabase.FindIndexByName(name.c_str()); j >= 0) {
            CCameraDataDlg dlg(&app->cameraDatabase, j, 0, this);
            dlg.DoModal();
        }
    });
    OnCommand(ID_TREE_BALANCED_DISTORTION, [this] {
        CKestrelonDoc* doc = GetDocument();
        QTreeWidgetItem* item = CaretItem();
        const CCamera* camera = doc && item ? doc->cameras.FindByName(ToCp1252(item->text(0)).c_str()) : nullptr;
        double rb = 0, rmax = 0, step = 0;
        if (!camera || !CDistortionReport::DefaultRadii(*camera, rb, rmax, step))
            return;
        CBalancedDistortionDlg dlg(rb, rmax, step, this);
        if (dlg.DoModal() != IDOK)
            return;
        CFilePath path = doc->GetPathName();
        path.SetTitle("balance");
        path.SetExtension("txt");
        CDistortionReport report;
        report.Write(path, ToCp1252(doc->GetTitle()).c_str(), camera, dlg.GetBalancedRadius(),
                     dlg.GetMaximumRadius(), dlg.GetStep());
    });
    OnCommand(ID_TREE_EXPORT_DXF, [this] {
        if (!m_pSelectedPointSet)
            return;
        CFileDialogRequest request;
        request.open = false;
        request.filter = QStringLiteral("DXF Files (*.dxf)");
        QString path = AfxGetFileName(this, request);
        if (path.isEmpty())
            return;
        if (QFileInfo(path).suffix() != QLatin1String("dxf")) {
            const QFileInfo info(path);
            path = info.suffix().isEmpty() ? path + QStringLiteral(".dxf")
                                           : path.left(path.size() - info.suffix().size()) + QStringLiteral("dxf");
        }
        CDxfWriter writer(ToCp1252(path).c_str());
        if (!writer.WritePointSet(m_pSelectedPointSet))
            AfxMessageBox(("Cannot write " + ToCp1252(path) + ": " + writer.GetError()).c_str(), MB_ICONERROR);
    });
    OnCommand(ID_TREE_PRJ_REMOVE_CAMERA, [this] { OnRemoveCameraFromProject(); });
    OnCommand(ID_TREE_DB_REMOVE_SCALEBAR, [this] { OnRemoveDatabaseScaleBar(); });
    OnCommand(ID_TREE_DELETE_IMAGE, [this] { OnDeleteImage(); });
    OnCommand(ID_TREE_DISPLAY_IMAGE, [this] { OnDisplayImage(); });
    OnCommand(ID_TREE_CREATE_EMPTY_IMAGES, [this] { OnCreateEmptyImages(); });
    OnCommand(ID_TREE_DB_REMOVE_CAMERA, [this] { OnRemoveDatabaseCamera(); });
    OnCommand(ID_TREE_DB_REMOVE_EO_DEVICE, [this] { OnRemoveEODeviceFromDatabase(); });
    OnCommand(ID_TREE_DB_EO_PROPERTIES, [this] { OnDatabaseEODeviceProperties(); });
    OnCommand(ID_TREE_SET_PROPERTIES, [this] {
        CKestrelonDoc* doc = GetDocument();
        QTreeWidgetItem* item = CaretItem();
        if (!doc || !item || doc->eoDevice.GetName().IsEmpty() || item->text(0) != Text(doc->eoDevice.name.GetTitle()))
            return;
        CEODevicePropertiesDlg dlg(&doc->eoDevice, nullptr, this);
        dlg.DoModal();
        if (dlg.WasChanged()) {
            doc->SetModifiedFlag(true);
            item->setText(0, Text(doc->eoDevice.name.GetTitle()));
            UpdateProjectFrames();
        }
    });
    OnCommand(ID_TREE_UPDATE_DB_CAMERA, [this] {
        CKestrelonDoc* doc = GetDocument();
        CKestrelonApp* app = AfxGetApp();
        QTreeWidgetItem* item = CaretItem();
        const CCamera* camera = doc && app && item ? doc->cameras.FindByName(ToCp1252(item->text(0)).c_str()) : nullptr;
        if (!camera)
            return;
        const char* id = camera->identifier.GetText();
        if (app->cameraDatabase.FindByName(id)) {
            const std::string text = std::string("Replace camera <") + id + ">?";
            if (AfxMessageBox(text.c_str(), MB_YESNO | MB_ICONQUESTION) == IDNO)
                return;
            ForgetRecord(app->cameraDatabase.FindByName(id));
            app->cameraDatabase.RemoveByName(id);
        }
        app->cameraDatabase.AddCopy(*camera);
        app->FlushDatabases();
        // Other projects may show the database too.
        UpdateProjectFrames();
    });
    OnCommand(ID_TREE_DELETE_ALL_OBS, image([this](CProjectImage& im) {
                  im.RemoveAllObservations();
                  im.oriented = false;
                  im.scanned = false;
                  if (QTreeWidgetItem* item = CaretItem())
                      SetIcon(item, im.enabled ? 3 : 5);
                  GetDocument()->SetModifiedFlag(true);
                  GetDocument()->UpdateAllViews(this, 0);
              }));
    OnCommand(ID_TREE_ADD_STATIONS_AS_POINTS, [this] { OnAddStationsAsPoints(); });
    OnCommand(ID_TREE_NEW_3D, [this] {
        CKestrelonDoc* doc = GetDocument();
        if (doc && doc->CreateEmpty3DDataFile()) {
            doc->UpdateAllViews(nullptr, 0);
            if (m_h3DData)
                m_h3DData->setExpanded(true);
        }
    });
    // Transform and Compare on the set named by the caret text.
    for (const int id : {int(ID_TREE_TRANSFORM), int(ID_TREE_COMPARE)})
        OnCommand(id, [this, id] {
            CKestrelonDoc* doc = GetDocument();
            QTreeWidgetItem* item = CaretItem();
            if (!doc || !item)
                return;
            const std::string name = ToCp1252(item->text(0));
            if (id == ID_TREE_TRANSFORM ? doc->Run3DTransformation(name) : doc->CompareWith3DFile(name)) {
                doc->UpdateAllViews(nullptr, 0);
                if (m_h3DData)
                    m_h3DData->setExpanded(true);
            }
        });
    OnCommand(ID_TREE_DB_ADD_CAMERA, [this] {
        CKestrelonDoc* doc = GetDocument();
        CKestrelonApp* app = AfxGetApp();
        if (!app)
            return;
        CCamera* camera = app->cameraDatabase.AddNew();
        CCameraInputDlg dlg(camera, this);
        if (dlg.DoModal() == IDOK) {
            if (doc)
                doc->UpdateAllViews(nullptr, 0);
            UpdateProjectFrames();
            app->FlushDatabases();
        } else {
            app->cameraDatabase.RemoveAt(app->cameraDatabase.GetUpperBound(), 1);
        }
    });
    // "Full Image View" from the tree refreshes the other views.
    OnCommand(ID_TREE_FULL_VIEW, [this] {
        if (CDocument* doc = CView::GetDocument())
            doc->UpdateAllViews(this, 0);
    });
    OnCommand(ID_APP_ABOUT, [] {
        if (CKestrelonApp* app = AfxGetApp())
            app->OnAppAbout();
    });
    // Commands of the image windows stay off while the tree is the active view.
    for (const int id : {int(ID_TREE_MAGNIFIED_VIEW), int(ID_TREE_DRIVEBACK), int(IDC_POINT_LABEL),
                         int(IDC_POINT_INCREMENT), int(IDC_CENTROID_WINDOW), int(IDC_IMAGE_QUALITY)})
        CCmdTarget::OnUpdate(id, [](CCmdUI* ui) { ui->Enable(false); });
    OnCommand(ID_TREE_OPEN_SELECTED, [this] { OpenItem(CaretItem(), 1); });
    // Alt+Return opens the caret item's properties.
    auto* open = new QAction(this);
    open->setObjectName(IdName(ID_TREE_OPEN_SELECTED));
    open->setData(ID_TREE_OPEN_SELECTED);
    open->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Return));
    open->setShortcutContext(Qt::WidgetShortcut);
    addAction(open);
    connect(open, &QAction::triggered, this, [this] { OnCmdMsg(ID_TREE_OPEN_SELECTED, nullptr); });
}

void CKestrelonView::OnCreateEmptyImages()
{
    CKestrelonDoc* doc = GetDocument();
    QTreeWidgetItem* item = CaretItem();
    CCamera* camera = doc && item ? doc->cameras.FindByName(ToCp1252(item->text(0)).c_str()) : nullptr;
    if (!camera)
        return;
    const int old = doc->images.GetSize();
    CCreateEmptyImagesDlg dlg(this, camera, doc);
    if (dlg.DoModal() != IDOK)
        return;
    for (int i = old; i < doc->images.GetSize(); ++i)
        AddImageItem(doc->images.GetAt(i));
    doc->SetModifiedFlag(true);
}

void CKestrelonView::OnRemoveDatabaseCamera()
{
    CKestrelonApp* app = AfxGetApp();
    QTreeWidgetItem* item = CaretItem();
    CCamera* camera = app && item ? app->cameraDatabase.FindByName(ToCp1252(item->text(0)).c_str()) : nullptr;
    if (!camera)
        return;
    CDynArray<CCamera> selected;
    selected.Add(camera);
    if (!app->DeleteCamerasFromDatabase(selected))
        return;
    ForgetRecord(camera);
    delete item;
    UpdateProjectFrames();
    viewport()->update();
}

void CKestrelonView::OnDatabaseEODeviceProperties()
{
    CKestrelonApp* app = AfxGetApp();
    QTreeWidgetItem* item = CaretItem();
    CEODevice* device = app && item ? app->eoDeviceDatabase.FindByName(ToCp1252(item->text(0)).c_str()) : nullptr;
    if (!device)
        return;
    CEODevicePropertiesDlg dlg(device, &app->eoDeviceDatabase, this);
    dlg.DoModal();
    if (!dlg.WasChanged())
        return;
    DeleteChildItems(m_hEODeviceDatabase);
    BuildEODeviceDatabaseBranch();
    if (m_hEODeviceDatabase)
        m_hEODeviceDatabase->setExpanded(true);
    UpdateProjectFrames();
    app->FlushDatabases();
}

void CKestrelonView::OnRemoveEODeviceFromDatabase()
{
    CKestrelonApp* app = AfxGetApp();
    QTreeWidgetItem* item = CaretItem();
    if (!app || !item || !item->parent())
        return;
    const std::string name = ToCp1252(item->text(0));
    const int index = app->eoDeviceDatabase.IndexOfName(name.c_str());
    if (index < 0)
        return;
    const std::string question = "Comfirm delete of EO Device <" + name + ">";
    if (AfxMessageBox(question.c_str(), MB_YESNO) == IDNO)
        return;
    ForgetRecord(app->eoDeviceDatabase.GetAt(index));
    app->eoDeviceDatabase.RemoveAt(index, 1);
    app->FlushDatabases();
    DeleteItemSelectingNeighbour(item, [app](const std::string& name) -> CPointSet* {
        return app->eoDeviceDatabase.FindByName(name.c_str());
    });
    if (auto* frame = dynamic_cast<CProjectFrame*>(GetParentFrame()))
        frame->UpdateOtherProjectFrames();
}

void CKestrelonView::OnAddStationsAsPoints()
{
    CKestrelonDoc* doc = GetDocument();
    CPointSet* set = m_pSelectedPointSet;
    if (!doc || !set)
        return;
    // A set without points gives the stations a radius of 0.
    double ex = 0, ey = 0, ez = 0;
    double size = 0;
    if (set->GetSize() > 0 && set->GetExtentX(ex) && set->GetExtentY(ey) && set->GetExtentZ(ez))
        size = std::sqrt(ex * ex + ey * ey + ez * ez) / 30.0;
    for (int i = 0; i < doc->images.GetSize(); ++i) {
        const CProjectImage* image = doc->images.GetAt(i);
        const StationGeometry station = image->GetStation();
        CObjectPoint point;
        point.label = CNameBuffer(image->name.GetText());
        point.x = station.X0[0];
        point.y = station.X0[1];
        point.z = station.X0[2];
        // R transposed times (0, 0, -1).
        double n[3] = {-station.R[2][0], -station.R[2][1], -station.R[2][2]};
        const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        for (int k = 0; k < 3; ++k)
            point.normal[k] = length > 0 ? n[k] / length : 0.0;
        point.radius = size;
        for (int k = 0; k < set->GetSize(); ++k)
            if (set->GetAt(k)->label == point.label) {
                set->RemoveAt(k, 1);
                break;
            }
        set->AddCopy(point);
    }
    if (doc->images.GetSize() == 0)
        return;
    set->SortByLabel();
    doc->SetModifiedFlag(true);
    RefreshRightPane();
    if (!set->Save(12, 13, 7))
        AfxMessageBox(("Cannot write " + std::string(set->GetName().GetText())).c_str(), MB_ICONERROR);
}

bool CKestrelonView::IsImageOpen(const CProjectImage* image, bool message)
{
    CKestrelonDoc* doc = GetDocument();
    if (!doc || !image)
        return false;
    bool shown = false, relative = false;
    for (CView* v : doc->GetViews())
        if (auto* imageView = dynamic_cast<CImageViewBase*>(v); imageView && imageView->GetImageRecord() == image) {
            shown = true;
            relative |= imageView->InRelativeOrientation();
        }
    if (shown && message) {
        const std::string name = image->name.GetText();
        const std::string text =
            relative ? "Image " + name + " is used for relative orientation and cannot be deleted.\n"
                                         "Close the Relative Orientation dialog first."
                     : "Image " + name + " is open in a window and cannot be deleted.\nClose its window first.";
        AfxMessageBox(text.c_str(), MB_ICONERROR, "Kestrelon");
    }
    return shown;
}

void CKestrelonView::OnRemoveCameraFromProject()
{
    CKestrelonDoc* doc = GetDocument();
    QTreeWidgetItem* item = CaretItem();
    if (!doc || !item)
        return;
    const std::string name = ToCp1252(item->text(0));
    CCamera* camera = doc->cameras.FindByName(name.c_str());
    if (!camera)
        return;
    bool open = false;
    for (int i = 0; i < doc->images.GetSize(); ++i)
        if (doc->images.GetAt(i)->cameraName == camera->identifier && IsImageOpen(doc->images.GetAt(i), true))
            open = true;
    if (open)
        return;
    for (int i = doc->images.GetUpperBound(); i >= 0; --i) {
        CProjectImage* image = doc->images.GetAt(i);
        if (image->cameraName == camera->identifier) {
            doc->ForgetImage(image);
            doc->images.RemoveAt(i, 1);
        }
    }
    if (m_pRelOrientDlg)
        m_pRelOrientDlg->Refresh(0, 0, 1);
    ForgetRecord(camera);
    doc->cameras.RemoveByName(name.c_str());
    doc->SetModifiedFlag(true);
    delete item;
    UpdateProjectFrames();
    viewport()->update();
}

void CKestrelonView::OnRemoveDatabaseScaleBar()
{
    CKestrelonApp* app = AfxGetApp();
    QTreeWidgetItem* item = CaretItem();
    if (!app || !item)
        return;
    const int index = app->scaleBarDatabase.FindIndexByName(ToCp1252(item->text(0)).c_str());
    if (index < 0 || AfxMessageBox("Are You Sure About This?", MB_YESNO) == IDNO)
        return;
    ForgetRecord(app->scaleBarDatabase.GetAt(index));
    app->scaleBarDatabase.RemoveAt(index, 1);
    app->FlushDatabases();
    delete item;
    RefreshScaleBarDatabaseList();
    UpdateProjectFrames();
}

void CKestrelonView::OnDeleteImage()
{
    CProjectImage* image = CaretImage();
    if (!image || AfxMessageBox("Delete Selected Image(s)?", MB_YESNO) == IDNO)
        return;
    CImagePtrArray list;
    list.Add(image);
    DeleteImages(list);
    viewport()->update();
}

void CKestrelonView::OnDisplayImage()
{
    // A new window on every call; one already showing the image stays as it is.
    if (CProjectImage* image = CaretImage())
        OpenImageWindow(GetDocument(), image);
}

void CKestrelonView::RestartAutoSaveTimer()
{
    CKestrelonDoc* doc = GetDocument();
    m_autoSaveTimer.stop();
    m_nAutoSaveInterval = 0;
    if (doc && doc->autoSavePeriod > 0) {
        m_nAutoSaveInterval = std::min(doc->autoSavePeriod, 2000000) * 1000;
        m_autoSaveTimer.start(m_nAutoSaveInterval, this);
    }
}

void CKestrelonView::RebuildBranch(QTreeWidgetItem* branch, const CScaleBarList& bars)
{
    if (!branch)
        return;
    DeleteChildItems(branch);
    for (int i = 0; i < bars.GetSize(); ++i)
        Insert(branch, Text(bars.GetAt(i)->name), ICON_SCALEBAR, false);
}

// --- removals from the keyboard ----------------------------------------------

void CKestrelonView::DeletePointSetItem(QTreeWidgetItem* item)
{
    CKestrelonDoc* doc = GetDocument();
    if (!doc || !item || !item->parent())
        return;
    const std::string name = ToCp1252(item->text(0));
    CPointSet* set = doc->FindPointSet(name.c_str());
    const bool control = set && set->isControl;
    if (!doc->DeletePointSet(name.c_str()))
        return;
    // Without its control set the network is adjusted free.
    if (control)
        doc->settings.freeNetwork = true;
    ForgetRecord(set);
    DeleteItemSelectingNeighbour(item, [doc](const std::string& name) { return doc->FindPointSet(name.c_str()); });
    viewport()->update();
    doc->UpdateAllViews(nullptr, 0);
}

void CKestrelonView::DeleteItemSelectingNeighbour(QTreeWidgetItem* item,
                                                  const std::function<CPointSet*(const std::string&)>& find)
{
    QTreeWidgetItem* parent = item->parent();
    const int at = parent->indexOfChild(item);
    QTreeWidgetItem* next = parent->child(at + 1) ? parent->child(at + 1) : (at > 0 ? parent->child(at - 1) : nullptr);
    m_pSelectedPointSet = next ? find(ToCp1252(next->text(0))) : nullptr;
    delete item;
    setCurrentItem(next ? next : parent);
    if (auto* list = dynamic_cast<C3DDataListView*>(RightView()))
        list->SetPointSet(m_pSelectedPointSet);
    RefreshRightPane();
}

void CKestrelonView::RemoveProjectScaleBar(QTreeWidgetItem* item)
{
    CKestrelonDoc* doc = GetDocument();
    if (!doc || !item || !m_pSelectedScaleBar)
        return;
    const int index = doc->scaleBars.FindIndexByName(m_pSelectedScaleBar->name);
    if (index < 0)
        return;
    ForgetRecord(doc->scaleBars.GetAt(index));
    doc->scaleBars.RemoveAt(index, 1);
    delete item;
    doc->SetModifiedFlag(true);
    viewport()->update();
}

// --- activation and keys -------------------------------------------------------

void CKestrelonView::OpenItem(QTreeWidgetItem* item, int flag)
{
    CKestrelonDoc* doc = GetDocument();
    CKestrelonApp* app = AfxGetApp();
    if (!doc || !app || !item || !item->parent())
        return;
    for (QTreeWidgetItem* root : {m_hCameraDatabase, m_hScaleBarDatabase, m_hProjectRoot, m_h3DData, m_hProjectScaleBars})
        if (item == root)
            return;
    QTreeWidgetItem* parent = item->parent();
    const std::string text = ToCp1252(item->text(0));
    if (parent == m_hCameraDatabase) {
        const int index = app->cameraDatabase.FindIndexByName(text.c_str());
        if (index >= 0) {
            CCameraDataDlg dlg(&app->cameraDatabase, index, 0, this);
            dlg.DoModal();
        }
        RefreshCameraDatabaseBranch();
        return;
    }
    if (parent == m_hScaleBarDatabase || parent == m_hProjectScaleBars) {
        CScaleBarList& bars = parent == m_hScaleBarDatabase ? app->scaleBarDatabase : doc->scaleBars;
        CScaleBarsDlg dlg(&bars, bars.FindIndexByName(text.c_str()), this);
        dlg.DoModal();
        if (parent == m_hScaleBarDatabase)
            RefreshScaleBarDatabaseBranch();
        return;
    }
    if (parent == m_hEODeviceDatabase) {
        OnDatabaseEODeviceProperties();
        return;
    }
    if (doc->images.FindByName(text.c_str())) {
        if (flag == 1)
            OnEditExteriorOrientation();
        else
            OnDisplayImage();
        return;
    }
    if (parent == m_hProjectRoot && doc->cameras.FindByName(text.c_str())) {
        const int index = doc->cameras.FindIndexByName(text.c_str());
        const CCameraList before(doc->cameras);
        CCameraDataDlg dlg(&doc->cameras, index, 1, this);
        dlg.DoModal();
        AfterProjectCameraEdit(before);
        return;
    }
    if (parent == m_h3DData) {
        CPointSet* set = doc->FindPointSet(text.c_str());
        if (set && flag == 1 && set->isEODevice)
            OnCmdMsg(ID_TREE_SET_PROPERTIES, nullptr);
        if (set && flag == 0 && set->GetSize() > 0) {
            m_pSelectedPointSet = set;
            OpenGraphicView();
        }
    }
}

// The lists' equality counts the fiducial marks only; the camera dialog
// edits them in place too.
static bool SameFiducialMarks(const CCameraList& a, const CCameraList& b)
{
    for (int i = 0; i < a.GetSize() && i < b.GetSize(); ++i) {
        const CObservationList& p = a.GetAt(i)->fiducials;
        const CObservationList& q = b.GetAt(i)->fiducials;
        for (int k = 0; k < p.GetSize() && k < q.GetSize(); ++k)
            if (!(p.GetAt(k)->label == q.GetAt(k)->label) || p.GetAt(k)->x != q.GetAt(k)->x ||
                p.GetAt(k)->y != q.GetAt(k)->y)
                return false;
    }
    return true;
}

bool CKestrelonView::AfterProjectCameraEdit(const CCameraList& before)
{
    CKestrelonDoc* doc = GetDocument();
    if (!doc || (doc->cameras == before && SameFiducialMarks(doc->cameras, before)))
        return false;
    // Any change of a camera is a change of the project.
    doc->SetModifiedFlag(true);
    for (int k = 0; m_hProjectRoot && k < m_hProjectRoot->childCount(); ++k) {
        QTreeWidgetItem* child = m_hProjectRoot->child(k);
        const int i = before.FindIndexByName(ToCp1252(child->text(0)).c_str());
        if (i < 0)
            break;
        if (i >= doc->cameras.GetSize())
            continue;
        const CDynString& old = before.GetAt(i)->identifier;
        const CDynString& now = doc->cameras.GetAt(i)->identifier;
        if (old == now)
            continue;
        child->setText(0, Text(now));
        doc->images.RenameCamera(old.GetText(), now.GetText());
    }
    doc->UpdateAllViews(this, 0);
    return true;
}

bool CKestrelonView::OnTreeKey(int key, Qt::KeyboardModifiers modifiers)
{
    CKestrelonDoc* doc = GetDocument();
    QTreeWidgetItem* item = CaretItem();
    if (!doc || !item || !item->parent())
        return true; // swallowed
    for (QTreeWidgetItem* root : {m_hCameraDatabase, m_hScaleBarDatabase, m_hProjectRoot, m_h3DData, m_hProjectScaleBars})
        if (item == root)
            return true;
    QTreeWidgetItem* parent = item->parent();
    const std::string text = ToCp1252(item->text(0));
    CProjectImage* image = doc->images.FindByName(text.c_str());
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (!image)
            return false;
        OnDisplayImage();
        return true;
    case Qt::Key_Up:
    case Qt::Key_Down: {
        const bool up = key == Qt::Key_Up;
        if (image) {
            CProjectImage* other = up ? doc->images.GetPrevious(image) : doc->images.GetNext(image);
            if (!other)
                return true;
            m_strObsImageName = Text(other->name);
            QTreeWidgetItem* target = up ? itemAbove(item) : parent->child(parent->indexOfChild(item) + 1);
            setCurrentItem(target);
            RefreshRightPane();
            return true;
        }
        if (!m_h3DData)
            return false;
        QTreeWidgetItem* sibling = parent->child(parent->indexOfChild(item) + (up ? -1 : 1));
        if (!sibling)
            return true;
        setCurrentItem(sibling);
        CPointSet* set = up ? doc->pointSets.GetPreviousSet(text.c_str()) : doc->pointSets.GetNextSet(text.c_str());
        if (set) {
            m_pSelectedPointSet = set;
            RefreshRightPane();
        }
        return true;
    }
    case Qt::Key_Delete:
        if (parent == m_hScaleBarDatabase) {
            OnRemoveDatabaseScaleBar();
            return true;
        }
        if (parent == m_hCameraDatabase) {
            OnRemoveDatabaseCamera();
            return true;
        }
        if (parent == m_hEODeviceDatabase) {
            OnRemoveEODeviceFromDatabase();
            return true;
        }
        m_pSelectedCamera = doc->cameras.FindByName(text.c_str());
        m_pSelectedScaleBar = doc->scaleBars.FindByName(text.c_str());
        if (m_pSelectedCamera && parent == m_hProjectRoot)
            OnRemoveCameraFromProject();
        else if (image)
            OnDeleteImage();
        else if (m_pSelectedScaleBar)
            RemoveProjectScaleBar(item);
        else if (m_h3DData)
            DeletePointSetItem(item);
        else
            return false;
        return true;
    case Qt::Key_R:
        if (!image || !(modifiers & Qt::ControlModifier))
            return false;
        image->oriented = true;
        SetImageIcon(item, image->qualitySet, image->highQuality, true, image->enabled);
        doc->SetModifiedFlag(true);
        return true;
    default:
        return false;
    }
}

void CKestrelonView::keyPressEvent(QKeyEvent* event)
{
    // While an image window is the active child its view takes the key.
    CMainFrame* main = AfxGetMainFrame();
    CMDIChildWnd* child = main ? main->MDIGetActive() : nullptr;
    if (auto* view = child ? dynamic_cast<CImageViewBase*>(child->GetActiveView()) : nullptr) {
        QWidget* widget = view->GetWidget();
        widget->setFocus();
        QKeyEvent copy(event->type(), event->key(), event->modifiers(), event->text(), event->isAutoRepeat(),
                       ushort(event->count()));
        QCoreApplication::sendEvent(widget, &copy);
        return;
    }
    if (state() == QAbstractItemView::EditingState || !OnTreeKey(event->key(), event->modifiers()))
        QTreeWidget::keyPressEvent(event);
}

void CKestrelonView::mouseDoubleClickEvent(QMouseEvent* event)
{
    QTreeWidget::mouseDoubleClickEvent(event);
    QTreeWidgetItem* item = itemAt(event->position().toPoint());
    setCurrentItem(item);
    OpenItem(item, 0);
}

// --- renaming -------------------------------------------------------------------

void CKestrelonView::OnEndLabelEdit(QTreeWidgetItem* item, const QString& text)
{
    CKestrelonDoc* doc = GetDocument();
    CKestrelonApp* app = AfxGetApp();
    if (!doc || !app || !item || !item->parent() || text.isEmpty())
        return;
    QTreeWidgetItem* parent = item->parent();
    const std::string name = ToCp1252(text);
    const std::string old = ToCp1252(item->text(0));
    if (parent == m_h3DData) {
        CPointSet* set = doc->FindPointSet(old.c_str());
        if (!set)
            return;
        CFilePath target = set->GetName();
        target.SetTitle(name.c_str());
        while (doc->FindPointSet(target.GetTitle().GetText()))
            if (!target.IncrementNumber())
                return;
        bool replace = false;
        if (FileExists(target.GetText())) {
            if (AfxMessageBox("File Exists\nReplace?", MB_YESNO) == IDNO)
                return;
            replace = true;
        }
        // The old file is replaced in the rename's one step, never removed first.
        std::string error;
        if (!RenameRegularFile(set->GetName().GetText(), target.GetText(), replace, error)) {
            AfxMessageBox("File Rename Error");
            return;
        }
        set->SetName(target);
        doc->SetModifiedFlag(true);
        item->setText(0, Text(target.GetTitle()));
        viewport()->update();
        return;
    }
    if (parent == m_hProjectRoot && item != m_h3DData && item != m_hProjectScaleBars) {
        if (doc->cameras.FindByName(name.c_str())) {
            AfxMessageBox("Camera name already used in project!");
            return;
        }
        CCamera* camera = doc->cameras.FindByName(old.c_str());
        if (!camera)
            return;
        camera->identifier = name.c_str();
        doc->images.RenameCamera(old.c_str(), name.c_str());
        item->setText(0, text);
        doc->SetModifiedFlag(true);
        return;
    }
    if (parent == m_hCameraDatabase) {
        CCamera* camera = app->cameraDatabase.FindByName(ToCp1252(m_strEditLabel).c_str());
        if (!camera)
            return;
        if (app->cameraDatabase.FindByName(name.c_str())) {
            AfxMessageBox("Camera name already used in database!");
            return;
        }
        camera->identifier = name.c_str();
        app->FlushDatabases();
        item->setText(0, text);
        // The frames rebuild their trees once the editor has closed.
        QTimer::singleShot(0, this, [this] { UpdateProjectFrames(); });
    }
}

// --- drag and drop ----------------------------------------------------------------

int CKestrelonView::NodeOf(const QTreeWidgetItem* item) const
{
    if (!item)
        return NODE_OTHER;
    const std::pair<const QTreeWidgetItem*, TreeNode> nodes[] = {
        {m_hDatabaseRoot, NODE_DATABASE}, {m_hCameraDatabase, NODE_CAMERA_DB},   {m_hScaleBarDatabase, NODE_SCALEBAR_DB},
        {m_hEODeviceDatabase, NODE_EO_DB}, {m_hProjectRoot, NODE_PROJECT},       {m_h3DData, NODE_3D_DATA},
        {m_hProjectScaleBars, NODE_SCALEBARS}};
    for (const auto& [node, kind] : nodes)
        if (node == item)
            return kind;
    return NODE_OTHER;
}

bool CKestrelonView::OnBeginDrag(QTreeWidgetItem* item)
{
    if (!item || !item->parent() || item == m_hCameraDatabase || item == m_hScaleBarDatabase ||
        item == m_hEODeviceDatabase)
        return false;
    m_hDragItem = item;
    m_hDropItem = nullptr;
    m_bDragging = true;
    auto* picture = new QLabel(item->text(0), this, Qt::ToolTip);
    picture->setIndent(4);
    picture->adjustSize();
    picture->move(QCursor::pos());
    picture->show();
    m_pDragImage = picture;
    return true;
}

void CKestrelonView::EndDrag()
{
    delete m_pDragImage;
    m_pDragImage = nullptr;
    if (m_hDropItem)
        m_hDropItem->setBackground(0, QBrush());
    m_bDragging = false;
}

void CKestrelonView::mousePressEvent(QMouseEvent* event)
{
    m_dragStart = event->position().toPoint();
    QTreeWidget::mousePressEvent(event);
}

void CKestrelonView::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    if (!m_bDragging) {
        if ((event->buttons() & Qt::LeftButton) && (at - m_dragStart).manhattanLength() >= QApplication::startDragDistance()
            && state() != QAbstractItemView::EditingState && OnBeginDrag(itemAt(m_dragStart)))
            return;
        QTreeWidget::mouseMoveEvent(event);
        return;
    }
    if (m_pDragImage)
        m_pDragImage->move(mapToGlobal(at) + QPoint(8, 8));
    if (QTreeWidgetItem* over = itemAt(at); over && over != m_hDropItem) {
        if (m_hDropItem)
            m_hDropItem->setBackground(0, QBrush());
        over->setBackground(0, palette().highlight());
        m_hDropItem = over;
    }
}

void CKestrelonView::mouseReleaseEvent(QMouseEvent* event)
{
    if (!m_bDragging) {
        QTreeWidget::mouseReleaseEvent(event);
        return;
    }
    QTreeWidgetItem* dragged = m_hDragItem;
    QTreeWidgetItem* target = m_hDropItem;
    EndDrag();
    CKestrelonDoc* doc = GetDocument();
    CKestrelonApp* app = AfxGetApp();
    const bool own = target == dragged || IsDescendant(target, dragged) || target == dragged->parent();
    const bool eoIcon = dragged->data(0, kIconIndexRole).toInt() == ICON_EO_DEVICE;
    const DropAction action = GetDropAction(TreeNode(NodeOf(dragged->parent())), eoIcon, TreeNode(NodeOf(target)), own);
    const std::string text = ToCp1252(dragged->text(0));
    switch (action) {
    case DROP_BEEP:
        TreeBeep();
        break;
    case DROP_SCALEBAR_TO_PROJECT:
        if (doc)
            doc->AddScaleBarToProject(text.c_str());
        break;
    case DROP_EO_DEVICE_TO_PROJECT:
        if (doc && doc->SetEODeviceFromDatabase(text.c_str())) {
            doc->SetModifiedFlag(true);
            doc->UpdateAllViews(nullptr, 0);
        }
        break;
    case DROP_CAMERA_TO_DATABASE:
        if (doc && app && app->AddCameraToDatabase(doc->cameras.FindByName(text.c_str())))
            UpdateProjectFrames();
        break;
    case DROP_EO_DEVICE_TO_DATABASE:
        if (doc && app && app->AddEODeviceToDatabase(&doc->eoDevice))
            UpdateProjectFrames();
        break;
    case DROP_CAMERA_TO_PROJECT:
        if (doc)
            doc->AddDatabaseCameraToProject(text.c_str());
        break;
    case DROP_NOTHING:
        break;
    }
    QTreeWidget::mouseReleaseEvent(event);
}

void CKestrelonView::OpenGraphicView()
{
    auto* frame = dynamic_cast<CProjectFrame*>(GetParentFrame());
    if (frame && !frame->SwitchRightView<C3DView>())
        if (CDocument* doc = CView::GetDocument())
            doc->UpdateAllViews(this, 0);
}
