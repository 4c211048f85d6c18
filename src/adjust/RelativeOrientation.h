// Relative orientation of an image pair: the second image's base and rotation
// relative to the first, from the image points both have measured, by a
// least-squares adjustment of coplanarity conditions started from candidate
// base directions around the first station.
#pragma once

#include <vector>

#include "ProjectImageList.h"

namespace NEWMAT {
class Matrix;
}

class CCamera;
class CMatrix;
class CPointSet;
class CProjectImage;

class CRelativeOrientation {
public:
    // The references belong to the caller and outlive the object.
    CRelativeOrientation(CProjectImage& firstImage, CProjectImage& secondImage, CCamera& firstCamera,
                         CCamera& secondCamera, CPointSet& points, double baseLength);
    virtual ~CRelativeOrientation() = default;

    // Full search from the candidate directions: true when a solution was
    // found; the first image then sits at the origin with zero angles, the
    // second holds the solution and the point set the intersected common
    // points. False when none was found: both images then have their entry
    // positions, rotations and oriented flags back.
    bool Run();

    // One orientation from the second image's current pose (the second image
    // starts with the first image's rotation). Copies of the second image in
    // each accepted configuration (base b, -b, rotation flipped, ...). The
    // first image is left at the origin with zero angles; both images get
    // their entry rotations back; the point set is left empty.
    CProjectImageList Solve();

    // One least-squares step: updates base, angles, the second image's
    // rotation, correction and sigma0. False, nothing changed, when the
    // system is singular or a value is not finite.
    bool IterateStep();

    // Gathers the common points (labels usable in both images, neither
    // disabled nor fiducial), stores their count and returns it.
    int CountCommonPoints();

    // Second station mirrored through the first.
    void ReverseBase();
    // Second image turned half round the base line (through both
    // stations): R := R (2 b b' - I), b the unit base; for a base along X
    // that is R diag(1, -1, -1).
    void FlipRotation();

    // Clears the point set and intersects every common point into it; false
    // at the first point that does not intersect (earlier points stay).
    bool IntersectCommonPoints();

    // The base the next step starts from (Solve sets it from the second
    // station).
    void SetBase(double x, double y, double z);
    void GetBase(double b[3]) const;
    double GetAzimuth() const { return azimuth; }
    double GetElevation() const { return elevation; }
    double GetRoll() const { return roll; }
    int GetCommonPointCount() const { return commonPointCount; }
    // Sum of the squares of the six corrections of the last step.
    double GetCorrection() const { return correction; }
    // A-posteriori standard deviation of unit weight of the last step (0.0
    // without redundancy).
    double GetSigma0() const { return sigma0; }

    // Steps of one orientation at most, and the limit on the step's sum of
    // squared corrections below which it has converged.
    static constexpr int kMaxIterations = 100;
    static constexpr double kConvergenceLimit = 0.1;

private:
    struct CommonPoint {
        int first;  // index in the first image's targets
        int second; // index in the second image's targets
        double x1, y1, x2, y2;
    };

    // Steps from the present base and second rotation until the correction
    // is below the limit; the base is then scaled to the base length. False
    // when the steps fail or do not converge.
    bool Converge();

    // RMS (mm) of the two-image triangulation of the candidate pose with the
    // first image; -1.0 when no point intersects.
    double CandidateRms(const CProjectImage& candidate) const;

    CProjectImage& firstImage;
    CProjectImage& secondImage;
    CCamera& firstCamera;
    CCamera& secondCamera;
    CPointSet& points;
    double bx = 0.0, by = 0.0, bz = 0.0;
    double azimuth = 0.0, elevation = 0.0, roll = 0.0;
    double baseLength;
    int commonPointCount = 0;
    double correction = 0.0;
    double sigma0 = 0.0;
    std::vector<CommonPoint> common;
    // Set while Solve runs: the gathered common points stay valid.
    bool commonHeld = false;
};

// Conversions between the own dense matrix and Newmat's (1-based). The caller
// holds the Newmat lock.
void FillNewmatMatrix(NEWMAT::Matrix& m, double value);
void CopyToNewmat(const CMatrix& source, NEWMAT::Matrix& target);
void CopyFromNewmat(const NEWMAT::Matrix& source, CMatrix& target);
