// Projects built by hand for the tree and command tests: cameras, images
// with their flags and observations, point sets.
#pragma once

#include "ProjectDocument.h"

#include <string>

struct ImageShape {
    const char* camera;
    bool enabled;
    bool resected;
    int observations;     // labels "P1", "P2", ...
    int disabled = 0;     // of them, the first ones disabled
};

// Appends a camera of that identifier and returns it.
CCamera* AddCamera(CProjectDocument& doc, const char* identifier);
// Appends an image named "Image<n>" (n from 1) with the flags and observations.
CProjectImage* AddImage(CProjectDocument& doc, const ImageShape& shape);
// Appends a point set of that file path.
CPointSet* AddPointSet(CProjectDocument& doc, const char* path);
