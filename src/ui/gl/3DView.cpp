#include "3DView.h"

#include "EODevice.h"
#include "ImageObservation.h"
#include "Frames.h"
#include "GLPick.h"
#include "GLSceneState.h"
#include "KestrelonDoc.h"
#include "KestrelonView.h"
#include "MainFrame.h"
#include "PointDialogs.h"
#include "PointSet.h"
#include "ProjectImageList.h"
#include "ScaleBar.h"

#include <newmat/newmat.h>

#include <QElapsedTimer>
#include <QPaintEvent>
#include <QFontMetrics>
#include <QLineEdit>
#include <QOpenGLContext>

#include "Hub.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

const double kPi = 4.0 * std::atan(1.0);

} // namespace

CSceneBox ComputeSceneBox(const CPointSymbolDrawer& points, const CProjectImageList* images, bool withCameras)
{
    CSceneBox box;
    bool any = points.GetBoundingBox(box.min[0], box.max[0], box.min[1], box.max[1], box.min[2], box.max[2]);
    if (withCameras && images) {
        for (int i = 0; i < images->GetSize(); ++i) {
            const CProjectImage* image = images->GetAt(i);
            const double p[3] = {image->X, image->Y, image->Z};
            for (int k = 0; k < 3; ++k) {
                if (!any || p[k] < box.min[k])
                    box.min[k] = p[k];
                if (!any || p[k] > box.max[k])
                    box.max[k] = p[k];
            }
            any = true;
        }
    }
    return box;
}

double ComputeEyeDistance(const CSceneBox& box, double& radius)
{
    const double dx = box.max[0] - box.min[0], dy = box.max[1] - box.min[1], dz = box.max[2] - box.min[2];
    radius = 0.75 * std::sqrt(dx * dx + dy * dy + dz * dz);
    return radius / std::tan(kPi / 8.0);
}

void ComputeClipPlanes(const CClipInput& in, double& nearPlane, double& farPlane)
{
    const double m = in.margin;
    double points[12][3];
    int n = 0;
    for (int corner = 0; corner < 8; ++corner, ++n)
        for (int k = 0; k < 3; ++k)
            points[n][k] = ((corner >> k) & 1 ? in.box.max[k] + m : in.box.min[k] - m) - in.centre[k];
    for (int tip = -1; tip < 3; ++tip, ++n)
        for (int k = 0; k < 3; ++k)
            points[n][k] = (k == tip ? 1.2 * in.axisSize : 0.0) - in.centre[k];
    // Eye = R^T (-pan x, -pan y, eye distance), R the stored rotation.
    const double v[3] = {-in.panX, -in.panY, in.eyeDistance};
    double eye[3];
    for (int j = 0; j < 3; ++j)
        eye[j] = in.modelview[j * 4 + 0] * v[0] + in.modelview[j * 4 + 1] * v[1] + in.modelview[j * 4 + 2] * v[2];
    double g[3] = {0, 0, 0};
    for (const auto& p : points)
        for (int k = 0; k < 3; ++k)
            g[k] += p[k] / 12.0;
    const float D = float(std::sqrt((g[0] - eye[0]) * (g[0] - eye[0]) + (g[1] - eye[1]) * (g[1] - eye[1]) +
                                    (g[2] - eye[2]) * (g[2] - eye[2])));
    float r = 0.0f;
    for (const auto& p : points)
        r = std::max(r, float(std::sqrt((p[0] - g[0]) * (p[0] - g[0]) + (p[1] - g[1]) * (p[1] - g[1]) +
                                        (p[2] - g[2]) * (p[2] - g[2]))));
    nearPlane = double(D) - double(r);
    farPlane = double(D) + double(r);
    if (nearPlane <= 0.0)
        nearPlane = 0.1;
    nearPlane *= 0.8;
    farPlane *= 1.2;
}

CPickNames CPickNames::For(unsigned points, unsigned images, unsigned bars, unsigned lines)
{
    CPickNames n;
    n.points = points, n.images = images, n.bars = bars, n.lines = lines;
    // 64-bit sums: huge counts cannot wrap round.
    const auto after = [](unsigned usual, unsigned long long end) {
        return unsigned(std::max<unsigned long long>(usual, end));
    };
    n.stationBase = after(1000000, 1ull + points);
    n.barBase = after(2000000, 1ull * n.stationBase + images);
    n.vectorBase = after(2000100, 1ull * n.barBase + bars);
    n.device = after(2001000, 1ull * n.vectorBase + points);
    n.lineBase = after(3000000, 1ull * n.device + 1);
    return n;
}

CPickNames::Kind CPickNames::Decode(unsigned name, int& index) const
{
    const auto in = [&](unsigned base, unsigned count) {
        if (name < base || name - base >= count)
            return false;
        index = int(name - base);
        return true;
    };
    index = -1;
    if (in(lineBase, lines))
        return LINE;
    if (name == device) {
        index = 0;
        return DEVICE;
    }
    if (in(vectorBase, points))
        return VECTOR;
    if (in(barBase, bars))
        return SCALE_BAR;
    if (in(stationBase, images))
        return STATION;
    if (in(1, points))
        return POINT;
    return NONE;
}

CPickNames C3DView::GetPickNames() const
{
    const bool busy = DocumentBusy();
    const CPointSet* set = busy ? nullptr : m_pPointSet;
    return CPickNames::For(set ? unsigned(set->GetSize()) : 0u, m_pImages && !busy ? unsigned(m_pImages->GetSize()) : 0u,
                           m_pScaleBars && !busy ? unsigned(m_pScaleBars->GetSize()) : 0u,
                           set ? unsigned(set->lines.GetSize()) : 0u);
}

C3DView::C3DView(QWidget* parent) : QOpenGLWidget(parent), m_pOverlay(new CInfoOverlayEdit(this))
{
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    m_relabel.startLabel = "1";
    m_relabel.increment = 1;
    m_wheelTimer.setSingleShot(true);
    m_wheelTimer.setInterval(250);
    QObject::connect(&m_wheelTimer, &QTimer::timeout, this, [this] { EndMotion(); });
    ResetViewState();
    InstallCommands();
}

C3DView::~C3DView()
{
    QObject::disconnect(m_contextGone);
    if (m_pPointSet && !DocumentBusy()) {
        for (int i = 0; i < m_pPointSet->GetSize(); ++i)
            m_pPointSet->GetAt(i)->selected = false;
        for (int i = 0; i < m_pPointSet->lines.GetSize(); ++i)
            m_pPointSet->lines.GetAt(i)->SetSelected(false);
    }
    ReleaseLists();
    if (GetActive3DView() == this || GetActive3DView() == nullptr)
        SetApplyUnitsHandler(nullptr);
}

void C3DView::ReleaseLists()
{
    if (!context())
        return;
    makeCurrent();
    m_textLists.Delete();
    m_fontLists.Release();
    m_labelDrawer.Release();
    m_pointDrawer.DeleteDiscList();
    m_pointDrawer.DeleteBuffers();
    m_lineBuffer.Delete();
    m_selectedLineBuffer.Delete();
    m_bLinesValid = false;
    m_cameraDrawer.DeleteLists();
    doneCurrent();
}

void C3DView::ResetViewState()
{
    m_dFieldOfView = 45.0;
    m_dNear = 1.0;
    m_dFar = 100000.0;
    m_fPointSize = 1.0f;
    m_nDiscrepancyScale = 1;
    m_dAxisSize = 1.0;
    m_dEyeDistance = 10000.0;
    m_dCameraSymbolSize = 1.0;
    std::fill(std::begin(m_angles), std::end(m_angles), 0.0);
    m_bFold = false;
    const double axes[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    std::copy(&axes[0][0], &axes[0][0] + 9, &m_axes[0][0]);
    for (int i = 0; i < 16; ++i)
        m_storedMatrix[i] = i % 5 == 0 ? 1.0 : 0.0;
    m_fPanX = m_fPanY = 0.0f;
    m_box = m_boxCopy = CSceneBox();
    std::fill(std::begin(m_centre), std::end(m_centre), 0.0);
    std::fill(std::begin(m_centreCopy), std::end(m_centreCopy), 0.0);
    m_layers = Layers();
    m_dEllipsoidScale = 500.0;
    m_dPointEllipsoidMax = m_dStationEllipsoidMax = m_dDiscrepancyMax = 0.0;
    m_bErrorDataPrepared = false;
    m_nNormalScale = 1;
    m_rubberBand = QRect();
    m_scaleMarker = QRect();
    m_bOverScaleMarker = false;
    m_bDrawLines = false;
}

void C3DView::SetScene(CPointSet* set, const CProjectImageList* images, const CScaleBarList* bars,
                       const CEODevice* device)
{
    m_bFixedScene = true;
    m_pFixedSet = set;
    m_pFixedImages = images;
    m_pFixedBars = bars;
    m_pFixedDevice = device;
}

bool C3DView::DocumentBusy() const
{
    auto* doc = dynamic_cast<CKestrelonDoc*>(GetDocument());
    return doc && doc->IsJobRunning();
}

void C3DView::ReadDocument()
{
    m_pPointSet = nullptr;
    m_pImages = nullptr;
    m_pScaleBars = nullptr;
    m_pDevice = nullptr;
    m_nUnit = 0;
    if (m_bFixedScene) {
        m_pPointSet = m_pFixedSet;
        m_pImages = m_pFixedImages;
        m_pScaleBars = m_pFixedBars;
        m_pDevice = m_pFixedDevice;
        if (const CProjectDocument* active = GetActiveProjectDoc())
            m_nUnit = active->unitIndex;
    } else if (auto* doc = dynamic_cast<CKestrelonDoc*>(GetDocument())) {
        if (auto* frame = dynamic_cast<CProjectFrame*>(GetParentFrame()))
            if (CKestrelonView* tree = frame->GetTreeView())
                m_pPointSet = tree->GetSelectedPointSet();
        m_pImages = &doc->images;
        m_pScaleBars = &doc->scaleBars;
        if (doc->eoDevice.GetSize() > 0)
            m_pDevice = &doc->eoDevice;
        m_nUnit = doc->unitIndex;
    }
    m_pointDrawer.SetPointList(m_pPointSet);
    m_cameraDrawer.SetImageList(m_pImages);
    PruneSelection();
    InvalidateBuffers();
}

void C3DView::SetDirectDrawing(bool direct)
{
    m_bDirectDrawing = direct;
    m_pointDrawer.SetDirectDiscs(direct);
    Redraw();
}

void C3DView::InvalidateBuffers()
{
    m_pointDrawer.InvalidateBuffers();
    m_labelDrawer.Invalidate();
    m_bLinesValid = false;
}

const CObjectPoint* C3DView::FindLabel(const char* text) const
{
    if (!m_pPointSet)
        return nullptr;
    CNameBuffer key;
    key.Set(text);
    int index = -1;
    // The set is sorted when the lines are resolved; no sort per lookup.
    return m_pPointSet->BinarySearch(key, index) ? m_pPointSet->GetAt(index) : nullptr;
}

void C3DView::ResolveLines()
{
    m_lines.clear();
    if (m_pPointSet) {
        m_pPointSet->SortByLabel();
        for (int i = 0; i < m_pPointSet->lines.GetSize(); ++i) {
            const CPointLine* line = m_pPointSet->lines.GetAt(i);
            const CObjectPoint* a = FindLabel(line->from.GetText());
            const CObjectPoint* b = FindLabel(line->to.GetText());
            if (a && b)
                m_lines.push_back({i, a, b});
        }
    }
    if (context() && QOpenGLContext::currentContext() == context()) {
        std::vector<double> plain, selected;
        for (const ResolvedLine& l : m_lines) {
            std::vector<double>& into = m_pPointSet->lines.GetAt(l.index)->IsSelected() ? selected : plain;
            into.insert(into.end(), {l.a->x, l.a->y, l.a->z, l.b->x, l.b->y, l.b->z});
        }
        m_lineBuffer.Fill(plain, m_centre);
        m_selectedLineBuffer.Fill(selected, m_centre);
        m_bLinesValid = true;
    }
}

void C3DView::RefreshScene()
{
    m_box = m_boxCopy = ComputeSceneBox(m_pointDrawer, m_pImages, m_layers.cameras || m_layers.cameraEllipsoids ||
                                                                      m_layers.cameraAxes);
    const double dx = m_box.max[0] - m_box.min[0], dy = m_box.max[1] - m_box.min[1], dz = m_box.max[2] - m_box.min[2];
    m_dAxisSize = std::sqrt(dx * dx + dy * dy + dz * dz) / 6.0;
    m_dCameraSymbolSize =
        m_dAxisSize / (2.5 * m_cameraDrawer.GetSizes().Get(CCameraSymbolSizes::BODY_WIDTH));
    for (int k = 0; k < 3; ++k)
        m_centre[k] = m_centreCopy[k] = m_box.min[k] + 0.5 * (m_box.max[k] - m_box.min[k]);
    m_dEyeDistance = ComputeEyeDistance(m_boxCopy, m_dSceneRadius);
    ComputeClip();
}

void C3DView::OnInitialUpdate()
{
    SetApplyUnitsHandler([](int unit) {
        if (C3DView* view = GetActive3DView())
            view->ApplyUnits(unit);
    });
    // The 3-2-1 dialog previews its frame in the document's 3D view.
    Set321PreviewFinder([](CKestrelonDoc* doc) -> C321Preview* {
        for (CView* view : doc ? doc->GetViews() : std::vector<CView*>())
            if (auto* found = dynamic_cast<C3DView*>(view))
                return found;
        return nullptr;
    });
    // The toolbar's label fields set the relabel's label and increment.
    if (CMainFrame* main = AfxGetMainFrame())
        if (CMainToolBar* bar = main->GetToolBar()) {
            if (bar->m_PointLabel)
                connect(bar->m_PointLabel, &QLineEdit::textChanged, this, [this](const QString& text) {
                    // The fields belong to the active 3D view.
                    const C3DView* active = GetActive3DView();
                    if (!m_bToolbarSync || (active && active != this))
                        return;
                    // A text that is not a label is kept for the relabel to refuse.
                    CNameBuffer label;
                    m_refusedLabelText.clear();
                    if (ParsePointLabel(text, label))
                        m_relabel.startLabel = label;
                    else
                        m_refusedLabelText = text;
                });
            if (bar->m_PointIncrement)
                connect(bar->m_PointIncrement, &QLineEdit::textChanged, this, [this](const QString& text) {
                    const C3DView* active = GetActive3DView();
                    if (m_bToolbarSync && (!active || active == this))
                        m_relabel.increment = std::atoi(text.toLatin1().constData());
                });
        }
    m_relabel.startLabel = "1";
    m_relabel.increment = 1;
    RefreshToolbarFields();
    OnUpdate(nullptr, 0);
}

void C3DView::OnUpdate(CView* sender, long hint)
{
    (void)sender;
    (void)hint;
    ResetViewState();
    if (DocumentBusy()) {
        // Read by the first paint after the job has ended.
        m_bPendingRead = true;
        Redraw();
        return;
    }
    m_bPendingRead = false;
    ReadDocument();
    if (context() && m_pointDrawer.GetDiscList() != 0) {
        makeCurrent();
        m_cameraDrawer.SetUnits(m_nUnit);
        m_pointDrawer.DeleteDiscList();
        m_pointDrawer.BuildDiscList();
        doneCurrent();
    }
    RefreshScene();
    Redraw();
}

C3DView* C3DView::GetActive3DView()
{
    CMainFrame* main = AfxGetMainFrame();
    CMDIChildWnd* child = main ? main->MDIGetActive() : nullptr;
    if (auto* frame = dynamic_cast<CProjectFrame*>(child))
        return dynamic_cast<C3DView*>(frame->GetRightPane());
    return child ? dynamic_cast<C3DView*>(child->GetActiveView()) : nullptr;
}

void C3DView::ApplyUnits(int unit)
{
    m_nUnit = unit;
    if (!context())
        return;
    makeCurrent();
    m_cameraDrawer.SetUnits(unit);
    m_pointDrawer.DeleteDiscList();
    m_pointDrawer.BuildDiscList();
    doneCurrent();
    Redraw();
}

void C3DView::initializeGL()
{
    m_bSceneDirty = true;
    InitSceneState();
    // A new context (the widget moved to another window) gets lists of its own.
    QObject::disconnect(m_contextGone);
    m_textLists.Forget();
    m_fontLists.Forget();
    m_textLists.Build(font());
    const QFont courier = GetLabelFont();
    m_fontLists.Build(courier);
    m_labelDrawer.Forget();
    m_labelDrawer.Build(courier);
    m_cameraDrawer.SetUnits(m_nUnit);
    m_pointDrawer.BuildDiscList();
    m_contextGone = connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, [this] { ReleaseLists(); });
}

QFont C3DView::GetLabelFont()
{
    QFont courier(QStringLiteral("Courier"));
    courier.setStyleHint(QFont::TypeWriter);
    courier.setPixelSize(10);
    return courier;
}

void C3DView::paintEvent(QPaintEvent* event)
{
    const double dpr = devicePixelRatioF();
    const QSize size(int(width() * dpr), int(height() * dpr));
    const bool kept = m_nScenePaints > 0 && m_nFrameBuffer == defaultFramebufferObject() && m_frameSize == size;
    if (!m_bSceneDirty && kept && event->rect() != rect())
        return;
    QOpenGLWidget::paintEvent(event);
}

void C3DView::resizeGL(int width, int height)
{
    m_bSceneDirty = true;
    if (width < 1)
        return;
    m_nWidth = width;
    m_nHeight = height;
    m_fAspect = height > 0 ? float(width) / float(height) : 1.0f;
}

void C3DView::ComputeClip()
{
    CClipInput in;
    in.box = m_boxCopy;
    std::copy(m_centre, m_centre + 3, in.centre);
    double m = 0.0;
    if (m_layers.normals)
        m = std::max(m, double(m_nNormalScale));
    if (m_layers.pointEllipsoids)
        m = std::max(m, m_dPointEllipsoidMax * m_dEllipsoidScale);
    if (m_layers.cameraEllipsoids || m_layers.cameraAxes)
        m = std::max(m, m_dStationEllipsoidMax * m_dEllipsoidScale);
    if (m_layers.discrepancies)
        m = std::max(m, m_nDiscrepancyScale * m_dDiscrepancyMax);
    if (m_layers.labels)
        m = std::max(m, 0.02 * m_dAxisSize);
    in.margin = m;
    in.axisSize = m_dAxisSize;
    std::copy(m_storedMatrix, m_storedMatrix + 16, in.modelview);
    in.panX = m_fPanX;
    in.panY = m_fPanY;
    in.eyeDistance = m_dEyeDistance;
    ComputeClipPlanes(in, m_dNear, m_dFar);
}

void C3DView::ApplyEyeTransform()
{
    // In double precision: the stored matrix is never read back from
    // OpenGL's single-precision stack.
    double m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, m_fPanX, m_fPanY, -m_dEyeDistance, 1};
    double t[16];
    MultiplyMatrices(m, m_storedMatrix, t);
    std::copy(t, t + 16, m);
    for (int k = 0; k < 3; ++k) {
        if (m_angles[k] != 0.0) {
            double r[16];
            RotationMatrix(m_angles[k], m_axes[k][0], m_axes[k][1], m_axes[k][2], r);
            MultiplyMatrices(m, r, t);
            std::copy(t, t + 16, m);
        }
        m_angles[k] = 0.0;
    }
    glLoadMatrixd(m);
    if (m_bFold) {
        m_fPanX = m_fPanY = 0.0f;
        std::copy(m, m + 16, m_storedMatrix);
        m_storedMatrix[14] = 0.0;
        OrthonormaliseRotation(m_storedMatrix);
        for (int k = 0; k < 3; ++k)
            for (int j = 0; j < 3; ++j)
                m_axes[k][j] = m_storedMatrix[k + 4 * j];
        m_bFold = false;
    }
}

void OrthonormaliseRotation(double m[16])
{
    // Rows of the upper 3 x 3 block: Gram-Schmidt from the first, the third
    // their cross product, so the block stays a proper rotation.
    double r[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            r[i][j] = m[i + 4 * j];
    const auto normalise = [](double v[3]) {
        const double length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
        if (length > 0.0)
            for (int k = 0; k < 3; ++k)
                v[k] /= length;
        return length > 0.0;
    };
    if (!normalise(r[0]))
        return;
    const double d = r[0][0] * r[1][0] + r[0][1] * r[1][1] + r[0][2] * r[1][2];
    for (int k = 0; k < 3; ++k)
        r[1][k] -= d * r[0][k];
    if (!normalise(r[1]))
        return;
    r[2][0] = r[0][1] * r[1][2] - r[0][2] * r[1][1];
    r[2][1] = r[0][2] * r[1][0] - r[0][0] * r[1][2];
    r[2][2] = r[0][0] * r[1][1] - r[0][1] * r[1][0];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            m[i + 4 * j] = r[i][j];
}

void C3DView::paintGL()
{
    m_nWidth = width();
    m_nHeight = height();
    m_fAspect = m_nHeight > 0 ? float(m_nWidth) / float(m_nHeight) : 1.0f;
    const double dpr = devicePixelRatioF();
    m_bSceneDirty = false;
    m_nFrameBuffer = defaultFramebufferObject();
    m_frameSize = QSize(int(m_nWidth * dpr), int(m_nHeight * dpr));
    ++m_nScenePaints;
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glViewport(0, 0, GLsizei(m_nWidth * dpr), GLsizei(m_nHeight * dpr));
    if (DocumentBusy()) {
        glFinish();
        return;
    }
    if (m_bPendingRead) {
        m_bPendingRead = false;
        ReadDocument();
        m_cameraDrawer.SetUnits(m_nUnit);
        RefreshScene();
    }

    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluOrtho2D(0, m_nWidth, 0, m_nHeight);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDisable(GL_LIGHTING);
    DrawOverlay();
    glEnable(GL_LIGHTING);

    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    ComputeClip();
    gluPerspective(m_dFieldOfView, m_fAspect, m_dNear, m_dFar);
    glGetDoublev(GL_PROJECTION_MATRIX, m_lastProjection);

    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    ApplyEyeTransform();
    glGetDoublev(GL_MODELVIEW_MATRIX, m_lastModelview);
    const int n = m_pPointSet ? m_pPointSet->GetSize() : 0;
    const bool slow = m_bMoving && m_dLastFullFrameMs > kSlowFrameMs;
    const auto stride = [slow](int count, int most) { return slow && count > most ? (count + most - 1) / most : 1; };
    m_pointDrawer.SetThinning(stride(n, kThinnedPoints));
    m_pointDrawer.SetDiscThinning(slow ? stride(m_pointDrawer.GetDiscCount(), kThinnedDiscs) : 1);
    m_nLabelStride = m_layers.labels ? stride(n, kThinnedLabels) : 1;
    const bool thin = m_pointDrawer.GetThinning() > 1 || m_pointDrawer.GetDiscThinning() > 1 || m_nLabelStride > 1;
    QElapsedTimer clock;
    clock.start();
    DrawScene();
    glFinish();
    if (!thin)
        m_dLastFullFrameMs = double(clock.nsecsElapsed()) / 1e6;
}

void C3DView::ShowAlignmentFrame(const double transformation[16])
{
    std::copy(transformation, transformation + 16, m_alignment);
    m_bAlignmentShown = true;
    Redraw();
}

void C3DView::SetMoving(bool moving)
{
    if (m_bMoving == moving)
        return;
    m_bMoving = moving;
    if (!moving)
        Redraw();
}

std::intptr_t C3DView::OnHubMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam)
{
    if (message == UM_RECREATE_GL_CONTEXT) {
        OnResetGLContext();
        return 0;
    }
    if (message == UM_RELABEL_PICKED) {
        OnRelabel();
        return 0;
    }
    return CView::OnHubMessage(message, wParam, lParam);
}

void C3DView::DrawOverlay()
{
    if (!m_pPointSet || m_textLists.GetBase() == 0)
        return;
    CDynString name;
    m_pPointSet->GetFileName(name);
    glColor3d(1, 1, 1);
    glRasterPos2d(5, m_nHeight - 15);
    m_textLists.GetLists().Draw(name.GetText());
    char text[64];
    const char* scaleText = nullptr;
    if (m_layers.pointEllipsoids || m_layers.cameraEllipsoids || m_layers.cameraAxes) {
        std::snprintf(text, sizeof text, "Error Ellipsoid Scale: %.0f", m_dEllipsoidScale);
        scaleText = text;
    } else if (m_layers.discrepancies) {
        std::snprintf(text, sizeof text, "Discrepancy Vector Scale: %d", m_nDiscrepancyScale);
        scaleText = text;
    }
    m_scaleMarker = QRect();
    if (scaleText) {
        if (m_bOverScaleMarker)
            glColor3d(1, 1, 1);
        else
            glColor3d(0.7, 0.7, 0.7);
        glRasterPos2d(5, 5);
        m_textLists.GetLists().Draw(scaleText);
        const QFontMetrics metrics(font());
        const int w = metrics.horizontalAdvance(QString::fromLatin1(scaleText));
        const int h = metrics.height();
        // Right and bottom exclusive: left 5, top height - h - 5, right w + 5, bottom height - 5.
        m_scaleMarker = QRect(5, m_nHeight - h - 5, w, h);
    }
}

void C3DView::DrawScene()
{
    const GLfloat ambient[] = {0.5f, 0.5f, 0.5f, 1.0f};
    const GLfloat diffuse[] = {0.5f, 0.5f, 0.5f, 1.0f};
    const GLfloat specular[] = {0.3f, 0.3f, 0.3f, 0.3f};
    const GLfloat position[] = {0.0f, 0.0f, 1.0f, 0.0f};
    glEnable(GL_LIGHT0);
    glLightfv(GL_LIGHT0, GL_AMBIENT, ambient);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, diffuse);
    glLightfv(GL_LIGHT0, GL_SPECULAR, specular);
    glLightfv(GL_LIGHT0, GL_POSITION, position);
    glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, 0);

    const CPickNames names = GetPickNames();
    glInitNames();
    glPushName(0);
    glColor3d(1, 1, 1);
    glPushMatrix();
    glTranslated(-m_centre[0], -m_centre[1], -m_centre[2]);
    if (!m_bLinesValid)
        ResolveLines();
    if (m_drawPart == DRAW_ALL)
        DrawPointsAndLabels();
    if (m_drawPart != DRAW_AFTER_VECTORS) {
        DrawLines(names.lineBase);
        if (m_layers.rays)
            DrawImagingRays();
        if (m_pDevice)
            DrawEODevice(names.device);
        if (m_layers.scaleBars)
            DrawScaleBars(names.barBase);
        if (m_layers.cameras)
            m_cameraDrawer.Draw(int(names.stationBase), m_dCameraSymbolSize);
        if (m_bAlignmentShown) {
            NEWMAT::Matrix t(4, 4);
            t << m_alignment;
            glLoadName(0);
            m_textLists.DrawFrameAxes(t, m_dAxisSize);
        }
        m_textLists.DrawWorldAxes(m_dAxisSize);
    }
    if (m_drawPart == DRAW_ALL) {
        if (m_layers.discrepancies)
            m_pointDrawer.DrawDiscrepancies(int(names.vectorBase), m_nDiscrepancyScale);
        if (m_layers.normals)
            m_pointDrawer.DrawNormals(int(names.vectorBase), m_nNormalScale);
    }
    if (m_drawPart == DRAW_BEFORE_VECTORS) {
        glPopMatrix();
        return;
    }
    if (m_layers.pointEllipsoids)
        m_pointDrawer.DrawErrorEllipsoids(m_dEllipsoidScale);
    if (m_layers.cameraEllipsoids)
        m_cameraDrawer.DrawErrorEllipsoids(m_dEllipsoidScale, false, m_fontLists);
    if (m_layers.cameraAxes)
        m_cameraDrawer.DrawErrorEllipsoids(m_dEllipsoidScale, true, m_fontLists);
    glPopMatrix();
}

void C3DView::DrawPointsAndLabels()
{
    if (!m_pointDrawer.Draw(m_fPointSize, true, 1))
        return;
    if (!m_layers.labels || m_fontLists.GetBase() == 0)
        return;
    // Labels are not pickable.
    glLoadName(0);
    glColor3d(1, 1, 1);
    const double d = 0.02 * m_dAxisSize;
    GLint mode = GL_RENDER;
    glGetIntegerv(GL_RENDER_MODE, &mode);
    if (mode == GL_RENDER && !m_bDirectDrawing && m_labelDrawer.Draw(m_pPointSet, d, m_nLabelStride))
        return;
    for (int i = 0; i < m_pPointSet->GetSize(); ++i) {
        const CObjectPoint* p = m_pPointSet->GetAt(i);
        glRasterPos3d(p->x + d, p->y + d, p->z + d);
        m_fontLists.Draw(p->label.GetText());
    }
}

void C3DView::DrawLines(unsigned nameBase)
{
    if (!m_pPointSet)
        return;
    glDisable(GL_LIGHTING);
    GLint mode = GL_RENDER;
    glGetIntegerv(GL_RENDER_MODE, &mode);
    if (mode == GL_RENDER) {
        // From the buffers: plain lines, then the selected ones 3 wide.
        glLoadName(0);
        glColor3d(1, 1, 1);
        m_lineBuffer.Draw(1.0f);
        m_selectedLineBuffer.Draw(3.0f);
        return;
    }
    for (const ResolvedLine& l : m_lines) {
        glLoadName(GLuint(nameBase + unsigned(l.index)));
        glPassThrough(GLfloat(nameBase + unsigned(l.index)));
        glLineWidth(m_pPointSet->lines.GetAt(l.index)->IsSelected() ? 3.0f : 1.0f);
        DrawSegment(*l.a, *l.b);
    }
    glLineWidth(1.0f);
}

void C3DView::DrawImagingRays()
{
    glDisable(GL_LIGHTING);
    glLoadName(0);
    if (!m_pPointSet || !m_pImages)
        return;
    const CImagePtrArray& stations = m_cameraDrawer.GetSelection();
    const bool anyPoint = m_pPointSet->GetSelectedCount() > 0;
    if (stations.GetSize() == 0 && !anyPoint)
        return;
    for (int i = 0; i < m_pImages->GetSize(); ++i) {
        CProjectImage* image = m_pImages->GetAt(i);
        if (!image->enabled)
            continue;
        // With stations selected only their rays; else every image's.
        if (stations.GetSize() > 0 && stations.FindPtr(image) < 0)
            continue;
        CObjectPoint station("", image->X, image->Y, image->Z);
        for (int k = 0; k < image->targets.GetSize(); ++k) {
            const CImageObservation* o = image->targets.GetAt(k);
            if (o->disabled)
                continue;
            const CObjectPoint* p = FindLabel(o->label.GetText());
            if (!p || (anyPoint && !p->selected))
                continue;
            if (o->rejected)
                glColor3d(0.8, 0, 0);
            else
                glColor3d(1, 1, 1);
            DrawSegment(station, *p);
        }
    }
}

void C3DView::DrawEODevice(unsigned name)
{
    glDisable(GL_LIGHTING);
    glColor3d(1, 1, 0);
    glLoadName(name);
    glBegin(GL_LINE_LOOP);
    for (int i = 0; i < m_pDevice->GetSize(); ++i)
        if (const CObjectPoint* p = FindLabel(m_pDevice->GetAt(i)->label.GetText()))
            glVertex3d(p->x, p->y, p->z);
    glEnd();
}

void C3DView::DrawScaleBars(unsigned nameBase)
{
    if (!m_pScaleBars)
        return;
    glDisable(GL_LIGHTING);
    glColor3d(0, 1, 1);
    for (int i = 0; i < m_pScaleBars->GetSize(); ++i) {
        const CScaleBar* bar = m_pScaleBars->GetAt(i);
        const CObjectPoint* a = FindLabel(bar->endLabel1.GetText());
        const CObjectPoint* b = FindLabel(bar->endLabel2.GetText());
        if (!a || !b)
            continue;
        glLoadName(GLuint(nameBase + unsigned(i)));
        DrawSegment(*a, *b);
    }
}
