// The fixed-function state both scene views start their context with.
#pragma once

// Black clear colour of the alpha, depth 1, depth test and back faces culled.
void InitSceneState(float clearAlpha);
