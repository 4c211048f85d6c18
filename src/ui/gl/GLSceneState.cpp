#include "GLSceneState.h"

#include <GL/gl.h>

void InitSceneState()
{
    // Opaque: a picture of the widget (grabFramebuffer, QWidget::grab) is
    // composed with the framebuffer's alpha, and shows black as the screen does.
    glClearColor(0, 0, 0, 1);
    glClearDepth(1.0);
    glEnable(GL_DEPTH_TEST);
    glCullFace(GL_BACK);
    glEnable(GL_CULL_FACE);
}
