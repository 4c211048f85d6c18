#include "CameraDistortionView.h"

#include "Camera.h"
#include "Frames.h"
#include "KestrelonDoc.h"
#include "KestrelonView.h"

#include <QMouseEvent>
#include <QOpenGLContext>
#include <QTimer>

#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// Samples of a curve or range at most; wider sensors are sampled coarser
// than the step so that a hostile camera record cannot stall the view.
constexpr double kMaxSamples = 4096.0;
// Decentering values below this are drawn and read as 0.
constexpr double kTiny = 1e-16;

// Calls f(r) for r = from, from + step, ... while r < to, then f(to).
template <class F>
void Sample(double from, double to, double step, F f)
{
    if (!std::isfinite(from) || !std::isfinite(to))
        return;
    step = std::max(step, (to - from) / kMaxSamples);
    for (long i = 0;; ++i) {
        const double r = from + double(i) * step;
        if (!(r < to))
            break;
        f(r);
    }
    f(to);
}

double RangeOf(const CCamera& camera, double rmax, double step, double (*value)(const CCamera&, double))
{
    double minimum = 1000.0;
    double maximum = 0.0;
    Sample(0.0, rmax, step, [&](double r) {
        const double v = value(camera, r);
        if (v <= minimum)
            minimum = v;
        if (v >= maximum)
            maximum = v;
    });
    double range = std::fabs(minimum) <= maximum ? maximum : std::fabs(minimum);
    range *= 1.1;
    if (range == 0.0 || !std::isfinite(range))
        range = 1.0;
    return range;
}

double DecenteringClamped(const CCamera& camera, double r)
{
    const double p = DecenteringProfile(camera, r);
    return p < kTiny ? 0.0 : p;
}

} // namespace

CDistortionLayout ComputeDistortionLayout(int width, int height)
{
    const int mx = int(width * 0.05);
    const int my = int(height * 0.05);
    const int plotWidth = width - 2 * mx;
    const int plotHeight = (height - 3 * my) / 2;
    CDistortionLayout layout;
    layout.lower = {mx, my, plotWidth, plotHeight};
    layout.upper = {mx, plotHeight + 2 * my, plotWidth, plotHeight};
    return layout;
}

double RadialDistortion(const CCamera& camera, double r)
{
    const double r2 = r * r;
    return camera.parameters[CAM_K1] * r2 * r + camera.parameters[CAM_K2] * r2 * r2 * r +
           camera.parameters[CAM_K3] * r2 * r2 * r2 * r;
}

double DecenteringProfile(const CCamera& camera, double r)
{
    const double p1 = camera.parameters[CAM_P1];
    const double p2 = camera.parameters[CAM_P2];
    return std::sqrt(p1 * p1 + p2 * p2) * r * r;
}

double ComputeRadialRange(const CCamera& camera, double rmax, double step)
{
    return RangeOf(camera, rmax, step, RadialDistortion);
}

double ComputeDecenteringRange(const CCamera& camera, double rmax, double step)
{
    return RangeOf(camera, rmax, step, DecenteringProfile);
}

CCameraDistortionView::CCameraDistortionView(QWidget* parent) : QOpenGLWidget(parent)
{
    setMouseTracking(true);
    ResetState();
}

CCameraDistortionView::~CCameraDistortionView()
{
    QObject::disconnect(m_contextGone);
    ReleaseLists();
}

void CCameraDistortionView::ReleaseLists()
{
    if (m_fontLists.GetBase() != 0 && context()) {
        makeCurrent();
        m_fontLists.Release();
        doneCurrent();
    }
}

void CCameraDistortionView::ResetState()
{
    m_pCamera = nullptr;
    m_pShown.reset();
    m_dRmax = m_dRadialRange = m_dDecenteringRange = 0.0;
    m_dRadialStep = m_dDecenteringStep = 0.25;
    m_dUpperRadius = m_dUpperValue = m_dLowerRadius = m_dLowerValue = -1.0;
}

void CCameraDistortionView::OnUpdate(CView* sender, long hint)
{
    (void)sender;
    (void)hint;
    // A job may be writing the camera: paint what was last read.
    if (JobRunning()) {
        WatchJobEnd();
        update();
        return;
    }
    ResetState();
    m_pCamera = m_pFixedCamera;
    if (!m_pCamera)
        if (auto* frame = dynamic_cast<CProjectFrame*>(GetParentFrame()))
            if (CKestrelonView* tree = frame->GetTreeView())
                m_pCamera = tree->GetSelectedCamera();
    if (m_pCamera) {
        m_pShown = std::make_unique<CCamera>(*m_pCamera);
        m_dRmax = m_pShown->GetHalfSensorDiagonal();
        m_dRadialRange = ComputeRadialRange(*m_pShown, m_dRmax, m_dRadialStep);
        m_dDecenteringRange = ComputeDecenteringRange(*m_pShown, m_dRmax, m_dDecenteringStep);
    }
    update();
}

bool CCameraDistortionView::JobRunning() const
{
    auto* doc = dynamic_cast<CKestrelonDoc*>(GetDocument());
    if (!doc)
        doc = GetActiveKestrelonDoc();
    return doc && doc->IsJobRunning();
}

void CCameraDistortionView::WatchJobEnd()
{
    if (!m_pJobTimer) {
        m_pJobTimer = new QTimer(this);
        m_pJobTimer->setInterval(200);
        connect(m_pJobTimer, &QTimer::timeout, this, [this] {
            if (JobRunning())
                return;
            m_pJobTimer->stop();
            OnUpdate(nullptr, 0);
        });
    }
    if (!m_pJobTimer->isActive())
        m_pJobTimer->start();
}

void CCameraDistortionView::initializeGL()
{
    // Opaque, so that the widget does not show through in the margins.
    glClearColor(0.75f, 0.75f, 0.75f, 1.0f);
    glEnable(GL_POINT_SMOOTH);
    // A new context (the widget moved to another window) gets lists of its own.
    QObject::disconnect(m_contextGone);
    m_fontLists.Forget();
    m_fontLists.Build(font());
    m_contextGone = connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, [this] { ReleaseLists(); });
}

void CCameraDistortionView::resizeGL(int width, int height)
{
    if (width < 1)
        return;
    m_nWidth = width;
    m_nHeight = height;
    m_fAspect = height > 0 ? float(width) / float(height) : 1.0f;
}

double CCameraDistortionView::Limit() const
{
    return m_pShown && m_pShown->maxRadialDistance != 0.0 ? m_pShown->maxRadialDistance : m_dRmax;
}

void CCameraDistortionView::paintGL()
{
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    m_nWidth = width();
    m_nHeight = height();
    // Nothing to plot without a camera or a sensor.
    if (m_pShown && m_dRmax > 0.0 && std::isfinite(m_dRmax)) {
        const CDistortionLayout layout = ComputeDistortionLayout(m_nWidth, m_nHeight);
        if (layout.upper.width > 0 && layout.upper.height > 0) {
            DrawRadialPlot(layout);
            DrawDecenteringPlot(layout);
        }
    }
    glFinish();
}

void CCameraDistortionView::DrawText(double x, double y, const char* text) const
{
    glRasterPos2d(x, y);
    m_fontLists.Draw(text);
}

void CCameraDistortionView::DrawCurve(double (*value)(const CCamera&, double), double step, bool clampTiny)
{
    auto at = [&](double r) {
        double v = value(*m_pShown, r);
        if (clampTiny && v < kTiny)
            v = 0.0;
        glVertex2d(r, v);
    };
    const double limit = Limit();
    glBegin(GL_LINE_STRIP);
    Sample(0.0, limit, step, at);
    glEnd();
    if (limit < m_dRmax) {
        glEnable(GL_LINE_STIPPLE);
        glLineStipple(3, 0xAAAA);
        glBegin(GL_LINE_STRIP);
        Sample(limit, m_dRmax, step, at);
        glEnd();
        glDisable(GL_LINE_STIPPLE);
    }
}

void CCameraDistortionView::SetUpPlot(const CPlotRect& rc, double bottom, double top)
{
    const double dpr = devicePixelRatioF();
    glViewport(GLint(rc.x * dpr), GLint(rc.y * dpr), GLsizei(rc.width * dpr), GLsizei(rc.height * dpr));
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluOrtho2D(0.0, m_dRmax, bottom, top);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glInitNames();
    glPushName(0);
}

// The red line at the calibrated radius and the green frame of a plot.
void CCameraDistortionView::DrawLimitAndFrame(double bottom, double top)
{
    const double limit = Limit();
    if (m_pShown->maxRadialDistance != 0.0) {
        glColor3d(1, 0, 0);
        glLineWidth(2.0f);
        glBegin(GL_LINES);
        glVertex2d(limit, bottom);
        glVertex2d(limit, top);
        glEnd();
    }

    glColor3d(0, 1, 0);
    glPolygonMode(GL_FRONT, GL_LINE);
    glLineWidth(2.0f);
    glLoadName(20);
    glBegin(GL_POLYGON);
    glVertex2d(0.0, bottom);
    glVertex2d(m_dRmax, bottom);
    glVertex2d(m_dRmax, top);
    glVertex2d(0.0, top);
    glEnd();
    glPolygonMode(GL_FRONT, GL_FILL);
}

// The title and, with the cursor over the plot, its point and values; rows are the text heights.
void CCameraDistortionView::DrawReadout(const char* title, const char* valueFormat, double r, double value, double x,
                                        const double rows[3]) const
{
    char text[128];
    glColor3d(1, 1, 1);
    std::snprintf(text, sizeof text, "%s: %s", title, m_pShown->identifier.GetText());
    DrawText(x, rows[0], text);

    if (r > 0.0) {
        if (m_pShown->maxRadialDistance > 0.0 && r > m_pShown->maxRadialDistance)
            glColor3d(1, 0, 0);
        glPointSize(5.0f);
        glBegin(GL_POINTS);
        glVertex2d(r, value);
        glEnd();
        std::snprintf(text, sizeof text, "Radial Distance: %3.2f mm", r);
        DrawText(x, rows[1], text);
        std::snprintf(text, sizeof text, valueFormat, value * 1000.0);
        DrawText(x, rows[2], text);
    }
}

void CCameraDistortionView::DrawRadialPlot(const CDistortionLayout& layout)
{
    const CPlotRect& rc = layout.upper;
    const double R = m_dRadialRange;
    const double sx = m_dRmax / rc.width;
    const double sy = R / rc.height;
    SetUpPlot(rc, -R, R);

    glColor3d(0, 0, 0);
    glPolygonMode(GL_FRONT, GL_FILL);
    glLoadName(10);
    glRectd(0.0, -(R + 0.01), m_dRmax, R + 0.01);

    glLoadName(30);
    glColor3d(0, 1, 0);
    glLineWidth(2.0f);
    glBegin(GL_LINES);
    glVertex2d(0.0, 0.0);
    glVertex2d(m_dRmax, 0.0);
    glEnd();

    glLoadName(40);
    glColor3d(0, 1, 0);
    glLineWidth(1.0f);
    DrawCurve(RadialDistortion, m_dRadialStep, false);

    DrawLimitAndFrame(-R, R);
    const double rows[3] = {R - 30 * sy, R - 70 * sy, R - 110 * sy};
    DrawReadout("Radial Distortion", "             dr: %3.2f um", m_dUpperRadius, m_dUpperValue, 10 * sx, rows);
}

void CCameraDistortionView::DrawDecenteringPlot(const CDistortionLayout& layout)
{
    const CPlotRect& rc = layout.lower;
    const double PR = m_dDecenteringRange;
    const double sx = m_dRmax / rc.width;
    const double sy = PR / rc.height;
    SetUpPlot(rc, 0.0, PR);

    glColor3d(0, 0, 0);
    glPolygonMode(GL_FRONT, GL_FILL);
    glLoadName(10);
    glRectd(0.0, 0.0, m_dRmax, PR);

    glLineWidth(1.0f);
    glLoadName(30);
    glColor3d(0, 1, 0);
    DrawCurve(DecenteringProfile, m_dRadialStep, true);

    DrawLimitAndFrame(0.0, PR);
    const double rows[3] = {PR - 15 * sy, PR - 35 * sy, PR - 55 * sy};
    DrawReadout("Decentering Distortion", "           P(r): %3.2f um", m_dLowerRadius, m_dLowerValue, 10 * sx, rows);
}

void CCameraDistortionView::OnMouseMove(int x, int y)
{
    const CDistortionLayout layout = ComputeDistortionLayout(width(), height());
    const int yUp = height() - y;
    if (m_pShown && layout.upper.Contains(x, yUp)) {
        const double r = double(x - layout.upper.x) / layout.upper.width * m_dRmax;
        m_dUpperRadius = r;
        m_dUpperValue = RadialDistortion(*m_pShown, r);
    } else if (m_pShown && layout.lower.Contains(x, yUp)) {
        const double r = double(x - layout.lower.x) / layout.lower.width * m_dRmax;
        m_dLowerRadius = r;
        m_dLowerValue = DecenteringClamped(*m_pShown, r);
    } else {
        m_dUpperRadius = m_dUpperValue = m_dLowerRadius = m_dLowerValue = -1.0;
    }
    update();
}

void CCameraDistortionView::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    OnMouseMove(at.x(), at.y());
    QOpenGLWidget::mouseMoveEvent(event);
}
