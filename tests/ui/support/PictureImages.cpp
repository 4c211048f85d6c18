#include "PictureImages.h"

#include "ProjectBuilder.h"
#include "TargetRenderer.h"

#include "Camera.h"
#include "ProjectImage.h"

CCamera* AddPictureImages(CProjectDocument& doc, const std::string& folder, int count)
{
    const TargetScene scene = DarkDiscScene(120, 90, {{60.0, 45.0}}, 5.0, 0.7, 1.0);
    const std::string path = folder + "/picture.bmp";
    if (!WritePicture(path, RenderScene(scene)))
        return nullptr;
    CCamera* camera = AddCamera(doc, "Cam");
    camera->XPixels = scene.width;
    camera->YPixels = scene.height;
    camera->XPixelSize = camera->YPixelSize = 0.01;
    for (int i = 0; i < count; ++i)
        AddImage(doc, {"Cam", true, false, 0})->SetFilePath(path.c_str());
    return camera;
}
