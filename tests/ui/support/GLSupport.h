// OpenGL helpers of the GUI tests.
#pragma once

// Keeps Mesa's driver mapped for the process, so that the leak checker can
// name the allocations it keeps (its suppressions then match).
void KeepGLDriverLoaded();
// Whether an OpenGL context can be made and made current here.
bool CanMakeGLContext();
