// Best-fit sphere and best-fit circle in space.
#pragma once

#include "BestFit.h"

// Shared by the sphere and the circle: centre and radius, the residual of
// every point, the approximation from the centroid.
class CBestFitRound : public CBestFit {
public:
    explicit CBestFitRound(const CObjectPointList& source);
    explicit CBestFitRound(const CObjectPointArray& source);

    // Centroid and mean distance from it over every point of the fit.
    bool ComputeApproximation() override;
    // The adjustments leave points out themselves.
    bool RejectPoints() override { return true; }

    double GetResidual(int i) const { return residuals[static_cast<size_t>(i)]; }

    double Xo = 0.0, Yo = 0.0, Zo = 0.0, R = 0.0;

protected:
    // The iterations shared by both shapes; planar adds the circle's
    // centre-on-plane condition and measures residuals within the plane.
    bool Iterate(bool planar, double convergence, int minIterations);

    std::vector<double> residuals;
    double plane[4] = {0.0, 0.0, 0.0, 0.0};
};

class CBestFitSphere : public CBestFitRound {
public:
    using CBestFitRound::CBestFitRound;

    bool Fit() override;
    bool Adjust() override;
};

class CBestFitCircle : public CBestFitRound {
public:
    using CBestFitRound::CBestFitRound;

    bool Fit() override;
    bool Adjust() override;
    // The plane of the points by a plane fit with the cutoff 0.1·R.
    bool FitPlane();

    double GetA() const { return plane[0]; }
    double GetB() const { return plane[1]; }
    double GetC() const { return plane[2]; }
    double GetD() const { return plane[3]; }
};
