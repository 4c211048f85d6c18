// Circular targets in object space: the least-squares model that fits
// centre, radius and unit normal of a circle to its image ellipses in
// several oriented images, and the computation that gives every point of a
// point set the normal and radius of its target.
#pragma once

#include <vector>

#include "LsqModel.h"

class CCameraList;
class CImageObservation;
class CObjectPoint;
class CPointSet;
class CProjectImage;
class CTargetEllipse;

// Unknowns: centre M (3), radius r, normal N (3). Each image contributes the
// five normalised conic coefficients of its ellipse as one group.
class CCircleTargetModelB : public CLsqModel
{
public:
    CCircleTargetModelB();

    void Init(const std::vector<const CImageObservation*>& observations,
              const std::vector<const CProjectImage*>& images, const CCameraList& cameras,
              const CObjectPoint& point, const double normal[3]);
    CVector GetNormal() const;
    double GetRadius() const { return radius; }

    int GetUnknownCount() const override { return 7; }
    int GetObservationCount() const override { return 5 * static_cast<int>(images.size()); }
    int GetConstraintCount() const override { return 1; }
    bool ComputeApproximations() override;
    void GetDesignRows(int i, CMatrix& A) override;
    void GetWeightMatrix(int i, CMatrix& P) override;
    void GetMisclosures(int i, CVector& l) override;
    void GetConstraintRows(int j, CMatrix& B) override;
    void EndIteration() override;
    void ApplyCorrections() override;
    void OnCovariance() override {}
    bool HasFiniteParameters() const override;

    // The five conic coefficients k1..k5 (k1 x^2 + k2 x y + k3 y^2 + k4 x +
    // k5 y = 1) of the image of the circle (centre M, unit normal N, radius
    // r) in an image of rotation R (object to camera), projection centre X0
    // and principal distance c, and their derivatives by M, r, N (5 x 7).
    // False when the conic is degenerate.
    static bool PredictConic(const double M[3], double r, const double N[3], const double R[3][3],
                             const double X0[3], double c, double k[5], double dk[5][7]);

    double centre[3] = {0.0, 0.0, 0.0};
    double radius = 0.0;
    double normal[3] = {0.0, 0.0, 1.0};
    double radiusSpread = 0.0;
    bool radiusCheck = true;

private:
    const CCameraList* cameras = nullptr;
    const CObjectPoint* point = nullptr;
    std::vector<const CImageObservation*> observations;
    std::vector<const CProjectImage*> images;
    double startNormal[3] = {0.0, 0.0, 1.0};
    CMatrix measured;       // m x 5
    CMatrixArray weights;   // m of 5 x 5
    CVector misclosure;     // of the current group
};

class CCircleTargetSolver
{
public:
    CCircleTargetSolver(const std::vector<const CProjectImage*>& images, CPointSet& points,
                        const CCameraList& cameras);

    // Processes every point; returns false.
    bool Run();
    bool ComputeCandidateNormals(const CImageObservation& observation, const CProjectImage& image,
                                 const CObjectPoint& point, CVector& na, CVector& nb);
    bool UndistortEllipse(const CImageObservation& observation, const CProjectImage& image,
                          CTargetEllipse& ellipse, bool normalise);
    // The two unit normals, in the camera frame, of the planes that cut the
    // cone through the projection centre and the ellipse in a circle.
    bool ComputeCameraNormals(const CTargetEllipse& ellipse, CVector& na, CVector& nb);
    // Turns the normal towards the image's projection centre.
    void FaceCamera(CVector& normal, const CObjectPoint& point, const CProjectImage& image);

private:
    std::vector<const CProjectImage*> images;
    CPointSet& points;
    const CCameraList& cameras;
};

// True when the ellipse has a 5 x 5 covariance that is positive definite.
bool HasUsableCovariance(const CTargetEllipse& ellipse);
