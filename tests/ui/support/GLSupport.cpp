#include "GLSupport.h"

#include <QOffscreenSurface>
#include <QOpenGLWidget>
#include <QTest>
#include <QOpenGLContext>

#include "3DView.h"
#include "Frames.h"
#include "KestrelonView.h"
#include "MainFrame.h"

#include <dlfcn.h>

#include <cmath>

void KeepGLDriverLoaded()
{
    static const bool kept = [] {
        for (const char* library : {"/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so", "libLLVM-15.so.1"})
            dlopen(library, RTLD_LAZY | RTLD_NODELETE);
        return true;
    }();
    (void)kept;
}

bool CanMakeGLContext()
{
    KeepGLDriverLoaded();
    QOffscreenSurface surface;
    surface.create();
    QOpenGLContext context;
    if (!context.create() || !context.makeCurrent(&surface))
        return false;
    context.doneCurrent();
    return true;
}

bool ShowGLWidget(QOpenGLWidget& widget, int width, int height)
{
    widget.resize(width, height);
    widget.show();
    if (!QTest::qWaitForWindowExposed(&widget))
        return false;
    return widget.context() && widget.context()->isValid();
}

QPoint ProjectToWindow(const C3DView& view, double x, double y, double z)
{
    const double* c = view.GetSceneCentre();
    const double p[4] = {x - c[0], y - c[1], z - c[2], 1.0};
    double eye[4] = {0, 0, 0, 0}, clip[4] = {0, 0, 0, 0};
    const double* m = view.GetLastModelview();
    const double* P = view.GetLastProjection();
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            eye[i] += m[j * 4 + i] * p[j];
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            clip[i] += P[j * 4 + i] * eye[j];
    const double nx = clip[0] / clip[3], ny = clip[1] / clip[3];
    const int w = view.width(), h = view.height();
    return {int(std::floor((nx + 1.0) / 2.0 * w)), h - 1 - int(std::floor((ny + 1.0) / 2.0 * h))};
}

C3DView* OpenPointSetView(CMainFrame* main, const QString& title)
{
    auto* frame = main ? dynamic_cast<CProjectFrame*>(main->MDIGetActive()) : nullptr;
    CKestrelonView* tree = frame ? frame->GetTreeView() : nullptr;
    if (!tree)
        return nullptr;
    const auto found = tree->findItems(title, Qt::MatchExactly | Qt::MatchRecursive);
    if (found.isEmpty())
        return nullptr;
    tree->setCurrentItem(found.first());
    tree->OpenItem(found.first(), 0); // the double-click
    auto* view = dynamic_cast<C3DView*>(frame->GetRightPane());
    if (!view || !QTest::qWaitForWindowExposed(view))
        return nullptr;
    view->grabFramebuffer();
    return view;
}
