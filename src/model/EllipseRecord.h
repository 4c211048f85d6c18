// An image ellipse in geometric form (centre, semi-axes, rotation, 5x5
// covariance) and, derived from it, the target ellipse that also keeps the
// ellipse as a conic centred at a reference point.
#pragma once

#include "Matrix.h"
#include "Vector.h"

class CBinArchive;
class CCamera;
class CObjectPoint;
class CObservationList;
class CProjectImage;

// Distance from (p, q) to the ellipse with semi-axis a along p and b along q;
// 9999.0 when either semi-axis is below 0.0001.
double ComputeEllipseMeasure(double p, double q, double a, double b);

class CEllipseRecord {
public:
    CEllipseRecord();
    CEllipseRecord(const CEllipseRecord& other);
    CEllipseRecord& operator=(const CEllipseRecord& other);
    virtual ~CEllipseRecord();

    // The larger value becomes the major semi-axis.
    void SetAxes(double first, double second, double rotation);
    void SetCovariance(const CMatrix& matrix);

    // The point at parameter t:
    // x = m cos t cos r - M sin t sin r + xc, y = m cos t sin r + M sin t cos r + yc.
    void PointAt(double t, double& px, double& py) const;
    // The point at t of this ellipse moved to the centre (px, py).
    void PointResidual(double t, double px, double py, double& rx, double& ry) const;
    double DistanceToPoint(double px, double py) const;

    // Covariance J S J' of the five normalised conic coefficients of this
    // ellipse (conic centred at the ellipse centre), from the covariance S of
    // (centre x, centre y, major, minor, rotation). False, with a zero 5x5
    // result, when the record has no 5x5 covariance.
    bool BuildConicWeight(CMatrix& out) const;

    virtual bool Serialize(CBinArchive& ar, int* version);

    double centreX;
    double centreY;
    double major;    // perpendicular to the rotation direction
    double minor;    // along the rotation direction
    double rotation; // radians from the x axis to the minor semi-axis
    CMatrix covariance;

private:
    // The 5x5 derivatives of the normalised coefficients (rows) with respect
    // to centre x, centre y, major, minor, rotation (columns).
    void BuildConicJacobian(CMatrix& jacobian) const;
};

class CTargetEllipse : public CEllipseRecord {
public:
    CTargetEllipse();
    CTargetEllipse(const CTargetEllipse& other);
    CTargetEllipse& operator=(const CTargetEllipse& other);
    ~CTargetEllipse() override;

    // Stores the five values and forms the conic centred at (xc, yc).
    bool SetFromParameters(double xc, double yc, double majorAxis, double minorAxis, double r);
    // Centre, semi-axes and rotation of q1 u^2 + q2 u v + q3 v^2 + q4 u + q5 v = 1,
    // u = x - x0, v = y - y0.
    bool ConicToEllipse(double q1, double q2, double q3, double q4, double q5, double x0, double y0);
    // The conic as a1 x^2 + a2 x y + a3 y^2 + a4 x + a5 y = 1; false (and
    // nothing written) without seven conic parameters.
    bool GetNormalizedConic(CVector& out) const;

    bool FitToPoints(const CObservationList& points, double* rms = nullptr);
    // Fits to the iso-line at level threshold of a row-major grid of
    // columns x rows values (x = column index, y = row index).
    bool ComputeInitialEllipse(const int* grid, int columns, int rows, double threshold, double* rms = nullptr);

    bool Serialize(CBinArchive& ar, int* version) override;

    // Empty or (q1, q2, q3, q4, q5, x0, y0).
    CVector conic;
};

// Least-squares conic through at least five points of the list; sets the
// ellipse and, when asked, the seven conic parameters and the RMS distance.
bool FitConicToPoints(CTargetEllipse& ellipse, const CObservationList& points, CVector* conic = nullptr,
                      double* rms = nullptr);
