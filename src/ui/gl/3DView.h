// The interactive 3D view of the project in the project frame's right pane:
// the tree's current point set with the stations, scale bars, EO device,
// lines and axes, drawn by the shared drawers over a 2D overlay.
#pragma once

#include "DocFramework.h"
#include "GLDrawers.h"
#include "InfoOverlayEdit.h"

#include <QOpenGLWidget>

class CPointSet;
class CProjectImageList;
class CScaleBarList;
class CEODevice;

// An axis-aligned box (minimum and maximum corner).
struct CSceneBox {
    double min[3] = {0, 0, 0};
    double max[3] = {0, 0, 0};
};

// The box of the drawer's points, widened by the stations when cameras are
// shown; a zero box at the origin when there is nothing.
CSceneBox ComputeSceneBox(const CPointSymbolDrawer& points, const CProjectImageList* images, bool withCameras);
// Scene radius 0.75 x the diagonal; returns the eye distance radius / tan(pi/8).
double ComputeEyeDistance(const CSceneBox& box, double& radius);

struct CClipInput {
    CSceneBox box;
    double centre[3] = {0, 0, 0};
    double margin = 0.0;         // widening of the box on every side
    double axisSize = 1.0;
    double modelview[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}; // column-major
    double panX = 0.0;
    double panY = 0.0;
    double eyeDistance = 10000.0;
};
// Near and far plane around the widened box, the origin and the axis tips
// as seen from the eye; a near plane not above 0 becomes 0.1, then near x
// 0.8 and far x 1.2.
void ComputeClipPlanes(const CClipInput& in, double& nearPlane, double& farPlane);

class C3DView : public QOpenGLWidget, public CView {
public:
    // The optional layers; a document update hides them all.
    struct Layers {
        bool cameras = false;
        bool scaleBars = false;
        bool discrepancies = false;
        bool normals = false;
        bool rays = false;
        bool labels = false;
        bool pointEllipsoids = false;
        bool cameraEllipsoids = false;
        bool cameraAxes = false;
    };

    explicit C3DView(QWidget* parent = nullptr);
    ~C3DView() override;

    QWidget* GetWidget() override { return this; }
    void OnInitialUpdate() override;
    // Resets the view and reads the document (or the scene given) again.
    void OnUpdate(CView* sender, long hint) override;
    // Shows these instead of the tree's set and the document's records (no frame).
    void SetScene(CPointSet* set, const CProjectImageList* images, const CScaleBarList* bars, const CEODevice* device);

    // The view of the main frame's active child when it is a 3D view.
    static C3DView* GetActive3DView();
    // A new project unit: camera symbols rescaled, disc list rebuilt.
    void ApplyUnits(int unit);
    // Message 0x453: another window used its own context; repaint.
    void OnResetGLContext() { update(); }
    // Box, centres, eye distance (the layer commands call it).
    void RefreshScene();

    void ResetViewState();
    // The 3-2-1 alignment's frame (4 x 4), drawn with the world axes until cleared.
    void ShowAlignmentFrame(const double transformation[16]);
    void ClearAlignmentFrame() { m_bAlignmentShown = false; }

    // Message 0x453 schedules a repaint; the rest is not the view's.
    std::intptr_t OnHubMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override;

    // While the user turns, pans, spins or zooms: when the last full frame
    // took longer than kSlowFrameMs, frames show an even subset of at most
    // kThinnedPoints points; the full set again once the motion ends.
    static constexpr double kSlowFrameMs = 50.0;
    static constexpr int kThinnedPoints = 250000;
    void SetMoving(bool moving);
    bool IsMoving() const { return m_bMoving; }
    double GetLastFullFrameMs() const { return m_dLastFullFrameMs; }
    int GetThinning() const { return m_pointDrawer.GetThinning(); }

    Layers& GetLayers() { return m_layers; }
    CPointSymbolDrawer& GetPointDrawer() { return m_pointDrawer; }
    CCameraSymbolDrawer& GetCameraDrawer() { return m_cameraDrawer; }
    CInfoOverlayEdit& GetInfoOverlay() { return *m_pOverlay; }
    CPointSet* GetPointSet() const { return m_pPointSet; }
    const CSceneBox& GetSceneBox() const { return m_box; }
    const double* GetSceneCentre() const { return m_centre; }
    double GetEyeDistance() const { return m_dEyeDistance; }
    double GetAxisSize() const { return m_dAxisSize; }
    double GetCameraSymbolSize() const { return m_dCameraSymbolSize; }
    double GetFieldOfView() const { return m_dFieldOfView; }
    float GetPanX() const { return m_fPanX; }
    float GetPanY() const { return m_fPanY; }
    double GetNearPlane() const { return m_dNear; }
    double GetFarPlane() const { return m_dFar; }
    const double* GetStoredMatrix() const { return m_storedMatrix; }
    void SetRotation(double a1, double a2, double a3) { m_angles[0] = a1, m_angles[1] = a2, m_angles[2] = a3; }
    void SetPan(float x, float y) { m_fPanX = x, m_fPanY = y; }
    void SetFieldOfView(double degrees) { m_dFieldOfView = degrees; }
    // Modelview (with the eye transform) and projection of the last paint.
    const double* GetLastModelview() const { return m_lastModelview; }
    const double* GetLastProjection() const { return m_lastProjection; }
    bool HasTextLists() const { return m_textLists.GetBase() != 0 && m_fontLists.GetBase() != 0; }

protected:
    void initializeGL() override;
    void resizeGL(int width, int height) override;
    void paintGL() override;

private:
    void ReadDocument();
    void ReleaseLists();
    void ComputeClip();
    void ApplyEyeTransform();
    void DrawOverlay();
    void DrawScene();
    void DrawPointsAndLabels();
    void DrawLines();
    // From the selected stations and/or to the selected points; none
    // without a selection.
    void DrawImagingRays();
    void DrawEODevice();
    void DrawScaleBars();
    // The document is busy with a job: nothing of it is read.
    bool DocumentBusy() const;

    double m_alignment[16] = {};  // row-major
    bool m_bAlignmentShown = false;
    CPointSet* m_pFixedSet = nullptr;
    const CProjectImageList* m_pFixedImages = nullptr;
    const CScaleBarList* m_pFixedBars = nullptr;
    const CEODevice* m_pFixedDevice = nullptr;
    bool m_bFixedScene = false;

    CPointSet* m_pPointSet = nullptr;
    const CProjectImageList* m_pImages = nullptr;
    const CScaleBarList* m_pScaleBars = nullptr;
    const CEODevice* m_pDevice = nullptr;
    CPointSymbolDrawer m_pointDrawer;
    CTextListDrawer m_textLists;
    CBitmapFontLists m_fontLists;
    CCameraSymbolDrawer m_cameraDrawer;
    CInfoOverlayEdit* m_pOverlay;

    int m_nHeight = 0;
    int m_nWidth = 0;
    float m_fAspect = 1.0f;
    double m_dFieldOfView = 45.0;
    double m_dNear = 1.0;
    double m_dFar = 100000.0;
    float m_fPointSize = 1.0f;
    int m_nDiscrepancyScale = 1;
    int m_nNormalScale = 1;
    double m_dAxisSize = 1.0;
    double m_dEyeDistance = 10000.0;
    double m_dSceneRadius = 0.0;
    double m_dCameraSymbolSize = 1.0;
    double m_angles[3] = {0, 0, 0};
    bool m_bFold = false;
    double m_axes[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    double m_storedMatrix[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    float m_fPanX = 0.0f;
    float m_fPanY = 0.0f;
    CSceneBox m_box;
    CSceneBox m_boxCopy;
    double m_centre[3] = {0, 0, 0};
    double m_centreCopy[3] = {0, 0, 0};
    Layers m_layers;
    double m_dEllipsoidScale = 500.0;
    double m_dPointEllipsoidMax = 0.0;
    double m_dStationEllipsoidMax = 0.0;
    double m_dDiscrepancyMax = 0.0;
    double m_lastModelview[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    double m_lastProjection[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    int m_nUnit = 0;
    bool m_bMoving = false;
    bool m_bPendingRead = false;
    double m_dLastFullFrameMs = 0.0;
    QMetaObject::Connection m_contextGone;
};
