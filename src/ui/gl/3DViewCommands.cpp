// The 3D view's commands: the context menu "OpenGlView", the Ctrl keys and
// characters, the layer switches with their automatic scales, the size
// steps, the geometry tools on the selection, delete, relabel with the
// toolbar's label fields, "321..." and the scale dialog.
#include "3DView.h"

#include "BestFit.h"
#include "BestFitLine.h"
#include "BestFitSphere.h"
#include "Hooks.h"
#include "KestrelonDoc.h"
#include "MainFrame.h"
#include "Message.h"
#include "NewmatLock.h"
#include "OkCancelButtons.h"
#include "ImageObservation.h"
#include "GLPick.h"
#include "PointDeleteExDlg.h"
#include "PointDialogs.h"
#include "PointSet.h"
#include "ProjectImageList.h"
#include "ScaleBar.h"
#include "TreeMenus.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QVBoxLayout>

#include <newmat/newmat.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

namespace {

// The popup "OpenGlView": level 1 entries belong to the submenu above them.
const MenuEntry kOpenGlView[] = {
    {0, "View Camera Stations\tCtrl+C", ID_3D_VIEW_CAMERAS},
    {0, "View Scalebars\tCtrl+S", ID_3D_VIEW_SCALEBARS},
    {0, "View Discrepancy Vectors\tCtrl+V", ID_3D_VIEW_DISCREPANCIES},
    {0, "View Normal Vectors\tCtrl+N", ID_3D_VIEW_NORMALS},
    {0, "View Point Error Ellipsoids\tCtrl+E", ID_3D_VIEW_POINT_ELLIPSOIDS},
    {0, "View Camera Station Precision as", 0},
    {1, "Ellipsoids\tCtrl+A", ID_3D_PRECISION_ELLIPSOIDS},
    {1, "Axes", ID_3D_PRECISION_AXES},
    {0, "View Imaging Rays\tCtrl+R", ID_3D_VIEW_RAYS},
    {0, "View 3D Point Labels\tCtrl+T", ID_3D_VIEW_LABELS},
    {0, nullptr, 0},
    {0, "Increase View Scale", 0},
    {1, "Coordinate Axis\t]", ID_3D_INCREASE_AXIS},
    {1, "Point Size\t.", ID_3D_INCREASE_POINT_SIZE},
    {1, "Cameras\tCtrl+2", ID_3D_INCREASE_CAMERAS},
    {1, "Discrepancy Vectors\tPage Up", ID_3D_INCREASE_DISCREPANCY},
    {1, "Normal Vectors", ID_3D_INCREASE_NORMALS},
    {1, "Error Ellipsoids\tCtrl+4", ID_3D_INCREASE_ELLIPSOIDS},
    {0, "Decrease View Scale", 0},
    {1, "Coordinate Axis\t[", ID_3D_DECREASE_AXIS},
    {1, "Point Size\t,", ID_3D_DECREASE_POINT_SIZE},
    {1, "Cameras\tCtrl+1", ID_3D_DECREASE_CAMERAS},
    {1, "Discrepancy Vectors\tPage Down", ID_3D_DECREASE_DISCREPANCY},
    {1, "Normal Vectors", ID_3D_DECREASE_NORMALS},
    {1, "Error Ellipsoids\tCtrl+3", ID_3D_DECREASE_ELLIPSOIDS},
    {0, nullptr, 0},
    {0, "Distance\tCtrl+D", ID_3D_DISTANCE},
    {0, "Best Fit", 0},
    {1, "Line", ID_3D_BEST_FIT_LINE},
    {1, "Plane", ID_3D_BEST_FIT_PLANE},
    {1, "Circle", ID_3D_BEST_FIT_CIRCLE},
    {1, "Sphere", ID_3D_BEST_FIT_SPHERE},
    {0, "321...", ID_3D_321},
    {0, nullptr, 0},
    {0, "Delete\tDel", ID_3D_DELETE},
    {0, "Relabel\tReturn", ID_3D_RELABEL},
    {0, "Create Image\tCtrl+I", ID_3D_CREATE_IMAGE},
    {0, "Create Image by Aim Point\tCtrl+Shift+I", ID_3D_CREATE_IMAGE_AIM},
    {0, "Draw lines\tCtrl+L", ID_3D_DRAW_LINES},
};

bool IsBundleSet(const CPointSet* set)
{
    if (!set)
        return false;
    // The set's file title.
    const CDynString title = set->name.GetTitle();
    return QString::fromLatin1(title.GetText()).compare(QLatin1String("Bundle"), Qt::CaseInsensitive) == 0;
}

void SetCheck(QMenu* menu, int id, bool checked)
{
    if (QAction* action = FindMenuCommand(menu, id)) {
        action->setCheckable(true);
        action->setChecked(checked);
    }
}

} // namespace

// --- the context menu ----------------------------------------------------------

QMenu* C3DView::BuildContextMenu(QWidget* parent)
{
    SyncSelection();
    auto* menu = new QMenu(QStringLiteral("OpenGlView"), parent);
    QMenu* sub = nullptr;
    for (const MenuEntry& e : kOpenGlView) {
        QMenu* into = e.level == 1 && sub ? sub : menu;
        if (!e.text) {
            into->addSeparator();
        } else if (e.id == kMenuPopup) {
            sub = menu->addMenu(QString::fromLatin1(e.text));
        } else {
            QAction* action = into->addAction(QString::fromLatin1(e.text));
            action->setData(e.id);
            action->setObjectName(IdName(e.id));
            const int id = e.id;
            QObject::connect(action, &QAction::triggered, this, [this, id] { OnCmdMsg(id, nullptr); });
        }
    }
    const Layers& l = m_layers;
    SetCheck(menu, ID_3D_VIEW_CAMERAS, l.cameras);
    SetCheck(menu, ID_3D_VIEW_DISCREPANCIES, l.discrepancies);
    SetCheck(menu, ID_3D_VIEW_NORMALS, l.normals);
    SetCheck(menu, ID_3D_VIEW_POINT_ELLIPSOIDS, l.pointEllipsoids);
    SetCheck(menu, ID_3D_VIEW_RAYS, l.rays);
    SetCheck(menu, ID_3D_VIEW_LABELS, l.labels);
    SetCheck(menu, ID_3D_DRAW_LINES, m_bDrawLines);
    SetCheck(menu, ID_3D_PRECISION_ELLIPSOIDS, l.cameraEllipsoids);
    SetCheck(menu, ID_3D_PRECISION_AXES, l.cameraAxes);
    SetCheck(menu, ID_3D_VIEW_SCALEBARS, l.scaleBars);

    const bool bundle = IsBundleSet(m_pPointSet);
    EnableMenuCommand(menu, ID_3D_VIEW_DISCREPANCIES, m_pPointSet && m_pPointSet->isDiscrepancySet);
    EnableMenuCommand(menu, ID_3D_VIEW_NORMALS, m_pPointSet && m_pPointSet->HasNormals());
    EnableMenuCommand(menu, ID_3D_VIEW_POINT_ELLIPSOIDS, bundle);
    EnableMenuCommand(menu, ID_3D_VIEW_SCALEBARS, bundle && m_pScaleBars && m_pScaleBars->GetSize() > 0);
    const bool ellipsoids = l.pointEllipsoids || l.cameraEllipsoids || l.cameraAxes;
    for (int id : {ID_3D_INCREASE_CAMERAS, ID_3D_DECREASE_CAMERAS})
        EnableMenuCommand(menu, id, l.cameras);
    for (int id : {ID_3D_INCREASE_DISCREPANCY, ID_3D_DECREASE_DISCREPANCY})
        EnableMenuCommand(menu, id, l.discrepancies);
    for (int id : {ID_3D_INCREASE_NORMALS, ID_3D_DECREASE_NORMALS})
        EnableMenuCommand(menu, id, l.normals);
    for (int id : {ID_3D_INCREASE_ELLIPSOIDS, ID_3D_DECREASE_ELLIPSOIDS})
        EnableMenuCommand(menu, id, ellipsoids);

    const int n = m_pPointSet && !DocumentBusy() ? m_pPointSet->GetSelectedCount() : 0;
    EnableMenuCommand(menu, ID_3D_DISTANCE, n == 2);
    for (QAction* action : menu->actions())
        if (action->menu() && action->text() == QLatin1String("Best Fit"))
            action->setEnabled(n >= 2);
    EnableMenuCommand(menu, ID_3D_BEST_FIT_PLANE, n >= 3);
    EnableMenuCommand(menu, ID_3D_BEST_FIT_CIRCLE, n >= 4);
    EnableMenuCommand(menu, ID_3D_BEST_FIT_SPHERE, n >= 4);
    EnableMenuCommand(menu, ID_3D_CREATE_IMAGE_AIM, n == 1);
    EnableMenuCommand(menu, ID_3D_DELETE, n > 0);
    EnableMenuCommand(menu, ID_3D_RELABEL, n > 0);
    return menu;
}

// --- automatic scales --------------------------------------------------------------

double C3DView::GetMillimetresPerPixel(const QWidget* widget)
{
    const QScreen* screen = widget && widget->screen() ? widget->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return 0.0;
    const double pixels = screen->size().width() * screen->devicePixelRatio();
    return pixels > 0.0 ? screen->physicalSize().width() / pixels : 0.0;
}

bool C3DView::GetScreenScale(double& s)
{
    if (!m_pPointSet || m_pPointSet->GetSize() < 2 || DocumentBusy())
        return false;
    const CObjectPoint* first = m_pPointSet->GetAt(0);
    const CObjectPoint* last = m_pPointSet->GetAt(m_pPointSet->GetSize() - 1);
    const double v[3] = {last->x - first->x, last->y - first->y, last->z - first->z};
    // The modelview without its rotation: the measure does not turn with the view.
    double modelview[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    for (int k = 12; k < 16; ++k)
        modelview[k] = m_lastModelview[k];
    const double dpr = devicePixelRatioF();
    const double viewport[4] = {0, 0, m_nWidth * dpr, m_nHeight * dpr};
    double window[2][2];
    const CObjectPoint* ends[2] = {first, last};
    for (int e = 0; e < 2; ++e) {
        const double p[4] = {ends[e]->x, ends[e]->y, ends[e]->z, 1.0};
        double eye[4] = {0, 0, 0, 0}, clip[4] = {0, 0, 0, 0};
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j)
                eye[i] += modelview[j * 4 + i] * p[j];
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j)
                clip[i] += m_lastProjection[j * 4 + i] * eye[j];
        if (clip[3] == 0.0)
            return false;
        window[e][0] = viewport[0] + viewport[2] * (clip[0] / clip[3] + 1.0) / 2.0;
        window[e][1] = viewport[1] + viewport[3] * (clip[1] / clip[3] + 1.0) / 2.0;
    }
    const double millimetres =
        std::hypot(window[1][0] - window[0][0], window[1][1] - window[0][1]) * GetMillimetresPerPixel(this);
    const double length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (!(millimetres > 0.0) || !std::isfinite(length / millimetres))
        return false;
    s = length / millimetres;
    return true;
}

void C3DView::ComputeDiscrepancyScale()
{
    if (!m_pPointSet)
        return;
    double sum = 0.0, largest = 0.0;
    int count = 0;
    for (int i = 0; i < m_pPointSet->GetSize(); ++i) {
        const double* d = m_pPointSet->GetAt(i)->discrepancy;
        const double length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        if (length == 0.0)
            continue;
        sum += length;
        ++count;
        largest = std::max(largest, length);
    }
    m_dDiscrepancyMax = largest;
    double s = 0.0;
    if (!GetScreenScale(s))
        return; // nothing to measure with: the scale stays
    const double mean = count > 0 ? sum / count : 0.0;
    const double q = mean != 0.0 ? std::trunc(1.5875 * s) / mean : 0.0;
    m_nDiscrepancyScale = q > 1.0 && mean != 0.0 && q < 2147483647.0 ? int(std::trunc(q)) : 1;
}

void C3DView::ComputeErrorEllipsoidScale()
{
    if (m_bErrorDataPrepared)
        return;
    double a[3], b[3];
    m_cameraDrawer.GetMeanEllipsoidAxes(a[0], a[1], a[2]);
    m_pointDrawer.GetMeanEllipsoidAxes(b[0], b[1], b[2]);
    m_pointDrawer.GetMaxEllipsoidAxis(m_dPointEllipsoidMax);
    m_cameraDrawer.GetMaxEllipsoidAxis(m_dStationEllipsoidMax);
    const double size = 0.5 * (std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]) +
                               std::sqrt(b[0] * b[0] + b[1] * b[1] + b[2] * b[2]));
    double s = 0.0;
    // Without covariances, or without a measure, the scale stays and is
    // computed again next time.
    if (!(size > 0.0) || !GetScreenScale(s))
        return;
    const double scale = std::trunc(5.0 * s / size);
    if (!std::isfinite(scale))
        return;
    m_dEllipsoidScale = scale;
    m_bErrorDataPrepared = true;
}

void C3DView::SceneRefresh()
{
    RefreshScene();
    Redraw();
}

void C3DView::ToggleCameraPrecision(bool axes)
{
    ComputeErrorEllipsoidScale();
    bool& on = axes ? m_layers.cameraAxes : m_layers.cameraEllipsoids;
    on = !on;
    if (on) {
        (axes ? m_layers.cameraEllipsoids : m_layers.cameraAxes) = false;
        m_layers.cameras = false;
    }
    SceneRefresh();
}

// --- the commands ------------------------------------------------------------------

void C3DView::InstallCommands()
{
    OnCommand(ID_3D_VIEW_CAMERAS, [this] {
        m_layers.cameras = !m_layers.cameras;
        if (m_layers.cameras)
            m_layers.cameraEllipsoids = m_layers.cameraAxes = false;
        SceneRefresh();
    });
    OnCommand(ID_3D_VIEW_SCALEBARS, [this] {
        if (IsBundleSet(m_pPointSet))
            m_layers.scaleBars = !m_layers.scaleBars;
        Redraw();
    });
    OnCommand(ID_3D_VIEW_DISCREPANCIES, [this] {
        if (!m_pPointSet || !m_pPointSet->isDiscrepancySet)
            return;
        ComputeDiscrepancyScale();
        m_layers.discrepancies = !m_layers.discrepancies;
        Redraw();
    });
    OnCommand(ID_3D_VIEW_NORMALS, [this] {
        double s = 0.0;
        if (GetScreenScale(s))
            m_nNormalScale = std::max(1, int(std::min(std::trunc(10.0 * s), 2147483647.0)));
        m_layers.normals = !m_layers.normals;
        Redraw();
    });
    OnCommand(ID_3D_VIEW_POINT_ELLIPSOIDS, [this] {
        if (!IsBundleSet(m_pPointSet))
            return;
        ComputeErrorEllipsoidScale();
        m_layers.pointEllipsoids = !m_layers.pointEllipsoids;
        Redraw();
    });
    OnCommand(ID_3D_PRECISION_ELLIPSOIDS, [this] { ToggleCameraPrecision(false); });
    OnCommand(ID_3D_PRECISION_AXES, [this] { ToggleCameraPrecision(true); });
    OnCommand(ID_3D_VIEW_RAYS, [this] {
        m_layers.rays = !m_layers.rays;
        Redraw();
    });
    OnCommand(ID_3D_VIEW_LABELS, [this] {
        m_layers.labels = !m_layers.labels;
        if (m_layers.labels)
            ComputeClip();
        Redraw();
    });
    const auto step = [this](int id, auto change) {
        OnCommand(id, [this, change] {
            change();
            Redraw();
        });
    };
    for (int id : {ID_3D_INCREASE_AXIS, ID_3D_INCREASE_AXIS_2})
        step(id, [this] { m_dAxisSize *= 4.0 / 3.0; });
    for (int id : {ID_3D_DECREASE_AXIS, ID_3D_DECREASE_AXIS_2})
        step(id, [this] {
            m_dAxisSize -= m_dAxisSize / 3.0;
            if (m_dAxisSize < 1.0)
                m_dAxisSize = 1.0;
        });
    for (int id : {ID_3D_INCREASE_POINT_SIZE, ID_3D_INCREASE_POINT_SIZE_2})
        step(id, [this] { m_fPointSize += 1.0f; });
    for (int id : {ID_3D_DECREASE_POINT_SIZE, ID_3D_DECREASE_POINT_SIZE_2})
        step(id, [this] {
            m_fPointSize -= 1.0f;
            if (m_fPointSize <= 0.0f)
                m_fPointSize = 1.0f;
        });
    step(ID_3D_INCREASE_CAMERAS, [this] { m_dCameraSymbolSize *= 1.1; });
    step(ID_3D_DECREASE_CAMERAS, [this] { m_dCameraSymbolSize *= 0.9090909090909091; });
    step(ID_3D_INCREASE_DISCREPANCY, [this] {
        if (m_nDiscrepancyScale < (1 << 29))
            m_nDiscrepancyScale *= 2;
    });
    step(ID_3D_DECREASE_DISCREPANCY, [this] {
        m_nDiscrepancyScale /= 2;
        if (m_nDiscrepancyScale <= 1)
            m_nDiscrepancyScale = 1;
    });
    step(ID_3D_INCREASE_NORMALS, [this] {
        if (m_nNormalScale < (1 << 29))
            m_nNormalScale *= 2;
    });
    step(ID_3D_DECREASE_NORMALS, [this] {
        m_nNormalScale /= 2;
        if (m_nNormalScale <= 1)
            m_nNormalScale = 1;
    });
    step(ID_3D_INCREASE_ELLIPSOIDS, [this] { m_dEllipsoidScale *= 1.1; });
    step(ID_3D_DECREASE_ELLIPSOIDS, [this] {
        m_dEllipsoidScale *= 0.9;
        if (m_dEllipsoidScale <= 1.0)
            m_dEllipsoidScale = 1.0;
    });

    OnCommand(ID_3D_DISTANCE, [this] {
        if (!m_pPointSet || m_pPointSet->GetSelectedCount() != 2)
            return;
        const CObjectPoint* ends[2] = {nullptr, nullptr};
        for (int i = 0, k = 0; i < m_pPointSet->GetSize() && k < 2; ++i)
            if (m_pPointSet->GetAt(i)->selected)
                ends[k++] = m_pPointSet->GetAt(i);
        CDistanceDlg dialog(ends[0], ends[1], this);
        dialog.DoModal();
    });
    const auto fit = [this](int id, int minimum, auto run) {
        OnCommand(id, [this, minimum, run] {
            auto* doc = dynamic_cast<CKestrelonDoc*>(GetDocument());
            if (!doc)
                doc = GetActiveKestrelonDoc();
            if (!doc || !m_pPointSet || m_pPointSet->GetSelectedCount() < minimum)
                return;
            run(*doc, *m_pPointSet);
            Redraw();
        });
    };
    fit(ID_3D_BEST_FIT_LINE, 2, [](CKestrelonDoc& doc, CPointSet& set) {
        CBestFitLine f(set);
        doc.RunBestFitLine(f);
    });
    fit(ID_3D_BEST_FIT_PLANE, 3, [](CKestrelonDoc& doc, CPointSet& set) {
        CBestFitPlane f(set);
        doc.RunBestFitPlane(f);
    });
    fit(ID_3D_BEST_FIT_CIRCLE, 4, [](CKestrelonDoc& doc, CPointSet& set) {
        CBestFitCircle f(set);
        doc.RunBestFitCircle(f);
    });
    fit(ID_3D_BEST_FIT_SPHERE, 4, [](CKestrelonDoc& doc, CPointSet& set) {
        CBestFitSphere f(set);
        doc.RunBestFitSphere(f);
    });
    OnCommand(ID_3D_321, [this] { On321(); });
    OnCommand(ID_3D_CREATE_IMAGE, [this] { OnCreateImage(); });
    OnCommand(ID_3D_CREATE_IMAGE_AIM, [this] { OnCreateImageByAimPoint(); });
    OnCommand(ID_3D_DELETE, [this] { OnDelete(); });
    CCmdTarget::OnUpdate(ID_3D_DELETE, [this](CCmdUI* ui) {
        ui->Enable(m_pPointSet && !DocumentBusy() && m_pPointSet->GetSelectedCount() > 0);
        ui->SetCheck(0);
    });
    for (int id : {ID_3D_RELABEL, ID_3D_RELABEL_2})
        OnCommand(id, [this] { OnRelabel(); });
    CCmdTarget::OnUpdate(ID_3D_RELABEL_2, [this](CCmdUI* ui) {
        ui->Enable(m_pPointSet && !DocumentBusy() && m_pPointSet->GetSelectedCount() > 0);
    });
    OnCommand(ID_3D_DRAW_LINES, [this] { m_bDrawLines = !m_bDrawLines; });
    OnCommand(ID_3D_HIGHLIGHT, [this] {
        CHighlightPointDlg dialog(this);
        if (dialog.DoModal() != QDialog::Accepted || !m_pPointSet)
            return;
        const std::string text = ToCp1252(dialog.label.trimmed());
        CNameBuffer label;
        if (!label.Set(text.c_str()))
            return;
        if (CObjectPoint* p = m_pPointSet->FindPoint(label)) {
            ClearSelection();
            SelectPoint(p);
            Redraw();
        }
    });
}

// --- keys ------------------------------------------------------------------------

namespace {

// The keys the view takes with Ctrl held; while it has the focus they are
// its own, whatever the main window binds to them (Ctrl+N, Ctrl+S).
bool IsViewCtrlKey(int key)
{
    static const int keys[] = {Qt::Key_1,  Qt::Key_2,  Qt::Key_3,  Qt::Key_4,  Qt::Key_PageUp, Qt::Key_PageDown,
                               Qt::Key_End, Qt::Key_Home, Qt::Key_A,  Qt::Key_D,  Qt::Key_L,      Qt::Key_Comma,
                               Qt::Key_R,  Qt::Key_F3, Qt::Key_T,  Qt::Key_F5, Qt::Key_V,      Qt::Key_F7,
                               Qt::Key_C,  Qt::Key_N,  Qt::Key_E,  Qt::Key_F,  Qt::Key_S};
    return std::find(std::begin(keys), std::end(keys), key) != std::end(keys);
}

} // namespace

bool C3DView::event(QEvent* event)
{
    if (event->type() == QEvent::ShortcutOverride) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers held = key->modifiers() & ~Qt::KeypadModifier;
        if ((held == Qt::ControlModifier) && IsViewCtrlKey(key->key())) {
            event->accept();
            return true;
        }
    }
    return QOpenGLWidget::event(event);
}

void C3DView::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    const bool keypad = modifiers & Qt::KeypadModifier;
    if (modifiers & Qt::ControlModifier) {
        int id = 0;
        switch (key) {
        case Qt::Key_1: id = keypad ? ID_3D_PRECISION_ELLIPSOIDS : ID_3D_DECREASE_CAMERAS; break;
        case Qt::Key_PageUp: id = ID_3D_DECREASE_CAMERAS; break;
        case Qt::Key_2: case Qt::Key_PageDown: id = ID_3D_INCREASE_CAMERAS; break;
        case Qt::Key_3: case Qt::Key_End: id = ID_3D_DECREASE_ELLIPSOIDS; break;
        case Qt::Key_4: case Qt::Key_Home: id = ID_3D_INCREASE_ELLIPSOIDS; break;
        case Qt::Key_A: id = ID_3D_PRECISION_ELLIPSOIDS; break;
        case Qt::Key_D:
            if (m_pPointSet && m_pPointSet->GetSelectedCount() == 2)
                id = ID_3D_DISTANCE;
            break;
        case Qt::Key_L: m_bDrawLines = !m_bDrawLines; break;
        case Qt::Key_Comma:
            if (keypad) // the keypad's separator
                m_bDrawLines = !m_bDrawLines;
            break;
        case Qt::Key_R: case Qt::Key_F3: id = ID_3D_VIEW_RAYS; break;
        case Qt::Key_T: case Qt::Key_F5: id = ID_3D_VIEW_LABELS; break;
        case Qt::Key_V: case Qt::Key_F7: id = ID_3D_VIEW_DISCREPANCIES; break;
        // The menu's keys.
        case Qt::Key_C: id = ID_3D_VIEW_CAMERAS; break;
        case Qt::Key_N: id = ID_3D_VIEW_NORMALS; break;
        case Qt::Key_S: id = ID_3D_VIEW_SCALEBARS; break;
        case Qt::Key_E: id = ID_3D_VIEW_POINT_ELLIPSOIDS; break;
        case Qt::Key_F: id = ID_3D_HIGHLIGHT; break;
        case Qt::Key_I: id = modifiers & Qt::ShiftModifier ? ID_3D_CREATE_IMAGE_AIM : ID_3D_CREATE_IMAGE; break;
        default: break;
        }
        if (id)
            OnCmdMsg(id, nullptr);
        event->accept();
        return;
    }
    const int repeat = std::max(1, event->count());
    switch (key) {
    case Qt::Key_Up:
        m_dFieldOfView = std::clamp(m_dFieldOfView + repeat, 1.0, 180.0);
        Redraw();
        break;
    case Qt::Key_Down:
        m_dFieldOfView = std::clamp(m_dFieldOfView - repeat, 1.0, 180.0);
        Redraw();
        break;
    case Qt::Key_PageUp:
        if (m_layers.discrepancies)
            OnCmdMsg(ID_3D_INCREASE_DISCREPANCY, nullptr);
        break;
    case Qt::Key_PageDown:
        if (m_layers.discrepancies)
            OnCmdMsg(ID_3D_DECREASE_DISCREPANCY, nullptr);
        break;
    case Qt::Key_Delete:
        OnDelete();
        if (m_pPointSet && !DocumentBusy() && m_pPointSet->lines.CountSelected() > 0 &&
            AfxMessageBox("Delete selected lines?", MB_YESNO) == IDYES) {
            m_pPointSet->lines.RemoveSelected();
            m_bLinesValid = false;
            // Lines are saved with the set.
            if (CDocument* doc = GetDocument())
                doc->SetModifiedFlag(true);
            Redraw();
        }
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        OnRelabel();
        break;
    case Qt::Key_Plus:
        if (keypad) {
            m_dNear *= 0.9;
            m_dFar *= 1.1;
        }
        break;
    case Qt::Key_Comma: case Qt::Key_Less: OnCmdMsg(ID_3D_DECREASE_POINT_SIZE, nullptr); break;
    case Qt::Key_Period: case Qt::Key_Greater: OnCmdMsg(ID_3D_INCREASE_POINT_SIZE, nullptr); break;
    case Qt::Key_BracketLeft: case Qt::Key_BraceLeft: OnCmdMsg(ID_3D_DECREASE_AXIS, nullptr); break;
    case Qt::Key_BracketRight: case Qt::Key_BraceRight: OnCmdMsg(ID_3D_INCREASE_AXIS, nullptr); break;
    default: {
        // Letters and digits go to the toolbar's point-label box.
        CMainFrame* main = AfxGetMainFrame();
        QLineEdit* box = main && main->GetToolBar() ? main->GetToolBar()->m_PointLabel : nullptr;
        const QString text = event->text();
        if (!box)
            break;
        if (key == Qt::Key_Backspace) {
            QString now = box->text();
            now.chop(1);
            box->setText(now);
        } else if (text.size() == 1 && text[0].unicode() < 128 && text[0].isLetterOrNumber()) {
            box->setText(box->text() + text.toUpper()); // the box holds labels, upper-cased
        } else {
            break;
        }
        box->setCursorPosition(int(box->text().size()));
        break;
    }
    }
    event->accept();
}

// --- toolbar fields, relabel -----------------------------------------------------------

void C3DView::RefreshToolbarFields()
{
    CMainFrame* main = AfxGetMainFrame();
    CMainToolBar* bar = main ? main->GetToolBar() : nullptr;
    if (!bar || !bar->m_PointLabel || !bar->m_PointIncrement)
        return;
    m_bToolbarSync = false;
    m_refusedLabelText.clear();
    bar->m_PointLabel->setText(QString::fromLatin1(m_relabel.startLabel.GetText()));
    bar->m_PointIncrement->setText(QString::number(m_relabel.increment));
    m_bToolbarSync = true;
}

void C3DView::focusInEvent(QFocusEvent* event)
{
    QOpenGLWidget::focusInEvent(event);
    RefreshToolbarFields();
}

void C3DView::AdvanceLabel()
{
    long long number = (long long)m_relabel.startLabel.GetNumber() + m_relabel.increment;
    if (number < 0)
        number = 0;
    m_relabel.startLabel.SetNumber(int(std::min<long long>(number, 2147483647)));
    RefreshToolbarFields();
}

bool C3DView::IsPointLabelInUse(const CNameBuffer& label) const
{
    if (!m_pPointSet)
        return false;
    for (int i = 0; i < m_pPointSet->GetSize(); ++i)
        if (m_pPointSet->GetAt(i)->label == label)
            return true;
    if ((m_pPointSet->isDriver || m_pPointSet->isControl) && m_pImages)
        for (int i = 0; i < m_pImages->GetSize(); ++i)
            if (const CImageObservation* o = m_pImages->GetAt(i)->FindObservation(label))
                if (!o->disabled)
                    return true;
    return false;
}

void C3DView::RewriteSetFile()
{
    if (m_pPointSet)
        RewritePointSetFile(*m_pPointSet);
}

void C3DView::OnRelabel()
{
    SyncSelection();
    if (!m_pPointSet || DocumentBusy() || m_selection.GetSize() == 0)
        return;
    if (m_selection.GetSize() == 1) {
        // Never relabel under another label than the one typed.
        if (!m_refusedLabelText.isEmpty()) {
            CNameBuffer typed;
            ReadPointLabel(m_refusedLabelText, typed);
            return;
        }
        CObjectPoint* point = m_selection.GetAt(0);
        const CNameBuffer label = m_relabel.startLabel;
        if (IsPointLabelInUse(label)) {
            AfxMessageBox(("Pointlabel " + std::string(label.GetText()) + " already in use!").c_str(),
                          MB_OK | MB_ICONSTOP, "Relabelling Point");
            return;
        }
        const CNameBuffer old = point->label;
        point->label = label;
        m_pPointSet->SortByLabel();
        if ((m_pPointSet->isDriver || m_pPointSet->isControl) && m_pImages)
            for (int i = 0; i < m_pImages->GetSize(); ++i) {
                CProjectImage* image = m_pImages->GetAt(i);
                CImageObservation* o = image->FindObservation(old);
                if (o && !o->disabled) {
                    o->SetLabel(label);
                    image->targets.SortByLabel();
                }
            }
    } else {
        // The selected points at their window positions, for the line.
        CPointSet picked;
        double centred[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, -m_centre[0], -m_centre[1], -m_centre[2], 1};
        double modelview[16], m[16];
        MultiplyMatrices(m_lastModelview, centred, modelview);
        MultiplyMatrices(m_lastProjection, modelview, m);
        for (int i = 0; i < m_selection.GetSize(); ++i) {
            const CObjectPoint* p = m_selection.GetAt(i);
            const double at[3] = {p->x, p->y, p->z};
            double clip[4];
            ToClip(m, at, clip);
            const double w = clip[3] != 0.0 ? clip[3] : 1.0;
            CObjectPoint* q = picked.AddNew();
            q->label = p->label;
            q->x = m_nWidth * (clip[0] / w + 1.0) / 2.0;
            q->y = m_nHeight * (clip[1] / w + 1.0) / 2.0;
            q->z = 0.0;
            q->selected = true;
        }
        CPointRelabelExDlg dialog(&picked, m_pPointSet, &m_relabel, this);
        if (dialog.DoModal() != QDialog::Accepted)
            return;
    }
    InvalidateBuffers();
    if (CDocument* doc = GetDocument())
        doc->SetModifiedFlag(true);
    SendHubMessage(UM_REDRAW_IMAGE_VIEWS);
    RewriteSetFile();
    AdvanceLabel();
    TreeBeep();
    Redraw();
}

void C3DView::OnDelete()
{
    SyncSelection();
    if (!m_pPointSet || DocumentBusy() || m_pPointSet->GetSelectedCount() == 0 || m_selection.GetSize() == 0)
        return;
    CPointDeleteExDlg dialog(&m_selection, m_pPointSet, this);
    if (dialog.DoModal() != QDialog::Accepted)
        return;
    // The points are gone with their records.
    m_selection.RemoveAll();
    InvalidateBuffers();
    Redraw();
}

void C3DView::On321()
{
    if (!m_pPointSet || DocumentBusy())
        return;
    SyncSelection();
    C321Dialog dialog(m_pPointSet, this);
    if (m_selection.GetSize() >= 3)
        dialog.SetSelectedPoints(m_selection.GetAt(0), m_selection.GetAt(1), m_selection.GetAt(2));
    if (dialog.DoModal() == QDialog::Accepted) {
        if (CDocument* doc = GetDocument())
            doc->SetModifiedFlag(true);
        RewritePointSetFile(*m_pPointSet, true);
        InvalidateBuffers();
        RefreshScene();
    }
    m_bAlignmentShown = false;
    Redraw();
}

void C3DView::SetPreviewMatrix(const NEWMAT::Matrix& t)
{
    if (t.Nrows() != 4 || t.Ncols() != 4)
        return;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            m_alignment[i * 4 + j] = t(i + 1, j + 1);
}

void C3DView::OnScaleMarkerClick()
{
    const bool ellipsoids = m_layers.pointEllipsoids || m_layers.cameraEllipsoids || m_layers.cameraAxes;
    C3DViewScaleDlg dialog(ellipsoids ? m_dEllipsoidScale : double(m_nDiscrepancyScale), ellipsoids ? 0 : 1, this);
    if (dialog.DoModal() == QDialog::Accepted) {
        if (ellipsoids)
            m_dEllipsoidScale = dialog.m_dScale;
        else if (std::isfinite(dialog.m_dScale) && std::fabs(dialog.m_dScale) < 2147483647.0)
            m_nDiscrepancyScale = int(dialog.m_dScale);
    }
    Redraw();
}

// --- the scale dialog -------------------------------------------------------------

C3DViewScaleDlg::C3DViewScaleDlg(double value, int kind, QWidget* parent)
    : CDialog(364, parent), m_dScale(value == -1.0 ? 0.0 : value), m_nKind(kind)
{
    setWindowTitle(QStringLiteral("Error Ellipse Scale"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("New Scale")));
    auto* edit = new QLineEdit;
    edit->setObjectName(IdName(kScale));
    layout->addWidget(edit);
    layout->addWidget(NewOkCancelButtons(this));
}

bool C3DViewScaleDlg::OnInitDialog()
{
    if (m_nKind == 0)
        setWindowTitle(QStringLiteral("Set Error Ellipse Scale"));
    else if (m_nKind == 1)
        setWindowTitle(QStringLiteral("Set Discrepancy Vector Scale"));
    return CDialog::OnInitDialog();
}

void C3DViewScaleDlg::DoDataExchange(CDataExchange* dx)
{
    DDX_Text(dx, kScale, m_dScale);
}
