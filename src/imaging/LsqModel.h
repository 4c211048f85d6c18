// Iterative Gauss-Markov adjustment with optional linear constraints, solved
// through a bordered normal-equation system. A concrete model supplies its
// counts, approximations, design rows, weights, misclosures and constraint
// rows and applies the corrections to its own parameters.
#pragma once

#include "Matrix.h"
#include "Vector.h"

class CLsqModel
{
public:
    CLsqModel();
    virtual ~CLsqModel();
    CLsqModel(const CLsqModel&) = delete;
    CLsqModel& operator=(const CLsqModel&) = delete;

    // True when the adjustment converged with finite parameters and sigma0.
    virtual bool Solve();
    // Reads the counts and sizes the work arrays.
    virtual void Setup();

    virtual int GetUnknownCount() const = 0;
    virtual int GetObservationCount() const = 0;
    virtual int GetConstraintCount() const = 0;
    virtual bool ComputeApproximations() = 0;
    // Sizes A to m x u and fills the derivatives of the group starting at i.
    virtual void GetDesignRows(int i, CMatrix& A) = 0;
    virtual void GetSigma(int i, double& sigma);
    virtual void GetWeightMatrix(int i, CMatrix& P);
    virtual void GetMisclosures(int i, CVector& l) = 0;
    virtual void GetConstraintRows(int j, CMatrix& B);
    virtual bool BuildNormalEquations();
    // Sum of v'Pv over the groups from observation first to last (-1: n - 1).
    virtual double SumWeightedSquares(const CVector& v, int first, int last);
    virtual void BeginIteration();
    virtual void EndIteration();
    virtual bool HasConverged(double q);
    virtual bool HasDiverged(double q);
    virtual void ApplyCorrections() = 0;
    virtual void OnCovariance() = 0;
    // False when a parameter of the model is not finite.
    virtual bool HasFiniteParameters() const { return true; }

    // The residuals -l of every group at the current parameters.
    void ComputeResiduals(CVector& v);

    // Bordered normal matrix of order u + c + 1; after a converged solution
    // with covariance its top-left u x u block is the covariance matrix.
    CMatrix normals;
    CVector rhs;
    CVector corrections;
    CVector savedCorrections;
    double correctionNorm = -1.0;
    double previousCorrectionNorm = -1.0;
    int unknownCount = 0;
    int constraintCount = 0;
    int redundancy = 0;
    int observationCount = 0;
    int iteration = 0;
    int maxIterations = 10;
    bool converged = false;
    bool normalsFresh = false;
    bool initialised = false;
    bool wantCovariance = true;
    bool fullWeights = false;
    // Set once the normal matrix holds the covariance of the last solution.
    bool covarianceReady = false;
    double sigma0 = -1.0;
    double tolerance = 0.005;
    double divergenceLimit = 10.0;

private:
    // Weight matrix of the group at i (m x m) for its m observations.
    void GroupWeights(int i, int m, CMatrix& P);
    bool Factorise();
};
