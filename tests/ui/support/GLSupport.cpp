#include "GLSupport.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>

#include <dlfcn.h>

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
