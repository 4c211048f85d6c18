#include "BundleJob.h"

#include "AdjustmentSummary.h"

CBundleJob::CBundleJob(CImagePtrArray* images, CPointSet* points, CPointSet* control, CCameraList* cameras,
                       CScaleBarList* scaleBars, CProjectSettings* settings, CAdjustmentSummary* summary)
    : engine(images, points, control, cameras, scaleBars, settings, summary)
{
}

CBundleJob::~CBundleJob()
{
    if (thread.IsActive())
        engine.progress.RequestAbort();
    thread.Join();
}

unsigned CBundleJob::ThreadProc(void* job)
{
    CAdjustmentEngine& engine = static_cast<CBundleJob*>(job)->engine;
    try {
        engine.RunBundle();
    } catch (...) {
        if (engine.summary != nullptr)
            engine.summary->status = BUNDLE_FAILED;
        engine.SetFailureReason("Adjustment failed: the run stopped on an unexpected error");
    }
    engine.progress.SetDone();
    return 0;
}

bool CBundleJob::StartThread()
{
    if (thread.IsActive())
        return false;
    thread.Join();
    engine.progress.done.store(false, std::memory_order_relaxed);
    return thread.Start([this]() { return ThreadProc(this); });
}
