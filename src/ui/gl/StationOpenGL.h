// The station window of "EDIT CAMERA STATION": the driver points as the
// camera at the edited station sees them, with the world axes. The right
// button turns (Shift: pans, Ctrl: rolls) the station, the wheel and the up
// and down keys move it along the viewing direction, the left button picks
// points (Shift adds, a drag selects an area), hovering shows a point's label,
// and the context menu turns the station to the selected point. Every change
// goes into the station record at once and the dialog's fields follow.
#pragma once

#include "GLDrawers.h"
#include "InfoOverlayEdit.h"
#include "StationMath.h"

#include <QOpenGLWidget>

#include <cstddef>
#include <functional>
#include <vector>

class CCamera;
class CPointSet;
class CProjectImage;
class QMenu;
class QAction;
class QRubberBand;

class CStationOpenGL : public QOpenGLWidget {
public:
    enum { ID_AIM_AT_SELECTION = 355, VK_UP_CODE = 38, VK_DOWN_CODE = 40 };

    explicit CStationOpenGL(QWidget* parent = nullptr);
    ~CStationOpenGL() override;

    // The records drawn and moved; the set may be null (nothing to draw).
    void SetScene(CProjectImage* station, const CCamera* camera, CPointSet* set);
    // Called after the station changed.
    void SetChangedHandler(std::function<void()> handler) { m_changed = std::move(handler); }

    // Repaints (the dialog calls it after writing its fields into the station).
    void OnPaint() { update(); }
    // Up (38) and down (40) move the station; false for any other code.
    bool OnChar(int code);
    // A wheel turn of delta (120 a notch) moves the station.
    void OnMouseWheel(int delta);
    // Turns the station to the first selected point.
    void OnAimAtSelection();
    // The context menu, its aim item greyed unless exactly one point is selected.
    QMenu* BuildContextMenu(QWidget* parent);
    // Shows the menu at the screen point (tests replace how it is run).
    using MenuRunner = std::function<QAction*(QMenu* menu, const QPoint& at)>;
    static MenuRunner SetMenuRunner(MenuRunner runner);

    // Picks at the cursor (client pixels) or in the pending pick rectangle:
    // with select the points hit are selected, else the label of the last
    // one is shown; returns the point indices hit, in the order of the hits.
    std::vector<int> Pick(const QPoint& cursor, bool select);
    void SetPickRect(const QRect& rect) { m_pickRect = rect; }

    CProjectImage* GetStation() const { return m_pStation; }
    CPointSet* GetPointSet() const { return m_pPointSet; }
    CInfoOverlayEdit& GetInfoOverlay() { return *m_pOverlay; }
    double GetSceneSize() const { return m_dSceneSize; }
    double GetAxisSize() const { return m_dAxisSize; }
    double GetFieldOfView() const { return m_fFieldOfView; }
    float GetNearPlane() const { return m_fNear; }
    float GetFarPlane() const { return m_fFar; }
    const CStationBox& GetSceneBox() const { return m_box; }
    bool IsMenuAllowed() const { return m_bMenuAllowed; }
    // True once OpenGL has been set up in the window.
    bool HasContext() const { return m_bReady; }
    // The projection (column-major) for the current size and clip range.
    void GetProjection(double m[16]) const;
    // The names that selection mode records for what draw draws in the
    // region, one per hit record (the context must be current; capacity in
    // buffer words, 4 per record).
    static std::vector<int> SelectionModeNames(const CPickRegion& region, const int viewport[4],
                                               const double projection[16], const double modelview[16],
                                               const std::function<void()>& draw, std::size_t capacity);

protected:
    void initializeGL() override;
    void resizeGL(int width, int height) override;
    void paintGL() override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void ReleaseLists();
    void DrawScene();
    // Repaints and tells the dialog.
    void Changed();
    QPoint Centre() const;
    // Selection-mode hits of the world axes (name 0) in the region.
    int PickAxes(const CPickRegion& region, const double modelview[16], const double projection[16],
                 const int viewport[4]);
    void ClearOverlay();

    float m_fAspect = 1.0f;
    float m_fFieldOfView = 45.0f;
    float m_fNear = 0.1f;
    float m_fFar = 10000.0f;
    CProjectImage* m_pStation = nullptr;
    const CCamera* m_pCamera = nullptr;
    CPointSet* m_pPointSet = nullptr;
    CPointSymbolDrawer m_pointDrawer;
    CTextListDrawer m_textLists;
    int m_nWidth = 0;
    int m_nHeight = 0;
    int m_nLarger = 1;
    CStationBox m_box;
    double m_dSceneSize = 100.0;
    double m_dAxisSize = 100.0 / 6.0;
    QPoint m_lastPoint;
    QPoint m_pressPoint;
    double m_startRotation[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    double m_dStartAngle = 0.0;
    CInfoOverlayEdit* m_pOverlay;
    QRect m_pickRect;
    bool m_bMenuAllowed = true;
    bool m_bReady = false;
    QRubberBand* m_pBand = nullptr;
    QPoint m_bandOrigin;
    std::function<void()> m_changed;
    QMetaObject::Connection m_contextGone;
};
