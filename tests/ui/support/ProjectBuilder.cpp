#include "ProjectBuilder.h"

CCamera* AddCamera(CProjectDocument& doc, const char* identifier)
{
    CCamera* camera = doc.cameras.AddNew();
    camera->identifier = identifier;
    return camera;
}

CProjectImage* AddImage(CProjectDocument& doc, const ImageShape& shape)
{
    CProjectImage* image = doc.images.AddNew();
    image->name = ("Image" + std::to_string(doc.images.GetSize())).c_str();
    image->cameraName = shape.camera;
    image->enabled = shape.enabled;
    image->oriented = shape.resected;
    for (int i = 0; i < shape.observations; ++i) {
        CImageObservation o(CNameBuffer(("P" + std::to_string(i + 1)).c_str()), 0.1 * i, -0.2 * i);
        o.disabled = i < shape.disabled;
        image->targets.AddSorted(o);
    }
    return image;
}

CPointSet* AddPointSet(CProjectDocument& doc, const char* path)
{
    CPointSet* set = doc.pointSets.AddNew();
    set->SetName(path);
    return set;
}
