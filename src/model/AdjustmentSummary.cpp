#include "AdjustmentSummary.h"

CAdjustmentSummary::CAdjustmentSummary()
{
    Reset();
}

void CAdjustmentSummary::Reset()
{
    status = 0;
    iterations = 0;
    observations = 0;
    constraints = 0;
    parameters = 0;
    sigma0 = 0.0;
    finalRejectionLimit = 0.0;
    vv = 0.0;
    elapsed = 0.0;
    usedPoints = 0;
    rms = 0.0;
    for (int axis = 0; axis < 3; ++axis) {
        rmsLimiting[axis] = 0.0;
        rmsTotal[axis] = 0.0;
        for (int k = 0; k < 4; ++k)
            extremes[k][axis] = 0.0;
    }
}

void CAdjustmentSummary::Copy(const CAdjustmentSummary& other)
{
    status = other.status;
    iterations = other.iterations;
    observations = other.observations;
    constraints = other.constraints;
    parameters = other.parameters;
    sigma0 = other.sigma0;
    finalRejectionLimit = other.finalRejectionLimit;
    vv = other.vv;
    elapsed = other.elapsed;
    usedPoints = other.usedPoints;
    rms = other.rms;
    for (int axis = 0; axis < 3; ++axis) {
        rmsLimiting[axis] = other.rmsLimiting[axis];
        rmsTotal[axis] = other.rmsTotal[axis];
        for (int k = 0; k < 4; ++k)
            extremes[k][axis] = other.extremes[k][axis];
    }
}
