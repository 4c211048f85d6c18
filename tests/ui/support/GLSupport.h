// OpenGL helpers of the GUI tests.
#pragma once

// Keeps Mesa's driver mapped for the process, so that the leak checker can
// name the allocations it keeps (its suppressions then match).
void KeepGLDriverLoaded();
// Whether an OpenGL context can be made and made current here.
bool CanMakeGLContext();

#include <QPoint>

class C3DView;
class QOpenGLWidget;
// Shows the widget at that size and waits for its exposure; false when it
// has no valid OpenGL context.
bool ShowGLWidget(QOpenGLWidget& widget, int width, int height);
// Window pixel (x right, y down) of a scene point, projected here from the
// last paint's matrices and the scene centre.
QPoint ProjectToWindow(const C3DView& view, double x, double y, double z);

class CMainFrame;
class QString;
// Opens the 3D view of the active project frame on the point set of that
// title as a double-click on its tree item does, and paints it once; null
// when the view cannot be opened or shown.
C3DView* OpenPointSetView(CMainFrame* main, const QString& title);
