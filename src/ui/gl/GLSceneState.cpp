#include "GLSceneState.h"

#include <GL/gl.h>

void InitSceneState(float clearAlpha)
{
    glClearColor(0, 0, 0, clearAlpha);
    glClearDepth(1.0);
    glEnable(GL_DEPTH_TEST);
    glCullFace(GL_BACK);
    glEnable(GL_CULL_FACE);
}
