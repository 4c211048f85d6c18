// OpenGL helpers of the GUI tests.
#pragma once

// Keeps Mesa's driver mapped for the process, so that the leak checker can
// name the allocations it keeps (its suppressions then match).
void KeepGLDriverLoaded();
// Whether an OpenGL context can be made and made current here.
bool CanMakeGLContext();

#include <QPoint>

class C3DView;
// Window pixel (x right, y down) of a scene point, projected here from the
// last paint's matrices and the scene centre.
QPoint ProjectToWindow(const C3DView& view, double x, double y, double z);
