// Images of one small rendered picture, for tests that need image windows
// showing a picture without caring what it holds.
#pragma once

#include <string>

class CCamera;
class CProjectDocument;

// Appends camera "Cam" and count enabled images ("Image1", ...) of one picture
// written into the folder; null when the picture cannot be written.
CCamera* AddPictureImages(CProjectDocument& doc, const std::string& folder, int count);
