// The fixed-function state both scene views start their context with.
#pragma once

// Opaque black clear colour, depth 1, depth test and back faces culled.
void InitSceneState();
