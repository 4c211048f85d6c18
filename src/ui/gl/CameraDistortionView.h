// The plot of a camera's lens distortion in the project frame's right pane:
// the radial distortion dr(r) above, the decentering profile P(r) below,
// over r from 0 to the half sensor diagonal (mm). Within the calibrated
// radial distance the curves are solid, beyond it dashed; hovering shows the
// value under the cursor.
#pragma once

#include "BitmapFontLists.h"
#include "DocFramework.h"

#include <QOpenGLWidget>

#include <memory>

class CCamera;
class QTimer;

// A plot rectangle in OpenGL window coordinates (origin bottom left).
struct CPlotRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    // Strictly inside, with y counted from the bottom.
    bool Contains(int px, int py) const { return px > x && px < x + width && py > y && py < y + height; }
};

struct CDistortionLayout {
    CPlotRect upper;
    CPlotRect lower;
};

// Margins of 5 % of the size, two plots of equal height one above the other.
CDistortionLayout ComputeDistortionLayout(int width, int height);
// dr(r) = K1 r^3 + K2 r^5 + K3 r^7.
double RadialDistortion(const CCamera& camera, double r);
// P(r) = sqrt(P1^2 + P2^2) r^2.
double DecenteringProfile(const CCamera& camera, double r);
// Half-range of the upper plot: 1.1 x the largest size of dr over
// r = 0, step, ... and rmax; 1 when that is 0.
double ComputeRadialRange(const CCamera& camera, double rmax, double step);
// Range of the lower plot, the same with P(r).
double ComputeDecenteringRange(const CCamera& camera, double rmax, double step);

class CCameraDistortionView : public QOpenGLWidget, public CView {
public:
    explicit CCameraDistortionView(QWidget* parent = nullptr);
    ~CCameraDistortionView() override;

    QWidget* GetWidget() override { return this; }
    // Re-reads the camera (the tree's current camera unless one was set) and
    // the ranges into a copy that paints and the cursor read. While a job
    // runs on the project the copy stays as it was; the view re-reads and
    // repaints once the job has ended.
    void OnUpdate(CView* sender, long hint) override;
    // Plots this camera instead of the tree's current one (no frame).
    void SetCamera(const CCamera* camera) { m_pFixedCamera = camera; }

    // Cursor at (x, y) in widget pixels, y from the top.
    void OnMouseMove(int x, int y);

    const CCamera* GetCamera() const { return m_pCamera; }
    double GetRadialExtent() const { return m_dRmax; }
    double GetRadialHalfRange() const { return m_dRadialRange; }
    double GetDecenteringRange() const { return m_dDecenteringRange; }
    CDistortionLayout GetLayout() const { return ComputeDistortionLayout(m_nWidth, m_nHeight); }
    // Radius and value under the cursor in each plot, -1 when none.
    double GetUpperRadius() const { return m_dUpperRadius; }
    double GetUpperValue() const { return m_dUpperValue; }
    double GetLowerRadius() const { return m_dLowerRadius; }
    double GetLowerValue() const { return m_dLowerValue; }
    // True when the context and the text lists were made.
    bool HasTextLists() const { return m_fontLists.GetBase() != 0; }

protected:
    void initializeGL() override;
    void resizeGL(int width, int height) override;
    void paintGL() override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void ResetState();
    void ReleaseLists();
    void DrawRadialPlot(const CDistortionLayout& layout);
    void DrawDecenteringPlot(const CDistortionLayout& layout);
    void SetUpPlot(const CPlotRect& rc, double bottom, double top);
    void DrawLimitAndFrame(double bottom, double top);
    void DrawReadout(const char* title, const char* valueFormat, double r, double value, double x,
                     const double rows[3]) const;
    // A solid strip to the limit and a dashed one beyond it to rmax.
    void DrawCurve(double (*value)(const CCamera&, double), double step, bool clampTiny);
    void DrawText(double x, double y, const char* text) const;
    double Limit() const;
    bool JobRunning() const;
    void WatchJobEnd();

    const CCamera* m_pFixedCamera = nullptr;
    const CCamera* m_pCamera = nullptr;
    // The copy of the camera last read.
    std::unique_ptr<CCamera> m_pShown;
    QTimer* m_pJobTimer = nullptr;
    double m_dRmax = 0.0;
    double m_dRadialRange = 0.0;
    double m_dDecenteringRange = 0.0;
    double m_dRadialStep = 0.25;
    double m_dDecenteringStep = 0.25;
    double m_dUpperRadius = -1.0;
    double m_dUpperValue = -1.0;
    double m_dLowerRadius = -1.0;
    double m_dLowerValue = -1.0;
    int m_nHeight = 0;
    int m_nWidth = 0;
    float m_fAspect = 1.0f;
    CBitmapFontLists m_fontLists;
    QMetaObject::Connection m_contextGone;
};
