// A stand-alone triangulation of all points over oriented images: merge of
// the observations, intersection of every point with standard errors, the
// report "Triangulate.txt" and the statistics of the standard errors. Runs
// on the caller's thread.
#pragma once

#include "AdjustmentEngine.h"
#include "ScaleBar.h"

class CTriangulationJob {
public:
    // The job references the objects and owns none of them.
    CTriangulationJob(CImagePtrArray& images, CPointSet& points, CCameraList& cameras, CProjectSettings& settings,
                      CAdjustmentSummary& summary);
    virtual ~CTriangulationJob();
    CTriangulationJob(const CTriangulationJob&) = delete;
    CTriangulationJob& operator=(const CTriangulationJob&) = delete;

    // False when the merge fails; otherwise true with the number of
    // intersected points and their overall RMS in mm (-1.0 when none).
    bool Run(int& count, double& rms);
    // Writes "Triangulate.txt" beside the project file; false when it cannot
    // be written or the settings name no project folder.
    bool WriteReport();
    // RMS, largest and smallest total standard errors per axis, with the
    // labels of their points, into the summary. Always true.
    bool ComputeStatistics();

    CAdjustmentEngine& GetEngine() { return engine; }

private:
    CScaleBarList noScaleBars;
    CAdjustmentEngine engine;
};
