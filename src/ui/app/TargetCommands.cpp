// The document's commands that fit target ellipses to the grey values of
// every measured target and compute the normals of circular targets.
#include "KestrelonDoc.h"

#include <memory>
#include <vector>

#include "CentroidSettings.h"
#include "CircleTarget.h"
#include "DisplayImage.h"
#include "GreyEllipseModel.h"
#include "Hub.h"
#include "ImageRowCache.h"

void CKestrelonDoc::OnComputeTargetEllipses()
{
    bool fitted = false;
    for (int i = 0; i < images.GetSize(); ++i) {
        CProjectImage* image = images.GetAt(i);
        if (image == nullptr)
            continue;
        const CCamera* camera = cameras.FindByName(image->GetCameraName().GetText());
        if (camera == nullptr || image->targets.GetSize() == 0)
            continue;
        const char* path = image->GetFilePath().GetText();
        std::unique_ptr<CDisplayImage> picture = CreateDisplayImage(path);
        if (!picture || picture->Load(path, 0) != 1)
            continue;
        {
            CImageRowCache rows(picture.get(), 10, GetCentroidSettings().invert != 0);
            CTargetEllipseFitter fitter(*image, *camera, rows);
            fitter.Run();
        }
        fitted = true;
        picture.reset();
        SendHubMessage(UM_REDRAW_IMAGE, 0, reinterpret_cast<std::intptr_t>(image));
    }
    // The observations' ellipses were replaced.
    if (fitted)
        SetModifiedFlag(true);
}

void CKestrelonDoc::OnComputeTargetNormals()
{
    std::vector<const CProjectImage*> collected;
    for (int i = 0; i < images.GetSize(); ++i) {
        const CProjectImage* image = images.GetAt(i);
        if (image && image->enabled && image->oriented && image->targets.GetSize() > 0)
            collected.push_back(image);
    }
    CPointSet* driver = pointSets.GetDriverSet();
    if (driver == nullptr || collected.size() < 2)
        return;
    CCircleTargetSolver solver(collected, *driver, cameras);
    solver.Run();
    // Every point of the set got a new normal, or lost its old one.
    SetModifiedFlag(true);
}
