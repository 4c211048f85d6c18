// The interactive 3D view of the project in the project frame's right pane:
// the tree's current point set with the stations, scale bars, EO device,
// lines and axes, drawn by the shared drawers over a 2D overlay.
#pragma once

#include "321Dialog.h"
#include "DocFramework.h"
#include "GLDrawers.h"
#include "InfoOverlayEdit.h"
#include "NameBuffer.h"
#include "ObjectPointArray.h"
#include "PointLabelDrawer.h"
#include "PointRelabelDialog.h"

#include <QOpenGLWidget>
#include <QRect>
#include <QTimer>

#include <unordered_set>
#include <vector>

class QMenu;
class QRubberBand;

class CCamera;
class CPointSet;
class CProjectImage;
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

// The pick names of a scene of these counts. Scenes within the usual counts
// keep 1 + i (points), 1000000 + i (stations), 2000000 + i (scale bars),
// 2000100 + i (vector symbols), 2001000 (EO device) and 3000000 + i (lines);
// larger counts move the later ranges up, so that no two names meet.
struct CPickNames {
    enum Kind { NONE, POINT, STATION, SCALE_BAR, VECTOR, DEVICE, LINE };
    static CPickNames For(unsigned points, unsigned images, unsigned bars, unsigned lines);
    // The kind of the name and the record's index; NONE outside every range.
    Kind Decode(unsigned name, int& index) const;

    unsigned points = 0, images = 0, bars = 0, lines = 0;
    unsigned stationBase = 1000000, barBase = 2000000, vectorBase = 2000100, device = 2001000, lineBase = 3000000;
};

// The upper 3 x 3 block of the column-major matrix made a rotation again
// (rounding leaves it slightly skew after many turns); the rest is kept.
void OrthonormaliseRotation(double m[16]);

// Commands of the view (context menu "OpenGlView", keys).
enum C3DViewCommand : int {
    ID_3D_INCREASE_CAMERAS = 321,
    ID_3D_INCREASE_DISCREPANCY = 322,
    ID_3D_INCREASE_NORMALS = 323,
    ID_3D_INCREASE_POINT_SIZE = 324,
    ID_3D_DECREASE_POINT_SIZE = 325,
    ID_3D_DECREASE_CAMERAS = 326,
    ID_3D_DECREASE_DISCREPANCY = 327,
    ID_3D_DECREASE_NORMALS = 328,
    ID_3D_INCREASE_AXIS = 329,
    ID_3D_DECREASE_AXIS = 330,
    ID_3D_321 = 343,
    ID_3D_VIEW_POINT_ELLIPSOIDS = 347,
    ID_3D_INCREASE_ELLIPSOIDS = 348,
    ID_3D_DECREASE_ELLIPSOIDS = 349,
    ID_3D_CREATE_IMAGE = 353,
    ID_3D_CREATE_IMAGE_AIM = 354,
    ID_3D_VIEW_NORMALS = 318,
    ID_3D_VIEW_RAYS = 366,
    ID_3D_RELABEL = 378,
    ID_3D_VIEW_LABELS = 382,
    ID_3D_DRAW_LINES = 386,
    ID_3D_PRECISION_ELLIPSOIDS = 390,
    ID_3D_PRECISION_AXES = 391,
    ID_3D_DELETE = 32818,
    ID_3D_VIEW_CAMERAS = 32980,
    ID_3D_VIEW_SCALEBARS = 32981,
    ID_3D_DISTANCE = 32983,
    ID_3D_BEST_FIT_PLANE = 32984,
    ID_3D_BEST_FIT_LINE = 32985,
    ID_3D_BEST_FIT_CIRCLE = 32986,
    ID_3D_BEST_FIT_SPHERE = 32987,
    ID_3D_INCREASE_POINT_SIZE_2 = 32988,
    ID_3D_DECREASE_POINT_SIZE_2 = 32989,
    ID_3D_HIGHLIGHT = 32995,
    ID_3D_VIEW_DISCREPANCIES = 33010,
    ID_3D_INCREASE_AXIS_2 = 33021,
    ID_3D_DECREASE_AXIS_2 = 33022,
    ID_3D_RELABEL_2 = 33100,
};

class C3DView : public QOpenGLWidget, public CView, public C321Preview {
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
    void OnResetGLContext() { Redraw(); }
    // Box, centres, eye distance (the layer commands call it).
    void RefreshScene();

    void ResetViewState();
    // The 3-2-1 alignment's frame (4 x 4), drawn with the world axes until cleared.
    void ShowAlignmentFrame(const double transformation[16]);
    void ClearAlignmentFrame() { m_bAlignmentShown = false; }

    // Message 0x453 schedules a repaint, 0x454 relabels; the rest is not the view's.
    std::intptr_t OnHubMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override;

    // While the user turns, pans, spins or zooms: when the last full frame
    // took longer than kSlowFrameMs, frames show an even subset of at most
    // kThinnedPoints points; the full set again once the motion ends.
    // Labels and discs take part: at most kThinnedLabels labels and
    // kThinnedDiscs discs in such a frame.
    static constexpr double kSlowFrameMs = 30.0;
    static constexpr int kThinnedPoints = 250000;
    static constexpr int kThinnedLabels = 20000;
    static constexpr int kThinnedDiscs = 25000;
    void SetMoving(bool moving);
    bool IsMoving() const { return m_bMoving; }
    double GetLastFullFrameMs() const { return m_dLastFullFrameMs; }
    // The next frame takes this as the time of the last full frame.
    void SetLastFullFrameMs(double ms) { m_dLastFullFrameMs = ms; }
    int GetThinning() const { return m_pointDrawer.GetThinning(); }
    int GetLabelThinning() const { return m_nLabelStride; }
    int GetDiscThinning() const { return m_pointDrawer.GetDiscThinning(); }
    // Labels from the bitmap-font lists at each point's raster position and
    // discs one by one from the disc list, as selection mode draws them,
    // instead of from their buffers.
    void SetDirectDrawing(bool direct);
    CPointLabelDrawer& GetLabelDrawer() { return m_labelDrawer; }
    // The font of the point labels (a 10-pixel Courier).
    static QFont GetLabelFont();

    // --- selection and picking ---
    // Appends the point (taken out first when it was there), marks it.
    void SelectPoint(CObjectPoint* point);
    void DeselectPoint(CObjectPoint* point);
    // Empties the selection; no point and no line of the set stays selected.
    void ClearSelection();
    const CObjectPointArray& GetSelection() const { return m_selection; }
    // Picks at window position (x, y) (y down), or over the rubber band
    // when one is set; remove: Ctrl was held.
    void Pick(int x, int y, bool remove);
    void SetRubberBand(const QRect& band) { m_rubberBand = band; }
    // The names of the objects in the pick region of the last paint: the
    // rectangle centred on (x, y) (window, y down), in the order selection
    // mode records them. cpu: points and vector symbols tested on the CPU,
    // the rest in selection mode; else the whole scene in selection mode.
    std::vector<unsigned> CollectHits(double x, double y, double width, double height, bool cpu);
    void DecodeHit(unsigned name, bool remove);
    // The last non-zero name (the first when all are 0) as one hit.
    void DecodeHits(const std::vector<unsigned>& names, bool remove);
    void SelectArea(const std::vector<unsigned>& names, bool remove);
    // The names of the scene as it is now.
    CPickNames GetPickNames() const;
    bool IsDrawLinesMode() const { return m_bDrawLines; }
    void SetDrawLinesMode(bool on) { m_bDrawLines = on; }
    const QRect& GetScaleMarker() const { return m_scaleMarker; }
    bool IsOverScaleMarker() const { return m_bOverScaleMarker; }

    // --- commands ---
    // The context menu "OpenGlView", checked and greyed for the present
    // state; its actions run the view's commands. The caller owns it.
    QMenu* BuildContextMenu(QWidget* parent);
    // Scene length per millimetre of the screen from the set's first and
    // last point; false (s unchanged) when it cannot be measured.
    bool GetScreenScale(double& s);
    // The millimetres per pixel of the screen the view is on.
    static double GetMillimetresPerPixel(const QWidget* widget);
    void ComputeDiscrepancyScale();
    void ComputeErrorEllipsoidScale();
    // The label is held by a point of the set, or for a driver or control
    // set by an active observation.
    bool IsPointLabelInUse(const CNameBuffer& label) const;
    void OnRelabel();
    void OnDelete();
    void On321();
    // The toolbar's label box (1854) and increment (1855) show the view's values.
    void RefreshToolbarFields();
    // The label number plus the increment (a negative number becomes 0).
    void AdvanceLabel();
    CNameBuffer GetLabelText() const { return m_relabel.startLabel; }
    void SetLabelText(const CNameBuffer& label) { m_relabel.startLabel = label; }
    int GetLabelIncrement() const { return m_relabel.increment; }
    void SetLabelIncrement(int increment) { m_relabel.increment = increment; }
    float GetPointSize() const { return m_fPointSize; }
    int GetDiscrepancyScale() const { return m_nDiscrepancyScale; }
    int GetNormalScale() const { return m_nNormalScale; }
    double GetEllipsoidScale() const { return m_dEllipsoidScale; }
    void SetEllipsoidScale(double scale) { m_dEllipsoidScale = scale; }
    void SetDiscrepancyScale(int scale) { m_nDiscrepancyScale = scale; }
    bool IsErrorDataPrepared() const { return m_bErrorDataPrepared; }

    // New images from the view. The camera: none in the project is said,
    // one is taken, several are chosen from; null when there is none.
    CCamera* GetCameraForNewImage();
    // The station on the axis of the view's eye, at the distance from the
    // scene centre where the camera's picture covers the view's height, with
    // the view's rotation; false, image unchanged, when the camera gives no
    // such distance.
    bool SetImageFromView(CProjectImage& image, const CCamera& camera) const;
    void OnCreateImage();
    // Only with exactly one selected point: the station of OnCreateImage
    // turned so that its optical axis meets the point.
    void OnCreateImageByAimPoint();

    // The 3-2-1 dialog's preview.
    void SetPreviewFlag(std::uint8_t flag) override { m_bAlignmentShown = flag != 0; }
    void SetPreviewMatrix(const NEWMAT::Matrix& transformation) override;
    void InvalidatePreview() override { Redraw(); }
    bool IsAlignmentShown() const { return m_bAlignmentShown; }

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
    // The scenes drawn by paints so far.
    long GetScenePaintCount() const { return m_nScenePaints; }
    bool HasTextLists() const { return m_textLists.GetBase() != 0 && m_fontLists.GetBase() != 0; }

protected:
    void initializeGL() override;
    void resizeGL(int width, int height) override;
    void paintGL() override;
    // Paints that only child widgets (the info label, the rubber band) asked
    // for keep the framebuffer's scene.
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // Claims the view's Ctrl keys before the main window's shortcuts see them.
    bool event(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    // What a pass of DrawScene draws.
    enum DrawPart { DRAW_ALL, DRAW_BEFORE_VECTORS, DRAW_AFTER_VECTORS };
    void InstallCommands();
    void CreateImage(bool aim);
    void OnLeftButtonUp(const QPoint& at, Qt::KeyboardModifiers modifiers);
    void OnScaleMarkerClick();
    void AddLinesFromSelection();
    void ShowText(const QString& text, const QPoint& at);
    void HideText();
    // Selection mode over one part of the scene: the names of its records.
    std::vector<unsigned> SelectNames(const double pick[16], DrawPart part, int buffered);
    // The selection list follows the set's selected flags (marked elsewhere
    // too): unmarked points leave it, marked ones join it in set order.
    void SyncSelection();
    // The point and stations no longer in the set or the project leave the selection.
    void PruneSelection();
    // The set's lines with both ends found, and the buffers made from them.
    void ResolveLines();
    const CObjectPoint* FindLabel(const char* text) const;
    void InvalidateBuffers();
    void SceneRefresh();
    // The scene changed: the next paint draws it again.
    void Redraw()
    {
        m_bSceneDirty = true;
        update();
    }
    void ToggleCameraPrecision(bool axes);
    void StartMotion();
    void EndMotion();
    // The set's file written again after a change; a failure is named.
    void RewriteSetFile();
    void ReadDocument();
    void ReleaseLists();
    void ComputeClip();
    void ApplyEyeTransform();
    void DrawOverlay();
    void DrawScene();
    void DrawPointsAndLabels();
    void DrawLines(unsigned nameBase);
    // From the selected stations and/or to the selected points; none
    // without a selection.
    void DrawImagingRays();
    void DrawEODevice(unsigned name);
    void DrawScaleBars(unsigned nameBase);
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
    CPointLabelDrawer m_labelDrawer;
    bool m_bDirectDrawing = false;
    int m_nLabelStride = 1;
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

    DrawPart m_drawPart = DRAW_ALL;
    // The picked points in picking order; each point's flag mirrors membership.
    CObjectPointArray m_selection;
    struct ResolvedLine {
        int index;
        const CObjectPoint* a;
        const CObjectPoint* b;
    };
    std::vector<ResolvedLine> m_lines;
    bool m_bLinesValid = false;
    CSegmentBuffer m_lineBuffer;
    CSegmentBuffer m_selectedLineBuffer;
    QRect m_rubberBand;
    QRubberBand* m_pBand = nullptr;
    QPoint m_bandOrigin;
    bool m_bLeftDown = false;
    bool m_bLeftClick = false; // a click or rubber band is being handled
    bool m_bRightDown = false;
    bool m_bRightMoved = false;
    QPoint m_lastMouse;
    QPoint m_mouse;
    QRect m_scaleMarker;
    bool m_bOverScaleMarker = false;
    bool m_bErrorDataPrepared = false;
    bool m_bDrawLines = false;
    CRelabelMemory m_relabel;
    QString m_refusedLabelText; // the toolbar's label text when it is no label
    bool m_bToolbarSync = false;
    QTimer m_wheelTimer;
    bool m_bSceneDirty = true;
    long m_nScenePaints = 0;
    // The framebuffer that holds the last scene, and its size.
    unsigned m_nFrameBuffer = 0;
    QSize m_frameSize;
};

// Dialog 364: a new error-ellipsoid (kind 0) or discrepancy-vector (kind 1) scale.
class C3DViewScaleDlg : public CDialog {
public:
    // A value of exactly -1 leaves the field at 0.
    C3DViewScaleDlg(double value, int kind, QWidget* parent = nullptr);
    bool OnInitDialog() override;
    void DoDataExchange(CDataExchange* dx) override;
    static constexpr int kScale = 1218;
    double m_dScale = 0.0;

private:
    int m_nKind;
};
