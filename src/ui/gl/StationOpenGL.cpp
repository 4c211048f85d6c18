#include "StationOpenGL.h"

#include "GLPick.h"
#include "GLSceneState.h"

#include "Camera.h"
#include "CmdTarget.h"
#include "Hooks.h"
#include "PointSet.h"
#include "ProjectImage.h"

#include <QAction>
#include <QMenu>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QRubberBand>
#include <QWheelEvent>

#include <GL/gl.h>
#include <GL/glu.h>

#include <cmath>

namespace {

const double kPi = 4.0 * std::atan(1.0);

CStationOpenGL::MenuRunner& Runner()
{
    static CStationOpenGL::MenuRunner runner;
    return runner;
}

} // namespace

CStationOpenGL::MenuRunner CStationOpenGL::SetMenuRunner(MenuRunner runner)
{
    MenuRunner old = std::move(Runner());
    Runner() = std::move(runner);
    return old;
}

CStationOpenGL::CStationOpenGL(QWidget* parent) : QOpenGLWidget(parent), m_pOverlay(new CInfoOverlayEdit(this))
{
    setMouseTracking(true);
    setContextMenuPolicy(Qt::PreventContextMenu);
    setFocusPolicy(Qt::ClickFocus);
}

CStationOpenGL::~CStationOpenGL()
{
    QObject::disconnect(m_contextGone);
    ReleaseLists();
}

void CStationOpenGL::ReleaseLists()
{
    if (!context())
        return;
    makeCurrent();
    m_textLists.Delete();
    m_pointDrawer.DeleteDiscList();
    m_pointDrawer.DeleteBuffers();
    doneCurrent();
}

void CStationOpenGL::SetScene(CProjectImage* station, const CCamera* camera, CPointSet* set)
{
    m_pStation = station;
    m_pCamera = camera;
    m_pPointSet = set;
    m_fFieldOfView = 45.0f;
    if (camera && camera->parameters[CAM_C] > 0.0 && camera->GetHalfSensorHeight() > 0.0)
        m_fFieldOfView = float(2.0 * std::atan(camera->GetHalfSensorHeight() / camera->parameters[CAM_C]) * 180.0 / kPi);
    m_fNear = 0.1f;
    m_fFar = 10000.0f;
    m_pointDrawer.SetPointList(set);
    m_box = CStationBox();
    m_pointDrawer.GetBoundingBox(m_box.min[0], m_box.max[0], m_box.min[1], m_box.max[1], m_box.min[2], m_box.max[2]);
    const double dx = m_box.max[0] - m_box.min[0], dy = m_box.max[1] - m_box.min[1], dz = m_box.max[2] - m_box.min[2];
    m_dSceneSize = std::sqrt(dx * dx + dy * dy + dz * dz);
    if (m_dSceneSize == 0.0)
        m_dSceneSize = 100.0;
    m_dAxisSize = m_dSceneSize / 6.0;
}

void CStationOpenGL::initializeGL()
{
    InitSceneState();
    QObject::disconnect(m_contextGone);
    m_textLists.Forget();
    m_pointDrawer.BuildDiscList();
    m_textLists.Build(font());
    m_bReady = context() && context()->isValid();
    m_contextGone = connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, [this] {
        ReleaseLists();
        m_bReady = false;
    });
}

void CStationOpenGL::resizeGL(int width, int height)
{
    if (width < 1)
        return;
    m_nWidth = width;
    m_nHeight = height;
    m_nLarger = std::max(std::max(width, height), 1);
    m_fAspect = height > 0 ? float(width) / float(height) : 1.0f;
}

void CStationOpenGL::GetProjection(double m[16]) const
{
    const double f = 1.0 / std::tan(double(m_fFieldOfView) * kPi / 360.0);
    const double n = m_fNear, fa = m_fFar;
    std::fill(m, m + 16, 0.0);
    m[0] = f / double(m_fAspect);
    m[5] = f;
    m[10] = (fa + n) / (n - fa);
    m[11] = -1.0;
    m[14] = 2.0 * fa * n / (n - fa);
}

void CStationOpenGL::paintGL()
{
    m_nWidth = width();
    m_nHeight = height();
    m_nLarger = std::max(std::max(m_nWidth, m_nHeight), 1);
    m_fAspect = m_nHeight > 0 ? float(m_nWidth) / float(m_nHeight) : 1.0f;
    const double dpr = devicePixelRatioF();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glViewport(0, 0, GLsizei(m_nWidth * dpr), GLsizei(m_nHeight * dpr));
    if (!m_pStation)
        return;
    const double S[3] = {m_pStation->X, m_pStation->Y, m_pStation->Z};
    ComputeStationClipRange(m_box, m_dAxisSize, S, m_fNear, m_fFar);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(m_fFieldOfView, m_fAspect, m_fNear, m_fFar);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glPushMatrix();
    double modelview[16];
    StationModelview(*m_pStation, modelview);
    glMultMatrixd(modelview);
    DrawScene();
    glPopMatrix();
    glFinish();
}

void CStationOpenGL::DrawScene()
{
    glInitNames();
    glPushName(0);
    glColor3d(1, 1, 1);
    m_pointDrawer.Draw(1.0f, true, 1);
    m_textLists.DrawWorldAxes(m_dAxisSize);
}

std::vector<int> CStationOpenGL::SelectionModeNames(const CPickRegion& region, const int viewport[4],
                                                   const double projection[16], const double modelview[16],
                                                   const std::function<void()>& draw, std::size_t capacity)
{
    std::vector<GLuint> buffer(capacity);
    glSelectBuffer(GLsizei(buffer.size()), buffer.data());
    glRenderMode(GL_SELECT);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    gluPickMatrix(region.x, region.y, region.width, region.height, const_cast<GLint*>(viewport));
    glMultMatrixd(projection);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadMatrixd(modelview);
    glInitNames();
    glPushName(0);
    draw();
    const GLint hits = glRenderMode(GL_RENDER);
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    // One name per record: the name stack is one deep.
    std::vector<int> names;
    for (GLint k = 0; k < hits; ++k)
        names.push_back(int(buffer[std::size_t(4 * k + 3)]));
    return names;
}

int CStationOpenGL::PickAxes(const CPickRegion& region, const double modelview[16], const double projection[16],
                             const int viewport[4])
{
    if (!m_bReady || !context())
        return 0;
    makeCurrent();
    const std::vector<int> names = SelectionModeNames(region, viewport, projection, modelview,
                                                      [this] { m_textLists.DrawWorldAxes(m_dAxisSize); }, 64);
    doneCurrent();
    return int(names.size());
}

void CStationOpenGL::ClearOverlay()
{
    m_pOverlay->HideLabel();
    // Both texts emptied through the setter: two texts no label can hold,
    // then two empty ones.
    m_pOverlay->SetText(QStringLiteral("\x01"));
    m_pOverlay->SetText(QStringLiteral("\x02"));
    m_pOverlay->SetText(QString());
    m_pOverlay->SetText(QString());
}

std::vector<int> CStationOpenGL::Pick(const QPoint& cursor, bool select)
{
    std::vector<int> indices;
    if (!m_pStation)
        return indices;
    const int viewport[4] = {0, 0, std::max(m_nWidth, width()), std::max(m_nHeight, height())};
    CPickRegion region;
    if (m_pickRect.isEmpty()) {
        region.x = cursor.x();
        region.y = viewport[3] - cursor.y();
    } else {
        const int left = m_pickRect.left(), right = m_pickRect.left() + m_pickRect.width();
        const int top = m_pickRect.top(), bottom = m_pickRect.top() + m_pickRect.height();
        region.x = (left + right) / 2;
        region.y = viewport[3] - (top + bottom) / 2;
        region.width = m_pickRect.width();
        region.height = m_pickRect.height();
        m_pickRect = QRect();
    }
    double modelview[16], projection[16];
    StationModelview(*m_pStation, modelview);
    GetProjection(projection);
    // The points and their discs on the CPU, as selection mode records them.
    std::vector<unsigned> names;
    if (m_pPointSet) {
        double pick[16], pickProjection[16], m[16];
        PickMatrix(region, viewport, pick);
        MultiplyMatrices(pick, projection, pickProjection);
        MultiplyMatrices(pickProjection, modelview, m);
        const double eye[3] = {m_pStation->X, m_pStation->Y, m_pStation->Z};
        m_pointDrawer.PickPoints(m, eye, 1.0f, true, 1, names);
    }
    const int axisHits = PickAxes(region, modelview, projection, viewport);
    const int count = m_pPointSet ? m_pPointSet->GetSize() : 0;
    for (unsigned name : names)
        if (name >= 1 && int(name) - 1 < count)
            indices.push_back(int(name) - 1);
    if (!names.empty() || axisHits > 0) {
        if (select) {
            for (int i : indices)
                m_pPointSet->GetAt(i)->selected = true;
            // The selected points' size and their discs' colour.
            m_pointDrawer.InvalidateBuffers();
        } else if (!indices.empty()) {
            m_pOverlay->SetText(FromCp1252(m_pPointSet->GetAt(indices.back())->label.GetText()));
            m_pOverlay->ShowAt(cursor);
        }
    } else {
        ClearOverlay();
    }
    update();
    return indices;
}

void CStationOpenGL::Changed()
{
    update();
    if (m_changed)
        m_changed();
}

QPoint CStationOpenGL::Centre() const
{
    return {width() / 2, height() / 2};
}

void CStationOpenGL::mousePressEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    if (event->button() == Qt::LeftButton) {
        if (!(event->modifiers() & Qt::ShiftModifier) && m_pPointSet) {
            m_pPointSet->SelectAll(false);
            m_pointDrawer.InvalidateBuffers();
            update();
        }
        m_bandOrigin = at;
        if (!m_pBand)
            m_pBand = new QRubberBand(QRubberBand::Rectangle, this);
        m_pBand->setGeometry(QRect(at, QSize()));
        m_pBand->show();
        return;
    }
    if (event->button() == Qt::RightButton) {
        m_lastPoint = m_pressPoint = at;
        if (m_pStation)
            m_pStation->GetRotation(m_startRotation);
        const QPoint c = Centre();
        const double dx = c.x() - at.x(), dy = c.y() - at.y();
        m_dStartAngle = std::sqrt(dx * dx + dy * dy) > 5.0 ? std::atan2(dy, dx) : 0.0;
        m_bMenuAllowed = false;
    }
    QOpenGLWidget::mousePressEvent(event);
}

void CStationOpenGL::mouseMoveEvent(QMouseEvent* event)
{
    m_bMenuAllowed = true;
    const QPoint at = event->position().toPoint();
    const Qt::KeyboardModifiers keys = event->modifiers();
    if (m_pBand && m_pBand->isVisible() && (event->buttons() & Qt::LeftButton)) {
        m_pBand->setGeometry(QRect(m_bandOrigin, at).normalized());
    } else if ((event->buttons() & Qt::RightButton) && m_pStation) {
        if (keys & Qt::ShiftModifier) {
            const double s = m_dSceneSize;
            const double v[3] = {(m_lastPoint.x() - at.x()) * s * 0.001, (m_lastPoint.y() - at.y()) * s * 0.001, 0.0};
            MoveStationInCameraFrame(*m_pStation, v);
            m_lastPoint = at;
        } else if (keys & Qt::ControlModifier) {
            const QPoint c = Centre();
            const double dx = c.x() - at.x(), dy = c.y() - at.y();
            const double theta = std::sqrt(dx * dx + dy * dy) > 5.0 ? std::atan2(dy, dx) - m_dStartAngle : 0.0;
            RollStation(*m_pStation, m_startRotation, theta);
        } else {
            const double a = double(m_pressPoint.x() - at.x()) / m_nLarger;
            const double b = double(m_pressPoint.y() - at.y()) / m_nLarger;
            TurnStation(*m_pStation, m_startRotation, a, b);
        }
        Changed();
    } else if (event->buttons() == Qt::NoButton && keys == Qt::NoModifier) {
        Pick(at, false);
    }
    QOpenGLWidget::mouseMoveEvent(event);
}

void CStationOpenGL::mouseReleaseEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    if (event->button() == Qt::LeftButton && m_pBand && m_pBand->isVisible()) {
        m_pBand->hide();
        // The band as a tracker gives it: from the press to the release.
        const QRect band(std::min(m_bandOrigin.x(), at.x()), std::min(m_bandOrigin.y(), at.y()),
                         std::abs(at.x() - m_bandOrigin.x()), std::abs(at.y() - m_bandOrigin.y()));
        if (!band.isEmpty())
            m_pickRect = band;
        Pick(m_bandOrigin, true);
        return;
    }
    if (event->button() == Qt::RightButton && !m_bMenuAllowed) {
        // A right click without a drag: the menu, at the release.
        QMenu* menu = BuildContextMenu(this);
        const QPoint global = mapToGlobal(at);
        if (Runner())
            Runner()(menu, global);
        else
            menu->exec(global);
        delete menu;
        return;
    }
    QOpenGLWidget::mouseReleaseEvent(event);
}

void CStationOpenGL::wheelEvent(QWheelEvent* event)
{
    OnMouseWheel(event->angleDelta().y());
    event->accept();
}

void CStationOpenGL::OnMouseWheel(int delta)
{
    if (!m_pStation)
        return;
    const double v[3] = {0.0, 0.0, -delta * m_dSceneSize * 0.00002};
    MoveStationInCameraFrame(*m_pStation, v);
    Changed();
}

bool CStationOpenGL::OnChar(int code)
{
    if (code != VK_UP_CODE && code != VK_DOWN_CODE)
        return false;
    if (!m_pStation)
        return true;
    const double v[3] = {0.0, 0.0, (code == VK_UP_CODE ? 0.02 : -0.02) * m_dSceneSize};
    MoveStationInCameraFrame(*m_pStation, v);
    Changed();
    return true;
}

QMenu* CStationOpenGL::BuildContextMenu(QWidget* parent)
{
    auto* menu = new QMenu(QStringLiteral("OpenGlStation"), parent);
    QAction* aim = menu->addAction(QStringLiteral("Make Selection to Aim Point"));
    aim->setObjectName(IdName(ID_AIM_AT_SELECTION));
    aim->setEnabled(m_pPointSet && m_pPointSet->GetSelectedCount() == 1);
    connect(aim, &QAction::triggered, this, [this] { OnAimAtSelection(); });
    return menu;
}

void CStationOpenGL::OnAimAtSelection()
{
    if (!m_pPointSet || !m_pStation)
        return;
    for (int i = 0; i < m_pPointSet->GetSize(); ++i) {
        const CObjectPoint* p = m_pPointSet->GetAt(i);
        if (!p->selected)
            continue;
        const double at[3] = {p->x, p->y, p->z};
        if (AimStationAt(*m_pStation, at))
            Changed();
        return;
    }
}
