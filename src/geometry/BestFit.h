// Best fits of geometric shapes to the selected points of a point set, by
// iterated least squares with a simple rejection of outlying points. A fit
// holds pointers to the points (it never owns them) and keeps its rejected
// flags in the points' status byte.
#pragma once

#include <vector>

#include "ObjectPointArray.h"

// String-table ids of the outcome messages.
namespace BestFitOutcome {
enum : int {
    IDS_INSUFFICIENT_POINTS = 32677,
    IDS_ADJUSTMENT_FAILED = 32678,
    IDS_ADJUSTMENT_DIVERGING = 32679,
    IDS_BESTFIT_PLANE_FAILED = 32680
};
} // namespace BestFitOutcome

// The text of an outcome id ("" for an unknown id).
const char* BestFitOutcomeText(int id);

class CBestFit {
public:
    // Every selected point of the list, in list order.
    explicit CBestFit(const CObjectPointList& source);
    // Every point of the array.
    explicit CBestFit(const CObjectPointArray& source);
    virtual ~CBestFit() = default;
    CBestFit(const CBestFit&) = delete;
    CBestFit& operator=(const CBestFit&) = delete;

    virtual bool Fit() = 0;
    virtual bool ComputeApproximation() = 0;
    virtual bool Adjust() = 0;
    virtual bool RejectPoints() = 0;

    int GetPointCount() const { return points.GetSize(); }
    CObjectPoint* GetPoint(int i) const { return points.GetAt(i); }
    int GetRejectedCount() const { return points.GetRejectedCount(); }
    bool IsRejected(int i) const { return CObjectPointArray::IsRejected(*points.GetAt(i)); }

    int GetIterations() const { return iteration; }
    double GetRms() const { return rms; }
    double GetCutoff() const { return cutoff; }
    int GetOutcomeId() const { return outcomeId; }

    int maxIterations = 20;
    double initialCutoff = 1000.0;

protected:
    // Records the outcome id and returns false.
    bool Fail(int id)
    {
        outcomeId = id;
        return false;
    }

    CObjectPointArray points;
    int iteration = 0;
    double cutoff = 0.0;
    double rms = 0.0;
    int outcomeId = 0;
};

// The plane A·X + B·Y + C·Z + D = 0 with a unit normal.
class CBestFitPlane : public CBestFit {
public:
    explicit CBestFitPlane(const CObjectPointList& source);
    explicit CBestFitPlane(const CObjectPointArray& source);

    bool Fit() override;
    bool ComputeApproximation() override;
    bool Adjust() override;
    bool RejectPoints() override;
    bool ComputeResiduals();

    // Signed distance of point i from the plane.
    double GetResidual(int i) const { return residuals[static_cast<size_t>(i)]; }

    double A = 0.0, B = 0.0, C = 0.0, D = 0.0;

protected:
    std::vector<double> residuals;
};
