#include "ImageRays.h"

#include <cmath>

#include "Camera.h"
#include "Distortion.h"
#include "ImageObservation.h"
#include "ProjectImage.h"

bool CorrectedImageCoordinates(const CProjectImage& image, const CCamera& camera,
                               const CImageObservation& observation, double& x, double& y)
{
    CImageObservation work(observation.label, observation.x, observation.y);
    const int parameters = image.transformation.GetSize();
    if ((parameters == 4 || parameters == 6) && !image.UntransformObservation(work))
        return false;
    CorrectDistortion(work, camera);
    if (!std::isfinite(work.x) || !std::isfinite(work.y))
        return false;
    x = work.x;
    y = work.y;
    return true;
}

const CCamera* FindImageCamera(const CProjectImage& image, const CCameraList& cameras)
{
    return cameras.FindByName(image.GetCameraName().GetText());
}
