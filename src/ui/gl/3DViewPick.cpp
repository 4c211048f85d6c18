// The 3D view's navigation (right button, wheel, keys), picking and
// selection (click, rubber band, hover texts) and draw-lines mode.
#include "3DView.h"

#include "EODevice.h"
#include "GLPick.h"
#include "KestrelonDoc.h"
#include "ListViews.h"
#include "PointSet.h"
#include "ProjectImageList.h"
#include "ScaleBar.h"

#include <QApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QRubberBand>
#include <QWheelEvent>

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unordered_set>

namespace {

const double kPi = 4.0 * std::atan(1.0);

} // namespace

// --- selection -----------------------------------------------------------------

void C3DView::SelectPoint(CObjectPoint* point)
{
    if (!point)
        return;
    // The flag mirrors membership: only a marked point can be there already.
    if (point->selected)
        m_selection.RemovePointer(point);
    m_selection.Add(point);
    point->selected = true;
    m_pointDrawer.InvalidateBuffers();
}

void C3DView::DeselectPoint(CObjectPoint* point)
{
    if (!point)
        return;
    m_selection.RemovePointer(point);
    point->selected = false;
    m_pointDrawer.InvalidateBuffers();
}

void C3DView::ClearSelection()
{
    m_selection.RemoveAll();
    if (m_pPointSet && !DocumentBusy()) {
        m_pPointSet->SelectAll(false);
        m_pPointSet->lines.SelectAll(false);
    }
    // Colours of points, discs and lines; the labels stay.
    m_pointDrawer.InvalidateBuffers();
    m_bLinesValid = false;
}

void C3DView::SyncSelection()
{
    if (!m_pPointSet || DocumentBusy())
        return;
    // The set's flags are the one selection (the station window marks
    // points too); the list keeps the picking order of the marked points
    // and takes the others in set order.
    std::unordered_set<const CObjectPoint*> marked;
    for (int i = 0; i < m_pPointSet->GetSize(); ++i)
        if (m_pPointSet->GetAt(i)->selected)
            marked.insert(m_pPointSet->GetAt(i));
    if (marked.size() == size_t(m_selection.GetSize())) {
        bool same = true;
        for (int i = 0; i < m_selection.GetSize() && same; ++i)
            same = marked.count(m_selection.GetAt(i)) > 0;
        if (same)
            return;
    }
    std::unordered_set<const CObjectPoint*> listed;
    m_selection.RemoveUnless([&](CObjectPoint* p) {
        if (!marked.count(p) || listed.count(p))
            return false;
        listed.insert(p);
        return true;
    });
    for (int i = 0; i < m_pPointSet->GetSize(); ++i) {
        CObjectPoint* p = m_pPointSet->GetAt(i);
        if (p->selected && !listed.count(p))
            m_selection.Add(p);
    }
    m_pointDrawer.InvalidateBuffers();
}

void C3DView::PruneSelection()
{
    m_cameraDrawer.ForgetMissingImages();
    if (m_selection.GetSize() == 0)
        return;
    std::unordered_set<const CObjectPoint*> shown;
    for (int i = 0; m_pPointSet && i < m_pPointSet->GetSize(); ++i)
        shown.insert(m_pPointSet->GetAt(i));
    // Points of another set of the project lose their mark; points that
    // left the project are only forgotten (their records are gone).
    std::unordered_set<const CObjectPoint*> project;
    if (auto* doc = dynamic_cast<CKestrelonDoc*>(GetDocument()))
        for (int s = 0; s < doc->pointSets.GetSize(); ++s)
            if (const CPointSet* set = doc->pointSets.GetAt(s))
                for (int i = 0; i < set->GetSize(); ++i)
                    project.insert(set->GetAt(i));
    m_selection.RemoveUnless([&](CObjectPoint* p) {
        if (shown.count(p))
            return true;
        if (project.count(p))
            p->selected = false;
        return false;
    });
}

// --- picking -------------------------------------------------------------------

std::vector<unsigned> C3DView::SelectNames(const double pick[16], DrawPart part, int buffered)
{
    std::vector<GLuint> buffer(size_t(std::max(buffered, 16)) * 4);
    glSelectBuffer(GLsizei(buffer.size()), buffer.data());
    glRenderMode(GL_SELECT);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadMatrixd(pick);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadMatrixd(m_lastModelview);
    m_drawPart = part;
    DrawScene();
    m_drawPart = DRAW_ALL;
    const GLint hits = glRenderMode(GL_RENDER);
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    std::vector<unsigned> names;
    size_t at = 0;
    for (GLint h = 0; h < hits && at + 3 <= buffer.size(); ++h) {
        const GLuint count = buffer[at];
        if (at + 3 + count > buffer.size())
            break;
        names.push_back(count > 0 ? buffer[at + 2 + count] : 0u);
        at += 3 + count;
    }
    return names;
}

std::vector<unsigned> C3DView::CollectHits(double x, double y, double width, double height, bool cpu)
{
    std::vector<unsigned> names;
    if (!context() || !isValid() || DocumentBusy())
        return names;
    makeCurrent();
    const double dpr = devicePixelRatioF();
    const int viewport[4] = {0, 0, int(m_nWidth * dpr), int(m_nHeight * dpr)};
    double pick[16], projection[16];
    MakePickMatrix(x * dpr, viewport[3] - y * dpr, width * dpr, height * dpr, viewport, pick);
    MultiplyMatrices(pick, m_lastProjection, projection);
    const int n = m_pPointSet ? m_pPointSet->GetSize() : 0;
    const int lines = m_pPointSet ? m_pPointSet->lines.GetSize() : 0;
    const int others = lines + (m_pScaleBars ? m_pScaleBars->GetSize() : 0) + (m_pImages ? m_pImages->GetSize() : 0) + 64;
    if (!cpu) {
        names = SelectNames(projection, DRAW_ALL, 3 * n + others);
        doneCurrent();
        return names;
    }
    // The points' frame: the scene is drawn about its centre.
    double centred[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, -m_centre[0], -m_centre[1], -m_centre[2], 1};
    double modelview[16], m[16];
    MultiplyMatrices(m_lastModelview, centred, modelview);
    MultiplyMatrices(projection, modelview, m);
    // The eye: -R^T t of the rigid modelview, back in scene coordinates.
    double eye[3];
    for (int j = 0; j < 3; ++j)
        eye[j] = -(m_lastModelview[j * 4 + 0] * m_lastModelview[12] + m_lastModelview[j * 4 + 1] * m_lastModelview[13] +
                   m_lastModelview[j * 4 + 2] * m_lastModelview[14]) +
                 m_centre[j];
    m_pointDrawer.PickPoints(m, eye, m_fPointSize, true, 1, names);
    // The labels' raster positions, all under name 0.
    if (n > 0 && m_layers.labels && m_fontLists.GetBase() != 0 && m_pointDrawer.AnyInside(m, 0.02 * m_dAxisSize))
        names.push_back(0);
    const std::vector<unsigned> first = SelectNames(projection, DRAW_BEFORE_VECTORS, others);
    names.insert(names.end(), first.begin(), first.end());
    const int vectors = int(GetPickNames().vectorBase);
    if (m_layers.discrepancies)
        m_pointDrawer.PickVectors(m, vectors, m_nDiscrepancyScale, false, names);
    if (m_layers.normals)
        m_pointDrawer.PickVectors(m, vectors, m_nNormalScale, true, names);
    if (m_layers.pointEllipsoids || m_layers.cameraEllipsoids || m_layers.cameraAxes) {
        const std::vector<unsigned> last = SelectNames(projection, DRAW_AFTER_VECTORS, others);
        names.insert(names.end(), last.begin(), last.end());
    }
    doneCurrent();
    return names;
}

void C3DView::ShowText(const QString& text, const QPoint& at)
{
    m_pOverlay->SetText(text);
    m_pOverlay->ShowAt(at);
}

void C3DView::HideText()
{
    m_pOverlay->HideLabel();
    m_pOverlay->SetText(QString());
    m_pOverlay->SetText(QString());
}

void C3DView::Pick(int x, int y, bool remove)
{
    if (m_rubberBand.isEmpty() && !m_scaleMarker.isEmpty() && m_scaleMarker.contains(x, y)) {
        if (!m_bOverScaleMarker) {
            m_bOverScaleMarker = true;
            Redraw();
        }
        ShowText(QStringLiteral("Click to Change Scale"),
                 QPoint(x, y + 2 * (m_scaleMarker.top() - (m_scaleMarker.bottom() + 1))));
        return;
    }
    // The marker's text turns grey again.
    const bool leftMarker = m_bOverScaleMarker;
    m_bOverScaleMarker = false;
    const bool area = !m_rubberBand.isEmpty();
    std::vector<unsigned> names;
    if (area) {
        // The band's right and bottom edges are exclusive, as the tracker gives them.
        const int left = m_rubberBand.left(), right = m_rubberBand.left() + m_rubberBand.width();
        const int top = m_rubberBand.top(), bottom = m_rubberBand.top() + m_rubberBand.height();
        names = CollectHits((left + right) / 2, (top + bottom) / 2, right - left, bottom - top, true);
        m_rubberBand = QRect();
    } else {
        names = CollectHits(x, y, 4, 4, true);
    }
    if (names.empty())
        HideText();
    else if (area)
        SelectArea(names, remove);
    else if (names.size() == 1)
        DecodeHit(names[0], remove);
    else
        DecodeHits(names, remove);
    // A hover changes no selection: only the info label, a widget of its own.
    if (m_bLeftClick || area || leftMarker)
        Redraw();
}

void C3DView::DecodeHits(const std::vector<unsigned>& names, bool remove)
{
    if (names.empty())
        return;
    unsigned name = names.front();
    for (auto it = names.rbegin(); it != names.rend(); ++it)
        if (*it != 0) {
            name = *it;
            break;
        }
    DecodeHit(name, remove);
}

void C3DView::DecodeHit(unsigned name, bool remove)
{
    const QPoint at = m_mouse;
    int i = -1;
    switch (GetPickNames().Decode(name, i)) {
    case CPickNames::LINE: {
        CPointLine* line = m_pPointSet->lines.GetAt(i);
        if (m_bLeftClick) {
            line->SetSelected(!remove);
            m_bLinesValid = false;
        }
        const CObjectPoint* a = FindLabel(line->from.GetText());
        const CObjectPoint* b = FindLabel(line->to.GetText());
        if (a && b) {
            CDynString unit;
            if (const CProjectDocument* doc = GetActiveProjectDoc())
                unit = doc->GetUnitName(false);
            const double dx = b->x - a->x, dy = b->y - a->y;
            ShowText(FormatCell("%s to %s is %.4lf %s", line->from.GetText(), line->to.GetText(),
                            std::sqrt(dx * dx + dy * dy), unit.GetText()),
                     at);
        }
        break;
    }
    case CPickNames::DEVICE:
        if (m_pDevice)
            ShowText(FormatCell("%s EO Device", m_pDevice->name.GetTitle().GetText()), at);
        break;
    case CPickNames::VECTOR: {
        const CObjectPoint* p = m_pPointSet->GetAt(i);
        double sum = 0.0;
        if (p->covariance.GetRows() >= 3)
            for (int k = 0; k < 3; ++k)
                sum += std::fabs(p->covariance.GetAt(k, k));
        ShowText(FormatCell("%s: %6.2e", p->label.GetText(), std::sqrt(sum)), at);
        break;
    }
    case CPickNames::SCALE_BAR: {
        const CScaleBar* bar = m_pScaleBars->GetAt(i);
        ShowText(FormatCell("%s: %s to %s", bar->name.GetText(), bar->endLabel1.GetText(), bar->endLabel2.GetText()), at);
        break;
    }
    case CPickNames::STATION: {
        const CProjectImage* image = m_pImages->GetAt(i);
        ShowText(FormatCell("Station %d: %6.2f, %6.2f, %6.2f", i + 1, image->X, image->Y, image->Z), at);
        if (m_bLeftClick) {
            if (remove)
                m_cameraDrawer.Deselect(i);
            else
                m_cameraDrawer.Select(i);
        }
        break;
    }
    case CPickNames::POINT: {
        CObjectPoint* p = m_pPointSet->GetAt(i);
        if (m_bLeftClick) {
            if (remove)
                DeselectPoint(p);
            else
                SelectPoint(p);
        }
        if (!m_pOverlay->IsShown())
            ShowText(FormatCell("%s: %6.2f, %6.2f, %6.2f", p->label.GetText(), p->x, p->y, p->z), at);
        break;
    }
    case CPickNames::NONE:
        break;
    }
}

void C3DView::SelectArea(const std::vector<unsigned>& names, bool remove)
{
    const CPickNames kinds = GetPickNames();
    const int n = int(kinds.points);
    // Points in the order of their last hit, as one select after another leaves them.
    std::vector<uint8_t> marked(size_t(n), 0);
    std::vector<CObjectPoint*> hit;
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
        int i = -1;
        if (kinds.Decode(*it, i) == CPickNames::POINT && !marked[size_t(i)]) {
            marked[size_t(i)] = 1;
            hit.push_back(m_pPointSet->GetAt(i));
        }
    }
    std::reverse(hit.begin(), hit.end());
    // Selected points that were hit again leave their place (only marked
    // points can be in the selection).
    if (m_selection.GetSize() > 0) {
        std::unordered_set<const CObjectPoint*> again;
        for (const CObjectPoint* p : hit)
            if (p->selected)
                again.insert(p);
        if (!again.empty())
            m_selection.RemoveUnless([&](CObjectPoint* p) { return !again.count(p); });
    }
    for (CObjectPoint* p : hit) {
        if (!remove)
            m_selection.Add(p);
        p->selected = !remove;
    }
    for (unsigned name : names) {
        int i = -1;
        if (kinds.Decode(name, i) == CPickNames::STATION) {
            if (remove)
                m_cameraDrawer.Deselect(i);
            else
                m_cameraDrawer.Select(i);
        }
    }
    m_pointDrawer.InvalidateBuffers();
}

void C3DView::AddLinesFromSelection()
{
    SyncSelection();
    if (!m_bDrawLines || !m_pPointSet || m_selection.GetSize() < 2 || m_pPointSet->GetSelectedCount() < 2)
        return;
    for (int i = 0; i + 1 < m_selection.GetSize(); ++i) {
        CPointLine* line = m_pPointSet->lines.AddNew();
        line->from = m_selection.GetAt(i)->label.GetText();
        line->to = m_selection.GetAt(i + 1)->label.GetText();
    }
    CObjectPoint* last = m_selection.GetAt(m_selection.GetSize() - 1);
    for (int i = 0; i + 1 < m_selection.GetSize(); ++i)
        m_selection.GetAt(i)->selected = false;
    m_selection.RemoveAll();
    m_selection.Add(last);
    m_pointDrawer.InvalidateBuffers();
    m_bLinesValid = false;
    // Lines are saved with the set.
    if (CDocument* doc = GetDocument())
        doc->SetModifiedFlag(true);
}

// --- mouse ---------------------------------------------------------------------

void C3DView::OnLeftButtonUp(const QPoint& at, Qt::KeyboardModifiers modifiers)
{
    const bool shift = modifiers & Qt::ShiftModifier;
    const bool ctrl = modifiers & Qt::ControlModifier;
    QRect band;
    if (m_pBand && m_pBand->isVisible()) {
        band = m_pBand->geometry().normalized();
        m_pBand->hide();
    }
    if (!band.isEmpty()) {
        m_rubberBand = band;
        if (!shift && !ctrl) {
            if (m_selection.GetSize() > 0 && !m_bDrawLines)
                ClearSelection();
            m_cameraDrawer.ClearSelection();
        }
        Pick(band.center().x(), band.center().y(), ctrl);
    } else if (!shift && !ctrl) {
        ClearSelection();
        m_cameraDrawer.ClearSelection();
        m_rubberBand = QRect();
        if (!m_bOverScaleMarker) {
            Pick(at.x(), at.y(), false);
            Redraw();
        } else {
            OnScaleMarkerClick();
        }
    } else {
        Pick(at.x(), at.y(), ctrl);
    }
    AddLinesFromSelection();
}

void C3DView::mousePressEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    m_mouse = at;
    if (event->button() == Qt::LeftButton) {
        m_bLeftDown = true;
        m_bLeftClick = true;
        m_bandOrigin = at;
    } else if (event->button() == Qt::RightButton) {
        m_lastMouse = at;
        m_bRightDown = true;
    }
    event->accept();
}

void C3DView::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    m_mouse = at;
    if (m_bRightDown) {
        m_bRightMoved = true;
        StartMotion();
        const Qt::KeyboardModifiers modifiers = event->modifiers();
        if (modifiers & Qt::ShiftModifier) {
            m_fPanX += 10.0f * float(at.x() - m_lastMouse.x());
            m_fPanY += 10.0f * float(m_lastMouse.y() - at.y());
        } else if (modifiers & Qt::ControlModifier) {
            const double cx = width() / 2, cy = height() / 2;
            const double lx = cx - m_lastMouse.x(), ly = cy - m_lastMouse.y();
            const double previous = std::hypot(lx, ly) > 5.0 ? std::atan2(ly, lx) : 0.0;
            const double nx = cx - at.x(), ny = cy - at.y();
            if (std::hypot(nx, ny) > 5.0)
                m_angles[2] -= (std::atan2(ny, nx) - previous) * 180.0 / kPi;
            m_bFold = true;
        } else {
            m_angles[0] -= 0.5 * (m_lastMouse.y() - at.y());
            m_angles[1] -= 0.5 * (m_lastMouse.x() - at.x());
            m_bFold = true;
        }
        m_lastMouse = at;
        Redraw();
    } else if (m_bLeftDown) {
        if ((at - m_bandOrigin).manhattanLength() >= QApplication::startDragDistance()) {
            if (!m_pBand)
                m_pBand = new QRubberBand(QRubberBand::Rectangle, this);
            m_pBand->setGeometry(QRect(m_bandOrigin, at).normalized());
            m_pBand->show();
        }
    } else if (!m_bLeftClick) {
        Pick(at.x(), at.y(), false);
    }
    event->accept();
}

void C3DView::mouseReleaseEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    m_mouse = at;
    if (event->button() == Qt::LeftButton && m_bLeftDown) {
        m_bLeftDown = false;
        OnLeftButtonUp(at, event->modifiers());
        m_bLeftClick = false;
    } else if (event->button() == Qt::RightButton && m_bRightDown) {
        m_bRightDown = false;
        EndMotion();
        // The menu opens at the release, never after a drag.
        if (m_bRightMoved) {
            m_bRightMoved = false;
        } else {
            QMenu* menu = BuildContextMenu(this);
            menu->exec(mapToGlobal(at));
            delete menu;
        }
    }
    event->accept();
}

void C3DView::contextMenuEvent(QContextMenuEvent* event)
{
    // The mouse's menu opens at the button's release; the keyboard's here.
    if (event->reason() == QContextMenuEvent::Keyboard) {
        QMenu* menu = BuildContextMenu(this);
        menu->exec(event->globalPos());
        delete menu;
    }
    event->accept();
}

void C3DView::wheelEvent(QWheelEvent* event)
{
    const int delta = event->angleDelta().y();
    m_dFieldOfView = std::clamp(m_dFieldOfView + delta / 120, 1.0, 180.0);
    StartMotion();
    m_wheelTimer.start();
    Redraw();
    event->accept();
}

void C3DView::StartMotion()
{
    SetMoving(true);
}

void C3DView::EndMotion()
{
    if (!m_bRightDown && !m_wheelTimer.isActive())
        SetMoving(false);
}
