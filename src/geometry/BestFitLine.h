// Best-fit line in space: the point coordinates are observations, each
// point gives two collinearity conditions, the line's point in the plane of
// its held coordinate and its direction are the unknowns.
#pragma once

#include "BestFit.h"

namespace fit {
class CNormals;
}

class CBestFitLine : public CBestFit {
public:
    explicit CBestFitLine(const CObjectPointList& source);
    explicit CBestFitLine(const CObjectPointArray& source);

    bool Fit() override;
    bool ComputeApproximation() override;
    bool Adjust() override;
    bool RejectPoints() override;

    double GetResidualX(int i) const { return residual[i][0]; }
    double GetResidualY(int i) const { return residual[i][1]; }
    double GetResidualZ(int i) const { return residual[i][2]; }
    double GetPointDistance(int i) const { return residual[i][3]; }
    double GetRmsVX() const { return rmsV[0]; }
    double GetRmsVY() const { return rmsV[1]; }
    double GetRmsVZ() const { return rmsV[2]; }
    double GetRmsVXYZ() const { return rmsV[3]; }
    int GetHeldComponent() const { return held; }

    double Xo = 0.0, Yo = 0.0, Zo = 0.0;
    double u = 0.0, v = 0.0, w = 0.0;
    double sigma0 = 0.0;

protected:
    struct Row {
        double values[4];
        double& operator[](int k) { return values[k]; }
        double operator[](int k) const { return values[k]; }
    };

    // One end of the cloud along its longest axis.
    const CObjectPoint* FindEndPoint() const;
    void ComputeCentroid(double m[3]) const;
    void ComputeMeanDirection(const CObjectPoint& end, double d[3]) const;
    // Misclosures, design rows and residuals of one point at the current
    // parameters: A (3x5), M^-1 (3x3), w (3), v (4). False when the
    // conditions are degenerate.
    bool FormConditionEquations(const CObjectPoint& p, double A[15], double Minv[9], double wv[3], double res[4]) const;
    // Residuals of every point at the current parameters, with the sums over
    // the points within the cutoff.
    bool FormResiduals(fit::CNormals* normals, int& used);

protected:
    std::vector<Row> residual;
    double rmsV[4] = {0.0, 0.0, 0.0, 0.0};
    int held = 0;
};
