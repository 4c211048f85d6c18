// Image ellipses that need a camera, an image or the distortion correction:
// the image of a circular target, the conversion of an ellipse measured in
// pixels into image millimetres, and conics rebuilt from distortion-corrected
// samples.
#pragma once

class CCamera;
class CObjectPoint;
class CProjectImage;
class CTargetEllipse;
class CVector;

// Sets the ellipse to the image of the point's circular target (its normal
// and radius) seen from the image's station with the camera's principal
// distance (no principal point, no distortion). False, ellipse unchanged,
// when the point has no normal or no positive radius, the circle is not
// wholly in front of the camera, or its image is no ellipse.
bool ProjectCircle(CTargetEllipse& ellipse, const CObjectPoint& point, const CProjectImage& image,
                   const CCamera& camera);

// The ellipse holds centre, semi-axes and rotation in pixels. Writes the five
// conic coefficients in millimetres (centred at the new centre) into conic
// and sets the ellipse, and its covariance when it has one, in millimetres.
// False, ellipse unchanged, for pixel sizes or semi-axes that are not
// positive.
bool ConvertPixelEllipse(CTargetEllipse& ellipse, const CCamera& camera, CVector& conic);

// ConvertPixelEllipse, then the seven conic parameters (q1..q5 and the new
// centre as reference point) into the ellipse's conic.
bool ComputeConicFrom(CTargetEllipse& ellipse, const CCamera& camera);

// Corrects the ellipse for lens distortion. centreOnly: the centre is
// corrected and the conic rebuilt around it with the same axes and rotation.
// Otherwise ten points of the ellipse are corrected and the conic is fitted
// to them. False when the fit fails.
bool ComputeConicFromSamples(CTargetEllipse& ellipse, const CCamera& camera, bool centreOnly);
