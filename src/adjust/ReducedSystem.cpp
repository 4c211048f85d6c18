// The reduced normal system that both foldings solve, its datum rows and
// held parameters, and the choice between the foldings.
#include <cstdio>

#include "AdjustmentEngine.h"
#include "FileIO.h"
#include "ProjectSettings.h"

// Which folding a run uses, and how a free network's datum enters it, is
// decided here and nowhere else.
const CAdjustmentEngine::FoldingScheme& CAdjustmentEngine::Scheme() const
{
    static const FoldingScheme freeStandard = {
        &CAdjustmentEngine::FormNormalsFreeStandard,   &CAdjustmentEngine::InvertFreeStandard,
        &CAdjustmentEngine::UpdateCamerasAndStations,  &CAdjustmentEngine::UpdatePointsStandard,
        &CAdjustmentEngine::ComputeCovariancesStandard, &CAdjustmentEngine::PropagateErrorsStandard,
        &CAdjustmentEngine::ComputeRmsStandardErrors,  true,
        false};
    static const FoldingScheme controlStandard = {
        &CAdjustmentEngine::FormNormalsControlStandard, &CAdjustmentEngine::InvertControl,
        &CAdjustmentEngine::UpdateCamerasAndStations,   &CAdjustmentEngine::UpdatePointsStandard,
        &CAdjustmentEngine::ComputeCovariancesStandard, &CAdjustmentEngine::PropagateErrorsStandard,
        &CAdjustmentEngine::ComputeRmsStandardErrors,   false,
        false};
    static const FoldingScheme freeReverse = {
        &CAdjustmentEngine::FormNormalsReverse,        &CAdjustmentEngine::InvertFreeReverse,
        &CAdjustmentEngine::UpdateCamerasAndPoints,    &CAdjustmentEngine::UpdateStationsReverse,
        &CAdjustmentEngine::ComputeCovariancesReverse, &CAdjustmentEngine::PropagateErrorsReverse,
        &CAdjustmentEngine::ComputeRmsStandardErrorsReverse, false,
        true};
    static const FoldingScheme controlReverse = {
        &CAdjustmentEngine::FormNormalsReverse,        &CAdjustmentEngine::InvertControl,
        &CAdjustmentEngine::UpdateCamerasAndPoints,    &CAdjustmentEngine::UpdateStationsReverse,
        &CAdjustmentEngine::ComputeCovariancesReverse, &CAdjustmentEngine::PropagateErrorsReverse,
        &CAdjustmentEngine::ComputeRmsStandardErrorsReverse, false,
        true};
    if (settings->standardFolding)
        return settings->freeNetwork ? freeStandard : controlStandard;
    return settings->freeNetwork ? freeReverse : controlReverse;
}

bool CAdjustmentEngine::InvertControl()
{
    return normals->InvertSymmetric(true, GetWorkerCount());
}

bool CAdjustmentEngine::AllocateReducedSystem()
{
    const bool freeStandard = Scheme().borderedDatum;
    const double order = static_cast<double>(reducedCount) + 1.0;
    // The packed system and the working copy its inversion takes; the
    // bordered system and the datum block of a free network folded the
    // standard way.
    double doubles = order * (order + 1.0);
    if (freeStandard) {
        const double b = static_cast<double>(reducedCount) + 8.0;
        doubles += b * (b + 1.0) / 2.0 + 7.0 * reducedCount;
    }
    const double bytes = doubles * sizeof(double);
    const double physical = GetPhysicalMemoryBytes();
    if (reducedCount < 0 || order > 2.0e9 || (physical > 0.0 && bytes > physical)) {
        char text[200];
        std::snprintf(text, sizeof text,
                      "Adjustment failed: the reduced normal system of %d unknowns needs %.1f GB of memory, "
                      "more than this computer has",
                      reducedCount, bytes / 1e9);
        return Fail(text);
    }
    normals = new CMatrix(reducedCount + 1, -1);
    bool ok = normals->GetRows() == reducedCount + 1;
    solution.Resize(0);
    if (freeStandard) {
        bordered = new CMatrix(reducedCount + 8, -1);
        datum = new CMatrix(7, reducedCount);
        ok = ok && bordered->GetRows() == reducedCount + 8 && datum->GetRows() == 7 &&
             solution.Resize(reducedCount + 7);
    } else {
        ok = ok && solution.Resize(reducedCount);
    }
    if (!ok) {
        DeleteMatrices();
        return Fail("Adjustment failed: not enough memory for the reduced normal system");
    }
    solution.Zero();
    return true;
}

int CAdjustmentEngine::GetFreeDatumRows() const
{
    return freeDatumRows;
}

void CAdjustmentEngine::ChooseFreeDatumRows()
{
    freeDatumRows = 7;
    if (settings->freeNetwork && settings->rigorousScale && CountUsableScaleBars() > 0)
        freeDatumRows = 6;
}

// Zero row and column with a unit pivot: the parameter gets no correction
// and the others are solved as if it were fixed.
void CAdjustmentEngine::HoldReducedParameter(int index)
{
    double* const* T = normals->GetRowTable();
    for (int k = 0; k < index; ++k)
        T[k][index - k] = 0.0;
    const int length = normals->GetRowLength(index);
    for (int j = 0; j < length; ++j)
        T[index][j] = 0.0;
    T[index][0] = 1.0;
}

