// Seven-parameter 3D similarity transformation between a control point set
// and a set to transform, adjusted over the points both share by label.
// Model: Xs = s * R^T * Xc + T; transformed points Xc' = (1/s) * R * (Xs - T).
#pragma once

#include <vector>

#include "DynString.h"
#include "NameBuffer.h"

class CObjectPoint;
class CPointSet;

// Outcome ids of the transformation and of the adjustments of the geometry tools.
namespace SimilarityOutcome {
enum : int {
    IDS_NOT_ENOUGH_COMMON_POINTS = 32672,
    IDS_APPROXIMATION_FAILED = 32673,
    IDS_MAX_ITERATIONS_EXCEEDED = 32674,
    IDS_TOO_MANY_REJECTED = 32675,
    IDS_ADJUSTMENT_SUCCESSFUL = 32676,
    IDS_INSUFFICIENT_POINTS = 32677,
    IDS_ADJUSTMENT_FAILED = 32678,
    IDS_ADJUSTMENT_DIVERGING = 32679,
    IDS_BEST_FIT_PLANE_FAILED = 32680
};
} // namespace SimilarityOutcome

// The text of an outcome id; "" for an unknown id.
const char* GeometryStatusText(int id);

// Rotation matrix R(omega, phi, kappa), row-major.
void BuildRotation(double omega, double phi, double kappa, double r[3][3]);
// The angles read back from R (finite at phi = +-90 degrees).
void ReadAngles(const double r[3][3], double& omega, double& phi, double& kappa);

// One common point of the two sets.
class CTransformPointPair {
public:
    CTransformPointPair(CObjectPoint* point, CObjectPoint* control) : point(point), control(control) {}

    CNameBuffer GetLabel() const;
    // Marks the pair rejected when a residual exceeds the cutoff; always 1.
    int CheckResidual(double cutoff);

    CObjectPoint* point;   // in the set to transform, not owned
    CObjectPoint* control; // in the control set, not owned
    double VX = 0.0, VY = 0.0, VZ = 0.0;
    double DX = 0.0, DY = 0.0, DZ = 0.0;
    int rejected = 0;
};

class CTransformPointPairList {
public:
    CTransformPointPairList() = default;
    ~CTransformPointPairList() { RemoveAll(); }
    CTransformPointPairList(const CTransformPointPairList&) = delete;
    CTransformPointPairList& operator=(const CTransformPointPairList&) = delete;

    int GetSize() const { return static_cast<int>(pairs.size()); }
    CTransformPointPair* GetAt(int i) const { return pairs[static_cast<size_t>(i)]; }
    void Add(CTransformPointPair* pair) { pairs.push_back(pair); }
    // Deletes every pair, last first.
    void RemoveAll();

private:
    std::vector<CTransformPointPair*> pairs;
};

class C3DTransformation {
public:
    C3DTransformation(CPointSet* toTransform, CPointSet* control, CPointSet* result);
    ~C3DTransformation() = default;
    C3DTransformation(const C3DTransformation&) = delete;
    C3DTransformation& operator=(const C3DTransformation&) = delete;

    int Reset();
    bool Compute();

    int GetCommonPointCount() const { return pairs.GetSize(); }
    int GetRejectedCount() const;
    CTransformPointPair* GetPair(int i) const { return pairs.GetAt(i); }
    CNameBuffer GetPairLabel(int i) const { return pairs.GetAt(i)->GetLabel(); }
    CDynString GetControlSetName() const;
    CDynString GetTransformSetName() const;
    CDynString GetResultSetName() const;

    double GetOmega() const;
    double GetPhi() const;
    double GetKappa() const;

    // Written by the dialog before Compute.
    double cutoff = 100.0;
    int fixedScale = 0;

    double X0 = 0.0, Y0 = 0.0, Z0 = 0.0;
    double scale = 1.0;
    double R[3][3] = {};
    double sigma[7] = {};       // X0, Y0, Z0, s, omega, phi, kappa
    double totalCorrection[7] = {};
    double residualRms[4] = {}; // VX, VY, VZ, XYZ over accepted pairs
    double discrepancyRms[4] = {};    // accepted pairs
    double discrepancyRmsAll[4] = {}; // all pairs
    double sigma0 = 0.0;
    double rms = 0.0;
    int iterations = 0;
    int maxIterations = 30;
    int statusId = 0;

private:
    void BuildPointPairs();
    bool ComputeApproximateScale();
    bool ComputeApproximateRotationTranslation();
    bool ComputeClosedForm(bool withScale);
    bool Adjust();
    void ComputeTransformedSet();
    void ComputeDiscrepancies();

    CPointSet* control;
    CPointSet* toTransform;
    CPointSet* result;
    CTransformPointPairList pairs;
};
