// Least-squares fit of a blurred elliptical disc on a constant background to
// the grey values of a target window, and the per-image driver that replaces
// every observation's ellipse by the fitted one.
#pragma once

#include "LsqModel.h"

class CCamera;
class CImageObservation;
class CImageRowCache;
class CProjectImage;
class CRegionGrid;
class CTargetEllipse;

// Grey value g = g0 + A Phi(d / s) of the cell in table row Y, column X, with
// u = (X - x0) cos t + (Y - y0) sin t, v = (Y - y0) cos t - (X - x0) sin t and
// d = 1 - (u^2 / a^2 + v^2 / b^2). Unknowns in the order A, s, x0, y0, a, b,
// t, g0.
class CGreyEllipseModel : public CLsqModel
{
public:
    enum { kA, kS, kX0, kY0, kSemiA, kSemiB, kTheta, kG0, kUnknowns };

    CGreyEllipseModel();

    // Cells other than -1 are the observations; tie adds one observation
    // that holds s near its starting value.
    void SetWindow(const CRegionGrid& grid, bool tieBlur);
    // The fitted ellipse in image pixels (centre moved by the origin), its
    // semi-axes shrunk to the contour at the given level (-1: none), its
    // covariance, and its conic with the camera.
    bool BuildTargetEllipse(CTargetEllipse& ellipse, const CCamera& camera, double originColumn,
                            double originRow, double level) const;

    int GetUnknownCount() const override { return kUnknowns; }
    int GetObservationCount() const override;
    int GetConstraintCount() const override { return 0; }
    bool ComputeApproximations() override;
    void GetDesignRows(int i, CMatrix& A) override;
    void GetSigma(int i, double& sigma) override;
    void GetMisclosures(int i, CVector& l) override;
    bool HasDiverged(double q) override;
    void ApplyCorrections() override;
    void OnCovariance() override;
    bool HasFiniteParameters() const override;

    // The modelled grey value at table column X, row Y.
    double ModelGrey(double X, double Y) const;

    const CRegionGrid* window = nullptr;
    CVector rowIndex;
    CVector columnIndex;
    CVector grey;
    double p[kUnknowns] = {};
    bool tie = false;
    double tieValue = 0.0;

private:
    int CountWindowCells() const;
};

class CTargetEllipseFitter
{
public:
    CTargetEllipseFitter(CProjectImage& image, const CCamera& camera, CImageRowCache& rows);
    ~CTargetEllipseFitter();

    // Fits every observation of the image; one that cannot be fitted is left
    // without an ellipse.
    void Run();
    bool ExtractWindow(const CImageObservation& observation);
    bool FitTarget(CTargetEllipse& ellipse);

private:
    CProjectImage& image;
    const CCamera& camera;
    CImageRowCache& rowSource;
    CImageObservation* current = nullptr;
    CRegionGrid* region = nullptr;
};
