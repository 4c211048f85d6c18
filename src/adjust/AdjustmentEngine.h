// The adjustment engine. So far it holds the collinearity geometry of single
// points, which the triangulation of all points calls for every point.
#pragma once

template <class T>
class CDynArray;
class CCameraList;
class CImageObservation;
class CMatrix;
class CObjectPoint;
class CProjectImage;
class CProjectImageList;
class CProjectSettings;

class CAdjustmentEngine {
public:
    // Intersects one point from its rays (the point's observation index
    // table, one entry per image of the list). pass 0 places the point and
    // gives its standard errors; a later bundle pass keeps the coordinates
    // and refreshes residuals, ray counts and rejections. True with rms the
    // RMS of the point's image residuals in mm.
    static bool IntersectPoint(double& rms, CObjectPoint& point, CProjectImageList& images,
                               const CCameraList& cameras, const CProjectSettings& settings, int pass);
    // The same over an array of image pointers (the images of a run).
    static bool IntersectPoint(double& rms, CObjectPoint& point, const CDynArray<CProjectImage>& images,
                               const CCameraList& cameras, const CProjectSettings& settings, int pass);

    // Linear start value from every usable ray of an enabled image; false
    // (point unchanged) with fewer than two rays or a singular system.
    static bool ApproximatePoint(CObjectPoint& point, CProjectImageList& images, const CCameraList& cameras);
    static bool ApproximatePoint(CObjectPoint& point, const CDynArray<CProjectImage>& images,
                                 const CCameraList& cameras);

    // The 2 x 4 block of one ray (derivatives of the residual with respect
    // to X, Y, Z, then the residual, measured minus computed) and the
    // residuals written into the observation. False, block and observation
    // unchanged, when the image's camera is missing, the observation cannot
    // be corrected, or the point lies in the camera's image plane.
    static bool FormRayEquations(const CObjectPoint& point, const CProjectImage& image,
                                 const CCameraList& cameras, CImageObservation& observation, CMatrix& block);
};
