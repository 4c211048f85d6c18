// A bundle adjustment that runs on a worker thread. The starter keeps the
// job, polls the thread's exit code and reads the engine's progress record;
// it writes only the abort request.
#pragma once

#include "AdjustmentEngine.h"
#include "WorkerThread.h"

class CBundleJob {
public:
    CBundleJob(CImagePtrArray* images, CPointSet* points, CPointSet* control, CCameraList* cameras,
               CScaleBarList* scaleBars, CProjectSettings* settings, CAdjustmentSummary* summary);
    // Asks a running adjustment to stop and waits for its thread.
    virtual ~CBundleJob();
    CBundleJob(const CBundleJob&) = delete;
    CBundleJob& operator=(const CBundleJob&) = delete;

    // Runs the engine's RunBundle; the done flag is set whatever happens,
    // and an exception that escapes the run ends it with status 2.
    static unsigned ThreadProc(void* job);

    // Starts the run on a new thread; false when a run is still going or no
    // thread could be started.
    bool StartThread();
    // STILL_ACTIVE while the run goes on, then 0.
    unsigned GetExitCode() const { return thread.GetExitCode(); }
    void Join() { thread.Join(); }

    CAdjustmentEngine& GetEngine() { return engine; }
    CAdjustmentProgress& GetProgress() { return engine.progress; }

private:
    CAdjustmentEngine engine;
    CWorkerThread thread; // declared after the engine: joined before it goes
};
