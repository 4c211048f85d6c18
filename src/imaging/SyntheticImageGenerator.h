// Renders the circular targets of a point set as one image sees them through
// its camera into an 8-bit grey image, and records simulated measurements of
// them. Pixel coordinates here have pixel centres at integers.
#pragma once

#include <cstdint>
#include <vector>

#include "EllipseRecord.h"
#include "ImageStore.h"

class CCamera;
class CObjectPoint;
class CPointSet;
class CProjectImage;

class CSyntheticImageGenerator {
public:
    // Observation kinds.
    enum { kProjectedCentre = 0, kEllipseCentre = 1, kGreyCentroid = 2 };
    // Coverage methods.
    enum { kLinear = 0, kNumerical = 1, kExact = 2 };
    // Normal sources.
    enum { kOwnNormal = 0, kDefaultNormal = 1, kOwnOrDefaultNormal = 2 };

    CSyntheticImageGenerator(const CPointSet& points, CProjectImage& image, const CCamera& camera,
                             double observationSigma);

    // The largest angle (radians) between a target's normal and its viewing ray.
    void SetMaxViewAngle(double angle);
    // The default normal and the default target radius (fourth), which the
    // normal sources 1 and 2 take as they take the default normal.
    void SetParameters(double nx, double ny, double nz, double fourth);

    // Renders and/or records every visible target. False only when the image
    // store cannot be created for the camera's size.
    bool Render(int observationKind, int coverageMethod, int steps, uint8_t recordObservations,
                uint8_t attachEllipses, int normalSource, int renderImage);

    // Without drawing or recording anything: the targets whose centre the
    // image sees (in view and inside the picture), and the targets that
    // would put a grey value into the picture.
    void CountTargets(int coverageMethod, int steps, int normalSource, int& inView, int& drawn);
    // The targets of the last Render that put a grey value into the picture.
    int GetDrawnTargets() const { return targetsDrawn; }

    CImageStore& GetStore() { return store; }
    // The ellipse of the target rendered last.
    const CTargetEllipse& GetTargetEllipse() const { return ellipse; }

private:
    struct Conic {
        double a, b, c, d, e, x0, y0;
        double F(double x, double y) const;
        // The boundary's y at x on the upper (sign +1) or lower branch; false
        // outside the ellipse's x range.
        double YOf(double x, double sign) const;
        bool XRange(double& lo, double& hi) const;
        bool YRange(double& lo, double& hi) const;
        // Roots in x of the boundary on the line at y; count 0 to 2.
        int XAtY(double y, double roots[2]) const;
        int YAtX(double x, double roots[2]) const;
        double IntegrateExact(double x1, double x2, double sign) const;
        double IntegrateTrapezoid(double x1, double x2, double sign, int steps) const;
    };

    bool ProjectTarget(const CObjectPoint& point, int observationKind, bool needEllipse, int normalSource,
                       double& column, double& row, double& ix, double& iy);
    double CoveredFraction(const Conic& q, int flags, int column, int row, int method, int steps) const;
    static double LinearFraction(const Conic& q, int flags, int column, int row);

    const CPointSet& points;
    CProjectImage& image;
    const CCamera& camera;
    double viewAngleLimit = 0.5;
    double defaultNormal[3] = {0.0, 0.0, 1.0};
    double fourthParameter = 10.0;
    double observationSigma;
    CTargetEllipse ellipse;
    std::vector<uint8_t> cornerRaster;
    int32_t windowColumn = 0;
    int32_t windowRow = 0;
    CImageStore store;
    bool counting = false;
    int targetsInView = 0;
    int targetsDrawn = 0;
};
